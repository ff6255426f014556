// The health bar, the stale marking and the log pane in the real window
// (Qt's offscreen platform), on the health's injected clock. The test plays
// the system's part on this thread: the real receiver reads an in-memory
// port, the real decoder writes the panel, and the run-time watches it all.
// Each health state is grabbed to bin/health_<state>.png for a person to
// look at (docs/ has copies).
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "display/decoder.h"
#include "display/spectra.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "runtime/com_port.h"
#include "runtime/context.h"
#include "runtime/memory_port.h"
#include "gui/panel/stale_marker.h"
#include "gui/station/health_bar.h"
#include "gui/window.h"
#include "runtime/serial.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/frames.h"
#include "tools/sim_frames.h"

namespace {

const std::string PORT_PATH = "/dev/ttyTEST0";

class HealthWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::reset_serial_for_tests();
    rt::reset_log_for_tests();
    receiver_reset_for_tests();
    nskip_reset_for_tests();
    rt::set_session_clock_for_tests([this] { return t_; });
    rt::WindowHooks hooks;
    hooks.create = [this](rt::PanelModel& model, const std::string& path, std::string* error) {
      window_ = rt::create_panel_window(model, path, error);
      return window_ != nullptr;
    };
    hooks.show = [this] { rt::show_panel_window(window_); };
    hooks.destroy = [this] {
      rt::destroy_panel_window(window_);
      window_ = nullptr;
    };
    rt::set_window_hooks(std::move(hooks));
  }
  void TearDown() override {
    if (panel_ > 0) DiscardPanel(panel_);
    if (port_) CloseCom(1);
    rt::reset_ui_for_tests();
    rt::reset_serial_for_tests();
    rt::reset_log_for_tests();
  }

  void open(bool live) {
    rt::transport_set_source(live ? "" : testing_files::bin_dir() + "/demo_for_health.dat");
    if (live) {
      port_ = std::make_shared<rt::MemoryPort>();
      rt::set_com_port(port_);
      rt::set_com_path(PORT_PATH);
      ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0);
    }
    panel_ = LoadPanel(0, "gse.uir", PANEL);
    ASSERT_GT(panel_, 0) << PanelErrorText();
    DisplayPanel(panel_);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(top()));
    // As on a 1366x768 laptop (the pictures in the README).
    top()->showNormal();
    top()->resize(1366, 740);
    init(spectra_);
  }

  QWidget* top() const { return rt::panel_widget(window_); }
  template <class W>
  W* find(const char* name) const {
    return top()->findChild<W*>(name);
  }
  void refresh() {
    rt::refresh_panel_window(window_);
    QCoreApplication::processEvents();
  }
  std::string state() {
    refresh();
    return find<QLabel>("healthState")->text().toStdString();
  }
  // The window's top (bars, the link group, the first housekeeping rows and
  // the 48-channel spectrum), or all of it.
  void grab(const std::string& name, bool whole = false) {
    refresh();
    const std::string out = testing_files::bin_dir() + "/health_" + name + ".png";
    QRect area = top()->rect();
    if (!whole) {
      const QWidget* bar = find<QWidget>("healthBar");
      area.setHeight(bar->mapTo(top(), QPoint(0, bar->height())).y() + 300);
    }
    EXPECT_TRUE(top()->grab(area).save(QString::fromStdString(out))) << out;
  }

  // One frame pass with a good frame, as the service loop makes it: live
  // through the receiver on the port, in playback from the input.
  void good_frame() {
    const sim::Frame f = sim::make_frame(7, next_, 0, 104.0);
    ++next_;
    uint8_t frame[FRAME_LEN];
    if (port_) {
      const sim::Bytes wire = sim::escape_for_link(f);
      port_->feed(wire);
      ASSERT_EQ(get_port_frm(frame), RX_OK);
    } else {
      std::copy(f.begin(), f.end(), frame);
      input_at_ += FRAME_LEN;
      rt::transport_input_at(input_at_);
    }
    frm_process(frame, spectra_, panel_, 1);
    spectra_redraw48(spectra_, panel_);
    spectra_redraw256(spectra_, panel_);
    SetCtrlVal(panel_, PANEL_HEXDUMP, testing_frames::hex_dump(std::vector<uint8_t>(frame, frame + FRAME_LEN)).c_str());
    SetCtrlVal(panel_, PANEL_SKIPPED, static_cast<int>(nskip_count()));
    SetCtrlVal(panel_, PANEL_STATUS, " ");
  }
  // The clock, in tenths of a second so that it adds up exactly.
  void set_time(double s) {
    tenths_ = std::llround(s * 10);
    t_ = static_cast<double>(tenths_) / 10.0;
  }
  // The clock moves on, and the watcher takes its look (it samples the byte
  // count every quarter of a second).
  void tick() {
    set_time(static_cast<double>(tenths_ + 1) / 10.0);
    rt::watch_health();
  }
  // Good frames at the link's pace until `until_s`.
  void frames_until(double until_s) {
    while (t_ < until_s - 1e-9) {
      good_frame();
      tick();
    }
  }
  // Bytes that hold no frame (a wrong baud rate), read until `until_s`.
  void noise_until(double until_s) {
    std::mt19937 gen(5);
    while (t_ < until_s - 1e-9) {
      std::vector<uint8_t> bytes(192);
      for (auto& b : bytes) b = static_cast<uint8_t>(gen() % 0xEB);  // never a sync byte
      port_->feed(bytes);
      for (size_t i = 0; i < bytes.size(); ++i) ASSERT_GE(ComRdByte(1), 0);
      tick();
    }
  }
  bool stale_marked() {
    refresh();
    const QList<QLabel*> overlays = top()->findChildren<QLabel*>("staleOverlay");
    bool shown = !overlays.isEmpty();
    for (QLabel* o : overlays) shown = shown && o->isVisible();
    return shown;
  }

  double t_ = 0.0;
  long long tenths_ = 0;
  rt::PanelWindow* window_ = nullptr;
  std::shared_ptr<rt::MemoryPort> port_;
  int panel_ = 0;
  spectra_t spectra_{};
  uint64_t next_ = 0;
  int64_t input_at_ = 0;
};

