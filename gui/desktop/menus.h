// The window's menu bar and keyboard shortcuts. The menus are made of the
// actions the window's parts already own, found by objectName when the menus
// are built (an action that does not exist in this build is left out):
//   File      Open recording... (Ctrl+O), Connect to..., Save screenshot
//             (Ctrl+S), Save spectra, Export CSV..., Report..., Quit (Ctrl+Q)
//   Playback  Pause (Space), frame back and forward (Left, Right), From start
//             (Home), Loop: shown in playback only
//   View      the groups, the theme, Reset layout, the session log (Ctrl+L),
//             the alarm list (Ctrl+Shift+A), the trends (Ctrl+T), Full screen (F11;
//             Esc leaves it)
//   Alarms    the alarm list, Acknowledge all, Mute alarm sound, Limits...
//   Help      Keyboard shortcuts, Operator guide, About vst_gse
// GUI thread only.
#pragma once

#include <QString>

class QMainWindow;

namespace rt {

// Builds the menu bar of `frame` and gives the window's actions their
// shortcuts. Quit closes the window (which asks first in live mode).
void build_menus(QMainWindow* frame);

// The text of Help > Keyboard shortcuts: one line per action of `frame` that
// has a shortcut, "KEY<tab>what it does".
QString shortcut_list(const QMainWindow* frame);

}  // namespace rt
