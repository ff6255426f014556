#include "session/annunciator.h"

namespace rt {

const char* tone_name(Tone tone) { return tone == Tone::Red ? "red" : "amber"; }

void Annunciator::play(Severity severity, double t_s) {
  sink_.play(severity == Severity::Error ? Tone::Red : Tone::Amber);
  played_ = true;
  last_play_s_ = t_s;
}

void Annunciator::update(const AlarmStatus& status, double t_s) {
  const bool new_raise = status.raises != heard_;
  heard_ = status.raises;
  if (status.unacknowledged == 0) {
    if (played_) sink_.stop();
    played_ = false;
    return;
  }
  if (muted_) return;
  if (new_raise) play(status.last_raise, t_s);
  else if (t_s - last_play_s_ >= REMIND_S) play(status.worst_unacknowledged, t_s);
}

void Annunciator::set_muted(bool muted) {
  if (muted && !muted_ && played_) {
    sink_.stop();
    played_ = false;
  }
  muted_ = muted;
}

}  // namespace rt
