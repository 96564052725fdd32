// ---- Page keys ----
// One keydown listener holds every key binding of the main page, in a fixed order of blocks: open
// dialogs, global keys, the block of the open panel, and last the play keys.

var rightShiftDown = false;
var volKeyDirty = 0;
var lastTempoLockKeyT = 0;

function pkShown(id) {
  var el = pageEl(id);
  return !!el && !!el.style.display && el.style.display !== 'none';
}

function sendGlobalVol(msg) {
  volKeyDirty = 1;
  pagePost(msg);
}
function toggleTempoLockKey() {
  var now = nowMs();
  if (now - lastTempoLockKeyT < 300) return;
  lastTempoLockKeyT = now;
  pagePost('TEMPO_LOCK_TOGGLE');
}

// True when a dialog block must let the browser have the key.
function ovKeyPass(e) {
  if (e.key === 'Tab') return true;
  var a = typeof document !== 'undefined' ? document.activeElement : null;
  var tag = a && a.tagName ? a.tagName : '';
  if ((e.key === 'Enter' || e.key === 'Escape') && tag === 'INPUT') return false;
  if (tag === 'INPUT' || tag === 'TEXTAREA' || tag === 'SELECT' || (a && a.isContentEditable)) return true;
  if ((e.key === 'Enter' || e.key === ' ') && tag === 'BUTTON') return true;
  return false;
}
function textFocus() {
  var a = typeof document !== 'undefined' ? document.activeElement : null;
  var tag = a && a.tagName ? a.tagName : '';
  return tag === 'INPUT' || tag === 'TEXTAREA' || (a && a.isContentEditable);
}

// A letter binding matches both cases, or its physical key.
function isKey(e, letter) {
  var k = e.key || '';
  return k.toLowerCase() === letter.toLowerCase() || e.code === 'Key' + letter.toUpperCase();
}
function noMods(e) { return !e.altKey && !e.ctrlKey; }

