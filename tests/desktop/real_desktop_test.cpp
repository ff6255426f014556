// The built vst_gse on a real X desktop (Xvfb and the openbox window
// manager, support/desktop.h): every dialog shown for real, driven by real
// input through the X server, and what the window manager made of each
// window read back from the server (and the Sessions window over a folder of
// recordings). No answer hook: VST_GSE_DIALOG_ANSWERS is never set here. Each test waits for what it needs to see (a window
// mapped, a line in the log, bytes on the pty), never for a fixed time.
#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "archive/campaign.h"
#include "link/frame.h"
#include "record/record_writer.h"
#include "support/broker.h"
#include "support/desktop.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/paced_sender.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/record_rows.h"
#include "support/rehearsal.h"

namespace {

using testing_desktop::Desktop;
using testing_desktop::Rect;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;

constexpr double APPEAR_S = 90.0;  // a window shown, a line logged, on a busy machine
constexpr double QUIT_S = 20.0;    // the program ends after a quit
const char* const MAIN_WINDOW = "^vst_gse - ";
const char* const CHOOSER = "^Serial port for COM1$";
const char* const STARTUP_FAILURE = "^vst_gse cannot start$";
const char* const QUIT_QUESTION = "^Quit vst_gse$";
const char* const SHORTCUTS = "^Keyboard shortcuts$";

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string demo() { return testing_files::source_dir() + "/data/demo.dat"; }

// The program on the desktop, in a folder of its own (its settings too:
// none at the first start), with standard output and error in files.
class Station {
 public:
  Station(const Desktop& desktop, const TempDir& dir, const std::vector<std::string>& args,
          std::vector<std::string> env = {})
      : dir_(dir) {
        for (const std::string& e : desktop.env()) env.push_back(e);
        child_ = std::make_unique<Child>(testing_process::vst_gse(), args, dir.path(), dir.file("out.txt"), env,
                                         dir.file("err.txt"));
      }
  Child& child() { return *child_; }
  std::string out() const { return testing_files::read_text(dir_.file("out.txt")); }
  std::string err() const { return testing_files::read_text(dir_.file("err.txt")); }
  std::string log() const { return testing_files::read_text(dir_.file("session.log")); }
  bool logged(const std::string& part, double timeout_s = APPEAR_S) const {
    return wait_until(timeout_s, [&] { return has(log(), part); });
  }

 private:
  const TempDir& dir_;
  std::unique_ptr<Child> child_;
};

// The instrument: good frames, counted from 0, at about the link's pace
// until it stops.
struct Sender : testing_pty::PacedSender {
  explicit Sender(testing_pty::InstrumentPty& pty)
      : PacedSender(pty, std::chrono::milliseconds(100), [](uint32_t n) {
          return testing_frames::escape_for_link(testing_frames::FrameBuilder().counter(n).bytes);
        }) {}
};

// The screen once `window` (the one just shown) has painted: a window just
// mapped is black until then.
QImage painted(const Desktop& d, const std::string& window) {
  QImage screen;
  wait_until(APPEAR_S, [&] {
    screen = d.grab();
    const Rect c = d.client(window);
    for (int i = 1; i < 8; ++i)
      for (int j = 1; j < 8; ++j)
        if (screen.pixelColor(c.x + c.width * i / 8, c.y + c.height * j / 8).lightness() > 0) return true;
    return false;
  });
  return screen;
}

// For a person to look at: bin/desktop_NAME.png.
void save(const Desktop& d, const std::string& window, const std::string& name) {
  painted(d, window).save(QString::fromStdString(testing_files::bin_dir() + "/desktop_" + name + ".png"));
}

std::string describe(const Rect& r) {
  return std::to_string(r.width) + "x" + std::to_string(r.height) + " at " + std::to_string(r.x) + "," +
         std::to_string(r.y);
}

// The window and its title bar (with the close button) on the screen, and a
// least size the screen can give.
bool on_screen(const Desktop& d, const std::string& window, std::string* why) {
  const Rect f = d.frame(window), least = d.minimum_size(window);
  *why = "frame " + describe(f) + ", least size " + describe(least) + " on " + std::to_string(d.width()) + "x" +
         std::to_string(d.height());
  return f.x >= 0 && f.y >= 0 && f.right() <= d.width() && f.bottom() <= d.height() && least.width <= d.width() &&
         least.height <= d.height() && f.width > 0;
}

TEST(RealDesktop, a_first_start_without_settings_shows_the_whole_panel_on_both_screens) {
  struct Screen {
    int width, height;
    bool maximised;  // too small for the panel at its designed size
  };
  for (const Screen s : {Screen{1366, 768, true}, Screen{1920, 1080, false}}) {
    const std::string name = std::to_string(s.width) + "x" + std::to_string(s.height);
    Desktop d(s.width, s.height);
    TempDir dir;
    Station station(d, dir, {demo()});
    const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
    ASSERT_FALSE(w.empty()) << name << "\n" << station.err();
    std::string why;
    const bool settled = wait_until(APPEAR_S, [&] {
      const Rect c = d.client(w);
      const bool maximised = has(d.state(w), "_NET_WM_STATE_MAXIMIZED_HORZ");
      // The layout test holds every control in view from 1366 x 698 on;
      // the panel file lays the panel out at 1440 x 860.
      const bool big_enough = s.maximised ? maximised && c.width >= 1360 && c.height >= 698
                                          : !maximised && c.width >= 1440 && c.height >= 860;
      return on_screen(d, w, &why) && big_enough;
    });
    EXPECT_TRUE(settled) << name << ": " << why << ", state " << d.state(w);
    save(d, w, "first_start_" + name);
    d.keys(w, {"ctrl+q"});  // playback quits without a question
    EXPECT_EQ(station.child().wait(QUIT_S), 0) << name << "\n" << station.err();
  }
}

TEST(RealDesktop, a_bad_port_offers_the_chooser_and_retry_on_a_typed_pty_brings_frames) {
  Desktop d(1366, 768);
  TempDir dir;
  testing_pty::InstrumentPty pty;
  Sender sender(pty);
  Station station(d, dir, {"--port", "/dev/ttyNOPE0", "--log", "session.log"});
  const std::string chooser = d.wait_window(CHOOSER, APPEAR_S);
  ASSERT_FALSE(chooser.empty()) << "status " << station.child().wait(0.1) << "\n" << station.err();
  EXPECT_TRUE(has(station.out(), "COM1 port error")) << station.out();
  save(d, chooser, "port_chooser");
  // The operator takes longer than the link's silence threshold (3 s) to
  // choose: that time is no silence of the link.
  const auto shown = std::chrono::steady_clock::now();
  wait_until(APPEAR_S, [&] { return std::chrono::steady_clock::now() - shown > std::chrono::seconds(5); });
  // The failed path is selected in the field: typing replaces it.
  d.type(chooser, pty.slave_path());
  d.keys(chooser, {"Return"});  // Retry
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << "the panel never came after Retry\n" << station.err();
  EXPECT_TRUE(has(d.title(w), "[COM1 = " + pty.slave_path() + "]")) << d.title(w);
  EXPECT_TRUE(station.logged("link: receiving")) << station.log();
  EXPECT_FALSE(has(station.log(), "link silent")) << "the chooser's wait counted as silence\n" << station.log();
  EXPECT_FALSE(has(station.log(), "ALARM link")) << station.log();
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << "the first signal ends it\n" << station.err();
}

// What the instrument sends to bring out each of the health bar's longest
// texts: faults of every kind, then only noise, then nothing, then the
// adapter pulled out.
std::vector<uint8_t> faulty_stretch(uint32_t first) {
  std::vector<uint8_t> bytes;
  for (uint32_t n = first; n < first + 20; ++n) {
    testing_frames::FrameBuilder f;
    f.counter(n);
    if (n % 5 == 1) f.corrupt();  // a checksum failure
    std::vector<uint8_t> link = testing_frames::escape_for_link(f.bytes);
    if (n % 5 == 3) {  // an illegal escape in the frame's body
      const uint8_t bad[] = {0x2B, 0x2B, 0x2D, 0x41};
      std::copy(bad, bad + 4, link.begin() + 40);
    }
    if (n % 5 == 4) bytes.insert(bytes.end(), 37, 0x55);  // noise between frames
    testing_frames::append(bytes, link);
  }
  return bytes;
}

TEST(RealDesktop, live_at_1366_x_768_the_window_stays_on_screen_with_the_longest_health_texts) {
  Desktop d(1366, 768);
  TempDir dir;
  auto pty = std::make_unique<testing_pty::InstrumentPty>();
  // Through a link that goes with the hang-up: the station reopens a lost
  // port by its path, and a pseudo-terminal tells no identity, so by the
  // pty's own path it could take another test's pty that got the freed
  // number.
  const std::string port = dir.file("ttyGSE");
  std::filesystem::create_symlink(pty->slave_path(), port);
  Station station(d, dir, {"--port", port, "--log", "session.log"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  std::string why;
  auto stays = [&](const std::string& stage) {
    EXPECT_TRUE(on_screen(d, w, &why)) << stage << ": " << why;
    save(d, w, "live_" + stage);
  };
  uint32_t n = 0;
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    pty->send_paced(faulty_stretch(n), 19200.0);
    n += 20;
    return has(station.log(), "link: degraded");
  })) << station.log();
  stays("degraded");
  const std::vector<uint8_t> noise(1920, 0x55);
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    pty->send_paced(noise, 19200.0);
    return has(station.log(), "link: no frames");
  })) << station.log();
  stays("no_frames");
  ASSERT_TRUE(station.logged("link: link silent")) << station.log();
  stays("link_silent");
  pty->hang_up();
  std::filesystem::remove(port);
  ASSERT_TRUE(station.logged("link: port lost")) << station.log();
  stays("port_lost");
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();

  // The size it was left at opens the next session on the screen too.
  Station next(d, dir, {demo()});
  const std::string again = d.wait_window("^vst_gse - playback", APPEAR_S);
  ASSERT_FALSE(again.empty()) << next.err();
  EXPECT_TRUE(wait_until(APPEAR_S, [&] { return on_screen(d, again, &why); })) << "the next start: " << why;
  d.keys(again, {"ctrl+q"});
  EXPECT_EQ(next.child().wait(QUIT_S), 0) << next.err();
}

