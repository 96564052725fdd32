// Scripts to the main page and the customer page, in headless Chromium against the real program:
// small scripts posted from a worker thread, and a 3 MB picture sent as a data address (the
// random background). Prints the time from the post to the run on each page (the post is timed
// when the main page asks for it, so the page-to-program leg is included).
//
//   node bench/customer_page.mjs [SMALL_RUNS] [PICTURE_RUNS]
// TAVELO_BIN names the program (default build/tavelo); the demo library generator is
// build/tools/make_demo_root. Goals: small scripts p99 < 10 ms on the customer page, the picture
// p99 < 150 ms.
import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
process.env.TAVELO_BIN ||= path.join(here, '..', 'build', 'tavelo');
const { openBrowser, startProgram, stopProgram, waitFor, readLog } = await import('../tests/e2e/program.mjs');

const smallRuns = Number(process.argv[2] || 300);
const pictureRuns = Number(process.argv[3] || 20);
const demoTool = path.join(path.dirname(process.env.TAVELO_BIN), 'tools', 'make_demo_root');

const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-bench-customer-'));
execFileSync(demoTool, [root], { stdio: 'ignore' });
fs.mkdirSync(path.join(root, 'images', 'random'), { recursive: true });
fs.writeFileSync(path.join(root, 'images', 'random', 'big.png'), crypto.randomBytes(3 * 1024 * 1024));
fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'pcScore=90\nliteMode=0\n');

const { child, address } = startProgram(root, { TAVELO_TEST_COMMANDS: '1', TAVELO_MONITORS: '1920x1080+0+0*@;1280x720+1920+0' });
let out = '';
child.stdout.on('data', (d) => { out += d; });
const browser = await openBrowser();

// Records the arrival time of each numbered hit and of each random picture.
function instrument() {
  const now = () => performance.timeOrigin + performance.now();
  window.__hits = {};
  window.__hit = (id) => { window.__hits[id] = now(); };
  window.__pictures = [];
  window.__bigFrames = [];
  const Native = window.WebSocket;
  window.WebSocket = function (url, protocols) {
    const ws = protocols === undefined ? new Native(url) : new Native(url, protocols);
    ws.addEventListener('message', (e) => {
      if (typeof e.data === 'string' && e.data.length > 1000000) window.__bigFrames.push(now());
    });
    return ws;
  };
  window.WebSocket.prototype = Native.prototype;
  window.addEventListener('load', () => {
    const applied = window.onRandomBgApplied;
    window.onRandomBgApplied = function (data) {
      window.__pictures.push([now(), data ? data.length : 0]);
      return applied.apply(this, arguments);
    };
  });
}

try {
  const main = await browser.context.newPage();
  await main.addInitScript(instrument);
  await main.goto(await address);
  await waitFor(() => readLog(root).includes('메인 화면 준비 끝'), 'the main page boot');
  await main.evaluate(() => window.chrome.webview.postMessage('SET_CUSTOMER_MONITOR:2'));
  const customerUrl = (await waitFor(() => /customer: (\S+)/.exec(out), 'the customer address'))[1];
  const cust = await browser.context.newPage();
  await cust.addInitScript(instrument);
  await cust.goto(customerUrl);
  await waitFor(() => readLog(root).includes('손님 화면 준비 완료'), 'the customer page');

  const now = () => main.evaluate(() => performance.timeOrigin + performance.now());
  const small = { main: [], customer: [] };
  for (let i = 0; i < smallRuns; i++) {
    const sent = await main.evaluate((id) => {
      const t = performance.timeOrigin + performance.now();
      window.chrome.webview.postMessage('TEST_SCRIPT_FROM_THREAD:try{ __hit(' + id + '); }catch(e){}');
      return t;
    }, i);
    const [a, b] = await waitFor(async () => {
      const x = await main.evaluate((id) => window.__hits[id], i);
      const y = await cust.evaluate((id) => window.__hits[id], i);
      return x && y ? [x, y] : null;
    }, 'hit ' + i, 10000);
    small.main.push(a - sent);
    small.customer.push(b - sent);
  }
  const picture = { main: [], customer: [] };
  const arrival = { main: [], customer: [] };  // the picture's frame has arrived, before it runs
  for (let i = 0; i < pictureRuns; i++) {
    const sent = await now();
    await main.evaluate(() => window.chrome.webview.postMessage('BG_RANDOM_NEXT'));
    const [a, b] = await waitFor(async () => {
      const x = await main.evaluate((n) => window.__pictures[n], i);
      const y = await cust.evaluate((n) => window.__pictures[n], i);
      return x && y ? [x[0], y[0]] : null;
    }, 'picture ' + i, 20000);
    picture.main.push(a - sent);
    picture.customer.push(b - sent);
    const frames = await Promise.all([main, cust].map((p) => p.evaluate(() => window.__bigFrames[window.__bigFrames.length - 1])));
    arrival.main.push(frames[0] - sent);
    arrival.customer.push(frames[1] - sent);
  }
  const pct = (list, p) => {
    const s = [...list].sort((x, y) => x - y);
    return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))].toFixed(2);
  };
  for (const [name, data] of [['small script', small], ['3 MB picture', picture], ['3 MB picture frame arrival', arrival]]) {
    for (const page of ['main', 'customer']) {
      console.log(`${name} on the ${page} page: p50 ${pct(data[page], 50)} ms, p99 ${pct(data[page], 99)} ms ` +
                  `(${data[page].length} runs)`);
    }
  }
} finally {
  await browser.close();
  await stopProgram(child);
  fs.rmSync(root, { recursive: true, force: true });
}
