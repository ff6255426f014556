#include "gui/trends/across_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QPointer>
#include <QSettings>
#include <QSplitter>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "gui/panel/plots.h"
#include "gui/theme.h"
#include "history/values.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr const char* VALUE_KEY = "across/value";
constexpr int BAND_ALPHA = 60;  // the min-to-max band under a session's mean
constexpr int SETTLE_MS = 200;
constexpr int LEGEND_COLUMNS = 3;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Distinct colours for the sessions, in the order chosen.
const QColor COLOURS[] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x30, 0x30), QColor(0x20, 0x90, 0x40),
                          QColor(0x90, 0x50, 0xb0), QColor(0xb0, 0x70, 0x10), QColor(0x10, 0x90, 0xa0),
                          QColor(0x70, 0x70, 0x70), QColor(0xd0, 0x40, 0xa0)};
constexpr int N_COLOURS = sizeof COLOURS / sizeof COLOURS[0];

QSettings settings() { return QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse")); }

// The Sessions window's folder (its settings key), ~/vst_gse unless chosen.
QString archive_folder() {
  const QString kept = settings().value(QStringLiteral("archive/folder")).toString();
  if (!kept.isEmpty() && QDir(kept).exists()) return kept;
  return QDir(QDir::homePath()).filePath(QStringLiteral("vst_gse"));
}

}  // namespace

AcrossWindow::AcrossWindow(QWidget* parent, const QString& folder) : QDialog(parent), folder_(folder) {
  setObjectName(QStringLiteral("acrossWindow"));
  setWindowTitle(QStringLiteral("Values across sessions"));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  value_ = new QComboBox(this);
  value_->setObjectName(QStringLiteral("acrossValue"));
  value_->setToolTip(QStringLiteral("The value drawn"));
  for (const ValueInfo& v : value_catalogue()) {
    if (is_link_figure(v)) continue;  // not in the frames, so not summarized
    const QString key = QString::fromStdString(v.key);
    value_->addItem(QStringLiteral("%1  %2").arg(key, QString::fromStdString(v.what)), key);
  }
  axis_ = new QComboBox(this);
  axis_->setObjectName(QStringLiteral("acrossAxis"));
  axis_->addItem(QStringLiteral("one clock, gaps between sessions"));
  axis_->addItem(QStringLiteral("time since each start, overlaid"));
  axis_->setToolTip(QStringLiteral("One time axis for all the sessions, or each from its own start"));
  bar->addWidget(new QLabel(QStringLiteral("Value:"), this));
  bar->addWidget(value_, 1);
  bar->addWidget(new QLabel(QStringLiteral("Time:"), this));
  bar->addWidget(axis_);
  layout->addLayout(bar);

  auto* split = new QSplitter(Qt::Horizontal, this);
  list_ = new QListWidget(split);
  list_->setObjectName(QStringLiteral("acrossSessions"));
  list_->setToolTip(QStringLiteral("Tick the sessions to draw"));
  plot_ = new QCustomPlot(split);
  plot_->setObjectName(QStringLiteral("acrossPlot"));
  plot_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  plot_->axisRect()->setRangeDrag(Qt::Horizontal);
  plot_->axisRect()->setRangeZoom(Qt::Horizontal);
  plot_->setNoAntialiasingOnDrag(true);
  // The legend under the plot, three sessions to a row: over the plot it
  // would hide the curves of thirty.
  plot_->legend->setVisible(true);
  plot_->legend->setBorderPen(Qt::NoPen);
  plot_->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
  plot_->legend->setWrap(LEGEND_COLUMNS);
  auto* under = new QCPLayoutGrid;
  plot_->plotLayout()->addElement(1, 0, under);
  plot_->plotLayout()->setRowStretchFactor(1, 0.001);
  under->setMargins(QMargins(0, 0, 0, 4));
  under->addElement(0, 0, plot_->legend);
  split->addWidget(list_);
  split->addWidget(plot_);
  split->setStretchFactor(1, 1);
  split->setSizes({300, 900});
  layout->addWidget(split, 1);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("acrossStatus"));
  status_->setWordWrap(true);
  layout->addWidget(status_);
  resize(1200, 600);

  settle_.setSingleShot(true);
  settle_.setInterval(SETTLE_MS);
  connect(&settle_, &QTimer::timeout, this, [this] { read_raw(); });
  connect(plot_->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
    if (!applying_) range_changed();
  });
  connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this] { show_whole(); });
  const int kept = value_->findData(settings().value(QString::fromLatin1(VALUE_KEY)).toString());
  value_->setCurrentIndex(std::max(0, kept));
  connect(value_, &QComboBox::currentIndexChanged, this, [this] {
    settings().setValue(QString::fromLatin1(VALUE_KEY), value_->currentData());
    chosen_changed();
  });
  connect(axis_, &QComboBox::currentIndexChanged, this, [this] { chosen_changed(); });
  connect(list_, &QListWidget::itemChanged, this, [this] { chosen_changed(); });
  apply_palette();
  list_sessions();
}

