// hairlab serve's page: the editor is generated from the registered parameters and their hints;
// every change goes through the JSON API and the picture refines as the server renders.
'use strict';
const $ = (id) => document.getElementById(id);
const state = { types: null, shot: null, lock: 0, tab: null, version: 0, samples: -1, snapshot: null };
const colours = { sum: '#ffffff', R: '#ff7043', TT: '#42a5f5', TRT: '#ffd54f', diffuse: '#81c784',
                  specular: '#ff7043', other: '#ba68c8' };

// Messages are numbered so that a slow request's success does not wipe a newer request's error.
let said = 0;
function say(text) { $('message').textContent = text || ''; said++; }
function clearSince(mark) { if (said === mark) say(''); }

// Changes go to the server one at a time, in the order they were made, each built from the
// answer to the one before: a slow answer cannot undo a newer change, and two quick changes
// cannot both start from the same shot and lose one of them.
let changes = Promise.resolve();
function inOrder(task) {
  const run = changes.then(task);
  changes = run.catch(() => {});
  return run;
}

async function api(method, path, body) {
  const res = await fetch(path, { method, headers: body ? { 'Content-Type': 'application/json' } : {},
                                  body: body ? JSON.stringify(body) : undefined });
  const type = res.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await res.json() : null;
  if (!res.ok) throw new Error(data && data.error ? data.error : res.status + ' ' + res.statusText);
  return data;
}

function typeInfo(name) { return state.types.plugins.find((t) => t.name === name); }
function look() { return state.shot.looks[state.lock]; }

function option(select, value, text) {
  const o = document.createElement('option');
  o.value = value; o.textContent = text === undefined ? value : text;
  select.appendChild(o);
  return o;
}

// Colours as #rrggbb for the picker (clamped to [0, 1]) and back.
function toHex(c) {
  return '#' + c.slice(0, 3).map((v) => Math.round(Math.min(1, Math.max(0, v)) * 255)
    .toString(16).padStart(2, '0')).join('');
}
function fromHex(h, alpha) {
  const v = [1, 3, 5].map((i) => parseInt(h.substr(i, 2), 16) / 255);
  return alpha === undefined ? v : v.concat([alpha]);
}

// --- the material editor -------------------------------------------------------------------

function enabled(p) {
  const cond = p.hint.enable;
  if (!cond) return true;
  const v = look().parameters[cond.parameter];
  return v === cond.value || (typeof v === 'boolean' && Number(v) === cond.value);
}

function refreshEnabled() {
  for (const row of document.querySelectorAll('.param')) {
    const p = typeInfo(look().type).parameters.find((q) => q.name === row.dataset.name);
    const on = enabled(p);
    row.classList.toggle('disabled', !on);
    for (const input of row.querySelectorAll('input, button')) input.disabled = !on;
  }
}

function setParam(name, value) {
  const lock = state.lock;
  return inOrder(async () => {
    const mark = said;
    try {
      await api('POST', '/api/param', { lock, name, value });
      state.shot.looks[lock].parameters[name] = value;
      clearSince(mark);
      refreshEnabled();
      scheduleLobes();
    } catch (e) {
      say(e.message);
    }
    buildEditor();
  });
}

function numberControl(p, value, box) {
  const h = p.hint;
  const lo = h.softMinValue ?? h.minValue ?? 0, hi = h.softMaxValue ?? h.maxValue ?? Math.max(1, 2 * (p.default || 1));
  const slider = document.createElement('input');
  slider.type = 'range'; slider.min = lo; slider.max = hi;
  slider.step = p.kind === 'int' ? 1 : (hi - lo) / 1000;
  const entry = document.createElement('input');
  entry.type = 'number'; entry.step = p.kind === 'int' ? 1 : 'any';
  if (h.minValue !== undefined) entry.min = h.minValue;
  if (h.maxValue !== undefined) entry.max = h.maxValue;
  entry.value = value === null ? '' : value;
  slider.value = value === null ? p.default : value;
  slider.oninput = () => { entry.value = slider.value; };
  slider.onchange = () => setParam(p.name, Number(slider.value));
  entry.onchange = () => setParam(p.name, p.kind === 'int' ? parseInt(entry.value, 10) : Number(entry.value));
  if (p.kind !== 'int') box.appendChild(slider);
  box.appendChild(entry);
}

