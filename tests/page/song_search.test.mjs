// The search rules of the song search panel, run on small catalogues without a browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;

function song(id, title, singer = '', extra = {}) {
  return { id, title, subtitle: '', singer, tempo: 100, genre: '', keys: 'C/D/A', line1: '',
           chosung: toCho(title), singerChosung: toCho(singer), ...extra };
}
const INITIALS = 'ㄱㄲㄴㄷㄸㄹㅁㅂㅃㅅㅆㅇㅈㅉㅊㅋㅌㅍㅎ';
function toCho(t) {
  let o = '';
  for (const ch of t) {
    const c = ch.codePointAt(0);
    if (c >= 0xac00 && c <= 0xd7a3) o += INITIALS[Math.floor((c - 0xac00) / 588)];
  }
  return o;
}

// A page with `songs` loaded and the search panel state set from `state`.
function pageWith(songs, state = {}) {
  const p = loadPage(FILES);
  p.initSongDb(songs);
  p.posted.length = 0;
  for (const [k, v] of Object.entries(state)) p[k] = v;
  return p;
}
function search(p, state) {
  for (const [k, v] of Object.entries(state)) p[k] = v;
  p.recomputeSearchResults();
  return Array.from(p.searchResults, (s) => s.id);
}

test('consonant prefix: a plain consonant finds its tense twin, not the reverse', () => {
  const p = pageWith([song(1, '까나'), song(2, '가나'), song(3, '나비')]);
  const cases = [
    ['ㄱㄴ', [2, 1]],
    ['ㄲ', [1]],
    ['ㄱ', [2, 1]],
    ['ㄴㅂ', [3]],
    ['ㅎ', []],
  ];
  for (const [q, want] of cases) assert.deepEqual(search(p, { searchQuery: q }), want, q);
});

test('exact hits first; the core length before a bracket counts as exact in title mode', () => {
  const p = pageWith([song(1, '가나다라'), song(2, '가나다 (리믹스)'), song(3, '가나다마바'), song(4, '가나다')]);
  assert.equal(p.songCoreLen(p.songDb[1]), 3);
  assert.deepEqual(search(p, { searchQuery: 'ㄱㄴㄷ' }), [4, 2, 1, 3]);
  // the same titles searched by singer consonants: singer mode puts equal-length singers first
  const q = pageWith([song(1, 'a', '가나다라'), song(2, 'b', '가나'), song(3, 'c', '가나다')]);
  assert.deepEqual(search(q, { searchMode: 1, searchQuery: 'ㄱㄴ' }), [2, 3, 1]);
});

test('played exact hits are pinned on top, at most three, then the base order', () => {
  const songs = [];
  for (let i = 1; i <= 6; i++) songs.push(song(i, '사랑' + String.fromCharCode(0xac00 + i * 28)));
  songs.push(song(7, '사랑'));
  songs.push(song(8, '사랑해요 그대'));
  const p = pageWith(songs);
  p.initPlayedHistory([
    { id: 5, title: '', time: '' }, { id: 5, title: '', time: '' }, { id: 5, title: '', time: '' },
    { id: 3, title: '', time: '' }, { id: 3, title: '', time: '' },
    { id: 6, title: '', time: '' }, { id: 1, title: '', time: '' }, { id: 8, title: '', time: '' },
  ]);
  // Exact 3-syllable titles: 1..6 (played 5,3 then 1 or 6 by order), 7 and 8 not exact.
  const got = search(p, { searchQuery: 'ㅅㄹㄱ' });
  assert.deepEqual(got.slice(0, 3), [5, 3, 1]);
  assert.deepEqual(got.slice(3), [2, 4, 6]);
  // singer mode ignores the play counts
  const q = pageWith([song(1, 'x', '가수'), song(2, 'y', '가수')]);
  q.initPlayedHistory([{ id: 2 }, { id: 2 }]);
  assert.deepEqual(search(q, { searchMode: 1, searchQuery: 'ㄱㅅ' }), [1, 2]);
});

