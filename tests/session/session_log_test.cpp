// The session log: coalesced storms, the bounded file, a file that fails.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <string>
#include <vector>

#include "session/outcome.h"
#include "session/session_log.h"
#include "support/files.h"

namespace {

using rt::LogCoalescer;
using rt::Severity;

std::vector<std::string> texts(const std::vector<LogCoalescer::Line>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(l.text);
  return out;
}

TEST(LogCoalescer, a_storm_is_logged_once_then_counted_per_window) {
  LogCoalescer c;
  const std::string checksum = "COM1 err: checksum failure";
  EXPECT_EQ(texts(c.add(Severity::Warning, checksum, 0.0)), std::vector<std::string>{checksum});
  // 36 more within the window: held back.
  for (int k = 1; k <= 36; ++k) EXPECT_TRUE(c.add(Severity::Warning, checksum, k * 0.25).empty());
  EXPECT_TRUE(c.tick(9.9).empty());
  EXPECT_EQ(texts(c.tick(10.0)), std::vector<std::string>{checksum + " \u00d737 in 9 s"});
  // Still raging: the next window, twice as long, is only counted.
  EXPECT_TRUE(c.add(Severity::Warning, checksum, 12.0).empty());
  EXPECT_TRUE(c.add(Severity::Warning, checksum, 13.0).empty());
  EXPECT_TRUE(c.tick(29.9).empty());
  EXPECT_EQ(texts(c.tick(30.0)), std::vector<std::string>{checksum + " \u00d72 in 3 s"});
  // Over: the window ends quietly, and the next one is news again.
  EXPECT_EQ(texts(c.add(Severity::Warning, checksum, 31.0)), std::vector<std::string>{checksum});
}

TEST(LogCoalescer, a_storm_that_lasts_a_shift_adds_a_few_lines_an_hour) {
  LogCoalescer c;
  const std::string timeout = "COM1 err: too few bytes read";
  size_t lines = 0;
  // One time-out every 1.05 s for eight hours.
  for (int k = 0; k < 8 * 3600 * 20 / 21; ++k) lines += c.add(Severity::Warning, timeout, k * 1.05).size();
  lines += c.flush().size();
  // Windows of 10, 20, ..., 320 s, then 600 s each: 1 + 6 + 48 lines or so.
  EXPECT_LE(lines, 60u);
  EXPECT_GE(lines, 40u);
}

TEST(LogCoalescer, different_texts_and_single_events_are_never_held) {
  LogCoalescer c;
  EXPECT_EQ(texts(c.add(Severity::Info, "a", 0.0)), std::vector<std::string>{"a"});
  EXPECT_EQ(texts(c.add(Severity::Info, "b", 0.1)), std::vector<std::string>{"b"});
  EXPECT_TRUE(c.tick(11.0).empty());  // nothing held back, nothing to count
  EXPECT_TRUE(c.add(Severity::Info, "a", 12.0).size() == 1);
  EXPECT_TRUE(c.add(Severity::Info, "a", 12.5).empty());
  EXPECT_EQ(texts(c.flush()), std::vector<std::string>{"a \u00d72 in 1 s"});
}

// Fast playback of a recording whose housekeeping jumps about logs a limit
// change with its value on nearly every frame: thousands of distinct texts a
// second. Each is logged; the watch for repeats stays bounded and keeps
// counting the storms it already watches.
TEST(LogCoalescer, a_flood_of_distinct_texts_is_all_logged_and_the_watched_storms_still_count) {
  LogCoalescer c;
  EXPECT_EQ(c.add(Severity::Warning, "storm", 0.0).size(), 1u);
  size_t logged = 0;
  for (int k = 0; k < 20000; ++k)
    logged += c.add(Severity::Error, "HK16 in alarm: " + std::to_string(k) + " degC", k * 1e-4).size();
  EXPECT_EQ(logged, 20000u);
  EXPECT_TRUE(c.add(Severity::Warning, "storm", 3.0).empty()) << "a repeat of a watched text is held";
  const std::string unwatched = "HK17 in alarm: 1 degC";
  EXPECT_EQ(c.add(Severity::Error, unwatched, 4.0).size(), 1u);
  EXPECT_EQ(c.add(Severity::Error, unwatched, 4.5).size(), 1u) << "beyond the bound, a text is logged each time";
  const auto closed = texts(c.tick(10.0));
  EXPECT_NE(std::find(closed.begin(), closed.end(), "storm \u00d72 in 3 s"), closed.end());
}

TEST(LogCoalescer, storms_due_together_close_in_the_order_of_their_texts_also_once_moved) {
  LogCoalescer c;
  for (const char* text : {"b", "c", "a"}) {
    c.add(Severity::Info, text, 0.0);
    c.add(Severity::Info, text, 1.0);
  }
  LogCoalescer moved = std::move(c);
  EXPECT_EQ(texts(moved.tick(10.0)),
            (std::vector<std::string>{"a \u00d72 in 1 s", "b \u00d72 in 1 s", "c \u00d72 in 1 s"}));
  EXPECT_TRUE(moved.add(Severity::Info, "a", 11.0).empty()) << "still raging: counted in the next window";
}

TEST(LogCoalescer, a_storm_closes_when_due_even_where_its_end_rounds_below_the_window) {
  LogCoalescer c;
  const double start = 253.0212756300929;  // (start + 10) - start is 9.99999999999997
  c.add(Severity::Warning, "x", start);
  c.add(Severity::Warning, "x", start + 1.0);
  EXPECT_EQ(texts(c.tick(start + LogCoalescer::COALESCE_S)), std::vector<std::string>{"x \u00d72 in 1 s"});
}

class SessionLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_log_for_tests();
    rt::reset_outcome_for_tests();
  }
  void TearDown() override {
    rt::reset_log_for_tests();
    rt::reset_outcome_for_tests();
  }
  testing_files::TempDir dir;
};

