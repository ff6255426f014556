// The page's plots (uPlot): the strip chart, the two spectra and the trend.
// Each is redrawn only when its data changed, and at most as often as the
// panel redraws its own (the strip chart at the frame rate, the spectra as
// the station sends them, at most once a second).

import uPlot from 'uplot';
import { minutesSeconds } from '../format.js';
import { trendPoints } from '../trend_points.js';
import { STRIP_COLOURS, STRIP_SECONDS, STRIP_TRACES } from '../layout.js';

function size(box, height) {
  return { width: Math.max(200, Math.floor(box.clientWidth)), height };
}

function cssVar(name) {
  return getComputedStyle(document.documentElement).getPropertyValue(name).trim() || '#888';
}

function axisStyle() {
  const text = cssVar('--text'), grid = cssVar('--grid');
  return { stroke: text, grid: { stroke: grid, width: 1, dash: [2, 3] }, ticks: { stroke: grid, width: 1 } };
}

// Follows its box's width (a phone turned, a window resized).
function follow(plot, box, height) {
  new ResizeObserver(() => plot.setSize(size(box, height))).observe(box);
}

// As the panel: the strip chart redrawn at most 5 times a second, the
// spectra twice (their drawing costs far more than the fields').
export const STRIP_REDRAW_MS = 200;
export const SPECTRA_REDRAW_MS = 500;

export class StripView {
  constructor(box) {
    this.box = box;
    this.drawnMs = -Infinity;
    const series = [{}];
    STRIP_TRACES.forEach((name, t) =>
      series.push({ label: name, stroke: STRIP_COLOURS[t], width: 1, scale: t < 2 ? 'words' : 'bytes',
                    points: { show: false }, spanGaps: false }));
    this.plot = new uPlot({
      ...size(box, 230),
      title: '',
      legend: { show: true, live: false },
      cursor: { show: false },
      scales: { x: { time: false }, words: { auto: true }, bytes: { auto: true } },
      axes: [
        { ...axisStyle(), label: 'time received (min:s since start)', values: (u, ticks) => ticks.map(minutesSeconds) },
        { ...axisStyle(), scale: 'words', label: 'words (left)', size: 60 },
        { ...axisStyle(), scale: 'bytes', side: 1, label: 'bytes (right)', grid: { show: false }, size: 50 },
      ],
      series,
    }, [[], [], [], [], []], box);
    follow(this.plot, box, 230);
  }

  draw(store, nowMs) {
    if (!store.strip || store.stripSeq === this.drawnSeq || nowMs - this.drawnMs < STRIP_REDRAW_MS) return;
    this.drawnSeq = store.stripSeq;
    this.drawnMs = nowMs;
    // One x per trace: uPlot wants one shared x, so each trace's points go
    // on the union of the times, null where a trace has none.
    const s = store.strip;
    const n = s.x[0].length;
    const same = s.x.every((xs) => xs.length === n && xs[0] === s.x[0][0] && xs[n - 1] === s.x[0][n - 1]);
    let data;
    if (same) data = [s.x[0], s.y[0], s.y[1], s.y[2], s.y[3]];
    else data = uPlot.join(s.x.map((xs, t) => [xs, s.y[t]]));
    const right = Math.max(store.stripLastT ?? 0, STRIP_SECONDS);
    this.plot.batch(() => {
      this.plot.setData(data, false);
      this.plot.setScale('x', { min: right - STRIP_SECONDS, max: right });
    });
  }
}

export class SpectrumView {
  constructor(box, name, title) {
    this.box = box;
    this.name = name;
    this.title = title;
    this.drawn = null;
    this.shape = '';
  }

