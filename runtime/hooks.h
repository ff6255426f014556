// Where the features above the system join its calls. Seek and step, the
// analysis exports, and what follows the panel's frames are built on the
// system's own code (the link's rules, the decoder), so the run-time cannot
// call them by name: each registers here once at program start (main/), and
// the run-time calls what is registered, on the system's thread.
//
// With nothing registered, Delay waits as it is asked and nobody follows the
// frames: the system's calls behave as the system expects either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "session/alarms.h"

namespace rt {

class PanelModel;

// A playback input the operator can move: the playback stream (FileOpen
// "rb") or the link replay's port.
class ReplayInput {
 public:
  virtual ~ReplayInput() = default;
  // The next read takes the byte at `offset`. False with *error.
  virtual bool move_to(int64_t offset, std::string* error) = 0;
  // Reads `path` from its start from now on. False with *error (the input
  // it had stays).
  virtual bool reopen(const std::string& path, std::string* error) = 0;
  // A regular file: any position can be reached, and it is indexed.
  virtual bool seekable() const = 0;
};

// The operator's control of the playback (replay/replay.h): seek, step,
// loop, open recording and the pause.
class PlaybackControl {
 public:
  virtual ~PlaybackControl() = default;
  // The playback stream was opened from `path`, and is being closed.
  virtual void attach(ReplayInput* input, const std::string& path) = 0;
  virtual void detach(ReplayInput* input) = 0;
  // A frame pass begins: GetUserEvent found no event.
  virtual void frame_pass_begins() = 0;
  // Delay(seconds); `idle`: nothing is left to read.
  virtual void wait(double seconds, bool idle) = 0;
  // The status says the input has ended.
  virtual void end_of_input() = 0;
  // The playback reader stepped back over these bytes to hunt for a sync
  // word.
  virtual void stepped_back(const uint8_t* bytes, size_t n) = 0;
  // Forgets everything (reset_ui_for_tests).
  virtual void reset() = 0;
};
// `control` lives as long as the program; nullptr unregisters.
void set_playback_control(PlaybackControl* control);

// A feature that follows the frame passes as the panel shows them.
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  // LoadPanel made the panel's model.
  virtual void panel_loaded(const PanelModel&) {}
  // The status of a frame pass was shown: a good frame (the model shows it,
  // hex dump and skipped count included), or a failure with its text.
  virtual void good_frame(const PanelModel&) {}
  virtual void failed_frame(std::string_view /*status*/) {}
  // Playback: the reader stepped back over the `n` bytes it had just read,
  // to look for a sync word among them (after it refused a record, or onto
  // a sync word found). `before` is the byte read just before them.
  virtual void stepped_back(uint8_t /*before*/, const uint8_t* /*bytes*/, size_t /*n*/) {}
};
// `observer` lives as long as the program; each is added once and called in
// the order added.
void add_frame_observer(FrameObserver* observer);

// What the run-time observes of a live session beyond the frames shown, for
// a feature that keeps an account of it (the session record, record/).
enum class SessionEventKind {
  LinkState,     // the link's state changed: text the new state ("LINK SILENT")
  PortLost,      // text the device and the reason
  PortReturned,  // text the device
  PortSwitched,  // Connect to...: text "NEW (was OLD)"
  Drained,       // a run start threw away `bytes` that waited in the port
  Command,       // the station sent a command: text what it was, `bytes` its length
  RecordingLoss, // a write to the recording failed
  Note,          // the operator's note: text
};
struct SessionEvent {
  SessionEventKind kind = SessionEventKind::LinkState;
  std::string text;
  long long bytes = -1;  // -1: none
};

class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  // The system's thread. The live recording was opened at `path`, holding
  // `start_size` bytes before this run (a restart within its minute appends).
  virtual void recording_opened(const std::string& /*path*/, int64_t /*start_size*/) {}
  // The panel names it: the station records to `path` from now on.
  virtual void recording_started(const std::string& /*path*/) {}
  // Bytes of the link the receiver read, in order, as they go to the
  // recording: the first at file offset `offset`, or -1 for bytes the
  // recording could not keep. Called for every byte: keep it cheap.
  virtual void recorded(const uint8_t* /*bytes*/, size_t /*n*/, int64_t /*offset*/) {}
  // A read of the link returned no byte (a time-out, a failing port, a
  // switch of device): the receiver's frame attempt ends there.
  virtual void link_read_failed() {}
  virtual void recording_closed(const std::string& /*path*/) {}
  // The session has ended: its last alarm figures, summary and log lines
  // have been told (session_end).
  virtual void session_ended() {}
  // Any thread, never under a lock of the caller's that it could need.
  virtual void session_event(const SessionEvent& /*event*/) {}
  // An alarm row changed (`change`; None for a row whose figures moved, its
  // last time or worst value), or was acknowledged (`acknowledged`).
  virtual void alarm_changed(const Alarm& /*row*/, AlarmChange /*change*/, bool /*acknowledged*/) {}
  // Whether alarm_changed keeps anything now: the watch copies a changed
  // row only for an observer that does. Any thread; keep it cheap.
  virtual bool wants_alarm_rows() const { return true; }
};
// `observer` lives as long as the program; each is added once.
void add_session_observer(SessionObserver* observer);

// A playback input that a feature serves instead of a file (the remote
// viewer's received frames): FileOpen(name, "rb") reads from it. It is read
// like a pipe: never seekable, stepped back only within the look-back.
class InputFeed {
 public:
  virtual ~InputFeed() = default;
  // Up to `n` bytes into `out`, waiting at most `wait_ms` for the first.
  // Returns the count: 0 when none came in time. Called on the system's
  // thread, which asks again until it has what it needs or a quit is
  // pending (a quit then ends the input).
  virtual size_t read(uint8_t* out, size_t n, int wait_ms) = 0;
};
// `feed` serves FileOpen(name, "rb") from now on; nullptr withdraws it. It
// lives as long as it is set.
void set_input_feed(const std::string& name, InputFeed* feed);

}  // namespace rt
