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
const { check, same, group, finish, installParams, TEXTS, components, launch, newContext } = harness(bundleDir);
const axeSource = fs.readFileSync(require.resolve("axe-core/axe.min.js"), "utf8");
const CODES = Object.keys(TEXTS.regions);
// BCP 47 tags of the bundle's language codes.
const TAGS = { en: "en", fr: "fr", de: "de", jp: "ja", ru: "ru", tw: "zh-TW", zh: "zh-CN", cs: "cs", da: "da", es: "es",
  fi: "fi", it: "it", nl: "nl", pl: "pl", sv: "sv" };
const EULA = (code) => `C:\\Temp\\Tandora\\res\\pages\\Agreement\\eula\\EULA_${code}.html`;

// Every page with what makes all of its parts show: prerequisites to choose, a launch box, a message.
function pages(code) {
  const base = { lang: code, selected_lang: code, isDownload64: "true", DotNet64: "true", WebView264: "true",
    VS2015RedistX6464: "false", ProductName64: "true", downloadPath: "C:\\Users\\ann\\Desktop", skip_prerequisite_page: "false" };
  return [
    ["Initialization", "pages/Initialization/page.html", { props: base }],
    ["Welcome", "pages/Welcome/page.html", { props: base }],
    ["Prerequisite", "pages/Prerequisite/page.html", { props: base }],
    ["Agreement", "pages/Agreement/page.html", { props: base, scenario: { files: { [EULA(code)]: 1 } } }],
    ["Download", "pages/Download/page.html", { props: base }],
    ["Downloading", "pages/Downloading/page.html", { props: base, after: async (page) => {
      await fire(page, "download", 10, 1444856, 722428);
      await page.evaluate(() => downloadProgress.tick());
    } }],
    ["Install", "pages/Install/page.html", { props: base }],
    ["Installing", "pages/Installing/page.html", { props: base, after: async (page) => {
      await fire(page, "install", 10, 100, 35);
      await page.evaluate(() => installProgress.tick());
    } }],
    ["Finish", "pages/Finish/page.html", { props: Object.assign({}, base, { startProgram: "C:\\Program Files\\Tandora\\Tandora.exe", Config_Status: "1" }) }],
    ["Error", "pages/Error/page.html", { props: Object.assign({}, base, { errorMessage: TEXTS[code].md5Error, Config_Status: "6" }) }],
    ["EmbargoedWarning", "pages/EmbargoedWarning/page.html", { props: Object.assign({}, base, { Country: "Atlantis" }) }],
    ["SelfUpdate", "pages/SelfUpdate/page.html", { props: base }]
  ];
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
  const bad = [], counts = {};
  for (const code of CODES) {
    for (const [name, url, o] of pages(code)) {
      await open(page, url, o);
      if (o.after) await o.after(page);
      for (const v of await runAxe(page)) {
        counts[v.impact] = (counts[v.impact] || 0) + 1;
        if (v.impact === "serious" || v.impact === "critical") bad.push(`${name} ${code}: ${v.id} (${v.impact}) ${v.nodes.join(", ")}`);
      }
    }
  }
  console.log(`axe findings by impact over ${CODES.length} languages: ${JSON.stringify(counts)}`);
  same("axe: no serious or critical finding on any page in any language", bad, []);
  await context.close();
}

async function main() {
  const browser = await launch();
  try {
    await group(axeAll, browser);
  } finally {
    await browser.close();
  }
  process.exit(finish());
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
