// Search panel speed in headless Chromium with a 60,000-song catalogue: initSongDb, and the time
// from a key press to the redrawn result list (the key event's time stamp to the end of the
// frame's layout) for number, initial-consonant and free-text typing on a settled page, and for the
// first keys half a second after a list arrived. Run from the source tree:
//   node bench/search_page.mjs [songs] [rounds]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageDir = path.join(here, '..', 'ui', 'page');
const SONGS = Number(process.argv[2]) || 60000;
const ROUNDS = Number(process.argv[3]) || 20;
// Every page module, in the page host's order: the key handling reaches into most of them.
const MODULES = (() => {
  const src = fs.readFileSync(path.join(here, '..', 'ui', 'page_host.cpp'), 'utf8');
  return [.../kPageModules\[\] = \{([^}]*)\}/.exec(src)[1].matchAll(/L"([^"]+)"/g)].map((m) => m[1]);
})();

// A catalogue of made-up songs: Korean titles and singers, some English titles, lyric lines.
function catalogue(n) {
  let seed = 12345;
  const rnd = (k) => { seed = (seed * 1103515245 + 12345) & 0x7fffffff; return seed % k; };
  const INITIALS = 'ㄱㄲㄴㄷㄸㄹㅁㅂㅃㅅㅆㅇㅈㅉㅊㅋㅌㅍㅎ';
  const common = [0, 2, 3, 5, 6, 7, 9, 11, 12, 14, 18];  // frequent initials
  const syl = () => 0xac00 + (common[rnd(common.length)] * 21 + rnd(21)) * 28 + (rnd(3) ? 0 : rnd(28));
  const word = (a, b) => { let s = ''; const len = a + rnd(b); for (let i = 0; i < len; i++) s += String.fromCharCode(syl()); return s; };
  const cho = (t) => { let o = ''; for (const ch of t) { const c = ch.codePointAt(0); if (c >= 0xac00 && c <= 0xd7a3) o += INITIALS[Math.floor((c - 0xac00) / 588)]; } return o; };
  const eng = ['Love', 'Yesterday', 'Dancing Queen', 'My Way', 'Hello', 'Let It Be', 'Smile', 'Stay'];
  const out = [];
  for (let i = 0; i < n; i++) {
    const title = rnd(12) === 0 ? eng[rnd(eng.length)] + ' ' + (i % 97) : word(1, 2) + ' ' + word(1, 3);
    const singer = word(2, 2);
    out.push({ id: 1000 + i, title, subtitle: rnd(20) === 0 ? 'Live' : '', singer, tempo: 60 + rnd(100), genre: '가요',
               keys: 'C/D/A', chosung: cho(title), singerChosung: cho(singer), line1: word(2, 3) + ' ' + word(2, 3) });
  }
  return out;
}

function stats(list) {
  const s = list.slice().sort((a, b) => a - b);
  const at = (q) => s[Math.min(s.length - 1, Math.floor(q * s.length))];
  return { n: s.length, median: +at(0.5).toFixed(2), p95: +at(0.95).toFixed(2), max: +s[s.length - 1].toFixed(2) };
}

const markup = fs.readFileSync(path.join(pageDir, 'markup.html'), 'utf8').replace(/<\/body>[\s\S]*$/, '');
const scripts = MODULES.map((f) => '<script>\n' + fs.readFileSync(path.join(pageDir, f), 'utf8') + '\n</script>').join('\n');
const html = markup.replace('<head>', '<head><script>window.__posted=[];window.chrome={webview:{postMessage:function(m){window.__posted.push(m);}}};</script>') +
  scripts + '</body></html>';
