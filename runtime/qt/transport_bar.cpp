#include "runtime/qt/transport_bar.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QToolBar>

#include <algorithm>
#include <cstdint>

#include "runtime/transport.h"

namespace rt {

namespace {

constexpr qint64 POSITION_REDRAW_MS = 500;
constexpr int POSITION_STEPS = 1000;  // resolution of the position bar

// The playback speeds offered; 0 plays as fast as the file can be read.
const double SPEEDS[] = {1.0, 2.0, 5.0, 10.0, 0.0};

QString speed_label(double speed) {
  return speed <= 0.0 ? QStringLiteral("as fast as possible")
                      : QLocale::c().toString(speed, 'g', 6) + QStringLiteral("x");
}

QString byte_count(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

}  // namespace

TransportBar::TransportBar(QToolBar* bar) : position_drawn_ms_(-POSITION_REDRAW_MS) {
  pause_ = bar->addAction(QStringLiteral("Pause"));
  pause_->setObjectName(QStringLiteral("transportPause"));
  pause_->setCheckable(true);
  pause_->setToolTip(QStringLiteral("Hold playback before the next frame is read; click again to resume"));
  QObject::connect(pause_, &QAction::toggled, pause_, [this](bool paused) {
    transport_set_paused(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  });
  playback_actions_ << pause_;

  auto* speed_label_widget = new QLabel(QStringLiteral(" Speed "));
  playback_actions_ << bar->addWidget(speed_label_widget);
  speed_ = new QComboBox;
  speed_->setObjectName(QStringLiteral("transportSpeed"));
  speed_->setToolTip(QStringLiteral("Playback speed; a change applies from the next wait"));
  const double start_speed = transport_speed();
  bool listed = false;
  for (double v : SPEEDS) {
    speed_->addItem(speed_label(v), v);
    listed = listed || v == start_speed;
  }
  if (!listed) speed_->insertItem(0, speed_label(start_speed), start_speed);
  speed_->setCurrentIndex(speed_->findData(start_speed));
  QObject::connect(speed_, &QComboBox::currentIndexChanged, speed_,
                   [this](int index) { transport_set_speed(speed_->itemData(index).toDouble()); });
  playback_actions_ << bar->addWidget(speed_);

  position_ = new QProgressBar;
  position_->setObjectName(QStringLiteral("transportPosition"));
  position_->setRange(0, POSITION_STEPS);
  position_->setMinimumWidth(320);
  position_->setToolTip(QStringLiteral("Bytes of the recording read so far"));
  playback_actions_ << bar->addSeparator() << bar->addWidget(position_) << bar->addSeparator();
}

// Transport only for playback; the position as a share of the file.
void TransportBar::draw(qint64 now_ms, bool unthrottled) {
  const bool playback = transport_is_playback();
  for (QAction* a : playback_actions_) a->setVisible(playback);
  if (!playback) return;
  const Position p = transport_position();
  // The wide bar is costly to paint: move it twice a second, and at once
  // when the pause state changes or the input has run out.
  const bool paused_now = transport_paused();
  const qint64 now = now_ms;
  const bool due = unthrottled || now - position_drawn_ms_ >= POSITION_REDRAW_MS ||
                   paused_now != pause_->isChecked() || (p.total > 0 && p.bytes >= p.total);
  if (!due) return;
  position_drawn_ms_ = now;
  const int steps = p.total > 0 ? static_cast<int>(std::min<int64_t>(p.bytes, p.total) * POSITION_STEPS / p.total) : 0;
  position_->setValue(steps);
  const QString percent = QLocale::c().toString(p.total > 0 ? 100.0 * static_cast<double>(p.bytes) / static_cast<double>(p.total) : 0.0, 'f', 1);
  const bool paused = transport_paused();
  const QString where = p.total > 0 ? QStringLiteral("%1 of %2 bytes (%3 %)").arg(byte_count(p.bytes), byte_count(p.total), percent)
                                    : QStringLiteral("%1 bytes (size not known)").arg(byte_count(p.bytes));  // a pipe
  position_->setFormat(where + (paused ? QStringLiteral(" - PAUSED") : QString()));
  if (pause_->isChecked() != paused) {
    const QSignalBlocker block(pause_);
    pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  }
}

}  // namespace rt
