// Shared page code: navigation, language, jobs, progress and the resume record.
// Runs in MSHTML (IE11 document mode): ES5 and jQuery 1.11.2 only.

var EDITION_IN_USE = "Pro";
var PAGE_WIDTH = 655;
var PAGE_HEIGHT = 513;
var OFFICE_KEY = "HKLM\\SOFTWARE\\Microsoft\\Office";
var OFFICE_SUFFIXES = ["Word\\InstallRoot", "PowerPoint\\InstallRoot", "Excel\\InstallRoot", "Outlook\\InstallRoot",
    "MS Project\\InstallRoot", "SharePoint Designer\\InstallRoot"];

// ---- properties -------------------------------------------------------------------------------

function getProp(name) {
    var value = appExternal.getProperty(name);
    return value === undefined || value === null ? "" : String(value);
}

function setProp(name, value) {
    appExternal.setProperty(name, String(value));
}

function isPropTrue(name) {
    return getProp(name) === "true";
}

function isSilent() {
    return appExternal.isSilentLaunchStub() === true;
}

function baseRecordKey() {
    return appExternal.getBaseRegKey() + "\\ResumeRecord";
}

// ---- small utilities --------------------------------------------------------------------------

function joinPath(folder, name) {
    var f = String(folder).replace(/\//g, "\\");
    var n = String(name).replace(/\//g, "\\");
    if (f.length > 0 && f.charAt(f.length - 1) !== "\\") {
        f += "\\";
    }
    while (n.charAt(0) === "\\") {
        n = n.substring(1);
    }
    return f + n;
}

function parentFolder(path) {
    var i = path.lastIndexOf("\\");
    return i > 0 ? path.substring(0, i) : "";
}

function fileExtension(name) {
    var i = name.lastIndexOf(".");
    return i >= 0 ? name.substring(i).toLowerCase() : "";
}

function toNumber(text) {
    var n = parseFloat(text);
    return isNaN(n) ? 0 : n;
}

// Compares version or number texts part by part; numeric parts compare as numbers so "10.0" > "9.0".
function compareVersionText(a, b) {
    var pa = String(a).split("."), pb = String(b).split(".");
    var count = Math.max(pa.length, pb.length);
    for (var i = 0; i < count; i++) {
        var x = i < pa.length ? pa[i] : "0";
        var y = i < pb.length ? pb[i] : "0";
        if (/^\d+$/.test(x) && /^\d+$/.test(y)) {
            var nx = parseInt(x, 10), ny = parseInt(y, 10);
            if (nx !== ny) {
                return nx < ny ? -1 : 1;
            }
        } else if (x !== y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

function replaceParams(text) {
    return String(text).replace(/\$\{([A-Za-z0-9_]+)\}/g, function (all, name) {
        return getProp(name);
    });
}

function getAvailableSpace(path) {
    if (!path || path.length < 3) {
        return 0;
    }
    var exists = appExternal.isFileExists(path);
    var target = exists ? path : path.substring(0, 3);
    var free = appExternal.getDiskAvailableSpace(target);
    return toNumber(free);
}

function validatePath(path) {
    if (!/^[A-Za-z]:\\/.test(path || "")) {
        return false;
    }
    var exists = appExternal.isFileExists(path);
    if (exists) {
        return true;
    }
    var created = appExternal.createDirectory(path);
    return created === true;
}

function getFormatSize(bytes) {
    var units = ["Byte", "KB", "MB", "GB"];
    var value = Math.max(0, Number(bytes) || 0);
    if (value < 1024) {
        return Math.floor(value) + " " + getText("Byte");
    }
    var unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
        value = value / 1024;
        unit++;
    }
    return value.toFixed(2) + " " + getText(units[unit]);
}

function pad2(n) {
    return n < 10 ? "0" + n : String(n);
}

function getFormatTime(seconds) {
    var s = Math.max(0, Math.floor(Number(seconds) || 0));
    var limit = 99 * 3600 + 59 * 60 + 59;
    if (s > limit) {
        s = limit;
    }
    var h = Math.floor(s / 3600);
    var m = Math.floor((s % 3600) / 60);
    return pad2(h) + ":" + pad2(m) + ":" + pad2(s % 60);
}

var ERROR_TEXT_KEYS = {
    1: "unknowError", 2: "fileNotExist", 3: "diskFull", 4: "failure", 6: "md5Error", 7: "volumeReadOnly",
    8: "noNetwork", 9: "cancelled", 10: "running", 12: "haveInstalled", 13: "otherInstallingText"
};

// Text key for a result code; codes without a text of their own read as an unknown error.
function getErrorTextKey(code) {
    return ERROR_TEXT_KEYS.hasOwnProperty(code) ? ERROR_TEXT_KEYS[code] : "unknowError";
}

function getErrorText(code) {
    return getText(getErrorTextKey(code));
}

// ---- language ---------------------------------------------------------------------------------

function getLangTable(code) {
    var table = Config_StubMultiLangs[code];
    if (!table || code === "regions") {
        table = Config_StubMultiLangs.en;
    }
    return table;
}

function getText(key) {
    var text = getLangTable(getProp("lang"))[key];
    return text === undefined || text === null ? "" : String(text);
}

function getOfferedLanguages() {
    if (typeof installParams !== "undefined" && installParams.LANG && installParams.LANG.length > 0) {
        return installParams.LANG.slice(0);
    }
    var list = [];
    for (var code in Config_StubMultiLangs.regions) {
        if (Config_StubMultiLangs.regions.hasOwnProperty(code)) {
            list.push(code);
        }
    }
    return list;
}

function isOfferedLanguage(code) {
    var offered = getOfferedLanguages();
    for (var i = 0; i < offered.length; i++) {
        if (offered[i] === code) {
            return true;
        }
    }
    return false;
}

function setLanguageByCode(code) {
    var id = appExternal.getParsedInstallLanguage(code);
    appExternal.setLang(id);
}

// Falls back to the first offered language when the chosen one is not offered.
function ensureOfferedLanguage() {
    if (!isOfferedLanguage(getProp("lang"))) {
        setLanguageByCode(getOfferedLanguages()[0]);
    }
}

function initializeDefaultLang() {
    var id = appExternal.getOSLang();
    if (!id) {
        id = appExternal.getParsedInstallLanguage("en");
    }
    appExternal.setLang(id);
    ensureOfferedLanguage();
}

// BCP 47 tags of the language codes, so a screen reader speaks each page in its own language.
var LANGUAGE_TAGS = { jp: "ja", tw: "zh-TW", zh: "zh-CN" };

// A code without texts of its own reads the English ones (getLangTable), and says so.
function languageTag(code) {
    if (getLangTable(code) !== Config_StubMultiLangs[code]) {
        return "en";
    }
    return LANGUAGE_TAGS.hasOwnProperty(code) ? LANGUAGE_TAGS[code] : code;
}

// Texts of class "lang" elements (attribute text = key), and accessible names of elements whose
// only content is a picture (attribute data-label = key).
function applyLanguageTexts(root) {
    document.documentElement.lang = languageTag(getProp("lang"));
    $(".lang", root || document).each(function () {
        var key = $(this).attr("text");
        if (key) {
            $(this).text(getText(key));
        }
    });
    $("[data-label]", root || document).each(function () {
        var label = getText($(this).attr("data-label"));
        $(this).attr("title", label).attr("aria-label", label);
    });
}

// ---- status, activity, environment ------------------------------------------------------------

function closeApp() {
    appExternal.closeWindow();
}

function notifyFinalStatus(status) {
    appExternal.setInstallStatus(status);
}

function storedStatus() {
    var s = getProp("Config_Status");
    return s === "" ? Config_Status.CANCEL : parseInt(s, 10);
}

function trackUserActivity(name) {
    appExternal.trackUserActivity(name);
}

function closeByUser(activity) {
    trackUserActivity(activity);
    notifyFinalStatus(Config_Status.CANCEL);
    closeApp();
}

function environmentCheck() {
    var ok = appExternal.checkOS(Config_MinSupportOS, Config_MinOSBit);
    if (ok) {
        return true;
    }
    var text = isPropTrue("OSBitNotSupport") ? getText("osBitRequirements")
        : getText("osRequirements").replace("%os%", Config_MinSupportOS);
    appExternal.messageBox(text, getText("error"));
    return false;
}

function setProductProperty() {
    appExternal.setChannel(installParams.CHNL);
    setProp("__Extract_In_Download__", Config_ExtractInDownload ? "true" : "false");
}

// The install parameters' page first (when so configured), else the chosen language's own.
function openThankYouPage() {
    var fromParams = typeof Feature_UseTYPInInstallParams === "undefined" || Feature_UseTYPInInstallParams;
    var url = fromParams && installParams.TYP_URL ? installParams.TYP_URL : getText("TYP_URL");
    return url ? appExternal.openPage(url) : false;
}

function getMSOfficeReg(use64BitView) {
    var found = appExternal.searchRegKey(use64BitView, OFFICE_KEY, OFFICE_SUFFIXES.join(";"), "path");
    return found === true;
}

// Returns how many actions started.
function postInstallActions() {
    var started = 0;
    for (var i = 0; i < Config_PostInstallActions.length; i++) {
        var action = Config_PostInstallActions[i];
        var param = appExternal.getDataFromReg(action.key, action.value);
        if (!param) {
            param = action.data;
        }
        if (!param) {
            continue;
        }
        var done = false;
        if (action.type === Config_PostInstallActionType.APP) {
            done = appExternal.runApplication(param);
        } else if (action.type === Config_PostInstallActionType.URL) {
            done = appExternal.openPage(param);
        } else if (action.type === Config_PostInstallActionType.CMD) {
            done = appExternal.executeCommand(param);
        }
        started += done ? 1 : 0;
    }
    return started;
}

// ---- DPI ----------------------------------------------------------------------------------------

function supportAnyDPI(width, height) {
    var rate = 1.0, w = width, h = height;
    var availW = window.screen.availWidth, availH = window.screen.availHeight;
    // bounded: a screen that reports no size must not hang the page
    for (var i = 0; i < 20 && (availW < w + 100 || availH < h + 100); i++) {
        rate *= 0.8;
        w *= 0.8;
        h *= 0.8;
    }
    if (rate === 1.0) {
        rate = 0.9999;
    }
    if (document.body) {
        var scale = "scale(" + rate + ")";
        document.body.style.transformOrigin = "0 0";
        document.body.style.msTransformOrigin = "0 0";
        document.body.style.transform = scale;
        document.body.style.msTransform = scale;
    }
    return rate;
}

var HdpiController = {
    rate: 1.0,
    apply: function () {
        HdpiController.rate = supportAnyDPI(PAGE_WIDTH, PAGE_HEIGHT);
        return HdpiController.rate;
    },
    windowSize: function (width, height) {
        var rate = supportAnyDPI(width, height);
        // rounded: the 0.9999 rate must not cost the window a pixel of the page
        appExternal.setWindowSize(Math.round(width * rate), Math.round(height * rate));
        return rate;
    }
};

// ---- navigation ---------------------------------------------------------------------------------

function currentPageName() {
    return document.title;
}

var Navigator = {
    pagePath: function (name) {
        return currentPageName() === "Load" ? "pages/" + name + "/page.html" : "../" + name + "/page.html";
    },
    go: function (name) {
        window.location.href = Navigator.pagePath(name);
    },
    isSkipped: function (name) {
        return name === "Prerequisite" && isPropTrue("skip_prerequisite_page");
    },
    step: function (direction) {
        var pages = Config_SequencePages;
        var i = $.inArray(currentPageName(), pages);
        if (i < 0) {
            closeApp();
            return;
        }
        for (i += direction; i >= 0 && i < pages.length; i += direction) {
            if (!Navigator.isSkipped(pages[i])) {
                Navigator.go(pages[i]);
                return;
            }
        }
        closeApp();
    },
    nextPage: function () {
        Navigator.step(1);
    },
    previousPage: function () {
        Navigator.step(-1);
    },
    firstPage: function () {
        if (currentPageName() !== "Load") {
            closeApp();
            return;
        }
        Navigator.go(Config_SequencePages[0]);
    },
    goSpecifiedPage: function (name) {
        if ($.inArray(name, Config_SequencePages) < 0) {
            closeApp();
            return;
        }
        Navigator.go(name);
    },
    gotoErrorPage: function (message) {
        setProp("errorMessage", message);
        Navigator.go("Error");
    },
    gotoUpdatePage: function () {
        window.location.href = "pages/SelfUpdate/page.html";
    },
    gotoEmbargoedPage: function () {
        HdpiController.windowSize(PAGE_WIDTH, PAGE_HEIGHT);
        initializeDefaultLang();
        Navigator.go("EmbargoedWarning");
    }
};

// ---- buttons ------------------------------------------------------------------------------------

// A disabled button keeps its place in the tab order and is announced as unavailable.
var ButtonConttoller = {
    bind: function (selector, handler) {
        $(selector).on("click", function (event) {
            event.preventDefault();
            if (!$(this).hasClass("disabled")) {
                handler.call(this, event);
            }
        });
    },
    enable: function (selector, on) {
        $(selector).toggleClass("disabled", on === false).attr("aria-disabled", on === false ? "true" : "false");
    },
    disable: function (selector) {
        $(selector).addClass("disabled").attr("aria-disabled", "true");
    },
    isEnabled: function (selector) {
        return !$(selector).hasClass("disabled");
    }
};

// ---- billboards ---------------------------------------------------------------------------------

function BillboardController(container, interval) {
    this.container = $(container);
    this.interval = interval;
    this.index = 0;
    this.timer = null;
}

BillboardController.prototype.start = function () {
    var self = this;
    var items = this.container.children(".billboard");
    if (items.length === 0) {
        return;
    }
    items.hide().eq(0).show();
    this.container.show();
    this.timer = window.setInterval(function () {
        items.eq(self.index).hide();
        self.index = (self.index + 1) % items.length;
        items.eq(self.index).show();
    }, this.interval);
};

BillboardController.prototype.stop = function () {
    if (this.timer !== null) {
        window.clearInterval(this.timer);
        this.timer = null;
    }
};

// ---- components and jobs ------------------------------------------------------------------------

function getComponentList() {
    if (Config_MultiDownload) {
        return typeof Components !== "undefined" ? Components : [];
    }
    var list = Config_PrerequisteComponents.slice(0);
    if (typeof Config_SingleDownload !== "undefined") {
        list.push({
            group: 0, sku: EDITION_IN_USE, type: ComponentType.MustSelect | ComponentType.X86 | ComponentType.X64,
            name: "ProductName", program: Config_SingleDownload.program,
            estimatedTime: Config_SingleDownload.estimatedTime, registry: Config_SingleDownload.registry,
            files: [{
                name: getProp("downloadUrl").replace(/^.*\//, ""), url: getProp("downloadUrl"),
                param: installParams.EXE_PARAMETERS, size: toNumber(getProp("downloadSize")),
                crc: installParams.CRC || ""
            }]
        });
    }
    return list;
}

function hasFlag(component, flag) {
    return (component.type & flag) === flag;
}

function osSuffix() {
    return isPropTrue("isDownload64") ? "64" : "32";
}

function readRegistryCheck(entry, minValue) {
    if (!entry || !entry.key) {
        return false;
    }
    var data = appExternal.getDataFromReg(entry.key, entry.value);
    if (data === "" || data === undefined || data === null) {
        return false;
    }
    return !entry.check || compareVersionText(data, minValue || "") >= 0;
}

function isRegistryPresent(component) {
    if (!component.registry) {
        return false;
    }
    var data = appExternal.getDataFromReg(component.registry.key, component.registry.value);
    return data !== "" && data !== undefined && data !== null;
}

function isComponentInstalled(component) {
    var installed = readRegistryCheck(component.registry, component.minValue) ||
        readRegistryCheck(component.registryWOW, component.minValue);
    var vc = component.versionCheck;
    if (vc && vc.check) {
        var folder = vc.path === "System64Folder" ? appExternal.getSystemFolderEx() : appExternal.getSystemFolder();
        var file = joinPath(folder, vc.filename);
        var version = hasFlag(component, ComponentType.X64) ? appExternal.getFileVersionEx(".EXE", file)
            : appExternal.getFileVersion(".EXE", file);
        installed = version !== "" && compareVersionText(version, vc.version) >= 0;
    }
    return installed;
}

// Marks name + "64" / name + "32" for each prerequisite; returns the number still missing.
function checkPrerequisites() {
    var list = getComponentList();
    var is64 = getProp("osbits") === "64";
    var office32 = null;
    var missing = 0;
    function hasOffice32() {
        if (office32 === null) {
            office32 = getMSOfficeReg(false);
        }
        return office32;
    }
    function mark(name, v64, v32) {
        setProp(name + "64", v64 ? "true" : "false");
        setProp(name + "32", v32 ? "true" : "false");
    }
    for (var i = 0; i < list.length; i++) {
        var c = list[i];
        if (c.sku && c.sku !== EDITION_IN_USE || !hasFlag(c, ComponentType.Prerequiste)) {
            continue;
        }
        var installed = isComponentInstalled(c);
        if (!is64) {
            var wanted32 = !hasFlag(c, ComponentType.X64) && !installed;
            mark(c.name, false, wanted32);
            missing += wanted32 ? 1 : 0;
        } else if (hasFlag(c, ComponentType.X64)) {
            if (installed) {
                mark(c.name, false, false);
            } else if (c.office32BitCheck && hasOffice32()) {
                mark(c.name, true, true);
                missing++;
            } else {
                // without a 32-bit Office the 64-bit runtime is still needed by the 64-bit product
                mark(c.name, true, false);
                missing++;
            }
        } else if (hasFlag(c, ComponentType.X86)) {
            if (!installed && hasOffice32()) {
                mark(c.name, true, true);
                missing++;
            } else {
                mark(c.name, false, false);
            }
        } else if (installed) {
            mark(c.name, false, false);
        } else {
            // with a 32-bit Office the 32-bit packages are installed, and they need it too
            var both = hasOffice32();
            mark(c.name, true, both);
            missing++;
        }
    }
    setProp("skip_prerequisite_page", missing === 0 ? "true" : "false");
    return missing;
}

var Jobs = {
    jobs: [],
    jobIndex: 0,
    componentIndex: 0,
    fileIndex: 0,
    forInstall: false,

    // options: { install: bool, skipInstalled: bool, restart: bool }
    setJobs: function (options) {
        var list = getComponentList();
        var os = osSuffix();
        var archFlag = os === "64" ? ComponentType.X64 : ComponentType.X86;
        var groups = {}, order = [];
        Jobs.forInstall = !!options.install;
        for (var i = 0; i < list.length; i++) {
            var c = list[i];
            if (c.sku && c.sku !== EDITION_IN_USE) {
                continue;
            }
            var isPrereq = hasFlag(c, ComponentType.Prerequiste);
            if (!hasFlag(c, archFlag) && !isPrereq || hasFlag(c, ComponentType.Patch) && Config_PatchOption === "Disable") {
                continue;
            }
            var checkInstalled = options.restart ||
                (options.skipInstalled && (!isPrereq || !Config_CheckPrerequiste));
            if (checkInstalled && isRegistryPresent(c)) {
                setProp(c.name + os, "false");
                continue;
            }
            if (!c.files || c.files.length === 0) {
                continue;
            }
            var selected = getProp(c.name + os);
            if (options.restart ? selected !== "true" : selected !== "" && selected !== "true") {
                continue;
            }
            var files = [];
            for (var f = 0; f < c.files.length; f++) {
                if (!Jobs.forInstall || c.files[f].param !== undefined) {
                    files.push(c.files[f]);
                }
            }
            if (files.length === 0) {
                continue;
            }
            var key = String(c.group || 0);
            if (!groups.hasOwnProperty(key)) {
                groups[key] = { group: c.group || 0, components: [] };
                order.push(groups[key]);
            }
            groups[key].components.push({ component: c, files: files });
        }
        order.sort(function (a, b) { return a.group - b.group; });
        Jobs.jobs = order;
        Jobs.jobIndex = Jobs.componentIndex = Jobs.fileIndex = 0;
        Jobs.computeTotals();
        return Jobs.jobs.length;
    },

    computeTotals: function () {
        for (var j = 0; j < Jobs.jobs.length; j++) {
            var job = Jobs.jobs[j];
            var size = 0, time = 0;
            for (var c = 0; c < job.components.length; c++) {
                var entry = job.components[c];
                entry.timeBefore = time;
                time += toNumber(entry.component.estimatedTime);
                entry.sizeBefore = [];
                for (var f = 0; f < entry.files.length; f++) {
                    entry.sizeBefore.push(size);
                    size += toNumber(entry.files[f].size);
                }
            }
            job.totalSize = size;
            job.totalTime = time;
        }
    },

    isEmpty: function () {
        return Jobs.jobs.length === 0;
    },
    currentJob: function () {
        return Jobs.jobs[Jobs.jobIndex];
    },
    currentEntry: function () {
        var job = Jobs.currentJob();
        return job ? job.components[Jobs.componentIndex] : undefined;
    },
    currentComponent: function () {
        var entry = Jobs.currentEntry();
        return entry ? entry.component : undefined;
    },
    currentFile: function () {
        var entry = Jobs.currentEntry();
        return entry ? entry.files[Jobs.fileIndex] : undefined;
    },
    bytesBeforeCurrentFile: function () {
        var entry = Jobs.currentEntry();
        return entry ? entry.sizeBefore[Jobs.fileIndex] : 0;
    },
    // Next file, else the first file of the next component, else of the next job; false at the end.
    next: function () {
        var job = Jobs.currentJob();
        if (!job) {
            return false;
        }
        var entry = job.components[Jobs.componentIndex];
        if (Jobs.fileIndex + 1 < entry.files.length) {
            Jobs.fileIndex++;
            return true;
        }
        Jobs.fileIndex = 0;
        if (Jobs.componentIndex + 1 < job.components.length) {
            Jobs.componentIndex++;
            return true;
        }
        Jobs.componentIndex = 0;
        Jobs.jobIndex++;
        return Jobs.jobIndex < Jobs.jobs.length;
    },
    isNewJob: function () {
        return Jobs.componentIndex === 0 && Jobs.fileIndex === 0;
    },
    // Bytes the current folder already holds of the jobs' files.
    presentBytes: function (folder, skipInstalled) {
        var present = 0;
        for (var j = 0; j < Jobs.jobs.length; j++) {
            var job = Jobs.jobs[j];
            for (var c = 0; c < job.components.length; c++) {
                var entry = job.components[c];
                var installed = skipInstalled && isRegistryPresent(entry.component);
                for (var f = 0; f < entry.files.length; f++) {
                    var listed = toNumber(entry.files[f].size);
                    if (installed) {
                        present += listed;
                        continue;
                    }
                    var path = joinPath(folder, entry.files[f].name);
                    var exists = appExternal.isFileExists(path);
                    if (exists) {
                        var local = toNumber(appExternal.getFileSize(path));
                        present += Math.min(local, listed);
                    }
                }
            }
        }
        return present;
    },
    requiredBytes: function (folder, skipInstalled) {
        var total = 0;
        for (var j = 0; j < Jobs.jobs.length; j++) {
            total += Jobs.jobs[j].totalSize;
        }
        return Math.max(0, total - Jobs.presentBytes(folder, skipInstalled));
    }
};

// ---- progress -------------------------------------------------------------------------------------

function downloadPercent(total, current, fileSize, jobSize, bytesBefore) {
    if (!jobSize || !total) {
        return 0;
    }
    var p = Math.floor(current / total * 100 * fileSize / jobSize + 100 * bytesBefore / jobSize);
    return Math.max(0, Math.min(100, p));
}

function installPercent(total, current, componentTime, jobTime, timeBefore) {
    if (!jobTime || !total) {
        return 0;
    }
    var p = Math.floor(current / total * 100 * componentTime / jobTime + 100 * timeBefore / jobTime);
    return Math.max(0, Math.min(100, p));
}

// Above the threshold the bar moves at the average speed so far instead of jumping.
function smoothPercent(raw, shown, threshold, elapsedTicks) {
    if (threshold >= 1.00 || raw < threshold * 100 || elapsedTicks <= 0) {
        return raw;
    }
    var average = shown / elapsedTicks;
    return Math.min(raw, Math.floor(shown + Math.max(average, 0.1)));
}

function InstallProgress(mode, interval) {
    this.mode = mode;
    this.interval = interval;
    this.total = 0;
    this.current = 0;
    this.lastCurrent = 0;
    this.shown = 0;
    this.ticks = 0;
    this.timer = null;
    this.threshold = typeof Process_Smooth_Threshod !== "undefined" ? Process_Smooth_Threshod : 1.00;
}

InstallProgress.prototype.update = function (total, current) {
    this.total = total;
    this.current = current;
};

InstallProgress.prototype.start = function () {
    var self = this;
    this.stop();
    this.total = this.current = this.lastCurrent = 0;
    this.shown = this.ticks = 0;
    this.timer = window.setInterval(function () { self.tick(); }, this.interval);
};

InstallProgress.prototype.stop = function () {
    if (this.timer !== null) {
        window.clearInterval(this.timer);
        this.timer = null;
    }
};

InstallProgress.prototype.tick = function () {
    if (!this.current) {
        return;
    }
    var job = Jobs.currentJob(), entry = Jobs.currentEntry(), file = Jobs.currentFile();
    if (!job || !entry || !file) {
        return;
    }
    var percent, remaining, sizeLine = "";
    if (this.mode === "download") {
        var before = Jobs.bytesBeforeCurrentFile();
        percent = downloadPercent(this.total, this.current, toNumber(file.size), job.totalSize, before);
        var speed = Math.max(0, (this.current - this.lastCurrent) * 1000 / this.interval);
        var done = this.current + before;
        var left = Math.max(0, job.totalSize - done);
        remaining = speed > 0 ? left / speed : left;
        sizeLine = getFormatSize(done) + " " + getText("outOf") + " " + getFormatSize(job.totalSize) +
            " @ " + getFormatSize(speed) + "/s";
        this.lastCurrent = this.current;
    } else {
        var time = toNumber(entry.component.estimatedTime);
        percent = installPercent(this.total, this.current, time, job.totalTime, entry.timeBefore);
        this.ticks++;
        percent = smoothPercent(percent, this.shown, this.threshold, this.ticks);
        remaining = job.totalTime * (100 - percent) / 100;
    }
    this.show(file, percent, remaining, sizeLine);
    if (percent >= 100) {
        this.stop();
    }
};

InstallProgress.prototype.show = function (file, percent, remaining, sizeLine) {
    this.shown = percent;
    showProgressValue(percent);
    var label = this.mode === "download" ? "DownloadingText" : "InstallingText";
    $("#progressFile").text(getText(label) + " " + String(file.name).replace(/^.*[\\\/]/, ""));
    $("#progressPercent").text(getText("complete").replace("%d%", percent + "%"));
    $("#progressFill").css("width", percent + "%");
    $("#progressSize").text(sizeLine);
    $("#progressTime").text(getText("EstimatedTimeText") + " " + getFormatTime(remaining));
};

// The last result can arrive before any tick saw progress (small files, fast installs): once
// every job is done the last one is shown complete while the page waits, not as an empty bar.
InstallProgress.prototype.finish = function () {
    this.stop();
    var job = Jobs.jobs[Jobs.jobs.length - 1];
    var entry = job ? job.components[job.components.length - 1] : undefined;
    var file = entry ? entry.files[entry.files.length - 1] : undefined;
    if (!file) {
        return;
    }
    var sizeLine = "";
    if (this.mode === "download") {
        sizeLine = getFormatSize(job.totalSize) + " " + getText("outOf") + " " + getFormatSize(job.totalSize);
    }
    this.show(file, 100, 0, sizeLine);
};

// The bar's value for assistive technology, and a spoken line at every tenth (not every tick).
var PROGRESS_ANNOUNCE_STEP = 10;

function showProgressValue(percent) {
    var text = getText("complete").replace("%d%", percent + "%");
    $(".progressTrack").attr({ "aria-valuenow": percent, "aria-valuetext": text });
    var step = Math.floor(percent / PROGRESS_ANNOUNCE_STEP);
    var live = $("#progressAnnounce");
    if (String(step) !== live.attr("data-step")) {
        live.attr("data-step", step).text(text);
    }
}

// ---- resume record --------------------------------------------------------------------------------

function selectedComponentList() {
    var list = getComponentList(), os = osSuffix(), seen = {}, out = [];
    for (var i = 0; i < list.length; i++) {
        var name = list[i].name + os;
        if (!seen[name] && getProp(name) === "true") {
            seen[name] = true;
            out.push(name);
        }
    }
    return out;
}

function record() {
    var key = baseRecordKey();
    appExternal.setDataToReg(key, Config_RegRecorder.OS, osSuffix(), true);
    appExternal.setDataToReg(key, Config_RegRecorder.IsISO, isPropTrue("isISO") ? "true" : "false", true);
    appExternal.setDataToReg(key, Config_RegRecorder.Lang, getProp("lang"), true);
    appExternal.setDataToReg(key, Config_RegRecorder.Directory, getProp("downloadPath"), true);
    appExternal.setDataToReg(key, Config_RegRecorder.IsDownloadOnly, getProp("isDownloadOnly"), true);
    if (getProp("downloadUrl") !== "") {
        appExternal.setDataToReg(key, Config_RegRecorder.DownloadUrl, getProp("downloadUrl"), true);
    }
    if (getProp("downloadSize") !== "") {
        appExternal.setDataToReg(key, Config_RegRecorder.DownloadSize, getProp("downloadSize"), true);
    }
    var names = selectedComponentList();
    var text = "";
    for (var i = 0; i < names.length; i++) {
        text += names[i] + ";";
    }
    appExternal.setDataToReg(key, Config_RegRecorder.Components, text, true);
}

function resume() {
    var key = baseRecordKey();
    function read(name) {
        var v = appExternal.getDataFromReg(key, name);
        return v === undefined || v === null ? "" : String(v);
    }
    setProp("isDownload64", read(Config_RegRecorder.OS) === "64" ? "true" : "false");
    setProp("isISO", read(Config_RegRecorder.IsISO) === "true" ? "true" : "false");
    var lang = read(Config_RegRecorder.Lang);
    if (lang !== "") {
        setProp("selected_lang", lang);
        setLanguageByCode(lang);
    }
    setProp("downloadPath", read(Config_RegRecorder.Directory));
    setProp("isDownloadOnly", read(Config_RegRecorder.IsDownloadOnly));
    var url = read(Config_RegRecorder.DownloadUrl), size = read(Config_RegRecorder.DownloadSize);
    if (url !== "") {
        setProp("downloadUrl", url);
    }
    if (size !== "") {
        setProp("downloadSize", size);
    }
    var names = read(Config_RegRecorder.Components).split(";");
    for (var i = 0; i < names.length; i++) {
        if (names[i] !== "") {
            setProp(names[i], "true");
        }
    }
}

// A finished component leaves the record and the selection, so a later record() keeps it out too.
function updateComponents(componentName) {
    var key = baseRecordKey();
    var remove = componentName + osSuffix();
    setProp(remove, "false");
    var names = String(appExternal.getDataFromReg(key, Config_RegRecorder.Components) || "").split(";");
    var text = "";
    for (var i = 0; i < names.length; i++) {
        if (names[i] !== "" && names[i] !== remove) {
            text += names[i] + ";";
        }
    }
    appExternal.setDataToReg(key, Config_RegRecorder.Components, text, true);
}

function delRecord() {
    appExternal.deleteRegKey(baseRecordKey(), false);
}

function prepareResume(page) {
    record();
    appExternal.runAfterReboot(page);
}

function undoPrepareResume() {
    appExternal.undoRunAfterReboot();
    delRecord();
}

// ---- page frame -----------------------------------------------------------------------------------

function defaultFolder(mode, fixedFolder) {
    if (mode === "Desktop") {
        return appExternal.getDesktopPath();
    }
    if (mode === "Current") {
        return appExternal.getCurrentPath();
    }
    if (mode === "Temp") {
        return appExternal.getTempPath("");
    }
    return fixedFolder || "";
}

function languageIdOf(code) {
    var ids = { en: 1033, fr: 1036, de: 1031, jp: 1041, ru: 1049, zh: 2052, es: 1034, nl: 1043 };
    return ids.hasOwnProperty(code) ? ids[code] : 1033;
}

// Pages whose close abandons an installation that has not ended: the user confirms first.
var CONFIRM_CLOSE_PAGES = ["Initialization", "Welcome", "Prerequisite", "Agreement", "Download", "Downloading", "Install", "Installing"];

function confirmClose() {
    if ($.inArray(currentPageName(), CONFIRM_CLOSE_PAGES) < 0) {
        return true;
    }
    return appExternal.confirmMessageBox(getText("closeConfirmText"), getText("ProductName")) === true;
}

// Focus lands on the page's main action: its enabled primary button, else the first control of the
// content, else the page heading (a page that only shows progress).
function focusMainAction() {
    var candidates = ["#footer .button.primary:visible:not(.disabled)", "#footer .button:visible:not(.disabled)",
        "#content :input:visible:enabled", "#pageTitle"];
    for (var i = 0; i < candidates.length; i++) {
        var target = $(candidates[i]).first();
        if (target.length) {
            target.focus();
            return target.attr("id") || "";
        }
    }
    return "";
}

// Esc does what the close button does.
function closeOnEscape(event) {
    if (event.which === 27) {
        event.preventDefault();
        $(".closeButton").first().click();
    }
}

// Keys pressed inside a frame reach only the frame's own document: a page showing its own content
// in a frame hands Esc on from there. A document of another origin keeps its keys.
function closeOnEscapeIn(frame) {
    $(frame).on("load", function () {
        var inner;
        try {
            inner = this.contentWindow.document;
        } catch (e) {
            return;
        }
        $(inner).on("keydown", closeOnEscape);
    });
}

// Common start of every page: texts, scaling, title-bar drag, the close button (also Esc), and
// focus on the main action once the page has set itself up.
function initPageFrame(closeActivity, onClose) {
    applyLanguageTexts();
    HdpiController.apply();
    $("#titleBar").on("mousedown", function (event) {
        if (!$(event.target).closest(".closeButton").length) {
            appExternal.dragWindow();
        }
    });
    ButtonConttoller.bind(".closeButton", function () {
        if (!confirmClose()) {
            return;
        }
        if (onClose) {
            onClose();
        } else {
            closeByUser(closeActivity);
        }
    });
    $(document).on("keydown", closeOnEscape);
    window.setTimeout(focusMainAction, 0);
}
