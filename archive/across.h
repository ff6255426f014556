// One value over several archived sessions, from the per-minute summaries
// the archive keeps (no recording is read): on one time axis, with a gap
// between sessions, or overlaid by the time elapsed since each one's
// start (a rehearsal against the flight). The data of the cross-session
// trend; the raw recording is for zooms below a minute. Qt-free.
#pragma once

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

}  // namespace rt
