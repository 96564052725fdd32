// ---- Rhythm-pattern editor (ALT+7) ----
// A grid of sixteenth notes per bar for the drum, percussion and bass rows of one pattern of a
// rhythm style. Edits stay in the page until saved; the program gets only the changed rows
// ("RED_" commands). Style names and every other text go into the panel as text, never as markup.

var redOpen = false;
var redStyle = 'DS1';
var redGrid = [];      // one entry per pattern of setRedData
var redStyles = [];    // {k, st, ok}
var redPat = 0, redBar = 0, redRow = 0, redStep = 0;
var redMsg = '';
var redBusy = false, redPlaying = false;
var redLastSound = {};  // row -> note
var redMute = {};       // row -> true
var redBpm = 120;
var redSwitchGuard = 0;     // style number waiting for its second press
var redCloseGuard = false;  // a close waiting for its second request

var RED_ROW_LABEL = { 9: '큰북', 10: '스네어', 11: '하이햇', 12: '퍼커션', 13: '톰', 14: '돔돔', 8: '베이스기타' };
var RED_PAT_KEYS = ['0', '0', 'A', 'S', 'D', 'F'];
var RED_DRUM_NAMES = {
  35: '큰북', 36: '큰북2', 37: '림샷', 38: '스네어', 39: '박수', 40: '스네어2', 41: '라지돔2', 42: '하이햇',
  43: '라지돔1', 44: '페달햇', 45: '돔4', 46: '오픈햇', 47: '돔3', 48: '돔2', 49: '크래시', 50: '돔1',
  51: '라이드', 52: '차이나', 53: '라이드벨', 54: '탬버린', 55: '스플래시', 56: '카우벨', 57: '크래시2',
  58: '비브라슬랩', 59: '라이드2', 65: '팀발레H', 66: '팀발레L', 69: '카바사', 70: '마라카스', 75: '클라베',
  76: '우드블록'
};
var RED_NOTE_NAMES = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

function redSend(cmd) { pagePost(cmd); }

function redLabel(row) { return RED_ROW_LABEL[row] || ('ch' + row); }

// Rows 8, 13 and 14 show note names (60 = "C4"); the drum rows their instrument names.
function redSoundName(row, note) {
  if (row === 8 || row === 13 || row === 14) return RED_NOTE_NAMES[note % 12] + (Math.floor(note / 12) - 1);
  return RED_DRUM_NAMES[note] || ('노트' + note);
}

function redNum(v, fallback) { return typeof v === 'number' && isFinite(v) ? v : fallback; }
function redList(v) { return Array.isArray(v) ? v : []; }

function redRowEntry(r) {
  var map = {};
  var sum = 0, count = 0;
  redList(r && r.n).forEach(function (h) {
    if (!Array.isArray(h) || h.length < 4) return;
    map[h[0]] = { p: h[1], v: h[2], d: h[3] };
    sum += h[2];
    count++;
  });
  return {
    ch: redNum(r && r.ch, 0), prog: redNum(r && r.prog, -1), mine: redNum(r && r.mine, 0), dd: redNum(r && r.dd, 15),
    pal: redList(r && r.pal), own: redList(r && r.own), off: redNum(r && r.off, 0),
    dv: count ? Math.round(sum / count) : 100, map: map, dirty: false
  };
}

function setRedData(style, patterns, styles) {
  redStyle = String(style == null ? '' : style);
  redStyles = redList(styles);
  redGrid = redList(patterns).map(function (p) {
    return { pat: String(p && p.pat || ''), ok: p && p.ok ? 1 : 0, bars: redNum(p && p.bars, 1) || 1,
             tpq: redNum(p && p.tpq, 120) || 120, rows: redList(p && p.rows).map(redRowEntry) };
  });
  if (!redGrid[redPat] || !redGrid[redPat].ok) redPat = 0;
  var g = redGrid[redPat];
  if (g && redBar >= g.bars) redBar = 0;
  if (g && redRow >= g.rows.length) redRow = 0;
  if (redOpen) renderRedEditor();
}

