// Song transitions over the running rhythm, in the real program on the recording MIDI device:
// RUNS (default 20) "NEXT_SONG_ID:" requests in a row over a one-bar style, each waiting for the
// next song to sound. Prints, for every transition, the offset of the next song's first note (the
// demo songs begin on a bar line) from the engine's nearest downbeat (its kick), and the engine's
// send-time error: how far each of its drum notes lies from the even grid of eighths its tempo
// gives (fitted between one song's first note and the next, where the tempo is constant), while
// the next songs were prepared and set up and elsewhere (median, p99, max), with the machine's
// load average.
//
//   node bench/transitions.mjs [RUNS]
// TAVELO_BIN names the program (default build/tavelo); build/tools/make_demo_root must be built.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
process.env.TAVELO_BIN ||= path.join(here, '..', 'build', 'tavelo');
const { demoSongNumbers, openProgramPage, waitFor } = await import('../tests/e2e/program.mjs');
const runs = Number(process.argv[2] || 20);

function vlq(n) {
  const out = [n & 0x7f];
  while ((n >>= 7)) out.unshift(0x80 | (n & 0x7f));
  return out;
}
function stylePart(events) {
  const ev = [];
  let last = 0;
  for (const [tick, ...bytes] of events) { ev.push(...vlq(tick - last), ...bytes); last = tick; }
  ev.push(...vlq(480 - last), 0xff, 0x2f, 0x00);
  const track = Buffer.from(ev);
  const len = Buffer.alloc(4);
  len.writeUInt32BE(track.length);
  return Buffer.concat([Buffer.from([0x4d, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 0, 0, 1, 0, 120]), Buffer.from('MTrk'), len, track]);
}
function readRecording(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
    const [us, , ...hex] = line.split(' ');
    return { ms: Number(us) / 1000, bytes: hex.filter((h) => /^[0-9A-F]{2}$/.test(h)).map((h) => parseInt(h, 16)) };
  });
}
const engineChannel = (ch) => ch === 6 || (ch >= 8 && ch <= 14);
const songNoteOn = (l) => (l.bytes[0] & 0xf0) === 0x90 && l.bytes[2] > 0 && !engineChannel(l.bytes[0] & 0x0f);
const isKick = (l) => l.bytes[0] === 0x99 && l.bytes[1] === 36 && l.bytes[2] > 0;
const isSilence = (l) => l.bytes[0] === 0xb0 && l.bytes[1] === 123;
function stats(values) {
  const v = [...values].sort((a, b) => a - b);
  if (!v.length) return 'no samples';
  const at = (q) => v[Math.min(v.length - 1, Math.floor(q * (v.length - 1)))];
  return `median ${at(0.5).toFixed(2)} ms, p99 ${at(0.99).toFixed(2)} ms, max ${v[v.length - 1].toFixed(2)} ms (${v.length})`;
}

