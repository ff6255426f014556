// The panel window, built from the real panel file in Qt's offscreen
// platform: every control bound, model values drawn, committed input turned
// into model values and events, bad panel files refused.
#include <QAbstractSpinBox>
#include <QApplication>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "gui/window.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "gui/panel_fixture.h"

namespace {

using testing_window::open_panel;
using testing_window::Panel;
using testing_window::panel_file;

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Gives a spin box keyboard focus (offscreen windows need it explicitly).
void focus(QWidget* w) {
  QApplication::setActiveWindow(w->window());
  w->setFocus(Qt::OtherFocusReason);
  QCoreApplication::processEvents();
}

// Selects the field's text and types `text` into it.
void type_into(QAbstractSpinBox* spin, const char* text) {
  focus(spin);
  spin->selectAll();
  QTest::keyClicks(spin, text);
}

#define CONTROL(name, kind, type) \
  { name, #name, rt::Kind::kind, rt::ValueType::type }

struct Expected {
  int id;
  const char* name;
  rt::Kind kind;
  rt::ValueType type;
};

const Expected CONTROLS[] = {
    CONTROL(PANEL_W190_K0, Display, Int),   CONTROL(PANEL_W190_K1, Display, Int),
    CONTROL(PANEL_HKLO, Display, Int),      CONTROL(PANEL_HKHI, Display, Int),
    CONTROL(PANEL_HKRAW, Display, Int),     CONTROL(PANEL_W2_HI, Display, Int),
    CONTROL(PANEL_W2_MID, Display, Int),    CONTROL(PANEL_W10, Display, Int),
    CONTROL(PANEL_W190_K3, Display, Int),   CONTROL(PANEL_W190_K2, Display, Int),
    CONTROL(PANEL_QUIT, Button, None),      CONTROL(PANEL_XMIN, IntInput, Int),
    CONTROL(PANEL_XMAX, IntInput, Int),     CONTROL(PANEL_YMIN, FloatInput, Float),
    CONTROL(PANEL_YMAX, FloatInput, Float), CONTROL(PANEL_COUNT, IntInput, Int),
    CONTROL(PANEL_CLEAR, Button, None),     CONTROL(PANEL_ACCUM, Switch, Int),
    CONTROL(PANEL_XLOG, Switch, Int),       CONTROL(PANEL_YLOG, Switch, Int),
    CONTROL(PANEL_SPEC48, XYGraph, Points), CONTROL(PANEL_SPEC256, XYGraph, Points),
    CONTROL(PANEL_L6_K3, Display, Double),  CONTROL(PANEL_L6_K2, Display, Double),
    CONTROL(PANEL_HK02, Display, Double),   CONTROL(PANEL_HK09, Display, Double),
    CONTROL(PANEL_HK15, Display, Double),   CONTROL(PANEL_HK14, Display, Double),
    CONTROL(PANEL_HK13, Display, Double),   CONTROL(PANEL_HK12, Display, Double),
    CONTROL(PANEL_HK11, Display, Double),   CONTROL(PANEL_HK10, Display, Double),
    CONTROL(PANEL_HK08, Display, Double),   CONTROL(PANEL_HK31, Display, Double),
    CONTROL(PANEL_HK30, Display, Double),   CONTROL(PANEL_HK29, Display, Double),
    CONTROL(PANEL_HK28, Display, Double),   CONTROL(PANEL_HK27, Display, Double),
    CONTROL(PANEL_HK26, Display, Double),   CONTROL(PANEL_HK25, Display, Double),
    CONTROL(PANEL_HK24, Display, Double),   CONTROL(PANEL_HK23, Display, Double),
    CONTROL(PANEL_HK22, Display, Double),   CONTROL(PANEL_HK21, Display, Double),
    CONTROL(PANEL_HK20, Display, Double),   CONTROL(PANEL_HK19, Display, Double),
    CONTROL(PANEL_HK18, Display, Double),   CONTROL(PANEL_HK17, Display, Double),
    CONTROL(PANEL_HK16, Display, Double),   CONTROL(PANEL_HK35, Display, Double),
    CONTROL(PANEL_HK34, Display, Double),   CONTROL(PANEL_HK33, Display, Double),
    CONTROL(PANEL_HK32, Display, Double),   CONTROL(PANEL_HK07, Display, Double),
    CONTROL(PANEL_HK06, Display, Double),   CONTROL(PANEL_HK05, Display, Double),
    CONTROL(PANEL_HK04, Display, Double),   CONTROL(PANEL_HK03, Display, Double),
    CONTROL(PANEL_HK01, Display, Double),   CONTROL(PANEL_HK00, Display, Double),
    CONTROL(PANEL_L6_K0, Display, Double),  CONTROL(PANEL_TIME, Display, Text),
    CONTROL(PANEL_F24_A, Display, Double),  CONTROL(PANEL_F24_B, Display, Double),
    CONTROL(PANEL_W196, Display, Int),      CONTROL(PANEL_W194, Display, Int),
    CONTROL(PANEL_W192, Display, Int),      CONTROL(PANEL_F12, Display, Double),
    CONTROL(PANEL_F16, Display, Double),    CONTROL(PANEL_F20, Display, Double),
    CONTROL(PANEL_HEXDUMP, TextBox, Text),  CONTROL(PANEL_SKIPPED, Display, Int),
    CONTROL(PANEL_STATUS, Display, Text),   CONTROL(PANEL_STRIP, StripChart, U16),
    CONTROL(PANEL_CMD, Switch, Int),
};

const char* widget_class(rt::Kind kind) {
  switch (kind) {
    case rt::Kind::Button: return "QPushButton";
    case rt::Kind::IntInput: return "QSpinBox";
    case rt::Kind::FloatInput: return "QDoubleSpinBox";
    case rt::Kind::Switch: return "QCheckBox";
    case rt::Kind::Display: return "QLineEdit";
    case rt::Kind::TextBox: return "QPlainTextEdit";
    default: return "QCustomPlot";
  }
}

TEST(PanelWindow, binds_every_control_of_the_panel_with_its_kind_and_value_type) {
  auto panel = open_panel(false);
  ASSERT_TRUE(panel);
  EXPECT_EQ(panel->model->layout().controls.size(), std::size(CONTROLS));
  for (const Expected& e : CONTROLS) {
    const rt::ControlInfo* c = panel->model->find(e.id);
    ASSERT_NE(c, nullptr) << e.name;
    EXPECT_EQ(c->name, e.name) << e.name;
    EXPECT_EQ(c->kind, e.kind) << e.name;
    EXPECT_EQ(c->type, e.type) << e.name;
    QWidget* w = panel->widget<QWidget>(e.name);
    ASSERT_NE(w, nullptr) << e.name;
    EXPECT_STREQ(w->metaObject()->className(), widget_class(e.kind)) << e.name;
  }
}

TEST(PanelWindow, shows_model_values_in_their_widgets_after_a_refresh) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  m.set_int(PANEL_SKIPPED, 1234);
  m.set_int(PANEL_W192, -32768);
  m.set_double(PANEL_F12, 1.0);
  m.set_double(PANEL_F16, std::nan(""));
  m.set_double(PANEL_F20, -std::numeric_limits<double>::infinity());
  m.set_double(PANEL_HK16, 500.0 * 65535 / 65535.0 - 273.15);
  m.set_double(PANEL_L6_K2, static_cast<double>(3.25f));
  m.set_text(PANEL_TIME, "1/01:01:01.5");
  m.set_text(PANEL_STATUS, " ");
  m.set_text(PANEL_HEXDUMP, "\nEB90\n0102\n");
  m.set_int(PANEL_COUNT, 999);
  m.set_int(PANEL_XMAX, 255);
  m.set_float(PANEL_YMIN, 0.5f);
  m.set_int(PANEL_ACCUM, 1);
  m.set_int(PANEL_CMD, 0);
  rt::refresh_panel_window(panel->window);

  struct Shown {
    const char* name;
    const char* text;
  };
  const Shown lines[] = {
      {"PANEL_SKIPPED", "1234"},   {"PANEL_W192", "-32768"},
      {"PANEL_F12", "1.0"},        {"PANEL_F16", "NaN"},
      {"PANEL_F20", "-Infinity"},  {"PANEL_HK16", "226.85"},
      {"PANEL_L6_K2", "3.250"},     {"PANEL_TIME", "1/01:01:01.5"},
      {"PANEL_STATUS", " "},
  };
  for (const Shown& s : lines) {
    auto* edit = panel->widget<QLineEdit>(s.name);
    ASSERT_NE(edit, nullptr) << s.name;
    EXPECT_EQ(edit->text().toStdString(), s.text) << s.name;
  }
  EXPECT_EQ(panel->widget<QPlainTextEdit>("PANEL_HEXDUMP")->toPlainText().toStdString(),
            "\nEB90\n0102\n");
  EXPECT_TRUE(panel->widget<QPlainTextEdit>("PANEL_HEXDUMP")->font().fixedPitch() ||
              QFontInfo(panel->widget<QPlainTextEdit>("PANEL_HEXDUMP")->font()).fixedPitch())
      << "hex dump is monospaced";
  EXPECT_EQ(panel->widget<QSpinBox>("PANEL_COUNT")->value(), 999);
  EXPECT_EQ(panel->widget<QSpinBox>("PANEL_XMAX")->value(), 255);
  EXPECT_DOUBLE_EQ(panel->widget<QDoubleSpinBox>("PANEL_YMIN")->value(), 0.5);
  EXPECT_TRUE(panel->widget<QCheckBox>("PANEL_ACCUM")->isChecked());
  EXPECT_FALSE(panel->widget<QCheckBox>("PANEL_CMD")->isChecked());
  EXPECT_EQ(m.pending_events(), 0u) << "drawing values raises no events";
}

TEST(PanelWindow, displays_write_the_format_their_panel_file_gives_and_stay_empty_until_written) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  rt::refresh_panel_window(panel->window);
  for (const char* never : {"PANEL_HK00", "PANEL_W10", "PANEL_F12", "PANEL_TIME"})
    EXPECT_EQ(panel->widget<QLineEdit>(never)->text().toStdString(), "") << never << " never written";
  struct Case {
    const char* name;
    int id;
    double value;  // as the housekeeping page computes it from a 16-bit word
    const char* shown;
  };
  const Case cases[] = {
      {"PANEL_HK00", PANEL_HK00, 10.0 * 32768 / 65535.0, "5.0001"},       // V, five digits
      {"PANEL_HK06", PANEL_HK06, -10.0 * 65535 / 65535.0, "-10.000"},     // V, full scale
      {"PANEL_HK08", PANEL_HK08, 0.1 * 48731 / 65535.0, "74.359"},        // A shown in mA
      {"PANEL_HK16", PANEL_HK16, 500.0 * 0 / 65535.0 - 273.15, "-273.15"},  // degC, two decimals
      {"PANEL_L6_K2", PANEL_L6_K2, 1073741824 * 8.3819e-08, "90.000"},    // degrees to 0.001
      {"PANEL_F12", PANEL_F12, static_cast<double>(0.1f), "0.1"},         // the 32-bit float
  };
  for (const Case& c : cases) m.set_double(c.id, c.value);
  rt::refresh_panel_window(panel->window);
  for (const Case& c : cases) {
    const std::string text = panel->widget<QLineEdit>(c.name)->text().toStdString();
    EXPECT_EQ(text, c.shown) << c.name;
    EXPECT_LE(text.size(), 7u) << c.name;
  }
  double kept = 0;
  m.get_double(PANEL_HK08, &kept);
  EXPECT_EQ(kept, 0.1 * 48731 / 65535.0) << "the model (and so the trace and CSV) keeps every digit";
}

