// The panel window. It draws the model and turns committed operator input
// into model values and events; everything it shows comes from the model.
// All of it runs on the GUI thread.
#include "runtime/qt/window.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUiLoader>
#include <QWidget>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "runtime/model.h"
#include "runtime/qt/display_format.h"
#include "runtime/transport.h"
#include "runtime/ui.h"

namespace rt {

namespace {

constexpr int REFRESH_MS = 33;  // about 30 redraws a second
// Plots cost far more to paint than fields: the spectra are redrawn at most
// this often, the strip chart at the frame rate of the link.
constexpr qint64 XY_REPLOT_MS = 500;
constexpr qint64 STRIP_REPLOT_MS = 200;
constexpr qint64 POSITION_REDRAW_MS = 500;
// The recording's size is looked up every this many redraws (about twice a
// second).
constexpr int RECORDING_STAT_EVERY = 15;
constexpr int MESSAGE_MS = 15000;  // how long a status-bar message stays
constexpr int POSITION_STEPS = 1000;  // resolution of the position bar

// The playback speeds offered; 0 plays as fast as the file can be read.
const double SPEEDS[] = {1.0, 2.0, 5.0, 10.0, 0.0};

QString speed_label(double speed) {
  return speed <= 0.0 ? QStringLiteral("as fast as possible")
                      : QLocale::c().toString(speed, 'g', 6) + QStringLiteral("x");
}

QString byte_count(int64_t n) { return QLocale(QLocale::English).toString(static_cast<qlonglong>(n)); }

// A file in the working directory named from the time, not yet taken.
QString timestamped_path(const QString& stem, const QString& suffix) {
  const QString base =
      stem + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
  QString name = base + suffix;
  for (int n = 2; QFileInfo::exists(QDir::current().filePath(name)); ++n)
    name = base + QStringLiteral("-%1").arg(n) + suffix;
  return QDir::current().absoluteFilePath(name);
}
// Points of each strip trace on screen: the newest ones, at most the model's
// ring (which bounds them anyway).
constexpr size_t STRIP_SHOWN = 1000;

const char* const DONE_TOOLTIP =
    "The count ran out: accumulation has stopped. Enter a new count and "
    "switch Accumulate on to start again.";

// QUiLoader falls back to a plain QWidget for a class it cannot make, so our
// own classes are made here first.
class PanelLoader : public QUiLoader {
 public:
  using QUiLoader::QUiLoader;
  QWidget* createWidget(const QString& class_name, QWidget* parent,
                        const QString& name) override {
    if (class_name == QLatin1String("QCustomPlot")) {
      auto* plot = new QCustomPlot(parent);
      plot->setObjectName(name);
      return plot;
    }
    return QUiLoader::createWidget(class_name, parent, name);
  }
};

const char* widget_class_for(Kind kind) {
  switch (kind) {
    case Kind::Button: return "QPushButton";
    case Kind::IntInput: return "QSpinBox";
    case Kind::FloatInput: return "QDoubleSpinBox";
    case Kind::Switch: return "QCheckBox";
    case Kind::Display: return "QLineEdit";
    case Kind::TextBox: return "QPlainTextEdit";
    case Kind::XYGraph:
    case Kind::StripChart: return "QCustomPlot";
  }
  return "?";
}

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

// One model control and the widget that shows it.
struct Binding {
  const ControlInfo* info = nullptr;
  QWidget* widget = nullptr;
  QString tooltip;        // as in the panel file (restored when "done" ends)
  bool done_look = false;
  // Spin boxes: the value last drawn from the model or committed, so that an
  // unchanged field is not committed on focus-out and an edit in progress is
  // not overwritten.
  double shown = 0.0;
  QString shown_text;
  bool enter = false;     // Enter was pressed: the next editingFinished commits
  bool deferred = false;  // a model change waits for the operator's edit
  // Strip chart: points of each trace already on screen.
  std::array<uint64_t, 4> drawn{};
  // Plots: when last replotted (monotonic ms), to bound the painting work.
  qint64 replotted_ms = -1;
};

class PanelWindow : public QObject {
 public:
  PanelWindow(PanelModel& model, QWidget* top) : model_(model), top_(top) {}
  ~PanelWindow() override {
    timer_.stop();
    closing_ = true;
    if (frame_) delete frame_;
    else delete top_;
  }

