// The two spectra: bin tables, accumulation, rates and their plots.
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "display/spectra.h"
#include "panel_fixture.h"
#include "runtime/ui.h"
#include "support/frames.h"

using testing_frames::FrameBuilder;

namespace {

class SpectraTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    init(s);
  }
  // A frame of counter `count` (kind count mod 4, block count mod 32).
  void feed(const FrameBuilder& f, int count, int acc_on = 1) {
    spectra_accumulate(s, f.data(), count % 32, count % 4, acc_on);
  }
  spectra_t s{};
};

TEST(SpectraInit, bin_tables_match_the_channel_layout) {
  spectra_t s{};
  s.acc48[5] = 7;
  s.acc256[9] = 8;
  s.nfr48[2] = 3;
  s.nfr256[31] = 4;
  init(s);

  const float ctr48[48] = {44,  48,  52,  55,  59,  62,  67,  74,   81,   88,   96,   103,
                           110, 117, 124, 134, 148, 162, 176, 192,  206,  220,  234,  248,
                           268, 296, 324, 352, 384, 412, 440, 468,  496,  536,  592,  648,
                           704, 768, 824, 880, 936, 992, 1072, 1184, 1296, 1408, 1536, 1648};
  for (int i = 0; i < 48; ++i) EXPECT_EQ(s.ctr48[i], ctr48[i]) << "ctr48 channel " << i;

  struct Sample {
    int channel;
    float centre;
    int width;
  } samples[] = {{0, 0.5f, 1},   {63, 63.5f, 1},  {64, 65, 2},     {95, 127, 2},
                 {96, 130, 4},   {128, 260, 8},   {160, 520, 16},  {192, 1040, 32},
                 {224, 2080, 64}, {255, 4064, 64}};
  for (const Sample& c : samples) {
    EXPECT_EQ(s.ctr256[c.channel], c.centre) << "ctr256 channel " << c.channel;
    EXPECT_EQ(s.wid256[c.channel], c.width) << "wid256 channel " << c.channel;
  }

  EXPECT_EQ(std::accumulate(s.wid48, s.wid48 + 48, 0), 1654);
  EXPECT_EQ(std::accumulate(s.wid256, s.wid256 + 256, 0), 4096);
  EXPECT_EQ(s.wid48[2], 3);
  EXPECT_EQ(s.wid48[47], 96);
  EXPECT_EQ(s.tscale, 2.2f);
  EXPECT_EQ(s.nfr48[2], 0);
  EXPECT_EQ(s.nfr256[31], 0);
  EXPECT_EQ(s.acc48[5], 7) << "totals are left alone";
  EXPECT_EQ(s.acc256[9], 8) << "totals are left alone";
}

TEST_F(SpectraTest, one_frame_gives_the_worked_rates) {
  feed(FrameBuilder().spec48(0, 88).spec256(0, 352), 0);
  EXPECT_EQ(rate48(s, 0), 2.5f) << "88 / (4*4*1 * 2.2)";
  EXPECT_EQ(rate256(s, 0), 5.0f) << "352 / (1*32*1 * 2.2)";
  EXPECT_EQ(rate48(s, 12), 0.0f) << "a block without frames";
  EXPECT_EQ(rate256(s, 8), 0.0f) << "a block without frames";
}

TEST_F(SpectraTest, negative_words_make_negative_totals_and_rates) {
  FrameBuilder f;
  f.spec48(3, 0xFFFF).spec48(4, 0x8000).spec256(2, 0xFFFF);
  feed(f, 0);
  feed(f, 0);
  EXPECT_EQ(s.acc48[3], -2);
  EXPECT_EQ(s.acc48[4], -65536);
  EXPECT_EQ(s.acc256[2], -2);
  EXPECT_LT(rate48(s, 4), 0.0f);
  EXPECT_FLOAT_EQ(rate256(s, 2), static_cast<float>(-2.0 / (1 * 32 * 2 * double(2.2f))));
}

TEST_F(SpectraTest, acc_on_steers_only_the_256_channel_slice) {
  struct Case {
    int acc_on;
    int32_t total256;
    int32_t frames256;
  } cases[] = {{1, 100, 1}, {7, 100, 1}, {0, 0, 0}, {-1, -100, 1}, {INT32_MIN, -100, 1}};
  for (const Case& c : cases) {
    spectra_clear(s, panel);
    feed(FrameBuilder().counter(0).spec48(0, 50).spec256(0, 100), 0, c.acc_on);
    EXPECT_EQ(s.acc256[0], c.total256) << "acc_on " << c.acc_on;
    EXPECT_EQ(s.nfr256[0], c.frames256) << "acc_on " << c.acc_on;
    EXPECT_EQ(s.acc48[0], 50) << "acc_on " << c.acc_on;
    EXPECT_EQ(s.nfr48[0], 1) << "acc_on " << c.acc_on;
  }
}

