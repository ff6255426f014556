// Nothing received is lost silently, through the built binary over a real
// pseudo-terminal: the recording reaches its file while the receiver is
// still hunting; a disk that fills (a full tmpfs, a file-size limit,
// /dev/full) is said at once, frames go on, the gap is said when space
// returns and the run ends with status 3; trace and CSV write errors are
// said and end the run with status 4.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "station.h"
#include "runtime/ui.h"
#include "support/frames.h"
#include "support/pty.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_files::TempDir;
using testing_process::wait_until;

constexpr double WAIT_S = 60.0;  // generous: a loaded machine

Bytes link_frames(uint32_t first, uint32_t last) {
  Bytes out;
  for (uint32_t n = first; n <= last; ++n)
    testing_frames::append(out, testing_frames::escape_for_link(e2e::numbered_frame(n)));
  return out;
}

// Bytes that never hold a sync word (all below 0x80).
Bytes noise(size_t n) {
  Bytes out(n);
  uint32_t x = 12345;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>((x >> 16) & 0x7F);
  }
  return out;
}

// vst_gse headless on the instrument pty, running in `run_dir` (where its
// recording lands), with its standard output (the trace, then message lines)
// on a FIFO that a thread drains: no regular file but the recording, so a
// file-size limit touches the recording alone.
class Station {
 public:
  explicit Station(const std::string& run_dir) {
    const std::string fifo = out_dir_.file("stdout.fifo");
    if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + fifo);
    reader_ = std::thread([this, fifo] {
      const int fd = open(fifo.c_str(), O_RDONLY);
      char buf[65536];
      for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;) {
        std::lock_guard lock(mu_);
        out_.append(buf, static_cast<size_t>(n));
      }
      if (fd >= 0) close(fd);
    });
    child_ = std::make_unique<testing_process::Child>(
        testing_process::vst_gse(),
        std::vector<std::string>{"--headless", "--port", link_.slave_path(), "--trace", "-", "--summary",
                                 out_dir_.file("summary.json")},
        run_dir, fifo);
  }
  ~Station() {
    child_.reset();  // kills it if still running: the FIFO then ends
    reader_.join();
  }

  testing_pty::InstrumentPty& link() { return link_; }
  testing_process::Child& program() { return *child_; }

  std::string output() {
    std::lock_guard lock(mu_);
    return out_;
  }
  // The --summary JSON, once the run has ended.
  std::string summary() const { return testing_files::read_text(out_dir_.file("summary.json")); }
  // The lines that are no trace: the station's messages.
  std::vector<std::string> messages() {
    std::vector<std::string> out;
    const std::string text = output();
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
      if (text[from] != '{') out.push_back(text.substr(from, end - from));
    return out;
  }
  std::string message_matching(const std::regex& pattern) {
    for (const auto& m : messages())
      if (std::regex_search(m, pattern)) return m;
    return "";
  }
  bool wait_for_message(const std::regex& pattern, std::string* line) {
    return wait_until(WAIT_S, [&] { return !(*line = message_matching(pattern)).empty(); });
  }
  // PANEL_STATUS texts so far; only lines new since the last look are parsed.
  std::vector<std::string> statuses() {
    std::lock_guard lock(mu_);
    const size_t end = out_.rfind('\n');
    if (end != std::string::npos && end + 1 > parsed_) {
      for (const auto& l : testing_trace::select(testing_trace::parse(out_.substr(parsed_, end + 1 - parsed_)),
                                                 "SetCtrlVal", "PANEL_STATUS"))
        statuses_.push_back(l.field("value"));
      parsed_ = end + 1;
    }
    return statuses_;
  }
  size_t good_frames() {
    size_t n = 0;
    for (const auto& s : statuses()) n += s == " ";
    return n;
  }
  bool wait_ready() {
    return wait_until(WAIT_S, [&] {
      for (const auto& s : statuses())
        if (s == "serial port ready") return true;
      return false;
    });
  }
  bool wait_good_frames(size_t n) { return wait_until(WAIT_S, [&] { return good_frames() >= n; }); }

 private:
  TempDir out_dir_;
  testing_pty::InstrumentPty link_;
  std::mutex mu_;
  std::string out_;
  size_t parsed_ = 0;  // bytes of out_ that statuses_ covers
  std::vector<std::string> statuses_;
  std::thread reader_;
  std::unique_ptr<testing_process::Child> child_;
};

