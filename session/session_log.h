// The session log: what happened during a session, for the operator now
// (the window's log pane) and after the shift (a file: beside the recording
// in live mode, or --log FILE in any mode). Qt-free; any thread may call it.
//
// Each entry is one line: local time to the millisecond, severity, text.
// Identical texts that repeat are coalesced, so a noisy link cannot flood
// the log: the first is logged at once, the repeats are counted, and one line
// "TEXT ×N in S s" follows when the storm ends, or at the end of each window
// while it lasts. The first window is COALESCE_S; each further one is twice
// as long, up to COALESCE_MAX_S, so a fault that lasts a whole shift (a
// silent link) adds a few lines an hour, not hundreds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "present/severity.h"

namespace rt {


struct LogEntry {
  uint64_t serial = 0;  // 1, 2, 3, ... in the order the entries were made
  std::string time;     // local time, "YYYY-MM-DD HH:MM:SS.mmm"
  double t_s = 0.0;     // the same, seconds since 1970 (UTC)
  Severity severity = Severity::Info;
  std::string text;
};

// The coalescing rule alone, on an injected clock (seconds, any origin).
class LogCoalescer {
 public:
  static constexpr double COALESCE_S = 10.0;
  static constexpr double COALESCE_MAX_S = 600.0;
  // Distinct texts watched for repeats at once: beyond, a new text is
  // logged but not watched, so the watch's memory stays bounded.
  static constexpr size_t MAX_WATCHED = 4096;

  LogCoalescer() = default;
  // Moved, never copied: its queue points into its own table.
  LogCoalescer(LogCoalescer&&) = default;
  LogCoalescer& operator=(LogCoalescer&&) = default;
  LogCoalescer(const LogCoalescer&) = delete;
  LogCoalescer& operator=(const LogCoalescer&) = delete;

  struct Line {
    Severity severity;
    std::string text;
  };

  // The lines to log now for one occurrence of `text` at `t_s`: the text
  // itself when no storm of it is open; nothing while one is (it is
  // counted); the storm's count line once its window has run out.
  std::vector<Line> add(Severity severity, std::string_view text, double t_s) {
    std::vector<Line> out;
    add(severity, text, t_s, &out);
    return out;
  }
  // The same, appended to *out (the log keeps one vector for every entry).
  void add(Severity severity, std::string_view text, double t_s, std::vector<Line>* out);
  // The count lines of storms whose window has run out by `t_s`; those
  // storms end, so the text's next occurrence is logged at once again.
  std::vector<Line> tick(double t_s) {
    std::vector<Line> out;
    tick(t_s, &out);
    return out;
  }
  void tick(double t_s, std::vector<Line>* out);
  // The count lines of every open storm (at the end of the session).
  std::vector<Line> flush();

 private:
  struct Storm {
    Severity severity;
    double first_s;  // start of the current window
    double window_s; // its length
    double last_s;   // latest occurrence
    long count;      // occurrences in the window
    long held;       // of those, the ones not logged on their own
  };
  static void close(const std::string& text, Storm& storm, std::vector<Line>* out);
  // By text; looked up at every entry (thousands a second in fast playback).
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };
  std::unordered_map<std::string, Storm, TextHash, std::equal_to<>> storms_;
  // How many watched texts each slot of their hashes holds: a text whose
  // slot holds none is not watched, and storms_ is not searched for it (in
  // a flood of distinct texts nearly none is, and each search of a full
  // table waits on memory several times).
  static constexpr size_t SLOTS = 16384;
  static size_t slot_of(std::string_view text) { return TextHash()(text) % SLOTS; }
  std::vector<uint16_t> watched_in_slot_ = std::vector<uint16_t>(SLOTS, 0);
  // When each storm's window runs out, earliest first, so a tick looks only
  // at the storms that are due: thousands of distinct texts a second (fast
  // playback) must not make every entry walk them all. Each open storm has
  // one entry, naming it by its key in storms_ (a node's key stays where it
  // is until the node is erased, which only its own entry does); entries
  // due at the same time in the order of their texts.
  using Due = std::pair<double, const std::string*>;
  struct Later {
    bool operator()(const Due& a, const Due& b) const {
      return a.first != b.first ? a.first > b.first : *a.second > *b.second;
    }
  };
  std::priority_queue<Due, std::vector<Due>, Later> due_;
};

// Severity-tagged entry at the current time.
void log_event(Severity severity, std::string_view text);
inline void log_info(std::string_view text) { log_event(Severity::Info, text); }
inline void log_warning(std::string_view text) { log_event(Severity::Warning, text); }
inline void log_error(std::string_view text) { log_event(Severity::Error, text); }

// Told of every entry once it is made, on the thread that made it, after
// the log's lock is released (the session record keeps them). One listener;
// nullptr removes it.
using LogListener = void (*)(const LogEntry& entry);
void log_set_listener(LogListener listener);

// Ends storms whose window has run out. Cheap when none is open; the
// system's polls and the window's timer call it.
void log_tick();

// Writes the log to `path` (appending): first the entries kept so far (the
// session's start, made before the file was known), then one flushed line
// per entry. The file is bounded: beyond LOG_FILE_MAX_BYTES it is renamed to
// "PATH.1" (replacing an older one) and a new file begins (tests may give
// a smaller bound). Returns false
// with *error when the file cannot be opened. A later write failure ends
// the file log with one message (standard output and an entry), notes
// EXIT_OUTPUT_FAILED, and the log goes on in memory.
constexpr long long LOG_FILE_MAX_BYTES = 16LL * 1024 * 1024;
bool log_open_file(const std::string& path, std::string* error,
                   long long max_bytes = LOG_FILE_MAX_BYTES);
// The file being written ("" when none), and why the file log failed ("" if
// it did not).
std::string log_file_path();
std::string log_file_failure();

// Logs the count lines of open storms and closes the file.
void log_close();

// The newest entries kept in memory (at most LOG_HISTORY), after `serial`.
constexpr std::size_t LOG_HISTORY = 5000;
std::vector<LogEntry> log_entries_since(uint64_t serial);

// For tests: forgets every entry and storm, closes the file.
void reset_log_for_tests();

}  // namespace rt
