#include "archive/report.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "archive/report_values.h"
#include "archive/session_list.h"
#include "archive/session_scan.h"
#include "archive/session_source.h"
#include "history/pass.h"
#include "history/time_axis.h"
#include "history/values.h"

namespace rt {

namespace {

namespace fs = std::filesystem;

// The pictures' size in CSS pixels (they scale to the page's width).
constexpr int CHART_W = 720, CHART_H = 170;
constexpr int MARGIN_L = 64, MARGIN_R = 12, MARGIN_T = 10, MARGIN_B = 26;
// Good frames a minute on a link that never stops: 1920 bytes/s over 200.
constexpr double FULL_MINUTE_FRAMES = 60.0 * RECORDING_BYTES_PER_S / 200.0;

std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters from a file never reach the page.
        if (c < 0x20 && c != '\t') out += ' ';
        else out += static_cast<char>(c);
    }
  }
  return out;
}

std::string number(double x, int decimals) {
  if (!std::isfinite(x)) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  return text;
}

std::string when(double t_s) { return std::isnan(t_s) ? "" : clock_text(t_s, 1, true); }

// FNV-1a 64, fed in pieces.
struct Fnv {
  uint64_t h = 1469598103934665603ULL;
  void add(const uint8_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ULL;
    }
  }
  std::string text() const {
    char out[17];
    std::snprintf(out, sizeof out, "%016" PRIx64, h);
    return out;
  }
};

struct Scale {
  double x0, x1, y0, y1;
  double x(double v) const { return MARGIN_L + (v - x0) / (x1 - x0) * (CHART_W - MARGIN_L - MARGIN_R); }
  double y(double v) const { return CHART_H - MARGIN_B - (v - y0) / (y1 - y0) * (CHART_H - MARGIN_T - MARGIN_B); }
};

std::string svg_open(const std::string& label) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(CHART_W) + " " +
         std::to_string(CHART_H) + "\" role=\"img\" aria-label=\"" + escaped(label) + "\">\n";
}

// The frame of a chart: its box, the value axis's ends, the time axis's ends.
std::string svg_axes(const Scale& s, const std::string& y_low, const std::string& y_high) {
  char box[256];
  std::snprintf(box, sizeof box,
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#888\"/>\n", MARGIN_L,
                MARGIN_T, CHART_W - MARGIN_L - MARGIN_R, CHART_H - MARGIN_T - MARGIN_B);
  std::string out = box;
  out += "<text x=\"" + std::to_string(MARGIN_L - 4) + "\" y=\"" + std::to_string(MARGIN_T + 10) +
         "\" text-anchor=\"end\">" + escaped(y_high) + "</text>\n";
  out += "<text x=\"" + std::to_string(MARGIN_L - 4) + "\" y=\"" + std::to_string(CHART_H - MARGIN_B) +
         "\" text-anchor=\"end\">" + escaped(y_low) + "</text>\n";
  out += "<text x=\"" + std::to_string(MARGIN_L) + "\" y=\"" + std::to_string(CHART_H - 8) + "\">" +
         escaped(clock_text(s.x0 * 60.0, 0, true)) + "</text>\n";
  out += "<text x=\"" + std::to_string(CHART_W - MARGIN_R) + "\" y=\"" + std::to_string(CHART_H - 8) +
         "\" text-anchor=\"end\">" + escaped(clock_text(s.x1 * 60.0, 0, true)) + "</text>\n";
  return out;
}

