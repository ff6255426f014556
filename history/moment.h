// The panel true to the frame it shows. After a move in the playback (seek,
// step back, From start, Loop, Open recording) the system's next frame pass
// shows the frame the input now stands on; everything else on the panel
// must then be what a playback from the start showed on reaching that
// frame, or empty where it had shown nothing yet:
//   - each housekeeping slot the last value of that slot before the frame,
//     each kind's values those of the last frame of that kind, the values of
//     every frame those of the frame before;
//   - the strip chart the samples of the frames before it, as many as it
//     holds;
//   - the hex dump and the skipped count those of the frame before, and the
//     discarded-byte count the system adds to the one a reading from the
//     start has at that frame, so the skipped count of the frame shown
//     belongs to it;
//   - each watched display's limit level (so "Out of limits") as the values
//     before the frame left it.
// The system's code still makes exactly its own calls: this is prepared in
// the panel's model beforehand, from the recording's index and the frames
// it points at, decoded by the value catalogue (values.h). Where that
// cannot be done (the file changed under its index), the displays start
// empty from the frame shown, as at a fresh start, and the log says why:
// never two moments at once. Qt-free.
#pragma once

#include <cstdint>
#include <string>

#include "replay/recording_index.h"
#include "runtime/model.h"

namespace rt {

// What the panel shows before its first frame: every display the frames
// write empty, the strip chart empty.
PanelMoment empty_moment(const PanelModel& model);

// What the panel showed just before frame `next` of `index` (a Ready index
// of the recording at `path`, read by `rules`): the frames it needs are
// read from the file. False with *error when they cannot be read or are
// not the frames the index lists (the file changed).
bool panel_moment(const PanelModel& model, const std::string& path, FrameRules rules, const RecordingIndex& index,
                  long next, PanelMoment* out, std::string* error);

// How far back the limit level of a display is worked out: this many of its
// values, from the last one that settles the level whatever came before.
constexpr int LIMIT_LOOKBACK = 64;

// Registers the panel's moment with replay/ (MoveListener), once.
void moment_install();

}  // namespace rt
