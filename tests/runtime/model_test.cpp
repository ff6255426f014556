// The panel model: typed values, attributes, graphs, the bounded strip chart
// and the event queue.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "runtime/model.h"
#include "runtime/session_watch.h"
#include "session/session_log.h"

namespace {

using rt::Kind;
using rt::PanelModel;
using rt::ValueType;

rt::PanelLayout small_panel() {
  rt::PanelLayout layout;
  layout.controls = {
      {1, "PANEL_QUIT", Kind::Button, ValueType::None, "QPushButton"},
      {2, "PANEL_COUNT", Kind::IntInput, ValueType::Int, "QSpinBox"},
      {3, "PANEL_YMIN", Kind::FloatInput, ValueType::Float, "QDoubleSpinBox"},
      {4, "PANEL_F12", Kind::Display, ValueType::Double, "QLineEdit"},
      {5, "PANEL_STATUS", Kind::Display, ValueType::Text, "QLineEdit"},
      {6, "PANEL_SPEC", Kind::XYGraph, ValueType::Points, "QCustomPlot"},
      {7, "PANEL_STRIP", Kind::StripChart, ValueType::U16, "QCustomPlot"},
  };
  return layout;
}

TEST(PanelModel, keeps_each_value_in_its_controls_type) {
  PanelModel m(small_panel());
  EXPECT_TRUE(m.set_int(2, -7));
  EXPECT_TRUE(m.set_double(3, 0.1));  // stored as the float nearest 0.1
  EXPECT_TRUE(m.set_double(4, 0.1));
  EXPECT_TRUE(m.set_text(5, "COM1 err: checksum failure"));

  int i = 0;
  float f = 0;
  double d = 0;
  std::string text;
  ASSERT_TRUE(m.get_int(2, &i));
  EXPECT_EQ(i, -7);
  ASSERT_TRUE(m.get_float(3, &f));
  EXPECT_EQ(f, 0.1f);
  ASSERT_TRUE(m.get_double(4, &d));
  EXPECT_EQ(d, 0.1);
  ASSERT_TRUE(m.get_text(5, &text));
  EXPECT_EQ(text, "COM1 err: checksum failure");
}

TEST(PanelModel, refuses_values_of_the_wrong_kind_and_unknown_controls) {
  PanelModel m(small_panel());
  int i = 0;
  float f = 0;
  EXPECT_FALSE(m.set_text(2, "12")) << "text into an int control";
  EXPECT_FALSE(m.set_int(5, 3)) << "number into a text control";
  EXPECT_FALSE(m.set_int(1, 1)) << "a button holds no value";
  EXPECT_FALSE(m.set_int(99, 1)) << "unknown control";
  EXPECT_FALSE(m.get_float(2, &f)) << "an int control read as float";
  EXPECT_FALSE(m.get_int(3, &i)) << "a float control read as int";
  EXPECT_FALSE(m.set_double(2, 1e12)) << "a double beyond int range into an int control";
}

TEST(PanelModel, an_int_control_takes_every_32_bit_value_and_nothing_beyond) {
  PanelModel m(small_panel());
  struct Case {
    double value;
    bool taken;
  } cases[] = {{2147483647.0, true}, {-2147483648.0, true}, {2147483648.0, false},
               {-2147483649.0, false}, {NAN, false}};
  for (const Case& c : cases) {
    m.set_int(2, 5);
    EXPECT_EQ(m.set_double(2, c.value), c.taken) << c.value;
    int i = 0;
    m.get_int(2, &i);
    EXPECT_EQ(i, c.taken ? static_cast<int>(c.value) : 5) << c.value;
  }
}

TEST(PanelModel, passes_nan_and_infinity_through_double_displays) {
  PanelModel m(small_panel());
  double d = 0;
  m.set_double(4, std::nan(""));
  m.get_double(4, &d);
  EXPECT_TRUE(std::isnan(d));
  m.set_double(4, -INFINITY);
  m.get_double(4, &d);
  EXPECT_EQ(d, -INFINITY);
}

TEST(PanelModel, graph_axes_logs_and_plots) {
  PanelModel m(small_panel());
  rt::ControlState s;
  ASSERT_TRUE(m.state(6, &s));
  EXPECT_FALSE(s.x.manual);
  EXPECT_TRUE(m.set_x_range(6, 0, 4095));
  EXPECT_TRUE(m.set_y_log(6, true));
  EXPECT_EQ(m.add_plot(6, rt::Plot{{1, 2}, {3, 4}, 6, 0, 0, 1, 255}), 1);
  EXPECT_EQ(m.add_plot(6, rt::Plot{{5}, {6}, 6, 0, 0, 1, 255}), 2);
  m.state(6, &s);
  EXPECT_TRUE(s.x.manual);
  EXPECT_EQ(s.x.max, 4095);
  EXPECT_FALSE(s.y.manual) << "setting x leaves y alone";
  EXPECT_TRUE(s.y.log);
  ASSERT_EQ(s.plots.size(), 2u);
  EXPECT_EQ(s.plots[0].y[1], 4.0f);
  EXPECT_EQ(s.plots[1].color, 255);

  EXPECT_TRUE(m.delete_plots(6));
  m.state(6, &s);
  EXPECT_TRUE(s.plots.empty());
  EXPECT_FALSE(m.set_x_range(4, 0, 1)) << "only graphs have axes";
}

TEST(PanelModel, strip_chart_deals_values_to_four_traces_and_stays_bounded) {
  PanelModel m(small_panel(), /*strip_capacity=*/10);
  uint16_t values[80];
  for (int k = 0; k < 80; ++k) values[k] = static_cast<uint16_t>(k);
  // 6 calls of 80 values: 120 points per trace, of which 10 are kept.
  for (int call = 0; call < 6; ++call) ASSERT_TRUE(m.strip_append(7, values, 80));
  rt::ControlState s;
  m.state(7, &s);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(s.traces[t].size(), 10u) << "trace " << t;
    EXPECT_EQ(s.appended[t], 120u) << "trace " << t;
    EXPECT_EQ(s.traces[t].back(), 76 + t) << "trace " << t << " ends with the last group";
  }
  // An odd count continues with the next trace on the following call.
  m.strip_append(7, values, 1);
  m.strip_append(7, values + 1, 1);
  m.state(7, &s);
  EXPECT_EQ(s.appended[0], 121u);
  EXPECT_EQ(s.appended[1], 121u);
  EXPECT_EQ(s.traces[1].back(), 1);
  // A call far longer than a frame's, not a multiple of four: value k of
  // it goes to trace (2 + k) mod 4.
  std::vector<uint16_t> many(2050);
  for (size_t k = 0; k < many.size(); ++k) many[k] = static_cast<uint16_t>(k);
  ASSERT_TRUE(m.strip_append(7, many.data(), 2050));
  m.state(7, &s);
  for (int t = 0; t < 4; ++t) EXPECT_EQ(s.appended[t], 633u) << "trace " << t;
  EXPECT_EQ(s.traces[2].back(), 2048);
  EXPECT_EQ(s.traces[3].back(), 2049);
  EXPECT_EQ(s.traces[0].back(), 2046);
  EXPECT_EQ(s.traces[1].back(), 2047);
  EXPECT_EQ(s.traces[2].front(), 2012);
}

