// The service loop through the built binary: headless playback of generated
// recordings, scripted operator input, and the trace of every run-time call.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "e2e_support.h"
#include "link/frame.h"

namespace {

using e2e::frames;
using e2e::good_passes;
using e2e::Line;
using e2e::numbered_frame;
using e2e::Pass;
using e2e::passes;
using e2e::play;
using e2e::Playback;
using testing_files::TempDir;
using testing_frames::append;

// The numbers of the run-time's interface, as the trace shows them.
constexpr int ATTR_DONE_LOOK = 10;
constexpr int DONE_LOOK_ON = 2;
constexpr int ATTR_YMAP_LOG = 1096;
constexpr int ATTR_XMAP_LOG = 1141;
constexpr int AXIS_MANUAL = 0;
constexpr int AXIS_KEEP = -1;
const std::string EOF_TEXT = "EOF on input file";

// Position of the first line with op (and control) in a pass, -1 if none.
int index_of(const Pass& p, const std::string& op, const std::string& ctrl = "") {
  for (size_t i = 0; i < p.lines.size(); ++i)
    if (p.lines[i].op == op && (ctrl.empty() || p.lines[i].ctrl == ctrl)) return static_cast<int>(i);
  return -1;
}

std::vector<Pass> event_passes(const std::vector<Pass>& all, const std::string& ctrl) {
  std::vector<Pass> out;
  for (const auto& p : all)
    if (p.event && p.ctrl == ctrl) out.push_back(p);
  return out;
}

std::vector<int> blocks_of(const Pass& p, const std::string& graph, int per_block) {
  std::vector<int> out;
  auto plots = p.select("PlotXY", graph);
  if (plots.empty()) return out;
  std::vector<double> y = plots.back().numbers("y");
  for (size_t i = 0; i < y.size(); i += per_block) {
    bool any = false;
    for (size_t k = i; k < i + per_block && k < y.size(); ++k) any = any || y[k] != 0.0;
    if (any) out.push_back(static_cast<int>(i / per_block));
  }
  return out;
}

std::vector<int> blocks256(const Pass& p) { return blocks_of(p, "PANEL_SPEC256", 8); }
std::vector<int> blocks48(const Pass& p) { return blocks_of(p, "PANEL_SPEC48", 12); }

long long count_shown(const Pass& p) { return p.select("SetCtrlVal", "PANEL_COUNT").at(0).int_field("value"); }

// Runs the recording and checks the run ended normally.
Playback play_ok(const TempDir& dir, const std::vector<uint8_t>& rec, const std::string& events = "") {
  Playback p = play(dir, rec, events);
  EXPECT_EQ(p.result.exit_code, 0) << "stderr: " << p.result.err;
  EXPECT_FALSE(p.result.timed_out);
  return p;
}

std::string hex_dump_of(const testing_frames::Frame& f) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t line = 0; line < f.size(); line += 32) {
    out += '\n';
    for (size_t i = line; i < line + 32 && i < f.size(); ++i) {
      out += digits[f[i] >> 4];
      out += digits[f[i] & 0xF];
    }
  }
  return out + "\n";
}

TEST(FramePass, GoodFrameShowsHexDumpSkippedThenBlankStatusLastAndEofEndsPlayback) {
  TempDir dir;
  Playback run = play_ok(dir, frames(3));
  auto all = passes(run.trace);
  auto good = good_passes(all);

  ASSERT_EQ(good.size(), 3u);
  for (size_t i = 0; i < good.size(); ++i) {
    const auto& l = good[i].lines;
    ASSERT_GE(l.size(), 4u);
    size_t n = l.size();
    EXPECT_EQ(l[n - 3].op + " " + l[n - 3].ctrl, "SetCtrlVal PANEL_HEXDUMP") << "frame " << i << good[i].summary();
    EXPECT_EQ(l[n - 2].op + " " + l[n - 2].ctrl, "SetCtrlVal PANEL_SKIPPED") << "frame " << i;
    EXPECT_EQ(l[n - 2].field("type"), "int") << "frame " << i;
    EXPECT_EQ(l[n - 1].op + " " + l[n - 1].ctrl, "SetCtrlVal PANEL_STATUS") << "frame " << i;
    EXPECT_EQ(l[n - 1].field("value"), " ") << "frame " << i << ": one blank, not empty";
    EXPECT_EQ(good[i].count("SetCtrlVal", "PANEL_STATUS"), 1u) << "frame " << i;
    EXPECT_LT(index_of(good[i], "PlotXY", "PANEL_SPEC48"), static_cast<int>(n - 3)) << "frame " << i;
  }
  // One end-of-input pass, then the run-time's own quit.
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[3].status(), EOF_TEXT);
  EXPECT_TRUE(all[4].event && all[4].ctrl == "PANEL_QUIT");
  EXPECT_EQ(testing_trace::select(run.trace, "LoadPanel").size(), 1u);
  EXPECT_EQ(run.trace.back().op, "DiscardPanel");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
      << "playback creates no recording";
}

