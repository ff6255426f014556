#include "runtime/session_watch.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/com_port.h"
#include "runtime/context.h"
#include "present/json.h"
#include "session/local_time.h"
#include "runtime/model.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "session/session_summary.h"
#include "runtime/transport.h"
#include "session/uplink.h"

namespace rt {

using watch_detail::NOT_WATCHED;
using watch_detail::SKIPPED;
using watch_detail::watched_by_id;

namespace {

using Clock = std::chrono::steady_clock;

struct Watch {
  std::mutex mu;
  Clock::time_point origin = Clock::now();
  std::chrono::system_clock::time_point started = std::chrono::system_clock::now();
  bool begun = false;
  bool panel_loaded = false;
  SessionInfo info;
  std::unique_ptr<LinkHealth> health;
  LinkState logged = LinkState::Waiting;
  std::string port_lost_reason;
  bool at_end_of_input = false;  // the last status was the end of input
  bool input_moved = false;      // playback: the position jumped since the last look
  bool skipped_moved = false;    // playback: so did the skipped count, with the frame shown
  double moved_at_s = 0.0;       // when it last did
  HousekeepingStats hk;
  UplinkDecoder uplink;
  long long acks = 0;
  long long commands = 0;
  std::vector<SessionSummary::Sent> commands_listed;
  std::string recording;
  std::vector<std::string> earlier_devices;  // live: before each Connect to...
  std::vector<std::string> opened_sources;   // playback: each Open recording, in order
  long long bytes_drained = 0;
  uint64_t drain_from = 0;  // the byte count when a run start began its drain
  long long bytes_recorded = 0;
  long long bytes_missing = 0;
  long long recording_losses = 0;
  FILE* summary_file = nullptr;
  std::string summary_failure;
  std::vector<SummaryPart> parts;
  std::vector<std::pair<std::string, std::string>> notes;  // local time, text

  std::thread watcher;
  std::condition_variable wake;
  bool stop = false;

  std::function<double()> test_clock;

  AlarmList alarms{alarm_time_text};
  std::shared_ptr<const std::vector<Alarm>> recorded_alarms;  // playback: the pass's own list
  std::function<bool(double*, bool*)> playback_clock;
  bool estimated_clock = false;  // the alarm list's times are estimated
  uint64_t recorded_changes = 0;
  std::vector<LogCoalescer::Line> alarm_lines;  // to log once the lock is released
  std::vector<std::pair<Alarm, AlarmChange>> alarm_rows;  // to tell the observers then

