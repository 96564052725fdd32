// The song and the rhythm hand over on the demo library and the recording device: a song started
// over the running rhythm, the rhythm stopped with P in bar 3 — the song's own tones come back on
// the rhythm's channels and the song follows its own tempo change; the rhythm started again with 1
// takes the song back to its first tempo; ALT+A ends the song under the rhythm, the run's own
// all-notes-off spread out behind the hand-back's silencing.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readLog, readRecording, removeRoot, waitFor } from './program.mjs';
import { readMidiFile } from './smf.mjs';

const pageValue = (page, fn, arg) => page.evaluate(fn, arg);

test('P in bar 3 hands the rhythm channels and the tempo back to the song; 1 takes the song back to its first tempo',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-handover-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   'port1Device=P1\nport2Device=P2\nleadInMode=0\ncvtFixedOn=0\ncvtFixedBpm=120\n');
  const rec1 = path.join(root, 'p1.rec');
  const song = 1007;  // 4/4 at 112 bpm, 132 bpm from bar 6; a tone of its own on every rhythm channel
  const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${song}.MID`)));
  const bar = 4 * midi.division;
  assert.deepEqual(midi.tempos.map((x) => [x.tick, Math.round(60e6 / x.us)]), [[0, 112], [6 * bar, 132]]);
  // The song's tones on the rhythm channels: bank MSB, bank LSB, program.
  const songTones = {};
  for (const e of midi.events) {
    const ch = e.status & 0x0F;
    if (e.port !== 0 || !(ch === 6 || (ch >= 8 && ch <= 14))) continue;
    const tone = songTones[ch] ??= {};
    if ((e.status & 0xF0) === 0xB0 && (e.data1 === 0 || e.data1 === 32)) tone[e.data1] = e.data2;
    if ((e.status & 0xF0) === 0xC0) tone.program = e.data1;
  }
  assert.equal(Object.keys(songTones).length, 8);
  // The chords of channel 2 (0-based 1): the recorded ones are the file's, one for one.
  const chordTicks = midi.events.filter((e) => e.status === 0x91 && e.data2 > 0).map((e) => e.tick);

  const env = { TAVELO_MIDI_OUT: `P1=${rec1};P2=${path.join(root, 'p2.rec')}` };
  const { page, frames, scripts } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await page.keyboard.press('1');
  await waitFor(() => readRecording(rec1).some((l) => l.bytes[0] === 0x99 && l.bytes[2] > 0), 'the rhythm');
  await page.keyboard.press('F1');
  for (const d of String(song)) await page.keyboard.press(d);
  await waitFor(() => pageValue(page, (id) => searchResults.length && searchResults[searchSelIdx].id === id, song), 'the song found');
  await page.keyboard.press('Enter');
  await waitFor(() => pageValue(page, () => !searchPanelOpen && reservedQueue.length === 1), 'reserved');
  const start = readRecording(rec1).length;
  await page.keyboard.press('Enter');

  const chords = () => readRecording(rec1).slice(start).filter((l) => l.bytes[0] === 0x91 && l.bytes[2] > 0);
  const reached = (tick) => chords().length > chordTicks.findIndex((x) => x >= tick);
  await waitFor(() => reached(3 * bar), 'bar 3', 30000);
  const stop = readRecording(rec1).length;
  await page.keyboard.press('p');
  await waitFor(() => scripts.some((s) => s.includes('updateCvtBadge(false)')), 'the rhythm stopped');

  // The song's own bank and program on every rhythm channel, after the stop.
  await waitFor(() => {
    const after = readRecording(rec1).slice(stop).map((l) => l.bytes);
    const last = (ch, status, cc) => after.filter((b) => b[0] === (status | ch) && (cc === undefined || b[1] === cc)).at(-1);
    return Object.entries(songTones).every(([ch, tone]) =>
      last(+ch, 0xB0, 0)?.[2] === tone[0] && last(+ch, 0xB0, 32)?.[2] === tone[32] && last(+ch, 0xC0)?.[1] === tone.program);
  }, 'the song tones handed back', 5000);

  // Bar 8: 1 starts the rhythm again (at the song's next bar line).
  await waitFor(() => reached(8 * bar), 'bar 8', 30000);
  await page.keyboard.press('1');
  await waitFor(() => reached(13 * bar), 'bar 13', 40000);

  // The tempo of each stretch from the recorded chords against their ticks.
  const rec = chords().map((l) => l.us / 1000);
  const bpmBetween = (from, to) => {
    const out = [];
    for (let i = 1; i < rec.length; ++i) {
      const a = chordTicks[i - 1], b = chordTicks[i];
      if (a < from || b > to || b - a < midi.division) continue;
      out.push(Math.round(60000 * (b - a) / midi.division / (rec[i] - rec[i - 1])));
    }
    assert.ok(out.length >= 2, `chords between ${from} and ${to}`);
    return out;
  };
  // The middle of each stretch's values: one late message on a loaded machine moves one pair.
  const near = (list, bpm, what) => {
    const middle = [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
    assert.ok(Math.abs(middle - bpm) <= 2, `${what}: ${list.join(' ')}`);
  };
  near(bpmBetween(bar, 3 * bar), 112, 'under the rhythm');
  near(bpmBetween(6 * bar, 8 * bar), 132, 'after the stop, the song\'s own tempo change');
  near(bpmBetween(10 * bar, 13 * bar), 112, 'the rhythm again: the song\'s first tempo');
  const log = readLog(root);
  assert.ok(log.includes('[CVT] 사용자가 CVT 를 끔 - 템포 고정 해제(이후 곡의 템포 변화를 다시 따라감)'), 'the release logged');
  assert.ok(log.includes('[CVT] 곡 도중 CVT 켬 - 템포 되돌림 132 -> 112 bpm'), 'the return logged');

  // ALT+A: the song ends, the rhythm plays on. The chords' channel is silenced by the hand-back
  // (all sound off) as soon as the run has ended; the run's own all-notes-off comes from its worker
  // 15 ms after the run's end, so after that.
  const end = readRecording(rec1).length;
  await page.keyboard.press('Alt+a');
  const cc = (n) => (l) => l.bytes[0] === 0xB1 && l.bytes[1] === n;
  await waitFor(() => readRecording(rec1).slice(end).some(cc(123)), 'the run\'s all notes off');
  const tail = readRecording(rec1).slice(end);
  const soundOff = tail.find(cc(120)), notesOff = tail.find(cc(123));
  assert.ok(soundOff && notesOff.us > soundOff.us, `all notes off ${(notesOff.us - (soundOff?.us ?? 0)) / 1000} ms after all sound off`);
  await waitFor(() => /\[CVT\] 곡 종료 정리 - 실제로 울리던 채널만 \d+\+\d+개 전송/.test(readLog(root)), 'the log line');
});
