#include "archive/archive.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

#include "archive/schema_sql.h"
#include "history/values.h"

namespace rt {

namespace fs = std::filesystem;

namespace {

constexpr const char* DAMAGED_SUFFIX = ".damaged";

double now_s() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool is_recording_name(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".dat";
}

// The values summarized per minute: every value in the frames.
const std::vector<const ValueInfo*>& minute_values() {
  static const std::vector<const ValueInfo*> values = [] {
    std::vector<const ValueInfo*> out;
    for (const ValueInfo& v : value_catalogue())
      if (!is_link_figure(v)) out.push_back(&v);
    return out;
  }();
  return values;
}

// Words for the full-text search: each one's start ("HK1" finds "HK16"),
// all of them; quotes are taken out, so the operator's text is never syntax.
std::string match_words(const std::string& text) {
  std::string out, word;
  auto flush = [&] {
    if (word.empty()) return;
    out += (out.empty() ? "\"" : " \"") + word + "\"*";
    word.clear();
  };
  for (char c : text) {
    if (c == '"') continue;
    if (std::isspace(static_cast<unsigned char>(c))) flush();
    else word += c;
  }
  flush();
  return out;
}

// Takes out the characters of a LIKE pattern that are not text.
std::string like_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

const char* const SESSION_COLUMNS =
    "session, recording, size, modified, head_hash, reachable, record, record_state, times, started, ended, "
    "duration_s, frames, failures, checksum_failures, illegal_escapes, bytes_skipped, longest_gap_s, port, "
    "device, version, host, alarms, alarms_unacknowledged, notes, commands, port_losses, live, problem";

double real_or_none(const sql::Statement& st, int col) { return st.is_null(col) ? UNKNOWN_TIME : st.real(col); }

SessionRow session_from(const sql::Statement& st, const std::string& folder) {
  SessionRow r;
  int c = 0;
  r.session = st.integer(c++);
  r.folder = folder;
  r.recording = st.text(c++);
  r.size = st.integer(c++);
  r.modified = st.real(c++);
  r.head_hash = st.text(c++);
  r.reachable = st.integer(c++) != 0;
  r.record = st.text(c++);
  r.record_state = st.text(c++);
  r.times = st.text(c++);
  r.started = real_or_none(st, c++);
  r.ended = real_or_none(st, c++);
  r.duration_s = real_or_none(st, c++);
  r.frames = static_cast<long>(st.integer(c++));
  r.failures = st.integer(c++);
  r.checksum_failures = st.integer(c++);
  r.illegal_escapes = st.integer(c++);
  r.bytes_skipped = st.integer(c++);
  r.longest_gap_s = st.real(c++);
  r.port = st.text(c++);
  r.device = st.text(c++);
  r.version = st.text(c++);
  r.host = st.text(c++);
  r.alarms = st.integer(c++);
  r.alarms_unacknowledged = st.integer(c++);
  r.notes = st.integer(c++);
  r.commands = st.integer(c++);
  r.port_losses = st.integer(c++);
  r.live = st.integer(c++) != 0;
  r.problem = st.text(c++);
  return r;
}

// A problem that is a failure (something could not be read or written).
void failed(IndexOutcome* out, std::string line) {
  ++out->failures;
  out->problems.push_back(std::move(line));
}

// What the archive holds of a recording, to see whether it is stale.
struct Known {
  int64_t id = 0;
  int64_t size = 0;
  double modified = 0.0;
  std::string stamp;
  bool live = false, reachable = true;
};

}  // namespace

std::string archive_path(const std::string& folder) { return (fs::path(folder) / ARCHIVE_FILE).string(); }

Archive::~Archive() { db_.close(); }

bool Archive::fail(const std::string& what) {
  error_ = "archive " + (in_memory_ ? std::string("(in memory)") : file_) + ": " + what + ": " + db_.error();
  return false;
}

bool Archive::damaged() const { return db_.code() == SQLITE_CORRUPT || db_.code() == SQLITE_NOTADB; }

bool Archive::open(const std::string& folder, std::string* error) {
  std::error_code ec;
  fs::path dir = fs::absolute(folder, ec).lexically_normal();
  if (dir.has_filename() == false && dir.has_parent_path() && dir != dir.root_path()) dir = dir.parent_path();
  const auto type = fs::status(dir, ec).type();
  if (ec || type != fs::file_type::directory) {
    *error = "cannot read folder " + folder + ": " +
             (ec ? ec.message() : type == fs::file_type::not_found ? "No such file or directory" : "not a folder");
    return false;
  }
  folder_ = dir.string();
  file_ = archive_path(folder_);
  note_.clear();
  in_memory_ = false;
  std::string why;
  if (!open_file(&why)) use_memory(why);
  return true;
}

bool Archive::open_file(std::string* why) {
  if (!db_.open(file_, true)) {
    *why = "cannot write archive " + file_ + ": " + db_.error() + "; the list is made without keeping it";
    return false;
  }
  sqlite3_busy_timeout(db_.handle(), ARCHIVE_BUSY_MS);
  if (prepare_schema(why)) return true;
  if (!damaged()) return false;
  // A damaged index is only an index: set it aside and make it again.
  const std::string reason = db_.error();
  if (!set_aside_damaged(reason)) {
    *why = "archive " + file_ + " is damaged (" + reason + ") and cannot be set aside: " + error_ +
           "; the list is made without keeping it";
    return false;
  }
  if (!db_.open(file_, true)) {
    *why = "cannot write archive " + file_ + ": " + db_.error() + "; the list is made without keeping it";
    return false;
  }
  sqlite3_busy_timeout(db_.handle(), ARCHIVE_BUSY_MS);
  return prepare_schema(why);
}

bool Archive::set_aside_damaged(const std::string& why) {
  db_.close();
  std::error_code ec;
  fs::rename(file_, file_ + DAMAGED_SUFFIX, ec);
  if (ec) {
    error_ = ec.message();
    return false;
  }
  for (const char* extra : {"-wal", "-shm"}) fs::remove(file_ + extra, ec);
  note_ = "archive " + file_ + " was damaged (" + why + "): set aside as " + file_ + DAMAGED_SUFFIX +
          " and made again from the recordings";
  return true;
}

bool Archive::prepare_schema(std::string* why) {
  int64_t app = 0, version = 0, tables = 0;
  const auto cannot = [&](const std::string& what) {
    *why = "cannot use archive " + file_ + ": " + what + ": " + db_.error() + "; the list is made without keeping it";
    return false;
  };
  if (!db_.integer("PRAGMA application_id", &app) || !db_.integer("PRAGMA user_version", &version) ||
      !db_.integer("SELECT count(*) FROM sqlite_schema", &tables))
    return cannot("reading it");
  if (app == 0 && tables == 0) {
    // A new archive. Another station may be making it at the same moment:
    // the schema goes in one transaction, after a second look.
    if (!db_.exec("BEGIN IMMEDIATE")) return cannot("making it");
    if (!db_.integer("SELECT count(*) FROM sqlite_schema", &tables)) {
      db_.exec("ROLLBACK");
      return cannot("making it");
    }
    if (tables == 0 &&
        (!db_.exec(ARCHIVE_SCHEMA_SQL) ||
         !db_.exec("PRAGMA application_id = " + std::to_string(ARCHIVE_APPLICATION_ID)) ||
         !db_.exec("PRAGMA user_version = " + std::to_string(ARCHIVE_VERSION)))) {
      const std::string reason = db_.error();
      db_.exec("ROLLBACK");
      *why = "cannot write archive " + file_ + ": " + reason + "; the list is made without keeping it";
      return false;
    }
    if (!db_.exec("COMMIT")) return cannot("making it");
    db_.integer("PRAGMA application_id", &app);
    db_.integer("PRAGMA user_version", &version);
  }
  if (app != ARCHIVE_APPLICATION_ID) {
    *why = "archive " + file_ + " refused: it is not a vst_gse archive; the list is made without keeping it";
    return false;
  }
  if (version > ARCHIVE_VERSION) {
    *why = "archive " + file_ + " refused: it was written by a newer vst_gse (archive version " +
           std::to_string(version) + "; this one reads " + std::to_string(ARCHIVE_VERSION) +
           "); the list is made without keeping it";
    return false;
  }
  // Readers (the Sessions window, another station) read while one writes.
  db_.exec("PRAGMA journal_mode = WAL");
  int64_t n = 0;
  if (!db_.integer("SELECT count(*) FROM sessions", &n)) return cannot("reading it");
  return true;
}

void Archive::use_memory(const std::string& why) {
  note_ = why;
  in_memory_ = true;
  db_.close();
  db_.open(":memory:", true);
  db_.exec(ARCHIVE_SCHEMA_SQL);
}

IndexOutcome Archive::index(const std::function<void(const IndexProgress&)>& progress, const std::atomic<bool>* stop) {
  IndexOutcome out = index_pass(progress, stop);
  if (!damaged() || in_memory_) return out;
  // Damage found on the way: the index is set aside and made again, once.
  const std::string reason = db_.error();
  std::string why;
  if (!set_aside_damaged(reason) || !open_file(&why)) {
    if (why.empty()) why = "archive " + file_ + " is damaged (" + reason + ") and cannot be set aside: " + error_;
    use_memory(why);
  }
  out = index_pass(progress, stop);
  out.problems.insert(out.problems.begin(), note_);
  return out;
}

IndexOutcome Archive::index_pass(const std::function<void(const IndexProgress&)>& progress,
                                 const std::atomic<bool>* stop) {
  IndexOutcome out;
  const double now = clock_ ? clock_() : now_s();
  // The recordings there now, in path order (so an archive made afresh is
  // the same whichever order the folder lists them in).
  struct Found {
    std::string relative;
    int64_t size;
    double modified;
  };
  std::vector<Found> found;
  std::error_code ec;
  const fs::path root(folder_);
  auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
  if (ec) {
    out.problems.push_back("cannot read folder " + folder_ + ": " + ec.message());
    ++out.failures;
  }
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& e = *it;
    const std::string name = e.path().filename().string();
    std::error_code tec;
    if (e.is_directory(tec)) {
      if (name.starts_with(".") || it.depth() >= ARCHIVE_MAX_DEPTH) it.disable_recursion_pending();
      continue;
    }
    if (!e.is_regular_file(tec) || name.starts_with(ARCHIVE_FILE)) continue;
    if (!is_recording_name(e.path())) {
      ++out.other_files;
      continue;
    }
    Found f;
    f.relative = e.path().lexically_relative(root).generic_string();
    if (!file_time(e.path().string(), &f.modified, &f.size)) {
      out.problems.push_back("cannot look at " + e.path().string() + ": it went away while the folder was read");
      continue;
    }
    found.push_back(std::move(f));
  }
  if (ec) {
    out.problems.push_back("cannot read folder " + folder_ + " to its end: " + ec.message());
    ++out.failures;
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.relative < b.relative; });

  std::map<std::string, Known> known;
  std::map<std::string, std::pair<int64_t, double>> refused;
  {
    sql::Statement st;
    if (st.prepare(db_, "SELECT recording, session, size, modified, record_stamp, live, reachable FROM sessions"))
      while (st.step())
        known[st.text(0)] = Known{st.integer(1), st.integer(2), st.real(3), st.text(4), st.integer(5) != 0,
                                  st.integer(6) != 0};
    sql::Statement nr;
    if (nr.prepare(db_, "SELECT path, size, modified FROM not_recordings"))
      while (nr.step()) refused[nr.text(0)] = {nr.integer(1), nr.real(2)};
  }
  // Rows whose recording is not there now stay, marked.
  {
    std::map<std::string, bool> present;
    for (const Found& f : found) present[f.relative] = true;
    sql::Statement mark;
    mark.prepare(db_, "UPDATE sessions SET reachable = 0 WHERE session = ?");
    for (const auto& [relative, k] : known) {
      if (present.count(relative)) continue;
      ++out.unreachable;
      if (k.reachable) mark.bind(1, k.id).run();
    }
  }
  IndexProgress state;
  state.files = static_cast<int>(found.size());
  for (const Found& f : found) {
    if (stop && stop->load()) {
      out.stopped = true;
      break;
    }
    const std::string path = (root / f.relative).string();
    auto k = known.find(f.relative);
    const std::string stamp = session_stamp(path);
    if (k != known.end() && k->second.size == f.size && k->second.modified == f.modified &&
        k->second.stamp == stamp && (!k->second.live || now - session_latest_change(path, f.modified) >= LIVE_QUIET_S)) {
      ++out.unchanged;
      if (!k->second.reachable || k->second.live) {
        sql::Statement st;
        st.prepare(db_, "UPDATE sessions SET reachable = 1, live = 0 WHERE session = ?");
        st.bind(1, k->second.id).run();
      }
    } else if (auto r = refused.find(f.relative);
               k == known.end() && r != refused.end() && r->second.first == f.size && r->second.second == f.modified &&
               stamp.rfind("- ", 0) == 0) {
      ++out.not_recordings;  // no frame in it last time, and it has not changed
    } else if (!index_one(f.relative, f.size, f.modified, now, progress, &state, stop, &out)) {
      break;
    }
    ++state.done;
    state.share = 0.0;
    if (progress) progress(state);
  }
  int64_t n = 0;
  db_.integer("SELECT count(*) FROM sessions", &n);
  out.sessions = static_cast<int>(n);
  if (out.not_recordings > 0)
    out.problems.push_back(std::to_string(out.not_recordings) + " file" + (out.not_recordings == 1 ? "" : "s") +
                           " named *.dat in " + folder_ + " hold no frame: not listed");
  if (out.unreachable > 0)
    out.problems.push_back(std::to_string(out.unreachable) + " session" + (out.unreachable == 1 ? "" : "s") +
                           " of " + file_ + " not found in " + folder_ +
                           " (moved, deleted, or on a disk that went away): listed as last indexed");
  return out;
}

