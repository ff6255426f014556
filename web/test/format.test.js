// The page writes every value as the panel does. The expected texts are the
// panel's own for these values (its formats in the operator guide, and what
// the station's formatter writes for each).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { count, displayText, durationWords, lastFrameAge, parseFormat } from '../src/format.js';

const cases = [
  // value, format, shown
  [4.99721, 'digits:5', '4.9972'],
  [-10, 'digits:5', '-10.000'],
  [0.0743589, 'digits:5', '0.0744'],
  [9.99996, 'digits:5', '10.000'],            // the carry keeps five digits
  [0.0015, 'digits:5', '0.0015'],
  [-273.15, 'fixed:2', '-273.15'],
  [500 * 65535 / 65535.0 - 273.15, 'auto', '226.85'],  // not 226.85000000000002
  [0.125, 'fixed:2', '0.12'],                 // an exact tie goes to even
  [0.375, 'fixed:2', '0.38'],
  [2.5, 'fixed:0', '2'],
  [3.5, 'fixed:0', '4'],
  [136, 'fixed:3', '136.000'],
  [2.384185791015625e-07, 'auto', '2.3841858e-07'],     // exactly a float: its shortest form
  [Math.fround(3.14159), 'auto', '3.14159'],
  [Math.fround(3.14159), 'float', '3.14159'],
  [1e10, 'float', '10000000000.0'],
  [49764335616, 'float', '49764335616.0'],  // a whole float: every digit, not 49764336000
  [1.5e-6, 'float', '1.5e-06'],
  [-0, 'auto', '-0.0'],
  [0.1, 'auto', '0.1'],
  [1234567, 'auto', '1234567.0'],           // a double display never reads as an int one
  [1e-5, 'auto', '1e-05'],
  [123456789012345678, 'auto', '1.23456789012346e+17'],
  [1e20, 'fixed:2', '1.00e+20'],             // beyond 1e15: exponent form
  [1e20, 'digits:5', '1.0000e+20'],
  [NaN, 'fixed:2', 'NaN'],
  [-Infinity, 'digits:5', '-Infinity'],
];

test('doubles_show_the_digits_the_panel_shows', () => {
  for (const [value, format, shown] of cases)
    assert.equal(displayText(value, 'double', parseFormat(format)), shown, `${value} as ${format}`);
});

test('ints_texts_and_non_finite_words_show_as_they_came', () => {
  assert.equal(displayText(-748, 'int'), '-748');
  assert.equal(displayText('0/00:02:03.5', 'text'), '0/00:02:03.5');
  assert.equal(displayText('NaN', 'double', parseFormat('digits:5')), 'NaN');
  assert.equal(displayText('-Infinity', 'double'), '-Infinity');
});

test('formats_outside_the_panel_file_rules_are_refused', () => {
  for (const bad of ['digits:0', 'fixed:18', 'fixed:', 'fixed:-1', 'sci', 'digits:5x', 7])
    assert.equal(parseFormat(bad), null, String(bad));
  assert.deepEqual(parseFormat('fixed:0'), { style: 'fixed', digits: 0 });
  assert.deepEqual(parseFormat(undefined), { style: 'auto' });
});

test('ages_and_counts_read_as_the_station_writes_them', () => {
  assert.equal(durationWords(7.9), '7 s');
  assert.equal(durationWords(125), '2 min 5 s');
  assert.equal(durationWords(3 * 3600 + 4 * 60 + 59), '3 h 4 min');
  assert.equal(lastFrameAge(0.04), 'last good frame 0.0 s ago');
  assert.equal(lastFrameAge(200), 'last good frame 3 min 20 s ago');
  assert.equal(lastFrameAge(null), '');
  assert.equal(count(55521960), '55,521,960');
  assert.equal(count(-1234), '-1,234');
});
