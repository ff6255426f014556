// Reading the panel file: the real one is complete, broken ones are refused
// with a message that names the file and the reason.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "runtime/panel_file.h"
#include "support/builtin_panel.h"
#include "support/files.h"

namespace {

using rt::Kind;
using rt::ValueType;

TEST(PanelFile, the_panel_has_every_control_with_its_kind_and_type) {
  rt::PanelLayout layout;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(rt::find_panel_file("gse.uir"), PANEL, &layout, &error)) << error;
  std::map<int, const rt::ControlInfo*> by_id;
  for (const auto& c : layout.controls) by_id[c.id] = &c;
  ASSERT_EQ(by_id.size(), 75u) << "identifiers 2 to 76";

  struct Want {
    int id;
    const char* name;
    Kind kind;
    ValueType type;
  } wants[] = {
      {PANEL_W190_K0, "PANEL_W190_K0", Kind::Display, ValueType::Int},
      {PANEL_HKRAW, "PANEL_HKRAW", Kind::Display, ValueType::Int},
      {PANEL_QUIT, "PANEL_QUIT", Kind::Button, ValueType::None},
      {PANEL_XMIN, "PANEL_XMIN", Kind::IntInput, ValueType::Int},
      {PANEL_YMIN, "PANEL_YMIN", Kind::FloatInput, ValueType::Float},
      {PANEL_YMAX, "PANEL_YMAX", Kind::FloatInput, ValueType::Float},
      {PANEL_COUNT, "PANEL_COUNT", Kind::IntInput, ValueType::Int},
      {PANEL_CLEAR, "PANEL_CLEAR", Kind::Button, ValueType::None},
      {PANEL_ACCUM, "PANEL_ACCUM", Kind::Switch, ValueType::Int},
      {PANEL_YLOG, "PANEL_YLOG", Kind::Switch, ValueType::Int},
      {PANEL_SPEC48, "PANEL_SPEC48", Kind::XYGraph, ValueType::Points},
      {PANEL_SPEC256, "PANEL_SPEC256", Kind::XYGraph, ValueType::Points},
      {PANEL_L6_K3, "PANEL_L6_K3", Kind::Display, ValueType::Double},
      {PANEL_HK02, "PANEL_HK02", Kind::Display, ValueType::Double},
      {PANEL_HK00, "PANEL_HK00", Kind::Display, ValueType::Double},
      {PANEL_TIME, "PANEL_TIME", Kind::Display, ValueType::Text},
      {PANEL_W196, "PANEL_W196", Kind::Display, ValueType::Int},
      {PANEL_F20, "PANEL_F20", Kind::Display, ValueType::Double},
      {PANEL_HEXDUMP, "PANEL_HEXDUMP", Kind::TextBox, ValueType::Text},
      {PANEL_SKIPPED, "PANEL_SKIPPED", Kind::Display, ValueType::Int},
      {PANEL_STATUS, "PANEL_STATUS", Kind::Display, ValueType::Text},
      {PANEL_STRIP, "PANEL_STRIP", Kind::StripChart, ValueType::U16},
      {PANEL_CMD, "PANEL_CMD", Kind::Switch, ValueType::Int},
  };
  for (const auto& w : wants) {
    ASSERT_TRUE(by_id.count(w.id)) << w.name;
    const rt::ControlInfo& c = *by_id[w.id];
    EXPECT_EQ(c.name, w.name);
    EXPECT_EQ(c.kind, w.kind) << w.name;
    EXPECT_EQ(c.type, w.type) << w.name;
  }
  // The operator's controls start as the panel file sets them.
  rt::PanelModel model(layout);
  int xmax = 0, accum = 0;
  float ymin = 0;
  model.get_int(PANEL_XMAX, &xmax);
  model.get_int(PANEL_ACCUM, &accum);
  model.get_float(PANEL_YMIN, &ymin);
  EXPECT_EQ(xmax, 4095);
  EXPECT_EQ(accum, 1);
  EXPECT_EQ(ymin, 0.001f);
  // Housekeeping displays 26..61 and the kind values are all doubles, and
  // every housekeeping slot has a format and both ranges.
  for (int id = PANEL_HK02; id <= PANEL_HK00; ++id) {
    EXPECT_EQ(by_id[id]->type, ValueType::Double) << by_id[id]->name;
    EXPECT_NE(by_id[id]->format.style, rt::DisplayFormat::Style::Auto) << by_id[id]->name;
    EXPECT_FALSE(by_id[id]->format.unit.empty()) << by_id[id]->name;
    EXPECT_TRUE(by_id[id]->limits.caution && by_id[id]->limits.alarm) << by_id[id]->name;
  }
}

