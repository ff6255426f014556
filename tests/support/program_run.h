// Runs the program's entry (gse_main) in this process, on a thread of its
// own as the system's thread, with the trace kept in memory, so a test can
// pause, resume, quit and ask for the spectra while it plays a recording.
#pragma once

#include <cstdint>
#include <future>
#include <string>
#include <vector>

#include "runtime/context.h"
#include "support/frames.h"
#include "support/trace_reader.h"

namespace testing_program {

// Good frame `n`: counter n, with spectrum words that differ per frame.
testing_frames::Frame counted_frame(uint32_t n);

// The hex dump the program shows for a frame ("\n" before every 32nd byte,
// upper-case pairs, a final "\n").
using testing_frames::hex_dump;

class ProgramRun {
 public:
  // Starts playback of `recording` (written to `path`), at `speed`. With
  // `quit_at_end`, the run ends by itself at the end of the input. Events
  // of `script` (an event-script text) are raised as with --events. With
  // `start_paused`, the transport is paused before the first read. With
  // `window` hooks the program shows its window through them (the test's
  // main thread must then run Qt's events until the run has finished).
  ProgramRun(const std::string& path, const std::vector<uint8_t>& recording, double speed,
             bool quit_at_end, const std::string& script = "", bool start_paused = false,
             rt::WindowHooks window = {});
  ~ProgramRun();  // quits and joins, if still running

  // Waits for gse_main to return; false if it has not after timeout_s.
  bool finished(double timeout_s);
  int exit_code();
  std::vector<testing_trace::Line> trace() const;

 private:
  std::future<int> done_;
};

// gse_main in live mode on the link replay's port, as --link-replay runs
// it, at speed 0, quitting at the end of the file.
class LinkReplayRun {
 public:
  LinkReplayRun(const std::string& path, const std::vector<uint8_t>& bytes, bool start_paused);
  ~LinkReplayRun();  // quits and joins, if still running
  bool finished(double timeout_s);

 private:
  std::future<int> done_;
};

// The values shown in PANEL_HEXDUMP, in trace order.
std::vector<std::string> hex_dumps(const std::vector<testing_trace::Line>& trace);
// The hex dump shown last by the run going on, from the run-time's trace
// kept in memory ("" before the first).
std::string last_hex_dump();

}  // namespace testing_program
