// A whole installation through the real pages, clicked as a user would:
//   node tools/devhost/install_run.js [--build DIR] [--out DIR] [--lang CODE] [--timeout SECONDS]
//                                     [--list URL] [--proxy HOST:PORT]
//                                     [--credentials USER:PASSWORD|cancel] [--remember-credentials]
// (under xvfb-run -a). Publishes the sample product on a local nginx with "stubtool publish"
// (or, with --list, takes the product published at URL), starts the installer web-service double
// over HTTPS (its CA trusted in the build's Wine prefix), packs a bundle whose DOWNLOAD_URL is
// the list onto the local development host, and runs it under Wine with headless Chromium
// showing the pages. Windows Installer really installs. Prints the final "status", the exit
// code, the files the list's components installed, the log and the screenshots.
// --proxy sends the stub's traffic through that proxy for the run (the prefix's Internet settings,
// loopback addresses excepted, put back afterwards); a proxy's or server's credential prompt is
// answered with --credentials (see driver.js). The functions are shared with the whole-flow tests.
'use strict';
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { startHost, openBrowser, waitFor, sleep, within, root, wineRun, isCredentialDialog } = require('./driver.js');

const PRODUCT_KEY = 'HKCU\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22';
const RESUME_KEY = PRODUCT_KEY + '\\ResumeRecord';
const PAGE_SIZE = { width: 655, height: 513 };
// Product codes of the sample's two MSIs (tests/support/sample/Tandora.wxs).
const SAMPLE_PRODUCT_CODES = ['{6E1B7C52-0D9A-4F43-9A3C-52B7E0C4A922}', '{A84F0E19-6C2B-4B7D-8E15-3D90F6B2C711}'];
// The highest release serial the stub accepted, per product (both registry views).
const RELEASE_KEY = 'HKLM\\SOFTWARE\\Zarvo\\stubframework\\Tandora\\22\\Release';
// The sample's prerequisites are registry checks only; a run makes them present or missing.
const PREREQUISITES = {
  DotNet: { key: 'HKLM\\SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full', name: 'Release', type: 'REG_DWORD', data: '528040' },
  WebView2: { key: 'HKLM\\SOFTWARE\\Zarvo\\SampleRuntime\\WebView2', name: 'pv', type: 'REG_SZ', data: '120.0.2210.91' },
  VS2015RedistX64: { key: 'HKLM\\SOFTWARE\\Zarvo\\SampleRuntime\\VS2015RedistX64', name: 'Version', type: 'REG_SZ', data: '14.38.33130' },
};

// Runs a program to its end with its output in a file (Wine's helpers keep pipes open).
function runTool(program, args, logFile, { env = {}, allowFail = false } = {}) {
  fs.mkdirSync(path.dirname(logFile), { recursive: true });
  const fd = fs.openSync(logFile, 'w');
  const result = spawnSync(program, args, { stdio: ['ignore', fd, fd], env: { ...process.env, ...env } });
  fs.closeSync(fd);
  const output = fs.readFileSync(logFile, 'utf8');
  if (result.status !== 0 && !allowFail)
    throw new Error(`${path.basename(program)} ${args.join(' ')} ended with ${result.status}:\n${output}`);
  return { code: result.status, output };
}

// The development key the build's stub trusts (scripts/build.sh made it); the runner publishes
// with it, as the product's publisher would with theirs.
function signingKeyOf(build) {
  const cache = fs.readFileSync(path.join(build, 'CMakeCache.txt'), 'utf8');
  const match = /^TANDORA_SIGNING_KEY:[A-Z]+=(.*)$/m.exec(cache);
  return match ? match[1] : '';
}

