// Start-up failures shown to the operator in windowed mode. The line on
// standard output and the exit status stay as they are; the dialog comes
// after the line, so a script watching the output is not kept waiting. A
// port that cannot be opened offers the port chooser with Retry; the other
// failures (the input file, the panel file) a notice with the reason.
// GUI thread only; dialogs go through run_dialog (dialogs.h).
#pragma once

#include <QString>

#include "gui/desktop/port_chooser.h"

namespace rt {

enum class StartupFailure { Port, Input, Panel, Folder };

// Shows the failure of `subject` (the device, the file) and `reason`. For
// a port: true when the operator chose Retry, with the device in *device
// (remembered for the next start); false on Cancel, or when a quit signal
// arrives while the chooser is open. The others always return false.
bool tell_startup_failure(StartupFailure kind, const QString& subject, const QString& reason,
                          QString* device, const PortLister& lister = system_port_lister());

}  // namespace rt
