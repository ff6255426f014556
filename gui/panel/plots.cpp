// The panel's plots. Their painting costs far more than the fields', so each
// is replotted at a bounded rate and the strip chart only appends what is new.
#include "gui/panel/plots.h"

#include <QApplication>
#include <QCheckBox>
#include <QPalette>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "gui/theme.h"

namespace rt {

namespace {

// The spectra are redrawn at most this often, the strip chart at the frame
// rate of the link.
constexpr qint64 XY_REPLOT_MS = 500;
constexpr qint64 STRIP_REPLOT_MS = 200;

// Line widths in logical pixels: they scale with the screen's pixel ratio
// (a cosmetic, zero-width pen would stay one device pixel: a hairline on a
// high-density screen).
constexpr double LINE_WIDTH = 1.0;

// The strip chart's samples of one append (one frame) are spread over the
// time since the append before, at most this long; a longer silence shows
// as a gap in the traces.
constexpr double STRIP_SPREAD_MAX_S = 0.25;
constexpr double STRIP_SPREAD_FIRST_S = 0.1;  // the first append has no "before"
constexpr double STRIP_GAP_S = 0.5;

// The colours of the strip chart's four traces. The words are drawn above
// the bytes, so the busy second byte does not hide them.
const QColor STRIP_COLOURS[4] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x30, 0x30),
                                 QColor(0x20, 0x90, 0x40), QColor(0x90, 0x50, 0xb0)};
const char* const STRIP_NAMES[4] = {"word 1", "word 2", "byte 1", "byte 2"};

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

// Fits `axis` to the visible ones of `graphs` within the key range shown.
void fit_values(QCPAxis* axis, std::initializer_list<QCPGraph*> graphs, const QCPRange& keys) {
  bool any = false;
  QCPRange both;
  for (QCPGraph* g : graphs) {
    if (!g->visible()) continue;
    bool found = false;
    const QCPRange r = g->data()->valueRange(found, QCP::sdBoth, keys);
    if (!found) continue;
    if (any) both.expand(r);
    else both = r;
    any = true;
  }
  if (!any) return;
  const double pad = std::max(1.0, both.size() * 0.05);
  axis->setRange(both.lower - pad, both.upper + pad);
}

}  // namespace

QPen line_pen(const QColor& colour, Qt::PenStyle style) {
  QPen pen(colour, LINE_WIDTH, style);
  pen.setCosmetic(false);
  return pen;
}

void style_axis(QCPAxis* axis, const QColor& text, const QColor& grid) {
  axis->setBasePen(line_pen(text));
  axis->setTickPen(line_pen(text));
  axis->setSubTickPen(line_pen(text));
  axis->setTickLabelColor(text);
  axis->setLabelColor(text);
  axis->grid()->setPen(line_pen(grid, Qt::DotLine));
  axis->grid()->setSubGridPen(Qt::NoPen);
  axis->grid()->setZeroLinePen(Qt::NoPen);
}

