// File > Report... (the action "actionReport"): the end-of-pass report of
// the session being shown (archive/report.h), of the values the operator
// ticks, where a file dialog says. Live
// it is the recording so far; in playback the recording played. The file's
// suffix picks the kind: ".html" the self-contained page the headless
// --report writes, ".pdf" the same page printed by Qt's PDF writer (its
// charts drawn in). The report is made on a thread of its own, so the panel
// never waits for it; the outcome is said in a message box, the status bar
// and the log, a failure with the file and the reason. GUI thread.
#pragma once

#include <functional>
#include <string>

class QMainWindow;
class QString;
class QWidget;

namespace rt {

// Adds the action to `frame` (the menus place it); `say` shows a line in the
// status bar.
void add_report_action(QMainWindow* frame, std::function<void(const QString&)> say);

// Asks which values (gui/desktop/report_values_dialog.h, ticked from the
// settings' default set), then where (a file dialog through run_dialog,
// gui/desktop/dialogs.h), then writes the report of `recording` there in
// the background. The Sessions
// window uses it for the session chosen.
void ask_and_write_report(QWidget* parent, const QString& recording, std::function<void(const QString&)> say);

// The report of `recording`, of the settings' default values, written to
// `path` at once: a PDF when its name
// ends in ".pdf" (any case), else HTML; whole or not at all. False with
// *error naming the file and the reason ("cannot write report PATH: No
// space left on device"). For tests and the background run.
bool write_report_file(const QString& recording, const QString& path, QString* error);

// The PDF of a report's HTML written to `path` (whole or not at all). False
// with *error naming the file and the reason.
bool write_report_pdf(const std::string& html, const QString& path, QString* error);

}  // namespace rt
