// The panel's plots drawn from the model through the window: the spectra
// with their colours, axes and log mapping, the strip chart scrolling with a
// bounded number of points.
#include <QApplication>
#include <QCheckBox>
#include <QTest>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "ui/panel.h"
#include "runtime/model.h"
#include "gui/panel/plots.h"
#include "gui/window.h"
#include "gui/panel_fixture.h"

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

TEST(PanelPlots, strip_chart_runs_on_reception_time_and_keeps_a_bounded_number_of_points) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* strip = panel->widget<QCustomPlot>("PANEL_STRIP");
  ASSERT_GE(strip->graphCount(), 4);
  std::vector<uint16_t> values(80);
  // 300 frames received 0.1 s apart from t = 100 s on, with a silence of
  // 2 s before frame 200.
  auto received = [](int frame) { return 100.0 + 0.1 * frame + (frame >= 200 ? 2.0 : 0.0); };
  for (int frame = 0; frame < 300; ++frame) {
    for (int i = 0; i < 80; ++i) values[static_cast<size_t>(i)] = static_cast<uint16_t>(frame * 80 + i);
    panel->model->strip_append(PANEL_STRIP, values.data(), 80, received(frame));
    if (frame % 7 == 0) rt::refresh_panel_window(panel->window);
  }
  rt::refresh_panel_window(panel->window);
  const double newest = received(299);
  for (int t = 0; t < 4; ++t) {
    auto data = strip->graph(t)->data();
    ASSERT_GT(data->size(), 0) << "trace " << t;
    EXPECT_LE(static_cast<size_t>(data->size()), panel->model->strip_capacity() + 8) << "trace " << t;
    // Trace t takes every fourth value; its newest point is the last frame's,
    // at the time that frame was received.
    EXPECT_EQ((data->constEnd() - 1)->value, 299 * 80 + 76 + t) << "trace " << t;
    EXPECT_DOUBLE_EQ((data->constEnd() - 1)->key, newest) << "trace " << t;
    // A frame's 20 samples share the 0.1 s since the frame before.
    EXPECT_NEAR((data->constEnd() - 1)->key - (data->constEnd() - 20)->key, 0.1 * 19 / 20, 1e-9)
        << "trace " << t;
    // Keys only grow; the silence breaks the line with one gap mark.
    int gaps = 0;
    for (auto it = data->constBegin() + 1; it != data->constEnd(); ++it) {
      EXPECT_GT(it->key, (it - 1)->key) << "trace " << t;
      if (std::isnan(it->value)) ++gaps;
    }
    EXPECT_EQ(gaps, 1) << "trace " << t;
  }
  EXPECT_DOUBLE_EQ(strip->xAxis->range().upper, newest) << "the newest sample at the right";
  EXPECT_DOUBLE_EQ(strip->xAxis->range().size(), rt::PanelPlot::STRIP_SECONDS);
  EXPECT_FALSE(strip->xAxis->label().isEmpty());
}

// The centre of a plot's axis rect, where the mouse acts on the data.
QPoint data_centre(QCustomPlot* plot) { return plot->axisRect()->rect().center(); }

