function isOwnComponent(c, flag) {
    return !hasFlag(c, ComponentType.Prerequiste) && hasFlag(c, flag) && (!c.sku || c.sku === EDITION_IN_USE);
}

// "Force" and "UserOption" start from the system's own architecture; without a choice a 32-bit
// Office on a 64-bit system asks for the 32-bit packages.
function defaultIs64() {
    if (getProp("osbits") !== "64") {
        return false;
    }
    return Config_OSArchitectureSelection === "Force" || Config_OSArchitectureSelection === "UserOption" ||
        !getMSOfficeReg(false);
}

// Marks the product's components of one architecture: every module, and the patches unless they
// are switched off. The user's choices in the list below then change them.
function chooseArchitecture(is64) {
    setProp("isDownload64", is64 ? "true" : "false");
    var list = getComponentList(), flag = is64 ? ComponentType.X64 : ComponentType.X86;
    for (var i = 0; i < list.length; i++) {
        var c = list[i];
        if (isOwnComponent(c, flag)) {
            var off = hasFlag(c, ComponentType.Patch) && Config_PatchOption === "Disable";
            setProp(c.name + (is64 ? "64" : "32"), off ? "false" : "true");
        }
    }
}

function skipsInstalledModules() {
    return Feature_ModuleOption && Feature_SkipInstalled;
}

// What the user sees and may choose: the product's modules (Feature_ModuleOption) and the patches
// Config_PatchOption lists. Modules that must be installed and patches forced on stay ticked.
function listedComponents() {
    var list = getComponentList(), flag = isPropTrue("isDownload64") ? ComponentType.X64 : ComponentType.X86;
    var out = [];
    for (var i = 0; i < list.length; i++) {
        var c = list[i];
        if (!isOwnComponent(c, flag)) {
            continue;
        }
        var patch = hasFlag(c, ComponentType.Patch);
        var listed = patch ? Config_PatchOption === "ForceShow" || Config_PatchOption === "UserOption" : Feature_ModuleOption;
        if (!listed || (!patch && skipsInstalledModules() && isRegistryPresent(c))) {
            continue;
        }
        out.push({ component: c, locked: patch ? Config_PatchOption === "ForceShow" : hasFlag(c, ComponentType.MustSelect) });
    }
    return out;
}

function fillComponentList() {
    var items = listedComponents(), os = osSuffix();
    var ul = $("#componentList").empty();
    for (var i = 0; i < items.length; i++) {
        var name = items[i].component.name;
        var box = $("<input type='checkbox'>").attr("data-name", name).prop("checked", getProp(name + os) !== "false");
        box.prop("disabled", items[i].locked);
        ul.append($("<li></li>").append($("<label></label>").append(box).append($("<span></span>").text(getText(name) || name))));
    }
    $("#componentPanel").toggle(items.length > 0);
}

function bindChoices() {
    if (Config_OSArchitectureSelection === "UserOption" && getProp("osbits") === "64") {
        $("#architectureChoice").show();
        $("#architectureChoice input[value=" + osSuffix() + "]").prop("checked", true);
        $("#architectureChoice input").on("click", function () {
            chooseArchitecture($(this).val() === "64");
            fillComponentList();
            refreshFolder();
        });
    }
    $("#componentList").on("click", "input", function () {
        setProp($(this).attr("data-name") + osSuffix(), $(this).prop("checked") ? "true" : "false");
        refreshFolder();
    });
    fillComponentList();
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
    setProp("IsSkipInstalled", skipsInstalledModules() ? "true" : "false");
    chooseArchitecture(defaultIs64());
    bindChoices();
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
