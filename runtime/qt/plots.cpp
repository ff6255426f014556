// The panel's plots. Their painting costs far more than the fields', so each
// is replotted at a bounded rate and the strip chart only appends what is new.
#include "runtime/qt/plots.h"

#include <qcustomplot.h>

#include <algorithm>

namespace rt {

namespace {

// The spectra are redrawn at most this often, the strip chart at the frame
// rate of the link.
constexpr qint64 XY_REPLOT_MS = 500;
constexpr qint64 STRIP_REPLOT_MS = 200;

// Points of each strip trace on screen: the newest ones, at most the model's
// ring (which bounds them anyway).
constexpr size_t STRIP_SHOWN = 1000;

QColor colour_of(int rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

void set_axis_log(QCPAxis* axis, bool log) {
  const bool is_log = axis->scaleType() == QCPAxis::stLogarithmic;
  if (is_log == log) return;
  if (log) {
    axis->setScaleType(QCPAxis::stLogarithmic);
    axis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    axis->setNumberFormat("eb");  // 10^n tick labels
    axis->setNumberPrecision(0);
  } else {
    axis->setScaleType(QCPAxis::stLinear);
    axis->setTicker(QSharedPointer<QCPAxisTicker>::create());
    axis->setNumberFormat("gb");
    axis->setNumberPrecision(6);
  }
}

// The colours of the strip chart's four traces.
const QColor STRIP_COLOURS[4] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x30, 0x30),
                                 QColor(0x20, 0x90, 0x40), QColor(0x90, 0x50, 0xb0)};
const char* const STRIP_NAMES[4] = {"word 1", "word 2", "byte 1", "byte 2"};

// Fits an axis to the plotted data with a little room at both ends, so a
// curve never lies on the frame.
void fit_axis(QCPAxis* axis) {
  axis->rescale();
  const QCPRange r = axis->range();
  if (axis->scaleType() == QCPAxis::stLogarithmic)
    axis->setRange(r.lower / 1.25, r.upper * 1.25);
  else if (r.size() > 0)
    axis->setRange(r.lower - 0.04 * r.size(), r.upper + 0.04 * r.size());
}

}  // namespace

PanelPlot::PanelPlot(QCustomPlot* plot, Kind kind) : plot_(plot), kind_(kind) {
  plot->setBackground(QBrush(QColor(0xfb, 0xfb, 0xf8)));
  // Antialiased lines cost most of a plot's painting; the data lines are
  // clear without it.
  plot->setNotAntialiasedElements(QCP::aeAll);
  plot->setPlottingHint(QCP::phFastPolylines, true);
  const QString title = plot->property("plotTitle").toString();
  if (!title.isEmpty()) {
    plot->plotLayout()->insertRow(0);
    QFont f = plot->font();
    f.setBold(true);
    plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot, title, f));
  }
  if (kind == Kind::XYGraph) {
    plot->xAxis->setLabel("channel position");
    plot->yAxis->setLabel("rate");
    plot->xAxis->setRange(0, 10);
    plot->yAxis->setRange(0, 10);
    return;
  }
  plot->xAxis->setLabel("sample");
  plot->yAxis->setLabel("words (left)");
  plot->yAxis2->setVisible(true);
  plot->yAxis2->setLabel("bytes (right)");
  for (int t = 0; t < PanelModel::STRIP_TRACES; ++t) {
    QCPGraph* g = plot->addGraph(plot->xAxis, t < 2 ? plot->yAxis : plot->yAxis2);
    g->setPen(QPen(STRIP_COLOURS[t], 1.0));
    g->setName(STRIP_NAMES[t]);
  }
  plot->yAxis->setRange(0, 65535);
  plot->yAxis2->setRange(0, 255);
  plot->xAxis->setRange(0, STRIP_SHOWN);
  // The legend in a row of its own above the traces, so it hides no data.
  plot->legend->setVisible(true);
  QFont small = plot->font();
  small.setPointSize(std::max(6, small.pointSize() - 1));
  plot->legend->setFont(small);
  plot->legend->setFillOrder(QCPLegend::foColumnsFirst);
  plot->legend->setBorderPen(Qt::NoPen);
  plot->legend->setBrush(Qt::NoBrush);
  plot->plotLayout()->insertRow(0);
  plot->plotLayout()->addElement(0, 0, plot->legend);
  plot->plotLayout()->setRowStretchFactor(0, 0.001);
}

