// Feeding simulator output through the program's own serial receiver.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/sim_frames.h"

namespace sim_testing {

struct Received {
  std::vector<int> results;          // every get_port_frm result, in order
  std::vector<sim::Frame> frames;    // the frames returned with RX_OK
  int32_t nskip = 0;                 // discarded bytes
  uint32_t completed = 0;            // frames of 200 stored bytes (nrcvd)
};

// Runs get_port_frm over `stream` on an in-memory port until every byte has
// been read, from a fresh receiver, port and nskip.
Received receive_all(const std::vector<uint8_t>& stream);

}  // namespace sim_testing
