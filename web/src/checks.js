import { parseFormat } from './format.js';

// Every message is untrusted until checked here. A message that is too
// large, not UTF-8, not a JSON object, or whose fields are missing, of the
// wrong kind or out of bounds is refused with a reason the page counts and
// shows; nothing refused reaches a view. Checks never throw.

export const MAX_PAYLOAD = 64 * 1024;  // the largest message a station sends (panel) is about 12 KiB
const MAX_TEXT = 1024;                 // a log line, a reason, a status
const MAX_DISPLAY_TEXT = 4096;         // a text display (the hex dump is about 470 characters)
const MAX_DISPLAYS = 256;
const MAX_ALARMS = 1000;
const MAX_POINTS = 8192;               // a spectrum's or a strip trace's points
const MAX_PLOTS = 8;
const FRAME_BYTES = 200;
const MAX_STRIP_FRAMES = 64;           // frames in one strip message (the station sends at most 16)

export const REFUSALS = {
  too_large: 'too large',
  not_json: 'not JSON',
  bad_fields: 'fields missing or wrong',
  not_a_frame: 'not a frame',
  goes_back: 'sequence goes back',
  stale: 'older than what is shown',
};

class Refused extends Error {
  constructor(reason, detail) {
    super(detail);
    this.reason = reason;
  }
}

function fail(detail, reason = 'bad_fields') {
  throw new Refused(reason, detail);
}

// A frame's strip chart points: its seq, when they were shown, four traces.
function stripPart(o) {
  const p = { seq: integer(o, 'seq', 1), t_s: finite(o, 't_s', 0) };
  const traces = array(o, 'traces', 4);
  if (traces.length !== 4) fail('traces is not four lists');
  p.traces = traces.map((t) => {
    if (!Array.isArray(t) || t.length > MAX_POINTS) fail('a trace is not a list of points');
    for (const v of t) if (!Number.isInteger(v) || v < 0 || v > 65535) fail('a strip point is not 0 to 65535');
    return t;
  });
  return p;
}

// Control characters out (a tab and, where allowed, line breaks stay), so
// network text never moves the cursor of a terminal it is copied to.
export function clean(text, keepLines = false) {
  return keepLines ? text.replace(/[\u0000-\u0008\u000b-\u001f\u007f-\u009f]/g, '')
                   : text.replace(/[\u0000-\u0008\u000a-\u001f\u007f-\u009f]/g, '');
}

function object(v, what) {
  if (v === null || typeof v !== 'object' || Array.isArray(v)) fail(`${what} is not an object`);
  return v;
}

function text(o, key, max = MAX_TEXT, keepLines = false) {
  const v = o[key];
  if (typeof v !== 'string' || v.length > max) fail(`${key} is not a text of at most ${max} characters`);
  return clean(v, keepLines);
}

function optionalText(o, key, max = MAX_TEXT) {
  return o[key] === undefined || o[key] === null ? '' : text(o, key, max);
}

function integer(o, key, min = 0, max = Number.MAX_SAFE_INTEGER) {
  const v = o[key];
  if (!Number.isSafeInteger(v) || v < min || v > max) fail(`${key} is not a whole number from ${min} to ${max}`);
  return v;
}

// A number as the station writes it: finite, or "NaN", "Infinity", "-Infinity".
function toNumber(v) {
  if (typeof v === 'number' && Number.isFinite(v)) return v;
  if (v === 'NaN') return NaN;
  if (v === 'Infinity') return Infinity;
  if (v === '-Infinity') return -Infinity;
  return undefined;
}

function finite(o, key, min = -Infinity) {
  const v = o[key];
  if (typeof v !== 'number' || !Number.isFinite(v) || v < min) fail(`${key} is not a finite number`);
  return v;
}

function nullableFinite(o, key, min = -Infinity) {
  return o[key] === null || o[key] === undefined ? null : finite(o, key, min);
}

