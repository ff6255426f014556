#include "gui/station/transport_bar.h"

#include <QAction>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QSignalBlocker>
#include <QToolBar>

#include "gui/station/position_bar.h"
#include "publish/viewer.h"
#include "replay/recording_index.h"
#include "replay/replay.h"

#include <algorithm>
#include <cstdint>

#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr qint64 POSITION_REDRAW_MS = 500;

// The playback speeds offered; 0 plays as fast as the file can be read.
const double SPEEDS[] = {1.0, 2.0, 5.0, 10.0, 0.0};

QString speed_label(double speed) {
  return speed <= 0.0 ? QStringLiteral("as fast as possible")
                      : QLocale::c().toString(speed, 'g', 6) + QStringLiteral("x");
}

QAction* add_action(QToolBar* bar, const QString& text, const char* name, const QKeySequence& key,
                    const QString& tip) {
  QAction* a = bar->addAction(text);
  a->setObjectName(QString::fromLatin1(name));
  if (!key.isEmpty()) a->setShortcut(key);
  a->setToolTip(tip);
  return a;
}

void set_enabled(QAction* a, bool on) {
  if (a->isEnabled() != on) a->setEnabled(on);
}

}  // namespace

TransportBar::TransportBar(QToolBar* bar) : position_drawn_ms_(-POSITION_REDRAW_MS) {
  pause_ = add_action(bar, QStringLiteral("Pause"), "transportPause", QKeySequence(),
                      QStringLiteral("Hold playback before the next frame is read; click again to resume"));
  pause_->setCheckable(true);
  QObject::connect(pause_, &QAction::toggled, pause_, [this](bool paused) {
    transport_set_paused(paused);
    log_info(paused ? "operator: playback paused" : "operator: playback resumed");
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  });
  step_back_ = add_action(bar, QStringLiteral("\u25c0 Frame"), "actionStepBack", QKeySequence(Qt::Key_Left),
                          QStringLiteral("Paused: show the frame before this one again"));
  QObject::connect(step_back_, &QAction::triggered, step_back_, [] { replay_request_step(-1); });
  step_forward_ = add_action(bar, QStringLiteral("Frame \u25b6"), "actionStepForward", QKeySequence(Qt::Key_Right),
                             QStringLiteral("Paused: read the next frame (a link replay: the next frame attempt, "
                                            "good or failed)"));
  QObject::connect(step_forward_, &QAction::triggered, step_forward_, [] { replay_request_step(+1); });
  playback_actions_ << pause_ << step_back_ << step_forward_;

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
                   [this](int index) {
                     transport_set_speed(speed_->itemData(index).toDouble());
                     log_info("operator: playback speed " + speed_->itemText(index).toStdString());
                   });
  playback_actions_ << bar->addWidget(speed_);

  position_ = new PositionBar;
  playback_actions_ << bar->addSeparator() << bar->addWidget(position_) << bar->addSeparator();

  restart_ = add_action(bar, QStringLiteral("From start"), "transportRestart", QKeySequence(Qt::Key_Home),
                        QStringLiteral("Play the recording again from its beginning"));
  QObject::connect(restart_, &QAction::triggered, restart_, [] { replay_request_restart(); });
  loop_ = add_action(bar, QStringLiteral("Loop"), "transportLoop", QKeySequence(),
                     QStringLiteral("At the end of the recording, play it again from the beginning"));
  loop_->setCheckable(true);
  loop_->setChecked(replay_loop());
  QObject::connect(loop_, &QAction::toggled, loop_, [](bool on) { replay_set_loop(on); });
  playback_actions_ << restart_ << loop_;
}

// Transport only for playback; the position as the frame shown. A remote
// view has none: it shows the station's frames as they come (hidden and
// disabled, its keys do nothing either).
void TransportBar::draw(qint64 now_ms, bool unthrottled) {
  const bool remote = viewer_active();
  const bool playback = transport_is_playback() && !remote;
  for (QAction* a : playback_actions_) {
    if (a->isVisible() != playback) a->setVisible(playback);
    if (remote && a->isEnabled()) a->setEnabled(false);
  }
  if (!playback) return;
  const bool paused = transport_paused();
  const ReplayView view = replay_view();
  const bool indexed = view.index && view.index->state() == RecordingIndex::State::Ready;
  set_enabled(step_forward_, paused && view.attached);
  set_enabled(step_back_, paused && indexed && view.current > 0);
  set_enabled(restart_, view.seekable);
  set_enabled(loop_, view.seekable);
  const Position p = transport_position();
  // The wide bar is costly to paint: move it twice a second, and at once
  // when the pause state changes or the input has run out.
  const bool due = unthrottled || now_ms - position_drawn_ms_ >= POSITION_REDRAW_MS ||
                   paused != pause_->isChecked() || (p.total > 0 && p.bytes >= p.total);
  if (!due) return;
  position_drawn_ms_ = now_ms;
  position_->draw(view, p, paused);
  if (pause_->isChecked() != paused) {
    const QSignalBlocker block(pause_);
    pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  }
  if (loop_->isChecked() != replay_loop()) {
    const QSignalBlocker block(loop_);
    loop_->setChecked(replay_loop());
  }
}

}  // namespace rt
