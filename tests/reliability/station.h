// Helpers of the reliability tests: the built vst_gse, headless and traced,
// on a pseudo-terminal whose program side the test also holds open, and a
// sender thread that keeps bytes coming on the link.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/frames.h"
#include "support/files.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/trace_reader.h"

namespace reliability {

// The program's end of the link, opened by the test before the program opens
// it. Bytes sent on the link that the program has not read wait in this end's
// input queue, which the handle measures and drains; holding it also keeps
// that queue when the program closes its port.
class ProgramSide {
 public:
  explicit ProgramSide(const std::string& slave_path);
  ~ProgramSide();
  ProgramSide(const ProgramSide&) = delete;
  ProgramSide& operator=(const ProgramSide&) = delete;

  // Bytes waiting in the input queue (sent, not yet taken by the program).
  size_t unread() const;
  // While held, the program's writes cannot leave (as with a peer that does
  // not read): they wait in its own buffer.
  void hold_output(bool held);
  // Reads what is left in the input queue until it stays empty for
  // `quiet_s`. Returns the count.
  size_t drain(double quiet_s);

 private:
  int fd_ = -1;
};

// Sends bytes of `pattern`, over and over, from a thread of its own until
// stop(): in chunks at `bytes_per_s`, or as fast as the link takes them (0).
class StreamSender {
 public:
  StreamSender(testing_pty::InstrumentPty& link, std::vector<uint8_t> pattern, double bytes_per_s);
  ~StreamSender();
  StreamSender(const StreamSender&) = delete;
  StreamSender& operator=(const StreamSender&) = delete;

  void stop();
  size_t sent_count() const { return sent_count_.load(); }
  // Every byte the link took, in order (whole after stop()).
  std::vector<uint8_t> sent() const;

 private:
  void run(double bytes_per_s);

  testing_pty::InstrumentPty& link_;
  std::vector<uint8_t> pattern_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> sent_count_{0};
  mutable std::mutex mu_;
  std::vector<uint8_t> sent_;
  std::thread thread_;
};

// One headless live session: `vst_gse --headless --port <pty> --trace FILE`
// (plus `args`) in a fresh folder, the program side held from the start.
// `prepare` runs before the program starts (a file laid in its folder,
// bytes left waiting on the link).
class Station {
 public:
  explicit Station(const std::vector<std::string>& args = {},
                   const std::function<void(Station&)>& prepare = nullptr);

  testing_pty::InstrumentPty& link() { return link_; }
  ProgramSide& side() { return *side_; }
  testing_process::Child& program() { return *child_; }
  const testing_files::TempDir& dir() const { return dir_; }

  std::vector<testing_trace::Line> trace() const;
  // Waits until PANEL_STATUS has shown `text` at least `n` times.
  bool wait_for_status(const std::string& text, double timeout_s, size_t n = 1) const;
  // Waits until the trace holds at least `n` lines of `op` (on `ctrl`).
  bool wait_for_lines(size_t n, const std::string& op, const std::string& ctrl,
                      double timeout_s) const;
  // The one recording in the folder (empty if there is none).
  std::vector<uint8_t> recording() const;

  // Sends `sig` and waits for the exit. Returns the seconds it took, or -1
  // when the program had not ended after `timeout_s`; `status` gets the exit
  // status.
  double quit_by(int sig, double timeout_s, int* status);

 private:
  testing_files::TempDir dir_;
  testing_pty::InstrumentPty link_;
  std::unique_ptr<ProgramSide> side_;
  std::unique_ptr<testing_process::Child> child_;
};

// The built vst_gse with its standard streams on descriptors the test
// chose (-1: /dev/null), SIGPIPE at its default as a shell leaves it, the
// offscreen platform and its settings in `cwd`.
class Spawned {
 public:
  Spawned(const std::vector<std::string>& args, const std::string& cwd, int in_fd, int out_fd, int err_fd);
  ~Spawned();  // kills it if still running
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  void signal(int sig);
  bool running();
  // The exit status (128 + signal when killed), or -1 after `timeout_s`.
  int wait(double timeout_s);
  // Sends `sig` and waits for the exit: the seconds it took, or -1.
  double quit_by(int sig, double timeout_s, int* status);

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// The recording names of this minute and the next (a run that starts
// across a minute's end takes the second).
std::vector<std::string> recording_names_now();

// Status texts the program shows.
inline const std::string STATUS_READY = "serial port ready";
inline const std::string STATUS_TIMEOUT = "COM1 err: too few bytes read";

// `n` good frames with counters first, first + 1, ..., as the link carries them.
std::vector<uint8_t> link_frames(int n, uint32_t first);

// The station sent these bytes to the instrument: readable, for messages.
using testing_frames::printable;

}  // namespace reliability
