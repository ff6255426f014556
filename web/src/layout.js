// The panel's groups and labels as the page lays them out: the same names
// and order as the station's panel (ui/gse.uir). Formats, units and limits
// are not here: the station gives them (PREFIX/panel), so a changed panel
// file or limit shows without a new page.

export const KIND_ROWS = [
  // kind, what, offset-6 display, word-190 display
  [0, 'count ÷ 1000', 'L6_K0', 'W190_K0'],
  [1, 'elapsed time', 'TIME', 'W190_K1'],
  [2, 'angle', 'L6_K2', 'W190_K2'],
  [3, 'angle', 'L6_K3', 'W190_K3'],
];

export const FLOATS_AND_WORDS = [
  ['Float 12', 'F12', 'Header 15-11', 'W2_HI'],
  ['Float 16', 'F16', 'Header 10-5', 'W2_MID'],
  ['Float 20', 'F20', 'Word 10', 'W10'],
  ['Float 24 (kinds 1, 3)', 'F24_A', 'Word 192', 'W192'],
  ['Float 24 (kinds 0, 2)', 'F24_B', 'Word 194', 'W194'],
  [null, null, 'Word 196', 'W196'],
];

const hk = (n) => 'HK' + String(n).padStart(2, '0');

// Three columns: volts, then currents and slot 36 to 39, then temperatures.
export const HOUSEKEEPING = [
  [0, 1, 2, 3, 4, 5, 6, 7, 32, 33, 34, 35].map((n) => [hk(n), hk(n)]),
  [...[8, 9, 10, 11, 12, 13, 14, 15].map((n) => [hk(n), hk(n)]),
   ['HK36 hi', 'HKHI'], ['HK36 lo', 'HKLO'], ['HK37-39', 'HKRAW']],
  [16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31].map((n) => [hk(n), hk(n)]),
];

export const STRIP_TRACES = ['word 1', 'word 2', 'byte 1', 'byte 2'];
export const STRIP_COLOURS = ['#1f5fbf', '#c03030', '#209040', '#9050b0'];
export const STRIP_SECONDS = 6;  // the strip chart's window, as on the panel

export const SPECTRA = [
  ['SPEC48', '48-channel spectrum'],
  ['SPEC256', '256-channel spectrum'],
];
