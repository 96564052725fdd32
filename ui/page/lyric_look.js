// ---- Lyric look ----
// The lyric font, the colours of waiting and sung syllables and the lyric size. The setters post
// the choice to the program; the "Display" forms show a stored value without sending it back.

var lyricWaitColor = '#ffcc00';
var lyricSungColor = '#ff2000';
var lyricFontScale = 100;

function lyricRerenderSettings() {
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) {
    renderSettingsPanel();
  }
}

function applyLyricFont() {
  var el = pageEl('big-lyrics');
  if (!el) return;
  var name = typeof lyricFontName !== 'undefined' ? lyricFontName : '';
  var family = lyricFamilyOf(name);
  el.style.fontFamily = family ? "'" + family + "', 'Malgun Gothic', sans-serif" : "'Malgun Gothic', sans-serif";
}
function showLyricFont(name) {
  window.lyricFontName = name || '';
  ensureCustomFontLoaded(window.lyricFontName);
  applyLyricFont();
}
function setLyricFont(name) {
  showLyricFont(name);
  pagePost('SET_LYRIC_FONT:' + (name || ''));
  lyricRerenderSettings();
}
function setLyricFontDisplay(name) {
  showLyricFont(name);
  lyricRerenderSettings();
}

function applyLyricWaitColor() { document.documentElement.style.setProperty('--lyrWait', lyricWaitColor); }
function applyLyricSungColor() { document.documentElement.style.setProperty('--lyrSung', lyricSungColor); }
// Sets the waiting ('wait') or sung colour; posted when chosen here, else shown as stored.
function setLyricColour(kind, c, post) {
  var wait = kind === 'wait';
  var value = c || (wait ? '#ffcc00' : '#ff2000');
  if (wait) { lyricWaitColor = value; applyLyricWaitColor(); }
  else { lyricSungColor = value; applyLyricSungColor(); }
  if (post) pagePost((wait ? 'SET_LYRIC_WAITCOL:' : 'SET_LYRIC_SUNGCOL:') + value);
  else lyricRerenderSettings();
}
function setLyricWaitColor(c) { setLyricColour('wait', c, true); }
function setLyricWaitColorDisplay(c) { setLyricColour('wait', c, false); }
function setLyricSungColor(c) { setLyricColour('sung', c, true); }
function setLyricSungColorDisplay(c) { setLyricColour('sung', c, false); }

// The lyric size for a scale in percent: at least 48 px, at most 200 px (both scaled), in between
// following the window.
function lyricFontSizeCss(scale) {
  var k = scale / 100;
  return 'clamp(' + Math.round(48 * k) + 'px, max(' + (9.26 * k).toFixed(2) + 'vh, min(' + (7 * k).toFixed(2) +
         'vw, ' + Math.round(100 * k) + 'px)), ' + Math.round(200 * k) + 'px)';
}
function clampLyricScale(v) {
  var n = parseInt(v, 10);
  if (isNaN(n)) n = 0;
  return Math.max(50, Math.min(200, n));
}
function applyLyricFontScale() {
  var el = pageEl('big-lyrics');
  if (el) el.style.fontSize = lyricFontSizeCss(lyricFontScale);
}
function setLyricFontScale(v) {
  lyricFontScale = clampLyricScale(v);
  applyLyricFontScale();
  pagePost('SET_LYRIC_FONTSIZE:' + lyricFontScale);
  lyricRerenderSettings();
}
function adjLyricFontScale(d) { setLyricFontScale(lyricFontScale + d); }
function setLyricFontScaleDisplay(v) {
  lyricFontScale = clampLyricScale(v);
  applyLyricFontScale();
  lyricRerenderSettings();
}
