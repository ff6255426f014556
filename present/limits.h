// Limits on the values of the panel's displays (the housekeeping slots): per
// display, a caution and an alarm range from the panel file. A value outside
// its caution range is in caution, outside its alarm range in alarm. A value
// that comes back needs to be inside the range by the hysteresis before the
// level drops, so noise at a limit does not flip it from frame to frame.
// The operator may change a display's limits while the program runs (the
// limits dialog, the user limits file: limits_file.h); such limits are
// checked with check_limits first.
// Plain C++, no clock and no I/O: the caller logs the changes it returns.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "present/display_format.h"
#include "present/severity.h"

namespace rt {

// A closed range; an open end is infinite.
struct LimitRange {
  double low = -std::numeric_limits<double>::infinity();
  double high = std::numeric_limits<double>::infinity();
  bool contains(double v) const { return v >= low && v <= high; }  // NaN: never
  bool operator==(const LimitRange&) const = default;
};

struct Limits {
  std::optional<LimitRange> caution;
  std::optional<LimitRange> alarm;
  // How far inside a range a value must come back before the level drops
  // (in the shown unit). Negative: not given, DEFAULT_HYSTERESIS_SHARE of
  // the caution range's width (else the alarm range's) is used.
  double hysteresis = -1.0;
  // Off: the display is never out of limits (its ranges are kept).
  bool enabled = true;
  bool any() const { return caution.has_value() || alarm.has_value(); }
  bool operator==(const Limits&) const = default;
};

// The default hysteresis as a share of the range's width.
constexpr double DEFAULT_HYSTERESIS_SHARE = 0.005;

enum class LimitLevel { Normal = 0, Caution = 1, Alarm = 2 };
const char* limit_level_name(LimitLevel level);  // "normal", "caution", "alarm"

// Parses a range property: "LOW..HIGH", either end may be left out for an
// open end ("..60", "-20.."), numbers in any C form (1e-3). False with *why
// on anything else, or LOW above HIGH.
bool parse_limit_range(std::string_view text, LimitRange* range, std::string* why);

// A number as an operator types it into a limit: decimal or exponent form
// ("-20", "0.05", "1e-3"), nothing else around it, finite.
bool parse_limit_number(std::string_view text, double* out);

// Limits as an operator may give them: each range's low end below its high
// end, the caution range inside the alarm range, the hysteresis 0 or more
// and less than half the width of the narrowest range (else a value could
// never come back). False with *why, a sentence for the operator.
bool check_limits(const Limits& limits, std::string* why);

// The hysteresis `limits` use (their own, or the default).
double limit_hysteresis(const Limits& limits);

// The level of a shown value given the level it had before.
LimitLevel next_limit_level(const Limits& limits, LimitLevel previous, double shown);

// "caution outside 0.2..9.8 V, alarm outside 0.05..9.95 V" (ends written in
// `format`); "none" without ranges; disabled limits say so.
std::string describe_limits(const Limits& limits, const DisplayFormat& format);

// A value outside its limits, as an alarm list keeps it: how far past the
// range of its level it is (in the shown unit; a value held at its level by
// the hysteresis is inside the range: 0 or less; NaN counts as infinitely
// far), and the two in words.
struct LimitExcursion {
  LimitLevel level = LimitLevel::Normal;
  double shown = 0.0;  // the value in the shown unit
  double excess = 0.0;
  std::string value_text;  // "87.50 °C"
  std::string limit_text;  // "above the alarm limit 70.00 °C"
};

// One watched display.
struct LimitEntry {
  int id = 0;
  std::string label;  // as the operator knows it: "HK16"
  Limits limits;
  DisplayFormat format;
};

// A display's level changed: the log entry to make.
struct LimitChange {
  int id = 0;
  LimitLevel from = LimitLevel::Normal;
  LimitLevel to = LimitLevel::Normal;
  Severity severity = Severity::Info;  // alarm: error, caution: warning, back: info
  std::string text;  // "HK16 in alarm: 87.50 °C, above 85.00 °C (...)"
};

// The watched displays and their levels. Not locked: the panel model calls
// it under its own lock.
class LimitTable {
 public:
  LimitTable() = default;
  // Every entry is kept, so that its limits can be changed later; one
  // without ranges (or disabled) is not watched until it has some.
  explicit LimitTable(std::vector<LimitEntry> entries);

  bool watches(int id) const;
  // Entries that take limits (watched or not).
  bool knows(int id) const { return position(id) >= 0; }
  // Takes the value the system gave display `id` (before the display's
  // scale). Returns the change, if the level changed.
  std::optional<LimitChange> observe(int id, double value);
  // The same into *change (its text's room kept): true when the level changed.
  bool observe(int id, double value, LimitChange* change);
  // New limits for a known display (false for any other). The value it
  // shows, if any, is judged again against them at once, from the normal
  // level; the change, if its level changed, goes to *change.
  bool set_limits(int id, const Limits& limits, std::optional<LimitChange>* change);
  const LimitEntry* entry(int id) const;
  // The display's last value against its limits, while it is out of them.
  std::optional<LimitExcursion> excursion(int id);
  // The same into *out (its texts' room kept): false while within limits.
  bool excursion(int id, LimitExcursion* out);
  LimitLevel level(int id) const;
  // Puts a display's level back as it was at another moment, with the value
  // it then showed (none: it showed nothing yet). No change to log.
  void set_level(int id, LimitLevel level, std::optional<double> value);
  // Displays whose level is not normal, and of those the ones in alarm.
  int out_of_limits() const;
  int in_alarm() const;

 private:
  struct Watched {
    LimitEntry entry;
    LimitLevel level = LimitLevel::Normal;
    bool seen = false;  // a value was observed
    double last = 0.0;  // the last one (before the display's scale)
    // The words of each end a value can be past or at ("above the alarm
    // limit 85.00 °C"), made at their first use: a value out of limits is
    // described at every frame that carries it. Emptied with new limits.
    std::array<std::string, 8> end_words;
    // The last value put in words ("87.50 °C"), and its bits: a change of
    // level and the excursion after it describe the same value.
    uint64_t worded_bits = 0;
    bool worded = false;
    std::string value_words;
  };
  // "87.50 °C" for `value` (before the display's scale), in the display's format.
  static const std::string& value_words(Watched& w, double value);
  // "above the alarm limit 85.00 °C" for `shown` against the level's range.
  static const std::string& end_words(Watched& w, bool alarm, double shown);
  static void make_change(Watched& w, LimitLevel from, LimitLevel to, double value, LimitChange* change);
  // Position of display `id` in watched_, -1 if none: asked for every value
  // a display takes, so the panel's small ids are a direct index (inline).
  int position(int id) const {
    if (id >= 0 && static_cast<size_t>(id) < dense_index_.size()) return dense_index_[static_cast<size_t>(id)] - 1;
    return sparse_position(id);
  }
  int sparse_position(int id) const;
  std::vector<Watched> watched_;
  static constexpr int DENSE_IDS = 4096;
  std::vector<int> dense_index_;  // id -> position + 1 (0: none)
  std::map<int, int> sparse_index_;
};

}  // namespace rt
