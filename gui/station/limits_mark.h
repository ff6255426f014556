// A refused limits file, in sight: while the user limits file is refused
// (runtime/user_limits.h; the panel file's limits are in force instead) the
// health bar carries a red "LIMITS FILE REFUSED" (objectName
// "limitsRefusedMark"), its tooltip giving the file and the reason; a click
// opens the limits dialog. It goes once a change made there has written a
// new file. GUI thread only.
#pragma once

class QAction;
class QToolButton;
class QWidget;

namespace rt {

class LimitsMark {
 public:
  // `open_dialog`: Limits... (the mark's click).
  explicit LimitsMark(QAction* open_dialog);
  QWidget* widget() const;
  // Follows the refusal (cheap: one lock).
  void draw();

 private:
  QToolButton* mark_ = nullptr;
};

}  // namespace rt
