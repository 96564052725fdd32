// The customer window on a fake second monitor: the address it publishes is opened in a second
// page, which enters customer mode and then follows every script of the main page; the monitor
// refusals, camera list and error badge, and a looping background video.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  demoSongNumbers, demoTool, openBrowser, readLog, removeRoot, sourceDir, startProgram, stopProgram, waitFor,
} from './program.mjs';


const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

// A 1.4 s WebM clip (64x48, VP8) recorded once from a canvas in headless Chromium. A clip recorded
// during the test came out without frames on a loaded machine.
const clip = path.join(sourceDir, 'tests', 'fixtures', 'video', 'loop.webm');

test('the customer page follows the main page on the second monitor', { skip: !demoTool && 'no demo library generator' },
     async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-customer-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   'port1Device=P1\nport2Device=P2\nleadInMode=0\npcScore=90\nliteMode=0\n');
  const env = { TAVELO_MONITORS: '1920x1080+0+0*@;1280x720+1920+0',
                TAVELO_MIDI_OUT: `P1=${path.join(root, 'p1.rec')};P2=${path.join(root, 'p2.rec')}` };
  const { child, address } = startProgram(root, env);
  t.after(() => stopProgram(child));
  let out = '';
  child.stdout.on('data', (d) => { out += d; });

  const browser = await openBrowser({ args: ['--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream',
                                              '--autoplay-policy=no-user-gesture-required'] });
  t.after(() => browser.close());
  const context = browser.context;
  const main = await context.newPage();
  const mainScripts = [];
  main.on('websocket', (ws) => ws.on('framereceived', (f) => {
    const d = String(f.payload);
    if (d.startsWith('S')) mainScripts.push(d.substring(d.indexOf(' ') + 1));
  }));
  // Records the ticks the page's own updateTick gets (wrapped once the page's scripts have run).
  const tickRecorder = () => {
    window.__ticks = [];
    addEventListener('DOMContentLoaded', () => {
      const pageTick = window.updateTick;
      window.updateTick = (t) => { window.__ticks.push(t); if (typeof pageTick === 'function') pageTick(t); };
    });
  };
  await main.addInitScript(tickRecorder);
  await main.goto(await address);
  await waitFor(() => readLog(root).includes('메인 화면 준비 끝'), 'the main page boot');
  fs.mkdirSync(path.join(root, 'video'), { recursive: true });
  fs.copyFileSync(clip, path.join(root, 'video', 'loop clip.webm'));

  // Monitor 3 does not exist, monitor 1 holds the main window: both refused, the setting reset.
  await post(main, 'SET_CUSTOMER_MONITOR:3');
  await waitFor(() => readLog(root).includes('[CW] 손님 화면: 3번 모니터가 없습니다(연결된 모니터 2개) - 띄우지 않음'), 'refusal of 3');
  await post(main, 'SET_CUSTOMER_MONITOR:1');
  await waitFor(() => readLog(root).includes('[CW] 손님 화면: 1번은 메인 화면이 있는 모니터라 띄우지 않습니다'), 'refusal of 1');
  await waitFor(() => mainScripts.some((s) => s.includes("alert('손님 화면은 메인 화면과 같은 모니터에는")), 'the alert');
  assert.ok(mainScripts.some((s) => s.startsWith('try{ initMonitorList([[1,1920,1080,1],[2,1280,720,0]],1,1);')));
  assert.ok(!fs.existsSync(path.join(root, 'system', 'customer_url.txt')));

  // Monitor 2: the customer address is published, owner-only.
  await post(main, 'SET_CUSTOMER_MONITOR:2');
  const urlFile = path.join(root, 'system', 'customer_url.txt');
  await waitFor(() => fs.existsSync(urlFile), 'customer_url.txt');
  const customerUrl = fs.readFileSync(urlFile, 'utf8').trim();
  assert.equal(fs.statSync(urlFile).mode & 0o077, 0);
  await waitFor(() => out.includes('customer: ' + customerUrl), 'the printed address');
  const copy = fs.readFileSync(path.join(root, 'system', 'ui', 'page.html'));
  assert.deepEqual([...copy.subarray(0, 3)], [0xef, 0xbb, 0xbf]);

  const cust = await context.newPage();
  await cust.addInitScript(tickRecorder);
  await cust.goto(customerUrl);
  await waitFor(() => readLog(root).includes('[CW] *** 손님 화면 준비 완료 ***'), 'the customer page ready');
  await waitFor(() => cust.evaluate(() => window.__customerMode === 1), 'customer mode');
  assert.equal(await cust.evaluate(() => getComputedStyle(document.getElementById('corner-buttons')).display), 'none');

  // A quit from the customer page reaches nothing.
  await post(cust, 'QUIT_APP');
  // The camera: capture as the background reports the fake device.
  await post(main, 'SET_CUSTOMER_VIDEO_SRC:1');
  await post(main, 'SET_CUSTOMER_VIDEO:1');
  await waitFor(() => mainScripts.some((s) => /^try\{ initCamList\(\['[^']+'/.test(s)), 'the camera list on the main page');
  await waitFor(() => cust.evaluate(() => window.__cwCamMode === 1), 'the capture showing');
  assert.match(readLog(root), /\[CW\] 캡처 장치 1개 - \S/);

  // An error name with an apostrophe shows as written in the main page's badge.
  await post(cust, "CW_CAMERR:Bad'Name</b>");
  await waitFor(() => main.evaluate(() => document.getElementById('test-audio-badge').innerText ===
                                        "외부 입력을 열지 못했습니다 (Bad'Name</b>)"), 'the error badge');

  // Back to the video file: it plays and loops.
  await post(main, 'SET_CUSTOMER_VIDEO_SRC:0');
  await waitFor(() => cust.evaluate(() => {
    const v = document.getElementById('cw-bg-video');
    return v.getAttribute('src') === '/video.tavelo/loop%20clip.webm' && v.loop && !v.paused && v.currentTime > 0;
  }), 'the background video playing').catch(async (e) => {
    const state = await cust.evaluate(() => {
      const v = document.getElementById('cw-bg-video');
      return JSON.stringify({ src: v.getAttribute('src'), loop: v.loop, paused: v.paused, t: v.currentTime,
                              err: v.error && v.error.code, ready: v.readyState, net: v.networkState,
                              buffered: v.buffered.length ? v.buffered.end(0) : 0, cam: window.__cwCamMode });
    });
    throw new Error(e.message + ' ' + state);
  });
  await waitFor(() => cust.evaluate(() => new Promise((resolve) => {
    const v = document.getElementById('cw-bg-video');
    let last = v.currentTime;
    const timer = setInterval(() => {
      if (v.currentTime < last) { clearInterval(timer); resolve(true); }
      last = v.currentTime;
    }, 50);
    setTimeout(() => { clearInterval(timer); resolve(false); }, 3000);
  })), 'the video looping');
  assert.equal(await cust.evaluate(() => window.__cwCamMode), 0);

  // A song's ticks reach both pages.
  await post(main, `START_SONG_ID:${demoSongNumbers(root)[0]}`);
  await waitFor(async () => (await cust.evaluate(() => window.__ticks.length)) > 3 &&
                            (await main.evaluate(() => window.__ticks.length)) > 3, 'ticks on both pages');
  const ticks = await cust.evaluate(() => window.__ticks);
  assert.ok(ticks[ticks.length - 1] > ticks[0], 'the customer page moves with the song');

  assert.equal(child.exitCode, null);
  assert.ok(!readLog(root).includes('QUIT_APP'));
});
