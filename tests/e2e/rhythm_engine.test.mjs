// The rhythm engine in the real program on recording MIDI devices: a style chosen on the page
// loops on the engine channels at the fixed rhythm tempo, bar lines on time; the panel hears of
// it; switching it off silences the engine channels.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, readRecording, removeRoot, waitFor } from './program.mjs';

function vlq(n) {
  const out = [n & 0x7f];
  while ((n >>= 7)) out.unshift(0x80 | (n & 0x7f));
  return out;
}

// One bar at 120 ticks a quarter: a kick on beat 1, a hi-hat on every beat, a bass C on beat 1.
function styleFile() {
  const ev = [];
  let last = 0;
  const at = (tick, ...bytes) => { ev.push(...vlq(tick - last), ...bytes); last = tick; };
  at(0, 0xc8, 33);
  at(0, 0x99, 36, 100); at(0, 0x9b, 42, 80); at(0, 0x98, 36, 90);
  at(60, 0x89, 36, 0); at(60, 0x8b, 42, 0);
  for (const beat of [120, 240, 360]) { at(beat, 0x9b, 42, 80); at(beat + 60, 0x8b, 42, 0); }
  at(470, 0x88, 36, 0);
  at(480, 0xff, 0x2f, 0x00);
  const track = Buffer.from(ev);
  const head = Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 120]);
  const len = Buffer.alloc(4);
  len.writeUInt32BE(track.length);
  return Buffer.concat([head, Buffer.from('MTrk'), len, track]);
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

test('style 1 loops on the engine channels at the fixed tempo and stops on RHYTHM_OFF', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-rhythm-'));
  t.after(() => removeRoot(root));
  fs.mkdirSync(path.join(root, 'system'), { recursive: true });
  fs.mkdirSync(path.join(root, 'pxr'), { recursive: true });
  fs.writeFileSync(path.join(root, 'pxr', 'ds1-p1.mid'), styleFile());  // found whatever the case
  // 240 bpm: a bar every second. The module's effects and outputs are set up before the style plays.
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   'port1Device=P1\nport2Device=P2\ncvtFixedBpm=240\nreverbLevel=90\nmoduleTonePreset=1\noutputMode=4\n');
  fs.mkdirSync(path.join(root, 'system', 'system-exclive'), { recursive: true });
  const proSet = [0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x05, 0x0A, 0xF7];  // reverb character 5
  fs.writeFileSync(path.join(root, 'system', 'system-exclive', 'A-ProSet.syx'), Buffer.from(proSet));
  const rec1 = path.join(root, 'p1.rec');
  const { page, scripts } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec1};P2` });

  const mark = readRecording(rec1).length;
  await post(page, 'RHYTHM_STYLE:1');
  await waitFor(() => scripts.some((s) => s.includes("setRhythmUi('DS1',1,true,false,false,false)")), 'the panel update');
  const kicks = () => readRecording(rec1).filter((l) => l.bytes[0] === 0x99 && l.bytes[1] === 36 && l.bytes[2] > 0);
  await waitFor(() => kicks().length >= 3, 'three bars of kicks', 15000);
  const k = kicks().map((l) => l.us / 1000);
  for (let i = 1; i < k.length; ++i) assert.ok(Math.abs(k[i] - k[i - 1] - 1000) <= 5, `bar ${i}: ${k[i] - k[i - 1]} ms`);
  const lines = readRecording(rec1);
  // Before the first note: the set-up file, the reverb level, the chorus and port 1's second
  // output for bass and kick (a GS parameter is F0 41 10 42 12 40 a b value checksum F7).
  const firstNote = lines.findIndex((l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0);
  const gs = (a, b, v) => lines.slice(mark, firstNote).findIndex((l) => l.bytes[0] === 0xF0 && l.bytes[5] === 0x40 &&
                                                                    l.bytes[6] === a && l.bytes[7] === b && l.bytes[8] === v);
  for (const [a, b, v] of [[0x01, 0x30, 5], [0x01, 0x33, 90], [0x01, 0x38, 2], [0x49, 0x21, 2], [0x40, 0x21, 3]])
    assert.ok(gs(a, b, v) >= 0, `GS 40 ${a} ${b} = ${v} before the first note`);
  // The bass plays its program and follows no chord (none loaded): C stays C.
  assert.ok(lines.some((l) => l.bytes[0] === 0xc8 && l.bytes[1] === 33));
  assert.ok(lines.some((l) => l.bytes[0] === 0x98 && l.bytes[1] === 36));
  // Hi-hats on every beat: four times as many as kicks, a quarter bar apart.
  const hats = lines.filter((l) => l.bytes[0] === 0x9b && l.bytes[2] > 0).map((l) => l.us / 1000);
  for (let i = 1; i < hats.length; ++i) assert.ok(Math.abs(hats[i] - hats[i - 1] - 250) <= 5, `beat ${i}`);

  await post(page, 'RHYTHM_OFF');
  await waitFor(() => scripts.some((s) => s.includes('updateCvtBadge(false)')), 'the stop');
  await waitFor(() => readRecording(rec1).some((l) => l.bytes[0] === 0xb9 && l.bytes[1] === 123), 'all notes off');
  const stoppedAt = readRecording(rec1).length;
  await new Promise((r) => setTimeout(r, 600));
  const after = readRecording(rec1).slice(stoppedAt);
  assert.ok(!after.some((l) => (l.bytes[0] & 0xf0) === 0x90 && l.bytes[2] > 0), 'no note after the stop');
});
