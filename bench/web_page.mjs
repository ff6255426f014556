// The browser view measured in Debian's Chromium (figures in
// docs/performance.md):
//   0. the floor: a page that changes one line of text ten times a second,
//      in the same Chromium, over the same time;
//   1. the page's CPU at the link's rate: the built station plays a
//      recording at speed 1 (10 frames/s) to a mosquitto of its own on free
//      loopback ports; over 60 s, the CPU time of the page's renderer
//      process and of all of Chromium's processes, per second of wall time,
//      and where the renderer's time went (DevTools Performance metrics);
//   2. frame to page: for every frame the page drew, the time from the
//      station showing it to the page's drawing of it (one machine, one
//      clock): median and 99th percentile;
//   3. a day of one value (864 000 points) drawn by the page's trend.
//   node bench/web_page.mjs [BUILD_DIR] [--seconds S] [--no-floor] [--no-trend] [--trend-only]
//                           [--page DIR]  (another build of the page, e.g. an
//                                          older one, to compare)
//                           [--profile]   (the page unminified: the renderer's
//                                          time by thread and event, and its
//                                          scripts' heaviest functions)
import { spawn, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync, copyFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const args = process.argv.slice(2);
const option = (name) => { const i = args.indexOf(name); return i < 0 ? null : args.splice(i, 2)[1]; };
const flag = (name) => { const i = args.indexOf(name); if (i >= 0) args.splice(i, 1); return i >= 0; };
const SECONDS = Number(option('--seconds') || 60);
const pageDir = option('--page');
const [noFloor, noTrend, profile, trendOnly] = [flag('--no-floor'), flag('--no-trend'), flag('--profile'), flag('--trend-only')];
const build = resolve(args[0] || join(root, 'build'));
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

// CPU time of the renderers of `browser`'s pages and of all its processes,
// per second of wall time, over `seconds`; `during` runs meanwhile.
async function cpuShare(seconds, during = async () => {}) {
  const all = descendants(process.pid).filter((p) => cmdline(p).includes('chromium'));
  const renderers = all.filter((p) => cmdline(p).includes('--type=renderer'));
  const t0 = Date.now(), r0 = renderers.map(ticks), a0 = all.map(ticks);
  await Promise.all([sleep(seconds * 1000), during()]);
  const wall = (Date.now() - t0) / 1000;
  const share = (xs, x0) => (xs.reduce((s, x) => s + x, 0) - x0.reduce((s, x) => s + x, 0)) / HZ / wall * 100;
  return { wall, renderer: share(renderers.map(ticks), r0), all: share(all.map(ticks), a0), processes: all.length };
}

// ----- 0: the floor ----------------------------------------------------------------
if (!noFloor && !trendOnly) {
  const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: FLAGS });
  const page = await browser.newPage({ viewport: { width: 1366, height: 768 } });
  await page.goto('data:text/html,<meta charset=utf-8><p id=t></p><script>let n=0;' +
                  'setInterval(()=>{document.getElementById("t").textContent="frame "+(++n)},100)</script>');
  await sleep(3000);
  const floor = await cpuShare(Math.min(SECONDS, 30));
  console.log(`the floor (one line of text changed ten times a second), over ${floor.wall.toFixed(0)} s: ` +
              `renderer ${floor.renderer.toFixed(1)} % of one core, all of Chromium ${floor.all.toFixed(1)} %`);
  await browser.close();
}

