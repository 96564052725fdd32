// ---- Hangul composer ----
// The browser's renderer does not follow the system's Korean input method, so the page composes
// Hangul itself from two-set layout keys, syllable by syllable. Pure script: no state outside the
// composer object.

var HG_CHO = ['ㄱ', 'ㄲ', 'ㄴ', 'ㄷ', 'ㄸ', 'ㄹ', 'ㅁ', 'ㅂ', 'ㅃ', 'ㅅ', 'ㅆ', 'ㅇ', 'ㅈ', 'ㅉ', 'ㅊ', 'ㅋ', 'ㅌ', 'ㅍ', 'ㅎ'];
var HG_JUNG = ['ㅏ', 'ㅐ', 'ㅑ', 'ㅒ', 'ㅓ', 'ㅔ', 'ㅕ', 'ㅖ', 'ㅗ', 'ㅘ', 'ㅙ', 'ㅚ', 'ㅛ', 'ㅜ', 'ㅝ', 'ㅞ', 'ㅟ', 'ㅠ', 'ㅡ', 'ㅢ', 'ㅣ'];
var HG_JONG = ['', 'ㄱ', 'ㄲ', 'ㄳ', 'ㄴ', 'ㄵ', 'ㄶ', 'ㄷ', 'ㄹ', 'ㄺ', 'ㄻ', 'ㄼ', 'ㄽ', 'ㄾ', 'ㄿ', 'ㅀ', 'ㅁ', 'ㅂ', 'ㅄ', 'ㅅ', 'ㅆ', 'ㅇ', 'ㅈ', 'ㅊ', 'ㅋ', 'ㅌ', 'ㅍ', 'ㅎ'];
var HG_JUNG2 = { 'ㅗㅏ': 'ㅘ', 'ㅗㅐ': 'ㅙ', 'ㅗㅣ': 'ㅚ', 'ㅜㅓ': 'ㅝ', 'ㅜㅔ': 'ㅞ', 'ㅜㅣ': 'ㅟ', 'ㅡㅣ': 'ㅢ' };
var HG_JONG2 = { 'ㄱㅅ': 'ㄳ', 'ㄴㅈ': 'ㄵ', 'ㄴㅎ': 'ㄶ', 'ㄹㄱ': 'ㄺ', 'ㄹㅁ': 'ㄻ', 'ㄹㅂ': 'ㄼ', 'ㄹㅅ': 'ㄽ',
                 'ㄹㅌ': 'ㄾ', 'ㄹㅍ': 'ㄿ', 'ㄹㅎ': 'ㅀ', 'ㅂㅅ': 'ㅄ' };
var HG_KEY = { KeyQ: 'ㅂ', KeyW: 'ㅈ', KeyE: 'ㄷ', KeyR: 'ㄱ', KeyT: 'ㅅ', KeyY: 'ㅛ', KeyU: 'ㅕ', KeyI: 'ㅑ', KeyO: 'ㅐ',
               KeyP: 'ㅔ', KeyA: 'ㅁ', KeyS: 'ㄴ', KeyD: 'ㅇ', KeyF: 'ㄹ', KeyG: 'ㅎ', KeyH: 'ㅗ', KeyJ: 'ㅓ', KeyK: 'ㅏ',
               KeyL: 'ㅣ', KeyZ: 'ㅋ', KeyX: 'ㅌ', KeyC: 'ㅊ', KeyV: 'ㅍ', KeyB: 'ㅠ', KeyN: 'ㅜ', KeyM: 'ㅡ' };
var HG_KEY_SHIFT = { KeyQ: 'ㅃ', KeyW: 'ㅉ', KeyE: 'ㄸ', KeyR: 'ㄲ', KeyT: 'ㅆ', KeyO: 'ㅒ', KeyP: 'ㅖ' };

