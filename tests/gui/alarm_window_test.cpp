// Alarms in the real window (Qt's offscreen platform), on the session's
// injected clock: the latched list, its count in the title and the health
// bar, acknowledgement, the tones through a recording sink, the mute; and
// the limits dialog, checked as typed and applied at once.
#include <QAbstractButton>
#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "gui/station/alarm_sound.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"
#include "runtime/user_limits.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "support/files.h"
#include "gui/panel_fixture.h"

namespace {

using testing_window::open_panel;

struct Recorder : rt::ToneSink {
  std::vector<std::string> heard;
  void play(rt::Tone tone) override { heard.push_back(rt::tone_name(tone)); }
  void stop() override { heard.push_back("stop"); }
};

class AlarmWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_session_for_tests();
    rt::reset_log_for_tests();
    rt::reset_user_limits_for_tests();
    rt::set_session_clock_for_tests([this] { return t_; });
    rt::set_tone_sink_for_tests(&sound_);
    rt::transport_set_source("recording.dat");  // playback: the link raises none of its alarms
    panel_ = open_panel();
    ASSERT_TRUE(panel_);
  }
  void TearDown() override {
    panel_.reset();
    rt::set_tone_sink_for_tests(nullptr);
    rt::reset_session_for_tests();
    rt::reset_user_limits_for_tests();
    rt::reset_log_for_tests();
    rt::transport_reset();
  }
  // The value at time t, then a redraw.
  void show(int id, double value, double t) {
    t_ = t;
    panel_->model->set_double(id, value);
    refresh();
  }
  void refresh() {
    rt::refresh_panel_window(panel_->window);
    QCoreApplication::processEvents();
  }
  QWidget* top() const { return rt::panel_widget(panel_->window); }
  template <class W>
  W* find(const char* name) const {
    W* w = top()->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  // The alarm table's rows: "ALARM | Times | Worst | Now | Acknowledged".
  std::vector<std::string> rows() {
    auto* table = find<QTableWidget>("alarmTable");
    std::vector<std::string> out;
    for (int r = 0; r < table->rowCount(); ++r) {
      std::string row;
      for (int c : {2, 5, 6, 7}) row += table->item(r, c)->text().toStdString() + " | ";
      row += table->item(r, 8)->text().toStdString();
      out.push_back(row);
    }
    return out;
  }
  bool logged(const std::string& text) {
    for (const auto& e : rt::log_entries_since(0))
      if (e.text.find(text) != std::string::npos) return true;
    return false;
  }

  double t_ = 0.0;
  Recorder sound_;
  std::unique_ptr<testing_window::Panel> panel_;
};

