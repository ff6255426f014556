#include "gui/trends/trend_plot.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QPalette>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "gui/panel/plots.h"
#include "gui/theme.h"

namespace rt {

namespace {

// The plots share one time axis, whose labels only the lowest shows: two
// plots and the drop zone fit the dock a 1366x768 screen leaves.
constexpr int MIN_HEIGHT = 56;
constexpr int TICK_LABELS_HEIGHT = 20;  // more for the plot that shows the time labels
constexpr int DOT_EVERY_PX = 6;  // raw samples this far apart or more get a dot
constexpr double PAD = 0.05;     // of the value range, above and below
constexpr int PAD_PX = 8;        // at least: a dot at an extreme stays clear of the axis line
constexpr int Y_TICK_PX = 24;    // the least room for each value label: a short plot has fewer
constexpr int BAND_ALPHA = 48;
const QColor NOTE_COLOUR(0x20, 0x80, 0xd0);

// Distinct colours for the values of a plot, in order.
const QColor COLOURS[] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x30, 0x30), QColor(0x20, 0x90, 0x40),
                          QColor(0x90, 0x50, 0xb0), QColor(0xb0, 0x70, 0x10), QColor(0x10, 0x90, 0xa0)};
constexpr int N_COLOURS = sizeof COLOURS / sizeof COLOURS[0];

bool same_range(const std::optional<LimitRange>& a, const std::optional<LimitRange>& b) {
  return a.has_value() == b.has_value() && (!a || (a->low == b->low && a->high == b->high));
}

QColor severity_colour(Severity s) {
  switch (s) {
    case Severity::Error: return QColor(0xd0, 0x20, 0x20);
    case Severity::Warning: return QColor(0xc0, 0x70, 0x00);
    case Severity::Info: break;
  }
  return QColor(0x70, 0x70, 0x90);
}

}  // namespace

TrendPlot::TrendPlot(QWidget* parent) : plot_(new QCustomPlot(parent)) {
  plot_->setObjectName(QStringLiteral("trendPlot"));
  plot_->setMinimumHeight(MIN_HEIGHT);
  plot_->setAcceptDrops(true);
  plot_->setContextMenuPolicy(Qt::CustomContextMenu);
  plot_->setMouseTracking(true);  // the cursor follows the mouse without a button held
  plot_->installEventFilter(this);
  plot_->setNotAntialiasedElements(QCP::aeAll);
  plot_->setAntialiasedElements(QCP::aeNone);
  plot_->setPlottingHint(QCP::phFastPolylines, true);
  // The mouse moves and zooms the time only; the values fit what is shown.
  plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plot_->axisRect()->setRangeDrag(Qt::Horizontal);
  plot_->axisRect()->setRangeZoom(Qt::Horizontal);
  plot_->legend->setVisible(true);
  plot_->legend->setBrush(Qt::NoBrush);  // apply_palette gives it the background, see-through
  plot_->legend->setBorderPen(Qt::NoPen);
  QFont small = plot_->font();
  small.setPointSize(std::max(6, small.pointSize() - 1));
  plot_->legend->setFont(small);
  plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
  plot_->addLayer(QStringLiteral("bands"), plot_->layer(QStringLiteral("grid")), QCustomPlot::limBelow);
  for (int i = 0; i < 4; ++i) {
    auto* band = new QCPItemRect(plot_);
    band->setLayer(QStringLiteral("bands"));
    band->setPen(Qt::NoPen);
    band->topLeft->setTypeX(QCPItemPosition::ptAxisRectRatio);
    band->bottomRight->setTypeX(QCPItemPosition::ptAxisRectRatio);
    band->topLeft->setAxisRect(plot_->axisRect());
    band->bottomRight->setAxisRect(plot_->axisRect());
    band->setVisible(false);
    band->setSelectable(false);
    bands_.push_back(band);
  }
  cursor_ = new QCPItemStraightLine(plot_);
  cursor_->setVisible(false);
  cursor_->setSelectable(false);
  position_ = new QCPItemStraightLine(plot_);
  position_->setObjectName(QStringLiteral("trendPosition"));
  position_->setVisible(false);
  position_->setSelectable(false);
  note_ = new QCPItemText(plot_);
  note_->setObjectName(QStringLiteral("trendNote"));
  note_->position->setType(QCPItemPosition::ptAxisRectRatio);
  note_->position->setAxisRect(plot_->axisRect());
  note_->position->setCoords(0.5, 0.5);
  note_->setPositionAlignment(Qt::AlignCenter);
  note_->setPadding(QMargins(6, 3, 6, 3));
  note_->setSelectable(false);
  set_labels(TimeLabels::Clock, true);

  connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this](const QCPRange& r) {
    if (!applying_ && on_range) on_range(r.lower, r.upper);
  });
  // A click (not a drag, not the first of a double-click) chooses a time.
  click_ = new QTimer(this);
  click_->setSingleShot(true);
  click_->setInterval(QApplication::doubleClickInterval());
  connect(click_, &QTimer::timeout, this, [this] {
    if (on_click) on_click(click_x_);
  });
  connect(plot_, &QCustomPlot::mousePress, this, [this](QMouseEvent* e) { pressed_at_ = e->position().toPoint(); });
  connect(plot_, &QCustomPlot::mouseRelease, this, [this](QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || (e->position().toPoint() - pressed_at_).manhattanLength() > 3) return;
    if (!plot_->axisRect()->rect().contains(e->position().toPoint())) return;
    click_x_ = plot_->xAxis->pixelToCoord(e->position().x());
    click_->start();
  });
  connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this] {
    click_->stop();
    if (on_reset) on_reset();
  });
  connect(plot_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
    if (on_hover) on_hover(plot_->xAxis->pixelToCoord(e->position().x()));
  });
  connect(plot_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { show_menu(at); });
  apply_palette();
  draw(TrendData{}, AxisX{}, 0.0, 1.0);
}

