#include "archive/across.h"

#include <cmath>

namespace rt {

std::vector<AcrossLine> value_across(Archive& archive, const std::string& value, const std::vector<int64_t>& sessions,
                                     AcrossAxis axis) {
  std::vector<AcrossLine> out;
  for (int64_t id : sessions) {
    SessionRow row;
    if (!archive.session(id, &row)) continue;
    AcrossLine line;
    line.session = id;
    line.recording = row.recording;
    // A minute stands at its middle; elapsed time counts from the first frame.
    const double origin = axis == AcrossAxis::Elapsed && !std::isnan(row.started) ? row.started : 0.0;
    for (const MinuteSummary& m : archive.minutes(id, value))
      line.points.push_back({static_cast<double>(m.minute) * 60.0 + 30.0 - origin, m.min, m.max, m.mean});
    out.push_back(std::move(line));
  }
  return out;
}

}  // namespace rt
