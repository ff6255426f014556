// Frame decoder: one valid frame onto the panel.
#pragma once

#include <cstdint>

#include "display/spectra.h"

// Shows the header, typed and kind-dependent fields, feeds the housekeeping
// page and the spectra (256 channels only while acc_on != 0) and appends the
// 80 fast samples to the strip chart. `frame` must have passed the checksum.
void frm_process(const uint8_t* frame, spectra_t& spectra, int panel, int acc_on);

// The kind-1 elapsed-time text of a millisecond count ("%1d/%02d:%02d:%04.1f"
// of days, hours, minutes, seconds), into `out` of `size` bytes (at least 1).
// Never writes past `size`; returns the full length it would need.
int format_elapsed(int32_t ms, char* out, int size);
