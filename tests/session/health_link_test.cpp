// The link's health, the session log and the summary through the built
// vst_gse, headless, on real pseudo-terminals: a wrong baud rate, a silent
// link, a port that vanishes and comes back, and gse_sim's injected faults.
// What the program says is read from its --log file, its --summary JSON and
// its --trace.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "headless_station.h"
#include "relay.h"
#include "sim_log.h"
#include "station.h"
#include "support/files.h"
#include "support/process.h"
#include "support/rehearsal.h"
#include "support/pty.h"
#include "support/trace_reader.h"

namespace {

using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;
using testing_pty::InstrumentPty;
using health_testing::Relay;

constexpr double WAIT_S = 30.0;  // generous: the machine may be loaded
const std::string READY = "serial port ready";

// A headless live session, started on a port of the test's choice.
struct Session : health_testing::HeadlessStation {
  bool ready() const { return traced(READY); }
};

// The log's lines whose text (after time and severity) is exactly `text`.
size_t plain_lines(const std::string& log, const std::string& text) {
  std::istringstream in(log);
  size_t n = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find(' ', 24);  // after "YYYY-MM-DD HH:MM:SS.mmm LEVEL"
    if (at != std::string::npos && line.substr(at + 1) == text) ++n;
  }
  return n;
}

// The counts N of the log's coalesced lines "TEXT ×N in S s".
std::vector<long> storm_counts(const std::string& log, const std::string& text) {
  std::vector<long> counts;
  const std::string mark = text + " \u00d7";
  for (size_t at = 0; (at = log.find(mark, at)) != std::string::npos; at += mark.size())
    counts.push_back(std::strtol(log.c_str() + at + mark.size(), nullptr, 10));
  return counts;
}

// A number of the summary JSON: the value after "key": (the first one).
double json_number(const std::string& json, const std::string& key, size_t from = 0) {
  const size_t at = json.find("\"" + key + "\":", from);
  if (at == std::string::npos) {
    ADD_FAILURE() << key << " not in " << json;
    return -1;
  }
  return std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}

size_t statuses(const std::vector<testing_trace::Line>& trace, const std::string& text) {
  size_t n = 0;
  for (const auto& l : testing_trace::select(trace, "SetCtrlVal", "PANEL_STATUS")) n += l.field("value") == text;
  return n;
}

// Seconds between two log lines' times (the first line holding each text).
double seconds_between(const std::string& log, const std::string& first, const std::string& second) {
  auto time_of = [&](const std::string& text) {
    const size_t at = log.find(text);
    const size_t line = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
    std::tm tm{};
    const std::string stamp = log.substr(line, 23);
    strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
    return static_cast<double>(mktime(&tm)) + std::atoi(stamp.c_str() + 20) / 1000.0;
  };
  return time_of(second) - time_of(first);
}

// Bytes as a wrong baud rate delivers them: random, and with no sync word in
// them, so that the test does not depend on a chance checksum.
std::vector<uint8_t> random_bytes(size_t n) {
  std::mt19937 gen(14);
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<uint8_t>(gen());
    if (i > 0 && bytes[i - 1] == 0xEB && bytes[i] == 0x90) bytes[i] = 0x91;
  }
  return bytes;
}

TEST(HealthLive, random_bytes_read_as_no_frames_within_seconds_and_never_as_receiving) {
  InstrumentPty link;
  Session s;
  s.start(link.slave_path());
  ASSERT_TRUE(s.ready()) << read_text(s.dir.file("stdout.txt"));
  reliability::StreamSender sender(link, random_bytes(4096), 1920.0);
  ASSERT_TRUE(s.log_has("link: no frames")) << s.log();
  // The threshold is 3 s (held exactly in the unit test); here the bound
  // allows for a loaded machine.
  EXPECT_LE(seconds_between(s.log(), "start-up: vst_gse", "link: no frames"), 10.0) << s.log();
  sender.stop();
  EXPECT_EQ(s.quit(), 0);
  const std::string log = s.log();
  EXPECT_EQ(log.find("link: receiving"), std::string::npos) << log;
  EXPECT_EQ(json_number(s.summary(), "good_frames"), 0.0);
  EXPECT_GT(json_number(s.summary(), "bytes_received"), 1000.0);
}

