// The start of the real program on a demo library: the start-up load thread reads the catalogue
// and the settings, and the page boot sends the page every demo song and its settings values.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { demoSongNumbers, demoTool, openProgramPage, readLog, removeRoot, waitFor } from './program.mjs';

// The demo library generator: the command of the source tree, else the program it runs.

test('start on a demo library: boot log and initSongDb with every demo song',
     { skip: !demoTool && 'no demo library generator yet' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-boot-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'inherit' });
  const songs = demoSongNumbers(root);
  assert.ok(songs.length >= 8, 'demo library has songs: ' + songs.length);
  // A saved page layout and a setting, so the boot carries them.
  fs.writeFileSync(path.join(root, 'system', 'env_settings.cfg'), '{"listFontPx":19}');
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'helpFontPx=31\nport1Module=SC8820\n');

  // A stray build file under the install root is swept away beside the start.
  const stray = path.join(root, 'system', 'Pelmora1.exe');
  fs.writeFileSync(stray, 'x');

  const { page, scripts, frames } = await openProgramPage(t, root);

  // The song list comes first, as a table the page parses, then the rest of the first script.
  const songTable = () => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb');
  const table = await waitFor(songTable, 'the initSongDb table');
  assert.deepEqual(table.table.keys.slice(0, 10),
                   ['id', 'title', 'subtitle', 'singer', 'tempo', 'genre', 'keys', 'chosung', 'singerChosung', 'line1']);
  assert.deepEqual(table.table.rows.map((r) => r[0]).sort((a, b) => a - b), songs);
  for (const row of table.table.rows) assert.ok(String(row[1]).length > 0, 'song ' + row[0] + ' has a title');
  const first = await waitFor(() => scripts.find((s) => s.startsWith("try{ renderReservedQueue(); }catch(e){console.error('renderReservedQueue',e)}")),
                              'the first boot script');
  const at = (text) => frames.findIndex((f) => f.text === text);
  assert.ok(frames.indexOf(table) < at(first), 'the song table goes before the first script');
  assert.match(first, /try\{ initHelpText\(\[.*\],31,9\); \}catch\(e\)\{console\.error\('initHelpText',e\)\}try\{ initAppSettings\(0,'SC8820','SC8850',/);

  // The page layout follows the first script; the second script closes the boot.
  const env = await waitFor(() => scripts.find((s) => s.startsWith('try{ applyEnvSettings(')), 'applyEnvSettings');
  assert.equal(env, `try{ applyEnvSettings({"listFontPx":19}); }catch(e){console.error('applyEnvSettings',e)}`);
  assert.ok(scripts.indexOf(env) > scripts.indexOf(first));
  await waitFor(() => scripts.find((s) => s.startsWith('try{ initMonitorList(')), 'initMonitorList');
  await waitFor(() => !fs.existsSync(stray), 'the stray file swept away');

  const log = await waitFor(() => {
    const text = readLog(root);
    return text.includes('[BOOT] *** NavigationCompleted 정상 종료 - 메인 화면 준비 끝 ***') ? text : '';
  }, 'the end of the page boot');
  const loadLines = log.split(/\r?\n/).filter((l) => l.includes('[BOOT] ') && !l.includes('NavigationCompleted') &&
                                                  !l.includes('join 완료') && !l.includes('목록에 없는 곡'));
  assert.ok(loadLines.length > 0);
  assert.ok(loadLines[loadLines.length - 1].endsWith('[BOOT] *** 시작 로드 스레드 정상 종료 ***'),
            'last load line: ' + loadLines[loadLines.length - 1]);
  assert.ok(loadLines.some((l) => l.includes('[BOOT] songs.csv 읽음 - 곡 ')), loadLines.join('\n'));
  const joined = log.indexOf('[BOOT] join 완료 - 화면 초기 데이터 심기');
  assert.ok(joined > log.indexOf('[BOOT] *** 시작 로드 스레드 정상 종료 ***'));

  // A reload gets all page data again from a second boot.
  const songTables = () => frames.filter((f) => f.kind === 'T' && f.name === 'initSongDb').length;
  const before = songTables();
  await page.reload();
  await waitFor(() => songTables() > before, 'a second initSongDb');
  await waitFor(() => readLog(root).split('[BOOT] *** NavigationCompleted 정상 종료').length === 3, 'a second boot');
});

