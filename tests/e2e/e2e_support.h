// Helpers of the end-to-end tests: recordings of numbered frames, headless
// playback runs of the built program, and the trace cut into loop passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace e2e {

using testing_trace::Line;

// A good frame with counter `fcount`: its 256-channel slice (block fcount
// mod 32) and its 48-channel slice carry nonzero counts, so a plot shows
// which frames were accumulated.
testing_frames::Frame numbered_frame(uint32_t fcount);

// Frames numbered first, first + 1, ... back to back.
std::vector<uint8_t> frames(int n, uint32_t first = 1);

// The environment every run of the program gets.
std::vector<std::string> program_env();

struct Playback {
  testing_process::RunResult result;
  std::vector<Line> trace;
};

// Writes `recording` to rec.dat in `dir` (and `events`, when not empty, to
// events.txt) and runs `vst_gse --headless --speed 0 --trace - [--events
// events.txt] rec.dat` there.
Playback play(const testing_files::TempDir& dir, const std::vector<uint8_t>& recording,
              const std::string& events = "");

// One pass of the service loop as the trace shows it: a frame pass starts
// with the reader's 0.1 s pacing Delay, an event pass with its Event line.
struct Pass {
  bool event = false;
  std::string ctrl;  // the event's control (event passes)
  std::vector<Line> lines;

  std::vector<Line> select(const std::string& op, const std::string& ctrl = "") const;
  // A frame pass that showed a good frame (blank status).
  bool good() const;
  // The value shown in PANEL_STATUS by this pass ("" if none).
  std::string status() const;
  // Count of lines with op (and control).
  size_t count(const std::string& op, const std::string& ctrl = "") const;
  // Ops of the lines, as "op ctrl" texts, for messages.
  std::string summary() const;
};

// The passes between DisplayPanel and DiscardPanel.
std::vector<Pass> passes(const std::vector<Line>& trace);
std::vector<Pass> good_passes(const std::vector<Pass>& all);

// The recording name for a local time `t` seconds since the epoch.
std::string recording_name_at(long long t);

}  // namespace e2e
