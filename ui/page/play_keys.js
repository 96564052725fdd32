// ---- Play keys and play display ----
// Starting the next song, reacting to a song's end, the random and medley play modes, the section
// jump panel (F6), the tempo panel (F10), the sax setters, and the displays of tempo, key, chord,
// tempo lock and mutes. The page talks to the program by posting commands only.

var jsPlaying = 0;
var jsIsPaused = false;
var songLoaded = false;
var baseSongTempo = 0;
var jsTempoAdjustBpm = 0;
var jsPitchTransposeSemitones = 0;
var tempoLockOn = 0;
var jsRhythmMult = 100;
var jsCvtBpm = 0;
var origKeyRootPc = 0;
var origKeyIsMinor = false;
var curKeyMale = 0, curKeyFemale = 0, curKeySongId = 0;
var modeRandom = false;
var modeMedley = false;
var recentRandomIds = [];
var f6PanelOpen = false;
var f10Open = false;
var f10Sel = 0;
var f10 = { bpm: 136, box: 100, spd: 100, fix: 0, songBpm: 0, saved: 0, cvt: 0 };
var saxExpr = 0, saxLayer = 0, saxBoost = 100, saxInsFx = 0, saxInsLv = 110, saxBend = 0, saxBreath = 0, saxGate = 100;
var lastChordRaw = '';
var START_BUSY_MS = 1500;

// ---- Start and next song ----

function nowMs() {
  return typeof performance !== 'undefined' ? performance.now() : Date.now();
}
function startBusy() {
  return !!window.__startBusy && nowMs() - (window.__startBusyAt || 0) < START_BUSY_MS;
}
function markStartBusy() {
  window.__startBusy = true;
  window.__startBusyAt = nowMs();
}
function takeReservedHead() {
  var r = reservedQueue.shift();
  if (typeof renderReservedQueue === 'function') renderReservedQueue();
  return r;
}

function playNowSong(entry, fromQueue, index) {
  if (!entry) return;
  if (!jsPlaying) {
    if (startBusy()) return;
    markStartBusy();
  }
  if (fromQueue) {
    var at = index >= 0 && reservedQueue[index] === entry ? index : reservedQueue.indexOf(entry);
    if (at >= 0) reservedQueue.splice(at, 1);
    renderReservedQueue();
  }
  pagePost((jsPlaying ? 'NEXT_SONG_ID:' : 'START_SONG_ID:') + resvMsgId(entry));
  closeSearchPanel();
}

function startOrNextReserved() {
  if (jsPlaying) { pagePost('DBG:ENTER_BLOCKED_PLAYING'); return; }
  if (startBusy()) { pagePost('DBG:ENTER_BUSY'); return; }
  pagePost('DBG:ENTER_GO reserved=' + reservedQueue.length + ' random=' + (modeRandom ? 1 : 0));
  markStartBusy();
  if (reservedQueue.length) {
    pagePost('START_SONG_ID:' + resvMsgId(takeReservedHead()));
    return;
  }
  if (modeRandom) {
    var id = pickRandomSongId();
    if (id >= 0) { pagePost('START_SONG_ID:' + id); return; }
  }
  pagePost('REPLAY_LAST');
}

function nextSongOrRepeat() {
  if (reservedQueue.length) { pagePost('NEXT_SONG_ID:' + resvMsgId(takeReservedHead())); return; }
  if (modeRandom) {
    var id = pickRandomSongId();
    if (id >= 0) { pagePost('NEXT_SONG_ID:' + id); return; }
  }
  pagePost('ALTZ_END_NOW');
}

function handleSongNaturalEnd() {
  if (window.__autoNextBusy) return;
  if (reservedQueue.length) { pagePost('NEXT_SONG_ID:' + resvMsgId(takeReservedHead())); return; }
  if (modeRandom) {
    var id = pickRandomSongId();
    pagePost(id >= 0 ? 'NEXT_SONG_ID:' + id : 'SONG_END_NO_NEXT_STOP');
    return;
  }
  pagePost(modeMedley ? 'SONG_END_NO_NEXT' : 'SONG_END_NO_NEXT_STOP');
}

function handleLyricsEndAutoNext() {
  if (modeMedley && reservedQueue.length) {
    window.__autoNextBusy = true;
    pagePost('AUTO_NEXT_SONG_ID:' + resvMsgId(takeReservedHead()));
    return;
  }
  if (modeRandom) {
    var id = pickRandomSongId();
    if (id >= 0) {
      window.__autoNextBusy = true;
      pagePost('AUTO_NEXT_SONG_ID:' + id);
    }
  }
}

