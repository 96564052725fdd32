// ---- Medley panel (ALT+D) ----
// Shows the medley the program keeps (initMedley), edits it through "MEDLEY_" commands, saves,
// loads and plays it, and takes the next reserved song when a medley section ends. Every song
// title and file name goes into the panel as text, never as markup.

var medleyList = [];
var medleyFiles = [];
var medleyName = '';
var medleyMarkBar = -1;
var medleyOpen = false;
var medleySel = 0;  // index of the selected control in the panel

function initMedley(list, files, name, markBar) {
  medleyList = Array.isArray(list) ? list : [];
  medleyFiles = Array.isArray(files) ? files : [];
  medleyName = name || '';
  medleyMarkBar = typeof markBar === 'number' ? markBar : -1;
  if (medleyOpen) renderMedleyPanel();
}

function mdSend(cmd) { pagePost(cmd); }

function mdTitleOf(id, fallback) {
  var list = typeof songDb !== 'undefined' && Array.isArray(songDb) ? songDb : [];
  for (var i = 0; i < list.length; i++) {
    if (list[i].id === id) return dispTitle(list[i]);
  }
  return fallback || ('곡 ' + id);
}

// The panel's controls in order: the keys move over them.
function medleyControls() {
  var box = pageEl('medley-overlay');
  return box ? Array.prototype.slice.call(box.querySelectorAll('input, select, button')) : [];
}
function medleyHighlight() {
  var controls = medleyControls();
  if (!controls.length) return;
  medleySel = Math.max(0, Math.min(medleySel, controls.length - 1));
  for (var i = 0; i < controls.length; i++) controls[i].style.outline = i === medleySel ? '3px solid #f1c40f' : '';
  if (controls[medleySel].scrollIntoView) controls[medleySel].scrollIntoView({ block: 'nearest' });
}

function openMedleyPanel() {
  medleyOpen = true;
  medleySel = 0;
  mdSend('MEDLEY_LIST');
  renderMedleyPanel();
  var box = pageEl('medley-overlay');
  if (box) box.style.display = 'flex';
}
function closeMedleyPanel() {
  medleyOpen = false;
  var box = pageEl('medley-overlay');
  if (box) box.style.display = 'none';
}
function toggleMedleyPanel() {
  if (medleyOpen) closeMedleyPanel();
  else openMedleyPanel();
}

// Small DOM helpers: text always through textContent.
function mdEl(tag, style, text) {
  var el = document.createElement(tag);
  if (style) el.style.cssText = style;
  if (text !== undefined) el.textContent = text;
  return el;
}
function mdButton(label, style, onClick) {
  var b = mdEl('button', 'cursor:pointer; border:none; border-radius:6px; padding:4px 10px; font-size:15px; ' + (style || ''), label);
  b.onclick = onClick;
  return b;
}
function mdNumber(value, onChange, width) {
  var input = mdEl('input', 'width:' + (width || 56) + 'px; font-size:15px; padding:3px; border-radius:4px; border:1px solid #666; background:#222; color:#fff;');
  input.type = 'number';
  input.value = String(value);
  input.onchange = function () { onChange(parseInt(input.value, 10) || 0); };
  return input;
}
function mdCell(width, child) {
  var c = mdEl('div', width ? 'flex:0 0 ' + width + 'px;' : 'flex:1; min-width:0; overflow:hidden; white-space:nowrap; text-overflow:ellipsis;');
  if (child) c.appendChild(child);
  return c;
}
var mdRowStyle = 'display:flex; align-items:center; gap:6px; padding:5px 8px; border-bottom:1px solid rgba(255,255,255,0.1);';

function mdItemRow(item, i, last) {
  var row = mdEl('div', mdRowStyle);
  var order = mdCell(54);
  order.appendChild(mdEl('span', 'margin-right:4px;', String(i + 1)));
  order.appendChild(mdButton('▲', 'padding:0 4px; background:#444; color:#fff;', function () { mdSend('MEDLEY_MOVE:' + i + ':-1'); }));
  order.appendChild(mdButton('▼', 'padding:0 4px; background:#444; color:#fff;', function () { mdSend('MEDLEY_MOVE:' + i + ':1'); }));
  row.appendChild(order);

  var song = mdCell(0);
  song.appendChild(mdEl('span', '', mdTitleOf(item.id, item.n)));
  song.appendChild(mdEl('span', 'color:#999; font-size:12px; margin-left:4px;', '(' + item.id + ')'));
  row.appendChild(song);

  var section = mdCell(150);
  section.appendChild(mdNumber(item.s + 1, function (v) { mdSend('MEDLEY_SET:' + i + ':s:' + (v - 1)); }));
  section.appendChild(mdEl('span', '', ' ~ '));
  section.appendChild(mdNumber(item.e + 1, function (v) { mdSend('MEDLEY_SET:' + i + ':e:' + (v - 1)); }));
  row.appendChild(section);

  var key = mdCell(128);
  var mode = mdEl('select', 'font-size:14px; background:#222; color:#fff;');
  ['원키', '남자', '여자'].forEach(function (label, v) {
    var o = mdEl('option', '', label);
    o.value = String(v);
    if (item.k === v) o.selected = true;
    mode.appendChild(o);
  });
  mode.onchange = function () { mdSend('MEDLEY_SET:' + i + ':k:' + mode.value); };
  key.appendChild(mode);
  var pitch = mdNumber(item.p, function (v) { mdSend('MEDLEY_SET:' + i + ':p:' + v); }, 48);
  pitch.min = '-12';
  pitch.max = '12';
  key.appendChild(pitch);
  row.appendChild(key);

  var tempo = mdNumber(item.t, function (v) { mdSend('MEDLEY_SET:' + i + ':t:' + v); }, 60);
  tempo.min = '-60';
  tempo.max = '60';
  row.appendChild(mdCell(96, tempo));

  row.appendChild(mdCell(62, last ? mdEl('span', 'color:#777;', '—')
    : mdButton(item.f ? '●' : '○', 'background:transparent; color:' + (item.f ? '#2ecc71' : '#888') + ';',
               function () { mdSend('MEDLEY_SET:' + i + ':f:' + (item.f ? 0 : 1)); })));
  row.appendChild(mdCell(46, mdButton('✕', 'background:#c0392b; color:#fff;', function () { mdSend('MEDLEY_DELITEM:' + i); })));
  return row;
}

