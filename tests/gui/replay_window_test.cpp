// Seeking and stepping in the real window while the program plays a
// recording on its own thread (as vst_gse runs it): a click on the position
// bar shows that frame, the arrow keys step a paused playback.
#include <QAction>
#include <QApplication>
#include <QMetaObject>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/gui_window.h"
#include "runtime/context.h"
#include "gui/station/position_bar.h"
#include "gui/window.h"
#include "replay/replay.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/trace_reader.h"

namespace {

using testing_program::ProgramRun;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded
constexpr int FRAMES = 100;

using testing_window::Finish;
using testing_window::GuiWindow;
using testing_window::shows_frame;

TEST(ReplayWindow, a_click_on_the_position_bar_and_the_arrow_keys_move_a_paused_playback) {
  testing_files::TempDir dir;
  std::vector<uint8_t> rec;
  for (uint32_t n = 0; n < FRAMES; ++n) testing_frames::append(rec, testing_program::counted_frame(n));
  GuiWindow gui;
  ProgramRun run(dir.file("rec.dat"), rec, 1.0, false, "", true, gui.hooks());
  Finish finish{run};
  ASSERT_TRUE(QTest::qWaitFor([&] { return gui.window != nullptr; }, WAIT_MS));
  QWidget* top = rt::panel_widget(gui.window);
  auto* bar = top->findChild<rt::PositionBar*>("transportPosition");
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        rt::refresh_panel_window(gui.window);
        return bar->seekable();
      },
      WAIT_MS))
      << "the recording is indexed";

  // The middle of frame 60's share of the bar.
  const QPoint at(static_cast<int>((60 + 0.5) / FRAMES * bar->width()), bar->height() / 2);
  QTest::mouseClick(bar, Qt::LeftButton, {}, at);
  ASSERT_TRUE(shows_frame(60)) << "the frame clicked is shown, playback still paused";

  QApplication::setActiveWindow(top);
  ASSERT_TRUE(QTest::qWaitFor([&] { return top->isActiveWindow(); }, WAIT_MS));
  QTest::keyClick(top, Qt::Key_Right);
  ASSERT_TRUE(shows_frame(61)) << "Right: the next frame";
  QTest::keyClick(top, Qt::Key_Left);
  ASSERT_TRUE(shows_frame(60)) << "Left: the frame before";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        rt::refresh_panel_window(gui.window);
        return bar->text().startsWith(QStringLiteral("frame 61 of 100"));
      },
      WAIT_MS))
      << bar->text().toStdString() << ": the bar names the frame shown (60 from 0)";
  EXPECT_TRUE(rt::transport_paused());
}

}  // namespace
