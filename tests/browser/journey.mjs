// stratamix serve's page in headless Chromium, as a user goes through it:
// at 800x600 the picture in view without sideways scrolling; a preset
// opened from the keyboard alone; the picture follows the blend mode and a
// colour, and undo brings both back; a photon ray with skipPhotons 1 leaves
// by the gate; a bad value gets its message beside its control; the
// settings go out as a preset file and come back in, and out as a shader
// block; an image of the server's textures folder gives the base colour
// and goes out and back in as a texture call; the mode grid chooses a
// mode; the pixel readout holds stratamix eval's bits; NaN gets its
// legend; a scene's instances open from the server's scenes folder. Ends
// with a screenshot.
//
//   node journey.mjs STRATAMIX OUT_DIR [DOCS_PICTURE]
//
// With DOCS_PICTURE (docs/serve.png), the screenshot must be that picture
// but for the render's figures: the docs target (docs_images) copies the
// screenshot there after an intended change.
//
// Debian's chromium, driven by playwright-core (npm ci in this folder;
// tests/run-all.sh installs both). Without them the journey fails.
import { spawn, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import readline from 'node:readline';

const CHROMIUM = '/usr/bin/chromium';
const [stratamix, outDir, docsPicture] = process.argv.slice(2);
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
  const server = spawn(stratamix, ['serve', '--port', '0', '--scenes', scenes, '--textures', textures],
                       { stdio: ['ignore', 'pipe', 'inherit'] });
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
// The server's textures folder: one 4 by 4 orange image, its stored values
// 255 128 0 taken as they are.
const textures = path.join(outDir, 'textures');
mkdirSync(textures, { recursive: true });
writeFileSync(path.join(textures, 'orange.ppm'),
              Buffer.concat([Buffer.from('P6\n4 4\n255\n'), Buffer.from(Array(16).fill([255, 128, 0]).flat())]));
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
  page.on('pageerror', (e) => console.error(`journey: the page threw ${e.message}`));
  // Listened for from the start, so that Chromium hands the file chooser
  // over however soon after the key it opens.
  let chosen = null;
  page.on('filechooser', (c) => chosen?.(c));

  // Does `action`, then waits for the picture it causes, at rest, and reads
  // the result panel's centre: [panels, r, g, b].
  async function after(action) {
    const before = await generation();
    await action();
    await page.waitForFunction((old) => {
      const canvas = document.getElementById('picture');
      return (canvas.dataset.generation ?? null) !== old && document.body.dataset.state === 'idle';
    }, before);
    return page.evaluate(() => {
      const canvas = document.getElementById('picture');
      const at = canvas.getContext('2d').getImageData(canvas.width >> 1, canvas.height >> 1, 1, 1).data;
      return [document.getElementById('normal-panel').hidden ? 1 : 2, ...at.slice(0, 3)];
    });
  }
  const near = (got, want) => got.length === want.length && got.every((v, i) => Math.abs(v - want[i]) <= 1);
  const open = (stage) => page.locator(`details[data-stage="${stage}"]`).evaluate((d) => { d.open = true; });

  // At 800 by 600 the page needs no sideways scrolling and the whole
  // picture is in view, with the controls beside it.
  await page.setViewportSize({ width: 800, height: 600 });
  let seen = await after(() => page.goto(url));
  check(near(seen, [1, 128, 128, 128]), `the page opens on the neutral grey sphere (${seen})`);
  const fit = await page.evaluate(() => {
    const box = document.getElementById('picture').getBoundingClientRect();
    return { scroll: document.documentElement.scrollWidth, client: document.documentElement.clientWidth,
             box: [box.left, box.top, box.right, box.bottom] };
  });
  check(fit.scroll <= fit.client, `no sideways scrolling at 800x600 (${fit.scroll} <= ${fit.client})`);
  check(fit.box[0] >= 0 && fit.box[1] >= 0 && fit.box[2] <= 800 && fit.box[3] <= 600 && fit.box[2] - fit.box[0] >= 256,
        `the picture is in view at 800x600, at least 256 pixels wide (${fit.box.map(Math.round)})`);
  const folded = await page.locator('details.group').evaluateAll((d) => d.map((x) => `${x.dataset.stage}:${x.open}`));
  check(folded.join(',') === 'flow:true,normal:false,layer:false,correction:false',
        `the stages whose switches are off are folded (${folded})`);
  const shownSlots = await page.locator('.slot:not([hidden])').count();
  check(shownSlots === 0, `with layerCount 0 every slot is folded (${shownSlots} shown)`);

  const unlabelled = await page.locator('#controls input, #controls select, #view input, #view select')
    .evaluateAll((inputs) => inputs.filter((i) => i.type !== 'hidden' && i.labels.length === 0
      && !i.getAttribute('aria-label')).map((i) => i.outerHTML.slice(0, 60)));
  check(unlabelled.length === 0, `every input has its label (${unlabelled.join(' ') || 'all'})`);
  // Tab from the top of the page.
  const fromTheTop = () => page.evaluate(() => {
    document.body.tabIndex = -1;
    document.body.focus();
    document.body.removeAttribute('tabindex');
  });
  await fromTheTop();
  let presses = 0;
  while (presses < 40 && await page.evaluate(() => document.activeElement?.closest('.control')?.dataset.key) !== 'blendEnable') {
    await page.keyboard.press('Tab');
    ++presses;
  }
  check(presses < 20, `Tab reaches blendEnable in ${presses} presses`);

  // Keyboard only: Tab reaches Open preset…, Enter opens the file chooser.
  const example = new URL('../../preview/presets/overlay-checker.preset', import.meta.url).pathname;
  await fromTheTop();
  let tabs = 0;
  while (tabs < 12 && await page.evaluate(() => document.activeElement?.id) !== 'open-button') {
    await page.keyboard.press('Tab');
    ++tabs;
  }
  check(tabs < 12, `Tab reaches Open preset… in ${tabs} presses`);
  const chooser = await new Promise((resolve, reject) => {
    chosen = resolve;
    setTimeout(() => reject(new Error('Enter on Open preset… opened no file chooser')), 20000);
    page.keyboard.press('Enter');
  });
  seen = await after(() => chooser.setFiles(example));
  check(await control('blendMode').locator('select').inputValue() === '15', 'the keyboard opened the preset: overlay');
  const [named] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  check(named.suggestedFilename() === 'overlay-checker.preset', `Download keeps its name (${named.suggestedFilename()})`);
  await after(() => page.click('#reset'));
  await page.setViewportSize({ width: 1280, height: 860 });

  // The groups and menus are the server's description: its stages' titles,
  // the patterns each type can take, its shapes; the modes' formulas.
  const texts = (locator) => locator.evaluateAll((nodes) => nodes.map((n) => n.textContent));
  const values = (locator) => locator.evaluateAll((nodes) => nodes.map((n) => n.value));
  const rows = [
    ['the group titles', texts(page.locator('#controls h2')), 'Gates,Normal layers,Colour layer,Correction'],
    ['a float\'s sources', values(control('gamma').locator('select.source option')), 'value,checker,ramp,noise,texture'],
    ['a vector\'s sources', values(control('layerNormal[0]').locator('select.source option')),
      'value,checker,ramp,noise,bump,normalmap'],
    ['the images of the textures folder', values(control('baseColor').locator('.texture select').first().locator('option')),
      'orange.ppm'],
    ['the shapes', values(page.locator('#shape option')), 'sphere,swatch'],
    ['the samples over the limit at 2048 pixels', (async () => {
      await page.locator('#size').fill('2048');
      return page.locator('#aa option:disabled').evaluateAll((o) => o.map((x) => x.value));
    })(), '2,3,4,5,6,7,8'],
  ];
  for (const [what, got, want] of rows) {
    const list = (await got).join(',');
    check(list === want, `${what}: ${list}`);
  }
  await after(() => page.locator('#size').fill('256'));

  // The base colour from the folder's image: the picture takes its colour,
  // and the preset names it as a texture call that opens back.
  await open('layer');
  seen = await after(() => control('baseColor').locator('select.source').selectOption('texture'));
  check(near(seen, [1, 255, 128, 0]), `the orange image gives the base colour (${seen})`);
  const [withImage] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const imagePreset = path.join(outDir, 'texture.preset');
  await withImage.saveAs(imagePreset);
  const imageLine = 'baseColor = texture("orange.ppm", periodic, linear)';
  check(readFileSync(imagePreset, 'utf8').split('\n').includes(imageLine), `the preset holds '${imageLine}'`);
  await after(() => page.click('#reset'));
  seen = await after(() => page.setInputFiles('#open', imagePreset));
  check(await control('baseColor').locator('select.source').inputValue() === 'texture' && near(seen, [1, 255, 128, 0]),
        `the opened preset takes the image again (${seen})`);
  await after(() => page.click('#reset'));
  const fields = await (await fetch(`${url}api/fields`)).json();
  const formula = await control('blendMode').locator('option[value="15"]').getAttribute('title');
  check(formula === fields.modes[15].formula, `the overlay mode's tooltip is its formula ("${formula}")`);

  seen = await after(() => control('blendEnable').locator('input').check());
  check(near(seen, [1, 255, 255, 255]), `blending lays the white layer over it (${seen})`);
  check(await page.locator('details[data-stage="layer"]').evaluate((d) => d.open), 'and unfolds the colour layer');
  seen = await after(() => control('layerColor').locator('input[type=color]').fill('#ff0000'));
  check(near(seen, [1, 255, 0, 0]), `a red layer colour turns it red (${seen})`);
  seen = await after(() => control('blendMode').locator('select').selectOption({ label: '5 multiply' }));
  check(near(seen, [1, 128, 0, 0]), `multiply gives grey times red (${seen})`);

  // Undo and redo: the value and its picture come back.
  seen = await after(() => page.keyboard.press('Control+z'));
  check(await control('blendMode').locator('select').inputValue() === '0' && near(seen, [1, 255, 0, 0]),
        `Ctrl+Z puts the mode back to over, and its picture (${seen})`);
  seen = await after(() => page.keyboard.press('Control+Shift+z'));
  check(await control('blendMode').locator('select').inputValue() === '5' && near(seen, [1, 128, 0, 0]),
        `Ctrl+Shift+Z makes it multiply again (${seen})`);

  // The normal stage adds the lit panel; a photon ray then leaves by the
  // gate with the base colour, and the normal stage does not run.
  seen = await after(() => control('normalEnable').locator('input').check());
  check(near(seen, [2, 128, 0, 0]), `the normal stage adds the lit panel (${seen})`);
  seen = await after(() => control('skipPhotons').locator('input').fill('1'));
  check(near(seen, [2, 128, 0, 0]), `skipPhotons 1 lets an eye ray through (${seen})`);
  seen = await after(() => page.locator('#ray').selectOption('photon'));
  check(near(seen, [1, 128, 128, 128]), `a photon ray leaves by the gate with the base colour (${seen})`);

  // A bad value: the control's name and the problem, beside the control,
  // once; a slider's steps land on the neutral value again.
  await open('correction');
  await control('gamma').locator('.value input[type=text]').fill('abc');
  await page.waitForFunction(() => document.body.dataset.state === 'error');
  const message = await control('gamma').locator('.message').textContent();
  check(message === "gamma: 'abc' is not a number", `gamma says "${message}"`);
  check(await page.locator('#status').textContent() === '', 'and nothing else says it');
  seen = await after(() => control('gamma').locator('.value input[type=text]').fill('1.2'));
  check(await control('gamma').locator('.message').textContent() === '', 'the message goes with the bad value');
  const slider = control('gamma').locator('input[type=range]');
  await slider.focus();
  for (let i = 0; i < 8; ++i) {
    await page.keyboard.press('ArrowLeft');
  }
  await page.waitForFunction(() => document.body.dataset.state === 'idle');
  const landed = await control('gamma').locator('.value input[type=text]').inputValue();
  check(landed === '1', `the gamma slider's steps land on exactly 1 (${landed})`);

  // Out as a preset file, reset, and back in: every control follows.
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#download')]);
  const saved = path.join(outDir, 'look.preset');
  await download.saveAs(saved);
  const text = readFileSync(saved, 'utf8');
  for (const line of ['blendEnable = on', 'layerColor = 1 0 0 1', 'blendMode = 5', 'normalEnable = on', 'skipPhotons = 1']) {
    check(text.split('\n').includes(line), `the preset holds "${line}"`);
  }
  check(!text.includes('gamma'), 'and no gamma, back at its neutral 1');
  await after(() => page.click('#reset'));
  check(await control('blendMode').locator('select').inputValue() === '0', 'reset puts the mode back to 0');
  seen = await after(() => page.setInputFiles('#open', saved));
  check(await control('blendMode').locator('select').inputValue() === '5', 'the opened preset sets the mode');
  check(await control('layerColor').locator('.value input[type=text]').inputValue() === '1 0 0 1', 'and the layer colour');
  check(await control('skipPhotons').locator('input').inputValue() === '1', 'and the gate');
  check(near(seen, [1, 128, 128, 128]), `and the photon ray leaves by the gate again (${seen})`);

  // One control back to neutral: the mode's reset button.
  seen = await after(() => page.locator('#ray').selectOption('eye'));
  seen = await after(() => control('blendMode').locator('button.neutral').click());
  check(await control('blendMode').locator('select').inputValue() === '0' && near(seen, [2, 255, 0, 0]),
        `the mode alone goes back to over (${seen})`);

  await page.click('#copy-block');
  await page.waitForFunction(() => document.getElementById('block').value !== '');
  const block = await page.locator('#block').inputValue();
  check(block.startsWith('shader "look" "strataMix" (\n    "baseColor" 0.5 0.5 0.5 1,\n')
        && block.includes('\n    "layerWeight2" 1,\n    "layerWeight3" 1,\n')
        && block.includes('\n    "blendMode" 0,\n') && block.endsWith('\n    "outputNormal" off\n)\n')
        && block.split('\n').length === 2 + 54 + 1, 'the shader block gives all 54 parameters as declared');

  // The mode grid: every mode with the settings now; a click chooses one.
  await page.locator('#modes-section > summary').click();
  await page.waitForFunction(() => document.getElementById('mode-grid').dataset.round !== undefined
    && [...document.querySelectorAll('#mode-grid img')].every((i) => i.complete && i.naturalHeight === 64));
  check(await page.locator('#mode-grid button').count() === 23, 'the grid shows all 23 modes');
  seen = await after(() => page.locator('#mode-grid button[data-mode="5"]').click());
  check(await control('blendMode').locator('select').inputValue() === '5' && near(seen, [2, 128, 0, 0]),
        `choosing multiply in the grid sets the mode (${seen})`);
  await page.locator('#modes-section > summary').click();

  // The readout under the pointer: a swatch of constant inputs at one
  // sample per pixel, every pixel the one sample stratamix eval answers.
  const settings = { blendMode: '15', layerColor: '0.8 0.35 0.1 0.7', blendAmount: '0.6', useLayerAlpha: null,
                     saturationAdjust: '0.3', gamma: '2.2', contrast: '1.3' };
  await page.locator('#shape').selectOption('swatch');
  await page.locator('#aa').selectOption('1');
  await page.locator('#size').fill('64');
  await control('useLayerAlpha').locator('input').check();
  await control('correctEnable').locator('input').check();
  await control('normalEnable').locator('input').uncheck();
  for (const [key, value] of Object.entries(settings)) {
    if (value !== null && key !== 'blendMode') {
      await control(key).locator('.value input[type=text]').fill(value);
    }
  }
  seen = await after(() => control('blendMode').locator('select').selectOption('15'));
  const box = await page.locator('#picture').boundingBox();
  await page.mouse.move(box.x + box.width * 0.3, box.y + box.height * 0.6);
  const bits = await page.locator('#readout').getAttribute('data-bits');
  const f32 = (x) => {
    const b = Buffer.alloc(4);
    b.writeFloatBE(Number(x));
    return `0x${b.toString('hex')}`;
  };
  const params = {};
  for (const f of fields.fields) {
    const words = f.neutral.map((n) => (f.type === 'integer' ? n : f32(n)));
    const one = f.type === 'color' || f.type === 'vector' ? words : words[0];
    params[f.name] = f.slots > 1 ? Array(f.slots).fill(one) : one;
  }
  Object.assign(params, { blendEnable: 1, useLayerAlpha: 1, correctEnable: 1, blendMode: 15 });
  for (const [key, value] of Object.entries(settings)) {
    if (value !== null && key !== 'blendMode') {
      const words = value.split(' ').map(f32);
      params[key] = words.length === 1 ? words[0] : words;
    }
  }
  const evaluated = spawnSync(stratamix, ['eval'], { input: `${JSON.stringify({ params })}\n`, encoding: 'utf8' });
  const answer = JSON.parse(evaluated.stdout);
  check(evaluated.status === 0 && bits === answer.outColor.join(' '),
        `the readout's floats are stratamix eval's bits (${bits})`);

  // NaN in the result: magenta, with a legend that counts it.
  seen = await after(() => control('baseColor').locator('.value input[type=text]').fill('nan 0 0 1'));
  await control('blendEnable').locator('input').uncheck();
  await page.waitForFunction(() => document.body.dataset.state === 'idle'
    && document.getElementById('picture').dataset.nan === '4096');
  const legend = await page.locator('#nan-legend').textContent();
  check(await page.locator('#nan-legend').isVisible() && legend.includes('4,096 pixels NaN or infinite'),
        `a NaN base colour shows the legend: "${legend.trim()}"`);
  await after(() => page.click('#reset'));
  await page.locator('#shape').selectOption('sphere');
  await page.locator('#aa').selectOption('2');
  await after(() => page.locator('#size').fill('256'));

  // A scene from the server's folder: its instances listed, one opened with
  // its values and its connection named; its block gives the scene's values.
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
  check(seen[0] === 2 && await control('normalEnable').locator('input').isChecked(),
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
  const bumps = new URL('../../preview/presets/layered-bumps.preset', import.meta.url).pathname;
  seen = await after(() => page.setInputFiles('#open', bumps));
  check(seen[0] === 2 && await control('layerNormal[1]').locator('select.source').inputValue() === 'bump',
        'an example preset opens with its bumps and the lit panel');
  await page.mouse.move(box.x + box.width * 0.4, box.y + box.height * 0.45);
  await page.evaluate(() => document.activeElement?.blur());
  const shot = path.join(outDir, 'serve.png');
  await page.screenshot({ path: shot });
  console.log(`journey: screenshot ${shot}`);
  if (docsPicture) {
    // Decoded by Chromium on a page of its own: the render's figures and
    // time differ from run to run, a changed page in far more pixels.
    const compare = await context.newPage();
    const differ = await compare.evaluate(async ([a, b]) => {
      const pixels = async (base64) => {
        const bytes = Uint8Array.from(atob(base64), (ch) => ch.charCodeAt(0));
        const image = await createImageBitmap(new Blob([bytes], { type: 'image/png' }));
        const canvas = new OffscreenCanvas(image.width, image.height);
        const g = canvas.getContext('2d');
        g.drawImage(image, 0, 0);
        return g.getImageData(0, 0, image.width, image.height);
      };
      const [x, y] = [await pixels(a), await pixels(b)];
      if (x.width !== y.width || x.height !== y.height) {
        return { size: `${x.width}x${x.height} against ${y.width}x${y.height}` };
      }
      let count = 0;
      for (let i = 0; i < x.data.length; i += 4) {
        const d = Math.max(...[0, 1, 2].map((c) => Math.abs(x.data[i + c] - y.data[i + c])));
        count += d > 16 ? 1 : 0;
      }
      return { count, of: x.width * x.height };
    }, [readFileSync(shot).toString('base64'), readFileSync(docsPicture).toString('base64')]);
    await compare.close();
    check(differ.count !== undefined && differ.count <= differ.of / 50,
          `${docsPicture} is what the page shows (${differ.size ?? `${differ.count} of ${differ.of} pixels differ`}; `
          + 'after an intended change: cmake --build --preset native --target docs_images)');
  }
} catch (e) {
  console.error(`journey: ${e.stack || e}`);
  status = 1;
} finally {
  await context.close();
  server.kill('SIGTERM');
  rmSync(profile, { recursive: true, force: true });
}
process.exit(status);
