#include "gui/station/alarm_sound.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <cstdint>

#include "session/session_log.h"

namespace rt {

namespace {

ToneSink* test_sink = nullptr;

constexpr int RATE_HZ = 22050;
constexpr double PI = 3.14159265358979323846;
constexpr double FADE_S = 0.01;  // no click at either end

// One beep: `hz` for `seconds` at `volume` (0..1), faded in and out.
void beep(std::vector<int16_t>* pcm, double hz, double seconds, double volume) {
  const int n = static_cast<int>(seconds * RATE_HZ);
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / RATE_HZ;
    const double fade = std::min({1.0, t / FADE_S, (seconds - t) / FADE_S});
    pcm->push_back(static_cast<int16_t>(32767.0 * volume * fade * std::sin(2.0 * PI * hz * t)));
  }
}

void silence(std::vector<int16_t>* pcm, double seconds) {
  pcm->insert(pcm->end(), static_cast<size_t>(seconds * RATE_HZ), 0);
}

void put_u32(QByteArray* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->append(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void put_u16(QByteArray* out, uint16_t v) {
  out->append(static_cast<char>(v & 0xFF));
  out->append(static_cast<char>(v >> 8));
}

}  // namespace

QByteArray tone_wav(Tone tone) {
  std::vector<int16_t> pcm;
  if (tone == Tone::Red) {
    beep(&pcm, 1046.5, 0.15, 0.7);  // C6, twice
    silence(&pcm, 0.08);
    beep(&pcm, 1046.5, 0.15, 0.7);
  } else {
    beep(&pcm, 659.3, 0.3, 0.35);  // E5, once and softer
  }
  // Some audio paths cut the end of a short sample: let them cut silence.
  silence(&pcm, 0.2);
  const uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
  QByteArray wav("RIFF");
  put_u32(&wav, 36 + bytes);
  wav.append("WAVEfmt ");
  put_u32(&wav, 16);
  put_u16(&wav, 1);  // PCM
  put_u16(&wav, 1);  // mono
  put_u32(&wav, RATE_HZ);
  put_u32(&wav, RATE_HZ * 2);
  put_u16(&wav, 2);
  put_u16(&wav, 16);
  wav.append("data");
  put_u32(&wav, bytes);
  for (int16_t s : pcm) put_u16(&wav, static_cast<uint16_t>(s));
  return wav;
}

void set_tone_sink_for_tests(ToneSink* sink) { test_sink = sink; }
ToneSink* tone_sink_for_tests() { return test_sink; }

AlarmSound::AlarmSound() = default;
AlarmSound::~AlarmSound() = default;

void AlarmSound::unavailable(const QString& why) {
  if (said_) return;
  said_ = true;
  log_warning("sound: " + why.toStdString() + ": alarms are shown but not heard");
}

void AlarmSound::open() {
  opened_ = true;
  if (QMediaDevices::defaultAudioOutput().isNull()) {
    unavailable(QStringLiteral("no audio output on this machine"));
    return;
  }
  dir_ = std::make_unique<QTemporaryDir>();
  auto make = [this](Tone tone, const char* name) -> std::unique_ptr<QSoundEffect> {
    const QString path = dir_->filePath(QLatin1String(name));
    QFile f(path);
    if (!dir_->isValid() || !f.open(QIODevice::WriteOnly) || f.write(tone_wav(tone)) < 0) {
      unavailable(QStringLiteral("cannot write the alarm tone %1").arg(path));
      return nullptr;
    }
    f.close();
    auto effect = std::make_unique<QSoundEffect>();
    QObject::connect(effect.get(), &QSoundEffect::statusChanged, effect.get(), [this, e = effect.get()] {
      if (e->status() == QSoundEffect::Error) unavailable(QStringLiteral("the audio output cannot play the alarm tone"));
    });
    effect->setSource(QUrl::fromLocalFile(path));
    return effect;
  };
  red_ = make(Tone::Red, "alarm_red.wav");
  amber_ = make(Tone::Amber, "alarm_amber.wav");
}

void AlarmSound::play(Tone tone) {
  if (!opened_) open();
  QSoundEffect* effect = tone == Tone::Red ? red_.get() : amber_.get();
  if (!effect) return;
  stop();
  effect->play();
}

void AlarmSound::stop() {
  for (QSoundEffect* e : {red_.get(), amber_.get()})
    if (e && e->isPlaying()) e->stop();
}

}  // namespace rt
