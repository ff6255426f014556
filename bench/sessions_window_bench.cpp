// File > Sessions... over a folder of 1 000 sessions already in its archive
// (the usual case: the archive is kept up to date as the campaign goes):
// the time from the action to the window on screen, and to its table
// filled with every session (the folder looked over again in the
// background, then the archive read). The aim: under 0.5 s. Qt offscreen;
// prints one line per figure, the median of RUNS opens.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QSettings>
#include <QTableWidget>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench_frames.h"
#include "gui/desktop/sessions_window.h"

namespace {

constexpr int SESSIONS = 1000;
constexpr uint32_t FRAMES = 60;  // short sessions: the window reads the archive, not the recordings
constexpr int RUNS = 5;

void write_frames(const std::string& path, uint32_t frames, uint64_t seed) {
  bench::Random rng(seed);
  bench::Bytes bytes;
  for (uint32_t n = 0; n < frames; ++n) bench::append(bytes, bench::random_frame(rng, n));
  std::FILE* out = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "gse_sessions_window_bench";
  fs::remove_all(root);
  const fs::path folder = root / "campaign";
  for (int i = 0; i < SESSIONS; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%04d/4%03d1200.dat", i / 100, i % 365);
    fs::create_directories((folder / name).parent_path());
    write_frames((folder / name).string(), FRAMES, static_cast<uint64_t>(i));
  }
  {
    rt::Archive archive;
    std::string error;
    if (!archive.open(folder.string(), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    archive.index();
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("XDG_CONFIG_HOME", (root / "config").string().c_str(), 1);
  QApplication app(argc, argv);
  QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse"))
      .setValue(QStringLiteral("archive/folder"), QString::fromStdString(folder.string()));
  std::vector<double> shown_ms, filled_ms;
  for (int run = 0; run < RUNS; ++run) {
    QMainWindow frame;
    rt::add_sessions_action(&frame, [](const QString&) {}, [](const std::string&) {});
    frame.show();
    QAction* action = frame.findChild<QAction*>(QStringLiteral("actionSessions"));
    QElapsedTimer clock;
    clock.start();
    action->trigger();
    QApplication::processEvents();
    shown_ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    auto* table = frame.findChild<QTableWidget*>(QStringLiteral("sessionsTable"));
    while (table->rowCount() != SESSIONS && clock.elapsed() < 60000) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (table->rowCount() != SESSIONS) QThread::msleep(1);
    }
    if (table->rowCount() != SESSIONS) {
      std::fprintf(stderr, "the table never held %d sessions (%d)\n", SESSIONS, table->rowCount());
      return 1;
    }
    table->repaint();
    filled_ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("sessions window, %d sessions: on screen %.0f ms, table filled %.0f ms (median of %d)\n", SESSIONS,
              median(shown_ms), median(filled_ms), RUNS);
  fs::remove_all(root);
  return 0;
}
