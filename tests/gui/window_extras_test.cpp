// The whole window with its toolbar and status bar, grabbed in Qt's
// offscreen platform for a person to look at. The pieces around the panel
// have their own tests: transport_bar_test.cpp, recording_status_test.cpp,
// save_actions_test.cpp.
#include <QAction>
#include <QApplication>
#include <QImage>

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

// Pictures for a person to look at: the whole window with its toolbar and
// status bar, in paused playback and in live mode without a recording
// (bin/window_extras_playback.png, bin/window_extras_live.png).
TEST_F(WindowExtras, grabs_the_whole_window_with_its_bars) {
  const std::string rec = dir_.file("demo.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(36000, 0));
  struct Case {
    const char* name;
    std::string source;
  };
  const Case cases[] = {{"playback", rec}, {"live", ""}};
  for (const Case& c : cases) {
    auto panel = open_panel(c.source);
    ASSERT_TRUE(panel) << c.name;
    panel->model->set_text(PANEL_STATUS, " ");
    if (!c.source.empty()) {
      rt::transport_input_at(60 * 237);
      panel->find<QAction>("transportPause")->trigger();
      rt::transport_post_message("Screenshot saved to /home/op/vst_gse-20240501-101500.png");
    }
    panel->refresh();
    const QImage image = panel->top()->grab().toImage();
    EXPECT_LE(image.height(), 950) << c.name;
    const std::string out = testing_files::bin_dir() + "/window_extras_" + c.name + ".png";
    EXPECT_TRUE(image.save(QString::fromStdString(out))) << out;
  }
}

}  // namespace
