// The PC check panel's page logic: progress, the result rows and colours, customer mode, and the
// antivirus state.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

function page(extra = {}) {
  const elements = {};
  const document = {
    getElementById(id) {
      if (!elements[id]) elements[id] = { id, style: {}, textContent: '', innerHTML: '' };
      return elements[id];
    },
  };
  const p = loadPage(['pc_check.js'], { document, ...extra });
  p.el = (id) => document.getElementById(id);
  return p;
}

test('progress opens the panel and says once that the check runs', () => {
  const p = page();
  p.pcCheckProgress('타이머 정확도 재는 중...');
  assert.equal(p.el('pccheck-overlay').style.display, 'block');
  assert.equal(p.el('pcchk-grade').textContent, '…');
  assert.equal(p.el('pcchk-summary').textContent, '타이머 정확도 재는 중...');
  assert.match(p.el('pcchk-body').innerHTML, /검사하는 중입니다. 10초쯤 걸립니다.../);
  p.el('pcchk-body').innerHTML = 'kept';
  p.pcCheckProgress('MIDI 출력 재는 중...');
  assert.equal(p.el('pcchk-body').innerHTML, 'kept');
  p.closePcCheck();
  assert.equal(p.el('pccheck-overlay').style.display, 'none');
});

test('the result: letter colour, score, one row per item with its grade word and bar', () => {
  const p = page();
  const items = [{ n: '타이머 정확도', v: '평균 1.0ms', t: '좋습니다', g: 2 },
                 { n: '백신 검사 제외', v: '확인 불가', t: '손으로 확인', g: -1 },
                 { n: '전원', v: '배터리', t: '충전기', g: 0 }];
  p.showPcCheck(items, 72, 'B', '쓸 수 있습니다');
  assert.equal(p.el('pcchk-grade').textContent, 'B');
  assert.equal(p.el('pcchk-grade').style.background, '#7bed9f');
  assert.equal(p.el('pcchk-score').textContent, '종합 점수 72 / 100');
  const body = p.el('pcchk-body').innerHTML;
  assert.equal(body.split('class="pcchk-row"').length - 1, 3);
  assert.match(body, /#6b7076[^]*미측정/);
  assert.match(body, /width:0%; background:#6b7076/);
  assert.match(body, /width:100%; background:#2ecc71/);
  assert.equal(p.pcchkTxt(1), '보통');
  assert.equal(p.pcchkCol(0), '#e74c3c');
  assert.equal(p.__pcchkStarted, 0);
});

test('a customer page shows nothing; the antivirus state is kept', () => {
  const p = page({ __customerMode: true });
  p.pcCheckProgress('x');
  p.showPcCheck([], 100, 'A', 'v');
  assert.equal(p.el('pccheck-overlay').style.display, undefined);
  p.initAvExcl('2', 'tavelo 제외됨');
  assert.equal(p.avState, 2);
  assert.equal(p.avDetail, 'tavelo 제외됨');
  p.initAvExcl(undefined, null);
  assert.equal(p.avState, 0);
  assert.equal(p.avDetail, '');
});
