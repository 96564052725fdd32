// Remote support cut short: a file whose end comes too early and one whose connection is cut
// leave nothing in _recv, and the program killed mid-session rejoins the agent after a restart,
// saying "resume=1" in its hello.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { openBrowser, readLog, startProgram, stopProgram, waitFor } from './program.mjs';
import { frame, helloOf, supportSetup } from './remote_stand_ins.mjs';

// A FileBegin of `size` bytes named `name`, then `data` as one FileData.
function partOfFile(name, size, data) {
  const n = Buffer.from(name);
  const begin = Buffer.alloc(10);
  begin.writeBigUInt64LE(BigInt(size), 0);
  begin.writeUInt16LE(n.length, 8);
  return Buffer.concat([frame(0x88, Buffer.concat([begin, n])), frame(0x89, Buffer.from(data))]);
}

const acks = (viewer) => viewer.frames.filter((f) => f.type === 5)
  .map((f) => [f.payload[0], Number(f.payload.readBigUInt64LE(1))]);

test('a cut file leaves nothing behind and a killed program rejoins after its restart', async (t) => {
  const { root, viewer, env: sessionEnv } = await supportSetup(t, 'rejoin');
  const env = { ...sessionEnv, TAVELO_RS_RESUME_DELAY_MS: '0' };
  const resumeFile = path.join(root, 'system', 'rs_resume.cfg');
  const recv = path.join(root, '_recv');
  const received = () => (fs.existsSync(recv) ? fs.readdirSync(recv) : []);

  // The first run: the operator picks the default agent and the agent lets the session in.
  const first = startProgram(root, env);
  t.after(() => { if (first.child.exitCode === null && first.child.signalCode === null) first.child.kill('SIGKILL'); });
  const browser = await openBrowser();
  t.after(() => browser.close());
  const page = await browser.context.newPage();
  await page.goto(await first.address);
  await page.keyboard.press('Alt+KeyS');
  await page.locator('#rs-overlay').waitFor({ state: 'visible', timeout: 20000 });
  await page.locator('#rs-ok').click();
  await waitFor(() => viewer.frames.some((f) => f.type === 1), 'the first hello');
  assert.equal(helloOf(viewer.frames.find((f) => f.type === 1).payload).resume, '0');
  viewer.socket.write(frame(0x81));
  await waitFor(() => fs.existsSync(resumeFile), 'the resume file');

  // Five of ten bytes, then the end: refused, and no file kept.
  viewer.socket.write(Buffer.concat([partOfFile('short.txt', 10, 'hello'), frame(0x8A)]));
  await waitFor(() => acks(viewer).some(([status]) => status === 2), 'the refusal');
  assert.deepEqual(acks(viewer), [[0, 0], [0, 5], [2, 0]]);
  assert.deepEqual(received(), []);

  // Five of ten bytes, then the connection is cut: the part written so far goes too.
  viewer.socket.write(partOfFile('cut.txt', 10, 'hello'));
  await waitFor(() => acks(viewer).length === 5, 'the second file under way');
  assert.deepEqual(received(), ['cut.txt.part']);
  viewer.socket.destroy();
  await waitFor(() => received().length === 0, 'the part removed');
  assert.ok(readLog(root).includes('[RS] 파일 받기 실패 - 크기가 안 맞습니다(5/10)'));

  // Killed while it waits to reconnect: the resume file stays.
  const killed = new Promise((r) => first.child.once('exit', r));
  first.child.kill('SIGKILL');
  await killed;
  assert.ok(fs.existsSync(resumeFile));

  // The restart rejoins the same agent at once.
  viewer.frames.length = 0;
  const second = startProgram(root, env);
  t.after(() => stopProgram(second.child));
  await waitFor(() => viewer.frames.some((f) => f.type === 1), 'the hello after the restart');
  const hello = helloOf(viewer.frames.find((f) => f.type === 1).payload);
  assert.equal(hello.resume, '1');
  assert.equal(hello.name, '(아이디 미설정)');
  assert.ok(readLog(root).includes('[RS] 재시작 감지 - [ 본사 (기본 연락처) ] 에 원격지원을 다시 잇습니다'));

  // The agent ends it: the resume file goes.
  viewer.socket.write(frame(0x81));
  viewer.socket.write(frame(0x84));
  await waitFor(() => !fs.existsSync(resumeFile), 'the resume file removed');
  // Stopped while its X server still runs.
  await stopProgram(second.child);
});
