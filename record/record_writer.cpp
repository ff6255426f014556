#include "record/record_writer.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <map>

#include "record/schema_sql.h"
#include "record/sqlite.h"

namespace rt {

namespace {

double unix_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The first bytes of the recording as the disk has them now.
std::vector<uint8_t> read_head(const std::string& path) {
  std::vector<uint8_t> head(static_cast<size_t>(RECORD_HEAD_BYTES));
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return {};
  head.resize(std::fread(head.data(), 1, head.size(), fp));
  std::fclose(fp);
  return head;
}

}  // namespace

std::string record_path_for(const std::string& recording) {
  const size_t slash = recording.find_last_of("/\\");
  const size_t dot = recording.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return recording + ".session";
  return recording.substr(0, dot) + ".session";
}

std::string head_hash_text(const uint8_t* bytes, size_t n) {
  uint64_t h = 1469598103934665603ULL;
  for (size_t i = 0; i < n; ++i) {
    h ^= bytes[i];
    h *= 1099511628211ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, h);
  return text;
}

struct RecordWriter::Db {
  sql::Db db;
  sql::Statement frame, event, log, alarm, alarm_event, heartbeat, size, head;
  int64_t run = 0;
  int64_t head_bytes = 0;
};

RecordWriter::RecordWriter(std::string path, std::string recording_path, RecordRun run,
                           std::function<void(const std::string&)> on_failure)
    : RecordWriter(std::move(path), std::move(recording_path), std::move(run), std::move(on_failure), Options{}) {}

RecordWriter::RecordWriter(std::string path, std::string recording_path, RecordRun run,
                           std::function<void(const std::string&)> on_failure, Options options)
    : path_(std::move(path)),
      recording_path_(std::move(recording_path)),
      run_(std::move(run)),
      on_failure_(std::move(on_failure)),
      options_(options) {
  recorded_.store(run_.first_offset);
  thread_ = std::thread([this] { this->run(); });
}

RecordWriter::~RecordWriter() { close(); }

void RecordWriter::push(Item item) {
  bool wake = false;
  {
    std::lock_guard lock(mu_);
    if (failed_ || stop_) return;
    if (queue_.size() >= options_.max_queued) {
      // The disk does not keep up: the record stops rather than grow.
      failed_ = true;
      failure_ = "it falls behind (more than " + std::to_string(options_.max_queued) + " rows waiting for the disk)";
      wake = true;
    } else {
      queue_.push_back(std::move(item));
      ++added_;
    }
  }
  if (wake) wake_.notify_all();
}

void RecordWriter::add(FrameRow row) { push(std::move(row)); }
void RecordWriter::add(EventRow row) { push(std::move(row)); }
void RecordWriter::add(LogRow row) { push(std::move(row)); }
void RecordWriter::add(AlarmRow row) { push(std::move(row)); }

std::string RecordWriter::failure() const {
  std::lock_guard lock(mu_);
  return failure_;
}

bool RecordWriter::flush(double timeout_s) {
  std::unique_lock lock(mu_);
  const uint64_t target = added_;
  flush_wanted_ = true;
  wake_.notify_all();
  committed_.wait_for(lock, std::chrono::duration<double>(timeout_s), [&] { return done_ >= target || failed_; });
  return done_ >= target && !failed_;
}

bool RecordWriter::close() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  return !failed_;
}

void RecordWriter::fail(const std::string& reason) {
  {
    std::lock_guard lock(mu_);
    if (!failed_) failure_ = reason;  // a queue that overflowed first keeps its reason
    failed_ = true;
    queue_.clear();
    done_ = added_;
  }
  committed_.notify_all();
}

