#include "gui/station/alarm_pane.h"

#include <QAction>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QSettings>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "gui/layout.h"
#include "gui/station/alarm_sound.h"
#include "gui/theme.h"
#include "history/pass.h"
#include "history/timeline.h"
#include "publish/publisher.h"
#include "publish/viewer.h"
#include "replay/replay.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace rt {

namespace {

const QString KEY_MUTED = QStringLiteral("alarms/muted");

enum Column { SEVERITY, SOURCE, WHAT, FIRST, LAST, TIMES, WORST, NOW, ACKNOWLEDGED, BEGAN_AT, COLUMNS };

const char* const HEADERS[COLUMNS] = {"Severity", "Source", "Alarm", "First", "Last",
                                       "Times", "Worst", "Now", "Acknowledged", "Began at"};

QString text(const std::string& s) { return QString::fromStdString(s); }

// "4.2 s", "12 min 5 s", "2 h 3 min".
QString duration(double s) {
  if (s < 60.0) return QStringLiteral("%1 s").arg(s, 0, 'f', 1);
  const long long whole = static_cast<long long>(s);
  if (whole < 3600) return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60);
  return QStringLiteral("%1 h %2 min").arg(whole / 3600).arg(whole / 60 % 60);
}

// Unacknowledged first, red before amber, then those whose cause is present,
// the latest first.
bool shown_before(const Alarm& a, const Alarm& b) {
  if (a.acknowledged != b.acknowledged) return !a.acknowledged;
  if (a.severity != b.severity) return a.severity > b.severity;
  if (a.active != b.active) return a.active;
  return a.last_s > b.last_s;
}

}  // namespace

QString alarm_count_text(int unacknowledged) {
  if (unacknowledged <= 0) return QString();
  return unacknowledged == 1 ? QStringLiteral("1 ALARM") : QStringLiteral("%1 ALARMS").arg(unacknowledged);
}

