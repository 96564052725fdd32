// ---- Rhythm panel, beat meter and rhythm check (ALT+8) ----
// The page side of the rhythm engine: the small style panel in the top bar, the beat meter the
// engine pulses (or the song's bars drive), the engine's tempo values for the tempo display, the
// rhythm check overlay that shows which style files exist and tries every style, fill and stop,
// and the quick-effect choice. It talks to the program only by posting commands; style codes and
// file names from the style folder are always drawn as text.

var rhyStyle = 'DS1', rhyVariant = 1, rhyOn = false;
var rhyAltIdx = 1;
var rhyG = false, rhyH = false, rhyJ = false;
var beatBpb = 4, beatCvtIdx = 0, beatCvtMs = 500, beatCvtT0 = 0, beatCvtUntil = 0;
var beatLastPaint = 0, beatAnimating = false, beatDotCount = 0;
var rchkOpen = false, rchkRows = [], rchkCur = 'DS1', rchkVar = 1, rchkOn = false, rchkOrphan = [], rchkLast = '';
var qFxNote = 54;

var RHY_SLOTS = [['1', 'DS1', '디스코1'], ['2', 'DS2', '디스코2'], ['3', 'DS3', '디스코3'], ['4', 'DS4', '디스코4'],
                 ['5', 'DS5', '디스코5'], ['6', 'SG1', '슬로우1'], ['7', 'DS7', '디스코7'], ['8', 'DS8', '디스코8'],
                 ['9', 'DS9', '디스코9'], ['0', '', '']];
var RCHK_NAME = { DS1: '디스코1', DS2: '디스코2', DS3: '디스코3', DS4: '디스코4', DS5: '디스코5', DS7: '디스코7',
                  DS8: '디스코8', DS9: '디스코9', SG1: '슬로우고고1' };
var RCHK_FT = ['없음', '전용', '빌림', 'F1대신'];
var RCHK_FT_COLOR = ['#7f8c8d', '#27ae60', '#2980b9', '#d35400'];
var QFX_LIST = [[54, '탬버린'], [49, '오픈 심벌'], [71, '호루라기(짧게)'], [72, '호루라기(길게)'], [56, '카우벨'],
                [39, '박수'], [81, '트라이앵글'], [69, '카바사'], [70, '마라카스'], [67, '아고고'], [75, '클라베'],
                [55, '스플래시 심벌'], [52, '징']];

window.__cvtOn = false;

function rhyEl(tag, style, text) {
  var el = document.createElement(tag);
  if (style) el.style.cssText = style;
  if (text !== undefined) el.textContent = String(text);
  return el;
}
function rhyNow() {
  return typeof performance !== 'undefined' ? performance.now() : Date.now();
}

// ---- Values from the program ----

function setRhythmUi(style, variant, on, g, h, j) {
  var st = strField(style);
  if (st) {
    rhyStyle = st;
    for (var i = 1; i < RHY_SLOTS.length; i++) {
      if (RHY_SLOTS[i][1] === st && st.indexOf('DS') === 0) rhyAltIdx = i;
    }
  }
  rhyVariant = parseInt(variant, 10) || 1;
  rhyOn = !!on;
  if (arguments.length > 3) {
    rhyG = !!g;
    rhyH = !!h;
    rhyJ = !!j;
  }
  window.__cvtOn = rhyOn;
  renderRhythmPanel();
  if (rchkOpen) {
    if (st) rchkCur = st;
    rchkVar = rhyVariant;
    rchkOn = rhyOn;
    renderRhythmCheck();
  }
}
function updateCvtBadge(on) {
  window.__cvtOn = !!on;
  var badge = pageEl('cvt-style-badge');
  if (badge) badge.style.display = 'none';
  setRhythmUi(rhyStyle, rhyVariant, !!on);
}
function setRhythmMult(percent) {
  jsRhythmMult = parseInt(percent, 10) || 0;
  renderTempoDisplay();
  if (songLoaded && typeof window.__lastTick === 'number') updateProgressUI(window.__lastTick);
}
function setCvtBpm(bpm) {
  jsCvtBpm = parseInt(bpm, 10) || 0;
  renderTempoDisplay();
}

