// The features that follow the frame passes (runtime/hooks.h): each hears
// every pass once, in the order added; and the export of input that cannot
// be read again takes its frames from what the panel shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export/export_job.h"
#include "link/frame.h"
#include "runtime/hooks.h"
#include "runtime/testing.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/frames.h"
#include "ui/panel.h"

namespace {

// Observers live as long as the program; they note what they hear only
// while this test listens.
struct Listener : rt::FrameObserver {
  static inline bool listening = false;
  static inline std::vector<std::string> heard;
  explicit Listener(const char* n) : name(n) {}
  void panel_loaded(const rt::PanelModel&) override { note("panel"); }
  void good_frame(const rt::PanelModel&) override { note("good"); }
  void failed_frame(std::string_view status) override { note(std::string(status)); }
  void note(const std::string& what) {
    if (listening) heard.push_back(name + " " + what);
  }
  std::string name;
};

TEST(Hooks, each_observer_hears_every_frame_pass_once_in_the_order_added) {
  static Listener a("a"), b("b");
  rt::add_frame_observer(&a);
  rt::add_frame_observer(&b);
  rt::add_frame_observer(&a);  // added once only
  rt::add_frame_observer(nullptr);
  rt::reset_ui_for_tests();
  Listener::listening = true;
  const int panel = LoadPanel(0, "gse.uir", PANEL);
  ASSERT_GT(panel, 0) << PanelErrorText();
  SetCtrlVal(panel, PANEL_STATUS, " ");
  SetCtrlVal(panel, PANEL_STATUS, "COM1 err: checksum failure");
  SetCtrlVal(panel, PANEL_SKIPPED, 3);  // not a pass
  Listener::listening = false;
  EXPECT_EQ(Listener::heard, (std::vector<std::string>{"a panel", "b panel", "a good", "b good",
                                                       "a COM1 err: checksum failure",
                                                       "b COM1 err: checksum failure"}));
  rt::reset_ui_for_tests();
}

// Live, the frame is the one the hex dump shows and the skipped count the
// one beside it; a failure is a row of its own.
TEST(Hooks, the_live_export_rows_are_the_frames_the_panel_shows) {
  testing_files::TempDir dir;
  rt::ExportOptions options;
  options.frames_path = dir.file("live.csv");
  options.failures = true;
  options.hex = true;
  std::string error;
  ASSERT_TRUE(rt::live_export_open(options, &error)) << error;
  rt::reset_ui_for_tests();
  const int panel = LoadPanel(0, "gse.uir", PANEL);
  ASSERT_GT(panel, 0) << PanelErrorText();
  // Every hex digit, both cases of the dump's letters read.
  const auto frame = testing_frames::FrameBuilder().counter(0x1ABCD).word(OFF_W10, 0x0FED).vec();
  std::string dump = testing_frames::hex_dump(frame);
  const size_t letter = dump.find("AB");
  dump[letter] = 'a';
  SetCtrlVal(panel, PANEL_HEXDUMP, dump.c_str());
  SetCtrlVal(panel, PANEL_SKIPPED, 12);
  SetCtrlVal(panel, PANEL_STATUS, " ");
  SetCtrlVal(panel, PANEL_STATUS, "COM1 err: illegal ++- sequence");
  SetCtrlVal(panel, PANEL_HEXDUMP, "EB90");  // no whole frame: no row
  SetCtrlVal(panel, PANEL_STATUS, " ");
  rt::reset_ui_for_tests();
  ASSERT_TRUE(rt::live_export_close(&error)) << error;
  const std::string csv = testing_files::read_text(options.frames_path);
  const std::string hex = testing_frames::hex(frame);
  EXPECT_NE(csv.find("\n1,,ok,12,109517,"), std::string::npos) << csv.substr(0, 400);
  EXPECT_NE(csv.find("," + hex + "\n"), std::string::npos) << "the frame's own bytes";
  EXPECT_NE(csv.find("\n,,illegal_escape,"), std::string::npos) << csv;
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3) << "header, frame, failure:\n" << csv;
}

}  // namespace
