// ---- Song search panel ----
// The catalogue browser opened with F1 (consonant, number and English typing) or ALT+F1 (free text
// through the page's Hangul composer). The search rules are plain functions over `songDb`; the
// panel draws the hits and the reservation queue beside them.
//
// Sections: shared helpers; consonant tables and readings; the song list; orderings; filters;
// the search; drawing; column widths and list font; opening, closing and keys.

// ---- Shared helpers ----


// ---- Consonant tables and readings ----

var HANGUL_INITIALS = ['ㄱ', 'ㄲ', 'ㄴ', 'ㄷ', 'ㄸ', 'ㄹ', 'ㅁ', 'ㅂ', 'ㅃ', 'ㅅ', 'ㅆ', 'ㅇ', 'ㅈ', 'ㅉ', 'ㅊ', 'ㅋ', 'ㅌ', 'ㅍ', 'ㅎ'];
var CHOSEONG_JAMO = [];
for (var cji = 0; cji < 19; cji++) CHOSEONG_JAMO.push(String.fromCharCode(0x1100 + cji));
var COMPOUND_CONSONANT_MAP = { 'ㄳ': 'ㄱㅅ', 'ㄵ': 'ㄴㅈ', 'ㄶ': 'ㄴㅎ', 'ㄺ': 'ㄹㄱ', 'ㄻ': 'ㄹㅁ', 'ㄼ': 'ㄹㅂ', 'ㄽ': 'ㄹㅅ',
                               'ㄾ': 'ㄹㅌ', 'ㄿ': 'ㄹㅍ', 'ㅀ': 'ㄹㅎ', 'ㅄ': 'ㅂㅅ' };
// A plain query consonant also matches its tense twin; a tense one matches only itself.
var CHOSUNG_LOOSE_MAP = { 'ㄱ': 'ㄲ', 'ㄷ': 'ㄸ', 'ㅂ': 'ㅃ', 'ㅅ': 'ㅆ', 'ㅈ': 'ㅉ' };
var ENG_CHO_MAP = { b: 'ㅂ', v: 'ㅂ', p: 'ㅍ', f: 'ㅍ', c: 'ㅋ', k: 'ㅋ', q: 'ㅋ', g: 'ㄱ', d: 'ㄷ', t: 'ㅌ', j: 'ㅈ',
                    z: 'ㅈ', h: 'ㅎ', l: 'ㄹ', r: 'ㄹ', m: 'ㅁ', n: 'ㄴ', s: 'ㅅ', x: 'ㅅ' };
var ENG_CHO_PAIRS = { 'ㄱ': 'ㅋ', 'ㅋ': 'ㄱ', 'ㄷ': 'ㅌ', 'ㅌ': 'ㄷ', 'ㅂ': 'ㅍ', 'ㅍ': 'ㅂ', 'ㅅ': 'ㅈ', 'ㅈ': 'ㅅ' };
var CHOSUNG_KEYMAP = { KeyR: 'ㄱ', KeyS: 'ㄴ', KeyE: 'ㄷ', KeyF: 'ㄹ', KeyA: 'ㅁ', KeyQ: 'ㅂ', KeyT: 'ㅅ', KeyD: 'ㅇ',
                       KeyW: 'ㅈ', KeyC: 'ㅊ', KeyZ: 'ㅋ', KeyX: 'ㅌ', KeyV: 'ㅍ', KeyG: 'ㅎ' };
var CHOSUNG_KEYMAP_SHIFT = { KeyR: 'ㄲ', KeyE: 'ㄸ', KeyQ: 'ㅃ', KeyT: 'ㅆ', KeyW: 'ㅉ' };
var LANG_KEY_CODES = { Backquote: 1, Lang1: 1, Lang2: 1, HangulMode: 1, Hangul: 1 };

function toChosung(text) {
  var s = strField(text);
  var out = '';
  for (var i = 0; i < s.length; i++) {
    var c = s.charCodeAt(i);
    if (c >= 0xAC00 && c <= 0xD7A3) out += HANGUL_INITIALS[Math.floor((c - 0xAC00) / 588)];
  }
  return out;
}

// Korean consonants of an English text's sound, so that typing consonants finds English titles.
var HAS_LATIN = /[A-Za-z]/;
function engTitleToChosung(text) {
  var s = strField(text);
  if (!HAS_LATIN.test(s)) return '';  // only letters give consonants
  s = s.toLowerCase().replace(/^\s*(?:the|an|a)\s+/, '');
  var out = '';
  var state = 'start';
  for (var i = 0; i < s.length; i++) {
    var ch = s.charAt(i);
    if (ch === ' ' || ch === '\t') {
      state = 'start';
    } else if (ch === 'w' || ch === 'y') {
      out += 'ㅇ';
      state = 'glide';
    } else if (ch === 'a' || ch === 'e' || ch === 'i' || ch === 'o' || ch === 'u') {
      if (state === 'start') out += 'ㅇ';
      state = 'vowel';
    } else if (ENG_CHO_MAP[ch]) {
      out += ENG_CHO_MAP[ch];
      state = 'consonant';
    } else {
      state = 'start';
    }
  }
  return out;
}

function engChoEq(a, b) {
  return a === b || ENG_CHO_PAIRS[a] === b;
}
// The query is an anchored subsequence of the reading.
function engChosungIncludes(reading, q) {
  if (!reading || !q || !engChoEq(reading.charAt(0), q.charAt(0))) return false;
  var j = 0;
  for (var i = 0; i < reading.length && j < q.length; i++) {
    if (engChoEq(reading.charAt(i), q.charAt(j))) j++;
  }
  return j === q.length;
}

function chosungCharMatches(q, t) {
  return q === t || CHOSUNG_LOOSE_MAP[q] === t;
}
function chosungMatchesAt(target, q, at) {
  for (var i = 0; i < q.length; i++) {
    if (!chosungCharMatches(q.charAt(i), target.charAt(at + i))) return false;
  }
  return true;
}
function chosungStartsWith(target, q) {
  target = target || '';
  return !!q && q.length <= target.length && chosungMatchesAt(target, q, 0);
}
function chosungIncludes(target, q) {
  target = target || '';
  if (!q || q.length > target.length) return false;
  // One consonant (the first key of a search): the native search for it and its loose partner.
  if (q.length === 1) {
    if (target.indexOf(q) >= 0) return true;
    var loose = CHOSUNG_LOOSE_MAP[q];
    return loose !== undefined && target.indexOf(loose) >= 0;
  }
  for (var at = 0; at + q.length <= target.length; at++) {
    if (chosungMatchesAt(target, q, at)) return true;
  }
  return false;
}

// The query as initial consonants, or null when it holds anything else.
function normalizeQueryForChosung(q) {
  var out = '';
  for (var i = 0; i < q.length; i++) {
    var ch = q.charAt(i);
    if (HANGUL_INITIALS.indexOf(ch) >= 0) out += ch;
    else if (CHOSEONG_JAMO.indexOf(ch) >= 0) out += HANGUL_INITIALS[CHOSEONG_JAMO.indexOf(ch)];
    else if (COMPOUND_CONSONANT_MAP[ch]) out += COMPOUND_CONSONANT_MAP[ch];
    else return null;
  }
  return out;
}

// ---- The song list ----

var songDb = [];
var songDbGen = 0;  // bumped whenever the list changes; every cache keyed on the list holds it

var SONG_TEXT_FIELDS = ['title', 'subtitle', 'singer', 'genre', 'keys', 'line1', 'koTitle', 'koSinger', 'nat'];

// Incoming entries are made safe to read (texts as strings, numbers as numbers) and get the
// derived search fields once.
function deriveSongFields(s) {
  if (!s || typeof s !== 'object') s = {};
  for (var i = 0; i < SONG_TEXT_FIELDS.length; i++) {
    var f = SONG_TEXT_FIELDS[i];
    if (s[f] != null && typeof s[f] !== 'string') s[f] = String(s[f]);
  }
  s.id = parseInt(s.id, 10) || 0;
  s.tempo = parseInt(s.tempo, 10) || 0;
  var title = s.title || '';
  var subtitle = s.subtitle || '';
  if (typeof s.chosung !== 'string') s.chosung = toChosung(title);
  if (typeof s.singerChosung !== 'string') s.singerChosung = toChosung(s.singer);
  s.titleFullText = subtitle ? title + ' (' + subtitle + ')' : title;
  s.line1Chosung = undefined;      // with titleFullChosung, made by completeSongFields
  s.titleFullChosung = undefined;
  s.engChosung = engTitleToChosung(title + ' ' + subtitle);
  s.engSingerChosung = engTitleToChosung(s.singer);
  return s;
}

