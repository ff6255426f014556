// What the trend hands to uPlot: no more points than its pixels can show.
// A day at the link's rate is 864 000 points for one value, some 1300
// pixel columns wide; drawing them all costs the browser a second. Per
// pixel column the line needs only the column's first, lowest, highest and
// last point (in the order they came): it then looks the same, spikes
// included. Where a range holds no more points than columns, every point
// goes as it is.
//
// The line breaks (a null, as uPlot draws a gap) where a value is NaN or an
// infinity, and where no frame came for more than TREND_GAP_MS between two
// of its points (the station silent, the broker away): a value written once
// every 40 frames is not broken by the frames between.

export const TREND_GAP_MS = 3000;

// First index whose time is >= ms (t ascending).
function lowerBound(t, ms) {
  let lo = 0, hi = t.length;
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (t[mid] < ms) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// First index whose time is > ms.
function upperBound(t, ms) {
  let lo = 0, hi = t.length;
  while (lo < hi) {
    const mid = (lo + hi) >>> 1;
    if (t[mid] <= ms) lo = mid + 1;
    else hi = mid;
  }
  return lo;
}

// The points of times `t` (ms, ascending) and values `v` that draw the range
// [fromMs, toMs] over `columns` pixel columns, as uPlot takes them: times in
// seconds and values, null where the line breaks. `silences` are the
// [lastFrameMs, nextFrameMs] pairs, ascending, where no frame came for more
// than TREND_GAP_MS. Besides the range, the point just before it and just
// after it go as they are (the line enters and leaves at the plot's edges),
// and the very first and last point (so a reset of the zoom finds the whole
// extent), each beyond a break.
export function trendPoints(t, v, fromMs, toMs, columns, silences = []) {
  const xs = [], ys = [];
  const n = t.length;
  if (n === 0) return [xs, ys];
  const lo = lowerBound(t, fromMs), hi = upperBound(t, toMs);  // [lo, hi) lie in the range
  const exact = hi - lo <= columns;
  const a = Math.max(0, lo - 1), b = Math.min(n, hi + 1);
  const span = toMs - fromMs;

  const point = (i) => { xs.push(t[i] / 1000); ys.push(Number.isFinite(v[i]) ? v[i] : null); };
  const gap = (ms) => {
    if (ys.length > 0 && ys[ys.length - 1] !== null) { xs.push(ms / 1000); ys.push(null); }
  };
  let k = 0;  // the first silence that may lie after the previous point
  const silent = (fromT, toT) => {
    while (k < silences.length && silences[k][0] < fromT) ++k;
    return k < silences.length && silences[k][1] <= toT;
  };

  // One pixel column's points: first, lowest, highest, last, by index.
  let col = null, first = 0, min = 0, max = 0, last = 0;
  const flush = () => {
    if (col === null) return;
    col = null;
    const low = Math.min(min, max), high = Math.max(min, max);
    point(first);
    if (low !== first) point(low);
    if (high !== low) point(high);
    if (last !== high) point(last);
  };

  if (a > 0) {
    point(0);
    gap((t[0] + t[a]) / 2);
  }
  for (let i = a; i < b; ++i) {
    if (i > a && silent(t[i - 1], t[i])) {
      flush();
      gap((t[i - 1] + t[i]) / 2);
    }
    if (!Number.isFinite(v[i])) {
      flush();
      gap(t[i]);
      continue;
    }
    if (exact) {
      point(i);
      continue;
    }
    const c = t[i] < fromMs ? -1 : t[i] > toMs ? columns
      : span > 0 ? Math.min(columns - 1, Math.floor(((t[i] - fromMs) * columns) / span)) : 0;
    if (c === col) {
      if (v[i] < v[min]) min = i;
      if (v[i] > v[max]) max = i;
      last = i;
    } else {
      flush();
      col = c;
      first = min = max = last = i;
    }
  }
  flush();
  if (b < n) {
    gap((t[b - 1] + t[n - 1]) / 2);
    point(n - 1);
  }
  return [xs, ys];
}
