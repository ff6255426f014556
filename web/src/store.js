// What the page knows of the station, built only from checked messages:
// the displays as the panel shows them (each value held until a frame
// carries it again, as on the panel), the strip chart's points, the
// spectra, the health, the log, the alarm list and the station's status;
// and the page's own counts (refused messages, frames missed, frames never
// drawn). Views read it; nothing here touches the page.

import { check, REFUSALS } from './checks.js';
import { History } from './history.js';

export const LOG_KEEP = 2000;          // log entries kept, as the window's log pane
export const NOT_HEARD_S = 3;          // no message for this long: the station is not heard
export const RECENT_REFUSALS = 20;     // refusals listed with their detail

// The strip chart's samples of one frame are spread over the time since the
// frame before, at most this long; a longer silence breaks the line (as the
// panel draws it).
export const STRIP_SPREAD_MAX_S = 0.25;
export const STRIP_SPREAD_FIRST_S = 0.1;
export const STRIP_GAP_S = 0.5;

export class Store {
  // `now`: the page's clock in ms (injected, so tests step it).
  constructor(now = () => Date.now()) {
    this.now = now;
    this.panel = null;            // PREFIX/panel: formats, units, limits
    this.displays = new Map();    // name -> { value, limit, seq }
    this.session = null;          // of the frames shown
    this.seq = 0;                 // the latest frame applied
    this.valuesTaken = 0;         // frames whose values were applied
    this.frameTimeMs = 0;         // its time at the station
    this.frameArrivedMs = 0;      // when it reached the page
    this.statusText = null;       // the panel's status line
    this.statusAfterSeq = -1;
    this.health = null;
    this.healthArrivedMs = 0;
    this.status = null;           // online / offline
    this.alarms = null;
    this.spectra = null;
    this.log = [];
    this.logSerial = 0;
    this.strip = null;            // { x: [4][], y: [4][] } and the last stamp
    this.stripLastT = null;
    this.stripCapacity = 2000;
    this.heardMs = 0;             // the last message from the station
    this.refused = Object.fromEntries(Object.keys(REFUSALS).map((k) => [k, 0]));
    this.refusedTotal = 0;
    this.recentRefusals = [];
    this.missed = 0;              // frames the sequence numbers say never came
    this.framesReceived = 0;
    this.frameSeqSeen = 0;        // the latest PREFIX/frame
    this.latencies = [];          // ms from the station's frame time to arrival (bounded)
    this.history = new History();
    this.version = 0;             // grows with every change a view may draw
  }

  // One message from the broker. Returns true when it was taken.
  receive(leaf, payload) {
    const result = check(leaf, payload);
    if (!result.ok) return this.refuse(leaf, result.reason, result.detail);
    const m = result.message;
    const taken = this[`take_${leaf}`](m);
    if (taken !== true) return this.refuse(leaf, taken, REFUSALS[taken]);
    this.heardMs = this.now();
    ++this.version;
    return true;
  }

  refuse(leaf, reason, detail) {
    this.refused[reason] = (this.refused[reason] || 0) + 1;
    ++this.refusedTotal;
    this.recentRefusals.push({ time: this.now(), leaf, reason, detail });
    if (this.recentRefusals.length > RECENT_REFUSALS) this.recentRefusals.shift();
    ++this.version;
    return false;
  }

  // A new session restarts the sequence numbers.
  sequenceOk(m, latest) {
    return m.session !== this.session || m.seq > latest;
  }

  take_values(m) {
    if (!this.sequenceOk(m, this.seq)) return 'goes_back';
    if (m.session !== this.session) this.session = m.session;
    this.history.frame(m.time_ms);
    for (const [name, v] of m.values) {
      this.displays.set(name, { value: v.value, limit: v.limit, seq: m.seq });
      if (typeof v.value === 'number') this.history.add(name, m.time_ms, v.value);
    }
    this.seq = m.seq;
    ++this.valuesTaken;
    this.frameTimeMs = m.time_ms;
    this.frameArrivedMs = this.now();
    return true;
  }

  take_frame(m) {
    if (m.session === this.frameSession) {
      if (m.seq <= this.frameSeqSeen) return 'goes_back';
      // Frames missed: a joiner counts nothing before its first frame.
      if (this.frameSeqSeen > 0) this.missed += m.seq - this.frameSeqSeen - 1;
    }
    this.frameSession = m.session;
    this.frameSeqSeen = m.seq;
    ++this.framesReceived;
    this.latencies.push(this.now() - m.time_ms);
    if (this.latencies.length > 10000) this.latencies.splice(0, 5000);
    return true;
  }

