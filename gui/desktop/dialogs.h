// The one door every modal question and notice of the program goes through,
// so that tests and unattended runs can see and answer them instead of
// waiting on an operator. GUI thread only.
//
// With no answerer installed a dialog runs as usual (exec), and a quit
// signal (quit_signalled, runtime/context.h) closes it within 50 ms as a
// teardown does (answered "no", closed_by_teardown). With one, the
// dialog is shown, the answerer decides, and the dialog is closed at once.
// The environment variable VST_GSE_DIALOG_ANSWERS installs one for the built
// program (install_answers_from_environment): a comma-separated list of
// answers used in order, each "accept", "reject" or "accept:TEXT" (TEXT goes
// into the dialog's editable field first, e.g. a port's device path; a file
// dialog's chosen file); every
// dialog is also written on standard error as "vst_gse: dialog NAME: TEXT".
// A dialog beyond the list is rejected. Under Qt's offscreen platform, where
// nobody can see a dialog, every dialog is written on standard error and
// given its unattended answer (the one that goes on as the program did before
// it asked) unless VST_GSE_DIALOG_ANSWERS says otherwise.
#pragma once

#include <functional>

class QDialog;
class QString;

namespace rt {

// Returns true when the dialog's answer is the accepting one (its OK, Yes or
// Retry), false when it is Cancel, No or closed.
using DialogAnswerer = std::function<bool(QDialog* dialog)>;
void set_dialog_answerer(DialogAnswerer answerer);

// Runs `dialog` modally (or through the answerer) and returns its answer.
// `unattended`: the answer when nobody can be asked (see above).
bool run_dialog(QDialog* dialog, bool unattended);

// A teardown that comes while a dialog is open (a signal during the quit
// question): answers every open dialog "no" and marks it so. True if one
// was open: its caller's code is still on the stack, under the dialog's own
// event loop, so what it uses must not be deleted before that loop ends.
bool close_open_dialogs();
// The dialog was closed by close_open_dialogs, not answered.
bool closed_by_teardown(const QDialog* dialog);

// The dialog's text as an answerer sees it: its title, then the text of its
// labels, joined by " | ".
QString dialog_text(const QDialog* dialog);

// Reads VST_GSE_DIALOG_ANSWERS (see above); does nothing when it is unset.
void install_answers_from_environment();

}  // namespace rt
