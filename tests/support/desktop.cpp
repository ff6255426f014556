#include "support/desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/process.h"

namespace testing_desktop {

namespace {

constexpr double START_S = 60.0;  // a busy machine can take long to start a server
constexpr double TOOL_S = 60.0;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int keep_fd = -1) {
  const pid_t test = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Gone with the test, also when it is killed (a time-out): the program
  // shown on the display then ends too, its X server gone.
  testing_process::become_test_child(test);
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(null_fd, 1);
  dup2(null_fd, 2);
  for (int fd = 3; fd < 1024; ++fd)
    if (fd != keep_fd) close(fd);
  for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

void stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  int status = 0;
  for (int i = 0; i < 250 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(20000);
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
}

int number_after(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + key.size());
}

}  // namespace

Desktop::Desktop(int width, int height) : width_(width), height_(height) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe for Xvfb -displayfd");
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  xvfb_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp",
                 "-noreset"},
                {}, fds[1]);
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(START_S);
  while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    if (poll(&p, 1, 100) <= 0) continue;
    char c[16];
    const ssize_t n = read(fds[0], c, sizeof c);
    if (n <= 0) break;
    number.append(c, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    stop(xvfb_);
    throw std::runtime_error("Xvfb did not start");
  }
  display_ = ":" + number.substr(0, number.find('\n'));
  wm_ = spawn({"openbox", "--sm-disable"}, {"DISPLAY=" + display_});
  const bool managed = testing_process::wait_until(START_S, [this] {
    return tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos;
  });
  if (!managed) {
    stop(wm_);
    stop(xvfb_);
    throw std::runtime_error("openbox did not take the screen " + display_);
  }
}

Desktop::~Desktop() {
  stop(wm_);
  stop(xvfb_);
}

std::vector<std::string> Desktop::env() const { return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb"}; }

std::string Desktop::tool(const std::string& name, const std::vector<std::string>& args, int* status) const {
  const testing_process::RunResult r =
      testing_process::run("/usr/bin/" + name, args, "", TOOL_S, {"DISPLAY=" + display_});
  if (status) *status = r.exit_code;
  std::string out = r.out;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::vector<std::string> Desktop::windows(const std::string& pattern) const {
  std::istringstream lines(tool("xdotool", {"search", "--onlyvisible", "--name", pattern}));
  std::vector<std::string> ids;
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) ids.push_back(line);
  return ids;
}

std::string Desktop::wait_window(const std::string& pattern, double timeout_s) const {
  std::string found;
  testing_process::wait_until(timeout_s, [&] {
    const auto ids = windows(pattern);
    // Mapped and framed by the window manager: ready for input.
    for (const std::string& id : ids)
      if (tool("xprop", {"-id", id, "_NET_FRAME_EXTENTS"}).find('=') != std::string::npos) found = id;
    return !found.empty();
  });
  return found;
}

bool Desktop::wait_no_window(const std::string& pattern, double timeout_s) const {
  return testing_process::wait_until(timeout_s, [&] { return windows(pattern).empty(); });
}

std::string Desktop::title(const std::string& window) const { return tool("xdotool", {"getwindowname", window}); }

Rect Desktop::client(const std::string& window) const {
  const std::string info = tool("xwininfo", {"-id", window});
  return {number_after(info, "Absolute upper-left X:"), number_after(info, "Absolute upper-left Y:"),
          number_after(info, "Width:"), number_after(info, "Height:")};
}

Rect Desktop::frame(const std::string& window) const {
  Rect r = client(window);
  const std::string extents = tool("xprop", {"-id", window, "_NET_FRAME_EXTENTS"});
  int left = 0, right = 0, top = 0, bottom = 0;
  const size_t eq = extents.find('=');
  if (eq != std::string::npos) std::sscanf(extents.c_str() + eq + 1, " %d, %d, %d, %d", &left, &right, &top, &bottom);
  return {r.x - left, r.y - top, r.width + left + right, r.height + top + bottom};
}

Rect Desktop::minimum_size(const std::string& window) const {
  const std::string hints = tool("xprop", {"-id", window, "WM_NORMAL_HINTS"});
  Rect r;
  const size_t at = hints.find("minimum size:");
  if (at != std::string::npos) std::sscanf(hints.c_str() + at, "minimum size: %d by %d", &r.width, &r.height);
  return r;
}

std::string Desktop::state(const std::string& window) const {
  return tool("xprop", {"-id", window, "_NET_WM_STATE"});
}

void Desktop::keys(const std::string& window, const std::vector<std::string>& keys) const {
  tool("xdotool", {"windowactivate", "--sync", window});
  std::vector<std::string> args{"key", "--delay", "40"};
  args.insert(args.end(), keys.begin(), keys.end());
  tool("xdotool", args);
}

void Desktop::type(const std::string& window, const std::string& text) const {
  tool("xdotool", {"windowactivate", "--sync", window});
  tool("xdotool", {"type", "--delay", "30", text});
}

void Desktop::click(int x, int y) const {
  tool("xdotool", {"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
}

QImage Desktop::grab() const {
  // A window mapped or unmapped meanwhile can make the grab fail: then again.
  QImage image;
  testing_process::wait_until(TOOL_S, [&] {
    image = grab_once();
    return !image.isNull();
  });
  return image;
}

QImage Desktop::grab_once() const {
  // ImageMagick's import reads each window of the screen (xwd -root leaves a
  // dialog of the program black).
  const testing_process::RunResult r =
      testing_process::run("/usr/bin/import", {"-window", "root", "png:-"}, "", TOOL_S, {"DISPLAY=" + display_});
  if (r.exit_code != 0) return {};
  return QImage::fromData(reinterpret_cast<const uchar*>(r.out.data()), static_cast<int>(r.out.size()), "PNG");
}

double contrast(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace testing_desktop
