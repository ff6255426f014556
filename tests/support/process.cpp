#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "support/files.h"

namespace testing_process {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argv_of(const std::string& exe, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

[[noreturn]] void exec_child(const std::string& exe, const std::vector<std::string>& args,
                             const std::string& cwd, const std::vector<std::string>& env) {
  if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
  int null_in = open("/dev/null", O_RDONLY);
  dup2(null_in, 0);
  // A window the program shows keeps its settings (layout, theme) in the
  // run's folder, never in the user's.
  setenv("XDG_CONFIG_HOME", cwd.empty() ? "." : cwd.c_str(), 1);
  for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
  auto argv = argv_of(exe, args);
  execv(exe.c_str(), argv.data());
  _exit(127);
}

int decode_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

namespace {

// The command name, parent and start time of process `pid` (from
// /proc/PID/stat: "pid (comm) state ppid ..." with the start time the 22nd
// field; the name may hold blanks and parentheses, so it ends at the last
// ')'). False when the process is gone.
bool proc_stat(pid_t pid, std::string* comm, pid_t* parent, std::string* start) {
  const std::string stat = testing_files::read_text("/proc/" + std::to_string(pid) + "/stat");
  const size_t open = stat.find('('), close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  *comm = stat.substr(open + 1, close - open - 1);
  std::vector<std::string> fields;  // from the 3rd field (state) on
  size_t at = close + 2;
  while (at < stat.size()) {
    const size_t end = stat.find(' ', at);
    fields.push_back(stat.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  if (fields.size() < 20) return false;
  *parent = static_cast<pid_t>(std::atol(fields[1].c_str()));
  *start = fields[19];
  return true;
}

std::string find_run_id() {
  pid_t pid = getppid();
  for (int depth = 0; pid > 1 && depth < 64; ++depth) {
    std::string comm, start;
    pid_t parent = 0;
    if (!proc_stat(pid, &comm, &parent, &start)) break;
    if (comm == "ctest") return "ctest-" + std::to_string(pid) + "-" + start;
    pid = parent;
  }
  return "";
}

}  // namespace

std::string run_id() {
  static const std::string id = find_run_id();
  return id;
}

std::string child_mark(const std::string& bin_dir) { return bin_dir + "#" + run_id(); }

// The signal outlives exec (and a shell's exec passes it on). It is sent
// when the thread that forked ends: tests start their children on the
// test's own thread. A test already gone by now leaves no child either.
void become_test_child(pid_t test) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != test) _exit(125);
  // The run id of the test, its parent (worked out before the fork where
  // run() and Child fork, so the child only reads it).
  setenv(CHILD_MARK, child_mark(testing_files::bin_dir()).c_str(), 1);
}

RunResult run(const std::string& exe, const std::vector<std::string>& args,
              const std::string& cwd, double timeout_s, const std::vector<std::string>& env) {
  int out_pipe[2], err_pipe[2];
  RunResult r;
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return r;
  const pid_t test = getpid();
  run_id();  // read /proc before the fork, not in the child
  pid_t pid = fork();
  if (pid == 0) {
    become_test_child(test);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    exec_child(exe, args, cwd, env);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exit_code = decode_status(status);
  return r;
}

Child::Child(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
             const std::string& stdout_path, const std::vector<std::string>& env,
             const std::string& stderr_path) {
  const pid_t test = getpid();
  run_id();
  pid_ = fork();
  if (pid_ == 0) {
    become_test_child(test);
    int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out >= 0) dup2(out, 1);
    if (!stderr_path.empty()) {
      int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) dup2(err, 2);
    }
    exec_child(exe, args, cwd, env);
  }
}

Child::~Child() {
  if (running()) {
    kill(pid_, SIGKILL);
    wait(5.0);
  }
}

void Child::signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

bool Child::running() {
  if (pid_ <= 0 || status_ != -1) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = decode_status(status);
    return false;
  }
  return r == 0;
}

int Child::wait(double timeout_s) {
  wait_until(timeout_s, [&] { return !running(); });
  return status_;
}

FileSizeLimit::FileSizeLimit(long long bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  old_limit_ = static_cast<long long>(limit.rlim_cur);
  old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(old_limit_);
  setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, old_handler_);
}

bool wait_until(double timeout_s, const std::function<bool()>& done) {
  auto deadline = Clock::now() + std::chrono::duration<double>(timeout_s);
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

std::string without_summary(const std::string& err) {
  const size_t at = err.rfind("vst_gse summary:");
  if (at == std::string::npos || (at > 0 && err[at - 1] != '\n')) return err;
  return err.substr(0, at);
}

std::string vst_gse() { return testing_files::bin_dir() + "/vst_gse"; }
std::string gse_sim() { return testing_files::bin_dir() + "/gse_sim"; }

}  // namespace testing_process
