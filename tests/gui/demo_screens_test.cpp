// The program's entry plays the demo recording in this process with the real
// window, as `vst_gse data/demo.dat` does: fast to near the end, then at the
// recorded pace.
// At 1366x768 every housekeeping value reads in at most seven characters and
// every control is in view; the window is grabbed (captioned, as "Save
// screenshot" saves it) at 1366x768 and 1920x1080, light and dark, into
// bin/demo_*.png, which docs/screenshots.sh copies into docs/.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "app/entry.h"
#include "gui/window_fixture.h"
#include "link/frame.h"
#include "runtime/context.h"
#include "gui/layout.h"
#include "gui/desktop/save_actions.h"
#include "gui/theme.h"
#include "gui/window.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

using testing_extras::WindowExtras;

// Frames played fast before the last ones are played at the recorded pace,
// so the strip chart shows seconds of reception as a live session would.
constexpr long FAST_UNTIL = 1600;
constexpr long PACED_FRAMES = 70;  // 7 s at --speed 1

// The window the system's thread asks for, made on the GUI thread as the
// program's start-up does.
struct WindowOnGui {
  rt::PanelWindow* window = nullptr;
  WindowOnGui() {
    auto on_gui = [](auto&& work) {
      QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
    };
    rt::WindowHooks hooks;
    hooks.create = [this, on_gui](rt::PanelModel& model, const std::string& path, std::string* error) {
      on_gui([&] { window = rt::create_panel_window(model, path, error); });
      return window != nullptr;
    };
    hooks.show = [this, on_gui] { on_gui([this] { rt::show_panel_window(window); }); };
    hooks.destroy = [this, on_gui] {
      on_gui([this] {
        rt::destroy_panel_window(window);
        window = nullptr;
      });
    };
    rt::set_window_hooks(std::move(hooks));
  }
  ~WindowOnGui() { rt::set_window_hooks(rt::WindowHooks{}); }
};

void settle(rt::PanelWindow* window) {
  QCoreApplication::processEvents();
  rt::refresh_panel_window(window);
  QCoreApplication::processEvents();
}

TEST_F(WindowExtras, the_demo_reads_in_seven_characters_a_value_with_nothing_cut_off) {
  rt::reset_ui_for_tests();
  nskip_reset_for_tests();
  rt::window_settings()->clear();
  std::filesystem::create_directories(dir_.file("data"));
  std::filesystem::copy_file(testing_files::source_dir() + "/data/demo.dat", dir_.file("data/demo.dat"));
  rt::transport_set_source("data/demo.dat");
  rt::set_speed(200);
  WindowOnGui gui;
  int status = -1;
  std::thread system([&status] {
    std::string program = "vst_gse", file = "data/demo.dat";
    char* argv[] = {program.data(), file.data(), nullptr};
    status = gse_main(2, argv);
  });
  auto frames = [] { return rt::transport_position().good_frames; };
  EXPECT_TRUE(QTest::qWaitFor([&] { return frames() >= FAST_UNTIL; }, 60000));
  ASSERT_NE(gui.window, nullptr);
  QWidget* top = rt::panel_widget(gui.window);
  auto* speed = top->findChild<QComboBox*>("transportSpeed");
  speed->setCurrentIndex(speed->findData(1.0));  // as the operator would
  const long paced_from = frames();
  EXPECT_TRUE(QTest::qWaitFor([&] { return frames() >= paced_from + PACED_FRAMES; }, 60000));
  top->showNormal();

  struct Screen {
    const char* name;
    QSize client;  // a task bar of 40 and a title bar of 30 pixels off the screen
  };
  for (rt::Theme theme : {rt::Theme::Light, rt::Theme::Dark}) {
    top->findChild<QAction*>(theme == rt::Theme::Dark ? "theme_dark" : "theme_light")->trigger();
    for (const Screen& screen : {Screen{"1366x768", {1366, 698}}, Screen{"1920x1080", {1920, 1010}}}) {
      top->resize(screen.client);
      settle(gui.window);
      const std::string shot = testing_files::bin_dir() + "/demo_" + screen.name + "_" +
                               rt::theme_name(theme).toStdString() + ".png";
      EXPECT_TRUE(rt::window_snapshot(top, QDateTime::currentDateTime()).save(QString::fromStdString(shot)))
          << shot;
      if (theme != rt::Theme::Light || std::string(screen.name) != "1366x768") continue;

      // What an operator must be able to do at 1366x768.
      // (After the count of alarms, if any: the demo's coldest sensors are
      // below their caution range.)
      EXPECT_TRUE(top->windowTitle().endsWith("vst_gse - playback of data/demo.dat"))
          << "a relative path in the title: " << top->windowTitle().toStdString();
      auto* scroll = top->findChild<QScrollArea*>("panelScroll");
      const QRect visible(scroll->viewport()->mapTo(top, QPoint(0, 0)), scroll->viewport()->size());
      EXPECT_TRUE(top->findChild<QGroupBox*>("linkGroup")->isVisible());
      for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->property("ctrlId").isValid()) continue;
        const QString name = w->objectName();
        EXPECT_TRUE(w->isVisible()) << name.toStdString();
        EXPECT_TRUE(visible.contains(QRect(w->mapTo(top, QPoint(0, 0)), w->size())))
            << name.toStdString() << " is cut off";
        auto* edit = qobject_cast<QLineEdit*>(w);
        if (!edit || !name.startsWith("PANEL_HK")) continue;
        EXPECT_FALSE(edit->text().isEmpty()) << name.toStdString();
        EXPECT_LE(edit->text().size(), 7) << name.toStdString() << ": " << edit->text().toStdString();
        // The whole text fits the field: nothing scrolled out of it.
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(edit->text()), edit->width() - 8)
            << name.toStdString();
      }
      EXPECT_TRUE(top->findChild<QLabel*>("limitCount")->text().startsWith("Out of limits:"));
    }
  }
  top->findChild<QAction*>("theme_system")->trigger();
  rt::request_quit();
  EXPECT_TRUE(QTest::qWaitFor([&] { return gui.window == nullptr; }, 60000)) << "the program quits";
  system.join();
  EXPECT_EQ(status, 0);
  rt::reset_ui_for_tests();
}

}  // namespace
