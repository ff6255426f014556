#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace e2e {

PtyPair::PtyPair() {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_fd_ < 0 || grantpt(master_fd_) != 0 || unlockpt(master_fd_) != 0)
    throw std::runtime_error(std::string("pseudo-terminal: ") + std::strerror(errno));
  slave_path_ = ptsname(master_fd_);
  termios tio{};
  tcgetattr(master_fd_, &tio);
  cfmakeraw(&tio);
  tcsetattr(master_fd_, TCSANOW, &tio);
  slave_hold_fd_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
  if (slave_hold_fd_ < 0)
    throw std::runtime_error("cannot open " + slave_path_ + ": " + std::strerror(errno));
}

PtyPair::~PtyPair() {
  if (slave_hold_fd_ >= 0) close(slave_hold_fd_);
  if (master_fd_ >= 0) close(master_fd_);
}

void PtyPair::send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR && errno != EAGAIN) throw std::runtime_error(std::strerror(errno));
    if (n > 0) done += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> PtyPair::receive(size_t n_bytes, std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + wait;
  std::vector<uint8_t> out;
  uint8_t buf[256];
  while (out.size() < n_bytes) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{master_fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t n = read(master_fd_, buf, sizeof buf);
    if (n > 0) out.insert(out.end(), buf, buf + n);
    else if (n < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  return out;
}

}  // namespace e2e