  // Under the lock: a time of the session's clock as local wall-clock time.
  static std::string alarm_time_text(double t_s);
};

Watch& w() {
  static Watch watch;
  return watch;
}

std::string Watch::alarm_time_text(double t_s) {
  // From the session's start as a double plus t_s, as the record keeps it.
  return unix_time_text(std::chrono::duration<double>(w().started.time_since_epoch()).count() + t_s) +
         (w().estimated_clock ? " (estimated)" : "");
}

double now_s(const Watch& watch) {
  if (watch.test_clock) return watch.test_clock();
  return std::chrono::duration<double>(Clock::now() - watch.origin).count();
}

// The session's time on the wall clock, as the session record stamps each
// frame the moment it was read: a value out of limits raises its alarm on
// the same clock, after its frame (a steady clock drifts from the wall's
// over a day-long session, which could put the alarm before its frame).
double wall_s(const Watch& watch) {
  if (watch.test_clock) return watch.test_clock();
  return std::chrono::duration<double>(std::chrono::system_clock::now() - watch.started).count();
}

// Under the lock.
LinkHealth& health(Watch& watch) {
  if (!watch.health) watch.health = std::make_unique<LinkHealth>(transport_is_playback(), now_s(watch));
  return *watch.health;
}

Severity severity_of(LinkState state) {
  switch (state) {
    case LinkState::Degraded: return Severity::Warning;
    case LinkState::NoFrames:
    case LinkState::Silent:
    case LinkState::PortLost: return Severity::Error;
    default: return Severity::Info;
  }
}

// ----- Alarms (under the lock; the lines are logged once it is released) -----

std::string alarm_detail(const Alarm& a) {
  return a.has_value ? "worst " + a.worst_value + ", " + a.worst_limit : "longest " + duration_text(a.longest_s);
}

void alarm_update(Watch& watch, const AlarmCause& cause, double t) {
  // The session record keeps every change of a row: a copy for it, only
  // when something observes the session.
  bool observed = false;
  for (const SessionObserver* o : session_observers()) observed = observed || o->wants_alarm_rows();
  const uint64_t version = watch.alarms.version();
  Alarm copy;
  const AlarmChange change = watch.alarms.update(cause, t, observed ? &copy : nullptr);
  if (observed && watch.alarms.version() != version) watch.alarm_rows.emplace_back(copy, change);
  if (change != AlarmChange::Raised && change != AlarmChange::Escalated) return;
  // Only a raise is logged: the row is looked up then, not copied at every value.
  const Alarm* found = nullptr;
  for (const Alarm& a : watch.alarms.alarms())
    if (a.source == cause.source && a.key == cause.key) found = &a;
  if (!found) return;
  const Alarm& row = *found;
  const Severity severity = row.severity == Severity::Error ? Severity::Error : Severity::Warning;
  const std::string detail = cause.has_value ? cause.value_text + ", " + cause.limit_text : cause.now;
  switch (change) {
    case AlarmChange::Raised:
      watch.alarm_lines.push_back({severity, "ALARM " + row.what + " (" + alarm_colour(row.severity) + ")" +
                                                 (row.occurrences > 1 ? " again after acknowledgement" : "") +
                                                 ": " + detail});
      break;
    case AlarmChange::Escalated:
      watch.alarm_lines.push_back({severity, "ALARM " + row.what + " now red: " + detail});
      break;
    default:
      break;
  }
}

AlarmCause link_cause(const char* key, const char* what, bool present, const std::string& now) {
  AlarmCause cause;
  cause.source = AlarmSource::Link;
  cause.key = key;
  cause.what = what;
  cause.severity = present ? Severity::Error : Severity::Info;
  cause.now = now;
  return cause;
}

AlarmCause recording_cause(bool failing, const std::string& detail) {
  AlarmCause cause;
  cause.source = AlarmSource::Recording;
  cause.key = "not recording";
  cause.what = "recording: NOT RECORDING";
  cause.severity = failing ? Severity::Error : Severity::Info;
  cause.now = failing ? "NOT RECORDING: " + detail : detail;
  return cause;
}

bool live_alarms() { return !transport_is_playback() && !transport_is_link_replay(); }

// Live reception (not a link replay): the link's states and the recording.
void feed_live_alarms(Watch& watch, const HealthSnapshot& s, double t) {
  struct LinkAlarm {
    LinkState state;
    const char* key;
    const char* what;
  };
  static constexpr LinkAlarm LINK_ALARMS[] = {
      {LinkState::NoFrames, "no frames", "link: NO FRAMES"},
      {LinkState::Silent, "link silent", "link: LINK SILENT"},
      {LinkState::PortLost, "port lost", "link: PORT LOST"},
  };
  for (const LinkAlarm& l : LINK_ALARMS) {
    const bool present = s.state == l.state;
    alarm_update(watch,
                 link_cause(l.key, l.what, present, s.words + (present && !s.reason.empty() ? " (" + s.reason + ")" : "")),
                 t);
  }
  // Not recording: a recording that could not be made, or cannot be written
  // now. Nothing before the recording is first tried.
  const RecordingState rec = transport_recording_state();
  if (rec.path.empty() && rec.failure.empty()) return;
  const bool failing = rec.path.empty() || !rec.failure.empty();
  alarm_update(watch, recording_cause(failing, failing ? (rec.failure.empty() ? "no recording file" : rec.failure)
                                                       : "recording to " + rec.path),
               t);
}

// The session's observers (runtime/hooks.h), told outside the watch's lock.
void tell(SessionEventKind kind, std::string text, long long bytes = -1) {
  if (session_observers().empty()) return;
  SessionEvent e;
  e.kind = kind;
  e.text = std::move(text);
  e.bytes = bytes;
  for (SessionObserver* o : session_observers()) o->session_event(e);
}

void flush_alarm_lines() {
  std::vector<LogCoalescer::Line> lines;
  std::vector<std::pair<Alarm, AlarmChange>> rows;
  {
    std::lock_guard lock(w().mu);
    lines.swap(w().alarm_lines);
    rows.swap(w().alarm_rows);
  }
  // The log first: the record finds each raise's entry before its row.
  for (const auto& line : lines) log_event(line.severity, line.text);
  for (const auto& [row, change] : rows)
    for (SessionObserver* o : session_observers()) o->alarm_changed(row, change, false);
}

// Under the lock: brings the health up to now (the byte count, the pause and
// the speed) and returns it. A change of state goes to *line.
HealthSnapshot evaluate(Watch& watch, LogCoalescer::Line* line, bool* changed) {
  LinkHealth& h = health(watch);
  const double t = now_s(watch);
  if (h.playback()) {
    const auto at = static_cast<uint64_t>(transport_position().bytes);
    if (watch.input_moved) h.on_input_moved(at, watch.moved_at_s);  // the jump is no bytes read
    watch.input_moved = false;
    h.on_bytes(at, t);
    h.set_paused(transport_paused(), t);
    h.set_speed(transport_speed());
  } else {
    h.on_bytes(com_bytes_read(), t);
  }
  HealthSnapshot s = h.snapshot(t);
  if (s.state == LinkState::PortLost && !watch.port_lost_reason.empty()) s.reason = watch.port_lost_reason;
  *changed = s.state != watch.logged;
  if (*changed) {
    watch.logged = s.state;
    line->severity = severity_of(s.state);
    line->text = "link: " + s.words + (s.reason.empty() ? "" : " (" + s.reason + ")");
  }
  if (live_alarms()) feed_live_alarms(watch, s, t);
  return s;
}

// The notes in the summary: one line each, and a JSON list.
SummaryPart notes_part(const std::vector<std::pair<std::string, std::string>>& notes) {
  SummaryPart part;
  part.key = "notes";
  part.lines.push_back("  notes: " + std::to_string(notes.size()));
  part.json = "[";
  for (size_t i = 0; i < notes.size(); ++i) {
    part.lines.push_back("    " + notes[i].first + " " + notes[i].second);
    part.json += (i ? "," : "") + std::string("{\"time\":") + json_string(notes[i].first) +
                 ",\"text\":" + json_string(notes[i].second) + "}";
  }
  part.json += "]";
  return part;
}

void evaluate_and_log() {
  Watch& watch = w();
  LogCoalescer::Line line{Severity::Info, ""};
  bool changed = false;
  {
    std::lock_guard lock(watch.mu);
    // Before the panel shows (a start-up failure waiting in its dialog)
    // there is no link to judge.
    if (!watch.panel_loaded) return;
    evaluate(watch, &line, &changed);
  }
  if (changed) {
    log_event(line.severity, line.text);
    tell(SessionEventKind::LinkState, line.text.substr(6));  // without "link: "
  }
  flush_alarm_lines();
}

void watcher_loop() {
  Watch& watch = w();
  for (;;) {
    {
      std::unique_lock lock(watch.mu);
      watch.wake.wait_for(lock, std::chrono::milliseconds(WATCH_EVERY_MS), [&] { return watch.stop; });
      if (watch.stop) return;
    }
    evaluate_and_log();
    log_tick();
  }
}

// The log file could not be opened: said once, the run goes on.
void log_file_refused(const std::string& error) {
  say_error("vst_gse: " + error + "; the run goes on without a log file");
  note_exit_status(EXIT_OUTPUT_FAILED);
}

// The operator's controls in words.
struct ControlWords {
  const char* name;
  const char* words;
};
constexpr ControlWords CONTROL_WORDS[] = {
    {"PANEL_QUIT", "Quit"},        {"PANEL_XMIN", "x min"},          {"PANEL_XMAX", "x max"},
    {"PANEL_YMIN", "y min"},       {"PANEL_YMAX", "y max"},          {"PANEL_COUNT", "Count"},
    {"PANEL_CLEAR", "Clear spectra"}, {"PANEL_ACCUM", "Accumulate"}, {"PANEL_XLOG", "x log axis"},
    {"PANEL_YLOG", "y log axis"},  {"PANEL_CMD", "Command switch"},
};

std::string describe_event(const PanelModel& model, int ctrl, EventSource source, int line) {
  const ControlInfo* c = model.find(ctrl);
  const std::string name = c ? c->name : "control " + std::to_string(ctrl);
  std::string by;
  switch (source) {
    case EventSource::Operator: by = "operator"; break;
    case EventSource::Script: by = "event script line " + std::to_string(line); break;
    case EventSource::Signal: by = "signal"; break;
    case EventSource::EndOfInput: by = "end of input"; break;
  }
  if (name == "PANEL_QUIT") {
    switch (source) {
      case EventSource::Operator: return "quit: the Quit button or the window closed";
      case EventSource::Signal: return "quit: a signal (Ctrl+C, SIGTERM or SIGHUP)";
      case EventSource::EndOfInput: return "quit: the input has ended (headless playback)";
      case EventSource::Script: return "quit: " + by;
    }
  }
  const char* words = nullptr;
  for (const ControlWords& cw : CONTROL_WORDS)
    if (name == cw.name) words = cw.words;
  if (!words) return by + ": event from " + name + ": the run ends and a new one starts";
  std::string text = by + ": " + words;
  int i = 0;
  float f = 0.0f;
  switch (c->kind) {
    case Kind::Switch:
      if (model.get_int(ctrl, &i)) text += i != 0 ? " on" : " off";
      break;
    case Kind::IntInput:
      if (model.get_int(ctrl, &i)) text += " = " + std::to_string(i);
      break;
    case Kind::FloatInput:
      if (model.get_float(ctrl, &f)) {
        char value[32];
        std::snprintf(value, sizeof value, "%g", static_cast<double>(f));
        text += " = " + std::string(value);
      }
      break;
    default:
      break;
  }
  return text + " (" + name + ")";
}

}  // namespace

// ----- Start and end -----------------------------------------------------------

std::string log_beside(const std::string& recording) {
  const size_t slash = recording.find_last_of("/\\");
  const size_t dot = recording.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return recording + ".log";
  return recording.substr(0, dot) + ".log";
}

void session_begin(const SessionInfo& info) {
  Watch& watch = w();
  {
    std::lock_guard lock(watch.mu);
    watch.info = info;
    watch.begun = true;
    watch.origin = Clock::now();
    watch.alarms.settle();  // any times so far, on the clock they had
    watch.started = std::chrono::system_clock::now();
    watch.health = std::make_unique<LinkHealth>(info.playback, 0.0);
    if (info.playback) watch.health->set_speed(info.speed);
    // The base of the byte counts: nothing has been read yet.
    watch.health->on_bytes(info.playback ? static_cast<uint64_t>(transport_position().bytes) : com_bytes_read(), 0.0);
  }
  std::string start = "start-up: vst_gse " + info.version + ", ";
  if (info.remote_view) {
    start += "remote view of " + info.source + " (frames shown as they come)";
  } else if (info.playback) {
    char speed[32];
    std::snprintf(speed, sizeof speed, "%g", info.speed);
    start += "playback of " + info.source + " at speed " + (info.speed > 0.0 ? std::string(speed) + "x" : "0 (no waits)");
  } else {
    start += "live on " + info.source + " (COM1)";
  }
  log_info(start + (info.headless ? ", headless" : ", window"));
  if (!info.log_path.empty()) {
    std::string error;
    if (!log_open_file(info.log_path, &error)) log_file_refused(error);
  }
  if (!info.summary_path.empty()) {
    FILE* f = std::fopen(info.summary_path.c_str(), "wb");
    const std::string reason = f ? "" : std::strerror(errno);
    if (!f) {
      const std::string error = "cannot write summary file " + info.summary_path + ": " + reason;
      say_error("vst_gse: " + error + "; the summary goes to standard error only");
      note_exit_status(EXIT_OUTPUT_FAILED);
      log_error(error);
    }
    std::lock_guard lock(watch.mu);
    watch.summary_file = f;
    if (!f) watch.summary_failure = "cannot write " + info.summary_path + ": " + reason;
  }
  std::lock_guard lock(watch.mu);
  watch.stop = false;
  watch.watcher = std::thread(watcher_loop);
}

void session_end(int entry_result) {
  Watch& watch = w();
  {
    std::lock_guard lock(watch.mu);
    watch.stop = true;
  }
  watch.wake.notify_all();
  if (watch.watcher.joinable()) watch.watcher.join();

  SessionSummary s;
  FILE* summary_file = nullptr;
  bool panel_loaded = false;
  std::vector<UplinkMessage> leftover;
  {
    std::lock_guard lock(watch.mu);
    LogCoalescer::Line ignored;
    bool changed = false;
    s.health = evaluate(watch, &ignored, &changed);
    leftover = watch.uplink.flush();
    s.version = watch.info.version;
    s.playback = watch.health->playback();
    s.source = watch.info.source;
    s.started = local_time_text(watch.started);
    s.ended = local_time_text(std::chrono::system_clock::now());
    s.duration_s = now_s(watch);
    s.recording = watch.recording;
    if (!s.playback && !transport_is_link_replay()) {
      s.source = com_path();
      s.earlier_devices = watch.earlier_devices;
    } else if (!watch.opened_sources.empty()) {
      s.earlier_sources.push_back(watch.info.source);
      s.earlier_sources.insert(s.earlier_sources.end(), watch.opened_sources.begin(), watch.opened_sources.end() - 1);
      s.source = watch.opened_sources.back();
    }
    s.bytes_drained = watch.bytes_drained;
    s.bytes_recorded = watch.bytes_recorded;
    s.bytes_missing = watch.bytes_missing;
    s.recording_losses = watch.recording_losses;
    s.acks_sent = watch.acks;
    s.commands_sent = watch.commands;
    s.commands = watch.commands_listed;
    s.summary_failure = watch.summary_failure;
    s.housekeeping = watch.hk.slots();
    s.alarms = watch.recorded_alarms ? *watch.recorded_alarms : watch.alarms.alarms();
    s.parts = watch.parts;
    if (!watch.notes.empty()) s.parts.push_back(notes_part(watch.notes));
    summary_file = watch.summary_file;
    watch.summary_file = nullptr;
    panel_loaded = watch.panel_loaded;
  }
  flush_alarm_lines();
  for (const UplinkMessage& m : leftover) log_warning("sent incomplete: " + describe_uplink(m));
  const RecordingState rec = transport_recording_state();
  if (s.recording.empty()) s.recording_failure = rec.failure;
  s.bytes_missing = std::max<long long>(s.bytes_missing, rec.missing);
  if (entry_result != 0) log_error("start-up failed (exit status " + std::to_string(entry_result) + ")");
  s.log_file = log_file_path();
  s.log_failure = log_file_failure();

  if (summary_file) {
    const std::string json = summary_json(s);
    errno = 0;
    const bool written = std::fputs(json.c_str(), summary_file) >= 0 && std::fflush(summary_file) == 0;
    const int err = errno;
    const bool closed = std::fclose(summary_file) == 0;
    if (!written || !closed) {
      const std::string path = w().info.summary_path;
      s.summary_failure = "cannot write " + path + ": " + std::strerror(err != 0 ? err : EIO);
      say_error("vst_gse: cannot write summary file " + path + ": " + std::strerror(err != 0 ? err : EIO));
      note_exit_status(EXIT_OUTPUT_FAILED);
    }
  }
  if (panel_loaded) {
    const std::vector<std::string> lines = summary_lines(s);
    for (const std::string& line : lines) log_info(line);
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + ("vst_gse " + line);
    say_error(text);
  }
  log_close();
  for (SessionObserver* o : session_observers()) o->session_ended();
}

void session_add_summary_part(SummaryPart part) {
  std::lock_guard lock(w().mu);
  auto& parts = w().parts;
  for (SummaryPart& p : parts)
    if (p.key == part.key) {
      p = std::move(part);
      return;
    }
  parts.push_back(std::move(part));
}

// ----- Observations -----------------------------------------------------------------

void watch_panel(const PanelModel& model) {
  watched_by_id.clear();
  std::lock_guard lock(w().mu);
  for (const ControlInfo& c : model.layout().controls) {
    int what = NOT_WATCHED;
    if (c.name == "PANEL_SKIPPED") what = SKIPPED;
    else if (const int index = housekeeping_index(c.name); index >= 0) what = index;
    if (what == NOT_WATCHED) continue;
    if (c.id >= static_cast<int>(watched_by_id.size())) watched_by_id.resize(static_cast<size_t>(c.id) + 1, NOT_WATCHED);
    watched_by_id[static_cast<size_t>(c.id)] = what;
    if (what >= 0) w().hk.set_shown(what, c.format);
  }
  // The link is judged from now: the time a start-up failure waited in its
  // dialog says nothing about it.
  Watch& watch = w();
  if (watch.begun && !watch.panel_loaded) {
    const bool playback = watch.info.playback;
    watch.health = std::make_unique<LinkHealth>(playback, now_s(watch));
    watch.health->set_speed(transport_speed());
    watch.health->on_bytes(playback ? static_cast<uint64_t>(transport_position().bytes) : com_bytes_read(),
                           now_s(watch));
  }
  watch.panel_loaded = true;
}

namespace watch_detail {

// What SetCtrlVal reports, by control identifier: read without a lock.
std::vector<int> watched_by_id;

void watch_watched_value(int what, double value) {
  Watch& watch = w();
  std::lock_guard lock(watch.mu);
  if (what == SKIPPED) {
    const long long skipped = static_cast<long long>(value);
    LinkHealth& h = health(watch);
    if (std::exchange(watch.skipped_moved, false)) h.rebase_skipped(skipped);
    else h.on_skipped(skipped, h.skipped_grows(skipped) ? now_s(watch) : 0.0);  // a time only counts then
  } else {
    watch.hk.add(what, value);
  }
}

}  // namespace watch_detail

void watch_status(std::string_view text) {
  Watch& watch = w();
  Failure kind = Failure::Other;
  const StatusKind status = classify_status(text, &kind);
  bool first_end = false;
  long long drained = 0;  // by this run start
  {
    std::lock_guard lock(watch.mu);
    health(watch).on_status(text, now_s(watch));
    // A run start drains what waits on the port: read, but never recorded.
    if (status == StatusKind::RunStart) watch.drain_from = com_bytes_read();
    if (status == StatusKind::Ready && com_bytes_read() >= watch.drain_from) {
      drained = static_cast<long long>(com_bytes_read() - watch.drain_from);
      watch.bytes_drained += drained;
    }
    first_end = status == StatusKind::EndOfInput && !watch.at_end_of_input;
    watch.at_end_of_input = status == StatusKind::EndOfInput;
  }
  switch (status) {
    case StatusKind::Failure:
    case StatusKind::Unknown:
      // Storms are coalesced by the log.
      log_warning(text);
      break;
    case StatusKind::EndOfInput:
      if (first_end) log_info(text);  // shown again at every pass after it
      break;
    case StatusKind::Ready:
      log_info("run start: port drained, " + std::string(text) + " (" + std::to_string(drained) +
               " bytes that waited in the port thrown away, not recorded)");
      tell(SessionEventKind::Drained, "run start: port drained", drained);
      break;
    default:
      break;
  }
}

void watch_event(const PanelModel& model, int ctrl, EventSource source, int script_line) {
  log_info(describe_event(model, ctrl, source, script_line));
}

std::string clean_note(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += u < 0x20 || u == 0x7F ? ' ' : c;
  }
  const size_t first = out.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  out = out.substr(first, out.find_last_not_of(' ') - first + 1);
  if (out.size() > NOTE_MAX_CHARS) {
    size_t cut = NOTE_MAX_CHARS;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    out.resize(cut);
  }
  return out;
}

