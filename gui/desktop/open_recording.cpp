#include "gui/desktop/open_recording.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeySequence>
#include <QMainWindow>
#include <QMimeData>
#include <QSettings>
#include <QToolBar>
#include <QUrl>

#include "publish/viewer.h"
#include "replay/replay.h"
#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr const char* FOLDER_KEY = "recordings/lastFolder";

QSettings settings() { return QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse")); }

// A recording can be opened only where one is played: not live, and not in
// a remote view, which shows the station's frames as they come.
bool plays_recordings() { return transport_is_playback() && !viewer_active(); }

// The one local file a drag carries, or "".
QString dropped_file(const QMimeData* mime) {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return QString();
  const QUrl url = mime->urls().front();
  return url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile() ? url.toLocalFile() : QString();
}

}  // namespace

OpenRecording::OpenRecording(QMainWindow* window, QToolBar* bar, std::function<void(const QString&)> say)
    : QObject(window), window_(window), say_(std::move(say)) {
  action_ = bar->addAction(QStringLiteral("Open recording..."));
  action_->setObjectName(QStringLiteral("actionOpenRecording"));
  action_->setShortcut(QKeySequence::Open);
  const bool playback = plays_recordings();
  action_->setEnabled(playback);
  action_->setToolTip(playback ? QStringLiteral("Play another recording (or drop one onto the window)")
                      : viewer_active()
                          ? QStringLiteral("A remote view shows the station's frames as they come: start vst_gse "
                                           "with a FILE to play a recording")
                          : QStringLiteral("Live mode receives the link: start vst_gse with a FILE to "
                                           "play a recording"));
  QObject::connect(action_, &QAction::triggered, this, [this] { choose(); });
  window_->setAcceptDrops(true);
  window_->installEventFilter(this);
}

QString OpenRecording::last_folder() {
  const QString folder = settings().value(QString::fromLatin1(FOLDER_KEY)).toString();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) return folder;
  const QFileInfo source(QString::fromStdString(transport_source()));
  return source.exists() ? source.absolutePath() : QDir::currentPath();
}

void OpenRecording::choose() {
  const QString path = QFileDialog::getOpenFileName(window_, QStringLiteral("Open recording"), last_folder(),
                                                    QStringLiteral("Recordings (*.dat);;All files (*)"));
  if (!path.isEmpty()) open(path);
}

bool OpenRecording::open(const QString& path) {
  if (!plays_recordings()) {
    say_(viewer_active() ? QStringLiteral("Remote view: a recording cannot be opened here")
                         : QStringLiteral("Live mode: a recording cannot be opened here"));
    return false;
  }
  const QFileInfo info(path);
  if (!info.isFile()) {
    say_(QStringLiteral("Not opened: %1 is not a file").arg(path));
    return false;
  }
  settings().setValue(QString::fromLatin1(FOLDER_KEY), info.absolutePath());
  log_info("Operator: open recording " + path.toStdString());
  replay_request_open(path.toStdString());
  say_(QStringLiteral("Opening %1 ...").arg(path));
  return true;
}

bool OpenRecording::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && plays_recordings()) {
    if (event->type() == QEvent::DragEnter) {
      auto* drag = static_cast<QDragEnterEvent*>(event);
      if (!dropped_file(drag->mimeData()).isEmpty()) {
        drag->acceptProposedAction();
        return true;
      }
    } else if (event->type() == QEvent::Drop) {
      auto* drop = static_cast<QDropEvent*>(event);
      const QString path = dropped_file(drop->mimeData());
      if (!path.isEmpty()) {
        drop->acceptProposedAction();
        open(path);
        return true;
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rt
