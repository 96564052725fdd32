// The start of the real program on a demo library: the start-up load thread reads the catalogue
// and the settings, and the page boot sends the page every demo song and its settings values.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import {
  bin, demoSongNumbers, openProgramPage, readLog, sourceDir, waitFor,
} from './program.mjs';

// The demo library generator: the command of the source tree, else the program it runs.
const demoTool = [path.join(sourceDir, 'tools', 'make-demo-root'),
                  path.join(path.dirname(bin), 'tools', 'make_demo_root')].find((p) => fs.existsSync(p));

test('start on a demo library: boot log and initSongDb with every demo song',
     { skip: !demoTool && 'no demo library generator yet' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-boot-'));
  t.after(() => fs.rmSync(root, { recursive: true, force: true }));
  execFileSync(demoTool, [root], { stdio: 'inherit' });
  const songs = demoSongNumbers(root);
  assert.ok(songs.length >= 8, 'demo library has songs: ' + songs.length);
  // A saved page layout and a setting, so the boot carries them.
  fs.writeFileSync(path.join(root, 'system', 'env_settings.cfg'), '{"listFontPx":19}');
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'helpFontPx=31\nport1Module=SC8820\n');

  const { page, scripts } = await openProgramPage(t, root);

  const first = await waitFor(() => scripts.find((s) => s.startsWith('initSongDb(')), 'initSongDb');
  const payload = first.substring('initSongDb('.length, first.indexOf('); renderReservedQueue();'));
  const list = vm.runInNewContext('(' + payload + ')');
  assert.deepEqual(Array.from(list, (s) => Number(s.id)).sort((a, b) => a - b), songs);
  for (const song of list) assert.ok(String(song.title).length > 0, 'song ' + song.id + ' has a title');
  assert.match(first, /try\{ initHelpText\(\[[^\]]*\],31,9\); \}catch\(e\)\{\} initAppSettings\(0, 'SC8820', 'SC8850', /);

  // The page layout follows the first script; the second script closes the boot.
  const env = await waitFor(() => scripts.find((s) => s.startsWith('try{ applyEnvSettings(')), 'applyEnvSettings');
  assert.equal(env, 'try{ applyEnvSettings({"listFontPx":19}); }catch(e){ console.log(e); }');
  assert.ok(scripts.indexOf(env) > scripts.indexOf(first));
  await waitFor(() => scripts.find((s) => s.startsWith('try{ initMonitorList(')), 'initMonitorList');

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
  const before = scripts.filter((s) => s.startsWith('initSongDb(')).length;
  await page.reload();
  await waitFor(() => scripts.filter((s) => s.startsWith('initSongDb(')).length > before, 'a second initSongDb');
  await waitFor(() => readLog(root).split('[BOOT] *** NavigationCompleted 정상 종료').length === 3, 'a second boot');
});
