// The real panel file loaded into a model and the window drawn from it, in
// Qt's offscreen platform, for the window's tests.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "gui/layout.h"
#include "gui/window.h"
#include "support/files.h"

namespace testing_window {

inline std::string panel_file() {
  return testing_files::source_dir() + "/ui/gse.uir";
}

// The model of a panel file and the window drawn from it.
struct Panel {
  std::unique_ptr<rt::PanelModel> model;
  rt::PanelWindow* window = nullptr;
  ~Panel() { rt::destroy_panel_window(window); }

  template <class W>
  W* widget(const char* name) const {
    return rt::panel_widget(window)->findChild<W*>(name);
  }
  int int_value(int id) const {
    int value = -1;
    EXPECT_TRUE(model->get_int(id, &value)) << id;
    return value;
  }
  std::vector<int> events() const {
    std::vector<int> ids;
    int id;
    while (model->take_event(&id)) ids.push_back(id);
    return ids;
  }
};

// A window made from the real panel file; `fresh_settings` forgets the
// layout and theme an earlier window of the run saved.
inline std::unique_ptr<Panel> open_panel(bool shown = true, bool fresh_settings = true) {
  if (fresh_settings) rt::window_settings()->clear();
  auto panel = std::make_unique<Panel>();
  rt::PanelLayout layout;
  std::string error;
  if (!rt::read_panel_file(panel_file(), PANEL, &layout, &error)) {
    ADD_FAILURE() << "reading the panel file: " << error;
    return nullptr;
  }
  panel->model = std::make_unique<rt::PanelModel>(std::move(layout));
  panel->window = rt::create_panel_window(*panel->model, panel_file(), &error);
  if (!panel->window) {
    ADD_FAILURE() << "creating the window: " << error;
    return nullptr;
  }
  if (shown) {
    rt::show_panel_window(panel->window);
    QWidget* top = rt::panel_widget(panel->window);
    QApplication::setActiveWindow(top);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(top));
  }
  return panel;
}

}  // namespace testing_window
