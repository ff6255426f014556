// The panel's plots drawn from the model through the window: the spectra
// with their colours, axes and log mapping, the strip chart scrolling with a
// bounded number of points.
#include <QApplication>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/panel.h"
#include "runtime/model.h"
#include "runtime/qt/window.h"
#include "window/panel_fixture.h"

namespace {

using testing_window::open_panel;

TEST(PanelPlots, draws_xy_plots_with_their_colour_axes_and_log_mapping) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  rt::Plot p;
  p.x = {1, 2, 3, 4};
  p.y = {0.5f, 2.0f, 1.0f, 0.25f};
  p.style = 6;
  p.color = 255;
  ASSERT_GT(m.add_plot(PANEL_SPEC256, p), 0);
  m.set_x_range(PANEL_SPEC256, 0, 4095);
  m.set_y_log(PANEL_SPEC256, true);
  m.set_y_range(PANEL_SPEC256, 0.001, 10);
  rt::refresh_panel_window(panel->window);

  auto* plot = panel->widget<QCustomPlot>("PANEL_SPEC256");
  ASSERT_EQ(plot->graphCount(), 1);
  EXPECT_EQ(plot->graph(0)->data()->size(), 4);
  EXPECT_EQ(plot->graph(0)->pen().color(), QColor(0, 0, 255)) << "colour 255 is blue";
  EXPECT_EQ(plot->xAxis->range(), QCPRange(0, 4095));
  EXPECT_EQ(plot->yAxis->range(), QCPRange(0.001, 10));
  EXPECT_EQ(plot->yAxis->scaleType(), QCPAxis::stLogarithmic);
  EXPECT_TRUE(plot->yAxis->ticker().dynamicCast<QCPAxisTickerLog>());
  EXPECT_EQ(plot->xAxis->scaleType(), QCPAxis::stLinear);
  EXPECT_FALSE(plot->xAxis->label().isEmpty());

  // A redraw replaces the plots; it does not pile them up.
  m.delete_plots(PANEL_SPEC256);
  m.add_plot(PANEL_SPEC256, p);
  m.set_y_log(PANEL_SPEC256, false);
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(plot->graphCount(), 1);
  EXPECT_EQ(plot->yAxis->scaleType(), QCPAxis::stLinear);

  // Without set limits the axes follow the data.
  auto* spec48 = panel->widget<QCustomPlot>("PANEL_SPEC48");
  m.add_plot(PANEL_SPEC48, p);
  rt::refresh_panel_window(panel->window);
  const QCPRange x = spec48->xAxis->range(), y = spec48->yAxis->range();
  EXPECT_TRUE(x.contains(1) && x.contains(4) && x.size() < 4) << x.lower << ".." << x.upper;
  EXPECT_TRUE(y.contains(0.25) && y.contains(2) && y.size() < 2.5) << y.lower << ".." << y.upper;
}

TEST(PanelPlots, strip_chart_scrolls_and_keeps_a_bounded_number_of_points) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* strip = panel->widget<QCustomPlot>("PANEL_STRIP");
  ASSERT_GE(strip->graphCount(), 4);
  std::vector<uint16_t> values(80);
  for (int frame = 0; frame < 300; ++frame) {
    for (int i = 0; i < 80; ++i) values[static_cast<size_t>(i)] = static_cast<uint16_t>(frame * 80 + i);
    panel->model->strip_append(PANEL_STRIP, values.data(), 80);
    if (frame % 7 == 0) rt::refresh_panel_window(panel->window);
  }
  rt::refresh_panel_window(panel->window);
  for (int t = 0; t < 4; ++t) {
    auto data = strip->graph(t)->data();
    ASSERT_GT(data->size(), 0) << "trace " << t;
    EXPECT_LE(static_cast<size_t>(data->size()), panel->model->strip_capacity()) << "trace " << t;
    // Trace t takes every fourth value; its newest point is the last frame's.
    EXPECT_EQ((data->constEnd() - 1)->value, 299 * 80 + 76 + t) << "trace " << t;
    EXPECT_EQ((data->constEnd() - 1)->key, 300 * 20 - 1) << "trace " << t;
    // No point is drawn twice: keys are consecutive.
    EXPECT_EQ((data->constEnd() - 1)->key - data->constBegin()->key, data->size() - 1)
        << "trace " << t;
  }
  EXPECT_DOUBLE_EQ(strip->xAxis->range().upper, 300 * 20);
}

}  // namespace
