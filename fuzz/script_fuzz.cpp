// Fuzzes the event-script parser and its check against the real panel.
// Invariants: no crash or undefined behaviour on any text; a failure always
// names the source and a line ("fuzz:LINE: ..."); an accepted event has a
// line number within the text, a non-negative pass count and a known control
// whose value its type accepts (applying it to a model succeeds).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "runtime/script.h"

namespace {

const rt::PanelLayout& panel_spec() {
  static rt::PanelLayout layout = [] {
    rt::PanelLayout s;
    std::string error;
    std::string path = rt::find_panel_file("gse.uir");
    if (path.empty() || !rt::read_panel_file(path, 1, &s, &error)) {
      std::fprintf(stderr, "script_fuzz: cannot load gse.uir (%s)\n", error.c_str());
      std::abort();
    }
    return s;
  }();
  return layout;
}

void fail(const char* what) {
  std::fprintf(stderr, "script invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const rt::PanelLayout& layout = panel_spec();
  std::string text(reinterpret_cast<const char*>(data), size);
  long lines = 1;
  for (char c : text) lines += c == '\n';

  std::vector<rt::ScriptEvent> events;
  std::string error;
  if (!rt::parse_event_text(text, "fuzz", &events, &error)) {
    if (error.rfind("fuzz:", 0) != 0) fail("a parse error that does not name the source");
    return 0;
  }
  for (const auto& e : events) {
    if (e.line < 1 || e.line > lines) fail("an event line number outside the text");
    if (e.after_passes < 0) fail("a negative pass count");
  }
  if (!rt::check_event_script(&events, layout, "fuzz", &error)) {
    if (error.rfind("fuzz:", 0) != 0) fail("a check error that does not name the source");
    return 0;
  }
  rt::PanelModel model{rt::PanelLayout(layout)};
  for (const auto& e : events) {
    if (model.find(e.id) == nullptr) fail("an accepted event for an unknown control");
    rt::apply_event_value(e, model);
  }
  return 0;
}
