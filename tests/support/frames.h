// Builds telemetry frames field by field for tests, and the link's "++-"
// escaping of a frame.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_frames {

using Frame = std::array<uint8_t, 200>;

struct FrameBuilder {
  Frame bytes{};

  FrameBuilder();  // sync word set, everything else 0, checksum sealed
  FrameBuilder& counter(uint32_t fcount);           // 21 bits into bytes 3..5
  FrameBuilder& header_fields(int hi5, int mid6);   // bits 15..11, 10..5 of word 2
  FrameBuilder& word(int offset, int value);        // big-endian 16 bits
  FrameBuilder& long32(int offset, int32_t value);  // big-endian 32 bits
  FrameBuilder& float32(int offset, float value);
  FrameBuilder& byte(int offset, uint8_t value);
  FrameBuilder& spec48(int i, int value);           // word i of 12 at offset 150
  FrameBuilder& spec256(int i, int value);          // word i of 8 at offset 174
  FrameBuilder& strip(int group, int w0, int w1, uint8_t b0, uint8_t b1);
  // Writes the checksum; every setter above calls it, so a frame is always
  // valid unless `corrupt` is used last.
  FrameBuilder& seal();
  FrameBuilder& corrupt();  // flips the checksum's low bit

  std::vector<uint8_t> vec() const { return {bytes.begin(), bytes.end()}; }
  const uint8_t* data() const { return bytes.data(); }
};

// A good frame with counter n whose checksum bytes are clear of 0xEB, 0x90
// and '+' (its W10 word is set for that): no test stumbles over a sync word
// or an escape it did not plan.
FrameBuilder good(uint32_t n);
// Bytes of frames and other bytes, one after the other; the first n bytes
// of a frame, or bytes from..to-1.
std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> head(const FrameBuilder& f, size_t n);
std::vector<uint8_t> slice(const FrameBuilder& f, size_t from, size_t to);

// The frame as the link carries it: bytes 2..199 escaped so that stored
// "++-" content survives: it is sent as "++-1". Other content, "+++"
// included, goes unchanged (the link's other escape, "++--" for "+++", is
// never needed).
std::vector<uint8_t> escape_for_link(const Frame& frame);

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes);
void append(std::vector<uint8_t>& out, const Frame& frame);

// Bytes as text: upper-case hex with no separators ("330D"); the panel's
// hex dump of a frame (a line break before every 32 bytes and at the end);
// printable ASCII with the rest as \xHH, for messages ("RCVD\x0D").
std::string hex(const std::vector<uint8_t>& bytes);
std::string hex_dump(const std::vector<uint8_t>& frame);
inline std::string hex_dump(const Frame& frame) { return hex_dump(std::vector<uint8_t>(frame.begin(), frame.end())); }
std::string printable(const std::vector<uint8_t>& bytes);

}  // namespace testing_frames
