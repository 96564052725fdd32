// ---- Song screen: song load and score pages ----
// The page side of the song start: the song's notes, lyric timing, chord and lyric lines, bars,
// keys and marks arrive in initSong and its companions; the score page shows a few bars at a time
// with chord names, bar numbers, key, transposition labels, jump marks and small lyrics, and turns
// ahead while the song plays (the tick updates call applyScoreRows and drawPage).

var tpq = 120, tm = 480;
var melodyNotes = [], ch5Notes = [], ch2Notes = [];
var syncTicks = [];
var measureStarts = [];
var allLyricLinesOriginal = [], allLyricLinesOrig = [];
var allSyllablesFlat = [], syllableMap = [];
var hasRealLyrics = false, songPreviewText = '', previewSpans = [];
var verse1StartTick = -1, verse2StartTick = -1, verse1LineIdx = -1, verse2LineIdx = -1;
var parsedChords = [];
var keySigChanges = [];
var drumNotes = [];
var jumpMarks = [];
var melRangeMin = 0, melRangeMax = 0, melCoreMin = 0, melCoreMax = 0;
var ch5RangeMin = 0, ch5RangeMax = 0, ch5CoreMin = 0, ch5CoreMax = 0;
var melHasRange = false, ch5HasRange = false;
var pitchOffset = 0, pitchOffsetLower = 0;
var scoreKeyMode = 0;
var curMeasures = [], curMeasures2 = [], activeScoreRow = 1, lastCurMeasureIdx = -1;
var KEYSIG_NAMES = ['C', 'Db', 'D', 'Eb', 'E', 'F', 'F#', 'G', 'Ab', 'A', 'Bb', 'B'];

// Layout in canvas units, recomputed at every draw.
var CANVAS_W = 1600, CANVAS_H = 450;
var noteScale = 1.0, measPerPage = 4;
var LEFT_MARGIN = 170, START_X = 30, END_X = 1570, UPPER_Y = 100, LOWER_Y = 280, BEAT1_OFFSET = 40;
var MEASURE_WIDTH = (END_X - LEFT_MARGIN) / 4;
var STAFF_Y = [100, 280];
var scoreShownH = 0;  // displayed height of the score canvases at the last draw

var MAX_SCREEN_BARS = 20000;       // bars after splitting long ones; a hostile bar list stops here
var SCORE_BG = '#fdfbf7';
var KEY_COUNT_BY_PC = [0, -5, 2, -3, 4, -1, 6, 1, -4, 3, -2, 5];
var PREVIEW_OPEN = '(（', PREVIEW_CLOSE = ')）';

function numList(a) {
  if (!Array.isArray(a)) return [];
  var out = [];
  for (var i = 0; i < a.length; i++) { var v = +a[i]; if (isFinite(v)) out.push(v); }
  return out;
}
function noteList(a) {
  if (!Array.isArray(a)) return [];
  var out = [];
  for (var i = 0; i < a.length; i++) {
    var n = a[i];
    if (!Array.isArray(n) || n.length < 3) continue;
    var p = +n[0], s = +n[1], l = +n[2];
    if (isFinite(p) && isFinite(s) && isFinite(l)) out.push([p, s, l]);
  }
  return out;
}
function textList(a) {
  return Array.isArray(a) ? a.map(function (t) { return t == null ? '' : String(t); }) : [];
}
function staffEl(id) { return typeof document !== 'undefined' ? document.getElementById(id) : null; }
function getCtx(id) {
  var c = staffEl(id);
  return c && c.getContext ? c.getContext('2d') : null;
}

// ---- Bars ----

// Bar list -> bar starts with every bar longer than a 4/4 bar plus half a beat split into 4/4
// pieces (bounded: at most MAX_SCREEN_BARS starts).
function splitMeasureStarts(list, q) {
  q = q > 0 ? q : 120;
  var bar = 4 * q, half = q / 2;
  var src = numList(list);
  if (!src.length) src = [0];
  var out = [];
  for (var i = 0; i < src.length && out.length < MAX_SCREEN_BARS; i++) {
    out.push(src[i]);
    if (i + 1 >= src.length) break;
    var next = src[i + 1];
    if (next - src[i] <= bar + half) continue;
    for (var t = src[i] + bar; t < next - half && out.length < MAX_SCREEN_BARS; t += bar) out.push(t);
  }
  return out;
}
function tickToMeasureIdx0(tick) {
  var a = measureStarts;
  if (!a.length || !(tick >= a[0])) return 0;
  var lo = 0, hi = a.length - 1;
  while (lo < hi) {
    var mid = (lo + hi + 1) >> 1;
    if (a[mid] <= tick) lo = mid; else hi = mid - 1;
  }
  return lo;
}
function measureStartTick(b) {
  b = b < 0 || !isFinite(b) ? 0 : Math.floor(b);
  var a = measureStarts;
  if (!a.length) return b * tm;
  if (b < a.length) return a[b];
  return a[a.length - 1] + (b - (a.length - 1)) * tm;
}
function measureLenAt(b) {
  var l = measureStartTick(b + 1) - measureStartTick(b);
  return l > 0 ? l : tm;
}
function measureRatio(tick, b) {
  var r = (tick - measureStartTick(b)) / measureLenAt(b);
  return r < 0 ? 0 : r > 1 ? 1 : r;
}

// ---- Lyrics ----

function isPreviewLine(t) {
  var s = String(t).trim();
  return s.length >= 2 && PREVIEW_OPEN.indexOf(s.charAt(0)) >= 0 && PREVIEW_CLOSE.indexOf(s.charAt(s.length - 1)) >= 0;
}
function hasLyricLetters(t) {
  return /[\uAC00-\uD7A3\u3131-\u318EA-Za-z]/.test(String(t));
}
function isDashChar(c) { return c === '_' || c === '-' || c === '~'; }

