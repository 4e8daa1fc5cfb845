// The viewer's page: the log newest first, scrolled back page by page from
// the server, with the whole view in the address's fragment.
'use strict';

const ROW = 22, PAGE = 200, KEEP = 3000;
const FIELDS = { 'Пользователь': 'user', 'Режим': 'mode', 'ТипОбъекта': 'category', 'Действие': 'event',
  'НомерДействия': 'number', 'Комментарий': 'comment', 'Идентификатор': 'id', 'Представление': 'object' };
const COLUMNS = ['date', 'time', 'user', 'mode', 'category', 'event', 'number', 'comment', 'id', 'object'];
const $ = (id) => document.getElementById(id);
const el = (tag, text, cls) => {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (cls) e.className = cls;
  return e;
};

let state = new URLSearchParams();
let rows = [], olderPos = null, atOldest = false, newerPos = null, loading = false, generation = 0;
let names = [], current = -1, source = null;

function readHash() {
  state = new URLSearchParams(location.hash.slice(1));
}
function writeHash(next) {
  const h = '#' + next.toString();
  if (h !== location.hash) location.hash = h;  // a history entry: Back works
}
function query(extra) {
  const q = new URLSearchParams(state);
  q.delete('search');
  for (const [k, v] of Object.entries(extra || {})) if (v !== null && v !== undefined) q.set(k, v);
  return q.toString();
}
function status(text) { $('status').textContent = text; }

async function api(path, options) {
  const r = await fetch(path, Object.assign({ credentials: 'same-origin' }, options || {}));
  const body = await r.json().catch(() => ({ error: 'the answer was not JSON (' + r.status + ')' }));
  if (!r.ok) throw new Error(body.error || String(r.status));
  return body;
}

// ---- the table --------------------------------------------------------------
function header() {
  const thead = $('rows').tHead;
  thead.textContent = '';
  const tr = el('tr');
  for (const n of names) tr.append(el('th', n));
  thead.append(tr);
}

function render() {
  const scroller = $('scroller');
  $('spacer').style.height = ((rows.length + 1) * ROW + (atOldest ? 0 : ROW * 5)) + 'px';
  const first = Math.max(0, Math.floor(scroller.scrollTop / ROW) - 5);
  const count = Math.ceil(scroller.clientHeight / ROW) + 10;
  const table = $('rows');
  table.style.top = (first * ROW) + 'px';
  const body = table.tBodies[0];
  body.textContent = '';
  const needle = state.get('search') || '';
  for (let i = first; i < Math.min(rows.length, first + count); ++i) {
    const r = rows[i];
    const tr = el('tr', undefined, (r['НомерДействия'] === '5' ? 'err' : '') + (i === current ? ' cur' : ''));
    tr.dataset.index = i;
    for (const n of names) {
      const td = el('td');
      td.dataset.column = n;
      mark(td, String(r[n] ?? ''), needle);
      tr.append(td);
    }
    body.append(tr);
  }
}

// A cell's text with the search's matches marked; text only, never markup.
function mark(td, text, needle) {
  if (!needle) { td.textContent = text; return; }
  const low = text.toLowerCase(), n = needle.toLowerCase();
  let at = 0;
  for (let k; (k = low.indexOf(n, at)) >= 0; at = k + n.length) {
    td.append(text.slice(at, k), el('mark', text.slice(k, k + n.length)));
  }
  td.append(text.slice(at));
}

async function reload() {
  const mine = ++generation;
  document.body.dataset.reloading = '1';
  rows = []; olderPos = null; atOldest = false; newerPos = null; current = -1;
  $('scroller').scrollTop = 0;
  await older(mine);
  await histogram();
  if (mine === generation) delete document.body.dataset.reloading;
}

