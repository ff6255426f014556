#include "sim_log.h"

#include <sstream>

namespace sim_testing {

std::vector<LoggedFrame> parse_log(const std::string& stdout_text) {
  std::vector<LoggedFrame> frames;
  std::istringstream lines(stdout_text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word != "frame") continue;
    LoggedFrame f;
    std::string label;
    words >> f.index >> label >> f.fcount >> label >> f.sent;
    while (words >> word) {
      if (word == "noise") words >> f.noise;
      else if (word == "bad-checksum") f.bad_checksum = true;
      else if (word == "illegal-escape") words >> f.illegal_escape;
      else if (word == "cut") words >> f.cut;
    }
    frames.push_back(f);
  }
  return frames;
}

Playback expected_playback(const std::vector<LoggedFrame>& log) {
  Playback p;
  for (const auto& f : log) {
    p.skipped += f.noise;
    if (f.broken()) p.skipped += f.sent - f.noise;
    else ++p.good;
  }
  return p;
}

}  // namespace sim_testing
