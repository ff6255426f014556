#include "gui/station/health_bar.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QString>
#include <QToolButton>

#include <cmath>

namespace rt {

namespace {

QString count(long long n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

QString one_decimal(double v) { return QLocale(QLocale::English).toString(v, 'f', 1); }

// The same words as the state's reason and the stale marking, with a tenth
// of a second while it is young.
QString age_text(double age_s) {
  if (age_s < 0.0) return QString();  // the state's reason says so where it matters
  if (age_s < 60.0) return QStringLiteral("last good frame %1 s ago").arg(one_decimal(age_s));
  return QStringLiteral("last good frame %1 ago").arg(QString::fromStdString(duration_words(age_s)));
}

const char* const STATE_TIP =
    "Link health. receiving: good frames, no fault in the last 10 s. "
    "degraded: good frames, but a failure or skipped bytes in the last 10 s. "
    "no frames: bytes arrive but no good frame for 3 s (a wrong baud rate or device). "
    "link silent: no byte for 3 s. port lost: the device failed or vanished. "
    "In playback: playing, degraded (bytes skipped), no frames, input silent, paused, "
    "end of input; thresholds stretch by 1/speed below speed 1.";

void set_text(QLabel* label, const QString& text) {
  if (label->text() != text) label->setText(text);
}

// A label that never sets the window's least width: it takes the room its
// text wants where there is room, and is cut rather than push the window
// past the screen where there is not.
QLabel* make_label(const char* name, QHBoxLayout* row) {
  auto* label = new QLabel;
  label->setObjectName(QLatin1String(name));
  label->setMinimumWidth(1);
  row->addWidget(label);
  return label;
}

}  // namespace

const char* HealthBar::background(LinkState state) {
  switch (state) {
    case LinkState::Receiving: return "#1d7a2e";
    case LinkState::Degraded: return "#f0b400";
    case LinkState::NoFrames: return "#c00000";
    case LinkState::Silent: return "#b34700";
    case LinkState::PortLost: return "#6e0000";
    case LinkState::Paused: return "#3060a0";
    case LinkState::EndOfInput: return "#505050";
    case LinkState::Waiting: break;
  }
  return "#8a8a8a";
}

const char* HealthBar::foreground(LinkState state) {
  return state == LinkState::Degraded ? "#2a1f00" : "#ffffff";
}

HealthBar::HealthBar() {
  auto* frame = new QFrame;
  frame->setObjectName(QStringLiteral("healthBar"));
  frame->setFrameShape(QFrame::StyledPanel);
  // Two rows, so the longest texts fit a 1366-pixel screen whole: the
  // state, what led to it and the age of the last good frame; below, the
  // rates and counts.
  auto* rows = new QVBoxLayout(frame);
  rows->setContentsMargins(4, 2, 8, 2);
  rows->setSpacing(1);
  auto* first = new QHBoxLayout;
  auto* second = new QHBoxLayout;
  for (QHBoxLayout* row : {first, second}) {
    row->setSpacing(14);
    rows->addLayout(row);
  }
  state_ = make_label("healthState", first);
  state_->setMinimumWidth(130);
  state_->setAlignment(Qt::AlignCenter);
  state_->setToolTip(QString::fromLatin1(STATE_TIP));
  port_ = make_label("healthPort", first);
  port_->setToolTip(QStringLiteral("The serial device of the telemetry link (--port, or the one chosen last in the port chooser)"));
  port_->setVisible(false);
  reason_ = make_label("healthReason", first);
  age_ = make_label("healthAge", first);
  first->addStretch(1);
  second->addSpacing(state_->minimumWidth());  // under the state, the figures line up with its reason
  rates_ = make_label("healthRates", second);
  failures_ = make_label("healthFailures", second);
  failures_->setToolTip(QStringLiteral("Failed frame attempts by kind: in the last minute / since start-up"));
  skipped_ = make_label("healthSkipped", second);
  skipped_->setToolTip(QStringLiteral(
      "Input bytes the station discarded, as the panel's Skipped shows it (it is written after each good frame)"));
  second->addStretch(1);
  alarms_ = new QToolButton;  // beside the state: the alarms not yet acknowledged
  alarms_->setObjectName(QStringLiteral("healthAlarms"));
  alarms_->setVisible(false);
  first->insertWidget(1, alarms_);
  muted_ = new QLabel(QStringLiteral("MUTED"));
  muted_->setObjectName(QStringLiteral("healthMuted"));
  muted_->setToolTip(QStringLiteral("The alarm sound is muted: alarms are shown but not heard "
                                    "(Alarms > Mute alarm sound turns it on again)"));
  muted_->setStyleSheet(QStringLiteral("QLabel { background: #505050; color: #ffffff; font-weight: bold; "
                                       "padding: 2px 8px; border-radius: 3px; }"));
  muted_->setVisible(false);
  first->insertWidget(2, muted_);
  row_ = first;  // other indicators (place) at the first row's right end
  bar_ = frame;
}

void HealthBar::place(QWidget* indicator) { row_->addWidget(indicator); }

QAbstractButton* HealthBar::alarms_button() const { return alarms_; }

void HealthBar::show_alarms(const QString& text, bool red, const QString& which) {
  if (alarms_->text() != text) alarms_->setText(text);
  const QString tip = which + QStringLiteral("\nClick to see the alarm list.");
  if (alarms_->toolTip() != tip) alarms_->setToolTip(tip);
  if (alarms_->isHidden() != text.isEmpty()) alarms_->setVisible(!text.isEmpty());
  if (text.isEmpty() || alarms_look_ == static_cast<int>(red)) return;
  alarms_look_ = static_cast<int>(red);
  alarms_->setStyleSheet(QStringLiteral("QToolButton { background: %1; color: %2; font-weight: bold; "
                                        "padding: 2px 10px; border-radius: 3px; }")
                             .arg(QLatin1String(red ? "#c00000" : "#f0b400"), QLatin1String(red ? "#ffffff" : "#2a1f00")));
}

void HealthBar::show_muted(bool muted) {
  if (muted_->isHidden() == muted) muted_->setVisible(muted);
}

void HealthBar::show_port(const QString& device) {
  set_text(port_, device.isEmpty() ? QString() : QStringLiteral("COM1 = %1").arg(device));
  if (port_->isHidden() != device.isEmpty()) port_->setVisible(!device.isEmpty());
}

void HealthBar::draw(const HealthSnapshot& s) {
  if (!drawn_ || s.state != drawn_state_) {
    drawn_ = true;
    drawn_state_ = s.state;
    state_->setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; font-weight: bold; "
                                         "padding: 2px 10px; border-radius: 3px; }")
                              .arg(QLatin1String(background(s.state)), QLatin1String(foreground(s.state))));
  }
  set_text(state_, QString::fromStdString(s.words).toUpper());
  QString reason = QString::fromStdString(s.reason);
  if (s.fault_age_s >= 0.0) reason += QStringLiteral(" %1 s ago").arg(static_cast<long long>(s.fault_age_s));
  set_text(reason_, reason);
  if (reason_->toolTip() != reason) reason_->setToolTip(reason);  // whole, should it ever be cut
  set_text(age_, age_text(s.age_s));
  // No figures (a remote view's station not heard): the row shows nothing
  // rather than old ones.
  if (!std::isfinite(s.bytes_per_s) || !std::isfinite(s.frames_per_s)) {
    set_text(rates_, QString());
    set_text(skipped_, QString());
    failures_->setVisible(false);
    return;
  }
  set_text(rates_, QStringLiteral("%1 bytes/s  %2 frames/s")
                       .arg(count(std::llround(s.bytes_per_s)), one_decimal(s.frames_per_s)));
  if (s.playback) {
    // Playback reports no failures: a damaged stretch is passed over by
    // resynchronising, and shows as skipped bytes.
    failures_->setVisible(false);
  } else {
    QString text = QStringLiteral("failures (min / total): ");
    const char* short_names[FAILURE_KINDS] = {"checksum", "escape", "read", "other"};
    for (int k = 0; k < FAILURE_KINDS; ++k) {
      const auto i = static_cast<size_t>(k);
      if (k == FAILURE_KINDS - 1 && s.failures_total[i] == 0) continue;  // "other" only when seen
      if (k > 0) text += QStringLiteral("  ");
      text += QStringLiteral("%1 %2 / %3").arg(QLatin1String(short_names[k]), count(s.failures_minute[i]),
                                               count(s.failures_total[i]));
    }
    set_text(failures_, text);
    failures_->setVisible(true);
  }
  set_text(skipped_, s.skipped < 0 ? QStringLiteral("skipped -")
                                   : QStringLiteral("skipped %1 (+%2 in the last min)")
                                         .arg(count(s.skipped), count(s.skipped_minute)));
}

}  // namespace rt
