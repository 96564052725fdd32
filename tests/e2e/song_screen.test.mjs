// The song screen in headless Chromium against the real program: a demo song plays on the
// recording devices and, at several ticks, the page shows the current lyric line with its wipe,
// the score page's bars and play line, and the progress; chords go back once per change. Hostile
// song text shows literally and loads without a hang. Screenshots are kept under build/.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, sourceDir, waitFor } from './program.mjs';

const shotDir = path.join(sourceDir, 'build', 'e2e-artifacts');
const SONG = 1001;

function setUpRoot(t) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-screen-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  // Markup in the title and a lyric line must show as text.
  const txt = path.join(root, 'system', `P${SONG}.txt`);
  const lines = fs.readFileSync(txt, 'utf8').split('\n');
  lines[1] = '아리<b>&amp;</b>랑';  // the title (a line starting with '<' or '>' marks a section)
  lines[lines.indexOf('아리랑 고개로 넘어간다')] = '아리<i>랑</i> 고개로 & 간다';
  fs.writeFileSync(txt, lines.join('\n'));
  return { root, env: { TAVELO_MIDI_OUT: `P1=${path.join(root, 'p1.rec')};P2=${path.join(root, 'p2.rec')}` } };
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

// What the page shows now.
function screenState(page) {
  return page.evaluate(() => {
    const bar = document.getElementById('grandBar');
    const x = bar.__playX;
    let red = 0;
    if (x !== undefined) {
      const px = bar.getContext('2d').getImageData(Math.round(x), 0, 1, bar.height).data;
      for (let i = 0; i < px.length; i += 4) if (px[i] > 200 && px[i + 3] > 60) red++;
    }
    const fill = document.querySelector('#big-lyrics .lyr-fill');
    const anim = fill && fill.getAnimations ? fill.getAnimations()[0] : null;
    return {
      tick: window.__lastTick,
      bar: lastCurMeasureIdx,
      shown: curMeasures.slice(),
      want: rowBarsFor(lastCurMeasureIdx, measPerPage),
      lines: [...document.querySelectorAll('#big-lyrics .lyr-line')].map((l) => l.textContent.replace(/\u00a0/g, ' ')),
      lyrics: document.getElementById('big-lyrics').textContent,
      html: document.getElementById('big-lyrics').innerHTML,
      wipe: anim ? { t: anim.currentTime, d: anim.effect.getTiming().duration } : null,
      red,
      pct: document.getElementById('song-progress-pct').textContent,
      total: document.getElementById('song-total-time').textContent,
      title: document.getElementById('song-title').__full,  // the whole title (the element may show it shortened)
      titleShown: document.getElementById('song-title').textContent,
      allLines: allLyricLinesOriginal.slice(),
    };
  });
}

