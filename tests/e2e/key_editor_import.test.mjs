// The singer key editor (ALT+K) on a playing song, and the imports of the older program's key
// file and settings file, picked through the test switch of the file dialog.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, recordAlerts, removeRoot, waitFor } from './program.mjs';

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

test('singer keys: the editor, the older key file and the older settings file',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-keys-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const pickSwitch = path.join(root, 'pick.txt');
  const pick = (file) => fs.writeFileSync(pickSwitch, file);
  pick('');
  const env = { TAVELO_MIDI_OUT: 'P1;P2', TAVELO_TEST_PICK_FILE: pickSwitch };
  const [song] = demoSongNumbers(root);
  const { page, scripts } = await openProgramPage(t, root, env);
  await waitFor(() => scripts.some((s) => s.startsWith('try{ initMonitorList(')), 'the end of the boot');
  const alerts = recordAlerts(page);

  // Without a song the editor refuses to open.
  await page.keyboard.press('Alt+KeyK');
  await waitFor(() => alerts.includes('곡을 먼저 선택해주세요.'), 'the refusal');
  assert.equal(await page.evaluate(() => keyEditorOpen), false);

  await post(page, `START_SONG_ID:${song}`);
  await waitFor(() => scripts.some((s) => s.includes(`setCurSongKeys(${song},`)), 'the song keys');
  await page.waitForFunction((id) => curKeySongId === id, song);
  await page.evaluate(() => { songLoaded = true; });  // what the song screen sets when it shows the song

  await page.keyboard.press('Alt+KeyK');
  const box = page.locator('#keyedit-overlay');
  await box.locator('text=🎹 남/여 키 설정 (ALT+K)').waitFor();
  const female = await page.evaluate(() => curKeyFemale);
  for (let i = 0; i < 20; i++) await page.keyboard.press('ArrowRight');
  assert.match(await page.locator('#keyedit-body').textContent(), /원키 : (\S+?)남자키 : \+12반음 → \1여자키/);
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowLeft');
  await page.keyboard.press('Enter');
  await box.waitFor({ state: 'hidden' });
  const userkey = path.join(root, 'system', 'userkey.txt');
  await waitFor(() => fs.existsSync(userkey) && fs.readFileSync(userkey, 'utf8').includes(`${song},12,${female - 1}\n`), 'the override');
  await page.waitForFunction((id) => userKeyIds[id] === 1, song);

  // The older key file: song 1 and 2 get keys; a second run skips them; an unreadable pick says so.
  const keys = path.join(root, 'USERKEY.CFG');
  fs.writeFileSync(keys, Buffer.from([0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 67, 0, 255, 0, 0, 0, 60, 0, 62, 0, 58, 0, 0, 0]));
  pick(keys);
  await page.keyboard.press('Alt+KeyK');
  await box.locator('button', { hasText: '옛 Quellor 키 불러오기' }).click();
  await waitFor(() => alerts.includes('2곡의 남/여 키를 불러왔습니다.'), 'the import result');
  assert.match(fs.readFileSync(userkey, 'utf8'), /^1,-5,99\n2,2,-2\n/);
  await page.keyboard.press('Alt+Digit0');
  await page.locator('#settings-overlay button', { hasText: '남/여 키 파일 고르기…' }).click();
  await waitFor(() => alerts.includes('0곡의 남/여 키를 불러왔습니다.\n\n이미 저장된 곡 2곳은 그대로 남겨두었습니다.'), 'the second import');
  pick(path.join(root, "it's missing.CFG"));
  await page.locator('#settings-overlay button', { hasText: '남/여 키 파일 고르기…' }).click();
  await waitFor(() => alerts.includes(`파일을 열지 못했습니다.\n\n${path.join(root, "it's missing.CFG")}`), 'the missing file');

  // The older settings file: volumes, equalizer and module, with the report.
  const cfg = path.join(root, "Quellor02's.CFG");
  fs.writeFileSync(cfg, "[Volume]\r\nnAssign_Volume_Melody = 3\r\nUserVolume_03 = 120\r\n[EQ]\r\nEqualizer_L = -12\r\n" +
                        "ModuleName = Boss 'SC-88 Pro'\r\nUserBassDRTone = 2\r\n");
  pick(cfg);
  await page.locator('#settings-overlay button', { hasText: '설정 파일 고르기…' }).click();
  const report = page.locator('#oldcfg-overlay');
  await report.locator('text=구프로그램 설정을 가져왔습니다').waitFor();
  const text = await page.locator('#oldcfg-body').textContent();
  assert.match(text, /F4 볼륨 → 멜로디 120%/);
  assert.match(text, /CTRL\+E EQ → 저음 -12dB\(200Hz\)/);
  assert.match(text, /모듈 → 1\/2포트 CS88Pro/);
  assert.match(fs.readFileSync(path.join(root, 'system', 'mixer.cfg'), 'utf8'), /120/);
  assert.match(fs.readFileSync(path.join(root, 'system', 'eq.cfg'), 'utf8'), /52/);
  await page.keyboard.press('Enter');
  await report.waitFor({ state: 'hidden' });
  assert.equal(await page.evaluate(() => settingsPanelOpen), true);

  // A file with nothing to take says so and changes nothing.
  fs.writeFileSync(cfg, '; nothing here\n');
  pick(cfg);
  await page.locator('#settings-overlay button', { hasText: '설정 파일 고르기…' }).click();
  await report.locator('text=가져오지 못했습니다').waitFor();
  assert.match(await page.locator('#oldcfg-body').textContent(), /이 파일에서는 가져올 수 있는 항목을 찾지 못했습니다/);
});