TEST(PanelWindow, y_min_takes_scientific_notation_down_to_the_smallest_float) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  auto* ymin = panel->widget<QDoubleSpinBox>("PANEL_YMIN");
  EXPECT_NE(ymin->toolTip().indexOf("scales itself"), -1) << "the graph autoscales until the system sets it";
  EXPECT_FALSE(ymin->property("axisInUse").toBool()) << "greyed meanwhile";
  const float smallest = std::numeric_limits<float>::denorm_min();
  struct Case {
    const char* typed;
    float value;
  };
  for (const Case& c : {Case{"1e-30", 1e-30f}, Case{"2.5E3", 2500.0f}, Case{"1.4e-45", smallest},
                        Case{"1.401298464324817e-45", smallest}}) {
    type_into(ymin, c.typed);
    QTest::keyClick(ymin, Qt::Key_Return);
    // The value reaches the control when its event is handed over.
    EXPECT_EQ(panel->events(), std::vector<int>{PANEL_YMIN}) << c.typed;
    float f = 0;
    m.get_float(PANEL_YMIN, &f);
    EXPECT_EQ(f, c.value) << c.typed;
  }
  type_into(ymin, "1e-46");  // 0 as a float: not what the operator meant
  QTest::keyClick(ymin, Qt::Key_Return);
  float f = 0;
  m.get_float(PANEL_YMIN, &f);
  EXPECT_EQ(f, smallest) << "a number that would round to 0 is refused";

  // The system applies it (SetAxisRange): the graph uses it, and the field
  // says so.
  rt::Plot p;
  p.x = {1, 2};
  p.y = {1, 2};
  m.add_plot(PANEL_SPEC256, p);
  m.set_y_log(PANEL_SPEC256, true);
  m.set_y_range(PANEL_SPEC256, static_cast<double>(smallest), 10.0);
  rt::refresh_panel_window(panel->window);
  auto* plot = panel->widget<QCustomPlot>("PANEL_SPEC256");
  EXPECT_EQ(plot->yAxis->range().lower, static_cast<double>(smallest));
  EXPECT_EQ(ymin->text().toStdString(), "1e-45");
  EXPECT_EQ(ymin->toolTip().indexOf("scales itself"), -1) << ymin->toolTip().toStdString();
  EXPECT_TRUE(ymin->property("axisInUse").toBool());
}

