// Remote support against a stand-in viewer, the program on its own Xvfb: ALT+S opens the picker
// with the member and the default agent, the pick brings a valid hello, Accept turns the banner
// red, frame 0 is the whole screen with an X client's window in its place, the agent's click and
// key reach that client, a sent file lands in _recv, and "지원 종료" ends the session with its
// alert and leaves no resume file; the network badge shows the probe.
import { spawn } from 'node:child_process';
import { test } from 'node:test';
import assert from 'node:assert/strict';
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import { openProgramPage, readLog, recordAlerts, waitFor } from './program.mjs';
import { frame, helloOf, supportSetup } from './remote_stand_ins.mjs';

const KEY = 'Zq4RmT8vXe2LkW9pBn7GcY3hJs6DfU1aHo5NiQ0t';

// xev's window at the top left of the screen, printing the events it gets.
function startXev(t, display) {
  const xev = { out: '' };
  const child = spawn('stdbuf', ['-oL', 'xev', '-geometry', '200x150+0+0', '-event', 'keyboard', '-event', 'button'],
    { env: { ...process.env, DISPLAY: display }, stdio: ['ignore', 'pipe', 'ignore'] });
  child.stdout.on('data', (d) => { xev.out += d; });
  t.after(() => child.kill('SIGTERM'));
  return xev;
}

