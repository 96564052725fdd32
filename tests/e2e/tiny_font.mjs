// A very small TrueType font for the tests: one glyph, a box 1.5 em wide, for the Hangul
// syllable 가 (U+AC00). A text measured in this font therefore shows whether the font is in use.

function u16(v) { const b = Buffer.alloc(2); b.writeUInt16BE(v & 0xffff); return b; }
function i16(v) { const b = Buffer.alloc(2); b.writeInt16BE(v); return b; }
function u32(v) { const b = Buffer.alloc(4); b.writeUInt32BE(v >>> 0); return b; }
const cat = (...parts) => Buffer.concat(parts);
const pad4 = (b) => (b.length % 4 ? cat(b, Buffer.alloc(4 - (b.length % 4))) : b);

function checksum(buf) {
  const b = pad4(buf);
  let sum = 0;
  for (let i = 0; i < b.length; i += 4) sum = (sum + b.readUInt32BE(i)) >>> 0;
  return sum;
}

function nameTable(family) {
  const names = [[1, family], [2, 'Regular'], [3, family + '-1'], [4, family], [6, family]];
  const strings = names.map(([, s]) => Buffer.from(s, 'utf16le').swap16());
  let offset = 0;
  const records = names.map(([id], i) => {
    const r = cat(u16(3), u16(1), u16(0x409), u16(id), u16(strings[i].length), u16(offset));
    offset += strings[i].length;
    return r;
  });
  return cat(u16(0), u16(names.length), u16(6 + 12 * names.length), ...records, ...strings);
}

export function tinyHangulFont(family = 'TinyHangul') {
  const advance = 1500;
  const head = cat(u32(0x00010000), u32(0x00010000), u32(0), u32(0x5f0f3cf5), u16(0x000b), u16(1000),
                   Buffer.alloc(16), i16(0), i16(0), i16(advance), i16(800), u16(0), u16(8), i16(2), i16(0), i16(0));
  const hhea = cat(u32(0x00010000), i16(800), i16(-200), i16(0), u16(advance), i16(0), i16(0), i16(advance), i16(1), i16(0),
                   i16(0), Buffer.alloc(8), i16(0), u16(2));
  const maxp = cat(u32(0x00010000), u16(2), u16(4), u16(1), Buffer.alloc(22));
  maxp.writeUInt16BE(2, 14);  // maxZones
  const hmtx = cat(u16(advance), i16(0), u16(advance), i16(100));
  // Glyph 1: one square contour of four on-curve points, coordinates as 16-bit deltas.
  const glyph = pad4(cat(i16(1), i16(100), i16(0), i16(advance - 100), i16(800), u16(3), u16(0),
                         Buffer.from([1, 1, 1, 1]), i16(100), i16(advance - 200), i16(0), i16(-(advance - 200)),
                         i16(0), i16(0), i16(800), i16(0)));
  const glyf = glyph;
  const loca = cat(u16(0), u16(0), u16(glyph.length / 2));
  const sub = cat(u16(4), u16(32), u16(0), u16(4), u16(4), u16(1), u16(0), u16(0xac00), u16(0xffff), u16(0),
                  u16(0xac00), u16(0xffff), u16((1 - 0xac00) & 0xffff), u16(1), u16(0), u16(0));
  const cmap = cat(u16(0), u16(1), u16(3), u16(1), u32(12), sub);
  const os2 = cat(u16(4), i16(advance), u16(400), u16(5), u16(0), i16(650), i16(600), i16(0), i16(75), i16(650), i16(600),
                  i16(0), i16(350), i16(50), i16(300), i16(0), Buffer.alloc(10), u32(0), u32(0), u32(0x01000000), u32(0),
                  Buffer.from('NONE'), u16(0x40), u16(0xac00), u16(0xac00), i16(800), i16(-200), i16(0), u16(800), u16(200),
                  u32(0), u32(0), i16(500), i16(700), u16(0), u16(32), u16(0));
  const post = cat(u32(0x00030000), u32(0), i16(-100), i16(50), u32(0), u32(0), u32(0), u32(0), u32(0));
  const tables = [['OS/2', os2], ['cmap', cmap], ['glyf', glyf], ['head', head], ['hhea', hhea], ['hmtx', hmtx],
                  ['loca', loca], ['maxp', maxp], ['name', nameTable(family)], ['post', post]];
  const n = tables.length;
  let offset = 12 + 16 * n;
  const dir = [];
  const bodies = [];
  for (const [tag, data] of tables) {
    dir.push(cat(Buffer.from(tag), u32(checksum(data)), u32(offset), u32(data.length)));
    bodies.push(pad4(data));
    offset += pad4(data).length;
  }
  const font = cat(u32(0x00010000), u16(n), u16(128), u16(3), u16(n * 16 - 128), ...dir, ...bodies);
  const headAt = font.readUInt32BE(12 + 16 * 3 + 8);
  font.writeUInt32BE((0xb1b0afba - checksum(font)) >>> 0, headAt + 8);
  return font;
}
