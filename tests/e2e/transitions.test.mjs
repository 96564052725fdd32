// The next song in the real program on the recording MIDI devices: with a song playing over the
// rhythm, "NEXT_SONG_ID:" brings the style's fill from the next bar line, silences the old song and
// starts the reserved one on the pattern's downbeat; in medley play mode without the rhythm, a song
// that ran out leads into the next through the style's fill.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  demoSongNumbers, demoTool, openProgramPage, readRecording, removeRoot, waitFor,
} from './program.mjs';


function vlq(n) {
  const out = [n & 0x7f];
  while ((n >>= 7)) out.unshift(0x80 | (n & 0x7f));
  return out;
}

// A one-bar style part at 120 ticks a quarter from [tick, ...bytes] events.
function stylePart(events) {
  const ev = [];
  let last = 0;
  for (const [tick, ...bytes] of events) { ev.push(...vlq(tick - last), ...bytes); last = tick; }
  ev.push(...vlq(480 - last), 0xff, 0x2f, 0x00);
  const track = Buffer.from(ev);
  const head = Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 120]);
  const len = Buffer.alloc(4);
  len.writeUInt32BE(track.length);
  return Buffer.concat([head, Buffer.from('MTrk'), len, track]);
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);
const engineChannel = (ch) => ch === 6 || (ch >= 8 && ch <= 14);
const songNoteOn = (l) => (l.bytes[0] & 0xf0) === 0x90 && l.bytes[2] > 0 && !engineChannel(l.bytes[0] & 0x0f);

function setUpRoot(t) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-transition-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.mkdirSync(path.join(root, 'pxr'), { recursive: true });
  // The main pattern: kick on 1, hi-hat on every beat. The fill: a snare every eighth.
  const main = [[0, 0x99, 36, 100], [60, 0x89, 36, 0]];
  for (const b of [0, 120, 240, 360]) main.push([b, 0x9b, 42, 80]);
  main.sort((a, b) => a[0] - b[0]);
  const fill = [];
  for (let k = 0; k < 8; ++k) fill.push([k * 60, 0x99, 38, 100], [k * 60 + 30, 0x89, 38, 0]);
  for (const style of ['DS1', 'SG1']) {
    fs.writeFileSync(path.join(root, 'pxr', `${style}-P1.MID`), stylePart(main));
    fs.writeFileSync(path.join(root, 'pxr', `${style}-F1.MID`), stylePart(fill));
  }
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  return { root, rec1: path.join(root, 'p1.rec') };
}

const isSnare = (l) => l.bytes[0] === 0x99 && l.bytes[1] === 38 && l.bytes[2] > 0;

