#include "gui/theme.h"

#include <QApplication>
#include <QGuiApplication>
#include <QStyleHints>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace rt {

namespace {

// What the platform gave, before any theme was applied.
struct SystemLook {
  QPalette palette;
  QString style;
};

const SystemLook& system_look() {
  static const SystemLook look{QApplication::palette(), QApplication::style()->name()};
  return look;
}

Theme current = Theme::System;

QPalette light_palette() {
  QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
  QPalette p = fusion->standardPalette();
  delete fusion;
  p.setColor(QPalette::AlternateBase, QColor(0xf3, 0xf6, 0xf9));  // display fields
  p.setColor(QPalette::Mid, QColor(0xb8, 0xc0, 0xc8));            // field and group borders
  p.setColor(QPalette::Link, QColor(0x24, 0x49, 0x6e));           // group titles
  return p;
}

QPalette dark_palette() {
  QPalette p;
  const QColor window(0x2d, 0x2f, 0x33), text(0xe6, 0xe8, 0xea), base(0x1f, 0x21, 0x24),
      button(0x3a, 0x3d, 0x42), disabled(0x80, 0x84, 0x8a);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(0x26, 0x29, 0x2d));
  p.setColor(QPalette::ToolTipBase, QColor(0x40, 0x43, 0x48));
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, button);
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x6b));
  p.setColor(QPalette::Light, QColor(0x55, 0x59, 0x5f));
  p.setColor(QPalette::Midlight, QColor(0x48, 0x4b, 0x51));
  p.setColor(QPalette::Mid, QColor(0x5a, 0x5e, 0x65));
  p.setColor(QPalette::Dark, QColor(0x18, 0x1a, 0x1c));
  p.setColor(QPalette::Shadow, QColor(0x0c, 0x0c, 0x0e));
  p.setColor(QPalette::Highlight, QColor(0x3a, 0x82, 0xd0));
  p.setColor(QPalette::HighlightedText, QColor(0xff, 0xff, 0xff));
  p.setColor(QPalette::Link, QColor(0x8c, 0xbc, 0xf0));
  p.setColor(QPalette::LinkVisited, QColor(0xb0, 0x9c, 0xe8));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    p.setColor(QPalette::Disabled, role, disabled);
  return p;
}

}  // namespace

QString theme_name(Theme theme) {
  switch (theme) {
    case Theme::Light: return QStringLiteral("light");
    case Theme::Dark: return QStringLiteral("dark");
    case Theme::System: break;
  }
  return QStringLiteral("system");
}

Theme theme_from_name(const QString& name) {
  if (name == QLatin1String("light")) return Theme::Light;
  if (name == QLatin1String("dark")) return Theme::Dark;
  return Theme::System;
}

void apply_theme(Theme theme) {
  const SystemLook& system = system_look();
  current = theme;
  if (theme == Theme::System) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    // Qt tells the system's light or dark choice: follow it with our palette.
    if (QGuiApplication::styleHints()->colorScheme() == Qt::ColorScheme::Dark) {
      QApplication::setStyle(QStringLiteral("Fusion"));
      QApplication::setPalette(dark_palette());
      return;
    }
#endif
    QApplication::setStyle(system.style);
    QApplication::setPalette(system.palette);
    return;
  }
  QApplication::setStyle(QStringLiteral("Fusion"));
  QApplication::setPalette(theme == Theme::Dark ? dark_palette() : light_palette());
}

Theme current_theme() { return current; }

bool theme_is_dark() {
  const QPalette p = QApplication::palette();
  return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness();
}

LimitColours limit_colours() {
  if (theme_is_dark())
    return {QColor(0xe8, 0xa8, 0x1c), QColor(0x1c, 0x12, 0x00), QColor(0xd3, 0x2f, 0x2f),
            QColor(0xff, 0xff, 0xff)};
  return {QColor(0xff, 0xbf, 0x40), QColor(0x3a, 0x25, 0x00), QColor(0xc6, 0x16, 0x1c),
          QColor(0xff, 0xff, 0xff)};
}

TextColours text_colours() {
  const QColor info = QApplication::palette().color(QPalette::Text);
  if (theme_is_dark()) return {info, QColor(0x7c, 0xcf, 0x86), QColor(0xff, 0xb3, 0x47), QColor(0xff, 0x80, 0x80)};
  return {info, QColor(0x1d, 0x5e, 0x22), QColor(0x9a, 0x4d, 0x00), QColor(0xb0, 0x00, 0x00)};
}

QColor trace_colour(const QColor& colour) {
  if (!theme_is_dark() || colour.lightness() >= 140) return colour;
  QColor c = colour.toHsl();
  return QColor::fromHsl(c.hslHue(), c.hslSaturation(), 185);
}

}  // namespace rt
