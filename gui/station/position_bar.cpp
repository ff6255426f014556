#include "gui/station/position_bar.h"

#include <QLocale>
#include <QMouseEvent>

#include <algorithm>
#include <cstdint>

#include "history/pass.h"
#include "history/time_axis.h"
#include "history/timeline.h"
#include "replay/recording_index.h"
#include "replay/replay.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr int BYTE_STEPS = 1000;  // resolution of the bar while it counts bytes

QString number(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

// "frame 12 of 3,456 · 0/00:01:05.3 · 10:02:13.904": the instrument's
// elapsed time and the pass's time of the frame (estimated: "~10:02:13").
QString frame_label(const RecordingIndex& index, long n) {
  QString text = QStringLiteral("frame %1 of %2").arg(number(n + 1), number(index.frames()));
  const std::string elapsed = elapsed_text(index.frame(n).elapsed_ms);
  if (!elapsed.empty()) text += QStringLiteral(" \u00b7 ") + QString::fromStdString(elapsed);
  double t = 0.0;
  bool estimated = true;
  const auto pass = playback_pass();
  if (time_of_offset(pass.get(), index.path(), index.frame(n).offset, &t, &estimated))
    text += QStringLiteral(" \u00b7 ") +
            (estimated ? QStringLiteral("~") + QString::fromStdString(clock_text(t, 0))
                       : QString::fromStdString(clock_text(t, 3)));
  return text;
}

QString byte_label(const Position& p) {
  if (p.total <= 0) return QStringLiteral("%1 bytes (size not known)").arg(number(p.bytes));  // a pipe
  const QString percent = QLocale::c().toString(100.0 * static_cast<double>(p.bytes) / static_cast<double>(p.total), 'f', 1);
  return QStringLiteral("%1 of %2 bytes (%3 %)").arg(number(p.bytes), number(p.total), percent);
}

}  // namespace

PositionBar::PositionBar(QWidget* parent) : QProgressBar(parent) {
  setObjectName(QStringLiteral("transportPosition"));
  setRange(0, BYTE_STEPS);
  setMinimumWidth(320);
  setTextVisible(true);
}

void PositionBar::draw(const ReplayView& view, const Position& p, bool paused) {
  index_ = view.index;
  using State = RecordingIndex::State;
  const State state = index_ ? index_->state() : State::Failed;
  const long frames = state == State::Ready ? index_->frames() : 0;
  if (frames != frames_) {
    frames_ = frames;
    setCursor(frames_ > 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
  }
  QString text;
  QString tip;
  if (frames_ > 0) {
    if (maximum() != frames_) setRange(0, static_cast<int>(frames_));
    const long shown = target_ >= 0 ? target_ : view.current;
    setValue(static_cast<int>(shown + 1));
    text = shown >= 0 ? frame_label(*index_, shown) : QStringLiteral("no frame shown yet, %1 frames").arg(number(frames_));
    if (target_ >= 0) text = QStringLiteral("seek to ") + text;
    tip = QStringLiteral("Frame shown, of the frames in the recording, the instrument's elapsed time and the "
                         "pass's time of the frame (from its session record; ~ estimated from the recording); "
                         "click or drag to go to another frame");
  } else {
    if (maximum() != BYTE_STEPS) setRange(0, BYTE_STEPS);
    setValue(p.total > 0 ? static_cast<int>(std::min(p.bytes, p.total) * BYTE_STEPS / p.total) : 0);
    text = byte_label(p);
    if (!view.seekable) {
      tip = QStringLiteral("Bytes read so far. Seeking is not offered for a pipe or standard input: "
                           "it can be read only once");
    } else if (state == State::Building) {
      text += QStringLiteral(" - indexing %1 %").arg(static_cast<int>(100.0 * index_->progress()));
      tip = QStringLiteral("Bytes read so far; the recording's frames are being indexed for seeking");
    } else if (state == State::NoFrames) {
      text += QStringLiteral(" - no frames found");
      tip = QStringLiteral("No frames found in this file: seeking is off");
    } else {
      text += QStringLiteral(" - not indexed");
      tip = QStringLiteral("The recording could not be indexed (%1): seeking is off")
                .arg(QString::fromStdString(index_ ? index_->error() : std::string("no index")));
    }
  }
  if (paused) text += QStringLiteral(" - PAUSED");
  if (format() != text) setFormat(text);
  if (toolTip() != tip) setToolTip(tip);
}

long PositionBar::frame_at(int x) const {
  if (frames_ <= 0 || width() <= 0) return -1;
  const long n = static_cast<long>(static_cast<double>(x) / width() * static_cast<double>(frames_));
  return std::clamp(n, 0L, frames_ - 1);
}

void PositionBar::show_target(long frame) {
  target_ = frame;
  if (frame < 0 || !index_) return;
  setValue(static_cast<int>(frame + 1));
  setFormat(QStringLiteral("seek to ") + frame_label(*index_, frame));
}

void PositionBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || frames_ <= 0) return QProgressBar::mousePressEvent(event);
  show_target(frame_at(event->position().toPoint().x()));
  event->accept();
}

void PositionBar::mouseMoveEvent(QMouseEvent* event) {
  if (target_ < 0) return QProgressBar::mouseMoveEvent(event);
  show_target(frame_at(event->position().toPoint().x()));
  event->accept();
}

void PositionBar::mouseReleaseEvent(QMouseEvent* event) {
  if (target_ < 0 || event->button() != Qt::LeftButton) return QProgressBar::mouseReleaseEvent(event);
  const long frame = frame_at(event->position().toPoint().x());
  target_ = -1;
  if (frame >= 0) replay_request_seek(frame);
  event->accept();
}

}  // namespace rt
