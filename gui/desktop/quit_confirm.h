// Asks the operator before a live session ends from the window: closing it,
// File > Quit (Ctrl+Q) or the panel's Quit button. Quitting live stops the
// recording and sends the instrument the stop command, so one stray click must
// not do it. Playback, a link replay, an event script, a signal (Ctrl+C,
// SIGTERM, SIGHUP) and headless runs never come here and never ask.
// GUI thread only.
#pragma once

class QWidget;

namespace rt {

extern const char* const QUIT_QUESTION;

// True when the session may end: not live, or the operator said Yes.
bool operator_may_quit(QWidget* parent);

}  // namespace rt