bool RecordWriter::open_db() {
  auto d = std::make_unique<Db>();
  sql::Db& db = d->db;
  auto refuse = [&](const std::string& why) {
    fail(why);
    return false;
  };
  if (!db.open(path_, true)) return refuse(db.error());
  db.exec("PRAGMA busy_timeout = 2000");
  int64_t app = 0, version = 0, tables = 0;
  if (!db.integer("PRAGMA application_id", &app) || !db.integer("PRAGMA user_version", &version) ||
      !db.integer("SELECT count(*) FROM sqlite_schema", &tables))
    return refuse("it is not an SQLite database (" + db.error() + ")");
  if (tables > 0 && app != RECORD_APPLICATION_ID) return refuse("it is not a vst_gse session record");
  if (version > RECORD_SCHEMA_VERSION)
    return refuse("it was written by a newer vst_gse (record version " + std::to_string(version) +
                  "; this one writes version " + std::to_string(RECORD_SCHEMA_VERSION) + ")");
  // WAL: readers read while the station writes, and a commit is one append.
  if (!db.exec("PRAGMA journal_mode = WAL") || !db.exec("PRAGMA synchronous = NORMAL"))
    return refuse(db.error());
  if (!db.exec("BEGIN IMMEDIATE")) return refuse(db.error());
  auto abandon = [&](const std::string& why) {
    db.exec("ROLLBACK");
    return refuse(why);
  };
  if (tables == 0) {
    if (!db.exec(RECORD_SCHEMA_SQL) ||
        !db.exec("PRAGMA application_id = " + std::to_string(RECORD_APPLICATION_ID)) ||
        !db.exec("PRAGMA user_version = " + std::to_string(RECORD_SCHEMA_VERSION)))
      return abandon(db.error());
  } else if (version < 2) {
    // A version 1 record appended to: the column version 2 added.
    if (!db.exec("ALTER TABLE frames ADD COLUMN received REAL") ||
        !db.exec("PRAGMA user_version = " + std::to_string(RECORD_SCHEMA_VERSION)))
      return abandon(db.error());
  }
  // The record of another recording is left alone.
  const std::string name = recording_path_.substr(recording_path_.find_last_of("/\\") + 1);
  sql::Statement st;
  if (!st.prepare(db, "SELECT name, head_bytes, head_hash FROM recording")) return abandon(db.error());
  if (st.step()) {
    const std::string had = st.text(0);
    const int64_t head_bytes = st.integer(1);
    const std::string hash = st.text(2);
    const std::vector<uint8_t> head = read_head(recording_path_);
    if (had != name) return abandon("it is the record of another recording (" + had + ")");
    if (static_cast<int64_t>(head.size()) < head_bytes ||
        head_hash_text(head.data(), static_cast<size_t>(head_bytes)) != hash)
      return abandon("it is the record of another recording (its first bytes differ from " + name + "'s)");
    d->head_bytes = head_bytes;
  } else if (st.failed()) {
    return abandon(db.error());
  } else {
    sql::Statement add;
    if (!add.prepare(db, "INSERT INTO recording (name, head_bytes, head_hash, size) VALUES (?, 0, ?, ?)") ||
        !add.bind(1, name).bind(2, head_hash_text(nullptr, 0)).bind(3, run_.first_offset).run())
      return abandon(db.error());
  }
  // Two stations on one recording: the second is refused.
  const double now = unix_now();
  sql::Statement open;
  if (!open.prepare(db, "SELECT host, pid, heartbeat FROM runs WHERE ended IS NULL AND heartbeat > ? "
                        "ORDER BY run DESC LIMIT 1"))
    return abandon(db.error());
  open.bind(1, now - options_.stale_after_s);
  if (open.step()) {
    char ago[32];
    std::snprintf(ago, sizeof ago, "%.1f", now - open.real(2));
    return abandon("another station is writing it (process " + std::to_string(open.integer(1)) + " on " +
                   open.text(0) + ", " + ago + " s ago)");
  }
  sql::Statement add_run;
  if (!add_run.prepare(db, "INSERT INTO runs (started, version, mode, source, device, host, pid, first_offset, "
                           "heartbeat) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)") ||
      !add_run.bind(1, run_.started).bind(2, run_.version).bind(3, run_.mode).bind(4, run_.source)
           .bind(5, run_.device).bind(6, run_.host).bind(7, run_.pid).bind(8, run_.first_offset).bind(9, now)
           .run())
    return abandon(db.error());
  d->run = db.last_insert_id();
  if (!db.exec("COMMIT")) return abandon(db.error());
  const bool prepared =
      d->frame.prepare(db, "INSERT INTO frames (run, t, offset, link_bytes, skipped, counter, received) VALUES (?,?,?,?,?,?,?)") &&
      d->event.prepare(db, "INSERT INTO events (run, t, offset, kind, text, bytes) VALUES (?,?,?,?,?,?)") &&
      d->log.prepare(db, "INSERT INTO log (run, t, offset, severity, text) VALUES (?,?,?,?,?)") &&
      d->alarm.prepare(db,
                       "INSERT INTO alarms (run, alarm, source, key, what, severity, first, first_offset, last, "
                       "occurrences, worst, worst_text, worst_limit, longest_s, active, now, acknowledged, "
                       "acknowledged_at) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?) "
                       "ON CONFLICT (run, alarm) DO UPDATE SET severity = excluded.severity, last = excluded.last, "
                       "occurrences = excluded.occurrences, worst = excluded.worst, worst_text = excluded.worst_text, "
                       "worst_limit = excluded.worst_limit, longest_s = excluded.longest_s, active = excluded.active, "
                       "now = excluded.now, acknowledged = excluded.acknowledged, "
                       "acknowledged_at = excluded.acknowledged_at") &&
      d->alarm_event.prepare(
          db, "INSERT INTO alarm_events (run, alarm, t, offset, change, severity, text) VALUES (?,?,?,?,?,?,?)") &&
      d->heartbeat.prepare(db, "UPDATE runs SET heartbeat = ? WHERE run = ?") &&
      d->size.prepare(db, "UPDATE recording SET size = ?") &&
      d->head.prepare(db, "UPDATE recording SET head_bytes = ?, head_hash = ?");
  if (!prepared) return refuse(db.error());
  db_ = std::move(d);
  return true;
}

