function pageStart() {
    notifyFinalStatus(storedStatus());
    if (isSilent()) {
        closeApp();
        return;
    }
    appExternal.showWindow();
    initPageFrame("Error_Close", function () {
        trackUserActivity("Error_Close");
        closeApp();
    });
    $("#errorMessage").text(getProp("errorMessage"));
    ButtonConttoller.bind("#exitButton", function () {
        trackUserActivity("Error_Exit");
        closeApp();
    });
}