TEST(FramePass, HexDumpIsAllFrameBytesInSevenUpperCaseLines) {
  testing_frames::FrameBuilder b;
  b.counter(0x1ABCD);
  for (int i = 6; i < OFF_CHECKSUM; ++i) b.byte(i, static_cast<uint8_t>(i * 37 + 11));
  TempDir dir;
  Playback run = play_ok(dir, b.vec());
  auto good = good_passes(passes(run.trace));
  ASSERT_EQ(good.size(), 1u);

  std::string dump = good[0].select("SetCtrlVal", "PANEL_HEXDUMP").at(0).field("value");
  EXPECT_EQ(dump.size(), 408u);
  EXPECT_EQ(dump, hex_dump_of(b.bytes));
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(dump.front(), '\n');
  EXPECT_EQ(dump.back(), '\n');
  std::vector<size_t> lengths;
  size_t at = 1;
  for (size_t nl; (nl = dump.find('\n', at)) != std::string::npos; at = nl + 1) lengths.push_back(nl - at);
  EXPECT_EQ(lengths, (std::vector<size_t>{64, 64, 64, 64, 64, 64, 16}));
  for (char c : dump) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << "lower case in dump";
}

TEST(Countdown, CountFromNRedrawsNTimesThenStopsAfterOneMoreAccumulatedFrame) {
  for (int n : {1, 3}) {
    SCOPED_TRACE("count " + std::to_string(n));
    // After frame n+2 (not accumulated) the operator starts again, so the
    // next drawing shows which frames went into the totals.
    std::string script = "0 PANEL_COUNT " + std::to_string(n) + "\n" +
                         std::to_string(n + 2) + " PANEL_COUNT 5\n" +
                         std::to_string(n + 2) + " PANEL_ACCUM 1\n";
    TempDir dir;
    Playback run = play_ok(dir, frames(n + 3), script);
    auto all = passes(run.trace);
    auto good = good_passes(all);
    ASSERT_EQ(good.size(), static_cast<size_t>(n + 3));

    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(good[i].count("PlotXY", "PANEL_SPEC256"), 1u) << "frame " << i + 1;
      EXPECT_EQ(count_shown(good[i]), n - 1 - i) << "frame " << i + 1;
      EXPECT_EQ(good[i].count("SetCtrlAttribute", "PANEL_COUNT"), 0u) << "frame " << i + 1;
    }
    const Pass& due = good[n];
    EXPECT_EQ(due.count("PlotXY", "PANEL_SPEC256"), 0u) << "the stopping frame is not drawn" << due.summary();
    EXPECT_EQ(due.count("SetCtrlVal", "PANEL_COUNT"), 0u);
    int attr = index_of(due, "SetCtrlAttribute", "PANEL_COUNT");
    int accum = index_of(due, "SetCtrlVal", "PANEL_ACCUM");
    ASSERT_GE(attr, 0) << due.summary();
    ASSERT_GE(accum, 0) << due.summary();
    EXPECT_EQ(due.lines[attr].int_field("attr"), ATTR_DONE_LOOK);
    EXPECT_EQ(due.lines[attr].int_field("value"), DONE_LOOK_ON);
    EXPECT_EQ(due.lines[accum].int_field("value"), 0);
    EXPECT_LT(index_of(due, "PlotXY", "PANEL_SPEC48"), attr);
    EXPECT_LT(attr, accum);
    EXPECT_LT(accum, index_of(due, "SetCtrlVal", "PANEL_HEXDUMP"));

    const Pass& off = good[n + 1];
    EXPECT_EQ(off.count("PlotXY", "PANEL_SPEC256") + off.count("SetCtrlVal", "PANEL_COUNT") +
                  off.count("SetCtrlAttribute") + off.count("SetCtrlVal", "PANEL_ACCUM"),
              0u)
        << "accumulation stays off" << off.summary();

    auto switch_on = event_passes(all, "PANEL_ACCUM");
    ASSERT_EQ(switch_on.size(), 1u);
    EXPECT_EQ(switch_on[0].lines.size(), 2u) << "switching on only reads the switch" << switch_on[0].summary();

    // Frames 1..n+1 were accumulated, n+2 was not, n+3 was.
    std::vector<int> expected;
    for (int k = 1; k <= n + 1; ++k) expected.push_back(k);
    expected.push_back(n + 3);
    EXPECT_EQ(blocks256(good[n + 2]), expected);
    EXPECT_EQ(count_shown(good[n + 2]), 4);
  }
}

