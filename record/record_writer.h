// The session record written in the background: NAME.session beside the
// recording NAME.dat, an SQLite database (record/schema.sql). The station's
// threads only queue rows; a thread of the record's own writes them in one
// transaction every COMMIT_EVERY_S (WAL, so a crash loses at most the rows
// of the last commit period, and readers can read while it writes), so the
// recording and the link never wait for the disk or for SQLite.
//
// A record that cannot be written (the file is not a record of this
// recording, another station is writing it, the disk is full, a file-size
// limit) stops there: its failure is told once through `on_failure` (on the
// record's thread), what was committed stays readable, and nothing else is
// touched. A queue that grows past MAX_QUEUED rows (the disk stalls) is a
// failure too, so memory stays bounded whatever the disk does. Qt-free.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "session/alarms.h"

namespace rt {

constexpr int RECORD_SCHEMA_VERSION = 2;
constexpr int64_t RECORD_APPLICATION_ID = 0x56475345;  // "VGSE"
// The first bytes of the recording the record's hash covers.
constexpr int64_t RECORD_HEAD_BYTES = 4096;

// The record's name beside a recording: "NAME.session" for "NAME.dat" (the
// extension replaced; added when there is none).
std::string record_path_for(const std::string& recording);

// FNV-1a 64 of `n` bytes, as 16 lower-case hex digits.
std::string head_hash_text(const uint8_t* bytes, size_t n);

struct RecordRun {
  std::string version, mode = "live", source, device, host;
  int64_t pid = 0;
  int64_t first_offset = 0;  // the recording's size when the run began
  double started = 0.0;      // seconds since 1970
};

// One row of each table (record/schema.sql says what each column holds).
struct FrameRow {
  double t = 0.0;
  int64_t offset = -1;  // -1: NULL
  int link_bytes = 0;
  int64_t skipped = 0;
  uint32_t counter = 0;
  double received = -1.0;  // a remote view's own reception time; < 0: NULL
};
struct EventRow {
  double t = 0.0;
  int64_t offset = 0;
  std::string kind, text;
  int64_t bytes = -1;  // -1: NULL
};
struct LogRow {
  double t = 0.0;
  int64_t offset = 0;
  std::string severity, text;
};
// An alarm row as it stands now, with its times as seconds since 1970, and
// (when `change` is not empty) the change that made it so.
struct AlarmRow {
  Alarm row;
  double first = 0.0, last = 0.0, acknowledged_at = -1.0;
  int64_t first_offset = 0;
  std::string change;  // "" (figures only), "raised", "raised again", ...
  double t = 0.0;      // of the change
  int64_t offset = 0;
  std::string text;
};

class RecordWriter {
 public:
  struct Options {
    double commit_every_s = 0.5;
    size_t max_queued = 65536;
    // A run whose heartbeat is older than this, and never ended, crashed:
    // another station may record on.
    double stale_after_s = 10.0;
  };
  static constexpr size_t MAX_QUEUED = 65536;

  // Starts writing the record at `path` for the recording at
  // `recording_path` (the file the station writes; its first bytes are
  // hashed from the disk as they arrive), for `run`. `on_failure` hears the
  // reason once, if the record fails.
  RecordWriter(std::string path, std::string recording_path, RecordRun run,
               std::function<void(const std::string& reason)> on_failure);
  RecordWriter(std::string path, std::string recording_path, RecordRun run,
               std::function<void(const std::string& reason)> on_failure, Options options);
  ~RecordWriter();
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Any thread.
  void add(FrameRow row);
  void add(EventRow row);
  void add(LogRow row);
  void add(AlarmRow row);
  // The recording's size now (the bytes the rows so far account for).
  void recorded_to(int64_t size) { recorded_.store(size, std::memory_order_relaxed); }

  // Waits until every row added so far is committed (or the record failed,
  // or `timeout_s` passed). False unless all were committed.
  bool flush(double timeout_s);
  // Writes what waits, marks the run ended, and leaves the record as one
  // file (its write-ahead log put back into it). False when the record
  // failed at any time.
  bool close();

  const std::string& path() const { return path_; }
  // Why the record failed ("" while it has not).
  std::string failure() const;
  int64_t frames_written() const { return frames_written_.load(); }

 private:
  using Item = std::variant<FrameRow, EventRow, LogRow, AlarmRow>;
  void push(Item item);
  void run();
  bool open_db();
  bool commit(std::vector<Item>& items, bool last);
  void fail(const std::string& reason);

  const std::string path_, recording_path_;
  RecordRun run_;
  std::function<void(const std::string&)> on_failure_;
  const Options options_;

  mutable std::mutex mu_;
  std::condition_variable wake_, committed_;
  std::vector<Item> queue_;
  uint64_t added_ = 0, done_ = 0;  // rows queued and rows committed (or dropped by a failure)
  bool stop_ = false;
  bool flush_wanted_ = false;
  bool failed_ = false;
  std::string failure_;
  std::atomic<int64_t> recorded_{0};
  std::atomic<int64_t> frames_written_{0};
  std::thread thread_;

  struct Db;
  std::unique_ptr<Db> db_;  // the record's thread only
};

}  // namespace rt
