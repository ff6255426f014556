// A remote viewer's limits: those the station runs, not its own. The
// station's panel message (PREFIX/panel, publish/messages.h parse_panel)
// lists the limits in force there; put in force on the viewer's panel, its
// limit colours, its "Out of limits" and its alarm list judge as the
// station's do. The viewer's limits file is never written for them.
// Qt-free.
#pragma once

#include "publish/messages.h"

namespace rt {

class PanelModel;

// Puts the limits `panel` lists in force on `model`, for each display that
// takes limits there (by label: "HK16"); one the panel lists without limits
// gets none, one it does not list keeps what it has. The hysteresis is not
// published: the panel file's for that display where it fits the station's
// ranges, else the default share. Each change is logged ("limits of HK16
// from the station: ... -> ..."), the value shown judged again at once.
// Returns how many displays' limits changed.
int apply_station_limits(PanelModel& model, const PublishedPanel& panel);

}  // namespace rt
