// The Command switch in the window arms on a first click and sends on a
// second (gui/panel/command_confirm.h), on an injected clock: a click that
// arms moves nothing, one too soon after it is the same click, one within
// the arming moves the switch, and an arming left alone lapses. The
// setting turns the confirmation off, and is remembered.
#include <QAction>
#include <QCheckBox>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gui/layout.h"
#include "gui/panel/command_confirm.h"
#include "runtime/transport.h"
#include "session/session_log.h"

namespace {

class CommandConfirmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::window_settings()->clear();
    rt::reset_log_for_tests();
    rt::transport_reset();  // live: the switch sends
    make();
  }
  void TearDown() override { rt::reset_log_for_tests(); }
  void make() {
    confirm_.reset();
    frame_ = std::make_unique<QMainWindow>();
    auto* form = new QWidget;
    auto* column = new QVBoxLayout(form);
    box_ = new QCheckBox(QStringLiteral("Command"));
    box_->setObjectName(QStringLiteral("PANEL_CMD"));
    column->addWidget(box_);
    frame_->setCentralWidget(form);
    confirm_ = std::make_unique<rt::CommandConfirm>(form, frame_.get(), nullptr, [this] { return t_; });
    QObject::connect(box_, &QCheckBox::clicked, box_, [this] { ++sent_; });
    frame_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
  }
  void click_at(double t) {
    t_ = t;
    QTest::mouseClick(box_, Qt::LeftButton, {}, QPoint(8, box_->height() / 2));  // on the switch itself
  }
  bool logged(const std::string& part) {
    for (const auto& e : rt::log_entries_since(0))
      if (e.text.find(part) != std::string::npos) return true;
    return false;
  }

  double t_ = 100.0;
  int sent_ = 0;
  std::unique_ptr<QMainWindow> frame_;
  QCheckBox* box_ = nullptr;
  std::unique_ptr<rt::CommandConfirm> confirm_;
};

TEST_F(CommandConfirmTest, a_first_click_arms_and_a_second_within_five_seconds_sends) {
  click_at(100.0);
  EXPECT_EQ(sent_, 0) << "armed, nothing sent";
  EXPECT_FALSE(box_->isChecked());
  EXPECT_EQ(box_->text(), "ARMED 5 s");
  EXPECT_TRUE(logged("Operator: Command switch ARMED: click it again within 5 s to send"));
  click_at(100.2);  // a double-click's second half
  EXPECT_EQ(sent_, 0) << "too soon: the same click";
  t_ = 101.5;
  EXPECT_TRUE(QTest::qWaitFor([this] { return box_->text() == "ARMED 4 s"; }, 10000)) << "3.5 s left, in whole seconds";
  click_at(104.9);
  EXPECT_EQ(sent_, 1) << "confirmed within the arming";
  EXPECT_FALSE(logged("disarmed")) << "a confirmed arming did not lapse";
  EXPECT_TRUE(box_->isChecked());
  EXPECT_EQ(box_->text(), "Command");

  // Left alone, an arming lapses: the click after it arms again.
  click_at(200.0);
  t_ = 205.1;
  EXPECT_TRUE(QTest::qWaitFor([this] { return box_->text() == "Command"; }, 10000));
  EXPECT_TRUE(logged("Operator: Command switch disarmed: not confirmed within 5 s, nothing was sent"));
  click_at(205.2);
  EXPECT_EQ(sent_, 1) << "a click after the lapse arms again";
  EXPECT_EQ(box_->text(), "ARMED 5 s");
}

TEST_F(CommandConfirmTest, the_setting_turns_confirmation_off_and_is_remembered) {
  QAction* setting = frame_->findChild<QAction*>(QStringLiteral("actionConfirmCommands"));
  ASSERT_NE(setting, nullptr);
  EXPECT_TRUE(setting->isChecked()) << "on by default";
  setting->trigger();
  click_at(100.0);
  EXPECT_EQ(sent_, 1) << "one click sends";
  make();
  EXPECT_FALSE(frame_->findChild<QAction*>(QStringLiteral("actionConfirmCommands"))->isChecked());
  click_at(300.0);
  EXPECT_EQ(sent_, 2);
}

TEST_F(CommandConfirmTest, in_playback_the_switch_acts_at_once) {
  rt::transport_set_source("recording.dat");
  click_at(100.0);
  EXPECT_EQ(sent_, 1) << "nothing reaches an instrument in playback";
  rt::transport_reset();
}

}  // namespace