test('the operator picks an agent, the agent is let in and the banner stop ends the session', async (t) => {
  const { root, viewer, display, env } = await supportSetup(t, 'remote');
  const xev = startXev(t, display);
  const { page } = await openProgramPage(t, root, env);
  const alerts = recordAlerts(page);

  // Names from the network show as text.
  await page.evaluate(() => showRemoteSupportDialog({ name: '<b>m</b>', id: '' },
    [{ name: '<img src=x onerror=alert(1)>', id: 's1' }, { name: 'b', id: '' }]));
  assert.equal(await page.locator('#rs-list .rs-row').first().innerText(), '<img src=x onerror=alert(1)>\ns1\n선택됨');
  assert.equal(await page.locator('#rs-list img').count(), 0);
  assert.equal(await page.locator('#rs-member').innerText(), '회원명\n<b>m</b>\n아이디\n-');
  await page.keyboard.press('End');
  assert.equal(await page.evaluate(() => rsSel), 1);
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.evaluate(() => rsSel), 1);
  await page.keyboard.press('Escape');
  await page.locator('#rs-overlay').waitFor({ state: 'hidden' });

  await page.keyboard.press('Alt+KeyS');
  await page.locator('#rs-overlay').waitFor({ state: 'visible', timeout: 20000 });
  assert.equal(await page.locator('#rs-member').innerText(), '회원명\n(아이디 미설정)\n아이디\n-');
  assert.equal(await page.locator('#rs-list .rs-row').count(), 1);
  assert.match(await page.locator('#rs-list').innerText(), /^본사 \(기본 연락처\)/);
  assert.equal(await page.evaluate(() => document.activeElement.id), 'rs-cancel');
  await page.locator('#rs-ok').click();

  await waitFor(() => viewer.frames.some((f) => f.type === 1), 'the hello');
  const hello = helloOf(viewer.frames.find((f) => f.type === 1).payload);
  assert.equal(hello.auth, crypto.createHmac('sha256', KEY).update(viewer.nonce).digest('hex'));
  assert.equal(hello.name, '(아이디 미설정)');
  assert.equal(hello.resume, '0');
  assert.equal(hello.lock, '-');
  assert.equal(hello.ver, '12.9');
  assert.deepEqual([hello.w, hello.h], ['640', '480']);
  const banner = () => page.evaluate(() => {
    const b = document.getElementById('rs-banner');
    return b ? getComputedStyle(b).backgroundColor : '';
  });
  // The orange banner of a session being set up (posted to the page beside the hello, not before it).
  await waitFor(async () => (await banner()) === 'rgba(200, 130, 20, 0.93)', 'the orange banner');

  viewer.socket.write(frame(0x81));
  await waitFor(async () => (await banner()) === 'rgba(200, 25, 25, 0.93)', 'the red banner');
  assert.match(await page.locator('#rs-banner').innerText(), /원격지원 연결 중 - \[ 본사 \(기본 연락처\) \]/);
  assert.ok(fs.existsSync(path.join(root, 'system', 'rs_resume.cfg')));
  viewer.socket.write(frame(0x85));
  await waitFor(() => viewer.frames.some((f) => f.type === 4), 'the pong');

  // Frame 0: the whole screen, xev's white window at the top left on the black root.
  await waitFor(() => viewer.frames.some((f) => f.type === 2), 'the first picture');
  const first = viewer.frames.find((f) => f.type === 2).payload;
  assert.deepEqual([0, 2, 4, 6].map((o) => first.readUInt16LE(o)), [0, 0, 640, 480]);
  assert.equal(first.length, 12 + first.readUInt32LE(8));
  const picture = await page.evaluate(async (b64) => {
    const img = new Image();
    img.src = 'data:image/jpeg;base64,' + b64;
    await img.decode();
    const c = document.createElement('canvas');
    c.width = img.width;
    c.height = img.height;
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0);
    const at = (x, y) => Array.from(g.getImageData(x, y, 1, 1).data.slice(0, 3));
    return { size: [img.width, img.height], inside: at(100, 100), outside: at(400, 300) };
  }, first.subarray(12).toString('base64'));
  assert.deepEqual(picture.size, [640, 480]);
  assert.ok(picture.inside.every((v) => v > 200), `inside ${picture.inside}`);
  assert.ok(picture.outside.every((v) => v < 40), `outside ${picture.outside}`);

  // The agent's click and the A key reach xev under the pointer.
  const mouse = (x, y, kind) => {
    const p = Buffer.alloc(7);
    p.writeUInt16LE(x, 0);
    p.writeUInt16LE(y, 2);
    p.writeUInt8(kind, 4);
    return frame(0x82, p);
  };
  const key = (word) => {
    const p = Buffer.alloc(4);
    p.writeUInt32LE(word, 0);
    return frame(0x83, p);
  };
  viewer.socket.write(Buffer.concat([mouse(100, 80, 0), mouse(100, 80, 1), mouse(100, 80, 2),
    key(0x00010041), key(0x00000041)]));
  await waitFor(() => /ButtonRelease[\s\S]*KeyRelease/.test(xev.out), 'the click and key in xev');
  assert.match(xev.out, /ButtonPress event[\s\S]*\(100,80\)[\s\S]*button 1/);
  assert.match(xev.out, /KeyPress event[\s\S]*keysym 0x61, a\)/);

  // A file whose name climbs out lands in the receive folder under its own name.
  const name = Buffer.from('../../x.txt');
  const begin = Buffer.alloc(10);
  begin.writeBigUInt64LE(5n, 0);
  begin.writeUInt16LE(name.length, 8);
  viewer.socket.write(Buffer.concat([frame(0x88, Buffer.concat([begin, name])), frame(0x89, Buffer.from('hello')),
    frame(0x8A)]));
  await waitFor(() => viewer.frames.some((f) => f.type === 5 && f.payload[0] === 1), 'the file acknowledgement');
  assert.equal(fs.readFileSync(path.join(root, '_recv', 'x.txt'), 'utf8'), 'hello');
  assert.equal(fs.existsSync(path.join(root, 'x.txt')), false);
  await waitFor(async () => (await page.locator('#rs-banner').innerText()).includes('파일을 받았습니다 - x.txt'),
    'the file notice');

  await page.locator('#rs-banner button').click();
  await waitFor(() => alerts.includes('원격지원이 종료되었습니다.'), 'the end alert');
  await waitFor(() => viewer.closed, 'the closed connection');
  await waitFor(async () => (await page.locator('#rs-banner').count()) === 0, 'the banner gone');
  assert.equal(fs.existsSync(path.join(root, 'system', 'rs_resume.cfg')), false);
  const log = readLog(root);
  for (const line of ['[RS] 접속 성공 - 인터넷 직접 127.0.0.1:', '[RS] 원격지원 시작 - 전송해상도 ',
    '[RS] 사용자가 지원 종료를 눌렀습니다', '[RS] 원격지원 종료'])
    assert.ok(log.includes(line), line);

  // The badge: nothing answers, so the probe paints it grey with the red slash.
  const badge = () => page.evaluate(() => [document.getElementById('net-badge').title,
    document.getElementById('nb-dot').getAttribute('fill'), getComputedStyle(document.getElementById('nb-slash')).display]);
  await waitFor(async () => (await badge())[0] === '인터넷 연결이 끊겼습니다 (랜선/공유기 확인)', 'the probe');
  assert.deepEqual(await badge(), ['인터넷 연결이 끊겼습니다 (랜선/공유기 확인)', '#8a9096', 'inline']);
  await page.evaluate(() => setNetStatus(1));
  assert.deepEqual((await badge()).slice(1), ['#f1c40f', 'none']);
  assert.ok(readLog(root).includes('[NET] 인터넷 연결 끊김'));
});
