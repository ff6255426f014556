// "Open recording..." (Ctrl+O): plays another recording without restarting
// the program, chosen in a file dialog (which starts in the folder last
// used, kept in the settings) or dropped onto the window. The run-time
// switches the input at the start of the next frame pass (replay/replay.h);
// the title, the position bar and the session log follow. A link replay
// opens another link replay. Live mode has no playback input to switch: the
// action is there but disabled, and drops are refused. GUI thread.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMainWindow;
class QToolBar;

namespace rt {

class OpenRecording : public QObject {
 public:
  // Adds the action to `bar` and takes drops on `window`. `say` shows a
  // line in the status bar.
  OpenRecording(QMainWindow* window, QToolBar* bar, std::function<void(const QString&)> say);

  // Asks for `path` to be played. False (and said why) when it is not a
  // file or the program is in live mode.
  bool open(const QString& path);
  // The folder the dialog starts in.
  static QString last_folder();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void choose();

  QMainWindow* window_;
  QAction* action_;
  std::function<void(const QString&)> say_;
};

}  // namespace rt