// Paths and scratch files of one build: its prefix, its tools, a work folder of the runner's.
function buildContext(build, workDir) {
  build = path.resolve(build);
  const ctx = {
    build,
    prefix: path.join(build, 'wineprefix'),
    workDir: path.resolve(workDir || path.join(build, 'install-run')),
    stubtool: path.join(build, 'tools/stubtool/stubtool.exe'),
    bareHost: path.join(build, 'tools/devhost/Tandora22_setup-devhost-local_bare.exe'),
    trustExe: path.join(build, 'tests/core/trust_test_ca.exe'),
    signingKey: signingKeyOf(build),
  };
  for (const file of [ctx.stubtool, ctx.bareHost, ctx.trustExe])
    if (!fs.existsSync(file)) throw new Error(`${file} is missing: build ${build} first`);
  fs.mkdirSync(ctx.workDir, { recursive: true });
  ctx.wine = (args, opts) => runTool(wineRun, [ctx.prefix, ...args], path.join(ctx.workDir, 'wine.out'), opts);
  return ctx;
}

// ---- registry of the prefix ------------------------------------------------------------------

function regSet(ctx, key, name, type, data, view = 64) {
  ctx.wine(['reg', 'add', key, '/v', name, '/t', type, '/d', data, '/f', `/reg:${view}`]);
}

// The value's data as reg prints it, or null when it is not there.
function regGet(ctx, key, name, view = 64) {
  const { code, output } = ctx.wine(['reg', 'query', key, '/v', name, `/reg:${view}`], { allowFail: true });
  if (code !== 0) return null;
  for (const line of output.split(/\r?\n/)) {
    const match = /^\s+(.+?)\s+(REG_\w+)\s*(.*)$/.exec(line);
    if (match && match[1].toLowerCase() === name.toLowerCase()) return match[3];
  }
  return null;
}

function regDeleteKey(ctx, key, view = 64) {
  ctx.wine(['reg', 'delete', key, '/f', `/reg:${view}`], { allowFail: true });
}

// Prerequisites named in `present` are installed as far as the pages can tell; the others are not.
function setPrerequisites(ctx, present) {
  for (const [name, entry] of Object.entries(PREREQUISITES)) {
    for (const view of [64, 32]) {
      if (present.includes(name)) regSet(ctx, entry.key, entry.name, entry.type, entry.data, view);
      else ctx.wine(['reg', 'delete', entry.key, '/v', entry.name, '/f', `/reg:${view}`], { allowFail: true });
    }
  }
}

// ---- servers ---------------------------------------------------------------------------------

// The publisher's own command over a folder: .meta files, sizes, hashes, manifest, signatures.
function publishFolder(ctx, folder, options = []) {
  return ctx.wine([ctx.stubtool, 'publish', '--key', ctx.signingKey, ...options, folder]).output;
}

const INTERNET_SETTINGS = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings';

// The prefix's user sends WinINet, URL-moniker and WinHTTP traffic through server ("HOST:PORT"),
// loopback addresses (the web-service double) excepted. Returns what puts the settings back.
function useProxy(ctx, server) {
  const names = { ProxyEnable: 'REG_DWORD', ProxyServer: 'REG_SZ', ProxyOverride: 'REG_SZ' };
  const before = {};
  for (const name of Object.keys(names)) before[name] = regGet(ctx, INTERNET_SETTINGS, name);
  regSet(ctx, INTERNET_SETTINGS, 'ProxyEnable', 'REG_DWORD', '1');
  regSet(ctx, INTERNET_SETTINGS, 'ProxyServer', 'REG_SZ', server);
  regSet(ctx, INTERNET_SETTINGS, 'ProxyOverride', 'REG_SZ', '127.0.0.1;localhost;<local>');
  return () => {
    for (const [name, type] of Object.entries(names)) {
      if (before[name] === null) ctx.wine(['reg', 'delete', INTERNET_SETTINGS, '/v', name, '/f'], { allowFail: true });
      else regSet(ctx, INTERNET_SETTINGS, name, type, type === 'REG_DWORD' ? String(Number(before[name])) : before[name]);
    }
  };
}

