// Page workflow checks in headless Chromium against a scripted window.external.
//   node page_logic.js STAGED_BUNDLE_DIR SCREENSHOT_DIR
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");
const { ORIGIN, STORE, harness, reg, open, state, patchScenario, calls, fire, waitTitle, waitCall, waitVisited } = require("./page_harness");

const bundleDir = path.resolve(process.argv[2] || "");
const shotDir = path.resolve(process.argv[3] || path.join(os.tmpdir(), "bundle-shots"));
const { check, same, group, installParams, TEXTS, components, allPages, newContext: harnessContext, onOnePage, run } = harness(bundleDir);
const en = TEXTS.en, de = TEXTS.de;

const BASE = "HKEY_CURRENT_USER\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22";
const RECORD = BASE + "\\ResumeRecord";
const DOTNET = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full|Release";
const WEBVIEW = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}|pv";
const WEBVIEW_WOW = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}|pv";
const MAINDIR = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Tandora\\22|MainDir";
const MSVCP = "c:\\windows\\system32\\msvcp140.dll";

// Lets the tasks the page queued so far run (focus, first paint) before a picture is taken.
async function settleTasks(page) {
  await page.evaluate(() => new Promise((resolve) => window.setTimeout(resolve, 0)));
}

async function noFaults(page, name) {
  const s = await state(page);
  same(`${name}: every call matched the method table`, s.faults, []);
}

// The build's settings reach installparams.js; the rest of the file stays as written.
function deploymentValues() {
  const keys = ["DOWNLOAD_URL", "UPDATE_STUB_URL", "TYP_URL", "CHNL"];
  if (process.env.EXPECT_DOWNLOAD_URL === undefined) return;
  same("deployment values from the build settings", keys.map((k) => installParams[k]), keys.map((k) => process.env[`EXPECT_${k}`]));
  same("fixed install parameters kept", [installParams.PRODUCT_FILE_NAME, installParams.EXE_PARAMETERS, installParams.LANG.length],
    ["Tandora22_setup.exe", "/L${LANG_ID} /vHIDE_FINISH=1", 8]);
}

// Every language carries every English key, and keeps the placeholders the pages replace.
function translations() {
  const codes = Object.keys(TEXTS.regions);
  same("fifteen language codes, each with a table", [codes.length, codes.filter((c) => TEXTS[c]).length], [15, 15]);
  const placeholders = { complete: ["%d%"], osRequirements: ["%os%"], requiredSpaceText: ["$reqSpace"],
    availableSpaceText: ["$avaSpace"], embargoCountryWarningTip: ["%country%", "%product%"] };
  const problems = [];
  for (const code of codes) {
    const table = TEXTS[code] || {};
    for (const key of Object.keys(en)) {
      if (typeof table[key] !== "string") problems.push(`${code}.${key} missing`);
      else if (key !== "TYP_URL" && table[key] === "") problems.push(`${code}.${key} empty`);
    }
    for (const [key, marks] of Object.entries(placeholders)) {
      for (const mark of marks) if (String(table[key]).indexOf(mark) < 0) problems.push(`${code}.${key} lacks ${mark}`);
    }
  }
  same("translations complete, placeholders kept", problems, []);
  const eula = installParams.LANG.filter((c) => !fs.existsSync(path.join(bundleDir, "pages/Agreement/eula", `EULA_${c}.html`)));
  same("a licence agreement for every offered language", eula, []);
}

async function loadPage(page) {
  await open(page, "Load.html");
  check("start: a supported system goes to Initialization", await waitTitle(page, "Initialization"));
  const s = await state(page);
  const order = s.calls.map((c) => c.m);
  same("start: status 0 reported before anything else is set", s.calls.find((c) => c.m === "setInstallStatus").a, [0]);
  same("start: channel from the install parameters", (await calls(page, "setChannel"))[0], [installParams.CHNL]);
  same("start: window sized 655 x 513", (await calls(page, "setWindowSize"))[0], [655, 513]);
  same("start: ZIP extraction during install", s.props.__Extract_In_Download__, "false");
  check("start: no self-update page with the update switched off", order.indexOf("isNeedSelfUpdate") < 0);
  const update = (await calls(page, "updateInstallerList"))[0];
  same("initialization: installer list refreshed into the bundle's config folder", update,
    [installParams.DOWNLOAD_URL, "C:\\Temp\\Tandora\\res\\config\\installerlistTDR22.js", false, false]);
  await fire(page, "updateInstallerList", 0, 0, 0);
  check("initialization: moves on when the update ends", await waitTitle(page, "Welcome"));
  await noFaults(page, "start");

  await open(page, "Load.html", { scenario: { osOk: false } });
  await waitCall(page, "closeWindow");
  let st = await state(page);
  same("unsupported OS: activity, status 4, close", st.calls.filter((c) => /trackUserActivity|setInstallStatus|closeWindow/.test(c.m)).map((c) => [c.m].concat(c.a)),
    [["trackUserActivity", "Unsupported_OS_Close"], ["setInstallStatus", 4], ["closeWindow"]]);
  same("unsupported OS: message names the minimum system", (await calls(page, "messageBox"))[0],
    [en.osRequirements.replace("%os%", "Windows 7 SP1"), en.error]);

  await open(page, "Load.html", { scenario: { osOk: false, osBitFail: true } });
  await waitCall(page, "closeWindow");
  const bitMessage = (await calls(page, "messageBox"))[0];
  check("unsupported architecture: its own, non-empty message", bitMessage && bitMessage[0] === en.osBitRequirements && bitMessage[0] !== "", bitMessage);

  await open(page, "Load.html", { scenario: { online: false, osLang: 3 } });
  await waitCall(page, "closeWindow");
  st = await state(page);
  same("offline: message in the system's language, then close", (await calls(page, "messageBox"))[0], [de.noNetwork, de.error]);
  check("offline: window closed, no page opened", st.calls.some((c) => c.m === "closeWindow") && (await page.title()) === "Load");

  await open(page, "Load.html", { scenario: { embargoed: true, country: "Atlantis" } });
  check("region answer true: EmbargoedWarning", await waitTitle(page, "EmbargoedWarning"));
  const tip = await page.textContent("#embargoTip");
  check("region page: country and product filled in", tip.indexOf("Atlantis") >= 0 && tip.indexOf("SampleStub") >= 0 && tip.indexOf("%") < 0, tip);
  await page.click("#cancelButton");
  same("region page: Cancel reports status 3", (await calls(page, "setInstallStatus")).pop(), [3]);

  await open(page, "Load.html", { scenario: { overrides: { Config_SupportSelfUpdate: true, installParams: { UPDATE_STUB_URL: "" } } } });
  check("self-update on but no stub URL: straight to Initialization", await waitTitle(page, "Initialization"));
  await open(page, "Load.html", { scenario: { overrides: { Config_SupportSelfUpdate: true, installParams: { UPDATE_STUB_URL: "http://127.0.0.1:9/new.exe" } } } });
  check("self-update on with a stub URL: SelfUpdate page", await waitTitle(page, "Update"));
  await open(page, "Load.html", { scenario: { skipSelfUpdate: true, overrides: { Config_SupportSelfUpdate: true, installParams: { UPDATE_STUB_URL: "http://127.0.0.1:9/new.exe" } } } });
  check("update=0 on the command line skips the self-update", await waitTitle(page, "Initialization"));

  await open(page, "Load.html", { scenario: { resumeMode: 2 }, registry: {
    [RECORD + "|OS"]: "64", [RECORD + "|Directory"]: "C:\\Dl", [RECORD + "|Components"]: "ProductName64;" } });
  await waitCall(page, "updateInstallerList");
  check("resume after reboot: window hidden while the list updates", (await calls(page, "hideWindow")).length === 1);
  await fire(page, "updateInstallerList", 0, 0, 0);
  check("resume after reboot: continues on Installing", await waitTitle(page, "Installing"));
  same("resume after reboot: installs what the record lists", (await calls(page, "install")).map((a) => a[0]), ["C:\\Dl\\" + MAIN64]);
}