TEST(Countdown, CountZeroOrSwitchOnAtZeroAccumulatesOneFrameThenStops) {
  const std::string script =
      "1 PANEL_COUNT 0\n"   // entered while counting
      "2 PANEL_ACCUM 1\n"   // switched on with the count at 0
      "3 PANEL_COUNT 2\n"
      "3 PANEL_ACCUM 1\n";
  TempDir dir;
  Playback run = play_ok(dir, frames(4), script);
  auto good = good_passes(passes(run.trace));
  ASSERT_EQ(good.size(), 4u);

  EXPECT_EQ(count_shown(good[0]), 9999) << "the playback count, one frame down";
  for (int i : {1, 2}) {
    EXPECT_EQ(good[i].count("PlotXY", "PANEL_SPEC256"), 0u) << "frame " << i + 1;
    EXPECT_EQ(good[i].count("SetCtrlAttribute", "PANEL_COUNT"), 1u) << "frame " << i + 1 << good[i].summary();
    auto accum = good[i].select("SetCtrlVal", "PANEL_ACCUM");
    ASSERT_EQ(accum.size(), 1u) << "frame " << i + 1;
    EXPECT_EQ(accum[0].int_field("value"), 0) << "frame " << i + 1;
  }
  EXPECT_EQ(blocks256(good[3]), (std::vector<int>{1, 2, 3, 4})) << "frames 2 and 3 were accumulated";
  EXPECT_EQ(count_shown(good[3]), 1);
}

// The count is tested for exactly 0: a negative one never runs out.
TEST(Countdown, NegativeCountNeverRunsOutAndRedrawsEveryFrame) {
  TempDir dir;
  Playback run = play_ok(dir, frames(3), "0 PANEL_COUNT -1\n");
  auto good = good_passes(passes(run.trace));
  ASSERT_EQ(good.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(good[i].count("PlotXY", "PANEL_SPEC256"), 1u) << "frame " << i + 1;
    EXPECT_EQ(count_shown(good[i]), -2 - i) << "frame " << i + 1;
    EXPECT_EQ(good[i].count("SetCtrlAttribute"), 0u) << "frame " << i + 1;
    EXPECT_EQ(good[i].count("SetCtrlVal", "PANEL_ACCUM"), 0u) << "frame " << i + 1;
  }
}