function setPlayingState(v) {
  jsPlaying = v ? 1 : 0;
  applyMouseLockUi();
}

// The bar-jump keys: the first press posts at once; a held key repeats at most every 110 ms
// (45 ms while paused, where the jump is all the operator sees).
var lastMeasureJumpT = 0;
function sendMeasureJump(msg, repeat) {
  var now = nowMs();
  if (repeat && now - lastMeasureJumpT < (jsIsPaused ? 45 : 110)) return;
  lastMeasureJumpT = now;
  pagePost(msg);
}

// ALT+F9: the current song's lyric syllables as "tick,first UTF-16 code,line" entries.
function requestVocalExport() {
  var id = curSongIdForHistory > 0 ? curSongIdForHistory : curKeySongId > 0 ? curKeySongId : 0;
  var entries = [];
  try {
    var n = Math.min(allSyllablesFlat.length, syncTicks.length);
    for (var i = 0; i < n; i++) {
      var syl = String(allSyllablesFlat[i]);
      if (!syl || syl === ' ' || syl === '\t') continue;
      var line = syllableMap[i] && syllableMap[i].line >= 0 ? syllableMap[i].line : 0;
      entries.push(syncTicks[i] + ',' + syl.charCodeAt(0) + ',' + line);
    }
  } catch (e) {
    console.error(e);
    entries = [];
  }
  pagePost('VOCAL_EXPORT:' + id + '|' + entries.join(';'));
}

// ---- Play modes ----

var modeToastTimer = 0;
// The page badge at the top of the stage for 1.5 seconds.
function modeToast(text) {
  if (typeof document === 'undefined') return;
  var el = pageEl('mode-toast');
  if (!el) {
    el = document.createElement('div');
    el.id = 'mode-toast';
    el.style.cssText = 'position:fixed; top:17%; left:50%; transform:translateX(-50%); background:rgba(0,0,0,0.85); color:#fff; font-size:22px; font-weight:bold; padding:8px 20px; border-radius:999px; z-index:2147480001; display:none;';
    document.body.appendChild(el);
  }
  el.textContent = text;
  el.style.display = 'block';
  clearTimeout(modeToastTimer);
  modeToastTimer = setTimeout(function () { el.style.display = 'none'; }, 1500);
}

function renderModeBadges() {
  var r = pageEl('mode-r-badge');
  if (r) {
    r.title = 'ALT+R : 랜덤 연주 (장르별) - 예약곡이 없으면 랜덤으로 계속 이어갑니다';
    r.style.opacity = modeRandom ? '1' : '0.6';
    r.style.background = modeRandom ? '#f1c40f' : 'transparent';
    r.style.color = modeRandom ? '#000' : '#ddd';
  }
  var m = pageEl('mode-md-badge');
  if (m) {
    m.title = 'Backspace : 메들리 - 곡과 곡 사이에 필인을 넣습니다. 원곡만 재생 중이었으면 곡 끝에 템포에 맞는 리듬을 이어 붙입니다. (CVT 가 켜져 있으면 MD 와 상관없이 곡이 끝나도 리듬은 계속 흐릅니다)';
    m.style.opacity = modeMedley ? '1' : '0.6';
    m.style.background = modeMedley ? '#2ecc71' : 'transparent';
    m.style.color = modeMedley ? '#000' : '#ddd';
  }
}
function postPlayMode() {
  pagePost('SET_PLAY_MODE:' + (modeRandom ? 1 : 0) + ':' + (modeMedley ? 1 : 0));
}
function toggleModeRandom() {
  modeRandom = !modeRandom;
  if (modeRandom) modeMedley = false;
  renderModeBadges();
  postPlayMode();
  modeToast(modeRandom ? 'R  랜덤 연주 ON (다음곡부터 적용)' : 'R  랜덤 연주 OFF');
}
function toggleModeMedley() {
  modeMedley = !modeMedley;
  if (modeMedley) modeRandom = false;
  renderModeBadges();
  postPlayMode();
  modeToast(modeMedley ? 'MD  메들리 ON (곡 사이 필인 + 원곡만일 때 곡 끝 리듬 연결)' : 'MD  메들리 OFF (곡 사이 필인 없음)');
}

