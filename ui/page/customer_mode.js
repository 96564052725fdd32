// ---- Customer window: the main page's settings of it, and customer mode of the page copy ----

// Main page: the customer-window settings the settings panel shows.
var monitorList = [];
var customerMonitor = 0;
var mainMonitor = 0;
var customerBright = 100;
var cwLyricsPct = 53;
var cwScoreFillPct = 100;

function cwRerenderSettings() {
  if (settingsPanelOpen) renderSettingsPanel();
}
function cwClamp(v, lo, hi) {
  v = parseInt(v, 10);
  if (isNaN(v)) v = lo;
  return v < lo ? lo : v > hi ? hi : v;
}

function initMonitorList(list, current, main) {
  monitorList = Array.isArray(list) ? list : [];
  customerMonitor = parseInt(current, 10) || 0;
  mainMonitor = parseInt(main, 10) || 0;
  cwRerenderSettings();
}
function setCustomerMonitor(n) {
  customerMonitor = n;
  pagePost('SET_CUSTOMER_MONITOR:' + n);
  cwRerenderSettings();
}
function initCustomerBright(v) { customerBright = v; cwRerenderSettings(); }
function initCwLyricsPct(v) { cwLyricsPct = v; cwRerenderSettings(); }
function initCwScoreFill(v) { cwScoreFillPct = v; cwRerenderSettings(); }
function adjCustomerBright(d) {
  customerBright = cwClamp(customerBright + d, 50, 200);
  pagePost('SET_CUSTOMER_BRIGHT:' + customerBright);
  cwRerenderSettings();
}
function adjCwLyricsPct(d) {
  cwLyricsPct = cwClamp(cwLyricsPct + d, 35, 62);
  pagePost('SET_CW_LYRICS_PCT:' + cwLyricsPct);
  cwRerenderSettings();
}
function adjCwScoreFill(d) {
  cwScoreFillPct = cwClamp(cwScoreFillPct + d, 50, 150);
  pagePost('SET_CW_SCORE_FILL:' + cwScoreFillPct);
  cwRerenderSettings();
}

// Short titles: the first n characters and an ellipsis; the whole title stays in el.__full.
function shortLabel(s, n) {
  s = (s == null ? '' : String(s)).trim();
  if (n === undefined) n = 5;
  return s.length > n ? s.substring(0, n) + '\u2026' : s;
}
function fullLabel(el) {
  if (!el) return '';
  if (el.__full !== undefined) return el.__full;
  return el.innerText || el.textContent || '';
}

// Customer mode.
var CW_LYRIC_BOOST = 1.25;
var CW_SCORE_FILL = 1.0;
var CW_LYRICS_PCT = 53;
var cwVideoOn = 0;
var cwVideoName = '';

function cwEl(id) { return document.getElementById(id); }

var CW_CHROME = ['corner-buttons', 'net-badge', 'rs-overlay', 'debug-chord-info', 'help-panel', 'f6-panel',
  'ins-overlay', 'song-search-overlay', 'history-overlay', 'fav-overlay', 'fav-input-overlay', 'settings-overlay',
  'keyedit-overlay', 'update-overlay', 'pccheck-overlay', 'countdown-overlay', 'test-audio-badge', 'medley-overlay',
  'ext-overlay'];
var CW_SILENCED = ['openSearchPanel', 'closeSearchPanel', 'openF6Panel', 'openSoundPanel', 'openMixer',
  'openScorePanel', 'openSettingsPanel', 'openF2Panel', 'openFavPanel', 'openUpdateModal', 'openKeyEditor',
  'openAudioPanel', 'openInsInput', 'openFavInput', 'renderSettingsPanel', 'presetModal', 'presetModalClose',
  'showPcCheck', 'openPcCheck', 'pcCheckProgress', 'openMedleyPanel', 'toggleMedleyPanel', 'renderMedleyPanel',
  'updateModalProgress', 'updateDone'];

function cwHideChrome() {
  for (var i = 0; i < CW_CHROME.length; i++) {
    var el = cwEl(CW_CHROME[i]);
    if (el) el.style.display = 'none';
  }
}

// Replaces the global function `name` by one that runs it and then `after`; errors of either are
// swallowed.
function cwWrap(name, after) {
  var old = window[name];
  if (typeof old !== 'function') return;
  window[name] = function () {
    var r;
    try { r = old.apply(this, arguments); } catch (e) { console.error(e); }
    try { after.apply(this, arguments); } catch (e) { console.error(e); }
    return r;
  };
}