// The consonants of the first lyric line and of the full title: needed only by the first-lyric
// mode and the middle search, so made in the idle time after the list arrives, or at the first
// search that needs them.
function completeSongFields(s) {
  if (s.line1Chosung === undefined) s.line1Chosung = toChosung(s.line1);
  if (s.titleFullChosung === undefined) s.titleFullChosung = toChosung(s.titleFullText);
}
// Every text a search reads of a song, made ahead (see prepareSearchAhead) or at first use.
function prepareSongTexts(s) {
  completeSongFields(s);
  for (var m = 0; m < 3; m++) midTextIn(s, m);
  englishText(s, false);
  englishText(s, true);
  songCoreLen(s);
}
var derivedGen = -1;
function ensureDerivedFields() {
  if (derivedGen === songDbGen) return;
  for (var i = 0; i < songDb.length; i++) completeSongFields(songDb[i]);
  derivedGen = songDbGen;
}

function initSongDb(arr) {
  var t0 = performance.now();
  var src = Array.isArray(arr) ? arr : [];
  var out = new Array(src.length);
  for (var i = 0; i < src.length; i++) out[i] = deriveSongFields(src[i]);
  songDb = out;
  songDbGen++;
  pagePost('DB_READY:' + songDb.length + ':' + Math.round(performance.now() - t0) + 'ms');
  // The first keys should not wait for the sorts: the orderings and the default list are made
  // ahead, in short slices whenever the browser is idle, from now on.
  prepareSearchAhead(songDbGen);
}

// The per-song texts, collation ranks and orders of the searches, made ahead in slices while the
// browser is idle, what the first keys of a search need first. A key pressed meanwhile waits for
// one slice at most, and a search that needs a part not made yet finishes that part's work (what
// the slices did is kept).
var AHEAD_SLICE_MS = 4;
function prepareSearchAhead(gen) {
  var at = 0;
  var steps = [
    function (until) { return rankJob('title').step(until); },
    function () { ensureModePlaces(0); return true; },
    function () { songsByNumber(); return true; },
    function (until) {
      while (at < songDb.length) {
        var end = Math.min(songDb.length, at + 256);
        for (; at < end; at++) prepareSongTexts(songDb[at]);
        if (performance.now() >= until) break;
      }
      if (at < songDb.length) return false;
      derivedGen = songDbGen;
      return true;
    },
    function () { firstCharCodes(0); return true; },
    function (until) { return rankJob('singer').step(until); },
    function () { ensureModePlaces(1); return true; },
    function () { firstCharCodes(1); return true; },
    function (until) { return rankJob('line1').step(until); },
    function () { ensureModePlaces(2); return true; },
    function () { firstCharCodes(2); return true; },
    function () { songsWithIdText(''); return true; },
    function () { topSongList(); return true; },
  ];
  // One short slice per idle period: a key that arrives meanwhile is handled next.
  var run = function (deadline) {
    if (gen !== songDbGen) return;
    var until = performance.now() + Math.min(AHEAD_SLICE_MS, deadline ? deadline.timeRemaining() : AHEAD_SLICE_MS);
    do {
      if (steps[0](until)) steps.shift();
    } while (steps.length && performance.now() < until);
    if (steps.length) later();
  };
  var later = function () {
    if (typeof requestIdleCallback === 'function') requestIdleCallback(run); else setTimeout(run, 0);
  };
  later();
}

function mergeSongDb(arr) {
  if (!Array.isArray(arr) || arr.length === 0) return;
  var at = {};
  for (var i = 0; i < songDb.length; i++) at[songDb[i].id] = i;
  for (var k = 0; k < arr.length; k++) {
    var s = deriveSongFields(arr[k]);
    if (Object.prototype.hasOwnProperty.call(at, s.id)) {
      songDb[at[s.id]] = s;
    } else {
      at[s.id] = songDb.length;
      songDb.push(s);
    }
  }
  songDbGen++;
  var el = pageEl('update-songcount');
  if (el) el.textContent = String(songDb.length);
}

// ---- Orderings ----

var SEARCH_MODE_LABELS = ['제목', '가수명', '첫가사'];
var PAGE_JUMP = 10;
var SEARCH_DEFAULT_COUNT = 30;
var SEARCH_MAX_ROWS = 300;
var HIT_PIN_COUNT = 3;

var searchPanelOpen = false;
var searchStyle = 'prefix';
var searchMode = 0;
var searchLang = 'ko';
var searchQuery = '';
var searchQuery2 = '';
var secondFieldActive = false;
var searchNumQuery = '';
var searchResults = [];
var searchSelIdx = 0;
var searchTruncated = false;
var searchFrozen = false;
var reservedFocused = false;
var reservedSelIdx = 0;
var listFontPx = 14;
var searchColW = { id: 4, title: 18.5, singer: 10, tempo: 2.9, keys: 7.9 };
var resvColW = { id: 4, title: 18.5, singer: 10, tempo: 3.9, keys: 13.2 };
var midComposer = new HangulComposer();
var midHangulOn = true;

var KO_COLLATOR = typeof Intl !== 'undefined' ? new Intl.Collator('ko') : null;
function koCompare(a, b) {
  if (KO_COLLATOR) return KO_COLLATOR.compare(a, b);
  return a < b ? -1 : a > b ? 1 : 0;
}

