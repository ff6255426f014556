#include "gui/trends/trends_view.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <tuple>

#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "gui/trends/across_window.h"
#include "gui/trends/display_drag.h"
#include "gui/trends/remote_source.h"
#include "gui/trends/value_list.h"
#include "history/pass.h"
#include "history/plot_rules.h"
#include "history/reception.h"
#include "history/timeline.h"
#include "history/time_axis.h"
#include "history/trend_csv.h"
#include "history/values.h"
#include "publish/viewer.h"
#include "replay/replay.h"
#include "runtime/model.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr int TICK_MS = 100;
// New frames redraw the plots at most this often (the operator's zoom and
// pan at once): four trends following a live link cost little.
constexpr qint64 DATA_REDRAW_MS = 1000;
constexpr size_t MAX_EVENT_LINES = 200;
constexpr size_t MAX_HOVER_EVENTS = 5000;  // in view, for the cursor to name
constexpr int MAX_EVENTS_NAMED = 3;        // under the cursor at once
constexpr int EVENT_HOVER_PX = 4;
constexpr double MIN_SPAN_S = 0.5;

const QString KEY_SHOWN = QStringLiteral("trends/shown");
const QString KEY_PLOTS = QStringLiteral("trends/plots");
const QString KEY_AXIS = QStringLiteral("trends/axis");
const QString KEY_AREA = QStringLiteral("trends/area");
const QString KEY_FLOATING = QStringLiteral("trends/floating");
const QString KEY_SPAN = QStringLiteral("trends/follow_span_s");

// The widths Follow offers (a zoom while following chooses any other).
constexpr double FOLLOW_WIDTHS_S[] = {60, 300, 600, 1800, 3600, 6 * 3600, 24 * 3600};

QString span_label(double seconds) {
  const long s = std::lround(seconds);
  if (s < 60) return QStringLiteral("%1 s").arg(s);
  if (s < 3600) return s % 60 == 0 ? QStringLiteral("%1 min").arg(s / 60) : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
  return s % 3600 == 0 ? QStringLiteral("%1 h").arg(s / 3600) : QStringLiteral("%1 h %2 min").arg(s / 3600).arg(s % 3600 / 60);
}

// The drop target below the plots that makes a new plot.
class NewPlotZone : public QLabel {
 public:
  std::function<void(const std::vector<std::string>&)> on_drop;
  NewPlotZone() : QLabel(QStringLiteral("Drop a value here for a new plot")) {
    setObjectName(QStringLiteral("trendNewPlot"));
    setAlignment(Qt::AlignCenter);
    setAcceptDrops(true);
    setFrameShape(QFrame::StyledPanel);
    setMinimumHeight(22);
  }

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override {
    if (e->mimeData()->hasFormat(QLatin1String(TREND_MIME))) e->acceptProposedAction();
  }
  void dropEvent(QDropEvent* e) override {
    std::vector<std::string> keys;
    for (const QString& k : QString::fromUtf8(e->mimeData()->data(QLatin1String(TREND_MIME)))
                                .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
      keys.push_back(k.toStdString());
    e->acceptProposedAction();
    if (on_drop && !keys.empty()) on_drop(keys);
  }
};

// The recording the session plays or writes, by the rules it is read with.
bool session_source(TrendSource* out, QString* why) {
  if (remote_view_source(out)) return true;
  if (transport_is_playback()) {
    const ReplayView v = replay_view();
    out->path = v.path.empty() ? transport_source() : v.path;
    out->rules = transport_is_link_replay() ? FrameRules::Link : FrameRules::Playback;
    out->live = false;
    if (out->path.empty() || out->path == "-") {
      *why = QStringLiteral("The trends come from a recording file; this playback reads a pipe.");
      return false;
    }
    return true;
  }
  out->path = transport_recording();
  out->rules = FrameRules::Link;
  out->live = true;
  if (out->path.empty()) {
    *why = QStringLiteral("Not recording: the trends come from the recording, so there are none.");
    return false;
  }
  return true;
}

QString value_text(double v, const TrendValue& tv) {
  if (!std::isfinite(v)) return QString::fromStdString(format_display_double(v));
  DisplayFormat f = tv.format;
  f.scale = 1.0;
  QString text = QString::fromStdString(format_display_double(v, f));
  if (!tv.unit.isEmpty()) text += QLatin1Char(' ') + tv.unit;
  return text;
}

}  // namespace

TrendsView::TrendsView(QMainWindow* window, const PanelModel& model, QWidget* form)
    : model_(model),
      window_(window),
      cursor_x_(std::numeric_limits<double>::quiet_NaN()),
      position_x_(std::numeric_limits<double>::quiet_NaN()) {
  build(window, form);
  restore();
  timer_.setInterval(TICK_MS);
  connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
  timer_.start();
}

