// The page of texhost serve: a control per widget of the chosen plug-in, a
// preview that follows every change, and a URL that holds the whole state.
'use strict';

const $ = (id) => document.getElementById(id);

let plugins = [];          // from /api/plugins
let limits = {};
let plugin = null;         // the chosen entry of plugins
const state = {
  plugin: '', stype: '', shape: 'plane', view: 'intensity', size: 512,
  extent: 4, center: [0, 0, 0], footprint: false,
  values: {},              // widget key -> value text
};
// Tells the server which requests come from this page, so that a newer one
// cancels the render of an older one.
const session = Array.from(crypto.getRandomValues(new Uint8Array(8)),
  (b) => b.toString(16).padStart(2, '0')).join('');

// --- numbers ---

// Short text for a number: what the URL, the command line and the boxes show.
function short(v) { return String(+(+v).toPrecision(7)); }

// A slider's value rounded to a step that suits the widget's range.
function sliderValue(w, raw) {
  const min = +w.min, max = +w.max;
  if (w.kind !== 'float') return String(Math.round(raw));
  const q = Math.pow(10, Math.floor(Math.log10((max - min) / 1000 || 1)));
  let v = Math.round(raw / q) * q;
  v = Math.min(max, Math.max(min, v));
  return short(v.toFixed(Math.max(0, -Math.log10(q))));
}

// --- state and URL ---

function widgets() { return plugin ? plugin.widgets.filter((w) => w.kind !== 'label') : []; }

function defaults() {
  const v = {};
  for (const w of widgets()) v[w.key] = w.default;
  return v;
}

function isDefault(w) { return parseFloat(state.values[w.key]) === parseFloat(w.default); }

function hasView(shape, view) { return shape === 'plane' || view === 'shaded'; }

// The request for the preview: the view, and every parameter that differs
// from its default.
function query(extra) {
  const q = new URLSearchParams();
  q.set('plugin', state.plugin);
  if (plugin.subtypes.length) q.set('stype', state.stype);
  q.set('shape', state.shape);
  q.set('view', state.view);
  q.set('size', String(state.size));
  q.set('extent', short(state.extent));
  q.set('center', state.center.map(short).join(','));
  if (state.footprint) q.set('footprint', '1');
  for (const w of widgets()) if (!isDefault(w)) q.set('p.' + w.key, state.values[w.key]);
  for (const [k, v] of Object.entries(extra || {})) q.set(k, v);
  return q;
}

function writeUrl() {
  const h = '#' + query().toString();
  if (location.hash !== h) history.replaceState(null, '', h);
}

// Reads the state from the URL's fragment; false when it names no known plug-in.
function readUrl() {
  const q = new URLSearchParams(location.hash.slice(1));
  const entry = plugins.find((p) => p.id === q.get('plugin'));
  if (!entry) return false;
  choosePlugin(entry);
  if (q.has('stype')) state.stype = q.get('stype');
  if (q.has('shape')) state.shape = q.get('shape');
  if (q.has('view')) state.view = q.get('view');
  if (q.has('size')) state.size = +q.get('size') || 512;
  if (q.has('extent')) state.extent = +q.get('extent') || 4;
  if (q.has('center')) {
    const c = q.get('center').split(',').map(Number);
    if (c.length === 3 && c.every(Number.isFinite)) state.center = c;
  }
  state.footprint = q.get('footprint') === '1';
  for (const [k, v] of q) if (k.startsWith('p.') && k.slice(2) in state.values) state.values[k.slice(2)] = v;
  return true;
}

// --- the command line that writes the same image ---

