#include "pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace serial_testing {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(errno));
}

}  // namespace

Pty::Pty() {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_fd_ < 0) fail("posix_openpt");
  if (grantpt(master_fd_) != 0) fail("grantpt");
  if (unlockpt(master_fd_) != 0) fail("unlockpt");
  const char* name = ptsname(master_fd_);
  if (name == nullptr) fail("ptsname");
  slave_path_ = name;
  // Raw before anyone opens the slave: no echo, CR stays CR.
  termios tio{};
  if (tcgetattr(master_fd_, &tio) != 0) fail("tcgetattr");
  cfmakeraw(&tio);
  if (tcsetattr(master_fd_, TCSANOW, &tio) != 0) fail("tcsetattr");
}

Pty::~Pty() { hang_up(); }

void Pty::send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail("write");
    done += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> Pty::receive(size_t n_bytes, std::chrono::milliseconds wait) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + wait;
  std::vector<uint8_t> got;
  while (got.size() < n_bytes) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{master_fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    uint8_t buffer[512];
    const ssize_t n = ::read(master_fd_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void Pty::hang_up() {
  if (master_fd_ >= 0) ::close(master_fd_);
  master_fd_ = -1;
}

}  // namespace serial_testing
