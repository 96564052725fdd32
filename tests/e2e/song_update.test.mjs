// The song update dialog against the stand-in web board: ALT+N opens it, start runs the update,
// the bar and the final message follow the program's reports and the new song reaches the list.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, readLog, recordAlerts, removeRoot, sourceDir, waitFor } from './program.mjs';

// The package key and vector the program decrypts with.
const KEY = Buffer.from('54a7e1c9035b8f269d13c6f04a2e7b582f8b5d19e6c0734ab16e3a0d5c97f284', 'hex');
const IV = Buffer.from('3c5e7a9b1d2f40688a6c4e2019b3d5f7', 'hex');

function storedZip(entries) {
  const parts = [];
  for (const [name, data] of entries) {
    const n = Buffer.from(name);
    const d = Buffer.from(data);
    const h = Buffer.alloc(30);
    h.writeUInt32LE(0x04034b50, 0);
    h.writeUInt16LE(20, 4);
    h.writeUInt32LE(d.length, 18);
    h.writeUInt32LE(d.length, 22);
    h.writeUInt16LE(n.length, 26);
    parts.push(h, n, d);
  }
  return Buffer.concat(parts);
}

function encrypt(bytes) {
  const cipher = crypto.createCipheriv('aes-256-cbc', KEY, IV);
  return Buffer.concat([cipher.update(bytes), cipher.final()]);
}

function startBoard(t, posts) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-board-'));
  fs.mkdirSync(path.join(dir, 'dataroom'));
  execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes',
    '-keyout', path.join(dir, 'key.pem'), '-out', path.join(dir, 'cert.pem'), '-days', '2', '-subj', '/CN=127.0.0.1',
    '-addext', 'subjectAltName=IP:127.0.0.1'], { stdio: 'ignore' });
  const setPosts = (list) => {
    for (const p of list) fs.writeFileSync(path.join(dir, `post_${p.id}.bin`), p.bytes ?? '');
    const json = { pageSize: 3, posts: list.map((p) => ({ id: p.id, date: p.date, title: `post ${p.id}`,
      file: `post_${p.id}.bin`, answer: 'file' })) };
    fs.writeFileSync(path.join(dir, 'board.tmp'), JSON.stringify(json));
    fs.renameSync(path.join(dir, 'board.tmp'), path.join(dir, 'board.json'));
  };
  setPosts(posts);
  const server = spawn('python3', [path.join(sourceDir, 'tests/online/board/server.py'), dir], { stdio: 'ignore' });
  t.after(() => {
    server.kill();
    fs.rmSync(dir, { recursive: true, force: true });
  });
  return { dir, setPosts };
}