async function older(mine) {
  if (loading || atOldest) return;
  loading = true;
  document.body.dataset.loading = '1';
  try {
    const b = await api('/api/records?' + query({ dir: 'back', limit: PAGE, pos: olderPos }));
    if (mine !== generation) return;
    if (rows.length === 0 && b.records.length) names = Object.keys(b.records[0]).filter((k) => k !== 'pos');
    header();
    rows.push(...b.records);
    olderPos = b.next;
    atOldest = b.next === null;
    if (rows.length > KEEP) {
      // Memory stays bounded: the newest rows go, to be asked for again.
      const drop = rows.length - KEEP;
      rows.splice(0, drop);
      newerPos = rows[0].pos;
      current -= drop;
      $('scroller').scrollTop -= drop * ROW;
    }
    status(rows.length + ' rows loaded' + (atOldest ? ', back to the first' : ''));
  } catch (e) {
    status(e.message);
  } finally {
    loading = false;
    delete document.body.dataset.loading;
    render();
  }
}

async function newer(mine) {
  if (loading || newerPos === null) return;
  loading = true;
  document.body.dataset.loading = '1';
  try {
    const b = await api('/api/records?' + query({ dir: 'forward', limit: PAGE + 1, pos: newerPos }));
    if (mine !== generation) return;
    // The page starts at the newest row shown: the rows after it are new.
    const at = b.records.findIndex((r) => r.pos === rows[0].pos);
    const got = b.records.slice(at + 1).reverse();
    rows.unshift(...got);
    $('scroller').scrollTop += got.length * ROW;
    current += got.length;
    newerPos = b.next === null ? null : got.length ? got[0].pos : null;
    if (rows.length > KEEP) {
      rows.length = KEEP;
      olderPos = rows[KEEP - 1].pos;
      atOldest = false;
    }
  } catch (e) {
    status(e.message);
  } finally {
    loading = false;
    delete document.body.dataset.loading;
    render();
  }
}

function onScroll() {
  const s = $('scroller');
  if (s.scrollTop + s.clientHeight > rows.length * ROW - ROW * 20) older(generation);
  if (s.scrollTop < ROW * 20) newer(generation);
  render();
}

// ---- filters ----------------------------------------------------------------
function chips() {
  const box = $('chips');
  box.textContent = '';
  for (const [k, v] of state) {
    if (['from', 'to', 'translate', 'columns', 'search'].includes(k)) continue;
    const c = el('span', k.replace('not-', '') + ': ' + v, 'chip' + (k.startsWith('not-') ? ' not' : ''));
    c.title = 'remove';
    c.addEventListener('click', () => { const n = new URLSearchParams(state); removePair(n, k, v); writeHash(n); });
    box.append(c);
  }
  $('from').value = state.get('from') || '';
  $('to').value = state.get('to') || '';
  $('translate').checked = state.get('translate') === 'all';
  $('search').value = state.get('search') || '';
  const shown = (state.get('columns') || COLUMNS.join(',')).split(',');
  for (const box of document.querySelectorAll('#columns input')) box.checked = shown.includes(box.value);
  const exp = query();
  $('export-csv').href = '/api/export?' + exp + (exp ? '&' : '') + 'format=csv';
  $('export-jsonl').href = '/api/export?' + exp + (exp ? '&' : '') + 'format=jsonl';
}
function removePair(p, k, v) {
  const keep = p.getAll(k).filter((x) => x !== v);
  p.delete(k);
  for (const x of keep) p.append(k, x);
}
function addFilter(field, value, exclude) {
  const n = new URLSearchParams(state);
  const k = (exclude ? 'not-' : '') + field;
  n.delete(exclude ? field : 'not-' + field);  // one field is kept or left out, not both
  if (!n.getAll(k).includes(value)) n.append(k, value);
  writeHash(n);
}
function setParam(k, v) {
  const n = new URLSearchParams(state);
  if (v) n.set(k, v); else n.delete(k);
  writeHash(n);
}

function onCell(e) {
  const td = e.target.closest('td');
  if (!td) return;
  const r = rows[Number(td.parentNode.dataset.index)];
  const field = FIELDS[td.dataset.column];
  if (e.altKey || !field) { detail(r); return; }
  addFilter(field, r[td.dataset.column], e.shiftKey);
}

