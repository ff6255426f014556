// "Across sessions..." in a real (offscreen) window over the archive of the
// gse_sim folder: a curve per ticked session with the legend naming each,
// each session's minutes from its own start on the overlaid axis, and the
// frames themselves once the range shown is narrower than the minutes.
#include <QApplication>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include "campaign.h"
#include "gui/trends/across_window.h"

namespace {

using campaign::Campaign;
using campaign::DEGC_STEP;
using campaign::find;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded

TEST(AcrossWindow, draws_a_curve_per_session_named_in_the_legend_and_frames_below_the_minutes) {
  Campaign c;
  {
    rt::Archive a;
    c.index(&a);
  }
  QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse"))
      .setValue(QStringLiteral("archive/folder"), QString::fromStdString(c.dir.path()));
  QMainWindow frame;
  frame.show();
  rt::AcrossWindow* w = rt::open_across_window(&frame);
  ASSERT_TRUE(w);
  EXPECT_EQ(rt::open_across_window(&frame), w) << "one window, shown again";
  const auto rows = w->rows();
  ASSERT_EQ(rows.size(), 4u);
  const int64_t plain = find(rows, "60010000.dat")->session;
  const int64_t flight = find(rows, "flight/60020000.dat")->session;
  const int64_t growing = find(rows, "60030000.dat")->session;
  w->set_value(QStringLiteral("HK16"));
  w->set_axis(rt::AcrossAxis::Elapsed);
  w->choose({plain, flight, growing});
  QCustomPlot* plot = w->plot();
  ASSERT_EQ(plot->legend->itemCount(), 3);
  // In the order of their starts, as the list has them.
  const QStringList names{QStringLiteral("60010000.dat, 2026-01-02 00:00"),
                          QStringLiteral("flight/60020000.dat, 2026-01-03 10:00"),
                          QStringLiteral("60030000.dat, 2026-01-04 00:00")};
  for (int i = 0; i < 3; ++i) {
    auto* item = qobject_cast<QCPPlottableLegendItem*>(plot->legend->item(i));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->plottable()->name().toStdString(), names[i].toStdString()) << i;
  }
  // Each mean on its own start: the first minute at 30 s, HK16's means
  // between -40 and -20 in the plain one's first minute.
  QCPGraph* first = plot->graph(0);
  ASSERT_EQ(first->data()->size(), 2);
  EXPECT_DOUBLE_EQ(first->data()->at(0)->key, 30.0);
  EXPECT_DOUBLE_EQ(first->data()->at(1)->key, 90.0);
  EXPECT_NEAR(first->data()->at(1)->value, -20.0, DEGC_STEP);

  // Below the minutes: the frames of the range, read in the background.
  w->show_range(9.0, 40.0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->drawn_raw() && !w->reading(); }, WAIT_MS)) << w->status_text().toStdString();
  EXPECT_EQ(plot->legend->itemCount(), 3) << "the same sessions, named the same";
  bool seen = false;
  for (auto it = plot->graph(0)->data()->begin(); it != plot->graph(0)->data()->end(); ++it)
    if (std::abs(it->key - 10.0) < 1e-6) {
      seen = true;
      EXPECT_NEAR(it->value, -40.0, DEGC_STEP) << "frame 96 of the plain session";
    }
  EXPECT_TRUE(seen) << "frame 96 (10 s from the start) drawn";

  // Back out to the whole: the minutes again.
  w->show_range(0.0, 3600.0);
  EXPECT_FALSE(w->drawn_raw());
  EXPECT_EQ(plot->graph(0)->data()->size(), 2);
}

}  // namespace