TrendsView::~TrendsView() {
  timer_.stop();
  export_cancel_ = true;  // an export under way leaves no file
  if (export_thread_.joinable()) export_thread_.join();
  save();
  plots_.clear();
}

qint64 TrendsView::clock_ms() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void TrendsView::build(QMainWindow* window, QWidget* form) {
  dock_ = new QDockWidget(QStringLiteral("Trends"), window);
  dock_->setObjectName(QStringLiteral("trendsDock"));
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 2, 4, 4);
  column->setSpacing(2);
  auto* bar = new QHBoxLayout;
  axis_ = new QComboBox;
  axis_->setObjectName(QStringLiteral("trendAxis"));
  axis_->addItem(QStringLiteral("clock time"));
  axis_->addItem(QStringLiteral("instrument's elapsed time"));
  axis_->setToolTip(QStringLiteral("The time the plots are drawn against"));
  follow_ = new QCheckBox(QStringLiteral("Follow"));
  follow_->setObjectName(QStringLiteral("trendFollow"));
  follow_->setToolTip(QStringLiteral("Keep the newest frames in view: the whole session, up to the width beside"));
  // Live, and in a remote view: the frames come as the link brings them.
  const bool arriving = !transport_is_playback() || viewer_active();
  follow_->setChecked(arriving);
  follow_->setVisible(arriving);
  follow_width_ = new QComboBox;
  follow_width_->setObjectName(QStringLiteral("trendFollowWidth"));
  follow_width_->setToolTip(QStringLiteral("The most of the newest frames Follow shows (a zoom while following chooses "
                                           "another)"));
  for (double w : FOLLOW_WIDTHS_S) follow_width_->addItem(span_label(w), w);
  follow_width_->setVisible(arriving);
  export_ = new QPushButton(QStringLiteral("Export CSV..."));
  export_->setObjectName(QStringLiteral("trendExport"));
  export_->setToolTip(QStringLiteral("The plotted values over the range shown, as CSV (docs/csv.md)"));
  auto* across = new QPushButton(QStringLiteral("Across sessions..."));
  across->setObjectName(QStringLiteral("trendAcross"));
  across->setToolTip(QStringLiteral("One value over several sessions of the archive (File > Sessions...'s folder)"));
  connect(across, &QPushButton::clicked, this, [this] { open_across_window(window_); });
  status_ = new QLabel;
  status_->setObjectName(QStringLiteral("trendStatus"));
  status_->setWordWrap(true);
  bar->addWidget(new QLabel(QStringLiteral("Time:")));
  bar->addWidget(axis_);
  bar->addWidget(follow_);
  bar->addWidget(follow_width_);
  bar->addWidget(export_);
  bar->addWidget(across);
  bar->addWidget(status_, 1);
  column->addLayout(bar);

  auto* split = new QSplitter(Qt::Horizontal);
  split->setObjectName(QStringLiteral("trendSplit"));
  list_ = new ValueList(model_);
  split->addWidget(list_);
  auto* right = new QWidget;
  auto* right_column = new QVBoxLayout(right);
  right_column->setContentsMargins(0, 0, 0, 0);
  right_column->setSpacing(2);
  readout_ = new QLabel(QStringLiteral(" "));
  readout_->setObjectName(QStringLiteral("trendReadout"));
  readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // Its width never pushes the dock: the readout changes with every move of
  // the mouse, and the panel beside the dock would jump with it.
  readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  right_column->addWidget(readout_);
  auto* scroll = new QScrollArea;
  scroll_ = scroll;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  plots_box_ = new QWidget;
  plots_column_ = new QVBoxLayout(plots_box_);
  plots_column_->setContentsMargins(0, 0, 0, 0);
  plots_column_->setSpacing(0);
  auto* zone = new NewPlotZone;
  zone->on_drop = [this](const std::vector<std::string>& keys) { add_plot(keys); };
  drop_new_ = zone;
  plots_column_->addWidget(drop_new_);
  scroll->setWidget(plots_box_);
  right_column->addWidget(scroll, 1);
  no_frames_ = new QLabel(QString::fromLatin1(NO_FRAMES_TEXT));
  no_frames_->setObjectName(QStringLiteral("trendNoFrames"));
  no_frames_->setAlignment(Qt::AlignCenter);
  no_frames_->setVisible(false);
  right_column->addWidget(no_frames_, 1);
  split->addWidget(right);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  split->setSizes({230, 800});
  column->addWidget(split, 1);
  dock_->setWidget(body);
  window->addDockWidget(Qt::BottomDockWidgetArea, dock_);
  dock_->hide();

  show_ = new QAction(QStringLiteral("Trends"), window);
  show_->setObjectName(QStringLiteral("actionShowTrends"));
  show_->setCheckable(true);
  show_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
  show_->setToolTip(QStringLiteral("Trend any value over the whole session (Ctrl+T)"));
  window->addAction(show_);
  connect(show_, &QAction::toggled, dock_, [this](bool on) {
    dock_->setVisible(on);
    if (on) dirty_ = true;
    save();
  });
  connect(dock_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    if (!visible && !dock_->isVisible() && show_->isChecked()) {
      show_->setChecked(false);
    }
  });
  connect(dock_, &QDockWidget::dockLocationChanged, this, [this] { save(); });
  connect(dock_, &QDockWidget::topLevelChanged, this, [this] { save(); });

  list_->on_pick = [this](const std::string& key) {
    if (!current_ || std::find_if(plots_.begin(), plots_.end(), [this](const auto& p) { return p.get() == current_; }) ==
                         plots_.end())
      current_ = nullptr;
    add_values(current_, {key});
  };
  connect(axis_, &QComboBox::currentIndexChanged, this, [this] {
    zoomed_ = false;
    dirty_ = true;
    want();
    save();
  });
  connect(follow_, &QCheckBox::toggled, this, [this](bool on) {
    if (on) zoomed_ = false;
    dirty_ = true;
  });
  connect(follow_width_, &QComboBox::activated, this, [this](int i) {
    follow_span_s_ = follow_width_->itemData(i).toDouble();
    zoomed_ = false;
    follow_->setChecked(true);
    dirty_ = true;
    save();
  });
  connect(export_, &QPushButton::clicked, this, [this] { ask_export(); });
  drag_ = new DisplayDrag(form, model_);
}

