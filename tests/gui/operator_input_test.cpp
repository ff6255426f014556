// The operator's input in the real window while the program plays a
// recording on its own thread (as vst_gse runs it): what the operator types
// is what the system's handler reads, however the system writes the control
// meanwhile, and the Count's finished look ends when accumulation is
// switched on again.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMetaObject>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "support/gui_window.h"
#include "runtime/context.h"
#include "gui/window.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/trace_reader.h"

namespace {

using testing_program::ProgramRun;
using testing_trace::Line;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded

using testing_window::Finish;
using testing_window::GuiWindow;

std::vector<Line> trace() {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  return testing_trace::parse(text);
}

bool seen(const std::string& op, const std::string& ctrl, size_t n = 1) {
  size_t found = 0;
  for (const std::string& raw : rt::trace_lines())
    if (raw.find("\"op\":\"" + op + "\",\"ctrl\":\"" + ctrl + "\"") != std::string::npos) ++found;
  return found >= n;
}

// Paused: the system's thread holds in the reader's wait, so the trace ends
// with that Delay and stays so.
bool held() {
  return QTest::qWaitFor(
      [] {
        const std::vector<std::string> before = rt::trace_lines();
        if (before.empty() || before.back().find("\"op\":\"Delay\"") == std::string::npos)
          return false;
        QTest::qWait(300);
        return rt::trace_lines().size() == before.size();
      },
      WAIT_MS);
}

// The operator types a count and presses Enter.
void enter_count(QSpinBox* count, int value) {
  QApplication::setActiveWindow(count->window());
  count->setFocus(Qt::OtherFocusReason);
  count->selectAll();
  QTest::keyClicks(count, QString::number(value));
  QTest::keyClick(count, Qt::Key_Return);
}

// Each value the handler of PANEL_COUNT read, and the count the next frame
// showed after it.
struct Read {
  long long value;
  long long next_shown;  // -1 when no frame came after it yet
};
std::vector<Read> count_reads(const std::vector<Line>& lines) {
  std::vector<Read> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].op != "GetCtrlVal" || lines[i].ctrl != "PANEL_COUNT") continue;
    Read r{lines[i].int_field("value"), -1};
    for (size_t j = i + 1; j < lines.size() && r.next_shown < 0; ++j)
      if (lines[j].op == "SetCtrlVal" && lines[j].ctrl == "PANEL_COUNT")
        r.next_shown = lines[j].int_field("value");
    out.push_back(r);
  }
  return out;
}

std::vector<uint8_t> recording(int n) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i)
    testing_frames::append(out, testing_program::counted_frame(static_cast<uint32_t>(i)));
  return out;
}

TEST(OperatorInput, a_count_typed_while_accumulating_is_what_the_handler_reads) {
  testing_files::TempDir dir;
  GuiWindow gui;
  // 50 frames a second at most: the recording lasts a minute.
  ProgramRun run(dir.file("rec.dat"), recording(3000), 5.0, false, "", false, gui.hooks());
  Finish finish{run};
  ASSERT_TRUE(QTest::qWaitFor([] { return seen("SetCtrlVal", "PANEL_COUNT", 3); }, WAIT_MS))
      << "accumulation counts down";
  ASSERT_NE(gui.window, nullptr);
  auto* count = gui.find<QSpinBox>("PANEL_COUNT");
  auto* accum = gui.find<QCheckBox>("PANEL_ACCUM");
  QAction* pause = gui.find<QAction>("transportPause");
  ASSERT_TRUE(count && accum && pause);

  // Typed while playback is held before a frame: that frame writes its
  // countdown into the control before the system polls for the event.
  const std::vector<int> typed = {5000, 6000, 7000, 8000, 9000};
  for (size_t k = 0; k < typed.size(); ++k) {
    const bool hold = k < 3;  // the last two are typed while frames flow
    if (hold) {
      pause->trigger();
      ASSERT_TRUE(held()) << typed[k];
    }
    enter_count(count, typed[k]);
    if (hold) {
      rt::refresh_panel_window(gui.window);
      EXPECT_EQ(count->value(), typed[k]) << "shown until the handler has it";
      pause->trigger();
    }
    // The handler has read it, and a frame has counted down after it.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          const std::vector<Read> reads = count_reads(trace());
          return reads.size() == k + 1 && reads.back().next_shown >= 0;
        },
        WAIT_MS))
        << typed[k];
  }
  const std::vector<Read> reads = count_reads(trace());
  ASSERT_EQ(reads.size(), typed.size());
  for (size_t k = 0; k < typed.size(); ++k) {
    EXPECT_EQ(reads[k].value, typed[k]) << "the handler reads what was typed";
    EXPECT_EQ(reads[k].next_shown, typed[k] - 1) << "the countdown goes on from " << typed[k];
  }
  // The field then follows the countdown again.
  pause->trigger();
  ASSERT_TRUE(held());
  rt::refresh_panel_window(gui.window);
  const std::vector<Line> now = testing_trace::select(trace(), "SetCtrlVal", "PANEL_COUNT");
  EXPECT_EQ(count->value(), now.back().int_field("value"));
  EXPECT_LT(count->value(), 9000);
  pause->trigger();

  // A small count runs out: the Count looks finished and Accumulate is off.
  enter_count(count, 3);
  ASSERT_TRUE(QTest::qWaitFor([] { return seen("SetCtrlAttribute", "PANEL_COUNT"); }, WAIT_MS));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        rt::refresh_panel_window(gui.window);
        return !count->styleSheet().isEmpty() && !accum->isChecked();
      },
      WAIT_MS));
  // A new count alone does not restart accumulation: still finished.
  enter_count(count, 400);
  ASSERT_TRUE(QTest::qWaitFor([] { return seen("GetCtrlVal", "PANEL_COUNT", 7); }, WAIT_MS));
  rt::refresh_panel_window(gui.window);
  EXPECT_FALSE(count->styleSheet().isEmpty()) << "a count alone leaves it finished";
  // Switching Accumulate on does: the look ends and the count runs again.
  QTest::mouseClick(accum, Qt::LeftButton, {}, QPoint(6, accum->height() / 2));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        for (const Line& l : testing_trace::select(trace(), "SetCtrlVal", "PANEL_COUNT"))
          if (l.int_field("value") == 399) return true;
        return false;
      },
      WAIT_MS));
  rt::refresh_panel_window(gui.window);
  EXPECT_TRUE(count->styleSheet().isEmpty()) << "accumulating again: not finished";
  EXPECT_TRUE(accum->isChecked());
}

}  // namespace
