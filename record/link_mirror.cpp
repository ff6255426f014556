#include "record/link_mirror.h"

namespace rt {

void LinkMirror::restart() {
  link_scan_start(&scan_, frame_);
  start_ = -1;
  whole_ = true;
}

void LinkMirror::reset() {
  found_ = false;
  found_offset_ = -1;
  found_bytes_ = 0;
  frames_found_ = 0;
  restart();
}

void LinkMirror::recorded(const uint8_t* bytes, size_t n, int64_t offset) {
  for (size_t i = 0; i < n; ++i) {
    const int result = link_scan_byte(&scan_, bytes[i]);
    const int64_t at = offset < 0 ? -1 : offset + static_cast<int64_t>(i);
    if (scan_.n_link == 1 && result == SCAN_TAKEN) {  // the sync word's first byte
      start_ = at;
      whole_ = at >= 0;
    } else if (at < 0) {
      whole_ = false;
    }
    if (!scan_ends_attempt(result)) continue;
    if (result == SCAN_FRAME) {
      found_ = true;
      ++frames_found_;
      found_offset_ = whole_ ? start_ : -1;
      found_bytes_ = scan_.n_link;
    }
    restart();
  }
}

bool LinkMirror::take_frame(int64_t* offset, int* link_bytes) {
  if (!found_) return false;
  found_ = false;
  *offset = found_offset_;
  *link_bytes = found_bytes_;
  return true;
}

}  // namespace rt