TrendPlot::~TrendPlot() {
  if (!plot_) return;
  // The plot sends events while it is taken down (a Leave among them); by
  // then it is no longer a plot, so this filter must not see them.
  plot_->removeEventFilter(this);
  delete plot_.data();
}

bool TrendPlot::has(const std::string& key) const {
  return std::any_of(values_.begin(), values_.end(), [&](const TrendValue& v) { return v.key == key; });
}

void TrendPlot::add(const TrendValue& value) {
  if (has(value.key)) return;
  values_.push_back(value);
  QCPGraph* g = plot_->addGraph();
  g->setName(value.unit.isEmpty() ? value.label : value.label + QStringLiteral(" (") + value.unit + QLatin1Char(')'));
  g->setAdaptiveSampling(false);  // the store's summary already keeps every extreme
  apply_palette();
}

void TrendPlot::remove(const std::string& key) {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (values_[i].key != key) continue;
    plot_->removeGraph(static_cast<int>(i));
    values_.erase(values_.begin() + static_cast<long>(i));
    apply_palette();
    if (on_values_changed) on_values_changed();
    return;
  }
}

void TrendPlot::set_limits(const std::string& key, const Limits& limits) {
  for (TrendValue& v : values_)
    if (v.key == key) v.limits = limits;
}

void TrendPlot::set_labels(TimeLabels labels, bool show_tick_labels) {
  if (labels == TimeLabels::Clock) {
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    plot_->xAxis->setTicker(ticker);
  } else {
    auto ticker = QSharedPointer<QCPAxisTickerTime>::create();
    ticker->setTimeFormat(labels == TimeLabels::Elapsed ? QStringLiteral("%d/%h:%m:%s") : QStringLiteral("%h:%m:%s"));
    plot_->xAxis->setTicker(ticker);
  }
  plot_->xAxis->setTickLabels(show_tick_labels);
  plot_->setMinimumHeight(MIN_HEIGHT + (show_tick_labels ? TICK_LABELS_HEIGHT : 0));
}

void TrendPlot::set_range(double x0, double x1) {
  applying_ = true;
  plot_->xAxis->setRange(x0, x1);
  applying_ = false;
}