async function prerequisiteMarks(page) {
  await open(page, "pages/Download/page.html");
  async function run(label, props, registry, scen) {
    return page.evaluate(([p, r, s, k]) => {
      const st = JSON.parse(sessionStorage.getItem(k));
      Object.assign(st.props, p);
      st.registry = r;
      Object.assign(st.scenario, s);
      sessionStorage.setItem(k, JSON.stringify(st));
      const missing = checkPrerequisites();
      const out = { missing: missing, skip: getProp("skip_prerequisite_page") };
      ["DotNet", "WebView2", "VS2015RedistX64"].forEach((n) => { out[n] = getProp(n + "64") + "/" + getProp(n + "32"); });
      return out;
    }, [props, reg(registry), scen, STORE]);
  }
  const none = {};
  const all = { [DOTNET]: "528040", [WEBVIEW]: "120.0.2210.91" };
  const v14 = { fileVersions: { [MSVCP]: "14.36.32532.0" } };
  same("prerequisites, 64-bit, none present", await run("a", { osbits: "64" }, none, { office32: false, fileVersions: {} }),
    { missing: 3, skip: "false", DotNet: "true/false", WebView2: "true/false", VS2015RedistX64: "true/false" });
  same("prerequisites, 64-bit with 32-bit Office, none present", await run("b", { osbits: "64" }, none, { office32: true, fileVersions: {} }),
    { missing: 3, skip: "false", DotNet: "true/true", WebView2: "true/true", VS2015RedistX64: "true/true" });
  same("prerequisites, 64-bit, all present", await run("c", { osbits: "64" }, all, Object.assign({ office32: true }, v14)),
    { missing: 0, skip: "true", DotNet: "false/false", WebView2: "false/false", VS2015RedistX64: "false/false" });
  same("prerequisites, 32-bit, none present", await run("d", { osbits: "32" }, none, { office32: false, fileVersions: {} }),
    { missing: 2, skip: "false", DotNet: "false/true", WebView2: "false/true", VS2015RedistX64: "false/false" });
  same("prerequisites, 32-bit with 32-bit Office, all present", await run("e", { osbits: "32" }, all, Object.assign({ office32: true }, v14)),
    { missing: 0, skip: "true", DotNet: "false/false", WebView2: "false/false", VS2015RedistX64: "false/false" });
  const r = await run("f", { osbits: "64" }, { [DOTNET]: "1000000", [WEBVIEW_WOW]: "1.0" }, { office32: false, fileVersions: { [MSVCP]: "14.0.24211.0" } });
  same("prerequisites: release numbers compare as numbers, WOW branch counts, old runtime is missing", r,
    { missing: 1, skip: "false", DotNet: "false/false", WebView2: "false/false", VS2015RedistX64: "true/false" });
  const low = await run("g", { osbits: "64" }, { [DOTNET]: "394802", [WEBVIEW]: "1" }, v14);
  same("prerequisites: a release below the minimum is missing", low.DotNet, "true/false");
  await noFaults(page, "prerequisites");
}

async function navigation(page) {
  await open(page, "pages/Welcome/page.html", { props: { skip_prerequisite_page: "true" } });
  await page.click("#nextButton");
  check("all prerequisites present: Next on Welcome opens Download", await waitTitle(page, "Download"));
  same("Welcome_Next reported", (await calls(page, "trackUserActivity")).map((a) => a[0]).filter((a) => a === "Welcome_Next"), ["Welcome_Next"]);
  await page.evaluate(() => Navigator.previousPage());
  check("all prerequisites present: Back on Download returns to Welcome", await waitTitle(page, "Welcome"));
  await open(page, "pages/Welcome/page.html", { props: { skip_prerequisite_page: "false" } });
  await page.click("#nextButton");
  check("a missing prerequisite: Next on Welcome opens Prerequisite", await waitTitle(page, "Prerequisite"));
  await open(page, "pages/Finish/page.html");
  await page.evaluate(() => Navigator.nextPage());
  check("beyond the last page the window closes", (await calls(page, "closeWindow")).length === 1);
  await open(page, "pages/Welcome/page.html");
  await page.evaluate(() => Navigator.goSpecifiedPage("UserOption"));
  check("a page outside the sequence closes the window", (await calls(page, "closeWindow")).length === 1);
}

async function languages(page) {
  await open(page, "pages/Welcome/page.html", { scenario: { osLang: 0 }, props: { lang: "" } });
  let s = await state(page);
  same("no OS language: the channel's language (1033) is chosen", s.props.lang, "en");
  const options = await page.$$eval("#languageSelect option", (o) => o.map((x) => x.value));
  same("language list shows the offered languages", options, installParams.LANG);
  await open(page, "pages/Welcome/page.html", { scenario: { osLang: 3 } });
  same("OS language German is taken", (await state(page)).props.lang, "de");
  same("texts follow the language", await page.textContent("#nextButton"), de.NextText);
  await open(page, "pages/Welcome/page.html", { scenario: { osLang: 11 } });
  same("a language not offered falls back to the first offered one", (await state(page)).props.lang, "en");
  await page.selectOption("#languageSelect", "fr");
  s = await state(page);
  same("choosing a language stores it and switches the texts", [s.props.selected_lang, s.props.lang, await page.textContent("#nextButton")],
    ["fr", "fr", TEXTS.fr.NextText]);
  const fallback = await page.evaluate(() => {
    setProp("lang", "pt");
    const a = getText("NextText");
    setProp("lang", "regions");
    const b = getText("NextText");
    setProp("lang", "de");
    return [a, b, getText("noSuchKey")];
  });
  same("unknown language code reads the English texts; a missing key is empty", fallback, [en.NextText, en.NextText, ""]);
}

