// Reading the simulator's per-frame log ("frame I fcount C sent B [faults]")
// and what a playback of its output must then show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim_testing {

struct LoggedFrame {
  uint64_t index = 0;
  uint32_t fcount = 0;
  int sent = 0;        // bytes written for the frame, its noise included
  int noise = 0;
  bool bad_checksum = false;
  int illegal_escape = -1;
  int cut = 0;
  bool broken() const { return bad_checksum || illegal_escape >= 0 || cut > 0; }
};

std::vector<LoggedFrame> parse_log(const std::string& stdout_text);

// The playback reader shows every frame that is not broken, and skips
// exactly the bytes between the frames it shows: all noise, and all bytes
// of broken frames. Holds when the last frame is not broken.
struct Playback {
  int good = 0;
  int64_t skipped = 0;
};
Playback expected_playback(const std::vector<LoggedFrame>& log);

}  // namespace sim_testing