function colourControl(p, value, box) {
  const picker = document.createElement('input');
  picker.type = 'color';
  picker.value = toHex(value === null ? p.default : value);
  picker.onchange = () => setParam(p.name, fromHex(picker.value, p.kind === 'texture' ? 1 : undefined));
  box.appendChild(picker);
}

function paramRow(p) {
  const value = look().parameters[p.name];
  const row = document.createElement('div');
  row.className = 'param'; row.dataset.name = p.name; row.title = p.description || p.name;
  const name = document.createElement('span');
  name.className = 'name'; name.textContent = p.hint.displayName || p.name;
  const box = document.createElement('span');
  box.className = 'value';
  if (p.kind === 'bool') {
    const check = document.createElement('input');
    check.type = 'checkbox'; check.checked = !!value;
    check.onchange = () => setParam(p.name, check.checked);
    box.appendChild(check);
  } else if (p.kind === 'texture' || p.kind === 'texture_rgb') {
    colourControl(p, value, box);
  } else {
    numberControl(p, value, box);
  }
  const slot = document.createElement('label');
  if (p.kind.startsWith('texture')) {
    const none = document.createElement('input');
    none.type = 'checkbox'; none.checked = value === null; none.className = 'unconnected';
    none.onchange = () => setParam(p.name, none.checked ? null : p.default);
    slot.append(none, ' unconnected');
  }
  const badge = document.createElement('span');
  badge.className = 'badge ' + (p.hint.gpuSupport || '');
  badge.textContent = p.hint.gpuSupport ? 'GPU ' + p.hint.gpuSupport : '';
  const reset = document.createElement('button');
  reset.textContent = '↺'; reset.title = 'Reset to ' + JSON.stringify(p.default); reset.className = 'reset';
  reset.onclick = () => setParam(p.name, p.default);
  row.append(name, box, slot, badge, reset);
  return row;
}

// Tabs per startTab, groups per startRollout, parameters in registration order.
function buildEditor() {
  const t = typeInfo(look().type);
  const tabs = [];
  let tab = null, group = null;
  for (const p of t.parameters) {
    if (!tab || p.hint.startTab !== undefined) {
      tab = { name: p.hint.startTab || t.name, groups: [] };
      tabs.push(tab); group = null;
    }
    if (!group || p.hint.startRollout !== undefined) {
      group = { name: p.hint.startRollout || '', params: [] };
      tab.groups.push(group);
    }
    group.params.push(p);
  }
  if (!tabs.some((x) => x.name === state.tab)) state.tab = tabs[0].name;
  const nav = $('tabs'), editor = $('editor');
  nav.textContent = ''; editor.textContent = '';
  for (const x of tabs) {
    const b = document.createElement('button');
    b.textContent = x.name; b.className = x.name === state.tab ? 'active' : '';
    b.onclick = () => { state.tab = x.name; buildEditor(); };
    nav.appendChild(b);
    if (x.name !== state.tab) continue;
    for (const g of x.groups) {
      const box = document.createElement('fieldset');
      box.className = 'group';
      const legend = document.createElement('legend');
      legend.textContent = g.name;
      box.appendChild(legend);
      for (const p of g.params) box.appendChild(paramRow(p));
      editor.appendChild(box);
    }
  }
  const gpu = t.type_hints.gpuSupport;
  $('type-gpu').className = 'badge ' + (gpu || '');
  $('type-gpu').textContent = gpu ? 'GPU ' + gpu : '';
  refreshEnabled();
}

// --- the shot -----------------------------------------------------------------------------

function putShot(change) {
  return inOrder(async () => {
    const shot = JSON.parse(JSON.stringify(state.shot));
    change(shot);
    const mark = said;
    try {
      state.shot = await api('PUT', '/api/shot', shot);
      clearSince(mark);
    } catch (e) {
      say(e.message);
    }
    showShot();
  });
}

