// Stand-ins of the remote-support end-to-end tests: a private X server and an agent's viewer.
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { removeRoot } from './program.mjs';

// A private X server of 640 × 480 with a black root; resolves with its display name.
export function startXvfb(t) {
  return new Promise((resolve, reject) => {
    const x = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '640x480x24', '-br', '-nolisten', 'tcp'],
      { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
    t.after(() => x.kill('SIGTERM'));
    let out = '';
    x.stdio[3].on('data', (d) => {
      out += d;
      if (out.includes('\n')) resolve(':' + out.trim());
    });
    x.on('error', reject);
    x.on('exit', () => reject(new Error('Xvfb ended')));
  });
}

export function frame(type, payload = Buffer.alloc(0)) {
  const head = Buffer.alloc(5);
  head.writeUInt32LE(payload.length, 0);
  head.writeUInt8(type, 4);
  return Buffer.concat([head, payload]);
}

// A viewer that challenges every connection and keeps the frames it gets.
export function startViewer(t) {
  const viewer = { frames: [], socket: null, closed: false };
  const server = net.createServer((s) => {
    viewer.socket = s;
    let buf = Buffer.alloc(0);
    s.on('data', (d) => {
      buf = Buffer.concat([buf, d]);
      while (buf.length >= 5 && buf.length >= 5 + buf.readUInt32LE(0)) {
        const n = buf.readUInt32LE(0);
        viewer.frames.push({ type: buf[4], payload: buf.subarray(5, 5 + n) });
        buf = buf.subarray(5 + n);
      }
    });
    s.on('close', () => { viewer.closed = true; });
    s.on('error', () => {});
    s.write(frame(0x87, viewer.nonce));
  });
  viewer.nonce = crypto.randomBytes(16);
  t.after(() => server.close());
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => {
    viewer.port = server.address().port;
    resolve(viewer);
  }));
}

// A loopback port nothing listens on: connections to it are refused at once.
export async function refusingPort() {
  const closed = net.createServer();
  await new Promise((r) => closed.listen(0, '127.0.0.1', r));
  const port = closed.address().port;
  await new Promise((r) => closed.close(r));
  return port;
}

// The keys and values of a hello frame's payload.
export function helloOf(payload) {
  return Object.fromEntries(payload.toString('utf8').split('\n').filter(Boolean)
    .map((l) => [l.slice(0, l.indexOf('=')), l.slice(l.indexOf('=') + 1)]));
}

// A fresh install root whose support.cfg names a stand-in viewer, a web board that refuses at once
// (no member name, no agent list) and a private Xvfb: the program's environment for a session.
export async function supportSetup(t, name) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), `tavelo-e2e-${name}-`));
  t.after(() => removeRoot(root));
  const viewer = await startViewer(t);
  fs.mkdirSync(path.join(root, 'system'), { recursive: true });
  fs.writeFileSync(path.join(root, 'system', 'support.cfg'), `host=127.0.0.1\nport=${viewer.port}\n`);
  const deadPort = await refusingPort();
  const display = await startXvfb(t);
  const env = { TAVELO_WEB_BASE: `127.0.0.1:${deadPort}`, TAVELO_NET_PROBE: `127.0.0.1:${deadPort}`, DISPLAY: display };
  return { root, viewer, display, env };
}
