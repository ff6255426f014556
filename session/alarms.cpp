#include "session/alarms.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace rt {

namespace {

std::string seconds_text(double t_s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", t_s);
  return text;
}

// Is `cause`'s reading worse than the row's worst so far?
bool worse(const AlarmCause& cause, const Alarm& row) {
  if (!row.has_value) return true;
  if (cause.severity != row.worst_severity) return cause.severity > row.worst_severity;
  return cause.excess > row.worst_excess;
}

}  // namespace

const char* alarm_source_name(AlarmSource source) {
  switch (source) {
    case AlarmSource::Limit: return "limit";
    case AlarmSource::Link: return "link";
    case AlarmSource::Recording: return "recording";
  }
  return "?";
}

const char* alarm_colour(Severity severity) {
  switch (severity) {
    case Severity::Error: return "red";
    case Severity::Warning: return "amber";
    default: return "";
  }
}

AlarmList::AlarmList(std::function<std::string(double)> time_text)
    : time_text_(time_text ? std::move(time_text) : seconds_text) {}

Alarm* AlarmList::find(AlarmSource source, const std::string& key) {
  const auto& rows = row_of_[static_cast<int>(source)];
  const auto it = rows.find(key);
  return it == rows.end() ? nullptr : &rows_[it->second];
}

void AlarmList::time_due(size_t i) {
  if (time_waits_[i]) return;
  time_waits_[i] = 1;
  rows_waiting_.push_back(i);
}

void AlarmList::settle_row(size_t i) const {
  if (!time_waits_[i]) return;
  time_waits_[i] = 0;
  rows_[i].last_time = time_text_(rows_[i].last_s);
}

void AlarmList::settle() const {
  for (const size_t i : rows_waiting_) settle_row(i);
  rows_waiting_.clear();
}

void AlarmList::raise(Severity severity) {
  ++raises_;
  last_raise_ = severity;
}

AlarmChange AlarmList::update(const AlarmCause& cause, double t_s, Alarm* row_out) {
  Alarm* row = find(cause.source, cause.key);
  AlarmChange change = AlarmChange::None;
  const bool present = cause.severity > Severity::Info;
  if (!present) {
    if (!row) return AlarmChange::None;
    const size_t i = static_cast<size_t>(row - rows_.data());
    if (row->active) {
      row->active = false;
      if (!row->has_value) {
        // A state lasts until it is seen gone; a value is out of limits only
        // as long as the last value out of them.
        row->last_s = t_s;
        time_due(i);
        row->longest_s = std::max(row->longest_s, t_s - spell_from_[i]);
      }
      change = AlarmChange::Cleared;
      ++version_;
    }
    if (row->now != cause.now) {
      row->now = cause.now;
      ++version_;
    }
    if (row_out) {
      settle_row(i);
      *row_out = *row;
    }
    return change;
  }

  if (!row) {
    Alarm a;
    a.id = rows_.size() + 1;
    a.source = cause.source;
    a.key = cause.key;
    a.what = cause.what;
    a.severity = cause.severity;
    a.first_s = t_s;
    a.first_time = time_text_(t_s);
    row_of_[static_cast<int>(a.source)].emplace(a.key, rows_.size());
    rows_.push_back(std::move(a));
    spell_from_.push_back(t_s);
    time_waits_.push_back(0);
    row = &rows_.back();
    row->active = true;
    row->occurrences = 1;
    raise(cause.severity);
    change = AlarmChange::Raised;
  } else {
    const size_t i = static_cast<size_t>(row - rows_.data());
    if (!row->active) {
      // The cause came back.
      row->active = true;
      ++row->occurrences;
      spell_from_[i] = t_s;
      if (row->acknowledged) {
        row->acknowledged = false;
        row->severity = cause.severity;
        raise(cause.severity);
        change = AlarmChange::Raised;
      } else if (cause.severity > row->severity) {
        row->severity = cause.severity;
        raise(cause.severity);
        change = AlarmChange::Escalated;
      } else {
        change = AlarmChange::Again;
      }
    } else if (cause.severity > row->severity) {
      // Worse while present: amber turned red.
      const bool was_acknowledged = row->acknowledged;
      row->acknowledged = false;
      row->severity = std::max(row->severity, cause.severity);
      raise(cause.severity);
      change = was_acknowledged ? AlarmChange::Raised : AlarmChange::Escalated;
    }
  }
  const size_t i = static_cast<size_t>(row - rows_.data());
  row->last_s = t_s;
  time_due(i);
  row->now = cause.now;
  if (cause.has_value) {
    if (worse(cause, *row)) {
      row->has_value = true;
      row->worst_severity = cause.severity;
      row->worst_excess = cause.excess;
      row->worst_number = cause.value;
      row->worst_value = cause.value_text;
      row->worst_limit = cause.limit_text;
    }
  } else {
    row->worst_severity = std::max(row->worst_severity, cause.severity);
    row->longest_s = std::max(row->longest_s, t_s - spell_from_[i]);
  }
  ++version_;
  if (row_out) {
    settle_row(i);
    *row_out = *row;
  }
  return change;
}

void AlarmList::acknowledge_row(Alarm& row, double t_s) {
  row.acknowledged = true;
  row.acknowledged_s = t_s;
  row.acknowledged_time = time_text_(t_s);
  ++version_;
}

std::vector<Alarm> AlarmList::acknowledge(uint64_t id, double t_s) {
  settle();
  if (id == 0 || id > rows_.size() || rows_[id - 1].acknowledged) return {};
  acknowledge_row(rows_[id - 1], t_s);
  return {rows_[id - 1]};
}

std::vector<Alarm> AlarmList::acknowledge_all(double t_s) {
  settle();
  std::vector<Alarm> done;
  for (Alarm& a : rows_) {
    if (a.acknowledged) continue;
    acknowledge_row(a, t_s);
    done.push_back(a);
  }
  return done;
}

AlarmStatus AlarmList::status() const {
  AlarmStatus s;
  for (const Alarm& a : rows_) {
    if (a.acknowledged) continue;
    ++s.unacknowledged;
    s.worst_unacknowledged = std::max(s.worst_unacknowledged, a.severity);
  }
  s.raises = raises_;
  s.last_raise = last_raise_;
  return s;
}

}  // namespace rt
