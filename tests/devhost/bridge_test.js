// Drives the development host under Wine from headless Chromium, through the page's own
// window.external: values both ways, script errors, a worker's callback, expandos, the run's
// secret and address, and closing the window down to the end-of-run work.
//   node bridge_test.js WINEPREFIX STUB OUT_DIR
'use strict';
const assert = require('assert');
const fs = require('fs');
const http = require('http');
const path = require('path');
const { startHost, openBrowser, waitFor } = require('../../tools/devhost/driver.js');
const { keptLogs } = require('../../tools/devhost/install_run.js');

const [, , prefix, stub, outDir] = process.argv;
const DISP_E_BADPARAMCOUNT = 0x8002000E | 0;
const DISP_E_TYPEMISMATCH = 0x80020005 | 0;

function rawGet(port, target, hostHeader) {
  return new Promise((resolve, reject) => {
    const request = http.request({ host: '127.0.0.1', port, path: target, headers: { Host: hostHeader } }, (answer) => {
      answer.resume();
      answer.on('end', () => resolve(answer.statusCode));
    });
    request.on('error', reject);
    request.end();
  });
}

// The kernel's table of TCP sockets: Wine's sockets are the system's.
function tcpRows() {
  const rows = fs.readFileSync('/proc/net/tcp', 'utf8').trim().split('\n').slice(1);
  return rows.map((row) => row.trim().split(/\s+/)).map((cols) => ({
    address: cols[1].split(':')[0], port: parseInt(cols[1].split(':')[1], 16),
    remotePort: parseInt(cols[2].split(':')[1], 16), state: cols[3], unread: parseInt(cols[4].split(':')[1], 16),
  }));
}

// Listening sockets of the port.
function listenersOn(port) {
  return tcpRows().filter((row) => row.state === '0A' && row.port === port).map((row) => row.address);
}

// A GET whose answer is still to come; `read` resolves once the whole request is in the kernel
// and the host's end of the connection holds no byte it has not read.
function getReadByHost(port, target, hostHeader) {
  let sent;
  const answer = new Promise((resolve, reject) => {
    const request = http.request({ host: '127.0.0.1', port, path: target, headers: { Host: hostHeader }, agent: false },
      (response) => {
        response.resume();
        response.on('end', () => resolve(response.statusCode));
      });
    sent = new Promise((done) => request.on('finish', () => done(request.socket.localPort)));
    request.on('error', reject);
    request.end();
  });
  const read = sent.then((clientPort) => waitFor(`the host to read the request from port ${clientPort}`, () => {
    const row = tcpRows().find((r) => r.port === port && r.remotePort === clientPort && r.state === '01');
    return row !== undefined && row.unread === 0;
  }, 30000));
  return { answer, read };
}

// Only this run's logs: another run that had the same port leaves one naming the same address.
const startedAt = Date.now() - 2000;
function keptLogsMentioning(text) {
  return keptLogs({ prefix }, startedAt).filter((log) => fs.readFileSync(log, 'latin1').includes(text));
}

const checks = [];
const check = (name, body) => checks.push({ name, body });

