// The instrument sending on its pseudo-terminal at its own pace, from a
// thread of its own, while a test drives the program.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "support/pty.h"

namespace testing_pty {

// Sends frame(0), frame(1), ... on `pty`, one every `period` (pacing, not a
// wait for a condition), until it is destroyed. What the terminal does not
// take at once is left out, as a link drops bytes.
class PacedSender {
 public:
  PacedSender(InstrumentPty& pty, std::chrono::milliseconds period,
              std::function<std::vector<uint8_t>(uint32_t n)> frame);
  ~PacedSender();
  PacedSender(const PacedSender&) = delete;
  PacedSender& operator=(const PacedSender&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace testing_pty
