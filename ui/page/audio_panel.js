// ---- Audio panel: the audio folder's files played one after the other, and the notice badge ----

var audioList = [];
var audioPanelOpen = false;
var audioSel = 0;
var audioPlayIdx = -1;
var audioCurEl = 0;
var audioPaused = false;

function audioEl(i) { return document.getElementById(i ? 'aud1' : 'aud0'); }
function audioUrl(i) { return mediaUrl(AUDIO_HOST, audioList[i].f); }
// Whether the element's source is exactly the address of file i (the whole address, so that
// "ba.mp3" is never taken for "a.mp3").
function audioHolds(el, i) {
  if (!el || i < 0 || i >= audioList.length) return false;
  var src = el.getAttribute('src');
  return !!src && src === audioUrl(i);
}

function showTestBadge(text) {
  var b = document.getElementById('test-audio-badge');
  if (!b) return;
  b.textContent = text == null ? '' : String(text);
  b.style.display = 'block';
}
function hideTestBadge() {
  var b = document.getElementById('test-audio-badge');
  if (b) b.style.display = 'none';
}

function setAudioList(list) {
  audioList = Array.isArray(list) ? list : [];
  if (audioSel >= audioList.length) audioSel = Math.max(0, audioList.length - 1);
  if (audioPanelOpen) renderAudioPanel();
}
function toggleAudioPanel() {
  if (audioPanelOpen) closeAudioPanel();
  else openAudioPanel();
}
function testAudioToggle() { toggleAudioPanel(); }
function openAudioPanel() {
  audioPanelOpen = true;
  pagePost('LIST_AUDIO');
  var p = document.getElementById('audio-panel');
  if (p) p.style.display = 'flex';
  renderAudioPanel();
}
function closeAudioPanel() {
  audioPanelOpen = false;
  var p = document.getElementById('audio-panel');
  if (p) p.style.display = 'none';
}

function audioUpdateBadge() {
  if (audioPlayIdx < 0 || audioPlayIdx >= audioList.length) { hideTestBadge(); return; }
  showTestBadge((audioPaused ? '\u23F8 ' : '\u25B6 ') + '(' + (audioPlayIdx + 1) + '/' + audioList.length + ') ' +
    audioList[audioPlayIdx].t);
}
function audioPreload(e, j) {
  var el = audioEl(e);
  if (!el) return;
  if (j < 0 || j >= audioList.length) { el.removeAttribute('src'); return; }
  el.setAttribute('src', audioUrl(j));
  try { el.load(); } catch (x) {}
}
function audioSilence(el) {
  if (!el) return;
  el.onended = null;
  try { el.pause(); } catch (x) {}
}

function playAudioFrom(i) {
  if (!audioList.length) { showTestBadge('오디오 폴더에 파일이 없습니다 · ' + rootPath('audio')); return; }
  i = Math.max(0, Math.min(audioList.length - 1, i | 0));
  audioSilence(audioEl(0));
  audioSilence(audioEl(1));
  audioCurEl = 0;
  audioPlayIdx = audioSel = i;
  audioPaused = false;
  var el = audioEl(0);
  if (el) {
    var title = audioList[i].t;
    var fail = function () { showTestBadge('재생 실패: ' + title); };
    el.setAttribute('src', audioUrl(i));
    el.onended = audioAdvance;
    el.onerror = fail;
    try {
      var p = el.play();
      if (p && p.catch) p.catch(fail);
    } catch (x) { fail(); }
  }
  audioPreload(1, i + 1);
  audioUpdateBadge();
  renderAudioPanel();
}

function audioAdvance() {
  var next = audioPlayIdx + 1;
  if (next >= audioList.length) {
    stopAudioAll();
    showTestBadge('오디오 재생 완료');
    setTimeout(hideTestBadge, 1500);
    return;
  }
  var other = audioCurEl ? 0 : 1;
  var el = audioEl(other);
  if (el) {
    if (!audioHolds(el, next)) el.setAttribute('src', audioUrl(next));
    el.onended = audioAdvance;
  }
  var cur = audioEl(audioCurEl);
  if (cur) cur.onended = null;
  audioCurEl = other;
  audioPlayIdx = audioSel = next;
  audioPaused = false;
  if (el) {
    try { var p = el.play(); if (p && p.catch) p.catch(function () {}); } catch (x) {}
  }
  audioPreload(other ? 0 : 1, next + 1);
  audioUpdateBadge();
  renderAudioPanel();
}

