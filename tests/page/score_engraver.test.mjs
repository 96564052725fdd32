// The score engraver's rhythm, accidentals, drum voices and glyph outlines, without a browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

const page = () => loadPage(['glyph_outlines.js', 'score_engraver.js']);
const BAR = [{ start: 0, len: 1920, index: 0 }];
// An event as [kind, beats, flags, dots, tie-to-next] (kind 'n' note, 'r' rest, 't' triplet).
const shape = (e) => [e.rest ? 'r' : e.triplet ? 't' : 'n', e.beats, e.flags, e.dots, !!e.tieNext];

test('rhythm decomposition at 480 ticks per quarter', () => {
  const cases = [
    ['a quarter on beat 2', [[60, 480, 480]], [['r', 1, 0, 0, false], ['n', 1, 0, 0, false], ['r', 2, 0, 0, false]]],
    ['an off-beat two-beat note, tied', [[60, 240, 960]],
     [['r', 0.5, 1, 0, false], ['n', 0.5, 1, 0, true], ['n', 1, 0, 0, true], ['n', 0.5, 1, 0, false], ['r', 1.5, 0, 1, false]]],
    ['a whole bar', [[60, 0, 1920]], [['n', 4, 0, 0, false]]],
    ['eighth, eighth and half rests become one dotted half rest', [[60, 0, 480]], [['n', 1, 0, 0, false], ['r', 3, 0, 1, false]]],
    ['a note over the bar line ties on', [[60, 1440, 960]], [['r', 3, 0, 1, false], ['n', 1, 0, 0, true]]],
  ];
  for (const [what, notes, want] of cases) {
    const p = page();
    p.MusicEngraver.ENG.mBarFill = 0;
    const ev = p.MusicEngraver.buildEvents(notes, 480, BAR)[0];
    assert.deepEqual(JSON.parse(JSON.stringify(ev.map(shape))), want, what);
    const sum = ev.reduce((s, e) => s + e.len, 0);
    assert.equal(sum, 1920, what + ': the bar adds up');
  }
});

test('three 160-tick notes from a beat are an eighth-note triplet under one beam', () => {
  const p = page();
  const ev = p.MusicEngraver.buildEvents([[60, 0, 160], [62, 160, 160], [64, 320, 160]], 480, BAR)[0];
  const notes = ev.filter((e) => !e.rest);
  assert.equal(notes.length, 3);
  assert.ok(notes.every((e) => e.triplet && e.triplet === notes[0].triplet && e.flags === 1));
  assert.equal(ev.groups.length, 1);
  assert.equal(ev.groups[0].length, 3);
});

test('a long span is split and never loops without end', () => {
  const p = page();
  const ME = p.MusicEngraver;
  // odd division and a huge note: still bounded and exact
  const bars = Array.from({ length: 50 }, (_, i) => ({ start: i * 1337, len: 1337, index: i }));
  const ev = ME.buildEvents([[60, 0, 1337 * 50]], 97, bars);
  assert.equal(ev.length, 50);
  for (const m of ev) assert.ok(m.length > 0 && m.length <= 70);
  // a division of 0 reads as 120
  assert.equal(ME.buildEvents([[60, 0, 120]], 0, [{ start: 0, len: 480, index: 0 }])[0][0].beats, 1);
});

test('accidentals remember their measure; a key change cancels with naturals', () => {
  const p = page();
  const ME = p.MusicEngraver;
  const bars = [0, 1, 2].map((i) => ({ start: i * 1920, len: 1920, index: i }));
  // D major: F natural (65) twice in bar 0, again in bar 1
  const acc = ME.accidentalsOf([[65, 0, 480], [65, 480, 480], [65, 1920, 480]], 480, bars, () => 2);
  assert.deepEqual(JSON.parse(JSON.stringify(acc)), [[0, 31, 0], [1, 31, 0]]);
  // C major: F sharp then F natural in one bar: sharp, then natural
  const acc2 = ME.accidentalsOf([[66, 0, 480], [65, 480, 480]], 480, bars.slice(0, 1), () => 0);
  assert.deepEqual(JSON.parse(JSON.stringify(acc2)), [[0, 31, 1], [0, 31, 0]]);
  // flat keys spell black keys as flats
  assert.deepEqual(JSON.parse(JSON.stringify(ME.spell(70, -1))), { letter: 6, alt: -1, dia: 34 });
  // A major's three sharps sit on F, C, G of the treble window
  assert.deepEqual(JSON.parse(JSON.stringify(ME.keySigDias(3, 'treble'))), [38, 35, 39]);
  assert.deepEqual(JSON.parse(JSON.stringify(ME.keySigDias(-2, 'bass'))), [20, 23]);
});

