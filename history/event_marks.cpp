#include "history/event_marks.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <ctime>

#include "session/output_file.h"

namespace rt {

namespace {

constexpr size_t TIME_LEN = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"

bool number(std::string_view s, size_t at, size_t n, int* out) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool log_entry_time(std::string_view text, double* t_s) {
  if (text.size() < TIME_LEN || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':' || text[19] != '.')
    return false;
  int year, month, day, hour, minute, second, ms;
  if (!number(text, 0, 4, &year) || !number(text, 5, 2, &month) || !number(text, 8, 2, &day) ||
      !number(text, 11, 2, &hour) || !number(text, 14, 2, &minute) || !number(text, 17, 2, &second) ||
      !number(text, 20, 3, &ms))
    return false;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return false;
  *t_s = static_cast<double>(t) + ms / 1000.0;
  return true;
}

bool is_note_text(std::string_view text) {
  return text.rfind("note by the operator: ", 0) == 0 || text.rfind("note (event script line ", 0) == 0;
}

bool event_mark(const LogEntry& entry, EventMark* mark) {
  if (!log_entry_time(entry.time, &mark->t_s)) return false;
  mark->severity = entry.severity;
  mark->text = entry.text;
  mark->note = is_note_text(entry.text);
  return true;
}

namespace {

// One line of a log file as a mark (false: not an entry).
bool line_mark(std::string_view line, EventMark* m) {
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // a file written in text mode on Windows
  if (!log_entry_time(line, &m->t_s) || line.size() < TIME_LEN + 2) return false;
  const std::string_view rest = line.substr(TIME_LEN + 1);
  const size_t space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  const std::string_view severity = rest.substr(0, space);
  if (severity == "ERROR") m->severity = Severity::Error;
  else if (severity == "WARN") m->severity = Severity::Warning;
  else if (severity == "INFO") m->severity = Severity::Info;
  else return false;
  m->text = std::string(rest.substr(space + 1));
  m->note = is_note_text(m->text);
  return true;
}

std::string size_text(int64_t bytes) {
  return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

}  // namespace

std::vector<EventMark> read_log_marks(const std::string& path, std::string* left_out, int64_t max_bytes) {
  std::vector<EventMark> out;
  std::string note;
  std::string why;
  bool missing = false;
  std::FILE* fp = open_input_file(path, &why, &missing);
  if (!fp) {
    if (left_out) *left_out = missing ? "" : "cannot read " + path + ": " + why + "; its events are not shown";
    return out;
  }
  std::string pending;  // the line read so far
  bool skipping = false;  // within a line longer than LOG_MARKS_MAX_LINE
  size_t long_lines = 0;
  int64_t read = 0;
  char buffer[64 * 1024];
  while (read < max_bytes) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof buffer, max_bytes - read));
    const size_t got = std::fread(buffer, 1, want, fp);
    if (got == 0) break;
    read += static_cast<int64_t>(got);
    std::string_view chunk(buffer, got);
    while (!chunk.empty()) {
      const size_t nl = chunk.find('\n');
      const std::string_view part = chunk.substr(0, nl);
      if (!skipping && pending.size() + part.size() > LOG_MARKS_MAX_LINE) {
        skipping = true;
        ++long_lines;
        pending.clear();
      }
      if (!skipping) pending.append(part);
      if (nl == std::string_view::npos) break;
      EventMark m;
      if (!skipping && line_mark(pending, &m)) out.push_back(std::move(m));
      pending.clear();
      skipping = false;
      chunk.remove_prefix(nl + 1);
    }
  }
  const bool more = read >= max_bytes && std::fgetc(fp) != EOF;
  const bool failed = std::ferror(fp) != 0;
  std::fclose(fp);
  EventMark m;
  if (!skipping && !more && line_mark(pending, &m)) out.push_back(std::move(m));  // a last line without its end
  if (more) note = "only the first " + size_text(max_bytes) + " of " + path + " read: the events after them are not shown";
  else if (failed) note = "cannot read " + path + " to its end: the events after " + size_text(read) + " are not shown";
  if (long_lines > 0)
    note += std::string(note.empty() ? "" : "; ") + std::to_string(long_lines) + " line" + (long_lines > 1 ? "s" : "") +
            " of " + path + " longer than " + std::to_string(LOG_MARKS_MAX_LINE / 1024) + " KiB passed over";
  if (left_out) *left_out = note;
  return out;
}

void ShownFrames::note(double t_s, long frame) {
  if (frame < 0 || (!seen_.empty() && seen_.back().second == frame)) return;
  if (!seen_.empty() && t_s < seen_.back().first) t_s = seen_.back().first;
  seen_.emplace_back(t_s, frame);
}

bool ShownFrames::frame_at(double t_s, long* frame) const {
  auto next = std::upper_bound(seen_.begin(), seen_.end(), t_s,
                               [](double t, const std::pair<double, long>& s) { return t < s.first; });
  if (next != seen_.end() && next->first <= t_s + SHOWN_AFTER_S) {
    *frame = next->second;
    return true;
  }
  if (next == seen_.begin()) return false;
  *frame = std::prev(next)->second;
  return true;
}

}  // namespace rt
