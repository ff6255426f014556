// What a hostile or failing network does to the built station and viewer:
// a broker host that drops packets (a loopback listener whose backlog is
// full), a broker paused with SIGSTOP, a broker whose maximum packet size
// refuses the station's messages, forged messages on the station's topics,
// and a --record path that is no regular file. Each is said within seconds,
// with a reason an operator can act on, and never holds up a quit.
//
// Quit times: the operator guide promises 1 s whatever the network does;
// the tests allow 3 s, room for a loaded 2-core machine running ctest -j2.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/broker.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"

namespace {

using testing_broker::Broker;
using testing_broker::DeadListener;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;
using Clock = std::chrono::steady_clock;

constexpr double QUIT_BOUND_S = 3.0;  // the promise is 1 s (see above)
constexpr double SAID_WITHIN_S = 15.0;  // the time-out is 5 s

std::string demo() { return testing_files::source_dir() + "/data/demo.dat"; }
bool has(const std::string& path, const std::string& text) { return read_text(path).find(text) != std::string::npos; }
nlohmann::json json_of(const std::string& path) { return nlohmann::json::parse(read_text(path)); }

// Seconds from SIGTERM to the exit; the exit status in *status.
double quit_time(Child& child, int* status) {
  const auto from = Clock::now();
  child.signal(SIGTERM);
  *status = child.wait(30);
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// A station playing the demo recording at the link's pace, publishing.
std::unique_ptr<Child> station(const TempDir& dir, const std::string& url, const std::string& name) {
  return std::make_unique<Child>(testing_process::vst_gse(),
                                 std::vector<std::string>{"--headless", "--publish", url, "--log", dir.file(name + ".log"),
                                                          "--summary", dir.file(name + ".json"), demo()},
                                 dir.path(), dir.file(name + ".out"));
}

// The same, once it has said it is connected to `broker`.
std::unique_ptr<Child> connected_station(const TempDir& dir, const Broker& broker, const std::string& name) {
  auto child = station(dir, broker.url("gse"), name);
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] { return has(dir.file(name + ".log"), "publish: connected to"); }))
      << read_text(dir.file(name + ".log"));
  return child;
}

TEST(BrokerFaults, a_host_that_drops_packets_is_said_within_seconds_and_never_holds_a_quit) {
  TempDir dir;
  DeadListener host;
  const std::string url = host.url("gse");
  const std::string said = "broker not answering at 127.0.0.1:" + std::to_string(host.port());
  Child view(testing_process::vst_gse(),
             {"--headless", "--subscribe", url, "--log", dir.file("view.log"), "--summary", dir.file("view.json")},
             dir.path(), dir.file("view.out"));
  auto gse = station(dir, url, "station");
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] { return has(dir.file("view.out"), "remote view: " + url + ": " + said); }))
      << read_text(dir.file("view.out"));
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] { return has(dir.file("station.out"), "publish: " + url + ": " + said); }))
      << read_text(dir.file("station.out"));

  int status = -1;
  EXPECT_LT(quit_time(view, &status), QUIT_BOUND_S);
  EXPECT_EQ(status, 7) << "a view that never reached its broker is no success";
  EXPECT_TRUE(has(dir.file("view.log"), "INFO summary: ")) << "the teardown ran";
  EXPECT_LT(quit_time(*gse, &status), QUIT_BOUND_S);
  EXPECT_EQ(status, 7) << "the frames it could not publish are dropped";
  const auto summary = json_of(dir.file("station.json"));
  const auto published = summary["publish"];
  EXPECT_EQ(published["outages"], 0) << "a publisher that never connected had no outage";
  EXPECT_TRUE(has(dir.file("station.log"), "never connected: " + said));
  // Every frame shown was still queued at the quit: each is two messages
  // dropped (its frame and its values), beside at most one for each line
  // of the log.
  EXPECT_EQ(published["frames_published"], 0);
  const long long frames = summary["good_frames"].get<long long>();
  const long long dropped = published["messages_dropped"].get<long long>();
  long long log_lines = 0;
  for (char c : read_text(dir.file("station.log"))) log_lines += c == '\n';
  ASSERT_GT(frames, 0);
  EXPECT_GE(dropped, 2 * frames) << frames << " frames";
  EXPECT_LE(dropped, 2 * frames + log_lines) << frames << " frames, " << log_lines << " log lines";
}