// A song to play next at random, near the current one in genre or tempo; -1 with no catalogue.
function pickRandomSongId() {
  if (!songDb.length) return -1;
  var curId = typeof curSongIdForHistory !== 'undefined' ? curSongIdForHistory : 0;
  var cur = curId > 0 ? songById(curId) : null;
  var excluded = function (s) { return s.id === curId || recentRandomIds.indexOf(s.id) >= 0; };
  var pool = [];
  var genre = cur ? strField(cur.genre).trim() : '';
  if (cur) pool = songDb.filter(function (s) { return !excluded(s) && strField(s.genre).trim() === genre; });
  if (pool.length < 3 && cur && cur.tempo > 0) {
    var span = Math.max(8, cur.tempo * 0.12);
    pool = songDb.filter(function (s) { return !excluded(s) && s.tempo > 0 && Math.abs(s.tempo - cur.tempo) <= span; });
  }
  if (pool.length < 3) pool = songDb.filter(function (s) { return !excluded(s); });
  if (!pool.length) pool = songDb;
  var pick = pool[Math.floor(Math.random() * pool.length)];
  recentRandomIds.push(pick.id);
  var keep = Math.max(1, Math.min(30, Math.floor(songDb.length / 2)));
  while (recentRandomIds.length > keep) recentRandomIds.shift();
  return pick.id;
}

// ---- Section jump panel (F6) ----

var F6_TILES = [['전주', '1', 0], ['짧은전주', '2', 5], ['1절', '3', 10], ['간주', '4', 20], ['짧은간주', '5', 25],
                ['2절', '6', 30], ['2절간주', '7', -1], ['3절', '8', 33], ['엔딩', '9', 40], ['짧은엔딩', '0', 45]];
function renderF6Panel() {
  var el = pageEl('f6-panel');
  if (!el) return;
  var html = '<div style="background:rgba(10,10,10,0.95); padding:8px; color:#ddd;"><div style="display:flex; gap:6px;">' +
    '<div class="f6-tile f6-accent" onclick="closeF6Panel()"><span class="f6-label">연주</span><span class="f6-key">F6</span></div>';
  for (var i = 0; i < F6_TILES.length; i++) {
    var t = F6_TILES[i];
    html += '<div class="f6-tile' + (t[2] < 0 ? ' f6-disabled' : '') + '" onclick="f6Jump(' + t[2] + ')"><span class="f6-label">' + t[0] +
      '</span><span class="f6-key">' + t[1] + '</span></div>';
  }
  el.innerHTML = html + '</div><div style="text-align:center; font-size:12px; margin-top:4px;">구간 이동 &middot; Esc/Enter 닫기</div></div>';
}
function toggleF6Panel() { if (f6PanelOpen) closeF6Panel(); else openF6Panel(); }
function openF6Panel() {
  f6PanelOpen = true;
  renderF6Panel();
  var el = pageEl('f6-panel');
  if (el) el.style.display = 'block';
}
function closeF6Panel() {
  f6PanelOpen = false;
  var el = pageEl('f6-panel');
  if (el) el.style.display = 'none';
}
function f6Jump(v) {
  if (v < 0) return;
  pagePost('JUMP_CC:' + v);
  closeF6Panel();
}

// ---- Tempo panel (F10) ----

var F10_CELLS = [{ label: 'CVT-Tempo', key: 'bpm', lo: 30, hi: 300, step: 1, big: 5 },
                 { label: 'BOX-Speed', key: 'box', lo: 25, hi: 400, step: 5, big: 25 },
                 { label: '연주속도', key: 'spd', lo: 50, hi: 200, step: 1, big: 5 }];
