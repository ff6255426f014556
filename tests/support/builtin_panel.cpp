#include "support/builtin_panel.h"

namespace testing_panel {

namespace {

using rt::Kind;
using rt::ValueType;

struct Row {
  const char* name;
  int id;
  const char* widget_class;
  Kind kind;
  ValueType type;
  bool has_initial = false;
  double initial = 0.0;
};

// In the order of the panel file.
const Row ROWS[] = {
    {"PANEL_STATUS", 74, "QLineEdit", Kind::Display, ValueType::Text},
    {"PANEL_SKIPPED", 73, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_CMD", 76, "QCheckBox", Kind::Switch, ValueType::Int, true, 0},
    {"PANEL_QUIT", 12, "QPushButton", Kind::Button, ValueType::None},
    {"PANEL_L6_K0", 62, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_W190_K0", 2, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_TIME", 63, "QLineEdit", Kind::Display, ValueType::Text},
    {"PANEL_W190_K1", 3, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_L6_K2", 25, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_W190_K2", 11, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_L6_K3", 24, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_W190_K3", 10, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_F12", 69, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_F16", 70, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_F20", 71, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_F24_A", 64, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_F24_B", 65, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_W2_HI", 7, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_W2_MID", 8, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_W10", 9, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_W192", 68, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_W194", 67, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_W196", 66, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_HEXDUMP", 72, "QPlainTextEdit", Kind::TextBox, ValueType::Text},
    {"PANEL_HK00", 61, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK18", 48, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK01", 60, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK19", 47, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK02", 26, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK20", 46, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK03", 59, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK21", 45, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK04", 58, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK22", 44, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK05", 57, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK23", 43, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK06", 56, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK24", 42, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK07", 55, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK25", 41, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK08", 34, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK26", 40, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK09", 27, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK27", 39, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK10", 33, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK28", 38, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK11", 32, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK29", 37, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK12", 31, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK30", 36, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK13", 30, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK31", 35, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK14", 29, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK32", 54, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK15", 28, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK33", 53, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK16", 50, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK34", 52, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK17", 49, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HK35", 51, "QLineEdit", Kind::Display, ValueType::Double},
    {"PANEL_HKHI", 5, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_HKLO", 4, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_HKRAW", 6, "QLineEdit", Kind::Display, ValueType::Int},
    {"PANEL_STRIP", 75, "QCustomPlot", Kind::StripChart, ValueType::U16},
    {"PANEL_SPEC48", 22, "QCustomPlot", Kind::XYGraph, ValueType::Points},
    {"PANEL_SPEC256", 23, "QCustomPlot", Kind::XYGraph, ValueType::Points},
    {"PANEL_XMIN", 13, "QSpinBox", Kind::IntInput, ValueType::Int, true, 0},
    {"PANEL_XMAX", 14, "QSpinBox", Kind::IntInput, ValueType::Int, true, 4095},
    {"PANEL_XLOG", 20, "QCheckBox", Kind::Switch, ValueType::Int, true, 0},
    {"PANEL_YMIN", 15, "QDoubleSpinBox", Kind::FloatInput, ValueType::Float, true, 0.001},
    {"PANEL_YMAX", 16, "QDoubleSpinBox", Kind::FloatInput, ValueType::Float, true, 10.0},
    {"PANEL_YLOG", 21, "QCheckBox", Kind::Switch, ValueType::Int, true, 0},
    {"PANEL_COUNT", 17, "QSpinBox", Kind::IntInput, ValueType::Int, true, 0},
    {"PANEL_ACCUM", 19, "QCheckBox", Kind::Switch, ValueType::Int, true, 1},
    {"PANEL_CLEAR", 18, "QPushButton", Kind::Button, ValueType::None},
};

}  // namespace

rt::PanelLayout builtin_gse_layout() {
  rt::PanelLayout layout;
  layout.resource = 1;
  layout.title = "vst_gse";
  for (const Row& row : ROWS) {
    rt::ControlInfo c;
    c.id = row.id;
    c.name = row.name;
    c.kind = row.kind;
    c.type = row.type;
    c.widget_class = row.widget_class;
    c.has_initial = row.has_initial;
    c.initial = row.initial;
    layout.controls.push_back(std::move(c));
  }
  return layout;
}

}  // namespace testing_panel
