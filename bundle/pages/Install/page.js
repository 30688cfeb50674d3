function requiredInstallBytes() {
    if (Feature_RequiredDiskSpaceCheck === "installerlistJS") {
        var total = 0;
        Jobs.setJobs({ install: true, skipInstalled: getProp("IsSkipInstalled") !== "false", restart: false });
        for (var j = 0; j < Jobs.jobs.length; j++) {
            var components = Jobs.jobs[j].components;
            for (var c = 0; c < components.length; c++) {
                for (var f = 0; f < components[c].files.length; f++) {
                    total += toNumber(components[c].files[f].installSize);
                }
            }
        }
        return total;
    }
    return toNumber(Feature_RequiredDiskSpaceCheck);
}

function refreshInstallFolder() {
    var folder = $.trim($("#folderInput").val());
    var valid = /^[A-Za-z]:\\/.test(folder);
    $("#pathInvalid").toggle(!valid);
    var required = requiredInstallBytes(), available = getAvailableSpace(folder);
    var enough = valid && (required === 0 || required <= available);
    $("#requiredSpace").text(getText("requiredSpaceText").replace("$reqSpace", getFormatSize(required)));
    $("#availableSpace").text(getText("availableSpaceText").replace("$avaSpace", getFormatSize(available)))
        .toggleClass("warning", !enough);
    ButtonConttoller.enable("#installButton", enough);
    return enough;
}

function pageStart() {
    initPageFrame("Install_Close");
    var folder = getProp("installPath") || Feature_DefaultInstallDir;
    $("#folderInput").val(folder);
    if (Feature_InstallationPathOption === "Disable") {
        $("#folderInput").prop("disabled", true);
        $("#browseButton").hide();
    }
    refreshInstallFolder();
    $("#folderInput").on("change keyup", refreshInstallFolder);
    ButtonConttoller.bind("#browseButton", function () {
        trackUserActivity("Install_Browse");
        var chosen = appExternal.selectFolder($("#folderInput").val());
        $("#folderInput").val(chosen);
        refreshInstallFolder();
    });
    ButtonConttoller.bind("#cancelButton", function () {
        closeByUser("Install_Cancel");
    });
    ButtonConttoller.bind("#installButton", function () {
        trackUserActivity("Install_Install");
        setProp("installPath", $.trim($("#folderInput").val()));
        Navigator.nextPage();
    });
    if (isSilent() || getProp("InstallMode") === "Complete") {
        setProp("installPath", folder);
        Navigator.nextPage();
    }
}
