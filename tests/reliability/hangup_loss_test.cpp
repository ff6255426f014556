// Loss on the live link: every byte the station took off the device reaches
// the recording, also when the device hangs up under a write; at a quit, no
// more than a frame's worth of what it had read ahead is dropped.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>

#include "station.h"

namespace {

using reliability::Station;
using reliability::StreamSender;

constexpr double START_S = 15.0;  // generous: start-up on a loaded machine
constexpr size_t FRAME_LEN = 200;

bool is_prefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(HangUpLoss, bytes_read_ahead_before_a_hang_up_during_an_ack_are_all_recorded) {
  Station s;
  ASSERT_TRUE(s.wait_for_status(reliability::STATUS_READY, START_S));
  // The instrument stops taking the station's output, so the acknowledgement
  // of the 10th frame waits to leave; meanwhile the station reads on.
  s.side().hold_output(true);
  std::vector<uint8_t> sent = reliability::link_frames(10, 1);
  const std::vector<uint8_t> next = reliability::link_frames(1, 11);
  sent.insert(sent.end(), next.begin(), next.begin() + 150);  // part of an 11th frame
  s.link().send(sent);

  ASSERT_TRUE(s.wait_for_lines(1, "ComWrt", "", 30.0)) << "no acknowledgement after 10 frames";
  ASSERT_TRUE(testing_process::wait_until(10.0, [&] { return s.side().unread() == 0; }))
      << "the station did not take every byte off the device";
  // Everything sent is now the station's: the hang-up may lose none of it.
  s.link().hang_up();

  testing_process::wait_until(10.0, [&] { return s.recording().size() >= sent.size(); });
  int status = -1;
  EXPECT_GE(s.quit_by(SIGTERM, 10.0, &status), 0.0) << "no exit after SIGTERM";
  EXPECT_EQ(status, 0);
  const std::vector<uint8_t> recorded = s.recording();
  EXPECT_EQ(recorded.size(), sent.size()) << "bytes in the recording, of those the station read";
  EXPECT_TRUE(is_prefix(recorded, sent)) << "the recording is not what was sent";
}

TEST(HangUpLoss, a_quit_at_full_rate_drops_at_most_a_frame_of_what_the_station_read_ahead) {
  Station s;
  ASSERT_TRUE(s.wait_for_status(reliability::STATUS_READY, START_S));
  StreamSender sender(s.link(), reliability::link_frames(64, 1), 0.0);
  ASSERT_TRUE(s.wait_for_lines(50, "SetCtrlVal", "PANEL_HEXDUMP", 30.0)) << "frames not shown";
  int status = -1;
  EXPECT_GE(s.quit_by(SIGTERM, 10.0, &status), 0.0) << "no exit after SIGTERM";
  EXPECT_EQ(status, 0);
  sender.stop();

  // What the station never took off the device may be dropped; of what it
  // took, all but at most a frame's worth is in the recording.
  const std::vector<uint8_t> sent = sender.sent();
  const size_t never_taken = s.side().drain(0.5);
  ASSERT_LE(never_taken, sent.size());
  const size_t taken = sent.size() - never_taken;
  const std::vector<uint8_t> recorded = s.recording();
  EXPECT_TRUE(is_prefix(recorded, sent)) << "the recording is not what was sent";
  ASSERT_LE(recorded.size(), taken) << "recorded more than the station took";
  EXPECT_LE(taken - recorded.size(), FRAME_LEN)
      << "bytes the station took off the device but dropped at the quit (sent " << sent.size()
      << ", never taken " << never_taken << ", recorded " << recorded.size() << ")";
}

}  // namespace