// ----- 1 and 2: the page at the link's rate ------------------------------------
async function atLinkRate(browser) {
  let httpDir = pageDir ? resolve(pageDir) : join(build, 'web');
  if (profile) {
    // The page as built, but readable: its functions keep their names.
    httpDir = join(work, 'web');
    await esbuild.build({ entryPoints: { app: join(root, 'web/src/main.js') }, outdir: httpDir, bundle: true,
                          format: 'iife', platform: 'browser', minify: false, logLevel: 'warning',
                          nodePaths: [join(root, 'web/node_modules')] });
    copyFileSync(join(root, 'web/index.html'), join(httpDir, 'index.html'));
  }
  const [mqttPort, wsPort] = [await freePort(), await freePort()];
  writeFileSync(join(work, 'm.conf'), `${process.getuid() === 0 ? 'user root\n' : ''}persistence false\nallow_anonymous true\n` +
    `listener ${mqttPort} 127.0.0.1\nlistener ${wsPort} 127.0.0.1\nprotocol websockets\nhttp_dir ${httpDir}\n`);
  children.push(spawn('mosquitto', ['-c', join(work, 'm.conf')], { stdio: 'ignore' }));
  const rec = join(work, 'rec.dat');
  // Long enough for the warm-up, the measure and a profile at 10 frames/s.
  const frames = Math.max(900, Math.ceil((SECONDS + 60) * 10));
  spawnSync(join(build, 'bin/gse_sim'), ['--out', rec, '--frames', String(frames), '--seed', '3', '--quiet']);
  await sleep(500);

  const page = await browser.newPage({ viewport: { width: 1366, height: 768 } });
  await page.addInitScript(() => {
    window.ages = [];
    window.drawings = 0;
    document.addEventListener('vst:drawn', (e) => { ++window.drawings; if (e.detail.age_ms !== null) window.ages.push(e.detail.age_ms); });
  });
  await page.goto(`http://127.0.0.1:${wsPort}/index.html?prefix=bench/gse`);
  await page.waitForFunction(() => document.getElementById('broker').dataset.state === 'connected');
  const station = spawn(join(build, 'bin/vst_gse'), ['--headless', '--speed', '1', '--publish',
    `mqtt://127.0.0.1:${mqttPort}/bench/gse`, rec], { stdio: 'ignore', cwd: work });
  children.push(station);
  await page.waitForFunction(() => window.ages.length >= 50, null, { timeout: 60000 });  // warmed up

  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Performance.enable');
  const metrics = async () => Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
  const [drawn0, drawings0] = await page.evaluate(() => [window.ages.length, window.drawings]);
  const m0 = await metrics();
  const cpu = await cpuShare(SECONDS);
  const m1 = await metrics();
  const [drawn1, drawings1] = await page.evaluate(() => [window.ages.length, window.drawings]);
  const part = (name) => ((m1[name] - m0[name]) / cpu.wall * 100).toFixed(1);
  const ages = await page.evaluate(() => window.ages.slice(50));
  console.log(`page at the link's rate: ${((drawn1 - drawn0) / cpu.wall).toFixed(1)} frames drawn/s over ${cpu.wall.toFixed(0)} s, ` +
              `${((drawings1 - drawings0) / cpu.wall).toFixed(1)} drawings/s`);
  console.log(`  renderer (the page): ${cpu.renderer.toFixed(1)} % of one core`);
  console.log(`  all of Chromium's processes: ${cpu.all.toFixed(1)} % of one core (${cpu.processes} processes)`);
  console.log(`  the renderer's main thread (Performance metrics): tasks ${part('TaskDuration')} %, scripts ${part('ScriptDuration')} %, ` +
              `layout ${part('LayoutDuration')} % (${m1.LayoutCount - m0.LayoutCount} layouts), style ${part('RecalcStyleDuration')} % ` +
              `(${m1.RecalcStyleCount - m0.RecalcStyleCount} recalculations)`);
  console.log(`  the page's counts: ${await page.evaluate(() => document.getElementById('counts').textContent)}`);
  console.log(`frame to page (station shows it -> page drew it), ${ages.length} frames: median ${quantile(ages, 0.5)} ms, ` +
              `99th percentile ${quantile(ages, 0.99)} ms, largest ${Math.max(...ages)} ms`);

  if (profile) {
    // Where the renderer's threads spend their time: the timeline's events
    // over 10 s, self CPU time (the thread's own, not waits) by event name
    // and thread.
    await browser.startTracing(page, { categories: ['devtools.timeline', 'disabled-by-default-devtools.timeline', 'toplevel', 'cc', 'blink'] });
    await sleep(10000);
    const trace = JSON.parse((await browser.stopTracing()).toString());
    const events = trace.traceEvents || trace;
    const threads = new Map();
    for (const e of events) if (e.ph === 'M' && e.name === 'thread_name') threads.set(`${e.pid}:${e.tid}`, e.args.name);
    const rendererPid = events.find((e) => e.ph === 'M' && e.name === 'thread_name' && e.args.name === 'CrRendererMain')?.pid;
    const byThread = new Map();
    for (const e of events) {
      if (e.ph !== 'X' || e.pid !== rendererPid || !e.dur) continue;
      const k = `${e.pid}:${e.tid}`;
      if (!byThread.has(k)) byThread.set(k, []);
      byThread.get(k).push(e);
    }
    const selfByEvent = new Map();
    for (const [k, list] of byThread) {
      list.sort((a, b) => a.ts - b.ts || b.dur - a.dur);
      const stack = [];
      for (const e of list) {
        while (stack.length && stack[stack.length - 1].ts + stack[stack.length - 1].dur <= e.ts) stack.pop();
        if (stack.length) stack[stack.length - 1].tself -= e.tdur ?? e.dur;
        e.tself = e.tdur ?? e.dur;
        e.thread = threads.get(k) || k;
        stack.push(e);
      }
      for (const e of list) { const key = `${e.thread} ${e.name}`; selfByEvent.set(key, (selfByEvent.get(key) || 0) + e.tself); }
    }
    console.log('the renderer over 10 s, self CPU time by thread and event (% of one core):');
    for (const [k, v] of [...selfByEvent].sort((x, y) => y[1] - x[1]).slice(0, 25))
      console.log(`  ${(v / 1e4 / 10).toFixed(2).padStart(6)} %  ${k}`);

    // Where the scripts' time goes: self time by function, sampled every 0.5 ms.
    await cdp.send('Profiler.enable');
    await cdp.send('Profiler.setSamplingInterval', { interval: 500 });
    await cdp.send('Profiler.start');
    await sleep(20000);
    const { profile: p } = await cdp.send('Profiler.stop');
    const self = new Map();
    let total = 0;
    for (const n of p.nodes) {
      const f = n.callFrame;
      const key = `${f.functionName || '(anonymous)'} ${f.url.split('/').pop()}:${f.lineNumber + 1}`;
      self.set(key, (self.get(key) || 0) + (n.hitCount || 0));
      total += n.hitCount || 0;
    }
    console.log(`profile over 20 s, ${total} samples; self time, heaviest first:`);
    for (const [k, v] of [...self].sort((x, y) => y[1] - x[1]).slice(0, 30))
      console.log(`  ${(v / total * 100).toFixed(1).padStart(5)} %  ${k}`);
  }
  station.kill('SIGTERM');
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: FLAGS });
if (!trendOnly) await atLinkRate(browser);