// A look of the type with its registered defaults, values laid over.
function freshLook(type, sets) {
  const t = typeInfo(type), parameters = {};
  for (const p of t.parameters) parameters[p.name] = p.default;
  for (const [name, text] of sets || []) {
    const parts = String(text).split(',').map(Number);
    parameters[name] = parts.length > 1 ? parts : (text === 'true' ? true : text === 'false' ? false : parts[0]);
    const p = t.parameters.find((q) => q.name === name);
    if (p && p.kind === 'texture' && parts.length === 3) parameters[name].push(1);
  }
  return { type, label: '', parameters };
}

function showShot() {
  const s = state.shot;
  if (state.lock >= s.looks.length) state.lock = 0;
  $('lock').textContent = '';
  s.looks.forEach((l, i) => option($('lock'), i, i + ': ' + (l.label || l.type)));
  $('lock').value = state.lock;
  $('type').value = look().type;
  $('subject').value = s.subject;
  $('groom').value = s.groom.file || '';
  $('lockshape').value = s.groom.lock;
  $('strands').value = s.groom.strands ?? '';
  $('env').value = s.lighting.environment || '';
  $('exposure').value = s.lighting.exposure;
  $('backdrop').checked = s.lighting.backdrop;
  $('size').value = s.render.width + 'x' + s.render.height;
  $('spp').value = s.render.spp;
  $('preset').disabled = look().type !== state.types.preset_type;
  buildEditor();
  scheduleLobes();
}

function wireShot() {
  const bind = (id, change) => { $(id).onchange = () => putShot((s) => change(s, $(id))); };
  bind('subject', (s, e) => {
    s.subject = e.value;
    s.sweeps = [];
    if (e.value === 'sheet') s.looks = state.types.plugins.slice().reverse().map((t) => freshLook(t.name, t.curated));
    else s.looks = [s.looks[state.lock]];
    if (e.value === 'groom' && !s.groom.file) s.groom.file = $('groom').options[1] ? $('groom').options[1].value : null;
  });
  bind('groom', (s, e) => { s.groom.file = e.value || null; if (e.value) s.subject = 'groom'; });
  bind('lockshape', (s, e) => { s.groom.lock = e.value; });
  bind('strands', (s, e) => { s.groom.strands = e.value ? parseInt(e.value, 10) : null; });
  bind('env', (s, e) => { s.lighting.environment = e.value || null; });
  bind('exposure', (s, e) => { s.lighting.exposure = Number(e.value); });
  bind('backdrop', (s, e) => { s.lighting.backdrop = e.checked; });
  bind('size', (s, e) => { [s.render.width, s.render.height] = e.value.split('x').map(Number); });
  bind('spp', (s, e) => { s.render.spp = parseInt(e.value, 10); });
  bind('type', (s, e) => { s.looks[state.lock] = freshLook(e.value, typeInfo(e.value).curated); });
  $('lock').onchange = () => { state.lock = Number($('lock').value); showShot(); };
  $('preset').onchange = () => {
    const p = state.types.presets.find((x) => x.name === $('preset').value);
    if (!p) return;
    putShot((s) => {
      const l = s.looks[state.lock], fresh = freshLook(l.type, p.sets);
      for (const [name] of p.sets) l.parameters[name] = fresh.parameters[name];
    });
  };
  $('curated').onclick = () => putShot((s) => {
    const l = s.looks[state.lock];
    s.looks[state.lock] = Object.assign(freshLook(l.type, typeInfo(l.type).curated), { label: l.label });
  });
  wireCamera();
}

