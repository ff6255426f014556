#include "session/outcome.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "session/session_log.h"

namespace rt {

namespace {

std::atomic<int> noted{EXIT_OK};
std::mutex say_mu;

// Each stream holds what waits for its reader up to this.
constexpr size_t MESSAGE_QUEUE_BYTES = 16u << 20;

std::unique_ptr<OutputQueue> out_queue, err_queue;
OutputQueue::MayWait may_wait_fn;
std::atomic<bool> trace_on_stdout{false};

void write_direct(FILE* stream, const std::string& text) {
  std::lock_guard lock(say_mu);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

#if !defined(_WIN32)
// What the program writes on descriptors 1 and 2 without say() (the
// system's own lines, Qt's warnings) comes through a pipe of ours: a thread
// hands it to the queue whole lines at a time, so that no writer blocks on
// a reader that stalls and a failure is noticed and said.
struct Relay {
  int fd = -1;     // 1 or 2
  int saved = -1;  // the real stream, written by the queue
  int from = -1;   // our pipe's reading end
  std::thread thread;
};
Relay out_relay, err_relay;
// The streams are ending: what the relays still hand over waits for no
// reader (it fits, or the stream fails).
std::atomic<bool> streams_ending{false};

void relay_run(int from, OutputQueue* queue, OutputQueue* other) {
  std::string pending;
  char buf[1 << 16];
  const OutputQueue::MayWait may_wait = [] { return !streams_ending.load() && may_wait_fn && may_wait_fn(); };
  auto hand = [&](std::string text) {
    if (!queue->push(text, may_wait) && other) other->push(text, may_wait);
  };
  for (;;) {
    const ssize_t n = ::read(from, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    const size_t cut = pending.rfind('\n');
    if (cut != std::string::npos) {
      hand(pending.substr(0, cut + 1));
      pending.erase(0, cut + 1);
    } else if (pending.size() >= sizeof buf) {
      hand(std::move(pending));
      pending.clear();
    }
  }
  if (!pending.empty()) hand(pending);
  ::close(from);
}

// Puts our pipe at `fd`; returns the real stream's descriptor, or -1 when
// it is left as it is.
int relay_begin(Relay* r, int fd) {
  int p[2];
  r->fd = fd;
  r->saved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (r->saved < 0 || ::pipe(p) != 0) {
    if (r->saved >= 0) ::close(r->saved);
    r->saved = -1;
    return -1;
  }
  ::fcntl(p[0], F_SETFD, FD_CLOEXEC);
  ::dup2(p[1], fd);
  ::close(p[1]);
  r->from = p[0];
  return r->saved;
}

void relay_start(Relay* r, OutputQueue* queue, OutputQueue* other) {
  if (r->from >= 0) r->thread = std::thread(relay_run, r->from, queue, other);
}

// The real stream back at its descriptor: the pipe ends, and the thread
// hands the rest to the queue.
void relay_end(Relay* r) {
  if (r->saved < 0) return;
  ::dup2(r->saved, r->fd);
  if (r->thread.joinable()) r->thread.join();
  r->saved = -1;
  r->from = -1;
}
#endif

void standard_output_failed(const std::string& reason) {
  const std::string text = "cannot write standard output: " + reason +
                           (trace_on_stdout.load() ? "; the trace ends there" : "") +
                           "; messages go to standard error and the session log only";
  say_error("vst_gse: " + text);
  log_error(text);
  note_exit_status(EXIT_OUTPUT_FAILED);
}

void standard_error_failed(const std::string& reason) {
  const std::string text = "cannot write standard error: " + reason +
                           "; its messages go to standard output and the session log only";
  say(text);
  log_error(text);
  note_exit_status(EXIT_OUTPUT_FAILED);
}

}  // namespace

void note_exit_status(int status) {
  if (status < EXIT_RECORDING_LOST) return;
  int current = noted.load();
  while ((current == EXIT_OK || status < current) &&
         !noted.compare_exchange_weak(current, status)) {
  }
}

int noted_exit_status() { return noted.load(); }

int final_exit_status(int entry_result) {
  return entry_result != EXIT_OK ? entry_result : noted_exit_status();
}

void say(const std::string& line) {
  // One piece for the line and its newline: another thread writing standard
  // output (the trace, with --trace -) cannot come between them.
  const std::string text = line + '\n';
  if (!out_queue) return write_direct(stdout, text);
  if (out_queue->push(text, may_wait_fn)) return;
  if (err_queue) err_queue->push(text, may_wait_fn);
  else write_direct(stderr, text);
}

void say_error(const std::string& line) {
  const std::string text = line + '\n';
  if (!err_queue) return write_direct(stderr, text);
  if (err_queue->push(text, may_wait_fn)) return;
  if (out_queue) out_queue->push(text, may_wait_fn);
}

void start_message_streams() {
  std::fflush(stdout);
  std::fflush(stderr);
  int out_fd = 1, err_fd = 2;
#if !defined(_WIN32)
  // A stream closed at start (2>&-) is /dev/null: no file the program opens
  // may take its number and receive its messages.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0) {
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0 && null_fd != fd) {
        ::dup2(null_fd, fd);
        ::close(null_fd);
      }
    }
  if (const int saved = relay_begin(&out_relay, 1); saved >= 0) out_fd = saved;
  if (const int saved = relay_begin(&err_relay, 2); saved >= 0) err_fd = saved;
#endif
  out_queue = std::make_unique<OutputQueue>(out_fd, out_fd != 1, MESSAGE_QUEUE_BYTES, standard_output_failed);
  err_queue = std::make_unique<OutputQueue>(err_fd, err_fd != 2, MESSAGE_QUEUE_BYTES, standard_error_failed);
#if !defined(_WIN32)
  relay_start(&out_relay, out_queue.get(), err_queue.get());
  relay_start(&err_relay, err_queue.get(), out_queue.get());
#endif
}

void set_output_wait(OutputQueue::MayWait may_wait) { may_wait_fn = std::move(may_wait); }
const OutputQueue::MayWait& output_wait() { return may_wait_fn; }
OutputQueue* standard_output_queue() { return out_queue.get(); }
void set_trace_on_standard_output(bool on) { trace_on_stdout.store(on); }

void end_message_streams(const std::function<bool()>& give_up) {
  if (!out_queue) return;
  std::fflush(stdout);
  std::fflush(stderr);
#if !defined(_WIN32)
  streams_ending.store(true);
  relay_end(&err_relay);
  relay_end(&out_relay);
  streams_ending.store(false);
#endif
  // Standard error first: its failure is said on standard output, still
  // queued. Then standard output, whose failure is said on standard error
  // directly.
  std::unique_ptr<OutputQueue> err = std::move(err_queue);
  err->close(give_up);
  std::unique_ptr<OutputQueue> out = std::move(out_queue);
  out->close(give_up);
}

void reset_outcome_for_tests() { noted.store(EXIT_OK); }

}  // namespace rt
