#include "present/limits.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

namespace rt {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

LimitRange shrunk(const LimitRange& r, double by) { return {r.low + by, r.high - by}; }

// The level of `v` with both ranges narrowed by `by` at each end.
LimitLevel level_of(const Limits& limits, double v, double by) {
  if (limits.alarm && !shrunk(*limits.alarm, by).contains(v)) return LimitLevel::Alarm;
  if (limits.caution && !shrunk(*limits.caution, by).contains(v)) return LimitLevel::Caution;
  return LimitLevel::Normal;
}

// The shown unit's format for the ends of a range (already in that unit).
DisplayFormat unscaled(const DisplayFormat& format) {
  DisplayFormat f = format;
  f.scale = 1.0;
  return f;
}

// The unit after a number ("87.50" -> "87.50 °C"), when the format has one.
std::string& add_unit(std::string& number, const DisplayFormat& format) {
  if (!format.unit.empty()) number.append(" ").append(format.unit);
  return number;
}

std::string range_text(const LimitRange& r, const DisplayFormat& format) {
  const DisplayFormat f = unscaled(format);
  std::string text;
  if (std::isfinite(r.low)) text += format_display_double(r.low, f);
  text += "..";
  if (std::isfinite(r.high)) text += format_display_double(r.high, f);
  return add_unit(text, format);
}

// "above the alarm limit 85.00 °C": which end of `range` the value is past.
// A value inside the range (held at its level by the hysteresis) is "at" the
// end it is nearest.
// Which end that is: inside or not, and the high end or the low one.
void which_end(const LimitRange& range, double shown, bool* inside, bool* high) {
  *inside = range.contains(shown);
  *high = *inside ? range.high - shown < shown - range.low : shown > range.high;
}

std::string end_text(const LimitRange& range, bool inside, bool high, const char* which,
                     const DisplayFormat& format) {
  const char* where = inside ? "at" : high ? "above" : "below";
  std::string end = format_display_double(high ? range.high : range.low, unscaled(format));
  return std::string(where) + " the " + which + " limit " + add_unit(end, format);
}

std::string past_end(const LimitRange& range, double shown, const char* which,
                     const DisplayFormat& format) {
  if (std::isnan(shown)) return std::string("not a number, outside the ") + which + " range";
  bool inside = false, high = false;
  which_end(range, shown, &inside, &high);
  return end_text(range, inside, high, which, format);
}

// How far `shown` lies outside `range` (negative inside it).
double outside_by(const LimitRange& range, double shown) {
  if (std::isnan(shown)) return std::numeric_limits<double>::infinity();
  return std::max(range.low - shown, shown - range.high);
}

double width(const LimitRange& r) { return r.high - r.low; }

}  // namespace

bool parse_limit_number(std::string_view text, double* out) {
  if (text.empty()) return false;
  // strtod alone would also take "inf", "nan" and hexadecimal forms.
  for (char c : text)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
          c == 'E'))
      return false;
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool check_limits(const Limits& limits, std::string* why) {
  for (auto [range, which] : {std::pair{&limits.caution, "caution"}, std::pair{&limits.alarm, "alarm"}}) {
    if (*range && !((*range)->low < (*range)->high)) {
      *why = std::string("the ") + which + " range's low end must be below its high end";
      return false;
    }
  }
  if (limits.caution && limits.alarm &&
      (limits.caution->low < limits.alarm->low || limits.caution->high > limits.alarm->high)) {
    *why = "the caution range must lie inside the alarm range";
    return false;
  }
  if (std::isnan(limits.hysteresis) || std::isinf(limits.hysteresis)) {
    *why = "the hysteresis must be a number 0 or more";
    return false;
  }
  const double narrowest = std::min(limits.caution ? width(*limits.caution) : std::numeric_limits<double>::infinity(),
                                    limits.alarm ? width(*limits.alarm) : std::numeric_limits<double>::infinity());
  if (limits.hysteresis >= 0.0 && !(2.0 * limits.hysteresis < narrowest)) {
    *why = "the hysteresis must be less than half the narrowest range's width, or a value could never come back";
    return false;
  }
  return true;
}

const char* limit_level_name(LimitLevel level) {
  switch (level) {
    case LimitLevel::Normal: return "normal";
    case LimitLevel::Caution: return "caution";
    case LimitLevel::Alarm: return "alarm";
  }
  return "?";
}

