#include "present/display_format.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstdlib>

namespace rt {

namespace {

// Digits a format may ask for: beyond 17 a double has none left to show.
constexpr int MAX_DIGITS = 17;
// From this magnitude on, a fixed format would print noise digits of a
// huge number: exponent form instead.
constexpr double FIXED_LIMIT = 1e15;

std::string not_finite(double value) {
  if (std::isnan(value)) return "NaN";
  return value > 0 ? "Infinity" : "-Infinity";
}

#if defined(__SIZEOF_INT128__)
// The fixed form of a finite `value` below FIXED_LIMIT in magnitude with
// `decimals` (0 to MAX_DIGITS) digits after the point, as std::to_chars
// writes it (the double's exact value rounded to nearest, ties to even), to
// `out` (64 characters are room enough): a value out of limits is put in
// words at every frame that carries it, and the library's general routine
// costs several times as much. Returns the end of the text.
char* exact_fixed(double value, int decimals, char* out) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  UInt128 q = rounded(scale_exactly(value, decimals));
  // The digits of q, at least decimals + 1 of them.
  char digits[40];
  int n = 0;
  while (q != 0) {
    // Eight at a time in 64-bit arithmetic once q fits.
    uint64_t low = 0;
    int count = 0;
    if (q >> 64) {
      low = static_cast<uint64_t>(q % 100000000u);
      q /= 100000000u;
      count = 8;
    } else {
      uint64_t v = static_cast<uint64_t>(q);
      while (v != 0) {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
      }
      break;
    }
    for (int i = 0; i < count; ++i, low /= 10) digits[n++] = static_cast<char>('0' + low % 10);
  }
  while (n < decimals + 1) digits[n++] = '0';
  if (bits >> 63) *out++ = '-';
  while (n > decimals) *out++ = digits[--n];
  if (decimals > 0) {
    *out++ = '.';
    while (n > 0) *out++ = digits[--n];
  }
  return out;
}
#endif

std::string chars(double value, std::chars_format form, int precision) {
#if defined(__SIZEOF_INT128__)
  if (form == std::chars_format::fixed && std::fabs(value) < FIXED_LIMIT && precision >= 0 &&
      precision <= MAX_DIGITS) {
    char buf[64];
    return std::string(buf, exact_fixed(value, precision, buf));
  }
#endif
  char buf[400];  // the longest fixed form is below 330 characters
  const auto r = std::to_chars(buf, buf + sizeof buf, value, form, precision);
  return std::string(buf, r.ptr);
}

std::string fixed(double value, int decimals) {
  if (std::fabs(value) >= FIXED_LIMIT) return chars(value, std::chars_format::scientific, decimals);
  return chars(value, std::chars_format::fixed, decimals);
}

// `digits` digits in all, at least one before the point.
std::string meter(double value, int digits) {
  const double magnitude = std::fabs(value);
  if (magnitude >= FIXED_LIMIT) return chars(value, std::chars_format::scientific, digits - 1);
  auto integer_digits = [](double m) { return m < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(m))) + 1; };
  const int decimals = std::max(0, digits - integer_digits(magnitude));
  std::string text = chars(value, std::chars_format::fixed, decimals);
  // Rounding may carry into a new leading digit (9.99996 -> 10.0000): one
  // decimal fewer keeps the count of digits.
  if (decimals > 0 && integer_digits(std::fabs(std::strtod(text.c_str(), nullptr))) > integer_digits(magnitude))
    text = chars(value, std::chars_format::fixed, decimals - 1);
  return text;
}

// The shortest text that reads back as the same 32-bit float.
std::string float_form(float value) {
  const float magnitude = std::fabs(value);
  const std::chars_format form = magnitude == 0.0f || (magnitude >= 1e-5f && magnitude < 1e15f)
                                     ? std::chars_format::fixed
                                     : std::chars_format::scientific;
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, form);
  std::string text(buf, r.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

bool parse_digits(std::string_view text, int low, int* out) {
  int n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || n < low || n > MAX_DIGITS)
    return false;
  *out = n;
  return true;
}

}  // namespace