function enterCustomerMode() {
  if (window.__customerMode) {
    cwHideChrome();
    cwApplyLayout();
    return;
  }
  window.__customerMode = 1;
  for (var i = 0; i < CW_SILENCED.length; i++) {
    if (typeof window[CW_SILENCED[i]] === 'function') window[CW_SILENCED[i]] = function () {};
  }
  window.alert = function () {};
  window.confirm = function () { return false; };
  window.prompt = function () { return null; };
  cwWrap('refreshBg', function () {
    cwHideChrome();
    if (window.__cwVideoOn) {
      var root = cwEl('app-root');
      if (root) { root.style.background = 'transparent'; root.style.backgroundImage = 'none'; }
    }
  });
  cwWrap('applyLyricFontScale', function () { cwFitLyrics(); });
  cwWrap('resetToHomeScreen', function () { cwHideChrome(); cwApplyLayout(); });
  cwWrap('setLyricsHtml', function () { cwFitLyrics(); });
  cwLockStaffMode();
  cwHideChrome();
  cwApplyLayout();
  try {
    if (document.fonts && document.fonts.ready) document.fonts.ready.then(function () { cwApplyLayout(); });
  } catch (e) { console.error(e); }
  setTimeout(function () { cwApplyLayout(); }, 600);
}

function cwLockStaffMode() {
  if (window.__cwStaffLocked) return;
  window.__cwStaffLocked = true;
  var old = window.applyStaffMode;
  if (typeof old !== 'function') return;
  window.applyStaffMode = function (redraw) {
    window.staffMode = 0;
    window.fullScoreOn = 0;
    return old.call(this, redraw);
  };
}

function cwSongLoaded() {
  return typeof curMeasures !== 'undefined' && !!curMeasures;
}

function cwApplyLayout() {
  try {
    var root = cwEl('app-root'), stage = cwEl('main-stage'), lyr = cwEl('lyrics-stage');
    if (!root || !stage || !lyr) return;
    if (stage.nextSibling !== lyr) stage.parentNode.insertBefore(lyr, stage.nextSibling);
    window.staffMode = 0;
    window.fullScoreOn = 0;
    root.style.position = 'relative';
    var s = stage.style;
    s.display = 'block'; s.position = 'relative'; s.left = ''; s.top = ''; s.right = ''; s.bottom = '';
    s.width = ''; s.zIndex = ''; s.background = 'transparent'; s.flex = '1 1 auto'; s.height = 'auto'; s.minHeight = '0';
    var l = lyr.style;
    l.position = ''; l.left = ''; l.top = ''; l.right = ''; l.bottom = ''; l.background = 'transparent'; l.zIndex = '1';
    if (typeof applyStaffMode === 'function') { try { applyStaffMode(false); } catch (e) { console.error(e); } }
    var pct = typeof CW_LYRICS_PCT === 'number' && !isNaN(CW_LYRICS_PCT) ? CW_LYRICS_PCT : 42;
    l.height = pct + '%';
    l.minHeight = '0';
    var video = cwEl('cw-bg-video'), scrim = cwEl('cw-scrim');
    if (video) { video.style.top = '0'; video.style.height = '100%'; }
    if (window.__cwVideoOn) {
      root.style.background = 'transparent';
      root.style.backgroundImage = 'none';
      if (scrim) scrim.style.display = 'block';
    } else if (scrim) {
      scrim.style.display = 'none';
    }
    var pad = Math.max(4, Math.round(window.innerHeight * 0.008));
    l.display = 'flex'; l.flexDirection = 'column'; l.justifyContent = 'center';
    l.padding = pad + 'px 1%';
    var big = cwEl('big-lyrics');
    if (big) {
      var b = big.style;
      b.width = '98%'; b.maxWidth = 'none'; b.flex = '1 1 auto'; b.display = 'flex'; b.flexDirection = 'column';
      if (window.__cwVideoOn) {
        b.justifyContent = 'flex-end';
        b.paddingBottom = Math.round(window.innerHeight * 0.05) + 'px';
      } else {
        b.justifyContent = 'center';
        b.paddingBottom = '0';
      }
    }
    cwScaleChrome();
    document.documentElement.style.overflow = 'hidden';
    if (document.body) document.body.style.overflow = 'hidden';
    cwSetBright(customerBright);
    if (typeof refreshBg === 'function') { try { refreshBg(); } catch (e) { console.error(e); } }
    if (cwSongLoaded() && typeof drawPage === 'function') { try { drawPage(); } catch (e) { console.error(e); } }
    cwFitLyrics();
    requestAnimationFrame(function () {
      if (cwSongLoaded() && typeof drawPage === 'function') { try { drawPage(); } catch (e) { console.error(e); } }
      cwFitLyrics();
      cwReportLayout('rAF');
    });
    cwReportLayout('즉시');
  } catch (e) { console.error(e); }
}

function cwScaleChrome() {
  var bar = cwEl('top-bar');
  if (!bar) return;
  var k = Math.min(2.6, Math.max(1, window.innerHeight / 1080));
  for (var i = 0; i < bar.children.length; i++) bar.children[i].style.zoom = k;
}

