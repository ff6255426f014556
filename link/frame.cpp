#include "link/frame.h"

#include <bit>
#include <cstring>

namespace {

int32_t nskip = 0;

uint64_t byte_swap(uint64_t v) {
  uint64_t r = 0;
  for (int k = 0; k < 8; ++k, v >>= 8) r = (r << 8) | (v & 0xFF);
  return r;
}

}  // namespace

int32_t gluelong(const uint8_t* p) {
  uint32_t u = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
               (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
  return static_cast<int32_t>(u);
}

uint16_t frame_sum(const uint8_t* frame) {
  // The sum of the words modulo 65536 is 256 times the sum of their high
  // bytes plus the sum of their low bytes, modulo 65536. The high bytes
  // (even offsets) and the low bytes (odd offsets) are summed in 16-bit
  // lanes, sixteen bytes at a time in the compiler's portable vectors (a
  // little-endian host), else eight at a time in a 64-bit word: at most 24
  // additions of at most 255 cannot overflow a lane.
  uint32_t sum = 0;
  int off = 0;
#if defined(__GNUC__)
  if constexpr (std::endian::native == std::endian::little) {
    typedef uint16_t Lanes __attribute__((vector_size(16)));
    Lanes high = {}, low = {};
    for (; off + 16 <= OFF_CHECKSUM; off += 16) {
      Lanes v;  // lane k: byte 2k in its low half, byte 2k + 1 in its high half
      std::memcpy(&v, frame + off, sizeof v);
      high += v & 0xFF;
      low += v >> 8;
    }
    for (int lane = 0; lane < 8; ++lane) sum += high[lane] * 256u + low[lane];
  }
#endif
  uint64_t high = 0, low = 0;
  constexpr uint64_t EVERY_OTHER = 0x00FF00FF00FF00FFull;
  for (; off + 8 <= OFF_CHECKSUM; off += 8) {
    uint64_t v;  // byte k in bits 8k..8k+7
    std::memcpy(&v, frame + off, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = byte_swap(v);
    high += v & EVERY_OTHER;
    low += (v >> 8) & EVERY_OTHER;
  }
  for (int lane = 0; lane < 4; ++lane)
    sum += (static_cast<uint32_t>(high >> (16 * lane)) & 0xFFFFu) * 256u +
           (static_cast<uint32_t>(low >> (16 * lane)) & 0xFFFFu);
  for (; off < OFF_CHECKSUM; off += 2) sum += frame[off] * 256u + frame[off + 1];
  return static_cast<uint16_t>(sum);  // wraps modulo 65536
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
