// The page's trend view alone, for bench/web_page.mjs: a day of one value
// at the link's rate drawn by the page's own code (src/history.js,
// src/views/plots.js), five times over the whole day, then zoomed to its
// last hour.
import 'uplot/dist/uPlot.min.css';
import { DAY_POINTS, Ring } from '../../web/src/history.js';
import { TrendView } from '../../web/src/views/plots.js';

const ring = new Ring(DAY_POINTS);
const t0 = Date.UTC(2026, 0, 1);
for (let i = 0; i < DAY_POINTS; ++i) ring.add(t0 + i * 100, 20 + 10 * Math.sin(i / 3000) + (i % 7) * 0.01);
const view = new TrendView(document.getElementById('trend'), document.getElementById('note'));
// The drawing is done once the browser has painted it.
const painted = () => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
(async () => {
  const times = [], scripts = [];
  for (let i = 0; i < 5; ++i) {
    const start = performance.now();
    scripts.push(view.show('HK16', ring, '°C'));
    await painted();
    times.push(performance.now() - start);
  }
  const start = performance.now();
  const end = (t0 + (DAY_POINTS - 1) * 100) / 1000;
  view.plot.setScale('x', { min: end - 3600, max: end });
  await painted();
  const zoomMs = performance.now() - start;
  window.trendResult = { points: ring.length, ms: times, scriptMs: scripts, zoomMs, handed: view.plot.data[0].length };
})();