// Maps the lyric lines' characters to the lyric ticks. Returns the shown lines, syllables, their
// map, the syllable ticks, the preview text and spans.
function mapSyllables(lines, syncs) {
  lines = textList(lines);
  var ticks = numList(syncs);
  var shownIdx = [];
  var preview = [];
  for (var i = 0; i < lines.length; i++) {
    if (isPreviewLine(lines[i])) preview.push(lines[i].trim());
    else if (hasLyricLetters(lines[i])) shownIdx.push(i);
  }
  var r = { shown: shownIdx.map(function (k) { return lines[k]; }), flat: [], map: [], ticks: ticks,
            previewText: preview.join(' '), spans: [], hasReal: shownIdx.length > 0 };
  if (!shownIdx.length) { r.shown = lines.slice(); return r; }
  var T = 0, D = 0;
  for (var a = 0; a < lines.length; a++) {
    for (var c = 0; c < lines[a].length; c++) {
      var ch = lines[a].charAt(c);
      if (ch === ' ' || ch === '\t') continue;
      T++;
      if (!isDashChar(ch)) D++;
    }
  }
  var N = ticks.length;
  var dashCounts = Math.abs(N - T) < Math.abs(N - D);
  var run = 0, shownTicks = [];
  var shownPos = {};
  shownIdx.forEach(function (k, j) { shownPos[k] = j; });
  for (var li = 0; li < lines.length; li++) {
    var line = lines[li];
    var firstRun = -1;
    var isShown = shownPos[li] !== undefined;
    for (var ci = 0; ci < line.length; ci++) {
      var x = line.charAt(ci);
      if (x === ' ' || x === '\t') continue;
      if (isDashChar(x) && !dashCounts) continue;
      if (firstRun < 0) firstRun = run;
      if (isShown) {
        r.flat.push(x);
        r.map.push({ line: shownPos[li], ch: ci });
        if (run < N) shownTicks.push(ticks[run]);
      }
      run++;
    }
    if (isPreviewLine(line) && firstRun >= 0 && firstRun < N) r.spans.push({ tick: ticks[firstRun], end: Infinity, text: line.trim() });
  }
  if (N === run) r.ticks = shownTicks;
  r.spans.forEach(function (s) {
    for (var q = 0; q < r.ticks.length; q++) if (r.ticks[q] >= s.tick) { s.end = r.ticks[q]; return; }
  });
  return r;
}

// ---- Chords ----

// A chord run like "Am7D" -> ["Am7", "D"]; never split inside parentheses.
function splitChordRun(tok) {
  tok = String(tok || '');
  if (!tok) return [];
  if (tok === 'NC') return ['NC'];
  var out = [], cur = tok.charAt(0), depth = cur === '(' ? 1 : 0;
  for (var i = 1; i < tok.length; i++) {
    var c = tok.charAt(i);
    if (c === '(') depth++;
    else if (c === ')') depth = Math.max(0, depth - 1);
    if (depth === 0 && c === 'N' && tok.charAt(i + 1) === 'C') { out.push(cur); cur = 'NC'; i++; continue; }
    if (depth === 0 && c >= 'A' && c <= 'G' && !(c === 'C' && cur === 'N')) { out.push(cur); cur = c; continue; }
    cur += c;
  }
  out.push(cur);
  return out.filter(function (s) { return s.length > 0; });
}
// Chord lines -> [{bar (the chord text's first bar is 1), beat, name}].
function parseDotChords(lines) {
  lines = textList(lines);
  var out = [], bar = 1;
  for (var li = 0; li < lines.length; li++) {
    var line = lines[li], beat = 0, i = 0;
    while (i < line.length) {
      var c = line.charAt(i);
      if (c === '/' || c === '|') { bar++; beat = 0; i++; continue; }
      if (c === '.' || c === ',') { beat++; i++; continue; }
      if (c === ' ' || c === '\t') { i++; continue; }
      var name = '', depth = 0;
      while (i < line.length) {
        var d = line.charAt(i);
        if (depth === 0 && (d === '.' || d === ',' || d === ' ' || d === '/' || d === '|')) break;
        if (d === '(') depth++;
        else if (d === ')' && depth > 0) depth--;
        if (!(depth > 0 && (d === ' ' || d === '\t'))) name += d;
        i++;
      }
      var parts = splitChordRun(name);
      for (var p = 0; p < parts.length; p++) out.push({ bar: bar, beat: beat++, name: parts[p] });
    }
    var trimmed = line.replace(/[ \t]+$/, '');
    if (trimmed && !/[\/|]$/.test(trimmed)) bar++;
  }
  return out;
}

// ---- Ranges and where the melody is written ----

function noteRange(list) {
  if (!list.length) return null;
  var v = list.map(function (n) { return n[0]; }).sort(function (a, b) { return a - b; });
  var pct = function (t) { return v[Math.floor((v.length - 1) * t)]; };
  return { min: v[0], max: v[v.length - 1], lo: pct(0.1), hi: pct(0.9) };
}
// The octave offset (-24..24) that fits [lo, hi] shifted by s best above the floor f.
function placeRange(lo, hi, s, f) {
  var best = 0, bestCost = Infinity;
  for (var k = -2; k <= 2; k++) {
    var off = 12 * k;
    var over = Math.max(0, hi + s + off - 81);
    var under = Math.max(0, f - (lo + s + off));
    var cost = 1.3 * over + under + 0.01 * Math.abs(off);
    if (cost < bestCost - 1e-9) { bestCost = cost; best = off; }
  }
  return best;
}
function recalcPitchOffset() {
  var t = jsPitchTransposeSemitones | 0;
  if (!melHasRange) pitchOffset = 0;
  else if (scoreKeyMode === 2) {
    var male = curKeyMale | 0;
    var mOff = placeRange(melCoreMin, melCoreMax, male, 55);
    var fOff = placeRange(melCoreMin, melCoreMax, t, 60);
    for (var n = 0; n < 4 && t + fOff <= male + mOff; n++) fOff += 12;
    pitchOffset = fOff;
  } else pitchOffset = placeRange(melCoreMin, melCoreMax, t, 55);
  pitchOffsetLower = !ch5HasRange ? pitchOffset : 12 * Math.round((71 - (ch5CoreMin + ch5CoreMax) / 2 - t) / 12);
}

// ---- Keys ----