TEST(PanelWindow, follows_the_model_title_and_visibility) {
  auto panel = open_panel(false);
  ASSERT_TRUE(panel);
  QWidget* top = rt::panel_widget(panel->window);
  panel->model->set_title("vst_gse - NOT RECORDING");
  panel->model->set_visible(true);
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(top->windowTitle().toStdString(), "vst_gse - NOT RECORDING");
  EXPECT_TRUE(top->isVisible());
  panel->model->set_visible(false);
  rt::refresh_panel_window(panel->window);
  EXPECT_FALSE(top->isVisible());
}

TEST(PanelWindow, a_click_on_quit_queues_its_event) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  QTest::mouseClick(panel->widget<QPushButton>("PANEL_QUIT"), Qt::LeftButton);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_QUIT});
  panel->widget<QPushButton>("PANEL_CLEAR")->click();
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_CLEAR});
}

// Committed input travels with its event: the control takes the value when
// the event is handed over (take_event, as GetUserEvent does), so what the
// system wrote in between never replaces it. Until then the widget shows
// what the operator committed.
TEST(PanelWindow, a_switch_click_queues_its_state_with_the_event) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  // One click moves the Command switch too (its arming is a test of its own).
  rt::panel_widget(panel->window)->findChild<QAction*>("actionConfirmCommands")->setChecked(false);
  struct Case {
    const char* name;
    int id;
  };
  for (const Case& c : {Case{"PANEL_ACCUM", PANEL_ACCUM}, Case{"PANEL_XLOG", PANEL_XLOG},
                        Case{"PANEL_YLOG", PANEL_YLOG}, Case{"PANEL_CMD", PANEL_CMD}}) {
    auto* box = panel->widget<QCheckBox>(c.name);
    panel->model->set_int(c.id, 0);
    rt::refresh_panel_window(panel->window);
    // On the indicator: a wide switch takes clicks only on its box and label.
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    panel->model->set_int(c.id, 0);  // the system writes the switch meanwhile
    rt::refresh_panel_window(panel->window);
    EXPECT_TRUE(box->isChecked()) << c.name << " shows the committed state";
    EXPECT_EQ(panel->events(), std::vector<int>{c.id}) << c.name << " switched on";
    EXPECT_EQ(panel->int_value(c.id), 1) << c.name << " switched on";
    box->click();
    EXPECT_EQ(panel->int_value(c.id), 1) << c.name << ": not handed over yet";
    EXPECT_EQ(panel->events(), std::vector<int>{c.id}) << c.name << " switched off";
    EXPECT_EQ(panel->int_value(c.id), 0) << c.name << " switched off";
  }
}