std::vector<std::string> recordings_in(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dat") found.push_back(e.path().string());
  return found;
}

Bytes recording_in(const std::string& dir) {
  const auto found = recordings_in(dir);
  return found.size() == 1 ? testing_files::read_file(found[0]) : Bytes{};
}

TEST(RecordingLoss, received_bytes_reach_the_file_while_the_receiver_is_still_hunting) {
  TempDir dir;
  Station station(dir.path());
  ASSERT_TRUE(station.wait_ready());
  // A link without sync words (a wrong baud rate looks so): one receiver call
  // hunts for as long as bytes keep coming, never a second without one.
  const Bytes burst = noise(1000);
  station.link().send(burst);
  Bytes sent = burst;
  std::mutex sent_mu;
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    const Bytes more = noise(1 << 16);
    for (size_t i = 1000; !stop && i < more.size(); ++i) {
      station.link().send({more[i]});
      {
        std::lock_guard lock(sent_mu);
        sent.push_back(more[i]);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  const bool on_disk = wait_until(WAIT_S, [&] {
    const Bytes rec = recording_in(dir.path());
    return rec.size() >= burst.size() && Bytes(rec.begin(), rec.begin() + 1000) == burst;
  });
  const auto statuses = station.statuses();
  stop = true;
  trickle.join();
  EXPECT_TRUE(on_disk) << "the burst is in the recording while the call goes on";
  EXPECT_EQ(statuses.back(), "serial port ready") << "the receiver's call had not returned meanwhile";

  // The link falls silent: the call ends; every byte is in the recording.
  EXPECT_TRUE(wait_until(WAIT_S, [&] { return recording_in(dir.path()) == sent; }));
  EXPECT_EQ(station.link().received().size(), 0u) << "no frame, no acknowledgement";
  station.program().signal(SIGTERM);
  EXPECT_EQ(station.program().wait(WAIT_S), 0);
  EXPECT_EQ(recording_in(dir.path()), sent);
}

// One way for the recording's disk to fill: `fill` after the station has
// started, `free` gives the space back (none: it never comes back).
struct Disk {
  std::string run_dir;  // the station's working directory: its recording lands there
  std::string reason;   // the operating system's text for the failure
  std::function<void(pid_t)> fill;
  std::function<void(pid_t)> free;
};

// The recording's alarm in the summary: raised once, never acknowledged,
// present at the end or not.
void expect_recording_alarm(const std::string& summary, const std::string& now) {
  const std::string row = "\"source\":\"recording\",\"key\":\"not recording\",\"what\":\"recording: NOT RECORDING\","
                          "\"severity\":\"red\"";
  const size_t at = summary.find(row);
  ASSERT_NE(at, std::string::npos) << summary;
  const std::string rest = summary.substr(at, summary.find('}', at) - at);
  EXPECT_NE(rest.find("\"occurrences\":1,"), std::string::npos) << rest;
  EXPECT_NE(rest.find("\"now\":\"" + now), std::string::npos) << rest;
  EXPECT_NE(rest.find("\"acknowledged\":false"), std::string::npos) << rest;
}

// Frames until the disk is full; frames (and, when space will come back,
// more noise than the run-time holds) while it is; then frames after space
// is back. Every frame is shown, the failure and the gap are said, the file
// is every byte sent but the gap, and the run ends with status 3. The
// recording's alarm stays latched in the summary.
void fill_and_free(const Disk& disk) {
  Station station(disk.run_dir);
  disk.fill(station.program().pid());
  ASSERT_TRUE(station.wait_ready());

  Bytes sent = link_frames(1, 60);  // 12 000 bytes: more than the disk takes
  station.link().send(sent);
  std::string failed;
  ASSERT_TRUE(station.wait_for_message(std::regex("^NOT RECORDING: cannot write recording file"), &failed))
      << "the failure is said while the station runs";
  std::smatch named;
  ASSERT_TRUE(std::regex_match(failed, named,
                               std::regex("NOT RECORDING: cannot write recording file ([0-9]{8}\\.dat): " +
                                          disk.reason + " \\(frames are still received and shown; writing is "
                                                        "retried\\)")))
      << failed;
  const std::string name = named[1];
  EXPECT_TRUE(std::filesystem::exists(disk.run_dir + "/" + name)) << name;

  Bytes during = link_frames(61, 65);
  if (disk.free) testing_frames::append(during, noise(static_cast<size_t>(FILE_BACKLOG) + 100000));
  testing_frames::append(during, link_frames(66, 70));
  station.link().send(during);
  testing_frames::append(sent, during);
  EXPECT_TRUE(station.wait_good_frames(70)) << "every frame is still shown: " << station.good_frames();

  if (!disk.free) {
    station.program().signal(SIGTERM);
    EXPECT_EQ(station.program().wait(WAIT_S), 3) << "a recording loss";
    const std::string closed = station.message_matching(std::regex("closed with"));
    EXPECT_EQ(closed, "Recording " + name + " closed with " + std::to_string(sent.size()) +
                          " received bytes missing from the file: " + disk.reason);
    expect_recording_alarm(station.summary(), "NOT RECORDING: cannot write " + name + ": " + disk.reason);
    return;
  }

  disk.free(station.program().pid());
  std::string resumed;
  ASSERT_TRUE(station.wait_for_message(std::regex("is written again"), &resumed));
  std::smatch m;
  ASSERT_TRUE(std::regex_match(resumed, m,
                               std::regex("Recording " + name + " is written again: ([0-9]+) received bytes are "
                                          "missing from the file \\(a gap at byte ([0-9]+)\\)")))
      << resumed;
  const size_t missing = std::stoul(m[1]), gap_at = std::stoul(m[2]);
  EXPECT_GT(missing, 0u);

  const Bytes after = link_frames(71, 75);
  station.link().send(after);
  testing_frames::append(sent, after);
  EXPECT_TRUE(station.wait_good_frames(75));
  const std::string path = disk.run_dir + "/" + name;
  EXPECT_TRUE(wait_until(WAIT_S, [&] { return testing_files::read_file(path).size() == sent.size() - missing; }))
      << "the file holds every byte but the gap";
  station.program().signal(SIGTERM);
  EXPECT_EQ(station.program().wait(WAIT_S), 3) << "a recording loss";

  const Bytes file = testing_files::read_file(path);
  ASSERT_EQ(file.size(), sent.size() - missing);
  ASSERT_LE(gap_at, file.size());
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + static_cast<long>(gap_at), sent.begin()))
      << "the bytes before the gap";
  EXPECT_TRUE(std::equal(file.begin() + static_cast<long>(gap_at), file.end(),
                         sent.begin() + static_cast<long>(gap_at + missing)))
      << "the bytes after the gap";
  EXPECT_EQ(station.message_matching(std::regex("closed with")), "") << "nothing more lost at the end";
  expect_recording_alarm(station.summary(), "recording to " + name);
}

