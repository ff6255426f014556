// Limits on display values: ranges read from the panel file, levels with
// hysteresis, and the log entries of each change, on an injected table.
#include "present/limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

rt::LimitRange range(const char* text) {
  rt::LimitRange r;
  std::string why;
  EXPECT_TRUE(rt::parse_limit_range(text, &r, &why)) << text << ": " << why;
  return r;
}

TEST(Limits, ranges_read_both_ends_or_one) {
  struct Case {
    const char* text;
    double low, high;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"0.2..9.8", 0.2, 9.8}, {"-20..50", -20, 50}, {"..85", -inf, 85},
      {"-40..", -40, inf},    {" 1e-3 .. 2E2 ", 0.001, 200},
      {"5..5", 5, 5},  // a value that must hold exactly
  };
  for (const Case& c : cases) {
    const rt::LimitRange r = range(c.text);
    EXPECT_EQ(r.low, c.low) << c.text;
    EXPECT_EQ(r.high, c.high) << c.text;
  }
  for (const char* bad : {"", "..", "5", "1..x", "9..1", "a..b", "1...2"}) {
    rt::LimitRange r;
    std::string why;
    EXPECT_FALSE(rt::parse_limit_range(bad, &r, &why)) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}

// A temperature slot as the panel ships it: caution outside -20..50,
// alarm outside -40..70, hysteresis 0.5 degC.
rt::LimitEntry temperature(int id) {
  rt::LimitEntry e;
  e.id = id;
  e.label = "HK16";
  e.limits.caution = range("-20..50");
  e.limits.alarm = range("-40..70");
  e.limits.hysteresis = 0.5;
  std::string why;
  EXPECT_TRUE(rt::parse_display_format("fixed:2", &e.format, &why));
  e.format.unit = "°C";
  return e;
}

TEST(Limits, a_value_walks_through_caution_and_alarm_and_back_with_hysteresis) {
  rt::LimitTable table({temperature(50)});
  struct Step {
    double value;
    rt::LimitLevel level;
    const char* logged;  // "" when the level stays
  };
  using L = rt::LimitLevel;
  const Step steps[] = {
      {20.0, L::Normal, ""},
      {50.0, L::Normal, ""},  // on the limit is inside
      {50.01, L::Caution, "HK16 in caution: 50.01 °C, above the caution limit 50.00 °C"},
      {49.8, L::Caution, ""},  // back inside, but not by the hysteresis
      {50.3, L::Caution, ""},
      {70.5, L::Alarm, "HK16 in alarm: 70.50 °C, above the alarm limit 70.00 °C"},
      {69.7, L::Alarm, ""},
      {69.4, L::Caution, "HK16 back from alarm, in caution: 69.40 °C, above the caution limit 50.00 °C"},
      {49.4, L::Normal, "HK16 back within limits: 49.40 °C"},
      {-45.0, L::Alarm, "HK16 in alarm: -45.00 °C, below the alarm limit -40.00 °C"},
      {0.0, L::Normal, "HK16 back within limits: 0.00 °C"},
      {std::nan(""), L::Alarm, "HK16 in alarm: NaN °C, not a number, outside the alarm range"},
  };
  for (const Step& s : steps) {
    const auto change = table.observe(50, s.value);
    EXPECT_EQ(table.level(50), s.level) << s.value;
    if (*s.logged == '\0') {
      EXPECT_FALSE(change) << s.value << ": " << (change ? change->text : "");
    } else {
      ASSERT_TRUE(change) << s.value;
      EXPECT_EQ(change->text, s.logged) << s.value;
      EXPECT_EQ(change->to, s.level) << s.value;
    }
  }
}

TEST(Limits, noise_at_a_limit_logs_once_not_every_frame) {
  rt::LimitTable table({temperature(50)});
  int changes = 0;
  for (int i = 0; i < 1000; ++i)
    if (table.observe(50, 50.0 + ((i % 2) ? 0.2 : -0.2))) ++changes;
  EXPECT_EQ(changes, 1) << "into caution once, then held by the hysteresis";
}

TEST(Limits, changes_carry_their_severity_and_the_table_counts_levels) {
  rt::LimitEntry volts;
  volts.id = 61;
  volts.label = "HK00";
  volts.limits.caution = range("0.2..9.8");
  volts.limits.alarm = range("0.05..9.95");
  rt::LimitEntry raw;  // no ranges: not watched
  raw.id = 6;
  rt::LimitTable table({temperature(50), volts, raw});
  EXPECT_TRUE(table.watches(50));
  EXPECT_TRUE(table.watches(61));
  EXPECT_FALSE(table.watches(6));
  EXPECT_FALSE(table.observe(6, 1e9));

  EXPECT_EQ(table.observe(50, 60.0)->severity, rt::Severity::Warning);
  EXPECT_EQ(table.observe(61, 9.99)->severity, rt::Severity::Error);
  EXPECT_EQ(table.out_of_limits(), 2);
  EXPECT_EQ(table.in_alarm(), 1);
  EXPECT_EQ(table.observe(61, 5.0)->severity, rt::Severity::Info);
  EXPECT_EQ(table.out_of_limits(), 1);
  EXPECT_EQ(table.in_alarm(), 0);
}

// Where a value lies past its range, held there by the hysteresis or not; new
// ranges are judged afresh from the value last seen.
TEST(Limits, an_excursion_names_its_end_and_new_limits_are_judged_afresh) {
  rt::LimitTable table({temperature(50)});
  table.observe(50, 71.0);
  auto e = table.excursion(50);
  ASSERT_TRUE(e);
  EXPECT_DOUBLE_EQ(e->excess, 1.0);
  EXPECT_EQ(e->limit_text, "above the alarm limit 70.00 °C");
  table.observe(50, 69.8);  // inside, held in alarm by the hysteresis
  e = table.excursion(50);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->level, rt::LimitLevel::Alarm);
  EXPECT_NEAR(e->excess, -0.2, 1e-9);
  EXPECT_EQ(e->limit_text, "at the alarm limit 70.00 °C");

  rt::Limits wider = temperature(50).limits;
  wider.alarm->high = 70.1;  // 69.8 lies within the hysteresis of it, but inside
  std::optional<rt::LimitChange> change;
  ASSERT_TRUE(table.set_limits(50, wider, &change));
  ASSERT_TRUE(change);
  EXPECT_EQ(change->to, rt::LimitLevel::Caution);
  EXPECT_EQ(change->text, "HK16 back from alarm, in caution: 69.80 °C, above the caution limit 50.00 °C");
}

TEST(Limits, the_default_hysteresis_is_a_share_of_the_range_and_scale_applies_first) {
  rt::LimitEntry amps;  // 0.1 A shown in mA
  amps.id = 34;
  amps.label = "HK08";
  amps.limits.caution = range("2..98");
  amps.format.scale = 1000;
  amps.format.unit = "mA";
  EXPECT_DOUBLE_EQ(rt::limit_hysteresis(amps.limits), 0.48);
  rt::LimitTable table({amps});
  EXPECT_TRUE(table.observe(34, 0.0019));  // 1.9 mA
  EXPECT_FALSE(table.observe(34, 0.0022)) << "2.2 mA is within the hysteresis of 2 mA";
  EXPECT_TRUE(table.observe(34, 0.0025));
  EXPECT_EQ(table.level(34), rt::LimitLevel::Normal);
  EXPECT_EQ(rt::describe_limits(amps.limits, amps.format), "caution outside 2.0..98.0 mA");
}

}  // namespace
