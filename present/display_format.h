// How the panel's numeric displays write their values: the format is a
// property of the control in the panel file (see DisplayFormat). Plain C++,
// so the formats are tested without a window. The trace and the CSV never
// use these: they keep every digit.
#pragma once

#include <string>
#include <string_view>

namespace rt {

// A display's format, from the panel file's properties `format`, `unit` and
// `unitScale` of the control.
struct DisplayFormat {
  enum class Style {
    Auto,         // every digit the value carries (see format_display_double)
    Fixed,        // `digits` decimals: "fixed:2" -> 226.85, -5.12
    Digits,       // `digits` digits in all, the point placed as on a meter:
                  // "digits:5" -> 0.0015, 9.9998, 10.000, 226.85
    Float32,      // the value as the 32-bit float it is: "float"
  };
  Style style = Style::Auto;
  int digits = 0;
  // The shown value is the system's value times this (0.1 A shown as
  // 100 mA: unitScale 1000, unit "mA"). Limits are in the shown unit.
  double scale = 1.0;
  std::string unit;  // the shown unit, for tooltips and log entries
};

// Parses a `format` property: "auto" (or empty), "fixed:N" (N 0 to 17),
// "digits:N" (N 1 to 17) or "float". False with *why on anything else.
bool parse_display_format(std::string_view text, DisplayFormat* format, std::string* why);

// A double as the operator should read it, with no format given: never
// rounded away. A value that is exactly a 32-bit float (the floats of the
// frame, widened) shows its shortest float form, so 3.14159f reads "3.14159"
// and not its 17-digit double expansion; any other value shows 15
// significant digits, all that a double computation carries, so
// 500 * 65535 / 65535.0 - 273.15 reads "226.85" and not "226.85000000000002".
// Whole numbers keep a ".0" so a double display never reads like an int one.
// NaN and infinities show as "NaN", "Infinity", "-Infinity".
std::string format_display_double(double value);

// `value` times the format's scale, written in the format's style. Fixed and
// digits formats keep their trailing zeros, so the width of a value does not
// churn from frame to frame: "digits:5" writes at most a sign, five digits
// and the point. A value of more than 15 integer digits shows in exponent
// form. NaN and infinities as above.
std::string format_display_double(double value, const DisplayFormat& format);

std::string format_display_int(int value);

#if defined(__SIZEOF_INT128__)
// |value| * 10^decimals for a finite double below 2^60 in magnitude and
// `decimals` from 0 to 20, exactly: its whole part, and what is left after
// it against one half (-1 below, 0 at, 1 above). Worked out from the
// double's bits in 128-bit integers, for the writers that round a double's
// exact value as printf does, several times a frame.
__extension__ typedef unsigned __int128 UInt128;  // (a GCC and Clang extension)
struct ScaledDecimal {
  UInt128 whole = 0;
  int half = -1;
};
ScaledDecimal scale_exactly(double value, int decimals);
// To nearest, ties to even: printf's rounding of the exact value.
inline UInt128 rounded(const ScaledDecimal& s) {
  return s.whole + ((s.half > 0 || (s.half == 0 && (s.whole & 1) != 0)) ? 1 : 0);
}
#endif

}  // namespace rt
