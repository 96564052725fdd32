// The page's end of the channel, run in a bare script context with a stand-in WebSocket.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const shimSource = fs.readFileSync(path.join(here, '../../ui/page/webview-shim.js'), 'utf8');

// A window with just what the shim touches; returns the window and its one socket.
function loadShim(settings) {
  const listeners = {};
  const sockets = [];
  class FakeSocket {
    constructor(url) {
      this.url = url;
      this.readyState = 0;
      this.sent = [];
      sockets.push(this);
    }
    send(frame) {
      assert.equal(this.readyState, 1, 'send before open');
      this.sent.push(frame);
    }
    open() { this.readyState = 1; this.onopen(); }
    deliver(data) { this.onmessage({ data }); }
  }
  const win = {
    location: { protocol: 'http:', host: '127.0.0.1:5000', pathname: '/', reloaded: 0,
                reload() { this.reloaded++; } },
    WebSocket: FakeSocket,
    console: { error() {} },
    __tvSettings: settings,
    addEventListener(type, fn) { (listeners[type] ||= []).push(fn); },
    fire(type, event) { for (const fn of listeners[type] || []) fn(event); },
  };
  const context = vm.createContext(win);
  vm.runInContext(shimSource, context);
  assert.equal(sockets.length, 1);
  return { win, context, socket: sockets[0] };
}

test('messages posted before the channel opens go first, then the loaded notice', () => {
  const { win, socket } = loadShim({});
  assert.equal(socket.url, 'ws://127.0.0.1:5000/__tavelo/ws?v=%2F');
  win.chrome.webview.postMessage('FIRST');
  win.chrome.webview.postMessage('SECOND:1');
  win.fire('load');
  socket.open();
  win.chrome.webview.postMessage('THIRD');
  win.chrome.webview.postMessage({ a: 1 });
  win.chrome.webview.postMessage(7);
  assert.deepEqual(socket.sent, ['MFIRST', 'MSECOND:1', 'N', 'MTHIRD', 'J{"a":1}', 'J7']);
});

test('the loaded notice waits for the document when the channel opens first', () => {
  const { win, socket } = loadShim({});
  socket.open();
  assert.deepEqual(socket.sent, []);
  win.fire('load');
  win.fire('load');
  assert.deepEqual(socket.sent, ['N']);
});

test('scripts run in order at global scope; one that throws does not stop the next', () => {
  const { win, context, socket } = loadShim({});
  win.fire('load');
  socket.open();
  socket.deliver('S1 var order = [1]; function helper(){ return 5; }');
  socket.deliver('S2 order.push(helper());');
  socket.deliver('S3 throw new Error("boom");');
  socket.deliver('S4 order.push(undefinedFunction());');
  socket.deliver('S5 order.push(3); var big = "' + 'x'.repeat(200001) + '";');
  assert.deepEqual(Array.from(vm.runInContext('order', context)), [1, 5, 3]);
  assert.equal(vm.runInContext('big.length', context), 200001);
  assert.deepEqual(socket.sent, ['N', 'D1', 'D2', 'D3', 'D4', 'D5']);
});

test('scripts that come while the page is still loading wait for its own functions', () => {
  const { win, context, socket } = loadShim({});
  socket.open();
  socket.deliver('S1 var order = [pageFunction(1)];');
  socket.deliver('T2 pageTable {"keys":["id"],"rows":[[2]]}');
  socket.deliver('S3 order.push(pageFunction(3));');
  assert.deepEqual(socket.sent, []);
  vm.runInContext('function pageFunction(n) { return n; } function pageTable(l) { order.push(l[0].id); }', context);
  win.fire('load');
  assert.deepEqual(Array.from(vm.runInContext('order', context)), [1, 2, 3]);
  assert.deepEqual(socket.sent, ['D1', 'D2', 'D3', 'N']);
});

test('reload and navigation requests', () => {
  const { win, socket } = loadShim({});
  socket.open();
  socket.deliver('R');
  assert.equal(win.location.reloaded, 1);
  socket.deliver('Ghttp://127.0.0.1:5000/customer');
  assert.equal(win.location.href, 'http://127.0.0.1:5000/customer');
});

test('zoom and browser keys are held back only when the settings say so', () => {
  function keydown(settings, init) {
    const { win } = loadShim(settings);
    let prevented = false;
    win.fire('keydown', { ...init, preventDefault() { prevented = true; } });
    return prevented;
  }
  const off = { zoom: false, acceleratorKeys: false };
  const cases = [
    [off, { key: 'F5' }, true],
    [off, { key: 'f', ctrlKey: true }, true],
    [off, { key: 'p', ctrlKey: true }, true],
    [off, { key: '+', ctrlKey: true }, true],
    [off, { key: 'a' }, false],
    [off, { key: 'Enter' }, false],
    [off, { key: 'F11' }, false],
    [{}, { key: 'F5' }, false],
    [{}, { key: '+', ctrlKey: true }, false],
  ];
  for (const [settings, init, want] of cases) {
    assert.equal(keydown(settings, init), want, JSON.stringify([settings, init]));
  }
});

test('a table frame hands its rows to the page function as objects, in order with the scripts', () => {
  const { win, context, socket } = loadShim({});
  win.fire('load');
  socket.open();
  vm.runInContext('var got = []; function takeSongs(list) { got.push(list); }', context);
  const table = {
    keys: ['id', 'title', 'line1', 'koTitle', 'koSinger', '__proto__'],
    rows: [[1, "Don't \"x\"", 'a b'], [2, 'T', '', null, '가수'], [3, '제목', 'x', '한', '둘', { polluted: 1 }], 7],
  };
  socket.deliver('S1 got.push("before");');
  socket.deliver('T2 takeSongs ' + JSON.stringify(table));
  socket.deliver('S3 got.push("after");');
  const got = JSON.parse(vm.runInContext('JSON.stringify(got)', context));
  assert.deepEqual(got, [
    'before',
    [{ id: 1, title: "Don't \"x\"", line1: 'a b' },
     { id: 2, title: 'T', line1: '', koSinger: '가수' },  // null and missing cells leave their keys out
     { id: 3, title: '제목', line1: 'x', koTitle: '한', koSinger: '둘' },
     {}],
    'after',
  ]);
  assert.equal(vm.runInContext('Object.prototype.polluted', context), undefined);
  assert.deepEqual(socket.sent, ['N', 'D1', 'D2', 'D3']);
});

test('a table frame for a missing function, or with bad data, is answered and stops nothing', () => {
  const { win, context, socket } = loadShim({});
  win.fire('load');
  socket.open();
  vm.runInContext('var calls = []; function take(list) { calls.push(list.length); }', context);
  const cases = [
    'T1 noSuchFunction {"keys":["id"],"rows":[[1]]}',
    'T2 take {"keys":["id"],"rows":[[1],',  // cut short
    'T3 take [1,2]',                         // not a table: an empty list
    'T4 take',
    'T5',
    'T6 take {"keys":["id"],"rows":[[1],[2]]}',
  ];
  for (const frame of cases) socket.deliver(frame);
  assert.deepEqual(Array.from(vm.runInContext('calls', context)), [0, 2]);
  assert.deepEqual(socket.sent, ['N', 'D1', 'D2', 'D3', 'D4', 'D5', 'D6']);
});
