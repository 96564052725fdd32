// The pattern editor's page logic: the payload into the grid, placing and changing hits, the row
// fields of a save, the guards before closing and switching, held keys, tempo and sound names.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;
const key = (k, extra = {}) => ({ key: k, code: '', repeat: false, altKey: false, ctrlKey: false, preventDefault() {}, ...extra });

function editor() {
  const p = loadPage(FILES);
  p.openRedEditor();
  p.setRedData('DS1', [
    { pat: 'P1', ok: 1, bars: 2, tpq: 96, rows: [
      { ch: 9, prog: 0, mine: 1, dd: 10, pal: [35, 36], own: [36], n: [[0, 36, 100, 10], [8, 36, 80, 10]], off: 0 },
      { ch: 10, prog: -1, mine: 0, dd: 15, pal: [38, 40], own: [], n: [], off: 1 },
      { ch: 13, prog: 117, mine: 0, dd: 15, pal: [], own: [], n: [], off: 0 }] },
    { pat: 'P2', ok: 0, rows: [] }],
    [{ k: 1, st: 'DS1', ok: 1 }, { k: 2, st: 'DS2', ok: 1 }, { k: 3, st: 'DS3', ok: 0 }]);
  p.posted.length = 0;
  return p;
}

test('the payload becomes rows with hit maps and an average velocity', () => {
  const p = editor();
  const row = p.redGrid[0].rows[0];
  assert.deepEqual(JSON.parse(JSON.stringify(row.map)), { 0: { p: 36, v: 100, d: 10 }, 8: { p: 36, v: 80, d: 10 } });
  assert.equal(row.dv, 90);
  assert.equal(p.redGrid[0].rows[1].dv, 100);
  assert.equal(p.redGrid[1].bars, 1);
  assert.equal(p.redGrid[1].tpq, 120);
});

test('a snare hit at bar 1 step 3 and Ctrl+S send the changed row only', () => {
  const p = editor();
  for (const k of ['ArrowDown', 'ArrowRight', 'ArrowRight', 'Enter']) p.redEditorKey(key(k));
  assert.deepEqual(p.posted, ['RED_HIT:0\t10\t38\t100']);
  p.redEditorKey(key('='));
  p.redEditorKey(key('s', { ctrlKey: true }));
  assert.equal(p.posted.at(-1), 'RED_SAVE:0\t10=2.38.105.15');
  assert.equal(p.redBusy, true);
});

test('keys: held Enter toggles once, sounds wrap, rows without a palette refuse, bars clamp', () => {
  const p = editor();
  p.redEditorKey(key('Enter'));        // removes the kick at step 0
  p.redEditorKey(key('Enter', { repeat: true }));
  assert.equal(p.redGrid[0].rows[0].map[0], undefined);
  p.redEditorKey(key('Enter'));        // placed with the palette's first sound
  assert.equal(p.redGrid[0].rows[0].map[0].p, 35);
  p.redEditorKey(key(']'));
  p.redEditorKey(key(']'));            // 35 -> 36 -> wraps to 35
  assert.equal(p.redGrid[0].rows[0].map[0].p, 35);
  assert.equal(p.redLastSound[9], 35);
  p.redRow = 2;
  p.redEditorKey(key(' '));
  assert.equal(p.redMsg, '⚠ 톰 는 이 스타일에 쓰는 소리가 없어 놓을 수 없습니다');
  p.redEditorKey(key('ArrowLeft'));
  assert.deepEqual([p.redBar, p.redStep], [0, 0]);
  p.redStep = 15;
  p.redEditorKey(key('ArrowRight'));
  assert.deepEqual([p.redBar, p.redStep], [1, 0]);
  p.redEditorKey(key('.'));
  assert.equal(p.redBar, 1);
  p.redEditorKey(key('Home'));
  assert.deepEqual([p.redBar, p.redStep], [0, 0]);
});

