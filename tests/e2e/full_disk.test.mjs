// Saves that fail on a full disk are said on the page: a setting change and the play history each
// put a notice with the file's name and the system's reason. The system folder is a small tmpfs
// filled to the brim (mounting needs root; the test is skipped otherwise).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoSongNumbers, demoTool, openProgramPage, removeRoot, waitFor } from './program.mjs';

const canMount = process.getuid?.() === 0;

test('a full system folder: a setting change and a history save are said on the page',
     { skip: (!demoTool && 'no demo library generator') || (!canMount && 'mounting a tmpfs needs root') }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-fulldisk-'));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  // The demo system folder moves onto a tmpfs just big enough for it, and the rest is filled.
  const system = path.join(root, 'system'), kept = path.join(root, 'system.kept');
  fs.renameSync(system, kept);
  fs.mkdirSync(system);
  const mounted = spawnSync('mount', ['-t', 'tmpfs', '-o', 'size=64m', 'tmpfs', system]);
  if (mounted.status !== 0) {
    t.skip('tmpfs could not be mounted');
    fs.rmSync(root, { recursive: true, force: true });
    return;
  }
  t.after(async () => {
    spawnSync('umount', ['-l', system]);
    await removeRoot(root);
  });
  fs.cpSync(kept, system, { recursive: true });
  const filler = fs.openSync(path.join(system, 'filler.bin'), 'w');
  const block = Buffer.alloc(1 << 16);
  try {
    for (;;) fs.writeSync(filler, block);
  } catch (e) {
    assert.equal(e.code, 'ENOSPC');
  }
  // Down to the last byte: small writes fail as well.
  try {
    for (;;) fs.writeSync(filler, Buffer.alloc(1));
  } catch {}
  fs.closeSync(filler);

  const { page } = await openProgramPage(t, root, {});
  await waitFor(() => page.evaluate(() => typeof songDb !== 'undefined' && songDb.length > 0), 'the song list');
  const notices = [];
  await page.exposeFunction('__noticeSeen', (text) => notices.push(text));
  await page.evaluate(() => {
    const b = document.getElementById('test-audio-badge');
    new MutationObserver(() => window.__noticeSeen(b.innerText)).observe(b, { childList: true, characterData: true, subtree: true });
  });
  const post = (text) => page.evaluate((m) => window.chrome.webview.postMessage(m), text);

  await post('SET_CUSTOMER_BRIGHT:77');
  await waitFor(() => notices.some((n) => n.includes('저장하지 못했습니다: app_settings.cfg (No space left on device)')),
                'the settings notice');
  await post(`START_SONG_ID:${demoSongNumbers(root)[0]}`);
  await waitFor(() => notices.some((n) => n.includes('저장하지 못했습니다: history.log (No space left on device)')),
                'the history notice');
});
