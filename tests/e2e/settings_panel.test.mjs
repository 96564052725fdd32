// The settings panel (ALT+0) against the real program: the commands it sends on opening, its
// keyboard walk, rows that store their setting across a restart, font files of the fonts folder,
// and the page's own layout settings coming back through applyEnvSettings.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, removeRoot, stopProgram, waitFor } from './program.mjs';
import { tinyHangulFont } from './tiny_font.mjs';

// Records every command the page sends from now on.
const recordSent = (page) => page.evaluate(() => {
  window.__sent = [];
  const send = window.chrome.webview.postMessage;
  window.chrome.webview.postMessage = (m) => { window.__sent.push(m); send(m); };
});
const sent = (page) => page.evaluate(() => window.__sent.slice());
const bootDone = (scripts) => waitFor(() => scripts.some((s) => s.startsWith('try{ initMonitorList(')), 'the end of the boot');
const appSettings = (root) => fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8');

test('settings panel: opening, keys, stored rows and font files', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-settings-'));
  t.after(() => removeRoot(root));
  fs.mkdirSync(path.join(root, 'fonts'), { recursive: true });
  fs.writeFileSync(path.join(root, 'fonts', '<img src=x onerror=alert(1)>.ttf'), 'not a font');
  fs.writeFileSync(path.join(root, 'fonts', '작은 글꼴.ttf'), tinyHangulFont());

  const { child, page, scripts } = await openProgramPage(t, root);
  await bootDone(scripts);
  await recordSent(page);
  let dialogs = 0;
  page.on('dialog', (d) => { dialogs++; d.dismiss(); });

  // ALT+0 opens the panel and asks for presets, fonts and the MIDI status, in that order.
  await page.keyboard.press('Alt+Digit0');
  await page.locator('#settings-overlay').waitFor();
  assert.deepEqual(await sent(page), ['PRESET_INFO', 'LIST_FONTS', 'MIDI_STATUS']);
  await page.waitForFunction(() => presetInfo.length === 6 && customFontList.length >= 1);

  // The odd font file name lists as text, never as markup.
  const options = await page.locator('#settings-overlay select option').allTextContents();
  assert.ok(options.includes('📁 <img src=x onerror=alert(1)>.ttf'), options.join('|'));
  assert.equal(await page.locator('#settings-overlay img').count(), 0);

  // The keyboard walk: Right/Left, PgDn/PgUp by ten, End/Home; empty preset slots are skipped.
  const count = await page.evaluate(() => setItems().length);
  assert.equal(await page.evaluate(() => setItems().filter((el) => el.disabled).length), 0);
  assert.equal(await page.evaluate(() => document.querySelectorAll('#settings-overlay button[disabled]').length), 6);
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('ArrowLeft');
  assert.equal(await page.evaluate(() => setSelIdx), 1);
  await page.keyboard.press('PageDown');
  assert.equal(await page.evaluate(() => setSelIdx), 11);
  await page.keyboard.press('PageUp');
  assert.equal(await page.evaluate(() => setSelIdx), 1);
  await page.keyboard.press('End');
  assert.equal(await page.evaluate(() => setSelIdx), count - 1);
  assert.equal(await page.evaluate(() => setItems()[setSelIdx].style.outline.includes('3px')), true);
  await page.keyboard.press('Home');
  assert.equal(await page.evaluate(() => setSelIdx), 0);

  // Down on the start-fullscreen check box toggles it; Enter on a radio picks it.
  await page.evaluate(() => { setSelIdx = setItems().findIndex((el) => el.type === 'checkbox'); setHilite(); });
  await page.keyboard.press('ArrowDown');
  await page.evaluate(() => { setSelIdx = setItems().findIndex((el) => el.name === 'sp-ak' && el.parentNode.textContent.includes('여자키')); setHilite(); });
  await page.keyboard.press('Enter');
  await page.evaluate(() => { setSelIdx = setItems().findIndex((el) => el.name === 'sp-nl' && el.parentNode.textContent.includes('항상 끔')); setHilite(); });
  await page.keyboard.press('Space');
  // Mouse rows: chord position (its command is posted; the score panels store it), lyric size,
  // colour, lyric font.
  const panel = page.locator('#settings-overlay');
  await panel.locator('.sp-row', { hasText: '악보 위치 조정' }).locator('button', { hasText: '▼' }).first().click();
  await panel.locator('.sp-row', { hasText: '큰가사 크기' }).locator('button', { hasText: '▶' }).click();
  await panel.locator('.sp-row', { hasText: '음정 조정값 유지' }).locator('button', { hasText: '유지' }).click();
  await page.evaluate(() => setLyricWaitColor('#123456'));
  await panel.locator('.sp-row', { hasText: '큰가사 색' }).locator('input[type=color]').first().fill('#00aa11');
  const fontValue = 'file:작은 글꼴.ttf';
  await panel.locator('select').first().selectOption(fontValue);
  await waitFor(() => /lyricFont=/.test(appSettings(root)) && appSettings(root).includes('lyricFont=' + fontValue), 'the font stored');
  // The font arrives as data, is added to the document and draws the lyrics: its one glyph is
  // 1.5 em wide.
  await page.waitForFunction(() => customFontsLoaded['작은 글꼴.ttf'] === true);
  assert.equal(await page.evaluate(() => customFamilyName('작은 글꼴.ttf')), 'CF_작은_글꼴_ttf');
  assert.equal(await page.evaluate(() => document.fonts.check('20px CF_작은_글꼴_ttf', '가')), true);
  assert.equal(await page.evaluate(() => {
    const c = document.createElement('canvas').getContext('2d');
    c.font = '20px CF_작은_글꼴_ttf';
    return Math.round(c.measureText('가').width);
  }), 30);
  assert.match(await page.evaluate(() => document.getElementById('big-lyrics').style.fontFamily), /CF_작은_글꼴_ttf/);
  await page.keyboard.press('Escape');
  await page.locator('#settings-overlay').waitFor({ state: 'hidden' });
  assert.equal(await page.evaluate(() => settingsPanelOpen), false);
  assert.equal(dialogs, 0);

  assert.ok((await sent(page)).includes('SET_CHORD_Y:2'));
  const want = ['startFullscreen=1', 'autoKeyMode=2', 'numLockOff=2', 'lyricFontScale=105',
                'lyricWaitColor=#123456', 'lyricSungColor=#00aa11', 'keepAdjust=1', 'lyricFont=' + fontValue];
  await waitFor(() => want.every((w) => appSettings(root).includes('\n' + w + '\n') || appSettings(root).startsWith(w + '\n')),
                'every row stored');

  // After a restart the stored values come back to the page.
  await stopProgram(child);
  const again = await openProgramPage(t, root);
  await bootDone(again.scripts);
  assert.deepEqual(await again.page.evaluate(() => [startFullscreen, autoKeyMode, numLockOffOpt, lyricFontScale,
                                                    lyricWaitColor, lyricSungColor, keepAdjust, lyricFontName]),
                   [1, 2, 2, 105, '#123456', '#00aa11', 1, fontValue]);
});

