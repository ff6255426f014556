#include "gui/station/log_pane.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include "gui/theme.h"
#include "history/pass.h"
#include "runtime/transport.h"
#include "session/local_time.h"

namespace rt {

namespace {

// Readable on the log's background in either theme (theme.h).
QColor colour_of(Severity severity) {
  const TextColours c = text_colours();
  switch (severity) {
    case Severity::Error: return c.error;
    case Severity::Warning: return c.warning;
    case Severity::Info: break;
  }
  return c.info;
}

}  // namespace

LogPane::LogPane(QMainWindow* window) {
  dock_ = new QDockWidget(QStringLiteral("Session log"), window);
  dock_->setObjectName(QStringLiteral("logDock"));
  dock_->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea);
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 2, 4, 4);
  auto* row = new QHBoxLayout;
  row->addWidget(new QLabel(QStringLiteral("Show")));
  filter_ = new QComboBox;
  filter_->setObjectName(QStringLiteral("logFilter"));
  filter_->addItem(QStringLiteral("everything"), static_cast<int>(Severity::Info));
  filter_->addItem(QStringLiteral("warnings and errors"), static_cast<int>(Severity::Warning));
  filter_->addItem(QStringLiteral("errors only"), static_cast<int>(Severity::Error));
  row->addWidget(filter_);
  source_ = new QComboBox;
  source_->setObjectName(QStringLiteral("logSource"));
  source_->addItem(QStringLiteral("the pass's log (session record)"));
  source_->addItem(QStringLiteral("this playback's log"));
  source_->setToolTip(QStringLiteral("The log the live station kept of the pass, or this playback's own"));
  source_->setVisible(false);  // until a pass is there to show
  row->addWidget(source_);
  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("logSearch"));
  search_->setPlaceholderText(QStringLiteral("Search the log (\"note\" finds the notes)"));
  search_->setClearButtonEnabled(true);
  row->addWidget(search_, 1);
  column->addLayout(row);
  text_ = new QPlainTextEdit;
  text_->setObjectName(QStringLiteral("logText"));
  text_->setReadOnly(true);
  text_->setMaximumBlockCount(LOG_PANE_LINES);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  column->addWidget(text_);
  dock_->setWidget(body);
  window->addDockWidget(Qt::BottomDockWidgetArea, dock_);
  dock_->hide();

  show_ = new QAction(QStringLiteral("Log"), window);
  show_->setObjectName(QStringLiteral("actionShowLog"));
  show_->setCheckable(true);
  show_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  show_->setToolTip(QStringLiteral("Show the session log (Ctrl+L)"));
  window->addAction(show_);
  QObject::connect(show_, &QAction::toggled, dock_, &QDockWidget::setVisible);
  QObject::connect(dock_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    // Hidden with its own close button: the action follows. (A dock behind
    // a tab also reports itself hidden; the action then still shows it.)
    if (!visible && !dock_->isVisible()) show_->setChecked(false);
  });
  QObject::connect(filter_, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
  QObject::connect(source_, &QComboBox::currentIndexChanged, this, [this] { rebuild(); });
  QObject::connect(search_, &QLineEdit::textChanged, this, [this] { rebuild(); });
  viewport_ = text_->viewport();
  viewport_->installEventFilter(this);
  text_->installEventFilter(this);
}

// The chooser's own flag, not isVisible(): the pass may come while the log's
// dock is closed, and the pane must be the pass's log when it opens.
bool LogPane::showing_pass() const { return !source_->isHidden() && source_->currentIndex() == 0; }

bool LogPane::passes(const Line& l) const {
  if (static_cast<int>(l.entry.severity) < filter_->currentData().toInt()) return false;
  const QString wanted = search_->text().trimmed();
  return wanted.isEmpty() || QString::fromStdString(l.entry.text).contains(wanted, Qt::CaseInsensitive) ||
         QString::fromStdString(l.entry.time).contains(wanted);
}

void LogPane::append(const Line& l) {
  const LogEntry& e = l.entry;
  text_->appendHtml(QStringLiteral("<span style=\"color:%1\">%2 %3 %4</span>")
                        .arg(colour_of(e.severity).name(),
                             QString::fromStdString(e.time).toHtmlEscaped(),
                             QLatin1String(severity_name(e.severity)),
                             QString::fromStdString(e.text).toHtmlEscaped()));
  shown_.push_back(l);
  if (shown_.size() > static_cast<size_t>(LOG_PANE_LINES)) shown_.pop_front();  // as the text drops its first
}

void LogPane::poll() {
  // A playback with a session record: its log can be shown (first).
  const auto pass = transport_is_playback() ? playback_pass() : nullptr;
  if (pass.get() != pass_shown_) {
    pass_shown_ = pass.get();
    pass_lines_.clear();
    if (pass) {
      for (const PassEvent& e : pass->log) {
        Line l;
        l.entry.time = local_time_text(std::chrono::system_clock::time_point(
                                           std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                               std::chrono::duration<double>(e.t_s))),
                                       true);
        l.entry.t_s = e.t_s;
        l.entry.severity = e.severity;
        l.entry.text = e.text;
        l.offset = e.offset;
        l.pass = true;
        pass_lines_.push_back(std::move(l));
      }
    }
    source_->setVisible(pass != nullptr);
    rebuild();
  }
  const std::vector<LogEntry> fresh = log_entries_since(seen_);
  if (fresh.empty()) return;
  seen_ = fresh.back().serial;
  QScrollBar* bar = text_->verticalScrollBar();
  // The newest stay in view, unless the operator has scrolled up to read.
  const bool at_bottom = bar->value() >= bar->maximum() - 2;
  for (const LogEntry& e : fresh) {
    Line l;
    l.entry = e;
    kept_.push_back(l);
    if (kept_.size() > static_cast<size_t>(LOG_PANE_LINES)) kept_.pop_front();
    if (!showing_pass() && passes(l)) append(l);
  }
  if (at_bottom) bar->setValue(bar->maximum());
}

void LogPane::rebuild() {
  text_->clear();
  shown_.clear();
  if (showing_pass()) {
    // The last LOG_PANE_LINES that pass the filter.
    std::vector<const Line*> lines;
    for (const Line& l : pass_lines_)
      if (passes(l)) lines.push_back(&l);
    const size_t from = lines.size() > static_cast<size_t>(LOG_PANE_LINES) ? lines.size() - LOG_PANE_LINES : 0;
    for (size_t i = from; i < lines.size(); ++i) append(*lines[i]);
  } else {
    for (const Line& l : kept_)
      if (passes(l)) append(l);
  }
  text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

void LogPane::choose(int block) {
  if (block < 0 || block >= static_cast<int>(shown_.size()) || !on_moment) return;
  const Line& l = shown_[static_cast<size_t>(block)];
  // This playback's own lines happened now, not in the pass: they lead nowhere.
  if (transport_is_playback() && !l.pass) return;
  on_moment(l.entry.t_s, l.offset, QStringLiteral("the log line \"%1\"").arg(QString::fromStdString(l.entry.text)));
}

bool LogPane::eventFilter(QObject* watched, QEvent* event) {
  // Live, a click only places the cursor (to select and copy): a
  // double-click opens the review. In the pass's log a click moves there.
  const bool playback = transport_is_playback();
  if (watched == viewport_ &&
      ((playback && event->type() == QEvent::MouseButtonRelease) ||
       (!playback && event->type() == QEvent::MouseButtonDblClick))) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && !text_->textCursor().hasSelection())
      choose(text_->cursorForPosition(mouse->position().toPoint()).blockNumber());
  } else if (watched == text_ && playback && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      choose(text_->textCursor().blockNumber());
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace rt
