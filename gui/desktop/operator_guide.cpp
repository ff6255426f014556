#include "gui/desktop/operator_guide.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/desktop/dialogs.h"

namespace rt {

QString operator_guide_path() {
  const QDir exe(QCoreApplication::applicationDirPath());
  for (const char* name : {"../share/doc/vst_gse/README.html", "../share/doc/vst_gse/README.md", "README.html",
                           "../dist/README.html", "README.md"}) {
    const QFileInfo candidate(exe.filePath(QString::fromLatin1(name)));
    if (candidate.isFile()) return candidate.canonicalFilePath();
  }
  return QString();
}

namespace {

// The guide in a window of the program's own: HTML or Markdown, with its
// pictures, and its links followed within it.
void show_in_viewer(const QString& path, QWidget* parent) {
  QDialog viewer(parent);
  viewer.setObjectName(QStringLiteral("guideViewer"));
  viewer.setWindowTitle(QStringLiteral("vst_gse operator guide"));
  auto* column = new QVBoxLayout(&viewer);
  auto* text = new QTextBrowser;
  text->setObjectName(QStringLiteral("guideText"));
  text->setOpenExternalLinks(true);
  text->setSource(QUrl::fromLocalFile(path));
  column->addWidget(text, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &viewer, &QDialog::reject);
  column->addWidget(buttons);
  viewer.resize(900, 640);
  run_dialog(&viewer, true);
}

}  // namespace

void open_operator_guide(QWidget* parent) {
  const QString path = operator_guide_path();
  if (path.isEmpty()) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Operator guide"),
                    QStringLiteral("The operator guide is not installed beside the program. It is the README.md "
                                   "in the source tree's top folder."),
                    QMessageBox::Close, parent);
    box.setObjectName(QStringLiteral("guideMissing"));
    run_dialog(&box, true);
    return;
  }
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
  show_in_viewer(path, parent);
}

}  // namespace rt
