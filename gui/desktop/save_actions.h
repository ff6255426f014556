// "Save screenshot" and "Save spectra" on the window's toolbar. Each writes a
// file named from the time into the working directory and says where (or
// why not). Neither raises a panel event. Runs on the GUI thread.
#pragma once

#include <functional>

class QDateTime;
class QImage;
class QString;
class QToolBar;
class QWidget;

namespace rt {

// Appends both actions to `bar` (which owns them). The screenshot is a PNG
// of the whole `window` with a caption (window_snapshot); the spectra are
// written by the system's thread at its next poll (runtime/transport.h),
// which reports the outcome itself. `say` shows a message to the operator.
void add_save_actions(QToolBar* bar, QWidget* window, std::function<void(const QString&)> say);

// `window` as it is on screen (toolbar, panel, status bar), with a strip
// below it saying what it shows: the window's title (the source: the
// recording played, or the live link and its recording) and `when`.
QImage window_snapshot(QWidget* window, const QDateTime& when);
// The caption's text: "TITLE    YYYY-MM-DD HH:MM:SS".
QString snapshot_caption(const QWidget* window, const QDateTime& when);

}  // namespace rt
