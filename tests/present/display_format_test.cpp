// The number formats of the panel's displays.
#include "present/display_format.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

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

rt::DisplayFormat parsed(const char* text, const char* unit = "", double scale = 1.0) {
  rt::DisplayFormat f;
  std::string why;
  EXPECT_TRUE(rt::parse_display_format(text, &f, &why)) << text << ": " << why;
  f.unit = unit;
  f.scale = scale;
  return f;
}

TEST(DisplayFormat, formats_from_the_panel_file_show_the_digits_they_name) {
  struct Case {
    const char* name;
    const char* format;
    double scale;
    double value;
    const char* shown;
  };
  const Case cases[] = {
      {"16-bit word over 10 V: five digits", "digits:5", 1, 10.0 * 32768 / 65535.0, "5.0001"},
      {"full scale of 10 V in seven characters", "digits:5", 1, 10.0 * 65535 / 65535.0, "10.000"},
      {"full negative scale in seven characters", "digits:5", 1, -10.0 * 65535 / 65535.0, "-10.000"},
      {"-10 V scale near its end", "digits:5", 1, -10.0 * 65534 / 65535.0, "-9.9998"},
      {"a small reading keeps the range's decimals", "digits:5", 1, 10.0 * 10 / 65535.0, "0.0015"},
      {"trailing zeros stay, so the width does not churn", "digits:5", 1, 5.0, "5.0000"},
      {"a carry does not add a digit", "digits:5", 1, 9.999996, "10.000"},
      {"negative zero keeps its sign", "digits:5", 1, -0.0, "-0.0000"},
      {"0.1 A shown in mA", "digits:5", 1000, 0.1 * 48731 / 65535.0, "74.359"},
      {"beyond the digits, whole numbers", "digits:3", 1, 123456.7, "123457"},
      // 17 is the most a double has: every one of them, the last included.
      {"seventeen decimals", "fixed:17", 1, 0.1, "0.10000000000000001"},
      {"seventeen digits", "digits:17", 1, 2.0 / 3.0, "0.6666666666666666"},
      {"temperature to 0.01 degC", "fixed:2", 1, 500.0 * 0 / 65535.0 - 273.15, "-273.15"},
      {"temperature at the top of its range", "fixed:2", 1, 500.0 * 65535 / 65535.0 - 273.15, "226.85"},
      {"angle to 0.001 degree", "fixed:3", 1, 1073741824 * 8.3819e-08, "90.000"},
      {"fixed beyond 15 integer digits goes to exponent form", "fixed:2", 1, 1e300, "1.00e+300"},
      {"a float as the instrument's 32-bit value", "float", 1, static_cast<double>(0.1f), "0.1"},
      {"a large float in exponent form", "float", 1, static_cast<double>(3.4e38f), "3.4e+38"},
      {"auto keeps every digit", "auto", 1, 10.0 * 32768 / 65535.0, "5.00007629510948"},
      // Rounded from the exact value: a tie goes to the even digit.
      {"a tie down to even", "fixed:2", 1, 0.125, "0.12"},
      {"a tie up to even", "fixed:0", 1, 3.5, "4"},
      {"1.005 is below the tie", "fixed:2", 1, 1.005, "1.00"},
      {"a tie carried into a new digit", "fixed:0", 1, 999999999999999.5, "1000000000000000"},
      {"the smallest subnormal", "fixed:17", 1, 5e-324, "0.00000000000000000"},
      {"a small negative keeps its sign", "fixed:2", 1, -0.001, "-0.00"},
      {"NaN under a fixed format", "fixed:4", 1, std::nan(""), "NaN"},
      {"infinity under a scale", "fixed:3", 1000, std::numeric_limits<double>::infinity(), "Infinity"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(rt::format_display_double(c.value, parsed(c.format, "", c.scale)), c.shown) << c.name;
}

// Fixed decimals are rounded from the double's exact value as the C
// library prints them (worked ties above): its own text for random values
// of every size.
TEST(DisplayFormat, fixed_decimals_round_the_exact_value_as_the_library_prints_it) {
  std::mt19937_64 random(38);
  for (int k = 0; k < 200000; ++k) {
    const int decimals = static_cast<int>(random() % 18);
    // Below 10^15: larger values show in exponent form.
    const double value = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 97) - 100) *
                         ((random() & 1) ? -1.0 : 1.0);
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    const std::string format = "fixed:" + std::to_string(decimals);
    ASSERT_EQ(rt::format_display_double(value, parsed(format.c_str())), std::string(text, end))
        << format << " of " << value;
  }
}

TEST(DisplayFormat, a_bad_format_is_refused_with_the_reason) {
  for (const char* text : {"fixed", "fixed:", "fixed:-1", "fixed:18", "digits:0", "digits:x", "%.4f", "Fixed:4"}) {
    rt::DisplayFormat f;
    std::string why;
    EXPECT_FALSE(rt::parse_display_format(text, &f, &why)) << text;
    EXPECT_NE(why.find(text), std::string::npos) << text << ": " << why;
  }
}

TEST(DisplayFormat, ints_show_in_decimal_over_their_whole_range) {
  EXPECT_EQ(rt::format_display_int(0), "0");
  EXPECT_EQ(rt::format_display_int(-32768), "-32768");
  EXPECT_EQ(rt::format_display_int(std::numeric_limits<int>::min()), "-2147483648");
  EXPECT_EQ(rt::format_display_int(std::numeric_limits<int>::max()), "2147483647");
}

}  // namespace