TEST(Countdown, SwitchingOffMarksCountAtOnceAndFreezesTheGraph) {
  TempDir dir;
  Playback run = play_ok(dir, frames(4), "1 PANEL_ACCUM 0\n3 PANEL_ACCUM 1\n");
  auto all = passes(run.trace);
  auto good = good_passes(all);
  ASSERT_EQ(good.size(), 4u);

  auto off = event_passes(all, "PANEL_ACCUM").at(0);
  ASSERT_EQ(off.lines.size(), 3u) << off.summary();
  EXPECT_EQ(off.lines[1].op + " " + off.lines[1].ctrl, "GetCtrlVal PANEL_ACCUM");
  EXPECT_EQ(off.lines[2].op + " " + off.lines[2].ctrl, "SetCtrlAttribute PANEL_COUNT");
  EXPECT_EQ(off.lines[2].int_field("attr"), ATTR_DONE_LOOK);
  EXPECT_EQ(off.lines[2].int_field("value"), DONE_LOOK_ON);
  for (int i : {1, 2}) {
    EXPECT_EQ(good[i].count("PlotXY", "PANEL_SPEC256"), 0u) << "frame " << i + 1;
    EXPECT_EQ(good[i].count("SetCtrlVal", "PANEL_COUNT"), 0u) << "frame " << i + 1;
  }
  EXPECT_EQ(blocks256(good[3]), (std::vector<int>{1, 4})) << "frames 2 and 3 were not accumulated";
  EXPECT_EQ(count_shown(good[3]), 9998);
}

TEST(Clear, EmptiesBothGraphsAndDrawsNothingUntilTheNextFrame) {
  TempDir dir;
  Playback run = play_ok(dir, frames(3), "2 PANEL_CLEAR\n");
  auto all = passes(run.trace);
  auto clear = event_passes(all, "PANEL_CLEAR");
  ASSERT_EQ(clear.size(), 1u);
  ASSERT_EQ(clear[0].lines.size(), 3u) << clear[0].summary();
  EXPECT_EQ(clear[0].lines[1].op, "DeleteGraphPlot");
  EXPECT_EQ(clear[0].lines[2].op, "DeleteGraphPlot");
  EXPECT_NE(clear[0].lines[1].ctrl, clear[0].lines[2].ctrl);

  auto good = good_passes(all);
  ASSERT_EQ(good.size(), 3u);
  EXPECT_EQ(blocks48(good[2]), (std::vector<int>{3})) << "only the frame after the clear";
  EXPECT_EQ(blocks256(good[2]), (std::vector<int>{3})) << "only the frame after the clear";
  EXPECT_EQ(count_shown(good[2]), 9997) << "the count runs on";
}

TEST(AxisControls, YLogClampRepeatsOnEverySwitchOnAndNeverWritesYmin) {
  const std::string script =
      "0 PANEL_YLOG 1\n"  // ymin at its default 0.001: no clamp
      "0 PANEL_YMIN 0\n"
      "0 PANEL_YLOG 1\n"
      "0 PANEL_YLOG 0\n"
      "0 PANEL_YLOG 1\n";
  TempDir dir;
  Playback run = play_ok(dir, frames(1), script);
  auto all = passes(run.trace);
  auto ylog = event_passes(all, "PANEL_YLOG");
  ASSERT_EQ(ylog.size(), 4u);

  const double floor = static_cast<double>(0.0001f);
  const struct {
    const char* what;
    bool clamps;
    int log_value;
  } expected[] = {
      {"on, default ymin", false, 1},
      {"on, ymin 0", true, 1},
      {"off", false, 0},
      {"on again", true, 1},
  };
  for (size_t i = 0; i < ylog.size(); ++i) {
    const Pass& p = ylog[i];
    const char* what = expected[i].what;
    auto ranges = p.select("SetAxisRange", "PANEL_SPEC256");
    ASSERT_EQ(ranges.size(), expected[i].clamps ? 1u : 0u) << what << p.summary();
    int attr = index_of(p, "SetCtrlAttribute", "PANEL_SPEC256");
    ASSERT_GE(attr, 0) << what;
    EXPECT_EQ(p.lines[attr].int_field("attr"), ATTR_YMAP_LOG) << what;
    EXPECT_EQ(p.lines[attr].int_field("value"), expected[i].log_value) << what;
    if (!expected[i].clamps) continue;
    EXPECT_LT(index_of(p, "SetAxisRange"), attr) << what << ": the range comes before the log mapping";
    EXPECT_EQ(ranges[0].int_field("xmode"), AXIS_KEEP) << what;
    EXPECT_EQ(ranges[0].int_field("ymode"), AXIS_MANUAL) << what;
    EXPECT_EQ(ranges[0].number_field("ymin"), floor) << what;
    EXPECT_EQ(ranges[0].number_field("ymax"), 10.0) << what;
  }
  EXPECT_TRUE(testing_trace::select(run.trace, "SetCtrlVal", "PANEL_YMIN").empty());
}

