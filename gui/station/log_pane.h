// The session log in the window: a dock below the panel (hidden until the
// operator asks for it with "actionShowLog", Ctrl+L), newest entries at the
// bottom and kept in view, a filter by severity, a search ("logSearch":
// the lines that hold its text; "note" finds the notes), and a bounded
// history of LOG_PANE_LINES. It shows the entries of session/session_log.h;
// in playback of a recording with a session record it shows the pass's own
// log by default ("logSource" chooses). A line leads to its moment
// (on_moment): live by a double-click (a review window opens; no key
// does), in the pass's log by a click or Enter (the playback moves there). Runs on
// the GUI thread.
#pragma once

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "session/session_log.h"

class QAction;
class QComboBox;
class QDockWidget;
class QEvent;
class QLineEdit;
class QMainWindow;
class QPlainTextEdit;
class QString;

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

  // A line chosen: its time (seconds since 1970), its byte in the recording
  // (-1: not known) and its text.
  std::function<void(double t_s, int64_t offset, const QString& what)> on_moment;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A line as shown, and where it leads.
  struct Line {
    LogEntry entry;
    int64_t offset = -1;
    bool pass = false;  // of the pass's log
  };
  bool passes(const Line& l) const;
  void append(const Line& l);
  void rebuild();
  void choose(int block);
  bool showing_pass() const;

  QDockWidget* dock_ = nullptr;
  QAction* show_ = nullptr;
  QComboBox* filter_ = nullptr;  // "logFilter"
  QComboBox* source_ = nullptr;  // "logSource": this session, or the pass's log
  QLineEdit* search_ = nullptr;  // "logSearch"
  QPlainTextEdit* text_ = nullptr;  // "logText"
  QObject* viewport_ = nullptr;  // text_'s, compared only: the filter sees it while text_ is torn down
  std::deque<Line> kept_;   // this session's entries
  std::deque<Line> shown_;  // the lines shown, one per block of text_
  std::vector<Line> pass_lines_;
  const void* pass_shown_ = nullptr;  // the pass whose log is held
  uint64_t seen_ = 0;
};

}  // namespace rt
