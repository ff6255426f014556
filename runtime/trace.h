// The trace: one JSON object per line for every run-time call, in call order,
// flushed line by line. Off unless --trace (or a test) turns it on.
#pragma once

#include <cstdint>
#include <cstdio>
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

bool tracing();
// Writes to `path` ("-" = standard output). Returns false with *error.
bool trace_open(const std::string& path, std::string* error);
void trace_to_memory_sink();
void trace_close();
void trace_emit(const JsonLine& line);

}  // namespace rt
