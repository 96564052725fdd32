// The sound panels tried from the keyboard on the real program with recording MIDI devices: tones
// (ALT+F4) and their fine-tuning, the mixer banks, the equalizer (CTRL+E), the device dialog
// (CTRL+I) and the external module (ALT+9); the choices survive a restart.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  demoSongNumbers, demoTool, openProgramPage, recordAlerts, removeRoot, stopProgram, waitFor,
} from './program.mjs';
import { readMidiFile } from './smf.mjs';

const soundFont = '/usr/share/sounds/sf2/TimGM6mb.sf2';

function readRecording(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file, 'utf8').split('\n').filter(Boolean).map((line) => {
    const [us, tag, ...hex] = line.split(' ');
    return { us: Number(us), tag, hex: hex.join(' '), bytes: hex.map((h) => parseInt(h, 16)) };
  });
}
const hexOf = (file) => readRecording(file).map((l) => l.hex);
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

function setUpRoot(t, devices) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-sound-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  fs.writeFileSync(path.join(root, 'system', 'app_settings.cfg'), 'port1Device=P1\nport2Device=P2\nleadInMode=0\n');
  const rec = (name) => path.join(root, name + '.rec');
  const env = { TAVELO_MIDI_OUT: devices.map((d) => `${d}=${rec(d)}`).join(';') };
  return { root, rec, env };
}