TEST(HealthLive, a_silent_link_reads_link_silent_and_its_time_outs_are_counted_as_the_trace_shows) {
  InstrumentPty link;
  Session s;
  s.start(link.slave_path());
  ASSERT_TRUE(s.log_has("link: link silent (no byte for")) << s.log();
  EXPECT_EQ(s.quit(), 0);
  const auto trace = s.trace();
  const size_t timeouts = statuses(trace, "COM1 err: too few bytes read");
  EXPECT_GE(timeouts, 2u);
  EXPECT_EQ(json_number(s.summary(), "read_failure"), static_cast<double>(timeouts)) << s.summary();
  EXPECT_EQ(plain_lines(s.log(), "COM1 err: too few bytes read"), 1u) << "a storm is logged once\n" << s.log();
}

TEST(HealthLive, a_vanished_port_reads_port_lost_and_its_return_receiving) {
  TempDir links;
  const std::string port = links.file("ttyGSE");  // as a udev name for an adapter
  auto first = std::make_unique<InstrumentPty>();
  std::filesystem::create_symlink(first->slave_path(), port);
  Session s;
  s.start(port);
  ASSERT_TRUE(s.ready());
  const std::vector<uint8_t> frames = reliability::link_frames(20, 1);
  auto sender = std::make_unique<reliability::StreamSender>(*first, frames, 1920.0);
  ASSERT_TRUE(s.log_has("link: receiving")) << s.log();

  // Pulled out: the device and its name go.
  sender->stop();
  sender.reset();
  first->hang_up();
  std::filesystem::remove(port);
  ASSERT_TRUE(s.log_has("port lost: " + port)) << s.log();
  ASSERT_TRUE(s.log_has("link: port lost")) << s.log();

  // Back, as a new device behind the same name.
  InstrumentPty second;
  std::filesystem::create_symlink(second.slave_path(), port);
  reliability::StreamSender again(second, frames, 1920.0);
  ASSERT_TRUE(s.log_has("port returned: " + port)) << s.log();
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    const std::string log = s.log();
    return log.find("link: receiving", log.find("link: port lost")) != std::string::npos;
  })) << s.log();
  // A pseudo-terminal tells no identity: whatever answers at the path is
  // read, and the log says so, once, at its first return.
  const std::string unchecked = "WARN port " + port + ": its identity cannot be checked";
  EXPECT_TRUE(s.log_has(unchecked)) << s.log();

  // Pulled out and back once more: not said again.
  const auto times = [](const std::string& log, const std::string& part) {
    size_t n = 0;
    for (size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1)) ++n;
    return n;
  };
  again.stop();
  second.hang_up();
  std::filesystem::remove(port);
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return times(s.log(), "port lost: " + port) == 2; })) << s.log();
  InstrumentPty third;
  std::filesystem::create_symlink(third.slave_path(), port);
  reliability::StreamSender last(third, frames, 1920.0);
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return times(s.log(), "port returned: " + port) == 2; })) << s.log();
  last.stop();
  EXPECT_EQ(s.quit(), 0);
  EXPECT_EQ(times(s.log(), unchecked), 1u) << s.log();
  EXPECT_EQ(json_number(s.summary(), "port_losses"), 2.0) << s.summary();
}