bool PanelPlot::draw(const ControlState& s, qint64 now_ms, bool unthrottled) {
  const qint64 every = kind_ == Kind::XYGraph ? XY_REPLOT_MS : STRIP_REPLOT_MS;
  if (!unthrottled && replotted_ms_ >= 0 && now_ms - replotted_ms_ < every) return false;
  replotted_ms_ = now_ms;
  if (kind_ == Kind::XYGraph) draw_xy(s);
  else draw_strip(s);
  return true;
}

void PanelPlot::draw_xy(const ControlState& s) {
  QCustomPlot* plot = plot_;
  plot->clearGraphs();
  for (const Plot& p : s.plots) {
    QCPGraph* g = plot->addGraph();
    QPen pen(colour_of(p.color));
    pen.setWidthF(1.0);
    g->setPen(pen);
    g->setLineStyle(QCPGraph::lsLine);
    const size_t n = std::min(p.x.size(), p.y.size());
    QVector<double> x(static_cast<qsizetype>(n)), y(static_cast<qsizetype>(n));
    for (size_t i = 0; i < n; ++i) {
      x[static_cast<qsizetype>(i)] = p.x[i];
      y[static_cast<qsizetype>(i)] = p.y[i];
    }
    g->setData(x, y, true);
  }
  set_axis_log(plot->xAxis, s.x.log);
  set_axis_log(plot->yAxis, s.y.log);
  if (s.x.manual)
    plot->xAxis->setRange(s.x.min, s.x.max);
  else if (!s.plots.empty())
    fit_axis(plot->xAxis);
  if (s.y.manual)
    plot->yAxis->setRange(s.y.min, s.y.max);
  else if (!s.plots.empty())
    fit_axis(plot->yAxis);
  plot->replot(QCustomPlot::rpQueuedReplot);
}

// Appends only the points that are new since the last draw and drops those
// that scrolled out, so a redraw costs the same however long the run.
void PanelPlot::draw_strip(const ControlState& s) {
  QCustomPlot* plot = plot_;
  uint64_t newest = 0;
  for (int t = 0; t < PanelModel::STRIP_TRACES && t < plot->graphCount(); ++t) {
    QCPGraph* g = plot->graph(t);
    const auto& ring = s.traces[static_cast<size_t>(t)];
    const uint64_t total = s.appended[static_cast<size_t>(t)];
    uint64_t& drawn = drawn_[static_cast<size_t>(t)];
    // The ring holds the last ring.size() of `total` points.
    const uint64_t first_in_ring = total - ring.size();
    if (total < drawn) {  // the model started afresh
      g->data()->clear();
      drawn = first_in_ring;
    }
    const uint64_t from = std::max<uint64_t>({drawn, first_in_ring,
                                              total > STRIP_SHOWN ? total - STRIP_SHOWN : 0});
    if (from > drawn) g->data()->clear();
    QVector<double> keys, values;
    keys.reserve(static_cast<qsizetype>(total - from));
    values.reserve(static_cast<qsizetype>(total - from));
    for (uint64_t k = from; k < total; ++k) {
      keys.push_back(static_cast<double>(k));
      values.push_back(ring[static_cast<size_t>(k - first_in_ring)]);
    }
    g->addData(keys, values, true);
    drawn = total;
    if (total > STRIP_SHOWN) g->data()->removeBefore(static_cast<double>(total - STRIP_SHOWN));
    newest = std::max(newest, total);
  }
  const double right = static_cast<double>(std::max<uint64_t>(newest, STRIP_SHOWN));
  plot->xAxis->setRange(right - STRIP_SHOWN, right);
  bool found = false;
  const QCPRange words = plot->graph(0)->data()->valueRange(found);
  if (found) {
    bool found2 = false;
    QCPRange both = words;
    const QCPRange w2 = plot->graph(1)->data()->valueRange(found2);
    if (found2) both.expand(w2);
    const double pad = std::max(1.0, both.size() * 0.05);
    plot->yAxis->setRange(both.lower - pad, both.upper + pad);
  }
  bool found3 = false, found4 = false;
  QCPRange bytes = plot->graph(2)->data()->valueRange(found3);
  const QCPRange b2 = plot->graph(3)->data()->valueRange(found4);
  if (found3 || found4) {
    if (!found3) bytes = b2;
    else if (found4) bytes.expand(b2);
    const double pad = std::max(1.0, bytes.size() * 0.05);
    plot->yAxis2->setRange(bytes.lower - pad, bytes.upper + pad);
  }
  plot->replot(QCustomPlot::rpQueuedReplot);
}

}  // namespace rt
