// The rhythm-pattern editor on the demo library: ALT+7 opens DS1, a snare hit at bar 1 step 3 and
// Ctrl+S save the row (a new track in the part file, with "_orig" and "_bak" copies), Ctrl+B brings
// back the last saved file and Ctrl+R the original, a held Enter toggles once, and closing or
// switching styles with unsaved edits needs a second press. Then, with the engine playing DS1,
// ALT+7 opens DS1 whatever was opened last, and a saved hit sounds from the engine's next bar line.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readRecording, removeRoot, waitFor } from './program.mjs';
import { readMidiFile } from './smf.mjs';

const skip = !demoTool && 'no demo library generator';

// The demo library on recording devices, the page open with every posted editor command noted.
async function openDemo(t, settings = '') {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-red-'));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\n' + settings);
  const rec = path.join(root, 'p1.rec');
  const env = { TAVELO_MIDI_OUT: `P1=${rec};P2=${path.join(root, 'p2.rec')}` };
  const { page, frames, scripts } = await openProgramPage(t, root, env);
  t.after(() => removeRoot(root));
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await page.evaluate(() => {
    window.__sent = [];
    const send = redSend;
    redSend = (c) => { window.__sent.push(c); send(c); };
  });
  return { root, rec, page, scripts };
}

const opened = (page, style) => waitFor(() => page.evaluate((st) => redOpen && redStyle === st && redGrid.length === 6 &&
                                                                    redGrid[0].ok === 1, style), style + ' opened');
const message = (page, re) => waitFor(() => page.evaluate((src) => new RegExp(src).test(redMsg), re.source), re.source);