function pageKeyDown(e) {
  var k = e.key;
  var code = e.code || '';
  var handled = function () { e.preventDefault(); return true; };

  // 1-3: dialogs that take every key.
  if (rsOpen) {
    if (k === 'Escape') { rsPick(-1); return handled(); }
    if (ovKeyPass(e)) return true;
    var list = window.rsList || [];
    var last = Math.max(0, list.length - 1);
    if (k === 'ArrowUp' || k === 'ArrowLeft') { if (list.length) { window.rsSel = Math.max(0, (window.rsSel || 0) - 1); rsRender(); } }
    else if (k === 'ArrowDown' || k === 'ArrowRight') { window.rsSel = Math.min(last, (window.rsSel || 0) + 1); rsRender(); }
    else if (k === 'Home') { window.rsSel = 0; rsRender(); }
    else if (k === 'End') { window.rsSel = last; rsRender(); }
    return handled();
  }
  if (pkShown('update-overlay')) {
    if (k === 'Escape') { closeUpdateModal(); return handled(); }
    if (ovKeyPass(e)) return true;
    return handled();
  }
  if (pkShown('pccheck-overlay')) {
    if (k === 'Escape') { closePcCheck(); return handled(); }
    if (ovKeyPass(e)) return true;
    return handled();
  }
  if (pkShown('midi-dev-overlay')) { midiDeviceSelectKey(e); return true; }
  // 4: the right Shift arms the octave keys; the key goes on.
  if (code === 'ShiftRight') rightShiftDown = true;

  // 5: global ALT keys.
  if (e.altKey) {
    if (isKey(e, 'z')) { nextSongOrRepeat(); return handled(); }
    if (isKey(e, 'a')) { pagePost('ALT_A_ACTION'); return handled(); }
    if (isKey(e, 'r')) { if (!e.repeat) toggleModeRandom(); return handled(); }
    if (isKey(e, 'b')) { if (!e.repeat) toggleMouseLock(); return handled(); }
    if (isKey(e, 'c')) { if (!e.repeat) cycleStaffMode(); return handled(); }
    if (isKey(e, 'j')) { toggleOrigLangLyrics(); return handled(); }
    if (k === '[' || code === 'BracketLeft') { if (!e.repeat) pagePost('MEDLEY_MARK:0'); return handled(); }
    if (k === ']' || code === 'BracketRight') { if (!e.repeat) pagePost('MEDLEY_MARK:1'); return handled(); }
    if (isKey(e, 'd')) { if (!e.repeat) toggleMedleyPanel(); return handled(); }
    if (isKey(e, 'k')) { if (keyEditorOpen) closeKeyEditor(); else openKeyEditor(); return handled(); }
    if (isKey(e, 'v')) { if (!e.repeat) pagePost(e.shiftKey ? 'SONG_VOL_CLEAR' : 'SONG_VOL_SAVE'); return handled(); }
    if (k === 'F9' || code === 'F9') { if (!e.repeat) requestVocalExport(); return handled(); }
    if (isKey(e, 'm')) { if (!e.repeat) toggleEngPanel(); return handled(); }
  }
  // 6-7: key editor and quit confirmation.
  if (keyEditorOpen) {
    keyEditorKey(e);
    return true;
  }
  if (quitConfirmOpen) {
    if (isKey(e, 'y')) pagePost('QUIT_APP');
    else if (isKey(e, 'n') || k === 'Escape' || k === 'Enter') hideQuitConfirm();
    return handled();
  }
  // 8: stop and equalizer.
  if (e.altKey && isKey(e, 'x')) { altXAction(); return handled(); }
  if (e.ctrlKey && !e.altKey && isKey(e, 'e')) { toggleEqPanel(); return handled(); }
  // 9: equalizer panel.
  if (eqOpen) {
    eqPanelKey(e);
    return true;
  }
  // 10: function and ALT keys.
  if (functionKey(e)) return handled();
  // 11: performer input, favourite-name input.
  if (insInputOpen) return insInputKey(e);
  if (favInputOpen) return favInputKey(e);
  // 12: F3.
  if (k === 'F3') {
    if (searchPanelOpen) openFavInput();
    else if (favPanelOpen) closeFavPanel();
    else { closeF2Panel(); openFavPanel(); }
    return handled();
  }
  // 13: favourites panel.
  if (favPanelOpen) { favPanelKey(e); return true; }
  // 14-16: panels of other sections, each with its own key function.
  var panels = [[redOpen, redEditorKey], [rchkOpen, rhythmCheckKey], [extPanelOpen, extPanelKey],
                [medleyOpen, medleyPanelKey], [settingsPanelOpen, settingsPanelKey]];
  for (var i = 0; i < panels.length; i++) {
    if (panels[i][0]) { panels[i][1](e); return true; }
  }
  // 17: history and search panels.
  if (f2PanelOpen) { historyPanelKey(e); return true; }
  if (searchPanelOpen) return searchPanelKey(e);
  // 18-24: further panels.
  var more = [[audioPanelOpen, audioPanelKey], [soundPanelOpen, soundPanelKey], [engOpen, engPanelKey],
              [mixerOpen, mixerKey], [scoreOpen, scorePanelKey]];
  if (f6PanelOpen) {
    if (k === 'Escape' || k === 'Enter') { closeF6Panel(); return handled(); }
    var jumps = { '1': 0, '2': 5, '3': 10, '4': 20, '5': 25, '6': 30, '8': 33, '9': 40, '0': 45 };
    if (Object.prototype.hasOwnProperty.call(jumps, k)) { f6Jump(jumps[k]); return handled(); }
    return true;
  }
  for (var j = 0; j < more.length; j++) {
    if (more[j][0]) { more[j][1](e); return true; }
  }
  if (f10Open) {
    if (k === 'Escape' || k === 'Enter') closeF10Panel();
    else if (k === 'ArrowLeft') f10Move(-1);
    else if (k === 'ArrowRight') f10Move(1);
    else if (k === 'ArrowUp' || k === '+' || k === '=') f10Adjust(1, false);
    else if (k === 'ArrowDown' || k === '-') f10Adjust(-1, false);
    else if (k === 'PageUp') f10Adjust(1, true);
    else if (k === 'PageDown') f10Adjust(-1, true);
    else if (k === ' ') f10Fix();
    else if (isKey(e, 's')) f10SaveSong();
    else if (isKey(e, 'd')) f10SaveBox();
    else return true;
    return handled();
  }
  // 25: play keys.
  return playKey(e);
}

