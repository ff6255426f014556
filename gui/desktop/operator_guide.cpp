#include "gui/desktop/operator_guide.h"

#include <memory>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QTimer>
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

// A web browser the operator has named ($BROWSER, its first program), else
// the one the system chose as its graphical browser (Debian's
// x-www-browser); "" when neither is there.
QString web_browser() {
  const QString named = qEnvironmentVariable("BROWSER").section(QLatin1Char(':'), 0, 0).trimmed();
  if (!named.isEmpty()) {
    const QString found = QStandardPaths::findExecutable(named);
    if (!found.isEmpty()) return found;
  }
  return QStandardPaths::findExecutable(QStringLiteral("x-www-browser"));
}

// Whether the desktop entry xdg-mime named for web pages (text/html) calls
// its program a web browser.
bool entry_is_browser(const QString& entry) {
  if (entry.isEmpty() || entry.contains(QLatin1Char('/'))) return false;
  const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
  QFile desktop(file);
  if (file.isEmpty() || !desktop.open(QIODevice::ReadOnly)) return false;
  for (const QByteArray& line : desktop.read(1 << 16).split('\n'))
    if (line.startsWith("Categories=") && line.split('=').value(1).split(';').contains("WebBrowser")) return true;
  return false;
}

// Asks the desktop for its handler of web pages and opens the guide with it
// when that is a browser, else in the viewer. xdg-mime may take seconds on a
// busy desktop: the window goes on meanwhile, and after QUERY_MS the guide
// goes to the viewer.
void open_with_desktop_or_viewer(const QString& path, QWidget* parent) {
  constexpr int QUERY_MS = 3000;
  const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (query.isEmpty()) {
    show_in_viewer(path, parent);
    return;
  }
  auto* process = new QProcess(parent);
  const QPointer<QWidget> owner(parent);
  auto done = std::make_shared<bool>(false);
  auto decide = [process, owner, path, done](bool answered) {
    if (*done) return;
    *done = true;
    const QString entry =
        answered ? QString::fromLocal8Bit(process->readAllStandardOutput()).trimmed() : QString();
    process->deleteLater();
    if (entry_is_browser(entry) && QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    if (owner) show_in_viewer(path, owner);
  };
  QObject::connect(process, &QProcess::finished, process, [decide](int code, QProcess::ExitStatus status) {
    decide(status == QProcess::NormalExit && code == 0);
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [decide](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) decide(false);
  });
  QTimer::singleShot(QUERY_MS, process, [process, decide] {
    decide(false);
    process->kill();
  });
  process->start(query, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
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
  const QString browser = web_browser();
  if (!browser.isEmpty() && QProcess::startDetached(browser, {QUrl::fromLocalFile(path).toString()})) return;
  // The desktop's handler for web pages, only when that is a browser: on a
  // machine without one it may be a text editor, which shows raw HTML.
  open_with_desktop_or_viewer(path, parent);
}

}  // namespace rt
