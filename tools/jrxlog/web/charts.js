'use strict';
// The page's two charts, drawn by Chart.js (/chart.min.js, served by the tool itself). Texts
// of the log reach them only as labels painted on the canvas, never as markup.
// eslint-disable-next-line no-unused-vars
const JrxCharts = (function () {
  const HOUR = 3600;
  // Operations still unfinished (0 to 2) grow to now; each outcome has its colour.
  const OUTCOMES = [
    { label: 'running', color: '#2a7ae2', has: (s) => s >= 0 && s <= 2 },
    { label: 'done', color: '#2e9d4f', has: (s) => s === 3 },
    { label: 'canceled', color: '#9a9a9a', has: (s) => s === 4 },
    { label: 'failed', color: '#d43c3c', has: (s) => s === 5 },
    { label: 'other', color: '#b07cc6', has: (s) => s < 0 || s > 5 },
  ];
  const ESTIMATE_COLOR = '#2a7ae255';
  const TYPE_COLORS = ['#2a7ae2', '#e08a1e', '#2e9d4f', '#d43c3c', '#8a5cc2', '#16a0a6',
                       '#c2417d', '#7a8a2e', '#5c6bc0', '#9a9a9a'];
  const BAR_PX = 18;
  const charts = {};

  function available() {
    return typeof Chart !== 'undefined';
  }

  // Lines and texts that stand out on the page's own background, light or dark.
  if (available()) {
    Chart.defaults.borderColor = '#8884';
    if (window.matchMedia && window.matchMedia('(prefers-color-scheme: dark)').matches)
      Chart.defaults.color = '#bbb';
  }

  function clock(seconds, withDay) {
    const d = new Date(seconds * 1000);
    const time = d.toLocaleTimeString([], { hour: '2-digit', minute: '2-digit' });
    if (!withDay) return time;
    return d.toLocaleDateString([], { month: '2-digit', day: '2-digit' }) + ' ' + time;
  }

  // A round step for about ten ticks over `span` seconds.
  function timeStep(span) {
    const steps = [60, 300, 600, 900, 1800, HOUR, 2 * HOUR, 3 * HOUR, 6 * HOUR, 12 * HOUR, 86400];
    return steps.find((s) => span / s <= 10) || 86400 * Math.ceil(span / 86400 / 10);
  }

  // Ticks at round times of the local clock, whatever second the range begins at.
  function roundTicks(scale) {
    const step = timeStep(scale.max - scale.min);
    const shift = -new Date(scale.min * 1000).getTimezoneOffset() * 60;
    const ticks = [];
    for (let v = Math.ceil((scale.min + shift) / step) * step - shift; v <= scale.max; v += step)
      ticks.push({ value: v });
    scale.ticks = ticks;
  }

  function shorten(text, most) {
    return text.length > most ? text.slice(0, most - 1) + '…' : text;
  }

  // Draws into the chart kept under `key`, or makes it: updates keep the canvas and skip
  // the animation, since the page redraws every few seconds.
  function draw(key, canvas, config) {
    const chart = charts[key];
    if (chart) {
      chart.data = config.data;
      chart.options = config.options;
      chart.update('none');
      return chart;
    }
    charts[key] = new Chart(canvas, config);
    return charts[key];
  }

  const baseOptions = () => ({
    animation: false,
    responsive: true,
    maintainAspectRatio: false,
    plugins: { legend: { position: 'bottom', labels: { boxWidth: 12 } } },
  });

  // ops: [{id, name, operands, start, end (null while unfinished), status, eta}], newest
  // first. A bar runs from the operation's start (or the range's) to its end, or to now.
  // Clicking a bar hands its operation's id to `pick`.
  function timeline(canvas, box, ops, from, now, pick) {
    const withDay = now - from > 86400;
    let max = now;
    ops.forEach((op) => {
      if (op.end === null && typeof op.eta === 'number' && op.eta > max) max = op.eta;
    });
    max = Math.min(max, now + (now - from) / 4);
    const ids = ops.map((op) => op.id);
    const byId = new Map(ops.map((op) => [op.id, op]));
    const datasets = OUTCOMES.map((o) => ({
      label: o.label,
      backgroundColor: o.color,
      data: ops.filter((op) => o.has(op.status))
        .map((op) => ({ x: [Math.max(op.start, from), op.end === null ? now : op.end], y: op.id })),
    })).filter((d) => d.data.length > 0);
    const estimated = ops.filter((op) => op.end === null && typeof op.eta === 'number' &&
                                         op.eta > now);
    if (estimated.length)
      datasets.push({ label: 'estimated rest', backgroundColor: ESTIMATE_COLOR,
                      data: estimated.map((op) => ({ x: [now, op.eta], y: op.id })) });
    datasets.forEach((d) => Object.assign(d, { grouped: false, borderSkipped: false,
                                               minBarLength: 2, barPercentage: 0.8 }));
    box.style.height = (Math.max(ops.length, 3) * BAR_PX + 70) + 'px';
    const options = baseOptions();
    options.indexAxis = 'y';
    options.scales = {
      x: { type: 'linear', min: from, max: max,
           afterBuildTicks: roundTicks, ticks: { callback: (v) => clock(v, withDay) } },
      y: { type: 'category',
           ticks: { autoSkip: false,
                    callback: (v, i) => {
                      const op = byId.get(ids[i]);
                      return op ? shorten(op.name + ' ' + op.operands, 32) : '';
                    } } },
    };
    options.onClick = (event, elements) => {
      const bar = elements.length ? datasets[elements[0].datasetIndex].data[elements[0].index] : null;
      if (bar) pick(bar.y);
    };
    options.onHover = (event, elements) => {
      canvas.style.cursor = elements.length ? 'pointer' : 'default';
    };
    options.plugins.tooltip = {
      callbacks: {
        title: (items) => (items.length ? items[0].raw.y : ''),
        label: (item) => {
          const op = byId.get(item.raw.y);
          const [a, b] = item.raw.x;
          if (item.dataset.label === 'estimated rest') return 'estimated end ' + clock(b, true);
          return op.name + ', ' + item.dataset.label + ': ' + clock(a, true) + ' to ' +
                 (op.end === null ? 'now' : clock(b, true));
        },
      },
    };
    return draw('timeline', canvas, { type: 'bar', data: { labels: ids, datasets }, options });
  }

  // counts: Map type -> Map hour start -> events. One bar per hour of [from, now], stacked
  // by type, the most frequent type at the bottom.
  function hourly(canvas, counts, from, now) {
    const hours = [];
    for (let h = Math.floor(from / HOUR) * HOUR; h <= now; h += HOUR) hours.push(h);
    const withDay = now - from > 86400;
    const total = (m) => Array.from(m.values()).reduce((a, b) => a + b, 0);
    const types = Array.from(counts.keys()).sort((a, b) => total(counts.get(b)) -
                                                          total(counts.get(a)) || (a < b ? -1 : 1));
    const datasets = types.map((type, i) => ({
      label: type === '' ? '(no type)' : shorten(type, 40),
      backgroundColor: TYPE_COLORS[i % TYPE_COLORS.length],
      data: hours.map((h) => counts.get(type).get(h) || 0),
    }));
    const options = baseOptions();
    options.scales = {
      x: { stacked: true, ticks: { maxTicksLimit: 12 } },
      y: { stacked: true, beginAtZero: true, ticks: { precision: 0 } },
    };
    return draw('hourly', canvas, {
      type: 'bar',
      data: { labels: hours.map((h) => clock(h, withDay)), datasets },
      options,
    });
  }

  return { available, timeline, hourly, HOUR };
})();
