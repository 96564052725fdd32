// ---- Score panels and score display settings ----
// How the song screen's score looks: staves shown, transposition and octave of the two melody
// staves, chord-name and small-lyric text styles, chord and jump-mark offsets, the bottom score
// panel (F9), the engraving panel (ALT+M), the staff modes (ALT+C) and the settings-panel rows of
// the score text. None of it changes the music.

var scoreCfg = { tU: 0, tL: 0, oU: 0, oL: 0, fmt: 1, delay: 0, link: true, cfU: false };
var staffMode = 0;
var fullScoreOn = 0;
var showBasicSheet = true;
var drumSheetOn = false;
var scLyr = { size: 100, colour: 0, weight: 1, outline: 0 };
var scChd = { size: 100, colour: 4, weight: 1, outline: 0 };
var chordYAdj = 0, jumpMarkYAdj = 0;
var scoreOpen = false, scoreSel = 0;
var engOpen = false, engSel = 0, engSaveTimer = 0;

var SC_TEXT_COLOURS = ['#16a085', '#0b6b3a', '#1558b0', '#6a1b9a', '#b3121a', '#d35400', '#111111', '#6d4c1b'];
var SC_TEXT_COLOUR_NAMES = ['청록', '진초록', '파랑', '보라', '진빨강', '주황', '검정', '갈색'];
var SC_TEXT_WEIGHTS = ['normal', 'bold', '900'];
var SC_TEXT_WEIGHT_NAMES = ['보통', '굵게', '아주 굵게'];
var SC_TEXT_OUTLINE_NAMES = ['없음', '흰 테두리', '검정 테두리'];
var SC_LYR_DEFAULT = { size: 100, colour: 0, weight: 1, outline: 0 };
var SC_CHD_DEFAULT = { size: 100, colour: 4, weight: 1, outline: 0 };
var STAFF_MODE_NAMES = ['2보 (기본)', '3보 + 드럼', '4보 + 베이스/드럼', '전체악보 (2보 x 2줄)'];
var SCORE_CELLS = [['tU', '이조1'], ['tL', '이조2'], ['oU', '옥타브1'], ['oL', '옥타브2'], ['fmt', '악보형식'], ['delay', '악보지연'], ['link', '연동']];
var ENG_SAVE_MS = 400;

