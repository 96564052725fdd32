// Page logic of the settings blob, the key editor and the reverb/chorus steppers, without a browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import vm from 'node:vm';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;

function page() {
  const alerts = [];
  const p = loadPage(FILES, { alert: (m) => alerts.push(m) });
  p.alerts = alerts;
  return p;
}
const plain = (v) => JSON.parse(JSON.stringify(v));

test('the settings blob: collected members and the types applyEnvSettings takes', () => {
  const p = page();
  p.listFontPx = 17;
  p.measPerPage = 4;
  p.staffMode = 1;
  const e = plain(p.collectEnv());
  assert.deepEqual(Object.keys(e).sort(), ['drumSheetOn', 'engCfg', 'listFontPx', 'measPerPage', 'noteScale', 'qFxNote', 'resvColW',
                                           'score', 'searchColW', 'showBasicSheet', 'staffMode']);
  p.saveEnv();
  assert.match(p.posted.at(-1), /^SAVE_ENV:\{"qFxNote":54,/);

  const cases = [
    [{ staffMode: 5 }, 'staffMode', 1],
    [{ staffMode: 3 }, 'staffMode', 3],
    [{ staffMode: '2' }, 'staffMode', 3],
    [{ measPerPage: '6' }, 'measPerPage', 4],
    [{ measPerPage: 6 }, 'measPerPage', 6],
    [{ drumSheetOn: 1 }, 'drumSheetOn', false],
    [{ drumSheetOn: true }, 'drumSheetOn', true],
    ['{"listFontPx":21}', 'listFontPx', 21],
    ['', 'listFontPx', 21],
    ['not json', 'listFontPx', 21],
  ];
  p.drumSheetOn = false;
  for (const [arg, name, want] of cases) {
    p.applyEnvSettings(arg);
    assert.equal(p[name], want, JSON.stringify(arg));
  }
  p.applyEnvSettings({ qFxNote: 49, searchColW: { title: 25, nope: 3, singer: 'x' } });
  assert.equal(p.posted.at(-1), 'SET_QFX:49');
  assert.equal(p.searchColW.title, 25);
  assert.equal(p.searchColW.singer, 10);
  assert.equal('nope' in p.searchColW, false);
});

test('reverb and chorus steppers start from the song or module value', () => {
  const p = page();
  const steps = [
    ['adjReverbLv', 4, 'SET_REVERB_LV:0'],
    ['adjReverbLv', -4, 'SET_REVERB_LV:-1'],
    ['adjReverbLv', -4, 'SET_REVERB_LV:-1'],
    ['adjChorusMacro', 1, 'SET_CHORUS:2:-1:-1'],
    ['adjChorusMacro', 6, 'SET_CHORUS:0:-1:-1'],
    ['adjChorusLevel', 4, 'SET_CHORUS:0:32:-1'],
    ['adjChorusLevel', 4, 'SET_CHORUS:0:36:-1'],
    ['adjChorusDepth', -4, 'SET_CHORUS:0:36:64'],
    ['adjChorusDepth', 0, 'SET_CHORUS:0:36:-1'],
  ];
  for (const [fn, d, want] of steps) {
    p[fn](d);
    assert.equal(p.posted.at(-1), want, fn + ' ' + d);
  }
  // initAppSettings without a chorus object leaves the chorus values as they were.
  p.initAppSettings(1, 'SC8820', 'SC8850', 4, 0, 0, 20, 1, 0, 0, 100, { on: 1, macro: 3, time: 40, preLpf: 2 }, 0);
  assert.deepEqual([p.choMacro, p.choLevel, p.reverbLv, p.startFullscreen, p.shapeOn, p.autoKeyMode], [0, 36, 20, 1, 1, 1]);
});

test('key editor: semitone text, key names, clamp and the import message', () => {
  const p = page();
  assert.deepEqual([p.fmtSemi(0), p.fmtSemi(-2), p.fmtSemi(3)], ['0반음', '-2반음', '+3반음']);
  p.origKeyRootPc = 9;
  p.origKeyIsMinor = true;
  assert.deepEqual([p.keyCodeName(0), p.keyCodeName(3), p.keyCodeName(-10)], ['Am', 'Cm', 'Bm']);
  p.songLoaded = false;
  p.openKeyEditor();
  assert.deepEqual(p.alerts, ['곡을 먼저 선택해주세요.']);
  assert.equal(p.keyEditorOpen, false);
  p.curKeyMale = 0;
  for (let i = 0; i < 20; i++) p.keyEditorAdjust(1);
  assert.equal(p.curKeyMale, 12);
  p.keyEditSel = 1;
  p.curKeyFemale = -11;
  p.keyEditorAdjust(-5);
  assert.equal(p.curKeyFemale, -12);
  p.curKeySongId = 0;
  p.keyEditorSave();
  assert.equal(p.posted.length, 0);  // no song: nothing sent
  p.curKeySongId = 77;
  p.keyEditorSave();
  assert.deepEqual([p.posted.at(-1), p.userKeyIds[77]], ['SET_USERKEY:77,12,-12', 1]);
  p.userKeyImportDone(3, 0);
  p.userKeyImportDone(0, 2);
  p.userKeyImportDone(0, 0);
  assert.deepEqual(p.alerts.slice(1), ['3곡의 남/여 키를 불러왔습니다.',
                                       '0곡의 남/여 키를 불러왔습니다.\n\n이미 저장된 곡 2곳은 그대로 남겨두었습니다.',
                                       '이 파일에는 저장된 남/여 키가 없습니다.']);
  p.initUserKeys([5, 9]);
  assert.deepEqual(plain(p.userKeyIds), { 5: 1, 9: 1 });
  p.initUserKeys();
  assert.deepEqual(plain(p.userKeyIds), {});
});

test('custom font names map to one web-font family', () => {
  const p = page();
  assert.equal(p.customFamilyName('My Font (1).ttf'), 'CF_My_Font__1__ttf');
  assert.equal(p.customFamilyName('My_Font_(1).ttf'), 'CF_My_Font__1__ttf');
  assert.equal(p.customFamilyName('나눔 고딕.otf'), 'CF_나눔_고딕_otf');
  assert.deepEqual([p.lyricFamilyOf('file:a b.ttf'), p.lyricFamilyOf('굴림'), p.lyricFamilyOf('')], ['CF_a_b_ttf', '굴림', '']);
  p.ensureCustomFontLoaded('굴림');
  p.ensureCustomFontLoaded('file:a.ttf');
  p.customFontsLoaded['b.ttf'] = true;
  p.ensureCustomFontLoaded('file:b.ttf');
  assert.deepEqual(p.posted, ['LOAD_CUSTOM_FONT:a.ttf']);
});

test('customer window rows: monitor buttons, the main one disabled', () => {
  const p = page();
  p.monitorList = [[1, 1920, 1080, 1], [2, 1280, 720, 0], 'junk'];
  p.mainMonitor = 1;
  const html = p.spCustomerRows();
  assert.match(html, /1번 \(1920x1080 · 주 · 메인\)<\/button>/);
  assert.match(html, /disabled style[^>]*>1번/);
  assert.match(html, />2번 \(1280x720\)<\/button>/);
  p.spOwned('setCustomerMonitor', 2);
  assert.deepEqual([p.posted.at(-1), p.customerMonitor], ['SET_CUSTOMER_MONITOR:2', 2]);
});

// The settings panel's buttons as a person sees them: [label, onclick code, highlighted].
function buttons(html) {
  const unescape = (t) => t.replace(/&quot;/g, '"').replace(/&#39;/g, "'").replace(/&lt;/g, '<').replace(/&gt;/g, '>').replace(/&amp;/g, '&');
  return [...html.matchAll(/<button onclick="([^"]*)"[^>]*background:(#[0-9a-f]+);">([^<]*)<\/button>/g)]
    .map((m) => ({ label: unescape(m[3]), code: unescape(m[1]), on: m[2] === '#e67e22' }));
}
// Clicks the button labelled `label` (the n-th of that label) in the panel's customer rows.
function click(p, label, n = 0) {
  const b = buttons(p.spCustomerRows()).filter((x) => x.label === label)[n];
  assert.ok(b, 'a button ' + label);
  vm.runInContext(b.code, p);
}
const highlighted = (p, labels) => buttons(p.spCustomerRows()).filter((b) => labels.includes(b.label) && b.on).map((b) => b.label);

