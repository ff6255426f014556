#include "support/frames.h"

#include <cstring>

#include "link/frame.h"

namespace testing_frames {

FrameBuilder::FrameBuilder() {
  bytes[0] = SYNC0;
  bytes[1] = SYNC1;
  seal();
}

FrameBuilder& FrameBuilder::counter(uint32_t fcount) {
  bytes[3] = static_cast<uint8_t>((bytes[3] & 0xE0) | ((fcount >> 16) & 0x1F));
  bytes[4] = static_cast<uint8_t>(fcount >> 8);
  bytes[5] = static_cast<uint8_t>(fcount);
  return seal();
}

FrameBuilder& FrameBuilder::header_fields(int hi5, int mid6) {
  int low5 = bytes[3] & 0x1F;
  int w = ((hi5 & 0x1F) << 11) | ((mid6 & 0x3F) << 5) | low5;
  bytes[2] = static_cast<uint8_t>(w >> 8);
  bytes[3] = static_cast<uint8_t>(w);
  return seal();
}

FrameBuilder& FrameBuilder::word(int offset, int value) {
  bytes[offset] = static_cast<uint8_t>((value >> 8) & 0xFF);
  bytes[offset + 1] = static_cast<uint8_t>(value & 0xFF);
  return seal();
}

FrameBuilder& FrameBuilder::long32(int offset, int32_t value) {
  uint32_t u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(u >> (24 - 8 * i));
  return seal();
}

FrameBuilder& FrameBuilder::float32(int offset, float value) {
  int32_t bits;
  std::memcpy(&bits, &value, 4);
  return long32(offset, bits);
}

FrameBuilder& FrameBuilder::byte(int offset, uint8_t value) {
  bytes[offset] = value;
  return seal();
}

FrameBuilder& FrameBuilder::spec48(int i, int value) { return word(OFF_SPEC48 + 2 * i, value); }
FrameBuilder& FrameBuilder::spec256(int i, int value) { return word(OFF_SPEC256 + 2 * i, value); }

FrameBuilder& FrameBuilder::strip(int group, int w0, int w1, uint8_t b0, uint8_t b1) {
  int at = OFF_STRIP + 6 * group;
  word(at, w0);
  word(at + 2, w1);
  bytes[at + 4] = b0;
  bytes[at + 5] = b1;
  return seal();
}

FrameBuilder& FrameBuilder::seal() {
  uint16_t sum = frame_sum(bytes.data());
  bytes[OFF_CHECKSUM] = static_cast<uint8_t>(sum >> 8);
  bytes[OFF_CHECKSUM + 1] = static_cast<uint8_t>(sum);
  return *this;
}

FrameBuilder& FrameBuilder::corrupt() {
  bytes[OFF_CHECKSUM + 1] ^= 0x01;
  return *this;
}

FrameBuilder good(uint32_t n) { return FrameBuilder().word(OFF_W10, 0x1234).counter(n); }

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) append(out, p);
  return out;
}

std::vector<uint8_t> head(const FrameBuilder& f, size_t n) { return slice(f, 0, n); }

std::vector<uint8_t> slice(const FrameBuilder& f, size_t from, size_t to) {
  return std::vector<uint8_t>(f.bytes.begin() + static_cast<long>(from), f.bytes.begin() + static_cast<long>(to));
}

std::vector<uint8_t> escape_for_link(const Frame& frame) {
  std::vector<uint8_t> out{frame[0], frame[1]};
  int plus_run = 0;  // '+' bytes sent since the last escape or other byte
  for (int i = 2; i < FRAME_LEN; ++i) {
    uint8_t b = frame[i];
    if (plus_run >= 2 && (b == 0x2D)) {
      // "++" then '-' starts an escape on the link: "++-1" stores "++-".
      out.push_back(0x2D);
      out.push_back(0x31);
      plus_run = 0;
      continue;
    }
    out.push_back(b);
    plus_run = (b == 0x2B) ? plus_run + 1 : 0;
    if (plus_run == 3) plus_run = 0;  // a third '+' is plain data: pairs start over
  }
  return out;
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void append(std::vector<uint8_t>& out, const Frame& frame) {
  out.insert(out.end(), frame.begin(), frame.end());
}

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 0x0F];
  }
  return out;
}

std::string hex_dump(const std::vector<uint8_t>& frame) {
  std::string out;
  for (size_t i = 0; i < frame.size(); ++i) {
    if (i % 32 == 0) out += '\n';
    out += hex({frame[i]});
  }
  return out + '\n';
}

std::string printable(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F) out += static_cast<char>(b);
    else out += "\\x" + hex({b});
  }
  return out;
}

}  // namespace testing_frames
