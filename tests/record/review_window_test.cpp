// Reviewing a pass in the real window (Qt offscreen) while the program plays
// its recording on its own thread: the alarm list is the pass's with the
// frame each row began at, and a click on a row, a line of the pass's log,
// or a point of a trend moves the playback there; the next and previous keys
// step through the alarms, events and notes; the trends show the position;
// Ctrl+N puts a note on the session.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>
#include <qcustomplot.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/program_run.h"
#include "gui/desktop/dialogs.h"
#include "gui/trends/trend_plot.h"
#include "gui/window.h"
#include "record/record_writer.h"
#include "runtime/context.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "session/session_log.h"
#include "support/files.h"
#include "support/gui_window.h"
#include "support/record_rows.h"
#include "support/trace_reader.h"

namespace {

using testing_program::ProgramRun;
using testing_window::Finish;
using testing_window::GuiWindow;
using testing_window::shows_frame;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded
constexpr uint32_t FRAMES = 100;
constexpr double T0 = 1.7e9;
constexpr double SILENCE_S = 10.0;  // between frames 49 and 50

double time_of(uint32_t n) { return T0 + 0.1 * n + (n >= 50 ? SILENCE_S : 0.0); }
int64_t offset_of(uint32_t n) { return 200 * static_cast<int64_t>(n); }

// The recording and the record a live station would have left: an alarm
// raised with frame 70 and acknowledged, a note at frame 30, the silence.
void write_pass(const std::string& recording, const std::vector<uint8_t>& bytes) {
  testing_files::write_file(recording, bytes);
  rt::RecordWriter writer(recording.substr(0, recording.size() - 4) + ".session", recording,
                          testing_record::live_run("test", T0), nullptr);
  for (uint32_t n = 0; n < FRAMES; ++n) writer.add(rt::FrameRow{time_of(n), offset_of(n), 200, 0, n});
  writer.add(rt::EventRow{time_of(30) + 0.05, offset_of(31), "note", "balloon cut-down commanded here", -1});
  writer.add(rt::LogRow{time_of(30) + 0.05, offset_of(31), "INFO", "note by the operator: balloon cut-down commanded here"});
  writer.add(rt::EventRow{time_of(49) + 3.0, offset_of(50), "link", "link silent (no byte for 3 s)", -1});
  writer.add(rt::LogRow{time_of(49) + 3.0, offset_of(50), "ERROR", "link: link silent (no byte for 3 s)"});
  // Raised at the recording's size once frame 70 was in.
  rt::AlarmRow alarm = testing_record::raised_alarm(1, rt::AlarmSource::Limit, "HK30", "HK30 out of limits",
                                                    rt::Severity::Error, time_of(70) + 0.01, offset_of(71),
                                                    "HK30 out of limits: alarm");
  alarm.row.has_value = true;
  alarm.row.worst_value = "-273.15 \u00b0C";
  alarm.row.worst_limit = "below the alarm limit -40.00 \u00b0C";
  alarm.row.now = "alarm: -273.15 \u00b0C";
  writer.add(alarm);
  writer.recorded_to(offset_of(FRAMES));
  ASSERT_TRUE(writer.close());
}

struct Review : ::testing::Test {
  testing_files::TempDir dir;
  std::string recording = dir.file("52121834.dat");
  GuiWindow gui;
  std::unique_ptr<ProgramRun> run;
  QWidget* top = nullptr;

  void SetUp() override {
    std::vector<uint8_t> bytes;
    for (uint32_t n = 0; n < FRAMES; ++n) testing_frames::append(bytes, testing_program::counted_frame(n));
    write_pass(recording, bytes);
    run = std::make_unique<ProgramRun>(recording, bytes, 1.0, false, "", true, gui.hooks());
    ASSERT_TRUE(QTest::qWaitFor([&] { return gui.window != nullptr; }, WAIT_MS));
    top = rt::panel_widget(gui.window);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          rt::refresh_panel_window(gui.window);
          auto* table = top->findChild<QTableWidget*>("alarmTable");
          return table && table->rowCount() == 1 && table->item(0, 9) && !table->item(0, 9)->text().isEmpty();
        },
        WAIT_MS))
        << "the pass's alarm list, with the frame its row began at, once the recording is indexed";
  }
  void TearDown() override {
    if (run) {
      Finish finish{*run};
    }
  }
  template <typename T>
  T* find(const char* name) {
    return top->findChild<T*>(QString::fromLatin1(name));
  }
};