function bool(o, key) {
  if (typeof o[key] !== 'boolean') fail(`${key} is not true or false`);
  return o[key];
}

function oneOf(o, key, words) {
  const v = o[key];
  if (!words.includes(v)) fail(`${key} is not one of ${words.join(', ')}`);
  return v;
}

function array(o, key, max) {
  const v = o[key];
  if (!Array.isArray(v) || v.length > max) fail(`${key} is not a list of at most ${max}`);
  return v;
}

const SESSION = /^[0-9A-Za-z_-]{1,64}$/;
const NAME = /^[A-Z0-9_]{1,32}$/;

// The members every message has: who sent it and when.
function head(o) {
  const session = o.session;
  if (typeof session !== 'string' || !SESSION.test(session)) fail('session is missing or not an identifier');
  // 1970 to 2200: a time outside is forged or broken.
  const time_ms = integer(o, 'time_ms', 0, 7258118400000);
  const mode = o.mode === undefined ? '' : oneOf(o, 'mode', ['live', 'playback', 'link_replay']);
  return { session, time_ms, mode };
}

function parse(payload) {
  let bytes = payload;
  if (typeof payload === 'string') bytes = new TextEncoder().encode(payload);
  if (bytes.length > MAX_PAYLOAD) throw new Refused('too_large', `${bytes.length} bytes, more than ${MAX_PAYLOAD}`);
  let value;
  try {
    value = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(bytes));
  } catch (e) {
    throw new Refused('not_json', 'not a JSON text in UTF-8');
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value))
    throw new Refused('not_json', 'not a JSON object');
  return value;
}

// The 16-bit wrapping sum of the 99 words before the checksum word.
export function frameChecksumOk(bytes) {
  let sum = 0;
  for (let i = 0; i < FRAME_BYTES - 2; i += 2) sum = (sum + bytes[i] * 256 + bytes[i + 1]) & 0xffff;
  return sum === bytes[FRAME_BYTES - 2] * 256 + bytes[FRAME_BYTES - 1];
}

