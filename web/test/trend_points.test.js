// The trend's points reduced to what its pixels show.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { History } from '../src/history.js';
import { trendPoints } from '../src/trend_points.js';

// Points one second apart from t = 0, the values given.
const series = (values) => [Float64Array.from(values, (_, i) => i * 1000), Float32Array.from(values)];

test('fewer_points_than_columns_go_as_they_are_a_nan_a_break', () => {
  const [t, v] = series([1.5, 2, NaN, 4, 8]);
  assert.deepEqual(trendPoints(t, v, 0, 4000, 100), [[0, 1, 2, 3, 4], [1.5, 2, null, 4, 8]]);
});

test('each_column_keeps_its_first_lowest_highest_and_last_point_in_their_order', () => {
  // 100 points over 10 columns of 10 (0 to 100 s): a saw 0..9 in each; in
  // the fifth a spike up at 42 s and one down at 47 s.
  const values = Array.from({ length: 100 }, (_, i) => i % 10);
  values[42] = 50;
  values[47] = -5;
  const [t, v] = series(values);
  const [xs, ys] = trendPoints(t, v, 0, 100000, 10);
  assert.deepEqual(xs.slice(0, 4), [0, 9, 10, 19]);           // a saw column: its first (lowest), its last (highest)
  assert.deepEqual(ys.slice(0, 4), [0, 9, 0, 9]);
  assert.deepEqual(xs.slice(8, 12), [40, 42, 47, 49]);        // the spikes' column
  assert.deepEqual(ys.slice(8, 12), [0, 50, -5, 9]);
  assert.equal(xs.length, 9 * 2 + 4);
});

test('a_silence_of_the_station_breaks_the_reduced_line_a_sparse_value_does_not', () => {
  // A value every 4 s (a housekeeping slot) from 0 to 396 s, frames
  // coming all along but for a silence from 200 s to 210 s.
  const t = Float64Array.from({ length: 100 }, (_, i) => (i < 51 ? i * 4000 : i * 4000 + 8000));
  const v = Float32Array.from({ length: 100 }, (_, i) => i);
  const silences = [[200000, 212000]];
  const [xs, ys] = trendPoints(t, v, 0, 404000, 10, silences);
  const breaks = xs.filter((_, j) => ys[j] === null);
  assert.deepEqual(breaks, [206]);                            // between the points at 200 s and 212 s only
  // Exact: the same break and every point.
  const [exactXs, exactYs] = trendPoints(t, v, 0, 404000, 1000, silences);
  assert.equal(exactXs.length, 101);
  assert.equal(exactXs[exactYs.indexOf(null)], 206);
});

test('a_zoomed_range_keeps_its_neighbours_and_the_ends_beyond_breaks', () => {
  const [t, v] = series(Array.from({ length: 1000 }, (_, i) => i));
  const [xs, ys] = trendPoints(t, v, 500000, 509000, 100);
  assert.deepEqual(xs, [0, 249.5, 499, 500, 501, 502, 503, 504, 505, 506, 507, 508, 509, 510, 754.5, 999]);
  assert.deepEqual(ys, [0, null, 499, 500, 501, 502, 503, 504, 505, 506, 507, 508, 509, 510, null, 999]);
});

test('the_history_notes_silences_of_more_than_three_seconds_between_frames', () => {
  const h = new History();
  for (const ms of [0, 100, 3100, 6200, 6300]) h.frame(ms);
  assert.deepEqual(h.silences, [[3100, 6200]]);
});
