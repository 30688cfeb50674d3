// Starts the development host under Wine, opens its page in headless Chromium and follows the
// host window's size and visibility. Used by the tests, and on its own as a page runner:
//   node tools/devhost/driver.js --exe EXE [--prefix WINEPREFIX] [--out DIR] [--timeout SECONDS]
//                                [--credentials USER:PASSWORD|cancel] [--remember-credentials]
// saves a screenshot of every page the run shows and prints how the run ended. The stub's
// credential prompts (a proxy or server asking for a user name and password) show as the page's
// own dialogs; --credentials (or TANDORA_DEVHOST_CREDENTIALS, with TANDORA_DEVHOST_REMEMBER=1 for
// the remember box) answers them in a headless run.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const { chromium } = require('playwright-core');

const root = path.resolve(__dirname, '../..');
const wineRun = path.join(root, 'scripts/wine-run.sh');
const chromiumPath = process.env.TANDORA_CHROMIUM || '/usr/bin/chromium';

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
// Waits for promise or ms, whichever comes first, and leaves no timer behind: a script built on
// the runner ends as soon as its work does.
async function within(promise, ms) {
  let timer;
  try {
    return await Promise.race([promise, new Promise((resolve) => { timer = setTimeout(resolve, ms); })]);
  } finally {
    clearTimeout(timer);
  }
}

// Resolves with what `probe` returns once it is truthy; rejects after `ms`.
async function waitFor(what, probe, ms) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await sleep(100);
  }
}

// Runs the exe as a UI instance; its output goes to a file (Wine's helpers keep pipes open).
// `env` adds to this process's environment (Wine hands it on to the Windows side).
async function startHost({ exe, prefix, outDir, args = [], env = {}, timeoutMs = 120000 }) {
  fs.mkdirSync(outDir, { recursive: true });
  const outFile = path.join(outDir, 'devhost.out');
  const fd = fs.openSync(outFile, 'w');
  const child = spawn(wineRun, [prefix, exe, 'run=1', ...args],
                      { stdio: ['ignore', fd, fd], env: { ...process.env, ...env } });
  fs.closeSync(fd);
  const host = { child, outFile, exitCode: undefined };
  host.exited = new Promise((resolve) => child.on('exit', (code, signal) => {
    host.exitCode = code === null ? signal : code;
    resolve(host.exitCode);
  }));
  host.output = () => fs.readFileSync(outFile, 'utf8');
  try {
    host.url = await waitFor('the development host to print its URL', () => {
      if (host.exitCode !== undefined) throw new Error(`the host ended (${host.exitCode}) early:\n${host.output()}`);
      const match = /Development host: (http:\/\/127\.0\.0\.1:\d+\/\S+)/.exec(host.output());
      return match && match[1];
    }, timeoutMs);
  } catch (e) {
    child.kill();
    throw e;
  }
  return host;
}

// The dialogs of a credential prompt (see Shim.cpp).
const isCredentialDialog = (dialog) =>
  /asks for a user name and password|^Remember the user name and password for /.test(dialog.message());

// "USER:PASSWORD" (the user name ends at the first colon) or "cancel"; null answers nothing.
function credentialAnswers(given = process.env.TANDORA_DEVHOST_CREDENTIALS,
                           remember = process.env.TANDORA_DEVHOST_REMEMBER === '1') {
  if (!given) return null;
  if (given === 'cancel') return { cancel: true };
  const colon = given.indexOf(':');
  if (colon < 1) throw new Error('credentials are USER:PASSWORD or cancel');
  return { user: given.slice(0, colon), password: given.slice(colon + 1), remember };
}

function answerCredentialDialogs(page, answers) {
  page.credentialPrompts = [];
  page.on('dialog', (dialog) => {
    if (!answers || !isCredentialDialog(dialog)) return;
    const text = dialog.message();
    if (text.endsWith('User name:')) page.credentialPrompts.push(text);
    const reply = answers.cancel ? dialog.dismiss()
      : text.endsWith('User name:') ? dialog.accept(answers.user)
      : text.endsWith('Password:') ? dialog.accept(answers.password)
      : answers.remember ? dialog.accept() : dialog.dismiss();
    reply.catch(() => {});
  });
}

