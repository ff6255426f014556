// The conversions of a frame's fields into the values the station shows,
// each in one place: the decoder and the housekeeping page call them to
// write the panel, and so do the value catalogue (history/values.cpp) and
// the analysis export (export/frame_csv.cpp), so that the trends, the panel
// put back after a seek, the CSV files and the published values cannot
// disagree with the panel. `frame` is 200 bytes (link/frame.h offsets).
#pragma once

#include <bit>
#include <cstdint>

#include "link/frame.h"

// Kind 0 carries a count, shown in thousands.
constexpr double COUNT_SCALE = 1000.0;
// Kind 1 carries the instrument's elapsed time in milliseconds.
constexpr double MS_PER_S = 1000.0;
// Kinds 2 and 3 carry an angle of 2^32 counts a turn. The factor is the
// decimal 8.3819e-08, a little below 360 / 2^32: a full turn shows as
// 359.999863783424 degrees.
constexpr double DEG_PER_COUNT = 8.3819e-08;

// The fast samples: 20 groups of word, word, byte, byte from OFF_STRIP,
// one value of each of the four traces a group.
constexpr int STRIP_GROUPS = 20;
constexpr int STRIP_GROUP_LEN = 6;
constexpr int STRIP_TRACES = 4;

// The word at `p` taken unsigned, 0..65535.
inline int word_u16(const uint8_t* p) { return static_cast<uint16_t>(glueshort(p)); }

// The signed word at frame offset `off`.
inline int frame_word(const uint8_t* frame, int off) { return glueshort(frame + off); }

// The big-endian IEEE single at `p` as a double, bits unchanged (NaN and
// the infinities pass through).
inline double frame_float(const uint8_t* p) {
  return static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(gluelong(p))));
}

// The header word at offset 2: bits 15..11 and bits 10..5 (the counter's
// top five bits lie below them).
inline int header_high(const uint8_t* frame) { return word_u16(frame + OFF_HEADER) >> 11; }
inline int header_mid(const uint8_t* frame) { return (word_u16(frame + OFF_HEADER) >> 5) & 0x3F; }

// The signed 32-bit value at offset 6, whose meaning the kind gives.
inline int32_t kind_value(const uint8_t* frame) { return gluelong(frame + OFF_KIND_VALUE); }
// Kind 0: the count in thousands.
inline double count_k0(int32_t value) { return static_cast<double>(value) / COUNT_SCALE; }
// Kind 1: milliseconds, in seconds.
inline double elapsed_k1_s(int32_t ms) { return ms / MS_PER_S; }
// Kinds 2 and 3: counts, in degrees.
inline double angle_deg(int32_t counts) { return static_cast<double>(counts) * DEG_PER_COUNT; }

// The housekeeping word (offset 28), unsigned; slot 36 shows its two bytes.
inline int hk_word(const uint8_t* frame) { return word_u16(frame + OFF_HK); }
inline int hk_high_byte(int word) { return (word & 0xFFFF) >> 8; }
inline int hk_low_byte(int word) { return word & 0xFF; }

// Group `g` (0..19) of the fast samples, one value of each trace.
inline void strip_group(const uint8_t* frame, int g, uint16_t out[STRIP_TRACES]) {
  const uint8_t* group = frame + OFF_STRIP + STRIP_GROUP_LEN * g;
  out[0] = static_cast<uint16_t>(word_u16(group));
  out[1] = static_cast<uint16_t>(word_u16(group + 2));
  out[2] = group[4];
  out[3] = group[5];
}
