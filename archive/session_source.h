// What the archive and the report know of a session beyond its recording's
// bytes: the session record beside it (NAME.session: times as received,
// runs, alarms, notes, commands, link events) or, for a recording without
// one, the session log beside it (NAME.log: its entries, port losses and
// commands). Also where the session's times come from and whether it is
// still being recorded. Qt-free.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/session_scan.h"

namespace rt {

struct Pass;

// A session whose recording, record or log changed this recently is still
// being recorded: with a record, only while its last run is open. Without
// one, a recording that grew since the archive's last look while its time
// stood still (a file system that sets the time lazily) is too.
constexpr double LIVE_QUIET_S = 5.0;

struct SessionAlarm {
  std::string key, what, severity;  // 'HK16', 'HK16 out of limits', 'red' or 'amber'
  double first_s = 0.0, last_s = 0.0;
  int64_t occurrences = 0;
  std::string worst_text, worst_limit;
  bool acknowledged = false;
  double acknowledged_s = UNKNOWN_TIME;  // NaN: never
};

// An event of the session ('port lost', 'port returned', 'command', 'note',
// ...) or a log entry ('log', with its severity in `severity`).
struct SessionEntry {
  double t_s = 0.0;
  std::string kind;
  std::string severity;  // log entries: 'INFO', 'WARN', 'ERROR'
  std::string text;
};

struct SessionSource {
  std::string recording;    // the recording's path
  std::string record_path;  // the session record found beside it, "" when none
  std::string record_state = "none";  // "used", "none", or why it was refused
  // Size and last change of the record and of the log, as looked at: when
  // either changes, what the archive holds of the session is stale.
  std::string stamp;
  std::string times = "file";  // "record", "name" or "file" (the archive's `times`)
  FrameRules rules = FrameRules::Playback;
  std::shared_ptr<const LiveFrames> shown;  // with a record: the frames the panel showed
  std::shared_ptr<const Pass> pass;          // with a record: all of it
  OffsetTime time_of;       // set by look_at_session
  bool live = false;
  std::string port, device, version, host;
  std::vector<SessionAlarm> alarms;
  std::vector<SessionEntry> events;  // by time: the record's events, or those the log names
  std::vector<SessionEntry> log;     // the session log's entries
  int64_t port_losses = 0, commands = 0, notes = 0;
};

// Looks at what lies beside the recording at `recording` (of `size` bytes,
// last changed at `modified_s`, seconds since 1970) at `now_s`.
SessionSource look_at_session(const std::string& recording, int64_t size, double modified_s, double now_s);

// Only the stamp (SessionSource::stamp) of what lies beside `recording`:
// cheap, for deciding whether to look again.
std::string session_stamp(const std::string& recording);

// The last change of `path` in seconds since 1970; false when it cannot be
// looked at.
bool file_time(const std::string& path, double* t_s, int64_t* size = nullptr);

// The latest change to the session of `recording` (last changed at
// `modified_s`): to it, its record (and the record's write-ahead log) or
// its log, seconds since 1970.
double session_latest_change(const std::string& recording, double modified_s);

}  // namespace rt
