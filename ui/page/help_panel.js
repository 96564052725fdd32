// ---- Help panel and quit confirmation ----
// The home screen's help text (help.txt, sent by the program) laid out in up to four newspaper
// columns of a fixed cell grid, paged by click; and the full-screen question before quitting.

var helpLines = [];
var helpHidden = false;
var helpOverSong = false;  // F12 during a song: the help shown over the song screen until F12 again or the song ends
var helpFontPx = 20;
var helpPageSec = 9;
var _helpPage = 0;
var _helpPageCount = 1;
var _helpRetry = 0;
var _helpCtx = null;
var quitConfirmOpen = false;

function initHelpText(lines, fontPx, pageSec) {
  helpLines = Array.isArray(lines) ? lines : [];
  if (fontPx > 0) helpFontPx = fontPx;
  if (pageSec > 0) helpPageSec = pageSec;
  _helpPage = 0;
  renderHelp();
}

// Shows the panel exactly when no song is loaded and help is wanted.
function helpShowState() {
  refreshBg();
}
function toggleHelp() {
  if (songLoaded) {
    helpOverSong = !helpOverSong;
    if (helpOverSong) pagePost('OPEN_HELP');
  } else {
    helpHidden = !helpHidden;
    if (!helpHidden) pagePost('OPEN_HELP');
  }
  helpShowState();
}

// A line as runs of narrow (below U+0080) and wide characters.
function helpRuns(line) {
  var runs = [];
  var re = /[\u0000-\u007f]+|[^\u0000-\u007f]+/g;
  var m;
  while ((m = re.exec(line))) runs.push({ text: m[0], narrow: m[0].charCodeAt(0) < 128 });
  return runs;
}

function helpGoPage(d, ev) {
  if (ev) ev.stopPropagation();
  if (_helpPageCount > 1) _helpPage = ((_helpPage + d) % _helpPageCount + _helpPageCount) % _helpPageCount;
  renderHelp();
}