test('page layout settings are saved and come back through applyEnvSettings', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-env-'));
  t.after(() => removeRoot(root));
  const { page, scripts } = await openProgramPage(t, root);
  await bootDone(scripts);
  await page.evaluate(() => {
    listFontPx = 22;
    searchColW.title = 30;
    window.measPerPage = 6;
    window.staffMode = 2;
    window.drumSheetOn = true;
    saveEnv();
  });
  const file = path.join(root, 'system', 'env_settings.cfg');
  await waitFor(() => fs.existsSync(file) && JSON.parse(fs.readFileSync(file, 'utf8')).listFontPx === 22, 'the blob');
  const blob = JSON.parse(fs.readFileSync(file, 'utf8'));
  assert.equal(blob.searchColW.title, 30);
  assert.equal(blob.measPerPage, 6);

  await page.reload();
  await waitFor(() => scripts.filter((s) => s.startsWith('try{ applyEnvSettings(')).length >= 1, 'the blob sent again');
  await page.waitForFunction(() => listFontPx === 22);
  assert.deepEqual(await page.evaluate(() => [searchColW.title, measPerPage, staffMode, drumSheetOn]), [30, 6, 2, true]);

  // Values of the wrong type or range leave the page's value alone; unknown column names are not added.
  assert.deepEqual(await page.evaluate(() => {
    applyEnvSettings({ staffMode: 5, measPerPage: '3', listFontPx: '9', searchColW: { title: 'x', bogus: 4 } });
    applyEnvSettings('{"noteScale":0.7}');
    applyEnvSettings('');
    applyEnvSettings('{broken');
    return [staffMode, measPerPage, listFontPx, searchColW.title, 'bogus' in searchColW, noteScale];
  }), [2, 6, 22, 30, false, 0.7]);
});
