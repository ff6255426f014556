#include "gui/station/limits_mark.h"

#include <QAction>
#include <QString>
#include <QToolButton>

#include "runtime/user_limits.h"

namespace rt {

LimitsMark::LimitsMark(QAction* open_dialog) {
  mark_ = new QToolButton;
  mark_->setObjectName(QStringLiteral("limitsRefusedMark"));
  mark_->setText(QStringLiteral("LIMITS FILE REFUSED"));
  // As NOT RECORDING: the colour of something the operator must act on.
  mark_->setStyleSheet(QStringLiteral("QToolButton { background: #c00000; color: #ffffff; font-weight: bold; "
                                      "padding: 2px 10px; border-radius: 3px; }"));
  mark_->setVisible(false);
  QObject::connect(mark_, &QToolButton::clicked, open_dialog, &QAction::trigger);
  draw();
}

QWidget* LimitsMark::widget() const { return mark_; }

void LimitsMark::draw() {
  const std::string refusal = user_limits_refusal();
  if (mark_->isHidden() != refusal.empty()) mark_->setVisible(!refusal.empty());
  if (refusal.empty()) return;
  const QString tip = QStringLiteral("The limits file %1 was refused (%2): the panel file's limits are in force. "
                                     "Click to open the limits; a change there keeps the file as .refused and "
                                     "writes a new one.")
                          .arg(QString::fromStdString(user_limits_file()), QString::fromStdString(refusal));
  if (mark_->toolTip() != tip) mark_->setToolTip(tip);
}

}  // namespace rt
