// Files that reach the page as data or through the media routes: the demo background picture,
// a custom lyric font from the fonts folder, and the audio panel playing the audio folder's files
// one after the other (F7, Enter, the badge, the end of the list).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readLog, removeRoot, waitFor } from './program.mjs';

const fontFile = ['/usr/share/fonts/truetype/dejavu/DejaVuSans-ExtraLight.ttf',
                  '/usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf'].find((p) => fs.existsSync(p));

// A short silent PCM WAV file.
function wav(seconds) {
  const rate = 8000;
  const samples = Math.round(rate * seconds);
  const b = Buffer.alloc(44 + samples * 2);
  b.write('RIFF', 0); b.writeUInt32LE(36 + samples * 2, 4); b.write('WAVE', 8); b.write('fmt ', 12);
  b.writeUInt32LE(16, 16); b.writeUInt16LE(1, 20); b.writeUInt16LE(1, 22); b.writeUInt32LE(rate, 24);
  b.writeUInt32LE(rate * 2, 28); b.writeUInt16LE(2, 32); b.writeUInt16LE(16, 34); b.write('data', 36);
  b.writeUInt32LE(samples * 2, 40);
  return b;
}

test('pictures, a custom font and the audio panel', { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-assets-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'pcScore=90\nliteMode=0\n');
  fs.mkdirSync(path.join(root, 'audio'), { recursive: true });
  fs.writeFileSync(path.join(root, 'audio', 'b.wav'), wav(0.4));
  fs.writeFileSync(path.join(root, 'audio', "A's.WAV"), wav(0.4));
  fs.writeFileSync(path.join(root, 'audio', 'notes.txt'), 'x');
  if (fontFile) {
    fs.mkdirSync(path.join(root, 'fonts'), { recursive: true });
    fs.copyFileSync(fontFile, path.join(root, 'fonts', 'My Font (1).ttf'));
  }
  const { page } = await openProgramPage(t, root);
  await waitFor(() => readLog(root).includes('메인 화면 준비 끝'), 'the page boot');

  // The demo pictures arrive as data addresses and paint the page.
  await waitFor(() => page.evaluate(() => mainBgName === 'main_bg.bmp' && headerBgName === 'header_bg.bmp'), 'the pictures');
  assert.match(await page.evaluate(() => document.getElementById('app-root').style.background), /url\("?'?data:image\/bmp;base64,/);
  assert.match(await page.evaluate(() => document.getElementById('top-bar').style.background), /data:image\/bmp;base64,/);

  // A custom font: listed at boot, loaded as a web font when chosen.
  if (fontFile) {
    assert.deepEqual(await page.evaluate(() => customFontList), ['My Font (1).ttf']);
    await page.evaluate(() => setLyricFont('file:My Font (1).ttf'));
    await waitFor(() => page.evaluate(() => customFontsLoaded['My Font (1).ttf'] === true), 'the font loaded');
    assert.ok(await page.evaluate(() => document.fonts.check('20px CF_My_Font__1__ttf')));
    assert.match(await page.evaluate(() => document.getElementById('big-lyrics').style.fontFamily), /CF_My_Font__1__ttf/);
  }

  // F7 opens the panel with the files in name order; Enter plays from the first to the end.
  await page.keyboard.press('F7');
  await waitFor(() => page.evaluate(() => audioList.length === 2), 'the audio list');
  const rows = await page.evaluate(() => [...document.querySelectorAll('#audio-list > div')].map((d) => d.textContent));
  assert.deepEqual(rows, ["1. A's", '2. b']);
  const badge = () => page.evaluate(() => {
    const b = document.getElementById('test-audio-badge');
    return b.style.display === 'none' ? '' : b.textContent;
  });
  const seen = new Set();
  await page.keyboard.press('Enter');
  await waitFor(async () => { seen.add(await badge()); return seen.has('오디오 재생 완료'); }, 'the end of the list', 20000);
  assert.ok(seen.has("▶ (1/2) A's") || seen.has('▶ (2/2) b'), [...seen].join(' | '));
  assert.ok(seen.has('▶ (2/2) b'), [...seen].join(' | '));
  assert.equal(await page.evaluate(() => audioPlayIdx), -1);
  await page.keyboard.press('Escape');
  assert.equal(await page.evaluate(() => document.getElementById('audio-panel').style.display), 'none');
});
