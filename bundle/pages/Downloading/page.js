var downloadProgress = null;
var skipInstalled = true;

function failDownload(code) {
    setProp("Config_Status", code === Config_ErrorHandle.HaveInstalled ? Config_Status.COMPLETED : Config_Status.STUB_FAILED);
    if (Config_Essential) {
        Navigator.gotoErrorPage(getErrorText(code));
        return true;
    }
    appExternal.messageBox(getErrorText(code), getText("error"));
    return false;
}

function downloadFinished() {
    downloadProgress.finish();
    // nothing left to pause while the page waits to move on
    ButtonConttoller.disable("#pauseButton");
    window.setTimeout(function () {
        if (isPropTrue("isDownloadOnly")) {
            setProp("Config_Status", Config_Status.DOWNLOADED);
            Navigator.goSpecifiedPage("Finish");
        } else if (isSilent() || getProp("InstallMode") === "Complete") {
            Navigator.goSpecifiedPage("Installing");
        } else {
            Navigator.nextPage();
        }
    }, 1000);
}

function advance() {
    if (Jobs.next()) {
        downloadCurrentFile();
    } else {
        downloadFinished();
    }
}

function onDownloadResult(status, total, current) {
    if (status === Config_ErrorHandle.Running) {
        downloadProgress.update(total, current);
        return;
    }
    if (status === Config_ErrorHandle.Abort) {
        notifyFinalStatus(Config_Status.CANCEL);
        downloadProgress.stop();
        return;
    }
    if (status !== Config_ErrorHandle.NoError) {
        if (failDownload(status)) {
            downloadProgress.stop();
            return;
        }
    }
    advance();
}

function downloadCurrentFile() {
    var file = Jobs.currentFile();
    if (Jobs.isNewJob()) {
        downloadProgress.start();
    }
    downloadProgress.update(0, 0);
    var path = joinPath(getProp("downloadPath"), file.name);
    ensureFolder(parentFolder(path));
    appExternal.download(file.url, path, Feature_IsCrcCheck ? String(file.crc || "") : "",
        Feature_IsSecureDownload, Feature_DownloadMode === "ResumableSimple", onDownloadResult);
}

// A folder that cannot be made shows up as the download's own error.
function ensureFolder(folder) {
    if (folder === "") {
        return false;
    }
    return appExternal.isFileExists(folder) || appExternal.createDirectory(folder);
}

// Files listed without a size are asked for theirs before the totals are computed.
function sizeUnknownFiles() {
    for (var j = 0; j < Jobs.jobs.length; j++) {
        var components = Jobs.jobs[j].components;
        for (var c = 0; c < components.length; c++) {
            var files = components[c].files;
            for (var f = 0; f < files.length; f++) {
                if (!toNumber(files[f].size)) {
                    var path = joinPath(getProp("downloadPath"), files[f].name);
                    ensureFolder(parentFolder(path));
                    appExternal.initDownloadSize(files[f].url, path, true);
                    files[f].size = toNumber(getProp("downloadTotal"));
                }
            }
        }
    }
    Jobs.computeTotals();
}

function startDownloadStep() {
    var restart = appExternal.getResumeMode() !== Config_ResumeMode.NONE;
    Config_Steps.Current = Config_Steps.Download;
    skipInstalled = getProp("IsSkipInstalled") !== "false";
    Jobs.setJobs({ install: false, skipInstalled: skipInstalled, restart: restart });
    if (Jobs.isEmpty()) {
        failDownload(skipInstalled ? Config_ErrorHandle.HaveInstalled : Config_ErrorHandle.FileNotExist);
        return;
    }
    sizeUnknownFiles();
    downloadCurrentFile();
}

function pageStart() {
    initPageFrame("Downloading_Close", function () {
        trackUserActivity("Downloading_Close");
        appExternal.stopDownload();
        notifyFinalStatus(Config_Status.CANCEL);
        closeApp();
    });
    downloadProgress = new InstallProgress("download", 500);
    if (appExternal.getResumeMode() === Config_ResumeMode.DOWNLOADING) {
        resume();
        applyLanguageTexts();
    }
    if (isPropTrue("isISO")) {
        Navigator.nextPage();
        return;
    }
    if (Feature_IsBillBoardsEnabled) {
        new BillboardController("#billboards", Feature_BillboardSwitchInterval).start();
    } else {
        $("#billboards").hide();
    }
    if (!Feature_CheckingProgressBar) {
        $("#progressPanel").hide();
    }
    if (Feature_IsDestinationHide) {
        $("#destination").hide();
    }
    if (getProp("downloadPath") === "") {
        var folder = defaultFolder(Feature_DownloadDirMode, "");
        setProp("downloadPath", folder);
        Jobs.setJobs({ install: false, skipInstalled: true, restart: false });
        if (Jobs.requiredBytes(folder, true) > getAvailableSpace(folder)) {
            setProp("Config_Status", Config_Status.STUB_FAILED);
            Navigator.gotoErrorPage(getText("diskFull"));
            return;
        }
    }
    $("#destinationPath").text(getProp("downloadPath"));
    $("#startButton").hide();
    ButtonConttoller.bind("#pauseButton", function () {
        trackUserActivity("Downloading_Pause");
        appExternal.stopDownload();
        $("#pauseButton").hide();
        $("#startButton").show().focus();
    });
    ButtonConttoller.bind("#startButton", function () {
        trackUserActivity("Downloading_Start");
        $("#startButton").hide();
        $("#pauseButton").show().focus();
        startDownloadStep();
    });
    startDownloadStep();
}