std::string watch_note(std::string_view text, EventSource source, int script_line) {
  const std::string kept = clean_note(text);
  if (kept.empty()) return kept;
  const std::string by = source == EventSource::Script ? " (event script line " + std::to_string(script_line) + ")"
                                                       : " by the operator";
  {
    std::lock_guard lock(w().mu);
    w().notes.emplace_back(local_time_text(std::chrono::system_clock::now(), true), kept);
  }
  log_info("note" + by + ": " + kept);
  tell(SessionEventKind::Note, kept);
  return kept;
}

void watch_input_moved() {
  std::lock_guard lock(w().mu);
  w().input_moved = true;
  w().skipped_moved = true;
  w().moved_at_s = now_s(w());
}

void watch_port_opened() {
  Watch& watch = w();
  std::lock_guard lock(watch.mu);
  if (!watch.begun || watch.panel_loaded || watch.info.playback) return;
  watch.health = std::make_unique<LinkHealth>(false, now_s(watch));
  watch.health->on_bytes(com_bytes_read(), now_s(watch));
}

void watch_port_lost(const std::string& path, const std::string& reason) {
  LogCoalescer::Line line{Severity::Info, ""};
  bool changed = false;
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    health(watch).on_port_lost(now_s(watch));
    watch.port_lost_reason = reason.empty() ? path : reason;
    // Judged now, not at the watcher's next look: a port back before it is
    // still an alarm, and the state it ended is seen ending now.
    evaluate(watch, &line, &changed);
  }
  log_error("port lost: " + path + (reason.empty() ? "" : " (" + reason + ")"));
  tell(SessionEventKind::PortLost, path + (reason.empty() ? "" : " (" + reason + ")"));
  if (changed) {
    log_event(line.severity, line.text);
    tell(SessionEventKind::LinkState, line.text.substr(6));
  }
  flush_alarm_lines();
}

