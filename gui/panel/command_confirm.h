// The Command switch arms on a first click and sends on a second
// (session/command_arm.h): while armed it reads ARMED, amber, with the
// seconds left; a click within that time moves it and its command goes out
// as before (the window turns the click into the panel event). The
// confirmation is a setting ("actionConfirmCommands", on by default,
// remembered): off, one click sends. Live only: playback and a link replay
// send nothing. The keyboard never moves the switch (command_keys.h).
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "session/command_arm.h"

class QAbstractButton;
class QAction;
class QMainWindow;
class QWidget;

namespace rt {

class CommandConfirm : public QObject {
 public:
  // Guards PANEL_CMD of `form`; the setting's action is made a child of
  // `frame` (for the menus). `say` shows a message (the status bar).
  // `clock_s`: seconds on any origin (tests); by default the steady clock.
  CommandConfirm(QWidget* form, QMainWindow* frame, std::function<void(const QString&)> say,
                 std::function<double()> clock_s = {});
  QAction* setting() const { return setting_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  double now_s() const { return clock_s_ ? clock_s_() : static_cast<double>(clock_.elapsed()) / 1000.0; }
  void draw();

  QAbstractButton* switch_ = nullptr;
  QString text_;  // the switch's own text, as the panel file gives it
  QAction* setting_ = nullptr;
  std::function<void(const QString&)> say_;
  CommandArm arm_;
  bool eat_release_ = false;  // the press that armed: its release moves nothing
  int shown_left_ = -1;
  QTimer tick_;
  QElapsedTimer clock_;
  std::function<double()> clock_s_;
};

}  // namespace rt
