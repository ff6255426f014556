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
  std::string text;
  local_time_text(t, millis, &text);
  return text;
}

void local_time_text(std::chrono::system_clock::time_point t, bool millis, std::string* out) {
  using namespace std::chrono;
  // The session log and the alarm list stamp thousands of entries a second
  // in fast playback: the calendar part is worked out once a second (per
  // thread, so no lock).
  thread_local std::time_t cached_second = 0;
  thread_local char cached[40] = "";
  thread_local std::size_t cached_len = 0;
  const std::time_t second = system_clock::to_time_t(t);
  if (cached_len == 0 || second != cached_second) {
    const std::tm tm = local_tm(second);
    cached_len = std::strftime(cached, sizeof cached, "%Y-%m-%d %H:%M:%S", &tm);
    cached_second = second;
  }
  std::string& text = *out;
  text.reserve(cached_len + 4);  // one allocation, with room for the milliseconds
  text.assign(cached, cached_len);
  if (millis) {
    auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count() % 1000;
    if (ms < 0) ms += 1000;
    const char digits[4] = {'.', static_cast<char>('0' + ms / 100), static_cast<char>('0' + ms / 10 % 10),
                            static_cast<char>('0' + ms % 10)};
    text.append(digits, sizeof digits);
  }
}

std::string unix_time_text(double unix_s) {
  using namespace std::chrono;
  return local_time_text(system_clock::time_point(duration_cast<system_clock::duration>(duration<double>(unix_s))),
                         /*millis=*/true);
}

}  // namespace rt