TEST_F(AlarmWindow, crossings_are_latched_counted_in_title_and_health_bar_sounded_and_acknowledged) {
  const QString title = top()->windowTitle();
  auto* dock = find<QDockWidget>("alarmDock");
  EXPECT_FALSE(dock->isVisible()) << "the panel has the whole height until an alarm is looked at";
  show(PANEL_HK00, 5.0, 1.0);
  EXPECT_TRUE(rows().empty());
  show(PANEL_HK00, 9.9, 10.0);   // caution: 0.2..9.8 V
  show(PANEL_HK00, 9.97, 11.0);  // alarm: 0.05..9.95 V
  show(PANEL_HK00, 5.0, 12.0);   // back
  show(PANEL_HK20, 60.0, 13.0);  // caution: -20..50 °C
  EXPECT_EQ(sound_.heard, (std::vector<std::string>{"amber", "red", "amber"}));
  // Latched though HK00 is back; red first.
  EXPECT_EQ(rows(), (std::vector<std::string>{
                        "HK00 out of limits | 1 | 9.9700 V (above the alarm limit 9.9500 V) | normal | NOT ACKNOWLEDGED",
                        "HK20 out of limits | 1 | 60.00 °C (above the caution limit 50.00 °C) | caution: 60.00 °C | NOT ACKNOWLEDGED"}));
  auto* table = find<QTableWidget>("alarmTable");
  const std::string first = table->item(0, 3)->text().toStdString();
  const std::string last = table->item(0, 4)->text().toStdString();
  EXPECT_LT(first, last) << "first seen at 10 s, last out of limits at 11 s";
  EXPECT_EQ(top()->windowTitle(), "2 ALARMS \u00b7 " + title);
  auto* badge = find<QAbstractButton>("healthAlarms");
  EXPECT_TRUE(badge->isVisible());
  EXPECT_EQ(badge->text(), "2 ALARMS");
  EXPECT_NE(badge->toolTip().indexOf("HK20 out of limits (amber) since "), -1) << badge->toolTip().toStdString();
  QTest::mouseClick(badge, Qt::LeftButton);
  EXPECT_TRUE(dock->isVisible()) << "the count opens the list";

  // One row acknowledged: logged with the time, one left (now below it).
  t_ = 20.0;
  table->selectRow(0);
  QTest::mouseClick(find<QPushButton>("acknowledgeAlarm"), Qt::LeftButton);
  refresh();
  EXPECT_TRUE(logged("alarm acknowledged by the operator: HK00 out of limits (red, 1 time, first "));
  EXPECT_EQ(top()->windowTitle(), "1 ALARM \u00b7 " + title);
  EXPECT_NE(rows()[1].find("| normal | "), std::string::npos) << rows()[1];
  EXPECT_EQ(rows()[1].find("NOT ACKNOWLEDGED"), std::string::npos) << rows()[1];

  // All acknowledged: the sound stops, the title and the badge clear.
  find<QAction>("actionAcknowledgeAll")->trigger();
  refresh();
  EXPECT_EQ(top()->windowTitle(), title);
  EXPECT_FALSE(badge->isVisible());
  EXPECT_EQ(sound_.heard.back(), "stop");

  // A new crossing raises the acknowledged row again.
  show(PANEL_HK00, 9.9, 30.0);
  EXPECT_EQ(top()->windowTitle(), "1 ALARM \u00b7 " + title);
  EXPECT_EQ(sound_.heard.back(), "amber");
  EXPECT_NE(rows()[0].find("HK00 out of limits | 2 | 9.9700 V"), std::string::npos) << rows()[0];

  // Muted (and remembered): the next red one is not heard, and the health
  // bar says so where the count is.
  EXPECT_FALSE(find<QLabel>("healthMuted")->isVisible());
  find<QAction>("actionMuteAlarms")->trigger();
  EXPECT_TRUE(rt::window_settings()->value("alarms/muted").toBool());
  refresh();
  EXPECT_TRUE(find<QLabel>("healthMuted")->isVisible());
  const size_t heard = sound_.heard.size();
  show(PANEL_HK16, 80.0, 31.0);
  EXPECT_EQ(top()->windowTitle(), "2 ALARMS \u00b7 " + title);
  ASSERT_GE(sound_.heard.size(), heard);
  for (size_t i = heard; i < sound_.heard.size(); ++i) EXPECT_EQ(sound_.heard[i], "stop");

  // The next window: the list shown as it was left, the sound still muted.
  panel_.reset();
  panel_ = open_panel(true, /*fresh_settings=*/false);
  EXPECT_TRUE(find<QDockWidget>("alarmDock")->isVisible());
  EXPECT_TRUE(find<QAction>("actionMuteAlarms")->isChecked());
  EXPECT_TRUE(find<QLabel>("healthMuted")->isVisible()) << "MUTED from the start of the next session";
}

