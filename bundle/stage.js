// Stages the UI bundle for packing:
//   node stage.js OUTDIR [DOWNLOAD_URL=...] [UPDATE_STUB_URL=...] [TYP_URL=...] [CHNL=...]
// Copies the page sources, adds jQuery from node_modules and the drawn images, and fills in
// the deployment values of config/installparams.js.
"use strict";
const fs = require("fs");
const path = require("path");
const { execFileSync } = require("child_process");

const here = __dirname;
const outDir = process.argv[2];
if (!outDir) {
  console.error("usage: node stage.js OUTDIR [NAME=VALUE...]");
  process.exit(2);
}
const deployKeys = ["DOWNLOAD_URL", "UPDATE_STUB_URL", "TYP_URL", "CHNL"];
const values = {};
for (const arg of process.argv.slice(3)) {
  const eq = arg.indexOf("=");
  const name = arg.substring(0, eq);
  if (eq < 0 || !deployKeys.includes(name)) {
    console.error(`stage.js: unknown setting ${arg}`);
    process.exit(2);
  }
  values[name] = arg.substring(eq + 1);
}

function copyTree(from, to) {
  fs.mkdirSync(to, { recursive: true });
  for (const entry of fs.readdirSync(from, { withFileTypes: true })) {
    const src = path.join(from, entry.name), dst = path.join(to, entry.name);
    if (entry.isDirectory()) copyTree(src, dst);
    else fs.copyFileSync(src, dst);
  }
}

// Built in a scratch folder, then synced so unchanged files keep their times (no needless repacks).
const finalDir = path.resolve(outDir);
const workDir = finalDir + ".tmp";
fs.rmSync(workDir, { recursive: true, force: true });
fs.mkdirSync(workDir, { recursive: true });
fs.copyFileSync(path.join(here, "Load.html"), path.join(workDir, "Load.html"));
for (const dir of ["common", "config", "pages"]) copyTree(path.join(here, dir), path.join(workDir, dir));

const jqueryDir = path.join(here, "node_modules", "jquery");
const jqueryVersion = JSON.parse(fs.readFileSync(path.join(jqueryDir, "package.json"), "utf8")).version;
if (jqueryVersion !== "1.11.2") {
  console.error(`stage.js: node_modules holds jQuery ${jqueryVersion}, the pages need 1.11.2 (run npm ci)`);
  process.exit(1);
}
fs.copyFileSync(path.join(jqueryDir, "dist", "jquery.min.js"), path.join(workDir, "common", "js", "jquery-1.11.2.min.js"));

execFileSync(process.execPath, [path.join(here, "make-images.js"), workDir], { stdio: "inherit" });

// Only the deployment values change; the rest of the file stays as written.
const paramsFile = path.join(workDir, "config", "installparams.js");
let params = fs.readFileSync(paramsFile, "utf8");
for (const [name, value] of Object.entries(values)) {
  const pattern = new RegExp(`("${name}"\\s*:\\s*)"(?:[^"\\\\]|\\\\.)*"`);
  if (!pattern.test(params)) {
    console.error(`stage.js: ${name} not found in installparams.js`);
    process.exit(1);
  }
  params = params.replace(pattern, (all, head) => head + JSON.stringify(value));
}
fs.writeFileSync(paramsFile, params);

// stubtool refuses names it cannot store as ASCII; fail here with the name instead.
(function checkNames(dir) {
  for (const entry of fs.readdirSync(dir, { withFileTypes: true })) {
    if (/[^\x20-\x7e]/.test(entry.name)) {
      console.error(`stage.js: non-ASCII file name ${path.join(dir, entry.name)}`);
      process.exit(1);
    }
    if (entry.isDirectory()) checkNames(path.join(dir, entry.name));
  }
})(workDir);

function sync(from, to) {
  fs.mkdirSync(to, { recursive: true });
  const wanted = new Set();
  for (const entry of fs.readdirSync(from, { withFileTypes: true })) {
    wanted.add(entry.name);
    const src = path.join(from, entry.name), dst = path.join(to, entry.name);
    if (entry.isDirectory()) {
      if (fs.existsSync(dst) && !fs.statSync(dst).isDirectory()) fs.rmSync(dst, { force: true });
      sync(src, dst);
    } else {
      const data = fs.readFileSync(src);
      if (!fs.existsSync(dst) || fs.statSync(dst).isDirectory() || !data.equals(fs.readFileSync(dst))) {
        fs.rmSync(dst, { recursive: true, force: true });
        fs.writeFileSync(dst, data);
      }
    }
  }
  for (const name of fs.readdirSync(to)) {
    if (!wanted.has(name)) fs.rmSync(path.join(to, name), { recursive: true, force: true });
  }
}
sync(workDir, finalDir);
fs.rmSync(workDir, { recursive: true, force: true });
