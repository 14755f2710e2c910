// The receiver's page: talks only to navwatch's JSON API under /api/.
// Every text that came from the air or a server is put into the page with
// textContent, never as markup.
'use strict';

const POLL_MS = 3000;
const state = {
  view: 'list', freq: '', station: '', type: '', text: '', all: false,
  before: null, newest: 0, canWrite: false, typeNames: {}, msgId: 0,
};

function $(id) { return document.getElementById(id); }

// Makes an element with a class and text; children may follow.
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = String(text);
  return e;
}

async function api(path, body, method) {
  const opt = { cache: 'no-store' };
  if (body !== undefined) {
    opt.method = method || 'POST';
    opt.headers = { 'Content-Type': 'application/json' };
    opt.body = JSON.stringify(body);
  }
  const r = await fetch(path, opt);
  let j = null;
  try { j = await r.json(); } catch (e) { j = null; }
  if (!r.ok) throw new Error((j && j.error) || ('HTTP ' + r.status));
  return j;
}

function notice(text) {
  const n = $('notice');
  n.textContent = text || '';
  n.hidden = !text;
}

function when(iso) {
  if (!iso) return '';
  return iso.replace('T', ' ').replace('Z', ' UTC');
}

function freqName(f) { return f === 4209 ? '4209.5 kHz' : f + ' kHz'; }

function typeLabel(m) {
  if (!m.type) return 'identifier unreadable';
  return m.type + (m.type_name ? ' · ' + m.type_name : '');
}

// The text with each '*' (a character received in error) marked.
function fillText(pre, text) {
  pre.textContent = '';
  const parts = String(text).split('*');
  parts.forEach((part, i) => {
    if (i > 0) pre.appendChild(el('span', 'err', '*'));
    if (part) pre.appendChild(document.createTextNode(part));
  });
}

// ---- message list ----

function listUrl() {
  const q = new URLSearchParams();
  if (state.freq) q.set('freq', state.freq);
  if (state.station) q.set('station', state.station);
  if (state.type) q.set('type', state.type);
  if (state.text) q.set('q', state.text);
  if (state.all) q.set('all', '1');
  q.set('limit', '50');
  if (state.before) q.set('before', String(state.before));
  return '/api/messages?' + q.toString();
}

function messageItem(m) {
  const li = el('li');
  if (!m.read && m.decision === 'shown') li.classList.add('unread');
  if (m.alarm && !m.acked) li.classList.add('alarm');
  li.dataset.id = m.id;
  const a = el('a');
  a.href = '#/message/' + m.id;
  const l1 = el('div', 'line1');
  l1.appendChild(el('span', 'freq', freqName(m.freq)));
  l1.appendChild(el('span', 'ident', m.ident || '????'));
  l1.appendChild(el('span', 'type', typeLabel(m)));
  if (!m.read && m.decision === 'shown') l1.appendChild(el('span', 'tag new', 'unread'));
  if (m.alarm && !m.acked) l1.appendChild(el('span', 'tag alarm', 'alarm'));
  if (m.decision !== 'shown') l1.appendChild(el('span', 'tag', m.decision));
  if (m.merged) l1.appendChild(el('span', 'tag', 'mended'));
  if (m.kept) l1.appendChild(el('span', 'tag', 'kept'));
  const l2 = el('div', 'line2');
  l2.appendChild(el('span', null, when(m.time)));
  l2.appendChild(el('span', null, 'errors ' + m.error_pct.toFixed(1) + ' %'));
  l2.appendChild(el('span', null, 'signal ' + m.signal_dbm.toFixed(1) + ' dBm'));
  const firstLine = String(m.text).split('\n').find(s => s.trim() && !/^\s*ZCZC/.test(s)) || '';
  a.append(l1, l2, el('div', 'preview', firstLine));
  li.appendChild(a);
  return li;
}

async function loadList(append) {
  if (!append) state.before = null;
  state.paged = !!append;
  try {
    const j = await api(listUrl());
    const ul = $('messages');
    if (!append) ul.textContent = '';
    j.messages.forEach(m => ul.appendChild(messageItem(m)));
    $('count').textContent = j.total + (j.total === 1 ? ' message' : ' messages');
    state.before = j.next_before;
    $('more').hidden = !j.next_before;
  } catch (e) {
    notice('Messages could not be read: ' + e.message);
  }
}

function setupFilters() {
  document.querySelectorAll('#freq-tabs button').forEach(b => {
    b.addEventListener('click', () => {
      document.querySelectorAll('#freq-tabs button').forEach(x => x.classList.toggle('on', x === b));
      state.freq = b.dataset.freq;
      loadList(false);
    });
  });
  let timer = 0;
  const later = () => { clearTimeout(timer); timer = setTimeout(() => loadList(false), 300); };
  $('f-station').addEventListener('input', e => {
    const v = e.target.value.toUpperCase().replace(/[^A-X]/g, '');
    e.target.value = v;
    state.station = v;
    later();
  });
  $('f-type').addEventListener('change', e => { state.type = e.target.value; loadList(false); });
  $('f-text').addEventListener('input', e => { state.text = e.target.value; later(); });
  $('f-all').addEventListener('change', e => { state.all = e.target.checked; loadList(false); });
  $('more').addEventListener('click', () => loadList(true));
}

