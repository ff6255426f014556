// Joins history/ to the run-time (runtime/hooks.h) and to the playback's
// moves (replay/replay.h): the reception clock of live sessions follows
// the frames shown, and the panel is put back to its moment after each
// move. Program start calls it once, as every test program does.
#pragma once

namespace rt {

void history_install();

}  // namespace rt