// The keep-alive is 5 s: a paused broker is said within 10 s.
TEST(BrokerFaults, a_paused_broker_is_said_within_seconds_and_its_return_too) {
  TempDir dir;
  Broker broker(dir.path());
  const std::string url = broker.url("gse");
  auto gse = connected_station(dir, broker, "station");
  broker.pause();
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] {
    return has(dir.file("station.out"), "the broker at 127.0.0.1:" + std::to_string(broker.port()) + " stopped answering");
  })) << read_text(dir.file("station.out"));
  // A station that starts meanwhile: the broker takes its connection and
  // never answers it.
  auto late = station(dir, url, "late");
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] {
    return has(dir.file("late.out"), "broker not answering at 127.0.0.1:" + std::to_string(broker.port()) +
                                         " (connected, but no answer to the MQTT connect");
  })) << read_text(dir.file("late.out"));
  int status = -1;
  EXPECT_LT(quit_time(*late, &status), QUIT_BOUND_S) << "a paused broker holds no quit";
  broker.resume();
  EXPECT_TRUE(wait_until(SAID_WITHIN_S, [&] { return has(dir.file("station.log"), "connected again to"); }))
      << read_text(dir.file("station.log"));
  EXPECT_LT(quit_time(*gse, &status), QUIT_BOUND_S);
  EXPECT_EQ(json_of(dir.file("station.json"))["publish"]["goodbye_acknowledged"], true);
}

// The goodbye waits 0.5 s for the broker to acknowledge the last messages;
// a broker paused at the quit never does, and a run that may have lost
// messages is no success.
TEST(BrokerFaults, a_goodbye_the_broker_never_acknowledges_is_said_and_is_no_success) {
  TempDir dir;
  Broker broker(dir.path());
  auto gse = connected_station(dir, broker, "station");
  broker.pause();
  int status = -1;
  EXPECT_LT(quit_time(*gse, &status), QUIT_BOUND_S);
  broker.resume();
  EXPECT_EQ(status, 7);
  const std::string said = "publish: " + broker.url("gse") +
                           ": the broker had not acknowledged the last messages when the station said goodbye; those "
                           "it had not read may be lost";
  EXPECT_TRUE(has(dir.file("station.out"), said)) << read_text(dir.file("station.out"));
  EXPECT_TRUE(has(dir.file("station.log"), "WARN " + said)) << read_text(dir.file("station.log"));
  EXPECT_EQ(json_of(dir.file("station.json"))["publish"]["goodbye_acknowledged"], false);
}

TEST(BrokerFaults, a_maximum_packet_size_that_refuses_the_frames_is_said_once) {
  TempDir dir;
  // Room for the connection and its last will (about 300 bytes, with the
  // recording's short name), none for a frame (about 600) or its values.
  Broker broker(dir.path(), {.max_packet_size = 400});
  std::filesystem::copy_file(demo(), dir.file("demo.dat"));
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--publish", broker.url("gse"), "--summary",
                                       dir.file("s.json"), "demo.dat"},
                                      dir.path(), 60);
  EXPECT_EQ(r.exit_code, 7) << r.out << r.err;
  const std::string said = "the broker at 127.0.0.1:" + std::to_string(broker.port()) +
                           " takes no message larger than 400 bytes (its maximum packet size)";
  const auto at = r.out.find(said);
  ASSERT_NE(at, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(said, at + 1), std::string::npos) << "said once:\n" << r.out;
  EXPECT_NE(json_of(dir.file("s.json"))["publish"]["refused"].get<std::string>().find("max_packet_size"),
            std::string::npos);
}

