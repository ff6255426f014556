// The --csv export: a header row of column names (frame, then every display
// control's PANEL_* name in identifier order) and, after each good frame, one
// row of what each display then shows.
#pragma once

#include <string>
#include <string_view>

namespace rt {

class PanelModel;

bool csv_open(const std::string& path, std::string* error);
bool csv_enabled();
// Writes the header row for this panel (once a panel is loaded).
void csv_begin(const PanelModel& model);
// One row after a good frame.
void csv_frame_row(const PanelModel& model);
void csv_close();

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csv_field(std::string_view text);

}  // namespace rt