// The Windows check's unit tests load the built-in layout in place of the
// file (no XML reader without Qt): it must be what the reader makes of it.
TEST(PanelFile, builtin_layout_is_what_the_reader_makes_of_the_file) {
  rt::PanelLayout file;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(rt::find_panel_file("gse.uir"), PANEL, &file, &error)) << error;
  const rt::PanelLayout builtin = testing_panel::builtin_gse_layout();
  EXPECT_EQ(builtin.resource, file.resource);
  EXPECT_EQ(builtin.title, file.title);
  ASSERT_EQ(builtin.controls.size(), file.controls.size());
  for (size_t i = 0; i < file.controls.size(); ++i) {
    const rt::ControlInfo& want = file.controls[i];
    const rt::ControlInfo& got = builtin.controls[i];
    EXPECT_EQ(got.name, want.name) << "control " << i;
    EXPECT_EQ(got.id, want.id) << want.name;
    EXPECT_EQ(got.widget_class, want.widget_class) << want.name;
    EXPECT_EQ(got.kind, want.kind) << want.name;
    EXPECT_EQ(got.type, want.type) << want.name;
    EXPECT_EQ(got.has_initial, want.has_initial) << want.name;
    EXPECT_EQ(got.initial, want.initial) << want.name;
    EXPECT_EQ(got.format.style, want.format.style) << want.name;
    EXPECT_EQ(got.format.digits, want.format.digits) << want.name;
    EXPECT_EQ(got.format.unit, want.format.unit) << want.name;
    EXPECT_EQ(got.format.scale, want.format.scale) << want.name;
    EXPECT_EQ(got.limits.caution.has_value(), want.limits.caution.has_value()) << want.name;
    EXPECT_EQ(got.limits.alarm.has_value(), want.limits.alarm.has_value()) << want.name;
    EXPECT_EQ(got.limits.hysteresis, want.limits.hysteresis) << want.name;
  }
}

std::string form(const std::string& widgets, int resource = 1) {
  return "<?xml version=\"1.0\"?><ui version=\"4.0\"><widget class=\"QWidget\" name=\"PANEL\">"
         "<property name=\"panelResource\" stdset=\"0\"><number>" + std::to_string(resource) +
         "</number></property><layout class=\"QVBoxLayout\" name=\"l\">" + widgets +
         "</layout></widget></ui>";
}

std::string control(const char* cls, const char* name, int id, const char* extra = "") {
  return std::string("<item><widget class=\"") + cls + "\" name=\"" + name +
         "\"><property name=\"ctrlId\" stdset=\"0\"><number>" + std::to_string(id) +
         "</number></property>" + extra + "</widget></item>";
}

TEST(PanelFile, reads_a_displays_format_unit_and_limits) {
  const std::string props =
      "<property name=\"valueType\" stdset=\"0\"><string>double</string></property>"
      "<property name=\"format\" stdset=\"0\"><string>digits:5</string></property>"
      "<property name=\"unit\" stdset=\"0\"><string>mA</string></property>"
      "<property name=\"unitScale\" stdset=\"0\"><double>1000.0</double></property>"
      "<property name=\"caution\" stdset=\"0\"><string>2..98</string></property>"
      "<property name=\"alarm\" stdset=\"0\"><string>..99.5</string></property>"
      "<property name=\"hysteresis\" stdset=\"0\"><double>0.25</double></property>";
  const std::string xml = form(control("QLineEdit", "PANEL_HK08", 34, props.c_str()));
  testing_files::TempDir dir;
  const std::string path = dir.file("panel.uir");
  testing_files::write_file(path, std::vector<uint8_t>(xml.begin(), xml.end()));
  rt::PanelLayout layout;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(path, 1, &layout, &error)) << error;
  const rt::ControlInfo& c = layout.controls.at(0);
  EXPECT_EQ(c.format.style, rt::DisplayFormat::Style::Digits);
  EXPECT_EQ(c.format.digits, 5);
  EXPECT_EQ(c.format.unit, "mA");
  EXPECT_EQ(c.format.scale, 1000.0);
  EXPECT_EQ(c.limits.caution->low, 2.0);
  EXPECT_EQ(c.limits.caution->high, 98.0);
  EXPECT_EQ(c.limits.alarm->low, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(c.limits.alarm->high, 99.5);
  EXPECT_EQ(c.limits.hysteresis, 0.25);
}

std::string prop(const char* name, const char* value) {
  return std::string("<property name=\"") + name + "\" stdset=\"0\"><string>" + value + "</string></property>";
}

