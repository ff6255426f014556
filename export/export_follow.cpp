#include "export/export_follow.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "export/export_job.h"
#include "link/frame.h"
#include "runtime/hooks.h"
#include "runtime/model.h"
#include "runtime/shown_frame.h"
#include "export/panel_csv.h"

namespace rt {

namespace {

class PanelCsvFollower : public FrameObserver {
 public:
  void panel_loaded(const PanelModel& m) override { panel_csv_begin(m); }
  void good_frame(const PanelModel& m) override { panel_csv_frame_row(m); }
};

// The analysis export of input that cannot be read again (export_job.h),
// from the frame the panel shows (shown_frame.h).
class LiveExportFollower : public FrameObserver {
 public:
  void good_frame(const PanelModel& m) override {
    if (!live_export_enabled()) return;
    uint8_t frame[SHOWN_FRAME_LEN];
    int nskip = 0;
    if (shown_frame(m, frame, &nskip)) live_export_frame(frame, nskip);
  }
  void failed_frame(std::string_view status) override { live_export_status(status); }
  // Playback from a pipe shows no failed frame: the reader refuses a record
  // and steps back into it (all but its first byte) to hunt for a sync word.
  void stepped_back(uint8_t before, const uint8_t* bytes, size_t n) override {
    if (!live_export_enabled() || n != static_cast<size_t>(FRAME_LEN - 1)) return;
    uint8_t record[FRAME_LEN];
    record[0] = before;
    std::memcpy(record + 1, bytes, n);
    live_export_refused_record(record);
  }
};

}  // namespace

void export_install() {
  static PanelCsvFollower panel_csv;
  static LiveExportFollower live_export;
  add_frame_observer(&panel_csv);
  add_frame_observer(&live_export);
}

}  // namespace rt
