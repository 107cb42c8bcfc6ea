// The look-development page. Its controls, their groups and their pattern
// menus are made from the description of the contract the server sends
// (/api/fields); their settings are kept as preset text, which the server
// reads with the preview's own parser, so that what this page shows is what
// `stratamix preview` draws for the same preset.
'use strict';

// From the description: the stages, each a group of controls; the patterns
// a parameter can be connected to; how a slot of a layer array is named by
// a preset and by the declaration.
let stages = [];
let patterns = [];
let slotNames = { tools: '{name}[{slot}]', declaration: '{name}{slot}' };
const DEBOUNCE_MS = 60;

const $ = (id) => document.getElementById(id);

function element(tag, attributes = {}, children = []) {
  const e = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === 'text') {
      e.textContent = value;
    } else if (name === 'className') {
      e.className = value;
    } else {
      e.setAttribute(name, value);
    }
  }
  for (const child of children) {
    e.append(child);
  }
  return e;
}

// A number as a preset writes it, without a tail of rounding digits.
function numberText(x, digits = 4) {
  return String(Number(Number(x).toFixed(digits)));
}

// A parameter or slot by one of the description's naming rules.
function slotName(rule, field, slot) {
  return slot === null ? field.name : rule.replace('{name}', field.name).replace('{slot}', String(slot));
}

// The pattern a preset calls by this name, or undefined.
function patternNamed(name) {
  return patterns.find((p) => p.name === name);
}

// The numbers a value of the field's type holds: 1, 3 or 4.
function width(field) {
  return { color: 4, vector: 3 }[field.type] || 1;
}

function neutralText(field) {
  return field.neutral.map((n) => String(n)).join(' ');
}

// A control for one parameter or one slot of a layer array: it says what
// the preset holds for it and follows an opened preset.
class Control {
  constructor(field, slot) {
    this.field = field;
    this.slot = slot;
    this.key = slotName(slotNames.tools, field, slot);
    this.message = element('span', { className: 'message' });
    this.root = element('div', { className: `control ${field.kind}`, 'data-key': this.key });
    this.build();
    this.root.append(this.message);
  }

  build() {
    const f = this.field;
    if (f.kind === 'toggle') {
      this.box = element('input', { type: 'checkbox', 'aria-label': this.key });
      this.root.append(this.box);
      return;
    }
    if (f.kind === 'mode') {
      this.select = element('select', { 'aria-label': this.key });
      for (const m of modes) {
        this.select.append(element('option', { value: String(m.number), text: `${m.number} ${m.name}` }));
      }
      this.select.append(element('option', { value: 'other', text: 'other number…' }));
      this.number = element('input', { type: 'text', inputmode: 'numeric', size: '5', hidden: '',
                                        'aria-label': `${this.key} number` });
      this.select.addEventListener('change', () => {
        this.number.hidden = this.select.value !== 'other';
        if (this.select.value === 'other') {
          this.number.value = String(modes.length);
          this.number.focus();
        }
      });
      this.root.append(this.select, this.number);
      return;
    }
    if (f.type === 'integer') {
      // A gate or a count: a number, written as typed, since a gate is on
      // only at exactly 1 and any other number is worth trying.
      this.number = element('input', { type: 'text', inputmode: 'numeric', size: '5',
                                       'aria-label': this.key });
      this.root.append(this.number);
      return;
    }
    this.source = element('select', { className: 'source', 'aria-label': `${this.key} source` });
    const sources = ['value'].concat(patterns.filter((p) => p.types.includes(f.type)).map((p) => p.name));
    for (const s of sources) {
      this.source.append(element('option', { value: s, text: s }));
    }
    this.valueBox = element('span', { className: 'value' });
    this.patternBox = element('span', { className: 'pattern', hidden: '' });
    this.source.addEventListener('change', () => this.showSource());
    this.root.append(this.source, this.valueBox, this.patternBox);
    if (f.type === 'scalar') {
      this.slider = element('input', { type: 'range', min: String(f.min), max: String(f.max),
                                       step: String((f.max - f.min) / 200), 'aria-label': `${this.key} slider` });
      this.text = element('input', { type: 'text', inputmode: 'decimal', size: '7', 'aria-label': this.key });
      this.slider.addEventListener('input', () => { this.text.value = numberText(this.slider.value); });
      this.text.addEventListener('input', () => this.follow());
      this.valueBox.append(this.slider, this.text);
    } else if (f.type === 'color') {
      this.picker = element('input', { type: 'color', 'aria-label': `${this.key} colour` });
      this.alpha = element('input', { type: 'range', min: '0', max: '1', step: '0.01',
                                      'aria-label': `${this.key} alpha` });
      this.text = element('input', { type: 'text', size: '16', 'aria-label': this.key });
      this.picker.addEventListener('input', () => this.fromPicker());
      this.alpha.addEventListener('input', () => this.fromPicker());
      this.text.addEventListener('input', () => this.follow());
      this.valueBox.append(this.picker, this.alpha, this.text);
    } else {
      this.parts = [0, 1, 2].map((i) => element('input', { type: 'text', inputmode: 'decimal', size: '5',
                                                          'aria-label': `${this.key} ${'xyz'[i]}` }));
      this.valueBox.append(...this.parts);
    }
    this.frequency = element('input', { type: 'text', size: '4', 'aria-label': `${this.key} frequency` });
    this.height = element('input', { type: 'text', size: '4', 'aria-label': `${this.key} height` });
    this.axis = element('select', { 'aria-label': `${this.key} axis` },
                        [element('option', { value: 'u', text: 'u' }), element('option', { value: 'v', text: 'v' })]);
    this.stops = element('input', { type: 'text', size: '22', 'aria-label': `${this.key} values` });
    this.labels = {
      frequency: element('label', { text: 'frequency ' }, [this.frequency]),
      height: element('label', { text: 'height ' }, [this.height]),
      axis: element('label', { text: 'along ' }, [this.axis]),
      stops: element('label', { text: 'values ' }, [this.stops]),
    };
    this.patternBox.append(this.labels.axis, this.labels.frequency, this.labels.height, this.labels.stops);
  }