  bool bind(const std::string& file, std::string* error);
  void start();
  // `now`: draw everything pending at once, past the plots' rate limits.
  void refresh(bool now = false);
  QWidget* top() { return frame_ ? static_cast<QWidget*>(frame_) : top_; }
  QWidget* form() { return top_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void connect_input(Binding& b);
  void commit_spin(Binding& b);
  void draw(Binding& b, const ControlState& s);
  void draw_spin(Binding& b, const ControlState& s);
  void draw_xy(Binding& b, const ControlState& s);
  void draw_strip(Binding& b, const ControlState& s);
  void draw_done_look(Binding& b, const ControlState& s);
  void draw_panel();
  void setup_plot(Binding& b);
  bool is_editing(const Binding& b) const;
  // The frame around the panel: transport and snapshot toolbar, status bar.
  void build_frame();
  void draw_transport();
  void draw_recording();
  void save_screenshot();
  void save_spectra();

  PanelModel& model_;
  QWidget* top_;  // the panel form
  QMainWindow* frame_ = nullptr;  // the top-level window holding it
  QAction* pause_ = nullptr;
  QComboBox* speed_ = nullptr;
  QProgressBar* position_ = nullptr;
  QList<QAction*> playback_actions_;  // hidden in live mode
  QLabel* recording_ = nullptr;
  QLabel* not_recording_ = nullptr;
  QAction* not_recording_action_ = nullptr;
  uint64_t shown_message_ = 0;
  int refreshes_ = 0;
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 position_drawn_ms_ = -POSITION_REDRAW_MS;
  bool unthrottled_ = false;  // this refresh draws past the rate limits
  std::map<int, Binding> bindings_;
  std::map<QObject*, int> ids_;  // widget -> control id (for event filters)
  uint64_t drawn_version_ = 0;
  uint64_t drawn_panel_version_ = ~uint64_t{0};
  bool closing_ = false;
};

bool PanelWindow::bind(const std::string& file, std::string* error) {
  for (const ControlInfo& c : model_.layout().controls) {
    const QString name = QString::fromStdString(c.name);
    const QList<QWidget*> found = top_->findChildren<QWidget*>(name);
    const char* expected = widget_class_for(c.kind);
    std::string reason;
    if (found.isEmpty())
      reason = "no widget named " + c.name;
    else if (found.size() > 1)
      reason = "more than one widget named " + c.name;
    else if (!found.front()->inherits(expected))
      reason = "control " + c.name + " is a " + found.front()->metaObject()->className() +
               ", expected " + expected;
    if (!reason.empty()) {
      if (error) *error = file + ": " + reason;
      return false;
    }
    Binding& b = bindings_[c.id];
    b.info = &c;
    b.widget = found.front();
    b.tooltip = b.widget->toolTip();
    ids_[b.widget] = c.id;
  }
  for (auto& [id, b] : bindings_) {
    switch (b.info->kind) {
      case Kind::Display: {
        auto* edit = static_cast<QLineEdit*>(b.widget);
        edit->setReadOnly(true);
        if (b.info->type != ValueType::Text)
          edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        break;
      }
      case Kind::TextBox: {
        auto* text = static_cast<QPlainTextEdit*>(b.widget);
        text->setReadOnly(true);
        // Fontconfig's fixed font (Noto Sans Mono on some systems) may not
        // carry the fixed-pitch flag Qt looks for; ask for a monospaced face
        // explicitly so the columns of the dump line up wherever it runs.
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setStyleHint(QFont::Monospace, QFont::PreferMatch);
        mono.setFixedPitch(true);
        mono.setPointSize(std::max(8, text->font().pointSize()));
        text->setFont(mono);
        break;
      }
      case Kind::XYGraph:
      case Kind::StripChart: setup_plot(b); break;
      default: connect_input(b); break;
    }
  }
  build_frame();
  frame_->installEventFilter(this);
  return true;
}

void PanelWindow::build_frame() {
  frame_ = new QMainWindow;
  frame_->setObjectName(QStringLiteral("panelFrame"));
  frame_->setWindowTitle(top_->windowTitle());
  const QSize panel_size = top_->size();
  // On a screen smaller than the panel the window shrinks and scrolls,
  // rather than running off the screen's edge.
  auto* scroll = new QScrollArea;
  scroll->setObjectName(QStringLiteral("panelScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(top_);
  frame_->setCentralWidget(scroll);

  QToolBar* bar = frame_->addToolBar(QStringLiteral("Operator"));
  bar->setObjectName(QStringLiteral("operatorBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);

  pause_ = bar->addAction(QStringLiteral("Pause"));
  pause_->setObjectName(QStringLiteral("transportPause"));
  pause_->setCheckable(true);
  pause_->setToolTip(QStringLiteral("Hold playback before the next frame is read; click again to resume"));
  connect(pause_, &QAction::toggled, this, [this](bool paused) {
    transport_set_paused(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  });
  playback_actions_ << pause_;

  auto* speed_label_widget = new QLabel(QStringLiteral(" Speed "));
  playback_actions_ << bar->addWidget(speed_label_widget);
  speed_ = new QComboBox;
  speed_->setObjectName(QStringLiteral("transportSpeed"));
  speed_->setToolTip(QStringLiteral("Playback speed; a change applies from the next wait"));
  const double start_speed = transport_speed();
  bool listed = false;
  for (double v : SPEEDS) {
    speed_->addItem(speed_label(v), v);
    listed = listed || v == start_speed;
  }
  if (!listed) speed_->insertItem(0, speed_label(start_speed), start_speed);
  speed_->setCurrentIndex(speed_->findData(start_speed));
  connect(speed_, &QComboBox::currentIndexChanged, this,
          [this](int index) { transport_set_speed(speed_->itemData(index).toDouble()); });
  playback_actions_ << bar->addWidget(speed_);

  position_ = new QProgressBar;
  position_->setObjectName(QStringLiteral("transportPosition"));
  position_->setRange(0, POSITION_STEPS);
  position_->setMinimumWidth(320);
  position_->setToolTip(QStringLiteral("Bytes of the recording read so far"));
  playback_actions_ << bar->addSeparator() << bar->addWidget(position_) << bar->addSeparator();

  // Live mode without a recording: a banner across the toolbar.
  not_recording_ = new QLabel(QStringLiteral("NOT RECORDING: received data is not being saved"));
  not_recording_->setObjectName(QStringLiteral("notRecordingBanner"));
  not_recording_->setAlignment(Qt::AlignCenter);
  not_recording_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  not_recording_->setStyleSheet(QStringLiteral(
      "QLabel { background: #c00000; color: white; font-weight: bold; padding: 3px 12px; }"));
  not_recording_action_ = bar->addWidget(not_recording_);
  not_recording_action_->setVisible(false);
  QAction* shot = bar->addAction(QStringLiteral("Save screenshot"));
  shot->setObjectName(QStringLiteral("saveScreenshot"));
  shot->setToolTip(QStringLiteral("Save the panel as a PNG in the working directory"));
  connect(shot, &QAction::triggered, this, [this] { save_screenshot(); });
  QAction* spectra = bar->addAction(QStringLiteral("Save spectra"));
  spectra->setObjectName(QStringLiteral("saveSpectra"));
  spectra->setToolTip(QStringLiteral("Save both spectra (positions, totals, rates) as CSV in the working directory"));
  connect(spectra, &QAction::triggered, this, [this] { save_spectra(); });

  recording_ = new QLabel;
  recording_->setObjectName(QStringLiteral("recordingStatus"));
  recording_->setContentsMargins(6, 0, 6, 0);
  frame_->statusBar()->setObjectName(QStringLiteral("statusBar"));
  frame_->statusBar()->addPermanentWidget(recording_);
  // The window takes the size the panel file gives, within the screen; the
  // panel's layout gives up the bars' height, as far as its minimum allows.
  QSize size = panel_size;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize());
  frame_->resize(size);
}

// Transport only for playback; the position as a share of the file.
void PanelWindow::draw_transport() {
  const bool playback = transport_is_playback();
  for (QAction* a : playback_actions_) a->setVisible(playback);
  if (!playback) return;
  const Position p = transport_position();
  // The wide bar is costly to paint: move it twice a second, and at once
  // when the pause state changes or the input has run out.
  const bool paused_now = transport_paused();
  const qint64 now = clock_.elapsed();
  const bool due = unthrottled_ || now - position_drawn_ms_ >= POSITION_REDRAW_MS ||
                   paused_now != pause_->isChecked() || p.bytes >= p.total;
  if (!due) return;
  position_drawn_ms_ = now;
  const int steps = p.total > 0 ? static_cast<int>(std::min<int64_t>(p.bytes, p.total) * POSITION_STEPS / p.total) : 0;
  position_->setValue(steps);
  const QString percent = QLocale::c().toString(p.total > 0 ? 100.0 * static_cast<double>(p.bytes) / static_cast<double>(p.total) : 0.0, 'f', 1);
  const bool paused = transport_paused();
  position_->setFormat(QStringLiteral("%1 of %2 bytes (%3 %)%4")
                           .arg(byte_count(p.bytes), byte_count(p.total), percent,
                                paused ? QStringLiteral(" - PAUSED") : QString()));
  if (pause_->isChecked() != paused) {
    const QSignalBlocker block(pause_);
    pause_->setChecked(paused);
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  }
}

// Live mode: the recording file and its size, or a warning nobody can miss.
void PanelWindow::draw_recording() {
  // A style sheet change re-polishes the widget: set it only when the state
  // changes, not at every look at the recording's size.
  auto style = [this](const QString& sheet) {
    if (recording_->styleSheet() != sheet) recording_->setStyleSheet(sheet);
  };
  auto text = [this](const QString& shown) {
    if (recording_->text() != shown) recording_->setText(shown);
  };
  if (transport_is_playback()) {
    not_recording_action_->setVisible(false);
    const QString source = QString::fromStdString(transport_source());
    style(QString());
    text(QStringLiteral("Playback of %1").arg(source));
    return;
  }
  const std::string path = transport_recording();
  not_recording_action_->setVisible(path.empty());
  if (path.empty()) {
    style(QStringLiteral(
        "QLabel { background: #c00000; color: white; font-weight: bold; padding: 2px 12px; }"));
    text(QStringLiteral("NOT RECORDING: received data is not being saved"));
    return;
  }
  const QFileInfo info(QString::fromStdString(path));
  style(QStringLiteral("QLabel { color: #1d5e22; font-weight: bold; }"));
  text(QStringLiteral("Recording %1: %2 bytes")
                          .arg(QString::fromStdString(path),
                               info.exists() ? byte_count(info.size()) : QStringLiteral("?")));
}

void PanelWindow::save_screenshot() {
  const QString path = timestamped_path(QStringLiteral("vst_gse"), QStringLiteral(".png"));
  if (top_->grab().save(path, "PNG"))
    frame_->statusBar()->showMessage(QStringLiteral("Screenshot saved to %1").arg(path), MESSAGE_MS);
  else
    frame_->statusBar()->showMessage(QStringLiteral("Screenshot not saved: cannot write %1").arg(path), MESSAGE_MS);
}

// The spectra belong to the system's thread: ask it to write them at its
// next poll; refresh() shows the outcome it reports.
void PanelWindow::save_spectra() {
  const QString path = timestamped_path(QStringLiteral("vst_gse-spectra"), QStringLiteral(".csv"));
  transport_request_spectra(path.toStdString());
  frame_->statusBar()->showMessage(QStringLiteral("Saving spectra to %1 ...").arg(path), MESSAGE_MS);
}

void PanelWindow::setup_plot(Binding& b) {
  auto* plot = static_cast<QCustomPlot*>(b.widget);
  plot->setBackground(QBrush(QColor(0xfb, 0xfb, 0xf8)));
  // Antialiased lines cost most of a plot's painting; the data lines are
  // clear without it.
  plot->setNotAntialiasedElements(QCP::aeAll);
  plot->setPlottingHint(QCP::phFastPolylines, true);
  const QString title = b.widget->property("plotTitle").toString();
  if (!title.isEmpty()) {
    plot->plotLayout()->insertRow(0);
    QFont f = plot->font();
    f.setBold(true);
    plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot, title, f));
  }
  if (b.info->kind == Kind::XYGraph) {
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

void PanelWindow::connect_input(Binding& b) {
  const int id = b.info->id;
  switch (b.info->kind) {
    case Kind::Button:
      connect(static_cast<QAbstractButton*>(b.widget), &QAbstractButton::clicked, this,
              [this, id] { model_.post_event(id); });
      break;
    case Kind::Switch:
      connect(static_cast<QAbstractButton*>(b.widget), &QAbstractButton::clicked, this,
              [this, id](bool on) { model_.post_event(id, on ? 1 : 0); });
      break;
    case Kind::IntInput:
    case Kind::FloatInput: {
      auto* spin = static_cast<QAbstractSpinBox*>(b.widget);
      spin->setKeyboardTracking(false);
      spin->installEventFilter(this);
      connect(spin, &QAbstractSpinBox::editingFinished, this,
              [this, id] { commit_spin(bindings_.at(id)); });
      break;
    }
    default: break;
  }
}

// Enter always commits; leaving the field commits only an edited value.
// The value goes with the event: the control takes it when the system is
// handed the event, and shows it meanwhile.
void PanelWindow::commit_spin(Binding& b) {
  if (closing_) return;
  const bool enter = b.enter;
  b.enter = false;
  const int id = b.info->id;
  double value;
  if (b.info->kind == Kind::IntInput)
    value = static_cast<QSpinBox*>(b.widget)->value();
  else
    value = static_cast<QDoubleSpinBox*>(b.widget)->value();
  if (enter || value != b.shown) {
    b.shown = value;
    b.shown_text = static_cast<QAbstractSpinBox*>(b.widget)->text();
    if (b.info->kind == Kind::IntInput)
      model_.post_event(id, static_cast<int>(value));
    else
      model_.post_event(id, static_cast<float>(value));
    return;
  }
  // Not committed: show what the model holds now, which may have moved on
  // while the operator had the field.
  if (b.deferred) {
    ControlState s;
    if (model_.state(id, &s)) {
      b.deferred = false;
      draw_spin(b, s);
    }
  }
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == frame_ && event->type() == QEvent::Close) {
    // Closing acts as the quit button; only destroy_panel_window ends the
    // window, after the system has torn down.
    if (closing_) return false;
    event->ignore();
    if (const ControlInfo* quit = model_.find("PANEL_QUIT")) model_.post_event(quit->id);
    return true;
  }
  auto it = ids_.find(watched);
  if (it != ids_.end()) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        bindings_.at(it->second).enter = true;
    } else if (event->type() == QEvent::FocusOut) {
      bindings_.at(it->second).enter = false;  // leaving is never an Enter
    }
  }
  return QObject::eventFilter(watched, event);
}

// The operator is typing in a spin box: its text differs from what was drawn.
bool PanelWindow::is_editing(const Binding& b) const {
  return b.widget->hasFocus() &&
         static_cast<QAbstractSpinBox*>(b.widget)->text() != b.shown_text;
}

void PanelWindow::start() {
  drawn_version_ = model_.version();
  for (auto& [id, b] : bindings_) {
    ControlState s;
    if (model_.state(id, &s)) draw(b, s);
  }
  draw_panel();
  draw_transport();
  draw_recording();
  clock_.start();
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(REFRESH_MS);
  connect(&timer_, &QTimer::timeout, this, [this] { refresh(); });
  timer_.start();
}

void PanelWindow::refresh(bool now) {
  unthrottled_ = now;
  // Take the version first: a change that lands while we draw is drawn again
  // next time rather than missed.
  const uint64_t version = model_.version();
  std::set<int> ids;
  if (version != drawn_version_)
    for (int id : model_.changed_since(drawn_version_)) ids.insert(id);
  for (auto& [id, b] : bindings_)
    if (b.deferred) ids.insert(id);
  drawn_version_ = version;
  for (int id : ids) {
    auto it = bindings_.find(id);
    if (it == bindings_.end()) continue;
    ControlState s;
    if (model_.state(id, &s)) draw(it->second, s);
  }
  draw_panel();
  draw_transport();
  if (++refreshes_ % RECORDING_STAT_EVERY == 0) draw_recording();
  const Message m = transport_message();
  if (m.serial != shown_message_) {
    shown_message_ = m.serial;
    frame_->statusBar()->showMessage(QString::fromStdString(m.text), MESSAGE_MS);
  }
}

void PanelWindow::draw_panel() {
  const uint64_t pv = model_.panel_version();
  if (pv == drawn_panel_version_) return;
  drawn_panel_version_ = pv;
  std::string title = model_.title();
  if (title.empty()) title = model_.layout().title;
  if (!title.empty()) top()->setWindowTitle(QString::fromStdString(title));
  if (pv == 0) return;  // DisplayPanel not called yet: leave it to the caller
  if (model_.visible() != top()->isVisible()) top()->setVisible(model_.visible());
  draw_recording();
}

void PanelWindow::draw(Binding& b, const ControlState& s) {
  switch (b.info->kind) {
    case Kind::Button: break;
    case Kind::Switch: {
      auto* box = static_cast<QCheckBox*>(b.widget);
      const QSignalBlocker block(box);
      box->setChecked((s.committed ? *s.committed : s.i) != 0);
      break;
    }
    case Kind::IntInput:
    case Kind::FloatInput: draw_spin(b, s); break;
    case Kind::Display: {
      std::string text;
      switch (b.info->type) {
        case ValueType::Int: text = format_display_int(s.i); break;
        case ValueType::Float: text = format_display_double(s.f); break;
        case ValueType::Double: text = format_display_double(s.d); break;
        default: text = s.text; break;
      }
      auto* edit = static_cast<QLineEdit*>(b.widget);
      const QString shown = QString::fromStdString(text);
      if (edit->text() != shown) {
        edit->setText(shown);
        edit->setCursorPosition(0);  // the leading digits, if it overflows
      }
      break;
    }
    case Kind::TextBox: {
      auto* box = static_cast<QPlainTextEdit*>(b.widget);
      const QString shown = QString::fromStdString(s.text);
      if (box->toPlainText() != shown) box->setPlainText(shown);
      break;
    }
    case Kind::XYGraph:
    case Kind::StripChart: {
      // A plot changed again too soon is drawn at a later refresh, with
      // whatever the model then holds.
      const qint64 now = clock_.elapsed();
      const qint64 every = b.info->kind == Kind::XYGraph ? XY_REPLOT_MS : STRIP_REPLOT_MS;
      if (!unthrottled_ && b.replotted_ms >= 0 && now - b.replotted_ms < every) {
        b.deferred = true;
        return;
      }
      b.deferred = false;
      b.replotted_ms = now;
      if (b.info->kind == Kind::XYGraph) draw_xy(b, s);
      else draw_strip(b, s);
      break;
    }
  }
  draw_done_look(b, s);
}

void PanelWindow::draw_spin(Binding& b, const ControlState& s) {
  if (is_editing(b)) {
    b.deferred = true;  // drawn once the operator commits or leaves
    return;
  }
  b.deferred = false;
  auto* spin = static_cast<QAbstractSpinBox*>(b.widget);
  const QSignalBlocker block(spin);
  if (b.info->kind == Kind::IntInput) {
    auto* box = static_cast<QSpinBox*>(spin);
    box->setValue(s.committed ? static_cast<int>(*s.committed) : s.i);
    b.shown = box->value();
  } else {
    auto* box = static_cast<QDoubleSpinBox*>(spin);
    box->setValue(s.committed ? *s.committed : static_cast<double>(s.f));
    b.shown = box->value();
  }
  b.shown_text = spin->text();
}

// Attribute 10 = 2 marks a control finished: amber, with a tooltip saying
// why. It never disables the control: the operator can always enter a new
// count.
void PanelWindow::draw_done_look(Binding& b, const ControlState& s) {
  auto it = s.attrs.find(ATTR_DONE_LOOK);
  const bool done = it != s.attrs.end() && it->second == DONE_LOOK_ON;
  if (done == b.done_look) return;
  b.done_look = done;
  const QString cls = QString::fromLatin1(b.widget->metaObject()->className());
  if (done) {
    b.widget->setStyleSheet(cls + " { background-color: #ffbf40; color: #3a2500; }");
    b.widget->setToolTip(QString::fromLatin1(DONE_TOOLTIP));
  } else {
    b.widget->setStyleSheet(QString());
    b.widget->setToolTip(b.tooltip);
  }
}

void PanelWindow::draw_xy(Binding& b, const ControlState& s) {
  auto* plot = static_cast<QCustomPlot*>(b.widget);
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
void PanelWindow::draw_strip(Binding& b, const ControlState& s) {
  auto* plot = static_cast<QCustomPlot*>(b.widget);
  uint64_t newest = 0;
  for (int t = 0; t < PanelModel::STRIP_TRACES && t < plot->graphCount(); ++t) {
    QCPGraph* g = plot->graph(t);
    const auto& ring = s.traces[static_cast<size_t>(t)];
    const uint64_t total = s.appended[static_cast<size_t>(t)];
    uint64_t& drawn = b.drawn[static_cast<size_t>(t)];
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

PanelWindow* create_panel_window(PanelModel& model, const std::string& uir_path,
                                 std::string* error) {
  QFile file(QString::fromStdString(uir_path));
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = uir_path + ": " + file.errorString().toStdString();
    return nullptr;
  }
  PanelLoader loader;
  QWidget* top = loader.load(&file, nullptr);
  if (!top) {
    if (error) {
      std::string reason = loader.errorString().toStdString();
      if (reason.empty()) reason = "not a readable panel file";
      *error = uir_path + ": " + reason;
    }
    return nullptr;
  }
  auto window = std::make_unique<PanelWindow>(model, top);
  if (!window->bind(uir_path, error)) return nullptr;
  window->start();
  return window.release();
}

void show_panel_window(PanelWindow* window) {
  if (!window) return;
  window->top()->show();
  window->top()->raise();
}

void refresh_panel_window(PanelWindow* window) {
  if (window) window->refresh(/*now=*/true);
}

void destroy_panel_window(PanelWindow* window) { delete window; }

QWidget* panel_widget(PanelWindow* window) { return window ? window->top() : nullptr; }

QWidget* panel_form(PanelWindow* window) { return window ? window->form() : nullptr; }

}  // namespace rt
