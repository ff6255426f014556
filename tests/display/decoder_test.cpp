// The frame decoder against the real panel: every field lands in its
// control with its type, in the documented order.
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "display/decoder.h"
#include "display/hkpg.h"
#include "link/frame.h"
#include "panel_fixture.h"
#include "runtime/testing.h"
#include "runtime/ui.h"
#include "support/frames.h"

using testing_frames::FrameBuilder;

namespace {

class DecoderTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    init(spectra);
  }
  void process(const FrameBuilder& f, int acc_on = 1) {
    frm_process(f.data(), spectra, panel, acc_on);
  }
  spectra_t spectra{};
};

TEST_F(DecoderTest, header_word_splits_into_its_two_fields) {
  struct Case {
    int word, hi, mid;
  } cases[] = {{0x8000, 16, 0}, {0xFFFF, 31, 63}, {0x07E0, 0, 63}, {0x001F, 0, 0}};
  for (const Case& c : cases) {
    process(FrameBuilder().word(OFF_HEADER, c.word));
    EXPECT_EQ(ival(PANEL_W2_HI), c.hi) << "word 0x" << std::hex << c.word;
    EXPECT_EQ(ival(PANEL_W2_MID), c.mid) << "word 0x" << std::hex << c.word;
  }
}

TEST_F(DecoderTest, counter_of_21_bits_picks_the_housekeeping_slot) {
  // Bytes 3..5 = 0x01 0x80 0x00: fcount 98304, slot 24. The header fields
  // above the counter's five bits must not leak into it.
  FrameBuilder f;
  f.header_fields(31, 63).byte(3, 0xE1).byte(4, 0x80).byte(5, 0x00).word(OFF_HK, 40000);
  process(f);
  EXPECT_EQ(dval(PANEL_HK24), hk_scaled(24, 40000));
  EXPECT_EQ(calls()[12], "SetCtrlVal PANEL_HK24") << "98304 mod 40 is 24";
}

TEST_F(DecoderTest, kind_one_frame_shows_the_elapsed_time_text) {
  struct Case {
    int32_t ms;
    const char* text;
  } cases[] = {
      {90061500, "1/01:01:01.5"},      {0, "0/00:00:00.0"},
      {86400000, "1/00:00:00.0"},      {2147483647, "24/20:31:23.6"},
      {59960, "0/00:00:60.0"},         {-1500, "0/00:00:-1.5"},
      {INT32_MIN, "-24/-20:-31:-23.6"},  // the longest text: 17 characters
  };
  for (const Case& c : cases) {
    process(FrameBuilder().counter(1).long32(OFF_KIND_VALUE, c.ms));
    EXPECT_EQ(tval(PANEL_TIME), c.text) << c.ms << " ms";
  }
}

TEST(FormatElapsed, never_writes_past_a_short_buffer) {
  char buf[32];
  for (int size : {1, 5, 16, 17}) {
    std::memset(buf, '#', sizeof buf);
    int need = format_elapsed(INT32_MIN, buf, size);
    EXPECT_EQ(need, 17) << "size " << size;
    EXPECT_EQ(std::strlen(buf), static_cast<size_t>(size - 1)) << "size " << size;
    for (int i = size; i < static_cast<int>(sizeof buf); ++i) {
      ASSERT_EQ(buf[i], '#') << "byte " << i << " written with size " << size;
    }
  }
  EXPECT_EQ(format_elapsed(INT32_MIN, buf, 18), 17);
  EXPECT_STREQ(buf, "-24/-20:-31:-23.6");
}

TEST_F(DecoderTest, kind_value_goes_to_its_kind_display_scaled) {
  struct Case {
    int kind;
    int32_t value;
    int ctrl;
    double shown;
  } cases[] = {
      {0, 123456, PANEL_L6_K0, 123.456},
      {0, -1, PANEL_L6_K0, -0.001},
      {2, 1 << 30, PANEL_L6_K2, 89.999965945856},
      {2, INT32_MIN, PANEL_L6_K2, -179.999931891712},
      {3, 1 << 30, PANEL_L6_K3, 89.999965945856},
      {3, INT32_MAX, PANEL_L6_K3, 179.999931807893},
  };
  for (const Case& c : cases) {
    process(FrameBuilder().counter(c.kind).long32(OFF_KIND_VALUE, c.value));
    EXPECT_NEAR(dval(c.ctrl), c.shown, 1e-12) << "kind " << c.kind << " value " << c.value;
  }
}

