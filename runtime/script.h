// Scripted operator input (--events): one event a line,
//   <n> <PANEL_NAME> [<value>]
// raised at the first poll after n frame passes; '#' starts a comment.
#pragma once

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
};

// Reads the script. Fails with "FILE:LINE: reason" on a malformed line.
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
