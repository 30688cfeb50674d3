// The pages for everyone: axe-core (WCAG 2.1 A and AA) on every page in every language, the
// document language, a whole installation by keyboard only, and high contrast and high DPI.
//   node accessibility.js STAGED_BUNDLE_DIR SCREENSHOT_DIR
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");
const { harness, open, state, patchScenario, calls, fire, waitTitle, waitCall } = require("./page_harness");

const bundleDir = path.resolve(process.argv[2] || "");
const shotDir = path.resolve(process.argv[3] || path.join(os.tmpdir(), "bundle-shots"));
const { check, same, group, TEXTS, components, allPages, newContext, onOnePage, run } = harness(bundleDir);
const axeSource = fs.readFileSync(require.resolve("axe-core/axe.min.js"), "utf8");
const CODES = Object.keys(TEXTS.regions);
// BCP 47 tags of the bundle's language codes.
const TAGS = { en: "en", fr: "fr", de: "de", jp: "ja", ru: "ru", tw: "zh-TW", zh: "zh-CN", cs: "cs", da: "da", es: "es",
  fi: "fi", it: "it", nl: "nl", pl: "pl", sv: "sv" };
// Text that does not show whole: outside the window, or cut by a box that hides its overflow.
function clippedText() {
  const out = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const el = node.parentElement;
    if (!node.textContent.trim() || el.closest(".visuallyHidden, script, noscript") || el.getClientRects().length === 0) continue;
    const range = document.createRange();
    range.selectNodeContents(node);
    const r = range.getBoundingClientRect();
    const where = `${el.id || el.className || el.tagName} "${node.textContent.trim().slice(0, 30)}"`;
    if (r.left < -1 || r.top < -1 || r.right > window.innerWidth + 1 || r.bottom > window.innerHeight + 1) {
      out.push(`${where} outside the window`);
      continue;
    }
    for (let box = el; box && box !== document.body; box = box.parentElement) {
      const cs = getComputedStyle(box);
      if (cs.overflowX === "visible" && cs.overflowY === "visible") continue;
      const b = box.getBoundingClientRect();
      if (r.left < b.left - 1 || r.top < b.top - 1 || r.right > b.right + 1 || r.bottom > b.bottom + 1) {
        out.push(`${where} cut by ${box.id || box.className || box.tagName}`);
        break;
      }
    }
  }
  return out;
}

