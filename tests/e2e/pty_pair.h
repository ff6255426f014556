// A pseudo-terminal pair standing for the instrument's end of the link. The
// test also keeps the slave side open, so that the program closing its port
// is no hang-up and bytes it sent stay readable.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

class PtyPair {
 public:
  PtyPair();  // raw mode; throws std::runtime_error on failure
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave_path() const { return slave_path_; }
  void send(const std::vector<uint8_t>& bytes);
  // What the program sent, until n_bytes have come or `wait` has passed.
  std::vector<uint8_t> receive(size_t n_bytes, std::chrono::milliseconds wait);

 private:
  int master_fd_ = -1;
  int slave_hold_fd_ = -1;
  std::string slave_path_;
};

}  // namespace e2e
