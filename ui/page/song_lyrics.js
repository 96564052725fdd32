// ---- Lyrics, tick updates and progress ----
// Every tick report of the player lands in updateTick: the score page turns and its play line
// moves, the two big lyric lines colour in time (wipes run as animations between ticks), count-ins
// show before verses, the gap and end screens fill the pauses, the current chord goes back to the
// program, and the progress bar and total time follow.

var songTotalTicks = 0, songTotalMsBase = 0, songTotalMsFlat = 0;
var progShownPct = -1, progShownSec = -1;
var lyrMsPerTick = 0;
var lyrClockTick = -1, lyrClockAt = 0;
var showOrigLangLyrics = false;
var lastReportedChordName = '';
var lastShownChordName = null;
var lyrLastHtml = '';
var lyrSylByLine = [];        // shown line -> {character index: syllable index}
var chordTickList = [];       // parsed chords' ticks, in list order
if (typeof window !== 'undefined' && window.LATENCY_OFFSET_TICKS === undefined) window.LATENCY_OFFSET_TICKS = 0;

var LYR_LONG_BEATS = 4;
var LYR_LONG_HEAD = 0.97;
var LYR_LONG_HEAD_BEATS = 1.5;
var LYR_EASE = 'cubic-bezier(0.04, 0.72, 0.22, 1)';
var ORIG_PUNCT = ' \t!?()、。，．・！？「」『』（）～…：；:;.,';
var ORIG_JOINED = 'んンゃゅょぁぃぅぇぉっゎャュョァィゥェォッヮー';

function lyrNow() { return typeof performance !== 'undefined' && performance.now ? performance.now() : Date.now(); }

// Called by initSong once the song's lyric state is in place.
function resetLyricsState() {
  lastReportedChordName = '';
  lastShownChordName = null;
  lyrSylByLine = [];
  for (var i = 0; i < syllableMap.length; i++) {
    var m = syllableMap[i];
    (lyrSylByLine[m.line] = lyrSylByLine[m.line] || {})[m.ch] = i;
  }
  chordTickList = parsedChords.map(function (c) { return measureStartTick(c.bar) + c.beat * tpq; });
}

// Replaces the element's content only when the html differs from the last one set (and nobody
// else replaced the content since), so running wipes are not restarted.
function setLyricsHtml(el, html) {
  if (!el) return false;
  if (el.__lyrHtml === html && el.__lyrFirst === el.firstChild) return false;
  el.__lyrHtml = html;
  el.innerHTML = html;
  el.__lyrFirst = el.firstChild;
  return true;
}

// ---- Tick clock ----

function lyrFeedClock(tick) {
  var now = lyrNow();
  if (lyrClockTick >= 0 && tick > lyrClockTick) {
    var dt = now - lyrClockAt;
    if (dt > 1 && dt < 400) {
      var m = dt / (tick - lyrClockTick);
      if (m > 0.5 && m < 40) lyrMsPerTick = lyrMsPerTick > 0 ? 0.8 * lyrMsPerTick + 0.2 * m : m;
    }
  }
  lyrClockTick = tick;
  lyrClockAt = now;
}
function lyrMsPerTickNow() { return lyrMsPerTick > 0 ? lyrMsPerTick : 4; }

// ---- Active chord ----

function activeChordIndex(tick) {
  if (!parsedChords.length) return -1;
  var best = -1, bestTick = -Infinity;
  for (var i = 0; i < chordTickList.length; i++) {
    var t = chordTickList[i];
    if (t <= tick && t > bestTick) { best = i; bestTick = t; }
  }
  return best < 0 ? 0 : best;
}
function reportActiveChord(tick) {
  var i = activeChordIndex(tick);
  if (i < 0) return;
  var name = parsedChords[i].name;
  if (name !== lastShownChordName) {
    lastShownChordName = name;
    if (typeof updateCurrentChordDisplay === 'function') updateCurrentChordDisplay(name);
  }
  if (name && name !== lastReportedChordName) {
    lastReportedChordName = name;
    pagePost('ACTIVECHORD:' + name);
  }
}

// ---- Progress ----

