// Live mode end to end: the built vst_gse, headless, on a pseudo-terminal on
// which the test plays the instrument: port set-up and run start, reception,
// recording, acknowledgement, the command switch, quit and teardown.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>
#include <thread>

#include "live_session.h"
#include "support/frames.h"

namespace {

using live_testing::LiveSession;
using testing_frames::FrameBuilder;
using testing_frames::escape_for_link;
using testing_trace::Line;
using namespace live_testing;

constexpr double START_S = 15.0;  // generous: start-up under a loaded machine
constexpr double PASS_S = 10.0;   // bound on one frame pass being seen in the trace

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> from_hex(const std::string& hex_text) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex_text.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex_text.substr(i, 2), nullptr, 16)));
  return out;
}

// Stores "++-" at `offset` of the frame; on the link it becomes "++-1".
FrameBuilder& with_plus_minus(FrameBuilder& f, int offset) {
  return f.byte(offset, 0x2B).byte(offset + 1, 0x2B).byte(offset + 2, 0x2D);
}

// The link form of a frame that stores "+++" once, sent with the other
// escape: "++--".
std::vector<uint8_t> link_with_double_minus(const FrameBuilder& f) {
  std::vector<uint8_t> link = escape_for_link(f.bytes);
  for (size_t i = 2; i + 2 < link.size(); ++i) {
    if (link[i] == 0x2B && link[i + 1] == 0x2B && link[i + 2] == 0x2B) {
      link[i + 2] = 0x2D;
      link.insert(link.begin() + static_cast<long>(i) + 3, 0x2D);
      return link;
    }
  }
  ADD_FAILURE() << "frame stores no \"+++\" to escape";
  return link;
}

// PANEL_STATUS texts after the first "serial port ready", without the
// time-outs of a link that was still silent before the test sent anything.
std::vector<std::string> statuses_after_ready(const std::vector<Line>& trace) {
  const auto all = values_of(trace, "PANEL_STATUS");
  auto at = std::find(all.begin(), all.end(), STATUS_READY);
  if (at == all.end()) return {};
  ++at;
  while (at != all.end() && *at == STATUS_TIMEOUT) ++at;
  return {at, all.end()};
}

// The quit was taken as PANEL_QUIT; it sent "3\r", then the panel went,
// then the port, with nothing else in between.
void expect_orderly_teardown(const std::vector<Line>& trace, const std::string& how) {
  size_t quit = trace.size();
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].op == "Event" && trace[i].ctrl == "PANEL_QUIT") quit = i;
  ASSERT_LT(quit, trace.size()) << how << ": no PANEL_QUIT event in the trace";
  const size_t close = find_op(trace, "CloseCom", quit);
  ASSERT_LT(close, trace.size()) << how << ": no CloseCom after the quit";
  std::string after_quit;
  for (size_t i = quit + 1; i <= close; ++i) after_quit += trace[i].op + trace[i].field("hex") + " ";
  EXPECT_EQ(after_quit, "ComWrtByte33 ComWrtByte0D DiscardPanel CloseCom ")
      << how << ": the quit bytes, then the panel, then the port";
}

// The recording's name for a start at time t: "%1d%03d%02d%02d.dat" of the
// local year's last digit, day of the year, hour and minute.
std::string recording_name_at(std::time_t t) {
  const std::tm* local = std::localtime(&t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%1d%03d%02d%02d.dat", local->tm_year % 10, local->tm_yday,
                local->tm_hour, local->tm_min);
  return buf;
}

std::string stdout_of(const LiveSession& s) {
  return testing_files::read_text(s.dir().file("stdout.txt"));
}

