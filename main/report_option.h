// --report FILE: the report of the session just run (archive/report.h),
// written once the run has ended and its session record is closed.
#pragma once

#include <string>
#include <vector>

namespace gse {

// Whether `input` (the recording to play; "" live) can be reported on once
// the run has ended: standard input or a pipe cannot be read again. "" when
// it can, else the reason in one line, naming the input.
std::string report_input_problem(const std::string& input);

// Follows the run for the live recording's name (call before the run).
void report_follow_recording();
// Writes the report of `input` (the recording played, or the live
// recording followed when `input` is empty) to `path`. A failure is said on
// standard error in one line and noted in the exit status
// (EXIT_OUTPUT_FAILED). `values`: the trends it draws (the trends' keys);
// `version` is the station's.
void report_at_end(const std::string& path, const std::string& input, const std::vector<std::string>& values,
                   const std::string& version);

}  // namespace gse
