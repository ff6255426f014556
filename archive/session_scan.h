// One recording read from end to end for the archive and the report: its
// good frames and failures as a reader by the given rules finds them
// (replay/'s frame scanner), their times, and the minimum, maximum and mean
// of each value in every minute, decoded by the station's value catalogue
// (history/values.h). The file is read in chunks: memory stays the same
// whatever its length. Qt-free; runs on the caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "replay/recording_index.h"

namespace rt {

struct ValueInfo;

// One value over one minute: its finite samples' count, extremes and mean.
struct MinuteSummary {
  int64_t minute = 0;  // minutes since 1970 UTC
  int64_t samples = 0;
  double min = 0.0, max = 0.0, mean = 0.0;
};

// A good frame's time from its first byte's offset in the recording
// (seconds since 1970).
using OffsetTime = std::function<double(int64_t offset)>;

struct ScanRequest {
  FrameRules rules = FrameRules::Playback;
  // With a session record: the frames the live panel showed (the rules are
  // then the link's), so the figures are those the operator saw.
  std::shared_ptr<const LiveFrames> shown;
  OffsetTime time_of;  // required
  // The values summarized per minute (link figures are left out: they are
  // not in the frames).
  std::vector<const ValueInfo*> values;
  // Each value's minute, once the minute is over (in time order per value).
  std::function<void(const ValueInfo& value, const MinuteSummary& minute)> on_minute;
  // Each good frame, its bytes as the reader takes them, and its time.
  std::function<void(const uint8_t* frame, double t_s)> on_frame;
  // Each chunk read, as it is (a hash of the whole file).
  std::function<void(const uint8_t* bytes, size_t n)> on_bytes;
  int64_t from = 0;  // the first byte to read (not with `shown`: those frames are found from the start)
  int64_t to = -1;   // the byte to stop before (-1: the end of the file)
  const std::atomic<bool>* stop = nullptr;  // stops within a chunk's reading
  std::atomic<int64_t>* read = nullptr;     // grows by the bytes read
};

constexpr double UNKNOWN_TIME = std::numeric_limits<double>::quiet_NaN();

struct ScanFigures {
  int64_t bytes_read = 0;
  std::string head_hash;  // of the file's first RECORD_HEAD_BYTES (when read from 0)
  long frames = 0;
  int64_t checksum_failures = 0, illegal_escapes = 0;
  int64_t bytes_skipped = 0;  // bytes in no good frame
  double first_s = UNKNOWN_TIME, last_s = UNKNOWN_TIME;
  double longest_gap_s = 0.0;  // the longest time between two good frames
  // Good frames in each minute that has any: (minute since 1970, frames).
  std::vector<std::pair<int64_t, int>> frames_per_minute;
};

// Reads `path` as `request` asks. False with *error ("FILE: REASON") when
// it cannot be opened or read, or when stopped (*error empty then).
bool scan_session(const std::string& path, const ScanRequest& request, ScanFigures* out, std::string* error);

// The minute (since 1970 UTC) of `t_s`.
int64_t minute_of(double t_s);

}  // namespace rt
