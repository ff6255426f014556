// The browser view of a station: connects to the broker that served the
// page (or the one in the address), takes the station's messages into the
// store and draws the panel from it. It renders what the station publishes
// and decodes nothing itself.

import 'uplot/dist/uPlot.min.css';
import './style.css';
import { Connection, brokerProblem, prefixProblem, settingsFromAddress } from './connection.js';
import { Painter } from './painter.js';
import { Store } from './store.js';
import { SPECTRA } from './layout.js';
import { FieldsView, buildFields } from './views/fields.js';
import { HealthView } from './views/health.js';
import { AlarmsView, LogView } from './views/lists.js';
import { SpectrumView, StripView, TrendView } from './views/plots.js';

const TREND_REDRAW_MS = 1000;

const store = new Store();
buildFields(document);
const byId = (id) => document.getElementById(id);

let trendName = null;
let trendDrawnMs = 0;
const trend = new TrendView(byId('trend'), byId('trend-note'));
function showTrend(name) {
  trendName = name;
  byId('g-trend').hidden = false;
  byId('trend-name').textContent = name;
  drawTrend();
  byId('g-trend').scrollIntoView({ block: 'nearest' });
}
function drawTrend() {
  trendDrawnMs = Date.now();
  const took = trend.show(trendName, store.history.get(trendName), store.panel?.displays.get(trendName)?.unit,
                          store.history.silences);
  // The time the last drawing took, for the benchmark (docs/performance.md).
  byId('trend').dataset.drawMs = took.toFixed(1);
}
byId('trend-close').addEventListener('click', () => {
  trendName = null;
  byId('g-trend').hidden = true;
});

const fields = new FieldsView(document, showTrend);
const health = new HealthView(document);
const strip = new StripView(byId('strip'));
const spectra = SPECTRA.map(([name, title]) => new SpectrumView(byId(`spectrum-${name}`), name, title));
const log = new LogView(byId('log'));
const alarms = new AlarmsView(byId('alarms'), byId('alarm-head'));

function drawSpectraSettings() {
  const s = store.spectra;
  const box = byId('spectrum-settings');
  if (!s || box.dataset.drawn === String(s.time_ms)) return;
  box.dataset.drawn = String(s.time_ms);
  const g = s.graphs.SPEC256;
  const range = (a) => (a.manual ? `${a.min} to ${a.max}` : 'fitted to the data') + (a.log ? ', log' : '');
  box.textContent = [
    s.frames_left !== null ? `Frames left ${s.frames_left}${s.frames_left_done ? ' (done)' : ''}` : '',
    s.accumulate !== null ? `Accumulate ${s.accumulate ? 'on' : 'off'}` : '',
    g ? `256 channels: x ${range(g.x)}; y ${range(g.y)}` : '',
  ].filter(Boolean).join(' · ');
  box.classList.toggle('done', !!s.frames_left_done);
}

let drawnSeq = 0;
function drawAll() {
  fields.draw(store);
  health.draw(store, connection);
  const now = performance.now();
  strip.draw(store, now);
  for (const s of spectra) s.draw(store, now);
  drawSpectraSettings();
  log.draw(store);
  alarms.draw(store);
  if (trendName && Date.now() - trendDrawnMs >= TREND_REDRAW_MS) drawTrend();
  if (countsDue) {
    countsDue = false;
    health.drawCounts(store, painter);
  }
  // For whoever embeds, tests or measures the page: the frame now shown, and
  // how long after the station showed it (both clocks count in it).
  const fresh = store.seq !== drawnSeq;
  drawnSeq = store.seq;
  document.dispatchEvent(new CustomEvent('vst:drawn', {
    detail: { seq: store.seq, session: store.session, age_ms: fresh ? Date.now() - store.frameTimeMs : null },
  }));
}

const painter = new Painter(drawAll, () => store.valuesTaken, (callback) => requestAnimationFrame(callback));
const connection = new Connection(
  (leaf, payload) => {
    // A refused message shows only in the counts, written once a second.
    if (store.receive(leaf, payload)) painter.message(leaf);
  },
  () => painter.changed(),
);

// Ages grow and counts change without messages: once a second, with the
// next drawing.
let countsDue = true;
setInterval(() => {
  countsDue = true;
  painter.later();
}, 1000);

// ----- Where to connect ---------------------------------------------------------

const form = byId('connect');
const settings = settingsFromAddress(window.location);
function fillForm(s) {
  form.broker.value = s.broker;
  form.prefix.value = s.prefix;
  form.user.value = s.user;
}
function problem(s) {
  return brokerProblem(s.broker) || prefixProblem(s.prefix);
}
fillForm(settings);
byId('show-connect').addEventListener('click', () => {
  form.hidden = !form.hidden;
});
form.addEventListener('submit', (event) => {
  event.preventDefault();
  const s = { broker: form.broker.value.trim(), prefix: form.prefix.value.trim(), user: form.user.value.trim(),
              password: form.password.value };
  const why = problem(s);
  byId('connect-note').textContent = why || 'Read-only: this page only subscribes. The password stays in this tab\'s memory.';
  if (why) return;
  // The address keeps where to connect, never the password.
  const q = new URLSearchParams({ broker: s.broker, prefix: s.prefix });
  if (s.user) q.set('user', s.user);
  history.replaceState(null, '', `?${q}`);
  form.password.value = '';
  form.hidden = true;
  connection.start(s);
});
const why = problem(settings);
// A login is needed when a user is named: ask for the password first.
if (why || settings.user) {
  form.hidden = false;
  if (why && settings.prefix) byId('connect-note').textContent = why;
  (settings.user ? form.password : form.prefix).focus();
} else {
  connection.start(settings);
}
// A refused login asks again.
const shownRefusal = { reason: '' };
setInterval(() => {
  if (connection.state === 'refused' && shownRefusal.reason !== connection.reason) {
    shownRefusal.reason = connection.reason;
    form.hidden = false;
    byId('connect-note').textContent = `The broker refused: ${connection.reason}.`;
  }
}, 500);
painter.changed();
