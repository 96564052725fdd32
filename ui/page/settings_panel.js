// ---- Settings panel (ALT+0) ----
// The operator's lasting choices in one overlay, drawn whole by renderSettingsPanel from page
// variables. Every control calls a setter that updates its variable, redraws and posts one
// command; the program stores the value. The list navigation (setItems ... setAdjust) walks the
// controls of the overlay named by setBoxId and is shared with other panels.
//
// Sections: state; values from the program; the page settings blob; custom fonts; setters;
// widgets and drawing; list navigation and keys; the older program's import report.

// ---- State ----

var setBoxId = 'settings-overlay';
var setSelIdx = 0;
var startFullscreen = 0;
var numLockOffOpt = 1;
var AUTOKEY_LABELS = ['원키', '남자키', '여자키'];
var MODULE_LABELS = ['CS88Pro', 'SC8820', 'SC8850'];
var moduleTonePreset = 0, use8850NativeMap = 0;
var reverbLv = -1, shapeOn = 0, revMacro = 4, revTime = 56, revPreLpf = 0, fullScoreOn = 0;
var choMacro = -1, choLevel = -1, choDepth = -1;
var keepAdjust = 0;
var midiStatusText = '';
var qFxNote = 54;
var Q_FX_LIST = [[54, '탬버린'], [49, '오픈 심벌'], [71, '호루라기(짧게)'], [72, '호루라기(길게)'], [56, '카우벨'], [39, '박수'],
                 [81, '트라이앵글'], [69, '카바사'], [70, '마라카스'], [67, '아고고'], [75, '클라베'], [55, '스플래시 심벌'], [52, '징']];
// The lyric fonts to choose from: the families installed on this machine, Korean ones first.
var LYRIC_FONTS = [];
function initLyricFonts(list) {
  LYRIC_FONTS = Array.isArray(list) ? list.filter(function (f) { return typeof f === 'string' && f !== ''; }) : [];
}
var oldCfgKeyFn = null;

function spRefresh() {
  if (settingsPanelOpen) renderSettingsPanel();
}
function spNum(v, dflt) {
  return typeof v === 'number' && isFinite(v) ? v : dflt;
}

// ---- Values from the program ----

function initAppSettings(a, p1, p2, o, cy, jy, rv, sf, mt, nm, rs, sh, fs, cho) {
  autoKeyMode = a;
  port1Module = p1;
  port2Module = p2;
  outputMode = o;
  chordYAdj = cy || 0;
  jumpMarkYAdj = jy || 0;
  reverbLv = typeof rv === 'number' ? rv : -1;
  startFullscreen = sf ? 1 : 0;
  moduleTonePreset = mt ? 1 : 0;
  use8850NativeMap = nm ? 1 : 0;
  if (sh) {
    shapeOn = sh.on ? 1 : 0;
    revMacro = sh.macro;
    revTime = sh.time;
    revPreLpf = sh.preLpf;
  }
  fullScoreOn = fs ? 1 : 0;
  if (cho) {
    choMacro = spNum(cho.macro, -1);
    choLevel = spNum(cho.level, -1);
    choDepth = spNum(cho.depth, -1);
  }
  applyFullScoreLayout();
  if (songLoaded && measureStarts.length) drawPage();
  spRefresh();
}
function setNumLockOffDisplay(v) {
  numLockOffOpt = typeof v === 'number' ? v : 1;
  spRefresh();
}
function initKeepAdjust(v) {
  keepAdjust = v ? 1 : 0;
  spRefresh();
}
function setMidiOpenStatus(text) {
  midiStatusText = text || '';
  spRefresh();
}
// A value of a section that owns it, or `dflt` when that section is not on the page.
function spVal(name, dflt) {
  return typeof window[name] !== 'undefined' ? window[name] : dflt;
}
// A row of another section: that section's setter, then the panel redrawn.
function spOwned(setter, v) {
  pageCall(setter, v);
  spRefresh();
}

// ---- The page settings blob ----

