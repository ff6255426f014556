// The frame layout helpers and the checksum rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "link/frame.h"
#include "support/frames.h"

using testing_frames::FrameBuilder;

namespace {

float as_float(int32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

}  // namespace

TEST(Checksum, frame_of_zeros_is_valid_with_the_sync_word_as_checksum) {
  uint8_t frame[FRAME_LEN] = {};
  frame[0] = SYNC0;
  frame[1] = SYNC1;
  frame[OFF_CHECKSUM] = 0xEB;
  frame[OFF_CHECKSUM + 1] = 0x90;
  EXPECT_EQ(frame_sum(frame), 0xEB90);
  EXPECT_TRUE(checksum_ok(frame));
}

TEST(Checksum, sum_wraps_at_16_bits) {
  uint8_t frame[FRAME_LEN] = {};
  frame[0] = SYNC0;
  frame[1] = SYNC1;
  // 0xEB90 + 0x1473 = 0x10003.
  frame[OFF_W10] = 0x14;
  frame[OFF_W10 + 1] = 0x73;
  frame[OFF_CHECKSUM + 1] = 0x03;
  EXPECT_EQ(frame_sum(frame), 0x0003);
  EXPECT_TRUE(checksum_ok(frame));
}

TEST(Checksum, sum_counts_words_with_the_top_bit_set_as_unsigned) {
  FrameBuilder f;
  f.word(OFF_W190, 0xFFFF).word(OFF_W192, 0x8000);
  // 0xEB90 + 0xFFFF + 0x8000 = 0x26B8F.
  EXPECT_EQ(frame_sum(f.data()), 0x6B8F);
  EXPECT_EQ(f.bytes[OFF_CHECKSUM], 0x6B);
  EXPECT_TRUE(checksum_ok(f.data()));
  // Every word 0xFFFF: 99 * 0xFFFF = 0x62FF9D, the largest sums there are.
  uint8_t full[FRAME_LEN];
  std::fill(full, full + FRAME_LEN, 0xFF);
  EXPECT_EQ(frame_sum(full), 0xFF9D);
}

TEST(Checksum, any_single_changed_byte_makes_the_frame_bad) {
  FrameBuilder f;
  f.counter(123457).long32(OFF_KIND_VALUE, -77).float32(OFF_F12, 3.5f).spec48(4, -3).word(OFF_W196, 0x7FFF);
  ASSERT_TRUE(checksum_ok(f.data()));
  for (int off = 0; off < FRAME_LEN; ++off) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      testing_frames::Frame bad = f.bytes;
      bad[off] ^= flip;
      EXPECT_FALSE(checksum_ok(bad.data())) << "byte " << off << " xor " << int(flip);
    }
  }
}

TEST(Glue, glueshort_is_signed_16_bit_big_endian) {
  struct Case {
    uint8_t b0, b1;
    int16_t want;
  } cases[] = {{0xFF, 0xFE, -2}, {0x80, 0x00, -32768}, {0x7F, 0xFF, 32767}, {0x01, 0x02, 258}, {0, 0, 0}};
  for (const auto& c : cases) {
    uint8_t p[2] = {c.b0, c.b1};
    EXPECT_EQ(glueshort(p), c.want) << std::hex << int(c.b0) << " " << int(c.b1);
  }
}

TEST(Glue, gluelong_is_signed_32_bit_big_endian) {
  const uint8_t min[4] = {0x80, 0, 0, 0};
  const uint8_t minus_one[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t mixed[4] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(gluelong(min), INT32_MIN);
  EXPECT_EQ(gluelong(minus_one), -1);
  EXPECT_EQ(gluelong(mixed), 0x01020304);
}

TEST(Glue, gluelong_bits_read_as_single_precision) {
  const uint8_t one[4] = {0x3F, 0x80, 0x00, 0x00};
  const uint8_t minus_two_and_half[4] = {0xC0, 0x20, 0x00, 0x00};
  EXPECT_EQ(as_float(gluelong(one)), 1.0f);
  EXPECT_EQ(as_float(gluelong(minus_two_and_half)), -2.5f);
}

TEST(Counter, fcount_fkind_fsub_from_header_bytes) {
  struct Case {
    const char* name;
    uint8_t b2, b3, b4, b5;
    uint32_t count;
    int kind, sub;
  } cases[] = {
      {"all ones", 0x00, 0xFF, 0xFF, 0xFF, 2097151, 3, 31},
      {"top bits of byte 3 ignored", 0xFF, 0xE0, 0x00, 0x05, 5, 1, 5},
      {"bit 16 and 15", 0x00, 0x01, 0x80, 0x00, 98304, 0, 0},
      {"word 2 all ones", 0xFF, 0xFF, 0x00, 0x00, 31u * 65536u, 0, 0},
      {"zero", 0x00, 0x00, 0x00, 0x00, 0, 0, 0},
      {"low byte 0x26", 0x00, 0x00, 0x01, 0x26, 0x126, 2, 6},
  };
  for (const auto& c : cases) {
    uint8_t frame[FRAME_LEN] = {};
    frame[2] = c.b2;
    frame[3] = c.b3;
    frame[4] = c.b4;
    frame[5] = c.b5;
    EXPECT_EQ(fcount(frame), c.count) << c.name;
    EXPECT_EQ(fkind(frame), c.kind) << c.name;
    EXPECT_EQ(fsub(frame), c.sub) << c.name;
    EXPECT_EQ(fkind(frame), static_cast<int>(c.count % 4)) << c.name;
    EXPECT_EQ(fsub(frame), static_cast<int>(c.count % 32)) << c.name;
  }
  uint8_t frame[FRAME_LEN] = {0, 0, 0, 0x01, 0x80, 0x00};
  EXPECT_EQ(fcount(frame) % 40, 24u) << "housekeeping slot of 98304";
}

TEST(Nskip, adds_up_and_resets_for_tests) {
  nskip_reset_for_tests();
  nskip_add(5);
  nskip_add(200);
  nskip_add(-2);
  EXPECT_EQ(nskip_count(), 203);
  nskip_reset_for_tests();
  EXPECT_EQ(nskip_count(), 0);
}
