#include "relay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace health_testing {

Relay::Relay(const std::string& sim_pty, testing_pty::InstrumentPty& to) : to_(to) {
  fd_ = ::open(sim_pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ >= 0) thread_ = std::thread([this] { run(); });
}

Relay::~Relay() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
}

void Relay::run() {
  uint8_t buf[512];
  while (!stop_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      to_.send(std::vector<uint8_t>(buf, buf + n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
      ended_ = true;
      return;
    }
  }
}

std::string sim_pty_path(const std::string& sim_out, double timeout_s) {
  std::string pty;
  testing_process::wait_until(timeout_s, [&] {
    const std::string out = testing_files::read_text(sim_out);
    const size_t at = out.find("pty ");
    if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
    pty = out.substr(at + 4, out.find('\n', at) - at - 4);
    return true;
  });
  return pty;
}

}  // namespace health_testing
