// Serial link receiver: one frame off port 1, with the "++-" escape undone,
// every byte recorded raw before it is interpreted, and every tenth
// completed frame acknowledged with "RCVD\r".
#pragma once

#include <cstdint>

#include "runtime/ui.h"

// Results of get_port_frm.
constexpr int RX_OK = 0;
constexpr int RX_READ_FAILED = -1;     // time-out or port error
constexpr int RX_ILLEGAL_ESCAPE = -2;  // "++-" then neither '-' nor '1'
constexpr int RX_BAD_STATE = -3;       // guard: state outside the table
constexpr int RX_BAD_CHECKSUM = -4;

// The recording stream, or nullptr to receive without recording.
void receiver_attach_recording(FileStream* rec_fp);

// Reads port 1 until 200 bytes are stored or a read fails. Returns one of the
// RX_* codes. nskip grows by the bytes hunted over, by the stored count on an
// illegal escape and by 200 on a checksum failure. Every byte read goes to
// the recording before it is interpreted; the run-time writes it to disk
// within a second, during the call too, and the call ends with a flush.
int get_port_frm(uint8_t* frame);

// Frames completed (200 bytes stored) since start-up.
uint32_t nrcvd_count();

// For tests only.
void receiver_reset_for_tests();
