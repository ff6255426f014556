// File > Sessions... in a real (offscreen) window: the folder indexed in the
// background fills the table, the filters narrow it, a column sorts it, and
// one click hands the session's recording over for review; its Report...
// and File > Report... write the session's report as HTML or PDF, and say
// a failure with the file and the reason; the values dialog before them
// is ticked from the settings' set and keeps the operator's choice.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include "archive/report.h"
#include "campaign.h"
#include "gui/desktop/dialogs.h"
#include "gui/desktop/report_action.h"
#include "gui/desktop/report_values_dialog.h"
#include "gui/layout.h"
#include "gui/desktop/sessions_window.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace {

using campaign::Campaign;
namespace fs = std::filesystem;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded

// Answers the values dialog with `values` (as it stands: accepted), each
// file dialog with the next of `files`, and waits for the report's
// outcome: its text ("" when none came).
class ReportAnswers {
 public:
  explicit ReportAnswers(QWidget* top) : top_(top) {
    rt::set_dialog_answerer([this](QDialog* d) {
      if (d->objectName() == QStringLiteral("reportValuesDialog")) return values ? values(d) : true;
      auto* dialog = qobject_cast<QFileDialog*>(d);
      if (!dialog || files_.isEmpty()) return false;
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(files_.takeFirst());
      return true;
    });
  }
  ~ReportAnswers() { rt::set_dialog_answerer({}); }

  std::function<bool(QDialog*)> values;

  QString run(const std::string& file, const std::function<void()>& ask) {
    files_ << QString::fromStdString(file);
    ask();
    QMessageBox* box = nullptr;
    const bool shown = QTest::qWaitFor(
        [&] { return (box = top_->findChild<QMessageBox*>(QStringLiteral("reportResult"))) != nullptr; }, WAIT_MS);
    if (!shown) return {};
    const QString text = box->text();
    delete box;
    return text;
  }

 private:
  QWidget* top_;
  QStringList files_;
};

// A PDF's text, as poppler reads it.
std::string pdf_text(const std::string& pdf) {
  const auto r = testing_process::run("/usr/bin/pdftotext", {pdf, "-"}, fs::path(pdf).parent_path().string());
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

TEST(SessionsWindow, lists_filters_sorts_and_opens_a_session_with_one_click) {
  Campaign c;
  QSettings(QStringLiteral("vst_gse"), QStringLiteral("vst_gse"))
      .setValue(QStringLiteral("archive/folder"), QString::fromStdString(c.dir.path()));
  QMainWindow frame;
  std::vector<std::string> opened;
  QString said;
  rt::add_sessions_action(&frame, [&](const QString& s) { said = s; },
                          [&](const std::string& path) { opened.push_back(path); });
  frame.show();
  auto* action = frame.findChild<QAction*>(QStringLiteral("actionSessions"));
  ASSERT_TRUE(action);
  action->trigger();
  auto* table = frame.findChild<QTableWidget*>(QStringLiteral("sessionsTable"));
  ASSERT_TRUE(table);
  ASSERT_TRUE(QTest::qWaitFor([&] { return table->rowCount() == 4; }, WAIT_MS)) << table->rowCount();

  // By frames, most first: 598, 200, 100, 50.
  table->sortItems(2, Qt::DescendingOrder);
  EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("598"));
  EXPECT_EQ(table->item(3, 2)->text(), QStringLiteral("50"));

  auto* alarm = frame.findChild<QComboBox*>(QStringLiteral("sessionsAlarm"));
  ASSERT_TRUE(alarm);
  const int hk16 = alarm->findData(QStringLiteral("HK16"));
  ASSERT_GE(hk16, 0) << "the archive's alarms are offered";
  alarm->setCurrentIndex(hk16);
  ASSERT_EQ(table->rowCount(), 1);
  EXPECT_EQ(table->item(0, 9)->text(), QStringLiteral("flight/60020000.dat"));
  alarm->setCurrentIndex(0);
  auto* search = frame.findChild<QLineEdit*>(QStringLiteral("sessionsSearch"));
  search->setText(QStringLiteral("no such words anywhere"));
  EXPECT_EQ(table->rowCount(), 0);
  search->setText(QStringLiteral("cut-down"));
  ASSERT_EQ(table->rowCount(), 1);
  search->clear();
  frame.findChild<QCheckBox*>(QStringLiteral("sessionsPortLost"))->setChecked(true);
  ASSERT_EQ(table->rowCount(), 1);

  // One click on the row opens it.
  const QRect cell = table->visualItemRect(table->item(0, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], c.recorded);

  // Its report, as a PDF: the alarm rows and the note in its text.
  const std::string pdf = c.dir.file("flight.pdf");
  ReportAnswers answers(&frame);
  auto* report = frame.findChild<QPushButton*>(QStringLiteral("sessionsReport"));
  ASSERT_TRUE(report && report->isEnabled());
  EXPECT_EQ(answers.run(pdf, [&] { QTest::mouseClick(report, Qt::LeftButton); }).toStdString(),
            "Report of " + c.recorded + " written to " + pdf);
  EXPECT_EQ(testing_files::read_text(pdf).substr(0, 5), "%PDF-");
  const std::string text = pdf_text(pdf);
  EXPECT_NE(text.find("HK16 out of limits"), std::string::npos) << text;
  EXPECT_NE(text.find("10:00:10.0"), std::string::npos) << "raised at T0 + 10 s\n" << text;
  EXPECT_NE(text.find("balloon cut-down commanded"), std::string::npos) << text;
}