TEST_F(HealthWindow, live_states_stale_marking_and_the_log_pane_follow_the_link) {
  open(true);
  QLineEdit* hk05 = find<QLineEdit>("PANEL_HK05");
  ASSERT_NE(hk05, nullptr);
  refresh();
  EXPECT_EQ(hk05->text().toStdString(), "") << "a display never written shows nothing, not 0";

  frames_until(4.0);
  EXPECT_EQ(state(), "RECEIVING");
  EXPECT_FALSE(hk05->text().isEmpty()) << "written once slot 5 came";
  EXPECT_FALSE(stale_marked());
  EXPECT_EQ(hk05->styleSheet(), "");
  grab("receiving");

  SetCtrlVal(panel_, PANEL_STATUS, "COM1 err: checksum failure");
  frames_until(6.0);
  EXPECT_EQ(state(), "DEGRADED");
  EXPECT_EQ(find<QLabel>("healthReason")->text().toStdString(), "checksum failure 2 s ago");
  EXPECT_EQ(find<QLabel>("healthFailures")->text().toStdString(),
            "failures (min / total): checksum 1 / 1  escape 0 / 0  read 0 / 0");
  grab("degraded");

  noise_until(10.5);
  EXPECT_EQ(state(), "NO FRAMES");
  EXPECT_TRUE(stale_marked()) << "no good frame for 4.6 s";
  EXPECT_NE(hk05->styleSheet().indexOf(QLatin1String("#9a9a9a")), -1) << "the displays turn grey";
  EXPECT_EQ(find<QLineEdit>("PANEL_STATUS")->styleSheet(), "") << "but not the status of the latest attempt";
  EXPECT_EQ(top()->findChild<QLabel*>("staleOverlay")->text().toStdString(), "STALE: no good frame for 4 s");
  grab("no_frames");

  // The receiver's time-outs, one every 1.05 s.
  for (double at : {10.5, 11.6, 12.6, 13.7}) {
    set_time(at);
    SetCtrlVal(panel_, PANEL_STATUS, "COM1 err: too few bytes read");
  }
  set_time(14.0);
  EXPECT_EQ(state(), "LINK SILENT");
  grab("link_silent");

  port_->fail_when_empty(true);
  EXPECT_LT(ComRdByte(1), 0);
  set_time(15.0);
  EXPECT_EQ(state(), "PORT LOST");
  EXPECT_NE(find<QLabel>("healthReason")->text().indexOf(QString::fromStdString(PORT_PATH)), -1)
      << "names the device: " << find<QLabel>("healthReason")->text().toStdString();
  QAction* show_log = top()->findChild<QAction*>("actionShowLog");
  ASSERT_NE(show_log, nullptr);
  EXPECT_EQ(show_log->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
  QDockWidget* dock = find<QDockWidget>("logDock");
  ASSERT_NE(dock, nullptr);
  EXPECT_FALSE(dock->isVisible()) << "hidden until asked for";
  show_log->trigger();
  refresh();
  EXPECT_TRUE(dock->isVisible());
  const QString log = find<QPlainTextEdit>("logText")->toPlainText();
  for (const char* entry : {"link: receiving", "link: degraded (checksum failure)", "link: no frames",
                            "link: link silent", "port lost: /dev/ttyTEST0", "link: port lost"})
    EXPECT_NE(log.indexOf(QLatin1String(entry)), -1) << entry << " in the log pane:\n" << log.toStdString();
  grab("port_lost", true);

  find<QComboBox>("logFilter")->setCurrentIndex(2);  // errors only
  const QString errors = find<QPlainTextEdit>("logText")->toPlainText();
  EXPECT_EQ(errors.indexOf(QLatin1String(" INFO ")), -1) << errors.toStdString();
  EXPECT_EQ(errors.indexOf(QLatin1String(" WARN ")), -1) << errors.toStdString();
  EXPECT_NE(errors.indexOf(QLatin1String("port lost")), -1) << errors.toStdString();

  port_->fail_when_empty(false);
  set_time(20.0);
  EXPECT_LT(ComRdByte(1), 0);  // a time-out on the port that is back
  frames_until(21.0);
  EXPECT_EQ(state(), "RECEIVING");
  EXPECT_FALSE(stale_marked()) << "cleared by the next good frame";
  EXPECT_EQ(hk05->styleSheet(), "");
  find<QComboBox>("logFilter")->setCurrentIndex(0);
  EXPECT_NE(find<QPlainTextEdit>("logText")->toPlainText().indexOf(QLatin1String("port returned: /dev/ttyTEST0")), -1);
}

TEST_F(HealthWindow, playback_shows_playing_paused_and_end_of_input_without_link_failures) {
  open(false);
  frames_until(3.0);
  EXPECT_EQ(state(), "PLAYING");
  EXPECT_FALSE(find<QLabel>("healthFailures")->isVisible()) << "playback reports no failures";
  rt::transport_set_paused(true);
  set_time(30.0);
  EXPECT_EQ(state(), "PAUSED");
  EXPECT_FALSE(stale_marked()) << "held by the operator, not stale";
  grab("paused");
  rt::transport_set_paused(false);
  frames_until(32.0);
  SetCtrlVal(panel_, PANEL_STATUS, "EOF on input file");
  set_time(40.0);
  EXPECT_EQ(state(), "END OF INPUT");
  EXPECT_FALSE(stale_marked());
  grab("end_of_input");
}

// Ages as an operator reads them: seconds, minutes and seconds, then hours
// and minutes (the bar), and the same at the coarser steps of the overlay.
TEST(StationAges, the_last_good_frame_is_shown_in_seconds_minutes_and_hours) {
  rt::HealthBar bar;
  QWidget display, plot;
  rt::StaleMarker marker({&display}, {&plot});
  struct Case {
    double age_s;
    const char* bar;
    const char* overlay;
  };
  const Case cases[] = {
      {12.34, "last good frame 12.3 s ago", "12 s"},
      {125.0, "last good frame 2 min 5 s ago", "2 min 5 s"},
      {3599.9, "last good frame 59 min 59 s ago", "59 min 59 s"},
      {3600.0, "last good frame 60 min 0 s ago", "60 min 0 s"},
      {7384.0, "last good frame 2 h 3 min ago", "2 h 3 min"},
      {90061.0, "last good frame 25 h 1 min ago", "25 h 1 min"},
  };
  for (const Case& c : cases) {
    rt::HealthSnapshot s;
    s.state = rt::LinkState::Silent;
    s.words = "link silent";
    s.age_s = c.age_s;
    bar.draw(s);
    marker.draw(true, c.age_s);
    EXPECT_EQ(bar.widget()->findChild<QLabel*>("healthAge")->text().toStdString(), c.bar) << c.age_s;
    EXPECT_EQ(plot.findChild<QLabel*>("staleOverlay")->text().toStdString(),
              std::string("STALE: no good frame for ") + c.overlay)
        << c.age_s;
  }
}

// Live without a recording (NOT RECORDING) there is nothing to trend: a
// plot says so, not that it is "reading HK16 from the recording...".
TEST_F(HealthWindow, live_without_a_recording_a_trend_says_why_it_has_nothing) {
  open(true);
  find<QAction>("actionShowTrends")->setChecked(true);
  auto* list = find<QDockWidget>("trendsDock")->findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  const auto hk16 = list->findItems(QStringLiteral("HK16 "), Qt::MatchStartsWith);
  ASSERT_EQ(hk16.size(), 1);
  emit list->itemActivated(hk16.front());
  QCPItemText* note = nullptr;
  ASSERT_TRUE(QTest::qWaitFor([&] {
    auto* plot = find<QCustomPlot>("trendPlot");
    note = plot && plot->graphCount() == 1 ? plot->findChild<QCPItemText*>("trendNote") : nullptr;
    return note && note->visible() && !note->text().startsWith(QStringLiteral("Drop"));
  }, 10000));
  EXPECT_EQ(note->text().toStdString(), "Not recording: the trends come from the recording, so there are none.");
}

}  // namespace