void TrendsView::apply_palette() {
  for (auto& p : plots_) p->apply_palette();
  if (auto* across = window_->findChild<AcrossWindow*>(QStringLiteral("acrossWindow"), Qt::FindDirectChildrenOnly))
    across->apply_palette();
}

std::vector<TrendPlot*> TrendsView::plots() const {
  std::vector<TrendPlot*> out;
  for (const auto& p : plots_) out.push_back(p.get());
  return out;
}

TrendValue TrendsView::value_of(const std::string& key) const {
  TrendValue tv;
  const ValueInfo* v = find_value(key);
  tv.key = key;
  tv.label = QString::fromStdString(key);
  if (!v) return tv;
  tv.what = QString::fromStdString(v->what);
  tv.unit = QString::fromStdString(v->unit);
  // The panel's unit where a display shows the value (0.1 A as 100 mA).
  if (const ControlInfo* c = model_.find(v->control)) {
    tv.format = c->format;
    tv.scale = c->format.scale;
    if (!c->format.unit.empty()) tv.unit = QString::fromStdString(c->format.unit);
    tv.limits = limits_of(key);
  }
  return tv;
}

Limits TrendsView::limits_of(const std::string& key) const {
  const ValueInfo* v = find_value(key);
  const ControlInfo* c = v ? model_.find(v->control) : nullptr;
  if (!c) return {};
  for (const PanelModel::LimitSlot& slot : model_.limit_slots())
    if (slot.id == c->id) return slot.limits.enabled ? slot.limits : Limits{};
  return {};
}

TrendPlot* TrendsView::new_plot() {
  auto plot = std::make_unique<TrendPlot>(plots_box_);
  TrendPlot* p = plot.get();
  wire(p);
  plots_column_->insertWidget(plots_column_->count() - 1, p->widget(), 1);
  plots_.push_back(std::move(plot));
  p->set_position(position_x_);
  label_plots();
  return p;
}

TrendPlot* TrendsView::add_plot(const std::vector<std::string>& keys) {
  TrendPlot* p = new_plot();
  current_ = p;
  add_values(p, keys);
  return p;
}

TrendPlot* TrendsView::place_value(TrendPlot* target, const std::string& key) {
  const TrendValue v = value_of(key);
  std::vector<std::optional<std::string>> units;
  int chosen = -1;
  for (size_t i = 0; i < plots_.size(); ++i) {
    const auto& held = plots_[i]->values();
    units.push_back(held.empty() ? std::nullopt : std::optional<std::string>(held.front().unit.toStdString()));
    if (plots_[i].get() == target) chosen = static_cast<int>(i);
  }
  const int i = plot_for_value(units, chosen, v.unit.toStdString());
  TrendPlot* p = i >= 0 ? plots_[static_cast<size_t>(i)].get() : new_plot();
  p->add(v);
  return p;
}

void TrendsView::add_values(TrendPlot* plot, const std::vector<std::string>& keys) {
  // One unit to a plot: a value of another goes to a plot of its unit, or
  // to a new one.
  for (const std::string& k : keys)
    if (find_value(k)) plot = place_value(plot, k);
  current_ = plot;
  if (!show_->isChecked()) show_->setChecked(true);
  want();
  dirty_ = true;
  save();
}