// ---- one message ----

function fact(dl, name, value) {
  dl.appendChild(el('dt', null, name));
  dl.appendChild(el('dd', null, value));
}

async function loadMessage(id) {
  state.msgId = id;
  let j;
  try {
    j = await api('/api/messages/' + id);
  } catch (e) {
    $('m-title').textContent = 'Message ' + id + ': ' + e.message;
    return;
  }
  const m = j.message;
  $('m-title').textContent = (m.ident || '????') + ' on ' + freqName(m.freq);
  const dl = $('m-facts');
  dl.textContent = '';
  fact(dl, 'Type', typeLabel(m));
  fact(dl, 'Station', m.station || '?');
  fact(dl, 'Received', when(m.time));
  fact(dl, 'Error rate', m.error_pct.toFixed(1) + ' %' +
       (m.merged ? ' (mended; ' + m.received_error_pct.toFixed(1) + ' % as received)' : ''));
  fact(dl, 'Signal', m.signal_dbm.toFixed(1) + ' dBm');
  fact(dl, 'Decision', m.decision);
  if (m.alarm) fact(dl, 'Alarm', m.acked ? 'acknowledged' : 'not acknowledged');
  fillText($('m-text'), m.text);
  const keep = $('m-keep');
  keep.textContent = m.kept ? 'Unkeep' : 'Keep';
  keep.dataset.kept = m.kept ? '1' : '0';
  keep.disabled = !state.canWrite;
  $('m-keep-why').textContent = state.canWrite ? '' : 'changes are accepted only from allowed addresses';
  const ol = $('m-copies');
  ol.textContent = '';
  j.copies.forEach(c => {
    const li = el('li');
    li.appendChild(el('div', 'muted', when(c.time) + ' · errors ' + c.received_error_pct.toFixed(1) +
                      ' % · ' + c.decision));
    const pre = el('pre', 'text');
    fillText(pre, c.received_text);
    li.appendChild(pre);
    ol.appendChild(li);
  });
  $('m-copies-box').hidden = j.copies.length === 0;
  if (!m.read && state.canWrite) api('/api/messages/' + id + '/read', {}).catch(() => {});
}

async function toggleKeep() {
  const keep = $('m-keep').dataset.kept !== '1';
  try {
    await api('/api/messages/' + state.msgId + '/keep', { keep: keep });
    $('m-keep-why').textContent = '';
  } catch (e) {
    $('m-keep-why').textContent = e.message;
  }
  loadMessage(state.msgId);
}

// ---- status, alarm and unread count ----

function renderStatus(s) {
  const srv = s.server;
  const conn = $('conn');
  conn.classList.toggle('up', !!srv.connected);
  conn.textContent = srv.connected ? 'receiver connected' : 'receiver not connected';
  $('s-server').textContent = 'Protocol server ' + (srv.address || '?') + ': ' +
    (srv.connected ? 'connected' : 'not connected' + (srv.last_error ? ' (' + srv.last_error + ')' : ''));
  const tb = $('s-channels');
  tb.textContent = '';
  srv.channels.forEach(c => {
    const tr = el('tr');
    tr.append(el('td', null, freqName(c.freq)), el('td', null, c.state),
              el('td', null, c.dbm.toFixed(1) + ' dBm'), el('td', null, when(c.time)));
    tb.appendChild(tr);
  });
  if (!srv.channels.length) {
    const tr = el('tr');
    const td = el('td', 'muted', 'no status yet');
    td.colSpan = 4;
    tr.appendChild(td);
    tb.appendChild(tr);
  }
  const dl = $('s-counts');
  dl.textContent = '';
  fact(dl, 'Stored', s.counts.total);
  fact(dl, 'Unread', s.counts.unread);
  fact(dl, 'Alarms', s.counts.alarms);
  fact(dl, 'Kept', s.counts.kept);
  fact(dl, 'Last taken', when(s.last_taken) || 'none since start');

  const badge = $('unread');
  badge.textContent = s.counts.unread;
  badge.classList.toggle('zero', s.counts.unread === 0);
  const alarm = $('alarm');
  const list = $('alarm-list');
  list.textContent = '';
  s.alarms.forEach((m, i) => {
    if (i > 0) list.appendChild(document.createTextNode(', '));
    const a = el('a', null, (m.ident || '????') + ' ' + freqName(m.freq));
    a.href = '#/message/' + m.id;
    list.appendChild(a);
  });
  list.appendChild(document.createTextNode(' search and rescue / piracy / tsunami'));
  alarm.hidden = s.alarms.length === 0;
  $('ack').disabled = !s.can_write;
  $('ack').title = s.can_write ? '' : 'changes are accepted only from allowed addresses';
}

