// Whole runs of the real pages through the development host under Wine, clicked as a user would,
// against a local nginx with the sample product and the HTTPS web-service double.
//   node whole_flow.js BUILD_DIR OUT_DIR WORK_DIR install|refused|hostile
// install: a fresh installation, then two runs resumed after a restart (RESUME=INSTALLING) with
//          the pages' resume record. refused: a failed download, an unsupported system and a
//          restricted region. hostile: a publisher server under an attacker's control; nothing
//          it did not sign for its role in this release runs or installs, then the honest server
//          installs. network: squid with Basic authentication is the only route to the download
//          host, whose list names a dead address first and a mirror second: the credential
//          prompt cancelled ends on the network error page, answered (and remembered) installs
//          through both, and the next run installs without asking.
//          Every page shown is saved below OUT_DIR/<run>/.
'use strict';
const fs = require('fs');
const { execFileSync } = require('child_process');
const path = require('path');
const run = require('../../tools/devhost/install_run.js');

const [, , buildDir, outDir, workDir, group] = process.argv;
const PROGRAM_TEXT = 'Tandora 22 sample program\r\n';
const LANG = new Function(fs.readFileSync(path.join(buildDir, 'bundle/config/lang.js'), 'utf8') +
  '; return Config_StubMultiLangs;')();

