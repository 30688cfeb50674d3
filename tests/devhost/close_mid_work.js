// The window closed in the middle of work, twenty times at seeded moments, through the development
// host under Wine: ten closes while the Downloading page downloads the sample's package (served at
// a modem's pace), then a run that resumes that download to the end, then ten closes while the
// Installing page has Windows Installer install it (the first of them in that resumed run).
//   node close_mid_work.js BUILD_DIR WORK_DIR [SEED]
// Every run must end by itself with exit code 0, without a crash and without the end of the run
// giving up on a worker; a close in Downloading leaves status 3 and a partial package in the package
// cache that holds nothing but downloaded bytes, and the next run completes it.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const { execFileSync } = require('child_process');
const run = require('../../tools/devhost/install_run.js');
const { startHost, openBrowser, waitFor } = require('../../tools/devhost/driver.js');

const [, , buildDir, workDir, seedText] = process.argv;
const SEED = Number(seedText || process.env.TANDORA_CLOSE_SEED || 20261209);
const PACKAGE = '1001/64Bit/Tandora22_x64.msi';
const RATE = 1024;   // bytes per second below /slow/ (tests/support/servers/start.sh)
const PROGRAM_TEXT = 'Tandora 22 sample program\r\n';

let failed = 0;
function check(name, ok, detail) {
  if (!ok) failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}