// ---- Rhythm panel ----

function rhythmPick(key) { pagePost('RHYTHM_STYLE:' + key); }
function rhythmGhj(n) { pagePost('CVT_SNARE_SUB:' + n); }

// The four cells: DS1 and the last other disco style, then SG1 and the G/H/J cell.
function rhyPanelCells() {
  var cell = function (i) {
    var s = RHY_SLOTS[i];
    return { key: s[0], style: s[1], label: s[2], selected: !!s[1] && s[1] === rhyStyle };
  };
  var ghj = { key: '0', style: '', label: '', ghj: [rhyG && rhyOn, rhyH && rhyOn, rhyJ && rhyOn] };
  return [[cell(0), cell(rhyAltIdx)], [cell(5), ghj]];
}

function rhythmPanelBox() {
  var panel = pageEl('rhythm-panel');
  if (panel || typeof document === 'undefined') return panel;
  panel = rhyEl('div', 'display:grid; grid-template-columns:auto auto; gap:4px; padding:4px; border-radius:8px;' +
                       ' border:2px solid #555; background:rgba(0,0,0,0.25); font-size:14px;');
  panel.id = 'rhythm-panel';
  var slot = pageEl('rhythm-panel-slot');
  if (slot) slot.appendChild(panel);
  else {
    panel.style.position = 'fixed';
    panel.style.top = '4px';
    panel.style.left = '50%';
    panel.style.transform = 'translateX(-50%)';
    panel.style.zIndex = '250';
    document.body.appendChild(panel);
  }
  return panel;
}

function renderRhythmPanel() {
  var panel = rhythmPanelBox();
  if (!panel) return;
  panel.textContent = '';
  panel.style.borderColor = rhyOn ? '#ff9f1a' : '#555';
  panel.style.boxShadow = rhyOn ? '0 0 10px #ff9f1a' : 'none';
  var rows = rhyPanelCells();
  rows.forEach(function (row) {
    row.forEach(function (c) {
      var bg = c.selected ? (rhyOn ? '#e67e22' : '#8e5b2c') : 'rgba(255,255,255,0.12)';
      var cell = rhyEl('div', 'cursor:pointer; padding:2px 8px; border-radius:5px; white-space:nowrap; color:#fff; background:' + bg);
      cell.className = 'rhy-cell' + (c.selected ? ' rhy-selected' : '');
      cell.setAttribute('data-key', c.key);
      if (c.ghj) {
        cell.appendChild(rhyEl('b', '', c.key + ' '));
        ['G', 'H', 'J'].forEach(function (name, i) {
          var lamp = rhyEl('span', 'display:inline-block; margin-left:3px; padding:0 4px; border-radius:8px; font-size:11px; background:' +
                                   (c.ghj[i] ? '#2ecc71' : '#444'), name);
          lamp.className = 'rhy-ghj' + (c.ghj[i] ? ' rhy-lit' : '');
          lamp.onclick = function (ev) { ev.stopPropagation(); rhythmGhj(i + 1); };
          cell.appendChild(lamp);
        });
      } else {
        cell.appendChild(rhyEl('b', '', c.key + ' '));
        cell.appendChild(rhyEl('span', '', c.label));
        cell.onclick = function () { rhythmPick(c.key); };
      }
      panel.appendChild(cell);
    });
  });
}

// ---- Beat meter ----

function cvtBeatPulse(index, ms, bpb) {
  var n = parseInt(bpb, 10);
  beatBpb = n >= 2 && n <= 8 ? n : 4;
  var i = parseInt(index, 10) || 0;
  beatCvtIdx = ((i % beatBpb) + beatBpb) % beatBpb;
  var len = +ms;
  beatCvtMs = len > 30 && len < 4000 ? len : 500;
  beatCvtT0 = rhyNow();
  beatCvtUntil = beatCvtT0 + 2 * beatCvtMs + 500;
  if (!beatAnimating) {
    beatAnimating = true;
    beatFrame();
  }
}
function cvtBeatRelease() { beatCvtUntil = 0; }

