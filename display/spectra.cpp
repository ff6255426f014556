#include "display/spectra.h"

#include <cstring>

#include "ui/panel.h"
#include "link/frame.h"
#include "runtime/ui.h"

namespace {

constexpr int N48 = 48;
constexpr int N256 = 256;
constexpr int BLOCK48 = 12;  // channels per frame slice
constexpr int BLOCK256 = 8;
constexpr int BLOCKS48 = N48 / BLOCK48;    // 4: frames for a whole spectrum
constexpr int BLOCKS256 = N256 / BLOCK256;  // 32

// 48-channel widths: between 64 and 1024 each doubling holds nine channels
// of 3,4,3,4,4,3,4,3,4 thirty-seconds of its lower edge; below and above,
// six channels of the same pattern at half and twice the size.
constexpr int16_t WIDTHS48[N48] = {
    4,  4,   3,  4,   3,   4,                         // 42 .. 64
    6,  8,   6,  8,   8,   6,  8,  6,  8,             // 64 .. 128
    12, 16,  12, 16,  16,  12, 16, 12, 16,            // 128 .. 256
    24, 32,  24, 32,  32,  24, 32, 24, 32,            // 256 .. 512
    48, 64,  48, 64,  64,  48, 64, 48, 64,            // 512 .. 1024
    96, 128, 96, 128, 128, 96,                        // 1024 .. 1696
};
constexpr int EDGE48 = 42;  // lower edge of channel 0

// Rates last plotted, the y values of the two graphs.
float rates48[N48];
float rates256[N256];

// What each of rates48 was computed from: a frame changes one block of the
// 48-channel spectrum, so the redraw after it divides only where a total,
// a width, a frame count or the time scale changed.
struct Rates48From {
  bool valid = false;
  int64_t acc[N48];
  int16_t wid[N48];
  int32_t nfr[BLOCKS48];
  float tscale;
};
Rates48From rates48_from;

// How both graphs draw their single plot.
constexpr int PLOT_STYLE = 6;
constexpr int POINT_STYLE = 0;
constexpr int LINE_STYLE = 0;
constexpr int POINT_FREQ = 1;
constexpr int PLOT_COLOR = 255;

// Frame counts wrap modulo 2^32 rather than overflow (2^31 frames of one
// block is years of telemetry).
int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// total / (width * blocks * frames * tscale). The divisor is formed in 64
// bits: width 64 x 32 blocks overflows 32 bits at 2^20 frames. Totals below
// 2^53 convert to double exactly, so a rate is the same as with 32-bit
// totals for as long as those would have held the value.
float rate(int64_t total, int width, int blocks, int32_t frames, float tscale) {
  if (frames == 0) return 0.0f;
  int64_t divisor = static_cast<int64_t>(width) * blocks * frames;
  return static_cast<float>(static_cast<double>(total) /
                            (static_cast<double>(divisor) * static_cast<double>(tscale)));
}

}  // namespace

void init(spectra_t& s) {
  // Seven bands of 32 channels (64 for the first) of doubling width.
  for (int i = 0; i < N256; ++i) {
    int width = 1;
    for (int lower = 64; lower <= i; lower += 32) width *= 2;
    s.wid256[i] = static_cast<int16_t>(width);
  }
  int edge = 0;
  for (int i = 0; i < N256; ++i) {
    s.ctr256[i] = static_cast<float>(edge + s.wid256[i] / 2.0);
    edge += s.wid256[i];
  }
  for (int b = 0; b < BLOCKS256; ++b) s.nfr256[b] = 0;

  // Integer positions: upper edge minus half the width, truncated, so the
  // two channels of width 3 sit at lower edge + 2.
  edge = EDGE48;
  for (int i = 0; i < N48; ++i) {
    s.wid48[i] = WIDTHS48[i];
    edge += s.wid48[i];
    s.ctr48[i] = static_cast<float>(edge - s.wid48[i] / 2);
  }
  for (int b = 0; b < BLOCKS48; ++b) s.nfr48[b] = 0;

  s.tscale = 2.2f;
}

void spectra_zero256(spectra_t& s) {
  for (int i = 0; i < N256; ++i) s.acc256[i] = 0;
  for (int b = 0; b < BLOCKS256; ++b) s.nfr256[b] = 0;
}