TEST_F(DecoderTest, each_kind_writes_its_float_word_and_value_in_that_order) {
  struct Case {
    int kind;
    const char *f24, *w190, *value;
    int f24_id, w190_id;
  } cases[] = {
      {0, "PANEL_F24_B", "PANEL_W190_K0", "PANEL_L6_K0", PANEL_F24_B, PANEL_W190_K0},
      {1, "PANEL_F24_A", "PANEL_W190_K1", "PANEL_TIME", PANEL_F24_A, PANEL_W190_K1},
      {2, "PANEL_F24_B", "PANEL_W190_K2", "PANEL_L6_K2", PANEL_F24_B, PANEL_W190_K2},
      {3, "PANEL_F24_A", "PANEL_W190_K3", "PANEL_L6_K3", PANEL_F24_A, PANEL_W190_K3},
  };
  for (const Case& c : cases) {
    clear_calls();
    process(FrameBuilder().counter(c.kind).float32(OFF_F24, -2.5f).word(OFF_W190, 0xFFFE));
    std::vector<std::string> got = calls();
    ASSERT_GE(got.size(), 11u) << "kind " << c.kind;
    EXPECT_EQ(got[8], std::string("SetCtrlVal ") + c.f24) << "kind " << c.kind;
    EXPECT_EQ(got[9], std::string("SetCtrlVal ") + c.w190) << "kind " << c.kind;
    EXPECT_EQ(got[10], std::string("SetCtrlVal ") + c.value) << "kind " << c.kind;
    EXPECT_EQ(dval(c.f24_id), -2.5) << "kind " << c.kind;
    EXPECT_EQ(ival(c.w190_id), -2) << "kind " << c.kind;
  }
}

TEST_F(DecoderTest, frame_makes_its_calls_in_the_documented_order) {
  process(FrameBuilder().counter(1));
  std::vector<std::string> expected = {
      "SetCtrlVal PANEL_W2_HI",  "SetCtrlVal PANEL_W2_MID",  "SetCtrlVal PANEL_W192",
      "SetCtrlVal PANEL_W194",   "SetCtrlVal PANEL_W196",    "SetCtrlVal PANEL_F12",
      "SetCtrlVal PANEL_F16",    "SetCtrlVal PANEL_F20",     "SetCtrlVal PANEL_F24_A",
      "SetCtrlVal PANEL_W190_K1", "SetCtrlVal PANEL_TIME",   "SetCtrlVal PANEL_W10",
      "SetCtrlVal PANEL_HK01",   "PlotStripChart PANEL_STRIP",
  };
  EXPECT_EQ(calls(), expected);
}

TEST_F(DecoderTest, kind_zero_frame_leaves_other_kinds_displays_alone) {
  SetCtrlVal(panel, PANEL_F24_A, 7.5);
  SetCtrlVal(panel, PANEL_W190_K1, 11);
  SetCtrlVal(panel, PANEL_W190_K2, 12);
  SetCtrlVal(panel, PANEL_W190_K3, 13);
  SetCtrlVal(panel, PANEL_TIME, "kept");
  SetCtrlVal(panel, PANEL_L6_K2, 1.25);
  SetCtrlVal(panel, PANEL_L6_K3, 2.25);
  process(FrameBuilder()
              .counter(4)
              .float32(OFF_F24, 3.0f)
              .word(OFF_W190, 99)
              .long32(OFF_KIND_VALUE, 5000));
  EXPECT_EQ(dval(PANEL_F24_A), 7.5);
  EXPECT_EQ(ival(PANEL_W190_K1), 11);
  EXPECT_EQ(ival(PANEL_W190_K2), 12);
  EXPECT_EQ(ival(PANEL_W190_K3), 13);
  EXPECT_EQ(tval(PANEL_TIME), "kept");
  EXPECT_EQ(dval(PANEL_L6_K2), 1.25);
  EXPECT_EQ(dval(PANEL_L6_K3), 2.25);
  EXPECT_EQ(dval(PANEL_F24_B), 3.0);
  EXPECT_EQ(ival(PANEL_W190_K0), 99);
  EXPECT_EQ(dval(PANEL_L6_K0), 5.0);
}

