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