TEST(PanelWindow, enter_in_a_numeric_input_commits_its_value) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* count = panel->widget<QSpinBox>("PANEL_COUNT");
  type_into(count, "500");
  EXPECT_EQ(panel->model->pending_events(), 0u) << "typing alone commits nothing";
  QTest::keyClick(count, Qt::Key_Return);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_COUNT});
  EXPECT_EQ(panel->int_value(PANEL_COUNT), 500);

  // Enter commits even an unchanged value (the operator confirms it).
  QTest::keyClick(count, Qt::Key_Enter);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_COUNT});

  auto* ymax = panel->widget<QDoubleSpinBox>("PANEL_YMAX");
  type_into(ymax, "2.5");
  QTest::keyClick(ymax, Qt::Key_Return);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_YMAX});
  float f = 0;
  panel->model->get_float(PANEL_YMAX, &f);
  EXPECT_EQ(f, 2.5f);
}

TEST(PanelWindow, leaving_a_numeric_input_commits_only_an_edited_value) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* xmin = panel->widget<QSpinBox>("PANEL_XMIN");
  auto* other = panel->widget<QSpinBox>("PANEL_XMAX");

  focus(xmin);
  focus(other);
  EXPECT_TRUE(panel->events().empty()) << "passing through a field commits nothing";

  type_into(xmin, "17");
  focus(other);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_XMIN});
  EXPECT_EQ(panel->int_value(PANEL_XMIN), 17);
}

