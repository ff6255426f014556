#include "link/frame.h"

namespace {

int32_t nskip = 0;

}  // namespace

int16_t glueshort(const uint8_t* p) {
  // Built unsigned, then taken as the same 16 bits: 0x8000..0xFFFF are negative.
  uint16_t u = static_cast<uint16_t>((p[0] << 8) | p[1]);
  return static_cast<int16_t>(u);
}

int32_t gluelong(const uint8_t* p) {
  uint32_t u = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
  return static_cast<int32_t>(u);
}

uint16_t frame_sum(const uint8_t* frame) {
  uint16_t sum = 0;  // wraps modulo 65536 on every addition
  for (int off = 0; off < OFF_CHECKSUM; off += 2) {
    sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(glueshort(frame + off)));
  }
  return sum;
}

bool checksum_ok(const uint8_t* frame) {
  return frame_sum(frame) == static_cast<uint16_t>(glueshort(frame + OFF_CHECKSUM));
}

uint32_t fcount(const uint8_t* frame) {
  // The top three bits of byte 3 belong to a header field, not the counter.
  uint32_t high5 = frame[OFF_HEADER + 1] & 0x1Fu;
  uint32_t low16 = static_cast<uint16_t>(glueshort(frame + OFF_COUNT));
  return high5 * 65536u + low16;
}

int fkind(const uint8_t* frame) { return frame[OFF_COUNT + 1] & 0x03; }

int fsub(const uint8_t* frame) { return frame[OFF_COUNT + 1] & 0x1F; }

int32_t nskip_count() { return nskip; }

void nskip_add(int32_t n) {
  // Two's-complement wrap instead of signed overflow after 2^31 bytes.
  nskip = static_cast<int32_t>(static_cast<uint32_t>(nskip) + static_cast<uint32_t>(n));
}

void nskip_reset_for_tests() { nskip = 0; }
