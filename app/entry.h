// Program entry: mode choice, the input and the recording, the panel, and
// the acquisition runs until the operator quits.
#pragma once

#include <ctime>

// argc 1: live mode on COM1, recording every received byte to a file named
// from the start time. argc 2: playback of argv[1] (a file, a pipe, a FIFO,
// a character device, or "-" for standard input). Returns 0 after a normal
// quit, 1 when start-up fails (after one line on standard output naming what
// failed: "%d COM1 port error %d", "Cannot open input file %s" with the
// reason on standard error, or the panel file and the reason), 2 for any
// other argument count.
int gse_main(int argc, char* argv[]);

// The recording name "%1d%03d%02d%02d.dat": last digit of the year, day of
// the year from 0, hour, minute. `out` holds at least 16 characters.
void make_recording_name(const std::tm& t, char out[16]);