void wheel(QCustomPlot* plot, QPoint at, int steps) {
  QWheelEvent event(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(plot, &event);
}

TEST(PanelPlots, zoom_is_a_view_only_and_a_double_click_returns_to_the_systems_limits) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::PanelModel& m = *panel->model;
  rt::Plot p;
  p.x = {10, 2000, 4000};
  p.y = {1, 5, 2};
  m.add_plot(PANEL_SPEC256, p);
  m.set_x_range(PANEL_SPEC256, 0, 4095);
  m.set_y_range(PANEL_SPEC256, 0.001, 10);
  rt::refresh_panel_window(panel->window);
  auto* plot = panel->widget<QCustomPlot>("PANEL_SPEC256");
  plot->replot(QCustomPlot::rpImmediateRefresh);
  const QCPRange system_x(0, 4095), system_y(0.001, 10);
  ASSERT_EQ(plot->xAxis->range(), system_x);

  wheel(plot, data_centre(plot), 2);
  EXPECT_LT(plot->xAxis->range().size(), system_x.size()) << "the wheel zooms in";
  const QCPRange zoomed = plot->xAxis->range();
  // New data from the system does not move the operator's view, and the
  // model's limits stay the system's.
  m.delete_plots(PANEL_SPEC256);
  m.add_plot(PANEL_SPEC256, p);
  rt::refresh_panel_window(panel->window);
  EXPECT_EQ(plot->xAxis->range(), zoomed);
  rt::ControlState s;
  m.state(PANEL_SPEC256, &s);
  EXPECT_EQ(s.x.min, 0.0);
  EXPECT_EQ(s.x.max, 4095.0);
  EXPECT_EQ(panel->model->pending_events(), 0u) << "the view raises no event";

  QTest::mouseDClick(plot, Qt::LeftButton, {}, data_centre(plot));
  EXPECT_EQ(plot->xAxis->range(), system_x) << "reset: the system's limits";
  EXPECT_EQ(plot->yAxis->range(), system_y);
}

TEST(PanelPlots, a_click_on_a_legend_entry_hides_and_shows_its_trace) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* strip = panel->widget<QCustomPlot>("PANEL_STRIP");
  strip->replot(QCustomPlot::rpImmediateRefresh);
  QCPGraph* byte2 = strip->graph(3);
  ASSERT_EQ(byte2->name(), "byte 2");
  const QPoint entry = strip->legend->itemWithPlottable(byte2)->outerRect().center();
  QTest::mouseClick(strip, Qt::LeftButton, {}, entry);
  EXPECT_FALSE(byte2->visible()) << "hidden";
  for (int t = 0; t < 3; ++t) EXPECT_TRUE(strip->graph(t)->visible()) << "trace " << t;
  QTest::mouseClick(strip, Qt::LeftButton, {}, entry);
  EXPECT_TRUE(byte2->visible()) << "shown again";
}

TEST(PanelPlots, the_48_channel_graph_has_view_only_log_switches) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* spec48 = panel->widget<QCustomPlot>("PANEL_SPEC48");
  auto* log_y = panel->widget<QCheckBox>("spec48LogY");
  ASSERT_NE(log_y, nullptr);
  log_y->click();
  EXPECT_EQ(spec48->yAxis->scaleType(), QCPAxis::stLogarithmic);
  EXPECT_EQ(spec48->xAxis->scaleType(), QCPAxis::stLinear);
  rt::ControlState s;
  panel->model->state(PANEL_SPEC48, &s);
  EXPECT_FALSE(s.y.log) << "the model's graph is untouched";
  EXPECT_EQ(panel->model->pending_events(), 0u) << "not a panel control";
  log_y->click();
  EXPECT_EQ(spec48->yAxis->scaleType(), QCPAxis::stLinear);
}

TEST(PanelPlots, lines_are_drawn_in_logical_pixels_so_they_scale_with_the_screen) {
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  rt::Plot p;
  p.x = {1, 2};
  p.y = {1, 2};
  panel->model->add_plot(PANEL_SPEC48, p);
  rt::refresh_panel_window(panel->window);
  for (const char* name : {"PANEL_SPEC48", "PANEL_SPEC256", "PANEL_STRIP"}) {
    auto* plot = panel->widget<QCustomPlot>(name);
    EXPECT_EQ(plot->bufferDevicePixelRatio(), plot->devicePixelRatioF()) << name;
    std::vector<QPen> pens;
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis})
      pens.insert(pens.end(), {axis->basePen(), axis->tickPen(), axis->grid()->pen()});
    for (int g = 0; g < plot->graphCount(); ++g) pens.push_back(plot->graph(g)->pen());
    for (const QPen& pen : pens) {
      EXPECT_FALSE(pen.isCosmetic()) << name << ": a cosmetic pen stays one device pixel wide";
      EXPECT_GE(pen.widthF(), 1.0) << name;
    }
  }
}

}  // namespace
