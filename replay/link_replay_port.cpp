// The port of --link-replay (link_replay_port.h). Every call comes from the
// system's thread.
#include "replay/link_replay_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "replay/replay.h"
#include "runtime/serial.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto SLICE = std::chrono::milliseconds(20);  // longest wait between looks at a quit
constexpr double MAX_SILENCE_S = 1e6;

std::string errno_text(int err) { return std::make_error_code(static_cast<std::errc>(err)).message(); }

// The bytes the station sent, readable in the log: "RCVD\r".
std::string printable(const unsigned char* data, int n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < n; ++i) {
    const unsigned char c = data[i];
    if (c == '\r') text += "\\r";
    else if (c == '\n') text += "\\n";
    else if (c >= 0x20 && c < 0x7F && c != '\\') text += static_cast<char>(c);
    else {
      text += "\\x";
      text += digits[c >> 4];
      text += digits[c & 0x0F];
    }
  }
  return text;
}

class LinkReplayPort final : public ComPort, public ReplayInput {
 public:
  ~LinkReplayPort() override { close(); }

  int open(const std::string& path, long, int, int, int) override {
    std::string error;
    if (!open_file(path, &error)) {
      error_ = "link replay of " + path + ": " + error;
      return COM_ERR_OPEN_FAILED;
    }
    error_.clear();
    system_error_ = 0;
    replay_attach(this, path, FrameRules::Link);
    return 0;
  }

  void set_timeout(double timeout_s) override { timeout_s_ = timeout_s; }

  int read_byte() override {
    if (!fp_) return COM_ERR_NOT_OPEN;
    if (replay_first_of_pass()) replay_gate();
    if (interrupted()) return COM_ERR_TIMEOUT;
    if (timeout_s_ < RECEIVE_TIMEOUT_MIN_S) return silence();  // the run start's drain
    errno = 0;
    const int c = std::fgetc(fp_);
    if (c == EOF) {
      if (!ended_) {
        ended_ = true;
        // A read error is no end of the file: said, and the exit status
        // tells, as for playback.
        if (std::ferror(fp_)) read_failed(errno);
        transport_set_input_exhausted(true);
        transport_end_of_input();
        replay_end_of_input();
        log_info("Link replay: the end of " + path_ + "; the link is silent from here");
      }
      return silence();
    }
    if (!replay_stepping() && !replay_move_pending() && !arrive()) {
      std::ungetc(c, fp_);  // a quit: the byte stays for no one
      return COM_ERR_TIMEOUT;
    }
    transport_input_at(++pos_);
    return c;
  }

  int write(const unsigned char* data, int n) override {
    if (n > 0) log_info("Link replay: not sent (there is no link): " + printable(data, n));
    return n;
  }

  void close() override {
    if (!fp_) return;
    replay_detach(this);
    std::fclose(fp_);
    fp_ = nullptr;
  }

  void set_interrupt(std::function<bool()> interrupted) override { interrupted_ = std::move(interrupted); }
  int system_error() const override { return system_error_; }
  std::string error_text() const override { return error_; }

  bool move_to(int64_t offset, std::string* error) override {
    if (fp_) std::clearerr(fp_);
    if (!fp_ || std::fseek(fp_, static_cast<long>(offset), SEEK_SET) != 0) {
      *error = fp_ ? errno_text(errno) : "the link replay is closed";
      return false;
    }
    pos_ = offset;
    ended_ = false;
    last_arrival_ = Clock::now();
    transport_input_at(pos_);
    return true;
  }

  bool reopen(const std::string& path, std::string* error) override { return open_file(path, error); }

  bool seekable() const override { return true; }

 private:
  bool interrupted() const { return interrupted_ && interrupted_(); }

  void read_failed(int err) {
    const std::string reason = err != 0 ? errno_text(err) : "read error";
    say("Cannot read input file " + path_ + " to its end: " + reason + " (playback ends there)");
    note_exit_status(EXIT_INPUT_FAILED);
    transport_post_message("Input file " + path_ + " could not be read to its end: " + reason, Severity::Error);
  }

  // A recording file, from its start.
  bool open_file(const std::string& path, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    if (ec) {
      *error = ec.message();
      system_error_ = ENOENT;
      return false;
    }
    if (type != fs::file_type::regular) {
      *error = "not a regular file";
      system_error_ = EINVAL;
      return false;
    }
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
      system_error_ = errno;
      *error = errno_text(errno);
      return false;
    }
    if (fp_) std::fclose(fp_);
    fp_ = fp;
    path_ = path;
    pos_ = 0;
    ended_ = false;
    last_arrival_ = Clock::now();
    const auto size = fs::file_size(path, ec);
    transport_input_opened(ec ? 0 : static_cast<int64_t>(size));
    return true;
  }

  // Waits until `until`; false when a quit came first. With `for_move`, a
  // move that waits for this pass to end also ends the wait.
  bool wait_until(Clock::time_point until, bool for_move) {
    for (;;) {
      if (interrupted()) return false;
      if (for_move && replay_move_pending()) return true;
      const auto left = until - Clock::now();
      if (left <= Clock::duration::zero()) return true;
      std::this_thread::sleep_for(std::min<Clock::duration>(left, SLICE));
    }
  }

  // The next byte's arrival at the link's pace. False on a quit.
  bool arrive() {
    const double speed = transport_speed();
    const auto now = Clock::now();
    if (speed <= 0.0) {
      last_arrival_ = now;
      return true;
    }
    const auto byte_time = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / (LINK_BYTES_PER_S * speed)));
    const auto queue = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(LINK_QUEUE_S));
    last_arrival_ = std::max(last_arrival_ + byte_time, now - queue);
    return last_arrival_ <= now || wait_until(last_arrival_, true);
  }

  // No byte comes: the read waits its time-out (divided by the speed, whole
  // at speed 0 so that a silent link never spins) and fails.
  int silence() {
    const double speed = transport_speed();
    const double wait_s = std::min(speed > 0.0 ? timeout_s_ / speed : timeout_s_, MAX_SILENCE_S);
    wait_until(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait_s)),
               true);
    last_arrival_ = Clock::now();
    return COM_ERR_TIMEOUT;
  }

  FILE* fp_ = nullptr;
  std::string path_;
  int64_t pos_ = 0;
  bool ended_ = false;
  double timeout_s_ = 1.0;
  Clock::time_point last_arrival_ = Clock::now();
  std::function<bool()> interrupted_;
  int system_error_ = 0;
  std::string error_;
};

}  // namespace

std::shared_ptr<ComPort> make_link_replay_port() { return std::make_shared<LinkReplayPort>(); }

}  // namespace rt