void TrendPlot::draw(const TrendData& d, const AxisX& axis, double x0, double x1, const QString& unavailable) {
  set_range(x0, x1);
  if (auto* ticker = dynamic_cast<QCPAxisTickerDateTime*>(plot_->xAxis->ticker().data())) {
    const double span = x1 - x0;
    ticker->setDateTimeFormat(span < 120 ? QStringLiteral("HH:mm:ss.z")
                              : span < 2 * 86400 ? QStringLiteral("HH:mm:ss")
                                                 : QStringLiteral("dd MMM HH:mm"));
  }
  const int columns = std::max(1, plot_->axisRect()->width());
  QStringList without, reading;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (size_t i = 0; i < values_.size(); ++i) {
    QCPGraph* g = plot_->graph(static_cast<int>(i));
    const TrendValue& v = values_[i];
    auto it = d.series.find(v.key);
    if (!axis.x || it == d.series.end()) {
      g->data()->clear();
      reading << v.label;
      continue;
    }
    const PlotPoints p = plot_points(d, it->second, axis, x0, x1, columns, v.scale);
    g->setData(QVector<double>(p.x.begin(), p.x.end()), QVector<double>(p.y.begin(), p.y.end()), true);
    // A sample between two breaks has no line to show it: dots then too.
    const bool sparse = p.raw && (p.samples * DOT_EVERY_PX < static_cast<size_t>(columns) || p.isolated > 0);
    g->setScatterStyle(sparse ? QCPScatterStyle(QCPScatterStyle::ssDisc, 4) : QCPScatterStyle());
    if (p.samples == 0) without << v.label;
    for (size_t k = 0; k < p.y.size(); ++k) {
      if (!std::isfinite(p.y[k])) continue;
      // Only what lies in the range (raw points run one beyond each end).
      if (p.raw && (p.x[k] < x0 || p.x[k] > x1) && p.samples > 0) continue;
      lo = std::min(lo, p.y[k]);
      hi = std::max(hi, p.y[k]);
    }
  }
  QString note;
  if (values_.empty()) note = QStringLiteral("Drop a display of the panel here, or double-click a value in the list");
  else if (!reading.isEmpty() && !unavailable.isEmpty()) note = unavailable;
  else if (!reading.isEmpty()) note = QStringLiteral("reading %1 from the recording...").arg(reading.join(QStringLiteral(", ")));
  else if (!without.isEmpty()) note = QStringLiteral("no samples of %1 in this range").arg(without.join(QStringLiteral(", ")));
  note_->setText(note);
  note_->setVisible(!note.isEmpty());
  plot_->yAxis->ticker()->setTickCount(std::clamp(plot_->axisRect()->height() / Y_TICK_PX, 2, 5));
  if (lo <= hi) {
    // A short plot: the share of the range that keeps PAD_PX (a fifth of a
    // very short one) free at each end.
    const int height = plot_->axisRect()->height();
    const int free_px = std::min(PAD_PX, height / 5);
    const double share = free_px > 0 ? std::max(PAD, static_cast<double>(free_px) / (height - 2 * free_px)) : PAD;
    const double pad = hi > lo ? (hi - lo) * share : std::max(1.0, std::abs(lo) * PAD);
    plot_->yAxis->setRange(lo - pad, hi + pad);
  }
  QStringList units;
  for (const TrendValue& v : values_)
    if (!v.unit.isEmpty() && !units.contains(v.unit)) units << v.unit;
  plot_->yAxis->setLabel(units.join(QStringLiteral(", ")));
  const QCPRange y = plot_->yAxis->range();
  place_bands(y.lower, y.upper);
  replot();
}

// The limits as bands, when every value of the plot has the same ones (a
// band would say nothing true of a value it does not belong to).
void TrendPlot::place_bands(double y0, double y1) {
  const Limits* shared = values_.empty() ? nullptr : &values_.front().limits;
  bool one = shared && shared->any();
  for (const TrendValue& v : values_)
    one = one && same_range(shared->caution, v.limits.caution) && same_range(shared->alarm, v.limits.alarm);
  for (QCPItemRect* b : bands_) b->setVisible(false);
  if (!shared || !one) return;
  const double below = y0 - (y1 - y0), above = y1 + (y1 - y0);  // past the plot's edges
  auto place = [&](QCPItemRect* band, double from, double to) {
    if (!(to > from) || to < y0 || from > y1) return;
    band->topLeft->setCoords(0.0, std::min(to, above));
    band->bottomRight->setCoords(1.0, std::max(from, below));
    band->setVisible(true);
  };
  const double alarm_low = shared->alarm ? shared->alarm->low : -std::numeric_limits<double>::infinity();
  const double alarm_high = shared->alarm ? shared->alarm->high : std::numeric_limits<double>::infinity();
  const double caution_low = shared->caution ? shared->caution->low : alarm_low;
  const double caution_high = shared->caution ? shared->caution->high : alarm_high;
  place(bands_[0], below, alarm_low);
  place(bands_[1], std::max(alarm_low, below), caution_low);
  place(bands_[2], caution_high, std::min(alarm_high, above));
  place(bands_[3], alarm_high, above);
}

void TrendPlot::set_cursor(double x) {
  const bool shown = std::isfinite(x);
  cursor_->setVisible(shown);
  if (shown) {
    cursor_->point1->setCoords(x, 0.0);
    cursor_->point2->setCoords(x, 1.0);
  }
}

