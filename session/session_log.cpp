#include "session/session_log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "session/local_time.h"
#include "session/outcome.h"
#include "session/output_file.h"

namespace rt {

// ----- Coalescing --------------------------------------------------------------

void LogCoalescer::close(const std::string& text, Storm& storm, std::vector<Line>* out) {
  if (storm.held == 0) return;  // every occurrence is already in the log
  const long span_s = std::max(1L, static_cast<long>(std::ceil(storm.last_s - storm.first_s)));
  out->push_back({storm.severity, text + " \u00d7" + std::to_string(storm.count) + " in " +
                                      std::to_string(span_s) + " s"});
}

void LogCoalescer::add(Severity severity, std::string_view text, double t_s, std::vector<Line>* out) {
  tick(t_s, out);
  const size_t slot = slot_of(text);
  auto it = watched_in_slot_[slot] != 0 ? storms_.find(text) : storms_.end();
  if (it == storms_.end()) {
    if (storms_.size() < MAX_WATCHED) {
      const auto made = storms_.emplace(std::string(text), Storm{severity, t_s, COALESCE_S, t_s, 1, 0}).first;
      due_.emplace(t_s + COALESCE_S, &made->first);
      ++watched_in_slot_[slot];
    }
    out->push_back({severity, std::string(text)});
    return;
  }
  ++it->second.count;
  ++it->second.held;
  it->second.last_s = t_s;
}

void LogCoalescer::tick(double t_s, std::vector<Line>* out) {
  while (!due_.empty() && due_.top().first <= t_s) {
    const std::string& text = *due_.top().second;
    due_.pop();
    auto it = storms_.find(text);
    Storm& storm = it->second;
    close(it->first, storm, out);
    if (storm.held > 0 && t_s - storm.last_s < COALESCE_S) {
      // Still raging: count the next, longer window, without logging its
      // first.
      storm.first_s = t_s;
      storm.window_s = std::min(storm.window_s * 2.0, COALESCE_MAX_S);
      storm.count = 0;
      storm.held = 0;
      due_.emplace(storm.first_s + storm.window_s, &it->first);
    } else {
      --watched_in_slot_[slot_of(it->first)];
      storms_.erase(it);
    }
  }
}

std::vector<LogCoalescer::Line> LogCoalescer::flush() {
  std::vector<Line> out;
  // In the order of their texts.
  std::vector<std::pair<const std::string*, Storm*>> open;
  for (auto& [text, storm] : storms_) open.emplace_back(&text, &storm);
  std::sort(open.begin(), open.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
  for (auto& [text, storm] : open) close(*text, *storm, &out);
  storms_.clear();
  due_ = {};
  std::fill(watched_in_slot_.begin(), watched_in_slot_.end(), 0);
  return out;
}

// ----- The session's log -------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

struct Log {
  std::mutex mu;
  const Clock::time_point start = Clock::now();
  LogCoalescer coalescer;
  bool storms_open = false;  // cheap test for log_tick
  std::deque<LogEntry> history;
  uint64_t serial = 0;
  FILE* file = nullptr;
  std::string path;
  long long file_bytes = 0;
  long long max_bytes = LOG_FILE_MAX_BYTES;
  std::string failure;
  std::vector<LogCoalescer::Line> lines;  // an entry's lines, the vector kept
  std::string file_line;                  // a line for the file, its room kept
};

// The entries made under the lock, told to the listener once it is
// released. Each thread keeps its own and fills it again: the entries'
// texts keep their room (fast playback logs thousands a second).
struct Made {
  std::vector<LogEntry> entries;
  size_t count = 0;
  void add(const LogEntry& e) {
    if (count == entries.size()) entries.emplace_back();
    entries[count++] = e;
  }
};

Log& lg() {
  static Log log;
  return log;
}

std::atomic<LogListener> listener{nullptr};

// Outside the lock: the listener hears of the entries made.
void tell_listener(const Made& made) {
  const LogListener l = listener.load();
  if (!l) return;
  for (size_t i = 0; i < made.count; ++i) l(made.entries[i]);
}

double now_s(const Log& log) {
  return std::chrono::duration<double>(Clock::now() - log.start).count();
}

// Under the lock. Returns a failure message to report once unlocked, or "".
std::string write_file_line(Log& log, const std::string& line) {
  if (!log.file) return "";
  if (log.file_bytes + static_cast<long long>(line.size()) > log.max_bytes) {
    std::fclose(log.file);
    log.file = nullptr;
    const std::string old = log.path + ".1";
    // A rotation that fails would let the file grow past its bound: the file
    // log ends there instead (said once; the window's log goes on).
    errno = 0;
    if (std::remove(old.c_str()) != 0 && errno != ENOENT) {
      log.failure = "cannot rotate log file " + log.path + ": cannot remove " + old + ": " + std::strerror(errno);
      return log.failure;
    }
    if (std::rename(log.path.c_str(), old.c_str()) != 0) {
      log.failure = "cannot rotate log file " + log.path + " to " + old + ": " + std::strerror(errno);
      return log.failure;
    }
    std::string reason;
    log.file = open_output_file(log.path, true, true, &reason);
    log.file_bytes = 0;
    if (!log.file) {
      log.failure = "cannot start a new log file " + log.path + ": " + reason;
      return log.failure;
    }
  }
  errno = 0;
  if (std::fputs(line.c_str(), log.file) < 0 || std::fflush(log.file) != 0) {
    const int err = errno;
    log.failure = "cannot write log file " + log.path + ": " + std::strerror(err != 0 ? err : EIO);
    std::fclose(log.file);
    log.file = nullptr;
    return log.failure;
  }
  log.file_bytes += static_cast<long long>(line.size());
  return "";
}

// Under the lock: "TIME LEVEL text" and a newline for the file, in the
// log's buffer (its room kept).
const std::string& file_line(Log& log, const LogEntry& e) {
  std::string& line = log.file_line;
  return line.assign(e.time).append(" ").append(severity_name(e.severity)).append(" ").append(e.text).append("\n");
}

// Under the lock: keeps the entries of `lines` (emptied) and writes them to
// the file; with `made`, a copy of each for the listener.
std::string append(Log& log, std::vector<LogCoalescer::Line>& lines, Made* made = nullptr) {
  std::string failure;
  for (auto& l : lines) {
    // The oldest entry kept makes room for the newest, and lends it its texts' room.
    LogEntry e;
    if (log.history.size() >= LOG_HISTORY) {
      e = std::move(log.history.front());
      log.history.pop_front();
    }
    e.serial = ++log.serial;
    const auto now = std::chrono::system_clock::now();
    local_time_text(now, true, &e.time);
    e.t_s = std::chrono::duration<double>(now.time_since_epoch()).count();
    e.severity = l.severity;
    e.text = std::move(l.text);
    if (log.file) {
      const std::string failed = write_file_line(log, file_line(log, e));
      if (failure.empty()) failure = failed;
    }
    if (made && listener.load()) made->add(e);
    log.history.push_back(std::move(e));
  }
  lines.clear();
  return failure;
}

// Outside the lock: a file log that failed says so once, and the failure
// stays in the entries the window shows.
void report_file_failure(const std::string& failure) {
  if (failure.empty()) return;
  say("LOG FILE FAILED: " + failure + "; the log goes on in the window only");
  note_exit_status(EXIT_OUTPUT_FAILED);
  Log& log = lg();
  Made made;
  {
    std::lock_guard lock(log.mu);
    std::vector<LogCoalescer::Line> lines{{Severity::Error, "log file failed: " + failure}};
    append(log, lines, &made);
  }
  tell_listener(made);
}

// Under the log's lock, `add` puts the coalescer's lines into the log's
// vector (false: nothing to do); they become entries, and the listener is
// told of them once the lock is released. Each thread reuses one Made; a
// listener that logs while it is told gets a fresh one.
template <typename Add>
void make_entries(Add add) {
  Log& log = lg();
  thread_local Made kept;
  thread_local int depth = 0;
  Made fresh;
  Made& made = depth == 0 ? kept : fresh;
  made.count = 0;
  struct Depth {
    int& n;
    explicit Depth(int& count) : n(++count) {}
    ~Depth() { --n; }
  } in(depth);
  std::string failure;
  {
    std::lock_guard lock(log.mu);
    log.lines.clear();
    if (!add(log, &log.lines)) return;
    failure = append(log, log.lines, &made);
  }
  tell_listener(made);
  report_file_failure(failure);
}

}  // namespace

void log_set_listener(LogListener l) { listener.store(l); }

void log_event(Severity severity, std::string_view text) {
  make_entries([&](Log& log, std::vector<LogCoalescer::Line>* out) {
    log.coalescer.add(severity, text, now_s(log), out);
    log.storms_open = true;
    return true;
  });
}

void log_tick() {
  make_entries([](Log& log, std::vector<LogCoalescer::Line>* out) {
    if (!log.storms_open) return false;
    log.coalescer.tick(now_s(log), out);
    return true;
  });
}

bool log_open_file(const std::string& path, std::string* error, long long max_bytes) {
  Log& log = lg();
  std::lock_guard lock(log.mu);
  if (log.file) std::fclose(log.file);
  std::string reason;
  log.file = open_output_file(path, true, true, &reason);
  if (!log.file) {
    log.failure = "cannot write log file " + path + ": " + reason;
    if (error) *error = log.failure;
    return false;
  }
  std::fseek(log.file, 0, SEEK_END);
  log.file_bytes = std::ftell(log.file);
  log.path = path;
  log.max_bytes = max_bytes;
  log.failure.clear();
  for (const LogEntry& e : log.history) {
    const std::string failed = write_file_line(log, file_line(log, e));
    if (!failed.empty()) {
      if (error) *error = failed;
      return false;
    }
  }
  return true;
}

std::string log_file_path() {
  std::lock_guard lock(lg().mu);
  return lg().file ? lg().path : std::string();
}

std::string log_file_failure() {
  std::lock_guard lock(lg().mu);
  return lg().failure;
}

void log_close() {
  Log& log = lg();
  std::string failure;
  Made made;
  {
    std::lock_guard lock(log.mu);
    std::vector<LogCoalescer::Line> lines = log.coalescer.flush();
    failure = append(log, lines, &made);
    log.storms_open = false;
  }
  tell_listener(made);
  report_file_failure(failure);
  std::lock_guard lock(log.mu);
  if (log.file) std::fclose(log.file);
  log.file = nullptr;
}

std::vector<LogEntry> log_entries_since(uint64_t serial) {
  std::lock_guard lock(lg().mu);
  const std::deque<LogEntry>& h = lg().history;
  // The newest are at the back: find where the new ones begin from there.
  auto first = h.end();
  while (first != h.begin() && std::prev(first)->serial > serial) --first;
  return std::vector<LogEntry>(first, h.end());
}

void reset_log_for_tests() {
  Log& log = lg();
  std::lock_guard lock(log.mu);
  if (log.file) std::fclose(log.file);
  log.file = nullptr;
  log.path.clear();
  log.failure.clear();
  log.file_bytes = 0;
  log.history.clear();
  log.coalescer = LogCoalescer{};
  log.storms_open = false;
}

}  // namespace rt
