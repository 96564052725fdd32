// ---- Sound panels ----
// The tone panel (ALT+F4) with its detail view, the mixer (F4, F5, ALT+F5), the equalizer
// (CTRL+E), the external-module panel (ALT+9), the MIDI device dialog (CTRL+I) and the small
// output setters. Each panel keeps its state here and talks to the program only through page
// commands; the program fills the state at boot.

function spClamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)); }

// ---- tone panel ----
var soundTbl = [];
var soundPanelOpen = false;
var soundDetailOpen = false;
var soundCat = 2;
var soundRhythmCtx = 0;
var soundSel = 0;
var soundNames = {};
var soundTones = {};
var soundDetailParam = 0;
var SOUND_CATS = [[2, '베이스기타'], [0, '베이스드럼'], [1, '스네어드럼'], [3, '세컨기타'], [4, '하이햇'], [7, '멜로디']];
var SOUND_PARAMS = {
  0: ['volume', 'pitch', 'filterLow', 'filter'],
  1: ['volume', 'pitch', 'filterLow', 'filter', 'reverb'],
  2: ['volume', 'filterLow', 'filter'],
  3: ['volume', 'filterLow', 'filter'],
  4: ['volume', 'pitch', 'filterLow', 'filter'],
  7: ['volume', 'octave', 'filterLow', 'filter']
};
var SOUND_PARAM_INFO = {
  volume: ['볼륨', 'SOUND_VOL_', 0, 127],
  pitch: ['피치', 'SOUND_PITCH_', -24, 24],
  filter: ['필터 HI', 'SOUND_FILTER_', 0, 127],
  reverb: ['리버브', 'SOUND_REVERB_', 0, 127],
  filterLow: ['필터 LOW', 'SOUND_FILTERLOW_', 0, 127],
  octave: ['옥타브', 'SOUND_OCT_', -1, 1]
};
var SOUND_TONE_FIELDS = ['volume', 'pitch', 'filter', 'reverb', 'filterLow', 'comp', 'octave'];

