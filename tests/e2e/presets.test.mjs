// The preset dialogs of the page against the real program: slot info, the base-save confirmation,
// the slot chooser, loading, and the files they write.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, removeRoot, waitFor } from './program.mjs';

test('preset dialogs: an empty slot, then saving the base and loading it back', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-preset-'));
  t.after(() => removeRoot(root));
  fs.mkdirSync(path.join(root, 'system'), { recursive: true });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'saxGate=93\nport1Device=Here\n');

  const { page, scripts } = await openProgramPage(t, root);
  await waitFor(() => scripts.some((s) => s.startsWith('try{ initMonitorList(')), 'the end of the boot');

  // Slot info from the program: all six empty.
  await page.evaluate(() => window.chrome.webview.postMessage('PRESET_INFO'));
  await page.waitForFunction(() => Array.isArray(presetInfo) && presetInfo.length === 6);
  assert.equal(await page.evaluate(() => presetHasData(1)), false);

  // Loading an empty slot shows the "empty" result at once and sends nothing.
  await page.evaluate(() => presetLoad(3));
  const result = page.locator('#preset-result-overlay');
  await result.locator('text=저장된 설정이 없습니다').waitFor();
  assert.equal(await result.locator('.preset-result-slot').textContent(), '3번');
  await page.keyboard.press('Escape');
  await result.waitFor({ state: 'hidden' });

  // Base save: confirmation, Y, then the program's result dialog and the preset file.
  await page.evaluate(() => presetSaveBase());
  const dialog = page.locator('#preset-dialog-overlay');
  await dialog.locator('text=기본 설정 덮어쓰기').waitFor();
  await page.keyboard.press('y');
  await dialog.waitFor({ state: 'hidden' });
  await result.locator('text=기본 설정을 갱신했습니다').waitFor();
  assert.equal(await result.locator('.preset-result-slot').textContent(), '1번 (기본)');
  assert.match(await result.locator('.preset-result-when').textContent(), /^\d{4}-\d\d-\d\d \d\d:\d\d$/);
  await page.keyboard.press('Enter');
  await result.waitFor({ state: 'hidden' });
  assert.equal(await page.evaluate(() => presetHasData(1)), true);
  const base = fs.readFileSync(path.join(root, 'presets', 'p1.cfg'), 'utf8');
  assert.match(base, /\n\[app\]\n[^[]*saxGate=93\n/);
  assert.doesNotMatch(base, /port1Device=/);

  // The slot chooser writes slot 4; loading it shows "load" and the program answers with the info.
  await page.evaluate(() => presetSaveHist());
  await dialog.locator('text=현재설정 저장').waitFor();
  await page.keyboard.press('4');
  await result.locator('text=현재 설정을 저장했습니다').waitFor();
  await page.keyboard.press('Enter');
  assert.ok(fs.existsSync(path.join(root, 'presets', 'p4.cfg')));
  await page.waitForFunction(() => presetHasData(4));
  await page.evaluate(() => presetLoad(4));
  await result.locator('text=설정을 불러왔습니다').waitFor();
  await waitFor(() => scripts.some((s) => s.startsWith('try{ initAppSettings(')), 'the settings replay');
  const app = fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8');
  assert.match(app, /saxGate=93\n/);
  assert.match(app, /port1Device=Here\nport2Device=\n$/);  // this computer's devices kept, at the end
});