function collectEnv() {
  var e = {
    qFxNote: qFxNote,
    score: window.scoreCfg,
    listFontPx: window.listFontPx,
    measPerPage: window.measPerPage,
    noteScale: window.noteScale,
    drumSheetOn: !!window.drumSheetOn,
    staffMode: window.staffMode,
    showBasicSheet: window.showBasicSheet !== false
  };
  if (typeof searchColW !== 'undefined') e.searchColW = searchColW;
  if (typeof resvColW !== 'undefined') e.resvColW = resvColW;
  e.engCfg = collectEngCfg();
  return e;
}
function saveEnv() {
  pagePost('SAVE_ENV:' + JSON.stringify(collectEnv()));
}
// Copies the numeric members whose names the target already has.
function envCopyNumbers(target, src) {
  if (!target || !src || typeof src !== 'object') return;
  for (var k in src) {
    if (Object.prototype.hasOwnProperty.call(target, k) && typeof src[k] === 'number') target[k] = src[k];
  }
}
function applyEnvSettings(e) {
  if (!e) return;
  try {
    if (typeof e === 'string') e = JSON.parse(e);
    if (!e || typeof e !== 'object') return;
    if (typeof e.qFxNote === 'number') { qFxNote = e.qFxNote; pagePost('SET_QFX:' + qFxNote); }
    if (e.score && typeof e.score === 'object' && window.scoreCfg) {
      for (var k in e.score) if (Object.prototype.hasOwnProperty.call(window.scoreCfg, k)) window.scoreCfg[k] = e.score[k];
    }
    if (typeof e.listFontPx === 'number') { window.listFontPx = e.listFontPx; applyListFont(); }
    if (typeof e.measPerPage === 'number') {
      window.measPerPage = e.measPerPage;
      recalcMeasureWidth();
    }
    if (typeof e.noteScale === 'number') window.noteScale = e.noteScale;
    if (typeof e.drumSheetOn === 'boolean') window.drumSheetOn = e.drumSheetOn;
    if (typeof e.showBasicSheet === 'boolean') window.showBasicSheet = e.showBasicSheet;
    if (typeof e.staffMode === 'number' && e.staffMode >= 0 && e.staffMode <= 3) {
      window.staffMode = e.staffMode;
      applyStaffMode(false);
    }
    if (typeof searchColW !== 'undefined') envCopyNumbers(searchColW, e.searchColW);
    if (typeof resvColW !== 'undefined') envCopyNumbers(resvColW, e.resvColW);
    if (e.engCfg) applyEngCfg(e.engCfg);
    var bars = window.measureStarts;
    if (songLoaded && bars && bars.length) {
      applyScoreRows(Math.max(0, window.lastCurMeasureIdx | 0));
      drawPage();
    } else {
      scoreRedraw();
    }
    if (scoreOpen) renderScorePanel();
  } catch (err) {
    console.log('applyEnvSettings: ' + err);
  }
}

// ---- Setters ----

function setNumLockOff(v) { numLockOffOpt = parseInt(v, 10) || 0; pagePost('SET_NUMLOCK_OFF:' + numLockOffOpt); }
function setKeepAdjust(v) { keepAdjust = v ? 1 : 0; pagePost('SET_KEEP_ADJUST:' + keepAdjust); spRefresh(); }
function setStartFullscreen(v) { startFullscreen = v ? 1 : 0; pagePost('SET_START_FULLSCREEN:' + startFullscreen); }
function setAutoKey(v) { autoKeyMode = v; pagePost('SET_AUTOKEY:' + v); }
function setModule(port, text) {
  if (port === 1) port1Module = text; else port2Module = text;
  pagePost('SET_MODULE:' + port + ':' + text);
}
// The score rows belong to the song screen's score panels.
function spChordY(d) { adjChordY(d); }
function spJumpMarkY(d) { adjJumpMarkY(d); }
function spSheetToggle(which) {
  if (which === 'drum') toggleDrumSheet(); else toggleBasicSheet();
  spRefresh();
}
function setQFx(v) { qFxNote = parseInt(v, 10) || 54; pagePost('SET_QFX:' + qFxNote); saveEnv(); spRefresh(); }
function testQFx() { pagePost('CVT_QFX'); }
function adjReverbLv(d) {
  if (reverbLv < 0) reverbLv = d > 0 ? 0 : -1;
  else reverbLv = reverbLv + d < 0 ? -1 : Math.min(127, reverbLv + d);
  pagePost('SET_REVERB_LV:' + reverbLv);
  spRefresh();
}
function resetReverbLv() { reverbLv = -1; pagePost('SET_REVERB_LV:-1'); spRefresh(); }
function sendReverbShape() { pagePost('SET_REVERB_SHAPE:' + shapeOn + ':' + revMacro + ':' + revTime + ':' + revPreLpf); spRefresh(); }
function setReverbShapeOn(v) { shapeOn = v ? 1 : 0; sendReverbShape(); }
function adjReverbMacro(d) { revMacro = d === 0 ? 4 : ((revMacro + d) % 8 + 8) % 8; sendReverbShape(); }
function adjReverbTime(d) { revTime = d === 0 ? 56 : Math.max(0, Math.min(127, revTime + d)); sendReverbShape(); }
function adjReverbPreLpf(d) { revPreLpf = d === 0 ? 0 : Math.max(0, Math.min(7, revPreLpf + d)); sendReverbShape(); }
function setModuleTone(v) { moduleTonePreset = v ? 1 : 0; pagePost('SET_MODULE_TONE:' + moduleTonePreset); spRefresh(); }
function setNativeMap(v) { use8850NativeMap = v ? 1 : 0; pagePost('SET_NATIVE_MAP:' + use8850NativeMap); spRefresh(); }
function sendChorus() { pagePost('SET_CHORUS:' + choMacro + ':' + choLevel + ':' + choDepth); spRefresh(); }
function adjChorusMacro(d) { choMacro = d === 0 ? -1 : choMacro < 0 ? 2 : ((choMacro + d) % 8 + 8) % 8; sendChorus(); }
function adjChorusLevel(d) { choLevel = d === 0 ? -1 : choLevel < 0 ? 32 : Math.max(0, Math.min(127, choLevel + d)); sendChorus(); }
function adjChorusDepth(d) { choDepth = d === 0 ? -1 : choDepth < 0 ? 64 : Math.max(0, Math.min(127, choDepth + d)); sendChorus(); }
function importOldCfg() { pagePost('IMPORT_OLDCFG'); }
function importQuellorKeys() { pagePost('IMPORT_QUELLOR_KEYS'); }

// ---- Widgets and drawing ----

