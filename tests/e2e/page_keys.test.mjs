// Every key of the main page pressed through the browser's keyboard on the demo library: each row
// of the table posts its command to the program and shows one effect a person sees. A song is
// started from the keyboard, played with the song-screen keys, and sent home three ways (its end,
// ALT+X, E); a second song then starts with the right tempo display. One program run.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, waitFor } from './program.mjs';

const visible = (id) => `(() => { const e = document.getElementById('${id}'); return !!e && getComputedStyle(e).display !== 'none'; })()`;
const hidden = (id) => `!${visible(id)}`;
const text = (id) => `((document.getElementById('${id}') || {}).textContent || '')`;

// Keys of the home screen: [key, command posted (exact, or a RegExp), effect (page expression)].
// A panel key opens its panel; Escape (or the same key) closes it again in the next row.
const HOME_KEYS = [
  ['F12', null, hidden('help-panel')],
  ['F12', 'OPEN_HELP', visible('help-panel')],
  ['F1', null, visible('song-search-overlay')],
  ['Escape', null, hidden('song-search-overlay')],
  ['F2', null, visible('history-overlay')],
  ['F2', null, hidden('history-overlay')],
  ['F3', null, visible('fav-overlay')],
  ['Escape', null, hidden('fav-overlay')],
  ['F6', null, visible('f6-panel')],
  ['Escape', null, hidden('f6-panel')],
  ['F10', 'F10_REQ', visible('f10-overlay')],
  ['Escape', null, hidden('f10-overlay')],
  ['F9', null, visible('score-overlay')],
  ['Escape', null, hidden('score-overlay')],
  ['F4', null, visible('mixer-overlay')],
  ['Escape', null, hidden('mixer-overlay')],
  ['F5', null, visible('mixer-overlay')],
  ['Escape', null, hidden('mixer-overlay')],
  ['Alt+F4', null, visible('soundtbl-overlay')],
  ['Escape', null, hidden('soundtbl-overlay')],
  ['F7', 'LIST_AUDIO', visible('audio-panel')],
  ['Escape', null, hidden('audio-panel')],
  ['Alt+0', 'PRESET_INFO', visible('settings-overlay')],
  ['Escape', null, hidden('settings-overlay')],
  ['Alt+9', null, visible('ext-overlay')],
  ['Escape', null, hidden('ext-overlay')],
  ['Alt+8', /^RCHK_/, visible('rchk-overlay')],
  ['Escape', null, hidden('rchk-overlay')],
  ['Alt+7', /^RED_/, visible('red-overlay')],
  ['Escape', null, hidden('red-overlay')],
  ['Alt+d', null, visible('medley-overlay')],
  ['Escape', null, hidden('medley-overlay')],
  ['Alt+m', null, visible('eng-overlay')],
  ['Escape', null, hidden('eng-overlay')],
  ['Control+e', null, visible('eq-overlay')],
  ['Escape', null, hidden('eq-overlay')],
  ['Control+i', 'OPEN_MIDI_DEVICE_SELECT', visible('midi-dev-overlay')],
  ['F6', null, `${hidden('f6-panel')} && ${visible('midi-dev-overlay')}`],
  ['Escape', null, hidden('midi-dev-overlay')],
  ['Alt+k', null, `${visible('page-alert')} && ${text('page-alert-text')} === '곡을 먼저 선택해주세요.'`],
  ['Enter', null, `${hidden('page-alert')} && ${hidden('keyedit-overlay')}`],
  ['Alt+n', null, visible('update-overlay')],
  ['Escape', null, hidden('update-overlay')],
  ['Alt+r', 'SET_PLAY_MODE:1:0', `${text('mode-r-badge')} === 'R' && document.getElementById('mode-r-badge').style.opacity === '1'`],
  ['Backspace', 'SET_PLAY_MODE:0:1', `document.getElementById('mode-md-badge').style.opacity === '1' && document.getElementById('mode-r-badge').style.opacity !== '1'`],
  ['Backspace', 'SET_PLAY_MODE:0:0', `document.getElementById('mode-md-badge').style.opacity !== '1'`],
  ['Home', 'VOL_GLOBAL:0:2', `+${text('vol-all-display')} > +before['vol-all-display']`],
  ['End', 'VOL_GLOBAL:0:-2', `+${text('vol-all-display')} < +before['vol-all-display']`],
  ['PageUp', 'VOL_GLOBAL:1:2', `+${text('vol-orch-display')} > +before['vol-orch-display']`],
  ['PageDown', 'VOL_GLOBAL:1:-2', `+${text('vol-orch-display')} < +before['vol-orch-display']`],
  ['Pause', 'TEMPO_LOCK_TOGGLE', `document.querySelector('#tempo-display span').style.background === 'rgb(231, 76, 60)'`],
  ['Pause', 'TEMPO_LOCK_TOGGLE', `document.querySelector('#tempo-display span').style.background !== 'rgb(231, 76, 60)'`],
  ['1', 'RHYTHM_STYLE:1', `/\\(CVT\\)/.test(${text('tempo-display')})`],
  ['p', 'RHYTHM_OFF:1', `!/\\(CVT\\)/.test(${text('tempo-display')}) || !window.__cvtOn`],
];