// The launcher starts `vst_gse --launcher`: the session works in ~/vst_gse
// (made for it), the title says so, and the recording and its log land
// there, not in the folder it was started from.
TEST(RealDesktop, a_launcher_start_works_in_its_folder_and_names_it_in_the_title) {
  Desktop d(1366, 768);
  TempDir dir;
  testing_pty::InstrumentPty pty;
  const std::string home = dir.file("home");  // apart from the settings the test keeps in its folder
  std::filesystem::create_directory(home);
  Station station(d, dir, {"--launcher", "--port", pty.slave_path()}, {"HOME=" + home});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  const std::string folder = home + "/vst_gse";
  EXPECT_TRUE(has(d.title(w), "[folder " + folder + "]")) << d.title(w);
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
  std::vector<std::string> there, here;
  for (const auto& e : std::filesystem::directory_iterator(folder)) there.push_back(e.path().extension().string());
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".dat") here.push_back(e.path().string());
  std::sort(there.begin(), there.end());
  EXPECT_EQ(there, (std::vector<std::string>{".dat", ".log", ".session"}))
      << "the recording, its log and its session record in " << folder;
  EXPECT_TRUE(here.empty()) << "nothing recorded where it was started";
  EXPECT_TRUE(has(testing_files::read_text(folder + "/" + [&] {
                    for (const auto& e : std::filesystem::directory_iterator(folder))
                      if (e.path().extension() == ".log") return e.path().filename().string();
                    return std::string();
                  }()),
                  "Launcher start: working in " + folder))
      << "the log says where";

  // A file where the folder should be: the working directory stands in,
  // and the title says so (before, it looked like a plain start).
  const std::string blocked = dir.file("blocked");
  std::filesystem::create_directory(blocked);
  testing_files::write_file(blocked + "/vst_gse", {'x'});
  Station fallback(d, dir, {"--launcher", "--port", pty.slave_path()}, {"HOME=" + blocked});
  const std::string f = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(f.empty()) << fallback.err();
  EXPECT_TRUE(has(d.title(f), "[folder " + dir.path() + ", NOT ~/vst_gse: " + blocked + "/vst_gse cannot be used ("))
      << d.title(f);
  fallback.child().signal(SIGTERM);
  EXPECT_EQ(fallback.child().wait(QUIT_S), 0) << fallback.err();
}

