// The help panel with help.txt (created when missing, a byte-order mark, an older editor's
// code page) and the quit confirmation of the stop button against the real program.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, removeRoot, waitFor } from './program.mjs';

test('help text and quit confirmation', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-help-'));
  t.after(() => removeRoot(root));
  const { child, page, scripts } = await openProgramPage(t, root);
  await waitFor(() => scripts.some((s) => s.startsWith('try{ initMonitorList(')), 'the end of the boot');

  // help.txt is created with a byte-order mark and the built-in text, which the panel shows.
  const help = path.join(root, 'system', 'help.txt');
  assert.deepEqual([...fs.readFileSync(help).subarray(0, 3)], [0xef, 0xbb, 0xbf]);
  const panel = page.locator('#help-panel');
  await waitFor(async () => (await panel.textContent()).startsWith('[ Tavelo 도움말 ]'), 'the default help');
  assert.match(await panel.textContent(), /ALT\+K {5}남\/여 키 설정/);

  // An edit in an older editor's code page shows after F12 hides and shows the panel again.
  fs.writeFileSync(help, Buffer.from([0xb0, 0xa1, 0x20, 0x3c, 0x62, 0x3e, 0x0d, 0x0a, 0x0d, 0x0a, 0x41]));
  await page.keyboard.press('F12');
  assert.equal(await panel.isVisible(), false);
  await page.keyboard.press('F12');
  await waitFor(async () => (await panel.textContent()).startsWith('가 <b>'), 'the edited help');
  assert.equal(await page.evaluate(() => helpLines.length), 3);
  assert.equal(await panel.locator('b').count(), 0);
  fs.writeFileSync(help, '\ufeffBOM 첫 줄\n');
  await page.keyboard.press('F12');
  await page.keyboard.press('F12');
  await waitFor(async () => (await panel.textContent()).startsWith('BOM 첫 줄'), 'the BOM help');
  assert.equal(await page.evaluate(() => helpLines[0]), 'BOM 첫 줄');

  // Layout: a long line is squeezed into its column; many lines make pages turned by click; a
  // narrow window gets one column.
  await page.evaluate(() => initHelpText(['x'.repeat(300)].concat(Array.from({ length: 400 }, (_, i) => i % 9 ? '줄 ' + i : '')), 20, 9));
  assert.match(await page.evaluate(() => document.querySelector('#help-panel .help-row').style.transform), /^scaleX\(0\.\d+\)$/);
  const pager = page.locator('#help-panel .help-pager');
  assert.match(await pager.textContent(), /^◀1 \/ \d+▶$/);
  await panel.click({ position: { x: 5, y: 5 } });
  assert.match(await pager.textContent(), /^◀2 \//);
  await page.setViewportSize({ width: 500, height: 700 });
  await page.waitForFunction(() => document.querySelector('#help-panel > div').style.columnCount === '1');
  await page.setViewportSize({ width: 1280, height: 720 });

  // The stop button asks; N, Escape and Enter keep the program running.
  const quit = page.locator('#quit-confirm');
  for (const key of ['n', 'Escape', 'Enter']) {
    await page.click('button[title^="종료 (ALT+X)"]');
    await quit.locator('text=프로그램을 종료할까요?').waitFor();
    await page.keyboard.press(key);
    await quit.waitFor({ state: 'hidden' });
  }
  await page.click('button[title^="종료 (ALT+X)"]');
  await quit.locator('button', { hasText: '아니오 (N)' }).click();
  await quit.waitFor({ state: 'hidden' });
  await new Promise((r) => setTimeout(r, 300));
  assert.equal(child.exitCode, null);

  // "예 (Y)" ends the program with exit code 0.
  const ended = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
  await page.click('button[title^="종료 (ALT+X)"]');
  await quit.locator('button', { hasText: '예 (Y)' }).click();
  assert.equal(await ended, 0);
});
