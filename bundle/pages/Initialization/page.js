function initializationDone() {
    window.setTimeout(function () {
        var main = Config_ModifyRepairRemove && mainComponentInstalled();
        if (main) {
            trackUserActivity("Initialization_UserOption");
            Navigator.goSpecifiedPage("UserOption");
        } else {
            Navigator.nextPage();
        }
    }, Feature_ShowPageTime);
}

function mainComponentInstalled() {
    var list = getComponentList();
    for (var i = 0; i < list.length; i++) {
        if (!hasFlag(list[i], ComponentType.Prerequiste) && isRegistryPresent(list[i])) {
            return true;
        }
    }
    return false;
}

function pageStart() {
    initializeDefaultLang();
    initPageFrame("Initialization_Close");
    if (Feature_IsBillBoardsEnabled) {
        new BillboardController("#billboards", Feature_BillboardSwitchInterval).start();
    }
    if (Feature_HideProgressbar) {
        $("#progressPanel").hide();
    }
    setProp("isISO", Feature_IsISO ? "true" : "false");
    if (Config_CheckPrerequiste) {
        checkPrerequisites();
    }
    if (!Config_MultiDownload) {
        initializationDone();
        return;
    }
    var url = installParams.DOWNLOAD_URL;
    var target = appExternal.getResourceLocation() + "config\\" + url.replace(/^.*\//, "");
    appExternal.updateInstallerList(url, target, false, false, function (status) {
        // A list the publisher did not sign is an attack, not an outage: no install goes on.
        if (status === Config_ErrorHandle.Md5Error) {
            setProp("Config_Status", Config_Status.STUB_FAILED);
            Navigator.gotoErrorPage(getErrorText(status));
        } else if (status !== Config_ErrorHandle.Running) {
            initializationDone();
        }
    });
}