// One value per minute: a band from its minimum to its maximum, its mean a
// line broken where minutes are missing.
std::string value_chart(const ValueInfo& v, const std::vector<MinuteSummary>& m) {
  const std::string label = v.key + " (" + v.what + ")" + (v.unit.empty() ? "" : ", " + v.unit);
  std::string out = svg_open(label);
  if (m.empty()) return out + "<text x=\"20\" y=\"80\">no sample of " + escaped(v.key) + "</text>\n</svg>\n";
  double lo = m.front().min, hi = m.front().max;
  for (const MinuteSummary& s : m) {
    lo = std::min(lo, s.min);
    hi = std::max(hi, s.max);
  }
  if (hi - lo < 1e-9) {
    lo -= 1.0;
    hi += 1.0;
  }
  const Scale s{static_cast<double>(m.front().minute), static_cast<double>(m.back().minute + 1), lo, hi};
  const int decimals = hi - lo >= 100 ? 0 : hi - lo >= 1 ? 2 : 4;
  out += svg_axes(s, number(lo, decimals), number(hi, decimals));
  for (const MinuteSummary& x : m) {
    char r[200];
    std::snprintf(r, sizeof r, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#9cc3e6\"/>\n",
                  s.x(x.minute), s.y(x.max), std::max(0.5, s.x(x.minute + 1) - s.x(x.minute)),
                  std::max(0.5, s.y(x.min) - s.y(x.max)));
    out += r;
  }
  std::string line;
  int64_t prev = INT64_MIN;
  for (const MinuteSummary& x : m) {
    if (x.minute != prev + 1 && !line.empty()) {
      out += "<polyline fill=\"none\" stroke=\"#1f4e79\" stroke-width=\"1.5\" points=\"" + line + "\"/>\n";
      line.clear();
    }
    line += number(s.x(x.minute + 0.5), 1) + "," + number(s.y(x.mean), 1) + " ";
    prev = x.minute;
  }
  out += "<polyline fill=\"none\" stroke=\"#1f4e79\" stroke-width=\"1.5\" points=\"" + line + "\"/>\n";
  return out + "</svg>\n";
}

// Good frames in each minute, against a link that never stops.
std::string link_chart(const std::vector<std::pair<int64_t, int>>& per_minute) {
  std::string out = svg_open("good frames per minute");
  if (per_minute.empty()) return out + "<text x=\"20\" y=\"80\">no good frame</text>\n</svg>\n";
  int most = 0;
  for (const auto& [minute, n] : per_minute) most = std::max(most, n);
  const double top = std::max<double>(most, FULL_MINUTE_FRAMES);
  const Scale s{static_cast<double>(per_minute.front().first), static_cast<double>(per_minute.back().first + 1), 0.0,
                top};
  out += svg_axes(s, "0", number(top, 0));
  for (const auto& [minute, n] : per_minute) {
    char r[200];
    std::snprintf(r, sizeof r, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"/>\n",
                  s.x(static_cast<double>(minute)), s.y(n),
                  std::max(0.5, s.x(minute + 1.0) - s.x(static_cast<double>(minute)) - 0.5), s.y(0) - s.y(n),
                  n >= FULL_MINUTE_FRAMES * 0.9 ? "#5a9e5a" : "#d9822b");
    out += r;
  }
  out += "<line x1=\"" + number(s.x(s.x0), 1) + "\" x2=\"" + number(s.x(s.x1), 1) + "\" y1=\"" +
         number(s.y(FULL_MINUTE_FRAMES), 1) + "\" y2=\"" + number(s.y(FULL_MINUTE_FRAMES), 1) +
         "\" stroke=\"#555\" stroke-dasharray=\"4 3\"/>\n";
  return out + "</svg>\n";
}

void row(std::string* out, const std::string& name, const std::string& value) {
  *out += "<tr><th>" + escaped(name) + "</th><td>" + escaped(value) + "</td></tr>\n";
}

