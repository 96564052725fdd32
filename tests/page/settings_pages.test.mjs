// Page logic of the settings blob, the key editor and the reverb/chorus steppers, without a browser.
import { test } from 'node:test';
import assert from 'node:assert/strict';
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
