// Run-time internals shared by ui.cpp, run.cpp and the window: how the
// system's calls reach the window and the event script, and how a quit that
// the run-time raises itself reaches the system.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/hooks.h"
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

// The scripted operator input (already checked against the panel file),
// read from `path` (named in messages).
void set_event_script(std::vector<ScriptEvent> events, const std::string& path = "");

// Headless playback: the run-time quits by itself once the input is
// exhausted (the status shows the end-of-input text) and no scripted event
// is left. Scripted events may still come during the next few frame passes
// (each shows the end-of-input text again); any left after those are never
// raised: one line on standard error names them, and the exit status is
// EXIT_SCRIPT_UNFINISHED.
void set_quit_at_end_of_input(bool on);
// Whether anything reads the strip chart's times: the window places its
// points by them, the browser page's feed sends them. A headless run that
// cannot publish says no before its panel loads; its points then go
// unstamped (time 0), and no frame pays for a clock read. True unless said.
void set_strip_times_read(bool on);
constexpr const char* END_OF_INPUT_TEXT = "EOF on input file";
// The status text of a good frame.
constexpr const char* GOOD_FRAME_TEXT = " ";

// Link replay: the recording the system opens for writing is not made
// (FileOpen "ab"/"wb" gives a stream whose writes go nowhere); `reason`
// says why ("" makes recordings again).
void set_no_recording(const std::string& reason);

// Asks for a quit at the next event poll. Safe to call from a signal handler.
void request_quit();
// True once request_quit was called (a quit signal), and from then on: the
// event poll takes the request, this stays. Any thread; what a dialog open
// on the GUI thread watches to close itself (dialogs.h).
bool quit_signalled();

// True from the moment a quit is asked for (Ctrl+C, SIGTERM, SIGHUP, the
// quit button or a window close still queued) until the program ends, the
// system's teardown after its quit event included. Every wait on the
// system's thread (Delay, the paused hold, serial reads and writes) looks at
// it at least every QUIT_POLL_MS and ends early, so a quit is never held up
// by a wait. Called on the system's thread only.
bool quit_pending();
constexpr int QUIT_POLL_MS = 20;
// The same from any thread: a quit asked for by a signal or the run-time,
// and on the system's thread also the window's (quit_pending).
bool quit_asked();

// What the features registered (hooks.h): the playback control, or nullptr;
// the frame observers in the order added.
PlaybackControl* playback_control();
const std::vector<FrameObserver*>& frame_observers();
const std::vector<SessionObserver*>& session_observers();
// The feed that serves FileOpen(name, "rb"), or nullptr.
InputFeed* input_feed(const std::string& name);

}  // namespace rt
