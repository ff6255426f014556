// How the page writes values: the panel's display formats (the panel file's
// `format` property, given by the station in PREFIX/panel), ages and counts
// in the station's own words. Rounding is exact, half to even, as the
// station's formatter rounds: the page must show the digits the panel shows,
// so nothing here goes through toFixed or toPrecision, whose ties differ.

// A finite double as an exact decimal: value = (neg ? -1 : 1) * digits * 10^exp,
// digits a BigInt.
function exact(value) {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, value);
  const hi = view.getUint32(0), lo = view.getUint32(4);
  const neg = hi >>> 31 === 1;
  const biased = (hi >>> 20) & 0x7ff;
  let mantissa = (BigInt(hi & 0xfffff) << 32n) | BigInt(lo);
  let e2;
  if (biased === 0) e2 = -1074;  // subnormal
  else {
    mantissa |= 1n << 52n;
    e2 = biased - 1075;
  }
  if (e2 >= 0) return { neg, digits: mantissa << BigInt(e2), exp: 0 };
  // m / 2^k = m * 5^k / 10^k
  return { neg, digits: mantissa * 5n ** BigInt(-e2), exp: e2 };
}

const TEN = 10n;

// The integer nearest to digits * 10^shift, ties to even.
function roundShift(digits, shift) {
  if (shift >= 0) return digits * TEN ** BigInt(shift);
  const div = TEN ** BigInt(-shift);
  const q = digits / div, r = digits % div;
  const twice = r * 2n;
  if (twice > div || (twice === div && q % 2n === 1n)) return q + 1n;
  return q;
}

function decimalCount(n) {
  return n === 0n ? 1 : n.toString().length;
}

// The power of ten of the leading digit of a non-zero exact value.
function leadingPower(x) {
  return decimalCount(x.digits) - 1 + x.exp;
}

function notFinite(value) {
  if (Number.isNaN(value)) return 'NaN';
  return value > 0 ? 'Infinity' : '-Infinity';
}

function signed(neg, text) {
  return neg ? '-' + text : text;
}

// `decimals` decimals, exactly rounded (printf's %.Nf).
export function fixedText(value, decimals) {
  const x = exact(value);
  const n = roundShift(x.digits, x.exp + decimals);
  let s = n.toString();
  if (decimals > 0) {
    s = s.padStart(decimals + 1, '0');
    s = s.slice(0, s.length - decimals) + '.' + s.slice(s.length - decimals);
  }
  return signed(x.neg, s);
}

// Rounded to `significant` digits: [digit string, power of ten of the first].
function roundSignificant(x, significant) {
  if (x.digits === 0n) return ['0'.repeat(significant), 0];
  let power = leadingPower(x);
  let n = roundShift(x.digits, x.exp + significant - 1 - power);
  if (decimalCount(n) > significant) {  // 9.99 -> 10.0: one more power
    power += 1;
    n /= TEN;
  }
  return [n.toString(), power];
}

function exponentText(power) {
  const a = Math.abs(power);
  return 'e' + (power < 0 ? '-' : '+') + (a < 10 ? '0' + a : String(a));
}

// `decimals` decimals after the first digit, exponent of at least two
// digits (printf's %.Ne).
export function scientificText(value, decimals) {
  const x = exact(value);
  const [d, power] = roundSignificant(x, decimals + 1);
  const mantissa = decimals > 0 ? d[0] + '.' + d.slice(1) : d;
  return signed(x.neg, mantissa + exponentText(power));
}

// printf's %.Pg: P significant digits, trailing zeros dropped.
function generalText(value, precision) {
  const x = exact(value);
  const [d, power] = roundSignificant(x, precision);
  const trim = (s) => (s.includes('.') ? s.replace(/0+$/, '').replace(/\.$/, '') : s);
  if (power < -4 || power >= precision) {
    const mantissa = trim(d[0] + '.' + d.slice(1));
    return signed(x.neg, mantissa + exponentText(power));
  }
  return trim(fixedText(value, Math.max(0, precision - 1 - power)));
}

const FIXED_LIMIT = 1e15;  // beyond this a fixed form prints noise digits: exponent form

function fixedOrExponent(value, decimals) {
  if (Math.abs(value) >= FIXED_LIMIT) return scientificText(value, decimals);
  return fixedText(value, decimals);
}

function integerDigits(magnitude) {
  return magnitude < 1 ? 1 : Math.floor(Math.log10(magnitude)) + 1;
}

// `digits` digits in all, the point placed as on a meter.
function meterText(value, digits) {
  const magnitude = Math.abs(value);
  if (magnitude >= FIXED_LIMIT) return scientificText(value, digits - 1);
  const decimals = Math.max(0, digits - integerDigits(magnitude));
  let text = fixedText(value, decimals);
  // Rounding may carry into a new leading digit (9.99996 -> 10.0000): one
  // decimal fewer keeps the count of digits.
  if (decimals > 0 && integerDigits(Math.abs(Number(text))) > integerDigits(magnitude))
    text = fixedText(value, decimals - 1);
  return text;
}