// Keys of the song screen: the same shape; run while a song plays.
const SONG_KEYS = [
  ['F12', 'OPEN_HELP', visible('help-panel')],
  ['F12', null, hidden('help-panel')],
  ['Alt+k', null, visible('keyedit-overlay')],
  ['Alt+k', null, hidden('keyedit-overlay')],
  ['Insert', 'SWITCH_TO_KOREAN_IME', visible('ins-overlay')],
  ['d', null, "document.getElementById('ins-name-input').value === 'ㅇ'"],  // the page's own Hangul composer
  ['k', null, "document.getElementById('ins-name-input').value === '아'"],
  ['Insert', null, hidden('ins-overlay')],
  ['c', 'TOGGLE_MELODY_MUTE', visible('melody-mute-badge')],
  ['c', 'TOGGLE_MELODY_MUTE', hidden('melody-mute-badge')],
  ['v', 'TOGGLE_SOLO1_MUTE', visible('solo1-mute-badge')],
  ['v', 'TOGGLE_SOLO1_MUTE', hidden('solo1-mute-badge')],
  ['b', 'TOGGLE_SOLO2_MUTE', visible('solo2-mute-badge')],
  ['b', 'TOGGLE_SOLO2_MUTE', hidden('solo2-mute-badge')],
  ['=', 'TEMPO_UP', `/^\\D*\\d+ \\(원 \\d+\\)/.test(${text('tempo-display')}) && jsTempoAdjustBpm === 1`],
  ['-', 'TEMPO_DOWN', 'jsTempoAdjustBpm === 0'],
  [']', 'PITCH_UP', `jsPitchTransposeSemitones === 1 && ${text('pitch-display')}.length > 1`],
  ['[', 'PITCH_DOWN', 'jsPitchTransposeSemitones === 0'],
  ['ArrowRight', 'JUMP_NEXT_MEASURE', 'lastCurMeasureIdx >= 1'],
  ['ArrowRight', 'JUMP_NEXT_MEASURE', 'lastCurMeasureIdx >= 2'],
  ['ArrowLeft', 'JUMP_PREV_MEASURE', 'lastCurMeasureIdx >= 0'],
  ['ArrowUp', 'JUMP_CUR_MEASURE', 'lastCurMeasureIdx >= 0'],
  ['x', /^SAVE_ENV:.*"measPerPage":5/, 'curMeasures.length === 5'],
  ['z', /^SAVE_ENV:.*"measPerPage":4/, 'curMeasures.length === 4'],
  ['Alt+F9', /^VOCAL_EXPORT:\d+\|\d+,\d+,\d+/, visible('vocal-export-note')],
  ['Space', 'TOGGLE_PAUSE', 'jsIsPaused === true'],
  ['Space', 'TOGGLE_PAUSE', 'jsIsPaused === false'],
];

// What the home screen shows: help panel, corner buttons, no song, no title.
const HOME = `songLoaded === false && ${visible('help-panel')} && ${visible('corner-buttons')} && ${text('song-title')} === '음원 대기중'` +
  ` && !document.documentElement.classList.contains('mouse-locked')`;

