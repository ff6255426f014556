// One headless live session of the built vst_gse against an instrument
// pseudo-terminal: the program runs in the background in a fresh folder
// (where its recording lands) with --trace and, optionally, --events.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/pty.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace live_testing {

using testing_pty::InstrumentPty;

// Status texts the program shows in PANEL_STATUS.
inline const std::string STATUS_SETUP = "setting up serial port";
inline const std::string STATUS_READY = "serial port ready";
inline const std::string STATUS_GOOD = " ";
inline const std::string STATUS_CHECKSUM = "COM1 err: checksum failure";
inline const std::string STATUS_ILLEGAL = "COM1 err: illegal ++- sequence";
inline const std::string STATUS_TIMEOUT = "COM1 err: too few bytes read";

class LiveSession {
 public:
  // Starts `vst_gse --headless --port <slave> --trace <dir>/trace.jsonl`,
  // plus `--events` with `events` when it is not empty. `pending` is written
  // to the link before the program starts; `prepare` may fill the folder
  // before that.
  explicit LiveSession(const std::string& events = "", const std::vector<uint8_t>& pending = {},
                       const std::function<void(const testing_files::TempDir&)>& prepare = {});

  InstrumentPty& link() { return link_; }
  testing_process::Child& program() { return *child_; }
  const testing_files::TempDir& dir() const { return dir_; }
  std::string trace_path() const { return dir_.file("trace.jsonl"); }

  std::vector<testing_trace::Line> trace() const;
  // Waits until the trace holds `value` as a PANEL_STATUS text.
  bool wait_for_status(const std::string& value, double timeout_s) const;
  // Waits until the trace holds at least `n` lines of `op` (on `ctrl`).
  bool wait_for_lines(size_t n, const std::string& op, const std::string& ctrl,
                      double timeout_s) const;

  // The recording files (*.dat) in the session's folder.
  std::vector<std::string> recordings() const;
  // The contents of the one recording; fails the test if there is not
  // exactly one.
  std::vector<uint8_t> recording() const;

  // SIGTERM, then the exit status (-1 if it did not end in time).
  int quit_by_signal(double timeout_s = 10.0);

 private:
  testing_files::TempDir dir_;
  InstrumentPty link_;
  std::unique_ptr<testing_process::Child> child_;
};

// Values of SetCtrlVal on `ctrl`, in trace order (texts as given, numbers
// as written).
std::vector<std::string> values_of(const std::vector<testing_trace::Line>& lines,
                                   const std::string& ctrl);
// The "hex" of every line of `op` (ComWrt, ComWrtByte), concatenated.
std::string hex_sent(const std::vector<testing_trace::Line>& lines, const std::string& op);
// Index of the first line with `op` at or after `from`; lines.size() if none.
size_t find_op(const std::vector<testing_trace::Line>& lines, const std::string& op,
               size_t from = 0);

// Bytes as text (support/frames.h).
using testing_frames::hex;
using testing_frames::hex_dump;
using testing_frames::printable;

}  // namespace live_testing
