// The list of a folder's sessions for a terminal or a script: `vst_gse
// --sessions [FOLDER]` (optionally --json). The folder's archive is brought
// up to date first (archive.h), then every session is written, one a line
// (or as one JSON document), and each problem met on the way in one line on
// the error stream. Qt-free.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive.h"

namespace rt {

// The list as text: a heading line, then one line per session (its start
// as local time, duration, frames, failures, alarms, notes, port losses,
// port, its state and its recording).
std::string sessions_text(const std::vector<SessionRow>& rows);
// The list as one JSON document: {"archive": FILE, "sessions": [...],
// "problems": [...]}; times as seconds since 1970 and as local text.
std::string sessions_json(const std::string& archive_file, const std::vector<SessionRow>& rows,
                          const std::vector<std::string>& problems);

// Indexes `folder` and writes its list to `out`, the problems to `err`.
// Returns the exit status: 0 when every recording was read; 1 when the
// folder cannot be read or a recording could not be read (the rest is
// listed all the same).
int sessions_command(const std::string& folder, bool json, std::FILE* out, std::FILE* err);

// A time (seconds since 1970) as local "YYYY-MM-DD HH:MM:SS"; "" for NaN.
std::string local_time_text(double t_s);
// A duration as "H:MM:SS"; "" for NaN.
std::string hms_text(double s);

}  // namespace rt
