// Values written for programs to read: the JSON forms of numbers and texts
// that the trace, the summary and every other JSON output share. Ints as
// they are; doubles with 17 significant digits, floats with 9, always with a
// '.' or an exponent; NaN and infinities as the strings "NaN", "Infinity",
// "-Infinity" (quoted).
#pragma once

#include <string>
#include <string_view>

namespace rt {

std::string json_double(double v);
std::string json_float(float v);
// A quoted JSON string; control characters escaped.
std::string json_string(std::string_view text);

// The same forms appended to `out`: a message built in a buffer that is
// kept from one to the next allocates nothing once it has grown.
void json_append_double(std::string& out, double v);
void json_append_float(std::string& out, float v);
void json_append_integer(std::string& out, long long v);
void json_append_string(std::string& out, std::string_view text);

// The other way: the text inside the quotes of a double that is not finite
// ("NaN", "Infinity", "-Infinity") read back into *out; false for any other
// text.
bool json_nonfinite(std::string_view text, double* out);

// Text from outside (the network, a file) made fit for a log line, a
// title, a summary or a terminal: every control character (C0, DEL, C1, and
// the line and paragraph separators and direction overrides of Unicode)
// and every byte that is not UTF-8 becomes '?', and the result is cut to at
// most `max_bytes` (at a character's boundary, "..." marking the cut).
std::string printable_text(std::string_view text, size_t max_bytes = 1024);

}  // namespace rt
