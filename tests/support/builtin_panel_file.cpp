// The panel file reader of the core-only build (runtime/panel_file.h).
// Without Qt there is no XML reader, so "gse.uir" is the built-in layout of
// ui/gse.uir and no other panel file can be read.
#include <filesystem>
#include <string>

#include "runtime/panel_file.h"
#include "support/builtin_panel.h"

namespace rt {

namespace {

constexpr const char* BUILTIN_NAME = "gse.uir";
constexpr int BUILTIN_RESOURCE = 1;

bool is_builtin(const std::string& name) {
  return std::filesystem::path(name).filename() == BUILTIN_NAME;
}

}  // namespace

std::string find_panel_file(const std::string& name, std::string* tried) {
  if (is_builtin(name)) return name;
  if (tried) *tried = "only the built-in gse.uir: this build reads no panel files";
  return "";
}

bool read_panel_file(const std::string& path, int resource, PanelLayout* layout,
                     std::string* error) {
  if (!is_builtin(path) || resource != BUILTIN_RESOURCE) {
    *error = path + ": this build reads no panel files (only the built-in gse.uir, resource 1)";
    return false;
  }
  *layout = testing_panel::builtin_gse_layout();
  layout->file = path;
  return true;
}

}  // namespace rt