// Every control of the live panel in turn has the focus and gets Space,
// Return and Enter: nothing reaches the instrument. F1 (the shortcut list)
// after each shows that the keys were taken; where a key opened the quit
// question instead, it is answered Keep receiving.
TEST(RealDesktop, space_and_enter_on_every_control_of_the_live_panel_send_nothing) {
  Desktop d(1366, 768);
  TempDir dir;
  testing_pty::InstrumentPty pty;
  Station station(d, dir, {"--port", pty.slave_path(), "--log", "session.log"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  constexpr int FOCUS_STOPS = 80;  // more than the panel's controls and fields: every one at least once
  int questions = 0;
  for (int stop = 0; stop < FOCUS_STOPS; ++stop) {
    d.keys(w, {"Tab", "space", "Return", "KP_Enter", "F1"});
    std::string dialog;
    ASSERT_TRUE(wait_until(APPEAR_S, [&] {
      for (const char* pattern : {SHORTCUTS, QUIT_QUESTION}) {
        const auto found = d.windows(pattern);
        if (!found.empty()) dialog = found.front();
      }
      return !dialog.empty();
    })) << "stop " << stop << ": the keys were never taken\n" << station.err();
    if (has(d.title(dialog), "Quit")) ++questions;
    d.keys(dialog, {"Escape"});  // Close, or Keep receiving
    ASSERT_TRUE(d.wait_no_window("^(Keyboard shortcuts|Quit vst_gse)$", APPEAR_S)) << "stop " << stop;
  }
  pty.collect();
  EXPECT_TRUE(pty.received().empty()) << pty.received().size() << " bytes reached the instrument";
  // Quit had the focus: it asked (answered by the Return that followed, or
  // by Esc here), and sends only on Stop and quit.
  EXPECT_TRUE(questions > 0 || has(station.log(), "quit cancelled, receiving goes on")) << station.log();
  EXPECT_TRUE(has(station.log(), "Operator: Command not switched by a key")) << "the Command switch had the focus\n"
                                                                               << station.log();
  EXPECT_TRUE(station.child().running());
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

TEST(RealDesktop, the_quit_question_keeps_receiving_or_stops_and_quits_as_answered) {
  Desktop d(1366, 768);
  TempDir dir;
  testing_pty::InstrumentPty pty(/*hold_slave=*/true);
  Station station(d, dir, {"--port", pty.slave_path(), "--log", "session.log"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  d.keys(w, {"ctrl+q"});
  std::string question = d.wait_window(QUIT_QUESTION, APPEAR_S);
  ASSERT_FALSE(question.empty());
  save(d, question, "quit_question");
  d.keys(question, {"Escape"});
  EXPECT_TRUE(station.logged("quit cancelled, receiving goes on")) << station.log();
  EXPECT_TRUE(station.child().running());
  d.keys(w, {"ctrl+q"});
  question = d.wait_window(QUIT_QUESTION, APPEAR_S);
  ASSERT_FALSE(question.empty());
  d.keys(question, {"alt+s"});  // Stop and quit
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
  pty.collect_until(2, std::chrono::seconds(10));
  const std::vector<uint8_t> stop{0x33, 0x0D};
  EXPECT_EQ(pty.received(), stop) << "the stop command, and nothing else";
}

// The screen's pixels of exactly `colour` in the window's client area above
// its status bar (which counts the slots out of limits in their colours).
long colour_pixels(const Desktop& d, const std::string& window, QRgb colour) {
  const QImage screen = d.grab();
  const Rect c = d.client(window);
  constexpr int STATUS_BAR = 48;  // and then some
  long n = 0;
  for (int y = c.y; y < c.bottom() - STATUS_BAR; ++y)
    for (int x = c.x; x < c.right(); ++x) n += (screen.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
  return n;
}

// Limit colours and the stale marking compose: the simulator holds HK00 in
// its alarm range and HK16 in its caution range; it is stopped for longer
// than the stale threshold and let go again. While stale the values are
// grey; once frames come again each shows its limit colour, whole, as
// before.
TEST(RealDesktop, limit_colours_come_back_whole_after_a_stale_spell) {
  Desktop d(1366, 768);
  TempDir dir;
  std::filesystem::create_directories(dir.file("vst_gse"));
  std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=light\n";
  Child sim(testing_process::gse_sim(),
            {"--pty", "--quiet", "--hk", "0=9.97@0..1000000", "--hk", "16=60@0..1000000"}, dir.path(),
            dir.file("sim.txt"));
  std::string pty;
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    return !(pty = testing_process::sim_pty_path(testing_files::read_text(dir.file("sim.txt")))).empty();
  }));
  Station station(d, dir, {"--port", pty, "--log", "session.log"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  // The light theme's alarm and caution backgrounds (gui/theme.cpp).
  constexpr QRgb RED = 0xc6161c, AMBER = 0xffbf40;
  long red = 0, amber = 0;
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    red = colour_pixels(d, w, RED);
    amber = colour_pixels(d, w, AMBER);
    return red > 300 && amber > 300;  // both fields filled (each some 60 x 20 pixels)
  })) << "red " << red << ", amber " << amber << "\n" << station.log();
  save(d, w, "limits_before_stale");

  sim.signal(SIGSTOP);
  ASSERT_TRUE(station.logged("link: link silent")) << station.log();
  // Stale: the fields' text is grey on their own background, their level's
  // colour only a border (some 500 pixels of the 800 to 900 a filled field has).
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return colour_pixels(d, w, RED) < red * 3 / 4; }))
      << "stale: the fields are grey, their level a border";
  save(d, w, "limits_stale");
  sim.signal(SIGCONT);
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    const std::string log = station.log();
    return log.find("link: receiving", log.find("link: link silent")) != std::string::npos;
  })) << station.log();
  long red_after = 0, amber_after = 0;
  EXPECT_TRUE(wait_until(APPEAR_S / 3, [&] {
    red_after = colour_pixels(d, w, RED);
    amber_after = colour_pixels(d, w, AMBER);
    return red_after >= red * 9 / 10 && amber_after >= amber * 9 / 10;
  })) << "red " << red_after << " of " << red << ", amber " << amber_after << " of " << amber;
  save(d, w, "limits_after_stale");
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

