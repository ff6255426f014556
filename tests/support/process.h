// Running the built programs from tests: whole runs with their output, and
// children that keep running while the test talks to them.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_process {

struct RunResult {
  int exit_code = -1;  // exit status, or 128 + signal
  std::string out;     // standard output
  std::string err;     // standard error
  bool timed_out = false;
};

// Runs `exe` with `args` in `cwd`, standard input from /dev/null, extra
// environment entries "NAME=value", and XDG_CONFIG_HOME at `cwd` (so a
// window's settings stay out of the user's). Kills it after timeout_s.
RunResult run(const std::string& exe, const std::vector<std::string>& args,
              const std::string& cwd, double timeout_s = 60.0,
              const std::vector<std::string>& env = {});

// A program running in the background; its standard output goes to a file
// that the test can read while it runs.
class Child {
 public:
  // With `stderr_path`, standard error goes to that file too (else it is the
  // test's own).
  Child(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
        const std::string& stdout_path, const std::vector<std::string>& env = {},
        const std::string& stderr_path = "");
  ~Child();  // kills it if still running
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  void signal(int sig);
  // Waits for the exit; returns the status as in RunResult, or -1 on time-out.
  int wait(double timeout_s);
  bool running();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Polls `done` every 20 ms until it holds or timeout_s passes.
bool wait_until(double timeout_s, const std::function<bool()>& done);

// Standard error of vst_gse without the handover summary it ends with (the
// lines from "vst_gse summary:" on).
std::string without_summary(const std::string& err);

std::string vst_gse();  // path of the built program
std::string gse_sim();  // path of the built simulator

}  // namespace testing_process
