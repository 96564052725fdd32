// Song screen speed in headless Chromium at 1920x1080 against the real program: the song screen
// script of the densest demo song (the longest one the program sends), then `drawPage` per page
// turn and `updateTick` per call (median, p99). Goals: drawPage <= 8 ms; updateTick <= 1 ms
// median and <= 4 ms p99. Run from the source tree after a build:
//   TAVELO_BIN=build/tavelo node bench/song_screen.mjs [rounds]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = path.join(here, '..');
process.env.TAVELO_SOURCE_DIR ??= source;
process.env.TAVELO_BIN = path.resolve(process.env.TAVELO_BIN || path.join(source, 'build', 'tavelo'));
const { startProgram, stopProgram, openBrowser, collectScripts, demoSongNumbers, waitFor } = await import('../tests/e2e/program.mjs');
const ROUNDS = Number(process.argv[2]) || 3;

function stats(list) {
  const s = list.slice().sort((a, b) => a - b);
  const at = (q) => s[Math.min(s.length - 1, Math.floor(q * s.length))];
  return { n: s.length, median: +at(0.5).toFixed(3), p99: +at(0.99).toFixed(3), max: +s[s.length - 1].toFixed(3) };
}

const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-bench-screen-'));
const demo = path.join(path.dirname(process.env.TAVELO_BIN), 'tools', 'make_demo_root');
execFileSync(fs.existsSync(demo) ? demo : path.join(source, 'tools', 'make-demo-root'), [root], { stdio: 'ignore' });
fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
const { child, address } = startProgram(root, { TAVELO_MIDI_OUT: 'P1;P2' });
const browser = await openBrowser();
try {
  const page = await browser.context.newPage();
  await page.setViewportSize({ width: 1920, height: 1080 });
  const scripts = collectScripts(page);
  await page.goto(await address);
  await waitFor(() => page.evaluate(() => typeof initSong === 'function' && Array.isArray(songDb) && songDb.length > 0), 'the page');

  // The densest demo song: the longest song screen script.
  let densest = '', densestId = 0;
  for (const id of demoSongNumbers(root)) {
    const before = scripts.length;
    await page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${id}`);
    const s = await waitFor(() => scripts.slice(before).find((x) => x.startsWith("try{ initSong('")), 'initSong ' + id);
    if (s.length > densest.length) { densest = s; densestId = id; }
    await page.evaluate(() => window.chrome.webview.postMessage('ALT_X_ACTION'));
    await new Promise((r) => setTimeout(r, 300));
  }
  await page.evaluate(() => window.chrome.webview.postMessage('ALT_X_ACTION'));
  await new Promise((r) => setTimeout(r, 1000));

  const result = await page.evaluate(({ script, rounds }) => {
    // keep the program's own tick reports out of the measurement
    const realUpdate = window.updateTick;
    window.updateTick = function () {};
    new Function(script)();
    const draw = [], tick = [];
    const last = measureStarts.length - 1;
    const N = measPerPage;
    for (let r = 0; r < rounds; r++) {
      for (let b = 0; b <= last; b += Math.max(1, Math.floor(N / 2))) {
        applyScoreRows(b);
        const t0 = performance.now();
        drawPage();
        draw.push(performance.now() - t0);
      }
    }
    // where slow tick updates spend their time
    const parts = { drawPage: 0, paintLyrics: 0, lyrSyncFills: 0, drawProgressBar: 0 };
    const spent = {};
    for (const name of Object.keys(parts)) {
      const f = window[name];
      window[name] = function () { const t0 = performance.now(); try { return f.apply(this, arguments); } finally { spent[name] = (spent[name] || 0) + performance.now() - t0; } };
    }
    const slow = {};
    const end = measureStartTick(last + 1);
    const step = Math.max(1, Math.round(tpq / 8));
    for (let r = 0; r < rounds; r++) {
      applyScoreRows(0);
      drawPage();
      for (let t = 0; t < end; t += step) {
        for (const k of Object.keys(parts)) spent[k] = 0;
        const t0 = performance.now();
        realUpdate(t);
        const dt = performance.now() - t0;
        tick.push(dt);
        if (dt > 2) for (const k of Object.keys(parts)) slow[k] = +((slow[k] || 0) + spent[k]).toFixed(1);
      }
    }
    window.updateTick = realUpdate;
    return { draw, tick, slow, bars: last + 1, notes: melodyNotes.length + ch5Notes.length, drums: drumNotes.length };
  }, { script: densest, rounds: ROUNDS });
  const s = (l) => stats(l);
  console.log(JSON.stringify({
    song: densestId, bars: result.bars, notes: result.notes, drums: result.drums,
    drawPage: s(result.draw), updateTick: s(result.tick), slowTickUpdatesSpentIn: result.slow,
    goals: { drawPage: 'median <= 8 ms', updateTick: 'median <= 1 ms, p99 <= 4 ms' },
  }, null, 1));
} finally {
  await browser.close();
  await stopProgram(child);
  fs.rmSync(root, { recursive: true, force: true });
}
