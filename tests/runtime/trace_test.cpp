// The trace: one JSON line per run-time call, in the documented format.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ui/panel.h"
#include "runtime/memory_port.h"
#include "runtime/context.h"
#include "runtime/model.h"
#include "runtime/serial.h"
#include "runtime/testing.h"
#include "runtime/trace.h"
#include "runtime/ui.h"

namespace {

TEST(TraceNumbers, ints_doubles_and_floats_have_their_own_forms) {
  struct Case {
    std::string got, want;
  } cases[] = {
      {rt::json_double(0.1), "0.10000000000000001"},
      {rt::json_double(4095.0), "4095.0"},
      {rt::json_double(-0.0), "-0.0"},
      {rt::json_double(1e300), "1.0000000000000001e+300"},
      {rt::json_double(1e20), "1e+20"},  // an exponent is mark enough
      // Exact halves at the 18th digit go to the even 17th; the ends of the
      // range written without an exponent, and just beyond them.
      {rt::json_double(1 + 0x1p-17), "1.0000076293945312"},
      {rt::json_double(1 + 3 * 0x1p-17), "1.0000228881835938"},
      {rt::json_double(0.0001), "0.0001"},
      {rt::json_double(-0.00012345), "-0.00012344999999999999"},
      {rt::json_double(9.9999999999999991e-05), "9.9999999999999991e-05"},
      {rt::json_double(99999999999999984.0), "99999999999999984.0"},
      {rt::json_double(1e17), "1e+17"},
      {rt::json_double(12.3), "12.300000000000001"},
      {rt::json_double(0.0), "0.0"},
      {rt::json_double(std::nan("")), "\"NaN\""},
      {rt::json_double(INFINITY), "\"Infinity\""},
      {rt::json_double(-INFINITY), "\"-Infinity\""},
      {rt::json_float(0.001f), "0.00100000005"},
      {rt::json_float(10.0f), "10.0"},
      {rt::json_float(std::nanf("")), "\"NaN\""},
      {rt::json_string("a\"b\\c\nd\x01"), "\"a\\\"b\\\\c\\nd\\u0001\""},
      {rt::json_string("\x1f\x20~\x7f"), "\"\\u001f ~\x7f\""},
      {rt::json_string("\t\r"), "\"\\t\\r\""},
      // Escapes deep in long runs, on and off eight-byte boundaries, and
      // UTF-8 left whole.
      {rt::json_string("01234567\"abcdefghijklmno\\pqrstu 25.0 \xc2\xb0" "C\x1f"),
       "\"01234567\\\"abcdefghijklmno\\\\pqrstu 25.0 \xc2\xb0" "C\\u001f\""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

class TraceLines : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::reset_serial_for_tests();
    rt::set_speed(0);
    rt::trace_to_memory();
  }
  void TearDown() override {
    rt::reset_ui_for_tests();
    rt::reset_serial_for_tests();
  }
  std::string last() { return rt::trace_lines().back(); }
};

TEST_F(TraceLines, panel_calls) {
  int panel = LoadPanel(0, "gse.uir", PANEL);
  ASSERT_GT(panel, 0) << PanelErrorText();
  EXPECT_EQ(last(), R"({"op":"LoadPanel","file":"gse.uir","resource":1})");
  DisplayPanel(panel);
  EXPECT_EQ(last(), R"({"op":"DisplayPanel","file":"gse.uir"})");

  SetCtrlVal(panel, PANEL_SKIPPED, 17);
  EXPECT_EQ(last(), R"({"op":"SetCtrlVal","ctrl":"PANEL_SKIPPED","id":73,"type":"int","value":17})");
  SetCtrlVal(panel, PANEL_F12, 1.0);
  EXPECT_EQ(last(), R"({"op":"SetCtrlVal","ctrl":"PANEL_F12","id":69,"type":"double","value":1.0})");
  SetCtrlVal(panel, PANEL_STATUS, " ");
  EXPECT_EQ(last(), R"({"op":"SetCtrlVal","ctrl":"PANEL_STATUS","id":74,"type":"text","value":" "})");
  SetCtrlAttribute(panel, PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
  EXPECT_EQ(last(), R"({"op":"SetCtrlAttribute","ctrl":"PANEL_COUNT","id":17,"attr":10,"value":2})");
  SetAxisRange(panel, PANEL_SPEC256, AXIS_KEEP, 0, 4095, AXIS_MANUAL, 0.001f, 10.0f);
  EXPECT_EQ(last(),
            R"({"op":"SetAxisRange","ctrl":"PANEL_SPEC256","id":23,"xmode":-1,"xmin":0.0,"xmax":4095.0,)"
            R"("ymode":0,"ymin":0.0010000000474974513,"ymax":10.0})");
  DeleteGraphPlot(panel, PANEL_SPEC48, ALL_PLOTS, REFRESH_NOW);
  EXPECT_EQ(last(), R"({"op":"DeleteGraphPlot","ctrl":"PANEL_SPEC48","id":22,"plot":-1,"refresh":1})");
  float x[2] = {44, 48}, y[2] = {2.5f, 0.1f};
  PlotXY(panel, PANEL_SPEC48, x, y, 2, TYPE_FLOAT, TYPE_FLOAT, 6, 0, 0, 1, 255);
  EXPECT_EQ(last(),
            R"({"op":"PlotXY","ctrl":"PANEL_SPEC48","id":22,"n":2,"x":[44.0,48.0],"y":[2.5,0.100000001],)"
            R"("style":6,"point":0,"line":0,"freq":1,"color":255})");
  uint16_t v[4] = {65535, 1, 255, 0};
  PlotStripChart(panel, PANEL_STRIP, v, 4, 0, 0, TYPE_U16);
  EXPECT_EQ(last(), R"({"op":"PlotStripChart","ctrl":"PANEL_STRIP","id":75,"n":4,"values":[65535,1,255,0],"type":6})");
  Delay(1.0);
  EXPECT_EQ(last(), R"({"op":"Delay","seconds":1.0})");
  DiscardPanel(panel);
  EXPECT_EQ(last(), R"({"op":"DiscardPanel","file":"gse.uir"})");
}

TEST_F(TraceLines, reads_trace_the_value_read) {
  int panel = LoadPanel(0, "gse.uir", PANEL);
  rt::current_model()->set_float(PANEL_YMIN, 0.0001f);
  float ymin = 0;
  GetCtrlVal(panel, PANEL_YMIN, &ymin);
  EXPECT_EQ(last(), R"({"op":"GetCtrlVal","ctrl":"PANEL_YMIN","id":15,"type":"float","value":9.99999975e-05})");
  rt::current_model()->set_int(PANEL_COUNT, -3);
  int count = 0;
  GetCtrlVal(panel, PANEL_COUNT, &count);
  EXPECT_EQ(last(), R"({"op":"GetCtrlVal","ctrl":"PANEL_COUNT","id":17,"type":"int","value":-3})");
}

TEST_F(TraceLines, operator_events_are_traced_when_handed_over_and_values_are_not) {
  int panel = LoadPanel(0, "gse.uir", PANEL);
  rt::current_model()->post_event(PANEL_ACCUM, 0);  // operator input: not a call
  size_t before = rt::trace_lines().size();
  int ev_panel = 0, ev_ctrl = 0;
  ASSERT_EQ(GetUserEvent(0, &ev_panel, &ev_ctrl), 1);
  EXPECT_EQ(ev_panel, panel);
  EXPECT_EQ(ev_ctrl, PANEL_ACCUM);
  ASSERT_EQ(rt::trace_lines().size(), before + 1);
  EXPECT_EQ(last(), R"({"op":"Event","ctrl":"PANEL_ACCUM","id":19})");
  EXPECT_EQ(GetUserEvent(0, &ev_panel, &ev_ctrl), 0);
  EXPECT_EQ(rt::trace_lines().size(), before + 1) << "an empty poll is not traced";
}

// The handler reads what the operator committed, though the system wrote
// the control after the commit; switching Accumulate on ends the Count's
// finished look, and nothing else does.
TEST_F(TraceLines, handler_reads_the_committed_value_and_accumulate_on_ends_the_finished_look) {
  int panel = LoadPanel(0, "gse.uir", PANEL);
  rt::PanelModel& m = *rt::current_model();
  struct Case {
    const char* name;
    int ctrl;
    int committed;
    int system_wrote;
    int finished_after;  // attribute 10 of PANEL_COUNT after the hand-over
  } cases[] = {
      {"accumulate switched on", PANEL_ACCUM, 1, 0, 0},
      {"accumulate switched off", PANEL_ACCUM, 0, 1, DONE_LOOK_ON},
      {"a new count", PANEL_COUNT, 50, 9968, DONE_LOOK_ON},
      {"command switch on", PANEL_CMD, 1, 0, DONE_LOOK_ON},
  };
  for (const Case& c : cases) {
    SetCtrlAttribute(panel, PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
    m.post_event(c.ctrl, c.committed);
    SetCtrlVal(panel, c.ctrl, c.system_wrote);
    int ev_panel = 0, ev_ctrl = 0, value = -1;
    ASSERT_EQ(GetUserEvent(0, &ev_panel, &ev_ctrl), 1) << c.name;
    EXPECT_EQ(ev_ctrl, c.ctrl) << c.name;
    GetCtrlVal(panel, c.ctrl, &value);
    EXPECT_EQ(value, c.committed) << c.name;
    EXPECT_EQ(m.attr(PANEL_COUNT, ATTR_DONE_LOOK), c.finished_after) << c.name;
  }
  // A scripted switch-on ends it the same way.
  SetCtrlAttribute(panel, PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
  rt::ScriptEvent ev;
  ev.id = PANEL_ACCUM;
  ev.name = "PANEL_ACCUM";
  ev.has_value = true;
  ev.value = "1";
  rt::set_event_script({ev});
  int ev_panel = 0, ev_ctrl = 0;
  ASSERT_EQ(GetUserEvent(0, &ev_panel, &ev_ctrl), 1);
  EXPECT_EQ(m.attr(PANEL_COUNT, ATTR_DONE_LOOK), 0) << "scripted switch-on";
}

TEST_F(TraceLines, serial_calls) {
  auto port = std::make_shared<rt::MemoryPort>();
  rt::set_com_port(port);
  rt::set_com_path("/dev/ttyUSB0");
  ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0);
  EXPECT_EQ(last(),
            R"({"op":"OpenComConfig","port":1,"device":"COM1","path":"/dev/ttyUSB0","baud":19200,)"
            R"("parity":0,"data":8,"stop":1,"result":0})");
  SetComTime(1, 1.05);
  EXPECT_EQ(last(), R"({"op":"SetComTime","port":1,"seconds":1.05})");
  ComWrt(1, "RCVD\r", 5);
  EXPECT_EQ(last(), R"({"op":"ComWrt","hex":"524356440D"})");
  ComWrtByte(1, 0x33);
  EXPECT_EQ(last(), R"({"op":"ComWrtByte","hex":"33"})");
  port->feed({0xEB});
  size_t before = rt::trace_lines().size();
  EXPECT_EQ(ComRdByte(1), 0xEB);
  EXPECT_EQ(rt::trace_lines().size(), before) << "byte reads are not traced";
  CloseCom(1);
  EXPECT_EQ(last(), R"({"op":"CloseCom","port":1})");
  EXPECT_EQ(port->written(), (std::vector<uint8_t>{'R', 'C', 'V', 'D', '\r', 0x33}));
}

TEST_F(TraceLines, a_port_that_cannot_open_reports_its_system_error) {
  auto port = std::make_shared<rt::MemoryPort>();
  port->refuse_open(2);
  rt::set_com_port(port);
  int status = OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0);
  EXPECT_LT(status, 0);
  EXPECT_EQ(ComSystemError(), 2);
  EXPECT_LT(ComRdByte(1), 0) << "a port that never opened reads nothing";
}

}  // namespace
