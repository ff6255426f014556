// The built gse_sim: its command line, its file output with faults, and a
// real pseudo-terminal with the uplink.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "sim_log.h"
#include "support/files.h"
#include "support/process.h"
#include "support/pty.h"
#include "tools/sim_frames.h"

using sim::Bytes;
using testing_files::TempDir;
using testing_process::run;

namespace {

// What gse_sim writes for these frames, made with the library.
Bytes expected_output(uint64_t seed, uint64_t frames, const sim::FaultOptions& faults, bool link, double rate) {
  Bytes out;
  for (uint64_t i = 0; i < frames; ++i) {
    auto frame = sim::make_frame(seed, i, 0, sim::frame_period_ms(rate));
    auto wire = sim::make_wire(frame, sim::choose_faults(faults, seed, i), link);
    out.insert(out.end(), wire.bytes.begin(), wire.bytes.end());
  }
  return out;
}

TEST(SimCli, usage_errors_exit_2_and_name_the_problem) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* says;
  } cases[] = {{"no target", {}, "no target"},
               {"bad fault value", {"--pty", "--cut", "x"}, "--cut"},
               {"unknown option", {"--out", "x", "--loud"}, "--loud"}};
  for (const auto& c : cases) {
    auto r = run(testing_process::gse_sim(), c.args, "", 20.0);
    EXPECT_EQ(r.exit_code, 2) << c.name;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.name << ": " << r.err;
  }
}

TEST(SimCli, a_device_that_cannot_be_opened_exits_1_naming_it) {
  auto r = run(testing_process::gse_sim(), {"--port", "/nonexistent/ttyX", "--frames", "1"}, "", 20.0);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("/nonexistent/ttyX"), std::string::npos) << r.err;
}