function cwRelayoutSoon() {
  if (!window.__customerMode) return;
  if (window.__cwRelayoutT) clearTimeout(window.__cwRelayoutT);
  window.__cwRelayoutT = setTimeout(function () { window.__cwRelayoutT = 0; cwApplyLayout(); }, 150);
}
window.addEventListener('resize', cwRelayoutSoon);

function cwSetBright(v) {
  v = cwClamp(v, 50, 200);
  customerBright = v;
  var root = cwEl('app-root');
  if (root) root.style.filter = v === 100 ? 'none' : 'brightness(' + v / 100 + ')';
}

function cwReportLayout(tag) {
  try {
    var h = function (id) { var e = cwEl(id); return e ? Math.round(e.clientHeight) : -1; };
    var lyr = cwEl('lyrics-stage');
    var disp = lyr ? getComputedStyle(lyr).display : '?';
    var v = function (name) { return typeof window[name] === 'undefined' ? -1 : window[name]; };
    pagePost('CW_LAYOUT:' + tag + ' 창' + h('app-root') + ' 상단' + h('top-bar') + ' 악보칸' + h('main-stage') +
      ' 가사칸' + h('lyrics-stage') + ' 가사display=' + disp + ' 악보상자' + h('grandStaff') + ' 캔버스H' +
      v('CANVAS_H') + ' 설정%' + CW_LYRICS_PCT + ' staffMode=' + v('staffMode') + ' noteScale=' + v('noteScale') +
      ' 곡=' + (cwSongLoaded() ? '있음' : '없음'));
  } catch (e) { console.error(e); }
}

// Lyric fitting: as large as the box allows, each line kept on one row where it can be.
function cwBaseFontPx() {
  var lyr = cwEl('lyrics-stage');
  var W = lyr && lyr.clientWidth > 40 ? lyr.clientWidth : (window.innerWidth || 1920);
  var H = lyr && lyr.clientHeight > 40 ? lyr.clientHeight : 0.7 * (window.innerHeight || 1080);
  return Math.max(16, Math.min(W / 18, H / 4.2));
}
function cwSetLyricFont(extra) {
  var big = cwEl('big-lyrics');
  if (!big) return;
  var scale = typeof lyricFontScale === 'undefined' ? 1 : lyricFontScale / 100;
  big.style.fontSize = Math.max(12, Math.round(cwBaseFontPx() * scale * CW_LYRIC_BOOST * extra)) + 'px';
}
function cwFitLyrics() {
  try {
    var big = cwEl('big-lyrics');
    if (!big) return;
    big.style.overflow = 'hidden';
    big.style.minHeight = '0';
    var extra = 1.0;
    cwSetLyricFont(extra);
    var lines = big.children;
    var i;
    for (i = 0; i < lines.length; i++) { lines[i].style.transform = ''; lines[i].style.whiteSpace = 'nowrap'; }
    var availW = big.clientWidth - 8;
    if (availW > 40) {
      var minK = 1;
      for (i = 0; i < lines.length; i++) {
        var w = lines[i].scrollWidth;
        if (w > 0) minK = Math.min(minK, availW / w);
      }
      if (minK < 1) { extra *= Math.max(minK, 0.45); cwSetLyricFont(extra); }
    }
    for (i = 0; i < lines.length; i++) lines[i].style.whiteSpace = '';
    var n = 0;
    while (big.scrollHeight > big.clientHeight + 2 && extra > 0.45 && n++ < 14) { extra *= 0.92; cwSetLyricFont(extra); }
    // a line still too wide is scaled down to the width, never wrapped into the other line's place
    for (i = 0; i < lines.length; i++) {
      lines[i].style.whiteSpace = 'nowrap';
      fitLyricLineWidth(lines[i], big.clientWidth - 8);
    }
    n = 0;
    while (big.scrollHeight > big.clientHeight + 2 && extra > 0.45 && n++ < 10) { extra *= 0.92; cwSetLyricFont(extra); }
  } catch (e) { console.error(e); }
}

