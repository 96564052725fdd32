// The song screen's score and lyrics fit their areas at 1366x768 and 1920x1080 in every staff
// mode, against the real program on the demo library: every staff line, note head, stem, chord
// name and section badge the engraver drew lies inside the score area, chord names have their own
// row (no badge or header over them), and every lyric line lies inside the lyric area (long
// English lines are scaled down, not cut). Screenshots go to build/e2e-artifacts/score_layout/.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, sourceDir, waitFor } from './program.mjs';

const shotDir = path.join(sourceDir, 'build', 'e2e-artifacts', 'score_layout');
// English lines with the longest text at both sizes; a song in D major on the smaller screen
const RUNS = [[1008, 1366, 768], [1008, 1920, 1080], [1003, 1366, 768]];
// Staff modes as the operator reaches them: ALT+C cycles 2 -> 3 -> 4 staves; F8 turns the second
// staff into a drum staff; the full score comes from the settings.
const MODES = [
  { name: '2staves', mode: 0 },
  { name: '3staves', mode: 1, keys: ['Alt+c'] },
  { name: '4staves', mode: 2, keys: ['Alt+c'] },
  { name: 'drum', mode: 0, keys: ['Alt+c', 'F8'] },
  { name: 'fullscore', mode: 3, full: true },
  // the largest chord names with an outline, and a transposition label above the first staff
  { name: 'bigchords', mode: 0, back: true, setup: () => { initScoreText(250, 0, 2, 2, 250, 4, 2, 2); scoreCfg.tU = 2; scoreCfg.link = false; } },
];

function setUpRoot(t) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-layout-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  return { root, env: { TAVELO_MIDI_OUT: 'P1;P2', TAVELO_MONITORS: '1920x1080+0+0*@;1366x768+1920+0' } };
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

// What lies outside where it belongs, as readable lines (empty when all is well).
function layoutFaults(page) {
  return page.evaluate(() => {
    const faults = [];
    const rect = (el) => el.getBoundingClientRect();
    const inside = (b, r, tol = 1) => b.left >= r.left - tol && b.right <= r.right + tol && b.top >= r.top - tol && b.bottom <= r.bottom + tol;
    const meet = (a, b) => a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
    const fmt = (b) => [b.left, b.top, b.right, b.bottom].map((v) => Math.round(v)).join(',');
    const header = rect(document.getElementById('top-bar'));
    const stage = rect(document.getElementById('main-stage'));
    const lyr = document.getElementById('lyrics-stage');
    const lyrShown = getComputedStyle(lyr).display !== 'none';
    // the score area: the stage below the header and above the lyric area
    const area = { left: Math.max(0, stage.left), right: Math.min(innerWidth, stage.right), top: Math.max(stage.top, header.bottom),
                   bottom: Math.min(stage.bottom, innerHeight, lyrShown ? rect(lyr).top : Infinity) };
    const rows = [['grandStaff', window.__scoreLayout]];
    if (staffMode === 3) rows.push(['grandStaff2', window.__scoreLayout2]);
    let heads = 0;
    for (const [id, layout] of rows) {
      if (!layout || !layout.drawList) { faults.push(id + ': no draw list'); continue; }
      const cr = rect(document.getElementById(id));
      const k = cr.width / CANVAS_W;
      const toCss = (b) => ({ left: cr.left + b[0] * k, top: cr.top + b[1] * k, right: cr.left + b[2] * k, bottom: cr.top + b[3] * k });
      const list = layout.drawList;
      layout.staves.forEach((st, i) => {
        const lines = list.filter((e) => e.k === 'line' && e.s === i);
        if (lines.length !== 5) faults.push(`${id} staff ${i}: ${lines.length} lines`);
      });
      const must = ['line', 'head', 'stem', 'beam', 'flag', 'ledger', 'keysig', 'acc', 'timesig', 'clef', 'drumhead', 'chord', 'badge', 'barno', 'keybox'];
      for (const e of list) {
        if (!must.includes(e.k)) continue;
        if (e.k === 'head') heads++;
        const b = toCss(e.b);
        if (!inside(b, area)) faults.push(`${id}: ${e.k} ${e.n} (staff ${e.s}, slot ${e.m}) at ${fmt(b)} outside the score area ${fmt(area)}`);
      }
      const chords = list.filter((e) => e.k === 'chord').map((e) => toCss(e.b));
      const badges = list.filter((e) => e.k === 'badge').map((e) => toCss(e.b));
      for (const c of chords) {
        if (meet(c, header)) faults.push(`${id}: a chord name at ${fmt(c)} under the header`);
        for (const b of badges) if (meet(c, b)) faults.push(`${id}: a chord name at ${fmt(c)} under a badge at ${fmt(b)}`);
      }
    }
    const lines = [];
    if (lyrShown) {
      const box = rect(lyr);
      for (const line of document.querySelectorAll('#big-lyrics .lyr-line')) {
        if (!line.textContent.trim()) continue;
        // the text of the line; a count-in number before it pops out of its place for a moment
        const range = document.createRange();
        range.selectNodeContents(line);
        const cin = line.querySelector('.lyric-countin');
        if (cin) range.setStartAfter(cin);
        const b = range.getBoundingClientRect();
        lines.push(line.textContent.replace(/\u00a0/g, ' '));
        if (!inside(b, box, 2)) faults.push(`lyric line "${line.textContent}" at ${fmt(b)} outside its area ${fmt(box)}`);
      }
    }
    return { faults, heads, lines, chords: rows.reduce((n, r) => n + (r[1] ? r[1].drawList.filter((e) => e.k === 'chord').length : 0), 0),
             badges: rows.reduce((n, r) => n + (r[1] ? r[1].drawList.filter((e) => e.k === 'badge').length : 0), 0) };
  });
}

