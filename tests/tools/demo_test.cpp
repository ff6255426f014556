// The committed demo recording: it is what its documented simulator command
// makes, and it plays to its end with the good frames and skipped bytes that
// the simulator's own fault log predicts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "sim_log.h"
#include "support/files.h"
#include "support/process.h"
#include "support/trace_reader.h"

using testing_files::TempDir;
using testing_process::run;

namespace {

// The simulator options that made data/demo.dat (tools/CMakeLists.txt).
std::vector<std::string> demo_args() {
  std::istringstream words(GSE_DEMO_ARGS);
  std::vector<std::string> args;
  std::string w;
  while (words >> w) args.push_back(w);
  return args;
}

std::string demo_path() { return testing_files::source_dir() + "/data/demo.dat"; }

class DemoRecording : public ::testing::Test {
 protected:
  void SetUp() override {
    auto args = demo_args();
    args.push_back("--out");
    args.push_back(dir_.file("demo.dat"));
    auto r = run(testing_process::gse_sim(), args, dir_.path(), 60.0);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    remade_ = testing_files::read_file(dir_.file("demo.dat"));
    log_ = sim_testing::parse_log(r.out);
  }

  TempDir dir_;
  std::vector<uint8_t> remade_;
  std::vector<sim_testing::LoggedFrame> log_;
};

TEST_F(DemoRecording, is_what_its_documented_command_makes_and_under_1_MiB) {
  auto committed = testing_files::read_file(demo_path());
  ASSERT_FALSE(committed.empty()) << demo_path();
  EXPECT_LT(committed.size(), 1u << 20);
  EXPECT_TRUE(committed == remade_) << "data/demo.dat differs from the output of its command";
}

TEST_F(DemoRecording, plays_to_its_end_with_the_frames_and_skips_its_fault_log_predicts) {
  ASSERT_GE(log_.size(), 1000u) << "a few minutes of frames";
  ASSERT_FALSE(log_.back().broken()) << "the prediction needs a clean last frame";
  int faults = 0;
  for (const auto& f : log_) faults += f.broken() || f.noise > 0;
  ASSERT_GE(faults, 3) << "the demo shows a few faults";
  auto want = sim_testing::expected_playback(log_);

  TempDir run_dir;
  auto r = run(testing_process::vst_gse(), {"--headless", "--speed", "0", "--trace", "-", demo_path()},
               testing_files::bin_dir(), 300.0);
  ASSERT_FALSE(r.timed_out);
  ASSERT_EQ(r.exit_code, 0) << r.err;

  auto lines = testing_trace::parse(r.out);
  // The service loop shows the skipped-byte count once after every good frame.
  auto shown = testing_trace::select(lines, "SetCtrlVal", "PANEL_SKIPPED");
  EXPECT_EQ(static_cast<int>(shown.size()), want.good);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.back().int_field("value"), want.skipped);
  EXPECT_EQ(static_cast<int>(testing_trace::select(lines, "SetCtrlVal", "PANEL_W2_HI").size()), want.good);
}

}  // namespace
