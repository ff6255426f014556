// Local wall-clock time as text, safe to call from any thread.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace rt {

// The broken-down local time of `t` (the platform's thread-safe call).
std::tm local_tm(std::time_t t);

// "YYYY-MM-DD HH:MM:SS", and ".mmm" after it when `millis`.
std::string local_time_text(std::chrono::system_clock::time_point t, bool millis = false);
// The same into *out, which keeps its room (the log stamps every entry).
void local_time_text(std::chrono::system_clock::time_point t, bool millis, std::string* out);

// The same with milliseconds, of a time given as seconds since 1970. The
// live alarm list and the session record both stamp through this one, from
// the same double, so a pass reviewed reads the very texts it had live.
std::string unix_time_text(double unix_s);

}  // namespace rt