function setSongLength(lastTick, ms, msFlat) {
  songTotalTicks = +lastTick > 0 ? +lastTick : 0;
  songTotalMsBase = +ms > 0 ? +ms : 0;
  songTotalMsFlat = msFlat === undefined || msFlat === null ? songTotalMsBase : (+msFlat > 0 ? +msFlat : 0);
  progShownPct = -1;
  progShownSec = -1;
  updateProgressUI(0);
}
function clearProgressUI() {
  songTotalTicks = 0;
  songTotalMsBase = 0;
  songTotalMsFlat = 0;
  progShownPct = -1;
  progShownSec = -1;
  var fill = staffEl('song-progress-fill'), pct = staffEl('song-progress-pct'), tt = staffEl('song-total-time');
  if (fill) { fill.style.width = '0%'; fill.style.background = progressColour(0); }
  if (pct) pct.textContent = '0%';
  if (tt) tt.textContent = '00:00';
}
function progressColour(pct) {
  if (pct >= 90) return 'linear-gradient(90deg,#c0392b,#ff7b6b)';
  if (pct >= 65) return 'linear-gradient(90deg,#d68910,#ffd479)';
  return 'linear-gradient(90deg,#27ae60,#7bed9f)';
}
function songTotalMs() {
  var total = jsRhythmMult > 0 && songTotalMsFlat > 0 ? songTotalMsFlat : songTotalMsBase;
  if (total > 0 && baseSongTempo > 0) total = total * baseSongTempo / Math.max(20, baseSongTempo + (jsTempoAdjustBpm | 0));
  return total;
}
function formatTotalTime(ms) {
  if (!(ms > 0)) return '00:00';
  var s = Math.round(ms / 1000);
  var m = Math.floor(s / 60), r = s % 60;
  return (m < 10 ? '0' : '') + m + ':' + (r < 10 ? '0' : '') + r;
}
function updateProgressUI(tick) {
  if (window.__liteMode) return;
  var pct = songTotalTicks > 0 ? Math.max(0, Math.min(100, tick / songTotalTicks * 100)) : 0;
  var rp = Math.round(pct);
  if (rp !== progShownPct) {
    progShownPct = rp;
    var fill = staffEl('song-progress-fill'), label = staffEl('song-progress-pct');
    if (fill) { fill.style.width = pct.toFixed(1) + '%'; fill.style.background = progressColour(pct); }
    if (label) label.textContent = rp + '%';
  }
  var total = songTotalMs();
  var sec = Math.round(total / 1000);
  if (sec !== progShownSec) {
    progShownSec = sec;
    var tt = staffEl('song-total-time');
    if (tt) tt.textContent = formatTotalTime(total);
  }
}

// ---- Play position line ----

function drawProgressBar(canvasId, rowBars, bar, d) {
  var canvas = staffEl(canvasId);
  if (!canvas || !canvas.getContext) return;
  var ctx = canvas.getContext('2d');
  ctx.setTransform(1, 0, 0, 1, 0, 0);
  var slot = rowBars.indexOf(bar);
  var x = slot < 0 ? -1 : LEFT_MARGIN + slot * MEASURE_WIDTH + BEAT1_OFFSET + measureRatio(d, bar) * (MEASURE_WIDTH - BEAT1_OFFSET);
  // only the strip of the last line is cleared (a resize clears the whole canvas anyway), and an
  // unmoved line is not drawn again
  var key = canvas.width + 'x' + canvas.height + '@' + Math.round(x * 2);
  if (canvas.__playKey === key) return;
  canvas.__playKey = key;
  var old = canvas.__playRect;
  if (old) ctx.clearRect(old[0], old[1], old[2], old[3]);
  else ctx.clearRect(0, 0, canvas.width, canvas.height);
  canvas.__playRect = null;
  if (slot < 0) { canvas.__playX = undefined; return; }
  var first = STAFF_Y[0], last = STAFF_Y[STAFF_Y.length - 1];
  var mid = (first + last + 60) / 2;
  // the displayed height measured at the last score draw: reading it here would force a layout
  var shownH = +canvas.__shownH || 0;
  var cm12 = 12 * 96 / 2.54 * (shownH > 0 ? canvas.height / shownH : 1);
  var len = Math.max(cm12, 1.12 * (last - first + 60));
  var g = ctx.createLinearGradient(0, mid - len / 2, 0, mid + len / 2);
  g.addColorStop(0, 'rgba(255,0,0,0)');
  g.addColorStop(0.5, 'rgba(255,0,0,0.7)');
  g.addColorStop(1, 'rgba(255,0,0,0)');
  ctx.fillStyle = g;
  ctx.fillRect(x - 3, mid - len / 2, 6, len);
  canvas.__playRect = [Math.floor(x - 4), Math.floor(mid - len / 2 - 1), 8, Math.ceil(len + 2)];
  canvas.__playX = x;
}
function clearCanvas(id) {
  var c = staffEl(id);
  if (c && c.getContext) {
    var ctx = c.getContext('2d');
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, c.width, c.height);
    c.__playX = undefined;
    c.__playRect = null;
    c.__playKey = '';
  }
}

