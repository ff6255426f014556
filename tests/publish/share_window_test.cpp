// The window's part in sharing, in the real window (Qt's offscreen
// platform) against a real broker: File > Publish to broker... and the
// Publishing indicator; a remote view's read-only panel and the station's
// health on its health bar.
#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "extras/window_fixture.h"
#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "publish/messages.h"
#include "publish/publisher.h"
#include "publish/viewer.h"
#include "support/broker.h"
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

TEST_F(WindowExtras, publish_to_broker_starts_publishing_remembers_it_and_stop_ends_it) {
  testing_broker::Broker broker(dir_.path());
  const std::string url = broker.url("gse");
  testing_files::write_file(dir_.file("rec.dat"), std::vector<uint8_t>(400, 0));
  auto panel = open_panel(dir_.file("rec.dat"));
  ASSERT_TRUE(panel);
  EXPECT_EQ(shown(*panel, "healthShare"), QString()) << "no indicator while not publishing";
  std::string asked;
  rt::set_dialog_answerer([&](QDialog* d) {
    asked = d->objectName().toStdString();
    d->findChild<QLineEdit*>("publishUrl")->setText(QString::fromStdString(url));
    return true;
  });
  panel->find<QAction>("actionPublish")->trigger();
  rt::set_dialog_answerer(nullptr);
  EXPECT_EQ(asked, "publishDialog");
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare").startsWith("PUBLISHING"); }))
      << shown(*panel, "healthShare").toStdString();
  EXPECT_EQ(rt::window_settings()->value("publish/url").toString().toStdString(), url);
  EXPECT_TRUE(rt::window_settings()->value("publish/on").toBool());
  ASSERT_TRUE(panel->find<QAction>("actionStopPublishing")->isEnabled());
  panel->find<QAction>("actionStopPublishing")->trigger();
  EXPECT_EQ(rt::publish_state().phase, rt::PublishState::Phase::Off);
  EXPECT_FALSE(rt::window_settings()->value("publish/on").toBool());
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare").isEmpty(); }));
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
  EXPECT_TRUE(wait_for(*panel, [&] { return shown(*panel, "healthShare") == "REMOTE VIEW \u00b7 WAITING"; }))
      << shown(*panel, "healthShare").toStdString();

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
  EXPECT_EQ(shown(*panel, "healthShare"), "REMOTE VIEW \u00b7 LIVE");
  EXPECT_TRUE(shown(*panel, "healthReason").startsWith("checksum failure"));
  panel.reset();
  rt::viewer_stop();
}

}  // namespace
