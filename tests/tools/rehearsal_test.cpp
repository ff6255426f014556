// A live rehearsal: gse_sim plays the instrument on a pseudo-terminal it
// creates, and vst_gse receives from it at the link's full rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim_log.h"
#include "support/files.h"
#include "support/process.h"
#include "support/rehearsal.h"
#include "support/trace_reader.h"

namespace {

using testing_files::read_file;
using testing_files::read_text;
using testing_files::TempDir;

TEST(Rehearsal, every_frame_after_the_run_start_is_shown_acknowledged_and_recorded) {
  TempDir dir;
  constexpr int FRAMES = 60;  // about 7 s at 1920 bytes/s
  // The last frame's acknowledgement may come late on a loaded machine.
  testing_process::Rehearsal live(dir, {"--seed", "11", "--frames", std::to_string(FRAMES), "--linger", "5"});
  ASSERT_EQ(live.failure(), "");
  ASSERT_EQ(live.finish(60), 0) << live.sim_output();

  const std::vector<uint8_t> sent = live.sent();
  ASSERT_EQ(live.recordings().size(), 1u);
  const std::vector<uint8_t> recorded = read_file(live.recordings()[0]);
  ASSERT_FALSE(recorded.empty());
  ASSERT_LE(recorded.size(), sent.size());
  // The run start drains what came before it; from then on every byte is kept.
  size_t start = sent.size() - recorded.size();
  EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), sent.begin() + static_cast<long>(start)))
      << "the recording is not the tail of what was sent";

  // Every frame that began after the drain is shown, and every tenth
  // completed one acknowledged.
  auto log = sim_testing::parse_log(read_text(dir.file("sim.out")));
  ASSERT_EQ(log.size(), static_cast<size_t>(FRAMES));
  size_t offset = 0;
  int whole_frames = 0;
  for (const auto& f : log) {
    if (offset >= start) ++whole_frames;
    offset += static_cast<size_t>(f.sent);
  }
  auto trace = testing_trace::parse(read_text(dir.file("trace.jsonl")));
  int shown = static_cast<int>(testing_trace::select(trace, "SetCtrlVal", "PANEL_HEXDUMP").size());
  EXPECT_EQ(shown, whole_frames);
  // Start-up and the run start's drain take the first frames; how many
  // depends on the machine's load. Enough must remain to judge.
  EXPECT_GE(whole_frames, 20) << "the start-up and drain took most of the frames";

  std::string sim_out = read_text(dir.file("sim.out"));
  int acks = 0;
  for (size_t at = 0; (at = sim_out.find("uplink RCVD", at)) != std::string::npos; ++at) ++acks;
  EXPECT_EQ(acks, shown / 10) << sim_out;
}

}  // namespace
