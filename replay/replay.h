// Seek, step, loop and "Open recording": the operator moves the playback
// input, and the run-time carries it out on the system's thread at the
// start of a frame pass, before the reader takes anything in it. The
// system's reader and service loop keep making their calls; they see only
// the input's position (or another file) and the time their waits take.
// None of this raises a panel event. Qt-free.
//
// The input under control is the playback stream (FileOpen "rb") or the
// link replay's port (--link-replay). A regular file is indexed in the
// background (recording_index.h) by the rules of the reader that reads it;
// frame n is the n-th frame that reader shows, counted from 0.
//
// Frame passes: every poll that finds no operator event (GetUserEvent) is
// followed by one call of the system's reader. Its first wait (the playback
// reader's pacing Delay) or its first byte read (the link replay's port) is
// where the operator's requests are carried out, and where a pause holds.
// A pass under way always runs to its end.
//
// The spectra never count a frame twice: a move back to a frame that has
// already been counted (seek, step back, playing again from the start)
// first clears them through the hook the system registers
// (RegisterSpectraClear), and the session log says so. So does opening
// another recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/hooks.h"
#include "replay/recording_index.h"

namespace rt {

// ----- The input under control -------------------------------------------

// The input was opened from `path` (the system's thread). A seekable one is
// indexed by `rules` from now on, unless indexing is off.
void replay_attach(ReplayInput* input, const std::string& path, FrameRules rules);
void replay_detach(ReplayInput* input);
// Indexing is on unless turned off: the program turns it off without a
// window (nobody can seek there), so a headless playback neither reads the
// file twice nor keeps a list that grows with it.
void replay_set_indexing(bool on);

// ----- The operator's requests (the window's thread) ---------------------

void replay_request_seek(long frame);
// +1: the next frame pass runs; -1: the frame before the one shown is read
// again. Only while paused (else ignored). Each request is a step of its
// own, taken in order, however quickly they come.
void replay_request_step(int direction);
// Plays again from the first byte.
void replay_request_restart();
// With loop on, the end of the input plays again from the start.
void replay_set_loop(bool on);
bool replay_loop();
// Plays `path` from now on, in the same mode (playback or link replay).
void replay_request_open(const std::string& path);

// ----- What the window shows ---------------------------------------------

struct ReplayView {
  bool attached = false;  // an input is under control
  bool seekable = false;  // a regular file (pipes and standard input are not)
  std::string path;
  std::shared_ptr<const RecordingIndex> index;  // while seekable
  long current = -1;  // the frame last shown (its index), -1 when not known
};
ReplayView replay_view();

// The instrument's elapsed time as the panel shows it: "d/hh:mm:ss.s".
std::string elapsed_text(int32_t ms);

// ----- The system's thread ------------------------------------------------

// A frame pass begins: GetUserEvent found no event.
void replay_frame_pass_begins();
// True at the first call in a frame pass (the pass is then marked as seen).
bool replay_first_of_pass();
// At the start of a frame pass: carries out the operator's moves and, while
// paused, holds (answering "Save spectra") until resumed, stepped, moved or
// quit. Returns true when the pass runs as an operator's step: its waits
// are then not made.
bool replay_gate();
// The current pass runs as a step.
bool replay_stepping();
// A move waits to be carried out: waits end early, so the pass under way
// finishes and the move follows.
bool replay_move_pending();
// Delay: the playback reader's wait of `seconds` (divided by the speed),
// and at the first wait of a pass, replay_gate().
void replay_wait(double seconds, bool idle = false);

// The end of the input was reached (the status says so, or the link
// replay's file ran out): with loop on, the start follows.
void replay_end_of_input();
// The playback reader stepped back over `bytes` to hunt for a sync word.
// When they hold the link's escapes, the operator is told once per
// recording that --link-replay would show the frames skipped here.
void replay_stepped_back(const uint8_t* bytes, size_t n);

// ----- After a move (the system's thread) ------------------------------------

// Told after the input was moved (seek, step back, From start, Loop, Open
// recording), before the reader takes anything at the new position: the
// input now stands at byte `offset` of the recording at `path`, which is
// where frame `next` of `index` begins (or the start of the recording: then
// `next` is 0, and `index` may still be building or null). history/
// registers one to put the panel back to that moment.
class MoveListener {
 public:
  virtual ~MoveListener() = default;
  virtual void input_moved(const std::string& path, FrameRules rules,
                           const std::shared_ptr<const RecordingIndex>& index, long next,
                           int64_t offset) = 0;
};
// `listener` lives as long as the program; nullptr unregisters.
void replay_set_move_listener(MoveListener* listener);

// The text of the hint (for tests).
extern const char* const ESCAPE_HINT;

// Forgets everything (tests; reset_ui_for_tests calls it).
void replay_reset();

// Registers the playback control with the run-time (runtime/hooks.h), once;
// program start calls it.
void replay_install();

}  // namespace rt
