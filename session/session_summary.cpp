#include "session/session_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "present/json.h"

namespace rt {

namespace {

// The housekeeping displays in slot order, with the units the panel labels
// them in (the scale of each converter is in display/hkpg.cpp).
struct HkDisplay {
  std::string control;
  std::string what;
  const char* unit;
};

constexpr const char* VOLT = "V";
constexpr const char* AMPERE = "A";
constexpr const char* CELSIUS = "\u00b0C";

const std::vector<HkDisplay>& hk_table() {
  static const std::vector<HkDisplay> table = [] {
    std::vector<HkDisplay> t;
    for (int slot = 0; slot < 36; ++slot) {
      char name[16];
      std::snprintf(name, sizeof name, "PANEL_HK%02d", slot);
      // Slots 0-5 and 32-35: 0 to 10 V; 6-7: 0 to -10 V; 8-15: 0 to 0.1 A;
      // 16-31: temperatures.
      const char* unit = slot < 8 ? VOLT : slot < 16 ? AMPERE : slot < 32 ? CELSIUS : VOLT;
      t.push_back({name, "slot " + std::to_string(slot), unit});
    }
    t.push_back({"PANEL_HKHI", "slot 36 high byte", ""});
    t.push_back({"PANEL_HKLO", "slot 36 low byte", ""});
    t.push_back({"PANEL_HKRAW", "slots 37 to 39 (raw word)", ""});
    return t;
  }();
  return table;
}

std::string number(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// Thousands separated by commas, as the window shows byte counts.
std::string count(long long n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string seconds_text(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

std::string json_number_or_null(bool known, double v) { return known ? json_double(v) : "null"; }

// "  alarms: 3 (limit 2, link 1, recording 0), 1 never acknowledged" and a
// line per alarm.
void add_alarm_lines(const std::vector<Alarm>& alarms, std::vector<std::string>* out) {
  long long by_source[ALARM_SOURCES] = {};
  long long unacknowledged = 0;
  for (const Alarm& a : alarms) {
    ++by_source[static_cast<int>(a.source)];
    unacknowledged += !a.acknowledged;
  }
  std::string line = "  alarms: " + count(static_cast<long long>(alarms.size())) + " (";
  for (int k = 0; k < ALARM_SOURCES; ++k)
    line += std::string(k ? ", " : "") + alarm_source_name(static_cast<AlarmSource>(k)) + " " + count(by_source[k]);
  out->push_back(line + "), " + count(unacknowledged) + " never acknowledged");
  for (const Alarm& a : alarms) {
    std::string row = "    " + a.what + ": " + alarm_colour(a.severity) + ", " + count(a.occurrences) +
                      (a.occurrences == 1 ? " time, " : " times, ") + a.first_time + " to " + a.last_time;
    row += a.has_value ? ", worst " + a.worst_value + " (" + a.worst_limit + ")"
                       : ", longest " + duration_text(a.longest_s);
    row += ", now " + a.now + ", " +
           (a.acknowledged ? "acknowledged " + a.acknowledged_time : std::string("NOT ACKNOWLEDGED"));
    out->push_back(row);
  }
}

}  // namespace

int housekeeping_index(std::string_view control_name) {
  const auto& table = hk_table();
  for (size_t i = 0; i < table.size(); ++i)
    if (control_name == table[i].control) return static_cast<int>(i);
  return -1;
}

HousekeepingStats::HousekeepingStats() {
  for (const HkDisplay& d : hk_table()) {
    SlotStats s;
    s.control = d.control;
    s.what = d.what;
    s.unit = d.unit;
    slots_.push_back(s);
  }
}

void HousekeepingStats::add(int index, double value) {
  if (index < 0 || index >= static_cast<int>(slots_.size())) return;
  SlotStats& s = slots_[static_cast<size_t>(index)];
  if (s.count == 0) {
    s.min = s.max = value;
  } else {
    // NaN never becomes a limit; it still shows as the last value.
    if (value < s.min) s.min = value;
    if (value > s.max) s.max = value;
  }
  s.last = value;
  ++s.count;
}

void HousekeepingStats::set_shown(int index, const DisplayFormat& format) {
  if (index >= 0 && index < static_cast<int>(slots_.size())) slots_[static_cast<size_t>(index)].shown = format;
}

std::string duration_text(double seconds) {
  if (seconds < 60.0) return seconds_text(seconds);
  const long long total = static_cast<long long>(std::floor(seconds));
  const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
  std::string out;
  if (h > 0) out = std::to_string(h) + " h ";
  return out + std::to_string(m) + " min " + std::to_string(s) + " s";
}

std::vector<std::string> summary_lines(const SessionSummary& s) {
  const HealthSnapshot& h = s.health;
  std::vector<std::string> out;
  std::string before;
  for (const std::string& d : s.earlier_devices) before += (before.empty() ? "" : ", ") + d;
  std::string played;
  for (const std::string& r : s.earlier_sources) played += r + ", then ";
  out.push_back("summary: " + std::string(s.playback ? "playback of " : "live on ") + played + s.source +
                (before.empty() ? "" : " (Connect to... from " + before + ")") + ", " +
                duration_text(s.duration_s) + " (" + s.started + " to " + s.ended + ")");
  std::string bytes = "  bytes " + std::string(s.playback ? "read " : "received ") + count(h.bytes_total);
  if (s.bytes_drained > 0)
    bytes += " (" + count(s.bytes_drained) + " of them waiting at a run start, drained and not recorded)";
  if (!s.playback) {
    if (!s.recording.empty())
      bytes += ", recorded " + count(s.bytes_recorded) + " to " + s.recording + " (" +
               count(s.bytes_missing) + " missing, " + count(s.recording_losses) +
               " recording losses)";
    else
      bytes += ", NOT RECORDED" + (s.recording_failure.empty() ? "" : ": " + s.recording_failure);
  }
  out.push_back(bytes);
  std::string frames = "  good frames " + count(h.good_frames) + "; failures:";
  for (int k = 0; k < FAILURE_KINDS; ++k)
    frames += std::string(k ? ", " : " ") + failure_name(static_cast<Failure>(k)) + " " +
              count(h.failures_total[static_cast<size_t>(k)]);
  frames += "; bytes skipped " + (h.skipped >= 0 ? count(h.skipped) : std::string("-"));
  out.push_back(frames);
  out.push_back("  longest time without a good frame " + duration_text(h.longest_gap_s) +
                (s.playback ? "" : "; port losses " + count(h.port_losses)));
  if (!s.playback) {
    out.push_back("  sent: acknowledgements " + count(s.acks_sent) + ", commands " +
                  count(s.commands_sent));
    for (const SessionSummary::Sent& c : s.commands) out.push_back("    " + c.time + " " + c.what);
  }
  for (const SummaryPart& part : s.parts) out.insert(out.end(), part.lines.begin(), part.lines.end());
  out.push_back("  log " + (s.log_file.empty() ? std::string("kept in the window only") : s.log_file) +
                (s.log_failure.empty() ? "" : " (LOG FILE FAILED: " + s.log_failure + ")"));
  if (!s.summary_failure.empty()) out.push_back("  SUMMARY FILE FAILED: " + s.summary_failure);
  add_alarm_lines(s.alarms, &out);
  out.push_back("  housekeeping (min / max / last):");
  for (const SlotStats& slot : s.housekeeping) {
    std::string line = "    " + slot.control.substr(6) + " " + slot.what + ": ";
    if (slot.count == 0) {
      line += "-";
    } else if (!slot.shown.unit.empty()) {
      // As the panel shows it: its unit, scale and digits.
      auto shown = [&slot](double v) { return format_display_double(v, slot.shown); };
      line += shown(slot.min) + " / " + shown(slot.max) + " / " + shown(slot.last) + " " + slot.shown.unit;
    } else {
      const std::string unit = slot.unit.empty() ? "" : " " + slot.unit;
      line += number(slot.min) + " / " + number(slot.max) + " / " + number(slot.last) + unit;
    }
    out.push_back(line);
  }
  return out;
}

std::string summary_json(const SessionSummary& s) {
  const HealthSnapshot& h = s.health;
  auto integer = [](long long n) { return std::to_string(n); };
  std::string j = "{";
  auto key = [&j](std::string_view k, const std::string& value) {
    if (j.size() > 1) j += ",";
    j += json_string(k) + ":" + value;
  };
  key("version", json_string(s.version));
  key("mode", json_string(s.playback ? "playback" : "live"));
  key("source", json_string(s.source));
  if (!s.playback) {
    std::string devices = "[";
    for (const std::string& d : s.earlier_devices) devices += json_string(d) + ",";
    key("devices", devices + json_string(s.source) + "]");
  } else {
    std::string recordings = "[";
    for (const std::string& r : s.earlier_sources) recordings += json_string(r) + ",";
    key("recordings", recordings + json_string(s.source) + "]");
  }
  key("started", json_string(s.started));
  key("ended", json_string(s.ended));
  key("duration_s", json_double(s.duration_s));
  key("bytes_received", integer(h.bytes_total));
  key("bytes_recorded", integer(s.bytes_recorded));
  key("bytes_missing", integer(s.bytes_missing));
  key("bytes_drained", integer(s.bytes_drained));
  key("good_frames", integer(h.good_frames));
  std::string failures = "{";
  const char* names[FAILURE_KINDS] = {"checksum", "illegal_escape", "read_failure", "other"};
  for (int k = 0; k < FAILURE_KINDS; ++k)
    failures += std::string(k ? "," : "") + json_string(names[k]) + ":" +
                integer(h.failures_total[static_cast<size_t>(k)]);
  key("failures", failures + "}");
  key("bytes_skipped", h.skipped >= 0 ? integer(h.skipped) : "null");
  key("longest_gap_s", json_double(h.longest_gap_s));
  key("port_losses", integer(h.port_losses));
  key("recording", json_string(s.recording));
  key("recording_failure", json_string(s.recording_failure));
  key("recording_losses", integer(s.recording_losses));
  key("acks_sent", integer(s.acks_sent));
  key("commands_sent", integer(s.commands_sent));
  std::string commands = "[";
  for (const SessionSummary::Sent& c : s.commands)
    commands += std::string(commands.size() > 1 ? "," : "") + "{\"time\":" + json_string(c.time) +
                ",\"what\":" + json_string(c.what) + "}";
  key("commands", commands + "]");
  key("log_file", json_string(s.log_file));
  key("log_failure", json_string(s.log_failure));
  std::string hk = "[";
  for (const SlotStats& slot : s.housekeeping) {
    if (hk.size() > 1) hk += ",";
    const bool known = slot.count > 0;
    hk += "{\"control\":" + json_string(slot.control) + ",\"what\":" + json_string(slot.what) +
          ",\"unit\":" + json_string(slot.unit) + ",\"count\":" + integer(slot.count) +
          ",\"min\":" + json_number_or_null(known, slot.min) +
          ",\"max\":" + json_number_or_null(known, slot.max) +
          ",\"last\":" + json_number_or_null(known, slot.last) + "}";
  }
  key("housekeeping", hk + "]");
  long long by_source[ALARM_SOURCES] = {};
  long long unacknowledged = 0;
  std::string alarms = "[";
  for (const Alarm& a : s.alarms) {
    ++by_source[static_cast<int>(a.source)];
    unacknowledged += !a.acknowledged;
    if (alarms.size() > 1) alarms += ",";
    alarms += "{\"id\":" + integer(static_cast<long long>(a.id)) +
              ",\"source\":" + json_string(alarm_source_name(a.source)) + ",\"key\":" + json_string(a.key) +
              ",\"what\":" + json_string(a.what) + ",\"severity\":" + json_string(alarm_colour(a.severity)) +
              ",\"first\":" + json_string(a.first_time) + ",\"last\":" + json_string(a.last_time) +
              ",\"occurrences\":" + integer(a.occurrences) +
              ",\"worst\":" + json_number_or_null(a.has_value, a.worst_number) +
              ",\"worst_text\":" + json_string(a.worst_value) + ",\"worst_limit\":" + json_string(a.worst_limit) +
              ",\"longest_s\":" + json_double(a.longest_s) + ",\"active\":" + (a.active ? "true" : "false") +
              ",\"now\":" + json_string(a.now) + ",\"acknowledged\":" + (a.acknowledged ? "true" : "false") +
              ",\"acknowledged_at\":" + json_string(a.acknowledged_time) + "}";
  }
  std::string sources = "{";
  for (int k = 0; k < ALARM_SOURCES; ++k)
    sources += std::string(k ? "," : "") + json_string(alarm_source_name(static_cast<AlarmSource>(k))) + ":" +
               integer(by_source[k]);
  key("alarms_by_source", sources + "}");
  key("alarms_unacknowledged", integer(unacknowledged));
  key("alarms", alarms + "]");
  for (const SummaryPart& part : s.parts) key(part.key, part.json);
  return j + "}\n";
}

}  // namespace rt