std::string hex_of(const testing_frames::FrameBuilder& f) { return testing_frames::hex(f.vec()); }

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(RemoteView, forged_messages_forge_no_log_line_count_or_delay) {
  TempDir dir;
  Broker broker(dir.path());
  Child view(testing_process::vst_gse(),
             {"--headless", "--subscribe", broker.url("gse"), "--log", dir.file("view.log"), "--summary",
              dir.file("view.json"), "--csv-panel", dir.file("view.csv")},
             dir.path(), dir.file("view.out"));
  ASSERT_TRUE(wait_until(20, [&] { return has(dir.file("view.log"), "remote view: connected to"); }));
  int n = 0;
  const auto send = [&](const std::string& topic, const std::string& payload) {
    const std::string file = dir.file("m" + std::to_string(++n));
    std::ofstream(file, std::ios::binary) << payload;
    ASSERT_EQ(testing_broker::publish(broker, "gse/" + topic, file, dir.path()), 0) << payload;
  };
  // Frames 20 s old by their station's clock: the delay is measured, not capped.
  const auto frame = [&](unsigned long long seq, int counter) {
    send("frame", R"({"session":"00000000000000aa","seq":)" + std::to_string(seq) +
                      R"(,"time_ms":)" + std::to_string(now_ms() - 20000) + R"(,"skipped":0,"frame":")" +
                      hex_of(testing_frames::good(static_cast<uint32_t>(counter))) + "\"}");
  };
  frame(1, 1);
  frame(2, 2);
  frame(9223372036854775807ULL, 3);  // beyond any sequence: not a field a station writes
  frame(4000000000000000ULL, 4);     // a jump no station could publish in a moment
  frame(3, 5);
  frame(4, 6);
  const std::string health_head =
      R"({"session":"00000000000000aa","mode":"live","time_ms":1,"time":"x","version":"0.1.0","source":"/dev/ttyS0",)"
      R"("state":"receiving",)";
  const std::string health_tail =
      R"("fault_age_s":null,"bytes_per_s":1920.0,"frames_per_s":9.6,)"
      R"("failures_minute":{"checksum":0,"illegal_escape":0,"read_failure":0,"other":0},)"
      R"("failures_total":{"checksum":0,"illegal_escape":0,"read_failure":0,"other":0},)"
      R"("skipped":0,"skipped_minute":0,"stale":false,"bytes_total":1,"good_frames":1,"longest_gap_s":0.0,)"
      R"("port_losses":0,"publish_dropped":0,)";
  send("health", health_head + R"("words":"receiving\n2024-05-01 12:00:00.000 ERROR FORGED HEALTH",)" +
                     R"("reason":"\u001b]0;owned\u0007",)" + health_tail + R"("age_s":0.5})");
  send("health", health_head + R"("words":"receiving","reason":"",)" + health_tail + R"("age_s":1e300})");
  ASSERT_TRUE(wait_until(20, [&] {
    const auto s = read_text(dir.file("view.log"));
    return s.find("FORGED HEALTH") != std::string::npos && s.find("missed") == std::string::npos &&
           s.find("fields missing or wrong") != std::string::npos;
  })) << read_text(dir.file("view.log"));
  ASSERT_TRUE(wait_until(10, [&] { return has(dir.file("view.log"), "jumps from 2 to 4000000000000000"); }));
  // The four real frames shown (a header row and theirs), then the quit.
  ASSERT_TRUE(wait_until(10, [&] { return testing_files::parse_csv(read_text(dir.file("view.csv")), true).size() == 5; }))
      << read_text(dir.file("view.csv"));
  int status = -1;
  EXPECT_LT(quit_time(view, &status), QUIT_BOUND_S);
  EXPECT_EQ(status, 7) << "refused messages make the exit status";

  const std::string log = read_text(dir.file("view.log"));
  EXPECT_EQ(log.find('\x1b'), std::string::npos) << "no escape byte reaches the log";
  EXPECT_EQ(log.find('\x07'), std::string::npos);
  EXPECT_EQ(log.find("\n2024-05-01 12:00:00.000 ERROR"), std::string::npos) << "no forged line:\n" << log;
  const auto seen = json_of(dir.file("view.json"))["remote_view"];
  EXPECT_EQ(seen["frames_received"], 4) << seen.dump();
  EXPECT_EQ(seen["frames_missed"], 0) << "the forged jump is not adopted: " << seen.dump();
  EXPECT_EQ(seen["refused"]["implausible_sequence"], 1) << seen.dump();
  EXPECT_EQ(seen["refused"]["bad_fields"], 2) << "seq 2^63-1 and an age of 1e300: " << seen.dump();
  ASSERT_TRUE(seen["latency_ms"].is_object()) << seen.dump();
  EXPECT_GT(seen["latency_ms"]["p99"].get<double>(), 19000.0) << "a measure, never a cap: " << seen.dump();
  EXPECT_LT(seen["latency_ms"]["p99"].get<double>(), 40000.0) << seen.dump();
}

TEST(RemoteView, records_only_into_a_regular_file_and_says_why_not) {
  TempDir dir;
  std::ofstream(dir.file("target.dat")) << "keep";
  std::filesystem::create_symlink(dir.file("target.dat"), dir.file("link.dat"));
  ASSERT_EQ(::mkfifo(dir.file("fifo.dat").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder.dat"));
  const std::pair<std::string, std::string> cases[] = {
      {dir.file("fifo.dat"), "a FIFO is at that name, not a regular file"},
      {dir.file("link.dat"), "a symbolic link is at that name"},
      {"/dev/null", "a character device is at that name, not a regular file"},
      {dir.file("folder.dat"), "a directory is at that name, not a regular file"},
  };
  for (const auto& [path, reason] : cases) {
    const auto r = testing_process::run(testing_process::vst_gse(),
                                        {"--headless", "--subscribe", "mqtt://127.0.0.1:1/gse", "--record", path},
                                        dir.path(), 20);
    EXPECT_FALSE(r.timed_out) << path;
    EXPECT_EQ(r.exit_code, 1) << path << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("Cannot create recording file " + path + ": " + reason), std::string::npos) << r.out;
  }
  EXPECT_EQ(read_text(dir.file("target.dat")), "keep") << "nothing written through the link";
}

TEST(SharingOptions, bound_the_queue_and_keep_the_view_at_the_pace_frames_come) {
  TempDir dir;
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--publish", "mqtt://127.0.0.1/gse", "--publish-queue", "1000000"}, "from 1 to 100000"},
      {{"--subscribe", "mqtt://127.0.0.1/gse", "--speed", "2"}, "takes no --speed"},
  };
  for (const auto& [args, why] : cases) {
    const auto r = testing_process::run(testing_process::vst_gse(), args, dir.path(), 20);
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  }
  const auto help = testing_process::run(testing_process::vst_gse(), {"--help"}, dir.path(), 20);
  EXPECT_NE(help.out.find("250 MiB at most"), std::string::npos) << "the memory the queue means";
}

}  // namespace