void watch_port_returned(const std::string& path, const std::string& note) {
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    health(watch).on_port_returned(now_s(watch));
    watch.port_lost_reason.clear();
  }
  log_info("port returned: " + path);
  tell(SessionEventKind::PortReturned, path);
  if (!note.empty()) log_warning("port " + path + ": " + note);
}

void watch_port_foreign(const std::string& path, const std::string& was, const std::string& now) {
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    watch.port_lost_reason = "another device at " + path;
  }
  log_warning("another device at " + path + ": " + now + ", not the one that was lost (" + was +
              "); it is not read: choose it with File > Connect to... to receive from it");
}

void watch_port_switched(const std::string& old_path, const std::string& new_path,
                         const std::string& error) {
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    health(watch).on_port_switched(error.empty(), now_s(watch));
    watch.port_lost_reason = error;
    if (old_path != new_path) watch.earlier_devices.push_back(old_path);
  }
  log_info("Connect to " + new_path + " (was " + old_path + ")");
  tell(SessionEventKind::PortSwitched, new_path + " (was " + old_path + ")");
  if (!error.empty()) {
    log_error("port lost: " + new_path + " (" + error + ")");
    tell(SessionEventKind::PortLost, new_path + " (" + error + ")");
  }
}

void watch_source_opened(const std::string& path) {
  std::lock_guard lock(w().mu);
  w().opened_sources.push_back(path);
}

