#include "bench/bench_frames.h"

namespace bench {

namespace {

constexpr uint8_t PLUS = 0x2B;
constexpr uint8_t MINUS = 0x2D;
constexpr uint8_t ONE = 0x31;

void put_counter(Frame& f, uint32_t count) {
  f[0] = SYNC0;
  f[1] = SYNC1;
  f[3] = static_cast<uint8_t>((f[3] & 0xE0) | ((count >> 16) & 0x1F));
  f[4] = static_cast<uint8_t>(count >> 8);
  f[5] = static_cast<uint8_t>(count);
}

}  // namespace

uint64_t Random::next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

void seal(Frame& frame) {
  frame[OFF_CHECKSUM] = 0;
  frame[OFF_CHECKSUM + 1] = 0;
  uint16_t sum = frame_sum(frame.data());
  frame[OFF_CHECKSUM] = static_cast<uint8_t>(sum >> 8);
  frame[OFF_CHECKSUM + 1] = static_cast<uint8_t>(sum);
}

Frame random_frame(Random& rng, uint32_t count) {
  Frame f{};
  for (int i = 2; i < OFF_CHECKSUM; ++i) f[i] = rng.byte();
  put_counter(f, count);
  seal(f);
  // A last byte 0xEB would start a false sync word when the next frame is hunted for.
  while (f[FRAME_LEN - 1] == SYNC0) {
    ++f[OFF_CHECKSUM - 1];
    seal(f);
  }
  return f;
}

Frame escape_heavy_frame(uint32_t count) {
  Frame f{};
  static const uint8_t pattern[] = {PLUS, PLUS, MINUS};
  for (int i = 6; i < OFF_CHECKSUM; ++i) f[i] = pattern[(i - 6) % 3];
  put_counter(f, count);
  seal(f);
  return f;
}

Bytes escape_for_link(const Frame& frame) {
  Bytes out{frame[0], frame[1]};
  int plus_run = 0;  // '+' bytes stored since the last escape or other byte
  for (int i = 2; i < FRAME_LEN; ++i) {
    uint8_t b = frame[i];
    if (plus_run == 2 && b == MINUS) {
      out.push_back(MINUS);
      out.push_back(ONE);
      plus_run = 0;
      continue;
    }
    out.push_back(b);
    plus_run = (b == PLUS) ? plus_run + 1 : 0;
    if (plus_run == 3) plus_run = 0;  // a third '+' is plain data: pairs start over
  }
  return out;
}

Bytes noise(Random& rng, std::size_t n, bool no_sync) {
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    uint8_t b = rng.byte();
    if (no_sync && b == SYNC0) continue;
    out.push_back(b);
  }
  return out;
}

void append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }
void append(Bytes& out, const Frame& frame) { out.insert(out.end(), frame.begin(), frame.end()); }

}  // namespace bench
