#include "gui/desktop/save_actions.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
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

void save_screenshot(QWidget* window, const std::function<void(const QString&)>& say) {
  const QString path = timestamped_path(QStringLiteral("vst_gse"), QStringLiteral(".png"));
  if (window_snapshot(window, QDateTime::currentDateTime()).save(path, "PNG"))
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

QImage window_snapshot(QWidget* window, const QDateTime& when) {
  const QPixmap shot = window->grab();
  const qreal ratio = shot.devicePixelRatio();
  const QSize size = shot.deviceIndependentSize().toSize();
  const QFontMetrics metrics(window->font());
  const int strip = metrics.height() + 8;
  QImage image(QSize(size.width(), size.height() + strip) * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  const QPalette palette = window->palette();
  QPainter painter(&image);
  painter.drawPixmap(0, 0, shot);
  const QRect caption(0, size.height(), size.width(), strip);
  painter.fillRect(caption, palette.color(QPalette::Window));
  painter.setPen(palette.color(QPalette::Mid));
  painter.drawLine(caption.topLeft(), caption.topRight());
  painter.setPen(palette.color(QPalette::WindowText));
  painter.setFont(window->font());
  painter.drawText(caption.adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   snapshot_caption(window, when));
  return image;
}

QString snapshot_caption(const QWidget* window, const QDateTime& when) {
  return QStringLiteral("%1    %2").arg(window->windowTitle(),
                                       when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void add_save_actions(QToolBar* bar, QWidget* window, std::function<void(const QString&)> say) {
  QAction* shot = bar->addAction(QStringLiteral("Save screenshot"));
  shot->setObjectName(QStringLiteral("saveScreenshot"));
  shot->setToolTip(QStringLiteral(
      "Save the whole window as a PNG in the working directory, captioned with its source and the time"));
  QObject::connect(shot, &QAction::triggered, shot, [window, say] { save_screenshot(window, say); });
  QAction* spectra = bar->addAction(QStringLiteral("Save spectra"));
  spectra->setObjectName(QStringLiteral("saveSpectra"));
  spectra->setToolTip(QStringLiteral("Save both spectra (positions, totals, rates) as CSV in the working directory"));
  QObject::connect(spectra, &QAction::triggered, spectra, [say] { save_spectra(say); });
}

}  // namespace rt
