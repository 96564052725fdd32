// The rhythm panel, beat meter and rhythm check page logic: what the program's calls change and
// what the keys post.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;

function page() {
  const clock = { t: 1000 };
  const p = loadPage(FILES, { performance: { now: () => clock.t } });
  p.clock = clock;
  return p;
}
const plain = (v) => JSON.parse(JSON.stringify(v));
const cellKeys = (p) => plain(p.rhyPanelCells()).map((row) => row.map((c) => c.key));

test('setRhythmUi: the second cell follows the last other disco style; three arguments keep G/H/J', () => {
  const p = page();
  const cases = [
    // [args, style, variant, on, altKeys, ghj]
    [['DS1', 1, false, false, false, false], 'DS1', 1, false, [['1', '2'], ['6', '0']], [false, false, false]],
    [['DS4', 2, true, true, false, true], 'DS4', 2, true, [['1', '4'], ['6', '0']], [true, false, true]],
    [['SG1', 0, true], 'SG1', 1, true, [['1', '4'], ['6', '0']], [true, false, true]],
    [['DS1', 1, true], 'DS1', 1, true, [['1', '4'], ['6', '0']], [true, false, true]],
    [['', 2, false], 'DS1', 2, false, [['1', '4'], ['6', '0']], [true, false, true]],
    [['DS9', 1, true, false, true, false], 'DS9', 1, true, [['1', '9'], ['6', '0']], [false, true, false]],
  ];
  for (const [args, style, variant, on, keys, ghj] of cases) {
    p.setRhythmUi(...args);
    assert.deepEqual([p.rhyStyle, p.rhyVariant, p.rhyOn, p.__cvtOn], [style, variant, on, on], JSON.stringify(args));
    assert.deepEqual(cellKeys(p), keys, JSON.stringify(args));
    assert.deepEqual([p.rhyG, p.rhyH, p.rhyJ], ghj, JSON.stringify(args));
  }
  // The lights show only while the engine runs; the selected cell is the active style.
  p.setRhythmUi('DS1', 1, false, true, true, true);
  const cells = plain(p.rhyPanelCells());
  assert.deepEqual(cells[1][1].ghj, [false, false, false]);
  assert.deepEqual(cells.flat().map((c) => !!c.selected), [true, false, false, false]);
  p.updateCvtBadge(true);
  assert.deepEqual(plain(p.rhyPanelCells())[1][1].ghj, [true, true, true]);
  assert.equal(p.__cvtOn, true);
});

test('panel cells and G/H/J post the style and switch commands', () => {
  const p = page();
  p.rhythmPick('4');
  p.rhythmGhj(2);
  assert.deepEqual(plain(p.posted), ['RHYTHM_STYLE:4', 'CVT_SNARE_SUB:2']);
});

test('cvtBeatPulse clamps beats per bar and beat length and drives the meter for two beats and 500 ms', () => {
  const p = page();
  const cases = [
    // [index, ms, bpb] -> [bpb, beat, ms, drive]
    [[1, 600, 4], [4, 1, 600, 1700]],
    [[5, 400, 3], [3, 2, 400, 1300]],
    [[-1, 5000, 4], [4, 3, 500, 1500]],
    [[2, 30, 9], [4, 2, 500, 1500]],
    [[7, 'x', 1], [4, 3, 500, 1500]],
    [[0, 3999, 8], [8, 0, 3999, 8498]],
  ];
  for (const [args, want] of cases) {
    p.cvtBeatPulse(...args);
    assert.deepEqual([p.beatBpb, p.beatCvtIdx, p.beatCvtMs, p.beatCvtUntil - p.beatCvtT0], want, JSON.stringify(args));
  }
  p.cvtBeatRelease();
  assert.equal(p.beatCvtUntil, 0);
});

test('the meter follows the song bars when the engine does not drive it', () => {
  const p = page();
  let bars = [{ start: 0, len: 1920 }];
  p.tpq = 480;
  p.tickToMeasureIdx0 = (t) => bars.findLastIndex((b) => b.start <= t);
  p.measureStartTick = (m) => bars[m].start;
  p.measureLenAt = (m) => bars[m].len;
  const cases = [
    [[{ start: 0, len: 1920 }], 720, { bpb: 4, pos: 1.5 }],
    [[{ start: 0, len: 1440 }, { start: 1440, len: 1440 }], 1440 + 960, { bpb: 3, pos: 2 }],
    [[{ start: 0, len: 4800 }], 240, { bpb: 4, pos: 0.5 }],  // 10 beats: taken as 4
    [[{ start: 0, len: 480 }], 400, { bpb: 4, pos: 400 / 480 }],
    [[{ start: 0, len: 1920 }], 3000, { bpb: 4, pos: 4 }],  // clamped to the bar
  ];
  for (const [b, tick, want] of cases) {
    bars = b;
    assert.deepEqual(plain(p.beatSongPosition(tick)), want, String(tick));
  }
  bars = [{ start: 0, len: 1440 }];
  p.beatFromSongTick(480);
  assert.equal(p.beatBpb, 3);
  p.cvtBeatPulse(0, 500, 4);
  p.beatFromSongTick(480);  // the engine drives: the song does not move the meter
  assert.equal(p.beatBpb, 4);
  p.clock.t += 1501;
  p.beatFromSongTick(480);
  assert.equal(p.beatBpb, 3);
  p.tpq = 0;
  assert.equal(p.beatSongPosition(480), null);
});

test('setRhythmMult and setCvtBpm feed the tempo display', () => {
  const p = page();
  p.setCvtBpm(128);
  assert.equal(p.jsCvtBpm, 128);
  p.setRhythmMult('200');
  assert.equal(p.jsRhythmMult, 200);
  p.setRhythmMult(undefined);
  assert.equal(p.jsRhythmMult, 0);
});