function beatFrame() {
  var now = rhyNow();
  if (now > beatCvtUntil) {
    beatAnimating = false;
    return;
  }
  var frac = Math.max(0, Math.min(1, (now - beatCvtT0) / beatCvtMs));
  beatPaint(beatCvtIdx, frac);
  if (typeof requestAnimationFrame === 'function') requestAnimationFrame(beatFrame);
  else beatAnimating = false;
}

function beatPaint(beat, frac) {
  beatLastPaint = rhyNow();
  var dots = pageEl('beat-dots');
  if (!dots) return;
  if (beatDotCount !== beatBpb || dots.children.length !== beatBpb) {
    dots.textContent = '';
    for (var i = 0; i < beatBpb; i++) {
      var d = rhyEl('span', 'display:inline-block; width:14px; height:14px; border-radius:50%; background:#555; transition:none;');
      d.className = 'beat-dot';
      dots.appendChild(d);
    }
    beatDotCount = beatBpb;
  }
  for (var k = 0; k < dots.children.length; k++) {
    var dot = dots.children[k];
    var lit = k === beat;
    var colour = k === 0 ? '#ff9f1a' : '#2fe6cf';
    dot.style.background = lit ? colour : '#555';
    dot.style.boxShadow = lit ? '0 0 8px ' + colour : 'none';
    dot.style.transform = lit ? 'scale(' + (1.45 - 0.45 * frac).toFixed(3) + ')' : 'scale(1)';
    dot.classList.toggle('beat-lit', lit);
  }
  var sweep = pageEl('beat-sweep');
  if (sweep) sweep.style.width = ((beat + frac) / beatBpb * 100).toFixed(2) + '%';
  dots.style.opacity = '1';
}

// Beats per bar and position in beats of a song tick, from the song's bars; null before a song.
function beatSongPosition(tick) {
  var q = +tpq;
  if (!(q > 0)) return null;
  var m = tickToMeasureIdx0(tick);
  var bpb = Math.round(measureLenAt(m) / q);
  if (!(bpb >= 2 && bpb <= 8)) bpb = 4;
  var pos = Math.max(0, Math.min(bpb, (tick - measureStartTick(m)) / q));
  return { bpb: bpb, pos: pos };
}
function beatFromSongTick(tick) {
  if (rhyNow() < beatCvtUntil) return;
  var at = beatSongPosition(tick);
  if (!at) return;
  beatBpb = at.bpb;
  var beat = Math.min(at.bpb - 1, Math.floor(at.pos));
  beatPaint(beat, at.pos - beat);
}

function beatIdleCheck() {
  if (rhyNow() - beatLastPaint <= 700) return;
  var dots = pageEl('beat-dots');
  if (!dots) return;
  for (var k = 0; k < dots.children.length; k++) {
    dots.children[k].style.background = '#555';
    dots.children[k].style.boxShadow = 'none';
    dots.children[k].style.transform = 'scale(1)';
    dots.children[k].classList.remove('beat-lit');
  }
  var sweep = pageEl('beat-sweep');
  if (sweep) sweep.style.width = '0%';
  dots.style.opacity = '0.45';
}
if (typeof setInterval === 'function') setInterval(beatIdleCheck, 350);

// ---- Quick effect ----

function setQfxNote(note) {
  var n = parseInt(note, 10);
  if (!(n >= 27 && n <= 87)) return;
  qFxNote = n;
  pagePost('SET_QFX:' + n);
}
function testQfx() { pagePost('CVT_QFX'); }

// ---- Rhythm check ----

function rchkName(code) {
  var c = strField(code);
  return Object.prototype.hasOwnProperty.call(RCHK_NAME, c) ? RCHK_NAME[c] : (c || '(없음)');
}
function rchkRowOf(code) {
  for (var i = 0; i < rchkRows.length; i++) if (rchkRows[i] && rchkRows[i].st === code) return rchkRows[i];
  return null;
}
function rchkFillOf(row, n) {
  var f = row && Array.isArray(row.fs) ? row.fs[n - 1] : null;
  var t = f ? parseInt(f.t, 10) || 0 : 0;
  if (t < 0 || t > 3) t = 0;
  return { t: t, tag: RCHK_FT[t], d: !!(f && +f.d), f: f ? strField(f.f) : '' };
}
function rchkOtherVar() { return rchkVar === 2 ? 1 : 2; }

