// The window's part in sharing, in the real window (Qt's offscreen
// platform) against a real broker: File > Publish to broker... and the
// Publishing indicator; a remote view's read-only panel and the station's
// health on its health bar.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "gui/window_fixture.h"
#include "gui/trends/remote_source.h"
#include "history/reception.h"
#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "publish/messages.h"
#include "publish/publisher.h"
#include "publish/viewer.h"
#include "support/broker.h"
#include "support/frames.h"
#include "support/process.h"

namespace {

using testing_extras::open_panel;
using testing_extras::WindowExtras;

bool wait_for(const testing_extras::Panel& panel, const std::function<bool()>& done) {
  return testing_process::wait_until(20, [&] {
    panel.refresh();
    return done();
  });
}

QString shown(const testing_extras::Panel& panel, const char* label) {
  auto* l = panel.find<QLabel>(label);
  return l && l->isVisible() ? l->text() : QString();
}

// The retained status the broker holds for `prefix`.
std::string retained_status(const testing_broker::Broker& broker, const std::string& dir) {
  return testing_process::run("/usr/bin/mosquitto_sub",
                              {"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "mqttv5", "-t",
                               "gse/status", "-C", "1", "-W", "10"},
                              dir, 20)
      .out;
}

TEST_F(WindowExtras, publishing_starts_only_when_asked_a_bad_address_keeps_the_dialog_and_stop_says_so) {
  testing_broker::Broker broker(dir_.path());
  const std::string url = broker.url("gse");
  testing_files::write_file(dir_.file("rec.dat"), std::vector<uint8_t>(400, 0));
  // Left publishing by an earlier session: offered, never used by itself.
  rt::window_settings()->clear();
  rt::window_settings()->setValue("publish/url", QString::fromStdString(url));
  rt::window_settings()->setValue("publish/on", true);
  auto panel = open_panel(dir_.file("rec.dat"), /*keep_settings=*/true);
  ASSERT_TRUE(panel);
  EXPECT_EQ(rt::publish_state().phase, rt::PublishState::Phase::Off);
  EXPECT_EQ(shown(*panel, "healthShare"), QString()) << "no indicator while not publishing";
  std::vector<std::string> offered, reasons;
  rt::set_dialog_answerer([&](QDialog* d) {
    auto* field = d->findChild<QLineEdit*>("publishUrl");
    offered.push_back(field->text().toStdString());
    auto* error = d->findChild<QLabel*>("publishError");
    reasons.push_back(error && !error->isHidden() ? error->text().toStdString() : "");
    // First an address without its prefix, then the right one.
    field->setText(QString::fromStdString(offered.size() == 1 ? "mqtt://127.0.0.1:" + std::to_string(broker.port())
                                                               : url));
    return true;
  });
  panel->find<QAction>("actionPublish")->trigger();
  rt::set_dialog_answerer(nullptr);
  ASSERT_EQ(offered.size(), 2u) << "asked again after the bad address";
  EXPECT_EQ(offered[0], url) << "the broker chosen last is offered";
  EXPECT_EQ(reasons[0], "");
  EXPECT_NE(reasons[1].find("Cannot publish: no topic prefix"), std::string::npos) << reasons[1];
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare").startsWith("PUBLISHING"); }))
      << shown(*panel, "healthShare").toStdString();
  EXPECT_EQ(rt::window_settings()->value("publish/url").toString().toStdString(), url);
  EXPECT_NE(retained_status(broker, dir_.path()).find(R"("state":"online")"), std::string::npos);

  ASSERT_TRUE(panel->find<QAction>("actionStopPublishing")->isEnabled());
  panel->find<QAction>("actionStopPublishing")->trigger();
  EXPECT_EQ(rt::publish_state().phase, rt::PublishState::Phase::Off);
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare").isEmpty(); }));
  std::string status;
  EXPECT_TRUE(testing_process::wait_until(20, [&] {
    status = retained_status(broker, dir_.path());
    return status.find(R"("reason":"publishing stopped")") != std::string::npos;
  })) << status;
  rt::publish_stop();
}

TEST_F(WindowExtras, a_remote_view_is_read_only_and_shows_the_station_health) {
  testing_broker::Broker broker(dir_.path());
  rt::ViewerSettings settings;
  std::string why;
  ASSERT_TRUE(rt::parse_broker_url(broker.url("gse"), &settings.address, &why)) << why;
  ASSERT_TRUE(rt::viewer_start(settings, &why)) << why;
  auto panel = open_panel(rt::viewer_input_name());
  ASSERT_TRUE(panel);
  EXPECT_FALSE(panel->find<QAbstractButton>("PANEL_CMD")->isEnabled()) << "the Command switch is off limits";
  EXPECT_FALSE(panel->find<QAction>("actionPublish")->isEnabled()) << "a viewer does not publish";
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare") == "REMOTE VIEW OF gse \u00b7 WAITING"; }))
      << shown(*panel, "healthShare").toStdString();
  // Its own mode: named so, and no transport of a playback.
  EXPECT_EQ(panel->top()->windowTitle().toStdString(),
            "vst_gse - remote view of gse at 127.0.0.1:" + std::to_string(broker.port()));
  for (const char* name : {"transportPause", "actionStepForward", "transportRestart"})
    EXPECT_FALSE(panel->find<QAction>(name)->isVisible() || panel->find<QAction>(name)->isEnabled()) << name;
  EXPECT_FALSE(panel->find<QAction>("actionOpenRecording")->isEnabled());
  EXPECT_EQ(panel->top()->findChild<QMenu*>("playbackMenu"), nullptr);
  EXPECT_EQ(shown(*panel, "healthRates"), QString()) << "nothing heard: no figures";

  // The station says it is live and its link degraded.
  rt::HealthSnapshot h;
  h.state = rt::LinkState::Degraded;
  h.words = "degraded";
  h.reason = "checksum failure";
  h.fault_age_s = 2.0;
  const rt::StationInfo station{"00000000000000aa", "0.1.0", "live", "/dev/ttyUSB0"};
  std::ofstream(dir_.file("status.json")) << rt::status_json(true, station, 1, "");
  std::ofstream(dir_.file("health.json")) << rt::health_json(h, station, 1, 0);
  ASSERT_EQ(testing_broker::publish(broker, "gse/status", dir_.file("status.json"), dir_.path()), 0);
  ASSERT_EQ(testing_broker::publish(broker, "gse/health", dir_.file("health.json"), dir_.path()), 0);
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthState") == "DEGRADED"; }))
      << shown(*panel, "healthState").toStdString();
  EXPECT_EQ(shown(*panel, "healthShare"), "REMOTE VIEW OF gse \u00b7 LIVE");
  EXPECT_TRUE(shown(*panel, "healthReason").startsWith("checksum failure"));

  // The station's alarm list, as it is: read-only here.
  rt::PublishedAlarms list;
  list.station = station;
  list.unacknowledged = 1;
  rt::PublishedAlarm hk;
  hk.id = 7;
  hk.source = "limit";
  hk.key = "HK16";
  hk.what = "HK16 out of limits";
  hk.severity = "alarm";
  hk.active = true;
  hk.now = "alarm: 87.50 \u00b0C";
  hk.occurrences = 2;
  hk.worst_value = "87.50 \u00b0C";
  hk.worst_limit = "above the alarm limit 70.00 \u00b0C";
  list.alarms = {hk};
  std::ofstream(dir_.file("alarms.json")) << rt::alarms_json(list);
  ASSERT_EQ(testing_broker::publish(broker, "gse/alarms", dir_.file("alarms.json"), dir_.path()), 0);
  auto* table = panel->find<QTableWidget>("alarmTable");
  EXPECT_TRUE(wait_for(*panel, [&] { return table->rowCount() == 1; }));
  EXPECT_EQ(table->item(0, 2)->text(), "HK16 out of limits");
  EXPECT_EQ(panel->find<QAbstractButton>("healthAlarms")->text(), "1 ALARM");
  EXPECT_TRUE(panel->find<QAbstractButton>("acknowledgeAlarm")->isHidden()) << "acknowledged at the station";
  EXPECT_FALSE(panel->find<QAction>("actionAcknowledgeAll")->isEnabled());
  panel.reset();
  rt::viewer_stop();
}

// The trends of a remote view: the frames received, never the broker's
// address read as a file; with --record, that file from where this run
// began to append.
TEST_F(WindowExtras, a_remote_view_trends_what_it_received_with_or_without_a_recording) {
  testing_broker::Broker broker(dir_.path());
  // Frames of an earlier run in the recording: not this run's, not trended.
  std::vector<uint8_t> earlier;
  for (uint32_t n = 100; n < 103; ++n) testing_frames::append(earlier, testing_frames::good(n).bytes);
  testing_files::write_file(dir_.file("seen.dat"), earlier);
  for (const bool recording : {false, true}) {
    SCOPED_TRACE(recording ? "with --record" : "without");
    rt::reception_clock().reset();
    rt::install_remote_view_trends(recording);
    rt::ViewerSettings settings;
    std::string why;
    ASSERT_TRUE(rt::parse_broker_url(broker.url("gse"), &settings.address, &why)) << why;
    if (recording) settings.record_path = dir_.file("seen.dat");
    ASSERT_TRUE(rt::viewer_start(settings, &why)) << why;
    auto panel = open_panel(rt::viewer_input_name());
    ASSERT_TRUE(panel);
    panel->find<QAction>("actionShowTrends")->trigger();
    for (uint32_t seq = 1; seq <= 5; ++seq) {
      std::ofstream(dir_.file("frame.json"))
          << R"({"session":"00000000000000bb","seq":)" << seq << R"(,"time_ms":1714564800000,"skipped":0,"frame":")"
          << testing_frames::hex(testing_frames::good(seq).vec()) << "\"}";
      ASSERT_EQ(testing_broker::publish(broker, "gse/frame", dir_.file("frame.json"), dir_.path()), 0);
    }
    const auto status = [&] { return shown(*panel, "trendStatus"); };
    const QString expected = recording ? "5 frames of seen.dat" : "5 frames received, kept in memory (the last 131072";
    EXPECT_TRUE(wait_for(*panel, [&] { return status().startsWith(expected); })) << status().toStdString();
    EXPECT_FALSE(status().contains("mqtt://")) << status().toStdString();
    EXPECT_TRUE(panel->find<QCheckBox>("trendFollow")->isChecked()) << "the frames come as the station sends them";
    panel.reset();
    rt::viewer_stop();
  }
  rt::viewer_set_frame_listener(nullptr);
  rt::reception_clock().set_tail_frames(rt::ReceptionClock::TAIL_FRAMES);
}

}  // namespace
