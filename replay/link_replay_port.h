// --link-replay FILE: the port that plays a live recording back to the live
// receiver. The recording's bytes come out of ComRdByte as the link
// delivered them: 1920 bytes a second (19200 baud, 8N1), divided by the
// playback speed (--speed, then the window's). Nothing goes anywhere: what
// the station sends (acknowledgements, commands) is logged, not sent, and no
// recording is made (run.cpp). Qt-free.
//
// The recording keeps no time, so silences of the live link are not played
// again; neither are bytes that a run start drained (they were never
// recorded): a read with a time-out shorter than RECEIVE_TIMEOUT_MIN_S (the
// run start's drain) finds the link silent. At the end of the file the link
// falls silent for good: each read waits its time-out and fails, and the
// transport says the input is exhausted (headless, the program then quits).
//
// The port is also the input under the operator's control (replay.h): the
// first read of every frame pass holds while paused and carries out seeks,
// steps, restarts and "Open recording". The file must be a regular file.
#pragma once

#include <memory>

#include "runtime/com_port.h"

namespace rt {

constexpr double LINK_BYTES_PER_S = 1920.0;
// Reads with a shorter time-out are the run start's drain.
constexpr double RECEIVE_TIMEOUT_MIN_S = 0.5;
// The bytes the link keeps for a reader that falls behind (an operating
// system's input queue): a second's worth, then they come at the link's pace.
constexpr double LINK_QUEUE_S = 1.0;

std::shared_ptr<ComPort> make_link_replay_port();

}  // namespace rt
