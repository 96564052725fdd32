// Score settings from the keyboard survive a restart: the score panel's transposition and
// octaves (per song, with their clamps), the score text styles (application settings); the
// engraving panel changes the score.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, waitFor } from './program.mjs';

const SONG = 1001;

async function startSong(t, root, env) {
  const opened = await openProgramPage(t, root, env);
  await waitFor(() => opened.frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await opened.page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${SONG}`);
  await waitFor(() => opened.scripts.find((s) => s.startsWith("try{ initSong('")), 'initSong');
  await waitFor(() => opened.page.evaluate(() => songLoaded && curMeasures.length > 0), 'the score');
  return opened;
}

test('score panel and score text settings are kept across a restart', { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-score-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const env = { TAVELO_MIDI_OUT: `P1=${path.join(root, 'p1.rec')};P2=${path.join(root, 'p2.rec')}` };
  const octFile = path.join(root, 'system', 'score_oct.cfg');

  const run = await t.test('first run: change the settings', async (t1) => {
    const { page } = await startSong(t1, root, env);
    await page.keyboard.press('F9');
    await waitFor(() => page.evaluate(() => document.getElementById('score-overlay').style.display === 'block'), 'the score panel');
    await page.keyboard.press('ArrowUp');
    await page.keyboard.press('ArrowUp');
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowRight');
    for (let i = 0; i < 5; i++) await page.keyboard.press('ArrowUp');
    const cells = await page.evaluate(() => [...document.querySelectorAll('#score-overlay .score-val')].map((e) => e.textContent));
    assert.deepEqual(cells.slice(0, 4), ['+2', '+2', '+3', '+3']);
    await waitFor(() => fs.existsSync(octFile) && fs.readFileSync(octFile, 'utf8') === `${SONG} 2 2 3 3\n`, 'score_oct.cfg');
    await page.keyboard.press('Escape');

    // score text through the settings-panel building blocks
    await page.evaluate(() => { scTextAdj('chd', 'size', 10); scTextAdj('lyr', 'colour', 1); });
    await waitFor(() => /scChdSize=110/.test(fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8')), 'app settings');

    // the engraving panel: a change redraws the score
    const before = await page.evaluate(() => document.getElementById('grandStaff').toDataURL());
    await page.keyboard.press('Alt+m');
    await waitFor(() => page.evaluate(() => engOpen), 'the engraving panel');
    for (let i = 0; i < 7; i++) await page.keyboard.press('ArrowDown');  // staffLine
    for (let i = 0; i < 3; i++) await page.keyboard.press('PageUp');
    const after = await page.evaluate(() => ({ v: MusicEngraver.ENG.staffLine, img: document.getElementById('grandStaff').toDataURL(),
                                               changed: collectEngCfg() }));
    assert.equal(after.v, 0.28);
    assert.deepEqual(after.changed, { staffLine: 0.28 });
    assert.notEqual(after.img, before);
    await page.keyboard.press('Escape');
  });
  void run;

  await t.test('second run: the song starts with them', async (t2) => {
    const { page, scripts } = await startSong(t2, root, env);
    assert.ok(scripts.some((s) => s.includes('initScoreOct(2,2,3,3)')));
    const s = await page.evaluate(() => ({ cfg: [scoreCfg.tU, scoreCfg.tL, scoreCfg.oU, scoreCfg.oL], chd: scChd.size, lyr: scLyr.colour }));
    assert.deepEqual(s, { cfg: [2, 2, 3, 3], chd: 110, lyr: 1 });
  });
});
