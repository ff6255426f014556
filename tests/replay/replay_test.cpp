// Seek, step, loop, "Open recording" and the link replay, driven in this
// process: the program's entry plays a recording on its own thread while
// the test acts as the window. Frame n of the recordings below is
// counted_frame(n), so a hex dump says which frame is shown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/entry.h"
#include "link/frame.h"
#include "link/receiver.h"
#include "support/program_run.h"
#include "runtime/com_port.h"
#include "runtime/context.h"
#include "replay/link_replay_port.h"
#include "runtime/model.h"
#include "replay/replay.h"
#include "runtime/session_watch.h"
#include "session/session_log.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_program::counted_frame;
using testing_program::hex_dump;
using testing_program::LinkReplayRun;
using testing_program::ProgramRun;
using testing_files::TempDir;
using testing_process::wait_until;
using Bytes = std::vector<uint8_t>;

constexpr double WAIT_S = 60.0;  // generous: the machine may be loaded

std::string dump_of(uint32_t n) { return hex_dump(counted_frame(n)); }

std::vector<std::string> dumps() {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  return testing_program::hex_dumps(testing_trace::parse(text));
}

std::vector<std::string> statuses() {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  std::vector<std::string> out;
  for (const auto& l : testing_trace::select(testing_trace::parse(text), "SetCtrlVal", "PANEL_STATUS"))
    out.push_back(l.field("value"));
  return out;
}

std::vector<std::string> log_texts() {
  std::vector<std::string> out;
  for (const auto& e : rt::log_entries_since(0)) out.push_back(e.text);
  return out;
}

int log_count(const std::string& part) {
  int n = 0;
  for (const std::string& t : log_texts()) n += t.find(part) != std::string::npos;
  return n;
}

// Frames 0..n-1; stray bytes before every 10th, a corrupt frame after frame 19.
Bytes recording(int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) {
    if (i % 10 == 9) out.insert(out.end(), {0x12, 0x34, 0x56});
    testing_frames::append(out, counted_frame(static_cast<uint32_t>(i)));
    if (i == 19) {
      testing_frames::FrameBuilder bad;
      bad.counter(999).corrupt();
      testing_frames::append(out, bad.bytes);
    }
  }
  return out;
}

bool index_ready() {
  const rt::ReplayView v = rt::replay_view();
  return v.index && v.index->wait(WAIT_S) && v.index->state() == rt::RecordingIndex::State::Ready;
}

// Waits until `n` frames have been shown, and a moment more for any pass
// that should not run.
void wait_for_dumps(size_t n) {
  ASSERT_TRUE(wait_until(WAIT_S, [n] { return dumps().size() >= n; })) << "only " << dumps().size() << " of " << n;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

class Replay : public ::testing::Test {
 protected:
  void SetUp() override { rt::reset_log_for_tests(); }
  void TearDown() override {
    rt::reset_ui_for_tests();
    rt::reset_log_for_tests();
  }
  TempDir dir_;
};

TEST_F(Replay, seek_while_paused_shows_that_frame_and_stays_paused) {
  ProgramRun run(dir_.file("rec.dat"), recording(40), 1.0, false, "", true);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; }));
  ASSERT_TRUE(index_ready());
  EXPECT_EQ(rt::replay_view().index->frames(), 40);
  struct Case {
    long frame;
  };
  size_t shown = 0;
  for (const Case c : {Case{25}, Case{3}, Case{39}, Case{0}, Case{20}}) {
    rt::replay_request_seek(c.frame);
    wait_for_dumps(++shown);
    const auto d = dumps();
    EXPECT_EQ(d.size(), shown) << "frame " << c.frame << ": one pass, then paused again";
    EXPECT_EQ(d.back(), dump_of(static_cast<uint32_t>(c.frame))) << "frame " << c.frame;
    EXPECT_EQ(rt::replay_view().current, c.frame);
    EXPECT_EQ(log_count("Seek to frame " + std::to_string(c.frame + 1) + " of 40"), 1) << c.frame;
  }
  // Past the ends: one past the last frame, and a step back from the first.
  rt::replay_request_seek(40);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return log_count("Seek to frame 41") > 0; }));
  EXPECT_EQ(log_count("Seek to frame 41: no such frame in the index"), 1);
  rt::replay_request_seek(0);
  wait_for_dumps(++shown);
  rt::replay_request_step(-1);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return log_count("Step back") > 0; }));
  EXPECT_EQ(log_count("Step back: at the first frame"), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // for a pass that should not run
  EXPECT_EQ(dumps().size(), shown) << "neither moved";
  EXPECT_EQ(rt::replay_view().current, 0);
}