function setRhythmCheck(rows, cur, variant, on, orphans) {
  rchkRows = Array.isArray(rows) ? rows : [];
  if (strField(cur)) rchkCur = strField(cur);
  rchkVar = parseInt(variant, 10) || 1;
  rchkOn = !!on;
  rchkOrphan = Array.isArray(orphans) ? orphans.map(strField) : [];
  if (rchkOpen) renderRhythmCheck();
}

function openRhythmCheck() {
  rchkOpen = true;
  rchkLast = '';
  rchkCur = rhyStyle;
  rchkVar = rhyVariant;
  rchkOn = rhyOn;
  pagePost('RCHK_SCAN');
  var box = pageEl('rchk-overlay');
  if (box) box.style.display = 'flex';
  renderRhythmCheck();
}
function closeRhythmCheck() {
  rchkOpen = false;
  var box = pageEl('rchk-overlay');
  if (box) box.style.display = 'none';
}
function toggleRhythmCheck() {
  if (rchkOpen) closeRhythmCheck();
  else openRhythmCheck();
}

function rchkPick(d) {
  var k = parseInt(d, 10);
  if (!(k >= 0 && k <= 9)) return;
  pagePost('RHYTHM_STYLE:' + k);
  if (k === 0) rchkLast = '0 - 패턴변환 (P' + rchkOtherVar() + ' 로)';
  else rchkLast = k + ' - ' + rchkName(RHY_SLOTS[k - 1][1]) + ' (' + RHY_SLOTS[k - 1][1] + ')';
  renderRhythmCheck();
}
function rchkFill(n) {
  pagePost('CVT_FILL:' + n);
  rchkLast = 'ASDF'.charAt(n - 1) + ' - 필인 F' + n;
  renderRhythmCheck();
}
function rchkStop() {
  pagePost('RHYTHM_OFF:1');
  rchkLast = 'P - 정지(엔딩 후)';
  renderRhythmCheck();
}
function rchkStart() {
  pagePost('RHYTHM_ON');
  rchkLast = 'Enter - 리듬 시작';
  renderRhythmCheck();
}
function rchkScan() { pagePost('RCHK_SCAN'); }

// The key block of the open rhythm check: it takes every key.
function rhythmCheckKey(e) {
  var k = e.key || '';
  var code = e.code || '';
  var once = !e.repeat;
  if (e.preventDefault) e.preventDefault();
  if (k === 'Escape') { closeRhythmCheck(); return true; }
  if (e.altKey || e.ctrlKey) return true;
  if (!once) return true;
  if (/^[0-9]$/.test(k)) { rchkPick(k); return true; }
  var fills = { KeyA: 1, KeyS: 2, KeyD: 3, KeyF: 4 };
  var letter = k.length === 1 ? 'Key' + k.toUpperCase() : code;
  if (fills[code] || fills[letter]) { rchkFill(fills[code] || fills[letter]); return true; }
  if (code === 'KeyP' || letter === 'KeyP') { rchkStop(); return true; }
  if (code === 'KeyR' || letter === 'KeyR') { rchkScan(); return true; }
  if (k === 'Enter') { rchkStart(); return true; }
  return true;
}

// ---- Rhythm check drawing ----

function rchkButton(label, onClick, style) {
  var b = rhyEl('button', 'cursor:pointer; border:none; border-radius:6px; padding:5px 12px; font-size:14px; color:#fff; background:#34495e; ' +
                          (style || ''), label);
  b.onclick = onClick;
  return b;
}
function rchkBadge(label, ok) {
  var b = rhyEl('span', 'display:inline-block; margin-right:3px; padding:0 5px; border-radius:4px; font-size:11px; color:#fff; background:' +
                        (ok ? '#27ae60' : '#c0392b'), label);
  b.className = 'rchk-badge ' + (ok ? 'rchk-yes' : 'rchk-no');
  return b;
}

