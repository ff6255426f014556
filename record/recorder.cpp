#include "record/recorder.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "link/frame.h"
#include "record/link_mirror.h"
#include "record/record_writer.h"
#include "runtime/com_port.h"
#include "runtime/hooks.h"
#include "runtime/session_watch.h"
#include "runtime/shown_frame.h"
#include "runtime/transport.h"
#include "session/outcome.h"
#include "session/session_log.h"

#if defined(_WIN32)
#include <process.h>
#define GSE_GETPID _getpid
#else
#include <unistd.h>
#define GSE_GETPID getpid
#endif

namespace rt {

namespace {

constexpr size_t EARLY_LOG_ENTRIES = 1000;  // entries kept until the record opens

double unix_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string host_name() {
#if defined(_WIN32)
  const char* name = std::getenv("COMPUTERNAME");
  return name ? name : "";
#else
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
#endif
}

const char* event_kind(SessionEventKind kind) {
  switch (kind) {
    case SessionEventKind::LinkState: return "link";
    case SessionEventKind::PortLost: return "port lost";
    case SessionEventKind::PortReturned: return "port returned";
    case SessionEventKind::PortSwitched: return "port switched";
    case SessionEventKind::Drained: return "drained";
    case SessionEventKind::Command: return "command";
    case SessionEventKind::RecordingLoss: return "recording";
    case SessionEventKind::Note: return "note";
  }
  return "?";
}

class Recorder : public FrameObserver, public SessionObserver {
 public:
  std::string version;

  void set_describer(std::function<std::string(const std::string&)> d) {
    std::lock_guard lock(mu_);
    describe_ = std::move(d);
  }

  // ----- The system's thread -----
  void recording_opened(const std::string&, int64_t start_size) override {
    start_size_ = start_size;
    next_offset_.store(start_size);
    mirror_.reset();
  }

  void recording_started(const std::string& path) override {
    if (transport_is_playback() || transport_is_link_replay()) return;
    RecordRun run;
    run.version = version;
    run.mode = "live";
    run.source = com_device();
    run.host = host_name();
    run.pid = GSE_GETPID();
    run.first_offset = start_size_;
    run.started = unix_now();
    std::deque<LogEntry> early;
    {
      std::lock_guard lock(mu_);
      if (describe_) run.device = describe_(run.source);
      early.swap(early_);
      writing_ = true;
      first_offsets_.clear();  // the run's alarm list numbers its rows from 1
    }
    const std::string record = record_path_for(path);
    auto writer = std::make_shared<RecordWriter>(record, path, run, [this, record](const std::string& why) {
      failed(record, why);
    });
    for (const LogEntry& e : early) writer->add(log_row(e));
    std::lock_guard lock(mu_);
    writer_ = std::move(writer);
    has_writer_.store(true, std::memory_order_relaxed);
    state_ = {record, ""};
  }

  // ----- The remote viewer's --record -----
  // A run of mode "remote view": the frames with the station's times, the
  // viewer's own log and alarms at its own times.
  void remote_opened(const std::string& path, const std::string& broker, int64_t size) {
    RecordRun run;
    run.version = version;
    run.mode = "remote view";
    run.source = broker;
    run.host = host_name();
    run.pid = GSE_GETPID();
    run.first_offset = size;
    run.started = unix_now();
    next_offset_.store(size);
    {
      std::lock_guard lock(mu_);
      if (writer_ || writing_) return;
      writing_ = true;
    }
    remote_.store(true);
    const std::string record = record_path_for(path);
    auto writer = std::make_shared<RecordWriter>(record, path, run, [this, record](const std::string& why) {
      failed(record, why);
    });
    writer->recorded_to(size);
    std::lock_guard lock(mu_);
    writer_ = std::move(writer);
    has_writer_.store(true, std::memory_order_relaxed);
    state_ = {record, ""};
  }

