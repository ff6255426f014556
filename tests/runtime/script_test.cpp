// Scripted operator input: parsing, checking against the panel, and when
// each event is raised.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ui/panel.h"
#include "runtime/context.h"
#include "runtime/model.h"
#include "session/outcome.h"
#include "runtime/panel_file.h"
#include "runtime/script.h"
#include "runtime/testing.h"
#include "runtime/ui.h"

namespace {

rt::PanelLayout real_panel() {
  rt::PanelLayout layout;
  std::string error;
  EXPECT_TRUE(rt::read_panel_file(rt::find_panel_file("gse.uir"), 1, &layout, &error)) << error;
  return layout;
}

bool check(const std::string& text, std::vector<rt::ScriptEvent>* events, std::string* error) {
  return rt::parse_event_text(text, "ev.txt", events, error) &&
         rt::check_event_script(events, real_panel(), "ev.txt", error);
}

TEST(EventScript, reads_counts_names_and_values_of_each_type) {
  std::vector<rt::ScriptEvent> ev;
  std::string error;
  ASSERT_TRUE(check("# comment\n"
                    "\n"
                    "0 PANEL_COUNT -2147483648\n"
                    "  3 PANEL_YMIN 1e-4   # a comment after a number\n"
                    "3 PANEL_QUIT\n"
                    "7 PANEL_STATUS a text, with # and commas\r\n"
                    "9 PANEL_ACCUM 0\n"
                    "4294967296 PANEL_CLEAR\n",
                    &ev, &error))
      << error;
  ASSERT_EQ(ev.size(), 6u);
  EXPECT_EQ(ev[0].id, PANEL_COUNT);
  EXPECT_EQ(ev[0].value, "-2147483648");
  EXPECT_EQ(ev[1].after_passes, 3);
  EXPECT_EQ(ev[1].value, "1e-4");
  EXPECT_FALSE(ev[2].has_value);
  EXPECT_EQ(ev[3].value, "a text, with # and commas");
  EXPECT_EQ(ev[3].line, 6);
  EXPECT_EQ(ev[4].id, PANEL_ACCUM);
  EXPECT_EQ(ev[5].after_passes, 4294967296LL) << "a count beyond 32 bits, wherever long is 32 bits";
}

TEST(EventScript, refuses_bad_lines_naming_the_line) {
  struct Case {
    std::string text;
    const char* message;
  } cases[] = {
      {"0 PANEL_COUNT 1\nx PANEL_QUIT\n", "ev.txt:2: expected a frame-pass count"},
      {"-1 PANEL_QUIT\n", "ev.txt:1: expected a frame-pass count"},
      {"5\n", "ev.txt:1: expected a control name"},
      {"\n\n0 PANEL_NOPE\n", "ev.txt:3: unknown control PANEL_NOPE"},
      {"9 PANEL_NOPE\n0 PANEL_QUIT 1\n", "ev.txt:1: unknown control PANEL_NOPE"},  // the first in the file
      {"0 PANEL_COUNT 1.5\n", "ev.txt:1: PANEL_COUNT takes a 32-bit integer"},
      {"0 PANEL_COUNT 2147483648\n", "ev.txt:1: PANEL_COUNT takes a 32-bit integer"},
      {"0 PANEL_YMAX ten\n", "ev.txt:1: PANEL_YMAX takes a decimal number"},
      {"0 PANEL_YMAX inf\n", "ev.txt:1: PANEL_YMAX takes a decimal number"},
      {"0 PANEL_YMAX nan\n", "ev.txt:1: PANEL_YMAX takes a decimal number"},
      {"0 PANEL_YMAX 1e999\n", "ev.txt:1: PANEL_YMAX takes a decimal number"},
      {"0 PANEL_YMIN -1e39\n", "ev.txt:1: PANEL_YMIN takes a decimal number"},
      {"0 PANEL_F12 inf\n", "ev.txt:1: PANEL_F12 takes a decimal number"},
      {"0 PANEL_F12 nan\n", "ev.txt:1: PANEL_F12 takes a decimal number"},
      {"0 PANEL_F12 -1e999\n", "ev.txt:1: PANEL_F12 takes a decimal number"},
      {"0 PANEL_QUIT 1\n", "ev.txt:1: PANEL_QUIT (command button) takes no value"},
      {"0 PANEL_SPEC48 1\n", "ev.txt:1: PANEL_SPEC48 (XY graph) takes no value"},
      {"0 PANEL_STATUS " + std::string(5000, 'x') + "\n", "ev.txt:1: line longer than 4096 bytes"},
  };
  for (const auto& c : cases) {
    std::vector<rt::ScriptEvent> ev;
    std::string error;
    EXPECT_FALSE(check(c.text, &ev, &error)) << c.text;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "for \"" << c.text << "\" got: " << error;
  }
}

TEST(EventScript, events_wait_for_their_frame_pass_in_order_of_count_and_come_one_per_poll) {
  rt::reset_ui_for_tests();
  std::vector<rt::ScriptEvent> ev;
  std::string error;
  // Out of order in the file: the count decides, lines of one count keep
  // their file order.
  ASSERT_TRUE(check("2 PANEL_COUNT 5\n2 PANEL_CLEAR\n0 PANEL_XLOG 1\n1 PANEL_YLOG 1\n2 PANEL_ACCUM 0\n", &ev, &error))
      << error;
  rt::set_event_script(ev);
  int panel = LoadPanel(0, "gse.uir", PANEL);
  ASSERT_GT(panel, 0);
  int p = 0, c = 0;
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_XLOG) << "line 3 (n = 0) is not held back by line 1 (n = 2)";
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);  // frame pass 1
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_YLOG);
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);  // frame pass 2
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_COUNT);
  int count = 0;
  rt::current_model()->get_int(PANEL_COUNT, &count);
  EXPECT_EQ(count, 5) << "the value is in the control before the event is handed over";
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_CLEAR);
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_ACCUM);
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);
  rt::reset_ui_for_tests();
}

