// How the panel's numeric displays write their values. Plain C++ so that
// the formats can be tested without a window.
#pragma once

#include <charconv>
#include <cmath>
#include <string>

namespace rt {

// A double as the operator should read it: never rounded away. A value that
// is exactly a 32-bit float (the floats of the frame, widened) shows its
// shortest float form, so 3.14159f reads "3.14159" and not its 17-digit
// double expansion; any other value shows 15 significant digits, all that a
// double computation carries, so 500 * 65535 / 65535.0 - 273.15 reads
// "226.85" and not "226.85000000000002".
// Whole numbers keep a ".0" so a double display never reads like an int one.
// NaN and infinities show as "NaN", "Infinity", "-Infinity".
inline std::string format_display_double(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  // Plain decimals where they stay short, exponents beyond.
  const double magnitude = std::fabs(value);
  const std::chars_format form = magnitude == 0.0 || (magnitude >= 1e-5 && magnitude < 1e15)
                                     ? std::chars_format::fixed
                                     : std::chars_format::scientific;
  char buf[400];  // the longest fixed form is below 330 characters
  std::to_chars_result r;
  const float as_float = static_cast<float>(value);
  if (std::isfinite(as_float) && static_cast<double>(as_float) == value)
    r = std::to_chars(buf, buf + sizeof buf, as_float, form);
  else
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string text(buf, r.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

inline std::string format_display_int(int value) { return std::to_string(value); }

}  // namespace rt
