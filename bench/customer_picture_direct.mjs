// A 3 MB picture sent as a data address (the random background) to the customer page as the
// program shows it: in the browser the program starts itself, with no DevTools client attached
// (a DevTools client that follows the network, as every Playwright page does, copies each
// WebSocket frame into its own protocol and slows large frames down several times). The main page
// is a Playwright page that asks for the pictures; the customer page reports when each one runs.
//
//   node bench/customer_picture_direct.mjs [PICTURE_RUNS]
// TAVELO_BIN names the program (default build/tavelo). Goal: p99 < 150 ms on the customer page.
import { execFileSync } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
process.env.TAVELO_BIN ||= path.join(here, '..', 'build', 'tavelo');
const { openBrowser, startProgram, stopProgram, waitFor, readLog } = await import('../tests/e2e/program.mjs');

const runs = Number(process.argv[2] || 20);
const demoTool = path.join(path.dirname(process.env.TAVELO_BIN), 'tools', 'make_demo_root');
const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-bench-picture-'));
execFileSync(demoTool, [root], { stdio: 'ignore' });
fs.mkdirSync(path.join(root, 'images', 'random'), { recursive: true });
fs.writeFileSync(path.join(root, 'images', 'random', 'big.png'), crypto.randomBytes(3 * 1024 * 1024));
fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'pcScore=90\nliteMode=0\n');
// The customer window's browser is headless Chromium; the main window's prints its address for
// the Playwright page and waits.
const standIn = path.join(root, 'browser.sh');
fs.writeFileSync(standIn, `#!/bin/sh
case " $* " in *" --kiosk "*) exec /usr/bin/chromium --headless=new --no-sandbox --disable-gpu "$@" ;; esac
for a in "$@"; do case "$a" in --app=*) echo "page: \${a#--app=}" ;; esac; done
exec sleep 3600
`, { mode: 0o755 });

const { child, address } = startProgram(root, { TAVELO_BROWSER: standIn, TAVELO_TEST_COMMANDS: '1',
                                                TAVELO_MONITORS: '1920x1080+0+0*@;1280x720+1920+0' });
const browser = await openBrowser();
try {
  const main = await browser.context.newPage();
  await main.goto(await address);
  await waitFor(() => readLog(root).includes('메인 화면 준비 끝'), 'the main page boot');
  await main.evaluate(() => window.chrome.webview.postMessage('SET_CUSTOMER_MONITOR:2'));
  await waitFor(() => readLog(root).includes('손님 화면 준비 완료'), 'the customer page', 60000);
  // The customer page reports each picture's run through its layout report, which the program logs.
  const report = `if (window.__customerMode && !window.__pictureReport) { window.__pictureReport = 1; var n = 0;
    var applied = window.onRandomBgApplied; window.onRandomBgApplied = function () {
      window.chrome.webview.postMessage('CW_LAYOUT:picture ' + (n++) + ' ' + (performance.timeOrigin + performance.now()).toFixed(2) + ' end');
      return applied.apply(this, arguments); }; }`;
  await main.evaluate((s) => window.chrome.webview.postMessage('TEST_SCRIPT_FROM_THREAD:' + s), report);
  await new Promise((r) => setTimeout(r, 500));
  const times = [];
  for (let i = 0; i < runs; i++) {
    const sent = await main.evaluate(() => {
      const t = performance.timeOrigin + performance.now();
      window.chrome.webview.postMessage('BG_RANDOM_NEXT');
      return t;
    });
    const ran = await waitFor(() => new RegExp('picture ' + i + ' (\\S+) end').exec(readLog(root)), 'picture ' + i, 20000);
    times.push(Number(ran[1]) - sent);
    await new Promise((r) => setTimeout(r, 200));  // the page decodes the picture in between
  }
  const pct = (p) => {
    const s = [...times].sort((x, y) => x - y);
    return s[Math.min(s.length - 1, Math.floor((p / 100) * s.length))].toFixed(2);
  };
  console.log(`3 MB picture on the customer page without DevTools: p50 ${pct(50)} ms, p99 ${pct(99)} ms (${runs} runs)`);
} finally {
  await browser.close();
  await stopProgram(child);
  fs.rmSync(root, { recursive: true, force: true });
}
