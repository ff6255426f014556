#include "session/local_time.h"

#include <cstdio>

namespace rt {

std::tm local_tm(std::time_t t) {
  std::tm out{};
#ifdef _WIN32
  localtime_s(&out, &t);
#else
  localtime_r(&t, &out);
#endif
  return out;
}

std::string local_time_text(std::chrono::system_clock::time_point t, bool millis) {
  using namespace std::chrono;
  const std::tm tm = local_tm(system_clock::to_time_t(t));
  char text[40];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  if (millis) {
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms < 0 ? ms + 1000 : ms));
  }
  return text;
}

}  // namespace rt