bool parse_limit_range(std::string_view text, LimitRange* range, std::string* why) {
  const auto dots = text.find("..");
  LimitRange r;
  const std::string_view low = trim(text.substr(0, dots));
  const std::string_view high = dots == std::string_view::npos ? "" : trim(text.substr(dots + 2));
  const bool ok = dots != std::string_view::npos && (low.empty() || parse_limit_number(low, &r.low)) &&
                  (high.empty() || parse_limit_number(high, &r.high)) && (!low.empty() || !high.empty());
  if (!ok) {
    *why = "range \"" + std::string(text) + "\" is not LOW..HIGH (one end may be left out)";
    return false;
  }
  if (r.low > r.high) {
    *why = "range \"" + std::string(text) + "\" has its low end above its high end";
    return false;
  }
  *range = r;
  return true;
}

double limit_hysteresis(const Limits& limits) {
  if (limits.hysteresis >= 0.0) return limits.hysteresis;
  for (const auto& r : {limits.caution, limits.alarm}) {
    if (r && std::isfinite(r->high - r->low)) return DEFAULT_HYSTERESIS_SHARE * (r->high - r->low);
  }
  return 0.0;
}

LimitLevel next_limit_level(const Limits& limits, LimitLevel previous, double shown) {
  if (!limits.enabled) return LimitLevel::Normal;
  const LimitLevel now = level_of(limits, shown, 0.0);
  if (now >= previous) return now;
  // Better than before: only as far as the value is clear of the limit.
  return std::max(now, std::min(previous, level_of(limits, shown, limit_hysteresis(limits))));
}

std::string describe_limits(const Limits& limits, const DisplayFormat& format) {
  std::string text;
  if (limits.caution) text += "caution outside " + range_text(*limits.caution, format);
  if (limits.alarm) {
    if (!text.empty()) text += ", ";
    text += "alarm outside " + range_text(*limits.alarm, format);
  }
  if (text.empty()) text = "none";
  if (!limits.enabled) text += " (off: never out of limits)";
  return text;
}

LimitTable::LimitTable(std::vector<LimitEntry> entries) {
  for (auto& e : entries) {
    if (position(e.id) >= 0) continue;
    const int at = static_cast<int>(watched_.size());
    if (e.id >= 0 && e.id < DENSE_IDS) {
      if (static_cast<size_t>(e.id) >= dense_index_.size()) dense_index_.resize(static_cast<size_t>(e.id) + 1, 0);
      dense_index_[static_cast<size_t>(e.id)] = at + 1;
    } else {
      sparse_index_[e.id] = at;
    }
    Watched w;
    w.entry = std::move(e);
    watched_.push_back(std::move(w));
  }
}

int LimitTable::sparse_position(int id) const {
  if (sparse_index_.empty()) return -1;
  auto it = sparse_index_.find(id);
  return it == sparse_index_.end() ? -1 : it->second;
}

bool LimitTable::watches(int id) const {
  const LimitEntry* e = entry(id);
  return e && e->limits.any() && e->limits.enabled;
}

const LimitEntry* LimitTable::entry(int id) const {
  const int i = position(id);
  return i < 0 ? nullptr : &watched_[static_cast<size_t>(i)].entry;
}

const std::string& LimitTable::end_words(Watched& w, bool alarm, double shown) {
  const LimitRange& range = alarm ? *w.entry.limits.alarm : *w.entry.limits.caution;
  const char* which = alarm ? "alarm" : "caution";
  if (std::isnan(shown)) {
    static thread_local std::string nan_words;
    nan_words = past_end(range, shown, which, w.entry.format);
    return nan_words;
  }
  bool inside = false, high = false;
  which_end(range, shown, &inside, &high);
  std::string& words = w.end_words[(alarm ? 4 : 0) + (inside ? 2 : 0) + (high ? 1 : 0)];
  if (words.empty()) words = end_text(range, inside, high, which, w.entry.format);
  return words;
}

const std::string& LimitTable::value_words(Watched& w, double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  if (!w.worded || w.worded_bits != bits) {
    w.value_words.assign(format_display_double(value, w.entry.format));
    add_unit(w.value_words, w.entry.format);
    w.worded_bits = bits;
    w.worded = true;
  }
  return w.value_words;
}

