// The rows of the analysis export (docs/csv.md is the column dictionary):
// one row per good frame with every value it carries, decoded at full
// precision, a value only in the row of the frame that carries it; one row
// per failed frame (on request); the fast samples in long format; the
// spectra. Built from the frame's bytes with the system's own conversions
// (display/fields.h, display/hkpg.h, display/spectra.h). Qt-free.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct spectra_t;

namespace rt {

// No byte offset (the frame did not come from a file: live, a pipe).
constexpr int64_t NO_OFFSET = -1;

// Status of a good frame; failures name theirs (frame_status_token).
constexpr const char* STATUS_OK = "ok";

// The header line of the frame file, without its line end; `hex` adds the
// hexdump column at the end.
std::string frame_csv_header(bool hex);
// Number of columns in that header.
int frame_csv_columns(bool hex);

// One good frame (200 bytes that passed the checksum): `ordinal` counts good
// frames from 1, `offset` is where its first sync byte stands in the input
// (or NO_OFFSET), `skipped` the input bytes discarded so far. Appended to
// `out` without the line end.
void frame_csv_row(std::string& out, const uint8_t* frame, int64_t ordinal, int64_t offset,
                   int64_t skipped, bool hex);
// One failed frame: only its status and offset (NO_OFFSET: empty).
void frame_csv_failure_row(std::string& out, std::string_view status, int64_t offset, bool hex);

// The status token of a station's status text: "checksum_failure",
// "illegal_escape", "read_failure", "invalid_state"; "" for a text that is
// no frame attempt (a good frame's blank, the end of input, the serial
// port's set-up texts).
std::string frame_status_token(std::string_view status_text);

// The fast-sample file: "frame,trace,index,value", then 80 rows a frame.
std::string samples_csv_header();
// Appends the 80 rows of one frame, each with its line end.
void samples_csv_rows(std::string& out, const uint8_t* frame, int64_t ordinal);

// The spectra file: "spectrum,channel,position,width,total,frames,rate" and
// one row per channel, the 48 then the 256 (the rows of Save spectra).
// Appends everything, line ends included.
void spectra_csv(std::string& out, const spectra_t& spectra);

}  // namespace rt
