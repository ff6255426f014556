// A live rehearsal: gse_sim plays the instrument on a pseudo-terminal it
// creates, and vst_gse receives from it at the link's full rate.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "sim_log.h"
#include "support/files.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace {

using testing_files::read_file;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;

std::string pty_path_in(const std::string& sim_out) {
  auto at = sim_out.find("pty ");
  if (at == std::string::npos) return "";
  auto end = sim_out.find('\n', at);
  if (end == std::string::npos) return "";
  return sim_out.substr(at + 4, end - at - 4);
}

std::string only_recording(const std::string& dir) {
  std::string found;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dat") found = e.path().string();
  return found;
}

TEST(Rehearsal, every_frame_after_the_run_start_is_shown_acknowledged_and_recorded) {
  TempDir dir;
  constexpr int FRAMES = 60;  // about 7 s at 1920 bytes/s
  Child sim(testing_process::gse_sim(),
            {"--pty", "--seed", "11", "--frames", std::to_string(FRAMES), "--save", dir.file("sent.bin")},
            dir.path(), dir.file("sim.out"));
  std::string pty;
  ASSERT_TRUE(wait_until(10, [&] { return !(pty = pty_path_in(read_text(dir.file("sim.out")))).empty(); }))
      << "gse_sim printed no pty path";

  // The station reaches the pty through a link that goes once the port is
  // open. When the simulator hangs up, the station tries to reopen its port:
  // by the pty's own path it could open another test's pty that took the
  // freed number, and read that test's bytes.
  const std::string port = dir.file("port");
  std::filesystem::create_symlink(pty, port);
  Child gse(testing_process::vst_gse(), {"--headless", "--port", port, "--trace", dir.file("trace.jsonl")},
            dir.path(), dir.file("gse.out"), {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_TRUE(wait_until(30, [&] {
    return read_text(dir.file("trace.jsonl")).find("serial port ready") != std::string::npos;
  })) << "the station never finished its run start";
  std::filesystem::remove(port);
  ASSERT_EQ(sim.wait(60), 0) << read_text(dir.file("sim.out"));
  // Let the station take the last frame, then stop it as an operator would.
  wait_until(3, [&] {
    return read_text(dir.file("trace.jsonl")).find("COM1 err: too few bytes read") != std::string::npos;
  });
  gse.signal(SIGTERM);
  ASSERT_EQ(gse.wait(10), 0);

  std::vector<uint8_t> sent = read_file(dir.file("sent.bin"));
  std::vector<uint8_t> recorded = read_file(only_recording(dir.path()));
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
