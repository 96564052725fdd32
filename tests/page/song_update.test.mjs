// The song update dialog's page logic: progress clamps, the final message and song count, the
// single start, the no-answer watch and the automatic close.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

// Just enough of a document for the dialog: elements by id and the checked mode radio.
function page() {
  const els = {};
  const el = (id) => (els[id] ??= { id, style: {}, textContent: '', disabled: false, innerHTML: '' });
  let mode = 'incr';
  const document = {
    getElementById: (id) => el(id),
    querySelector: (sel) => {
      const m = /value="(\w+)"/.exec(sel);
      if (m) return { set checked(v) { if (v) mode = m[1]; } };
      return { value: mode };
    },
  };
  const timers = [];
  const intervals = [];
  let now = 1000;
  const p = loadPage(['song_update.js'], {
    document,
    Date: { now: () => now },
    setTimeout: (fn, ms) => { timers.push({ fn, ms }); return timers.length; },
    setInterval: (fn, ms) => { intervals.push({ fn, ms }); return intervals.length; },
    clearInterval: (id) => { if (intervals[id - 1]) intervals[id - 1].fn = () => {}; },
  });
  Object.assign(p, { els, el, timers, intervals, advance: (ms) => { now += ms; }, setMode: (m) => { mode = m; } });
  return p;
}

test('progress is clamped, keeps an earlier status and shows the song counter', () => {
  const p = page();
  const cases = [[150, 'a', 1, 3, '100%', 'a', '진행: 1 / 3 곡'], [-5, '', 0, 0, '0%', 'a', ''],
                 [42.6, 'b', 2, 5, '43%', 'b', '진행: 2 / 5 곡']];
  for (const [pct, status, done, total, shown, statusShown, detail] of cases) {
    p.updateModalProgress(pct, status, done, total);
    assert.equal(p.el('update-pct').textContent, shown);
    assert.equal(p.el('update-status').textContent, statusShown);
    assert.equal(p.el('update-detail').textContent, detail);
  }
});

test('start sends one command, and the end message releases the dialog with the song count', () => {
  const p = page();
  p.songDb = [{ id: 1 }, { id: 2 }];
  p.openUpdateModal();
  assert.equal(p.el('update-overlay').style.display, 'flex');
  assert.equal(p.el('update-songcount').textContent, '2');
  p.setMode('full');
  p.runSongUpdate();
  p.runSongUpdate();
  assert.deepEqual(p.posted, ['RUN_SONG_UPDATE:full']);
  assert.equal(p.el('update-start-btn').disabled, true);
  p.closeUpdateModal();
  assert.equal(p.el('update-overlay').style.display, 'flex', 'no closing while running');
  for (const [cnt, shown] of [[undefined, '2'], [-1, '2'], [7, '7'], [0, '0']]) {
    p.updateDone('끝', cnt);
    assert.equal(p.el('update-songcount').textContent, shown);
  }
  assert.equal(p.el('update-status').textContent, '끝');
  p.updateDone('');
  assert.equal(p.el('update-status').textContent, '완료');
  assert.equal(p.el('update-start-btn').disabled, false);
  p.closeUpdateModal();
  assert.equal(p.el('update-overlay').style.display, 'none');
});

test('a failed run leaves the bar where it stopped, red, with the reason; the next run starts green', () => {
  const p = page();
  p.openUpdateModal();
  p.runSongUpdate();
  p.updateModalProgress(30, '로그인 중...', 0, 0);
  p.updateDone('127.0.0.1:1 로그인에 실패했습니다.', -1, 1);
  assert.equal(p.el('update-bar').style.width, '30%');
  assert.match(p.el('update-bar').style.background, /#e74c3c/);
  assert.equal(p.el('update-pct').textContent, '실패');
  assert.equal(p.el('update-status').textContent, '실패: 127.0.0.1:1 로그인에 실패했습니다.');
  assert.equal(p.el('update-start-btn').disabled, false);
  p.runSongUpdate();
  assert.match(p.el('update-bar').style.background, /#2ecc71/);
  p.updateDone('[신곡 업데이트 완료] 3건 받음', 9, 0);
  assert.equal(p.el('update-bar').style.width, '100%');
  assert.equal(p.el('update-status').textContent, '[신곡 업데이트 완료] 3건 받음');
});

test('the watch gives up after two minutes without progress', () => {
  const p = page();
  p.openUpdateModal();
  p.runSongUpdate();
  const watch = p.intervals.at(-1);
  assert.equal(watch.ms, 5000);
  p.advance(119000);
  watch.fn();
  assert.equal(p.updateRunning, true);
  p.advance(2000);
  watch.fn();
  assert.equal(p.updateRunning, false);
  assert.equal(p.el('update-status').textContent, '응답이 없어 대기를 멈췄습니다. 다시 눌러보세요.');
  assert.equal(p.el('update-start-btn').disabled, false);
});

test('the first-install update opens the dialog, runs in full and hides it after its end', () => {
  const p = page();
  p.startFullUpdateAuto();
  assert.deepEqual(p.posted, ['RUN_SONG_UPDATE:full']);
  assert.equal(p.el('update-status').textContent, '처음 설치 - 전체곡을 받습니다...');
  p.updateDone('done', 5);
  const hide = p.timers.at(-1);
  assert.equal(hide.ms, 5000);
  hide.fn();
  assert.equal(p.el('update-overlay').style.display, 'none');
  assert.equal(p.__autoCloseUpdate, false);
});
