// The number formats of the panel's displays.
#include "runtime/qt/display_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(DisplayFormat, doubles_show_fifteen_significant_digits_or_their_float_form) {
  struct Case {
    const char* name;
    double value;
    const char* shown;
  };
  const Case cases[] = {
      {"whole number keeps its point", 1.0, "1.0"},
      {"negative whole number", -10.0, "-10.0"},
      {"negative zero stays negative", -0.0, "-0.0"},
      {"a widened float shows its float form", static_cast<double>(3.14159f), "3.14159"},
      {"the float nearest 0.0001", static_cast<double>(0.0001f), "0.0001"},
      {"a decimal double", 0.1, "0.1"},
      {"count / 1000", 123456 / 1000.0, "123.456"},
      {"angle of 2^30 counts", 1073741824 * 8.3819e-08, "89.999965945856"},
      {"angle of -2^31 counts", -2147483648.0 * 8.3819e-08, "-179.999931891712"},
      {"housekeeping half scale", 10.0 * 32768 / 65535.0, "5.00007629510948"},
      {"binary noise beyond 15 digits is not shown", 500.0 * 65535 / 65535.0 - 273.15, "226.85"},
      {"absolute zero", 500.0 * 0 / 65535.0 - 273.15, "-273.15"},
      {"largest int, not a float", 2147483647.0, "2147483647.0"},
      {"2^24 + 1 is not a float", 16777217.0, "16777217.0"},
      {"large double", 1e300, "1e+300"},
      {"tiny double", 1.5e-9, "1.5e-09"},
      {"fifteen digits in plain decimals", 123456789.125, "123456789.125"},
      {"smallest subnormal", std::numeric_limits<double>::denorm_min(), "4.94065645841247e-324"},
      {"NaN", std::nan(""), "NaN"},
      {"infinity", std::numeric_limits<double>::infinity(), "Infinity"},
      {"minus infinity", -std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rt::format_display_double(c.value), c.shown) << c.name;
}

TEST(DisplayFormat, ints_show_in_decimal_over_their_whole_range) {
  EXPECT_EQ(rt::format_display_int(0), "0");
  EXPECT_EQ(rt::format_display_int(-32768), "-32768");
  EXPECT_EQ(rt::format_display_int(std::numeric_limits<int>::min()), "-2147483648");
  EXPECT_EQ(rt::format_display_int(std::numeric_limits<int>::max()), "2147483647");
}

}  // namespace
