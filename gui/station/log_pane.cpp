#include "gui/station/log_pane.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QVBoxLayout>

#include "gui/theme.h"

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
  row->addStretch(1);
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
}

bool LogPane::passes(const LogEntry& e) const {
  return static_cast<int>(e.severity) >= filter_->currentData().toInt();
}

void LogPane::append(const LogEntry& e) {
  text_->appendHtml(QStringLiteral("<span style=\"color:%1\">%2 %3 %4</span>")
                        .arg(colour_of(e.severity).name(),
                             QString::fromStdString(e.time).toHtmlEscaped(),
                             QLatin1String(severity_name(e.severity)),
                             QString::fromStdString(e.text).toHtmlEscaped()));
}

void LogPane::poll() {
  const std::vector<LogEntry> fresh = log_entries_since(seen_);
  if (fresh.empty()) return;
  seen_ = fresh.back().serial;
  QScrollBar* bar = text_->verticalScrollBar();
  // The newest stay in view, unless the operator has scrolled up to read.
  const bool at_bottom = bar->value() >= bar->maximum() - 2;
  for (const LogEntry& e : fresh) {
    kept_.push_back(e);
    if (kept_.size() > static_cast<size_t>(LOG_PANE_LINES)) kept_.pop_front();
    if (passes(e)) append(e);
  }
  if (at_bottom) bar->setValue(bar->maximum());
}

void LogPane::rebuild() {
  text_->clear();
  for (const LogEntry& e : kept_)
    if (passes(e)) append(e);
  text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

}  // namespace rt
