// Reading a session record (record/schema.sql) for the review of its
// recording: history/'s pass (history/pass.h). The record is opened
// read-only; it may be read while a station still writes it.
//
// A record is used only when it is what it claims to be; otherwise it is
// refused with its reason in one line, and the recording plays with
// estimated times:
//   - not an SQLite database, or damaged (truncated, malformed);
//   - an SQLite database that is not a vst_gse session record, or holds none;
//   - written by a newer vst_gse (a record version above this one's);
//   - the record of another recording: the recording's first bytes do not
//     hash as the record says (or it is shorter than those).
// A recording that grew after its record stopped (a crash) uses the
// record's part and estimates the rest; one that ends before the record's
// part uses the frames it holds. Either way the pass's note says so.
// Qt-free.
#pragma once

#include <string>

#include "history/pass.h"

namespace rt {

// The record beside `recording` (record_path_for), read whole into *out.
// None when there is no such file; Refused with *why ("session record
// NAME refused: REASON; times are estimated").
PassFound read_session_record(const std::string& recording, Pass* out, std::string* why);

}  // namespace rt