  void remote_frame(double station_t_s, int64_t offset, int64_t skipped, const uint8_t* frame) {
    const auto w = writer_now();
    if (!w) return;
    FrameRow row;
    row.t = station_t_s;
    row.offset = offset;
    row.link_bytes = FRAME_LEN;
    row.skipped = skipped;
    row.counter = fcount(frame);
    row.received = unix_now();
    next_offset_.store(offset + FRAME_LEN, std::memory_order_relaxed);
    w->add(row);
    w->recorded_to(offset + FRAME_LEN);
  }

  void recorded(const uint8_t* bytes, size_t n, int64_t offset) override {
    const uint64_t found = mirror_.frames_found();
    mirror_.recorded(bytes, n, offset);
    // The frame's time is that of the read that completed it, before the
    // panel is filled and its values raise their alarms.
    if (mirror_.frames_found() != found) frame_read_t_ = unix_now();
    if (offset < 0) return;
    next_offset_.store(offset + static_cast<int64_t>(n), std::memory_order_relaxed);
    if (const auto w = writer_now()) w->recorded_to(offset + static_cast<int64_t>(n));
  }

  void link_read_failed() override { mirror_.read_failed(); }

  void good_frame(const PanelModel& model) override {
    if (remote_.load(std::memory_order_relaxed)) return;  // the viewer's frames come with the station's times
    const auto w = writer_now();
    if (!w) return;
    uint8_t frame[SHOWN_FRAME_LEN];
    int skipped = 0;
    if (!shown_frame(model, frame, &skipped)) return;
    FrameRow row;
    int link_bytes = 0;
    double read_t = frame_read_t_;
    if (!mirror_.take_frame(&row.offset, &link_bytes)) {
      row.offset = -1;
      read_t = unix_now();
    }
    row.link_bytes = link_bytes;
    row.skipped = skipped;
    row.counter = fcount(frame);
    // Never back in time, whatever the wall clock does.
    row.t = std::max(read_t, last_frame_t_);
    last_frame_t_ = row.t;
    w->add(row);
  }

  // The record is closed with the session, not with the recording: the
  // alarms' last figures, the summary and the last log lines go in too.
  void session_ended() override {
    std::shared_ptr<RecordWriter> w;
    {
      std::lock_guard lock(mu_);
      w = std::move(writer_);
      writing_ = false;
    }
    if (w) w->close();
  }

  // ----- Any thread -----
  void session_event(const SessionEvent& e) override {
    const auto w = writer_now();
    if (!w) return;
    EventRow row;
    row.t = unix_now();
    row.offset = next_offset_.load(std::memory_order_relaxed);
    row.kind = event_kind(e.kind);
    row.text = e.text;
    row.bytes = e.bytes;
    if (e.kind == SessionEventKind::PortSwitched) {
      std::lock_guard lock(mu_);
      const std::string device = e.text.substr(0, e.text.find(" (was "));
      const std::string identity = describe_ ? describe_(device) : "";
      if (!identity.empty()) row.text += "; " + identity;
    }
    w->add(std::move(row));
  }

  // Until a record is written, the watch copies no alarm row for it (a
  // playback's random values change rows at every frame).
  bool wants_alarm_rows() const override { return has_writer_.load(std::memory_order_relaxed); }

  void alarm_changed(const Alarm& a, AlarmChange change, bool acknowledged) override {
    const auto w = writer_now();
    if (!w) return;
    AlarmRow row;
    row.row = a;
    row.t = unix_now();
    row.offset = next_offset_.load(std::memory_order_relaxed);
    row.first = session_time_unix(a.first_s);
    row.last = session_time_unix(a.last_s);
    row.acknowledged_at = a.acknowledged_s >= 0.0 ? session_time_unix(a.acknowledged_s) : -1.0;
    {
      std::lock_guard lock(mu_);
      auto [it, fresh] = first_offsets_.emplace(a.id, row.offset);
      row.first_offset = it->second;
      if (acknowledged) row.change = "acknowledged";
      else if (change == AlarmChange::Raised) row.change = fresh ? "raised" : "raised again";
      else if (change == AlarmChange::Again) row.change = "again";
      else if (change == AlarmChange::Escalated) row.change = "escalated";
      else if (change == AlarmChange::Cleared) row.change = "cleared";
    }
    row.text = a.what + ": " + a.now;
    w->add(std::move(row));
  }

