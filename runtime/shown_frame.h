// The good frame the panel shows, read back from the model: its 200 bytes
// from the hex dump and the skipped count shown beside it (the frame pass
// writes both before the status). For the features that follow the frames
// as the panel shows them (the live export, the publisher), which cannot
// reach the system's frame buffer. Qt-free.
#pragma once

#include <cstdint>

namespace rt {

class PanelModel;

constexpr int SHOWN_FRAME_LEN = 200;

// The frame in PANEL_HEXDUMP and the count in PANEL_SKIPPED. False when the
// panel has neither, or the dump does not hold exactly 200 bytes.
bool shown_frame(const PanelModel& model, uint8_t frame[SHOWN_FRAME_LEN], int* skipped);

}  // namespace rt