void TrendsView::label_plots() {
  for (size_t i = 0; i < plots_.size(); ++i) plots_[i]->set_labels(labels_, i + 1 == plots_.size());
}

void TrendsView::show_follow_width() {
  int at = follow_width_->findData(follow_span_s_);
  if (at < 0) {  // a zoom chose it: listed in order of width
    at = 0;
    while (at < follow_width_->count() && follow_width_->itemData(at).toDouble() < follow_span_s_) ++at;
    follow_width_->insertItem(at, span_label(follow_span_s_), follow_span_s_);
  }
  follow_width_->setCurrentIndex(at);
}

void TrendsView::remove_plot(TrendPlot* plot) {
  auto it = std::find_if(plots_.begin(), plots_.end(), [plot](const auto& p) { return p.get() == plot; });
  if (it == plots_.end()) return;
  if (current_ == plot) current_ = nullptr;
  // Not under its own context menu's call: removed once the menu is done.
  std::unique_ptr<TrendPlot> gone = std::move(*it);
  plots_.erase(it);
  gone->widget()->hide();
  gone.release()->deleteLater();
  label_plots();
  want();
  dirty_ = true;
  save();
}

void TrendsView::wire(TrendPlot* plot) {
  plot->on_range = [this](double x0, double x1) { show_range(x0, x1); };
  plot->on_reset = [this] {
    zoomed_ = false;
    if (follow_->isVisible()) follow_->setChecked(true);
    dirty_ = true;
    refresh();
  };
  plot->on_drop = [this, plot](const std::vector<std::string>& keys) { add_values(plot, keys); };
  plot->on_hover = [this, plot](double x) {
    current_ = plot;
    hover(x);
  };
  plot->on_values_changed = [this] {
    want();
    dirty_ = true;
    save();
  };
  plot->on_close = [this, plot] { remove_plot(plot); };
  plot->on_click = [this](double x) { click(x); };
  plot->on_resized = [this] { dirty_ = true; };
}

void TrendsView::click(double x) {
  if (!store_ || !on_moment || !std::isfinite(x)) return;
  // An event line under the click: its moment.
  const int width = plots_.empty() ? 1000 : std::max(1, plots_.front()->widget()->axisRect()->width());
  const double near = (x1_ - x0_) / width * EVENT_HOVER_PX;
  const bool clock = !(elapsed_axis_on() && elapsed_ok_);
  for (const auto& [ex, m] : shown_events_) {
    if (std::abs(ex - x) > near || !clock) continue;
    on_moment(m.t_s, -1, QStringLiteral("the event \"%1\"").arg(QString::fromStdString(m.text)));
    return;
  }
  // Else the frame at the click: the last at or before it.
  double t = 0.0;
  int64_t offset = -1;
  size_t frame = 0;
  bool found = false;
  store_->read([&](const TrendData& d) {
    AxisX axis{&d.time_s, 0};
    if (!clock && elapsed_x_.size() == d.frames()) axis = AxisX{&elapsed_x_, elapsed_first_};
    size_t f = frames_between(axis, x, x).second;
    if (f <= axis.first) f = std::min(axis.first + 1, d.frames());
    if (f == 0) return;
    frame = f - 1;
    t = d.time_s[frame];
    offset = d.offset[frame];
    found = true;
  });
  if (found)
    on_moment(t, offset, QStringLiteral("trend frame %1 (%2)").arg(frame + 1).arg(QString::fromStdString(clock_text(t, 3))));
}

void TrendsView::draw_position() {
  double x = std::numeric_limits<double>::quiet_NaN();
  double t = 0.0;
  if (store_ && transport_is_playback() && shown_time && shown_time(&t)) {
    x = t;
    if (elapsed_axis_on() && elapsed_ok_) {
      // Its frame's place on the elapsed axis.
      store_->read([&](const TrendData& d) {
        if (elapsed_x_.size() != d.frames()) return;
        const size_t f = frames_between(AxisX{&d.time_s, 0}, t, t).second;
        x = f > elapsed_first_ ? elapsed_x_[f - 1] : std::numeric_limits<double>::quiet_NaN();
      });
    }
  }
  if (x == position_x_ || (std::isnan(x) && std::isnan(position_x_))) return;
  position_x_ = x;
  for (auto& p : plots_) {
    p->set_position(x);
    p->replot();
  }
}

// The values the plots need, and the instrument's elapsed time (the
// cursor shows it; the elapsed axis is made of it).
void TrendsView::want() {
  if (!store_) return;
  std::vector<std::string> keys{"ELAPSED_K1"};
  for (const auto& p : plots_)
    for (const TrendValue& v : p->values()) keys.push_back(v.key);
  store_->want(keys);
}

bool TrendsView::elapsed_axis_on() const { return axis_->currentIndex() == 1; }

