// The look of a value display when more than one thing marks it at once:
// its limit level (limit_look.h) and its value being stale (stale_marker.h).
// Each of them sets only its own part here, and the display shows the two
// composed in one style sheet: a stale display keeps the colour of its
// limit level as its border (its text is grey, as every stale value), and
// leaving stale brings the full limit look back, whatever was drawn while
// it was stale. The parts are kept on the widget itself. GUI thread only.
#pragma once

#include <QString>

#include "present/limits.h"

class QWidget;

namespace rt {

void show_limit_level(QWidget* display, LimitLevel level);
void show_stale(QWidget* display, bool stale);
// Composes again in the colours of the current theme.
void restyle_display(QWidget* display);

// The style sheet of a display of class `cls` whose own sheet is `base`
// (exposed for tests).
QString display_sheet(const QString& base, const QString& cls, LimitLevel level, bool stale);

}  // namespace rt
