function embargoTip() {
    var country = getProp("Country");
    var table = getLangTable(getProp("lang"));
    if (table.hasOwnProperty(country)) {
        country = table[country];
    }
    return getText("embargoCountryWarningTip").replace("%country%", country).replace("%product%", Feature_ProductName);
}

function pageStart() {
    initPageFrame("", function () {
        notifyFinalStatus(storedStatus());
        closeApp();
    });
    $("#embargoTip").text(embargoTip());
    ButtonConttoller.bind("#closeButton2", function () {
        notifyFinalStatus(storedStatus());
        closeApp();
    });
    ButtonConttoller.bind("#cancelButton", function () {
        notifyFinalStatus(Config_Status.CANCEL);
        closeApp();
    });
}
