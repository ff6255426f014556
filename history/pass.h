// The pass as the station lived it: what the session record beside a live
// recording tells (record/ reads it from NAME.session; this folder uses it).
// With it, a review of the recording stands on the pass's own time: each
// frame the time it came, the events, log entries, alarms and notes where
// they happened. Without one (an older file, a pipe, a record refused),
// times are estimated from the recording's name and offsets, and say so.
//
// history/ never reads the record itself: program start registers the
// reader (set_pass_reader), so a build without the record (the Windows
// core) plays as before. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "present/severity.h"
#include "replay/recording_index.h"
#include "session/alarms.h"

namespace rt {

struct PassRun {
  int run = 0;
  double started = 0.0, ended = -1.0;  // seconds since 1970; ended -1: never closed (a crash)
  std::string version, mode, source, device, host;
  int64_t pid = 0;
  int64_t first_offset = 0;
};

// An event, a log entry or a note of the pass.
struct PassEvent {
  int run = 0;
  double t_s = 0.0;
  int64_t offset = 0;  // the recording's size then
  std::string kind;    // events: "link", "port lost", ..., "note"; the log: "log"
  Severity severity = Severity::Info;
  std::string text;
  int64_t bytes = -1;
};

struct PassAlarm {
  int run = 0;
  Alarm row;  // times as seconds since 1970 (first_s, last_s, acknowledged_s) and as local text
  int64_t first_offset = 0;  // the recording's size when it was first raised
};

struct PassAlarmEvent {
  int run = 0;
  uint64_t alarm = 0;
  double t_s = 0.0;
  int64_t offset = 0;
  std::string change, severity, text;
};

struct Pass {
  std::string record_path;
  std::vector<PassRun> runs;
  // The frames the station showed, in order (offset order), with times.
  std::shared_ptr<const LiveFrames> frames;
  std::vector<PassEvent> events;  // by time
  std::vector<PassEvent> log;     // by time
  std::vector<PassAlarm> alarms;
  std::vector<PassAlarmEvent> alarm_events;
  int64_t recording_size = 0;
  // Why part of the recording has estimated times ("" when none has): it
  // grew after its record stopped (a crash), or it ends before it.
  std::string note;

  // The pass's time of the byte at `offset`: the time of the frame that
  // holds it (or the last before it); beyond the record's frames, estimated
  // from the last at the link's rate (*estimated then). False when the
  // pass has no frame.
  bool time_at(int64_t offset, double* t_s, bool* estimated = nullptr) const;
  // The first frame of the record at or after `t_s` (its index in frames),
  // frames.size() when none.
  size_t frame_at_time(double t_s) const;
  // The notes (events of kind "note").
  std::vector<const PassEvent*> notes() const;
};

enum class PassFound { None, Refused, Found };

// Reads the pass of the recording at `recording` from its session record:
// None when it has none, Refused with *why (one line: the record and the
// reason) when it is not usable.
using PassReader = std::function<PassFound(const std::string& recording, Pass* out, std::string* why)>;
void set_pass_reader(PassReader reader);
PassFound read_pass(const std::string& recording, Pass* out, std::string* why);

// ----- The pass of the recording played back now ----------------------------

// Program start registers this (history_install): at the panel's start and
// each Open recording, the pass of the recording played is read once. A
// refused record is said once (standard output and the log, "session record
// NAME refused: REASON; times are estimated"); a usable one puts the pass's
// own alarm list in the session watch's place (watch_show_recorded_alarms).
void pass_follow(const std::string& path);
// The pass of the recording played now, or nullptr (live, none, refused).
std::shared_ptr<const Pass> playback_pass();
// Forgets the playback's pass (tests).
void reset_playback_pass();

// The summary's part about the pass (program end, playback with a pass):
// when, where and by which station it was received, its frames, alarms and
// notes. Adds nothing without a pass.
void add_pass_summary();

}  // namespace rt
