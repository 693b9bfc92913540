#include "ServePage.h"

#include <httplib.h>

namespace jrxlog {

namespace {

const char* const kDocument = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>jrxlog</title>
<link rel="stylesheet" href="/style.css">
<script src="/app.js" defer></script>
</head>
<body>
<header>
  <h1>jrxlog</h1>
  <span id="clock"></span>
  <span id="status" role="status"></span>
</header>
<form id="filters">
  <label>Environment <select id="filter-env"><option value="">all</option></select></label>
  <label>Event type
    <input id="filter-type" list="known-types" autocomplete="off" placeholder="any"></label>
  <datalist id="known-types"></datalist>
  <label>Events since <select id="filter-since">
    <option value="">any time</option>
    <option value="-15m">15 minutes ago</option>
    <option value="-1h">1 hour ago</option>
    <option value="-1d">1 day ago</option>
    <option value="-7d">7 days ago</option>
  </select></label>
</form>
<main>
  <section>
    <h2>Unfinished operations <span id="ops-count" class="count"></span></h2>
    <table id="ops">
      <thead><tr><th>Operation</th><th>Name</th><th>Environments</th><th>Started</th>
        <th>Status</th><th>Progress</th><th>Text</th></tr></thead>
      <tbody id="ops-body"></tbody>
    </table>
    <p id="ops-none" class="none" hidden>No operation is running.</p>
  </section>
  <section id="history" hidden>
    <h2>History of <span id="history-id"></span>
      <button type="button" id="history-close">close</button></h2>
    <table>
      <thead><tr><th>Time</th><th>Status</th><th>Progress</th><th>Text</th></tr></thead>
      <tbody id="history-body"></tbody>
    </table>
  </section>
  <section>
    <h2>Newest events <span id="events-count" class="count"></span></h2>
    <table id="events">
      <thead><tr><th>Time</th><th>Type</th><th>Category</th><th>Code</th>
        <th>Environment</th><th>Text</th></tr></thead>
      <tbody id="events-body"></tbody>
    </table>
    <p id="events-none" class="none" hidden>No event matches.</p>
    <p><button id="events-older" type="button" hidden>older</button></p>
  </section>
</main>
</body>
</html>
)HTML";

// Every text of the log reaches the page through textContent or an Option's text, never as
// markup.
const char* const kScript = R"JS('use strict';
(function () {
  const REFRESH_MS = 2000;
  const EVENTS_SHOWN = 50;
  // "older" reads on from where the shown events end, and the refresh keeps showing as many.
  let eventsLimit = EVENTS_SHOWN;
  let eventsCursor = null;
  const envTitles = new Map();
  const knownTypes = new Set();
  let historyId = null;
  let busy = false;

  const byId = (id) => document.getElementById(id);

  function cell(text, className) {
    const td = document.createElement('td');
    td.textContent = text;
    if (className) td.className = className;
    return td;
  }

  function statusText(status) {
    switch (status) {
      case 0: return '-';
      case 1: return 'started';
      case 2: return 'running';
      case 3: return 'done';
      case 4: return 'canceled';
      case 5: return 'failed';
      default: return 'ended ' + status;
    }
  }

  function timeText(seconds) {
    return new Date(seconds * 1000).toLocaleString();
  }

  // An information record as the tool prints it: "{name}" stands for the parameter's own
  // text, doubled braces for one brace.
  function render(info) {
    if (info === undefined || info === null) return '';
    if (typeof info === 'string') info = { text: info };
    if (Array.isArray(info)) return info.length ? render(info[0]) : '';
    const text = info.text || '';
    const params = info.params || {};
    let out = '';
    let i = 0;
    while (i < text.length) {
      const c = text[i];
      if ((c === '{' || c === '}') && text[i + 1] === c) {
        out += c;
        i += 2;
        continue;
      }
      if (c === '{') {
        const close = text.indexOf('}', i + 1);
        const nested = text.indexOf('{', i + 1);
        if (close >= 0 && (nested < 0 || nested > close)) {
          const name = text.slice(i + 1, close);
          if (Object.prototype.hasOwnProperty.call(params, name)) {
            out += render(params[name]);
            i = close + 1;
            continue;
          }
        }
      }
      out += c;
      i += 1;
    }
    return out;
  }

  function envLabel(eid) {
    if (!eid) return '';
    return envTitles.get(eid) || eid;
  }

  function learnEnv(eid, title) {
    if (eid && title && !envTitles.has(eid)) envTitles.set(eid, title);
  }

  // Environment references inside an information record carry their titles too.
  function learnEnvsOf(info) {
    const params = (info && info.params) || {};
    ['source_env', 'env'].forEach((name) => {
      const refs = [].concat(params[name] || []);
      refs.forEach((r) => {
        if (r && r.params && typeof r.params.eid === 'string')
          learnEnv(r.params.eid, typeof r.params.title === 'string' ? r.params.title : '');
      });
    });
  }

  function setStatus(text, failed) {
    const s = byId('status');
    s.textContent = text;
    s.className = failed ? 'failed' : '';
  }

  async function getJson(path, answer) {
    const res = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
    if (answer) answer.cursor = res.headers.get('X-Jrxlog-Cursor');
    let body = null;
    try {
      body = await res.json();
    } catch (e) {
      body = null;
    }
    if (!res.ok) {
      const why = body && typeof body.error === 'string' ? body.error : res.statusText;
      throw new Error(res.status + ': ' + why);
    }
    return body;
  }

  function query(params) {
    const q = new URLSearchParams();
    Object.keys(params).forEach((k) => {
      if (params[k] !== '' && params[k] !== undefined) q.set(k, params[k]);
    });
    const s = q.toString();
    return s ? '?' + s : '';
  }

  function filters() {
    return {
      eid: byId('filter-env').value,
      type: byId('filter-type').value.trim(),
      from: byId('filter-since').value,
    };
  }

  function replaceRows(tbody, rows) {
    tbody.replaceChildren(...rows);
  }

  // The answer holds every report of each unfinished operation, oldest first; a row shows
  // the first report's time and the latest report's state.
  function showOps(records) {
    const ops = new Map();
    records.forEach((r) => {
      if (r.kind === 'env') {
        learnEnv(r.eid, r.title);
        return;
      }
      if (r.kind !== 'progress') return;
      learnEnvsOf(r.info);
      const op = ops.get(r.id);
      if (op) op.latest = r;
      else ops.set(r.id, { started: r.time, latest: r });
    });
    const rows = [];
    ops.forEach((op, id) => {
      const r = op.latest;
      const tr = document.createElement('tr');
      tr.className = 'op';
      tr.dataset.id = id;
      tr.tabIndex = 0;
      tr.title = 'show the history of this operation';
      tr.append(cell(id, 'id'), cell(r.name), cell(r.operands.map(envLabel).join(', ')),
                cell(timeText(op.started), 'time'), cell(statusText(r.status)));
      const td = document.createElement('td');
      td.className = 'progress';
      const bar = document.createElement('progress');
      bar.max = 100;
      bar.value = Math.max(0, Math.min(100, r.progress));
      const pct = document.createElement('span');
      pct.textContent = r.progress + '%';
      td.append(bar, pct);
      tr.append(td, cell(render(r.info), 'text'));
      tr.addEventListener('click', () => openHistory(id));
      tr.addEventListener('keydown', (e) => {
        if (e.key === 'Enter') openHistory(id);
      });
      rows.push(tr);
    });
    replaceRows(byId('ops-body'), rows);
    byId('ops-count').textContent = '(' + rows.length + ')';
    byId('ops-none').hidden = rows.length > 0;
  }

  function showEvents(records, more) {
    const rows = more ? Array.from(byId('events-body').children) : [];
    records.forEach((e) => {
      if (e.kind === 'env') {
        learnEnv(e.eid, e.title);
        return;
      }
      if (e.kind !== 'event') return;
      learnEnvsOf(e.info);
      if (e.type) knownTypes.add(e.type);
      const tr = document.createElement('tr');
      tr.className = 'event';
      tr.append(cell(timeText(e.time), 'time'), cell(e.type), cell(e.category),
                cell(String(e.code)),
                cell(envLabel(e.eid)), cell(render(e.info), 'text'));
      rows.push(tr);
    });
    replaceRows(byId('events-body'), rows);
    byId('events-count').textContent = '(' + rows.length + ')';
    byId('events-none').hidden = rows.length > 0;
    byId('events-older').hidden = rows.length < eventsLimit;
  }

  function showHistory(records) {
    const rows = [];
    records.forEach((r) => {
      if (r.kind !== 'progress') return;
      const tr = document.createElement('tr');
      tr.append(cell(timeText(r.time), 'time'), cell(statusText(r.status)),
                cell(r.progress + '%'), cell(render(r.info), 'text'));
      rows.push(tr);
    });
    replaceRows(byId('history-body'), rows);
  }

  // Choices follow what the log has shown so far; the current choice is kept.
  function updateChoices() {
    const select = byId('filter-env');
    const chosen = select.value;
    const options = [new Option('all', '')];
    Array.from(envTitles.entries())
      .sort((a, b) => a[1].localeCompare(b[1]))
      .forEach(([eid, title]) => options.push(new Option(title, eid)));
    if (options.length !== select.options.length) {
      select.replaceChildren(...options);
      select.value = chosen;
    }
    const list = byId('known-types');
    if (list.options.length !== knownTypes.size) {
      list.replaceChildren(...Array.from(knownTypes).sort().map((t) => {
        const o = document.createElement('option');
        o.value = t;
        return o;
      }));
    }
  }

  async function refresh() {
    if (busy) return;
    busy = true;
    const f = filters();
    try {
      const answer = {};
      const [ops, events] = await Promise.all([
        getJson('/api/ops' + query({ active: '1', eid: f.eid })),
        getJson('/api/events' + query({ envs: '1', limit: eventsLimit, eid: f.eid, type: f.type,
                                          from: f.from }), answer),
      ]);
      showOps(ops);
      eventsCursor = answer.cursor;
      showEvents(events, false);
      if (historyId !== null)
        showHistory(await getJson('/api/ops/' + encodeURIComponent(historyId)));
      updateChoices();
      setStatus('updated ' + new Date().toLocaleTimeString(), false);
      document.body.dataset.refreshed = 'ok';
    } catch (e) {
      setStatus('cannot read the log: ' + e.message, true);
      document.body.dataset.refreshed = 'failed';
    } finally {
      busy = false;
    }
  }

  // The history's address (#op=ID) can be passed on and reloaded.
  function openHistory(id) {
    historyId = id;
    history.replaceState(null, '', '#op=' + encodeURIComponent(id));
    byId('history-id').textContent = id;
    byId('history').hidden = false;
    byId('history-body').replaceChildren();
    getJson('/api/ops/' + encodeURIComponent(id))
      .then(showHistory)
      .catch((e) => setStatus('cannot read the history: ' + e.message, true));
  }

  async function older() {
    if (busy || !eventsCursor) return;
    busy = true;
    const f = filters();
    try {
      const answer = {};
      const events = await getJson('/api/events' + query({ envs: '1', limit: EVENTS_SHOWN,
        eid: f.eid, type: f.type, from: f.from, after: eventsCursor }), answer);
      eventsCursor = answer.cursor;
      eventsLimit += events.filter((e) => e.kind === 'event').length;
      showEvents(events, true);
      updateChoices();
    } catch (e) {
      setStatus('cannot read older events: ' + e.message, true);
    } finally {
      busy = false;
    }
  }

  function start() {
    byId('events-older').addEventListener('click', older);
    byId('history-close').addEventListener('click', () => {
      historyId = null;
      byId('history').hidden = true;
      history.replaceState(null, '', location.pathname + location.search);
    });
    if (location.hash.startsWith('#op=')) {
      try {
        openHistory(decodeURIComponent(location.hash.slice(4)));
      } catch (e) {
        setStatus('no operation in this address', true);
      }
    }
    byId('filters').addEventListener('submit', (e) => e.preventDefault());
    ['filter-env', 'filter-type', 'filter-since'].forEach((id) =>
      byId(id).addEventListener('change', () => {
        eventsLimit = EVENTS_SHOWN;
        refresh();
      }));
    refresh();
    setInterval(refresh, REFRESH_MS);
  }

  start();
})();
)JS";

