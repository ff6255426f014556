// A pseudo-terminal pair for serial tests: the test plays the instrument on
// the master side, the code under test opens the slave by its path.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace serial_testing {

class Pty {
 public:
  // Opens a master in raw mode and unlocks its slave. Throws on failure.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& slave_path() const { return slave_path_; }

  // Writes all bytes to the master side (the instrument sends).
  void send(const std::vector<uint8_t>& bytes);
  // Reads from the master side until `n_bytes` have come or `wait` has passed.
  std::vector<uint8_t> receive(size_t n_bytes, std::chrono::milliseconds wait);
  // Closes the master: the slave side sees a hang-up, as when a USB adapter
  // is pulled out.
  void hang_up();

 private:
  int master_fd_ = -1;
  std::string slave_path_;
};

}  // namespace serial_testing
