// Loads page script files into one bare script context, as the page's classic scripts share one
// global scope. Only what the files touch at load time must exist; `extra` adds globals. The page
// helpers are always loaded first, as the page host does. A console error in the page fails the
// test that caused it.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import assert from 'node:assert/strict';
import { afterEach } from 'node:test';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const pageDir = path.join(here, '../../ui/page');

// Every page module in the page host's order.
export const PAGE_MODULES = (() => {
  const src = fs.readFileSync(path.join(here, '../../ui/page_host.cpp'), 'utf8');
  const list = /kPageModules\[\] = \{([^}]*)\}/.exec(src);
  return [...list[1].matchAll(/L"([^"]+)"/g)].map((m) => m[1]);
})();

const pageErrors = [];
afterEach(() => {
  const errors = pageErrors.splice(0);
  assert.deepEqual(errors, [], 'console errors in the page');
});

// A document with no elements, for tests that bring none of their own.
function emptyDocument() {
  const element = () => ({ style: {}, classList: { add() {}, remove() {}, toggle() {} }, appendChild() {}, setAttribute() {} });
  return {
    getElementById: () => null,
    querySelector: () => null,
    querySelectorAll: () => [],
    createElement: element,
    addEventListener() {},
    body: element(),
    documentElement: element(),
  };
}

export function loadPage(files = PAGE_MODULES, extra = {}) {
  const posted = [];
  const pageConsole = Object.create(console);
  pageConsole.error = (...args) => pageErrors.push(args.map(String).join(' '));
  const win = {
    console: pageConsole,
    posted,
    chrome: { webview: { postMessage(m) { posted.push(m); } } },
    performance: { now: () => Date.now() },
    setTimeout: () => 0,
    clearTimeout() {},
    requestAnimationFrame: () => 0,
    Intl,
    addEventListener() {},
    document: emptyDocument(),
    ...extra,
  };
  win.window = win;
  win.pageErrors = pageErrors;
  const context = vm.createContext(win);
  const all = files.includes('page_base.js') ? files : ['page_base.js', ...files];
  for (const f of all) vm.runInContext(fs.readFileSync(path.join(pageDir, f), 'utf8'), context, { filename: f });
  return context;
}