function quote(s) { return /^[\w.,=\/+-]+$/.test(s) ? s : "'" + s.replace(/'/g, "'\\''") + "'"; }

function commandArgs(output) {
  const a = ['render', state.plugin, '--size', String(state.size), '--extent', short(state.extent),
    '--center', state.center.map(short).join(',')];
  if (plugin.subtypes.length) a.push('--stype', state.stype);
  if (state.shape !== 'plane') a.push('--shape', state.shape);
  else if (state.view === 'shaded') a.push('--shape', 'terrain', '--relief', '0');
  if (state.footprint) a.push('--footprint');
  for (const w of widgets()) if (!isDefault(w)) a.push('--set', w.key + '=' + state.values[w.key]);
  if (state.view === 'normal') a.push('-o', 'intensity.png', '--normal-map', output);
  else a.push('-o', output);
  return a;
}

function showCommand() {
  const args = commandArgs('preview.png');
  const el = $('command');
  el.textContent = 'texhost ' + args.map(quote).join(' ');
  el.dataset.args = JSON.stringify(args);
}

// --- the preview ---

let sent = 0;              // number of the newest request
let shown = 0;             // number of the request whose image is on screen
let inflight = null;       // {n, started, controller}
let pending = false;       // a change came while a request was in flight
let timer = 0;             // a change waiting for its debounce; 0 when none

function changed() {
  writeUrl();
  showCommand();
  clearTimeout(timer);
  timer = setTimeout(request, 15);
}

// Sends the newest state. A request that is still young is left to finish
// and the newest state follows it at once; an older one is abandoned, and
// the server stops its render.
function request() {
  timer = 0;
  if (inflight && performance.now() - inflight.started < 120) {
    pending = true;
    return;
  }
  if (inflight) inflight.controller.abort();
  pending = false;
  const n = ++sent;
  const controller = new AbortController();
  const url = '/api/render?' + query({ session }).toString();
  const started = performance.now();
  inflight = { n, started, controller };
  fetch(url, { signal: controller.signal })
    .then(async (r) => {
      if (r.status === 409) return;                 // superseded
      if (!r.ok) throw new Error(await r.text());
      const blob = await r.blob();
      if (n < shown) return;                        // a newer image is on screen
      show(n, blob, r.headers, performance.now() - started);
    })
    .catch((e) => { if (e.name !== 'AbortError' && n === sent) message(e.message); })
    .finally(() => {
      if (inflight && inflight.n === n) inflight = null;
      if (pending && !inflight) request();
    });
}

function show(n, blob, headers, ms) {
  shown = n;
  const img = $('preview');
  const old = img.src;
  img.src = URL.createObjectURL(blob);
  img.dataset.request = String(n);
  img.dataset.args = $('command').dataset.args;
  if (old.startsWith('blob:')) URL.revokeObjectURL(old);
  const seconds = +headers.get('X-Render-Seconds');
  const samples = +headers.get('X-Render-Samples');
  const size = (headers.get('X-Image-Size') || '').replace('x', ' × ');
  const rate = seconds > 0 ? (samples / seconds / 1e6).toFixed(1) + ' M samples/s' : '';
  $('stats').textContent = `render ${(seconds * 1000).toFixed(1)} ms (request ${ms.toFixed(0)} ms) · ` +
    `${rate} · ${size} · ${headers.get('X-Render-Threads')} threads`;
  if (n === sent) message('');
}

function message(text) { $('message').textContent = text.trim(); }

// --- controls ---

function option(select, value, text, disabled) {
  const o = document.createElement('option');
  o.value = value;
  o.textContent = text;
  o.disabled = !!disabled;
  select.appendChild(o);
}

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

function mark(e, w) {
  e.dataset.label = w.label;
  e.dataset.key = w.key;
  e.dataset.index = String(w.index);
  if (w.tip) e.title = w.tip;
  return e;
}

// One row per widget, as the host builds them from the widget table.
function buildControls() {
  const box = $('controls');
  box.textContent = '';
  for (const w of plugin.widgets) {
    if (w.kind === 'label') {
      box.appendChild(mark(el('div', 'caption', w.label.trim()), w));
      continue;
    }
    const row = el('div', 'widget ' + w.kind);
    if (w.tip) row.title = w.tip;
    const name = el('span', 'name', w.label.trim() ? w.label : w.key);
    if (w.tip) name.title = w.tip;
    row.appendChild(name);
    if (w.kind === 'toggle') {
      const c = mark(el('input'), w);
      c.type = 'checkbox';
      c.addEventListener('change', () => setValue(w, c.checked ? '1' : '0', c));
      row.appendChild(c);
    } else {
      const slider = mark(el('input'), w);
      slider.type = 'range';
      slider.min = w.min;
      slider.max = w.max;
      slider.step = w.kind === 'int' ? '1' : 'any';
      slider.addEventListener('input', () => setValue(w, sliderValue(w, +slider.value), slider));
      const number = mark(el('input'), w);
      number.type = 'number';
      number.min = w.min;
      number.max = w.max;
      number.step = w.kind === 'int' ? '1' : 'any';
      number.addEventListener('input', () => { if (number.value !== '') setValue(w, number.value, number); });
      row.appendChild(slider);
      row.appendChild(number);
    }
    box.appendChild(row);
  }
}

// Shows the state in every control, except the one the user is moving.
function showValues(except) {
  for (const c of document.querySelectorAll('#controls input')) {
    if (c === except) continue;
    const v = state.values[c.dataset.key];
    if (c.type === 'checkbox') c.checked = +v !== 0;
    else c.value = v;
    c.classList.remove('invalid');
  }
}

function setValue(w, text, from) {
  state.values[w.key] = text;
  const n = +text;
  const ok = text.trim() !== '' && Number.isFinite(n) && n >= +w.min && n <= +w.max &&
    (w.kind === 'float' || Number.isInteger(n));
  from.classList.toggle('invalid', !ok);
  showValues(from);
  $('preset').value = '';
  changed();
}

function showView() {
  const sub = $('stype');
  sub.textContent = '';
  if (plugin.subtypes.length) plugin.subtypes.forEach((s) => option(sub, s, s));
  else option(sub, '', '(none)');
  sub.disabled = !plugin.subtypes.length;
  sub.value = state.stype;
  if (!hasView(state.shape, state.view)) state.view = 'shaded';
  $('shape').value = state.shape;
  for (const o of $('view').options) o.disabled = !hasView(state.shape, o.value);
  $('view').value = state.view;
  $('size').value = String(state.size);
  $('footprint').checked = state.footprint;
  $('footprint').disabled = state.shape !== 'plane' || state.view === 'shaded';
  $('z').value = short(state.center[2]);
  $('export-normal').disabled = state.shape !== 'plane';
}

function choosePlugin(entry) {
  plugin = entry;
  state.plugin = entry.id;
  state.stype = entry.subtypes.length ? entry.subtypes[0] : '';
  state.values = defaults();
  $('plugin').value = entry.id;
  const presets = $('preset');
  presets.textContent = '';
  option(presets, '', entry.presets.length ? '(defaults)' : '(none)');
  entry.presets.forEach((p) => option(presets, p.name, p.name.replace(/_/g, ' ')));
  buildControls();
}

function refresh() {
  showView();
  showValues(null);
  changed();
}

function applyPreset(name) {
  const p = plugin.presets.find((x) => x.name === name);
  state.values = p ? Object.assign(defaults(), p.values) : defaults();
  if (p && p.subtype) state.stype = p.subtype;
  if (p && p.shape) state.shape = p.shape;
  refresh();
  $('preset').value = p ? name : '';
}

// --- zoom, pan and z ---

function pixelSize() { return state.extent / state.size; }

// Image pixel under a pointer event.
function imagePoint(e) {
  const img = $('preview');
  const r = img.getBoundingClientRect();
  return [(e.clientX - r.left) * state.size / r.width, (e.clientY - r.top) * state.size / r.height];
}

function zoom(e) {
  e.preventDefault();
  const f = Math.exp(Math.max(-1, Math.min(1, e.deltaY * 0.002)));
  if (state.shape !== 'sphere') {
    // Keep the texture point under the pointer where it is.
    const [px, py] = imagePoint(e);
    const ps = pixelSize(), half = state.size / 2;
    const tx = state.center[0] + (px - half) * ps, ty = state.center[1] + (half - py) * ps;
    state.extent *= f;
    const ps2 = pixelSize();
    state.center[0] = tx - (px - half) * ps2;
    state.center[1] = ty - (half - py) * ps2;
  } else {
    state.extent *= f;
  }
  state.extent = +short(state.extent);
  state.center = state.center.map((c) => +short(c));
  changed();
}

function pan() {
  const img = $('preview');
  let last = null;
  img.addEventListener('pointerdown', (e) => {
    last = imagePoint(e);
    img.setPointerCapture(e.pointerId);
    img.classList.add('dragging');
  });
  img.addEventListener('pointermove', (e) => {
    if (!last) return;
    const p = imagePoint(e), ps = pixelSize();
    state.center[0] = +short(state.center[0] - (p[0] - last[0]) * ps);
    state.center[1] = +short(state.center[1] + (p[1] - last[1]) * ps);
    last = p;
    changed();
  });
  const end = () => { last = null; img.classList.remove('dragging'); };
  img.addEventListener('pointerup', end);
  img.addEventListener('pointercancel', end);
}

function stepZ(sign) {
  state.center[2] = +short(state.center[2] + sign * state.extent / 16);
  $('z').value = short(state.center[2]);
  changed();
}

// --- export and parameter files ---

function download(url) {
  const a = document.createElement('a');
  a.href = url;
  a.download = '';
  document.body.appendChild(a);
  a.click();
  a.remove();
}

function exportSize() {
  const n = Math.round(+$('export-size').value);
  const max = Math.min(limits.max_side || 16384, Math.floor(Math.sqrt(limits.max_pixels || 1 << 26)));
  return Math.max(1, Math.min(max, n || 1));
}

function exportImage(normal) {
  const size = exportSize();
  $('export-size').value = String(size);
  const extra = { size: String(size), session, download: state.plugin + (normal ? '_normal.png' : '.png') };
  if (normal) {
    extra.view = 'normal';
  } else if ($('export-bits').value === '16') {
    extra.bits = '16';
  }
  download('/api/render?' + query(extra).toString());
}

function exportParams() {
  const q = new URLSearchParams({ plugin: state.plugin, download: state.plugin + '.txt' });
  for (const w of widgets()) if (!isDefault(w)) q.set('p.' + w.key, state.values[w.key]);
  download('/api/params?' + q.toString());
}

async function loadParams(file) {
  const text = await file.text();
  const r = await fetch('/api/params?plugin=' + encodeURIComponent(state.plugin), { method: 'POST', body: text });
  if (!r.ok) {
    message(await r.text());
    return;
  }
  state.values = Object.assign(defaults(), (await r.json()).values);
  $('preset').value = '';
  refresh();
}

// --- start ---

function wire() {
  $('plugin').addEventListener('change', () => {
    choosePlugin(plugins.find((p) => p.id === $('plugin').value));
    refresh();
  });
  $('stype').addEventListener('change', () => { state.stype = $('stype').value; changed(); });
  $('preset').addEventListener('change', () => applyPreset($('preset').value));
  $('reset').addEventListener('click', () => applyPreset(''));
  $('shape').addEventListener('change', () => { state.shape = $('shape').value; refresh(); });
  $('view').addEventListener('change', () => { state.view = $('view').value; refresh(); });
  $('size').addEventListener('change', () => { state.size = +$('size').value; changed(); });
  $('footprint').addEventListener('change', () => { state.footprint = $('footprint').checked; changed(); });
  $('z').addEventListener('input', () => {
    if (Number.isFinite(+$('z').value) && $('z').value !== '') { state.center[2] = +$('z').value; changed(); }
  });
  $('z-down').addEventListener('click', () => stepZ(-1));
  $('z-up').addEventListener('click', () => stepZ(1));
  $('reset-view').addEventListener('click', () => { state.extent = 4; state.center = [0, 0, 0]; refresh(); });
  $('preview').addEventListener('wheel', zoom, { passive: false });
  pan();
  $('export-png').addEventListener('click', () => exportImage(false));
  $('export-normal').addEventListener('click', () => exportImage(true));
  $('export-params').addEventListener('click', exportParams);
  $('load-params').addEventListener('change', (e) => {
    if (e.target.files.length) loadParams(e.target.files[0]);
    e.target.value = '';
  });
  window.addEventListener('hashchange', () => {
    if (location.hash !== '#' + query().toString() && readUrl()) refresh();
  });
}

async function start() {
  const r = await fetch('/api/plugins');
  const data = await r.json();
  plugins = data.plugins;
  limits = data.limits;
  plugins.forEach((p) => option($('plugin'), p.id, p.name));
  wire();
  if (!readUrl()) choosePlugin(plugins[0]);
  refresh();
}

start().catch((e) => message(String(e)));
