// ---- Custom fonts of the fonts folder ----
// A font file of the fonts folder becomes a web font of the page: the program sends its bytes as
// a data address and the lyric display uses the family named after the file.

var customFontList = [];
var customFontsLoaded = {};

function initCustomFonts(list) {
  customFontList = Array.isArray(list) ? list : [];
}
function customFamilyName(name) {
  return 'CF_' + String(name).replace(/[^0-9A-Za-z\uAC00-\uD7A3]/g, '_');
}
function lyricFamilyOf(value) {
  value = String(value || '');
  return value.indexOf('file:') === 0 ? customFamilyName(value.substring(5)) : value;
}
function ensureCustomFontLoaded(value) {
  value = String(value || '');
  if (value.indexOf('file:') !== 0) return;
  var name = value.substring(5);
  if (!customFontsLoaded[name]) pagePost('LOAD_CUSTOM_FONT:' + name);
}
function onCustomFontData(name, dataUrl) {
  var face = new FontFace(customFamilyName(name), 'url(' + dataUrl + ')');
  face.load().then(function (f) {
    document.fonts.add(f);
    customFontsLoaded[name] = true;
    applyLyricFont();
    spRefresh();
  }, function (err) {
    console.log('font load fail:', name, err);
  });
}
