// The limits dialog ("actionEditLimits", Limits...): every display that
// takes limits (PanelModel::limit_slots) with its caution and alarm ranges,
// hysteresis and enabled state, in the unit the display shows. The fields
// are checked as they are typed (numbers only, an empty end is open, both
// ends empty is no range; low below high; the caution range inside the
// alarm range): a field at fault turns red and the reason shows below. A
// slot's change is applied when it is committed (Enter, leaving the field,
// the enabled box) and its fields are valid: in force at once, logged with
// the old and new limits, and written to the user limits file
// (runtime/user_limits.h). "Restore defaults" brings every slot back to the
// panel file's limits. Not modal, so the panel stays live beside it.
// GUI thread only.
#pragma once

class QAction;
class QMainWindow;

namespace rt {

class PanelModel;

// Makes the action as a child of `frame` (for the menus and the alarm
// pane); it opens the dialog (objectName "limitsDialog"), one for the window.
QAction* add_limits_dialog(QMainWindow* frame, PanelModel& model);

}  // namespace rt