bool Archive::index_one(const std::string& relative, int64_t size, double modified, double now,
                        const std::function<void(const IndexProgress&)>& progress, IndexProgress* state,
                        const std::atomic<bool>* stop, IndexOutcome* out) {
  const std::string path = (fs::path(folder_) / relative).string();
  state->current = relative;
  if (progress) progress(*state);
  SessionSource source = look_at_session(path, size, modified, now);
  // One transaction for the whole session: another station indexing the
  // same folder waits for it, and sees the session whole or not at all.
  if (!db_.exec("BEGIN IMMEDIATE")) {
    if (db_.code() == SQLITE_BUSY)
      failed(out, "archive " + file_ + " is busy (another station is indexing it): " +
                              std::to_string(state->files - state->done) + " recordings left for the next look");
    else
      failed(out, "cannot write archive " + file_ + ": " + db_.error());
    return false;
  }
  auto rollback = [this] { db_.exec("ROLLBACK"); };
  auto written = [this](const std::string& what) {
    fail("writing " + what);
    return error_;
  };
  // Another station may have indexed it while this one waited.
  int64_t id = 0;
  {
    sql::Statement st;
    st.prepare(db_, "SELECT session, size, modified, record_stamp, live FROM sessions WHERE recording = ?");
    st.bind(1, relative);
    if (st.step()) {
      id = st.integer(0);
      if (st.integer(1) == size && st.real(2) == modified && st.text(3) == source.stamp && st.integer(4) == 0) {
        db_.exec("COMMIT");
        ++out->unchanged;
        return true;
      }
      if (!source.pass && st.integer(1) != size && st.real(2) == modified) source.live = true;
    }
  }
  for (const char* sql : {"DELETE FROM minutes WHERE session = ?", "DELETE FROM alarms WHERE session = ?",
                          "DELETE FROM events WHERE session = ?", "DELETE FROM texts WHERE session = ?",
                          "DELETE FROM sessions WHERE session = ?"}) {
    sql::Statement st;
    if (!st.prepare(db_, sql) || !st.bind(1, id).run()) {
      fail("clearing " + relative);
      failed(out, error_);
      rollback();
      return false;
    }
  }
  {
    sql::Statement st;
    st.prepare(db_, "DELETE FROM not_recordings WHERE path = ?");
    st.bind(1, relative).run();
  }
  // The row first, so the minutes can name it as they come.
  {
    sql::Statement st;
    if (!st.prepare(db_,
                    "INSERT INTO sessions (session, recording, size, modified, head_hash, reachable, record, "
                    "record_state, record_stamp, times, frames, failures, checksum_failures, illegal_escapes, "
                    "bytes_skipped, longest_gap_s, port, device, version, host, alarms, alarms_unacknowledged, "
                    "notes, commands, port_losses, live, problem) "
                    "VALUES (?, ?, ?, ?, '', 1, '', '', '', '', 0, 0, 0, 0, 0, 0, '', '', '', '', 0, 0, 0, 0, 0, 0, '')")) {
      failed(out, written(relative));
      rollback();
      return false;
    }
    if (id > 0) st.bind(1, id);
    else st.bind_null(1);
    st.bind(2, relative).bind(3, size).bind(4, modified);
    if (!st.run()) {
      failed(out, written(relative));
      rollback();
      return false;
    }
    id = db_.last_insert_id();
  }
  sql::Statement minute;
  minute.prepare(db_, "INSERT INTO minutes (session, value, minute, samples, min, max, mean) VALUES (?, ?, ?, ?, ?, ?, ?)");
  bool write_ok = true;
  ScanRequest request;
  request.rules = source.rules;
  request.shown = source.shown;
  request.time_of = source.time_of;
  request.values = minute_values();
  request.to = size;  // a growing recording: as far as it was when looked at
  request.stop = stop;
  std::atomic<int64_t> read{0};
  request.read = &read;
  int64_t said = 0;
  request.on_minute = [&](const ValueInfo& v, const MinuteSummary& m) {
    if (!write_ok) return;
    write_ok = minute.bind(1, id).bind(2, v.key).bind(3, m.minute).bind(4, m.samples).bind(5, m.min).bind(6, m.max)
                   .bind(7, m.mean).run();
    const int64_t r = read.load();
    if (progress && size > 0 && r - said > (1 << 24)) {
      said = r;
      state->share = static_cast<double>(r) / static_cast<double>(size);
      progress(*state);
    }
  };
  ScanFigures figures;
  std::string scan_error;
  const bool scanned = scan_session(path, request, &figures, &scan_error);
  if (!scanned || !write_ok) {
    const bool stopped = !scanned && scan_error.empty();
    if (!write_ok) failed(out, written(relative));
    rollback();
    if (stopped) {
      out->stopped = true;
      return false;
    }
    if (!scan_error.empty()) failed(out, "cannot read recording " + scan_error);
    // What the archive held of it before stays.
    return write_ok;
  }
  if (figures.frames == 0 && source.record_path.empty()) {
    // Not a recording (or not yet one): remembered, so it is not read again
    // until it changes.
    sql::Statement del, add;
    const bool ok = del.prepare(db_, "DELETE FROM sessions WHERE session = ?") && del.bind(1, id).run() &&
                    add.prepare(db_, "INSERT INTO not_recordings (path, size, modified, reason) VALUES (?, ?, ?, ?)") &&
                    add.bind(1, relative).bind(2, size).bind(3, modified).bind(4, std::string("no frame found")).run();
    if (!ok || !db_.exec("COMMIT")) {
      failed(out, written(relative));
      rollback();
      return false;
    }
    ++out->not_recordings;
    return true;
  }
  if (!write_session(id, relative, source, figures, "") || !db_.exec("COMMIT")) {
    failed(out, written(relative));
    rollback();
    return false;
  }
  ++out->read;
  return true;
}