void watch_sent(const unsigned char* bytes, int n, bool ok) {
  if (n <= 0) return;
  std::vector<UplinkMessage> messages;
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    messages = watch.uplink.feed(bytes, static_cast<size_t>(n));
    for (const UplinkMessage& m : messages) {
      if (!ok) continue;
      if (m.kind == UplinkKind::Ack) {
        ++watch.acks;
      } else if (m.kind != UplinkKind::Other) {
        ++watch.commands;
        // Listed in the summary with their time (a session sends a few).
        constexpr size_t MAX_LISTED = 1000;
        if (watch.commands_listed.size() < MAX_LISTED)
          watch.commands_listed.push_back({local_time_text(std::chrono::system_clock::now(), true), describe_uplink(m)});
      }
    }
  }
  // Acknowledgements are counted for the summary, not logged one by one.
  for (const UplinkMessage& m : messages) {
    if (m.kind == UplinkKind::Ack && ok) continue;
    if (ok) log_info("sent: " + describe_uplink(m));
    else log_warning("not sent (the port did not take it): " + describe_uplink(m));
    if (ok && m.kind != UplinkKind::Ack && m.kind != UplinkKind::Other)
      tell(SessionEventKind::Command, describe_uplink(m), static_cast<long long>(m.bytes.size()));
  }
}