TEST_F(SpectraTest, last_blocks_feed_the_last_channels) {
  FrameBuilder f;
  for (int i = 0; i < 12; ++i) f.spec48(i, 100 + i);
  for (int i = 0; i < 8; ++i) f.spec256(i, 200 + i);
  feed(f, 31, 1);  // kind 3, block 31
  for (int i = 0; i < 12; ++i) EXPECT_EQ(s.acc48[36 + i], 100 + i) << "48 channel " << 36 + i;
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(s.acc256[248 + i], 200 + i) << "256 channel " << 248 + i;
    EXPECT_EQ(s.wid256[248 + i], 64);
  }
  EXPECT_EQ(std::accumulate(s.acc48, s.acc48 + 36, 0), 0);
  EXPECT_EQ(std::accumulate(s.acc256, s.acc256 + 248, 0), 0);
}

TEST_F(SpectraTest, rate_divisor_holds_beyond_a_million_frames) {
  // Width 64 x 32 blocks x n leaves 32 bits from n = 2^20 on.
  const int32_t frames[] = {1, 1048575, 1048576, 2000000, INT32_MAX};
  for (int32_t n : frames) {
    s.nfr256[31] = n;
    s.acc256[255] = 1000000000;
    s.nfr48[3] = n;
    s.acc48[47] = 1000000000;
    double expect256 = 1e9 / (64.0 * 32.0 * n * double(2.2f));
    double expect48 = 1e9 / (96.0 * 4.0 * n * double(2.2f));
    EXPECT_EQ(rate256(s, 255), static_cast<float>(expect256)) << n << " frames";
    EXPECT_EQ(rate48(s, 47), static_cast<float>(expect48)) << n << " frames";
  }
}

// 65 540 frames of full-scale words (32767) take a total past 2^31 - 1: seven
// hours of kind-0 frames at the link rate. The total goes on, and the rate
// stays 32767 / (width * blocks * 2.2), as it was while 32 bits held it.
TEST_F(SpectraTest, full_scale_totals_do_not_wrap_after_seven_hours) {
  FrameBuilder f;
  f.spec48(0, 0x7FFF).spec256(0, 0x7FFF);
  for (int n = 1; n <= 65540; ++n) {
    feed(f, 0);      // kind 0, block 0
    feed(f, 1, -1);  // kind 1, block 1, subtracted: runs negative
    if (n == 65539) {
      ASSERT_EQ(s.acc48[0], 2147516413) << "the last total 32 bits hold";
      EXPECT_EQ(rate48(s, 0), 930.880676f) << "in range, 48 channel 0";
      EXPECT_EQ(rate256(s, 0), 465.440338f) << "in range, 256 channel 0";
    }
  }
  struct Case {
    const char* name;
    int64_t total;
    int64_t expect_total;
    float rate;
    float expect_rate;
  } cases[] = {
      {"48 channel 0", s.acc48[0], 2147549180, rate48(s, 0), 930.880676f},
      {"256 channel 0", s.acc256[0], 2147549180, rate256(s, 0), 465.440338f},
      {"256 channel 8, subtracted", s.acc256[8], -2147549180, rate256(s, 8), -465.440338f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.total, c.expect_total) << c.name;
    EXPECT_EQ(c.rate, c.expect_rate) << c.name;
  }
  // "Save spectra" writes the whole total.
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  spectra_write_csv(s, out);
  std::rewind(out);
  std::string csv;
  for (int ch; (ch = std::fgetc(out)) != EOF;) csv += static_cast<char>(ch);
  std::fclose(out);
  EXPECT_NE(csv.find("\n48,0,44,4,2147549180,65540,930.880676\n"), std::string::npos) << csv.substr(0, 200);
  EXPECT_NE(csv.find("\n256,8,8.5,1,-2147549180,65540,-465.440338\n"), std::string::npos);
}