bool parse_display_format(std::string_view text, DisplayFormat* format, std::string* why) {
  DisplayFormat f = *format;
  f.digits = 0;
  if (text.empty() || text == "auto") {
    f.style = DisplayFormat::Style::Auto;
  } else if (text == "float") {
    f.style = DisplayFormat::Style::Float32;
  } else if (text.substr(0, 6) == "fixed:" && parse_digits(text.substr(6), 0, &f.digits)) {
    f.style = DisplayFormat::Style::Fixed;
  } else if (text.substr(0, 7) == "digits:" && parse_digits(text.substr(7), 1, &f.digits)) {
    f.style = DisplayFormat::Style::Digits;
  } else {
    *why = "format \"" + std::string(text) +
           "\" is not one of auto, float, fixed:N (N 0 to 17) or digits:N (N 1 to 17)";
    return false;
  }
  *format = f;
  return true;
}

std::string format_display_double(double value) {
  if (!std::isfinite(value)) return not_finite(value);
  const float as_float = static_cast<float>(value);
  if (std::isfinite(as_float) && static_cast<double>(as_float) == value) return float_form(as_float);
  std::string text = chars(value, std::chars_format::general, 15);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string format_display_double(double value, const DisplayFormat& format) {
  const double shown = value * format.scale;
  if (!std::isfinite(shown)) return not_finite(shown);
  switch (format.style) {
    case DisplayFormat::Style::Fixed: return fixed(shown, format.digits);
    case DisplayFormat::Style::Digits: return meter(shown, format.digits);
    case DisplayFormat::Style::Float32: {
      const float as_float = static_cast<float>(shown);
      if (std::isfinite(as_float)) return float_form(as_float);
      break;  // beyond the float range: every digit it has
    }
    case DisplayFormat::Style::Auto: break;
  }
  return format_display_double(shown);
}

std::string format_display_int(int value) { return std::to_string(value); }

#if defined(__SIZEOF_INT128__)
ScaledDecimal scale_exactly(double value, int decimals) {
  using u128 = UInt128;
  static constexpr uint64_t POW10[20] = {1ULL,
                                         10ULL,
                                         100ULL,
                                         1000ULL,
                                         10000ULL,
                                         100000ULL,
                                         1000000ULL,
                                         10000000ULL,
                                         100000000ULL,
                                         1000000000ULL,
                                         10000000000ULL,
                                         100000000000ULL,
                                         1000000000000ULL,
                                         10000000000000ULL,
                                         100000000000000ULL,
                                         1000000000000000ULL,
                                         10000000000000000ULL,
                                         100000000000000000ULL,
                                         1000000000000000000ULL,
                                         10000000000000000000ULL};
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  int exponent = -1074;  // subnormal
  if (biased != 0) {
    mantissa |= uint64_t{1} << 52;
    exponent = biased - 1075;
  }
  // |value| * 10^decimals = mantissa * 10^decimals * 2^exponent, the first
  // two below 2^53 * 10^20 < 2^120; a power of two of at most 2^7 keeps a
  // value below 2^60 within 128 bits.
  const u128 power = decimals <= 19 ? u128{POW10[decimals]} : u128{POW10[19]} * 10u;
  const u128 scaled = static_cast<u128>(mantissa) * power;
  ScaledDecimal out;
  if (exponent >= 0) {
    out.whole = scaled << exponent;
  } else if (-exponent <= 120) {
    const int shift = -exponent;
    out.whole = scaled >> shift;
    const u128 rest = scaled & ((u128{1} << shift) - 1);
    const u128 half = u128{1} << (shift - 1);
    out.half = rest < half ? -1 : rest == half ? 0 : 1;
  }  // else below half of the last digit
  return out;
}
#endif

}  // namespace rt