function renderHelp() {
  try {
    var el = pageEl('help-panel');
    if (!el) return;
    if (!helpLines.length) { el.innerHTML = ''; el.style.pointerEvents = 'none'; return; }
    var top = pageEl('top-bar');
    var corner = pageEl('corner-buttons');
    el.style.position = 'fixed';
    el.style.left = '22px';
    el.style.right = '22px';
    el.style.top = (top ? top.getBoundingClientRect().bottom + 12 : 120) + 'px';
    var bottom = 14;
    if (corner && corner.offsetHeight && getComputedStyle(corner).display !== 'none') {
      bottom = Math.max(bottom, window.innerHeight - corner.getBoundingClientRect().top + 12);
    }
    el.style.bottom = bottom + 'px';
    el.style.columnWidth = 'auto';
    el.style.whiteSpace = 'pre';
    if (el.clientWidth < 50 || el.clientHeight < 50) {
      if (!_helpRetry) _helpRetry = setTimeout(function () { _helpRetry = 0; renderHelp(); }, 400);
      return;
    }
    var cs = getComputedStyle(el);
    if (!_helpCtx) _helpCtx = document.createElement('canvas').getContext('2d');
    var ctx = _helpCtx;
    var family = cs.fontFamily;
    ctx.font = cs.fontWeight + ' 100px ' + family;
    var cell100 = ctx.measureText('00000000000000000000').width / 20;
    if (!(cell100 > 0)) cell100 = 55;
    var widths = {};
    var width100 = function (t) {
      if (!(t in widths)) widths[t] = ctx.measureText(t).width;
      return widths[t];
    };
    var rows = helpLines.map(function (line) {
      var runs = helpRuns(String(line));
      var cells = 0;
      runs.forEach(function (r) {
        r.cells = r.narrow ? r.text.length : Math.max(1, Math.round(width100(r.text) / cell100));
        cells += r.cells;
      });
      return { runs: runs, cells: cells, blank: runs.length === 0 };
    });
    var sorted = rows.map(function (r) { return r.cells; }).sort(function (a, b) { return a - b; });
    var colCells = sorted[Math.floor(0.74 * rows.length)];
    if (colCells === undefined) colCells = 40;
    colCells = Math.max(30, colCells);
    var fs = helpFontPx > 0 ? helpFontPx : 26;
    var cell = cell100 * fs / 100;
    var W = el.clientWidth, H = el.clientHeight;
    var cols = Math.floor((W + 46) / (colCells * cell + 46));
    if (cols < 1) {
      cols = 1;
      fs = W / (colCells * cell100 / 100);
      cell = cell100 * fs / 100;
    }
    cols = Math.min(4, cols);
    var lineH = 1.55 * fs;
    var perCol = Math.max(1, Math.floor((H - 1.6 * lineH) / lineH));
    var perPage = cols * perCol;
    var pages = [];
    for (var s = 0; s < rows.length;) {
      var end = Math.min(rows.length, s + perPage);
      if (end < rows.length) {
        for (var b = end - 1; b >= Math.max(s + 2, end - Math.min(8, perPage)); b--) {
          if (rows[b].blank) { end = b + 1; break; }
        }
      }
      pages.push([s, end]);
      s = end;
    }
    _helpPageCount = pages.length;
    if (_helpPage >= _helpPageCount) _helpPage = 0;
    var html = '<div style="column-count:' + cols + '; column-gap:46px; column-fill:auto; height:' + (perCol * lineH) + 'px;">';
    var pg = pages[_helpPage];
    for (var i = pg[0]; i < pg[1]; i++) {
      var r = rows[i];
      if (r.blank) { html += '<div style="height:' + lineH + 'px;"></div>'; continue; }
      var inner = '';
      r.runs.forEach(function (run) {
        if (run.narrow) { inner += htmlEsc(run.text); return; }
        var w = width100(run.text) * fs / 100;
        var sp = (run.cells * cell - w) / run.text.length;
        inner += '<span style="letter-spacing:' + sp.toFixed(2) + 'px; margin-right:' + (-sp).toFixed(2) + 'px;">' + htmlEsc(run.text) + '</span>';
      });
      var squeeze = r.cells > colCells ? 'transform:scaleX(' + (colCells / r.cells).toFixed(4) + '); transform-origin:left;' : '';
      html += '<div class="help-row" style="height:' + lineH + 'px; break-inside:avoid; overflow:visible; white-space:pre;' + squeeze + '">' + inner + '</div>';
    }
    html += '</div>';
    var pfs = Math.max(15, 0.8 * fs);
    if (_helpPageCount > 1) {
      html += '<div class="help-pager" style="text-align:center; font-weight:bold; color:#ffd479; font-size:' + pfs + 'px;">' +
              '<span onclick="helpGoPage(-1, event)" style="cursor:pointer; padding:0 12px;">◀</span>' + (_helpPage + 1) + ' / ' + _helpPageCount +
              '<span onclick="helpGoPage(1, event)" style="cursor:pointer; padding:0 12px;">▶</span></div>';
    } else {
      html += '<div class="help-pager"></div>';
    }
    el.style.fontSize = fs + 'px';
    el.style.lineHeight = lineH + 'px';
    el.style.pointerEvents = _helpPageCount > 1 ? 'auto' : 'none';
    el.onclick = _helpPageCount > 1 ? function () { helpGoPage(1); } : null;
    el.innerHTML = html;
  } catch (e) {
    console.log('renderHelp: ' + e);
  }
}

function showQuitConfirm() {
  quitConfirmOpen = true;
  var el = pageEl('quit-confirm');
  if (!el) {
    el = document.createElement('div');
    el.id = 'quit-confirm';
    el.style.cssText = 'display:none; position:fixed; inset:0; z-index:400; background:rgba(0,0,0,0.92); align-items:center; justify-content:center;';
    el.innerHTML = '<div style="background:#1f2328; color:#fff; border:3px solid #e74c3c; border-radius:14px; padding:30px 40px; text-align:center; font-size:24px;">' +
      '<div style="font-weight:bold; margin-bottom:20px;">프로그램을 종료할까요?</div>' +
      '<button onclick="pagePost(\'QUIT_APP\')" style="margin:8px; padding:10px 24px; font-size:20px; font-weight:bold; background:#e74c3c; color:#fff; border:none; border-radius:8px; cursor:pointer;">예 (Y)</button>' +
      '<button onclick="hideQuitConfirm()" style="margin:8px; padding:10px 24px; font-size:20px; font-weight:bold; background:#555; color:#fff; border:none; border-radius:8px; cursor:pointer;">아니오 (N)</button>' +
      '<div style="margin-top:16px; font-size:15px; color:#bbb;">Enter 또는 Esc = 아니오 · 종료는 Y</div></div>';
    document.body.appendChild(el);
  }
  el.style.display = 'flex';
}
function hideQuitConfirm() {
  quitConfirmOpen = false;
  var el = pageEl('quit-confirm');
  if (el) el.style.display = 'none';
}

if (typeof window !== 'undefined' && window.addEventListener) {
  window.addEventListener('resize', function () { if (helpLines.length) renderHelp(); });
}
