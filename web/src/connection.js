// The page's connection to the broker: MQTT 5 over WebSockets, subscribe
// only. It subscribes to PREFIX/+ and hands each message to the page; it
// has no way to publish. A broker that goes away is shown ("broker away")
// and tried again after 0.5 s, then 1, 2, 4 ... up to 15 s, as the station
// does; a refused login waits for the operator. The password is kept in
// this object only: never in the address, the page's storage or a cookie.

import mqtt from 'mqtt';

export const BACKOFF_MIN_S = 0.5;
export const BACKOFF_MAX_S = 15;
export const MAX_PACKET = 1024 * 1024;  // the broker drops larger messages for us
const CONNECT_TIMEOUT_MS = 10000;

export function nextBackoff(s) {
  return Math.min(s * 2, BACKOFF_MAX_S);
}

// A prefix as the station takes it: topic levels, none empty, no wildcards,
// not starting with '$'. Returns why it is not one, or ''.
export function prefixProblem(prefix) {
  if (!prefix) return 'no prefix given (the station\'s PREFIX, e.g. vst/station1)';
  if (prefix.length > 200) return 'the prefix is longer than 200 characters';
  if (prefix.startsWith('$')) return 'the prefix starts with $';
  if (/[+#\u0000-\u001f]/.test(prefix)) return 'the prefix holds a wildcard or a control character';
  if (prefix.split('/').some((level) => level === '')) return 'the prefix has an empty level';
  return '';
}

export function brokerProblem(url) {
  let u;
  try {
    u = new URL(url);
  } catch {
    return `"${url}" is not an address (ws://HOST:PORT or wss://HOST:PORT)`;
  }
  if (u.protocol !== 'ws:' && u.protocol !== 'wss:') return `"${url}" is not a WebSocket address (ws:// or wss://)`;
  if (u.username || u.password) return 'give the login in its fields, not in the address';
  return '';
}

// The broker and prefix from the page's address (?broker=...&prefix=...&user=...);
// by default the broker that served the page.
export function settingsFromAddress(location) {
  const q = new URLSearchParams(location.search);
  const scheme = location.protocol === 'https:' ? 'wss' : 'ws';
  return {
    broker: q.get('broker') || (location.host ? `${scheme}://${location.host}` : ''),
    prefix: q.get('prefix') || '',
    user: q.get('user') || '',
    password: '',
  };
}

// Why the broker refused us, in words, from an MQTT 5 reason code.
function refusalWords(code) {
  switch (code) {
    case 134: return 'bad user name or password';
    case 135: return 'not authorized';
    case 4: case 5: return 'not authorized';
    default: return `refused (reason ${code})`;
  }
}

export class Connection {
  // onMessage(leaf, payload): a message on PREFIX/leaf; onChange(): the
  // connection's state changed.
  constructor(onMessage, onChange, clock = {
    setTimeout: (f, ms) => setTimeout(f, ms),
    clearTimeout: (t) => clearTimeout(t),
    now: () => Date.now(),
  }) {
    this.onMessage = onMessage;
    this.onChange = onChange;
    this.clock = clock;
    this.state = 'idle';   // idle, connecting, connected, away, refused
    this.reason = '';
    this.backoff = BACKOFF_MIN_S;
    this.retryAt = 0;
    this.client = null;
    this.timer = null;
    this.settings = null;
    this.awaySince = 0;
    this.reconnects = 0;
  }

  words() {
    switch (this.state) {
      case 'connecting': return 'BROKER: CONNECTING';
      case 'connected': return 'BROKER: CONNECTED';
      case 'refused': return `BROKER REFUSED: ${this.reason}`;
      case 'away': {
        const wait = Math.max(0, Math.ceil((this.retryAt - this.clock.now()) / 1000));
        return `BROKER AWAY${this.reason ? ': ' + this.reason : ''} · again in ${wait} s`;
      }
      default: return 'BROKER: NOT CONNECTED';
    }
  }

  start(settings) {
    this.settings = settings;
    this.backoff = BACKOFF_MIN_S;
    this.open();
  }

  set(state, reason = '') {
    this.state = state;
    this.reason = reason;
    this.onChange();
  }

  drop() {
    if (this.timer) this.clock.clearTimeout(this.timer);
    this.timer = null;
    if (this.client) {
      const c = this.client;
      this.client = null;
      c.removeAllListeners();
      c.on('error', () => {});
      c.end(true);
    }
  }

  open() {
    this.drop();
    const s = this.settings;
    this.set('connecting');
    const client = mqtt.connect(s.broker, {
      protocolVersion: 5,
      clean: true,
      reconnectPeriod: 0,  // the back-off is ours
      connectTimeout: CONNECT_TIMEOUT_MS,
      keepalive: 20,
      resubscribe: false,
      clientId: 'vst-web-' + Math.random().toString(16).slice(2, 14),
      username: s.user || undefined,
      password: s.user ? s.password : undefined,
      properties: { maximumPacketSize: MAX_PACKET },
    });
    this.client = client;
    const topLength = s.prefix.length + 1;
    client.on('connect', () => {
      if (client !== this.client) return;
      client.subscribe(`${s.prefix}/+`, { qos: 0 }, (err, granted) => {
        if (client !== this.client) return;
        const code = granted && granted[0] ? granted[0].reasonCode ?? granted[0].qos : 0;
        if (err || code >= 128) {
          this.set('refused', `may not read ${s.prefix}/+ (${err ? err.message : refusalWords(code)})`);
          this.drop();
          return;
        }
        if (this.state !== 'connected' && this.awaySince) ++this.reconnects;
        this.backoff = BACKOFF_MIN_S;
        this.set('connected');
      });
    });
    client.on('message', (topic, payload) => {
      if (client !== this.client || !topic.startsWith(s.prefix + '/')) return;
      const leaf = topic.slice(topLength);
      if (leaf.includes('/')) return;
      this.onMessage(leaf, payload);
    });
    client.on('error', (err) => {
      if (client !== this.client) return;
      if (err && typeof err.code === 'number' && (err.code === 134 || err.code === 135 || err.code === 4 || err.code === 5)) {
        this.set('refused', refusalWords(err.code));
        this.drop();
      } else {
        this.reason = err && err.message ? String(err.message).slice(0, 200) : '';
      }
    });
    client.on('close', () => {
      if (client !== this.client || this.state === 'refused') return;
      this.retry();
    });
  }

  retry() {
    if (this.state !== 'away') this.awaySince = this.clock.now();
    const wait = this.backoff;
    this.backoff = nextBackoff(this.backoff);
    this.retryAt = this.clock.now() + wait * 1000;
    const reason = this.reason && this.state === 'connecting' ? this.reason : '';
    this.drop();
    this.set('away', reason);
    this.timer = this.clock.setTimeout(() => this.open(), wait * 1000);
  }
}
