// The time a trend is drawn against. Live it is the time each frame was
// received. A recording keeps no time, so in playback it is the time the
// recording implies: the frame's byte offset at the link's 1920 bytes a
// second, counted from the start time its name gives ("YDDDHHMM.dat": the
// last digit of the year, the day of the year from 0, hour and minute, in
// local time). Frames of kind 1 carry the instrument's elapsed time, which
// can serve as the axis instead. Times are seconds since 1970 (UTC); the
// elapsed time is seconds. Qt-free.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "history/event_marks.h"

namespace rt {

constexpr double RECORDING_BYTES_PER_S = 1920.0;  // 19200 baud, 8N1

// The start time the recording's file name gives, in seconds since 1970.
// The name carries only the year's last digit: the decade is the latest
// that puts the start at or before `not_after` (the file's last change).
// False when the name (without its folder) is not of the form YDDDHHMM.dat
// with a day, hour and minute in range.
bool recording_start_from_name(const std::string& path, std::time_t not_after, double* start_s);

// The same, made exact where the session log the live session kept beside
// the recording (runtime/session_watch.h's log_beside) says when it began
// to record ("recording to NAME", within the minute the name gives). The
// name alone gives only the minute. `from_log` says which it was.
bool recording_start(const std::string& path, std::time_t not_after, double* start_s, bool* from_log);
// The same with the log's entries already read (read_log_marks).
bool recording_start(const std::string& path, std::time_t not_after, const std::vector<EventMark>& log,
                     double* start_s, bool* from_log);

// The time the recording implies for the byte at `offset`.
inline double recording_time(double start_s, int64_t offset) {
  return start_s + static_cast<double>(offset) / RECORDING_BYTES_PER_S;
}

// Local clock time of `t_s`: "HH:MM:SS" with `decimals` (0 to 3) digits of
// the second, and the date in front ("YYYY-MM-DD ") when `date`.
std::string clock_text(double t_s, int decimals = 1, bool date = false);
// ISO form for files: "YYYY-MM-DDTHH:MM:SS.mmm", local time.
std::string iso_local_text(double t_s);

// The instrument's elapsed time as the panel writes it: "d/hh:mm:ss.s".
std::string elapsed_axis_text(double elapsed_s);

}  // namespace rt