// A start-up failure waits in a dialog; the first quit signal ends the
// program (status 1, as the failure itself), whichever dialog it is.
TEST(RealDesktop, the_first_quit_signal_ends_a_start_up_failure_dialog) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* window;
    bool bad_panel;  // a panel file in the working folder that cannot be loaded
  };
  const Case cases[] = {
      {"input file", {"/nonexistent.dat"}, STARTUP_FAILURE, false},
      {"panel file", {demo()}, STARTUP_FAILURE, true},
      {"port", {"--port", "/dev/ttyNOPE0"}, CHOOSER, false},
  };
  Desktop d(1366, 768);
  for (const Case& c : cases) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
      const std::string name = std::string(c.name) + " / signal " + std::to_string(sig);
      TempDir dir;
      if (c.bad_panel) std::ofstream(dir.file("gse.uir")) << "<ui version=\"4.0\"><widget";
      Station station(d, dir, c.args);
      const std::string dialog = d.wait_window(c.window, APPEAR_S);
      ASSERT_FALSE(dialog.empty()) << name << "\n" << station.err();
      station.child().signal(sig);
      EXPECT_EQ(station.child().wait(QUIT_S), 1) << name << "\n" << station.err();
      EXPECT_TRUE(d.wait_no_window(c.window, QUIT_S)) << name;
    }
  }
  // And its own button, pressed from the keyboard.
  TempDir dir;
  Station station(d, dir, {"/nonexistent.dat"});
  const std::string dialog = d.wait_window(STARTUP_FAILURE, APPEAR_S);
  ASSERT_FALSE(dialog.empty()) << station.err();
  save(d, dialog, "startup_failure");
  d.keys(dialog, {"Return"});
  EXPECT_EQ(station.child().wait(QUIT_S), 1) << station.err();
  EXPECT_EQ(station.out(), "Cannot open input file /nonexistent.dat\n");
}

// The window as the desktop shows it, title bar and all.
QImage window_shot(const Desktop& d, const std::string& window) {
  const Rect f = d.frame(window);
  return painted(d, window).copy(f.x, f.y, f.width, f.height);
}

// The README's pictures (docs/screenshots.sh copies them into docs/): the
// demo played, and a live session from the simulator with the session log
// open, in both themes; each window whole on its screen.
TEST(RealDesktop, the_readme_pictures_show_the_demo_and_a_live_session_in_both_themes) {
  struct Shot {
    int width, height;
    bool live;
  };
  for (const Shot shot : {Shot{1366, 768, false}, Shot{1920, 1080, false}, Shot{1366, 768, true}}) {
    Desktop d(shot.width, shot.height);
    for (const char* theme : {"light", "dark"}) {
      const std::string name = std::string(shot.live ? "live-" : "") + std::to_string(shot.width) + "x" +
                               std::to_string(shot.height) + "-" + theme;
      TempDir dir;
      std::filesystem::create_directories(dir.file("vst_gse"));
      std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=" << theme << "\n";
      std::unique_ptr<Child> sim;
      std::vector<std::string> args{"--log", "session.log"};
      if (shot.live) {
        sim = std::make_unique<Child>(testing_process::gse_sim(),
                                      std::vector<std::string>{"--pty", "--quiet", "--seed", "7", "--bad-checksum",
                                                               "0.02", "--noise", "0.01"},
                                      dir.path(), dir.file("sim.txt"));
        ASSERT_TRUE(wait_until(APPEAR_S, [&] { return has(testing_files::read_text(dir.file("sim.txt")), "\n"); }));
        const std::string first = testing_files::read_text(dir.file("sim.txt"));
        args.insert(args.end(), {"--port", first.substr(4, first.find('\n') - 4)});
      } else {
        std::filesystem::copy_file(demo(), dir.file("demo.dat"));  // the title names it as a user would
        args.insert(args.end(), {"--speed", "5", "--trace", "trace.jsonl", "demo.dat"});
      }
      Station station(d, dir, args);
      const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
      ASSERT_FALSE(w.empty()) << name << "\n" << station.err();
      if (shot.live) {
        d.keys(w, {"ctrl+l"});  // the session log
        // 12 s of telemetry: the spectra and the strip chart filled.
        ASSERT_TRUE(station.logged("link: receiving")) << station.log();
        ASSERT_TRUE(wait_until(APPEAR_S * 2, [&] {
          for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().extension() == ".dat" && e.file_size() > 12 * 1920) return true;
          return false;
        }));
      } else {
        // 250 frames shown.
        ASSERT_TRUE(wait_until(APPEAR_S * 2, [&] {
          const std::string t = testing_files::read_text(dir.file("trace.jsonl"));
          size_t n = 0;
          for (size_t at = t.find("\"PANEL_HEXDUMP\""); at != std::string::npos; at = t.find("\"PANEL_HEXDUMP\"", at + 1))
            ++n;
          return n >= 250;
        }));
      }
      std::string why;
      EXPECT_TRUE(wait_until(APPEAR_S, [&] { return on_screen(d, w, &why); })) << name << ": " << why;
      window_shot(d, w).save(QString::fromStdString(testing_files::bin_dir() + "/readme_" + name + ".png"));
      station.child().signal(SIGTERM);
      EXPECT_EQ(station.child().wait(QUIT_S), 0) << name << "\n" << station.err();
    }
  }
}

// The program's windows shown now: the main window, its dialogs, an open
// menu.
size_t shown_windows(const Desktop& d) {
  size_t n = 0;
  for (char c : d.tool("xdotool", {"search", "--onlyvisible", "--class", "vst_gse"})) n += c == '\n';
  return n + 1;
}

// Help > Operator guide from the keyboard: the menu, once it is open, then
// its item.
void open_guide(const Desktop& d, const std::string& window) {
  const size_t before = shown_windows(d);
  d.keys(window, {"alt+h"});
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown_windows(d) > before; })) << "the Help menu never opened";
  d.tool("xdotool", {"key", "o"});
}

