// Reading the panel file (a Qt Designer form) into a PanelLayout: the panel
// resource number, and every widget that carries a ctrlId with its name,
// class, kind and value type, and for numeric displays their format and
// limits (properties format, unit, unitScale, caution, alarm, hysteresis).
#pragma once

#include <string>

#include "runtime/model.h"

namespace rt {

// Looks `name` up in the working directory, beside the executable, then in
// the installed data directory. Returns the path found, or "" (and the places
// tried in *tried).
std::string find_panel_file(const std::string& name, std::string* tried = nullptr);

// The largest panel file read (the real one is a few hundred kilobytes).
constexpr long long PANEL_FILE_MAX_BYTES = 4LL << 20;

// Reads the panel file at `path`. Fails, with *error naming the file and the
// reason, on an unreadable or malformed file, a top-level panelResource other
// than `resource`, a duplicate identifier or name, or a control whose class
// the panel cannot use (see design notes: class -> kind and value type), or
// a display property that cannot be read (format, unitScale, a range), a
// start value its control cannot hold (NaN, infinite, beyond a float), or a
// file larger than PANEL_FILE_MAX_BYTES. Values are quoted only in part.
bool read_panel_file(const std::string& path, int resource, PanelLayout* layout,
                     std::string* error);

}  // namespace rt
