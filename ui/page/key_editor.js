// ---- Singer key editor (ALT+K) ----
// The loaded song's male and female keys: shown as semitone offsets from the original key, changed
// with the arrow keys and saved as the song's override ("SET_USERKEY:"). The program marks the
// songs with overrides through initUserKeys; the older program's key file is imported from here.

var userKeyIds = {};
var keyEditorOpen = false;
var keyEditSel = 0;

function initUserKeys(arr) {
  userKeyIds = {};
  if (Array.isArray(arr)) for (var i = 0; i < arr.length; i++) userKeyIds[arr[i]] = 1;
}
function setCurSongKeys(id, m, f) {
  curKeySongId = id || 0;
  curKeyMale = m || 0;
  curKeyFemale = f || 0;
  if (keyEditorOpen) renderKeyEditor();
}

function fmtSemi(v) {
  return (v > 0 ? '+' + v : String(v)) + '반음';
}
function keyCodeName(off) {
  var names = typeof KEYSIG_NAMES !== 'undefined' ? KEYSIG_NAMES : KEY_LETTER_NAMES;
  return names[((origKeyRootPc + off) % 12 + 12) % 12] + (origKeyIsMinor ? 'm' : '');
}

function keyEditorDom() {
  var el = pageEl('keyedit-overlay');
  if (el && !pageEl('keyedit-body')) {
    el.style.background = 'rgba(0,0,0,0.55)';
    el.style.alignItems = 'center';
    el.style.justifyContent = 'center';
    el.innerHTML = '<div style="width:420px; background:#1f2328; color:#eee; border:2px solid #f39c12; border-radius:12px; padding:16px 20px; font-size:18px;">' +
      '<div style="display:flex; align-items:center; margin-bottom:10px;"><b id="keyedit-title"></b>' +
      '<span onclick="closeKeyEditor()" style="margin-left:auto; cursor:pointer;">✕</span></div>' +
      '<div id="keyedit-body"></div>' +
      '<div style="margin-top:10px; font-size:13px; color:#8b9099;">↑↓ 남/여 선택 · ←→ 반음 조절 · Enter 저장 · Esc 닫기</div>' +
      '<div style="margin-top:12px; text-align:center;"><button onclick="keyEditorSave()" style="padding:6px 16px; margin:4px;">저장</button>' +
      '<button onclick="keyEditorImport()" style="padding:6px 16px; margin:4px;">옛 Quellor 키 불러오기</button></div></div>';
  }
  return el;
}

function renderKeyEditor() {
  if (!keyEditorDom()) return;
  var row = function (i, label, v) {
    var sel = keyEditSel === i;
    return '<div class="keyedit-row" style="padding:6px 10px; border-radius:6px;' + (sel ? ' background:#ff6fa8; color:#000; font-weight:bold;' : '') + '">' +
           label + fmtSemi(v) + ' → ' + keyCodeName(v) + '</div>';
  };
  pageEl('keyedit-body').innerHTML = '<div style="padding:6px 10px;">원키 : ' + keyCodeName(0) + '</div>' +
    row(0, '남자키 : ', curKeyMale) + row(1, '여자키 : ', curKeyFemale);
  pageEl('keyedit-title').innerHTML = '🎹 남/여 키 설정 (ALT+K)' + (userKeyIds[curKeySongId] ? ' <span style="color:#ff6fa8;">(저장됨)</span>' : '');
}
function openKeyEditor() {
  if (!songLoaded) {
    alert('곡을 먼저 선택해주세요.');
    return;
  }
  keyEditorOpen = true;
  keyEditSel = 0;
  renderKeyEditor();
  pageEl('keyedit-overlay').style.display = 'flex';
}
function closeKeyEditor() {
  keyEditorOpen = false;
  var el = pageEl('keyedit-overlay');
  if (el) el.style.display = 'none';
}
function keyEditorAdjust(d) {
  if (keyEditSel === 0) curKeyMale = Math.max(-12, Math.min(12, curKeyMale + d));
  else curKeyFemale = Math.max(-12, Math.min(12, curKeyFemale + d));
  renderKeyEditor();
}
function keyEditorSave() {
  if (curKeySongId) {
    pagePost('SET_USERKEY:' + curKeySongId + ',' + curKeyMale + ',' + curKeyFemale);
    userKeyIds[curKeySongId] = 1;
  }
  closeKeyEditor();
}
function keyEditorImport() { pagePost('IMPORT_QUELLOR_KEYS'); }
function userKeyImportDone(n, skip) {
  var msg = n + '곡의 남/여 키를 불러왔습니다.';
  if (skip > 0) msg += '\n\n이미 저장된 곡 ' + skip + '곳은 그대로 남겨두었습니다.';
  if (!n && !skip) msg = '이 파일에는 저장된 남/여 키가 없습니다.';
  alert(msg);
  closeKeyEditor();
}

// The key-editor block of the key listener: every key stops here.
function keyEditorKey(e) {
  var k = e.key;
  if (k === 'Escape') closeKeyEditor();
  else if (k === 'Enter') keyEditorSave();
  else if (k === 'ArrowUp' || k === 'ArrowDown') { keyEditSel = keyEditSel ? 0 : 1; renderKeyEditor(); }
  else if (k === 'ArrowLeft') keyEditorAdjust(-1);
  else if (k === 'ArrowRight') keyEditorAdjust(1);
  e.preventDefault();
}
