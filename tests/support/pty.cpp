#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace testing_pty {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t PACED_CHUNK = 32;  // bytes per paced write: 1/60 s at 1920 bytes/s

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("pseudo-terminal: " + what + ": " + std::strerror(errno));
}

}  // namespace

InstrumentPty::InstrumentPty(bool hold_slave) {
  master_fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_fd_ < 0) fail("posix_openpt");
  // Not inherited by the programs a test starts: a copy held there would
  // keep the link up after hang_up().
  if (fcntl(master_fd_, F_SETFD, FD_CLOEXEC) != 0) fail("fcntl");
  if (grantpt(master_fd_) != 0) fail("grantpt");
  if (unlockpt(master_fd_) != 0) fail("unlockpt");
  const char* name = ptsname(master_fd_);
  if (name == nullptr) fail("ptsname");
  slave_path_ = name;
  // Raw before the program opens the slave: no echo, CR stays CR, no
  // line buffering of the telemetry.
  termios tio{};
  if (tcgetattr(master_fd_, &tio) != 0) fail("tcgetattr");
  cfmakeraw(&tio);
  if (tcsetattr(master_fd_, TCSANOW, &tio) != 0) fail("tcsetattr");
  if (hold_slave) {
    slave_hold_fd_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_hold_fd_ < 0) fail("open " + slave_path_);
  }
}

InstrumentPty::~InstrumentPty() {
  if (slave_hold_fd_ >= 0) ::close(slave_hold_fd_);
  hang_up();
}

void InstrumentPty::hang_up() {
  if (master_fd_ >= 0) ::close(master_fd_);
  master_fd_ = -1;
}

std::vector<uint8_t> InstrumentPty::receive(size_t n_bytes, std::chrono::milliseconds wait) {
  collect_until(taken_ + n_bytes, wait);
  size_t end = std::min(received_.size(), taken_ + n_bytes);
  std::vector<uint8_t> out(received_.begin() + static_cast<long>(taken_), received_.begin() + static_cast<long>(end));
  taken_ = end;
  return out;
}

size_t InstrumentPty::send_some(const uint8_t* bytes, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t put = ::write(master_fd_, bytes + done, n - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EAGAIN) break;
    if (put < 0) fail("write");
    done += static_cast<size_t>(put);
  }
  return done;
}

void InstrumentPty::send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    done += send_some(bytes.data() + done, bytes.size() - done);
    collect();
    if (done < bytes.size()) {
      // The program has not read the buffer yet: wait until there is room.
      pollfd pfd{master_fd_, POLLOUT, 0};
      ::poll(&pfd, 1, 50);
    }
  }
}

void InstrumentPty::send_paced(const std::vector<uint8_t>& bytes, double bytes_per_s) {
  const auto start = Clock::now();
  for (size_t at = 0; at < bytes.size(); at += PACED_CHUNK) {
    const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(at / bytes_per_s));
    std::this_thread::sleep_until(due);
    const size_t n = std::min(PACED_CHUNK, bytes.size() - at);
    send(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + n));
  }
}

void InstrumentPty::collect() {
  uint8_t buffer[512];
  for (;;) {
    const ssize_t n = ::read(master_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: nothing more for now; EIO: the slave is closed.
    if (n <= 0) return;
    received_.insert(received_.end(), buffer, buffer + n);
  }
}

void InstrumentPty::collect_until(size_t n_bytes, std::chrono::milliseconds wait) {
  const auto deadline = Clock::now() + wait;
  collect();
  while (received_.size() < n_bytes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd pfd{master_fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && (pfd.revents & POLLHUP) && !(pfd.revents & POLLIN)) {
      // No slave open (not yet, or any more): nothing can come; wait a bit.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    collect();
  }
}

}  // namespace testing_pty
