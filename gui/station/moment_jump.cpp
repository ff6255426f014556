#include "gui/station/moment_jump.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>

#include <atomic>
#include <cmath>

#include "history/pass.h"
#include "history/time_axis.h"
#include "history/timeline.h"
#include "replay/replay.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr int START_POLL_MS = 100;

std::atomic<double> review_start_s{-1.0};

// "2025-05-01T10:02:13.904", local time: what --at takes. Rounded up: a
// moment never reads as before itself (an alarm stamped with its frame
// would lead to the frame before).
QString at_text(double t_s) {
  const auto ms = static_cast<qint64>(std::ceil(t_s * 1000.0));
  return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

}  // namespace

void set_review_start(double t_s) { review_start_s.store(t_s); }

MomentJump::MomentJump(QMainWindow* window, std::function<void(const QString&)> say)
    : window_(window), say_(std::move(say)) {
  auto add = [&](const QString& text, const char* name, const QKeySequence& key, int direction) {
    auto* a = new QAction(text, window);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(key);
    a->setToolTip(text + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + QLatin1Char(')'));
    window->addAction(a);
    connect(a, &QAction::triggered, this, [this, direction] { step(direction); });
  };
  if (transport_is_playback()) {
    add(QStringLiteral("Next alarm, event or note"), "actionNextMark", QKeySequence(Qt::CTRL | Qt::Key_Right), +1);
    add(QStringLiteral("Previous alarm, event or note"), "actionPreviousMark", QKeySequence(Qt::CTRL | Qt::Key_Left),
        -1);
  }
  start_timer_.setInterval(START_POLL_MS);
  connect(&start_timer_, &QTimer::timeout, this, [this] { poll_start(); });
  const double at = review_start_s.load();
  if (at >= 0.0 && transport_is_playback()) start_at(at);
}

bool MomentJump::shown_time(double* t_s, bool* estimated) const {
  const ReplayView v = replay_view();
  if (!v.index || v.index->state() != RecordingIndex::State::Ready || v.current < 0 ||
      v.current >= v.index->frames())
    return false;
  const auto pass = playback_pass();
  return time_of_offset(pass.get(), v.path, v.index->frame(v.current).offset, t_s, estimated);
}

void MomentJump::go(double t_s, int64_t offset, const QString& what) {
  // The next and previous keys go on from the moment clicked, not from its
  // frame's time (a mark lies after the frame it shows: the key would find
  // the same mark again, and not move).
  stepped_frame_ = move(t_s, offset, what);
  stepped_t_ = t_s;
}

long MomentJump::move(double t_s, int64_t offset, const QString& what) {
  if (!transport_is_playback()) {
    open_review(t_s, what);
    return -1;
  }
  const ReplayView v = replay_view();
  if (!v.seekable) {
    say_(QStringLiteral("This playback reads a pipe: it cannot move to %1").arg(what));
    return -1;
  }
  if (!v.index || v.index->state() != RecordingIndex::State::Ready) {
    say_(QStringLiteral("The recording is still being indexed: %1 can be reached in a moment").arg(what));
    return -1;
  }
  const auto pass = playback_pass();
  // With the pass's frames, its time says which frame was on the panel
  // (an offset is the recording's size then, a frame's bytes may follow).
  if (pass && pass->frames && !pass->frames->frames.empty()) offset = -1;
  if (offset < 0 && !offset_of_time(pass.get(), v.path, t_s, &offset)) {
    say_(QStringLiteral("The recording's name gives no start time: %1 cannot be placed in it").arg(what));
    return -1;
  }
  const long frame = index_frame_at(*v.index, offset);
  replay_request_seek(frame);
  const QString text = QStringLiteral("Moved to frame %1 of %2: %3").arg(frame + 1).arg(v.index->frames()).arg(what);
  say_(text);
  log_info(text.toStdString());
  return frame;
}

void MomentJump::open_review(double t_s, const QString& what) {
  const std::string recording = transport_recording();
  if (recording.empty()) {
    say_(QStringLiteral("Not recording: there is no recording to review %1 in").arg(what));
    return;
  }
  const QString path = QFileInfo(QString::fromStdString(recording)).absoluteFilePath();
  qint64 pid = 0;
  const QStringList args{QStringLiteral("--at"), at_text(t_s), path};
  if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), args, QDir::currentPath(), &pid)) {
    const QString text = QStringLiteral("Review window not opened: cannot start %1").arg(QCoreApplication::applicationFilePath());
    say_(text);
    log_error(text.toStdString());
    return;
  }
  const QString text = QStringLiteral("Review window opened on %1 at %2 (%3; process %4); reception goes on here")
                           .arg(path, at_text(t_s), what)
                           .arg(pid);
  say_(text);
  log_info(text.toStdString());
}

void MomentJump::start_at(double t_s) {
  start_at_s_ = t_s;
  starting_ = true;
  transport_set_paused(true);
  start_timer_.start();
}

void MomentJump::poll_start() {
  if (!starting_) return;
  const ReplayView v = replay_view();
  if (!v.index) return;
  const auto state = v.index->state();
  if (state == RecordingIndex::State::Building) return;
  starting_ = false;
  start_timer_.stop();
  if (state != RecordingIndex::State::Ready) {
    say_(QStringLiteral("The review cannot move to %1: the recording has no frames to move in").arg(at_text(start_at_s_)));
    return;
  }
  go(start_at_s_, -1, QStringLiteral("the moment %1").arg(at_text(start_at_s_)));
}

void MomentJump::step(int direction) {
  const auto pass = playback_pass();
  if (!pass) {
    say_(QStringLiteral("No session record: this recording's alarms, events and notes are not known"));
    return;
  }
  double now = 0.0;
  if (!shown_time(&now)) {
    say_(QStringLiteral("No frame shown yet to go on from"));
    return;
  }
  // Still on the frame the last step moved to: go on from that mark, not
  // from the frame's own time (a mark lies after the frame it shows).
  if (replay_view().current == stepped_frame_) now = stepped_t_;
  const std::vector<TimelineMark> marks = pass_marks(*pass);
  const TimelineMark* m = next_mark(marks, now, direction);
  if (!m) {
    say_(direction > 0 ? QStringLiteral("No alarm, event or note after this frame")
                       : QStringLiteral("No alarm, event or note before this frame"));
    return;
  }
  stepped_frame_ = move(m->t_s, m->offset, QString::fromStdString(m->what));
  stepped_t_ = m->t_s;
}

}  // namespace rt
