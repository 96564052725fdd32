// ---- Backgrounds, lite mode, the customer background choice, mouse lock, custom fonts ----

var mainBgName = null, mainBgData = null, headerBgName = null, headerBgData = null;
var bgRandomOn = 0, randomBgData = null, lastBgVerse = 0;
var curSongLabel = '';
var liteMode = 0, liteSet = -1;
window.__liteMode = 0;
var cvVideoOn = 0, cvVideoName = '', cvVideoCount = 0;
var cvGpuForce = -1, cvPcScore = -1, cvPcWeak = 0, cvPcMeasured = 0, cvGpuActive = 0;
var cvVideoSrc = 0, cvCamList = [], cvCamLabel = '';
var mouseLockUserOff = 0, pcIsLaptop = 1;

function bgRerenderSettings() {
  if (settingsPanelOpen) renderSettingsPanel();
}
function bgEl(id) { return document.getElementById(id); }
function bgSongLoaded() { return typeof songLoaded !== 'undefined' && !!songLoaded; }
// A data address as a CSS url(): only the characters of a data address get through.
function bgCssUrl(data) { return "url('" + String(data).replace(/[^A-Za-z0-9+/=:;,._-]/g, '') + "')"; }

function refreshBg() {
  var root = bgEl('app-root'), stage = bgEl('main-stage'), lyr = bgEl('lyrics-stage');
  var corner = bgEl('corner-buttons'), help = bgEl('help-panel');
  var loaded = bgSongLoaded();
  if (root) {
    if (window.__liteMode) {
      root.style.backgroundImage = 'none';
      root.style.background = window.__customerMode ? '#000' : '#1b1e24';
    } else {
      root.style.backgroundColor = '';
      var img = loaded && bgRandomOn === 1 && randomBgData ? randomBgData : mainBgData;
      if (img) {
        root.style.background = bgCssUrl(img) + ' center / cover no-repeat';
      } else {
        root.style.background = 'linear-gradient(135deg,#efe9dc,#e3dcc9)';
      }
    }
  }
  if (corner) corner.style.display = loaded ? 'none' : 'flex';
  // F12 switches the help off on the home screen, and on over a song's screen (on a dark ground)
  var overSong = loaded && helpOverSong;
  if (help) {
    help.style.display = overSong || (!loaded && !helpHidden) ? '' : 'none';
    help.style.background = overSong ? 'rgba(10,12,16,0.92)' : '';
  }
  if (stage) { stage.style.backgroundImage = 'none'; stage.style.background = loaded ? '#fdfbf7' : 'transparent'; }
  if (lyr) { lyr.style.backgroundImage = 'none'; lyr.style.background = 'transparent'; }
}
function applyHeaderBg() {
  var bar = bgEl('top-bar');
  if (!bar) return;
  bar.style.background = headerBgData ? bgCssUrl(headerBgData) + ' center / cover no-repeat'
    : 'linear-gradient(180deg, #b4b8bd 0%, #929799 8%, #7d8288 48%, #666b71 82%, #565b61 100%)';
}

function setLiteMode(on, setting) {
  liteMode = on ? 1 : 0;
  liteSet = setting === 0 || setting === 1 ? setting : -1;
  window.__liteMode = liteMode;
  refreshBg();
  var row = bgEl('song-progress-row');
  if (row) row.style.display = liteMode ? 'none' : 'flex';
  if (window.__customerMode && typeof cwApplyLayout === 'function') cwApplyLayout();
  if (bgSongLoaded() && typeof window.__lastTick === 'number' && typeof updateTick === 'function') {
    updateTick(window.__lastTick);
  }
  bgRerenderSettings();
}
function setLiteMode2(v) {
  liteSet = v === 0 || v === 1 ? v : -1;
  pagePost('SET_LITE_MODE:' + liteSet);
  bgRerenderSettings();
}
function setGpuForce(v) { cvGpuForce = v; pagePost('SET_GPU_FORCE:' + v); bgRerenderSettings(); }
function initPcVideoInfo(gpu, score, weak, measured, active) {
  cvGpuForce = gpu; cvPcScore = score; cvPcWeak = weak; cvPcMeasured = measured; cvGpuActive = active;
  bgRerenderSettings();
}
function initCustomerVideo(on, name, count) {
  cvVideoOn = on; cvVideoName = name || ''; cvVideoCount = count || 0;
  bgRerenderSettings();
}
function initCamList(list, source, label) {
  cvCamList = Array.isArray(list) ? list : [];
  cvVideoSrc = source === 1 ? 1 : 0;
  cvCamLabel = label == null ? '' : label;
  bgRerenderSettings();
}
function setCustomerVideoSrc(v) { cvVideoSrc = v === 1 ? 1 : 0; pagePost('SET_CUSTOMER_VIDEO_SRC:' + cvVideoSrc); bgRerenderSettings(); }
function setCustomerCam(name) { pagePost('SET_CUSTOMER_CAM:' + (name == null ? '' : name)); bgRerenderSettings(); }
function setCustomerVideo(v) { pagePost('SET_CUSTOMER_VIDEO:' + v); bgRerenderSettings(); }

