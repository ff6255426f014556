#include "runtime/trace.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#include <fcntl.h>
#else
#include <fcntl.h>
#endif

#include "session/outcome.h"
#include "session/output_queue.h"
#include "session/session_log.h"
#include "runtime/testing.h"
#include "runtime/transport.h"

namespace rt {

namespace trace_detail {
std::atomic<bool> active{false};
}  // namespace trace_detail

namespace {

// What a trace reader that stalls may leave waiting before the trace is
// declared broken (live; playback waits for it instead).
constexpr size_t TRACE_QUEUE_BYTES = 16u << 20;

std::mutex trace_mu;
std::unique_ptr<OutputQueue> trace_file;  // --trace FILE
OutputQueue* trace_queue = nullptr;       // that one, or standard output's (--trace -)
std::string trace_name;                   // in messages
std::atomic<bool> trace_failed{false};    // a write failed: the trace ends there
std::atomic<bool> trace_on{false};
// Tests' sink; atomic so that tracing(), asked before every call, takes no lock.
std::atomic<bool> trace_memory{false};
std::vector<std::string> memory_lines;

// tracing()'s answer, kept up to date by each change of the three flags.
void refresh_tracing() {
  trace_detail::active.store((trace_on.load() && !trace_failed.load()) || trace_memory.load(),
                             std::memory_order_relaxed);
}

// The first failed write ends the trace: a trace with holes would mislead
// more than one that stops, and the exit status tells the caller. Called
// once, from whichever thread met the failure, with no trace lock held.
void trace_write_failed(const std::string& reason) {
  trace_failed.store(true);
  refresh_tracing();
  const std::string text = "cannot write trace file " + trace_name + ": " + reason + "; the trace ends there";
  say_error("vst_gse: " + text);
  note_exit_status(EXIT_OUTPUT_FAILED);
  transport_post_message("Trace: " + text, Severity::Error);
}

int open_for_writing(const std::string& path) {
#if defined(_WIN32)
  // Binary: lines end in LF on every platform (no "\r\n" on Windows).
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
}

}  // namespace

JsonLine::JsonLine(std::string_view op) : text_("{\"op\":" + json_string(op)) {}

void JsonLine::key(std::string_view k) {
  text_ += ',';
  text_ += json_string(k);
  text_ += ':';
}

JsonLine& JsonLine::add(std::string_view k, int value) {
  key(k);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view k, long value) {
  key(k);
  text_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view k, double value) {
  key(k);
  text_ += json_double(value);
  return *this;
}

JsonLine& JsonLine::add(std::string_view k, std::string_view text) {
  key(k);
  text_ += json_string(text);
  return *this;
}

JsonLine& JsonLine::add_float(std::string_view k, float value) {
  key(k);
  text_ += json_float(value);
  return *this;
}

JsonLine& JsonLine::add_floats(std::string_view k, const float* values, int n) {
  key(k);
  text_ += '[';
  for (int i = 0; i < n; ++i) {
    if (i) text_ += ',';
    text_ += json_float(values[i]);
  }
  text_ += ']';
  return *this;
}

JsonLine& JsonLine::add_u16s(std::string_view k, const uint16_t* values, int n) {
  key(k);
  text_ += '[';
  for (int i = 0; i < n; ++i) {
    if (i) text_ += ',';
    text_ += std::to_string(values[i]);
  }
  text_ += ']';
  return *this;
}

JsonLine& JsonLine::add_hex(std::string_view k, const unsigned char* bytes, int n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (int i = 0; i < n; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 0x0F];
  }
  return add(k, std::string_view(hex));
}


bool trace_open(const std::string& path, std::string* error) {
  std::lock_guard lock(trace_mu);
  trace_failed.store(false);
  refresh_tracing();
  if (path == "-") {
    trace_name = "standard output";
    trace_queue = standard_output_queue();
    if (!trace_queue) {
      trace_file = std::make_unique<OutputQueue>(1, false, TRACE_QUEUE_BYTES, trace_write_failed);
      trace_queue = trace_file.get();
    } else {
      set_trace_on_standard_output(true);  // its failure is said as one of standard output
    }
    trace_on.store(true);
    refresh_tracing();
    return true;
  }
  const int fd = open_for_writing(path);
  if (fd < 0) {
    *error = "cannot write trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  trace_name = path;
  trace_file = std::make_unique<OutputQueue>(fd, true, TRACE_QUEUE_BYTES, trace_write_failed);
  trace_queue = trace_file.get();
  trace_on.store(true);
  refresh_tracing();
  return true;
}

void trace_to_memory_sink() {
  std::lock_guard lock(trace_mu);
  trace_memory.store(true);
  refresh_tracing();
  memory_lines.clear();
}

void trace_close(const std::function<bool()>& give_up) {
  std::unique_ptr<OutputQueue> file;
  {
    std::lock_guard lock(trace_mu);
    trace_on.store(false);
    refresh_tracing();
    trace_queue = nullptr;
    file = std::move(trace_file);
    trace_memory.store(false);
    refresh_tracing();
    memory_lines.clear();
  }
  // Standard output's queue is written out with the messages, at the end.
  if (file) file->close(give_up);
  set_trace_on_standard_output(false);
}

void trace_emit(const JsonLine& line) {
  std::lock_guard lock(trace_mu);
  if (trace_memory) memory_lines.push_back(line.str());
  if (trace_queue && !trace_failed.load()) {
    std::string text = line.str();
    text += '\n';
    // A queue that fails reports it (trace_write_failed, or standard output's).
    if (!trace_queue->push(text, output_wait())) {
      trace_failed.store(true);
      refresh_tracing();
    }
  }
}

void trace_to_memory() { trace_to_memory_sink(); }

std::vector<std::string> trace_lines() {
  std::lock_guard lock(trace_mu);
  return memory_lines;
}

void clear_trace_lines() {
  std::lock_guard lock(trace_mu);
  memory_lines.clear();
}

}  // namespace rt
