// The playback transport on the window's toolbar: Pause/Resume, the speed
// and a bar showing how much of the recording has been read. It sets and
// shows the run-time's transport (runtime/transport.h) and raises no panel
// event. Runs on the GUI thread.
#pragma once

#include <QList>
#include <QtGlobal>

class QAction;
class QComboBox;
class QProgressBar;
class QToolBar;

namespace rt {

class TransportBar {
 public:
  // Appends the transport's controls to `bar` (which owns them). The speed
  // offered first is the transport's current one.
  explicit TransportBar(QToolBar* bar);

  // Shows the transport only in playback, with the position read so far and
  // the pause state. The position moves at a bounded rate at `now_ms` (a
  // monotonic clock), at once when the pause state changes or the input has
  // run out; `unthrottled` moves it regardless.
  void draw(qint64 now_ms, bool unthrottled);

 private:
  QAction* pause_ = nullptr;
  QComboBox* speed_ = nullptr;
  QProgressBar* position_ = nullptr;
  QList<QAction*> playback_actions_;  // hidden in live mode
  qint64 position_drawn_ms_;
};

}  // namespace rt
