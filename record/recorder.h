// Joins the session record to the run-time (runtime/hooks.h) and the
// session log. Live, from the moment the station records to NAME.dat, it
// writes NAME.session beside it (record_writer.h): each good frame the panel
// shows with the time it showed it and where it lies in the recording
// (link_mirror.h), the link's events, every log entry, each change of the
// alarm list, limits changes, commands sent and the operator's notes. A
// link replay, a playback and a run without a recording write none.
//
// A record that cannot be written is said once: an error in the log, a line
// on standard output ("SESSION RECORD FAILED: ..."), the health bar's mark
// (record_state()), and the exit status EXIT_OUTPUT_FAILED. The recording
// and the link never wait for it. Qt-free.
#pragma once

#include <functional>
#include <string>

namespace rt {

// Program start, once: registers the record with the run-time. `version`
// is the station's, written in each run's row.
void record_install(const std::string& version);

// What identifies a device beyond its path (an adapter's description,
// manufacturer and serial number), as program start can tell it; "" when
// nothing is known.
void record_set_device_describer(std::function<std::string(const std::string& device)> describe);

// The record being written now ("" when none) and why it failed ("" while it
// has not): the health bar's mark. Any thread.
struct RecordState {
  std::string path;
  std::string failure;
};
RecordState record_state();

// For tests: the writer's queue is committed now (false after `timeout_s`).
bool record_flush_for_tests(double timeout_s);

}  // namespace rt
