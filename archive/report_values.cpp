#include "archive/report_values.h"

#include <algorithm>

#include "archive/report.h"
#include "history/values.h"

namespace rt {

namespace {

bool contains(const std::vector<std::string>& keys, std::string_view key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

}  // namespace

bool is_report_value(std::string_view key) {
  const ValueInfo* v = find_value(key);
  return v && !is_link_figure(*v);
}

std::vector<std::string> report_value_keys() {
  std::vector<std::string> keys;
  for (const ValueInfo& v : value_catalogue())
    if (!is_link_figure(v)) keys.push_back(v.key);
  return keys;
}

std::string unknown_report_value(std::string_view key) {
  return "no value " + std::string(key) + " in the frames (the trends' names: HK00 to HK39, FCOUNT, F12, ...)";
}

std::vector<std::string> report_values_from_setting(const std::vector<std::string>& stored,
                                                    std::vector<std::string>* unknown) {
  std::vector<std::string> keys;
  for (const std::string& key : stored) {
    if (is_report_value(key)) {
      if (!contains(keys, key)) keys.push_back(key);
    } else if (unknown && !contains(*unknown, key)) {
      unknown->push_back(key);
    }
  }
  return keys.empty() ? default_report_values() : keys;
}

bool parse_report_values(std::string_view text, std::vector<std::string>* keys, std::string* error) {
  keys->clear();
  const std::string whole(text);
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view key = trimmed(text.substr(0, comma));
    if (key.empty()) {
      *error = "--report-values: an empty name in \"" + whole + "\" (KEY,KEY,...: HK16,F12)";
      keys->clear();
      return false;
    }
    if (!is_report_value(key)) {
      *error = "--report-values: " + unknown_report_value(key);
      keys->clear();
      return false;
    }
    if (!contains(*keys, key)) keys->emplace_back(key);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

}  // namespace rt
