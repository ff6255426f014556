// Reading the program's trace (JSON lines) in tests.
#pragma once

#include <string>
#include <vector>

namespace testing_trace {

struct Line {
  std::string raw;
  std::string op;    // "SetCtrlVal", "Event", ...
  std::string ctrl;  // PANEL_* or ""

  // The raw JSON text of a key's value ("" if absent); strings unquoted and
  // unescaped, arrays with their brackets.
  std::string field(const std::string& key) const;
  long long int_field(const std::string& key) const;
  double number_field(const std::string& key) const;
  // Numbers of an array field.
  std::vector<double> numbers(const std::string& key) const;
};

std::vector<Line> parse(const std::string& text);

// Lines with this op (and control, when given).
std::vector<Line> select(const std::vector<Line>& lines, const std::string& op,
                         const std::string& ctrl = "");

}  // namespace testing_trace
