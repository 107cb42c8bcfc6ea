// stratamix serve's page in headless Chromium, as a user goes through it:
// the picture follows the blend mode and a colour; a photon ray with
// skipPhotons 1 leaves by the gate; a bad value gets its message beside its
// control; the settings go out as a preset file and come back in, and out
// as a shader block; a scene's instances open from the server's scenes
// folder. Ends with a screenshot.
//
//   node journey.mjs STRATAMIX OUT_DIR
//
// Debian's chromium, driven by playwright-core (npm ci in this folder;
// tests/run-all.sh installs both). Without them the journey fails.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const CHROMIUM = '/usr/bin/chromium';
const [stratamix, outDir] = process.argv.slice(2);
const scenes = new URL('../scene', import.meta.url).pathname;

function fail(message) {
  console.error(`journey: ${message}`);
  process.exit(1);
}

if (!stratamix || !outDir) {
  fail('usage: node journey.mjs STRATAMIX OUT_DIR');
}
if (!existsSync(CHROMIUM)) {
  fail(`no Chromium at ${CHROMIUM} (tools/install-deps.sh browser installs Debian's chromium)`);
}
let chromium;
try {
  ({ chromium } = await import('playwright-core'));
} catch (e) {
  fail(`no playwright-core (npm ci in tests/browser; tests/run-all.sh does): ${e.message}`);
}

// stratamix serve on a free port; resolves with its address once it says it.
function startServer() {
  const server = spawn(stratamix, ['serve', '--port', '0', '--scenes', scenes], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    server.on('exit', (code) => reject(new Error(`stratamix serve exited with ${code}`)));
    readline.createInterface({ input: server.stdout }).once('line', (line) => {
      const m = line.match(/^stratamix serve: (http:\/\/127\.0\.0\.1:\d+\/)$/);
      return m ? resolve({ server, url: m[1] }) : reject(new Error(`unexpected: ${line}`));
    });
  });
}

function check(holds, what) {
  if (!holds) {
    throw new Error(what);
  }
  console.log(`ok: ${what}`);
}

