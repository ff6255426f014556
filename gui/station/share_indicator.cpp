#include "gui/station/share_indicator.h"

#include <QAbstractButton>
#include <QLabel>
#include <QString>
#include <QWidget>

#include "publish/publisher.h"
#include "publish/viewer.h"

namespace rt {

namespace {

// Background and text colours, as the health bar's states use them.
struct Look {
  const char* background;
  const char* foreground;
};
constexpr Look GOOD{"#1d7a2e", "#ffffff"};
constexpr Look WAITING{"#8a8a8a", "#ffffff"};
constexpr Look AWAY{"#f0b400", "#2a1f00"};
constexpr Look REFUSED{"#c00000", "#ffffff"};
constexpr Look VIEW{"#3060a0", "#ffffff"};

QString seconds(double s) { return QString::number(static_cast<long long>(s)); }

void show(QLabel* label, const QString& text, const QString& tip, Look look) {
  const QString style = QStringLiteral("QLabel { background: %1; color: %2; font-weight: bold; padding: 2px 8px; "
                                       "border-radius: 3px; }")
                            .arg(QLatin1String(look.background), QLatin1String(look.foreground));
  if (label->styleSheet() != style) label->setStyleSheet(style);
  if (label->text() != text) label->setText(text);
  if (label->toolTip() != tip) label->setToolTip(tip);
  if (label->isHidden()) label->setVisible(true);
}

void draw_publishing(QLabel* label, const PublishState& p) {
  using Phase = PublishState::Phase;
  const QString broker = QString::fromStdString(p.broker);
  const QString dropped = p.dropped > 0 ? QStringLiteral(" \u00b7 %1 dropped").arg(p.dropped) : QString();
  QString tip = QStringLiteral("Publishing to %1: %2 frames sent, %3 messages dropped")
                    .arg(broker)
                    .arg(p.frames_sent)
                    .arg(p.dropped);
  if (!p.reason.empty()) tip += QStringLiteral("\n") + QString::fromStdString(p.reason);
  switch (p.phase) {
    case Phase::Connected: show(label, QStringLiteral("PUBLISHING") + dropped, tip, GOOD); break;
    case Phase::Connecting: show(label, QStringLiteral("PUBLISH: CONNECTING"), tip, WAITING); break;
    case Phase::Down:
      show(label, QStringLiteral("PUBLISH: AWAY %1 s").arg(seconds(p.down_s)) + dropped, tip, AWAY);
      break;
    case Phase::Refused: show(label, QStringLiteral("PUBLISH: REFUSED") + dropped, tip, REFUSED); break;
    case Phase::Off: break;
  }
}

void draw_view(QLabel* label, const ViewerState& v) {
  using Phase = ViewerState::Phase;
  const QString missed = v.missed > 0 ? QStringLiteral(" \u00b7 %1 missed").arg(v.missed) : QString();
  // Short on the bar (the health bar's row must fit 1366 pixels); the
  // station's source is in the tooltip.
  QString state = QStringLiteral("WAITING");
  QString station = QStringLiteral("station not heard yet");
  if (v.status_heard) {
    state = v.status.online ? QString::fromStdString(v.status.station.mode).toUpper().replace(QLatin1Char('_'), QLatin1Char(' '))
                            : QStringLiteral("OFFLINE");
    station = v.status.online ? QStringLiteral("station online: %1 of %2, vst_gse %3")
                                    .arg(QString::fromStdString(v.status.station.mode),
                                         QString::fromStdString(v.status.station.source),
                                         QString::fromStdString(v.status.station.version))
                              : QStringLiteral("station offline: %1").arg(QString::fromStdString(v.status.reason));
  }
  const QString tip = QStringLiteral(
                          "Remote view of %1 (read-only: nothing is sent to the instrument; the station's "
                          "frames as they come: no pause, speed or seek)\n%2\n"
                          "frames received %3, missed %4, refused messages %5, not shown %6")
                          .arg(QString::fromStdString(v.broker), station)
                          .arg(v.frames)
                          .arg(v.missed)
                          .arg(v.refused)
                          .arg(v.behind) +
                      (v.reason.empty() ? QString() : QStringLiteral("\n") + QString::fromStdString(v.reason));
  // "REMOTE VIEW OF gse/station1 · LIVE": whose view this is, always.
  const QString view = QStringLiteral("REMOTE VIEW OF %1").arg(QString::fromStdString(v.prefix));
  switch (v.phase) {
    case Phase::Connected:
      show(label, view + QStringLiteral(" \u00b7 ") + state + missed, tip,
           v.status_heard && !v.status.online ? WAITING : VIEW);
      break;
    case Phase::Connecting: show(label, view + QStringLiteral(": CONNECTING"), tip, WAITING); break;
    case Phase::Down: show(label, view + QStringLiteral(": BROKER AWAY") + missed, tip, AWAY); break;
    case Phase::Refused: show(label, view + QStringLiteral(": REFUSED"), tip, REFUSED); break;
    case Phase::Off: break;
  }
}

}  // namespace

ShareIndicator::ShareIndicator() {
  label_ = new QLabel;
  label_->setObjectName(QStringLiteral("healthShare"));
  label_->setVisible(false);
  // Given the room the bar has left: it never makes the window wider than
  // the screen (clipped at worst; the tooltip says it all).
  label_->setMinimumWidth(1);
}

QWidget* ShareIndicator::widget() const { return label_; }

void ShareIndicator::draw() {
  const ViewerState v = viewer_state();
  if (v.phase != ViewerState::Phase::Off) return draw_view(label_, v);
  const PublishState p = publish_state();
  if (p.phase != PublishState::Phase::Off) return draw_publishing(label_, p);
  if (!label_->isHidden()) label_->setVisible(false);
}

QString remote_view_title() {
  if (!viewer_active()) return QString();
  return QStringLiteral("vst_gse - remote view of %1").arg(QString::fromStdString(viewer_state().station));
}

void make_read_only(QWidget* panel_form) {
  auto* command = panel_form->findChild<QAbstractButton*>(QStringLiteral("PANEL_CMD"));
  if (!command) return;
  command->setEnabled(false);
  command->setToolTip(QStringLiteral("Remote view: read-only. Nothing is ever sent to the instrument from here."));
}

}  // namespace rt
