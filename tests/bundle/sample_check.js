// Writes the sample product into a scratch folder as its publisher has it before publishing and
// checks it: the list loads as the pages load it, each package matches its CRC, and the MSIs
// carry the architecture and version the list promises. What "stubtool publish" adds (.meta
// files, sizes, hashes, manifest, signatures) is checked by Stubtool.PublishesTheSampleRelease.
//   node sample_check.js OUT_DIR
"use strict";
const fs = require("fs");
const path = require("path");
const { execFileSync } = require("child_process");

const out = path.resolve(process.argv[2] || "sample-www");
fs.rmSync(out, { recursive: true, force: true });
const base = "http://127.0.0.1:18080";
execFileSync(process.execPath, [path.join(__dirname, "../support/sample/publish_sample.js"), out, base, "2002"], { stdio: "inherit" });

let passed = 0, failed = 0;
function check(name, ok, detail) {
  if (ok) passed++; else failed++;
  console.log(`${ok ? "ok  " : "FAIL"} ${name}${ok || detail === undefined ? "" : ": " + JSON.stringify(detail)}`);
}

const listFile = path.join(out, "tandora/22/installerlistTDR22.js");
const ComponentType = { Inherit: 0, X86: 1, X64: 2, Selectable: 4, MustSelect: 8, Patch: 16, Prerequiste: 32 };
const Components = new Function("ComponentType", fs.readFileSync(listFile, "utf8") + "; return Components;")(ComponentType);
check("list has the prerequisites and both main components",
  JSON.stringify(Components.map((c) => c.name + ":" + c.type)) ===
  JSON.stringify(["DotNet:40", "WebView2:40", "VS2015RedistX64:42", "ProductName:10", "ProductName:9"]));
check("list is unpublished: no release manifest, no .meta", !/TANDORA-RELEASE-MANIFEST/.test(fs.readFileSync(listFile, "utf8")) &&
  !fs.existsSync(listFile + ".meta"));

function crc32(data) {
  let c = 0xffffffff;
  for (const b of data) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  }
  return (c ^ 0xffffffff) >>> 0;
}

for (const [index, template] of [[3, "x64;1033"], [4, "Intel;1033"]]) {
  const file = Components[index].files[0];
  const rel = file.url.substring(base.length + 1);
  const local = path.join(out, rel);
  const data = fs.readFileSync(local);
  check(`${rel}: name mirrors the URL below the build folder`, file.name.replace(/\\/g, "/") === rel.replace(/^tandora\/22\//, "Tandora/"));
  check(`${rel}: CRC as listed, size left to the publishing`, file.size === 0 && String(crc32(data)) === file.crc, { size: data.length, crc: crc32(data), file });
  check(`${rel}: quiet install parameters`, /^\/qn\b/.test(file.param));
  const summary = execFileSync("msiinfo", ["suminfo", local], { encoding: "utf8" });
  const props = execFileSync("msiinfo", ["export", local, "Property"], { encoding: "utf8" });
  check(`${rel}: package for ${template}, version 22.0.1`, summary.indexOf(`Template: ${template}`) >= 0 && /ProductVersion\t22\.0\.1/.test(props));
  const registry = execFileSync("msiinfo", ["export", local, "Registry"], { encoding: "utf8" });
  check(`${rel}: writes the MainDir value the pages read`, /SOFTWARE\\Zarvo\\Tandora\\22\tMainDir\t\[INSTALLDIR\]/.test(registry), registry);
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
