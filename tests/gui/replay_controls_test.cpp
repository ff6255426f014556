// The replay controls in the window, in Qt's offscreen platform: the
// position bar (frames, a click or a drag seeks), a frame back and forward
// while paused, From start, Loop and Open recording (a drop onto the
// window, the folder remembered). The test plays the system's thread: it
// opens the playback input and carries out the requests (replay_gate) where
// the system's reader would.
#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/program_run.h"
#include "gui/window_fixture.h"
#include "gui/desktop/open_recording.h"
#include "gui/station/position_bar.h"
#include "replay/replay.h"
#include "session/session_log.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

using testing_extras::open_panel;
using testing_extras::Panel;
using Bytes = std::vector<uint8_t>;

Bytes frames(uint32_t first, uint32_t n) {
  Bytes out;
  for (uint32_t k = first; k < first + n; ++k) testing_frames::append(out, testing_program::counted_frame(k));
  return out;
}

Bytes frame_bytes(uint32_t n) {
  const auto f = testing_program::counted_frame(n);
  return Bytes(f.begin(), f.end());
}

int log_count(const std::string& part) {
  int n = 0;
  for (const auto& e : rt::log_entries_since(0)) n += e.text.find(part) != std::string::npos;
  return n;
}

// The window on a playback of `bytes`, with the input open as the program
// opens it (so the run-time indexes it and can move it).
class ReplayControls : public testing_extras::WindowExtras {
 protected:
  void SetUp() override {
    WindowExtras::SetUp();
    rt::replay_reset();
    rt::reset_log_for_tests();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir_.file("settings")));
  }
  void TearDown() override {
    panel_.reset();
    FileClose(input_);
    rt::replay_reset();
    rt::reset_log_for_tests();
    WindowExtras::TearDown();
  }
  // Opens the window on `path` (with `bytes`), and the input; waits for the index.
  void play(const std::string& path, const Bytes& bytes) {
    testing_files::write_file(path, bytes);
    panel_ = open_panel(path);
    ASSERT_TRUE(panel_);
    input_ = FileOpen(path.c_str(), "rb");
    ASSERT_NE(input_, nullptr);
    const rt::ReplayView v = rt::replay_view();
    ASSERT_TRUE(v.index && v.index->wait(60.0));
    panel_->refresh();
  }
  // As if the system had just shown frame n (each 200 bytes, back to back).
  void shown(long n) {
    rt::transport_input_at(200 * (n + 1));
    rt::transport_good_frame();
    panel_->refresh();
  }
  // The next 200 bytes of the input.
  Bytes next_record() {
    Bytes b(200);
    b.resize(FileRead(b.data(), 1, 200, input_));
    return b;
  }
  rt::PositionBar* bar() const { return panel_->find<rt::PositionBar>("transportPosition"); }

  std::unique_ptr<Panel> panel_;
  FileStream* input_ = nullptr;
};

TEST_F(ReplayControls, are_window_actions_with_their_shortcuts) {
  play(dir_.file("rec.dat"), frames(0, 10));
  struct Case {
    const char* name;
    QKeySequence key;
  };
  const Case cases[] = {{"actionStepBack", QKeySequence(Qt::Key_Left)},
                        {"actionStepForward", QKeySequence(Qt::Key_Right)},
                        {"actionOpenRecording", QKeySequence(QKeySequence::Open)},
                        {"transportRestart", QKeySequence(Qt::Key_Home)},
                        {"transportLoop", QKeySequence()}};
  for (const Case& c : cases) {
    QAction* a = panel_->find<QAction>(c.name);
    ASSERT_NE(a, nullptr) << c.name;
    EXPECT_EQ(a->shortcut(), c.key) << c.name;
    EXPECT_TRUE(a->isVisible()) << c.name;
  }
  EXPECT_TRUE(panel_->find<QAction>("transportLoop")->isCheckable());
  EXPECT_TRUE(panel_->find<QAction>("actionOpenRecording")->isEnabled());

  auto live = open_panel("");
  ASSERT_TRUE(live);
  EXPECT_FALSE(live->find<QAction>("actionStepForward")->isVisible()) << "no transport in live mode";
  EXPECT_FALSE(live->find<QAction>("actionOpenRecording")->isEnabled()) << "live mode has no playback to switch";
}

TEST_F(ReplayControls, the_position_bar_shows_frames_and_a_click_or_drag_seeks) {
  play(dir_.file("rec.dat"), frames(0, 10));
  ASSERT_TRUE(bar()->seekable());
  EXPECT_EQ(bar()->text().toStdString(), "no frame shown yet, 10 frames");
  shown(2);
  EXPECT_EQ(bar()->text().toStdString(), "frame 3 of 10 \u00b7 0/00:00:00.0") << "frame 1 is of kind 1: time 0";
  struct Case {
    const char* name;
    double from, to;  // shares of the bar's width
    long frame;
  };
  for (const Case c : {Case{"click", 0.75, 0.75, 7}, Case{"drag", 0.1, 0.55, 5}, Case{"click at the start", 0.0, 0.0, 0}}) {
    const int y = bar()->height() / 2;
    const QPoint from(static_cast<int>(c.from * bar()->width()), y), to(static_cast<int>(c.to * bar()->width()), y);
    QTest::mousePress(bar(), Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), bar()->mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(bar(), &move);
    EXPECT_EQ(bar()->text().toStdString().rfind("seek to frame " + std::to_string(c.frame + 1) + " of 10", 0), 0u)
        << c.name << ": " << bar()->text().toStdString();
    QTest::mouseRelease(bar(), Qt::LeftButton, {}, to);
    ASSERT_TRUE(rt::replay_move_pending()) << c.name;
    rt::replay_gate();  // the system's thread, at its next frame pass
    EXPECT_EQ(rt::transport_position().bytes, 200 * c.frame) << c.name;
    EXPECT_EQ(next_record(), frame_bytes(static_cast<uint32_t>(c.frame)))
        << c.name;
    EXPECT_EQ(log_count("Seek to frame " + std::to_string(c.frame + 1) + " of 10"), 1) << c.name;
  }
}

