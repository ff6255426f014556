#include "archive/session_source.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "history/event_marks.h"
#include "history/pass.h"
#include "history/time_axis.h"
#include "record/record_reader.h"
#include "record/record_writer.h"
#include "runtime/session_watch.h"

namespace rt {

namespace {

constexpr double CLOCK_SLACK_S = 600.0;  // a name's start may be this far after the file's last change

std::string stamp_of(const std::string& path) {
  double t = 0.0;
  int64_t size = 0;
  if (!file_time(path, &t, &size)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%lld@%.3f", static_cast<long long>(size), t);
  return text;
}

std::string severity_colour(Severity s) { return s == Severity::Error ? "red" : "amber"; }

// A recording without a record: what its session log says. Its entries are
// searched; port losses and commands sent are counted from their texts.
void read_log(const std::string& recording, SessionSource* out) {
  for (EventMark& m : read_log_marks(log_beside(recording))) {
    SessionEntry e{m.t_s, "log", severity_name(m.severity), std::move(m.text)};
    if (e.text.rfind("port lost: ", 0) == 0) {
      ++out->port_losses;
      out->events.push_back({e.t_s, "port lost", "", e.text.substr(11)});
    } else if (e.text.rfind("sent: ", 0) == 0) {
      ++out->commands;
      out->events.push_back({e.t_s, "command", "", e.text.substr(6)});
    }
    out->log.push_back(std::move(e));
  }
}

// A recording with its record: everything from the record.
void use_pass(const Pass& pass, SessionSource* out) {
  out->times = "record";
  out->rules = FrameRules::Link;
  out->shown = pass.frames;
  if (!pass.runs.empty()) {
    // The station and port of the latest run (a restart may have moved it).
    const PassRun& run = pass.runs.back();
    out->port = run.source;
    out->device = run.device;
    out->version = run.version;
    out->host = run.host;
  }
  for (const PassAlarm& a : pass.alarms) {
    SessionAlarm s;
    s.key = a.row.key;
    s.what = a.row.what;
    s.severity = severity_colour(a.row.severity);
    s.first_s = a.row.first_s;
    s.last_s = a.row.last_s;
    s.occurrences = a.row.occurrences;
    s.worst_text = a.row.worst_value;
    s.worst_limit = a.row.worst_limit;
    s.acknowledged = a.row.acknowledged;
    s.acknowledged_s = a.row.acknowledged_s < 0 ? UNKNOWN_TIME : a.row.acknowledged_s;
    out->alarms.push_back(std::move(s));
  }
  for (const PassEvent& e : pass.events) {
    if (e.kind == "port lost") ++out->port_losses;
    else if (e.kind == "command") ++out->commands;
    else if (e.kind == "note") ++out->notes;
    out->events.push_back({e.t_s, e.kind, "", e.text});
  }
  for (const PassEvent& e : pass.log) out->log.push_back({e.t_s, "log", severity_name(e.severity), e.text});
}

}  // namespace

bool file_time(const std::string& path, double* t_s, int64_t* size) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const auto changed = fs::last_write_time(path, ec);
  if (ec) return false;
  if (size) {
    const auto n = fs::file_size(path, ec);
    if (ec) return false;
    *size = static_cast<int64_t>(n);
  }
  // Seconds since 1970, the same figure at every look (the archive compares
  // it to see whether a file changed).
  *t_s = std::chrono::duration<double>(std::chrono::file_clock::to_sys(changed).time_since_epoch()).count();
  return true;
}

std::string session_stamp(const std::string& recording) {
  // The record's write-ahead log changes while a station writes the record.
  const std::string record = record_path_for(recording);
  return stamp_of(record) + " " + stamp_of(record + "-wal") + " " + stamp_of(log_beside(recording));
}

double session_latest_change(const std::string& recording, double modified_s) {
  const std::string record = record_path_for(recording);
  double latest_s = modified_s;
  double t = 0.0;
  for (const std::string& other : {record, record + "-wal", log_beside(recording)})
    if (file_time(other, &t)) latest_s = std::max(latest_s, t);
  return latest_s;
}

SessionSource look_at_session(const std::string& recording, int64_t size, double modified_s, double now_s) {
  SessionSource out;
  out.recording = recording;
  out.stamp = session_stamp(recording);
  Pass pass;
  std::string why;
  const PassFound found = read_session_record(recording, &pass, &why);
  // A station writes the log even while the link is silent.
  const double latest_s = session_latest_change(recording, modified_s);
  if (found == PassFound::Found) {
    out.record_path = record_path_for(recording);
    out.record_state = "used";
    use_pass(pass, &out);
    std::shared_ptr<const Pass> kept = std::make_shared<Pass>(std::move(pass));
    out.pass = kept;
    out.time_of = [kept, size](int64_t offset) {
      double t = 0.0;
      if (!kept->time_at(offset, &t)) t = recording_time(kept->runs.empty() ? 0.0 : kept->runs.front().started, offset);
      return t;
    };
    const bool open_run = !kept->runs.empty() && kept->runs.back().ended < 0;
    out.live = open_run && now_s - latest_s < LIVE_QUIET_S;
    return out;
  }
  if (found == PassFound::Refused) {
    out.record_path = record_path_for(recording);
    out.record_state = why;
  }
  read_log(recording, &out);
  double start_s = 0.0;
  bool from_log = false;
  if (recording_start(recording, static_cast<std::time_t>(modified_s + CLOCK_SLACK_S), &start_s, &from_log)) {
    out.times = "name";
  } else {
    // Counted back from its last change at the link's rate.
    out.times = "file";
    start_s = modified_s - static_cast<double>(size) / RECORDING_BYTES_PER_S;
  }
  out.time_of = [start_s](int64_t offset) { return recording_time(start_s, offset); };
  out.live = now_s - latest_s < LIVE_QUIET_S;
  return out;
}

}  // namespace rt
