// "Export CSV..." on the window's toolbar: the recording being played
// exported for analysis (export/export_job.h), with the command line's
// options as checkboxes. The export runs on a thread of its own with a
// reader of its own, never on the GUI's or the system's thread; a progress
// dialog offers Cancel (which leaves no file), and a message says the row
// count, or names the file and the reason it could not be written. Live mode
// has no recording to export: the action is there but disabled. GUI thread.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

#include "export/export_job.h"

class QAction;
class QMainWindow;
class QMessageBox;
class QProgressDialog;
class QTimer;
class QToolBar;
class QWidget;

namespace rt {

// One export in progress, owned by its parent widget; it deletes itself once
// the outcome is shown.
class CsvExportRun : public QObject {
 public:
  CsvExportRun(QWidget* parent, QString input, ExportOptions options,
               std::function<void(const QString&)> say);
  ~CsvExportRun() override;

  void start();
  // What Cancel does.
  void cancel();
  QProgressDialog* progress() const { return progress_; }

 private:
  void poll();
  void done();

  QWidget* parent_;
  QString input_;
  ExportOptions options_;
  std::function<void(const QString&)> say_;
  QProgressDialog* progress_ = nullptr;
  QTimer* timer_ = nullptr;
  std::thread job_;
  std::atomic<bool> cancel_{false};
  std::atomic<bool> finished_{false};
  std::atomic<double> share_{0.0};
  ExportResult result_;
};

class CsvExport : public QObject {
 public:
  // Adds the action (objectName actionExportCsv) to `bar`. `say` shows a
  // line in the status bar and the log.
  CsvExport(QMainWindow* window, QToolBar* bar, std::function<void(const QString&)> say);

 private:
  void choose();

  QMainWindow* window_;
  QAction* action_;
  std::function<void(const QString&)> say_;
};

}  // namespace rt
