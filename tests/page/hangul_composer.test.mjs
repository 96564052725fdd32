// The page's Hangul composer: jamo in, syllables out, and backspace step by step.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage } from './page_env.mjs';

const page = loadPage(['hangul_composer.js']);

// Each case: jamo and '<' (backspace) fed in order, the composer's value after each step.
const cases = [
  ['ㅎㅏㄴㄱㅡㄹ<<<<', ['ㅎ', '하', '한', '한ㄱ', '한그', '한글', '한그', '한ㄱ', '한', '']],
  ['ㄷㅏㄹㄱㅣ', ['ㄷ', '다', '달', '닭', '달기']],
  ['ㄷㅏㄹㄱㅇㅣ', ['ㄷ', '다', '달', '닭', '닭ㅇ', '닭이']],
  ['ㅇㅗㅏ<', ['ㅇ', '오', '와', '오']],
  ['ㄱㄱ', ['ㄱ', 'ㄱㄱ']],
  ['ㄱㅏㄱㅅㅏ', ['ㄱ', '가', '각', '갃', '각사']],
  ['ㄱㅏㅉ', ['ㄱ', '가', '가ㅉ']],
  ['ㅎㅏㄴ1', ['ㅎ', '하', '한', '한1']],
  // a vowel after a vowel that does not join starts a new lone vowel
  ['ㅏㅓ', ['ㅏ', 'ㅏㅓ']],
  // compound vowel backspace, compound final backspace
  ['ㄱㅜㅔㄹㅁ<<<', ['ㄱ', '구', '궤', '궬', '궮', '궬', '궤', '구']],
  // a compound final typed as one character after a finished syllable is kept, never lost
  ['ㄱㅏㄱㄳ', ['ㄱ', '가', '각', '각ㄳ']],
  ['ㄳ', ['ㄳ']],
  ['ㄱㅏㄳ', ['ㄱ', '가', '갃']],
  // ㅃ cannot be a final
  ['ㅂㅏㅃㅏ', ['ㅂ', '바', '바ㅃ', '바빠']],
  [' ㄱ<<', [' ', ' ㄱ', ' ', '']],
];

test('composer steps', () => {
  for (const [keys, want] of cases) {
    const c = new page.HangulComposer();
    const got = [];
    for (const k of keys) {
      if (k === '<') c.backspace(); else c.input(k);
      got.push(c.value());
    }
    assert.deepEqual(got, want, keys);
  }
});

test('text adopted from outside continues to compose after it', () => {
  const c = new page.HangulComposer();
  c.done = '사랑';
  for (const k of 'ㅎㅐ') c.input(k);
  assert.equal(c.value(), '사랑해');
  c.reset();
  assert.equal(c.value(), '');
});

test('key tables cover the two-set layout', () => {
  assert.equal(Object.keys(page.HG_KEY).length, 26);
  assert.equal(page.HG_KEY_SHIFT.KeyR, 'ㄲ');
  assert.equal(page.HG_JONG.length, 28);
  assert.equal(page.HG_JUNG.length, 21);
});