TEST(AxisControls, XLogOnlySetsTheMappingAndKeepsTheStoredLimits) {
  TempDir dir;
  Playback run = play_ok(dir, frames(1),
                         "0 PANEL_XMAX 255\n0 PANEL_XLOG 1\n0 PANEL_XLOG 0\n0 PANEL_XMIN 10\n");
  auto all = passes(run.trace);
  auto xlog = event_passes(all, "PANEL_XLOG");
  ASSERT_EQ(xlog.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(xlog[i].count("SetAxisRange"), 0u) << "switch " << i << xlog[i].summary();
    auto attr = xlog[i].select("SetCtrlAttribute", "PANEL_SPEC256");
    ASSERT_EQ(attr.size(), 1u) << "switch " << i;
    EXPECT_EQ(attr[0].int_field("attr"), ATTR_XMAP_LOG);
    EXPECT_EQ(attr[0].int_field("value"), i == 0 ? 1 : 0);
  }
  auto range = event_passes(all, "PANEL_XMIN").at(0).select("SetAxisRange", "PANEL_SPEC256");
  ASSERT_EQ(range.size(), 1u);
  EXPECT_EQ(range[0].int_field("xmode"), AXIS_MANUAL);
  EXPECT_EQ(range[0].int_field("ymode"), AXIS_KEEP);
  EXPECT_EQ(range[0].number_field("xmin"), 10.0);
  EXPECT_EQ(range[0].number_field("xmax"), 255.0) << "xmax as stored within the run";
}

TEST(AxisControls, EachLimitSetsItsOwnAxisToTheStoredLimitsAndKeepsTheOther) {
  TempDir dir;
  Playback run = play_ok(dir, frames(1),
                         "0 PANEL_XMIN 10\n0 PANEL_XMAX 255\n0 PANEL_YMIN 0.5\n0 PANEL_YMAX 100\n");
  auto all = passes(run.trace);
  const double ymin_default = static_cast<double>(0.001f);
  const struct {
    const char* ctrl;
    int xmode;
    double xmin, xmax;
    int ymode;
    double ymin, ymax;
  } expected[] = {
      {"PANEL_XMIN", AXIS_MANUAL, 10, 4095, AXIS_KEEP, ymin_default, 10},
      {"PANEL_XMAX", AXIS_MANUAL, 10, 255, AXIS_KEEP, ymin_default, 10},
      {"PANEL_YMIN", AXIS_KEEP, 10, 255, AXIS_MANUAL, 0.5, 10},
      {"PANEL_YMAX", AXIS_KEEP, 10, 255, AXIS_MANUAL, 0.5, 100},
  };
  for (const auto& e : expected) {
    auto events = event_passes(all, e.ctrl);
    ASSERT_EQ(events.size(), 1u) << e.ctrl;
    auto ranges = events[0].select("SetAxisRange", "PANEL_SPEC256");
    ASSERT_EQ(ranges.size(), 1u) << e.ctrl << events[0].summary();
    const Line& r = ranges[0];
    EXPECT_EQ(r.int_field("xmode"), e.xmode) << e.ctrl;
    EXPECT_EQ(r.number_field("xmin"), e.xmin) << e.ctrl;
    EXPECT_EQ(r.number_field("xmax"), e.xmax) << e.ctrl;
    EXPECT_EQ(r.int_field("ymode"), e.ymode) << e.ctrl;
    EXPECT_EQ(r.number_field("ymin"), e.ymin) << e.ctrl;
    EXPECT_EQ(r.number_field("ymax"), e.ymax) << e.ctrl;
  }
}