AlarmPane::AlarmPane(QMainWindow* window) : remote_(viewer_active()) {
  dock_ = new QDockWidget(remote_ ? QStringLiteral("Alarms at the station") : QStringLiteral("Alarms"), window);
  dock_->setObjectName(QStringLiteral("alarmDock"));
  dock_->setAllowedAreas(Qt::BottomDockWidgetArea | Qt::RightDockWidgetArea | Qt::TopDockWidgetArea);
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(4, 2, 4, 4);
  column->setSpacing(3);
  buttons_ = new QHBoxLayout;
  count_ = new QLabel;
  count_->setObjectName(QStringLiteral("alarmCount"));
  // It may wrap: floating over the hex dump (keep_panel_whole) the pane
  // is no wider than that group.
  count_->setWordWrap(true);
  buttons_->addWidget(count_);
  search_ = new QLineEdit;
  search_->setObjectName(QStringLiteral("alarmSearch"));
  search_->setPlaceholderText(QStringLiteral("Search the alarms"));
  search_->setClearButtonEnabled(true);
  search_->setMaximumWidth(240);
  buttons_->addWidget(search_);
  placed_ = 2;
  buttons_->addStretch(1);  // the buttons go before it, left to right
  acknowledge_ = new QPushButton(QStringLiteral("Acknowledge"));
  acknowledge_->setObjectName(QStringLiteral("acknowledgeAlarm"));
  acknowledge_->setToolTip(QStringLiteral("Acknowledge the selected alarms"));
  buttons_->insertWidget(placed_++, acknowledge_);

  acknowledge_all_ = new QAction(QStringLiteral("Acknowledge &all"), window);
  acknowledge_all_->setObjectName(QStringLiteral("actionAcknowledgeAll"));
  acknowledge_all_->setToolTip(QStringLiteral("Acknowledge every alarm in the list"));
  mute_ = new QAction(QStringLiteral("&Mute alarm sound"), window);
  mute_->setObjectName(QStringLiteral("actionMuteAlarms"));
  mute_->setCheckable(true);
  mute_->setToolTip(QStringLiteral("No tone for new alarms (remembered)"));
  for (QAction* a : {acknowledge_all_, mute_}) add_button(a);

  table_ = new QTableWidget(0, COLUMNS);
  table_->setObjectName(QStringLiteral("alarmTable"));
  QStringList headers;
  for (const char* h : HEADERS) headers << QLatin1String(h);
  table_->setHorizontalHeaderLabels(headers);
  table_->verticalHeader()->setVisible(false);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setWordWrap(false);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->horizontalHeader()->setStretchLastSection(true);
  column->addLayout(buttons_);
  column->addWidget(table_);
  dock_->setWidget(body);
  window->addDockWidget(Qt::BottomDockWidgetArea, dock_);
  // Hidden until asked for (the health bar's count, the menus): at 1366x768
  // the panel needs the whole height. The layout remembers it.
  dock_->hide();

  QAction* show = dock_->toggleViewAction();
  show->setObjectName(QStringLiteral("actionShowAlarms"));
  show->setText(QStringLiteral("Alarm &list"));
  show->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
  show->setToolTip(QStringLiteral("Show the alarm list (Ctrl+Shift+A)"));
  window->addAction(show);

  // The sound: the sound card, or a test's sink.
  ToneSink* sink = tone_sink_for_tests();
  if (!sink) {
    sound_ = std::make_unique<AlarmSound>();
    sink = sound_.get();
  }
  annunciator_ = std::make_unique<Annunciator>(*sink);
  const bool muted = window_settings()->value(KEY_MUTED, false).toBool();
  mute_->setChecked(muted);
  annunciator_->set_muted(muted);
  publish_set_alarms_muted(muted);
  clock_.start();
  if (remote_) {
    // The station's list, as it is: acknowledged there, never here.
    acknowledge_->setVisible(false);
    if (auto* all = body->findChild<QToolButton*>(QStringLiteral("actionAcknowledgeAllButton"))) all->setVisible(false);
    acknowledge_all_->setVisible(false);
    auto* note = new QLabel(QStringLiteral("The station's alarm list, read-only: alarms are acknowledged at the station."));
    note->setObjectName(QStringLiteral("alarmRemoteNote"));
    buttons_->insertWidget(placed_++, note);
  }

  connect(acknowledge_, &QPushButton::clicked, this, [this] { acknowledge_selected(); });
  connect(acknowledge_all_, &QAction::triggered, this, [this] {
    if (remote_ || recorded_) return;
    watch_acknowledge_all();
    poll();
  });
  connect(mute_, &QAction::toggled, this, [this](bool on) {
    annunciator_->set_muted(on);
    publish_set_alarms_muted(on);
    window_settings()->setValue(KEY_MUTED, on);
    log_info(on ? "alarm sound muted by the operator" : "alarm sound on again (the operator)");
  });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { enable_acknowledge(); });
  acknowledge_->setEnabled(false);
  connect(search_, &QLineEdit::textChanged, this, [this] { draw(); });
  // A row leads to its moment: in playback a click or Enter; live, where a
  // click selects a row to acknowledge and a key must never start anything,
  // a double-click only (it opens a review window).
  if (transport_is_playback()) {
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { choose(row); });
    auto* enter = new QAction(table_);
    enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    enter->setShortcutContext(Qt::WidgetShortcut);
    table_->addAction(enter);
    connect(enter, &QAction::triggered, this, [this] { choose(table_->currentRow()); });
  } else {
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { choose(row); });
  }
  table_->setColumnHidden(BEGAN_AT, !transport_is_playback());
}

void AlarmPane::began_at(const Alarm& a, double* t_s, int64_t* offset) const {
  *offset = -1;
  // The pass's time says the frame (history/timeline.h); live, the time.
  *t_s = recorded_ ? a.first_s : session_time_unix(a.first_s);
}

void AlarmPane::choose(int row) {
  if (row < 0 || row >= table_->rowCount() || !on_moment) return;
  const uint64_t id = table_->item(row, SEVERITY)->data(Qt::UserRole).toULongLong();
  for (const Alarm& a : rows_) {
    if (a.id != id) continue;
    double t = 0.0;
    int64_t offset = -1;
    began_at(a, &t, &offset);
    on_moment(t, offset, QStringLiteral("the alarm %1 (first %2)").arg(text(a.what), text(a.first_time)));
    return;
  }
}

AlarmPane::~AlarmPane() = default;