TEST(RecordingLoss, a_full_disk_is_said_frames_go_on_and_the_gap_is_said_when_space_returns) {
  TempDir dir;
  const std::string mount_dir = dir.file("disk");
  std::filesystem::create_directory(mount_dir);
  if (mount("gse_test", mount_dir.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
  const std::string filler = mount_dir + "/filler";
  Disk disk{mount_dir, "No space left on device",
            [&](pid_t) {
              // Fill the disk, then leave 8 KiB free.
              FILE* f = std::fopen(filler.c_str(), "wb");
              const Bytes block(4096, 0);
              while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
              }
              if (f) std::fclose(f);
              std::filesystem::resize_file(filler, std::filesystem::file_size(filler) - 8192);
            },
            [&](pid_t) { std::filesystem::remove(filler); }};
  fill_and_free(disk);
  umount2(mount_dir.c_str(), MNT_DETACH);
}

TEST(RecordingLoss, a_file_size_limit_is_a_write_error_not_a_kill_and_writing_resumes_when_raised) {
  TempDir dir;
  auto limit = [](pid_t pid, rlim_t bytes) {
    const rlimit r{bytes, RLIM_INFINITY};
    ASSERT_EQ(prlimit(pid, RLIMIT_FSIZE, &r, nullptr), 0) << std::strerror(errno);
  };
  Disk disk{dir.path(), "File too large", [&](pid_t pid) { limit(pid, 8192); },
            [&](pid_t pid) { limit(pid, RLIM_INFINITY); }};
  fill_and_free(disk);
}

TEST(RecordingLoss, a_recording_that_takes_no_byte_says_the_whole_loss_at_quit) {
  TempDir dir;
  const std::string mount_dir = dir.file("disk");
  std::filesystem::create_directory(mount_dir);
  if (mount("gse_test", mount_dir.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << std::strerror(errno);
  // The disk is full from the start and stays so.
  Disk disk{mount_dir, "No space left on device",
            [&](pid_t) {
              FILE* f = std::fopen((mount_dir + "/filler").c_str(), "wb");
              const Bytes block(4096, 0);
              while (f && std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
              }
              if (f) std::fclose(f);
            },
            nullptr};
  fill_and_free(disk);
  umount2(mount_dir.c_str(), MNT_DETACH);
}

// The rate this flood must reach to be the one it is named for.
constexpr double FLOOD_MIB_S = 5.0;

TEST(RecordingLoss, a_pty_flood_beyond_5_mib_per_s_loses_nothing_on_a_disk_that_keeps_up) {
  // The recording on tmpfs: a disk that keeps up with any port.
  char shm_dir[] = "/dev/shm/gse_flood_XXXXXX";
  ASSERT_NE(mkdtemp(shm_dir), nullptr) << std::strerror(errno);
  {
    Station station(shm_dir);
    ASSERT_TRUE(station.wait_ready());
    // Bytes without a sync word as fast as the pty takes them: the receiver
    // hunts in one call, so nothing but the writer's own wake-ups hands
    // them to the file.
    const Bytes pattern = noise(1 << 16);
    constexpr size_t TOTAL = 48u << 20;
    constexpr size_t MIB = 1u << 20;
    size_t sent = 0;
    const auto start = std::chrono::steady_clock::now();
    std::vector<double> mib_at{0.0};  // when each MiB had gone
    while (sent < TOTAL) {
      const size_t at = sent % pattern.size();
      const size_t n = station.link().send_some(pattern.data() + at, pattern.size() - at);
      sent += n;
      while (sent >= mib_at.size() * MIB)
        mib_at.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      if (n < pattern.size() - at) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The rate the flood reached: the fastest 8 MiB of it (a loaded machine
    // slows the station's reading, and so the pseudo-terminal, at times).
    constexpr size_t SPAN_MIB = 8;
    double peak = 0.0;
    for (size_t k = SPAN_MIB; k < mib_at.size(); ++k)
      peak = std::max(peak, SPAN_MIB / std::max(mib_at[k] - mib_at[k - SPAN_MIB], 1e-6));
    std::printf("[ flood    ] %zu bytes sent in %.2f s: %.1f MiB/s, %.1f MiB/s at its fastest 8 MiB\n", sent, took,
                sent / took / MIB, peak);
    const auto size = [&] {
      const auto found = recordings_in(shm_dir);
      return found.size() == 1 ? std::filesystem::file_size(found[0]) : 0;
    };
    EXPECT_TRUE(wait_until(WAIT_S, [&] { return size() == sent; })) << size() << " of " << sent << " bytes recorded";
    station.program().signal(SIGTERM);
    EXPECT_EQ(station.program().wait(WAIT_S), 0) << "nothing lost";
    EXPECT_EQ(station.message_matching(std::regex("missing|NOT RECORDING")), "");
    const Bytes rec = recording_in(shm_dir);
    ASSERT_EQ(rec.size(), sent);
    for (size_t at = 0; at < rec.size(); at += pattern.size())
      ASSERT_TRUE(std::equal(rec.begin() + static_cast<long>(at),
                             rec.begin() + static_cast<long>(std::min(rec.size(), at + pattern.size())), pattern.begin()))
          << "the bytes at " << at;
    if (peak < FLOOD_MIB_S) {
      std::filesystem::remove_all(shm_dir);
      // Nothing was lost, but the flood was not the one this test is about.
      GTEST_SKIP() << "the pseudo-terminal took at most " << peak << " MiB/s (the machine is busy): not beyond "
                   << FLOOD_MIB_S << " MiB/s";
    }
  }
  std::filesystem::remove_all(shm_dir);
}

struct OutputCase {
  const char* name;
  std::vector<std::string> args;
  std::string message;
};

TEST(OutputLoss, trace_and_csv_write_errors_are_said_and_end_the_run_with_status_4) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(30));
  const OutputCase cases[] = {
      {"trace on a full device", {"--trace", "/dev/full"},
       "vst_gse: cannot write trace file /dev/full: No space left on device; the trace ends there\n"},
      {"panel CSV on a full device", {"--csv-panel", "/dev/full"},
       "vst_gse: cannot write CSV file /dev/full: No space left on device; the export ends there\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--headless", "--speed", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("rec.dat");
    const auto r = testing_process::run(testing_process::vst_gse(), args, dir.path(), WAIT_S, e2e::program_env());
    EXPECT_EQ(r.exit_code, 4) << c.name;
    EXPECT_EQ(testing_process::without_summary(r.err), c.message)
        << c.name << ": said once, naming the file and the reason";
  }
}

TEST(OutputLoss, a_failed_trace_write_is_an_error_in_the_session_log) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(3));
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--trace", "/dev/full", "--log", "run.log", "rec.dat"},
                                      dir.path(), WAIT_S, e2e::program_env());
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_TRUE(std::regex_search(testing_files::read_text(dir.file("run.log")),
                                std::regex(" ERROR Trace: cannot write trace file /dev/full: No space left on device")))
      << testing_files::read_text(dir.file("run.log"));
}

TEST(OutputLoss, a_log_rotation_that_fails_is_said_once_and_the_file_log_stops_at_its_bound) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(30));
  // The log is a line short of its bound, and its rotation's name is taken
  // by a directory that cannot be removed.
  constexpr size_t BOUND = 16u << 20;
  const std::string line = std::string(99, '.') + "\n";
  std::string log;
  while (log.size() + line.size() <= BOUND - 50) log += line;
  testing_files::write_file(dir.file("run.log"), Bytes(log.begin(), log.end()));
  std::filesystem::create_directory(dir.file("run.log.1"));
  testing_files::write_file(dir.file("run.log.1/keep"), Bytes{'k'});
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--log", "run.log", "rec.dat"}, dir.path(),
                                      WAIT_S, e2e::program_env());
  EXPECT_EQ(r.exit_code, 4) << r.err;
  EXPECT_EQ(r.out,
            "LOG FILE FAILED: cannot rotate log file run.log: cannot remove run.log.1: Directory not empty; the log "
            "goes on in the window only\n");
  EXPECT_LE(std::filesystem::file_size(dir.file("run.log")), BOUND) << "the file log stopped at its bound";
  EXPECT_NE(r.err.find("good frames 30"), std::string::npos) << "the run went on: " << r.err;
}

