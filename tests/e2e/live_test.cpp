// Live mode through the built binary, with a pseudo-terminal standing for
// the instrument: port set-up, the run start, a received frame and its
// recording, the command switch and quit bytes, and the teardown.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>

#include "e2e_support.h"
#include "support/pty.h"

namespace {

using PtyPair = testing_pty::InstrumentPty;
using testing_files::TempDir;
using testing_trace::Line;

long long now_s() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<std::string> recordings_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ".dat") names.push_back(e.path().filename().string());
  return names;
}

int index_of(const std::vector<Line>& trace, const std::string& op, const std::string& value = "") {
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].op == op && (value.empty() || trace[i].field("value") == value)) return static_cast<int>(i);
  return -1;
}

std::string hex_of(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) out += std::string{digits[b >> 4], digits[b & 0xF]};
  return out;
}

// Runs a headless live session on the pty with the given event script.
testing_process::RunResult run_live(const PtyPair& pty, const TempDir& dir, const std::string& script) {
  testing_files::write_file(dir.file("events.txt"), {script.begin(), script.end()});
  return testing_process::run(testing_process::vst_gse(),
                              {"--headless", "--port", pty.slave_path(), "--trace", "-", "--events", "events.txt"},
                              dir.path(), 30.0, e2e::program_env());
}

TEST(LiveLink, CommandSwitchAndQuitSendTheirBytesAndTeardownIsInOrder) {
  PtyPair pty(/*hold_slave=*/true);
  TempDir dir;
  auto r = run_live(pty, dir, "0 PANEL_CMD 1\n0 PANEL_CMD 0\n0 PANEL_QUIT\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto trace = testing_trace::parse(r.out);

  auto open = testing_trace::select(trace, "OpenComConfig");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].int_field("port"), 1);
  EXPECT_EQ(open[0].field("device"), "COM1");
  EXPECT_EQ(open[0].field("path"), pty.slave_path());
  EXPECT_EQ(open[0].int_field("baud"), 19200);
  EXPECT_EQ(open[0].int_field("parity"), 0);
  EXPECT_EQ(open[0].int_field("data"), 8);
  EXPECT_EQ(open[0].int_field("stop"), 1);
  EXPECT_GE(open[0].int_field("result"), 0);

  // Start-up, the run start, the events, the quit bytes, the teardown.
  std::vector<int> order = {
      index_of(trace, "OpenComConfig"),
      index_of(trace, "LoadPanel"),
      index_of(trace, "DisplayPanel"),
      index_of(trace, "SetCtrlVal", "setting up serial port"),
      index_of(trace, "SetComTime"),
      index_of(trace, "SetCtrlVal", "serial port ready"),
      index_of(trace, "Event"),
      index_of(trace, "DiscardPanel"),
      index_of(trace, "CloseCom"),
  };
  for (size_t i = 0; i < order.size(); ++i) ASSERT_GE(order[i], 0) << "step " << i << " missing";
  for (size_t i = 1; i < order.size(); ++i) EXPECT_LT(order[i - 1], order[i]) << "step " << i << " out of order";
  EXPECT_EQ(trace.back().op, "CloseCom");
  auto times = testing_trace::select(trace, "SetComTime");
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[0].number_field("seconds"), 0.1);
  EXPECT_EQ(times[1].number_field("seconds"), 1.05);

  auto reads = testing_trace::select(trace, "GetCtrlVal", "PANEL_CMD");
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].int_field("value"), 1);
  EXPECT_EQ(reads[1].int_field("value"), 0);

  std::vector<uint8_t> expected(50, 0x41);
  expected.insert(expected.end(), {0x0D, 0x0A, 0x31, 0x0D});  // switch on: 54 bytes
  expected.insert(expected.end(), {0x33, 0x0D});              // switch off
  expected.insert(expected.end(), {0x33, 0x0D});              // quit
  std::string sent;
  for (const auto& w : testing_trace::select(trace, "ComWrtByte")) sent += w.field("hex");
  EXPECT_EQ(sent, hex_of(expected)) << "one ComWrtByte per byte";
  int quit = index_of(trace, "Event");
  for (int i = quit; i < static_cast<int>(trace.size()); ++i)
    if (trace[i].op == "Event") quit = i;
  EXPECT_EQ(trace[quit].ctrl, "PANEL_QUIT");
  ASSERT_LT(quit + 3, static_cast<int>(trace.size()));
  EXPECT_EQ(trace[quit + 1].field("hex"), "33");
  EXPECT_EQ(trace[quit + 2].field("hex"), "0D");
  EXPECT_EQ(trace[quit + 3].op, "DiscardPanel");

  EXPECT_EQ(pty.receive(expected.size(), std::chrono::milliseconds(5000)), expected);
  auto recs = recordings_in(dir.path());
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(std::filesystem::file_size(dir.file(recs[0])), 0u) << "nothing was received";
}

// Starts live mode over the pty, sends one frame once the run start is over,
// and quits after that frame pass.
struct LiveRun {
  int exit_code = -1;
  std::string out;  // standard output
  std::vector<Line> trace;
};