async function poll() {
  try {
    const s = await api('/api/status');
    state.canWrite = s.can_write;
    notice('');
    renderStatus(s);
    if (s.counts.newest_id !== state.newest) {
      const first = state.newest === 0;
      state.newest = s.counts.newest_id;
      if (!first && state.view === 'list' && !state.paged) loadList(false);
    }
  } catch (e) {
    notice('navwatch does not answer: ' + e.message);
  }
}

async function acknowledge() {
  try {
    await api('/api/ack', {});
  } catch (e) {
    notice('Not acknowledged: ' + e.message);
  }
  poll();
  if (state.view === 'list') loadList(false);
  if (state.view === 'msg') loadMessage(state.msgId);
}

// ---- selections ----

function letterBox(letter, on, fixed, hint) {
  const lab = el('label', fixed ? 'fixed' : null);
  const box = el('input');
  box.type = 'checkbox';
  box.value = letter;
  box.checked = on || fixed;
  box.disabled = fixed || !state.canWrite;
  lab.appendChild(box);
  lab.appendChild(document.createTextNode(letter));
  if (hint) lab.appendChild(el('small', null, hint));
  if (fixed) lab.title = 'always received on this frequency';
  return lab;
}

function selectionForm(sel, stationLetters, typeLetters) {
  const fs = el('fieldset', 'sel');
  fs.dataset.freq = sel.freq;
  fs.appendChild(el('legend', null, freqName(sel.freq)));
  fs.appendChild(el('div', 'muted', 'Stations (B1)'));
  const st = el('div', 'letters stations');
  [...stationLetters].forEach(c => st.appendChild(letterBox(c, sel.stations.includes(c), false)));
  fs.appendChild(st);
  fs.appendChild(el('div', 'muted', 'Message types (B2)'));
  const ty = el('div', 'letters types');
  [...typeLetters].forEach(c => ty.appendChild(
    letterBox(c, sel.types.includes(c), sel.fixed_types.includes(c), state.typeNames[c])));
  fs.appendChild(ty);
  const save = el('button', 'save', 'Save ' + freqName(sel.freq));
  save.type = 'button';
  save.disabled = !state.canWrite;
  const done = el('span', 'saved');
  save.addEventListener('click', async () => {
    const on = kind => [...fs.querySelectorAll('.' + kind + ' input:checked')].map(b => b.value).join('');
    done.textContent = '';
    try {
      await api('/api/selections', { freq: sel.freq, stations: on('stations'), types: on('types') }, 'PUT');
      done.textContent = 'saved';
    } catch (e) {
      done.textContent = 'not saved: ' + e.message;
    }
  });
  fs.append(save, done);
  return fs;
}

async function loadSelections() {
  const box = $('sel-forms');
  try {
    const j = await api('/api/selections');
    state.typeNames = j.type_names;
    box.textContent = '';
    if (!state.canWrite)
      box.appendChild(el('p', 'muted', 'Changes are accepted only from allowed addresses.'));
    j.selections.forEach(s => box.appendChild(selectionForm(s, j.station_letters, j.type_letters)));
  } catch (e) {
    box.textContent = 'Selections could not be read: ' + e.message;
  }
}

async function loadTypeNames() {
  try {
    const j = await api('/api/selections');
    state.typeNames = j.type_names;
    const sel = $('f-type');
    [...j.type_letters].forEach(c => {
      const o = el('option', null, c + ' – ' + j.type_names[c]);
      o.value = c;
      sel.appendChild(o);
    });
  } catch (e) { /* the list works without the names */ }
}

// ---- views ----

function show(view) {
  state.view = view;
  for (const [v, id] of [['list', 'view-list'], ['msg', 'view-msg'], ['status', 'view-status'], ['sel', 'view-sel']])
    $(id).hidden = v !== view;
  $('nav-list').classList.toggle('on', view === 'list' || view === 'msg');
  $('nav-status').classList.toggle('on', view === 'status');
  $('nav-sel').classList.toggle('on', view === 'sel');
}

function route() {
  const h = location.hash;
  const m = /^#\/message\/(\d+)$/.exec(h);
  if (m) { show('msg'); loadMessage(m[1]); }
  else if (h === '#/status') { show('status'); poll(); }
  else if (h === '#/selections') { show('sel'); loadSelections(); }
  else { show('list'); loadList(false); }
}

document.addEventListener('DOMContentLoaded', async () => {
  setupFilters();
  $('ack').addEventListener('click', acknowledge);
  $('m-keep').addEventListener('click', toggleKeep);
  window.addEventListener('hashchange', route);
  await poll();
  await loadTypeNames();
  route();
  setInterval(poll, POLL_MS);
});
