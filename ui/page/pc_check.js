// The PC check panel (ALT+F12): progress while the program measures, then one row per item with
// its grade, and the total score and letter. Also the antivirus state the settings panel shows.
var avState = 0;
var avDetail = '';

function initAvExcl(state, detail) {
  avState = parseInt(state, 10) || 0;
  avDetail = detail || '';
  if (typeof renderSettingsPanel === 'function' && typeof settingsPanelOpen !== 'undefined' && settingsPanelOpen) renderSettingsPanel();
}

function pcchkCol(g) { return g < 0 ? '#6b7076' : ['#e74c3c', '#f1c40f', '#2ecc71'][g]; }
function pcchkTxt(g) { return g < 0 ? '미측정' : ['주의', '보통', '좋음'][g]; }

// The panel's fixed parts, made the first time it opens.
function pcchkEnsure() {
  var ov = document.getElementById('pccheck-overlay');
  if (!ov) return null;
  if (!document.getElementById('pcchk-body')) {
    ov.style.cssText = 'display:none; position:fixed; inset:0; z-index:700; background:rgba(8,10,14,0.97); ' +
      'font-family:"Malgun Gothic",sans-serif; overflow:auto;';
    ov.innerHTML =
      '<div style="max-width:980px; margin:0 auto; padding:28px 30px 40px;">' +
      '<div style="display:flex; align-items:center; gap:22px;">' +
      '<div id="pcchk-grade" style="width:96px; height:96px; border-radius:50%; display:flex; align-items:center; ' +
      'justify-content:center; font-size:52px; font-weight:900; color:#0b0d10; background:#555;">-</div>' +
      '<div style="flex:1;"><div style="color:#f39c12; font-size:26px; font-weight:900;">PC 성능 진단</div>' +
      '<div id="pcchk-summary" style="color:#cfd8dc; font-size:16px;">ALT+F12 로 다시 검사합니다</div>' +
      '<div id="pcchk-score" style="color:#8ab4f8; font-size:14px;"></div></div>' +
      '<button onclick="closePcCheck()">닫기 (ESC)</button></div>' +
      '<div id="pcchk-body"></div>' +
      '<div style="color:#7d8288; font-size:12px; margin-top:18px;">검사는 소리를 한 음도 내지 않습니다. ' +
      '연주 중에는 돌아가지 않습니다(재는 것 자체가 부하입니다).<br>결과는 ' +
      '<b style="color:#9aa0a6;">' + rootPathHtml('system/pc_check.txt') + '</b> 에도 저장됩니다.</div></div>';
  }
  return ov;
}

function openPcCheck() {
  if (window.__customerMode) return;
  var ov = pcchkEnsure();
  if (ov) ov.style.display = 'block';
}

function closePcCheck() {
  if (window.__customerMode) return;
  var ov = document.getElementById('pccheck-overlay');
  if (ov) ov.style.display = 'none';
}

function pcCheckProgress(t) {
  if (window.__customerMode) return;
  openPcCheck();
  var grade = document.getElementById('pcchk-grade');
  if (!grade) return;
  grade.textContent = '…';
  grade.style.background = '#555';
  document.getElementById('pcchk-summary').textContent = t;
  document.getElementById('pcchk-score').textContent = '';
  if (!window.__pcchkStarted) {
    window.__pcchkStarted = 1;
    document.getElementById('pcchk-body').innerHTML =
      '<div style="color:#8ab4f8; font-size:15px; margin:30px 0;">검사하는 중입니다. 10초쯤 걸립니다...</div>';
  }
}

function showPcCheck(items, score, letter, verdict) {
  if (window.__customerMode) return;
  window.__pcchkStarted = 0;
  openPcCheck();
  var grade = document.getElementById('pcchk-grade');
  if (!grade) return;
  grade.textContent = letter;
  grade.style.background = { A: '#2ecc71', B: '#7bed9f', C: '#f1c40f', D: '#e74c3c' }[letter] || '#555';
  document.getElementById('pcchk-summary').textContent = verdict;
  document.getElementById('pcchk-score').textContent = '종합 점수 ' + score + ' / 100';
  var html = '';
  (items || []).forEach(function (it) {
    var c = pcchkCol(it.g);
    var fill = it.g < 0 ? 0 : it.g * 50;
    html += '<div class="pcchk-row" style="display:flex; align-items:center; gap:14px; padding:11px 4px; ' +
      'border-bottom:1px solid #22262c;">' +
      '<span style="width:13px; height:13px; border-radius:50%; background:' + c + '; box-shadow:0 0 9px ' + c +
      '; flex:none;"></span>' +
      '<span style="width:150px; color:#e8eef5; font-size:15px; font-weight:800; flex:none;">' + it.n + '</span>' +
      '<span style="width:215px; color:' + c + '; font-size:15px; font-weight:900; flex:none;">' + it.v + '</span>' +
      '<span style="width:110px; height:11px; background:rgba(255,255,255,0.10); border-radius:6px; flex:none; ' +
      'overflow:hidden;"><span style="display:block; height:100%; width:' + fill + '%; background:' + c +
      ';"></span></span>' +
      '<span style="width:52px; color:' + c + '; font-size:13px; font-weight:800; text-align:center; flex:none;">' +
      pcchkTxt(it.g) + '</span>' +
      '<span style="flex:1; color:#9aa4ae; font-size:13px;">' + it.t + '</span></div>';
  });
  document.getElementById('pcchk-body').innerHTML = html;
}