// An executable shell script in `folder`.
void script(const std::string& folder, const std::string& name, const std::string& body) {
  const std::string path = folder + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// Help > Operator guide opens the guide in a web browser (the system's,
// x-www-browser); where there is none and the desktop would hand the page
// to a text editor (its handler for text/html is not a browser), the
// program shows the guide itself.
TEST(RealDesktop, the_operator_guide_opens_in_a_browser_or_in_a_viewer_of_its_own) {
  Desktop d(1366, 768);
  TempDir dir;
  const std::string bin = dir.file("bin");
  std::filesystem::create_directory(bin);
  script(bin, "x-www-browser",
         "/usr/bin/env > \"" + dir.file("env.txt") + "\"\necho \"$@\" > \"" + dir.file("browser.txt") + "\"");
  // Only the test's own programs on the PATH: this machine may have a
  // browser of its own. The broker password never reaches a program the
  // station starts.
  {
    Station station(d, dir, {demo()},
                    {"PATH=" + bin, "BROWSER=", "VST_GSE_MQTT_USER=bob", "VST_GSE_MQTT_PASSWORD=s3cret-pw"});
    const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
    ASSERT_FALSE(w.empty()) << station.err();
    open_guide(d, w);
    // (The file is there before the browser's words are in it.)
    std::string opened;
    EXPECT_TRUE(wait_until(APPEAR_S, [&] {
      opened = testing_files::read_text(dir.file("browser.txt"));
      return has(opened, "\n");
    }));
    EXPECT_TRUE(has(opened, "README.html")) << opened;
    const std::string env = testing_files::read_text(dir.file("env.txt"));
    EXPECT_TRUE(has(env, "VST_GSE_MQTT_USER=bob")) << "the opener's environment was read";
    EXPECT_FALSE(has(env, "s3cret-pw")) << "the password was inherited";
    d.keys(w, {"ctrl+q"});
    EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
  }
  // No browser; the desktop's handler for web pages is a text editor.
  std::filesystem::remove(bin + "/x-www-browser");
  script(bin, "xdg-open", "echo \"$@\" > \"" + dir.file("xdg-open.txt") + "\"");
  script(bin, "xdg-mime", "echo editor.desktop");
  std::filesystem::create_directories(dir.file("data/applications"));
  std::ofstream(dir.file("data/applications/editor.desktop"))
      << "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %f\nCategories=Utility;TextEditor;\n";
  Station station(d, dir, {demo()}, {"PATH=" + bin, "BROWSER=", "XDG_DATA_HOME=" + dir.file("data")});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  open_guide(d, w);
  const std::string viewer = d.wait_window("^vst_gse operator guide$", APPEAR_S);
  ASSERT_FALSE(viewer.empty()) << "without a browser the guide shows in the program\n" << station.err();
  EXPECT_FALSE(std::filesystem::exists(dir.file("xdg-open.txt"))) << "handed to the text editor";
  save(d, viewer, "guide_viewer");
  d.keys(viewer, {"Escape"});
  ASSERT_TRUE(d.wait_no_window("^vst_gse operator guide$", APPEAR_S));
  d.keys(w, {"ctrl+q"});
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

// File > Publish to broker... for real: an address that cannot be used
// keeps the dialog open with the reason (picture: bin/desktop_publish_*);
// mended, Enter publishes.
TEST(RealDesktop, a_bad_broker_address_keeps_the_publish_dialog_open_until_mended) {
  Desktop d(1366, 768);
  TempDir broker_dir;
  testing_broker::Broker broker(broker_dir.path());
  for (const char* theme : {"light", "dark"}) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("vst_gse"));
    std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=" << theme << "\n";
    Station station(d, dir, {"--log", "session.log", demo()});
    const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
    ASSERT_FALSE(w.empty()) << station.err();
    const size_t before = shown_windows(d);
    d.keys(w, {"alt+f"});
    ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown_windows(d) > before; })) << "the File menu never opened";
    d.tool("xdotool", {"key", "p"});
    const std::string dialog = d.wait_window("^Publish to broker$", APPEAR_S);
    ASSERT_FALSE(dialog.empty()) << station.err();
    d.type(dialog, "mqtt://127.0.0.1:" + std::to_string(broker.port()));  // no prefix
    d.keys(dialog, {"Return"});
    // Still open: the rest of the address goes into the same field (keys
    // are taken in order, so the Return was handled first).
    d.type(dialog, "/gse");
    EXPECT_FALSE(d.windows("^Publish to broker$").empty()) << "the dialog closed on a bad address";
    save(d, dialog, std::string("publish_refused_") + theme);
    d.keys(dialog, {"Return"});
    EXPECT_TRUE(d.wait_no_window("^Publish to broker$", APPEAR_S));
    EXPECT_TRUE(station.logged("publish: connected to mqtt://127.0.0.1:" + std::to_string(broker.port()) + "/gse"))
        << station.log();
    station.child().signal(SIGTERM);
    EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
  }
}

// File > Report... on a real desktop, all from the keyboard, in the dark
// theme: the values dialog is on the 1366x768 screen, ticked from the
// built-in set; HK16 alone chosen and kept as the default; the file dialog
// then takes the path; the report draws HK16 and not the others, and the
// settings hold the choice.
TEST(RealDesktop, report_values_are_chosen_by_keyboard_and_kept_as_the_default) {
  Desktop d(1366, 768);
  TempDir dir;
  std::filesystem::create_directories(dir.file("vst_gse"));
  std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=dark\n";
  Station station(d, dir, {"--log", "session.log", demo()});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  const size_t before = shown_windows(d);
  d.keys(w, {"alt+f"});
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown_windows(d) > before; })) << "the File menu never opened";
  d.tool("xdotool", {"key", "r"});  // Report...
  const std::string dialog = d.wait_window("^Report of demo.dat: values$", APPEAR_S);
  ASSERT_FALSE(dialog.empty()) << station.err();
  const Rect f = d.frame(dialog);
  EXPECT_TRUE(f.x >= 0 && f.y >= 0 && f.right() <= 1366 && f.bottom() <= 768) << describe(f);
  save(d, dialog, "report_values_dark");
  // The list has the focus on HK00: untick it, then HK08 (8 rows down) and
  // HK20 (12 rows further); HK16 stays.
  std::vector<std::string> keys{"space"};
  for (int row : {8, 12}) {
    for (int i = 0; i < row; ++i) keys.push_back("Down");
    keys.push_back("space");
  }
  // Tab past Built-in set to Keep as default (Alt+K clicks it a moment
  // later, after a Return typed at once), Space ticks it, Return goes on.
  keys.insert(keys.end(), {"Tab", "Tab", "space", "Return"});
  d.keys(dialog, keys);
  const std::string files = d.wait_window("^Report of demo.dat$", APPEAR_S);
  ASSERT_FALSE(files.empty()) << station.err();
  const std::string report = dir.file("hk16.html");
  d.keys(files, {"ctrl+a"});
  d.type(files, report);
  d.keys(files, {"Return"});
  const std::string done = d.wait_window("^Report$", APPEAR_S);
  ASSERT_FALSE(done.empty()) << station.err();
  EXPECT_TRUE(station.logged("Report of " + demo() + " written to " + report)) << station.log();
  const std::string html = testing_files::read_text(report);
  EXPECT_TRUE(has(html, "<figcaption>HK16: ")) << html.substr(0, 2000);
  for (const char* gone : {"HK00", "HK08", "HK20"})
    EXPECT_FALSE(has(html, std::string("<figcaption>") + gone + ": ")) << gone;
  EXPECT_TRUE(station.logged("Report values kept as the default: HK16"));
  d.keys(done, {"Return"});
  d.keys(w, {"ctrl+q"});
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
  EXPECT_TRUE(has(testing_files::read_text(dir.file("vst_gse/vst_gse.ini")), "values=HK16"))
      << testing_files::read_text(dir.file("vst_gse/vst_gse.ini"));
}

