// gse_sim: plays the instrument. Sends telemetry frames to a serial device
// or a pseudo-terminal at the link's byte rate, printing what the station
// sends back, or writes a recording. See usage_text() for the options.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "tools/sim_frames.h"
#include "tools/sim_options.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int POLL_MS = 100;          // how often blocked calls look at the stop flag
constexpr int UPLINK_QUIET_MS = 100;  // a pending command is complete after this silence
constexpr double FULL_LINK_DROP_S = 1.0;
// At the end on a pty: a station that takes none of the bytes still in
// flight for this long is taken to be gone.
constexpr double NOBODY_READS_S = 10.0;
constexpr int DRAIN_POLL_MS = 10;

volatile sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

void install_signal_handlers() {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: blocked calls return with EINTR
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::mutex out_mutex;

void say(const std::string& line) {
  std::lock_guard<std::mutex> lock(out_mutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// 19200 baud, 8 data bits, no parity, 1 stop bit, no flow control, raw.
bool make_raw(int fd, bool set_speed, std::string& error) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    error = std::string("tcgetattr: ") + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS8;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (set_speed && (cfsetispeed(&tio, B19200) != 0 || cfsetospeed(&tio, B19200) != 0)) {
    error = std::string("cannot set 19200 baud: ") + std::strerror(errno);
    return false;
  }
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    error = std::string("tcsetattr: ") + std::strerror(errno);
    return false;
  }
  return true;
}

struct Link {
  int fd = -1;        // the side the simulator writes and reads
  int slave_fd = -1;  // a pty's slave, held open so the master never hangs up
};

bool open_port(const std::string& device, Link& link, std::string& error) {
  link.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (link.fd < 0) {
    error = "cannot open " + device + ": " + std::strerror(errno);
    return false;
  }
  std::string why;
  if (!make_raw(link.fd, true, why)) {
    error = device + ": " + why;
    return false;
  }
  return true;
}

bool open_pty(Link& link, std::string& path, std::string& error) {
  link.fd = posix_openpt(O_RDWR | O_NOCTTY);
  if (link.fd < 0 || grantpt(link.fd) != 0 || unlockpt(link.fd) != 0) {
    error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
    return false;
  }
  const char* name = ptsname(link.fd);
  if (name == nullptr) {
    error = std::string("ptsname: ") + std::strerror(errno);
    return false;
  }
  path = name;
  link.slave_fd = open(path.c_str(), O_RDWR | O_NOCTTY);
  if (link.slave_fd < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  // Raw before anyone learns the path: cooked mode would turn CR into LF and
  // echo the station's bytes back.
  std::string why;
  if (!make_raw(link.slave_fd, false, why) || !make_raw(link.fd, false, why)) {
    error = path + ": " + why;
    return false;
  }
  fcntl(link.fd, F_SETFL, fcntl(link.fd, F_GETFL) | O_NONBLOCK);
  return true;
}

// Writes all bytes, waiting while the link is full. A paced pty is a UART
// with nobody perhaps listening: when its buffer stays full for
// FULL_LINK_DROP_S, the bytes nobody read are dropped (`unread_fd` >= 0),
// as a line without a listener loses them. False on a write error (with
// `error` set) or a stop request. `done` gets the bytes put on the link,
// also when it stops part way (the start of a frame is on the link then).
bool write_all(int fd, int unread_fd, const uint8_t* data, size_t n, size_t& done, std::string& error) {
  done = 0;
  auto blocked_since = Clock::now();
  while (done < n) {
    if (stop_requested) return false;
    ssize_t put = write(fd, data + done, n - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
      blocked_since = Clock::now();
    } else if (put < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, POLL_MS);
      std::chrono::duration<double> blocked = Clock::now() - blocked_since;
      if (unread_fd >= 0 && blocked.count() >= FULL_LINK_DROP_S) {
        tcflush(unread_fd, TCIFLUSH);
        blocked_since = Clock::now();
      }
    } else {
      error = std::string("write failed: ") + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// Closing a pty hangs it up, and the slave loses what it has not read yet;
// a line would still deliver bytes already sent. So before the end, wait
// until the station has taken them (the slave's input queue is empty), or
// until it has taken none for NOBODY_READS_S.
void wait_until_taken(int slave_fd) {
  int left = 0;
  int last_left = -1;
  auto progress = Clock::now();
  while (!stop_requested && ioctl(slave_fd, FIONREAD, &left) == 0 && left > 0) {
    if (left != last_left) {
      last_left = left;
      progress = Clock::now();
    } else if (std::chrono::duration<double>(Clock::now() - progress).count() >= NOBODY_READS_S) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(DRAIN_POLL_MS));
  }
}

void sleep_until(Clock::time_point when) {
  while (!stop_requested && Clock::now() < when) {
    auto left = when - Clock::now();
    std::this_thread::sleep_for(std::min<Clock::duration>(left, std::chrono::milliseconds(POLL_MS)));
  }
}

struct UplinkCounts {
  std::atomic<uint64_t> acks{0};
  std::atomic<uint64_t> commands{0};
};

void report(const std::vector<sim::UplinkMessage>& messages, UplinkCounts& counts) {
  for (const auto& m : messages) {
    if (m.ack) {
      ++counts.acks;
      say("uplink RCVD");
    } else {
      ++counts.commands;
      say("uplink command " + sim::printable(m.bytes));
    }
  }
}

// Reads the uplink until `done` is set; prints each acknowledgement and command.
void read_uplink(int fd, const std::atomic<bool>& done, UplinkCounts& counts) {
  sim::UplinkSplitter splitter;
  uint8_t buf[256];
  while (!done) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, UPLINK_QUIET_MS);
    if (ready == 0) {
      report(splitter.idle(), counts);
      continue;
    }
    if (ready < 0) continue;  // EINTR
    ssize_t got = read(fd, buf, sizeof buf);
    if (got > 0) {
      report(splitter.feed(buf, static_cast<size_t>(got)), counts);
    } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
      // A hung-up device reads as an error at once: do not spin on it.
      std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
    }
  }
  report(splitter.idle(), counts);
  report(splitter.finish(), counts);
}