function toggleF10Panel() { if (f10Open) closeF10Panel(); else openF10Panel(); }
function openF10Panel() {
  if (mixerOpen) closeMixer();
  if (scoreOpen) closeScorePanel();
  f10Open = true;
  f10Sel = 0;
  pagePost('F10_REQ');
  renderF10();
  var el = pageEl('f10-overlay');
  if (el) el.style.display = 'block';
}
function closeF10Panel() {
  f10Open = false;
  var el = pageEl('f10-overlay');
  if (el) el.style.display = 'none';
}
function updateF10(bpm, box, spd, fix, songBpm, saved, cvt) {
  f10.bpm = +bpm || f10.bpm;
  f10.box = +box || f10.box;
  f10.spd = +spd || f10.spd;
  f10.fix = fix ? 1 : 0;
  f10.songBpm = +songBpm || 0;
  f10.saved = saved ? 1 : 0;
  f10.cvt = cvt ? 1 : 0;
  renderF10();
}
function f10Move(d) {
  f10Sel = (f10Sel + d + F10_CELLS.length) % F10_CELLS.length;
  renderF10();
}
function f10Adjust(sign, big) {
  var c = F10_CELLS[f10Sel];
  var v = Math.max(c.lo, Math.min(c.hi, f10[c.key] + sign * (big ? c.big : c.step)));
  f10[c.key] = v;
  renderF10();
  pagePost('F10_SET:' + f10Sel + ':' + v);
}
function f10Fix() { pagePost('F10_FIX'); }
function f10SaveSong() { pagePost('F10_SAVE_SONG'); closeF10Panel(); }
function f10SaveBox() { pagePost('F10_SAVE_BOX'); closeF10Panel(); }
function renderF10() {
  var el = pageEl('f10-overlay');
  if (!el) return;
  var html = '<div style="background:rgba(10,10,10,0.95); color:#eee; padding:8px 14px; display:flex; gap:14px; align-items:center;">';
  for (var i = 0; i < F10_CELLS.length; i++) {
    var c = F10_CELLS[i];
    var v = f10[c.key];
    var active = i === 0 ? f10.fix && f10.cvt : v !== 100;
    html += '<div style="padding:4px 10px; border-radius:6px; border:2px solid ' + (i === f10Sel ? '#f39c12' : '#444') + ';' +
      (active ? ' color:#2fe6cf;' : '') + '">' + c.label + ' <b>' + v + (i === 0 ? '' : '%') + '</b></div>';
  }
  var fixText = f10.fix && f10.cvt ? 'CVT 고정 ON' : f10.fix ? 'CVT 고정 ON (CVT 켜면 적용)' : '원곡 템포';
  html += '<div>' + fixText + ' (Space)</div>';
  if (f10.saved) html += '<div style="color:#2ecc71;">✓ 이 곡 템포 저장됨</div>';
  el.innerHTML = html + '<div style="color:#aaa;">S=현재곡의 템포저장  D=리듬박스템포저장  (F10)</div></div>';
}

// ---- Sax setters ----

function saxChanged() {
  if (typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) {
    renderSettingsPanel();
  }
}
function setSaxExpr(v) { saxExpr = v ? 1 : 0; pagePost('SET_SAX_EXPR:' + saxExpr); saxChanged(); }
function setSaxLayer(v) { saxLayer = v ? 1 : 0; pagePost('SET_SAX_LAYER:' + saxLayer); saxChanged(); }
function setSaxInsFx(v) { saxInsFx = v ? 1 : 0; pagePost('SET_SAX_INSFX:' + saxInsFx); saxChanged(); }
function setSaxBend(v) { saxBend = v ? 1 : 0; pagePost('SET_SAX_BEND:' + saxBend); saxChanged(); }
function setSaxBreath(v) { saxBreath = v ? 1 : 0; pagePost('SET_SAX_BREATH:' + saxBreath); saxChanged(); }
function adjSaxBoost(d) { saxBoost = Math.max(100, Math.min(300, saxBoost + d)); pagePost('SET_SAX_BOOST:' + saxBoost); saxChanged(); }
function adjSaxInsLv(d) { saxInsLv = Math.max(60, Math.min(127, saxInsLv + d)); pagePost('SET_SAX_INSLV:' + saxInsLv); saxChanged(); }
function adjSaxGate(d) { saxGate = Math.max(70, Math.min(100, saxGate + d)); pagePost('SET_SAX_GATE:' + saxGate); saxChanged(); }
function setSaxExprDisplay(v) { saxExpr = v ? 1 : 0; saxChanged(); }
function setSaxLayerDisplay(v) { saxLayer = v ? 1 : 0; saxChanged(); }
function setSaxBoostDisplay(v) { saxBoost = parseInt(v, 10) || 100; saxChanged(); }
function setSaxInsFxDisplay(on, lv) { saxInsFx = on ? 1 : 0; saxInsLv = parseInt(lv, 10) || saxInsLv; saxChanged(); }
function setSaxPlayDisplay(bend, breath, gate) {
  saxBend = bend ? 1 : 0;
  saxBreath = breath ? 1 : 0;
  saxGate = parseInt(gate, 10) || saxGate;
  saxChanged();
}
function saxDuckPct(boost) {
  if (boost <= 100) return 100;
  return Math.max(50, 100 - Math.floor((boost - 100) * 35 / 100));
}

// ---- Key and chord names ----