// nginx with the sample product published (unless publishSample is false), and the HTTPS
// web-service double. A fresh publication starts the product's release history in the prefix
// anew: the serials the stub accepted before are forgotten.
function startServices(ctx, { publishSample = true } = {}) {
  const servers = path.join(ctx.workDir, 'servers');
  runTool(path.join(root, 'tests/support/servers/start.sh'), [servers, ctx.signingKey], path.join(ctx.workDir, 'servers.out'));
  const ports = fs.readFileSync(path.join(servers, 'ports'), 'utf8');
  const nginxPort = Number(/^nginx (\d+)/m.exec(ports)[1]);
  const www = path.join(servers, 'www');
  const baseUrl = `http://127.0.0.1:${nginxPort}`;
  if (publishSample) {
    runTool(process.execPath, [path.join(root, 'tests/support/sample/publish_sample.js'), www, baseUrl],
            path.join(ctx.workDir, 'publish.out'));
    publishFolder(ctx, path.join(www, 'tandora/22'));
    for (const view of [64, 32]) regDeleteKey(ctx, RELEASE_KEY, view);
  }

  const service = path.join(ctx.workDir, 'service');
  // The double numbers its records from 1 each start: no records or answers of an earlier run.
  for (const dir of ['requests', 'answers']) fs.rmSync(path.join(service, dir), { recursive: true, force: true });
  runTool(path.join(root, 'tests/core/service/start.sh'), [service, wineRun, ctx.prefix, ctx.trustExe],
          path.join(ctx.workDir, 'service.out'));
  const servicePort = Number(fs.readFileSync(path.join(service, 'port'), 'utf8'));
  return {
    www, baseUrl, servicePort, serviceState: service,
    listUrl: `${baseUrl}/tandora/22/installerlistTDR22.js`,
    listFile: path.join(www, 'tandora/22/installerlistTDR22.js'),
    stop() {
      runTool(path.join(root, 'tests/core/service/stop.sh'), [service], path.join(ctx.workDir, 'service-stop.out'), { allowFail: true });
      runTool(path.join(root, 'tests/support/servers/stop.sh'), [servers], path.join(ctx.workDir, 'servers-stop.out'), { allowFail: true });
    },
  };
}

// The Components of an installer list, as the pages evaluate it.
function listComponents(listFile) {
  const ComponentType = { Inherit: 0, X86: 1, X64: 2, Selectable: 4, MustSelect: 8, Patch: 16, Prerequiste: 32 };
  return new Function('ComponentType', fs.readFileSync(listFile, 'utf8') + '; return Components;')(ComponentType);
}

// Stages the bundle with DOWNLOAD_URL on the local server and packs it onto the local host. The
// list's components are what later reports count as installed.
function packHost(ctx, listUrl, listFile, name = 'Tandora22_setup-devhost-local.exe') {
  const bundle = path.join(ctx.workDir, 'bundle');
  runTool(process.execPath, [path.join(root, 'bundle/stage.js'), bundle, `DOWNLOAD_URL=${listUrl}`],
          path.join(ctx.workDir, 'stage.out'));
  // The prerequisites are checked on the list the bundle carries (and the stub holds downloads
  // to it until the list update replaces it): ship the published one, under the pages' name.
  if (listFile) {
    fs.copyFileSync(listFile, path.join(bundle, 'config', 'installerlistTDR22.js'));
    ctx.components = listComponents(listFile);
  }
  const exe = path.join(ctx.workDir, name);
  ctx.wine([ctx.stubtool, 'pack', ctx.bareHost, bundle, exe]);
  return exe;
}

// Fetches url (http or https) into file.
function fetchTo(url, file) {
  const client = url.startsWith('https:') ? require('https') : require('http');
  return new Promise((resolve, reject) => {
    client.get(url, (response) => {
      if (response.statusCode !== 200) {
        response.resume();
        reject(new Error(`${url} answered ${response.statusCode}`));
        return;
      }
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => {
        fs.mkdirSync(path.dirname(file), { recursive: true });
        fs.writeFileSync(file, Buffer.concat(chunks));
        resolve(file);
      });
    }).on('error', reject);
  });
}

// ---- state of the prefix -----------------------------------------------------------------------

// Removes the downloads, the package cache and the resume record of earlier runs.
function clearRunState(ctx) {
  regDeleteKey(ctx, RESUME_KEY);
  for (const folder of downloadFolders(ctx)) fs.rmSync(folder, { recursive: true, force: true });
  fs.rmSync(packageCache(ctx), { recursive: true, force: true });
}