struct Totals {
  uint64_t frames = 0;
  uint64_t bytes = 0;
  uint64_t noise = 0;
  uint64_t bad_checksum = 0;
  uint64_t illegal_escape = 0;
  uint64_t cut = 0;
  uint64_t partial = 0;  // of `bytes`: the start of a frame a stop cut short
};

void count_faults(const sim::WireFrame& wire, Totals& totals) {
  totals.noise += wire.noise_len > 0;
  totals.bad_checksum += wire.bad_checksum;
  totals.illegal_escape += wire.illegal_stored_at >= 0;
  totals.cut += wire.cut_keep > 0;
}

int run(const sim::Options& opt) {
  install_signal_handlers();
  Link link;
  FILE* out_fp = nullptr;
  std::string error;
  if (opt.target == sim::Target::FILE) {
    out_fp = std::fopen(opt.out_path.c_str(), "wb");
    if (out_fp == nullptr) {
      std::fprintf(stderr, "gse_sim: cannot create %s: %s\n", opt.out_path.c_str(), std::strerror(errno));
      return 1;
    }
  } else if (opt.target == sim::Target::PORT) {
    if (!open_port(opt.device, link, error)) {
      std::fprintf(stderr, "gse_sim: %s\n", error.c_str());
      return 1;
    }
  } else {
    std::string path;
    if (!open_pty(link, path, error)) {
      std::fprintf(stderr, "gse_sim: %s\n", error.c_str());
      return 1;
    }
    say("pty " + path);
  }

  // The bytes actually put on the link, flushed per frame so that a test can
  // compare them with the station's recording while both run.
  FILE* save_fp = nullptr;
  if (!opt.save_path.empty()) {
    save_fp = std::fopen(opt.save_path.c_str(), "wb");
    if (save_fp == nullptr) {
      std::fprintf(stderr, "gse_sim: cannot create %s: %s\n", opt.save_path.c_str(), std::strerror(errno));
      return 1;
    }
  }

  UplinkCounts counts;
  std::atomic<bool> uplink_done{false};
  std::thread uplink;
  if (opt.link()) uplink = std::thread(read_uplink, link.fd, std::cref(uplink_done), std::ref(counts));

  const double period_ms = sim::frame_period_ms(opt.rate_bytes_s);
  const auto start = Clock::now();
  Totals totals;
  int status = 0;
  for (uint64_t i = 0; (opt.frames == 0 || i < opt.frames) && !stop_requested; ++i) {
    sim::Frame frame = sim::make_frame(opt.seed, i, opt.first_count, period_ms);
    sim::shape_housekeeping(frame, opt.hk, i);
    sim::WireFrame wire = sim::make_wire(frame, sim::choose_faults(opt.faults, opt.seed, i), opt.link());
    if (opt.rate_bytes_s > 0.0) {
      // The byte clock of a UART: this frame's first byte goes out once all
      // earlier bytes would have.
      sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(totals.bytes / opt.rate_bytes_s)));
      if (stop_requested) break;
    }
    if (out_fp != nullptr) {
      if (std::fwrite(wire.bytes.data(), 1, wire.bytes.size(), out_fp) != wire.bytes.size()) {
        std::fprintf(stderr, "gse_sim: cannot write %s: %s\n", opt.out_path.c_str(), std::strerror(errno));
        status = 1;
        break;
      }
    } else if (size_t put = 0; !write_all(link.fd, opt.rate_bytes_s > 0.0 ? link.slave_fd : -1, wire.bytes.data(),
                                          wire.bytes.size(), put, error)) {
      // A stop part way: the frame's first bytes are on the link, so they
      // are saved and counted too (the station has them).
      if (save_fp != nullptr) {
        std::fwrite(wire.bytes.data(), 1, put, save_fp);
        std::fflush(save_fp);
      }
      totals.bytes += put;
      totals.partial = put;
      if (!stop_requested) {
        std::fprintf(stderr, "gse_sim: %s: %s\n", opt.device.empty() ? "pty" : opt.device.c_str(), error.c_str());
        status = 1;
      }
      break;
    }
    if (save_fp != nullptr) {
      std::fwrite(wire.bytes.data(), 1, wire.bytes.size(), save_fp);
      std::fflush(save_fp);
    }
    ++totals.frames;
    totals.bytes += wire.bytes.size();
    count_faults(wire, totals);
    if (!opt.quiet) {
      std::string line = "frame " + std::to_string(i) + " fcount " +
                         std::to_string(fcount(frame.data())) + " sent " + std::to_string(wire.bytes.size());
      std::string faults = sim::describe_faults(wire);
      if (!faults.empty()) line += " " + faults;
      say(line);
    }
  }

  if (save_fp != nullptr) std::fclose(save_fp);
  if (out_fp != nullptr && std::fclose(out_fp) != 0 && status == 0) {
    std::fprintf(stderr, "gse_sim: cannot write %s: %s\n", opt.out_path.c_str(), std::strerror(errno));
    status = 1;
  }
  if (opt.link()) {
    if (status == 0 && !stop_requested) {
      if (link.slave_fd >= 0) wait_until_taken(link.slave_fd);
      sleep_until(Clock::now() +
                  std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt.linger_s)));
    }
    uplink_done = true;
    uplink.join();
    if (link.slave_fd >= 0) close(link.slave_fd);
    close(link.fd);
  }
  say("summary frames " + std::to_string(totals.frames) + " bytes " + std::to_string(totals.bytes) +
      " partial " + std::to_string(totals.partial) +
      " noise " + std::to_string(totals.noise) + " bad-checksum " + std::to_string(totals.bad_checksum) +
      " illegal-escape " + std::to_string(totals.illegal_escape) + " cut " + std::to_string(totals.cut) +
      " acks " + std::to_string(counts.acks.load()) + " commands " + std::to_string(counts.commands.load()));
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  sim::Options opt;
  std::string error = sim::parse_options(args, opt);
  if (!error.empty()) {
    std::fprintf(stderr, "gse_sim: %s\nRun 'gse_sim --help' for the options.\n", error.c_str());
    return 2;
  }
  if (opt.help) {
    std::fputs(sim::usage_text(), stdout);
    return 0;
  }
  if (opt.version) {
    std::printf("gse_sim %s\n", GSE_VERSION);
    return 0;
  }
  return run(opt);
}
