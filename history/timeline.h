// The pass as a timeline: where a moment (an alarm, a log entry, an event,
// a note, a trend's point) lies in the recording, which frame of the
// playback's index a move there shows, and the marks that the operator
// steps through from one to the next. The pass's own times where its
// session record gives them (history/pass.h); else the times the recording
// implies, estimated from its name at the link's rate (time_axis.h).
// Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "history/pass.h"
#include "replay/recording_index.h"

namespace rt {

// The time of the byte at `offset` of the recording at `recording`: the
// pass's when it has one, else estimated (*estimated). False when neither
// can be told (a pass with no frame and a name that gives no start).
bool time_of_offset(const Pass* pass, const std::string& recording, int64_t offset, double* t_s,
                    bool* estimated = nullptr);

// Where in the recording the moment `t_s` lies: with a pass, the first frame
// shown at or after it (the last frame when none was); else estimated.
// False when it cannot be told.
bool offset_of_time(const Pass* pass, const std::string& recording, double t_s, int64_t* offset);

// The frame of `index` (a Ready index) that a move to `offset` shows: the
// last that begins at or before it, so the panel shows what was shown at
// that moment (0 when none does).
long index_frame_at(const RecordingIndex& index, int64_t offset);

// A moment the operator can step to with the next and previous keys.
struct TimelineMark {
  enum Kind { Alarm, Event, Note };
  Kind kind = Event;
  double t_s = 0.0;
  int64_t offset = -1;  // in the recording; -1 when only the time is known
  std::string what;     // for the status bar
};

// The pass's marks in time order: each alarm's raises and acknowledgements,
// the link's and the station's events, and the notes.
std::vector<TimelineMark> pass_marks(const Pass& pass);

// The first mark after `t_s` (direction +1) or before it (-1), more than
// `margin_s` away, or nullptr.
const TimelineMark* next_mark(const std::vector<TimelineMark>& marks, double t_s, int direction,
                              double margin_s = 0.05);

}  // namespace rt