function initSoundTable(arr) {
  soundTbl = Array.isArray(arr) ? arr : [];
}
function soundNameKey(cat, ctx) { return cat === 3 ? '3_' + ctx : String(cat); }
function soundToneKey(cat, ctx) { return cat + '_' + (cat === 3 ? ctx : 0); }
function soundDefaults() { return { volume: 100, pitch: 0, filter: 64, reverb: 40, filterLow: 64, comp: 0, octave: 0 }; }
function soundTone(cat, ctx) {
  var k = soundToneKey(cat, ctx);
  if (!soundTones[k]) soundTones[k] = soundDefaults();
  return soundTones[k];
}
function initSoundState(names, tones) {
  soundNames = {};
  (names || []).forEach(function (p) { if (p && p.length >= 2) soundNames[String(p[0])] = String(p[1]); });
  soundTones = {};
  (tones || []).forEach(function (t) {
    if (!t || t.length < 5) return;
    soundTones[String(t[0])] = {
      volume: t[1], pitch: t[2], filter: t[3], reverb: t[4],
      filterLow: t.length > 5 ? t[5] : 64, comp: t.length > 6 ? t[6] : 0, octave: t.length > 7 ? t[7] : 0
    };
  });
  if (soundPanelOpen) soundRender();
}
function updateSoundToneDisplay(cat, ctx, volume, pitch, filter, reverb, filterLow, comp, octave) {
  soundTones[soundToneKey(cat, ctx)] = {
    volume: volume, pitch: pitch, filter: filter, reverb: reverb, filterLow: filterLow, comp: comp, octave: octave
  };
  if (soundPanelOpen && soundDetailOpen) soundRender();
}
// The entries of the current category: "Default" first, names beginning with "Yamaha" last.
function soundList() {
  var rank = function (e) { return e.name === 'Default' ? 0 : (/^yamaha/i.test(e.name) ? 2 : 1); };
  var items = [];
  soundTbl.forEach(function (e, i) { if (e.type === soundCat) items.push({ e: e, index: i }); });
  return items.map(function (it, order) { return { it: it, order: order }; })
    .sort(function (a, b) { return rank(a.it.e) - rank(b.it.e) || a.order - b.order; })
    .map(function (x) { return x.it; });
}
function soundCurrentName(cat) { return soundNames[soundNameKey(cat, soundRhythmCtx)] || 'Default'; }
function soundSelectCurrent() {
  var list = soundList();
  var name = soundCurrentName(soundCat);
  soundSel = 0;
  for (var i = 0; i < list.length; i++) if (list[i].e.name === name) { soundSel = i; break; }
}
function soundApply() {
  var list = soundList();
  if (!list.length) return;
  var item = list[spClamp(soundSel, 0, list.length - 1)];
  soundNames[soundNameKey(soundCat, soundRhythmCtx)] = item.e.name;
  pagePost('APPLY_SOUND:' + soundCat + ':' + (soundCat === 3 ? soundRhythmCtx : 0) + ':' + item.index);
}
function soundCatLabel(cat) {
  for (var i = 0; i < SOUND_CATS.length; i++) if (SOUND_CATS[i][0] === cat) return SOUND_CATS[i][1];
  return '';
}
function soundRender() {
  var ov = pageEl('soundtbl-overlay');
  if (!ov) return;
  var html = '<div style="background:rgba(10,16,32,0.95); color:#fff; padding:10px 16px; font-size:18px;">';
  html += '<div id="soundtbl-row" style="display:flex; gap:8px;">';
  SOUND_CATS.forEach(function (c) {
    var on = c[0] === soundCat;
    html += '<div class="soundtbl-cat" data-cat="' + c[0] + '" style="padding:4px 10px; border-radius:6px; ' +
      (on ? 'background:#2f7de1;' : 'background:#223;') + '">' + htmlEsc(c[1]) + '<br><small>' +
      htmlEsc(soundCurrentName(c[0])) + '</small></div>';
  });
  html += '</div>';
  html += '<div id="soundtbl-ctx" style="margin:4px 0;' + (soundCat === 3 ? '' : ' display:none;') + '">대상(Tab): ' +
    (soundRhythmCtx ? '확장리듬' : '원곡') + '</div>';
  if (soundDetailOpen) {
    var t = soundTone(soundCat, soundRhythmCtx);
    var params = SOUND_PARAMS[soundCat] || [];
    html += '<div id="soundtbl-detail"><div>세부조정 : ' + htmlEsc(soundCatLabel(soundCat)) + '</div>';
    html += '<div style="font-size:13px; color:#9ab;">←→ 항목 · ↑↓ 1 · PgUp/PgDn 5 · E 목록 · Esc 닫기</div>';
    params.forEach(function (p, i) {
      var v = t[p];
      var shown = p === 'pitch' ? (v > 0 ? '+' + v : String(v)) : p === 'octave' ? (v > 0 ? '+1' : v < 0 ? '-1' : '0') : String(v);
      html += '<span class="soundtbl-param" data-param="' + p + '" style="display:inline-block; margin:4px; padding:4px 10px; ' +
        (i === soundDetailParam ? 'background:#2f7de1;' : 'background:#223;') + '">' + htmlEsc(SOUND_PARAM_INFO[p][0]) +
        ' <b>' + htmlEsc(shown) + '</b></span>';
    });
    html += '</div>';
  } else {
    var list = soundList();
    html += '<div id="soundtbl-list-wrap" style="max-height:220px; overflow:auto;">';
    if (!soundTbl.length) html += '<div>0개 - ' + rootPathHtml('system/SOUNDTBL.CFG') + '를 찾지 못했습니다</div>';
    list.forEach(function (it, i) {
      html += '<div class="soundtbl-item" data-i="' + i + '" style="padding:2px 8px;' +
        (i === soundSel ? ' background:#2f7de1;' : '') + '">' + htmlEsc(it.e.name) + '</div>';
    });
    html += '</div>';
  }
  html += '</div>';
  ov.innerHTML = html;
  Array.prototype.forEach.call(ov.querySelectorAll('.soundtbl-item'), function (el) {
    el.onclick = function () { soundSel = Number(el.getAttribute('data-i')); soundApply(); soundRender(); };
  });
}
function openSoundPanel() {
  soundPanelOpen = true;
  soundDetailOpen = false;
  pagePost('SOUND_STATE_REQ');
  soundSelectCurrent();
  var ov = pageEl('soundtbl-overlay');
  if (ov) ov.style.display = 'block';
  soundRender();
}
function closeSoundPanel() {
  soundPanelOpen = false;
  soundDetailOpen = false;
  var ov = pageEl('soundtbl-overlay');
  if (ov) ov.style.display = 'none';
}
function toggleSoundPanel() { if (soundPanelOpen) closeSoundPanel(); else openSoundPanel(); }
function soundMoveCat(d) {
  var i = 0;
  for (var j = 0; j < SOUND_CATS.length; j++) if (SOUND_CATS[j][0] === soundCat) i = j;
  soundCat = SOUND_CATS[(i + d + SOUND_CATS.length) % SOUND_CATS.length][0];
  soundDetailParam = 0;
  soundSelectCurrent();
}
function soundDetailStep(step) {
  var params = SOUND_PARAMS[soundCat] || [];
  var p = params[soundDetailParam];
  if (!p) return;
  var info = SOUND_PARAM_INFO[p];
  var t = soundTone(soundCat, soundRhythmCtx);
  t[p] = spClamp(t[p] + step, info[2], info[3]);
  soundRender();
  pagePost(info[1] + (step > 0 ? 'UP' : 'DOWN') + ':' + soundCat + ':' + (soundCat === 3 ? soundRhythmCtx : 0) + ':' +
    Math.abs(step));
}
function soundPanelKey(e) {
  var k = e.key;
  e.preventDefault();
  if (k === 'Escape') { closeSoundPanel(); return; }
  if (soundDetailOpen) {
    var n = (SOUND_PARAMS[soundCat] || []).length;
    if (k === 'ArrowLeft' && n) soundDetailParam = (soundDetailParam + n - 1) % n;
    else if (k === 'ArrowRight' && n) soundDetailParam = (soundDetailParam + 1) % n;
    else if (k === 'ArrowUp') { soundDetailStep(1); return; }
    else if (k === 'ArrowDown') { soundDetailStep(-1); return; }
    else if (k === 'PageUp') { soundDetailStep(5); return; }
    else if (k === 'PageDown') { soundDetailStep(-5); return; }
    else if (isKey(e, 'e')) soundDetailOpen = false;
    soundRender();
    return;
  }
  var list = soundList();
  var move = { ArrowUp: -1, ArrowDown: 1, PageUp: -5, PageDown: 5 }[k];
  if (k === 'ArrowLeft') soundMoveCat(-1);
  else if (k === 'ArrowRight') soundMoveCat(1);
  else if (move) {
    if (!list.length) return;
    var next = spClamp(soundSel + move, 0, list.length - 1);
    if (next !== soundSel) { soundSel = next; soundApply(); }
  } else if (k === 'Enter' || k === ' ') soundApply();
  else if (k === 'Tab') {
    if (soundCat !== 3) return;
    soundRhythmCtx = soundRhythmCtx ? 0 : 1;
    soundApply();
  } else if (isKey(e, 'e')) { soundDetailOpen = true; soundDetailParam = 0; }
  soundRender();
}

