// The first note of every demo song, started from the page on a recording device with no port-2
// device: the song's count-in click of tick 0 is sent, the reset meant for port 2 never reaches
// port 1, and the first two clicks lie one beat apart by the song's tempo map.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, readLog, readRecording, removeRoot, waitFor } from './program.mjs';
import { readMidiFile } from './smf.mjs';

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);
const isGsReset = (l) => l.bytes.slice(0, 9).join(' ') === [0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00].join(' ');
const isClick = (l) => l.bytes[0] === 0x99 && l.bytes[1] === 37 && l.bytes[2] > 0;
const firstNotes = (root) => readLog(root).split('곡 첫 음 - 실제 재생 시작').length - 1;

test('every demo song: its first click sounds, no port-2 reset on port 1, the first two clicks a beat apart',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-first-note-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=\nleadInMode=0\n');
  const rec = path.join(root, 'p1.rec');
  const { page, frames, scripts } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec}` });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  const songs = demoSongNumbers(root);
  assert.ok(songs.length >= 10);
  const report = [];
  for (const song of songs) {
    const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${song}.MID`)));
    // One beat at the tempo in force at tick 0 (the demo songs' clicks lie in bar 0).
    const tempo = midi.tempos.filter((x) => x.tick === 0).at(-1)?.us ?? 500000;
    const beatMs = tempo / 1000;
    // The song before ends first, so that none of its clicks comes after the mark.
    const homes = scripts.filter((x) => x.includes('resetToHomeScreen')).length;
    await post(page, 'RESET_HOME');
    await waitFor(() => scripts.filter((x) => x.includes('resetToHomeScreen')).length > homes, 'the stop');
    const mark = readRecording(rec).length;
    const started = firstNotes(root);
    await post(page, `START_SONG_ID:${song}`);
    await waitFor(() => firstNotes(root) > started, `song ${song} playing`);
    await waitFor(() => readRecording(rec).slice(mark).filter(isClick).length >= 2, `two clicks of song ${song}`);
    const lines = readRecording(rec).slice(mark);
    const clicks = lines.filter(isClick);
    const firstClick = lines.indexOf(clicks[0]);
    // The run's start-up ends with the bass program (its module set-up, with a reset of its own,
    // comes before); then tick 0 opens with the song's reset of port 1, and no other reset follows
    // up to the second click: the reset of the port-2 track stays off port 1.
    const startUp = lines.slice(0, firstClick).map((l, i) => (l.bytes[0] === 0xC8 ? i : -1)).filter((i) => i >= 0).at(-1);
    const secondClick = lines.indexOf(clicks[1]);
    const songResets = lines.map((l, i) => (isGsReset(l) && i > startUp && i < secondClick ? i : -1)).filter((i) => i >= 0);
    assert.ok(startUp !== undefined, `song ${song}: the start-up's bass program`);
    assert.equal(songResets.length, 1, `song ${song}: resets of the song on port 1\n` +
                 lines.slice(startUp, secondClick + 1).map((l) => l.us + ' ' + l.bytes.map((b) => b.toString(16)).join(' ')).join('\n'));
    assert.ok(songResets[0] < firstClick, `song ${song}: its reset before the first click`);
    assert.equal(clicks[0].bytes[2], 100, `song ${song}: the first click is the accented one of tick 0`);
    const gap = (clicks[1].us - clicks[0].us) / 1000;
    report.push(`${song}: ${gap.toFixed(3)} ms (beat ${beatMs.toFixed(3)})`);
    assert.ok(Math.abs(gap - beatMs) <= 1, `song ${song}: clicks ${gap.toFixed(3)} ms apart, a beat is ${beatMs.toFixed(3)} ms`);
  }
  console.log('first two clicks: ' + report.join(', '));
});
