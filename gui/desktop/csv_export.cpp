#include "gui/desktop/csv_export.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include "session/session_log.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr int POLL_MS = 100;
constexpr int PROGRESS_STEPS = 1000;

// PATH.csv -> PATH-samples.csv
QString beside(const QString& csv, const QString& what) {
  QString stem = csv;
  if (stem.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)) stem.chop(4);
  return stem + QLatin1Char('-') + what + QStringLiteral(".csv");
}

// The options, asked in one dialog. False when the operator cancels.
bool ask_options(QWidget* parent, const QString& recording, ExportOptions* out) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("csvExportDialog"));
  dialog.setWindowTitle(QStringLiteral("Export CSV"));
  auto* column = new QVBoxLayout(&dialog);
  column->addWidget(new QLabel(QStringLiteral("Export %1 for analysis (columns: docs/csv.md)")
                                   .arg(QFileInfo(recording).fileName())));
  auto* row = new QHBoxLayout;
  auto* path = new QLineEdit(QFileInfo(recording).absolutePath() + QLatin1Char('/') +
                             QFileInfo(recording).completeBaseName() + QStringLiteral(".csv"));
  auto* browse = new QPushButton(QStringLiteral("Browse..."));
  row->addWidget(new QLabel(QStringLiteral("Frames:")));
  row->addWidget(path, 1);
  row->addWidget(browse);
  column->addLayout(row);
  auto* samples = new QCheckBox(QStringLiteral("Fast samples, one row each (FILE-samples.csv)"));
  auto* spectra = new QCheckBox(QStringLiteral("Both spectra at the end (FILE-spectra.csv)"));
  auto* failures = new QCheckBox(QStringLiteral("A row for each failed frame (status, offset)"));
  auto* hex = new QCheckBox(QStringLiteral("A column with the frame's bytes in hex"));
  for (QCheckBox* box : {samples, spectra, failures, hex}) column->addWidget(box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Export"));
  column->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
    const QString chosen = QFileDialog::getSaveFileName(&dialog, QStringLiteral("Export CSV to"), path->text(),
                                                        QStringLiteral("CSV files (*.csv)"));
    if (!chosen.isEmpty()) path->setText(chosen);
  });
  if (dialog.exec() != QDialog::Accepted || path->text().isEmpty()) return false;
  const QString csv = path->text();
  out->frames_path = csv.toStdString();
  if (samples->isChecked()) out->samples_path = beside(csv, QStringLiteral("samples")).toStdString();
  if (spectra->isChecked()) out->spectra_path = beside(csv, QStringLiteral("spectra")).toStdString();
  out->failures = failures->isChecked();
  out->hex = hex->isChecked();
  return true;
}

}  // namespace

CsvExportRun::CsvExportRun(QWidget* parent, QString input, ExportOptions options,
                           std::function<void(const QString&)> say)
    : QObject(parent), parent_(parent), input_(std::move(input)), options_(std::move(options)), say_(std::move(say)) {}

CsvExportRun::~CsvExportRun() {
  cancel_.store(true);
  if (job_.joinable()) job_.join();
}

void CsvExportRun::start() {
  progress_ = new QProgressDialog(QStringLiteral("Exporting %1 ...").arg(QFileInfo(input_).fileName()),
                                  QStringLiteral("Cancel"), 0, PROGRESS_STEPS, parent_);
  progress_->setObjectName(QStringLiteral("csvExportProgress"));
  progress_->setWindowTitle(QStringLiteral("Export CSV"));
  progress_->setAutoClose(false);
  progress_->setAutoReset(false);
  progress_->setMinimumDuration(0);
  progress_->setWindowModality(Qt::WindowModal);
  connect(progress_, &QProgressDialog::canceled, this, [this] { cancel(); });
  progress_->show();
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, [this] { poll(); });
  timer_->start(POLL_MS);
  log_info("CSV export of " + input_.toStdString() + " to " + options_.frames_path + " started");
  job_ = std::thread([this] {
    result_ = export_recording(input_.toStdString(), options_, &cancel_,
                               [this](double share) { share_.store(share); });
    finished_.store(true);
  });
}

void CsvExportRun::cancel() {
  cancel_.store(true);
  if (progress_) progress_->setLabelText(QStringLiteral("Cancelling ..."));
}

void CsvExportRun::poll() {
  if (!finished_.load()) {
    if (!cancel_.load()) progress_->setValue(static_cast<int>(share_.load() * PROGRESS_STEPS));
    return;
  }
  done();
}

void CsvExportRun::done() {
  timer_->stop();
  job_.join();
  progress_->hide();
  progress_->deleteLater();
  progress_ = nullptr;
  QString text;
  if (result_.ok) {
    text = QStringLiteral("CSV export done: %1 rows (%2 frames, %3 failed) to %4")
               .arg(result_.rows).arg(result_.frames).arg(result_.failures)
               .arg(QString::fromStdString(options_.frames_path));
    log_info(text.toStdString());
  } else if (result_.cancelled) {
    text = QStringLiteral("CSV export cancelled: no file written");
    log_info(text.toStdString());
  } else {
    text = QStringLiteral("CSV export failed: %1").arg(QString::fromStdString(result_.error));
    log_error(text.toStdString());
  }
  if (say_) say_(text);
  if (!result_.cancelled) {
    auto* box = new QMessageBox(result_.ok ? QMessageBox::Information : QMessageBox::Critical,
                                QStringLiteral("Export CSV"), text, QMessageBox::Ok, parent_);
    box->setObjectName(QStringLiteral("csvExportResult"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
  }
  deleteLater();
}

CsvExport::CsvExport(QMainWindow* window, QToolBar* bar, std::function<void(const QString&)> say)
    : QObject(window), window_(window), say_(std::move(say)) {
  action_ = bar->addAction(QStringLiteral("Export CSV..."));
  action_->setObjectName(QStringLiteral("actionExportCsv"));
  const bool file = transport_is_playback() && !transport_is_link_replay();
  action_->setEnabled(file);
  action_->setToolTip(file ? QStringLiteral("Export the recording being played as CSV for analysis")
                           : QStringLiteral("Export CSV reads a recording: start vst_gse with a FILE "
                                            "(live, --csv exports the frames as they come)"));
  connect(action_, &QAction::triggered, this, [this] { choose(); });
}

void CsvExport::choose() {
  // The recording being played now (Open recording may have changed it).
  const QString recording = QString::fromStdString(transport_source());
  if (!QFileInfo(recording).isFile()) {
    say_(QStringLiteral("CSV export: %1 is not a file that can be read again").arg(recording));
    return;
  }
  ExportOptions options;
  if (!ask_options(window_, recording, &options)) return;
  (new CsvExportRun(window_, recording, std::move(options), say_))->start();
}

}  // namespace rt
