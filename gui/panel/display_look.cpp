#include "gui/panel/display_look.h"

#include <QVariant>
#include <QWidget>

#include "gui/theme.h"

namespace rt {

namespace {

// The parts, as dynamic properties of the display. The base is its own
// style sheet before either part first touched it.
const char* const BASE = "gseLookBase";
const char* const LEVEL = "gseLookLevel";
const char* const STALE = "gseLookStale";

const char* const STALE_TEXT = "#9a9a9a";

void compose(QWidget* display) {
  if (!display->property(BASE).isValid()) display->setProperty(BASE, display->styleSheet());
  const auto level = static_cast<LimitLevel>(display->property(LEVEL).toInt());
  const QString sheet = display_sheet(display->property(BASE).toString(),
                                      QString::fromLatin1(display->metaObject()->className()), level,
                                      display->property(STALE).toBool());
  if (display->styleSheet() != sheet) display->setStyleSheet(sheet);
}

}  // namespace

QString display_sheet(const QString& base, const QString& cls, LimitLevel level, bool stale) {
  if (level == LimitLevel::Normal)
    return stale ? base + QStringLiteral(" %1 { color: %2; }").arg(cls, QLatin1String(STALE_TEXT)) : base;
  const LimitColours c = limit_colours();
  const QColor& background = level == LimitLevel::Alarm ? c.alarm_background : c.caution_background;
  const QColor& text = level == LimitLevel::Alarm ? c.alarm_text : c.caution_text;
  // Stale: grey text on the field's own background (readable as every
  // stale value), the level's colour kept as a thick border.
  if (stale)
    return base + QStringLiteral(" %1 { color: %2; border: 3px solid %3; font-weight: bold; }")
                      .arg(cls, QLatin1String(STALE_TEXT), background.name());
  return base + QStringLiteral(" %1 { background: %2; color: %3; border: 1px solid %3; font-weight: bold; }")
                    .arg(cls, background.name(), text.name());
}

void show_limit_level(QWidget* display, LimitLevel level) {
  if (!display->property(BASE).isValid()) display->setProperty(BASE, display->styleSheet());
  display->setProperty(LEVEL, static_cast<int>(level));
  compose(display);
}

void show_stale(QWidget* display, bool stale) {
  if (!display->property(BASE).isValid()) display->setProperty(BASE, display->styleSheet());
  display->setProperty(STALE, stale);
  compose(display);
}

void restyle_display(QWidget* display) {
  if (display->property(BASE).isValid()) compose(display);
}

}  // namespace rt
