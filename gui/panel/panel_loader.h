// Loading the panel file into widgets: QUiLoader, with the panel's own
// classes made first (QCustomPlot, and FloatInput for QDoubleSpinBox: the
// loader would silently fall back to a plain QWidget or the base class), each
// model control's widget found by its objectName and checked for the class
// its kind needs, and the displays set up as the panel shows them. GUI
// thread only.
#pragma once

#include <map>
#include <string>

#include "runtime/model.h"

class QWidget;

namespace rt {

// The form of the panel file at `uir_path` (no parent), or nullptr with
// *error naming the file and the reason.
QWidget* load_panel_form(const std::string& uir_path, std::string* error);

// The widget of each control of `layout` in `form`. False with *error
// (naming `file`) for a control with no widget, more than one, or one of the
// wrong class.
bool find_control_widgets(QWidget* form, const PanelLayout& layout, const std::string& file,
                          std::map<int, QWidget*>* widgets, std::string* error);

// A display or text box as the panel shows it: read-only, numbers aligned
// right, the hex dump in a monospaced face. Other kinds are left alone.
void prepare_display(QWidget* widget, const ControlInfo& info);

}  // namespace rt