// ---- search -----------------------------------------------------------------
async function find(step) {
  const needle = (state.get('search') || '').toLowerCase();
  if (!needle) return;
  const hit = (r) => names.some((n) => String(r[n] ?? '').toLowerCase().includes(needle));
  for (let pages = 0; pages < 200; ++pages) {
    for (let i = current + step; i >= 0 && i < rows.length; i += step) {
      if (hit(rows[i])) {
        current = i;
        $('scroller').scrollTop = Math.max(0, i * ROW - $('scroller').clientHeight / 2);
        render();
        return;
      }
    }
    // Not in the rows loaded: on through the log under the same filter.
    const before = rows.length;
    if (step > 0) { if (atOldest) break; await older(generation); if (rows.length === before) break; }
    else { if (newerPos === null) break; await newer(generation); }
  }
  status('no more matches of ' + needle);
}

// ---- histogram --------------------------------------------------------------
let bins = [], bucket = 'day';
async function histogram() {
  const svg = $('bars');
  svg.textContent = '';
  try {
    const h = await api('/api/histogram?' + query());
    bins = h.bins; bucket = h.bucket;
  } catch (e) { status(e.message); return; }
  const w = Math.max(1, bins.length), most = Math.max(1, ...bins.map((b) => b.records));
  svg.setAttribute('viewBox', '0 0 ' + w + ' 100');
  const ns = 'http://www.w3.org/2000/svg';
  bins.forEach((b, i) => {
    for (const [value, cls] of [[b.records, 'r'], [b.errors, 'e']]) {
      const r = document.createElementNS(ns, 'rect');
      const hgt = 100 * value / most;
      r.setAttribute('x', i); r.setAttribute('width', 0.9); r.setAttribute('y', 100 - hgt); r.setAttribute('height', hgt);
      r.setAttribute('class', cls);
      const t = document.createElementNS(ns, 'title');
      t.textContent = b.t + ': ' + b.records + ' records, ' + b.errors + ' errors';
      r.append(t);
      svg.append(r);
    }
  });
}
function binTime(t, end) {
  // YYYYMMDD[HH[MM]] to the from and to of the period.
  const d = t.slice(0, 4) + '-' + t.slice(4, 6) + '-' + t.slice(6, 8);
  if (t.length === 8) return d;
  const hh = t.slice(8, 10), mm = t.length >= 12 ? t.slice(10, 12) : (end ? '59' : '00');
  return d + 'T' + hh + ':' + mm + ':' + (end ? '59' : '00');
}
function dragHistogram() {
  const box = $('histogram');
  let start = null, sel = null;
  const at = (e) => {
    const r = box.getBoundingClientRect();
    return Math.min(bins.length - 1, Math.max(0, Math.floor((e.clientX - r.left) / r.width * bins.length)));
  };
  box.addEventListener('pointerdown', (e) => {
    if (!bins.length) return;
    start = at(e);
    sel = document.createElementNS('http://www.w3.org/2000/svg', 'rect');
    sel.setAttribute('class', 'sel'); sel.setAttribute('y', 0); sel.setAttribute('height', 100);
    $('bars').append(sel);
    box.setPointerCapture(e.pointerId);
  });
  box.addEventListener('pointermove', (e) => {
    if (start === null) return;
    const a = Math.min(start, at(e)), b = Math.max(start, at(e));
    sel.setAttribute('x', a); sel.setAttribute('width', b - a + 1);
  });
  box.addEventListener('pointerup', (e) => {
    if (start === null) return;
    const a = Math.min(start, at(e)), b = Math.max(start, at(e));
    start = null;
    const n = new URLSearchParams(state);
    n.set('from', binTime(bins[a].t, false));
    n.set('to', binTime(bins[b].t, true));
    writeHash(n);
  });
}

// ---- follow -----------------------------------------------------------------
// Whether position a lies after b in the followed log: a byte, or a set's
// "LOG:BYTE" (follow gives only the live log's, each after the last).
function after(a, b) {
  if (typeof a === 'number' && typeof b === 'number') return a > b;
  const [la, ba] = String(a).split(':'), [lb, bb] = String(b).split(':');
  return la !== lb || Number(ba) > Number(bb);
}

function follow(on) {
  if (source) { source.close(); source = null; delete document.body.dataset.following; }
  if (!on) return;
  source = new EventSource('/api/follow?' + query());
  source.onopen = () => { document.body.dataset.following = 'open'; };
  source.onmessage = (e) => {
    const r = JSON.parse(e.data);
    if (newerPos !== null) return;  // not at the newest rows: they are asked for on the way up
    if (rows.length && !after(r.pos, rows[0].pos)) return;
    rows.unshift(r);
    if (current >= 0) ++current;
    if ($('scroller').scrollTop > 0) $('scroller').scrollTop += ROW;
    if (rows.length > KEEP) { rows.length = KEEP; olderPos = rows[KEEP - 1].pos; atOldest = false; }
    render();
  };
  source.addEventListener('restart', () => reload());
}

