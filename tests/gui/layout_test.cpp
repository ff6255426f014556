// The window on the screens it is laid out for: at 1366x768 and 1920x1080
// every control is inside the visible window, the Link group shown; the
// operator's layout is remembered; both themes.
#include <QAction>
#include <QApplication>
#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "ui/panel.h"
#include "runtime/model.h"
#include "gui/layout.h"
#include "gui/station/health_bar.h"
#include "gui/theme.h"
#include "gui/window.h"
#include "support/files.h"
#include "gui/panel_fixture.h"

namespace {

using testing_window::open_panel;

// The window's client area on a screen of `width` x `height`: a task bar of
// 40 pixels and a title bar of 30 take the rest.
QSize client_area(int width, int height) { return {width, height - 70}; }

void settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

TEST(WindowLayout, every_control_is_inside_the_window_on_both_screens) {
  for (QSize screen : {QSize(1366, 768), QSize(1920, 1080)}) {
    const std::string name = std::to_string(screen.width()) + "x" + std::to_string(screen.height());
    auto panel = open_panel();
    ASSERT_TRUE(panel);
    QWidget* top = rt::panel_widget(panel->window);
    top->resize(client_area(screen.width(), screen.height()));
    settle();
    auto* scroll = top->findChild<QScrollArea*>("panelScroll");
    ASSERT_NE(scroll, nullptr);
    const QRect visible(scroll->viewport()->mapTo(top, QPoint(0, 0)), scroll->viewport()->size());
    EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << name << ": nothing to scroll to";
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible()) << name << ": nothing to scroll to";
    auto* link = top->findChild<QGroupBox*>("linkGroup");
    ASSERT_NE(link, nullptr);
    EXPECT_TRUE(link->isVisible()) << name;
    for (const rt::ControlInfo& c : panel->model->layout().controls) {
      QWidget* w = panel->widget<QWidget>(c.name.c_str());
      ASSERT_NE(w, nullptr) << c.name;
      const QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
      EXPECT_TRUE(w->isVisible()) << name << ": " << c.name;
      EXPECT_TRUE(visible.contains(r)) << name << ": " << c.name << " at " << r.x() << "," << r.y()
                                       << " " << r.width() << "x" << r.height() << " outside "
                                       << visible.width() << "x" << visible.height();
    }
    const std::string out = testing_files::bin_dir() + "/layout_" + name + ".png";
    top->grab().save(QString::fromStdString(out));
  }
}

// The alarm list on a 1366x768 screen: docked below the panel it would
// push the strip chart and spectra out of view, so it floats over the hex
// dump instead, and the panel keeps its whole height.
TEST(WindowLayout, the_alarm_list_at_1366_x_768_leaves_the_strip_chart_and_spectra_in_view) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  QWidget* top = rt::panel_widget(panel->window);
  top->resize(client_area(1366, 768));
  settle();
  top->findChild<QAction*>("actionShowAlarms")->trigger();
  auto* dock = top->findChild<QDockWidget*>("alarmDock");
  ASSERT_NE(dock, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([dock] { return dock->isFloating(); }, 10000)) << "docked below the panel";
  settle();
  auto* scroll = top->findChild<QScrollArea*>("panelScroll");
  EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << "the panel scrolls";
  const QRect pane(dock->mapToGlobal(QPoint(0, 0)), dock->size());
  for (const char* name : {"PANEL_STRIP", "PANEL_SPEC48", "PANEL_SPEC256"}) {
    QWidget* w = panel->widget<QWidget>(name);
    const QRect r(w->mapToGlobal(QPoint(0, 0)), w->size());
    const QRect hidden = r & pane;
    EXPECT_LT(hidden.width() * hidden.height(), r.width() * r.height() / 50)
        << name << " under the alarm list: " << hidden.width() << "x" << hidden.height() << " of it";
  }
  top->grab().save(QString::fromStdString(testing_files::bin_dir() + "/layout_alarms_1366x768.png"));
}

