// "Save screenshot" and "Save spectra" in Qt's offscreen platform: each
// writes a time-named file in the working directory and says where; neither
// raises a panel event.
#include <QAction>
#include <QDateTime>
#include <QApplication>
#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "gui/window_fixture.h"
#include "gui/desktop/save_actions.h"
#include "gui/window.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

using testing_extras::open_panel;
using testing_extras::Panel;
using testing_extras::WindowExtras;

TEST_F(WindowExtras, save_screenshot_writes_a_captioned_png_of_the_whole_window_and_says_where) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  panel->model->set_text(PANEL_STATUS, "screenshot test");
  panel->refresh();
  panel->find<QAction>("saveScreenshot")->trigger();
  const auto files = files_like("vst_gse-", ".png");
  ASSERT_EQ(files.size(), 1u);
  const std::string name = std::filesystem::path(files[0]).filename().string();
  EXPECT_EQ(name.size(), std::string("vst_gse-YYYYMMDD-HHMMSS.png").size()) << name;
  const std::string bytes = testing_files::read_text(files[0]);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << "PNG signature";
  QImage image;
  ASSERT_TRUE(image.load(QString::fromStdString(files[0]), "PNG"));
  const QWidget* top = panel->top();
  const qreal ratio = top->devicePixelRatio();
  EXPECT_EQ(image.width(), qRound(top->width() * ratio)) << "the whole window";
  EXPECT_GT(image.height(), qRound(top->height() * ratio)) << "the whole window and a caption below it";
  panel->model->set_title("vst_gse - playback of data/demo.dat");
  panel->refresh();
  const QDateTime when(QDate(2024, 5, 1), QTime(12, 34, 56));
  EXPECT_EQ(rt::snapshot_caption(top, when).toStdString(),
            "vst_gse - playback of data/demo.dat    2024-05-01 12:34:56")
      << "the caption names the source and the time";
  EXPECT_NE(panel->status().indexOf(QString::fromStdString(files[0])), -1)
      << panel->status().toStdString();

  panel->find<QAction>("saveScreenshot")->trigger();  // within the same second
  EXPECT_EQ(files_like("vst_gse-", ".png").size(), 2u) << "a second shot does not overwrite";
  EXPECT_EQ(panel->model->pending_events(), 0u);
}

TEST_F(WindowExtras, save_spectra_is_written_by_the_systems_thread_and_reported) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(10, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  RegisterSpectraExport([](void* text, FILE* out) { std::fputs(static_cast<const char*>(text), out); },
                        const_cast<char*>("spectrum,channel\n48,0\n"));
  panel->find<QAction>("saveSpectra")->trigger();
  EXPECT_TRUE(files_like("vst_gse-spectra-", ".csv").empty()) << "nothing written on the GUI thread";
  EXPECT_NE(panel->status().indexOf("Saving spectra"), -1) << panel->status().toStdString();
  // The system's next poll.
  ASSERT_TRUE(rt::transport_run_spectra_request());
  panel->refresh();
  const auto files = files_like("vst_gse-spectra-", ".csv");
  ASSERT_EQ(files.size(), 1u);
  const std::string text = testing_files::read_text(files[0]);
  EXPECT_EQ(text.rfind("# vst_gse spectra\n# source: playback of " + rec + "\n# saved: ", 0), 0u) << text;
  EXPECT_NE(text.find("\nspectrum,channel\n48,0\n"), std::string::npos) << text;
  EXPECT_EQ(panel->status().toStdString(), "Spectra saved to " + files[0]);
}

}  // namespace