void watch_recording_started(const std::string& path) {
  Watch& watch = w();
  bool open_log = false;
  {
    std::lock_guard lock(watch.mu);
    watch.recording = path;
    open_log = watch.begun && watch.info.log_path.empty();
  }
  log_info("recording to " + path);
  for (SessionObserver* o : session_observers()) o->recording_started(path);
  if (open_log && log_file_path().empty()) {
    std::string error;
    if (!log_open_file(log_beside(path), &error)) log_file_refused(error);
  }
}

void watch_recording_loss() {
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    ++watch.recording_losses;
    // Raised now, however soon writing resumes; the watcher gives the reason.
    if (live_alarms()) alarm_update(watch, recording_cause(true, "a write to the recording failed"), now_s(watch));
  }
  tell(SessionEventKind::RecordingLoss, "a write to the recording failed");
  flush_alarm_lines();
}

void watch_recording_closed(const std::string& path, long long written, long long missing) {
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    watch.bytes_recorded += written;
    watch.bytes_missing += missing;
    if (missing > 0 && watch.recording_losses == 0) watch.recording_losses = 1;
  }
  std::string text = "recording " + path + " closed: " + std::to_string(written) + " bytes written";
  if (missing > 0) log_error(text + ", " + std::to_string(missing) + " received bytes missing");
  else log_info(text);
}

