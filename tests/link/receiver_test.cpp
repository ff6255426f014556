// The serial receiver against an in-memory port, recording to a real file
// through the run-time's recording stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/receiver.h"
#include "runtime/memory_port.h"
#include "runtime/serial.h"
#include "runtime/testing.h"
#include "support/files.h"
#include "support/frames.h"

using testing_frames::append;
using testing_frames::cat;
using testing_frames::FrameBuilder;
using testing_frames::good;
using testing_frames::slice;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t P = 0x2B;  // '+'
constexpr uint8_t M = 0x2D;  // '-'
const Bytes ACK = {'R', 'C', 'V', 'D', '\r'};

// Sets W10 so that the frame's sum is `checksum`, then writes that checksum
// bytewise (the last bytes of a frame can then be chosen freely).
FrameBuilder with_checksum(FrameBuilder f, uint16_t checksum) {
  f.bytes[OFF_W10] = 0;
  f.bytes[OFF_W10 + 1] = 0;
  uint16_t w10 = static_cast<uint16_t>(checksum - frame_sum(f.data()));
  f.bytes[OFF_W10] = static_cast<uint8_t>(w10 >> 8);
  f.bytes[OFF_W10 + 1] = static_cast<uint8_t>(w10);
  f.bytes[OFF_CHECKSUM] = static_cast<uint8_t>(checksum >> 8);
  f.bytes[OFF_CHECKSUM + 1] = static_cast<uint8_t>(checksum);
  return f;
}

class Receiver : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_serial_for_tests();
    rt::reset_ui_for_tests();
    nskip_reset_for_tests();
    receiver_reset_for_tests();
    port_ = std::make_shared<rt::MemoryPort>();
    rt::set_com_port(port_);
    ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0);
    rec_path_ = dir_.file("recording.dat");
    rec_fp_ = FileOpen(rec_path_.c_str(), "wb");
    ASSERT_NE(rec_fp_, nullptr);
    receiver_attach_recording(rec_fp_);
  }
  void TearDown() override {
    receiver_attach_recording(nullptr);
    FileClose(rec_fp_);
    CloseCom(1);
    rt::reset_serial_for_tests();
  }

  void feed(const Bytes& bytes) {
    port_->feed(bytes);
    append(sent_, bytes);
  }

  // One call; remembers how much nskip grew.
  int receive() {
    int32_t before = nskip_count();
    int result = get_port_frm(frame_);
    skipped_ = nskip_count() - before;
    return result;
  }

  Bytes stored() const { return Bytes(frame_, frame_ + FRAME_LEN); }
  // The recording as the operating system has it once the run-time's writer
  // has handed on what it holds; the stream stays open.
  Bytes on_disk() const {
    rt::drain_recording(rec_fp_);
    return testing_files::read_file(rec_path_);
  }

  testing_files::TempDir dir_;
  std::shared_ptr<rt::MemoryPort> port_;
  std::string rec_path_;
  FileStream* rec_fp_ = nullptr;
  Bytes sent_;
  uint8_t frame_[FRAME_LEN] = {};
  int32_t skipped_ = 0;
};

// Body bytes on the link and what must be stored for them, placed at
// offset 40 of an otherwise plain frame.
struct BodyCase {
  const char* name;
  Bytes link;
  Bytes stored;
};

TEST_F(Receiver, undoes_the_escape_and_stores_everything_else_unchanged) {
  const BodyCase cases[] = {
      {"sync bytes inside the body are plain data", {0xEB, 0x90, 0xEB}, {0xEB, 0x90, 0xEB}},
      {"one '+' then other", {P, 0x41}, {P, 0x41}},
      {"one '+' then '-'", {P, M, M}, {P, M, M}},
      {"'++' then other", {P, P, 0x41}, {P, P, 0x41}},
      {"three '+' in a row", {P, P, P}, {P, P, P}},
      {"four '+' then '-'", {P, P, P, P, M}, {P, P, P, P, M}},
      {"'++--' stores '+++'", {P, P, M, M}, {P, P, P}},
      {"'++-1' stores '++-'", {P, P, M, '1'}, {P, P, M}},
      {"both escapes back to back", {P, P, M, M, P, P, M, '1'}, {P, P, P, P, P, M}},
      {"a '+' from an escape starts no pair", {P, P, M, M, P, M, 0x41}, {P, P, P, P, M, 0x41}},
  };
  for (const auto& c : cases) {
    FrameBuilder f = good(7);
    for (size_t i = 0; i < c.stored.size(); ++i) f.bytes[40 + i] = c.stored[i];
    f.seal();
    Bytes link = cat({slice(f, 0, 40), c.link, slice(f, 40 + c.stored.size(), FRAME_LEN)});
    feed(link);
    EXPECT_EQ(receive(), RX_OK) << c.name;
    EXPECT_EQ(stored(), f.vec()) << c.name;
    EXPECT_EQ(skipped_, 0) << c.name;
    EXPECT_EQ(port_->pending(), 0u) << c.name << ": the frame ends with its 200th stored byte";
  }
  EXPECT_EQ(on_disk(), sent_) << "escapes are recorded as they came";
}

