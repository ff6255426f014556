// The browser view measured in Debian's Chromium (figures in
// docs/performance.md):
//   1. the page's CPU at the link's rate: the built station plays a
//      recording at speed 1 (10 frames/s) to a mosquitto of its own on free
//      loopback ports; over 60 s, the CPU time of the page's renderer
//      process and of all of Chromium's processes, per second of wall time;
//   2. frame to page: for every frame the page drew, the time from the
//      station showing it to the page's drawing of it (one machine, one
//      clock): median and 99th percentile;
//   3. a day of one value (864 000 points) drawn by the page's trend.
//   node bench/web_page.mjs [BUILD_DIR]     (default: build)
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync, copyFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const build = resolve(process.argv[2] || join(root, 'build'));
const require = createRequire(join(root, 'web/package.json'));
const { chromium } = require('playwright-core');
const esbuild = require('esbuild');
const work = mkdtempSync(join(tmpdir(), 'gse-web-bench-'));
const children = [];
const cleanup = () => { for (const c of children) try { c.kill('SIGKILL'); } catch { /* gone */ } rmSync(work, { recursive: true, force: true }); };
process.on('exit', cleanup);
const FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'];

const freePort = () => new Promise((res) => { const s = createServer().listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => res(p)); }); });
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const ticks = (pid) => { try { const f = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' '); return Number(f[11]) + Number(f[12]); } catch { return 0; } };
const descendants = (pid) => {
  const kids = [];
  for (const d of readdirSync('/proc')) {
    if (!/^\d+$/.test(d)) continue;
    try { if (readFileSync(`/proc/${d}/stat`, 'utf8').split(') ')[1].split(' ')[1] === String(pid)) kids.push(Number(d)); } catch { /* gone */ }
  }
  return kids.flatMap((k) => [k, ...descendants(k)]);
};
const cmdline = (pid) => { try { return readFileSync(`/proc/${pid}/cmdline`, 'utf8'); } catch { return ''; } };
const HZ = 100;
const quantile = (xs, q) => { const s = [...xs].sort((a, b) => a - b); return s[Math.min(s.length - 1, Math.floor(q * s.length))]; };

// ----- 1 and 2: the page at the link's rate ------------------------------------
const [mqttPort, wsPort] = [await freePort(), await freePort()];
writeFileSync(join(work, 'm.conf'), `${process.getuid() === 0 ? 'user root\n' : ''}persistence false\nallow_anonymous true\n` +
  `listener ${mqttPort} 127.0.0.1\nlistener ${wsPort} 127.0.0.1\nprotocol websockets\nhttp_dir ${join(build, 'web')}\n`);
children.push(spawn('mosquitto', ['-c', join(work, 'm.conf')], { stdio: 'ignore' }));
const rec = join(work, 'rec.dat');
spawnSync(join(build, 'bin/gse_sim'), ['--out', rec, '--frames', '900', '--seed', '3', '--quiet']);
await sleep(500);

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: FLAGS });
const page = await browser.newPage({ viewport: { width: 1366, height: 768 } });
await page.addInitScript(() => {
  window.ages = [];
  document.addEventListener('vst:drawn', (e) => { if (e.detail.age_ms !== null) window.ages.push(e.detail.age_ms); });
});
await page.goto(`http://127.0.0.1:${wsPort}/index.html?prefix=bench/gse`);
await page.waitForFunction(() => document.getElementById('broker').dataset.state === 'connected');
const station = spawn(join(build, 'bin/vst_gse'), ['--headless', '--speed', '1', '--publish',
  `mqtt://127.0.0.1:${mqttPort}/bench/gse`, rec], { stdio: 'ignore', cwd: work });
children.push(station);
await page.waitForFunction(() => window.ages.length >= 50, null, { timeout: 60000 });  // warmed up

const browserPid = browser.process ? browser.process().pid : null;
const all = descendants(process.pid).filter((p) => cmdline(p).includes('chromium'));
const renderers = all.filter((p) => cmdline(p).includes('--type=renderer'));
const before = { all: all.map(ticks), renderers: renderers.map(ticks), t: Date.now(), drawn: await page.evaluate(() => window.ages.length) };
await sleep(60000);
const after = { all: all.map(ticks), renderers: renderers.map(ticks), t: Date.now(), drawn: await page.evaluate(() => window.ages.length) };
const wall = (after.t - before.t) / 1000;
const share = (a, b) => (a.reduce((s, x) => s + x, 0) - b.reduce((s, x) => s + x, 0)) / HZ / wall * 100;
const ages = await page.evaluate(() => window.ages.slice(50));
console.log(`page at the link's rate: ${((after.drawn - before.drawn) / wall).toFixed(1)} frames drawn/s over ${wall.toFixed(0)} s`);
console.log(`  renderer (the page): ${share(after.renderers, before.renderers).toFixed(1)} % of one core`);
console.log(`  all of Chromium's processes: ${share(after.all, before.all).toFixed(1)} % of one core (${all.length} processes${browserPid ? '' : ''})`);
console.log(`frame to page (station shows it -> page drew it), ${ages.length} frames: median ${quantile(ages, 0.5)} ms, ` +
            `99th percentile ${quantile(ages, 0.99)} ms, largest ${Math.max(...ages)} ms`);
station.kill('SIGTERM');

// ----- 3: a day of one value in the trend ----------------------------------------
await esbuild.build({ entryPoints: { trend: join(root, 'bench/web/trend_entry.js') }, outdir: work, bundle: true,
                      format: 'iife', minify: true, logLevel: 'warning', nodePaths: [join(root, 'web/node_modules')] });
copyFileSync(join(root, 'bench/web/trend.html'), join(work, 'trend.html'));
const trendPage = await browser.newPage({ viewport: { width: 1366, height: 768 } });
await trendPage.goto(`file://${join(work, 'trend.html')}`);
const result = await trendPage.waitForFunction(() => window.trendResult, null, { timeout: 120000 }).then((h) => h.jsonValue());
console.log(`a day of one value in the trend: ${result.points.toLocaleString('en')} points, drawn in ` +
            `${result.ms.map((m) => Math.round(m)).join(', ')} ms (five drawings; the first includes the page's warm-up)`);
await browser.close();
process.exit(0);
