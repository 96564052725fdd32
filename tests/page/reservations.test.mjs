// Reservation ids, the history's numbering and saved lines, favourites and the play keys' starts.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;
const entry = (o) => ({ id: 0, title: '', time: '', performers: [], insUsed: false, ...o });

test('history numbers restart after performers and after an end-of-run mark', () => {
  const p = loadPage(FILES);
  const cases = [
    [[{}, { performers: ['철수'], insUsed: true }, {}, { insUsed: true }, {}], [1, 2, 1, 2, 1]],
    [[{}, {}, {}], [1, 2, 3]],
    [[{ insUsed: true }, { insUsed: true }, {}], [1, 1, 1]],
    [[], []],
  ];
  for (const [list, want] of cases) {
    assert.deepEqual(Array.from(p.computeDisplayNumbers(list.map(entry))), want);
  }
});

test('reservation ids carry adjustments only when there are some', () => {
  const p = loadPage(FILES);
  const cases = [
    [{ _t: 0, _p: 0, _km: -1 }, 0, '77'],
    [{ _t: 0, _p: 2, _km: -1 }, 1, '77:0:2:1'],
    [{ _t: -3, _p: 0, _km: 2 }, 0, '77:-3:0:2'],
    [{ _t: 0, _p: 0, _km: 0 }, 1, '77:0:0:0'],
  ];
  for (const [adj, auto, want] of cases) {
    p.autoKeyMode = auto;
    assert.equal(p.resvMsgId({ id: 77, ...adj }), want);
  }
});

test('the key cell of a female-key reservation shows the female key and the shifted range', () => {
  const p = loadPage(FILES);
  const r = p.makeReservation({ id: 5, keys: 'C/D/A', tempo: 100 });
  r._km = 2;
  p.setMelodyRange(5, 60, 72);
  const html = p.keyCellHtml(r);
  assert.match(html, />여</);
  assert.match(html, / A /);
  assert.match(html, /라\/라/);
  r._p = 2;
  assert.match(p.keyCellHtml(r), /\+2.* B .*시\/시/);
  assert.equal(p.keyModeShift({ keys: 'C/D/A' }, 1), 2);
  assert.equal(p.transposeChordName('F#m7/C#', 1), 'Gm7/D');
});

test('history lines: saved text, the seventh bar, performers cleaned', () => {
  const p = loadPage(FILES);
  p.songLoaded = true;
  p.beginSongHistory(12, '사랑\t노래');
  p.checkHistoryThreshold(5);
  assert.equal(p.playedSongHistory.length, 0);
  p.curSongPerformers.push('영희');
  p.checkHistoryThreshold(6);
  p.checkHistoryThreshold(9);
  assert.equal(p.playedSongHistory.length, 1);
  const line = p.historySaveText();
  assert.match(line, /^12\t사랑 노래\t\d{4}-\d\d-\d\d \d\d:\d\d\t영희\t0$/);
  // a later name joins the same entry and marks it
  p.curSongPerformers.push('a;b\tc');
  p.curSongHistoryEntry.insUsed = true;
  assert.match(p.historySaveText(), /\t영희;abc\t1$/);
  assert.equal(p.posted.filter((m) => m.startsWith('HISTORY_SAVE:')).length, 1);
});

test('an empty performer name changes nothing', () => {
  const p = loadPage(FILES, { document: fakeDocument() });
  p.songLoaded = true;
  p.beginSongHistory(3, 'x');
  p.openInsInput();
  p.document.getElementById('ins-name-input').value = '  ;\t ';
  p.confirmInsInput();
  assert.equal(p.curSongPerformers.length, 0);
  assert.equal(p.curSongInsUsed, false);
  assert.equal(p.insInputOpen, false);
  assert.ok(!p.posted.some((m) => m.startsWith('HISTORY_SAVE:')));
  p.openInsInput();
  p.document.getElementById('ins-name-input').value = ' 민수 ';
  p.confirmInsInput();
  assert.deepEqual(Array.from(p.curSongPerformers), ['민수']);
  assert.equal(p.curSongInsUsed, true);
});