// Engraving panel items: [group, key, label, step, min, max, decimals, default, option names].
var ENG_ITEMS = [
  ['미디 정리(화면)', 'mQuant', '퀀타이즈 단위', 1, 0, 4, 0, 0, ['자동', '4분음표', '8분음표', '16분음표', '32분음표']],
  ['', 'mTriplet', '셋잇단 허용', 1, 0, 1, 0, 1, ['끔', '켬']],
  ['', 'mMinLen', '짧은 음 삭제', 1, 0, 4, 0, 0, ['끔', '1/32박', '1/16박', '1/8박', '1/4박']],
  ['', 'mGapFill', '쉼표 메우기(박)', 0.05, 0.0, 2.0, 2, 0.5],
  ['', 'mDeOverlap', '겹침 제거', 1, 0, 1, 0, 1, ['끔', '켬']],
  ['', 'mGate', '음표 길이 배율', 0.05, 0.5, 2.0, 2, 1.0],
  ['', 'mBarFill', '마디 끝 채우기(박)', 0.05, 0.0, 4.0, 2, 0.5],
  ['오선 · 마디줄', 'staffLine', '오선 두께', 0.01, 0.02, 0.6, 3, 0.13],
  ['', 'barlineThin', '마디줄(가는)', 0.01, 0.04, 0.5, 3, 0.16],
  ['', 'barlineThick', '마디줄(굵은)', 0.02, 0.1, 1.5, 3, 0.5],
  ['', 'ledger', '덩줄 두께', 0.01, 0.04, 0.5, 3, 0.16],
  ['', 'ledgerExt', '덩줄 길이', 0.02, 0.0, 1.2, 3, 0.4],
  ['음표', 'headW', '머리 가로', 0.02, 0.6, 2.0, 3, 1.18],
  ['', 'headH', '머리 세로', 0.02, 0.5, 1.6, 3, 1.0],
  ['', 'stem', '기둥 두께', 0.01, 0.04, 0.4, 3, 0.12],
  ['', 'stemLen', '기둥 길이', 0.05, 1.5, 7.0, 3, 3.5],
  ['', 'stemMin', '기둥 최소길이', 0.05, 1.0, 6.0, 3, 2.5],
  ['', 'stemAnchor', '기둥 붙는 위치', 0.004, 0.0, 0.5, 3, 0.168],
  ['', 'flagLen', '꼬리 길이', 0.05, 1.2, 4.0, 2, 2.3],
  ['', 'flagThick', '꼬리 두께', 0.05, 0.4, 2.0, 2, 1.05],
  ['', 'flagGap', '꼬리 간격(겹꼬리)', 0.05, 0.5, 1.6, 2, 0.9],
  ['', 'dotR', '점 크기', 0.01, 0.05, 0.6, 3, 0.2],
  ['', 'dotGap', '점 간격', 0.02, 0.1, 1.5, 3, 0.5],
  ['뺔 · 붙임줄', 'beam', '뺔 두께', 0.02, 0.2, 1.0, 3, 0.5],
  ['', 'beamSpacing', '뺔 간격', 0.01, 0.05, 0.8, 3, 0.25],
  ['', 'beamSlantMax', '뺔 기울기 최대', 0.05, 0.0, 4.0, 3, 1.5],
  ['', 'beamSlantQ', '뺔 기울기 단위', 0.01, 0.0, 1.0, 3, 0.25],
  ['', 'beamSlantRatio', '뺔 기울기 비율', 0.01, 0.0, 1.0, 3, 0.25],
  ['', 'beamletLen', '짧은뺔 길이', 0.05, 0.2, 2.5, 3, 1.0],
  ['', 'tieThick', '붙임줄 두께', 0.01, 0.05, 0.8, 3, 0.22],
  ['조표 · 임시표', 'keySigX', '조표 좌우 위치', 0.10, 1.0, 8.0, 2, 3.4],
  ['', 'keySigGap', '조표 간격', 0.05, 0.4, 2.0, 2, 0.95],
  ['', 'keySigScale', '조표 크기', 0.05, 0.5, 2.0, 2, 1.0],
  ['', 'accGap', '임시표 좌우 간격', 0.05, 0.2, 2.0, 2, 0.75],
  ['', 'accScale', '임시표 크기', 0.05, 0.5, 2.0, 2, 1.0],
  ['배치(화면)', 'noteScale', '악보 채움', 0.05, 0.45, 1.00, 2, 1.0],
  ['', 'measPerPage', '한 화면 마디수', 1, 1, 8, 0, 4],
  ['', 'LEFT_MARGIN', '왼쪽 여백', 5, 60, 500, 0, 170],
  ['', 'START_X', '시작 X', 5, 0, 300, 0, 30],
  ['', 'END_X', '끝 X', 5, 1000, 1600, 0, 1570],
  ['', 'UPPER_Y', '상악보 높이', 2, 20, 260, 0, 100],
  ['', 'LOWER_Y', '하악보 높이', 2, 120, 430, 0, 280],
  ['', 'BEAT1_OFFSET', '첫박 여백', 2, 0, 150, 0, 40],
];
var ENG_LAYOUT_KEYS = 6;
// Layout values that every redraw computes again from the canvas size: a saved copy would only be
// overwritten, so they are not collected.
var ENG_REDRAW_KEYS = ['LEFT_MARGIN', 'START_X', 'END_X', 'UPPER_Y', 'LOWER_Y'];  // the last group's items are page layout values, the rest engraver constants

function scoreClampInt(v, lo, hi) {
  v = Math.round(+v);
  if (!isFinite(v)) v = lo;
  return Math.max(lo, Math.min(hi, v));
}
function scoreClampOct(v) { return scoreClampInt(v, -3, 3); }
function scoreSigned(v) { v = v | 0; return (v > 0 ? '+' : '') + v; }
function scoreRedrawIfShown() { if (songLoaded && typeof drawPage === 'function') drawPage(); }
function saveEnvNow() { saveEnv(); }

// ---- Values from the program ----

