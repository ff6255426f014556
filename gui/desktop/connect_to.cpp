#include "gui/desktop/connect_to.h"

#include <QAction>
#include <QMainWindow>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

#include "runtime/com_port.h"
#include "gui/desktop/dialogs.h"
#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr int MESSAGE_MS = 15000;
// How often the action's enabled state follows the link (opened, closed).
constexpr int ENABLE_EVERY_MS = 500;

bool may_switch() { return !transport_is_playback() && com_switchable(); }

void connect_to(QMainWindow* window, const PortLister& lister) {
  const QPointer<QMainWindow> frame(window);
  const QString current = QString::fromStdString(com_device());
  // No parent: the window may be torn down while the chooser is open (the
  // session ended by a signal), and the chooser must not go with it.
  PortChooser chooser(QString(), current, QStringLiteral("Connect"), lister);
  chooser.setWindowTitle(QStringLiteral("Connect COM1 to"));
  const bool yes = run_dialog(&chooser, false);
  if (!yes || chooser.device().isEmpty() || !frame) return;
  const QString device = chooser.device();
  QString said;
  if (request_com_switch(device.toStdString())) {
    remember_port_once_open(device);
    said = QStringLiteral("Connecting COM1 to %1 (was %2)").arg(device, current);
  } else {
    said = QStringLiteral("COM1 not connected to %1: the live link has ended").arg(device);
    log_warning(said.toStdString());
  }
  frame->statusBar()->showMessage(said, MESSAGE_MS);
}

}  // namespace

QAction* add_connect_to(QMainWindow* frame, PortLister lister) {
  auto* action = new QAction(QStringLiteral("Connect to\u2026"), frame);
  action->setObjectName(QStringLiteral("actionConnectTo"));
  action->setToolTip(QStringLiteral("Move COM1 to another serial port; the recording goes on"));
  action->setEnabled(may_switch());
  QObject::connect(action, &QAction::triggered, frame,
                   [frame, lister = std::move(lister)] { connect_to(frame, lister); });
  auto* follow = new QTimer(action);
  follow->setInterval(ENABLE_EVERY_MS);
  QObject::connect(follow, &QTimer::timeout, action, [action] { action->setEnabled(may_switch()); });
  follow->start();
  return action;
}

}  // namespace rt