// Collation ranks of the sort keys, made once per list change: a search then orders by numbers
// instead of calling the collator thousands of times per key press. Equal texts are ranked once.
var rankGen = { title: -1, singer: -1, line1: -1 };
function ensureRanks(field) {
  if (rankGen[field] !== songDbGen) rankJob(field).step(Infinity);
}
// The ranking of one field as work that can stop and go on: the songs grouped by text, the texts
// sorted (runs sorted, then merged pass by pass), the ranks written. step(until) works until the
// time `until` (performance.now) and says whether the ranks are done.
var rankJobs = { title: null, singer: null, line1: null };
var RANK_RUN = 256;
function rankJob(field) {
  var job = rankJobs[field];
  if (job && job.gen === songDbGen) return job;
  var gen = songDbGen;
  var n = songDb.length;
  var groups = new Map();  // text -> index of the song that has it, or the indexes of all of them
  var texts = null;
  var other = null;
  var phase = 0;
  var at = 0;
  var width = RANK_RUN;
  var lo = 0, i = 0, j = 0, k = 0, mid = 0, hi = 0;
  var rank = 0, seen = 0;
  function group(until) {
    while (at < n) {
      var end = Math.min(n, at + 1024);
      for (; at < end; at++) {
        var t = songDb[at][field] || '';
        var g = groups.get(t);
        if (g === undefined) groups.set(t, at); else if (typeof g === 'number') groups.set(t, [g, at]); else g.push(at);
      }
      if (performance.now() >= until) return false;
    }
    texts = Array.from(groups.keys());
    other = new Array(texts.length);
    at = 0;
    return true;
  }
  function sortRuns(until) {
    while (at < texts.length) {
      var end = Math.min(texts.length, at + RANK_RUN);
      var run = texts.slice(at, end).sort(koCompare);
      for (var r = 0; r < run.length; r++) texts[at + r] = run[r];
      at = end;
      if (performance.now() >= until) return false;
    }
    lo = 0;
    k = -1;
    return true;
  }
  // One merge pass after another, each merging neighbouring runs of `width` texts into `other`;
  // ties keep the left run's text first.
  function merge(until) {
    var m = texts.length;
    while (width < m) {
      while (lo < m) {
        if (k < 0) {
          mid = Math.min(m, lo + width);
          hi = Math.min(m, lo + 2 * width);
          i = lo;
          j = mid;
          k = lo;
        }
        var stop = k + 512;
        while (k < hi && k < stop) {
          if (i < mid && (j >= hi || koCompare(texts[i], texts[j]) <= 0)) other[k++] = texts[i++];
          else other[k++] = texts[j++];
        }
        if (k < hi) {
          if (performance.now() >= until) return false;
          continue;
        }
        lo = hi;
        k = -1;
        if (performance.now() >= until && lo < m) return false;
      }
      var swap = texts;
      texts = other;
      other = swap;
      width *= 2;
      lo = 0;
      k = -1;
      if (performance.now() >= until && width < m) return false;
    }
    at = 0;
    return true;
  }
  function assign(until) {
    var rk = RANK_FIELDS[field];
    while (at < texts.length) {
      var end = Math.min(texts.length, at + 1024);
      for (; at < end; at++) {
        if (at > 0 && koCompare(texts[at - 1], texts[at]) !== 0) rank = seen;
        var members = groups.get(texts[at]);
        if (typeof members === 'number') { songDb[members][rk] = rank; seen++; continue; }
        for (var q = 0; q < members.length; q++) songDb[members[q]][rk] = rank;
        seen += members.length;
      }
      if (performance.now() >= until) return false;
    }
    rankGen[field] = gen;
    return true;
  }
  var phases = [group, sortRuns, merge, assign];
  job = {
    gen: gen,
    step: function (until) {
      if (gen !== songDbGen) return true;  // the list changed: a later search starts afresh
      while (phase < phases.length) {
        if (!phases[phase](until)) return false;
        phase++;
      }
      return true;
    },
  };
  rankJobs[field] = job;
  return job;
}
function modeSortField(mode) {
  return mode === 1 ? 'singer' : mode === 2 ? 'line1' : 'title';
}
// Property names of the per-song values, written out once: a name built per song would be looked
// up afresh every time.
var RANK_FIELDS = { title: '_rk_title', singer: '_rk_singer', line1: '_rk_line1' };
var PLACE_FIELDS = ['_o0', '_o1', '_o2'];
var MID_FIELDS = ['_mid0', '_mid1', '_mid2'];
// modeCompare as one number: the sort key's rank, then the title's rank (ranks made first).
function modeKeyIn(s, mode) {
  if (mode === 0) return s._rk_title || 0;
  return (s[RANK_FIELDS[modeSortField(mode)]] || 0) * (songDb.length + 1) + (s._rk_title || 0);
}
function modeKey(s) {
  return modeKeyIn(s, searchMode);
}
function modeCompare(a, b) {
  return modeKey(a) - modeKey(b);
}

// Every song's place in a mode's order (modeCompare, ties in list order) as `_o0`, `_o1` or
// `_o2`, made once per list change: the filters order their hits by these places with one numeric
// sort instead of comparing songs. The ranks are below the list length, so the order is two
// counting sorts: by the title's rank, then (a stable pass) by the mode's own rank.
var modePlacesGen = [-1, -1, -1];
function placesByRank(rk, order, n) {
  var start = new Uint32Array(n + 1);
  var i;
  for (i = 0; i < n; i++) start[(songDb[i][rk] || 0) + 1]++;
  for (i = 1; i <= n; i++) start[i] += start[i - 1];
  var out = new Uint32Array(n);
  for (i = 0; i < n; i++) {
    var s = order ? order[i] : i;
    out[start[songDb[s][rk] || 0]++] = s;
  }
  return out;
}
function ensureModePlaces(mode) {
  if (modePlacesGen[mode] === songDbGen) return;
  ensureRanks('title');
  if (mode !== 0) ensureRanks(modeSortField(mode));
  var n = songDb.length;
  var order = placesByRank(RANK_FIELDS.title, null, n);
  if (mode !== 0) order = placesByRank(RANK_FIELDS[modeSortField(mode)], order, n);
  var place = PLACE_FIELDS[mode];
  for (var j = 0; j < n; j++) songDb[order[j]][place] = j;
  modePlacesGen[mode] = songDbGen;
}
// The list in ascending song number (ties in list order), for the number search. The numbers are
// sorted as one typed array of number × a power of two above the list length + place in the list.
var idOrder = { gen: -1, songs: [], ids: null };
function songsByNumber() {
  if (idOrder.gen === songDbGen) return idOrder.songs;
  var n = songDb.length;
  var scale = 1;
  while (scale < n) scale *= 2;
  var keys = new Float64Array(n);
  var fits = true;
  for (var k = 0; k < n; k++) {
    keys[k] = songDb[k].id * scale + k;
    if (Math.abs(songDb[k].id) * scale >= 9007199254740992 / 2) fits = false;
  }
  var songs;
  if (fits) {
    keys.sort();
    songs = new Array(n);
    for (var p = 0; p < n; p++) songs[p] = songDb[((keys[p] % scale) + scale) % scale];
  } else {
    songs = songDb.slice();
    songs.sort(function (a, b) { return a.id - b.id; });
  }
  var ids = new Float64Array(songs.length);
  for (var i = 0; i < songs.length; i++) { songs[i]._idText = String(songs[i].id); ids[i] = songs[i].id; }
  idOrder = { gen: songDbGen, songs: songs, ids: ids };
  return songs;
}
// The first place in the number order whose song number is at least `x`.
function firstIdAtLeast(x) {
  var ids = idOrder.ids;
  var lo = 0;
  var hi = ids.length;
  while (lo < hi) {
    var mid = (lo + hi) >> 1;
    if (ids[mid] < x) lo = mid + 1; else hi = mid;
  }
  return lo;
}
// Songs by the text of their number, for finding the played songs from the history's ids.
var idTextIndex = { gen: -1, map: null };
function songsWithIdText(idText) {
  if (idTextIndex.gen !== songDbGen) {
    var map = new Map();
    for (var i = 0; i < songDb.length; i++) {
      var k = String(songDb[i].id);
      var g = map.get(k);
      if (g === undefined) map.set(k, songDb[i]); else if (Array.isArray(g)) g.push(songDb[i]); else map.set(k, [g, songDb[i]]);
    }
    idTextIndex = { gen: songDbGen, map: map };
  }
  var found = idTextIndex.map.get(idText);
  return found === undefined ? [] : Array.isArray(found) ? found : [found];
}

var PLAY_COUNT_CAP = 100000;
var playCountMap = null;
var playedCache = null;  // the songs with a play count, found once per count rebuild
function rebuildPlayCounts() {
  playCountMap = {};
  playedCache = null;
  var h = typeof playedSongHistory !== 'undefined' && Array.isArray(playedSongHistory) ? playedSongHistory : [];
  for (var i = 0; i < h.length; i++) {
    var id = h[i] && h[i].id;
    playCountMap[id] = (playCountMap[id] || 0) + 1;
  }
}
function playCountOf(s) {
  if (!playCountMap) rebuildPlayCounts();
  return Math.min(PLAY_COUNT_CAP, playCountMap[s.id] || 0);
}
function playedSongs() {
  if (!playCountMap) rebuildPlayCounts();
  if (playedCache && playedCache.gen === songDbGen) return playedCache.songs;
  var songs = [];
  for (var idText in playCountMap) {
    if (!Object.prototype.hasOwnProperty.call(playCountMap, idText)) continue;
    var found = songsWithIdText(idText);
    for (var i = 0; i < found.length; i++) songs.push(found[i]);
  }
  playedCache = { gen: songDbGen, songs: songs };
  return songs;
}
function hitCompare(a, b) {
  if (searchMode === 1) return modeCompare(a, b);
  var d = playCountOf(b) - playCountOf(a);
  return d !== 0 ? d : modeCompare(a, b);
}