// ---- mixer ----
var mixerOpen = false;
var mixerBank = 'main';
var mixerMode = 0;  // 0 volume, 1 reverb, 2 chorus
var mixerSel = 0;   // 0 = master cell
var mixerMaxPct = 100;
var mixerPollTimer = null;
var mixerFxTimer = null, mixerFxSaveTimer = null, mixerFxLastSend = 0, mixerFxSavePending = false;
var MIXER_MODES = ['볼륨', '잔향', '코러스'];
function mixerPart(label, chans) {
  return { label: label, chans: chans, level: 100, mute: false, act: false, rev: 0, cho: 0, fxPending: false };
}
var MIXER_BANKS = {
  main: { index: 0, title: '볼륨 조절 (F4)', master: 100, parts: [
    mixerPart('멜로디', [[0, 0]]), mixerPart('솔로1', [[0, 1], [0, 2]]), mixerPart('솔로2', [[0, 3], [0, 4], [0, 15]]),
    mixerPart('피아노', [[0, 5], [0, 6]]), mixerPart('현악', [[0, 7], [1, 3], [1, 4], [1, 5], [1, 6]]),
    mixerPart('기타', [[1, 0], [1, 1], [1, 2]]), mixerPart('브라스', [[0, 13], [0, 14], [1, 7], [1, 8]]),
    mixerPart('신스', [[1, 13], [1, 14], [1, 15]])] },
  drum: { index: 1, title: '원곡 드럼 (F5)', master: 100, parts: [
    mixerPart('B.D', [[0, 9]]), mixerPart('S.D', [[0, 10]]), mixerPart('H.H', [[0, 11]]), mixerPart('T.T', [[0, 12]]),
    mixerPart('ETC', [[1, 9], [1, 10], [1, 11], [1, 12]]), mixerPart('B.GT', [[0, 8]])] },
  cvtdrum: { index: 2, title: 'CVT 드럼 (ALT+F5)', master: 100, parts: [
    mixerPart('B.GT', [[0, 8]]), mixerPart('Guita', [[0, 6]]), mixerPart('B.D', [[0, 9]]), mixerPart('S.D', [[0, 10]]),
    mixerPart('H.H', [[0, 11]]), mixerPart('T.T', [[0, 13]]), mixerPart('Perc', [[0, 12]]), mixerPart('돔돔', [[0, 14]]),
    mixerPart('GHJ', [[0, 15]])] }
};
function mixerBankByIndex(i) {
  for (var k in MIXER_BANKS) if (MIXER_BANKS[k].index === i) return MIXER_BANKS[k];
  return null;
}
function initMixerFromApp(levels, rhythm, revs, chos, masters) {
  ['main', 'drum', 'cvtdrum'].forEach(function (name) {
    var b = MIXER_BANKS[name];
    var m = masters && masters.length > b.index ? masters[b.index] : 100;
    b.master = typeof m === 'number' ? m : 100;
    b.parts.forEach(function (p) {
      var pc = p.chans[0];
      var v = name === 'cvtdrum' ? (rhythm || [])[pc[1]] : (levels || [])[pc[0] * 16 + pc[1]];
      if (typeof v !== 'number') v = 100;
      if (v <= 0) { p.mute = true; p.level = 0; } else { p.mute = false; p.level = Math.min(v, 150); }
      p.rev = (revs || [])[pc[0] * 16 + pc[1]] || 0;
      p.cho = (chos || [])[pc[0] * 16 + pc[1]] || 0;
    });
  });
  if (mixerOpen) mixerRender();
}
function setMixerMaxPct(p) {
  if (p > 0) mixerMaxPct = p;
  if (mixerOpen) mixerRender();
}
function setMixerActFromApp(flags, rhythmOn) {
  if (!flags || flags.length < 32) return;
  var changed = false;
  ['main', 'drum', 'cvtdrum'].forEach(function (name) {
    MIXER_BANKS[name].parts.forEach(function (p) {
      var on = p.chans.some(function (pc) { return !!flags[pc[0] * 16 + pc[1]]; });
      if (name === 'drum' && rhythmOn) on = false;
      if (name === 'cvtdrum' && !rhythmOn) on = false;
      if (on !== p.act) { p.act = on; changed = true; }
    });
  });
  if (changed && mixerOpen) mixerRender();
}
function setMixerVolsFromApp(levels) {
  if (!mixerOpen || !levels) return;
  MIXER_BANKS[mixerBank].parts.forEach(function (p) {
    var v = levels[p.chans[0][0] * 16 + p.chans[0][1]];
    if (!p.mute && typeof v === 'number') p.level = spClamp(v, 0, 127);
  });
  mixerRender();
}
function mixerRender() {
  var ov = pageEl('mixer-overlay');
  if (!ov) return;
  var b = MIXER_BANKS[mixerBank];
  var title = b.title + (mixerBank === 'main' ? ' · E=잔향/코러스' : '') + (mixerMode ? ' · ' + MIXER_MODES[mixerMode] + ' (E)' : '');
  var cell = function (i, label, body, extra) {
    return '<div class="mixer-cell" data-i="' + i + '" style="display:inline-block; width:84px; margin:3px; padding:4px; text-align:center; ' +
      (i === mixerSel ? 'background:#2f7de1;' : 'background:#223;') + '">' + (extra || '') + '<div>' + htmlEsc(label) + '</div>' + body + '</div>';
  };
  var bar = function (frac, boosted) {
    return '<div style="height:6px; background:#111;"><div style="height:6px; width:' + Math.round(spClamp(frac, 0, 1) * 100) +
      '%; background:' + (boosted ? '#ff8040' : '#2ecc71') + ';"></div></div>';
  };
  var html = '<div id="mixer-row" style="background:rgba(10,16,32,0.95); color:#fff; padding:8px; font-size:15px;">';
  html += '<div class="mixer-title">' + htmlEsc(title) + '</div>';
  html += cell(0, '전체', mixerMode ? '' : bar(b.master / mixerMaxPct, b.master > 100) + '<div>' + b.master + '%</div>');
  b.parts.forEach(function (p, i) {
    var body;
    if (mixerMode) {
      var off = mixerMode === 1 ? p.rev : p.cho;
      body = bar(Math.abs(off) / 40, false) + '<div>' + (off > 0 ? '+' + off : String(off)) + '</div>';
    } else {
      body = bar(p.level / mixerMaxPct, p.level > 100) + '<div>' + (p.mute ? '뮤트' : p.level + '%') + '</div>';
    }
    var led = '<span class="mixer-led" style="display:inline-block; width:8px; height:8px; border-radius:4px; background:' +
      (p.act && !p.mute ? '#2ecc71; animation:mixerPulse 0.6s infinite' : '#444') + ';"></span>';
    html += cell(i + 1, p.label, body, led);
  });
  html += '</div>';
  ov.innerHTML = html;
}
function mixerPostLevels(p) {
  var cmd = mixerBank === 'cvtdrum' ? 'SET_CVT_PCT:' : 'SET_CH_PCT:';
  var v = p.mute ? 0 : Math.min(p.level, mixerMaxPct);
  p.chans.forEach(function (pc) { pagePost(cmd + pc[0] + ':' + pc[1] + ':' + v); });
}
function mixerFlushFx() {
  if (mixerFxTimer) { clearTimeout(mixerFxTimer); mixerFxTimer = null; }
  MIXER_BANKS.main.parts.forEach(function (p) {
    if (!p.fxPending) return;
    p.fxPending = false;
    p.chans.forEach(function (pc) {
      pagePost('SET_CH_REV:' + pc[0] + ':' + pc[1] + ':' + p.rev);
      pagePost('SET_CH_CHO:' + pc[0] + ':' + pc[1] + ':' + p.cho);
    });
    mixerFxSavePending = true;
  });
  mixerFxLastSend = nowMs();
  if (mixerFxSavePending) {
    if (mixerFxSaveTimer) clearTimeout(mixerFxSaveTimer);
    mixerFxSaveTimer = setTimeout(mixerSaveFx, 400);
  }
}
function mixerSaveFx() {
  if (mixerFxSaveTimer) { clearTimeout(mixerFxSaveTimer); mixerFxSaveTimer = null; }
  if (!mixerFxSavePending) return;
  mixerFxSavePending = false;
  pagePost('SAVE_MIXER_FX');
}
function mixerScheduleFx() {
  if (mixerFxTimer) return;
  var wait = Math.max(0, 120 - (nowMs() - mixerFxLastSend));
  mixerFxTimer = setTimeout(function () { mixerFxTimer = null; mixerFlushFx(); }, wait);
}
function openMixer(bank) {
  closeScorePanel();
  closeF10Panel();
  mixerFlushFx();
  mixerBank = bank;
  mixerOpen = true;
  mixerSel = 0;
  if (bank !== 'main') mixerMode = 0;
  var ov = pageEl('mixer-overlay');
  if (ov) ov.style.display = 'block';
  if (mixerPollTimer) clearInterval(mixerPollTimer);
  mixerPollTimer = setInterval(function () { pagePost('REQUEST_CH_ACT'); }, 120);
  mixerRender();
}
function closeMixer() {
  mixerOpen = false;
  if (mixerPollTimer) { clearInterval(mixerPollTimer); mixerPollTimer = null; }
  mixerFlushFx();
  mixerSaveFx();
  var ov = pageEl('mixer-overlay');
  if (ov) ov.style.display = 'none';
}
function toggleMixer(bank) {
  if (mixerOpen && mixerBank === bank) closeMixer(); else openMixer(bank);
}
function mixerChange(step) {
  var b = MIXER_BANKS[mixerBank];
  if (mixerMode) {
    var field = mixerMode === 1 ? 'rev' : 'cho';
    var parts = mixerSel === 0 ? b.parts : [b.parts[mixerSel - 1]];
    parts.forEach(function (p) { p[field] = spClamp(p[field] + step, -40, 40); p.fxPending = true; });
    mixerScheduleFx();
    return;
  }
  if (mixerSel === 0) {
    b.master = spClamp(b.master + step, 0, mixerMaxPct);
    pagePost('SET_MIX_MASTER:' + b.index + ':' + b.master);
  } else {
    var p = b.parts[mixerSel - 1];
    p.level = spClamp(p.level + step, 0, mixerMaxPct);
    p.mute = false;
    mixerPostLevels(p);
  }
  saveEnv();
}
function mixerToggleMute() {
  var b = MIXER_BANKS[mixerBank];
  if (mixerMode) {
    var field = mixerMode === 1 ? 'rev' : 'cho';
    (mixerSel === 0 ? b.parts : [b.parts[mixerSel - 1]]).forEach(function (p) { p[field] = 0; p.fxPending = true; });
    mixerScheduleFx();
    return;
  }
  var parts = mixerSel === 0 ? b.parts : [b.parts[mixerSel - 1]];
  var muteAll = mixerSel === 0 ? b.parts.some(function (p) { return !p.mute; }) : !parts[0].mute;
  parts.forEach(function (p) { p.mute = muteAll; mixerPostLevels(p); });
  saveEnv();
}
function mixerKey(e) {
  var k = e.key;
  var n = MIXER_BANKS[mixerBank].parts.length + 1;
  e.preventDefault();
  if (k === 'ArrowLeft') mixerSel = (mixerSel + n - 1) % n;
  else if (k === 'ArrowRight') mixerSel = (mixerSel + 1) % n;
  else if (k === 'ArrowUp') mixerChange(1);
  else if (k === 'ArrowDown') mixerChange(-1);
  else if (k === 'PageUp') mixerChange(5);
  else if (k === 'PageDown') mixerChange(-5);
  else if (k === ' ') mixerToggleMute();
  else if (isKey(e, 'e') && mixerBank === 'main') { mixerFlushFx(); mixerMode = (mixerMode + 1) % 3; }
  else if (k === 'Escape' || k === 'Enter') {
    if (mixerMode) { mixerFlushFx(); mixerMode = 0; } else { closeMixer(); return; }
  } else if (k === 'F4') { closeMixer(); return; }
  else return;
  if (mixerOpen) mixerRender();
}

