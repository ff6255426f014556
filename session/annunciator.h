// What the operator hears of the alarm list (alarms.h): a new red alarm
// sounds a short tone, a new amber one a softer tone. While any alarm waits
// for acknowledgement the tone of the worst of them comes again every
// REMIND_S; once all are acknowledged the sound stops. Muted, nothing
// sounds (a tone under way stops). Qt-free, on the caller's clock (seconds):
// the window feeds it the list's status and gives it the sink that plays the
// tones (the sound card, or a test's recorder).
#pragma once

#include <cstdint>
#include <limits>

#include "session/alarms.h"

namespace rt {

enum class Tone { Amber, Red };
const char* tone_name(Tone tone);  // "amber", "red"

// Plays the tones. Neither call may block.
class ToneSink {
 public:
  virtual ~ToneSink() = default;
  virtual void play(Tone tone) = 0;
  virtual void stop() = 0;
};

class Annunciator {
 public:
  // 15 s: often enough that an operator coming back to the room hears it
  // within a few breaths, seldom enough not to drown a conversation.
  static constexpr double REMIND_S = 15.0;

  explicit Annunciator(ToneSink& sink) : sink_(sink) {}

  // The alarm list's status at `t_s`.
  void update(const AlarmStatus& status, double t_s);
  void set_muted(bool muted);
  bool muted() const { return muted_; }

 private:
  void play(Severity severity, double t_s);

  ToneSink& sink_;
  bool muted_ = false;
  uint64_t heard_ = 0;      // raises already sounded (or passed over)
  bool played_ = false;     // a tone since the last stop
  double last_play_s_ = -std::numeric_limits<double>::infinity();
};

}  // namespace rt
