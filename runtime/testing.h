// Test access to the run-time's state. Not for the system's code.
#pragma once

#include <string>
#include <vector>

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

// Playback waits: Delay(s) waits s / speed; speed 0 does not wait.
void set_speed(double speed);

}  // namespace rt