// The hits of `test` ordered by `rank(s, place)`, at most `limit` of them. `place` is the song's
// place in the mode's order; a rank adds multiples of the list length for groups that go first.
// The list is walked in its own order, which is how the songs lie in memory (a walk in another
// order is several times slower), and the hits are then put in order by one numeric sort of
// rank × length + index, which also says where each hit is.
// `first`, when given, passes over songs by the first characters of their consonants and English
// reading before `test` is asked (see firstCharFilter).
var hitKeys = new Float64Array(0);
function rankedHits(test, rank, limit, first) {
  var place = PLACE_FIELDS[searchMode];
  ensureModePlaces(searchMode);
  var n = songDb.length;
  if (hitKeys.length < n) hitKeys = new Float64Array(n);
  var count = 0;
  for (var i = 0; i < n; i++) {
    if (first && !(first.okCho[first.cho[i]] | first.okEng[first.eng[i]])) continue;
    var s = songDb[i];
    if (test(s)) hitKeys[count++] = rank(s, s[place]) * n + i;
  }
  var sorted = hitKeys.subarray(0, count).sort();
  var out = [];
  for (var j = 0; j < count && out.length < limit; j++) out.push(songDb[sorted[j] % n]);
  return out;
}

// The hits of `test` in hit order (hitCompare), at most `limit` of them: in the title and first
// lyric modes the played hits first, by play count, then the rest in the mode's order.
function hitsInOrder(test, limit) {
  return hitsInGroups(test, function (s, place) { return place; }, limit);
}
// The same for hits in groups one after another: `rank` gives a song's place plus its group's
// multiple of the list length, and hit order holds within each group.
var playStamp = 0;
function hitsInGroups(test, rank, limit) {
  var mode = searchMode;
  var n = songDb.length;
  var stamp = -1;
  if (mode !== 1) {
    var place = PLACE_FIELDS[mode];
    ensureModePlaces(mode);
    var ps = playedSongs().slice();
    ps.sort(function (a, b) { return playCountOf(b) - playCountOf(a) || a[place] - b[place]; });
    if (ps.length) {
      stamp = ++playStamp;
      for (var p = 0; p < ps.length; p++) { ps[p]._playStamp = stamp; ps[p]._playPos = p; }
    }
  }
  if (stamp < 0) return rankedHits(test, rank, limit);
  // Within a group, played songs by their place in the played order, then the others.
  return rankedHits(test, function (s, place) {
    var r = rank(s, place);
    var g = Math.floor(r / n);
    return g * 2 * n + (s._playStamp === stamp ? s._playPos : n + r - g * n);
  }, limit);
}

// ---- Filters ----

function modeChosung(s) {
  return searchMode === 1 ? s.singerChosung : searchMode === 2 ? s.line1Chosung : s.chosung;
}
function modeEngReading(s) {
  return searchMode === 1 ? s.engSingerChosung : searchMode === 2 ? '' : s.engChosung;
}
// Hangul syllables of the title before its first bracket, computed once per song.
function songCoreLen(s) {
  if (s._coreLen === undefined) {
    var t = s.title || '';
    var n = 0;
    for (var i = 0; i < t.length; i++) {
      var c = t.charCodeAt(i);
      if (c === 0x28 || c === 0xFF08) break;
      if (c >= 0xAC00 && c <= 0xD7A3) n++;
    }
    s._coreLen = n;
  }
  return s._coreLen;
}

// A shown list is never longer than SEARCH_MAX_ROWS: the filters give at most one hit more, which is
// enough to know that the list was cut.
var FILTER_ROWS = SEARCH_MAX_ROWS + 1;

function filterSongsByNumber(digits) {
  if (!digits) return [];
  var songs = songsByNumber();
  var out = [];
  var d = Number(digits);
  if (digits.charAt(0) === '0' || !(d >= 1)) {
    for (var i = 0; i < songs.length && out.length < FILTER_ROWS; i++) {
      if (songs[i]._idText.lastIndexOf(digits, 0) === 0) out.push(songs[i]);
    }
    return out;
  }
  // Numbers that start with the digits d lie in d..d+1, 10d..10d+10, 100d..100d+100 and so on,
  // ranges that follow one another upwards: each is found by a binary search.
  var last = songs.length ? songs[songs.length - 1].id : 0;
  for (var scale = 1; d * scale <= last && isFinite(d * scale) && out.length < FILTER_ROWS; scale *= 10) {
    var end = firstIdAtLeast((d + 1) * scale);
    for (var at = firstIdAtLeast(d * scale); at < end && out.length < FILTER_ROWS; at++) {
      if (songs[at]._idText.lastIndexOf(digits, 0) === 0) out.push(songs[at]);
    }
  }
  return out;
}

function squeezeLower(t) {
  return strField(t).toLowerCase().replace(/\s+/g, '');
}
// The title (or the singer) as the English typing matches it, made once per song.
function englishText(s, singer) {
  if (singer) return s._lowS === undefined ? (s._lowS = squeezeLower(s.singer)) : s._lowS;
  return s._lowT === undefined ? (s._lowT = squeezeLower(s.title)) : s._lowT;
}

function filterSongsByEnglish(q) {
  var query = squeezeLower(q);
  if (!query) return topSongList();
  var singer = searchMode === 1;
  var n = songDb.length;
  // Titles (or singers) that start with the typed letters first, then those that hold them.
  return hitsInGroups(function (s) { return englishText(s, singer).indexOf(query) >= 0; }, function (s, place) {
    return englishText(s, singer).lastIndexOf(query, 0) === 0 ? place : n + place;
  }, FILTER_ROWS);
}

// The first character of every song's consonants and English reading in a mode, one byte each
// (a compatibility jamo less 0x3130, 0 for anything else), made once per list change.
var firstCharCache = [null, null, null];
function jamoByte(t) {
  var c = typeof t === 'string' && t ? t.charCodeAt(0) - 0x3130 : 0;
  return c > 0 && c < 256 ? c : 0;
}
var CHO_FIELDS = ['chosung', 'singerChosung', 'line1Chosung'];
var ENG_FIELDS = ['engChosung', 'engSingerChosung', ''];
function firstCharCodes(mode) {
  var choField = CHO_FIELDS[mode];
  var engField = ENG_FIELDS[mode];
  var f = firstCharCache[mode];
  if (f && f.gen === songDbGen && f.derived === derivedGen) return f;
  var n = songDb.length;
  f = { gen: songDbGen, derived: derivedGen, cho: new Uint8Array(n), eng: new Uint8Array(n) };
  for (var i = 0; i < n; i++) {
    f.cho[i] = jamoByte(songDb[i][choField]);
    if (engField) f.eng[i] = jamoByte(songDb[i][engField]);
  }
  firstCharCache[mode] = f;
  return f;
}
// Songs whose consonants or English reading can start like the query `q`: the consonants' first
// character matches q's first (or its tense twin), or the reading's is equivalent to it. Null
// when q does not start with a jamo, so nothing is passed over.
function firstCharFilter(q, mode) {
  var q0 = q.charAt(0);
  if (!jamoByte(q0)) return null;
  var codes = firstCharCodes(mode);
  var okCho = new Uint8Array(256);
  var okEng = new Uint8Array(256);
  okCho[jamoByte(q0)] = 1;
  if (CHOSUNG_LOOSE_MAP[q0]) okCho[jamoByte(CHOSUNG_LOOSE_MAP[q0])] = 1;
  okEng[jamoByte(q0)] = 1;
  if (ENG_CHO_PAIRS[q0]) okEng[jamoByte(ENG_CHO_PAIRS[q0])] = 1;
  okEng[0] = 0;
  return { cho: codes.cho, eng: codes.eng, okCho: okCho, okEng: okEng };
}