async function utilities(page) {
  await open(page, "pages/Downloading/page.html", { props: { isISO: "true" } });
  const r = await page.evaluate(() => {
    setProp("lang", "en");
    setProp("LANG_ID", "1031");
    return {
      sizes: [getFormatSize(0), getFormatSize(1023), getFormatSize(1024), getFormatSize(1536 * 1024),
        getFormatSize(5 * 1024 * 1024 * 1024), getFormatSize(2048 * 1024 * 1024 * 1024)],
      times: [getFormatTime(0), getFormatTime(3661), getFormatTime(359999), getFormatTime(400000), getFormatTime(-5)],
      params: replaceParams("/L${LANG_ID} x=${NOT_SET} $LANG_ID {LANG_ID} ${LANG_ID}.mst"),
      errors: [1, 2, 3, 4, 6, 7, 8, 9, 10, 12, 13, 5].map(getErrorTextKey),
      errorText: getErrorText(3),
      download: [downloadPercent(100, 50, 200, 1000, 300), downloadPercent(100, 100, 1000, 1000, 0),
        downloadPercent(0, 0, 10, 10, 0), downloadPercent(10, 5, 10, 0, 0)],
      install: [installPercent(100, 50, 240, 720, 480), installPercent(100, 100, 240, 720, 480), installPercent(100, 1, 0, 0, 0)],
      space: [getAvailableSpace("C:"), getAvailableSpace(""), getAvailableSpace("C:\\Nowhere\\x")],
      versions: [compareVersionText("14.10.0", "14.9.0"), compareVersionText("528040", "461808"),
        compareVersionText("1000000", "461808"), compareVersionText("14.0.24212.0", "14.0.24212.0")],
      join: [joinPath("C:\\Dl\\", "Tandora/22/a.msi"), joinPath("C:\\Dl", "\\b.exe")]
    };
  });
  same("getFormatSize steps at 1024 with two decimals", r.sizes,
    ["0 bytes", "1023 bytes", "1.00 KB", "1.50 MB", "5.00 GB", "2048.00 GB"]);
  same("getFormatTime as hh:mm:ss, at most 99 hours", r.times, ["00:00:00", "01:01:01", "99:59:59", "99:59:59", "00:00:00"]);
  same("replaceParams fills ${NAME} only", r.params, "/L1031 x= $LANG_ID {LANG_ID} 1031.mst");
  same("getErrorText keys", r.errors, ["unknowError", "fileNotExist", "diskFull", "failure", "md5Error", "volumeReadOnly",
    "noNetwork", "cancelled", "running", "haveInstalled", "otherInstallingText", "unknowError"]);
  same("getErrorText gives the translated text", r.errorText, en.diskFull);
  same("download percentage of the job", r.download, [40, 100, 0, 0]);
  same("install percentage of the job", r.install, [83, 100, 0]);
  same("free space: short path 0, missing folder asks its drive", r.space, [0, 0, 50e9]);
  same("version texts compare part by part", r.versions, [1, 1, 1, 0]);
  same("paths join with single backslashes", r.join, ["C:\\Dl\\Tandora\\22\\a.msi", "C:\\Dl\\b.exe"]);
}

async function jobs(page) {
  await open(page, "pages/Downloading/page.html", { props: { isISO: "true" } });
  const r = await page.evaluate(() => {
    function names() {
      return Jobs.jobs.map((j) => j.components.map((c) => c.component.name + ":" + c.files.length).join(","));
    }
    setProp("isDownload64", "true");
    ["DotNet64", "VS2015RedistX6464", "ProductName64"].forEach((n) => setProp(n, "true"));
    setProp("WebView264", "false");
    const out = {};
    Jobs.setJobs({ install: false, skipInstalled: false, restart: false });
    out.download = names();
    const job = Jobs.jobs[0];
    out.sizes = [job.totalSize, job.components[2].sizeBefore[0]];
    const walk = [];
    do {
      walk.push(Jobs.currentComponent().name + "#" + Jobs.fileIndex);
    } while (Jobs.next());
    out.walk = walk.length + ":" + walk.slice(0, 3).join(",") + ":" + walk[walk.length - 1];
    Jobs.setJobs({ install: true, skipInstalled: false, restart: false });
    out.install = names();
    out.times = [Jobs.jobs[0].totalTime, Jobs.jobs[0].components[2].timeBefore];
    setProp("isDownload64", "false");
    setProp("ProductName32", "");
    setProp("DotNet32", "true");
    ["WebView232", "VS2015RedistX6432"].forEach((n) => setProp(n, "false"));
    Jobs.setJobs({ install: true, skipInstalled: false, restart: false });
    out.x86 = names();
    Components[0].group = 3;
    setProp("isDownload64", "true");
    Jobs.setJobs({ install: true, skipInstalled: false, restart: false });
    out.groups = names();
    Components[0].group = 0;
    return out;
  });
  same("download jobs: chosen architecture and prerequisites, list order", r.download, ["DotNet:1,VS2015RedistX64:1,ProductName:9"]);
  same("download job size and bytes before the main package", r.sizes, [1444856 + 14572000, 1444856 + 14572000]);
  same("walk: every file in order, then done", r.walk, "11:DotNet#0,VS2015RedistX64#0,ProductName#0:ProductName#8");
  same("install jobs: only files with parameters", r.install, ["DotNet:1,VS2015RedistX64:1,ProductName:1"]);
  same("install job time and time before the main package", r.times, [720, 480]);
  same("32-bit run: the X86 main component and the chosen prerequisites", r.x86, ["DotNet:1,ProductName:1"]);
  same("jobs follow their group numbers", r.groups, ["VS2015RedistX64:1,ProductName:1", "DotNet:1"]);

  const skip = await page.evaluate((k) => {
    const st = JSON.parse(sessionStorage.getItem(k));
    st.registry["HKEY_LOCAL_MACHINE\\SOFTWARE\\ZARVO\\TANDORA\\22|MainDir"] = "C:\\Program Files\\Tandora";
    st.registry["HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\NET FRAMEWORK SETUP\\NDP\\V4\\FULL|Release"] = "528040";
    sessionStorage.setItem(k, JSON.stringify(st));
    setProp("isDownload64", "true");
    ["DotNet64", "ProductName64"].forEach((n) => setProp(n, "true"));
    setProp("VS2015RedistX6464", "");
    const n = Jobs.setJobs({ install: false, skipInstalled: true, restart: false });
    const a = [n, Jobs.jobs.length ? Jobs.jobs[0].components.map((c) => c.component.name).join(",") : "", getProp("ProductName64")];
    setProp("ProductName64", "true");
    Jobs.setJobs({ install: false, skipInstalled: false, restart: true });
    a.push(Jobs.jobs.length);
    return a;
  }, STORE);
  same("skip-installed drops an installed main component and marks it false; prerequisites stay", skip,
    [1, "DotNet,VS2015RedistX64", "false", 0]);
  await noFaults(page, "jobs");
}