void TrendPlot::set_position(double x) {
  const bool shown = std::isfinite(x);
  position_->setVisible(shown);
  if (shown) {
    position_->point1->setCoords(x, 0.0);
    position_->point2->setCoords(x, 1.0);
  }
}

void TrendPlot::set_events(const std::vector<std::pair<double, EventMark>>& events) {
  for (auto* line : event_lines_) plot_->removeItem(line);
  event_lines_.clear();
  for (const auto& [x, mark] : events) {
    auto* line = new QCPItemStraightLine(plot_);
    line->setSelectable(false);
    // A note stands out from the log's events: solid, in the notes' colour.
    line->setPen(mark.note ? line_pen(NOTE_COLOUR) : line_pen(severity_colour(mark.severity), Qt::DashLine));
    line->point1->setCoords(x, 0.0);
    line->point2->setCoords(x, 1.0);
    event_lines_.push_back(line);
  }
}

void TrendPlot::apply_palette() {
  const QPalette p = QApplication::palette();
  const QColor text = p.color(QPalette::Text), grid = p.color(QPalette::Mid);
  plot_->setBackground(QBrush(p.color(QPalette::Base)));
  for (QCPAxis* axis : {plot_->xAxis, plot_->yAxis}) style_axis(axis, text, grid);
  plot_->legend->setTextColor(text);
  QColor under = p.color(QPalette::Base);
  under.setAlpha(200);
  plot_->legend->setBrush(QBrush(under));
  for (int g = 0; g < plot_->graphCount(); ++g) {
    const QColor c = trace_colour(COLOURS[g % N_COLOURS]);
    plot_->graph(g)->setPen(line_pen(c));
    plot_->graph(g)->setScatterStyle(plot_->graph(g)->scatterStyle());
  }
  const LimitColours limits = limit_colours();
  QColor caution = limits.caution_background, alarm = limits.alarm_background;
  caution.setAlpha(BAND_ALPHA);
  alarm.setAlpha(BAND_ALPHA);
  bands_[0]->setBrush(alarm);
  bands_[3]->setBrush(alarm);
  bands_[1]->setBrush(caution);
  bands_[2]->setBrush(caution);
  cursor_->setPen(line_pen(p.color(QPalette::Highlight)));
  QPen position = line_pen(p.color(QPalette::Text));
  position.setWidthF(position.widthF() * 2);
  position_->setPen(position);
  note_->setColor(p.color(QPalette::ToolTipText));
  note_->setBrush(QBrush(p.color(QPalette::ToolTipBase)));
  replot();
}

void TrendPlot::replot() {
  const double ratio = plot_->devicePixelRatioF();
  if (plot_->bufferDevicePixelRatio() != ratio) plot_->setBufferDevicePixelRatio(ratio);
  plot_->replot(QCustomPlot::rpQueuedReplot);
}

QString TrendPlot::note() const { return note_->visible() ? note_->text() : QString(); }

bool TrendPlot::eventFilter(QObject* watched, QEvent* event) {
  if (watched != plot_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter: {
      auto* e = static_cast<QDragEnterEvent*>(event);
      if (e->mimeData()->hasFormat(QLatin1String(TREND_MIME))) e->acceptProposedAction();
      return true;
    }
    case QEvent::Drop: {
      auto* e = static_cast<QDropEvent*>(event);
      const QString keys = QString::fromUtf8(e->mimeData()->data(QLatin1String(TREND_MIME)));
      std::vector<std::string> out;
      for (const QString& k : keys.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) out.push_back(k.toStdString());
      e->acceptProposedAction();
      if (on_drop && !out.empty()) on_drop(out);
      return true;
    }
    case QEvent::Leave:
      if (on_hover) on_hover(std::numeric_limits<double>::quiet_NaN());
      break;
    case QEvent::Resize:
      if (on_resized) on_resized();
      break;
    default: break;
  }
  return QObject::eventFilter(watched, event);
}

void TrendPlot::show_menu(const QPoint& at) {
  QMenu menu(plot_);
  for (const TrendValue& v : values_) {
    const std::string key = v.key;
    menu.addAction(QStringLiteral("Remove %1").arg(v.label), this, [this, key] { remove(key); });
  }
  menu.addSeparator();
  menu.addAction(QStringLiteral("Remove this plot"), this, [this] {
    if (on_close) on_close();
  });
  menu.exec(plot_->mapToGlobal(at));
}

}  // namespace rt
