// The customer page in the program's own browser, started by the program with the profile it
// writes: the camera of the customer address is granted without a prompt, the microphone never.
// The main window's browser is a stand-in that hands its address to a test page; the customer
// window's browser is the real Chromium (headless, with the fake capture device).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  bin, demoTool, openBrowser, readLog, removeRoot, startProgram, stopProgram, waitFor,
} from './program.mjs';

const chromiumPath = '/usr/bin/chromium';

// The browser program the test gives the program: the customer window (the one placed full
// screen) runs in real headless Chromium; the main window prints its address where the program
// prints its own without a browser (the same output), for the test's page, and waits.
function browserStandIn(dir) {
  const file = path.join(dir, 'browser.sh');
  fs.writeFileSync(file, `#!/bin/sh
case " $* " in
  *" --kiosk "*) exec ${chromiumPath} --headless=new --no-sandbox --disable-gpu \\
    --use-fake-device-for-media-stream "$@" ;;
esac
for a in "$@"; do
  case "$a" in --app=*) echo "page: \${a#--app=}" ;; esac
done
exec sleep 600
`, { mode: 0o755 });
  return file;
}

test('the customer browser grants the camera without a prompt and never the microphone',
     { skip: (!demoTool && 'no demo library generator') || (!fs.existsSync(chromiumPath) && 'no Chromium') },
     async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-camera-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'pcScore=90\nliteMode=0\n');
  const { child, address } = startProgram(root, { TAVELO_BROWSER: browserStandIn(root), TAVELO_TEST_COMMANDS: '1',
                                                  TAVELO_MONITORS: '1920x1080+0+0*@;1280x720+1920+0' });
  t.after(() => stopProgram(child));
  const browser = await openBrowser();
  t.after(() => browser.close());
  const main = await browser.context.newPage();
  await main.goto(await address);
  await waitFor(() => readLog(root).includes('메인 화면 준비 끝'), 'the main page boot');
  await main.evaluate(() => window.chrome.webview.postMessage('SET_CUSTOMER_MONITOR:2'));
  await waitFor(() => readLog(root).includes('[CW] *** 손님 화면 준비 완료 ***'), 'the customer page', 60000);

  // The customer page reports what its browser grants (its layout report is the one message of
  // its own that the program logs as it stands).
  const probe = `if (window.__customerMode) (async function () {
    var q = async function (name) { try { return (await navigator.permissions.query({ name: name })).state; } catch (e) { return 'error'; } };
    var take = async function (c) {
      try { var s = await navigator.mediaDevices.getUserMedia(c); var l = s.getTracks()[0].label; s.getTracks().forEach(function (k) { k.stop(); }); return 'ok:' + l; }
      catch (e) { return e.name; }
    };
    var r = 'perm camera=' + await q('camera') + ' mic=' + await q('microphone') +
            ' video=' + await take({ video: true }) + ' audio=' + await take({ audio: true }) + ' end';
    window.chrome.webview.postMessage('CW_LAYOUT:' + r);
  })();`;
  await main.evaluate((s) => window.chrome.webview.postMessage('TEST_SCRIPT_FROM_THREAD:' + s), probe);
  const line = (await waitFor(() => /\[CW\] 배치 실측 perm (.*) end/.exec(readLog(root)), 'the permission report'))[1];
  assert.match(line, /camera=granted/);
  assert.match(line, /mic=denied/);
  assert.match(line, /video=ok:\S/, 'the fake camera opens without a prompt');
  assert.match(line, /audio=NotAllowedError/);
});
