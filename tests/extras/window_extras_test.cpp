// The window's operator extras in Qt's offscreen platform: the playback
// transport, "Save screenshot", "Save spectra" and the recording state in
// the status bar. None of them raises a panel event.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/panel.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "runtime/qt/window.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"

namespace {

using testing_files::TempDir;

struct Panel {
  std::unique_ptr<rt::PanelModel> model;
  rt::PanelWindow* window = nullptr;
  ~Panel() { rt::destroy_panel_window(window); }

  QWidget* top() const { return rt::panel_widget(window); }
  template <class T>
  T* find(const char* name) const {
    return top()->findChild<T*>(name);
  }
  QString status() const { return find<QStatusBar>("statusBar")->currentMessage(); }
  void refresh() const {
    rt::refresh_panel_window(window);
    QCoreApplication::processEvents();
  }
};

// A shown window; `source` is the playback file ("" for live mode).
std::unique_ptr<Panel> open_panel(const std::string& source) {
  rt::transport_reset();
  rt::transport_set_source(source);
  auto panel = std::make_unique<Panel>();
  const std::string file = testing_files::source_dir() + "/ui/gse.uir";
  rt::PanelLayout layout;
  std::string error;
  if (!rt::read_panel_file(file, PANEL, &layout, &error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  panel->model = std::make_unique<rt::PanelModel>(std::move(layout));
  panel->window = rt::create_panel_window(*panel->model, file, &error);
  if (!panel->window) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  panel->model->set_visible(true);
  rt::show_panel_window(panel->window);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(panel->top()));
  panel->refresh();
  return panel;
}

// Runs each test in a fresh working directory (snapshots land there).
class WindowExtras : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir_.path()));
  }
  void TearDown() override {
    QDir::setCurrent(old_);
    rt::transport_reset();
  }
  std::vector<std::string> files_like(const std::string& prefix, const std::string& suffix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
      const std::string name = e.path().filename().string();
      if (name.rfind(prefix, 0) == 0 && name.size() > suffix.size() &&
          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(e.path().string());
    }
    return out;
  }
  TempDir dir_;
  QString old_;
};

TEST_F(WindowExtras, playback_shows_the_transport_and_live_mode_hides_it) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  struct Case {
    const char* name;
    std::string source;
    bool transport;
  };
  const Case cases[] = {{"playback", rec, true}, {"live", "", false}};
  for (const Case& c : cases) {
    auto panel = open_panel(c.source);
    ASSERT_TRUE(panel) << c.name;
    for (const char* name : {"transportPause", "saveScreenshot", "saveSpectra"})
      ASSERT_NE(panel->find<QAction>(name), nullptr) << c.name << ": " << name;
    EXPECT_EQ(panel->find<QAction>("transportPause")->isVisible(), c.transport) << c.name;
    EXPECT_EQ(panel->find<QComboBox>("transportSpeed")->isVisible(), c.transport) << c.name;
    EXPECT_EQ(panel->find<QProgressBar>("transportPosition")->isVisible(), c.transport) << c.name;
    EXPECT_TRUE(panel->find<QAction>("saveScreenshot")->isVisible()) << c.name;
    EXPECT_TRUE(panel->find<QAction>("saveSpectra")->isVisible()) << c.name;
    EXPECT_EQ(panel->find<QLabel>("notRecordingBanner")->isVisible(), !c.transport)
        << c.name << ": live mode here has no recording";
  }
}

TEST_F(WindowExtras, pause_and_speed_set_the_transport_and_raise_no_event) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QAction* pause = panel->find<QAction>("transportPause");
  pause->trigger();
  EXPECT_TRUE(rt::transport_paused());
  EXPECT_EQ(pause->text(), "Resume");
  pause->trigger();
  EXPECT_FALSE(rt::transport_paused());
  EXPECT_EQ(pause->text(), "Pause");

  QComboBox* speed = panel->find<QComboBox>("transportSpeed");
  struct Case {
    const char* label;
    double speed;
  };
  const Case cases[] = {{"2x", 2}, {"5x", 5}, {"10x", 10}, {"as fast as possible", 0}, {"1x", 1}};
  for (const Case& c : cases) {
    const int index = speed->findText(c.label);
    ASSERT_GE(index, 0) << c.label;
    speed->setCurrentIndex(index);
    EXPECT_EQ(rt::transport_speed(), c.speed) << c.label;
  }
  EXPECT_EQ(panel->model->pending_events(), 0u) << "the transport raises no panel event";
}

TEST_F(WindowExtras, a_starting_speed_off_the_list_is_offered_and_selected) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(10, 0));
  rt::transport_reset();
  rt::transport_set_speed(3.0);  // --speed 3
  rt::transport_set_source(rec);
  auto panel = std::make_unique<Panel>();
  const std::string file = testing_files::source_dir() + "/ui/gse.uir";
  rt::PanelLayout layout;
  std::string error;
  ASSERT_TRUE(rt::read_panel_file(file, PANEL, &layout, &error));
  panel->model = std::make_unique<rt::PanelModel>(std::move(layout));
  panel->window = rt::create_panel_window(*panel->model, file, &error);
  ASSERT_TRUE(panel->window) << error;
  EXPECT_EQ(panel->find<QComboBox>("transportSpeed")->currentText(), "3x");
  EXPECT_EQ(rt::transport_speed(), 3.0);
}

TEST_F(WindowExtras, the_position_bar_follows_the_bytes_consumed) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(2000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QProgressBar* bar = panel->find<QProgressBar>("transportPosition");
  rt::transport_input_at(500);  // the input stream's position
  panel->refresh();
  EXPECT_EQ(bar->value(), bar->maximum() * 500 / 2000);
  EXPECT_NE(bar->text().indexOf("500 of 2,000 bytes"), -1) << bar->text().toStdString();
  rt::transport_input_at(2000);  // the reader's last short read takes the rest
  rt::transport_end_of_input();
  panel->refresh();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_NE(bar->text().indexOf("100.0 %"), -1) << bar->text().toStdString();
}

