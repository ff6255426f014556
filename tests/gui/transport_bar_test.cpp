// The playback transport on the window's toolbar in Qt's offscreen platform:
// shown only in playback, pause and speed set the transport without a panel
// event, the position bar follows the bytes read.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

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

TEST_F(WindowExtras, playback_shows_the_transport_and_live_mode_hides_it) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  struct Case {
    const char* name;
    std::string source;
    bool transport;
  };
  const Case cases[] = {{"playback", rec, true}, {"live", "", false}};
  for (const Case& c : cases) {
    auto panel = open_panel(c.source);
    ASSERT_TRUE(panel) << c.name;
    for (const char* name : {"transportPause", "saveScreenshot", "saveSpectra"})
      ASSERT_NE(panel->find<QAction>(name), nullptr) << c.name << ": " << name;
    EXPECT_EQ(panel->find<QAction>("transportPause")->isVisible(), c.transport) << c.name;
    EXPECT_EQ(panel->find<QComboBox>("transportSpeed")->isVisible(), c.transport) << c.name;
    EXPECT_EQ(panel->find<QProgressBar>("transportPosition")->isVisible(), c.transport) << c.name;
    EXPECT_TRUE(panel->find<QAction>("saveScreenshot")->isVisible()) << c.name;
    EXPECT_TRUE(panel->find<QAction>("saveSpectra")->isVisible()) << c.name;
    EXPECT_EQ(panel->find<QLabel>("notRecordingBanner")->isVisible(), !c.transport)
        << c.name << ": live mode here has no recording";
  }
}

TEST_F(WindowExtras, pause_and_speed_set_the_transport_and_raise_no_event) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QAction* pause = panel->find<QAction>("transportPause");
  pause->trigger();
  EXPECT_TRUE(rt::transport_paused());
  EXPECT_EQ(pause->text(), "Resume");
  pause->trigger();
  EXPECT_FALSE(rt::transport_paused());
  EXPECT_EQ(pause->text(), "Pause");

  QComboBox* speed = panel->find<QComboBox>("transportSpeed");
  struct Case {
    const char* label;
    double speed;
  };
  const Case cases[] = {{"2x", 2}, {"5x", 5}, {"10x", 10}, {"as fast as possible", 0}, {"1x", 1}};
  for (const Case& c : cases) {
    const int index = speed->findText(c.label);
    ASSERT_GE(index, 0) << c.label;
    speed->setCurrentIndex(index);
    EXPECT_EQ(rt::transport_speed(), c.speed) << c.label;
  }
  EXPECT_EQ(panel->model->pending_events(), 0u) << "the transport raises no panel event";
}

TEST_F(WindowExtras, a_starting_speed_off_the_list_is_offered_and_selected) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(10, 0));
  rt::transport_reset();
  rt::transport_set_speed(3.0);  // --speed 3
  rt::transport_set_source(rec);
  auto panel = std::make_unique<Panel>();
  const std::string file = testing_files::source_dir() + "/ui/gse.uir";
  rt::PanelLayout layout;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(file, PANEL, &layout, &error));
  panel->model = std::make_unique<rt::PanelModel>(std::move(layout));
  panel->window = rt::create_panel_window(*panel->model, file, &error);
  ASSERT_TRUE(panel->window) << error;
  EXPECT_EQ(panel->find<QComboBox>("transportSpeed")->currentText(), "3x");
  EXPECT_EQ(rt::transport_speed(), 3.0);
}

TEST_F(WindowExtras, the_position_bar_follows_the_bytes_consumed) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(2000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QProgressBar* bar = panel->find<QProgressBar>("transportPosition");
  rt::transport_input_at(500);  // the input stream's position
  panel->refresh();
  EXPECT_EQ(bar->value(), bar->maximum() * 500 / 2000);
  EXPECT_NE(bar->text().indexOf("500 of 2,000 bytes"), -1) << bar->text().toStdString();
  rt::transport_input_at(2000);  // the reader's last short read takes the rest
  rt::transport_end_of_input();
  panel->refresh();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_NE(bar->text().indexOf("100.0 %"), -1) << bar->text().toStdString();
}

TEST_F(WindowExtras, the_position_bar_counts_bytes_of_a_pipe_until_its_end_gives_the_size) {
  auto panel = open_panel("-");
  ASSERT_TRUE(panel);
  QProgressBar* bar = panel->find<QProgressBar>("transportPosition");
  rt::transport_input_opened(0);  // standard input: size not known
  rt::transport_input_at(700);
  panel->refresh();
  EXPECT_NE(bar->text().indexOf("700 bytes (size not known)"), -1) << bar->text().toStdString();
  rt::transport_end_of_input();
  panel->refresh();
  EXPECT_NE(bar->text().indexOf("700 of 700 bytes (100.0 %)"), -1) << bar->text().toStdString();
  EXPECT_EQ(bar->value(), bar->maximum());
}

}  // namespace
