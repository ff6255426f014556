// The panel window. It draws the model and turns committed operator input
// into model values and events; everything it shows comes from the model.
// The plots (plots.h) and the pieces around the panel (transport_bar.h,
// recording_status.h, save_actions.h) live in files of their own: this one
// binds the panel, places them in the frame and dispatches each refresh.
// All of it runs on the GUI thread.
#include "runtime/qt/window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFile>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
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
#include "runtime/qt/open_recording.h"
#include "runtime/qt/plots.h"
#include "runtime/qt/recording_status.h"
#include "runtime/qt/save_actions.h"
#include "runtime/qt/transport_bar.h"
#include "runtime/transport.h"
#include "runtime/ui.h"

namespace rt {

namespace {

constexpr int REFRESH_MS = 33;  // about 30 redraws a second
// The recording's size is looked up every this many redraws (about twice a
// second).
constexpr int RECORDING_STAT_EVERY = 15;
constexpr int MESSAGE_MS = 15000;  // how long a status-bar message stays

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
  void draw_done_look(Binding& b, const ControlState& s);
  void draw_panel();
  bool is_editing(const Binding& b) const;
  // The frame around the panel: transport and snapshot toolbar, status bar.
  void build_frame();

  PanelModel& model_;
  QWidget* top_;  // the panel form
  QMainWindow* frame_ = nullptr;  // the top-level window holding it
  std::unique_ptr<TransportBar> transport_;
  std::unique_ptr<RecordingStatus> recording_;
  uint64_t shown_message_ = 0;
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

  // Left to right: the transport (playback only), the NOT RECORDING banner
  // (live mode without a recording), opening a recording, the saves.
  transport_ = std::make_unique<TransportBar>(bar);
  frame_->statusBar()->setObjectName(QStringLiteral("statusBar"));
  recording_ = std::make_unique<RecordingStatus>(bar, frame_->statusBar());
  auto say = [this](const QString& message) { frame_->statusBar()->showMessage(message, MESSAGE_MS); };
  new OpenRecording(frame_, bar, say);  // owned by the window
  add_save_actions(bar, top_, say);
  // The window takes the size the panel file gives, within the screen; the
  // panel's layout gives up the bars' height, as far as its minimum allows.
  QSize size = panel_size;
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize());
  frame_->resize(size);
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
  transport_->draw(clock_.elapsed(), unthrottled_);
  recording_->draw();
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
      b.deferred = !b.plot->draw(s, clock_.elapsed(), unthrottled_);
      if (b.deferred) return;
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
