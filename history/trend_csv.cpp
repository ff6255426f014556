#include "history/trend_csv.h"

#include <algorithm>

#include "export/csv.h"
#include "history/time_axis.h"
#include "history/trend_store.h"
#include "history/values.h"

namespace rt {

namespace {

constexpr size_t BATCH = 20000;  // frames read under the store's lock at a time

}  // namespace

std::string trend_csv_lead() { return "frame,offset_bytes,time_local,time_s"; }

TrendCsvResult export_trend_csv(const TrendStore& store, const TrendCsvRange& range, const std::string& path,
                                const std::atomic<bool>* cancel) {
  TrendCsvResult result;
  std::vector<const ValueInfo*> values;
  for (const std::string& k : range.keys)
    if (const ValueInfo* v = find_value(k)) values.push_back(v);
  const TrendStatus status = store.status();
  CsvFile file;
  if (!file.open(path)) {
    result.error = file.error();
    return result;
  }
  // Which frames lie in the range, on the axis the view shows.
  size_t first = 0, end = 0;
  bool readable = true;
  store.read([&](const TrendData& d) {
    std::vector<double> elapsed;
    AxisX axis{&d.time_s, 0};
    if (range.elapsed) {
      bool monotonic;
      elapsed_axis(d, &elapsed, &axis.first, &monotonic);
      axis.x = &elapsed;
      readable = monotonic;
    }
    std::tie(first, end) = frames_between(axis, range.x0, range.x1);
    for (const ValueInfo* v : values) readable = readable && d.series.count(v->key);
  });
  if (!readable) {
    file.abandon();
    result.error = "the values are not all decoded yet, or the elapsed time cannot order the frames";
    return result;
  }
  std::string& row = file.row();
  const auto comment = [&](const std::string& text) {
    row += "# " + text;
    file.end_row();
  };
  comment("vst_gse trends of " + store.source().path);
  comment(std::string("range ") + (range.elapsed ? "of the instrument's elapsed time " + elapsed_axis_text(range.x0) +
                                                       " to " + elapsed_axis_text(range.x1)
                                                 : "from " + iso_local_text(range.x0) + " to " + iso_local_text(range.x1)) +
          ", frames " + std::to_string(first + 1) + " to " + std::to_string(end));
  row += trend_csv_lead();
  for (const ValueInfo* v : values) row += "," + v->csv;
  file.end_row();

  for (size_t from = first; from < end; from += BATCH) {
    if (cancel && cancel->load()) {
      file.abandon();
      result.error = "cancelled";
      return result;
    }
    bool changed = false;
    store.read([&](const TrendData& d) {
      if (d.generation != status.generation) {
        changed = true;
        return;
      }
      std::vector<size_t> next(values.size());
      for (size_t j = 0; j < values.size(); ++j) next[j] = d.series.at(values[j]->key).lower(static_cast<uint32_t>(from));
      const size_t to = std::min(end, std::min(from + BATCH, d.frames()));
      for (size_t i = from; i < to; ++i) {
        bool any = false;
        for (size_t j = 0; j < values.size(); ++j) {
          const Series& s = d.series.at(values[j]->key);
          any = any || (next[j] < s.size() && s.frame(next[j]) == i);
        }
        if (!any) continue;
        csv_int(row, static_cast<int64_t>(i) + 1);
        row += ',';
        if (d.offset[i] >= 0) csv_int(row, d.offset[i]);
        row += ',';
        row += iso_local_text(d.time_s[i]);
        row += ',';
        csv_double(row, d.time_s[i]);
        for (size_t j = 0; j < values.size(); ++j) {
          row += ',';
          const Series& s = d.series.at(values[j]->key);
          if (next[j] < s.size() && s.frame(next[j]) == i) csv_double(row, s.value(next[j]++));
        }
        file.end_row();
        ++result.rows;
      }
    });
    if (changed) {
      file.abandon();
      result.error = "the recording was read again (it changed) during the export";
      return result;
    }
  }
  if (!file.commit()) {
    result.error = file.error();
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace rt