const checkers = {
  frame(o) {
    const m = head(o);
    m.seq = integer(o, 'seq', 1);
    m.skipped = integer(o, 'skipped', 0);
    const hex = o.frame;
    if (typeof hex !== 'string' || !/^[0-9A-Fa-f]{400}$/.test(hex)) fail('frame is not 400 hex digits', 'not_a_frame');
    const bytes = new Uint8Array(FRAME_BYTES);
    for (let i = 0; i < FRAME_BYTES; ++i) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
    if (bytes[0] !== 0xeb || bytes[1] !== 0x90) fail('frame does not start with the sync word EB90', 'not_a_frame');
    if (!frameChecksumOk(bytes)) fail('frame checksum does not hold', 'not_a_frame');
    return m;
  },

  values(o) {
    const m = head(o);
    m.seq = integer(o, 'seq', 1);
    const values = object(o.values, 'values');
    const names = Object.keys(values);
    if (names.length > MAX_DISPLAYS) fail(`more than ${MAX_DISPLAYS} values`);
    m.values = new Map();
    for (const name of names) {
      if (!NAME.test(name)) fail(`value name ${JSON.stringify(name.slice(0, 40))} is not a display's`);
      const v = object(values[name], name);
      let value;
      if (typeof v.value === 'string' && toNumber(v.value) === undefined) {
        if (v.value.length > MAX_DISPLAY_TEXT) fail(`${name} is longer than ${MAX_DISPLAY_TEXT}`);
        value = clean(v.value, true);
      } else {
        value = toNumber(v.value);
        if (value === undefined) fail(`${name}.value is not a number or a text`);
      }
      const limit = v.limit === undefined ? null : oneOf(v, 'limit', ['normal', 'caution', 'alarm']);
      const unit = v.unit === undefined ? '' : text(v, 'unit', 16);
      m.values.set(name, { value, limit, unit });
    }
    return m;
  },

  health(o) {
    const m = head(o);
    m.state = oneOf(o, 'state', ['waiting', 'receiving', 'degraded', 'no_frames', 'silent', 'port_lost', 'paused',
                                 'end_of_input']);
    m.words = text(o, 'words', 64);
    m.reason = text(o, 'reason');
    m.source = optionalText(o, 'source');
    m.fault_age_s = nullableFinite(o, 'fault_age_s', 0);
    m.age_s = nullableFinite(o, 'age_s', 0);
    m.bytes_per_s = finite(o, 'bytes_per_s', 0);
    m.frames_per_s = finite(o, 'frames_per_s', 0);
    m.skipped = o.skipped === null ? null : integer(o, 'skipped', 0);
    m.skipped_minute = integer(o, 'skipped_minute', 0);
    m.stale = bool(o, 'stale');
    for (const key of ['failures_minute', 'failures_total']) {
      const f = object(o[key], key);
      m[key] = {};
      for (const kind of ['checksum', 'illegal_escape', 'read_failure', 'other']) m[key][kind] = integer(f, kind, 0);
    }
    m.good_frames = integer(o, 'good_frames', 0);
    m.publish_dropped = o.publish_dropped === undefined ? 0 : integer(o, 'publish_dropped', 0);
    return m;
  },

  status(o) {
    const m = head(o);
    m.state = oneOf(o, 'state', ['online', 'offline']);
    m.reason = optionalText(o, 'reason');
    m.source = optionalText(o, 'source');
    m.version = optionalText(o, 'version', 64);
    return m;
  },

  log(o) {
    if (typeof o.session !== 'string' || !SESSION.test(o.session)) fail('session is missing or not an identifier');
    return {
      session: o.session,
      serial: integer(o, 'serial', 1),
      local_time: text(o, 'local_time', 64),
      severity: oneOf(o, 'severity', ['info', 'warning', 'error']),
      text: text(o, 'text', MAX_DISPLAY_TEXT),
    };
  },

  alarms(o) {
    const m = head(o);
    m.muted = bool(o, 'muted');
    m.unacknowledged = integer(o, 'unacknowledged', 0);
    m.alarms = array(o, 'alarms', MAX_ALARMS).map((a) => {
      object(a, 'alarm');
      return {
        id: integer(a, 'id', 0),
        source: oneOf(a, 'source', ['limit', 'link', 'recording']),
        key: text(a, 'key', 64),
        what: text(a, 'what'),
        severity: oneOf(a, 'severity', ['alarm', 'caution']),
        active: bool(a, 'active'),
        now: optionalText(a, 'now'),
        first_time_ms: integer(a, 'first_time_ms', 0),
        last_time_ms: integer(a, 'last_time_ms', 0),
        occurrences: integer(a, 'occurrences', 0),
        worst_value: optionalText(a, 'worst_value'),
        worst_limit: optionalText(a, 'worst_limit'),
        longest_s: nullableFinite(a, 'longest_s', 0),
        acknowledged: bool(a, 'acknowledged'),
        acknowledged_time_ms: a.acknowledged_time_ms === null || a.acknowledged_time_ms === undefined
          ? null : integer(a, 'acknowledged_time_ms', 0),
      };
    });
    return m;
  },

  panel(o) {
    const m = head(o);
    m.title = optionalText(o, 'title');
    m.displays = new Map();
    for (const d of array(o, 'displays', MAX_DISPLAYS)) {
      object(d, 'display');
      const name = d.name;
      if (typeof name !== 'string' || !NAME.test(name)) fail('a display has no proper name');
      const type = oneOf(d, 'type', ['int', 'double', 'text']);
      const format = d.format === undefined ? { style: 'auto' } : parseFormatWord(d.format);
      const unit = d.unit === undefined ? '' : text(d, 'unit', 16);
      let limits = null;
      if (d.limits !== undefined) {
        const l = object(d.limits, `${name}.limits`);
        limits = { caution: range(l.caution), alarm: range(l.alarm), enabled: bool(l, 'enabled'),
                   text: optionalText(l, 'text') };
      }
      m.displays.set(name, { name, type, format, unit, limits });
    }
    const strip = o.strip === undefined ? {} : object(o.strip, 'strip');
    m.stripCapacity = strip.capacity === undefined ? 2000 : integer(strip, 'capacity', 1, MAX_POINTS);
    return m;
  },

  // One frame's points, or several: the frames before the last under
  // "earlier", oldest first (a station catching up sends them together).
  strip(o) {
    const m = head(o);
    const last = stripPart(o);
    const earlier = o.earlier === undefined ? [] : array(o, 'earlier', MAX_STRIP_FRAMES - 1);
    m.parts = earlier.map((p) => stripPart(object(p, 'an earlier strip part')));
    m.parts.push(last);
    for (let k = 1; k < m.parts.length; ++k) {
      if (m.parts[k].seq <= m.parts[k - 1].seq) fail('the strip parts are not in the order of their frames');
    }
    Object.assign(m, last);
    return m;
  },

  spectra(o) {
    const m = head(o);
    const graphs = object(o.graphs, 'graphs');
    m.graphs = {};
    for (const name of ['SPEC48', 'SPEC256']) {
      if (graphs[name] === undefined) continue;
      const g = object(graphs[name], name);
      m.graphs[name] = {
        x: axis(g.x), y: axis(g.y),
        plots: array(g, 'plots', MAX_PLOTS).map((p) => {
          object(p, 'plot');
          const color = typeof p.color === 'string' && /^#[0-9A-Fa-f]{6}$/.test(p.color) ? p.color : fail('bad colour');
          const x = numbers(array(p, 'x', MAX_POINTS));
          const y = numbers(array(p, 'y', MAX_POINTS));
          if (x.length !== y.length) fail('a plot has more x than y or the reverse');
          return { color, x, y };
        }),
      };
    }
    m.frames_left = o.frames_left === undefined ? null : integer(o, 'frames_left', -2147483648, 2147483647);
    m.frames_left_done = o.frames_left_done === undefined ? false : bool(o, 'frames_left_done');
    m.accumulate = o.accumulate === undefined ? null : bool(o, 'accumulate');
    return m;
  },

  link_status(o) {
    const m = head(o);
    m.after_seq = integer(o, 'after_seq', 0);
    m.status = text(o, 'status');
    return m;
  },
};

