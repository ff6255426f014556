// The session log pane on a real X desktop (Qt's xcb platform on Xvfb, with
// openbox): each severity's line, as the X server shows it, reads at a text
// contrast of at least 4.5:1 against the pane's background, in the light and
// dark themes and in the system's own look, also after a change of theme.
// The contrast is measured on the screen's pixels: per line, the glyph pixel
// farthest from the background against that background.
#include <QApplication>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "gui/station/log_pane.h"
#include "gui/theme.h"
#include "session/session_log.h"
#include "support/desktop.h"

namespace {

using testing_desktop::contrast;

// The colour most pixels of `image` have.
QRgb background_of(const QImage& image) {
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y)];
  QRgb most = 0;
  int best = -1;
  for (const auto& [rgb, n] : count)
    if (n > best) best = n, most = rgb;
  return most;
}

// The contrast of each line of the pane as shown on the screen.
std::vector<double> line_contrasts(QPlainTextEdit* text) {
  QWidget* view = text->viewport();
  const QPoint at = view->mapToGlobal(QPoint(0, 0));
  const QImage shown =
      view->screen()->grabWindow(0, at.x(), at.y(), view->width(), view->height()).toImage();
  const QColor background(background_of(shown));
  std::vector<double> out;
  for (QTextBlock block = text->document()->begin(); block.isValid(); block = block.next()) {
    const QRect line = text->cursorRect(QTextCursor(block));
    double best = 1.0;
    for (int y = std::max(0, line.top()); y <= std::min(shown.height() - 1, line.bottom()); ++y)
      for (int x = 0; x < shown.width(); ++x) best = std::max(best, contrast(QColor(shown.pixel(x, y)), background));
    out.push_back(best);
  }
  return out;
}

class LogContrast : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_log_for_tests();
    window_ = std::make_unique<QMainWindow>();
    window_->resize(900, 500);
    pane_ = std::make_unique<rt::LogPane>(window_.get());
    pane_->show_action()->setChecked(true);
    rt::log_info("start-up: an INFO line");
    rt::log_warning("COM1 err: checksum failure (a WARN line)");
    rt::log_error("link: no frames (an ERROR line)");
    pane_->poll();
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    text_ = window_->findChild<QPlainTextEdit*>(QStringLiteral("logText"));
    ASSERT_NE(text_, nullptr);
  }
  void TearDown() override {
    pane_.reset();
    window_.reset();
    rt::apply_theme(rt::Theme::System);
  }
  void expect_readable(const std::string& name) {
    QCoreApplication::processEvents();
    // Painted and handed to the X server now, before the server's pixels
    // are read back on the same connection.
    window_->repaint();
    const std::vector<double> lines = line_contrasts(text_);
    ASSERT_EQ(lines.size(), 3u) << name;
    const char* const severity[] = {"INFO", "WARN", "ERROR"};
    for (size_t i = 0; i < lines.size(); ++i)
      EXPECT_GE(lines[i], 4.5) << name << ": the " << severity[i] << " line";
  }

  std::unique_ptr<QMainWindow> window_;
  std::unique_ptr<rt::LogPane> pane_;
  QPlainTextEdit* text_ = nullptr;
};

TEST_F(LogContrast, every_severity_reads_in_each_theme_and_after_a_change_of_theme) {
  for (rt::Theme theme : {rt::Theme::System, rt::Theme::Light, rt::Theme::Dark, rt::Theme::Light}) {
    rt::apply_theme(theme);
    pane_->restyle();
    expect_readable(rt::theme_name(theme).toStdString());
  }
}

}  // namespace

// The test shows its windows on a desktop of its own. Listing the tests
// (ctest's discovery) needs none.
int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::string(argv[i]).rfind("--gtest_list_tests", 0) == 0;
  std::unique_ptr<testing_desktop::Desktop> desktop;
  if (listing) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  } else {
    desktop = std::make_unique<testing_desktop::Desktop>(1366, 768);
    qputenv("DISPLAY", desktop->display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
  }
  int status = 0;
  {
    QApplication app(argc, argv);
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