  // A value's default stops: the type's zero and one, as the parser's.
  defaultStops() {
    const zero = Array(width(this.field)).fill('0');
    const one = Array(width(this.field)).fill('1');
    if (this.field.type === 'color') {
      zero[3] = '1';
    }
    return `${zero.join(' ')}, ${one.join(' ')}`;
  }

  showSource() {
    const p = patternNamed(this.source.value);
    this.valueBox.hidden = p !== undefined;
    this.patternBox.hidden = p === undefined;
    // A pattern's fields are the arguments it takes.
    for (const [argument, labelled] of Object.entries(this.arguments())) {
      labelled.hidden = p === undefined || !p.arguments.includes(argument);
    }
  }

  // The slider or picker follows a typed value where it can show it.
  follow() {
    const words = this.text.value.trim().split(/\s+/).map(Number);
    if (this.slider && words.length === 1 && Number.isFinite(words[0])) {
      this.slider.value = String(words[0]);
    }
    if (this.picker && (words.length === 3 || words.length === 4) && words.every(Number.isFinite)) {
      const hex = (x) => Math.round(Math.min(1, Math.max(0, x)) * 255).toString(16).padStart(2, '0');
      this.picker.value = `#${hex(words[0])}${hex(words[1])}${hex(words[2])}`;
      this.alpha.value = String(words.length === 4 ? words[3] : 1);
    }
  }

  fromPicker() {
    const hex = this.picker.value;
    const channel = (i) => numberText(parseInt(hex.slice(1 + 2 * i, 3 + 2 * i), 16) / 255, 3);
    this.text.value = `${channel(0)} ${channel(1)} ${channel(2)} ${numberText(this.alpha.value, 3)}`;
  }

  reset() {
    const f = this.field;
    if (f.kind === 'toggle') {
      this.box.checked = f.neutral[0] !== 0;
    } else if (f.kind === 'mode') {
      this.setInteger(f.neutral[0]);
    } else if (f.type === 'integer') {
      this.number.value = String(f.neutral[0]);
    } else {
      this.setValue(neutralText(f));
      this.source.value = 'value';
      this.frequency.value = f.type === 'vector' ? '6' : '8';
      this.height.value = '0.4';
      this.axis.value = 'u';
      this.stops.value = this.defaultStops();
      this.showSource();
    }
  }

  setInteger(n) {
    if (this.box) {
      this.box.checked = n !== 0;
    } else if (this.select) {
      const known = modes.some((m) => m.number === n);
      this.select.value = known ? String(n) : 'other';
      this.number.hidden = known;
      this.number.value = String(n);
    } else {
      this.number.value = String(n);
    }
  }

