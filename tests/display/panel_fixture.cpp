#include "panel_fixture.h"

#include <regex>

#include "runtime/testing.h"
#include "runtime/ui.h"

void PanelTest::SetUp() {
  rt::reset_ui_for_tests();
  panel = LoadPanel(0, "gse.uir", 1);
  ASSERT_GT(panel, 0) << PanelErrorText();
  model = rt::current_model();
  ASSERT_NE(model, nullptr);
  rt::trace_to_memory();
}

void PanelTest::TearDown() { rt::reset_ui_for_tests(); }

int PanelTest::ival(int ctrl) const {
  int v = 0;
  EXPECT_TRUE(model->get_int(ctrl, &v)) << "control " << ctrl << " holds no int";
  return v;
}

double PanelTest::dval(int ctrl) const {
  double v = 0.0;
  EXPECT_TRUE(model->get_double(ctrl, &v)) << "control " << ctrl << " holds no double";
  return v;
}

std::string PanelTest::tval(int ctrl) const {
  std::string v;
  EXPECT_TRUE(model->get_text(ctrl, &v)) << "control " << ctrl << " holds no text";
  return v;
}

rt::ControlState PanelTest::state(int ctrl) const {
  rt::ControlState s;
  EXPECT_TRUE(model->state(ctrl, &s)) << "no control " << ctrl;
  return s;
}

std::vector<std::string> PanelTest::calls() const {
  static const std::regex op_re("\"op\":\"(\\w+)\"");
  static const std::regex ctrl_re("\"ctrl\":\"(\\w+)\"");
  std::vector<std::string> out;
  for (const std::string& line : rt::trace_lines()) {
    std::smatch op, ctrl;
    if (!std::regex_search(line, op, op_re)) continue;
    std::string call = op[1];
    if (std::regex_search(line, ctrl, ctrl_re)) call += " " + ctrl[1].str();
    out.push_back(call);
  }
  return out;
}

void PanelTest::clear_calls() const { rt::clear_trace_lines(); }