TEST(PanelWindow, a_count_typed_while_the_system_counts_down_is_what_it_reads) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* count = panel->widget<QSpinBox>("PANEL_COUNT");
  type_into(count, "42");
  panel->model->set_int(PANEL_COUNT, 998);  // the countdown moves on meanwhile
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(count->text().toStdString(), "42") << "an edit in progress is kept";
  QTest::keyClick(count, Qt::Key_Return);
  // Frame passes before the system polls: each writes its countdown.
  for (int n : {997, 996}) {
    panel->model->set_int(PANEL_COUNT, n);
    rt::refresh_panel_window(panel->window);
    EXPECT_EQ(count->value(), 42) << "the committed value stays on screen over " << n;
  }
  // Two commits before the poll: each event carries its own value.
  type_into(count, "43");
  QTest::keyClick(count, Qt::Key_Return);
  int id = 0;
  ASSERT_TRUE(panel->model->take_event(&id));
  EXPECT_EQ(id, PANEL_COUNT);
  EXPECT_EQ(panel->int_value(PANEL_COUNT), 42) << "the first event hands over 42";
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(count->value(), 43) << "43 is still on its way";
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_COUNT});
  EXPECT_EQ(panel->int_value(PANEL_COUNT), 43);
  // Once handed over, the field follows the model again even with focus.
  panel->model->set_int(PANEL_COUNT, 42);
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(count->value(), 42);
}