function initScoreOct(tU, tL, oU, oL) {
  scoreCfg.tU = scoreClampInt(tU || 0, -11, 11);
  scoreCfg.tL = scoreClampInt(tL || 0, -11, 11);
  scoreCfg.oU = scoreClampOct(oU || 0);
  scoreCfg.oL = scoreClampOct(oL || 0);
  scoreRedrawIfShown();
  if (scoreOpen) renderScorePanel();
}
function scTextFrom(size, colour, weight, outline) {
  var s = +size;
  return {
    size: s > 0 ? scoreClampInt(s, 50, 250) : 100,
    colour: scoreClampInt(colour || 0, 0, 7),
    weight: scoreClampInt(weight === undefined ? 1 : weight, 0, 2),
    outline: scoreClampInt(outline || 0, 0, 2),
  };
}
function initScoreText(ls, lc, lw, lo, cs, cc, cw, co) {
  scLyr = scTextFrom(ls, lc, lw, lo);
  scChd = scTextFrom(cs, cc, cw, co);
  scoreRedrawIfShown();
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}

// ---- Score panel (F9) ----

function scoreOverlay() { return typeof document !== 'undefined' ? document.getElementById('score-overlay') : null; }
function toggleScorePanel() { if (scoreOpen) closeScorePanel(); else openScorePanel(); }
function openScorePanel() {
  if (typeof mixerOpen !== 'undefined' && mixerOpen) closeMixer();
  if (typeof f10Open !== 'undefined' && f10Open) closeF10Panel();
  scoreOpen = true;
  scoreSel = 0;
  renderScorePanel();
}
function closeScorePanel() {
  scoreOpen = false;
  var el = scoreOverlay();
  if (el) { el.style.display = 'none'; el.innerHTML = ''; }
}
function scoreMove(d) {
  scoreSel = ((scoreSel + (d | 0)) % SCORE_CELLS.length + SCORE_CELLS.length) % SCORE_CELLS.length;
  renderScorePanel();
}
function scoreAdjust(d) {
  d = d | 0;
  var key = SCORE_CELLS[scoreSel][0];
  if (key === 'tU' || key === 'tL') {
    var v = scoreClampInt(scoreCfg[key] + d, -11, 11);
    scoreCfg[key] = v;
    if (scoreCfg.link) scoreCfg[key === 'tU' ? 'tL' : 'tU'] = v;
  } else if (key === 'oU' || key === 'oL') {
    var o = scoreClampOct(scoreCfg[key] + d);
    scoreCfg[key] = o;
    if (scoreCfg.link) scoreCfg[key === 'oU' ? 'oL' : 'oU'] = o;
  } else if (key === 'fmt') scoreCfg.fmt = scoreClampInt(scoreCfg.fmt + d, 1, 999);
  else if (key === 'delay') scoreCfg.delay = scoreClampInt(scoreCfg.delay + d, 0, 999);
  else if (key === 'link') scoreCfg.link = !scoreCfg.link;
  renderScorePanel();
  scoreRedrawIfShown();
  saveEnvNow();
  scoreOctSave();
}
function scoreSpace() {
  var key = SCORE_CELLS[scoreSel][0];
  if (key === 'tU' || key === 'tL') scoreCfg.cfU = !scoreCfg.cfU;
  else if (key === 'link') scoreCfg.link = !scoreCfg.link;
  renderScorePanel();
  scoreRedrawIfShown();
  saveEnvNow();
}
function scoreOctSave() {
  // the singer-key song number; the song screen's own number when the key editor has not set one
  var id = typeof curKeySongId !== 'undefined' ? curKeySongId | 0 : 0;
  if (!id && typeof curSongIdForHistory !== 'undefined') id = curSongIdForHistory | 0;
  if (!songLoaded || !id) return;
  pagePost('SCORE_OCT_SAVE:' + id + ':' + (scoreCfg.tU | 0) + ':' + (scoreCfg.tL | 0) + ':' + (scoreCfg.oU | 0) + ':' + (scoreCfg.oL | 0));
}
function toggleBasicSheet() {
  showBasicSheet = !showBasicSheet;
  afterSheetToggle();
}
function toggleDrumSheet() {
  drumSheetOn = !drumSheetOn;
  afterSheetToggle();
}
function afterSheetToggle() {
  scoreRedrawIfShown();
  saveEnvNow();
  if (scoreOpen) renderScorePanel();
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}
function scorePanelKey(e) {
  var k = e.key, code = e.code || '';
  if (k === 'Escape' || k === 'Enter') closeScorePanel();
  else if (k === 'ArrowLeft') scoreMove(-1);
  else if (k === 'ArrowRight') scoreMove(1);
  else if (k === 'ArrowUp' || k === '+' || k === '=') scoreAdjust(1);
  else if (k === 'ArrowDown' || k === '-') scoreAdjust(-1);
  else if (k === ' ') scoreSpace();
  else if (k === 'b' || k === 'B' || code === 'KeyB') toggleBasicSheet();
  else return;
  if (e.preventDefault) e.preventDefault();
}
function scoreCellValueHtml(key) {
  var v = scoreCfg[key];
  if (key === 'tU' || key === 'tL') {
    return scoreCfg.cfU ? '<span style="background:#c0392b; color:#fff; padding:0 6px; border-radius:4px;">' + scoreSigned(v) + '</span>' : scoreSigned(v);
  }
  if (key === 'oU' || key === 'oL') return scoreSigned(v);
  if (key === 'fmt' || key === 'delay') return ('00' + (v | 0)).slice(-3);
  return v ? '<span style="color:#2ecc71;">ON</span>' : '<span style="color:#aaa;">OFF</span>';
}
function sheetBox(on, label, onColour, click) {
  return '<span onclick="' + click + '()" style="cursor:pointer; margin-left:14px; color:' + (on ? onColour : '#888') + ';">' +
    (on ? '☑' : '☐') + label + '</span>';
}
function renderScorePanel() {
  var el = scoreOverlay();
  if (!el || !scoreOpen) return;
  var h = '<div style="display:flex; align-items:center; gap:6px; background:rgba(20,24,28,0.94); color:#fff; padding:10px 16px; font-size:16px; font-weight:bold;">';
  for (var i = 0; i < SCORE_CELLS.length; i++) {
    var sel = i === scoreSel;
    h += '<div class="score-cell" data-key="' + SCORE_CELLS[i][0] + '" style="display:flex; flex-direction:column; align-items:center; padding:4px 10px; border-radius:6px; ' +
      (sel ? 'background:#f39c12; color:#222;' : '') + '"><span style="font-size:12px;">' + SCORE_CELLS[i][1] + '</span>' +
      '<span class="score-val" style="min-width:44px; text-align:center; border:1px solid #555; border-radius:4px; padding:1px 4px; background:#111; color:#fff;">' + scoreCellValueHtml(SCORE_CELLS[i][0]) + '</span></div>';
    if (i === 3 || i === 5 || i === 6) h += '<div style="width:1px; align-self:stretch; background:#555;"></div>';
  }
  h += sheetBox(showBasicSheet, ' 기본악보 (B)', '#2ecc71', 'toggleBasicSheet');
  h += sheetBox(drumSheetOn, ' 드럼악보 (F8)', '#f39c12', 'toggleDrumSheet');
  h += '<span style="margin-left:auto; color:#f39c12;">악보 설정 (F9)</span></div>';
  el.innerHTML = h;
  el.style.display = 'block';
}