TEST(RunRestart, EventWithoutHandlerRestartsWithDefaultCountSwitchLimitsAndTotals) {
  // A display field, a graph, and a field below the operator's controls.
  for (const char* ctrl : {"PANEL_STATUS", "PANEL_SPEC48", "PANEL_W190_K0"}) {
    SCOPED_TRACE(ctrl);
    std::string script = std::string(
        "0 PANEL_XMAX 255\n"
        "0 PANEL_YMAX 100\n"
        "0 PANEL_COUNT 1\n") +
        "2 " + ctrl + "\n" +
        "2 PANEL_XMIN 10\n"
        "2 PANEL_YMIN 0.5\n";
    TempDir dir;
    Playback run = play_ok(dir, frames(3), script);
    auto all = passes(run.trace);
    auto good = good_passes(all);
    ASSERT_EQ(good.size(), 3u);
    ASSERT_EQ(good[1].count("SetCtrlVal", "PANEL_ACCUM"), 1u) << "accumulation off before the restart";
    ASSERT_EQ(event_passes(all, ctrl).size(), 1u);
    EXPECT_EQ(event_passes(all, ctrl)[0].lines.size(), 1u) << "the event does nothing else";

    auto x = event_passes(all, "PANEL_XMIN").at(0).select("SetAxisRange").at(0);
    EXPECT_EQ(x.number_field("xmin"), 10.0);
    EXPECT_EQ(x.number_field("xmax"), 4095.0) << "stored xmax back at its default";
    auto y = event_passes(all, "PANEL_YMIN").at(0).select("SetAxisRange").at(0);
    EXPECT_EQ(y.number_field("ymin"), 0.5);
    EXPECT_EQ(y.number_field("ymax"), 10.0) << "stored ymax back at its default";

    EXPECT_EQ(count_shown(good[2]), 9999) << "playback count reset";
    EXPECT_EQ(blocks256(good[2]), (std::vector<int>{3})) << "256-channel totals zeroed, accumulation on";
    EXPECT_EQ(blocks48(good[2]), (std::vector<int>{1, 2, 3})) << "the 48-channel spectrum carries over";
    EXPECT_EQ(testing_trace::select(run.trace, "LoadPanel").size(), 1u) << "no reload";
  }
}

TEST(PlaybackQuiet, CommandSwitchAndQuitSendNothing) {
  TempDir dir;
  Playback run = play_ok(dir, frames(3), "0 PANEL_CMD 1\n1 PANEL_CMD 0\n2 PANEL_QUIT\n");
  for (const char* op : {"ComWrtByte", "ComWrt", "OpenComConfig", "SetComTime", "CloseCom"})
    EXPECT_TRUE(testing_trace::select(run.trace, op).empty()) << op;
  EXPECT_TRUE(testing_trace::select(run.trace, "GetCtrlVal", "PANEL_CMD").empty()) << "the switch is not read";

  auto all = passes(run.trace);
  auto cmd = event_passes(all, "PANEL_CMD");
  ASSERT_EQ(cmd.size(), 2u);
  for (const auto& p : cmd) EXPECT_EQ(p.lines.size(), 1u) << p.summary();
  EXPECT_EQ(good_passes(all).size(), 2u) << "quit after two frame passes";
  ASSERT_FALSE(all.empty());
  EXPECT_TRUE(all.back().event && all.back().ctrl == "PANEL_QUIT");
  EXPECT_EQ(all.back().lines.size(), 1u) << all.back().summary();
  EXPECT_EQ(run.trace.back().op, "DiscardPanel");
}

