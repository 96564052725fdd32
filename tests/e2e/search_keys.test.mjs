// The operator's keyboard road on a demo library: F1, Hangul typed through key codes, two
// reservations with their own key and tempo, the song played transposed as reserved with its
// play display, the history entry at its seventh bar with a
// performer, a favourite set, and both lists back after a restart with the files' exact bytes.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  collectScripts, demoTool, openBrowser, readLog, readRecording, removeRoot, startProgram,
  stopProgram, waitFor,
} from './program.mjs';
import { readMidiFile } from './smf.mjs';


// Key events as Chromium's input layer delivers them, for the keys the US layout of Playwright
// does not name (the Korean layout's language keys).
async function rawKey(cdp, code, key, vk) {
  for (const type of ['rawKeyDown', 'keyUp']) {
    await cdp.send('Input.dispatchKeyEvent', { type, code, key, windowsVirtualKeyCode: vk, nativeVirtualKeyCode: vk });
  }
}
async function typeCodes(page, codes) {
  for (const c of codes) await page.keyboard.press(c);
}
// The array literal passed to `call` in a script, found by bracket balance outside quotes.
function arrayArgument(script, call) {
  const start = script.indexOf(call) + call.length;
  let depth = 0;
  let quote = '';
  for (let i = start; i < script.length; i++) {
    const c = script[i];
    if (quote) {
      if (c === '\\') i++;
      else if (c === quote) quote = '';
    } else if (c === "'" || c === '"') quote = c;
    else if (c === '[' || c === '{') depth++;
    else if ((c === ']' || c === '}') && --depth === 0) return script.substring(start, i + 1);
  }
  throw new Error('no array after ' + call);
}
const pageValue = (page, expr, arg) => page.evaluate(expr, arg);
const systemFile = (root, name) => {
  try { return fs.readFileSync(path.join(root, 'system', name), 'utf8'); } catch { return null; }
};

async function openPage(t, root, env = {}) {
  const { child, address } = startProgram(root, env);
  const browser = await openBrowser();
  const page = await browser.context.newPage();
  const scripts = collectScripts(page);
  await page.goto(await address);
  await waitFor(() => page.evaluate(() => typeof songDb !== 'undefined' && songDb.length > 0), 'the song list');
  const close = async () => { await browser.close(); await stopProgram(child); };
  t.after(close);
  return { page, scripts, close, cdp: await browser.context.newCDPSession(page) };
}

