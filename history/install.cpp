#include "history/install.h"

#include <algorithm>
#include <cstdint>
#include <string>

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
// the reader has just taken. Asked at every frame that carries a value out
// of limits, so the recording's name is copied once per source (per
// thread), not at every call.
bool playback_time(double* t_s, bool* estimated) {
  const int64_t at = std::max<int64_t>(0, transport_input_bytes() - FRAME_BYTES);
  const auto pass = playback_pass();
  if (pass && pass->time_at(at, t_s, estimated)) return true;
  thread_local uint64_t source_serial = ~uint64_t{0};
  thread_local std::string source;
  if (const uint64_t serial = transport_source_serial(); serial != source_serial) {
    source = transport_source();
    source_serial = serial;
  }
  return time_of_offset(nullptr, source, at, t_s, estimated);
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
