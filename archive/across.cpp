#include "archive/across.h"

#include <algorithm>
#include <cmath>

#include "archive/session_list.h"
#include "archive/session_source.h"
#include "history/values.h"
#include "link/frame.h"

namespace rt {

namespace {

// Read from this far before the first byte of the range: the frame that
// straddles it (escapes make a frame longer on the link) is found whole.
constexpr int64_t RAW_LEAD_BYTES = 4 * FRAME_LEN;

double origin_of(const SessionRow& row, AcrossAxis axis) {
  return axis == AcrossAxis::Elapsed && !std::isnan(row.started) ? row.started : 0.0;
}

}  // namespace

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
    const double origin = origin_of(row, axis);
    for (const MinuteSummary& m : archive.minutes(id, value))
      line.points.push_back({static_cast<double>(m.minute) * 60.0 + 30.0 - origin, m.min, m.max, m.mean});
    out.push_back(std::move(line));
  }
  return out;
}

bool across_wants_raw(double x0, double x1) { return x1 - x0 < ACROSS_RAW_SPAN_S; }

bool raw_across(const SessionRow& row, const std::string& value, AcrossAxis axis, double x0, double x1,
                AcrossLine* out, std::string* error, const std::atomic<bool>* stop) {
  out->session = row.session;
  out->recording = row.recording;
  out->points.clear();
  error->clear();
  const ValueInfo* info = find_value(value);
  if (!info || is_link_figure(*info)) {
    *error = "no value " + value + " in the frames";
    return false;
  }
  if (std::isnan(row.started)) return true;  // no frame to read
  // The times the archive gave the session: from the size and last change
  // it was indexed at.
  const SessionSource source = look_at_session(row.path(), row.size, row.modified, row.modified);
  const double origin = origin_of(row, axis);
  const double t0 = x0 + origin, t1 = x1 + origin;
  ScanRequest request;
  request.rules = source.rules;
  request.shown = source.shown;
  request.time_of = source.time_of;
  request.to = row.size;
  if (!source.shown) {
    // The times grow with the bytes: halve to the last byte before t0.
    int64_t lo = 0, hi = row.size;
    while (hi - lo > 1) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (source.time_of(mid) < t0) lo = mid;
      else hi = mid;
    }
    request.from = std::max<int64_t>(0, lo - RAW_LEAD_BYTES);
  }
  std::atomic<bool> halt{false};
  bool past = false;
  request.stop = &halt;
  request.on_frame = [&](const uint8_t* frame, double t) {
    if (stop && stop->load(std::memory_order_relaxed)) halt.store(true);
    if (t > t1) {
      past = true;
      halt.store(true);
      return;
    }
    if (t < t0 || !carries(*info, fcount(frame))) return;
    const double x = decode_value(*info, frame);
    if (std::isfinite(x)) out->points.push_back({t - origin, x, x, x});
  };
  ScanFigures figures;
  if (scan_session(row.path(), request, &figures, error)) return true;
  return past && error->empty() && !(stop && stop->load());
}

std::string across_label(const SessionRow& row) {
  const std::string start = local_time_text(row.started);
  return start.empty() ? row.recording : row.recording + ", " + start.substr(0, 16);
}

}  // namespace rt
