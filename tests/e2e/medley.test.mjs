// Medleys from the keyboard and the panel: ALT+[ and ALT+] collect a section of the playing song,
// ALT+D shows it, a name with forbidden characters is saved cleaned, the demo library's medley
// loads and saves under another name, a saved medley loads, and
// "▶ 지금 재생" plays its sections one after the other through the reservation queue.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, readLog, removeRoot, waitFor } from './program.mjs';


const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);
const runs = (root) => readLog(root).split('PlayMidiThread 시작').length - 1;
// Runs that reached their first note: the song plays and the marks take its bar.
const sounding = (root) => readLog(root).split('곡 첫 음 - 실제 재생 시작').length - 1;

test('a medley is collected while a song plays, saved, loaded and played section by section',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-medley-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const env = { TAVELO_MIDI_OUT: `P1=${path.join(root, 'p1.rec')};P2=${path.join(root, 'p2.rec')}` };
  const [first, second] = demoSongNumbers(root);
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  // Without a song the marks are refused.
  await page.keyboard.press('Alt+BracketLeft');
  await waitFor(() => scripts.some((s) => s.includes('곡을 재생하면서 찍어주세요')), 'the refusal');

  await post(page, `START_SONG_ID:${first}`);
  await waitFor(() => sounding(root) >= 1, 'the song');
  await page.keyboard.press('Alt+BracketRight');
  await waitFor(() => scripts.some((s) => s.includes('먼저 ALT+[ 로 시작 지점을 찍어주세요')), 'end before start refused');
  // The bars marked depend on how far the song got (a loaded machine is slow to press): the end
  // lies after the start, in the bar the jump went to or a later one.
  await page.keyboard.press('Alt+BracketLeft');
  const mark = await waitFor(() => /\[메들리\] 시작 마디 찍음: (\d+)/.exec(readLog(root)), 'the start mark');
  const startBar = Number(mark[1]);
  await post(page, 'JUMP_NEXT_MEASURE');
  await waitFor(() => sounding(root) >= 2, 'the jump');
  await page.keyboard.press('Alt+BracketRight');
  const section = await waitFor(() => new RegExp(`\\[메들리\\] 담음: ${first} ${startBar}~(\\d+)마디`).exec(readLog(root)), 'the section');
  const endBar = Number(section[1]);
  assert.ok(endBar > startBar, `section ${startBar}~${endBar}`);

  // ALT+D shows the section with the song's title, as text.
  await page.keyboard.press('Alt+KeyD');
  await waitFor(() => page.evaluate(() => medleyOpen && medleyList.length === 1), 'the panel with one item');
  const title = await page.evaluate((id) => dispTitle(songDb.find((s) => s.id === id)), first);
  assert.match(await page.evaluate(() => document.getElementById('medley-body').textContent), new RegExp(title));
  // The last (only) row has no fill button.
  assert.match(await page.evaluate(() => document.getElementById('medley-body').textContent), /—/);

  // Saved under a cleaned name, with the file's own format.
  await page.fill('#medley-name', 'My:Set?. ');
  await page.click('#medley-foot button:has-text("저장")');
  const saved = path.join(root, 'medley', 'MySet.mdl');
  await waitFor(() => fs.existsSync(saved), 'MySet.mdl');
  assert.equal(fs.readFileSync(saved, 'utf8'),
               `\uFEFF#MDL1\r\nitem=${first}|${startBar - 1}|${endBar - 1}|0|0|0|1|${await page.evaluate((id) => songDb.find((s) => s.id === id).title, first)}\r\n`);

  // The demo library's own medley is listed, loads with its three sections and saves under another
  // name.
  await post(page, 'MEDLEY_LIST');
  await waitFor(() => page.evaluate(() => medleyFiles.includes('데모 메들리')), 'the demo medley listed');
  await page.click('#medley-body button:has-text("데모 메들리")');
  await waitFor(() => page.evaluate(() => medleyList.length === 3 && medleyName === '데모 메들리'), 'the demo medley loaded');
  await page.fill('#medley-name', '세 곡');
  await page.click('#medley-foot button:has-text("저장")');
  const copy = path.join(root, 'medley', '세 곡.mdl');
  await waitFor(() => fs.existsSync(copy), '세 곡.mdl');
  assert.equal(fs.readFileSync(copy, 'utf8'), fs.readFileSync(path.join(root, 'medley', '데모 메들리.mdl'), 'utf8'));

  // A two-section medley file loads from its button and plays: the first section ends at its bar
  // and the page asks for the next item, which plays from its own bar.
  fs.writeFileSync(path.join(root, 'medley', '두곡.mdl'),
                   `\uFEFF#MDL1\r\nitem=${second}|1|1|0|2|0|1|둘\r\nitem=${first}|2|2|0|0|0|1|하나\r\n`);
  await post(page, 'MEDLEY_LIST');
  await waitFor(() => page.evaluate(() => medleyFiles.includes('두곡')), 'the file list');
  await page.click('#medley-body button:has-text("두곡")');
  await waitFor(() => page.evaluate(() => medleyList.length === 2 && medleyName === '두곡'), 'the loaded medley');
  const before = runs(root);
  await page.click('#medley-foot button:has-text("지금 재생")');
  await waitFor(() => new RegExp(`\\[메들리\\] 재생 시작 - 모두 2곡, 1번째 곡 ${second} 2~2마디`).test(readLog(root)), 'the start');
  await waitFor(async () => JSON.stringify(await page.evaluate(() => reservedQueue.map((r) => r.id))) === JSON.stringify([first]),
                'the second item waiting in the queue');
  await waitFor(() => scripts.some((s) => s.includes('handleMedleyEnd()')), 'the section end', 30000);
  await waitFor(() => new RegExp(`\\[메들리\\] 2/2 곡 ${first} 3~3마디`).test(readLog(root)), 'the second item', 30000);
  await waitFor(() => runs(root) >= before + 2, 'the second song');
  assert.match(readLog(root), new RegExp(`\\[WM\\] NEXT_SONG_ID:${first}:0:0:0|NEXT_SONG_ID:${first}`));
});
