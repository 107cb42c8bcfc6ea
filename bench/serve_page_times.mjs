// Times the look-development page as an artist meets it, in headless
// Chromium against stratamix serve on a free port: how long a change takes
// to become a new picture on the page at rest (the blend mode chosen again
// and again, at 256 pixels and 2x2 samples, on the page's one connection),
// and how many pictures the page draws while a slider moves steadily for a
// second. A measurement, not a test: nothing here fails on a slow machine.
//
//   node bench/serve_page_times.mjs [STRATAMIX] [--count N]
//
// Needs what the browser test needs (tools/install-deps.sh browser; npm ci
// in tests/browser).
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { cpus, loadavg, tmpdir } from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const root = path.dirname(path.dirname(new URL(import.meta.url).pathname));
const args = process.argv.slice(2);
const countAt = args.indexOf('--count');
const count = countAt >= 0 ? Number(args.splice(countAt, 2)[1]) : 40;
const stratamix = args[0] ?? path.join(root, 'build/native/bin/stratamix');
const { chromium } = await import(path.join(root, 'tests/browser/node_modules/playwright-core/index.mjs'));

const server = spawn(stratamix, ['serve', '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
const url = await new Promise((resolve) => {
  readline.createInterface({ input: server.stdout }).once('line', (line) => resolve(line.split(': ')[1]));
});
const home = mkdtempSync(path.join(tmpdir(), 'stratamix-bench-'));
const context = await chromium.launchPersistentContext(home, {
  executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 1280, height: 860 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
try {
  const page = context.pages()[0] ?? await context.newPage();
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.state === 'idle');
  await page.locator('.control[data-key="blendEnable"] input').check();
  await page.waitForFunction(() => document.body.dataset.state === 'idle');

  // At rest: a mode chosen, to the new picture drawn.
  const times = await page.evaluate(async (n) => {
    const select = document.querySelector('.control[data-key="blendMode"] select');
    const canvas = document.getElementById('picture');
    const drawn = (old) => new Promise((resolve) => {
      const watch = new MutationObserver(() => {
        if (canvas.dataset.generation !== old && document.body.dataset.state === 'idle') {
          watch.disconnect();
          resolve();
        }
      });
      watch.observe(canvas, { attributes: true });
      watch.observe(document.body, { attributes: true });
    });
    const out = [];
    const alone = [];
    for (let i = 0; i < n + 3; ++i) {
      const old = canvas.dataset.generation;
      const start = performance.now();
      select.value = String((i % 22) + 1);
      select.dispatchEvent(new Event('change', { bubbles: true }));
      await drawn(old);
      out.push(performance.now() - start);
      // The render alone, as the server timed it and the page shows it.
      alone.push(Number(document.getElementById('figures').textContent.match(/, ([\d.]+) ms,/)[1]));
    }
    // The first pay for the connection and page faults.
    return { trips: out.slice(3), alone: alone.slice(3) };
  }, count);

  // A steady drag: the gamma slider moved every 16 ms for a second.
  await page.locator('.control[data-key="correctEnable"] input').check();
  await page.waitForFunction(() => document.body.dataset.state === 'idle');
  const drag = await page.evaluate(async () => {
    const slider = document.querySelector('.control[data-key="gamma"] input[type=range]');
    const canvas = document.getElementById('picture');
    const seen = new Set();
    const watch = new MutationObserver(() => seen.add(canvas.dataset.generation));
    watch.observe(canvas, { attributes: true, attributeFilter: ['data-generation'] });
    const start = performance.now();
    for (let t = 0; performance.now() - start < 1000; ++t) {
      slider.value = String(0.5 + (t % 100) / 40);
      slider.dispatchEvent(new Event('input', { bubbles: true }));
      await new Promise((r) => setTimeout(r, 16));
    }
    watch.disconnect();
    return { pictures: seen.size, seconds: (performance.now() - start) / 1000 };
  });
  console.log(`stratamix serve's page in headless Chromium, ${cpus().length} cores (${cpus()[0].model}), `
    + `load average ${loadavg()[0].toFixed(1)}`);
  console.log(`change to new picture at rest, 256 pixels, 2x2 samples, ${count} changes: `
    + `median ${median(times.trips).toFixed(1)} ms, max ${Math.max(...times.trips).toFixed(1)} ms `
    + `(target: median under 60 ms); the render alone: median ${median(times.alone).toFixed(1)} ms`);
  console.log(`pictures while a slider moves: ${drag.pictures} in ${drag.seconds.toFixed(2)} s, `
    + `${(drag.pictures / drag.seconds).toFixed(1)} a second (target: at least 10)`);
} finally {
  await context.close();
  server.kill('SIGTERM');
  rmSync(home, { recursive: true, force: true });
}