async function downloadPage(page) {
  await open(page, "pages/Download/page.html");
  same("download folder mode Desktop", await page.inputValue("#folderInput"), "C:\\Users\\ann\\Desktop");
  let s = await state(page);
  same("64-bit system without Office downloads 64-bit", [s.props.isDownload64, s.props.ProductName64, s.props.IsSkipInstalled], ["true", "true", "false"]);
  for (const [mode, want] of [["Current", "C:\\Users\\ann\\Downloads"], ["Temp", "C:\\Temp\\Tandora\\"], ["Default", "C:\\SampleStub\\"]]) {
    await open(page, "pages/Download/page.html", { scenario: { overrides: { Feature_DownloadDirMode: mode } } });
    same(`download folder mode ${mode}`, await page.inputValue("#folderInput"), want);
  }
  await open(page, "pages/Download/page.html", { scenario: { office32: true } });
  s = await state(page);
  same("64-bit system with 32-bit Office gets the 32-bit main package", [s.props.isDownload64, s.props.ProductName32, s.props.ProductName64 || ""], ["false", "true", ""]);

  await open(page, "pages/Download/page.html", { scenario: { freeSpace: { "C:\\": 1000, "D:\\": 50e9 } } });
  const disabled = await page.evaluate(() => [ButtonConttoller.isEnabled("#downloadOnlyButton"), ButtonConttoller.isEnabled("#downloadInstallButton")]);
  same("too little space disables both download buttons", disabled, [false, false]);
  const req = await page.textContent("#requiredSpace");
  check("required space is shown", req.indexOf("MB") > 0, req);
  await page.fill("#folderInput", "D:\\Setup");
  await page.dispatchEvent("#folderInput", "change");
  same("a folder with space enables them again", await page.evaluate(() => ButtonConttoller.isEnabled("#downloadInstallButton")), true);
  await page.fill("#folderInput", "C:");
  await page.dispatchEvent("#folderInput", "change");
  check("a two-character path counts as invalid with no space", await page.isVisible("#pathInvalid") &&
    !(await page.evaluate(() => ButtonConttoller.isEnabled("#downloadOnlyButton"))));
  await page.fill("#folderInput", "D:\\Setup");
  await page.dispatchEvent("#folderInput", "change");
  await page.click("#downloadOnlyButton");
  check("Download only moves on", await waitTitle(page, "Downloading"));
  s = await state(page);
  same("Download only: folder created, flag and activity", [s.props.isDownloadOnly, s.props.downloadPath,
    s.scenario.folders.indexOf("D:\\Setup") >= 0, s.calls.some((c) => c.m === "trackUserActivity" && c.a[0] === "Download_DownloadOnly")],
  ["true", "D:\\Setup", true, true]);
  await noFaults(page, "download page");
}

const MAIN64 = "Tandora\\$BUILDNUMBER$\\64Bit\\Tandora22_x64.msi";
const MAIN_URL = "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/Tandora22_x64.msi";
const chosen64 = { isDownload64: "true", DotNet64: "false", WebView264: "false", VS2015RedistX6464: "false", ProductName64: "true",
  downloadPath: "C:\\Dl", IsSkipInstalled: "false" };

async function downloadingPage(page) {
  await open(page, "pages/Downloading/page.html", { props: chosen64, scenario: { remoteSizes: { [MAIN_URL]: 1000000 } } });
  const sized = await calls(page, "initDownloadSize");
  same("files without a size are sized first", [sized.length, sized[0]], [9, [MAIN_URL, "C:\\Dl\\" + MAIN64, true]]);
  let dl = await calls(page, "download");
  same("download arguments: url, file below the folder, no CRC, secure, resumable", dl[0],
    [MAIN_URL, "C:\\Dl\\" + MAIN64, "", true, true]);
  check("the file's folder is created first", (await state(page)).scenario.folders.indexOf("C:\\Dl\\Tandora\\$BUILDNUMBER$\\64Bit") >= 0);
  await fire(page, "download", 10, 1000000, 500000);
  await page.evaluate(() => downloadProgress.tick());
  const label = await page.textContent("#progressPercent");
  same("progress shows the job percentage", label, en.complete.replace("%d%", "50%"));
  await fire(page, "download", 0, 0, 0);
  dl = await calls(page, "download");
  same("success moves to the next file", dl.length === 2 && dl[1][0].endsWith("/1033.mst"), true);
  await fire(page, "download", 4, 0, 0);
  check("a download error with Essential on opens the Error page", await waitTitle(page, "Finish"));
  let s = await state(page);
  same("error page: status 6 and the failure text", [s.props.Config_Status, s.props.errorMessage, (await calls(page, "setInstallStatus")).pop()],
    ["6", en.failure, [6]]);
  same("error page shows the message", await page.textContent("#errorMessage"), en.failure);

  await open(page, "pages/Downloading/page.html", { props: chosen64, scenario: { remoteSizes: { [MAIN_URL]: 10 } } });
  await fire(page, "download", 12, 0, 0);
  check("everything installed already: Error page", await waitTitle(page, "Finish"));
  same("everything installed already: status 1", (await calls(page, "setInstallStatus")).pop(), [1]);

  await open(page, "pages/Downloading/page.html", { props: Object.assign({}, chosen64, { isDownloadOnly: "true" }), scenario: { remoteSizes: { [MAIN_URL]: 10 } } });
  await page.click("#pauseButton");
  same("Pause stops the download", (await calls(page, "stopDownload")).length, 1);
  await fire(page, "download", 5, 0, 0);
  same("an aborted download reports status 3", (await calls(page, "setInstallStatus")).pop(), [3]);
  await page.click("#startButton");
  dl = await calls(page, "download");
  same("Start begins the step again from the first file", dl[dl.length - 1][1], "C:\\Dl\\" + MAIN64);
  for (let i = 0; i < 9; i++) await fire(page, "download", 0, 0, 0);
  same("a finished download shows the job complete, not an empty bar, and nothing to pause, before the page moves on",
    [await page.title(), await page.textContent("#progressPercent"), await page.evaluate(() => ButtonConttoller.isEnabled("#pauseButton"))],
    ["Downloading", en.complete.replace("%d%", "100%"), false]);
  check("download only: Finish after the last file", await waitTitle(page, "Finish"));
  same("download only: status 5", (await calls(page, "setInstallStatus")).pop(), [5]);

  await open(page, "pages/Downloading/page.html", { props: { isDownload64: "true", ProductName64: "true" }, scenario: { freeSpace: { "C:\\": 10 } } });
  check("defaulted folder without space: Error page", await waitTitle(page, "Finish"));
  same("defaulted folder without space: disk-full text", (await state(page)).props.errorMessage, en.diskFull);
  await noFaults(page, "downloading");
}