TEST_F(DecoderTest, floats_pass_through_unchanged_including_nan_and_infinity) {
  const float inf = std::numeric_limits<float>::infinity();
  FrameBuilder f;
  f.counter(2).long32(OFF_F12, 0x3F800000).float32(OFF_F16, inf).float32(OFF_F20, -inf)
      .long32(OFF_F24, 0x7FC00001);  // a quiet NaN with payload
  process(f);
  EXPECT_EQ(dval(PANEL_F12), 1.0) << "0x3F800000";
  EXPECT_EQ(dval(PANEL_F16), static_cast<double>(inf));
  EXPECT_EQ(dval(PANEL_F20), -static_cast<double>(inf));
  EXPECT_TRUE(std::isnan(dval(PANEL_F24_B))) << "NaN at offset 24, kind 2";

  process(FrameBuilder().counter(2).float32(OFF_F12, 1e-45f).float32(OFF_F16, -3.4e38f));
  EXPECT_EQ(dval(PANEL_F12), static_cast<double>(1e-45f)) << "smallest subnormal";
  EXPECT_EQ(dval(PANEL_F16), static_cast<double>(-3.4e38f));
}

TEST_F(DecoderTest, signed_words_show_as_negative_ints) {
  process(FrameBuilder()
              .word(OFF_W10, 0xFFFF)
              .word(OFF_W192, 0x8000)
              .word(OFF_W194, 0x7FFF)
              .word(OFF_W196, 0xFFFE)
              .word(OFF_W190, 0x8000));
  EXPECT_EQ(ival(PANEL_W10), -1);
  EXPECT_EQ(ival(PANEL_W192), -32768);
  EXPECT_EQ(ival(PANEL_W194), 32767);
  EXPECT_EQ(ival(PANEL_W196), -2);
  EXPECT_EQ(ival(PANEL_W190_K0), -32768);
}

TEST_F(DecoderTest, strip_chart_gains_twenty_points_per_trace_in_group_order) {
  FrameBuilder f;
  f.strip(0, 0xFFFF, 0x0001, 0xFF, 0x00).strip(7, 0x1234, 0x8000, 0x7F, 0x80)
      .strip(19, 0, 0xFFFE, 1, 2);
  process(f);
  rt::ControlState s = state(PANEL_STRIP);
  for (int t = 0; t < 4; ++t) ASSERT_EQ(s.traces[t].size(), 20u) << "trace " << t + 1;
  struct Case {
    int group;
    uint16_t values[4];
  } cases[] = {{0, {65535, 1, 255, 0}}, {7, {0x1234, 0x8000, 0x7F, 0x80}},
               {19, {0, 0xFFFE, 1, 2}}, {1, {0, 0, 0, 0}}};
  for (const Case& c : cases) {
    for (int t = 0; t < 4; ++t) {
      EXPECT_EQ(s.traces[t][c.group], c.values[t]) << "group " << c.group << " trace " << t + 1;
    }
  }
  std::string line = rt::trace_lines().back();
  EXPECT_NE(line.find("\"n\":80"), std::string::npos) << line;
}

TEST_F(DecoderTest, frame_feeds_the_spectrum_slices_its_counter_selects) {
  // fcount 33: kind 1, sub-block 1.
  FrameBuilder f;
  f.counter(33).spec48(0, 5).spec48(11, -7).spec256(0, 9).spec256(7, 0xFFFF);
  process(f, 1);
  EXPECT_EQ(spectra.acc48[12], 5);
  EXPECT_EQ(spectra.acc48[23], -7);
  EXPECT_EQ(spectra.nfr48[1], 1);
  EXPECT_EQ(spectra.acc256[8], 9);
  EXPECT_EQ(spectra.acc256[15], -1);
  EXPECT_EQ(spectra.nfr256[1], 1);

  process(f, 0);
  EXPECT_EQ(spectra.acc48[12], 10) << "the 48-channel slice is taken with acc_on 0";
  EXPECT_EQ(spectra.nfr48[1], 2);
  EXPECT_EQ(spectra.acc256[8], 9) << "the 256-channel slice is not";
  EXPECT_EQ(spectra.nfr256[1], 1);
}

}  // namespace