async function boot(t, root, env) {
  const opened = await openProgramPage(t, root, env);
  await waitFor(() => opened.frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await waitFor(() => opened.scripts.some((s) => s.includes('initMixerFromApp(')), 'the mixer state');
  return opened;
}

const shown = (page, id) => page.evaluate((i) => {
  const el = document.getElementById(i);
  return !!el && el.style.display !== 'none';
}, id);

test('tones, fine-tuning, mixer and equalizer from the keyboard, kept over a restart',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const { root, rec, env } = setUpRoot(t, ['P1', 'P2']);
  const first = await boot(t, root, env);
  const { page } = first;
  await page.evaluate(() => window.chrome.webview.postMessage('MIDI_STATUS'));  // port 1 opens

  // ALT+F4 lists the bass tones of the demo table, "Default" first.
  await page.keyboard.press('Alt+F4');
  assert.ok(await shown(page, 'soundtbl-overlay'));
  const items = await page.$$eval('#soundtbl-list-wrap .soundtbl-item', (els) => els.map((e) => e.textContent));
  assert.deepEqual(items, ['Default', 'Fingered', 'Picked', 'Fretless', 'AcousticBass', 'SynthBass']);

  // Down picks "Fingered": bank and program on port 1 channel 8.
  await page.keyboard.press('ArrowDown');
  await waitFor(() => hexOf(rec('P1')).includes('C8 21'), 'the bass program');
  const p1 = hexOf(rec('P1'));
  const at = p1.indexOf('C8 21');
  assert.deepEqual(p1.slice(at - 2, at + 1), ['B8 00 00', 'B8 20 00', 'C8 21']);

  // The bass drum's detail view: one pitch step sends the coarse-tuning parameter.
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('e');
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('ArrowUp');
  const rpn = ['B9 65 00', 'B9 64 02', 'B9 06 41', 'B9 26 00', 'B9 65 7F', 'B9 64 7F'];
  await waitFor(() => hexOf(rec('P1')).join('|').includes(rpn.join('|')), 'the pitch step');
  const selFile = path.join(root, 'system', 'soundsel.cfg');
  await waitFor(() => fs.existsSync(selFile) && fs.readFileSync(selFile, 'utf8').includes('TONE 0 9 100 1'), 'the saved step');

  // A burst of steps writes the file once.
  await sleep(700);
  let writes = 0;
  const watcher = fs.watch(path.join(root, 'system'), (kind, name) => { if (name === 'soundsel.cfg') writes++; });
  for (let i = 0; i < 12; i++) await page.keyboard.press('ArrowUp');
  await waitFor(() => fs.readFileSync(selFile, 'utf8').includes('TONE 0 9 100 13'), 'the burst saved');
  await sleep(1200);
  watcher.close();
  assert.equal(writes, 1, 'one write for the burst');
  assert.equal(await page.evaluate(() => document.querySelector('#soundtbl-detail').textContent.includes('+13')), true);
  await page.keyboard.press('Escape');

  // The mixer banks: the melody (F4) and the original bass drum (F5) send their channel volume.
  await page.keyboard.press('F4');
  assert.ok(await shown(page, 'mixer-overlay'));
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('ArrowDown');
  await waitFor(() => hexOf(rec('P1')).some((h) => h.startsWith('B0 07')), 'the melody CC7');
  await page.keyboard.press('F5');
  await page.keyboard.press('ArrowRight');
  await page.keyboard.press('PageDown');
  await waitFor(() => hexOf(rec('P1')).some((h) => h.startsWith('B9 07')), 'the bass drum CC7');
  await page.keyboard.press('Escape');
  assert.equal(await shown(page, 'mixer-overlay'), false);

  // CTRL+E: the low band switched to 400 Hz sends the equalizer.
  const before = hexOf(rec('P1')).length;
  await page.keyboard.press('Control+e');
  assert.ok(await shown(page, 'eq-overlay'));
  await page.keyboard.press('ArrowUp');
  await waitFor(() => hexOf(rec('P1')).slice(before).some((h) => h.startsWith('F0 41') && h.includes('40 02 00')), 'the EQ');
  await page.keyboard.press('Escape');
  await sleep(800);  // the debounced saves
  await stopProgram(first.child);

  // After a restart the page is given the same choices.
  const second = await boot(t, root, env);
  await waitFor(() => second.scripts.some((s) => s.includes('initEqFromApp(1,64,0,64)')), 'the EQ kept');
  const mixer = second.scripts.find((s) => s.includes('initMixerFromApp('));
  assert.match(mixer, /initMixerFromApp\(\[99,/);
  await second.page.keyboard.press('Alt+F4');
  await waitFor(() => second.page.evaluate(() => document.querySelector('.soundtbl-item[style*="background"]')?.textContent),
                'the selection');
  assert.equal(await second.page.evaluate(() => document.querySelector('.soundtbl-item[style*="background"]').textContent),
               'Fingered');
  assert.ok(fs.readFileSync(selFile, 'utf8').includes('SEL 2 0 0 0 0 33 0 Fingered'));
});

test('CTRL+I lists the devices and the synthesizer; ALT+9 routes the melody to a module with its clock',
     { skip: (!demoTool && 'no demo library generator') || (!fs.existsSync(soundFont) && 'no SoundFont') },
     async (t) => {
  const { root, rec, env } = setUpRoot(t, ['P1', 'P2', 'EXT']);
  fs.mkdirSync(path.join(root, 'synth'));
  fs.symlinkSync(soundFont, path.join(root, 'synth', 'TimGM6mb.sf2'));
  const { child, page } = await boot(t, root, env);

  await page.keyboard.press('Control+i');
  await waitFor(() => page.evaluate(() => !!document.getElementById('midi-dev-p1')), 'the device dialog');
  const options = await page.$$eval('#midi-dev-p1 option', (els) => els.map((e) => e.value));
  assert.deepEqual(options, ['', '내장음원(FluidSynth)', 'P1', 'P2', 'EXT']);
  assert.equal(await page.evaluate(() => document.getElementById('midi-dev-sf-row').style.display), 'none');
  await page.selectOption('#midi-dev-p1', '내장음원(FluidSynth)');
  assert.equal(await page.evaluate(() => document.getElementById('midi-dev-sf-row').style.display), '');
  await page.selectOption('#midi-dev-p1', 'P1');
  // The program answers the apply with an alert, closed before ALT+9 is pressed.
  const alerts = recordAlerts(page);
  await page.click('#midi-dev-apply');
  await waitFor(() => alerts.length > 0, 'the apply alert');
  assert.equal(alerts[0], 'MIDI 출력 장치를 설정했습니다.\n포트1: P1\n포트2: P2');
  await waitFor(() => fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8').includes('port1Device=P1'),
                'the devices stored');

  // ALT+9: the module EXT gets the melody alone, with its clock.
  await page.keyboard.press('Alt+9');
  await waitFor(() => page.evaluate(() => document.querySelectorAll('#ext-device option').length === 4), 'the module list');
  await page.selectOption('#ext-device', 'EXT');
  await page.click('#ext-on');
  await page.click('.ext-part[data-i="0"]');
  await page.click('#ext-clock');
  await waitFor(() => /extClock=1/.test(fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8')), 'the apply');
  await page.keyboard.press('Escape');
  const song = demoSongNumbers(root)[0];
  const midi = readMidiFile(fs.readFileSync(path.join(root, 'system', `P${song}.MID`)));
  const bpm = 60e6 / midi.tempos[0].us;
  await page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${song}`);
  await waitFor(() => readRecording(rec('EXT')).some((l) => l.bytes[0] === 0x90 && l.bytes[2] > 0), 'a routed note', 20000);
  await sleep(1500);
  const ext = readRecording(rec('EXT'));
  const notes = ext.filter((l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0);
  assert.ok(notes.every((l) => l.bytes[0] === 0x90), 'only the melody channel reaches the module');
  assert.ok(!readRecording(rec('P1')).some((l) => l.bytes[0] === 0x90 && l.bytes[2] > 0), 'port 1 keeps no melody');
  assert.ok(ext.some((l) => l.bytes[0] === 0xFA), 'start');
  const clocks = ext.filter((l) => l.bytes[0] === 0xF8).map((l) => l.us / 1000);
  const gaps = clocks.slice(1).map((c, i) => c - clocks[i]).sort((a, b) => a - b);
  const median = gaps[Math.floor(gaps.length / 2)];
  assert.ok(Math.abs(median - 60000 / (bpm * 24)) < 2, `clock every ${median} ms at ${bpm} bpm`);
  await stopProgram(child);

  // After a restart the page gets the routing back and the module its clock again.
  const again = await boot(t, root, env);
  await waitFor(() => again.scripts.some((s) => s.includes("initExtRouting(1,-1,0,0,1,'1000000000000000")), 'the routing kept');
  const clocksBefore = readRecording(rec('EXT')).filter((l) => l.bytes[0] === 0xF8).length;
  await waitFor(() => readRecording(rec('EXT')).filter((l) => l.bytes[0] === 0xF8).length > clocksBefore + 10, 'the clock');
});

test('switching to the built-in synthesizer in the CTRL+I dialog sends the song there',
     { skip: (!demoTool && 'no demo library generator') || (!fs.existsSync(soundFont) && 'no SoundFont') },
     async (t) => {
  const { root, rec, env } = setUpRoot(t, ['P1', 'P2']);
  fs.mkdirSync(path.join(root, 'synth'));
  fs.symlinkSync(soundFont, path.join(root, 'synth', 'TimGM6mb.sf2'));
  const render = path.join(root, 'render.raw');
  const { page, scripts } = await boot(t, root, { ...env, TAVELO_SYNTH_FILE: render });
  await page.keyboard.press('Control+i');
  await waitFor(() => page.evaluate(() => !!document.getElementById('midi-dev-p1')), 'the device dialog');
  await page.selectOption('#midi-dev-p1', '내장음원(FluidSynth)');
  await page.selectOption('#midi-dev-sf', 'TimGM6mb.sf2');
  await page.click('#midi-dev-apply');
  await waitFor(() => scripts.some((s) => s.includes('setBuiltinSynthDisplay(1)')), 'the synthesizer on');
  const song = demoSongNumbers(root)[0];
  await page.evaluate((m) => window.chrome.webview.postMessage(m), `START_SONG_ID:${song}`);
  const loud = () => {
    if (!fs.existsSync(render)) return false;
    const raw = fs.readFileSync(render);
    for (let i = 0; i + 1 < raw.length; i += 2) if (Math.abs(raw.readInt16LE(i)) > 1000) return true;
    return false;
  };
  await waitFor(loud, 'sound from the synthesizer', 20000);
  assert.ok(!readRecording(rec('P1')).some((l) => (l.bytes[0] & 0xF0) === 0x90 && l.bytes[2] > 0), 'no note on the device');
  assert.match(fs.readFileSync(path.join(root, 'system', 'app_settings.cfg'), 'utf8'), /builtinSynth=1/);
});