TEST_F(Receiver, frames_escaped_by_the_sender_come_back_unchanged) {
  // Bodies drawn from '+', '-', '1' and 0: every escape shape, at every place.
  const uint8_t alphabet[] = {P, P, M, '1', 0x00};
  uint32_t seed = 12345;
  for (uint32_t n = 1; n <= 40; ++n) {
    FrameBuilder f = good(n);
    for (int i = OFF_W10; i < OFF_CHECKSUM; ++i) {
      seed = seed * 1103515245u + 12345u;
      f.bytes[i] = alphabet[(seed >> 16) % 5];
    }
    f.seal();
    feed(testing_frames::escape_for_link(f.bytes));
    ASSERT_EQ(receive(), RX_OK) << "frame " << n;
    EXPECT_EQ(stored(), f.vec()) << "frame " << n;
    EXPECT_EQ(skipped_, 0) << "frame " << n;
  }
  EXPECT_EQ(port_->pending(), 0u);
}

TEST_F(Receiver, hunts_over_leading_noise_and_records_it) {
  FrameBuilder f = good(1);
  feed(cat({{0x00, 0x90, P, 0xFF, 0x13}, f.vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(stored(), f.vec());
  EXPECT_EQ(skipped_, 5);
  EXPECT_EQ(on_disk(), sent_);
}

TEST_F(Receiver, sync0_then_other_byte_counts_one_and_hunts_on) {
  FrameBuilder f = good(1);
  feed(cat({{SYNC0, 0x41}, f.vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(stored(), f.vec());
  EXPECT_EQ(skipped_, 1) << "0xEB and the byte after it count as one";
}

TEST_F(Receiver, sync0_sync0_sync1_misses_the_frame_behind_it) {
  FrameBuilder missed = good(1), next = good(2);
  feed(cat({{SYNC0}, missed.vec(), next.vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(fcount(frame_), 2u);
  // 0xEB 0xEB as one, then the missed frame's 0x90 and its 198 body bytes.
  EXPECT_EQ(skipped_, 1 + 1 + 198);
  EXPECT_EQ(on_disk(), sent_);
}

TEST_F(Receiver, illegal_escape_counts_the_stored_bytes_and_the_rest_is_hunted) {
  FrameBuilder f = good(1);
  Bytes rest(20, 0x00);
  feed(cat({slice(f, 0, 40), {P, P, M, 0x41}, rest, good(2).vec()}));
  EXPECT_EQ(receive(), RX_ILLEGAL_ESCAPE);
  EXPECT_EQ(skipped_, 42) << "40 bytes and the two '+', not the '-' nor the offending byte";
  EXPECT_EQ(on_disk(), sent_.size() >= 44 ? Bytes(sent_.begin(), sent_.begin() + 44) : sent_)
      << "the offending byte is recorded";

  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(fcount(frame_), 2u);
  EXPECT_EQ(skipped_, 20);
  EXPECT_EQ(nrcvd_count(), 1u) << "a broken frame is not completed";
}

TEST_F(Receiver, timeout_drops_the_partial_frame_uncounted) {
  FrameBuilder f = good(1);
  feed(slice(f, 0, 150));
  port_->feed_timeout();
  feed(good(2).vec());
  EXPECT_EQ(receive(), RX_READ_FAILED);
  EXPECT_EQ(skipped_, 0);
  EXPECT_EQ(on_disk(), slice(f, 0, 150)) << "the failed read records nothing";

  EXPECT_EQ(receive(), RX_OK) << "the next call hunts from scratch";
  EXPECT_EQ(fcount(frame_), 2u);
  EXPECT_EQ(skipped_, 0);
  EXPECT_EQ(nrcvd_count(), 1u);
  EXPECT_EQ(on_disk(), sent_);
}

TEST_F(Receiver, failed_port_is_a_failed_read) {
  port_->fail_when_empty(true);
  feed(slice(good(1), 0, 10));
  EXPECT_EQ(receive(), RX_READ_FAILED);
  EXPECT_EQ(skipped_, 0);
}

TEST_F(Receiver, silent_link_is_a_failed_read_with_nothing_recorded) {
  EXPECT_EQ(receive(), RX_READ_FAILED);
  EXPECT_TRUE(on_disk().empty());
}

TEST_F(Receiver, bad_checksum_counts_the_whole_frame) {
  feed(good(1).corrupt().vec());
  EXPECT_EQ(receive(), RX_BAD_CHECKSUM);
  EXPECT_EQ(skipped_, FRAME_LEN);
  EXPECT_EQ(nrcvd_count(), 1u) << "a completed frame counts whatever its checksum";
  EXPECT_EQ(on_disk(), sent_);
}

TEST_F(Receiver, frame_ends_at_the_200th_stored_byte_even_inside_an_escape) {
  // Stored bytes 199 and 200 are "++": the '-' after them belongs to the next call.
  FrameBuilder plus_end = with_checksum(good(1), 0x2B2B);
  ASSERT_TRUE(checksum_ok(plus_end.data()));
  feed(cat({plus_end.vec(), {M}, good(2).vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(stored(), plus_end.vec());
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(fcount(frame_), 2u);
  EXPECT_EQ(skipped_, 1) << "the '-' is hunted over";

  // The 200th stored byte made by an escape: "++-1" ends the frame exactly.
  FrameBuilder minus_end = good(3);
  minus_end.bytes[197] = P;
  minus_end = with_checksum(minus_end, 0x2B2D);
  ASSERT_TRUE(checksum_ok(minus_end.data()));
  feed(cat({slice(minus_end, 0, 199), {M, '1'}, good(4).vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(stored(), minus_end.vec());
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(fcount(frame_), 4u);
  EXPECT_EQ(skipped_, 0);
  EXPECT_EQ(on_disk(), sent_);
}

TEST_F(Receiver, acknowledges_every_tenth_completed_frame_even_if_bad) {
  for (uint32_t n = 1; n <= 25; ++n) {
    FrameBuilder f = good(n);
    if (n == 10) f.corrupt();
    feed(f.vec());
    int result = receive();
    EXPECT_EQ(result, n == 10 ? RX_BAD_CHECKSUM : RX_OK) << "frame " << n;
    Bytes want;
    for (uint32_t k = 0; k < n / 10; ++k) append(want, ACK);
    EXPECT_EQ(port_->written(), want) << "after frame " << n;
  }
  EXPECT_EQ(nrcvd_count(), 25u);
}

TEST_F(Receiver, acknowledgement_count_survives_failed_calls) {
  // Failed reads and broken frames between completed ones do not count and
  // do not restart the count.
  for (uint32_t n = 1; n <= 9; ++n) {
    feed(good(n).vec());
    ASSERT_EQ(receive(), RX_OK) << "frame " << n;
    if (n == 3) {
      port_->feed_timeout();
      EXPECT_EQ(receive(), RX_READ_FAILED);
    }
    if (n == 6) {
      feed(cat({slice(good(99), 0, 30), {P, P, M, 0x00}}));
      EXPECT_EQ(receive(), RX_ILLEGAL_ESCAPE);
    }
  }
  EXPECT_TRUE(port_->written().empty());
  feed(good(10).vec());
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(port_->written(), ACK);
}

TEST_F(Receiver, recording_holds_every_byte_read_the_one_before_a_timeout_too) {
  feed(cat({{0x01, 0x02}, good(1).vec(), {0x03}}));
  port_->feed_timeout();
  ASSERT_EQ(receive(), RX_OK);
  EXPECT_EQ(on_disk(), Bytes(sent_.begin(), sent_.end() - 1)) << "after a good frame";
  ASSERT_EQ(receive(), RX_READ_FAILED);
  EXPECT_EQ(on_disk(), sent_) << "after a time-out that followed a byte";
}

TEST_F(Receiver, receives_without_a_recording) {
  receiver_attach_recording(nullptr);
  FrameBuilder f = good(1);
  feed(cat({{0x00}, f.vec()}));
  EXPECT_EQ(receive(), RX_OK);
  EXPECT_EQ(stored(), f.vec());
  EXPECT_EQ(skipped_, 1);
  EXPECT_TRUE(on_disk().empty());
}

}  // namespace
