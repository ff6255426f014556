// What the panel file says, once its XML is read: the widgets' classes,
// names and properties made into a PanelLayout. Qt-free, so that every
// build checks a panel the same way; runtime/qt/panel_file.cpp reads the XML.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "runtime/model.h"

namespace rt {

// One <widget> element of the form: its class, name and the text of each of
// its properties (the text of the property's elements, trimmed and joined).
struct WidgetRecord {
  std::string cls, name;
  std::map<std::string, std::string> props;
};

// Makes the layout of panel `resource` from the form's widgets, in the order
// they close (children before their parent, the top-level widget last).
// Fails, with *error naming `path` and the reason, on a top-level
// panelResource other than `resource`, a duplicate identifier or name, a
// control whose class the panel cannot use, or a display property that
// cannot be read (format, unitScale, a range, hysteresis).
bool layout_from_widgets(const std::vector<WidgetRecord>& widgets, const std::string& path,
                         int resource, PanelLayout* layout, std::string* error);

}  // namespace rt