LiveRun live_run_with_one_frame(const TempDir& dir, PtyPair& pty, const std::vector<uint8_t>& sent) {
  std::string script = "1 PANEL_QUIT\n";
  testing_files::write_file(dir.file("events.txt"), {script.begin(), script.end()});
  testing_process::Child child(testing_process::vst_gse(),
                               {"--headless", "--port", pty.slave_path(), "--trace", "trace.txt", "--events", "events.txt"},
                               dir.path(), dir.file("out.txt"), e2e::program_env());
  // Bytes pending at the run start are drained: send after it.
  bool ready = testing_process::wait_until(20.0, [&] {
    return testing_files::read_text(dir.file("trace.txt")).find("serial port ready") != std::string::npos;
  });
  LiveRun r;
  EXPECT_TRUE(ready) << "the run start never finished";
  if (!ready) return r;
  pty.send(sent);
  r.exit_code = child.wait(20.0);
  r.out = testing_files::read_text(dir.file("out.txt"));
  r.trace = testing_trace::parse(testing_files::read_text(dir.file("trace.txt")));
  return r;
}

TEST(LiveLink, ReceivedFrameIsShownAndEveryReceivedByteRecorded) {
  PtyPair pty(/*hold_slave=*/true);
  TempDir dir;
  auto frame = e2e::numbered_frame(7);
  std::vector<uint8_t> sent = testing_frames::escape_for_link(frame);
  long long before = now_s();
  LiveRun r = live_run_with_one_frame(dir, pty, sent);
  long long after = now_s();

  EXPECT_EQ(r.exit_code, 0);
  ASSERT_GE(index_of(r.trace, "SetCtrlVal", " "), 0) << "no good frame shown";
  auto dump = testing_trace::select(r.trace, "SetCtrlVal", "PANEL_HEXDUMP");
  ASSERT_EQ(dump.size(), 1u);
  std::string compact;
  for (char c : dump[0].field("value"))
    if (c != '\n') compact += c;
  EXPECT_EQ(compact, hex_of({frame.begin(), frame.end()}));

  auto recs = recordings_in(dir.path());
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_TRUE(recs[0] == e2e::recording_name_at(before) || recs[0] == e2e::recording_name_at(after))
      << "recording named " << recs[0];
  EXPECT_EQ(testing_files::read_file(dir.file(recs[0])), sent);
}

TEST(LiveLink, RecordingThatCannotBeCreatedIsFlaggedAndReceptionGoesOn) {
  PtyPair pty(/*hold_slave=*/true);
  TempDir dir;
  long long before = now_s();
  for (long long t : {before, before + 60})
    std::filesystem::create_directory(dir.file(e2e::recording_name_at(t)));
  auto frame = e2e::numbered_frame(9);
  LiveRun r = live_run_with_one_frame(dir, pty, testing_frames::escape_for_link(frame));

  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("NOT RECORDING", 0), 0u) << "stdout: " << r.out;
  auto title = testing_trace::select(r.trace, "SetPanelAttribute");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_NE(title[0].field("value").find("NOT RECORDING"), std::string::npos) << title[0].raw;
  EXPECT_GE(index_of(r.trace, "SetCtrlVal", " "), 0) << "the frame is still shown";
}

TEST(LiveLink, RunRestartSetsThePortUpAgain) {
  PtyPair pty(/*hold_slave=*/true);
  TempDir dir;
  auto r = run_live(pty, dir, "0 PANEL_STATUS\n0 PANEL_QUIT\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  auto trace = testing_trace::parse(r.out);
  std::string steps;
  for (const auto& l : trace) {
    if (l.op == "SetComTime") steps += "time " + l.field("seconds") + "; ";
    if (l.op == "SetCtrlVal" && l.ctrl == "PANEL_STATUS") steps += l.field("value") + "; ";
    if (l.op == "Event") steps += l.ctrl + "; ";
  }
  EXPECT_EQ(steps,
            "setting up serial port; time 0.10000000000000001; time 1.05; serial port ready; PANEL_STATUS; "
            "setting up serial port; time 0.10000000000000001; time 1.05; serial port ready; PANEL_QUIT; ");
  EXPECT_EQ(testing_trace::select(trace, "OpenComConfig").size(), 1u) << "the port is not reopened";
}

TEST(LiveLink, SigtermActsAsTheQuitButton) {
  PtyPair pty(/*hold_slave=*/true);
  TempDir dir;
  testing_process::Child child(testing_process::vst_gse(),
                               {"--headless", "--port", pty.slave_path(), "--trace", "trace.txt"},
                               dir.path(), dir.file("out.txt"), e2e::program_env());
  ASSERT_TRUE(testing_process::wait_until(20.0, [&] {
    return testing_files::read_text(dir.file("trace.txt")).find("serial port ready") != std::string::npos;
  }));
  child.signal(SIGTERM);
  // The silent link holds a frame pass for up to 1.05 s per read.
  EXPECT_EQ(child.wait(15.0), 0);
  auto trace = testing_trace::parse(testing_files::read_text(dir.file("trace.txt")));
  int quit = index_of(trace, "Event");
  ASSERT_GE(quit, 0);
  EXPECT_EQ(trace[quit].ctrl, "PANEL_QUIT");
  std::string after;
  for (size_t i = quit + 1; i < trace.size(); ++i) after += trace[i].op + trace[i].field("hex") + " ";
  EXPECT_EQ(after, "ComWrtByte33 ComWrtByte0D DiscardPanel CloseCom ");
  EXPECT_EQ(pty.receive(2, std::chrono::milliseconds(5000)), (std::vector<uint8_t>{0x33, 0x0D}));
}

}  // namespace
