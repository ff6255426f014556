// The link replay's port behind the serial calls: a recording file comes
// out of ComRdByte at the link's pace, the run start's drain finds the link
// silent, the end of the file is a silent link, and nothing is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "runtime/com_port.h"
#include "runtime/context.h"
#include "runtime/hooks.h"
#include "replay/link_replay_port.h"
#include "runtime/serial.h"
#include "session/session_log.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"

namespace {

using Clock = std::chrono::steady_clock;

class LinkReplayPort : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::reset_serial_for_tests();
    rt::reset_log_for_tests();
    port_ = rt::make_link_replay_port();
    rt::set_com_port(port_);
  }
  void TearDown() override {
    CloseCom(1);
    rt::reset_serial_for_tests();
    rt::reset_ui_for_tests();
    rt::reset_log_for_tests();
  }
  // Opens the port on a file of `bytes`.
  int open(const std::vector<uint8_t>& bytes) {
    const std::string path = dir_.file("live.dat");
    testing_files::write_file(path, bytes);
    rt::set_com_path(path);
    return OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0);
  }
  // From a silent read on (the link's clock starts again after it), the
  // time to read n bytes.
  double seconds_to_read(int n) {
    const auto t0 = Clock::now();
    SetComTime(1, 0.05);
    EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT);
    SetComTime(1, 1.05);
    for (int i = 0; i < n; ++i) EXPECT_GE(ComRdByte(1), 0) << "byte " << i;
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }
  testing_files::TempDir dir_;
  std::shared_ptr<rt::ComPort> port_;
};

TEST_F(LinkReplayPort, gives_the_file_to_receiving_reads_and_nothing_to_the_drain) {
  rt::set_speed(0);
  ASSERT_EQ(open({0xEB, 0x90, 0x2B, 0x2B, 0x2D, 0x31, 7}), 0) << ComErrorText();
  SetComTime(1, 0.05);  // the run start's drain
  EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT) << "the recording holds nothing a drain threw away";
  EXPECT_EQ(rt::transport_position().bytes, 0);
  SetComTime(1, 0.6);
  std::vector<int> got;
  for (int i = 0; i < 7; ++i) got.push_back(ComRdByte(1));
  EXPECT_EQ(got, (std::vector<int>{0xEB, 0x90, 0x2B, 0x2B, 0x2D, 0x31, 7})) << "as recorded, escapes and all";
  EXPECT_EQ(rt::transport_position().bytes, 7);
  EXPECT_FALSE(rt::transport_input_exhausted());
  EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT) << "the end of the file: the link is silent";
  EXPECT_TRUE(rt::transport_input_exhausted());
  EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT) << "and stays so";
}

TEST_F(LinkReplayPort, sends_nothing_and_logs_what_the_station_sent) {
  ASSERT_EQ(open({1}), 0);
  EXPECT_EQ(ComWrt(1, "RCVD\r", 5), 5);
  EXPECT_EQ(ComWrtByte(1, 0x33), 1);
  std::vector<std::string> texts;
  for (const auto& e : rt::log_entries_since(0)) texts.push_back(e.text);
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Link replay: not sent (there is no link): RCVD\\r");
  EXPECT_EQ(texts.back(), "Link replay: not sent (there is no link): 3");
}

// Lower bounds only: a loaded machine makes reads slower, never faster.
TEST_F(LinkReplayPort, delivers_at_the_links_rate_divided_by_the_speed) {
  ASSERT_EQ(open(std::vector<uint8_t>(1500, 0x55)), 0);
  struct Case {
    double speed;
    int bytes;
    double at_least_s;  // (bytes - 1) / (1920 * speed), less a millisecond for the clock
  };
  for (const Case c : {Case{1.0, 481, 0.249}, Case{4.0, 961, 0.124}}) {
    rt::set_speed(c.speed);
    EXPECT_GE(seconds_to_read(c.bytes), c.at_least_s) << "speed " << c.speed;
  }
}

// The end of the file is a silent link whose reads wait their time-out
// divided by the speed: at 0.5, a read of 0.5 s waits a second.
TEST_F(LinkReplayPort, a_silent_read_waits_its_time_out_divided_by_the_speed) {
  ASSERT_EQ(open({}), 0);
  SetComTime(1, 0.5);
  rt::set_speed(0.5);
  const auto t0 = Clock::now();
  EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT);
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - t0).count(), 0.99);
}

// Moved back after its end (a seek, From start, Loop), the file plays again
// and its end is an end again, which a loop needs to go round once more.
TEST_F(LinkReplayPort, an_end_reached_again_after_a_move_back_is_an_end_again) {
  ASSERT_EQ(open({7, 8, 9}), 0);
  rt::set_speed(1000);  // the end's silence lasts a millisecond
  SetComTime(1, 0.6);
  auto* input = dynamic_cast<rt::ReplayInput*>(port_.get());
  ASSERT_NE(input, nullptr);
  auto play = [] {
    std::vector<int> got;
    for (int i = 0; i < 4; ++i) got.push_back(ComRdByte(1));
    return got;
  };
  EXPECT_EQ(play(), (std::vector<int>{7, 8, 9, COM_ERR_TIMEOUT}));
  std::string error;
  struct Case {
    int64_t offset;
    std::vector<int> reads;
  };
  for (const Case& c : {Case{0, {7, 8, 9, COM_ERR_TIMEOUT}}, Case{1, {8, 9, COM_ERR_TIMEOUT, COM_ERR_TIMEOUT}}}) {
    ASSERT_TRUE(input->move_to(c.offset, &error)) << error;
    rt::transport_set_input_exhausted(false);
    EXPECT_EQ(play(), c.reads) << "from offset " << c.offset;
    EXPECT_TRUE(rt::transport_input_exhausted()) << "from offset " << c.offset;
  }
}

TEST_F(LinkReplayPort, a_quit_ends_a_silent_read_at_once) {
  ASSERT_EQ(open({}), 0);
  SetComTime(1, 1.05);
  rt::set_speed(0.001);  // 1050 s of silence per read
  rt::request_quit();
  EXPECT_EQ(ComRdByte(1), COM_ERR_TIMEOUT);
}

TEST_F(LinkReplayPort, a_file_that_is_not_there_is_not_opened) {
  rt::set_com_path(dir_.file("no-such.dat"));
  EXPECT_LT(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0);
  EXPECT_NE(std::string(ComErrorText()).find("no-such.dat"), std::string::npos) << ComErrorText();
}

}  // namespace
