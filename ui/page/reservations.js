// ---- Reservation queue, play history and favourites ----
// The songs to sing next (each with its own tempo, pitch and key choice), the history of songs
// sung with their performers (F2), the performer input (Insert) and the favourite sets (F3). The
// page owns the history and the favourites while it runs and sends the whole list after every
// change; the queue lives only in the page.
//
// Sections: state; reservations and the queue drawing; history; performer input; favourites;
// the favourite-name input; keys.

// ---- State ----

var reservedQueue = [];
var autoKeyMode = 0;
var playedSongHistory = [];
var favList = [];
var curSongHistoryTitle = '';
var curSongIdForHistory = 0;
var curSongPerformers = [];
var curSongHistoryEntry = null;
var curSongInsUsed = false;
var f2PanelOpen = false, f2SelIdx = 0, f2ClearArm = false;
var favPanelOpen = false, favSelIdx = 0, favClearArm = 0;
var favInputOpen = false, favPending = [], favComposer = null, favHangulOn = true;
var insInputOpen = false, insComposer = null, insHangulOn = true;
var melodyRangeMap = {};
var __lastPrewarmId = -1;
var settingsPanelOpen = false, port1Module = 'SC8850', port2Module = 'SC8850', outputMode = 2, builtinSynthOn = 0,
    chordYAdj = 0, jumpMarkYAdj = 0;

var resvLastLen = -1;
var resvLastNextLabel = null;
var f2ClearTimer = 0;
var favClearTimer = 0;

// ---- Reservations ----

function makeReservation(s) {
  var r = {};
  for (var k in s) r[k] = s[k];
  r._t = 0;
  r._p = 0;
  r._km = -1;
  return r;
}

// The song reference every start command carries.
function resvMsgId(r) {
  if (!r) return '';
  var t = parseInt(r._t, 10) || 0;
  var p = parseInt(r._p, 10) || 0;
  var km = r._km == null ? -1 : r._km;
  if (t === 0 && p === 0 && km === -1) return String(r.id);
  return r.id + ':' + t + ':' + p + ':' + (km === -1 ? autoKeyMode : km);
}

// The queue's own keys while it holds the highlight; true when the key changed a reservation.
function adjustReservationKey(e) {
  var r = reservedQueue[reservedSelIdx];
  if (!r) return false;
  var k = e.key;
  var code = e.code || '';
  if (k === '-' || k === '_') r._t = (r._t || 0) - 1;
  else if (k === '+' || k === '=') r._t = (r._t || 0) + 1;
  else if (k === '[') r._p = Math.max(-12, (r._p || 0) - 1);
  else if (k === ']') r._p = Math.min(12, (r._p || 0) + 1);
  else if (k === 'o' || k === 'O' || code === 'KeyO') r._km = 0;
  else if (k === 'm' || k === 'M' || code === 'KeyM') r._km = 1;
  else if (k === 'n' || k === 'N' || code === 'KeyN') r._km = 2;
  else return false;
  renderReservedQueue();
  return true;
}

function moveReservationToTop(i) {
  if (i < 0 || i >= reservedQueue.length) return;
  var r = reservedQueue.splice(i, 1)[0];
  reservedQueue.unshift(r);
  reservedSelIdx = 0;
  renderReservedQueue();
  renderSearchResults();
}

function selectReservedResult(i) {
  if (i < 0 || i >= reservedQueue.length) return;
  reservedFocused = true;
  reservedSelIdx = i;
  renderReservedQueue();
  renderSearchResults();
}

function prewarmTopReserved() {
  var head = reservedQueue[0];
  if (head && head.id > 0 && head.id !== __lastPrewarmId) {
    __lastPrewarmId = head.id;
    pagePost('PREWARM_SONG:' + head.id);
  }
}

function requestMelodyRange(id) {
  if (!(id > 0) || Object.prototype.hasOwnProperty.call(melodyRangeMap, id)) return;
  melodyRangeMap[id] = null;
  pagePost('GET_MELODY_RANGE:' + id);
}
function setMelodyRange(id, lo, hi) {
  melodyRangeMap[id] = { lo: parseInt(lo, 10), hi: parseInt(hi, 10) };
  renderReservedQueue();
}

var SOLFEGE_NAMES = ['도', '도#', '레', '레#', '미', '파', '파#', '솔', '솔#', '라', '라#', '시'];
var KEY_ROOT_PC = { C: 0, 'B#': 0, 'C#': 1, Db: 1, D: 2, 'D#': 3, Eb: 3, E: 4, Fb: 4, 'E#': 5, F: 5, 'F#': 6, Gb: 6, G: 7,
                    'G#': 8, Ab: 8, A: 9, 'A#': 10, Bb: 10, B: 11, Cb: 11 };