function initBgImages(name, data, headerName, headerData) {
  mainBgName = name || null; mainBgData = data || null;
  headerBgName = headerName || null; headerBgData = headerData || null;
  refreshBg();
  applyHeaderBg();
  bgRerenderSettings();
}
function onMainImagePicked(name, data) { mainBgName = name || null; mainBgData = data || null; refreshBg(); bgRerenderSettings(); }
function onHeaderImagePicked(name, data) { headerBgName = name || null; headerBgData = data || null; applyHeaderBg(); bgRerenderSettings(); }
function setBgRandom(v) {
  bgRandomOn = v;
  pagePost('SET_BG_RANDOM:' + v);
  if (!v) randomBgData = null;
  else pagePost('BG_RANDOM_NEXT');
  refreshBg();
  bgRerenderSettings();
}
function setBgRandomDisplay(v) {
  bgRandomOn = v;
  if (v === 1 && !randomBgData) pagePost('BG_RANDOM_NEXT');
  refreshBg();
  bgRerenderSettings();
}
function onRandomBgApplied(data) { randomBgData = data || null; refreshBg(); }

// Mouse lock: on a laptop the pointer is hidden and clicks swallowed while a song is up.
function setPcIsLaptop(v) { pcIsLaptop = v ? 1 : 0; applyMouseLockUi(); }
function songIsUp() { return (typeof jsPlaying !== 'undefined' && jsPlaying === 1) || bgSongLoaded(); }
function mouseLockActive() { return pcIsLaptop === 1 && songIsUp() && mouseLockUserOff === 0; }
function applyMouseLockUi() {
  var active = mouseLockActive();
  document.documentElement.classList.toggle('mouse-locked', active);
  var b = bgEl('mouse-lock-badge');
  if (!b) return;
  if (pcIsLaptop === 1 && songIsUp()) {
    b.style.display = 'inline-block';
    b.innerHTML = active ? '&#128433; 잠금' : '&#128433; 해제';
    b.style.color = active ? '#ffd280' : '#68727e';
    b.style.background = active ? 'rgba(243,156,18,0.18)' : 'rgba(255,255,255,0.05)';
    b.style.border = '1px solid ' + (active ? 'rgba(243,156,18,0.75)' : 'rgba(255,255,255,0.16)');
  } else {
    b.style.display = 'none';
  }
}
// The lock's state and badge, refreshed when a song comes up.
function updateMouseLockDisplay() { applyMouseLockUi(); }
// Back on the home screen the lock lets go and the operator's ALT+B release is forgotten.
function releaseMouseLock() { mouseLockUserOff = 0; applyMouseLockUi(); }
function toggleMouseLock() { mouseLockUserOff = mouseLockUserOff ? 0 : 1; applyMouseLockUi(); }
['mousedown', 'mouseup', 'click', 'dblclick', 'auxclick', 'contextmenu', 'pointerdown', 'pointerup'].forEach(function (type) {
  window.addEventListener(type, function (e) {
    if (!mouseLockActive()) return;
    e.preventDefault();
    e.stopImmediatePropagation();
  }, true);
});

// Custom lyric fonts from the fonts folder, loaded as web fonts from data addresses.
var lyricFontName = typeof lyricFontName === 'undefined' ? '' : lyricFontName;
var customFontList = [];
var customFontsLoaded = {};
function initCustomFonts(list) { customFontList = Array.isArray(list) ? list : []; }
function customFamilyName(name) { return 'CF_' + String(name).replace(/[^0-9A-Za-z\uAC00-\uD7A3]/g, '_'); }
function lyricFamilyOf(value) {
  value = value == null ? '' : String(value);
  return value.indexOf('file:') === 0 ? customFamilyName(value.substring(5)) : value;
}
function ensureCustomFontLoaded(value) {
  value = value == null ? '' : String(value);
  if (value.indexOf('file:') !== 0) return;
  var name = value.substring(5);
  if (!customFontsLoaded[name]) pagePost('LOAD_CUSTOM_FONT:' + name);
}
function onCustomFontData(name, dataUrl) {
  try {
    var face = new FontFace(customFamilyName(name), 'url(' + dataUrl + ')');
    face.load().then(function (loaded) {
      document.fonts.add(loaded);
      customFontsLoaded[name] = true;
      if (typeof applyLyricFont === 'function') applyLyricFont();
      bgRerenderSettings();
    }).catch(function (e) { console.log('font load fail:', name, e); });
  } catch (e) { console.log('font load fail:', name, e); }
}
