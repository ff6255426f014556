#include "gui/desktop/startup_dialogs.h"

#include <QMessageBox>

#include "gui/desktop/dialogs.h"

namespace rt {

namespace {

bool choose_port(const QString& subject, const QString& reason, QString* device, const PortLister& lister) {
  PortChooser chooser(
      QStringLiteral("COM1 (%1) cannot be opened: %2.\nPlug the adapter in and press Retry, or choose "
                     "another port. Cancel ends the program.")
          .arg(subject, reason),
      subject, QStringLiteral("Retry"), lister);
  // Ctrl+C or SIGTERM while the operator is away ends it as Cancel would
  // (run_dialog closes it).
  if (!run_dialog(&chooser, false) || chooser.device().isEmpty()) return false;
  *device = chooser.device();
  remember_port_once_open(*device);
  return true;
}

}  // namespace

bool tell_startup_failure(StartupFailure kind, const QString& subject, const QString& reason, QString* device,
                          const PortLister& lister) {
  if (kind == StartupFailure::Port) return choose_port(subject, reason, device, lister);
  const QString text = kind == StartupFailure::Input    ? QStringLiteral("Cannot open input file %1: %2").arg(subject, reason)
                       : kind == StartupFailure::Folder ? QStringLiteral("Cannot work in %1: %2").arg(subject, reason)
                                                        : QStringLiteral("Cannot load the panel: %1").arg(reason);
  QMessageBox box(QMessageBox::Critical, QStringLiteral("vst_gse cannot start"), text, QMessageBox::Close);
  box.setObjectName(QStringLiteral("startupFailure"));
  run_dialog(&box, true);
  return false;
}

}  // namespace rt
