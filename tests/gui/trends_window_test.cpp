// The trends view in the real window while the program plays a recording
// on its own thread: a display of the panel dragged onto the view makes a
// plot of its value, and the cursor over the plot reads that value at the
// time under the mouse.
#include <QApplication>
#include <QDialog>
#include <QDockWidget>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <filesystem>
#include <ctime>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "gui/desktop/dialogs.h"
#include "gui/trends/trend_plot.h"
#include "gui/window.h"
#include "support/gui_window.h"
#include "history/time_axis.h"
#include "link/frame.h"
#include "present/display_format.h"
#include "replay/replay.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/frames.h"

namespace {

using testing_program::ProgramRun;
using testing_window::GuiWindow;
using Finish = testing_window::Finish<ProgramRun>;

constexpr int WAIT_MS = 60000;
constexpr uint32_t FRAMES = 400;

// Housekeeping slot 16's word in frame n.
int hk_word(uint32_t n) { return static_cast<int>(1000 + n * 50); }
double hk16(uint32_t n) { return 500.0 * hk_word(n) / 65535.0 - 273.15; }

std::vector<uint8_t> recording() {
  std::vector<uint8_t> out;
  for (uint32_t n = 0; n < FRAMES; ++n) {
    testing_frames::FrameBuilder b;
    b.counter(n).word(OFF_HK, hk_word(n));
    testing_frames::append(out, b.bytes);
  }
  return out;
}

// A mouse event as the platform delivers it (QTest's mouseMove only moves
// the cursor).
void send_mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// Drops `data` on `target` as the platform's drag and drop delivers it.
void drop(QWidget* target, const QMimeData* data) {
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted()) << "the target takes values";
  QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &dropped);
}

