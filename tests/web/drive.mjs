// Drives the browser view in Debian's Chromium (headless, over the DevTools
// protocol with playwright-core) for the web tests and the screenshots.
//
//   node drive.mjs URL OUT_DIR
//
// Loads URL (the page as the broker serves it), logs in when the page asks
// (VST_WEB_USER, VST_WEB_PASSWORD from the environment), and then, until
// told to quit:
//   - after every drawing of the page, appends what each display shows to
//     OUT_DIR/drawn.jsonl: {"seq":N,"displays":{"HK16":"40.50",...}};
//   - every 100 ms writes OUT_DIR/state.json (renamed into place): the
//     broker and station chips, the page's counts, the last frame drawn,
//     and every WebSocket frame the page sent that was an MQTT PUBLISH;
//   - carries out the commands appended to OUT_DIR/commands, one a line:
//       screenshot WIDTH HEIGHT FILE   the page at that size, whole; and
//                                      OUT_DIR/layout-WIDTHxHEIGHT.json: what
//                                      is cut or overlaps at that size
//       publish TOPIC                  a publish attempt from the page's
//                                      origin with the page's login, over
//                                      a WebSocket of its own (QoS 1: the
//                                      broker's answer is the PUBACK's
//                                      reason code), written to
//                                      OUT_DIR/publish.json
//       quit
// Chromium starts with the machine's flags for a closed network and a new
// empty profile, so nothing leaves this machine. VST_WEB_TRUST_SPKI (the
// base64 SHA-256 of a certificate's public key) makes it trust that one
// certificate, as a viewer's browser trusts the broker's.
import { createRequire } from 'node:module';
import { appendFileSync, existsSync, mkdtempSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, '../../web/package.json'));
const { chromium } = require('playwright-core');

const [url, out] = process.argv.slice(2);
if (!url || !out) {
  console.error('usage: node drive.mjs URL OUT_DIR');
  process.exit(2);
}
const CHROMIUM = process.env.VST_WEB_CHROMIUM || '/usr/bin/chromium';

const profile = mkdtempSync(join(tmpdir(), 'vst-web-profile-'));
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: CHROMIUM,
  headless: true,
  viewport: { width: 1366, height: 768 },
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync',
         ...(process.env.VST_WEB_TRUST_SPKI ? [`--ignore-certificate-errors-spki-list=${process.env.VST_WEB_TRUST_SPKI}`] : [])],
});
let quitting = false;
async function finish(code) {
  quitting = true;
  try { await browser.close(); } catch { /* already gone */ }
  rmSync(profile, { recursive: true, force: true });
  process.exit(code);
}
process.on('SIGTERM', () => finish(0));

const page = browser.pages()[0] || await browser.newPage();
const published = [];   // MQTT PUBLISH packets the page itself sent
page.on('websocket', (ws) => {
  let attempt = false;  // the test's own publish attempt (below), not the page's
  ws.on('framesent', (f) => {
    const p = typeof f.payload === 'string' ? Buffer.from(f.payload, 'latin1') : f.payload;
    if ((p[0] >> 4) === 1 && p.includes('vst-web-attempt')) attempt = true;
    if ((p[0] >> 4) === 3 && !attempt) published.push(ws.url());
  });
});
// The page's own faults: exceptions it did not catch. (Chromium's console
// also reports a refused WebSocket as an error: a broker away is not one.)
const errors = [];
page.on('pageerror', (e) => errors.push(String(e).slice(0, 300)));

// Every drawing, as the page shows it: read in the page, at the moment it drew.
await page.exposeFunction('vstDrawn', (line) => appendFileSync(join(out, 'drawn.jsonl'), line + '\n'));
await page.addInitScript(() => {
  let last = -1;
  document.addEventListener('vst:drawn', (e) => {
    const seq = e.detail.seq;
    if (seq === last || seq === 0) return;
    last = seq;
    const displays = {};
    for (const o of document.querySelectorAll('[data-display]')) displays[o.dataset.display] = o.textContent;
    window.vstDrawn(JSON.stringify({ seq, session: e.detail.session, displays }));
  });
});
await page.goto(url);

// The page asks for the password when the address names a user.
if (process.env.VST_WEB_PASSWORD) {
  await page.fill('input[name=password]', process.env.VST_WEB_PASSWORD);
  await page.click('form#connect button[type=submit]');
}

// A publish attempt with the page's login from the page's own origin.
async function publishAttempt(topic) {
  return page.evaluate(async ({ topic, user, password }) => {
    const enc = new TextEncoder();
    const str = (s) => { const b = enc.encode(s); return [b.length >> 8, b.length & 255, ...b]; };
    const varint = (n) => { const o = []; do { let d = n % 128; n = Math.floor(n / 128); if (n) d |= 128; o.push(d); } while (n); return o; };
    const packet = (type, body) => new Uint8Array([type, ...varint(body.length), ...body]);
    const connect = packet(0x10, [...str('MQTT'), 5, 0xc2, 0, 30, 0, ...str('vst-web-attempt'), ...str(user), ...str(password)]);
    const publish = packet(0x32, [...str(topic), 0, 1, 0, ...enc.encode('{"forged":true}')]);
    const ws = new WebSocket(`${location.protocol === 'https:' ? 'wss' : 'ws'}://${location.host}`, 'mqtt');
    ws.binaryType = 'arraybuffer';
    return await new Promise((resolve) => {
      const result = { connack: null, puback: null };
      const timer = setTimeout(() => { ws.close(); resolve({ ...result, timeout: true }); }, 10000);
      ws.onopen = () => ws.send(connect);
      ws.onmessage = (m) => {
        const b = new Uint8Array(m.data);
        if (b[0] >> 4 === 2) {
          result.connack = b[3];
          if (b[3] === 0) ws.send(publish);
          else { clearTimeout(timer); ws.close(); resolve(result); }
        } else if (b[0] >> 4 === 4) {
          result.puback = b[1] >= 3 ? b[4] : 0;
          clearTimeout(timer);
          ws.close();
          resolve(result);
        }
      };
      ws.onerror = () => { clearTimeout(timer); resolve({ ...result, error: true }); };
    });
  }, { topic, user: process.env.VST_WEB_USER || '', password: process.env.VST_WEB_PASSWORD || '' });
}

