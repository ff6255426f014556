// The panel window: the panel file loaded with QUiLoader, each widget bound
// to its model control by objectName. Every function here runs on the GUI
// thread. The window redraws what changed in the model about 30 times a
// second and turns committed operator input into model values and events.
// Around the panel it offers what the panel's controls do not (see
// runtime/transport.h); none of that raises panel events.
#pragma once

#include <string>

class QWidget;

namespace rt {

class PanelModel;
class PanelWindow;

// Builds the window for `model` from the panel file at `uir_path`. Checks that
// every model control has a widget of the right class. Returns nullptr and
// sets *error (naming the file and the reason) on failure.
PanelWindow* create_panel_window(PanelModel& model, const std::string& uir_path,
                                 std::string* error);
void show_panel_window(PanelWindow* window);
// Draws every pending model change now (tests; the timer does it otherwise).
void refresh_panel_window(PanelWindow* window);
void destroy_panel_window(PanelWindow* window);
// The top-level window: the panel form with the operator's toolbar
// (playback transport, "Save screenshot", "Save spectra", View) above it
// and a status bar (recording state, housekeeping out of limits, messages)
// below it. For grabs in tests.
QWidget* panel_widget(PanelWindow* window);
// The panel form alone, as the panel file lays it out.
QWidget* panel_form(PanelWindow* window);

}  // namespace rt
