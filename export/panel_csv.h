// The --csv-panel export: a header row of column names (frame, then every
// display control's PANEL_* name in identifier order) and, after each good
// frame, one row of what each display then shows (sample-and-hold, as the
// operator saw it). The analysis export (--csv) is export_job.h.
#pragma once

#include <string>

#include "export/csv.h"

namespace rt {

class PanelModel;

bool panel_csv_open(const std::string& path, std::string* error);
bool panel_csv_enabled();
// Writes the header row for this panel (once a panel is loaded).
void panel_csv_begin(const PanelModel& model);
// One row after a good frame.
void panel_csv_frame_row(const PanelModel& model);
void panel_csv_close();

}  // namespace rt
