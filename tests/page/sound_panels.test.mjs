// The sound panels' page logic: the tone list order and choice, the detail view's clamps, the
// mixer's commands and its state from the program, the external-module routing and the equalizer.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { loadPage, PAGE_MODULES } from './page_env.mjs';

const FILES = PAGE_MODULES;
const env = { setInterval: () => 1, clearInterval() {} };
const key = (k, extra = {}) => ({ key: k, code: '', preventDefault() {}, ...extra });

test('tone list: "Default" first, Yamaha names last; choosing posts the index in the whole table', () => {
  const p = loadPage(FILES, env);
  p.initSoundTable([{ name: 'YamahaBass', type: 2 }, { name: 'Fingered', type: 2 }, { name: 'Kick', type: 0 },
                    { name: 'Default', type: 2 }, { name: 'Picked', type: 2 }]);
  p.openSoundPanel();
  assert.deepEqual(JSON.parse(JSON.stringify(p.soundList().map((it) => it.e.name))), ['Default', 'Fingered', 'Picked', 'YamahaBass']);
  p.soundPanelKey(key('ArrowDown'));
  p.soundPanelKey(key('PageDown'));
  p.soundPanelKey(key('PageDown'));  // clamped at the end: no second choice
  assert.deepEqual([...p.posted], ['SOUND_STATE_REQ', 'APPLY_SOUND:2:0:1', 'APPLY_SOUND:2:0:0']);
  assert.equal(p.soundNames['2'], 'YamahaBass');
  // A category without entries: Up and Down do nothing.
  p.soundCat = 4;
  p.posted.length = 0;
  p.soundPanelKey(key('ArrowDown'));
  assert.deepEqual([...p.posted], []);
  // Category 3: Tab switches the context and applies.
  p.initSoundTable([{ name: 'Nylon', type: 3 }]);
  p.soundCat = 3;
  p.soundSel = 0;
  p.soundPanelKey(key('Tab'));
  assert.deepEqual([...p.posted], ['APPLY_SOUND:3:1:0']);
  assert.equal(p.soundNames['3_1'], 'Nylon');
});

test('detail view: Page Up on the pitch moves by 5 and never past 24; the reply replaces the mirror', () => {
  const p = loadPage(FILES, env);
  p.initSoundTable([]);
  p.openSoundPanel();
  p.soundCat = 4;
  p.soundPanelKey(key('e', { code: 'KeyE' }));
  p.soundPanelKey(key('ArrowRight'));  // pitch
  for (let i = 0; i < 6; i++) p.soundPanelKey(key('PageUp'));
  assert.equal(p.soundTone(4, 0).pitch, 24);
  assert.equal(p.posted.filter((m) => m === 'SOUND_PITCH_UP:4:0:5').length, 6);
  p.updateSoundToneDisplay(4, 0, 90, 3, 64, 40, 64, 0, 0);
  assert.equal(p.soundTone(4, 0).pitch, 3);
  p.initSoundState([['2', 'Fingered']], [['7_0', 110, 0, 64, 40]]);
  assert.deepEqual({ ...p.soundTone(7, 0) }, { volume: 110, pitch: 0, filter: 64, reverb: 40, filterLow: 64, comp: 0, octave: 0 });
});

test('mixer: cvtdrum, mutes, levels from the program and the 150 cap', () => {
  const p = loadPage(FILES, env);
  p.saveEnv = () => {};  // the mixer's own commands only
  const levels = new Array(32).fill(100);
  levels[0] = 0;
  levels[1] = 140;
  p.initMixerFromApp(levels, new Array(16).fill(100), new Array(32).fill(0), new Array(32).fill(0), [100, 90, 80]);
  const main = p.MIXER_BANKS.main;
  assert.equal(main.parts[0].mute, true);
  assert.equal(main.parts[0].level, 0);
  assert.equal(main.parts[1].level, 140, 'a stored 140 % is kept');
  assert.equal(p.MIXER_BANKS.cvtdrum.master, 80);

  p.openMixer('cvtdrum');
  for (let i = 0; i < 6; i++) p.mixerKey(key('ArrowRight'));  // "T.T"
  p.mixerKey(key('ArrowDown'));
  assert.equal(p.posted.at(-1), 'SET_CVT_PCT:0:13:99');
  p.openMixer('main');
  for (let i = 0; i < 5; i++) p.mixerKey(key('ArrowRight'));  // "현악"
  p.mixerKey(key(' '));
  assert.deepEqual([...p.posted.slice(-5)], ['SET_CH_PCT:0:7:0', 'SET_CH_PCT:1:3:0', 'SET_CH_PCT:1:4:0', 'SET_CH_PCT:1:5:0',
                                         'SET_CH_PCT:1:6:0']);
  p.mixerSel = 0;
  p.mixerKey(key('ArrowUp'));
  assert.equal(p.posted.at(-1), 'SET_MIX_MASTER:0:100', 'the master stays within the highest level');
  p.setMixerActFromApp([1, ...new Array(31).fill(0)], 0);
  assert.equal(main.parts[0].act, true);
});

test('external module: routing sanitised, whole parts toggled, note map without blanks', () => {
  const p = loadPage(FILES, env);
  p.initExtRouting(1, 'x', 0, 0, 0, '1001000000100000' + '0000000001000000', ' 36 > 35 ', 'Mod');
  assert.equal(p.extRoute, '1000000000100000' + '0000000001000000', 'channel 3 has no part');
  assert.equal(p.extToCh, -1);
  p.extTogglePart(1);
  assert.equal(p.extRoute, '1000000001111000' + '0000000001111000');
  p.extSetNoteMap(' 36 > 35 , 38>40 ');
  assert.equal(p.posted.at(-1), 'EXT_APPLY:1\t-1\t0\t0\t0\t' + p.extRoute + '\t36>35,38>40\tMod');
});

test('equalizer: bands toggle, gains clamp, every change posts 64 + dB', () => {
  const p = loadPage(FILES, env);
  p.initEqFromApp(0, 60, 1, 70);
  assert.deepEqual([...p.eqVals], [0, -4, 1, 6]);
  p.eqPanelKey(key('ArrowUp'));
  p.eqSel = 3;
  for (let i = 0; i < 8; i++) p.eqPanelKey(key('ArrowUp'));
  assert.deepEqual([...p.posted.slice(0, 1)], ['SET_EQ:1:60:1:70']);
  assert.equal(p.posted.at(-1), 'SET_EQ:1:60:1:76');
});
