// The song-list indexes at start: on a catalogue without genres and whose pop songs lack their
// Korean readings, the genre index and the pop-song Korean index are built in the background,
// songs.csv gets the readings (columns 13, 19 and 20), the page receives the refreshed list, and
// after a restart the page's song array carries the genres and the Korean readings.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, readLog, removeRoot, stopProgram, waitFor } from './program.mjs';


// The fields of one songs.csv line (quotes as the catalogue writes them).
function splitCsv(line) {
  const out = [''];
  let quoted = false;
  for (let i = 0; i < line.length; ++i) {
    const c = line[i];
    if (quoted) {
      if (c === '"' && line[i + 1] === '"') { out[out.length - 1] += '"'; ++i; } else if (c === '"') quoted = false;
      else out[out.length - 1] += c;
    } else if (c === '"') quoted = true;
    else if (c === ',') out.push('');
    else out[out.length - 1] += c;
  }
  return out;
}
const joinCsv = (fields) => fields.map((f) => (/[,"\r\n]/.test(f) ? `"${f.replace(/"/g, '""')}"` : f)).join(',');
const rowsOf = (file) => fs.readFileSync(file, 'utf8').replace(/^\uFEFF/, '').split(/\r?\n/).filter(Boolean).slice(1).map(splitCsv);

test('genre and Korean indexes are built, patched into songs.csv and applied after a restart',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-indexes-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  const csv = path.join(root, 'system', 'songs.csv');
  const lines = fs.readFileSync(csv, 'utf8').split('\n').filter(Boolean);
  // No genre anywhere, and the pop songs without their Korean readings.
  const rows = lines.slice(1).map(splitCsv).map((f) => {
    f[6] = '';
    if (f[1] === 'p') { f[13] = 'first line'; f[19] = ''; f[20] = ''; }
    return f;
  });
  fs.writeFileSync(csv, [lines[0], ...rows.map(joinCsv)].join('\n') + '\n');
  const pop = rows.filter((f) => f[1] === 'p').map((f) => Number(f[0]));
  assert.ok(pop.length > 0, 'the demo library has pop songs');

  const env = { TAVELO_INDEX_DELAY_MS: '2500' };
  const { child, frames } = await openProgramPage(t, root, env);
  await waitFor(() => frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb');
  await waitFor(() => fs.existsSync(path.join(root, 'system', 'genre.idx')), 'genre.idx');
  await waitFor(() => fs.existsSync(path.join(root, 'system', 'popko.idx')), 'popko.idx');
  // The page gets the list again, now with the Korean readings (the background work waits long
  // enough for the page to have its first list).
  const withKorean = (f) => {
    if (f.kind !== 'T' || f.name !== 'initSongDb') return false;
    const row = f.table.rows.find((r) => r[0] === pop[0]);
    return row && row[f.table.keys.indexOf('koTitle')];
  };
  await waitFor(() => frames.some(withKorean), 'the refreshed list');
  assert.match(readLog(root), /팝송 한글검색: 화면 곡목록 갱신 \d+곡/);

  const patched = rowsOf(csv).find((f) => Number(f[0]) === pop[0]);
  assert.equal(patched.length, 21);
  assert.notEqual(patched[13], 'first line');
  assert.match(patched[19], /^[\u3131-\u314E]+$/);
  assert.match(patched[20], /^[\u3131-\u314E]+$/);
  assert.ok(fs.existsSync(csv + '.bak'));
  await stopProgram(child);

  // After a restart the page's song array carries the genre and the Korean readings.
  const again = await openProgramPage(t, root, env);
  await waitFor(() => again.frames.find((f) => f.kind === 'T' && f.name === 'initSongDb'), 'initSongDb again');
  const song = await waitFor(() => again.page.evaluate((id) => {
    const s = typeof songDb !== 'undefined' && songDb.find((x) => x.id === id);
    return s && { genre: s.genre, koTitle: s.koTitle, koSinger: s.koSinger, chosung: s.chosung };
  }, pop[0]), 'the song in songDb');
  assert.equal(song.genre, '팝');
  assert.ok(song.koTitle && song.koSinger);
  assert.equal(song.chosung, patched[19]);
});