void TrendsView::ensure_store() {
  TrendSource source;
  QString why;
  if (!session_source(&source, &why)) {
    store_.reset();
    status_->setText(why);
    return;
  }
  const std::shared_ptr<const Pass> pass = source.live ? nullptr : playback_pass();
  if (store_ && store_->source().path == source.path && store_->source().rules == source.rules &&
      store_->pass() == pass)
    return;
  // Another recording (Open recording): a store of its own, nothing of the
  // last one kept.
  store_ = std::make_shared<TrendStore>(source, &reception_clock(), 0.5, pass);
  zoomed_ = false;
  drawn_revision_ = 0;
  drawn_generation_ = 0;
  elapsed_revision_ = ~uint64_t{0};
  marks_.clear();
  if (source.live) log_seen_ = 0;
  marks_source_.clear();
  want();
  dirty_ = true;
}

void TrendsView::show_range(double x0, double x1) {
  if (!(x1 - x0 > 0.0)) return;
  x0_ = x0;
  x1_ = std::max(x1, x0 + MIN_SPAN_S);
  zoomed_ = true;
  if (follow_->isChecked()) {
    follow_span_s_ = x1_ - x0_;
    show_follow_width();
    follow_->setChecked(false);  // the operator looks elsewhere now
  }
  dirty_ = true;
  redraw();
}

void TrendsView::refresh() {
  poll_export();
  // Which frame the panel shows now, for this playback's own events (from
  // the start of the session, shown or not).
  if (transport_is_playback()) {
    const ReplayView v = replay_view();
    if (v.path != shown_path_) {
      if (!shown_path_.empty()) {  // Open recording: the events so far belong to the one before
        const auto before = log_entries_since(log_seen_);
        if (!before.empty()) log_seen_ = before.back().serial;
        session_marks_.clear();
      }
      shown_path_ = v.path;
      shown_frames_.clear();
    }
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    shown_frames_.note(now, v.current);
  }
  if (!dock_->isVisible()) return;
  if (model_.limits_version() != drawn_limits_) {  // the operator changed limits: the bands follow
    drawn_limits_ = model_.limits_version();
    for (auto& p : plots_)
      for (const TrendValue& v : p->values()) p->set_limits(v.key, limits_of(v.key));
    dirty_ = true;
  }
  ensure_store();
  if (!store_) {  // no recording to read (the status says why, and so does every plot)
    if (dirty_ || unavailable_ != status_->text()) {
      unavailable_ = status_->text();
      for (auto& p : plots_) p->draw(TrendData{}, AxisX{}, x0_, x1_, unavailable_);
    }
    dirty_ = false;
    return;
  }
  // New events are drawn at the next redraw, as new frames are.
  const bool events = poll_events();
  const TrendStatus st = store_->status();
  QString text;
  switch (st.state) {
    case TrendState::Building:
      text = QStringLiteral("reading %1: %2%").arg(QFileInfo(QString::fromStdString(store_->source().path)).fileName())
                 .arg(static_cast<int>(st.progress * 100));
      break;
    case TrendState::Ready:
      text = remote_view_note(store_->source(), st.frames);
      if (text.isEmpty())
        text = QStringLiteral("%1 frames of %2").arg(st.frames).arg(QFileInfo(QString::fromStdString(store_->source().path)).fileName());
      if (!st.pending.empty()) text += QStringLiteral(", decoding %1: %2%").arg(QString::fromStdString(st.pending.front())).arg(static_cast<int>(st.progress * 100));
      break;
    case TrendState::NoFrames: text = QString::fromLatin1(NO_FRAMES_TEXT); break;
    case TrendState::Failed: text = QString::fromStdString(st.note); break;
  }
  if (st.state != TrendState::Failed && !st.note.empty()) text += QStringLiteral(". ") + QString::fromStdString(st.note);
  if (!st.start_known && !store_->source().live && st.state == TrendState::Ready)
    text += QStringLiteral(". The recording's name gives no start time: times count from its first byte");
  else if (!st.pass_times && !store_->source().live && st.state == TrendState::Ready)
    text += QStringLiteral(". Times are estimated (no session record): from the recording's name at the link's rate");
  else if (st.pass_times && !store_->pass()->note.empty())
    text += QStringLiteral(". ") + QString::fromStdString(store_->pass()->note);
  if (!st.log_note.empty()) text += QStringLiteral(". Events: ") + QString::fromStdString(st.log_note);
  if (!axis_note_.isEmpty()) text += QStringLiteral(". ") + axis_note_;
  status_->setText(text);
  const QString unavailable = st.state == TrendState::Failed ? QString::fromStdString(st.note) : QString();
  if (unavailable != unavailable_) {
    unavailable_ = unavailable;
    dirty_ = true;
  }
  const bool none = st.state == TrendState::NoFrames;
  no_frames_->setVisible(none);
  scroll_->setVisible(!none);
  if (none) return;
  const qint64 now = clock_ms();
  const bool data_changed = st.revision != drawn_revision_;
  if (st.generation != drawn_generation_) {
    zoomed_ = false;  // another file's frames: its whole range
    drawn_generation_ = st.generation;
    dirty_ = true;
  }
  if (dirty_ || ((data_changed || events) && (drawn_ms_ < 0 || now - drawn_ms_ >= DATA_REDRAW_MS))) {
    drawn_revision_ = st.revision;
    redraw();
  }
  draw_position();
}

