// The playback's position bar: the frame shown, of the recording's frames,
// and the instrument's elapsed time there (where the recording has frames
// of kind 1). A click or a drag seeks to the frame under the pointer, once
// the recording's index is ready. Before that, and for a pipe or standard
// input (which can be read only once), it shows the bytes read, and its
// tooltip says why seeking is not offered. GUI thread.
#pragma once

#include <QProgressBar>

#include <memory>

namespace rt {

class RecordingIndex;
struct ReplayView;
struct Position;

class PositionBar : public QProgressBar {
 public:
  explicit PositionBar(QWidget* parent = nullptr);

  // Shows where playback stands.
  void draw(const ReplayView& view, const Position& position, bool paused);
  // The frame under `x` (widget coordinates), or -1 when seeking is off.
  long frame_at(int x) const;
  bool seekable() const { return frames_ > 0; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void show_target(long frame);

  std::shared_ptr<const RecordingIndex> index_;
  long frames_ = 0;
  long target_ = -1;  // the frame under the pointer while the button is down
};

}  // namespace rt
