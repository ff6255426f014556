#include "archive/session_list.h"

#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

namespace rt {

namespace {

// What a session is now, in a word: live, gone (not reachable), its
// record refused, or nothing to say.
std::string state_word(const SessionRow& r) {
  if (!r.reachable) return "not found";
  if (r.live) return "live";
  if (r.record_state != "used" && r.record_state != "none") return "record refused";
  if (!r.problem.empty()) return "problem";
  return r.record.empty() ? "" : "record";
}

}  // namespace

std::string local_time_text(double t_s) {
  if (std::isnan(t_s)) return "";
  const std::time_t t = static_cast<std::time_t>(std::floor(t_s));
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string hms_text(double s) {
  if (std::isnan(s)) return "";
  const long long total = std::llround(std::max(0.0, s));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
  return text;
}

std::string sessions_text(const std::vector<SessionRow>& rows) {
  std::string out;
  char line[512];
  std::snprintf(line, sizeof line, "%-19s  %9s  %8s  %8s  %6s  %5s  %5s  %-14s  %-14s  %s\n", "started", "duration",
                "frames", "failures", "alarms", "notes", "lost", "port", "state", "recording");
  out += line;
  for (const SessionRow& r : rows) {
    std::snprintf(line, sizeof line, "%-19s  %9s  %8ld  %8lld  %6lld  %5lld  %5lld  %-14s  %-14s  ",
                  local_time_text(r.started).c_str(), hms_text(r.duration_s).c_str(), r.frames,
                  static_cast<long long>(r.failures), static_cast<long long>(r.alarms),
                  static_cast<long long>(r.notes), static_cast<long long>(r.port_losses),
                  r.port.empty() ? "-" : r.port.c_str(), state_word(r).c_str());
    out += line + r.recording + "\n";
  }
  return out;
}

std::string sessions_json(const std::string& archive_file, const std::vector<SessionRow>& rows,
                          const std::vector<std::string>& problems) {
  using nlohmann::json;
  auto time = [](double t) { return std::isnan(t) ? json() : json(t); };
  json list = json::array();
  for (const SessionRow& r : rows) {
    list.push_back({{"recording", r.recording},
                    {"path", r.path()},
                    {"record", r.record},
                    {"record_state", r.record_state},
                    {"times", r.times},
                    {"started", time(r.started)},
                    {"started_local", local_time_text(r.started)},
                    {"ended", time(r.ended)},
                    {"duration_s", time(r.duration_s)},
                    {"frames", r.frames},
                    {"failures", r.failures},
                    {"checksum_failures", r.checksum_failures},
                    {"illegal_escapes", r.illegal_escapes},
                    {"bytes_skipped", r.bytes_skipped},
                    {"longest_gap_s", r.longest_gap_s},
                    {"size", r.size},
                    {"head_hash", r.head_hash},
                    {"port", r.port},
                    {"device", r.device},
                    {"version", r.version},
                    {"host", r.host},
                    {"alarms", r.alarms},
                    {"alarms_unacknowledged", r.alarms_unacknowledged},
                    {"notes", r.notes},
                    {"commands", r.commands},
                    {"port_losses", r.port_losses},
                    {"live", r.live},
                    {"reachable", r.reachable},
                    {"problem", r.problem}});
  }
  // Text from files (names, notes) may hold anything: replaced, never thrown on.
  return json{{"archive", archive_file}, {"sessions", list}, {"problems", problems}}.dump(
             2, ' ', false, json::error_handler_t::replace) +
         "\n";
}

int sessions_command(const std::string& folder, bool json, std::FILE* out, std::FILE* err) {
  Archive archive;
  std::string error;
  if (!archive.open(folder, &error)) {
    std::fprintf(err, "vst_gse: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> problems;
  if (!archive.note().empty()) problems.push_back(archive.note());
  const IndexOutcome outcome = archive.index();
  problems.insert(problems.end(), outcome.problems.begin(), outcome.problems.end());
  const std::vector<SessionRow> rows = archive.sessions();
  for (const std::string& p : problems) std::fprintf(err, "vst_gse: %s\n", p.c_str());
  const std::string text = json ? sessions_json(archive.file(), rows, problems) : sessions_text(rows);
  std::fputs(text.c_str(), out);
  std::fflush(out);
  return outcome.failures > 0 ? 1 : 0;
}

}  // namespace rt