function filterSongsByChosung(q, q2) {
  if (!q) return [];
  var mode = searchMode;
  var titleMode = mode === 0;
  var choField = CHO_FIELDS[mode];
  var engField = ENG_FIELDS[mode];
  var q0 = q.charAt(0);
  var matches = function (s) {
    var c = s[choField];
    if (!(c && c.length >= q.length && chosungStartsWith(c, q))) {
      var r = engField ? s[engField] : '';
      if (!r || !engChoEq(r.charAt(0), q0) || !engChosungIncludes(r, q)) return false;
    }
    return !q2 || chosungStartsWith(s.singerChosung, q2) || engChosungIncludes(s.engSingerChosung, q2);
  };
  var exactByCho = function (s) {
    var c = s[choField] || '';
    return c.length === q.length && chosungStartsWith(c, q);
  };
  var exactByCore = function (s) {
    return titleMode && songCoreLen(s) === q.length && chosungStartsWith(s[choField], q);
  };
  var exact = mode === 1 ? function (s) { return (s.singerChosung || '').length === q.length; } : function (s) {
    var r = engField ? s[engField] || '' : '';
    return exactByCho(s) || (r.length === q.length && engChosungIncludes(r, q)) || exactByCore(s);
  };
  // Played songs exact by their consonants go on top (not in singer mode), at most HIT_PIN_COUNT.
  var pins = [];
  if (mode !== 1) {
    var place = PLACE_FIELDS[mode];
    ensureModePlaces(mode);
    var ps = playedSongs();
    for (var p = 0; p < ps.length; p++) {
      if (matches(ps[p]) && (exactByCho(ps[p]) || exactByCore(ps[p]))) pins.push(ps[p]);
    }
    pins.sort(function (a, b) { return playCountOf(b) - playCountOf(a) || a[place] - b[place]; });
    if (pins.length > HIT_PIN_COUNT) pins.length = HIT_PIN_COUNT;
  }
  // The base order: exact hits first, each group in the mode's order.
  var n = songDb.length;
  var rest = rankedHits(function (s) { return matches(s) && (pins.length === 0 || pins.indexOf(s) < 0); },
                        function (s, place) { return exact(s) ? place : n + place; }, FILTER_ROWS,
                        firstCharFilter(q, mode));
  return pins.concat(rest).slice(0, FILTER_ROWS);
}

function filterSongsBySingerField(q2) {
  return hitsInOrder(function (s) { return chosungStartsWith(s.singerChosung, q2); }, SEARCH_DEFAULT_COUNT);
}

function modeFullText(s) {
  return modeFullTextIn(s, searchMode);
}
function modeFullTextIn(s, mode) {
  if (mode === 1) return s.singer || '';
  if (mode === 2) return s.line1 || '';
  return s.titleFullText || s.title || '';
}
function modeFullChosung(s) {
  if (searchMode === 1) return s.singerChosung || '';
  if (searchMode === 2) return s.line1Chosung || '';
  return s.titleFullChosung || s.chosung || '';
}
// The mode's full text without white space, lower case, made once per song and mode.
function midTextIn(s, mode) {
  var key = MID_FIELDS[mode];
  if (s[key] === undefined) s[key] = squeezeLower(modeFullTextIn(s, mode));
  return s[key];
}

function filterSongsByMiddleMatch(q) {
  var query = strField(q).replace(/\s+/g, '');
  if (!query) return [];
  var lower = query.toLowerCase();
  var cho = normalizeQueryForChosung(query);
  var reading = cho || toChosung(query);
  var r0 = reading.charAt(0);
  var mode = searchMode;
  return hitsInOrder(function (s) {
    if (midTextIn(s, mode).indexOf(lower) >= 0) return true;
    if (cho && chosungIncludes(modeFullChosung(s), cho)) return true;
    var r = reading ? modeEngReading(s) : '';
    return !!r && engChoEq(r.charAt(0), r0) && engChosungIncludes(r, reading);
  }, FILTER_ROWS);
}

// The default list: the first songs of the whole list in hit order, kept while the list and the
// history are unchanged.
var topSongCache = { key: '', list: [] };
function topSongList() {
  var hist = typeof playedSongHistory !== 'undefined' && Array.isArray(playedSongHistory) ? playedSongHistory.length : 0;
  var key = songDb.length + '_' + hist + '_' + songDbGen;
  if (topSongCache.key === key) return topSongCache.list.slice();
  if (!playCountMap) rebuildPlayCounts();
  var best = hitsInOrder(function () { return true; }, SEARCH_DEFAULT_COUNT);
  topSongCache = { key: key, list: best };
  return best.slice();
}

// ---- The search ----

function recomputeSearchResults() {
  searchFrozen = false;
  rebuildPlayCounts();
  searchTruncated = false;
  if (searchMode === 2 || searchStyle === 'middle') ensureDerivedFields();
  var res;
  var cut = true;
  if (searchNumQuery) {
    res = filterSongsByNumber(searchNumQuery);
  } else if (searchLang === 'en') {
    res = filterSongsByEnglish(searchQuery);
  } else if (searchStyle === 'middle') {
    if (searchQuery) res = filterSongsByMiddleMatch(searchQuery);
    else { res = topSongList(); cut = false; }
  } else if (searchQuery) {
    res = filterSongsByChosung(searchQuery, searchQuery2);
  } else if (searchQuery2) {
    res = filterSongsBySingerField(searchQuery2);
    cut = false;
  } else {
    res = topSongList();
    cut = false;
  }
  if (cut && res.length > SEARCH_MAX_ROWS) {
    res = res.slice(0, SEARCH_MAX_ROWS);
    searchTruncated = true;
  }
  searchResults = res;
  searchSelIdx = 0;
  pagePost('DBG:SEARCH mode=' + searchMode + ' style=' + searchStyle + ' lang=' + searchLang + ' q=[' + searchQuery +
           '] q2=[' + searchQuery2 + '] num=[' + searchNumQuery + '] n=' + searchResults.length + ' db=' + songDb.length);
  if (searchNumQuery && searchResults.length === 1) pagePost('DUMP_SONG:' + searchResults[0].id);
}

// ---- Display names and cells ----

function dispTitle(s) {
  if (!s) return '';
  var t = s.koTitle ? s.koTitle : (s.title || '');
  return s.subtitle ? t + ' (' + s.subtitle + ')' : t;
}
function dispTitleHtml(s) {
  if (!s) return '';
  if (!s.koTitle) return htmlEsc(dispTitle(s));
  return htmlEsc(dispTitle(s)) + ' <span style="opacity:0.55; font-size:0.8em;">' + htmlEsc(s.title || '') + '</span>';
}
function dispSinger(s) {
  if (!s) return '';
  return s.koSinger ? s.koSinger : (s.singer || '');
}
function cutTitle(t, n) {
  var s = strField(t).trim();
  return s.length > n ? s.substring(0, n) + '...' : s;
}