  void log_entry(const LogEntry& e) {
    std::shared_ptr<RecordWriter> w;
    {
      std::lock_guard lock(mu_);
      if (!writing_) {
        // Before the recording starts (the start-up entry): kept for the record.
        if (!transport_is_playback()) {
          early_.push_back(e);
          if (early_.size() > EARLY_LOG_ENTRIES) early_.pop_front();
        }
        return;
      }
      w = writer_;
    }
    if (!w) return;
    w->add(log_row(e));
    // A display's limits changed (the operator, or the limits file): an event.
    if (e.text.rfind("limits of ", 0) == 0) {
      EventRow row;
      row.t = e.t_s;
      row.offset = next_offset_.load(std::memory_order_relaxed);
      row.kind = "limits";
      row.text = e.text;
      w->add(std::move(row));
    }
  }

  RecordState state() {
    std::lock_guard lock(mu_);
    return state_;
  }

  bool flush(double timeout_s) {
    const auto w = writer_now();
    return !w || w->flush(timeout_s);
  }

 private:
  std::shared_ptr<RecordWriter> writer_now() {
    // No lock at every frame of a run that writes no record (a playback).
    if (!has_writer_.load(std::memory_order_relaxed)) return nullptr;
    std::lock_guard lock(mu_);
    return writer_;
  }

  LogRow log_row(const LogEntry& e) const {
    LogRow row;
    row.t = e.t_s;
    row.offset = next_offset_.load(std::memory_order_relaxed);
    row.severity = severity_name(e.severity);
    row.text = e.text;
    return row;
  }

  // The record's thread: said once, and the run's status says it.
  void failed(const std::string& record, const std::string& why) {
    {
      std::lock_guard lock(mu_);
      state_.failure = why;
    }
    const std::string text = "cannot write session record " + record + ": " + why;
    say("SESSION RECORD FAILED: " + text + "; the recording goes on without it");
    note_exit_status(EXIT_OUTPUT_FAILED);
    log_error(text);
  }

  std::mutex mu_;
  std::function<std::string(const std::string&)> describe_;
  std::shared_ptr<RecordWriter> writer_;
  std::atomic<bool> has_writer_{false};  // writer_ was set (it is never unset)
  bool writing_ = false;
  std::deque<LogEntry> early_;
  std::map<uint64_t, int64_t> first_offsets_;  // alarm id: the recording's size when first seen
  RecordState state_;

  // The system's thread.
  LinkMirror mirror_;
  int64_t start_size_ = 0;
  double last_frame_t_ = 0.0;
  double frame_read_t_ = 0.0;  // the read that completed the latest good frame (system's thread)
  std::atomic<int64_t> next_offset_{0};
  std::atomic<bool> remote_{false};  // a remote view's record: frames from remote_frame only
};

Recorder& recorder() {
  static Recorder r;
  return r;
}

void on_log_entry(const LogEntry& e) { recorder().log_entry(e); }

}  // namespace

void record_install(const std::string& version) {
  static bool installed = false;
  if (installed) return;
  installed = true;
  recorder().version = version;
  add_frame_observer(&recorder());
  add_session_observer(&recorder());
  log_set_listener(on_log_entry);
}

void record_set_device_describer(std::function<std::string(const std::string& device)> describe) {
  recorder().set_describer(std::move(describe));
}

void record_remote_opened(const std::string& recording, const std::string& broker, int64_t size) {
  recorder().remote_opened(recording, broker, size);
}

void record_remote_frame(double station_t_s, int64_t offset, int64_t skipped, const uint8_t* frame) {
  recorder().remote_frame(station_t_s, offset, skipped, frame);
}

RecordState record_state() { return recorder().state(); }

bool record_flush_for_tests(double timeout_s) { return recorder().flush(timeout_s); }

}  // namespace rt
