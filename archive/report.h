// The report of one session, to hand over at the end of a pass: one HTML
// file that holds everything it shows (its pictures are SVG inside it),
// printable, made from the recording and its session record alone, so it
// can be made again at any time for any archived session.
//
// It gives the session's summary (times, frames, failures, the longest gap,
// port and device, the station's version, the recording's size and hash),
// the alarm list with each raise and acknowledgement, the notes, the
// commands, the link over the session (good frames per minute, its
// events), and the trend of each chosen value (minimum, maximum and mean
// per minute, decoded by the station's own decoder). Without a record it
// says so and gives what the recording and its log hold. Qt-free.
#pragma once

#include <string>
#include <vector>

namespace rt {

// The values a report draws unless told otherwise (the trends' keys).
const std::vector<std::string>& default_report_values();

struct ReportOptions {
  std::vector<std::string> values = default_report_values();
  std::string version;  // the station making it ("" : not said)
};

// The report's HTML for the recording at `recording`. False with *error
// ("FILE: REASON") when the recording cannot be read, or a value's key is
// unknown.
bool make_report(const std::string& recording, const ReportOptions& options, std::string* html, std::string* error);

// make_report, written to `path` whole or not at all (a file beside it,
// then renamed). False with *error naming the file and the reason.
bool write_report(const std::string& recording, const std::string& path, const ReportOptions& options,
                  std::string* error);

}  // namespace rt