PanelPlot::PanelPlot(QCustomPlot* plot, Kind kind) : plot_(plot), kind_(kind) {
  // Antialiased lines cost most of a plot's painting; the data lines are
  // clear without it.
  plot->setNotAntialiasedElements(QCP::aeAll);
  plot->setAntialiasedElements(QCP::aeNone);
  plot->setPlottingHint(QCP::phFastPolylines, true);
  const QString title = plot->property("plotTitle").toString();
  if (!title.isEmpty()) {
    plot->plotLayout()->insertRow(0);
    QFont f = plot->font();
    f.setBold(true);
    auto* element = new QCPTextElement(plot, title, f);
    element->setObjectName(QStringLiteral("plotTitle"));
    plot->plotLayout()->addElement(0, 0, element);
  }

  // The mouse moves the view; every range change not made here is the
  // operator's.
  plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis, plot->yAxis2}) {
    connect(axis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
      if (!applying_) set_zoomed(true);
    });
  }
  connect(plot, &QCustomPlot::mouseDoubleClick, this, [this] { reset_view(); });
  zoom_note_ = new QCPItemText(plot);
  zoom_note_->setObjectName(QStringLiteral("zoomNote"));
  zoom_note_->position->setType(QCPItemPosition::ptAxisRectRatio);
  zoom_note_->position->setCoords(1.0, 0.0);
  zoom_note_->setPositionAlignment(Qt::AlignTop | Qt::AlignRight);
  zoom_note_->setText(QStringLiteral("zoomed: double-click to reset"));
  zoom_note_->setPadding(QMargins(4, 2, 4, 2));
  zoom_note_->setVisible(false);

  if (kind == Kind::XYGraph) {
    plot->xAxis->setLabel("channel position");
    plot->yAxis->setLabel("rate");
    applying_ = true;
    plot->xAxis->setRange(0, 10);
    plot->yAxis->setRange(0, 10);
    applying_ = false;
    apply_palette();
    return;
  }
  // Time on the x axis: when the station received each sample.
  auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
  ticker->setTimeFormat(QStringLiteral("%m:%s"));
  ticker->setTickCount(4);
  plot->xAxis->setTicker(ticker);
  plot->xAxis->setLabel("time received (min:s since start)");
  plot->yAxis->setLabel("words (left)");
  plot->yAxis2->setVisible(true);
  plot->yAxis2->setLabel("bytes (right)");
  plot->addLayer(QStringLiteral("bytes"), plot->layer(QStringLiteral("main")), QCustomPlot::limBelow);
  for (int t = 0; t < PanelModel::STRIP_TRACES; ++t) {
    QCPGraph* g = plot->addGraph(plot->xAxis, t < 2 ? plot->yAxis : plot->yAxis2);
    g->setName(STRIP_NAMES[t]);
    if (t >= 2) g->setLayer(QStringLiteral("bytes"));
  }
  plot->axisRect()->setRangeDragAxes({plot->xAxis}, {plot->yAxis, plot->yAxis2});
  plot->axisRect()->setRangeZoomAxes({plot->xAxis}, {plot->yAxis, plot->yAxis2});
  applying_ = true;
  plot->yAxis->setRange(0, 65535);
  plot->yAxis2->setRange(0, 255);
  plot->xAxis->setRange(0, STRIP_SECONDS);
  applying_ = false;
  // The legend in a row of its own above the traces, so it hides no data.
  // A click on an entry hides or shows its trace.
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
  connect(plot, &QCustomPlot::legendClick, this,
          [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
            auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
            if (!entry) return;
            for (int t = 0; t < plot_->graphCount(); ++t)
              if (plot_->graph(t) == entry->plottable()) toggle_trace(t);
          });
  apply_palette();
}

