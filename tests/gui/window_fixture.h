// A shown panel window on the real panel file, in Qt's offscreen platform,
// for the tests of what the window offers around the panel: each test runs
// in a fresh working directory (snapshots land there) with the transport
// reset.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStatusBar>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "gui/layout.h"
#include "gui/window.h"
#include "runtime/transport.h"
#include "support/files.h"

namespace testing_extras {

using testing_files::TempDir;

struct Panel {
  std::unique_ptr<rt::PanelModel> model;
  rt::PanelWindow* window = nullptr;
  ~Panel() { rt::destroy_panel_window(window); }

  QWidget* top() const { return rt::panel_widget(window); }
  template <class T>
  T* find(const char* name) const {
    return top()->findChild<T*>(name);
  }
  QString status() const { return find<QStatusBar>("statusBar")->currentMessage(); }
  void refresh() const {
    rt::refresh_panel_window(window);
    QCoreApplication::processEvents();
  }
};

// A shown window; `source` is the playback file ("" for live mode).
// `keep_settings`: the settings the test made stay (else none are left from
// an earlier window).
inline std::unique_ptr<Panel> open_panel(const std::string& source, bool keep_settings = false) {
  if (!keep_settings) rt::window_settings()->clear();
  rt::transport_reset();
  rt::transport_set_source(source);
  auto panel = std::make_unique<Panel>();
  const std::string file = testing_files::source_dir() + "/ui/gse.uir";
  rt::PanelLayout layout;
  std::string error;
  if (!rt::read_panel_file(file, PANEL, &layout, &error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  panel->model = std::make_unique<rt::PanelModel>(std::move(layout));
  panel->window = rt::create_panel_window(*panel->model, file, &error);
  if (!panel->window) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  panel->model->set_visible(true);
  rt::show_panel_window(panel->window);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(panel->top()));
  panel->refresh();
  return panel;
}

// Runs each test in a fresh working directory (snapshots land there).
class WindowExtras : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir_.path()));
  }
  void TearDown() override {
    QDir::setCurrent(old_);
    rt::transport_reset();
  }
  std::vector<std::string> files_like(const std::string& prefix, const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = e.path().filename().string();
      if (name.rfind(prefix, 0) == 0 && name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(e.path().string());
    }
    return out;
  }
  TempDir dir_;
  QString old_;
};

}  // namespace testing_extras
