// The playback transport on the window's toolbar: Pause/Resume, a frame
// back and forward while paused, the speed, the position bar (position_bar.h:
// the frame shown, click or drag to seek), "From start" and Loop. It sets
// and shows the run-time's transport (runtime/transport.h, replay/replay.h)
// and raises no panel event. Runs on the GUI thread.
#pragma once

#include <QList>
#include <QtGlobal>

class QAction;
class QComboBox;
class QToolBar;

namespace rt {

class PositionBar;

class TransportBar {
 public:
  // Appends the transport's controls to `bar` (which owns them). The speed
  // offered first is the transport's current one.
  explicit TransportBar(QToolBar* bar);

  // Shows the transport only in playback (and link replay; not in a remote
  // view), with the frame
  // shown and the pause state; the step actions only while paused. The
  // position moves at a bounded rate at `now_ms` (a monotonic clock), at
  // once when the pause state changes or the input has run out;
  // `unthrottled` moves it regardless.
  void draw(qint64 now_ms, bool unthrottled);

 private:
  QAction* pause_ = nullptr;
  QAction* step_back_ = nullptr;
  QAction* step_forward_ = nullptr;
  QAction* restart_ = nullptr;
  QAction* loop_ = nullptr;
  QComboBox* speed_ = nullptr;
  PositionBar* position_ = nullptr;
  QList<QAction*> playback_actions_;  // hidden in live mode
  qint64 position_drawn_ms_;
};

}  // namespace rt