// Block 10; true when the key was taken.
function functionKey(e) {
  var k = e.key;
  var code = e.code || '';
  var alt = e.altKey, ctrl = e.ctrlKey;
  if (ctrl && isKey(e, 'i')) { pagePost('OPEN_MIDI_DEVICE_SELECT'); return true; }
  if (code === 'Pause' || k === 'Pause' || k === 'PrintScreen' || code === 'PrintScreen') { toggleTempoLockKey(); return true; }
  if (alt && isKey(e, 'i')) { pagePost('CHECK_SONG_UPDATE'); return true; }
  if (alt && isKey(e, 's')) { if (!e.repeat) pagePost('REMOTE_SUPPORT'); return true; }
  if (alt && isKey(e, 'n')) { if (!e.repeat) openUpdateModal(); return true; }
  if (k === 'F12' && alt) { window.__pcchkStarted = 0; pagePost('RUN_PC_CHECK'); return true; }
  if (k === 'F12' && ctrl) { pagePost('SET_CUSTOMER_MONITOR:0'); return true; }
  if (k === 'F12') { toggleHelp(); return true; }
  if (k === 'F11') { pagePost('TOGGLE_FULLSCREEN'); return true; }
  if (k === 'F6') { toggleF6Panel(); return true; }
  if (k === 'F9') { toggleScorePanel(); return true; }
  if (k === 'F10') { toggleF10Panel(); return true; }
  if (k === 'F7') { toggleAudioPanel(); return true; }
  if (k === 'F8') {
    window.drumSheetOn = !window.drumSheetOn;
    if (songLoaded) scoreRedraw();
    saveEnv();
    return true;
  }
  if (k === 'F1' && alt) { cycleOrOpenSearchPanelAlt(); return true; }
  if (k === 'F1') { cycleOrOpenSearchPanel(); return true; }
  if (k === 'F4' && alt) { toggleSoundPanel(); return true; }
  if (k === 'F4') { toggleMixer('main'); return true; }
  if (k === 'F5' && alt) { toggleMixer('cvtdrum'); return true; }
  if (k === 'F5') { toggleMixer('drum'); return true; }
  if (alt && (k === '0' || code === 'Digit0')) {
    if (settingsPanelOpen) closeSettingsPanel(); else openSettingsPanel();
    return true;
  }
  if (alt && (k === '9' || code === 'Digit9')) { toggleExtPanel(); return true; }
  if (alt && (k === '8' || code === 'Digit8')) { toggleRhythmCheck(); return true; }
  if (alt && (k === '7' || code === 'Digit7')) { toggleRedEditor(); return true; }
  if (k === 'F2') { if (f2PanelOpen) closeF2Panel(); else openF2Panel(); return true; }
  if (k === 'Insert' && !searchPanelOpen) { if (insInputOpen) closeInsInput(); else openInsInput(); return true; }
  return false;
}

