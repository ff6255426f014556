#include "record/record_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "record/record_writer.h"
#include "record/sqlite.h"
#include "session/local_time.h"

namespace rt {

namespace {

Severity severity_from(const std::string& name) {
  if (name == "ERROR") return Severity::Error;
  if (name == "WARN") return Severity::Warning;
  return Severity::Info;
}

Severity colour_severity(const std::string& colour) {
  return colour == "red" ? Severity::Error : colour == "amber" ? Severity::Warning : Severity::Info;
}

AlarmSource source_from(const std::string& name) {
  return name == "link" ? AlarmSource::Link : name == "recording" ? AlarmSource::Recording : AlarmSource::Limit;
}

// A failure of SQLite in words for the refusal.
std::string damage(const sql::Db& db) {
  const std::string e = db.error();
  if (e.find("not a database") != std::string::npos) return "it is not an SQLite database";
  return "it is damaged (" + e + ")";
}

// The size an SQLite file's header gives (its page size times its page
// count), when the header says it is valid.
bool database_size(const std::string& path, int64_t* bytes) {
  uint8_t h[100];
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return false;
  const bool whole = std::fread(h, 1, sizeof h, fp) == sizeof h;
  std::fclose(fp);
  if (!whole || std::string(reinterpret_cast<const char*>(h), 15) != "SQLite format 3") return false;
  auto u32 = [&](int at) {
    return (uint32_t{h[at]} << 24) | (uint32_t{h[at + 1]} << 16) | (uint32_t{h[at + 2]} << 8) | h[at + 3];
  };
  const uint32_t page_size = (uint32_t{h[16]} << 8 | h[17]) == 1 ? 65536 : (uint32_t{h[16]} << 8 | h[17]);
  // The count is valid only when the change counter matches its copy.
  if (u32(24) != u32(92) || u32(28) == 0) return false;
  *bytes = static_cast<int64_t>(page_size) * u32(28);
  return true;
}

bool read_events(sql::Db& db, Pass* out) {
  sql::Statement st;
  if (!st.prepare(db, "SELECT run, t, offset, kind, text, bytes FROM events ORDER BY t, event")) return false;
  while (st.step()) {
    PassEvent e;
    e.run = static_cast<int>(st.integer(0));
    e.t_s = st.real(1);
    e.offset = st.integer(2);
    e.kind = st.text(3);
    e.text = st.text(4);
    e.bytes = st.is_null(5) ? -1 : st.integer(5);
    e.severity = e.kind == "port lost" || e.kind == "recording" ? Severity::Error : Severity::Info;
    out->events.push_back(std::move(e));
  }
  if (st.failed()) return false;
  if (!st.prepare(db, "SELECT run, t, offset, severity, text FROM log ORDER BY t, entry")) return false;
  while (st.step()) {
    PassEvent e;
    e.run = static_cast<int>(st.integer(0));
    e.t_s = st.real(1);
    e.offset = st.integer(2);
    e.kind = "log";
    e.severity = severity_from(st.text(3));
    e.text = st.text(4);
    out->log.push_back(std::move(e));
  }
  return !st.failed();
}

bool read_alarms(sql::Db& db, Pass* out) {
  sql::Statement st;
  if (!st.prepare(db, "SELECT run, alarm, source, key, what, severity, first, first_offset, last, occurrences, "
                      "worst, worst_text, worst_limit, longest_s, active, now, acknowledged, acknowledged_at "
                      "FROM alarms ORDER BY run, alarm"))
    return false;
  while (st.step()) {
    PassAlarm a;
    a.run = static_cast<int>(st.integer(0));
    Alarm& r = a.row;
    r.id = static_cast<uint64_t>(st.integer(1));
    r.source = source_from(st.text(2));
    r.key = st.text(3);
    r.what = st.text(4);
    r.severity = colour_severity(st.text(5));
    r.first_s = st.real(6);
    r.first_time = unix_time_text(r.first_s);
    a.first_offset = st.integer(7);
    r.last_s = st.real(8);
    r.last_time = unix_time_text(r.last_s);
    r.occurrences = st.integer(9);
    r.has_value = !st.is_null(10);
    r.worst_number = st.real(10);
    r.worst_value = st.text(11);
    // SQLite keeps no negative zero: the value shown says its sign.
    if (r.worst_number == 0.0 && !r.worst_value.empty() && r.worst_value[0] == '-') r.worst_number = -0.0;
    r.worst_limit = st.text(12);
    r.worst_severity = r.severity;
    r.longest_s = st.real(13);
    r.active = st.integer(14) != 0;
    r.now = st.text(15);
    r.acknowledged = st.integer(16) != 0;
    r.acknowledged_s = st.is_null(17) ? -1.0 : st.real(17);
    if (r.acknowledged_s >= 0.0) r.acknowledged_time = unix_time_text(r.acknowledged_s);
    out->alarms.push_back(std::move(a));
  }
  if (st.failed()) return false;
  if (!st.prepare(db, "SELECT run, alarm, t, offset, change, severity, text FROM alarm_events ORDER BY t, id"))
    return false;
  while (st.step()) {
    PassAlarmEvent e;
    e.run = static_cast<int>(st.integer(0));
    e.alarm = static_cast<uint64_t>(st.integer(1));
    e.t_s = st.real(2);
    e.offset = st.integer(3);
    e.change = st.text(4);
    e.severity = st.text(5);
    e.text = st.text(6);
    out->alarm_events.push_back(std::move(e));
  }
  // Several runs: the rows take one number each, in the order raised.
  if (out->runs.size() > 1)
    for (size_t i = 0; i < out->alarms.size(); ++i) out->alarms[i].row.id = i + 1;
  return !st.failed();
}

}  // namespace

PassFound read_session_record(const std::string& recording, Pass* out, std::string* why) {
  namespace fs = std::filesystem;
  const std::string path = record_path_for(recording);
  std::error_code ec;
  if (!fs::exists(path, ec)) return PassFound::None;
  auto refuse = [&](const std::string& reason) {
    *why = "session record " + path + " refused: " + reason + "; times are estimated";
    return PassFound::Refused;
  };
  if (!fs::is_regular_file(path, ec)) return refuse("it is not a regular file");
  // A file cut short: fewer bytes than the pages its header counts (with no
  // write-ahead log beside it, where they could be).
  const int64_t size = static_cast<int64_t>(fs::file_size(path, ec));
  int64_t counted = 0;
  if (database_size(path, &counted) && size < counted && !fs::exists(path + "-wal", ec))
    return refuse("it is truncated (" + std::to_string(size) + " of " + std::to_string(counted) + " bytes)");
  sql::Db db;
  if (!db.open(path, false)) return refuse("it cannot be opened (" + db.error() + ")");
  int64_t app = 0, version = 0, tables = 0;
  if (!db.integer("PRAGMA application_id", &app) || !db.integer("PRAGMA user_version", &version) ||
      !db.integer("SELECT count(*) FROM sqlite_schema", &tables))
    return refuse(damage(db));
  if (app != RECORD_APPLICATION_ID) return refuse("it is not a vst_gse session record");
  if (version > RECORD_SCHEMA_VERSION)
    return refuse("it was written by a newer vst_gse (record version " + std::to_string(version) +
                  "; this one reads up to version " + std::to_string(RECORD_SCHEMA_VERSION) + ")");
  if (version < 1 || tables == 0) return refuse("it holds no session record");
  // Whose record: the recording's first bytes must hash as it says.
  sql::Statement st;
  if (!st.prepare(db, "SELECT name, head_bytes, head_hash, size FROM recording")) return refuse(damage(db));
  if (!st.step()) return refuse(st.failed() ? damage(db) : "it names no recording");
  const std::string name = st.text(0);
  const int64_t head_bytes = st.integer(1);
  const std::string hash = st.text(2);
  const int64_t covers = st.integer(3);
  std::vector<uint8_t> head(static_cast<size_t>(std::max<int64_t>(head_bytes, 0)));
  std::FILE* fp = std::fopen(recording.c_str(), "rb");
  const size_t got = fp ? std::fread(head.data(), 1, head.size(), fp) : 0;
  if (fp) std::fclose(fp);
  if (static_cast<int64_t>(got) < head_bytes || head_hash_text(head.data(), head.size()) != hash)
    return refuse("it is the record of another recording (" + name + ": its first " + std::to_string(head_bytes) +
                  " bytes differ from " + fs::path(recording).filename().string() + "'s)");
  const auto recording_size = static_cast<int64_t>(fs::file_size(recording, ec));

  Pass pass;
  pass.record_path = path;
  pass.recording_size = recording_size;
  if (!st.prepare(db, "SELECT run, started, ended, version, mode, source, device, host, pid, first_offset "
                      "FROM runs ORDER BY run"))
    return refuse(damage(db));
  while (st.step()) {
    PassRun r;
    r.run = static_cast<int>(st.integer(0));
    r.started = st.real(1);
    r.ended = st.is_null(2) ? -1.0 : st.real(2);
    r.version = st.text(3);
    r.mode = st.text(4);
    r.source = st.text(5);
    r.device = st.text(6);
    r.host = st.text(7);
    r.pid = st.integer(8);
    r.first_offset = st.integer(9);
    pass.runs.push_back(std::move(r));
  }
  if (st.failed()) return refuse(damage(db));
  auto frames = std::make_shared<LiveFrames>();
  frames->covers = std::min(covers, recording_size);
  int64_t count = 0;
  if (db.integer("SELECT count(*) FROM frames", &count)) frames->frames.reserve(static_cast<size_t>(count));
  if (!st.prepare(db, "SELECT t, offset, link_bytes, skipped, counter, run FROM frames ORDER BY frame"))
    return refuse(damage(db));
  long beyond = 0;
  while (st.step()) {
    LiveFrame f;
    f.t_s = st.real(0);
    f.offset = st.is_null(1) ? -1 : st.integer(1);
    f.link_bytes = static_cast<int32_t>(st.integer(2));
    f.skipped = static_cast<int32_t>(st.integer(3));
    f.counter = static_cast<uint32_t>(st.integer(4));
    f.run = static_cast<int32_t>(st.integer(5));
    // A frame the recording does not hold whole (it ends before the record).
    if (f.offset >= 0 && f.offset + f.link_bytes > recording_size) {
      ++beyond;
      continue;
    }
    frames->frames.push_back(f);
  }
  if (st.failed()) return refuse(damage(db));
  pass.frames = std::move(frames);
  if (!read_events(db, &pass) || !read_alarms(db, &pass)) return refuse(damage(db));
  if (recording_size > covers)
    pass.note = "the recording " + fs::path(recording).filename().string() + " grew after its session record stopped (at byte " +
                std::to_string(covers) + " of " + std::to_string(recording_size) +
                "; the station may have stopped without closing it): times from there on are estimated";
  else if (beyond > 0)
    pass.note = "the recording " + fs::path(recording).filename().string() + " ends before its session record (" +
                std::to_string(recording_size) + " of " + std::to_string(covers) + " bytes): its last " +
                std::to_string(beyond) + " frames are not in it";
  *out = std::move(pass);
  return PassFound::Found;
}

}  // namespace rt
