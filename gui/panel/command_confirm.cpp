#include "gui/panel/command_confirm.h"

#include <QAbstractButton>
#include <QAction>
#include <QMainWindow>
#include <QMouseEvent>
#include <QSettings>
#include <QWidget>

#include "gui/layout.h"
#include "gui/theme.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace rt {

namespace {

const QString KEY_CONFIRM = QStringLiteral("commands/confirm");
constexpr int TICK_MS = 200;  // the seconds left, and the lapse, are seen this often

bool left_button(const QEvent* event) {
  return static_cast<const QMouseEvent*>(event)->button() == Qt::LeftButton;
}

QString arm_words() {
  return QStringLiteral("Command switch ARMED: click it again within %1 s to send; otherwise nothing is sent")
      .arg(static_cast<int>(CommandArm::ARM_S));
}

}  // namespace

CommandConfirm::CommandConfirm(QWidget* form, QMainWindow* frame, std::function<void(const QString&)> say,
                               std::function<double()> clock_s)
    : say_(std::move(say)), clock_s_(std::move(clock_s)) {
  setting_ = new QAction(QStringLiteral("Confirm &commands (arm, then click again)"), frame);
  setting_->setObjectName(QStringLiteral("actionConfirmCommands"));
  setting_->setCheckable(true);
  setting_->setToolTip(QStringLiteral("On: the Command switch arms on a first click and sends on a second "
                                      "within %1 s. Off: one click sends (remembered)")
                           .arg(static_cast<int>(CommandArm::ARM_S)));
  const bool confirm = window_settings()->value(KEY_CONFIRM, true).toBool();
  setting_->setChecked(confirm);
  arm_.set_confirm(confirm);
  connect(setting_, &QAction::toggled, this, [this](bool on) {
    arm_.set_confirm(on);
    eat_release_ = false;
    window_settings()->setValue(KEY_CONFIRM, on);
    log_info(on ? "Operator: commands need confirming again (arm, then click again)"
                : "Operator: commands without confirmation: one click on the Command switch sends");
    draw();
  });
  clock_.start();
  tick_.setInterval(TICK_MS);
  connect(&tick_, &QTimer::timeout, this, [this] { draw(); });
  switch_ = form->findChild<QAbstractButton*>(QStringLiteral("PANEL_CMD"));
  if (!switch_) return;
  text_ = switch_->text();
  switch_->installEventFilter(this);
}

bool CommandConfirm::eventFilter(QObject* watched, QEvent* event) {
  // Playback and a link replay send nothing: the switch acts at once.
  if (watched != switch_ || transport_is_playback()) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      if (!left_button(event)) break;
      switch (arm_.click(now_s())) {
        case CommandArm::Click::Arms:
          eat_release_ = true;
          log_info("Operator: " + arm_words().toStdString());
          if (say_) say_(arm_words());
          tick_.start();
          draw();
          return true;
        case CommandArm::Click::Ignored:
          eat_release_ = true;
          return true;
        case CommandArm::Click::Sends:
          eat_release_ = false;
          if (say_ && arm_.confirm()) say_(QStringLiteral("Command switch confirmed: it moves and its command goes out"));
          draw();
          break;  // the switch takes the click and moves
      }
      break;
    }
    case QEvent::MouseButtonRelease:
      if (left_button(event) && eat_release_) {
        eat_release_ = false;
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void CommandConfirm::draw() {
  if (!switch_) return;
  const double now = now_s();
  if (arm_.lapsed(now)) {
    const QString text = QStringLiteral("Command switch disarmed: not confirmed within %1 s, nothing was sent")
                             .arg(static_cast<int>(CommandArm::ARM_S));
    log_info("Operator: " + text.toStdString());
    if (say_) say_(text);
  }
  const int left = arm_.seconds_left(now);
  if (left == shown_left_) return;
  shown_left_ = left;
  if (left > 0) {
    const LimitColours c = limit_colours();
    switch_->setText(QStringLiteral("ARMED %1 s").arg(left));
    switch_->setStyleSheet(QStringLiteral("QCheckBox { background: %1; color: %2; font-weight: bold; }")
                               .arg(c.caution_background.name(), c.caution_text.name()));
    return;
  }
  tick_.stop();
  switch_->setText(text_);
  switch_->setStyleSheet(QString());
}

}  // namespace rt