AcrossWindow::~AcrossWindow() { stop_reading(); }

void AcrossWindow::list_sessions() {
  archive_ = std::make_unique<Archive>();
  std::string error;
  if (!archive_->open(folder_.toStdString(), &error)) {
    archive_.reset();
    status_->setText(QString::fromStdString(error));
    return;
  }
  rows_.clear();
  for (SessionRow& r : archive_->sessions())
    if (!std::isnan(r.started)) rows_.push_back(std::move(r));
  std::sort(rows_.begin(), rows_.end(), [](const SessionRow& a, const SessionRow& b) { return a.started < b.started; });
  const QSignalBlocker quiet(list_);
  list_->clear();
  for (const SessionRow& r : rows_) {
    auto* item = new QListWidgetItem(QString::fromStdString(across_label(r)), list_);
    item->setData(Qt::UserRole, static_cast<qlonglong>(r.session));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    item->setToolTip(QString::fromStdString(r.path()));
  }
  chosen_changed();
  if (rows_.empty())
    status_->setText(QStringLiteral("No session in the archive of %1 yet: File > Sessions... indexes the folder")
                         .arg(QDir::toNativeSeparators(folder_)));
}

std::vector<int64_t> AcrossWindow::ticked() const {
  std::vector<int64_t> out;
  for (int i = 0; i < list_->count(); ++i)
    if (list_->item(i)->checkState() == Qt::Checked) out.push_back(list_->item(i)->data(Qt::UserRole).toLongLong());
  return out;
}

void AcrossWindow::choose(const std::vector<int64_t>& sessions) {
  {
    const QSignalBlocker quiet(list_);
    for (int i = 0; i < list_->count(); ++i) {
      const int64_t id = list_->item(i)->data(Qt::UserRole).toLongLong();
      const bool on = std::find(sessions.begin(), sessions.end(), id) != sessions.end();
      list_->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
  }
  chosen_changed();
}

void AcrossWindow::set_value(const QString& key) { value_->setCurrentIndex(std::max(0, value_->findData(key))); }

void AcrossWindow::set_axis(AcrossAxis axis) { axis_->setCurrentIndex(axis == AcrossAxis::Clock ? 0 : 1); }

void AcrossWindow::chosen_changed() {
  stop_reading();
  ++generation_;
  raw_.clear();
  drawn_raw_ = false;
  note_.clear();
  minutes_.clear();
  const auto axis = axis_->currentIndex() == 0 ? AcrossAxis::Clock : AcrossAxis::Elapsed;
  if (archive_) minutes_ = value_across(*archive_, value_->currentData().toString().toStdString(), ticked(), axis);
  auto* ticker = static_cast<QCPAxisTicker*>(nullptr);
  if (axis == AcrossAxis::Clock) {
    auto* t = new QCPAxisTickerDateTime;
    t->setDateTimeFormat(QStringLiteral("yyyy-MM-dd\nHH:mm"));
    ticker = t;
  } else {
    auto* t = new QCPAxisTickerTime;
    t->setTimeFormat(QStringLiteral("%h:%m:%s"));
    ticker = t;
  }
  plot_->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(ticker));
  plot_->xAxis->setLabel(axis == AcrossAxis::Clock ? QStringLiteral("local time")
                                                   : QStringLiteral("time since the session's first frame"));
  show_whole();
}

void AcrossWindow::show_whole() {
  double x0 = std::numeric_limits<double>::infinity(), x1 = -x0;
  for (const AcrossLine& l : minutes_)
    if (!l.points.empty()) {
      // A minute's point stands at its middle: the minute spans half a minute either side.
      x0 = std::min(x0, l.points.front().x - 30.0);
      x1 = std::max(x1, l.points.back().x + 30.0);
    }
  if (x0 > x1) {  // nothing chosen: the last hour, or the first
    const bool clock = axis_->currentIndex() == 0;
    x1 = clock ? static_cast<double>(QDateTime::currentSecsSinceEpoch()) : 3600.0;
    x0 = x1 - 3600.0;
  }
  show_range(x0, x1);
}

