#include "gui/station/record_mark.h"

#include <QLabel>
#include <QString>

#include "record/recorder.h"

namespace rt {

RecordMark::RecordMark() : label_(new QLabel) {
  label_->setObjectName(QStringLiteral("healthRecord"));
  label_->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: #ffffff; font-weight: bold; "
                                       "padding: 2px 8px; border-radius: 3px; }"));
  label_->setText(QStringLiteral("RECORD FAILED"));
  label_->setVisible(false);
}

QWidget* RecordMark::widget() const { return label_; }

void RecordMark::draw() {
  const RecordState s = record_state();
  const bool failed = !s.failure.empty();
  if (failed) {
    const QString tip = QStringLiteral("The session record %1 cannot be written: %2.\nThe recording goes on; its "
                                       "times, events and notes are in the log beside it.")
                            .arg(QString::fromStdString(s.path), QString::fromStdString(s.failure));
    if (label_->toolTip() != tip) label_->setToolTip(tip);
  }
  if (label_->isVisible() != failed) label_->setVisible(failed);
}

}  // namespace rt
