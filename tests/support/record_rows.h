// Rows of a session record as a live station writes them, for the tests
// that make a record of their own (record/record_writer.h): the run and an
// alarm raised and acknowledged, their many fields set in one place.
#pragma once

#include <cstdint>
#include <string>

#include "record/record_writer.h"

namespace testing_record {

// A live run on /dev/ttyUSB0 by station `version`, begun at `started`
// (seconds since 1970).
inline rt::RecordRun live_run(const std::string& version, double started) {
  rt::RecordRun run;
  run.version = version;
  run.source = "/dev/ttyUSB0";
  run.started = started;
  return run;
}

// Alarm row `id` raised at `t`, when the recording held `offset` bytes: one
// occurrence, first and last seen at `t`, the change "raised" at that time
// and offset with the log's `text`. The caller sets what its alarm holds
// besides (a later last time, the worst value, the longest spell).
inline rt::AlarmRow raised_alarm(uint64_t id, rt::AlarmSource source, const std::string& key,
                                 const std::string& what, rt::Severity severity, double t, int64_t offset,
                                 const std::string& text = "") {
  rt::AlarmRow alarm;
  alarm.row.id = id;
  alarm.row.source = source;
  alarm.row.key = key;
  alarm.row.what = what;
  alarm.row.severity = severity;
  alarm.row.occurrences = 1;
  alarm.first = alarm.last = alarm.t = t;
  alarm.first_offset = alarm.offset = offset;
  alarm.change = "raised";
  alarm.text = text;
  return alarm;
}

// `alarm` as it stands once acknowledged at `t`, with that change.
inline rt::AlarmRow acknowledged(rt::AlarmRow alarm, double t) {
  alarm.row.acknowledged = true;
  alarm.acknowledged_at = t;
  alarm.change = "acknowledged";
  alarm.t = t;
  return alarm;
}

}  // namespace testing_record