async function installingPage(page) {
  const props = Object.assign({}, chosen64, { lang: "de", installPath: "D:\\Apps\\Tandora" });
  await open(page, "pages/Installing/page.html", { props, scenario: { lastInstallError: 1638 }, registry: {
    ["HKEY_LOCAL_MACHINE\\SOFTWARE\\ZARVO\\TANDORA\\22|MainDir"]: "C:\\Program Files\\Tandora\\" } });
  const inst = await calls(page, "install");
  let s = await state(page);
  // The install folder stays the property "installPath": the stub quotes it for the installer.
  same("install arguments: package, parameters with EXE_PARAMETERS and no folder, time", inst[0],
    ["C:\\Dl\\" + MAIN64, "/qf TRANSFORMS=1031.mst HIDE_FINISH=1 ADDDESKTOPICON=1 ALLUSERS=1 REBOOT=ReallySuppress /L1031 /vHIDE_FINISH=1", 240]);
  same("install and download folders recorded", [s.registry[BASE.toUpperCase() + "|InstallPath"], s.registry[BASE.toUpperCase() + "|DownloadPath"]],
    ["D:\\Apps\\Tandora", "C:\\Dl"]);
  await fire(page, "install", 10, 100, 40);
  await fire(page, "install", 1, 0, 0);
  s = await state(page);
  same("1638 counts as installed; the program path is kept", s.props.startProgram, "C:\\Program Files\\Tandora\\Tandora.exe");
  same("the finished install shows 100 % while the page waits", await page.textContent("#progressPercent"),
    de.complete.replace("%d%", "100%"));
  check("after the last package: Finish", await waitTitle(page, "Finish"));
  same("finish reports status 1", (await calls(page, "setInstallStatus")).pop(), [1]);
  await page.click("#finishButton");
  s = await state(page);
  same("Finish starts the product, then closes", s.calls.filter((c) => /startProgram|closeWindow/.test(c.m)).map((c) => [c.m].concat(c.a)),
    [["startProgram", "C:\\Program Files\\Tandora\\Tandora.exe", ""], ["closeWindow"]]);

  await open(page, "pages/Installing/page.html", { props });
  await fire(page, "install", 4, 0, 0);
  check("an install error opens the Error page", await waitTitle(page, "Finish"));
  same("install error: status 2", (await calls(page, "setInstallStatus")).pop(), [2]);
  // 1638 left by an earlier package does not make a refused one installed
  await open(page, "pages/Installing/page.html", { props, scenario: { lastInstallError: 1638 } });
  await fire(page, "install", 6, 0, 0);
  check("a refused package after a 1638 opens the Error page", await waitTitle(page, "Finish"));
  same("a refused package after a 1638: status 2, the refusal's text", [(await calls(page, "setInstallStatus")).pop(),
    (await state(page)).props.errorMessage], [[2], de.md5Error]);

  const withPrereq = Object.assign({}, props, { DotNet64: "true" });
  await open(page, "pages/Installing/page.html", { props: withPrereq });
  await fire(page, "install", 11, 0, 0);
  same("a reboot request is deferred to the end", (await calls(page, "install")).length, 2);
  await fire(page, "install", 0, 0, 0);
  await waitCall(page, "terminateWindow");
  s = await state(page);
  const tail = s.calls.filter((c) => /runAfterReboot|restartSystem|terminateWindow/.test(c.m)).map((c) => c.m);
  same("after the last package: resume registered, restart asked, process ended", tail, ["runAfterReboot", "restartSystem", "terminateWindow"]);
  same("resume record holds the choices; finished components are gone", [
    s.registry[RECORD.toUpperCase() + "|OS"], s.registry[RECORD.toUpperCase() + "|Lang"], s.registry[RECORD.toUpperCase() + "|Directory"],
    s.registry[RECORD.toUpperCase() + "|Components"], (await calls(page, "runAfterReboot"))[0]],
  ["64", "de", "C:\\Dl", "", ["INSTALLING"]]);

  await open(page, "pages/Installing/page.html", { props: { lang: "en" }, scenario: { resumeMode: 2 }, registry: {
    [RECORD.toUpperCase() + "|OS"]: "64", [RECORD.toUpperCase() + "|Lang"]: "de", [RECORD.toUpperCase() + "|Directory"]: "E:\\Pkg",
    [RECORD.toUpperCase() + "|IsISO"]: "false", [RECORD.toUpperCase() + "|Components"]: "ProductName64;" } });
  s = await state(page);
  const resumed = await calls(page, "install");
  same("resumed run: language, folder and architecture come back", [s.props.lang, s.props.downloadPath, s.props.isDownload64], ["de", "E:\\Pkg", "true"]);
  same("resumed run: installs only what the record lists", resumed.map((a) => a[0]), ["E:\\Pkg\\" + MAIN64]);

  // The last package asked for the restart: the record lists nothing, the installation is complete.
  await open(page, "pages/Installing/page.html", { props: { lang: "en" }, scenario: { resumeMode: 2 }, registry: {
    [RECORD.toUpperCase() + "|OS"]: "64", [RECORD.toUpperCase() + "|Directory"]: "E:\\Pkg", [RECORD.toUpperCase() + "|Components"]: "" } });
  check("resumed run with nothing left: Finish", await waitTitle(page, "Finish"));
  same("resumed run with nothing left: nothing installed, status 1 (not cancelled)",
    [(await calls(page, "install")).length, (await calls(page, "setInstallStatus")).pop()], [0, [1]]);
  await noFaults(page, "installing");
}