function effectiveSongKey() {
  var pc = (((origKeyRootPc | 0) + (jsPitchTransposeSemitones | 0)) % 12 + 12) % 12;
  if (origKeyIsMinor) pc = (pc + 3) % 12;
  return KEY_COUNT_BY_PC[pc];
}
function keyAtBar(b) {
  var k = effectiveSongKey();
  if (!keySigChanges.length) return k;
  var first = keySigChanges[0][1], c = first;
  for (var i = 0; i < keySigChanges.length && keySigChanges[i][0] <= b; i++) c = keySigChanges[i][1];
  var v = k + (c - first);
  if (!isFinite(v)) return k;
  // wrapped into -6..6 by whole octaves of the circle of fifths (no loop: the values come from the program)
  if (v > 6) v -= 12 * Math.ceil((v - 6) / 12);
  else if (v < -6) v += 12 * Math.ceil((-6 - v) / 12);
  return v;
}

// ---- Pages ----

// Bars shown in one row while bar b plays.
function rowBarsFor(b, N) {
  N = Math.max(1, N | 0);
  var half = Math.floor(N / 2), page = Math.floor(b / N), slot = b % N, ps = page * N, out = [];
  if (half >= 1 && slot >= half) {
    for (var i = 0; i < half; i++) out.push(ps + N + i);
    for (var j = half; j < N; j++) out.push(ps + j);
  } else for (var k = 0; k < N; k++) out.push(ps + k);
  return out;
}
function blockBars(block, N) {
  var out = [];
  for (var i = 0; i < N; i++) out.push(block * N + i);
  return out;
}
function isFullScore() { return typeof staffMode !== 'undefined' && staffMode === 3; }
function applyScoreRows(b) {
  b = Math.max(0, b | 0);
  var N = Math.max(1, Math.min(8, measPerPage | 0 || 4));
  var r1, r2 = [], active = 1;
  if (isFullScore()) {
    var block = Math.floor(b / N);
    if (block % 2 === 0) { r1 = blockBars(block, N); r2 = blockBars(block + 1, N); active = 1; }
    else { r1 = blockBars(block + 1, N); r2 = blockBars(block, N); active = 2; }
  } else r1 = rowBarsFor(b, N);
  var changed = r1.join(',') !== curMeasures.join(',') || r2.join(',') !== curMeasures2.join(',');
  curMeasures = r1;
  curMeasures2 = r2;
  activeScoreRow = active;
  return changed;
}
function recalcMeasureWidth() {
  MEASURE_WIDTH = (END_X - LEFT_MARGIN) / Math.max(1, measPerPage | 0 || 4);
  if (lastCurMeasureIdx >= 0 || songLoaded) applyScoreRows(Math.max(0, lastCurMeasureIdx));
}

// ---- Song load ----

function initSong(title, q, notes, ch2, ch5, syncs, keyRootPc, keyIsMinor, rawChords, rawLyrics, measureStartsIn,
                  baseTempo, historyTitle, songId, verse1Tick, verse2Tick, rawLyricsOrig) {
  var origLines = textList(rawLyricsOrig);
  if (typeof showOrigLangLyrics !== 'undefined') showOrigLangLyrics = false;
  jsIsPaused = false;
  window.__startBusy = false;
  window.__autoNextBusy = false;
  var titleEl = staffEl('song-title');
  if (!titleEl) return;
  title = title == null ? '' : String(title);
  var shortFn = typeof shortLabel === 'function' ? shortLabel : null;
  titleEl.textContent = shortFn ? shortFn(title, 5) : title;
  titleEl.__full = title;
  window.curSongLabel = title;

  tpq = +q > 0 && isFinite(+q) ? +q : 120;
  tm = 4 * tpq;
  melodyNotes = noteList(notes);
  ch2Notes = noteList(ch2);
  ch5Notes = noteList(ch5);
  origKeyRootPc = ((+keyRootPc | 0) % 12 + 12) % 12;
  origKeyIsMinor = !!(+keyIsMinor);
  songLoaded = true;
  helpOverSong = false;
  baseSongTempo = +baseTempo > 0 ? +baseTempo : 0;
  jsRhythmMult = 0;
  updateMouseLockDisplay();
  refreshBg();
  updateTempoPitchDisplay(jsTempoAdjustBpm, jsPitchTransposeSemitones, true);
  beginSongHistory(songId, historyTitle || title);

  measureStarts = splitMeasureStarts(measureStartsIn, tpq);

  var lyr = mapSyllables(rawLyrics, syncs);
  allLyricLinesOriginal = lyr.shown;
  allSyllablesFlat = lyr.flat;
  syllableMap = lyr.map;
  syncTicks = lyr.ticks;
  hasRealLyrics = lyr.hasReal;
  songPreviewText = lyr.previewText;
  previewSpans = lyr.spans;
  var allLines = textList(rawLyrics);
  if (origLines.length === allLines.length && lyr.hasReal) {
    allLyricLinesOrig = [];
    for (var i = 0; i < allLines.length; i++) if (!isPreviewLine(allLines[i]) && hasLyricLetters(allLines[i])) allLyricLinesOrig.push(origLines[i]);
  } else allLyricLinesOrig = origLines;

  verse1StartTick = +verse1Tick >= 0 ? +verse1Tick : -1;
  verse2StartTick = +verse2Tick >= 0 ? +verse2Tick : -1;
  var verseLine = function (t) {
    if (t < 0) return -1;
    for (var s = 0; s < syllableMap.length && s < syncTicks.length; s++) if (syncTicks[s] >= t) return syllableMap[s].line;
    return -1;
  };
  verse1LineIdx = verseLine(verse1StartTick);
  verse2LineIdx = verseLine(verse2StartTick);

  parsedChords = parseDotChords(rawChords);
  var mr = noteRange(melodyNotes), cr = noteRange(ch5Notes);
  melHasRange = !!mr;
  ch5HasRange = !!cr;
  if (mr) { melRangeMin = mr.min; melRangeMax = mr.max; melCoreMin = mr.lo; melCoreMax = mr.hi; }
  if (cr) { ch5RangeMin = cr.min; ch5RangeMax = cr.max; ch5CoreMin = cr.lo; ch5CoreMax = cr.hi; }
  keySigChanges = [];
  drumNotes = [];
  jumpMarks = [];
  curMeasures = [];
  curMeasures2 = [];
  lastCurMeasureIdx = -1;
  if (typeof resetLyricsState === 'function') resetLyricsState();
  recalcPitchOffset();
  var big = staffEl('big-lyrics');
  if (big && typeof setLyricsHtml === 'function') setLyricsHtml(big, introHtml());
  updateCurrentChordDisplay('');
  window.lastBgVerse = 0;
  if (typeof bgRandomOn !== 'undefined' && bgRandomOn && !window.__liteMode) {
    window.lastBgVerse = 1;
    pagePost('BG_RANDOM_NEXT');
  }
  applyScoreRows(0);
  drawPage();
  if (window.__customerMode) cwRelayoutSoon();
}

