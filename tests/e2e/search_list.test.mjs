// The long result list draws only the rows in view: moving the highlight, wrapping around,
// scrolling with the wheel and clicking a row always show the right rows, with the highlighted one
// inside the view and below the header.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { demoTool, openProgramPage, removeRoot, waitFor } from './program.mjs';


// What the list shows: the drawn rows' indexes, the highlighted one, and whether that row lies
// wholly inside the list's view below the header.
function shown(page) {
  return page.evaluate(() => {
    const box = document.getElementById('song-search-results');
    const rows = Array.from(box.querySelectorAll('.search-row'));
    const sel = box.querySelector('.search-row.sel');
    const head = box.querySelector('.lh').getBoundingClientRect();
    const view = box.getBoundingClientRect();
    let inView = false;
    if (sel) {
      const r = sel.getBoundingClientRect();
      inView = r.top >= head.bottom - 0.5 && r.bottom <= view.bottom + 0.5;
    }
    return { idx: rows.map((r) => Number(r.dataset.idx)), sel: sel ? Number(sel.dataset.idx) : -1, inView,
             text: sel ? sel.querySelector('.sc-id').textContent : '' };
  });
}

test('a long result list keeps the highlighted row in view while only a screenful is drawn',
     { skip: !demoTool && 'no demo library generator' }, async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-list-'));
  t.after(() => removeRoot(root));
  execFileSync(demoTool, [root], { stdio: 'ignore' });
  const { page } = await openProgramPage(t, root);
  await waitFor(() => page.evaluate(() => typeof songDb !== 'undefined' && songDb.length > 0), 'the song list');
  await page.evaluate(() => {
    const add = [];
    for (let i = 0; i < 400; i++) add.push({ id: 70000 + i, title: '노래 ' + i, singer: '가수', tempo: 100, keys: 'C/D/A' });
    mergeSongDb(add);
  });
  await page.keyboard.press('F1');
  await page.keyboard.press('Digit7');
  await waitFor(() => page.evaluate(() => searchResults.length === 300 && !!document.querySelector('.search-row')), 'the hits');
  let s = await shown(page);
  assert.equal(s.sel, 0);
  assert.ok(s.inView);
  assert.ok(s.idx.length >= 5 && s.idx.length < 60, 'a screenful of rows: ' + s.idx.length);

  // PageDown five times: row 50, in view, with its own song.
  for (let i = 0; i < 5; i++) await page.keyboard.press('PageDown');
  s = await shown(page);
  assert.deepEqual([s.sel, s.inView, s.text], [50, true, '70050']);
  // ArrowUp back to the top row and once more round to the last.
  for (let i = 0; i < 50; i++) await page.keyboard.press('ArrowUp');
  assert.deepEqual((await shown(page)).sel, 0);
  await page.keyboard.press('ArrowUp');
  s = await shown(page);
  assert.deepEqual([s.sel, s.inView, s.text], [299, true, '70299']);
  assert.ok(s.idx.length < 60);

  // The wheel brings other rows; clicking one of them highlights it.
  const box = await page.locator('#song-search-results').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.wheel(0, -2000);
  await waitFor(async () => !(await shown(page)).idx.includes(299), 'rows further up');
  const row = page.locator('.search-row').nth(6);
  const idx = Number(await row.getAttribute('data-idx'));
  await row.click();
  s = await shown(page);
  assert.deepEqual([s.sel, s.inView, s.text], [idx, true, String(70000 + idx)]);
});
