#include "station.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>

#include "app/entry.h"
#include "support/frames.h"

namespace reliability {

using Clock = std::chrono::steady_clock;

ProgramSide::ProgramSide(const std::string& slave_path) {
  fd_ = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("open " + slave_path + ": " + std::strerror(errno));
}

ProgramSide::~ProgramSide() {
  if (fd_ >= 0) {
    ::tcflow(fd_, TCOON);
    ::close(fd_);
  }
}

size_t ProgramSide::unread() const {
  int n = 0;
  if (::ioctl(fd_, FIONREAD, &n) != 0) return 0;
  return static_cast<size_t>(n);
}

void ProgramSide::hold_output(bool held) { ::tcflow(fd_, held ? TCOOFF : TCOON); }

size_t ProgramSide::drain(double quiet_s) {
  size_t total = 0;
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      total += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return total;
    pollfd pfd{fd_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(quiet_s * 1000)) <= 0) return total;
  }
}

StreamSender::StreamSender(testing_pty::InstrumentPty& link, std::vector<uint8_t> pattern,
                           double bytes_per_s)
    : link_(link), pattern_(std::move(pattern)) {
  thread_ = std::thread([this, bytes_per_s] { run(bytes_per_s); });
}

StreamSender::~StreamSender() { stop(); }

void StreamSender::stop() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

std::vector<uint8_t> StreamSender::sent() const {
  std::lock_guard lock(mu_);
  return sent_;
}

void StreamSender::run(double bytes_per_s) {
  // At a rate: a chunk every 10 ms. As fast as the link takes them: what it
  // takes, and a short rest when it is full.
  const size_t chunk = bytes_per_s > 0 ? std::max<size_t>(1, static_cast<size_t>(bytes_per_s / 100)) : 4096;
  const auto start = Clock::now();
  size_t at = 0;  // position in the pattern
  while (!stop_.load()) {
    std::vector<uint8_t> next;
    for (size_t i = 0; i < chunk; ++i) next.push_back(pattern_[(at + i) % pattern_.size()]);
    size_t taken = 0;
    try {
      taken = link_.send_some(next.data(), next.size());
    } catch (const std::exception&) {
      return;  // the link is gone: nothing more can be sent
    }
    at = (at + taken) % pattern_.size();
    {
      std::lock_guard lock(mu_);
      sent_.insert(sent_.end(), next.begin(), next.begin() + static_cast<long>(taken));
    }
    sent_count_.fetch_add(taken);
    if (bytes_per_s > 0) {
      std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                std::chrono::duration<double>(sent_count_.load() / bytes_per_s)));
    } else if (taken < next.size()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

Station::Station(const std::vector<std::string>& args, const std::function<void(Station&)>& prepare) {
  side_ = std::make_unique<ProgramSide>(link_.slave_path());
  if (prepare) prepare(*this);
  std::vector<std::string> all{"--headless", "--port", link_.slave_path(), "--trace",
                               dir_.file("trace.jsonl")};
  all.insert(all.end(), args.begin(), args.end());
  child_ = std::make_unique<testing_process::Child>(testing_process::vst_gse(), all, dir_.path(),
                                                    dir_.file("stdout.txt"));
}

std::vector<testing_trace::Line> Station::trace() const {
  std::string text = testing_files::read_text(dir_.file("trace.jsonl"));
  const size_t last_newline = text.rfind('\n');  // a line being written is not yet whole
  text.resize(last_newline == std::string::npos ? 0 : last_newline + 1);
  return testing_trace::parse(text);
}

bool Station::wait_for_status(const std::string& text, double timeout_s, size_t n) const {
  return testing_process::wait_until(timeout_s, [&] {
    size_t seen = 0;
    for (const auto& line : testing_trace::select(trace(), "SetCtrlVal", "PANEL_STATUS"))
      seen += line.field("value") == text;
    return seen >= n;
  });
}

bool Station::wait_for_lines(size_t n, const std::string& op, const std::string& ctrl,
                             double timeout_s) const {
  return testing_process::wait_until(
      timeout_s, [&] { return testing_trace::select(trace(), op, ctrl).size() >= n; });
}

std::vector<uint8_t> Station::recording() const {
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    if (entry.path().extension() == ".dat") return testing_files::read_file(entry.path().string());
  return {};
}

double Station::quit_by(int sig, double timeout_s, int* status) {
  const auto start = Clock::now();
  child_->signal(sig);
  *status = child_->wait(timeout_s);
  if (*status == -1) return -1.0;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Spawned::Spawned(const std::vector<std::string>& args, const std::string& cwd, int in_fd, int out_fd,
                 int err_fd) {
  const std::string exe = testing_process::vst_gse();
  std::vector<std::string> all{exe};
  all.insert(all.end(), args.begin(), args.end());
  const pid_t test = ::getpid();
  pid_ = ::fork();
  if (pid_ != 0) return;
  testing_process::become_test_child(test);
  const int null_fd = ::open("/dev/null", O_RDWR);
  ::dup2(in_fd >= 0 ? in_fd : null_fd, 0);
  ::dup2(out_fd >= 0 ? out_fd : null_fd, 1);
  ::dup2(err_fd >= 0 ? err_fd : null_fd, 2);
  ::signal(SIGPIPE, SIG_DFL);
  if (::chdir(cwd.c_str()) != 0) ::_exit(126);
  ::setenv("XDG_CONFIG_HOME", cwd.c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::execv(exe.c_str(), argv.data());
  ::_exit(127);
}

Spawned::~Spawned() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    wait(5.0);
  }
}

void Spawned::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

bool Spawned::running() {
  if (pid_ <= 0 || status_ != -1) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
  return false;
}

int Spawned::wait(double timeout_s) {
  testing_process::wait_until(timeout_s, [&] { return !running(); });
  return status_;
}

double Spawned::quit_by(int sig, double timeout_s, int* status) {
  const auto start = Clock::now();
  signal(sig);
  *status = wait(timeout_s);
  if (*status == -1) return -1.0;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::vector<std::string> recording_names_now() {
  std::vector<std::string> names;
  for (std::time_t t : {std::time(nullptr), std::time(nullptr) + 60}) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    char name[16];
    make_recording_name(tm, name);
    names.push_back(name);
  }
  return names;
}

std::vector<uint8_t> link_frames(int n, uint32_t first) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) {
    testing_frames::FrameBuilder f;
    f.counter(first + static_cast<uint32_t>(i)).word(20, i * 37).spec48(i % 12, i + 1);
    testing_frames::append(out, testing_frames::escape_for_link(f.bytes));
  }
  return out;
}

}  // namespace reliability
