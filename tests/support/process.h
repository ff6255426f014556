// Running the built programs from tests: whole runs with their output, and
// children that keep running while the test talks to them.
//
// Every child dies with the test that started it (the kernel kills it when
// the test's process ends, even by a time-out's SIGKILL or a crash), and
// carries CHILD_MARK=<bin dir>#<run id> in its environment, so that the end
// of a CTest run can find any that outlived their test
// (tests/support/orphans.py) without touching processes that other runs
// started: other builds' tests, or another ctest run of this same build.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_process {

// The environment variable that marks the children of this run's tests.
inline constexpr const char* CHILD_MARK = "GSE_TEST_CHILD_OF";

// The CTest run this test belongs to: "ctest-PID-START", the pid and start
// time (clock ticks after boot) of the nearest ctest process among its
// ancestors; "" when no ctest started it (run by hand). orphans.py works out
// the same for itself.
std::string run_id();
// The mark's value for the children of tests of `bin_dir` in this run:
// "<bin_dir>#<run id>".
std::string child_mark(const std::string& bin_dir);

// For a test that forks a program itself: call this in the child, right
// after fork, with the test's own pid (getpid() before the fork). The
// child then dies with the test and carries the mark.
void become_test_child(pid_t test);

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

// A write failure on a real file: while it lives, this process cannot grow
// any file beyond `bytes` (RLIMIT_FSIZE; a write past it fails with EFBIG
// instead of raising SIGXFSZ), as a full disk or `ulimit -f` would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(long long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  long long old_limit_;
  void (*old_handler_)(int);
};

// Polls `done` every 20 ms until it holds or timeout_s passes.
bool wait_until(double timeout_s, const std::function<bool()>& done);

// Standard error of vst_gse without the handover summary it ends with (the
// lines from "vst_gse summary:" on).
std::string without_summary(const std::string& err);

std::string vst_gse();  // path of the built program
std::string gse_sim();  // path of the built simulator

}  // namespace testing_process
