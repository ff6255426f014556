#include "gui/trends/remote_source.h"

#include "history/reception.h"
#include "publish/viewer.h"
#include "session/link_health.h"

namespace rt {

namespace {

constexpr double LINK_FRAMES_PER_S = 9.6;  // 1920 bytes/s in 200-byte frames

}  // namespace

void install_remote_view_trends(bool recording) {
  if (!recording) reception_clock().set_tail_frames(REMOTE_VIEW_FRAMES);
  viewer_set_frame_listener([](const uint8_t* bytes, double t_s) { reception_clock().add(bytes, t_s); });
}

bool remote_view_source(TrendSource* out) {
  if (!viewer_active()) return false;
  const ViewerState v = viewer_state();
  *out = TrendSource{};
  out->rules = FrameRules::Playback;  // plain frames back to back
  out->live = true;                   // times: when the station gave each frame
  if (!v.recording.empty()) {
    out->path = v.recording;
    out->from_offset = v.recording_from;
  } else {
    out->path = "this remote view";
    out->memory = true;
  }
  return true;
}

QString remote_view_note(const TrendSource& source, long frames) {
  if (!source.memory) return QString();
  return QStringLiteral("%1 frames received, kept in memory (the last %2, about %3; --record FILE keeps all)")
      .arg(frames)
      .arg(REMOTE_VIEW_FRAMES)
      .arg(QString::fromStdString(duration_words(static_cast<double>(REMOTE_VIEW_FRAMES) / LINK_FRAMES_PER_S)));
}

}  // namespace rt
