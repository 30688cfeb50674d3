function missingPrerequisites() {
    var list = getComponentList(), out = [], seen = {};
    for (var i = 0; i < list.length; i++) {
        var c = list[i];
        if (!hasFlag(c, ComponentType.Prerequiste) || (c.sku && c.sku !== EDITION_IN_USE) || seen[c.name]) {
            continue;
        }
        if (isPropTrue(c.name + "64") || isPropTrue(c.name + "32")) {
            seen[c.name] = true;
            out.push(c);
        }
    }
    return out;
}

function fillPrerequisiteList() {
    var items = missingPrerequisites();
    var ul = $("#prerequisiteList").empty();
    for (var i = 0; i < items.length; i++) {
        var c = items[i];
        var box = $("<input type='checkbox'>").attr("data-name", c.name).prop("checked", true);
        if (hasFlag(c, ComponentType.MustSelect)) {
            box.prop("disabled", true);
        }
        ul.append($("<li></li>").append($("<label></label>").append(box).append($("<span></span>").text(getText(c.name)))));
    }
}

function storeChoices() {
    $("#prerequisiteList input").each(function () {
        var name = $(this).attr("data-name");
        if (!$(this).prop("checked")) {
            setProp(name + "64", "false");
            setProp(name + "32", "false");
        }
    });
}

function pageStart() {
    initPageFrame("Prerequisite_Close");
    if (isPropTrue("isISO")) {
        Navigator.nextPage();
        return;
    }
    fillPrerequisiteList();
    ButtonConttoller.bind("#nextButton", function () {
        trackUserActivity("Prerequisite_Next");
        storeChoices();
        Navigator.nextPage();
    });
    ButtonConttoller.bind("#backButton", function () {
        trackUserActivity("Prerequisite_Back");
        Navigator.previousPage();
    });
    if (isSilent()) {
        storeChoices();
        Navigator.nextPage();
    }
}