TEST_F(AlarmWindow, the_limits_dialog_checks_as_typed_applies_at_once_and_restores_the_defaults) {
  testing_files::TempDir dir;
  const std::string path = dir.file("limits.txt");
  rt::set_user_limits_file(path, true);
  find<QAction>("actionEditLimits")->trigger();
  auto* dialog = top()->findChild<QWidget*>("limitsDialog");
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
  auto edit = [dialog](const char* name) { return dialog->findChild<QLineEdit*>(name); };
  auto* high = edit("HK16.cautionHigh");
  auto* low = edit("HK16.cautionLow");
  auto* problem = dialog->findChild<QLabel*>("limitsProblem");
  ASSERT_TRUE(high && low && problem);
  EXPECT_EQ(high->text(), "50");
  auto type = [](QLineEdit* e, const char* text) {
    e->setFocus();
    e->selectAll();
    QTest::keyClicks(e, text);
  };
  auto caution_high = [this] {
    for (const auto& s : panel_->model->limit_slots())
      if (s.label == "HK16") return s.limits.caution->high;
    return -1.0;
  };

  type(high, "4x");
  EXPECT_FALSE(high->styleSheet().isEmpty()) << "marked as typed";
  EXPECT_NE(problem->text().indexOf("\"4x\" is not a number"), -1) << problem->text().toStdString();
  QTest::keyClick(high, Qt::Key_Return);
  EXPECT_EQ(caution_high(), 50.0) << "not applied";

  type(high, "40");
  EXPECT_TRUE(high->styleSheet().isEmpty());
  QTest::keyClick(high, Qt::Key_Return);
  EXPECT_EQ(caution_high(), 40.0);
  EXPECT_NE(testing_files::read_text(path).find("HK16 caution=-20..40 alarm=-40..70"), std::string::npos);
  EXPECT_TRUE(logged("limits of HK16 changed by the operator: caution=-20..50 alarm=-40..70 hysteresis=default "
                     "enabled=yes -> caution=-20..40"));
  show(PANEL_HK16, 45.0, 1.0);
  EXPECT_EQ(panel_->model->out_of_limits(), 1) << "in caution under the new limits";
  EXPECT_NE(panel_->widget<QLineEdit>("PANEL_HK16")->toolTip().indexOf("caution outside -20.00..40.00 °C"), -1);

  type(low, "-50");  // below the alarm range's -40
  EXPECT_NE(problem->text().indexOf("the caution range must lie inside the alarm range"), -1);
  EXPECT_FALSE(edit("HK16.alarmLow")->styleSheet().isEmpty());
  QTest::keyClick(low, Qt::Key_Return);
  EXPECT_EQ(caution_high(), 40.0);

  // Restore defaults asks first, naming each change; kept, then restored.
  std::vector<std::string> asked;
  bool answer = false;
  rt::set_dialog_answerer([&](QDialog* d) {
    asked.push_back(rt::dialog_text(d).toStdString());
    return answer;
  });
  QTest::mouseClick(dialog->findChild<QPushButton*>("restoreDefaults"), Qt::LeftButton);
  EXPECT_EQ(caution_high(), 40.0) << "kept when the question is answered Keep";
  answer = true;
  QTest::mouseClick(dialog->findChild<QPushButton*>("restoreDefaults"), Qt::LeftButton);
  rt::set_dialog_answerer(nullptr);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_NE(asked[1].find("Give 1 slot back the panel file's limits?"), std::string::npos) << asked[1];
  EXPECT_NE(asked[1].find("HK16: caution=-20..40 alarm=-40..70 hysteresis=default enabled=yes  \u2192  "
                          "caution=-20..50 alarm=-40..70"),
            std::string::npos)
      << asked[1];
  EXPECT_EQ(problem->text().toStdString(), "Restored the panel file's limits of HK16.");
  EXPECT_EQ(caution_high(), 50.0);
  EXPECT_EQ(low->text(), "-20");
  EXPECT_EQ(testing_files::read_text(path).find("\nHK16"), std::string::npos);
  refresh();
  EXPECT_EQ(panel_->model->out_of_limits(), 0);
  dialog->close();
}

// The dialog lists the slots as the panel shows them: HK00 to HK35, then
// slot 36's bytes and slots 37 to 39.
TEST_F(AlarmWindow, the_limits_dialog_lists_the_slots_in_the_panels_order) {
  find<QAction>("actionEditLimits")->trigger();
  auto* table = top()->findChild<QTableWidget*>("limitsTable");
  ASSERT_NE(table, nullptr);
  std::vector<std::string> shown, panel_order;
  for (int r = 0; r < table->rowCount(); ++r) shown.push_back(table->item(r, 0)->text().toStdString());
  for (int slot = 0; slot < 36; ++slot) panel_order.push_back((slot < 10 ? "HK0" : "HK") + std::to_string(slot));
  for (const char* byte_or_raw : {"HKHI", "HKLO", "HKRAW"}) panel_order.push_back(byte_or_raw);
  EXPECT_EQ(shown, panel_order);
}

// A refused limits file is marked in the window until a change made in
// the dialog has written a new one.
TEST_F(AlarmWindow, a_refused_limits_file_is_marked_until_a_new_one_is_written) {
  testing_files::TempDir dir;
  const std::string path = dir.file("limits.txt");
  std::ofstream(path) << "HK16 caution=-20..45 alarm=-40..70 hysteresis=default enabled=sometimes\n";
  rt::set_user_limits_file(path, true);
  rt::load_user_limits(*panel_->model);
  refresh();
  auto* mark = find<QAbstractButton>("limitsRefusedMark");
  EXPECT_TRUE(mark->isVisible());
  EXPECT_NE(mark->toolTip().indexOf(QString::fromStdString("The limits file " + path + " was refused (line 1: ")), -1)
      << mark->toolTip().toStdString();
  QTest::mouseClick(mark, Qt::LeftButton);
  auto* dialog = top()->findChild<QWidget*>("limitsDialog");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible()) << "a click on the mark opens the limits";
  auto* high = dialog->findChild<QLineEdit*>("HK16.cautionHigh");
  high->setFocus();
  high->selectAll();
  QTest::keyClicks(high, "45");
  QTest::keyClick(high, Qt::Key_Return);
  refresh();
  EXPECT_FALSE(mark->isVisible()) << "the new file is in force";
  dialog->close();
  rt::reset_outcome_for_tests();  // the refusal's exit status
}

}  // namespace