async function runAxe(page) {
  for (const frame of page.frames()) await frame.evaluate(axeSource);
  return page.evaluate(async () => {
    const r = await window.axe.run(document, { runOnly: { type: "tag", values: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"] },
      resultTypes: ["violations"] });
    return r.violations.map((v) => ({ id: v.id, impact: v.impact, nodes: v.nodes.map((n) => n.target.join(" ")).slice(0, 3) }));
  });
}

// axe-core on every page in every language; serious and critical findings fail.
async function axeAll(browser) {
  const context = await newContext(browser);
  const page = await context.newPage();
  page.on("dialog", (d) => d.dismiss());
  const bad = [], counts = {}, clipped = [];
  for (const code of CODES) {
    for (const [name, url, o] of allPages(code)) {
      await open(page, url, Object.assign({ reuse: true }, o));
      if (o.after) await o.after(page);
      for (const c of await page.evaluate(clippedText)) clipped.push(`${name} ${code}: ${c}`);
      for (const v of await runAxe(page)) {
        counts[v.impact] = (counts[v.impact] || 0) + 1;
        if (v.impact === "serious" || v.impact === "critical") bad.push(`${name} ${code}: ${v.id} (${v.impact}) ${v.nodes.join(", ")}`);
      }
    }
  }
  console.log(`axe findings by impact over ${CODES.length} languages: ${JSON.stringify(counts)}`);
  same("axe: no serious or critical finding on any page in any language", bad, []);
  same("no text cut off on any page in any language", clipped, []);
  await context.close();
}

// <html lang> follows the chosen language, on opening and when the user picks another one.
async function documentLanguage(page) {
  const found = [];
  for (const code of CODES.concat(["pt"])) {
    await open(page, "pages/Download/page.html", { props: { lang: code } });
    found.push(await page.getAttribute("html", "lang"));
  }
  same("html lang of every language code (an unknown one reads English)", found, CODES.map((c) => TAGS[c]).concat(["en"]));
  await open(page, "pages/Welcome/page.html");
  const langs = [];
  for (const code of ["jp", "de", "zh"]) {
    await page.selectOption("#languageSelect", code);
    langs.push(await page.getAttribute("html", "lang"));
  }
  same("choosing a language on Welcome changes html lang with the texts", langs, ["ja", "de", "zh-CN"]);
}

// The bar carries its value at every tick; the spoken line changes once per tenth only.
async function progressAnnounced(page) {
  await open(page, "pages/Installing/page.html", { props: { isDownload64: "true", ProductName64: "true", DotNet64: "false",
    WebView264: "false", VS2015RedistX6464: "false", downloadPath: "C:\\Dl" } });
  const seen = await page.evaluate(() => {
    const values = [], spoken = [];
    for (let k = 1; k <= 100; k++) {
      installProgress.update(100, k);
      installProgress.tick();
      values.push([$(".progressTrack").attr("aria-valuenow"), $("#progressPercent").text()]);
      const line = $("#progressAnnounce").text();
      if (spoken[spoken.length - 1] !== line) spoken.push(line);
    }
    return { values, spoken, role: $(".progressTrack").attr("role"), name: $("#" + $(".progressTrack").attr("aria-labelledby")).text() };
  });
  same("installing: the progress bar's value is the shown percentage at every tick, up to 100",
    seen.values.filter(([v, text]) => text !== TEXTS.en.complete.replace("%d%", v + "%")).concat([seen.values[99][0]]), ["100"]);
  same("installing: progress spoken at 0, 10, ... 100 %, not at every tick", seen.spoken,
    [1, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100].map((p) => TEXTS.en.complete.replace("%d%", p + "%")));
  same("installing: a named progress bar", [seen.role, seen.name], ["progressbar", TEXTS.en.installingTitle]);
  await open(page, "pages/Error/page.html", { props: { errorMessage: TEXTS.en.diskFull } });
  same("error page: the message is in an alert", await page.$eval("[role=alert]#errorMessage", (e) => e.textContent), TEXTS.en.diskFull);
}

// Where the focus is, and whether it can be seen.
async function focused(page) {
  return page.evaluate(() => {
    const el = document.activeElement;
    const cs = getComputedStyle(el);
    return { id: el.id || el.getAttribute("data-name") || el.className, seen: cs.outlineStyle !== "none" && parseFloat(cs.outlineWidth) >= 2 };
  });
}
async function waitFocus(page, id) {
  try {
    await page.waitForFunction((i) => (document.activeElement.id || document.activeElement.getAttribute("data-name")) === i, id, { timeout: 8000 });
    return true;
  } catch (e) {
    return false;
  }
}
// Tab (or Shift+Tab) until the control `id` has the focus; false when it is not in the tab order.
async function tabTo(page, id, back) {
  for (let i = 0; i < 12; i++) {
    await page.keyboard.press(back ? "Shift+Tab" : "Tab");
    if ((await focused(page)).id === id) return true;
  }
  return false;
}

// A whole installation with Tab, Shift+Tab, Space, Enter and Esc only.
async function keyboardWalk(page) {
  const list = components().map((c) => c.name === "WebView2" ? Object.assign(c, { type: c.type & ~8 }) : c);
  const MAIN_URL = "https://download.tandora.invalid/tandora/22/$BUILDNUMBER$/64Bit/Tandora22_x64.msi";
  await open(page, "pages/Welcome/page.html", { props: { skip_prerequisite_page: "false", DotNet64: "true", DotNet32: "false",
    WebView264: "true", WebView232: "false", VS2015RedistX6464: "false", VS2015RedistX6432: "false" },
  scenario: { overrides: { Components: list }, remoteSizes: { [MAIN_URL]: 10 } },
  registry: { "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Tandora\\22|MainDir": "C:\\Program Files\\Tandora" } });
  const trail = [];
  async function onOpen(title, main) {
    const ok = await waitTitle(page, title) && await waitFocus(page, main);
    const f = await focused(page);
    trail.push(`${title}:${f.id}${f.seen || main === "pageTitle" ? "" : " (focus not visible)"}`);
    return ok;
  }
  await onOpen("Welcome", "nextButton");
  check("keyboard: the language list is reached with Shift+Tab", await tabTo(page, "languageSelect", true));
  await page.keyboard.press("ArrowDown");
  const lang = await page.getAttribute("html", "lang");
  await page.keyboard.press("ArrowUp");
  same("keyboard: arrow keys choose a language (and back)", [lang, await page.getAttribute("html", "lang")], ["fr", "en"]);
  await tabTo(page, "nextButton");
  await page.keyboard.press("Enter");

  await onOpen("Prerequisite", "nextButton");
  check("keyboard: a selectable prerequisite is reached, the MustSelect one is passed over", await tabTo(page, "WebView2", true));
  await page.keyboard.press("Space");
  await tabTo(page, "nextButton");
  await page.keyboard.press("Space");

  await onOpen("Download", "downloadInstallButton");
  await patchScenario(page, { confirmAnswer: false });
  await page.keyboard.press("Escape");
  same("keyboard: Esc asks before closing; No keeps the window", [(await calls(page, "confirmMessageBox")).length,
    (await calls(page, "closeWindow")).length], [1, 0]);
  check("keyboard: the folder field is reached", await tabTo(page, "folderInput", true));
  await page.keyboard.press("Control+A");
  await page.keyboard.type("D:\\Setup");
  await tabTo(page, "downloadInstallButton");
  await page.keyboard.press("Enter");

  await onOpen("Downloading", "pauseButton");
  await fire(page, "download", 10, 1000, 500);
  await page.keyboard.press("Space");
  same("keyboard: Pause stops the download and hands the focus to Resume", [(await calls(page, "stopDownload")).length, (await focused(page)).id],
    [1, "startButton"]);
  await fire(page, "download", 5, 0, 0);
  await page.keyboard.press("Enter");
  same("keyboard: Resume starts again and hands the focus back to Pause", [(await calls(page, "download")).length, (await focused(page)).id],
    [2, "pauseButton"]);
  for (let i = 0; i < 20 && (await page.title()) === "Downloading"; i++) {
    try {
      await fire(page, "download", 0, 0, 0);
    } catch (e) {
      break; // the last file is done and the page has moved on
    }
  }
  await onOpen("Installing", "pageTitle");
  for (let i = 0; i < 5 && (await page.title()) === "Installing"; i++) {
    try {
      await fire(page, "install", 0, 0, 0);
    } catch (e) {
      break;
    }
  }
  await onOpen("Finish", "finishButton");
  check("keyboard: the launch box is reached", await tabTo(page, "launchBox", true));
  await page.keyboard.press("Space");
  await tabTo(page, "finishButton");
  await page.keyboard.press("Enter");
  const st = await state(page);
  same("keyboard: pages opened with the focus on their main action, visibly", trail,
    ["Welcome:nextButton", "Prerequisite:nextButton", "Download:downloadInstallButton", "Downloading:pauseButton", "Installing:pageTitle",
      "Finish:finishButton"]);
  same("keyboard: the run used the choices made by keyboard (no WebView2, files in the typed folder)", [
    (await calls(page, "download")).every((a) => a[1].startsWith("D:\\Setup\\")),
    (await calls(page, "install")).map((a) => a[0].replace(/^.*\\/, ""))], [true, ["dotnet-web-setup.exe", "Tandora22_x64.msi"]]);
  same("keyboard: Finish with the launch box cleared ends without starting the product", [(await calls(page, "startProgram")).length,
    (await calls(page, "setInstallStatus")).pop(), (await calls(page, "closeWindow")).length], [0, [1], 1]);

  // Esc during the download, confirmed: the download stops and the run ends as cancelled
  await open(page, "pages/Downloading/page.html", { props: { isDownload64: "true", ProductName64: "true", downloadPath: "C:\\Dl" },
    scenario: { remoteSizes: { [MAIN_URL]: 10 } } });
  await waitFocus(page, "pauseButton");
  await page.keyboard.press("Escape");
  same("keyboard: Esc confirmed on Downloading stops, reports 3 and closes", [(await calls(page, "confirmMessageBox")).length,
    (await calls(page, "stopDownload")).length, (await calls(page, "setInstallStatus")).pop(), (await calls(page, "closeWindow")).length],
  [1, 1, [3], 1]);
  same("keyboard: the walk met no method-table fault", st.faults, []);
}

// High contrast (the same rules under Chromium's forced colours) and 144 / 192 DPI: the window fits
// the screen, and every page is drawn for a person to look at.
async function contrastAndDpi(browser) {
  fs.mkdirSync(shotDir, { recursive: true });
  const settings = [
    ["hc", { forcedColors: "active", colorScheme: "dark" }, ["en", "de"]],
    ["144dpi", { deviceScaleFactor: 1.5, screen: { width: 1280, height: 720 } }, ["en"]],
    ["192dpi", { deviceScaleFactor: 2, screen: { width: 960, height: 540 } }, ["en", "ru"]]
  ];
  for (const [label, options, langs] of settings) {
    // the window the start page asks for on this screen
    let context = await newContext(browser, options);
    let page = await context.newPage();
    await open(page, "Load.html");
    await waitTitle(page, "Initialization");
    const [w, h] = (await calls(page, "setWindowSize"))[0];
    const screen = options.screen || { width: 1280, height: 1024 };
    check(`${label}: the window (${w} x ${h}) fits the screen (${screen.width} x ${screen.height})`, w <= screen.width && h <= screen.height);
    await context.close();
    context = await newContext(browser, Object.assign({}, options, { viewport: { width: w, height: h } }));
    page = await context.newPage();
    const problems = [];
    for (const code of langs) {
      for (const [name, url, o] of allPages(code)) {
        await open(page, url, o);
        if (o.after) await o.after(page);
        await page.evaluate(() => new Promise((resolve) => window.setTimeout(resolve, 0))); // the page's focus step
        for (const c of await page.evaluate(clippedText)) problems.push(`${name} ${code}: ${c}`);
        if (label === "hc") {
          const marks = await page.evaluate(() => [].slice.call(document.querySelectorAll(".closeButton, .button")).filter((b) => b.getClientRects().length)
            .map((b) => getComputedStyle(b).borderStyle !== "none" || getComputedStyle(b, "::after").content !== "none"));
          if (marks.indexOf(false) >= 0) problems.push(`${name} ${code}: a control without border or glyph`);
        }
        await page.screenshot({ path: path.join(shotDir, `${name}_${code}_${label}.png`) });
      }
    }
    same(`${label}: every page whole, every control drawn`, problems, []);
    await context.close();
  }
}

run(async (browser) => {
  await group(axeAll, browser);
  await onOnePage(browser, [documentLanguage, progressAnnounced, keyboardWalk]);
  await group(contrastAndDpi, browser);
});
