// The panel true to its moment: after a seek, a step back or From start,
// every display, the strip chart and the limit levels equal what a straight
// playback of the same recording showed at that frame, or are empty where
// it had shown nothing yet. Both runs are the program's entry in this
// process; the panel's model is compared as each good frame is shown.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "link/frame.h"
#include "support/program_run.h"
#include "replay/replay.h"
#include "runtime/hooks.h"
#include "runtime/model.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_process::wait_until;
using Bytes = std::vector<uint8_t>;

constexpr double WAIT_S = 60.0;

// What the panel shows, as the operator would compare it.
struct Shown {
  std::map<std::string, std::tuple<bool, int, double, std::string, int>> displays;  // written, i, d, text, level
  std::array<rt::StripRing, 4> strip;
  int out_of_limits = 0;
};

Shown shown(const rt::PanelModel& m) {
  Shown out;
  for (const rt::ControlInfo& c : m.layout().controls) {
    rt::ControlState s;
    m.state(c.id, &s);
    if (c.kind == rt::Kind::Display || c.kind == rt::Kind::TextBox)
      out.displays[c.name] = {s.written, s.i, s.d, s.text, static_cast<int>(s.limit)};
    else if (c.kind == rt::Kind::StripChart)
      out.strip = s.traces;
  }
  out.out_of_limits = m.out_of_limits();
  return out;
}

// Keeps what the panel shows at each good frame.
class Recorder : public rt::FrameObserver {
 public:
  void good_frame(const rt::PanelModel& m) override {
    std::lock_guard lock(mu);
    frames.push_back(shown(m));
  }
  size_t count() {
    std::lock_guard lock(mu);
    return frames.size();
  }
  Shown last() {
    std::lock_guard lock(mu);
    return frames.back();
  }
  std::vector<Shown> take() {
    std::lock_guard lock(mu);
    return std::move(frames);
  }
  std::mutex mu;
  std::vector<Shown> frames;
};

Recorder& recorder() {
  static Recorder r;
  static const bool added = [] {
    rt::add_frame_observer(&r);
    return true;
  }();
  (void)added;
  return r;
}

// The word that makes housekeeping temperature `celsius`.
int kelvin_word(double celsius) { return static_cast<int>(std::lround((celsius + 273.15) * 65535.0 / 500.0)); }

// 300 frames: stray bytes before some, a corrupt frame, counters 120..125
// missing (slots 0..5 skip a cycle), every field varying; slot 16 goes into
// alarm and then stays inside the alarm limit by less than the hysteresis,
// where only its past says it is still in alarm.
Bytes recording() {
  Bytes out{1, 2, 3, 4, 5, 6, 7};
  for (uint32_t n = 0; n < 306; ++n) {
    if (n >= 120 && n < 126) continue;
    testing_frames::FrameBuilder b;
    b.counter(n).header_fields(static_cast<int>(n % 32), static_cast<int>(n % 64));
    b.long32(OFF_KIND_VALUE, static_cast<int32_t>(n * 100003 - 7000000));
    b.word(OFF_W10, static_cast<int>(n * 37) - 3000).word(OFF_W190, static_cast<int>(n) - 150);
    b.word(OFF_W192, static_cast<int>(n)).word(OFF_W194, static_cast<int>(2 * n)).word(OFF_W196, 5);
    b.float32(OFF_F12, static_cast<float>(n) * 0.25f).float32(OFF_F24, static_cast<float>(n) - 0.5f);
    int hk = static_cast<int>((n * 2654435761u) >> 16) & 0xFFFF;
    if (n % 40 == 16) {
      const double celsius[] = {20.0, 80.0, 69.9, 69.9, 20.0, 60.0, 49.9, 45.0};
      hk = kelvin_word(celsius[n / 40 % 8]);
    }
    b.word(OFF_HK, hk);
    for (int g = 0; g < 20; ++g)
      b.strip(g, static_cast<int>(n * 20 + static_cast<uint32_t>(g)), 65535 - static_cast<int>(n),
              static_cast<uint8_t>(n + static_cast<uint32_t>(g)), static_cast<uint8_t>(g));
    if (n % 9 == 4) b.byte(40, '+').byte(41, '+').byte(42, '-');  // the link carries it escaped
    testing_frames::append(out, b.bytes);
    if (n % 17 == 5) out.insert(out.end(), {0x33, 0x44, 0x55});
    if (n == 60) {
      testing_frames::FrameBuilder bad;
      bad.counter(999).corrupt();
      testing_frames::append(out, bad.bytes);
    }
  }
  return out;
}