TEST_F(Replay, seek_while_playing_goes_on_from_that_frame_within_the_next_pass) {
  ProgramRun run(dir_.file("rec.dat"), recording(40), 2.0, true);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; }));
  ASSERT_TRUE(index_ready());
  ASSERT_TRUE(wait_until(WAIT_S, [] { return dumps().size() >= 3; }));
  const size_t before = dumps().size();
  rt::replay_request_seek(30);
  ASSERT_TRUE(run.finished(WAIT_S));
  const auto d = dumps();
  ASSERT_GT(d.size(), before + 1);
  // The pass under way may finish first (and, as the request races with
  // the reading of `before`, one more); then frame 30.
  size_t at = before;
  while (at < d.size() && d[at] != dump_of(30)) ++at;
  ASSERT_LT(at, d.size()) << "frame 30 shown";
  EXPECT_LE(at, before + 2) << "frame 30 within the next pass";
  const std::vector<std::string> rest(d.begin() + static_cast<long>(at), d.end());
  std::vector<std::string> expected;
  for (uint32_t n = 30; n < 40; ++n) expected.push_back(dump_of(n));
  EXPECT_EQ(rest, expected) << "then on to the end";
}

// The values a frame pass showed: every control written, last value first
// written wins, minus the countdown (which goes on counting).
std::map<std::string, std::string> pass_values(size_t pass) {
  std::string text;
  for (const std::string& line : rt::trace_lines()) text += line + "\n";
  std::map<std::string, std::string> values;
  size_t good = 0;
  for (const auto& l : testing_trace::parse(text)) {
    if (l.op != "SetCtrlVal") continue;
    if (good == pass && l.ctrl != "PANEL_COUNT") values[l.ctrl] = l.field("value");
    if (l.ctrl == "PANEL_STATUS" && l.field("value") == " " && ++good > pass) break;
  }
  return values;
}

TEST_F(Replay, step_back_then_forward_returns_to_the_same_values) {
  ProgramRun run(dir_.file("rec.dat"), recording(40), 1.0, false, "", true);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; }));
  ASSERT_TRUE(index_ready());
  size_t shown = 0;
  for (int i = 0; i < 6; ++i) {
    rt::replay_request_step(+1);
    wait_for_dumps(++shown);
  }
  ASSERT_EQ(dumps().back(), dump_of(5));
  const auto fifth = pass_values(5);
  rt::replay_request_step(-1);
  wait_for_dumps(++shown);
  EXPECT_EQ(dumps().back(), dump_of(4)) << "back one frame";
  EXPECT_EQ(pass_values(6), pass_values(4)) << "frame 4's values again";
  rt::replay_request_step(+1);
  wait_for_dumps(++shown);
  EXPECT_EQ(dumps().back(), dump_of(5));
  EXPECT_EQ(pass_values(7), fifth) << "forward again: the same values";
  EXPECT_EQ(dumps().size(), shown) << "paused throughout";
  EXPECT_EQ(log_count("Step back to frame 5 of 40"), 1);
  EXPECT_EQ(log_count("Spectra cleared"), 1) << "frame 4 had been counted";

  // Across the damaged stretch after frame 19: back and forth by frames.
  rt::replay_request_seek(20);
  wait_for_dumps(++shown);
  rt::replay_request_step(-1);
  wait_for_dumps(++shown);
  EXPECT_EQ(dumps().back(), dump_of(19));
  rt::replay_request_step(+1);
  wait_for_dumps(++shown);
  EXPECT_EQ(dumps().back(), dump_of(20)) << "the damaged record is passed over within the step";
}

// Presses that come faster than the frames are shown (three quick Left
// keys) are each a step, in order.
TEST_F(Replay, quick_presses_are_each_a_step_of_their_own) {
  ProgramRun run(dir_.file("rec.dat"), recording(40), 1.0, false, "", true);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; }));
  ASSERT_TRUE(index_ready());
  rt::replay_request_seek(10);
  wait_for_dumps(1);
  for (int i = 0; i < 3; ++i) rt::replay_request_step(-1);
  rt::replay_request_step(+1);
  wait_for_dumps(5);
  const auto d = dumps();
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[1], dump_of(9));
  EXPECT_EQ(d[2], dump_of(8));
  EXPECT_EQ(d[3], dump_of(7)) << "three presses back, three frames back";
  EXPECT_EQ(d[4], dump_of(8)) << "then one forward";
}

