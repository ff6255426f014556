// File playback reader: paced 200-byte records from the playback input, with
// resynchronisation on the sync word after a record that is not a frame.
#pragma once

#include <cstdint>

#include "runtime/ui.h"

// The playback input (opened "rb" by the program entry: a file, a pipe or
// standard input; the run-time's stream serves the steps back in any of them).
void reader_attach(FileStream* in_fp);

// Waits 0.1 s (Delay), then reads 200-byte records until one is a frame: it
// starts with the sync word 0xEB 0x90 and passes the checksum. Returns 0
// with that frame in `frame`, or -1 at the end of input (no complete record,
// or the end came during a hunt). Bytes passed over are added to nskip; a
// final short record is not counted.
int get_file_frm(uint8_t* frame);

// After a failed record: waits 1.0 s, steps back 199 bytes and hunts for
// 0xEB 0x90. Returns 0 with the stream on the 0xEB, or 1 at the end of input.
int resync();