// ---- global volume display ----
var volAllUser = 64, volOrchUser = 64;
function updateGlobalVolDisplay(all, orch) {
  volAllUser = all;
  volOrchUser = orch;
  var a = pageEl('vol-all-display'), o = pageEl('vol-orch-display');
  if (a) a.textContent = String(all);
  if (o) o.textContent = String(orch);
}

// ---- equalizer ----
var eqOpen = false;
var eqSel = 0;
var eqVals = [0, 0, 0, 0];  // low band, low gain (dB), high band, high gain (dB)
var EQ_CARDS = [['저음 대역', ['200Hz', '400Hz']], ['저음 게인'], ['고음 대역', ['3kHz', '6kHz']], ['고음 게인']];
function initEqFromApp(lowBand, lowGain, highBand, highGain) {
  eqVals = [lowBand ? 1 : 0, lowGain - 64, highBand ? 1 : 0, highGain - 64];
  if (eqOpen) eqRender();
}
function eqPost() {
  pagePost('SET_EQ:' + eqVals[0] + ':' + (64 + eqVals[1]) + ':' + eqVals[2] + ':' + (64 + eqVals[3]));
  eqRender();
}
function eqSet(i, v) {
  eqVals[i] = i % 2 ? spClamp(v, -12, 12) : (v ? 1 : 0);
  eqPost();
}
function eqRender() {
  var ov = pageEl('eq-overlay');
  if (!ov) return;
  var html = '<div style="margin:15vh auto; width:640px; background:#101828; color:#fff; padding:16px; border-radius:10px;">' +
    '<div style="font-size:22px;">사운드 EQ</div><div style="color:#9ab;">음원 모듈 전체 적용</div><div style="display:flex; gap:8px;">';
  EQ_CARDS.forEach(function (c, i) {
    html += '<div class="eq-card" data-i="' + i + '" style="flex:1; padding:8px; ' + (i === eqSel ? 'background:#2f7de1;' : 'background:#223;') + '">' +
      '<div>' + htmlEsc(c[0]) + '</div>';
    if (c[1]) {
      c[1].forEach(function (label, v) {
        html += '<button class="eq-opt" data-i="' + i + '" data-v="' + v + '" style="' + (eqVals[i] === v ? 'background:#2ecc71;' : '') + '">' +
          htmlEsc(label) + '</button>';
      });
    } else {
      html += '<input type="range" class="eq-gain" data-i="' + i + '" min="-12" max="12" step="1" value="' + eqVals[i] + '">' +
        '<div>' + (eqVals[i] > 0 ? '+' : '') + eqVals[i] + ' dB</div>';
    }
    html += '</div>';
  });
  html += '</div></div>';
  ov.innerHTML = html;
  Array.prototype.forEach.call(ov.querySelectorAll('.eq-card'), function (el) {
    el.onclick = function () { eqSel = Number(el.getAttribute('data-i')); eqRender(); };
  });
  Array.prototype.forEach.call(ov.querySelectorAll('.eq-opt'), function (el) {
    el.onclick = function (ev) { ev.stopPropagation(); eqSel = Number(el.getAttribute('data-i')); eqSet(eqSel, Number(el.getAttribute('data-v'))); };
  });
  Array.prototype.forEach.call(ov.querySelectorAll('.eq-gain'), function (el) {
    el.oninput = function () { eqSet(Number(el.getAttribute('data-i')), Number(el.value)); };
  });
}
function toggleEqPanel() {
  var ov = pageEl('eq-overlay');
  if (!ov) {
    ov = document.createElement('div');
    ov.id = 'eq-overlay';
    ov.style.cssText = 'display:none; position:fixed; inset:0; z-index:440; background:rgba(0,0,0,0.5);';
    document.body.appendChild(ov);
  }
  eqOpen = !eqOpen;
  ov.style.display = eqOpen ? 'block' : 'none';
  if (eqOpen) eqRender();
}
function eqPanelKey(e) {
  var k = e.key;
  e.preventDefault();
  if (k === 'Escape' || k === 'Enter') { if (eqOpen) toggleEqPanel(); return; }
  if (k === 'ArrowLeft') { eqSel = (eqSel + 3) % 4; eqRender(); }
  else if (k === 'ArrowRight') { eqSel = (eqSel + 1) % 4; eqRender(); }
  else if (k === 'ArrowUp' || k === 'ArrowDown') {
    if (eqSel % 2 === 0) eqSet(eqSel, eqVals[eqSel] ? 0 : 1);
    else eqSet(eqSel, eqVals[eqSel] + (k === 'ArrowUp' ? 1 : -1));
  } else if (isKey(e, 'r')) { eqVals = [0, 0, 0, 0]; eqPost(); }
}