TEST_F(SpectraTest, redraw_replaces_the_plot_with_exact_arguments) {
  feed(FrameBuilder().spec48(0, 88).spec256(0, 352), 0);
  for (int round = 0; round < 2; ++round) {
    spectra_redraw48(s, panel);
    spectra_redraw256(s, panel);
  }
  struct Case {
    int ctrl;
    const float* x;
    const float* y;
    size_t n;
  } cases[] = {{PANEL_SPEC48, s.ctr48, last_rate48(), 48},
               {PANEL_SPEC256, s.ctr256, last_rate256(), 256}};
  for (const Case& c : cases) {
    rt::ControlState g = state(c.ctrl);
    ASSERT_EQ(g.plots.size(), 1u) << "graph " << c.ctrl << " keeps one plot";
    const rt::Plot& p = g.plots[0];
    EXPECT_EQ(p.style, 6) << "graph " << c.ctrl;
    EXPECT_EQ(p.point, 0) << "graph " << c.ctrl;
    EXPECT_EQ(p.line, 0) << "graph " << c.ctrl;
    EXPECT_EQ(p.freq, 1) << "graph " << c.ctrl;
    EXPECT_EQ(p.color, 255) << "graph " << c.ctrl;
    EXPECT_EQ(p.x, std::vector<float>(c.x, c.x + c.n)) << "graph " << c.ctrl;
    EXPECT_EQ(p.y, std::vector<float>(c.y, c.y + c.n)) << "graph " << c.ctrl;
  }
  EXPECT_EQ(last_rate48()[0], 2.5f);
  EXPECT_EQ(last_rate256()[0], 5.0f);
  std::vector<std::string> expected = {
      "DeleteGraphPlot PANEL_SPEC48", "PlotXY PANEL_SPEC48", "DeleteGraphPlot PANEL_SPEC256",
      "PlotXY PANEL_SPEC256",         "DeleteGraphPlot PANEL_SPEC48", "PlotXY PANEL_SPEC48",
      "DeleteGraphPlot PANEL_SPEC256", "PlotXY PANEL_SPEC256"};
  EXPECT_EQ(calls(), expected);
}

TEST_F(SpectraTest, a_redraw_shows_the_rates_of_the_spectrum_given_even_with_the_same_frame_counts) {
  // Redraws divide only where a block changed: another spectrum with the
  // same frame counts, or a total changed in place, must still be drawn.
  feed(FrameBuilder().spec48(0, 88), 0);
  spectra_redraw48(s, panel);
  spectra_t other = s;
  other.acc48[0] = 176;  // same block, same frame count
  spectra_redraw48(other, panel);
  EXPECT_EQ(last_rate48()[0], 5.0f) << "176 / (4*4*1 * 2.2)";
  spectra_redraw48(s, panel);
  EXPECT_EQ(last_rate48()[0], 2.5f);
  s.wid48[0] = 8;  // a width changed: 88 / (8*4*1 * 2.2)
  spectra_redraw48(s, panel);
  EXPECT_EQ(last_rate48()[0], 1.25f);
}

TEST_F(SpectraTest, clear_empties_both_then_next_frame_shows_only_its_slice) {
  for (int count = 0; count < 8; ++count) feed(FrameBuilder().spec48(0, 10).spec256(0, 10), count);
  spectra_redraw48(s, panel);
  spectra_redraw256(s, panel);
  clear_calls();

  spectra_clear(s, panel);
  EXPECT_EQ(calls(), (std::vector<std::string>{"DeleteGraphPlot PANEL_SPEC48",
                                               "DeleteGraphPlot PANEL_SPEC256"}));
  EXPECT_TRUE(state(PANEL_SPEC48).plots.empty());
  EXPECT_TRUE(state(PANEL_SPEC256).plots.empty());
  for (int i = 0; i < 48; ++i) ASSERT_EQ(s.acc48[i], 0) << "acc48 " << i;
  for (int i = 0; i < 256; ++i) ASSERT_EQ(s.acc256[i], 0) << "acc256 " << i;
  for (int b = 0; b < 4; ++b) ASSERT_EQ(s.nfr48[b], 0) << "nfr48 " << b;
  for (int b = 0; b < 32; ++b) ASSERT_EQ(s.nfr256[b], 0) << "nfr256 " << b;

  FrameBuilder f;
  for (int i = 0; i < 12; ++i) f.spec48(i, 44 * (i + 1));
  feed(f, 2);  // kind 2: channels 24 to 35
  spectra_redraw48(s, panel);
  rt::ControlState graph = state(PANEL_SPEC48);
  ASSERT_EQ(graph.plots.size(), 1u);
  const std::vector<float>& y = graph.plots[0].y;
  ASSERT_EQ(y.size(), 48u);
  for (int i = 0; i < 48; ++i) {
    float expect = 0.0f;
    if (i >= 24 && i < 36) expect = static_cast<float>(44.0 * (i - 23) / (s.wid48[i] * 4 * 1 * double(2.2f)));
    EXPECT_EQ(y[i], expect) << "channel " << i;
  }
}

TEST_F(SpectraTest, run_start_zeroes_only_the_256_channel_totals) {
  feed(FrameBuilder().spec48(0, 3).spec256(0, 4), 0);
  spectra_redraw256(s, panel);
  clear_calls();
  spectra_zero256(s);
  EXPECT_EQ(s.acc256[0], 0);
  EXPECT_EQ(s.nfr256[0], 0);
  EXPECT_EQ(s.acc48[0], 3);
  EXPECT_EQ(s.nfr48[0], 1);
  EXPECT_TRUE(calls().empty()) << "no graph is touched";
  EXPECT_EQ(state(PANEL_SPEC256).plots.size(), 1u);
}

}  // namespace
