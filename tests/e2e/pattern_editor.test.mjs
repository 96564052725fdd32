// The rhythm-pattern editor on the demo library: ALT+7 opens DS1, a snare hit at bar 1 step 3 and
// Ctrl+S save the row (a new track in the part file, with "_orig" and "_bak" copies), Ctrl+B
// brings the file back, and Escape with unsaved edits needs a second press.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { bin, openProgramPage, sourceDir, waitFor } from './program.mjs';
import { readMidiFile } from './smf.mjs';

const demoTool = [path.join(sourceDir, 'tools', 'make-demo-root'),
                  path.join(path.dirname(bin), 'tools', 'make_demo_root')].find((p) => fs.existsSync(p));

test('ALT+7 edits, saves and restores a part of DS1', { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-red-'));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  const part = path.join(root, 'pxr', 'DS1-P1.MID');
  const before = fs.readFileSync(part);
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\n');
  const rec = path.join(root, 'p1.rec');
  const env = { TAVELO_MIDI_OUT: `P1=${rec};P2=${path.join(root, 'p2.rec')}` };
  const { page, frames } = await openProgramPage(t, root, env);
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));  // after the program has stopped
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await page.evaluate(() => {
    window.__sent = [];
    const send = redSend;
    redSend = (c) => { window.__sent.push(c); send(c); };
  });

  await page.keyboard.press('Alt+Digit7');
  await waitFor(() => page.evaluate(() => redOpen && redStyle === 'DS1' && redGrid.length === 6 && redGrid[0].ok === 1), 'DS1 opened');
  assert.ok(fs.existsSync(path.join(root, 'pxr', '_orig', 'DS1-P1.MID')));
  assert.match(await page.evaluate(() => document.getElementById('red-panel').textContent), /리듬 편집 - .*DS1/);

  // Row 2 is the snare; the third cell of bar 1.
  for (const k of ['ArrowDown', 'ArrowRight', 'ArrowRight', 'Enter']) await page.keyboard.press(k);
  await page.keyboard.press('Escape');
  assert.match(await page.evaluate(() => document.getElementById('red-msg').textContent), /저장하지 않은 편집이 있습니다/);
  assert.equal(await page.evaluate(() => redOpen), true);
  await page.keyboard.press('Control+KeyS');
  await waitFor(() => page.evaluate(() => /DS1-P1.MID 저장했습니다/.test(redMsg)), 'the save');
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

  await page.keyboard.press('Control+KeyB');
  await waitFor(() => page.evaluate(() => /직전 저장분으로 되돌렸습니다/.test(redMsg)), 'the restore');
  assert.deepEqual(fs.readFileSync(part), before);
  await page.keyboard.press('Escape');
  await waitFor(() => page.evaluate(() => !redOpen), 'closed');
});