// Page rules of the whole flow: silent launch, reboot at once, non-essential failures, the choice
// pages, the end pages and closing. Each row names the page, its state and what must follow.
async function pageRules(page) {
  const chosen = Object.assign({}, chosen64, { DotNet64: "true", lang: "en" });
  // silent launch: no page waits for a person
  const silentRows = [
    ["Welcome", "pages/Welcome/page.html", { skip_prerequisite_page: "true" }, "Download"],
    ["Prerequisite", "pages/Prerequisite/page.html", { DotNet64: "true" }, "Download"],
    ["Download", "pages/Download/page.html", {}, "Downloading"],
    ["Finish", "pages/Finish/page.html", { Config_Status: "1" }, null],
    ["Error", "pages/Error/page.html", { Config_Status: "6", errorMessage: "x" }, null]
  ];
  for (const [name, url, props, next] of silentRows) {
    await open(page, url, { props, scenario: { silent: true } });
    if (next) {
      check(`silent launch: ${name} goes on to ${next} by itself`, await waitVisited(page, next));
    } else {
      await waitCall(page, "closeWindow");
      const st = await state(page);
      same(`silent launch: ${name} reports its status and closes without showing the window`,
        st.calls.filter((c) => /setInstallStatus|showWindow|closeWindow/.test(c.m)).map((c) => [c.m].concat(c.a)),
        [["setInstallStatus", Number(props.Config_Status)], ["closeWindow"]]);
    }
  }
  await open(page, "Load.html", { scenario: { silent: true } });
  check("silent launch: the start page hides the window and goes on", await waitTitle(page, "Initialization") &&
    (await calls(page, "hideWindow")).length === 1);
  same("silent launch: Download chose download and install", (await (async () => {
    await open(page, "pages/Download/page.html", { scenario: { silent: true } });
    await waitTitle(page, "Downloading");
    return (await state(page)).props.isDownloadOnly;
  })()), "false");

  // a restart asked for by a package, not deferred: resume registered at once, nothing else installed
  await open(page, "pages/Installing/page.html", { props: chosen, scenario: { overrides: { Feature_DeferRebootToEnd: false } } });
  await fire(page, "install", 11, 0, 0);
  let st = await state(page);
  same("reboot at once: resume, restart question, end; no further package", [
    st.calls.filter((c) => /runAfterReboot|restartSystem|terminateWindow/.test(c.m)).map((c) => [c.m].concat(c.a)),
    (await calls(page, "install")).length, st.registry[RECORD.toUpperCase() + "|Components"]],
  [[["runAfterReboot", "INSTALLING"], ["restartSystem", en.restartInformation, en.information], ["terminateWindow"]], 1, "ProductName64;"]);

  // non-essential failures: a message, then the next file or package
  const notEssential = { overrides: { Config_Essential: false }, remoteSizes: { [MAIN_URL]: 10 } };
  await open(page, "pages/Downloading/page.html", { props: chosen, scenario: notEssential });
  await fire(page, "download", 4, 0, 0);
  st = await state(page);
  same("download failure, not essential: message, status 6 kept, next file, no Error page",
    [(await calls(page, "messageBox")), st.props.Config_Status, (await calls(page, "download")).length, await page.title()],
    [[[en.failure, en.error]], "6", 2, "Downloading"]);
  await open(page, "pages/Installing/page.html", { props: chosen, scenario: notEssential });
  await fire(page, "install", 4, 0, 0);
  same("install failure, not essential: message and the next package", [await calls(page, "messageBox"), (await calls(page, "install")).length],
    [[[en.failure, en.error]], 2]);
  await fire(page, "install", 0, 0, 0);
  check("install failure, not essential: the run still reaches Finish", await waitTitle(page, "Finish"));
  same("install failure, not essential: Finish reports status 2", (await calls(page, "setInstallStatus")).pop(), [2]);

  // The shipped configuration, whole: its four choice settings at their values, and no choice shown.
  await open(page, "pages/Download/page.html");
  same("shipped settings: architecture, patches, modules, skip-installed, and nothing to choose on Download",
    [await page.evaluate(() => [Config_OSArchitectureSelection, Config_PatchOption, Feature_ModuleOption, Feature_SkipInstalled]),
      await page.isVisible("#architectureChoice"), await page.isVisible("#componentPanel")],
    [["Disable", "Disable", false, true], false, false]);

  // Config_OSArchitectureSelection: [mode, system bits, 32-bit Office, choice shown, 64-bit packages]
  const archRows = [["Disable", "64", true, false, "false"], ["Force", "64", true, false, "true"], ["Force", "32", false, false, "false"],
    ["UserOption", "64", true, true, "true"], ["UserOption", "32", false, false, "false"]];
  for (const [mode, bits, office32, shown, is64] of archRows) {
    await open(page, "pages/Download/page.html", { props: { osbits: bits }, scenario: { office32, overrides: { Config_OSArchitectureSelection: mode } } });
    same(`architecture ${mode} on a ${bits}-bit system${office32 ? " with a 32-bit Office" : ""}`,
      [await page.isVisible("#architectureChoice"), (await state(page)).props.isDownload64], [shown, is64]);
  }
  await open(page, "pages/Download/page.html", { scenario: { overrides: { Config_OSArchitectureSelection: "UserOption" } } });
  await page.check("#architectureChoice input[value='32']");
  st = await state(page);
  same("architecture UserOption: the 32-bit choice takes the 32-bit product", [st.props.isDownload64, st.props.ProductName32], ["false", "true"]);

  // Config_PatchOption and Feature_ModuleOption with a patch and an optional module in the list:
  // [settings, listed (name, ticked, locked), downloaded components, after unticking what is free]
  const extra = (name, type, registry) => ({ group: 0, sku: "Pro", type, name, estimatedTime: 10, registry,
    files: [{ name: `Tandora\\${name}.exe`, url: `https://download.tandora.invalid/${name}.exe`, param: "/q", size: 1000, crc: "" }] });
  const sampleKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\TandoraSamples";
  const list = components().concat([extra("HotFix", 2 | 16), extra("Samples", 2 | 4, { key: sampleKey, value: "Dir" })]);
  const optionRows = [
    [{ Config_PatchOption: "Disable" }, {}, [], "ProductName,Samples", null],
    [{ Config_PatchOption: "ForceHidden" }, {}, [], "ProductName,HotFix,Samples", null],
    [{ Config_PatchOption: "ForceShow" }, {}, [["HotFix", true, true]], "ProductName,HotFix,Samples", null],
    [{ Config_PatchOption: "UserOption" }, {}, [["HotFix", true, false]], "ProductName,HotFix,Samples", "ProductName,Samples"],
    [{ Feature_ModuleOption: true }, {}, [["ProductName", true, true], ["Samples", true, false]], "ProductName,Samples", "ProductName"],
    [{ Feature_ModuleOption: true }, { [sampleKey + "|Dir"]: "C:\\Samples" }, [["ProductName", true, true]], "ProductName", null]
  ];
  for (const [settings, registry, listed, jobs, afterUntick] of optionRows) {
    const label = JSON.stringify(settings) + (Object.keys(registry).length ? " with the module installed" : "");
    await open(page, "pages/Download/page.html", { registry, scenario: { overrides: Object.assign({ Components: list }, settings) } });
    const downloaded = () => page.evaluate(() => {
      Jobs.setJobs({ install: false, skipInstalled: isPropTrue("IsSkipInstalled"), restart: false });
      return Jobs.jobs[0].components.filter((c) => !hasFlag(c.component, ComponentType.Prerequiste))
        .map((c) => c.component.name).join(",");
    });
    same(`${label}: listed on Download, then downloaded`, [await page.$$eval("#componentList input", (boxes) =>
      boxes.map((b) => [b.getAttribute("data-name"), b.checked, b.disabled])), await downloaded()], [listed, jobs]);
    if (afterUntick) {
      await page.uncheck("#componentList input:not([disabled])");
      same(`${label}: unticked, it is not downloaded`, await downloaded(), afterUntick);
    }
  }

  // Prerequisite: a selectable one can be unticked; MustSelect ones stay ticked and disabled
  const freeWebView = components().map((c) => c.name === "WebView2" ? Object.assign(c, { type: c.type & ~8 }) : c);
  await open(page, "pages/Prerequisite/page.html", { props: { DotNet64: "true", WebView264: "true", WebView232: "false", skip_prerequisite_page: "false" },
    scenario: { overrides: { Components: freeWebView } } });
  same("prerequisites listed: MustSelect ticked and disabled, the other ticked and free",
    await page.$$eval("#prerequisiteList input", (boxes) => boxes.map((b) => [b.getAttribute("data-name"), b.checked, b.disabled])),
    [["DotNet", true, true], ["WebView2", true, false]]);
  await page.uncheck("#prerequisiteList input[data-name=WebView2]");
  await page.click("#nextButton");
  check("Prerequisite Next: Download", await waitTitle(page, "Download"));
  st = await state(page);
  same("an unticked prerequisite is dropped, the MustSelect one stays", [st.props.WebView264, st.props.WebView232, st.props.DotNet64],
    ["false", "false", "true"]);

  // Agreement: the language's own text, else English; shown once when so configured
  const agreementKey = (BASE + "\\ResumeRecord\\" + installParams.PRODUCT_FILE_NAME).toUpperCase() + "|skipAcceptedEula";
  const withAgreement = { Config_SequencePages: ["Initialization", "Welcome", "Agreement", "Download", "Downloading", "Installing", "Finish"],
    Feature_SkipIfAccepted: "Enable" };
  const eulaRows = [["de", true, "eula/EULA_de.html"], ["ru", false, "eula/EULA_en.html"]];
  for (const [code, present, src] of eulaRows) {
    const files = present ? { [`C:\\Temp\\Tandora\\res\\pages\\Agreement\\eula\\EULA_${code}.html`]: 1 } : {};
    await open(page, "pages/Agreement/page.html", { props: { lang: code }, scenario: { files } });
    same(`agreement in ${code}: ${src}`, await page.getAttribute("#eulaFrame", "src"), src);
  }
  // keys typed while reading the agreement land in its frame: Esc still closes, asked first
  await open(page, "pages/Agreement/page.html");
  const eula = await (await page.$("#eulaFrame")).contentFrame();
  await eula.waitForLoadState("load");
  await settleTasks(page);
  await eula.click("h2");
  await page.keyboard.press("Escape");
  same("Esc inside the agreement's frame: close asked, status 3, window closed",
    [(await calls(page, "confirmMessageBox")).length, (await calls(page, "setInstallStatus")).pop(), (await calls(page, "closeWindow")).length],
    [1, [3], 1]);
  await open(page, "pages/Agreement/page.html", { scenario: { overrides: withAgreement } });
  check("agreement: Next waits for the acceptance", !(await page.evaluate(() => ButtonConttoller.isEnabled("#nextButton"))));
  await page.check("#acceptBox");
  await page.click("#nextButton");
  check("agreement accepted: next page", await waitTitle(page, "Download"));
  st = await state(page);
  same("agreement accepted: choice and acceptance kept", [st.props.select_agreement, st.registry[agreementKey]], ["true", "true"]);
  await page.evaluate(() => Navigator.goSpecifiedPage("Agreement"));
  check("agreement accepted before: the page passes straight on", await waitTitle(page, "Download"));
  same("agreement accepted before: no second acceptance asked", (await calls(page, "trackUserActivity")).filter((a) => a[0] === "Agreement_Next").length, 1);

  // Finish: launch box, thank-you page from the install parameters, else from the language's text
  const program = "C:\\Program Files\\Tandora\\Tandora.exe";
  const typ = "https://www.tandora.invalid/thanks";
  const finishRows = [
    ["ticked, parameters' page", true, typ, "", [["openPage", typ], ["startProgram", program, ""], ["closeWindow"]]],
    ["unticked, language's page", false, "", typ + "/de", [["openPage", typ + "/de"], ["closeWindow"]]],
    ["no page at all", false, "", "", [["closeWindow"]]]
  ];
  for (const [label, ticked, paramsUrl, langUrl, want] of finishRows) {
    await open(page, "pages/Finish/page.html", { props: { lang: "de", startProgram: program, Config_Status: "1" },
      scenario: { overrides: { installParams: { TYP_URL: paramsUrl }, Config_StubMultiLangs: { de: Object.assign({}, de, { TYP_URL: langUrl }) } } } });
    if (!ticked) await page.uncheck("#launchBox");
    await page.click("#finishButton");
    st = await state(page);
    same(`Finish, ${label}`, st.calls.filter((c) => /openPage|startProgram|closeWindow/.test(c.m)).map((c) => [c.m].concat(c.a)), want);
  }
  for (const [option, key] of [["Repair", "repairFinishText"], ["Remove", "uninstallFinishText"], ["Modify", "uninstallFinishText"]]) {
    await open(page, "pages/Finish/page.html", { props: { uninstallOption: option, Config_Status: "1" } });
    same(`Finish after ${option}: ${key}`, await page.textContent("#header .subtitle"), en[key]);
  }

  // the progress panel follows each progress page's own switch
  for (const [name, url] of [["Downloading", "pages/Downloading/page.html"], ["Installing", "pages/Installing/page.html"]]) {
    const shown = [];
    for (const on of [true, false]) {
      await open(page, url, { props: chosen, scenario: { overrides: { Feature_CheckingProgressBar: on }, remoteSizes: { [MAIN_URL]: 10 } } });
      shown.push(await page.isVisible("#progressPanel"));
    }
    same(`${name}: progress panel shown only with its switch on`, shown, [true, false]);
  }

  // Close: confirmed on pages that abandon the run, status 3 on both start pages
  const closeRows = [["Initialization", "pages/Initialization/page.html", true], ["EmbargoedWarning", "pages/EmbargoedWarning/page.html", false]];
  for (const [name, url, confirms] of closeRows) {
    await open(page, url, { props: { Country: "Atlantis" }, scenario: { confirmAnswer: false } });
    await page.click(".closeButton");
    same(`${name}: a refused confirmation keeps the window`, (await calls(page, "closeWindow")).length, confirms ? 0 : 1);
    if (confirms) {
      await patchScenario(page, { confirmAnswer: true });
      await page.click(".closeButton");
    }
    st = await state(page);
    same(`${name} Close: confirmation asked ${confirms ? "once" : "never"}, status 3, window closed`,
      [(await calls(page, "confirmMessageBox")).length, (await calls(page, "setInstallStatus")).pop(), (await calls(page, "closeWindow")).length],
      [confirms ? 2 : 0, [3], 1]);
  }
  await noFaults(page, "page rules");
}