// The product's package cache on the ground, where downloads go and installs are taken from.
function packageCache(ctx) {
  return path.join(ctx.prefix, 'drive_c/ProgramData/Zarvo/stubframework/Cache/Tandora');
}

// The cache keeps each page path's file in a slot folder of its own: the slots holding name.
function cachedSlots(ctx, name) {
  let slots = [];
  try { slots = fs.readdirSync(packageCache(ctx), { withFileTypes: true }); } catch (e) { return []; }
  return slots.filter((slot) => slot.isDirectory())
    .map((slot) => path.join(packageCache(ctx), slot.name))
    .filter((folder) => fs.readdirSync(folder).some((file) => file === name || file.startsWith(name + '.')));
}

// The same, and the product itself (the list's, or the sample) when an earlier run installed it.
function resetProduct(ctx) {
  const codes = ctx.components ? ctx.components.map((c) => c.productCode).filter(Boolean) : SAMPLE_PRODUCT_CODES;
  for (const code of new Set(codes)) ctx.wine(['msiexec', '/x', code, '/qn'], { allowFail: true });
  clearRunState(ctx);
}

function downloadFolders(ctx) {
  const users = path.join(ctx.prefix, 'drive_c/users');
  return fs.readdirSync(users).filter((user) => user !== 'Public').map((user) => path.join(users, user, 'Desktop', 'Tandora'));
}

// A Windows path of the prefix as a path of this machine.
function prefixPath(ctx, windowsPath) {
  const match = /^([a-zA-Z]):\\?(.*)$/.exec(windowsPath.trim());
  if (!match) return null;
  const drive = path.join(ctx.prefix, 'dosdevices', `${match[1].toLowerCase()}:`);
  return path.join(fs.existsSync(drive) ? fs.realpathSync(drive) : path.join(ctx.prefix, 'drive_c'),
                   ...match[2].split('\\').filter(Boolean));
}

// What the list's components installed: for each one whose registry value (both views) names
// an existing folder, the files in it, its program first; for each installed product code, the
// product. The pages mark a component installed by the same value.
function installedFiles(ctx) {
  const files = new Set();
  for (const component of ctx.components || []) {
    const reg = component.registry;
    if (!reg || !reg.key || !reg.value) continue;
    for (const view of [64, 32]) {
      const data = regGet(ctx, reg.key.replace(/^HKEY_LOCAL_MACHINE\\/, 'HKLM\\'), reg.value, view);
      const folder = data && prefixPath(ctx, data);
      if (!folder || !fs.existsSync(folder) || !fs.statSync(folder).isDirectory()) continue;
      if (component.program && fs.existsSync(path.join(folder, component.program))) files.add(path.join(folder, component.program));
      for (const name of fs.readdirSync(folder).sort()) files.add(path.join(folder, name));
    }
  }
  return [...files];
}

// The per-run logs kept in the temporary folders of the prefix, newest last.
function keptLogs(ctx, since = 0) {
  const found = [];
  const walk = (dir, depth) => {
    let entries = [];
    try { entries = fs.readdirSync(dir, { withFileTypes: true }); } catch (e) { return; }
    for (const entry of entries) {
      const full = path.join(dir, entry.name);
      if (entry.isDirectory() && entry.name === 'Tandora_log') {
        for (const log of fs.readdirSync(full)) {
          const stat = fs.statSync(path.join(full, log));
          if (/^installer_log_\d{14}\.txt$/.test(log) && stat.mtimeMs >= since) found.push({ file: path.join(full, log), time: stat.mtimeMs });
        }
      } else if (entry.isDirectory() && !entry.isSymbolicLink() && depth < 6) {
        walk(full, depth + 1);
      }
    }
  };
  walk(path.join(ctx.prefix, 'drive_c/users'), 0);
  return found.sort((a, b) => a.time - b.time).map((entry) => entry.file);
}

// ---- the pages -------------------------------------------------------------------------------

function pageName(url) {
  const match = /\/pages\/(\w+)\/page\.html/.exec(url);
  return match ? match[1] : (/Load\.html/.test(url) ? 'Load' : 'page');
}