QAction* AlarmPane::show_action() const { return dock_->toggleViewAction(); }

bool AlarmPane::muted() const { return mute_->isChecked(); }

void AlarmPane::add_button(QAction* action) {
  auto* button = new QToolButton;
  button->setDefaultAction(action);
  button->setObjectName(action->objectName() + QStringLiteral("Button"));
  buttons_->insertWidget(placed_++, button);
}

void AlarmPane::keep_panel_whole(QScrollArea* scroll, QWidget* over) {
  scroll_ = scroll;
  over_ = over;
  connect(dock_, &QDockWidget::visibilityChanged, this, [this](bool visible) {
    // Once the dock has its room, the panel may have had to give it.
    if (visible) QTimer::singleShot(0, this, [this] { float_if_panel_scrolls(); });
  });
  connect(dock_, &QDockWidget::topLevelChanged, this, [this](bool floating) {
    if (!floating && floated_) docked_by_hand_ = true;
  });
}

void AlarmPane::float_if_panel_scrolls() {
  if (!scroll_ || !over_ || docked_by_hand_ || dock_->isFloating() || !dock_->isVisible()) return;
  if (!scroll_->verticalScrollBar()->isVisible() && !scroll_->horizontalScrollBar()->isVisible()) return;
  if (!floated_)
    log_info("Alarm list shown floating over the hex dump: docked below the panel it would push the strip chart "
             "and spectra out of view on this screen");
  floated_ = true;
  dock_->setFloating(true);
  // Over the hex dump, once the panel has its whole height again: its
  // values, strip chart and spectra stay in view.
  QTimer::singleShot(0, this, [this] {
    if (dock_->isFloating()) dock_->setGeometry(QRect(over_->mapToGlobal(QPoint(0, 0)), over_->size()));
  });
}

void AlarmPane::reveal() {
  dock_->show();
  dock_->raise();
}

void AlarmPane::acknowledge_selected() {
  if (remote_ || recorded_) return;
  std::set<uint64_t> ids;
  for (const QTableWidgetItem* item : table_->selectedItems())
    ids.insert(table_->item(item->row(), SEVERITY)->data(Qt::UserRole).toULongLong());
  for (uint64_t id : ids) watch_acknowledge(id);
  poll();
}

void AlarmPane::poll() {
  // The frames the rows began at are known once the recording is indexed.
  if (transport_is_playback() && !drawn_indexed_) {
    const ReplayView v = replay_view();
    if (v.index && v.index->state() == RecordingIndex::State::Ready) {
      drawn_indexed_ = true;
      version_ = ~uint64_t{0};
    }
  }
  if (remote_) {
    AlarmsSnapshot snap = viewer_station_alarms();
    if (snap.version != version_) {
      version_ = snap.version;
      rows_ = std::move(snap.rows);
      status_ = snap.status;
      std::stable_sort(rows_.begin(), rows_.end(), shown_before);
      draw();
    }
  } else if (watch_alarms_version() != version_) {
    AlarmsSnapshot snap = watch_alarms();
    version_ = snap.version;
    rows_ = std::move(snap.rows);
    status_ = snap.status;
    recorded_ = snap.recorded;
    std::stable_sort(rows_.begin(), rows_.end(), shown_before);
    draw();
  }
  annunciator_->update(status_, static_cast<double>(clock_.elapsed()) / 1000.0);
}

