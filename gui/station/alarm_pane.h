// The alarm list in the window (session/alarms.h, kept by the session
// watch): a dock below the panel (objectName "alarmDock", shown by the
// checkable action "actionShowAlarms", Ctrl+Shift+A, or a click on the
// health bar's count of alarms), one row per alarm
// with its severity, source, first and last time, count, worst value and
// limit, state now and acknowledgement; the unacknowledged ones first and
// in bold. "Acknowledge" takes the selected rows, "Acknowledge all"
// ("actionAcknowledgeAll") every one. A field ("alarmSearch") keeps the
// rows that hold its text. A row leads to its moment (on_moment): in
// playback a click or Enter on it; live a double-click only (a click there
// selects it to be acknowledged, and no key opens a review window). In playback of a recording with a
// session record the list is the pass's own, each row with the frame it
// began at ("Began at"), read-only (no acknowledging a record of what
// happened). The sound (annunciator.h, on
// AlarmSound or a test's sink) follows the list; "actionMuteAlarms" mutes
// it, remembered in the settings (and published with the station's list).
// In a remote view the pane shows the station's list as published
// (publish/viewer.h), read-only: no acknowledging here. GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "session/alarms.h"
#include "session/annunciator.h"

class QAction;
class QDockWidget;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QPushButton;
class QScrollArea;
class QWidget;
class QTableWidget;

namespace rt {

// "" with no unacknowledged alarm, else "1 ALARM", "2 ALARMS", ...
QString alarm_count_text(int unacknowledged);

class AlarmPane : public QObject {
 public:
  // Adds the dock to `window` (at the bottom, hidden) and its actions.
  explicit AlarmPane(QMainWindow* window);
  ~AlarmPane() override;
  QDockWidget* dock() const { return dock_; }
  QAction* show_action() const;
  // Puts `action` on the pane's row of buttons (Limits...).
  void add_button(QAction* action);

  // Takes the list if it changed, and lets the sound follow it.
  void poll();
  const AlarmStatus& status() const { return status_; }
  // The operator muted the alarm sound ("actionMuteAlarms").
  bool muted() const;
  // The unacknowledged alarms, one a line: "HK16 out of limits (red) since
  // 2024-05-01 03:00:00" (at most a dozen, then how many more).
  QString unacknowledged_text() const;
  // Shows the pane and brings it to the front.
  void reveal();
  // Where docking the pane below the panel would make the panel scroll (a
  // 1366x768 screen: the strip chart and spectra would go out of view), it
  // shows floating instead, over `over` (the hex dump's group), the panel
  // whole beside it. Once the operator docks it again, it stays docked.
  void keep_panel_whole(QScrollArea* scroll, QWidget* over);
  // Draws again in the colours of the current theme.
  void restyle();
  // A row chosen: its first time (seconds since 1970), its byte in the
  // recording (-1: not known) and its name.
  std::function<void(double t_s, int64_t offset, const QString& what)> on_moment;

 private:
  void draw();
  void acknowledge_selected();
  void enable_acknowledge();
  void choose(int row);
  // The moment row `a` began at: time and byte (-1 when not known).
  void began_at(const Alarm& a, double* t_s, int64_t* offset) const;
  void float_if_panel_scrolls();

  const bool remote_;  // a remote view: the station's list
  QDockWidget* dock_ = nullptr;
  QTableWidget* table_ = nullptr;  // "alarmTable"
  QHBoxLayout* buttons_ = nullptr;  // the count, the buttons, a stretch
  int placed_ = 0;                   // buttons so far
  QPushButton* acknowledge_ = nullptr;  // "acknowledgeAlarm"
  QLabel* count_ = nullptr;             // "alarmCount"
  QLineEdit* search_ = nullptr;         // "alarmSearch"
  QAction* acknowledge_all_ = nullptr;
  QAction* mute_ = nullptr;
  std::vector<Alarm> rows_;
  AlarmStatus status_;
  bool recorded_ = false;  // the pass's own list
  bool drawn_indexed_ = false;  // drawn with the frames the rows began at
  uint64_t version_ = ~uint64_t{0};
  std::unique_ptr<ToneSink> sound_;
  std::unique_ptr<Annunciator> annunciator_;
  QElapsedTimer clock_;
  QScrollArea* scroll_ = nullptr;
  QWidget* over_ = nullptr;
  bool floated_ = false;        // floated here, to keep the panel whole
  bool docked_by_hand_ = false;  // the operator docked it again since
};

}  // namespace rt
