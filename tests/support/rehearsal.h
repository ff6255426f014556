// A live rehearsal: gse_sim plays the instrument on a pseudo-terminal of its
// own, and the built vst_gse receives from it, headless, in one folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace testing_process {

// The path gse_sim printed for its pseudo-terminal ("pty PATH"), or "".
std::string sim_pty_path(const std::string& sim_output);

class Rehearsal {
 public:
  // Starts gse_sim --pty with `sim_args` (and --save sent.bin), then vst_gse
  // --headless --trace trace.jsonl on its pty, and waits for the station's
  // run start. The station reaches the pty through a symbolic link that
  // goes once its port is open: when the simulator hangs up, the station
  // reopens its port, and by the pty's own path it could open another
  // test's pty that took the freed number. gse_sim's output is in sim.out.
  Rehearsal(const testing_files::TempDir& dir, const std::vector<std::string>& sim_args);
  // What went wrong at the start ("" when both run).
  const std::string& failure() const { return failure_; }

  // Waits for gse_sim to end, then for the station to show the silent link,
  // and stops the station with SIGTERM as an operator would. Returns the
  // station's exit status (-1: it did not end), after gse_sim's (which must
  // be 0: else -2).
  int finish(double sim_timeout_s);

  std::string trace_text() const { return read_text("trace.jsonl"); }
  std::string sim_output() const { return read_text("sim.out"); }
  std::vector<uint8_t> sent() const { return testing_files::read_file(dir_.file("sent.bin")); }
  // The recordings (*.dat) the station made.
  std::vector<std::string> recordings() const;

 private:
  std::string read_text(const std::string& name) const { return testing_files::read_text(dir_.file(name)); }

  const testing_files::TempDir& dir_;
  std::unique_ptr<Child> sim_, station_;
  std::string failure_;
};

}  // namespace testing_process
