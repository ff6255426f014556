// Joins history/ to the run-time (runtime/hooks.h) and to the playback's
// moves (replay/replay.h): the panel is put back to its moment after each
// move, and with `trends` (a window, whose trends may be opened) the
// reception clock of live sessions follows the frames shown. A headless run
// keeps no reception times, so its memory stays flat however long it
// receives. Program start calls it once, as every test program does.
#pragma once

namespace rt {

void history_install(bool trends);

}  // namespace rt
