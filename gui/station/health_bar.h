// The link health bar, always visible above the panel, live and in playback:
// the state in words and colour, what led to it, the byte and good-frame
// rates, failures by kind over the last minute and in total, the bytes the
// station skipped and the age of the last good frame. It shows a
// HealthSnapshot (session/link_health.h) and keeps no state of its own.
// Runs on the GUI thread.
#pragma once

#include "session/link_health.h"

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QString;
class QToolButton;
class QWidget;

namespace rt {

class HealthBar {
 public:
  // Makes the bar (objectName "healthBar"); the caller places and owns it.
  HealthBar();
  QWidget* widget() const { return bar_; }

  // The device COM1 stands for ("COM1 = /dev/ttyUSB0"); empty hides it
  // (playback).
  void show_port(const QString& device);

  // Shows `s`. Only the texts that changed are set. Figures that are not
  // numbers (NaN bytes or frames per second: nothing known) leave the
  // second row empty.
  void draw(const HealthSnapshot& s);

  // The unacknowledged alarms ("2 ALARMS", red when one of them is, else
  // amber; `which` for its tooltip) beside the state; hidden when `text` is
  // empty. A click on it (alarms_button) is for the window to connect.
  void show_alarms(const QString& text, bool red, const QString& which);
  QAbstractButton* alarms_button() const;
  // MUTED beside the alarm count while the alarm sound is muted, with or
  // without alarms waiting.
  void show_muted(bool muted);
  // Places another indicator at the bar's right end (the caller draws it).
  void place(QWidget* indicator);

  // The state's colours: background and text, as "#rrggbb".
  static const char* background(LinkState state);
  static const char* foreground(LinkState state);

 private:
  QWidget* bar_ = nullptr;
  QLabel* state_ = nullptr;     // "healthState"
  QLabel* port_ = nullptr;      // "healthPort"
  QLabel* reason_ = nullptr;    // "healthReason"
  QLabel* rates_ = nullptr;     // "healthRates"
  QLabel* failures_ = nullptr;  // "healthFailures"
  QLabel* skipped_ = nullptr;   // "healthSkipped"
  QLabel* age_ = nullptr;       // "healthAge"
  QToolButton* alarms_ = nullptr;  // "healthAlarms"
  QLabel* muted_ = nullptr;        // "healthMuted"
  int alarms_look_ = -1;           // 0 amber, 1 red, as styled
  QHBoxLayout* row_ = nullptr;
  bool drawn_ = false;
  LinkState drawn_state_ = LinkState::Waiting;
};

}  // namespace rt
