// Stale values, visibly: when no good frame has come for a while (the link
// health says so), the panel's value displays turn grey and each plot is
// washed grey with the age of its data written across it; the next good
// frame clears both. Runs on the GUI thread.
#pragma once

#include <QObject>
#include <QString>

#include <vector>

class QLabel;
class QWidget;

namespace rt {

class StaleMarker : public QObject {
 public:
  // `displays`: the value displays (their text turns grey); `plots`: the
  // graphs and the strip chart (each gets an overlay). The widgets stay the
  // panel's; the overlays are their children.
  StaleMarker(std::vector<QWidget*> displays, std::vector<QWidget*> plots);

  // Marks or clears; `age_s` is the age of the last good frame. Cheap when
  // nothing shown changes (the age is shown in whole seconds).
  void draw(bool stale, double age_s);
  bool stale() const { return stale_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<QWidget*> displays_;
  std::vector<QLabel*> overlays_;  // one per plot, objectName "staleOverlay"
  bool stale_ = false;
  long long shown_age_s_ = -1;
};

}  // namespace rt
