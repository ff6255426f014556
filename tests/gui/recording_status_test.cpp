// The recording state in the window's status bar and toolbar, in Qt's
// offscreen platform: the recording growing, or NOT RECORDING in red.
#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "gui/window_fixture.h"
#include "gui/window.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

using testing_extras::open_panel;
using testing_extras::Panel;
using testing_extras::WindowExtras;

TEST_F(WindowExtras, live_mode_shows_the_recording_growing_or_not_recording) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  QLabel* label = panel->find<QLabel>("recordingStatus");
  ASSERT_NE(label, nullptr);
  EXPECT_NE(label->text().indexOf("NOT RECORDING"), -1) << label->text().toStdString();
  EXPECT_NE(label->styleSheet().indexOf("#c00000"), -1) << "in red";
  EXPECT_TRUE(label->isVisible());
  QLabel* banner = panel->find<QLabel>("notRecordingBanner");
  ASSERT_NE(banner, nullptr);
  EXPECT_TRUE(banner->isVisible()) << "a banner across the toolbar too";

  const std::string rec = "4123456.dat";  // relative, as the program names it
  testing_files::write_file(dir_.file(rec), std::vector<uint8_t>(1234, 0));
  rt::transport_set_recording(rec);  // what SetPanelAttribute passes on
  for (int i = 0; i < 20; ++i) panel->refresh();
  EXPECT_EQ(label->text().toStdString(), "Recording 4123456.dat: 1,234 bytes");
  EXPECT_EQ(label->styleSheet().indexOf("#c00000"), -1);
  EXPECT_FALSE(banner->isVisible());
  {
    std::ofstream grow(dir_.file(rec), std::ios::app | std::ios::binary);
    grow << std::string(1000, 'x');
  }
  for (int i = 0; i < 20; ++i) panel->refresh();
  EXPECT_EQ(label->text().toStdString(), "Recording 4123456.dat: 2,234 bytes") << "it grows visibly";
}

TEST_F(WindowExtras, live_mode_shows_why_it_is_not_recording_and_the_bytes_missing) {
  const std::string rec = "4123456.dat";
  testing_files::write_file(dir_.file(rec), std::vector<uint8_t>(1000, 0));
  struct Case {
    const char* name;
    std::string path, failure;
    int64_t missing;
    std::string label;  // the status bar's text
    bool banner;
  };
  const Case cases[] = {
      {"cannot be created", "", "cannot create recording file 4123456.dat: Is a directory", 0,
       "NOT RECORDING: cannot create recording file 4123456.dat: Is a directory", true},
      {"disk full", rec, "cannot write 4123456.dat: No space left on device", 0,
       "NOT RECORDING: cannot write 4123456.dat: No space left on device", true},
      {"written again after a loss", rec, "", 1234, "Recording 4123456.dat: 1,000 bytes (1,234 bytes missing)",
       false},
  };
  for (const Case& c : cases) {
    auto panel = open_panel("");
    ASSERT_TRUE(panel) << c.name;
    rt::transport_set_recording(c.path);
    rt::transport_set_recording_failure(c.failure);
    rt::transport_set_recording_missing(c.missing);
    for (int i = 0; i < 20; ++i) panel->refresh();
    QLabel* label = panel->find<QLabel>("recordingStatus");
    QLabel* banner = panel->find<QLabel>("notRecordingBanner");
    EXPECT_EQ(label->text().toStdString(), c.label) << c.name;
    EXPECT_EQ(banner->isVisible(), c.banner) << c.name;
    if (c.banner) {
      EXPECT_EQ(banner->text().toStdString(), c.label) << c.name << ": the banner gives the reason too";
    }
  }
}

}  // namespace
