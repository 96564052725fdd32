// The sax melody is audible: the sax demo song rendered through the built-in synthesizer with the
// melody expression on sounds different from the same song without it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, stopProgram, waitFor } from './program.mjs';

const soundFont = '/usr/share/sounds/sf2/TimGM6mb.sf2';
const kRate = 44100, kBlockMs = 50, kSkipSeconds = 5, kSeconds = 6;
const kSaxSong = 1011;

// Loudness per 50 ms block of the melody's first bars (after the one-bar introduction).
function envelope(raw) {
  const frames = Math.floor(raw.length / 4);
  let first = 0;
  while (first < frames && Math.abs(raw.readInt16LE(first * 4)) < 300) ++first;
  first += kSkipSeconds * kRate;
  const block = kRate * kBlockMs / 1000, out = [];
  for (let b = 0; b < kSeconds * 1000 / kBlockMs; b++) {
    let sum = 0;
    for (let f = first + b * block; f < first + (b + 1) * block && f < frames; f++) {
      const l = raw.readInt16LE(f * 4), r = raw.readInt16LE(f * 4 + 2);
      sum += l * l + r * r;
    }
    out.push(Math.sqrt(sum / block));
  }
  return out;
}

async function render(t, saxExpr) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-sax-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.mkdirSync(path.join(root, 'synth'));
  fs.symlinkSync(soundFont, path.join(root, 'synth', 'TimGM6mb.sf2'));
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   `builtinSynth=1\nleadInMode=0\nsaxExpr=${saxExpr}\nsaxGate=80\n`);
  const file = path.join(root, 'render.raw');
  const { child, page, frames } = await openProgramPage(t, root, { TAVELO_SYNTH_FILE: file });
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  const start = fs.existsSync(file) ? fs.statSync(file).size : 0;
  await page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${kSaxSong}`);
  // Until the song has sounded for a while.
  await waitFor(() => fs.existsSync(file) && fs.statSync(file).size > start + (kSkipSeconds + kSeconds + 3) * kRate * 4, 'the render', 30000);
  await stopProgram(child);
  return envelope(fs.readFileSync(file).subarray(start));
}

test('the sax melody expression changes the rendered sound of the sax demo song',
     { skip: (!demoTool && 'no demo library generator') || (!fs.existsSync(soundFont) && 'no SoundFont') },
     async (t) => {
  const plain = await render(t, 0);
  const sax = await render(t, 1);
  const total = plain.reduce((a, b) => a + b, 0);
  assert.ok(total > 0, 'the plain render sounds');
  const diff = plain.reduce((a, v, i) => a + Math.abs(v - sax[i]), 0) / total;
  t.diagnostic(`envelope difference ${(diff * 100).toFixed(1)} %`);
  assert.ok(diff > 0.12, `the expression changes the loudness envelope by ${(diff * 100).toFixed(1)} %`);
});
