// The panel window. It draws the model and turns committed operator input
// into model values and events; everything it shows comes from the model.
// The plots (plots.h), the pieces around the panel (transport_bar.h,
// recording_status.h, save_actions.h, limit_look.h, axis_inputs.h,
// health_bar.h, log_pane.h, stale_marker.h) and the layout and theme
// (layout.h, theme.h) live in files of their own: this one binds the panel,
// places them in the frame and dispatches each refresh.
// All of it runs on the GUI thread.
#include "gui/window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QWidget>
#include <qcustomplot.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "runtime/com_port.h"
#include "present/display_format.h"
#include "runtime/model.h"
#include "gui/panel/axis_inputs.h"
#include "gui/panel/command_confirm.h"
#include "gui/panel/command_keys.h"
#include "gui/desktop/connect_to.h"
#include "gui/desktop/csv_export.h"
#include "gui/desktop/dialogs.h"
#include "gui/desktop/limits_dialog.h"
#include "gui/desktop/note_action.h"
#include "gui/station/alarm_pane.h"
#include "gui/station/health_bar.h"
#include "gui/station/limits_mark.h"
#include "gui/layout.h"
#include "gui/panel/limit_look.h"
#include "gui/station/log_pane.h"
#include "gui/station/moment_jump.h"
#include "gui/desktop/menus.h"
#include "gui/panel/panel_loader.h"
#include "gui/desktop/open_recording.h"
#include "gui/desktop/report_action.h"
#include "gui/desktop/sessions_window.h"
#include "gui/panel/plots.h"
#include "gui/desktop/publish_setting.h"
#include "gui/desktop/quit_confirm.h"
#include "gui/station/record_mark.h"
#include "gui/station/recording_status.h"
#include "gui/desktop/save_actions.h"
#include "gui/panel/stale_marker.h"
#include "gui/station/share_indicator.h"
#include "gui/station/transport_bar.h"
#include "gui/trends/trends_view.h"
#include "publish/viewer.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"
#include "runtime/ui.h"

namespace rt {

namespace {

constexpr int REFRESH_MS = 33;  // about 30 redraws a second
// The recording's size is looked up every this many redraws (about twice a
// second).
constexpr int RECORDING_STAT_EVERY = 15;
constexpr int MESSAGE_MS = 15000;  // how long a status-bar message stays
// The hex dump is laid out again at each change: at most this often (a
// dump changing ten times a second cannot be read anyway).
constexpr qint64 TEXT_BOX_REDRAW_MS = 250;
// The link's health, the stale marking and the log pane are brought up to
// date every this many redraws (about four times a second).
constexpr int HEALTH_EVERY = 8;

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
  std::unique_ptr<PanelPlot> plot;  // XY graphs and the strip chart
  qint64 drawn_ms = -1;  // text box: when its text was last set
};

class PanelWindow : public QObject {
 public:
  PanelWindow(PanelModel& model, QWidget* top) : model_(model), top_(top) {}
  ~PanelWindow() override {
    timer_.stop();
    closing_ = true;
    if (layout_) layout_->save();
    trends_.reset();  // it saves what it shows, from widgets the frame owns
    if (frame_) delete frame_;
    else delete top_;
  }