const char* const kStyle = R"CSS(
:root { color-scheme: light dark; --line: #8884; --accent: #2a7ae2; }
body { font: 14px/1.4 system-ui, sans-serif; margin: 0 1.5em 2em; }
header { display: flex; align-items: baseline; gap: 1.5em; }
h1 { font-size: 1.4em; margin: 0.6em 0 0.3em; }
h2 { font-size: 1.1em; margin: 1.4em 0 0.4em; }
#status { color: #888; }
#status.failed { color: #c33; font-weight: bold; }
form { display: flex; flex-wrap: wrap; gap: 1.2em; padding: 0.5em 0;
  border-bottom: 1px solid var(--line); }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 0.25em 0.6em; border-bottom: 1px solid var(--line);
  vertical-align: top; }
th { font-weight: 600; white-space: nowrap; }
td.time, td.id { white-space: nowrap; }
td.text { overflow-wrap: anywhere; white-space: pre-wrap; }
td.progress { white-space: nowrap; }
td.progress progress { width: 10em; vertical-align: middle; margin-right: 0.5em;
  accent-color: var(--accent); }
tr.op { cursor: pointer; }
tr.op:hover, tr.op:focus { background: #2a7ae21a; outline: none; }
.count { color: #888; font-weight: normal; }
.none { color: #888; }
#history { border-left: 3px solid var(--accent); padding-left: 1em; }
)CSS";

void serve(httplib::Server& server, const char* path, const char* body, const char* type) {
  server.Get(path, [body, type](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "no-cache");
    res.set_content(body, type);
  });
}

}  // namespace

void addPageRoutes(httplib::Server& server) {
  serve(server, "/", kDocument, "text/html; charset=utf-8");
  serve(server, "/app.js", kScript, "text/javascript; charset=utf-8");
  serve(server, "/style.css", kStyle, "text/css; charset=utf-8");
}

}  // namespace jrxlog