function setRedResult(ok, text) {
  redBusy = false;
  redPlaying = false;
  redMsg = (ok ? '✔ ' : '⚠ ') + String(text == null ? '' : text);
  if (redOpen) renderRedEditor();
}

function redPreviewDone() {
  redBusy = false;
  redPlaying = false;
  redMsg = '';
  if (redOpen) renderRedEditor();
}

function redPattern() { return redGrid[redPat] || null; }
function redRowNow() { var g = redPattern(); return g ? g.rows[redRow] || null : null; }
function redCell() { return redBar * 16 + redStep; }
function redDirty(g) { return !!g && g.rows.some(function (r) { return r.dirty; }); }
function redAnyDirty() { return redGrid.some(redDirty); }

// "row=step.note.velocity.length|..." with the hits sorted by step.
function redRowField(row) {
  var steps = Object.keys(row.map).map(Number).sort(function (a, b) { return a - b; });
  return row.ch + '=' + steps.map(function (s) {
    var h = row.map[s];
    return s + '.' + h.p + '.' + h.v + '.' + h.d;
  }).join('|');
}
function redChangedFields(g) {
  return g ? g.rows.filter(function (r) { return r.dirty; }).map(redRowField) : [];
}

function redAudition(row, note, velocity) {
  if (!redMute[row.ch]) redSend('RED_HIT:' + redPat + '\t' + row.ch + '\t' + note + '\t' + velocity);
}

function redNoteFor(row) {
  var last = redLastSound[row.ch];
  return row.pal.indexOf(last) >= 0 ? last : row.pal[0];
}

function redToggleCell() {
  var row = redRowNow();
  if (!row) return;
  var s = redCell();
  if (row.map[s]) {
    delete row.map[s];
  } else {
    if (!row.pal.length) { redMsg = '⚠ ' + redLabel(row.ch) + ' 는 이 스타일에 쓰는 소리가 없어 놓을 수 없습니다'; return; }
    var note = redNoteFor(row);
    row.map[s] = { p: note, v: row.dv, d: row.dd };
    redAudition(row, note, row.dv);
  }
  row.dirty = true;
}

function redChangeVelocity(delta) {
  var row = redRowNow();
  var h = row && row.map[redCell()];
  if (!h) return;
  h.v = Math.max(1, Math.min(127, h.v + delta));
  row.dirty = true;
}

function redStepSound(delta) {
  var row = redRowNow();
  if (!row || !row.pal.length) return;
  var h = row.map[redCell()];
  var at = row.pal.indexOf(h ? h.p : redNoteFor(row));
  var note = row.pal[((at < 0 ? 0 : at + delta) % row.pal.length + row.pal.length) % row.pal.length];
  redLastSound[row.ch] = note;
  if (h) { h.p = note; row.dirty = true; }
  redAudition(row, note, h ? h.v : row.dv);
}

// A click on a palette sound: it goes on the cursor cell (a new hit when empty).
function redPickSound(note) {
  var row = redRowNow();
  if (!row) return;
  var s = redCell();
  redLastSound[row.ch] = note;
  if (row.map[s]) row.map[s].p = note;
  else row.map[s] = { p: note, v: row.dv, d: row.dd };
  row.dirty = true;
  redAudition(row, note, row.map[s].v);
}

function redRemoveHit() {
  var row = redRowNow();
  if (row && row.map[redCell()]) { delete row.map[redCell()]; row.dirty = true; }
}

function redClearRow(index) {
  var g = redPattern();
  var row = g && g.rows[index];
  if (!row) return;
  var n = Object.keys(row.map).length;
  if (!n) { redMsg = '⚠ ' + redLabel(row.ch) + ' 는 이미 비어 있습니다'; return; }
  row.map = {};
  row.dirty = true;
  redMsg = redLabel(row.ch) + ' 의 타점 ' + n + '개를 지웠습니다 (저장해야 파일에 반영 · Ctrl+B 로 되돌리기)';
}

