// The simulator's frames, its link escape and its faults, checked against
// the program's own frame helpers and serial receiver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "sim_link.h"
#include "support/frames.h"
#include "tools/sim_frames.h"

using sim::Bytes;
using sim::Frame;
using sim_testing::receive_all;

namespace {

constexpr uint64_t SEED = 7;
constexpr double PERIOD_MS = 100.0;
constexpr uint8_t P = 0x2B;  // '+'
constexpr uint8_t M = 0x2D;  // '-'

Frame frame_at(uint64_t index, uint32_t first_count = 0) {
  return sim::make_frame(SEED, index, first_count, PERIOD_MS);
}

uint16_t u16(const Frame& f, int offset) { return static_cast<uint16_t>(glueshort(f.data() + offset)); }

void reseal(Frame& f) {
  uint16_t sum = frame_sum(f.data());
  f[OFF_CHECKSUM] = static_cast<uint8_t>(sum >> 8);
  f[OFF_CHECKSUM + 1] = static_cast<uint8_t>(sum);
}

Bytes link_stream(const std::vector<Frame>& frames) {
  Bytes out;
  for (const auto& f : frames) {
    Bytes e = sim::escape_for_link(f);
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

testing_frames::Frame as_test_frame(const Frame& f) {
  testing_frames::Frame t;
  std::copy(f.begin(), f.end(), t.begin());
  return t;
}

// ---- Frames ------------------------------------------------------------

TEST(SimFrames, pass_the_checksum_and_count_up_by_one) {
  for (uint64_t i = 0; i < 400; ++i) {
    Frame f = frame_at(i);
    ASSERT_TRUE(checksum_ok(f.data())) << "frame " << i;
    ASSERT_EQ(f[0], SYNC0) << "frame " << i;
    ASSERT_EQ(f[1], SYNC1) << "frame " << i;
    ASSERT_EQ(fcount(f.data()), i) << "frame " << i;
    ASSERT_EQ(fkind(f.data()), static_cast<int>(i % 4)) << "frame " << i;
    ASSERT_NE(f[FRAME_LEN - 1], SYNC0) << "frame " << i << " ends on 0xEB";
  }
}

TEST(SimFrames, counter_wraps_at_21_bits_and_keeps_the_header_fields) {
  const uint32_t first = 2097150;
  const uint32_t want[] = {2097150, 2097151, 0, 1};
  for (uint64_t i = 0; i < 4; ++i) {
    Frame f = frame_at(i, first);
    EXPECT_EQ(fcount(f.data()), want[i]) << "frame " << i;
    EXPECT_EQ(u16(f, OFF_HEADER) >> 11, 5) << "mode field of frame " << i;
    EXPECT_TRUE(checksum_ok(f.data())) << "frame " << i;
  }
}

TEST(SimFrames, same_seed_gives_the_same_frames_and_another_seed_others) {
  for (uint64_t i : {0u, 1u, 57u, 1000u}) {
    EXPECT_EQ(sim::make_frame(3, i, 0, PERIOD_MS), sim::make_frame(3, i, 0, PERIOD_MS)) << "frame " << i;
    EXPECT_NE(sim::make_frame(3, i, 0, PERIOD_MS), sim::make_frame(4, i, 0, PERIOD_MS)) << "frame " << i;
  }
}

TEST(SimFrames, each_kind_carries_its_own_value_in_turn) {
  const double turn_deg = 360.0 / 4294967296.0;
  int64_t last_count = -1;
  double last_angle[4] = {NAN, NAN, NAN, NAN};
  for (uint64_t i = 0; i < 800; ++i) {
    Frame f = frame_at(i);
    int32_t v = gluelong(f.data() + OFF_KIND_VALUE);
    switch (fkind(f.data())) {
      case 0:  // a count that only grows
        EXPECT_GE(v, last_count) << "count of frame " << i;
        last_count = v;
        break;
      case 1:  // elapsed milliseconds on the frame clock
        EXPECT_EQ(v, static_cast<int32_t>(i * PERIOD_MS)) << "time of frame " << i;
        break;
      default: {  // angles turn slowly: under 2 degrees between frames of a kind
        int k = fkind(f.data());
        double deg = v * turn_deg;
        if (!std::isnan(last_angle[k])) {
          double step = std::fabs(std::remainder(deg - last_angle[k], 360.0));
          EXPECT_LT(step, 2.0) << "angle of kind " << k << " at frame " << i;
          EXPECT_GT(step, 0.0) << "angle of kind " << k << " stands still at frame " << i;
        }
        last_angle[k] = deg;
      }
    }
  }
  EXPECT_GT(last_count, 0) << "the count never moved";
}

// A rehearsal starts without alarms: the normal values lie inside the
// caution ranges the panel file ships (README, "Housekeeping limits").
TEST(SimFrames, housekeeping_stays_inside_the_shipped_caution_ranges_over_a_whole_orbit) {
  // Conversions as the housekeeping page makes them.
  for (uint64_t i = 0; i < 40 * 160; i += 7) {  // every slot, over the 10-minute orbit and more
    Frame f = frame_at(i);
    int slot = static_cast<int>(fcount(f.data()) % 40);
    double r = u16(f, OFF_HK);
    if (slot < 6 || (slot >= 32 && slot < 36)) {
      double volts = 10.0 * r / 65535.0;
      EXPECT_GT(volts, 0.2) << "slot " << slot;
      EXPECT_LT(volts, 9.8) << "slot " << slot;
    } else if (slot < 8) {
      double volts = -10.0 * r / 65535.0;
      EXPECT_LT(volts, -0.2) << "slot " << slot;
      EXPECT_GT(volts, -9.8) << "slot " << slot;
    } else if (slot < 16) {
      double milliamps = 100.0 * r / 65535.0;
      EXPECT_GT(milliamps, 2.0) << "slot " << slot;
      EXPECT_LT(milliamps, 98.0) << "slot " << slot;
    } else if (slot < 32) {
      double celsius = 500.0 * r / 65535.0 - 273.15;
      EXPECT_GT(celsius, -20.0) << "slot " << slot << " frame " << i;
      EXPECT_LT(celsius, 50.0) << "slot " << slot << " frame " << i;
    }
  }
}

TEST(SimFrames, strip_traces_are_four_different_waveforms) {
  // Over one second of samples per trace: the sine spans most of its range,
  // the ramp rises except where it falls back, the square-ish trace sits near
  // two levels, the noise stays around mid-scale.
  std::vector<double> t1, t2, t3, t4;
  for (uint64_t i = 0; i < 60; ++i) {
    Frame f = frame_at(i);
    for (int g = 0; g < 20; ++g) {
      int at = OFF_STRIP + 6 * g;
      t1.push_back(u16(f, at));
      t2.push_back(u16(f, at + 2));
      t3.push_back(f[at + 4]);
      t4.push_back(f[at + 5]);
    }
  }
  auto [lo1, hi1] = std::minmax_element(t1.begin(), t1.end());
  EXPECT_GT(*hi1 - *lo1, 40000.0) << "sine trace";
  int falls = 0;
  for (size_t k = 1; k < t2.size(); ++k) falls += t2[k] < t2[k - 1];
  EXPECT_GE(falls, 1) << "ramp trace never restarts";
  EXPECT_LE(falls, 3) << "ramp trace is not a ramp";
  int near_levels = 0;
  for (double v : t3) near_levels += std::fabs(v - 35.0) < 25.0 || std::fabs(v - 215.0) < 25.0;
  EXPECT_GT(near_levels, static_cast<int>(t3.size() * 3 / 4)) << "square-ish trace";
  double mean4 = 0;
  for (double v : t4) mean4 += v / t4.size();
  EXPECT_NEAR(mean4, 128.0, 10.0) << "noise trace";
  int changes = 0;
  for (size_t k = 1; k < t4.size(); ++k) changes += t4[k] != t4[k - 1];
  EXPECT_GT(changes, static_cast<int>(t4.size() / 2)) << "noise trace";
}

TEST(SimFrames, spectrum_counts_follow_the_spectral_shape) {
  // Channel 0 of the 48-channel spectrum (kind-0 frames, width 4, centre 44)
  // and channel 0 of the 256-channel one (fsub 0, width 1, centre 0.5):
  // their mean counts over many frames match the shape within a few sigma.
  struct Case {
    const char* name;
    int offset, step, blocks, width;
    double centre;
  } cases[] = {{"48-channel, channel 0", OFF_SPEC48, 4, 4, 4, 44.0},
               {"256-channel, channel 0", OFF_SPEC256, 32, 32, 1, 0.5}};
  for (const auto& c : cases) {
    double sum = 0, expected = 0;
    int n = 0;
    for (uint64_t i = 0; i < 32 * 60; i += c.step) {
      Frame f = frame_at(i);
      sum += glueshort(f.data() + c.offset);
      expected += sim::expected_counts(c.centre, c.width, c.blocks, i * PERIOD_MS / 1000.0);
      ++n;
    }
    EXPECT_NEAR(sum, expected, 5.0 * std::sqrt(expected)) << c.name << " over " << n << " frames";
  }
}

// ---- The link's escape -------------------------------------------------

// A generated frame with `pattern` written from `offset` between two zero
// bytes (so its neighbours start and end no escape), resealed.
Frame with_bytes(int offset, const Bytes& pattern) {
  Frame f = frame_at(11);
  if (offset > 2) f[offset - 1] = 0;
  for (size_t k = 0; k < pattern.size(); ++k) f[offset + k] = pattern[k];
  f[offset + pattern.size()] = 0;
  reseal(f);
  return f;
}

// A frame whose checksum is `checksum`: W10 takes up the difference.
Frame with_checksum(Frame f, uint16_t checksum) {
  f[OFF_W10] = f[OFF_W10 + 1] = 0;
  uint16_t w10 = static_cast<uint16_t>(checksum - frame_sum(f.data()));
  f[OFF_W10] = static_cast<uint8_t>(w10 >> 8);
  f[OFF_W10 + 1] = static_cast<uint8_t>(w10);
  f[OFF_CHECKSUM] = static_cast<uint8_t>(checksum >> 8);
  f[OFF_CHECKSUM + 1] = static_cast<uint8_t>(checksum);
  return f;
}

struct EscapeCase {
  const char* name;
  Frame frame;
  int extra;  // link bytes beyond 200
};

std::vector<EscapeCase> escape_cases() {
  Frame end_plus = frame_at(3);
  end_plus[195] = 0;
  end_plus[196] = P;
  end_plus[197] = P;
  return {
      {"plain frame", frame_at(11), 0},
      {"stored ++- goes out as ++-1", with_bytes(40, {P, P, M}), 1},
      {"stored +++ is plain", with_bytes(40, {P, P, P}), 0},
      {"stored +++- needs no escape", with_bytes(40, {P, P, P, M}), 0},
      {"stored ++++- is plain", with_bytes(40, {P, P, P, P, M}), 0},
      {"stored +++++- escapes its second pair", with_bytes(40, {P, P, P, P, P, M}), 1},
      {"stored ++-- escapes once", with_bytes(40, {P, P, M, M}), 1},
      {"stored ++-1 escapes once", with_bytes(40, {P, P, M, '1'}), 1},
      {"stored ++-++- escapes twice", with_bytes(40, {P, P, M, P, P, M}), 2},
      {"stored +-+- is plain", with_bytes(40, {P, M, P, M}), 0},
      {"header ++- right after the sync word", with_bytes(2, {P, P, M}), 1},
      {"escape straddling the checksum", with_checksum(end_plus, 0x2D00), 1},
      {"frame ending in ++", with_checksum(frame_at(5), 0x2B2B), 0},
  };
}

TEST(SimEscape, decodes_back_to_the_plain_frame_through_the_receiver) {
  for (const auto& c : escape_cases()) {
    ASSERT_TRUE(checksum_ok(c.frame.data())) << c.name;
    Bytes wire = sim::escape_for_link(c.frame);
    EXPECT_EQ(wire.size(), static_cast<size_t>(FRAME_LEN + c.extra)) << c.name;
    auto got = receive_all(wire);
    ASSERT_EQ(got.frames.size(), 1u) << c.name;
    EXPECT_EQ(got.frames[0], c.frame) << c.name;
    EXPECT_EQ(got.nskip, 0) << c.name;
  }
}

TEST(SimEscape, agrees_with_the_test_suites_escaper) {
  for (const auto& c : escape_cases()) {
    EXPECT_EQ(sim::escape_for_link(c.frame), testing_frames::escape_for_link(as_test_frame(c.frame))) << c.name;
  }
}

TEST(SimEscape, a_run_of_generated_frames_arrives_whole_over_the_link) {
  std::vector<Frame> sent;
  for (uint64_t i = 0; i < 300; ++i) sent.push_back(frame_at(i));
  auto got = receive_all(link_stream(sent));
  EXPECT_EQ(got.frames, sent);
  EXPECT_EQ(got.nskip, 0);
  EXPECT_EQ(got.completed, 300u);
}

// ---- Faults ------------------------------------------------------------

sim::FaultOptions only(sim::FaultRule sim::FaultOptions::*which, sim::FaultRule rule) {
  sim::FaultOptions o;
  o.*which = std::move(rule);
  return o;
}

TEST(SimFaults, listed_frames_are_hit_and_no_others) {
  struct Case {
    const char* name;
    sim::FaultRule sim::FaultOptions::*which;
  } cases[] = {{"noise", &sim::FaultOptions::noise},
               {"bad-checksum", &sim::FaultOptions::bad_checksum},
               {"illegal-escape", &sim::FaultOptions::illegal_escape},
               {"cut", &sim::FaultOptions::cut},
               {"escapes", &sim::FaultOptions::escapes}};
  for (const auto& c : cases) {
    auto options = only(c.which, {0.0, {5, 17}});
    for (uint64_t i = 0; i < 30; ++i) {
      bool hit = sim::choose_faults(options, SEED, i).any();
      EXPECT_EQ(hit, i == 5 || i == 17) << c.name << " frame " << i;
    }
  }
}

TEST(SimFaults, a_rate_hits_about_that_share_of_frames_repeatably) {
  auto options = only(&sim::FaultOptions::bad_checksum, {0.25, {}});
  int hits = 0;
  for (uint64_t i = 0; i < 2000; ++i) {
    bool hit = sim::choose_faults(options, SEED, i).bad_checksum;
    hits += hit;
    ASSERT_EQ(hit, sim::choose_faults(options, SEED, i).bad_checksum) << "frame " << i;
  }
  EXPECT_GT(hits, 400);
  EXPECT_LT(hits, 600);
  EXPECT_FALSE(sim::choose_faults(sim::FaultOptions{}, SEED, 3).any()) << "no options, no faults";
}

// Each fault, on the link, through the receiver: the faulty frame followed
// by two clean ones.
struct LinkFault {
  const char* name;
  sim::WireFrame wire;
  std::vector<Frame> after;
};

LinkFault link_fault(const char* name, sim::FaultRule sim::FaultOptions::*which, uint64_t index) {
  auto faults = sim::choose_faults(only(which, {0.0, {index}}), SEED, index);
  return {name, sim::make_wire(frame_at(index), faults, true), {frame_at(index + 1), frame_at(index + 2)}};
}

Bytes stream_of(const LinkFault& c) {
  Bytes s = c.wire.bytes;
  Bytes rest = link_stream(c.after);
  s.insert(s.end(), rest.begin(), rest.end());
  return s;
}

TEST(SimFaults, noise_is_stray_bytes_before_an_intact_frame) {
  auto c = link_fault("noise", &sim::FaultOptions::noise, 20);
  ASSERT_GT(c.wire.noise_len, 0);
  for (int k = 0; k < c.wire.noise_len; ++k) EXPECT_NE(c.wire.bytes[k], SYNC0) << "noise byte " << k;
  auto got = receive_all(stream_of(c));
  ASSERT_EQ(got.frames.size(), 3u);
  EXPECT_EQ(got.frames[0], frame_at(20));
  EXPECT_EQ(got.nskip, c.wire.noise_len);
}

TEST(SimFaults, bad_checksum_is_a_whole_frame_that_fails_its_checksum) {
  auto c = link_fault("bad-checksum", &sim::FaultOptions::bad_checksum, 21);
  EXPECT_TRUE(c.wire.bad_checksum);
  auto got = receive_all(stream_of(c));
  ASSERT_GE(got.results.size(), 3u);
  EXPECT_EQ(got.results[0], RX_BAD_CHECKSUM);
  EXPECT_EQ(got.frames, c.after);
  EXPECT_EQ(got.nskip, FRAME_LEN);
}

TEST(SimFaults, illegal_escape_makes_the_receiver_reject_the_frame) {
  auto c = link_fault("illegal-escape", &sim::FaultOptions::illegal_escape, 22);
  ASSERT_GE(c.wire.illegal_stored_at, 2);
  auto got = receive_all(stream_of(c));
  ASSERT_GE(got.results.size(), 1u);
  EXPECT_EQ(got.results[0], RX_ILLEGAL_ESCAPE);
  // The receiver dropped what it had stored, "++" included; the rest of the
  // frame is hunted over, where an 0xEB and the byte after it count as one.
  const Bytes bad{P, P, M, '?'};
  auto at = std::search(c.wire.bytes.begin(), c.wire.bytes.end(), bad.begin(), bad.end());
  ASSERT_NE(at, c.wire.bytes.end());
  int hunted = 0;
  for (auto b = at + 4; b < c.wire.bytes.end(); ++b, ++hunted) {
    if (*b != SYNC0) continue;
    ASSERT_NE(b + 1, c.wire.bytes.end()) << "frame ends on 0xEB";
    ASSERT_NE(*(b + 1), SYNC1) << "false sync word in this frame: pick another";
    ++b;
  }
  EXPECT_EQ(got.nskip, c.wire.illegal_stored_at + 2 + hunted);
  EXPECT_EQ(got.frames, c.after);
}

TEST(SimFaults, cut_stops_the_frame_part_way) {
  auto c = link_fault("cut", &sim::FaultOptions::cut, 23);
  Bytes whole = sim::escape_for_link(frame_at(23));
  ASSERT_GT(c.wire.cut_keep, 2);
  ASSERT_LT(c.wire.cut_keep, static_cast<int>(whole.size()));
  EXPECT_EQ(c.wire.bytes, Bytes(whole.begin(), whole.begin() + c.wire.cut_keep)) << "a prefix of the frame";
  auto got = receive_all(stream_of(c));
  // The receiver fills its frame from the next one and fails the checksum;
  // the cut frame is never shown.
  ASSERT_GE(got.results.size(), 1u);
  EXPECT_EQ(got.results[0], RX_BAD_CHECKSUM);
  for (const auto& f : got.frames) EXPECT_NE(f, frame_at(23));
}

TEST(SimFaults, escapes_make_the_link_carry_a_longer_frame_that_the_receiver_restores) {
  auto c = link_fault("escapes", &sim::FaultOptions::escapes, 24);
  EXPECT_EQ(c.wire.escapes, sim::ESCAPES_PER_FRAME);
  EXPECT_FALSE(c.wire.broken());
  EXPECT_EQ(c.wire.frame_len, FRAME_LEN + sim::ESCAPES_PER_FRAME) << "each \"++-\" goes as \"++-1\"";
  auto got = receive_all(stream_of(c));
  ASSERT_EQ(got.frames.size(), 3u);
  EXPECT_TRUE(checksum_ok(got.frames[0].data()));
  EXPECT_EQ(fcount(got.frames[0].data()), fcount(frame_at(24).data())) << "the same frame, its content escaped";
  const Bytes escape{P, P, M};
  EXPECT_NE(std::search(got.frames[0].begin(), got.frames[0].end(), escape.begin(), escape.end()),
            got.frames[0].end());
  EXPECT_EQ(got.nskip, 0);
  EXPECT_EQ(got.frames[1], frame_at(25));
}

TEST(SimFaults, a_file_gets_plain_frames_with_the_same_faults) {
  // To a file nothing is escaped; a fault-free frame is the frame itself.
  Frame escaped_content = with_bytes(40, {P, P, M});
  EXPECT_EQ(sim::make_wire(escaped_content, {}, false).bytes, Bytes(escaped_content.begin(), escaped_content.end()));
  sim::FrameFaults cut;
  cut.cut_keep = 120;
  auto wire = sim::make_wire(frame_at(9), cut, false);
  EXPECT_EQ(wire.frame_len, 120);
  sim::FrameFaults illegal;
  illegal.illegal_at = 50;
  wire = sim::make_wire(frame_at(9), illegal, false);
  EXPECT_EQ(wire.frame_len, FRAME_LEN + 4);
  EXPECT_EQ(Bytes(wire.bytes.begin() + 50, wire.bytes.begin() + 54), (Bytes{P, P, M, '?'}));
}

TEST(SimFaults, descriptions_name_each_fault) {
  sim::FrameFaults all;
  all.noise = {1, 2, 3};
  all.bad_checksum = true;
  all.illegal_at = 60;
  all.cut_keep = 150;
  auto wire = sim::make_wire(with_bytes(60, {0, 0, 0}), all, false);
  EXPECT_EQ(sim::describe_faults(wire), "noise 3 bad-checksum illegal-escape 60 cut 150");
  EXPECT_EQ(sim::describe_faults(sim::make_wire(frame_at(1), {}, true)), "");
}

}  // namespace
