// The rhythm engine from the keyboard on the demo library and the recording device: the rhythm
// check (ALT+8), a digit starting a style at the fixed tempo with its bar lines on time, the panel
// and beat meter following it, G's kit bytes, a fill from the next beat, and P's ending; a demo
// song started with Enter over the running rhythm joining it on a bar line.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readRecording, removeRoot, waitFor } from './program.mjs';
import { readMidiFile } from './smf.mjs';


const noteOn = (status, notes) => (l) => l.bytes[0] === status && l.bytes[2] > 0 && (!notes || notes.includes(l.bytes[1]));
const pageValue = (page, fn, arg) => page.evaluate(fn, arg);
const pause = (ms) => new Promise((r) => setTimeout(r, ms));

function setUpRoot(t, settings = 'cvtFixedOn=1\ncvtFixedBpm=240\n') {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-rhythm-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   'port1Device=P1\nport2Device=P2\nleadInMode=0\n' + settings);
  const rec1 = path.join(root, 'p1.rec');
  return { root, rec1, env: { TAVELO_MIDI_OUT: `P1=${rec1};P2=${path.join(root, 'p2.rec')}` } };
}

test('rhythm from the keyboard: check, style 1 at the fixed tempo, panel and meter, G, a fill and the ending',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1, env } = setUpRoot(t);
  // A style no digit reaches, named with markup and a quote: listed, as text.
  fs.copyFileSync(path.join(root, 'pxr', 'DS9-P1.MID'), path.join(root, 'pxr', "<i>q'-P1.MID"));
  const { page, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  // ALT+8: the nine styles with their parts and where each fill comes from.
  await page.keyboard.press('Alt+8');
  await waitFor(() => pageValue(page, () => document.querySelectorAll('#rchk-grid .rchk-card').length === 9), 'nine cards');
  const cards = await pageValue(page, () => Array.from(document.querySelectorAll('#rchk-grid .rchk-card')).map((c) => ({
    head: c.firstChild.textContent,
    badges: Array.from(c.querySelectorAll('.rchk-badge')).map((b) => b.textContent + (b.classList.contains('rchk-yes') ? '+' : '-')),
    fills: Array.from(c.querySelectorAll('.rchk-tile')).map((f) => f.textContent),
  })));
  assert.deepEqual(cards.map((c) => c.head.split(' ').slice(0, 3).join(' ')),
                   ['1 디스코1 (DS1)▶', '2 디스코2 (DS2)', '3 디스코3 (DS3)', '4 디스코4 (DS4)', '5 디스코5 (DS5)',
                    '6 슬로우고고1 (SG1)', '7 디스코7 (DS7)', '8 디스코8 (DS8)', '9 디스코9 (DS9)']);
  assert.ok(cards.every((c) => c.badges.join() === 'P1+,P2+,ED+,IN-'));
  assert.deepEqual(cards[0].fills, ['A 전용DS1-F1.MID', 'S 전용DS1-F2.MID', 'D 전용돔DS1-F3.MID', 'F 전용돔DS1-F4.MID']);
  assert.deepEqual(cards[2].fills, ['A 전용DS3-F1.MID', 'S 빌림DS1-F2.MID', 'D 빌림돔DS1-F3.MID', 'F 빌림돔DS1-F4.MID']);
  assert.deepEqual(cards[5].fills, ['A 전용SG1-F1.MID', 'S 전용SG1-F2.MID', 'D F1대신SG1-F1.MID', 'F F1대신SG1-F1.MID']);
  assert.deepEqual(cards[8].fills, ['A 빌림DS1-F1.MID', 'S 빌림DS1-F2.MID', 'D 빌림돔DS1-F3.MID', 'F 빌림돔DS1-F4.MID']);
  const orphans = await pageValue(page, () => {
    const el = document.getElementById('rchk-orphans');
    return el && { text: el.textContent, markup: el.querySelectorAll('i').length };
  });
  assert.deepEqual(orphans, { text: "\u26A0 폴더에는 있는데 숫자키에 안 걸린 스타일 : <I>Q' - 파일은 들어 있어도 1~9 어느 번호로도 불러올 수 없습니다.", markup: 0 });
  await page.keyboard.press('Escape');
  assert.equal(await pageValue(page, () => document.getElementById('rchk-overlay').style.display), 'none');

  // Key 1: DS1 loops at the fixed 240 bpm; its kick falls on every half bar (500 ms), on time.
  await page.keyboard.press('1');
  const kick = noteOn(0x99, [36]);
  await waitFor(() => readRecording(rec1).filter(kick).length >= 5, 'five kicks', 20000);
  const kicks = readRecording(rec1).filter(kick).map((l) => l.us / 1000);
  const gaps = kicks.slice(1).map((k, i) => k - kicks[i]);
  assert.ok(gaps.every((g) => Math.abs(g - 500) < 5), 'half-bar gaps ' + gaps.map((g) => g.toFixed(2)).join(' '));
  // The bass of the pattern (written on C) and the guitar on engine channel 6.
  assert.ok(readRecording(rec1).some(noteOn(0x98, [36])), 'bass');
  assert.ok(readRecording(rec1).some(noteOn(0x96)), 'guitar');

  // The panel shows style 1 running, the meter pulses, the tempo display shows the engine's bpm.
  const view = await pageValue(page, () => ({
    selected: Array.from(document.querySelectorAll('#rhythm-panel .rhy-selected')).map((c) => c.getAttribute('data-key')),
    border: document.getElementById('rhythm-panel').style.borderColor,
    dots: document.querySelectorAll('#beat-dots .beat-dot').length,
    lit: document.querySelectorAll('#beat-dots .beat-lit').length,
    tempo: document.getElementById('tempo-display').textContent,
  }));
  assert.deepEqual(view, { selected: ['1'], border: 'rgb(255, 159, 26)', dots: 4, lit: 1, tempo: 'L240 (CVT)' });

  // G: the electronic kit on the snare channel (bank 0/2, program 24, reverb) and its light.
  let mark = readRecording(rec1).length;
  await page.keyboard.press('g');
  await waitFor(() => {
    const after = readRecording(rec1).slice(mark).map((l) => l.bytes.join(' '));
    const want = ['186 0 0', '186 32 2', '202 24', '186 91 95'];
    const at = want.map((w) => after.indexOf(w));
    return at.every((i, k) => i >= 0 && (k === 0 || i > at[k - 1]));
  }, 'the kit bytes');
  await waitFor(() => pageValue(page, () => document.querySelectorAll('#rhythm-panel .rhy-lit').length === 1), 'the G light');
  await page.keyboard.press('g');  // off again: the snare channel plays the style's own kit
  await waitFor(() => pageValue(page, () => document.querySelectorAll('#rhythm-panel .rhy-lit').length === 0), 'G off');

  // A: fill 1 (toms on the snare channel) comes in from the next beat, on the pattern's grid:
  // the tail of its tom run, sixteenth by sixteenth up to the bar line. The fill's cut ends one tick
  // before the bar line (a tick late on the grid); 20 ms leaves room for a loaded machine.
  mark = readRecording(rec1).length;
  await page.keyboard.press('a');
  const tom = noteOn(0x9A, [50, 48, 47, 45, 43, 41]);
  await waitFor(() => readRecording(rec1).slice(mark).some(noteOn(0x9A, [41])), 'the tom run', 10000);
  const toms = readRecording(rec1).slice(mark).filter(tom).map((l) => l.us / 1000);
  const offGrid = (ms, grid) => { const r = ((ms - kicks[0]) % grid + grid) % grid; return Math.min(r, grid - r); };
  assert.ok(toms.every((ms) => offGrid(ms, 62.5) < 20), 'toms on the grid: ' + toms.map((ms) => offGrid(ms, 62.5).toFixed(1)).join(' '));
  assert.ok(offGrid(toms.at(-1) + 62.5, 500) < 20, 'the run ends on a half-bar line');
  assert.ok(toms.slice(1).every((ms, i) => Math.abs(ms - toms[i] - 62.5) < 20), 'sixteenth toms ' + toms.map((ms) => (ms - toms[0]).toFixed(1)).join(' '));
  console.log('fill toms off the grid (ms): ' + toms.map((ms) => offGrid(ms, 62.5).toFixed(1)).join(' '));

  // P without a song: the ending (its crash) and then the engine stops.
  mark = readRecording(rec1).length;
  await page.keyboard.press('p');
  await waitFor(() => readRecording(rec1).slice(mark).some(noteOn(0x9B, [49])), 'the ending crash', 10000);
  await waitFor(() => pageValue(page, () => !window.__cvtOn && !rhyOn), 'the engine stopped', 10000);
  const crashAt = readRecording(rec1).slice(mark).findIndex(noteOn(0x9B, [49]));
  await pause(600);
  const afterEnd = readRecording(rec1).slice(mark + crashAt + 1);
  assert.equal(afterEnd.filter((l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0 && l.bytes[0] !== 0x98 &&
                                     l.bytes[0] !== 0x96 && l.bytes[0] !== 0x99).length, 0, 'nothing after the ending');
  assert.equal(await pageValue(page, () => document.getElementById('rhythm-panel').style.borderColor), 'rgb(85, 85, 85)');
});

