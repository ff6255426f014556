// The telemetry frame: 200 bytes, big-endian, sync word 0xEB 0x90 at offset
// 0 and a 16-bit additive checksum at offset 198. Also the discarded-byte
// count that both frame readers add to.
#pragma once

#include <cstdint>

constexpr int FRAME_LEN = 200;
constexpr uint8_t SYNC0 = 0xEB;
constexpr uint8_t SYNC1 = 0x90;

// Field offsets.
constexpr int OFF_HEADER = 2;     // bit fields, top 5 bits of fcount
constexpr int OFF_COUNT = 4;      // low 16 bits of fcount
constexpr int OFF_KIND_VALUE = 6; // signed 32-bit, meaning by fkind
constexpr int OFF_W10 = 10;
constexpr int OFF_F12 = 12;
constexpr int OFF_F16 = 16;
constexpr int OFF_F20 = 20;
constexpr int OFF_F24 = 24;
constexpr int OFF_HK = 28;
constexpr int OFF_STRIP = 30;     // 20 groups of 6 bytes
constexpr int OFF_SPEC48 = 150;   // 12 signed words
constexpr int OFF_SPEC256 = 174;  // 8 signed words
constexpr int OFF_W190 = 190;
constexpr int OFF_W192 = 192;
constexpr int OFF_W194 = 194;
constexpr int OFF_W196 = 196;
constexpr int OFF_CHECKSUM = 198;

// p[0] * 256 + p[1] as a signed 16-bit value (0x8000..0xFFFF are negative).
inline int16_t glueshort(const uint8_t* p) {
  // Built unsigned, then taken as the same 16 bits.
  const uint16_t u = static_cast<uint16_t>((p[0] << 8) | p[1]);
  return static_cast<int16_t>(u);
}
// p[0..3] big-endian as a signed 32-bit value.
int32_t gluelong(const uint8_t* p);

// The 16-bit wrapping sum of the 99 words at offsets 0..196.
uint16_t frame_sum(const uint8_t* frame);
// True when frame_sum equals the word at offset 198.
bool checksum_ok(const uint8_t* frame);

// 21-bit frame counter: (byte 3 & 0x1F) * 65536 + word at offset 4.
uint32_t fcount(const uint8_t* frame);
// byte 5 & 0x03 (= fcount mod 4) and byte 5 & 0x1F (= fcount mod 32).
int fkind(const uint8_t* frame);
int fsub(const uint8_t* frame);

// Input bytes discarded so far by either reader. Starts at 0, never reset
// while the program runs.
int32_t nskip_count();
void nskip_add(int32_t n);

// For tests only.
void nskip_reset_for_tests();