void TrendsView::redraw() {
  dirty_ = false;
  drawn_ms_ = clock_ms();
  if (!store_) return;
  const TimeLabels labels = elapsed_axis_on() && elapsed_ok_ ? TimeLabels::Elapsed
                            : store_->status().start_known || store_->source().live ? TimeLabels::Clock
                                                                                     : TimeLabels::SinceStart;
  if (labels != labels_) {
    labels_ = labels;
    label_plots();
  }
  store_->read([&](const TrendData& d) {
    AxisX axis{&d.time_s, 0};
    if (elapsed_axis_on()) {
      if (elapsed_revision_ != drawn_revision_ || elapsed_x_.size() != d.frames()) {
        elapsed_axis(d, &elapsed_x_, &elapsed_first_, &elapsed_ok_);
        elapsed_revision_ = drawn_revision_;
      }
      if (!elapsed_ok_ || elapsed_first_ >= d.frames()) {
        axis_note_ = QStringLiteral("The instrument's elapsed time cannot order these frames (none, or it goes "
                                    "back): clock time is shown");
      } else {
        axis = AxisX{&elapsed_x_, elapsed_first_};
        axis_note_.clear();
      }
    } else {
      axis_note_.clear();
    }
    const bool any = d.frames() > axis.first;
    const double first = any ? (*axis.x)[axis.first] : 0.0;
    const double last = any ? (*axis.x)[d.frames() - 1] : 1.0;
    if (!zoomed_) {
      if (follow_->isChecked() && !elapsed_axis_on()) {
        std::tie(x0_, x1_) = follow_range(first, last, follow_span_s_, MIN_SPAN_S);
      } else {
        x0_ = first;
        x1_ = std::max(last, first + MIN_SPAN_S);
      }
    }
    for (auto& p : plots_) p->draw(d, axis, x0_, x1_, unavailable_);
    place_events(d, axis);
  });
  draw_readout();
}

// The events in view as lines on every plot, at most one a pixel column
// (the first there) and MAX_EVENT_LINES in all.
void TrendsView::place_events(const TrendData& d, const AxisX& axis) {
  shown_events_.clear();
  hover_events_.clear();
  const bool clock = axis.x == &d.time_s;
  if (!clock && axis.first >= d.frames()) return;
  // A recording whose name gives no start has no clock on its axis: only
  // the events placed by the frame shown go on it.
  const bool clock_marks = labels_ != TimeLabels::SinceStart;
  const int width = plots_.empty() ? 1000 : std::max(1, plots_.front()->widget()->axisRect()->width());
  const double per_px = (x1_ - x0_) / width;
  double last_x = -std::numeric_limits<double>::infinity();
  std::vector<std::pair<double, EventMark>> all;
  for (const EventMark& m : marks_) {
    if (!clock_marks) break;
    double x = m.t_s;
    if (!clock) {  // its frame's elapsed time
      const size_t f = frames_between(AxisX{&d.time_s, 0}, m.t_s, m.t_s).second;
      if (f == 0 || f - 1 < axis.first) continue;
      x = (*axis.x)[f - 1] + (m.t_s - d.time_s[f - 1]);
    }
    all.emplace_back(x, m);
  }
  for (const EventMark& m : session_marks_) {
    long f;
    if (shown_frames_.frame_at(m.t_s, &f) && f >= static_cast<long>(axis.first) && f < static_cast<long>(d.frames()))
      all.emplace_back((*axis.x)[static_cast<size_t>(f)], m);
  }
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [x, m] : all) {
    if (x < x0_ || x > x1_) continue;
    if (hover_events_.size() < MAX_HOVER_EVENTS) hover_events_.emplace_back(x, m);
    if (x - last_x < per_px || shown_events_.size() >= MAX_EVENT_LINES) continue;
    shown_events_.emplace_back(x, m);
    last_x = x;
  }
  for (auto& p : plots_) {
    p->set_events(shown_events_);
    p->replot();
  }
}

