// The operator's note on the session: File > Note... (Ctrl+N, the action
// "actionNote") asks for a line of text ("balloon cut-down commanded here")
// and puts it on the session at that moment (runtime/session_watch.h's
// watch_note): the log, the session record, the trends' time axis, the
// summary, and whatever the log is published to. The status bar says so.
// GUI thread.
#pragma once

#include <functional>

class QMainWindow;
class QString;

namespace rt {

// Adds the action to `frame` (the menus place it); `say` shows the outcome.
void add_note_action(QMainWindow* frame, std::function<void(const QString&)> say);

}  // namespace rt