double session_time_unix(double t_s) {
  std::chrono::system_clock::time_point started;
  {
    std::lock_guard lock(w().mu);
    started = w().started;
  }
  return std::chrono::duration<double>(started.time_since_epoch()).count() + t_s;
}

HealthSnapshot watch_health() {
  LogCoalescer::Line line{Severity::Info, ""};
  bool changed = false;
  HealthSnapshot s;
  {
    std::lock_guard lock(w().mu);
    // The window is made before the panel counts as loaded: until then
    // there is no link to judge, nor a state change to log or alarm on.
    if (w().begun && !w().panel_loaded) return health(w()).snapshot(now_s(w()));
    s = evaluate(w(), &line, &changed);
  }
  if (changed) log_event(line.severity, line.text);
  flush_alarm_lines();
  return s;
}

void watch_limit(const std::string& label, LimitLevel level, const LimitExcursion* excursion) {
  // Filled afresh each time, its texts' storage kept (one a thread): a value
  // out of limits comes here at every frame that carries it.
  thread_local AlarmCause cause;
  cause.source = AlarmSource::Limit;
  cause.key.assign(label);
  cause.what.assign(label).append(" out of limits");
  cause.severity = level == LimitLevel::Alarm     ? Severity::Error
                   : level == LimitLevel::Caution ? Severity::Warning
                                                  : Severity::Info;
  cause.now.assign(limit_level_name(level));
  cause.has_value = excursion != nullptr;
  cause.value = cause.excess = 0.0;
  cause.value_text.clear();
  cause.limit_text.clear();
  if (excursion) {
    cause.now.append(": ").append(excursion->value_text);
    cause.value = excursion->shown;
    cause.excess = excursion->excess;
    cause.value_text.assign(excursion->value_text);
    cause.limit_text.assign(excursion->limit_text);
  }
  // Playback: the pass's time at the frame shown, on the session's clock.
  double pass_t = 0.0;
  bool estimated = false;
  const bool on_pass = transport_is_playback() && w().playback_clock && w().playback_clock(&pass_t, &estimated);
  bool raised = false;
  {
    Watch& watch = w();
    std::lock_guard lock(watch.mu);
    if (watch.info.remote_view) return;  // the station's own list is shown
    if (watch.estimated_clock != (on_pass && estimated)) {
      watch.alarms.settle();  // the times so far, as they were then
      watch.estimated_clock = on_pass && estimated;
    }
    const double started = std::chrono::duration<double>(watch.started.time_since_epoch()).count();
    alarm_update(watch, cause, on_pass && !watch.test_clock ? pass_t - started : wall_s(watch));
    raised = !watch.alarm_lines.empty() || !watch.alarm_rows.empty();
  }
  if (raised) flush_alarm_lines();
}

