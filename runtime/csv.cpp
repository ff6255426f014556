#include "runtime/csv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/model.h"
#include "runtime/trace.h"

namespace rt {

namespace {

FILE* csv_fp = nullptr;
long frames = 0;
std::vector<int> columns;  // control ids, in identifier order

bool is_display(const ControlInfo& c) { return c.kind == Kind::Display || c.kind == Kind::TextBox; }

// Numbers as in the trace, but NaN and infinities bare.
std::string number_field(const std::string& json) {
  if (!json.empty() && json.front() == '"') return json.substr(1, json.size() - 2);
  return json;
}

}  // namespace

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

bool csv_open(const std::string& path, std::string* error) {
  // Binary: the same bytes on every platform; in text mode Windows would
  // turn each line break, those inside quoted text values too, into "\r\n".
  csv_fp = std::fopen(path.c_str(), "wb");
  if (!csv_fp) {
    *error = "cannot write CSV file " + path + ": " + std::strerror(errno);
    return false;
  }
  frames = 0;
  return true;
}

bool csv_enabled() { return csv_fp != nullptr; }

void csv_begin(const PanelModel& model) {
  if (!csv_fp) return;
  columns.clear();
  for (const auto& c : model.layout().controls)
    if (is_display(c)) columns.push_back(c.id);
  std::sort(columns.begin(), columns.end());
  std::string row = "frame";
  for (int id : columns) row += "," + csv_field(model.find(id)->name);
  row += "\n";
  std::fputs(row.c_str(), csv_fp);
  std::fflush(csv_fp);
}

void csv_frame_row(const PanelModel& model) {
  if (!csv_fp) return;
  std::string row = std::to_string(++frames);
  ControlState s;
  for (int id : columns) {
    row += ',';
    const ControlInfo* c = model.find(id);
    if (!c || !model.state(id, &s) || s.version == 0) continue;  // never shown yet
    switch (c->type) {
      case ValueType::Int: row += std::to_string(s.i); break;
      case ValueType::Double: row += number_field(json_double(s.d)); break;
      case ValueType::Float: row += number_field(json_float(s.f)); break;
      case ValueType::Text: row += csv_field(s.text); break;
      default: break;
    }
  }
  row += "\n";
  std::fputs(row.c_str(), csv_fp);
  std::fflush(csv_fp);
}

void csv_close() {
  if (csv_fp) std::fclose(csv_fp);
  csv_fp = nullptr;
  columns.clear();
  frames = 0;
}

}  // namespace rt
