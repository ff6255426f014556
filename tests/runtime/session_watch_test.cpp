// What the run-time observes of a session, fed as the run-time feeds it: the
// log beside the recording, what the log and the summary count, a port that
// is lost until it opens again, and which exit status wins.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "runtime/memory_port.h"
#include "runtime/serial.h"
#include "runtime/session_watch.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "support/files.h"

namespace {

using testing_files::TempDir;

class SessionWatch : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    rt::reset_session_for_tests();
    rt::reset_log_for_tests();
    rt::reset_serial_for_tests();
    rt::reset_outcome_for_tests();
  }
  // A session with its summary written to the test's folder.
  void begin(const std::string& log_path = "") {
    rt::SessionInfo info;
    info.source = "/dev/ttyUSB0";
    info.headless = true;
    info.log_path = log_path;
    info.summary_path = dir_.file("summary.json");
    rt::session_begin(info);
  }
  std::string summary() {
    rt::session_end(0);
    return testing_files::read_text(dir_.file("summary.json"));
  }
  static int logged(const std::string& part) {
    int n = 0;
    for (const auto& e : rt::log_entries_since(0)) n += e.text.find(part) != std::string::npos;
    return n;
  }
  TempDir dir_;
};

TEST_F(SessionWatch, the_log_goes_beside_the_recording_when_no_log_file_is_given) {
  std::filesystem::create_directory(dir_.file("run.2"));
  struct Case {
    const char* recording;
    const char* log_given;
    const char* log;
  };
  const Case cases[] = {
      {"2001.dat", "", "2001.log"},
      {"run.2/2001.dat", "", "run.2/2001.log"},
      // The folder's dot is not the file's extension.
      {"run.2/2001", "", "run.2/2001.log"},
      {"2001.dat", "mine.log", "mine.log"},
  };
  for (const Case& c : cases) {
    reset();
    begin(*c.log_given ? dir_.file(c.log_given) : "");
    rt::watch_recording_started(dir_.file(c.recording));
    EXPECT_EQ(rt::log_file_path(), dir_.file(c.log)) << c.recording;
    rt::session_end(0);
    EXPECT_TRUE(std::filesystem::exists(dir_.file(c.log))) << c.recording;
  }
}

// Every pass at the end shows the end again: two ends, two entries (the
// log coalesces the second into a count line).
TEST_F(SessionWatch, the_end_of_input_is_logged_once_per_end_not_per_pass) {
  begin();
  for (const char* status : {"EOF on input file", "EOF on input file", "EOF on input file", " ",
                             "EOF on input file", "EOF on input file"})
    rt::watch_status(status);
  rt::session_end(0);
  EXPECT_EQ(logged("EOF on input file"), 2);
  EXPECT_EQ(logged("EOF on input file \u00d72 in 1 s"), 1);
}

TEST_F(SessionWatch, the_summary_counts_what_the_port_took_and_what_the_recording_lost) {
  begin();
  const std::string command = std::string(50, 'A') + "\r\n1\r";
  const auto bytes = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
  rt::watch_sent(bytes(command), static_cast<int>(command.size()), true);
  rt::watch_sent(bytes("3\r"), 2, false);  // the port refused the stop command
  rt::watch_sent(bytes("RCVD\r"), 5, true);
  rt::watch_sent(bytes("RCVD\r"), 5, false);
  rt::watch_sent(bytes("XYZ\r"), 4, true);  // no known message: neither counted nor listed
  // Bytes still held when the recording closed are a loss, though no write
  // failed on the way.
  rt::watch_recording_closed("2001.dat", 4000, 25);
  const std::string json = summary();
  for (const char* part : {"\"commands_sent\":1", "\"acks_sent\":1", "\"bytes_missing\":25", "\"recording_losses\":1"})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  EXPECT_EQ(logged("not sent (the port did not take it): "), 2);
  // Each command the port took is listed with its time; the refused one is not.
  const size_t list = json.find("\"commands\":[{\"time\":\"");
  ASSERT_NE(list, std::string::npos) << json;
  EXPECT_EQ(json.find("\"what\":\"instrument command (50 x 'A', \\\\r\\\\n1\\\\r: 54 bytes)\"}]", list),
            json.find("\"what\"", list))
      << json;
  EXPECT_EQ(json.find("stop command"), std::string::npos) << json;
}

// Open recording during a playback: the summary names every recording
// played, in order, not only the first.
TEST_F(SessionWatch, the_summary_names_each_recording_played) {
  rt::SessionInfo info;
  info.source = "a.dat";
  info.playback = true;
  info.headless = true;
  info.summary_path = dir_.file("summary.json");
  rt::session_begin(info);
  rt::watch_source_opened("b.dat");
  rt::watch_source_opened("c.dat");
  const std::string json = summary();
  EXPECT_NE(json.find("\"source\":\"c.dat\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"recordings\":[\"a.dat\",\"b.dat\",\"c.dat\"]"), std::string::npos) << json;
}

// A port that failed stays lost while its reads time out waiting for the
// device; only a time-out once it is open again is its return.
TEST_F(SessionWatch, a_lost_port_returns_only_once_it_is_open_again) {
  class LosablePort : public rt::MemoryPort {
   public:
    bool lost() const override { return lost_; }
    bool lost_ = false;
  };
  auto port = std::make_shared<LosablePort>();
  rt::set_com_port(port);
  rt::set_com_path("/dev/ttyUSB0");
  ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 512, 512), 0);
  begin();
  port->fail_when_empty(true);
  EXPECT_LT(ComRdByte(1), 0);
  port->lost_ = true;
  port->fail_when_empty(false);
  for (int k = 0; k < 3; ++k) EXPECT_LT(ComRdByte(1), 0);
  EXPECT_EQ(rt::watch_health().state, rt::LinkState::PortLost) << "timed-out reads of a port still closed";
  EXPECT_EQ(logged("port returned"), 0);
  port->lost_ = false;
  EXPECT_LT(ComRdByte(1), 0);
  EXPECT_EQ(logged("port returned: /dev/ttyUSB0"), 1);
  EXPECT_NE(rt::watch_health().state, rt::LinkState::PortLost);
  rt::session_end(0);
  CloseCom(1);
}

TEST(Outcome, the_lowest_status_of_3_and_above_wins) {
  struct Case {
    std::vector<int> noted;
    int entry;
    int exit;
  };
  const Case cases[] = {
      {{}, 0, rt::EXIT_OK},
      {{rt::EXIT_OUTPUT_FAILED, rt::EXIT_RECORDING_LOST}, 0, rt::EXIT_RECORDING_LOST},
      {{rt::EXIT_RECORDING_LOST, rt::EXIT_OUTPUT_FAILED}, 0, rt::EXIT_RECORDING_LOST},
      {{rt::EXIT_INPUT_FAILED, rt::EXIT_SCRIPT_UNFINISHED, rt::EXIT_INPUT_FAILED}, 0, rt::EXIT_SCRIPT_UNFINISHED},
      {{rt::EXIT_STARTUP, rt::EXIT_USAGE}, 0, rt::EXIT_OK},  // decided at start-up, not noted
      {{rt::EXIT_RECORDING_LOST}, rt::EXIT_STARTUP, rt::EXIT_STARTUP},
  };
  for (const Case& c : cases) {
    rt::reset_outcome_for_tests();
    for (int s : c.noted) rt::note_exit_status(s);
    EXPECT_EQ(rt::final_exit_status(c.entry), c.exit) << "case ending in " << c.exit;
  }
  rt::reset_outcome_for_tests();
}

}  // namespace
