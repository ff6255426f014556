#include "gui/layout.h"

#include <QAction>
#include <QActionGroup>
#include <QDockWidget>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QSettings>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>

#include "gui/theme.h"

namespace rt {

namespace {

// Bump when the panel file's splitters change, so an old saved state is
// not applied to a different arrangement.
constexpr int LAYOUT_VERSION = 1;
constexpr int SAVE_AFTER_MS = 500;
// What a window manager adds around a window, at most, on the screens the
// station is laid out for.
constexpr int TITLE_BAR = 32;
constexpr int FRAME_BORDER = 4;

const QString KEY_THEME = QStringLiteral("window/theme");
const QString KEY_GEOMETRY = QStringLiteral("window/geometry");
const QString KEY_VERSION = QStringLiteral("layout/version");
const QString KEY_HIDDEN = QStringLiteral("layout/hidden");

QString splitter_key(const QSplitter* s) { return QStringLiteral("layout/splitter/") + s->objectName(); }
QString dock_key(const QDockWidget* d, const char* what) {
  return QStringLiteral("layout/dock/") + d->objectName() + QLatin1Char('/') + QLatin1String(what);
}

int stretch_of(const QWidget* w, Qt::Orientation o) {
  return o == Qt::Horizontal ? w->sizePolicy().horizontalStretch() : w->sizePolicy().verticalStretch();
}

}  // namespace

std::unique_ptr<QSettings> window_settings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QLatin1String(SETTINGS_ORGANISATION),
                                     QLatin1String(SETTINGS_APPLICATION));
}

void apply_saved_theme() {
  const Theme theme = theme_from_name(window_settings()->value(KEY_THEME).toString());
  if (theme != Theme::System) apply_theme(theme);
}

WindowLayout::WindowLayout(QMainWindow* frame, QWidget* form, QSize designed, QToolBar* bar,
                           std::function<void()> on_theme)
    : frame_(frame), form_(form), designed_(designed), on_theme_(std::move(on_theme)) {
  // A drag moves a splitter many times a second: save once it rests.
  save_later_.setSingleShot(true);
  save_later_.setInterval(SAVE_AFTER_MS);
  connect(&save_later_, &QTimer::timeout, this, [this] { save(); });
  for (QSplitter* s : form->findChildren<QSplitter*>()) {
    splitters_.push_back(s);
    connect(s, &QSplitter::splitterMoved, &save_later_, qOverload<>(&QTimer::start));
  }
  build_menu(bar);
}

void WindowLayout::build_menu(QToolBar* bar) {
  auto* menu = new QMenu(frame_);
  menu->setObjectName(QStringLiteral("viewMenu"));
  for (QGroupBox* g : form_->findChildren<QGroupBox*>()) {
    if (g->property("alwaysVisible").toBool() || g->title().isEmpty()) continue;
    QAction* a = menu->addAction(g->title());
    a->setObjectName(QStringLiteral("show_") + g->objectName());
    a->setCheckable(true);
    a->setChecked(true);
    connect(a, &QAction::toggled, this, [this, g](bool on) {
      g->setVisible(on);
      hide_empty_splitters();
      save();
    });
    groups_.emplace_back(g, a);
  }
  menu->addSeparator();
  QMenu* themes = menu->addMenu(QStringLiteral("Theme"));
  auto* exclusive = new QActionGroup(themes);
  const char* const names[] = {"Follow the system", "Light", "Dark"};
  for (int t = 0; t < 3; ++t) {
    QAction* a = themes->addAction(QLatin1String(names[t]));
    a->setObjectName(QStringLiteral("theme_") + theme_name(static_cast<Theme>(t)));
    a->setCheckable(true);
    exclusive->addAction(a);
    connect(a, &QAction::triggered, this, [this, t] { set_theme(t); });
    theme_actions_.push_back(a);
  }
  menu->addSeparator();
  QAction* reset_action = menu->addAction(QStringLiteral("Reset layout"));
  reset_action->setObjectName(QStringLiteral("resetLayout"));
  connect(reset_action, &QAction::triggered, this, [this] { reset(); });

  auto* button = new QToolButton;
  button->setObjectName(QStringLiteral("viewButton"));
  button->setText(QStringLiteral("View"));
  button->setToolTip(QStringLiteral("Show or hide groups, choose the theme, reset the layout"));
  button->setMenu(menu);
  button->setPopupMode(QToolButton::InstantPopup);
  bar->addWidget(button);
}

void WindowLayout::set_theme(int theme) {
  const Theme t = static_cast<Theme>(theme);
  theme_actions_[static_cast<size_t>(theme)]->setChecked(true);
  apply_theme(t);
  // The panel's style sheet takes its colours from the palette: read again.
  form_->setStyleSheet(form_->styleSheet());
  if (on_theme_) on_theme_();
  window_settings()->setValue(KEY_THEME, theme_name(t));
}

// A splitter whose groups are all hidden gives its room to the others.
void WindowLayout::hide_empty_splitters() {
  for (QSplitter* s : splitters_) {
    bool any = false;
    for (int i = 0; i < s->count(); ++i) any = any || !s->widget(i)->isHidden();
    s->setVisible(any);
  }
}