var CHORD_NAME_RE = /^(?:N\.?C\.?|[A-G][#b]?(?:maj|min|aug|dim|sus|add|M|m|\d|#|b|\+|-)*(?:\((?:[A-G][#b]?(?:maj|min|aug|dim|sus|add|M|m|\d|#|b|\+|-)*|(?:maj|min|aug|dim|sus|add|M|m|\d|#|b|\+|-)+)\))?)+$/;
function isChordLine(t) {
  var s = strField(t);
  if (/[\uAC00-\uD7A3]/.test(s)) return false;
  if (s.indexOf(',') < 0 && s.indexOf('/') < 0) return false;
  var pieces = s.split(/[\/,]/);
  var any = false;
  for (var i = 0; i < pieces.length; i++) {
    var p = pieces[i].trim();
    if (!p) continue;
    var words = p.split(/\s+/);
    for (var w = 0; w < words.length; w++) {
      if (!CHORD_NAME_RE.test(words[w])) return false;
    }
    any = true;
  }
  return any;
}
function lyricCell(s) {
  var l = s && s.line1 ? s.line1 : '';
  return isChordLine(l) ? '' : l;
}

// ---- Drawing ----

function colPx(w) {
  return Math.round(w * listFontPx);
}
function colResizeHandle(list, col) {
  return '<span class="col-resize-handle" onmousedown="colResizeStart(event,\'' + list + '\',\'' + col +
    '\')" style="display:inline-block; width:4px; align-self:stretch; margin:0 2px;"></span>';
}
var colDrag = null;
function colResizeStart(e, list, col) {
  var widths = list === 'resv' ? resvColW : searchColW;
  colDrag = { list: list, col: col, x: e.clientX, w: widths[col] };
  if (e.preventDefault) e.preventDefault();
}
function colResizeMove(e) {
  if (!colDrag) return;
  var widths = colDrag.list === 'resv' ? resvColW : searchColW;
  var w = colDrag.w + (e.clientX - colDrag.x) / listFontPx;
  widths[colDrag.col] = Math.max(2, Math.min(60, w));
  if (colDrag.list === 'resv') renderReservedQueue(); else renderSearchResults();
}
function colResizeEnd() {
  if (!colDrag) return;
  colDrag = null;
  saveEnv();
}
if (typeof document !== 'undefined' && document.addEventListener) {
  document.addEventListener('mousemove', colResizeMove);
  document.addEventListener('mouseup', colResizeEnd);
}

function applyListFont() {
  updateColumnStyles();
  var ids = ['song-search-results', 'reserved-list', 'reserved-list-f2', 'history-list'];
  for (var i = 0; i < ids.length; i++) {
    var el = pageEl(ids[i]);
    if (el && el.style.fontSize !== listFontPx + 'px') el.style.fontSize = listFontPx + 'px';
  }
}
function adjustListFont(d) {
  listFontPx = Math.max(10, Math.min(28, listFontPx + d));
  applyListFont();
  saveEnv();
}

// Column widths live in one style element, so a list of hundreds of rows carries only class
// names, and rows out of view are not laid out.
var listColumnCssText = '';
function updateColumnStyles() {
  if (typeof document === 'undefined') return;
  var css = '.lr{display:flex;padding:1px 2px;cursor:pointer;content-visibility:auto;contain-intrinsic-size:auto 1.45em;}' +
    '.lr.sel{background:#f39c12;color:#000;font-weight:bold;}' +
    '.lc{overflow:hidden;text-overflow:ellipsis;white-space:nowrap;}.lc-last{flex:1;min-width:0;}';
  var rowH = searchRowPx();
  css += '.search-list .lr,.search-list .lh,.search-info{height:' + rowH + 'px;line-height:' + (rowH - 2) + 'px;box-sizing:border-box;' +
    'content-visibility:visible;}.search-info{white-space:nowrap;overflow:hidden;text-overflow:ellipsis;}';
  var cols = ['id', 'title', 'singer', 'tempo', 'keys'];
  for (var i = 0; i < cols.length; i++) {
    var a = colPx(searchColW[cols[i]]), b = colPx(resvColW[cols[i]]);
    css += '.sc-' + cols[i] + '{flex:0 0 ' + a + 'px;width:' + a + 'px;}.rc-' + cols[i] + '{flex:0 0 ' + b + 'px;width:' + b + 'px;}';
  }
  if (css === listColumnCssText) return;
  listColumnCssText = css;
  var el = pageEl('list-column-style');
  if (!el) {
    el = document.createElement('style');
    el.id = 'list-column-style';
    (document.head || document.body).appendChild(el);
  }
  el.textContent = css;
}
// A cell of a list: `list` is 'sc' (search) or 'rc' (queue); no column for the last one.
function cellOpen(list, col, extraStyle) {
  return '<span class="lc ' + (col ? list + '-' + col : 'lc-last') + '"' + (extraStyle ? ' style="' + extraStyle + '"' : '') + '>';
}
function listHeaderHtml(list, listName, labels) {
  var cols = ['id', 'title', 'singer', 'tempo', 'keys'];
  var html = '<div class="lh" style="display:flex; position:sticky; top:0; background:#222; color:#aaa; z-index:1;">';
  for (var i = 0; i < cols.length; i++) html += cellOpen(list, cols[i]) + labels[i] + '</span>' + colResizeHandle(listName, cols[i]);
  return html + cellOpen(list, '') + labels[5] + '</span></div>';
}

// The panel's fixed parts, made once.
function ensureSearchPanelDom() {
  var ov = pageEl('song-search-overlay');
  if (!ov || pageEl('song-search-panel')) return ov;
  ov.style.background = 'rgba(10,12,16,0.96)';
  ov.style.borderBottom = '4px solid #f39c12';
  ov.style.color = '#eee';
  ov.innerHTML =
    '<div style="display:flex; height:100%;">' +
    '<div id="song-search-panel" style="flex:1; display:flex; flex-direction:column; min-width:0; padding:6px 10px; box-sizing:border-box;">' +
    '<div id="song-search-mode-label" style="font-weight:bold; font-size:16px; margin-bottom:4px;"></div>' +
    '<div id="song-search-results" style="flex:1; overflow-y:auto; min-height:0;"></div>' +
    '<div style="display:flex; align-items:center; gap:10px; padding-top:4px;">' +
    '<div id="song-search-prefix-wrap" style="flex:1;">입력: <span id="song-search-query"></span> 가수(Tab): <span id="song-search-query2"></span> 곡번호(숫자): <span id="song-search-querynum"></span></div>' +
    '<div id="song-search-middle-wrap" style="flex:1; display:none;">중간검색(ALT+F1, 초성/완성형): <input id="song-search-realinput" type="text" autocomplete="off" style="font-size:16px; width:50%;"></div>' +
    '<div id="song-search-mode-badge"></div></div></div>' +
    '<div style="flex:1; display:flex; flex-direction:column; min-width:0; padding:6px 10px; box-sizing:border-box; border-left:2px solid #444;">' +
    '<div style="font-weight:bold; font-size:16px; margin-bottom:4px;">예약곡 목록</div>' +
    '<div id="reserved-list" style="flex:1; overflow-y:auto; min-height:0;"></div></div></div>';
  var input = pageEl('song-search-realinput');
  if (input) {
    input.addEventListener('input', function () {
      searchQuery = input.value;
      recomputeSearchResults();
      renderSearchResults();
    });
  }
  return ov;
}

function renderSearchInputLine() {
  var q = pageEl('song-search-query');
  if (!q) return;
  var active = !secondFieldActive;
  q.textContent = searchQuery || '\u00a0';
  q.style.background = active ? '#00bcd4' : 'transparent';
  q.style.color = active ? '#000' : '#eee';
  var q2 = pageEl('song-search-query2');
  q2.textContent = searchQuery2 || '\u00a0';
  q2.style.background = secondFieldActive ? '#2ecc71' : 'transparent';
  q2.style.color = secondFieldActive ? '#000' : '#eee';
  var qn = pageEl('song-search-querynum');
  qn.textContent = searchNumQuery || '\u00a0';
  qn.style.background = searchNumQuery ? '#f1c40f' : 'transparent';
  qn.style.color = searchNumQuery ? '#000' : '#eee';
}

// Sets an element's markup only when it changed, so a repaint leaves unchanged parts alone.
function setHtmlOnce(el, html) {
  if (el.__html === html && el.innerHTML !== '') return;
  el.__html = html;
  el.innerHTML = html;
}

function renderSearchHeader() {
  var label = pageEl('song-search-mode-label');
  if (label) {
    setHtmlOnce(label, '&#128269; ' + (searchStyle === 'middle' ? '중간검색 (ALT+F1)' : '곡 찾기 (F1)') +
      ' <span onclick="toggleSearchLang()" style="cursor:pointer; border:1px solid #888; border-radius:6px; padding:0 6px; margin-left:8px;">' +
      (searchLang === 'ko' ? '한글 가나' : '영문 ABC') + '</span> (`) <span style="color:#aaa; margin-left:10px;">숫자=곡번호</span>');
  }
  var badge = pageEl('song-search-mode-badge');
  if (badge) {
    var colors = ['#8ab4f8', '#2ecc71', '#ff9f43'];
    var html = '';
    for (var m = 0; m < 3; m++) {
      html += m === searchMode
        ? '<span style="background:' + colors[m] + '; color:#000; font-weight:bold; font-size:1.15em; padding:1px 6px; border-radius:4px; margin-right:4px;">' + SEARCH_MODE_LABELS[m] + '</span>'
        : '<span style="color:#888; margin-right:4px;">' + SEARCH_MODE_LABELS[m] + '</span>';
    }
    setHtmlOnce(badge, html + '<span style="color:#888;">F1</span>');
  }
}

function searchRowHtml(s, i, sel) {
  var userKeys = typeof userKeyIds !== 'undefined' && userKeyIds && (userKeyIds[s.id] || (userKeyIds.has && userKeyIds.has(s.id)));
  return '<div class="lr search-row' + (sel ? ' sel' : '') + '" data-idx="' + i + '" onclick="selectSearchResult(' + i + ')">' +
    cellOpen('sc', 'id') + s.id + '</span>' +
    cellOpen('sc', 'title') + dispTitleHtml(s) + '</span>' +
    cellOpen('sc', 'singer') + htmlEsc(dispSinger(s)) + '</span>' +
    cellOpen('sc', 'tempo') + (s.tempo ? s.tempo : '') + '</span>' +
    cellOpen('sc', 'keys', userKeys ? 'color:#ff6fb5;' : '') + htmlEsc(s.keys || '') + '</span>' +
    cellOpen('sc', '') + htmlEsc(lyricCell(s)) + '</span></div>';
}

// The result list draws only the rows in view (and a couple around them) between two spacers
// that stand for the rest, so a key press builds a screenful of rows however long the list is.
// The information line, the header and every row have one fixed height, so a row's place is known
// without measuring the page.
function searchRowPx() {
  return Math.round(listFontPx * 1.45) + 2;
}
var SEARCH_ROW_MARGIN = 2;  // rows drawn beyond each edge of the view
var searchList = null;      // the drawn list: its elements and the window of rows now in them

function searchRowsHtml(from, to) {
  var parts = [];
  for (var i = from; i < to; i++) parts.push(searchRowHtml(searchResults[i], i, !reservedFocused && i === searchSelIdx));
  return parts.join('');
}

function searchListOf(box) {
  if (searchList && searchList.box === box && searchList.root.parentNode === box) return searchList;
  box.innerHTML = '<div class="search-list">' +
    '<div class="search-info" style="color:#f1c40f; font-size:0.85em;"></div>' +
    listHeaderHtml('sc', 'search', ['곡번호', '제목', '가수명', '템포', '원/남/여키', '첫가사']) +
    '<div class="search-pad"></div><div class="search-win"></div><div class="search-pad"></div></div>';
  var root = box.firstChild;
  searchList = { box: box, root: root, info: root.children[0], top: root.children[2], win: root.children[3],
                 bottom: root.children[4], infoText: null, key: '' };
  box.addEventListener('scroll', searchListScrolled);
  return searchList;
}

function searchListTop(list) {
  var h = searchRowPx();
  return (list.infoText ? h : 0) + h;  // information line and header above the first row
}

// Draws the rows seen with the list scrolled to `scrollTop` in a view `viewH` high.
function drawSearchWindow(list, scrollTop, viewH, force) {
  var h = searchRowPx();
  var n = searchResults.length;
  var rel = scrollTop - searchListTop(list);
  var first = Math.max(0, Math.min(n, Math.floor(rel / h) - SEARCH_ROW_MARGIN));
  var last = Math.max(first, Math.min(n, Math.ceil((rel + viewH) / h) + SEARCH_ROW_MARGIN));
  var key = first + ':' + last + ':' + h + ':' + searchSelIdx + ':' + reservedFocused;
  if (!force && key === list.key && list.results === searchResults) return;
  list.key = key;
  list.results = searchResults;
  list.top.style.height = first * h + 'px';
  list.bottom.style.height = (n - last) * h + 'px';
  list.win.innerHTML = searchRowsHtml(first, last);
}

// Puts the highlighted row in view (the list's top for the first row) and draws the rows there.
// `scrollTop` and `viewH` are read before the page is changed, so no layout is forced here.
function placeSearchRows(list, scrollTop, viewH, force) {
  var h = searchRowPx();
  var listTop = searchListTop(list);
  var target = scrollTop;
  if (searchSelIdx === 0) {
    target = 0;
  } else {
    var rowTop = listTop + searchSelIdx * h;
    if (rowTop - h < target) target = rowTop - h;  // the header stays at the top of the view
    else if (rowTop + h > target + viewH) target = rowTop + h - viewH;
  }
  target = Math.max(0, Math.min(target, listTop + searchResults.length * h - viewH));
  drawSearchWindow(list, target, viewH, force);
  if (target !== scrollTop) list.box.scrollTop = target;
}

function searchListScrolled() {
  var list = searchList;
  if (!list || list.root.parentNode !== list.box) return;
  drawSearchWindow(list, list.box.scrollTop, list.box.clientHeight, false);
}

// Moves the highlight of the shown results without drawing the rest of the panel again.
function moveSearchHighlight() {
  var box = pageEl('song-search-results');
  if (!box || !searchList || searchList.box !== box || searchList.root.parentNode !== box) {
    renderSearchResults();
    return;
  }
  placeSearchRows(searchList, box.scrollTop, box.clientHeight, false);
}

function renderSearchResults() {
  ensureSearchPanelDom();
  var box = pageEl('song-search-results');
  var scrollTop = box ? box.scrollTop : 0;
  var viewH = box ? box.clientHeight : 0;
  applyListFont();
  renderSearchInputLine();
  renderSearchHeader();
  if (!box) return;
  if (songDb.length === 0) {
    searchList = null;
    box.innerHTML = '<div style="color:#ff4d4d; font-weight:bold;">0곡 - ' + rootPathHtml('system/songs.csv') + '를 찾지 못했습니다</div>';
    return;
  }
  if (searchResults.length === 0) {
    searchList = null;
    box.innerHTML = '<div style="color:#aaa;">검색결과 없음</div>';
    return;
  }
  var info = '';
  if (searchFrozen) info = '예약했습니다 · 목록 유지 중 - 스페이스로 계속 예약, 초성을 치면 새로 찾기';
  else if (!searchQuery) info = '전체 ' + songDb.length + '곡 중 ' + searchResults.length + '곡 표시';
  else if (searchTruncated) info = '앞 쪽 ' + searchResults.length + '곡만 표시 - 초성을 한 글자 더 치면 좍혀집니다';
  var list = searchListOf(box);
  if (list.infoText !== info) {
    list.infoText = info;
    list.info.textContent = info;
    list.info.style.display = info ? '' : 'none';
  }
  placeSearchRows(list, scrollTop, viewH, true);
}

function selectSearchResult(i) {
  if (i < 0 || i >= searchResults.length) return;
  searchSelIdx = i;
  reservedFocused = false;
  renderSearchResults();
  renderReservedQueue();
}

// ---- Opening, closing and modes ----

function isCustomerPage() {
  return !!window.__customerMode;
}

function updateSearchInputMode() {
  ensureSearchPanelDom();
  var pw = pageEl('song-search-prefix-wrap');
  var mw = pageEl('song-search-middle-wrap');
  if (!pw || !mw) return;
  if (searchStyle === 'middle') {
    pw.style.display = 'none';
    mw.style.display = '';
    var input = pageEl('song-search-realinput');
    input.value = searchQuery;
    midShowMode();
    try { input.focus(); } catch (e) {}
    pagePost('SWITCH_TO_KOREAN_IME');
  } else {
    pw.style.display = '';
    mw.style.display = 'none';
  }
}

function openSearchPanel(style) {
  if (isCustomerPage()) return;
  searchPanelOpen = true;
  searchStyle = style === 'middle' ? 'middle' : 'prefix';
  searchMode = 0;
  searchQuery = '';
  searchQuery2 = '';
  searchNumQuery = '';
  searchLang = 'ko';
  secondFieldActive = false;
  reservedFocused = false;
  searchSelIdx = 0;
  midComposer.reset();
  var ov = ensureSearchPanelDom();
  if (ov) ov.style.display = 'block';
  updateSearchInputMode();
  var fill = function () {
    recomputeSearchResults();
    renderSearchResults();
    renderReservedQueue();
    var rl = pageEl('reserved-list');
    if (rl) rl.scrollTop = 0;
  };
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(fill); else fill();
}

function closeSearchPanel() {
  if (isCustomerPage()) return;
  searchPanelOpen = false;
  searchQuery = '';
  searchQuery2 = '';
  searchNumQuery = '';
  searchLang = 'ko';
  secondFieldActive = false;
  searchResults = [];
  searchSelIdx = 0;
  reservedFocused = false;
  searchStyle = 'prefix';
  midComposer.reset();
  var ov = pageEl('song-search-overlay');
  if (ov) ov.style.display = 'none';
}

function searchAgain() {
  recomputeSearchResults();
  renderSearchResults();
}

function cycleOrOpenSearchPanel() {
  if (!searchPanelOpen) { openSearchPanel('prefix'); return; }
  if (searchStyle === 'middle') {
    searchStyle = 'prefix';
    searchQuery = '';
    searchNumQuery = '';
    reservedFocused = false;
    midComposer.reset();
    searchAgain();
    updateSearchInputMode();
    return;
  }
  searchMode = (searchMode + 1) % 3;
  searchQuery = '';
  searchNumQuery = '';
  searchAgain();
}

function cycleOrOpenSearchPanelAlt() {
  if (!searchPanelOpen) { openSearchPanel('middle'); return; }
  if (searchStyle === 'prefix') {
    searchStyle = 'middle';
    searchQuery = '';
    reservedFocused = false;
  } else {
    searchMode = (searchMode + 1) % 3;
    searchQuery = '';
  }
  midComposer.reset();
  searchAgain();
  updateSearchInputMode();
}

function toggleSearchLang() {
  searchLang = searchLang === 'ko' ? 'en' : 'ko';
  searchQuery = '';
  searchNumQuery = '';
  searchAgain();
}

function reserveSelectedSong() {
  var s = searchResults[searchSelIdx];
  if (s) {
    reservedQueue.push(makeReservation(s));
    renderReservedQueue();
  }
  closeSearchPanel();
}

function reserveSelectedSongKeepOpen() {
  var s = searchResults[searchSelIdx];
  if (!s) return;
  reservedQueue.push(makeReservation(s));
  renderReservedQueue();
  searchQuery = '';
  searchQuery2 = '';
  searchNumQuery = '';
  secondFieldActive = false;
  reservedFocused = false;
  midComposer.reset();
  searchFrozen = true;
  renderSearchResults();
  updateSearchInputMode();
  modeToast('예약 ' + reservedQueue.length + '곡 : ' + dispTitle(s));
}

// Korean composing indicator of the middle search.
function midShowMode() {
  var wrap = pageEl('song-search-middle-wrap');
  if (!wrap) return;
  var el = pageEl('song-search-middle-mode');
  if (!el) {
    el = document.createElement('span');
    el.id = 'song-search-middle-mode';
    el.style.cssText = 'color:#2ecc71; font-weight:bold; margin-right:6px;';
    wrap.insertBefore(el, wrap.firstChild);
  }
  el.textContent = midHangulOn ? '한' : 'A';
}

function midApply() {
  searchQuery = midComposer.value();
  var input = pageEl('song-search-realinput');
  if (input) input.value = searchQuery;
  searchAgain();
  midShowMode();
}

// ---- Keys ----

function moveHighlight(delta, wrap) {
  if (reservedFocused) {
    var n = reservedQueue.length;
    if (!n) return;
    reservedSelIdx = wrap ? (reservedSelIdx + delta + n) % n : Math.max(0, Math.min(n - 1, reservedSelIdx + delta));
    renderReservedQueue();
    renderSearchResults();
    return;
  }
  var m = searchResults.length;
  if (!m) return;
  searchSelIdx = wrap ? (searchSelIdx + delta + m) % m : Math.max(0, Math.min(m - 1, searchSelIdx + delta));
  moveSearchHighlight();
}

// Typing into the active text field of the prefix style starts a new search.
function searchTypeText(ch) {
  searchNumQuery = '';
  if (secondFieldActive) searchQuery2 += ch; else searchQuery += ch;
  searchAgain();
}

// The panel's keys; the panel takes every key while it is open.
function searchPanelKey(e) {
  var k = e.key;
  var code = e.code || '';
  e.preventDefault();
  var queueSel = reservedFocused && reservedQueue.length > 0 && reservedSelIdx < reservedQueue.length;
  if (k === 'Escape') { closeSearchPanel(); return true; }
  if (queueSel && adjustReservationKey(e)) return true;
  if (k === '+' || k === '=') { adjustListFont(2); return true; }
  if (k === '-' || k === '_') { adjustListFont(-2); return true; }
  if (k === 'Enter') {
    if (reservedFocused) closeSearchPanel(); else reserveSelectedSong();
    return true;
  }
  if (k === 'ArrowUp') { moveHighlight(-1, true); return true; }
  if (k === 'ArrowDown') { moveHighlight(1, true); return true; }
  if (k === 'PageUp') { moveHighlight(-PAGE_JUMP, false); return true; }
  if (k === 'PageDown') { moveHighlight(PAGE_JUMP, false); return true; }
  if (k === ' ' || code === 'Space') {
    if (reservedFocused) { if (queueSel) moveReservationToTop(reservedSelIdx); }
    else reserveSelectedSongKeepOpen();
    return true;
  }
  if (k === 'Insert') {
    if (reservedFocused) {
      if (queueSel) playNowSong(reservedQueue[reservedSelIdx], true, reservedSelIdx);
    } else if (searchResults[searchSelIdx]) {
      playNowSong(makeReservation(searchResults[searchSelIdx]), false, -1);
    }
    return true;
  }
  if (searchStyle === 'middle') {
    if (e.ctrlKey || e.altKey || e.metaKey) return true;
    var input = pageEl('song-search-realinput');
    if (input && input.value !== midComposer.value()) {
      midComposer.reset();
      midComposer.done = input.value;
    }
    if (LANG_KEY_CODES[code] || LANG_KEY_CODES[k]) {
      midHangulOn = !midHangulOn;
      midShowMode();
      return true;
    }
    if (k === 'Backspace') midComposer.backspace();
    else if (midHangulOn && (e.shiftKey ? HG_KEY_SHIFT[code] : HG_KEY[code])) {
      midComposer.input(e.shiftKey ? HG_KEY_SHIFT[code] : HG_KEY[code]);
    } else if (k && k.length === 1) midComposer.input(k);
    else return true;
    midApply();
    return true;
  }
  // Prefix style.
  if (k === 'ArrowRight') {
    if (!reservedFocused && reservedQueue.length > 0) {
      reservedFocused = true;
      reservedSelIdx = 0;
      renderReservedQueue();
      renderSearchResults();
    }
    return true;
  }
  if (k === 'ArrowLeft') {
    if (reservedFocused) {
      reservedFocused = false;
      renderReservedQueue();
      renderSearchResults();
    }
    return true;
  }
  if (k === 'Tab') {
    if (!reservedFocused) {
      secondFieldActive = !secondFieldActive;
      renderSearchResults();
    }
    return true;
  }
  if (k === 'Backspace' || k === 'Delete') {
    if (reservedFocused) {
      if (queueSel) {
        reservedQueue.splice(reservedSelIdx, 1);
        if (reservedSelIdx >= reservedQueue.length) reservedSelIdx = Math.max(0, reservedQueue.length - 1);
        renderReservedQueue();
        renderSearchResults();
      }
      return true;
    }
    if (searchNumQuery) searchNumQuery = searchNumQuery.slice(0, -1);
    else if (secondFieldActive) searchQuery2 = Array.from(searchQuery2).slice(0, -1).join('');
    else searchQuery = Array.from(searchQuery).slice(0, -1).join('');
    searchAgain();
    return true;
  }
  if (reservedFocused) return true;
  if (LANG_KEY_CODES[code] || LANG_KEY_CODES[k]) { toggleSearchLang(); return true; }
  if (searchLang === 'ko') {
    if (k && k.length === 1 && k >= '0' && k <= '9') {
      searchNumQuery += k;
      searchQuery = '';
      searchQuery2 = '';
      secondFieldActive = false;
      searchAgain();
      return true;
    }
    var jamo = e.shiftKey ? CHOSUNG_KEYMAP_SHIFT[code] : CHOSUNG_KEYMAP[code];
    if (jamo) searchTypeText(jamo);
    return true;
  }
  var ch = '';
  if (/^Key[A-Z]$/.test(code)) ch = code.charAt(3).toLowerCase();
  else if (/^Digit[0-9]$/.test(code)) ch = code.charAt(5);
  else if (k && /^[A-Za-z0-9]$/.test(k)) ch = k.toLowerCase();
  if (ch) searchTypeText(ch);
  return true;
}
