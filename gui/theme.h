// The window's light and dark themes: a palette for each (Fusion style), or
// the system's own look. The panel file's style sheet takes its colours from
// the palette, so it follows. Colours that mean something (limits, the
// plots' traces) are chosen here to stay readable in both. GUI thread only.
#pragma once

#include <QColor>
#include <QString>

namespace rt {

enum class Theme { System, Light, Dark };

// "system", "light", "dark"; an unknown name reads as System.
QString theme_name(Theme theme);
Theme theme_from_name(const QString& name);

// Sets the application's palette (and style) for `theme`. System restores
// the palette and style the platform gave at the first call; from Qt 6.5 on,
// where Qt reports the system's dark choice, System takes the dark palette
// then.
void apply_theme(Theme theme);
Theme current_theme();
// Whether the palette in use is dark (System follows the platform's).
bool theme_is_dark();

// Background and text of a display in caution or in alarm, for the palette
// in use.
struct LimitColours {
  QColor caution_background, caution_text, alarm_background, alarm_text;
};
LimitColours limit_colours();

// Text colours that carry a meaning, for the palette in use: each reads at
// a contrast of at least 4.5:1 on the palette's Base (the log pane) and
// Window (the status bar). `info` is the palette's own text colour.
struct TextColours {
  QColor info, good, warning, error;
};
TextColours text_colours();

// A trace colour as drawn on the palette in use: dark colours are lightened
// on a dark background (the system's pure blue would vanish there).
QColor trace_colour(const QColor& colour);

}  // namespace rt
