#include "present/json.h"

#include <cmath>
#include <cstdio>
#include <cstring>

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

}  // namespace rt
