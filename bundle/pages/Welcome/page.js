function defaultLanguageId() {
    for (var i = 0; i < Feature_DefaultLanguageOrder.length; i++) {
        var source = Feature_DefaultLanguageOrder[i], id = 0;
        if (source === "OSLang") {
            id = appExternal.getOSLang();
        } else if (source === "OSLocation") {
            id = 0;
        } else if (source === "Channel") {
            id = appExternal.getLanguageByID(Feature_Channel);
        } else if (source === "InstalledLang") {
            id = appExternal.getParsedInstallLanguage(getProp("lang"));
        } else {
            id = appExternal.getParsedInstallLanguage("en");
        }
        if (id) {
            return id;
        }
    }
    return appExternal.getParsedInstallLanguage("en");
}

function chooseLanguage(code) {
    setProp("selected_lang", code);
    setLanguageByCode(code);
    applyLanguageTexts();
}

function fillLanguageList() {
    var select = $("#languageSelect").empty();
    var offered = getOfferedLanguages();
    var regions = Config_StubMultiLangs.regions;
    for (var i = 0; i < offered.length; i++) {
        if (regions.hasOwnProperty(offered[i])) {
            select.append($("<option></option>").val(offered[i]).text(regions[offered[i]]));
        }
    }
    select.val(getProp("lang"));
}

function pageStart() {
    var remembered = getProp("selected_lang");
    if (remembered !== "") {
        setLanguageByCode(remembered);
    } else {
        appExternal.setLang(defaultLanguageId());
    }
    ensureOfferedLanguage();
    initPageFrame("Welcome_Close");
    fillLanguageList();
    if (Feature_LanguageSelection === "None") {
        $("#languageRow").hide();
    } else if (Feature_LanguageSelection === "Disable") {
        $("#languageSelect").prop("disabled", true);
    }
    $("#languageSelect").on("change", function () {
        chooseLanguage($(this).val());
    });
    ButtonConttoller.bind("#nextButton", function () {
        trackUserActivity("Welcome_Next");
        Navigator.nextPage();
    });
    if (isSilent()) {
        Navigator.nextPage();
    }
}
