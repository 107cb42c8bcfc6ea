// The look-development page. Its controls, their groups and their pattern
// menus are made from the description of the contract the server sends
// (/api/fields); their settings are kept as preset text, which the server
// reads with the preview's own parser, so that what this page shows is what
// `stratamix preview` draws for the same preset. The picture comes as the
// floats the shader gave (/api/render?format=f32) and is drawn here, so
// that alpha, values over 1, NaN and single pixels can be looked at.
'use strict';

// From the description: the stages, each a group of controls; the patterns
// a parameter can be connected to; how a slot of a layer array is named by
// a preset and by the declaration; the modes; the server's limits.
let stages = [];
let patterns = [];
let modes = [];
let routes = [];
let limits = { size: 2048, aa: 8, calls: 16000000 };
let slotNames = { tools: '{name}[{slot}]', declaration: '{name}{slot}' };
// The images of the server's textures folder, and the wraps a texture call
// takes; both empty when the server reads no textures.
let textures = [];
let textureWraps = [];

// The switch that runs each stage, by the route that names it: the stage's
// group folds while it is off.
const STAGE_SWITCH = { normal: 'normalStage', layer: 'blend', correction: 'correction' };
// While a slider moves: one picture at a time, each at one sample per pixel
// and at most this many pixels a side; the full picture once it rests.
const MOVING_SIZE = 256;
const REST_MS = 180;
// Typing waits for a pause, so that a half-typed number is not refused.
const TYPING_MS = 250;
// The page's token: a newer render from this page cancels the older one on
// the server as well as here.
const TOKEN = `page-${Math.random().toString(36).slice(2, 12)}`;

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

// The shortest text that reads back as the same 32-bit float.
function floatText(x) {
  if (!Number.isFinite(x)) {
    return String(x).replace('Infinity', 'inf').replace('NaN', 'nan');
  }
  for (let digits = 1; digits < 10; ++digits) {
    const text = x.toPrecision(digits);
    if (Math.fround(Number(text)) === x) {
      return String(Number(text));
    }
  }
  return String(x);
}

// A float's 32-bit pattern as stratamix eval writes it: "0x3f000000".
const bitsView = new DataView(new ArrayBuffer(4));
function floatBits(x) {
  bitsView.setFloat32(0, x);
  return `0x${bitsView.getUint32(0).toString(16).padStart(8, '0')}`;
}

// A parameter or slot by one of the description's naming rules.
function slotName(rule, field, slot) {
  return slot === null ? field.name : rule.replace('{name}', field.name).replace('{slot}', String(slot));
}