// The spectra's CSV: totals and frame counts per channel, by spectrum.
struct Spectra {
  std::map<int, std::vector<double>> totals, frames;
};

Spectra read_spectra(const std::string& path) {
  Spectra s;
  std::ifstream in(path);
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.rfind("#", 0) == 0) continue;
    if (header) {
      header = false;
      continue;
    }
    std::istringstream f(line);
    int spectrum, channel;
    double position, width, total, frames;
    char c;
    f >> spectrum >> c >> channel >> c >> position >> c >> width >> c >> total >> c >> frames;
    s.totals[spectrum].push_back(total);
    s.frames[spectrum].push_back(frames);
  }
  return s;
}

// The spectra of frames first..last, each counted once: the frames' own
// words summed per channel, and the frames per block.
Spectra counted_once(uint32_t first, uint32_t last) {
  Spectra s;
  s.totals[48].assign(48, 0);
  s.frames[48].assign(48, 0);
  s.totals[256].assign(256, 0);
  s.frames[256].assign(256, 0);
  for (uint32_t n = first; n <= last; ++n) {
    const auto f = counted_frame(n);
    for (int i = 0; i < 12; ++i) {
      s.totals[48][12 * (n % 4) + i] += f[150 + 2 * i] * 256 + f[151 + 2 * i];
      s.frames[48][12 * (n % 4) + i] += 1;
    }
    for (int i = 0; i < 8; ++i) {
      s.totals[256][8 * (n % 32) + i] += f[174 + 2 * i] * 256 + f[175 + 2 * i];
      s.frames[256][8 * (n % 32) + i] += 1;
    }
  }
  return s;
}

TEST_F(Replay, loop_plays_twice_and_the_spectra_count_each_frame_once) {
  constexpr int N = 20;
  ProgramRun run(dir_.file("rec.dat"), recording(N), 5.0, false, "0 PANEL_CLEAR\n", true);
  rt::replay_set_loop(true);
  rt::transport_set_paused(false);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return dumps().size() >= N + 8; }));
  rt::transport_set_paused(true);
  const std::string out = dir_.file("spectra.csv");
  // Saved between two frames: every frame shown by then is in the spectra.
  const uint64_t before = rt::transport_message().serial;
  rt::transport_request_spectra(out);
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    return rt::transport_message().serial != before && rt::transport_message().text.rfind("Spectra saved", 0) == 0;
  }));
  const auto d = dumps();
  for (uint32_t n = 0; n < N; ++n) ASSERT_EQ(d[n], dump_of(n)) << "first pass, frame " << n;
  ASSERT_EQ(d[N], dump_of(0)) << "then the start again";
  // The spectra hold the frames since the last start, once each.
  size_t last_start = 0;
  for (size_t i = 0; i < d.size(); ++i)
    if (d[i] == dump_of(0)) last_start = i;
  const uint32_t last = static_cast<uint32_t>(d.size() - 1 - last_start);
  for (size_t i = last_start; i < d.size(); ++i) ASSERT_EQ(d[i], dump_of(static_cast<uint32_t>(i - last_start)));
  const Spectra got = read_spectra(out);
  const Spectra want = counted_once(0, last);
  EXPECT_EQ(got.totals, want.totals) << "frames 0.." << last << " once each";
  EXPECT_EQ(got.frames, want.frames);
  EXPECT_GE(log_count("Loop: playing again from the start"), 1);
  EXPECT_GE(log_count("Spectra cleared"), 1);
  EXPECT_EQ(log_count("Loop on"), 1);
}