test('drum hits every eighth on the closed hi-hat beam in fours', () => {
  const p = page();
  const ME = p.MusicEngraver;
  const hits = Array.from({ length: 8 }, (_, i) => [2, i * 240]);
  const notes = ME.drumVoiceNotes(hits, 480);
  assert.ok(notes.every((n) => n[2] === 240));
  const ev = ME.buildEvents(notes, 480, BAR)[0];
  assert.deepEqual([...ev.groups.map((g) => g.length)], [4, 4]);
  // sixteenths in a half bar: one group per beat
  const six = ME.buildEvents(Array.from({ length: 8 }, (_, i) => [2, i * 120, 120]), 480, BAR)[0];
  assert.deepEqual([...six.groups.map((g) => g.length)], [4, 4]);
});

test('every glyph outline parses and the parser stops on long input', () => {
  const p = page();
  for (const name of ['clef', 'clefF', 'rest1', 'rest2', 'rest4', 'rest8', 'rest16', 'sharp', 'natural', 'flat',
                      'head_open', 'head_full', 'brace']) {
    const ops = p.MusicEngraver.parseOutline(p.GLYPH_PATH[name]);
    assert.ok(ops.length > 3 && ops[0][0] === 'M', name);
  }
  const long = 'M0 0' + 'L1 1'.repeat(30000);
  assert.ok(p.MusicEngraver.parseOutline(long).length <= 10000);
});

test('a key change from A major to C major writes three naturals, then the new bar\'s notes', () => {
  const p = page();
  p.GLYPH_PATH.natural = 'M7777 0L1 1Z';
  p.GLYPH_PATH.sharp = 'M8888 0L1 1Z';
  const marks = { natural: 0, sharp: 0 };
  const ctx = new Proxy({}, {
    get: (o, k) => {
      if (k === 'measureText') return () => ({ width: 10 });
      if (k === 'moveTo') return (x) => { if (x === 7777) marks.natural++; if (x === 8888) marks.sharp++; };
      return k in o ? o[k] : () => {};
    },
    set: (o, k, v) => { o[k] = v; return true; },
  });
  const canvas = { width: 0, height: 0, style: {}, getContext: () => ctx };
  const measures = [0, 1, 2, 3].map((i) => ({ start: i * 1920, len: 1920, index: i }));
  p.MusicEngraver.render(canvas, {
    width: 1600, height: 450, startX: 30, endX: 1570, contentX: 170, measureW: 350, beat1: 10, rightPad: 9, sp: 10, tpq: 480,
    key: 3, keyAt: (b) => (b >= 2 ? 0 : 3), measures,
    staves: [{ top: 100, notes: [[69, 0, 1920], [69, 1920, 1920], [60, 3840, 1920], [60, 5760, 1920]], clef: 'treble' }] });
  assert.deepEqual({ ...marks }, { natural: 3, sharp: 3 });  // the opening key's three sharps, then three naturals
});

// A drawing context that accepts every call (text is 10 units wide per character).
function stubCanvas() {
  const ctx = new Proxy({}, {
    get: (o, k) => {
      if (k === 'measureText') return (t) => ({ width: 10 * String(t).length });
      return k in o ? o[k] : () => {};
    },
    set: (o, k, v) => { o[k] = v; return true; },
  });
  return { width: 0, height: 0, style: {}, getContext: () => ctx };
}

// Standard places of key signature accidentals, in half staff spaces below the top line.
const KEYSIG_STEPS = {
  treble: { sharp: [0, 3, -1, 2, 5, 1, 4], flat: [4, 1, 5, 2, 6, 3, 7] },   // F C G D A E B / B E A D G C F
  bass: { sharp: [2, 5, 1, 4, 7, 3, 6], flat: [6, 3, 7, 4, 8, 5, 9] },
};

