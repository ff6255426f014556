// File > Connect to...: moves COM1 to another device during a live session,
// without ending it. The port chooser offers the ports with the current
// device preselected; the choice is remembered as the default for the next
// start and handed to the serial run-time (request_com_switch in
// com_port.h), which makes the switch on the system's thread: logged, the
// recording goes on in the same file, the receiver starts a fresh frame. A
// device that does not open shows as a lost port (health bar, log) and is
// tried again until it opens; Connect to... can choose again meanwhile.
// The action is enabled only while a live link that can change device is
// open. GUI thread only.
#pragma once

#include "gui/desktop/port_chooser.h"

class QAction;
class QMainWindow;

namespace rt {

// Makes the action (objectName "actionConnectTo") as a child of `frame`, for
// the File menu to find. `lister`: the ports the chooser offers.
QAction* add_connect_to(QMainWindow* frame, PortLister lister = system_port_lister());

}  // namespace rt