function redMoveStep(delta) {
  var g = redPattern();
  if (!g) return;
  var cell = Math.max(0, Math.min(g.bars * 16 - 1, redCell() + delta));
  redBar = Math.floor(cell / 16);
  redStep = cell % 16;
}

function redListen() {
  var g = redPattern();
  if (!g || !g.ok) return;
  if (redPlaying) { redPlaying = false; redSend('RED_STOP'); return; }
  redPlaying = true;
  redMsg = '▶ 듣는 중 - Q 나 정지 단추로 멈춥니다';
  var fields = redChangedFields(g);
  redSend('RED_PREVIEW:' + redPat + (fields.length ? '\t' + fields.join('\t') : ''));
}

function redToggleMute() {
  var row = redRowNow();
  if (!row) return;
  redMute[row.ch] = !redMute[row.ch];
  redSend('RED_MUTE:' + row.ch + '\t' + (redMute[row.ch] ? 1 : 0));
  redMsg = redLabel(row.ch) + (redMute[row.ch] ? ' 를 듣기에서 뺐습니다(뮤트 - 파일은 그대로)' : ' 를 다시 듣습니다');
}

function redSetTempo(delta) {
  redBpm = Math.max(40, Math.min(220, redBpm + delta));
  redSend('RED_BPM:' + redBpm);
}

function redSave() {
  var fields = redChangedFields(redPattern());
  if (!fields.length) { redMsg = '⚠ 이 패턴에서 고친 것이 없습니다'; return; }
  redBusy = true;
  redMsg = '저장 중...';
  redSend('RED_SAVE:' + redPat + '\t' + fields.join('\t'));
}

function redRestore(which) {
  redBusy = true;
  redMsg = '되돌리는 중...';
  redSend('RED_RESTORE:' + redPat + '\t' + which);
}

function redStyleLabel(entry) { return String(entry.st == null ? '' : entry.st); }

// Keys 1 to 9: another style of the list.
function redPickStyle(n) {
  var entry = null;
  redStyles.forEach(function (s) { if (s && s.k === n) entry = s; });
  if (!entry) return;
  var name = redStyleLabel(entry);
  if (name === redStyle) { redMsg = '지금 ' + n + '번 ' + name + ' 입니다'; return; }
  if (!entry.ok) { redMsg = '⚠ ' + n + '번(' + name + ') 리듬 파일이 없습니다'; return; }
  if (redAnyDirty() && redSwitchGuard !== n) {
    redMsg = '⚠ 저장하지 않은 편집이 있습니다 - 그래도 ' + n + '번으로 바꾸려면 한 번 더 누르세요 (저장은 Ctrl+S)';
    redSwitchGuard = n;
    return;
  }
  redSwitchGuard = 0;
  if (redPlaying) { redPlaying = false; redSend('RED_STOP'); }
  redPat = 0; redBar = 0; redRow = 0; redStep = 0;
  redMsg = n + '번 ' + name + ' 을(를) 불러옵니다...';
  redSend('RED_OPEN:' + name);
}

function redPickPattern(index) {
  var g = redGrid[index];
  if (!g || !g.ok) { redMsg = '이 패턴 파일이 없습니다.'; return; }
  redPat = index;
  if (redBar >= g.bars) redBar = 0;
}

// The style the rhythm panel shows (the one the engine plays or last played), else DS1.
function redPanelStyle() {
  var st = typeof rhyStyle === 'undefined' || rhyStyle == null ? '' : String(rhyStyle);
  return st || 'DS1';
}

function openRedEditor() {
  redOpen = true;
  redMsg = '';
  redCloseGuard = false;
  redSwitchGuard = 0;
  redSend('RED_OPEN:' + redPanelStyle());
  var box = pageEl('red-overlay');
  if (box) box.style.display = 'block';
  renderRedEditor();
}

