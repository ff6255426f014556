// A few hundred frames at the link's own rate, end to end: every good frame
// is shown, every tenth completed frame acknowledged, and the recording is
// what the instrument sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "live_session.h"
#include "support/frames.h"

namespace {

using namespace live_testing;
using testing_frames::FrameBuilder;

constexpr int N_FRAMES = 300;
constexpr double LINK_BYTES_PER_S = 19200.0 / 10.0;  // 8N1: ten bits a byte

// Occurrences of `needle` in the file: a cheap progress count on a large trace.
size_t count_in_file(const std::string& path, const std::string& needle) {
  const std::string text = testing_files::read_text(path);
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

TEST(LiveLinkRate, three_hundred_frames_at_19200_baud_are_all_shown_acknowledged_and_recorded) {
  std::vector<std::vector<uint8_t>> good_frames;
  std::vector<uint8_t> sent;
  int n_bad = 0;
  for (int i = 0; i < N_FRAMES; ++i) {
    FrameBuilder f;
    f.counter(static_cast<uint32_t>(i)).word(10, i).long32(6, i * 1000).spec48(i % 12, i);
    // Escapes on the link now and then: "++-" stored (sent "++-1"), "+++".
    if (i % 7 == 3) f.byte(80, 0x2B).byte(81, 0x2B).byte(82, 0x2D);
    if (i % 11 == 5) f.byte(120, 0x2B).byte(121, 0x2B).byte(122, 0x2B);
    // Every fiftieth fails its checksum; three of them are tenth frames.
    if (i % 50 == 49) {
      f.corrupt();
      ++n_bad;
    } else {
      good_frames.push_back(f.vec());
    }
    if (i % 13 == 0) testing_frames::append(sent, std::vector<uint8_t>{0x00, 0x42, 0x90});  // line noise
    testing_frames::append(sent, testing_frames::escape_for_link(f.bytes));
  }

  LiveSession s;
  ASSERT_TRUE(s.wait_for_status(STATUS_READY, 15.0))
      << "no run start; stdout: " << testing_files::read_text(s.dir().file("stdout.txt"));
  s.link().send_paced(sent, LINK_BYTES_PER_S);

  const std::string hexdump_line = "\"ctrl\":\"PANEL_HEXDUMP\"";
  size_t shown = 0;
  for (int tries = 0; tries < 120 && shown < good_frames.size(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    shown = count_in_file(s.trace_path(), hexdump_line);
  }
  ASSERT_EQ(shown, good_frames.size()) << "good frames shown within 30 s of the last byte sent";

  const std::string ack = "RCVD\r";
  s.link().collect_until(ack.size() * N_FRAMES / 10, std::chrono::seconds(5));
  std::string expected_acks;
  for (int i = 0; i < N_FRAMES / 10; ++i) expected_acks += ack;
  EXPECT_EQ(printable(s.link().received()), printable({expected_acks.begin(), expected_acks.end()}))
      << "one acknowledgement per ten completed frames";

  const std::vector<uint8_t> recorded = s.recording();  // while the program runs
  EXPECT_EQ(recorded.size(), sent.size()) << "recording length";
  EXPECT_TRUE(recorded == sent) << "recording differs from what the instrument sent";

  const auto trace = s.trace();
  std::vector<std::string> expected_dumps;
  for (const auto& frame : good_frames) expected_dumps.push_back(hex_dump(frame));
  const auto dumps = values_of(trace, "PANEL_HEXDUMP");
  ASSERT_EQ(dumps.size(), expected_dumps.size());
  for (size_t i = 0; i < dumps.size(); ++i)
    ASSERT_EQ(dumps[i], expected_dumps[i]) << "hex dump of good frame " << i;
  const auto statuses = values_of(trace, "PANEL_STATUS");
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), STATUS_CHECKSUM), n_bad)
      << "checksum failures shown";

  EXPECT_EQ(s.quit_by_signal(), 0) << "exit status after SIGTERM";
}

}  // namespace
