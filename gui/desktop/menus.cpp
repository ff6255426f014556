#include "gui/desktop/menus.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

#include "gui/desktop/dialogs.h"
#include "gui/desktop/operator_guide.h"
#include "publish/viewer.h"
#include "runtime/transport.h"

#ifndef GSE_VERSION
#define GSE_VERSION "0"
#endif
#ifndef GSE_LICENSE
#define GSE_LICENSE "LicenseRef-proprietary"
#endif

namespace rt {

namespace {

QAction* find_action(QMainWindow* frame, const char* name) {
  return frame->findChild<QAction*>(QString::fromLatin1(name));
}

// Adds the action named `name` to `menu` (and to the window, so its shortcut
// works wherever the focus is in it), with `key` when given. Absent: nothing.
QAction* add_found(QMainWindow* frame, QMenu* menu, const char* name, const QKeySequence& key = {}) {
  QAction* a = find_action(frame, name);
  if (!a) return nullptr;
  if (!key.isEmpty()) a->setShortcut(key);
  menu->addAction(a);
  if (!a->shortcut().isEmpty()) frame->addAction(a);
  return a;
}

QAction* make_action(QMainWindow* frame, QMenu* menu, const QString& text, const char* name,
                     const QKeySequence& key = {}) {
  QAction* a = menu->addAction(text);
  a->setObjectName(QString::fromLatin1(name));
  if (!key.isEmpty()) {
    a->setShortcut(key);
    frame->addAction(a);
  }
  return a;
}

void build_file_menu(QMainWindow* frame) {
  QMenu* file = frame->menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("fileMenu"));
  add_found(frame, file, "actionOpenRecording", QKeySequence::Open);
  add_found(frame, file, "actionSessions", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  add_found(frame, file, "actionConnectTo");
  add_found(frame, file, "actionConfirmCommands");
  add_found(frame, file, "actionPublish");
  add_found(frame, file, "actionStopPublishing");
  add_found(frame, file, "actionNote");
  file->addSeparator();
  add_found(frame, file, "saveScreenshot", QKeySequence(Qt::CTRL | Qt::Key_S));
  add_found(frame, file, "saveSpectra");
  add_found(frame, file, "actionExportCsv");
  add_found(frame, file, "actionReport");
  file->addSeparator();
  QAction* quit = make_action(frame, file, QStringLiteral("&Quit"), "actionQuit", QKeySequence(Qt::CTRL | Qt::Key_Q));
  quit->setMenuRole(QAction::QuitRole);
  // Closing the window is the one way out: it asks first in live mode and
  // hands the quit to the system as the panel's Quit button would.
  QObject::connect(quit, &QAction::triggered, frame, [frame] { frame->close(); });
}

void build_playback_menu(QMainWindow* frame) {
  // Live mode has no transport; a remote view shows the frames as they come.
  if (!transport_is_playback() || viewer_active()) return;
  QMenu* play = frame->menuBar()->addMenu(QStringLiteral("&Playback"));
  play->setObjectName(QStringLiteral("playbackMenu"));
  add_found(frame, play, "transportPause", QKeySequence(Qt::Key_Space));
  add_found(frame, play, "actionStepBack");
  add_found(frame, play, "actionStepForward");
  add_found(frame, play, "transportRestart");
  add_found(frame, play, "transportLoop");
  play->addSeparator();
  add_found(frame, play, "actionNextMark");
  add_found(frame, play, "actionPreviousMark");
}

void build_view_menu(QMainWindow* frame) {
  QMenu* view = frame->menuBar()->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("viewMenuBar"));
  // The groups, the theme and Reset layout, as the layout offers them.
  if (auto* layout_menu = frame->findChild<QMenu*>(QStringLiteral("viewMenu")))
    view->addActions(layout_menu->actions());
  view->addSeparator();
  add_found(frame, view, "actionShowLog");
  add_found(frame, view, "actionShowAlarms");
  add_found(frame, view, "actionShowTrends");
  QAction* full = make_action(frame, view, QStringLiteral("&Full screen"), "actionFullScreen",
                              QKeySequence(Qt::Key_F11));
  full->setCheckable(true);
  // Esc leaves full screen; outside it Esc is left to the panel and dialogs.
  auto* leave = new QAction(QStringLiteral("Leave full screen"), frame);
  leave->setObjectName(QStringLiteral("actionLeaveFullScreen"));
  leave->setShortcut(QKeySequence(Qt::Key_Escape));
  leave->setEnabled(false);
  frame->addAction(leave);
  QObject::connect(full, &QAction::toggled, frame, [frame, leave](bool on) {
    leave->setEnabled(on);
    if (on) frame->showFullScreen();
    else frame->showNormal();
  });
  QObject::connect(leave, &QAction::triggered, full, [full] { full->setChecked(false); });
}

void build_alarms_menu(QMainWindow* frame) {
  QMenu* alarms = frame->menuBar()->addMenu(QStringLiteral("&Alarms"));
  alarms->setObjectName(QStringLiteral("alarmsMenu"));
  add_found(frame, alarms, "actionShowAlarms");
  add_found(frame, alarms, "actionAcknowledgeAll");
  add_found(frame, alarms, "actionMuteAlarms");
  alarms->addSeparator();
  add_found(frame, alarms, "actionEditLimits");
}

void show_shortcuts(QMainWindow* frame) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Keyboard shortcuts"), shortcut_list(frame),
                  QMessageBox::Close, frame);
  box.setObjectName(QStringLiteral("shortcutList"));
  run_dialog(&box, true);
}

void show_about(QMainWindow* frame) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("About vst_gse"),
                  QStringLiteral("<b>vst_gse %1</b><p>Ground-station display for the instrument's telemetry: "
                                 "live on the serial link, or played back from a recording.</p>"
                                 "<p>Licence: %2</p><p>Built with Qt %3.</p>")
                      .arg(QStringLiteral(GSE_VERSION), QStringLiteral(GSE_LICENSE), QString::fromLatin1(qVersion())),
                  QMessageBox::Close, frame);
  box.setObjectName(QStringLiteral("aboutBox"));
  run_dialog(&box, true);
}

void build_help_menu(QMainWindow* frame) {
  QMenu* help = frame->menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("helpMenu"));
  QObject::connect(make_action(frame, help, QStringLiteral("&Keyboard shortcuts"), "actionShortcuts",
                               QKeySequence::HelpContents),
                   &QAction::triggered, frame, [frame] { show_shortcuts(frame); });
  QObject::connect(make_action(frame, help, QStringLiteral("&Operator guide"), "actionOperatorGuide"),
                   &QAction::triggered, frame, [frame] { open_operator_guide(frame); });
  QAction* about = make_action(frame, help, QStringLiteral("&About vst_gse"), "actionAbout");
  about->setMenuRole(QAction::AboutRole);
  QObject::connect(about, &QAction::triggered, frame, [frame] { show_about(frame); });
}

}  // namespace

void build_menus(QMainWindow* frame) {
  frame->menuBar()->setObjectName(QStringLiteral("menuBar"));
  build_file_menu(frame);
  build_playback_menu(frame);
  build_view_menu(frame);
  build_alarms_menu(frame);
  build_help_menu(frame);
}

QString shortcut_list(const QMainWindow* frame) {
  QStringList lines;
  for (const QAction* a : frame->actions()) {
    if (a->shortcut().isEmpty()) continue;
    QString what = a->text();
    what.remove(QLatin1Char('&'));
    lines << a->shortcut().toString(QKeySequence::NativeText) + QLatin1Char('\t') + what;
  }
  return lines.join(QLatin1Char('\n'));
}

}  // namespace rt