function rchkCard(row) {
  var active = row.st === rchkCur;
  var card = rhyEl('div', 'cursor:pointer; padding:6px; border-radius:8px; background:' + (active ? '#5d4037' : '#2c3e50') +
                          '; border:2px solid ' + (active ? '#ff9f1a' : 'transparent'));
  card.className = 'rchk-card' + (active ? ' rchk-active' : '');
  card.setAttribute('data-k', String(row.k));
  var head = rhyEl('div', 'font-weight:bold;');
  head.appendChild(rhyEl('span', '', row.k + ' '));
  head.appendChild(rhyEl('span', '', rchkName(row.st) + ' '));
  head.appendChild(rhyEl('span', 'color:#bbb;', '(' + strField(row.st) + ')'));
  if (active) head.appendChild(rhyEl('span', 'color:#ff9f1a; margin-left:6px;', '\u25B6 지금'));
  card.appendChild(head);
  var badges = rhyEl('div', 'margin:3px 0;');
  badges.appendChild(rchkBadge('P1', +row.p1));
  badges.appendChild(rchkBadge('P2', +row.p2));
  badges.appendChild(rchkBadge('ED', +row.ed));
  badges.appendChild(rchkBadge('IN', +row.intro));
  card.appendChild(badges);
  var tiles = rhyEl('div', 'display:grid; grid-template-columns:repeat(4, 1fr); gap:3px;');
  for (var n = 1; n <= 4; n++) {
    var f = rchkFillOf(row, n);
    var tile = rhyEl('div', 'padding:2px; border-radius:4px; font-size:11px; overflow:hidden; white-space:nowrap; background:' + RCHK_FT_COLOR[f.t]);
    tile.className = 'rchk-tile rchk-t' + f.t;
    tile.title = f.f || '없음';
    tile.appendChild(rhyEl('b', '', 'ASDF'.charAt(n - 1) + ' '));
    tile.appendChild(rhyEl('span', '', f.tag));
    if (f.d) tile.appendChild(rhyEl('span', 'margin-left:3px; color:#ffeaa7;', '돔'));
    tile.appendChild(rhyEl('div', 'font-size:10px; color:#eee;', f.f));
    tiles.appendChild(tile);
  }
  card.appendChild(tiles);
  var k = row.k;
  card.onclick = function () { rchkPick(k); };
  return card;
}

function rchkBox() {
  var box = pageEl('rchk-overlay');
  if (!box) return null;
  if (!pageEl('rchk-body')) {
    box.style.alignItems = 'center';
    box.style.justifyContent = 'center';
    box.style.background = 'rgba(0,0,0,0.6)';
    var panel = rhyEl('div', 'width:min(1100px, 96vw); max-height:94vh; overflow:auto; padding:14px; border-radius:12px; background:#1e272e; color:#fff; font-size:14px;');
    var body = rhyEl('div');
    body.id = 'rchk-body';
    var foot = rhyEl('div', 'display:flex; gap:8px; justify-content:flex-end; margin-top:10px;');
    foot.id = 'rchk-foot';
    foot.appendChild(rchkButton('리듬 시작 (Enter)', rchkStart, 'background:#27ae60;'));
    foot.appendChild(rchkButton('정지 (P)', rchkStop, 'background:#c0392b;'));
    foot.appendChild(rchkButton('다시 검사 (R)', rchkScan));
    foot.appendChild(rchkButton('닫기 (ESC)', closeRhythmCheck));
    panel.appendChild(body);
    panel.appendChild(foot);
    box.appendChild(panel);
  }
  return pageEl('rchk-body');
}