// A progress page is saved once it shows progress (or as it stands when it moves on first).
async function shootProgress(page, shoot) {
  await page.waitForFunction(() => {
    const percent = document.getElementById('progressPercent');
    return !percent || percent.textContent !== '';
  }, null, { timeout: 120000 }).catch(() => {});
  await shoot();
}

// What a user does on each page: the page's own buttons. `shoot` saves the page as it stands.
const userActions = {
  Welcome: async (page, shoot, options) => {
    if (options.lang) await page.selectOption('#languageSelect', options.lang);
    await shoot();
    await page.click('#nextButton');
  },
  Prerequisite: async (page, shoot) => { await shoot(); await page.click('#nextButton'); },
  Downloading: (page, shoot) => shootProgress(page, shoot),
  Installing: (page, shoot) => shootProgress(page, shoot),
  Download: async (page, shoot) => {
    await page.waitForSelector('#downloadInstallButton:not(.disabled)', { timeout: 30000 });
    await shoot();
    await page.click('#downloadInstallButton');
  },
  // The sample's program is a text file: the user leaves the launch box unticked.
  Finish: async (page, shoot) => {
    if (await page.isVisible('#launchBox')) await page.uncheck('#launchBox');
    await shoot();
    await page.click('#finishButton');
  },
  Error: async (page, shoot) => { await shoot(); await page.click('#exitButton'); },
  EmbargoedWarning: async (page, shoot) => { await shoot(); await page.click('#closeButton2'); },
};

// Runs the host and clicks through the pages until the run ends. Returns what was seen.
async function runPages(ctx, { exe, outDir, args = [], env = {}, lang = '', timeoutMs = 300000, actions = userActions,
                              screenSize }) {
  fs.rmSync(outDir, { recursive: true, force: true });
  fs.mkdirSync(outDir, { recursive: true });
  const started = Date.now() - 2000;
  // the status this run leaves, not one an earlier run left
  ctx.wine(['reg', 'delete', PRODUCT_KEY, '/v', 'status', '/f'], { allowFail: true });
  const host = await startHost({ exe, prefix: ctx.prefix, outDir, args, env });
  const browser = await openBrowser(screenSize ? { screenSize } : undefined);
  const page = browser.page;
  const seen = { visited: [], pages: [], dialogs: [], errors: [], pageErrors: [] };
  page.on('dialog', (dialog) => {
    if (isCredentialDialog(dialog)) return;    // the driver answers those
    seen.dialogs.push(dialog.message());
    dialog.accept().catch(() => {});
  });
  page.on('pageerror', (error) => seen.pageErrors.push(`${pageName(page.url())}: ${error.message}`));

  let visits = Promise.resolve();
  const visit = async (url) => {
    const name = pageName(url);
    seen.visited.push(name);
    // the start page has no content of its own (its window is still blank or hidden)
    if (name === 'Load') return;
    const entry = { name, screenshot: path.join(outDir, `${String(seen.pages.length + 1).padStart(2, "0")}-${name}.png`) };
    seen.pages.push(entry);
    const shoot = async () => {
      // only what the window shows: it reports its size and visibility once the pages set them
      // (a resumed run hides it while the list updates)
      if (page.url() !== url || !page.hostWindow || !page.hostWindow.visible) return;
      await page.screenshot({ path: entry.screenshot }).then(() => {
        entry.size = page.viewportSize();
      }).catch(() => {});
      entry.text = await page.evaluate(() => document.body.innerText).catch(() => entry.text);
    };
    await shoot();
    const action = actions[name];
    if (action && host.exitCode === undefined) {
      await sleep(300);   // the page's own timers and callbacks settle first
      if (page.url() === url) await action(page, shoot, { lang });
    }
  };
  page.on('load', () => {
    const url = page.url();
    visits = visits.then(() => visit(url)).catch((e) => { seen.errors.push(`${pageName(url)}: ${e.message}`); });
  });
  try {
    await page.goto(host.url);
    await within(host.exited, timeoutMs);
    await within(visits, 5000);
  } finally {
    await browser.close();
    if (host.exitCode === undefined) {
      host.child.kill();
      seen.errors.push(`the run did not end within ${timeoutMs / 1000} s`);
    }
  }
  seen.pages = seen.pages.filter((entry) => fs.existsSync(entry.screenshot));
  seen.exitCode = host.exitCode;
  seen.credentialPrompts = page.credentialPrompts || [];
  seen.hostOutput = host.outFile;
  seen.status = regGet(ctx, PRODUCT_KEY, 'status');
  seen.installed = installedFiles(ctx);
  seen.logs = keptLogs(ctx, started);
  return seen;
}