// The home screen after a song: the song screen ends (title, score, lyrics, progress, tempo and
// key display), the help panel and corner buttons come back and the mouse lock lets go. The
// reservation queue and the rhythm panel stay as they are.
function resetToHomeScreen() {
  songLoaded = false;
  helpOverSong = false;
  jsIsPaused = false;
  window.__startBusy = false;
  window.__autoNextBusy = false;
  var titleEl = staffEl('song-title');
  if (titleEl) { titleEl.textContent = '음원 대기중'; titleEl.__full = ''; }
  window.curSongLabel = '';
  baseSongTempo = 0;
  melodyNotes = [];
  ch2Notes = [];
  ch5Notes = [];
  drumNotes = [];
  jumpMarks = [];
  measureStarts = [];
  curMeasures = [];
  curMeasures2 = [];
  lastCurMeasureIdx = -1;
  allLyricLinesOriginal = [];
  allLyricLinesOrig = [];
  allSyllablesFlat = [];
  syllableMap = [];
  syncTicks = [];
  parsedChords = [];
  songPreviewText = '';
  previewSpans = [];
  resetLyricsState();
  var big = staffEl('big-lyrics');
  if (big) setLyricsHtml(big, '');
  ['grandStaff', 'grandBar', 'grandStaff2', 'grandBar2'].forEach(clearCanvas);
  clearProgressUI();
  updateTempoPitchDisplay(jsTempoAdjustBpm, jsPitchTransposeSemitones, true);
  updateCurrentChordDisplay('');
  releaseMouseLock();
  refreshBg();
}

// The intro screen: "전주 중 입니다..." and the song's preview text below it.
function introHtml() {
  var h = '<div style="text-align:center; color:#777;">전주 <span style="color:#ccc;">중</span> 입니다...</div>';
  if (songPreviewText) h += '<div style="text-align:center; color:#16a085; font-size:60%;">' + htmlEsc(songPreviewText) + '</div>';
  return h;
}

function initDrumNotes(list) {
  drumNotes = [];
  if (!Array.isArray(list)) return;
  for (var i = 0; i < list.length; i++) {
    var d = list[i];
    if (Array.isArray(d) && d.length >= 2 && isFinite(+d[0]) && isFinite(+d[1])) drumNotes.push([+d[0], +d[1], +d[2] || 0]);
  }
}
function initKeySigs(list) {
  keySigChanges = [];
  if (!Array.isArray(list)) return;
  for (var i = 0; i < list.length; i++) {
    var k = list[i];
    if (Array.isArray(k) && isFinite(+k[0]) && isFinite(+k[1])) keySigChanges.push([+k[0], +k[1]]);
  }
  keySigChanges.sort(function (a, b) { return a[0] - b[0]; });
}
function setScoreKeyMode(n) {
  n = n | 0;
  scoreKeyMode = n >= 0 && n <= 2 ? n : 0;
  recalcPitchOffset();
  drawPage();
}
function setJumpMarks(list) {
  jumpMarks = [];
  if (Array.isArray(list)) {
    for (var i = 0; i < list.length; i++) {
      var m = list[i];
      if (m && isFinite(+m.t)) jumpMarks.push({ t: +m.t, n: m.n == null ? '' : String(m.n), f: isFinite(+m.f) ? +m.f : +m.t });
    }
  }
  drawPage();
}
function scoreRedraw() { drawPage(); }

// ---- Drawing ----

function staffDistances(mode) {
  if (mode === 3) return [10];
  if (mode === 1) return [11.0, 12.8];
  if (mode === 2) return [11.0, 10.5, 12.8];
  return [12];
}
function blockHeight(dist) { return dist.reduce(function (a, b) { return a + b; }, 0) + 4; }
function curStaffMode() { return typeof staffMode !== 'undefined' ? staffMode | 0 : 0; }

// ---- Vertical plan of the score ----
// Everything the score draws must stay on its canvas: from the top a row of badges (jump marks and
// the first staff's transposition label), a row of chord names (and the key box), the room the
// notes need above the first staff, the staves, and the room the notes need below the last one.
// The plan is in staff spaces from the first staff's top (negative above it); it follows the
// song's note ranges, so the score keeps its size while the pages turn.