void LimitTable::make_change(Watched& w, LimitLevel from, LimitLevel to, double value, LimitChange* change) {
  const DisplayFormat& format = w.entry.format;
  const double shown = value * format.scale;
  change->id = w.entry.id;
  change->from = from;
  change->to = to;
  const std::string& value_text = value_words(w, value);
  std::string& text = change->text;
  text.assign(w.entry.label);
  switch (to) {
    case LimitLevel::Alarm:
      change->severity = Severity::Error;
      text.append(" in alarm: ").append(value_text).append(", ").append(end_words(w, true, shown));
      break;
    case LimitLevel::Caution:
      change->severity = Severity::Warning;
      text.append(from == LimitLevel::Alarm ? " back from alarm, in caution: " : " in caution: ")
          .append(value_text)
          .append(", ")
          .append(end_words(w, false, shown));
      break;
    case LimitLevel::Normal:
      change->severity = Severity::Info;
      text.append(" back within limits: ").append(value_text);
      break;
  }
}

std::optional<LimitChange> LimitTable::observe(int id, double value) {
  LimitChange change;
  if (!observe(id, value, &change)) return std::nullopt;
  return change;
}

bool LimitTable::observe(int id, double value, LimitChange* change) {
  const int i = position(id);
  if (i < 0) return false;
  Watched& w = watched_[static_cast<size_t>(i)];
  w.seen = true;
  w.last = value;
  const LimitLevel to = next_limit_level(w.entry.limits, w.level, value * w.entry.format.scale);
  if (to == w.level) return false;
  make_change(w, w.level, to, value, change);
  w.level = to;
  return true;
}

bool LimitTable::set_limits(int id, const Limits& limits, std::optional<LimitChange>* change) {
  change->reset();
  const int i = position(id);
  if (i < 0) return false;
  Watched& w = watched_[static_cast<size_t>(i)];
  w.entry.limits = limits;
  for (std::string& words : w.end_words) words.clear();
  // Judged afresh: the old level's hysteresis belonged to the old ranges.
  const LimitLevel was = w.level;
  w.level = w.seen ? next_limit_level(limits, LimitLevel::Normal, w.last * w.entry.format.scale)
                   : LimitLevel::Normal;
  if (w.level != was) make_change(w, was, w.level, w.last, &change->emplace());
  return true;
}

std::optional<LimitExcursion> LimitTable::excursion(int id) {
  LimitExcursion e;
  if (!excursion(id, &e)) return std::nullopt;
  return e;
}

bool LimitTable::excursion(int id, LimitExcursion* out) {
  const int i = position(id);
  if (i < 0) return false;
  Watched& w = watched_[static_cast<size_t>(i)];
  if (w.level == LimitLevel::Normal) return false;
  const DisplayFormat& format = w.entry.format;
  const double shown = w.last * format.scale;
  const bool alarm = w.level == LimitLevel::Alarm;
  const LimitRange& range = alarm ? *w.entry.limits.alarm : *w.entry.limits.caution;
  out->level = w.level;
  out->shown = shown;
  out->excess = outside_by(range, shown);
  out->value_text.assign(value_words(w, w.last));
  out->limit_text.assign(end_words(w, alarm, shown));
  return true;
}

LimitLevel LimitTable::level(int id) const {
  const int i = position(id);
  return i < 0 ? LimitLevel::Normal : watched_[static_cast<size_t>(i)].level;
}

void LimitTable::set_level(int id, LimitLevel level, std::optional<double> value) {
  const int i = position(id);
  if (i < 0) return;
  Watched& w = watched_[static_cast<size_t>(i)];
  w.level = level;
  w.seen = value.has_value();
  w.last = value.value_or(0.0);
}

int LimitTable::out_of_limits() const {
  return static_cast<int>(std::count_if(watched_.begin(), watched_.end(), [](const Watched& w) {
    return w.level != LimitLevel::Normal;
  }));
}

int LimitTable::in_alarm() const {
  return static_cast<int>(std::count_if(watched_.begin(), watched_.end(), [](const Watched& w) {
    return w.level == LimitLevel::Alarm;
  }));
}

}  // namespace rt