test('the update dialog runs the song update and shows its progress and result', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-update-'));
  t.after(() => removeRoot(root));
  fs.writeFileSync(path.join(root, 'license.cfg'), 'mb_id=kim\r\nmb_pw=pw\r\n');
  const board = startBoard(t, []);
  const port = await waitFor(() => fs.existsSync(path.join(board.dir, 'port')) &&
    fs.readFileSync(path.join(board.dir, 'port'), 'utf8'), 'the stand-in board');
  const { page, scripts } = await openProgramPage(t, root, {
    TAVELO_WEB_BASE: `127.0.0.1:${port}`, TAVELO_WEB_CA: path.join(board.dir, 'cert.pem') });
  // The start's own automatic update finds an empty board and opens nothing.
  await waitFor(() => readLog(root).includes('실행 플래그 해제됨'), 'the start-up song update');
  await waitFor(async () => (await page.evaluate(() => getComputedStyle(document.getElementById('update-overlay')).display)) === 'none',
                'the update overlay hidden');

  const header = 'id,nat,sex,keys,ch,tempo,genre,title,title1,subtitle,lyric,compose,singer,line1,title2,lyric2,' +
    'compose2,singer2,line2,chosung,singer_chosung';
  const zip = storedZip([['P0501.MID', 'MThd-not-played'], ['songs.csv',
    `${header}\r\n501,KR,M,C,1,120,가요,새노래,,,,,새가수,첫줄,,,,,,,\r\n`]]);
  const post4 = { id: 4, date: '2026-01-04', bytes: encrypt(zip) };
  board.setPosts([post4]);

  await page.keyboard.press('Alt+KeyN');
  await page.locator('#update-overlay').waitFor({ state: 'visible' });
  assert.equal(await page.locator('#update-status').textContent(), '대기 중');
  await page.locator('#update-start-btn').click();
  await page.evaluate(() => runSongUpdate());  // a second press while running sends nothing
  assert.equal(await page.locator('#update-start-btn').isDisabled(), true);

  const done = '[신곡 업데이트 완료] 1건 받음(파일 1개, songs.csv 1곡). 마지막 받은 등록일: 2026-01-04';
  await waitFor(async () => (await page.locator('#update-status').textContent()) === done, 'the final message', 60000);
  assert.equal(await page.locator('#update-pct').textContent(), '100%');
  assert.equal(await page.evaluate(() => document.getElementById('update-bar').style.width), '100%');
  assert.equal(await page.locator('#update-start-btn').isDisabled(), false);
  assert.ok(scripts.some((s) => s.includes("updateModalProgress(0,'곡 다운로드 중... (글 4)',0,1)")));
  await waitFor(() => page.evaluate(() => songDb.some((s) => s.id === 501 && s.title === '새노래')), 'mergeSongDb');
  assert.equal(readLog(root).split('[모달] RUN_SONG_UPDATE 수신: incr').length - 1, 1);
  assert.ok(fs.readFileSync(path.join(root, 'system', 'song_new.csv'), 'utf8').includes('501,KR'));

  // Not running any more: Escape closes the dialog.
  await page.keyboard.press('Escape');
  await page.locator('#update-overlay').waitFor({ state: 'hidden' });

  // ALT+I with a new post: the dialog opens by itself, busy, ends with the result, the whole
  // result comes as an alert, and the dialog hides itself afterwards.
  const alerts = recordAlerts(page);
  const zip2 = storedZip([['P0502.MID', 'MThd-2'], ['songs.csv', `${header}\r\n502,KR,M,C,1,120,가요,둘째,,,,,가수,첫줄,,,,,,,\r\n`]]);
  board.setPosts([post4, { id: 5, date: '2026-01-05', bytes: encrypt(zip2) }]);
  await page.keyboard.press('Alt+KeyI');
  await page.locator('#update-overlay').waitFor({ state: 'visible', timeout: 60000 });
  await waitFor(() => alerts.length > 0, 'the update alert', 60000);
  assert.ok(scripts.some((s) => s.includes('openUpdateModal(); updateRunning=true;') && s.includes('sb.disabled=true')));
  assert.match(alerts[0], /^\[신곡 업데이트 완료\] 1건 받음/);
  assert.equal(await page.evaluate(() => songDb.some((s) => s.id === 502)), true);
  await page.locator('#update-overlay').waitFor({ state: 'hidden', timeout: 15000 });

  // The date check lists the posts in an alert and ends in the dialog.
  await page.keyboard.press('Alt+KeyN');
  await page.locator('#update-datecheck-btn').click();
  await waitFor(() => alerts.length > 1, 'the date report', 60000);
  assert.ok(alerts[1].startsWith('[신곡 게시판 등록일 점검]'), alerts[1]);
  for (const part of ['이미 받은 글(집합) 개수 = 2', '글 5  |  등록일 2026-01-05  |  이미 받음', '=> 이번에 받을 글 0개'])
    assert.ok(alerts[1].includes(part), part);
  await waitFor(async () => (await page.locator('#update-status').textContent()) ===
    '날짜 점검 완료 - 결과 창을 확인하세요.', 'the date check end');
});
