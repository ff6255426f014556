// The session log in the window: a dock below the panel (hidden until the
// operator asks for it with "actionShowLog", Ctrl+L), newest entries at the
// bottom and kept in view, a filter by severity, and a bounded history of
// LOG_PANE_LINES. It shows the entries of session/session_log.h. Runs on the
// GUI thread.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>

#include "session/session_log.h"

class QAction;
class QComboBox;
class QDockWidget;
class QMainWindow;
class QPlainTextEdit;

namespace rt {

constexpr int LOG_PANE_LINES = 2000;

// A QObject only so that its connections end with it.
class LogPane : public QObject {
 public:
  // Adds the dock (objectName "logDock") to `window`, and the action
  // "actionShowLog" (checkable, Ctrl+L), owned by the window, that shows it.
  explicit LogPane(QMainWindow* window);
  QAction* show_action() const { return show_; }

  // Takes the entries made since the last call.
  void poll();
  // Draws the entries again in the colours of the theme now in use.
  void restyle() { rebuild(); }

 private:
  bool passes(const LogEntry& e) const;
  void append(const LogEntry& e);
  void rebuild();

  QDockWidget* dock_ = nullptr;
  QAction* show_ = nullptr;
  QComboBox* filter_ = nullptr;  // "logFilter"
  QPlainTextEdit* text_ = nullptr;  // "logText"
  std::deque<LogEntry> kept_;
  uint64_t seen_ = 0;
};

}  // namespace rt
