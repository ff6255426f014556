// Where a remote view's trends come from (--subscribe): never the broker's
// address read as a file. With --record FILE, that file from where this run
// began to append to it (each frame at the time the station gives it);
// without, the frames received since the start, kept in memory (the last
// REMOTE_VIEW_FRAMES, history/reception.h) and said so in the pane. GUI
// thread.
#pragma once

#include <QString>

#include "history/trend_store.h"

namespace rt {

// Joins the remote view's frames to the trends (before viewer_start): each
// frame received goes to the reception clock (history/reception.h) with the
// station's time; without a recording the clock keeps REMOTE_VIEW_FRAMES of
// them whole.
void install_remote_view_trends(bool recording);

// False when the program is no remote view; else the source in *out.
bool remote_view_source(TrendSource* out);
// What the pane says of a memory source holding `frames` ("" for any
// other source).
QString remote_view_note(const TrendSource& source, long frames);

}  // namespace rt