TEST(OutputLoss, failure_rows_from_a_pipe_are_those_from_the_same_bytes_in_a_file) {
  TempDir dir;
  Bytes rec = {0x01, 0x02, 0x03};  // bytes before the first sync word: no failure row
  testing_frames::append(rec, e2e::frames(4, 1));
  for (uint32_t n = 5; n < 8; ++n) {
    testing_frames::FrameBuilder bad;
    bad.counter(n).corrupt();
    testing_frames::append(rec, bad.vec());
    testing_frames::append(rec, e2e::frames(2, 10 * n));
  }
  testing_files::write_file(dir.file("rec.dat"), rec);
  auto rows = [&](const std::string& csv, const std::string& status) {
    size_t n = 0;
    for (size_t at = 0; (at = csv.find("," + status + ",", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  const auto from_file = testing_process::run(
      testing_process::vst_gse(), {"--headless", "--speed", "0", "--csv", "file.csv", "--csv-failures", "rec.dat"},
      dir.path(), WAIT_S, e2e::program_env());
  const auto from_pipe = testing_process::run(
      "/bin/sh", {"-c", "cat rec.dat | exec \"$0\" --headless --speed 0 --csv pipe.csv --csv-failures -", testing_process::vst_gse()},
      dir.path(), WAIT_S, e2e::program_env());
  ASSERT_EQ(from_file.exit_code, 0) << from_file.err;
  ASSERT_EQ(from_pipe.exit_code, 0) << from_pipe.err;
  const std::string file_csv = testing_files::read_text(dir.file("file.csv"));
  const std::string pipe_csv = testing_files::read_text(dir.file("pipe.csv"));
  EXPECT_EQ(rows(file_csv, "checksum_failure"), 3u) << file_csv;
  EXPECT_EQ(rows(pipe_csv, "checksum_failure"), 3u) << pipe_csv;
  EXPECT_EQ(rows(pipe_csv, "ok"), rows(file_csv, "ok"));
}

TEST(OutputLoss, a_file_size_limit_on_the_trace_is_a_write_error_not_a_kill) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(30));
  // One 512-byte block: the trace's first frame goes past it.
  const auto r = testing_process::run(
      "/bin/sh", {"-c", "ulimit -f 1 && exec \"$0\" --headless --speed 0 --trace trace.jsonl rec.dat", testing_process::vst_gse()},
      dir.path(), WAIT_S, e2e::program_env());
  EXPECT_EQ(r.exit_code, 4) << "not killed by SIGXFSZ (" << 128 + SIGXFSZ << ")";
  EXPECT_EQ(testing_process::without_summary(r.err),
            "vst_gse: cannot write trace file trace.jsonl: File too large; the trace ends there\n");
}

TEST(RecordingLoss, what_is_no_regular_file_at_the_recording_or_log_name_is_refused_at_once) {
  constexpr double LIVE_QUIT_BOUND_S = 4.0;
  struct Case {
    const char* name;
    std::function<void(const TempDir&, const std::string& name)> lay;  // at each predicted name
    const char* said;  // the end of the NOT RECORDING line
    int status;
  };
  const Case cases[] = {
      {"FIFO at the recording's name",
       [](const TempDir& d, const std::string& n) { ASSERT_EQ(mkfifo(d.file(n).c_str(), 0600), 0); },
       ": a FIFO is at that name, not a regular file", 3},
      {"symbolic link at the recording's name",
       [](const TempDir& d, const std::string& n) { std::filesystem::create_symlink("elsewhere.bin", d.file(n)); },
       ": a symbolic link is at that name (it is not written through)", 3},
      {"FIFO at the log's name",
       [](const TempDir& d, const std::string& n) {
         ASSERT_EQ(mkfifo(d.file(n.substr(0, 8) + ".log").c_str(), 0600), 0);
       },
       "", 4},  // said on standard error; the run goes on without a log file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    reliability::Station s({}, [&](reliability::Station& st) {
      testing_files::write_file(st.dir().file("elsewhere.bin"), Bytes{'k', 'e', 'e', 'p'});
      for (const auto& name : reliability::recording_names_now()) c.lay(st.dir(), name);
    });
    ASSERT_TRUE(s.wait_for_status(reliability::STATUS_READY, WAIT_S)) << "start-up did not block";
    const Bytes sent = reliability::link_frames(20, 1);
    s.link().send(sent);
    EXPECT_TRUE(s.wait_for_lines(20, "SetCtrlVal", "PANEL_HEXDUMP", WAIT_S)) << "frames are still shown";
    int status = -1;
    EXPECT_GE(s.quit_by(SIGTERM, LIVE_QUIT_BOUND_S, &status), 0.0);
    EXPECT_EQ(status, c.status);
    const std::string said = testing_files::read_text(s.dir().file("stdout.txt"));
    EXPECT_EQ(testing_files::read_text(s.dir().file("elsewhere.bin")), "keep") << "nothing written through a link";
    if (c.status == 3) {
      EXPECT_TRUE(std::regex_search(said, std::regex("^NOT RECORDING: cannot create recording file [0-9]{8}\\.dat: ")))
          << said;
      EXPECT_NE(said.find(c.said), std::string::npos) << said;
    } else {
      EXPECT_EQ(recording_in(s.dir().path()), sent) << "the recording is made all the same";
    }
  }
}

