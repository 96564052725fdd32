// What the program cannot take is said on the page: a song file that is too large or is no MIDI
// file is refused by name when a person starts it, and the page keeps answering.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readLog, removeRoot, waitFor } from './program.mjs';

const badge = (page) => page.evaluate(() => document.getElementById('test-audio-badge').innerText);

test('a song file too large or not MIDI is refused by name when started from the keyboard',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-refusals-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const rec = path.join(root, 'p1.rec');
  const { page } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec};P2=${rec}2` });
  await waitFor(() => page.evaluate(() => typeof songDb !== 'undefined' && songDb.length > 0), 'the song list');

  const cases = [
    { song: 1001, make: (file) => fs.truncateSync(file, 2 ** 31), // 2 GB, sparse
      why: '파일이 너무 큽니다: 2048 MB, 최대 64 MB' },
    { song: 1003, make: (file) => fs.writeFileSync(file, 'this is not a song'), why: 'MIDI 파일이 아닙니다' },
  ];
  for (const c of cases) {
    c.make(path.join(root, 'system', `P${c.song}.MID`));
    await page.keyboard.press('F1');
    for (const digit of String(c.song)) await page.keyboard.press(`Digit${digit}`);
    await waitFor(() => page.evaluate((n) => searchResults.length > 0 && searchResults[0].id === n, c.song), `${c.song} found`);
    await page.keyboard.press('Space');
    await page.keyboard.press('Escape');
    // The page's own guard against a double start holds Enter for a moment after the last start.
    await waitFor(() => page.evaluate(() => !startBusy()), 'the page ready for a start', 20000);
    await page.keyboard.press('Enter');
    const notice = `곡 파일을 읽을 수 없습니다: ${fs.realpathSync(root)}/system/P${c.song}.MID (${c.why})`;
    await waitFor(async () => (await badge(page)).includes(notice), notice);
    assert.ok(readLog(root).includes(notice), 'the log names it too');
    assert.equal(await page.evaluate(() => songLoaded), false, 'nothing plays');
  }
  assert.ok(!fs.existsSync(rec) || !fs.readFileSync(rec, 'utf8').split('\n').some((l) => / 9[0-9A-F] [0-9A-F]{2} [1-9A-F]/.test(l)),
            'no note was sent');
});
