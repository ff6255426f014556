// The link's health as an operator needs it at a glance: an overall state in
// words (receiving, degraded, no frames, link silent, port lost; in playback
// also paused and end of input), the byte and good-frame rates, failures by
// kind over the last minute and in total, the bytes the station skipped, and
// the age of the last good frame. Qt-free and not thread-safe: the caller
// (session_watch.h) feeds it what the run-time observes, on a clock of its
// own choosing (seconds, any origin), and locks around it.
//
// Thresholds, against the link's 9.6 frames/s (1920 bytes/s at 19200 baud,
// 200-byte frames; playback paces 10 frames/s):
//   NO_FRAMES_S     3 s without a good frame while bytes arrive is about 29
//                   frame periods: no single fault (a bad frame, a noise
//                   burst, a cut frame) costs more than two or three, so the
//                   link is carrying no valid frames at all (a wrong baud rate
//                   or device, a sender in the wrong mode).
//   SILENT_S        3 s without a single byte: the sender never pauses
//                   between frames (a byte every 0.5 ms), and the receiver's
//                   own read time-out is 1.05 s, so this is nearly three
//                   time-outs in a row, not a hiccup.
//   DEGRADED_HOLD_S a failure or a skipped byte keeps the state "degraded" for
//                   10 s, so an operator who looks for two seconds at any
//                   moment still sees it; at 5 % bad frames (one every two
//                   seconds) the link stays degraded throughout.
//   STALE_S         the panel's values are marked stale once the last good
//                   frame is this old and the link is not receiving (the
//                   same 3 s: the moment the state leaves receiving).
//   RATE_SPAN_S     rates are averaged over the last 5 s (about 48 frames),
//                   steady enough to read, quick enough to follow a change.
//                   A rate the state denies reads 0: no byte while the link
//                   is silent, lost, paused or at its end; no frame while it
//                   carries no frames.
//   BYTES_GO_ON_S   "no frames" needs bytes for at least 1 s past the last
//                   good frame: a link that simply stops reads "link silent"
//                   (the byte count is sampled every quarter second, so its
//                   last bytes may be seen a little after the last frame).
// In playback at a speed below 1 every threshold stretches by 1 / speed, as
// the pacing does.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

enum class LinkState {
  Waiting,     // nothing to judge yet (start-up, a port just back, a resume)
  Receiving,   // good frames, and no fault in the last DEGRADED_HOLD_S
  Degraded,    // good frames, but failures or skipped bytes in that time
  NoFrames,    // bytes arrive, but no good frame for NO_FRAMES_S
  Silent,      // no byte for SILENT_S (playback: the input gives nothing)
  PortLost,    // live: the port failed and has not come back
  Paused,      // playback: held by the operator
  EndOfInput,  // playback: the input has run out
};

// The state in words ("receiving", "no frames", "link silent", ...). In
// playback, Receiving reads "playing" and Silent "input silent".
const char* link_state_words(LinkState state, bool playback);

// A time without bytes or frames in the words every part of the station
// uses for it (the state's reason, the health bar's age, the stale
// marking), so they never disagree: whole seconds up to 2 min ("7 s"),
// then minutes and seconds ("12 min 5 s"), then hours and minutes
// ("3 h 4 min").
std::string duration_words(double seconds);

// The failures a frame attempt can end in, from the status the system shows.
enum class Failure { Checksum = 0, IllegalEscape = 1, ReadFailure = 2, Other = 3 };
constexpr int FAILURE_KINDS = 4;
// "checksum", "illegal escape", "read failure", "other".
const char* failure_name(Failure kind);

// What a status text says about the frame attempt that showed it.
enum class StatusKind { GoodFrame, Failure, EndOfInput, RunStart, Ready, Unknown };
StatusKind classify_status(std::string_view text, Failure* kind);

constexpr double NO_FRAMES_S = 3.0;
constexpr double SILENT_S = 3.0;
constexpr double DEGRADED_HOLD_S = 10.0;
constexpr double STALE_S = 3.0;
constexpr double RATE_SPAN_S = 5.0;
constexpr double MINUTE_S = 60.0;
constexpr double BYTES_GO_ON_S = 1.0;