  setValue(text) {
    if (this.parts) {
      const words = text.split(/\s+/);
      this.parts.forEach((p, i) => { p.value = words[i]; });
    } else {
      this.text.value = text;
      this.follow();
    }
  }

  // An assignment of /api/parse: an integer, a value or a pattern.
  set(a) {
    if (a.integer !== undefined) {
      this.setInteger(a.integer);
    } else if (a.value !== undefined) {
      this.source.value = 'value';
      this.setValue(a.value);
    } else {
      const p = a.pattern;
      this.source.value = p.kind;
      if (p.frequency !== undefined) this.frequency.value = p.frequency;
      if (p.height !== undefined) this.height.value = p.height;
      if (p.axis !== undefined) this.axis.value = p.axis;
      if (p.stops !== undefined) this.stops.value = p.stops.join(', ');
    }
    if (this.source) {
      this.showSource();
    }
  }

  // What the preset gives this parameter, as written after "=".
  valueText() {
    const f = this.field;
    if (f.kind === 'toggle') {
      return this.box.checked ? 'on' : 'off';
    }
    if (f.kind === 'mode') {
      return this.select.value === 'other' ? this.number.value.trim() : this.select.value;
    }
    if (f.type === 'integer') {
      return this.number.value.trim();
    }
    return this.pattern() || this.plainValue();
  }

  plainValue() {
    return this.parts ? this.parts.map((p) => p.value.trim()).join(' ') : this.text.value.trim();
  }

  // Each argument a pattern may take, by the description's name, and the
  // label holding its input.
  arguments() {
    return { axis: this.labels.axis, frequency: this.labels.frequency, height: this.labels.height,
             values: this.labels.stops };
  }

  // The pattern call, or null when the parameter holds a plain value: its
  // arguments in the description's order, the values left out when empty.
  pattern() {
    const p = patternNamed(this.source.value);
    if (p === undefined) {
      return null;
    }
    const text = { axis: this.axis.value, frequency: this.frequency.value.trim(),
                   height: this.height.value.trim(), values: this.stops.value.trim() };
    const args = p.arguments.map((a) => text[a]).filter((t, i) => t !== '' || p.arguments[i] !== 'values');
    return `${p.name}(${args.join(', ')})`;
  }

  // The preset's line for this parameter, or null while it keeps its
  // neutral value, so that a preset names only what it changes.
  line() {
    const text = this.valueText();
    const f = this.field;
    const neutral = f.kind === 'toggle' ? (f.neutral[0] !== 0 ? 'on' : 'off')
      : f.type === 'integer' ? String(f.neutral[0]) : neutralText(f);
    return text === neutral ? null : `${this.key} = ${text}`;
  }

  showMessage(text) {
    this.message.textContent = text;
    this.root.classList.toggle('bad', text !== '');
  }
}

let modes = [];
const controls = [];
let latest = 0;
let pending = null;
let timer = null;

function label(field, text) {
  return element('label', { className: 'name', title: `${field.description}. Zero: ${field.zeroMeans}.`,
                            text });
}

// The controls as the record lays its parameters out, a layer array's slots
// one after another: the order of the declaration, and of a preset.
function inRecordOrder() {
  return [...controls].sort((a, b) => a.field.index - b.field.index || a.slot - b.slot);
}

function buildControls(list) {
  list.forEach((f, i) => { f.index = i; });
  const box = $('controls');
  for (const group of stages) {
    const fields = list.filter((f) => f.stage === group.name);
    const section = element('section', { className: 'group', 'data-stage': group.name },
                            [element('h2', { text: group.title })]);
    const single = fields.filter((f) => f.slots === 1);
    for (const f of single) {
      const c = new Control(f, null);
      controls.push(c);
      section.append(element('div', { className: 'row' }, [label(f, f.name), c.root]));
    }
    const arrays = fields.filter((f) => f.slots > 1);
    if (arrays.length > 0) {
      const table = element('table', { className: 'slots' });
      table.append(element('tr', {}, [element('th', { text: 'slot' })].concat(
        arrays.map((f) => element('th', { title: f.description, text: f.name })))));
      for (let slot = 0; slot < arrays[0].slots; ++slot) {
        const row = element('tr', { 'data-slot': String(slot) }, [element('td', { text: String(slot) })]);
        for (const f of arrays) {
          const c = new Control(f, slot);
          controls.push(c);
          row.append(element('td', {}, [c.root]));
        }
        table.append(row);
      }
      section.append(table);
    }
    box.append(section);
  }
  for (const c of controls) {
    c.reset();
  }
}

