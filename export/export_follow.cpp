#include "export/export_follow.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "export/export_job.h"
#include "link/frame.h"
#include "runtime/hooks.h"
#include "runtime/model.h"
#include "export/panel_csv.h"

namespace rt {

namespace {

class PanelCsvFollower : public FrameObserver {
 public:
  void panel_loaded(const PanelModel& m) override { panel_csv_begin(m); }
  void good_frame(const PanelModel& m) override { panel_csv_frame_row(m); }
};

// The analysis export of input that cannot be read again (export_job.h):
// the frame is the one the hex dump shows, the skipped count the one shown
// beside it (the frame pass writes both before the status).
class LiveExportFollower : public FrameObserver {
 public:
  void good_frame(const PanelModel& m) override {
    if (!live_export_enabled()) return;
    const ControlInfo* dump = m.find(std::string_view("PANEL_HEXDUMP"));
    const ControlInfo* skipped = m.find(std::string_view("PANEL_SKIPPED"));
    std::string text;
    int nskip = 0;
    if (!dump || !skipped || !m.get_text(dump->id, &text) || !m.get_int(skipped->id, &nskip)) return;
    uint8_t frame[200];
    int n = 0;
    auto digit = [](char c) {
      return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    int high = -1;
    for (char c : text) {
      const int d = digit(c);
      if (d < 0) continue;  // the dump's line breaks
      if (high < 0) {
        high = d;
      } else if (n < static_cast<int>(sizeof frame)) {
        frame[n++] = static_cast<uint8_t>(high << 4 | d);
        high = -1;
      }
    }
    if (n == static_cast<int>(sizeof frame)) live_export_frame(frame, nskip);
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