function closeRedEditor() {
  if (redAnyDirty() && !redCloseGuard) {
    redMsg = '⚠ 저장하지 않은 편집이 있습니다 - 그냥 닫으려면 Esc 를 한 번 더, 저장은 Ctrl+S';
    renderRedEditor();
    redCloseGuard = true;  // set after the redraw, which clears it
    return;
  }
  if (redPlaying) { redPlaying = false; redSend('RED_STOP'); }
  redOpen = false;
  redCloseGuard = false;
  var box = pageEl('red-overlay');
  if (box) box.style.display = 'none';
}

function toggleRedEditor() {
  if (redOpen) closeRedEditor();
  else openRedEditor();
}

// The fills' keys by their place on the keyboard, so that they work whatever the typing language.
var PATTERN_KEY_CODES = ['KeyA', 'KeyS', 'KeyD', 'KeyF'];
function redEditorKey(e) {
  if (e.altKey) return;  // ALT combinations belong to the page
  var k = e.key || '';
  var code = e.code || '';
  var low = k.toLowerCase();
  if (e.preventDefault) e.preventDefault();
  if (k === 'Escape') { closeRedEditor(); return; }
  var guard = redSwitchGuard;
  var g = redPattern();
  if (e.ctrlKey) {
    if (low === 's' || code === 'KeyS') redSave();
    else if (low === 'b' || code === 'KeyB') redRestore(1);
    else if (low === 'r' || code === 'KeyR') redRestore(0);
    else return;
  } else if (k === 'Enter' || k === ' ') { if (!e.repeat) redToggleCell(); }
  else if (k === '+' || k === '=' || code === 'Equal') redChangeVelocity(5);
  else if (k === '-' || k === '_' || code === 'Minus') redChangeVelocity(-5);
  else if (code === 'BracketLeft' || k === '[') redStepSound(-1);
  else if (code === 'BracketRight' || k === ']') redStepSound(1);
  else if (k === 'Delete' || k === 'Backspace') redRemoveHit();
  else if (k === 'ArrowUp') redRow = Math.max(0, redRow - 1);
  else if (k === 'ArrowDown') redRow = Math.max(0, Math.min((g ? g.rows.length : 1) - 1, redRow + 1));
  else if (k === 'ArrowLeft') redMoveStep(-1);
  else if (k === 'ArrowRight') redMoveStep(1);
  else if (code === 'Comma' || k === ',') redBar = Math.max(0, redBar - 1);
  else if (code === 'Period' || k === '.') redBar = Math.min((g ? g.bars : 1) - 1, redBar + 1);
  else if (k === 'Home') { redBar = 0; redStep = 0; }
  else if (low === 'q' || code === 'KeyQ') { if (!e.repeat) redListen(); }
  else if (low === 'm' || code === 'KeyM') { if (!e.repeat) redToggleMute(); }
  else if (k === 'PageUp') redSetTempo(5);
  else if (k === 'PageDown') redSetTempo(-5);
  else if (/^[1-9]$/.test(k)) { if (!e.repeat) redPickStyle(Number(k)); }
  else if (k === '0') redPickPattern(redPat === 0 ? 1 : 0);
  else if (PATTERN_KEY_CODES.indexOf(code) >= 0) redPickPattern(2 + PATTERN_KEY_CODES.indexOf(code));
  else if ('asdf'.indexOf(low) >= 0 && low.length === 1) redPickPattern(2 + 'asdf'.indexOf(low));
  else return;
  if (redSwitchGuard === guard && !/^[1-9]$/.test(k)) redSwitchGuard = 0;
  renderRedEditor();
}

// ---- Drawing ----

