// One value over several archived sessions, from the per-minute summaries
// the archive keeps (no recording is read): on one time axis, with a gap
// between sessions, or overlaid by the time elapsed since each one's
// start (a rehearsal against the flight). The data of the cross-session
// trend; a range too narrow for them is drawn from the frames of the
// recordings (raw_across). Qt-free.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace rt {

enum class AcrossAxis {
  Clock,    // x: seconds since 1970, each minute at its middle
  Elapsed,  // x: seconds since the session's first frame, each minute at its middle
};

// One minute of one session on the plot.
struct AcrossPoint {
  double x = 0.0;
  double min = 0.0, max = 0.0, mean = 0.0;
};

// One session's line: its points in time order.
struct AcrossLine {
  int64_t session = 0;
  std::string recording;
  std::vector<AcrossPoint> points;
};

// `value` ("HK16") over `sessions` (the archive's ids, in the order given;
// an id the archive does not hold is passed over), each a line of its own,
// so nothing is drawn across the gap between two sessions.
std::vector<AcrossLine> value_across(Archive& archive, const std::string& value, const std::vector<int64_t>& sessions,
                                     AcrossAxis axis);

// A range shown narrower than this (seconds) holds too few minutes to draw
// from their summaries: the frames are read from the recordings instead.
constexpr double ACROSS_RAW_SPAN_S = 600.0;
bool across_wants_raw(double x0, double x1);

// `value` in each good frame of `row`'s recording whose x on `axis` lies in
// [x0, x1], a point each (min = max = mean = the sample), with the times the
// archive gives the session (its record, else its name or last change).
// Only the bytes of that stretch are read where the times follow the bytes
// (no record); with a record, the frames the panel showed are found from the
// start, and reading ends past x1. False with *error ("FILE: REASON") when
// the recording cannot be read or the value is unknown, or when `stop` was
// set (*error empty then).
bool raw_across(const SessionRow& row, const std::string& value, AcrossAxis axis, double x0, double x1,
                AcrossLine* out, std::string* error, const std::atomic<bool>* stop = nullptr);

// A session as a legend names it: its recording and local start,
// "flight/60020000.dat, 2026-01-03 10:00".
std::string across_label(const SessionRow& row);

}  // namespace rt
