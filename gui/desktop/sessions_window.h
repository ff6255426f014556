// File > Sessions... (Ctrl+Shift+O, the action "actionSessions"): every
// session of the archive's folder (~/vst_gse unless the operator chose
// another, kept in the settings) in a table that sorts by any column and
// filters by text in notes and log, an alarm's value, a lost port and a
// date range. The folder is indexed on a thread of its own, with progress,
// so the panel never waits for it (archive/archive.h); the table then
// reads the archive. One click on a session opens it for review on its own
// time: in playback it is played here; live, a review window (a second
// vst_gse) opens it while reception goes on. GUI thread.
#pragma once

#include <functional>
#include <string>

class QMainWindow;
class QString;

namespace rt {

// Adds the action to `frame` (the menus place it); `say` shows the outcome
// in the status bar. `open` takes the recording of a session clicked
// (tests); by default it is played, or opened in a review window live.
void add_sessions_action(QMainWindow* frame, std::function<void(const QString&)> say,
                         std::function<void(const std::string& recording)> open = {});

}  // namespace rt