  // A new plot when the axes' kind changes (log or linear, fixed or fitted).
  make(graph, colours) {
    if (this.plot) this.plot.destroy();
    const axis = (a) => ({ auto: !a.manual, distr: a.log ? 3 : 1, ...(a.manual ? { range: [a.min, a.max] } : {}) });
    this.plot = new uPlot({
      ...size(this.box, 210),
      title: this.title,
      legend: { show: false },
      cursor: { show: false },
      scales: { x: { time: false, ...axis(graph.x) }, y: axis(graph.y) },
      axes: [{ ...axisStyle(), label: 'channel position' }, { ...axisStyle(), label: 'rate', size: 55 }],
      series: [{}, ...colours.map((c) => ({ stroke: c, width: 1, points: { show: false } }))],
    }, null, this.box);
    if (!this.followed) {
      this.followed = true;
      new ResizeObserver(() => this.plot && this.plot.setSize(size(this.box, 210))).observe(this.box);
    }
  }

  draw(store, nowMs) {
    const graph = store.spectra?.graphs[this.name];
    if (!graph || graph === this.drawn || nowMs - (this.drawnMs ?? -Infinity) < SPECTRA_REDRAW_MS) return;
    this.drawn = graph;
    this.drawnMs = nowMs;
    const colours = graph.plots.map((p) => p.color);
    const shape = JSON.stringify([graph.x, graph.y, colours]);
    if (shape !== this.shape) {
      this.shape = shape;
      this.make(graph, colours);
    }
    // A log axis shows no value of 0 or below.
    const logY = graph.y.log;
    const data = graph.plots.length
      ? uPlot.join(graph.plots.map((p) => [p.x, logY ? p.y.map((v) => (v > 0 ? v : null)) : p.y]))
      : [[]];
    this.plot.setData(data);
  }
}

export class TrendView {
  constructor(box, note) {
    this.box = box;
    this.note = note;
    this.zoom = null;   // { min, max } in s while the operator has zoomed in
    this.plot = new uPlot({
      ...size(box, 260),
      legend: { show: false },
      scales: { x: { time: true } },
      axes: [{ ...axisStyle() }, { ...axisStyle(), size: 70 }],
      series: [{}, { stroke: '#1f5fbf', width: 1, points: { show: false }, spanGaps: false }],
      // A zoom (a drag over the plot) or its reset (a double click) draws
      // the new range at the pixels' resolution.
      hooks: { setScale: [(u, key) => { if (key === 'x') this.rangeSet(u.scales.x); }] },
    }, [[], []], box);
    follow(this.plot, box, 260);
    this.name = null;
    this.ring = null;
    this.silences = [];
  }

  // Draws the history of `name` (up to a day at the link's rate): all of it,
  // or the range the operator zoomed to, reduced to what the plot's pixels
  // show (trend_points.js). `silences`: the history's. Returns the time it
  // took in ms.
  show(name, ring, unit, silences = []) {
    const t0 = performance.now();
    if (name !== this.name) this.zoom = null;
    this.name = name;
    this.ring = ring;
    this.silences = silences;
    this.draw();
    const took = performance.now() - t0;
    this.note.textContent = ring
      ? `${ring.length.toLocaleString('en')} points since this page opened${unit ? ', in ' + unit : ''}` +
        (ring.dropped ? ` (the oldest ${ring.dropped.toLocaleString('en')} are gone: a day is kept)` : '')
      : 'no value yet';
    return took;
  }

  draw() {
    const [t, v] = this.ring ? this.ring.ordered() : [[], []];
    const columns = Math.max(1, Math.round(this.plot.bbox.width || this.box.clientWidth));
    if (this.zoom) {
      const data = trendPoints(t, v, this.zoom.min * 1000, this.zoom.max * 1000, columns, this.silences);
      this.plot.setData(data, false);  // the zoomed scale stays
    } else {
      this.plot.setData(trendPoints(t, v, t[0], t[t.length - 1], columns, this.silences));
    }
  }

  // The x scale changed: zoomed in when it shows less than the whole history.
  rangeSet(x) {
    if (!this.ring || this.ring.length === 0 || x.min === null || x.max === null) return;
    const whole = x.min <= this.ring.firstTime() / 1000 && x.max >= this.ring.lastTime() / 1000;
    if (whole && !this.zoom) return;  // the page's own drawing of everything
    this.zoom = whole ? null : { min: x.min, max: x.max };
    // After uPlot has finished with this scale.
    queueMicrotask(() => this.draw());
  }
}