TEST(PanelModel, strip_appends_keep_their_time_while_their_points_are_held) {
  PanelModel m(small_panel(), /*strip_capacity=*/10);
  uint16_t values[8] = {};
  // 8 values: 2 points per trace per call; the rings hold 5 calls' worth.
  for (int call = 0; call < 20; ++call) ASSERT_TRUE(m.strip_append(7, values, 8, 10.0 + call));
  rt::ControlState s;
  m.state(7, &s);
  ASSERT_EQ(s.stamps.size(), 6u) << "the five calls held, and the one before them";
  EXPECT_EQ(s.stamps.front().t_s, 24.0);
  EXPECT_EQ(s.stamps.back().t_s, 29.0);
  EXPECT_EQ(s.stamps.back().appended[3], 40u);
}

TEST(PanelModel, a_display_with_limits_carries_its_level_and_logs_each_change) {
  rt::PanelLayout layout = small_panel();
  rt::ControlInfo& f12 = layout.controls[3];
  f12.limits.caution = rt::LimitRange{0.0, 10.0};
  f12.limits.alarm = rt::LimitRange{-5.0, 15.0};
  PanelModel m(layout);
  rt::reset_log_for_tests();
  rt::ControlState s;
  m.set_double(4, 12.0);
  m.state(4, &s);
  EXPECT_EQ(s.limit, rt::LimitLevel::Caution);
  EXPECT_EQ(m.out_of_limits(), 1);
  m.set_int(4, 20);  // an int into a watched double display
  m.state(4, &s);
  EXPECT_EQ(s.limit, rt::LimitLevel::Alarm);
  EXPECT_EQ(m.in_alarm(), 1);
  // Each change of level, and after each the alarm it raised.
  const auto entries = rt::log_entries_since(0);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].text.rfind("F12 in caution: 12.0", 0), 0u) << entries[0].text;
  EXPECT_EQ(entries[1].text.rfind("ALARM F12 out of limits (amber): 12.0", 0), 0u) << entries[1].text;
  EXPECT_EQ(entries[2].severity, rt::Severity::Error);
  EXPECT_EQ(entries[3].text.rfind("ALARM F12 out of limits now red: 20.0", 0), 0u) << entries[3].text;
  rt::reset_log_for_tests();
  rt::reset_session_for_tests();
}

