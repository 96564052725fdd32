// The whole program with its page in headless Chromium: the page shell, commands into the
// program, scripts and alerts from a worker thread, the page server's safety rules, shutdown.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { openBrowser, readLog, removeDir, startProgram, stopProgram, waitFor } from './program.mjs';

const bootEnd = '[BOOT] *** NavigationCompleted';

function tempRoot() { return fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-')); }

// A raw request to the page server, the path sent exactly as given.
function request(address, rawPath, headers = {}) {
  const url = new URL(address);
  return new Promise((resolve) => {
    const req = http.request({ host: url.hostname, port: url.port, path: rawPath, headers });
    req.on('response', (res) => {
      let body = '';
      res.on('data', (d) => { body += d; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    });
    req.on('upgrade', (res, socket) => { socket.destroy(); resolve({ status: 101 }); });
    req.on('error', () => resolve({ status: 0 }));
    req.end();
  });
}

// A WebSocket upgrade of the page channel; status 101 when the server accepts it.
function upgrade(address, origin, cookie) {
  const headers = {
    Connection: 'Upgrade', Upgrade: 'websocket', 'Sec-WebSocket-Version': '13',
    'Sec-WebSocket-Key': 'dGhlIHNhbXBsZSBub25jZQ==', Origin: origin,
  };
  if (cookie) headers.Cookie = cookie;
  return request(address, '/__tavelo/ws?v=%2F', headers);
}

let root;
let program;
let address;
let browser;
let page;
const dialogs = [];
const log = () => readLog(root);
const post = (message) => page.evaluate((m) => window.chrome.webview.postMessage(m), message);

before(async () => {
  root = tempRoot();
  program = startProgram(root, { TAVELO_TEST_COMMANDS: '1' });
  address = await program.address;
  browser = await openBrowser();
  page = await browser.context.newPage();
  await page.setViewportSize({ width: 1280, height: 800 });
  page.on('dialog', async (d) => { dialogs.push(d.message()); await d.dismiss(); });
  await page.goto(address);
  await waitFor(() => log().includes(bootEnd), 'the boot to end');
});

after(async () => {
  try {
    if (browser) await browser.close();
  } finally {
    if (program) await stopProgram(program.child);
    removeDir(root);
  }
});

test('the page shell shows its top bar and stage with every overlay hidden', async () => {
  for (const id of ['app-root', 'top-bar', 'main-stage', 'lyrics-stage', 'corner-buttons']) {
    assert.ok(await page.isVisible('#' + id), id + ' visible');
  }
  assert.equal(await page.textContent('#song-title'), '음원 대기중');
  assert.equal(await page.textContent('#next-song-title'), '없음');
  const hidden = ['song-search-overlay', 'history-overlay', 'eng-overlay', 'fav-overlay',
                  'ins-overlay', 'fav-input-overlay', 'medley-overlay', 'ext-overlay',
                  'rchk-overlay', 'red-overlay', 'settings-overlay', 'keyedit-overlay',
                  'update-overlay', 'pccheck-overlay', 'countdown-overlay', 'rs-overlay',
                  'f6-panel', 'audio-panel', 'mixer-overlay', 'score-overlay', 'f10-overlay',
                  'soundtbl-overlay', 'debug-chord-info', 'test-audio-badge'];
  for (const id of hidden) {
    assert.equal(await page.$eval('#' + id, (e) => getComputedStyle(e).display), 'none', id);
  }
  // At a window height of 800 px the top bar keeps its minimum of 138 px; at 1080 px it is 15 %.
  const topBarHeight = () => page.$eval('#top-bar', (e) => e.getBoundingClientRect().height);
  assert.equal(await topBarHeight(), 138);
  await page.setViewportSize({ width: 1920, height: 1080 });
  assert.equal(await topBarHeight(), 162);
  await page.setViewportSize({ width: 1280, height: 800 });

  // The corner buttons stand above the main screen but below an open overlay.
  const onTop = () => page.evaluate(() => {
    const r = document.querySelector('#corner-buttons button').getBoundingClientRect();
    const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
    return (hit.closest('#settings-overlay') || hit.closest('[id]')).id;
  });
  assert.equal(await onTop(), 'corner-buttons');
  await page.evaluate(() => { document.getElementById('settings-overlay').style.display = 'block'; });
  assert.equal(await onTop(), 'settings-overlay');
  await page.evaluate(() => { document.getElementById('settings-overlay').style.display = 'none'; });
});

test('a posted command reaches the program and is logged', async () => {
  await post('DBG:KEY_ENTER');
  await post('JUMP_NEXT_MEASURE');
  await post('E2E_UNKNOWN_COMMAND');
  await waitFor(() => log().includes('[WM] E2E_UNKNOWN_COMMAND'), 'the command log line');
  assert.match(log(), /\[WM\] DBG:KEY_ENTER\r\n/);
  assert.doesNotMatch(log(), /\[WM\] JUMP_NEXT_MEASURE/);
});

test('scripts from a worker thread run on the page in order; a throwing one stops nothing', async () => {
  const pieces = [
    'window.__order = [1];',
    'throw new Error("boom");',
    'window.__order.push(2); var __declared = "global";',
    'window.__big = "' + 'x'.repeat(200001) + '"; window.__order.push(3);',
    'window.__order.push(typeof __declared);',
  ];
  await post('TEST_SCRIPT_FROM_THREAD:' + pieces.join('\u001f'));
  const order = await waitFor(() => page.evaluate(() =>
    (window.__order && window.__order.length === 4 ? window.__order : null)), 'the scripts');
  assert.deepEqual(order, [1, 2, 3, 'string']);
  // the throwing script is written to the console, and only it
  const boom = browser.pageErrors.splice(0);
  assert.equal(boom.length, 1, boom.join('\n'));
  assert.match(boom[0], /Error: boom/);
  assert.equal(await page.evaluate(() => window.__big.length), 200001);
  // The long script went the long-script way and was timed in the log.
  await waitFor(() => /\[SONG\] 메인 화면 스크립트 전달 200043자 - \d+ms/.test(log()),
                'the long-script log line');
});

// The in-page alert box: its text, or null when no box is up.
const alertShown = () => page.evaluate(() => {
  const box = document.getElementById('page-alert');
  return box && getComputedStyle(box).display !== 'none' ? document.getElementById('page-alert-text').textContent : null;
});

test('an alert posted from a worker thread shows in the page\'s own box; Enter, Escape and a click close it', async () => {
  const cases = [['Enter', "곡을 찾을 수 없습니다 - 'P0012' \\ 끝"], ['Escape', '두 번째 알림'], ['click', '세 번째']];
  for (const [close, message] of cases) {
    await post('TEST_ALERT_FROM_THREAD:' + message);
    assert.equal(await waitFor(alertShown, 'the alert box'), message);
    if (close === 'click') await page.click('#page-alert-ok');
    else await page.keyboard.press(close);
    await waitFor(async () => (await alertShown()) === null, 'the box closed by ' + close);
  }
  assert.deepEqual(dialogs, [], 'no browser dialog');
});

test('a key pressed while an alert is up waits for it and is not lost', async () => {
  await post('TEST_ALERT_FROM_THREAD:기다려 주세요');
  await waitFor(alertShown, 'the alert box');
  await page.keyboard.press('F6');  // the jump panel key, held while the box is up
  assert.equal(await page.isVisible('#f6-panel'), false, 'the key waits');
  await page.keyboard.press('Enter');
  await waitFor(() => page.isVisible('#f6-panel'), 'the held key after the box closed');
  await page.keyboard.press('Escape');
  await waitFor(async () => !(await page.isVisible('#f6-panel')), 'the jump panel closed');
});

test('the page server refuses requests without the token and foreign origins', async () => {
  const token = new URL(address).searchParams.get('t');
  const port = new URL(address).port;
  assert.equal((await request(address, '/')).status, 403);
  assert.equal((await request(address, '/?t=' + 'x'.repeat(64))).status, 403);
  assert.equal((await request(address, '/?t=' + token)).status, 200);
  assert.equal((await request(address, '/?t=' + token, { Host: 'attacker.example:' + port })).status, 403);

  const cookie = 'tavelo_' + port + '=' + token;
  assert.notEqual((await upgrade(address, 'http://example.com', cookie)).status, 101);
  assert.notEqual((await upgrade(address, 'http://127.0.0.1:' + port)).status, 101);
  assert.equal((await upgrade(address, 'http://127.0.0.1:' + port, cookie)).status, 101);

  // Media paths stay inside their folder.
  fs.mkdirSync(path.join(root, 'audio'), { recursive: true });
  fs.writeFileSync(path.join(root, 'audio', 'Track 1.mp3'), 'track');
  fs.writeFileSync(path.join(root, 'system', 'secret.txt'), 'secret');
  const q = '?t=' + token;
  assert.equal((await request(address, '/audio.tavelo/Track%201.mp3' + q)).body, 'track');
  for (const p of ['/audio.tavelo/../system/secret.txt', '/audio.tavelo/%2e%2e/system/secret.txt',
                   '/audio.tavelo/%2E%2E%2Fsystem%2Fsecret.txt',
                   '/images.tavelo/..%5csystem%5csecret.txt']) {
    const r = await request(address, p + q);
    assert.equal(r.status, 403, p);
    assert.ok(!r.body.includes('secret'), p);
  }
  const part = await request(address, '/audio.tavelo/Track%201.mp3' + q, { Range: 'bytes=1-3' });
  assert.equal(part.status, 206);
  assert.equal(part.body, 'rac');

  // The page address file is for the owner only.
  const file = path.join(root, 'system', 'page_url.txt');
  assert.equal(fs.statSync(file).mode & 0o077, 0);
  assert.equal(fs.readFileSync(file, 'utf8').trim(), address);
});

test('a reload of the page runs the boot again and commands still arrive', async () => {
  const boots = () => (log().match(/\[BOOT\] \*\*\* NavigationCompleted/g) || []).length;
  const before = boots();
  await page.reload();
  await waitFor(() => boots() === before + 1, 'the second boot');
  await post('DBG:AFTER_RELOAD');
  await waitFor(() => log().includes('[WM] DBG:AFTER_RELOAD'), 'a command after the reload');
});

test('SIGTERM closes the program with exit code 0', async () => {
  const otherRoot = tempRoot();
  const other = startProgram(otherRoot);
  await other.address;
  const exited = new Promise((resolve) => other.child.once('exit', (code) => resolve(code)));
  other.child.kill('SIGTERM');
  assert.equal(await exited, 0);
  removeDir(otherRoot);
});

test('closing the browser window closes the program with exit code 0', async () => {
  // A browser stand-in: headless Chromium on the address the program gives it, its process id
  // written where the test can end it as a person closing the window would.
  const dir = tempRoot();
  const pidFile = path.join(dir, 'pid');
  const argsFile = path.join(dir, 'args');
  const script = path.join(dir, 'browser.sh');
  fs.writeFileSync(script, '#!/bin/sh\necho "$@" > "' + argsFile + '"\necho $$ > "' + pidFile +
                   '"\nexec /usr/bin/chromium --headless --no-sandbox --disable-gpu ' +
                   '--disable-background-networking --disable-component-update --disable-sync "$@"\n',
                   { mode: 0o755 });
  const otherRoot = tempRoot();
  const other = startProgram(otherRoot, { TAVELO_BROWSER: script });
  other.address.catch(() => {});  // no address is printed when a browser is started
  const exited = new Promise((resolve) => other.child.once('exit', (code) => resolve(code)));
  await waitFor(() => readLog(otherRoot).includes(bootEnd), 'the page in the browser');
  // App mode, maximised, its own profile under the root, and a key that opens the page once
  // instead of the token (a command line is readable by every user of the machine).
  const args = fs.readFileSync(argsFile, 'utf8');
  assert.match(args, /--app=http:\/\/127\.0\.0\.1:\d+\/\?k=[0-9a-f]{64}/);
  assert.ok(args.includes('--start-maximized'));
  assert.ok(args.includes('--user-data-dir=' + path.join(otherRoot, 'system', 'browser', 'main')));
  process.kill(Number(fs.readFileSync(pidFile, 'utf8')), 'SIGTERM');
  assert.equal(await exited, 0);
  removeDir(dir);
  removeDir(otherRoot);
});