std::vector<std::string> file_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST_F(SessionLogFile, lines_carry_time_severity_and_text_and_the_file_rotates_at_its_bound) {
  const std::string path = dir.path() + "/session.log";
  std::string error;
  ASSERT_TRUE(rt::log_open_file(path, &error, 200)) << error;
  rt::log_warning("recording started");
  rt::log_error("port lost");
  auto lines = file_lines(path);
  ASSERT_EQ(lines.size(), 2u);
  // "YYYY-MM-DD HH:MM:SS.mmm LEVEL text"
  EXPECT_EQ(lines[0].size(), 23 + std::string(" WARN recording started").size()) << lines[0];
  EXPECT_EQ(lines[0].substr(23), " WARN recording started");
  EXPECT_EQ(lines[1].substr(23), " ERROR port lost");
  // 47 + 40 bytes so far; "entry k" lines are 37 bytes: three more fit in
  // 200, the fourth starts a new file, which then takes two more.
  for (int k = 0; k < 6; ++k) rt::log_info("entry " + std::to_string(k));
  auto texts = [](const std::string& p) {
    std::vector<std::string> out;
    for (const auto& l : file_lines(p)) out.push_back(l.substr(24));
    return out;
  };
  EXPECT_EQ(texts(path), (std::vector<std::string>{"INFO entry 3", "INFO entry 4", "INFO entry 5"}));
  EXPECT_EQ(texts(path + ".1"), (std::vector<std::string>{"WARN recording started", "ERROR port lost",
                                                          "INFO entry 0", "INFO entry 1", "INFO entry 2"}));
}