// ---- detail -----------------------------------------------------------------
let logs = [];
async function detail(r) {
  const box = $('detail'), t = $('detail-fields');
  t.textContent = '';
  for (const [k, v] of Object.entries(r)) {
    const tr = el('tr');
    tr.append(el('td', k), el('td', String(v)));
    t.append(tr);
  }
  // Over several logs a position names its log: which file, at which byte.
  const [log, byte] = String(r.pos).split(':');
  if (byte !== undefined && logs[Number(log)] !== undefined) {
    const tr = el('tr');
    tr.append(el('td', 'log'), el('td', logs[Number(log)] + ', byte ' + byte));
    t.append(tr);
  }
  box.hidden = false;
  const around = $('around');
  around.textContent = '';
  const date = r['Дата'], time = r['Время'];
  if (!date || !time) return;
  // The same time and a few minutes either side, without the filters.
  const at = new Date(date.slice(0, 4) + '-' + date.slice(4, 6) + '-' + date.slice(6, 8) + 'T' + time + 'Z');
  const iso = (ms) => new Date(ms).toISOString().slice(0, 19);
  const q = new URLSearchParams({ from: iso(at - 5 * 60000), to: iso(at.getTime() + 5 * 60000), dir: 'forward', limit: 100,
    columns: 'date,time,user,event,comment' });
  try {
    const b = await api('/api/records?' + q);
    for (const x of b.records) {
      const tr = el('tr', undefined, x.pos === r.pos ? 'cur' : '');
      for (const [k, v] of Object.entries(x)) if (k !== 'pos') tr.append(el('td', String(v)));
      around.append(tr);
    }
  } catch (e) { around.append(el('tr', e.message)); }
}