function audioPauseToggle() {
  if (audioPlayIdx < 0) return;
  var el = audioEl(audioCurEl);
  if (!el) return;
  if (audioPaused) {
    audioPaused = false;
    try { var p = el.play(); if (p && p.catch) p.catch(function () {}); } catch (x) {}
  } else {
    audioPaused = true;
    try { el.pause(); } catch (x) {}
  }
  audioUpdateBadge();
  renderAudioPanel();
}

function stopAudioAll() {
  for (var i = 0; i < 2; i++) {
    var el = audioEl(i);
    if (!el) continue;
    audioSilence(el);
    try { el.currentTime = 0; } catch (x) {}
    el.removeAttribute('src');
  }
  audioPlayIdx = -1;
  audioPaused = false;
  hideTestBadge();
  if (audioPanelOpen) renderAudioPanel();
}

function renderAudioPanel() {
  var p = document.getElementById('audio-panel');
  if (!p) return;
  p.style.flexDirection = 'column';
  p.style.maxWidth = '760px';
  p.style.width = '760px';
  p.style.maxHeight = '62vh';
  p.style.background = 'rgba(20,24,28,0.96)';
  p.style.color = '#eee';
  p.style.borderRadius = '12px 12px 0 0';
  p.style.padding = '10px 14px';
  p.style.boxSizing = 'border-box';
  p.textContent = '';
  var head = document.createElement('div');
  head.style.cssText = 'display:flex; gap:8px; align-items:center; margin-bottom:8px; flex-wrap:wrap;';
  [['\u25B6 처음부터 (Enter)', function () { playAudioFrom(0); }],
   ['\u23F8 일시정지 (Space)', audioPauseToggle],
   ['\u23F9 정지 (S)', stopAudioAll]].forEach(function (b) {
    var btn = document.createElement('button');
    btn.textContent = b[0];
    btn.style.cssText = 'padding:6px 12px; font-weight:bold; border:none; border-radius:6px; cursor:pointer;';
    btn.onclick = b[1];
    head.appendChild(btn);
  });
  var hint = document.createElement('span');
  hint.textContent = '\u2191\u2193 선택 \u00B7 Enter 그 곡부터 \u00B7 Space 일시정지 \u00B7 Esc 닫기';
  hint.style.cssText = 'font-size:13px; color:#aaa;';
  head.appendChild(hint);
  p.appendChild(head);
  var list = document.createElement('div');
  list.id = 'audio-list';
  list.style.cssText = 'overflow-y:auto; flex:1 1 auto;';
  p.appendChild(list);
  if (!audioList.length) {
    var empty = document.createElement('div');
    empty.textContent = rootPath('audio') + ' 폴더에 오디오 파일이 없습니다.';
    empty.style.padding = '10px';
    list.appendChild(empty);
    return;
  }
  var selRow = null;
  audioList.forEach(function (item, i) {
    var row = document.createElement('div');
    row.textContent = (i + 1) + '. ' + (i === audioPlayIdx ? '\u25B6 ' : '') + item.t;
    var sel = i === audioSel, playing = i === audioPlayIdx;
    row.style.cssText = 'padding:5px 10px; margin:2px 0; border-radius:6px; cursor:pointer; border:1px solid ' +
      (sel || playing ? '#2ecc71' : 'transparent') + '; background:' +
      (sel ? '#1e5631' : playing ? '#a9dfbf' : 'transparent') + '; color:' + (playing && !sel ? '#123' : '#eee') + ';';
    row.onclick = function () { playAudioFrom(i); };
    if (sel) selRow = row;
    list.appendChild(row);
  });
  if (selRow && selRow.scrollIntoView) selRow.scrollIntoView({ block: 'nearest' });
}

// Keys while the panel is open (the page's key handler hands them here).
function audioPanelKey(e) {
  var k = e.key;
  var n = audioList.length;
  if (k === 'Escape') closeAudioPanel();
  else if (k === 'ArrowDown') { if (n) { audioSel = (audioSel + 1) % n; renderAudioPanel(); } }
  else if (k === 'ArrowUp') { if (n) { audioSel = (audioSel - 1 + n) % n; renderAudioPanel(); } }
  else if (k === 'Home') { audioSel = 0; renderAudioPanel(); }
  else if (k === 'End') { audioSel = Math.max(0, n - 1); renderAudioPanel(); }
  else if (k === 'Enter') playAudioFrom(audioSel);
  else if (k === ' ' || k === 'Spacebar') audioPauseToggle();
  else if (k === 's' || k === 'S') stopAudioAll();
  else return;
  if (e.preventDefault) e.preventDefault();
}