void watch_set_playback_clock(std::function<bool(double* t_s, bool* estimated)> clock) {
  std::lock_guard lock(w().mu);
  w().playback_clock = std::move(clock);
}

AlarmsSnapshot watch_alarms() {
  std::lock_guard lock(w().mu);
  AlarmsSnapshot s;
  s.version = w().alarms.version() + w().recorded_changes;
  s.origin_ms = std::chrono::duration_cast<std::chrono::milliseconds>(w().started.time_since_epoch()).count();
  if (w().recorded_alarms) {
    s.rows = *w().recorded_alarms;
    s.recorded = true;
  } else {
    s.rows = w().alarms.alarms();
    s.status = w().alarms.status();
  }
  return s;
}

uint64_t watch_alarms_version() {
  std::lock_guard lock(w().mu);
  return w().alarms.version() + w().recorded_changes;
}

void watch_show_recorded_alarms(std::shared_ptr<const std::vector<Alarm>> rows) {
  std::lock_guard lock(w().mu);
  if (!rows && !w().recorded_alarms) return;
  w().recorded_alarms = std::move(rows);
  ++w().recorded_changes;
}

namespace {

int log_acknowledged(const std::vector<Alarm>& done) {
  for (const Alarm& a : done)
    for (SessionObserver* o : session_observers()) o->alarm_changed(a, AlarmChange::None, true);
  for (const Alarm& a : done)
    log_info("alarm acknowledged by the operator: " + a.what + " (" + alarm_colour(a.severity) + ", " +
             std::to_string(a.occurrences) + (a.occurrences == 1 ? " time" : " times") + ", first " +
             a.first_time + ", last " + a.last_time + ", " + alarm_detail(a) +
             ")");
  return static_cast<int>(done.size());
}

}  // namespace

int watch_acknowledge(uint64_t id) {
  std::vector<Alarm> done;
  {
    std::lock_guard lock(w().mu);
    if (w().recorded_alarms) return 0;  // the pass's list, as it was
    done = w().alarms.acknowledge(id, now_s(w()));
  }
  return log_acknowledged(done);
}

int watch_acknowledge_all() {
  std::vector<Alarm> done;
  {
    std::lock_guard lock(w().mu);
    if (w().recorded_alarms) return 0;
    done = w().alarms.acknowledge_all(now_s(w()));
  }
  return log_acknowledged(done);
}

void reset_session_for_tests() {
  Watch& watch = w();
  std::lock_guard lock(watch.mu);
  if (watch.summary_file) std::fclose(watch.summary_file);
  watch.origin = Clock::now();
  watch.started = std::chrono::system_clock::now();
  watch.begun = false;
  watch.panel_loaded = false;
  watch.info = SessionInfo{};
  watch.health.reset();
  watch.logged = LinkState::Waiting;
  watch.port_lost_reason.clear();
  watch.at_end_of_input = false;
  watch.input_moved = false;
  watch.skipped_moved = false;
  watch.hk = HousekeepingStats{};
  watch.uplink = UplinkDecoder{};
  watch.acks = watch.commands = 0;
  watch.commands_listed.clear();
  watch.recording.clear();
  watch.earlier_devices.clear();
  watch.opened_sources.clear();
  watch.bytes_drained = 0;
  watch.drain_from = 0;
  watch.bytes_recorded = watch.bytes_missing = watch.recording_losses = 0;
  watch.summary_file = nullptr;
  watch.summary_failure.clear();
  watch.parts.clear();
  watch.notes.clear();
  watch.stop = false;
  watch.test_clock = nullptr;
  watch.alarms = AlarmList(Watch::alarm_time_text);
  watch.alarm_lines.clear();
  watch.alarm_rows.clear();
  watch.recorded_alarms.reset();
  watched_by_id.clear();
}

void set_session_clock_for_tests(std::function<double()> now_s) {
  std::lock_guard lock(w().mu);
  w().test_clock = std::move(now_s);
}

}  // namespace rt