// Orbit and elevation by dragging, zoom by the wheel; one shot change per gesture step.
function wireCamera() {
  const frame = $('frame');
  let drag = null, pending = null;
  const send = () => {
    if (!pending) return;
    const c = pending; pending = null;
    putShot((s) => { Object.assign(s.camera, c); });
  };
  frame.onmousedown = (e) => { drag = { x: e.clientX, y: e.clientY, cam: Object.assign({}, state.shot.camera) }; };
  window.addEventListener('mouseup', () => { if (drag) { drag = null; send(); } });
  window.addEventListener('mousemove', (e) => {
    if (!drag) return;
    const orbit = Math.max(-360, Math.min(360, drag.cam.orbit + (e.clientX - drag.x) * 0.5));
    const elevation = Math.max(-89, Math.min(89, drag.cam.elevation + (e.clientY - drag.y) * 0.3));
    pending = { orbit, elevation };
  });
  frame.addEventListener('wheel', (e) => {
    e.preventDefault();
    const zoom = Math.max(0.1, Math.min(100, state.shot.camera.zoom * Math.exp(-e.deltaY * 0.001)));
    pending = Object.assign(pending || {}, { zoom });
    clearTimeout(wireCamera.timer);
    wireCamera.timer = setTimeout(send, 120);
  }, { passive: false });
}

// --- the picture ------------------------------------------------------------------------------

async function refreshPicture() {
  try {
    const status = await api('GET', '/api/status');
    updateChannels(status.channels);
    showRender(status.render);
    if (status.version !== state.version || status.samples !== state.samples) {
      const res = await fetch('/api/image?format=png&channel=' + encodeURIComponent($('channel').value || 'beauty'));
      if (res.ok) {
        const url = URL.createObjectURL(await res.blob());
        const old = $('live').src;
        $('live').src = url;
        if (old.startsWith('blob:')) URL.revokeObjectURL(old);
        state.version = Number(res.headers.get('X-Version'));
        state.samples = Number(res.headers.get('X-Samples'));
        $('samples').textContent = state.samples ? state.samples + ' spp' : 'draft';
        $('samples').dataset.samples = state.samples;
        $('version').textContent = 'v' + state.version;
      }
    }
  } catch (e) {
    say(e.message);
  }
  setTimeout(refreshPicture, 60);
}

function updateChannels(list) {
  const select = $('channel');
  const have = Array.from(select.options).map((o) => o.value).join();
  if (have === list.join()) return;
  const keep = select.value;
  select.textContent = '';
  for (const c of list) option(select, c);
  select.value = list.includes(keep) ? keep : 'beauty';
}

function wireWipe() {
  $('channel').onchange = () => { state.samples = -1; };
  $('snap').onclick = () => {
    $('snapshot').src = $('live').src.replace(/^blob:/, 'blob:');
    fetch($('live').src).then((r) => r.blob()).then((b) => {
      $('snapshot').src = URL.createObjectURL(b);
      $('snapshot').hidden = false; $('wipe-line').hidden = false; $('wipe').disabled = false;
      wipe();
    });
  };
  const wipe = () => {
    const w = Number($('wipe').value);
    $('snapshot').style.clipPath = 'inset(0 ' + (100 - w) + '% 0 0)';
    $('wipe-line').style.left = w + '%';
  };
  $('wipe').oninput = wipe;
}

// --- lobe plots -------------------------------------------------------------------------------

function scheduleLobes() {
  clearTimeout(scheduleLobes.timer);
  scheduleLobes.timer = setTimeout(drawLobes, 200);
}

async function drawLobes() {
  let data;
  try { data = await api('GET', '/api/lobes?lock=' + state.lock); } catch (e) { say(e.message); return; }
  polar($('azimuthal'), data);
  profile($('longitudinal'), data);
  $('legend').innerHTML = data.lobes.map((l) => '<span style="color:' + colours[l] + '">' + l + '</span>').join('');
  const a = data.albedo, f = (c) => c ? c.map((v) => v.toFixed(3)).join(', ') : 'n/a';
  $('albedo').textContent = 'directional albedo: eval ' + f(a.eval) + ' · sampled ' + f(a.sampled);
}