test('Enter on a demo song over the running rhythm: the song joins on a bar line, the engine plays its channels and follows its chords',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1, env } = setUpRoot(t, 'cvtFixedOn=0\ncvtFixedBpm=120\n');
  const song = 1009;  // 4/4 at 96 bpm: a count-in bar, then chords from bar 1
  const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${song}.MID`)));
  const { page, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  // The rhythm runs on its own clock (120 bpm): its bar lines every 2000 ms from the first kick.
  await page.keyboard.press('1');
  const kick = noteOn(0x99, [36]);
  await waitFor(() => readRecording(rec1).filter(kick).length >= 2, 'the rhythm');
  const firstKick = readRecording(rec1).find(kick).us / 1000;

  // F1, the song's number, Enter reserves it; Enter starts it.
  await page.keyboard.press('F1');
  for (const d of String(song)) await page.keyboard.press(d);
  await waitFor(() => pageValue(page, (id) => searchResults.length && searchResults[searchSelIdx].id === id, song), 'the song found');
  await page.keyboard.press('Enter');
  await waitFor(() => pageValue(page, () => !searchPanelOpen && reservedQueue.length === 1), 'reserved');
  const mark = readRecording(rec1).length;
  await page.keyboard.press('Enter');

  // The song's first bar line (its intro chord on channel 1) falls on a bar line of the rhythm.
  const chordOn = (l) => l.bytes[0] === 0x91 && l.bytes[2] > 0;
  await waitFor(() => readRecording(rec1).slice(mark).some(chordOn), 'the first chord', 15000);
  const barLine = readRecording(rec1).slice(mark).find(chordOn).us / 1000;
  // The rhythm takes the song's tempo (96 bpm, a 2500 ms bar) at its bar line before the song; a
  // request less than 300 ms before that line puts the song one such bar later.
  const since = barLine - firstKick;
  let offBar = Infinity;
  for (let line = 0; line <= since + 1000; line += 2000)
    for (const later of [0, 2500])
      if (Math.abs(since - line - later) < Math.abs(offBar)) offBar = since - line - later;
  const kicksBefore = readRecording(rec1).filter((l) => l.us / 1000 <= barLine + 1).filter(kick).map((l) => (l.us / 1000 - firstKick).toFixed(1));
  assert.ok(Math.abs(offBar) < 5, 'song bar line off the rhythm bar line by ' + offBar.toFixed(2) + ' ms; kicks ' + kicksBefore.join(' ') + ' bar line ' + (barLine - firstKick).toFixed(1));
  console.log('song bar line against the rhythm bar line (ms): ' + offBar.toFixed(2));

  // Two bars of the song: the kit and bass channels carry only the engine's pattern.
  const msPerTick = 60000 / 96 / midi.division;
  await waitFor(() => (readRecording(rec1).at(-1)?.us ?? 0) / 1000 > barLine + 2 * 4 * 480 * msPerTick, 'two bars', 15000);
  const played = readRecording(rec1).slice(mark).filter((l) => l.us / 1000 >= barLine - 1);
  const drums = played.filter(noteOn(0x99));
  assert.ok(drums.length > 0 && drums.every((l) => l.bytes[1] === 36), 'only the pattern kick on the kit channel');
  const bass = played.filter(noteOn(0x98));
  assert.ok(bass.length >= 3, 'the engine bass');

  // The engine's bass (written on C: root and fifth) moves to each chord of the song. The sender
  // reads the chord at the song's current tick, so a note sent on the very bar line where the
  // chord changes may still take the chord before (the tick report trails the bar line by a few
  // ticks); every other note takes the chord it sounds in.
  // The song's own bass opens each chord on its root (velocity 100).
  const roots = midi.events.filter((e) => e.status === 0x98 && e.data2 === 100).map((e) => ({ tick: e.tick, pc: e.data1 % 12 }));
  const onChord = (note, chord) => chord && [chord.pc, (chord.pc + 7) % 12].includes(note % 12);
  let onNew = 0;
  for (const l of bass) {
    const tick = 1920 + (l.us / 1000 - barLine) / msPerTick;
    const at = roots.filter((r) => r.tick <= tick + 8);
    const chord = at.at(-1), before = at.at(-2);
    const atChange = chord && Math.abs(tick - chord.tick) < 8;
    assert.ok(onChord(l.bytes[1], chord) || (atChange && onChord(l.bytes[1], before)),
              `bass ${l.bytes[1]} at tick ${Math.round(tick)} on the chord root ${chord && chord.pc}`);
    onNew += onChord(l.bytes[1], chord) ? 1 : 0;
  }
  assert.ok(onNew >= bass.length - 1, 'at most one bass note on a chord change takes the chord before');

  // The start under the rhythm leaves its diagnostics in the trace log: what was loaded into the
  // module up to the song's first note, the watch over the rhythm channels' volumes from the start
  // and for the song's first two bars, the engine's bass joining the song, the performance monitor.
  const altz = () => {
    try { return fs.readFileSync(path.join(root, 'system', 'altz_log.txt'), 'utf8'); } catch { return ''; }
  };
  await waitFor(() => (altz().match(/^\[PRF\] \+ *\d+ms  sys=/gm) || []).length >= 3, 'the performance monitor');
  const trace = altz();
  console.log(trace.split('\n').filter((l) => /^\[(LOAD|CVTMOV|VOL2|VOL|BASS)\]/.test(l)).slice(0, 40).join('\n'));
  assert.match(trace, /^\[LOAD\] ===== 채널 로드 묶음 \(ALT\+Z\/엔터 ~ 곡 첫 음\) - 기록 \d+개 =====/m);
  assert.match(trace, /^\[LOAD\]  묶음1  \+ *[\d.]+ ~ *[\d.]+ms  PC +\d+개 뱅크 +\d+개   p0:ch/m);
  assert.match(trace, /^\[LOAD\] 총 \d+묶음 \/ PC \d+개 \/ 뱅크 \d+개/m);
  assert.match(trace, /^\[CVTMOV\] CVT 소유 채널이 맞은 횟수 \d+ \(그중 음색\/리셋 \d+\)/m);
  assert.match(trace, /^\[VOL2\] ===== 창 열림 - 첫 음부터 15000ms 동안 CVT 채널 볼륨 추적 =====/m);
  assert.match(trace, /^\[VOL2\] ===== 창 열림 - 첫 음부터 5000ms 동안 CVT 채널 볼륨 추적 =====/m);  // two bars at 96 bpm
  assert.match(trace, /^\[VOL2\] \+ *\d+ms  p0:ch\d+ +(CC\d+ +=|PROG) \d+/m);
  assert.match(trace, /^\[VOL\] ch\d+ += +\d+  \(리듬소유, 기준볼륨 \d+, 믹서 \d+%\)/m);
  assert.match(trace, /^\[BASS\] \+ *\d+ms 곡합류 ON  note=\d+\([A-G]#?-?\d\) vel=\d+  songRef=-1 /m);
});