// ---- external module panel ----
var extPanelOpen = false, extOn = 0, extToCh = -1, extCc = 0, extPc = 0, extClock = 0;
var extRoute = '00000000000000000000000000000000', extNoteMap = '', extDevice = '', extDevices = [], extStatus = '';
var extSel = 0;
var EXT_PARTS = [
  ['멜로디', [[0, 0]]],
  ['드럼일체', [[0, 9], [0, 10], [0, 11], [0, 12], [1, 9], [1, 10], [1, 11], [1, 12]]],
  ['베이스기타', [[0, 8]]],
  ['피아노1', [[0, 5]]],
  ['피아노2', [[0, 6]]]
];
function extSanitizeRoute() {
  var allowed = {};
  EXT_PARTS.forEach(function (p) { p[1].forEach(function (pc) { allowed[pc[0] * 16 + pc[1]] = true; }); });
  var r = '';
  for (var i = 0; i < 32; i++) r += allowed[i] && extRoute.charAt(i) === '1' ? '1' : '0';
  extRoute = r;
}
function initExtRouting(on, toCh, cc, pc, clock, route, noteMap, device) {
  extOn = on ? 1 : 0;
  extToCh = typeof toCh === 'number' && !isNaN(toCh) ? toCh : -1;
  extCc = cc ? 1 : 0;
  extPc = pc ? 1 : 0;
  extClock = clock ? 1 : 0;
  if (typeof route === 'string' && route.length === 32) extRoute = route;
  extNoteMap = noteMap || '';
  extDevice = device || '';
  extSanitizeRoute();
  if (extPanelOpen) renderExtPanel();
}
function setExtDevices(list, current, status) {
  extDevices = Array.isArray(list) ? list : [];
  extDevice = current || '';
  extStatus = status || '';
  if (extPanelOpen) renderExtPanel();
}
function setExtStatus(status) {
  extStatus = status || '';
  if (extPanelOpen) renderExtPanel();
}
function extApply() {
  extSanitizeRoute();
  pagePost('EXT_APPLY:' + [extOn, extToCh, extCc, extPc, extClock, extRoute, extNoteMap, extDevice].join('\t'));
}
function extPanic() { pagePost('EXT_PANIC'); }
function extPartOn(p) { return p[1].every(function (pc) { return extRoute.charAt(pc[0] * 16 + pc[1]) === '1'; }); }
function extTogglePart(i) {
  var p = EXT_PARTS[i];
  var v = extPartOn(p) ? '0' : '1';
  var r = extRoute.split('');
  p[1].forEach(function (pc) { r[pc[0] * 16 + pc[1]] = v; });
  extRoute = r.join('');
  extApply();
  renderExtPanel();
}
function extPickDevice(name) { extDevice = name; extApply(); renderExtPanel(); }
function extSetOn(v) { extOn = v ? 1 : 0; extApply(); renderExtPanel(); }
function extSetToCh(v) { v = Number(v); extToCh = isNaN(v) ? -1 : v; extApply(); }
function extSetCc(v) { extCc = v ? 1 : 0; extApply(); }
function extSetPc(v) { extPc = v ? 1 : 0; extApply(); }
function extSetClock(v) { extClock = v ? 1 : 0; extApply(); }
function extSetNoteMap(v) { extNoteMap = String(v || '').replace(/\s+/g, ''); extApply(); }
function renderExtPanel() {
  var ov = pageEl('ext-overlay');
  if (!ov) return;
  var h = '<div style="margin:6vh auto; width:720px; background:#101828; color:#fff; padding:16px; border-radius:10px; font-size:15px;">';
  h += '<div class="ext-item">외부 모듈 장치 <select id="ext-device" onchange="extPickDevice(this.value)"><option value="">(사용 안 함)</option>';
  extDevices.forEach(function (d) {
    h += '<option value="' + htmlEsc(d) + '"' + (d === extDevice ? ' selected' : '') + '>' + htmlEsc(d) + '</option>';
  });
  h += '</select></div>';
  if (extStatus) h += '<div id="ext-status" style="color:#ff6b6b;">&#9888; ' + htmlEsc(extStatus) + '</div>';
  h += '<div class="ext-item"><label><input type="checkbox" id="ext-on" onchange="extSetOn(this.checked)"' + (extOn ? ' checked' : '') +
    '> 외부 모듈 사용 (끄면 전부 우리 음원으로 되돌아갑니다)</label></div>';
  h += '<div>외부로 보낼 파트 <small>(초록 = 외부 모듈 · 회색 = 우리 음원)</small></div><div>';
  EXT_PARTS.forEach(function (p, i) {
    h += '<button class="ext-item ext-part" data-i="' + i + '" onclick="extTogglePart(' + i + ')" style="margin:3px; background:' +
      (extPartOn(p) ? '#2ecc71' : '#667') + ';">' + htmlEsc(p[0]) + '</button>';
  });
  h += '</div><div style="font-size:13px;">피아노1 = 곡의 Piano1(1포트 6번) · 피아노2 = Piano2(1포트 7번). <b>CVT(확장리듬)를 쓰면 피아노2는 켜지 마세요</b> - 그 채널을 CVT 컴핑기타가 함께 씁니다.</div>';
  h += '<div class="ext-item">드럼 모을 채널 <select id="ext-toch" onchange="extSetToCh(this.value)"><option value="-1">원래 채널 그대로</option>';
  for (var c = 0; c < 16; c++) h += '<option value="' + c + '"' + (extToCh === c ? ' selected' : '') + '>' + (c + 1) + '번으로 모으기</option>';
  h += '</select> <small>킥·스네어·하이햇·톰·타악에만 적용됩니다 (베이스기타·멜로디·피아노는 원래 채널 그대로)</small></div>';
  h += '<div class="ext-item"><label><input type="checkbox" onchange="extSetCc(this.checked)"' + (extCc ? ' checked' : '') + '> 볼륨·이펙트 CC 도 보내기</label></div>';
  h += '<div class="ext-item"><label><input type="checkbox" onchange="extSetPc(this.checked)"' + (extPc ? ' checked' : '') + '> 음색(프로그램 체인지)도 보내기</label>' +
    ' <small>음색은 대개 꺼 두세요 - 우리 곡의 음색번호는 롤랜드 GS 기준이라 외부 모듈과 다릅니다.</small></div>';
  h += '<div class="ext-item"><label><input type="checkbox" id="ext-clock" onchange="extSetClock(this.checked)"' + (extClock ? ' checked' : '') +
    '> MIDI 클럭 보내기 (자체 패턴을 도는 드럼머신용 - 우리가 마스터)</label></div>';
  h += '<div class="ext-item">드럼 노트 변환 <input type="text" id="ext-notemap" placeholder="36>36,38>40,42>44" value="' + htmlEsc(extNoteMap) +
    '" onchange="extSetNoteMap(this.value)"> <small>우리번호&gt;외부번호 를 콤마로 나열합니다. 예) 킥 36&gt;36, 스네어 38&gt;40. 비워두면 그대로 보냅니다.</small></div>';
  h += '<div><button class="ext-item" onclick="extPanic()">모든 소리 끄기 (P)</button> <button class="ext-item" onclick="closeExtPanel()">닫기 (ESC)</button></div></div>';
  ov.innerHTML = h;
  extMarkSel();
}
function extItems() { var ov = pageEl('ext-overlay'); return ov ? ov.querySelectorAll('.ext-item') : []; }
function extMarkSel() {
  var items = extItems();
  extSel = spClamp(extSel, 0, Math.max(0, items.length - 1));
  Array.prototype.forEach.call(items, function (el, i) { el.style.outline = i === extSel ? '2px solid #ffd34d' : ''; });
}
function openExtPanel() {
  extPanelOpen = true;
  extSel = 0;
  pagePost('EXT_LIST');
  renderExtPanel();
  var ov = pageEl('ext-overlay');
  if (ov) ov.style.display = 'block';
}
function closeExtPanel() {
  extPanelOpen = false;
  var ov = pageEl('ext-overlay');
  if (ov) ov.style.display = 'none';
}
function toggleExtPanel() { if (extPanelOpen) closeExtPanel(); else openExtPanel(); }
function extActivate(el, delta) {
  var field = el.tagName === 'SELECT' ? el : el.querySelector('select,input');
  if (delta && field && field.tagName === 'SELECT') {
    field.selectedIndex = spClamp(field.selectedIndex - delta, 0, field.options.length - 1);
    field.onchange && field.onchange();
    return;
  }
  if (delta) return;
  if (field && field.type === 'text') { field.focus(); return; }
  if (field && field.type === 'checkbox') { field.click(); return; }
  if (el.tagName === 'BUTTON') el.click();
}
function extPanelKey(e) {
  var k = e.key;
  var a = document.activeElement;
  if ((k === 'Enter' || k === 'Escape') && a && a.id === 'ext-notemap') { a.blur(); e.preventDefault(); return; }
  if (k === 'Escape') { closeExtPanel(); e.preventDefault(); return; }
  if (ovKeyPass(e)) return;
  e.preventDefault();
  var items = extItems();
  var n = items.length;
  if (isKey(e, 'p')) extPanic();
  else if (k === 'ArrowLeft') extSel = Math.max(0, extSel - 1);
  else if (k === 'ArrowRight') extSel = Math.min(n - 1, extSel + 1);
  else if (k === 'PageUp') extSel = Math.max(0, extSel - 10);
  else if (k === 'PageDown') extSel = Math.min(n - 1, extSel + 10);
  else if (k === 'Home') extSel = 0;
  else if (k === 'End') extSel = n - 1;
  else if ((k === 'ArrowUp' || k === 'ArrowDown') && items[extSel]) extActivate(items[extSel], k === 'ArrowUp' ? -1 : 1);
  else if ((k === 'Enter' || k === ' ') && items[extSel]) extActivate(items[extSel], 0);
  extMarkSel();
}

