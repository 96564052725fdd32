// Customer mode's page logic without a browser: labels, brightness, entering twice, the silenced
// panels and dialogs, custom font families.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

function el() { return { style: {}, children: [], clientHeight: 0, clientWidth: 0, parentNode: null, nextSibling: null }; }

function page() {
  const els = {};
  for (const id of ['app-root', 'corner-buttons', 'help-panel', 'settings-overlay', 'top-bar']) els[id] = el();
  const p = loadPage(['customer_mode.js', 'backgrounds.js'], {
    settingsPanelOpen: false, helpHidden: false, helpOverSong: false,
    document: { getElementById: (id) => els[id] || null, documentElement: { style: {}, classList: { toggle() {} } } },
    innerHeight: 1080, innerWidth: 1920,
  });
  return { p, els };
}

test('shortLabel and fullLabel', () => {
  const { p } = page();
  const cases = [['가나다라마바', 5, '가나다라마…'], [null, 5, ''], ['  abc  ', undefined, 'abc'], ['abcdef', undefined, 'abcde…'],
                 ['abcde', 5, 'abcde']];
  for (const [s, n, want] of cases) assert.equal(p.shortLabel(s, n), want);
  assert.equal(p.fullLabel({ __full: 'whole', innerText: 'who…' }), 'whole');
  assert.equal(p.fullLabel({ innerText: 'shown' }), 'shown');
  assert.equal(p.fullLabel(null), '');
});

test('brightness is limited to 50..200 and 100 removes the filter', () => {
  const { p, els } = page();
  const cases = [[300, 'brightness(2)', 200], [100, 'none', 100], [10, 'brightness(0.5)', 50], ['x', 'brightness(0.5)', 50],
                 [150, 'brightness(1.5)', 150]];
  for (const [v, filter, stored] of cases) {
    p.cwSetBright(v);
    assert.equal(els['app-root'].style.filter, filter);
    assert.equal(p.customerBright, stored);
  }
});

test('entering customer mode twice keeps the replacements and silences panels and dialogs', () => {
  const { p, els } = page();
  let opened = 0;
  p.openSettingsPanel = () => { opened++; };
  p.showPcCheck = () => { opened++; };
  p.enterCustomerMode();
  const silenced = p.openSettingsPanel;
  const wrappedBg = p.refreshBg;
  p.enterCustomerMode();
  assert.equal(p.openSettingsPanel, silenced);
  assert.equal(p.refreshBg, wrappedBg);
  p.openSettingsPanel();
  p.showPcCheck(1, 2);
  assert.equal(opened, 0);
  assert.equal(p.confirm('x'), false);
  assert.equal(p.prompt('x'), null);
  assert.equal(p.__customerMode, 1);
  assert.equal(els['corner-buttons'].style.display, 'none');
  assert.equal(els['settings-overlay'].style.display, 'none');
});

test('custom font families and the font request', () => {
  const { p } = page();
  assert.equal(p.customFamilyName('My Font (1).ttf'), 'CF_My_Font__1__ttf');
  assert.equal(p.customFamilyName('My_Font_(1).ttf'), p.customFamilyName('My Font [1].ttf'));
  assert.equal(p.customFamilyName('나눔고딕.otf'), 'CF_나눔고딕_otf');
  assert.equal(p.lyricFamilyOf('file:a b.ttf'), 'CF_a_b_ttf');
  assert.equal(p.lyricFamilyOf('Noto Sans'), 'Noto Sans');
  p.ensureCustomFontLoaded('Noto Sans');
  p.ensureCustomFontLoaded('file:x.ttf');
  p.customFontsLoaded['y.ttf'] = true;
  p.ensureCustomFontLoaded('file:y.ttf');
  assert.deepEqual([...p.posted], ['LOAD_CUSTOM_FONT:x.ttf']);
});

test('a camera granted after a newer background choice is stopped, not shown', async () => {
  const pending = [];
  const video = { style: {}, attrs: {}, srcObject: null, paused: true,
                  getAttribute(k) { return this.attrs[k] ?? null; }, setAttribute(k, v) { this.attrs[k] = v; },
                  removeAttribute(k) { delete this.attrs[k]; }, load() {}, play() { this.paused = false; return Promise.resolve(); },
                  pause() { this.paused = true; } };
  const els = { 'cw-bg-video': video };
  const p = loadPage(['customer_mode.js'], {
    document: { getElementById: (id) => els[id] || null, documentElement: { style: {} } },
    navigator: { mediaDevices: {
      getUserMedia: () => new Promise((resolve) => pending.push(resolve)),
      enumerateDevices: () => Promise.resolve([{ kind: 'videoinput', label: 'cam', deviceId: 'd1' }]),
    } },
    setInterval: () => 1, clearInterval() {},
    mediaUrl: (host, f) => '/' + host + '/' + encodeURIComponent(f), VIDEO_HOST: 'video.tavelo',
  });
  p.cwSetCam(1, '');
  p.cwSetVideo(1, 'clip.mp4');
  let stopped = 0;
  pending[0]({ getTracks: () => [{ stop() { stopped++; } }], getVideoTracks: () => [] });
  await new Promise((r) => setTimeout(r, 10));
  assert.equal(stopped, 1);
  assert.equal(p.__cwCamMode, 0);
  assert.equal(video.srcObject, null);
  assert.equal(video.getAttribute('src'), '/video.tavelo/clip.mp4');
  assert.deepEqual([...p.posted].filter((m) => m.startsWith('CW_CAM')), []);
});