mkdirSync(outDir, { recursive: true });
const profile = mkdtempSync(path.join(tmpdir(), 'stratamix-chromium-'));
const { server, url } = await startServer();
const context = await chromium.launchPersistentContext(profile, {
  executablePath: CHROMIUM,
  headless: true,
  acceptDownloads: true,
  viewport: { width: 1280, height: 860 },
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
let status = 0;
try {
  const page = context.pages()[0] ?? await context.newPage();
  page.setDefaultTimeout(20000);
  const control = (key) => page.locator(`.control[data-key="${key}"]`);
  const generation = () => page.evaluate(() => document.getElementById('picture')?.dataset.generation ?? null);

  // Does `action`, then waits for the picture it causes and reads the
  // result panel's centre: [width, r, g, b].
  async function after(action) {
    const before = await generation();
    await action();
    await page.waitForFunction((old) => {
      const img = document.getElementById('picture');
      return img && (img.dataset.generation ?? null) !== old && document.body.dataset.state === 'idle';
    }, before);
    return page.evaluate(() => {
      const img = document.getElementById('picture');
      const canvas = document.createElement('canvas');
      canvas.width = img.naturalWidth;
      canvas.height = img.naturalHeight;
      const g = canvas.getContext('2d');
      g.drawImage(img, 0, 0);
      return [img.naturalWidth, ...g.getImageData(128, 128, 1, 1).data.slice(0, 3)];
    });
  }
  const near = (got, want) => got.length === want.length && got.every((v, i) => Math.abs(v - want[i]) <= 1);

  // Neutral settings: the base colour, mid grey, 0.5 * 255 on one panel.
  let seen = await after(() => page.goto(url));
  check(near(seen, [256, 128, 128, 128]), `the page opens on the neutral grey sphere (${seen})`);

  // The groups and menus are the server's description: its stages' titles,
  // the patterns each type can take, its shapes.
  const texts = (locator) => locator.evaluateAll((nodes) => nodes.map((n) => n.textContent));
  const values = (locator) => locator.evaluateAll((nodes) => nodes.map((n) => n.value));
  const rows = [
    ['the group titles', texts(page.locator('#controls h2')), 'Gates,Normal layers,Colour layer,Correction'],
    ['a float\'s sources', values(control('gamma').locator('select.source option')), 'value,checker,ramp,noise'],
    ['a vector\'s sources', values(control('layerNormal[0]').locator('select.source option')),
      'value,checker,ramp,noise,bump'],
    ['the shapes', values(page.locator('#shape option')), 'sphere,swatch'],
  ];
  for (const [what, got, want] of rows) {
    const list = (await got).join(',');
    check(list === want, `${what}: ${list}`);
  }

  seen = await after(() => control('blendEnable').locator('input').check());
  check(near(seen, [256, 255, 255, 255]), `blending lays the white layer over it (${seen})`);
  seen = await after(() => control('layerColor').locator('input[type=color]').fill('#ff0000'));
  check(near(seen, [256, 255, 0, 0]), `a red layer colour turns it red (${seen})`);
  seen = await after(() => control('blendMode').locator('select').selectOption({ label: '5 multiply' }));
  check(near(seen, [256, 128, 0, 0]), `multiply gives grey times red (${seen})`);

  // The normal stage adds the lit panel; a photon ray then leaves by the
  // gate with the base colour, and the normal stage does not run.
  seen = await after(() => control('normalEnable').locator('input').check());
  check(near(seen, [520, 128, 0, 0]), `the normal stage adds the lit panel (${seen})`);
  seen = await after(() => control('skipPhotons').locator('input').fill('1'));
  check(near(seen, [520, 128, 0, 0]), `skipPhotons 1 lets an eye ray through (${seen})`);
  seen = await after(() => page.locator('#ray').selectOption('photon'));
  check(near(seen, [256, 128, 128, 128]), `a photon ray leaves by the gate with the base colour (${seen})`);

  // A bad value: the parser's message, beside the control that wrote it.
  await control('gamma').locator('.value input[type=text]').fill('abc');
  await page.waitForFunction(() => document.body.dataset.state === 'error');
  const message = await control('gamma').locator('.message').textContent();
  check(/^line \d+: 'abc' is not a number$/.test(message), `gamma says "${message}"`);
  seen = await after(() => control('gamma').locator('.value input[type=text]').fill('1'));
  check(await control('gamma').locator('.message').textContent() === '', 'the message goes with the bad value');

  // Out as a preset file, reset, and back in: every control follows.
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const saved = path.join(outDir, 'look.preset');
  await download.saveAs(saved);
  const text = readFileSync(saved, 'utf8');
  for (const line of ['blendEnable = on', 'layerColor = 1 0 0 1', 'blendMode = 5', 'normalEnable = on', 'skipPhotons = 1']) {
    check(text.split('\n').includes(line), `the preset holds "${line}"`);
  }
  await after(() => page.click('#reset'));
  check(await control('blendMode').locator('select').inputValue() === '0', 'reset puts the mode back to 0');
  seen = await after(() => page.setInputFiles('#open', saved));
  check(await control('blendMode').locator('select').inputValue() === '5', 'the opened preset sets the mode');
  check(await control('layerColor').locator('.value input[type=text]').inputValue() === '1 0 0 1', 'and the layer colour');
  check(await control('skipPhotons').locator('input').inputValue() === '1', 'and the gate');
  check(near(seen, [256, 128, 128, 128]), `and the photon ray leaves by the gate again (${seen})`);

  await page.click('#copy-block');
  await page.waitForFunction(() => document.getElementById('block').value !== '');
  const block = await page.locator('#block').inputValue();
  check(block.startsWith('shader "look" "strataMix" (\n    "baseColor" 0.5 0.5 0.5 1,\n')
        && block.includes('\n    "layerWeight2" 1,\n    "layerWeight3" 1,\n')
        && block.includes('\n    "blendMode" 5,\n') && block.endsWith('\n    "outputNormal" off\n)\n')
        && block.split('\n').length === 2 + 54 + 1, 'the shader block gives all 54 parameters as declared');

  // A scene from the server's folder: its instances listed, one opened with
  // its values and its connection named; its block gives the scene's values.
  await after(() => page.locator('#ray').selectOption('eye'));
  check(await page.locator('#scenes').isVisible(), 'the page offers the scenes folder');
  const sceneNames = await values(page.locator('#scene option'));
  check(sceneNames.join(',') === ',looks.mi,mistakes.mi,parts/textures.mi,truncated.mi',
        `the folder's scenes are listed (${sceneNames})`);
  await page.locator('#scene').selectOption('looks.mi');
  await page.waitForFunction(() => document.querySelectorAll('#instance option').length > 0);
  const instances = await values(page.locator('#instance option'));
  check(instances.join(',') === 'rust_layer,panel_normals,panel_look', `its instances are listed (${instances})`);
  await page.locator('#instance').selectOption('rust_layer');
  seen = await after(() => page.click('#open-instance'));
  check(await control('blendMode').locator('select').inputValue() === '15', 'the instance opens with its mode');
  check(await control('baseColor').locator('.value input[type=text]').inputValue() === '0.45 0.3 0.2 1',
        'and its base colour');
  check(await control('contrast').locator('.value input[type=text]').inputValue() === '1.1', 'and its contrast');
  check(await control('layerColor').locator('.value input[type=text]').inputValue() === '1 1 1 1',
        'its connected layer colour is at the neutral white');
  const note = await page.locator('#scene-note').textContent();
  check(note === "connected in the scene, at their neutral values here: layerColor = 'rust_tex.outColor'",
        `the page says so: "${note}"`);
  await page.click('#copy-block');
  await page.waitForFunction(() => document.getElementById('block').value.startsWith('shader "rust_layer"'));
  const sceneBlock = await page.locator('#block').inputValue();
  check(sceneBlock.includes('\n    "blendMode" 15,\n') && sceneBlock.includes('\n    "gamma" 2.2,\n')
        && sceneBlock.includes('\n    "layerWeight0" 0,\n'), 'its shader block gives the scene\'s values, 0 where it is silent');
  await page.locator('#instance').selectOption('panel_normals');
  seen = await after(() => page.click('#open-instance'));
  check(seen[0] === 520 && await control('normalEnable').locator('input').isChecked(),
        `an instance with its normal stage on shows the lit panel (${seen[0]})`);
  await page.locator('#scene').selectOption('mistakes.mi');
  await page.waitForFunction(() => document.querySelectorAll('#instance option').length > 0);
  await page.locator('#instance').selectOption('typo');
  await page.click('#open-instance');
  await page.waitForFunction(() => document.getElementById('scene-note').textContent.includes('not opened'));
  const refused = await page.locator('#scene-note').textContent();
  check(refused === `"typo" (mistakes.mi:2:1) has errors: not opened\nmistakes.mi:5:5: error: unknown parameter 'blendMod'\nmistakes.mi:5:5: note: did you mean 'blendMode'?`,
        `an instance with errors is not opened, and says why: "${refused}"`);

  // An example preset, for the screenshot: bumps on the layers, a noise on
  // the base colour, and the lit panel beside it.
  const example = new URL('../../preview/presets/layered-bumps.preset', import.meta.url).pathname;
  seen = await after(() => page.setInputFiles('#open', example));
  check(seen[0] === 520 && await control('layerNormal[1]').locator('select.source').inputValue() === 'bump',
        'an example preset opens with its bumps and the lit panel');
  await page.screenshot({ path: path.join(outDir, 'serve.png') });
  console.log(`journey: screenshot ${path.join(outDir, 'serve.png')}`);
} catch (e) {
  console.error(`journey: ${e.stack || e}`);
  status = 1;
} finally {
  await context.close();
  server.kill('SIGTERM');
  rmSync(profile, { recursive: true, force: true });
}
process.exit(status);