// ---- Staff modes (ALT+C) ----

function cycleStaffMode() {
  staffMode = staffMode === 0 ? 1 : staffMode === 1 ? 2 : 0;
  applyStaffMode(true);
  pagePost('SET_FULL_SCORE:' + fullScoreOn);
  saveEnvNow();
  if (typeof modeToast === 'function') modeToast(STAFF_MODE_NAMES[staffMode]);
}
function applyStaffMode(redraw) {
  staffMode = scoreClampInt(staffMode, 0, 3);
  fullScoreOn = staffMode === 3 ? 1 : 0;
  var doc = typeof document !== 'undefined' ? document : null;
  var stage = doc && doc.getElementById('lyrics-stage');
  var r1 = doc && doc.getElementById('score-row1');
  var r2 = doc && doc.getElementById('score-row2');
  if (staffMode === 3) {
    if (stage) { stage.style.display = 'flex'; stage.style.height = '40%'; stage.style.minHeight = '200px'; }
    if (r1) { r1.style.bottom = 'auto'; r1.style.height = '50%'; }
    if (r2) r2.style.display = 'block';
  } else {
    if (r1) { r1.style.height = '100%'; }
    if (r2) r2.style.display = 'none';
    if (stage) {
      if (staffMode === 2) stage.style.display = 'none';
      else {
        stage.style.display = 'flex';
        stage.style.height = staffMode === 1 ? '28%' : '42%';
        stage.style.minHeight = staffMode === 1 ? '170px' : '280px';
      }
    }
    if (typeof clearCanvas === 'function') clearCanvas('grandBar2');
  }
  if (typeof curMeasures !== 'undefined' && typeof applyScoreRows === 'function' && songLoaded) applyScoreRows(Math.max(0, lastCurMeasureIdx));
  if (redraw) scoreRedrawIfShown();
}
function applyFullScoreLayout() {
  if (fullScoreOn && staffMode === 0) staffMode = 3;
  applyStaffMode(true);
}