// ---- Lyric lines ----

// Index of the last syllable at or before d (-1 before the first).
function activeSyllableIndex(d) {
  var lo = 0, hi = Math.min(syncTicks.length, syllableMap.length) - 1, r = -1;
  while (lo <= hi) {
    var mid = (lo + hi) >> 1;
    if (syncTicks[mid] <= d) { r = mid; lo = mid + 1; } else hi = mid - 1;
  }
  return r;
}
// The current line: a line index, -1 for none (a gap), -2 after the last syllable.
function currentLyricLine(d) {
  var n = Math.min(syncTicks.length, syllableMap.length);
  var a = activeSyllableIndex(d);
  if (a >= 0 && d < syncTicks[a] + 1.5 * tm) return syllableMap[a].line;
  var next = a + 1;
  if (next >= n) return -2;
  if (syncTicks[next] - d <= 4 * tm) return syllableMap[next].line;
  return -1;
}
// Which lines stand on top and bottom for a current line: [top, bottom], -1 for an empty slot.
function lyricLinePair(cur) {
  var start = verse2LineIdx >= 0 && cur >= verse2LineIdx ? verse2LineIdx : verse1LineIdx >= 0 && cur >= verse1LineIdx ? verse1LineIdx : 0;
  var next = cur + 1;
  if (next >= allLyricLinesOriginal.length) next = -1;
  if (next >= 0 && next === verse2LineIdx && cur < verse2LineIdx) next = -1;
  return (cur - start) % 2 === 0 ? [cur, next] : [next, cur];
}

function lyrPaintChar(ch, start, end, p) {
  if (!(end > start)) end = start + tpq;
  var c = htmlEsc(ch);
  if (p >= end) return '<span class="lyr-o lyr-sung">' + c + '</span>';
  if (p < start) return '<span class="lyr-ob lyr-wait">' + c + '</span>';
  return '<span style="position:relative; display:inline-block;"><span class="lyr-ob lyr-wait">' + c + '</span>' +
    '<span class="lyr-fill lyr-o lyr-sung" data-s="' + start + '" data-e="' + end + '" style="position:absolute; left:0; top:0; width:0%; overflow:hidden; white-space:pre;">' + c + '</span></span>';
}

