// The song screen's page logic without a browser: bars and pages, syllable mapping, chords, where
// the melody is written, key signatures, lyric line windows, wipes, progress and score settings.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;

// A page with the few elements the song screen writes to (no canvas: nothing is drawn).
function page() {
  const els = {};
  const el = (id) => (els[id] ??= { id, style: {}, textContent: '', innerHTML: '', setAttribute() {}, appendChild() {} });
  const timers = [];
  const document = { getElementById: (id) => (['song-title', 'big-lyrics', 'song-progress-fill', 'song-progress-pct',
                                                'song-total-time', 'score-overlay', 'eng-overlay'].includes(id) ? el(id) : null),
                     createElement: () => el('x' + Math.random()), body: { appendChild() {} }, addEventListener() {},
                     documentElement: { classList: { toggle() {} } } };
  const p = loadPage(FILES, { document, alert() {}, setTimeout: (fn) => { timers.push(fn); return timers.length; } });
  p.els = els;
  p.timers = timers;
  return p;
}
const plain = (v) => JSON.parse(JSON.stringify(v));
// initSong with defaults for what a case does not set.
function load(p, o = {}) {
  p.initSong(o.title ?? '노래 - 가수', o.q ?? 480, o.notes ?? [], [], o.ch5 ?? [], o.syncs ?? [], o.root ?? 0, 0,
             o.chords ?? [], o.lyrics ?? [], o.bars ?? [0, 1920, 3840, 5760], o.tempo ?? 100, '노래', 7, o.v1 ?? -1, o.v2 ?? -1, o.orig ?? []);
}

test('long bars split into 4/4 pieces; a division of 0 reads as 120; a hostile bar list is bounded', () => {
  const p = page();
  const cases = [
    [[0, 3360, 5280], 480, [0, 1920, 3360, 5280]],        // 7 quarters: 1920 + 1440
    [[0, 2040], 480, [0, 2040]],                          // within half a beat of 4/4: kept
    [[], 480, [0]],
    [[0, 960], 0, [0, 480, 960]].map((x, i) => (i === 1 ? 0 : x)),
  ];
  for (const [bars, q, want] of cases) assert.deepEqual(plain(p.splitMeasureStarts(bars, q)), want, JSON.stringify(bars));
  assert.equal(p.splitMeasureStarts([0, 4e12], 480).length, p.MAX_SCREEN_BARS);
  load(p, { q: 0, bars: [0, 480] });
  assert.deepEqual([p.tpq, p.tm], [120, 480]);
});

test('pages of 4 bars turn ahead; the full score alternates rows', () => {
  const p = page();
  load(p, { bars: Array.from({ length: 40 }, (_, i) => i * 1920) });
  const cases = [[0, [0, 1, 2, 3]], [1, [0, 1, 2, 3]], [2, [4, 5, 2, 3]], [3, [4, 5, 2, 3]], [4, [4, 5, 6, 7]], [6, [8, 9, 6, 7]]];
  for (const [bar, want] of cases) {
    p.applyScoreRows(bar);
    assert.deepEqual(plain(p.curMeasures), want, 'bar ' + bar);
  }
  assert.deepEqual(plain(p.rowBarsFor(3, 5)), [5, 6, 2, 3, 4]);
  p.staffMode = 3;
  p.applyScoreRows(2);
  assert.deepEqual([plain(p.curMeasures), plain(p.curMeasures2), p.activeScoreRow], [[0, 1, 2, 3], [4, 5, 6, 7], 1]);
  p.applyScoreRows(5);
  assert.deepEqual([plain(p.curMeasures), plain(p.curMeasures2), p.activeScoreRow], [[8, 9, 10, 11], [4, 5, 6, 7], 2]);
  assert.equal(p.applyScoreRows(6), false);
});