// The two parts of a compound final or vowel, from the joining tables read backwards.
var HG_JONG_SPLIT = {};
var HG_JUNG_SPLIT = {};
(function () {
  for (var k in HG_JONG2) HG_JONG_SPLIT[HG_JONG2[k]] = [k.charAt(0), k.charAt(1)];
  for (var j in HG_JUNG2) HG_JUNG_SPLIT[HG_JUNG2[j]] = [j.charAt(0), j.charAt(1)];
})();

function HangulComposer() {
  this.reset();
}

HangulComposer.prototype.reset = function () {
  this.done = '';   // committed text
  this.cho = -1;    // initial index, -1 none
  this.jung = -1;   // vowel index, -1 none
  this.jong = 0;    // final index, 0 none
};

// The syllable or lone jamo under composition.
HangulComposer.prototype.current = function () {
  if (this.cho >= 0 && this.jung >= 0) {
    return String.fromCharCode(0xAC00 + (this.cho * 21 + this.jung) * 28 + this.jong);
  }
  if (this.cho >= 0) return HG_CHO[this.cho];
  if (this.jung >= 0) return HG_JUNG[this.jung];
  return '';
};

HangulComposer.prototype.value = function () {
  return this.done + this.current();
};

HangulComposer.prototype.commit = function () {
  this.done += this.current();
  this.cho = -1;
  this.jung = -1;
  this.jong = 0;
};

// A consonant that starts a new syllable; one that can only be a final (a compound final typed as
// one character) is appended to the committed text, so it is never lost.
HangulComposer.prototype.startWith = function (c) {
  this.commit();
  var ci = HG_CHO.indexOf(c);
  if (ci >= 0) this.cho = ci;
  else this.done += c;
};

HangulComposer.prototype.input = function (ch) {
  var c = String(ch == null ? '' : ch);
  if (c.length !== 1) {
    for (var i = 0; i < c.length; i++) this.input(c.charAt(i));
    return;
  }
  var vi = HG_JUNG.indexOf(c);
  if (vi >= 0) {
    if (this.jong > 0) {
      // The final moves to a new syllable with this vowel; a compound final gives up its second part.
      var fin = HG_JONG[this.jong];
      var parts = HG_JONG_SPLIT[fin];
      var moved;
      if (parts) {
        this.jong = HG_JONG.indexOf(parts[0]);
        moved = parts[1];
      } else {
        this.jong = 0;
        moved = fin;
      }
      this.commit();
      this.cho = HG_CHO.indexOf(moved);
      this.jung = vi;
      return;
    }
    if (this.jung >= 0) {
      var joined = HG_JUNG2[HG_JUNG[this.jung] + c];
      if (joined) {
        this.jung = HG_JUNG.indexOf(joined);
        return;
      }
      this.commit();
      this.jung = vi;
      return;
    }
    this.jung = vi;
    return;
  }
  var isCho = HG_CHO.indexOf(c) >= 0;
  var ji = HG_JONG.indexOf(c);
  if (!isCho && ji <= 0) {
    this.commit();
    this.done += c;
    return;
  }
  if (this.cho >= 0 && this.jung >= 0) {
    if (this.jong === 0) {
      if (ji > 0) this.jong = ji;
      else this.startWith(c);
      return;
    }
    var compound = HG_JONG2[HG_JONG[this.jong] + c];
    if (compound) {
      this.jong = HG_JONG.indexOf(compound);
      return;
    }
    this.startWith(c);
    return;
  }
  this.startWith(c);
};

HangulComposer.prototype.backspace = function () {
  if (this.jong > 0) {
    var parts = HG_JONG_SPLIT[HG_JONG[this.jong]];
    this.jong = parts ? HG_JONG.indexOf(parts[0]) : 0;
    return;
  }
  if (this.jung >= 0) {
    var vp = HG_JUNG_SPLIT[HG_JUNG[this.jung]];
    this.jung = vp ? HG_JUNG.indexOf(vp[0]) : -1;
    return;
  }
  if (this.cho >= 0) {
    this.cho = -1;
    return;
  }
  // Whole code points, so a character outside the basic plane goes as one.
  var chars = Array.from(this.done);
  chars.pop();
  this.done = chars.join('');
};
