// Live: when each good frame was received. A recording keeps no time, so
// the trends of a live session take each frame's time from here. A frame
// observer (runtime/hooks.h) that history_install registers: in live mode,
// at every good frame the panel shows, it notes the time and a fingerprint
// of the frame's 200 bytes, and it keeps the last TAIL_FRAMES frames whole,
// so a trend can show the frames the recording has not written to the disk
// yet. The times are the wall clock's at the first frame carried on by a
// steady clock, so they never go back. Any thread may read it. Qt-free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "runtime/hooks.h"

namespace rt {

class ReceptionClock : public FrameObserver {
 public:
  static constexpr size_t TAIL_FRAMES = 600;  // a minute of frames at the link's rate
  using Frame = std::array<uint8_t, 200>;

  struct Entry {
    double t_s = 0.0;    // when it was shown, seconds since 1970
    uint64_t print = 0;  // fingerprint of its bytes (frame_print)
  };

  void good_frame(const PanelModel& model) override;
  // Notes a frame received at `t_s` (good_frame does it live; a remote view
  // notes each frame it receives, with the station's time).
  void add(const uint8_t* frame, double t_s);
  // How many of the last frames are kept whole (TAIL_FRAMES unless set): a
  // remote view without a recording keeps its trends' frames here.
  void set_tail_frames(size_t n);
  size_t tail_frames() const;

  size_t size() const;
  // The first entry whose frame is still kept whole.
  size_t first_kept() const;
  // Calls `f` with each entry from `from` to `to` (at most size()) whose
  // frame is still kept whole, in order, under the clock's lock.
  void visit(size_t from, size_t to, const std::function<void(size_t n, const Entry& e, const Frame& frame)>& f) const;
  // Entries from number `from` on, at most `max` of them.
  std::vector<Entry> since(size_t from, size_t max = SIZE_MAX) const;
  // The frames still kept whole from entry `from` on, with their entry
  // numbers.
  std::vector<std::pair<size_t, Frame>> frames_since(size_t from) const;
  void reset();

 private:
  mutable std::mutex mu_;
  std::vector<Entry> entries_;
  std::deque<Frame> tail_;  // the last entries' frames
  size_t tail_frames_ = TAIL_FRAMES;
  bool anchored_ = false;
  double wall0_s_ = 0.0, steady0_s_ = 0.0;
};

// A remote view without --record keeps this many frames whole for its
// trends (26 MiB; about 3 h 48 min at the link's 9.6 frames a second).
constexpr size_t REMOTE_VIEW_FRAMES = 131072;

// The program's clock (live mode only records into it).
ReceptionClock& reception_clock();

// A 64-bit fingerprint of a frame's 200 bytes.
uint64_t frame_print(const uint8_t* frame);

}  // namespace rt
