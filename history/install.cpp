#include "history/install.h"

#include "history/moment.h"
#include "history/pass.h"
#include "history/reception.h"
#include "history/timeline.h"
#include "runtime/hooks.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr int64_t FRAME_BYTES = 200;

// A playback reads the pass of its recording when the panel starts (Open
// recording reads the next one's: moment.cpp).
class PassStart : public FrameObserver {
 public:
  void panel_loaded(const PanelModel&) override {
    if (transport_is_playback()) pass_follow(transport_source());
  }
};

// The pass's time of the frame the panel is showing: the one whose bytes
// the reader has just taken.
bool playback_time(double* t_s, bool* estimated) {
  const int64_t at = transport_position().bytes - FRAME_BYTES;
  const auto pass = playback_pass();
  return time_of_offset(pass.get(), transport_source(), at < 0 ? 0 : at, t_s, estimated);
}

}  // namespace

void history_install(bool trends) {
  static PassStart pass_start;
  if (trends) add_frame_observer(&reception_clock());
  add_frame_observer(&pass_start);
  moment_install();
  watch_set_playback_clock(playback_time);
}

}  // namespace rt