TEST(PanelWindow, finished_look_marks_the_count_but_keeps_it_editable) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* count = panel->widget<QSpinBox>("PANEL_COUNT");
  const QString plain_tip = count->toolTip();
  panel->model->set_int(PANEL_COUNT, 0);
  panel->model->set_attr(PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
  rt::refresh_panel_window(panel->window);

  EXPECT_FALSE(count->styleSheet().isEmpty()) << "a distinct look";
  EXPECT_NE(count->toolTip(), plain_tip);
  EXPECT_TRUE(count->isEnabled());
  EXPECT_FALSE(count->isReadOnly());
  EXPECT_NE(count->focusPolicy(), Qt::NoFocus);

  type_into(count, "250");
  QTest::keyClick(count, Qt::Key_Return);
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_COUNT});
  EXPECT_EQ(panel->int_value(PANEL_COUNT), 250) << "a new count is still accepted";

  // The look follows the attribute back (the run-time clears it when
  // accumulation is switched on again).
  panel->model->set_attr(PANEL_COUNT, ATTR_DONE_LOOK, 0);
  rt::refresh_panel_window(panel->window);
  EXPECT_TRUE(count->styleSheet().isEmpty());
  EXPECT_EQ(count->toolTip(), plain_tip);
}

TEST(PanelWindow, closing_the_window_acts_as_the_quit_button) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  QPointer<QWidget> top = rt::panel_widget(panel->window);
  EXPECT_FALSE(top->close()) << "the close is refused";
  EXPECT_EQ(panel->events(), std::vector<int>{PANEL_QUIT});
  ASSERT_FALSE(top.isNull());
  EXPECT_TRUE(top->isVisible()) << "only destroy_panel_window ends the window";
  rt::destroy_panel_window(panel->window);
  panel->window = nullptr;
  EXPECT_TRUE(top.isNull());
}

// ----- Bad panel files -------------------------------------------------------

// The real panel file with one edit applied.
std::string edited_panel(const std::string& from, const std::string& to) {
  std::string text = testing_files::read_text(panel_file());
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(PanelWindow, bad_panel_files_are_refused_naming_the_file_and_the_reason) {
  testing_files::TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    const char* reason;  // a word the error must carry
  };
  const Case cases[] = {
      {"malformed.uir", "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"PANEL\">",
       "malformed"},
      {"duplicate.uir",
       edited_panel("<number>18</number>", "<number>12</number>"), "duplicate"},
      {"wrong_class.uir",
       edited_panel("class=\"QPushButton\" name=\"PANEL_QUIT\"",
                    "class=\"QLabel\" name=\"PANEL_QUIT\""),
       "PANEL_QUIT"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name);
    write_text(path, c.text);
    rt::PanelLayout layout;
    std::string error;
    EXPECT_FALSE(rt::read_panel_file(path, PANEL, &layout, &error)) << c.name;
    EXPECT_NE(error.find(path), std::string::npos) << c.name << ": " << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
  }
  rt::PanelLayout layout;
  std::string error;
  EXPECT_FALSE(rt::read_panel_file(dir.file("absent.uir"), PANEL, &layout, &error));
  EXPECT_NE(error.find("absent.uir"), std::string::npos) << error;
}