function optRadio(group, checked, onClk, label) {
  return '<label style="margin-right:12px; cursor:pointer;"><input type="radio" name="' + group + '"' + (checked ? ' checked' : '') +
         ' onclick="' + onClk + '"> ' + label + '</label>';
}
function optCheck(checked, onClk, label) {
  return '<label style="display:block; cursor:pointer;"><input type="checkbox"' + (checked ? ' checked' : '') + ' onclick="' + onClk + '"> ' + label + '</label>';
}
function optModuleSelect(id, cur, port) {
  var h = '<select id="' + id + '" onchange="setModule(' + port + ', this.value)">';
  for (var i = 0; i < MODULE_LABELS.length; i++) {
    h += '<option' + (MODULE_LABELS[i] === cur ? ' selected' : '') + '>' + MODULE_LABELS[i] + '</option>';
  }
  return h + '</select>';
}
function spButton(label, onClk, active, disabled) {
  return '<button onclick="' + onClk + '"' + (disabled ? ' disabled' : '') + ' style="margin:2px; padding:3px 9px; border:1px solid #555; border-radius:5px; cursor:pointer; color:#fff; background:' +
         (active ? '#e67e22' : '#3a3f45') + ';">' + label + '</button>';
}
function spRow(label, note, body) {
  return '<div class="sp-row" style="margin:0 0 12px;"><div style="font-weight:bold; color:#ffd479;">' + label +
         (note ? ' <span style="font-weight:normal; color:#8b9099; font-size:12px;">' + note + '</span>' : '') + '</div><div>' + body + '</div></div>';
}
function spStepper(dec, value, inc, extra) {
  return spButton(dec[0], dec[1]) + ' <b style="display:inline-block; min-width:60px; text-align:center;">' + value + '</b> ' + spButton(inc[0], inc[1]) + (extra || '');
}
function spSigned(v) { return (v > 0 ? '+' : '') + v; }
function spDefaultOr(v) { return v < 0 ? '모듈 기본' : String(v); }

function lyricFontSelect() {
  var cur = typeof lyricFontName !== 'undefined' ? lyricFontName : '';
  var h = '<select onchange="setLyricFont(this.value)"><option value=""' + (cur === '' ? ' selected' : '') + '>(기본 글꼴)</option>';
  for (var i = 0; i < LYRIC_FONTS.length; i++) {
    var f = LYRIC_FONTS[i];
    h += '<option value="' + htmlEsc(f) + '"' + (cur === f ? ' selected' : '') + ' style="font-family:\'' + htmlEsc(f) + '\'">' + htmlEsc(f) + '</option>';
  }
  var customFontList = spVal('customFontList', []);
  for (var j = 0; j < customFontList.length; j++) {
    var v = 'file:' + customFontList[j];
    h += '<option value="' + htmlEsc(v) + '"' + (cur === v ? ' selected' : '') + '>📁 ' + htmlEsc(customFontList[j]) + '</option>';
  }
  return h + '</select>';
}

