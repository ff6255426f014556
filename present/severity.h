// How much an entry or a value calls for the operator's attention: the
// session log's severities, and the levels a value takes against its limits
// (caution is a warning, alarm an error).
#pragma once

namespace rt {

enum class Severity { Info = 0, Warning = 1, Error = 2 };

// "INFO", "WARN", "ERROR".
constexpr const char* severity_name(Severity severity) {
  switch (severity) {
    case Severity::Info: return "INFO";
    case Severity::Warning: return "WARN";
    case Severity::Error: return "ERROR";
  }
  return "?";
}

}  // namespace rt
