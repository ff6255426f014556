#include "runtime/script.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace rt {

namespace {

// long long, not long: long is 32 bits on Windows.
bool parse_long(const std::string& text, long long* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}

bool parse_int32(const std::string& text, int* out) {
  long long v = 0;
  if (!parse_long(text, &v) || v < -2147483648LL || v > 2147483647LL) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_number(const std::string& text, double* out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

// What a path that is not a regular file is, for the message.
const char* kind_of(std::filesystem::file_type type) {
  using std::filesystem::file_type;
  switch (type) {
    case file_type::directory: return "a directory";
    case file_type::fifo: return "a FIFO";
    case file_type::character: return "a character device";
    case file_type::block: return "a block device";
    case file_type::socket: return "a socket";
    default: return "not a regular file";
  }
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

}  // namespace

bool parse_event_text(const std::string& text, const std::string& path,
                      std::vector<ScriptEvent>* events, std::string* error) {
  std::istringstream in(text);
  std::string raw;
  int line_no = 0;
  std::vector<ScriptEvent> out;
  while (std::getline(in, raw)) {
    ++line_no;
    if (raw.size() > MAX_SCRIPT_LINE_BYTES) {
      *error = path + ":" + std::to_string(line_no) + ": line longer than " +
               std::to_string(MAX_SCRIPT_LINE_BYTES) + " bytes";
      return false;
    }
    // A control byte (a NUL, say) would cut or bend the line as it is read:
    // only a tab, and the carriage return of a CRLF line end, may be there.
    const size_t body = !raw.empty() && raw.back() == '\r' ? raw.size() - 1 : raw.size();
    for (size_t i = 0; i < body; ++i) {
      const auto c = static_cast<unsigned char>(raw[i]);
      if ((c < 0x20 && c != '\t') || c == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c);
        *error = path + ":" + std::to_string(line_no) + ": malformed line: control byte " + hex + " at column " +
                 std::to_string(i + 1);
        return false;
      }
    }
    // A leading '#' makes a comment line; after a number value a '#' starts a
    // comment too, but a text value takes the rest of the line as it is.
    std::string stripped = trim(raw);
    if (stripped.empty() || stripped[0] == '#') continue;
    auto where = [&] { return path + ":" + std::to_string(line_no) + ": "; };

    std::istringstream fields(stripped);
    std::string n_text, name;
    fields >> n_text >> name;
    ScriptEvent ev;
    ev.line = line_no;
    if (!parse_long(n_text, &ev.after_passes) || ev.after_passes < 0) {
      *error = where() + "expected a frame-pass count (0 or more), got \"" + n_text + "\"";
      return false;
    }
    if (name.empty()) {
      *error = where() + "expected a control name after the count";
      return false;
    }
    ev.name = name;
    std::string rest;
    std::getline(fields, rest);
    // Leading blanks separate the value; the rest stays as written.
    size_t start = rest.find_first_not_of(" \t");
    if (start != std::string::npos) {
      ev.has_value = true;
      ev.value = rest.substr(start);
      if (!ev.value.empty() && ev.value.back() == '\r') ev.value.pop_back();
    }
    // A note is text to the end of the line ('#' included).
    if (ev.is_note() && !ev.has_value) {
      *error = where() + "--note takes the note's text after it";
      return false;
    }
    out.push_back(std::move(ev));
  }
  *events = std::move(out);
  return true;
}

bool parse_event_script(const std::string& path, std::vector<ScriptEvent>* events,
                        std::string* error) {
  // Only a regular file of bounded size: a device or a FIFO could feed the
  // reader without end, and a directory reads as empty.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (ec) {
    *error = "cannot read event script " + path + ": " + ec.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    *error = "event script " + path + " is " + kind_of(status.type()) +
             ", not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read event script " + path + ": " + std::strerror(errno);
    return false;
  }
  // Read one byte past the limit, so a file that grew since is caught too.
  std::string text(MAX_SCRIPT_BYTES + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    *error = "cannot read event script " + path + ": " + std::strerror(errno);
    return false;
  }
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() > MAX_SCRIPT_BYTES) {
    *error = "event script " + path + " is larger than " + std::to_string(MAX_SCRIPT_BYTES) +
             " bytes";
    return false;
  }
  return parse_event_text(text, path, events, error);
}

bool check_event_script(std::vector<ScriptEvent>* events, const PanelLayout& panel,
                        const std::string& path, std::string* error) {
  for (auto& ev : *events) {
    if (ev.is_note()) continue;  // no control: the session's note
    auto where = path + ":" + std::to_string(ev.line) + ": ";
    const ControlInfo* c = nullptr;
    for (const auto& candidate : panel.controls)
      if (candidate.name == ev.name) c = &candidate;
    if (!c) {
      *error = where + "unknown control " + ev.name;
      return false;
    }
    ev.id = c->id;
    if (!ev.has_value) continue;
    // Comments may follow a number, not a text.
    std::string value = ev.value;
    if (c->type != ValueType::Text) {
      size_t hash = value.find('#');
      if (hash != std::string::npos) value = trim(value.substr(0, hash));
      ev.value = value;
    }
    bool ok = true;
    switch (c->type) {
      case ValueType::Int: {
        int v;
        ok = parse_int32(value, &v);
        if (!ok) *error = where + ev.name + " takes a 32-bit integer, not \"" + value + "\"";
        break;
      }
      case ValueType::Float:
      case ValueType::Double: {
        double v;
        ok = parse_number(value, &v);
        // A float control cannot hold what lies beyond a float's range.
        if (ok && c->type == ValueType::Float) ok = std::isfinite(static_cast<float>(v));
        if (!ok) *error = where + ev.name + " takes a decimal number, not \"" + value + "\"";
        break;
      }
      case ValueType::Text:
        break;
      default:
        ok = value.empty();
        if (!ok) *error = where + ev.name + " (" + kind_name(c->kind) + ") takes no value";
        break;
    }
    if (!ok) return false;
    if (value.empty() && c->type != ValueType::Text) ev.has_value = false;
  }
  return true;
}

void apply_event_value(const ScriptEvent& event, PanelModel& model) {
  if (!event.has_value) return;
  const ControlInfo* c = model.find(event.id);
  if (!c) return;
  switch (c->type) {
    case ValueType::Int: model.set_int(event.id, static_cast<int>(std::strtol(event.value.c_str(), nullptr, 10))); break;
    case ValueType::Float: model.set_float(event.id, std::strtof(event.value.c_str(), nullptr)); break;
    case ValueType::Double: model.set_double(event.id, std::strtod(event.value.c_str(), nullptr)); break;
    case ValueType::Text: model.set_text(event.id, event.value); break;
    default: break;
  }
}

}  // namespace rt