let failed = 0;
function check(name, ok, detail) {
  if (!ok) failed++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${name}${ok || detail === undefined ? '' : ': ' + JSON.stringify(detail)}`);
}
function same(name, actual, expected) {
  check(name, JSON.stringify(actual) === JSON.stringify(expected), { actual, expected });
}

// "VERB PATH" of the requests the service double recorded, and a way to read their bodies.
function serviceRequests(services) {
  const dir = path.join(services.serviceState, 'requests');
  return fs.readdirSync(dir).filter((name) => name.endsWith('.head')).sort().map((name) => ({
    line: fs.readFileSync(path.join(dir, name), 'latin1').split('\r\n')[0],
    body: () => fs.readFileSync(path.join(dir, name.replace(/\.head$/, '.body')), 'latin1'),
  }));
}

// Common checks of a run: the pages it showed, their size, and nothing broken on the way.
// `fleeting` pages may move on before they can be saved.
function checkPages(label, seen, names, fleeting = []) {
  // the start page often moves on before the browser reports it loaded
  const steady = (list) => list.filter((name) => name !== 'Load' && !fleeting.includes(name));
  same(`${label}: pages in order`, steady(seen.visited), steady(names));
  const unsaved = names.filter((name) => !fleeting.includes(name) &&
                                         !seen.pages.some((entry) => entry.name === name));
  same(`${label}: every page saved`, unsaved, []);
  const wrong = seen.pages.filter((entry) => !entry.size || entry.size.width !== run.PAGE_SIZE.width ||
    entry.size.height !== run.PAGE_SIZE.height).map((entry) => [entry.name, entry.size]);
  same(`${label}: every page shown at the window size the pages set`, wrong, []);
  same(`${label}: no script errors, no driver problems`, seen.pageErrors.concat(seen.errors), []);
  check(`${label}: the run kept its log`, seen.logs.length > 0);
}

const textOf = (seen, name) => (seen.pages.find((entry) => entry.name === name) || {}).text || '';

// The sample's packages as published, below the server's root and below the download folder.
const PACKAGES = { x64: '1001/64Bit/Tandora22_x64.msi', x86: '1001/32Bit/Tandora22_x86.msi' };
const published = (services, arch) => path.join(services.www, 'tandora/22', PACKAGES[arch]);

async function installGroup(ctx, services, exe, env) {
  // The Download page offers the desktop; the packages land in its "Tandora" folder.
  const downloads = run.downloadFolders(ctx)[0];
  const desktopWindows = `C:\\users\\${path.basename(path.dirname(path.dirname(downloads)))}\\Desktop`;
  const programX64 = path.join(ctx.prefix, 'drive_c/Program Files/Zarvo/Tandora 22/Tandora.exe');
  const programX86 = path.join(ctx.prefix, 'drive_c/Program Files (x86)/Zarvo/Tandora 22/Tandora.exe');

  // A fresh installation: DotNet and the C++ runtime present, WebView2 missing.
  run.resetProduct(ctx);
  run.setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);
  const before = serviceRequests(services).length;
  let seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'fresh') });
  checkPages('fresh', seen, ['Initialization', 'Welcome', 'Prerequisite', 'Download', 'Downloading', 'Installing', 'Finish']);
  same('fresh: only the missing prerequisite is listed', /WebView2/.test(textOf(seen, 'Prerequisite')) &&
    !/runtime 2015/.test(textOf(seen, 'Prerequisite')), true);
  same('fresh: status 1, exit code 0', [seen.status, seen.exitCode], ['1', 0]);
  same('fresh: the 64-bit package installed its program, the 32-bit one nothing',
    [fs.existsSync(programX64) && fs.readFileSync(programX64, 'latin1'), fs.existsSync(programX86)], [PROGRAM_TEXT, false]);
  const downloaded = path.join(downloads, PACKAGES.x64);
  check('fresh: the package was downloaded whole into the chosen folder',
    fs.existsSync(downloaded) && fs.readFileSync(downloaded).equals(fs.readFileSync(published(services, 'x64'))));
  check('fresh: the progress pages ended at 100 %', /100\s*%/.test(textOf(seen, 'Downloading')) && /100\s*%/.test(textOf(seen, 'Installing')),
    [textOf(seen, 'Downloading'), textOf(seen, 'Installing')]);
  const requests = serviceRequests(services).slice(before);
  const activities = requests.filter((r) => r.line === 'POST /v1/logUserActivity').map((r) => (/Welcome_Next|Prerequisite_Next|Download_Download\/Install|Finish_Finish/.exec(r.body()) || [''])[0]);
  same('fresh: the web service heard the region check, both reports and each button', [
    requests.filter((r) => r.line === 'POST /v1/isInEmbargoedCountry').length,
    requests.filter((r) => r.line === 'POST /v1/logAnalytics').length, activities],
  [1, 2, ['Welcome_Next', 'Prerequisite_Next', 'Download_Download/Install', 'Finish_Finish']]);

  // Resumed after a restart that the last package asked for: the record lists nothing more.
  ctx.wine(['msiexec', '/x', run.SAMPLE_PRODUCT_CODES[0], '/qn']);   // the 64-bit product
  const x86 = path.join(downloads, PACKAGES.x86);
  fs.mkdirSync(path.dirname(x86), { recursive: true });
  fs.copyFileSync(published(services, 'x86'), x86);
  // its signature travels with it: the resumed install checks the file it is handed
  fs.copyFileSync(published(services, 'x86') + '.sig', x86 + '.sig');
  const writeRecord = (components) => {
    run.regDeleteKey(ctx, run.RESUME_KEY);
    const values = { OS: '64', IsISO: 'false', Lang: 'de', Directory: desktopWindows, IsDownloadOnly: 'false', Components: components };
    for (const [name, data] of Object.entries(values)) run.regSet(ctx, run.RESUME_KEY, name, 'REG_SZ', data);
  };
  writeRecord('');
  seen = await run.runPages(ctx, { exe, env, args: ['RESUME=INSTALLING'], outDir: path.join(outDir, 'resumed-nothing-left') });
  checkPages('resumed, nothing left', seen, ['Installing', 'Finish'], ['Installing']);
  same('resumed, nothing left: nothing installed, status 1 (completed before the restart)',
    [fs.existsSync(programX64), fs.existsSync(programX86), seen.status], [false, false, '1']);

  // Resumed with the main package still listed: only that one is installed, in the recorded language.
  writeRecord('ProductName64;');
  seen = await run.runPages(ctx, { exe, env, args: ['RESUME=INSTALLING'], outDir: path.join(outDir, 'resumed-de') });
  checkPages('resumed', seen, ['Installing', 'Finish']);
  same('resumed: only the listed 64-bit package installed, status 1', [fs.existsSync(programX64), fs.existsSync(programX86), seen.status],
    [true, false, '1']);
  check('resumed: pages in the recorded language', textOf(seen, 'Finish').includes(LANG.de.finishTitle), textOf(seen, 'Finish'));
  same('resumed: the installed component left the record', run.regGet(ctx, run.RESUME_KEY, 'Components'), '');
  run.resetProduct(ctx);
}

async function refusedGroup(ctx, services, exe, env) {
  // nothing installs here; a package left from an earlier run would verify and hide the failure
  run.clearRunState(ctx);
  run.setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);

  // The package is gone from the server: the Error page with status 6. In French from Welcome on.
  const x64 = published(services, 'x64');
  fs.renameSync(x64, x64 + '.gone');
  let seen;
  try {
    seen = await run.runPages(ctx, { exe, env, lang: 'fr', outDir: path.join(outDir, 'download-error-fr') });
  } finally {
    fs.renameSync(x64 + '.gone', x64);
  }
  checkPages('download error', seen, ['Initialization', 'Welcome', 'Prerequisite', 'Download', 'Downloading', 'Error']);
  same('download error: status 6, nothing installed', [seen.status, seen.installed], ['6', []]);
  check('download error: the Error page says why, in the chosen language',
    textOf(seen, 'Error').includes(LANG.fr.errorTitle) && textOf(seen, 'Download').includes(LANG.fr.DownloadInstallText), textOf(seen, 'Error'));

  // A system older than the minimum: a message, status 4, no page.
  const oldOs = path.join(path.dirname(exe), 'Tandora22_setup-oldos.exe');
  fs.copyFileSync(exe, oldOs);
  const appKey = 'HKCU\\Software\\Wine\\AppDefaults\\Tandora22_setup-oldos.exe';
  run.regSet(ctx, appKey, 'Version', 'REG_SZ', 'winxp');
  const before = serviceRequests(services).length;
  try {
    seen = await run.runPages(ctx, { exe: oldOs, env, outDir: path.join(outDir, 'unsupported-os') });
  } finally {
    run.regDeleteKey(ctx, appKey);
  }
  same('unsupported system: the requirement message, then status 4 without any page', [
    seen.dialogs.length, seen.dialogs.every((text) => text.includes(LANG.en.osRequirements.replace('%os%', 'Windows 7 SP1'))),
    seen.status, seen.visited.filter((name) => name !== 'Load')], [1, true, '4', []]);
  check('unsupported system: the close was reported', serviceRequests(services).slice(before)
    .some((r) => r.line === 'POST /v1/logUserActivity' && r.body().includes('Unsupported_OS_Close')));

  // The service names a restricted region: the warning page, closed by the user.
  const answer = path.join(services.serviceState, 'answers', 'isInEmbargoedCountry');
  fs.writeFileSync(answer, '<response><country>Atlantis</country><isEmbargo>true</isEmbargo></response>');
  try {
    seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'restricted-region') });
  } finally {
    fs.rmSync(answer, { force: true });
  }
  checkPages('restricted region', seen, ['EmbargoedWarning']);
  check('restricted region: the warning names the country and the product',
    /Atlantis/.test(textOf(seen, 'EmbargoedWarning')) && /SampleStub/.test(textOf(seen, 'EmbargoedWarning')), textOf(seen, 'EmbargoedWarning'));
  same('restricted region: closed with status 3, nothing installed', [seen.status, seen.installed], ['3', []]);
  run.clearRunState(ctx);
}

// The text of the run's newest kept log (UTF-16 or 8-bit, as the log was written).
function logText(seen) {
  if (!seen.logs.length) return '';
  const bytes = fs.readFileSync(seen.logs[seen.logs.length - 1]);
  return bytes.length > 1 && bytes[1] === 0 ? bytes.toString('utf16le') : bytes.toString('latin1');
}

async function hostileGroup(ctx, services, exe, env) {
  run.clearRunState(ctx);
  run.setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);
  const signTree = path.join(__dirname, '../support/sign_tree.sh');
  const sign = (key, file) => execFileSync(signTree, [key, file]);
  const otherKey = path.join(workDir, 'other-publisher.pem');
  fs.mkdirSync(workDir, { recursive: true });
  execFileSync('openssl', ['ecparam', '-name', 'prime256v1', '-genkey', '-noout', '-out', otherKey]);
  const marker = path.join(ctx.prefix, 'drive_c/hostile-marker.txt');
  const list = services.listFile;
  const honestList = fs.readFileSync(list);
  const x64 = published(services, 'x64');
  const x86 = published(services, 'x86');
  // A list that would run a command as administrator the moment a page loads it.
  const evilList = Buffer.concat([honestList,
    Buffer.from('\ntry { appExternal.executeCommand("echo owned > C:\\\\hostile-marker.txt"); } catch (e) {}\n')]);
  // Signed lists in the wrong role or of the wrong release, each with the evil script behind it.
  const honestText = honestList.toString('utf8');
  const serial = Number(/^serial (\d+)$/m.exec(honestText)[1]);
  const evil = evilList.toString('utf8');
  const signedList = (text) => { fs.writeFileSync(list, text); sign(ctx.signingKey, list); };
  const pageScript = path.join(buildDir, 'bundle/common/js/common.js');
  // Every file a case touches, restored after it.
  const touched = [list, list + '.sig', x64, x64 + '.meta', x64 + '.meta.sig', x64 + '.sig'];
  const saved = touched.map((file) => fs.readFileSync(file));
  // The package and its companions, each moved to its http twin.
  const moved = ['', '.meta', '.meta.sig', '.sig'].map((suffix) => ({
    answer: path.join(services.serviceState, 'answers', 'Tandora22_x64.msi' + suffix),
    target: `${services.baseUrl}/tandora/22/${PACKAGES.x64}${suffix}`,
  }));
  const listPages = ['Initialization', 'Error'];
  const packagePages = ['Initialization', 'Welcome', 'Prerequisite', 'Download', 'Downloading', 'Error'];
  const cases = [
    { name: 'unsigned list', pages: listPages, reason: /Signature refused for \S*installerlistTDR22\.js\S*: missing/,
      attack() { fs.writeFileSync(list, evilList); fs.rmSync(list + '.sig'); } },
    { name: 'list signed with another key', pages: listPages, reason: /Signature refused for \S*installerlistTDR22\.js\S*: bad signature/,
      attack() { fs.writeFileSync(list, evilList); sign(otherKey, list); } },
    { name: 'swapped package with a matching unsigned .meta', pages: packagePages,
      reason: /Signature refused for \S*Tandora22_x64\.msi\.meta: missing/,
      attack() {
        fs.copyFileSync(x86, x64);
        fs.copyFileSync(x86 + '.meta', x64 + '.meta');
        for (const sig of ['.meta.sig', '.sig']) fs.rmSync(x64 + sig);
      } },
    { name: '.meta.sig made for another file', pages: packagePages,
      reason: /Signature refused for \S*Tandora22_x64\.msi\.meta: bad signature/,
      attack() { fs.copyFileSync(x86 + '.meta.sig', x64 + '.meta.sig'); } },
    { name: 'older list (lower serial)', pages: listPages,
      reason: new RegExp(`Signature refused for \\S*installerlistTDR22\\.js\\S*: release ${serial - 1} is older than the accepted ${serial}`),
      attack() { signedList(evil.replace(`serial ${serial}\n`, `serial ${serial - 1}\n`)); } },
    { name: 'list older than the release accepted in an earlier run', pages: listPages,
      reason: new RegExp(`Signature refused for \\S*installerlistTDR22\\.js\\S*: release ${serial} is older than the accepted ${serial + 1}`),
      attack() { run.regSet(ctx, run.RELEASE_KEY, 'Tandora', 'REG_SZ', String(serial + 1), 32); },
      after() { for (const view of [64, 32]) run.regDeleteKey(ctx, run.RELEASE_KEY, view); } },
    { name: 'list without the manifest', pages: listPages,
      reason: /Signature refused for \S*installerlistTDR22\.js\S*: the list does not begin with the release manifest/,
      attack() { signedList(evil.slice(evil.indexOf('END-TANDORA-RELEASE-MANIFEST */') + 32)); } },
    { name: 'signed page script served as the list', pages: listPages,
      reason: /Signature refused for \S*installerlistTDR22\.js\S*: the list does not begin with the release manifest/,
      attack() { signedList(fs.readFileSync(pageScript, 'utf8')); } },
    { name: 'list of another product', pages: listPages,
      reason: /Signature refused for \S*installerlistTDR22\.js\S*: the list is for product Tandora2, not Tandora/,
      attack() { signedList(evil.replace('product Tandora\n', 'product Tandora2\n')); } },
    { name: 'signed package of another release', pages: packagePages,
      reason: /Signature refused for \S*Tandora22_x64\.msi\.meta: .*SHA-256 of the release manifest/,
      attack() { for (const suffix of ['', '.meta', '.meta.sig', '.sig']) fs.copyFileSync(x86 + suffix, x64 + suffix); } },
    { name: 'https redirected to http', pages: packagePages, reason: /Refused redirect from https to http:/,
      attack() {
        // The publisher lists the package on https; the network answers with a move to http.
        const https = `https://127.0.0.1:${services.servicePort}/moved/Tandora22_x64.msi`;
        fs.writeFileSync(list, honestList.toString('utf8').split(`${services.baseUrl}/tandora/22/${PACKAGES.x64}`).join(https));
        sign(ctx.signingKey, list);
        for (const { answer, target } of moved) {
          fs.writeFileSync(answer + '.status', '302');
          fs.writeFileSync(answer + '.location', target);
        }
      } },
  ];
  for (const c of cases) {
    fs.rmSync(marker, { force: true });
    c.attack();
    let seen;
    try {
      seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, c.name.replace(/\W+/g, '-')) });
    } finally {
      touched.forEach((file, i) => fs.writeFileSync(file, saved[i]));
      for (const { answer } of moved) for (const extra of ['.status', '.location']) fs.rmSync(answer + extra, { force: true });
      if (c.after) c.after();
      run.clearRunState(ctx);
    }
    checkPages(c.name, seen, c.pages);
    same(`${c.name}: no marker, nothing installed, status 6`, [fs.existsSync(marker), seen.installed, seen.status], [false, [], '6']);
    check(`${c.name}: the log names the file and the reason`, c.reason.test(logText(seen)), c.reason.source);
  }

  // The honest server, unchanged, installs; the release's serial is kept for the next runs.
  const seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'honest') });
  same('honest server: status 1, the 64-bit program installed', [seen.status, seen.installed.length > 0], ['1', true]);
  check('honest server: the accepted release is logged and its serial kept in the machine\'s product key',
    new RegExp(`Release manifest accepted from \\S*installerlistTDR22\\.js: product Tandora, serial ${serial}, 4 files`).test(logText(seen)) &&
    run.regGet(ctx, run.RELEASE_KEY, 'Tandora', 32) === String(serial), run.regGet(ctx, run.RELEASE_KEY, 'Tandora', 32));
  run.resetProduct(ctx);
}

