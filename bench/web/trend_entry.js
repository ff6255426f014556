// The page's trend view alone, for bench/web_page.mjs: a day of one value
// at the link's rate drawn by the page's own code (src/history.js,
// src/views/plots.js).
import 'uplot/dist/uPlot.min.css';
import { DAY_POINTS, Ring } from '../../web/src/history.js';
import { TrendView } from '../../web/src/views/plots.js';

const ring = new Ring(DAY_POINTS);
const t0 = Date.UTC(2026, 0, 1);
for (let i = 0; i < DAY_POINTS; ++i) ring.add(t0 + i * 100, 20 + 10 * Math.sin(i / 3000) + (i % 7) * 0.01);
const view = new TrendView(document.getElementById('trend'), document.getElementById('note'));
(async () => {
  const times = [];
  for (let i = 0; i < 5; ++i) {
    const start = performance.now();
    view.show('HK16', ring, '°C');
    // The drawing is done once the browser has painted it.
    await new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)));
    times.push(performance.now() - start);
  }
  window.trendResult = { points: ring.length, ms: times };
})();
