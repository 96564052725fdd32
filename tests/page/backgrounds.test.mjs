// The background painter, lite mode and the mouse lock without a browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

function page(extra = {}) {
  const els = {};
  for (const id of ['app-root', 'main-stage', 'lyrics-stage', 'corner-buttons', 'help-panel', 'top-bar',
                    'song-progress-row', 'mouse-lock-badge']) els[id] = { id, style: {}, innerHTML: '' };
  const classes = new Set();
  const listeners = {};
  const p = loadPage(['backgrounds.js'], {
    settingsPanelOpen: false, helpHidden: false, helpOverSong: false,
    document: { getElementById: (id) => els[id] || null,
                documentElement: { classList: { toggle: (c, on) => (on ? classes.add(c) : classes.delete(c)) } } },
    addEventListener: (type, fn, capture) => { listeners[type] = { fn, capture }; },
    ...extra,
  });
  return { p, els, classes, listeners };
}

test('the painter: picture, random picture while a song is up, gradient, lite colours', () => {
  const { p, els } = page();
  const cases = [
    // [lite, customer, song loaded, random on, main data, random data, root background wanted]
    [0, 0, false, 0, null, null, 'linear-gradient(135deg,#efe9dc,#e3dcc9)'],
    [0, 0, false, 0, 'data:image/png;base64,AA==', null, "url('data:image/png;base64,AA==') center / cover no-repeat"],
    [0, 0, true, 1, 'data:image/png;base64,AA==', 'data:image/gif;base64,BB==', "url('data:image/gif;base64,BB==') center / cover no-repeat"],
    [0, 0, false, 1, 'data:image/png;base64,AA==', 'data:image/gif;base64,BB==', "url('data:image/png;base64,AA==') center / cover no-repeat"],
    [1, 0, true, 1, 'data:x', 'data:y', '#1b1e24'],
    [1, 1, false, 0, 'data:x', null, '#000'],
    [0, 0, false, 0, "data:');}body{x:url('", null, "url('data:;bodyx:url') center / cover no-repeat"],
  ];
  for (const [lite, customer, loaded, random, main, rnd, want] of cases) {
    p.__liteMode = lite;
    p.__customerMode = customer;
    p.songLoaded = loaded;
    p.bgRandomOn = random;
    p.mainBgData = main;
    p.randomBgData = rnd;
    p.refreshBg();
    assert.equal(els['app-root'].style.background, want);
    assert.equal(els['corner-buttons'].style.display, loaded ? 'none' : 'flex');
    assert.equal(els['main-stage'].style.background, loaded ? '#fdfbf7' : 'transparent');
  }
});

test('lite mode hides the progress row and posts the chosen setting', () => {
  const { p, els } = page();
  p.setLiteMode(1, 7);
  assert.equal(p.liteSet, -1);
  assert.equal(p.__liteMode, 1);
  assert.equal(els['song-progress-row'].style.display, 'none');
  p.setLiteMode(0, 0);
  assert.equal(els['song-progress-row'].style.display, 'flex');
  p.setLiteMode2(3);
  p.setBgRandom(1);
  p.setBgRandom(0);
  assert.deepEqual([...p.posted], ['SET_LITE_MODE:-1', 'SET_BG_RANDOM:1', 'BG_RANDOM_NEXT', 'SET_BG_RANDOM:0']);
  p.initCamList(['a'], '1', undefined);
  assert.equal(p.cvVideoSrc, 0);
  assert.equal(p.cvCamLabel, '');
});

test('the mouse lock holds while a song is up on a laptop until ALT+B', () => {
  const { p, els, classes, listeners } = page();
  let stopped = 0;
  const click = { preventDefault() {}, stopImmediatePropagation() { stopped++; } };
  p.setPcIsLaptop(1);
  assert.equal(els['mouse-lock-badge'].style.display, 'none');
  listeners.click.fn(click);
  assert.equal(stopped, 0);
  p.songLoaded = true;
  p.applyMouseLockUi();
  assert.ok(classes.has('mouse-locked'));
  assert.equal(els['mouse-lock-badge'].innerHTML, '&#128433; 잠금');
  listeners.click.fn(click);
  assert.equal(stopped, 1);
  assert.equal(listeners.click.capture, true);
  p.toggleMouseLock();
  assert.ok(!classes.has('mouse-locked'));
  assert.equal(els['mouse-lock-badge'].innerHTML, '&#128433; 해제');
  listeners.click.fn(click);
  assert.equal(stopped, 1);
  p.setPcIsLaptop(0);
  assert.equal(els['mouse-lock-badge'].style.display, 'none');
});