// Room a staff's notes need beyond its lines, in staff spaces: {above, below}.
function staffNoteRoom(lo, hi, clef) {
  if (!(hi >= lo)) return { above: 0, below: 0 };
  var E = MusicEngraver.ENG;
  var bottom = clef === 'bass' ? 18 : 30, topDia = bottom + 8, mid = bottom + 4;
  var dLo = MusicEngraver.spell(lo, 0).dia, dHi = MusicEngraver.spell(hi, 0).dia;
  var stem = Math.max(+E.stemLen || 0, +E.stemMin || 0);
  // heads (a tie bulges up to 1.5 sp below its head), and stem tips with their beams or flags
  var above = (dHi - topDia) / 2 + 0.6;
  var below = (bottom - dLo) / 2 + 1.5;
  if (dLo < mid) above = Math.max(above, (Math.min(dHi, mid - 1) - topDia) / 2 + stem + 1.4);
  if (dHi >= mid) below = Math.max(below, (bottom - Math.max(dLo, mid)) / 2 + stem + 1.4);
  return { above: Math.max(0, above), below: Math.max(0, below) };
}
var DRUM_ROOM = { above: 2.9, below: 2.6 };  // hand beams above the lines, foot beams below
var scoreRangeCache = { list: null, r: null };
function noteRangeOf(list) {
  if (scoreRangeCache.list === list) return scoreRangeCache.r;
  var r = null;
  for (var i = 0; i < list.length; i++) {
    var p = list[i][0];
    if (!r) r = { min: p, max: p };
    else { if (p < r.min) r.min = p; if (p > r.max) r.max = p; }
  }
  scoreRangeCache = { list: list, r: r };
  return r;
}
// The staves a row draws: [{off (sp below the first staff), kind 'notes'|'drum'|'lines', lo, hi, clef}].
function rowStaffKinds(mode, dist) {
  var t = jsPitchTransposeSemitones | 0;
  var basic = basicSheetOn(), drumSheet = drumSheetActive();
  var offs = [0];
  for (var i = 0; i < dist.length; i++) offs.push(offs[i] + dist[i]);
  var melody = function (off) {
    var sh = pitchOffset + t + scoreCfgValue('tU') + 12 * scoreCfgValue('oU');
    return basic && melHasRange ? { off: off, kind: 'notes', lo: melRangeMin + sh, hi: melRangeMax + sh, clef: 'treble' } : { off: off, kind: 'lines' };
  };
  var second = function (off) {
    var sh = pitchOffsetLower + t + scoreCfgValue('tL') + 12 * scoreCfgValue('oL');
    return basic && ch5HasRange ? { off: off, kind: 'notes', lo: ch5RangeMin + sh, hi: ch5RangeMax + sh, clef: 'treble' } : { off: off, kind: 'lines' };
  };
  var out = [melody(0)];
  if (mode === 0 || mode === 3) out.push(drumSheet ? { off: offs[1], kind: 'drum' } : second(offs[1]));
  else {
    out.push(second(offs[1]));
    if (mode === 2) {
      var br = noteRangeOf(ch2Notes);
      out.push(br ? { off: offs[2], kind: 'notes', lo: br.min + t + 12, hi: br.max + t + 12, clef: 'bass' } : { off: offs[2], kind: 'lines' });
    }
    out.push({ off: offs[offs.length - 1], kind: 'drum' });
  }
  return out;
}
// {top, bottom, chordBase, badgeTop} in staff spaces; top and bottom are the canvas room
// needed above the first staff's top and below it (both as distances).
function scoreVerticalPlan(mode, dist) {
  var kinds = rowStaffKinds(mode, dist);
  var yMin = -1.7, yMax = blockHeight(dist);  // bar numbers stand 0.7 sp above the first staff
  for (var i = 0; i < kinds.length; i++) {
    var k = kinds[i];
    var room = k.kind === 'notes' ? staffNoteRoom(k.lo, k.hi, k.clef) : k.kind === 'drum' ? DRUM_ROOM : { above: 0, below: 0 };
    yMin = Math.min(yMin, k.off - room.above);
    yMax = Math.max(yMax, k.off + 4 + room.below);
  }
  var chd = scoreTextStyle('chd');
  var size = (+chd.size || 100) / 100;
  var keyFont = 1.85 * size;                      // the key box is the row's tallest item
  var chordBase = yMin - 0.35 - 0.35 * keyFont;   // its box reaches 0.3 of its font below the base
  var rowTop = chordBase - keyFont - 0.1;
  var badgeTop = null;
  if (jumpMarks.length || transposeLabel(scoreCfgValue('tU'))) {
    badgeTop = rowTop - 0.3 - 1.15;
    rowTop = badgeTop;
  }
  return { top: -rowTop + 0.3, bottom: yMax + 0.3, chordBase: chordBase, badgeTop: badgeTop };
}
var scorePlan = null;

function fitStaffSp(H, dist, fill, plan) {
  var byH = H / (plan.top + plan.bottom), byW = MEASURE_WIDTH / 7;
  var sp = Math.min(byH, byW) * fill;
  sp = Math.min(sp, byH, 34 * Math.max(1, H / 480));
  return Math.max(4.5, sp);
}
// The canvas's displayed size, kept by a resize observer so that a draw during playback does
// not force a layout; a change of size redraws the score.
function scoreCanvasBox(canvas) {
  if (!canvas.__box && canvas.getBoundingClientRect) {
    var b = canvas.getBoundingClientRect();
    canvas.__box = { width: b.width, height: b.height };
  }
  if (!canvas.__watch && typeof ResizeObserver === 'function') {
    canvas.__watch = new ResizeObserver(function (entries) {
      var r = entries[entries.length - 1].contentRect;
      var old = canvas.__box;
      canvas.__box = { width: r.width, height: r.height };
      if (!old || Math.round(old.width) !== Math.round(r.width) || Math.round(old.height) !== Math.round(r.height)) {
        clearTimeout(scoreResizeTimer);
        scoreResizeTimer = setTimeout(function () { drawPage(); }, 120);
      }
    });
    canvas.__watch.observe(canvas);
  }
  return canvas.__box;
}
function fitScoreCanvas(canvas, sp, key, dist, plan) {
  if (canvas && canvas.getBoundingClientRect) {
    var r = scoreCanvasBox(canvas);
    var w = Math.round(r.width), h = Math.round(r.height);
    // a canvas not laid out yet keeps the previous size; a small one (the full score's rows on a
    // low screen) is drawn at its own size, not stretched from a bigger drawing
    if (w >= 160 && h >= 60) { CANVAS_W = w; CANVAS_H = h; }
    scoreShownH = r.height;
  }
  START_X = Math.round(2.4 * sp);
  END_X = CANVAS_W - Math.round(1.2 * sp);
  LEFT_MARGIN = START_X + Math.round(MusicEngraver.headerWidth(key, sp));
  MEASURE_WIDTH = (END_X - LEFT_MARGIN) / Math.max(1, measPerPage | 0 || 4);
  // the whole plan centred in the canvas
  UPPER_Y = Math.round(Math.max(0, CANVAS_H - (plan.top + plan.bottom) * sp) / 2 + plan.top * sp);
  STAFF_Y = [UPPER_Y];
  for (var i = 0; i < dist.length; i++) STAFF_Y.push(STAFF_Y[i] + dist[i] * sp);
  LOWER_Y = STAFF_Y[1];
}
function shiftNotes(list, by, from, to) {
  var out = [];
  for (var i = 0; i < list.length; i++) {
    var n = list[i];
    var len = n[2] > 0 ? n[2] : tpq;
    if (n[1] < to && n[1] + len > from) out.push([n[0] + by, n[1], len]);
  }
  return out;
}
function rowMeasures(bars) {
  return bars.map(function (b) { return { start: measureStartTick(b), len: measureLenAt(b), index: b }; });
}
function scoreCfgValue(k) { return typeof scoreCfg !== 'undefined' && scoreCfg ? scoreCfg[k] | 0 : 0; }
function basicSheetOn() { return typeof showBasicSheet === 'undefined' || !!showBasicSheet; }
function drumSheetActive() { return typeof drumSheetOn !== 'undefined' && !!drumSheetOn; }