test('every key of the page posts its command and shows its effect; a song comes home three ways',
     { skip: !demoTool && 'no demo library generator', timeout: 240000 }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-keys-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\npcScore=90\n');
  const { page } = await openProgramPage(t, root, { TAVELO_MIDI_OUT: `P1=${path.join(root, 'p1.rec')};P2` }, {
    initScript: () => {
      // the commands the page sends, as the program gets them
      window.__sent = [];
      const send = WebSocket.prototype.send;
      WebSocket.prototype.send = function (data) {
        if (typeof data === 'string' && data.startsWith('M')) window.__sent.push(data.substring(1));
        return send.call(this, data);
      };
    },
  });
  await page.setViewportSize({ width: 1366, height: 768 });
  await waitFor(() => page.evaluate(() => typeof songDb !== 'undefined' && songDb.length > 0 && typeof helpLines !== 'undefined' && helpLines.length > 0),
                'the song list and help');
  const songs = await page.evaluate(() => songDb.map((s) => ({ id: s.id, tempo: s.tempo })));

  const sentSince = (mark) => page.evaluate((m) => window.__sent.slice(m), mark);
  const mark = () => page.evaluate(() => window.__sent.length);
  async function run(rows, where) {
    for (const [key, command, effect] of rows) {
      const what = where + ' ' + key;
      // what the displays showed before the key, for effects that compare
      await page.evaluate(() => {
        window.before = {};
        for (const id of ['vol-all-display', 'vol-orch-display']) window.before[id] = document.getElementById(id).textContent;
      });
      // the tempo lock takes one press per 300 ms
      if (key === 'Pause') await new Promise((r) => setTimeout(r, 350));
      const from = await mark();
      await page.keyboard.press(key);
      if (command) {
        await waitFor(async () => (await sentSince(from)).some((m) => (command instanceof RegExp ? command.test(m) : m === command)),
                      what + ' posting ' + command, 10000);
      }
      await waitFor(() => page.evaluate(effect), what + ': ' + effect, 10000);
    }
  }

  // Starts song `id` from the keyboard: F1, its number typed, Enter reserves it, Enter starts it.
  async function startSong(id) {
    await page.keyboard.press('F1');
    await waitFor(() => page.evaluate(visible('song-search-overlay')), 'the search panel');
    await page.keyboard.type(String(id));
    await waitFor(() => page.evaluate((n) => searchResults.length > 0 && searchResults[0].id === n, id), 'song ' + id + ' found');
    await page.keyboard.press('Enter');
    await waitFor(() => page.evaluate(() => reservedQueue.length === 1), 'the reservation');
    await waitFor(() => page.evaluate(hidden('song-search-overlay')), 'the search panel closed');
    const from = await mark();
    await page.keyboard.press('Enter');
    await waitFor(async () => (await sentSince(from)).some((m) => m.startsWith('START_SONG_ID:' + id)), 'START_SONG_ID:' + id);
    await waitFor(() => page.evaluate(() => songLoaded && curMeasures.length > 0 && lastCurMeasureIdx >= 0), 'the song screen');
  }
  async function expectHome(how) {
    await waitFor(() => page.evaluate(HOME), 'the home screen after ' + how, 20000);
    const shown = await page.evaluate(() => ({ lyrics: document.getElementById('big-lyrics').textContent,
                                               tempo: document.getElementById('tempo-display').textContent }));
    assert.equal(shown.lyrics, '', 'no lyrics left after ' + how);
    assert.doesNotMatch(shown.tempo, /원/, 'no song tempo left after ' + how);
  }

  await run(HOME_KEYS, 'home');
  assert.equal(await page.evaluate(HOME), true, 'still the home screen after the home keys');

  // A song: the song-screen keys, then ALT+Z with nothing reserved ends it the way its end does.
  await startSong(songs[0].id);
  assert.equal(await page.evaluate(hidden('help-panel')), true, 'help is away while the song is up');
  await run(SONG_KEYS, 'song');
  let from = await mark();
  await page.keyboard.press('Alt+z');
  await waitFor(async () => (await sentSince(from)).includes('SONG_END_NO_NEXT_STOP'), 'the end of the song');
  await expectHome('its end');

  // ALT+X stops the song.
  await startSong(songs[1].id);
  from = await mark();
  await page.keyboard.press('Alt+x');
  await waitFor(async () => (await sentSince(from)).includes('ALT_X_ACTION'), 'ALT_X_ACTION');
  await expectHome('ALT+X');

  // E plays the ending flourish, then the page comes home.
  await startSong(songs[0].id);
  from = await mark();
  await page.keyboard.press('e');
  await waitFor(async () => (await sentSince(from)).includes('ENDING_FLOURISH'), 'ENDING_FLOURISH');
  await expectHome('E');

  // The next song starts cleanly: its own tempo on the display.
  const next = songs.find((s) => s.tempo > 0 && s.tempo !== songs[0].tempo) || songs[1];
  await startSong(next.id);
  await waitFor(() => page.evaluate((bpm) => new RegExp('^\\D*' + bpm + ' \\(원 ' + bpm + '\\)').test(
    document.getElementById('tempo-display').textContent), next.tempo), 'the tempo display of song ' + next.id + ': ' + next.tempo);
});