// A remote view is its own mode: named so in its title, no transport (Space
// pauses nothing, Ctrl+O opens nothing), the station's alarms in its list.
// Pictures in both themes, for a person to look at: bin/desktop_remote_view_*
// (docs/remote-view-1366x768-dark.png is the first). (Space may press the
// health bar's alarm count where it has the focus, which shows the alarm
// list before Ctrl+Shift+A hides it again: the pictures do not always show
// the list.)
TEST(RealDesktop, a_remote_view_is_named_so_and_has_no_transport) {
  Desktop d(1366, 768);
  TempDir dir;
  testing_broker::Broker broker(dir.path());
  const std::string url = broker.url("gse");
  // The station, headless, with a limit that the demo's HK16 is past: an alarm.
  std::ofstream(dir.file("limits.txt")) << "HK16 caution=none alarm=40..200 hysteresis=default enabled=yes\n";
  Child station(testing_process::vst_gse(),
                {"--headless", "--publish", url, "--limits", dir.file("limits.txt"), "--log", dir.file("station.log"),
                 demo()},
                dir.path(), dir.file("station.out"));
  for (const char* theme : {"dark", "light"}) {
    TempDir view_dir;
    std::filesystem::create_directories(view_dir.file("vst_gse"));
    std::ofstream(view_dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=" << theme << "\n";
    Station view(d, view_dir, {"--subscribe", url, "--log", "session.log"});
    // (After "N ALARMS · " once the station's list has come.)
    const std::string title = "vst_gse - remote view of gse at 127.0.0.1:" + std::to_string(broker.port()) + "$";
    const std::string w = d.wait_window(title, APPEAR_S);
    ASSERT_FALSE(w.empty()) << theme << "\n" << view.err() << d.tool("xdotool", {"search", "--name", "vst_gse"});
    ASSERT_TRUE(view.logged("station: link")) << view.log();
    d.keys(w, {"space", "ctrl+o", "ctrl+shift+a", "F1"});
    // Keys are taken in order: once the shortcut list shows, an Open
    // dialog or a pause would have come first (and the alarm list is shown).
    const std::string list = d.wait_window(SHORTCUTS, APPEAR_S);
    ASSERT_FALSE(list.empty()) << view.err();
    EXPECT_TRUE(d.windows("^Open recording$").empty());
    EXPECT_FALSE(has(view.log(), "playback paused")) << view.log();
    d.keys(list, {"Escape"});
    ASSERT_TRUE(d.wait_no_window(SHORTCUTS, APPEAR_S));
    std::string why;
    EXPECT_TRUE(wait_until(APPEAR_S, [&] { return on_screen(d, w, &why); })) << theme << ": " << why;
    window_shot(d, w).save(QString::fromStdString(testing_files::bin_dir() + "/desktop_remote_view_" + theme + ".png"));
    d.keys(w, {"ctrl+t"});
    save(d, w, std::string("remote_view_trends_") + theme);
    view.child().signal(SIGTERM);
    EXPECT_EQ(view.child().wait(QUIT_S), 0) << view.err();
  }
  station.signal(SIGTERM);
  EXPECT_GE(station.wait(QUIT_S), 0);
}

// Alarms > Limits..., Restore defaults, on a real desktop from the
// keyboard: the question names the slot it would change; Keep leaves the
// operator's limits and their file alone, Restore brings the panel file's
// back and writes the file without them.
TEST(RealDesktop, restore_defaults_asks_first_and_keeps_or_restores_as_answered) {
  Desktop d(1366, 768);
  TempDir dir;
  const std::string limits = dir.file("limits.txt");
  std::ofstream(limits) << "HK16 caution=-20..45 alarm=-40..70 hysteresis=default enabled=yes\n";
  Station station(d, dir, {"--limits", limits, "--log", "session.log", demo()});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  const size_t before = shown_windows(d);
  d.keys(w, {"alt+a"});
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown_windows(d) > before; })) << "the Alarms menu never opened";
  d.tool("xdotool", {"key", "i"});  // Limits...
  const std::string dialog = d.wait_window("^Limits$", APPEAR_S);
  ASSERT_FALSE(dialog.empty()) << station.err();
  for (const char* answer : {"alt+k", "alt+r"}) {
    d.keys(dialog, {"alt+r"});  // Restore defaults
    const std::string question = d.wait_window("^Restore default limits$", APPEAR_S);
    ASSERT_FALSE(question.empty()) << answer;
    if (std::string(answer) == "alt+k") save(d, question, "restore_defaults_question");
    d.keys(question, {answer});
    ASSERT_TRUE(d.wait_no_window("^Restore default limits$", APPEAR_S)) << answer;
    if (std::string(answer) == "alt+k") {
      EXPECT_TRUE(has(testing_files::read_text(limits), "HK16 caution=-20..45")) << "kept";
    }
  }
  EXPECT_TRUE(station.logged("limits of HK16 restored to the panel file's by the operator: caution=-20..45"))
      << station.log();
  EXPECT_FALSE(has(testing_files::read_text(limits), "HK16")) << testing_files::read_text(limits);
  d.keys(w, {"ctrl+q"});
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

// ----- The panel true to its moment ------------------------------------------