void AlarmPane::draw() {
  // The selection is kept by alarm across the redraw.
  std::set<uint64_t> selected;
  for (const QTableWidgetItem* item : table_->selectedItems())
    selected.insert(table_->item(item->row(), SEVERITY)->data(Qt::UserRole).toULongLong());
  const LimitColours colours = limit_colours();
  const QColor grey = table_->palette().color(QPalette::Disabled, QPalette::Text);
  table_->setRowCount(static_cast<int>(rows_.size()));
  // Where each row began, as a frame of the playback's index once it is built.
  const ReplayView view = transport_is_playback() ? replay_view() : ReplayView{};
  const bool indexed = view.index && view.index->state() == RecordingIndex::State::Ready;
  const QString wanted = search_->text().trimmed();
  for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
    const Alarm& a = rows_[static_cast<size_t>(r)];
    const bool red = a.severity == Severity::Error;
    QString began;
    if (indexed) {
      double t = 0.0;
      int64_t offset = -1;
      began_at(a, &t, &offset);
      if (offset >= 0 || offset_of_time(playback_pass().get(), view.path, t, &offset))
        began = QStringLiteral("frame %1").arg(index_frame_at(*view.index, offset) + 1);
    }
    const QString cells[COLUMNS] = {
        QString::fromLatin1(alarm_colour(a.severity)).toUpper(),
        QLatin1String(alarm_source_name(a.source)),
        text(a.what),
        text(a.first_time),
        text(a.last_time),
        QString::number(a.occurrences),
        a.has_value ? text(a.worst_value + " (" + a.worst_limit + ")")
                    : QStringLiteral("longest %1").arg(duration(a.longest_s)),
        text(a.now),
        a.acknowledged ? text(a.acknowledged_time) : (recorded_ ? QStringLiteral("never") : QStringLiteral("NOT ACKNOWLEDGED")),
        began,
    };
    for (int c = 0; c < COLUMNS; ++c) {
      QTableWidgetItem* item = table_->item(r, c);
      if (!item) {
        item = new QTableWidgetItem;
        table_->setItem(r, c, item);
      }
      item->setText(cells[c]);
      QFont font = item->font();
      font.setBold(!a.acknowledged);
      item->setFont(font);
      item->setData(Qt::BackgroundRole, QVariant());
      item->setData(Qt::ForegroundRole, a.acknowledged && !a.active ? QVariant(grey) : QVariant());
    }
    QTableWidgetItem* severity = table_->item(r, SEVERITY);
    severity->setData(Qt::UserRole, static_cast<qulonglong>(a.id));
    if (!a.acknowledged || a.active) {
      severity->setBackground(red ? colours.alarm_background : colours.caution_background);
      severity->setForeground(red ? colours.alarm_text : colours.caution_text);
    }
    bool match = wanted.isEmpty();
    for (int c = 0; c < COLUMNS && !match; ++c) match = cells[c].contains(wanted, Qt::CaseInsensitive);
    table_->setRowHidden(r, !match);
    for (int c = 0; c < COLUMNS; ++c) table_->item(r, c)->setSelected(selected.count(a.id) != 0);
  }
  // (Not in the dock's title: its menu action takes its text from it.)
  count_->setText(recorded_ ? QStringLiteral("the pass's alarms")
                  : status_.unacknowledged > 0 ? QStringLiteral("%1 not acknowledged").arg(status_.unacknowledged)
                                               : QStringLiteral("all acknowledged"));
  count_->setToolTip(recorded_ ? QStringLiteral("The alarms as they were raised, returned and acknowledged in the pass, "
                                                 "from its session record: a record of what happened, nothing to "
                                                 "acknowledge")
                                : QString());
  enable_acknowledge();
}

// A reviewed pass's list is a record of what happened, and a remote view's
// is the station's: only the station's own live list is acknowledged here.
void AlarmPane::enable_acknowledge() {
  const bool own = !remote_ && !recorded_;
  acknowledge_->setEnabled(own && !table_->selectedItems().isEmpty());
  acknowledge_all_->setEnabled(own && status_.unacknowledged > 0);
  acknowledge_->setToolTip(recorded_ ? QStringLiteral("The pass's alarms are a record of what happened: nothing to acknowledge")
                                     : QStringLiteral("Acknowledge the selected alarms"));
}

QString AlarmPane::unacknowledged_text() const {
  constexpr int SHOWN = 12;
  QStringList lines;
  int more = 0;
  for (const Alarm& a : rows_) {
    if (a.acknowledged) continue;
    if (lines.size() == SHOWN) {
      ++more;
      continue;
    }
    lines << QStringLiteral("%1 (%2) since %3")
                 .arg(text(a.what), QLatin1String(alarm_colour(a.severity)), text(a.first_time));
  }
  if (more > 0) lines << QStringLiteral("and %1 more").arg(more);
  return lines.join(QLatin1Char('\n'));
}

void AlarmPane::restyle() {
  version_ = ~uint64_t{0};
  poll();
}

}  // namespace rt
