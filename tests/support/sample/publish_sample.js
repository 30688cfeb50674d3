// Writes the sample product's files as its publisher has them before publishing:
//   node publish_sample.js WWW_DIR BASE_URL [BUILD_NUMBER]
// WWW_DIR/tandora/22/ gets installerlistTDR22.js (today's format, no release manifest) and, below
// BUILD_NUMBER/64Bit and /32Bit, the two MSIs built with wixl. The prerequisites are listed with
// registry checks only: the runner sets those values in the Wine prefix. Publishing is the
// publisher's own command: "stubtool publish --key KEY WWW_DIR/tandora/22" writes the ".meta"
// files, the sizes, SHA-256s and release manifest, and every signature.
"use strict";
const fs = require("fs");
const path = require("path");
const { execFileSync } = require("child_process");

const [www, baseUrlArg, buildArg] = process.argv.slice(2);
if (!www || !baseUrlArg) {
  console.error("usage: node publish_sample.js WWW_DIR BASE_URL [BUILD_NUMBER]");
  process.exit(2);
}
const baseUrl = baseUrlArg.replace(/\/+$/, "");
const build = buildArg || "1001";

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(data) {
  let c = 0xffffffff;
  for (const b of data) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function publish(relative, data) {
  const file = path.join(www, relative);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, data);
  return data;
}

const work = fs.mkdtempSync(path.join(fs.realpathSync(require("os").tmpdir()), "tandora-sample-"));
try {
  fs.writeFileSync(path.join(work, "Tandora.exe"), "Tandora 22 sample program\r\n");
  const wxs = path.join(__dirname, "Tandora.wxs");
  const files = {};
  for (const [arch, bits] of [["x64", "64"], ["x86", "32"]]) {
    const msi = path.join(work, `Tandora22_${arch}.msi`);
    execFileSync("wixl", ["-a", arch, "-D", `Arch=${arch}`, "-o", msi, wxs], { cwd: work, stdio: ["ignore", "ignore", "inherit"] });
    const name = `Tandora\\${build}\\${bits}Bit\\Tandora22_${arch}.msi`;
    const data = publish(`tandora/22/${build}/${bits}Bit/Tandora22_${arch}.msi`, fs.readFileSync(msi));
    files[arch] = {
      name, url: `${baseUrl}/tandora/22/${build}/${bits}Bit/Tandora22_${arch}.msi`,
      // quiet: nobody clicks installer dialogs under Xvfb
      param: "/qn HIDE_FINISH=1 REBOOT=ReallySuppress", size: 0, installSize: 1048576, crc: String(crc32(data))
    };
  }
  const prerequisite = (name, type, key, value, minValue) => ({
    group: 0, sku: "Pro", type, name, minValue,
    registry: { check: minValue !== undefined, key, value },
    estimatedTime: 30, files: []
  });
  const main = (arch, typeFlag, productCode) => ({
    group: 0, sku: "Pro", type: typeFlag,
    name: "ProductName",
    registry: { check: false, key: "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\Tandora\\22", value: "MainDir" },
    program: "Tandora.exe", estimatedTime: 20, productCode, files: [files[arch]]
  });
  const list = [
    prerequisite("DotNet", "ComponentType.Prerequiste | ComponentType.MustSelect",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", "Release", "461808"),
    prerequisite("WebView2", "ComponentType.Prerequiste | ComponentType.MustSelect",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\SampleRuntime\\WebView2", "pv"),
    prerequisite("VS2015RedistX64", "ComponentType.X64 | ComponentType.Prerequiste | ComponentType.MustSelect",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zarvo\\SampleRuntime\\VS2015RedistX64", "Version"),
    main("x64", "ComponentType.X64 | ComponentType.MustSelect", "{6E1B7C52-0D9A-4F43-9A3C-52B7E0C4A922}"),
    main("x86", "ComponentType.X86 | ComponentType.MustSelect", "{A84F0E19-6C2B-4B7D-8E15-3D90F6B2C711}")
  ];
  // "type" holds flag expressions as the bundle's own list does; they are written unquoted.
  const body = list.map((c) => JSON.stringify(c, null, 4).replace(/"type": "([^"]*)"/, '"type": $1')).join(",\n");
  const script = `// Installer list of the sample product (build ${build}).\nvar Components = [\n${body}\n];\n`;
  publish("tandora/22/installerlistTDR22.js", Buffer.from(script, "utf8"));
  console.log(`published the sample product (build ${build}) in ${www} for ${baseUrl}`);
} finally {
  fs.rmSync(work, { recursive: true, force: true });
}
