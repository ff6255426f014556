// "Export CSV" of the trends view: the plotted values over the time range
// shown, in the tidy form of the --csv file (docs/csv.md): one row per
// frame that carries at least one of them, each value in its --csv column
// and unit, only in the row of the frame that carries it. Lines starting
// with '#' before the header name the recording and the range. Written
// under NAME.part and renamed once whole (export/csv.h). Qt-free.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace rt {

class TrendStore;

struct TrendCsvRange {
  std::vector<std::string> keys;  // the values, by catalogue key
  bool elapsed = false;           // x0, x1 are the instrument's elapsed time, not clock time
  double x0 = 0.0, x1 = 0.0;
};

struct TrendCsvResult {
  bool ok = false;
  std::string error;  // "cannot write CSV file PATH: reason", or why the range could not be read
  long rows = 0;
};

// Writes the file. Safe beside the store's own reading (it takes the
// store's lock a batch of frames at a time); `cancel` ends it early, leaving
// no file. A store rebuilt meanwhile (another file) ends it with an error.
TrendCsvResult export_trend_csv(const TrendStore& store, const TrendCsvRange& range, const std::string& path,
                                const std::atomic<bool>* cancel = nullptr);

// The column names before the values: "frame,offset_bytes,time_local,time_s".
std::string trend_csv_lead();

}  // namespace rt