void spectra_accumulate(spectra_t& s, const uint8_t* frame, int fsub, int fkind,
                        int acc_on) {
  if (acc_on != 0) {
    s.nfr256[fsub] = wrap_add(s.nfr256[fsub], 1);
    for (int i = 0; i < BLOCK256; ++i) {
      int32_t word = glueshort(frame + OFF_SPEC256 + 2 * i);
      s.acc256[BLOCK256 * fsub + i] += acc_on > 0 ? word : -word;
    }
  }
  s.nfr48[fkind] = wrap_add(s.nfr48[fkind], 1);
  for (int i = 0; i < BLOCK48; ++i) {
    int32_t word = glueshort(frame + OFF_SPEC48 + 2 * i);
    s.acc48[BLOCK48 * fkind + i] += word;
  }
}

float rate48(const spectra_t& s, int channel) {
  return rate(s.acc48[channel], s.wid48[channel], BLOCKS48, s.nfr48[channel / BLOCK48],
              s.tscale);
}

float rate256(const spectra_t& s, int channel) {
  return rate(s.acc256[channel], s.wid256[channel], BLOCKS256,
              s.nfr256[channel / BLOCK256], s.tscale);
}

void spectra_redraw48(spectra_t& s, int panel) {
  DeleteGraphPlot(panel, PANEL_SPEC48, ALL_PLOTS, REFRESH_NOW);
  Rates48From& from = rates48_from;
  const bool same_scale = from.valid && from.tscale == s.tscale;
  for (int b = 0; b < BLOCKS48; ++b) {
    const int first = BLOCK48 * b;
    if (same_scale && from.nfr[b] == s.nfr48[b] &&
        std::memcmp(from.acc + first, s.acc48 + first, sizeof s.acc48[0] * BLOCK48) == 0 &&
        std::memcmp(from.wid + first, s.wid48 + first, sizeof s.wid48[0] * BLOCK48) == 0)
      continue;
    for (int i = first; i < first + BLOCK48; ++i) rates48[i] = rate48(s, i);
    std::memcpy(from.acc + first, s.acc48 + first, sizeof s.acc48[0] * BLOCK48);
    std::memcpy(from.wid + first, s.wid48 + first, sizeof s.wid48[0] * BLOCK48);
    from.nfr[b] = s.nfr48[b];
  }
  from.tscale = s.tscale;
  from.valid = true;
  PlotXY(panel, PANEL_SPEC48, s.ctr48, rates48, N48, TYPE_FLOAT, TYPE_FLOAT, PLOT_STYLE,
         POINT_STYLE, LINE_STYLE, POINT_FREQ, PLOT_COLOR);
}

void spectra_redraw256(spectra_t& s, int panel) {
  DeleteGraphPlot(panel, PANEL_SPEC256, ALL_PLOTS, REFRESH_NOW);
  for (int i = 0; i < N256; ++i) rates256[i] = rate256(s, i);
  PlotXY(panel, PANEL_SPEC256, s.ctr256, rates256, N256, TYPE_FLOAT, TYPE_FLOAT, PLOT_STYLE,
         POINT_STYLE, LINE_STYLE, POINT_FREQ, PLOT_COLOR);
}

void spectra_clear(spectra_t& s, int panel) {
  for (int i = 0; i < N48; ++i) s.acc48[i] = 0;
  for (int b = 0; b < BLOCKS48; ++b) s.nfr48[b] = 0;
  DeleteGraphPlot(panel, PANEL_SPEC48, ALL_PLOTS, REFRESH_NOW);
  for (int i = 0; i < N256; ++i) s.acc256[i] = 0;
  for (int b = 0; b < BLOCKS256; ++b) s.nfr256[b] = 0;
  DeleteGraphPlot(panel, PANEL_SPEC256, ALL_PLOTS, REFRESH_NOW);
}

void spectra_write_csv(const spectra_t& s, FILE* out) {
  std::fprintf(out, "spectrum,channel,position,width,total,frames,rate\n");
  for (int i = 0; i < N48; ++i)
    std::fprintf(out, "48,%d,%.9g,%d,%lld,%ld,%.9g\n", i, static_cast<double>(s.ctr48[i]),
                 s.wid48[i], static_cast<long long>(s.acc48[i]),
                 static_cast<long>(s.nfr48[i / BLOCK48]), static_cast<double>(rate48(s, i)));
  for (int i = 0; i < N256; ++i)
    std::fprintf(out, "256,%d,%.9g,%d,%lld,%ld,%.9g\n", i, static_cast<double>(s.ctr256[i]),
                 s.wid256[i], static_cast<long long>(s.acc256[i]),
                 static_cast<long>(s.nfr256[i / BLOCK256]), static_cast<double>(rate256(s, i)));
}

const float* last_rate48() { return rates48; }
const float* last_rate256() { return rates256; }