// What is cut or overlapping on the page as laid out now: the page wider
// than the window; a text that does not fit its box or a box that sticks
// out of its group; two boxes (labels, displays, units, headings, buttons,
// chips, plots) or two groups over one another. A list of findings, each
// naming the elements; empty when all is well.
async function layoutProblems() {
  return page.evaluate(() => {
    const problems = [];
    const name = (e) => e.id ? `#${e.id}` : e.dataset.display ? `display ${e.dataset.display}`
      : `${e.tagName.toLowerCase()} "${e.textContent.trim().slice(0, 30)}" in #${e.closest('[id]')?.id}`;
    const shown = (e) => { const r = e.getBoundingClientRect(); return r.width > 0 && r.height > 0; };
    if (document.documentElement.scrollWidth > window.innerWidth)
      problems.push(`the page is ${document.documentElement.scrollWidth} px wide in a window of ${window.innerWidth}`);
    const boxes = [...document.querySelectorAll('header#top > *, #health .row > *, section.group h2, ' +
                                                 'section.group label, .display, .unit, .plot, button')].filter(shown);
    for (const e of boxes) {
      if (e.tagName !== 'PRE' && e.scrollWidth > e.clientWidth + 1 && getComputedStyle(e).overflowX !== 'auto')
        problems.push(`${name(e)} is cut: its text is ${e.scrollWidth} px wide in ${e.clientWidth}`);
      const group = e.closest('section.group');
      if (group) {
        const r = e.getBoundingClientRect(), g = group.getBoundingClientRect();
        if (r.left < g.left - 1 || r.right > g.right + 1) problems.push(`${name(e)} sticks out of #${group.id}`);
      }
    }
    const overlap = (a, b) => {
      const r = a.getBoundingClientRect(), q = b.getBoundingClientRect();
      return Math.min(r.right, q.right) - Math.max(r.left, q.left) > 1 && Math.min(r.bottom, q.bottom) - Math.max(r.top, q.top) > 1;
    };
    const pairs = (list) => {
      for (let i = 0; i < list.length; ++i)
        for (let j = i + 1; j < list.length; ++j)
          if (!list[i].contains(list[j]) && !list[j].contains(list[i]) && overlap(list[i], list[j]))
            problems.push(`${name(list[i])} and ${name(list[j])} overlap`);
    };
    pairs(boxes);
    pairs([...document.querySelectorAll('section.group, section#health, header#top')].filter(shown));
    return problems;
  });
}

async function state() {
  const s = await page.evaluate(() => ({
    broker: document.getElementById('broker').textContent,
    brokerState: document.getElementById('broker').dataset.state || '',
    presence: document.getElementById('presence').textContent,
    counts: document.getElementById('counts').textContent,
    pageCounts: document.getElementById('page-counts').textContent,
    health: document.getElementById('h-state').textContent,
    alarms: document.getElementById('alarms').textContent,
    alarmHead: document.getElementById('alarm-head').textContent,
    connectShown: !document.getElementById('connect').hidden,
    log: document.getElementById('log').children.length,
    spectra: document.querySelectorAll('#g-spectra canvas').length,
  }));
  return { ...s, published, errors };
}

let done = 0;
for (;;) {
  try {
    const s = await state();
    writeFileSync(join(out, 'state.json.new'), JSON.stringify(s));
    renameSync(join(out, 'state.json.new'), join(out, 'state.json'));
  } catch (e) {
    if (quitting) break;
    errors.push('driver: ' + String(e).slice(0, 200));
  }
  const file = join(out, 'commands');
  const lines = existsSync(file) ? readFileSync(file, 'utf8').split('\n').filter(Boolean) : [];
  for (; done < lines.length; ++done) {
    const [command, ...args] = lines[done].split(' ');
    if (command === 'quit') await finish(0);
    if (command === 'screenshot') {
      const [w, h, path] = args;
      await page.setViewportSize({ width: Number(w), height: Number(h) });
      await page.waitForTimeout(600);  // the plots follow their new width
      await page.screenshot({ path, fullPage: false });
      writeFileSync(join(out, `layout-${w}x${h}.json`), JSON.stringify(await layoutProblems()));
      appendFileSync(join(out, 'done'), `screenshot ${path}\n`);
    } else if (command === 'publish') {
      const result = await publishAttempt(args[0]);
      writeFileSync(join(out, 'publish.json'), JSON.stringify(result));
    }
  }
  await new Promise((r) => setTimeout(r, 100));
}