  take_link_status(m) {
    this.statusText = m.status;
    this.statusAfterSeq = m.after_seq;
    this.statusSession = m.session;
    return true;
  }

  // The status line as the panel shows it with the frame shown: a blank
  // after a good frame, unless the station wrote a failure after it.
  statusLine() {
    if (this.statusText !== null && (this.statusSession !== this.session || this.statusAfterSeq >= this.seq))
      return this.statusText;
    return this.seq > 0 ? ' ' : null;
  }

  take_health(m) {
    if (this.health && m.session === this.health.session && m.time_ms < this.health.time_ms) return 'stale';
    this.health = m;
    this.healthArrivedMs = this.now();
    return true;
  }

  // A retained status may be an old one, or forged. Within a session an
  // offline is always taken: the broker's last will carries the time the
  // station connected, before its online. Otherwise a status older than
  // the one shown is refused.
  take_status(m) {
    const shown = this.status;
    if (shown && !(m.session === shown.session && m.state === 'offline') && m.time_ms < shown.time_ms) return 'stale';
    this.status = m;
    return true;
  }

  take_alarms(m) {
    if (this.alarms && m.session === this.alarms.session && m.time_ms < this.alarms.time_ms) return 'stale';
    this.alarms = m;
    return true;
  }

  take_spectra(m) {
    this.spectra = m;
    return true;
  }

  take_panel(m) {
    this.panel = m;
    if (m.stripCapacity !== this.stripCapacity) {
      this.stripCapacity = m.stripCapacity;
      this.strip = null;
    }
    return true;
  }

  take_log(m) {
    if (m.session === this.logSession && m.serial <= this.logSerial) return 'goes_back';
    this.logSession = m.session;
    this.logSerial = m.serial;
    this.log.push(m);
    if (this.log.length > LOG_KEEP) this.log.splice(0, this.log.length - LOG_KEEP);
    return true;
  }

  // The frame's points, each at a time within the frame's spread, as the
  // panel places them; a silence of more than STRIP_GAP_S breaks the lines.
  take_strip(m) {
    const same = this.stripSeq !== undefined && m.session === this.stripSession;
    if (same && m.seq <= this.stripSeq) return 'goes_back';
    // Parts already taken (a retained message sent again) are passed over.
    for (const part of m.parts) if (!same || part.seq > this.stripSeq) this.stripPart(part);
    this.stripSeq = m.seq;
    this.stripSession = m.session;
    return true;
  }

  stripPart(p) {
    if (!this.strip || p.t_s < (this.stripLastT ?? -1)) {
      this.strip = { x: [[], [], [], []], y: [[], [], [], []] };
      this.stripLastT = null;
    }
    const since = this.stripLastT === null ? STRIP_SPREAD_FIRST_S : p.t_s - this.stripLastT;
    const spread = Math.min(since, STRIP_SPREAD_MAX_S);
    const start = p.t_s - spread;
    p.traces.forEach((points, t) => {
      const xs = this.strip.x[t], ys = this.strip.y[t];
      if (since > STRIP_GAP_S && xs.length > 0) {
        xs.push(start);
        ys.push(null);
      }
      points.forEach((v, i) => {
        xs.push(start + (spread * (i + 1)) / points.length);
        ys.push(v);
      });
      // Keep what the station's ring keeps (and the gap marks among it).
      const excess = xs.length - this.stripCapacity - 8;
      if (excess > 0) {
        xs.splice(0, excess);
        ys.splice(0, excess);
      }
    });
    this.stripLastT = p.t_s;
  }

  // Seconds since the station was last heard (any message).
  silentFor() {
    return this.heardMs ? (this.now() - this.heardMs) / 1000 : null;
  }

  // The station's presence in words: "online", "offline: the station quit",
  // "not heard for 12 s".
  presence() {
    const silent = this.silentFor();
    if (this.status && this.status.state === 'offline')
      return { state: 'offline', words: `offline${this.status.reason ? ': ' + this.status.reason : ''}` };
    if (silent !== null && silent >= NOT_HEARD_S) return { state: 'not_heard', words: `not heard for ${Math.floor(silent)} s` };
    if (this.status && this.status.state === 'online') return { state: 'online', words: 'online' };
    return { state: 'waiting', words: this.heardMs ? 'online' : 'not heard yet' };
  }

  // The health's age of the last good frame, grown by the time since it came.
  frameAge() {
    if (!this.health || this.health.age_s === null) return null;
    return this.health.age_s + (this.now() - this.healthArrivedMs) / 1000;
  }
}