// Every boot function of the first script, in its order, with the page's name for it.
const firstBootCalls = [
  'initSongDb', 'renderReservedQueue', 'renderSearchResults', 'initSoundTable', 'initPlayedHistory',
  'initFavorites', 'initUserKeys', 'initHelpText', 'initAppSettings', 'initScoreText', 'setNumLockOffDisplay',
  'initExtRouting', 'updateGlobalVolDisplay', 'setMixerMaxPct', 'setCcDedupDisplay', 'setRawSoundDisplay',
  'setSaxExprDisplay', 'setSaxLayerDisplay', 'setSaxBoostDisplay', 'setSaxInsFxDisplay', 'setSaxPlayDisplay',
  'setBuiltinSynthDisplay', 'setPcIsLaptop', 'setBgRandomDisplay', 'setLyricFontDisplay',
  'setLyricWaitColorDisplay', 'setLyricSungColorDisplay', 'setLyricFontScaleDisplay', 'initCustomFonts',
  'initEqFromApp', 'applyEnvSettings', 'initMonitorList', 'initCustomerBright', 'initKeepAdjust'];

test('a page that lacks one boot function, or has one that throws, still receives every other value',
     { skip: !demoTool && 'no demo library generator yet' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-boot-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'inherit' });
  const songs = demoSongNumbers(root);
  fs.writeFileSync(path.join(root, 'system', 'env_settings.cfg'), '{"listFontPx":19}');
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'),
                   "numLockOff=2\nlyricFont=Don't.ttf\nsaxBend=0\nlyricFontScale=120\n");

  // Once the page's own scripts have run, every boot function records its arguments, except the
  // missing ones; initFavorites throws.
  const missing = ['initSoundTable', 'initAppSettings'];
  const initScript = `(${(names, gone) => {
    window.__bootCalls = {};
    window.addEventListener('load', () => {
      for (const name of names) {
        if (gone.includes(name)) {
          window[name] = undefined;
          continue;
        }
        window[name] = (...args) => {
          window.__bootCalls[name] = JSON.parse(JSON.stringify(args));
          if (name === 'initFavorites') throw new Error('broken panel');
        };
      }
    }, true);
  }})(${JSON.stringify(firstBootCalls)}, ${JSON.stringify(missing)})`;
  const { page, pageErrors } = await openProgramPage(t, root, {}, { initScript });

  const calls = await waitFor(async () => {
    const c = await page.evaluate(() => window.__bootCalls);
    return c && c.initKeepAdjust ? c : null;
  }, 'the whole boot');
  for (const name of firstBootCalls) {
    if (missing.includes(name)) assert.equal(calls[name], undefined, name);
    else assert.ok(calls[name], 'the page got ' + name);
  }
  // The song list arrives as objects, every demo song once, in the keys of the page's song list.
  const list = calls.initSongDb[0];
  assert.deepEqual(list.map((s) => s.id).sort((a, b) => a - b), songs);
  for (const song of list) {
    assert.deepEqual(Object.keys(song).slice(0, 10),
                     ['id', 'title', 'subtitle', 'singer', 'tempo', 'genre', 'keys', 'chosung', 'singerChosung', 'line1']);
    assert.equal(typeof song.title, 'string');
    assert.equal(typeof song.tempo, 'number');
  }
  assert.deepEqual(calls.setNumLockOffDisplay, [2]);
  assert.deepEqual(calls.setLyricFontDisplay, ["Don't.ttf"]);
  assert.deepEqual(calls.setSaxPlayDisplay.slice(0, 1), [0]);
  assert.deepEqual(calls.setLyricFontScaleDisplay, [120]);
  assert.deepEqual(calls.applyEnvSettings, [{ listFontPx: 19 }]);
  // Each missing or throwing function is said on the console under its name; nothing else is.
  const said = await waitFor(() => pageErrors.length >= 3 && pageErrors.splice(0), 'the console errors');
  assert.deepEqual(said.map((e) => e.split(/\s/).slice(2, 4).join(' ')).sort(),
                   ['initAppSettings TypeError:', 'initFavorites Error:', 'initSoundTable TypeError:']);
});
