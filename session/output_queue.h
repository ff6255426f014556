// An output that never holds up the thread that writes to it: the trace,
// and the program's standard output and standard error. Text is queued in
// memory (at most `max_bytes`) and written to a file descriptor by a thread
// of the queue's own, which writes to a pipe or terminal only as much as it
// takes at once, so that a reader that stalls holds up nobody.
//
// The output fails (once, through `report`, then drops everything) when a
// write fails (the reader left: EPIPE; a full disk), when text comes while
// the queue is full and the caller may not wait, or when close() has to give
// up with text still queued. Qt-free.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace rt {

class OutputQueue {
 public:
  using Report = std::function<void(const std::string& reason)>;
  // Asked by a caller that meets a full queue (every 20 ms while it waits):
  // true to wait for room, false to fail the output instead. Playback waits
  // for a slow reader; live reception never does.
  using MayWait = std::function<bool()>;

  // Writes to `fd`, closed by close() when `owns_fd`. `report` gets the
  // reason of the failure, called once with no lock held.
  OutputQueue(int fd, bool owns_fd, size_t max_bytes, Report report);
  ~OutputQueue();
  OutputQueue(const OutputQueue&) = delete;
  OutputQueue& operator=(const OutputQueue&) = delete;

  // Queues `text`. Returns false when the output has failed (now or before):
  // the text is dropped.
  bool push(std::string_view text, const MayWait& may_wait = nullptr);
  // Writes what is queued until all of it is written, the output fails, or
  // `give_up()` holds (asked every 20 ms); then stops the thread and closes
  // the descriptor if owned. Text still queued then fails the output.
  // Returns false when the output failed at any time.
  bool close(const std::function<bool()>& give_up);
  bool failed() const;

 private:
  void run();
  // Writes some of `data` to the descriptor; returns the count taken, 0 when
  // nothing could be written within a slice, -1 with *reason on failure.
  long write_some(const char* data, size_t n, std::string* reason);
  void fail(const std::string& reason);

  const int fd_;
  const bool owns_fd_;
  const size_t max_bytes_;
  const Report report_;
  bool regular_ = false;  // a regular file: any write is taken whole

  mutable std::mutex mu_;
  std::condition_variable cv_;  // text queued, room made, or stop
  std::string queue_;
  size_t head_ = 0;  // bytes of queue_ already written
  bool writing_ = false;
  bool failed_ = false;
  bool reported_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace rt
