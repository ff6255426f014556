// Where the frames of a recording begin, so that the operator can seek to
// any of them: the list the window's position bar shows and seeks in. It is
// built in the background on a file handle of its own, while the system's
// thread plays the same file. Qt-free.
//
// A frame here is one the station would show: the recording is read by the
// same rules as the system's reader of it, and only frames that pass their
// checksum are listed, in file order. Frame n's offset is where the reader
// must stand to take that frame next (its first sync byte). Reading on from
// there takes exactly the frames that a reading from the start takes after
// frame n: both readers carry nothing from one frame to the next but the
// position.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/scanner.h"

namespace rt {

// How the bytes of a recording become frames.
enum class FrameRules {
  // The playback reader: a 200-byte record at the position; when it is not a
  // frame (sync word and checksum), the hunt for the next sync word starts
  // at the record's second byte. A 0xEB after a 0xEB that was not followed
  // by 0x90 is not looked at again. "++-" escapes are not undone.
  Playback,
  // The live receiver: the hunt for the sync word, the body with the link's
  // "++-" escapes undone, the checksum; after any failure the hunt goes on
  // at the next byte, never looking back.
  Link,
};

// Elapsed time not known: no frame of kind 1 at or before the frame.
constexpr int32_t NO_ELAPSED = INT32_MIN;

struct FrameMark {
  int64_t offset = 0;            // first sync byte of the frame
  int32_t elapsed_ms = NO_ELAPSED;  // the instrument's elapsed time: that of the
                                 // last frame of kind 1 at or before this one
  uint32_t fcount = 0;           // the frame's 21-bit counter (its kind, its
                                 // housekeeping slot)
  int32_t skipped = 0;           // the discarded-byte count a reading from the
                                 // start has once it has taken this frame (the
                                 // reader's own count, by its rules)
};

// The frames a live receiver showed, where they lie in its recording, as the
// session record tells them (history/pass.h). Read by these, a recording
// gives exactly the frames the live panel showed, each with the skipped
// count shown with it, however the link's time-outs cut the others (which
// the recording's bytes alone cannot tell).
struct LiveFrame {
  double t_s = 0.0;      // when it was shown, seconds since 1970
  int64_t offset = -1;   // its first sync byte; -1 when it never reached the recording
  int32_t link_bytes = 0;  // its bytes in the recording, escapes included
  int32_t skipped = 0;   // the skipped count shown with it
  uint32_t counter = 0;  // its own counter
  int32_t run = 0;       // the station's run that showed it
};
struct LiveFrames {
  std::vector<LiveFrame> frames;  // in offset order
  // The recording's bytes the record accounts for: bytes beyond (recorded
  // after the record stopped) are read by the link's rules.
  int64_t covers = 0;
};

// Finds the frames in bytes fed to it in order, in chunks of any size, by
// the system's own scanners (link/scanner.h).
class FrameScanner {
 public:
  // `keep_bytes`: keep each frame's bytes too (frame_bytes()). With
  // `shown`, only the frames shown live are found (LiveFrames; the rules
  // are then the link's), each read from its own first byte.
  explicit FrameScanner(FrameRules rules, bool keep_bytes = false,
                        std::shared_ptr<const LiveFrames> shown = nullptr);
  void feed(const uint8_t* data, size_t n);
  // The frames found so far (the bytes after the last frame hold no whole one
  // yet).
  const std::vector<FrameMark>& frames() const { return frames_; }
  std::vector<FrameMark> take() { return std::move(frames_); }
  // With the frames found so far, their bytes as the reader takes them
  // (escapes undone), one FRAME_LEN block each, when asked for at
  // construction (history/ decodes them).
  const std::vector<uint8_t>& frame_bytes() const { return bytes_; }
  void clear_found() {
    frames_.clear();
    bytes_.clear();
  }
  // Bytes fed so far.
  int64_t fed() const { return fed_; }
  // Shown frames whose bytes were not a frame at their offset (the file is
  // not the one the record was written beside).
  long mismatches() const { return mismatches_; }
  // Frame attempts that failed so far: a checksum that did not hold (a
  // record with the sync word, or 200 bytes off the link), an illegal escape
  // (the link's rules only).
  int64_t bad_checksums() const { return bad_checksums_; }
  int64_t illegal_escapes() const { return illegal_escapes_; }

 private:
  void found(const uint8_t* frame, int64_t offset, int32_t skipped);
  void feed_link(const uint8_t* data, size_t n, int64_t base);
  void feed_shown(const uint8_t* data, size_t n);

  FrameRules rules_;
  bool keep_bytes_ = false;
  std::vector<uint8_t> bytes_;
  std::vector<FrameMark> frames_;
  int32_t last_elapsed_ = NO_ELAPSED;
  int32_t link_skipped_ = 0;  // Link: the receiver's discarded-byte count
  int64_t fed_ = 0;  // bytes fed so far
  PlaybackScan playback_{};
  LinkScan link_{};
  uint8_t link_frame_[FRAME_LEN] = {};
  // Following the frames shown.
  std::shared_ptr<const LiveFrames> shown_;
  size_t next_shown_ = 0;   // the next one to find
  bool in_shown_ = false;   // reading it now
  LinkScan shown_scan_{};
  long mismatches_ = 0;
  int64_t bad_checksums_ = 0, illegal_escapes_ = 0;
};

// True when `bytes` hold the link's escape as a recording keeps it: "++-"
// followed by '-' or '1' (holds_link_escape). Such bytes in a record that
// the playback reader refused mean the frame was recorded from the link
// with its escapes.
bool looks_escaped(const uint8_t* bytes, size_t n);

// The index of one recording file, built on a thread of its own from the
// moment it is made. Every call is safe from any thread.
class RecordingIndex {
 public:
  enum class State { Building, Ready, NoFrames, Failed };

  RecordingIndex(std::string path, FrameRules rules);
  ~RecordingIndex();  // stops the building (within one chunk) and waits for it
  RecordingIndex(const RecordingIndex&) = delete;
  RecordingIndex& operator=(const RecordingIndex&) = delete;

  const std::string& path() const { return path_; }
  FrameRules rules() const { return rules_; }
  State state() const { return state_.load(std::memory_order_acquire); }
  // Share of the file read, 0..1.
  double progress() const;
  // Why building failed (State::Failed): the file and the reason.
  std::string error() const;
  // Waits until the index is no longer building; false after `timeout_s`.
  bool wait(double timeout_s) const;

  // The frames, once Ready (0 and nothing before).
  long frames() const;
  FrameMark frame(long n) const;  // n in 0..frames()-1
  // The frame that begins last before `position` (the one a reader standing
  // at `position` has just taken or is taking), or -1.
  long frame_before(int64_t position) const;

 private:
  void build();

  std::string path_;
  FrameRules rules_;
  std::atomic<State> state_{State::Building};
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> read_{0};
  int64_t size_ = 0;
  mutable std::mutex mu_;  // error_ and the wait
  mutable std::condition_variable built_;
  std::string error_;
  std::vector<FrameMark> frames_;  // written by the builder only before Ready
  std::thread builder_;
};

// Builds the frame list of the file at `path` in this thread (what the
// index's thread does). Stops early, returning false without an error, once
// `stop` is set; counts the bytes read in `read`. False with *error when the
// file cannot be read.
bool scan_recording(const std::string& path, FrameRules rules, std::vector<FrameMark>* out,
                    std::string* error, const std::atomic<bool>* stop = nullptr,
                    std::atomic<int64_t>* read = nullptr);

}  // namespace rt
