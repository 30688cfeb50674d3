// What the page tests share: the staged bundle served to headless Chromium, the scripted
// window.external (external_double.js) and its call log, and the pass/fail tally.
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");
const { chromium } = require("playwright-core");

const ORIGIN = "http://bundle.test/";
const STORE = "__externalDouble";
const WAIT = 8000; // bound for every wait on a page change
const doubleSource = fs.readFileSync(path.join(__dirname, "external_double.js"), "utf8")
  .replace("METHOD_TABLE", () => JSON.stringify(require("./method_table").readMethodTable()));
const MIME = { ".html": "text/html; charset=utf-8", ".js": "application/javascript; charset=utf-8",
  ".css": "text/css", ".png": "image/png" };

function harness(bundleDir) {
  let passed = 0, failed = 0;
  function check(name, ok, detail) {
    if (ok) {
      passed++;
      console.log(`ok   ${name}`);
    } else {
      failed++;
      console.log(`FAIL ${name}${detail === undefined ? "" : ": " + (typeof detail === "string" ? detail : JSON.stringify(detail))}`);
    }
  }
  function same(name, actual, expected) {
    check(name, JSON.stringify(actual) === JSON.stringify(expected), { actual, expected });
  }
  // Runs a group of checks; an exception fails the group instead of ending the run.
  async function group(fn, ...args) {
    try {
      await fn(...args);
    } catch (e) {
      check(`${fn.name} ran to its end`, false, e.stack);
    }
  }
  function finish() {
    console.log(`${passed} passed, ${failed} failed`);
    return failed === 0 && passed > 0 ? 0 : 1;
  }

  const installParams = new Function(fs.readFileSync(path.join(bundleDir, "config/installparams.js"), "utf8") +
    "; return installParams;")();
  const TEXTS = new Function(fs.readFileSync(path.join(bundleDir, "config/lang.js"), "utf8") + "; return Config_StubMultiLangs;")();
  // The installer list as the pages see it, for tests that hand a page a changed copy.
  const components = () => new Function(fs.readFileSync(path.join(bundleDir, "config/config.js"), "utf8") + ";" +
    fs.readFileSync(path.join(bundleDir, "config/installerlistTDR22.js"), "utf8") + "; return Components;")();

  // Every page in language `code`, with what makes all of its parts show: prerequisites to choose,
  // progress under way, a launch box, a message. `after(page)` brings a page to that state.
  function allPages(code) {
    const base = { lang: code, selected_lang: code, isDownload64: "true", DotNet64: "true", WebView264: "true",
      VS2015RedistX6464: "false", ProductName64: "true", downloadPath: "C:\\Users\\ann\\Desktop", skip_prerequisite_page: "false" };
    const with_ = (props) => Object.assign({}, base, props);
    const space = { freeSpace: { "C:\\": 80e9 } };
    return [
      ["Initialization", "pages/Initialization/page.html", { props: base, scenario: space }],
      ["Welcome", "pages/Welcome/page.html", { props: base, scenario: space }],
      ["Prerequisite", "pages/Prerequisite/page.html", { props: base, scenario: space }],
      ["Agreement", "pages/Agreement/page.html", { props: base,
        scenario: Object.assign({ files: { [`C:\\Temp\\Tandora\\res\\pages\\Agreement\\eula\\EULA_${code}.html`]: 1 } }, space) }],
      ["Download", "pages/Download/page.html", { props: base, scenario: space }],
      ["Downloading", "pages/Downloading/page.html", { props: base, scenario: space, after: async (page) => {
        await fire(page, "download", 10, 1444856, 722428);
        await page.evaluate(() => { downloadProgress.lastCurrent = 400000; downloadProgress.tick(); });
      } }],
      ["Install", "pages/Install/page.html", { props: base, scenario: space }],
      ["Installing", "pages/Installing/page.html", { props: base, scenario: space, after: async (page) => {
        await fire(page, "install", 10, 100, 35);
        await page.evaluate(() => installProgress.tick());
      } }],
      ["Finish", "pages/Finish/page.html", { props: with_({ startProgram: "C:\\Program Files\\Tandora\\Tandora.exe", Config_Status: "1" }),
        scenario: space }],
      ["Error", "pages/Error/page.html", { props: with_({ errorMessage: TEXTS[code].md5Error, Config_Status: "6" }), scenario: space }],
      ["EmbargoedWarning", "pages/EmbargoedWarning/page.html", { props: with_({ Country: "Atlantis" }), scenario: space }],
      // with an update to fetch the page stays (and shows its bar) instead of moving on after a second
      ["SelfUpdate", "pages/SelfUpdate/page.html", { props: base, scenario: Object.assign({ needSelfUpdate: true }, space) }]
    ];
  }

  // The bundle comes from a server of the test's own; the browser resolves bundle.test to it and
  // no other name at all, so a page can reach nothing else.
  async function launch() {
    const server = http.createServer((req, res) => {
      const url = new URL(req.url, ORIGIN);
      if (url.pathname === "/__blank") {
        res.writeHead(200, { "Content-Type": "text/html" });
        return res.end("<html><head><title>blank</title></head></html>");
      }
      const file = path.join(bundleDir, decodeURIComponent(url.pathname));
      if (!file.startsWith(bundleDir + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
        res.writeHead(404);
        return res.end();
      }
      res.writeHead(200, { "Content-Type": MIME[path.extname(file)] || "application/octet-stream", "Cache-Control": "no-store" });
      res.end(fs.readFileSync(file));
    });
    await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
    server.unref();
    return chromium.launch({
      executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
      args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking", "--disable-component-update",
        "--disable-sync", "--no-first-run", "--no-proxy-server",
        `--host-resolver-rules=MAP bundle.test 127.0.0.1:${server.address().port}, MAP * ~NOTFOUND`]
      // launch() gives every run a fresh profile of its own
    });
  }

  async function newContext(browser, options) {
    const context = await browser.newContext(Object.assign({ viewport: { width: 655, height: 513 }, screen: { width: 1280, height: 1024 } },
      options || {}));
    await context.addInitScript(doubleSource);
    return context;
  }

  // Runs `groups` one after another on one page; a script error on any page fails the run.
  async function onOnePage(browser, groups) {
    const context = await newContext(browser);
    const page = await context.newPage();
    const errors = [];
    page.on("pageerror", (e) => errors.push(`${page.url()}: ${e.message}`));
    page.on("dialog", (d) => d.dismiss());
    for (const g of groups) await group(g, page);
    same("no script errors on any page", errors, []);
    await context.close();
  }

  // The whole test: one browser for `body`, then the tally as the exit code.
  function run(body) {
    (async () => {
      const browser = await launch();
      try {
        await body(browser);
      } finally {
        await browser.close();
      }
      process.exit(finish());
    })().catch((e) => {
      console.error(e);
      process.exit(1);
    });
  }

  return { check, same, group, installParams, TEXTS, components, allPages, newContext, onOnePage, run };
}

