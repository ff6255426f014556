#include "export/export_follow.h"

#include <cstdint>
#include <string_view>

#include "export/export_job.h"
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
};

}  // namespace

void export_install() {
  static PanelCsvFollower panel_csv;
  static LiveExportFollower live_export;
  add_frame_observer(&panel_csv);
  add_frame_observer(&live_export);
}

}  // namespace rt