TEST(PanelWindow, window_refuses_a_layout_that_does_not_fit_the_model) {
  rt::PanelLayout layout;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(panel_file(), PANEL, &layout, &error)) << error;
  rt::PanelModel model(layout);
  testing_files::TempDir dir;
  struct Case {
    const char* name;
    std::string text;
    std::vector<const char*> reasons;
  };
  const Case cases[] = {
      {"wrong_class.uir",
       edited_panel("class=\"QPushButton\" name=\"PANEL_QUIT\"",
                    "class=\"QSpinBox\" name=\"PANEL_QUIT\""),
       {"PANEL_QUIT", "QSpinBox", "QPushButton"}},
      {"missing.uir",
       edited_panel("name=\"PANEL_CLEAR\"", "name=\"CLEAR_BUTTON\""),
       {"PANEL_CLEAR"}},
      {"plot_not_made.uir",
       edited_panel("class=\"QCustomPlot\" name=\"PANEL_STRIP\"",
                    "class=\"QFrame\" name=\"PANEL_STRIP\""),
       {"PANEL_STRIP", "QCustomPlot"}},
      {"malformed.uir", "this is not a form", {}},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file(c.name);
    write_text(path, c.text);
    error.clear();
    rt::PanelWindow* w = rt::create_panel_window(model, path, &error);
    EXPECT_EQ(w, nullptr) << c.name;
    rt::destroy_panel_window(w);
    EXPECT_NE(error.find(path), std::string::npos) << c.name << ": " << error;
    for (const char* r : c.reasons)
      EXPECT_NE(error.find(r), std::string::npos) << c.name << ": " << error;
  }
  error.clear();
  EXPECT_EQ(rt::create_panel_window(model, dir.file("absent.uir"), &error), nullptr);
  EXPECT_NE(error.find("absent.uir"), std::string::npos) << error;
}

// ----- A filled panel, grabbed to PNG ----------------------------------------

