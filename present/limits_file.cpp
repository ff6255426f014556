#include "present/limits_file.h"

#include <charconv>
#include <cmath>
#include <set>

namespace rt {

namespace {

constexpr const char* KEYS[] = {"caution", "alarm", "hysteresis", "enabled"};
constexpr int KEY_COUNT = 4;

std::string range_field(const std::optional<LimitRange>& r) {
  if (!r) return "none";
  std::string text;
  if (std::isfinite(r->low)) text += limit_number_text(r->low);
  text += "..";
  if (std::isfinite(r->high)) text += limit_number_text(r->high);
  return text;
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_space(line[at])) ++at;
    const size_t from = at;
    while (at < line.size() && !is_space(line[at])) ++at;
    if (at > from) out.push_back(line.substr(from, at - from));
  }
  return out;
}

// One key's value into `limits`. False with *why.
bool read_key(int key, std::string_view value, Limits* limits, std::string* why) {
  switch (key) {
    case 0:
    case 1: {
      std::optional<LimitRange>& range = key == 0 ? limits->caution : limits->alarm;
      if (value == "none") {
        range.reset();
        return true;
      }
      LimitRange r;
      if (!parse_limit_range(value, &r, why)) return false;
      range = r;
      return true;
    }
    case 2: {
      if (value == "default") {
        limits->hysteresis = -1.0;
        return true;
      }
      double h = 0.0;
      if (!parse_limit_number(value, &h) || h < 0.0) {
        *why = "hysteresis \"" + std::string(value) + "\" is neither a number 0 or more nor default";
        return false;
      }
      limits->hysteresis = h;
      return true;
    }
    default:
      if (value == "yes" || value == "no") {
        limits->enabled = value == "yes";
        return true;
      }
      *why = "enabled \"" + std::string(value) + "\" is neither yes nor no";
      return false;
  }
}

// One slot's line (no comment, not blank). False with *why.
bool read_line(std::string_view line, const std::function<bool(std::string_view)>& known,
               SlotLimits* slot, std::string* why) {
  const std::vector<std::string_view> w = words(line);
  if (!known(w[0])) {
    *why = "\"" + std::string(w[0]) + "\" is not a slot of the panel (HK00 to HK35, HKHI, HKLO, HKRAW)";
    return false;
  }
  slot->label = std::string(w[0]);
  bool given[KEY_COUNT] = {};
  for (size_t i = 1; i < w.size(); ++i) {
    const size_t eq = w[i].find('=');
    const std::string_view name = w[i].substr(0, eq);
    int key = -1;
    for (int k = 0; k < KEY_COUNT; ++k)
      if (name == KEYS[k]) key = k;
    if (eq == std::string_view::npos || key < 0) {
      *why = "\"" + std::string(w[i]) + "\" is not one of caution=, alarm=, hysteresis=, enabled=";
      return false;
    }
    if (given[key]) {
      *why = std::string(KEYS[key]) + " is given twice";
      return false;
    }
    given[key] = true;
    if (!read_key(key, w[i].substr(eq + 1), &slot->limits, why)) return false;
  }
  for (int k = 0; k < KEY_COUNT; ++k) {
    if (!given[k]) {
      *why = std::string(KEYS[k]) + "= is missing (every line gives caution, alarm, hysteresis and enabled)";
      return false;
    }
  }
  return check_limits(slot->limits, why);
}

}  // namespace

std::string limit_number_text(double v) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc() ? std::string(text, end) : std::string("?");
}

std::string limits_fields(const Limits& limits) {
  return "caution=" + range_field(limits.caution) + " alarm=" + range_field(limits.alarm) +
         " hysteresis=" + (limits.hysteresis < 0.0 ? std::string("default") : limit_number_text(limits.hysteresis)) +
         " enabled=" + (limits.enabled ? "yes" : "no");
}

bool parse_limits_file(std::string_view text, const std::function<bool(std::string_view)>& known,
                       std::vector<SlotLimits>* slots, LimitsFileFault* fault) {
  std::vector<SlotLimits> out;
  std::set<std::string, std::less<>> seen;
  if (text.size() > LIMITS_FILE_MAX) {
    *fault = {0, "larger than " + std::to_string(LIMITS_FILE_MAX / 1024) + " KiB: not a limits file"};
    return false;
  }
  int n = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t eol = text.find('\n', at);
    std::string_view line = text.substr(at, eol == std::string_view::npos ? std::string_view::npos : eol - at);
    at = eol == std::string_view::npos ? text.size() : eol + 1;
    ++n;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > LIMITS_LINE_MAX) {
      *fault = {n, "longer than " + std::to_string(LIMITS_LINE_MAX) + " bytes"};
      return false;
    }
    if (line.find('\0') != std::string_view::npos) {
      *fault = {n, "holds a NUL byte: not a text file"};
      return false;
    }
    const std::vector<std::string_view> w = words(line);
    if (w.empty() || w[0][0] == '#') continue;
    SlotLimits slot;
    std::string why;
    if (!read_line(line, known, &slot, &why)) {
      *fault = {n, slot.label.empty() ? why : slot.label + ": " + why};
      return false;
    }
    if (!seen.insert(slot.label).second) {
      *fault = {n, slot.label + " is given twice"};
      return false;
    }
    out.push_back(std::move(slot));
  }
  *slots = std::move(out);
  return true;
}

std::string format_limits_file(const std::vector<SlotLimits>& slots) {
  std::string text =
      "# vst_gse user limits: they override the panel file's limits, slot by slot.\n"
      "# One slot a line, in the unit the display shows:\n"
      "#   SLOT caution=LOW..HIGH|none alarm=LOW..HIGH|none hysteresis=NUMBER|default enabled=yes|no\n"
      "# An end left out is open (\"..50\", \"-20..\"). The caution range lies inside the alarm range.\n"
      "# Written by the limits dialog; a file with any fault is refused whole.\n";
  for (const SlotLimits& s : slots) text += s.label + " " + limits_fields(s.limits) + "\n";
  return text;
}

}  // namespace rt