// Draws one row's score on a canvas; returns its layout.
function drawScoreRow(canvasId, bars, dist, rowStaffCount, sp, mode) {
  var canvas = staffEl(canvasId);
  if (!canvas || !bars.length) return null;
  var measures = rowMeasures(bars);
  var from = measures.reduce(function (a, m) { return Math.min(a, m.start); }, Infinity);
  var to = measures.reduce(function (a, m) { return Math.max(a, m.start + m.len); }, -Infinity);
  var t = jsPitchTransposeSemitones | 0;
  var basic = basicSheetOn(), drumSheet = drumSheetActive();
  var upper = basic ? shiftNotes(melodyNotes, pitchOffset + t + scoreCfgValue('tU') + 12 * scoreCfgValue('oU'), from, to) : null;
  var lower = basic && !drumSheet ? shiftNotes(ch5Notes, pitchOffsetLower + t + scoreCfgValue('tL') + 12 * scoreCfgValue('oL'), from, to) : null;
  var staves = [{ top: STAFF_Y[0], notes: upper || [], clef: 'treble', color: '#000000' }];
  if (mode === 0 || mode === 3 || rowStaffCount === 2) {
    if (drumSheet) staves.push({ top: STAFF_Y[1], notes: null, clef: null, color: '#2c3e50' });
    else staves.push({ top: STAFF_Y[1], notes: lower || [], clef: 'treble', color: '#2c3e50' });
  } else {
    staves.push({ top: STAFF_Y[1], notes: lower || [], clef: 'treble', color: '#2c3e50' });
    if (mode === 2) {
      staves.push({ top: STAFF_Y[2], notes: ch2Notes.length ? shiftNotes(ch2Notes, t + 12, from, to) : null,
                    clef: ch2Notes.length ? 'bass' : null, color: '#1f6f4a' });
    }
    staves.push({ top: STAFF_Y[STAFF_Y.length - 1], notes: null, clef: null, color: '#111' });
  }
  var dpr = typeof window !== 'undefined' && window.devicePixelRatio > 0 ? window.devicePixelRatio : 1;
  var layout = MusicEngraver.render(canvas, {
    width: CANVAS_W, height: CANVAS_H, startX: START_X, endX: END_X, contentX: LEFT_MARGIN, measureW: MEASURE_WIDTH,
    beat1: BEAT1_OFFSET, rightPad: 0.9 * sp, sp: sp, tpq: tpq, key: keyAtBar(bars[0]), keyAt: keyAtBar,
    timeSig: [4, 4], measures: measures, staves: staves, dpr: dpr, bg: SCORE_BG,
  });
  layout.bars = bars;
  drawScoreFrame(layout, measures);
  drawJumpMarks(layout, measures);
  var drumTop = drumSheet && (mode === 0 || mode === 3) ? STAFF_Y[1] : mode === 1 || mode === 2 ? STAFF_Y[STAFF_Y.length - 1] : -1;
  if (drumTop >= 0) {
    MusicEngraver.renderDrumStaff(layout.ctx, { sp: sp, tpq: tpq, startX: START_X, xOfTick: layout.xOfTick }, drumTop,
                                  drumNotes, measures, '#111');
  }
  drawSmallLyrics(layout, measures);
  return layout;
}

// A play-position canvas sized like the score and cleared (a new bitmap only when the size changed).
function resetBarCanvas(bar) {
  if (!bar) return;
  if (bar.width !== CANVAS_W || bar.height !== CANVAS_H) { bar.width = CANVAS_W; bar.height = CANVAS_H; }
  else if (bar.getContext) { var c = bar.getContext('2d'); c.setTransform(1, 0, 0, 1, 0, 0); c.clearRect(0, 0, bar.width, bar.height); }
  bar.__shownH = scoreShownH;
  bar.__playKey = '';
  bar.__playRect = null;
  bar.__playX = undefined;
}

function drawPage() {
  var canvas = staffEl('grandStaff');
  if (!canvas || !curMeasures.length || !songLoaded) return;
  var mode = curStaffMode();
  var dist = staffDistances(mode);
  var ns = Math.max(0.4, Math.min(1.6, +noteScale || 1));
  var sp = 15 * ns;
  var key = keyAtBar(curMeasures[0]);
  // the full score's rows share the bar layout: room for the wider of their first signatures
  if (mode === 3 && curMeasures2.length && Math.abs(keyAtBar(curMeasures2[0])) > Math.abs(key)) key = keyAtBar(curMeasures2[0]);
  var plan = scorePlan = scoreVerticalPlan(mode, dist);
  fitScoreCanvas(canvas, sp, key, dist, plan);
  var fill = Math.max(0.45, Math.min(1.0, +noteScale || 1));
  if (window.__customerMode && +CW_SCORE_FILL > 0) fill *= +CW_SCORE_FILL;
  var sp2 = fitStaffSp(CANVAS_H, dist, fill, plan);
  if (Math.abs(sp2 - sp) > 0.3) { sp = sp2; fitScoreCanvas(canvas, sp, key, dist, plan); }
  // a staff space kept for being near the fitted one must still not make the score taller than the canvas
  var spMax = CANVAS_H / (plan.top + plan.bottom);
  if (sp > spMax && spMax >= 4.5) { sp = spMax; fitScoreCanvas(canvas, sp, key, dist, plan); }
  var bar = staffEl('grandBar');
  resetBarCanvas(bar);
  var layout = drawScoreRow('grandStaff', curMeasures, dist, dist.length + 1, sp, mode);
  window.__scoreLayout = layout;
  if (mode === 3) {
    var bars2 = curMeasures2.length ? curMeasures2 : blockBars(0, 0);
    if (!bars2.length) {
      var hiBar = Math.max.apply(null, curMeasures);
      for (var i = 1; i <= (measPerPage | 0 || 4); i++) bars2.push(hiBar + i);
    }
    var bar2 = staffEl('grandBar2');
    resetBarCanvas(bar2);
    window.__scoreLayout2 = drawScoreRow('grandStaff2', bars2, dist, 2, sp, 3);
  }
}