function firstSyllableOfLine(line) {
  var m = lyrSylByLine[line];
  if (!m) return -1;
  var best = -1;
  for (var k in m) if (best < 0 || m[k] < best) best = m[k];
  return best;
}
function countInHtml(line, d) {
  var isVerseStart = line === verse2LineIdx || line === (verse1LineIdx >= 0 ? verse1LineIdx : 0);
  if (!isVerseStart) return '';
  var s = firstSyllableOfLine(line);
  if (s < 0 || s >= syncTicks.length) return '';
  var first = syncTicks[s];
  if (!(d >= first - 4 * tpq && d < first)) return '';
  var n = Math.min(4, Math.floor((d - (first - 4 * tpq)) / tpq) + 1);
  return '<span class="lyric-countin">' + n + '</span>';
}
function syllableEnd(i) {
  return i + 1 < syncTicks.length ? syncTicks[i + 1] : syncTicks[i] + tpq;
}
// Per character of a shown Korean line: {s, e} when it carries a syllable.
function koreanCharTimes(line) {
  var text = allLyricLinesOriginal[line] || '';
  var m = lyrSylByLine[line] || {};
  var out = [];
  for (var i = 0; i < text.length; i++) {
    var si = m[i];
    out.push(si !== undefined && si < syncTicks.length ? { s: syncTicks[si], e: syllableEnd(si) } : null);
  }
  return out;
}
function koreanLineHtml(line, d, p) {
  var text = allLyricLinesOriginal[line] || '';
  var m = lyrSylByLine[line] || {};
  var first = firstSyllableOfLine(line);
  var cin = countInHtml(line, d);
  var h = '';
  for (var i = 0; i < text.length; i++) {
    var ch = text.charAt(i);
    var si = m[i];
    if (cin && si === first) { h += cin; cin = ''; }
    if (ch === ' ' || ch === '\t') { h += '&nbsp;'; continue; }
    if (isDashChar(ch)) continue;
    if (si !== undefined && si < syncTicks.length) h += lyrPaintChar(ch, syncTicks[si], syllableEnd(si), p);
    else h += '<span class="lyr-ob lyr-wait">' + htmlEsc(ch) + '</span>';
  }
  return cin + h;
}
function trimOrig(t) { return String(t == null ? '' : t).replace(/[ \t\u3000]+$/, ''); }

// Times of a source-language line's characters from the Korean line's syllables.
function origCharTimes(korText, korTimes, origText) {
  var kor = trimOrig(korText), orig = trimOrig(origText);
  var times = new Array(orig.length).fill(null);
  if (kor.length === orig.length) {
    var prev = null;
    for (var i = 0; i < orig.length; i++) {
      var t = korTimes[i] || prev;
      times[i] = t ? { s: t.s, e: t.e } : null;
      if (korTimes[i]) prev = korTimes[i];
    }
    return times;
  }
  var ticks = [];
  for (var k = 0; k < kor.length; k++) if (korTimes[k]) ticks.push(korTimes[k].s);
  var sing = [];
  for (var c = 0; c < orig.length; c++) {
    var ch = orig.charAt(c);
    if (ORIG_PUNCT.indexOf(ch) < 0 && ORIG_JOINED.indexOf(ch) < 0) sing.push(c);
  }
  var S = sing.length, N = ticks.length;
  var at = new Array(S).fill(null);
  if (S && N) {
    if (S === N) for (var q = 0; q < S; q++) at[q] = ticks[q];
    else {
      var groups = [];
      for (var g = 0; g < N; g++) {
        var b = tickToMeasureIdx0(ticks[g]);
        if (!groups.length || groups[groups.length - 1].bar !== b) groups.push({ bar: b, ticks: [] });
        groups[groups.length - 1].ticks.push(ticks[g]);
      }
      var given = 0, counted = 0, idx = 0;
      for (var gi = 0; gi < groups.length; gi++) {
        var T = groups[gi].ticks;
        counted += T.length;
        var C = gi === groups.length - 1 ? S - given : Math.max(0, Math.round(S * counted / N) - given);
        C = Math.min(C, S - given);
        for (var cc = 0; cc < C; cc++) {
          var v;
          if (C === 1 || T.length === 1) v = T[0];
          else {
            var pos = cc * (T.length - 1) / (C - 1);
            var lo = Math.floor(pos), fr = pos - lo;
            v = lo + 1 < T.length ? T[lo] + fr * (T[lo + 1] - T[lo]) : T[lo];
          }
          at[idx++] = v;
        }
        given += C;
      }
    }
  }
  var lineFirst = N ? ticks[0] : null;
  var prevT = lineFirst;
  var starts = new Array(orig.length).fill(null);
  var si = 0;
  for (var x = 0; x < orig.length; x++) {
    if (si < S && sing[si] === x) { if (at[si] !== null) prevT = at[si]; si++; }
    starts[x] = prevT;
  }
  // each ends at the next later start (starts rise along the line): one pass from the right
  var runVal = null, nextVal = null;
  for (var y = orig.length - 1; y >= 0; y--) {
    if (starts[y] === null) continue;
    if (starts[y] !== runVal) { nextVal = runVal; runVal = starts[y]; }
    times[y] = { s: starts[y], e: nextVal !== null && nextVal > starts[y] ? nextVal : starts[y] + tpq };
  }
  return times;
}
function origLineHtml(line, d, p) {
  var orig = trimOrig(allLyricLinesOrig[line]);
  var times = origCharTimes(allLyricLinesOriginal[line] || '', koreanCharTimes(line), orig);
  var h = countInHtml(line, d);
  for (var i = 0; i < orig.length; i++) {
    var ch = orig.charAt(i);
    if (ch === ' ' || ch === '\t') { h += '&nbsp;'; continue; }
    h += times[i] ? lyrPaintChar(ch, times[i].s, times[i].e, p) : '<span class="lyr-ob lyr-wait">' + htmlEsc(ch) + '</span>';
  }
  return h;
}
function lyricLineHtml(line, d, p) {
  if (line < 0 || line >= allLyricLinesOriginal.length) return '';
  if (showOrigLangLyrics && allLyricLinesOrig[line] != null && trimOrig(allLyricLinesOrig[line])) return origLineHtml(line, d, p);
  return koreanLineHtml(line, d, p);
}

