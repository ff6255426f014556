#include "gui/desktop/sessions_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QVBoxLayout>

#include <atomic>
#include <memory>
#include <thread>

#include "archive/archive.h"
#include "archive/session_list.h"
#include "gui/desktop/report_action.h"
#include "replay/replay.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace rt {

namespace {

constexpr const char* FOLDER_KEY = "archive/folder";

QSettings settings() { return QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse")); }

QString default_folder() {
  const QString kept = settings().value(QString::fromLatin1(FOLDER_KEY)).toString();
  if (!kept.isEmpty() && QDir(kept).exists()) return kept;
  return QDir(QDir::homePath()).filePath(QStringLiteral("vst_gse"));
}

enum Column { STARTED, DURATION, FRAMES, FAILURES, ALARMS, NOTES, LOST, PORT, STATE, RECORDING, COLUMNS };

// A cell that sorts by its number.
QTableWidgetItem* number_item(qlonglong n) {
  auto* item = new QTableWidgetItem;
  item->setData(Qt::DisplayRole, n);
  return item;
}

class SessionsWindow : public QDialog {
 public:
  SessionsWindow(QWidget* parent, std::function<void(const QString&)> say,
                 std::function<void(const std::string&)> open)
      : QDialog(parent), say_(std::move(say)), open_(std::move(open)) {
    setObjectName(QStringLiteral("sessionsWindow"));
    setWindowTitle(QStringLiteral("Sessions"));
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    folder_label_ = new QLabel(this);
    folder_label_->setObjectName(QStringLiteral("sessionsFolder"));
    folder_label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* choose = new QPushButton(QStringLiteral("Folder..."), this);
    choose->setObjectName(QStringLiteral("sessionsChooseFolder"));
    top->addWidget(folder_label_, 1);
    top->addWidget(choose);
    layout->addLayout(top);

    auto* filters = new QHBoxLayout;
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("sessionsSearch"));
    search_->setPlaceholderText(QStringLiteral("Words in notes, log or name"));
    search_->setClearButtonEnabled(true);
    alarm_ = new QComboBox(this);
    alarm_->setObjectName(QStringLiteral("sessionsAlarm"));
    port_lost_ = new QCheckBox(QStringLiteral("Port lost"), this);
    port_lost_->setObjectName(QStringLiteral("sessionsPortLost"));
    dates_ = new QCheckBox(QStringLiteral("From"), this);
    dates_->setObjectName(QStringLiteral("sessionsDates"));
    from_ = new QDateEdit(QDate::currentDate().addDays(-30), this);
    from_->setObjectName(QStringLiteral("sessionsFrom"));
    to_ = new QDateEdit(QDate::currentDate(), this);
    to_->setObjectName(QStringLiteral("sessionsTo"));
    for (QDateEdit* d : {from_, to_}) {
      d->setCalendarPopup(true);
      d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
      d->setEnabled(false);
    }
    filters->addWidget(search_, 2);
    filters->addWidget(alarm_, 1);
    filters->addWidget(port_lost_);
    filters->addWidget(dates_);
    filters->addWidget(from_);
    filters->addWidget(new QLabel(QStringLiteral("to"), this));
    filters->addWidget(to_);
    layout->addLayout(filters);

    table_ = new QTableWidget(0, COLUMNS, this);
    table_->setObjectName(QStringLiteral("sessionsTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Started"), QStringLiteral("Duration"), QStringLiteral("Frames"),
                                       QStringLiteral("Failures"), QStringLiteral("Alarms"), QStringLiteral("Notes"),
                                       QStringLiteral("Port lost"), QStringLiteral("Port"), QStringLiteral("State"),
                                       QStringLiteral("Recording")});
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSortingEnabled(true);
    table_->setToolTip(QStringLiteral("Click a session to review it"));
    layout->addWidget(table_, 1);

    auto* bottom = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("sessionsProgress"));
    progress_->setRange(0, 1000);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("sessionsStatus"));
    status_->setWordWrap(true);
    report_ = new QPushButton(QStringLiteral("Report..."), this);
    report_->setObjectName(QStringLiteral("sessionsReport"));
    report_->setToolTip(QStringLiteral("The report of the session selected, to hand over: HTML or PDF"));
    report_->setEnabled(false);
    bottom->addWidget(status_, 1);
    bottom->addWidget(progress_);
    bottom->addWidget(report_);
    layout->addLayout(bottom);
    resize(980, 520);
    search_->setFocus();  // the window opens ready to be typed into
    // Enter belongs to the search and the table, never to a button.
    for (QPushButton* b : findChildren<QPushButton*>()) b->setAutoDefault(false);

    connect(choose, &QPushButton::clicked, this, [this] {
      const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Folder of recordings"), folder_);
      if (dir.isEmpty()) return;
      settings().setValue(QString::fromLatin1(FOLDER_KEY), dir);
      start(dir);
    });
    connect(search_, &QLineEdit::textChanged, this, [this] { fill(); });
    // Typed words, then Enter: on to the first session found, which Enter
    // (or a click) opens.
    connect(search_, &QLineEdit::returnPressed, this, [this] {
      if (table_->rowCount() == 0) return;
      table_->setFocus();
      table_->selectRow(0);
    });
    connect(alarm_, &QComboBox::currentIndexChanged, this, [this] { fill(); });
    connect(port_lost_, &QCheckBox::toggled, this, [this] { fill(); });
    connect(dates_, &QCheckBox::toggled, this, [this](bool on) {
      from_->setEnabled(on);
      to_->setEnabled(on);
      fill();
    });
    connect(from_, &QDateEdit::dateChanged, this, [this] { fill(); });
    connect(to_, &QDateEdit::dateChanged, this, [this] { fill(); });
    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) { open_row(row); });
    connect(table_, &QTableWidget::activated, this, [this](const QModelIndex& index) { open_row(index.row()); });
    connect(table_, &QTableWidget::itemSelectionChanged, this,
            [this] { report_->setEnabled(chosen(table_->currentRow()) != nullptr); });
    connect(report_, &QPushButton::clicked, this, [this] {
      if (const SessionRow* r = chosen(table_->currentRow()))
        ask_and_write_report(this, QString::fromStdString(r->path()), say_);
    });
  }

  ~SessionsWindow() override { stop_indexing(); }

  // Indexes `folder` in the background, then lists it.
  void start(const QString& folder) {
    stop_indexing();
    folder_ = folder;
    folder_label_->setText(QDir::toNativeSeparators(folder));
    archive_.reset();
    table_->setRowCount(0);
    progress_->setValue(0);
    progress_->show();
    status_->setText(QStringLiteral("Indexing %1 ...").arg(QDir::toNativeSeparators(folder)));
    stop_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<SessionsWindow> self(this);
    auto stop = stop_;
    const std::string path = folder.toStdString();
    indexer_ = std::thread([self, stop, path] {
      Archive a;
      std::string error;
      IndexOutcome outcome;
      if (!a.open(path, &error)) {
        outcome.failures = 1;
        outcome.problems.push_back(error);
      } else {
        if (!a.note().empty()) outcome.problems.push_back(a.note());
        IndexOutcome o = a.index(
            [self, stop](const IndexProgress& p) {
              if (stop->load()) return;
              const int share = p.files > 0 ? static_cast<int>((p.done + p.share) * 1000.0 / p.files) : 0;
              const QString name = QString::fromStdString(p.current);
              QMetaObject::invokeMethod(
                  self.data(),
                  [self, share, name] {
                    if (!self) return;
                    self->progress_->setValue(share);
                    self->status_->setText(QStringLiteral("Indexing: %1").arg(name));
                  },
                  Qt::QueuedConnection);
            },
            stop.get());
        outcome.problems.insert(outcome.problems.end(), o.problems.begin(), o.problems.end());
        outcome.failures = o.failures;
        outcome.sessions = o.sessions;
      }
      if (stop->load()) return;
      QMetaObject::invokeMethod(
          self.data(), [self, outcome] { if (self) self->indexed(outcome); }, Qt::QueuedConnection);
    });
  }

 private:
  void stop_indexing() {
    if (stop_) stop_->store(true);
    if (indexer_.joinable()) indexer_.join();
  }

  void indexed(const IndexOutcome& outcome) {
    if (indexer_.joinable()) indexer_.join();
    progress_->hide();
    archive_ = std::make_unique<Archive>();
    std::string error;
    if (!archive_->open(folder_.toStdString(), &error)) {
      archive_.reset();
      status_->setText(QString::fromStdString(error));
      say_(QString::fromStdString(error));
      return;
    }
    const QString chosen = alarm_->currentData().toString();
    alarm_->blockSignals(true);
    alarm_->clear();
    alarm_->addItem(QStringLiteral("Any alarm or none"), QString());
    for (const std::string& key : archive_->alarm_keys())
      alarm_->addItem(QStringLiteral("Alarm %1").arg(QString::fromStdString(key)), QString::fromStdString(key));
    alarm_->setCurrentIndex(std::max(0, alarm_->findData(chosen)));
    alarm_->blockSignals(false);
    problems_.clear();
    for (const std::string& p : outcome.problems) problems_ << QString::fromStdString(p);
    for (const QString& p : problems_) log_warning("Sessions: " + p.toStdString());
    fill();
  }

  void fill() {
    if (!archive_) return;
    SessionFilter f;
    f.text = search_->text().toStdString();
    f.alarm = alarm_->currentData().toString().toStdString();
    f.port_lost = port_lost_->isChecked();
    if (dates_->isChecked()) {
      f.from_s = static_cast<double>(from_->date().startOfDay().toSecsSinceEpoch());
      f.to_s = static_cast<double>(to_->date().addDays(1).startOfDay().toSecsSinceEpoch());
    }
    rows_ = archive_->sessions(f);
    table_->setSortingEnabled(false);
    table_->setRowCount(static_cast<int>(rows_.size()));
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
      const SessionRow& r = rows_[static_cast<size_t>(i)];
      auto* started = new QTableWidgetItem(QString::fromStdString(local_time_text(r.started)));
      started->setData(Qt::UserRole, i);  // the row of rows_, whatever the sorting
      table_->setItem(i, STARTED, started);
      table_->setItem(i, DURATION, new QTableWidgetItem(QString::fromStdString(hms_text(r.duration_s))));
      table_->setItem(i, FRAMES, number_item(r.frames));
      table_->setItem(i, FAILURES, number_item(r.failures));
      table_->setItem(i, ALARMS, number_item(r.alarms));
      table_->setItem(i, NOTES, number_item(r.notes));
      table_->setItem(i, LOST, number_item(r.port_losses));
      table_->setItem(i, PORT, new QTableWidgetItem(QString::fromStdString(r.port)));
      const QString state = !r.reachable ? QStringLiteral("not found")
                            : r.live     ? QStringLiteral("live")
                                         : QString::fromStdString(r.problem);
      table_->setItem(i, STATE, new QTableWidgetItem(state));
      auto* name = new QTableWidgetItem(QString::fromStdString(r.recording));
      name->setToolTip(QString::fromStdString(r.path()));
      table_->setItem(i, RECORDING, name);
    }
    table_->setSortingEnabled(true);
    table_->resizeColumnsToContents();
    QString text = QStringLiteral("%1 session%2").arg(rows_.size()).arg(rows_.size() == 1 ? "" : "s");
    if (!problems_.isEmpty()) text += QStringLiteral("; ") + problems_.join(QStringLiteral("; "));
    status_->setText(text);
  }

  // The session on the table's `row` (sorted as shown), or none.
  const SessionRow* chosen(int row) const {
    const QTableWidgetItem* item = row < 0 ? nullptr : table_->item(row, STARTED);
    if (!item) return nullptr;
    const int i = item->data(Qt::UserRole).toInt();
    if (i < 0 || i >= static_cast<int>(rows_.size())) return nullptr;
    return &rows_[static_cast<size_t>(i)];
  }

  void open_row(int row) {
    const SessionRow* chosen_row = chosen(row);
    if (!chosen_row) return;
    const SessionRow& r = *chosen_row;
    // A double-click is one open (its clicks and its activation), never two
    // review windows.
    if (r.path() == last_opened_ && since_open_.isValid() &&
        since_open_.elapsed() < QApplication::doubleClickInterval())
      return;
    last_opened_ = r.path();
    since_open_.start();
    const QString path = QString::fromStdString(r.path());
    if (!r.reachable) {
      say_(QStringLiteral("Not opened: %1 was not found at the last look").arg(path));
      return;
    }
    if (open_) {
      open_(r.path());
    } else if (transport_is_playback()) {
      log_info("Operator: open recording " + r.path() + " (Sessions)");
      replay_request_open(r.path());
      say_(QStringLiteral("Opening %1 ...").arg(path));
    } else if (QProcess::startDetached(QCoreApplication::applicationFilePath(), {path})) {
      say_(QStringLiteral("Review window for %1").arg(path));
    } else {
      say_(QStringLiteral("Cannot start a review window for %1").arg(path));
    }
  }

  std::function<void(const QString&)> say_;
  std::function<void(const std::string&)> open_;
  QLabel* folder_label_ = nullptr;
  QLineEdit* search_ = nullptr;
  QComboBox* alarm_ = nullptr;
  QCheckBox* port_lost_ = nullptr;
  QCheckBox* dates_ = nullptr;
  QDateEdit* from_ = nullptr;
  QDateEdit* to_ = nullptr;
  QTableWidget* table_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* report_ = nullptr;
  std::string last_opened_;
  QElapsedTimer since_open_;
  QString folder_;
  QStringList problems_;
  std::unique_ptr<Archive> archive_;
  std::vector<SessionRow> rows_;
  std::shared_ptr<std::atomic<bool>> stop_;
  std::thread indexer_;
};

}  // namespace

void add_sessions_action(QMainWindow* frame, std::function<void(const QString&)> say,
                         std::function<void(const std::string&)> open) {
  auto* action = new QAction(QStringLiteral("Sessions..."), frame);
  action->setObjectName(QStringLiteral("actionSessions"));
  action->setToolTip(QStringLiteral("Every session of the archive's folder: search, sort, open one for review"));
  QPointer<SessionsWindow>* window = new QPointer<SessionsWindow>();
  QObject::connect(action, &QObject::destroyed, [window] { delete window; });
  QObject::connect(action, &QAction::triggered, frame, [frame, say, open, window] {
    if (!*window) {
      *window = new SessionsWindow(frame, say, open);
      (*window)->start(default_folder());
    }
    (*window)->show();
    (*window)->raise();
    (*window)->activateWindow();
  });
  frame->addAction(action);
}

}  // namespace rt
