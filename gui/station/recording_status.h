// What happens to the received data, where nobody can miss it: in playback
// the file played; live, the recording file and its growing size, or a red
// NOT RECORDING label in the status bar and a banner across the toolbar; in
// a remote view, whose view it is and whether its frames are recorded.
// Runs on the GUI thread.
#pragma once

class QAction;
class QLabel;
class QStatusBar;
class QToolBar;

namespace rt {

class RecordingStatus {
 public:
  // Appends the banner (hidden until needed) to `bar` and the label to
  // `status`; they own them.
  RecordingStatus(QToolBar* bar, QStatusBar* status);

  // Shows the run-time's transport state: playback source or recording
  // (runtime/transport.h). Looks up the recording's size on disk.
  void draw();

 private:
  QLabel* recording_ = nullptr;
  QLabel* not_recording_ = nullptr;
  QAction* not_recording_action_ = nullptr;
};

}  // namespace rt