test('syllable mapping: preview lines drop their ticks, the dash rule, hidden lines', () => {
  const cases = [
    // 10 counted characters, 3 in a preview line, 10 ticks: the preview's ticks are dropped
    { lyrics: ['가나다', '(라)', '사아자차'], syncs: [0, 1, 2, 3, 4, 5, 6, 7, 8, 9].map((x) => x * 100),
      flat: '가나다사아자차', ticks: [0, 100, 200, 600, 700, 800, 900], spans: [[300, 600, '(라)']] },
    // dashes count when the tick count is nearer to T than to D
    { lyrics: ['가-나'], syncs: [0, 100, 200], flat: '가-나', ticks: [0, 100, 200], spans: [] },
    { lyrics: ['가-나'], syncs: [0, 100], flat: '가나', ticks: [0, 100], spans: [] },
    // a line of digits only is hidden; ticks stay as received when the counts differ
    { lyrics: ['123', 'ab c'], syncs: [5, 6], flat: 'abc', ticks: [5, 6], spans: [] },
  ];
  for (const c of cases) {
    const p = page();
    const r = p.mapSyllables(c.lyrics, c.syncs);
    assert.equal(r.flat.join(''), c.flat, c.lyrics.join('/'));
    assert.deepEqual(plain(r.ticks), c.ticks, c.lyrics.join('/'));
    assert.deepEqual(plain(r.spans.map((s) => [s.tick, s.end, s.text])), c.spans);
  }
  const p = page();
  assert.equal(p.mapSyllables(['(intro)'], [0]).hasReal, false);
  assert.equal(p.mapSyllables(['(intro)', '가나'], [0, 1]).previewText, '(intro)');
});

test('chord lines parse to bars and beats like the program does', () => {
  const p = page();
  const cases = [
    ['C . G', [[1, 0, 'C'], [1, 2, 'G']]],
    ['Am7D/ F', [[1, 0, 'Am7'], [1, 1, 'D'], [2, 0, 'F']]],
    ['GNC', [[1, 0, 'G'], [1, 1, 'NC']]],
    ['C(add 9)G|', [[1, 0, 'C(add9)'], [1, 1, 'G']]],
  ];
  for (const [line, want] of cases) {
    assert.deepEqual(plain(p.parseDotChords([line]).map((c) => [c.bar, c.beat, c.name])), want, line);
  }
  // a line not ending in a bar mark moves to the next bar
  assert.deepEqual(plain(p.parseDotChords(['C', 'D/', 'E']).map((c) => c.bar)), [1, 2, 3]);
});

test('melody placement and key signatures per bar', () => {
  const p = page();
  assert.equal(p.placeRange(60, 76, 0, 55), 0);
  assert.equal(p.placeRange(70, 86, 0, 55), -12);
  load(p, { notes: [[60, 0, 480], [76, 480, 480]] });
  p.initKeySigs([[0, 2], [16, -1]]);
  assert.deepEqual([p.keyAtBar(0), p.keyAtBar(15), p.keyAtBar(16), p.keyAtBar(40)], [0, 0, -3, -3]);
  load(p, { root: 9 });  // A major: 3 sharps; transposed down 2 -> G: 1 sharp
  p.jsPitchTransposeSemitones = -2;
  assert.equal(p.keyAtBar(0), 1);
});

test('lyric line windows, verse alternation and the end', () => {
  const p = page();
  // tm = 1920; one syllable per line, lines 0..7
  const lyrics = ['가', '나', '다', '라', '마', '바', '사', '아'];
  load(p, { lyrics, syncs: [0, 2000, 4000, 6000, 8000, 10000, 12000, 14000], v2: 8000,
            bars: Array.from({ length: 20 }, (_, i) => i * 1920) });
  assert.equal(p.verse2LineIdx, 4);
  const cases = [[3000, 1], [3999, 1], [0 - 1, 0]];
  for (const [d, want] of cases) assert.equal(p.currentLyricLine(d), want, 'd ' + d);
  assert.deepEqual(plain(p.lyricLinePair(2)), [2, 3]);
  assert.deepEqual(plain(p.lyricLinePair(3)), [-1, 3]);
  assert.deepEqual(plain(p.lyricLinePair(4)), [4, 5]);
  assert.equal(p.currentLyricLine(14000 + 2881), -2);
  // the end text in one colour
  p.paintLyrics(14000 + 2881);
  const end = p.els['big-lyrics'].innerHTML;
  assert.match(end, /연주가 끝났습니다/);
  assert.equal(end.match(/color:/g).length, 1, end);

  // gaps: sung 3000 ago, next 8000 ahead -> none; next 7680 ahead -> next line
  const q = page();
  load(q, { lyrics: ['가', '나'], syncs: [0, 11000], bars: Array.from({ length: 20 }, (_, i) => i * 1920) });
  assert.equal(q.currentLyricLine(3000), -1);
  assert.equal(q.currentLyricLine(11000 - 7680), 1);
  assert.equal(q.currentLyricLine(2000), 0);
});

