// The handover summary: what happened during a session, in a few lines for
// the log and standard error, and as JSON for scripts (--summary FILE).
// Qt-free; the caller (session_watch.h) gathers the figures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "present/display_format.h"
#include "session/alarms.h"
#include "session/link_health.h"

namespace rt {

// The panel's housekeeping displays: HK00 to HK35 (slots 0 to 35, scaled),
// HKHI and HKLO (slot 36's two bytes) and HKRAW (slots 37 to 39, raw; the
// run-time sees only the control, not which of the three slots it shows).
constexpr int HK_DISPLAYS = 39;

// The index (0 .. HK_DISPLAYS-1) of a housekeeping display by its control
// name, or -1.
int housekeeping_index(std::string_view control_name);

struct SlotStats {
  std::string control;  // PANEL_HK00 ...
  std::string what;     // "slot 0", "slot 36 high byte", "slots 37 to 39"
  std::string unit;     // the system's unit: "V", "A", "°C", or "" for raw values
  long long count = 0;  // values shown
  double min = 0.0, max = 0.0, last = 0.0;  // in `unit`
  // How the panel shows it (its unit and scale, e.g. A shown as mA), for
  // the lines an operator reads; none when the panel file gives no unit.
  DisplayFormat shown{};
};

// Minimum, maximum and last value of each housekeeping display, in the
// system's units (kept in the table in session_summary.cpp).
class HousekeepingStats {
 public:
  HousekeepingStats();
  void add(int index, double value);
  // The panel shows display `index` with `format` (its unit and scale).
  void set_shown(int index, const DisplayFormat& format);
  const std::vector<SlotStats>& slots() const { return slots_; }

 private:
  std::vector<SlotStats> slots_;
};

// What a feature above the system adds to the summary (the publisher, the
// remote viewer): indented lines for a person, and a JSON object under `key`.
struct SummaryPart {
  std::string key;
  std::vector<std::string> lines;
  std::string json;
};

struct SessionSummary {
  std::string version;
  bool playback = false;
  std::string source;          // the recording played, or the port's device at the end
  std::vector<std::string> earlier_devices;  // live: the devices before Connect to..., in order
  std::vector<std::string> earlier_sources;  // playback: the recordings played before `source`, in order
  std::string started, ended;  // local time, "YYYY-MM-DD HH:MM:SS"
  double duration_s = 0.0;
  HealthSnapshot health;       // at the end: totals, longest gap, port losses
  std::string recording;       // the recording file, "" when none
  std::string recording_failure;  // why there was none, or why it failed
  long long bytes_recorded = 0;
  long long bytes_drained = 0;  // live: read and thrown away at a run start, never recorded
  long long bytes_missing = 0;
  long long recording_losses = 0;
  long long acks_sent = 0;
  long long commands_sent = 0;  // stop and instrument commands
  // Each command sent (not the acknowledgements): when, and what.
  struct Sent {
    std::string time;  // local time to the millisecond
    std::string what;  // "instrument command (...)", "stop command (3\r)"
  };
  std::vector<Sent> commands;
  std::string log_file;         // "" when the log was kept in memory only
  std::string log_failure;      // why the log file could not be written
  std::string summary_failure;  // why --summary FILE could not be opened
  std::vector<SlotStats> housekeeping;
  std::vector<Alarm> alarms;    // the alarm list at the end
  std::vector<SummaryPart> parts;
};

// "12 min 5 s", "2 h 3 min 0 s", "4.2 s".
std::string duration_text(double seconds);

// The summary for a person: a heading line and indented lines. Values in
// the units the panel shows them in.
std::vector<std::string> summary_lines(const SessionSummary& s);
// The same as one JSON object (with a final newline), values in the
// system's units (each housekeeping entry names its unit). Keys: version,
// mode, source, devices (live: every device COM1 stood for, the last is
// source), recordings (playback: every recording played, in order, the last
// is source), started, ended, duration_s, bytes_received, bytes_recorded,
// bytes_missing, bytes_drained, good_frames, failures {checksum, illegal_escape,
// read_failure, other}, bytes_skipped (null when never shown),
// longest_gap_s, port_losses, recording, recording_failure,
// recording_losses, acks_sent, commands_sent, commands [{time, what}],
// log_file, log_failure,
// housekeeping [{control, what, unit, count, min, max, last}] (min, max and
// last null when never shown), alarms_by_source {limit, link, recording},
// alarms_unacknowledged, alarms [{id, source, key, what, severity ("red" or
// "amber"), first, last, occurrences, worst (the value as shown, null for a
// link or recording alarm), worst_text, worst_limit, longest_s, active,
// now, acknowledged, acknowledged_at ("" if never)}], and each part's key.
std::string summary_json(const SessionSummary& s);

}  // namespace rt
