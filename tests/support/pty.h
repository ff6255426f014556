// The instrument's end of the telemetry link for tests: the master side of a
// pseudo-terminal pair. The code under test opens the slave by its path
// (--port); the test sends telemetry on the master and collects what comes
// back (acknowledgements, command strings).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_pty {

class InstrumentPty {
 public:
  // Opens a non-blocking master in raw mode and unlocks its slave. Throws
  // std::runtime_error naming the failed call. With `hold_slave`, the test
  // keeps the slave open too, so the program closing its port is no hang-up
  // and what it sent stays readable.
  explicit InstrumentPty(bool hold_slave = false);
  ~InstrumentPty();
  InstrumentPty(const InstrumentPty&) = delete;
  InstrumentPty& operator=(const InstrumentPty&) = delete;

  const std::string& slave_path() const { return slave_path_; }

  // Writes every byte, waiting while the terminal's buffer is full; collects
  // what comes back meanwhile. Throws on a write error.
  void send(const std::vector<uint8_t>& bytes);
  // Writes at `bytes_per_s` (19200 baud 8N1 carries 1920 bytes/s) in small
  // chunks, collecting what comes back between them.
  void send_paced(const std::vector<uint8_t>& bytes, double bytes_per_s);
  // Writes what it can without waiting; returns the number of bytes taken
  // (for a sender thread that must stay responsive).
  size_t send_some(const uint8_t* bytes, size_t n);

  // Reads what has arrived without waiting.
  void collect();
  // Collects until `n_bytes` have arrived in total or `wait` has passed.
  void collect_until(size_t n_bytes, std::chrono::milliseconds wait);
  // Everything the program has sent so far, in order.
  const std::vector<uint8_t>& received() const { return received_; }
  // The next bytes after those an earlier receive() returned: up to
  // `n_bytes`, fewer if `wait` passes first.
  std::vector<uint8_t> receive(size_t n_bytes, std::chrono::milliseconds wait);

  // Closes the master: the slave side sees a hang-up, as when a USB adapter
  // is pulled out.
  void hang_up();

 private:
  int master_fd_ = -1;
  int slave_hold_fd_ = -1;
  std::string slave_path_;
  std::vector<uint8_t> received_;
  size_t taken_ = 0;  // bytes of received_ that receive() has returned
};

}  // namespace testing_pty
