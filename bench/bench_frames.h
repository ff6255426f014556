// Frames and byte streams for the benchmarks and the soak: sealed frames with
// varied content, the link's "++-" escape and stray bytes. Self-contained, so
// the benchmarks build without the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/frame.h"

namespace bench {

using Frame = std::array<uint8_t, FRAME_LEN>;
using Bytes = std::vector<uint8_t>;

// A small, fast generator (xorshift64*): the same seed gives the same bytes.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t next();
  uint8_t byte() { return static_cast<uint8_t>(next() >> 56); }
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }

 private:
  uint64_t state_;
};

// Writes the checksum word at offset 198.
void seal(Frame& frame);

// Sync word, the 21-bit counter `count` in bytes 3..5, bytes 6..197 random,
// checksum sealed; the last byte is never 0xEB.
Frame random_frame(Random& rng, uint32_t count);

// Sync word and counter, then a body of "++-" runs: on the link about a third
// of its bytes become escapes.
Frame escape_heavy_frame(uint32_t count);

// The frame as the link carries it: the sync word plain, bytes 2..199 with a
// stored '-' after "++" sent as "-1" ("++-" on the link opens an escape).
Bytes escape_for_link(const Frame& frame);

// n random bytes, none of them 0xEB when `no_sync` (stray bytes that never
// start a sync word).
Bytes noise(Random& rng, std::size_t n, bool no_sync);

void append(Bytes& out, const Bytes& bytes);
void append(Bytes& out, const Frame& frame);

}  // namespace bench
