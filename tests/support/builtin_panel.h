// The panel of ui/gse.uir as a layout built in code: what the panel file
// reader makes of the file, which a native test holds equal to it. The
// core-only build (no Qt, so no XML reader) loads it in place of the file:
// see builtin_panel_file.cpp.
#pragma once

#include "runtime/model.h"

namespace testing_panel {

// Panel resource 1 of gse.uir, its controls in file order. `file` is empty.
rt::PanelLayout builtin_gse_layout();

}  // namespace testing_panel
