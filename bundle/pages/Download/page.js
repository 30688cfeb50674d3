function chooseArchitecture() {
    var is64 = getProp("osbits") === "64" && !getMSOfficeReg(false);
    setProp("isDownload64", is64 ? "true" : "false");
    var list = getComponentList(), flag = is64 ? ComponentType.X64 : ComponentType.X86;
    for (var i = 0; i < list.length; i++) {
        var c = list[i];
        if (!hasFlag(c, ComponentType.Prerequiste) && hasFlag(c, flag) && (!c.sku || c.sku === EDITION_IN_USE)) {
            setProp(c.name + (is64 ? "64" : "32"), "true");
        }
    }
}

function initialFolder() {
    var folder = getProp("downloadPath");
    return folder !== "" ? folder : defaultFolder(Feature_DownloadDirMode, Feature_DefaultDownloadDir);
}

// Shows the space lines and enables the download buttons only when the folder can take the files.
function refreshFolder() {
    var folder = $.trim($("#folderInput").val());
    setProp("downloadPath", folder);
    var valid = /^[A-Za-z]:\\/.test(folder);
    $("#pathInvalid").toggle(!valid);
    var enough = valid;
    if (valid && Feature_DiskspaceCheck) {
        Jobs.setJobs({ install: false, skipInstalled: false, restart: false });
        var required = Jobs.requiredBytes(folder, isPropTrue("IsSkipInstalled"));
        var available = getAvailableSpace(folder);
        enough = required <= available;
        $("#requiredSpace").text(getText("requiredSpaceText").replace("$reqSpace", getFormatSize(required)));
        $("#availableSpace").text(getText("availableSpaceText").replace("$avaSpace", getFormatSize(available)))
            .toggleClass("warning", !enough);
    }
    ButtonConttoller.enable("#downloadOnlyButton", enough);
    ButtonConttoller.enable("#downloadInstallButton", enough);
    return enough;
}

function startDownload(downloadOnly, activity) {
    var folder = getProp("downloadPath");
    if (!validatePath(folder)) {
        $("#pathInvalid").show();
        return;
    }
    trackUserActivity(activity);
    setProp("isDownloadOnly", downloadOnly ? "true" : "false");
    Navigator.nextPage();
}

function pageStart() {
    initPageFrame("Download_Close");
    if (isPropTrue("isISO")) {
        Navigator.nextPage();
        return;
    }
    setProp("IsSkipInstalled", "false");
    chooseArchitecture();
    $("#folderInput").val(initialFolder());
    if (Feature_IsHideBackButton) {
        $("#backButton").hide();
    }
    refreshFolder();
    $("#folderInput").on("change keyup", refreshFolder);
    ButtonConttoller.bind("#browseButton", function () {
        trackUserActivity("Download_Browse");
        var chosen = appExternal.selectFolder($("#folderInput").val());
        $("#folderInput").val(chosen);
        refreshFolder();
    });
    ButtonConttoller.bind("#backButton", function () {
        trackUserActivity("Download_Back");
        Navigator.previousPage();
    });
    ButtonConttoller.bind("#downloadOnlyButton", function () {
        startDownload(true, "Download_DownloadOnly");
    });
    ButtonConttoller.bind("#downloadInstallButton", function () {
        startDownload(false, "Download_Download/Install");
    });
    if (isSilent() || getProp("InstallMode") === "Complete") {
        startDownload(false, "Download_Download/Install");
    }
}