test('key signatures of 1 to 7 sharps and flats: standard order and places, no overlap, the first note after them', () => {
  const p = page();
  const ME = p.MusicEngraver;
  const sp = 12, startX = 30, top = 100;
  const measures = [0, 1].map((i) => ({ start: i * 1920, len: 1920, index: i }));
  for (const clef of ['treble', 'bass']) {
    for (let n = 1; n <= 7; n++) {
      for (const sign of [1, -1]) {
        const key = n * sign;
        const what = `${clef} ${key}`;
        const contentX = startX + ME.headerWidth(key, sp);
        const layout = ME.render(stubCanvas(), {
          width: 1600, height: 400, startX, endX: 1570, contentX, measureW: 340, beat1: 40, rightPad: 10, sp, tpq: 480,
          key, timeSig: [4, 4], measures,
          staves: [{ top, notes: [[clef === 'bass' ? 48 : 72, 0, 480]], clef }],
        });
        const list = [...layout.drawList];
        const acc = list.filter((e) => e.k === 'keysig');
        assert.equal(acc.length, n, what + ': count');
        const name = sign > 0 ? 'sharp' : 'flat';
        assert.ok(acc.every((e) => e.n === name), what + ': glyphs');
        const steps = KEYSIG_STEPS[clef][name].slice(0, n);
        assert.deepEqual(acc.map((e) => Math.round((e.y - top) / (sp / 2) * 1000) / 1000), steps, what + ': staff places');
        for (let i = 1; i < acc.length; i++) {
          assert.ok(acc[i].b[0] > acc[i - 1].b[2] + 0.05 * sp, `${what}: accidental ${i} clears the one before`);
          assert.ok(acc[i].b[0] - acc[i - 1].b[2] < 0.6 * sp, `${what}: accidental ${i} is not far from the one before`);
        }
        const last = acc[acc.length - 1].b[2];
        const time = list.find((e) => e.k === 'timesig');
        assert.ok(time.b[0] > last, what + ': the time signature after the key');
        const head = list.find((e) => e.k === 'head');
        assert.ok(head.b[0] > time.b[2] && head.b[0] > last + sp, what + ': the first note after the signatures');
      }
    }
  }
});

test('key changes inside the page: naturals only when the new key is C, and the bar\'s first note moves right of the signature', () => {
  const p = page();
  const ME = p.MusicEngraver;
  const sp = 10, top = 100;
  const measures = [0, 1, 2, 3].map((i) => ({ start: i * 1920, len: 1920, index: i }));
  const cases = [
    // [keys of the four bars, signature glyphs drawn in bar 2 (slot 2), their places, the bar's
    // first note (it needs an accidental of its own)]
    [[3, 3, 0, 0], ['natural', 'natural', 'natural'], [0, 3, -1], 66],
    [[-2, -2, 0, 0], ['natural', 'natural'], [4, 1], 70],
    [[2, 2, -3, -3], ['flat', 'flat', 'flat'], [4, 1, 5], 66],
    [[0, 0, 7, 7], Array(7).fill('sharp'), KEYSIG_STEPS.treble.sharp, 65],
  ];
  for (const [keys, names, steps, pitch] of cases) {
    const layout = ME.render(stubCanvas(), {
      width: 1600, height: 450, startX: 30, endX: 1570, contentX: 170, measureW: 350, beat1: 10, rightPad: 9, sp, tpq: 480,
      key: keys[0], keyAt: (b) => keys[b], measures,
      staves: [{ top, notes: measures.map((m) => [pitch, m.start, 1920]), clef: 'treble' }] });
    const inBar = [...layout.drawList].filter((e) => e.k === 'keysig' && e.m === 2);
    assert.deepEqual(inBar.map((e) => e.n), names, JSON.stringify(keys));
    assert.deepEqual(inBar.map((e) => Math.round((e.y - top) / (sp / 2))), steps, JSON.stringify(keys));
    for (let i = 1; i < inBar.length; i++) assert.ok(inBar[i].b[0] > inBar[i - 1].b[2], 'no overlap');
    const end = inBar[inBar.length - 1].b[2];
    const head = layout.drawList.find((e) => e.k === 'head' && e.m === 2);
    const acc = layout.drawList.find((e) => e.k === 'acc' && e.m === 2);
    assert.ok(acc && acc.b[2] < head.b[0], JSON.stringify(keys) + ': the note has its accidental');
    assert.ok(acc.b[0] > end, JSON.stringify(keys) + ': the note and its accidental after the new signature');
  }
});

test('the committed glyph table is what the generator makes from the font', async (t) => {
  const { createRequire } = await import('node:module');
  const require = createRequire(import.meta.url);
  try {
    require.resolve('@vexflow-fonts/bravura/package.json');
    require.resolve('opentype.js');
  } catch {
    t.skip('font packages not installed');
    return;
  }
  const { execFileSync } = await import('node:child_process');
  const { fileURLToPath } = await import('node:url');
  const tool = fileURLToPath(new URL('../../tools/make_glyph_outlines.mjs', import.meta.url));
  assert.match(execFileSync(process.execPath, [tool, '--check'], { encoding: 'utf8' }), /current/);
});
