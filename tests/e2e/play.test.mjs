// A song plays from the page's start command to its natural end on the recording MIDI devices:
// module setup, the song's channel events in file order on their ports and on the file's tempo
// map, tick reports, pause and resume, key change, bar jump, the start guard and a stop during
// the module setup.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  demoSongNumbers, demoTool, openProgramPage, readLog, readRecording, removeRoot, waitFor,
} from './program.mjs';
import { readMidiFile, tempoMapMs } from './smf.mjs';



function setUpRoot(t, extraSettings = '') {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-play-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   'port1Device=P1\nport2Device=P2\nleadInMode=0\n' + extraSettings);
  const rec1 = path.join(root, 'p1.rec'), rec2 = path.join(root, 'p2.rec');
  return { root, rec1, rec2, env: { TAVELO_MIDI_OUT: `P1=${rec1};P2=${rec2}` } };
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);
const isChannel = (l) => l.bytes.length && l.bytes[0] >= 0x80 && l.bytes[0] < 0xF0;
const isNoteOn = (l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0;

test('a demo song plays whole on its tempo map, with its screen script, tick reports and natural end',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1, rec2, env } = setUpRoot(t);
  // The shortest demo song: the test waits for its natural end.
  const songs = demoSongNumbers(root).map((number) => {
    const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${number}.MID`)));
    return { number, midi, ms: tempoMapMs(midi)(Math.max(...midi.events.map((e) => e.tick))) };
  });
  const { number: song, midi } = songs.reduce((a, b) => (b.ms < a.ms ? b : a));
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  await post(page, `START_SONG_ID:${song}`);
  const screen = await waitFor(() => scripts.find((s) => s.startsWith("try{ initSong('")), 'initSong');
  assert.doesNotThrow(() => new Function(screen));
  await waitFor(() => readRecording(rec1).some(isNoteOn), 'the first note');

  await waitFor(() => scripts.filter((s) => s.startsWith('try{ updateTick(')).length >= 3, 'tick reports');

  // The whole song plays; at its end the page hears of it.
  await waitFor(() => scripts.some((s) => s.includes('handleSongNaturalEnd()')), 'the natural end', 120000);
  const lines = readRecording(rec1);
  // The module setup (SysEx) comes before the song's first channel message.
  const firstSysEx = lines.findIndex((l) => l.bytes[0] === 0xF0);
  const played = lines.filter(isChannel);
  assert.ok(firstSysEx >= 0 && firstSysEx < lines.findIndex(isNoteOn), 'module setup before the notes');

  // Every note-on of the file, in file order and on its ideal time, within 20 ms.
  const expected = midi.events.filter((e) => e.port === 0 && (e.status & 0xF0) === 0x90 && e.data2 > 0);
  const got = played.filter(isNoteOn);
  assert.equal(got.length, expected.length, 'every note-on once');
  const ideal = tempoMapMs(midi);
  // The song opens with a GS reset, after which the player lets the module settle (50 ms, at most
  // 80) before it sends more: the count-in's first notes come that much late, and the song's own
  // clock is anchored on the first note after them.
  const anchor = expected.findIndex((e) => ideal(e.tick) >= 100);
  const t0 = got[anchor].us / 1000 - ideal(expected[anchor].tick);
  const allowed = (tick) => (ideal(tick) < 100 ? 100 : 20);
  let worst = 0;
  const key = (status, note) => status * 256 + note;
  for (let i = 0; i < got.length;) {
    // The notes of one tick, as a set: their order inside the tick is the file's track order.
    let j = i;
    while (j < expected.length && expected[j].tick === expected[i].tick) ++j;
    const want = expected.slice(i, j).map((e) => key(e.status, e.data1)).sort();
    const have = got.slice(i, j).map((l) => key(l.bytes[0], l.bytes[1])).sort();
    assert.deepEqual(have, want, `notes at tick ${expected[i].tick}`);
    for (let k = i; k < j; ++k) {
      const error = Math.abs(got[k].us / 1000 - t0 - ideal(expected[i].tick));
      assert.ok(error < allowed(expected[i].tick), `send time error ${error.toFixed(2)} ms at tick ${expected[i].tick}`);
      if (allowed(expected[i].tick) === 20) worst = Math.max(worst, error);
    }
    i = j;
  }
  // The port-2 part reaches the second device, every note of it.
  const port2 = midi.events.filter((e) => e.port === 1 && (e.status & 0xF0) === 0x90 && e.data2 > 0);
  assert.ok(port2.length > 0);
  assert.equal(readRecording(rec2).filter(isNoteOn).length, port2.length, 'port 2 notes');
  console.log('worst send time error after the settle: ' + worst.toFixed(2) + ' ms');
});

test('pause silences and resumes from its bar; a key change moves notes but not drums; a bar jump',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1, env } = setUpRoot(t);
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await post(page, `START_SONG_ID:${demoSongNumbers(root)[0]}`);
  await waitFor(() => readRecording(rec1).filter(isNoteOn).length > 10, 'notes');

  await post(page, 'TOGGLE_PAUSE');
  // All notes off on every channel, then nothing sounds while paused.
  const off = await waitFor(() => {
    const l = readRecording(rec1);
    const i = l.findIndex((x, k) => x.bytes[0] === 0xB0 && x.bytes[1] === 123 &&
                          l.slice(k, k + 16).filter((y) => (y.bytes[0] & 0xF0) === 0xB0 && y.bytes[1] === 123).length === 16);
    return i >= 0 ? l.length : 0;
  }, 'the pause');
  await new Promise((r) => setTimeout(r, 700));
  const during = readRecording(rec1).slice(off);
  assert.equal(during.filter(isNoteOn).length, 0, 'no note while paused');
  const tickBefore = await page.evaluate(() => 0);
  void tickBefore;
  await post(page, 'TOGGLE_PAUSE');
  await waitFor(() => readRecording(rec1).slice(off).filter(isNoteOn).length > 2, 'resumed notes');
  assert.match(readLog(root), /PlayMidiThread 시작[\s\S]*PlayMidiThread 시작/);

  // Key up two semitones: melody notes move, drum notes stay.
  const mark = readRecording(rec1).length;
  await post(page, 'PITCH_UP');
  await post(page, 'PITCH_UP');
  await waitFor(() => scripts.some((s) => s === 'updateTempoPitchDisplay(0,2);'), 'the key display');
  await waitFor(() => readRecording(rec1).slice(mark).filter(isNoteOn).length > 20, 'notes at the new key');
  const after = readRecording(rec1).slice(mark).filter(isNoteOn);
  const drums = after.filter((l) => (l.bytes[0] & 0x0F) === 9);
  assert.ok(drums.length > 0 && drums.every((l) => [36, 38, 42, 37, 49].includes(l.bytes[1])), 'drums untransposed');

  // Next bar: a new run starts at a later bar.
  const runs = readLog(root).split('PlayMidiThread 시작').length;
  await post(page, 'JUMP_NEXT_MEASURE');
  await waitFor(() => readLog(root).split('PlayMidiThread 시작').length > runs, 'the jump run');
  await post(page, 'RESET_HOME');
  await waitFor(() => scripts.some((s) => s.includes('resetToHomeScreen()')), 'home');
});

test('a second start while the first is starting is refused; a stop during the module setup ends the run before any note',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec1, env } = setUpRoot(t);
  // A long module setup: many SysEx messages in the setup file, each paced by the sender.
  const syx = [];
  for (let i = 0; i < 20; ++i) syx.push(0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, i & 0x7F, 0x00, 0xF7);
  fs.mkdirSync(path.join(root, 'system', 'system-exclive'), { recursive: true });
  fs.writeFileSync(path.join(root, 'system', 'system-exclive', 'C-InsSet.syx'), Buffer.from(syx));
  // The device keeps each SysEx buffer until the sender gives up on it: a slow module setup.
  const { page, scripts, frames } = await openProgramPage(t, root, { ...env, TAVELO_MIDI_OUT: `P1=${rec1}~hold;P2=${rec1}2` });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await post(page, `START_SONG_ID:${demoSongNumbers(root)[0]}`);
  await waitFor(() => readRecording(rec1).some((l) => l.bytes[0] === 0xF0), 'the setup has begun');
  // A second start inside the guard (held Enter) is refused.
  await post(page, `START_SONG_ID:${demoSongNumbers(root)[1]}`);
  await waitFor(() => readLog(root).includes('[SONG] 곡 시작 요청 무시 - 직전 곡이 아직 시작 중입니다(엔터 연타 보호)'),
                'the guard line');
  await post(page, 'RESET_HOME');
  await waitFor(() => scripts.some((s) => s.includes('resetToHomeScreen()')), 'home');
  await new Promise((r) => setTimeout(r, 1500));
  assert.equal(readRecording(rec1).filter(isNoteOn).length, 0, 'no note after the stop');
  assert.ok(!scripts.some((s) => s.includes('handleSongNaturalEnd()')));
  await waitFor(() => readLog(root).includes('[SONG] 시작 중에 정지 요청 - 재생하지 않고 끝냅니다'), 'the refused run');
});