TEST(Report, from_the_window_is_of_the_session_shown_and_a_failure_names_the_file_and_reason) {
  Campaign c;
  rt::transport_set_source(c.plain);  // the window plays it
  QMainWindow frame;
  QString said;
  rt::add_report_action(&frame, [&](const QString& s) { said = s; });
  frame.show();
  ReportAnswers answers(&frame);
  auto* action = frame.findChild<QAction*>(QStringLiteral("actionReport"));
  ASSERT_TRUE(action);
  // No suffix: the kind chosen in the dialog, HTML.
  EXPECT_EQ(answers.run(c.dir.file("pass"), [&] { action->trigger(); }).toStdString(),
            "Report of " + c.plain + " written to " + c.dir.file("pass.html"));
  EXPECT_NE(testing_files::read_text(c.dir.file("pass.html")).find("<p>No alarm.</p>"), std::string::npos);

  const std::string nowhere = c.dir.file("gone/pass.pdf");
  const QString failed = answers.run(nowhere, [&] { action->trigger(); });
  EXPECT_EQ(failed.toStdString(), "Report not written: cannot write report " + nowhere + ": No such file or directory");
  EXPECT_EQ(said, failed) << "in the status bar";
  bool logged = false;
  for (const rt::LogEntry& e : rt::log_entries_since(0)) logged |= e.text == failed.toStdString();
  EXPECT_TRUE(logged) << "and in the log";

  // A full disk while the PDF is written: said, and nothing left behind.
  std::string html, why;
  ASSERT_TRUE(rt::make_report(c.plain, rt::ReportOptions{}, &html, &why)) << why;
  const std::string full = c.dir.file("full.pdf");
  QString error;
  {
    testing_process::FileSizeLimit limit(4096);
    EXPECT_FALSE(rt::write_report_pdf(html, QString::fromStdString(full), &error));
  }
  EXPECT_EQ(error.toStdString(), "cannot write report " + full + ": File too large");
  EXPECT_FALSE(fs::exists(full));
  rt::transport_set_source("");
}

// The keys ticked in the values dialog's list, in its order.
std::vector<std::string> ticked_keys(QDialog* dialog) {
  std::vector<std::string> keys;
  auto* list = dialog->findChild<QListWidget*>(QStringLiteral("reportValuesList"));
  for (int i = 0; list && i < list->count(); ++i)
    if (list->item(i)->checkState() == Qt::Checked)
      keys.push_back(list->item(i)->data(Qt::UserRole).toString().toStdString());
  return keys;
}

