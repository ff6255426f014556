#include "support/trace_reader.h"

#include <cstdlib>
#include <sstream>

namespace testing_trace {

namespace {

// The position just past the JSON value starting at `at`.
size_t value_end(const std::string& s, size_t at) {
  if (s[at] == '"') {
    for (size_t i = at + 1; i < s.size(); ++i) {
      if (s[i] == '\\') ++i;
      else if (s[i] == '"') return i + 1;
    }
    return s.size();
  }
  if (s[at] == '[') {
    int depth = 0;
    bool in_string = false;
    for (size_t i = at; i < s.size(); ++i) {
      char c = s[i];
      if (in_string) {
        if (c == '\\') ++i;
        else if (c == '"') in_string = false;
      } else if (c == '"') {
        in_string = true;
      } else if (c == '[') {
        ++depth;
      } else if (c == ']' && --depth == 0) {
        return i + 1;
      }
    }
    return s.size();
  }
  size_t i = at;
  while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']') ++i;
  return i;
}

std::string unquote(const std::string& v) {
  if (v.size() < 2 || v.front() != '"') return v;
  std::string out;
  for (size_t i = 1; i + 1 < v.size(); ++i) {
    if (v[i] != '\\') {
      out += v[i];
      continue;
    }
    char e = v[++i];
    switch (e) {
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': out += static_cast<char>(std::strtol(v.substr(i + 1, 4).c_str(), nullptr, 16)); i += 4; break;
      default: out += e;
    }
  }
  return out;
}

}  // namespace

std::string Line::field(const std::string& key) const {
  std::string pattern = "\"" + key + "\":";
  size_t at = raw.find(pattern);
  if (at == std::string::npos) return "";
  at += pattern.size();
  return unquote(raw.substr(at, value_end(raw, at) - at));
}

long long Line::int_field(const std::string& key) const {
  return std::strtoll(field(key).c_str(), nullptr, 10);
}

double Line::number_field(const std::string& key) const {
  std::string v = field(key);
  if (v == "NaN") return std::strtod("nan", nullptr);
  if (v == "Infinity") return std::strtod("inf", nullptr);
  if (v == "-Infinity") return -std::strtod("inf", nullptr);
  return std::strtod(v.c_str(), nullptr);
}

std::vector<double> Line::numbers(const std::string& key) const {
  std::string v = field(key);
  std::vector<double> out;
  if (v.size() < 2) return out;
  std::stringstream in(v.substr(1, v.size() - 2));
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    std::string text = unquote(item);
    if (text == "NaN") out.push_back(std::strtod("nan", nullptr));
    else if (text == "Infinity") out.push_back(std::strtod("inf", nullptr));
    else if (text == "-Infinity") out.push_back(-std::strtod("inf", nullptr));
    else out.push_back(std::strtod(text.c_str(), nullptr));
  }
  return out;
}

std::vector<Line> parse(const std::string& text) {
  std::vector<Line> lines;
  std::stringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    if (raw.empty() || raw[0] != '{') continue;
    Line line;
    line.raw = raw;
    line.op = line.field("op");
    line.ctrl = line.field("ctrl");
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<Line> select(const std::vector<Line>& lines, const std::string& op,
                         const std::string& ctrl) {
  std::vector<Line> out;
  for (const auto& l : lines)
    if (l.op == op && (ctrl.empty() || l.ctrl == ctrl)) out.push_back(l);
  return out;
}

}  // namespace testing_trace