function spColumnDisplay() {
  var h = '';
  h += spRow('메인 상단 이미지', '', '<input type="text" readonly placeholder="(지정 안 됨)" value="' + htmlEsc(String(spVal('headerBgName', '') || '').replace(/'/g, '')) + '"> ' + spButton('📁 찾아보기', "pagePost('PICK_HEADER_IMAGE')"));
  h += spRow('바탕 이미지', '', '<input type="text" readonly placeholder="(지정 안 됨)" value="' + htmlEsc(String(spVal('mainBgName', '') || '').replace(/'/g, '')) + '"> ' + spButton('📁 찾아보기', "pagePost('PICK_MAIN_IMAGE')"));
  h += spRow('큰가사 바탕 이미지', '(랜덤: ' + rootPathHtml('images/random') + ' 폴더 · 절마다 변경)',
             optRadio('sp-bgr', !spVal('bgRandomOn', 0), "spOwned('setBgRandom',0)", '단일 지정') +
             optRadio('sp-bgr', !!spVal('bgRandomOn', 0), "spOwned('setBgRandom',1)", '랜덤(절마다 변경)'));
  h += spRow('큰가사 글꼴', '', lyricFontSelect() + '<div style="font-size:12px; color:#8b9099;">' + rootPathHtml('fonts') + ' 폴더에 글꼴 파일(.ttf/.otf 등)을 넣으면 목록에 함께 보입니다(설치 불필요)</div>');
  h += spRow('큰가사 크기', '(50~200% · 기본 100%)', spStepper(['◀', 'adjLyricFontScale(-5)'], lyricFontScale + '%', ['▶', 'adjLyricFontScale(5)'], spButton('기본', 'setLyricFontScale(100)')));
  h += spRow('큰가사 색', '(부른 가사 = 흰 테두리 · 안 부른 가사 = 검정 테두리 고정)',
             '부른 가사 <input type="color" value="' + htmlEsc(lyricSungColor) + '" onchange="setLyricSungColor(this.value); spRefresh();"> ' + htmlEsc(lyricSungColor) + ' ' + spButton('기본', "setLyricSungColor('#ff2000'); spRefresh();") +
             '<br>안 부른 가사 <input type="color" value="' + htmlEsc(lyricWaitColor) + '" onchange="setLyricWaitColor(this.value); spRefresh();"> ' + htmlEsc(lyricWaitColor) + ' ' + spButton('기본', "setLyricWaitColor('#ffcc00'); spRefresh();"));
  h += spRow('음성 출력', '', optRadio('sp-out', outputMode === 2, "spOwned('setOutput',2)", '2 OUT') +
             optRadio('sp-out', outputMode === 4, "spOwned('setOutput',4)", '4 OUT'));
  var ak = '';
  for (var i = 0; i < 3; i++) ak += optRadio('sp-ak', autoKeyMode === i, 'setAutoKey(' + i + ')', AUTOKEY_LABELS[i]);
  h += spRow('곡 시작 자동 키', '', ak);
  h += spRow('음원 선택', '(내장음원: ' + rootPathHtml('synth') + ' 폴더에 .sf2 필요 · 정지 상태에서 즉시 전환)',
             optRadio('sp-syn', !builtinSynthOn, "spOwned('setBuiltinSynth',0)", '외부 음원(8850 등)') +
             optRadio('sp-syn', !!builtinSynthOn, "spOwned('setBuiltinSynth',1)", '내장음원'));
  h += spRow('실행 화면', '(차크=전체화면, 해제=창모드 · F11로도 전환)', optCheck(startFullscreen, 'setStartFullscreen(this.checked)', '실행 시 전체화면으로 시작'));
  h += spRow('숫자패드 (NumLock)', '노트북은 숫자키가 글자키와 겹쳐 꺼야 하고, 데스크톱은 곡번호 입력을 위해 켜 둡니다',
             optRadio('sp-nl', numLockOffOpt === 0, 'setNumLockOff(0)', '건드리지 않음') + optRadio('sp-nl', numLockOffOpt === 1, 'setNumLockOff(1)', '자동 - 노트북만 끔 (기본)') +
             optRadio('sp-nl', numLockOffOpt === 2, 'setNumLockOff(2)', '항상 끔'));
  h += spRow('화면 악보', '', optCheck(window.showBasicSheet !== false, "spSheetToggle('basic')", '기본 악보') + optCheck(!!window.drumSheetOn, "spSheetToggle('drum')", '드럼 악보 (F8)'));
  h += spRow('악보 위치 조정', '(▲ 위로 / ▼ 아래로, px · 곡이 떠 있으면 즉시 반영)',
             '기타코드 ' + spStepper(['▲', 'spChordY(-2)'], spSigned(chordYAdj) + 'px', ['▼', 'spChordY(2)'], spButton('0', 'spChordY(0)')) +
             '<br>점프마크 ' + spStepper(['▲', 'spJumpMarkY(-2)'], spSigned(jumpMarkYAdj) + 'px', ['▼', 'spJumpMarkY(2)'], spButton('0', 'spJumpMarkY(0)')));
  // The score text steppers and preview are the score panels' own (scTextAdj, scTextReset).
  var textRow = function (which, label, st) {
    var step = function (key, d, text) { return spButton(text, "scTextAdj('" + which + "','" + key + "'," + d + ")"); };
    return label + ' 크기 ' + step('size', -10, '-') + ' <b>' + st.size + '%</b> ' + step('size', 10, '+') + ' 색 ' + step('colour', 1, '▶') +
           ' 두께 ' + step('weight', 1, '▶') + ' 테두리 ' + step('outline', 1, '▶');
  };
  h += spRow('악보 글자', '(크기 · 색 · 두께 · 테두리 · 바꾸면 바로 반영)',
             textRow('lyr', '악보 사이 가사', scLyr) + '<br>' + textRow('chd', '기타코드', scChd) +
             '<div style="background:#fff; color:#000; padding:6px; margin-top:4px;"><span style="' + scTextPreviewCss(scChd, 16) + '">Am7</span> 미리보기 ' +
             '<span style="' + scTextPreviewCss(scLyr, 16) + '">가사 예시</span></div>' + spButton('기본값으로', 'scTextReset()'));
  return h;
}

function spColumnSound() {
  var h = '';
  var q = '<select onchange="setQFx(this.value)">';
  for (var i = 0; i < Q_FX_LIST.length; i++) q += '<option value="' + Q_FX_LIST[i][0] + '"' + (Q_FX_LIST[i][0] === qFxNote ? ' selected' : '') + '>' + Q_FX_LIST[i][1] + '</option>';
  h += spRow('Q 효과음', '', q + '</select> ' + spButton('듣기', 'testQFx()') + '<div style="font-size:12px; color:#8b9099;">원곡·CVT 연주 중 Q 를 누르면 납니다. A/S/D/F 는 필인 F1~F4</div>');
  h += spRow('음정 조정값 유지', '', spButton('유지', 'setKeepAdjust(1)', keepAdjust === 1) + spButton('초기화', 'setKeepAdjust(0)', keepAdjust !== 1));
  h += spRow('리버브 (음원 전체 잔향)', '(공장값 0~127 · 재생 중 즉시 적용)',
             spStepper(['◀', 'adjReverbLv(-4)'], reverbLv < 0 ? '곡 원본' : reverbLv, ['▶', 'adjReverbLv(4)'], spButton('곡 원본로', 'resetReverbLv()')) +
             '<div style="font-size:12px; color:#8b9099;">곡 원본 = 곡의 리버브를 건드리지 않음 · 바꾼 값은 곡을 다시 시작하면 정확히 맞습니다</div>');
  var shape = optCheck(shapeOn, 'setReverbShapeOn(this.checked)', '보정 켬');
  if (shapeOn) {
    shape += '종류 ' + spStepper(['◀', 'adjReverbMacro(-1)'], revMacro, ['▶', 'adjReverbMacro(1)'], spButton('기본값', 'adjReverbMacro(0)')) +
             '<br>잔향 길이 ' + spStepper(['◀', 'adjReverbTime(-4)'], revTime, ['▶', 'adjReverbTime(4)'], spButton('기본값', 'adjReverbTime(0)')) +
             '<br>고역 차단 ' + spStepper(['◀', 'adjReverbPreLpf(-1)'], revPreLpf, ['▶', 'adjReverbPreLpf(1)'], spButton('기본값', 'adjReverbPreLpf(0)'));
  }
  h += spRow('리버브 보정', '(끄면 곡 원본 그대로 · 재생 중 즉시 적용)', shape);
  h += spRow('모듈 설정', '', '1포트 ' + optModuleSelect('sp-mod1', port1Module, 1) + ' 2포트 ' + optModuleSelect('sp-mod2', port2Module, 2) +
             (midiStatusText ? '<div style="margin-top:4px; padding:4px 8px; border:1px solid #e74c3c; color:#ff6b6b;">⚠ ' + htmlEsc(midiStatusText) + '</div>' : ''));
  h += spRow('', '', optCheck(spVal('rawSound', 0), "spOwned('setRawSound',this.checked?1:0)", '생소리 – 앱 이펙트/음색 보정 전부 끔 (진단용)') +
             '<div style="font-size:12px; color:#8b9099;">곡 파일의 SysEx 만 모듈로 갑니다 · 볼륨과 키/템포는 평소대로</div>');
  h += spRow('', '', optCheck(moduleTonePreset, 'setModuleTone(this.checked)', '모듈 음색 보정 (리버브·코러스)') +
             optCheck(use8850NativeMap, 'setNativeMap(this.checked)', 'SC-8850 네이티브 음색 (8850에서만)') +
             optCheck(spVal('ccDedupOn', 0), "spOwned('setCcDedup',this.checked?1:0)", '중복 CC 걸러내기 (실물 모듈 드림 방지)') +
             optCheck(saxExpr, 'setSaxExpr(this.checked)', '멜로디 연주 표현 (색소폰처럼)'));
  if (saxExpr) {
    var sx = '멜로디 강조 ' + spStepper(['◀', 'adjSaxBoost(-20)'], saxBoost + '%', ['▶', 'adjSaxBoost(20)'],
             spButton('기본 100', 'adjSaxBoost(100 - saxBoost)') + spButton('강하게 220', 'adjSaxBoost(220 - saxBoost)')) +
             optCheck(saxBend, 'setSaxBend(this.checked)', '꺾기·슬라이드 (트로트 언더벤딩)') +
             optCheck(saxBreath, 'setSaxBreath(this.checked)', '호흡 표현 (롬톤 크레센도)') +
             '텀잉(음 길이) ' + spStepper(['◀', 'adjSaxGate(-2)'], saxGate + '%', ['▶', 'adjSaxGate(2)'],
             spButton('기본 100', 'adjSaxGate(100 - saxGate)') + spButton('끊어치기 88', 'adjSaxGate(88 - saxGate)')) +
             optCheck(saxInsFx, 'setSaxInsFx(this.checked)', '멜로디에 솔로 이펙트 (EFX 경로)');
    if (saxInsFx) sx += '솔로 레벨 ' + spStepper(['◀', 'adjSaxInsLv(-5)'], saxInsLv, ['▶', 'adjSaxInsLv(5)'], spButton('기본 110', 'adjSaxInsLv(110 - saxInsLv)'));
    h += spRow('멜로디 연주 표현', '', sx);
  }
  if (moduleTonePreset) {
    h += spRow('코러스', '', '코러스 종류 ' + spStepper(['◀', 'adjChorusMacro(-1)'], spDefaultOr(choMacro), ['▶', 'adjChorusMacro(1)'], spButton('기본값', 'adjChorusMacro(0)')) +
               '<br>코러스 레벨 ' + spStepper(['◀', 'adjChorusLevel(-4)'], spDefaultOr(choLevel), ['▶', 'adjChorusLevel(4)'], spButton('기본값', 'adjChorusLevel(0)')) +
               '<br>코러스 뎁스 ' + spStepper(['◀', 'adjChorusDepth(-4)'], spDefaultOr(choDepth), ['▶', 'adjChorusDepth(4)'], spButton('기본값', 'adjChorusDepth(0)')));
  }
  var cards = '';
  for (var n = 1; n <= 6; n++) {
    var has = presetHasData(n);
    var when = has ? htmlEsc(presetSavedText(n)).replace(' ', '<br>') : '비어<br>있음';
    cards += '<div style="display:inline-block; width:31%; margin:1%; padding:4px; box-sizing:border-box; text-align:center; border:2px solid ' + (n === 1 ? '#f39c12' : '#555') + '; border-radius:8px;">' +
             '<div style="font-weight:bold;">' + (n === 1 ? '1 기본' : n) + '</div><div style="font-size:12px; color:#bbb;">' + when + '</div>' +
             spButton('불러오기', 'presetLoad(' + n + ')', false, !has) + '</div>';
  }
  h += spRow('설정 프리셋', '', cards);
  h += spRow('구프로그램 설정 가져오기', '', '<div style="font-size:12px; color:#bbb;">전에 쓰던 반주기 프로그램의 설정 파일(예: Quellor02.CFG)에서 우리에 있는 항목만 골라 적용합니다.</div>' +
             '<div style="font-size:12px; color:#8b9099;">F4 볼륨 · F5 원곡드럼 · ALT+F5 CVT드럼 · ALT+F4 음색 · CTRL+E EQ · 자동 키 · 모듈 · 2/4 OUT</div>' +
             spButton('설정 파일 고르기…', 'importOldCfg()'));
  h += spRow('옛 Quellor 남/여 키 가져오기', '', '<div style="font-size:12px; color:#bbb;">옛 반주기의 USERKEY.CFG 에서 곡별 남/여 키를 가져옵니다.<br>옛 PC 백업·외장하드·USB 어디에 있어도 파일만 고르면 됩니다.<br>이미 저장된 곡의 키는 덮어쓰지 않고 그대로 둡니다.</div>' +
             spButton('남/여 키 파일 고르기…', 'importQuellorKeys()'));
  return h;
}

function spColumnSystem() {
  var h = '';
  // the setting (자동 included) is highlighted; the line below says what is in force now
  var liteSetting = spVal('liteSet', -1);
  var liteBtn = function (label, v) { return spButton(label, "spOwned('setLiteMode2'," + v + ")", liteSetting === v); };
  h += spRow('성능 모드', '', liteBtn('자동', -1) + liteBtn('저사양', 1) + liteBtn('고사양', 0) +
             '<div class="sp-lite-now">지금 : ' + (spVal('liteMode', 0) === 1 ? '저사양' : '고사양') + '</div><div style="font-size:12px; color:#8b9099;">저사양 = 배경영상 · 손님악보 · 바탕그림 · 진행바를 끄고 반주와 가사만</div>');
  var avState = spVal('avState', 0);
  var avCol = avState === 2 || avState === 3 ? '#2ecc71' : avState === 1 ? '#e67e22' : '#8b9099';
  h += spRow('백신 검사 제외', '', spButton('제외 등록', "pagePost('SET_AV_EXCLUDE:1')") + spButton('해제', "pagePost('SET_AV_EXCLUDE:0')") + spButton('확인', "pagePost('CHECK_AV')") +
             '<div style="color:' + avCol + ';">' + htmlEsc(spVal('avDetail', '') || '아직 확인 안 함') + '</div><div style="font-size:12px; color:#8b9099;">설치 폴더를 검사에서 빼면 곡 읽기가 빨라집니다 (관리자 동의 필요)</div>');
  h += spRow('손님 화면', '(배경+큰가사 70% / 아래 악보 30%)', spCustomerRows());
  h += spRow('목록에 없는 곡 반영', '', spButton('지금 반영', "pagePost('SYNC_MISSING_SONGS')") +
             spHint('song 폴더에 있는데 목록에 없는 곡을 찾아 목록에 넣습니다. 연주 중에는 누르지 마세요.'));
  h += spRow('팝송 한글 검색', '', spButton('다시 만들기', "pagePost('REBUILD_POPKO')") +
             spHint('팝송을 한글 발음으로 찾는 색인을 처음부터 다시 만듭니다. 연주 중에는 누르지 마세요.'));
  return h;
}

function spHint(text) { return '<div class="sp-hint" style="font-size:12px; color:#8b9099;">' + htmlEsc(text) + '</div>'; }
// A call of fn with one text argument, for an onclick attribute.
function spCallText(fn, text) { return htmlEsc(fn + '(' + JSON.stringify(String(text)) + ')'); }

// The customer window's rows: its monitors, the sizes of its page, its background video and
// where the video comes from, the PC score and the graphics acceleration.
function spCustomerRows() {
  var cur = spVal('customerMonitor', 0), main = spVal('mainMonitor', 0);
  var h = spButton('사용 안 함', "spOwned('setCustomerMonitor',0)", cur === 0);
  var list = spVal('monitorList', []);
  for (var i = 0; i < list.length; i++) {
    var m = list[i];
    if (!Array.isArray(m)) continue;
    var n = m[0] | 0;
    h += spButton(n + '번 (' + (m[1] | 0) + 'x' + (m[2] | 0) + (m[3] ? ' · 주' : '') + (n === main ? ' · 메인' : '') + ')',
                  "spOwned('setCustomerMonitor'," + n + ")", cur === n, n === main);
  }
  h += spButton('목록 다시 읽기', "pagePost('REFRESH_MONITORS')");
  // steppers with their presets: [label, function, variable, step, [[preset label, value], ...]]
  var steppers = [['밝기', 'adjCustomerBright', 'customerBright', 10, [['기본', 100]]],
                  ['가사 칸', 'adjCwLyricsPct', 'cwLyricsPct', 2, [['기본 53', 53], ['메인과 같이 42', 42]]],
                  ['악보 크기', 'adjCwScoreFill', 'cwScoreFillPct', 5, [['기본 100', 100], ['메인 느낌 120', 120]]]];
  for (var j = 0; j < steppers.length; j++) {
    var st = steppers[j], value = +spVal(st[2], 0);
    var presets = st[4].map(function (p) { return spButton(p[0], st[1] + '(' + (p[1] - value) + ')', value === p[1]); }).join('');
    h += '<br>' + st[0] + ' ' + spStepper(['◀', st[1] + '(-' + st[3] + ')'], value, ['▶', st[1] + '(' + st[3] + ')'], presets);
  }
  var videoOn = !!+spVal('cvVideoOn', 0), count = +spVal('cvVideoCount', 0);
  h += '<br>배경 동영상 ' + spButton('켬', 'setCustomerVideo(1)', videoOn) + spButton('끔', 'setCustomerVideo(0)', !videoOn) +
       '<span class="sp-video-state" style="margin-left:6px; color:#8b9099;">' +
       (count > 0 ? htmlEsc(spVal('cvVideoName', '')) + ' (동영상 ' + count + '개)' : 'video 폴더에 동영상이 없습니다') + '</span>';
  var src = spVal('cvVideoSrc', 0) === 1 ? 1 : 0;
  h += '<br>배경 출처 ' + spButton('동영상 파일', 'setCustomerVideoSrc(0)', src === 0) + spButton('외부 입력(카메라·DVD)', 'setCustomerVideoSrc(1)', src === 1);
  if (src === 1) {
    var label = spVal('cvCamLabel', ''), cams = spVal('cvCamList', []);
    h += '<br>' + spButton('자동(첫 장치)', spCallText('setCustomerCam', ''), label === '');
    for (var c = 0; c < cams.length; c++) h += spButton(htmlEsc(cams[c]), spCallText('setCustomerCam', cams[c]), label === cams[c]);
    h += spButton('장치 목록 다시 읽기', "pagePost('REFRESH_CAMS')");
  }
  var score = spVal('cvPcScore', -1);
  h += '<br><span class="sp-pc-score">' + (score < 0 ? 'PC 점수 : 아직 ALT+F12 진단 전'
    : 'PC 점수 : ' + score + '점' + (spVal('cvPcMeasured', 0) ? ' (ALT+F12 실측)' : ' (추정)') + (spVal('cvPcWeak', 0) ? ' · 저사양 PC' : '')) + '</span>';
  var gpu = spVal('cvGpuForce', -1);
  h += '<br>그래픽 가속 ' + spButton('자동', 'setGpuForce(-1)', gpu === -1) + spButton('켬', 'setGpuForce(1)', gpu === 1) +
       spButton('끔', 'setGpuForce(0)', gpu === 0) + ' <span class="sp-gpu-now">' + (spVal('cvGpuActive', 0) ? '지금 켜짐' : '지금 꺼짐') + '</span>';
  return h;
}

function renderSettingsPanel() {
  var el = pageEl('settings-overlay');
  if (!el) return;
  var col = function (html) { return '<div style="flex:1 1 300px; min-width:280px; padding:0 10px;">' + html + '</div>'; };
  el.style.background = 'rgba(0,0,0,0.6)';
  el.innerHTML =
    '<div style="position:absolute; inset:3% 4%; display:flex; flex-direction:column; background:#1f2328; color:#eee; border:2px solid #f39c12; border-radius:12px; font-size:14px;">' +
    '<div style="display:flex; align-items:center; padding:10px 16px; border-bottom:1px solid #444;"><b style="font-size:20px;">⚙ 옵션 (ALT+0)</b>' +
    '<span style="margin-left:16px; color:#8b9099;">←→ 항목 · ↑↓ 값 · Enter 실행 · Esc 닫기</span>' +
    '<span onclick="closeSettingsPanel()" style="margin-left:auto; cursor:pointer; font-size:22px;">✕</span></div>' +
    '<div id="settings-body" style="flex:1; overflow:auto; padding:12px 6px;"><div style="display:flex; flex-wrap:wrap;">' +
    col(spColumnDisplay()) + col(spColumnSound()) + col(spColumnSystem()) + '</div></div>' +
    '<div id="settings-footer" style="padding:8px 16px; border-top:1px solid #444; text-align:right;">' +
    spButton('현재설정 저장', 'presetSaveHist()') + spButton('기본(1번)으로 저장 (S)', 'presetSaveBase()') + spButton('닫기 (ESC)', 'closeSettingsPanel()') + '</div></div>';
  if (setBoxId === 'settings-overlay') setHilite();
}

function openSettingsPanel() {
  settingsPanelOpen = true;
  setBoxId = 'settings-overlay';
  setSelIdx = 0;
  pagePost('PRESET_INFO');
  pagePost('LIST_FONTS');
  pagePost('MIDI_STATUS');
  renderSettingsPanel();
  var el = pageEl('settings-overlay');
  if (el) el.style.display = 'block';
  setHilite();
}
function closeSettingsPanel() {
  settingsPanelOpen = false;
  var el = pageEl('settings-overlay');
  if (el) el.style.display = 'none';
}

// ---- List navigation ----

function setItems() {
  var box = pageEl(setBoxId);
  if (!box) return [];
  var all = box.querySelectorAll('button, select, input, [onclick]');
  var out = [];
  for (var i = 0; i < all.length; i++) {
    var el = all[i];
    if (el.disabled || (el.tagName === 'INPUT' && el.type === 'hidden')) continue;
    if (el.tagName === 'LABEL') continue;  // its input is in the list itself
    if (!el.getClientRects().length) continue;
    out.push(el);
  }
  return out;
}
function setHilite() {
  var items = setItems();
  setSelIdx = Math.max(0, Math.min(items.length - 1, setSelIdx));
  for (var i = 0; i < items.length; i++) {
    items[i].style.outline = i === setSelIdx ? '3px solid #f1c40f' : '';
    items[i].style.outlineOffset = i === setSelIdx ? '2px' : '';
  }
  var cur = items[setSelIdx];
  if (cur && cur.scrollIntoView) cur.scrollIntoView({ block: 'nearest', inline: 'nearest' });
}
function setMove(d) {
  var n = setItems().length;
  setSelIdx = Math.max(0, Math.min(n - 1, setSelIdx + d));
  setHilite();
}
function setCurrent() {
  return setItems()[setSelIdx] || null;
}
function setFire() {
  var el = setCurrent();
  if (!el || el.tagName === 'SELECT') return;
  if (el.tagName === 'INPUT' && (el.type === 'text' || el.type === 'search' || el.type === 'number')) {
    el.focus();
    el.select();
    return;
  }
  el.click();
}
function setFireChange(el) {
  try {
    el.dispatchEvent(new Event('change', { bubbles: true }));
  } catch (e) {
    if (el.onchange) el.onchange();
  }
}
function setAdjust(d) {
  var el = setCurrent();
  if (!el) return;
  if (el.tagName === 'SELECT') {
    var i = Math.max(0, Math.min(el.options.length - 1, el.selectedIndex + d));
    if (i !== el.selectedIndex) { el.selectedIndex = i; setFireChange(el); }
  } else if (el.tagName === 'INPUT' && (el.type === 'number' || el.type === 'range')) {
    var step = parseFloat(el.step) || 1;
    var v = (parseFloat(el.value) || 0) + d * step;
    if (el.min !== '') v = Math.max(parseFloat(el.min), v);
    if (el.max !== '') v = Math.min(parseFloat(el.max), v);
    el.value = v;
    setFireChange(el);
  } else if (el.tagName === 'INPUT' && (el.type === 'checkbox' || el.type === 'radio')) {
    el.click();
  }
}

// The settings block of the key listener.
function settingsPanelKey(e) {
  var k = e.key;
  var a = document.activeElement;
  if (a && (a.tagName === 'INPUT' && (a.type === 'text' || a.type === 'search' || a.type === 'number')) && (k === 'Enter' || k === 'Escape')) {
    a.blur();
    e.preventDefault();
    return;
  }
  if (k === 'Escape') { closeSettingsPanel(); e.preventDefault(); return; }
  if (ovKeyPass(e)) return;
  if (k === 's' || k === 'S' || e.code === 'KeyS') presetSaveBase();
  else if (k === 'ArrowLeft') setMove(-1);
  else if (k === 'ArrowRight') setMove(1);
  else if (k === 'ArrowUp') setAdjust(1);
  else if (k === 'ArrowDown') setAdjust(-1);
  else if (k === 'PageUp') setMove(-10);
  else if (k === 'PageDown') setMove(10);
  else if (k === 'Home') { setSelIdx = 0; setHilite(); }
  else if (k === 'End') { setSelIdx = setItems().length - 1; setHilite(); }
  else if (k === 'Enter' || k === ' ') setFire();
  e.preventDefault();
}

// ---- The older program's import report ----

function showImportReport(ok, html) {
  var el = pageEl('oldcfg-overlay');
  if (!el) {
    el = document.createElement('div');
    el.id = 'oldcfg-overlay';
    el.style.cssText = 'display:none; position:fixed; inset:0; z-index:9000; background:rgba(0,0,0,0.6); align-items:center; justify-content:center;';
    el.innerHTML = '<div style="width:680px; max-width:92%; background:#1f2328; color:#eee; border:2px solid #f39c12; border-radius:12px; padding:18px 22px;">' +
                   '<div id="oldcfg-title" style="font-size:20px; font-weight:bold; margin-bottom:10px;"></div>' +
                   '<div id="oldcfg-body" style="max-height:52vh; overflow:auto; line-height:1.6;"></div>' +
                   '<div style="text-align:center; margin-top:14px;"><button onclick="importReportClose()" style="padding:8px 18px; font-weight:bold;">확인 (Enter / Esc)</button></div></div>';
    document.body.appendChild(el);
  }
  var title = pageEl('oldcfg-title');
  title.textContent = ok ? '구프로그램 설정을 가져왔습니다' : '가져오지 못했습니다';
  title.style.color = ok ? '#2ecc71' : '#e74c3c';
  pageEl('oldcfg-body').innerHTML = html;
  el.style.display = 'flex';
  if (oldCfgKeyFn) document.removeEventListener('keydown', oldCfgKeyFn, true);
  oldCfgKeyFn = function (e) {
    if (e.key === 'Enter' || e.key === 'Escape') {
      e.stopPropagation();
      e.preventDefault();
      importReportClose();
    }
  };
  document.addEventListener('keydown', oldCfgKeyFn, true);
}
function importReportClose() {
  var el = pageEl('oldcfg-overlay');
  if (el) el.style.display = 'none';
  if (oldCfgKeyFn) document.removeEventListener('keydown', oldCfgKeyFn, true);
  oldCfgKeyFn = null;
  spRefresh();
}