// Block 25: the play keys of the home and song screen.
function playKey(e) {
  var k = e.key;
  var code = e.code || '';
  var once = !e.repeat;
  var post = function (cmd, keepDefault) { pagePost(cmd); if (!keepDefault) e.preventDefault(); return true; };
  if (e.shiftKey && (k === '!' || code === 'Digit1') && !e.altKey && !e.ctrlKey) { if (once) pagePost('ENDING_FLOURISH'); e.preventDefault(); return true; }
  if (k === 'Backspace' || code === 'Backspace') {
    if (textFocus()) return true;
    if (once) toggleModeMedley();
    e.preventDefault();
    return true;
  }
  if (!e.altKey && !e.ctrlKey && !e.shiftKey && /^[0-9]$/.test(k)) { if (once) pagePost('RHYTHM_STYLE:' + k); e.preventDefault(); return true; }
  if (e.altKey || e.ctrlKey) {
    if (e.ctrlKey && !e.altKey && (isKey(e, 'z') || isKey(e, 'x'))) {
      var ns = typeof noteScale === 'number' ? noteScale : 1;
      ns = isKey(e, 'z') ? Math.max(0.45, ns - 0.05) : Math.min(1.0, ns + 0.05);
      window.noteScale = Math.round(ns * 100) / 100;
      if (songLoaded) scoreRedraw();
      saveEnv();
      e.preventDefault();
      return true;
    }
  } else {
    if (isKey(e, 'e')) { if (once) pagePost('ENDING_FLOURISH'); e.preventDefault(); return true; }
    if (isKey(e, 'p')) return post('RHYTHM_OFF:' + (reservedQueue.length ? 0 : 1), true);
    if (k === 'Enter') { pagePost('DBG:KEY_ENTER'); startOrNextReserved(); e.preventDefault(); return true; }
    if (k === ' ' || code === 'Space') { jsIsPaused = !jsIsPaused; return post('TOGGLE_PAUSE'); }
    if (k === '-' || code === 'Minus') return post('TEMPO_DOWN', true);
    if (k === '+' || k === '=' || code === 'Equal') return post('TEMPO_UP', true);
  }
  if (k === 'PageUp') { sendGlobalVol('VOL_GLOBAL:1:2'); e.preventDefault(); return true; }
  if (k === 'PageDown') { sendGlobalVol('VOL_GLOBAL:1:-2'); e.preventDefault(); return true; }
  if (k === 'Home') { sendGlobalVol('VOL_GLOBAL:0:2'); e.preventDefault(); return true; }
  if (k === 'End') { sendGlobalVol('VOL_GLOBAL:0:-2'); e.preventDefault(); return true; }
  if (rightShiftDown && code === 'BracketRight') return post('PITCH_UP_OCT');
  if (rightShiftDown && code === 'BracketLeft') return post('PITCH_DOWN_OCT');
  if (k === ',' || code === 'Comma') return post('JUMP_USERMARK_J');
  if (k === '.' || code === 'Period') return post('JUMP_USERMARK_K');
  if (k === 'ArrowLeft' || code === 'ArrowLeft') { sendMeasureJump('JUMP_PREV_MEASURE', e.repeat); e.preventDefault(); return true; }
  if (k === 'ArrowRight' || code === 'ArrowRight') { sendMeasureJump('JUMP_NEXT_MEASURE', e.repeat); e.preventDefault(); return true; }
  if (k === 'ArrowUp' || code === 'ArrowUp') { sendMeasureJump('JUMP_CUR_MEASURE', e.repeat); e.preventDefault(); return true; }
  if (e.altKey || e.ctrlKey) return false;
  if (k === '[' || code === 'BracketLeft') return post('PITCH_DOWN', true);
  if (k === ']' || code === 'BracketRight') return post('PITCH_UP', true);
  if (k === ';' || code === 'Semicolon') return post('JUMP_VERSE1', true);
  if (k === "'" || code === 'Quote') return post('JUMP_VERSE2', true);
  if (isKey(e, 'i')) { if (once) pagePost('SET_USERMARK_V3'); e.preventDefault(); return true; }
  var cvt = !!window.__cvtOn;
  var snare = { g: 1, h: 2, j: 3 };
  for (var s in snare) {
    if (isKey(e, s) && cvt) { if (once) pagePost('CVT_SNARE_SUB:' + snare[s]); e.preventDefault(); return true; }
  }
  var fills = { a: 1, s: 2, d: 3, f: 4 };
  for (var f in fills) {
    if (isKey(e, f) && (cvt || songLoaded)) { if (once) pagePost('CVT_FILL:' + fills[f]); e.preventDefault(); return true; }
  }
  if (isKey(e, 'q') && (cvt || songLoaded)) { if (once) pagePost('CVT_QFX'); e.preventDefault(); return true; }
  if (isKey(e, 'k')) { if (once) pagePost('SET_USERMARK_J'); e.preventDefault(); return true; }
  if (isKey(e, 'l')) { if (once) pagePost('SET_USERMARK_K'); e.preventDefault(); return true; }
  if (isKey(e, 'o')) return post('PITCH_ORIG', true);
  if (isKey(e, 'm')) return post('PITCH_MALE', true);
  if (isKey(e, 'n')) return post('PITCH_FEMALE', true);
  var oct = { u: ['oU', 1], y: ['oU', -1], t: ['oL', 1], r: ['oL', -1] };
  for (var o in oct) {
    if (isKey(e, o)) {
      var cfg = window.scoreCfg;
      if (cfg) {
        var v = (cfg[oct[o][0]] || 0) + oct[o][1];
        cfg[oct[o][0]] = scoreClampOct(v);
        scoreRedraw();
        saveEnv();
        scoreOctSave();
      }
      e.preventDefault();
      return true;
    }
  }
  if (isKey(e, 'c')) return post('TOGGLE_MELODY_MUTE', true);
  if (isKey(e, 'v')) { if (once) pagePost('TOGGLE_SOLO1_MUTE'); return true; }
  if (isKey(e, 'b')) { if (once) pagePost('TOGGLE_SOLO2_MUTE'); return true; }
  if (isKey(e, 'z') || isKey(e, 'x')) {
    var mp = typeof measPerPage === 'number' ? measPerPage : 4;
    window.measPerPage = isKey(e, 'z') ? Math.max(1, mp - 1) : Math.min(8, mp + 1);
    if (songLoaded) { recalcMeasureWidth(); scoreRedraw(); }
    saveEnv();
    e.preventDefault();
    return true;
  }
  return false;
}

if (typeof document !== 'undefined' && document.addEventListener) {
  document.addEventListener('keydown', pageKeyDown);
  document.addEventListener('keyup', function (e) {
    if (e.code === 'ShiftRight') rightShiftDown = false;
  });
  document.addEventListener('keyup', function (e) {
    var k = e.key, c = e.code;
    if (volKeyDirty && (k === 'Home' || k === 'End' || k === 'PageUp' || k === 'PageDown' ||
                        c === 'Home' || c === 'End' || c === 'PageUp' || c === 'PageDown')) {
      volKeyDirty = 0;
      pagePost('VOL_GLOBAL_SAVE');
    }
  });
  document.addEventListener('keyup', function (e) {
    if (e.key === 'PrintScreen' || e.code === 'PrintScreen') {
      e.preventDefault();
      toggleTempoLockKey();
    }
  });
  document.addEventListener('mouseup', function () {
    var a = document.activeElement;
    if (a && a.tagName === 'BUTTON') a.blur();
  });
  window.addEventListener('blur', function () { rightShiftDown = false; });
}
