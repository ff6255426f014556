// The alarm tones on the sound card, with Qt Multimedia's QSoundEffect: a
// red alarm two short bright beeps, an amber one a single softer, lower
// tone (both made in code as WAV files in a temporary folder). Nothing is
// opened until the first tone. A machine without an audio output (or one
// whose output fails) is said once in the session log; the tones are then
// dropped and nothing ever waits for the sound. GUI thread only.
#pragma once

#include <QByteArray>

#include <memory>

#include "session/annunciator.h"

class QSoundEffect;
class QTemporaryDir;

namespace rt {

class AlarmSound : public ToneSink {
 public:
  AlarmSound();
  ~AlarmSound() override;
  void play(Tone tone) override;
  void stop() override;

 private:
  void open();
  void unavailable(const QString& why);

  bool opened_ = false;
  bool said_ = false;  // the missing sound has been logged
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<QSoundEffect> red_, amber_;
};

// The tone as a 16-bit mono PCM WAV file.
QByteArray tone_wav(Tone tone);

// For tests: every window's tones go to `sink` instead of the sound card
// (nullptr: the sound card again).
void set_tone_sink_for_tests(ToneSink* sink);
ToneSink* tone_sink_for_tests();

}  // namespace rt
