// The song update dialog: the operator picks an install mode and starts; the program reports the
// progress and the final message. It cannot be closed while a run goes on.
var updateRunning = false;
var __updWatchTimer = null;
var __updLastTick = 0;

(function buildUpdateDialog() {
  var ov = pageEl('update-overlay');
  if (!ov || ov.__built) return;
  ov.__built = true;
  ov.style.background = 'rgba(0,0,0,0.55)';
  ov.style.alignItems = 'center';
  ov.style.justifyContent = 'center';
  var btn = 'border:none; border-radius:6px; padding:8px 16px; color:#fff; cursor:pointer; font-size:14px;';
  ov.innerHTML =
    '<div style="width:560px; max-width:94vw; background:#2f3237; border:1px solid #6a6d72; border-radius:8px; color:#e8e8e8; font-family:\'Malgun Gothic\',sans-serif; padding:16px 18px; box-sizing:border-box;">' +
      '<div style="display:flex; justify-content:space-between; align-items:center; margin-bottom:10px;">' +
        '<div id="update-title" style="font-weight:bold; font-size:15px; color:#7bed9f;">\uD83C\uDFB5 신곡 업데이트</div>' +
        '<span style="cursor:pointer;" onclick="closeUpdateModal()">\u2715</span>' +
      '</div>' +
      '<div style="margin-bottom:10px;">현재 보유 곡수: <b id="update-songcount" style="color:#f1c40f;">-</b> 곡</div>' +
      '<div style="margin-bottom:6px;">설치 방식</div>' +
      '<div style="display:flex; flex-direction:column; gap:4px; margin-bottom:12px;">' +
        '<label><input type="radio" name="upd-mode" value="incr" checked> 추가곡만 설치</label>' +
        '<label><input type="radio" name="upd-mode" value="full"> 전체곡 재설치(초기화 후)</label>' +
        '<label><input type="radio" name="upd-mode" value="zip"> 기초파일(zip) 다시 받기</label>' +
      '</div>' +
      '<div style="display:flex; justify-content:space-between; margin-bottom:4px;">' +
        '<span id="update-status" style="white-space:pre-line;">대기 중</span><b id="update-pct">0%</b>' +
      '</div>' +
      '<div style="height:22px; background:#1a1c20; border:1px solid #555; border-radius:11px; overflow:hidden;">' +
        '<div id="update-bar" style="height:100%; width:0%; background:linear-gradient(90deg,#2ecc71,#27ae60); transition:width 0.25s;"></div>' +
      '</div>' +
      '<div id="update-detail" style="font-size:12px; color:#9aa0a6; margin-top:4px; min-height:15px;"></div>' +
      '<div style="display:flex; justify-content:flex-end; gap:8px; margin-top:12px;">' +
        '<button id="update-datecheck-btn" style="' + btn + ' background:#3a4658;" onclick="checkSongDates()">날짜 점검</button>' +
        '<button id="update-start-btn" style="' + btn + ' background:#2ecc71; font-weight:bold;" onclick="runSongUpdate()">시작</button>' +
        '<button id="update-close-btn" style="' + btn + ' background:#555;" onclick="closeUpdateModal()">닫기</button>' +
      '</div>' +
    '</div>';
})();

function __updEl(id) { return document.getElementById(id); }

function __updSetStartEnabled(on) {
  var b = __updEl('update-start-btn');
  if (b) b.disabled = !on;
}

function __updTick() { __updLastTick = Date.now(); }

function __updStopWatch() {
  if (__updWatchTimer) { clearInterval(__updWatchTimer); __updWatchTimer = null; }
}

function __updStartWatch() {
  __updStopWatch();
  __updTick();
  __updWatchTimer = setInterval(function () {
    if (!updateRunning) { __updStopWatch(); return; }
    if (Date.now() - __updLastTick > 120000) {
      __updStopWatch();
      updateRunning = false;
      __updSetStartEnabled(true);
      var st = __updEl('update-status');
      if (st) st.textContent = '응답이 없어 대기를 멈췄습니다. 다시 눌러보세요.';
    }
  }, 5000);
}

