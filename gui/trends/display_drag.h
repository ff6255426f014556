// Drag a display of the panel onto the trends: each of the panel's value
// displays becomes a drag source of the values it shows (history/values.h),
// as the MIME type TREND_MIME. A press and a move past the platform's drag
// distance starts the drag; a plain click still selects the text. GUI
// thread.
#pragma once

#include <QObject>
#include <QPoint>

class QWidget;

namespace rt {

class PanelModel;

class DisplayDrag : public QObject {
 public:
  // Makes the value displays of the panel form `form` draggable.
  DisplayDrag(QWidget* form, const PanelModel& model);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPoint pressed_at_;
  QObject* pressed_ = nullptr;
};

}  // namespace rt