test('a demo song on the song screen: lyrics, score pages, play line, progress, chords; hostile song data',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, env } = setUpRoot(t);
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.setViewportSize({ width: 1920, height: 1080 });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await page.evaluate(() => {
    window.__posted = [];
    const send = window.chrome.webview.postMessage.bind(window.chrome.webview);
    window.chrome.webview.postMessage = (m) => { window.__posted.push(String(m)); send(m); };
  });
  await post(page, `START_SONG_ID:${SONG}`);
  await waitFor(() => scripts.find((s) => s.startsWith("try{ initSong('")), 'initSong');
  await waitFor(() => page.evaluate(() => window.__lastTick > 0 && songLoaded), 'ticks on the page');

  const first = await screenState(page);
  assert.ok(first.title.startsWith('아리<b>&amp;</b>랑'), 'the title keeps its markup as text: ' + first.title);
  assert.ok(first.titleShown.startsWith('아리<b>'), 'shown as text: ' + first.titleShown);
  assert.ok(first.allLines.includes('아리<i>랑</i> 고개로 & 간다'));
  assert.deepEqual(first.shown, first.want);
  assert.match(first.total, /^\d\d:\d\d$/);
  assert.notEqual(first.total, '00:00');

  // Jump ahead bar by bar: the page turns ahead, the play line is drawn, a line is shown.
  const seen = [];
  for (let i = 0; i < 6; i++) {
    await post(page, 'JUMP_NEXT_MEASURE');
    await new Promise((r) => setTimeout(r, 350));
    const s = await screenState(page);
    assert.deepEqual(s.shown, s.want, 'shown bars at bar ' + s.bar);
    assert.ok(s.red > 10, 'the play line is drawn at bar ' + s.bar);
    seen.push(s);
  }
  assert.ok(seen.some((s) => s.bar >= 2 && s.shown[0] > s.bar), 'a page shows the bars ahead: ' + JSON.stringify(seen.map((s) => s.shown)));
  const sung = await waitFor(async () => {
    const s = await screenState(page);
    return s.lines.length === 2 && s.wipe ? s : null;
  }, 'a lyric line with a running wipe', 20000);
  assert.ok(sung.lines.some((l) => sung.allLines.some((a) => a.replace(/[_~-]/g, '').includes(l.trim()) && l.trim())), JSON.stringify(sung.lines));
  assert.ok(sung.wipe.t >= 0 && sung.wipe.t <= sung.wipe.d);
  assert.ok(!/<i>|<b>/.test(sung.html), 'lyric markup is escaped');
  assert.match(sung.pct, /^\d+%$/);
  await page.screenshot({ path: (fs.mkdirSync(shotDir, { recursive: true }), path.join(shotDir, 'song_screen_1920x1080.png')) });
  await page.setViewportSize({ width: 1366, height: 768 });
  await new Promise((r) => setTimeout(r, 400));
  await page.screenshot({ path: path.join(shotDir, 'song_screen_1366x768.png') });

  // Chords: posted once per change, never the same name twice in a row.
  const chords = await page.evaluate(() => window.__posted.filter((m) => m.startsWith('ACTIVECHORD:')));
  assert.ok(chords.length >= 2, JSON.stringify(chords));
  for (let i = 1; i < chords.length; i++) assert.notEqual(chords[i], chords[i - 1]);

  // Korean text is drawn with a real font, not as boxes.
  const glyphs = await page.evaluate(() => {
    const c = document.createElement('canvas');
    c.width = 200; c.height = 60;
    const ctx = c.getContext('2d');
    const draw = (s) => {
      ctx.clearRect(0, 0, 200, 60);
      ctx.font = '40px "Malgun Gothic", "NanumGothic", "Noto Sans CJK KR", sans-serif';
      ctx.fillText(s, 0, 45);
      return Array.from(ctx.getImageData(0, 0, 200, 60).data).join(',');
    };
    return { korean: draw('가'), missing: draw('\u0378') };
  });
  assert.notEqual(glyphs.korean, glyphs.missing, 'a Korean syllable is not drawn as the missing-glyph box');

  // Hostile song data straight into the page (the song stopped first): markup, a division of 0
  // and 10,000 bars load without a hang and show their text literally.
  await post(page, 'ALT_X_ACTION');
  await new Promise((r) => setTimeout(r, 300));
  const r = await page.evaluate(() => {
    const bars = Array.from({ length: 10000 }, (_, i) => i * 480);
    const notes = Array.from({ length: 3000 }, (_, i) => [60 + (i % 12), i * 160, i % 7 === 0 ? 0 : 4000]);
    const lyrics = ['<img src=x onerror="window.__pwned=1">가나다', '라마 & <b>바</b>'];
    const t0 = performance.now();
    initSong('<script>window.__pwned=1</script> - &lt;', 0, notes, [], notes, [0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000, 1100],
             0, 0, ['C(((( /', '|||| G..'], lyrics, bars, 0, '<x>', 9, -1, -1, []);
    for (const tick of [0, 150, 480 * 5000, 480 * 9999, 480 * 20000]) updateTick(tick);
    updateTick(250);
    return { ms: performance.now() - t0, pwned: !!window.__pwned, title: document.getElementById('song-title').__full,
             shown: document.getElementById('song-title').textContent,
             lyrics: document.getElementById('big-lyrics').textContent, bars: measureStarts.length,
             injected: document.querySelectorAll('#big-lyrics img, #big-lyrics b, #song-title *').length };
  });
  assert.equal(r.pwned, false);
  assert.ok(r.title.startsWith('<script>') && r.shown.startsWith('<scri'), r.title);
  // (a character under its wipe is in the text twice: the waiting one and the sung layer over it)
  assert.ok(r.lyrics.includes('src=x') && r.lyrics.includes('<b>바</b>') && r.injected === 0, 'lyric markup shows as text: ' + r.lyrics);
  assert.equal(r.bars, 10000);
  assert.deepEqual(errors, []);
});

