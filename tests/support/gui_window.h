// The window of a program run in this process (testing_program::ProgramRun), made
// through the run-time's hooks on the test's thread, which is Qt's GUI
// thread: the system's thread asks for each step and waits for it.
#pragma once

#include <QApplication>
#include <QMetaObject>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "gui/window.h"
#include "runtime/context.h"
#include "runtime/transport.h"
#include "support/program_run.h"

namespace testing_window {

struct GuiWindow {
  rt::PanelWindow* window = nullptr;  // read and written on the GUI thread only

  rt::WindowHooks hooks() {
    auto on_gui = [](const std::function<void()>& work) {
      QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
    };
    rt::WindowHooks h;
    h.create = [this, on_gui](rt::PanelModel& model, const std::string& path, std::string* error) {
      on_gui([&] { window = rt::create_panel_window(model, path, error); });
      return window != nullptr;
    };
    h.show = [this, on_gui] { on_gui([this] { rt::show_panel_window(window); }); };
    h.destroy = [this, on_gui] {
      on_gui([this] {
        rt::destroy_panel_window(window);
        window = nullptr;
      });
    };
    return h;
  }
  template <class W>
  W* find(const char* name) const {
    return rt::panel_widget(window)->findChild<W*>(name);
  }
};

// Ends a program run however the test ends (`Finish finish{run};`),
// running Qt's events meanwhile: the system's thread needs the GUI thread to
// take the window down.
template <class Run>
struct Finish {
  Run& run;
  ~Finish() {
    rt::transport_set_paused(false);
    rt::request_quit();
    EXPECT_TRUE(QTest::qWaitFor([this] { return run.finished(0.0); }, 60000)) << "the program did not end";
  }
};

// Whether the run shows counted_frame(n) within `wait_ms`, running Qt's
// events meanwhile.
inline bool shows_frame(uint32_t n, int wait_ms = 60000) {
  return QTest::qWaitFor(
      [n] { return testing_program::last_hex_dump() == testing_program::hex_dump(testing_program::counted_frame(n)); },
      wait_ms);
}

}  // namespace testing_window