test('under a Korean layout the physical keys still pick the fills, bars and sounds', () => {
  const p = editor();
  const pickPattern = p.redPickPattern;
  const picked = [];
  p.redPickPattern = (i) => picked.push(i);
  for (const [k, code] of [['ㄹ', 'KeyF'], ['ㅁ', 'KeyA'], ['ㄴ', 'KeyS'], ['ㅇ', 'KeyD']]) p.redEditorKey(key(k, { code }));
  assert.deepEqual(picked, [5, 2, 3, 4]);
  p.redPickPattern = pickPattern;
  p.redEditorKey(key('Process', { code: 'Period' }));
  assert.equal(p.redBar, 1);
  p.redEditorKey(key('Process', { code: 'Comma' }));
  assert.equal(p.redBar, 0);
  p.redEditorKey(key('Process', { code: 'BracketRight' }));
  assert.equal(p.redGrid[0].rows[0].map[0].p, 35, 'the next sound of the palette, wrapping');
  p.redEditorKey(key('Process', { code: 'BracketLeft' }));
  assert.equal(p.redGrid[0].rows[0].map[0].p, 36, 'the sound before');
});

test('closing and switching with unsaved edits need a second press', () => {
  const p = editor();
  p.redEditorKey(key('Delete'));
  p.redEditorKey(key('Escape'));
  assert.equal(p.redOpen, true);
  assert.match(p.redMsg, /저장하지 않은 편집이 있습니다 - 그냥 닫으려면/);
  p.redEditorKey(key('2'));
  assert.match(p.redMsg, /그래도 2번으로 바꾸려면 한 번 더/);
  assert.equal(p.posted.filter((m) => m.startsWith('RED_OPEN')).length, 0);
  p.redEditorKey(key('2'));
  assert.equal(p.posted.at(-1), 'RED_OPEN:DS2');
  assert.equal(p.redMsg, '2번 DS2 을(를) 불러옵니다...');
  const cases = [['1', '지금 1번 DS1 입니다'], ['3', '⚠ 3번(DS3) 리듬 파일이 없습니다']];
  for (const [k, msg] of cases) { p.redEditorKey(key(k)); assert.equal(p.redMsg, msg); }
  p.redEditorKey(key('0'));
  assert.equal(p.redMsg, '이 패턴 파일이 없습니다.');
  p.redEditorKey(key('Escape'));
  p.redEditorKey(key('Escape'));
  assert.equal(p.redOpen, false);
});

test('listen, mute, tempo and the results', () => {
  const p = editor();
  p.redEditorKey(key('q'));
  assert.equal(p.posted.at(-1), 'RED_PREVIEW:0');
  p.redEditorKey(key('q'));
  assert.equal(p.posted.at(-1), 'RED_STOP');
  p.redEditorKey(key('m'));
  assert.equal(p.posted.at(-1), 'RED_MUTE:9\t1');
  assert.equal(p.redMsg, '큰북 를 듣기에서 뺐습니다(뮤트 - 파일은 그대로)');
  for (let i = 0; i < 30; i++) p.redEditorKey(key('PageUp'));
  assert.equal(p.posted.at(-1), 'RED_BPM:220');
  p.setRedResult(0, '<b>x</b>');
  assert.equal(p.redMsg, '⚠ <b>x</b>');
  p.redPreviewDone();
  assert.equal(p.redMsg, '');
});

test('sound names', () => {
  const p = editor();
  const cases = [[8, 60, 'C4'], [14, 61, 'C#4'], [13, 35, 'B1'], [9, 36, '큰북2'], [12, 76, '우드블록'], [11, 90, '노트90']];
  for (const [row, note, name] of cases) assert.equal(p.redSoundName(row, note), name);
});

test('opening takes the rhythm panel style, not the style opened last', () => {
  // Without the rhythm panel's script the editor opens DS1.
  const bare = loadPage(FILES);
  bare.openRedEditor();
  assert.deepEqual(bare.posted, ['RED_OPEN:DS1']);
  const p = loadPage([...FILES, 'rhythm_panel.js']);
  const opened = [];
  for (const [style, on] of [['SG1', true], ['DS4', false], ['', true]]) {
    p.setRhythmUi(style, 1, on);
    p.posted.length = 0;
    p.openRedEditor();
    p.setRedData('DS2', [{ pat: 'P1', ok: 1, rows: [] }], [{ k: 2, st: 'DS2', ok: 1 }]);  // the last one opened
    p.closeRedEditor();
    opened.push(p.posted.find((m) => m.startsWith('RED_OPEN:')));
  }
  // An empty style keeps the panel's last one.
  assert.deepEqual(opened, ['RED_OPEN:SG1', 'RED_OPEN:DS4', 'RED_OPEN:DS4']);
});