TEST_F(WindowExtras, the_position_bar_counts_bytes_of_a_pipe_until_its_end_gives_the_size) {
  auto panel = open_panel("-");
  ASSERT_TRUE(panel);
  QProgressBar* bar = panel->find<QProgressBar>("transportPosition");
  rt::transport_input_opened(0);  // standard input: size not known
  rt::transport_input_at(700);
  panel->refresh();
  EXPECT_NE(bar->text().indexOf("700 bytes (size not known)"), -1) << bar->text().toStdString();
  rt::transport_end_of_input();
  panel->refresh();
  EXPECT_NE(bar->text().indexOf("700 of 700 bytes (100.0 %)"), -1) << bar->text().toStdString();
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(WindowExtras, save_screenshot_writes_a_png_of_the_panel_and_says_where) {
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
  const QWidget* form = rt::panel_form(panel->window);
  EXPECT_EQ(image.size(), form->size() * form->devicePixelRatio()) << "the panel alone, without the bars";
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

TEST_F(WindowExtras, live_mode_shows_the_recording_growing_or_not_recording) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  QLabel* label = panel->find<QLabel>("recordingStatus");
  ASSERT_NE(label, nullptr);
  EXPECT_NE(label->text().indexOf("NOT RECORDING"), -1) << label->text().toStdString();
  EXPECT_NE(label->styleSheet().indexOf("#c00000"), -1) << "in red";
  EXPECT_TRUE(label->isVisible());
  QLabel* banner = panel->find<QLabel>("notRecordingBanner");
  ASSERT_NE(banner, nullptr);
  EXPECT_TRUE(banner->isVisible()) << "a banner across the toolbar too";

  const std::string rec = "4123456.dat";  // relative, as the program names it
  testing_files::write_file(dir_.file(rec), std::vector<uint8_t>(1234, 0));
  rt::transport_set_recording(rec);  // what SetPanelAttribute passes on
  for (int i = 0; i < 20; ++i) panel->refresh();
  EXPECT_EQ(label->text().toStdString(), "Recording 4123456.dat: 1,234 bytes");
  EXPECT_EQ(label->styleSheet().indexOf("#c00000"), -1);
  EXPECT_FALSE(banner->isVisible());
  {
    std::ofstream grow(dir_.file(rec), std::ios::app | std::ios::binary);
    grow << std::string(1000, 'x');
  }
  for (int i = 0; i < 20; ++i) panel->refresh();
  EXPECT_EQ(label->text().toStdString(), "Recording 4123456.dat: 2,234 bytes") << "it grows visibly";
}

TEST_F(WindowExtras, live_mode_shows_why_it_is_not_recording_and_the_bytes_missing) {
  const std::string rec = "4123456.dat";
  testing_files::write_file(dir_.file(rec), std::vector<uint8_t>(1000, 0));
  struct Case {
    const char* name;
    std::string path, failure;
    int64_t missing;
    std::string label;  // the status bar's text
    bool banner;
  };
  const Case cases[] = {
      {"cannot be created", "", "cannot create recording file 4123456.dat: Is a directory", 0,
       "NOT RECORDING: cannot create recording file 4123456.dat: Is a directory", true},
      {"disk full", rec, "cannot write 4123456.dat: No space left on device", 0,
       "NOT RECORDING: cannot write 4123456.dat: No space left on device", true},
      {"written again after a loss", rec, "", 1234, "Recording 4123456.dat: 1,000 bytes (1,234 bytes missing)",
       false},
  };
  for (const Case& c : cases) {
    auto panel = open_panel("");
    ASSERT_TRUE(panel) << c.name;
    rt::transport_set_recording(c.path);
    rt::transport_set_recording_failure(c.failure);
    rt::transport_set_recording_missing(c.missing);
    for (int i = 0; i < 20; ++i) panel->refresh();
    QLabel* label = panel->find<QLabel>("recordingStatus");
    QLabel* banner = panel->find<QLabel>("notRecordingBanner");
    EXPECT_EQ(label->text().toStdString(), c.label) << c.name;
    EXPECT_EQ(banner->isVisible(), c.banner) << c.name;
    if (c.banner) {
      EXPECT_EQ(banner->text().toStdString(), c.label) << c.name << ": the banner gives the reason too";
    }
  }
}

// Pictures for a person to look at: the whole window with its toolbar and
// status bar, in paused playback and in live mode without a recording
// (bin/window_extras_playback.png, bin/window_extras_live.png).
TEST_F(WindowExtras, grabs_the_whole_window_with_its_bars) {
  const std::string rec = dir_.file("demo.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(36000, 0));
  struct Case {
    const char* name;
    std::string source;
  };
  const Case cases[] = {{"playback", rec}, {"live", ""}};
  for (const Case& c : cases) {
    auto panel = open_panel(c.source);
    ASSERT_TRUE(panel) << c.name;
    panel->model->set_text(PANEL_STATUS, " ");
    if (!c.source.empty()) {
      rt::transport_input_at(60 * 237);
      panel->find<QAction>("transportPause")->trigger();
      rt::transport_post_message("Screenshot saved to /home/op/vst_gse-20240501-101500.png");
    }
    panel->refresh();
    const QImage image = panel->top()->grab().toImage();
    EXPECT_LE(image.height(), 950) << c.name;
    const std::string out = testing_files::bin_dir() + "/window_extras_" + c.name + ".png";
    EXPECT_TRUE(image.save(QString::fromStdString(out))) << out;
  }
}

}  // namespace