// ----- 3: a day of one value in the trend ----------------------------------------
if (noTrend) { await browser.close(); process.exit(0); }
await esbuild.build({ entryPoints: { trend: join(root, 'bench/web/trend_entry.js') }, outdir: work, bundle: true,
                      format: 'iife', minify: true, logLevel: 'warning', nodePaths: [join(root, 'web/node_modules')] });
copyFileSync(join(root, 'bench/web/trend.html'), join(work, 'trend.html'));
const trendPage = await browser.newPage({ viewport: { width: 1366, height: 768 } });
await trendPage.goto(`file://${join(work, 'trend.html')}`);
const result = await trendPage.waitForFunction(() => window.trendResult, null, { timeout: 120000 }).then((h) => h.jsonValue());
console.log(`a day of one value in the trend: ${result.points.toLocaleString('en')} points, drawn in ` +
            `${result.ms.map((m) => Math.round(m)).join(', ')} ms to the paint (five drawings; the first includes the page's ` +
            `warm-up), of which the page's script ${result.scriptMs.map((m) => m.toFixed(1)).join(', ')} ms; ` +
            `zoomed to its last hour: ${Math.round(result.zoomMs)} ms; ${result.handed.toLocaleString('en')} points handed to uPlot`);
await browser.close();
process.exit(0);