TEST_F(Review, an_alarm_row_a_log_line_and_the_next_keys_move_the_playback_to_their_frames) {
  auto* table = find<QTableWidget>("alarmTable");
  EXPECT_EQ(table->item(0, 9)->text(), QStringLiteral("frame 71")) << "frame 70 counted from 0";
  EXPECT_EQ(table->item(0, 8)->text(), QStringLiteral("never"));
  find<QAction>("actionShowAlarms")->setChecked(true);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 2)).center());
  ASSERT_TRUE(shows_frame(70)) << "the click moved the paused playback to the frame the alarm began at";
  // The pass's list is a record of what happened: the row selected, nothing to acknowledge.
  EXPECT_FALSE(table->selectedItems().isEmpty());
  EXPECT_FALSE(find<QPushButton>("acknowledgeAlarm")->isEnabled());
  EXPECT_FALSE(find<QAction>("actionAcknowledgeAll")->isEnabled());

  // The pass's log, searched for the notes; a click on the line.
  find<QAction>("actionShowLog")->setChecked(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return find<QComboBox>("logSource")->isVisible(); }, WAIT_MS));
  auto* log = find<QPlainTextEdit>("logText");
  EXPECT_NE(log->document()->firstBlock().text().indexOf(QStringLiteral(" INFO note by the operator: ")), -1)
      << "opened after the pass came, the pane is the pass's log, not this playback's: "
      << log->toPlainText().toStdString();
  find<QLineEdit>("logSearch")->setText(QStringLiteral("note"));
  ASSERT_EQ(log->document()->blockCount(), 1) << log->toPlainText().toStdString();
  EXPECT_NE(log->toPlainText().indexOf(QStringLiteral("balloon cut-down")), -1);
  const QRect line = log->cursorRect(QTextCursor(log->document()->firstBlock()));
  QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, line.center());
  ASSERT_TRUE(shows_frame(30)) << "the frame shown when the note was made";

  // From the note: the next mark is the silence, then the alarm; back again.
  QApplication::setActiveWindow(top);
  ASSERT_TRUE(QTest::qWaitFor([&] { return top->isActiveWindow(); }, WAIT_MS));
  find<QAction>("actionNextMark")->trigger();
  EXPECT_TRUE(shows_frame(49)) << "the last frame before the link fell silent";
  find<QAction>("actionNextMark")->trigger();
  EXPECT_TRUE(shows_frame(70));
  find<QAction>("actionPreviousMark")->trigger();
  EXPECT_TRUE(shows_frame(49));
  EXPECT_TRUE(rt::transport_paused());
}

TEST_F(Review, the_trends_show_the_position_on_the_pass_s_time_and_a_click_moves_there) {
  find<QAction>("actionShowAlarms")->setChecked(true);
  auto* table = find<QTableWidget>("alarmTable");
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 2)).center());
  ASSERT_TRUE(shows_frame(70));
  // W192 on a plot of its own, as a drop below the plots makes it.
  find<QAction>("actionShowTrends")->setChecked(true);
  QWidget* zone = find<QWidget>("trendNewPlot");
  ASSERT_NE(zone, nullptr);
  QMimeData data;
  data.setData(QLatin1String(rt::TREND_MIME), QByteArray("W192"));
  const QPointF at(zone->width() / 2.0, zone->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(zone, &enter);
  QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(zone, &dropped);
  auto* plot = find<QCustomPlot>("trendPlot");
  ASSERT_NE(plot, nullptr);
  auto* position = plot->findChild<QCPItemStraightLine*>("trendPosition");
  ASSERT_NE(position, nullptr);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return position->visible() && std::abs(position->point1->coords().x() - time_of(70)) < 1e-3; }, WAIT_MS))
      << "the position line stands at frame 70's time of reception: " << position->point1->coords().x();
  // The whole pass is shown, the silence as the 10 s it lasted.
  ASSERT_TRUE(QTest::qWaitFor([&] { return plot->xAxis->range().upper >= time_of(FRAMES - 1) - 0.01; }, WAIT_MS));
  EXPECT_NEAR(plot->xAxis->range().lower, time_of(0), 0.01);
  // A click at frame 20's time moves the playback there.
  // (Frames 0.1 s apart are a few pixels apart: the pixel is checked to
  // stand between frame 20 and frame 21.)
  const QPoint click(static_cast<int>(std::lround(plot->xAxis->coordToPixel(time_of(20) + 0.05))),
                     plot->axisRect()->rect().center().y());
  const double clicked = plot->xAxis->pixelToCoord(click.x());
  ASSERT_TRUE(clicked >= time_of(20) && clicked < time_of(21)) << clicked - T0;
  QTest::mouseClick(plot, Qt::LeftButton, {}, click);
  EXPECT_TRUE(shows_frame(20)) << "a click on the trends at a frame's time";
}

TEST_F(Review, ctrl_n_puts_the_note_given_on_the_session_s_log) {
  rt::set_dialog_answerer([](QDialog* dialog) {
    if (auto* text = dialog->findChild<QLineEdit*>("noteText")) text->setText(QStringLiteral("payload released"));
    return true;
  });
  find<QAction>("actionNote")->trigger();
  rt::set_dialog_answerer(nullptr);
  bool noted = false;
  for (const rt::LogEntry& e : rt::log_entries_since(0)) noted = noted || e.text == "note by the operator: payload released";
  EXPECT_TRUE(noted);
}

}  // namespace
