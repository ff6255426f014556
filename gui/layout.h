// The window's layout, as the operator arranges it: the panel file's
// splitters (drag a handle to give a group more room), groups shown or
// hidden from the View menu (the Link group always stays), the theme (follow
// the system, light or dark), the window's size and place, and the docks it
// is told to remember (shown or not, and on which side). All of it is
// remembered between runs with QSettings under one organisation and
// application name (tests point QSettings at a folder of their own).
// GUI thread only.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QDockWidget;
class QGroupBox;
class QMainWindow;
class QSettings;
class QSplitter;
class QToolBar;
class QWidget;

namespace rt {

// The settings every part of the window keeps: IniFormat, user scope,
// organisation and application "vst_gse".
std::unique_ptr<QSettings> window_settings();
constexpr const char* SETTINGS_ORGANISATION = "vst_gse";
constexpr const char* SETTINGS_APPLICATION = "vst_gse";

// The theme the operator chose last, for what shows before the window (a
// start-up failure, the port chooser).
void apply_saved_theme();

class WindowLayout : public QObject {
 public:
  // `frame` holds `form` (the panel), which the panel file lays out at
  // `designed`; the View menu goes on `bar`. `on_theme` runs after the
  // theme changed (the window redraws what it coloured itself).
  WindowLayout(QMainWindow* frame, QWidget* form, QSize designed, QToolBar* bar, std::function<void()> on_theme);

  // A dock whose visibility and side are kept with the layout (Reset layout
  // shows it again where it was first put). Call before restore().
  void remember_dock(QDockWidget* dock);
  // Applies what the last run saved (else the defaults): theme, groups,
  // splitters, docks, window geometry. Call once, before the window is shown.
  void restore();
  // Shows the window. When nothing was saved: the panel at the size the
  // panel file gives it, centred, where the screen has room for it and the
  // bars around it; maximised where it has not. A saved size larger than
  // the screen is maximised too.
  void show();
  // Remembers the layout now (the window does it when it closes; changes
  // from the View menu are saved at once).
  void save();
  // Back to the panel file's layout: every group shown, splitters at their
  // default sizes. The theme stays.
  void reset();

 private:
  void build_menu(QToolBar* bar);
  void set_theme(int theme);
  void default_sizes();
  void hide_empty_splitters();
  int chrome_height() const;

  QMainWindow* frame_;
  QWidget* form_;
  QSize designed_;  // the panel's size in the panel file
  std::function<void()> on_theme_;
  std::vector<QSplitter*> splitters_;
  std::vector<std::pair<QGroupBox*, QAction*>> groups_;  // the ones that may be hidden
  std::vector<QAction*> theme_actions_;  // System, Light, Dark
  struct Dock {
    QDockWidget* dock;
    int area;  // as first put
  };
  std::vector<Dock> docks_;
  bool restored_geometry_ = false;
  QTimer save_later_;
};

}  // namespace rt