TEST(SimCli, file_output_holds_plain_frames_with_each_fault_logged) {
  TempDir dir;
  std::string out = dir.file("run.dat");
  auto r = run(testing_process::gse_sim(),
               {"--out", out, "--frames", "40", "--seed", "11", "--noise", "3", "--bad-checksum", "10",
                "--illegal-escape", "20", "--cut", "30"},
               "", 30.0);
  ASSERT_EQ(r.exit_code, 0) << r.err;

  sim::FaultOptions faults;
  faults.noise.frames = {3};
  faults.bad_checksum.frames = {10};
  faults.illegal_escape.frames = {20};
  faults.cut.frames = {30};
  EXPECT_EQ(testing_files::read_file(out), expected_output(11, 40, faults, false, 0.0));

  auto log = sim_testing::parse_log(r.out);
  ASSERT_EQ(log.size(), 40u);
  for (const auto& f : log) {
    EXPECT_EQ(f.fcount, f.index) << "frame " << f.index;
    EXPECT_EQ(f.noise > 0, f.index == 3) << "noise, frame " << f.index;
    EXPECT_EQ(f.bad_checksum, f.index == 10) << "bad checksum, frame " << f.index;
    EXPECT_EQ(f.illegal_escape >= 0, f.index == 20) << "illegal escape, frame " << f.index;
    EXPECT_EQ(f.cut > 0, f.index == 30) << "cut, frame " << f.index;
  }
  EXPECT_NE(r.out.find("summary frames 40 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("noise 1 bad-checksum 1 illegal-escape 1 cut 1 acks 0 commands 0"), std::string::npos)
      << r.out;
}

TEST(SimCli, a_frame_cut_short_by_a_stop_is_in_the_saved_copy_and_the_summary) {
  // Nobody reads the link: it fills, and the simulator waits part way
  // through a frame until SIGTERM. The station gets that frame's first
  // bytes, so --save and the summary must count them (they left them out).
  TempDir dir;
  testing_pty::InstrumentPty link(/*hold_slave=*/true);
  const std::string saved = dir.file("saved.dat");
  testing_process::Child sim(testing_process::gse_sim(),
                             {"--port", link.slave_path(), "--rate", "0", "--seed", "3", "--quiet", "--save", saved},
                             dir.path(), dir.file("sim.out"));
  auto size = [&] { return testing_files::read_file(saved).size(); };
  size_t last = 0;
  auto since = std::chrono::steady_clock::now();
  ASSERT_TRUE(testing_process::wait_until(30.0, [&] {  // stuck: the copy has not grown for 0.3 s
    const auto now = std::chrono::steady_clock::now();
    if (size() != last || last == 0) {
      last = size();
      since = now;
    }
    return last > 0 && now - since > std::chrono::milliseconds(300);
  })) << "the link never filled";
  sim.signal(SIGTERM);
  EXPECT_EQ(sim.wait(10.0), 0);
  const Bytes copy = testing_files::read_file(saved);
  link.collect_until(copy.size() + 1, std::chrono::milliseconds(2000));
  EXPECT_EQ(link.received().size(), copy.size()) << "the saved copy is what the link carried";
  EXPECT_TRUE(link.received() == copy);
  const std::string out = testing_files::read_text(dir.file("sim.out"));
  const size_t at = out.find(" bytes ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(std::stoull(out.substr(at + 7)), copy.size()) << out;
  // "partial N": the last N bytes of the copy are the cut frame's start.
  const size_t partial_at = out.find(" partial ");
  ASSERT_NE(partial_at, std::string::npos) << out;
  const size_t partial = std::stoull(out.substr(partial_at + 9));
  ASSERT_LT(partial, copy.size()) << out;
  if (partial > 0) EXPECT_EQ(copy[copy.size() - partial], 0xEB) << "the sync word begins the cut frame: " << out;
}

std::string first_line(const std::string& path) {
  std::string text = testing_files::read_text(path);
  auto nl = text.find('\n');
  return nl == std::string::npos ? "" : text.substr(0, nl);
}

TEST(SimCli, pty_is_raw_before_its_path_is_printed_and_hears_the_uplink) {
  TempDir dir;
  std::string log_path = dir.file("sim.out");
  // About 2.5 s of frames at 2400 bytes/s: time to talk back while it runs.
  const uint64_t frames = 30;
  const double rate = 2400.0;
  testing_process::Child sim(testing_process::gse_sim(),
                             {"--pty", "--frames", std::to_string(frames), "--rate", "2400", "--seed", "5",
                              "--noise", "4"},
                             dir.path(), log_path);
  ASSERT_TRUE(testing_process::wait_until(10.0, [&] { return !first_line(log_path).empty(); }));
  std::string line = first_line(log_path);
  ASSERT_EQ(line.rfind("pty /dev/", 0), 0u) << line;
  std::string slave = line.substr(4);

  int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << slave;
  termios tio{};
  ASSERT_EQ(tcgetattr(fd, &tio), 0);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u) << "canonical mode or echo left on";
  EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR), 0u) << "CR/LF translation left on";
  EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output processing left on";

  const std::string command = std::string(50, 'A') + "\r\n1\r";
  const std::string uplink = "RCVD\r" + command;
  ASSERT_EQ(write(fd, uplink.data(), uplink.size()), static_cast<ssize_t>(uplink.size()));

  sim::FaultOptions faults;
  faults.noise.frames = {4};
  Bytes want = expected_output(5, frames, faults, true, rate);
  Bytes got;
  ASSERT_TRUE(testing_process::wait_until(30.0, [&] {
    uint8_t buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got.size() >= want.size();
  })) << "received " << got.size() << " of " << want.size() << " bytes";
  EXPECT_EQ(got, want) << "the link carries the escaped frames, byte for byte";

  EXPECT_EQ(sim.wait(30.0), 0);
  close(fd);
  std::string out = testing_files::read_text(log_path);
  EXPECT_NE(out.find("\nuplink RCVD\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nuplink command " + std::string(50, 'A') + "\\r\\n1\\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("acks 1 commands 1"), std::string::npos) << out;
}

// A station that reads late (loaded, or busy) still gets every byte: the
// simulator does not hang up, which would throw away what the pty holds,
// before the bytes are taken.
TEST(SimCli, pty_keeps_what_was_sent_until_a_late_station_has_read_it) {
  TempDir dir;
  std::string log_path = dir.file("sim.out");
  testing_process::Child sim(testing_process::gse_sim(),
                             {"--pty", "--frames", "10", "--rate", "4000", "--seed", "7"}, dir.path(),
                             log_path);
  ASSERT_TRUE(testing_process::wait_until(10.0, [&] { return !first_line(log_path).empty(); }));
  std::string line = first_line(log_path);
  ASSERT_EQ(line.rfind("pty /dev/", 0), 0u) << line;
  int fd = open(line.substr(4).c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0) << line;
  ASSERT_TRUE(testing_process::wait_until(
      30.0, [&] { return testing_files::read_text(log_path).find("\nframe 9 ") != std::string::npos; }));
  // Late: longer than the simulator lingers after its last frame.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  Bytes want = expected_output(7, 10, sim::FaultOptions{}, true, 4000.0);
  Bytes got;
  testing_process::wait_until(30.0, [&] {
    uint8_t buf[4096];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) > 0) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) return true;  // hung up
      got.insert(got.end(), buf, buf + n);
    }
    return got.size() >= want.size();
  });
  EXPECT_EQ(got, want) << "received " << got.size() << " of " << want.size() << " bytes";
  EXPECT_EQ(sim.wait(30.0), 0);
  close(fd);
}

}  // namespace
