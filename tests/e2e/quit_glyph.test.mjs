// The quit button shows the power symbol U+23FB. A system without a font that has it shows a
// missing-glyph box instead; the page's own font stack must find one (tools/setup-deps.sh
// installs it).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { openProgramPage, removeRoot } from './program.mjs';

test('the quit button power symbol renders with a real glyph', async (t) => {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-e2e-glyph-'));
  t.after(() => removeRoot(root));
  const { page } = await openProgramPage(t, root);
  const symbol = page.locator('button[title^="종료 (ALT+X)"] span').first();
  await symbol.waitFor();
  assert.equal(await symbol.textContent(), '\u23FB');

  // Each text drawn in the symbol's own font; a character no font has is drawn as the same box
  // as any other such character.
  const drawn = await symbol.evaluate((el) => {
    const font = getComputedStyle(el).font;
    const pixels = (text) => {
      const canvas = document.createElement('canvas');
      canvas.width = 64;
      canvas.height = 64;
      const g = canvas.getContext('2d');
      g.font = font;
      g.fillStyle = '#000';
      g.textBaseline = 'top';
      g.fillText(text, 8, 8);
      return Array.from(g.getImageData(0, 0, 64, 64).data).join(',');
    };
    return { power: pixels('\u23FB'), missingA: pixels('\u{10FFFD}'), missingB: pixels('\u{10FFFC}'),
             blank: pixels('') };
  });
  assert.equal(drawn.missingA, drawn.missingB, 'missing glyphs draw alike (the check itself works)');
  assert.notEqual(drawn.power, drawn.blank, 'the power symbol draws something');
  assert.notEqual(drawn.power, drawn.missingA, 'the power symbol is not the missing-glyph box');
});
