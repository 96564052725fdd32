// The remote-support dialog, in which the operator sees the member data and picks the support
// agent the program then connects to, and the drawing of the network badge in the bottom-right
// corner (grey until a probe reports). Every text from the network is written escaped.
var rsSel = 0;
var rsOpen = false;
var rsList = [];

(function buildRemoteSupportDialog() {
  var ov = pageEl('rs-overlay');
  if (!ov || ov.__built) return;
  ov.__built = true;
  ov.style.background = 'rgba(8,10,14,0.66)';
  ov.style.backdropFilter = 'blur(4px)';
  ov.style.alignItems = 'center';
  ov.style.justifyContent = 'center';
  var label = 'font-size:13px; color:#7f8a9b; font-weight:800; margin:16px 0 8px;';
  ov.innerHTML =
    '<div style="width:min(760px,94vw); max-height:92vh; display:flex; flex-direction:column; background:linear-gradient(180deg,#242a36,#1a1e27); border:1px solid #3a4353; border-radius:20px; overflow:hidden; font-family:\'Malgun Gothic\',sans-serif; color:#e7ecf3;">' +
      '<div style="background:linear-gradient(100deg,#2f80ed,#1b56b0); color:#fff; padding:18px 28px;">' +
        '<div style="font-size:24px; font-weight:900;">&#128187;&nbsp; 원격지원 요청</div>' +
        '<div style="font-size:15px; margin-top:4px;">도움받을 곳을 고른 뒤 아래 <b>원격지원 허용</b>을 눌러주세요</div>' +
      '</div>' +
      '<div style="overflow-y:auto; padding:6px 28px 14px;">' +
        '<div style="' + label + '">내 정보</div>' +
        '<div id="rs-member" style="display:grid; grid-template-columns:1fr 1fr; gap:10px; background:#171b23; border:1px solid #2e3644; border-radius:14px; padding:14px 18px;"></div>' +
        '<div style="' + label + '">지원 가능한 곳</div>' +
        '<div id="rs-list" style="display:flex; flex-direction:column; gap:9px;"></div>' +
        '<div style="margin-top:14px; background:rgba(231,76,60,0.09); border:1px solid rgba(231,76,60,0.30); color:#c9b0ad; font-size:13.5px; border-radius:12px; padding:12px 16px;">' +
          '허용하면 <b style="color:#f0a19a">이 화면이 상대방에게 그대로 보이고</b>, 마우스와 키보드를 대신 조작할 수 있습니다.<br>        연결된 동안 화면 맨 위에 빨간 띠가 계속 표시되며, 거기 <b>[지원 종료]</b>를 누르면 즉시 끊깁니다.' +
        '</div>' +
      '</div>' +
      '<div style="text-align:right; font-size:13px; color:#7f8a9b; padding:0 28px;">위아래 화살표 = 지원처 선택 · Tab = 버튼 이동 · Enter = 실행 · Esc = 취소</div>' +
      '<div style="display:flex; justify-content:flex-end; gap:10px; padding:14px 28px 20px;">' +
        '<button id="rs-cancel" onclick="rsPick(-1)" style="background:#2a313e; color:#e7ecf3; border:none; border-radius:10px; padding:11px 22px; font-size:15px; cursor:pointer;">취소</button>' +
        '<button id="rs-ok" onclick="rsAccept()" style="background:linear-gradient(180deg,#3d8bf5,#1c62c8); color:#fff; border:none; border-radius:10px; padding:11px 22px; font-size:15px; font-weight:900; cursor:pointer;">원격지원 허용</button>' +
      '</div>' +
    '</div>';
})();

(function buildNetBadge() {
  var b = pageEl('net-badge');
  if (!b || b.__built) return;
  b.__built = true;
  b.style.width = '40px';
  b.style.height = '36px';
  b.style.background = 'rgba(15,15,15,0.55)';
  b.style.border = '1px solid rgba(255,255,255,0.16)';
  b.style.borderRadius = '9px';
  b.style.boxSizing = 'border-box';
  b.style.display = 'flex';
  b.style.alignItems = 'center';
  b.style.justifyContent = 'center';
  b.title = '인터넷 상태 확인 중...';
  var arc = 'fill="none" stroke="#7f8c8d" stroke-width="2.2" stroke-linecap="round"';
  b.innerHTML =
    '<svg width="26" height="20" viewBox="0 0 24 18">' +
      '<path id="nb-a3" d="M2.5 7 A 11 11 0 0 1 21.5 7" ' + arc + '/>' +
      '<path id="nb-a2" d="M6 10.6 A 7.2 7.2 0 0 1 18 10.6" ' + arc + '/>' +
      '<path id="nb-a1" d="M9.2 14 A 3.6 3.6 0 0 1 14.8 14" ' + arc + '/>' +
      '<circle id="nb-dot" cx="12" cy="16.2" r="1.6" fill="#7f8c8d"/>' +
      '<line id="nb-slash" x1="3.5" y1="2.5" x2="20.5" y2="16" stroke="#e74c3c" stroke-width="2.4" stroke-linecap="round" style="display:none"/>' +
    '</svg>';
})();

