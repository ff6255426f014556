#include "gui/desktop/dialogs.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

#include "runtime/context.h"

namespace rt {

namespace {

DialogAnswerer& answerer() {
  static DialogAnswerer a;
  return a;
}
// The dialogs in run_dialog now, innermost last.
std::vector<QPointer<QDialog>>& open_dialogs() {
  static std::vector<QPointer<QDialog>> open;
  return open;
}
const char* const TEARDOWN = "vstGseClosedByTeardown";
// How often a dialog open for real looks for a quit signal.
constexpr int QUIT_WATCH_MS = 50;

// Qt's offscreen platform: nobody sees the dialogs.
bool unattended_run() { return QGuiApplication::platformName() == QStringLiteral("offscreen"); }

void write_out(const QDialog* dialog) {
  std::fprintf(stderr, "vst_gse: dialog %s: %s\n", qPrintable(dialog->objectName()),
               qPrintable(dialog_text(dialog)));
  std::fflush(stderr);
}

// A message box answers with the role of the button pressed; other dialogs
// with accept() or reject().
bool accepted(QDialog* dialog, int code) {
  if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
    const QAbstractButton* pressed = box->clickedButton();
    if (!pressed) return false;
    const auto role = box->buttonRole(const_cast<QAbstractButton*>(pressed));
    return role == QMessageBox::AcceptRole || role == QMessageBox::YesRole;
  }
  return code == QDialog::Accepted;
}

}  // namespace

void set_dialog_answerer(DialogAnswerer a) { answerer() = std::move(a); }

QString dialog_text(const QDialog* dialog) {
  QStringList parts{dialog->windowTitle()};
  for (const QLabel* label : dialog->findChildren<QLabel*>())
    if (!label->text().isEmpty()) parts << label->text();
  return parts.join(QStringLiteral(" | "));
}

bool close_open_dialogs() {
  for (const QPointer<QDialog>& d : open_dialogs()) {
    if (!d) continue;
    d->setProperty(TEARDOWN, true);
    d->reject();
  }
  return !open_dialogs().empty();
}

bool closed_by_teardown(const QDialog* dialog) { return dialog->property(TEARDOWN).toBool(); }

bool run_dialog(QDialog* dialog, bool unattended) {
  open_dialogs().emplace_back(dialog);
  struct Closed {
    ~Closed() { open_dialogs().pop_back(); }
  } closed;
  if (!answerer() && unattended_run()) {
    write_out(dialog);
    return unattended;
  }
  if (!answerer()) {
    // A quit signal (Ctrl+C, SIGTERM, SIGHUP) closes the dialog as a
    // teardown would: nobody may be there to answer it.
    QTimer quit_watch;
    quit_watch.setInterval(QUIT_WATCH_MS);
    QObject::connect(&quit_watch, &QTimer::timeout, dialog, [dialog] {
      if (!quit_signalled() || closed_by_teardown(dialog)) return;
      dialog->setProperty(TEARDOWN, true);
      dialog->reject();
    });
    quit_watch.start();
    if (quit_signalled()) return false;
    return accepted(dialog, dialog->exec()) && !closed_by_teardown(dialog);
  }
  dialog->show();
  QCoreApplication::processEvents();
  const bool yes = answerer()(dialog);
  dialog->hide();
  return yes && !closed_by_teardown(dialog);
}

void install_answers_from_environment() {
  const QString list = qEnvironmentVariable("VST_GSE_DIALOG_ANSWERS");
  if (list.isNull()) return;
  auto answers = std::make_shared<QStringList>(list.split(QLatin1Char(','), Qt::SkipEmptyParts));
  set_dialog_answerer([answers](QDialog* dialog) {
    write_out(dialog);
    if (answers->isEmpty()) return false;
    const QString answer = answers->takeFirst();
    if (answer.startsWith(QStringLiteral("accept:"))) {
      // A file dialog's field is its file name's.
      QLineEdit* field = qobject_cast<QFileDialog*>(dialog)
                             ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
                             : dialog->findChild<QLineEdit*>();
      if (field) field->setText(answer.mid(7));
      return true;
    }
    return answer == QStringLiteral("accept");
  });
}

}  // namespace rt
