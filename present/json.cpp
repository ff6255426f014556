#include "present/json.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "present/display_format.h"

namespace rt {

namespace {

// "%.17g" of zero and of a finite double from 1e-4 to below 1e17 (where
// printf writes no exponent), from the double's exact value: its 17 digits
// are v * 10^(16 - x) rounded as printf rounds, x the decimal exponent of v.
// False for other doubles, which the general conversion takes. Several
// numbers a frame come here; the general conversion costs about five times
// as much.
bool append_g17(std::string& out, double v) {
#if defined(__SIZEOF_INT128__)
  const uint64_t bits = std::bit_cast<uint64_t>(v);
  const bool negative = bits >> 63;
  if ((bits << 1) == 0) {
    out += negative ? "-0" : "0";
    return true;
  }
  const int biased = static_cast<int>(bits >> 52 & 0x7FF);
  if (biased == 0 || biased == 0x7FF || biased > 1023 + 56) return false;  // subnormal, not finite, 1e17 and up
  constexpr uint64_t TEN16 = 10'000'000'000'000'000ULL, TEN17 = 100'000'000'000'000'000ULL;
  // The decimal exponent x (10^x <= |v| < 10^(x+1)), from the binary one
  // (at most one off), made exact on the whole part of |v| * 10^(16 - x):
  // it has 17 digits.
  int x = static_cast<int>(std::floor((biased - 1023) * 0.30102999566398120));
  ScaledDecimal scaled;
  for (int tries = 0;; ++tries) {
    if (x < -4 || x > 16 || tries == 3) return false;  // printf writes an exponent there
    scaled = scale_exactly(v, 16 - x);
    if (scaled.whole < TEN16) --x;
    else if (scaled.whole >= TEN17) ++x;
    else break;
  }
  uint64_t whole = static_cast<uint64_t>(rounded(scaled));
  if (whole == TEN17) {  // rounded up to the next power of ten
    whole = TEN16;
    ++x;
    if (x > 16) return false;
  }
  // Fixed notation with 16 - x decimals, trailing zeros dropped.
  char d[17];
  std::to_chars(d, d + 17, whole);
  int last = 16;
  while (last > 0 && last > x && d[last] == '0') --last;
  char text[24];
  char* p = text;
  if (negative) *p++ = '-';
  if (x >= 0) {
    std::memcpy(p, d, static_cast<size_t>(x) + 1);
    p += x + 1;
    if (last > x) {
      *p++ = '.';
      std::memcpy(p, d + x + 1, static_cast<size_t>(last - x));
      p += last - x;
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int z = 0; z < -x - 1; ++z) *p++ = '0';
    std::memcpy(p, d, static_cast<size_t>(last) + 1);
    p += last + 1;
  }
  out.append(text, static_cast<size_t>(p - text));
  return true;
#else
  (void)out;
  (void)v;
  return false;
#endif
}

// printf's "%.*g" through std::to_chars, which the standard defines as the
// same text in the "C" locale, without printf's parsing of the format and
// its arbitrary-precision digits: the station writes several numbers a frame.
// Doubles with 17 digits take the exact integer route above when they can.
void append_number(std::string& out, double v, int digits) {
  if (std::isnan(v)) {
    out += "\"NaN\"";
    return;
  }
  if (std::isinf(v)) {
    out += v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    return;
  }
  const size_t at = out.size();
  if (digits == 17 && append_g17(out, v)) {
    if (std::string_view(out).substr(at).find('.') == std::string_view::npos) out += ".0";
    return;
  }
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
  const std::string_view text(buf, static_cast<size_t>(r.ptr - buf));
  out += text;
  if (text.find_first_of(".eE") == std::string_view::npos) out += ".0";
}

}  // namespace

std::string json_double(double v) {
  std::string out;
  append_number(out, v, 17);
  return out;
}
std::string json_float(float v) {
  std::string out;
  append_number(out, static_cast<double>(v), 9);
  return out;
}

void json_append_double(std::string& out, double v) { append_number(out, v, 17); }
void json_append_float(std::string& out, float v) { append_number(out, static_cast<double>(v), 9); }

void json_append_integer(std::string& out, long long v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<size_t>(r.ptr - buf));
}

std::string json_string(std::string_view text) {
  std::string out;
  json_append_string(out, text);
  return out;
}

namespace {

// Whether one of the eight bytes of `w` needs an escape: below 0x20, '"' or
// '\\' (a byte with its high bit set, of a UTF-8 sequence, never does).
bool needs_escape8(uint64_t w) {
  constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
  const uint64_t quote = w ^ (ones * '"'), backslash = w ^ (ones * '\\');
  return (((w - ones * 0x20) & ~w) | ((quote - ones) & ~quote) | ((backslash - ones) & ~backslash)) & highs;
}

}  // namespace

void json_append_string(std::string& out, std::string_view text) {
  out += '"';
  // Runs that need no escape go in whole; they are found eight bytes at a
  // time (the hex dump's text is hundreds of characters a frame).
  size_t run = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (i + 8 <= text.size()) {
      uint64_t w;
      std::memcpy(&w, text.data() + i, 8);
      if (!needs_escape8(w)) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(text[i++]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - 1 - run);
    run = i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

bool json_nonfinite(std::string_view text, double* out) {
  if (text == "NaN") *out = std::numeric_limits<double>::quiet_NaN();
  else if (text == "Infinity") *out = std::numeric_limits<double>::infinity();
  else if (text == "-Infinity") *out = -std::numeric_limits<double>::infinity();
  else return false;
  return true;
}

namespace {

// The length of the UTF-8 character at text[i] (1 to 4), or 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a
// surrogate, beyond U+10FFFF, cut short). *code gets the code point.
size_t utf8_char(std::string_view text, size_t i, uint32_t* code) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  size_t n = 0;
  uint32_t cp = 0, least = 0;
  if (c < 0x80) {
    *code = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, least = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, least = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (b(k) & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code = cp;
  return n;
}

bool is_control(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string printable_text(std::string_view text, size_t max_bytes) {
  std::string out;
  out.reserve(std::min(text.size(), max_bytes));
  const size_t room = max_bytes >= 3 ? max_bytes - 3 : 0;  // for "..."
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    size_t n = utf8_char(text, i, &cp);
    const bool bad = n == 0 || is_control(cp);
    if (n == 0) n = 1;
    const size_t add = bad ? 1 : n;
    if (out.size() + add > room && text.size() - i + out.size() > max_bytes) {
      out += "...";
      return out;
    }
    if (bad) out += '?';
    else out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace rt
