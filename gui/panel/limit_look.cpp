#include "gui/panel/limit_look.h"

#include <QLabel>
#include <QStatusBar>
#include <QWidget>

#include "gui/panel/display_look.h"
#include "present/limits.h"
#include "runtime/ui.h"
#include "gui/theme.h"

namespace rt {

LimitLook::LimitLook(QStatusBar* status) {
  count_ = new QLabel;
  count_->setObjectName(QStringLiteral("limitCount"));
  count_->setContentsMargins(6, 0, 6, 0);
  count_->setToolTip(QStringLiteral(
      "Housekeeping displays outside their caution range (amber) or alarm range (red); "
      "each display's tooltip gives its ranges"));
  status->addPermanentWidget(count_);
}

void LimitLook::add(QWidget* display, const Limits& limits, const DisplayFormat& format) {
  auto it = displays_.find(display);
  Shown& shown = it != displays_.end() ? it->second : displays_[display];
  if (it == displays_.end()) shown.base = display->toolTip();
  const QString ranges = QString::fromStdString(describe_limits(limits, format));
  shown.tooltip = shown.base.isEmpty() ? QStringLiteral("Limits: ") + ranges
                                       : shown.base + QStringLiteral("\nLimits: ") + ranges;
  paint(display, shown);
}

void LimitLook::draw(QWidget* display, LimitLevel level) {
  auto it = displays_.find(display);
  if (it == displays_.end() || it->second.level == level) return;
  it->second.level = level;
  paint(display, it->second);
}

void LimitLook::paint(QWidget* display, const Shown& shown) {
  // Composed with the stale marking, which may be on now (display_look.h).
  show_limit_level(display, shown.level);
  switch (shown.level) {
    case LimitLevel::Normal: display->setToolTip(shown.tooltip); break;
    case LimitLevel::Caution: display->setToolTip(shown.tooltip + QStringLiteral("\nNow: CAUTION")); break;
    case LimitLevel::Alarm: display->setToolTip(shown.tooltip + QStringLiteral("\nNow: ALARM")); break;
  }
}

void LimitLook::draw_count(int out_of_limits, int in_alarm) {
  if (out_of_limits == out_ && in_alarm == alarm_) return;
  out_ = out_of_limits;
  alarm_ = in_alarm;
  paint_count();
}

void LimitLook::paint_count() {
  const LimitColours c = limit_colours();
  if (out_ <= 0) {
    count_->setText(QStringLiteral("Out of limits: none"));
    count_->setStyleSheet(QString());
    return;
  }
  count_->setText(alarm_ > 0 ? QStringLiteral("Out of limits: %1 (%2 in alarm)").arg(out_).arg(alarm_)
                              : QStringLiteral("Out of limits: %1").arg(out_));
  const bool alarm = alarm_ > 0;
  count_->setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; font-weight: bold; padding: 1px 8px; }")
                            .arg((alarm ? c.alarm_background : c.caution_background).name(),
                                 (alarm ? c.alarm_text : c.caution_text).name()));
}

void LimitLook::restyle() {
  for (auto& [display, shown] : displays_) restyle_display(display);
  if (out_ >= 0) paint_count();
}

bool done_look_on(const ControlState& s) {
  auto it = s.attrs.find(ATTR_DONE_LOOK);
  return it != s.attrs.end() && it->second == DONE_LOOK_ON;
}

void show_done_look(QWidget* control, bool done, const QString& tooltip) {
  const QString cls = QString::fromLatin1(control->metaObject()->className());
  control->setStyleSheet(done ? cls + QStringLiteral(" { background-color: #ffbf40; color: #3a2500; }") : QString());
  control->setToolTip(done ? QStringLiteral("The count ran out: accumulation has stopped. Enter a new count and "
                                            "switch Accumulate on to start again.")
                           : tooltip);
}

}  // namespace rt