test('favourites: a set of the same name is replaced, an empty name is 이름없음', () => {
  const p = loadPage(FILES, { document: fakeDocument() });
  p.initSongDb([{ id: 1, title: 'A', subtitle: 'live' }, { id: 2, title: 'B' }]);
  p.initFavorites([{ name: '철수', id: 9, title: 'old', t: 1, p: 0, km: 'x' }, { name: '영희', id: 2, title: 'B' }]);
  assert.equal(p.favList[0].km, -1);
  p.reservedQueue.push(p.makeReservation(p.songDb[0]), p.makeReservation(p.songDb[1]));
  p.reservedQueue[0]._t = 2;
  p.reservedQueue[1]._km = 1;
  p.openFavInput();
  for (const k of 'ㅊㅓㄹㅅㅜ') p.favComposer.input(k);
  p.confirmFavInput();
  const saved = p.posted.filter((m) => m.startsWith('FAV_SAVE:')).pop();
  assert.equal(saved, 'FAV_SAVE:영희\t2\tB\t0\t0\t-1\n철수\t1\tA (live)\t2\t0\t-1\n철수\t2\tB\t0\t0\t1');
  p.openFavInput();
  p.confirmFavInput();
  assert.match(p.posted.pop(), /\n이름없음\t1\tA \(live\)\t2\t0\t-1\n이름없음\t2\tB\t0\t0\t1$/);
  // reserving a set carries its adjustments; a song no longer in the catalogue is skipped
  p.reservedQueue.length = 0;
  p.favSelIdx = 0;
  p.initFavorites([{ name: 'x', id: 1, title: 'A', t: -1, p: 3, km: 2 }, { name: 'x', id: 99, title: 'gone' }]);
  p.reserveFromFav();
  assert.equal(p.reservedQueue.length, 1);
  assert.equal(p.resvMsgId(p.reservedQueue[0]), '1:-1:3:2');
});

test('Enter twice within the busy time starts once', () => {
  const p = loadPage(FILES);
  p.initSongDb([{ id: 4, title: 'A' }, { id: 5, title: 'B' }]);
  p.reservedQueue.push(p.makeReservation(p.songDb[0]), p.makeReservation(p.songDb[1]));
  p.posted.length = 0;
  p.startOrNextReserved();
  p.startOrNextReserved();
  assert.deepEqual(Array.from(p.posted.filter((m) => !m.startsWith('DBG:ENTER_GO') && !m.startsWith('PREWARM') && !m.startsWith('CW_NEXT'))),
                   ['START_SONG_ID:4', 'DBG:ENTER_BUSY']);
  p.setPlayingState(1);
  p.handleSongNaturalEnd();
  assert.equal(p.posted.filter((m) => m.startsWith('NEXT_SONG_ID:')).pop(), 'NEXT_SONG_ID:5');
  p.handleSongNaturalEnd();
  assert.equal(p.posted.pop(), 'SONG_END_NO_NEXT_STOP');
});

// Just enough of a document for the panels' fields.
function fakeDocument() {
  const els = {};
  const make = (id) => ({ id, style: {}, value: '', textContent: '', innerHTML: '', focus() {}, blur() {},
                          setAttribute() {}, querySelector: () => null, appendChild() {}, insertBefore() {} });
  return {
    getElementById(id) {
      if (['ins-overlay', 'fav-input-overlay', 'fav-overlay', 'history-overlay', 'song-search-overlay'].includes(id) ||
          els[id]) return (els[id] ||= make(id));
      if (els['ins-overlay'] && id === 'ins-name-input') return (els[id] ||= make(id));
      if (els['fav-input-overlay'] && ['fav-name-input', 'fav-input-song', 'fav-hg-mode'].includes(id)) return (els[id] ||= make(id));
      return null;
    },
    createElement: (t) => make(t),
    body: { appendChild() {} },
    addEventListener() {},
  };
}