// Waits until the score was drawn for the canvas's current size and the lyrics were fitted.
async function settled(page) {
  await waitFor(() => page.evaluate(() => {
    const c = document.getElementById('grandStaff').getBoundingClientRect();
    return Math.round(c.width) === CANVAS_W && Math.round(c.height) === CANVAS_H && window.__scoreLayout;
  }), 'the score drawn at the new size', 20000);
  await new Promise((r) => setTimeout(r, 400));
  await page.evaluate(() => drawPage());
}

test('score and lyrics fit their areas at 1366x768 and 1920x1080 in every staff mode', { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, env } = setUpRoot(t);
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  fs.mkdirSync(shotDir, { recursive: true });
  await page.setViewportSize({ width: 1920, height: 1080 });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  const seen = { heads: 0, chords: 0, badges: 0, lines: new Set() };
  for (const [song, w, h] of RUNS) {
    await page.setViewportSize({ width: w, height: h });
    // a new song replaces the one playing (ALT+X with no song playing would ask to quit)
    const before = scripts.length;
    await page.evaluate(() => { window.__lastTick = 0; });
    await post(page, `START_SONG_ID:${song}`);
    await waitFor(() => scripts.slice(before).find((s) => s.startsWith("try{ initSong('")), 'song ' + song);
    await waitFor(() => page.evaluate(() => songLoaded && window.__lastTick > 0), 'song ' + song + ' playing', 30000);
    // on to a place where two lyric lines show
    await waitFor(() => page.evaluate(() => document.querySelectorAll('#big-lyrics .lyr-line').length === 2 &&
                                            [...document.querySelectorAll('#big-lyrics .lyr-line')].some((l) => l.textContent.trim())), 'lyric lines', 30000);
    for (const m of MODES) {
      if (m.full) await page.evaluate(() => { fullScoreOn = 1; staffMode = 0; applyFullScoreLayout(); });
      if (m.back) await page.evaluate(() => { fullScoreOn = 0; staffMode = 0; applyStaffMode(true); });
      if (m.setup) await page.evaluate(m.setup);
      for (const k of m.keys || []) await page.keyboard.press(k);
      assert.equal(await page.evaluate(() => staffMode), m.mode, m.name);
      await settled(page);
      const r = await layoutFaults(page);
      const what = `song ${song} at ${w}x${h}, ${m.name}`;
      await page.screenshot({ path: path.join(shotDir, `${song}_${w}x${h}_${m.name}.png`) });
      assert.deepEqual(r.faults, [], what);
      assert.ok(r.heads > 0, what + ': notes drawn');
      seen.heads += r.heads;
      seen.chords += r.chords;
      seen.badges += r.badges;
      r.lines.forEach((l) => seen.lines.add(l));
      if (m.name === 'drum') await page.keyboard.press('F8');
    }
    // back to two staves and the usual text
    await page.evaluate(() => { initScoreText(100, 0, 1, 0, 100, 4, 1, 0); scoreCfg.tU = 0; fullScoreOn = 0; staffMode = 0; applyStaffMode(true); });
  }
  // The customer page on a 1366x768 monitor: its single score row and the long lines fit too.
  await post(page, 'SET_CUSTOMER_MONITOR:2');
  const urlFile = path.join(root, 'system', 'customer_url.txt');
  await waitFor(() => fs.existsSync(urlFile), 'customer_url.txt');
  const cust = await page.context().newPage();
  cust.on('pageerror', (e) => errors.push('customer: ' + String(e)));
  cust.on('console', (m) => { if (m.type() === 'error') errors.push('customer: ' + m.text()); });
  await cust.setViewportSize({ width: 1366, height: 768 });
  await cust.goto(fs.readFileSync(urlFile, 'utf8').trim());
  await waitFor(() => cust.evaluate(() => window.__customerMode === 1), 'customer mode');
  await post(page, 'START_SONG_ID:1008');
  const lines = await waitFor(async () => {
    const r = await cust.evaluate(() => [...document.querySelectorAll('#big-lyrics .lyr-line')].map((l) => l.textContent.replace(/\u00a0/g, ' ')));
    return r.some((l) => l.includes('I came from Alabama')) ? r : null;
  }, 'the long line on the customer page', 30000);
  await settled(cust);
  const r = await layoutFaults(cust);
  await cust.screenshot({ path: path.join(shotDir, 'customer_1008_1366x768.png') });
  assert.deepEqual(r.faults, [], 'customer page: ' + lines.join(' / '));
  assert.ok(r.heads > 0, 'customer page: notes drawn');

  assert.ok(seen.chords > 0 && seen.badges > 0, JSON.stringify({ chords: seen.chords, badges: seen.badges }));
  assert.ok([...seen.lines].some((l) => l.includes('I came from Alabama')), 'the long English line was checked: ' + [...seen.lines].join(' / '));
  assert.ok(errors.length === 0, errors.join('\n'));
});