test('painting a syllable: waiting, wiping, sung; markup in lyrics shows as text', () => {
  const p = page();
  load(p, { lyrics: ['<b>&가'], syncs: [1000, 1100, 1200, 1300, 1480] });
  const mid = p.lyrPaintChar('가', 1000, 1480, 1240);
  assert.match(mid, /lyr-ob lyr-wait/);
  assert.match(mid, /class="lyr-fill[^"]*" data-s="1000" data-e="1480"/);
  assert.match(p.lyrPaintChar('가', 1000, 1480, 1480), /^<span class="lyr-o lyr-sung">가<\/span>$/);
  assert.match(p.lyrPaintChar('<', 1000, 1000, 900), /&lt;/);
  const html = p.koreanLineHtml(0, 1290, 1290);
  assert.ok(html.includes('&lt;') && html.includes('&amp;') && !html.includes('<b>'));
  // count-in before verse 1's first line (line 0 without a verse mark)
  assert.match(p.koreanLineHtml(0, 1000 - 480 * 2 - 10, 0), /lyric-countin">2</);
});

test('source-language characters spread over the Korean syllables', () => {
  const p = page();
  load(p, { bars: [0, 100000] });
  const kor = '가나다라';
  const times = [0, 100, 200, 300].map((s, i, a) => ({ s, e: a[i + 1] ?? 400 }));
  const got = p.origCharTimes(kor, times, 'あいうえおか').map((t) => t && t.s);
  assert.deepEqual(plain(got), [0, 60, 120, 180, 240, 300]);
  // equal lengths map one to one
  assert.deepEqual(plain(p.origCharTimes(kor, times, '一二三四').map((t) => t.s)), [0, 100, 200, 300]);
});

test('total time follows tempo offset; progress colours; the active chord is posted once per change', () => {
  const p = page();
  load(p, { tempo: 100, chords: ['C . . . G'], bars: [0, 1920, 3840] });
  p.jsTempoAdjustBpm = 25;
  p.setSongLength(3840, 240000, 240000);
  assert.equal(p.els['song-total-time'].textContent, '03:12');
  const cases = [[0, '0%'], [3840 * 0.7, '70%'], [3840 * 0.95, '95%']];
  for (const [t, want] of cases) { p.updateProgressUI(t); assert.equal(p.els['song-progress-pct'].textContent, want); }
  assert.match(p.els['song-progress-fill'].style.background, /c0392b/);
  assert.equal(p.formatTotalTime(0), '00:00');
  p.posted.length = 0;
  for (const t of [0, 100, 1920, 2000, 1920 + 4 * 480, 1920 + 5 * 480]) p.reportActiveChord(t);
  assert.deepEqual(plain(p.posted), ['ACTIVECHORD:C', 'ACTIVECHORD:G']);
});

test('score panel: link, clamps, octave save; staff modes; engraving saves once; position rows', () => {
  const p = page();
  load(p);
  p.curKeySongId = 55;
  p.openScorePanel();
  for (let i = 0; i < 3; i++) p.scoreAdjust(1);
  assert.deepEqual([p.scoreCfg.tU, p.scoreCfg.tL], [3, 3]);
  p.scoreSel = 6; p.scoreAdjust(1);  // link off
  p.scoreSel = 1; p.scoreAdjust(-1);
  assert.deepEqual([p.scoreCfg.tU, p.scoreCfg.tL], [3, 2]);
  assert.equal(p.posted.at(-1), 'SCORE_OCT_SAVE:55:3:2:0:0');
  p.scoreSel = 2;
  for (let i = 0; i < 5; i++) p.scoreAdjust(1);
  assert.equal(p.scoreCfg.oU, 3);
  p.scoreSel = 0; p.scoreCfg.tU = -11; p.scoreAdjust(-1);
  assert.equal(p.scoreCfg.tU, -11);
  p.initScoreOct(15, -20, 5, -5);
  assert.deepEqual([p.scoreCfg.tU, p.scoreCfg.tL, p.scoreCfg.oU, p.scoreCfg.oL], [11, -11, 3, -3]);

  const modes = [];
  for (let i = 0; i < 3; i++) { p.cycleStaffMode(); modes.push(p.staffMode); }
  assert.deepEqual(modes, [1, 2, 0]);
  p.staffMode = 3; p.cycleStaffMode();
  assert.equal(p.staffMode, 0);
  assert.equal(p.posted.findLast((m) => !m.startsWith('SAVE_ENV:')), 'SET_FULL_SCORE:0');

  let saves = 0;
  p.saveEnv = () => { saves++; };
  p.openEngPanel();
  p.engSel = 9;
  p.engAdjust(1);
  p.engAdjust(5);   // within the debounce: one save when the timer fires
  assert.equal(saves, 0);
  p.timers.at(-1)();
  assert.equal(saves, 1);
  assert.deepEqual(Object.keys(plain(p.collectEngCfg())), ['barlineThick']);
  p.engSel = 39; p.engAdjust(-200);   // END_X clamps at 1000
  assert.equal(p.END_X, 1000);
  p.engResetAll();
  assert.deepEqual(plain(p.collectEngCfg()), {});
  p.applyEngCfg({ stemLen: 99, nope: 1, mGate: 'x' });
  assert.equal(p.MusicEngraver.ENG.stemLen, 7);

  p.adjChordY(0);
  for (let i = 0; i < 51; i++) p.adjChordY(2);
  assert.equal(p.chordYAdj, 100);
  p.adjChordY(0);
  assert.equal(p.chordYAdj, 0);
  p.scTextAdj('lyr', 'size', 200);
  assert.equal(p.posted.at(-1), 'SET_SCORE_TEXT:250:0:1:0:100:4:1:0');
  p.initScoreText(0, 3, 0, 2, 120, 9, 1, 1);
  assert.deepEqual([p.scLyr.size, p.scLyr.weight, p.scChd.colour], [100, 0, 7]);
});

test('hostile song text loads: markup in titles and lyrics, 10,000 bars, odd arguments', () => {
  const p = page();
  const bars = Array.from({ length: 10000 }, (_, i) => i * 1920);
  load(p, { title: '<img src=x onerror=alert(1)> - &', lyrics: ['<script>가</script>'], syncs: [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16],
            bars, q: 0, chords: [null, '((((', '||||/'] });
  assert.equal(p.els['song-title'].__full, '<img src=x onerror=alert(1)> - &');
  p.updateTick(500);
  assert.ok(!p.els['big-lyrics'].innerHTML.includes('<script>'));
  p.initSong('x', 'abc', 'notes', null, undefined, {}, 'k', 0, 5, 7, 'bars', -1, null, 0, 'a', null, 3);
  p.updateTick(NaN);
  p.updateTick(1e12);
});

test('random backgrounds: one at the song start, one when the second verse is reached', () => {
  const p = page();
  p.bgRandomOn = 1;
  load(p, { lyrics: ['가', '나', '다'], syncs: [0, 500, 1000], v2: 1000, bars: [0, 1920, 3840] });
  p.curMeasures = [0, 1, 2, 3];
  for (const t of [0, 600, 1000, 1100, 1200]) p.paintLyrics(t);
  assert.deepEqual(plain(p.posted.filter((m) => m === 'BG_RANDOM_NEXT')).length, 2);
});

test('the engraver: a key change back to C moves the bar\'s first beat right', () => {
  const p = page();
  const ctx = new Proxy({}, { get: (o, k) => (k === 'measureText' ? () => ({ width: 10 }) : k in o ? o[k] : () => {}),
                              set: (o, k, v) => { o[k] = v; return true; } });
  const canvas = { width: 0, height: 0, style: {}, getContext: () => ctx };
  const measures = [0, 1, 2, 3].map((i) => ({ start: i * 1920, len: 1920, index: i }));
  const layout = p.MusicEngraver.render(canvas, {
    width: 1600, height: 450, startX: 30, endX: 1570, contentX: 170, measureW: 350, beat1: 10, rightPad: 9, sp: 10, tpq: 480,
    key: 3, keyAt: (b) => (b >= 2 ? 0 : 3), timeSig: [4, 4], measures,
    staves: [{ top: 100, notes: [[65, 0, 480], [65, 3840, 480]], clef: 'treble', color: '#000' }], dpr: 1, bg: '#fff' });
  // three naturals with two gaps between them and 0.25 sp after, then half a staff space, room for
  // an accidental (its centre 0.75 sp left of the head, half its width 0.55 sp) and half a head
  const ME = p.MusicEngraver;
  const naturals = 3 * ME.glyphWidth('natural', 10, 1) + 2 * 0.25 * 0.95 * 10 + 0.25 * 10;
  assert.ok(Math.abs(ME.keySigWidth(0, 10, 3) - naturals) < 1e-9);
  const b1 = plain(layout.beat1s);
  assert.deepEqual(b1.map((v) => Math.round(v * 1000) / 1000), [10, 10, Math.round((0.5 * 10 + naturals + (0.5 + 0.55 + 0.75 + 1.18 / 2) * 10) * 1000) / 1000, 10]);
  assert.ok(layout.xOfTick(3840, 2) > layout.xOfTick(1920, 1) - 350 + 10);
});

test('the home screen after a song: song state and display cleared, queue kept; vocal export and bar jumps', () => {
  const p = page();
  p.reservedQueue.push({ id: 12 });
  load(p, { title: '노래 - 가수', lyrics: ['가나', '다 라'], syncs: [0, 480, 960, 1440], tempo: 120 });
  assert.equal(p.els['song-title'].textContent.length > 0, true);
  p.curSongIdForHistory = 7;
  p.requestVocalExport();
  assert.equal(p.posted.at(-1), 'VOCAL_EXPORT:7|0,44032,0;480,45208,0;960,45796,1;1440,46972,1');

  p.resetToHomeScreen();
  assert.equal(p.songLoaded, false);
  assert.equal(p.els['song-title'].textContent, '음원 대기중');
  assert.equal(p.els['big-lyrics'].innerHTML, '');
  assert.equal(p.baseSongTempo, 0);
  assert.equal(p.reservedQueue.length, 1);
  p.curSongIdForHistory = 0;
  p.requestVocalExport();
  assert.equal(p.posted.at(-1), 'VOCAL_EXPORT:0|');

  // a held arrow repeats at most every 110 ms (45 ms while paused); a fresh press always posts
  const clock = { t: 1000 };
  const q = loadPage(FILES, { performance: { now: () => clock.t } });
  const steps = [[0, false, false, 1], [50, true, false, 0], [110, true, false, 1], [10, false, false, 1],
                 [50, true, true, 1], [30, true, true, 0]];
  for (const [dt, repeat, paused, sent] of steps) {
    clock.t += dt;
    q.jsIsPaused = paused;
    const before = q.posted.length;
    q.sendMeasureJump('JUMP_NEXT_MEASURE', repeat);
    assert.equal(q.posted.length - before, sent, JSON.stringify([dt, repeat, paused]));
  }
});
