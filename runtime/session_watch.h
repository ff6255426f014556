// What the run-time observes of a session, gathered in one place. It feeds
// the link's health (link_health.h), the session log (session_log.h) and the
// handover summary (session_summary.h) from what passes through the
// run-time: bytes read off the port, the status texts the system shows, the
// values of the skipped count and the housekeeping displays, port losses and
// returns, the bytes the system sends, recording writes and operator events.
// It also keeps the alarm list (session/alarms.h): housekeeping displays out
// of limits, the link in NO FRAMES, LINK SILENT or PORT LOST and the
// recording in NOT RECORDING (these two live only, not in a link replay);
// each raise and each acknowledgement goes to the log.
// None of it changes what the system's code sees. Qt-free.
//
// Threads: the system's thread reports through the run-time calls (ui.cpp,
// serial.cpp, stream.cpp); a watcher thread of the session's own samples the
// byte counts every WATCH_EVERY_MS, logs each change of the link's state and
// ends coalesced log storms; the window reads the health at its own pace.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "present/limits.h"
#include "session/alarms.h"
#include "session/link_health.h"

namespace rt {

class PanelModel;
struct SummaryPart;  // session/session_summary.h

constexpr int WATCH_EVERY_MS = 250;

struct SessionInfo {
  std::string version;
  bool playback = false;
  std::string source;        // the recording played, or the port's device
  bool headless = false;
  double speed = 1.0;        // playback
  std::string log_path;      // --log FILE; "" = beside the recording (live)
  std::string summary_path;  // --summary FILE; "" = none
  bool link_replay = false;  // --link-replay: live reception of a recording
  // --subscribe: a remote view of a publishing station (playback of the
  // frames received). It raises no alarms of its own: the window shows the
  // station's list.
  bool remote_view = false;
};

// The session log a live session keeps beside its recording: the same
// name with ".log" for its extension.
std::string log_beside(const std::string& recording);

// Program start (after the command line is read): the start-up entry, the
// --log file, the --summary file, the watcher thread. A log or summary file
// that cannot be opened is said once on standard error, the run goes on
// without it and the exit status becomes EXIT_OUTPUT_FAILED.
void session_begin(const SessionInfo& info);
// Program end, after the system's teardown: the summary goes to the log and
// to standard error (when the panel was shown), and as JSON to --summary;
// the log is closed. A summary file that cannot be written whole is said and
// sets EXIT_OUTPUT_FAILED.
void session_end(int entry_result);

// A feature above the system (the publisher, the remote viewer) gives its
// part of the summary, before session_end; a later part with the same key
// replaces it. Any thread.
void session_add_summary_part(SummaryPart part);

// ----- Observations (the system's thread) -----------------------------------

// At LoadPanel: which controls are the skipped count and the housekeeping
// displays.
void watch_panel(const PanelModel& model);
// Every text shown in PANEL_STATUS.
void watch_status(std::string_view text);
// Every number shown in a control; for controls not watched, an inline
// test (every value written asks).
namespace watch_detail {
// What watch_panel found each control id to be (NOT_WATCHED, SKIPPED or a
// housekeeping index): the system's thread alone builds and reads it.
constexpr int NOT_WATCHED = -1;
constexpr int SKIPPED = -2;
extern std::vector<int> watched_by_id;
void watch_watched_value(int what, double value);
}  // namespace watch_detail
inline void watch_value(int ctrl, double value) {
  const std::vector<int>& by_id = watch_detail::watched_by_id;
  if (ctrl < 0 || static_cast<size_t>(ctrl) >= by_id.size()) return;
  const int what = by_id[static_cast<size_t>(ctrl)];
  if (what != watch_detail::NOT_WATCHED) watch_detail::watch_watched_value(what, value);
}

enum class EventSource { Operator, Script, Signal, EndOfInput };
// An event handed to the system (after its value went into the control).
void watch_event(const PanelModel& model, int ctrl, EventSource source, int script_line = 0);

// The operator's note on the session ("balloon cut-down commanded here"):
// logged ("note by the operator: TEXT"), told to the session's observers
// (the session record), and listed in the summary. The text is cleaned of
// control characters and cut to NOTE_MAX_CHARS; an empty one is no note.
// Returns the text as kept. Any thread.
constexpr size_t NOTE_MAX_CHARS = 500;
std::string watch_note(std::string_view text, EventSource source, int script_line = 0);

// Playback: the input's position jumped (a seek): the next look at it is a
// new base, so the jump does not count as bytes read.
void watch_input_moved();

// COM1 opened at start-up (OpenComConfig): the link is judged from now. A
// start-up failure that waited in its dialog (the port chooser's Retry)
// says nothing about the link: its time is no silence.
void watch_port_opened();
// The port failed (reads fail with `reason`), and came back. `note`: said
// once with the return, as a warning (a device whose identity cannot be
// checked).
void watch_port_lost(const std::string& path, const std::string& reason);
void watch_port_returned(const std::string& path, const std::string& note = "");
// While the port is lost, another device than the lost one answers at its
// path: it is not read (the health bar says "another device at PATH") until
// the operator chooses it with Connect to....
void watch_port_foreign(const std::string& path, const std::string& was, const std::string& now);
// The operator moved COM1 from `old_path` to `new_path` (Connect to...).
// `error`: why the new device did not open ("" when it did); it then counts
// as a lost port, with that reason, until it opens (watch_port_returned).
void watch_port_switched(const std::string& old_path, const std::string& new_path,
                         const std::string& error);
// Playback: the operator opened another recording (Open recording); the
// summary names each one played.
void watch_source_opened(const std::string& path);
// Bytes the system sent on the port (`ok`: the port took them).
void watch_sent(const unsigned char* bytes, int n, bool ok);

// The recording: started (the log opens beside it, live, without --log),
// losses (a write or sync failure: the recording.cpp messages), and closed.
void watch_recording_started(const std::string& path);
void watch_recording_loss();
void watch_recording_closed(const std::string& path, long long written, long long missing);

// A watched display's level and, while it is out of limits, its value
// against them (nullptr at the normal level): the panel model, after each
// value out of limits and each change of level, on any thread.
void watch_limit(const std::string& label, LimitLevel level, const LimitExcursion* excursion);

// A time of the session's clock (Alarm::first_s and the like) as seconds
// since 1970.
double session_time_unix(double t_s);

// Playback: the time of the pass at the frame the panel shows (seconds since
// 1970), which the replay's own alarms take for theirs instead of the
// replay's clock: false when it cannot be told. `estimated`: the times are
// estimated from the recording (their texts say so). Set at program start.
void watch_set_playback_clock(std::function<bool(double* t_s, bool* estimated)> clock);

// ----- For the window ---------------------------------------------------------

// The alarm list now, and a version that grows with every change of it.
struct AlarmsSnapshot {
  uint64_t version = 0;
  std::vector<Alarm> rows;
  AlarmStatus status;
  int64_t origin_ms = 0;  // the rows' clock at 0 s, in ms since 1970 UTC
  // The pass's own list (watch_show_recorded_alarms): its times are seconds
  // since 1970, not the session's clock.
  bool recorded = false;
};
AlarmsSnapshot watch_alarms();
// Playback of a recording whose session record holds its alarm list: that
// list, as it stood at the end of the pass, is the one shown (watch_alarms,
// the summary) instead of the replay's own; it has nothing to acknowledge
// or sound. nullptr goes back to the replay's own list.
void watch_show_recorded_alarms(std::shared_ptr<const std::vector<Alarm>> rows);
uint64_t watch_alarms_version();
// The operator acknowledges alarm `id`, or all: each is logged with the
// time. Returns how many were acknowledged now.
int watch_acknowledge(uint64_t id);
int watch_acknowledge_all();

// The link's health now. The reason of a lost port names the device.
HealthSnapshot watch_health();

// For tests: forgets everything (the watcher thread must not run).
void reset_session_for_tests();
// For tests: the clock the health is judged on (seconds); nullptr for the
// steady clock. reset_session_for_tests goes back to the steady clock.
void set_session_clock_for_tests(std::function<double()> now_s);

}  // namespace rt
