// Run-time internals shared by ui.cpp, run.cpp and the window: how the
// system's calls reach the window and the event script, and how a quit that
// the run-time raises itself reaches the system.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/script.h"

namespace rt {

class PanelModel;

// Set by the program start-up when there is a window. Each hook runs on the
// GUI thread and returns when done (the system's thread waits for it).
struct WindowHooks {
  std::function<bool(PanelModel& model, const std::string& path, std::string* error)> create;
  std::function<void()> show;
  std::function<void()> destroy;
};
void set_window_hooks(WindowHooks hooks);

// The scripted operator input (already checked against the panel file).
void set_event_script(std::vector<ScriptEvent> events);

// Headless playback: the run-time quits by itself once the input is
// exhausted (the status shows the end-of-input text) and no scripted event
// is left.
void set_quit_at_end_of_input(bool on);
constexpr const char* END_OF_INPUT_TEXT = "EOF on input file";
// The status text of a good frame.
constexpr const char* GOOD_FRAME_TEXT = " ";

// Asks for a quit at the next event poll. Safe to call from a signal handler.
void request_quit();

}  // namespace rt
