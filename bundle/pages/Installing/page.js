var installProgress = null;
var restartMode = false;
var deferredReboot = false;
var installStatus = Config_Status.COMPLETED;

function failInstall(code) {
    installStatus = code === Config_ErrorHandle.HaveInstalled ? Config_Status.COMPLETED : Config_Status.ERROR;
    setProp("Config_Status", installStatus);
    if (Config_Essential) {
        installProgress.stop();
        Navigator.gotoErrorPage(getErrorText(code));
        return true;
    }
    appExternal.messageBox(getErrorText(code), getText("error"));
    return false;
}

function rebootNow() {
    prepareResume("INSTALLING");
    appExternal.restartSystem(getText("restartInformation"), getText("information"));
    appExternal.terminateWindow();
}

// The install folder ("installPath") is not added here: the stub quotes it for the installer.
function packageParameters(file) {
    var params = String(file.param);
    if (fileExtension(file.name) === ".msi" && installParams.EXE_PARAMETERS) {
        params += " " + installParams.EXE_PARAMETERS;
    }
    return replaceParams(params);
}

function packagePath(file) {
    if (isPropTrue("isISO")) {
        var folder = getProp("PackagePath");
        if (folder === "") {
            folder = appExternal.getCurrentPath() + "\\";
        }
        return folder + String(file.name).replace(/\//g, "\\");
    }
    return joinPath(getProp("downloadPath"), file.name);
}

function componentSucceeded(component) {
    if (component.program && component.registry) {
        var folder = String(appExternal.getDataFromReg(component.registry.key, component.registry.value) || "");
        if (folder.length >= 3) {
            setProp("startProgram", joinPath(folder, component.program));
            ButtonConttoller.enable("#launchButton", true);
        }
    }
    if (Config_ModifyRepairRemove && component.productCode && !hasFlag(component, ComponentType.Prerequiste)) {
        appExternal.setUninstallRegistryFromStub(component.productCode, isPropTrue("isDownload64"));
    }
}

function installFinished() {
    installProgress.finish();
    if (deferredReboot) {
        rebootNow();
        return;
    }
    setProp("Config_Status", installStatus);
    window.setTimeout(function () { Navigator.nextPage(); }, 3000);
}

function onInstallResult(status, total, current) {
    if (status === Config_ErrorHandle.Running) {
        installProgress.update(total, current);
        return;
    }
    var component = Jobs.currentComponent();
    updateComponents(component.name);
    if (status === Config_ErrorHandle.Reboot) {
        if (Feature_DeferRebootToEnd) {
            deferredReboot = true;
            status = Config_ErrorHandle.NoError;
        } else if (Feature_RestartHandler) {
            rebootNow();
            return;
        }
    }
    if (status !== Config_ErrorHandle.NoError && status !== Config_ErrorHandle.Reboot) {
        // 1638: another version of the product is already installed. Only an installer's own
        // answer says so (the stub maps it to UnknowError); a package refused before any
        // installer ran is a failure whatever code an earlier package left.
        if (status === Config_ErrorHandle.UnknowError && appExternal.getLastInstallError() === 1638) {
            status = Config_ErrorHandle.NoError;
        } else if (failInstall(status)) {
            return;
        }
    }
    if (status === Config_ErrorHandle.NoError) {
        componentSucceeded(component);
    }
    if (Jobs.next()) {
        installCurrentFile();
    } else {
        installFinished();
    }
}

function installCurrentFile() {
    var file = Jobs.currentFile();
    if (Jobs.isNewJob()) {
        installProgress.start();
    }
    installProgress.update(0, 0);
    appExternal.install(packagePath(file), packageParameters(file),
        Math.floor(toNumber(Jobs.currentComponent().estimatedTime)), onInstallResult);
}

function pageStart() {
    appExternal.showWindow();
    var mode = appExternal.getResumeMode();
    restartMode = mode !== Config_ResumeMode.NONE;
    if (mode === Config_ResumeMode.INSTALLING) {
        resume();
    }
    initPageFrame("Installing_Close");
    installProgress = new InstallProgress("install", 200);
    if (Feature_LaunchApplicationButton === "Disable") {
        $("#launchButton").hide();
    }
    if (!Feature_CheckingProgressBar) {
        $("#progressPanel").hide();
    }
    if (!Feature_IsBillBoardsEnabled) {
        $("#billboards").hide();
    } else {
        new BillboardController("#billboards", Feature_BillboardSwitchInterval).start();
    }
    ButtonConttoller.bind("#launchButton", function () {
        trackUserActivity("Installing_Launch");
        appExternal.startProgram(getProp("startProgram"), "");
    });
    setProp("Config_Status", "");
    Config_Steps.Current = Config_Steps.Install;
    setProp("LANG_ID", languageIdOf(getProp("lang")));
    var base = appExternal.getBaseRegKey();
    appExternal.setDataToReg(base, "InstallPath", getProp("installPath"), true);
    appExternal.setDataToReg(base, "DownloadPath", getProp("downloadPath"), true);

    var skip = getProp("IsSkipInstalled") !== "false";
    Jobs.setJobs({ install: true, skipInstalled: skip, restart: restartMode });
    if (Jobs.isEmpty()) {
        if (restartMode) {
            // everything was installed before the restart: the run completed, it was not cancelled
            setProp("Config_Status", installStatus);
            Navigator.nextPage();
        } else {
            failInstall(skip ? Config_ErrorHandle.HaveInstalled : Config_ErrorHandle.FileNotExist);
        }
        return;
    }
    installCurrentFile();
}
