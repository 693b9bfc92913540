'use strict';
// Every text of the log reaches the page through textContent, an Option's text or a chart's
// label painted on its canvas, never as markup.
(function () {
  const REFRESH_MS = 2000;
  const EVENTS_SHOWN = 50;
  // The charts read a whole range, so less often than the tables; the timeline is bounded by
  // this count (the server bounds the events it counts per hour).
  const CHARTS_MS = 30000;
  const CHART_RECORDS = 3000;
  // "any time" charts the last week: an hour per bar over years would show nothing.
  const CHART_SPAN_ANY = 7 * 86400;
  const TIMELINE_BARS = 150;
  // "older" reads on from where the shown events end, and the refresh keeps showing as many.
  let eventsLimit = EVENTS_SHOWN;
  let eventsCursor = null;
  const envTitles = new Map();
  const knownTypes = new Set();
  let historyId = null;
  let busy = false;
  // Filters changed while a refresh was reading: it is done again with them once it ends, and
  // only that one says the page is up to date.
  let again = false;
  // The operations of the charted range by id (each {id, name, operands, start, end, status,
  // eta}), and the unfinished ones as the last refresh saw them.
  let rangeOps = new Map();
  let activeOps = new Map();
  let chartFrom = null;
  let chartAnyTime = true;
  let chartsBusy = false;
  // Where the shown events begin: "older" goes on with the same listing.
  let eventsFrom = '';

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

  function nowSeconds() {
    return Math.floor(Date.now() / 1000);
  }

  // The estimated end of an unfinished operation, when the log has one.
  function etaText(eta) {
    return typeof eta === 'number' ? timeText(eta) : '\u2013';
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

  async function getJson(path) {
    const res = await fetch(path, { credentials: 'same-origin', cache: 'no-store' });
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

  // A listing's answer ends with the record of its cursor.
  function cursorOf(records) {
    const last = records.length ? records[records.length - 1] : null;
    return last && last.kind === 'cursor' ? last.cursor : null;
  }

  function query(params) {
    const q = new URLSearchParams();
    Object.keys(params).forEach((k) => {
      if (params[k] !== '' && params[k] !== undefined) q.set(k, params[k]);
    });
    const s = q.toString();
    return s ? '?' + s : '';
  }

  // The time range as seconds since 1970, so that the tables and the charts begin at the
  // same second.
  function filters() {
    const span = byId('filter-since').value;
    return {
      eid: byId('filter-env').value,
      type: byId('filter-type').value.trim(),
      from: span === '' ? '' : String(nowSeconds() - Number(span)),
    };
  }

  function replaceRows(tbody, rows) {
    tbody.replaceChildren(...rows);
  }

  // The answer holds every report of each unfinished operation, oldest first; a row shows
  // the first report's time and the latest report's state.
  // Progress records (oldest first within an operation) as operations: the first report's
  // time, the latest report, and the end once the latest says it ended.
  function operationsOf(records) {
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
    return ops;
  }

  function chartOp(id, op) {
    const r = op.latest;
    return {
      id: id, name: r.name, operands: r.operands.map(envLabel).join(','), start: op.started,
      end: r.status >= 0 && r.status <= 2 ? null : r.time, status: r.status,
      eta: typeof r.eta === 'number' ? r.eta : null,
    };
  }

  function showOps(records) {
    const ops = operationsOf(records);
    const before = activeOps;
    activeOps = new Map();
    ops.forEach((op, id) => activeOps.set(id, chartOp(id, op)));
    // One that ended is drawn to its end at once, not when the charts are read next.
    if (Array.from(before.keys()).some((id) => !activeOps.has(id))) refreshCharts();
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
      tr.append(td, cell(etaText(r.eta), 'time eta'), cell(render(r.info), 'text'));
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

  async function refresh(filtersChanged) {
    if (busy) {
      if (filtersChanged) again = true;
      return;
    }
    busy = true;
    again = false;
    const f = filters();
    try {
      const [ops, events] = await Promise.all([
        getJson('/api/ops' + query({ active: '1', eid: f.eid })),
        getJson('/api/events' + query({ envs: '1', limit: eventsLimit, eid: f.eid, type: f.type,
                                          from: f.from })),
      ]);
      showOps(ops);
      drawTimeline();
      eventsFrom = f.from;
      eventsCursor = cursorOf(events);
      showEvents(events, false);
      if (historyId !== null)
        showHistory(await getJson('/api/ops/' + encodeURIComponent(historyId)));
      updateChoices();
      setStatus('updated ' + new Date().toLocaleTimeString(), false);
      if (!again) document.body.dataset.refreshed = 'ok';
    } catch (e) {
      setStatus('cannot read the log: ' + e.message, true);
      document.body.dataset.refreshed = 'failed';
    } finally {
      busy = false;
      if (again) refresh(true);
    }
  }

  // Newest first, the unfinished ones as the last refresh saw them, so that they grow to now
  // between two readings of the range.
  function drawTimeline() {
    if (!JrxCharts.available() || chartFrom === null) return;
    const all = new Map(rangeOps);
    activeOps.forEach((op, id) => all.set(id, op));
    const ops = Array.from(all.values())
      .sort((a, b) => b.start - a.start || (a.id < b.id ? -1 : a.id > b.id ? 1 : 0));
    const shown = ops.slice(0, TIMELINE_BARS);
    // Without a chosen range the timeline begins with the oldest bar it shows.
    let from = chartFrom;
    if (chartAnyTime && shown.length) {
      const oldest = Math.min(...shown.map((op) => op.start));
      from = Math.max(from, Math.floor(oldest / 900) * 900);
    }
    JrxCharts.timeline(byId('timeline'), byId('timeline-box'), shown, from, nowSeconds(),
                       openHistory);
    byId('timeline-note').textContent = '(' + shown.length +
      (ops.length > shown.length ? ' newest of ' + ops.length : '') + ')';
  }

  // The server's counts ({hours: [{hour, counts: {type: n}}], counted, complete, since}) as
  // a Map type -> Map hour -> events.
  function countsByHour(answer) {
    const counts = new Map();
    answer.hours.forEach((h) => {
      Object.entries(h.counts).forEach(([type, n]) => {
        if (!counts.has(type)) counts.set(type, new Map());
        counts.get(type).set(h.hour, n);
      });
    });
    const oldest = answer.hours.length ? answer.hours[0].hour : null;
    return { counts, oldest, n: answer.counted };
  }

  // The range's operations (those begun in it) and events, each listing bounded; a full
  // answer says so rather than passing for the whole range.
  async function refreshCharts() {
    if (!JrxCharts.available() || chartsBusy) return;
    chartsBusy = true;
    const f = filters();
    const now = nowSeconds();
    let from = f.from === '' ? now - CHART_SPAN_ANY : Number(f.from);
    try {
      const [ops, hours] = await Promise.all([
        getJson('/api/ops' + query({ eid: f.eid, from: from, limit: CHART_RECORDS })),
        getJson('/api/events/hours' + query({ eid: f.eid, type: f.type, from: from, to: now })),
      ]);
      const found = operationsOf(ops);
      const progress = ops.filter((r) => r.kind === 'progress');
      // The answer ends inside its oldest operation when it is full: that one is left out
      // rather than shown as still running.
      if (progress.length >= CHART_RECORDS) found.delete(progress[progress.length - 1].id);
      rangeOps = new Map();
      found.forEach((op, id) => rangeOps.set(id, chartOp(id, op)));
      const hourly = countsByHour(hours);
      // Without a chosen range the charts begin at the hour of the oldest record they show.
      if (f.from === '') {
        let oldest = hourly.oldest === null ? now : hourly.oldest;
        rangeOps.forEach((op) => { oldest = Math.min(oldest, op.start); });
        from = Math.max(from, Math.floor(oldest / JrxCharts.HOUR) * JrxCharts.HOUR);
      }
      chartFrom = from;
      chartAnyTime = f.from === '';
      drawTimeline();
      JrxCharts.hourly(byId('hourly'), hourly.counts, from, now);
      byId('hourly-note').textContent = '(' + hourly.n +
        (hours.complete ? '' : ' newest, since ' + timeText(hours.since)) +
        (f.from === '' && from <= now - CHART_SPAN_ANY ? ', last 7 days' : '') + ')';
      updateChoices();
      document.body.dataset.charts = 'ok';
    } catch (e) {
      setStatus('cannot read the charts: ' + e.message, true);
      document.body.dataset.charts = 'failed';
    } finally {
      chartsBusy = false;
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
      const events = await getJson('/api/events' + query({ envs: '1', limit: EVENTS_SHOWN,
        eid: f.eid, type: f.type, from: eventsFrom, after: eventsCursor }));
      eventsCursor = cursorOf(events);
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
        refresh(true);
        refreshCharts();
      }));
    refresh();
    refreshCharts();
    setInterval(refresh, REFRESH_MS);
    setInterval(refreshCharts, CHARTS_MS);
  }

  start();
})();
