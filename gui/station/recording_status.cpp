#include "gui/station/recording_status.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>
#include <QToolBar>

#include <cstdint>
#include <string>

#include "gui/theme.h"
#include "publish/viewer.h"
#include "runtime/transport.h"

namespace rt {

namespace {

QString byte_count(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

}  // namespace

RecordingStatus::RecordingStatus(QToolBar* bar, QStatusBar* status) {
  // Live mode without a recording: a banner across the toolbar.
  not_recording_ = new QLabel(QStringLiteral("NOT RECORDING: received data is not being saved"));
  not_recording_->setObjectName(QStringLiteral("notRecordingBanner"));
  not_recording_->setAlignment(Qt::AlignCenter);
  not_recording_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  not_recording_->setStyleSheet(QStringLiteral(
      "QLabel { background: #c00000; color: white; font-weight: bold; padding: 3px 12px; }"));
  not_recording_action_ = bar->addWidget(not_recording_);
  not_recording_action_->setVisible(false);

  recording_ = new QLabel;
  recording_->setObjectName(QStringLiteral("recordingStatus"));
  recording_->setContentsMargins(6, 0, 6, 0);
  status->addPermanentWidget(recording_);
}

// Live mode: the recording file and its size, or a warning nobody can miss.
void RecordingStatus::draw() {
  // A style sheet change re-polishes the widget: set it only when the state
  // changes, not at every look at the recording's size.
  auto style = [this](const QString& sheet) {
    if (recording_->styleSheet() != sheet) recording_->setStyleSheet(sheet);
  };
  auto text = [this](const QString& shown) {
    if (recording_->text() != shown) recording_->setText(shown);
  };
  if (viewer_active()) {
    // A remote view: whose, and whether what it receives is kept.
    not_recording_action_->setVisible(false);
    const ViewerState v = viewer_state();
    const QString view = QStringLiteral("Remote view of %1 (read-only)").arg(QString::fromStdString(v.station));
    if (!v.recording_failure.empty()) {
      style(QStringLiteral("QLabel { background: #c00000; color: white; font-weight: bold; padding: 2px 12px; }"));
      text(view + QStringLiteral(": NOT RECORDING: %1").arg(QString::fromStdString(v.recording_failure)));
    } else {
      style(QString());
      text(v.recording.empty() ? view + QStringLiteral(": the frames received are not recorded")
                               : view + QStringLiteral(": recording the frames received to %1")
                                            .arg(QString::fromStdString(v.recording)));
    }
    return;
  }
  if (transport_is_playback()) {
    not_recording_action_->setVisible(false);
    const QString source = QString::fromStdString(transport_source());
    style(QString());
    text(transport_is_link_replay() ? QStringLiteral("Link replay of %1: nothing is sent or recorded").arg(source)
                                    : QStringLiteral("Playback of %1").arg(source));
    return;
  }
  // Not recording: no file, or one that cannot be written now (the reason).
  const RecordingState rec = transport_recording_state();
  const bool recording = !rec.path.empty() && rec.failure.empty();
  not_recording_action_->setVisible(!recording);
  if (!recording) {
    const QString shown = rec.failure.empty()
                              ? QStringLiteral("NOT RECORDING: received data is not being saved")
                              : QStringLiteral("NOT RECORDING: %1").arg(QString::fromStdString(rec.failure));
    if (not_recording_->text() != shown) not_recording_->setText(shown);
    style(QStringLiteral(
        "QLabel { background: #c00000; color: white; font-weight: bold; padding: 2px 12px; }"));
    text(shown);
    return;
  }
  const QFileInfo info(QString::fromStdString(rec.path));
  const QString missing = rec.missing > 0 ? QStringLiteral(" (%1 bytes missing)").arg(byte_count(rec.missing)) : QString();
  // Readable on the status bar in either theme.
  const TextColours colours = text_colours();
  style(QStringLiteral("QLabel { color: %1; font-weight: bold; }")
            .arg((rec.missing > 0 ? colours.warning : colours.good).name()));
  text(QStringLiteral("Recording %1: %2 bytes%3")
                          .arg(QString::fromStdString(rec.path),
                               info.exists() ? byte_count(info.size()) : QStringLiteral("?"), missing));
}

}  // namespace rt