test('customer rows: each control posts its command and shows the state the program answers', () => {
  const p = page();
  p.customerBright = 130; p.cwLyricsPct = 47; p.cwScoreFillPct = 100;
  p.initCustomerVideo(0, '', 0);
  p.initCamList(['USB 카메라 "A"', 'DVD 입력'], 0, '');
  p.initPcVideoInfo(-1, -1, 0, 0, 0);
  assert.match(p.spCustomerRows(), /video 폴더에 동영상이 없습니다/);
  assert.match(p.spCustomerRows(), /PC 점수 : 아직 ALT\+F12 진단 전/);

  // [button, its index among equal labels, command posted, the program's answer, buttons then highlighted, text then shown]
  const cases = [
    ['기본', 0, 'SET_CUSTOMER_BRIGHT:100', null, ['기본'], null],
    ['메인과 같이 42', 0, 'SET_CW_LYRICS_PCT:42', null, ['메인과 같이 42'], null],
    ['메인 느낌 120', 0, 'SET_CW_SCORE_FILL:120', null, ['메인 느낌 120'], null],
    ['켬', 0, 'SET_CUSTOMER_VIDEO:1', () => p.initCustomerVideo(1, 'loop.mp4', 2), ['켬'], /loop\.mp4 \(동영상 2개\)/],
    ['외부 입력(카메라·DVD)', 0, 'SET_CUSTOMER_VIDEO_SRC:1', null, ['외부 입력(카메라·DVD)', '자동(첫 장치)'], /장치 목록 다시 읽기/],
    ['USB 카메라 "A"', 0, 'SET_CUSTOMER_CAM:USB 카메라 "A"', () => p.initCamList(['USB 카메라 "A"', 'DVD 입력'], 1, 'USB 카메라 "A"'), ['USB 카메라 "A"'], null],
    ['장치 목록 다시 읽기', 0, 'REFRESH_CAMS', null, [], null],
    ['자동(첫 장치)', 0, 'SET_CUSTOMER_CAM:', () => p.initCamList(['DVD 입력'], 1, ''), ['자동(첫 장치)'], /DVD 입력/],
    ['동영상 파일', 0, 'SET_CUSTOMER_VIDEO_SRC:0', null, ['동영상 파일'], null],
    ['끔', 0, 'SET_CUSTOMER_VIDEO:0', () => p.initCustomerVideo(0, 'loop.mp4', 2), ['끔'], null],
    ['켬', 1, 'SET_GPU_FORCE:1', () => p.initPcVideoInfo(1, 72, 0, 1, 1), ['켬'], /PC 점수 : 72점 \(ALT\+F12 실측\)[\s\S]*지금 켜짐/],
    ['자동', 0, 'SET_GPU_FORCE:-1', () => p.initPcVideoInfo(-1, 40, 1, 0, 0), ['자동'], /PC 점수 : 40점 \(추정\) · 저사양 PC[\s\S]*지금 꺼짐/],
  ];
  for (const [label, n, command, answer, on, shown] of cases) {
    click(p, label, n);
    assert.equal(p.posted.at(-1), command, label);
    if (answer) answer();
    const wanted = ['기본', '메인과 같이 42', '메인 느낌 120', '켬', '끔', '자동', '동영상 파일', '외부 입력(카메라·DVD)', '자동(첫 장치)', 'USB 카메라 "A"'];
    for (const l of on) assert.ok(highlighted(p, wanted).includes(l), label + ': ' + l + ' highlighted');
    if (shown) assert.match(p.spCustomerRows(), shown, label);
  }
  assert.equal(p.posted.includes('REFRESH_CAMS'), true);
  // the two maintenance buttons warn against a press during a song
  const system = p.spColumnSystem();
  assert.equal(system.match(/연주 중에는 누르지 마세요\.<\/div>/g).length, 2);
});

test('the performance row highlights the setting, 자동 included, and shows what is in force', () => {
  const labels = { '-1': '자동', 1: '저사양', 0: '고사양' };
  for (const setting of [-1, 1, 0]) {
    for (const effective of [0, 1]) {
      const p = page();
      p.setLiteMode(effective, setting);
      const row = p.spColumnSystem().split('백신 검사 제외')[0];
      const on = buttons(row).filter((b) => ['자동', '저사양', '고사양'].includes(b.label) && b.on).map((b) => b.label);
      assert.deepEqual(on, [labels[setting]], `setting ${setting}, in force ${effective}`);
      assert.match(row, new RegExp('지금 : ' + (effective ? '저사양' : '고사양')), `setting ${setting}, in force ${effective}`);
    }
  }
  const p = page();
  vm.runInContext(buttons(p.spColumnSystem()).find((b) => b.label === '저사양').code, p);
  assert.equal(p.posted.at(-1), 'SET_LITE_MODE:1');
});
