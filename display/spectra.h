// The two count spectra: 48 channels (every frame) and 256 channels (while
// accumulating), kept as integer totals with per-block frame counts and
// plotted as rates against channel position.
//
// Totals are 64-bit: full-scale words (32767) fill 32 bits after 65 540
// frames of one block, about seven hours at the link rate, and the 48-channel
// totals are never reset but by Clear. 64 bits last far beyond any session.
// Frame counts grow by one a frame, so 32 bits last years.
#pragma once

#include <cstdint>
#include <cstdio>

struct spectra_t {
  int16_t wid256[256];  // channel widths, scale units
  float ctr256[256];    // plot positions (channel centres)
  int64_t acc256[256];  // totals
  int32_t nfr256[32];   // frames per block of 8 channels
  int16_t wid48[48];
  float ctr48[48];
  int64_t acc48[48];    // totals
  int32_t nfr48[4];     // frames per block of 12 channels
  float tscale;         // time scale of the rate divisor (2.2)
};

// Builds the bin tables (widths, positions, tscale) and zeroes the frame
// counts. Totals are left alone.
void init(spectra_t& s);

// Zeroes acc256 and nfr256 (run start). No graph is touched.
void spectra_zero256(spectra_t& s);

// Adds one frame's slices: with acc_on != 0 the 8 words at offset 174 into
// block fsub of the 256-channel spectrum (subtracted when acc_on < 0), then
// always the 12 words at offset 150 into block fkind of the 48-channel one.
void spectra_accumulate(spectra_t& s, const uint8_t* frame, int fsub, int fkind,
                        int acc_on);

// Rate of a channel: total / (width * blocks * frames * tscale), 0 when its
// block has no frames. The divisor width * blocks * frames is a 64-bit
// integer (at most 64 * 32 * (2^31 - 1) < 2^42, exact in a double), so it
// equals the 32-bit product wherever that is in range and never overflows.
// The quotient is taken in double and stored as a float.
float rate48(const spectra_t& s, int channel);
float rate256(const spectra_t& s, int channel);

// Replace the graph's plot with the current rates.
void spectra_redraw48(spectra_t& s, int panel);
void spectra_redraw256(spectra_t& s, int panel);

// Zeroes both spectra and empties both graphs.
void spectra_clear(spectra_t& s, int panel);

// Writes both spectra as CSV rows under the header
// "spectrum,channel,position,width,total,frames,rate": the 48 channels, then
// the 256, each with its block's frame count and its rate (rate48/rate256,
// 9 significant digits). Reads `s` only.
void spectra_write_csv(const spectra_t& s, FILE* out);

// The rates last plotted (for tests and exports).
const float* last_rate48();
const float* last_rate256();
