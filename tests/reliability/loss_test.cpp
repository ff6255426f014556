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
  // The recording's name is that of the start minute: this one or the next.
  const long long now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
  for (long long t : {now, now + 60})
    std::filesystem::create_symlink("/dev/full", dir.file(e2e::recording_name_at(t)));
  Disk disk{dir.path(), "No space left on device", [](pid_t) {}, nullptr};
  fill_and_free(disk);
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

}  // namespace