TEST(PanelModel, events_come_out_in_the_order_they_were_posted) {
  PanelModel m(small_panel());
  m.post_event(2);
  m.post_event(1);
  m.post_event(2);
  int id = 0;
  std::vector<int> seen;
  while (m.take_event(&id)) seen.push_back(id);
  EXPECT_EQ(seen, (std::vector<int>{2, 1, 2}));
  EXPECT_FALSE(m.take_event(&id));
}

// What the operator committed reaches the control when its event is taken,
// so the taker reads it even though the control was written in between.
TEST(PanelModel, a_committed_value_reaches_the_control_when_its_event_is_taken) {
  PanelModel m(small_panel());
  m.set_int(2, 9968);
  m.post_event(2, 50);
  m.post_event(3, 0.5f);
  m.post_event(2, 60);
  m.post_event(2, 1e12);  // no int holds it: the control keeps its value
  m.post_event(1);
  m.set_int(2, 9967);  // the system writes the control meanwhile
  rt::ControlState s;
  m.state(2, &s);
  EXPECT_EQ(s.i, 9967) << "the control holds the system's value until the hand-over";
  EXPECT_EQ(s.committed, 1e12) << "the last committed value is on its way";
  int id = 0, i = 0;
  float f = 0;
  struct Step {
    int id;
    int count;
    std::optional<double> committed;
  } steps[] = {{2, 50, 1e12}, {3, 50, 1e12}, {2, 60, 1e12}, {2, 60, std::nullopt},
               {1, 60, std::nullopt}};
  for (const Step& step : steps) {
    const uint64_t before = m.version();
    ASSERT_TRUE(m.take_event(&id));
    EXPECT_EQ(id, step.id);
    m.get_int(2, &i);
    EXPECT_EQ(i, step.count) << "after the event of " << step.id;
    m.state(2, &s);
    EXPECT_EQ(s.committed, step.committed) << "after the event of " << step.id;
    if (step.id != 1) {
      EXPECT_FALSE(m.changed_since(before).empty()) << "redrawn after " << step.id;
    }
  }
  m.get_float(3, &f);
  EXPECT_EQ(f, 0.5f);
  EXPECT_FALSE(m.take_event(&id));
}

TEST(PanelModel, change_tracking_lists_only_controls_changed_since_a_version) {
  PanelModel m(small_panel());
  m.set_int(2, 5);
  uint64_t seen = m.version();
  m.set_text(5, " ");
  m.set_attr(2, 10, 2);
  EXPECT_EQ(m.changed_since(seen), (std::vector<int>{2, 5}));
  EXPECT_TRUE(m.changed_since(m.version()).empty());
  EXPECT_EQ(m.attr(2, 10), 2);
  EXPECT_EQ(m.attr(2, 1141, -1), -1) << "a missing attribute reads as the fallback";
}

}  // namespace