function renderMedleyPanel() {
  var box = pageEl('medley-overlay');
  if (!box) return;
  if (!pageEl('medley-body')) {
    box.style.cssText += '; align-items:center; justify-content:center; background:rgba(0,0,0,0.6);';
    var panel = mdEl('div', 'width:clamp(760px, 88vw, 1280px); max-height:92vh; display:flex; flex-direction:column; background:#1e1f24; color:#eee; border-radius:12px; box-shadow:0 10px 40px rgba(0,0,0,0.6); font-size:16px;');
    var head = mdEl('div', 'display:flex; align-items:center; gap:16px; padding:12px 16px; border-bottom:1px solid #444;');
    head.appendChild(mdEl('b', 'font-size:20px;', '🎵 메들리 편집 (ALT+D)'));
    head.appendChild(mdEl('span', 'color:#aaa; font-size:13px; flex:1;', '←→ 항목 · ↑↓ 값 · Enter 실행/입력 · Esc 닫기'));
    var x = mdEl('span', 'cursor:pointer; font-size:22px;', '×');
    x.onclick = closeMedleyPanel;
    head.appendChild(x);
    var body = mdEl('div', 'overflow:auto; flex:1; padding:8px 12px;');
    body.id = 'medley-body';
    var foot = mdEl('div', 'display:flex; align-items:center; gap:8px; padding:10px 16px; border-top:1px solid #444;');
    foot.id = 'medley-foot';
    panel.appendChild(head);
    panel.appendChild(body);
    panel.appendChild(foot);
    box.appendChild(panel);
  }
  var body = pageEl('medley-body');
  var foot = pageEl('medley-foot');
  body.textContent = '';
  foot.textContent = '';

  if (medleyMarkBar >= 0)
    body.appendChild(mdEl('div', 'color:#f1c40f; padding:6px 8px;', '● ' + (medleyMarkBar + 1) + '마디에서 시작 마디를 찍어둔 상태입니다 — ALT+] 로 끝을 찍으세요'));
  if (!medleyList.length) {
    var empty = mdEl('div', 'text-align:center; padding:30px 0;');
    empty.appendChild(mdEl('div', 'font-size:20px;', '담긴 곡이 없습니다'));
    empty.appendChild(mdEl('div', 'font-size:13px; color:#aaa; margin-top:6px;', '재생 중에 ALT+[ 로 시작, ALT+] 로 끝을 찍으면 여기에 담깁니다'));
    body.appendChild(empty);
  } else {
    var header = mdEl('div', mdRowStyle + ' color:#aaa; font-size:13px;');
    [['순서', 54], ['곡', 0], ['구간(마디)', 150], ['키', 128], ['템포', 96], ['필인', 62], ['', 46]].forEach(function (c) {
      header.appendChild(mdCell(c[1], mdEl('span', '', c[0])));
    });
    body.appendChild(header);
    for (var i = 0; i < medleyList.length; i++) body.appendChild(mdItemRow(medleyList[i], i, i === medleyList.length - 1));
    body.appendChild(mdEl('div', 'color:#aaa; font-size:13px; padding:6px 8px;', '마지막 곡은 끝까지 부릅니다'));
  }
  if (medleyFiles.length) {
    body.appendChild(mdEl('div', 'margin-top:12px; padding:4px 8px; color:#8ab4f8;', '저장된 메들리'));
    var files = mdEl('div', 'display:flex; flex-wrap:wrap; gap:6px; padding:0 8px;');
    medleyFiles.forEach(function (f) {
      var name = String(f).replace(/'/g, '');
      var chip = mdEl('span', 'display:inline-flex; gap:2px;');
      chip.appendChild(mdButton(name, 'background:#34495e; color:#fff;', function () { mdSend('MEDLEY_LOAD:' + name); }));
      chip.appendChild(mdButton('✕', 'background:#555; color:#fff; font-size:12px;', function () { mdSend('MEDLEY_DELFILE:' + name); }));
      files.appendChild(chip);
    });
    body.appendChild(files);
  }

  foot.appendChild(mdEl('span', '', '이름'));
  var nameInput = mdEl('input', 'flex:0 0 220px; font-size:15px; padding:4px; border-radius:4px; border:1px solid #666; background:#222; color:#fff;');
  nameInput.id = 'medley-name';
  nameInput.placeholder = '메들리 이름';
  nameInput.value = medleyName.replace(/'/g, '');
  foot.appendChild(nameInput);
  foot.appendChild(mdButton('저장', 'background:#2980b9; color:#fff;', mdSave));
  foot.appendChild(mdButton('▶ 지금 재생', 'background:#27ae60; color:#fff;', mdPlay));
  foot.appendChild(mdEl('span', 'flex:1;'));
  foot.appendChild(mdButton('모두 비우기', 'background:#7f8c8d; color:#fff;', function () { mdSend('MEDLEY_CLEAR'); }));
  foot.appendChild(mdButton('닫기', 'background:#555; color:#fff;', closeMedleyPanel));
  if (medleyOpen) medleyHighlight();
}

function mdSave() {
  var input = pageEl('medley-name');
  var name = input ? String(input.value).trim() : '';
  if (!name) { alert('이름을 적어주세요'); return; }
  mdSend('MEDLEY_SAVE:' + name);
}

// Plays the medley: the program starts item 1, the reservation queue supplies the rest.
function mdPlay() {
  if (!medleyList.length) { alert('담긴 곡이 없습니다'); return; }
  if (!modeMedley) {
    modeMedley = true;
    modeRandom = false;
    renderModeBadges();
    postPlayMode();
  }
  reservedQueue.length = 0;
  var list = typeof songDb !== 'undefined' && Array.isArray(songDb) ? songDb : [];
  for (var i = 1; i < medleyList.length; i++) {
    var item = medleyList[i];
    var song = null;
    for (var j = 0; j < list.length; j++) if (list[j].id === item.id) { song = list[j]; break; }
    var r = song ? makeReservation(song) : { id: item.id, title: item.n };
    r._t = item.t;
    r._p = item.p;
    r._km = item.k;
    reservedQueue.push(r);
  }
  renderReservedQueue();
  closeMedleyPanel();
  mdSend('MEDLEY_START:1');
}

// The player reached the end of a medley section: the next reserved song, or the medley ends.
function handleMedleyEnd() {
  if (window.__autoNextBusy) return;
  if (!reservedQueue.length) { mdSend('MEDLEY_STOPMODE'); return; }
  window.__autoNextBusy = true;
  var r = takeReservedHead();
  mdSend((window.__cvtOn ? 'AUTO_NEXT_SONG_ID:' : 'NEXT_SONG_ID:') + resvMsgId(r));
  setTimeout(function () { window.__autoNextBusy = false; }, 2500);
}

// One step of a control's value: a selector's option, a number's step within its limits, a
// checkbox's click.
function medleyStep(el, dir) {
  if (!el) return;
  if (el.tagName === 'SELECT') {
    var n = el.selectedIndex + dir;
    if (n >= 0 && n < el.options.length) { el.selectedIndex = n; el.onchange && el.onchange(); }
  } else if (el.tagName === 'INPUT' && el.type === 'number') {
    var v = (parseInt(el.value, 10) || 0) + dir;
    if (el.min !== '' && v < Number(el.min)) v = Number(el.min);
    if (el.max !== '' && v > Number(el.max)) v = Number(el.max);
    el.value = String(v);
    el.onchange && el.onchange();
  } else if (el.tagName === 'INPUT' && el.type === 'checkbox') {
    el.click();
  }
}

function medleyPanelKey(e) {
  var k = e.key;
  var a = document.activeElement;
  var inInput = a && (a.tagName === 'INPUT' || a.tagName === 'SELECT');
  if (inInput && (k === 'Enter' || k === 'Escape')) { a.blur(); e.preventDefault(); return; }
  if (k === 'Escape') { closeMedleyPanel(); e.preventDefault(); return; }
  if (ovKeyPass(e)) return;
  var controls = medleyControls();
  var last = controls.length - 1;
  if (k === 'ArrowLeft') medleySel -= 1;
  else if (k === 'ArrowRight') medleySel += 1;
  else if (k === 'PageUp') medleySel -= 10;
  else if (k === 'PageDown') medleySel += 10;
  else if (k === 'Home') medleySel = 0;
  else if (k === 'End') medleySel = last;
  else if (k === 'ArrowUp' || k === 'ArrowDown') medleyStep(controls[medleySel], k === 'ArrowUp' ? 1 : -1);
  else if (k === 'Enter' || k === ' ') {
    var el = controls[medleySel];
    if (el && el.tagName === 'BUTTON') el.click();
    else if (el) el.focus();
  }
  medleySel = Math.max(0, Math.min(medleySel, last));
  medleyHighlight();
  e.preventDefault();
}