// The preset the controls make, in the record's order, and which
// control wrote each line, so that a message about a line is shown beside
// its control.
function presetText() {
  const lines = ['# strataMix preset, from stratamix serve'];
  const owners = [null];
  for (const c of inRecordOrder()) {
    const line = c.line();
    if (line !== null) {
      lines.push(line);
      owners.push(c);
    }
  }
  return { text: `${lines.join('\n')}\n`, owners };
}

function renderOptions() {
  return new URLSearchParams({
    shape: $('shape').value, size: $('size').value.trim(), aa: $('aa').value, ray: $('ray').value,
  });
}

function clearMessages() {
  for (const c of controls) {
    c.showMessage('');
  }
  $('options-message').textContent = '';
}

function showError(error, owners) {
  clearMessages();
  const owner = error.line ? owners[error.line - 1] : null;
  if (owner) {
    owner.showMessage(error.error);
    owner.root.scrollIntoView({ block: 'nearest' });
  } else {
    $('options-message').textContent = error.error;
  }
  $('status').textContent = error.error;
}

function schedule() {
  clearTimeout(timer);
  timer = setTimeout(render, DEBOUNCE_MS);
}

// Renders the controls' preset. Only the newest request counts: an older
// one still on its way is aborted, and an answer that comes after a newer
// request was sent is dropped.
async function render() {
  const id = ++latest;
  if (pending) {
    pending.abort();
  }
  const abort = new AbortController();
  pending = abort;
  const { text, owners } = presetText();
  document.body.dataset.state = 'rendering';
  let response;
  let body;
  try {
    response = await fetch(`/api/render?${renderOptions()}`, {
      method: 'POST', body: text, headers: { 'Content-Type': 'text/plain' }, signal: abort.signal,
    });
    body = response.ok ? await response.blob() : await response.json();
  } catch (e) {
    if (id === latest) {
      showError({ error: `the server did not answer: ${e.message}` }, owners);
      document.body.dataset.state = 'error';
    }
    return;
  }
  if (id !== latest) {
    return;
  }
  if (!response.ok) {
    showError(body, owners);
    document.body.dataset.state = 'error';
    return;
  }
  clearMessages();
  if (!$('block-section').hidden) {
    showBlock();
  }
  const seconds = Number(response.headers.get('X-Render-Seconds'));
  const samples = Number(response.headers.get('X-Samples'));
  const picture = $('picture');
  const old = picture.src;
  picture.onload = () => {
    if (old) {
      URL.revokeObjectURL(old);
    }
    picture.dataset.generation = String(id);
    if (id === latest) {
      document.body.dataset.state = 'idle';
    }
  };
  picture.src = URL.createObjectURL(body);
  $('figures').textContent = `${(seconds * 1000).toFixed(1)} ms, ${samples.toLocaleString('en')} samples, `
    + `${(samples / seconds / 1e6).toFixed(1)} M samples/s`;
  $('status').textContent = '';
}

function download() {
  const blob = new Blob([presetText().text], { type: 'text/plain' });
  const a = element('a', { href: URL.createObjectURL(blob), download: `${$('block-name').value || 'look'}.preset` });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
}

// Every control as the assignments (of /api/parse) set it, the rest at
// their neutral values.
function setControls(assignments) {
  for (const c of controls) {
    c.reset();
  }
  for (const a of assignments) {
    for (const c of controls) {
      if (c.field.name === a.name && (a.slot === null || c.slot === a.slot)) {
        c.set(a);
      }
    }
  }
}

// An opened preset is read by the server's parser; every control then
// shows what the preset sets, the rest their neutral values.
async function openPreset(file) {
  const text = await file.text();
  const response = await fetch('/api/parse', { method: 'POST', body: text, headers: { 'Content-Type': 'text/plain' } });
  const body = await response.json();
  if (!response.ok) {
    $('status').textContent = `${file.name}: ${body.error}`;
    document.body.dataset.state = 'error';
    return;
  }
  setControls(body.assignments);
  $('status').textContent = `opened ${file.name}`;
  render();
}