function report(seen, outDir) {
  const lines = [];
  lines.push(`pages: ${seen.visited.filter((name) => name !== 'Load').join(' -> ')}`);
  lines.push(`final "status" registry value: ${seen.status === null ? '(none)' : seen.status}`);
  lines.push(`exit code: ${seen.exitCode}`);
  lines.push(`installed files: ${seen.installed.length ? '' : '(none)'}`);
  for (const file of seen.installed) lines.push(`  ${file}`);
  lines.push(`log kept at: ${seen.logs.length ? seen.logs[seen.logs.length - 1] : '(no log found)'}`);
  lines.push(`screenshots (${seen.pages.length}) in: ${outDir}`);
  for (const text of seen.dialogs) lines.push(`message box: ${text}`);
  for (const text of seen.pageErrors.concat(seen.errors)) lines.push(`problem: ${text}`);
  return lines.join('\n');
}

async function main(argv) {
  const option = (name, fallback) => {
    const at = argv.indexOf(`--${name}`);
    return at >= 0 && at + 1 < argv.length ? argv[at + 1] : fallback;
  };
  const ctx = buildContext(option('build', path.join(root, 'build/i686')), option('work'));
  const outDir = path.resolve(option('out', path.join(ctx.workDir, 'screenshots')));
  const listUrl = option('list', '');
  if (argv.includes('--credentials')) process.env.TANDORA_DEVHOST_CREDENTIALS = option('credentials', '');
  if (argv.includes('--remember-credentials')) process.env.TANDORA_DEVHOST_REMEMBER = '1';
  const restoreProxy = argv.includes('--proxy') ? useProxy(ctx, option('proxy', '')) : () => {};
  const services = startServices(ctx, { publishSample: !listUrl });
  let seen;
  try {
    // Another product's list: the bundle ships it as published, and the pages refresh it from there.
    const listFile = listUrl ? await fetchTo(listUrl, path.join(ctx.workDir, 'list', 'installerlistTDR22.js'))
                             : services.listFile;
    const exe = packHost(ctx, listUrl || services.listUrl, listFile);
    resetProduct(ctx);
    // Two prerequisites present, WebView2 missing: the Prerequisite page has something to show.
    setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);
    console.log(listUrl ? `installer list ${listUrl}, web-service double on port ${services.servicePort}`
                        : `download server ${services.baseUrl}, web-service double on port ${services.servicePort}`);
    seen = await runPages(ctx, {
      exe, outDir, lang: option('lang', ''), timeoutMs: Number(option('timeout', '300')) * 1000,
      env: { TANDORA_DEVHOST_SERVICE_PORT: String(services.servicePort) },
    });
  } finally {
    services.stop();
    restoreProxy();
  }
  console.log(report(seen, outDir));
  const ok = seen.status === '1' && seen.installed.length > 0 && seen.errors.length === 0;
  console.log(ok ? 'The installation completed.' : 'The installation did not complete.');
  return ok ? 0 : 1;
}

module.exports = {
  PRODUCT_KEY, RESUME_KEY, RELEASE_KEY, PAGE_SIZE, PREREQUISITES, SAMPLE_PRODUCT_CODES, userActions,
  runTool, buildContext, regSet, regGet, regDeleteKey, setPrerequisites, publishFolder, useProxy, startServices, packHost,
  cachedSlots,
  clearRunState, resetProduct, downloadFolders, packageCache, installedFiles, keptLogs, runPages, report,
};

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => process.exit(code), (e) => {
    console.error(e.stack || String(e));
    process.exit(1);
  });
}
