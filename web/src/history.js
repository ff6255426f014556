// Every numeric value the page has received since it opened, for the trend:
// one ring per display, holding at most a day at the link's rate. A ring
// starts small and doubles as it fills, so a value measured once every 40
// frames (a housekeeping slot) costs a fortieth of one measured every
// frame. 12 bytes a point: the station's time (ms, Float64) and the value
// (Float32: the trend draws it, the displays show every digit).

import { TREND_GAP_MS } from './trend_points.js';

export const DAY_POINTS = 10 * 86400;  // the link's 9.6 frames/s, rounded up, for a day
const FIRST_CAPACITY = 1024;
export const SILENCES_KEPT = 10000;    // the newest silences (a day of them at 8 s each)

export class Ring {
  constructor(limit = DAY_POINTS) {
    this.limit = limit;
    this.t = new Float64Array(Math.min(FIRST_CAPACITY, limit));
    this.v = new Float32Array(this.t.length);
    this.start = 0;   // index of the oldest point
    this.length = 0;
    this.dropped = 0; // points that left a full ring
  }

  add(timeMs, value) {
    if (this.length === this.t.length && this.t.length < this.limit) this.grow();
    const cap = this.t.length;
    if (this.length === cap) {  // full: the oldest goes
      this.t[this.start] = timeMs;
      this.v[this.start] = value;
      this.start = (this.start + 1) % cap;
      ++this.dropped;
      return;
    }
    const at = (this.start + this.length) % cap;
    this.t[at] = timeMs;
    this.v[at] = value;
    ++this.length;
  }

  grow() {
    const cap = Math.min(this.t.length * 2, this.limit);
    const t = new Float64Array(cap), v = new Float32Array(cap);
    const [ot, ov] = this.ordered();
    t.set(ot);
    v.set(ov);
    this.t = t;
    this.v = v;
    this.start = 0;
  }

  // The points oldest first (views when the ring has not wrapped).
  ordered() {
    const cap = this.t.length, end = this.start + this.length;
    if (end <= cap) return [this.t.subarray(this.start, end), this.v.subarray(this.start, end)];
    const t = new Float64Array(this.length), v = new Float32Array(this.length);
    const first = cap - this.start;
    t.set(this.t.subarray(this.start), 0);
    t.set(this.t.subarray(0, end - cap), first);
    v.set(this.v.subarray(this.start), 0);
    v.set(this.v.subarray(0, end - cap), first);
    return [t, v];
  }

  firstTime() { return this.t[this.start]; }
  lastTime() { return this.t[(this.start + this.length - 1) % this.t.length]; }

  // For the plot: times in seconds (as uPlot's time axis takes them) and
  // values, in new arrays. NaN and infinities are gaps.
  series() {
    const [t, v] = this.ordered();
    const xs = new Float64Array(t.length), ys = new Array(v.length);
    for (let i = 0; i < t.length; ++i) {
      xs[i] = t[i] / 1000;
      ys[i] = Number.isFinite(v[i]) ? v[i] : null;
    }
    return [xs, ys];
  }
}

export class History {
  constructor(limit = DAY_POINTS) {
    this.limit = limit;
    this.rings = new Map();
    // [lastFrameMs, nextFrameMs] where no frame came for more than
    // TREND_GAP_MS: the trend's lines break there.
    this.silences = [];
    this.lastFrameMs = null;
  }

  // A frame's values came, stamped timeMs by the station.
  frame(timeMs) {
    if (this.lastFrameMs !== null && timeMs - this.lastFrameMs > TREND_GAP_MS) {
      this.silences.push([this.lastFrameMs, timeMs]);
      if (this.silences.length > SILENCES_KEPT) this.silences.shift();
    }
    this.lastFrameMs = timeMs;
  }

  add(name, timeMs, value) {
    let ring = this.rings.get(name);
    if (!ring) this.rings.set(name, (ring = new Ring(this.limit)));
    ring.add(timeMs, value);
  }

  get(name) {
    return this.rings.get(name) || null;
  }

  names() {
    return [...this.rings.keys()].sort();
  }
}
