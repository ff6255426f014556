// The user limits file: the operator's own limits, which override the panel
// file's slot by slot. Text, one slot a line, in the unit the display shows:
//
//   # comments and blank lines are ignored
//   HK16 caution=-20..45 alarm=-40..70 hysteresis=default enabled=yes
//   HK08 caution=none alarm=0.5..99.5 hysteresis=0.2 enabled=no
//
// A line names a slot as the panel's display is called without "PANEL_"
// (HK00 to HK35, HKHI, HKLO, HKRAW), then gives all four keys, in any order:
//   caution, alarm  LOW..HIGH (either end may be left out for an open end:
//                   "..50", "-20.."), or none
//   hysteresis      a number 0 or more, or default (half a percent of the
//                   range's width)
//   enabled         yes or no (no: the slot is never out of limits)
// The limits must pass check_limits (limits.h). A file with any fault is
// refused whole, with the line and the reason: it is never half applied.
// Pure text in, text out: the run-time reads and writes the file
// (runtime/user_limits.h).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "present/limits.h"

namespace rt {

struct SlotLimits {
  std::string label;  // "HK16"
  Limits limits;
};

// The longest line and the largest file read, so a wrong file (a recording
// named by mistake) is refused quickly.
constexpr size_t LIMITS_LINE_MAX = 4096;
constexpr size_t LIMITS_FILE_MAX = 1024 * 1024;

struct LimitsFileFault {
  int line = 0;  // 1-based; 0 for the file as a whole
  std::string reason;
};

// Reads `text`. `known(label)` says whether the panel has a slot of that
// name. Every slot named once. False with *fault at the first fault.
bool parse_limits_file(std::string_view text, const std::function<bool(std::string_view)>& known,
                       std::vector<SlotLimits>* slots, LimitsFileFault* fault);

// The file for `slots`: a header that explains the format, then a line per
// slot. Numbers are written so they read back exactly.
std::string format_limits_file(const std::vector<SlotLimits>& slots);

// A limit's number as the file writes it: the shortest text that reads back
// as the same double ("0.05", "-20", "1e-05").
std::string limit_number_text(double v);

// One slot's keys as the file writes them: "caution=-20..45 alarm=-40..70
// hysteresis=default enabled=yes" (also how the log shows a change).
std::string limits_fields(const Limits& limits);

}  // namespace rt