TEST(LiveLink, stream_with_escapes_noise_and_faults_is_shown_counted_and_recorded_byte_for_byte) {
  // Pending on the link when the program starts: thrown away by the run
  // start's drain, so neither recorded nor counted.
  LiveSession s("", bytes_of("drained-noise-drained-noise"));
  InstrumentPty* link = &s.link();
  ASSERT_TRUE(s.wait_for_status(STATUS_READY, START_S)) << "no run start; stdout: " << stdout_of(s);

  FrameBuilder good1;
  good1.counter(1).word(10, 1111);
  with_plus_minus(good1, 40);
  FrameBuilder bad = FrameBuilder().counter(2).word(10, 2222).corrupt();
  FrameBuilder good2;
  good2.counter(3).word(10, 3333).byte(60, 0x2B).byte(61, 0x2B).byte(62, 0x2B);
  with_plus_minus(good2, 100);
  // Sync values inside a frame's body are plain data.
  FrameBuilder good3 = FrameBuilder().counter(4).byte(50, 0xEB).byte(51, 0x90);

  const std::vector<uint8_t> noise1{0x00, 0x55, 0x90, 0x2B, 0x2B, 0x2D, 0x31};  // 7 skipped
  const std::vector<uint8_t> noise2{0xEB, 0x00, 0x7E};  // 0xEB 0x00 counts once: 2 skipped
  // Sync, 10 data bytes, "++-X": fails with 14 bytes stored.
  std::vector<uint8_t> illegal{0xEB, 0x90};
  illegal.insert(illegal.end(), 10, 0x11);
  testing_frames::append(illegal, std::vector<uint8_t>{0x2B, 0x2B, 0x2D, 0x58});
  const std::vector<uint8_t> rest_of_broken(20, 0x22);  // hunted over: 20 skipped
  std::vector<uint8_t> partial = escape_for_link(FrameBuilder().counter(5).bytes);
  partial.resize(150);  // then the link stays silent past the time-out

  std::vector<uint8_t> sent;  // everything after the drain, as the link carried it
  auto put = [&](const std::vector<uint8_t>& bytes) { testing_frames::append(sent, bytes); };
  put(noise1);
  put(escape_for_link(good1.bytes));
  put(noise2);
  put(escape_for_link(bad.bytes));
  put(illegal);
  put(rest_of_broken);
  put(link_with_double_minus(good2));
  put(partial);
  link->send(sent);

  const std::vector<std::string> before_timeout{STATUS_GOOD, STATUS_CHECKSUM, STATUS_ILLEGAL,
                                                STATUS_GOOD, STATUS_TIMEOUT};
  ASSERT_TRUE(testing_process::wait_until(
      PASS_S, [&] { return statuses_after_ready(s.trace()).size() >= before_timeout.size(); }))
      << "the program did not get through the stream";
  const std::vector<uint8_t> last = escape_for_link(good3.bytes);
  put(last);
  link->send(last);
  ASSERT_TRUE(s.wait_for_lines(3, "SetCtrlVal", "PANEL_HEXDUMP", PASS_S)) << "third good frame not shown";

  // Read while the program still runs: the recording is on disk already.
  const std::vector<uint8_t> recorded = s.recording();
  EXPECT_EQ(recorded.size(), sent.size()) << "recording length while running";
  EXPECT_TRUE(recorded == sent) << "recording while running differs from what the link carried"
                                << "\n  sent:     " << printable(sent)
                                << "\n  recorded: " << printable(recorded);

  const auto trace = s.trace();
  auto statuses = statuses_after_ready(trace);
  std::vector<std::string> expected = before_timeout;
  expected.push_back(STATUS_GOOD);
  ASSERT_GE(statuses.size(), expected.size());
  for (size_t i = expected.size(); i < statuses.size(); ++i)
    EXPECT_EQ(statuses[i], STATUS_TIMEOUT) << "status of silent pass " << i;
  statuses.resize(expected.size());
  EXPECT_EQ(statuses, expected) << "status line of each frame pass: noise+good, bad checksum, "
                                   "illegal escape, good, time-out, good";

  const std::vector<std::string> dumps{hex_dump(good1.vec()), hex_dump(good2.vec()),
                                       hex_dump(good3.vec())};
  EXPECT_EQ(values_of(trace, "PANEL_HEXDUMP"), dumps) << "hex dump of each good frame, escapes undone";
  EXPECT_EQ(values_of(trace, "PANEL_COUNT"), (std::vector<std::string>{"999", "998", "997"}))
      << "the live count starts at 1000";
  // 7 noise; then 2 noise + 200 bad checksum + 14 stored before the illegal
  // escape + 20 hunted; the abandoned partial frame adds nothing.
  const std::vector<std::string> skipped{"7", "243", "243"};
  EXPECT_EQ(values_of(trace, "PANEL_SKIPPED"), skipped) << "PANEL_SKIPPED at each good frame";
  EXPECT_EQ(hex_sent(trace, "ComWrt"), "") << "no acknowledgement before the tenth frame";

  EXPECT_EQ(s.quit_by_signal(), 0) << "exit status after SIGTERM";
  link->collect_until(2, std::chrono::seconds(3));
  EXPECT_EQ(hex(link->received()), "330D") << "bytes the instrument received";
  expect_orderly_teardown(s.trace(), "SIGTERM");
  EXPECT_TRUE(s.recording() == sent) << "recording after teardown differs from what the link carried";
}

