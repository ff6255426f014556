// An in-memory serial port for unit tests: fed with bytes and time-outs,
// it records what the system writes.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "runtime/com_port.h"

namespace rt {

class MemoryPort : public ComPort {
 public:
  // Bytes that later reads return, in order.
  void feed(const std::vector<uint8_t>& bytes);
  void feed(const uint8_t* bytes, size_t n);
  // A read at this point of the input times out (returns negative).
  void feed_timeout();
  // Once the fed input is used up, reads time out (the default) or fail.
  void fail_when_empty(bool fail) { fail_when_empty_ = fail; }
  // Makes open() fail with this errno.
  void refuse_open(int system_error) { refuse_errno_ = system_error; }

  const std::vector<uint8_t>& written() const { return written_; }
  void clear_written() { written_.clear(); }
  size_t pending() const { return input_.size(); }
  int reads() const { return reads_; }
  bool is_open() const { return open_; }
  double timeout_s() const { return timeout_s_; }
  long baud() const { return baud_; }

  int open(const std::string& path, long baud, int parity, int data_bits,
           int stop_bits) override;
  void set_timeout(double timeout_s) override { timeout_s_ = timeout_s; }
  int read_byte() override;
  int write(const unsigned char* data, int n) override;
  void close() override { open_ = false; }
  int system_error() const override { return refuse_errno_; }
  std::string error_text() const override;

 private:
  static constexpr int TIMEOUT_MARK = -1;
  std::deque<int> input_;  // bytes, or TIMEOUT_MARK
  std::vector<uint8_t> written_;
  bool fail_when_empty_ = false;
  bool open_ = false;
  int refuse_errno_ = 0;
  int reads_ = 0;
  double timeout_s_ = 0.0;
  long baud_ = 0;
};

}  // namespace rt