TEST(WindowLayout, the_operators_layout_and_theme_come_back_in_the_next_run) {
  {
    auto panel = open_panel();
    ASSERT_TRUE(panel);
    QWidget* top = rt::panel_widget(panel->window);
    top->findChild<QAction*>("show_hexGroup")->trigger();
    EXPECT_FALSE(top->findChild<QGroupBox*>("hexGroup")->isVisible());
    EXPECT_EQ(top->findChild<QAction*>("show_linkGroup"), nullptr) << "the Link group cannot be hidden";
    auto* main = top->findChild<QSplitter*>("mainSplitter");
    QList<int> sizes = main->sizes();
    sizes[0] -= 40;
    sizes[2] += 40;
    main->setSizes(sizes);
    top->findChild<QAction*>("theme_dark")->trigger();
    EXPECT_EQ(rt::current_theme(), rt::Theme::Dark);
  }  // closing the window saves the layout
  rt::apply_theme(rt::Theme::System);
  {
    auto panel = open_panel(true, /*fresh_settings=*/false);
    ASSERT_TRUE(panel);
    QWidget* top = rt::panel_widget(panel->window);
    settle();
    EXPECT_FALSE(top->findChild<QGroupBox*>("hexGroup")->isVisible()) << "still hidden";
    EXPECT_FALSE(top->findChild<QAction*>("show_hexGroup")->isChecked());
    EXPECT_EQ(rt::current_theme(), rt::Theme::Dark) << "the theme chosen";
    auto* strip = top->findChild<QCustomPlot*>("PANEL_STRIP");
    strip->replot(QCustomPlot::rpImmediateRefresh);
    EXPECT_LT(strip->grab().toImage().pixelColor(3, 3).lightness(), 100) << "plots follow the dark palette";
    top->findChild<QAction*>("resetLayout")->trigger();
    EXPECT_TRUE(top->findChild<QGroupBox*>("hexGroup")->isVisible()) << "reset shows every group";
    top->findChild<QAction*>("theme_system")->trigger();
  }
  rt::window_settings()->clear();
}

// The health bar at its worst on a 1366-pixel screen: a long reason, counts
// in the hundred thousands, ages in hours. Every text shows whole, and the
// bar never asks the window for more than the screen's width.
TEST(WindowLayout, the_health_bar_shows_its_longest_texts_whole_on_a_1366_pixel_screen) {
  rt::HealthBar bar;
  rt::HealthSnapshot s;
  s.state = rt::LinkState::NoFrames;
  s.words = "no frames";
  s.reason = "bytes arrive but no good frame for 119 min 59 s";
  s.bytes_per_s = 1920.0;
  s.frames_per_s = 0.0;
  s.failures_minute = {999, 999, 999, 999};
  s.failures_total = {999999, 999999, 999999, 999999};
  s.skipped = 99999999;
  s.skipped_minute = 999999;
  s.age_s = 7199.0;
  bar.show_port(QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
  bar.draw(s);
  QWidget* w = bar.widget();
  EXPECT_LE(w->minimumSizeHint().width(), 1366) << "the bar sets no least width past the screen";
  w->resize(1366 - 2, w->sizeHint().height());
  w->show();
  settle();
  for (const QLabel* label : w->findChildren<QLabel*>()) {
    if (label->isHidden()) continue;
    EXPECT_GE(label->width(), label->sizeHint().width())
        << label->objectName().toStdString() << " cut: " << label->text().toStdString();
  }
  delete w;
}

// WCAG contrast ratio of two colours.
double contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(WindowLayout, limit_colours_are_readable_in_both_themes) {
  for (rt::Theme theme : {rt::Theme::Light, rt::Theme::Dark}) {
    rt::apply_theme(theme);
    const rt::LimitColours c = rt::limit_colours();
    const QColor window = QApplication::palette().color(QPalette::Window);
    const std::string name = rt::theme_name(theme).toStdString();
    EXPECT_GE(contrast(c.caution_text, c.caution_background), 4.5) << name;
    EXPECT_GE(contrast(c.alarm_text, c.alarm_background), 4.5) << name;
    // A coloured field stands out from the window around it.
    EXPECT_GE(contrast(c.alarm_background, window), 1.5) << name;
    EXPECT_GE(contrast(c.caution_background, window), 1.3) << name;
  }
  rt::apply_theme(rt::Theme::System);
}

}  // namespace
