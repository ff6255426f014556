#include "runtime/qt/save_actions.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QToolBar>
#include <QWidget>

#include "runtime/transport.h"

namespace rt {

namespace {

// A file in the working directory named from the time, not yet taken.
QString timestamped_path(const QString& stem, const QString& suffix) {
  const QString base =
      stem + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
  QString name = base + suffix;
  for (int n = 2; QFileInfo::exists(QDir::current().filePath(name)); ++n)
    name = base + QStringLiteral("-%1").arg(n) + suffix;
  return QDir::current().absoluteFilePath(name);
}

void save_screenshot(QWidget* form, const std::function<void(const QString&)>& say) {
  const QString path = timestamped_path(QStringLiteral("vst_gse"), QStringLiteral(".png"));
  if (form->grab().save(path, "PNG"))
    say(QStringLiteral("Screenshot saved to %1").arg(path));
  else
    say(QStringLiteral("Screenshot not saved: cannot write %1").arg(path));
}

// The spectra belong to the system's thread: ask it to write them at its
// next poll; the window shows the outcome it reports.
void save_spectra(const std::function<void(const QString&)>& say) {
  const QString path = timestamped_path(QStringLiteral("vst_gse-spectra"), QStringLiteral(".csv"));
  transport_request_spectra(path.toStdString());
  say(QStringLiteral("Saving spectra to %1 ...").arg(path));
}

}  // namespace

void add_save_actions(QToolBar* bar, QWidget* form, std::function<void(const QString&)> say) {
  QAction* shot = bar->addAction(QStringLiteral("Save screenshot"));
  shot->setObjectName(QStringLiteral("saveScreenshot"));
  shot->setToolTip(QStringLiteral("Save the panel as a PNG in the working directory"));
  QObject::connect(shot, &QAction::triggered, shot, [form, say] { save_screenshot(form, say); });
  QAction* spectra = bar->addAction(QStringLiteral("Save spectra"));
  spectra->setObjectName(QStringLiteral("saveSpectra"));
  spectra->setToolTip(QStringLiteral("Save both spectra (positions, totals, rates) as CSV in the working directory"));
  QObject::connect(spectra, &QAction::triggered, spectra, [say] { save_spectra(say); });
}

}  // namespace rt
