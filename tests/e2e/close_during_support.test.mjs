// Closing the program during a remote-support session asks first, in a question box on the X
// display. While that box waits for a person, a signal still ends the program, and so does the
// page's stop of the session: the question takes its default answer (close, and end the session).
// An open-file dialog, which no signal closes, keeps the program no longer than a short grace.
import { execFileSync } from 'node:child_process';
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, readLog, removeRoot, waitFor } from './program.mjs';
import { frame, startXvfb, supportSetup } from './remote_stand_ins.mjs';

// The titles of the windows shown on the display.
function shownWindowTitles(display) {
  const env = { ...process.env, DISPLAY: display };
  let ids = [];
  try {
    ids = execFileSync('xdotool', ['search', '--onlyvisible', '--name', '.'], { env }).toString().split('\n');
  } catch {
    return [];  // none shown
  }
  return ids.filter(Boolean).map((id) => {
    try {
      return execFileSync('xprop', ['-id', id, '_NET_WM_NAME'], { env }).toString();
    } catch {
      return '';
    }
  });
}

// A session let in by the agent, then the operator's close: the question box shows and waits.
async function closeDuringSession(t, name) {
  const { root, viewer, display, env } = await supportSetup(t, name);
  const { child, page } = await openProgramPage(t, root, env);
  await page.keyboard.press('Alt+KeyS');
  await page.locator('#rs-overlay').waitFor({ state: 'visible', timeout: 20000 });
  await page.locator('#rs-ok').click();
  await waitFor(() => viewer.frames.some((f) => f.type === 1), 'the hello');
  viewer.socket.write(frame(0x81));
  await page.locator('#rs-banner button').waitFor({ state: 'visible' });
  await waitFor(() => fs.existsSync(path.join(root, 'system', 'rs_resume.cfg')), 'the session under way');

  const quit = page.locator('#quit-confirm');
  await page.click('button[title^="종료 (ALT+X)"]');
  await quit.locator('button', { hasText: '예 (Y)' }).click();
  await waitFor(() => shownWindowTitles(display).some((n) => n.includes('원격지원 중입니다')), 'the question box');
  // Nobody answers: the program waits.
  await new Promise((r) => setTimeout(r, 500));
  assert.equal(child.exitCode, null);
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  return { root, child, page, exited };
}

// The program's end, or nothing when it has not ended within a generous bound.
function endWithin(exited, ms) {
  return Promise.race([exited, new Promise((r) => setTimeout(() => r(null), ms))]);
}

test('a signal ends the program while the close question of a session waits', async (t) => {
  if (!fs.existsSync('/usr/bin/xdotool')) return t.skip('xdotool is not installed');
  const { child, exited } = await closeDuringSession(t, 'close-signal');
  child.kill('SIGTERM');
  assert.deepEqual(await endWithin(exited, 10000), { code: 0, signal: null });
});

test("the page's stop of the session ends the program while the close question waits", async (t) => {
  if (!fs.existsSync('/usr/bin/xdotool')) return t.skip('xdotool is not installed');
  const { root, page, exited } = await closeDuringSession(t, 'close-stop');
  await page.locator('#rs-banner button').click();
  assert.deepEqual(await endWithin(exited, 10000), { code: 0, signal: null });
  // The session ended for good: no rejoin at the next start.
  assert.equal(fs.existsSync(path.join(root, 'system', 'rs_resume.cfg')), false);
  assert.ok(readLog(root).includes('[창] 기다릴 수 없는 요청이 와서 메시지 상자를 기본 답으로 닫음 - [원격지원 중입니다]'));
});

test('a signal ends the program while an open-file dialog waits', async (t) => {
  if (!fs.existsSync('/usr/bin/xdotool')) return t.skip('xdotool is not installed');
  const display = await startXvfb(t);
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-close-dialog-'));
  t.after(() => removeRoot(root));
  const { child, page } = await openProgramPage(t, root, { DISPLAY: display });
  await page.keyboard.press('Alt+Digit0');
  await page.locator('#settings-overlay button', { hasText: '남/여 키 파일 고르기…' }).click();
  await waitFor(() => shownWindowTitles(display).length > 0, 'the open-file dialog');
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  child.kill('SIGTERM');
  assert.deepEqual(await endWithin(exited, 10000), { code: 0, signal: null });
  assert.ok(readLog(root).includes('[WM] 종료 신호 뒤 창 스레드가'));
});