TEST(LiveLink, acknowledges_every_tenth_completed_frame_even_when_it_fails_its_checksum) {
  LiveSession s;
  ASSERT_TRUE(s.wait_for_status(STATUS_READY, START_S)) << "no run start; stdout: " << stdout_of(s);
  InstrumentPty& link = s.link();
  auto frames = [](int first, int n) {
    std::vector<uint8_t> out;
    for (int i = first; i < first + n; ++i)
      testing_frames::append(out, escape_for_link(FrameBuilder().counter(i).word(10, i).bytes));
    return out;
  };
  auto hexdumps_shown = [&](size_t n) {
    return s.wait_for_lines(n, "SetCtrlVal", "PANEL_HEXDUMP", PASS_S);
  };

  // Nine completed frames, with an illegal escape among them: it completes
  // nothing, so it does not count.
  std::vector<uint8_t> stream = frames(1, 5);
  testing_frames::append(stream, std::vector<uint8_t>{0xEB, 0x90, 0x01, 0x2B, 0x2B, 0x2D, 0x00});
  testing_frames::append(stream, frames(6, 4));
  link.send(stream);
  ASSERT_TRUE(hexdumps_shown(9));
  link.collect();
  EXPECT_EQ(printable(link.received()), "") << "after 9 completed frames";

  // The tenth fails its checksum and is still acknowledged.
  link.send(escape_for_link(FrameBuilder().counter(10).corrupt().bytes));
  ASSERT_TRUE(s.wait_for_status(STATUS_CHECKSUM, PASS_S));
  link.collect_until(5, std::chrono::seconds(3));
  EXPECT_EQ(printable(link.received()), "RCVD\\x0D") << "after the 10th (bad) frame";

  link.send(frames(11, 9));
  ASSERT_TRUE(hexdumps_shown(18));
  link.collect();
  EXPECT_EQ(printable(link.received()), "RCVD\\x0D") << "after 19 completed frames";

  link.send(frames(20, 1));
  ASSERT_TRUE(hexdumps_shown(19));
  link.collect_until(10, std::chrono::seconds(3));
  EXPECT_EQ(printable(link.received()), "RCVD\\x0DRCVD\\x0D") << "after the 20th frame";

  EXPECT_EQ(s.quit_by_signal(), 0);
}

TEST(LiveLink, command_switch_and_quit_send_their_bytes_and_the_session_runs_in_order) {
  const std::time_t started = std::time(nullptr);
  LiveSession s("0 PANEL_CMD 1\n0 PANEL_CMD 0\n0 PANEL_QUIT\n");
  InstrumentPty& link = s.link();
  EXPECT_EQ(s.program().wait(30.0), 0) << "exit status; stdout: " << stdout_of(s);
  const std::time_t ended = std::time(nullptr);
  link.collect_until(58, std::chrono::seconds(5));
  const std::string on = std::string(50, 'A') + "\\x0D\\x0A1\\x0D";
  const std::string off = "3\\x0D";
  EXPECT_EQ(printable(link.received()), on + off + off)
      << "switch on (54 bytes), switch off (2 bytes), then quit (2 bytes)";

  const auto trace = s.trace();
  EXPECT_EQ(printable(from_hex(hex_sent(trace, "ComWrtByte"))), on + off + off);
  EXPECT_EQ(testing_trace::select(trace, "ComWrtByte").size(), 58u) << "one ComWrtByte per byte";
  std::vector<std::string> reads;
  for (const auto& line : testing_trace::select(trace, "GetCtrlVal", "PANEL_CMD"))
    reads.push_back(line.field("value"));
  EXPECT_EQ(reads, (std::vector<std::string>{"1", "0"})) << "switch values read";

  const auto open = testing_trace::select(trace, "OpenComConfig");
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].int_field("port"), 1);
  EXPECT_EQ(open[0].field("device"), "COM1");
  EXPECT_EQ(open[0].field("path"), link.slave_path());
  EXPECT_EQ(open[0].int_field("baud"), 19200);
  EXPECT_EQ(open[0].int_field("parity"), 0);
  EXPECT_EQ(open[0].int_field("data"), 8);
  EXPECT_EQ(open[0].int_field("stop"), 1);
  EXPECT_EQ(open[0].int_field("result"), 0) << "the pseudo-terminal opened";

  // Start-up, the run start, the events, the teardown.
  auto index_of = [&](const std::string& op, const std::string& value = "") {
    for (size_t i = 0; i < trace.size(); ++i)
      if (trace[i].op == op && (value.empty() || trace[i].field("value") == value)) return static_cast<int>(i);
    return -1;
  };
  const std::vector<int> order = {
      index_of("OpenComConfig"), index_of("LoadPanel"),  index_of("DisplayPanel"),
      index_of("SetCtrlVal", STATUS_SETUP), index_of("SetComTime"),
      index_of("SetCtrlVal", STATUS_READY), index_of("Event"), index_of("DiscardPanel"),
      index_of("CloseCom"),
  };
  for (size_t i = 0; i < order.size(); ++i) ASSERT_GE(order[i], 0) << "step " << i << " missing";
  for (size_t i = 1; i < order.size(); ++i) EXPECT_LT(order[i - 1], order[i]) << "step " << i << " out of order";
  const auto times = testing_trace::select(trace, "SetComTime");
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[0].number_field("seconds"), 0.1) << "the drain's time-out";
  EXPECT_EQ(times[1].number_field("seconds"), 1.05) << "the link's time-out";
  expect_orderly_teardown(trace, "scripted quit");
  EXPECT_EQ(trace.back().op, "CloseCom");

  // The recording is named from the start time and holds nothing: the link
  // was silent.
  const auto found = s.recordings();
  ASSERT_EQ(found.size(), 1u);
  const std::string name = std::filesystem::path(found[0]).filename().string();
  EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]{8}\\.dat"))) << name;
  EXPECT_TRUE(name == recording_name_at(started) || name == recording_name_at(ended))
      << name << " is not named from the start time (" << recording_name_at(started) << ")";
  EXPECT_TRUE(testing_files::read_file(found[0]).empty()) << "recording of a silent link";
}

