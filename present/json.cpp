#include "present/json.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace rt {

namespace {

std::string number_text(double v, int digits) {
  if (std::isnan(v)) return "\"NaN\"";
  if (std::isinf(v)) return v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.*g", digits, v);
  if (!std::strpbrk(buf, ".eE")) std::strcat(buf, ".0");
  return buf;
}

}  // namespace

std::string json_double(double v) { return number_text(v, 17); }
std::string json_float(float v) { return number_text(static_cast<double>(v), 9); }

std::string json_string(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
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