const char* const STYLE = R"css(
body { font-family: sans-serif; font-size: 10.5pt; color: #111; max-width: 60em; margin: 1.5em auto; padding: 0 1em; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.15em; border-bottom: 1px solid #999; margin-top: 1.6em; }
table { border-collapse: collapse; margin: 0.4em 0; }
th, td { text-align: left; padding: 0.15em 0.6em; border-bottom: 1px solid #ddd; vertical-align: top; }
table.summary th { width: 14em; }
td.red { color: #b00020; font-weight: bold; }
td.amber { color: #9a5b00; font-weight: bold; }
svg { width: 100%; height: auto; font-size: 11px; font-family: sans-serif; }
figure { margin: 0.6em 0 1em 0; page-break-inside: avoid; break-inside: avoid; }
figcaption { font-weight: bold; }
p.note { color: #555; }
footer { margin-top: 2em; color: #555; font-size: 0.9em; }
@media print { body { margin: 0; max-width: none; } h2 { page-break-after: avoid; break-after: avoid; } }
)css";

}  // namespace

const std::vector<std::string>& default_report_values() {
  static const std::vector<std::string> keys{"HK00", "HK08", "HK16", "HK20"};
  return keys;
}

bool make_report(const std::string& recording, const ReportOptions& options, std::string* html, std::string* error) {
  std::vector<const ValueInfo*> values;
  for (const std::string& key : options.values) {
    const ValueInfo* v = find_value(key);
    if (!v || is_link_figure(*v)) {
      *error = "report: " + unknown_report_value(key);
      return false;
    }
    values.push_back(v);
  }
  double modified = 0.0;
  int64_t size = 0;
  if (!file_time(recording, &modified, &size)) {
    std::error_code ec;
    const bool there = fs::exists(recording, ec);
    *error = recording + ": " + (ec ? ec.message() : there ? std::string("cannot be looked at")
                                                          : std::string("No such file or directory"));
    return false;
  }
  const double now =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const SessionSource source = look_at_session(recording, size, modified, now);
  std::map<const ValueInfo*, std::vector<MinuteSummary>> minutes;
  Fnv whole;
  ScanRequest request;
  request.rules = source.rules;
  request.shown = source.shown;
  request.time_of = source.time_of;
  request.values = values;
  request.on_minute = [&](const ValueInfo& v, const MinuteSummary& m) { minutes[&v].push_back(m); };
  request.on_bytes = [&](const uint8_t* b, size_t n) { whole.add(b, n); };
  request.to = size;
  ScanFigures f;
  if (!scan_session(recording, request, &f, error)) return false;

  const std::string name = fs::path(recording).filename().string();
  std::string& out = *html;
  out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Session " + escaped(name) +
        "</title>\n<style>" + STYLE + "</style>\n</head>\n<body>\n";
  out += "<h1>Session " + escaped(name) + "</h1>\n";
  out += "<p>" + escaped(when(f.first_s)) + " to " + escaped(when(f.last_s)) + "</p>\n";
  if (source.record_state == "none")
    out += "<p class=\"note\">This recording has no session record: times are estimated from its " +
           std::string(source.times == "name" ? "name" : "last change") +
           " at the link's 1920 bytes a second; alarms, notes and commands are those its log names.</p>\n";
  else if (source.record_state != "used")
    out += "<p class=\"note\">" + escaped(source.record_state) + "</p>\n";
  if (source.live) out += "<p class=\"note\">The session was still being recorded when this report was made.</p>\n";

  out += "<h2>Summary</h2>\n<table class=\"summary\">\n";
  row(&out, "Recording", recording);
  row(&out, "Session record", source.record_path.empty() ? "none" : source.record_path);
  row(&out, "Started", when(f.first_s));
  row(&out, "Ended", when(f.last_s));
  row(&out, "Duration", hms_text(f.frames > 0 ? f.last_s - f.first_s : UNKNOWN_TIME));
  row(&out, "Good frames", std::to_string(f.frames));
  row(&out, "Failed frames", std::to_string(f.checksum_failures + f.illegal_escapes) + " (checksum " +
                                 std::to_string(f.checksum_failures) + ", illegal escape " +
                                 std::to_string(f.illegal_escapes) + ")");
  row(&out, "Bytes in no good frame", std::to_string(f.bytes_skipped));
  row(&out, "Longest gap between frames", number(f.longest_gap_s, 1) + " s");
  row(&out, "Port", source.port.empty() ? "not known" : source.port);
  row(&out, "Device", source.device.empty() ? "not known" : source.device);
  row(&out, "Recorded by", source.version.empty() ? "not known" : "vst_gse " + source.version +
                                                                       (source.host.empty() ? "" : " on " + source.host));
  row(&out, "Recording size", std::to_string(f.bytes_read) + " bytes");
  row(&out, "Recording hash", "FNV-1a 64 " + whole.text() + " (first 4096 bytes: " + f.head_hash + ")");
  out += "</table>\n";

  out += "<h2>Alarms</h2>\n";
  if (source.alarms.empty()) {
    out += "<p>No alarm.</p>\n";
  } else {
    out += "<table class=\"alarms\">\n<tr><th>Alarm</th><th>Severity</th><th>First</th><th>Last</th><th>Times</th>"
           "<th>Worst</th><th>Acknowledged</th></tr>\n";
    for (const SessionAlarm& a : source.alarms) {
      out += "<tr><td>" + escaped(a.what) + "</td><td class=\"" + (a.severity == "red" ? "red" : "amber") + "\">" +
             escaped(a.severity) + "</td><td>" + escaped(when(a.first_s)) + "</td><td>" + escaped(when(a.last_s)) +
             "</td><td>" + std::to_string(a.occurrences) + "</td><td>" + escaped(a.worst_text) +
             (a.worst_limit.empty() ? "" : " (" + escaped(a.worst_limit) + ")") + "</td><td>" +
             (a.acknowledged || !std::isnan(a.acknowledged_s) ? escaped(when(a.acknowledged_s))
                                                              : std::string("not acknowledged")) +
             "</td></tr>\n";
    }
    out += "</table>\n";
    if (source.pass && !source.pass->alarm_events.empty()) {
      out += "<table class=\"alarm-events\">\n<tr><th>Time</th><th>Change</th><th>Alarm</th></tr>\n";
      for (const PassAlarmEvent& e : source.pass->alarm_events)
        out += "<tr><td>" + escaped(when(e.t_s)) + "</td><td>" + escaped(e.change) + "</td><td>" + escaped(e.text) +
               "</td></tr>\n";
      out += "</table>\n";
    }
  }

  auto list = [&](const char* title, const char* kind, const char* none) {
    out += std::string("<h2>") + title + "</h2>\n";
    std::string rows;
    for (const SessionEntry& e : source.events)
      if (e.kind == kind)
        rows += "<tr><td>" + escaped(when(e.t_s)) + "</td><td>" + escaped(e.text) + "</td></tr>\n";
    out += rows.empty() ? std::string("<p>") + none + "</p>\n"
                        : "<table class=\"" + std::string(kind) + "\">\n" + rows + "</table>\n";
  };
  list("Notes", "note", "No note.");
  list("Commands", "command", "No command sent.");

  out += "<h2>Link</h2>\n<figure>\n<figcaption>Good frames per minute (dashed: a link that never stops, " +
         number(FULL_MINUTE_FRAMES, 0) + ")</figcaption>\n" + link_chart(f.frames_per_minute) + "</figure>\n";
  std::string link_rows;
  for (const SessionEntry& e : source.events)
    if (e.kind != "note" && e.kind != "command")
      link_rows += "<tr><td>" + escaped(when(e.t_s)) + "</td><td>" + escaped(e.kind) + "</td><td>" + escaped(e.text) +
                   "</td></tr>\n";
  out += link_rows.empty() ? "<p>No link event.</p>\n" : "<table class=\"link\">\n" + link_rows + "</table>\n";

  out += "<h2>Trends</h2>\n<p>Each value's minimum to maximum in every minute (band) and its mean (line).</p>\n";
  for (const ValueInfo* v : values)
    out += "<figure>\n<figcaption>" + escaped(v->key + ": " + v->what + (v->unit.empty() ? "" : " (" + v->unit + ")")) +
           "</figcaption>\n" + value_chart(*v, minutes[v]) + "</figure>\n";

  out += "<footer>Made by vst_gse" + (options.version.empty() ? "" : " " + escaped(options.version)) + " on " +
         escaped(when(now)) + " from the recording and its session record alone.</footer>\n</body>\n</html>\n";
  return true;
}

bool write_report(const std::string& recording, const std::string& path, const ReportOptions& options,
                  std::string* error) {
  std::string html;
  if (!make_report(recording, options, &html, error)) return false;
  const std::string part = path + ".part";
  std::FILE* fp = std::fopen(part.c_str(), "wb");
  if (!fp) {
    *error = "cannot write report " + path + ": " + std::make_error_code(static_cast<std::errc>(errno)).message();
    return false;
  }
  const bool written = std::fwrite(html.data(), 1, html.size(), fp) == html.size();
  const int err = errno;
  if (std::fclose(fp) != 0 || !written) {
    *error = "cannot write report " + path + ": " + std::make_error_code(static_cast<std::errc>(written ? errno : err)).message();
    std::remove(part.c_str());
    return false;
  }
  std::error_code ec;
  fs::rename(part, path, ec);
  if (ec) {
    *error = "cannot write report " + path + ": " + ec.message();
    std::remove(part.c_str());
    return false;
  }
  return true;
}

}  // namespace rt