bool RecordWriter::commit(std::vector<Item>& items, bool last) {
  Db& d = *db_;
  sql::Db& db = d.db;
  if (!db.exec("BEGIN")) {
    fail(db.error());
    return false;
  }
  bool ok = true;
  int64_t frames = 0;
  // An alarm changed several times in one batch is written as it stands last.
  std::map<int64_t, const AlarmRow*> alarms;
  for (const Item& item : items) {
    if (!ok) break;
    if (const auto* f = std::get_if<FrameRow>(&item)) {
      d.frame.bind(1, d.run).bind(2, f->t);
      if (f->offset >= 0) d.frame.bind(3, f->offset).bind(4, static_cast<int64_t>(f->link_bytes));
      else d.frame.bind_null(3).bind_null(4);
      if (f->received >= 0.0) d.frame.bind(7, f->received);
      else d.frame.bind_null(7);
      ok = d.frame.bind(5, f->skipped).bind(6, static_cast<int64_t>(f->counter)).run();
      ++frames;
    } else if (const auto* e = std::get_if<EventRow>(&item)) {
      d.event.bind(1, d.run).bind(2, e->t).bind(3, e->offset).bind(4, e->kind).bind(5, e->text);
      if (e->bytes >= 0) d.event.bind(6, e->bytes);
      else d.event.bind_null(6);
      ok = d.event.run();
    } else if (const auto* l = std::get_if<LogRow>(&item)) {
      ok = d.log.bind(1, d.run).bind(2, l->t).bind(3, l->offset).bind(4, l->severity).bind(5, l->text).run();
    } else if (const auto* a = std::get_if<AlarmRow>(&item)) {
      alarms[static_cast<int64_t>(a->row.id)] = a;
      if (!a->change.empty())
        ok = d.alarm_event.bind(1, d.run).bind(2, static_cast<int64_t>(a->row.id)).bind(3, a->t).bind(4, a->offset)
                 .bind(5, a->change).bind(6, std::string(alarm_colour(a->row.severity))).bind(7, a->text).run();
    }
  }
  for (const auto& [id, a] : alarms) {
    if (!ok) break;
    const Alarm& r = a->row;
    d.alarm.bind(1, d.run).bind(2, id).bind(3, std::string(alarm_source_name(r.source))).bind(4, r.key)
        .bind(5, r.what).bind(6, std::string(alarm_colour(r.severity))).bind(7, a->first).bind(8, a->first_offset)
        .bind(9, a->last).bind(10, static_cast<int64_t>(r.occurrences));
    if (r.has_value) d.alarm.bind(11, r.worst_number);
    else d.alarm.bind_null(11);
    d.alarm.bind(12, r.has_value ? r.worst_value : std::string()).bind(13, r.has_value ? r.worst_limit : std::string())
        .bind(14, r.longest_s).bind(15, static_cast<int64_t>(r.active ? 1 : 0)).bind(16, r.now)
        .bind(17, static_cast<int64_t>(r.acknowledged ? 1 : 0));
    if (a->acknowledged_at >= 0.0) d.alarm.bind(18, a->acknowledged_at);
    else d.alarm.bind_null(18);
    ok = d.alarm.run();
  }
  const double now = unix_now();
  ok = ok && d.heartbeat.bind(1, now).bind(2, d.run).run();
  ok = ok && d.size.bind(1, recorded_.load(std::memory_order_relaxed)).run();
  if (ok && d.head_bytes < RECORD_HEAD_BYTES) {
    const std::vector<uint8_t> head = read_head(recording_path_);
    if (static_cast<int64_t>(head.size()) > d.head_bytes) {
      ok = d.head.bind(1, static_cast<int64_t>(head.size())).bind(2, head_hash_text(head.data(), head.size())).run();
      if (ok) d.head_bytes = static_cast<int64_t>(head.size());
    }
  }
  if (ok && last) {
    sql::Statement end;
    ok = end.prepare(db, "UPDATE runs SET ended = ? WHERE run = ?") && end.bind(1, now).bind(2, d.run).run();
  }
  if (!ok || !db.exec("COMMIT")) {
    const std::string why = db.error();
    db.exec("ROLLBACK");
    fail(why);
    return false;
  }
  frames_written_ += frames;
  return true;
}