void AcrossWindow::show_range(double x0, double x1) {
  applying_ = true;
  plot_->xAxis->setRange(x0, x1);
  applying_ = false;
  range_changed();
}

void AcrossWindow::range_changed() {
  const QCPRange r = plot_->xAxis->range();
  const bool want_raw = across_wants_raw(r.lower, r.upper) && !minutes_.empty();
  if (!want_raw) {
    settle_.stop();
    if (reading_) stop_reading();
    drawn_raw_ = false;
    draw();
    return;
  }
  // Frames already read for the range shown are drawn at once.
  drawn_raw_ = !raw_.empty() && r.lower >= raw_x0_ && r.upper <= raw_x1_;
  draw();
  if (!drawn_raw_) settle_.start();
}

void AcrossWindow::stop_reading() {
  if (stop_) stop_->store(true);
  if (reader_.joinable()) reader_.join();
  reading_ = false;
}

void AcrossWindow::read_raw() {
  stop_reading();
  const QCPRange r = plot_->xAxis->range();
  // The range read reaches a little past the one shown, so a small pan
  // draws at once.
  const double margin = r.size() / 2.0;
  const double x0 = r.lower - margin, x1 = r.upper + margin;
  const auto axis = axis_->currentIndex() == 0 ? AcrossAxis::Clock : AcrossAxis::Elapsed;
  // Only the sessions with minutes in the range: the others have no frame there.
  std::vector<SessionRow> wanted;
  for (const AcrossLine& l : minutes_) {
    const bool inside = std::any_of(l.points.begin(), l.points.end(),
                                    [&](const AcrossPoint& p) { return p.x + 30.0 >= x0 && p.x - 30.0 <= x1; });
    if (!inside) continue;
    for (const SessionRow& row : rows_)
      if (row.session == l.session) wanted.push_back(row);
  }
  const uint64_t generation = ++generation_;
  raw_x0_ = x0;
  raw_x1_ = x1;
  reading_ = true;
  status_->setText(QStringLiteral("Reading the frames of %1 recording%2 ...")
                       .arg(wanted.size())
                       .arg(wanted.size() == 1 ? "" : "s"));
  stop_ = std::make_shared<std::atomic<bool>>(false);
  auto stop = stop_;
  const std::string value = value_->currentData().toString().toStdString();
  QPointer<AcrossWindow> self(this);
  reader_ = std::thread([self, stop, wanted, value, axis, x0, x1, generation] {
    std::vector<AcrossLine> lines;
    QStringList problems;
    for (const SessionRow& row : wanted) {
      AcrossLine line;
      std::string error;
      if (raw_across(row, value, axis, x0, x1, &line, &error, stop.get())) lines.push_back(std::move(line));
      else if (stop->load()) return;
      else problems << QString::fromStdString(error);
    }
    QMetaObject::invokeMethod(
        self.data(),
        [self, generation, lines = std::move(lines), problems]() mutable {
          if (self) self->raw_read(generation, std::move(lines), problems.join(QStringLiteral("; ")));
        },
        Qt::QueuedConnection);
  });
}

void AcrossWindow::raw_read(uint64_t generation, std::vector<AcrossLine> lines, QString problems) {
  if (generation != generation_) return;  // the choice or the range moved on
  if (reader_.joinable()) reader_.join();
  reading_ = false;
  raw_ = std::move(lines);
  note_ = problems;
  if (!problems.isEmpty()) log_warning("Across sessions: not read: " + problems.toStdString());
  const QCPRange r = plot_->xAxis->range();
  drawn_raw_ = across_wants_raw(r.lower, r.upper) && r.lower >= raw_x0_ && r.upper <= raw_x1_;
  draw();
}

