// The built vst_gse started from the desktop, in Qt's offscreen platform: a
// port that cannot be opened offers the chooser (answered through
// VST_GSE_DIALOG_ANSWERS), other start-up failures a notice, and a quit
// asks only when the operator closes a live window.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/frames.h"
#include "support/paced_sender.h"
#include "support/process.h"
#include "support/pty.h"

namespace {

using testing_files::TempDir;
using testing_process::run;
using testing_process::RunResult;
using testing_process::vst_gse;

const char* const OFFSCREEN = "QT_QPA_PLATFORM=offscreen";

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The instrument sending good frames until the test ends.
struct Sender : testing_pty::PacedSender {
  explicit Sender(testing_pty::InstrumentPty& pty)
      : PacedSender(pty, std::chrono::milliseconds(50), [](uint32_t) {
          std::vector<uint8_t> frame;
          testing_frames::append(frame, testing_frames::FrameBuilder().counter(1).bytes);
          return frame;
        }) {}
};

TEST(DesktopStart, port_failure_shows_the_chooser_and_cancel_exits_1_with_the_same_line) {
  TempDir headless_dir, window_dir;
  const std::vector<std::string> args{"--port", "/dev/does-not-exist"};
  std::vector<std::string> headless_args = args;
  headless_args.push_back("--headless");
  const RunResult headless = run(vst_gse(), headless_args, headless_dir.path(), 60.0, {OFFSCREEN});
  const RunResult window =
      run(vst_gse(), args, window_dir.path(), 60.0, {OFFSCREEN, "VST_GSE_DIALOG_ANSWERS=reject"});
  EXPECT_EQ(headless.exit_code, 1) << headless.err;
  EXPECT_EQ(window.exit_code, 1) << window.err;
  EXPECT_EQ(window.out, headless.out) << "the same line on standard output";
  EXPECT_TRUE(has(headless.out, "COM1 port error")) << headless.out;
  EXPECT_TRUE(has(window.err, "vst_gse: dialog portChooser: ")) << window.err;
  EXPECT_TRUE(has(window.err, "COM1 (/dev/does-not-exist) cannot be opened")) << window.err;
  EXPECT_FALSE(has(headless.err, "dialog")) << "headless never asks\n" << headless.err;
}

TEST(DesktopStart, a_missing_input_file_is_also_told_in_a_dialog) {
  TempDir dir;
  const RunResult r = run(vst_gse(), {"missing.dat"}, dir.path(), 60.0, {OFFSCREEN});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Cannot open input file missing.dat\n");
  EXPECT_TRUE(has(r.err, "vst_gse: dialog startupFailure: ")) << r.err;
  EXPECT_TRUE(has(r.err, "Cannot open input file missing.dat: No such file or directory")) << r.err;
}

// Retry on a device typed into the chooser (a pseudo-terminal): the session
// runs on it, the window names it, and SIGTERM ends it without a question.
TEST(DesktopStart, retry_on_a_typed_pty_runs_the_session_and_a_signal_quits_without_asking) {
  TempDir dir;
  testing_pty::InstrumentPty pty;
  Sender sender(pty);
  const std::string err_path = dir.file("err.txt");
  testing_process::Child child(
      "/bin/sh", {"-c", "exec \"$0\" \"$@\" 2>\"$ERR\"", vst_gse(), "--port", "/dev/does-not-exist"}, dir.path(),
      dir.file("out.txt"),
      {OFFSCREEN, "ERR=" + err_path, "VST_GSE_DIALOG_ANSWERS=accept:" + pty.slave_path()});
  // Running: the recording grows with what the instrument sends.
  auto recording_grows = [&] {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".dat" && e.file_size() > 0) return true;
    return false;
  };
  ASSERT_TRUE(testing_process::wait_until(60.0, recording_grows)) << read_all(err_path);
  child.signal(SIGTERM);
  EXPECT_EQ(child.wait(60.0), 0) << read_all(err_path);
  const std::string out = read_all(dir.file("out.txt"));
  EXPECT_EQ(out.find("COM1 port error"), out.rfind("COM1 port error")) << "one line for the one failure\n" << out;
  EXPECT_TRUE(has(out, "COM1 port error")) << out;
  const std::string err = read_all(err_path);
  EXPECT_TRUE(has(err, "dialog portChooser")) << err;
  EXPECT_FALSE(has(err, "dialog quitQuestion")) << "a signal never asks\n" << err;
}

// An event script's quit in a live window never asks either.
TEST(DesktopStart, a_scripted_quit_in_a_live_window_does_not_ask) {
  TempDir dir;
  testing_pty::InstrumentPty pty;
  Sender sender(pty);
  std::ofstream(dir.file("quit.txt")) << "2 PANEL_QUIT\n";
  const RunResult r = run(vst_gse(), {"--port", pty.slave_path(), "--events", "quit.txt"}, dir.path(), 60.0,
                          {OFFSCREEN});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_FALSE(has(r.err, "dialog")) << r.err;
}

}  // namespace