// Checks that something does NOT happen, and the pages' own delays, under a clock the test moves:
// every timer a page set runs before the check, so a slow page cannot pass by being late.
async function timedRules(browser) {
  const context = await newContext(browser);
  await context.clock.install();
  const page = await context.newPage();
  const LATER = 60000;
  // Navigator.go is the pages' one way to another page; the marker shows the document is the same.
  async function watchNavigation() {
    await page.evaluate(() => {
      window.__marker = 1;
      const go = Navigator.go;
      Navigator.go = function (name) {
        window.__went = (window.__went || []).concat(name);
        go(name);
      };
    });
  }
  async function stayed() {
    try {
      await page.clock.runFor(LATER);
      return await page.evaluate(() => window.__marker === 1 && window.__went === undefined);
    } catch (e) {
      return false; // the page was replaced while the clock ran
    }
  }

  await open(page, "pages/Initialization/page.html");
  await watchNavigation();
  await fire(page, "updateInstallerList", 10, 100, 50);
  const stays = await stayed();
  check("initialization: stays while the list update runs", stays);
  if (stays) {
    await fire(page, "updateInstallerList", 0, 0, 0);
    await page.clock.runFor(LATER);
    await page.waitForURL(/Welcome\/page\.html$/);
  }

  await open(page, "pages/Download/page.html", { scenario: { freeSpace: { "C:\\": 1000 } } });
  await watchNavigation();
  await page.click("#downloadInstallButton", { force: true });
  check("a disabled button does nothing", await stayed() &&
    (await calls(page, "trackUserActivity")).every((a) => a[0] !== "Download_Download/Install"));

  // SelfUpdate: asks after a second; no update continues where the run stands, a failed one says so
  for (const [mode, next] of [[0, "Welcome"], [1, "Downloading"], [2, "Installing"]]) {
    await open(page, "pages/SelfUpdate/page.html", { props: { downloadPath: "C:\\Dl" }, scenario: { resumeMode: mode } });
    await page.clock.runFor(1000);
    await page.waitForURL(new RegExp(`${next}/page\\.html$`));
    same(`self-update, none needed, resume mode ${mode}: ${next}, window back to the page size`,
      [(await calls(page, "isNeedSelfUpdate")).length, (await calls(page, "setWindowSize")).pop()], [1, [655, 513]]);
  }
  const updateRows = [["fails", 4, [[en.updateErrorText, en.error]]], ["succeeds", 0, []]];
  for (const [label, result, messages] of updateRows) {
    await open(page, "pages/SelfUpdate/page.html", { scenario: { needSelfUpdate: true } });
    await page.clock.runFor(1000);
    same(`self-update ${label}: stub download started`, (await calls(page, "selfUpdate")).length, 1);
    await page.evaluate(() => { setProp("downloadTotal", "200"); setProp("downloadCurrent", "50"); });
    await fire(page, "selfUpdate", 10, 200, 50);
    await page.clock.runFor(400);
    same(`self-update ${label}: progress bar value`, await page.getAttribute(".progressTrack", "aria-valuenow"), "25");
    await fire(page, "selfUpdate", result, 0, 0);
    same(`self-update ${label}: message, then the window closes`, [await calls(page, "messageBox"), (await calls(page, "closeWindow")).length],
      [messages, 1]);
  }
  await noFaults(page, "timed rules");
  await context.close();
}

