function leaveFinish(activity) {
    trackUserActivity(activity);
    var program = getProp("startProgram");
    if (program !== "") {
        if (Feature_ThankYouPage) {
            openThankYouPage();
        }
        if (Feature_LaunchApplicationCheckbox && $("#launchBox").prop("checked")) {
            appExternal.startProgram(program, "");
        }
    }
    closeApp();
}

function pageStart() {
    notifyFinalStatus(storedStatus());
    if (isSilent()) {
        closeApp();
        return;
    }
    appExternal.showWindow();
    initPageFrame("Finish_Close", function () { leaveFinish("Finish_Close"); });
    var option = getProp("uninstallOption");
    if (option !== "") {
        $("#header .subtitle").text(getText(option === "Repair" ? "repairFinishText" : "uninstallFinishText"));
    } else if (isPropTrue("isDownloadOnly")) {
        $("#header h1").text(getText("downloadFinishTitle"));
        $("#header .subtitle").text(getText("downloadFinishText"));
    }
    var canLaunch = getProp("startProgram") !== "";
    $("#launchRow").toggle(Feature_LaunchApplicationCheckbox && canLaunch);
    $("#launchButton").toggle(Feature_LaunchApplicationButton === true && canLaunch);
    ButtonConttoller.bind("#launchButton", function () {
        trackUserActivity("Finish_Launch");
        appExternal.startProgram(getProp("startProgram"), "");
    });
    ButtonConttoller.bind("#finishButton", function () { leaveFinish("Finish_Finish"); });
}