TEST(EventScript, headless_playback_quits_once_input_ended_and_the_script_is_done) {
  rt::reset_ui_for_tests();
  std::vector<rt::ScriptEvent> ev;
  std::string error;
  ASSERT_TRUE(check("3 PANEL_CLEAR\n", &ev, &error)) << error;
  rt::set_event_script(ev);
  rt::set_quit_at_end_of_input(true);
  int panel = LoadPanel(0, "gse.uir", PANEL);
  int p = 0, c = 0;
  SetCtrlVal(panel, PANEL_STATUS, "EOF on input file");
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0) << "the scripted event is still to come";
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0);
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_CLEAR);
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_QUIT);
  rt::reset_ui_for_tests();
}

TEST(EventScript, events_left_ten_passes_after_the_end_of_headless_playback_give_way_to_a_quit) {
  rt::reset_ui_for_tests();
  rt::reset_outcome_for_tests();
  std::vector<rt::ScriptEvent> ev;
  std::string error;
  ASSERT_TRUE(check("2147483648 PANEL_CLEAR\n", &ev, &error)) << error;
  rt::set_event_script(ev, "ev.txt");
  rt::set_quit_at_end_of_input(true);
  int panel = LoadPanel(0, "gse.uir", PANEL);
  int p = 0, c = 0;
  SetCtrlVal(panel, PANEL_STATUS, "EOF on input file");
  for (int pass = 1; pass <= 10; ++pass) EXPECT_EQ(GetUserEvent(0, &p, &c), 0) << "pass " << pass;
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_QUIT);
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_SCRIPT_UNFINISHED);
  rt::reset_outcome_for_tests();
  rt::reset_ui_for_tests();
}

TEST(EventScript, a_quit_ends_a_playback_wait_at_once) {
  rt::reset_ui_for_tests();
  rt::set_speed(1.0);
  LoadPanel(0, "gse.uir", PANEL);
  rt::request_quit();
  const auto start = std::chrono::steady_clock::now();
  Delay(600.0);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0);
  rt::reset_ui_for_tests();
}

TEST(EventScript, a_quit_request_becomes_the_quit_button) {
  rt::reset_ui_for_tests();
  LoadPanel(0, "gse.uir", PANEL);
  rt::request_quit();
  int p = 0, c = 0;
  ASSERT_EQ(GetUserEvent(0, &p, &c), 1);
  EXPECT_EQ(c, PANEL_QUIT);
  EXPECT_EQ(GetUserEvent(0, &p, &c), 0) << "one request, one event";
  rt::reset_ui_for_tests();
}

}  // namespace
