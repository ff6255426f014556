// The values a report draws, as the window chooses them: the default set
// kept in the station's settings (window_settings(), gui/layout.h; the
// choice itself is archive/report_values.h), and the small dialog that
// File > Report... and the Sessions window's Report... show before their
// file dialog: every value a report can chart, with a check box each,
// ticked from the default set, a field that narrows the list, and "Keep as
// default", which stores the choice in the settings. GUI thread, except
// saved_report_values (any one thread at a time: headless runs call it
// from program start).
#pragma once

#include <string>
#include <vector>

class QString;
class QWidget;

namespace rt {

// The default set as the settings hold it, else HK00, HK08, HK16, HK20. A
// key there that a report cannot draw is left out, and said once in the
// session log (a warning naming the settings file and the key), however
// often the set is read.
std::vector<std::string> saved_report_values();
// Keeps `keys` as the default set.
void save_report_values(const std::vector<std::string>& keys);

// Asks which values the report of `recording_name` draws (through
// run_dialog, gui/desktop/dialogs.h; unattended it goes on with *keys). In:
// the ones ticked first; out, when it returns true: the ones chosen (at
// least one), kept as the default set when "Keep as default" was ticked.
// False when cancelled. The dialog is "reportValuesDialog"; its list
// "reportValuesList" (each item's key in Qt::UserRole), its field
// "reportValuesFilter", its check box "reportValuesKeep".
bool choose_report_values(QWidget* parent, const QString& recording_name, std::vector<std::string>* keys);

}  // namespace rt