test('English readings', () => {
  const p = loadPage(FILES);
  const cases = [
    ['Love', 'ㄹㅂ'],
    ['A Whole New World', 'ㅇㅎㄹㄴㅇㅇㄹㄹㄷ'],
    ['The Beatles', 'ㅂㅌㄹㅅ'],
    ['Yesterday', 'ㅇㅅㅌㄹㄷㅇ'],
    ['an apple', 'ㅇㅍㅍㄹ'],
    ['ABBA 2', 'ㅇㅂㅂ'],
  ];
  for (const [t, want] of cases) assert.equal(p.engTitleToChosung(t), want, t);
  const match = [
    ['ㅇㅎㄹㄴㅇㅇㄹㄹㄷ', 'ㅇㅎ', true],
    ['ㅇㅎㄹㄴㅇㅇㄹㄹㄷ', 'ㅎㅇ', false],
    ['ㅂㅌㄹㅅ', 'ㅍㄷ', true],
    ['ㅂㅌㄹㅅ', 'ㅂㅅ', true],
    ['ㅂㅌㄹㅅ', 'ㅂㅅㅅ', false],
    ['', 'ㅂ', false],
  ];
  for (const [r, q, want] of match) assert.equal(p.engChosungIncludes(r, q), want, r + ' ' + q);
  const s = pageWith([song(1, 'Love'), song(2, 'The Love', '', { subtitle: '' }), song(3, 'Glove')]);
  assert.deepEqual(search(s, { searchQuery: 'ㄹㅂ' }), [1, 2]);
  // English typing: white space removed on both sides, starts-with group first
  assert.deepEqual(search(s, { searchLang: 'en', searchQuery: 'thelove' }), [2]);
  assert.deepEqual(search(s, { searchLang: 'en', searchQuery: 'love' }), [1, 3, 2]);
});

test('English typing: played songs first within each group, not across them', () => {
  const p = pageWith([song(1, 'Love'), song(2, 'Lovely'), song(3, 'Glove'), song(4, 'My Love'), song(5, 'Love Me')]);
  p.initPlayedHistory([{ id: 4 }, { id: 4 }, { id: 2 }, { id: 3 }, { id: 3 }, { id: 3 }]);
  const cases = [
    [0, 'love', [2, 1, 5, 3, 4]],
    [0, 'lovem', [5]],
    [1, 'love', []],
  ];
  for (const [mode, q, want] of cases) assert.deepEqual(search(p, { searchMode: mode, searchLang: 'en', searchQuery: q }), want, q);
});

test('number search: ascending ids, one hit asks for its dump, long lists are cut at 300', () => {
  const songs = [];
  for (let i = 1; i <= 1400; i++) songs.push(song(i, '노래'));
  const p = pageWith(songs);
  const got = search(p, { searchNumQuery: '12' });
  assert.deepEqual(got.slice(0, 12), [12, 120, 121, 122, 123, 124, 125, 126, 127, 128, 129, 1200]);
  assert.equal(p.searchTruncated, false);
  p.posted.length = 0;
  assert.deepEqual(search(p, { searchNumQuery: '1399' }), [1399]);
  assert.ok(p.posted.includes('DUMP_SONG:1399'));
  assert.ok(p.posted.some((m) => m.startsWith('DBG:SEARCH mode=0 style=prefix lang=ko q=[] q2=[] num=[1399] n=1 db=1400')));
  assert.equal(search(p, { searchNumQuery: '1' }).length, 300);
  assert.equal(p.searchTruncated, true);
  // numbers out of the ordinary: zero, a leading zero typed, a number too large to write out
  const q = pageWith([song(0, 'a'), song(5, 'b'), song('1' + '0'.repeat(400), 'c'), song('1e30', 'd'), song(10, 'e')]);
  const cases = [['0', [0]], ['05', []], ['1', [1, 10]], ['5', [5]], ['9', []]];
  for (const [digits, want] of cases) assert.deepEqual(search(q, { searchNumQuery: digits }), want, digits);
});

