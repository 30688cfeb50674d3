function acceptedKey() {
    return appExternal.getBaseRegKey() + "\\ResumeRecord\\" + installParams.PRODUCT_FILE_NAME;
}

function eulaSource() {
    var code = getProp("lang");
    if (Feature_AllowHTMLEULALoading === "Internet") {
        return Feature_EulaLink.replace("${lang}", code);
    }
    var local = appExternal.getResourceLocation() + "pages\\Agreement\\eula\\EULA_" + code + ".html";
    var exists = appExternal.isFileExists(local);
    return exists ? "eula/EULA_" + code + ".html" : "eula/EULA_en.html";
}

function pageStart() {
    initPageFrame("Agreement_Close");
    if (Feature_SkipIfAccepted === "Enable" && appExternal.getDataFromReg(acceptedKey(), "skipAcceptedEula") === "true") {
        Navigator.nextPage();
        return;
    }
    if (Feature_AllowHTMLEULALoading === "Custom") {
        $("#eulaFrame").hide();
    } else {
        closeOnEscapeIn("#eulaFrame");
        $("#eulaFrame").attr("src", eulaSource());
    }
    $("#acceptBox").prop("checked", isPropTrue("select_agreement"));
    ButtonConttoller.enable("#nextButton", $("#acceptBox").prop("checked"));
    $("#acceptBox").on("click", function () {
        ButtonConttoller.enable("#nextButton", $(this).prop("checked"));
    });
    ButtonConttoller.bind("#nextButton", function () {
        trackUserActivity("Agreement_Next");
        setProp("select_agreement", "true");
        if (Feature_SkipIfAccepted === "Enable") {
            appExternal.setDataToReg(acceptedKey(), "skipAcceptedEula", "true", true);
        }
        Navigator.nextPage();
    });
    ButtonConttoller.bind("#backButton", function () {
        trackUserActivity("Agreement_Back");
        Navigator.previousPage();
    });
}