function gapHtml(cur, d) {
  var n = Math.min(syncTicks.length, syllableMap.length);
  var a = activeSyllableIndex(d);
  if (a < 0 && songPreviewText) return introHtml();
  var nextLine = a + 1 < n ? syllableMap[a + 1].line : -1;
  if (nextLine >= 0 && nextLine === verse2LineIdx) {
    return '<div style="text-align:center; color:#777;">간주<span style="color:#ccc;">중</span>~~</div>';
  }
  var label = typeof curSongLabel !== 'undefined' && curSongLabel ? String(curSongLabel) : '';
  var cut = label.lastIndexOf(' - ');
  var title = cut >= 0 ? label.substring(0, cut) : label, singer = cut >= 0 ? label.substring(cut + 3) : '';
  var shortT = typeof cutTitle === 'function' ? cutTitle(title, 8) : title;
  var h = '<div style="text-align:center; color:#ffd75e;">[ ' + htmlEsc(shortT) + ' ]</div>' +
    '<div style="text-align:center; color:#ffd75e; font-size:50%;">' + htmlEsc(singer) + '</div>';
  var q = typeof reservedQueue !== 'undefined' && Array.isArray(reservedQueue) ? reservedQueue : [];
  if (q.length) {
    var list = '<div style="font-size:40%;">예약 ' + q.length + '곡</div>';
    for (var i = 0; i < q.length && i < 3; i++) {
      var t = q[i] && q[i].title != null ? String(q[i].title) : '';
      var sl = typeof shortLabel === 'function' ? shortLabel(t, 5) : t.substring(0, 5);
      list += '<div style="font-size:40%;">' + (i + 1) + '. ' + htmlEsc(sl) + '</div>';
    }
    h = '<div style="display:flex; width:100%; align-items:center;"><div class="lyr-queue" style="width:24%; color:#fff;">' + list +
      '</div><div style="flex:1;">' + h + '</div></div>';
  }
  return h;
}

// ---- Tick update ----

function updateTick(tick) {
  tick = +tick;
  if (!isFinite(tick)) return;
  window.__lastTick = tick;
  lyrFeedClock(tick);
  updateProgressUI(tick);
  if (typeof beatFromSongTick === 'function') beatFromSongTick(tick);
  reportActiveChord(tick);
  var d = Math.max(0, tick - (+window.LATENCY_OFFSET_TICKS || 0));
  if (!curMeasures.length) return;
  var b = tickToMeasureIdx0(d);
  lastCurMeasureIdx = b;
  if (typeof checkHistoryThreshold === 'function') checkHistoryThreshold(b);
  if (!(window.__customerMode && window.__liteMode)) {
    if (applyScoreRows(b)) drawPage();
    var second = isFullScore() && activeScoreRow === 2;
    var id = second ? 'grandBar2' : 'grandBar';
    if (isFullScore()) {
      var other = staffEl(second ? 'grandBar' : 'grandBar2');
      if (other && other.__playX !== undefined) clearCanvas(other.id);
    }
    var rowBars = second ? curMeasures2 : curMeasures;
    if (!staffEl(id) || rowBars.indexOf(b) < 0) return;
    drawProgressBar(id, rowBars, b, d);
  }
  paintLyrics(d);
}

