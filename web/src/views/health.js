// The health bar as the station shows it (state in words and colour, what
// led to it, the age of the last good frame; rates, failures, skipped), the
// station's presence, this page's connection to the broker and its counts.

import { count, lastFrameAge } from '../format.js';
import { REFUSALS } from '../checks.js';
import { setText } from './fields.js';

// The station's colours of each state (background, text).
const STATE_COLOURS = {
  receiving: ['#1d7a2e', '#ffffff'],
  degraded: ['#f0b400', '#2a1f00'],
  no_frames: ['#c00000', '#ffffff'],
  silent: ['#b34700', '#ffffff'],
  port_lost: ['#6e0000', '#ffffff'],
  paused: ['#3060a0', '#ffffff'],
  end_of_input: ['#505050', '#ffffff'],
  waiting: ['#8a8a8a', '#ffffff'],
};

function set(e, text) {
  if (e.textContent !== text) setText(e, text);
}

export class HealthView {
  constructor(root) {
    this.e = (id) => root.getElementById(id);
  }

  draw(store, connection) {
    const e = this.e;
    const h = store.health;
    const state = e('h-state');
    const key = h ? h.state : 'waiting';
    const [bg, fg] = STATE_COLOURS[key];
    if (state.dataset.state !== key) {
      state.dataset.state = key;
      state.style.background = bg;
      state.style.color = fg;
    }
    set(state, (h ? h.words : 'waiting').toUpperCase());
    let reason = h ? h.reason : 'nothing heard from the station yet';
    if (h && h.fault_age_s !== null) reason += ` ${Math.floor(h.fault_age_s)} s ago`;
    set(e('h-reason'), reason);
    set(e('h-age'), lastFrameAge(store.frameAge()));
    if (h) {
      set(e('h-rates'), `${count(h.bytes_per_s)} bytes/s  ${h.frames_per_s.toFixed(1)} frames/s`);
      const f = h.failures_minute, t = h.failures_total;
      let failures = '';
      if (h.mode === 'live') {
        failures = `failures (min / total): checksum ${count(f.checksum)} / ${count(t.checksum)}  escape ${count(f.illegal_escape)} / ${count(t.illegal_escape)}  read ${count(f.read_failure)} / ${count(t.read_failure)}`;
        if (t.other > 0) failures += `  other ${count(f.other)} / ${count(t.other)}`;
      }
      set(e('h-failures'), failures);
      set(e('h-skipped'), h.skipped === null ? 'skipped -' : `skipped ${count(h.skipped)} (+${count(h.skipped_minute)} in the last min)`);
    }
    const alarms = e('h-alarms');
    const n = store.alarms ? store.alarms.unacknowledged : 0;
    alarms.hidden = n === 0;
    if (n > 0) {
      const red = store.alarms.alarms.some((a) => !a.acknowledged && a.severity === 'alarm');
      if (alarms.dataset.red !== String(red)) {
        alarms.dataset.red = String(red);
        alarms.style.background = red ? '#c00000' : '#f0b400';
        alarms.style.color = red ? '#ffffff' : '#2a1f00';
      }
      set(alarms, `${n} ALARM${n === 1 ? '' : 'S'}`);
    }

    const presence = store.presence();
    const p = e('presence');
    const colon = presence.words.indexOf(':');
    set(p, colon < 0 ? `STATION ${presence.words.toUpperCase()}` :
      `STATION ${presence.words.slice(0, colon).toUpperCase()}${presence.words.slice(colon)}`);
    p.dataset.state = presence.state;
    const b = e('broker');
    set(b, connection.words());
    b.dataset.state = connection.state;
    const s = store.status || h;
    set(e('station'), s ? `${s.mode || ''}${s.source ? ' · ' + s.source : ''}` : '');
    const title = `${n > 0 ? n + ' ALARMS · ' : ''}${presence.state === 'online' ? '' : presence.words + ' · '}vst_gse · browser view`;
    if (document.title !== title) document.title = title;
  }

  drawCounts(store, painter) {
    const e = this.e;
    const parts = [`frames ${count(store.framesReceived)}`];
    if (store.missed) parts.push(`missed ${count(store.missed)}`);
    if (store.refusedTotal) parts.push(`refused ${count(store.refusedTotal)}`);
    if (painter.skipped) parts.push(`not drawn ${count(painter.skipped)}`);
    set(e('counts'), parts.join(' · '));
    const lat = latencyText(store.latencies);
    const rows = [
      `frames received ${count(store.framesReceived)}, missed ${count(store.missed)} (from the sequence numbers)`,
      `frames not drawn ${count(painter.skipped)} (the page drew the latest one only, e.g. after a time in the background)`,
      `messages refused ${count(store.refusedTotal)}` +
        (store.refusedTotal ? ': ' + Object.entries(store.refused).filter(([, v]) => v > 0)
          .map(([k, v]) => `${REFUSALS[k]} ${count(v)}`).join(', ') : ''),
      lat,
    ];
    const box = e('page-counts');
    const text = rows.join('\n');
    if (box.textContent !== text) box.textContent = text;
    const list = e('refusals');
    if (list.dataset.drawn !== String(store.refusedTotal)) {
      list.dataset.drawn = String(store.refusedTotal);
      list.replaceChildren(...store.recentRefusals.map((r) => {
        const li = document.createElement('li');
        li.textContent = `${new Date(r.time).toISOString().slice(11, 19)} ${r.leaf}: ${REFUSALS[r.reason] || r.reason}: ${r.detail}`;
        return li;
      }));
    }
  }
}

// "frame to page: median 42 ms, 99th percentile 80 ms (the two clocks count in it)"
export function latencyText(latencies) {
  if (latencies.length === 0) return 'frame to page: no frame yet';
  const sorted = [...latencies].sort((a, b) => a - b);
  const at = (q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
  return `frame to page: median ${Math.round(at(0.5))} ms, 99th percentile ${Math.round(at(0.99))} ms ` +
         `over ${count(sorted.length)} frames (the two machines' clocks count in it)`;
}