const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-bench-search-')), 'page.html');
fs.writeFileSync(file, html);

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox', '--disable-gpu'] });
try {
  const page = await browser.newPage({ viewport: { width: 1600, height: 900 } });
  page.on('pageerror', (e) => console.error('page error:', e.message));
  await page.goto('file://' + file);
  const songs = catalogue(SONGS);
  await page.evaluate((list) => { window.__list = list; }, songs);

  // initSongDb: the page's own measure (DB_READY) over several fresh copies of the list.
  const init = [];
  for (let i = 0; i < 7; i++) {
    init.push(await page.evaluate(() => {
      const copy = window.__list.map((s) => Object.assign({}, s));
      const t0 = performance.now();
      initSongDb(copy);
      return performance.now() - t0;
    }));
  }
  // The orderings and default list made ahead, as the page does 3 s after the list arrives.
  const ahead = await page.evaluate(() => { const t0 = performance.now(); topSongList(); return performance.now() - t0; });
  // The rest of the work the page does ahead, in idle slices from 3 s after the list arrives, is
  // let finish first: the keystrokes below measure a settled page.
  await page.waitForFunction(() => derivedGen === songDbGen && modePlacesGen.every((g) => g === songDbGen) &&
                             firstCharCache.every((f) => f && f.gen === songDbGen), null, { polling: 200, timeout: 0 });

  // Key press to redrawn list: the key event's time stamp to the layout of the frame after it.
  await page.evaluate(() => {
    window.__lat = [];
    const orig = renderSearchResults;
    window.renderSearchResults = function () {
      orig.apply(this, arguments);
      const ev = window.__keyT;
      if (ev === undefined) return;
      window.__keyT = undefined;
      document.getElementById('song-search-results').offsetHeight;  // layout now
      window.__lat.push(performance.now() - ev);
    };
    document.addEventListener('keydown', (e) => { window.__keyT = e.timeStamp; }, true);
  });
  const runs = {
    number: { open: 'F1', keys: ['Digit1', 'Digit2', 'Digit3', 'Digit4'] },
    consonant: { open: 'F1', keys: ['KeyT', 'KeyF', 'KeyA', 'KeyD'] },
    freeText: { open: 'Alt+F1', keys: ['KeyT', 'KeyK', 'KeyF', 'KeyK', 'KeyD'] },
  };
  const results = {};
  for (const [name, run] of Object.entries(runs)) {
    const lat = [];
    for (let r = 0; r < ROUNDS; r++) {
      await page.evaluate(() => closeSearchPanel());
      await page.keyboard.press(run.open);
      await page.evaluate(() => new Promise((res) => requestAnimationFrame(() => requestAnimationFrame(res))));
      await page.evaluate(() => { window.__lat = []; });
      for (const k of run.keys) {
        await page.keyboard.press(k);
        await page.evaluate(() => new Promise((res) => requestAnimationFrame(res)));
      }
      lat.push(...await page.evaluate(() => window.__lat));
    }
    results[name] = stats(lat);
  }
  // The first keys after a list arrives: a fresh copy of the list handed to initSongDb, half a
  // second of waiting (the page's own preparation may run meanwhile), then the panel and its keys.
  const firstKeys = {};
  for (const [name, run] of Object.entries({ consonant: runs.consonant, freeText: runs.freeText })) {
    const lat = [];
    for (let r = 0; r < Math.max(3, ROUNDS / 4); r++) {
      await page.evaluate(() => closeSearchPanel());
      await page.evaluate(() => initSongDb(window.__list.map((s) => Object.assign({}, s))));
      await page.waitForTimeout(500);
      await page.evaluate(() => { window.__lat = []; });
      await page.keyboard.press(run.open);
      for (const k of run.keys) {
        await page.keyboard.press(k);
        await page.evaluate(() => new Promise((res) => requestAnimationFrame(res)));
      }
      lat.push(...await page.evaluate(() => window.__lat));
    }
    firstKeys[name] = stats(lat);
  }
  const out = { songs: SONGS, initSongDbMs: stats(init), defaultListAheadMs: +ahead.toFixed(2), keyToListMs: results,
                firstKeysHalfASecondAfterTheListMs: firstKeys, goals: { keystrokeP95: 16, initSongDb: 100 } };
  console.log(JSON.stringify(out, null, 2));
} finally {
  await browser.close();
  fs.rmSync(path.dirname(file), { recursive: true, force: true });
}