// A paused playback stepped back and played again From start with the
// keyboard (real input through the X server): each frame then shown has in
// every display what a straight playback of the same recording showed at
// that frame, or nothing where it showed nothing yet (the --csv-panel rows
// of both runs, matched by the frame's own word at offset 192).
TEST(RealDesktop, after_a_step_back_or_from_start_every_display_is_that_of_a_straight_playback_there) {
  Desktop d(1366, 768);
  TempDir dir;
  std::vector<uint8_t> rec{9, 9, 9};
  for (uint32_t n = 0; n < 200; ++n) {
    if (n >= 50 && n < 56) continue;  // a gap: slots 10 to 15 skip a cycle
    testing_frames::FrameBuilder b;
    b.counter(n).word(OFF_W192, static_cast<int>(n)).word(OFF_HK, static_cast<int>(n * 331 % 65536));
    b.long32(OFF_KIND_VALUE, static_cast<int32_t>(n * 1000)).float32(OFF_F12, static_cast<float>(n) / 4);
    b.strip(static_cast<int>(n % 20), static_cast<int>(n), 7, static_cast<uint8_t>(n), 1);
    testing_frames::append(rec, b.bytes);
    if (n % 13 == 0) rec.insert(rec.end(), {1, 2, 3, 4});
  }
  testing_files::write_file(dir.file("rec.dat"), rec);
  const testing_process::RunResult straight = testing_process::run(
      testing_process::vst_gse(), {"--headless", "--speed", "0", "--csv-panel", "straight.csv", "rec.dat"}, dir.path(),
      APPEAR_S);
  ASSERT_EQ(straight.exit_code, 0) << straight.err;
  const auto straight_rows = testing_files::parse_csv(testing_files::read_text(dir.file("straight.csv")));
  ASSERT_EQ(straight_rows.size(), 1u + 194u);
  const auto& header = straight_rows.front();
  const size_t w192 = static_cast<size_t>(std::find(header.begin(), header.end(), "PANEL_W192") - header.begin());
  ASSERT_LT(w192, header.size());
  std::map<std::string, std::vector<std::string>> at_frame;  // by the word at 192
  for (size_t r = 1; r < straight_rows.size(); ++r) at_frame[straight_rows[r][w192]] = straight_rows[r];

  Station station(d, dir, {"--speed", "1", "--csv-panel", "moved.csv", "--log", "session.log", "rec.dat"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  auto rows = [&] { return testing_files::parse_csv(testing_files::read_text(dir.file("moved.csv")), true); };
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return rows().size() > 80; }));
  d.keys(w, {"space"});  // Pause
  ASSERT_TRUE(station.logged("operator: playback paused")) << station.log();
  for (const char* key : {"Left", "Left", "Left", "Home", "Right", "Left"}) {
    const size_t before = rows().size();
    d.keys(w, {key});
    ASSERT_TRUE(wait_until(APPEAR_S, [&] { return rows().size() > before; })) << key << "\n" << station.log();
    const auto shown = rows().back();
    ASSERT_EQ(shown.size(), header.size()) << key;
    ASSERT_TRUE(at_frame.count(shown[w192])) << key << ": frame with word " << shown[w192];
    const auto& expected = at_frame.at(shown[w192]);
    for (size_t c = 1; c < header.size(); ++c)  // all but the row count
      EXPECT_EQ(shown[c], expected[c]) << key << " to the frame of word " << shown[w192] << ": " << header[c];
  }
  EXPECT_TRUE(station.logged("Step back to frame")) << station.log();
  EXPECT_TRUE(station.logged("Playing again from the start")) << station.log();
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

// A point inside the first alarm row's severity cell (the light theme's
// alarm colour) in the alarm list's window, once it is drawn; (-1, -1) when
// none shows.
QPoint red_cell(const Desktop& d, const std::string& list) {
  constexpr QRgb RED = 0xc6161c;
  QPoint at(-1, -1);
  wait_until(APPEAR_S, [&] {
    const QImage screen = d.grab();
    const Rect c = d.client(list);
    for (int y = c.y; y < c.bottom(); ++y)
      for (int x = c.x; x < c.right(); ++x)
        if ((screen.pixel(x, y) & 0xFFFFFF) == RED) {
          at = QPoint(x + 4, y + 4);
          return true;
        }
    return false;
  });
  return at;
}

// A pass reviewed on the desktop: a recording with its session record (an
// alarm raised with frame 70, a note at frame 85), opened at frame 5 as a
// review window opens (--at). A real click on the alarm's row moves the
// panel to frame 70, then Ctrl+Right goes on from that alarm (raised well
// after its frame came) to the note's frame 85. The frame on the panel is
// read from the --csv-panel rows, by the frame's own word at offset 192.
TEST(RealDesktop, a_click_on_an_alarm_row_and_the_next_mark_key_move_the_panel_to_their_frames) {
  Desktop d(1366, 768);
  TempDir dir;
  std::filesystem::create_directories(dir.file("vst_gse"));
  std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=light\n";
  constexpr uint32_t FRAMES = 100;
  constexpr double T0 = 1.7e9;
  auto time_of = [](uint32_t n) { return T0 + 0.1 * n; };
  std::vector<uint8_t> rec;
  for (uint32_t n = 0; n < FRAMES; ++n)
    testing_frames::append(rec, testing_frames::FrameBuilder().counter(n).word(OFF_W192, static_cast<int>(n)).bytes);
  testing_files::write_file(dir.file("52121834.dat"), rec);
  {
    rt::RecordWriter writer(dir.file("52121834.session"), dir.file("52121834.dat"),
                            testing_record::live_run("test", T0), nullptr);
    for (uint32_t n = 0; n < FRAMES; ++n) writer.add(rt::FrameRow{time_of(n), 200 * int64_t{n}, 200, 0, n});
    // Raised before frame 71 comes (at + 0.1), at the recording's size once
    // frame 70 was in.
    writer.add(testing_record::raised_alarm(1, rt::AlarmSource::Limit, "HK30", "HK30 out of limits",
                                            rt::Severity::Error, time_of(70) + 0.08, 200 * 71,
                                            "HK30 out of limits: alarm"));
    writer.add(rt::EventRow{time_of(85) + 0.05, 200 * 86, "note", "balloon cut-down commanded here", -1});
    writer.add(rt::LogRow{time_of(85) + 0.05, 200 * 86, "INFO", "note by the operator: balloon cut-down commanded here"});
    writer.recorded_to(200 * FRAMES);
    ASSERT_TRUE(writer.close());
  }
  // --at takes the local time of frame 5.
  const auto at_ms = static_cast<long long>(std::llround(time_of(5) * 1000.0));
  const std::time_t at_s = static_cast<std::time_t>(at_ms / 1000);
  std::tm local{};
  localtime_r(&at_s, &local);
  char at[40];
  std::strftime(at, sizeof at, "%Y-%m-%dT%H:%M:%S", &local);
  const std::string at_text = std::string(at) + "." + std::to_string(at_ms % 1000 + 1000).substr(1);

  Station station(d, dir, {"--at", at_text, "--csv-panel", "panel.csv", "--log", "session.log", "52121834.dat"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  size_t w192 = 0;
  // The word at 192 of the frame the panel shows now ("" before any).
  auto shown = [&] {
    const auto rows = testing_files::parse_csv(testing_files::read_text(dir.file("panel.csv")), true);
    if (rows.size() < 2) return std::string();
    if (w192 == 0) w192 = static_cast<size_t>(std::find(rows[0].begin(), rows[0].end(), "PANEL_W192") - rows[0].begin());
    return w192 < rows.back().size() ? rows.back()[w192] : std::string();
  };
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown() == "5"; })) << shown() << "\n" << station.log();

  d.keys(w, {"ctrl+shift+a"});  // the alarm list: over the hex dump at this size
  const std::string list = d.wait_window("^Alarms$", APPEAR_S);
  ASSERT_FALSE(list.empty()) << station.log();
  const QPoint row = red_cell(d, list);
  ASSERT_GE(row.x(), 0) << "no alarm row on the screen";
  save(d, list, "review_alarm_list");
  d.click(row.x(), row.y());
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown() == "70"; })) << shown() << "\n" << station.log();
  EXPECT_TRUE(station.logged("Moved to frame 71 of 100: the alarm HK30 out of limits")) << station.log();
  d.keys(w, {"ctrl+Right"});
  ASSERT_TRUE(wait_until(APPEAR_S, [&] { return shown() == "85"; })) << shown() << "\n" << station.log();
  save(d, w, "review_at_note");
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