// ---- Engraving panel (ALT+M) ----

function engOverlay() { return typeof document !== 'undefined' ? document.getElementById('eng-overlay') : null; }
function engGet(item) {
  var k = item[1];
  if (k === 'noteScale') return noteScale;
  if (k === 'measPerPage') return measPerPage;
  if (ENG_ITEMS.indexOf(item) >= ENG_ITEMS.length - ENG_LAYOUT_KEYS) return window[k];
  return MusicEngraver.ENG[k];
}
function engSet(item, v) {
  var k = item[1];
  v = Math.max(item[4], Math.min(item[5], +v));
  var f = Math.pow(10, item[6]);
  v = Math.round(v * f) / f;
  if (k === 'noteScale') noteScale = v;
  else if (k === 'measPerPage') { measPerPage = v; if (typeof recalcMeasureWidth === 'function') recalcMeasureWidth(); }
  else if (ENG_ITEMS.indexOf(item) >= ENG_ITEMS.length - ENG_LAYOUT_KEYS) window[k] = v;
  else MusicEngraver.ENG[k] = v;
  return v;
}
function engItemByKey(k) {
  for (var i = 0; i < ENG_ITEMS.length; i++) if (ENG_ITEMS[i][1] === k) return ENG_ITEMS[i];
  return null;
}
function toggleEngPanel() { if (engOpen) closeEngPanel(); else openEngPanel(); }
function openEngPanel() {
  if (typeof mixerOpen !== 'undefined' && mixerOpen) closeMixer();
  if (scoreOpen) closeScorePanel();
  engOpen = true;
  renderEngPanel();
}
function closeEngPanel() {
  engOpen = false;
  var el = engOverlay();
  if (el) { el.style.display = 'none'; el.innerHTML = ''; }
  if (engSaveTimer) { clearTimeout(engSaveTimer); engSaveTimer = 0; saveEnvNow(); }
}
function engMove(d) {
  engSel = ((engSel + (d | 0)) % ENG_ITEMS.length + ENG_ITEMS.length) % ENG_ITEMS.length;
  renderEngPanel();
}
function engChanged() {
  renderEngPanel();
  scoreRedrawIfShown();
  clearTimeout(engSaveTimer);
  engSaveTimer = setTimeout(function () { engSaveTimer = 0; saveEnvNow(); }, ENG_SAVE_MS);
}
function engAdjust(steps) {
  var it = ENG_ITEMS[engSel];
  engSet(it, +engGet(it) + (steps | 0) * it[3]);
  engChanged();
}
function engResetOne() {
  var it = ENG_ITEMS[engSel];
  engSet(it, it[7]);
  engChanged();
}
function engResetAll() {
  for (var i = 0; i < ENG_ITEMS.length; i++) engSet(ENG_ITEMS[i], ENG_ITEMS[i][7]);
  engChanged();
}
function engPanelKey(e) {
  var k = e.key;
  if (k === 'Escape') closeEngPanel();
  else if (k === 'ArrowUp') engMove(-1);
  else if (k === 'ArrowDown') engMove(1);
  else if (k === 'ArrowLeft') engAdjust(-1);
  else if (k === 'ArrowRight') engAdjust(1);
  else if (k === 'PageUp') engAdjust(5);
  else if (k === 'PageDown') engAdjust(-5);
  else if (k === ' ') engResetOne();
  else if (k === 'r' || k === 'R') engResetAll();
  else return;
  if (e.preventDefault) e.preventDefault();
}
function engValueText(it, v) {
  if (it[8]) return it[8][scoreClampInt(v, 0, it[8].length - 1)];
  return (+v).toFixed(it[6]);
}
function collectEngCfg() {
  var out = {};
  for (var i = 0; i < ENG_ITEMS.length; i++) {
    var it = ENG_ITEMS[i];
    if (it[1] === 'noteScale' || it[1] === 'measPerPage' || ENG_REDRAW_KEYS.indexOf(it[1]) >= 0) continue;
    var v = +engGet(it);
    if (Math.abs(v - it[7]) > 1e-9) out[it[1]] = v;
  }
  return out;
}
function applyEngCfg(obj) {
  if (!obj || typeof obj !== 'object') return;
  for (var k in obj) {
    if (!Object.prototype.hasOwnProperty.call(obj, k)) continue;
    var it = engItemByKey(k);
    var v = +obj[k];
    if (it && isFinite(v)) engSet(it, v);
  }
  if (engOpen) renderEngPanel();
}
function renderEngPanel() {
  var el = engOverlay();
  if (!el || !engOpen) return;
  var h = '<div style="height:100%; overflow:auto; background:rgba(20,24,28,0.95); color:#eee; font-size:14px; padding:12px; box-sizing:border-box;">' +
    '<div style="font-size:18px; font-weight:bold; color:#f39c12;">악보 조판 (ALT+M)</div>' +
    '<button onclick="engResetAll()" style="margin:6px 0;">전체 기본값 (R)</button>' +
    '<div style="font-size:12px; color:#aaa;">↑↓ 항목 · ←→ 값 · PgUp/PgDn 크게 · Space 이 항목 기본값 · Esc 닫기</div>' +
    '<div style="font-size:12px; color:#aaa; margin-bottom:6px;">연주에는 영향이 없고, 값은 자동 저장되어 설정 프리셋에 함께 담깁니다.</div>';
  for (var i = 0; i < ENG_ITEMS.length; i++) {
    var it = ENG_ITEMS[i];
    if (it[0]) h += '<div style="margin-top:8px; color:#8ab4f8; font-weight:bold;">' + it[0] + '</div>';
    var v = engGet(it);
    var changed = Math.abs(+v - it[7]) > 1e-9;
    h += '<div class="eng-item" id="eng-item-' + i + '" onclick="engSel=' + i + '; renderEngPanel();" style="display:flex; justify-content:space-between; padding:2px 6px; border-radius:4px; cursor:pointer; ' +
      (i === engSel ? 'background:#f39c12; color:#222;' : '') + '"><span>' + it[2] +
      (changed ? ' <small style="color:#999;">(' + engValueText(it, it[7]) + ')</small>' : '') + '</span><span style="' + (changed ? 'color:#ffeb3b;' : '') + '">' +
      engValueText(it, v) + '</span></div>';
  }
  el.innerHTML = h + '</div>';
  el.style.display = 'block';
  var selEl = document.getElementById('eng-item-' + engSel);
  if (selEl && selEl.scrollIntoView) selEl.scrollIntoView({ block: 'nearest' });
}

