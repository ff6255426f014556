#include "gui/panel/command_keys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QWidget>

#include "session/session_log.h"

namespace rt {

const char* const SENDING_CONTROLS[] = {"PANEL_CMD", nullptr};

namespace {

bool presses(int key) {
  return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Select;
}

}  // namespace

CommandKeys::CommandKeys(QWidget* form, std::function<void(const QString&)> say) : say_(std::move(say)) {
  for (const char* const* name = SENDING_CONTROLS; *name; ++name)
    if (auto* control = form->findChild<QAbstractButton*>(QString::fromLatin1(*name)))
      control->installEventFilter(this);
}

bool CommandKeys::eventFilter(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::KeyPress;
  if ((press || event->type() == QEvent::KeyRelease) && presses(static_cast<QKeyEvent*>(event)->key())) {
    if (press && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
      const QString text = QStringLiteral("%1 not switched by a key: it sends to the instrument, click it to send")
                               .arg(static_cast<QAbstractButton*>(watched)->text());
      log_info("Operator: " + text.toStdString());
      if (say_) say_(text);
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rt