function __updSongCountText(cnt) {
  var el = __updEl('update-songcount');
  if (!el) return;
  var n = (typeof cnt === 'number' && cnt >= 0) ? cnt : ((typeof songDb !== 'undefined' && songDb) ? songDb.length : 0);
  el.textContent = String(n);
}

function openUpdateModal() {
  if (window.__customerMode) return;
  updateRunning = false;
  __updStopWatch();
  __updSongCountText(-1);
  updateModalProgress(0, '대기 중', 0, 0);
  var d = __updEl('update-detail');
  if (d) d.textContent = '';
  __updSetStartEnabled(true);
  var ov = __updEl('update-overlay');
  if (ov) ov.style.display = 'flex';
}

function closeUpdateModal() {
  if (updateRunning) return;
  var ov = __updEl('update-overlay');
  if (ov) ov.style.display = 'none';
}

function __updMode() {
  var r = document.querySelector('input[name="upd-mode"]:checked');
  return r ? r.value : 'incr';
}

function runSongUpdate() {
  if (updateRunning) return;
  try {
    var mode = __updMode();
    updateRunning = true;
    __updSetStartEnabled(false);
    __updBarFailed(false);
    updateModalProgress(0, '준비 중...', 0, 0);
    pagePost('RUN_SONG_UPDATE:' + mode);
    __updStartWatch();
  } catch (e) {
    updateRunning = false;
    __updSetStartEnabled(true);
    updateModalProgress(0, '업데이트를 시작하지 못했습니다. 다시 눌러주세요.', 0, 0);
  }
}

function checkSongDates() {
  updateModalProgress(0, '게시판 등록일 확인 중...', 0, 0);
  pagePost('CHECK_SONG_DATES');
}

function startFullUpdateAuto() {
  try {
    window.__autoCloseUpdate = true;
    openUpdateModal();
    var full = document.querySelector('input[name="upd-mode"][value="full"]');
    if (full) full.checked = true;
    if (!updateRunning) {
      updateRunning = true;
      __updSetStartEnabled(false);
      updateModalProgress(0, '\uCC98\uC74C \uC124\uCE58 - \uC804\uCCB4\uACE1\uC744 \uBC1B\uC2B5\uB2C8\uB2E4...', 0, 0);
      pagePost('RUN_SONG_UPDATE:full');
      __updStartWatch();
    }
  } catch (e) {
    console.log(e);
  }
}

function updateModalProgress(pct, status, done, total) {
  __updTick();
  pct = Number(pct) || 0;
  if (pct < 0) pct = 0;
  if (pct > 100) pct = 100;
  var bar = __updEl('update-bar');
  if (bar) bar.style.width = pct + '%';
  var p = __updEl('update-pct');
  if (p) p.textContent = Math.round(pct) + '%';
  if (status) {
    var st = __updEl('update-status');
    if (st) st.textContent = status;
  }
  var d = __updEl('update-detail');
  if (d) d.textContent = total > 0 ? ('진행: ' + done + ' / ' + total + ' 곡') : '';
}

function __updBarFailed(failed) {
  var bar = __updEl('update-bar');
  if (bar) bar.style.background = failed ? 'linear-gradient(90deg,#e74c3c,#c0392b)' : 'linear-gradient(90deg,#2ecc71,#27ae60)';
}
// The end of a run; `failed`: the run did not complete, so the bar stays where it stopped, turns
// red and the message says why.
function updateDone(msg, cnt, failed) {
  updateRunning = false;
  __updStopWatch();
  __updSetStartEnabled(true);
  __updBarFailed(!!failed);
  if (failed) {
    var pct = __updEl('update-pct');
    if (pct) pct.textContent = '실패';
    var st = __updEl('update-status');
    if (st) st.textContent = '실패: ' + (msg || '원인 불명');
    var d = __updEl('update-detail');
    if (d) d.textContent = '';
  } else {
    updateModalProgress(100, msg || '완료', 0, 0);
  }
  __updSongCountText(cnt);
  if (window.__autoCloseUpdate) {
    window.__autoCloseUpdate = false;
    setTimeout(function () {
      var ov = __updEl('update-overlay');
      if (ov) ov.style.display = 'none';
    }, 5000);
  }
}
