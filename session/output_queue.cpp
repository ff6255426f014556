#include "session/output_queue.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#else
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt {

namespace {

constexpr auto SLICE = std::chrono::milliseconds(20);
// A pipe or terminal is written in pieces it takes without blocking.
#if defined(PIPE_BUF)
constexpr size_t PIECE = PIPE_BUF;
#else
constexpr size_t PIECE = 4096;
#endif
constexpr size_t FILE_PIECE = 1 << 20;

std::string errno_reason(int err) { return err != 0 ? std::strerror(err) : "write failed"; }

}  // namespace

OutputQueue::OutputQueue(int fd, bool owns_fd, size_t max_bytes, Report report)
    : fd_(fd), owns_fd_(owns_fd), max_bytes_(max_bytes), report_(std::move(report)) {
#if defined(_WIN32)
  regular_ = true;  // no poll: every write blocks until taken
#else
  struct stat st {};
  regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
#endif
  thread_ = std::thread([this] { run(); });
}

OutputQueue::~OutputQueue() { close([] { return true; }); }

bool OutputQueue::failed() const {
  std::lock_guard lock(mu_);
  return failed_;
}

void OutputQueue::fail(const std::string& reason) {
  {
    std::lock_guard lock(mu_);
    failed_ = true;
    queue_.clear();
    head_ = 0;
    if (reported_) return;
    reported_ = true;
  }
  cv_.notify_all();
  if (report_) report_(reason);
}

bool OutputQueue::push(std::string_view text, const MayWait& may_wait) {
  std::unique_lock lock(mu_);
  for (;;) {
    if (failed_ || stop_) return false;
    const size_t held = queue_.size() - head_;
    if (held == 0 || held + text.size() <= max_bytes_) break;
    lock.unlock();
    const bool wait = may_wait && may_wait();
    if (!wait) {
      fail("its reader does not keep up (" + std::to_string(held) + " bytes were waiting for it)");
      return false;
    }
    lock.lock();
    cv_.wait_for(lock, SLICE);
  }
  queue_.append(text);
  lock.unlock();
  cv_.notify_all();
  return true;
}

long OutputQueue::write_some(const char* data, size_t n, std::string* reason) {
#if defined(_WIN32)
  const int took = ::_write(fd_, data, static_cast<unsigned>(std::min(n, FILE_PIECE)));
  if (took > 0) return took;
  *reason = errno_reason(took < 0 ? errno : 0);
  return -1;
#else
  if (!regular_) {
    pollfd p{fd_, POLLOUT, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(SLICE.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
    if (ready < 0) {
      *reason = errno_reason(errno);
      return -1;
    }
    // POLLERR (the reader left): the write below says why.
    n = std::min(n, PIECE);
  } else {
    n = std::min(n, FILE_PIECE);
  }
  const ssize_t took = ::write(fd_, data, n);
  if (took > 0) return static_cast<long>(took);
  if (took < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
  *reason = errno_reason(took < 0 ? errno : 0);
  return -1;
#endif
}

void OutputQueue::run() {
  std::string piece;
  std::unique_lock lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return stop_ || failed_ || head_ < queue_.size(); });
    if (stop_ || failed_) break;
    const size_t n = std::min(queue_.size() - head_, regular_ ? FILE_PIECE : PIECE);
    piece.assign(queue_, head_, n);
    writing_ = true;
    lock.unlock();
    std::string reason;
    const long took = write_some(piece.data(), piece.size(), &reason);
    if (took < 0) {
      fail(reason);
      lock.lock();
      writing_ = false;
      break;
    }
    lock.lock();
    writing_ = false;
    if (failed_) break;
    head_ += static_cast<size_t>(took);
    if (head_ == queue_.size()) {
      queue_.clear();
      head_ = 0;
    } else if (head_ >= FILE_PIECE && head_ * 2 >= queue_.size()) {
      queue_.erase(0, head_);  // moved rarely: only once half is written
      head_ = 0;
    }
    cv_.notify_all();
  }
}

bool OutputQueue::close(const std::function<bool()>& give_up) {
  if (!thread_.joinable()) return !failed();
  size_t left = 0;
  {
    std::unique_lock lock(mu_);
    while (!failed_ && head_ < queue_.size()) {
      lock.unlock();
      const bool stop_now = give_up && give_up();
      lock.lock();
      if (stop_now) break;
      cv_.wait_for(lock, SLICE);
    }
    left = failed_ ? 0 : queue_.size() - head_;
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
  if (left > 0) fail(std::to_string(left) + " bytes were still waiting for its reader when the program ended");
  if (owns_fd_) {
#if defined(_WIN32)
    const int closed = ::_close(fd_);
#else
    const int closed = ::close(fd_);
#endif
    if (closed != 0) fail(errno_reason(errno));
  }
  return !failed();
}

}  // namespace rt
