// The page boot with a large catalogue, in headless Chromium: from the start of the program to
// the song list parsed and handed to the page's initSongDb, and the page's own share of it: its
// main-thread work from the start of the song frame's handling (the frame has arrived, as text)
// to the call, that is JSON.parse, the song objects and the call itself.
//
//   node bench/page_boot.mjs ROOT [RUNS]
// ROOT is an install root with a catalogue (bench_page_boot_root makes one); TAVELO_BIN names the
// program (default build/tavelo). bench/page-boot builds both and runs this with 60,000 songs.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
process.env.TAVELO_BIN ||= path.join(here, '..', 'build', 'tavelo');
const { openBrowser, startProgram, stopProgram, waitFor } = await import('../tests/e2e/program.mjs');

const root = process.argv[2];
const runs = Number(process.argv[3] || 5);
if (!root || !fs.existsSync(path.join(root, 'system', 'songs.csv'))) {
  console.error('usage: node bench/page_boot.mjs ROOT [RUNS] (ROOT with system/songs.csv)');
  process.exit(2);
}

// In the page, before its own scripts: the time each frame from the program starts to be
// handled, and the moment initSongDb receives the list.
function instrument() {
  const b = (window.__bench = {});
  const now = () => performance.timeOrigin + performance.now();
  const Native = window.WebSocket;
  window.WebSocket = function (url, protocols) {
    const ws = protocols === undefined ? new Native(url) : new Native(url, protocols);
    ws.addEventListener('message', () => {
      b.frameAt = now();
    });
    return ws;
  };
  window.WebSocket.prototype = Native.prototype;
  window.addEventListener('load', () => {
    const page = window.initSongDb;
    window.initSongDb = function (list) {
      b.calledAt = now();
      b.songs = list.length;
      b.pageMs = b.calledAt - b.frameAt;
      if (typeof page === 'function') return page.apply(this, arguments);
    };
  }, true);
}

const browser = await openBrowser();
const results = [];
try {
  for (let run = 1; run <= runs; run++) {
    const page = await browser.context.newPage();
    await page.addInitScript(instrument);
    const startedAt = performance.timeOrigin + performance.now();
    const { child, address } = startProgram(root);
    try {
      await page.goto(await address);
      const b = await waitFor(async () => {
        const v = await page.evaluate(() => window.__bench);
        return v && v.calledAt ? v : null;
      }, 'initSongDb', 120000);
      const r = { total: b.calledAt - startedAt, page: b.pageMs, songs: b.songs };
      results.push(r);
      console.log(`run ${run}: ${r.songs} songs, program start to initSongDb ${r.total.toFixed(0)} ms, ` +
                  `page's share ${r.page.toFixed(0)} ms`);
    } finally {
      await page.close();
      await stopProgram(child);
    }
  }
} finally {
  await browser.close();
}
const median = (xs) => xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const best = (xs) => Math.min(...xs);
const totals = results.map((r) => r.total);
const pages = results.map((r) => r.page);
console.log(`total (program start to initSongDb): median ${median(totals).toFixed(0)} ms, best ${best(totals).toFixed(0)} ms (goal 1000 ms)`);
console.log(`page's own work: median ${median(pages).toFixed(0)} ms, best ${best(pages).toFixed(0)} ms (goal 150 ms)`);