function rsField(label, value) {
  var v = (value === undefined || value === null || value === '') ? '-' : String(value);
  return '<div><div style="font-size:12.5px; color:#7f8a9b;">' + htmlEsc(label) + '</div>' +
    '<div style="font-size:17px; font-weight:800; color:#e7ecf3;">' + htmlEsc(v) + '</div></div>';
}

function rsRow(i, entry) {
  var sel = i === rsSel;
  var name = entry && entry.name !== undefined ? String(entry.name) : '';
  var id = entry && entry.id !== undefined ? String(entry.id) : '';
  return '<div class="rs-row" onclick="rsSelect(' + i + ')" style="display:flex; align-items:center; gap:14px; padding:14px 18px; border-radius:13px; cursor:pointer; transition:all 0.12s; ' +
      (sel ? 'background:rgba(47,128,237,0.14); border:2px solid #3d8bf5;' : 'background:#171b23; border:2px solid #2e3644;') + '">' +
    '<div style="width:22px; height:22px; border-radius:50%; box-sizing:border-box; flex-shrink:0; display:flex; align-items:center; justify-content:center; border:2px solid ' + (sel ? '#3d8bf5' : '#4a5364') + ';">' +
      (sel ? '<div style="width:11px; height:11px; border-radius:50%; background:#3d8bf5;"></div>' : '') +
    '</div>' +
    '<div style="flex:1; min-width:0;">' +
      '<div style="font-size:18px; font-weight:800; color:' + (sel ? '#fff' : '#dbe1ea') + ';">' + htmlEsc(name) + '</div>' +
      (id ? '<div style="font-size:13px; color:#7f8a9b;">' + htmlEsc(id) + '</div>' : '') +
    '</div>' +
    (sel ? '<div style="font-size:13px; font-weight:800; color:#3d8bf5;">선택됨</div>' : '') +
  '</div>';
}

function rsRender() {
  var el = document.getElementById('rs-list');
  if (!el) return;
  var html = '';
  for (var i = 0; i < rsList.length; i++) html += rsRow(i, rsList[i]);
  el.innerHTML = html;
  var row = el.children[rsSel];
  if (row && row.scrollIntoView) row.scrollIntoView({ block: 'nearest' });
}

function rsSelect(i) {
  rsSel = i;
  rsRender();
}

function showRemoteSupportDialog(m, list) {
  rsList = Array.isArray(list) ? list : [];
  rsSel = 0;
  m = m || {};
  var member = document.getElementById('rs-member');
  if (member) member.innerHTML = rsField('회원명', m.name) + rsField('아이디', m.id);
  rsRender();
  var ov = document.getElementById('rs-overlay');
  if (ov) ov.style.display = 'flex';
  rsOpen = true;
  var cancel = document.getElementById('rs-cancel');
  if (cancel) cancel.focus();
}

function hideRemoteSupportDialog() {
  rsOpen = false;
  var ov = document.getElementById('rs-overlay');
  if (ov) ov.style.display = 'none';
}

function rsPick(n) {
  hideRemoteSupportDialog();
  pagePost('RS_PICK:' + n);
}

function rsAccept() { rsPick(rsSel); }

// The vendor web server's name as the badge's titles show it (the program's VendorWebHost).
var netVendorHost = 'tavelo-vendor.invalid';

// 2: the vendor web server answers; 1: only the internet; 0: nothing.
function setNetStatus(s) {
  var b = document.getElementById('net-badge');
  if (!b) return;
  var colour = s === 2 ? '#2ecc71' : s === 1 ? '#f1c40f' : '#8a9096';
  ['nb-a3', 'nb-a2', 'nb-a1'].forEach(function (id) {
    var a = document.getElementById(id);
    if (a) a.setAttribute('stroke', colour);
  });
  var dot = document.getElementById('nb-dot');
  if (dot) dot.setAttribute('fill', colour);
  var up = s === 2 || s === 1;
  var slash = document.getElementById('nb-slash');
  if (slash) slash.style.display = up ? 'none' : '';
  b.title = s === 2 ? '인터넷 정상 (' + netVendorHost + ' 연결됨)'
    : s === 1 ? '인터넷은 되지만 ' + netVendorHost + ' 응답이 없습니다 (신곡/업데이트 불가)'
    : '인터넷 연결이 끊겼습니다 (랜선/공유기 확인)';
  b.style.border = '1px solid ' + (up ? 'rgba(255,255,255,0.16)' : 'rgba(231,76,60,0.55)');
}