function scoreTextStyle(which) {
  var s = typeof scChd !== 'undefined' && which === 'chd' ? scChd : typeof scLyr !== 'undefined' && which === 'lyr' ? scLyr : null;
  return s || { size: 100, colour: which === 'chd' ? 4 : 0, weight: 1, outline: 0 };
}
function paintScoreText(ctx, text, x, y, style, sp) {
  if (typeof scTextPaint === 'function') scTextPaint(ctx, text, x, y, style, sp);
  else ctx.fillText(text, x, y);
}
function transposeLabel(v) {
  v = v | 0;
  if (v === 2) return '테너';
  if (v === -3) return '앨토';
  if (v === 0) return '';
  return (v > 0 ? '+' : '') + v;
}

function drawScoreFrame(layout, measures) {
  var ctx = layout.ctx, sp = layout.sp;
  var top = layout.staves[0].top, bottom = layout.staves[layout.staves.length - 1].bottom;
  ctx.save();
  ctx.fillStyle = '#333';
  MusicEngraver.drawBrace(ctx, START_X - 0.35 * sp, top, bottom, sp);
  ctx.font = 'bold ' + Math.round(1.05 * sp) + 'px "Malgun Gothic", "NanumGothic", "Noto Sans CJK KR", sans-serif';
  ctx.textAlign = 'left';
  ctx.textBaseline = 'alphabetic';
  var keyName = songLoaded && typeof currentKeyName === 'function' ? currentKeyName() : '';
  var l1 = transposeLabel(scoreCfgValue('tU')), l2 = transposeLabel(scoreCfgValue('tL'));
  var plan = scorePlan || { chordBase: -2.5, badgeTop: -4.6 };
  // the first staff's label stands in the badge row, left of the bars
  if (l1) { ctx.fillStyle = '#c0392b'; ctx.fillText(l1, START_X + 2, Math.max(1.1 * sp, top + ((plan.badgeTop !== null ? plan.badgeTop : plan.chordBase - 2.4) + 0.95) * sp)); }
  if (l2 && layout.staves[1]) { ctx.fillStyle = '#2c3e50'; ctx.fillText(l2, START_X + 2, layout.staves[1].top - 2.8 * sp); }
  var chordY = top + plan.chordBase * sp + (typeof chordYAdj !== 'undefined' ? +chordYAdj || 0 : 0);
  var chd = scoreTextStyle('chd');
  var chdColor = typeof SC_TEXT_COLOURS !== 'undefined' ? SC_TEXT_COLOURS[chd.colour | 0] || '#b3121a' : '#b3121a';
  if (keyName && keyName !== '-') {
    var fs = Math.max(11, 1.85 * sp * (chd.size || 100) / 100);
    var limit = LEFT_MARGIN - 1.2 * sp - START_X;
    for (var guard = 0; guard < 200; guard++) {
      ctx.font = 'bold ' + Math.round(fs) + 'px "Arial Rounded MT Bold", "Noto Sans", sans-serif';
      if (ctx.measureText(keyName).width + 0.6 * sp <= limit || fs <= 11) break;
      fs -= 1;
    }
    var tw = ctx.measureText(keyName).width;
    var bx = LEFT_MARGIN - 1.2 * sp - tw - 0.6 * sp, by = chordY - fs, bw = tw + 0.6 * sp, bh = fs * 1.3;
    ctx.save();
    ctx.globalAlpha = 0.1;
    ctx.fillStyle = chdColor;
    scoreRoundRect(ctx, bx, by, bw, bh, 0.3 * sp);
    ctx.fill();
    ctx.globalAlpha = 0.55;
    ctx.strokeStyle = chdColor;
    ctx.lineWidth = 1.5;
    ctx.stroke();
    ctx.restore();
    ctx.fillStyle = chdColor;
    ctx.fillText(keyName, bx + 0.3 * sp, chordY);
    scoreRecord(layout, 'keybox', keyName, [bx, by, bx + bw, by + bh]);
  }
  var chordShift = (jsPitchTransposeSemitones | 0) + (typeof scoreCfg !== 'undefined' && scoreCfg && scoreCfg.cfU ? scoreCfgValue('tU') : 0);
  for (var m = 0; m < measures.length; m++) {
    var ms = measures[m];
    var x0 = LEFT_MARGIN + m * MEASURE_WIDTH;
    ctx.font = 'bold ' + Math.round(0.95 * sp) + 'px Arial, sans-serif';
    ctx.fillStyle = '#7f8c8d';
    ctx.textAlign = 'left';
    ctx.fillText(String(ms.index + 1), x0 + 5, top - 0.7 * sp);
    if (layout.drawList) scoreRecord(layout, 'barno', String(ms.index + 1), [x0 + 5, top - 1.45 * sp, x0 + 5 + ctx.measureText(String(ms.index + 1)).width, top - 0.5 * sp]);
    ctx.textAlign = 'center';
    for (var c = 0; c < parsedChords.length; c++) {
      var pc = parsedChords[c];
      if (pc.bar !== ms.index) continue;
      var x = layout.xOfTick(ms.start + pc.beat / 4 * ms.len, m);
      var name = typeof transposeChordName === 'function' ? transposeChordName(pc.name, chordShift) : pc.name;
      applyScoreFont(ctx, chd, 1.5 * sp, '"Arial Rounded MT Bold", Arial, sans-serif');
      ctx.fillStyle = chdColor;
      paintScoreText(ctx, name, x, chordY, chd, sp);
      if (layout.drawList) scoreRecord(layout, 'chord', name, scoreTextBox(ctx, name, x, chordY, chd, sp, 1.5 * sp * (chd.size || 100) / 100));
    }
  }
  ctx.restore();
}
// Adds a text or box of the frame to the row's draw list (the engraver's own entries come first).
function scoreRecord(layout, kind, name, box) {
  if (layout.drawList) layout.drawList.push({ k: kind, n: name, x: box[0], y: box[1], b: box, s: -1, m: -1 });
}
// The box a score text covers, its outline included; centred at x on the baseline y.
function scoreTextBox(ctx, text, x, y, style, sp, fontPx) {
  var mt = ctx.measureText(text);
  var asc = mt.actualBoundingBoxAscent > 0 ? mt.actualBoundingBoxAscent : 0.8 * fontPx;
  var desc = mt.actualBoundingBoxDescent >= 0 ? mt.actualBoundingBoxDescent : 0.25 * fontPx;
  var o = style && style.outline ? Math.max(2, 0.16 * sp * (style.size || 100) / 100) / 2 : 0;
  var w = mt.width || 0;
  return [x - w / 2 - o, y - asc - o, x + w / 2 + o, y + desc + o];
}
function applyScoreFont(ctx, style, basePx, family) {
  var w = [400, 700, 900][style.weight | 0] || 700;
  ctx.font = w + ' ' + Math.max(6, Math.round(basePx * (style.size || 100) / 100)) + 'px ' + family;
}
function scoreRoundRect(ctx, x, y, w, h, r) {
  ctx.beginPath();
  ctx.moveTo(x + r, y);
  ctx.lineTo(x + w - r, y);
  ctx.quadraticCurveTo(x + w, y, x + w, y + r);
  ctx.lineTo(x + w, y + h - r);
  ctx.quadraticCurveTo(x + w, y + h, x + w - r, y + h);
  ctx.lineTo(x + r, y + h);
  ctx.quadraticCurveTo(x, y + h, x, y + h - r);
  ctx.lineTo(x, y + r);
  ctx.quadraticCurveTo(x, y, x + r, y);
  ctx.closePath();
}