// Background video and capture input of the customer page.
function cwStopVideoWatch() {
  if (window.__cwVidWatch) clearInterval(window.__cwVidWatch);
  window.__cwVidWatch = 0;
}
function cwSetVideo(on, name) {
  try {
    var v = cwEl('cw-bg-video');
    cwVideoOn = on && name ? 1 : 0;
    cwVideoName = name || '';
    window.__cwVideoOn = cwVideoOn;
    cwStopVideoWatch();
    if (!v) return;
    if (cwVideoOn) {
      cwStopCam();
      v.srcObject = null;
      var src = mediaUrl(VIDEO_HOST, cwVideoName);
      if (v.getAttribute('src') !== src) { v.setAttribute('src', src); v.load(); }
      v.style.display = 'block';
      v.muted = true;
      v.loop = true;
      var p = v.play();
      if (p && p.catch) p.catch(function () {});
      window.__cwVidLastT = -1;
      window.__cwVidStallTotal = window.__cwVidStallTotal || 0;
      window.__cwVidWatch = setInterval(function () {
        if (window.__cwVideoLowPc && window.__cwPlaying) { window.__cwVidLastT = -1; return; }
        var t = v.currentTime;
        if (window.__cwVidLastT >= 0 && Math.abs(t - window.__cwVidLastT) < 0.02) {
          window.__cwVidStallTotal++;
          if (v.paused) { var q = v.play(); if (q && q.catch) q.catch(function () {}); }
        }
        window.__cwVidLastT = t;
      }, 1000);
    } else {
      v.pause();
      v.style.display = 'none';
      v.removeAttribute('src');
      try { v.load(); } catch (e) {}
    }
    if (window.__customerMode) cwApplyLayout();
  } catch (e) { console.error(e); }
}
function cwVideoLowPc(v) { window.__cwVideoLowPc = v ? 1 : 0; }
function cwVideoPlayState(playing) {
  window.__cwPlaying = playing ? 1 : 0;
  var v = cwEl('cw-bg-video');
  if (!v || !window.__cwVideoOn) return;
  if (window.__cwVideoLowPc && window.__cwPlaying) v.pause();
  else { var p = v.play(); if (p && p.catch) p.catch(function () {}); }
}
// Every start or stop of a background makes an earlier camera request stale: a stream granted
// late is then stopped instead of shown over the newer choice.
window.__cwCamReq = 0;
function cwStopCam() {
  window.__cwCamReq = (window.__cwCamReq || 0) + 1;
  var s = window.__cwCamStream;
  if (s) { try { s.getTracks().forEach(function (t) { t.stop(); }); } catch (e) {} }
  window.__cwCamStream = null;
  var v = cwEl('cw-bg-video');
  if (v) v.srcObject = null;
  window.__cwCamMode = 0;
}
function cwReportCams(devices) {
  var labels = [];
  var n = 0;
  (devices || []).forEach(function (d) {
    if (d.kind !== 'videoinput') return;
    n++;
    labels.push(d.label ? d.label : '장치 ' + n);
  });
  pagePost('CW_CAMLIST:' + labels.join('\t'));
  return labels;
}
function cwListCams() {
  if (!navigator.mediaDevices || !navigator.mediaDevices.enumerateDevices) { pagePost('CW_CAMERR:no-media'); return; }
  navigator.mediaDevices.enumerateDevices().then(cwReportCams).catch(function () {});
}
function cwSetCam(on, label) {
  var v = cwEl('cw-bg-video');
  if (!on) {
    cwStopCam();
    if (v) v.style.display = 'none';
    window.__cwVideoOn = 0;
    if (window.__customerMode) cwApplyLayout();
    return;
  }
  if (!v) return;
  if (!navigator.mediaDevices || !navigator.mediaDevices.getUserMedia) { pagePost('CW_CAMERR:no-media'); return; }
  cwStopCam();
  var req = window.__cwCamReq;
  var stale = function (stream) {
    if (req === window.__cwCamReq) return false;
    if (stream) { try { stream.getTracks().forEach(function (t) { t.stop(); }); } catch (e) {} }
    return true;
  };
  var size = { width: { ideal: 1280 }, height: { ideal: 720 } };
  var md = navigator.mediaDevices;
  md.getUserMedia({ video: size, audio: false }).then(function (stream) {
    if (stale(stream)) return null;
    return md.enumerateDevices().then(function (devices) {
      cwReportCams(devices);
      if (!label) return stream;
      var found = null;
      devices.forEach(function (d) { if (d.kind === 'videoinput' && d.label === label && !found) found = d; });
      var track = stream.getVideoTracks()[0];
      var granted = track && track.getSettings ? track.getSettings().deviceId : '';
      if (!found || found.deviceId === granted) return stream;
      stream.getTracks().forEach(function (t) { t.stop(); });
      return md.getUserMedia({ video: { deviceId: { exact: found.deviceId }, width: size.width, height: size.height }, audio: false });
    });
  }).then(function (stream) {
    if (!stream || stale(stream)) return;
    window.__cwCamStream = stream;
    window.__cwCamMode = 1;
    window.__cwVideoOn = 1;
    v.removeAttribute('src');
    v.srcObject = stream;
    v.muted = true;
    v.loop = false;
    v.style.display = 'block';
    var p = v.play();
    if (p && p.catch) p.catch(function () {});
    if (window.__customerMode) cwApplyLayout();
  }).catch(function (e) {
    if (stale(null)) return;
    window.__cwVideoOn = 0;
    pagePost('CW_CAMERR:' + (e && e.name ? e.name : 'fail'));
    if (window.__customerMode) cwApplyLayout();
  });
}
