// Loads page script files into one bare script context, as the page's classic scripts share one
// global scope. Only what the files touch at load time must exist; `extra` adds globals.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const pageDir = path.join(path.dirname(fileURLToPath(import.meta.url)), '../../ui/page');

export function loadPage(files, extra = {}) {
  const posted = [];
  const win = {
    console,
    posted,
    chrome: { webview: { postMessage(m) { posted.push(m); } } },
    performance: { now: () => Date.now() },
    setTimeout: () => 0,
    clearTimeout() {},
    requestAnimationFrame: () => 0,
    Intl,
    addEventListener() {},
    ...extra,
  };
  win.window = win;
  const context = vm.createContext(win);
  for (const f of files) vm.runInContext(fs.readFileSync(path.join(pageDir, f), 'utf8'), context, { filename: f });
  return context;
}
