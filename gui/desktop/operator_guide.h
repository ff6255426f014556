// Help > Operator guide: the installed guide (the README, as HTML where the
// build made it) opened in a web browser: the one $BROWSER names, else the
// system's (x-www-browser), else the desktop's handler for web pages
// (xdg-open) when that is a browser. Without one (where the desktop would
// open the page in a text editor, say), the program shows the guide itself
// in a viewer of its own; only a guide that is not installed is said in a
// notice. GUI thread only.
#pragma once

#include <QString>

class QWidget;

namespace rt {

// Where the guide is looked for, from the executable's folder: the
// installed README.html, then README.md (../share/doc/vst_gse/), then the
// same beside the executable. Empty when none is there.
QString operator_guide_path();

// Opens the guide (see above). `parent`: the window the viewer or notice
// belongs to.
void open_operator_guide(QWidget* parent);

}  // namespace rt