// Small, seedable, and the same on every machine.
function random(seed) {
  let a = seed >>> 0;
  return () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = Math.imul(a ^ (a >>> 15), a | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

// A package that keeps Windows Installer busy for a few seconds under Wine (the sample's takes a
// tenth of one): many small files, a large one that does not compress, and a deferred action that
// waits four seconds, longer than the host takes to show the close's confirmation.
const SLOW_CODE = '{5B0E2C44-7A1D-4C3E-9F21-0D8E6A4B3C77}';
const SLOW_FILES = 200;
function buildSlowPackage(ctx) {
  const dir = path.join(ctx.workDir, 'slow-msi');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(path.join(dir, 'f'), { recursive: true });
  const components = [];
  for (let i = 0; i < SLOW_FILES; i++) {
    fs.writeFileSync(path.join(dir, 'f', `p${i}.txt`), `part ${i}\r\n`);
    components.push(`<Component Id="C${i}" Guid="*" Win64="yes"><File Id="F${i}" Name="p${i}.txt" Source="f/p${i}.txt" KeyPath="yes"/></Component>`);
  }
  const big = crypto.randomBytes(12 * 1024 * 1024);
  fs.writeFileSync(path.join(dir, 'f', 'big.bin'), big);
  components.push('<Component Id="Big" Guid="*" Win64="yes"><File Id="Big" Name="big.bin" Source="f/big.bin" KeyPath="yes"/></Component>');
  const refs = components.map((c) => `<ComponentRef Id="${/Id="(\w+)"/.exec(c)[1]}"/>`).join('');
  fs.writeFileSync(path.join(dir, 'slow.wxs'), `<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
<Product Id="${SLOW_CODE.slice(1, -1)}" Name="Slow Sample" Language="1033" Version="1.0.0" Manufacturer="Zarvo"
         UpgradeCode="6C1F3D55-8B2E-4D4F-A032-1E9F7B5C4D88">
<Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
<Media Id="1" Cabinet="slow.cab" EmbedCab="yes"/>
<Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFiles64Folder"><Directory Id="D" Name="SlowSample">
${components.join('\n')}
</Directory></Directory></Directory>
<Feature Id="Complete" Level="1">${refs}</Feature>
<Property Id="WAITER" Value="C:\\windows\\system32\\cmd.exe"/>
<CustomAction Id="Wait" Property="WAITER" ExeCommand="/c ping -n 5 127.0.0.1" Execute="deferred" Impersonate="no" Return="ignore"/>
<InstallExecuteSequence><Custom Action="Wait" Before="InstallFinalize">NOT Installed</Custom></InstallExecuteSequence>
</Product></Wix>`);
  execFileSync('wixl', ['-a', 'x64', '-o', 'slow.msi', 'slow.wxs'], { cwd: dir, stdio: ['ignore', 'ignore', 'inherit'] });
  signFile(ctx, path.join(dir, 'slow.msi'));
  return { msi: path.join(dir, 'slow.msi'), big, folder: path.join(ctx.prefix, 'drive_c/Program Files/SlowSample') };
}

// The publisher's signature beside FILE (FILE.sig), as the stub demands of what it installs.
const signFile = (ctx, file) => execFileSync(path.join(__dirname, '../support/sign_tree.sh'), [ctx.signingKey, file]);

// The products and the resume record go; the shared download folder of the other tests stays.
function uninstall(ctx) {
  for (const code of [run.SAMPLE_PRODUCT_CODES[0], SLOW_CODE]) ctx.wine(['msiexec', '/x', code, '/qn'], { allowFail: true });
  run.regDeleteKey(ctx, run.RESUME_KEY);
}

const pageName = (url) => (/\/pages\/(\w+)\/page\.html/.exec(url) || [])[1] || '';

// The progress page has heard its first progress report (or has gone).
const reporting = (page) => page.evaluate(() => {
  const percent = document.getElementById('progressPercent');
  return !percent || percent.textContent !== '';
}).catch(() => true);

// The page's own close button, clicked as soon as it is there: a busy machine may still be
// animating the page, and the moment must not move.
const clickClose = (page) => page.waitForSelector('.closeButton', { state: 'attached', timeout: 15000 })
  .then((button) => button.evaluate((element) => element.click()));

// One run: starts the host resumed at `resume`, and once `target` is at work waits `delayMs` and
// clicks the page's close button. Pages in `through` are left to do their work;
// any other page that shows up is closed at once.
async function closeRun(ctx, browser, { exe, env, resume, target, through = [], delayMs, label }) {
  const outDir = path.join(ctx.workDir, 'close-runs', label);
  fs.rmSync(outDir, { recursive: true, force: true });
  const started = Date.now() - 2000;
  const host = await startHost({ exe, prefix: ctx.prefix, outDir, args: [`RESUME=${resume}`], env });
  const page = browser.page;
  const result = { landed: false, closed: false, problems: [] };
  let closing = Promise.resolve();
  const onLoad = () => {
    const name = pageName(page.url());
    if (!name) return;
    closing = closing.then(async () => {
      if (name === target && !result.landed) {
        // A download is timed from its first bytes; an install from the page, which starts it at once.
        if (target === 'Downloading') await waitFor(`${target} to report progress`, () => reporting(page), 60000);
        await new Promise((resolve) => setTimeout(resolve, delayMs));   // the seeded moment itself
        if (pageName(page.url()) !== target) return;
        result.closed = true;
        await clickClose(page);
        result.landed = true;
      } else if (name !== target && !through.includes(name)) {
        result.closed = true;
        await clickClose(page);
      }
    }).catch((e) => { if (host.exitCode === undefined) result.problems.push(`${name}: ${e.message}`); });
  };
  // Once closed, the browser keeps running the page's timers against a host that has gone.
  const onError = (error) => { if (!result.closed) result.problems.push(`script error: ${error.message}`); };
  // Closing an unfinished run asks first; the user says yes.
  const onDialog = (dialog) => dialog.accept().catch(() => {});
  page.on('load', onLoad);
  page.on('pageerror', onError);
  page.on('dialog', onDialog);
  try {
    await page.goto(host.url);
    // Longer than the end of the run waits for a worker (a minute), so a give-up shows as such.
    await Promise.race([host.exited, new Promise((resolve) => setTimeout(resolve, 120000))]);
  } finally {
    page.off('load', onLoad);
    page.off('pageerror', onError);
    page.off('dialog', onDialog);
    if (host.exitCode === undefined) {
      host.child.kill();
      result.problems.push('the run did not end within 120 s');
    }
  }
  await closing;
  // The closed page stops calling the host that has gone before the next run starts.
  await page.goto('about:blank').catch(() => {});
  result.exitCode = host.exitCode;
  result.output = host.output();
  result.status = run.regGet(ctx, run.PRODUCT_KEY, 'status');
  const logs = run.keptLogs(ctx, started);
  result.log = logs.length ? fs.readFileSync(logs[logs.length - 1], 'latin1') : '';
  return result;
}

// What every run must show, whatever moment the close came at.
function checkEnd(label, result) {
  check(`${label}: no problems on the way`, result.problems.length === 0, result.problems);
  check(`${label}: ended by itself with exit code 0`, result.exitCode === 0, result.exitCode);
  check(`${label}: no crash`, /Development host: closed/.test(result.output) &&
    !/Unhandled (exception|page fault)|wine: .*(exception|crash)|backtrace/i.test(result.output),
    result.output.slice(-2000));
  check(`${label}: the end of the run never gave up on a worker`, result.log !== '' &&
    !/still running after/.test(result.log), result.log.slice(-2000));
  if (result.landed) check(`${label}: closed by the user, status 3`, result.status === '3', result.status);
}

async function main() {
  const ctx = run.buildContext(buildDir, workDir);
  const services = run.startServices(ctx);
  const browser = await openBrowser();
  try {
    // The sample's list with every package below /slow/, published beside it (the pages refresh the
    // list from the server): downloads last long enough to close into. Its release also lists the
    // slow package that the install closes put in the sample's place.
    const slow = buildSlowPackage(ctx);
    const name = path.basename(services.listFile);
    const slowList = path.join(services.www, 'close', name);
    fs.mkdirSync(path.dirname(slowList), { recursive: true });
    const slowBytes = fs.readFileSync(slow.msi);
    const slowLine = `file ${crypto.createHash('sha256').update(slowBytes).digest('hex')} ${slowBytes.length} ` +
      `${services.baseUrl}/slow/close/slow.msi\n`;
    fs.writeFileSync(slowList, fs.readFileSync(services.listFile, 'utf8').split(services.baseUrl + '/')
      .join(services.baseUrl + '/slow/').replace('END-TANDORA-RELEASE-MANIFEST */', slowLine + '$&'));
    signFile(ctx, slowList);
    const exe = run.packHost(ctx, `${services.baseUrl}/close/${name}`, slowList, 'Tandora22_setup-devhost-close.exe');
    const env = { TANDORA_DEVHOST_SERVICE_PORT: String(services.servicePort) };
    const published = fs.readFileSync(path.join(services.www, 'tandora/22', PACKAGE));
    // Below the prefix's own drive: its Desktop is the home folder every prefix on the machine shares.
    const downloads = path.join(ctx.prefix, 'drive_c/close-downloads');
    const target = path.join(downloads, 'Tandora', PACKAGE);
    // Downloads go to the package cache on the ground; the download folder gets the whole copy.
    const companions = ['', '.sig', '.meta', '.meta.sig'];
    // (its slot folder of the cache, once a run made it)
    const cachedFile = () => {
      const slots = run.cachedSlots(ctx, path.basename(PACKAGE));
      return slots.length ? path.join(slots[0], path.basename(PACKAGE)) : '';
    };
    const removeCached = () => run.cachedSlots(ctx, path.basename(PACKAGE))
      .forEach((slot) => fs.rmSync(slot, { recursive: true, force: true }));
    fs.rmSync(downloads, { recursive: true, force: true });
    removeCached();
    const program = path.join(ctx.prefix, 'drive_c/Program Files/Zarvo/Tandora 22/Tandora.exe');
    // Before each run, in one Wine start: no status of an earlier run, and a fresh resume record.
    const regFile = path.join(ctx.workDir, 'close-run.reg');
    const full = (key) => key.replace(/^HKCU\\/, 'HKEY_CURRENT_USER\\');
    const values = { OS: '64', IsISO: 'false', Lang: 'en', Directory: 'C:\\close-downloads', IsDownloadOnly: 'false',
                     Components: 'ProductName64;' };
    fs.writeFileSync(regFile, ['Windows Registry Editor Version 5.00', '',
      `[${full(run.PRODUCT_KEY)}]`, '"status"=-', '',
      `[-${full(run.RESUME_KEY)}]`, '',
      `[${full(run.RESUME_KEY)}]`,
      ...Object.entries(values).map(([name, data]) => `"${name}"="${data.replace(/\\/g, '\\\\')}"`), ''].join('\r\n'));
    const record = () => ctx.wine(['reg', 'import', 'Z:' + regFile.replace(/\//g, '\\')]);
    uninstall(ctx);
    run.setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);

    const next = random(SEED);
    const seconds = published.length / RATE;
    console.log(`seed ${SEED}; the package has ${published.length} bytes, about ${seconds.toFixed(1)} s to download`);
    // Downloaded bytes, or the zeros the downloader sized the file with: nothing else.
    const consistent = (bytes) => bytes.length <= published.length &&
      bytes.every((b, i) => b === published[i] || b === 0);

    let incomplete = 0;
    for (let i = 1; i <= 10; i++) {
      // The close asks first, and the message box costs the host a second or two under Wine.
      const delayMs = Math.floor(next() * seconds * 500);
      const label = `download close ${i} after ${delayMs} ms`;
      record();
      // A close that came after the last byte left a whole package, which the next run would
      // merely verify (or take in from the download folder's copy): start that one over.
      const whole = cachedFile();
      if (whole && fs.existsSync(whole) && fs.readFileSync(whole).equals(published)) {
        removeCached();
        companions.forEach((suffix) => fs.rmSync(target + suffix, { force: true }));
      }
      const result = await closeRun(ctx, browser, {
        exe, env, resume: 'DOWNLOADING', target: 'Downloading', delayMs, label,
      });
      checkEnd(label, result);
      check(`${label}: the close reached the Downloading page`, result.landed);
      const cached = cachedFile();
      const bytes = cached && fs.existsSync(cached) ? fs.readFileSync(cached) : null;
      check(`${label}: the partial package is kept and holds only downloaded bytes`, bytes !== null && consistent(bytes),
        bytes && bytes.length);
      if (bytes && !bytes.equals(published)) incomplete++;
    }
    check('most download closes came while the package was still incomplete', incomplete >= 5, incomplete);

    // The resumed download runs to the end; the first install close comes in the same run. The
    // others install the slow package in its place, each time from an uninstalled product.
    let midInstall = 0;
    for (let i = 1; i <= 10; i++) {
      const delayMs = Math.floor(next() * 1200);   // the slow package installs for about five seconds
      const label = `install close ${i} after ${delayMs} ms`;
      uninstall(ctx);
      // The slow package in the download folder, and none in the cache: the install takes it in.
      if (i > 1) {
        removeCached();
        for (const suffix of ['', '.sig']) fs.copyFileSync(slow.msi + suffix, target + suffix);
      }
      record();
      const result = await closeRun(ctx, browser, {
        exe, env, resume: i === 1 ? 'DOWNLOADING' : 'INSTALLING', target: 'Installing', through: ['Downloading'],
        delayMs, label,
      });
      checkEnd(label, result);
      if (i === 1) {
        check('the download resumed after the closes completed the package',
          fs.existsSync(target) && fs.readFileSync(target).equals(published));
      }
      // Windows Installer finishes or rolls back on its own terms: never a half-written product.
      if (i === 1) {
        check(`${label}: the program is whole or absent`,
          !fs.existsSync(program) || fs.readFileSync(program, 'latin1') === PROGRAM_TEXT);
      } else {
        const present = fs.existsSync(slow.folder) ? fs.readdirSync(slow.folder).length : 0;
        check(`${label}: the product is whole or absent`, present === 0 ||
          (present === SLOW_FILES + 1 && fs.readFileSync(path.join(slow.folder, 'big.bin')).equals(slow.big)), present);
      }
      if (/Waiting for 1 worker/.test(result.log) && /EMInstall/.test(result.log)) midInstall++;
    }
    check('several install closes came while Windows Installer was still at work', midInstall >= 3, midInstall);
  } finally {
    await browser.close();
    services.stop();
    fs.rmSync(path.join(ctx.prefix, 'drive_c/close-downloads'), { recursive: true, force: true });
    fs.rmSync(run.packageCache(ctx), { recursive: true, force: true });
    uninstall(ctx);
    run.setPrerequisites(ctx, []);
  }
  console.log(failed ? `${failed} check(s) failed` : 'all checks passed');
}

main().catch((e) => {
  console.error(e.stack || String(e));
  failed++;
}).then(() => process.exit(failed ? 1 : 0));