void AcrossWindow::draw() {
  plot_->clearGraphs();
  const QCPRange r = plot_->xAxis->range();
  double y0 = std::numeric_limits<double>::infinity(), y1 = -y0;
  auto fit = [&](double x, double lo, double hi) {
    if (x < r.lower - 30.0 || x > r.upper + 30.0) return;
    y0 = std::min(y0, lo);
    y1 = std::max(y1, hi);
  };
  for (size_t i = 0; i < minutes_.size(); ++i) {
    const AcrossLine& m = minutes_[i];
    const QColor colour = trace_colour(COLOURS[i % N_COLOURS]);
    SessionRow row;
    for (const SessionRow& s : rows_)
      if (s.session == m.session) row = s;
    const QString name = QString::fromStdString(across_label(row));
    QCPGraph* mean = plot_->addGraph();
    mean->setName(name);
    mean->setPen(line_pen(colour));
    const AcrossLine* raw = nullptr;
    if (drawn_raw_)
      for (const AcrossLine& l : raw_)
        if (l.session == m.session) raw = &l;
    QVector<double> xs, means, mins, maxs;
    if (drawn_raw_) {
      // The frames themselves, each a dot on the line.
      if (raw)
        for (const AcrossPoint& p : raw->points) {
          xs << p.x;
          means << p.mean;
          fit(p.x, p.mean, p.mean);
        }
      mean->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 3));
      mean->setData(xs, means, true);
      continue;
    }
    for (size_t k = 0; k < m.points.size(); ++k) {
      const AcrossPoint& p = m.points[k];
      // Minutes without frames break the line.
      if (k > 0 && p.x - m.points[k - 1].x > 90.0) {
        xs << p.x - 60.0;
        means << NaN;
        mins << NaN;
        maxs << NaN;
      }
      xs << p.x;
      means << p.mean;
      mins << p.min;
      maxs << p.max;
      fit(p.x, p.min, p.max);
    }
    mean->setData(xs, means, true);
    QColor under = colour;
    under.setAlpha(BAND_ALPHA);
    QCPGraph* low = plot_->addGraph();
    QCPGraph* high = plot_->addGraph();
    for (QCPGraph* g : {low, high}) {
      g->setPen(Qt::NoPen);
      g->removeFromLegend();
    }
    low->setData(xs, mins, true);
    high->setData(xs, maxs, true);
    high->setBrush(under);
    high->setChannelFillGraph(low);
  }
  if (y0 <= y1) {
    const double pad = std::max(1e-9, (y1 - y0) * 0.05);
    plot_->yAxis->setRange(y0 - pad, y1 + pad);
  }
  const ValueInfo* info = find_value(value_->currentData().toString().toStdString());
  plot_->yAxis->setLabel(info && !info->unit.empty()
                             ? QStringLiteral("%1 (%2)").arg(value_->currentData().toString(),
                                                             QString::fromStdString(info->unit))
                             : value_->currentData().toString());
  plot_->replot(QCustomPlot::rpQueuedReplot);

  QString text;
  if (minutes_.empty()) {
    text = rows_.empty() ? status_->text() : QStringLiteral("Tick the sessions to draw");
  } else if (reading_) {
    text = status_->text();
  } else if (drawn_raw_) {
    text = QStringLiteral("%1 session%2: every frame, read from the recordings")
               .arg(minutes_.size())
               .arg(minutes_.size() == 1 ? "" : "s");
  } else {
    text = QStringLiteral("%1 session%2: the mean of each minute, its minimum to maximum shaded; zoom below %3 "
                          "minutes for every frame")
               .arg(minutes_.size())
               .arg(minutes_.size() == 1 ? "" : "s")
               .arg(ACROSS_RAW_SPAN_S / 60.0);
  }
  if (!note_.isEmpty()) text += QStringLiteral(" (not read: %1)").arg(note_);
  status_->setText(text);
}

QString AcrossWindow::status_text() const { return status_->text(); }

void AcrossWindow::apply_palette() {
  const QPalette p = QApplication::palette();
  const QColor text = p.color(QPalette::Text), grid = p.color(QPalette::Mid);
  plot_->setBackground(QBrush(p.color(QPalette::Base)));
  for (QCPAxis* axis : {plot_->xAxis, plot_->yAxis}) {
    style_axis(axis, text, grid);
    axis->setLabelColor(text);
  }
  plot_->legend->setTextColor(text);
  QColor under = p.color(QPalette::Base);
  under.setAlpha(200);
  plot_->legend->setBrush(QBrush(under));
  draw();
}

AcrossWindow* open_across_window(QWidget* parent) {
  const QString folder = archive_folder();
  auto* window = parent->findChild<AcrossWindow*>(QStringLiteral("acrossWindow"), Qt::FindDirectChildrenOnly);
  if (window && window->folder() != folder) {
    delete window;
    window = nullptr;
  }
  if (!window) window = new AcrossWindow(parent, folder);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace rt