TEST(LiveLink, a_recording_that_cannot_be_created_is_flagged_and_reception_goes_on) {
  // Run as root, an unwritable folder is no obstacle: a directory of the
  // recording's name (this minute's and the next) is.
  const std::time_t now = std::time(nullptr);
  LiveSession s("", {}, [now](const testing_files::TempDir& dir) {
    for (std::time_t t : {now, now + 60}) std::filesystem::create_directory(dir.file(recording_name_at(t)));
  });
  ASSERT_TRUE(s.wait_for_status(STATUS_READY, START_S)) << "no run start; stdout: " << stdout_of(s);
  s.link().send(escape_for_link(FrameBuilder().counter(9).bytes));
  EXPECT_TRUE(s.wait_for_status(STATUS_GOOD, PASS_S)) << "the frame is still shown";
  EXPECT_EQ(s.quit_by_signal(), 3) << "nothing received is in a file";
  EXPECT_EQ(stdout_of(s).rfind("NOT RECORDING", 0), 0u) << "stdout: " << stdout_of(s);
  const auto title = testing_trace::select(s.trace(), "SetPanelAttribute");
  ASSERT_EQ(title.size(), 1u);
  EXPECT_NE(title[0].field("value").find("NOT RECORDING"), std::string::npos) << title[0].raw;
}

TEST(LiveLink, a_run_restart_sets_the_port_up_again_without_reopening_it) {
  LiveSession s("0 PANEL_STATUS\n0 PANEL_QUIT\n");
  EXPECT_EQ(s.program().wait(30.0), 0) << "exit status; stdout: " << stdout_of(s);
  const auto trace = s.trace();
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

TEST(LiveLink, run_start_drain_ends_while_the_sender_never_pauses) {
  LiveSession s;
  InstrumentPty& link = s.link();

  // A sender that never falls silent for the drain's 0.1 s, from before the
  // program opens the port: a counting pattern below 0xEB, so nothing on it
  // looks like a frame.
  std::atomic<bool> stop{false};
  std::vector<uint8_t> sent;
  std::thread sender([&] {
    uint8_t chunk[32];
    while (!stop.load()) {
      for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<uint8_t>((sent.size() + i) % 200);
      const size_t n = link.send_some(chunk, sizeof chunk);
      sent.insert(sent.end(), chunk, chunk + n);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  const bool ready = s.wait_for_status(STATUS_READY, 10.0);
  stop.store(true);
  sender.join();
  EXPECT_TRUE(ready) << "run start still draining after 10 s of a sender that never pauses";

  EXPECT_EQ(s.quit_by_signal(), 0);
  // What the drain took is not recorded; what came after it is, in order.
  const std::vector<uint8_t> recorded = s.recording();
  ASSERT_LT(recorded.size(), sent.size()) << "the drain threw nothing away";
  EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), sent.end() - static_cast<long>(recorded.size())))
      << "the recording is not the tail of what was sent";
  // The summary (the log beside the recording) says where the difference
  // between received and recorded went: drained at the run start.
  std::string log_path = s.recordings().at(0);
  log_path.replace(log_path.size() - 4, 4, ".log");
  const std::string log = testing_files::read_text(log_path);
  const std::regex line("bytes received ([0-9,]+) \\(([0-9,]+) of them waiting at a run start, drained and not "
                        "recorded\\), recorded ([0-9,]+) to");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(log, m, line)) << log;
  auto number = [](std::string text) {
    text.erase(std::remove(text.begin(), text.end(), ','), text.end());
    return std::stoll(text);
  };
  EXPECT_GT(number(m[2]), 0);
  EXPECT_EQ(number(m[1]) - number(m[2]), number(m[3])) << m[0];
  EXPECT_EQ(number(m[3]), static_cast<long long>(recorded.size())) << m[0];
}

}  // namespace