function parseFormatWord(word) {
  return parseFormat(word) || fail('a display format is not auto, float, fixed:N or digits:N');
}

function range(r) {
  if (r === null || r === undefined) return null;
  if (!Array.isArray(r) || r.length !== 2) fail('a limit range is not [low, high]');
  const end = (v, open) => (v === null ? open : typeof v === 'number' && Number.isFinite(v) ? v : fail('a limit is not a number'));
  return [end(r[0], -Infinity), end(r[1], Infinity)];
}

function axis(a) {
  object(a, 'axis');
  return { min: finite(a, 'min'), max: finite(a, 'max'), manual: bool(a, 'manual'), log: bool(a, 'log') };
}

function numbers(list) {
  return list.map((v) => {
    const n = toNumber(v);
    if (n === undefined) fail('a point is not a number');
    return n;
  });
}

export const TOPICS = Object.keys(checkers);

// Checks a message of PREFIX/`leaf`. Returns { ok: true, message } or
// { ok: false, reason, detail } (reason: a key of REFUSALS).
export function check(leaf, payload) {
  const checker = checkers[leaf];
  if (!checker) return { ok: false, reason: 'bad_fields', detail: `no such topic ${leaf}` };
  try {
    return { ok: true, message: checker(parse(payload)) };
  } catch (e) {
    if (e instanceof Refused) return { ok: false, reason: e.reason, detail: e.message };
    return { ok: false, reason: 'bad_fields', detail: 'unreadable' };
  }
}
