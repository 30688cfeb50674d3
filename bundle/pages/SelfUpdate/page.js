var updateTimer = null;

function continueWithoutUpdate() {
    HdpiController.windowSize(PAGE_WIDTH, PAGE_HEIGHT);
    var mode = appExternal.getResumeMode();
    var page = mode === Config_ResumeMode.DOWNLOADING ? "Downloading"
        : mode === Config_ResumeMode.INSTALLING ? "Installing" : "Welcome";
    window.location.href = "../" + page + "/page.html";
}

function showUpdateProgress() {
    var total = toNumber(getProp("downloadTotal")), current = toNumber(getProp("downloadCurrent"));
    if (total > 0) {
        var percent = Math.min(100, Math.floor(current * 100 / total));
        $("#progressFill").css("width", percent + "%");
        showProgressValue(percent);
    }
}

function pageStart() {
    applyLanguageTexts();
    HdpiController.apply();
    appExternal.setWindowSize(464, 124);
    window.setTimeout(function () {
        var url = installParams.UPDATE_STUB_URL;
        var needed = appExternal.isNeedSelfUpdate(url);
        if (!needed) {
            continueWithoutUpdate();
            return;
        }
        updateTimer = window.setInterval(showUpdateProgress, 400);
        appExternal.selfUpdate(url, function (status) {
            if (status === Config_ErrorHandle.Running) {
                return;
            }
            window.clearInterval(updateTimer);
            if (status !== Config_ErrorHandle.NoError) {
                appExternal.messageBox(getText("updateErrorText"), getText("error"));
            }
            closeApp();
        });
    }, 1000);
}
