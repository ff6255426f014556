// Where a click on a moment of the pass leads: an alarm row, a log line, an
// event mark or a point of a trend. In playback the playback moves to the
// frame shown at that moment (replay_request_seek: the panel true to it, as
// after any seek); live, a review window opens on the recording so far at
// that moment (a second vst_gse, "--at TIME RECORDING"), while reception
// goes on untouched in this one. The keys Ctrl+Right and Ctrl+Left
// ("actionNextMark", "actionPreviousMark") go to the next and the previous
// alarm, event or note of the pass. The moments are the pass's own times
// where the session record gives them, else estimated (history/timeline.h).
// A review started with --at pauses at its moment once the recording is
// indexed. GUI thread.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>

class QMainWindow;

namespace rt {

class MomentJump : public QObject {
 public:
  // Adds the next and previous actions to `window` (the Playback menu
  // places them); `say` shows the outcome in the status bar.
  MomentJump(QMainWindow* window, std::function<void(const QString&)> say);

  // Goes to the moment `t_s` (seconds since 1970), whose byte in the
  // recording is `offset` when known (-1: from the time). `what` names it.
  // The next and previous keys then go on from that moment.
  void go(double t_s, int64_t offset, const QString& what);
  // The pass's time of the frame the panel shows now (playback); false when
  // none is shown yet or it cannot be told.
  bool shown_time(double* t_s, bool* estimated = nullptr) const;
  // The review's start (--at): playback pauses, and moves to `t_s` once its
  // recording is indexed.
  void start_at(double t_s);
  // Steps to the next (+1) or previous (-1) mark of the pass.
  void step(int direction);

 private:
  long move(double t_s, int64_t offset, const QString& what);  // the frame sought, or -1
  void open_review(double t_s, const QString& what);
  void poll_start();

  QMainWindow* window_;
  std::function<void(const QString&)> say_;
  double start_at_s_ = 0.0;
  bool starting_ = false;
  long stepped_frame_ = -1;  // the frame the last step or click moved to, and its moment
  double stepped_t_ = 0.0;
  QTimer start_timer_;
};

// The program start's request for the window: the review starts at `t_s`
// (--at). Before the window is made.
void set_review_start(double t_s);

}  // namespace rt