struct HealthSnapshot {
  LinkState state = LinkState::Waiting;
  bool playback = false;
  std::string words;   // link_state_words
  std::string reason;  // what led to the state, e.g. "no byte for 4 s" (ages
                       // counted from the last byte or good frame itself)
  double fault_age_s = -1.0;  // degraded: how long ago the fault named came
  double bytes_per_s = 0.0;
  double frames_per_s = 0.0;
  std::array<long long, FAILURE_KINDS> failures_minute{};
  std::array<long long, FAILURE_KINDS> failures_total{};
  long long skipped = -1;        // as the station last showed it; -1 before it did
  long long skipped_minute = 0;  // its growth over the last minute
  double age_s = -1.0;           // since the last good frame; -1 before the first
  bool stale = false;            // the panel's values are old: mark them
  long long bytes_total = 0;
  long long good_frames = 0;
  double longest_gap_s = 0.0;    // without a good frame, the open gap included;
                                 // playback's pauses and ends do not count
  long long port_losses = 0;
};

// Counts per whole second over the last minute, in a fixed ring.
class SecondCounts {
 public:
  void add(double t_s, long long n);
  // The sum over the seconds that began after t_s - span_s (span <= 60 s).
  long long sum(double t_s, double span_s) const;

 private:
  static constexpr int SECONDS = 60;
  std::array<long long, SECONDS> count_{};
  std::array<long long, SECONDS> second_{};
  bool used_[SECONDS] = {};
};

class LinkHealth {
 public:
  LinkHealth(bool playback, double t0_s);

  // The cumulative count of bytes taken off the link (playback: the input's
  // position). The first call gives the base; a count that went down (a seek
  // back, a new input) starts again from there without counting.
  void on_bytes(uint64_t total, double t_s);
  // The count jumped without bytes being read (a seek): `total` is the base.
  void rebase_bytes(uint64_t total) {
    bytes_based_ = true;
    bytes_seen_ = total;
  }
  // Playback: the input was moved at t_s (a seek, a step, From start, Loop,
  // another recording) and now stands at `total`: the jump is no bytes
  // read, the input has not ended, and the link is judged afresh from then.
  void on_input_moved(uint64_t total, double t_s);
  // Every text the system shows in its status line.
  void on_status(std::string_view text, double t_s);
  // The station's count of skipped bytes, as it shows it (after a good frame).
  void on_skipped(long long nskip, double t_s);
  // Whether on_skipped(nskip, ...) counts bytes skipped now (it is told the
  // count at every frame: the caller reads its clock only then).
  bool skipped_grows(long long nskip) const { return skipped_ >= 0 && nskip > skipped_; }
  // The count shown jumped with a move in the playback (it belongs to the
  // frame shown): a new base, not bytes skipped now.
  void rebase_skipped(long long nskip) { skipped_ = nskip; }
  void on_port_lost(double t_s);
  void on_port_returned(double t_s);
  // The operator moved the port to another device. `opened`: the new device
  // opened, and the link is judged afresh from now, as after a return; else
  // the port counts as lost until it opens. Neither counts as a port loss.
  void on_port_switched(bool opened, double t_s);
  // Playback: the operator's pause, and the speed (thresholds stretch by
  // 1 / speed below 1; 0 = no waits).
  void set_paused(bool paused, double t_s);
  void set_speed(double speed);

  HealthSnapshot snapshot(double t_s) const;
  bool playback() const { return playback_; }

 private:
  LinkState state_at(double t_s, std::string* reason, double* fault_age_s) const;
  // Playback held by the operator or at the end of its input: that time is
  // no gap in the frames. Brought up to date at every change of either.
  void update_hold(double t_s);
  double gap_now(double t_s) const { return (held_ ? held_from_s_ : t_s) - gap_from_s_; }
  double scale() const { return playback_ ? time_scale_ : 1.0; }
  // The latest of start-up, a resume and a port's return: what came before
  // says nothing about the link now.
  double since() const { return ref_s_; }

  const bool playback_;
  const double t0_s_;
  double ref_s_;
  double time_scale_ = 1.0;
  bool paused_ = false;
  bool port_lost_ = false;
  bool end_of_input_ = false;

  uint64_t bytes_seen_ = 0;  // the last cumulative count
  bool bytes_based_ = false;
  long long bytes_total_ = 0;
  double last_byte_s_ = -1.0;
  SecondCounts bytes_;

  long long good_frames_ = 0;
  double last_good_s_ = -1.0;
  double gap_from_s_;  // the start of the open gap, moved on by each hold
  double longest_gap_s_ = 0.0;
  bool held_ = false;
  double held_from_s_ = 0.0;
  SecondCounts frames_;

  std::array<long long, FAILURE_KINDS> failures_total_{};
  std::array<SecondCounts, FAILURE_KINDS> failures_;
  double last_failure_s_ = -1.0;
  Failure last_failure_kind_ = Failure::Other;
  double last_skip_s_ = -1.0;

  long long skipped_ = -1;
  SecondCounts skipped_growth_;

  long long port_losses_ = 0;
};

}  // namespace rt