// An id for an input: the key with only the letters an id reads easily.
function idOf(key, part = '') {
  return `in-${key.replace(/[^A-Za-z0-9]/g, '-')}${part ? `-${part}` : ''}`;
}

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
    this.id = idOf(this.key);
    this.message = element('span', { className: 'message', id: idOf(this.key, 'message'), role: 'alert' });
    this.root = element('div', { className: `control ${field.kind}`, 'data-key': this.key });
    this.build();
    if (field.kind !== 'toggle') {
      this.neutralButton = element('button', { type: 'button', className: 'neutral', text: '↺',
                                               title: `${this.key} back to ${this.neutralLine()}`,
                                               'aria-label': `${this.key} to its neutral value` });
      this.neutralButton.addEventListener('click', () => {
        this.reset();
        changed('commit');
      });
      this.root.append(this.neutralButton);
    }
    this.root.append(this.message);
  }

  build() {
    const f = this.field;
    if (f.kind === 'toggle') {
      this.box = element('input', { type: 'checkbox', id: this.id });
      this.root.append(this.box);
      return;
    }
    if (f.kind === 'mode') {
      this.select = element('select', { id: this.id });
      for (const m of modes) {
        this.select.append(element('option', { value: String(m.number), text: `${m.number} ${m.name}`,
                                               title: m.formula }));
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
        this.showFormula();
      });
      this.formula = element('span', { className: 'formula quiet' });
      this.root.append(this.select, this.number);
      return;
    }
    if (f.type === 'integer') {
      // A gate or a count: a number, written as typed, since a gate is on
      // only at exactly 1 and any other number is worth trying.
      this.number = element('input', { type: 'text', inputmode: 'numeric', size: '5', id: this.id });
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
    this.buildTexture();
    this.source.addEventListener('change', () => this.showSource());
    this.root.append(this.source, this.valueBox, this.patternBox, this.textureBox);
    if (f.type === 'scalar') {
      this.step = (f.max - f.min) / 200;
      this.slider = element('input', { type: 'range', min: String(f.min), max: String(f.max),
                                       step: 'any', 'aria-label': `${this.key} slider` });
      this.text = element('input', { type: 'text', inputmode: 'decimal', size: '7', id: this.id });
      this.slider.addEventListener('input', () => { this.text.value = this.sliderText(); });
      this.slider.addEventListener('keydown', (e) => this.stepKey(e));
      this.text.addEventListener('input', () => this.follow());
      this.valueBox.append(this.slider, this.text);
    } else if (f.type === 'color') {
      this.picker = element('input', { type: 'color', 'aria-label': `${this.key} colour` });
      this.alpha = element('input', { type: 'range', min: '0', max: '1', step: '0.01',
                                      'aria-label': `${this.key} alpha`, title: 'alpha' });
      this.text = element('input', { type: 'text', size: '16', id: this.id,
                                     title: 'red green blue alpha' });
      this.picker.addEventListener('input', () => this.fromPicker());
      this.alpha.addEventListener('input', () => this.fromPicker());
      this.text.addEventListener('input', () => this.follow());
      this.valueBox.append(this.picker, element('span', { className: 'quiet', text: 'α', 'aria-hidden': 'true' }),
                           this.alpha, this.text);
    } else {
      this.parts = [0, 1, 2].map((i) => element('input', { type: 'text', inputmode: 'decimal', size: '5',
                                                          id: i === 0 ? this.id : idOf(this.key, 'xyz'[i]),
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

  // An image of the textures folder in place of a value: texture() for a
  // colour or a float, normalmap() for a vector, as a preset writes them.
  buildTexture() {
    this.call = this.field.type === 'vector' ? 'normalmap' : 'texture';
    if (textures.length > 0) {
      this.source.append(element('option', { value: this.call, text: this.call }));
    }
    const options = (values) => values.map((v) => element('option', { value: v, text: v }));
    this.image = element('select', { 'aria-label': `${this.key} image` }, options(textures));
    this.wrap = element('select', { 'aria-label': `${this.key} wrap` }, options(textureWraps));
    // texture(): how 8-bit values are taken; normalmap(): where green points.
    this.decode = element('select', { 'aria-label': `${this.key} ${this.call === 'texture' ? 'colour space' : 'y'}` },
                          options(this.call === 'texture' ? ['linear', 'srgb'] : ['y up', 'y down']));
    this.textureBox = element('span', { className: 'texture', hidden: '' }, [this.image, this.wrap, this.decode]);
  }

  // A menu shows a value it does not list (an opened preset's image that the
  // folder does not hold, say) as one more choice, so that it is kept.
  static choose(select, value) {
    if (![...select.options].some((o) => o.value === value)) {
      select.append(element('option', { value, text: value }));
    }
    select.value = value;
  }

  setTexture(t) {
    Control.choose(this.source, t.kind);
    Control.choose(this.image, t.path);
    Control.choose(this.wrap, t.wrap);
    Control.choose(this.decode, t.kind === 'normalmap' ? `y ${t.y}` : t.colorspace);
  }

  // The texture call, or null when the parameter holds no image.
  textureCall() {
    if (this.source.value !== this.call) {
      return null;
    }
    const path = this.image.value.replace(/[\\"]/g, (c) => `\\${c}`);
    return `${this.call}("${path}", ${this.wrap.value}, ${this.decode.value})`;
  }

  // The slider's value as the text shows it: on the step grid, and exactly
  // the neutral value when it is within half a step of it.
  sliderText() {
    const f = this.field;
    const v = Number(this.slider.value);
    if (Math.abs(v - f.neutral[0]) <= this.step / 2) {
      this.slider.value = String(f.neutral[0]);
      return String(f.neutral[0]);
    }
    return numberText(f.min + Math.round((v - f.min) / this.step) * this.step);
  }

  // The arrow keys move a slider by one step of its grid.
  stepKey(e) {
    const by = { ArrowRight: 1, ArrowUp: 1, ArrowLeft: -1, ArrowDown: -1, PageUp: 10, PageDown: -10 }[e.key];
    if (by === undefined) {
      return;
    }
    e.preventDefault();
    const f = this.field;
    const v = Math.min(f.max, Math.max(f.min, Number(this.slider.value) + by * this.step));
    this.slider.value = String(v);
    this.text.value = this.sliderText();
    this.slider.dispatchEvent(new Event('input', { bubbles: true }));
  }

  // Every input of the control, for undo.
  inputs() {
    return [...this.root.querySelectorAll('input, select')];
  }

  state() {
    return this.inputs().map((i) => (i.type === 'checkbox' ? i.checked : i.value));
  }

  restore(state) {
    this.inputs().forEach((input, i) => {
      if (input.type === 'checkbox') {
        input.checked = state[i];
      } else {
        input.value = state[i];
      }
    });
    if (this.select) {
      this.number.hidden = this.select.value !== 'other';
    }
    if (this.source) {
      this.showSource();
    }
  }

  showFormula() {
    const m = modes.find((x) => String(x.number) === this.select.value);
    this.select.title = m ? `${m.name}: ${m.formula}` : 'any other number returns the base colour';
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
    const image = this.source.value === this.call;
    this.valueBox.hidden = p !== undefined || image;
    this.patternBox.hidden = p === undefined;
    this.textureBox.hidden = !image;
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
      this.showFormula();
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

  // An assignment of /api/parse: an integer, a value, a pattern or a texture.
  set(a) {
    if (a.integer !== undefined) {
      this.setInteger(a.integer);
    } else if (a.texture !== undefined) {
      this.setTexture(a.texture);
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
    return this.pattern() || this.textureCall() || this.plainValue();
  }

  plainValue() {
    return this.parts ? this.parts.map((p) => p.value.trim()).join(' ') : this.text.value.trim();
  }

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

  neutralLine() {
    const f = this.field;
    return f.kind === 'toggle' ? (f.neutral[0] !== 0 ? 'on' : 'off')
      : f.type === 'integer' ? String(f.neutral[0]) : neutralText(f);
  }

  // The preset's line for this parameter, or null while it keeps its
  // neutral value, so that a preset names only what it changes.
  line() {
    const text = this.valueText();
    return text === this.neutralLine() ? null : `${this.key} = ${text}`;
  }

  showMessage(text) {
    this.message.textContent = text;
    this.root.classList.toggle('bad', text !== '');
    const main = this.root.querySelector(`#${CSS.escape(this.id)}`);
    if (main) {
      if (text) {
        main.setAttribute('aria-describedby', this.message.id);
      } else {
        main.removeAttribute('aria-describedby');
      }
    }
  }
}

const controls = [];
const byKey = new Map();

function label(field, text, forId) {
  return element('label', { className: 'name', for: forId,
                            title: `${field.description}. Zero: ${field.zeroMeans}.`, text });
}

// The controls as the record lays its parameters out, a layer array's slots
// one after another: the order of the declaration, and of a preset.
function inRecordOrder() {
  return [...controls].sort((a, b) => a.field.index - b.field.index || a.slot - b.slot);
}

function addControl(field, slot) {
  const c = new Control(field, slot);
  controls.push(c);
  byKey.set(c.key, c);
  return c;
}

function row(c, text) {
  return element('div', { className: 'row' }, [label(c.field, text, c.id), c.root]);
}

// The group of each stage, folded while the switch that runs the stage is
// off; the switch sits in the group's heading, so that it can be reached
// while the group is folded.
const groups = [];

function buildControls(list) {
  list.forEach((f, i) => { f.index = i; });
  const switchField = (stage) => {
    const route = routes.find((r) => r.name === STAGE_SWITCH[stage]);
    return route ? list.find((f) => f.name === route.field) : undefined;
  };
  const switches = new Set(stages.map((s) => switchField(s.name)).filter(Boolean));
  for (const group of stages) {
    const details = element('details', { className: 'group', 'data-stage': group.name, open: '' });
    const summary = element('summary', {}, [element('h2', { text: group.title })]);
    details.append(summary);
    const sw = switchField(group.name);
    if (sw) {
      const c = addControl(sw, null);
      summary.append(element('span', { className: 'switch' }, [label(sw, sw.name, c.id), c.root]));
      groups.push({ details, box: c.box });
    }
    const fields = list.filter((f) => f.stage === group.name && !switches.has(f));
    for (const f of fields.filter((x) => x.slots === 1)) {
      details.append(row(addControl(f, null), f.name));
    }
    const arrays = fields.filter((f) => f.slots > 1);
    if (arrays.length > 0) {
      const slots = element('div', { className: 'slots' });
      for (let slot = 0; slot < arrays[0].slots; ++slot) {
        const box = element('div', { className: 'slot', 'data-slot': String(slot) },
                            [element('div', { className: 'slot-title', text: `slot ${slot}` })]);
        for (const f of arrays) {
          const c = addControl(f, slot);
          box.append(row(c, f.name));
        }
        slots.append(box);
      }
      const toggle = element('button', { type: 'button', className: 'past-toggle', 'aria-expanded': 'false' });
      toggle.addEventListener('click', () => {
        toggle.setAttribute('aria-expanded', toggle.getAttribute('aria-expanded') === 'true' ? 'false' : 'true');
        showSlots();
      });
      details.append(slots, toggle);
    }
    $('controls').append(details);
  }
  for (const c of controls) {
    c.reset();
  }
}

// The layer slots the normal stage visits are open; those past layerCount
// fold behind one button.
function showSlots() {
  const count = byKey.get('layerCount');
  const n = count ? Number(count.number.value) : 8;
  const visited = Number.isInteger(n) ? Math.max(0, Math.min(8, n)) : 8;
  for (const toggle of document.querySelectorAll('.past-toggle')) {
    const open = toggle.getAttribute('aria-expanded') === 'true';
    const boxes = [...toggle.previousElementSibling.children];
    const past = boxes.length - visited;
    boxes.forEach((box, slot) => {
      box.classList.toggle('past', slot >= visited);
      box.hidden = slot >= visited && !open;
    });
    toggle.hidden = past === 0;
    toggle.textContent = open ? `Fold the slots past layerCount (${past})`
      : `Show the slots past layerCount (${past})`;
  }
}

// Each stage's group follows its switch when the switch changes.
function foldGroups(all = false) {
  for (const g of groups) {
    if (all || g.box.checked !== g.was) {
      g.details.open = g.box.checked;
    }
    g.was = g.box.checked;
  }
}

// The preset the controls make, in the record's order, and which
// control wrote each line, so that a message about a line is shown beside
// its control.
function presetText(change = null) {
  const lines = ['# strataMix preset, from stratamix serve'];
  const owners = [null];
  for (const c of inRecordOrder()) {
    const line = change && change[c.key] !== undefined ? `${c.key} = ${change[c.key]}` : c.line();
    if (line !== null) {
      lines.push(line);
      owners.push(c);
    }
  }
  return { text: `${lines.join('\n')}\n`, owners };
}

// ---- render options, and the choices over the server's limits

function sizeAsked() {
  const text = $('size').value.trim();
  const n = Number(text);
  return /^\d+$/.test(text) && n >= 8 && n <= limits.size ? n : null;
}

// Samples per pixel over the limit of shader calls at this size cannot be
// chosen; the size field says what it takes.
function checkOptions() {
  const size = sizeAsked();
  let message = '';
  if (size === null) {
    message = `Size: a whole number of pixels from 8 to ${limits.size}`;
  }
  for (const option of $('aa').options) {
    const aa = Number(option.value);
    const over = size !== null && size * size * aa * aa > limits.calls;
    option.disabled = over;
    option.textContent = `${aa}×${aa}${over ? ' (too many at this size)' : ''}`;
  }
  if (size !== null && $('aa').selectedOptions[0]?.disabled) {
    message = `Samples: ${$('aa').value}×${$('aa').value} at ${size} pixels is over the limit of `
      + `${limits.calls.toLocaleString('en')} shader calls`;
  }
  $('options-message').textContent = message;
  return message === '';
}

function renderQuery(quick, extra = {}) {
  const size = sizeAsked();
  return new URLSearchParams({
    shape: $('shape').value, size: String(quick ? Math.min(size, MOVING_SIZE) : size),
    aa: quick ? '1' : $('aa').value, ray: $('ray').value, format: 'f32', token: TOKEN, ...extra,
  });
}

// ---- messages: beside the control, in the page's words, once

function clearMessages() {
  for (const c of controls) {
    c.showMessage('');
  }
  $('status').textContent = '';
}

function showError(error, owners) {
  clearMessages();
  const owner = error.line ? owners[error.line - 1] : null;
  if (owner) {
    // "line 7: 'abc' is not a number" is the preset's; the page names the
    // control instead.
    owner.showMessage(`${owner.key}: ${error.error.replace(/^line \d+: /, '')}`);
    owner.root.closest('details')?.setAttribute('open', '');
    owner.root.scrollIntoView({ block: 'nearest' });
  } else {
    $('status').textContent = error.error;
  }
  document.body.dataset.state = 'error';
}

// ---- the frame: its floats, drawn

// A frame of /api/render?format=f32 (serve/api.h): its size, flags and
// planes, read in place.
function readFrame(buffer) {
  const head = new DataView(buffer, 0, 16);
  const magic = String.fromCharCode(...new Uint8Array(buffer, 0, 4));
  const w = head.getUint32(4, true);
  const h = head.getUint32(8, true);
  const flags = head.getUint32(12, true);
  const n = w * h;
  const normalStage = (flags & 1) !== 0;
  if (magic !== 'SMF1' || buffer.byteLength !== 16 + n * (normalStage ? 36 : 24)) {
    throw new Error('the server sent a picture this page cannot read');
  }
  // The floats are little-endian, as every machine a browser runs on is;
  // copied, so that the planes can be kept for a pin.
  const all = new Float32Array(buffer.slice(16));
  return { w, h, normalStage, kind: (flags >> 8) & 0xff, result: all.subarray(0, 4 * n),
           coverage: all.subarray(4 * n, 5 * n), light: all.subarray(5 * n, 6 * n),
           normal: normalStage ? all.subarray(6 * n, 9 * n) : null };
}

const BACKGROUND = 0.14;
let frame = null;      // the frame shown now
let pinned = null;     // the frame pinned to compare with
let generation = 0;

// One channel as shown: a normal mapped from -1..1, scaled by the exposure
// (and the light), clamped, over the ground by its alpha and its coverage.
function shade(v, normal, gain, alpha, cover, ground) {
  const clamped = Math.min(1, Math.max(0, (normal ? 0.5 * v + 0.5 : v) * gain));
  return cover * (alpha * clamped + (1 - alpha) * ground) + (1 - cover) * ground;
}

// Draws the frame into the canvas's pixels under the display options, the
// pinned frame left of the wipe; returns how many pixels of the frame now
// are NaN or infinite. One loop without allocations: it runs for every
// picture while a slider moves.
function paint(px, f, pin, wipeAt, view) {
  const pick = { r: 0, g: 1, b: 2, a: 3 }[view.channel];
  const normal = f.kind !== 0 && view.channel !== 'a';
  const overChecker = view.checker && view.channel === 'rgb' && f.kind === 0;
  let bad = 0;
  for (let y = 0, p = 0; y < f.h; ++y) {
    for (let x = 0; x < f.w; ++x, ++p) {
      const from = x < wipeAt ? pin : f;
      const cover = from.coverage[p];
      const ground = view.checker ? (((x >> 3) + (y >> 3)) & 1 ? 0.42 : 0.28) : BACKGROUND;
      const q = 4 * p;
      const r = from.result;
      let c0 = pick === undefined ? r[q] : r[q + pick];
      let c1 = pick === undefined ? r[q + 1] : c0;
      let c2 = pick === undefined ? r[q + 2] : c0;
      const alpha = r[q + 3];
      if (cover === 0) {
        c0 = c1 = c2 = ground;
      } else if (!(Number.isFinite(c0) && Number.isFinite(c1) && Number.isFinite(c2))
                 || (overChecker && !Number.isFinite(alpha))) {
        // Magenta, as the preview shows them.
        c0 = 1; c1 = 0; c2 = 1;
        bad += from === f ? 1 : 0;
      } else {
        const gain = view.gain * (view.lit ? from.light[p] : 1);
        const a = overChecker ? Math.min(1, Math.max(0, alpha)) : 1;
        c0 = shade(c0, normal, gain, a, cover, ground);
        c1 = shade(c1, normal, gain, a, cover, ground);
        c2 = shade(c2, normal, gain, a, cover, ground);
      }
      px[q] = Math.round(c0 * 255);
      px[q + 1] = Math.round(c1 * 255);
      px[q + 2] = Math.round(c2 * 255);
      px[q + 3] = 255;
    }
  }
  return bad;
}

function displayOptions() {
  return { channel: $('channel').value, gain: 2 ** Number($('exposure').value), checker: $('checker').checked,
           lit: $('lit').checked };
}

// Draws the frame (the pinned one left of the wipe), counting the pixels
// that are NaN or infinite.
function draw() {
  if (!frame) {
    return;
  }
  const canvas = $('picture');
  const f = frame;
  canvas.width = f.w;
  canvas.height = f.h;
  const g = canvas.getContext('2d');
  const image = g.createImageData(f.w, f.h);
  const px = image.data;
  const wipeAt = pinned && pinned.w === f.w && pinned.h === f.h ? Math.round(f.w * Number($('wipe').value) / 100) : 0;
  const bad = paint(px, f, pinned, wipeAt, displayOptions());
  if (wipeAt > 0) {
    for (let y = 0; y < f.h; ++y) {
      px.set([227, 155, 58], 4 * (y * f.w + Math.min(wipeAt, f.w - 1)));
    }
  }
  g.putImageData(image, 0, 0);
  drawNormalPanel(f);
  canvas.dataset.nan = String(bad);
  $('nan-legend').hidden = bad === 0;
  $('nan-text').textContent = `magenta: ${bad.toLocaleString('en')} pixel${bad === 1 ? '' : 's'} `
    + 'NaN or infinite (not a number the screen can show)';
  $('result-caption').textContent = ['(outColor)', '(outNormal, mapped from -1..1)',
                                     '(the combined normal as a colour)'][f.kind] || '';
}

// The combined normal under the preview's light, as the server worked it
// out, beside the result where the normal stage ran.
function drawNormalPanel(f) {
  $('normal-panel').hidden = !f.normalStage;
  if (!f.normalStage) {
    return;
  }
  const canvas = $('normal-picture');
  canvas.width = f.w;
  canvas.height = f.h;
  const g = canvas.getContext('2d');
  const image = g.createImageData(f.w, f.h);
  const px = image.data;
  for (let p = 0; p < f.w * f.h; ++p) {
    const cover = f.coverage[p];
    const l = f.light[p];
    const grey = Math.round((cover * Math.min(1, Math.max(0, l)) + (1 - cover) * BACKGROUND) * 255);
    const finite = Number.isFinite(l);
    px[4 * p] = finite ? grey : 255;
    px[4 * p + 1] = finite ? grey : 0;
    px[4 * p + 2] = finite ? grey : 255;
    px[4 * p + 3] = 255;
  }
  g.putImageData(image, 0, 0);
}

// ---- the pixel readout

let pointed = null;  // [x, y] in the frame's pixels

function readout() {
  const out = $('readout');
  if (!frame || !pointed) {
    return;
  }
  const f = frame;
  const [x, y] = pointed;
  const p = y * f.w + x;
  const rgba = [...f.result.subarray(4 * p, 4 * p + 4)];
  const normal = f.normal ? [...f.normal.subarray(3 * p, 3 * p + 3)] : null;
  out.dataset.x = String(x);
  out.dataset.y = String(y);
  out.dataset.bits = rgba.map(floatBits).join(' ');
  out.dataset.normalBits = normal ? normal.map(floatBits).join(' ') : '';
  if (f.coverage[p] === 0) {
    out.textContent = `pixel ${x}, ${y}: off the surface`;
    return;
  }
  const then = pinned && pinned.w === f.w && pinned.h === f.h && pinned.coverage[p] > 0
    ? `\npinned  ${[...pinned.result.subarray(4 * p, 4 * p + 4)].map(floatText).join('  ')}` : '';
  out.textContent = `pixel ${x}, ${y}  ${f.kind === 0 ? 'colour' : 'result'}  ${rgba.map(floatText).join('  ')}\n`
    + `${normal ? `combined normal  ${normal.map(floatText).join('  ')}` : 'the normal stage did not run'}`
    + `${f.coverage[p] < 1 ? `  (${floatText(f.coverage[p])} of the pixel on the surface)` : ''}${then}`;
}

function pointAt(event) {
  if (!frame) {
    return;
  }
  const box = $('picture').getBoundingClientRect();
  // With a picture pinned, dragging on the picture moves the wipe.
  if (pinned && event.buttons === 1) {
    $('wipe').value = String(Math.round(Math.min(1, Math.max(0, (event.clientX - box.left) / box.width)) * 100));
    draw();
  }
  const x = Math.floor((event.clientX - box.left) / box.width * frame.w);
  const y = Math.floor((event.clientY - box.top) / box.height * frame.h);
  if (x >= 0 && y >= 0 && x < frame.w && y < frame.h) {
    pointed = [x, y];
    readout();
  }
}

function readoutKey(event) {
  const by = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] }[event.key];
  if (!frame || !by) {
    return;
  }
  event.preventDefault();
  const [x, y] = pointed || [frame.w >> 1, frame.h >> 1];
  pointed = [Math.min(frame.w - 1, Math.max(0, x + by[0])), Math.min(frame.h - 1, Math.max(0, y + by[1]))];
  readout();
}

// ---- rendering: one picture at a time while a slider moves, the full
// picture at rest, the newest request always the one that counts

let inFlight = null;   // { abort, quick }
let dirty = false;
let moving = false;
let restTimer = null;
let typingTimer = null;

// A control changed: `drag` while a slider moves, `type` while a text is
// typed, `commit` for a choice made.
function changed(kind) {
  checkOptions();
  foldGroups();
  showSlots();
  dirty = true;
  clearTimeout(typingTimer);
  if (kind === 'type') {
    typingTimer = setTimeout(() => { remember(); pump(); }, TYPING_MS);
    return;
  }
  if (kind === 'drag') {
    moving = true;
    clearTimeout(restTimer);
    restTimer = setTimeout(() => {
      moving = false;
      dirty = true;
      remember();
      pump();
    }, REST_MS);
  } else {
    moving = false;
    clearTimeout(restTimer);
    remember();
  }
  pump();
}

function pump() {
  if (!dirty || !checkOptions()) {
    return;
  }
  if (inFlight) {
    // While moving, the picture on its way is let finish; at rest, the new
    // settings replace it at once.
    if (moving) {
      return;
    }
    inFlight.abort.abort();
  }
  dirty = false;
  render(moving);
}

async function render(quick) {
  const id = ++generation;
  const abort = new AbortController();
  const mine = { abort, quick };
  inFlight = mine;
  const { text, owners } = presetText();
  document.body.dataset.state = quick ? 'moving' : 'rendering';
  let response;
  let body;
  try {
    response = await fetch(`/api/render?${renderQuery(quick)}`, {
      method: 'POST', body: text, headers: { 'Content-Type': 'text/plain' }, signal: abort.signal,
    });
    body = response.ok ? await response.arrayBuffer() : await response.json();
  } catch (e) {
    if (inFlight === mine) {
      inFlight = null;
      if (e.name !== 'AbortError') {
        showError({ error: `the server did not answer: ${e.message}` }, owners);
      }
    }
    return;
  }
  if (inFlight !== mine) {
    return;
  }
  inFlight = null;
  if (response.status === 409) {
    return;
  }
  if (!response.ok) {
    showError(body, owners);
    if (response.status === 503) {
      // Busy: the same settings again once the server says to.
      setTimeout(() => { dirty = true; pump(); }, 1000 * Number(response.headers.get('Retry-After') || 1));
    }
    pump();
    return;
  }
  clearMessages();
  frame = readFrame(body);
  draw();
  readout();
  if (!$('block-section').hidden) {
    showBlock();
  }
  const seconds = Number(response.headers.get('X-Render-Seconds'));
  const samples = Number(response.headers.get('X-Samples'));
  $('figures').textContent = `${frame.w}×${frame.h}${quick ? ' while moving' : ''}, `
    + `${(seconds * 1000).toFixed(1)} ms, ${samples.toLocaleString('en')} samples, `
    + `${(samples / seconds / 1e6).toFixed(1)} M samples/s`;
  const canvas = $('picture');
  canvas.dataset.generation = String(id);
  canvas.dataset.quick = String(quick);
  if (dirty) {
    pump();
  } else if (!quick && !moving) {
    document.body.dataset.state = 'idle';
  }
  refreshModes();
}

// ---- undo and redo of the settings

let history = [];
let place = -1;

function snapshot() {
  return { controls: controls.map((c) => c.state()),
           options: ['shape', 'size', 'aa', 'ray'].map((id) => $(id).value) };
}

// Keeps the settings as one step of the history, unless they are the step
// already there.
function remember() {
  const now = snapshot();
  if (place >= 0 && JSON.stringify(history[place]) === JSON.stringify(now)) {
    return;
  }
  history = history.slice(0, place + 1);
  history.push(now);
  place = history.length - 1;
  showHistory();
}

function showHistory() {
  $('undo').disabled = place <= 0;
  $('redo').disabled = place >= history.length - 1;
}

function goTo(step) {
  if (step < 0 || step >= history.length) {
    return;
  }
  place = step;
  const s = history[place];
  controls.forEach((c, i) => c.restore(s.controls[i]));
  ['shape', 'size', 'aa', 'ray'].forEach((id, i) => { $(id).value = s.options[i]; });
  showHistory();
  foldGroups();
  showSlots();
  dirty = true;
  moving = false;
  pump();
}

// ---- pin and wipe

function pin() {
  if (pinned) {
    pinned = null;
    $('pin').textContent = 'Pin picture';
  } else if (frame) {
    pinned = frame;
    $('pin').textContent = 'Unpin';
  }
  $('wipe').hidden = !pinned;
  $('wipe-label').hidden = !pinned;
  draw();
}

// ---- every mode at once

let modeCells = [];
let modesTimer = null;

function buildModeGrid() {
  const grid = $('mode-grid');
  modeCells = modes.map((m) => {
    const img = element('img', { alt: '' });
    const button = element('button', { type: 'button', title: `${m.name}: ${m.formula}`, 'data-mode': String(m.number),
                                       'aria-pressed': 'false' },
                           [img, element('span', { text: `${m.number} ${m.name}` })]);
    button.addEventListener('click', () => {
      byKey.get('blendMode').setInteger(m.number);
      byKey.get('blendEnable').box.checked = true;
      changed('commit');
    });
    grid.append(button);
    return { m, img, button, url: null };
  });
  $('modes-section').addEventListener('toggle', () => refreshModes());
}

// The grid's pictures for the settings now, a few at a time, once the
// settings rest; each cell has a token of its own, so that a newer grid
// cancels the older one's renders on the server.
function refreshModes() {
  const mode = byKey.get('blendMode');
  for (const cell of modeCells) {
    cell.button.setAttribute('aria-pressed', String(mode.select.value === String(cell.m.number)));
  }
  clearTimeout(modesTimer);
  if (!$('modes-section').open || moving) {
    return;
  }
  modesTimer = setTimeout(async () => {
    const round = ++modesRound;
    const queue = [...modeCells];
    const one = async () => {
      for (let cell = queue.shift(); cell && round === modesRound; cell = queue.shift()) {
        const { text } = presetText({ blendEnable: 'on', blendMode: String(cell.m.number) });
        const query = new URLSearchParams({ shape: $('shape').value, size: '64', aa: '1', ray: $('ray').value,
                                            token: `${TOKEN}-mode${cell.m.number}` });
        try {
          const response = await fetch(`/api/render?${query}`, { method: 'POST', body: text });
          if (response.ok && round === modesRound) {
            const old = cell.url;
            cell.url = URL.createObjectURL(await response.blob());
            cell.img.src = cell.url;
            if (old) URL.revokeObjectURL(old);
          }
        } catch (e) {
          return;
        }
      }
    };
    await Promise.all([one(), one()]);
    if (round === modesRound) {
      $('mode-grid').dataset.round = String(round);
    }
  }, 150);
}
let modesRound = 0;

// ---- files and the shader block

// The name of the preset opened last, kept for Download.
let fileName = 'look.preset';

function download() {
  const blob = new Blob([presetText().text], { type: 'text/plain' });
  const a = element('a', { href: URL.createObjectURL(blob), download: fileName });
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
  fileName = file.name;
  $('block-name').value = file.name.replace(/\.preset$/, '') || 'look';
  changed('commit');
  foldGroups(true);
  $('status').textContent = `opened ${file.name}`;
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
  changed('commit');
  foldGroups(true);
  $('status').textContent = `opened ${body.instance} (${body.place})`;
}

// ---- the page's events

function listen() {
  // A slider or colour picker moving, a text being typed; a choice made,
  // a slider let go or a text left.
  for (const box of [$('controls'), $('render-options')]) {
    box.addEventListener('input', (e) => {
      if (e.target.closest('#scenes')) {
        return;
      }
      const kind = { range: 'drag', color: 'drag', text: 'type' }[e.target.type];
      if (kind) {
        changed(kind);
      }
    });
    box.addEventListener('change', (e) => {
      if (!e.target.closest('#scenes') && (e.target.type !== 'text' || dirty)) {
        changed('commit');
      }
    });
  }
  $('render-options').addEventListener('submit', (e) => e.preventDefault());
  $('display-options').addEventListener('submit', (e) => e.preventDefault());
  $('display-options').addEventListener('input', () => {
    $('exposure-value').textContent = `${$('exposure').value} stops`;
    draw();
  });
  $('display-options').addEventListener('change', () => draw());
  $('picture').addEventListener('pointermove', pointAt);
  $('picture').addEventListener('pointerdown', pointAt);
  $('picture').addEventListener('keydown', readoutKey);
  $('wipe').addEventListener('input', () => draw());
  $('pin').addEventListener('click', pin);
  $('download').addEventListener('click', download);
  $('open-button').addEventListener('click', () => $('open').click());
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
    fileName = 'look.preset';
    changed('commit');
  });
  $('undo').addEventListener('click', () => goTo(place - 1));
  $('redo').addEventListener('click', () => goTo(place + 1));
  document.addEventListener('keydown', (e) => {
    if (!(e.ctrlKey || e.metaKey) || e.altKey) {
      return;
    }
    const key = e.key.toLowerCase();
    if (key === 'z' || key === 'y') {
      e.preventDefault();
      goTo(place + (key === 'y' || e.shiftKey ? 1 : -1));
    }
  });
}

async function start() {
  const response = await fetch('/api/fields');
  const info = await response.json();
  modes = info.modes;
  stages = info.stages;
  patterns = info.patterns;
  routes = info.routes;
  limits = info.limits;
  slotNames = info.record.slotNames;
  textures = info.textures || [];
  textureWraps = info.textureWraps || [];
  for (const s of info.shapes) {
    $('shape').append(element('option', { value: s.name, text: s.name, title: s.description }));
  }
  for (let n = 1; n <= info.limits.aa; ++n) {
    $('aa').append(element('option', { value: String(n), text: `${n}×${n}` }));
  }
  $('aa').value = '2';
  for (const r of info.rays) {
    $('ray').append(element('option', { value: r.name, text: `${r.name} (${r.code})`, title: r.description }));
  }
  buildControls(info.fields);
  buildModeGrid();
  listen();
  foldGroups(true);
  showSlots();
  listScenes();
  changed('commit');
}

start();
