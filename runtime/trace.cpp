#include "runtime/trace.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "session/outcome.h"
#include "runtime/testing.h"
#include "runtime/transport.h"

namespace rt {

namespace {

std::mutex trace_mu;
FILE* trace_fp = nullptr;
bool trace_owns_fp = false;
std::string trace_name;     // in messages
bool trace_failed = false;  // a write failed: the trace ends there
bool trace_memory = false;
std::vector<std::string> memory_lines;

// The first failed write ends the trace: a trace with holes would mislead
// more than one that stops, and the exit status tells the caller.
void trace_write_failed(int err) {
  trace_failed = true;
  const std::string text = "cannot write trace file " + trace_name + ": " +
                           (err != 0 ? std::strerror(err) : "write failed") + "; the trace ends there";
  std::fprintf(stderr, "vst_gse: %s\n", text.c_str());
  std::fflush(stderr);
  note_exit_status(EXIT_OUTPUT_FAILED);
  transport_post_message("Trace: " + text);
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

bool tracing() {
  std::lock_guard lock(trace_mu);
  return (trace_fp != nullptr && !trace_failed) || trace_memory;
}

bool trace_open(const std::string& path, std::string* error) {
  std::lock_guard lock(trace_mu);
  trace_failed = false;
  if (path == "-") {
    trace_fp = stdout;
    trace_owns_fp = false;
    trace_name = "standard output";
    return true;
  }
  // Binary: lines end in LF on every platform (no "\r\n" on Windows).
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) {
    *error = "cannot write trace file " + path + ": " + std::strerror(errno);
    return false;
  }
  trace_fp = fp;
  trace_owns_fp = true;
  trace_name = path;
  return true;
}

void trace_to_memory_sink() {
  std::lock_guard lock(trace_mu);
  trace_memory = true;
  memory_lines.clear();
}

void trace_close() {
  std::lock_guard lock(trace_mu);
  if (trace_fp) {
    errno = 0;
    const int result = trace_owns_fp ? std::fclose(trace_fp) : std::fflush(trace_fp);
    if (result != 0 && !trace_failed) trace_write_failed(errno);
  }
  trace_fp = nullptr;
  trace_owns_fp = false;
  trace_memory = false;
  memory_lines.clear();
}

void trace_emit(const JsonLine& line) {
  std::lock_guard lock(trace_mu);
  if (trace_memory) memory_lines.push_back(line.str());
  if (trace_fp && !trace_failed) {
    std::string text = line.str();
    text += '\n';
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), trace_fp) != text.size() || std::fflush(trace_fp) != 0)
      trace_write_failed(errno);
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
