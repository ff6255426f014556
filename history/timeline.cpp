#include "history/timeline.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "history/time_axis.h"

namespace rt {

namespace {

// The start the recording's name gives (time_axis.h), as the trends take it;
// looked up once per recording (the log beside it may be long).
bool estimated_start(const std::string& recording, double* start_s) {
  static std::mutex mu;
  static std::string known_path;
  static bool known_ok = false;
  static double known_start = 0.0;
  std::lock_guard lock(mu);
  if (recording == known_path) {
    *start_s = known_start;
    return known_ok;
  }
  std::error_code ec;
  const auto changed = std::filesystem::last_write_time(recording, ec);
  std::time_t not_after = std::time(nullptr);
  if (!ec) {
    const auto age = std::filesystem::file_time_type::clock::now() - changed;
    not_after -= static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(age).count());
  }
  bool from_log = false;
  known_path = recording;
  known_ok = recording_start(recording, not_after + 600, &known_start, &from_log);
  *start_s = known_start;
  return known_ok;
}

}  // namespace

bool time_of_offset(const Pass* pass, const std::string& recording, int64_t offset, double* t_s, bool* estimated) {
  if (pass && pass->time_at(offset, t_s, estimated)) return true;
  double start = 0.0;
  if (!estimated_start(recording, &start)) return false;
  *t_s = recording_time(start, offset);
  if (estimated) *estimated = true;
  return true;
}

bool offset_of_time(const Pass* pass, const std::string& recording, double t_s, int64_t* offset) {
  if (pass && pass->frames && !pass->frames->frames.empty()) {
    const auto& f = pass->frames->frames;
    size_t i = pass->frame_at_time(t_s);
    if (i >= f.size()) {
      // After the record's last frame: estimated from it at the link's rate.
      const LiveFrame& last = f.back();
      *offset = std::max<int64_t>(0, last.offset + static_cast<int64_t>(std::llround((t_s - last.t_s) * RECORDING_BYTES_PER_S)));
      return true;
    }
    while (i < f.size() && f[i].offset < 0) ++i;  // a frame that never reached the recording
    *offset = i < f.size() ? f[i].offset : f.back().offset;
    return *offset >= 0;
  }
  double start = 0.0;
  if (!estimated_start(recording, &start)) return false;
  *offset = std::max<int64_t>(0, static_cast<int64_t>(std::llround((t_s - start) * RECORDING_BYTES_PER_S)));
  return true;
}

long index_frame_at(const RecordingIndex& index, int64_t offset) {
  const long n = index.frames();
  if (n == 0) return 0;
  // The frame that begins last before offset + 1: at or before it.
  const long f = index.frame_before(offset + 1);
  return f < 0 ? 0 : f;
}

std::vector<TimelineMark> pass_marks(const Pass& pass) {
  std::vector<TimelineMark> out;
  for (const PassAlarmEvent& a : pass.alarm_events) {
    if (a.change != "raised" && a.change != "raised again" && a.change != "escalated" && a.change != "acknowledged")
      continue;
    out.push_back({TimelineMark::Alarm, a.t_s, a.offset, "alarm " + a.change + ": " + a.text});
  }
  for (const PassEvent& e : pass.events) {
    const bool note = e.kind == "note";
    out.push_back({note ? TimelineMark::Note : TimelineMark::Event, e.t_s, e.offset,
                   (note ? "note: " : e.kind + ": ") + e.text});
  }
  std::stable_sort(out.begin(), out.end(), [](const TimelineMark& a, const TimelineMark& b) { return a.t_s < b.t_s; });
  return out;
}

const TimelineMark* next_mark(const std::vector<TimelineMark>& marks, double t_s, int direction, double margin_s) {
  if (direction > 0) {
    auto it = std::upper_bound(marks.begin(), marks.end(), t_s + margin_s,
                               [](double t, const TimelineMark& m) { return t < m.t_s; });
    return it == marks.end() ? nullptr : &*it;
  }
  auto it = std::lower_bound(marks.begin(), marks.end(), t_s - margin_s,
                             [](const TimelineMark& m, double t) { return m.t_s < t; });
  return it == marks.begin() ? nullptr : &*std::prev(it);
}

}  // namespace rt
