// What the link health bar, the stale marking and the log pane cost: the
// run-time's observations made at every good frame, and the window's work
// four times a second (the health brought up to date, the bar drawn and
// painted, the log pane polled), in Qt's offscreen platform. docs/
// performance.md turns the figures into a share of a core at the link rate.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QWidget>
#include <qcustomplot.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "gui/station/health_bar.h"
#include "gui/station/log_pane.h"
#include "gui/panel/stale_marker.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"

namespace {

std::string panel_path() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("gse.uir") : (exe.parent_path() / "gse.uir").string();
}

// The observations of one good frame: its housekeeping value, the skipped
// count and the blank status (ui.cpp's SetCtrlVal hands each to the watch).
void BM_WatchGoodFrame(benchmark::State& state) {
  rt::reset_ui_for_tests();
  rt::PanelLayout layout;
  std::string error;
  if (!rt::read_panel_file(panel_path(), 1, &layout, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  rt::PanelModel model(std::move(layout));
  rt::watch_panel(model);
  const int hk = model.find(std::string_view("PANEL_HK16"))->id;
  const int skipped = model.find(std::string_view("PANEL_SKIPPED"))->id;
  const int other = model.find(std::string_view("PANEL_W10"))->id;
  double v = 0.0;
  for (auto _ : state) {
    rt::watch_value(hk, v += 0.5);
    rt::watch_value(skipped, 1234);
    for (int k = 0; k < 30; ++k) rt::watch_value(other, k);  // the displays not watched
    rt::watch_status(" ");
  }
}
BENCHMARK(BM_WatchGoodFrame);

// The window's part: a bar, a log pane and stale marking over displays and
// plots as many as the panel has.
struct Window {
  QMainWindow main;
  rt::HealthBar bar;
  std::unique_ptr<rt::LogPane> log;
  std::unique_ptr<rt::StaleMarker> stale;
  std::vector<QWidget*> plots;
  Window() {
    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->addWidget(bar.widget());
    std::vector<QWidget*> displays;
    for (int i = 0; i < 60; ++i) {
      auto* edit = new QLineEdit(QString::number(i * 1.5));
      column->addWidget(edit);
      displays.push_back(edit);
    }
    for (int i = 0; i < 3; ++i) {
      auto* plot = new QCustomPlot;
      plot->setMinimumSize(300, 200);
      column->addWidget(plot);
      plots.push_back(plot);
    }
    main.setCentralWidget(central);
    log = std::make_unique<rt::LogPane>(&main);
    log->show_action()->setChecked(true);
    stale = std::make_unique<rt::StaleMarker>(displays, plots);
    main.resize(1300, 900);
    main.show();
    QCoreApplication::processEvents();
  }
};

// Four times a second while receiving: the health, the bar (its age text
// changes every time, so it repaints), the stale marking (unchanged) and
// the log pane (nothing new).
void BM_HealthRefresh(benchmark::State& state) {
  rt::reset_ui_for_tests();
  rt::reset_log_for_tests();
  Window w;
  for (auto _ : state) {
    rt::watch_status(" ");
    const rt::HealthSnapshot s = rt::watch_health();
    w.bar.draw(s);
    w.stale->draw(s.stale, s.age_s);
    w.log->poll();
    w.bar.widget()->repaint();
  }
}
BENCHMARK(BM_HealthRefresh)->Unit(benchmark::kMicrosecond);

// A log entry arriving and shown in the open pane (a fault, a state change),
// the pane's text repainted.
void BM_LogPaneEntry(benchmark::State& state) {
  rt::reset_log_for_tests();
  Window w;
  auto* text = w.main.findChild<QPlainTextEdit*>("logText");
  long n = 0;
  for (auto _ : state) {
    rt::log_warning("COM1 err: entry " + std::to_string(++n));
    w.log->poll();
    text->viewport()->repaint();
  }
}
BENCHMARK(BM_LogPaneEntry)->Unit(benchmark::kMicrosecond);

// The stale marking switched on and off again, with the panel repainted:
// once at each change of the link's state, and the overlays' age text once
// a second while stale.
void BM_StaleToggle(benchmark::State& state) {
  Window w;
  double age = 3.0;
  for (auto _ : state) {
    w.stale->draw(true, age += 1.0);
    w.main.repaint();
    w.stale->draw(false, 0.0);
    w.main.repaint();
  }
}
BENCHMARK(BM_StaleToggle)->Unit(benchmark::kMicrosecond);

void BM_StaleAgeTick(benchmark::State& state) {
  Window w;
  w.stale->draw(true, 3.0);
  double age = 3.0;
  for (auto _ : state) {
    w.stale->draw(true, age += 1.0);
    for (QWidget* plot : w.plots) plot->repaint();  // with the overlay over it
  }
}
BENCHMARK(BM_StaleAgeTick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
