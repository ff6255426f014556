// Zoom and pan of the trends view over a 24-hour recording (830 000
// frames): four plots of a value each, 1920 pixels wide, drawn again for a
// new time range and painted, as a step of a drag or of the mouse wheel
// does (Qt's offscreen platform).
//   gse_trends_draw_bench FILE     (a 24-hour recording, e.g. from gse_bench_recording)
#include <QApplication>
#include <QElapsedTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gui/trends/trend_plot.h"
#include "history/trend_store.h"

namespace {

// CPU time of this thread, ms: what the drawing costs, whatever else the
// machine runs.
double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gse_trends_draw_bench RECORDING\n");
    return 2;
  }
  QApplication app(argc, argv);
  rt::TrendStore store({argv[1], rt::FrameRules::Playback, false});
  const std::vector<std::string> keys = {"HK16", "F12", "W10", "HK08"};
  store.want(keys);
  if (!store.wait_idle(600.0)) return 1;
  QWidget box;
  box.resize(1920 + 80, 4 * 200);
  auto* column = new QVBoxLayout(&box);
  std::vector<std::unique_ptr<rt::TrendPlot>> plots;
  for (const std::string& k : keys) {
    auto p = std::make_unique<rt::TrendPlot>(&box);
    rt::TrendValue v;
    v.key = k;
    v.label = QString::fromStdString(k);
    p->add(v);
    column->addWidget(p->widget());
    plots.push_back(std::move(p));
  }
  box.show();
  app.processEvents();
  std::printf("plot width %d px, %ld frames\n", plots[0]->widget()->axisRect()->width(), store.status().frames);
  struct Step {
    const char* what;
    double span_s;
  };
  for (const Step step : {Step{"whole day (zoomed out)", 86400.0}, Step{"1 hour", 3600.0}, Step{"1 minute (raw points)", 60.0}}) {
    std::vector<double> ms, cpu, data_cpu;
    for (int i = 0; i < 40; ++i) {
      QElapsedTimer t;
      t.start();
      const double c0 = thread_cpu_ms();
      store.read([&](const rt::TrendData& d) {
        const rt::AxisX axis{&d.time_s, 0};
        // A pan: the range moves by a tenth each step.
        const double end = d.time_s.back() - (i % 8) * step.span_s / 10;
        for (auto& p : plots) p->draw(d, axis, end - step.span_s, end);
      });
      const double c1 = thread_cpu_ms();
      for (auto& p : plots) p->widget()->replot(QCustomPlot::rpImmediateRefresh);
      ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
      cpu.push_back(thread_cpu_ms() - c0);
      data_cpu.push_back(c1 - c0);
    }
    for (auto* v : {&ms, &cpu, &data_cpu}) std::sort(v->begin(), v->end());
    std::printf("%-24s CPU median %5.1f ms (of which the points and axes %5.1f ms), worst %5.1f ms; "
                "wall median %5.1f ms, worst %6.1f ms; four plots, drawn and painted\n",
                step.what, cpu[cpu.size() / 2], data_cpu[data_cpu.size() / 2], cpu.back(), ms[ms.size() / 2],
                ms.back());
  }
  return 0;
}