void expect_same(const Shown& seen, const Shown& straight, const std::string& what) {
  for (const auto& [name, value] : straight.displays) {
    ASSERT_TRUE(seen.displays.count(name)) << what << ": " << name;
    const auto& got = seen.displays.at(name);
    EXPECT_EQ(std::get<0>(got), std::get<0>(value)) << what << ": " << name << " written";
    EXPECT_EQ(std::get<1>(got), std::get<1>(value)) << what << ": " << name;
    EXPECT_EQ(std::get<2>(got), std::get<2>(value)) << what << ": " << name;
    EXPECT_EQ(std::get<3>(got), std::get<3>(value)) << what << ": " << name;
    EXPECT_EQ(std::get<4>(got), std::get<4>(value)) << what << ": " << name << " limit level";
  }
  for (size_t t = 0; t < 4; ++t) EXPECT_EQ(seen.strip[t], straight.strip[t]) << what << ": strip trace " << t;
  EXPECT_EQ(seen.out_of_limits, straight.out_of_limits) << what << ": out of limits";
}

class Moment : public ::testing::Test {
 protected:
  void SetUp() override { recorder().take(); }
  void TearDown() override { rt::reset_ui_for_tests(); }
  testing_files::TempDir dir_;
};

struct Move {
  const char* what;
  long frame;  // the frame then shown
  enum { Seek, StepBack, FromStart } how;
};

const Move MOVES[] = {
    {"seek forward", 250, Move::Seek},   {"seek back over the missing counters", 130, Move::Seek},
    {"seek into the alarm kept by hysteresis", 140, Move::Seek},
    {"seek early: later slots empty", 30, Move::Seek}, {"seek to the first frame", 0, Move::Seek},
    {"seek to the last frame", 299, Move::Seek},     {"step back", 298, Move::StepBack},
    {"From start", 0, Move::FromStart},              {"seek after From start", 77, Move::Seek},
};

// Each move of a paused run, against what the straight run showed.
void check_moves(const std::vector<Shown>& straight, const char* source) {
  ASSERT_EQ(straight.size(), 300u) << source;
  EXPECT_EQ(std::get<4>(straight[140].displays.at("PANEL_HK16")), static_cast<int>(rt::LimitLevel::Alarm))
      << "the recording must hold a slot kept in alarm by its past only";
  ASSERT_TRUE(wait_until(WAIT_S, [] { return rt::replay_view().index != nullptr; })) << source;
  ASSERT_TRUE(rt::replay_view().index->wait(WAIT_S)) << source;
  ASSERT_EQ(rt::replay_view().index->frames(), 300) << source;
  for (const Move& m : MOVES) {
    const size_t before = recorder().count();
    if (m.how == Move::Seek) rt::replay_request_seek(m.frame);
    else if (m.how == Move::StepBack) rt::replay_request_step(-1);
    else rt::replay_request_restart();
    ASSERT_TRUE(wait_until(WAIT_S, [before] { return recorder().count() > before; })) << source << ": " << m.what;
    expect_same(recorder().last(), straight[static_cast<size_t>(m.frame)], std::string(source) + ": " + m.what);
  }
}

TEST_F(Moment, after_each_move_of_a_playback_the_panel_equals_a_straight_playback_at_that_frame) {
  const Bytes bytes = recording();
  std::vector<Shown> straight;
  {
    testing_program::ProgramRun run(dir_.file("straight.dat"), bytes, 0.0, true);
    ASSERT_TRUE(run.finished(WAIT_S));
    straight = recorder().take();
  }
  testing_program::ProgramRun run(dir_.file("moved.dat"), bytes, 1.0, false, "", true);
  check_moves(straight, "playback");
}

// A live recording (the link's escapes in it) through the live receiver:
// the frames are read back from the file by the receiver's rules, and the
// skipped count is the receiver's.
TEST_F(Moment, after_each_move_of_a_link_replay_the_panel_equals_a_straight_link_replay_at_that_frame) {
  const Bytes plain = recording();
  Bytes link;
  for (size_t at = 0; at < plain.size();) {
    if (at + FRAME_LEN <= plain.size() && plain[at] == SYNC0 && plain[at + 1] == SYNC1) {
      testing_frames::Frame f;
      std::copy(plain.begin() + static_cast<long>(at), plain.begin() + static_cast<long>(at + FRAME_LEN), f.begin());
      const Bytes escaped = testing_frames::escape_for_link(f);
      link.insert(link.end(), escaped.begin(), escaped.end());
      at += FRAME_LEN;
    } else {
      link.push_back(plain[at++]);
    }
  }
  std::vector<Shown> straight;
  {
    testing_program::LinkReplayRun run(dir_.file("straight.dat"), link, false);
    ASSERT_TRUE(run.finished(WAIT_S));
    straight = recorder().take();
  }
  testing_program::LinkReplayRun run(dir_.file("moved.dat"), link, true);
  check_moves(straight, "link replay");
}

}  // namespace
