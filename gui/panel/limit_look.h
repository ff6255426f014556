// How the window shows the limits of the housekeeping displays (levels come
// from the model, present/limits.h): a display out of its caution range turns
// amber, out of its alarm range red, and its tooltip gives its ranges and
// level; the count of displays out of limits stands in the status bar (the
// link-health bar will take it over). Colours follow the theme. GUI thread
// only.
#pragma once

#include <QString>

#include <map>

#include "runtime/model.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace rt {

class LimitLook {
 public:
  // Adds the count to `status` (which owns it).
  explicit LimitLook(QStatusBar* status);

  // A display that takes limits: its tooltip gains its ranges. Again with
  // new limits (the operator changed them): the tooltip follows.
  void add(QWidget* display, const Limits& limits, const DisplayFormat& format);
  // Shows `level` on a display added before (nothing when unchanged).
  void draw(QWidget* display, LimitLevel level);
  // Shows the count of displays out of limits and of those in alarm.
  void draw_count(int out_of_limits, int in_alarm);
  // Draws everything again in the colours of the current theme.
  void restyle();

 private:
  struct Shown {
    QString base;     // the panel file's
    QString tooltip;  // with the ranges
    LimitLevel level = LimitLevel::Normal;
  };
  void paint(QWidget* display, const Shown& shown);
  void paint_count();

  QLabel* count_ = nullptr;
  int out_ = -1, alarm_ = -1;
  std::map<QWidget*, Shown> displays_;
};

// A control the system marked finished (ATTR_DONE_LOOK = DONE_LOOK_ON, the
// Count whose frames ran out): amber, with a tooltip saying why and what to
// do; `done` false gives it back `tooltip` (the panel file's). It never
// disables the control: the operator can always enter a new count.
bool done_look_on(const ControlState& s);
void show_done_look(QWidget* control, bool done, const QString& tooltip);

}  // namespace rt
