// Test access to the run-time's state. Not for the system's code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct FileStream;

namespace rt {

class PanelModel;

// The model of the loaded panel, or nullptr before LoadPanel / after
// DiscardPanel.
PanelModel* current_model();

// Discards any panel and forgets the trace, event script, speed and quit
// request, so that each test starts afresh.
void reset_ui_for_tests();

// Collects the trace in memory instead of a file.
void trace_to_memory();
std::vector<std::string> trace_lines();
void clear_trace_lines();

// Wraps an open stdio stream as a stream of the system's: "rb" an input read
// through the look-back buffer (fmemopen, a pipe), "ab" a recording written
// in the background (a stream that can be made unbuffered: a file,
// fopencookie; not open_memstream). FileClose closes `fp` too.
FileStream* stream_over(FILE* fp, const std::string& name, const char* mode);
// Waits until a recording has handed every byte written so far to the
// operating system (or found that it cannot).
void drain_recording(FileStream* recording);

// Playback waits: Delay(s) waits s / speed; speed 0 does not wait.
void set_speed(double speed);

}  // namespace rt
