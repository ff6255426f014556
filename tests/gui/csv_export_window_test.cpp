// Export CSV from the window, in Qt's offscreen platform: the action is
// there for a recording, the export runs beside the GUI with a progress
// dialog, Cancel leaves no file, and the outcome is said with the row count
// or the file that could not be written.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <string>

#include "gui/window_fixture.h"
#include "gui/desktop/csv_export.h"
#include "support/files.h"
#include "support/frames.h"

namespace {

using testing_extras::open_panel;
using testing_extras::WindowExtras;

// Runs the GUI's events until `done` holds (or a minute has passed).
template <class F>
bool wait_for(F done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::vector<uint8_t> frames(int n) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) testing_frames::append(out, testing_frames::FrameBuilder().counter(i).vec());
  return out;
}

TEST_F(WindowExtras, export_csv_is_offered_for_a_recording_and_not_live) {
  testing_files::write_file(dir_.file("rec.dat"), frames(3));
  auto playback = open_panel(dir_.file("rec.dat"));
  ASSERT_TRUE(playback);
  QAction* action = playback->find<QAction>("actionExportCsv");
  ASSERT_NE(action, nullptr);
  EXPECT_TRUE(action->isEnabled());
  playback.reset();
  auto live = open_panel("");
  ASSERT_TRUE(live);
  EXPECT_FALSE(live->find<QAction>("actionExportCsv")->isEnabled());
}

TEST_F(WindowExtras, export_csv_says_the_rows_or_names_the_file_it_could_not_write) {
  testing_files::write_file(dir_.file("rec.dat"), frames(5));
  auto panel = open_panel(dir_.file("rec.dat"));
  ASSERT_TRUE(panel);
  QString said;
  rt::ExportOptions ok;
  ok.frames_path = dir_.file("out.csv");
  ok.samples_path = dir_.file("out-samples.csv");
  (new rt::CsvExportRun(panel->top(), QString::fromStdString(dir_.file("rec.dat")), ok,
                        [&](const QString& s) { said = s; }))->start();
  ASSERT_TRUE(wait_for([&] { return !said.isEmpty(); }));
  EXPECT_TRUE(said.contains(QStringLiteral("405 rows"))) << said.toStdString() << ": 5 frames, 400 samples";
  QMessageBox* box = nullptr;
  ASSERT_TRUE(wait_for([&] { return (box = panel->top()->findChild<QMessageBox*>("csvExportResult")) != nullptr; }));
  EXPECT_EQ(box->icon(), QMessageBox::Information);
  box->close();
  EXPECT_TRUE(std::filesystem::exists(dir_.file("out.csv")));

  said.clear();
  rt::ExportOptions bad;
  bad.frames_path = dir_.file("no/such/dir/out.csv");
  (new rt::CsvExportRun(panel->top(), QString::fromStdString(dir_.file("rec.dat")), bad,
                        [&](const QString& s) { said = s; }))->start();
  ASSERT_TRUE(wait_for([&] { return !said.isEmpty(); }));
  EXPECT_TRUE(said.contains(QString::fromStdString(bad.frames_path))) << said.toStdString();
  ASSERT_TRUE(wait_for([&] {
    box = panel->top()->findChild<QMessageBox*>("csvExportResult");
    return box != nullptr && box->icon() == QMessageBox::Critical;
  }));
  box->close();
}

TEST_F(WindowExtras, cancel_leaves_no_file) {
  // The input is a FIFO: the export waits on it until the test has pressed
  // Cancel, so the order does not depend on the machine's speed.
  const std::string fifo = dir_.file("rec.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto panel = open_panel(dir_.file("rec.dat"));
  ASSERT_TRUE(panel);
  QString said;
  rt::ExportOptions options;
  options.frames_path = dir_.file("out.csv");
  options.samples_path = dir_.file("samples.csv");
  auto* run = new rt::CsvExportRun(panel->top(), QString::fromStdString(fifo), options,
                                   [&](const QString& s) { said = s; });
  run->start();
  QProgressDialog* progress = panel->top()->findChild<QProgressDialog*>("csvExportProgress");
  ASSERT_NE(progress, nullptr);
  QPushButton* cancel = progress->findChild<QPushButton*>();
  ASSERT_NE(cancel, nullptr);
  cancel->click();
  // A cancelled export may close the FIFO before the frames are written: the
  // write then fails (as in the program, SIGPIPE is ignored), no matter.
  signal(SIGPIPE, SIG_IGN);
  {
    std::ofstream writer(fifo, std::ios::binary);  // the export reads on now
    const auto bytes = frames(50);
    writer.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ASSERT_TRUE(wait_for([&] { return !said.isEmpty(); }));
  EXPECT_TRUE(said.contains(QStringLiteral("cancelled"))) << said.toStdString();
  for (const char* name : {"out.csv", "out.csv.part", "samples.csv", "samples.csv.part"})
    EXPECT_FALSE(std::filesystem::exists(dir_.file(name))) << name;
  EXPECT_EQ(panel->top()->findChild<QMessageBox*>("csvExportResult"), nullptr) << "a cancel needs no dialog";
}

}  // namespace
