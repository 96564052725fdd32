// ---- Page helpers ----
// Loaded before every other page module: the one sender to the program, the one HTML escape and
// the one by-name caller the modules share.

// Posts a command to the program.
function pagePost(cmd) {
  try {
    window.chrome.webview.postMessage(cmd);
  } catch (e) {
    console.error('pagePost ' + cmd + ': ' + e);
  }
}
// Text for HTML: every catalogue text, typed name and program text goes through here before it is
// drawn.
function htmlEsc(t) {
  return String(t == null ? '' : t).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
    .replace(/"/g, '&quot;').replace(/'/g, '&#39;');
}
function pageEl(id) {
  return typeof document !== 'undefined' ? document.getElementById(id) : null;
}
// A page function by name, for callers whose callee is chosen at run time. A name that is not
// defined is a fault of the page: it is written to the console with the name, and the caller
// goes on without it.
function pageFn(name) {
  var fn = window[name];
  if (typeof fn === 'function') return fn;
  console.error('page function missing: ' + name);
  return null;
}
function pageCall(name) {
  var fn = pageFn(name);
  return fn ? fn.apply(null, Array.prototype.slice.call(arguments, 1)) : undefined;
}
function strField(v) {
  return v == null ? '' : String(v);
}

// ---- Alerts ----
// The program's and the page's alerts show in a box of the page, not in the browser's dialog:
// Enter, Escape or a click closes it. Keys pressed while a box is up wait, and reach the page in
// their order once the last box has closed; a second alert waits for the first.
var pageAlertWaiting = [];  // texts after the one shown
var pageAlertHeldKeys = [];  // key events held while a box is up: [type, event init]

function pageAlertShown() {
  var box = pageEl('page-alert');
  return !!box && box.style.display !== 'none';
}
function pageAlert(text) {
  text = text == null ? '' : String(text);
  if (pageAlertShown()) { pageAlertWaiting.push(text); return; }
  var box = pageEl('page-alert');
  if (!box) {
    box = document.createElement('div');
    box.id = 'page-alert';
    box.style.cssText = 'display:none; position:fixed; inset:0; z-index:2147483000; background:rgba(0,0,0,0.45); align-items:center; justify-content:center;';
    box.innerHTML = '<div style="min-width:340px; max-width:min(720px,92vw); max-height:80vh; overflow:auto; background:#1f2328; color:#eee; border:2px solid #f39c12; border-radius:12px; padding:20px 24px; font-size:18px; box-shadow:0 10px 40px rgba(0,0,0,0.6);">' +
      '<div id="page-alert-text" style="white-space:pre-wrap; line-height:1.5;"></div>' +
      '<div style="text-align:right; margin-top:16px;"><button id="page-alert-ok" style="padding:8px 22px; font-size:16px; font-weight:bold; border:none; border-radius:8px; cursor:pointer; color:#222; background:linear-gradient(180deg,#ffc266,#f39c12);">확인 (Enter)</button></div></div>';
    box.addEventListener('click', pageAlertClose);
    document.body.appendChild(box);
  }
  pageEl('page-alert-text').textContent = text;
  box.style.display = 'flex';
}
function pageAlertClose() {
  var box = pageEl('page-alert');
  if (box) box.style.display = 'none';
  if (pageAlertWaiting.length) { pageAlert(pageAlertWaiting.shift()); return; }
  var held = pageAlertHeldKeys.splice(0);
  for (var i = 0; i < held.length && !pageAlertShown(); i++) document.dispatchEvent(new KeyboardEvent(held[i][0], held[i][1]));
}
function pageAlertKey(e) {
  if (!pageAlertShown()) return;
  e.preventDefault();
  e.stopImmediatePropagation();
  if (e.type === 'keydown' && !e.repeat && (e.key === 'Enter' || e.key === 'Escape')) { pageAlertClose(); return; }
  if (e.key === 'Enter' || e.key === 'Escape') return;  // the closing key's release and repeats
  pageAlertHeldKeys.push([e.type, { key: e.key, code: e.code, altKey: e.altKey, ctrlKey: e.ctrlKey, shiftKey: e.shiftKey,
                                     metaKey: e.metaKey, repeat: e.repeat, bubbles: true, cancelable: true }]);
}
if (typeof window.addEventListener === 'function' && typeof document !== 'undefined' && typeof KeyboardEvent !== 'undefined') {
  window.alert = pageAlert;
  window.addEventListener('keydown', pageAlertKey, true);
  window.addEventListener('keyup', pageAlertKey, true);
}
