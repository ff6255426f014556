// Playback input that is not a plain file, through the built binary: pipes,
// FIFOs and standard input play exactly as the file; what is no byte stream
// is refused at start; a read error and a record without a sync word are no
// silent end and no frame.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_files::TempDir;
using testing_process::run;
using testing_process::RunResult;
using testing_process::vst_gse;

RunResult run_in(const TempDir& dir, const std::vector<std::string>& args) {
  return run(vst_gse(), args, dir.path(), 60.0, e2e::program_env());
}

// Through /bin/sh, for what only a shell sets up: "$0" is vst_gse, "$1" the
// recording.
RunResult run_shell(const TempDir& dir, const std::string& script, const std::string& recording) {
  return run("/bin/sh", {"-c", script, vst_gse(), recording}, dir.path(), 60.0, e2e::program_env());
}

// A recording with every kind of damage the reader resynchronises over:
// leading garbage, a bad checksum, a record of zeros, a cut frame, a false
// sync word, escaped frames, and a short tail.
Bytes damaged_recording() {
  using testing_frames::append;
  Bytes out(37, 0x11);
  append(out, e2e::frames(5, 1));
  testing_frames::FrameBuilder bad;
  bad.counter(6).corrupt();
  append(out, bad.vec());
  append(out, e2e::frames(4, 7));
  append(out, Bytes(200, 0x00));
  const auto cut = e2e::frames(1, 11);
  out.insert(out.end(), cut.begin(), cut.begin() + 120);
  testing_frames::FrameBuilder false_sync;
  false_sync.counter(12).byte(100, 0xEB).byte(101, 0x90).corrupt();
  append(out, false_sync.vec());
  testing_frames::FrameBuilder escaped;
  escaped.counter(13).byte(60, 0x2B).byte(61, 0x2B).byte(62, 0x2D);
  append(out, testing_frames::escape_for_link(escaped.bytes));
  append(out, e2e::frames(20, 14));
  out.insert(out.end(), 50, 0x22);
  return out;
}

// The trace without the window title, which names the input.
std::string without_title(const std::string& trace) {
  std::string out;
  size_t from = 0;
  while (from < trace.size()) {
    size_t end = trace.find('\n', from);
    end = end == std::string::npos ? trace.size() : end + 1;
    const std::string line = trace.substr(from, end - from);
    if (line.find("\"op\":\"SetPanelAttribute\",\"attr\":1,") == std::string::npos) out += line;
    from = end;
  }
  return out;
}

TEST(PlaybackInput, pipes_fifos_and_standard_input_play_exactly_as_the_file) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), damaged_recording());
  const std::string args = "--headless --speed 0 --trace -";
  const RunResult file = run_in(dir, {"--headless", "--speed", "0", "--trace", "-", "rec.dat"});
  ASSERT_EQ(file.exit_code, 0) << file.err;
  const auto good = testing_trace::select(testing_trace::parse(file.out), "SetCtrlVal", "PANEL_STATUS");
  ASSERT_GT(file.out.size(), 0u);

  struct Case {
    const char* name;
    std::string script;
  };
  const Case cases[] = {
      {"a pipe into '-'", "cat \"$1\" | exec \"$0\" " + args + " -"},
      {"a file redirected to '-'", "exec \"$0\" " + args + " - < \"$1\""},
      {"a pipe by its /dev/stdin path, as <(...) gives", "cat \"$1\" | exec \"$0\" " + args + " /dev/stdin"},
      {"a FIFO", "mkfifo fifo && { cat \"$1\" > fifo & exec \"$0\" " + args + " fifo; }"},
  };
  for (const Case& c : cases) {
    std::remove(dir.file("fifo").c_str());
    const RunResult r = run_shell(dir, c.script, "rec.dat");
    EXPECT_EQ(r.exit_code, 0) << c.name << "\nstderr: " << r.err;
    EXPECT_EQ(without_title(r.out), without_title(file.out))
        << c.name << ": the same calls, frames, skips and statuses as the file";
  }
}

TEST(PlaybackInput, what_is_no_byte_stream_is_refused_with_the_reason_and_exit_1) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder"));
  // A socket file: a path that exists but is no file, pipe or device.
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sock_path = dir.file("sock");
  ASSERT_LT(sock_path.size(), sizeof addr.sun_path);
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock_path.c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input, reason;
  };
  const Case cases[] = {
      {"a directory, headless", {"--headless"}, "folder", "folder: Is a directory"},
      {"a directory, with the window", {}, "folder", "folder: Is a directory"},
      {"a socket", {"--headless"}, "sock", "sock: not a regular file, pipe, FIFO or character device"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(c.input);
    const RunResult r = run_in(dir, args);
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_EQ(r.out, "Cannot open input file " + c.input + "\n") << c.name;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << "\nstderr: " << r.err;
  }
  close(sock);
}

