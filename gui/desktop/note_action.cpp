#include "gui/desktop/note_action.h"

#include <QAction>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/desktop/dialogs.h"
#include "runtime/session_watch.h"

namespace rt {

namespace {

void ask_note(QMainWindow* frame, const std::function<void(const QString&)>& say) {
  QDialog dialog(frame);
  dialog.setObjectName(QStringLiteral("noteDialog"));
  dialog.setWindowTitle(QStringLiteral("Note on the session"));
  auto* column = new QVBoxLayout(&dialog);
  column->addWidget(new QLabel(QStringLiteral("A note on the session, at the moment it is given (in the log, the "
                                              "session record, the trends and the summary):")));
  auto* text = new QLineEdit;
  text->setObjectName(QStringLiteral("noteText"));
  text->setMaxLength(static_cast<int>(NOTE_MAX_CHARS));
  text->setPlaceholderText(QStringLiteral("balloon cut-down commanded here"));
  text->setMinimumWidth(420);
  column->addWidget(text);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Note"));
  column->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  if (!run_dialog(&dialog, false)) return;
  const std::string kept = watch_note(text->text().toStdString(), EventSource::Operator);
  const QString at = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
  if (kept.empty()) say(QStringLiteral("No note: the text was empty"));
  else say(QStringLiteral("Note at %1: %2").arg(at, QString::fromStdString(kept)));
}

}  // namespace

void add_note_action(QMainWindow* frame, std::function<void(const QString&)> say) {
  auto* action = new QAction(QStringLiteral("&Note on the session..."), frame);
  action->setObjectName(QStringLiteral("actionNote"));
  action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  action->setToolTip(QStringLiteral("Put a timed note on the session (Ctrl+N)"));
  frame->addAction(action);
  QObject::connect(action, &QAction::triggered, frame, [frame, say = std::move(say)] { ask_note(frame, say); });
}

}  // namespace rt
