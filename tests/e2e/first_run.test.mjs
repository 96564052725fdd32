// A newcomer's first run: the program on a demo root starts its own browser (Chromium, as root
// in CI) on a private X server without a window manager, with no browser or device switches. The
// page connects, the song typed on the real keyboard plays through the built-in synthesizer with
// the demo root's SoundFont, and nothing warns the operator.
import { execFileSync, spawn } from 'node:child_process';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import { bin, demoTool, demoSongNumbers, readLog, removeRoot, stopProgram, waitFor } from './program.mjs';
import { startXvfb } from './remote_stand_ins.mjs';

const haveXdotool = (() => {
  try {
    execFileSync('xdotool', ['--version'], { stdio: 'ignore' });
    return true;
  } catch {
    return false;
  }
})();

// The peak and the count of loud samples of raw 16-bit stereo between two sample frames.
function level(file, fromFrame, toFrame) {
  let bytes;
  try {
    bytes = fs.readFileSync(file);
  } catch {
    return { loud: 0, peak: 0 };
  }
  let loud = 0, peak = 0;
  for (let i = fromFrame * 4; i + 1 < Math.min(bytes.length, toFrame * 4); i += 2) {
    const v = Math.abs(bytes.readInt16LE(i));
    peak = Math.max(peak, v);
    if (v > 300) loud++;
  }
  return { loud, peak };
}

test('first run: own browser, demo song through the built-in synthesizer, no warning',
     { skip: (!demoTool && 'no demo library generator') || (!haveXdotool && 'no xdotool') }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-first-'));
  let child = null;
  // The program (not started through program.mjs) ends before its root is removed.
  t.after(async () => {
    if (child) await stopProgram(child);
    await removeRoot(root);
  });
  // As tools/make-demo-root (and so run.sh) makes it.
  execFileSync(demoTool, demoTool.endsWith('make_demo_root') ? ['--synth', root] : [root], { stdio: 'ignore' });
  assert.ok(fs.readdirSync(path.join(root, 'synth')).some((f) => /\.sf2$/i.test(f)), 'the demo root has a SoundFont');
  const display = await startXvfb(t);
  const render = path.join(root, 'render.raw');

  const env = { ...process.env, TAVELO_ROOT: root, DISPLAY: display, TAVELO_SYNTH_FILE: render };
  for (const name of Object.keys(env)) if (/^TAVELO_(BROWSER|MIDI_OUT|TEST_)/.test(name)) delete env[name];
  child = spawn(bin, [], { env, stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  let exited = null;
  child.on('exit', (code) => { exited = code; });

  await waitFor(() => exited !== null || readLog(root).includes('NavigationCompleted 정상 종료'), 'the page', 90000);
  assert.equal(exited, null, 'the program ended: ' + stderr.slice(-2000));
  if (process.getuid() === 0) assert.match(readLog(root), /--no-sandbox/);

  // The song number typed in the search (F1), Enter to reserve it and Enter to start it, as the
  // operator types them.
  const song = demoSongNumbers(root)[0];
  const xdo = (...args) => execFileSync('xdotool', args, { env: { ...process.env, DISPLAY: display } });
  await waitFor(() => {
    try {
      return xdo('search', '--onlyvisible', '--class', 'chromium').toString().trim();
    } catch {
      return '';
    }
  }, 'the browser window');
  const windowId = xdo('search', '--onlyvisible', '--class', 'chromium').toString().trim().split('\n')[0];
  // No window manager: the program sized the window to the monitor itself.
  assert.match(readLog(root), /창 관리자가 없어 브라우저 창을 모니터 크기로 맞춤/);
  const geometry = xdo('getwindowgeometry', windowId).toString();
  const [, w, h] = /Geometry: (\d+)x(\d+)/.exec(geometry) ?? [];
  assert.ok(Number(w) >= 630 && Number(h) >= 470, geometry);  // the whole 640 x 480 screen, give or take its edge
  xdo('windowfocus', '--sync', windowId);
  xdo('key', 'F1');
  await waitFor(() => readLog(root).includes('[WM] SEARCH') || readLog(root).includes('[WM]'), 'a page command');
  xdo('type', '--delay', '80', String(song));
  await new Promise((r) => setTimeout(r, 500));
  xdo('key', 'Return');
  await new Promise((r) => setTimeout(r, 1000));
  xdo('key', 'Return');
  await waitFor(() => readLog(root).includes('START_SONG_ID:' + song), 'the song start command', 30000)
    .catch((e) => { throw new Error(e.message + '\n' + readLog(root).split('\n').filter((l) => /\[WM\]|PAGE/.test(l)).slice(-30).join('\n')); });
  await waitFor(() => /\[SONG\] PlayMidiThread 시작/.test(readLog(root)), 'the player', 30000);
  const startFrame = fs.existsSync(render) ? fs.statSync(render).size / 4 : 0;
  await new Promise((r) => setTimeout(r, 5000));
  const { loud, peak } = level(render, startFrame, startFrame + 5 * 44100);
  assert.ok(loud > 1000 && peak > 2000, `sound in the first 5 s (loud ${loud}, peak ${peak})`);

  const log = readLog(root);
  assert.match(log, /내장음원\(FluidSynth\) 가동 - 사운드폰트: .*\.sf2/);
  // Nothing warned the operator: no missing device, no second-port alert, no failed browser.
  assert.doesNotMatch(log, /1포트 열기 실패|2포트 MIDI 장치를 찾지 못했습니다|브라우저가 .*초 만에 끝남/);
  assert.equal(exited, null);
});
