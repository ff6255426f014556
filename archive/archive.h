// The campaign archive of one folder: archive.sqlite in it (schema.sql),
// indexing every recording (*.dat) found in the folder and its subfolders
// with what its session record and log add, and the search over them. It is
// an index only, made again from the files whenever it is missing, damaged
// or stale; it is never the only copy of anything.
//
// Indexing brings it up to date: a recording whose size or last change, or
// whose record or log, differ from what the archive holds is read again
// (session_scan.h), each in one transaction, so the archive is consistent
// whatever stops it (a crash, a disk that goes away, a second station
// indexing the same folder: it waits for the other's transaction). A
// recording no longer found keeps its row, marked not reachable (the disk
// may come back).
//
// An archive that cannot be written (a read-only folder), was written by a
// newer vst_gse or is not a vst_gse archive is left as it is: the index is
// then kept in memory for this run only, and note() says why in one line. A
// damaged one is set aside (archive.sqlite.damaged) and made again.
//
// One Archive belongs to one thread at a time. Qt-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "archive/session_scan.h"
#include "archive/session_source.h"
#include "record/sqlite.h"

namespace rt {

constexpr const char* ARCHIVE_FILE = "archive.sqlite";
constexpr int ARCHIVE_VERSION = 1;
constexpr int64_t ARCHIVE_APPLICATION_ID = 1447511873;  // "VGSA"
// Subfolders deeper than this are not looked into.
constexpr int ARCHIVE_MAX_DEPTH = 4;
// How long a write waits for another station's transaction on the archive.
constexpr int ARCHIVE_BUSY_MS = 10000;

struct SessionRow {
  int64_t session = 0;
  std::string folder;     // the archive's folder
  std::string recording;  // from the folder
  std::string path() const { return folder.empty() ? recording : folder + "/" + recording; }
  int64_t size = 0;
  double modified = 0.0;
  std::string head_hash;
  bool reachable = true;
  std::string record, record_state, times;
  double started = UNKNOWN_TIME, ended = UNKNOWN_TIME, duration_s = UNKNOWN_TIME;
  long frames = 0;
  int64_t failures = 0, checksum_failures = 0, illegal_escapes = 0, bytes_skipped = 0;
  double longest_gap_s = 0.0;
  std::string port, device, version, host;
  int64_t alarms = 0, alarms_unacknowledged = 0, notes = 0, commands = 0, port_losses = 0;
  bool live = false;
  std::string problem;
};

// Which sessions a search keeps: all conditions given must hold.
struct SessionFilter {
  double from_s = UNKNOWN_TIME, to_s = UNKNOWN_TIME;  // it overlaps [from, to] (either may be open)
  std::string text;   // every word in its notes or log (a word's start matches), or in its name
  std::string alarm;  // it had an alarm of this value ("HK16"; any case)
  bool port_lost = false;  // the port was lost at least once
};

struct IndexProgress {
  int files = 0;       // recordings found
  int done = 0;        // looked at so far
  std::string current; // the one being read
  double share = 0.0;  // of its bytes read
};

struct IndexOutcome {
  int sessions = 0;      // in the archive after the look
  int read = 0;          // read again (new or changed)
  int unchanged = 0;
  int unreachable = 0;   // rows whose recording was not found
  int not_recordings = 0;  // *.dat files without a frame
  int other_files = 0;   // files that are not *.dat, passed over unread
  bool stopped = false;
  int failures = 0;  // what could not be read or written (a folder, a recording, the archive)
  // One line each: what could not be read, and why.
  std::vector<std::string> problems;
};

class Archive {
 public:
  Archive() = default;
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // Opens the archive of `folder` (made when missing). False with *error
  // when the folder itself cannot be read; otherwise true, with note() set
  // when the archive is held in memory or was made again.
  bool open(const std::string& folder, std::string* error);
  const std::string& folder() const { return folder_; }
  const std::string& file() const { return file_; }
  bool in_memory() const { return in_memory_; }
  // Why the archive is not the file (or was made again), in one line; "".
  const std::string& note() const { return note_; }

  // Brings the archive up to date with the folder. `progress` is called as
  // it goes; `stop` ends it between two chunks (what was written stays
  // consistent).
  IndexOutcome index(const std::function<void(const IndexProgress&)>& progress = {},
                     const std::atomic<bool>* stop = nullptr);

  std::vector<SessionRow> sessions(const SessionFilter& filter = {});
  // False when the archive holds no such session.
  bool session(int64_t id, SessionRow* out);
  // One value's minutes in [from, to] (minutes since 1970), in order.
  std::vector<MinuteSummary> minutes(int64_t session, const std::string& value,
                                     int64_t from = std::numeric_limits<int64_t>::min(),
                                     int64_t to = std::numeric_limits<int64_t>::max());
  std::vector<SessionAlarm> alarms(int64_t session);
  // Its events and notes (not the log), by time.
  std::vector<SessionEntry> events(int64_t session);
  // The value keys of every alarm in the archive, sorted.
  std::vector<std::string> alarm_keys();

  // The clock that says whether a recording is still growing (seconds since
  // 1970; the system clock unless set: tests).
  void set_clock(std::function<double()> now) { clock_ = std::move(now); }

  // The last SQLite failure, as text naming the archive.
  const std::string& error() const { return error_; }

 private:
  bool open_file(std::string* why);
  bool prepare_schema(std::string* why);
  void use_memory(const std::string& why);
  bool set_aside_damaged(const std::string& why);
  bool damaged() const;
  IndexOutcome index_pass(const std::function<void(const IndexProgress&)>& progress, const std::atomic<bool>* stop);
  bool index_one(const std::string& relative, int64_t size, double modified, double now,
                 const std::function<void(const IndexProgress&)>& progress, IndexProgress* state,
                 const std::atomic<bool>* stop, IndexOutcome* outcome);
  bool write_session(int64_t id, const std::string& relative, const SessionSource& source,
                     const ScanFigures& figures, const std::string& problem);
  bool fail(const std::string& what);

  std::string folder_, file_, note_, error_;
  bool in_memory_ = false;
  std::function<double()> clock_;
  sql::Db db_;
};

// The archive file of `folder`.
std::string archive_path(const std::string& folder);

}  // namespace rt
