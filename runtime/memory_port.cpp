#include "runtime/memory_port.h"

#include <cstring>

#include "runtime/serial.h"

namespace rt {

void MemoryPort::feed(const std::vector<uint8_t>& bytes) {
  feed(bytes.data(), bytes.size());
}

void MemoryPort::feed(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) input_.push_back(bytes[i]);
}

void MemoryPort::feed_timeout() { input_.push_back(TIMEOUT_MARK); }

int MemoryPort::open(const std::string&, long baud, int, int, int) {
  if (refuse_errno_ != 0) return COM_ERR_OPEN_FAILED;
  baud_ = baud;
  open_ = true;
  return 0;
}

int MemoryPort::read_byte() {
  ++reads_;
  if (input_.empty()) return fail_when_empty_ ? COM_ERR_IO : COM_ERR_TIMEOUT;
  int next = input_.front();
  input_.pop_front();
  return next == TIMEOUT_MARK ? COM_ERR_TIMEOUT : next;
}

int MemoryPort::write(const unsigned char* data, int n) {
  written_.insert(written_.end(), data, data + n);
  return n;
}

std::string MemoryPort::error_text() const {
  return refuse_errno_ ? std::strerror(refuse_errno_) : "";
}

}  // namespace rt