// Puts the list's current row on `key` and presses Space there.
void toggle_by_keyboard(QDialog* dialog, const QString& key) {
  auto* list = dialog->findChild<QListWidget*>(QStringLiteral("reportValuesList"));
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->data(Qt::UserRole).toString() == key) list->setCurrentRow(i);
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Space);
}

TEST(Report, values_dialog_is_ticked_from_the_settings_and_keeps_the_choice_asked_to) {
  Campaign c;
  rt::transport_set_source(c.plain);
  // A set kept earlier, one of its keys no longer a value.
  rt::window_settings()->setValue(QStringLiteral("report/values"), QStringList{"HK99", "HK08"});
  QMainWindow frame;
  rt::add_report_action(&frame, [](const QString&) {});
  frame.show();
  ReportAnswers answers(&frame);
  auto* action = frame.findChild<QAction*>(QStringLiteral("actionReport"));
  ASSERT_TRUE(action);

  std::vector<std::string> first_ticks;
  QSize shown;
  answers.values = [&](QDialog* d) {
    first_ticks = ticked_keys(d);
    shown = d->sizeHint();
    // Everything by keyboard: HK16 ticked, HK08 unticked, the choice kept.
    toggle_by_keyboard(d, QStringLiteral("HK16"));
    toggle_by_keyboard(d, QStringLiteral("HK08"));
    auto* keep = d->findChild<QCheckBox*>(QStringLiteral("reportValuesKeep"));
    keep->setFocus();
    QTest::keyClick(keep, Qt::Key_Space);
    return true;
  };
  const std::string file = c.dir.file("hk16.html");
  EXPECT_EQ(answers.run(file, [&] { action->trigger(); }).toStdString(),
            "Report of " + c.plain + " written to " + file);
  EXPECT_EQ(first_ticks, std::vector<std::string>{"HK08"}) << "HK99 left out";
  EXPECT_LE(shown.width(), 1366);
  EXPECT_LE(shown.height(), 600) << "room for the title bar and the panel on a 1366x768 screen";
  const std::string html = testing_files::read_text(file);
  EXPECT_NE(html.find("<figcaption>HK16: "), std::string::npos);
  EXPECT_EQ(html.find("<figcaption>HK08: "), std::string::npos);
  EXPECT_EQ(html.find("<figcaption>HK00: "), std::string::npos);
  EXPECT_EQ(rt::window_settings()->value(QStringLiteral("report/values")).toStringList(), QStringList{"HK16"});
  EXPECT_EQ(rt::saved_report_values(), std::vector<std::string>{"HK16"});

  // Next time it is ticked from the kept set; the built-in set is a button
  // away; nothing ticked is asked again; Cancel asks for no file.
  std::vector<std::string> second_ticks, built_in;
  int asked = 0;
  bool error_shown = false;
  answers.values = [&](QDialog* d) {
    if (++asked == 1) {
      second_ticks = ticked_keys(d);
      QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("reportValuesBuiltIn")), Qt::LeftButton);
      built_in = ticked_keys(d);
      for (const std::string& key : built_in) toggle_by_keyboard(d, QString::fromStdString(key));
      return true;
    }
    error_shown = d->findChild<QLabel*>(QStringLiteral("reportValuesError"))->isVisibleTo(d);
    return false;
  };
  action->trigger();  // the dialogs are answered before it returns
  EXPECT_EQ(second_ticks, std::vector<std::string>{"HK16"});
  EXPECT_EQ(built_in, (std::vector<std::string>{"HK00", "HK08", "HK16", "HK20"}));
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(error_shown) << "Tick at least one value.";
  EXPECT_FALSE(frame.findChild<QMessageBox*>(QStringLiteral("reportResult"))) << "no report made";

  size_t said = 0;
  for (const rt::LogEntry& e : rt::log_entries_since(0))
    said += e.text.find("no value HK99 in the frames") != std::string::npos;
  EXPECT_EQ(said, 1u) << "said once, however often the set is read";
  rt::transport_set_source("");
}

}  // namespace
