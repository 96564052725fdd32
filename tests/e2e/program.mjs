// Helpers of the end-to-end tests: the real program on a temporary root, headless Chromium on its
// page, and the scripts the program sends to the page.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import assert from 'node:assert/strict';
import { after } from 'node:test';
import { chromium } from 'playwright-core';

export const bin = process.env.TAVELO_BIN;
export const sourceDir = process.env.TAVELO_SOURCE_DIR;
// The demo library generator: the one built beside the program (tests run side by side, and the
// tools/make-demo-root wrapper would run a build of its own in each), else the wrapper.
export const demoTool = [path.join(path.dirname(bin ?? ''), 'tools', 'make_demo_root'),
                         path.join(sourceDir ?? '', 'tools', 'make-demo-root')].find((p) => fs.existsSync(p));

// Starts the program without a browser on `root`; resolves with the page address. `env` adds to
// or replaces the environment (with another TAVELO_BROWSER no address is printed).
export function startProgram(root, env = {}) {
  const child = spawn(bin, [], {
    env: { ...process.env, TAVELO_ROOT: root, TAVELO_BROWSER: 'none', ...env },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const entry = { root, child };
  running.add(entry);
  child.once('exit', () => running.delete(entry));
  const address = new Promise((resolve, reject) => {
    let out = '';
    // Unref'd: a program that never prints an address (a browser of its own) keeps no test waiting.
    const timer = setTimeout(() => reject(new Error('no page address: ' + out)), 60000);
    timer.unref();
    child.stdout.on('data', (d) => {
      out += d;
      const m = /page: (\S+)/.exec(out);
      if (m) {
        clearTimeout(timer);
        resolve(m[1]);
      }
    });
    child.on('exit', (code) => {
      clearTimeout(timer);
      reject(new Error('program ended early: ' + code + ' ' + out));
    });
    child.on('error', (e) => {
      clearTimeout(timer);
      reject(e);
    });
  });
  return { child, address };
}

// Programs started and not yet known to be stopped, with their roots.
const running = new Set();

// Removes a test root once every program started on it has stopped: node runs a test's after-hooks
// in the order they were added, so the root's removal often comes before the program's stop, and
// a program still writing there would make the removal fail.
export async function removeRoot(root) {
  for (const entry of [...running]) {
    if (entry.root !== root) continue;
    await stopProgram(entry.child);
  }
  removeDir(root);
}

// A folder removed with retries: a Chromium that just ended (or lost its main process) can still
// have a child writing into its profile for a moment.
export function removeDir(dir) {
  fs.rmSync(dir, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
}

export async function stopProgram(child) {
  // A program that never started (spawn failed) has nothing to end and sends no exit.
  if (child.exitCode !== null || child.signalCode !== null || child.pid === undefined) return;
  const ended = new Promise((resolve) => child.once('exit', resolve));
  child.kill('SIGTERM');
  const timer = setTimeout(() => child.kill('SIGKILL'), 15000);
  await ended;
  clearTimeout(timer);
}

// The page's alerts (its in-page alert box), in order. Each is closed with Enter, as a person does,
// before it is recorded; a test waits for the record before its next key.
export function recordAlerts(page) {
  const alerts = [];
  let open = true;
  page.once('close', () => { open = false; });
  const shownText = () => page.evaluate(() => {
    const box = document.getElementById('page-alert');
    return box && box.style.display !== 'none' ? document.getElementById('page-alert-text').textContent : null;
  });
  (async () => {
    while (open) {
      const text = await shownText().catch(() => null);
      if (text !== null) {
        await page.keyboard.press('Enter').catch(() => {});
        alerts.push(text);
      } else {
        await new Promise((r) => setTimeout(r, 50));
      }
    }
  })();
  return alerts;
}

// Console errors and uncaught errors of every page of every browser of the test file, one list per
// browser. The file fails at its end when any is left; a test that expects one takes it out.
const pageErrorLists = [];
after(() => assert.deepEqual(pageErrorLists.flat(), [], 'errors in the page'));

// Headless Chromium; its pages' errors go to `pageErrors`. A page that cannot reach the program
// (stopped on purpose, or restarting) is not a page error.
export async function openBrowser({ args = [] } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', ...args],
  });
  const pageErrors = [];
  pageErrorLists.push(pageErrors);
  const watch = (page) => {
    page.on('console', (m) => {
      if (m.type() === 'error' && !m.text().includes('net::ERR_CONNECTION_REFUSED')) pageErrors.push('console error: ' + m.text());
    });
    page.on('pageerror', (e) => pageErrors.push('page error: ' + (e && e.stack ? e.stack : e)));
  };
  context.pages().forEach(watch);
  context.on('page', watch);
  let closed = false;
  return {
    context,
    pageErrors,
    close: async () => {
      if (closed) return;
      closed = true;
      await context.close();
      removeDir(profile);
    },
  };
}

// Scripts the program sends to the page, in arrival order.
export function collectScripts(page) {
  const scripts = [];
  page.on('websocket', (ws) => {
    ws.on('framereceived', (frame) => {
      const data = typeof frame.payload === 'string' ? frame.payload : frame.payload.toString();
      if (data.startsWith('S')) scripts.push(data.substring(data.indexOf(' ') + 1));
    });
  });
  return scripts;
}

// Every frame the program sends to the page, in arrival order: { kind, seq, text } where text is
// the script of an "S" frame, and { kind: 'T', seq, name, table } for a table call.
export function collectFrames(page) {
  const frames = [];
  page.on('websocket', (ws) => {
    ws.on('framereceived', (frame) => {
      const data = typeof frame.payload === 'string' ? frame.payload : frame.payload.toString();
      const kind = data.charAt(0);
      const space = data.indexOf(' ');
      if (kind === 'T') {
        const nameEnd = data.indexOf(' ', space + 1);
        frames.push({ kind, seq: data.substring(1, space), name: data.substring(space + 1, nameEnd),
                      table: JSON.parse(data.substring(nameEnd + 1)) });
      } else {
        frames.push({ kind, seq: space < 0 ? '' : data.substring(1, space),
                      text: space < 0 ? data.substring(1) : data.substring(space + 1) });
      }
    });
  });
  return frames;
}

// The program on `root` and its page open in headless Chromium, collecting the scripts it is
// sent; both are closed when test `t` ends. `initScript` runs in the page before its own scripts.
export async function openProgramPage(t, root, env = {}, { initScript } = {}) {
  const { child, address } = startProgram(root, env);
  t.after(() => stopProgram(child));
  const browser = await openBrowser();
  t.after(() => browser.close());
  const page = await browser.context.newPage();
  if (initScript) await page.addInitScript(initScript);
  const scripts = collectScripts(page);
  const frames = collectFrames(page);
  await page.goto(await address);
  return { child, page, scripts, frames, pageErrors: browser.pageErrors };
}

export async function waitFor(fn, what, ms = 30000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 100));
  }
}

// Recorded lines of a recording device: { us, tag, bytes[] }.
export function readRecording(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
    const [us, tag, ...hex] = line.split(' ');
    return { us: Number(us), tag, bytes: hex.filter((h) => /^[0-9A-F]{2}$/.test(h)).map((h) => parseInt(h, 16)) };
  });
}

export function readLog(root) {
  try {
    return fs.readFileSync(path.join(root, 'system', 'debug_log.txt'), 'utf8');
  } catch {
    return '';
  }
}

// Song numbers of the demo library: its MIDI files.
export function demoSongNumbers(root) {
  return fs.readdirSync(path.join(root, 'system'))
    .map((name) => /^P(\d+)\.MID$/i.exec(name))
    .filter(Boolean)
    .map((m) => Number(m[1]))
    .sort((a, b) => a - b);
}
