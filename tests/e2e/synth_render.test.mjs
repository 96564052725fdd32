// A whole demo song through the built-in synthesizer: FluidSynth's "file" driver renders what the
// player sends, and the sounding part of the audio lasts as long as the song's notes do.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, readLog, removeRoot, stopProgram, waitFor } from './program.mjs';
import { readMidiFile, tempoMapMs } from './smf.mjs';

const soundFont = '/usr/share/sounds/sf2/TimGM6mb.sf2';
const kRate = 44100;

// Milliseconds from the song's first note-on to its last note-off on the sound ports.
function noteSpanMs(midi) {
  const notes = midi.events.filter((e) => (e.status & 0xE0) === 0x80);
  const ms = tempoMapMs(midi);
  return ms(notes[notes.length - 1].tick) - ms(notes[0].tick);
}

// First and last audio frame (stereo 16-bit) louder than `level`, in milliseconds.
function soundingSpanMs(raw, level) {
  const frames = Math.floor(raw.length / 4);
  const loud = (f) => Math.abs(raw.readInt16LE(f * 4)) > level || Math.abs(raw.readInt16LE(f * 4 + 2)) > level;
  let first = 0, last = frames - 1;
  while (first < frames && !loud(first)) ++first;
  while (last > first && !loud(last)) --last;
  return { first: first * 1000 / kRate, last: last * 1000 / kRate, frames };
}

test('a whole demo song renders through the built-in synthesizer for as long as the song lasts',
     { skip: (!demoTool && 'no demo library generator') || (!fs.existsSync(soundFont) && 'no SoundFont') },
     async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-synth-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.mkdirSync(path.join(root, 'synth'));
  fs.symlinkSync(soundFont, path.join(root, 'synth', 'TimGM6mb.sf2'));
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'builtinSynth=1\nleadInMode=0\n');
  const render = path.join(root, 'render.raw');

  // The shortest demo song keeps the test short.
  const songs = demoSongNumbers(root).map((n) => {
    const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${n}.MID`)));
    return { n, span: noteSpanMs(midi) };
  }).sort((a, b) => a.span - b.span);
  const song = songs[0];

  const { child, page, scripts, frames } = await openProgramPage(t, root, { TAVELO_SYNTH_FILE: render });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${song.n}`);
  await waitFor(() => scripts.some((s) => s.includes('handleSongNaturalEnd()')), 'the natural end',
                song.span + 60000);
  await new Promise((r) => setTimeout(r, 1500));  // the last notes' release
  await stopProgram(child);

  const raw = fs.readFileSync(render);
  // Loud enough to leave out the reverb's fading tail, soft enough to catch a single note.
  const span = soundingSpanMs(raw, 600);
  assert.ok(span.frames > kRate, 'audio was rendered');
  assert.ok(span.last > span.first, 'the audio is not silent');
  const sounding = span.last - span.first;
  assert.ok(Math.abs(sounding - song.span) < 1000,
            `sounding ${(sounding / 1000).toFixed(2)} s for a song of ${(song.span / 1000).toFixed(2)} s`);

  // The song's first note, the count-in click of tick 0 right after its resets settle, sounds: the
  // audio (on the wall clock from the synthesizer's start) begins within the song's first beat.
  const at = (text) => {
    const m = new RegExp('\\[(\\d+):(\\d+):(\\d+)\\.(\\d+)\\] [^\\n]*' + text).exec(readLog(root));
    return m && ((Number(m[1]) * 60 + Number(m[2])) * 60 + Number(m[3])) * 1000 + Number(m[4]);
  };
  const synthStart = at('내장음원\\(FluidSynth\\) 가동'), firstNote = at('곡 첫 음 - 실제 재생 시작');
  assert.ok(synthStart !== null && firstNote !== null, 'the log times');
  const late = span.first - (firstNote - synthStart);
  console.log(`first sound ${late.toFixed(1)} ms after the song's first note`);
  assert.ok(late > -100 && late < 300, `the first sound ${late.toFixed(1)} ms after the song's first note`);
});
