// Scripted operator input (--events): one event a line,
//   <n> <PANEL_NAME> [<value>]
// raised at the first poll after n frame passes; '#' starts a comment.
// A line "<n> --note <text>" puts the operator's note on the session then
// (runtime/session_watch.h's watch_note), as Ctrl+N does in the window: the
// text is the rest of the line, as written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "runtime/model.h"

namespace rt {

struct ScriptEvent {
  int line = 0;           // line number in the file, for messages
  long long after_passes = 0;  // n (64 bits on every platform)
  std::string name;       // PANEL_*
  bool has_value = false;
  std::string value;      // as written (a text control takes the rest of the line)
  int id = 0;             // filled by check_event_script
  bool is_note() const { return name == NOTE_NAME; }
  static constexpr const char* NOTE_NAME = "--note";
};

// Limits of a script file: about 100 000 events, and a line far longer than
// any control name and value.
constexpr size_t MAX_SCRIPT_BYTES = 4u << 20;  // 4 MiB
constexpr size_t MAX_SCRIPT_LINE_BYTES = 4096;

// Reads the script: a regular file of at most MAX_SCRIPT_BYTES. Fails with a
// reason naming the file when it is anything else (a directory, a device, a
// FIFO) or larger, and with "FILE:LINE: reason" on a malformed line or one
// longer than MAX_SCRIPT_LINE_BYTES.
bool parse_event_script(const std::string& path, std::vector<ScriptEvent>* events,
                        std::string* error);
// Same, from text (for tests); `path` only names the source in messages.
bool parse_event_text(const std::string& text, const std::string& path,
                      std::vector<ScriptEvent>* events, std::string* error);

// Resolves names against the panel and checks each value against its control's
// type: an int control takes a 32-bit integer, a float control a decimal
// number, a text control the rest of the line, a button or graph nothing.
bool check_event_script(std::vector<ScriptEvent>* events, const PanelLayout& panel,
                        const std::string& path, std::string* error);

// Puts a checked event's value into the model, as operator input would.
void apply_event_value(const ScriptEvent& event, PanelModel& model);

}  // namespace rt
