// Every name the page or the program calls is defined on the page.
// 1. ESLint's no-undef over the page's scripts as the page host serves them: the shell's inline
//    scripts, then the modules in the host's order, as one global scope.
// 2. Every name passed as a string to the page's by-name callers, and every page function that
//    the program's scripts call (PageCall(L"name", ...) and script text "name(" in the C++ sources),
//    is a function some page script defines.
// Prints each missing name with where it is used; exits 1 when there is any.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { ESLint } from 'eslint';
import globals from 'globals';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '../..');
const pageDir = path.join(root, 'ui/page');
const read = (p) => fs.readFileSync(p, 'utf8');

// ---- The page as served ----

const hostSource = read(path.join(root, 'ui/page_host.cpp'));
const moduleList = /kPageModules\[\] = \{([^}]*)\}/.exec(hostSource);
if (!moduleList) throw new Error('page module list not found in ui/page_host.cpp');
const modules = [...moduleList[1].matchAll(/L"([^"]+)"/g)].map((m) => m[1]);

// Inline scripts of an HTML file, each with the line it starts on.
function inlineScripts(file) {
  const text = read(path.join(pageDir, file));
  const out = [];
  for (const m of text.matchAll(/<script>([\s\S]*?)<\/script>/g)) {
    out.push({ name: file, text: m[1], line: text.substring(0, m.index).split('\n').length });
  }
  return out;
}
const parts = [{ name: 'webview-shim.js', text: read(path.join(pageDir, 'webview-shim.js')), line: 1 },
               ...inlineScripts('markup.html'), ...inlineScripts('script.html'),
               ...modules.map((m) => ({ name: m, text: read(path.join(pageDir, m)), line: 1 }))];
let joined = '';
const spans = [];  // where each part starts in the joined text: [first line, part]
for (const part of parts) {
  spans.push([joined.split('\n').length, part]);
  joined += part.text + '\n;\n';
}
function whereInPage(line) {
  let at = spans[0];
  for (const s of spans) if (s[0] <= line) at = s;
  return at[1].name + ':' + (line - at[0] + at[1].line);
}

const problems = [];

// ---- 1. no-undef ----

const eslint = new ESLint({
  overrideConfigFile: true,
  overrideConfig: {
    languageOptions: { ecmaVersion: 2022, sourceType: 'script', globals: { ...globals.browser } },
    rules: { 'no-undef': 'error' },
  },
});
const [result] = await eslint.lintText(joined, { filePath: 'page.js' });
for (const m of result.messages) problems.push(whereInPage(m.line) + ': ' + m.message);

// ---- 2. names called by name ----

// Functions the page defines: declarations, and functions stored on window or in a global.
const defined = new Set();
for (const part of parts) {
  for (const m of part.text.matchAll(/\bfunction\s+([A-Za-z_$][\w$]*)\s*\(/g)) defined.add(m[1]);
  for (const m of part.text.matchAll(/(?:window\.|^|[;\s])([A-Za-z_$][\w$]*)\s*=\s*function\b/gm)) defined.add(m[1]);
}
const known = new Set([...Object.keys(globals.browser), ...Object.keys(globals.builtin)]);
const keywords = new Set(['if', 'for', 'while', 'switch', 'catch', 'function', 'return', 'typeof', 'new', 'void', 'delete',
                          'in', 'of', 'do', 'else', 'try', 'throw', 'instanceof', 'with', 'case']);

// The page's by-name callers and the argument that names the callee.
const callers = ['pageCall', 'pageFn', 'spOwned', 'cwWrap'];
const callerRe = new RegExp('\\b(' + callers.join('|') + ")\\(\\s*'([A-Za-z_$][\\w$]*)'", 'g');
for (const part of parts) {
  for (const m of part.text.matchAll(callerRe)) {
    if (!defined.has(m[2])) {
      const line = part.text.substring(0, m.index).split('\n').length + part.line - 1;
      problems.push(part.name + ':' + line + ': ' + m[1] + " calls '" + m[2] + "', which no page script defines");
    }
  }
}

// The program's sources: PageCall(L"name", ...) and page functions called in script texts.
function cppFiles(dir) {
  const out = [];
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const p = path.join(dir, e.name);
    if (e.isDirectory()) out.push(...cppFiles(p));
    else if (/\.(cpp|h)$/.test(e.name)) out.push(p);
  }
  return out;
}
const programDirs = ['app', 'assist', 'base', 'online', 'platform', 'playback', 'songs', 'sound', 'ui']
  .map((d) => path.join(root, d)).filter((d) => fs.existsSync(d));
// Wide literals that are page script (a try block or a statement end), not a log line; in them
// the functions of inline CSS are not calls.
const scriptLike = /try\s*\{|;/;
const cssFunctions = new Set(['rgb', 'rgba', 'hsl', 'hsla', 'url', 'calc', 'var', 'min', 'max', 'clamp', 'translate',
                              'translateX', 'translateY', 'scale', 'rotate', 'blur', 'attr', 'format', 'local']);
for (const file of programDirs.flatMap(cppFiles)) {
  const text = read(file);
  const rel = path.relative(root, file);
  const lineOf = (i) => text.substring(0, i).split('\n').length;
  for (const m of text.matchAll(/\bPageCall(?:Text)?\(\s*L"([A-Za-z_$][\w$]*)"/g)) {
    if (!defined.has(m[1])) problems.push(rel + ':' + lineOf(m.index) + ": the program calls page function '" + m[1] + "', which no page script defines");
  }
  for (const m of text.matchAll(/\bL"((?:[^"\\\n]|\\.)*)"/g)) {
    const s = m[1];
    if (!s.includes('(') || !scriptLike.test(s)) continue;
    for (const c of s.matchAll(/(^|[^\w$.'"#-])([A-Za-z_$][\w$]*)\s*\(/g)) {
      const name = c[2];
      if (keywords.has(name) || known.has(name) || defined.has(name) || cssFunctions.has(name)) continue;
      problems.push(rel + ':' + lineOf(m.index) + ": a page script calls '" + name + "', which no page script defines");
    }
  }
}

for (const p of problems) console.log(p);
if (problems.length) {
  console.log(problems.length + ' page name problem(s)');
  process.exit(1);
}
console.log('page names: every called name is defined');