// The controls' preset as a scene's shader block, written by the server's
// one writer of a block; only the newest request's answer is shown.
let blockRequests = 0;
async function blockText() {
  const name = $('block-name').value || 'look';
  const response = await fetch(`/api/block?${new URLSearchParams({ name })}`, {
    method: 'POST', body: presetText().text, headers: { 'Content-Type': 'text/plain' },
  });
  const body = await response.json();
  if (!response.ok) {
    throw new Error(body.error);
  }
  return body.block;
}

async function showBlock() {
  const id = ++blockRequests;
  try {
    const block = await blockText();
    if (id === blockRequests) {
      $('block').value = block;
    }
    return block;
  } catch (e) {
    $('status').textContent = `no shader block: ${e.message}`;
    return null;
  }
}

// Copies the block; where the browser will not, it stays selected below.
async function copyBlock() {
  $('block-section').hidden = false;
  const block = await showBlock();
  if (block === null) {
    return;
  }
  try {
    await navigator.clipboard.writeText(block);
    $('status').textContent = 'shader block copied';
  } catch (e) {
    $('block').select();
    $('status').textContent = 'the shader block is below: select and copy it';
  }
}

// The scenes of the server's --scenes folder: a scene, then one of its
// strataMix instances, opened into the controls. A parameter the scene
// connects to another shader keeps its neutral value, and the page says so.
async function listScenes() {
  const response = await fetch('/api/scenes');
  if (!response.ok) {
    return;  // the server opens no scenes
  }
  const { scenes } = await response.json();
  $('scene').replaceChildren(element('option', { value: '', text: 'choose a scene' }),
    ...scenes.map((name) => element('option', { value: name, text: name })));
  $('scene').addEventListener('change', listInstances);
  $('open-instance').addEventListener('click', openInstance);
  $('scenes').hidden = false;
}

async function listInstances() {
  const name = $('scene').value;
  $('instance').replaceChildren();
  $('scene-note').textContent = '';
  if (name === '') {
    return;
  }
  const response = await fetch(`/api/scene?${new URLSearchParams({ name })}`);
  const body = await response.json();
  if (!response.ok) {
    $('scene-note').textContent = `${name}: ${body.error}`;
    return;
  }
  for (const i of body.instances) {
    const problems = i.errors > 0 ? `, ${i.errors} error${i.errors === 1 ? '' : 's'}` : '';
    $('instance').append(element('option', { value: i.name, text: `${i.name} (${i.place}${problems})` }));
  }
  $('scene-note').textContent = body.instances.length === 0 ? `${name} holds no strataMix instance` : '';
}

async function openInstance() {
  const query = new URLSearchParams({ name: $('scene').value, shader: $('instance').value });
  const response = await fetch(`/api/scene?${query}`);
  const body = await response.json();
  if (!response.ok) {
    $('scene-note').textContent = [body.error, ...(body.diagnostics ?? [])].join('\n');
    return;
  }
  setControls(body.assignments);
  $('block-name').value = body.instance;
  $('scene-note').textContent = body.connected.length === 0 ? ''
    : `connected in the scene, at their neutral values here: ${body.connected.join(', ')}`;
  $('status').textContent = `opened ${body.instance} (${body.place})`;
  render();
}

async function start() {
  const response = await fetch('/api/fields');
  const info = await response.json();
  modes = info.modes;
  stages = info.stages;
  patterns = info.patterns;
  slotNames = info.record.slotNames;
  for (const s of info.shapes) {
    $('shape').append(element('option', { value: s.name, text: s.name, title: s.description }));
  }
  for (let n = 1; n <= info.limits.aa; ++n) {
    $('aa').append(element('option', { value: String(n), text: `${n}×${n}` }));
  }
  $('aa').value = '2';
  for (const r of info.rays) {
    $('ray').append(element('option', { value: r.name, text: `${r.name} (${r.code})` }));
  }
  buildControls(info.fields);
  $('controls').addEventListener('input', schedule);
  $('controls').addEventListener('change', schedule);
  $('render-options').addEventListener('input', schedule);
  $('render-options').addEventListener('change', schedule);
  $('render-options').addEventListener('submit', (e) => e.preventDefault());
  $('download').addEventListener('click', download);
  $('open').addEventListener('change', (e) => {
    if (e.target.files.length > 0) {
      openPreset(e.target.files[0]);
      e.target.value = '';
    }
  });
  $('copy-block').addEventListener('click', copyBlock);
  $('block-name').addEventListener('input', showBlock);
  $('reset').addEventListener('click', () => {
    for (const c of controls) {
      c.reset();
    }
    render();
  });
  listScenes();
  render();
}

start();