TEST(RecordingLoss, bytes_waiting_in_the_port_at_start_are_drained_and_counted_in_the_summary) {
  const Bytes waiting(3000, 'A');
  reliability::Station s({"--summary", "summary.json"},
                         [&](reliability::Station& st) { st.link().send(waiting); });
  ASSERT_TRUE(s.wait_for_status(reliability::STATUS_READY, WAIT_S));
  const Bytes sent = reliability::link_frames(5, 1);
  s.link().send(sent);
  ASSERT_TRUE(s.wait_for_lines(5, "SetCtrlVal", "PANEL_HEXDUMP", WAIT_S));
  int status = -1;
  s.quit_by(SIGTERM, WAIT_S, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(s.recording(), sent) << "the drained bytes are not recorded";
  const std::string summary = testing_files::read_text(s.dir().file("summary.json"));
  EXPECT_NE(summary.find("\"bytes_drained\":3000,"), std::string::npos) << summary;
}

// ----- Outputs that fail or stall: never the link's failure -----------------

// A live station with its standard output (`--trace -` with the message
// lines) on a pipe that the test reads as `reader` does, and its standard
// error and log in files.
struct PipedStation {
  TempDir dir;
  testing_pty::InstrumentPty link;
  reliability::ProgramSide side{link.slave_path()};
  int out_pipe[2] = {-1, -1};
  int err_fd = -1;
  std::unique_ptr<reliability::Spawned> program;

  explicit PipedStation(const std::vector<std::string>& extra = {}) {
    if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    err_fd = open(dir.file("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> args{"--headless", "--port", link.slave_path(), "--log", "run.log"};
    args.insert(args.end(), extra.begin(), extra.end());
    program = std::make_unique<reliability::Spawned>(args, dir.path(), -1, out_pipe[1], err_fd);
    close(out_pipe[1]);
  }
  ~PipedStation() {
    program.reset();
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    close(err_fd);
  }
  void close_reader() {
    close(out_pipe[0]);
    out_pipe[0] = -1;
  }
  bool wait_ready() {
    return wait_until(WAIT_S, [&] {
      return testing_files::read_text(dir.file("run.log")).find("serial port ready") != std::string::npos;
    });
  }
  std::string err() { return testing_files::read_text(dir.file("stderr.txt")); }
};

TEST(OutputLoss, a_trace_reader_that_leaves_or_stalls_costs_the_trace_never_the_recording) {
  constexpr double LIVE_QUIT_BOUND_S = 4.0;  // the link's time-out, with room for a loaded machine
  enum class Reader { Leaves, Stalls };
  struct Case {
    const char* name;
    Reader reader;
    const char* said;  // on standard error
  };
  const Case cases[] = {
      {"reader that leaves after 1000 bytes", Reader::Leaves, "vst_gse: cannot write standard output: Broken pipe; the trace ends there"},
      {"reader that stalls", Reader::Stalls, "vst_gse: cannot write standard output: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PipedStation station({"--trace", "-"});
    std::thread reader([&] {
      if (c.reader == Reader::Stalls) return;  // never reads
      char buf[1000];
      size_t got = 0;
      for (ssize_t n; got < sizeof buf && (n = read(station.out_pipe[0], buf, sizeof buf - got)) > 0;) got += n;
    });
    reader.join();
    if (c.reader == Reader::Leaves) station.close_reader();
    ASSERT_TRUE(station.wait_ready()) << station.err();
    // Frames at the pty's full rate: far more trace than a pipe holds.
    const Bytes sent = reliability::link_frames(4000, 1);
    station.link.send(sent);
    const std::string rec_dir = station.dir.path();
    EXPECT_TRUE(wait_until(WAIT_S, [&] { return recording_in(rec_dir).size() == sent.size(); }))
        << "reception and recording went on: " << recording_in(rec_dir).size() << " of " << sent.size() << "\n"
        << station.err();
    // "RCVD\r" for every tenth frame.
    station.link.collect_until(5 * 400, std::chrono::seconds(static_cast<int>(WAIT_S)));
    EXPECT_EQ(station.link.received().size(), 5u * 400) << "acknowledgements went on";
    int status = -1;
    const double took = station.program->quit_by(SIGTERM, LIVE_QUIT_BOUND_S, &status);
    EXPECT_GE(took, 0.0) << "still running " << LIVE_QUIT_BOUND_S << " s after SIGTERM";
    EXPECT_EQ(status, 4) << "the trace failed, nothing else";
    EXPECT_EQ(recording_in(rec_dir), sent);
    EXPECT_NE(station.err().find(c.said), std::string::npos) << station.err();
  }
}

TEST(OutputLoss, a_message_stream_whose_reader_left_is_said_on_the_other_and_the_run_goes_on) {
  // The recording cannot be made (a directory at its name): the NOT
  // RECORDING line is the first thing written on standard output.
  struct Case {
    const char* name;
    bool stdout_broken;
    const char* said;
  };
  const Case cases[] = {
      {"standard output", true, "cannot write standard output: Broken pipe"},
      {"standard error", false, "cannot write standard error: Broken pipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    for (const auto& name : reliability::recording_names_now()) std::filesystem::create_directory(dir.file(name));
    testing_pty::InstrumentPty link;
    int broken[2];
    ASSERT_EQ(pipe2(broken, O_CLOEXEC), 0);
    close(broken[0]);  // its reader has left
    const int file = open(dir.file("other.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    reliability::Spawned program({"--headless", "--port", link.slave_path(), "--log", "run.log"}, dir.path(), -1,
                                 c.stdout_broken ? broken[1] : file, c.stdout_broken ? file : broken[1]);
    close(broken[1]);
    EXPECT_TRUE(wait_until(WAIT_S, [&] {
      return testing_files::read_text(dir.file("run.log")).find("serial port ready") != std::string::npos;
    }));
    EXPECT_TRUE(program.running()) << "ended early, with status " << program.wait(0);
    int status = -1;
    program.quit_by(SIGTERM, WAIT_S, &status);
    EXPECT_EQ(status, 3) << "the recording was lost: that status wins";
    close(file);
    EXPECT_NE(testing_files::read_text(dir.file("other.txt")).find(c.said), std::string::npos)
        << testing_files::read_text(dir.file("other.txt"));
    // Standard error is first written at the end (the summary), after the log.
    if (c.stdout_broken) {
      EXPECT_NE(testing_files::read_text(dir.file("run.log")).find(std::string("ERROR ") + c.said), std::string::npos);
    }
  }
}

}  // namespace
