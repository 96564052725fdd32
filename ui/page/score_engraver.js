// ---- Score engraver ----
// Engraves a few measures on a canvas: staves, clefs, key and time signatures, notes with stems,
// flags, beams, dots, ties, triplets, rests and accidentals, and a drum staff. Input notes are
// [note, start tick, length]; they are quantized and split into notatable values that fill each
// measure exactly. Sizes are in staff spaces (sp). Glyphs come from GLYPH_PATH (glyph_outlines.js).

var MusicEngraver = (function () {
  var ENG_DEFAULTS = {
    staffLine: 0.13, stem: 0.12, beam: 0.5, beamSpacing: 0.25, ledger: 0.16, ledgerExt: 0.4,
    barlineThin: 0.16, barlineThick: 0.5, headW: 1.18, headH: 1.0, stemLen: 3.5, stemMin: 2.5,
    stemAnchor: 0.168, dotR: 0.2, dotGap: 0.5, flagLen: 2.3, flagThick: 1.05, flagGap: 0.9,
    keySigX: 3.4, keySigGap: 0.95, keySigScale: 1.0, accGap: 0.75, accScale: 1.0,
    beamSlantMax: 1.5, beamSlantQ: 0.25, beamSlantRatio: 0.25, beamletLen: 1.0, tieThick: 0.22,
    mQuant: 0, mTriplet: 1, mMinLen: 0, mGapFill: 0.5, mDeOverlap: 1, mGate: 1.0, mBarFill: 0.5,
  };
  var ENG = {};
  for (var k0 in ENG_DEFAULTS) ENG[k0] = ENG_DEFAULTS[k0];

  var UNITS_PER_SP = 214;
  var ANCHOR = {
    clef: [120, 144], clefF: [75, 572], rest1: [191, 572], rest2: [191, 358], rest4: [160, 358],
    rest8: [126, 358], rest16: [153, 358], sharp: [208, 198], natural: [190, 192], flat: [192, 190],
    head_open: [155, 91], head_full: [155, 91], brace: [0, 0],
  };
  var GLYPH_SCALE = { sharp: 0.449, natural: 0.444, flat: 0.55 };
  var MAX_OUTLINE_TOKENS = 20000;
  var MAX_SPLIT_STEPS = 64;
  var EPS = 1e-6;

  // ---- Glyph outlines ----

  var outlineCache = {};
  // Outline text -> list of [command, numbers...]; parsing stops after MAX_OUTLINE_TOKENS tokens.
  function parseOutline(d) {
    var re = /[MLHVQCZ]|-?(?:\d+\.?\d*|\.\d+)(?:e-?\d+)?/g;
    var ops = [], cur = null, m, n = 0;
    var need = { M: 2, L: 2, H: 1, V: 1, Q: 4, C: 6, Z: 0 };
    while ((m = re.exec(d)) !== null) {
      if (++n > MAX_OUTLINE_TOKENS) break;
      var t = m[0];
      if (need[t] !== undefined) {
        cur = [t];
        ops.push(cur);
      } else if (cur) {
        if (cur.length - 1 >= need[cur[0]]) { cur = [cur[0] === 'M' ? 'L' : cur[0]]; ops.push(cur); }
        cur.push(parseFloat(t));
      }
    }
    return ops.filter(function (o) { return o.length - 1 === need[o[0]]; });
  }
  function tracePath(p, ops) {
    var x = 0, y = 0;
    for (var i = 0; i < ops.length; i++) {
      var o = ops[i];
      switch (o[0]) {
        case 'M': x = o[1]; y = o[2]; p.moveTo(x, y); break;
        case 'L': x = o[1]; y = o[2]; p.lineTo(x, y); break;
        case 'H': x = o[1]; p.lineTo(x, y); break;
        case 'V': y = o[1]; p.lineTo(x, y); break;
        case 'Q': p.quadraticCurveTo(o[1], o[2], o[3], o[4]); x = o[3]; y = o[4]; break;
        case 'C': p.bezierCurveTo(o[1], o[2], o[3], o[4], o[5], o[6]); x = o[5]; y = o[6]; break;
        case 'Z': p.closePath(); break;
      }
    }
  }
  function outlineOf(name) {
    if (outlineCache[name] !== undefined) return outlineCache[name];
    var d = typeof GLYPH_PATH !== 'undefined' && GLYPH_PATH ? GLYPH_PATH[name] : null;
    var entry = null;
    if (typeof d === 'string') {
      var ops = parseOutline(d);
      entry = { ops: ops, path: null };
      if (typeof Path2D === 'function') {
        entry.path = new Path2D();
        tracePath(entry.path, ops);
      }
    }
    outlineCache[name] = entry;
    return entry;
  }
  // The outline's bounding box in font units [x0, y0, x1, y1] (y up), curves sampled.
  var boxCache = {};
  function outlineBox(name) {
    if (boxCache[name] !== undefined) return boxCache[name];
    var o = outlineOf(name);
    var b = null;
    if (o && o.ops.length) {
      b = [Infinity, Infinity, -Infinity, -Infinity];
      var add = function (x, y) {
        if (x < b[0]) b[0] = x; if (x > b[2]) b[2] = x;
        if (y < b[1]) b[1] = y; if (y > b[3]) b[3] = y;
      };
      var x = 0, y = 0;
      for (var i = 0; i < o.ops.length; i++) {
        var op = o.ops[i];
        if (op[0] === 'M' || op[0] === 'L') { x = op[1]; y = op[2]; add(x, y); }
        else if (op[0] === 'H') { x = op[1]; add(x, y); }
        else if (op[0] === 'V') { y = op[1]; add(x, y); }
        else if (op[0] === 'Q' || op[0] === 'C') {
          var pts = op[0] === 'C' ? [x, y].concat(op.slice(1)) :  // a quadratic as a cubic
            [x, y, x + 2 / 3 * (op[1] - x), y + 2 / 3 * (op[2] - y),
             op[3] + 2 / 3 * (op[1] - op[3]), op[4] + 2 / 3 * (op[2] - op[4]), op[3], op[4]];
          for (var s = 1; s <= 16; s++) {
            var t = s / 16, u = 1 - t;
            add(u * u * u * pts[0] + 3 * u * u * t * pts[2] + 3 * u * t * t * pts[4] + t * t * t * pts[6],
                u * u * u * pts[1] + 3 * u * u * t * pts[3] + 3 * u * t * t * pts[5] + t * t * t * pts[7]);
          }
          x = pts[6]; y = pts[7];
        }
      }
      if (!(b[2] >= b[0])) b = null;
    }
    boxCache[name] = b;
    return b;
  }
  // Size factor of a glyph: canvas units per font unit.
  function glyphScale(name, sp, scale) {
    return sp / UNITS_PER_SP * (scale || 1) * (GLYPH_SCALE[name] || 1);
  }
  // Width of a drawn glyph in canvas units.
  function glyphWidth(name, sp, scale) {
    var b = outlineBox(name);
    return b ? (b[2] - b[0]) * glyphScale(name, sp, scale) : 0;
  }

  // What the last render drew, for checks of the layout: entries {k: kind, n: name, x, y,
  // b: [left, top, right, bottom], s: staff index, m: measure slot, d: diatonic number}.
  var drawList = null;
  var drawAt = { s: -1, m: -1 };
  function record(kind, name, x, y, box, d) {
    if (!drawList) return;
    var e = { k: kind, n: name, x: x, y: y, b: box, s: drawAt.s, m: drawAt.m };
    if (d !== undefined) e.d = d;
    drawList.push(e);
  }
  function recordRect(kind, x, y, w, h) {
    if (drawList) record(kind, kind, x, y, [Math.min(x, x + w), Math.min(y, y + h), Math.max(x, x + w), Math.max(y, y + h)]);
  }

  // Draws a glyph with its anchor on (x, y); scale multiplies the staff space size.
  function glyph(ctx, name, x, y, sp, scale, kind, d) {
    var o = outlineOf(name);
    if (!o) return;
    var k = glyphScale(name, sp, scale);
    var a = ANCHOR[name] || [0, 0];
    if (drawList) {
      var bx = outlineBox(name);
      if (bx) record(kind || 'glyph', name, x, y, [x + (bx[0] - a[0]) * k, y - (bx[3] - a[1]) * k, x + (bx[2] - a[0]) * k, y - (bx[1] - a[1]) * k], d);
    }
    ctx.save();
    ctx.translate(x, y);
    ctx.scale(k, -k);
    ctx.translate(-a[0], -a[1]);
    if (o.path) ctx.fill(o.path);
    else { ctx.beginPath(); tracePath(ctx, o.ops); ctx.fill(); }
    ctx.restore();
  }
  // The brace stretched from top to bottom, its right edge at x.
  function drawBrace(ctx, x, top, bottom, sp) {
    var o = outlineOf('brace');
    if (!o || !(bottom > top)) return;
    var vs = (bottom - top) / 783;
    var hs = Math.min(vs, 1.1 * sp / 192);
    ctx.save();
    ctx.translate(x - (38 + 192) * hs, bottom);
    ctx.scale(hs, -vs);
    ctx.translate(0, 24);
    if (o.path) ctx.fill(o.path);
    else { ctx.beginPath(); tracePath(ctx, o.ops); ctx.fill(); }
    ctx.restore();
  }

  // ---- Pitch spelling and key signatures ----

  var SHARP_SPELL = [[0, 0], [0, 1], [1, 0], [1, 1], [2, 0], [3, 0], [3, 1], [4, 0], [4, 1], [5, 0], [5, 1], [6, 0]];
  var FLAT_SPELL = [[0, 0], [1, -1], [1, 0], [2, -1], [2, 0], [3, 0], [4, -1], [4, 0], [5, -1], [5, 0], [6, -1], [6, 0]];
  var SHARP_ORDER = [3, 0, 4, 1, 5, 2, 6];
  var FLAT_ORDER = [6, 2, 5, 1, 4, 0, 3];
  var CLEF_BOTTOM = { treble: 30, bass: 18 };
  var KEYSIG_WINDOW = { treble: [33, 31], bass: [19, 17] };  // first diatonic number: sharps, flats

  // pitch -> {letter, alt, dia}
  function spell(pitch, key) {
    var p = Math.round(pitch) | 0;
    var pc = ((p % 12) + 12) % 12;
    var s = (key < 0 ? FLAT_SPELL : SHARP_SPELL)[pc];
    var octave = Math.floor(p / 12) - 1;
    return { letter: s[0], alt: s[1], dia: octave * 7 + s[0] };
  }
  function keyAlt(letter, key) {
    if (key > 0) return SHARP_ORDER.indexOf(letter) < key ? 1 : 0;
    if (key < 0) return FLAT_ORDER.indexOf(letter) < -key ? -1 : 0;
    return 0;
  }
  function clampKey(k) {
    k = Math.round(+k || 0);
    return Math.max(-7, Math.min(7, k));
  }
  // Diatonic numbers of a key signature's accidentals on a clef, in writing order.
  function keySigDias(key, clef) {
    var win = KEYSIG_WINDOW[clef] || KEYSIG_WINDOW.treble;
    var out = [];
    var order = key > 0 ? SHARP_ORDER : FLAT_ORDER;
    var first = key > 0 ? win[0] : win[1];
    for (var i = 0; i < Math.abs(key); i++) {
      var letter = order[i];
      var d = first;
      while (((d % 7) + 7) % 7 !== letter) d++;
      out.push(d);
    }
    return out;
  }

  // The accidentals a chord needs: the alteration in force on a staff position is the one last
  // written in the measure (mem), else the key's. Returns [[dia, alt], ...] and updates mem.
  function writtenAccidentals(spelled, key, mem) {
    var out = [];
    for (var i = 0; i < spelled.length; i++) {
      var s = spelled[i];
      var inForce = mem[s.dia] !== undefined ? mem[s.dia] : keyAlt(s.letter, key);
      if (s.alt !== inForce) { out.push([s.dia, s.alt]); mem[s.dia] = s.alt; }
    }
    return out;
  }

  // ---- Rhythm ----

  var VALUES = [[4, 0, 0], [3, 0, 1], [2, 0, 0], [1.5, 0, 1], [1, 0, 0], [0.75, 1, 1], [0.5, 1, 0],
                [0.375, 2, 1], [0.25, 2, 0], [0.1875, 3, 1], [0.125, 3, 0]];
  var TRIPLETS = [[2 / 3, 0], [1 / 3, 1], [1 / 6, 2], [1 / 12, 3]];
  var usableCache = {};
  function usableValues(tpq) {
    if (usableCache[tpq]) return usableCache[tpq];
    var grid = tpq / 24;
    var list = VALUES.filter(function (v) {
      var q = v[0] * tpq / grid;
      return Math.abs(q - Math.round(q)) < 1e-6;
    }).map(function (v) { return { beats: v[0], flags: v[1], dots: v[2], ticks: v[0] * tpq }; });
    usableCache[tpq] = list;
    return list;
  }
  function safeTpq(tpq) {
    tpq = +tpq;
    return tpq > 0 && isFinite(tpq) ? tpq : 120;
  }
  function quantizer(tpq) {
    var q = ENG.mQuant | 0;
    var unit = q >= 1 && q <= 4 ? 4 * tpq / [4, 8, 16, 32][q - 1] : tpq / 8;
    var trip = !!ENG.mTriplet;
    return function (t) {
      var a = Math.round(t / unit) * unit;
      if (!trip) return a;
      var u2 = unit * 2 / 3;
      var b = Math.round(t / u2) * u2;
      return Math.abs(b - t) < Math.abs(a - t) ? b : a;
    };
  }
  var MIN_LEN_BEATS = [0, 1 / 8, 1 / 4, 1 / 2, 1];

  // Notes -> chords {start, end, pitches}, quantized and cleaned.
  function buildChords(notes, tpq) {
    var grid = tpq / 24;
    var snap = quantizer(tpq);
    var minLen = (MIN_LEN_BEATS[ENG.mMinLen | 0] || 0) * tpq;
    var gate = +ENG.mGate > 0 ? +ENG.mGate : 1;
    var list = [];
    for (var i = 0; i < (notes ? notes.length : 0); i++) {
      var n = notes[i];
      if (!n) continue;
      var pitch = +n[0], st = +n[1], len = +n[2];
      if (!isFinite(pitch) || !isFinite(st)) continue;
      if (!(len > 0)) len = tpq;
      if (minLen > 0 && len < minLen) continue;
      var s = snap(st);
      var e = Math.max(snap(st + len * gate), s + grid);
      list.push({ start: s, end: e, pitch: pitch });
    }
    list.sort(function (a, b) { return a.start - b.start || a.pitch - b.pitch; });
    var chords = [];
    for (var j = 0; j < list.length; j++) {
      var c = chords[chords.length - 1];
      if (c && Math.abs(c.start - list[j].start) < EPS) {
        if (c.pitches.indexOf(list[j].pitch) < 0) c.pitches.push(list[j].pitch);
        c.end = Math.max(c.end, list[j].end);
      } else chords.push({ start: list[j].start, end: list[j].end, pitches: [list[j].pitch] });
    }
    var gapFill = (+ENG.mGapFill || 0) * tpq;
    for (var k = 0; k + 1 < chords.length; k++) {
      var nx = chords[k + 1].start;
      if (ENG.mDeOverlap && chords[k].end > nx) chords[k].end = nx;
      var gap = nx - chords[k].end;
      if (gap > EPS && gap < gapFill) chords[k].end = nx;
    }
    return chords;
  }

  function near(a, b, tol) { return Math.abs(a - b) <= tol; }

  // One span [p, p + n) of a measure of length L -> pieces {pos, len, beats, flags, dots, triplet}.
  function decompose(p, n, L, tpq, measureKey) {
    var tol = 0.02 * tpq;
    for (var t = 0; t < TRIPLETS.length; t++) {
      var vt = TRIPLETS[t][0] * tpq;
      if (!near(n, vt, tol)) continue;
      var g = 3 * vt;
      var r = p - Math.floor((p + tol) / g) * g;
      if (near(r, 0, tol) || near(r, vt, tol) || near(r, 2 * vt, tol)) {
        var groupIdx = Math.floor((p + tol) / g);
        return [{ pos: p, len: n, beats: TRIPLETS[t][0], flags: TRIPLETS[t][1], dots: 0,
                  triplet: measureKey + ':t' + t + ':' + groupIdx }];
      }
    }
    var vals = usableValues(tpq);
    var pieces = [];
    var pos = p, rem = n, mid = L / 2;
    for (var step = 0; rem > EPS && step < MAX_SPLIT_STEPS; step++) {
      var pick = null;
      for (var i = 0; i < vals.length && !pick; i++) {
        var v = vals[i];
        if (v.ticks > rem + EPS) continue;
        var align = v.dots ? v.ticks / 1.5 : v.ticks;
        var off = pos % align;
        if (off > EPS && align - off > EPS) continue;
        var end = pos + v.ticks;
        if (pos < mid - EPS && end > mid + EPS && !(pos < EPS && Math.abs(v.ticks - L) < EPS)) continue;
        var onBeat = pos % tpq < EPS || tpq - (pos % tpq) < EPS;
        if (rem > tpq + EPS && !onBeat && Math.floor((pos + EPS) / tpq) !== Math.floor((end - EPS) / tpq)) continue;
        pick = v;
      }
      if (!pick) for (var j = 0; j < vals.length && !pick; j++) if (vals[j].ticks <= rem + EPS) pick = vals[j];
      if (!pick) {
        if (pieces.length) pieces[pieces.length - 1].len += rem;
        else pieces.push({ pos: pos, len: rem, beats: rem / tpq, flags: 3, dots: 0, triplet: null });
        rem = 0;
        break;
      }
      pieces.push({ pos: pos, len: pick.ticks, beats: pick.beats, flags: pick.flags, dots: pick.dots, triplet: null });
      pos += pick.ticks;
      rem -= pick.ticks;
    }
    if (rem > EPS && pieces.length) pieces[pieces.length - 1].len += rem;
    if (pieces.length >= 2 && n <= 1.5 * tpq + EPS) {
      var smallest = Infinity;
      for (var s = 0; s < pieces.length; s++) smallest = Math.min(smallest, pieces[s].beats);
      if (pieces.length >= 3 || smallest <= 0.2) {
        var best = null, bestD = Infinity;
        for (var b = 0; b < vals.length; b++) {
          var d = Math.abs(vals[b].ticks - n);
          if (d < bestD - EPS) { best = vals[b]; bestD = d; }  // larger first, so a tie keeps the larger
        }
        if (best) return [{ pos: p, len: n, beats: best.beats, flags: best.flags, dots: best.dots, triplet: null }];
      }
    }
    return pieces;
  }

  // Rests filling [p, p + n): fewest values, largest first, dotted allowed, no alignment.
  function restPieces(p, n, tpq) {
    var vals = usableValues(tpq);
    var out = [], pos = p, rem = n;
    for (var step = 0; rem > EPS && step < MAX_SPLIT_STEPS; step++) {
      var v = null;
      for (var i = 0; i < vals.length && !v; i++) if (vals[i].ticks <= rem + EPS) v = vals[i];
      if (!v) break;
      out.push({ pos: pos, len: v.ticks, beats: v.beats, flags: v.flags, dots: v.dots, rest: true });
      pos += v.ticks;
      rem -= v.ticks;
    }
    return out;
  }

  // Notes -> per-measure event lists. Measures: [{start, len, index}].
  function buildEvents(notes, tpq, measures) {
    tpq = safeTpq(tpq);
    var chords = buildChords(notes, tpq);
    var out = [];
    var barFill = (+ENG.mBarFill || 0) * tpq;
    for (var m = 0; m < (measures ? measures.length : 0); m++) {
      var ms = +measures[m].start, L = +measures[m].len;
      var evs = [];
      out.push(evs);
      if (!(L > 0)) continue;
      var clipped = [];
      // measures may come in any order (a page shows the next bars ahead), so each scans the chords
      for (var k = 0; k < chords.length && chords[k].start < ms + L; k++) {
        var c = chords[k];
        if (c.end <= ms) continue;
        clipped.push({ s: Math.max(c.start, ms) - ms, e: Math.min(c.end, ms + L) - ms, pitches: c.pitches,
                       from: c.start < ms, on: c.end > ms + L });
      }
      if (barFill > 0 && clipped.length) {
        var last = clipped[clipped.length - 1];
        if (last.e < L && L - last.e <= barFill + EPS) last.e = L;
      }
      var cursor = 0;
      var mkey = 'm' + m;
      for (var j = 0; j < clipped.length; j++) {
        var cc = clipped[j];
        if (cc.s < cursor - EPS) continue;
        if (cc.s > cursor + EPS) Array.prototype.push.apply(evs, restPieces(cursor, cc.s - cursor, tpq));
        var pcs = decompose(cc.s, cc.e - cc.s, L, tpq, mkey);
        for (var q = 0; q < pcs.length; q++) {
          var pc = pcs[q];
          pc.pitches = cc.pitches.slice();
          pc.tieNext = q < pcs.length - 1 || cc.on;
          pc.tieFrom = q > 0 || cc.from;
          pc.rest = false;
          evs.push(pc);
        }
        cursor = cc.e;
      }
      if (L - cursor > EPS) Array.prototype.push.apply(evs, restPieces(cursor, L - cursor, tpq));
      assignGroups(evs, tpq);
    }
    return out;
  }

  // Beam group keys and groups: evs[i].group = index of its group in evs.groups.
  function assignGroups(evs, tpq) {
    var halfHasShort = {};
    for (var i = 0; i < evs.length; i++) {
      var e = evs[i];
      if (!e.rest && e.flags >= 2 && !e.triplet) halfHasShort[Math.floor((e.pos + EPS) / (2 * tpq))] = true;
    }
    for (var j = 0; j < evs.length; j++) {
      var f = evs[j];
      if (f.rest || f.flags < 1) { f.gkey = null; continue; }
      if (f.triplet) f.gkey = f.triplet;
      else {
        var half = Math.floor((f.pos + EPS) / (2 * tpq));
        f.gkey = halfHasShort[half] ? 'b' + Math.floor((f.pos + EPS) / tpq) : 'h' + half;
      }
    }
    var groups = [];
    var run = [];
    var flush = function () {
      if (run.length >= 2) { groups.push(run); run.forEach(function (x) { x.group = groups.length - 1; }); }
      run = [];
    };
    for (var k = 0; k < evs.length; k++) {
      var g = evs[k];
      g.group = -1;
      if (!g.gkey) { flush(); continue; }
      var prev = run[run.length - 1];
      if (prev && (prev.gkey !== g.gkey || Math.abs(prev.pos + prev.len - g.pos) > EPS)) flush();
      run.push(g);
    }
    flush();
    evs.groups = groups;
  }

  // ---- Drawing ----

  function px(ctx, w) { return Math.max(1, w); }
  function hline(ctx, x1, x2, y, w) {
    var lw = Math.max(1, Math.round(w));
    var yy = Math.round(y) + (lw % 2 ? 0.5 : 0);
    ctx.lineWidth = lw;
    ctx.beginPath();
    ctx.moveTo(x1, yy);
    ctx.lineTo(x2, yy);
    ctx.stroke();
  }
  function vline(ctx, x, y1, y2, w) {
    ctx.fillRect(x - w / 2, Math.min(y1, y2), w, Math.abs(y2 - y1));
  }

  function drawStaffLines(ctx, x1, x2, top, sp) {
    var w = px(ctx, ENG.staffLine * sp);
    for (var i = 0; i < 5; i++) {
      hline(ctx, x1, x2, top + i * sp, w);
      recordRect('line', x1, top + i * sp - w / 2, x2 - x1, w);
    }
  }

  // Key signatures: each accidental stands on its staff position and advances by its own width
  // plus the gap, a share of the panel's spacing value (0.95 gives about a quarter staff space).
  var KEYSIG_GAP_SHARE = 0.25;
  // The glyphs of a key signature from x, left to right: naturals cancelling cancelFrom first
  // (followed by 0.25 sp), then the key's sharps or flats. [{name, left, dia}], width.
  function keySigPlan(key, clef, x, sp, cancelFrom) {
    var sc = +ENG.keySigScale || 1;
    var gap = KEYSIG_GAP_SHARE * (+ENG.keySigGap || 0) * sp;
    var out = [], cur = x, right = x;
    var put = function (name, dias) {
      var w = glyphWidth(name, sp, sc);
      for (var i = 0; i < dias.length; i++) {
        if (out.length) cur += gap;
        out.push({ name: name, left: cur, dia: dias[i] });
        cur += w;
        right = cur;
      }
    };
    if (cancelFrom) put('natural', keySigDias(cancelFrom, clef));
    var dias = keySigDias(key, clef);
    if (out.length && dias.length) cur += 0.25 * sp;
    put(key > 0 ? 'sharp' : 'flat', dias);
    if (out.length && !dias.length) right += 0.25 * sp;
    return { glyphs: out, width: right - x };
  }
  function keySigWidth(key, sp, cancelFrom) {
    return keySigPlan(clampKey(key), 'treble', 0, sp, cancelFrom ? clampKey(cancelFrom) : 0).width;
  }
  // Draws a key signature from x; returns its width.
  function drawKeySig(ctx, key, clef, x, yOfDia, sp, cancelFrom) {
    var sc = +ENG.keySigScale || 1;
    var plan = keySigPlan(key, clef, x, sp, cancelFrom);
    for (var i = 0; i < plan.glyphs.length; i++) {
      var g = plan.glyphs[i];
      var b = outlineBox(g.name);
      var ax = b ? g.left + ((ANCHOR[g.name] || [0, 0])[0] - b[0]) * glyphScale(g.name, sp, sc) : g.left;
      glyph(ctx, g.name, ax, yOfDia(g.dia), sp, sc, 'keysig', g.dia);
    }
    return plan.width;
  }
  // Room from a key signature's end to the centre of the note after it: a gap, half an accidental
  // (a sharp is about a staff space wide; its centre stands accGap left of the head), half a head.
  function firstNoteRoom(sp) {
    return (0.5 + 0.55 * (+ENG.accScale || 1) + ENG.accGap + ENG.headW / 2) * sp;
  }
  // Room from the staff start to the first bar line: clef, key signature, time signature.
  function headerWidth(key, sp) {
    return (ENG.keySigX + 3.2) * sp + keySigWidth(key, sp, 0);
  }

  function drawFlag(ctx, x, tipY, dir, count, sp) {
    // dir: -1 stem up (flags hang down from the top), +1 stem down
    for (var i = 0; i < count; i++) {
      var y0 = tipY - dir * i * ENG.flagGap * sp;
      var len = ENG.flagLen * sp, th = ENG.flagThick * sp * 0.5;
      recordRect('flag', x, y0, 1.1 * sp, -dir * len);
      ctx.beginPath();
      ctx.moveTo(x, y0);
      ctx.bezierCurveTo(x + 0.1 * sp, y0 - dir * len * 0.35, x + 1.1 * sp, y0 - dir * len * 0.5, x + 0.8 * sp, y0 - dir * len);
      ctx.bezierCurveTo(x + 0.9 * sp, y0 - dir * len * 0.6, x + 0.4 * sp, y0 - dir * (th + len * 0.25), x, y0 - dir * th);
      ctx.closePath();
      ctx.fill();
    }
  }

  function restGlyph(beats) {
    var b = beats;
    if (b >= 3.5) return 'rest1';
    if (b >= 1.5) return 'rest2';
    if (b >= 0.9) return 'rest4';
    if (b >= 0.45) return 'rest8';
    return 'rest16';
  }
  function drawRestAt(ctx, beats, dots, x, lineY, sp) {
    var plain = dots ? beats / 1.5 : beats;
    var g = restGlyph(plain);
    glyph(ctx, g, x, g === 'rest1' ? lineY - sp : lineY, sp, 1, 'rest');
    if (dots) { ctx.beginPath(); ctx.arc(x + 0.9 * sp, lineY - 0.5 * sp, ENG.dotR * sp, 0, 2 * Math.PI); ctx.fill(); }
  }
  // A rest of a staff: centred on the middle line (top + 2 sp).
  function drawRest(ctx, ev, x, top, sp) {
    drawRestAt(ctx, ev.beats, ev.dots, x, top + 2 * sp, sp);
  }

  function drawTie(ctx, x1, x2, y, sp) {
    if (x2 - x1 < 0.4 * sp) return;
    var yy = y + 0.55 * sp, b = 1.1 * sp;
    ctx.save();
    ctx.lineWidth = Math.max(1, ENG.tieThick * sp);
    ctx.lineCap = 'round';
    ctx.beginPath();
    ctx.moveTo(x1, yy);
    ctx.bezierCurveTo(x1 + (x2 - x1) * 0.25, yy + b, x2 - (x2 - x1) * 0.25, yy + b, x2, yy);
    ctx.stroke();
    ctx.restore();
  }

  function tripletLabel(ctx, x, y, sp) {
    ctx.save();
    ctx.font = 'italic bold ' + Math.round(1.5 * sp) + 'px "Times New Roman", serif';
    ctx.textAlign = 'center';
    ctx.textBaseline = 'middle';
    ctx.fillText('3', x, y);
    ctx.restore();
  }

  function roundSlant(v) {
    var q = +ENG.beamSlantQ;
    return q > 0 ? Math.round(v / q) * q : v;  // a step of 0 leaves the slant unrounded
  }

  // Draws one staff's events. g: {ctx, sp, top, clef, measures, xOf(m, pos), events, key(m)}.
  function drawStaffEvents(g) {
    var ctx = g.ctx, sp = g.sp, top = g.top;
    var bottomDia = CLEF_BOTTOM[g.clef] || 30;
    var midDia = bottomDia + 4;
    var yOfDia = function (d) { return top + 4 * sp - (d - bottomDia) * sp / 2; };
    var halfHead = ENG.headW * sp / 2;
    var stemOff = (ENG.headW / 2 - ENG.stem / 2) * sp;
    var pendingTie = null;
    for (var m = 0; m < g.events.length; m++) {
      var evs = g.events[m];
      var key = g.key(m);
      var mem = {};
      var placed = [];
      drawAt.m = m;
      for (var i = 0; i < evs.length; i++) {
        var e = evs[i];
        var x = g.xOf(m, e.pos);
        if (e.rest) { drawRest(ctx, e, x, top, sp); placed.push(null); continue; }
        var sp2 = e.pitches.map(function (p) { return spell(p, key); });
        var dias = sp2.map(function (s) { return s.dia; });
        var lo = Math.min.apply(null, dias), hi = Math.max.apply(null, dias);
        // accidentals
        var marks = writtenAccidentals(sp2, key, mem);
        for (var a = 0; a < marks.length; a++) {
          var alt = marks[a][1];
          glyph(ctx, alt > 0 ? 'sharp' : alt < 0 ? 'flat' : 'natural', x - halfHead - ENG.accGap * sp, yOfDia(marks[a][0]), sp, ENG.accScale, 'acc', marks[a][0]);
        }
        // heads and ledger lines
        var head = e.beats >= 2 ? 'head_open' : 'head_full';
        for (var h = 0; h < dias.length; h++) glyph(ctx, head, x, yOfDia(dias[h]), sp, 1, 'head', dias[h]);
        var lw = px(ctx, ENG.ledger * sp), ext = halfHead + ENG.ledgerExt * sp;
        for (var d = bottomDia - 2; d >= lo; d -= 2) { hline(ctx, x - ext, x + ext, yOfDia(d), lw); recordRect('ledger', x - ext, yOfDia(d) - lw / 2, 2 * ext, lw); }
        for (var u = bottomDia + 10; u <= hi; u += 2) { hline(ctx, x - ext, x + ext, yOfDia(u), lw); recordRect('ledger', x - ext, yOfDia(u) - lw / 2, 2 * ext, lw); }
        if (e.dots) {
          var dy = yOfDia(hi % 2 === 0 ? hi + 1 : hi);
          for (var k = 0; k < e.dots; k++) { ctx.beginPath(); ctx.arc(x + halfHead + ENG.dotGap * sp * (k + 1), dy, ENG.dotR * sp, 0, 2 * Math.PI); ctx.fill(); }
        }
        var info = { e: e, x: x, lo: lo, hi: hi, loY: yOfDia(lo), hiY: yOfDia(hi) };
        placed.push(info);
        if (pendingTie) { drawTie(ctx, pendingTie.x + halfHead, x - halfHead, pendingTie.y, sp); pendingTie = null; }
        if (e.tieNext) pendingTie = { x: x, y: yOfDia(lo) };
        // stems and flags outside beams
        if (e.group < 0 && e.beats < 4) {
          var up = (lo + hi) / 2 < midDia;
          var sx = up ? x + stemOff : x - stemOff;
          var from = up ? info.loY - ENG.stemAnchor * sp : info.hiY + ENG.stemAnchor * sp;
          var tip = up ? info.hiY - ENG.stemLen * sp : info.loY + ENG.stemLen * sp;
          if (up) tip = Math.min(tip, info.loY - ENG.stemLen * sp); else tip = Math.max(tip, info.hiY + ENG.stemLen * sp);
          vline(ctx, sx, from, tip, Math.max(1, ENG.stem * sp));
          recordRect('stem', sx - Math.max(1, ENG.stem * sp) / 2, from, Math.max(1, ENG.stem * sp), tip - from);
          if (e.flags > 0) drawFlag(ctx, sx, tip, up ? -1 : 1, e.flags, sp);
          info.tip = tip;
          info.up = up;
        }
      }
      // a tie crosses into the next slot only when that slot shows the following bar
      var here = g.measures && g.measures[m], next = g.measures && g.measures[m + 1];
      if (pendingTie && !(here && next && next.index === here.index + 1)) pendingTie = null;
      // beams
      for (var gi = 0; gi < (evs.groups || []).length; gi++) drawBeamGroup(ctx, evs.groups[gi], placed, evs, sp, midDia, yOfDia, stemOff);
      // triplet brackets for unbeamed triplets
      drawTripletBrackets(ctx, evs, placed, sp);
    }
  }

  function drawBeamGroup(ctx, group, placed, evs, sp, midDia, yOfDia, stemOff) {
    var items = group.map(function (e) { return placed[evs.indexOf(e)]; }).filter(Boolean);
    if (items.length < 2) return;
    var far = null, farD = -1;
    for (var i = 0; i < items.length; i++) {
      var c = (items[i].lo + items[i].hi) / 2;
      var dd = Math.abs(c - midDia);
      if (dd > farD + EPS) { farD = dd; far = c; }
    }
    var up = farD < EPS ? false : far < midDia;
    var dir = up ? -1 : 1;
    var xs = items.map(function (it) { return up ? it.x + stemOff : it.x - stemOff; });
    var tips = items.map(function (it) { return up ? it.loY - ENG.stemLen * sp : it.hiY + ENG.stemLen * sp; });
    var dx = xs[xs.length - 1] - xs[0];
    var slant = (tips[tips.length - 1] - tips[0]) / 2;
    var lim = Math.min(ENG.beamSlantMax * sp, ENG.beamSlantRatio * Math.abs(dx));
    slant = Math.max(-lim, Math.min(lim, slant));
    slant = roundSlant(slant / sp) * sp;
    var mid = (tips[0] + tips[tips.length - 1]) / 2;
    var beamY = function (x) { return dx > 0 ? mid - slant + (2 * slant) * (x - xs[0]) / dx : mid; };
    // every stem at least stemMin long
    var shift = 0;
    for (var k = 0; k < items.length; k++) {
      var headY = up ? items[k].loY : items[k].hiY;
      var len = (headY - (beamY(xs[k]) + shift)) * -dir;
      if (len < ENG.stemMin * sp) shift += dir * (ENG.stemMin * sp - len);
    }
    var by = function (x) { return beamY(x) + shift; };
    for (var s = 0; s < items.length; s++) {
      var from = up ? items[s].loY - ENG.stemAnchor * sp : items[s].hiY + ENG.stemAnchor * sp;
      vline(ctx, xs[s], from, by(xs[s]), Math.max(1, ENG.stem * sp));
      recordRect('stem', xs[s] - Math.max(1, ENG.stem * sp) / 2, from, Math.max(1, ENG.stem * sp), by(xs[s]) - from);
    }
    var th = ENG.beam * sp;
    var beamPoly = function (x1, x2, level) {
      var off = -dir * (level - 1) * (ENG.beam + ENG.beamSpacing) * sp;
      var y1 = by(x1) + off, y2 = by(x2) + off;
      ctx.beginPath();
      ctx.moveTo(x1, y1);
      ctx.lineTo(x2, y2);
      ctx.lineTo(x2, y2 - dir * th);
      ctx.lineTo(x1, y1 - dir * th);
      ctx.closePath();
      ctx.fill();
      if (drawList) record('beam', 'beam', x1, y1, [x1, Math.min(y1, y2, y1 - dir * th, y2 - dir * th), x2, Math.max(y1, y2, y1 - dir * th, y2 - dir * th)]);
    };
    beamPoly(xs[0] - 0.5, xs[xs.length - 1] + 0.5, 1);
    for (var level = 2; level <= 3; level++) {
      var i0 = 0;
      while (i0 < items.length) {
        if (items[i0].e.flags < level) { i0++; continue; }
        var i1 = i0;
        while (i1 + 1 < items.length && items[i1 + 1].e.flags >= level) i1++;
        if (i1 > i0) beamPoly(xs[i0], xs[i1], level);
        else {
          var bl = ENG.beamletLen * sp;
          if (i0 === 0) beamPoly(xs[i0], xs[i0] + bl, level);
          else beamPoly(xs[i0] - bl, xs[i0], level);
        }
        i0 = i1 + 1;
      }
    }
    if (items[0].e.triplet) {
      var cx = (xs[0] + xs[xs.length - 1]) / 2;
      tripletLabel(ctx, cx, by(cx) + (up ? -0.55 * sp - 0.75 * sp : 1.45 * sp), sp);
    }
  }

  function drawTripletBrackets(ctx, evs, placed, sp) {
    var byKey = {};
    for (var i = 0; i < evs.length; i++) {
      var e = evs[i];
      if (e.rest || !e.triplet || e.group >= 0 || !placed[i] || placed[i].tip === undefined) continue;
      (byKey[e.triplet] = byKey[e.triplet] || []).push(placed[i]);
    }
    for (var k in byKey) {
      var it = byKey[k];
      if (it.length < 2) continue;
      var up = it[0].up;
      var y = up ? Math.min.apply(null, it.map(function (x) { return x.tip; })) - 0.5 * sp
                 : Math.max.apply(null, it.map(function (x) { return x.tip; })) + 0.5 * sp;
      var x1 = it[0].x - 0.5 * sp, x2 = it[it.length - 1].x + 0.5 * sp, hook = up ? 0.5 * sp : -0.5 * sp;
      ctx.save();
      ctx.lineWidth = Math.max(1, 0.12 * sp);
      ctx.beginPath();
      ctx.moveTo(x1, y + hook);
      ctx.lineTo(x1, y);
      ctx.lineTo(x2, y);
      ctx.lineTo(x2, y + hook);
      ctx.stroke();
      ctx.restore();
      tripletLabel(ctx, (x1 + x2) / 2, y - (up ? 0.6 * sp : -0.6 * sp), sp);
    }
  }

  // ---- Render ----

  function prepareCanvas(canvas, c) {
    var w = +c.width || 1600, h = +c.height || 450;
    var dpr = +c.dpr > 0 ? +c.dpr : 1;
    if (canvas.width !== Math.round(w * dpr)) canvas.width = Math.round(w * dpr);
    if (canvas.height !== Math.round(h * dpr)) canvas.height = Math.round(h * dpr);
    if (canvas.style) { canvas.style.width = '100%'; canvas.style.height = '100%'; }
    var ctx = canvas.getContext('2d');
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.clearRect(0, 0, w, h);
    if (c.bg) { ctx.fillStyle = c.bg; ctx.fillRect(0, 0, w, h); }
    return ctx;
  }

  // Configuration: {width, height, startX, endX, contentX, measureW, beat1, rightPad, sp, tpq, key,
  // keyAt(barIndex), timeSig [n, d], measures [{start, len, index}], staves [{top, notes, clef,
  // color}], dpr, bg, staffColor}. Returns the layout shared with chords, lyrics and marks.
  function render(canvas, c) {
    var ctx = prepareCanvas(canvas, c);
    var sp = +c.sp > 0 ? +c.sp : 10;
    var tpq = safeTpq(c.tpq);
    var measures = c.measures || [];
    var keyAt = function (m) {
      var ms = measures[m];
      if (c.keyAt && ms) return clampKey(c.keyAt(ms.index));
      return clampKey(c.key);
    };
    var rightPad = +c.rightPad || 0;
    var beat1s = [];
    // key changes push a bar's first beat right
    var keyDraws = [];
    for (var m = 0; m < measures.length; m++) {
      var b1 = +c.beat1 || 0;
      if (m > 0 && keyAt(m) !== keyAt(m - 1)) {
        var nk = keyAt(m), pk = keyAt(m - 1);
        var kw = keySigWidth(nk, sp, nk === 0 ? pk : 0);
        // half a staff space after the signature, then room for the first note's accidental
        var need = 0.5 * sp + kw + firstNoteRoom(sp);
        if (need > b1) b1 = Math.min(need, 0.55 * c.measureW);
        keyDraws.push({ m: m, key: nk, cancel: nk === 0 ? pk : 0 });
      }
      beat1s.push(b1);
    }
    var xOfTick = function (tick, slot) {
      var ms = measures[slot];
      if (!ms) return c.contentX + slot * c.measureW + (+c.beat1 || 0);
      var b1 = beat1s[slot];
      var r = ms.len > 0 ? (tick - ms.start) / ms.len : 0;
      r = Math.max(0, Math.min(1, r));
      return c.contentX + slot * c.measureW + b1 + r * (c.measureW - b1 - rightPad);
    };
    var layout = { ctx: ctx, sp: sp, staves: [], xOfTick: xOfTick, beat1s: beat1s, measures: measures };
    layout.drawList = drawList = [];
    var staves = c.staves || [];
    for (var s = 0; s < staves.length; s++) {
      var st = staves[s];
      var top = +st.top;
      drawAt.s = s;
      drawAt.m = -1;
      layout.staves.push({ top: top, bottom: top + 4 * sp, x1: c.startX, x2: c.endX, clef: st.notes && st.clef ? st.clef : null });
      ctx.fillStyle = st.color || '#000';
      ctx.strokeStyle = c.staffColor || st.color || '#000';
      drawStaffLines(ctx, c.startX, c.endX, top, sp);
      ctx.strokeStyle = st.color || '#000';
      if (!st.notes || !st.clef) continue;
      var clef = st.clef === 'bass' ? 'bass' : 'treble';
      var bottomDia = CLEF_BOTTOM[clef];
      var yOfDia = function (d) { return top + 4 * sp - (d - bottomDia) * sp / 2; };
      glyph(ctx, clef === 'bass' ? 'clefF' : 'clef', c.startX + 0.6 * sp, clef === 'bass' ? top + sp : top + 3 * sp, sp, 1, 'clef');
      var k0 = keyAt(0);
      var kx = c.startX + ENG.keySigX * sp;
      var kw0 = drawKeySig(ctx, k0, clef, kx, yOfDia, sp, 0);
      if (c.timeSig) {
        ctx.save();
        ctx.font = 'bold ' + Math.round(2.1 * sp) + 'px "Times New Roman", serif';
        ctx.textAlign = 'center';
        ctx.textBaseline = 'alphabetic';
        var tx = kx + kw0 + 0.9 * sp;
        var num = String(c.timeSig[0]), den = String(c.timeSig[1]);
        ctx.fillText(num, tx, top + 1.75 * sp);
        ctx.fillText(den, tx, top + 3.85 * sp);
        if (drawList) {
          var tw = Math.max(+ctx.measureText(num).width || 0, +ctx.measureText(den).width || 0, 0.9 * sp);
          record('timesig', num + '/' + den, tx, top + 2 * sp, [tx - tw / 2, top, tx + tw / 2, top + 4 * sp]);
        }
        ctx.restore();
      }
      for (var kd = 0; kd < keyDraws.length; kd++) {
        var d = keyDraws[kd];
        drawAt.m = d.m;
        drawKeySig(ctx, d.key, clef, c.contentX + d.m * c.measureW + 0.5 * sp, yOfDia, sp, d.cancel);
      }
      var events = buildEvents(st.notes, tpq, measures);
      drawStaffEvents({
        ctx: ctx, sp: sp, top: top, clef: clef, events: events, key: keyAt, measures: measures,
        xOf: function (mi, pos) { return xOfTick(measures[mi].start + pos, mi); },
      });
    }
    drawAt.s = -1;
    drawAt.m = -1;
    // bar lines through the whole system
    if (layout.staves.length) {
      var sysTop = layout.staves[0].top, sysBottom = layout.staves[layout.staves.length - 1].bottom;
      ctx.fillStyle = '#333';
      for (var b = 1; b < measures.length; b++) vline(ctx, c.contentX + b * c.measureW, sysTop, sysBottom, Math.max(1, ENG.barlineThin * sp));
      var thick = Math.max(2, ENG.barlineThick * sp);
      vline(ctx, c.startX, sysTop, sysBottom, thick);
      vline(ctx, c.endX, sysTop, sysBottom, thick);
    }
    return layout;
  }

  // ---- Drum staff ----

  var DRUM_POS = [3.467, 1.467, -0.4, 0.533, -1.333, -0.4, 0.0, 0.0, 4.533, 1.467, 1.0, 2.5, 2.0];
  var DRUM_HEAD = ['full', 'full', 'x', 'full', 'x', 'xo', 'x', 'diamond', 'x', 'x', 'full', 'full', 'x'];
  function drumType(t) {
    t = t | 0;
    return t >= 0 && t < DRUM_POS.length ? t : 1;
  }
  function isFoot(t) { return t === 0 || t === 8; }

  // Most frequent distance between successive distinct hit ticks (up to 2 beats), within an
  // eighth of a beat and one beat; one beat when there is none.
  function drumPulse(ticks, tpq) {
    var counts = {};
    for (var i = 1; i < ticks.length; i++) {
      var d = ticks[i] - ticks[i - 1];
      if (d > 0 && d <= 2 * tpq) counts[d] = (counts[d] || 0) + 1;
    }
    var best = 0, bestN = 0;
    for (var k in counts) {
      var d2 = +k;
      if (counts[k] > bestN || (counts[k] === bestN && d2 < best)) { best = d2; bestN = counts[k]; }
    }
    if (!bestN) best = tpq;
    return Math.max(tpq / 8, Math.min(tpq, best));
  }
  // Hits of one voice -> notes [type, tick, length].
  function drumVoiceNotes(hits, tpq) {
    hits = hits.slice().sort(function (a, b) { return a[1] - b[1]; });
    var distinct = [];
    for (var i = 0; i < hits.length; i++) if (!distinct.length || distinct[distinct.length - 1] !== hits[i][1]) distinct.push(hits[i][1]);
    var pulse = drumPulse(distinct, tpq);
    var out = [];
    var j = 0;
    for (var h = 0; h < hits.length; h++) {
      while (j < distinct.length && distinct[j] <= hits[h][1]) j++;
      var next = j < distinct.length ? distinct[j] : Infinity;
      out.push([hits[h][0], hits[h][1], Math.min(pulse, next - hits[h][1])]);
    }
    return out;
  }

  function drawDrumHead(ctx, kind, x, y, sp) {
    var r = 0.5 * sp;
    ctx.save();
    ctx.lineWidth = Math.max(1, 0.16 * sp);
    if (kind !== 'full') record('drumhead', kind, x, y, [x - 1.2 * r, y - 1.2 * r, x + 1.2 * r, y + 1.2 * r]);
    if (kind === 'full') glyph(ctx, 'head_full', x, y, sp, 1, 'drumhead');
    else if (kind === 'diamond') {
      ctx.beginPath();
      ctx.moveTo(x - r, y); ctx.lineTo(x, y - r); ctx.lineTo(x + r, y); ctx.lineTo(x, y + r);
      ctx.closePath();
      ctx.fill();
    } else {
      ctx.beginPath();
      ctx.moveTo(x - r * 0.8, y - r * 0.8); ctx.lineTo(x + r * 0.8, y + r * 0.8);
      ctx.moveTo(x - r * 0.8, y + r * 0.8); ctx.lineTo(x + r * 0.8, y - r * 0.8);
      ctx.stroke();
      if (kind === 'xo') { ctx.beginPath(); ctx.arc(x, y, r * 1.2, 0, 2 * Math.PI); ctx.stroke(); }
    }
    ctx.restore();
  }

  // g: {sp, tpq, startX, xOfTick}; hits [type, tick, ...]; measures [{start, len, index}].
  function renderDrumStaff(ctx, g, top, hits, measures, color) {
    if (!hits || !hits.length) return;
    var sp = g.sp, tpq = safeTpq(g.tpq);
    ctx.save();
    ctx.fillStyle = color || '#111';
    ctx.strokeStyle = color || '#111';
    ctx.fillRect(g.startX + 0.55 * sp, top + sp, 0.36 * sp, 2 * sp);
    ctx.fillRect(g.startX + 1.15 * sp, top + sp, 0.36 * sp, 2 * sp);
    var voices = [[], []];
    var lo = measures.length ? measures[0].start : 0;
    var last = measures.length ? measures[measures.length - 1] : null;
    var hi = last ? last.start + last.len : 0;
    for (var i = 0; i < hits.length; i++) {
      var h = hits[i];
      if (!h || !(h[1] >= lo - 2 * tpq && h[1] < hi)) continue;
      var t = drumType(h[0]);
      voices[isFoot(t) ? 1 : 0].push([t, +h[1]]);
    }
    var saveMin = ENG.mMinLen, saveGate = ENG.mGate, saveBar = ENG.mBarFill;
    for (var v = 0; v < 2; v++) {
      if (!voices[v].length) continue;
      var foot = v === 1;
      var beamLine = foot ? top + 4 * sp + 6 * sp - 4 * sp : top - 2.267 * sp;
      if (foot) beamLine = top + 6 * sp;
      var restY = top + (foot ? 3.467 : 1.467) * sp;
      ENG.mMinLen = 0; ENG.mGate = 1; ENG.mBarFill = 0;
      var events = buildEvents(drumVoiceNotes(voices[v], tpq), tpq, measures);
      ENG.mMinLen = saveMin; ENG.mGate = saveGate; ENG.mBarFill = saveBar;
      for (var m = 0; m < events.length; m++) {
        var evs = events[m];
        var xs = [];
        for (var e = 0; e < evs.length; e++) {
          var ev = evs[e];
          var x = g.xOfTick(measures[m].start + ev.pos, m);
          xs.push(x);
          if (ev.rest) { drawRestAt(ctx, ev.beats, ev.dots, x, restY, sp); continue; }
          var ys = ev.pitches.map(function (tp) { return top + DRUM_POS[drumType(tp)] * sp; });
          for (var p = 0; p < ev.pitches.length; p++) {
            var tp2 = drumType(ev.pitches[p]);
            drawDrumHead(ctx, DRUM_HEAD[tp2], x, ys[p], sp);
            if (tp2 === 4) ctx.fillRect(x - 0.9 * sp, top - sp - 0.08 * sp, 1.8 * sp, Math.max(1, 0.16 * sp));
          }
          if (ev.beats >= 4) continue;
          var sx = x + (foot ? -1 : 1) * (ENG.headW / 2 - ENG.stem / 2) * sp;
          var outer = foot ? Math.min.apply(null, ys) : Math.max.apply(null, ys);
          vline(ctx, sx, outer, beamLine, Math.max(1, ENG.stem * sp));
          recordRect('stem', sx, outer, Math.max(1, ENG.stem * sp), beamLine - outer);
          if (ev.group < 0 && ev.flags > 0) drawFlag(ctx, sx, beamLine, foot ? 1 : -1, ev.flags, sp);
        }
        var groups = evs.groups || [];
        for (var gi = 0; gi < groups.length; gi++) {
          var grp = groups[gi];
          var gx = grp.map(function (x2) { return xs[evs.indexOf(x2)] + (foot ? -1 : 1) * (ENG.headW / 2 - ENG.stem / 2) * sp; });
          for (var level = 1; level <= 3; level++) {
            var off = (foot ? -1 : 1) * (level - 1) * (ENG.beam + ENG.beamSpacing) * sp;
            var a = 0;
            while (a < grp.length) {
              if (grp[a].flags < level) { a++; continue; }
              var b = a;
              while (b + 1 < grp.length && grp[b + 1].flags >= level) b++;
              var x1 = gx[a], x2 = b > a ? gx[b] : gx[a] + (a === 0 ? 1 : -1) * ENG.beamletLen * sp;
              var yb = beamLine + off;
              ctx.fillRect(Math.min(x1, x2), foot ? yb - ENG.beam * sp : yb, Math.abs(x2 - x1) + 1, ENG.beam * sp);
              recordRect('beam', Math.min(x1, x2), foot ? yb - ENG.beam * sp : yb, Math.abs(x2 - x1) + 1, ENG.beam * sp);
              a = b + 1;
            }
          }
        }
      }
    }
    ctx.restore();
  }

  return {
    ENG: ENG,
    ENG_DEFAULTS: ENG_DEFAULTS,
    render: render,
    renderDrumStaff: renderDrumStaff,
    buildEvents: buildEvents,
    decompose: decompose,
    drawBrace: drawBrace,
    glyph: glyph,
    drawRest: drawRest,
    drawRestAt: drawRestAt,
    spell: spell,
    keyAlt: keyAlt,
    keySigDias: keySigDias,
    parseOutline: parseOutline,
    drumVoiceNotes: drumVoiceNotes,
    keySigWidth: keySigWidth,
    headerWidth: headerWidth,
    glyphWidth: glyphWidth,
    // Accidentals a staff writes, for checks: [[measure, dia, alt], ...].
    accidentalsOf: function (notes, tpq, measures, keyOf) {
      var events = buildEvents(notes, tpq, measures);
      var out = [];
      for (var m = 0; m < events.length; m++) {
        var key = clampKey(keyOf ? keyOf(m) : 0);
        var mem = {};
        events[m].forEach(function (e) {
          if (e.rest) return;
          var sp2 = e.pitches.map(function (p) { return spell(p, key); });
          writtenAccidentals(sp2, key, mem).forEach(function (a) { out.push([m, a[0], a[1]]); });
        });
      }
      return out;
    },
  };
})();