function paintLyrics(d) {
  var big = staffEl('big-lyrics');
  if (!big || !allLyricLinesOriginal.length || !syncTicks.length || !hasRealLyrics) return;
  for (var s = 0; s < previewSpans.length; s++) {
    var sp = previewSpans[s];
    if (d >= sp.tick && d < sp.end) {
      setLyricsHtml(big, '<div style="text-align:center; font-weight:bold; color:#16a085;">' + htmlEsc(sp.text) + '</div>');
      lyrFitBox(big, 'p' + s);
      return;
    }
  }
  var cur = currentLyricLine(d);
  if (cur === -2) {
    setLyricsHtml(big, '<div style="text-align:center; color:#777;">연주가 끝났습니다</div>');
    lyrFitBox(big, 'end');
    return;
  }
  if (cur === -1) {
    var gap = gapHtml(cur, d);
    setLyricsHtml(big, gap);
    lyrFitBox(big, 'g' + gap);
    return;
  }
  // a new random picture once the second verse's lines are reached
  if (verse2LineIdx >= 0 && cur >= verse2LineIdx && typeof bgRandomOn !== 'undefined' && bgRandomOn && !window.__liteMode &&
      !((+window.lastBgVerse || 0) >= 2)) {
    window.lastBgVerse = 2;
    pagePost('BG_RANDOM_NEXT');
  }
  var pair = lyricLinePair(cur);
  var p = d + tpq * 0.25;
  // the two line blocks stay in place; only a line whose html changed is replaced
  setLyricsHtml(big, LYR_LINES_FRAME);
  var top = big.querySelector ? big.querySelector('.lyr-top') : null;
  var bottom = big.querySelector ? big.querySelector('.lyr-bottom') : null;
  if (top && bottom) {
    var th = lyricLineHtml(pair[0], d, p), bh = lyricLineHtml(pair[1], d, p);
    setLyricsHtml(top, th);
    setLyricsHtml(bottom, bh);
    // a count-in number widens its line while it shows
    lyrFitBox(big, 'l' + pair[0] + ',' + pair[1] + (showOrigLangLyrics ? 'o' : '') +
              (th.indexOf('lyric-countin') >= 0 ? 'c' : '') + (bh.indexOf('lyric-countin') >= 0 ? 'c' : ''), [top, bottom]);
  }
  lyrSyncFills(big, p);
}

