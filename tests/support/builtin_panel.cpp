#include "support/builtin_panel.h"

#include <string>

namespace testing_panel {

rt::PanelLayout builtin_gse_layout() {
  rt::PanelLayout layout;
  std::string error;
  // The file is the same that the native build reads, so it always makes a
  // layout; a failure leaves an empty one that every test notices.
  rt::layout_from_widgets(builtin_gse_widgets(), "", 1, &layout, &error);
  return layout;
}

}  // namespace testing_panel