async function main() {
  const host = await startHost({ exe: stub, prefix, outDir });
  const url = new URL(host.url);
  const port = Number(url.port);
  const secret = url.pathname.split('/')[1];
  const browser = await openBrowser();
  const page = browser.page;
  let failed = 0;
  try {
    await page.goto(host.url);

    check('the shim defines window.external before the bundle scripts run', async () => {
      assert.strictEqual(await page.evaluate(() => window.bridgeAtLoad), 'function');
    });

    check('text, number and boolean come back as they went', async () => {
      const values = ['Grüße ✓ "quoted" \\ line\nbreak', '', 42, -7, 2147483647, true, false];
      const back = await page.evaluate((list) => list.map((v) => appExternal.echoValue(v)), values);
      assert.deepStrictEqual(back, values);
    });

    check('call faults throw script errors carrying the HRESULT', async () => {
      const numbers = await page.evaluate(() => {
        const fault = (f) => { try { f(); return 'no error'; } catch (e) { return e.number; } };
        return [
          fault(() => appExternal.echoValue('one', 'two')),
          fault(() => appExternal.echoValue(1.5)),         // not a whole number: VT_R8
          fault(() => appExternal.isInternetConnected(1)), // a statement method: flags fall back to 1
        ];
      });
      assert.deepStrictEqual(numbers, [DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH, DISP_E_BADPARAMCOUNT]);
    });

    check('a callback handed to a worker arrives with its arguments in script order', async () => {
      await page.evaluate(() => {
        window.calls = [];
        appExternal.callBackLater('from the worker', 17, true, function () { window.calls.push([...arguments]); });
      });
      const calls = await waitFor('the callback', () => page.evaluate(() => window.calls.length && window.calls), 30000);
      assert.deepStrictEqual(calls, [['from the worker', 17, true]]);
    });

    check('expandos set from the page read back, and go away when deleted', async () => {
      const seen = await page.evaluate(() => {
        appExternal.answer = 5;
        appExternal.label = 'five';
        const handler = function () {};
        appExternal.handler = handler;
        const before = [appExternal.answer, appExternal.label, appExternal.handler === handler, 'answer' in appExternal];
        delete appExternal.label;
        return before.concat([appExternal.label, appExternal.neverSet, 'neverSet' in appExternal]);
      });
      assert.deepStrictEqual(seen, [5, 'five', true, true, undefined, undefined, false]);
    });

    check('window methods reach the page as events, and the runner sizes the viewport', async () => {
      const windowState = () => page.evaluate(() => window.devhost.window);
      assert.strictEqual((await windowState()).visible, true, 'the window starts out shown, as the real one does');
      await page.evaluate(() => appExternal.hideWindow());
      await waitFor('the hide event', async () => (await windowState()).visible === false, 30000);
      await page.evaluate(() => appExternal.setWindowSize(655, 513));
      const sized = (w) => w && !w.visible && w.width === Math.round(655 * w.dpi / 96) && w.height === Math.round(513 * w.dpi / 96);
      await waitFor('the size event', async () => sized(await windowState()), 30000);
      // The runner has decided on the viewport once it has seen the event.
      await waitFor('the runner to hear the size event', () => sized(page.hostWindow), 30000);
      assert.deepStrictEqual(page.viewportSize(), { width: 800, height: 600 }, 'a hidden window leaves the viewport');
      await page.evaluate(() => appExternal.showWindow());
      await waitFor('the viewport to follow the window', async () => {
        const v = page.viewportSize();
        return (await windowState()).visible && v.width === 655 && v.height === 513;
      }, 30000);
    });

    check('a poll left over from a page that has gone takes no event away from the page', async () => {
      const hostHeader = `127.0.0.1:${port}`;
      const after = await page.evaluate(() => window.devhost.after);
      // as a navigation leaves them: waiting in the host for the next event, nobody to deliver to
      const stale = [1, 2, 3].map(() => getReadByHost(port, `/${secret}/.devhost/events?after=${after}`, hostHeader));
      await Promise.all(stale.map((poll) => poll.read));
      await page.evaluate(() => appExternal.hideWindow());
      await waitFor('the hide event', () => page.evaluate(() => window.devhost.window.visible === false), 30000);
      assert.deepStrictEqual(await Promise.all(stale.map((poll) => poll.answer)), [200, 200, 200]);
      await page.evaluate(() => appExternal.showWindow());
      await waitFor('the show event', () => page.evaluate(() => window.devhost.window.visible), 30000);
    });

    check('message boxes appear as the page\'s own dialogs and take its answer', async () => {
      const seen = [];
      const answer = (accept) => page.once('dialog', (d) => {
        seen.push([d.type(), d.message()]);
        return accept ? d.accept() : d.dismiss();
      });
      answer(false);
      const declined = await page.evaluate(() => appExternal.confirmMessageBox('Stop the download?', 'Tandora'));
      answer(true);
      const confirmed = await page.evaluate(() => appExternal.confirmMessageBox('Stop the download?', 'Tandora'));
      answer(true);
      const shown = await page.evaluate(() => appExternal.messageBox('All done', 'Tandora'));
      assert.deepStrictEqual([declined, confirmed, shown], [false, true, undefined]);
      assert.deepStrictEqual(seen, [['confirm', 'Tandora\n\nStop the download?'], ['confirm', 'Tandora\n\nStop the download?'],
                                    ['alert', 'Tandora\n\nAll done']]);
    });

    check('credential prompts appear as the page\'s own dialogs, inside a call and from a worker', async () => {
      const seen = [];
      const onDialog = (d) => {
        seen.push(d.message());
        const text = d.message();
        return text.endsWith('User name:') ? d.accept('proxy-user')
          : text.endsWith('Password:') ? d.accept('pa:ss word') : d.dismiss();
      };
      page.on('dialog', onDialog);
      const inCall = await page.evaluate(() => appExternal.askCredentials('proxy.example:8080'));
      const fromWorker = await page.evaluate(() => new Promise((resolve) => {
        appExternal.askCredentialsLater('proxy.example:8081', (text) => resolve(text));
      }));
      page.off('dialog', onDialog);
      page.once('dialog', (d) => d.dismiss());
      const cancelled = await page.evaluate(() => appExternal.askCredentials('proxy.example:8082'));
      assert.deepStrictEqual([inCall, fromWorker, cancelled], ['proxy-user|pa:ss word', 'proxy-user|pa:ss word', 'cancelled']);
      assert.strictEqual(seen.length, 6);
      assert.ok(seen[0].startsWith('The proxy server proxy.example:8080 asks for a user name and password.'), seen[0]);
      assert.ok(seen[3].startsWith('The proxy server proxy.example:8081 asks'), seen[3]);
      assert.strictEqual(seen[5], 'Remember the user name and password for proxy.example:8081?');
    });

    check('only requests that carry the secret to 127.0.0.1 are served', async () => {
      const hostHeader = `127.0.0.1:${port}`;
      assert.strictEqual(await rawGet(port, `/${secret}/Load.html`, hostHeader), 200);
      assert.strictEqual(await rawGet(port, '/Load.html', hostHeader), 403);
      assert.strictEqual(await rawGet(port, `/${secret.replace(/.$/, (c) => (c === '0' ? '1' : '0'))}/Load.html`, hostHeader), 403);
      assert.strictEqual(await rawGet(port, `/${secret}/Load.html`, `attacker.example:${port}`), 403);
      assert.strictEqual(await rawGet(port, `/${secret}/js/%2e%2e/%2e%2e/Load.html`, hostHeader), 404);
      assert.deepStrictEqual(listenersOn(port), ['0100007F']);
    });

    check('closeWindow ends the run, and the end-of-run work keeps the log', async () => {
      await page.evaluate(() => appExternal.closeWindow());
      await waitFor('the page to hear that the window closed', () => page.evaluate(() => window.devhost.closed), 30000);
      const code = await Promise.race([host.exited, new Promise((r) => setTimeout(() => r('still running'), 60000))]);
      assert.strictEqual(code, 0, host.output());
      assert.match(host.output(), /Development host: closed/);
      // The log names the run by its address, never by its secret.
      assert.strictEqual(keptLogsMentioning(`127.0.0.1:${port}/.../Load.html`).length, 1, 'one kept log names this run');
      assert.strictEqual(keptLogsMentioning(secret).length, 0, 'no kept log holds the secret');
    });

    for (const { name, body } of checks) {
      try {
        await body();
        console.log(`ok   ${name}`);
      } catch (e) {
        failed++;
        console.log(`FAIL ${name}\n${e.stack || e}`);
      }
    }
    const errors = await page.evaluate(() => window.devhost && window.devhost.errors).catch(() => []);
    if (errors && errors.length) {
      failed++;
      console.log(`FAIL page errors: ${errors.join('\n')}`);
    }
  } finally {
    await browser.close();
    if (host.exitCode === undefined) host.child.kill();
  }
  console.log(`${checks.length - failed} of ${checks.length} checks passed`);
  return failed ? 1 : 0;
}

main().then((code) => process.exit(code), (e) => {
  console.error(e.stack || String(e));
  process.exit(1);
});
