// node tools/make_demo_video.mjs ROOT: records a short looping background video for the customer
// screen into ROOT/video/demo_stage.webm, drawn on a canvas in headless Chromium and recorded by
// the browser itself (no video tool needed). Does nothing when the video folder already holds a
// file.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const root = process.argv[2];
const seconds = Number(process.argv[3] || 6);
if (!root) {
  console.error('usage: node tools/make_demo_video.mjs ROOT [SECONDS]');
  process.exit(2);
}
const folder = path.join(root, 'video');
fs.mkdirSync(folder, { recursive: true });
if (fs.readdirSync(folder).length > 0) process.exit(0);

const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tavelo-demo-video-'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run'],
});
try {
  const page = await context.newPage();
  const bytes = await page.evaluate(async (ms) => {
    const w = 640, h = 360;
    const c = document.createElement('canvas');
    c.width = w; c.height = h;
    const g = c.getContext('2d');
    // Two spot lights sweeping over a dark stage; the last frame meets the first, so it loops.
    const draw = (t) => {
      const p = (t % ms) / ms * Math.PI * 2;
      const bg = g.createLinearGradient(0, 0, 0, h);
      bg.addColorStop(0, '#1a1030');
      bg.addColorStop(1, '#3a1c40');
      g.fillStyle = bg;
      g.fillRect(0, 0, w, h);
      for (const [x0, hue, phase] of [[0.3, 40, 0], [0.7, 320, Math.PI]]) {
        const x = w * (x0 + 0.18 * Math.sin(p + phase));
        const light = g.createRadialGradient(x, h * 0.2, 10, x, h * 0.2, h * 0.8);
        light.addColorStop(0, `hsla(${hue},90%,70%,0.75)`);
        light.addColorStop(1, 'hsla(0,0%,0%,0)');
        g.fillStyle = light;
        g.fillRect(0, 0, w, h);
      }
    };
    const rec = new MediaRecorder(c.captureStream(25), { mimeType: 'video/webm', videoBitsPerSecond: 1500000 });
    const parts = [];
    rec.ondataavailable = (e) => parts.push(e.data);
    const start = performance.now();
    draw(0);
    rec.start();
    await new Promise((resolve) => {
      const step = () => {
        const t = performance.now() - start;
        draw(t);
        if (t >= ms) resolve();
        else requestAnimationFrame(step);
      };
      requestAnimationFrame(step);
    });
    const stopped = new Promise((r) => { rec.onstop = r; });
    rec.stop();
    await stopped;
    return Array.from(new Uint8Array(await new Blob(parts).arrayBuffer()));
  }, seconds * 1000);
  fs.writeFileSync(path.join(folder, 'demo_stage.webm'), Buffer.from(bytes));
  console.log(`demo video: ${path.join(folder, 'demo_stage.webm')} (${bytes.length} bytes)`);
} finally {
  await context.close();
  fs.rmSync(profile, { recursive: true, force: true });
}