// The shortest text that reads back as the same 32-bit float: [digits, power].
function shortestFloat(value) {
  const x = exact(value);
  for (let p = 1; p <= 9; ++p) {
    const [d, power] = roundSignificant(x, p);
    // The nearest p-digit decimal, or a neighbour of it where the float's
    // interval is lopsided (at a power of two).
    const base = BigInt(d);
    for (const n of [base, base - 1n, base + 1n]) {
      if (n <= 0n) continue;
      const text = n.toString();
      const shift = text.length - p;  // a neighbour may have one digit more or less
      const back = Number(`${text}e${power - p + 1}`);
      if (Math.fround(back) === Math.abs(value)) return [text, power + shift];
    }
  }
  return roundSignificant(x, 9);
}

function floatText(value) {
  const magnitude = Math.abs(value);
  if (magnitude === 0) return (Object.is(value, -0) ? '-' : '') + '0.0';
  let [d, power] = shortestFloat(value);
  d = d.replace(/0+$/, '') || '0';
  const neg = value < 0 ? '-' : '';
  if (magnitude >= 1e-5 && magnitude < 1e15) {
    let text;
    // A whole number: every fixed form has as many characters, so the
    // exact one is shortest and closest.
    if (power >= d.length - 1) text = BigInt(magnitude).toString();
    else if (power >= 0) text = d.slice(0, power + 1) + '.' + d.slice(power + 1);
    else text = '0.' + '0'.repeat(-power - 1) + d;
    if (!text.includes('.')) text += '.0';
    return neg + text;
  }
  const mantissa = d.length > 1 ? d[0] + '.' + d.slice(1) : d;
  return neg + mantissa + exponentText(power);
}

// A double with no format: never rounded away. Exactly a 32-bit float (the
// frame's floats): its shortest float form; else 15 significant digits.
// Whole numbers keep a ".0", so a double display never reads as an int one.
export function autoText(value) {
  if (!Number.isFinite(value)) return notFinite(value);
  const asFloat = Math.fround(value);
  if (Number.isFinite(asFloat) && asFloat === value) return floatText(value);
  const text = generalText(value, 15);
  return /[.e]/.test(text) ? text : text + '.0';
}

// Parses a format word of PREFIX/panel: "auto", "float", "fixed:N",
// "digits:N". Null for anything else.
export function parseFormat(word) {
  if (word === undefined || word === '' || word === 'auto') return { style: 'auto' };
  if (word === 'float') return { style: 'float' };
  const m = /^(fixed|digits):(\d{1,2})$/.exec(word);
  if (!m) return null;
  const n = Number(m[2]);
  if (n > 17 || (m[1] === 'digits' && n < 1)) return null;
  return { style: m[1], digits: n };
}

// A display's value as the panel shows it: `value` is already in the shown
// unit (the station applied the display's scale). Numbers only; NaN and
// infinities arrive as the strings "NaN", "Infinity", "-Infinity".
export function displayText(value, type, format) {
  if (typeof value === 'string') {
    if (type === 'text') return value;
    if (value === 'NaN') return 'NaN';
    if (value === 'Infinity' || value === '-Infinity') return value;
    return value;
  }
  if (type === 'int') return String(value);
  if (!Number.isFinite(value)) return notFinite(value);
  const f = format || { style: 'auto' };
  switch (f.style) {
    case 'fixed': return fixedOrExponent(value, f.digits);
    case 'digits': return meterText(value, f.digits);
    case 'float': {
      const asFloat = Math.fround(value);
      if (Number.isFinite(asFloat)) return floatText(asFloat);
      break;
    }
    default: break;
  }
  return autoText(value);
}

// An age in the station's words: "7 s", "2 min 5 s", "3 h 4 min".
export function durationWords(seconds) {
  const s = Math.floor(Math.max(0, seconds));
  if (s < 120) return `${s} s`;
  if (s < 7200) return `${Math.floor(s / 60)} min ${s % 60} s`;
  return `${Math.floor(s / 3600)} h ${Math.floor(s / 60) % 60} min`;
}

// The health bar's age of the last good frame: a tenth of a second while
// it is young.
export function lastFrameAge(ageS) {
  if (ageS === null || ageS === undefined || ageS < 0) return '';
  if (ageS < 60) return `last good frame ${ageS.toFixed(1)} s ago`;
  return `last good frame ${durationWords(ageS)} ago`;
}

// 1234567 -> "1,234,567"
export function count(n) {
  const sign = n < 0 ? '-' : '';
  return sign + String(Math.round(Math.abs(n))).replace(/\B(?=(\d{3})+(?!\d))/g, ',');
}

// A time in ms since 1970 as the station's log writes local times:
// "2024-05-01 12:00:00.250" (in the browser's time zone).
export function localTime(ms) {
  const d = new Date(ms);
  const two = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())} ${two(d.getHours())}:` +
         `${two(d.getMinutes())}:${two(d.getSeconds())}.${String(d.getMilliseconds()).padStart(3, '0')}`;
}

// Seconds since start as the strip chart's axis shows them: "03:07".
export function minutesSeconds(t) {
  const s = Math.max(0, Math.floor(t));
  return `${String(Math.floor(s / 60)).padStart(2, '0')}:${String(s % 60).padStart(2, '0')}`;
}
