// The page's end of the channel to the program, put in front of the page's own markup by the
// page host. window.chrome.webview.postMessage sends a command to the program; scripts from the
// program run here in arrival order at global scope, once the document has loaded, and one that
// throws does not stop the next.
// Frames (first character = kind): program -> page "S<seq> <script>", "T<seq> <function> <json
// table>" (large data such as the song list: parsed here as JSON, not run as script), "R"
// (reload), "G<address>"; page -> program "M<text>", "J<json>", "N" (loaded), "D<seq>" (done).
(function (global) {
  'use strict';
  var settings = global.__tvSettings || {};
  var waiting = [];  // frames posted before the channel opened, sent in order once it does
  var socket = null;
  var loaded = false;
  var announced = false;
  var held = [];  // script and table frames that came before the document loaded, run once it has

  function open() { return socket !== null && socket.readyState === 1; }

  function send(frame) {
    if (open()) socket.send(frame);
    else waiting.push(frame);
  }

  function announce() {
    if (loaded && open() && !announced) {
      announced = true;
      socket.send('N');
    }
  }

  // Indirect eval: the script runs at global scope, its var and function declarations become
  // globals, as with the embedded browser's ExecuteScript.
  function runScript(seq, source) {
    try {
      (0, eval)(source);
    } catch (e) {
      try { console.error(e); } catch (ignored) { /* no console */ }
    }
    send('D' + seq);
  }

  // A function that turns one row of a table into an object: cell i under keys[i]; a null cell,
  // or one past the row's end, leaves its key out. A row without null cells is built by one
  // object literal for its length (one allocation with a fixed shape: the cheapest way for a
  // fresh page to make tens of thousands of objects); other rows key by key.
  function rowMaker(keys) {
    var names = [];
    for (var i = 0; i < keys.length; i++) names.push(String(keys[i]));
    var slowBody = 'var n=r.length,o={};';
    var literals = [];
    var props = [];
    for (var k = 0; k <= names.length; k++) {
      literals.push(new Function('r', 'return {' + props.join(',') + '};'));
      if (k === names.length) break;
      if (names[k] === '__proto__') continue;
      var name = JSON.stringify(names[k]);
      props.push(name + ':r[' + k + ']');
      slowBody += 'if(n>' + k + '&&r[' + k + ']!==null)o[' + name + ']=r[' + k + '];';
    }
    var slow = new Function('r', slowBody + 'return o;');
    var count = names.length;
    return function (r) {
      if (!Array.isArray(r)) return {};
      var n = r.length;
      if (n > count) return slow(r);
      for (var c = 0; c < n; c++) {
        if (r[c] === null) return slow(r);
      }
      return literals[n](r);
    };
  }

  function tableObjects(table) {
    var keys = table && table.keys;
    var rows = table && table.rows;
    if (!Array.isArray(keys) || !Array.isArray(rows)) return [];
    var make = rowMaker(keys);
    var list = new Array(rows.length);
    for (var i = 0; i < rows.length; i++) list[i] = make(rows[i]);
    return list;
  }

  // Calls a page function with a table's rows; a page without the function skips it, like a
  // script's guarded call.
  function runTableCall(seq, name, json) {
    try {
      var fn = global[name];
      if (typeof fn === 'function') fn(tableObjects(JSON.parse(json)));
    } catch (e) {
      try { console.error(e); } catch (ignored) { /* no console */ }
    }
    send('D' + seq);
  }

  function onFrame(event) {
    var data = event.data;
    if (typeof data !== 'string' || data.length === 0) return;
    var kind = data.charAt(0);
    // A script that arrives while the page's own script files are still loading would find their
    // functions missing: it waits for the load, keeping its order.
    if (!loaded && (kind === 'S' || kind === 'T')) {
      held.push(data);
      return;
    }
    runFrame(data, kind);
  }

  function runFrame(data, kind) {
    if (kind === 'S') {
      var space = data.indexOf(' ');
      if (space < 0) space = data.length;
      runScript(data.substring(1, space), data.substring(space + 1));
    } else if (kind === 'T') {
      var at = data.indexOf(' ');
      var nameEnd = at < 0 ? -1 : data.indexOf(' ', at + 1);
      if (nameEnd < 0) nameEnd = data.length;
      runTableCall(data.substring(1, at < 0 ? data.length : at),
                   at < 0 ? '' : data.substring(at + 1, nameEnd), data.substring(nameEnd + 1));
    } else if (kind === 'R') {
      global.location.reload();
    } else if (kind === 'G') {
      global.location.href = data.substring(1);
    }
  }

  function connect() {
    var scheme = global.location.protocol === 'https:' ? 'wss://' : 'ws://';
    socket = new global.WebSocket(scheme + global.location.host + '/__tavelo/ws?v=' +
                                  encodeURIComponent(global.location.pathname));
    socket.onopen = function () {
      while (waiting.length) socket.send(waiting.shift());
      announce();
    };
    socket.onmessage = onFrame;
    socket.onclose = function () { socket = null; };
  }

  function postMessage(message) {
    if (typeof message === 'string') {
      send('M' + message);
      return;
    }
    var json;
    try { json = JSON.stringify(message); } catch (e) { json = 'null'; }
    send('J' + (json === undefined ? 'null' : json));
  }

  global.chrome = global.chrome || {};
  global.chrome.webview = {
    postMessage: postMessage,
    addEventListener: function () {},
    removeEventListener: function () {}
  };

  // Page settings the program chose: zoom and the browser's own keys off for the main page, so
  // F5, Ctrl+F, Ctrl+P and the like reach the page's key handling instead of the browser.
  function isZoomKey(e) {
    return (e.ctrlKey || e.metaKey) &&
        (e.key === '+' || e.key === '-' || e.key === '=' || e.key === '0');
  }
  function isBrowserKey(e) {
    var k = (e.key || '').toLowerCase();
    if (k === 'f3' || k === 'f5' || k === 'f7' || k === 'f12') return true;
    if (e.altKey && (k === 'arrowleft' || k === 'arrowright' || k === 'home')) return true;
    if (!(e.ctrlKey || e.metaKey)) return false;
    return 'fgpsorudhjlbe'.indexOf(k) >= 0 && k.length === 1;
  }
  global.addEventListener('keydown', function (e) {
    if (settings.zoom === false && isZoomKey(e)) e.preventDefault();
    if (settings.acceleratorKeys === false && isBrowserKey(e)) e.preventDefault();
  }, true);
  global.addEventListener('wheel', function (e) {
    if (settings.zoom === false && e.ctrlKey) e.preventDefault();
  }, { capture: true, passive: false });
  global.addEventListener('contextmenu', function (e) {
    if (settings.contextMenus === false) e.preventDefault();
  }, true);

  global.addEventListener('load', function () {
    loaded = true;
    while (held.length) {
      var data = held.shift();
      runFrame(data, data.charAt(0));
    }
    announce();
  });
  connect();
})(this);