function slotOfBar(measures, b) {
  for (var i = 0; i < measures.length; i++) if (measures[i].index === b) return i;
  return -1;
}
function drawJumpMarks(layout, measures) {
  var ctx = layout.ctx, sp = layout.sp;
  var adj = typeof jumpMarkYAdj !== 'undefined' ? +jumpMarkYAdj || 0 : 0;
  ctx.save();
  ctx.font = 'bold ' + Math.round(0.8 * sp) + 'px "Malgun Gothic", "NanumGothic", "Noto Sans CJK KR", sans-serif';
  ctx.textAlign = 'center';
  ctx.textBaseline = 'middle';
  for (var i = 0; i < jumpMarks.length; i++) {
    var mk = jumpMarks[i];
    var slot = slotOfBar(measures, tickToMeasureIdx0(mk.t));
    if (slot < 0) continue;
    var x = layout.xOfTick(mk.t, slot);
    var w = ctx.measureText(mk.n).width + 0.7 * sp, h = 1.15 * sp;
    var y = Math.max(2, layout.staves[0].top + (scorePlan && scorePlan.badgeTop !== null ? scorePlan.badgeTop : -4.6) * sp + adj);
    ctx.fillStyle = '#2471c9';
    scoreRoundRect(ctx, x - w / 2, y, w, h, 0.2 * sp);
    ctx.fill();
    scoreRecord(layout, 'badge', mk.n, [x - w / 2, y, x + w / 2, y + h]);
    ctx.fillStyle = '#fff';
    ctx.fillText(mk.n, x, y + h / 2);
  }
  ctx.restore();
}

// Syllables under the score: Latin words are placed at their first letter; two rows avoid overlaps.
function smallLyricWords(measures) {
  var words = [];
  var first = measures.length ? Math.min.apply(null, measures.map(function (m) { return m.start; })) : 0;
  var last = measures.length ? Math.max.apply(null, measures.map(function (m) { return m.start + m.len; })) : 0;
  for (var i = 0; i < syllableMap.length && i < syncTicks.length; i++) {
    var t = syncTicks[i];
    if (t < first || t >= last) continue;
    var ch = allSyllablesFlat[i];
    var prev = words[words.length - 1];
    var latin = /[A-Za-z'\-]/.test(ch);
    if (latin && prev && prev.latin && prev.line === syllableMap[i].line && prev.lastCh + 1 === syllableMap[i].ch) {
      prev.text += ch;
      prev.lastCh = syllableMap[i].ch;
      continue;
    }
    words.push({ text: ch, tick: t, latin: latin, line: syllableMap[i].line, lastCh: syllableMap[i].ch });
  }
  return words;
}
function drawSmallLyrics(layout, measures) {
  if (!syncTicks.length || !hasRealLyrics) return;
  var ctx = layout.ctx, sp = layout.sp;
  var st = scoreTextStyle('lyr');
  var size = 1.2 * sp * (st.size || 100) / 100;
  ctx.save();
  applyScoreFont(ctx, st, 1.2 * sp, '"Malgun Gothic", "NanumGothic", "Noto Sans CJK KR", sans-serif');
  ctx.textAlign = 'center';
  ctx.textBaseline = 'alphabetic';
  ctx.fillStyle = typeof SC_TEXT_COLOURS !== 'undefined' ? SC_TEXT_COLOURS[st.colour | 0] || '#16a085' : '#16a085';
  var y0 = layout.staves[0].top + 7.4 * sp;
  var rowEnd = [-Infinity, -Infinity];
  var words = smallLyricWords(measures);
  for (var i = 0; i < words.length; i++) {
    var w = words[i];
    var slot = slotOfBar(measures, tickToMeasureIdx0(w.tick));
    if (slot < 0) continue;
    var x = layout.xOfTick(w.tick, slot);
    var half = ctx.measureText(w.text).width / 2;
    var row = x - half < rowEnd[0] && !(x - half < rowEnd[1]) ? 1 : 0;
    rowEnd[row] = x + half;
    paintScoreText(ctx, w.text, x, y0 + row * size, st, sp);
  }
  ctx.restore();
}

var scoreResizeTimer = 0;
if (typeof window !== 'undefined' && window.addEventListener) {
  window.addEventListener('resize', function () {
    clearTimeout(scoreResizeTimer);
    scoreResizeTimer = setTimeout(function () { drawPage(); }, 120);
  });
}