function polar(canvas, data) {
  const g = canvas.getContext('2d'), w = canvas.width, h = canvas.height, cx = w / 2, cy = h / 2;
  g.clearRect(0, 0, w, h);
  const max = Math.max(1e-6, ...Object.values(data.azimuthal.values).flat());
  g.strokeStyle = '#444';
  for (const r of [0.25, 0.5, 0.75, 1]) { g.beginPath(); g.arc(cx, cy, r * (cx - 10), 0, 2 * Math.PI); g.stroke(); }
  for (const name of data.lobes) {
    const v = data.azimuthal.values[name];
    g.strokeStyle = colours[name]; g.beginPath();
    v.concat([v[0]]).forEach((x, i) => {
      const phi = i * data.azimuthal.phi_step * Math.PI / 180, r = Math.sqrt(x / max) * (cx - 10);
      g.lineTo(cx + r * Math.sin(phi), cy + r * Math.cos(phi));
    });
    g.stroke();
  }
  g.fillStyle = '#aaa'; g.fillText('azimuth (view below, √ scale)', 6, 12);
}

function profile(canvas, data) {
  const g = canvas.getContext('2d'), w = canvas.width, h = canvas.height, L = data.longitudinal;
  g.clearRect(0, 0, w, h);
  const max = Math.max(1e-6, ...Object.values(L.front).flat(), ...Object.values(L.back).flat());
  g.strokeStyle = '#444'; g.beginPath(); g.moveTo(w / 2, 0); g.lineTo(w / 2, h); g.stroke();
  for (const name of data.lobes) {
    for (const [side, dash] of [['front', []], ['back', [4, 3]]]) {
      const v = L[side][name];
      g.strokeStyle = colours[name]; g.setLineDash(dash); g.beginPath();
      v.forEach((x, i) => g.lineTo(10 + i * (w - 20) / (v.length - 1), h - 16 - Math.sqrt(x / max) * (h - 30)));
      g.stroke();
    }
  }
  g.setLineDash([]); g.fillStyle = '#aaa';
  g.fillText('longitude −90° … 90° (front solid, back dashed)', 6, 12);
}

// --- looks and final renders -----------------------------------------------------------------

function wireLooks() {
  $('save').onclick = async () => {
    try { const r = await api('POST', '/api/save', { path: $('save-name').value }); say('saved ' + r.path); await loadFiles(); }
    catch (e) { say(e.message); }
  };
  $('open').onclick = () => inOrder(async () => {
    const mark = said;
    try { state.shot = await api('POST', '/api/open', { path: $('open-name').value }); clearSince(mark); showShot(); }
    catch (e) { say(e.message); }
  });
  $('render').onclick = async () => {
    try { showRender(await api('POST', '/api/render', { output: $('render-name').value, spp: Number($('render-spp').value) })); }
    catch (e) { say(e.message); }
  };
}

function showRender(r) {
  $('render-progress').value = r.progress;
  $('render-state').textContent = r.state === 'idle' ? '' : r.state + (r.error ? ': ' + r.error : '') +
    (r.state === 'done' ? ' (' + r.seconds.toFixed(1) + ' s)' : '');
  $('render-state').dataset.state = r.state;
}

async function loadFiles() {
  const files = await api('GET', '/api/files');
  for (const [id, list, none] of [['groom', files.grooms, '(procedural)'], ['env', files.environments, 'studio'],
                                  ['open-name', files.looks, null]]) {
    const select = $(id), keep = select.value;
    select.textContent = '';
    if (none) option(select, '', none);
    for (const f of list) option(select, f);
    select.value = keep;
  }
}

async function start() {
  state.types = await api('GET', '/api/types');
  $('library').textContent = state.types.library.name + ' · ' + state.types.library.description;
  for (const t of state.types.plugins.slice().reverse()) option($('type'), t.name);
  for (const s of ['sheet', 'swatch', 'ball', 'groom', 'furnace']) option($('subject'), s);
  for (const p of state.types.presets) option($('preset'), p.name).title = p.description;
  await loadFiles();
  state.shot = await api('GET', '/api/shot');
  if (![...$('subject').options].some((o) => o.value === state.shot.subject)) option($('subject'), state.shot.subject);
  wireShot(); wireWipe(); wireLooks();
  showShot();
  refreshPicture();
}

start().catch((e) => say(e.message));
