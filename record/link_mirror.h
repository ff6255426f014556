// Where each frame the live receiver accepts lies in the recording. The
// receiver (link/receiver.h) records every byte it reads and then works it
// by the link's rules; a frame attempt ends with its result or with a read
// that brings no byte, and the next attempt starts afresh. The mirror sees
// the same bytes in the same order, with their offsets in the recording,
// and the same ends, and works them by the same rules (link/scanner.h), so
// it knows each good frame's first byte and its span, escapes included,
// which the receiver itself never says. System's thread only. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"
#include "link/scanner.h"

namespace rt {

class LinkMirror {
 public:
  LinkMirror() { restart(); }
  // The scan writes into this object's own frame_: a copy would write into
  // the original's.
  LinkMirror(const LinkMirror&) = delete;
  LinkMirror& operator=(const LinkMirror&) = delete;

  // Forgets every byte and frame: a new recording starts.
  void reset();

  // Bytes the receiver read, in order: the first at file offset `offset`,
  // or -1 for bytes the recording could not keep.
  void recorded(const uint8_t* bytes, size_t n, int64_t offset);
  // A read brought no byte: the receiver's attempt ends.
  void read_failed() { restart(); }

  // The latest frame whose checksum held, once: its first byte (-1 when a
  // byte of it is not in the recording) and its bytes in the recording.
  // False when no frame has ended since the last call.
  bool take_frame(int64_t* offset, int* link_bytes);
  // Good frames found so far: a change across recorded() says that call's
  // bytes completed one.
  uint64_t frames_found() const { return frames_found_; }

 private:
  void restart();

  LinkScan scan_{};
  uint8_t frame_[FRAME_LEN] = {};
  int64_t start_ = -1;     // the attempt's first sync byte
  bool whole_ = true;      // every byte of the attempt is in the recording
  bool found_ = false;
  int64_t found_offset_ = -1;
  int found_bytes_ = 0;
  uint64_t frames_found_ = 0;
};

}  // namespace rt
