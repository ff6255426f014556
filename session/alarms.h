// The alarm list: every condition an operator must not miss, kept after its
// cause has gone. Its sources are the housekeeping displays out of their
// caution (amber) or alarm (red) limits, the link in NO FRAMES, LINK SILENT
// or PORT LOST (red), and the recording in NOT RECORDING (red). Each source
// and condition is one row: its severity, the first and last time its cause
// was seen, how many times it arose, the worst value with its limit (for a
// link or recording condition: its longest spell), and the state now.
//
// A row is latched: it stays until the operator acknowledges it (one row, or
// all), whether or not its cause has gone. A row whose cause arises again
// after it was acknowledged, or that turns from amber to red, is raised
// again: unacknowledged. Every raise counts in raises(), so the window can
// sound it (annunciator.h).
//
// Qt-free and not thread-safe: the caller (runtime/session_watch.h) feeds it
// what the run-time observes, on a clock of its own (seconds, any origin),
// and locks around it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "present/severity.h"

namespace rt {

enum class AlarmSource { Limit = 0, Link = 1, Recording = 2 };
constexpr int ALARM_SOURCES = 3;
// "limit", "link", "recording".
const char* alarm_source_name(AlarmSource source);
// "red" for Severity::Error, "amber" for Severity::Warning, "" otherwise.
const char* alarm_colour(Severity severity);

// What a source says of one condition now.
struct AlarmCause {
  AlarmSource source = AlarmSource::Limit;
  std::string key;   // the row within its source: "HK16", "no frames", "not recording"
  std::string what;  // the row's name: "HK16 out of limits", "link: NO FRAMES"
  // Error (red) or Warning (amber) while the cause is present; Info when it
  // is not (any more).
  Severity severity = Severity::Info;
  std::string now;  // the state now in words: "in alarm: 87.50 °C", "normal"
  // Limits: how far past the limit of its level the value is (in the shown
  // unit), and the two in words. Sources without a value leave has_value off.
  bool has_value = false;
  double value = 0.0;   // as shown (87.5)
  double excess = 0.0;
  std::string value_text;  // "87.50 °C"
  std::string limit_text;  // "above the alarm limit 70.00 °C"
};

struct Alarm {
  uint64_t id = 0;  // 1, 2, ... in the order the rows were first raised
  AlarmSource source = AlarmSource::Limit;
  std::string key, what;
  // The worst severity since the row was last raised: what the operator is
  // asked to acknowledge.
  Severity severity = Severity::Warning;
  double first_s = 0.0, last_s = 0.0;  // the cause first and last seen
  std::string first_time, last_time;   // the same as the list's clock text
  long long occurrences = 0;           // times the cause arose
  // The worst reading since the row was made: the value furthest past its
  // limit (limits), or the longest spell (others, in seconds).
  bool has_value = false;
  Severity worst_severity = Severity::Warning;
  double worst_excess = 0.0;
  double worst_number = 0.0;             // as shown
  std::string worst_value, worst_limit;  // "87.50 °C", "above the alarm limit 70.00 °C"
  double longest_s = 0.0;
  bool active = false;  // the cause is present now
  std::string now;
  bool acknowledged = false;
  double acknowledged_s = -1.0;  // the last acknowledgement, -1 if never
  std::string acknowledged_time;
};

// What update() did to a row.
enum class AlarmChange {
  None,       // nothing the operator is told of (a repeat, a cause still gone)
  Raised,     // a new row, or a row acknowledged before whose cause came back
  Again,      // a latched, unacknowledged row whose cause came back
  Escalated,  // an unacknowledged row turned from amber to red
  Cleared,    // the cause has gone (the row stays)
};

// The list's figures for the window and the sound.
struct AlarmStatus {
  int unacknowledged = 0;
  Severity worst_unacknowledged = Severity::Info;  // Info when none
  uint64_t raises = 0;                             // Raised and Escalated so far
  Severity last_raise = Severity::Info;            // the severity of the latest raise
};

class AlarmList {
 public:
  // `time_text` writes a time of the list's clock for people (the session
  // gives local wall-clock time); by default seconds.
  explicit AlarmList(std::function<std::string(double)> time_text = {});

  // What `cause` says now, at `t_s`. The row is made at its first cause; a
  // cause that is gone for a row that does not exist makes nothing. The row
  // after the update goes to *row when given.
  AlarmChange update(const AlarmCause& cause, double t_s, Alarm* row = nullptr);

  // The operator acknowledges row `id`, or every unacknowledged row. Returns
  // the rows acknowledged now (none when `id` is unknown or already
  // acknowledged).
  std::vector<Alarm> acknowledge(uint64_t id, double t_s);
  std::vector<Alarm> acknowledge_all(double t_s);

  // Every row in the order first raised.
  const std::vector<Alarm>& alarms() const {
    settle();
    return rows_;
  }
  // Writes the rows' last times that wait as text. The list does so itself
  // before any row is read; its owner, before the time text it gave would
  // write a time differently.
  void settle() const;
  AlarmStatus status() const;
  // Grows with every change of any row (the window redraws when it moves).
  uint64_t version() const { return version_; }

 private:
  Alarm* find(AlarmSource source, const std::string& key);
  void acknowledge_row(Alarm& row, double t_s);
  void raise(Severity severity);

  // A row's last time waits to be written as text until the row is read
  // (a value out of limits moves it at every frame): last_s holds it.
  void time_due(size_t i);
  void settle_row(size_t i) const;

  std::function<std::string(double)> time_text_;
  mutable std::vector<Alarm> rows_;  // mutable: settle() writes the times that wait
  mutable std::vector<char> time_waits_;     // per row
  mutable std::vector<size_t> rows_waiting_;  // the rows whose time waits
  // Each row's position by source and key: a housekeeping value out of
  // limits updates its row at every frame that carries it.
  std::array<std::unordered_map<std::string, size_t>, ALARM_SOURCES> row_of_;
  std::vector<double> spell_from_;  // per row: when the present spell began
  uint64_t version_ = 0;
  uint64_t raises_ = 0;
  Severity last_raise_ = Severity::Info;
};

}  // namespace rt
