// The real program's page host against hostile local clients: sockets that never finish their
// request head and a page connection that never reads must not keep the page from loading, its
// commands from arriving or their answers from coming back; SIGTERM then still ends the program,
// also in the middle of a flood of commands.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { openBrowser, readLog, removeRoot, startProgram, stopProgram, waitFor } from './program.mjs';

const bootEnd = '[BOOT] *** NavigationCompleted';

function tempRoot() { return fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-load-')); }

// Keeps `count` sockets with a half-sent request head open; the server drops them after its
// head time limit, so each one dropped is opened again (a bounded number of times).
function slowSockets(port, count) {
  const sockets = new Set();
  let opened = 0;
  let stopped = false;
  const open = () => {
    if (stopped || opened >= count * 40) return;
    opened += 1;
    const s = net.connect(port, '127.0.0.1', () => s.write('GET / HTTP/1.1\r\nHost: 127.0.0.1:' + port + '\r\nX-Slow: '));
    s.on('error', () => {});
    s.on('close', () => { sockets.delete(s); open(); });
    sockets.add(s);
  };
  for (let i = 0; i < count; i += 1) open();
  return { size: () => sockets.size, stop: () => { stopped = true; for (const s of sockets) s.destroy(); } };
}

// A page connection that says it has loaded and then never reads what it is sent.
function deafPage(address) {
  const url = new URL(address);
  const token = url.searchParams.get('t');
  return new Promise((resolve) => {
    const s = net.connect(Number(url.port), '127.0.0.1', () => {
      s.write('GET /__tavelo/ws?v=%2F&t=' + token + ' HTTP/1.1\r\nHost: ' + url.host +
              '\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==' +
              '\r\nSec-WebSocket-Version: 13\r\nOrigin: http://' + url.host + '\r\n\r\n');
    });
    s.on('error', () => {});
    s.once('data', () => {
      // "N", masked with a zero key: the page has loaded, so the program sends it its boot.
      s.write(Buffer.from([0x81, 0x81, 0, 0, 0, 0, 0x4e]));
      s.pause();  // never read again
      resolve(s);
    });
  });
}

test('slow sockets and a page that never reads keep neither the page nor its answers out', async (t) => {
  const root = tempRoot();
  const { child, address: addressPromise } = startProgram(root, { TAVELO_TEST_COMMANDS: '1' });
  t.after(() => stopProgram(child));
  t.after(() => removeRoot(root));
  const address = await addressPromise;
  const port = Number(new URL(address).port);

  const slow = slowSockets(port, 50);
  t.after(() => slow.stop());
  const deaf = await deafPage(address);
  t.after(() => deaf.destroy());
  await waitFor(() => (readLog(root).match(/\[BOOT\] \*\*\* NavigationCompleted/g) || []).length >= 1,
                'the deaf page to be booted');

  const browser = await openBrowser();
  t.after(() => browser.close());
  const page = await browser.context.newPage();
  await page.goto(address);
  await waitFor(() => (readLog(root).match(/\[BOOT\] \*\*\* NavigationCompleted/g) || []).length >= 2,
                'the real page to boot');
  assert.ok(slow.size() > 0, 'the slow sockets are still there');

  // 1,000 commands, each answered by a script the program runs on the page.
  await page.evaluate(() => {
    for (let i = 0; i < 1000; i += 1) {
      window.chrome.webview.postMessage('TEST_SCRIPT_FROM_THREAD:window.__answers=(window.__answers||0)+1;');
    }
  });
  const answers = await waitFor(() => page.evaluate(() => (window.__answers === 1000 ? 1000 : null)),
                                'every answer', 60000);
  assert.equal(answers, 1000);

  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  child.kill('SIGTERM');
  assert.equal(await exited, 0);
});

test('SIGTERM in the middle of a flood of page commands ends the program before the rest of the flood', async (t) => {
  const root = tempRoot();
  const { child, address: addressPromise } = startProgram(root);
  t.after(() => stopProgram(child));
  t.after(() => removeRoot(root));
  const browser = await openBrowser();
  t.after(() => browser.close());
  const page = await browser.context.newPage();
  await page.goto(await addressPromise);
  await waitFor(() => readLog(root).includes(bootEnd), 'the boot to end');

  // The signal goes out as soon as the first flood line is logged. The log is looked at from where
  // it last ended, every millisecond: reading it whole on each look would let a loaded machine
  // work the flood to its end before the signal is sent.
  const logFile = path.join(root, 'system', 'debug_log.txt');
  let seen = fs.statSync(logFile).size;
  // Not awaited: the program works the flood while the page is still sending it.
  const flood = page.evaluate(() => {
    for (let i = 0; i < 200000; i += 1) window.chrome.webview.postMessage('E2E_FLOOD_' + i);
  }).catch(() => {});
  const giveUp = Date.now() + 30000;
  for (;;) {
    const size = fs.statSync(logFile).size;
    if (size > seen) {
      const fd = fs.openSync(logFile, 'r');
      const fresh = Buffer.alloc(size - seen);
      fs.readSync(fd, fresh, 0, fresh.length, seen);
      fs.closeSync(fd);
      if (fresh.includes('E2E_FLOOD_')) break;
      // A line cut in the middle is looked at again with the rest.
      seen = Math.max(seen, size - 64);
    }
    assert.ok(Date.now() < giveUp, 'the flood never arrived');
    await new Promise((r) => setTimeout(r, 1));
  }
  const exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  child.kill('SIGTERM');
  assert.equal(await exited, 0);
  await flood;
  // The close came before the rest of the flood: the last command was never worked.
  assert.ok(!readLog(root).includes('[WM] E2E_FLOOD_199999\r\n'));
});