// Live: the session's log. A playback: the log its recording has beside
// it, and the playback's own events (seeks, the operator's actions).
bool TrendsView::poll_events() {
  const bool live = store_->source().live;
  bool fresh = false;
  for (const LogEntry& e : log_entries_since(log_seen_)) {
    log_seen_ = e.serial;
    EventMark m;
    if (!event_mark(e, &m)) continue;
    (live ? marks_ : session_marks_).push_back(std::move(m));
    fresh = true;
  }
  if (live || marks_source_ == store_->source().path) return fresh;
  // The store's thread reads that log (a large one, or a FIFO at its name,
  // must never hold the window up).
  if (!store_->status().log_read) return fresh;
  marks_source_ = store_->source().path;
  if (const auto& pass = store_->pass()) {
    // The pass's own log, at the times its entries were made.
    marks_.clear();
    for (const PassEvent& e : pass->log) marks_.push_back({e.t_s, e.severity, e.text, is_note_text(e.text)});
  } else {
    marks_ = store_->log_marks();
  }
  std::stable_sort(marks_.begin(), marks_.end(), [](const EventMark& a, const EventMark& b) { return a.t_s < b.t_s; });
  return true;
}

void TrendsView::hover(double x) {
  cursor_x_ = x;
  for (auto& p : plots_) {
    p->set_cursor(x);
    p->replot();
  }
  draw_readout();
}

void TrendsView::draw_readout() {
  if (!store_ || !std::isfinite(cursor_x_)) {
    readout_->setText(QStringLiteral("Move the mouse over a plot to read every value at one time"));
    return;
  }
  QStringList parts;
  store_->read([&](const TrendData& d) {
    AxisX axis{&d.time_s, 0};
    if (elapsed_axis_on() && elapsed_ok_ && elapsed_x_.size() == d.frames()) axis = AxisX{&elapsed_x_, elapsed_first_};
    const size_t f = frames_between(axis, cursor_x_, cursor_x_).second;  // frames at or before the cursor: [.., f)
    const bool clock = axis.x == &d.time_s;
    if (clock && labels_ == TimeLabels::Clock) parts << QString::fromStdString(clock_text(cursor_x_, 1, x1_ - x0_ > 86400));
    else if (clock) parts << QStringLiteral("+") + QString::fromStdString(elapsed_axis_text(cursor_x_).substr(2));
    if (f > axis.first) {
      double e;
      if (!clock) {
        parts << QStringLiteral("elapsed ") + QString::fromStdString(elapsed_axis_text(cursor_x_));
        parts << QString::fromStdString(clock_text(d.time_s[f - 1], 1));
      } else if (elapsed_at(d, f - 1, &e)) {
        parts << QStringLiteral("elapsed ") + QString::fromStdString(elapsed_axis_text(e + (cursor_x_ - d.time_s[f - 1])));
      }
      parts.last() += QStringLiteral(" (frame %1)").arg(f);
    }
    for (const auto& p : plots_) {
      for (const TrendValue& v : p->values()) {
        auto it = d.series.find(v.key);
        double value;
        size_t frame;
        if (it == d.series.end() || !value_at(it->second, axis, cursor_x_, &value, &frame)) {
          parts << v.label + QStringLiteral(" -");
          continue;
        }
        parts << v.label + QLatin1Char(' ') + value_text(value * v.scale, v);
      }
    }
  });
  // The events under the cursor (one line may stand for several).
  const int width = plots_.empty() ? 1000 : std::max(1, plots_.front()->widget()->axisRect()->width());
  const double near = (x1_ - x0_) / width * EVENT_HOVER_PX;
  int named = 0;
  for (const auto& [x, m] : hover_events_) {
    if (std::abs(x - cursor_x_) > near) continue;
    if (++named > MAX_EVENTS_NAMED) {
      parts.last() += QStringLiteral(" ...");
      break;
    }
    parts << QStringLiteral("| %1 %2").arg(QLatin1String(severity_name(m.severity)), QString::fromStdString(m.text));
  }
  readout_->setText(parts.join(QStringLiteral("   ")));
}

QString TrendsView::status_text() const { return status_->text(); }
QString TrendsView::readout_text() const { return readout_->text(); }

// ----- Export ------------------------------------------------------------------