function keyRootPc(name) {
  var m = /^\s*([A-Ga-g])([#b]?)/.exec(strField(name));
  if (!m) return -1;
  var pc = KEY_ROOT_PC[m[1].toUpperCase() + m[2]];
  return pc === undefined ? -1 : pc;
}
function effectiveKeyMode(r) {
  return r._km === -1 || r._km == null ? autoKeyMode : r._km;
}
// Semitones from the original key to the male or female key, folded into -5..+6.
function keyModeShift(r, km) {
  if (km !== 1 && km !== 2) return 0;
  var parts = strField(r.keys).split('/');
  var a = keyRootPc(parts[0]);
  var b = keyRootPc(parts[km]);
  if (a < 0 || b < 0) return 0;
  var d = ((b - a) % 12 + 12) % 12;
  return d > 6 ? d - 12 : d;
}
function keyCellHtml(r) {
  var km = effectiveKeyMode(r);
  var p = r._p || 0;
  var html = '';
  if ((r._km === -1 || r._km == null) && p === 0) html += '<span style="color:#888;">-</span>';
  else {
    var label = km === 1 ? '남' : km === 2 ? '여' : '원';
    var color = r._km === -1 || r._km == null ? '#888' : km === 1 ? '#4aa3ff' : km === 2 ? '#ff6fb5' : '#ccc';
    html += '<span style="color:' + color + '; font-weight:bold;">' + label + '</span>';
  }
  if (p !== 0) html += ' <span style="color:#f1c40f;">' + (p > 0 ? '+' + p : String(p)) + '</span>';
  var parts = strField(r.keys).split('/');
  var name = (parts[km] !== undefined && parts[km] !== '' ? parts[km] : parts[0] || '').trim();
  if (name) html += ' ' + htmlEsc(transposeChordName(name, p));
  requestMelodyRange(r.id);
  var range = melodyRangeMap[r.id];
  if (range && range.lo >= 0 && range.hi >= 0) {
    var shift = p + keyModeShift(r, km);
    var nm = function (n) { return SOLFEGE_NAMES[((n + shift) % 12 + 12) % 12]; };
    var lo = Math.min(range.lo, range.hi), hi = Math.max(range.lo, range.hi);
    html += ' <span style="color:#7bed9f;">' + nm(lo) + '/' + nm(hi) + '</span>';
  }
  return html;
}
function tempoCellHtml(r) {
  var sum = (parseInt(r.tempo, 10) || 0) + (r._t || 0);
  if (sum === 0) return '';
  return r._t ? '<span style="color:#ffbf00; font-weight:bold;">' + sum + '</span>' : String(sum);
}

function reservedRowsHtml(listId) {
  if (reservedQueue.length === 0) return '<div style="color:#aaa;">예약된 곡이 없습니다</div>';
  var parts = [listHeaderHtml('rc', 'resv', ['곡번호', '제목', '가수명', '템포', '키 / 코드 / 음역', '첫가사'])];
  for (var i = 0; i < reservedQueue.length; i++) {
    var r = reservedQueue[i];
    var sel = reservedFocused && i === reservedSelIdx;
    parts.push('<div class="lr resv-row' + (sel ? ' sel' : '') + '" data-idx="' + i + '" onclick="selectReservedResult(' + i + ')">' +
      cellOpen('rc', 'id') + r.id + '</span>' +
      cellOpen('rc', 'title') + dispTitleHtml(r) + '</span>' +
      cellOpen('rc', 'singer') + htmlEsc(dispSinger(r)) + '</span>' +
      cellOpen('rc', 'tempo') + tempoCellHtml(r) + '</span>' +
      cellOpen('rc', 'keys') + keyCellHtml(r) + '</span>' +
      cellOpen('rc', '') + htmlEsc(lyricCell(r)) + '</span></div>');
  }
  return parts.join('');
}

function shortNextLabel(t) {
  return shortLabel(t);
}

function renderReservedQueue() {
  prewarmTopReserved();
  applyListFont();
  if (reservedQueue.length === 0) reservedFocused = false;
  if (reservedSelIdx >= reservedQueue.length) reservedSelIdx = Math.max(0, reservedQueue.length - 1);
  var ids = ['reserved-list', 'reserved-list-f2'];
  var lenChanged = reservedQueue.length !== resvLastLen;
  resvLastLen = reservedQueue.length;
  for (var i = 0; i < ids.length; i++) {
    var el = pageEl(ids[i]);
    if (!el) continue;
    el.innerHTML = reservedRowsHtml(ids[i]);
    if (reservedFocused && ids[i] === 'reserved-list') {
      var row = el.querySelector('.resv-row[data-idx="' + reservedSelIdx + '"]');
      if (row && row.scrollIntoView) row.scrollIntoView({ block: 'nearest' });
    } else if (lenChanged) {
      el.scrollTop = 0;
    }
  }
  var full = reservedQueue.length ? dispTitle(reservedQueue[0]) : '없음';
  var label = pageEl('next-song-title');
  if (label) {
    label.setAttribute('data-full', full);
    label.textContent = shortNextLabel(full);
  }
  if (!window.__customerMode && full !== resvLastNextLabel) {
    resvLastNextLabel = full;
    pagePost('CW_NEXT:' + full);
  }
}

// ---- History ----

function initPlayedHistory(arr) {
  var src = Array.isArray(arr) ? arr : [];
  playedSongHistory = [];
  for (var i = 0; i < src.length; i++) {
    var h = src[i] || {};
    playedSongHistory.push({
      id: parseInt(h.id, 10) || 0,
      title: strField(h.title),
      time: strField(h.time),
      performers: Array.isArray(h.performers) ? h.performers.map(strField) : [],
      insUsed: !!h.insUsed,
    });
  }
}

function pad2(n) {
  return (n < 10 ? '0' : '') + n;
}
function nowTimeStr() {
  var d = new Date();
  return d.getFullYear() + '-' + pad2(d.getMonth() + 1) + '-' + pad2(d.getDate()) + ' ' + pad2(d.getHours()) + ':' +
    pad2(d.getMinutes());
}

// A field of a saved line never holds the line's own separators.
function lineField(t) {
  return strField(t).replace(/[\t\r\n]/g, ' ');
}
// A performer name never holds the name separator or a TAB, so it comes back as one name and never
// as an end-of-run mark.
function cleanPerformerName(t) {
  return strField(t).replace(/[;\t\r\n]/g, '').trim();
}

function historySaveText() {
  var lines = [];
  for (var i = 0; i < playedSongHistory.length; i++) {
    var h = playedSongHistory[i];
    var names = [];
    for (var n = 0; n < h.performers.length; n++) {
      var nm = cleanPerformerName(h.performers[n]);
      if (nm) names.push(nm);
    }
    lines.push(h.id + '\t' + lineField(h.title) + '\t' + lineField(h.time) + '\t' + names.join(';') + '\t' + (h.insUsed ? '1' : '0'));
  }
  return lines.join('\n');
}
function sendHistory() {
  pagePost('HISTORY_SAVE:' + historySaveText());
}

function songOnScreen() {
  return typeof songLoaded !== 'undefined' ? !!songLoaded : curSongIdForHistory > 0;
}

// The song screen calls this at every song start with the song's number and history title.
function beginSongHistory(id, title) {
  curSongIdForHistory = parseInt(id, 10) || 0;
  curSongHistoryTitle = strField(title);
  curSongPerformers = [];
  curSongHistoryEntry = null;
  curSongInsUsed = false;
}

// The song on screen gets its history entry when its seventh bar begins.
function checkHistoryThreshold(barIndex) {
  if (curSongHistoryEntry || !(curSongIdForHistory > 0) || !songOnScreen()) return;
  if (!(barIndex >= 6)) return;
  curSongHistoryEntry = {
    id: curSongIdForHistory,
    title: curSongHistoryTitle,
    time: nowTimeStr(),
    performers: curSongPerformers,
    insUsed: curSongInsUsed,
  };
  playedSongHistory.push(curSongHistoryEntry);
  sendHistory();
  if (f2PanelOpen) renderHistoryList();
}

// Numbers restart at 1 after an entry with performers or an end-of-run mark.
function computeDisplayNumbers(list) {
  var out = [];
  var n = 1;
  for (var i = 0; i < list.length; i++) {
    out.push(n);
    var h = list[i];
    if (h.insUsed || (h.performers && h.performers.length)) n = 1;
    else n++;
  }
  return out;
}

function songById(id) {
  for (var i = 0; i < songDb.length; i++) if (songDb[i].id === id) return songDb[i];
  return null;
}

function ensureHistoryDom() {
  var ov = pageEl('history-overlay');
  if (!ov || pageEl('history-list')) return ov;
  ov.style.background = 'rgba(10,12,16,0.96)';
  ov.style.borderBottom = '4px solid #3498db';
  ov.style.color = '#eee';
  ov.innerHTML =
    '<div style="display:flex; height:100%;"><div style="flex:1; display:flex; flex-direction:column; min-width:0; padding:6px 10px; box-sizing:border-box;">' +
    '<div style="font-weight:bold; font-size:16px;">연주곡 리스트 (F2, Enter=예약, Esc=닫기) ' +
    '<button onclick="deleteHistorySelected()">선택 삭제 (Del)</button> <button onclick="deleteHistoryAll()">전체 삭제 (Shift+Del)</button></div>' +
    '<div style="display:flex; color:#aaa;"><span style="width:4em;">번호</span><span style="flex:2;">제목 / 부른 사람</span><span style="flex:1;">가수명</span><span style="width:9em;">시간</span></div>' +
    '<div id="history-list" style="flex:1; overflow-y:auto; min-height:0;"></div></div>' +
    '<div style="flex:1; display:flex; flex-direction:column; min-width:0; padding:6px 10px; box-sizing:border-box; border-left:2px solid #444;">' +
    '<div style="font-weight:bold; font-size:16px;">예약곡 목록</div>' +
    '<div id="reserved-list-f2" style="flex:1; overflow-y:auto; min-height:0;"></div></div></div>';
  return ov;
}

function renderHistoryList() {
  var box = pageEl('history-list');
  if (!box) return;
  if (playedSongHistory.length === 0) {
    box.innerHTML = '<div style="color:#aaa;">아직 연주한 곡이 없습니다</div>';
    return;
  }
  var nums = computeDisplayNumbers(playedSongHistory);
  var parts = [];
  for (var row = 0; row < playedSongHistory.length; row++) {
    var i = playedSongHistory.length - 1 - row;
    var h = playedSongHistory[i];
    var hasNames = h.performers && h.performers.length > 0;
    if (h.insUsed && !hasNames) {
      parts.push('<div class="history-end" style="border-top:1px dashed #888; color:#aaa; font-size:0.8em; text-align:center;">프로그램 종료 · 여기부터 새로 시작(1번)</div>');
    }
    if (hasNames) {
      var names = h.performers.map(function (n, k) { return (k + 1) + '. ' + htmlEsc(n); }).join(' ');
      parts.push('<div class="history-names" style="width:10cm; background:#ff6fb5; color:#000; border-radius:4px; padding:0 6px;">' + names + '</div>');
    }
    var song = songById(h.id);
    var sel = row === f2SelIdx;
    parts.push('<div class="history-row" data-row="' + row + '" onclick="f2SelIdx=' + row + '; renderHistoryList();" style="display:flex; cursor:pointer;' +
      (sel ? ' background:#3498db; color:#000; font-weight:bold;' : '') + '">' +
      '<span style="width:4em;">' + nums[i] + '.</span><span style="flex:2; overflow:hidden; white-space:nowrap; text-overflow:ellipsis;">' + htmlEsc(h.title) + '</span>' +
      '<span style="flex:1; overflow:hidden; white-space:nowrap; text-overflow:ellipsis;">' + htmlEsc(song ? dispSinger(song) : '') + '</span>' +
      '<span style="width:9em;">' + htmlEsc(h.time) + '</span></div>');
  }
  box.innerHTML = parts.join('');
  if (f2SelIdx === 0) box.scrollTop = 0;
  else {
    var el = box.querySelector('.history-row[data-row="' + f2SelIdx + '"]');
    if (el && el.scrollIntoView) el.scrollIntoView({ block: 'nearest' });
  }
}

var f2ToastTimer = 0;
function f2Toast(text) {
  if (typeof document === 'undefined') return;
  var el = pageEl('umark-toast');
  if (!el) {
    el = document.createElement('div');
    el.id = 'umark-toast';
    el.style.cssText = 'position:fixed; top:12%; left:50%; transform:translateX(-50%); background:rgba(20,20,20,0.92); color:#ffd700; font-weight:bold; font-size:26px; padding:10px 24px; border-radius:10px; z-index:2147480000; display:none;';
    document.body.appendChild(el);
  }
  el.textContent = text;
  el.style.display = 'block';
  clearTimeout(f2ToastTimer);
  f2ToastTimer = setTimeout(function () { el.style.display = 'none'; }, 1800);
}

function openF2Panel() {
  if (window.__customerMode) return;
  f2PanelOpen = true;
  f2SelIdx = 0;
  f2ClearArm = false;
  var ov = ensureHistoryDom();
  if (ov) ov.style.display = 'block';
  renderHistoryList();
  renderReservedQueue();
  var rl = pageEl('reserved-list-f2');
  if (rl) rl.scrollTop = 0;
}
function closeF2Panel() {
  f2PanelOpen = false;
  var ov = pageEl('history-overlay');
  if (ov) ov.style.display = 'none';
}

function deleteHistorySelected() {
  if (playedSongHistory.length === 0) { f2Toast('지울 곡이 없습니다'); return; }
  var i = playedSongHistory.length - 1 - f2SelIdx;
  if (i < 0 || i >= playedSongHistory.length) return;
  var h = playedSongHistory.splice(i, 1)[0];
  if (h === curSongHistoryEntry) curSongHistoryEntry = null;
  f2SelIdx = Math.max(0, Math.min(f2SelIdx, playedSongHistory.length - 1));
  f2ClearArm = false;
  sendHistory();
  renderHistoryList();
  f2Toast('삭제: ' + h.title);
}
function deleteHistoryAll() {
  if (playedSongHistory.length === 0) { f2Toast('지울 곡이 없습니다'); return; }
  if (!f2ClearArm) {
    f2ClearArm = true;
    clearTimeout(f2ClearTimer);
    f2ClearTimer = setTimeout(function () { f2ClearArm = false; }, 4000);
    f2Toast('전체 삭제하려면 한 번 더 누르세요');
    return;
  }
  f2ClearArm = false;
  playedSongHistory = [];
  curSongHistoryEntry = null;
  f2SelIdx = 0;
  sendHistory();
  renderHistoryList();
  f2Toast('연주곡 리스트를 모두 지웠습니다');
}
function reserveFromHistory(keepOpen) {
  var h = playedSongHistory[playedSongHistory.length - 1 - f2SelIdx];
  var song = h ? songById(h.id) : null;
  if (song) {
    reservedQueue.push(makeReservation(song));
    renderReservedQueue();
    if (keepOpen) {
      modeToast('예약 ' + reservedQueue.length + '곡 : ' + dispTitle(song));
    }
  }
  if (!keepOpen) closeF2Panel();
}

// ---- Performer input ----

function ensureInsDom() {
  var ov = pageEl('ins-overlay');
  if (!ov || pageEl('ins-name-input')) return ov;
  ov.innerHTML = '<div style="margin:0 auto; width:max-content; background:#1f2328; color:#eee; border:2px solid #ff6fb5; border-top:none; border-radius:0 0 12px 12px; padding:10px 18px; font-size:18px;">' +
    '<b>부른 사람</b> <input id="ins-name-input" type="text" maxlength="6" autocomplete="off" style="font-size:18px; width:8em;"> ' +
    '<span style="color:#aaa;">한글 6글자</span> <span style="color:#f1c40f;">Enter</span> 확정 <span style="color:#f1c40f;">Esc</span> 취소</div>';
  return ov;
}
function openInsInput() {
  if (window.__customerMode) return;
  if (!songOnScreen()) return;
  insInputOpen = true;
  if (!insComposer) insComposer = new HangulComposer();
  insComposer.reset();
  insHangulOn = true;
  var ov = ensureInsDom();
  if (ov) ov.style.display = 'block';
  var input = pageEl('ins-name-input');
  if (input) {
    input.value = '';
    try { input.focus(); } catch (e) {}
  }
  pagePost('SWITCH_TO_KOREAN_IME');
}
function closeInsInput() {
  insInputOpen = false;
  var ov = pageEl('ins-overlay');
  if (ov) ov.style.display = 'none';
  var input = pageEl('ins-name-input');
  if (input) try { input.blur(); } catch (e) {}
}
function confirmInsInput() {
  var input = pageEl('ins-name-input');
  var name = cleanPerformerName(input ? input.value : '');
  if (name) {
    curSongPerformers.push(name);
    curSongInsUsed = true;
    if (curSongHistoryEntry) curSongHistoryEntry.insUsed = true;
    sendHistory();
    if (f2PanelOpen) renderHistoryList();
  }
  closeInsInput();
}

// ---- Favourites ----

function initFavorites(arr) {
  var src = Array.isArray(arr) ? arr : [];
  favList = [];
  for (var i = 0; i < src.length; i++) {
    var f = src[i] || {};
    var km = parseInt(f.km, 10);
    favList.push({
      name: strField(f.name),
      id: parseInt(f.id, 10) || 0,
      title: strField(f.title),
      t: parseInt(f.t, 10) || 0,
      p: parseInt(f.p, 10) || 0,
      km: isNaN(km) ? -1 : km,
    });
  }
}

// Sets in the order of their first entries, each with its songs in list order.
function favSets() {
  var sets = [];
  var at = {};
  for (var i = 0; i < favList.length; i++) {
    var f = favList[i];
    if (!Object.prototype.hasOwnProperty.call(at, '$' + f.name)) {
      at['$' + f.name] = sets.length;
      sets.push({ name: f.name, items: [] });
    }
    sets[at['$' + f.name]].items.push(f);
  }
  return sets;
}

function favSaveText() {
  var lines = [];
  for (var i = 0; i < favList.length; i++) {
    var f = favList[i];
    lines.push(lineField(f.name) + '\t' + f.id + '\t' + lineField(f.title) + '\t' + f.t + '\t' + f.p + '\t' + f.km);
  }
  return lines.join('\n');
}
function sendFavorites() {
  pagePost('FAV_SAVE:' + favSaveText());
}

function ensureFavDom() {
  var ov = pageEl('fav-overlay');
  if (!ov || pageEl('fav-list')) return ov;
  ov.style.background = 'rgba(10,12,16,0.96)';
  ov.style.borderBottom = '4px solid #2ecc71';
  ov.style.color = '#eee';
  ov.innerHTML = '<div style="display:flex; flex-direction:column; height:100%; padding:6px 10px; box-sizing:border-box;">' +
    '<div style="font-weight:bold; font-size:16px;">애창곡 리스트 (F3, Enter=예약, Delete=삭제, Esc=닫기)</div>' +
    '<div style="display:flex; color:#aaa;"><span style="width:4em;">번호</span><span style="width:10em;">이름</span><span style="width:5em;">곡수</span><span style="flex:1;">곡 목록</span></div>' +
    '<div id="fav-list" style="flex:1; overflow-y:auto; min-height:0;"></div></div>';
  return ov;
}

function renderFavList() {
  var box = pageEl('fav-list');
  if (!box) return;
  var sets = favSets();
  if (sets.length === 0) {
    box.innerHTML = '<div style="color:#aaa;">저장된 애창곡이 없습니다. 선곡창(F1)에서 예약곡을 담고 F3을 누르면 저장됩니다.</div>';
    return;
  }
  if (favSelIdx >= sets.length) favSelIdx = sets.length - 1;
  var parts = [];
  for (var i = 0; i < sets.length; i++) {
    var s = sets[i];
    var sel = i === favSelIdx;
    parts.push('<div class="fav-row" data-row="' + i + '" onclick="favSelIdx=' + i + '; renderFavList();" style="display:flex; cursor:pointer;' +
      (sel ? ' background:#2ecc71; color:#000; font-weight:bold;' : '') + '">' +
      '<span style="width:4em;">' + (i + 1) + '.</span><span style="width:10em; font-weight:bold; color:' + (sel ? '#000' : '#2ecc71') + ';">' + htmlEsc(s.name) + '</span>' +
      '<span style="width:5em;">' + s.items.length + '곡</span><span style="flex:1; overflow:hidden; white-space:nowrap; text-overflow:ellipsis;">' +
      htmlEsc(s.items.map(function (f) { return f.title; }).join(', ')) + '</span></div>');
  }
  box.innerHTML = parts.join('');
  if (favSelIdx === 0) box.scrollTop = 0;
  else {
    var el = box.querySelector('.fav-row[data-row="' + favSelIdx + '"]');
    if (el && el.scrollIntoView) el.scrollIntoView({ block: 'nearest' });
  }
}

function openFavPanel() {
  if (window.__customerMode) return;
  favPanelOpen = true;
  favSelIdx = 0;
  favClearArm = 0;
  var ov = ensureFavDom();
  if (ov) ov.style.display = 'block';
  renderFavList();
}
function closeFavPanel() {
  favPanelOpen = false;
  var ov = pageEl('fav-overlay');
  if (ov) ov.style.display = 'none';
}

function reserveFromFav() {
  var set = favSets()[favSelIdx];
  if (!set) { closeFavPanel(); return; }
  var added = 0;
  for (var i = 0; i < set.items.length; i++) {
    var f = set.items[i];
    var song = songById(f.id);
    if (!song) continue;
    var r = makeReservation(song);
    r._t = f.t;
    r._p = Math.max(-12, Math.min(12, f.p));
    r._km = f.km === 0 || f.km === 1 || f.km === 2 ? f.km : -1;
    reservedQueue.push(r);
    added++;
  }
  if (added) renderReservedQueue();
  closeFavPanel();
  f2Toast(set.name + ' 예약: ' + added + '곡');
}

function deleteFavSelected() {
  var set = favSets()[favSelIdx];
  if (!set) { f2Toast('지울 애창곡이 없습니다'); return; }
  if (favClearArm !== '$' + set.name) {
    favClearArm = '$' + set.name;
    clearTimeout(favClearTimer);
    favClearTimer = setTimeout(function () { favClearArm = 0; }, 4000);
    f2Toast(set.name + ' - 지우려면 한 번 더 누르세요');
    return;
  }
  favClearArm = 0;
  favList = favList.filter(function (f) { return f.name !== set.name; });
  if (favSelIdx > 0) favSelIdx--;
  sendFavorites();
  renderFavList();
  f2Toast(set.name + ' 세트를 지웠습니다');
}

// ---- Favourite-name input ----

function favTitleOf(s) {
  return s.subtitle ? (s.title || '') + ' (' + s.subtitle + ')' : (s.title || '');
}
function signed(n) {
  return n > 0 ? '+' + n : String(n);
}
function favAdjustText(f) {
  var parts = [];
  if (f.t) parts.push('템포 ' + signed(f.t));
  if (f.p) parts.push('음정 ' + signed(f.p));
  parts.push(f.km === 0 ? '원키' : f.km === 1 ? '남키' : f.km === 2 ? '여키' : '기본키');
  return parts.join(' · ');
}

function ensureFavInputDom() {
  var ov = pageEl('fav-input-overlay');
  if (!ov || pageEl('fav-name-input')) return ov;
  ov.style.background = 'rgba(0,0,0,0.55)';
  ov.innerHTML = '<div style="position:absolute; top:50%; left:50%; transform:translate(-50%,-50%); min-width:460px; background:#1f2328; color:#eee; border:2px solid #2ecc71; border-radius:14px; padding:18px 22px; font-size:18px;">' +
    '<div style="display:flex; justify-content:space-between;"><b>애창곡 저장 (F3)</b><span onclick="closeFavInput()" style="cursor:pointer;">&#10005;</span></div>' +
    '<div id="fav-input-song" style="margin:10px 0; color:#f1c40f;"></div>' +
    '<div><span id="fav-hg-mode" style="color:#2ecc71; font-weight:bold; margin-right:6px;">한</span>' +
    '<input id="fav-name-input" type="text" readonly placeholder="이름 입력 (최대 10글자)" style="font-size:18px; width:14em;"></div>' +
    '<div style="margin-top:10px; font-size:13px; color:#aaa;">Enter 저장 · Esc 취소 · 한/영 전환 = 한/영키 또는 ` 키 - 조절해 둔 템포/음정/키가 함께 저장됩니다</div></div>';
  return ov;
}
function favInputShow() {
  var input = pageEl('fav-name-input');
  if (input) input.value = favComposer.value();
  var mode = pageEl('fav-hg-mode');
  if (mode) mode.textContent = favHangulOn ? '한' : 'A';
}

function openFavInput() {
  if (window.__customerMode) return;
  var pending = [];
  if (reservedQueue.length) {
    for (var i = 0; i < reservedQueue.length; i++) {
      var r = reservedQueue[i];
      pending.push({ id: r.id, title: favTitleOf(r), t: r._t || 0, p: r._p || 0, km: r._km == null ? -1 : r._km });
    }
  } else {
    var s = typeof searchResults !== 'undefined' ? searchResults[searchSelIdx] : null;
    if (s) pending.push({ id: s.id, title: favTitleOf(s), t: 0, p: 0, km: -1 });
  }
  if (!pending.length) return;
  favPending = pending;
  if (!favComposer) favComposer = new HangulComposer();
  favComposer.reset();
  favHangulOn = true;
  favInputOpen = true;
  var ov = ensureFavInputDom();
  if (ov) ov.style.display = 'block';
  var song = pageEl('fav-input-song');
  if (song) {
    song.textContent = pending.length === 1
      ? pending[0].title + '  [' + favAdjustText(pending[0]) + ']'
      : '예약곡 ' + pending.length + '곡 저장: ' + pending[0].title + ' 외 ' + (pending.length - 1) + '곡 (조절값 각각 유지)';
  }
  favInputShow();
}
function closeFavInput() {
  favInputOpen = false;
  var ov = pageEl('fav-input-overlay');
  if (ov) ov.style.display = 'none';
}
function confirmFavInput() {
  var name = Array.from(lineField(favComposer ? favComposer.value() : '').trim()).slice(0, 10).join('').trim();
  if (!name) name = '이름없음';
  favList = favList.filter(function (f) { return f.name !== name; });
  for (var i = 0; i < favPending.length; i++) {
    var p = favPending[i];
    favList.push({ name: name, id: p.id, title: p.title, t: p.t, p: p.p, km: p.km });
  }
  sendFavorites();
  closeFavInput();
  f2Toast('애창곡 저장: ' + name + ' (' + favPending.length + '곡)');
  if (favPanelOpen) renderFavList();
}

// ---- Keys ----

// Typing into a name field through the page's own Hangul composer: the language keys switch
// between Hangul and plain letters, Backspace takes back the last part, and while Hangul is on a
// letter key gives its jamo by its place on the keyboard. Returns whether Hangul is on after.
function composerFieldKey(e, composer, hangulOn) {
  var k = e.key;
  var code = e.code || '';
  if (LANG_KEY_CODES[code] || LANG_KEY_CODES[k]) { e.preventDefault(); return !hangulOn; }
  if (k === 'Backspace') { e.preventDefault(); composer.backspace(); return hangulOn; }
  if (e.ctrlKey || e.altKey || e.metaKey) return hangulOn;
  e.preventDefault();
  var jamo = hangulOn ? (e.shiftKey ? HG_KEY_SHIFT[code] : HG_KEY[code]) : null;
  if (jamo) composer.input(jamo);
  else if (k && k.length === 1) composer.input(k);
  return hangulOn;
}

function insInputShow() {
  var input = pageEl('ins-name-input');
  if (input) input.value = Array.from(insComposer.value()).slice(0, 6).join('');
}
function insInputKey(e) {
  if (e.key === 'Escape') { e.preventDefault(); closeInsInput(); return true; }
  if (e.key === 'Enter') { e.preventDefault(); confirmInsInput(); return true; }
  insHangulOn = composerFieldKey(e, insComposer, insHangulOn);
  insInputShow();
  return true;
}

function favInputKey(e) {
  if (e.key === 'Escape') { e.preventDefault(); closeFavInput(); return true; }
  if (e.key === 'Enter') { e.preventDefault(); confirmFavInput(); return true; }
  favHangulOn = composerFieldKey(e, favComposer, favHangulOn);
  favInputShow();
  return true;
}

function isPlusKey(e) { return e.key === '+' || e.key === '='; }
function isMinusKey(e) { return e.key === '-' || e.key === '_'; }

// Favourites panel keys; true when taken.
function favPanelKey(e) {
  var k = e.key;
  var n = favSets().length;
  if (k === 'Escape') closeFavPanel();
  else if (k === 'Enter') reserveFromFav();
  else if (k === 'Delete') deleteFavSelected();
  else if (isPlusKey(e)) adjustListFont(2);
  else if (isMinusKey(e)) adjustListFont(-2);
  else if (k === 'ArrowUp') { if (n) { favSelIdx = (favSelIdx - 1 + n) % n; renderFavList(); } }
  else if (k === 'ArrowDown') { if (n) { favSelIdx = (favSelIdx + 1) % n; renderFavList(); } }
  else return false;
  e.preventDefault();
  return true;
}

// History panel keys; true when taken.
function historyPanelKey(e) {
  var k = e.key;
  var last = Math.max(0, playedSongHistory.length - 1);
  var move = function (d) { f2SelIdx = Math.max(0, Math.min(last, f2SelIdx + d)); renderHistoryList(); };
  if (k === 'Escape') closeF2Panel();
  else if (k === 'Enter') reserveFromHistory(false);
  else if (k === ' ' || e.code === 'Space') reserveFromHistory(true);
  else if (isPlusKey(e)) adjustListFont(2);
  else if (isMinusKey(e)) adjustListFont(-2);
  else if (k === 'ArrowUp') move(-1);
  else if (k === 'ArrowDown') move(1);
  else if (k === 'PageUp') move(-10);
  else if (k === 'PageDown') move(10);
  else if (k === 'Home') { f2SelIdx = 0; renderHistoryList(); }
  else if (k === 'End') { f2SelIdx = last; renderHistoryList(); }
  else if (k === 'Delete') { if (e.shiftKey) deleteHistoryAll(); else deleteHistorySelected(); }
  else return false;
  e.preventDefault();
  return true;
}