function redEl(tag, style, text) {
  var el = document.createElement(tag);
  if (style) el.style.cssText = style;
  if (text !== undefined) el.textContent = text;
  return el;
}
function redButton(label, style, onClick) {
  var b = redEl('button', 'cursor:pointer; border:1px solid #555; border-radius:5px; padding:3px 8px; margin:2px; ' +
                'background:#333; color:#fff; font-size:14px; ' + (style || ''), label);
  b.onclick = function () { onClick(); renderRedEditor(); };
  return b;
}

function renderRedEditor() {
  redCloseGuard = false;
  var box = pageEl('red-overlay');
  if (!box || typeof document === 'undefined') return;
  box.textContent = '';
  var panel = redEl('div', 'position:absolute; inset:20px; background:#1b1d22; color:#eee; border:2px solid #666; ' +
                    'border-radius:10px; padding:12px; overflow:auto; font-size:14px;');
  panel.id = 'red-panel';
  box.appendChild(panel);
  // the style by the rhythm check's name: "디스코1 (DS1 · ALT+7)"
  panel.appendChild(redEl('div', 'font-size:20px; font-weight:bold;',
                          '🎸 리듬 편집 - ' + (RCHK_NAME[redStyle] || redStyle) + ' (' + redStyle + ' · ALT+7)'));
  var styleRow = redEl('div', 'margin-top:6px;', '리듬 고르기 ');
  redStyles.forEach(function (s) {
    var name = redStyleLabel(s);
    styleRow.appendChild(redButton(s.k + ' ' + name + (s.ok ? '' : ' (없음)'), name === redStyle ? 'background:#2c6cc4;' : '',
                                   function () { redPickStyle(s.k); }));
  });
  panel.appendChild(styleRow);
  var patRow = redEl('div', 'margin-top:4px;');
  redGrid.forEach(function (p, i) {
    patRow.appendChild(redButton(RED_PAT_KEYS[i] + ' ' + p.pat + (p.ok ? '' : ' (없음)') + (redDirty(p) ? ' ●' : ''),
                                 i === redPat ? 'background:#2c6cc4;' : '', function () { redPickPattern(i); }));
  });
  panel.appendChild(patRow);
  var g = redPattern();
  if (!g || !g.ok) {
    panel.appendChild(redEl('div', 'margin:12px 0;', '이 패턴 파일이 없습니다.'));
  } else {
    var barRow = redEl('div', 'margin-top:4px;', '마디 ');
    for (var b = 0; b < g.bars; b++) {
      (function (bar) {
        barRow.appendChild(redButton(String(bar + 1), bar === redBar ? 'background:#2c6cc4;' : '', function () { redBar = bar; }));
      })(b);
    }
    barRow.appendChild(redEl('span', 'color:#aaa;', ' ( , . 로 앞뒤 마디 · 한 마디 = 16분음표 16칸 )'));
    panel.appendChild(barRow);
    panel.appendChild(renderRedGrid(g));
    panel.appendChild(renderRedCellInfo(g));
  }
  var foot = redEl('div', 'margin-top:8px;');
  foot.appendChild(redButton(redPlaying ? '정지 (Q)' : '듣기 (Q)', '', redListen));
  foot.appendChild(redEl('span', 'margin-left:8px;', '빠르기 '));
  foot.appendChild(redButton('-', '', function () { redSetTempo(-5); }));
  foot.appendChild(redEl('span', '', String(redBpm)));
  foot.appendChild(redButton('+', '', function () { redSetTempo(5); }));
  foot.appendChild(redButton('저장 (Ctrl+S)', redDirty(g) ? 'background:#c0392b;' : '', redSave));
  foot.appendChild(redButton('직전 저장분으로 (Ctrl+B)', '', function () { redRestore(1); }));
  foot.appendChild(redButton('처음 원본으로 (Ctrl+R)', '', function () { redRestore(0); }));
  var msg = redEl('span', 'margin-left:10px; color:#f1c40f;', redMsg);
  msg.id = 'red-msg';
  foot.appendChild(msg);
  var close = redButton('닫기 (ESC)', 'float:right;', function () {});
  close.onclick = closeRedEditor;  // no redraw after: it would cancel the second-press guard
  foot.appendChild(close);
  panel.appendChild(foot);
}