test('ALT+7 edits, saves and restores a part of DS1, and the playing engine takes a save', { skip }, async (t) => {
  // 240 bpm: a one-bar pattern of the engine lasts a second.
  const { root, rec, page, scripts } = await openDemo(t, 'cvtFixedBpm=240\n');
  const part = path.join(root, 'pxr', 'DS1-P1.MID');
  const before = fs.readFileSync(part);

  await page.keyboard.press('Alt+Digit7');
  await opened(page, 'DS1');
  assert.ok(fs.existsSync(path.join(root, 'pxr', '_orig', 'DS1-P1.MID')));
  assert.match(await page.evaluate(() => document.getElementById('red-panel').textContent), /리듬 편집 - 디스코1 \(DS1 · ALT\+7\)/);

  // Row 2 is the snare; the third cell of bar 1.
  for (const k of ['ArrowDown', 'ArrowRight', 'ArrowRight', 'Enter']) await page.keyboard.press(k);
  await page.keyboard.press('Escape');
  assert.match(await page.evaluate(() => document.getElementById('red-msg').textContent), /저장하지 않은 편집이 있습니다/);
  assert.equal(await page.evaluate(() => redOpen), true);
  await page.keyboard.press('Control+KeyS');
  await message(page, /DS1-P1.MID 저장했습니다/);
  assert.deepEqual((await page.evaluate(() => __sent)).filter((m) => m.startsWith('RED_SAVE:')), ['RED_SAVE:0\t10=2.37.110.60|4.38.110.60|12.38.110.60']);
  const snare = readMidiFile(fs.readFileSync(part)).events.filter((e) => e.status === 0x9a && e.data2 > 0);
  assert.deepEqual(snare.map((e) => [e.tick, e.data1]), [[240, 37], [480, 38], [1440, 38]]);
  assert.deepEqual(fs.readFileSync(path.join(root, 'pxr', '_bak', 'DS1-P1.MID')), before);
  assert.equal(await page.evaluate(() => redGrid[0].rows[1].dirty), false);

  // The percussion row shows its off-grid hit; Q plays the pattern (the kick on channel 10 of the
  // engine rows, 0x99) and Q again stops it.
  await page.evaluate(() => { redRow = 3; renderRedEditor(); });
  assert.match(await page.evaluate(() => document.getElementById('red-panel').textContent), /격자에서 벗어난 타점이 1개/);
  const kicks = () => (fs.existsSync(rec) ? fs.readFileSync(rec, 'utf8').match(/ 99 24 [0-9A-F]{2}/g) || [] : []).length;
  for (let i = 0; i < 20; i++) await page.keyboard.press('PageUp');
  await page.keyboard.press('KeyQ');
  await waitFor(() => kicks() >= 2, 'the preview');
  await page.keyboard.press('KeyQ');
  await waitFor(() => page.evaluate(() => !redPlaying), 'the preview stopped');
  assert.equal(await page.evaluate(() => __sent.filter((m) => /^RED_(BPM:220|PREVIEW:0|STOP)$/.test(m)).length), 3);

  // A second save (the rim shot taken out again) leaves the first one in "_bak".
  const saved = fs.readFileSync(part);
  for (const k of ['ArrowUp', 'ArrowUp', 'Enter']) await page.keyboard.press(k);
  await page.keyboard.press('Control+KeyS');
  await waitFor(() => page.evaluate(() => __sent.filter((m) => m.startsWith('RED_SAVE:')).length === 2 && /저장했습니다/.test(redMsg) &&
                                          !redGrid[0].rows[1].dirty), 'the second save');
  assert.deepEqual(fs.readFileSync(path.join(root, 'pxr', '_bak', 'DS1-P1.MID')), saved);
  assert.notDeepEqual(fs.readFileSync(part), saved);

  // Ctrl+B brings back the last saved file, Ctrl+R the one the editor first opened.
  await page.keyboard.press('Control+KeyB');
  await message(page, /직전 저장분으로 되돌렸습니다/);
  assert.deepEqual(fs.readFileSync(part), saved);
  assert.equal(await page.evaluate(() => redGrid[0].rows[1].map[2].p), 37);
  await page.keyboard.press('Control+KeyR');
  await message(page, /원본으로 되돌렸습니다/);
  assert.deepEqual(fs.readFileSync(part), before);
  assert.equal(await page.evaluate(() => redGrid[0].rows[1].map[2]), undefined);
  assert.deepEqual((await page.evaluate(() => __sent)).filter((m) => m.startsWith('RED_RESTORE:')), ['RED_RESTORE:0\t1', 'RED_RESTORE:0\t0']);

  // A held Enter (its repeat) toggles the cell once; with that unsaved edit, style 2 needs a
  // second press.
  const hits = await page.evaluate(() => __sent.filter((m) => m.startsWith('RED_HIT:')).length);
  for (let i = 0; i < 3; i++) await page.keyboard.down('Enter');
  await page.keyboard.up('Enter');
  assert.deepEqual(await page.evaluate(() => [redGrid[0].rows[1].map[2].p, __sent.filter((m) => m.startsWith('RED_HIT:')).length]),
                   [37, hits + 1]);
  await page.keyboard.press('Digit2');
  assert.match(await page.evaluate(() => document.getElementById('red-msg').textContent), /그래도 2번으로 바꾸려면 한 번 더/);
  assert.equal(await page.evaluate(() => redStyle + ' ' + __sent.filter((m) => m.startsWith('RED_OPEN:')).length), 'DS1 1');
  await page.keyboard.press('Digit2');
  await opened(page, 'DS2');
  assert.deepEqual(fs.readFileSync(part), before);
  await page.keyboard.press('Escape');
  await waitFor(() => page.evaluate(() => !redOpen), 'closed');

  // The engine plays DS1: ALT+7 opens DS1, though DS2 was opened last.
  await page.evaluate(() => window.chrome.webview.postMessage('RHYTHM_STYLE:1'));
  await waitFor(() => scripts.some((s) => s.includes("setRhythmUi('DS1',1,true")), 'the engine on DS1');
  await page.keyboard.press('Alt+Digit7');
  await opened(page, 'DS1');

  // A rim shot (channel 10, note 37) on the third sixteenth of the bar; the engine has none yet.
  const rims = (from) => readRecording(rec).slice(from).filter((l) => l.bytes[0] === 0x9a && l.bytes[1] === 37 && l.bytes[2] > 0);
  const audition = readRecording(rec).length;
  for (const k of ['ArrowDown', 'ArrowRight', 'ArrowRight', 'Enter']) await page.keyboard.press(k);
  await waitFor(() => rims(audition).length === 1, 'the audition');
  await page.keyboard.press('Control+KeyS');
  await message(page, /DS1-P1.MID 저장했습니다/);
  const mark = readRecording(rec).length;
  await waitFor(() => rims(mark).length >= 2, 'the saved hit from the engine', 15000);

  // Bar lines: the bass C on the first sixteenth. The first rim shot lies an eighth of a bar
  // after the first or second bar line past the save, and the next one a bar later.
  const lines = readRecording(rec);
  const bars = lines.slice(mark).filter((l) => l.bytes[0] === 0x98 && l.bytes[1] === 36 && l.bytes[2] > 0).map((l) => l.us / 1000);
  const [first, second] = rims(mark).map((l) => l.us / 1000);
  const bar = bars.filter((b) => b <= first).at(-1);
  assert.ok(bar !== undefined && bars.indexOf(bar) <= 1, `bar lines ${bars} first hit ${first}`);
  assert.ok(Math.abs(first - bar - 125) <= 8, `${first - bar} ms after the bar line`);
  assert.ok(Math.abs(second - first - 1000) <= 8, `${second - first} ms between bars`);
});