// Loop switched on after the input has sat at its end: the link's health
// judges the playback afresh from the move back to the start, with no false
// "input silent" error for the time spent at the end. The health's clock is
// the test's: 14 s pass at the end in no time.
TEST_F(Replay, loop_after_a_while_at_the_end_plays_again_without_a_false_silence) {
  static std::atomic<double> clock_s{0.0};
  clock_s = 0.0;
  ProgramRun run(dir_.file("rec.dat"), recording(10), 5.0, false, "", /*start_paused=*/true);
  rt::set_session_clock_for_tests([] { return clock_s.load(); });  // after the run's reset
  rt::transport_set_paused(false);
  ASSERT_TRUE(wait_until(WAIT_S, [] {
    const auto s = statuses();
    return !s.empty() && s.back() == "EOF on input file";
  }));
  rt::watch_health();
  clock_s = 14.0;
  EXPECT_EQ(rt::watch_health().state, rt::LinkState::EndOfInput);
  rt::replay_set_loop(true);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return dumps().size() >= 12; }));
  const rt::HealthSnapshot h = rt::watch_health();
  EXPECT_TRUE(h.state == rt::LinkState::Receiving || h.state == rt::LinkState::Degraded) << h.words << " " << h.reason;
  EXPECT_EQ(log_count("input silent"), 0);
  EXPECT_NEAR(h.longest_gap_s, 0.0, 1e-9) << "the time at the end is no gap";
}

TEST_F(Replay, open_recording_switches_the_input_without_restarting) {
  Bytes second;
  for (uint32_t n = 100; n < 110; ++n) testing_frames::append(second, counted_frame(n));
  const std::string other = dir_.file("other.dat");
  testing_files::write_file(other, second);
  ProgramRun run(dir_.file("rec.dat"), recording(10), 5.0, false);
  ASSERT_TRUE(wait_until(WAIT_S, [] {
    const auto s = statuses();
    return !s.empty() && s.back() == "EOF on input file";
  }));
  rt::replay_request_open(dir_.file("no-such.dat"));
  ASSERT_TRUE(wait_until(WAIT_S, [] { return log_count("Cannot open recording") == 1; }));
  EXPECT_EQ(rt::transport_source(), dir_.file("rec.dat")) << "a file that is not there changes nothing";

  rt::replay_request_open(other);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return dumps().size() >= 20; }));
  const auto d = dumps();
  for (uint32_t n = 0; n < 10; ++n) EXPECT_EQ(d[10 + n], dump_of(100 + n)) << "the other recording, frame " << n;
  EXPECT_EQ(rt::transport_source(), other);
  EXPECT_EQ(rt::current_model()->title(), "vst_gse - playback of " + other);
  EXPECT_EQ(log_count("Opened recording " + other + " (playback)"), 1);
  EXPECT_EQ(log_count("Spectra cleared: another recording was opened"), 1);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index && index_ready(); }));
  EXPECT_EQ(rt::replay_view().index->frames(), 10);
  EXPECT_EQ(rt::replay_view().path, other);
  // The panel started afresh with it: slot 5 (counter 5 of the first file)
  // is empty again, and no byte of the second was discarded (the first's
  // stray bytes before frame 9 are not carried over).
  const auto shown = [](const char* name) {
    rt::ControlState s;
    rt::current_model()->state(rt::current_model()->find(std::string_view(name))->id, &s);
    return s;
  };
  EXPECT_TRUE(wait_until(WAIT_S, [&] { return !shown("PANEL_HK05").written && shown("PANEL_SKIPPED").i == 0; }))
      << "slot 5 written: " << shown("PANEL_HK05").written << ", skipped " << shown("PANEL_SKIPPED").i;
  EXPECT_TRUE(shown("PANEL_HK25").written) << "counter 105 of the second file";
  // Each said once: no repeat for the log to count ("x2") when it closes.
  rt::log_close();
  EXPECT_EQ(log_count("Opened recording " + other), 1);
  EXPECT_EQ(log_count("Cannot open recording"), 1);
}

TEST_F(Replay, a_file_that_is_not_a_recording_offers_no_seek_and_plays_to_its_end) {
  Bytes random(50000);
  uint32_t x = 7;
  for (auto& b : random) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  for (const Case& c : {Case{"random bytes", random}, Case{"empty", {}}}) {
    rt::reset_log_for_tests();
    ProgramRun run(dir_.file("rec.dat"), c.bytes, 0.0, true, "", true);
    ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; })) << c.name;
    ASSERT_TRUE(rt::replay_view().index->wait(WAIT_S)) << c.name;
    EXPECT_EQ(rt::replay_view().index->state(), rt::RecordingIndex::State::NoFrames) << c.name;
    rt::replay_request_seek(0);
    rt::transport_set_paused(false);
    ASSERT_TRUE(run.finished(WAIT_S)) << c.name << ": nothing hangs";
    EXPECT_EQ(run.exit_code(), 0) << c.name;
    EXPECT_TRUE(dumps().empty()) << c.name;
    EXPECT_EQ(log_count("Seek to frame 1: no such frame in the index"), 1) << c.name;
  }
}