// Live, a double-click on an alarm's row opens a review window on the
// recording so far (a second vst_gse, a playback), while reception goes on
// untouched in the station's window.
TEST(RealDesktop, live_a_double_click_on_an_alarm_row_opens_a_review_while_reception_goes_on) {
  Desktop d(1366, 768);
  TempDir dir;
  std::filesystem::create_directories(dir.file("vst_gse"));
  std::ofstream(dir.file("vst_gse/vst_gse.ini")) << "[window]\ntheme=light\n";
  Child sim(testing_process::gse_sim(), {"--pty", "--quiet", "--hk", "0=9.97@0..1000000"}, dir.path(),
            dir.file("sim.txt"));
  std::string pty;
  ASSERT_TRUE(wait_until(APPEAR_S, [&] {
    return !(pty = testing_process::sim_pty_path(testing_files::read_text(dir.file("sim.txt")))).empty();
  }));
  Station station(d, dir, {"--port", pty, "--log", "session.log", "--csv-panel", "panel.csv"});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  ASSERT_TRUE(station.logged("ALARM HK00")) << station.log();
  d.keys(w, {"ctrl+shift+a"});
  const std::string list = d.wait_window("^Alarms$", APPEAR_S);
  ASSERT_FALSE(list.empty()) << station.log();
  const QPoint row = red_cell(d, list);
  ASSERT_GE(row.x(), 0) << "no alarm row on the screen";
  d.tool("xdotool", {"mousemove", "--sync", std::to_string(row.x()), std::to_string(row.y()), "click", "--repeat",
                     "2", "--delay", "80", "1"});
  ASSERT_TRUE(station.logged("; reception goes on here")) << station.log();
  // The review's process, started by the station: ended here at the latest.
  const std::string log = station.log();
  const size_t at = log.find("; process ", log.find("Review window opened on "));
  ASSERT_NE(at, std::string::npos) << log;
  const pid_t review = static_cast<pid_t>(std::stol(log.substr(at + 10)));
  struct EndReview {
    pid_t pid;
    ~EndReview() { kill(pid, SIGTERM); }
  } end_review{review};
  const std::string shown = d.wait_window("^vst_gse - playback of ", APPEAR_S);
  ASSERT_FALSE(shown.empty()) << "no review window";
  // Drawn, and held at its moment: the health bar's PAUSED badge, a colour
  // the live window never shows.
  constexpr QRgb PAUSED_BADGE = 0x3060a0;
  EXPECT_TRUE(wait_until(APPEAR_S, [&] {
    const QImage screen = d.grab();
    const Rect c = d.client(shown);
    long n = 0;
    for (int y = c.y; y < c.bottom(); ++y)
      for (int x = c.x; x < c.right(); ++x) n += (screen.pixel(x, y) & 0xFFFFFF) == PAUSED_BADGE;
    return n > 500;
  })) << "the review window, paused";
  save(d, shown, "live_review_window");
  const auto rows = [&] { return testing_files::parse_csv(testing_files::read_text(dir.file("panel.csv")), true).size(); };
  const size_t before = rows();
  EXPECT_TRUE(wait_until(APPEAR_S, [&] { return rows() >= before + 20; })) << "the station goes on receiving";
  EXPECT_FALSE(d.windows(MAIN_WINDOW).empty());
  kill(review, SIGTERM);
  EXPECT_TRUE(d.wait_no_window("^vst_gse - playback of ", APPEAR_S)) << "the review window closes on its own";
  station.child().signal(SIGTERM);
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}

}  // namespace

namespace {

// The middle of the first band of scanlines in `area` of the screen that
// are mostly of a strong colour (a selected table row, in the palette's
// highlight; the grid breaks it into cells), or -1.
int highlighted_row(const QImage& screen, const Rect& area) {
  auto strong = [&](int y) {
    int n = 0;
    for (int x = area.x; x < area.right(); ++x) {
      const QColor c = screen.pixelColor(x, y);
      n += c.hsvSaturation() > 90 && c.value() > 90;
    }
    return n > area.width / 2;
  };
  for (int y = area.y; y < area.bottom(); ++y) {
    if (!strong(y)) continue;
    int end = y;
    while (end + 1 < area.bottom() && strong(end + 1)) ++end;
    return (y + end) / 2;
  }
  return -1;
}

}  // namespace

// File > Sessions... for real: Ctrl+Shift+O opens it over the panel, typed
// words filter it, Enter moves to the session found, and a click on it
// plays that session in the window.
TEST(RealDesktop, the_sessions_window_opens_by_its_key_filters_and_a_click_plays_the_session_found) {
  campaign::Campaign c;
  Desktop d(1366, 768);
  TempDir dir;
  std::filesystem::create_directories(dir.file("vst_gse"));
  // (The Sessions window keeps its folder in vst_gse.conf, the layout in vst_gse.ini.)
  std::ofstream(dir.file("vst_gse/vst_gse.conf")) << "[archive]\nfolder=" << c.dir.path() << "\n";
  Station station(d, dir, {"--log", "session.log", demo()});
  const std::string w = d.wait_window(MAIN_WINDOW, APPEAR_S);
  ASSERT_FALSE(w.empty()) << station.err();
  d.keys(w, {"ctrl+shift+o"});
  const std::string s = d.wait_window("^Sessions$", APPEAR_S);
  ASSERT_FALSE(s.empty()) << station.err();
  // Indexed: what is not a recording is said.
  ASSERT_TRUE(station.logged("Sessions: 1 file named *.dat")) << station.log();
  d.type(s, "cut-down");
  d.keys(s, {"Return"});
  int row = -1;
  const bool selected = wait_until(APPEAR_S, [&] { return (row = highlighted_row(d.grab(), d.client(s))) >= 0; });
  save(d, s, "sessions_found");
  ASSERT_TRUE(selected) << "no session selected after the search (bin/desktop_sessions_found.png)";
  d.click(d.client(s).x + 60, row);
  EXPECT_TRUE(station.logged("Operator: open recording " + c.recorded + " (Sessions)")) << station.log();
  EXPECT_TRUE(wait_until(APPEAR_S, [&] { return has(d.title(w), "60020000.dat"); })) << d.title(w);
  d.keys(w, {"ctrl+q"});
  EXPECT_EQ(station.child().wait(QUIT_S), 0) << station.err();
}