function renderRhythmCheck() {
  if (!rchkOpen) return;
  var body = rchkBox();
  if (!body) return;
  body.textContent = '';
  body.appendChild(rhyEl('div', 'font-size:20px; font-weight:bold;', '\uD83E\uDD41 리듬 체크 (ALT+8)'));
  body.appendChild(rhyEl('div', 'color:#bbb; margin-bottom:6px;',
                         '1~9 스타일 \u00B7 0 패턴변환(P1\u2194P2) \u00B7 A S D F 필인 \u00B7 Enter 시작 \u00B7 P 정지 \u00B7 R 다시검사 \u00B7 Esc 닫기'));
  var head = rhyEl('div', 'display:flex; flex-wrap:wrap; gap:16px; margin-bottom:8px;');
  head.id = 'rchk-head';
  head.appendChild(rhyEl('span', '', '지금 스타일 ' + rchkName(rchkCur) + ' (' + rchkCur + ')'));
  head.appendChild(rhyEl('span', '', '패턴 P' + rchkVar));
  head.appendChild(rhyEl('span', rchkOn ? 'color:#ff9f1a;' : '', '리듬 ' + (rchkOn ? '가동 중' : '정지')));
  head.appendChild(rhyEl('span', 'color:#bbb;', rootPath('pxr/')));
  var last = rhyEl('span', '', '마지막 누른 키 : ' + (rchkLast || '-'));
  last.id = 'rchk-last';
  head.appendChild(last);
  body.appendChild(head);

  var grid = rhyEl('div', 'display:grid; grid-template-columns:repeat(3, 1fr); gap:8px;');
  grid.id = 'rchk-grid';
  rchkRows.forEach(function (row) { if (row) grid.appendChild(rchkCard(row)); });
  body.appendChild(grid);

  var cur = rchkRowOf(rchkCur);
  var vrow = rhyEl('div', 'margin-top:10px;');
  vrow.appendChild(rchkButton('0 \u00B7 패턴변환 (P' + rchkVar + ' \u2192 P' + rchkOtherVar() + ')', function () { rchkPick(0); }));
  if (cur && !+cur.p2) {
    var warn = rhyEl('span', 'margin-left:10px; color:#f39c12;', rchkCur + '-P2.MID 가 없습니다 - 0 을 눌러도 P1 그대로입니다.');
    warn.id = 'rchk-p2-warn';
    vrow.appendChild(warn);
  }
  body.appendChild(vrow);

  body.appendChild(rhyEl('div', 'margin-top:10px; font-weight:bold;',
                         '필인 (지금 스타일 ' + rchkCur + ' 기준 \u00B7 다음 박에 들어가 다음 마디 첫 박에 끝납니다)'));
  var fills = rhyEl('div', 'display:grid; grid-template-columns:repeat(4, 1fr); gap:6px;');
  fills.id = 'rchk-fills';
  for (var n = 1; n <= 4; n++) {
    var f = rchkFillOf(cur, n);
    var b = rchkButton('', null, 'text-align:left; background:' + RCHK_FT_COLOR[f.t] + ';');
    b.className = 'rchk-fill';
    b.appendChild(rhyEl('b', '', 'ASDF'.charAt(n - 1) + ' '));
    b.appendChild(rhyEl('span', '', '필인 F' + n + ' ' + f.tag));
    b.appendChild(rhyEl('div', '', f.d ? '\u25CF 전자돔돔 있음' : '\u25CB 돔돔 없음'));
    b.appendChild(rhyEl('div', 'font-size:11px;', f.f || '파일 없음 - 눌러도 아무 일도 없습니다'));
    b.onclick = (function (k) { return function () { rchkFill(k); }; })(n);
    fills.appendChild(b);
  }
  body.appendChild(fills);

  if (rchkOrphan.length) {
    var orphan = rhyEl('div', 'margin-top:10px; color:#f39c12;',
                       '\u26A0 폴더에는 있는데 숫자키에 안 걸린 스타일 : ' + rchkOrphan.join(', ') +
                       ' - 파일은 들어 있어도 1~9 어느 번호로도 불러올 수 없습니다.');
    orphan.id = 'rchk-orphans';
    body.appendChild(orphan);
  }
  var legend = rhyEl('div', 'margin-top:10px; font-size:12px; color:#ccc;');
  for (var t = 1; t < RCHK_FT.length; t++) {
    legend.appendChild(rhyEl('span', 'margin-right:8px; padding:0 5px; border-radius:4px; background:' + RCHK_FT_COLOR[t], RCHK_FT[t]));
  }
  legend.appendChild(rhyEl('span', 'margin-right:8px; padding:0 5px; border-radius:4px; background:' + RCHK_FT_COLOR[0], RCHK_FT[0]));
  legend.appendChild(rhyEl('div', 'margin-top:4px;',
                           '드럼 킷과 템포는 필인 파일이 정하지 않습니다 - 지금 걸린 스타일의 킷과 지금 템포를 그대로 따라갑니다.'));
  body.appendChild(legend);
}
renderRhythmPanel();