async function screenshots(browser) {
  fs.mkdirSync(shotDir, { recursive: true });
  for (const lang of ["en", "de"]) {
    const context = await newContext(browser);
    const page = await context.newPage();
    for (const [name, url, o] of allPages(lang)) {
      await open(page, url, o);
      if (o.after) await o.after(page);
      await settleTasks(page);
      const clip = name === "SelfUpdate" ? { x: 0, y: 0, width: 464, height: 124 } : undefined;
      await page.screenshot({ path: path.join(shotDir, `${name}_${lang}.png`), clip });
      check(`screenshot ${name} ${lang}: page rendered with its title`, (await page.title()).length > 0 && (await state(page)).faults.length === 0);
    }
    await context.close();
  }
}

// On a screen too small for the window the pages scale down; the picture behind them must scale
// with them, or the header band overlaps the content. Judged by the pixels of a screenshot.
async function smallScreen(browser) {
  const context = await newContext(browser, { width: 524, height: 410 }, { width: 1024, height: 600 });
  const page = await context.newPage();
  await open(page, "pages/Welcome/page.html", { props: { lang: "en" } });
  const shot = await page.screenshot({ path: path.join(shotDir, "Welcome_small_screen.png") });
  await page.goto(ORIGIN + "__blank");
  const brightness = await page.evaluate(async ([png, points]) => {
    const image = new Image();
    image.src = "data:image/png;base64," + png;
    await image.decode();
    const canvas = document.createElement("canvas");
    canvas.width = image.width;
    canvas.height = image.height;
    const g = canvas.getContext("2d");
    g.drawImage(image, 0, 0);
    return points.map(([x, y]) => {
      const d = g.getImageData(x, y, 1, 1).data;
      return Math.round((d[0] + d[1] + d[2]) / 3);
    });
  }, [shot.toString("base64"), [[300, 100], [300, 128], [300, 145]]]);
  same("small screen: the page scaled by 0.8 with its header band (dark above 120 px, light below)",
    brightness.map((b) => b > 200), [false, true, true]);
  await context.close();
}

function newContext(browser, viewport, screen) {
  return harnessContext(browser, { viewport: viewport || { width: 655, height: 513 }, screen: screen || { width: 1280, height: 1024 } });
}

run(async (browser) => {
  translations();
  deploymentValues();
  await onOnePage(browser, [loadPage, prerequisiteMarks, navigation, languages, utilities, jobs, downloadPage, downloadingPage, installingPage,
    pageRules]);
  await group(timedRules, browser);
  await group(screenshots, browser);
  await group(smallScreen, browser);
});
