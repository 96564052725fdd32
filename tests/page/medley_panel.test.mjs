// The medley panel's page logic: playing a medley through the reservation queue, the section
// end, and the lyric look's clamps.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;

function page() {
  const timers = [];
  const p = loadPage(FILES, { setTimeout: (fn) => { timers.push(fn); return timers.length; }, alert() {} });
  p.timers = timers;
  return p;
}

test('playing a medley reserves items 2..n with their key and tempo and starts item 1', () => {
  const p = page();
  p.songDb = [{ id: 1001, title: '아리랑', keys: 'C/D/A' }];
  p.initMedley([{ id: 1002, s: 0, e: 3, k: 0, p: 0, t: 0, f: 1, n: 'first' },
                { id: 1001, s: 4, e: 8, k: 2, p: -3, t: 5, f: 0, n: 'x' },
                { id: 9999, s: 0, e: 1, k: 1, p: 2, t: -4, f: 0, n: 'not listed' }], ['a'], 'set', -1);
  p.mdPlay();
  assert.equal(p.modeMedley, true);
  assert.deepEqual(JSON.parse(JSON.stringify(p.reservedQueue.map((r) => [r.id, r.title, r._t, r._p, r._km]))),
                   [[1001, '아리랑', 5, -3, 2], [9999, 'not listed', -4, 2, 1]]);
  assert.deepEqual(p.posted.filter((m) => m.startsWith('MEDLEY') || m.startsWith('SET_PLAY')),
                   ['SET_PLAY_MODE:0:1', 'MEDLEY_START:1']);
});

test('a section end takes the next reservation once, and ends the medley on an empty queue', () => {
  const p = page();
  p.reservedQueue.push({ id: 5, _t: 0, _p: 2, _km: 0 }, { id: 6, _t: 0, _p: 0, _km: -1 });
  p.handleMedleyEnd();
  p.handleMedleyEnd();  // within 2.5 s: nothing more
  assert.deepEqual(p.posted.filter((m) => /NEXT_SONG|MEDLEY/.test(m)), ['NEXT_SONG_ID:5:0:2:0']);
  p.timers.forEach((fn) => fn());
  p.__cvtOn = true;
  p.handleMedleyEnd();
  assert.equal(p.posted.at(-1), 'AUTO_NEXT_SONG_ID:6');
  p.timers.forEach((fn) => fn());
  p.handleMedleyEnd();
  assert.equal(p.posted.at(-1), 'MEDLEY_STOPMODE');
});

test('initMedley takes missing values as empty', () => {
  const p = page();
  p.initMedley(undefined, null, undefined, undefined);
  assert.deepEqual([p.medleyList.length, p.medleyFiles.length, p.medleyName, p.medleyMarkBar], [0, 0, '', -1]);
  p.mdPlay();  // empty: an alert, nothing posted
  assert.deepEqual(p.posted, []);
});

test('the lyric size is clamped to 50..200 percent', () => {
  const p = page();
  const cases = [[300, 200], [10, 50], ['120', 120], ['x', 50]];
  for (const [v, want] of cases) {
    p.setLyricFontScaleDisplay(v);
    assert.equal(p.lyricFontScale, want, String(v));
  }
  p.setLyricFontScale(300);
  assert.equal(p.posted.at(-1), 'SET_LYRIC_FONTSIZE:200');
  assert.equal(p.lyricFontSizeCss(100), 'clamp(48px, max(9.26vh, min(7.00vw, 100px)), 200px)');
  assert.equal(p.lyricFontSizeCss(150), 'clamp(72px, max(13.89vh, min(10.50vw, 150px)), 300px)');
});