// A log appended to across runs counts what the file already holds, against
// the default bound of 16 MiB.
TEST_F(SessionLogFile, the_default_bound_is_16_mib_of_the_file_as_found) {
  const std::string path = dir.path() + "/session.log";
  testing_files::write_file(path, {});
  std::filesystem::resize_file(path, 16 * 1024 * 1024 - 40);  // sparse: instant
  std::string error;
  ASSERT_TRUE(rt::log_open_file(path, &error)) << error;
  rt::log_info("a");  // 23 + 8 bytes: still fits
  EXPECT_EQ(std::filesystem::file_size(path), 16u * 1024 * 1024 - 9);
  rt::log_info("b");  // would pass the bound: a new file
  EXPECT_EQ(std::filesystem::file_size(path + ".1"), 16u * 1024 * 1024 - 9);
  ASSERT_EQ(file_lines(path).size(), 1u);
  EXPECT_EQ(file_lines(path)[0].substr(23), " INFO b");
}

TEST_F(SessionLogFile, a_file_that_fails_is_reported_once_and_the_log_goes_on_in_memory) {
  // Its rotation cannot take the older file's name (a directory holding a
  // file): the file log ends, as it would grow past its bound otherwise.
  const std::string path = dir.path() + "/x.log";
  std::filesystem::create_directory(path + ".1");
  testing_files::write_file(path + ".1/keep", {'k'});
  std::string error;
  ASSERT_TRUE(rt::log_open_file(path, &error, 40)) << error;  // one line: the second rotates
  rt::log_info("first");
  rt::log_info("second");
  EXPECT_EQ(rt::log_file_failure().rfind("cannot rotate log file " + path + ": cannot remove " + path + ".1: ", 0), 0u)
      << rt::log_file_failure();
  EXPECT_LE(std::filesystem::file_size(path), 40u) << "no growth past the bound";
  EXPECT_EQ(rt::log_file_path(), "");
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_OUTPUT_FAILED);
  std::vector<std::string> shown;
  for (const auto& e : rt::log_entries_since(0)) shown.push_back(e.text);
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0], "first");
  EXPECT_EQ(shown[1], "second");  // the entry that would have rotated the file
  EXPECT_NE(shown[2].find("log file failed"), std::string::npos);
  rt::log_info("third");
  EXPECT_EQ(rt::log_entries_since(0).back().text, "third") << "said once; the log goes on in memory";
}

std::vector<std::string> heard;

// A listener that logs while it is told of an entry.
void hear(const rt::LogEntry& e) {
  if (e.text == "port lost") rt::log_warning("said while told");
  heard.push_back(e.text);
}

TEST_F(SessionLogFile, the_listener_hears_every_entry_and_memory_keeps_the_newest) {
  heard.clear();
  rt::log_set_listener(hear);
  rt::log_info("first");
  rt::log_error("port lost");
  rt::log_info("after");
  rt::log_set_listener(nullptr);
  EXPECT_EQ(heard, (std::vector<std::string>{"first", "said while told", "port lost", "after"}))
      << "the entry told is not disturbed by one made while it is told";
  for (size_t k = 0; k < rt::LOG_HISTORY + 2; ++k) rt::log_info("entry " + std::to_string(k));
  const std::vector<rt::LogEntry> kept = rt::log_entries_since(0);
  ASSERT_EQ(kept.size(), rt::LOG_HISTORY);
  EXPECT_EQ(kept.front().text, "entry 2");
  EXPECT_EQ(kept.back().text, "entry 5001");
  EXPECT_EQ(kept.back().serial - kept.front().serial, rt::LOG_HISTORY - 1);
  EXPECT_EQ(kept.back().time.size(), 23u) << kept.back().time;
}

TEST_F(SessionLogFile, an_unwritable_path_or_no_regular_file_is_refused_with_the_reason) {
  struct Case {
    std::string path;
    const char* reason;
  };
  std::vector<Case> cases{{dir.path() + "/no/such/dir/x.log", "No such file"}};
#if !defined(_WIN32)
  const std::string fifo = dir.path() + "/fifo.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  cases.push_back({fifo, "a FIFO is at that name, not a regular file"});  // it would wait for a reader for ever
  cases.push_back({"/dev/full", "a character device is at that name, not a regular file"});
#endif
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(rt::log_open_file(c.path, &error)) << c.path;
    EXPECT_NE(error.find(c.path), std::string::npos) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

}  // namespace
