// The session log's events as marks on a trend's time axis: port lost and
// returned, commands sent, recording gaps, limits crossed, seeks and the
// operator's actions. Live they are the session's own entries; a playback
// shows those of the live session that made the recording, from the log it
// kept beside it (a recording keeps no time, so they are placed by their
// clock time on the time the recording implies: where the link was silent
// they come later than that time by the silence). Qt-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "present/severity.h"
#include "session/session_log.h"

namespace rt {

struct EventMark {
  double t_s = 0.0;  // seconds since 1970
  Severity severity = Severity::Info;
  std::string text;
};

// The time of a log entry's "YYYY-MM-DD HH:MM:SS.mmm" (local time), in
// seconds since 1970; false when the text is not of that form.
bool log_entry_time(std::string_view text, double* t_s);
// A session log's entry as a mark (false when its time cannot be read).
bool event_mark(const LogEntry& entry, EventMark* mark);
// The entries of a session log file, as the session log writes them
// ("TIME SEVERITY TEXT" lines); other lines are passed over. None when the
// file cannot be read.
std::vector<EventMark> read_log_marks(const std::string& path);

}  // namespace rt