const ROWS = [
  { k: 1, st: 'DS1', p1: 1, p2: 1, ed: 1, intro: 0,
    fs: [{ t: 1, d: 0, f: 'DS1-F1.MID' }, { t: 1, d: 0, f: 'DS1-F2.MID' }, { t: 1, d: 1, f: 'DS1-F3.MID' }, { t: 3, d: 0, f: 'DS1-F1.MID' }] },
  { k: 3, st: 'DS3', p1: 1, p2: 0, ed: 1, intro: 0,
    fs: [{ t: 1, d: 0, f: 'DS3-F1.MID' }, { t: 2, d: 0, f: 'DS1-F2.MID' }, { t: 9, d: 0, f: 'x' }, { t: 0, d: 0, f: '' }] },
];

test('rhythm check: fill sources, names and the scan data', () => {
  const p = page();
  const fills = (row) => [1, 2, 3, 4].map((n) => plain(p.rchkFillOf(row, n)));
  assert.deepEqual(fills(ROWS[0]).map((f) => [f.tag, f.d, f.f]),
                   [['전용', false, 'DS1-F1.MID'], ['전용', false, 'DS1-F2.MID'], ['전용', true, 'DS1-F3.MID'], ['F1대신', false, 'DS1-F1.MID']]);
  assert.deepEqual(fills(ROWS[1]).map((f) => f.tag), ['전용', '빌림', '없음', '없음']);
  assert.deepEqual(fills(null).map((f) => f.t), [0, 0, 0, 0]);
  assert.deepEqual(['DS1', 'SG1', 'XY2', '', undefined].map((c) => p.rchkName(c)), ['디스코1', '슬로우고고1', 'XY2', '(없음)', '(없음)']);
  p.setRhythmCheck(ROWS, 'DS3', 2, true, ['ZZ1', "<b>'"]);
  assert.deepEqual([p.rchkRows.length, p.rchkCur, p.rchkVar, p.rchkOn, plain(p.rchkOrphan)], [2, 'DS3', 2, true, ['ZZ1', "<b>'"]]);
  p.setRhythmCheck(null, '', 'x', 0, null);
  assert.deepEqual([p.rchkRows.length, p.rchkCur, p.rchkVar, p.rchkOn, p.rchkOrphan.length], [0, 'DS3', 1, false, 0]);
});

test('rhythm check keys: picks, fills, stop, start and rescan post their commands and note the last key', () => {
  const p = page();
  p.setRhythmUi('DS4', 1, false);
  p.toggleRhythmCheck();
  assert.equal(p.rchkOpen, true);
  assert.deepEqual([p.rchkCur, p.rchkLast], ['DS4', '']);
  const key = (k, code, more = {}) => ({ key: k, code, preventDefault() {}, ...more });
  const cases = [
    [key('6', 'Digit6'), 'RHYTHM_STYLE:6', '6 - 슬로우고고1 (SG1)'],
    [key('0', 'Digit0'), 'RHYTHM_STYLE:0', '0 - 패턴변환 (P2 로)'],
    [key('ㅁ', 'KeyA'), 'CVT_FILL:1', 'A - 필인 F1'],
    [key('f', 'KeyF'), 'CVT_FILL:4', 'F - 필인 F4'],
    [key('P', 'KeyP'), 'RHYTHM_OFF:1', 'P - 정지(엔딩 후)'],
    [key('Enter', 'Enter'), 'RHYTHM_ON', 'Enter - 리듬 시작'],
    [key('r', 'KeyR'), 'RCHK_SCAN', 'Enter - 리듬 시작'],
    [key('a', 'KeyA', { repeat: true }), null, 'Enter - 리듬 시작'],
    [key('1', 'Digit1', { altKey: true }), null, 'Enter - 리듬 시작'],
    [key('x', 'KeyX'), null, 'Enter - 리듬 시작'],
  ];
  for (const [e, cmd, last] of cases) {
    const before = p.posted.length;
    assert.equal(p.rhythmCheckKey(e), true);
    assert.deepEqual(plain(p.posted.slice(before)), cmd ? [cmd] : [], e.key);
    assert.equal(p.rchkLast, last, e.key);
  }
  // The program's answer to a pick moves the check's current style; Escape closes.
  p.setRhythmUi('SG1', 2, true);
  assert.deepEqual([p.rchkCur, p.rchkVar, p.rchkOn], ['SG1', 2, true]);
  p.rhythmCheckKey(key('Escape', 'Escape'));
  assert.equal(p.rchkOpen, false);
  // Opening again clears the last key and rescans.
  p.toggleRhythmCheck();
  assert.equal(p.rchkLast, '');
  assert.equal(p.posted.at(-1), 'RCHK_SCAN');
});

test('the page keys reach the rhythm check while it is open', () => {
  const p = page();
  p.toggleRhythmCheck();
  const before = p.posted.length;
  p.pageKeyDown({ key: '3', code: 'Digit3', preventDefault() {} });
  assert.deepEqual(plain(p.posted.slice(before)), ['RHYTHM_STYLE:3']);
  assert.equal(p.rchkLast, '3 - 디스코3 (DS3)');
});

test('the quick-effect note takes 27..87 only', () => {
  const p = page();
  for (const [v, note, posted] of [[49, 49, 'SET_QFX:49'], [26, 49, null], ['88', 49, null], ['70', 70, 'SET_QFX:70']]) {
    const before = p.posted.length;
    p.setQfxNote(v);
    assert.equal(p.qFxNote, note, String(v));
    assert.deepEqual(plain(p.posted.slice(before)), posted ? [posted] : []);
  }
  p.testQfx();
  assert.equal(p.posted.at(-1), 'CVT_QFX');
});