TEST(PanelFile, refuses_broken_panels_clearly) {
  const char* text_type = "<property name=\"valueType\" stdset=\"0\"><string>text</string></property>";
  const std::string double_type = prop("valueType", "double");
  struct Case {
    const char* what;
    std::string xml;
    int resource;
    const char* reason;
  } cases[] = {
      {"malformed XML", "<ui><widget class=\"QWidget\">", 1, "malformed panel file"},
      {"no such resource", form(control("QPushButton", "PANEL_QUIT", 12)), 2, "has no panel resource 2"},
      {"duplicate identifier",
       form(control("QPushButton", "PANEL_QUIT", 12) + control("QPushButton", "PANEL_CLEAR", 12)), 1,
       "duplicate control identifier 12"},
      {"duplicate name",
       form(control("QPushButton", "PANEL_QUIT", 12) + control("QPushButton", "PANEL_QUIT", 18)), 1,
       "duplicate control name PANEL_QUIT"},
      {"wrong class", form(control("QLabel", "PANEL_STATUS", 74)), 1, "class QLabel is not a control class"},
      {"display without a value type", form(control("QLineEdit", "PANEL_STATUS", 74)), 1,
       "needs valueType int, double or text"},
      {"plot without a chart kind", form(control("QCustomPlot", "PANEL_SPEC48", 22)), 1,
       "needs chart xy or strip"},
      {"bad identifier", form(control("QLineEdit", "PANEL_STATUS", -4, text_type)), 1, "invalid ctrlId"},
      {"bad format", form(control("QLineEdit", "PANEL_HK00", 61, (double_type + prop("format", "fixed:x")).c_str())),
       1, "PANEL_HK00 (id 61): format \"fixed:x\""},
      {"bad range", form(control("QLineEdit", "PANEL_HK00", 61, (double_type + prop("caution", "9..1")).c_str())),
       1, "caution: range \"9..1\""},
      {"zero unit scale", form(control("QLineEdit", "PANEL_HK00", 61, (double_type + prop("unitScale", "0")).c_str())),
       1, "unitScale \"0\""},
      // Start values are held to what their control can hold.
      {"NaN start value", form(control("QDoubleSpinBox", "PANEL_YMIN", 40, prop("value", "nan").c_str())), 1,
       "PANEL_YMIN (id 40): start value \"nan\" is not a finite number a float can hold"},
      {"infinite start value", form(control("QDoubleSpinBox", "PANEL_YMIN", 40, prop("value", "inf").c_str())), 1,
       "start value \"inf\""},
      {"start value beyond a float", form(control("QDoubleSpinBox", "PANEL_YMIN", 40, prop("value", "1e300").c_str())),
       1, "start value \"1e300\""},
      {"integer start value beyond 32 bits",
       form(control("QSpinBox", "PANEL_XMAX", 41, prop("value", "4294967296").c_str())), 1,
       "start value \"4294967296\" is not a 32-bit integer"},
      {"switch neither on nor off", form(control("QCheckBox", "PANEL_YLOG", 42, prop("checked", "maybe").c_str())), 1,
       "checked \"maybe\" is neither true nor false"},
  };
  testing_files::TempDir dir;
  for (const auto& c : cases) {
    std::string path = dir.file("bad.uir");
    testing_files::write_file(path, std::vector<uint8_t>(c.xml.begin(), c.xml.end()));
    rt::PanelLayout layout;
    std::string error;
    EXPECT_FALSE(rt::read_panel_file(path, c.resource, &layout, &error)) << c.what;
    EXPECT_NE(error.find(path), std::string::npos) << c.what << ": " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
  rt::PanelLayout layout;
  std::string error;
  EXPECT_FALSE(rt::read_panel_file(dir.file("missing.uir"), 1, &layout, &error));
  EXPECT_NE(error.find("missing.uir"), std::string::npos) << error;
}

TEST(PanelFile, a_huge_panel_file_is_refused_unread_and_no_message_echoes_a_huge_value) {
  testing_files::TempDir dir;
  struct Case {
    const char* what;
    size_t value_bytes;  // of one property's value
    const char* reason;
  } cases[] = {
      {"file beyond the bound", static_cast<size_t>(rt::PANEL_FILE_MAX_BYTES), "larger than 4194304 bytes"},
      {"huge value within the bound", 3u << 20, "unitScale \"xxxxxxxx"},
  };
  for (const auto& c : cases) {
    const std::string big(c.value_bytes, 'x');
    const std::string xml =
        form(control("QLineEdit", "PANEL_HK00", 61, (prop("valueType", "double") + prop("unitScale", big.c_str())).c_str()));
    const std::string path = dir.file("big.uir");
    testing_files::write_file(path, std::vector<uint8_t>(xml.begin(), xml.end()));
    rt::PanelLayout layout;
    std::string error;
    EXPECT_FALSE(rt::read_panel_file(path, 1, &layout, &error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error.substr(0, 400);
    EXPECT_LT(error.size(), 400u) << c.what << ": a short message";
  }
}

}  // namespace
