// Which values a report draws: the trends' keys (history/values.h) a report
// can chart, the station's default set as its settings keep it, and the
// --report-values list. Qt-free: the settings are read and written by the
// window's side (gui/desktop/report_values_dialog.h), which hands the
// stored keys in here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rt {

// True for a key a report can chart: a decoded value of the frames, not
// one of the link's own figures (those are the report's link chart).
bool is_report_value(std::string_view key);
// Every such key, in the catalogue's order (housekeeping first).
std::vector<std::string> report_value_keys();

// The reason a report cannot draw `key`, in one line naming it: "no value
// HK99 in the frames (the trends' names: HK00 to HK39, FCOUNT, F12, ...)".
std::string unknown_report_value(std::string_view key);

// The default set from the keys the settings hold, in their order, each
// once. A key that is not a report value is left out and added to
// *unknown (each once). When nothing is left (nothing stored, or only
// unknown keys) it is default_report_values(): a report always draws
// something.
std::vector<std::string> report_values_from_setting(const std::vector<std::string>& stored,
                                                    std::vector<std::string>* unknown);

// --report-values KEY,KEY,...: the keys in the order given, each once
// (blanks around a key are dropped). False with *error ("--report-values:
// " and the reason, one line) at the first key that is not a report value,
// or at an empty one ("HK00,,HK16").
bool parse_report_values(std::string_view text, std::vector<std::string>* keys, std::string* error);

}  // namespace rt
