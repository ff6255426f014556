// "Save screenshot" and "Save spectra" on the window's toolbar. Each writes a
// file named from the time into the working directory and says where (or
// why not). Neither raises a panel event. Runs on the GUI thread.
#pragma once

#include <functional>

class QString;
class QToolBar;
class QWidget;

namespace rt {

// Appends both actions to `bar` (which owns them). The screenshot is a PNG
// of `form`; the spectra are written by the system's thread at its next
// poll (runtime/transport.h), which reports the outcome itself. `say` shows
// a message to the operator.
void add_save_actions(QToolBar* bar, QWidget* form, std::function<void(const QString&)> say);

}  // namespace rt
