// The panel of ui/gse.uir without its XML: the form's widget records, made
// from the file at build time (builtin_panel.py), and the layout of them.
// The core-only build (no Qt, so no XML reader) loads it in place of the
// file (builtin_panel_file.cpp); a native test holds it equal to what the
// panel file reader makes of the file.
#pragma once

#include <vector>

#include "runtime/panel_layout.h"

namespace testing_panel {

// The widgets of ui/gse.uir, in the order they close.
std::vector<rt::WidgetRecord> builtin_gse_widgets();

// Panel resource 1 of gse.uir. `file` is empty.
rt::PanelLayout builtin_gse_layout();

}  // namespace testing_panel
