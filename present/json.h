// Values written for programs to read: the JSON forms of numbers and texts
// that the trace, the summary and every other JSON output share. Ints as
// they are; doubles with 17 significant digits, floats with 9, always with a
// '.' or an exponent; NaN and infinities as the strings "NaN", "Infinity",
// "-Infinity" (quoted).
#pragma once

#include <string>
#include <string_view>

namespace rt {

std::string json_double(double v);
std::string json_float(float v);
// A quoted JSON string; control characters escaped.
std::string json_string(std::string_view text);

}  // namespace rt