function scenario(over) {
  return Object.assign({
    osOk: true, osBitFail: false, online: true, embargoed: false, country: "", silent: false,
    skipSelfUpdate: false, needSelfUpdate: false, resumeMode: 0, osLang: 1,
    resourceLocation: "C:\\Temp\\Tandora\\res\\", currentPath: "C:\\Users\\ann\\Downloads",
    desktopPath: "C:\\Users\\ann\\Desktop", tempPath: "C:\\Temp\\Tandora\\",
    office32: false, office64: false, fileVersions: {}, files: {}, folders: [],
    freeSpace: { "C:\\": 50e9, "D:\\": 50e9 }, lastInstallError: 0, remoteSizes: {}, overrides: {}
  }, over || {});
}

// The double looks registry values up by upper-cased key and exact value name.
function reg(values) {
  const out = {};
  for (const [k, v] of Object.entries(values || {})) {
    const bar = k.lastIndexOf("|");
    out[k.substring(0, bar).toUpperCase() + k.substring(bar)] = v;
  }
  return out;
}

async function open(page, url, options) {
  const o = options || {};
  const st = { scenario: scenario(o.scenario), props: Object.assign({ osbits: "64", lang: "en" }, o.props || {}),
    registry: reg(o.registry), calls: [], faults: [] };
  // `reuse`: the state is set on the bundle page already open, saving a navigation; a call the old
  // page still makes before it goes may then show in the new log (harmless where no test reads it).
  if (!o.reuse || !page.url().startsWith(ORIGIN)) await page.goto(ORIGIN + "__blank");
  await page.evaluate(([k, s]) => sessionStorage.setItem(k, JSON.stringify(s)), [STORE, st]);
  await page.goto(ORIGIN + url);
  await page.waitForLoadState("load");
}
async function state(page) {
  return page.evaluate((k) => JSON.parse(sessionStorage.getItem(k)), STORE);
}
// Changes the double's state in place (scenario answers, properties) without reloading the page.
async function patchScenario(page, over) {
  await page.evaluate(([k, o]) => {
    const st = JSON.parse(sessionStorage.getItem(k));
    Object.assign(st.scenario, o);
    sessionStorage.setItem(k, JSON.stringify(st));
  }, [STORE, over]);
}
async function calls(page, method) {
  const s = await state(page);
  return s.calls.filter((c) => !method || c.m === method).map((c) => c.a);
}
async function fire(page, method, ...args) {
  await page.evaluate(([m, a]) => window.__callbacks[m].apply(null, a), [method, args]);
}
async function waitTitle(page, title) {
  try {
    await page.waitForFunction((t) => document.title === t && document.readyState === "complete", title, { timeout: WAIT });
    return true;
  } catch (e) {
    return false;
  }
}
// Waits until the double's call log (which survives navigations) satisfies `test`.
async function waitLog(page, test) {
  const deadline = Date.now() + WAIT;
  for (;;) {
    try {
      if (test((await state(page)).calls)) return true;
    } catch (e) {
      // the page is between documents; ask again
    }
    if (Date.now() > deadline) return false;
    await new Promise((r) => setTimeout(r, 20));
  }
}
// At least `count` calls of `method`.
function waitCall(page, method, count) {
  return waitLog(page, (log) => log.filter((c) => c.m === method).length >= (count || 1));
}
// The page titled `title` has called the double: it was shown, however briefly.
function waitVisited(page, title) {
  return waitLog(page, (log) => log.some((c) => c.page === title));
}

module.exports = { ORIGIN, STORE, WAIT, harness, scenario, reg, open, state, patchScenario, calls, fire, waitTitle, waitCall, waitVisited };