// ---- MIDI device dialog and output setters ----
var midiOpenStatus = '', builtinSynthOn = 0, rawSound = 0, ccDedupOn = 0, outputMode = 2;
function showMidiDeviceSelect(list, port1, port2, fonts, font) {
  var ov = pageEl('midi-dev-overlay');
  if (!ov) {
    ov = document.createElement('div');
    ov.id = 'midi-dev-overlay';
    // above the settings panel and the other panels, below the PC check and the agent picker
    ov.style.cssText = 'position:fixed; inset:0; z-index:440; background:rgba(0,0,0,0.5);';
    document.body.appendChild(ov);
  }
  var options = function (current) {
    var h = '<option value="">(자동 선택)</option>';
    (list || []).forEach(function (d) { h += '<option value="' + htmlEsc(d) + '"' + (d === current ? ' selected' : '') + '>' + htmlEsc(d) + '</option>'; });
    return h;
  };
  var fontOptions = (fonts && fonts.length) ? fonts.map(function (f) {
    return '<option value="' + htmlEsc(f) + '"' + (f === font ? ' selected' : '') + '>' + htmlEsc(f) + '</option>';
  }).join('') : '<option value="">(synth 폴더에 .sf2 가 없습니다)</option>';
  ov.innerHTML = '<div style="margin:12vh auto; width:560px; background:#101828; color:#fff; padding:16px; border-radius:10px;">' +
    '<div style="font-size:20px;">🎹 MIDI 출력 장치 선택</div>' +
    '<div>1포트 (채널 1~16) <select id="midi-dev-p1">' + options(port1) + '</select></div>' +
    '<div>2포트 (채널 17~32, 32채널 곡용) <select id="midi-dev-p2">' + options(port2) + '</select></div>' +
    '<div id="midi-dev-sf-row">사운드폰트 (가상음원) <select id="midi-dev-sf">' + fontOptions + '</select>' +
    '<div style="font-size:12px;">' + rootPathHtml('synth') + ' 폴더의 .sf2 파일입니다. 파일을 넣고 이 창을 다시 열면 목록에 나타납니다.</div></div>' +
    '<div><button id="midi-dev-cancel">취소</button> <button id="midi-dev-apply">적용</button></div></div>';
  ov.style.display = 'block';
  var p1 = pageEl('midi-dev-p1'), p2 = pageEl('midi-dev-p2'), sfRow = pageEl('midi-dev-sf-row');
  var syncRow = function () {
    var show = p1.value.indexOf('내장음원') >= 0 || p2.value.indexOf('내장음원') >= 0;
    sfRow.style.display = show ? '' : 'none';
  };
  p1.onchange = syncRow;
  p2.onchange = syncRow;
  syncRow();
  pageEl('midi-dev-cancel').onclick = closeMidiDeviceSelect;
  pageEl('midi-dev-apply').onclick = applyMidiDeviceSelect;
  p1.focus();
}
function closeMidiDeviceSelect() {
  var ov = pageEl('midi-dev-overlay');
  if (ov) ov.style.display = 'none';
}
function applyMidiDeviceSelect() {
  var sfRow = pageEl('midi-dev-sf-row');
  var sf = sfRow.style.display === 'none' ? '' : pageEl('midi-dev-sf').value;
  pagePost('SELECT_MIDI_DEVICES:' + pageEl('midi-dev-p1').value + '|' + pageEl('midi-dev-p2').value + '|' + sf);
  closeMidiDeviceSelect();
}
// The dialog's keys: Escape closes, Enter applies (outside a list), Tab and the lists' own keys
// reach the lists; every other key stays in the dialog.
function midiDeviceSelectKey(e) {
  var k = e.key;
  if (k === 'Escape') { closeMidiDeviceSelect(); e.preventDefault(); return; }
  if (ovKeyPass(e)) return;
  if (k === 'Enter') applyMidiDeviceSelect();
  e.preventDefault();
}
function setMidiOpenStatus(text) { midiOpenStatus = text || ''; renderSettingsPanel(); }
function setBuiltinSynthDisplay(v) { builtinSynthOn = v ? 1 : 0; renderSettingsPanel(); }
function setRawSoundDisplay(v) {
  rawSound = v ? 1 : 0;
  var b = pageEl('rawsound-badge');
  if (b) b.style.display = rawSound ? 'inline-block' : 'none';
  renderSettingsPanel();
}
function setCcDedupDisplay(v) { ccDedupOn = v ? 1 : 0; renderSettingsPanel(); }
function setOutput(v) { outputMode = v; pagePost('SET_OUTPUT:' + v); }
function setBuiltinSynth(v) { builtinSynthOn = v ? 1 : 0; pagePost('SET_BUILTIN:' + builtinSynthOn); renderSettingsPanel(); }
function setRawSound(v) { setRawSoundDisplay(v); pagePost('SET_RAW_SOUND:' + rawSound); }
function setCcDedup(v) { ccDedupOn = v ? 1 : 0; pagePost('SET_CC_DEDUP:' + ccDedupOn); renderSettingsPanel(); }