test('middle search: syllables, consonants anywhere, compound consonants', () => {
  const p = pageWith([song(1, '너를 사랑해'), song(2, '사과나무'), song(3, '각시탈'), song(4, 'Sara'), song(5, '꽃비')],
                     { searchStyle: 'middle' });
  const cases = [
    ['ㄱ', [3, 5, 2]],
    ['ㄲ', [5]],
    ['ㅌ', [3]],
    ['사랑', [1, 4]],
    ['ㅅㄹ', [1, 4]],
    ['ㄳ', [3]],
    ['ㄱㅅ', [3]],
    ['사 과', [2]],
    ['ㅅ과', []],
  ];
  for (const [q, want] of cases) assert.deepEqual(search(p, { searchQuery: q }), want, q);
  assert.equal(p.normalizeQueryForChosung('ᄀㄵ'), 'ㄱㄴㅈ');
  assert.equal(p.normalizeQueryForChosung('ㄱ가'), null);
});

test('Korean collation order (Hangul before Latin in the Korean locale), and the default list', () => {
  const p = pageWith([song(1, '하늘'), song(2, 'Apple'), song(3, '가을'), song(4, '나비'), song(5, '123')]);
  assert.deepEqual(search(p, {}), [5, 3, 4, 1, 2]);
  p.initPlayedHistory([{ id: 1 }]);
  assert.deepEqual(search(p, {}), [1, 5, 3, 4, 2]);
});

test('the default list is made again when the catalogue changes, even at the same size', () => {
  const p = pageWith([song(1, '나비'), song(2, '가을')]);
  assert.deepEqual(search(p, {}), [2, 1]);
  p.mergeSongDb([song(1, '가나')]);
  assert.deepEqual(search(p, {}), [1, 2]);
  p.initSongDb([song(7, '다리'), song(8, '바다')]);
  assert.deepEqual(search(p, {}), [7, 8]);
});

test('mergeSongDb replaces by id and appends new songs in arrival order', () => {
  const p = pageWith([song(1, 'a'), song(2, 'b')]);
  p.mergeSongDb([]);
  p.mergeSongDb(null);
  p.mergeSongDb([song(3, 'c'), song(1, 'A2'), song(4, 'd')]);
  assert.deepEqual(Array.from(p.songDb, (s) => s.id + s.title), ['1A2', '2b', '3c', '4d']);
  assert.equal(p.songDb[0].titleFullText, 'A2');
});

test('hostile rows: markup, very long and empty fields', () => {
  const long = '가'.repeat(500);
  const p = pageWith([
    { id: 1, title: '<img src=x onerror=alert(1)>', singer: '"><b>', line1: "'<script>" },
    { id: '2', title: long, singer: null, keys: 7 },
    { id: null },
    null,
  ]);
  assert.equal(p.songDb.length, 4);
  const html = p.songDb.map((s, i) => p.searchRowHtml(s, i, false)).join('');
  assert.ok(!html.includes('<img'));
  assert.ok(!html.includes('<b>'));
  assert.ok(!html.includes('<script'));
  assert.ok(html.includes('&lt;img src=x onerror=alert(1)&gt;'));
  assert.equal(search(p, { searchQuery: 'ㄱㄱㄱ' }).length, 1);
  assert.equal(p.songDb[1].keys, '7');
  assert.equal(p.cutTitle(long, 10), '가'.repeat(10) + '...');
});

test('first-lyric cell hides chord lines', () => {
  const p = loadPage(FILES);
  const cases = [
    ['C / G / Am', true],
    ['Am7, D7(b9) / G', true],
    ['N.C. / C', true],
    ['love you / me', false],
    ['사랑 / C', false],
    ['C G Am', false],
    ['Hello, world', false],
  ];
  for (const [t, chord] of cases) assert.equal(p.lyricCell({ line1: t }), chord ? '' : t, t);
});
