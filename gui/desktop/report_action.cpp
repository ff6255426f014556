#include "gui/desktop/report_action.h"

#include <QAction>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QMarginsF>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "archive/report.h"
#include "gui/desktop/dialogs.h"
#include "gui/desktop/report_values_dialog.h"
#include "runtime/transport.h"
#include "session/session_log.h"

#ifndef GSE_VERSION
#define GSE_VERSION "0"
#endif

namespace rt {

namespace {

// The charts are drawn into the PDF at this many pixels per SVG unit, so
// that they stay sharp when printed.
constexpr int CHART_SCALE = 3;
// The width a chart is fitted into, in the document's pixels: A4's text
// (about 680 at 96 per inch) less a figure's indent.
constexpr int TEXT_WIDTH_PX = 600;

bool wants_pdf(const QString& path) { return path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive); }

QString failure(const QString& path, const QString& reason) {
  return QStringLiteral("cannot write report %1: %2").arg(path, reason);
}

// Qt's text layout draws no SVG: each of the report's inline <svg> charts
// becomes a picture of it, held by the document as a resource.
QString with_pictures(const QString& html, QTextDocument* doc) {
  QString out;
  qsizetype at = 0;
  int n = 0;
  while (true) {
    const qsizetype open = html.indexOf(QStringLiteral("<svg"), at);
    const qsizetype close = open < 0 ? -1 : html.indexOf(QStringLiteral("</svg>"), open);
    if (close < 0) break;
    const qsizetype end = close + 6;
    QSvgRenderer svg(html.mid(open, end - open).toUtf8());
    const QSize size = svg.defaultSize();
    QImage picture(size * CHART_SCALE, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    svg.render(&painter);
    painter.end();
    const QString name = QStringLiteral("chart-%1.png").arg(n++);
    doc->addResource(QTextDocument::ImageResource, QUrl(name), picture);
    out += html.mid(at, open - at);
    const int width = std::min(size.width(), TEXT_WIDTH_PX);
    const int height = size.width() > 0 ? size.height() * width / size.width() : size.height();
    out += QStringLiteral("<img src=\"%1\" width=\"%2\" height=\"%3\">").arg(name).arg(width).arg(height);
    at = end;
  }
  return out + html.mid(at);
}

// One report being made, on a thread of its own; it deletes itself once
// the outcome is said.
class ReportRun : public QObject {
 public:
  ReportRun(QWidget* parent, QString recording, QString path, std::vector<std::string> values,
            std::function<void(const QString&)> say)
      : QObject(parent), parent_(parent), recording_(std::move(recording)), path_(std::move(path)),
        values_(std::move(values)), say_(std::move(say)) {}
  ~ReportRun() override {
    if (job_.joinable()) job_.join();
  }

  void start() {
    say_(QStringLiteral("Making the report of %1 ...").arg(recording_));
    log_info("Report of " + recording_.toStdString() + " to " + path_.toStdString() + " started");
    job_ = std::thread([this] {
      ReportOptions options;
      options.values = values_;
      options.version = GSE_VERSION;
      const std::string recording = recording_.toStdString();
      if (wants_pdf(path_)) ok_ = make_report(recording, options, &html_, &error_);
      else ok_ = write_report(recording, path_.toStdString(), options, &error_);
      QMetaObject::invokeMethod(this, [this] { done(); }, Qt::QueuedConnection);
    });
  }

 private:
  void done() {
    job_.join();
    QString text;
    if (ok_ && wants_pdf(path_)) ok_ = write_report_pdf(html_, path_, &text);
    else if (!ok_) text = QString::fromStdString(error_);
    if (ok_) {
      text = QStringLiteral("Report of %1 written to %2").arg(recording_, path_);
      log_info(text.toStdString());
    } else {
      text = QStringLiteral("Report not written: %1").arg(text);
      log_error(text.toStdString());
    }
    say_(text);
    auto* box = new QMessageBox(ok_ ? QMessageBox::Information : QMessageBox::Critical, QStringLiteral("Report"),
                                text, QMessageBox::Ok, parent_);
    box->setObjectName(QStringLiteral("reportResult"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    deleteLater();
  }

  QWidget* parent_;
  QString recording_, path_;
  std::vector<std::string> values_;
  std::function<void(const QString&)> say_;
  std::thread job_;
  bool ok_ = false;
  std::string html_, error_;
};

// The session the window shows: the recording played, or live the one
// being written.
QString shown_recording() {
  return QString::fromStdString(transport_is_playback() ? transport_source() : transport_recording());
}

}  // namespace

bool write_report_pdf(const std::string& html, const QString& path, QString* error) {
  // Made in memory first (a report is small), then written in one piece:
  // the PDF writer does not say when its device fails.
  QByteArray pdf;
  {
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setTitle(QStringLiteral("vst_gse report"));
    writer.setCreator(QStringLiteral("vst_gse " GSE_VERSION));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    QTextDocument doc;
    doc.setHtml(with_pictures(QString::fromStdString(html), &doc));
    doc.print(&writer);
  }
  QSaveFile file(path);
  // Unbuffered: a write cut short is followed by one that fails with the
  // system's reason (a full disk).
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
    *error = failure(path, file.errorString());
    return false;
  }
  qint64 done = 0;
  while (done < pdf.size()) {
    const qint64 n = file.write(pdf.constData() + done, pdf.size() - done);
    if (n <= 0) break;
    done += n;
  }
  if (done != pdf.size() || file.error() != QFileDevice::NoError) {
    *error = failure(path, file.errorString());
    file.cancelWriting();
    return false;
  }
  if (!file.commit()) {
    *error = failure(path, file.errorString());
    return false;
  }
  return true;
}

bool write_report_file(const QString& recording, const QString& path, QString* error) {
  ReportOptions options;
  options.values = saved_report_values();
  options.version = GSE_VERSION;
  std::string html, why;
  if (!wants_pdf(path)) {
    if (write_report(recording.toStdString(), path.toStdString(), options, &why)) return true;
    *error = QString::fromStdString(why);
    return false;
  }
  if (!make_report(recording.toStdString(), options, &html, &why)) {
    *error = QString::fromStdString(why);
    return false;
  }
  return write_report_pdf(html, path, error);
}

void ask_and_write_report(QWidget* parent, const QString& recording, std::function<void(const QString&)> say) {
  const QFileInfo info(recording);
  if (recording.isEmpty() || !info.isFile()) {
    const QString text = recording.isEmpty()
                             ? QStringLiteral("No report: this session has no recording file to report on")
                             : QStringLiteral("No report: %1 is not a recording file that can be read again")
                                   .arg(recording);
    log_warning(text.toStdString());
    say(text);
    return;
  }
  std::vector<std::string> values = saved_report_values();
  if (!choose_report_values(parent, info.fileName(), &values)) return;
  QFileDialog dialog(parent, QStringLiteral("Report of %1").arg(info.fileName()), info.absolutePath());
  dialog.setObjectName(QStringLiteral("reportDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  const QString html_filter = QStringLiteral("HTML report, printable (*.html)");
  const QString pdf_filter = QStringLiteral("PDF (*.pdf)");
  dialog.setNameFilters({html_filter, pdf_filter});
  dialog.selectFile(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("-report.html"));
  if (!run_dialog(&dialog, false) || dialog.selectedFiles().isEmpty()) return;
  QString path = dialog.selectedFiles().first();
  // No suffix given: the kind chosen in the dialog's list.
  if (QFileInfo(path).suffix().isEmpty())
    path += dialog.selectedNameFilter() == pdf_filter ? QStringLiteral(".pdf") : QStringLiteral(".html");
  (new ReportRun(parent, info.absoluteFilePath(), path, std::move(values), std::move(say)))->start();
}

void add_report_action(QMainWindow* frame, std::function<void(const QString&)> say) {
  auto* action = new QAction(QStringLiteral("&Report..."), frame);
  action->setObjectName(QStringLiteral("actionReport"));
  action->setToolTip(QStringLiteral("The report of this session, to hand over: HTML or PDF"));
  frame->addAction(action);
  QObject::connect(action, &QAction::triggered, frame,
                   [frame, say = std::move(say)] { ask_and_write_report(frame, shown_recording(), say); });
}

}  // namespace rt