// ---- SQL and sessions ---------------------------------------------------------
let lastResult = null;
async function runSql() {
  $('sql-error').textContent = '';
  const t = $('sql-result');
  t.textContent = '';
  try {
    const b = await api('/api/sql', { method: 'POST', headers: { 'Content-Type': 'text/plain' }, body: $('statement').value });
    lastResult = b;
    const h = el('tr');
    for (const c of b.columns) h.append(el('th', c));
    t.append(h);
    for (const row of b.rows) {
      const tr = el('tr');
      for (const v of row) tr.append(el('td', v === null ? '' : String(v)));
      t.append(tr);
    }
    if (b.truncated) $('sql-error').textContent = 'only the first ' + b.rows.length + ' rows are shown';
  } catch (e) { $('sql-error').textContent = e.message; }
}
function sqlCsv() {
  if (!lastResult) return;
  const cell = (v) => { const s = v === null ? '' : String(v); return /[",\r\n]/.test(s) ? '"' + s.replace(/"/g, '""') + '"' : s; };
  const text = [lastResult.columns, ...lastResult.rows].map((r) => r.map(cell).join(',')).join('\r\n') + '\r\n';
  const a = el('a');
  a.href = URL.createObjectURL(new Blob([text], { type: 'text/csv' }));
  a.download = 'query.csv';
  a.click();
}
async function sessions() {
  const t = $('open-sessions'), svg = $('concurrent');
  t.textContent = ''; svg.textContent = '';
  let b;
  try { b = await api('/api/sessions'); } catch (e) { t.append(el('tr', e.message)); return; }
  const h = el('tr');
  for (const c of ['user', 'mode', 'since']) h.append(el('th', c));
  t.append(h);
  const hours = new Map();
  let last = '';
  for (const [user, mode, start, end] of b.rows) {
    if (end === null) {
      const tr = el('tr');
      tr.append(el('td', user), el('td', mode), el('td', start || ''));
      t.append(tr);
    }
    if (start) last = start > last ? start : last;
    if (end) last = end > last ? end : last;
  }
  for (const [, , start, end] of b.rows) {
    if (!start) continue;
    const to = (end || last).slice(0, 13);
    for (let d = new Date(start.slice(0, 13).replace(' ', 'T') + ':00:00Z'); d.toISOString().slice(0, 13).replace('T', ' ') <= to; d = new Date(d.getTime() + 3600000)) {
      const k = d.toISOString().slice(0, 13);
      hours.set(k, (hours.get(k) || 0) + 1);
      if (hours.size > 20000) break;
    }
  }
  const keys = [...hours.keys()].sort(), most = Math.max(1, ...hours.values());
  svg.setAttribute('viewBox', '0 0 ' + Math.max(1, keys.length) + ' 100');
  const ns = 'http://www.w3.org/2000/svg';
  const peaks = new Map();
  keys.forEach((k, i) => {
    const v = hours.get(k);
    const r = document.createElementNS(ns, 'rect');
    r.setAttribute('x', i); r.setAttribute('width', 0.9); r.setAttribute('y', 100 - 100 * v / most); r.setAttribute('height', 100 * v / most);
    r.setAttribute('class', 'c');
    svg.append(r);
    const day = k.slice(0, 10), p = peaks.get(day);
    if (!p || p.v < v) peaks.set(day, { v, first: p ? p.first : i, last: i }); else p.last = i;
  });
  for (const [day, p] of peaks) {
    const l = document.createElementNS(ns, 'path');
    const y = 100 - 100 * p.v / most;
    l.setAttribute('d', 'M' + p.first + ' ' + y + 'H' + (p.last + 1));
    l.setAttribute('class', 'p');
    l.dataset.day = day; l.dataset.peak = p.v;
    svg.append(l);
  }
}

// ---- start --------------------------------------------------------------------
function tab(name) {
  for (const n of ['log', 'sql', 'sessions']) {
    $('view-' + n).hidden = n !== name;
    $('tab-' + n).classList.toggle('on', n === name);
  }
  if (name === 'sessions') sessions();
}

function init() {
  const cols = $('columns');
  for (const c of COLUMNS) {
    const l = el('label'), box = el('input');
    box.type = 'checkbox'; box.value = c;
    box.addEventListener('change', () => {
      const on = [...document.querySelectorAll('#columns input')].filter((b) => b.checked).map((b) => b.value);
      setParam('columns', on.length === COLUMNS.length ? '' : on.join(','));
    });
    l.append(box, ' ' + c);
    cols.append(l);
  }
  $('scroller').addEventListener('scroll', onScroll);
  $('rows').addEventListener('click', onCell);
  $('include').addEventListener('click', () => $('value').value && addFilter($('field').value, $('value').value, false));
  $('exclude').addEventListener('click', () => $('value').value && addFilter($('field').value, $('value').value, true));
  $('from').addEventListener('change', () => setParam('from', $('from').value));
  $('to').addEventListener('change', () => setParam('to', $('to').value));
  $('translate').addEventListener('change', () => setParam('translate', $('translate').checked ? 'all' : ''));
  $('search').addEventListener('change', () => {
    // The search is the page's own: it stays in the address but asks nothing new of the server.
    const n = new URLSearchParams(state);
    if ($('search').value) n.set('search', $('search').value); else n.delete('search');
    history.replaceState(null, '', '#' + n.toString());
    state = n;
    render();
  });
  $('next').addEventListener('click', () => find(1));
  $('prev').addEventListener('click', () => find(-1));
  $('follow').addEventListener('change', () => follow($('follow').checked));
  $('newest').addEventListener('click', () => reload());
  $('close-detail').addEventListener('click', () => { $('detail').hidden = true; });
  $('run').addEventListener('click', runSql);
  $('sql-csv').addEventListener('click', sqlCsv);
  for (const n of ['log', 'sql', 'sessions']) $('tab-' + n).addEventListener('click', () => tab(n));
  dragHistogram();
  window.addEventListener('hashchange', () => {
    const before = query();
    readHash();
    chips();
    if (query() !== before) { reload(); follow($('follow').checked); } else render();
  });
  readHash();
  chips();
  reload();
  // The served logs, to name a record's log in its detail.
  api('/api/logs').then((b) => { logs = b.logs; }).catch(() => {});
}
document.addEventListener('DOMContentLoaded', init);
