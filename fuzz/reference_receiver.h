// The serial receiver's state table written out a second time, plainly and
// independently of link/receiver.cpp: the fuzz target and the soak check
// compare the real receiver (or the whole program) against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference {

constexpr int REF_OK = 0;
constexpr int REF_READ_FAILED = -1;
constexpr int REF_ILLEGAL_ESCAPE = -2;
constexpr int REF_BAD_CHECKSUM = -4;
constexpr int REF_TIMEOUT = -1;  // a time-out mark in the link

struct Outcome {
  int result = 0;
  int32_t skipped = 0;       // nskip growth
  uint8_t frame[200] = {};   // valid when result is REF_OK
  int completed = 0;         // 1 when 200 bytes were stored
};

inline bool sum_ok(const uint8_t* f) {
  unsigned sum = 0;
  for (int i = 0; i < 198; i += 2) sum += (f[i] << 8) | f[i + 1];
  return (sum & 0xFFFF) == static_cast<unsigned>((f[198] << 8) | f[199]);
}

// One get_port_frm call over link[*at...]: values 0..255 are bytes,
// REF_TIMEOUT a read that timed out; the end of `link` reads as a time-out.
template <typename Link>
Outcome receive(const Link& link, size_t* at) {
  Outcome out;
  int state = 0;
  int stored = 0;
  while (stored < 200) {
    if (*at >= link.size() || static_cast<int>(link[*at]) == REF_TIMEOUT) {
      if (*at < link.size()) ++*at;
      out.result = REF_READ_FAILED;
      return out;
    }
    uint8_t b = static_cast<uint8_t>(link[(*at)++]);
    switch (state) {
      case 0:
        if (b == 0xEB) { out.frame[stored++] = b; state = 1; }
        else out.skipped += 1;
        break;
      case 1:
        if (b == 0x90) { out.frame[stored++] = b; state = 2; }
        else { stored = 0; out.skipped += 1; state = 0; }
        break;
      case 2:
        out.frame[stored++] = b;
        state = b == '+' ? 3 : 2;
        break;
      case 3:
        out.frame[stored++] = b;
        state = b == '+' ? 4 : 2;
        break;
      case 4:
        if (b == '-') state = 5;
        else { out.frame[stored++] = b; state = 2; }
        break;
      default:
        if (b == '-') out.frame[stored++] = '+';
        else if (b == '1') out.frame[stored++] = '-';
        else { out.skipped += stored; out.result = REF_ILLEGAL_ESCAPE; return out; }
        state = 2;
        break;
    }
  }
  out.completed = 1;
  bool ok = sum_ok(out.frame);
  if (!ok) out.skipped += 200;
  out.result = ok ? REF_OK : REF_BAD_CHECKSUM;
  return out;
}

}  // namespace reference