// Each splitter's children at their preferred size, the ones with a stretch
// sharing what is left by their stretch (as a splitter lays them out at
// first).
void WindowLayout::default_sizes() {
  for (QSplitter* s : splitters_) {
    const Qt::Orientation o = s->orientation();
    const int total = o == Qt::Horizontal ? s->width() : s->height();
    QList<int> sizes;
    int fixed = 0, stretch = 0;
    for (int i = 0; i < s->count(); ++i) {
      const QWidget* w = s->widget(i);
      const int want = o == Qt::Horizontal ? w->sizeHint().width() : w->sizeHint().height();
      const int k = stretch_of(w, o);
      sizes.append(k == 0 ? want : 0);
      if (k == 0) fixed += want;
      stretch += k;
    }
    const int left = std::max(0, total - fixed - s->handleWidth() * (s->count() - 1));
    for (int i = 0; i < s->count(); ++i) {
      const int k = stretch_of(s->widget(i), o);
      if (k > 0) sizes[i] = stretch > 0 ? left * k / stretch : 0;
    }
    s->setSizes(sizes);
  }
}

void WindowLayout::remember_dock(QDockWidget* dock) {
  docks_.push_back({dock, static_cast<int>(frame_->dockWidgetArea(dock))});
  // The operator's own showing and hiding (not the window's minimising).
  connect(dock->toggleViewAction(), &QAction::toggled, &save_later_, qOverload<>(&QTimer::start));
  connect(dock, &QDockWidget::dockLocationChanged, &save_later_, qOverload<>(&QTimer::start));
}

void WindowLayout::restore() {
  auto settings = window_settings();
  for (const Dock& d : docks_) {
    const QVariant area = settings->value(dock_key(d.dock, "area"));
    if (area.isValid() && (area.toInt() & d.dock->allowedAreas()))
      frame_->addDockWidget(static_cast<Qt::DockWidgetArea>(area.toInt()), d.dock);
    d.dock->setVisible(settings->value(dock_key(d.dock, "shown"), !d.dock->isHidden()).toBool());
  }
  const Theme theme = theme_from_name(settings->value(KEY_THEME).toString());
  theme_actions_[static_cast<size_t>(theme)]->setChecked(true);
  if (theme != Theme::System || current_theme() != Theme::System) {
    apply_theme(theme);
    form_->setStyleSheet(form_->styleSheet());
    if (on_theme_) on_theme_();
  }
  restored_geometry_ = frame_->restoreGeometry(settings->value(KEY_GEOMETRY).toByteArray());
  if (settings->value(KEY_VERSION).toInt() != LAYOUT_VERSION) return;
  const QStringList hidden = settings->value(KEY_HIDDEN).toStringList();
  for (auto& [group, action] : groups_) {
    const QSignalBlocker block(action);
    const bool shown = !hidden.contains(group->objectName());
    action->setChecked(shown);
    group->setVisible(shown);
  }
  hide_empty_splitters();
  for (QSplitter* s : splitters_) s->restoreState(settings->value(splitter_key(s)).toByteArray());
}

void WindowLayout::show() {
  const QScreen* screen = frame_->screen() ? frame_->screen() : QGuiApplication::primaryScreen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
  // Room for the title bar and borders the window manager adds.
  const QSize decorations(2 * FRAME_BORDER, TITLE_BAR + 2 * FRAME_BORDER);
  if (restored_geometry_) {
    // A size saved on a larger screen, or before the window could shrink,
    // never runs off this one.
    const QSize saved = frame_->size() + decorations;
    if (saved.width() > room.width() || saved.height() > room.height()) frame_->showMaximized();
    else frame_->show();
    return;
  }
  // The first start: the panel at the size the panel file gives it, with
  // the menus, bars and status line around it, where the screen has room
  // for all of it; else the whole screen.
  const QSize want(designed_.width(), designed_.height() + chrome_height());
  if (want.width() + decorations.width() > room.width() || want.height() + decorations.height() > room.height()) {
    frame_->showMaximized();
    return;
  }
  frame_->resize(want);
  frame_->move(room.center() - QPoint(want.width(), want.height()) / 2);
  frame_->show();
}

// The height of what the window puts around the panel: the menu bar, the
// toolbar, the health bar and the status line.
int WindowLayout::chrome_height() const {
  int h = 0;
  if (frame_->menuWidget()) h += frame_->menuWidget()->sizeHint().height();
  for (const QToolBar* bar : frame_->findChildren<QToolBar*>()) h += bar->sizeHint().height();
  if (const QWidget* health = frame_->findChild<QWidget*>(QStringLiteral("healthBar"))) h += health->sizeHint().height();
  if (frame_->statusBar()) h += frame_->statusBar()->sizeHint().height();
  return h;
}

void WindowLayout::save() {
  auto settings = window_settings();
  settings->setValue(KEY_VERSION, LAYOUT_VERSION);
  settings->setValue(KEY_GEOMETRY, frame_->saveGeometry());
  QStringList hidden;
  for (const auto& [group, action] : groups_)
    if (!action->isChecked()) hidden.append(group->objectName());
  settings->setValue(KEY_HIDDEN, hidden);
  for (const QSplitter* s : splitters_) settings->setValue(splitter_key(s), s->saveState());
  for (const Dock& d : docks_) {
    settings->setValue(dock_key(d.dock, "shown"), d.dock->toggleViewAction()->isChecked());
    settings->setValue(dock_key(d.dock, "area"), static_cast<int>(frame_->dockWidgetArea(d.dock)));
  }
}

void WindowLayout::reset() {
  for (auto& [group, action] : groups_) action->setChecked(true);
  for (const Dock& d : docks_) {
    frame_->addDockWidget(static_cast<Qt::DockWidgetArea>(d.area), d.dock);
    d.dock->show();
  }
  default_sizes();
  save();
}

}  // namespace rt