var KEY_LETTER_NAMES = ['C', 'C#', 'D', 'Eb', 'E', 'F', 'F#', 'G', 'Ab', 'A', 'Bb', 'B'];
var NOTE_PREF_NAMES = ['C', 'C#', 'D', 'Eb', 'E', 'F', 'F#', 'G', 'Ab', 'A', 'Bb', 'B'];
var NOTE_NAME_TO_PC = KEY_ROOT_PC;

function keyNameAtOffset(off) {
  var pc = ((origKeyRootPc + (off | 0)) % 12 + 12) % 12;
  return KEY_LETTER_NAMES[pc] + (origKeyIsMinor ? 'm' : '');
}
function currentKeyName() {
  return songLoaded ? keyNameAtOffset(jsPitchTransposeSemitones) : '-';
}
function pitchDisplayHTML() {
  if (!songLoaded) return '-';
  return '<b style="color:#2ecc71;">' + currentKeyName() + '</b>(원 ' + keyNameAtOffset(0) + ' · 남 ' + keyNameAtOffset(curKeyMale) +
    ' · 여 ' + keyNameAtOffset(curKeyFemale) + ')';
}
function transposeNoteToken(tok, semis) {
  var m = /^([A-Ga-g])([#b]?)/.exec(tok);
  if (!m) return tok;
  var pc = NOTE_NAME_TO_PC[m[1].toUpperCase() + m[2]];
  if (pc === undefined) pc = NOTE_NAME_TO_PC[m[1].toUpperCase()];
  var to = ((pc + (semis | 0)) % 12 + 12) % 12;
  return NOTE_PREF_NAMES[to] + tok.substring(m[0].length);
}
function transposeChordName(name, semis) {
  return strField(name).split('/').map(function (p) { return transposeNoteToken(p, semis); }).join('/');
}
function updateCurrentChordDisplay(raw) {
  lastChordRaw = strField(raw);
  var el = pageEl('current-chord-display');
  if (!el) return;
  el.textContent = '코드: ' + (lastChordRaw ? transposeChordName(lastChordRaw, jsPitchTransposeSemitones) : '-');
}

// ---- Tempo and key display ----

function tempoLockBadge() {
  return tempoLockOn
    ? '<span style="background:#e74c3c; color:#fff; border-radius:4px; padding:0 5px; box-shadow:0 0 8px #ff3b30; margin-right:6px;">L</span>'
    : '<span style="background:#777; color:#ddd; border-radius:4px; padding:0 5px; margin-right:6px;">L</span>';
}
function renderTempoDisplay() {
  var el = pageEl('tempo-display');
  if (!el) return;
  var text = '-';
  if (songLoaded && baseSongTempo > 0) {
    var songT = baseSongTempo + jsTempoAdjustBpm;
    if (jsRhythmMult && jsRhythmMult !== 100) {
      text = Math.round(songT * jsRhythmMult / 100) + ' (곡 ' + songT + ' / 원 ' + baseSongTempo + ')';
    } else {
      text = songT + ' (원 ' + baseSongTempo + ')';
    }
  } else if (!songLoaded && jsCvtBpm > 0) {
    text = jsCvtBpm + ' (CVT)';
  }
  el.innerHTML = tempoLockBadge() + htmlEsc(text);
}
function setSongBpm(b) {
  if (b > 0) {
    baseSongTempo = +b;
    renderTempoDisplay();
  }
}
function setTempoLockDisplay(v) {
  tempoLockOn = v ? 1 : 0;
  renderTempoDisplay();
}
function updateTempoPitchDisplay(tempoOff, key, skipScore) {
  jsTempoAdjustBpm = parseInt(tempoOff, 10) || 0;
  jsPitchTransposeSemitones = parseInt(key, 10) || 0;
  if (f10Open) pagePost('F10_REQ');
  renderTempoDisplay();
  var pd = pageEl('pitch-display');
  if (pd) pd.innerHTML = pitchDisplayHTML();
  updateCurrentChordDisplay(lastChordRaw);
  if (!skipScore) {
    scoreRedraw();
  }
}
function updateMelodyMuteDisplay(muted) {
  var el = pageEl('melody-mute-badge');
  if (el) el.style.display = muted ? '' : 'none';
}
function updateSoloMuteDisplay(which, muted) {
  var el = pageEl(which === 2 ? 'solo2-mute-badge' : 'solo1-mute-badge');
  if (el) el.style.display = muted ? '' : 'none';
}