test('the reserved song comes in over the rhythm after its fill', { skip: !demoTool && 'no demo library generator' },
     async (t) => {
  const { root, rec1 } = setUpRoot(t);
  // A fill of half a bar with an extra part on channel 14 (0-based 13) and its tone: the fill plays
  // its tone first, and the pattern (here with a kick on the half bar too) takes the second half.
  const half = [[0, 0xbd, 0, 8], [0, 0xcd, 11], [120, 0x9d, 72, 90], [150, 0x8d, 72, 0]];
  for (let k = 0; k < 4; ++k) half.push([k * 60, 0x99, 38, 100], [k * 60 + 30, 0x89, 38, 0]);
  half.sort((a, b) => a[0] - b[0]);
  fs.writeFileSync(path.join(root, 'pxr', 'DS1-F1.MID'), stylePart(half));
  const main = [[0, 0x99, 36, 100], [60, 0x89, 36, 0], [240, 0x99, 36, 100], [300, 0x89, 36, 0]];
  fs.writeFileSync(path.join(root, 'pxr', 'DS1-P1.MID'), stylePart(main));
  const [first, next] = demoSongNumbers(root);
  const { page, scripts } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec1};P2` });

  await post(page, `START_SONG_ID:${first}`);
  await waitFor(() => readRecording(rec1).some(songNoteOn), 'the first song');
  await post(page, 'RHYTHM_STYLE:1');
  await waitFor(() => scripts.some((s) => s.includes('updateCvtBadge(true)')), 'the rhythm', 15000);
  await waitFor(() => readRecording(rec1).some((l) => l.bytes[0] === 0x99 && l.bytes[1] === 36), 'the rhythm kick', 15000);

  const mark = readRecording(rec1).length;
  const screens = scripts.filter((s) => s.startsWith("try{ initSong('")).length;
  await post(page, `NEXT_SONG_ID:${next}`);
  await waitFor(() => scripts.filter((s) => s.startsWith("try{ initSong('")).length > screens, 'the next song', 20000);
  const silenceIn = (lines) => lines.findIndex((l) => l.bytes[0] === 0xb0 && l.bytes[1] === 123);
  await waitFor(() => {
    const a = readRecording(rec1).slice(mark);
    const s = silenceIn(a);
    return s >= 0 && a.slice(s).some(songNoteOn);
  }, 'the next song\'s notes after the silence', 20000);
  const after = readRecording(rec1).slice(mark);
  const silence = silenceIn(after);
  const snare = after.findIndex((l) => isSnare(l));
  assert.ok(silence >= 0, 'the old song silenced');
  assert.ok(snare >= 0, 'the fill plays');
  // No note of the old song between the silence and the fill's first stroke.
  assert.ok(!after.slice(silence, snare).some(songNoteOn), 'the old song is quiet under the fill');
  // The fill plays, then the pattern's kick comes back.
  const snareTimes = after.filter((l) => isSnare(l)).map((l) => l.us);
  assert.ok(snareTimes.length >= 4, `fill strokes: ${snareTimes.length}`);
  await waitFor(() => readRecording(rec1).slice(mark).filter((l) => l.bytes[0] === 0x99 && l.bytes[1] === 36)
    .some((l) => l.us > snareTimes[snareTimes.length - 1]), 'the pattern after the fill', 10000);
  // The next song's first note (on its bar's first beat) lands on the pattern's downbeat.
  const lines = readRecording(rec1).slice(mark);
  const firstNote = lines.slice(silence).find(songNoteOn).us;
  // The extra part's bank and program before its note; the pattern's hi-hats after the short fill.
  const tone = lines.findIndex((l) => l.bytes[0] === 0xcd && l.bytes[1] === 11);
  const extra = lines.findIndex((l) => l.bytes[0] === 0x9d && l.bytes[2] > 0);
  assert.ok(extra > 0 && tone >= 0 && tone < extra, `the fill's tone (${tone}) before its note (${extra})`);
  assert.ok(lines.some((l) => l.bytes[0] === 0xbd && l.bytes[1] === 0 && l.bytes[2] === 8), 'the bank');
  const lastStroke = snareTimes[snareTimes.length - 1];
  assert.ok(lines.some((l) => l.bytes[0] === 0x99 && l.bytes[1] === 36 && l.bytes[2] > 0 && l.us > lastStroke &&
                              l.us < firstNote - 5000), 'the pattern plays the rest of the bar after the fill');
  const kick = lines.filter((l) => l.bytes[0] === 0x99 && l.bytes[1] === 36 && l.bytes[2] > 0 && l.us >= firstNote - 50000)[0].us;
  assert.ok(Math.abs(kick - firstNote) <= 5000, `first note ${(firstNote - kick) / 1000} ms from the downbeat`);
});

test('in medley play mode a song that ran out leads into the next through the style\'s fill',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1 } = setUpRoot(t);
  const [first, next] = demoSongNumbers(root);
  const { page, scripts } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec1};P2` });
  await post(page, 'SET_PLAY_MODE:0:1');
  await post(page, `START_SONG_ID:${first}`);
  await waitFor(() => readRecording(rec1).some(songNoteOn), 'the first song');
  await post(page, 'ALTZ_END_NOW');
  await waitFor(() => scripts.some((s) => s.includes('handleSongNaturalEnd()')), 'the natural end', 30000);
  const mark = readRecording(rec1).length;
  await post(page, `NEXT_SONG_ID:${next}`);
  await waitFor(() => {
    const a = readRecording(rec1).slice(mark);
    const s = a.findIndex(isSnare);
    return s >= 0 && a.slice(s).some(songNoteOn);
  }, 'the fill, then the next song', 20000);
  const after = readRecording(rec1).slice(mark);
  const strokes = after.filter(isSnare).map((l) => l.us);
  const firstNote = after.find(songNoteOn).us;
  // The whole fill (eight strokes), then the song right at its end, not over it.
  assert.equal(strokes.filter((us) => us < firstNote).length, 8, 'the fill plays whole before the song');
  const gap = (firstNote - strokes[7]) / 1000;
  assert.ok(gap > 0 && gap < 400, `the song ${gap} ms after the fill's last stroke`);
});