// ---- Score text and position rows of the settings panel ----

function scStyleOf(which) { return which === 'chd' ? scChd : scLyr; }
function scTextRow(label, which) {
  var s = scStyleOf(which);
  var step = function (key, d, text) {
    return '<button onclick="scTextAdj(\'' + which + '\',\'' + key + '\',' + d + ')">' + text + '</button>';
  };
  return '<div class="sc-text-row" style="display:flex; align-items:center; gap:6px;"><span style="min-width:90px;">' + label + '</span>' +
    step('size', -10, '-') + '<span>' + s.size + '%</span>' + step('size', 10, '+') +
    step('colour', 1, '<span style="color:' + SC_TEXT_COLOURS[s.colour] + ';">' + SC_TEXT_COLOUR_NAMES[s.colour] + '</span>') +
    step('weight', 1, SC_TEXT_WEIGHT_NAMES[s.weight]) + step('outline', 1, SC_TEXT_OUTLINE_NAMES[s.outline]) +
    '<span style="' + scTextPreviewCss(s, 16) + '">가Aa</span></div>';
}
function scTextPreviewCss(style, basePx) {
  var size = Math.round(basePx * (style.size || 100) / 100);
  var css = 'font-size:' + size + 'px; font-weight:' + SC_TEXT_WEIGHTS[style.weight | 0] + '; color:' + SC_TEXT_COLOURS[style.colour | 0] + ';';
  if (style.outline) {
    var w = Math.max(1, Math.round(size * 0.07)), c = style.outline === 1 ? '#fff' : '#000';
    css += ' text-shadow:' + w + 'px 0 0 ' + c + ', -' + w + 'px 0 0 ' + c + ', 0 ' + w + 'px 0 ' + c + ', 0 -' + w + 'px 0 ' + c + ';';
  }
  return css;
}
function scTextAdj(which, key, d) {
  var s = scStyleOf(which);
  d = d | 0;
  if (key === 'size') s.size = scoreClampInt(s.size + d, 50, 250);
  else if (key === 'colour') s.colour = ((s.colour + d) % 8 + 8) % 8;
  else if (key === 'weight') s.weight = ((s.weight + d) % 3 + 3) % 3;
  else if (key === 'outline') s.outline = ((s.outline + d) % 3 + 3) % 3;
  scTextChanged();
}
function scTextReset() {
  scLyr = { size: SC_LYR_DEFAULT.size, colour: SC_LYR_DEFAULT.colour, weight: SC_LYR_DEFAULT.weight, outline: SC_LYR_DEFAULT.outline };
  scChd = { size: SC_CHD_DEFAULT.size, colour: SC_CHD_DEFAULT.colour, weight: SC_CHD_DEFAULT.weight, outline: SC_CHD_DEFAULT.outline };
  scTextChanged();
}
function scTextChanged() {
  scoreRedrawIfShown();
  scTextSend();
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}
function scTextSend() {
  pagePost('SET_SCORE_TEXT:' + [scLyr.size, scLyr.colour, scLyr.weight, scLyr.outline, scChd.size, scChd.colour, scChd.weight, scChd.outline].join(':'));
}
function posAdjRow(label, fnName, value) {
  var v = value | 0;
  var b = function (d, text) { return '<button onclick="' + fnName + '(' + d + ')">' + text + '</button>'; };
  return '<div class="pos-adj-row" style="display:flex; align-items:center; gap:6px;"><span style="min-width:90px;">' + label + '</span>' +
    b(-2, '▲') + '<span>' + scoreSigned(v) + 'px</span>' + b(2, '▼') + b(0, '0') + '</div>';
}
function adjPos(v, d) { return (d | 0) === 0 ? 0 : scoreClampInt((v | 0) + (d | 0), -100, 100); }
function adjChordY(d) {
  chordYAdj = adjPos(chordYAdj, d);
  pagePost('SET_CHORD_Y:' + chordYAdj);
  scoreRedrawIfShown();
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}
function adjJumpMarkY(d) {
  jumpMarkYAdj = adjPos(jumpMarkYAdj, d);
  pagePost('SET_JUMPMARK_Y:' + jumpMarkYAdj);
  scoreRedrawIfShown();
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}

// A score text: an outline stroke first when the style has one, then the fill in its colour.
function scTextPaint(ctx, text, x, y, style, sp) {
  style = style || SC_LYR_DEFAULT;
  if (style.outline) {
    ctx.save();
    ctx.lineWidth = Math.max(2, 0.16 * sp * (style.size || 100) / 100);
    ctx.lineJoin = 'round';
    ctx.miterLimit = 2;
    ctx.strokeStyle = style.outline === 1 ? '#fff' : '#000';
    ctx.strokeText(text, x, y);
    ctx.restore();
  }
  ctx.fillStyle = SC_TEXT_COLOURS[style.colour | 0] || '#000';
  ctx.fillText(text, x, y);
}