function renderRedGrid(g) {
  var table = redEl('table', 'border-collapse:collapse; margin-top:6px;');
  table.id = 'red-grid';
  var head = redEl('tr');
  head.appendChild(redEl('td', '', ''));
  for (var c = 0; c < 16; c++) head.appendChild(redEl('td', 'text-align:center; color:#aaa; width:48px;', c % 4 === 0 ? String(c / 4 + 1) : ['', 'e', '&', 'a'][c % 4]));
  table.appendChild(head);
  g.rows.forEach(function (row, ri) {
    var tr = redEl('tr');
    var label = redEl('td', 'white-space:nowrap; padding-right:6px;' + (ri === redRow ? ' color:#f1c40f;' : ''),
                      redLabel(row.ch) + (row.dirty ? ' ●' : ''));
    label.appendChild(redButton(redMute[row.ch] ? '소리' : '뮤트', '', function () { redRow = ri; redToggleMute(); }));
    label.appendChild(redButton('비우기', '', function () { redClearRow(ri); }));
    if (!row.pal.length) label.appendChild(redEl('span', 'color:#888;', '소리없음'));
    tr.appendChild(label);
    for (var s = 0; s < 16; s++) {
      (function (step) {
        var h = row.map[redBar * 16 + step];
        var at = ri === redRow && step === redStep;
        var light = h ? Math.max(0.35, h.v / 120) : 0;
        var bg = !h ? (step % 4 === 0 ? '#2a2d33' : '#22252a')
                    : (redMute[row.ch] ? 'rgba(150,150,150,' + light + ')' : 'rgba(46,204,113,' + light + ')');
        var td = redEl('td', 'border:1px solid #444; height:26px; text-align:center; font-size:11px; cursor:pointer; background:' +
                       bg + ';' + (at ? ' outline:3px solid #f1c40f;' : ''), h ? redSoundName(row.ch, h.p) : '');
        td.className = 'red-cell';
        td.setAttribute('data-row', String(row.ch));
        td.setAttribute('data-step', String(step));
        td.onclick = function () { redRow = ri; redStep = step; redToggleCell(); renderRedEditor(); };
        tr.appendChild(td);
      })(s);
    }
    table.appendChild(tr);
  });
  return table;
}

function renderRedCellInfo(g) {
  var info = redEl('div', 'margin-top:6px;');
  var row = g.rows[redRow];
  if (!row) return info;
  var h = row.map[redCell()];
  info.appendChild(redEl('div', '', '지금 칸 : ' + redLabel(row.ch) + ' · ' + (redBar + 1) + '마디 ' + (Math.floor(redStep / 4) + 1) +
                         '박 ' + (redStep % 4 + 1) + '째칸' + (h ? '  소리 ' + redSoundName(row.ch, h.p) + ' [' + h.p + ']  세기 ' + h.v
                                                                 : '  비어 있음 (Enter 로 타점 넣기)')));
  var pal = redEl('div', 'margin-top:4px;', '놓을 수 있는 소리 ');
  row.pal.forEach(function (note) {
    pal.appendChild(redButton(redSoundName(row.ch, note), row.own.indexOf(note) >= 0 ? 'border:2px solid #f1c40f;' : '',
                              function () { redPickSound(note); }));
  });
  info.appendChild(pal);
  if (!row.mine) info.appendChild(redEl('div', 'color:#aaa;', '이 패턴에는 원래 없는 파트입니다 - 타점을 넣으면 같은 스타일의 다른 패턴에서 음색을 그대로 가져와 새로 만듭니다.'));
  if (row.off > 0) info.appendChild(redEl('div', 'color:#e67e22;', '이 파트에 격자에서 벗어난 타점이 ' + row.off + '개 있습니다 - 이 줄을 고쳐 저장하면 16분 격자로 붙습니다.'));
  return info;
}