// Fills every display with values such as a run of a few hundred frames
// leaves, and grabs the window at 1366x768 (bin/window_screenshot.png) for a
// person to look at. The screenshots in docs/ come from a real run of the
// demo (demo_screens_test.cpp).
TEST(PanelWindow, grabs_a_filled_panel_to_png) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  m.set_title("vst_gse - playback demo.dat");
  // A playback a third of the way through: the toolbar shows the transport.
  rt::transport_set_source(testing_files::source_dir() + "/data/demo.dat");
  rt::transport_input_at(600 * 200 + 37);
  m.set_text(PANEL_STATUS, " ");
  m.set_int(PANEL_SKIPPED, 37);
  m.set_int(PANEL_CMD, 0);
  m.set_int(PANEL_W2_HI, 21);
  m.set_int(PANEL_W2_MID, 44);
  m.set_int(PANEL_W10, -1210);
  m.set_int(PANEL_W192, 5120);
  m.set_int(PANEL_W194, -87);
  m.set_int(PANEL_W196, 32767);
  m.set_double(PANEL_F12, static_cast<double>(1.0f));
  m.set_double(PANEL_F16, static_cast<double>(-0.003817f));
  m.set_double(PANEL_F20, static_cast<double>(273.4f));
  m.set_double(PANEL_F24_A, static_cast<double>(12.75f));
  m.set_double(PANEL_F24_B, std::nan(""));
  m.set_int(PANEL_W190_K0, 1530);
  m.set_int(PANEL_W190_K1, -2);
  m.set_int(PANEL_W190_K2, 77);
  m.set_int(PANEL_W190_K3, 12001);
  m.set_double(PANEL_L6_K0, 123456 / 1000.0);
  m.set_text(PANEL_TIME, "1/01:01:01.5");
  m.set_double(PANEL_L6_K2, 1073741824 * 8.3819e-08);
  m.set_double(PANEL_L6_K3, -536870912 * 8.3819e-08);
  const int hk_ids[36] = {PANEL_HK00, PANEL_HK01, PANEL_HK02, PANEL_HK03, PANEL_HK04, PANEL_HK05,
                          PANEL_HK06, PANEL_HK07, PANEL_HK08, PANEL_HK09, PANEL_HK10, PANEL_HK11,
                          PANEL_HK12, PANEL_HK13, PANEL_HK14, PANEL_HK15, PANEL_HK16, PANEL_HK17,
                          PANEL_HK18, PANEL_HK19, PANEL_HK20, PANEL_HK21, PANEL_HK22, PANEL_HK23,
                          PANEL_HK24, PANEL_HK25, PANEL_HK26, PANEL_HK27, PANEL_HK28, PANEL_HK29,
                          PANEL_HK30, PANEL_HK31, PANEL_HK32, PANEL_HK33, PANEL_HK34, PANEL_HK35};
  for (int slot = 0; slot < 36; ++slot) {
    const double r = 20000 + 997 * slot;
    double v = 10.0 * r / 65535.0;
    if (slot >= 6 && slot <= 7) v = -10.0 * r / 65535.0;
    if (slot >= 8 && slot <= 15) v = 0.1 * r / 65535.0;
    if (slot >= 16 && slot <= 31) v = 500.0 * (38000 + 61 * slot) / 65535.0 - 273.15;
    m.set_double(hk_ids[slot], v);
  }
  m.set_int(PANEL_HKHI, 0x12);
  m.set_int(PANEL_HKLO, 0x34);
  m.set_int(PANEL_HKRAW, 48879);
  std::string hex;
  for (int i = 0; i < 200; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, i % 32 == 0 ? "\n%02X" : "%02X",
                  i == 0 ? 0xEB : i == 1 ? 0x90 : (i * 37 + 11) & 0xFF);
    hex += b;
  }
  m.set_text(PANEL_HEXDUMP, hex + "\n");
  m.set_int(PANEL_XMIN, 0);
  m.set_int(PANEL_XMAX, 4095);
  m.set_float(PANEL_YMIN, 0.001f);
  m.set_float(PANEL_YMAX, 10.0f);
  m.set_int(PANEL_COUNT, 0);
  m.set_int(PANEL_ACCUM, 0);
  m.set_attr(PANEL_COUNT, ATTR_DONE_LOOK, DONE_LOOK_ON);
  m.set_int(PANEL_XLOG, 0);
  m.set_int(PANEL_YLOG, 1);

  rt::Plot s48;
  for (int c = 0; c < 48; ++c) {
    const double x = 4.0 + 85.0 * c;
    s48.x.push_back(static_cast<float>(x));
    s48.y.push_back(static_cast<float>(0.4 + 3.0 * std::exp(-std::pow((x - 1400) / 500, 2)) +
                                       0.1 * std::sin(c)));
  }
  s48.style = 6;
  s48.color = 255;
  m.add_plot(PANEL_SPEC48, s48);
  rt::Plot s256;
  for (int c = 0; c < 256; ++c) {
    const double x = 8.0 + 16.0 * c;
    s256.x.push_back(static_cast<float>(x));
    s256.y.push_back(static_cast<float>(2.0 * std::exp(-x / 900.0) +
                                        1.5 * std::exp(-std::pow((x - 1460) / 60, 2)) + 0.004));
  }
  s256.style = 6;
  s256.color = 255;
  m.add_plot(PANEL_SPEC256, s256);
  m.set_x_range(PANEL_SPEC256, 0, 4095);
  m.set_y_log(PANEL_SPEC256, true);
  m.set_y_range(PANEL_SPEC256, 0.001, 10);

  std::vector<uint16_t> v(80);
  for (int frame = 0; frame < 300; ++frame) {
    for (int g = 0; g < 20; ++g) {
      const double t = (frame * 20 + g) / 40.0;
      v[4 * g] = static_cast<uint16_t>(32768 + 20000 * std::sin(t));
      v[4 * g + 1] = static_cast<uint16_t>(30000 + 9000 * std::cos(t / 3));
      v[4 * g + 2] = static_cast<uint16_t>(128 + 100 * std::sin(t / 2));
      v[4 * g + 3] = static_cast<uint16_t>((frame * 20 + g) / 8 % 256);
    }
    m.strip_append(PANEL_STRIP, v.data(), 80);
  }
  m.set_visible(true);
  rt::refresh_panel_window(panel->window);
  QWidget* top = rt::panel_widget(panel->window);
  top->resize(1366, 698);
  QCoreApplication::processEvents();
  rt::refresh_panel_window(panel->window);
  QCoreApplication::processEvents();
  const std::string out = testing_files::bin_dir() + "/window_screenshot.png";
  EXPECT_TRUE(top->grab().save(QString::fromStdString(out))) << out;
  rt::transport_reset();
}

}  // namespace