test('search, reserve, start, history and favourites from the keyboard, kept over a restart',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-search-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const rec = path.join(root, 'p1.rec');

  const first = await openPage(t, root, { TAVELO_MIDI_OUT: `P1=${rec};P2=${rec}2` });
  const { page, cdp } = first;

  // F1: consonant search; ` and the Korean layout's language key switch the typing language.
  await page.keyboard.press('F1');
  await waitFor(() => pageValue(page, () => searchPanelOpen && document.getElementById('song-search-overlay').style.display === 'block'), 'the panel');
  await page.keyboard.press('Backquote');
  assert.equal(await pageValue(page, () => searchLang), 'en');
  await rawKey(cdp, 'Lang1', 'HangulMode', 0x15);
  assert.equal(await pageValue(page, () => searchLang), 'ko');
  await typeCodes(page, ['KeyD', 'KeyF', 'KeyF']);
  await waitFor(() => pageValue(page, () => searchQuery === 'ㅇㄹㄹ'), 'ㅇㄹㄹ typed');
  assert.deepEqual(await pageValue(page, () => searchResults.map((s) => s.id)), [1001]);

  // ALT+F1: free text composed by the page: ㅇ ㅏ ㄹ ㅣ gives 아리.
  await page.keyboard.press('Alt+F1');
  await typeCodes(page, ['KeyD', 'KeyK', 'KeyF', 'KeyL']);
  assert.equal(await pageValue(page, () => document.getElementById('song-search-realinput').value), '아리');
  // HangulMode switches to plain letters and back; a letter typed meanwhile stays a letter.
  await rawKey(cdp, 'HangulMode', 'HangulMode', 0x15);
  assert.equal(await pageValue(page, () => document.getElementById('song-search-middle-mode').textContent), 'A');
  await rawKey(cdp, 'HangulMode', 'HangulMode', 0x15);
  assert.equal(await pageValue(page, () => document.getElementById('song-search-middle-mode').textContent), '한');
  const hits = await pageValue(page, () => searchResults.map((s) => s.id));
  // the three Korean titles by text, and Amazing Grace by the English reading of ㅇㄹ
  assert.deepEqual(hits.slice().sort(), [1001, 1003, 1005, 1010]);
  const rows = await page.locator('#song-search-results .search-row').count();
  assert.equal(rows, 4);

  // Space reserves and keeps the list; ArrowDown and Space reserve the next hit.
  await page.keyboard.press('Space');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Space');
  assert.deepEqual(await pageValue(page, () => reservedQueue.map((r) => r.id)), hits.slice(0, 2));

  // Back to F1's style; the queue takes the highlight; key +2, tempo +1, male key on the first.
  await page.keyboard.press('F1');
  await page.keyboard.press('ArrowRight');
  for (const k of [']', ']', '=', 'm']) await page.keyboard.press(k);
  assert.equal(await pageValue(page, () => resvMsgId(reservedQueue[0])), hits[0] + ':1:2:1');
  assert.match(await pageValue(page, () => document.querySelector('#reserved-list .resv-row').textContent), /남 \+2/);
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('[');
  assert.equal(await pageValue(page, () => resvMsgId(reservedQueue[1])), hits[1] + ':0:-1:0');
  await page.keyboard.press('Escape');

  // Enter starts the head of the queue with its adjustments.
  await page.keyboard.press('Enter');
  const startCmd = '[WM] START_SONG_ID:' + hits[0] + ':1:2:1';
  await waitFor(() => readLog(root).includes(startCmd), startCmd);
  assert.deepEqual(await pageValue(page, () => reservedQueue.map((r) => r.id)), [hits[1]]);

  // The song screen loads it; the play display shows the reserved tempo and the key it plays in.
  const titles = await pageValue(page, () => Object.fromEntries(songDb.map((s) => [s.id, s.title])));
  await waitFor(() => pageValue(page, () => songLoaded), 'the song screen');
  await waitFor(() => pageValue(page, () => jsTempoAdjustBpm === 1), 'the reserved tempo on the display');
  const key = await pageValue(page, () => jsPitchTransposeSemitones);

  // The recording plays the song's notes moved by that key (drums stay).
  const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${hits[0]}.MID`)));
  const firstNotes = (list, n) => list.filter((e) => (e.status & 0xF0) === 0x90 && e.data2 > 0 && (e.status & 0x0F) !== 9 && e.port === 0)
    .slice(0, n).map((e) => e.data1);
  const recorded = () => readRecording(rec).filter((l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0 && (l.bytes[0] & 0x0F) !== 9)
    .map((l) => ({ status: l.bytes[0], data1: l.bytes[1], data2: l.bytes[2], port: 0 }));
  await waitFor(() => recorded().length >= 8, 'notes in the recording');
  assert.deepEqual(firstNotes(recorded(), 8), firstNotes(midi.events, 8).map((n) => n + key));

  // Its seventh bar makes the history entry.
  await waitFor(() => (systemFile(root, 'history.log') || '').startsWith(hits[0] + '\t'), 'history.log', 60000);
  await waitFor(async () => (await pageValue(page, () => playedSongHistory.length)) === 1, 'the history on the page');

  // Insert opens the performer input; the name joins the entry.
  await page.keyboard.press('Insert');
  await waitFor(() => pageValue(page, () => insInputOpen), 'the performer input');
  await page.keyboard.insertText('민수');
  await page.keyboard.press('Enter');
  const time1 = await pageValue(page, () => playedSongHistory[0].time);
  assert.match(time1, /^\d{4}-\d\d-\d\d \d\d:\d\d$/);
  const line1 = hits[0] + '\t' + titles[hits[0]] + '\t' + time1 + '\t민수\t1';
  await waitFor(() => systemFile(root, 'history.log') === line1, 'the performer saved');

  // A second song reaches its seventh bar without a performer.
  await pageValue(page, (a) => { beginSongHistory(a.id, a.title); checkHistoryThreshold(7); }, { id: 1007, title: titles[1007] });
  const time2 = await pageValue(page, () => playedSongHistory[1].time);
  const line2 = '1007\t' + titles[1007] + '\t' + time2 + '\t\t0';
  await waitFor(() => systemFile(root, 'history.log') === line1 + '\n' + line2, 'the second entry');

  // F1 then F3 saves the queue as a favourite set named in Hangul: 철수.
  await page.keyboard.press('F1');
  await page.keyboard.press('F3');
  await waitFor(() => pageValue(page, () => favInputOpen), 'the favourite-name input');
  await typeCodes(page, ['KeyC', 'KeyJ', 'KeyF', 'KeyT', 'KeyN']);
  assert.equal(await pageValue(page, () => document.getElementById('fav-name-input').value), '철수');
  await page.keyboard.press('Enter');
  const fav = '철수\t' + hits[1] + '\t' + titles[hits[1]] + '\t0\t-1\t-1';
  await waitFor(() => systemFile(root, 'favorites.log') === fav, 'favorites.log: ' + fav + ' / ' + JSON.stringify(systemFile(root, 'favorites.log')), 10000);

  // Restart: the end-of-run mark goes on the last history line; both lists come back.
  await first.close();
  assert.equal(systemFile(root, 'history.log'), line1 + '\n1007\t' + titles[1007] + '\t' + time2 + '\t\t1');
  assert.equal(systemFile(root, 'favorites.log'), fav);
  const second = await openPage(t, root);
  const boot = await waitFor(() => second.scripts.find((s) => s.includes('initPlayedHistory(')), 'the boot script');
  const hist = arrayArgument(boot, 'initPlayedHistory(');
  const favs = arrayArgument(second.scripts.find((s) => s.includes('initFavorites(')), 'initFavorites(');
  await second.page.evaluate(([h, f]) => { initPlayedHistory(eval('(' + h + ')')); initFavorites(eval('(' + f + ')')); }, [hist, favs]);
  assert.deepEqual(await pageValue(second.page, () => playedSongHistory.map((h) => [h.id, h.performers.join(';'), h.insUsed])),
                   [[hits[0], '민수', true], [1007, '', true]]);
  await second.page.keyboard.press('F2');
  const histText = await pageValue(second.page, () => document.getElementById('history-list').textContent);
  assert.match(histText, /프로그램 종료 · 여기부터 새로 시작\(1번\)/);
  assert.match(histText, /1\. 민수/);
  await second.page.keyboard.press('Escape');
  await second.page.keyboard.press('F3');
  await second.page.keyboard.press('Enter');
  assert.equal(await pageValue(second.page, () => reservedQueue.map((r) => resvMsgId(r)).join(',')), hits[1] + ':0:-1:0');
});

test('hostile catalogue rows search, render and reserve without breaking the page',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-hostile-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  const { page } = await openPage(t, root);
  await page.evaluate(() => {
    window.__xss = 0;
    mergeSongDb([
      { id: 9001, title: '<img src=x onerror="window.__xss=1">가나', singer: '<b onmouseover=alert(1)>가수</b>', line1: '<script>window.__xss=2</script>' },
      { id: 9002, title: '가'.repeat(500), singer: '', keys: '', line1: '' },
      { id: 9003 },
    ]);
  });
  await page.keyboard.press('F1');
  await page.keyboard.press('Digit9');
  await page.keyboard.press('Digit0');
  await waitFor(() => page.evaluate(() => searchResults.length === 3), 'the three rows');
  assert.equal(await page.locator('#song-search-results img').count(), 0);
  assert.equal(await page.locator('#song-search-results b').count(), 0);
  await page.keyboard.press('Space');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Space');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Space');
  await page.keyboard.press('KeyR');
  await waitFor(() => page.evaluate(() => searchQuery === 'ㄱ'), 'ㄱ typed');
  assert.ok(await page.evaluate(() => searchResults.some((s) => s.id === 9002)));
  assert.equal(await page.locator('#reserved-list .resv-row').count(), 3);
  assert.equal(await page.locator('#reserved-list img, #reserved-list b').count(), 0);
  assert.equal(await page.evaluate(() => window.__xss), 0);
});