// A fresh profile every time; the host's window events resize the viewport.
async function openBrowser({ screenSize = { width: 1280, height: 1024 }, credentials = credentialAnswers() } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tandora-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: true,
    viewport: { width: 800, height: 600 },
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
           '--disable-sync', '--no-first-run'],
  });
  const page = context.pages()[0] || await context.newPage();
  page.hostWindow = null;
  answerCredentialDialogs(page, credentials);
  await page.exposeFunction('__devhostWindow', async (state) => {
    page.hostWindow = state;
    const scale = (state.dpi || 96) / 96;
    if (state.visible && state.width > 0 && state.height > 0)
      await page.setViewportSize({ width: Math.round(state.width / scale), height: Math.round(state.height / scale) });
  });
  // The pages shrink on screens too small for them. The screen is the monitor's, as in the real
  // window, not the viewport's (Chromium's emulation makes them one when the viewport changes).
  await context.addInitScript(({ width, height }) => {
    const sizes = { width, height, availWidth: width, availHeight: height - 40 };
    for (const name of Object.keys(sizes))
      Object.defineProperty(Screen.prototype, name, { get: () => sizes[name], configurable: true });
  }, screenSize);
  await context.addInitScript(() => window.addEventListener('devhost', (e) => {
    if (e.detail && e.detail.type === 'window') window.__devhostWindow(e.detail);
  }));
  const close = async () => {
    await context.close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, page, close };
}

async function main(argv) {
  const option = (name, fallback) => {
    const at = argv.indexOf(`--${name}`);
    return at >= 0 && at + 1 < argv.length ? argv[at + 1] : fallback;
  };
  const exe = option('exe', path.join(root, 'build/i686/Tandora22_setup-devhost.exe'));
  const prefix = option('prefix', path.join(path.dirname(exe), 'wineprefix'));
  const outDir = path.resolve(option('out', path.join(path.dirname(exe), 'devhost-run')));
  const timeoutMs = Number(option('timeout', '600')) * 1000;
  const credentials = credentialAnswers(option('credentials', process.env.TANDORA_DEVHOST_CREDENTIALS),
                                        argv.includes('--remember-credentials') || process.env.TANDORA_DEVHOST_REMEMBER === '1');

  const host = await startHost({ exe, prefix, outDir });
  console.log(`page: ${host.url}`);
  const browser = await openBrowser({ credentials });
  let shots = 0;
  const shoot = async () => {
    const name = decodeURIComponent(new URL(browser.page.url()).pathname.split('/').pop() || 'page');
    const file = path.join(outDir, `${String(++shots).padStart(2, '0')}-${name.replace(/[^\w.-]/g, '_')}.png`);
    await browser.page.screenshot({ path: file }).catch(() => {});
    console.log(`screenshot: ${file}`);
  };
  browser.page.on('load', () => { shoot(); });
  try {
    await browser.page.goto(host.url);
    await within(host.exited, timeoutMs);
  } finally {
    if (host.exitCode === undefined) await shoot();
    await browser.close();
  }
  if (host.exitCode === undefined) {
    host.child.kill();
    console.log(`the run did not end within ${timeoutMs / 1000} s`);
    return 1;
  }
  console.log(`the run ended with exit code ${host.exitCode}; host output in ${host.outFile}`);
  return host.exitCode === 0 ? 0 : 1;
}

module.exports = { startHost, openBrowser, waitFor, sleep, within, root, wineRun, isCredentialDialog, credentialAnswers };

if (require.main === module) {
  main(process.argv.slice(2)).then((code) => process.exit(code), (e) => {
    console.error(e.stack || String(e));
    process.exit(1);
  });
}