TEST_F(ReplayControls, a_file_with_no_frames_and_a_pipe_offer_no_seek_and_say_why) {
  play(dir_.file("noise.dat"), Bytes(3000, 0x55));
  EXPECT_FALSE(bar()->seekable());
  EXPECT_NE(bar()->text().indexOf("no frames found"), -1) << bar()->text().toStdString();
  EXPECT_NE(bar()->toolTip().indexOf("seeking is off"), -1) << bar()->toolTip().toStdString();
  QTest::mouseClick(bar(), Qt::LeftButton, {}, QPoint(bar()->width() / 2, bar()->height() / 2));
  EXPECT_FALSE(rt::replay_move_pending()) << "a click asks for nothing";

  FileClose(input_);
  input_ = nullptr;
  rt::replay_reset();
  auto pipe = open_panel("-");
  ASSERT_TRUE(pipe);
  EXPECT_NE(pipe->find<rt::PositionBar>("transportPosition")->toolTip().indexOf("not offered for a pipe"), -1);
  EXPECT_FALSE(pipe->find<QAction>("transportLoop")->isEnabled());
}

TEST_F(ReplayControls, frame_back_and_forward_are_offered_only_while_paused) {
  play(dir_.file("rec.dat"), frames(0, 10));
  shown(3);
  QAction* back = panel_->find<QAction>("actionStepBack");
  QAction* forward = panel_->find<QAction>("actionStepForward");
  EXPECT_FALSE(back->isEnabled());
  EXPECT_FALSE(forward->isEnabled());
  panel_->find<QAction>("transportPause")->trigger();
  panel_->refresh();
  ASSERT_TRUE(back->isEnabled());
  ASSERT_TRUE(forward->isEnabled());
  const int64_t at = rt::transport_position().bytes;
  forward->trigger();
  EXPECT_TRUE(rt::replay_gate()) << "a paused pass runs as a step";
  EXPECT_EQ(rt::transport_position().bytes, at) << "forward: the reader reads on from where it stands";
  back->trigger();
  EXPECT_TRUE(rt::replay_gate());
  EXPECT_EQ(rt::transport_position().bytes, 2 * 200) << "back: frame 2, before the frame shown";
  EXPECT_EQ(log_count("Step back to frame 3 of 10"), 1);
  shown(0);
  EXPECT_FALSE(back->isEnabled()) << "nothing before the first frame";
}

TEST_F(ReplayControls, from_start_and_loop) {
  play(dir_.file("rec.dat"), frames(0, 10));
  shown(6);
  next_record();
  panel_->find<QAction>("transportRestart")->trigger();
  rt::replay_gate();
  EXPECT_EQ(rt::transport_position().bytes, 0);
  EXPECT_EQ(log_count("Playing again from the start"), 1);
  QAction* loop = panel_->find<QAction>("transportLoop");
  loop->trigger();
  EXPECT_TRUE(rt::replay_loop());
  loop->trigger();
  EXPECT_FALSE(rt::replay_loop());
  EXPECT_EQ(log_count("Loop on"), 1);
  EXPECT_EQ(log_count("Loop off"), 1);
}

// A drop onto the window, as a file manager sends it.
bool drop_onto(QWidget* window, const QString& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(window, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, {});
  QApplication::sendEvent(window, &drop);
  return drop.isAccepted();
}

TEST_F(ReplayControls, a_recording_dropped_onto_the_window_is_played_and_its_folder_remembered) {
  play(dir_.file("rec.dat"), frames(0, 10));
  const std::string other = dir_.file("other/b.dat");
  std::filesystem::create_directories(dir_.file("other"));
  testing_files::write_file(other, frames(100, 5));
  ASSERT_TRUE(drop_onto(panel_->top(), QString::fromStdString(other)));
  rt::replay_gate();
  EXPECT_EQ(rt::transport_source(), other);
  EXPECT_EQ(next_record(), frame_bytes(100));
  EXPECT_EQ(log_count("Opened recording " + other), 1);
  EXPECT_EQ(rt::OpenRecording::last_folder().toStdString(), dir_.file("other"));
  ASSERT_TRUE(rt::replay_view().index && rt::replay_view().index->wait(60.0));
  panel_->refresh();
  EXPECT_NE(bar()->text().indexOf("5 frames"), -1) << "the bar follows: " << bar()->text().toStdString();

  EXPECT_FALSE(drop_onto(panel_->top(), QString::fromStdString(dir_.file("other")))) << "a folder is refused";
  auto live = open_panel("");
  EXPECT_FALSE(drop_onto(live->top(), QString::fromStdString(other))) << "live mode takes no drop";
}

}  // namespace