// A port nothing listens on.
function deadPort() {
  return Number(execFileSync('python3', ['-c',
    'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])']).toString());
}

async function networkGroup(ctx) {
  const proxyDir = path.join(workDir, 'proxy');
  execFileSync(path.join(__dirname, '../support/servers/proxy_start.sh'), [proxyDir], { stdio: 'ignore' });
  const facts = Object.fromEntries(fs.readFileSync(path.join(proxyDir, 'proxy'), 'utf8').trim().split('\n')
    .map((line) => [line.slice(0, line.indexOf(' ')), line.slice(line.indexOf(' ') + 1)]));
  const services = run.startServices(ctx, { publishSample: false });
  let restoreProxy = () => {};
  try {
    // Files at a host only squid resolves: first at an address where nothing answers (squid says
    // 503), then at the mirror the release names, where nginx serves them.
    const nginxPort = new URL(services.baseUrl).port;
    const dead = `http://${facts.host}:${deadPort()}`, mirror = `http://${facts.host}:${nginxPort}`;
    run.runTool(process.execPath, [path.join(__dirname, '../support/sample/publish_sample.js'), services.www, dead],
                path.join(workDir, 'publish.out'));
    run.publishFolder(ctx, path.join(services.www, 'tandora/22'), ['--mirror', `${dead}/=${mirror}/`]);
    for (const view of [64, 32]) run.regDeleteKey(ctx, run.RELEASE_KEY, view);
    const exe = run.packHost(ctx, `${mirror}/tandora/22/installerlistTDR22.js`,
                             path.join(services.www, 'tandora/22/installerlistTDR22.js'));
    const env = { TANDORA_DEVHOST_SERVICE_PORT: String(services.servicePort) };
    restoreProxy = run.useProxy(ctx, `127.0.0.1:${facts.port}`);

    const fresh = () => {
      run.resetProduct(ctx);
      run.setPrerequisites(ctx, ['DotNet', 'VS2015RedistX64']);
    };
    const installed = (label, seen) => {
      checkPages(label, seen, ['Initialization', 'Welcome', 'Prerequisite', 'Download', 'Downloading', 'Installing', 'Finish']);
      same(`${label}: status 1, exit code 0, the program installed`, [seen.status, seen.exitCode, seen.installed.length > 0],
           ['1', 0, true]);
    };

    // The prompt cancelled: the download ends as a network failure, on its page, nothing installed.
    fresh();
    process.env.TANDORA_DEVHOST_CREDENTIALS = 'cancel';
    let seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'cancelled') });
    check('cancelled: the error page, nothing installed', seen.visited.includes('Error') && seen.installed.length === 0,
          [seen.visited, seen.installed]);
    check('cancelled: the log says the prompt was cancelled',
          logText(seen).includes(`the credential prompt for 127.0.0.1:${facts.port} was cancelled`), logText(seen).slice(-2000));

    // Answered once, "remember" ticked: every request of the run goes through with it.
    fresh();
    process.env.TANDORA_DEVHOST_CREDENTIALS = `${facts.user}:${facts.password}`;
    process.env.TANDORA_DEVHOST_REMEMBER = '1';
    seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'answered') });
    installed('answered', seen);
    check('answered: the proxy asked, the prompt answered once', seen.credentialPrompts.length === 1, seen.credentialPrompts);
    const log = logText(seen);
    check('answered: the packages moved from the dead address to the mirror',
          log.includes(`moves from ${dead}/tandora/22/1001/64Bit/Tandora22_x64.msi to ${mirror}/`), log.slice(-3000));
    const squidLog = fs.readFileSync(path.join(facts.state, 'access.log'), 'utf8');
    check('answered: the package came through squid for the proxy user',
          squidLog.split('\n').some((line) => line.includes('/1001/64Bit/Tandora22_x64.msi') && line.includes(` ${facts.user} `) &&
                                             / TCP_[A-Z_]+\/20[06] /.test(line)), squidLog.slice(-2000));

    // Remembered: the next run asks nothing (a prompt would be cancelled and fail it).
    fresh();
    process.env.TANDORA_DEVHOST_CREDENTIALS = 'cancel';
    delete process.env.TANDORA_DEVHOST_REMEMBER;
    seen = await run.runPages(ctx, { exe, env, outDir: path.join(outDir, 'remembered') });
    installed('remembered', seen);
    same('remembered: no prompt', seen.credentialPrompts, []);
    const registry = ['user.reg', 'system.reg', 'userdef.reg'].map((name) => {
      const file = path.join(ctx.prefix, name);
      return fs.existsSync(file) ? fs.readFileSync(file, 'latin1') : '';
    }).join('');
    same('the password is in no log and no registry value (the credential store keeps it encrypted)',
         [log.includes(facts.password), logText(seen).includes(facts.password), registry.includes(facts.password)],
         [false, false, false]);
  } finally {
    delete process.env.TANDORA_DEVHOST_CREDENTIALS;
    delete process.env.TANDORA_DEVHOST_REMEMBER;
    restoreProxy();
    services.stop();
    execFileSync(path.join(__dirname, '../support/servers/proxy_stop.sh'), [proxyDir], { stdio: 'ignore' });
    run.resetProduct(ctx);
  }
}

async function main() {
  const ctx = run.buildContext(buildDir, workDir);
  if (group === 'network') {
    await networkGroup(ctx);
    run.setPrerequisites(ctx, []);
    console.log(failed ? `${failed} check(s) failed` : 'all checks passed');
    return failed ? 1 : 0;
  }
  const services = run.startServices(ctx);
  try {
    const exe = run.packHost(ctx, services.listUrl, services.listFile);
    const env = { TANDORA_DEVHOST_SERVICE_PORT: String(services.servicePort) };
    if (group === 'install') await installGroup(ctx, services, exe, env);
    else if (group === 'refused') await refusedGroup(ctx, services, exe, env);
    else if (group === 'hostile') await hostileGroup(ctx, services, exe, env);
    else throw new Error(`unknown group ${group}`);
  } finally {
    services.stop();
    run.setPrerequisites(ctx, []);
  }
  console.log(failed ? `${failed} check(s) failed` : 'all checks passed');
  return failed ? 1 : 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
