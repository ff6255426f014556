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
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gui/trends/trend_plot.h"
#include "history/trend_store.h"

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
    std::vector<double> ms;
    for (int i = 0; i < 40; ++i) {
      QElapsedTimer t;
      t.start();
      store.read([&](const rt::TrendData& d) {
        const rt::AxisX axis{&d.time_s, 0};
        // A pan: the range moves by a tenth each step.
        const double end = d.time_s.back() - (i % 8) * step.span_s / 10;
        for (auto& p : plots) p->draw(d, axis, end - step.span_s, end);
      });
      for (auto& p : plots) p->widget()->replot(QCustomPlot::rpImmediateRefresh);
      ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-24s median %6.1f ms, worst %6.1f ms for four plots, drawn and painted\n", step.what,
                ms[ms.size() / 2], ms.back());
  }
  return 0;
}