TEST(TrendsWindow, a_display_dragged_onto_the_view_is_plotted_and_the_cursor_reads_it) {
  testing_files::TempDir dir;
  // A recording named from its start time, as the station names them.
  const std::string path = dir.file("42121834.dat");
  GuiWindow gui;
  ProgramRun run(path, recording(), 0.0, false, "", true, gui.hooks());
  Finish finish{run};
  ASSERT_TRUE(QTest::qWaitFor([&] { return gui.window != nullptr; }, WAIT_MS));
  QWidget* top = rt::panel_widget(gui.window);
  auto* dock = top->findChild<QDockWidget*>("trendsDock");
  ASSERT_NE(dock, nullptr);
  auto* show = top->findChild<QAction*>("actionShowTrends");
  ASSERT_NE(show, nullptr);
  show->setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dock->isVisible(); }, WAIT_MS));

  // The drag starts on the panel's HK16 display and carries its value.
  auto* display = rt::panel_form(gui.window)->findChild<QLineEdit*>("PANEL_HK16");
  ASSERT_NE(display, nullptr);
  send_mouse(display, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
  send_mouse(display, QEvent::MouseMove, QPoint(5 + 3 * QApplication::startDragDistance(), 5), Qt::LeftButton);
  auto* drag = display->findChild<QDrag*>();
  ASSERT_NE(drag, nullptr) << "a drag began";
  EXPECT_EQ(drag->mimeData()->data(QLatin1String(rt::TREND_MIME)), QByteArray("HK16"));
  send_mouse(display, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::NoButton);

  // Dropped below the plots: a new plot of HK16.
  auto* zone = dock->findChild<QLabel*>("trendNewPlot");
  ASSERT_NE(zone, nullptr);
  drop(zone, drag->mimeData());
  QCustomPlot* plot = nullptr;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        plot = dock->findChild<QCustomPlot*>("trendPlot");
        return plot && plot->graphCount() == 1 && plot->graph(0)->dataCount() > 0;
      },
      WAIT_MS))
      << "HK16 plotted from the recording";
  EXPECT_EQ(plot->graph(0)->name(), QStringLiteral("HK16 (°C)"));

  // A value of another unit, double-clicked in the list: a plot of its own,
  // below, and the two fit the dock of a 1366x768 screen, the time labels
  // on the lower one whole (they were cut off), no value on an axis line.
  auto* list = dock->findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  const auto fps = list->findItems(QStringLiteral("FPS "), Qt::MatchStartsWith);
  ASSERT_EQ(fps.size(), 1);
  emit list->itemActivated(fps.front());
  std::vector<QCustomPlot*> plots;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        plots.clear();
        for (QCustomPlot* p : dock->findChildren<QCustomPlot*>("trendPlot"))
          if (p->isVisible()) plots.push_back(p);
        return plots.size() == 2 && plots[1]->graphCount() == 1 && plots[1]->graph(0)->dataCount() > 0;
      },
      WAIT_MS));
  std::sort(plots.begin(), plots.end(), [](QCustomPlot* a, QCustomPlot* b) { return a->y() < b->y(); });
  EXPECT_EQ(plots[0]->yAxis->label(), QStringLiteral("°C"));
  EXPECT_EQ(plots[1]->yAxis->label(), QStringLiteral("frames/s"));
  top->resize(1366, 768 - 70);  // a title bar and a task bar take the rest
  QWidget* viewport = dock->findChild<QScrollArea*>()->viewport();
  ASSERT_TRUE(QTest::qWaitFor([&] { return plots[1]->xAxis->tickLabels() && !plots[0]->xAxis->tickLabels(); }, WAIT_MS))
      << "the time labels on the lower plot only";
  for (QCustomPlot* p : plots) {
    const QRect at(p->mapTo(viewport, QPoint(0, 0)), p->size());
    EXPECT_TRUE(viewport->rect().contains(at)) << "plot at " << at.y() << ", " << at.height() << " high, in a view "
                                               << viewport->height() << " high";
  }
  auto clear_of_axis = [&] {  // pixels between the lowest value and the axis line
    double lo = std::numeric_limits<double>::infinity();
    for (auto it = plot->graph(0)->data()->constBegin(); it != plot->graph(0)->data()->constEnd(); ++it)
      if (std::isfinite(it->value)) lo = std::min(lo, it->value);
    return plot->yAxis->coordToPixel(plot->yAxis->range().lower) - plot->yAxis->coordToPixel(lo);
  };
  EXPECT_TRUE(QTest::qWaitFor([&] { return clear_of_axis() >= 4.0; }, WAIT_MS))
      << "the lowest value " << clear_of_axis() << " px from the axis line";

  // The cursor: the value of the last frame of slot 16 at or before the
  // time under the mouse. The recording implies 1920 bytes a second from
  // the start its name gives.
  double start = 0;
  ASSERT_TRUE(rt::recording_start_from_name(path, std::time(nullptr) + 600, &start));
  const int px = plot->axisRect()->left() + plot->axisRect()->width() * 2 / 3;
  const double t = plot->xAxis->pixelToCoord(px);
  const auto frame = static_cast<uint32_t>(std::floor((t - start) * 1920.0 / 200.0));
  ASSERT_LT(frame, FRAMES);
  const uint32_t last16 = frame - (frame + 40 - 16) % 40;
  rt::DisplayFormat fixed2;
  fixed2.style = rt::DisplayFormat::Style::Fixed;
  fixed2.digits = 2;
  const QString expected = QStringLiteral("HK16 %1 °C").arg(QString::fromStdString(rt::format_display_double(hk16(last16), fixed2)));
  auto* readout = dock->findChild<QLabel*>("trendReadout");
  ASSERT_NE(readout, nullptr);
  send_mouse(plot, QEvent::MouseMove, QPoint(px, plot->axisRect()->center().y()), Qt::NoButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return readout->text().contains(expected); }, WAIT_MS))
      << readout->text().toStdString() << " (expected " << expected.toStdString() << ")";
  EXPECT_TRUE(readout->text().contains(QString::fromStdString(rt::clock_text(t, 1).substr(0, 5))))
      << "the clock time under the mouse: " << readout->text().toStdString();

  // A seek is an event of the playback: a line at the frame sought, which the
  // cursor names.
  rt::replay_request_seek(200);
  const double t200 = start + 200 * 200 / 1920.0;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        send_mouse(plot, QEvent::MouseMove, QPoint(static_cast<int>(plot->xAxis->coordToPixel(t200)), 40), Qt::NoButton);
        return readout->text().contains(QStringLiteral("INFO Seek to frame 201 of 400"));
      },
      WAIT_MS))
      << readout->text().toStdString();

  // Export CSV: the dialog names the file; the plotted value over the range
  // shown, with the range in its first lines.
  const std::string csv = dir.file("range.csv");
  rt::set_dialog_answerer([&](QDialog* dialog) {
    if (auto* field = dialog->findChild<QLineEdit*>()) field->setText(QString::fromStdString(csv));
    return true;
  });
  auto* export_button = dock->findChild<QPushButton*>("trendExport");
  ASSERT_NE(export_button, nullptr);
  export_button->click();
  rt::set_dialog_answerer(nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(csv); }, WAIT_MS));
  const std::string text = testing_files::read_text(csv);
  EXPECT_EQ(text.rfind("# vst_gse trends of " + path, 0), 0u) << text.substr(0, 200);
  EXPECT_NE(text.find("\nframe,offset_bytes,time_local,time_s,hk16_degC,"), std::string::npos) << text.substr(0, 300);
  EXPECT_NE(text.find("\n17,3200,"), std::string::npos) << "frame 17 (counter 16) carries HK16";

  // Zoomed in between two frames of slot 16 (4.2 s apart): the plot says it
  // has no sample there.
  const double t17 = start + 17 * 200 / 1920.0;
  plot->xAxis->setRange(t17, t17 + 2.0);
  auto* note = plot->findChild<QCPItemText*>("trendNote");
  ASSERT_NE(note, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return note->visible(); }, WAIT_MS));
  EXPECT_EQ(note->text(), QStringLiteral("no samples of HK16 in this range"));
}

}  // namespace
