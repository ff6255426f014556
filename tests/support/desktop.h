// A real X desktop for the `desktop` tests: an Xvfb server of a given size
// and the openbox window manager on it, started for one test and stopped at
// its end, and the X tools that drive and read it (xdotool sends real input
// through the XTEST extension; xwininfo and xprop read back what the server
// and the window manager made of a window; ImageMagick's import grabs the
// screen).
//
// Each Desktop takes a display number of its own (Xvfb -displayfd picks a
// free one with no race), so tests can run side by side (ctest -j2).
#pragma once

#include <QImage>

#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_desktop {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

class Desktop {
 public:
  // Starts Xvfb at width x height (24-bit) and openbox, and waits until the
  // window manager has taken the screen. Throws std::runtime_error.
  Desktop(int width, int height);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  const std::string& display() const { return display_; }
  // The environment for a program shown on it: DISPLAY, Qt's xcb platform.
  std::vector<std::string> env() const;

  // Runs an X tool (xdotool, xwininfo, xprop, import) on this display and
  // returns its standard output; *status gets its exit status.
  std::string tool(const std::string& name, const std::vector<std::string>& args, int* status = nullptr) const;

  // The visible windows whose title matches `pattern` (an extended regular
  // expression, as xdotool takes it), newest last.
  std::vector<std::string> windows(const std::string& pattern) const;
  // Waits until one is visible (mapped by the window manager); its id, or
  // "" after timeout_s.
  std::string wait_window(const std::string& pattern, double timeout_s) const;
  // Waits until none is; false after timeout_s.
  bool wait_no_window(const std::string& pattern, double timeout_s) const;
  std::string title(const std::string& window) const;

  // Where the server has the window's client area, and its frame: the
  // client area with the title bar and borders the window manager put
  // around it (_NET_FRAME_EXTENTS).
  Rect client(const std::string& window) const;
  Rect frame(const std::string& window) const;
  // The least size the program asks the window manager for (WM_NORMAL_HINTS),
  // 0 x 0 when it asks for none.
  Rect minimum_size(const std::string& window) const;
  // The window manager's state atoms of the window (_NET_WM_STATE), e.g.
  // "_NET_WM_STATE_MAXIMIZED_HORZ".
  std::string state(const std::string& window) const;

  // Gives `window` the keyboard focus (and raises it), then presses each key
  // (xdotool names: "space", "Return", "ctrl+q") through XTEST, as a person
  // at the keyboard would.
  void keys(const std::string& window, const std::vector<std::string>& keys) const;
  void type(const std::string& window, const std::string& text) const;
  // A click of the left button at a point of the screen.
  void click(int x, int y) const;

  // The whole screen as the server has it.
  QImage grab() const;

 private:
  QImage grab_once() const;

  int width_, height_;
  std::string display_;
  pid_t xvfb_ = -1;
  pid_t wm_ = -1;
};

// WCAG contrast ratio of two colours (1 to 21).
double contrast(const QColor& a, const QColor& b);

}  // namespace testing_desktop