// A frame that the link carried with escapes, as a live recording keeps it.
Bytes escaped_on_the_link(uint32_t n) {
  testing_frames::FrameBuilder b;
  b.counter(n).byte(40, '+').byte(41, '+').byte(42, '-');
  return testing_frames::escape_for_link(b.bytes);
}

TEST_F(Replay, a_plain_playback_that_skips_escaped_frames_says_so_once) {
  Bytes live;
  for (uint32_t n = 0; n < 12; ++n) {
    if (n % 4 == 2) testing_frames::append(live, escaped_on_the_link(n));
    else testing_frames::append(live, counted_frame(n));
  }
  Bytes damaged = recording(25);  // a corrupt frame, no escapes
  struct Case {
    const char* name;
    Bytes bytes;
    int hints;
  };
  for (const Case& c : {Case{"a live recording", live, 1}, Case{"a damaged recording", damaged, 0}}) {
    rt::reset_log_for_tests();
    ProgramRun run(dir_.file("rec.dat"), c.bytes, 0.0, true);
    ASSERT_TRUE(run.finished(WAIT_S)) << c.name;
    EXPECT_EQ(log_count(rt::ESCAPE_HINT), c.hints) << c.name;
    if (c.hints > 0) {
      EXPECT_EQ(rt::transport_message().text, rt::ESCAPE_HINT) << "the status bar says it too";
    }
  }
}

// ----- Link replay in this process ---------------------------------------

TEST_F(Replay, link_replay_steps_through_damaged_frames_one_attempt_at_a_time) {
  Bytes link;
  const auto add = [&link](const Bytes& b) { link.insert(link.end(), b.begin(), b.end()); };
  add(testing_frames::escape_for_link(counted_frame(0)));
  testing_frames::FrameBuilder bad;
  bad.counter(1).corrupt();
  add(bad.vec());
  Bytes illegal = testing_frames::escape_for_link(counted_frame(2));
  illegal.insert(illegal.begin() + 60, {'+', '+', '-', '?'});
  add(illegal);
  add(testing_frames::escape_for_link(counted_frame(3)));
  add(escaped_on_the_link(4));
  LinkReplayRun run(dir_.file("live.dat"), link, true);
  ASSERT_TRUE(wait_until(WAIT_S, [] {
    const auto s = statuses();
    return !s.empty() && s.back() == "serial port ready";
  }));
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index && index_ready(); }));
  EXPECT_EQ(rt::replay_view().index->frames(), 3) << "frames 0, 3 and the escaped 4";
  const std::vector<std::string> steps = {" ", "COM1 err: checksum failure", "COM1 err: illegal ++- sequence",
                                          " ", " "};
  size_t seen = statuses().size();
  for (const std::string& expected : steps) {
    rt::replay_request_step(+1);
    ASSERT_TRUE(wait_until(WAIT_S, [&] { return statuses().size() > seen; })) << expected;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto s = statuses();
    ASSERT_EQ(s.size(), seen + 1) << "one frame attempt per step";
    EXPECT_EQ(s.back(), expected);
    seen = s.size();
  }
  testing_frames::FrameBuilder fourth;
  fourth.counter(4).byte(40, '+').byte(41, '+').byte(42, '-');
  EXPECT_EQ(dumps().back(), hex_dump(fourth.bytes)) << "the escapes undone";
  rt::replay_request_step(-1);
  ASSERT_TRUE(wait_until(WAIT_S, [] { return dumps().size() == 4; }));
  EXPECT_EQ(dumps().back(), dump_of(3)) << "back to the frame before";
  rt::transport_set_paused(false);
  ASSERT_TRUE(run.finished(WAIT_S)) << "at the end of the file the link falls silent, and headless quits";
  EXPECT_EQ(statuses().back(), "COM1 err: too few bytes read");
  EXPECT_EQ(rt::transport_recording(), "") << "nothing recorded";
}

}  // namespace
