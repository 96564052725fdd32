// A small standard MIDI file reader for the tests: the channel events of the played ports (0 and
// 1, set by the port meta event) and the tempo map, in tick order (a tick's events in track order).
export function readMidiFile(buf) {
  const u32 = (o) => buf.readUInt32BE(o);
  if (buf.toString('latin1', 0, 4) !== 'MThd') throw new Error('not a MIDI file');
  const division = buf.readUInt16BE(12);
  const events = [], tempos = [];
  let pos = 8 + u32(4);
  let track = 0;
  while (pos + 8 <= buf.length) {
    const len = u32(pos + 4);
    const end = pos + 8 + len;
    if (buf.toString('latin1', pos, pos + 4) === 'MTrk') {
      let p = pos + 8, tick = 0, running = 0, port = 0, order = 0;
      const vlq = () => {
        let v = 0;
        for (;;) {
          const b = buf[p++];
          v = v * 128 + (b & 0x7F);
          if (!(b & 0x80)) return v;
        }
      };
      while (p < end) {
        tick += vlq();
        let status = buf[p];
        if (status < 0x80) status = running;
        else ++p;
        if (status === 0xFF) {
          const type = buf[p++];
          const n = vlq();
          if (type === 0x21 && n >= 1) port = buf[p];
          if (type === 0x51 && n === 3) tempos.push({ tick, us: (buf[p] << 16) | (buf[p + 1] << 8) | buf[p + 2] });
          p += n;
        } else if (status === 0xF0 || status === 0xF7) {
          const n = vlq();  // read before the sum: `p += vlq()` would add to p's old value
          p += n;
        } else {
          running = status;
          const two = (status & 0xF0) !== 0xC0 && (status & 0xF0) !== 0xD0;
          const data1 = buf[p++], data2 = two ? buf[p++] : 0;
          if (port <= 1) events.push({ tick, status, data1, data2, port, track, order: order++ });
        }
      }
      ++track;
    }
    pos = end;
  }
  events.sort((a, b) => a.tick - b.tick || a.track - b.track || a.order - b.order);
  tempos.sort((a, b) => a.tick - b.tick);
  return { division: division > 0 ? division : 120, events, tempos };
}

// Milliseconds from tick 0 to a tick along the file's tempo map (500,000 µs per quarter before
// the first tempo).
export function tempoMapMs(midi) {
  return (tick) => {
    let ms = 0, at = 0, us = 500000;
    for (const t of midi.tempos) {
      if (t.tick >= tick) break;
      ms += (t.tick - at) * us / 1000 / midi.division;
      at = t.tick;
      us = t.us;
    }
    return ms + (tick - at) * us / 1000 / midi.division;
  };
}
