#include "export/panel_csv.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/model.h"
#include "session/outcome.h"
#include "runtime/trace.h"
#include "runtime/transport.h"

namespace rt {

namespace {

FILE* csv_fp = nullptr;
std::string csv_name;     // in messages
bool csv_failed = false;  // a write failed: no more rows
long frames = 0;
std::vector<int> columns;  // control ids, in identifier order

bool is_display(const ControlInfo& c) { return c.kind == Kind::Display || c.kind == Kind::TextBox; }

// Numbers as in the trace, but NaN and infinities bare.
std::string number_field(const std::string& json) {
  if (!json.empty() && json.front() == '"') return json.substr(1, json.size() - 2);
  return json;
}

// The first failed write ends the export (a CSV with holes would mislead);
// the exit status tells the caller.
void csv_write_failed(int err) {
  csv_failed = true;
  const std::string text = "cannot write CSV file " + csv_name + ": " +
                           (err != 0 ? std::strerror(err) : "write failed") + "; the export ends there";
  say_error("vst_gse: " + text);
  note_exit_status(EXIT_OUTPUT_FAILED);
  transport_post_message("CSV: " + text, Severity::Error);
}

void write_row(const std::string& row) {
  if (!csv_fp || csv_failed) return;
  errno = 0;
  if (std::fputs(row.c_str(), csv_fp) == EOF || std::fflush(csv_fp) != 0) csv_write_failed(errno);
}

}  // namespace

bool panel_csv_open(const std::string& path, std::string* error) {
  // Binary: the same bytes on every platform; in text mode Windows would
  // turn each line break, those inside quoted text values too, into "\r\n".
  csv_fp = std::fopen(path.c_str(), "wb");
  if (!csv_fp) {
    *error = "cannot write CSV file " + path + ": " + std::strerror(errno);
    return false;
  }
  csv_name = path;
  csv_failed = false;
  frames = 0;
  return true;
}

bool panel_csv_enabled() { return csv_fp != nullptr; }

void panel_csv_begin(const PanelModel& model) {
  if (!csv_fp) return;
  columns.clear();
  for (const auto& c : model.layout().controls)
    if (is_display(c)) columns.push_back(c.id);
  std::sort(columns.begin(), columns.end());
  std::string row = "frame";
  for (int id : columns) row += "," + csv_field(model.find(id)->name);
  row += "\n";
  write_row(row);
}

void panel_csv_frame_row(const PanelModel& model) {
  if (!csv_fp || csv_failed) return;
  std::string row = std::to_string(++frames);
  ControlState s;
  for (int id : columns) {
    row += ',';
    const ControlInfo* c = model.find(id);
    if (!c || !model.state(id, &s) || !s.written) continue;  // nothing shown (yet)
    switch (c->type) {
      case ValueType::Int: row += std::to_string(s.i); break;
      case ValueType::Double: row += number_field(json_double(s.d)); break;
      case ValueType::Float: row += number_field(json_float(s.f)); break;
      case ValueType::Text: row += csv_field(s.text); break;
      default: break;
    }
  }
  row += "\n";
  write_row(row);
}

void panel_csv_close() {
  if (csv_fp) {
    errno = 0;
    if (std::fclose(csv_fp) != 0 && !csv_failed) csv_write_failed(errno);
  }
  csv_fp = nullptr;
  columns.clear();
  frames = 0;
}

}  // namespace rt
