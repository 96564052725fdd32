// The audio panel's playing logic: two elements alternate, the next file preloaded; whole
// addresses are compared; the end of the list, pausing and a shrinking list.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

function fakeAudio() {
  const attrs = {};
  return {
    attrs, paused: true, currentTime: 0, onended: null, onerror: null, loads: 0,
    getAttribute: (k) => (k in attrs ? attrs[k] : null),
    setAttribute(k, v) { attrs[k] = String(v); },
    removeAttribute(k) { delete attrs[k]; },
    play() { this.paused = false; return Promise.resolve(); },
    pause() { this.paused = true; },
    load() { this.loads++; },
  };
}

function page() {
  const els = { aud0: fakeAudio(), aud1: fakeAudio(), 'test-audio-badge': { style: { display: 'none' }, textContent: '' } };
  const timers = [];
  const p = loadPage(['audio_panel.js'], {
    document: { getElementById: (id) => els[id] || null },
    setTimeout: (fn, ms) => { timers.push([fn, ms]); return timers.length; },
    AUDIO_HOST: 'audio.tavelo',
    mediaUrl: (host, f) => '/' + host + '/' + encodeURIComponent(f),
    rootPath: (rel) => '/srv/tavelo/' + rel,
  });
  return { p, els, timers };
}
const src = (el) => el.getAttribute('src');
const badge = (els) => (els['test-audio-badge'].style.display === 'none' ? null : els['test-audio-badge'].textContent);

test('files play one after the other on alternating elements', () => {
  const { p, els } = page();
  p.setAudioList([{ f: 'x.mp3', t: 'x' }, { f: 'y z.mp3', t: 'y z' }, { f: 'w.mp3', t: 'w' }]);
  p.playAudioFrom(0);
  assert.equal(src(els.aud0), '/audio.tavelo/x.mp3');
  assert.equal(src(els.aud1), '/audio.tavelo/y%20z.mp3');
  assert.equal(badge(els), '▶ (1/3) x');
  els.aud0.onended();
  assert.equal(p.audioCurEl, 1);
  assert.equal(p.audioPlayIdx, 1);
  assert.equal(els.aud1.paused, false);
  assert.equal(src(els.aud0), '/audio.tavelo/w.mp3');
  assert.equal(badge(els), '▶ (2/3) y z');
  p.audioPauseToggle();
  assert.equal(badge(els), '⏸ (2/3) y z');
  assert.equal(els.aud1.paused, true);
});

test('an element holding "ba.mp3" is not taken for "a.mp3"', () => {
  const { p, els } = page();
  p.setAudioList([{ f: 'x.mp3', t: 'x' }, { f: 'ba.mp3', t: 'ba' }]);
  p.playAudioFrom(0);
  assert.equal(src(els.aud1), '/audio.tavelo/ba.mp3');
  // A new file arrives in the list before the playing one ends.
  p.setAudioList([{ f: 'x.mp3', t: 'x' }, { f: 'a.mp3', t: 'a' }, { f: 'ba.mp3', t: 'ba' }]);
  els.aud0.onended();
  assert.equal(src(els.aud1), '/audio.tavelo/a.mp3');
  assert.equal(badge(els), '▶ (2/3) a');
});

test('the end of the last file stops and shows the done badge for 1.5 s', () => {
  const { p, els, timers } = page();
  p.setAudioList([{ f: 'only.mp3', t: 'only' }]);
  p.playAudioFrom(5);
  assert.equal(p.audioPlayIdx, 0);
  els.aud0.onended();
  assert.equal(p.audioPlayIdx, -1);
  assert.equal(src(els.aud0), null);
  assert.equal(els.aud0.onended, null);
  assert.equal(badge(els), '오디오 재생 완료');
  const [fn, ms] = timers[timers.length - 1];
  assert.equal(ms, 1500);
  fn();
  assert.equal(badge(els), null);
});

test('edge cases: nothing to play, Space without a file, a shrinking list', () => {
  const { p, els } = page();
  p.playAudioFrom(0);
  assert.equal(badge(els), '오디오 폴더에 파일이 없습니다 · /srv/tavelo/audio');
  p.hideTestBadge();
  p.audioPauseToggle();
  assert.equal(badge(els), null);
  assert.equal(p.audioPaused, false);
  p.setAudioList([{ f: 'a.mp3', t: 'a' }, { f: 'b.mp3', t: 'b' }, { f: 'c.mp3', t: 'c' }]);
  p.audioSel = 2;
  p.setAudioList([{ f: 'a.mp3', t: 'a' }]);
  assert.equal(p.audioSel, 0);
  p.setAudioList(undefined);
  assert.equal(p.audioList.length, 0);
  p.showTestBadge('<b>x</b>');
  assert.equal(badge(els), '<b>x</b>');
});