void RecordWriter::run() {
  if (!open_db()) {
    if (on_failure_) on_failure_(failure());
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.commit_every_s));
  auto next = Clock::now() + period;
  for (;;) {
    std::vector<Item> items;
    bool last;
    uint64_t target;
    {
      std::unique_lock lock(mu_);
      // A commit every period, whether rows came or not (the heartbeat), and
      // at once when asked to flush or stop.
      wake_.wait_until(lock, next, [&] { return stop_ || failed_ || flush_wanted_; });
      if (failed_) break;
      flush_wanted_ = false;
      items.swap(queue_);
      last = stop_;
      target = added_;
    }
    next = Clock::now() + period;
    if (!commit(items, last)) break;
    {
      std::lock_guard lock(mu_);
      done_ = target;
    }
    committed_.notify_all();
    if (last) break;
  }
  std::string reason;
  {
    std::lock_guard lock(mu_);
    if (failed_) reason = failure_;
  }
  if (db_) {
    if (reason.empty()) {
      // One file to hand over: the write-ahead log put back into it. A
      // reader that holds it open keeps it in WAL mode, which is as good.
      db_->db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
      db_->db.exec("PRAGMA journal_mode = DELETE");
    }
    db_.reset();
  }
  if (!reason.empty() && on_failure_) on_failure_(reason);
}

}  // namespace rt
