#include "history/time_axis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "display/decoder.h"
#include "history/event_marks.h"
#include "runtime/session_watch.h"
#include "session/local_time.h"

namespace rt {

namespace {

constexpr int NAME_DIGITS = 8;
constexpr int DECADE = 10;
constexpr int DECADES_TRIED = 3;  // a start this far back is no longer plausible
constexpr int TM_YEAR_BASE = 1900;

bool digits(const std::string& s, size_t at, size_t n, int* out) {
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

// Local midnight of `year`'s first day plus the day, hour and minute, or -1
// when that day is not in the year.
std::time_t local_start(int year, int yday, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - TM_YEAR_BASE;
  tm.tm_mon = 0;
  tm.tm_mday = yday + 1;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;  // the platform knows whether summer time applied
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) || tm.tm_yday != yday || tm.tm_year != year - TM_YEAR_BASE) return -1;
  return t;
}

}  // namespace

bool recording_start_from_name(const std::string& path, std::time_t not_after, double* start_s) {
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() != NAME_DIGITS + 4 || name.compare(NAME_DIGITS, 4, ".dat") != 0) return false;
  int year_digit, yday, hour, minute;
  if (!digits(name, 0, 1, &year_digit) || !digits(name, 1, 3, &yday) || !digits(name, 4, 2, &hour) ||
      !digits(name, 6, 2, &minute))
    return false;
  if (yday > 365 || hour > 23 || minute > 59) return false;
  const int latest = local_tm(not_after).tm_year + TM_YEAR_BASE;
  int year = latest - ((latest - year_digit) % DECADE + DECADE) % DECADE;
  for (int tries = 0; tries < DECADES_TRIED; ++tries, year -= DECADE) {
    const std::time_t t = local_start(year, yday, hour, minute);
    if (t >= 0 && t <= not_after) {
      *start_s = static_cast<double>(t);
      return true;
    }
  }
  return false;
}

bool recording_start(const std::string& path, std::time_t not_after, double* start_s, bool* from_log) {
  return recording_start(path, not_after, read_log_marks(log_beside(path)), start_s, from_log);
}

bool recording_start(const std::string& path, std::time_t not_after, const std::vector<EventMark>& log,
                     double* start_s, bool* from_log) {
  *from_log = false;
  if (!recording_start_from_name(path, not_after, start_s)) return false;
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (const EventMark& m : log) {
    const std::string said = "recording to ";
    if (m.text.compare(0, said.size(), said) != 0) continue;
    const std::string named = m.text.substr(said.size());
    const bool same = named == name || (named.size() > name.size() &&
                                        named.compare(named.size() - name.size(), name.size(), name) == 0 &&
                                        (named[named.size() - name.size() - 1] == '/' ||
                                         named[named.size() - name.size() - 1] == '\\'));
    // The first run that recorded to it began the file; a log entry outside
    // the name's minute is of another file of that name.
    if (same && m.t_s >= *start_s && m.t_s < *start_s + 60.0) {
      *start_s = m.t_s;
      *from_log = true;
    }
    if (same) break;
  }
  return true;
}

std::string clock_text(double t_s, int decimals, bool date) {
  const double whole = std::floor(t_s);
  const std::tm tm = local_tm(static_cast<std::time_t>(whole));
  char text[48];
  size_t n = std::strftime(text, sizeof text, date ? "%Y-%m-%d %H:%M:%S" : "%H:%M:%S", &tm);
  if (decimals > 0) {
    int scale = 1;
    for (int i = 0; i < decimals && i < 3; ++i) scale *= 10;
    int frac = static_cast<int>(std::floor((t_s - whole) * scale));
    if (frac >= scale) frac = scale - 1;
    std::snprintf(text + n, sizeof text - n, ".%0*d", decimals < 3 ? decimals : 3, frac);
  }
  return text;
}

std::string iso_local_text(double t_s) {
  std::string text = clock_text(t_s, 3, true);
  text[10] = 'T';
  return text;
}

std::string elapsed_axis_text(double elapsed_s) {
  // As the panel writes it, to the millisecond the instrument counts in.
  const double ms = std::clamp(std::round(elapsed_s * 1000.0), double{INT32_MIN}, double{INT32_MAX});
  char text[48];
  format_elapsed(static_cast<int32_t>(ms), text, sizeof text);
  return text;
}

}  // namespace rt
