// The session log's events as marks on a trend's time axis: port lost and
// returned, commands sent, recording gaps, limits crossed, seeks and the
// operator's actions. Live they are the session's own entries; a playback
// shows those of the live session that made the recording, from the log it
// kept beside it (a recording keeps no time, so they are placed by their
// clock time on the time the recording implies: where the link was silent
// they come later than that time by the silence). Qt-free.
#pragma once

#include <cstdint>
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
  bool note = false;  // the operator's note ("note by the operator: ...")
};

// True for the text of a note's log entry (runtime/session_watch.h's
// watch_note).
bool is_note_text(std::string_view text);

// The time of a log entry's "YYYY-MM-DD HH:MM:SS.mmm" (local time), in
// seconds since 1970; false when the text is not of that form.
bool log_entry_time(std::string_view text, double* t_s);
// A session log's entry as a mark (false when its time cannot be read).
bool event_mark(const LogEntry& entry, EventMark* mark);
// The most of a log file read for its marks. The session log is renamed
// at 16 MiB, so a log of the station's own is never much larger.
constexpr int64_t LOG_MARKS_MAX_BYTES = int64_t{17} << 20;
// The longest line taken; a longer one is passed over.
constexpr size_t LOG_MARKS_MAX_LINE = 64 * 1024;

// The entries of a session log file, as the session log writes them
// ("TIME SEVERITY TEXT" lines); other lines are passed over. Only a regular
// file is read (a FIFO or a device at the name is never waited on), and of
// it only its first `max_bytes`. None when there is no such file.
// `*left_out` (when given) says what was not read and why, for the
// operator: "" when the whole file was, or there is none.
std::vector<EventMark> read_log_marks(const std::string& path, std::string* left_out = nullptr,
                                      int64_t max_bytes = LOG_MARKS_MAX_BYTES);

// A playback's own events (a seek, Loop, the operator's actions) happen at
// a clock time of this session; on the recording's time axis they belong
// where the panel was then. The frames the panel showed, noted with the
// clock time they were seen, place them: at the frame shown next, when that
// came within SHOWN_AFTER_S (a seek lands on the frame sought, which the
// panel shows within a frame pass of it, and which a note taken a little
// late still finds), else at the frame shown at the time (paused). Not
// locked.
class ShownFrames {
 public:
  // The panel shows frame `frame` (of the recording's frames) at `t_s`.
  void note(double t_s, long frame);
  static constexpr double SHOWN_AFTER_S = 1.0;
  // The frame an event at `t_s` belongs to; false when none was shown by
  // then.
  bool frame_at(double t_s, long* frame) const;
  void clear() { seen_.clear(); }

 private:
  std::vector<std::pair<double, long>> seen_;  // each change of the frame shown, in time order
};

}  // namespace rt
