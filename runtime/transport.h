// What the window offers beyond the panel's own controls, shared between the
// window (GUI thread) and the system's thread: the playback transport (pause,
// speed, position in the file), the recording shown in the status bar, and
// the operator's request to save the spectra. None of it raises panel events;
// the system's code feels it only through the time its waits take.
// Implemented in transport.cpp; Delay, GetUserEvent and SetCtrlVal drive it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "present/severity.h"

namespace rt {

// ----- Pacing (Delay) --------------------------------------------------------

// Playback waits are divided by `speed`; 0 = no waits. Takes effect at the
// next wait. Speeds other than 0 lie in SPEED_MIN..SPEED_MAX (--speed refuses
// the rest; a value outside is brought to the nearer end): at SPEED_MIN a
// frame's 0.1 s pacing takes 100 s, the slowest stepping that is still of
// use, and beyond SPEED_MAX the pacing is below a frame's own processing
// time, so 0 says it better.
constexpr double SPEED_MIN = 0.001;
constexpr double SPEED_MAX = 1000.0;
void transport_set_speed(double speed);
double transport_speed();

// While paused, the system's thread holds at the start of the next frame
// pass (in the playback reader's first Delay, after its wait, or at the link
// replay's first read), so no frame is read; a pass under way runs to its
// end. Resuming wakes it at once.
void transport_set_paused(bool paused);
bool transport_paused();

// Sleeps seconds / speed (not at all for speed 0 or seconds <= 0, at most
// MAX_WAIT_S). `stop`, when given, is asked every few milliseconds and ends
// the sleep as soon as it returns true.
constexpr double MAX_WAIT_S = 1e6;
// `idle`: nothing is left to read, so even at speed 0 (no waits) the wait
// lasts its nominal time rather than letting the caller spin.
void transport_sleep(double seconds, const std::function<bool()>& stop = nullptr, bool idle = false);
// Waits up to `max_ms` for a resume. Returns true while still paused.
bool transport_hold(int max_ms);

// ----- Position in the playback input ----------------------------------------

// The recording being played back ("" in live mode).
void transport_set_source(const std::string& playback_path);
std::string transport_source();
// Grows at every transport_set_source: a copy of transport_source() holds
// while it stays the same (no copy under the lock at every frame).
uint64_t transport_source_serial();
bool transport_is_playback();
// --link-replay: the recording's bytes go through the live receiver. The
// transport then counts as playback of `path` (transport_is_playback).
void transport_set_link_replay(const std::string& path);
bool transport_is_link_replay();

// The input stream reports where it stands: its size when it is opened (0
// when unknown: a pipe, standard input) and its position after every read
// and seek. Any thread may read the position.
void transport_input_opened(int64_t total);
void transport_input_at(int64_t bytes);
// After each good frame.
void transport_good_frame();
// The input has run out: a total that was unknown is now the position.
void transport_end_of_input();
// The link replay's file has run out (the link is silent from now on), or,
// with false, the input has been moved or reopened since.
void transport_set_input_exhausted(bool exhausted);
bool transport_input_exhausted();
// The spectra were emptied: no frame is counted in them now.
void transport_spectra_cleared();

struct Position {
  int64_t bytes = 0;  // the input's position: bytes consumed so far
  int64_t total = 0;  // its size (0 while unknown)
  long good_frames = 0;
  int64_t last_good_end = -1;  // the position just after the last good frame
  int64_t counted_end = -1;    // the furthest such position since the spectra were emptied
};
Position transport_position();
// Its bytes alone, without the lock.
int64_t transport_input_bytes();

// ----- Recording (live mode) -------------------------------------------------

// The file that every received byte is written to, "" when not recording.
void transport_set_recording(const std::string& path);
std::string transport_recording();

// Kept by the recording's writer (recording.h): why received bytes are not
// reaching the file now ("" while they are; also why it could not be
// created), and how many are missing from it so far.
void transport_set_recording_failure(const std::string& reason);
void transport_set_recording_missing(int64_t bytes);
struct RecordingState {
  std::string path;
  std::string failure;
  int64_t missing = 0;
};
RecordingState transport_recording_state();

// The folder the session works in when the program chose it itself
// (--launcher), "" when it is the working directory it was started in. The
// window's title names it. `fallback` (else ""): why the folder the
// launcher works in could not be used, so that `folder`, the working
// directory, stands in for it; the title says that too.
void transport_set_work_folder(const std::string& folder, const std::string& fallback = "");
std::string transport_work_folder();
std::string transport_work_folder_fallback();

// ----- Spectra export and clear ----------------------------------------------

// The system's "clear both spectra" (RegisterSpectraClear), for a playback
// moved back over frames already counted. Runs it on the calling (system's)
// thread and marks the spectra empty; false when none was registered.
void transport_set_spectra_clear(void (*clear)(void* context), void* context);
bool transport_clear_spectra();

// Writes the spectra's rows (the system's exporter). `context` is the
// system's own pointer.
using SpectraWriter = void (*)(void* context, FILE* out);
void transport_set_spectra_writer(SpectraWriter write, void* context);

// Writes the exporter's rows (no `#` lines) to `out` on the calling thread,
// which must be the system's or run when it has ended. False when the
// program registered no exporter.
bool transport_write_spectra_rows(FILE* out);

// The window asks for the spectra to be saved to `path` (GUI thread); the
// system's thread writes the file at its next poll or while held paused.
void transport_request_spectra(const std::string& path);
// Runs a pending request on the calling (system's) thread: `#` lines naming
// the source and the time, then the exporter's rows. The outcome goes to
// transport_message(). Returns true when a request was handled.
bool transport_run_spectra_request();

// The last outcome to show in the status bar, and a counter that grows with
// each new message (so the window shows each once).
struct Message {
  uint64_t serial = 0;
  std::string text;
};
Message transport_message();
void transport_post_message(const std::string& text);
// The same, logged at `severity`.
void transport_post_message(const std::string& text, Severity severity);

// Forgets everything (tests; reset_ui_for_tests calls it).
void transport_reset();

}  // namespace rt