void PanelPlot::apply_palette() {
  const QPalette p = QApplication::palette();
  const QColor text = p.color(QPalette::Text), grid = p.color(QPalette::Mid);
  plot_->setBackground(QBrush(p.color(QPalette::Base)));
  for (QCPAxis* axis : {plot_->xAxis, plot_->yAxis, plot_->xAxis2, plot_->yAxis2})
    style_axis(axis, text, grid);
  plot_->legend->setTextColor(text);
  if (auto* title = plot_->findChild<QCPTextElement*>(QStringLiteral("plotTitle")))
    title->setTextColor(p.color(QPalette::WindowText));
  zoom_note_->setColor(p.color(QPalette::ToolTipText));
  zoom_note_->setBrush(QBrush(p.color(QPalette::ToolTipBase)));
  if (kind_ == Kind::StripChart) {
    for (int t = 0; t < plot_->graphCount(); ++t)
      plot_->graph(t)->setPen(line_pen(trace_colour(STRIP_COLOURS[t])));
    toggle_trace(-1);  // restyles the legend entries
  } else {
    for (int g = 0; g < plot_->graphCount(); ++g) {
      QPen pen = plot_->graph(g)->pen();
      pen.setColor(trace_colour(pen.color()));
      plot_->graph(g)->setPen(pen);
    }
  }
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

// Shows trace `trace` if hidden, hides it if shown (-1: restyles only), and
// greys its legend entry while hidden.
void PanelPlot::toggle_trace(int trace) {
  if (trace >= 0) {
    QCPGraph* g = plot_->graph(trace);
    g->setVisible(!g->visible());
    if (!zoomed_) follow_strip();
  }
  const QPalette p = QApplication::palette();
  for (int t = 0; t < plot_->graphCount(); ++t) {
    QCPGraph* g = plot_->graph(t);
    if (auto* entry = plot_->legend->itemWithPlottable(g))
      entry->setTextColor(g->visible() ? p.color(QPalette::Text)
                                       : p.color(QPalette::Disabled, QPalette::Text));
  }
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void PanelPlot::set_zoomed(bool zoomed) {
  if (zoomed_ == zoomed) return;
  zoomed_ = zoomed;
  zoom_note_->setVisible(zoomed);
}

bool PanelPlot::draw(const ControlState& s, qint64 now_ms, bool unthrottled) {
  const qint64 every = kind_ == Kind::XYGraph ? XY_REPLOT_MS : STRIP_REPLOT_MS;
  if (!unthrottled && replotted_ms_ >= 0 && now_ms - replotted_ms_ < every) return false;
  replotted_ms_ = now_ms;
  // A screen of another pixel density: paint at its resolution.
  const double ratio = plot_->devicePixelRatioF();
  if (plot_->bufferDevicePixelRatio() != ratio) plot_->setBufferDevicePixelRatio(ratio);
  if (kind_ == Kind::XYGraph) draw_xy(s);
  else draw_strip(s);
  return true;
}

void PanelPlot::set_view_log(char axis, bool log) {
  (axis == 'x' ? view_log_x_ : view_log_y_) = log;
  set_zoomed(false);
  place_xy_axes();
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void PanelPlot::reset_view() {
  set_zoomed(false);
  if (kind_ == Kind::XYGraph) place_xy_axes();
  else follow_strip();
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

void PanelPlot::draw_xy(const ControlState& s) {
  QCustomPlot* plot = plot_;
  plot->clearGraphs();
  for (const Plot& p : s.plots) {
    QCPGraph* g = plot->addGraph();
    g->setPen(line_pen(trace_colour(colour_of(p.color))));
    g->setLineStyle(QCPGraph::lsLine);
    const size_t n = std::min(p.x.size(), p.y.size());
    QVector<double> x(static_cast<qsizetype>(n)), y(static_cast<qsizetype>(n));
    for (size_t i = 0; i < n; ++i) {
      x[static_cast<qsizetype>(i)] = p.x[i];
      y[static_cast<qsizetype>(i)] = p.y[i];
    }
    g->setData(x, y, true);
  }
  // A change of the model's log mapping starts from the model's view.
  if (s.x.log != x_.log || s.y.log != y_.log) set_zoomed(false);
  x_ = s.x;
  y_ = s.y;
  has_plots_ = !s.plots.empty();
  if (!zoomed_) place_xy_axes();
  plot->replot(QCustomPlot::rpQueuedReplot);
}

// The axes as the model gives them: the system's limits where it set them,
// else the data's extent.
void PanelPlot::place_xy_axes() {
  QCustomPlot* plot = plot_;
  applying_ = true;
  set_axis_log(plot->xAxis, x_.log || view_log_x_);
  set_axis_log(plot->yAxis, y_.log || view_log_y_);
  if (x_.manual)
    plot->xAxis->setRange(x_.min, x_.max);
  else if (has_plots_)
    fit_axis(plot->xAxis);
  if (y_.manual)
    plot->yAxis->setRange(y_.min, y_.max);
  else if (has_plots_)
    fit_axis(plot->yAxis);
  applying_ = false;
}

// Appends only the points that are new since the last draw, each at the
// time its frame was received, and drops those that left the model's ring,
// so a redraw costs the same however long the run.
void PanelPlot::draw_strip(const ControlState& s) {
  QCustomPlot* plot = plot_;
  const auto& stamps = s.stamps;
  if (s.strip_epoch != drawn_epoch_) {  // the traces were replaced (a move): draw them afresh
    drawn_epoch_ = s.strip_epoch;
    for (int t = 0; t < plot->graphCount(); ++t) plot->graph(t)->data()->clear();
    drawn_.fill(0);
  }
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
    const uint64_t from = std::max(drawn, first_in_ring);
    if (from > drawn) g->data()->clear();
    QVector<QCPGraphData> points;
    points.reserve(static_cast<qsizetype>(total - from + 4));
    // Stamp i holds the points from the count after stamp i-1 (0 for the
    // first) up to its own count.
    size_t i = 0;
    for (uint64_t k = from; k < total; ++k) {
      while (i < stamps.size() && stamps[i].appended[static_cast<size_t>(t)] <= k) ++i;
      if (i == stamps.size()) break;  // appended without a stamp: not drawn
      const uint64_t first = i > 0 ? stamps[i - 1].appended[static_cast<size_t>(t)] : 0;
      const uint64_t count = stamps[i].appended[static_cast<size_t>(t)] - first;
      const double since = i > 0 ? stamps[i].t_s - stamps[i - 1].t_s : STRIP_SPREAD_FIRST_S;
      const double spread = std::min(since, STRIP_SPREAD_MAX_S);
      const double start = stamps[i].t_s - spread;
      if (k == first && since > STRIP_GAP_S)  // silence before this frame: break the line
        points.push_back({start, std::numeric_limits<double>::quiet_NaN()});
      const double key = start + spread * static_cast<double>(k - first + 1) / static_cast<double>(count);
      points.push_back({key, static_cast<double>(ring[static_cast<size_t>(k - first_in_ring)])});
    }
    g->data()->add(points, true);
    drawn = total;
    // Keep what the ring keeps (and the gap marks among it).
    const int excess = g->data()->size() - static_cast<int>(ring.size()) - 8;
    if (excess > 0) g->data()->removeBefore((g->data()->constBegin() + excess)->key);
  }
  if (!stamps.empty()) newest_s_ = stamps.back().t_s;
  if (!zoomed_) follow_strip();
  plot->replot(QCustomPlot::rpQueuedReplot);
}

// The newest samples at the right edge, the values fitted to what is shown.
void PanelPlot::follow_strip() {
  if (kind_ != Kind::StripChart) return;
  QCustomPlot* plot = plot_;
  applying_ = true;
  const double right = std::max(newest_s_, STRIP_SECONDS);
  plot->xAxis->setRange(right - STRIP_SECONDS, right);
  const QCPRange keys = plot->xAxis->range();
  fit_values(plot->yAxis, {plot->graph(0), plot->graph(1)}, keys);
  fit_values(plot->yAxis2, {plot->graph(2), plot->graph(3)}, keys);
  applying_ = false;
}

void connect_view_switches(QWidget* form, const std::function<PanelPlot*(const QString&)>& plot_named) {
  for (QCheckBox* box : form->findChildren<QCheckBox*>()) {
    const QStringList parts = box->property("viewLog").toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 2 || (parts[1] != QLatin1String("x") && parts[1] != QLatin1String("y"))) continue;
    PanelPlot* plot = plot_named(parts[0]);
    if (!plot) continue;
    const char axis = parts[1] == QLatin1String("x") ? 'x' : 'y';
    QObject::connect(box, &QCheckBox::toggled, plot, [plot, axis](bool on) { plot->set_view_log(axis, on); });
    plot->set_view_log(axis, box->isChecked());
  }
}

}  // namespace rt