const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-bench-transitions-'));
const cleanups = [];
const t = { after: (fn) => cleanups.push(fn) };
try {
  execFileSync(path.join(path.dirname(process.env.TAVELO_BIN), 'tools', 'make_demo_root'), [root], { stdio: 'ignore' });
  fs.mkdirSync(path.join(root, 'pxr'), { recursive: true });
  const main = [[0, 0x99, 36, 100], [0, 0x9b, 42, 80], [60, 0x89, 36, 0], [120, 0x9b, 42, 80], [240, 0x9b, 42, 80], [360, 0x9b, 42, 80]];
  const fill = [];
  for (let k = 0; k < 8; ++k) fill.push([k * 60, 0x99, 38, 100], [k * 60 + 30, 0x89, 38, 0]);
  for (const style of ['DS1', 'SG1']) {
    fs.writeFileSync(path.join(root, 'pxr', `${style}-P1.MID`), stylePart(main));
    fs.writeFileSync(path.join(root, 'pxr', `${style}-F1.MID`), stylePart(fill));
  }
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const rec = path.join(root, 'p1.rec');
  const songs = demoSongNumbers(root);
  const { page } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec};P2` });
  const post = (text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

  await post(`START_SONG_ID:${songs[0]}`);
  await waitFor(() => readRecording(rec).some(songNoteOn), 'the first song');
  await post('RHYTHM_STYLE:1');
  await waitFor(() => readRecording(rec).filter(isKick).length >= 6, 'six bars of the rhythm', 30000);

  const offsets = [];
  const windows = [];
  const starts = [];
  for (let i = 1; i <= runs; ++i) {
    const mark = readRecording(rec).length;
    const asked = readRecording(rec).at(-1)?.ms ?? 0;
    await post(`NEXT_SONG_ID:${songs[i % songs.length]}`);
    // (A note of the old song that crossed the silence is taken back at once: the next song
    // comes in at least a quarter second after it.)
    const first = await waitFor(() => {
      const a = readRecording(rec).slice(mark);
      const s = a.findIndex(isSilence);
      return s >= 0 && a.slice(s).find((l) => songNoteOn(l) && l.ms > a[s].ms + 50);
    }, `transition ${i}`, 30000);
    await waitFor(() => readRecording(rec).slice(mark).filter((l) => isKick(l) && l.ms > first.ms + 5).length >= 1, 'the next bar', 30000);
    const kicks = readRecording(rec).slice(mark).filter(isKick).map((l) => l.ms);
    const nearest = kicks.reduce((b, k) => (Math.abs(k - first.ms) < Math.abs(b - first.ms) ? k : b), Infinity);
    offsets.push(Math.abs(first.ms - nearest));
    windows.push([asked, first.ms]);
    starts.push(first.ms);
    console.log(`transition ${i}: first note ${(first.ms - nearest).toFixed(2)} ms from the downbeat`);
    await new Promise((r) => setTimeout(r, 2600));  // the page keeps requests 2.5 s apart
  }
  // The engine's drum notes (kick, hi-hat, the fill's snare) on the grid of eighths of each
  // stretch of constant tempo: from one song's first note to the next.
  const drums = readRecording(rec).filter((l) => (l.bytes[0] === 0x99 || l.bytes[0] === 0x9b) && l.bytes[2] > 0).map((l) => l.ms);
  // (From the rhythm's second beat on: its start over the playing song is not a steady state.)
  const bounds = [drums[0] + 1, ...starts.map((f) => f - 3), Infinity];
  const during = [], steady = [];
  for (let s = 0; s + 1 < bounds.length; ++s) {
    const seg = drums.filter((t) => t >= bounds[s] && t < bounds[s + 1]);
    if (seg.length < 8) continue;
    const gaps = seg.slice(1).map((t, i) => t - seg[i]).filter((g) => g > 20).sort((a, b) => a - b);
    const eighth = gaps.length ? gaps[Math.floor(gaps.length / 2)] / 2 : 0;  // the hi-hats' beat, halved
    if (!(eighth > 20)) continue;
    const ks = seg.map((t) => Math.round((t - seg[0]) / eighth));
    const n = seg.length, sk = ks.reduce((a, b) => a + b, 0), st = seg.reduce((a, b) => a + b, 0);
    const skk = ks.reduce((a, k) => a + k * k, 0), skt = ks.reduce((a, k, i) => a + k * seg[i], 0);
    const b = (n * skt - sk * st) / (n * skk - sk * sk), a = (st - b * sk) / n;
    seg.forEach((t, i) => {
      const error = Math.abs(t - (a + b * ks[i]));
      (windows.some(([from, to]) => t >= from && t <= to) ? during : steady).push(error);
    });
  }
  console.log(`first note from the downbeat: ${stats(offsets)}`);
  console.log(`engine send-time error, steady: ${stats(steady)}`);
  console.log(`engine send-time error, during setups: ${stats(during)}`);
  console.log(`load average: ${os.loadavg().map((l) => l.toFixed(2)).join(' ')} (${os.cpus().length} cpus)`);
} finally {
  for (const fn of cleanups.reverse()) await fn();
  fs.rmSync(root, { recursive: true, force: true });
}
