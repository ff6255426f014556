// The service loop: one acquisition run per call.
#pragma once

#include "display/spectra.h"

// Starts a run (live: drains the port and sets the read time-outs; both
// modes: the count, the accumulate flag, the stored axis limits and the
// 256-channel totals), then loops: each pass handles one operator event if one
// is pending, else reads and shows one frame. Returns 1 after the quit button
// (live: "3\r" sent first), 0 after an event from a control without a handler.
// file_mode: 0 live (port 1), nonzero playback.
int service(int panel, int file_mode, spectra_t& spectra);

// Status texts of a failed frame read.
constexpr const char* STATUS_EOF = "EOF on input file";
constexpr const char* STATUS_BAD_STATE = "COM1 err: invalid state";
constexpr const char* STATUS_ILLEGAL_ESCAPE = "COM1 err: illegal ++- sequence";
constexpr const char* STATUS_READ_FAILED = "COM1 err: too few bytes read";
constexpr const char* STATUS_CHECKSUM = "COM1 err: checksum failure";

// Longest time and byte count of the drain at a live run start: a sender that
// never pauses must not hold the run start for ever.
constexpr double DRAIN_LIMIT_S = 2.0;
constexpr long DRAIN_LIMIT_BYTES = 65536;
