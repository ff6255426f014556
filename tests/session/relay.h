// gse_sim's link passed through to the station's pseudo-terminal, for the
// tests that run both programs.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "support/pty.h"

namespace health_testing {

// Copies what gse_sim sends on its pty (`sim_pty`) to the station's link
// `to`, from a thread of its own, once made: every byte the simulator sends
// is received.
class Relay {
 public:
  Relay(const std::string& sim_pty, testing_pty::InstrumentPty& to);
  ~Relay();
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  bool ok() const { return fd_ >= 0; }
  bool ended() const { return ended_; }  // the simulator hung up

 private:
  void run();
  testing_pty::InstrumentPty& to_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// The pty gse_sim printed first ("pty PATH") in its output file, once it
// has; "" after `timeout_s`.
std::string sim_pty_path(const std::string& sim_out, double timeout_s);

}  // namespace health_testing