bool Archive::write_session(int64_t id, const std::string& relative, const SessionSource& source,
                            const ScanFigures& f, const std::string& problem) {
  const std::string record =
      source.record_path.empty() ? "" : fs::path(source.record_path).lexically_relative(folder_).generic_string();
  (void)relative;
  int64_t unacknowledged = 0;
  for (const SessionAlarm& a : source.alarms) unacknowledged += a.acknowledged ? 0 : 1;
  sql::Statement st;
  if (!st.prepare(db_,
                  "UPDATE sessions SET head_hash = ?, record = ?, record_state = ?, record_stamp = ?, times = ?, "
                  "started = ?, ended = ?, duration_s = ?, frames = ?, failures = ?, checksum_failures = ?, "
                  "illegal_escapes = ?, bytes_skipped = ?, longest_gap_s = ?, port = ?, device = ?, version = ?, "
                  "host = ?, alarms = ?, alarms_unacknowledged = ?, notes = ?, commands = ?, port_losses = ?, "
                  "live = ?, problem = ? WHERE session = ?"))
    return false;
  st.bind(1, f.head_hash).bind(2, record).bind(3, source.record_state).bind(4, source.stamp).bind(5, source.times);
  if (f.frames > 0) st.bind(6, f.first_s).bind(7, f.last_s).bind(8, f.last_s - f.first_s);
  else st.bind_null(6).bind_null(7).bind_null(8);
  st.bind(9, static_cast<int64_t>(f.frames))
      .bind(10, f.checksum_failures + f.illegal_escapes)
      .bind(11, f.checksum_failures)
      .bind(12, f.illegal_escapes)
      .bind(13, f.bytes_skipped)
      .bind(14, f.longest_gap_s)
      .bind(15, source.port)
      .bind(16, source.device)
      .bind(17, source.version)
      .bind(18, source.host)
      .bind(19, static_cast<int64_t>(source.alarms.size()))
      .bind(20, unacknowledged)
      .bind(21, source.notes)
      .bind(22, source.commands)
      .bind(23, source.port_losses)
      .bind(24, int64_t{source.live ? 1 : 0})
      .bind(25, problem)
      .bind(26, id);
  if (!st.run()) return false;
  sql::Statement alarm;
  if (!alarm.prepare(db_,
                     "INSERT INTO alarms (session, key, what, severity, first, last, occurrences, worst_text, "
                     "worst_limit, acknowledged, acknowledged_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))
    return false;
  for (const SessionAlarm& a : source.alarms) {
    alarm.bind(1, id).bind(2, a.key).bind(3, a.what).bind(4, a.severity).bind(5, a.first_s).bind(6, a.last_s)
        .bind(7, a.occurrences).bind(8, a.worst_text).bind(9, a.worst_limit).bind(10, int64_t{a.acknowledged ? 1 : 0});
    if (std::isnan(a.acknowledged_s)) alarm.bind_null(11);
    else alarm.bind(11, a.acknowledged_s);
    if (!alarm.run()) return false;
  }
  sql::Statement event, text;
  if (!event.prepare(db_, "INSERT INTO events (session, t, kind, text) VALUES (?, ?, ?, ?)") ||
      !text.prepare(db_, "INSERT INTO texts (text, session, kind, t) VALUES (?, ?, ?, ?)"))
    return false;
  for (const SessionEntry& e : source.events) {
    if (!event.bind(1, id).bind(2, e.t_s).bind(3, e.kind).bind(4, e.text).run()) return false;
    if (e.kind == "note" && !text.bind(1, e.text).bind(2, id).bind(3, std::string("note")).bind(4, e.t_s).run())
      return false;
  }
  for (const SessionEntry& e : source.log)
    if (!text.bind(1, e.text).bind(2, id).bind(3, std::string("log")).bind(4, e.t_s).run()) return false;
  return true;
}

std::vector<SessionRow> Archive::sessions(const SessionFilter& filter) {
  std::vector<SessionRow> out;
  std::string sql = std::string("SELECT ") + SESSION_COLUMNS + " FROM sessions WHERE 1";
  const std::string words = match_words(filter.text);
  // The parameters in the order the conditions are added: a time or a text.
  struct Param {
    double t;
    std::string text;
  };
  std::vector<Param> params;
  if (!std::isnan(filter.from_s)) {
    sql += " AND ended >= ?";
    params.push_back({filter.from_s, {}});
  }
  if (!std::isnan(filter.to_s)) {
    sql += " AND started <= ?";
    params.push_back({filter.to_s, {}});
  }
  if (!words.empty()) {
    sql += " AND (recording LIKE ? ESCAPE '\\' OR session IN (SELECT session FROM texts WHERE texts MATCH ?))";
    params.push_back({UNKNOWN_TIME, "%" + like_text(filter.text) + "%"});
    params.push_back({UNKNOWN_TIME, words});
  }
  if (!filter.alarm.empty()) {
    sql += " AND session IN (SELECT session FROM alarms WHERE key = ? COLLATE NOCASE)";
    params.push_back({UNKNOWN_TIME, filter.alarm});
  }
  if (filter.port_lost) sql += " AND port_losses > 0";
  sql += " ORDER BY started, recording";
  sql::Statement st;
  if (!st.prepare(db_, sql)) {
    fail("searching");
    return out;
  }
  for (size_t i = 0; i < params.size(); ++i) {
    if (std::isnan(params[i].t)) st.bind(static_cast<int>(i + 1), std::string_view(params[i].text));
    else st.bind(static_cast<int>(i + 1), params[i].t);
  }
  while (st.step()) out.push_back(session_from(st, folder_));
  if (st.failed()) fail("searching");
  return out;
}

bool Archive::session(int64_t id, SessionRow* out) {
  sql::Statement st;
  if (!st.prepare(db_, std::string("SELECT ") + SESSION_COLUMNS + " FROM sessions WHERE session = ?")) return false;
  st.bind(1, id);
  if (!st.step()) return false;
  *out = session_from(st, folder_);
  return true;
}

std::vector<MinuteSummary> Archive::minutes(int64_t session, const std::string& value, int64_t from, int64_t to) {
  std::vector<MinuteSummary> out;
  sql::Statement st;
  if (!st.prepare(db_,
                  "SELECT minute, samples, min, max, mean FROM minutes WHERE session = ? AND value = ? "
                  "AND minute BETWEEN ? AND ? ORDER BY minute"))
    return out;
  st.bind(1, session).bind(2, value).bind(3, from).bind(4, to);
  while (st.step()) out.push_back({st.integer(0), st.integer(1), st.real(2), st.real(3), st.real(4)});
  return out;
}

std::vector<SessionAlarm> Archive::alarms(int64_t session) {
  std::vector<SessionAlarm> out;
  sql::Statement st;
  if (!st.prepare(db_,
                  "SELECT key, what, severity, first, last, occurrences, worst_text, worst_limit, acknowledged, "
                  "acknowledged_at FROM alarms WHERE session = ? ORDER BY first"))
    return out;
  st.bind(1, session);
  while (st.step()) {
    SessionAlarm a;
    a.key = st.text(0);
    a.what = st.text(1);
    a.severity = st.text(2);
    a.first_s = st.real(3);
    a.last_s = st.real(4);
    a.occurrences = st.integer(5);
    a.worst_text = st.text(6);
    a.worst_limit = st.text(7);
    a.acknowledged = st.integer(8) != 0;
    a.acknowledged_s = real_or_none(st, 9);
    out.push_back(std::move(a));
  }
  return out;
}

std::vector<SessionEntry> Archive::events(int64_t session) {
  std::vector<SessionEntry> out;
  sql::Statement st;
  if (!st.prepare(db_, "SELECT t, kind, text FROM events WHERE session = ? ORDER BY t")) return out;
  st.bind(1, session);
  while (st.step()) out.push_back({st.real(0), st.text(1), "", st.text(2)});
  return out;
}

std::vector<std::string> Archive::alarm_keys() {
  std::vector<std::string> out;
  sql::Statement st;
  if (!st.prepare(db_, "SELECT DISTINCT key FROM alarms ORDER BY key")) return out;
  while (st.step()) out.push_back(st.text(0));
  return out;
}

}  // namespace rt