TEST(FailedRead, ChangesOnlyTheStatusAndEveryPassStillWaits) {
  // A good frame, then a damaged record with no sync word after it: the end
  // of input comes during the hunt, and nskip grows unseen.
  std::vector<uint8_t> rec = frames(1);
  std::vector<uint8_t> bad(200, 0x55);
  bad[0] = SYNC0;
  bad[1] = SYNC1;
  ASSERT_FALSE(checksum_ok(bad.data()));
  append(rec, bad);

  TempDir dir;
  Playback run = play_ok(dir, rec, "3 PANEL_QUIT\n");
  auto all = passes(run.trace);
  ASSERT_EQ(all.size(), 4u);
  EXPECT_TRUE(all[0].good());
  for (size_t i = 1; i < 3; ++i) {
    const Pass& p = all[i];
    EXPECT_EQ(p.status(), EOF_TEXT) << "pass " << i;
    size_t delays = p.count("Delay");
    EXPECT_EQ(delays, i == 1 ? 2u : 1u) << "pass " << i << ": pacing, plus the failed resync at first";
    EXPECT_EQ(p.lines.size(), delays + 1) << "pass " << i << ": nothing but the status" << p.summary();
  }
  EXPECT_TRUE(all[3].event && all[3].ctrl == "PANEL_QUIT");
}

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) append(out, p);
  return out;
}

std::vector<uint8_t> frame_bytes(uint32_t fcount) {
  auto f = numbered_frame(fcount);
  return {f.begin(), f.end()};
}

// The reader's unit tests take each kind of damage apart; here one
// recording with several of them shows that PANEL_SKIPPED carries the
// running count, and that the waits reach the trace.
TEST(SkippedCount, EqualsTheBytesBetweenGoodFramesWithOneLongWaitPerResync) {
  std::vector<uint8_t> bad(200, 0x55);
  bad[0] = SYNC0;
  bad[1] = SYNC1;
  std::vector<uint8_t> false_sync = bad;
  false_sync[60] = SYNC0;
  false_sync[61] = SYNC1;
  std::vector<uint8_t> cut = frame_bytes(2);
  cut.resize(120);
  std::vector<uint8_t> tail = frame_bytes(3);
  tail.resize(150);

  // The damaged records must fail, or the recording tests nothing.
  std::vector<uint8_t> after_false = join({std::vector<uint8_t>(false_sync.begin() + 60, false_sync.end()), frame_bytes(2)});
  ASSERT_FALSE(checksum_ok(after_false.data()));
  std::vector<uint8_t> cut_record = join({cut, frame_bytes(3)});
  ASSERT_FALSE(checksum_ok(cut_record.data()));

  const std::vector<uint8_t> recording = join({
      std::vector<uint8_t>(37, 0x11), frame_bytes(1),  // leading garbage: 37, one resync
      bad, frame_bytes(2),                              // a bad frame: 200, one resync
      cut, frame_bytes(3),                              // a cut frame: 120, one resync
      false_sync, frame_bytes(2),                       // a false sync word: 200, two resyncs
      tail,                                             // a short tail: not counted
  });
  const std::vector<long long> expected_skipped = {37, 237, 357, 557};
  const size_t expected_resyncs = 5;

  TempDir dir;
  Playback run = play(dir, recording);
  EXPECT_EQ(run.result.exit_code, 0);
  auto all = passes(run.trace);
  auto good = good_passes(all);
  std::vector<long long> skipped;
  for (const auto& p : good) skipped.push_back(p.select("SetCtrlVal", "PANEL_SKIPPED").at(0).int_field("value"));
  EXPECT_EQ(skipped, expected_skipped) << "PANEL_SKIPPED at each good frame";

  size_t frame_passes = 0, pacing = 0, resyncs = 0;
  for (const auto& p : all) {
    for (const auto& d : p.select("Delay")) (d.number_field("seconds") == 0.1 ? pacing : resyncs)++;
    if (p.event) continue;
    ++frame_passes;
    EXPECT_EQ(p.count("SetCtrlVal", "PANEL_STATUS"), 1u) << p.summary();
  }
  EXPECT_EQ(frame_passes, good.size() + 1) << "the good frames and one end of input";
  EXPECT_EQ(pacing, frame_passes);
  EXPECT_EQ(resyncs, expected_resyncs);
  EXPECT_EQ(testing_trace::select(run.trace, "Delay").size(), pacing + resyncs);
  for (const auto& d : testing_trace::select(run.trace, "Delay"))
    EXPECT_TRUE(d.number_field("seconds") == 0.1 || d.number_field("seconds") == 1.0) << d.raw;
}

}  // namespace