  bool bind(const std::string& file, std::string* error);
  void start();
  // `now`: draw everything pending at once, past the plots' rate limits.
  void refresh(bool now = false);
  QWidget* top() { return frame_ ? static_cast<QWidget*>(frame_) : top_; }
  QWidget* form() { return top_; }
  // Shows the window, sized for the screen the first time.
  void show() { layout_->show(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void connect_input(Binding& b);
  void commit_spin(Binding& b);
  void draw(Binding& b, const ControlState& s);
  void draw_spin(Binding& b, const ControlState& s);
  void draw_done_look(Binding& b, const ControlState& s);
  void draw_panel();
  bool is_editing(const Binding& b) const;
  // The frame around the panel: transport and snapshot toolbar, the link
  // health bar, the log pane, status bar.
  void build_frame();
  void restyle();  // after a theme change
  // The link's health, stale marking, new log entries and the alarms.
  void draw_health();
  void draw_limits();

  PanelModel& model_;
  QWidget* top_;  // the panel form
  QMainWindow* frame_ = nullptr;  // the top-level window holding it
  std::unique_ptr<TransportBar> transport_;
  std::unique_ptr<RecordingStatus> recording_;
  std::unique_ptr<LimitLook> limit_look_;
  std::unique_ptr<AxisInputs> axis_inputs_;
  std::unique_ptr<CommandKeys> command_keys_;
  std::unique_ptr<CommandConfirm> command_confirm_;
  std::unique_ptr<WindowLayout> layout_;
  std::unique_ptr<HealthBar> health_;
  std::unique_ptr<ShareIndicator> share_;  // publishing, or the remote view
  std::unique_ptr<RecordMark> record_mark_;  // the session record failed
  std::unique_ptr<StaleMarker> stale_;
  std::unique_ptr<LogPane> log_;
  std::unique_ptr<TrendsView> trends_;
  std::unique_ptr<AlarmPane> alarms_;
  std::unique_ptr<MomentJump> jump_;  // a moment clicked: the playback there, or a review window
  std::unique_ptr<LimitsMark> limits_mark_;
  int shown_alarms_ = 0;        // unacknowledged, as in the title
  uint64_t drawn_limits_ = 0;   // the model's limits version the tooltips show
  uint64_t shown_message_ = 0;
  QString shown_device_;  // live: the device COM1 stands for, as drawn
  int refreshes_ = 0;
  QTimer timer_;
  QElapsedTimer clock_;
  bool unthrottled_ = false;  // this refresh draws past the rate limits
  std::map<int, Binding> bindings_;
  std::map<QObject*, int> ids_;  // widget -> control id (for event filters)
  uint64_t drawn_version_ = 0;
  uint64_t drawn_panel_version_ = ~uint64_t{0};
  bool closing_ = false;
};

bool PanelWindow::bind(const std::string& file, std::string* error) {
  std::map<int, QWidget*> widgets;
  if (!find_control_widgets(top_, model_.layout(), file, &widgets, error)) return false;
  for (const ControlInfo& c : model_.layout().controls) {
    Binding& b = bindings_[c.id];
    b.info = &c;
    b.widget = widgets.at(c.id);
    b.tooltip = b.widget->toolTip();
    ids_[b.widget] = c.id;
  }
  for (auto& [id, b] : bindings_) {
    switch (b.info->kind) {
      case Kind::Display:
      case Kind::TextBox: prepare_display(b.widget, *b.info); break;
      case Kind::XYGraph:
      case Kind::StripChart:
        b.plot = std::make_unique<PanelPlot>(static_cast<QCustomPlot*>(b.widget), b.info->kind);
        break;
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
  // On a screen smaller than the panel's least size the panel scrolls,
  // rather than running off the screen's edge; above it stays the slot of
  // the link-health bar, always in view.
  auto* scroll = new QScrollArea;
  scroll->setObjectName(QStringLiteral("panelScroll"));
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidgetResizable(true);
  scroll->setWidget(top_);
  // The link health bar stays in view above the panel, however it scrolls.
  health_ = std::make_unique<HealthBar>();
  share_ = std::make_unique<ShareIndicator>();
  health_->place(share_->widget());
  record_mark_ = std::make_unique<RecordMark>();
  health_->place(record_mark_->widget());
  if (viewer_active()) make_read_only(top_);
  auto* central = new QWidget;
  central->setObjectName(QStringLiteral("panelCentral"));
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(health_->widget());
  column->addWidget(scroll, 1);
  frame_->setCentralWidget(central);

  QToolBar* bar = frame_->addToolBar(QStringLiteral("Operator"));
  bar->setObjectName(QStringLiteral("operatorBar"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);

  // Left to right: the transport (playback only), the NOT RECORDING banner
  // (live mode without a recording), opening a recording, the saves.
  transport_ = std::make_unique<TransportBar>(bar);
  frame_->statusBar()->setObjectName(QStringLiteral("statusBar"));
  recording_ = std::make_unique<RecordingStatus>(bar, frame_->statusBar());
  auto say = [this](const QString& message) { frame_->statusBar()->showMessage(message, MESSAGE_MS); };
  new OpenRecording(frame_, bar, say);  // owned by the window
  new CsvExport(frame_, bar, say);      // owned by the window
  add_save_actions(bar, frame_, [this](const QString& message) {
    frame_->statusBar()->showMessage(message, MESSAGE_MS);
    if (message.contains(QStringLiteral(" not saved"))) log_warning(message.toStdString());
    else log_info(message.toStdString());
  });
  log_ = std::make_unique<LogPane>(frame_);
  bar->addAction(log_->show_action());
  trends_ = std::make_unique<TrendsView>(frame_, model_, top_);
  bar->addAction(trends_->show_action());
  // Stale values: the displays grey, the plots washed with the age. The
  // status line is not a value of the last frame: it tells the latest
  // attempt, and stays as it is.
  std::vector<QWidget*> displays, plots;
  for (auto& [id, b] : bindings_) {
    if (b.info->name == "PANEL_STATUS") continue;
    if (b.info->kind == Kind::Display || b.info->kind == Kind::TextBox) displays.push_back(b.widget);
    else if (b.info->kind == Kind::XYGraph || b.info->kind == Kind::StripChart) plots.push_back(b.widget);
  }
  stale_ = std::make_unique<StaleMarker>(std::move(displays), std::move(plots));
  limit_look_ = std::make_unique<LimitLook>(frame_->statusBar());
  draw_limits();
  // The alarm list below the panel, its count in the health bar; Limits...
  alarms_ = std::make_unique<AlarmPane>(frame_);
  QAction* edit_limits = add_limits_dialog(frame_, model_);
  alarms_->add_button(edit_limits);
  limits_mark_ = std::make_unique<LimitsMark>(edit_limits);
  health_->place(limits_mark_->widget());
  connect(health_->alarms_button(), &QAbstractButton::clicked, this, [this] { alarms_->reveal(); });
  if (QWidget* dump = top_->findChild<QWidget*>(QStringLiteral("PANEL_HEXDUMP")))
    alarms_->keep_panel_whole(scroll, dump->parentWidget());
  axis_inputs_ = std::make_unique<AxisInputs>(top_);
  command_keys_ = std::make_unique<CommandKeys>(top_, say);
  command_confirm_ = std::make_unique<CommandConfirm>(top_, frame_, say);
  connect_view_switches(top_, [this](const QString& name) -> PanelPlot* {
    const ControlInfo* c = model_.find(name.toStdString());
    return c && bindings_.count(c->id) ? bindings_.at(c->id).plot.get() : nullptr;
  });
  // The window takes the size the panel file gives where the screen has
  // room (WindowLayout::show); the operator's layout is restored.
  frame_->resize(panel_size);
  layout_ = std::make_unique<WindowLayout>(frame_, top_, panel_size, bar, [this] { restyle(); });
  layout_->remember_dock(alarms_->dock());
  layout_->restore();
  add_connect_to(frame_);
  add_publish_setting(frame_);
  add_note_action(frame_, say);
  add_sessions_action(frame_, say);
  add_report_action(frame_, say);
  // Every moment of the pass that can be clicked leads to one place.
  jump_ = std::make_unique<MomentJump>(frame_, say);
  auto go = [this](double t_s, int64_t offset, const QString& what) { jump_->go(t_s, offset, what); };
  alarms_->on_moment = go;
  log_->on_moment = go;
  trends_->on_moment = go;
  trends_->shown_time = [this](double* t_s) { return jump_->shown_time(t_s); };
  build_menus(frame_);
}

void PanelWindow::restyle() {
  for (auto& [id, b] : bindings_)
    if (b.plot) b.plot->apply_palette();
  limit_look_->restyle();
  axis_inputs_->restyle();
  trends_->apply_palette();
  log_->restyle();
  if (alarms_) alarms_->restyle();
}

// The displays' tooltips give the limits in force.
void PanelWindow::draw_limits() {
  drawn_limits_ = model_.limits_version();
  for (const auto& slot : model_.limit_slots())
    if (bindings_.count(slot.id)) limit_look_->add(bindings_.at(slot.id).widget, slot.limits, slot.format);
}

void PanelWindow::connect_input(Binding& b) {
  const int id = b.info->id;
  switch (b.info->kind) {
    case Kind::Button: {
      // The panel's Quit asks first in live mode, as closing the window does.
      const bool quit = b.info->name == "PANEL_QUIT";
      connect(static_cast<QAbstractButton*>(b.widget), &QAbstractButton::clicked, this, [this, id, quit] {
        if (!quit || operator_may_quit(frame_)) model_.post_event(id);
      });
      break;
    }
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
    if (!operator_may_quit(frame_)) return true;
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
  transport_->draw(clock_.elapsed(), unthrottled_);
  recording_->draw();
  draw_health();
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
  transport_->draw(clock_.elapsed(), unthrottled_);
  if (++refreshes_ % RECORDING_STAT_EVERY == 0) recording_->draw();
  limit_look_->draw_count(model_.out_of_limits(), model_.in_alarm());
  if (model_.limits_version() != drawn_limits_) draw_limits();
  if (now || refreshes_ % HEALTH_EVERY == 0) draw_health();
  const Message m = transport_message();
  if (m.serial != shown_message_) {
    shown_message_ = m.serial;
    frame_->statusBar()->showMessage(QString::fromStdString(m.text), MESSAGE_MS);
  }
}

void PanelWindow::draw_health() {
  // A remote view shows the station's health, not its own input's.
  const HealthSnapshot h = viewer_active() ? viewer_station_health() : watch_health();
  share_->draw();
  record_mark_->draw();
  const bool live = !transport_is_playback() && com_in_use();
  const QString device = live ? QString::fromStdString(com_device()) : QString();
  health_->show_port(device);
  health_->draw(h);
  if (live && device != shown_device_) {
    shown_device_ = device;
    drawn_panel_version_ = ~uint64_t{0};  // the title names the device
    draw_panel();
  }
  stale_->draw(h.stale, h.age_s);
  log_->poll();
  alarms_->poll();
  const AlarmStatus& a = alarms_->status();
  health_->show_alarms(alarm_count_text(a.unacknowledged), a.worst_unacknowledged == Severity::Error,
                       alarms_->unacknowledged_text());
  health_->show_muted(alarms_->muted());
  limits_mark_->draw();
  if (a.unacknowledged != shown_alarms_) {
    shown_alarms_ = a.unacknowledged;
    drawn_panel_version_ = ~uint64_t{0};  // the title counts them
    draw_panel();
  }
}

void PanelWindow::draw_panel() {
  const uint64_t pv = model_.panel_version();
  if (pv == drawn_panel_version_) return;
  drawn_panel_version_ = pv;
  std::string title = model_.title();
  if (title.empty()) title = model_.layout().title;
  if (!title.empty()) {
    // A remote view is no playback of a file, whatever its input is called.
    const QString remote = remote_view_title();
    QString shown = remote.isEmpty() ? QString::fromStdString(title) : remote;
    // Live: the title also says which device COM1 stands for; a launcher
    // start, the folder it works in.
    if (!shown_device_.isEmpty()) shown += QStringLiteral("  [COM1 = %1]").arg(shown_device_);
    const QString folder = QString::fromStdString(transport_work_folder());
    const QString fallback = QString::fromStdString(transport_work_folder_fallback());
    if (!folder.isEmpty() && fallback.isEmpty()) shown += QStringLiteral("  [folder %1]").arg(folder);
    else if (!folder.isEmpty()) shown += QStringLiteral("  [folder %1, NOT ~/vst_gse: %2]").arg(folder, fallback);
    // First, so a task bar that cuts the title short still shows it.
    if (shown_alarms_ > 0) shown = alarm_count_text(shown_alarms_) + QStringLiteral(" \u00b7 ") + shown;
    top()->setWindowTitle(shown);
  }
  if (pv == 0) return;  // DisplayPanel not called yet: leave it to the caller
  if (model_.visible() != top()->isVisible()) {
    if (model_.visible()) show();
    else top()->hide();
  }
  recording_->draw();
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
      // A display the system never wrote shows nothing, not a zero.
      std::string text;
      if (s.written) {
        switch (b.info->type) {
          case ValueType::Int: text = format_display_int(s.i); break;
          case ValueType::Float: text = format_display_double(s.f, b.info->format); break;
          case ValueType::Double: text = format_display_double(s.d, b.info->format); break;
          default: text = s.text; break;
        }
      }
      limit_look_->draw(b.widget, s.limit);
      auto* edit = static_cast<QLineEdit*>(b.widget);
      const QString shown = QString::fromStdString(text);
      if (edit->text() != shown) {
        edit->setText(shown);
        edit->setCursorPosition(0);  // the leading digits, if it overflows
      }
      break;
    }
    case Kind::TextBox: {
      const qint64 now = clock_.elapsed();
      b.deferred = !unthrottled_ && b.drawn_ms >= 0 && now - b.drawn_ms < TEXT_BOX_REDRAW_MS;
      if (b.deferred) return;  // drawn at a later refresh, as the model then is
      const QString shown = QString::fromStdString(s.text);
      if (shown != b.shown_text) {
        static_cast<QPlainTextEdit*>(b.widget)->setPlainText(shown);
        b.shown_text = shown;
        b.drawn_ms = now;
      }
      break;
    }
    case Kind::XYGraph:
    case Kind::StripChart: {
      // A plot changed again too soon is drawn at a later refresh, with
      // whatever the model then holds.
      b.deferred = !b.plot->draw(s, clock_.elapsed(), unthrottled_);
      if (b.deferred) return;
      if (b.info->kind == Kind::XYGraph) axis_inputs_->show_graph(b.info->name, s);
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

void PanelWindow::draw_done_look(Binding& b, const ControlState& s) {
  if (done_look_on(s) == b.done_look) return;
  b.done_look = !b.done_look;
  show_done_look(b.widget, b.done_look, b.tooltip);
}

PanelWindow* create_panel_window(PanelModel& model, const std::string& uir_path,
                                 std::string* error) {
  QWidget* top = load_panel_form(uir_path, error);
  if (!top) return nullptr;
  auto window = std::make_unique<PanelWindow>(model, top);
  if (!window->bind(uir_path, error)) return nullptr;
  window->start();
  return window.release();
}

void show_panel_window(PanelWindow* window) {
  if (!window) return;
  window->show();
  window->top()->raise();
}

void refresh_panel_window(PanelWindow* window) {
  if (window) window->refresh(/*now=*/true);
}

void destroy_panel_window(PanelWindow* window) {
  // A quit that comes while the operator's quit question is open (a signal)
  // closes the question; the window's code that asked is still running
  // under it, so the window goes once the event loop is back at its level.
  if (window && close_open_dialogs()) {
    window->top()->hide();
    window->deleteLater();
    return;
  }
  delete window;
}

QWidget* panel_widget(PanelWindow* window) { return window ? window->top() : nullptr; }

QWidget* panel_form(PanelWindow* window) { return window ? window->form() : nullptr; }


}  // namespace rt
