// The PC check from the keyboard: refused during a song; after it, ALT+F12 measures without a
// note (300 probes of controller 102 on channel 16 reach the recording port), the page answers
// the round-trip probes, the panel shows twelve rows and a letter, the report and the score are
// stored. The vocal export of the playing song writes its two files.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, removeRoot, waitFor } from './program.mjs';


function readRecording(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
    const [, , ...hex] = line.split(' ');
    return hex.filter((h) => /^[0-9A-F]{2}$/.test(h)).map((h) => parseInt(h, 16));
  });
}

const post = (page, text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);
const isNoteOn = (b) => (b[0] & 0xF0) === 0x90 && b[2] > 0;
const isProbe = (b) => b[0] === 0xBF && b[1] === 0x66 && b[2] === 0;

test('ALT+F12 measures this PC, shows twelve rows and stores the report and the score',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-pccheck-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const rec1 = path.join(root, 'p1.rec');
  const env = { TAVELO_MIDI_OUT: `P1=${rec1};P2=${path.join(root, 'p2.rec')}` };
  const song = demoSongNumbers(root)[0];
  const { page, scripts, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');

  await post(page, `START_SONG_ID:${song}`);
  await waitFor(() => readRecording(rec1).some(isNoteOn), 'the first note');
  await page.keyboard.press('Alt+F12');
  await waitFor(() => scripts.some((s) => s.includes('연주 중에는 재지 않습니다 - 멈춘 뒤에 ALT+F12')), 'the refusal');
  assert.equal(await page.evaluate(() => document.getElementById('pcchk-summary').textContent),
               '연주 중에는 재지 않습니다 - 멈춘 뒤에 ALT+F12');

  // The vocal export of the playing song: the syllables at the song's first notes.
  await post(page, `VOCAL_EXPORT:${song}|0,44032,0;480,45208,0`);
  const vocal = path.join(root, 'vocal', `vocal_${song}`);
  await waitFor(() => fs.existsSync(vocal + '.txt') && fs.existsSync(vocal + '.mid'), 'the vocal files');
  assert.match(fs.readFileSync(vocal + '.txt', 'utf8'), new RegExp(`^\uFEFF# 곡번호 ${song} / TPQ \\d+\r\n`));
  assert.equal(fs.readFileSync(vocal + '.mid').subarray(0, 4).toString(), 'MThd');
  await waitFor(() => scripts.some((s) => s.includes('vocal-export-note') && s.includes('노래자료 내보냄')), 'the note');

  await post(page, 'RESET_HOME');
  await waitFor(() => scripts.some((s) => s.includes('resetToHomeScreen()')), 'home');
  const before = readRecording(rec1).length;
  await page.keyboard.press('Escape');
  await page.keyboard.press('Alt+F12');
  const shown = await waitFor(() => scripts.find((s) => s.startsWith('try{ showPcCheck(')), 'the result', 90000);
  assert.doesNotThrow(() => new Function(shown));

  assert.equal(await page.evaluate(() => document.querySelectorAll('#pcchk-body .pcchk-row').length), 12);
  assert.match(await page.evaluate(() => document.getElementById('pcchk-grade').textContent), /^[ABCD]$/);
  const rows = await page.evaluate(() => [...document.querySelectorAll('#pcchk-body .pcchk-row')].map((r) => r.textContent));
  assert.match(rows[5], /^화면 응답왕복 \d+\.\dms/, 'the page answered the round-trip probes');
  assert.match(rows[8], /^백신 검사 제외확인 불가미측정/);

  const after = readRecording(rec1).slice(before);
  const probes = after.filter(isProbe);
  assert.equal(probes.length, 300);
  const first = after.findIndex(isProbe), last = after.length - 1 - [...after].reverse().findIndex(isProbe);
  assert.ok(!after.slice(first, last + 1).some(isNoteOn), 'no note during the check');

  const report = fs.readFileSync(path.join(root, 'system', 'pc_check.txt'));
  assert.deepEqual([...report.subarray(0, 3)], [0xEF, 0xBB, 0xBF]);
  const text = report.subarray(3).toString('utf8');
  assert.equal(text.split('\r\n').length - 1, 14);
  assert.ok(text.endsWith('\r\n') && !/[^\r]\n/.test(text));
  const score = /종합 [ABCD] \((\d+)점\)/.exec(text)[1];
  assert.match(fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8'), new RegExp(`(^|\\n)pcScore=${score}\\n`));
});