void TrendsView::ask_export() {
  if (!store_ || exporting()) return;
  std::vector<std::string> keys;
  for (const auto& p : plots_)
    for (const TrendValue& v : p->values()) keys.push_back(v.key);
  if (keys.empty()) {
    status_->setText(QStringLiteral("Nothing to export: put a value on a plot first"));
    return;
  }
  const QFileInfo source(QString::fromStdString(store_->source().path));
  QDialog dialog(window_);
  dialog.setObjectName(QStringLiteral("trendExportDialog"));
  dialog.setWindowTitle(QStringLiteral("Export the trends as CSV"));
  auto* column = new QVBoxLayout(&dialog);
  column->addWidget(new QLabel(QStringLiteral("The plotted values over the range shown (columns: docs/csv.md)")));
  auto* row = new QHBoxLayout;
  auto* path = new QLineEdit(source.absolutePath() + QLatin1Char('/') + source.completeBaseName() +
                             QStringLiteral("-trends.csv"));
  auto* browse = new QPushButton(QStringLiteral("Browse..."));
  row->addWidget(path, 1);
  row->addWidget(browse);
  column->addLayout(row);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Export"));
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  connect(browse, &QPushButton::clicked, &dialog, [&] {
    const QString chosen = QFileDialog::getSaveFileName(&dialog, QStringLiteral("Export the trends to"), path->text(),
                                                        QStringLiteral("CSV files (*.csv)"));
    if (!chosen.isEmpty()) path->setText(chosen);
  });
  if (!run_dialog(&dialog, false) || path->text().isEmpty()) return;
  export_csv(path->text());
}

void TrendsView::export_csv(const QString& path) {
  if (!store_ || exporting()) return;
  TrendCsvRange range;
  for (const auto& p : plots_)
    for (const TrendValue& v : p->values())
      if (std::find(range.keys.begin(), range.keys.end(), v.key) == range.keys.end()) range.keys.push_back(v.key);
  range.elapsed = elapsed_axis_on() && elapsed_ok_;
  range.x0 = x0_;
  range.x1 = x1_;
  export_path_ = path;
  export_done_ = false;
  status_->setText(QStringLiteral("exporting the trends to %1...").arg(path));
  std::shared_ptr<const TrendStore> store = store_;  // kept while it exports, whatever the view opens meanwhile
  export_thread_ = std::thread([this, store, range, file = path.toStdString()] {
    const TrendCsvResult r = export_trend_csv(*store, range, file, &export_cancel_);
    export_ok_ = r.ok;
    export_result_ = r.ok ? "Trends exported to " + file + ": " + std::to_string(r.rows) + " rows of " +
                                std::to_string(range.keys.size()) + " values"
                          : "Trends not exported to " + file + ": " + r.error;
    export_done_ = true;
  });
}

void TrendsView::poll_export() {
  if (!export_thread_.joinable() || !export_done_) return;
  export_thread_.join();
  if (export_ok_) log_info(export_result_);
  else log_error(export_result_);
  status_->setText(QString::fromStdString(export_result_));
  transport_post_message(export_result_);
  if (!export_ok_) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Trends not exported"), QString::fromStdString(export_result_),
                    QMessageBox::Close, window_);
    box.setObjectName(QStringLiteral("trendExportFailed"));
    run_dialog(&box, true);
  }
}

// ----- Remembered with the layout ------------------------------------------------

void TrendsView::save() const {
  auto settings = window_settings();
  settings->setValue(KEY_SHOWN, show_->isChecked());
  QStringList plots;
  for (const auto& p : plots_) {
    QStringList keys;
    for (const TrendValue& v : p->values()) keys << QString::fromStdString(v.key);
    if (!keys.isEmpty()) plots << keys.join(QLatin1Char(','));
  }
  settings->setValue(KEY_PLOTS, plots);
  settings->setValue(KEY_AXIS, axis_->currentIndex());
  settings->setValue(KEY_SPAN, follow_span_s_);
  settings->setValue(KEY_AREA, static_cast<int>(window_->dockWidgetArea(dock_)));
  settings->setValue(KEY_FLOATING, dock_->isFloating());
}

void TrendsView::restore() {
  auto settings = window_settings();
  const QSignalBlocker block(axis_);
  axis_->setCurrentIndex(std::clamp(settings->value(KEY_AXIS, 0).toInt(), 0, 1));
  follow_span_s_ = std::max(MIN_SPAN_S, settings->value(KEY_SPAN, follow_span_s_).toDouble());
  show_follow_width();
  for (const QString& plot : settings->value(KEY_PLOTS).toStringList()) {
    std::vector<std::string> keys;
    for (const QString& k : plot.split(QLatin1Char(','), Qt::SkipEmptyParts))
      if (find_value(k.toStdString())) keys.push_back(k.toStdString());
    if (keys.empty()) continue;
    // A plot kept with several units (an earlier version piled them up)
    // comes back as one plot a unit.
    TrendPlot* p = new_plot();
    for (const std::string& k : keys) p = place_value(p, k);
  }
  const auto area = static_cast<Qt::DockWidgetArea>(settings->value(KEY_AREA, Qt::BottomDockWidgetArea).toInt());
  if (area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea || area == Qt::TopDockWidgetArea)
    window_->addDockWidget(area, dock_);
  dock_->setFloating(settings->value(KEY_FLOATING, false).toBool());
  const QSignalBlocker block_show(show_);
  const bool shown = settings->value(KEY_SHOWN, false).toBool();
  show_->setChecked(shown);
  dock_->setVisible(shown);
}

}  // namespace rt
