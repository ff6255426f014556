// The trace: one JSON object per line for every run-time call, in call order.
// Off unless --trace (or a test) turns it on. The lines are queued and
// written by a thread of their own (session/output_queue.h): a reader that
// stalls never holds up the system's thread. The first failure (a write
// error, the reader gone, or, live, more than 16 MiB waiting for a reader
// that does not keep up) is said on standard error and in the session log
// (ERROR), ends the trace there and makes the exit status 4.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "present/json.h"

namespace rt {


// Builds one trace line: {"op":...,"key":value,...}.
class JsonLine {
 public:
  explicit JsonLine(std::string_view op);
  JsonLine& add(std::string_view key, int value);
  JsonLine& add(std::string_view key, long value);
  JsonLine& add(std::string_view key, double value);
  JsonLine& add(std::string_view key, std::string_view text);
  JsonLine& add(std::string_view key, const char* text) { return add(key, std::string_view(text)); }
  JsonLine& add_float(std::string_view key, float value);
  JsonLine& add_floats(std::string_view key, const float* values, int n);
  JsonLine& add_u16s(std::string_view key, const uint16_t* values, int n);
  JsonLine& add_hex(std::string_view key, const unsigned char* bytes, int n);
  std::string str() const { return text_ + "}"; }

 private:
  void key(std::string_view k);
  std::string text_;
};

namespace trace_detail {
extern std::atomic<bool> active;
}
// Whether the calls are traced: asked before every call, so inline and
// without a lock.
inline bool tracing() { return trace_detail::active.load(std::memory_order_relaxed); }
// Writes to `path` ("-" = standard output). Returns false with *error.
bool trace_open(const std::string& path, std::string* error);
void trace_to_memory_sink();
// Writes out what is queued until done or `give_up()` (asked every 20 ms).
void trace_close(const std::function<bool()>& give_up = nullptr);
void trace_emit(const JsonLine& line);

}  // namespace rt