TEST(LauncherStart, without_a_home_folder_the_launcher_start_is_refused_with_the_reason) {
  // Qt takes "/" for a home HOME does not give: the session worked in
  // /vst_gse.
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(2, 1));
  struct Case {
    const char* name;
    std::string home;
    bool headless;
    std::string reason;
  };
  const Case cases[] = {
      {"HOME empty, headless", "HOME=", true, "HOME is not set"},
      {"HOME empty, with the window", "HOME=", false, "HOME is not set"},
      {"HOME relative", "HOME=op", true, "HOME is not an absolute path (\"op\")"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--launcher", "--speed", "0", "rec.dat"};
    if (c.headless) args.insert(args.begin(), "--headless");
    const RunResult r = run(vst_gse(), args, dir.path(), 60.0, {"QT_QPA_PLATFORM=offscreen", c.home});
    EXPECT_EQ(r.exit_code, 1) << c.name << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "Cannot work in ~/vst_gse: " + c.reason + ", so there is no home folder to work in\n") << c.name;
    if (!c.headless) {
      EXPECT_NE(r.err.find("dialog startupFailure: vst_gse cannot start | Cannot work in ~/vst_gse: " + c.reason), std::string::npos)
          << c.name << "\nstderr: " << r.err;
    }
  }
}

TEST(PlaybackInput, a_read_error_is_said_and_ends_the_run_with_status_6) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder"));
  struct Case {
    const char* name;
    std::string script;
    std::string said;
  };
  const Case cases[] = {
      // Standard input is a directory: open, but every read fails.
      {"playback", "exec \"$0\" --headless --speed 0 - < \"$1\"",
       "Cannot read input file - (standard input) to its end: Is a directory (playback ends there)\n"},
      // A "regular file" whose first read fails (EIO): no end of the file.
      {"link replay", "exec \"$0\" --headless --speed 0 --link-replay /proc/self/mem",
       "Cannot read input file /proc/self/mem to its end: Input/output error (playback ends there)\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = run_shell(dir, c.script, "folder");
    EXPECT_EQ(r.exit_code, 6) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.said) << c.name;
  }
}

TEST(EventScriptInput, a_control_byte_in_an_event_script_is_a_malformed_line_naming_it) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(3, 1));
  using namespace std::string_literals;
  struct Case {
    std::string script;
    const char* said;  // "" when the script is good
  };
  const Case cases[] = {
      {"\0"s "500 PANEL_QUIT\n", "events.txt:1: malformed line: control byte 0x00 at column 1"},
      {"0 PANEL_COUNT 5\0"s "0\n", "events.txt:1: malformed line: control byte 0x00 at column 16"},
      {"# set\n1 PANEL_COUNT\x01 7\n", "events.txt:2: malformed line: control byte 0x01 at column 14"},
      {"0 PANEL_STATUS a\x1b[2Jb\n", "events.txt:1: malformed line: control byte 0x1B at column 17"},
      {"0\tPANEL_COUNT\t5\r\n1 PANEL_QUIT\r\n", ""},  // tabs and CRLF line ends are fine
  };
  for (const auto& c : cases) {
    testing_files::write_file(dir.file("events.txt"), Bytes(c.script.begin(), c.script.end()));
    const RunResult r = run_in(dir, {"--headless", "--speed", "0", "--events", "events.txt", "rec.dat"});
    if (*c.said == '\0') {
      EXPECT_EQ(r.exit_code, 0) << r.err;
      continue;
    }
    EXPECT_EQ(r.exit_code, 2) << c.said;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
  }
}

TEST(PlaybackInput, a_zero_filled_record_is_no_frame_and_its_bytes_are_skipped) {
  TempDir dir;
  Bytes rec = e2e::frames(2, 1);
  rec.insert(rec.end(), 200, 0x00);  // a zero-filled tail after a crash, then more frames
  testing_frames::append(rec, e2e::frames(1, 3));
  const e2e::Playback p = e2e::play(dir, rec);
  ASSERT_EQ(p.result.exit_code, 0) << p.result.err;
  const auto good = e2e::good_passes(e2e::passes(p.trace));
  EXPECT_EQ(good.size(), 3u) << "frames 1, 2 and 3; the zeros are no frame";
  for (const auto& pass : good) {
    const auto dump = pass.select("SetCtrlVal", "PANEL_HEXDUMP");
    ASSERT_EQ(dump.size(), 1u);
    EXPECT_EQ(dump[0].field("value").substr(0, 5), "\nEB90") << "every frame shown starts with the sync word";
  }
  const auto skipped = testing_trace::select(p.trace, "SetCtrlVal", "PANEL_SKIPPED");
  ASSERT_FALSE(skipped.empty());
  EXPECT_EQ(skipped.back().int_field("value"), 200);
}

}  // namespace