// ---- Fitting the lyrics to their box ----
// The lyric area keeps the big lyrics inside it on the main page: the whole block is zoomed down
// when it is taller than the area, and a line wider than its box is scaled down to the box's
// width (never cut, never wrapped into the other line's place); the wipes inside a line scale
// with it. Measured only when the shown lines, the lyric font or the area change. The customer
// page fits its lyrics itself (cwFitLyrics).
var lyrFitEpoch = 0;
if (typeof window !== 'undefined' && window.addEventListener) {
  window.addEventListener('resize', function () { lyrFitEpoch++; });
}
if (typeof document !== 'undefined' && document.fonts && document.fonts.addEventListener) {
  document.fonts.addEventListener('loadingdone', function () { lyrFitEpoch++; });
}
function lyrFitBox(big, what, lines) {
  if (window.__customerMode || !big.style) return;
  lines = lines || [];
  var mode = typeof staffMode !== 'undefined' ? staffMode : 0;
  var key = what + '|' + lyrFitEpoch + '|' + mode + '|' + big.style.fontSize + '|' + big.style.fontFamily;
  var i, stale = big.__fitKey !== key;
  for (i = 0; i < lines.length; i++) if (lines[i].__fitKey !== key) stale = true;  // new line elements
  if (!stale) return;
  big.__fitKey = key;
  for (i = 0; i < lines.length; i++) lines[i].__fitKey = key;
  var stage = big.parentNode;
  big.style.zoom = '';
  for (i = 0; i < lines.length; i++) lines[i].style.transform = '';
  if (stage && stage.clientHeight > 0) {
    var cs = getComputedStyle(stage);
    var availH = stage.clientHeight - (parseFloat(cs.paddingTop) || 0) - (parseFloat(cs.paddingBottom) || 0);
    var h = big.scrollHeight;
    if (availH > 0 && h > availH) big.style.zoom = (Math.floor(availH / h * 1000) / 1000).toString();
  }
  for (i = 0; i < lines.length; i++) fitLyricLineWidth(lines[i], lines[i].clientWidth);
}
// Scales a line down to the width avail when its text is wider; the overflowing text of a
// centred line starts at its left edge, so it is scaled from there. A count-in number stands
// 14 px + 3 cm left of the line's first syllable (page style) and pops from 1.9 times its size:
// a line that shows one keeps that much room on both sides.
var LYR_COUNTIN_LEAD = 14 + 3 * 96 / 2.54;
function fitLyricLineWidth(line, avail) {
  line.style.transform = '';
  var natural = line.scrollWidth;
  var cin = line.querySelector ? line.querySelector('.lyric-countin') : null;
  var lead = cin ? LYR_COUNTIN_LEAD + 0.45 * cin.offsetWidth : 0;
  if (!(avail > 0) || natural + 2 * lead <= avail + 0.5) return 1;
  var k = Math.floor(avail / (natural + 2 * lead) * 1000) / 1000;
  line.style.transformOrigin = 'left center';
  line.style.transform = 'scale(' + k + ')' + (lead ? ' translateX(' + Math.round(lead) + 'px)' : '');
  return k;
}
var LYR_LINES_FRAME = '<div class="lyr-line lyr-top" style="text-align:center; white-space:pre; margin-bottom:15px;"></div>' +
  '<div class="lyr-line lyr-bottom" style="text-align:center; white-space:pre;"></div>';

// Starts new wipes and corrects running ones that are more than half a beat off.
function lyrSyncFills(root, p) {
  if (!root.querySelectorAll) return;
  var mpt = lyrMsPerTickNow();
  var fills = root.querySelectorAll('.lyr-fill');
  for (var i = 0; i < fills.length; i++) {
    var el = fills[i];
    var s = +el.getAttribute('data-s'), e = +el.getAttribute('data-e');
    var dur = Math.max(30, (e - s) * mpt);
    var elapsed = Math.max(0, (p - s) * mpt);
    if (el.__anim) {
      var ct = el.__anim.currentTime;
      if (ct !== null && Math.abs(ct - elapsed) > tpq * mpt / 2) el.__anim.currentTime = Math.min(elapsed, dur);
      continue;
    }
    if (typeof el.animate === 'function') {
      var frames;
      if (e - s >= LYR_LONG_BEATS * tpq) {
        var head = Math.min(0.35 * dur, LYR_LONG_HEAD_BEATS * tpq * mpt) / dur;
        head = Math.max(0.05, Math.min(0.9, head));
        frames = [{ width: '0%', offset: 0, easing: LYR_EASE }, { width: (LYR_LONG_HEAD * 100) + '%', offset: head, easing: 'linear' }, { width: '100%', offset: 1 }];
      } else frames = [{ width: '0%', easing: LYR_EASE }, { width: '100%' }];
      el.__anim = el.animate(frames, { duration: dur, fill: 'forwards' });
      el.__anim.currentTime = Math.min(elapsed, dur);
    } else {
      el.style.animation = 'lyrFill ' + dur + 'ms ' + LYR_EASE + ' -' + elapsed + 'ms forwards';
      el.__anim = { currentTime: null };
    }
  }
}

// ---- Source-language lyrics ----

function toggleOrigLangLyrics() {
  var any = allLyricLinesOrig.some(function (t) { return trimOrig(t).length > 0; });
  if (!any) { alert('이 곡에는 원어(중국어/일본어) 가사가 없습니다.'); return; }
  showOrigLangLyrics = !showOrigLangLyrics;
  pagePost('SET_ORIG_LANG:' + (showOrigLangLyrics ? 1 : 0));
}
function applyOrigLangFlag(v) {
  showOrigLangLyrics = !!(+v);
  if (window.__lastTick !== undefined) updateTick(window.__lastTick);
}