TEST(HealthLive, injected_faults_are_counted_logged_once_per_kind_coalesced_and_summed_as_the_trace_shows) {
  InstrumentPty link;
  Session s;
  s.start(link.slave_path());
  ASSERT_TRUE(s.ready());
  TempDir sim_dir;
  Child sim(testing_process::gse_sim(),
            {"--pty", "--seed", "3", "--frames", "60", "--bad-checksum", "20,21,22,23,24,25,26,27,28,29",
             "--illegal-escape", "40,41,42", "--noise", "5,15,35,50"},
            sim_dir.path(), sim_dir.file("sim.out"));
  std::string pty;
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    return !(pty = testing_process::sim_pty_path(read_text(sim_dir.file("sim.out")))).empty();
  }));
  Relay relay(pty, link);
  ASSERT_TRUE(relay.ok()) << pty;
  ASSERT_EQ(sim.wait(WAIT_S * 2), 0) << read_text(sim_dir.file("sim.out"));

  const auto injected = sim_testing::parse_log(read_text(sim_dir.file("sim.out")));
  ASSERT_EQ(injected.size(), 60u);
  long checksum = 0, illegal = 0, noise = 0, good = 0;
  for (const auto& f : injected) {
    checksum += f.bad_checksum;
    illegal += f.illegal_escape >= 0;
    noise += f.noise > 0;
    good += !f.broken();
  }
  ASSERT_EQ(checksum, 10);
  ASSERT_EQ(illegal, 3);
  ASSERT_EQ(noise, 4);
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return statuses(s.trace(), " ") >= static_cast<size_t>(good); }))
      << "shown " << statuses(s.trace(), " ") << " of " << good << " good frames";
  EXPECT_EQ(s.quit(), 0);

  // The failure counts are what the simulator injected.
  const auto trace = s.trace();
  const std::string json = s.summary();
  EXPECT_EQ(json_number(json, "checksum"), static_cast<double>(checksum)) << json;
  EXPECT_EQ(json_number(json, "illegal_escape"), static_cast<double>(illegal)) << json;
  // And every count of the summary is the trace's.
  EXPECT_EQ(json_number(json, "good_frames"), static_cast<double>(statuses(trace, " ")));
  EXPECT_EQ(json_number(json, "good_frames"), static_cast<double>(good));
  EXPECT_EQ(json_number(json, "read_failure"), static_cast<double>(statuses(trace, "COM1 err: too few bytes read")));
  const auto skipped = testing_trace::select(trace, "SetCtrlVal", "PANEL_SKIPPED");
  ASSERT_FALSE(skipped.empty());
  EXPECT_EQ(json_number(json, "bytes_skipped"), skipped.back().number_field("value"));
  EXPECT_EQ(json_number(json, "acks_sent"), static_cast<double>(testing_trace::select(trace, "ComWrt").size()));
  for (const std::string hk : {"PANEL_HK00", "PANEL_HK16", "PANEL_HK35", "PANEL_HKRAW"}) {
    const auto values = testing_trace::select(trace, "SetCtrlVal", hk);
    ASSERT_FALSE(values.empty()) << hk;
    double lo = values[0].number_field("value"), hi = lo;
    for (const auto& v : values) {
      lo = std::min(lo, v.number_field("value"));
      hi = std::max(hi, v.number_field("value"));
    }
    const size_t at = json.find("\"control\":\"" + hk + "\"");
    ASSERT_NE(at, std::string::npos) << hk;
    EXPECT_EQ(json_number(json, "count", at), static_cast<double>(values.size())) << hk;
    EXPECT_EQ(json_number(json, "min", at), lo) << hk;
    EXPECT_EQ(json_number(json, "max", at), hi) << hk;
    EXPECT_EQ(json_number(json, "last", at), values.back().number_field("value")) << hk;
  }

  // The log: one line per kind of event, and each storm coalesced into one
  // count of all of it (the faults came within a few seconds).
  const std::string log = s.log();
  EXPECT_EQ(plain_lines(log, "COM1 err: checksum failure"), 1u) << log;
  EXPECT_EQ(storm_counts(log, "COM1 err: checksum failure"), std::vector<long>{checksum}) << log;
  EXPECT_EQ(plain_lines(log, "COM1 err: illegal ++- sequence"), 1u) << log;
  EXPECT_EQ(storm_counts(log, "COM1 err: illegal ++- sequence"), std::vector<long>{illegal}) << log;
  for (const char* entry : {"start-up: vst_gse", "recording to ", "run start: port drained, serial port ready",
                            "link: receiving", "link: degraded (", "quit: a signal",
                            "sent: stop command (3\\r)", "summary: live on "})
    EXPECT_NE(log.find(entry), std::string::npos) << entry << "\n" << log;
  EXPECT_EQ(log.find("acknowledgement (RCVD"), std::string::npos) << "acknowledgements are counted, not logged";
}

TEST(HealthFiles, a_log_or_summary_that_cannot_be_written_is_said_once_and_the_run_ends_with_status_4) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), reliability::link_frames(5, 1));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"log", {"--log", "no/such/dir/x.log"},
       "vst_gse: cannot write log file no/such/dir/x.log: No such file or directory; the run goes on without a log file\n"},
      {"summary", {"--summary", "no/such/dir/x.json"},
       "vst_gse: cannot write summary file no/such/dir/x.json: No such file or directory; the summary goes to standard error only\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--headless", "--speed", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("rec.dat");
    const auto r = testing_process::run(testing_process::vst_gse(), args, dir.path(), WAIT_S);
    EXPECT_EQ(r.exit_code, 4) << c.name << "\n" << r.err;
    EXPECT_EQ(testing_process::without_summary(r.err), c.message) << c.name;
    EXPECT_NE(r.err.find("vst_gse summary: playback of rec.dat"), std::string::npos) << c.name << ": the run went on";
    if (std::string(c.name) == "log") {
      EXPECT_NE(r.err.find("LOG FILE FAILED: cannot write log file no/such/dir/x.log"), std::string::npos) << r.err;
    }
  }
}

}  // namespace
