// The menu bar, the keyboard shortcuts and the quit question, in the real
// window under Qt's offscreen platform.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/window_fixture.h"
#include "runtime/model.h"
#include "gui/desktop/dialogs.h"
#include "gui/desktop/menus.h"
#include "gui/desktop/quit_confirm.h"
#include "session/session_log.h"

namespace {

using testing_extras::open_panel;
using testing_extras::WindowExtras;

// Records every dialog and gives one answer to all.
struct Answers {
  explicit Answers(bool yes) {
    rt::set_dialog_answerer([this, yes](QDialog* d) {
      seen.push_back(d->objectName().toStdString());
      texts.push_back(rt::dialog_text(d).toStdString());
      return yes;
    });
  }
  ~Answers() { rt::set_dialog_answerer(nullptr); }
  std::vector<std::string> seen, texts;
};

std::vector<std::string> menu_names(QMenu* menu) {
  std::vector<std::string> names;
  for (const QAction* a : menu->actions())
    if (!a->isSeparator() && !a->objectName().isEmpty()) names.push_back(a->objectName().toStdString());
  return names;
}

QMainWindow* frame_of(const testing_extras::Panel& p) { return static_cast<QMainWindow*>(p.top()); }

void make_active(QWidget* top) {
  QApplication::setActiveWindow(top);
  top->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(top));
}

TEST_F(WindowExtras, menus_offer_every_window_action_by_name) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  QMenuBar* bar = frame_of(*panel)->menuBar();
  auto* file = bar->findChild<QMenu*>("fileMenu");
  ASSERT_TRUE(file);
  // Export CSV... appears once its feature exists.
  std::vector<std::string> want_file{"actionOpenRecording", "actionSessions", "actionConnectTo", "actionConfirmCommands", "actionPublish", "actionStopPublishing",
                                     "actionNote", "saveScreenshot", "saveSpectra", "actionReport", "actionQuit"};
  std::vector<std::string> got_file;
  for (const std::string& n : menu_names(file))
    if (n != "actionExportCsv") got_file.push_back(n);
  EXPECT_EQ(got_file, want_file);
  auto* play = bar->findChild<QMenu*>("playbackMenu");
  ASSERT_TRUE(play);
  EXPECT_EQ(menu_names(play), (std::vector<std::string>{"transportPause", "actionStepBack", "actionStepForward",
                                                        "transportRestart", "transportLoop", "actionNextMark",
                                                        "actionPreviousMark"}));
  auto* view = bar->findChild<QMenu*>("viewMenuBar");
  ASSERT_TRUE(view);
  const auto view_names = menu_names(view);
  for (const char* n : {"resetLayout", "actionShowLog", "actionFullScreen"})
    EXPECT_NE(std::find(view_names.begin(), view_names.end(), n), view_names.end()) << n;
  auto* help = bar->findChild<QMenu*>("helpMenu");
  ASSERT_TRUE(help);
  EXPECT_EQ(menu_names(help), (std::vector<std::string>{"actionShortcuts", "actionOperatorGuide", "actionAbout"}));

  Answers answers(true);
  panel->find<QAction>("actionAbout")->trigger();
  ASSERT_EQ(answers.seen, std::vector<std::string>{"aboutBox"});
  EXPECT_NE(answers.texts[0].find("0.1.0"), std::string::npos) << answers.texts[0];
  EXPECT_NE(answers.texts[0].find("Licence"), std::string::npos) << answers.texts[0];
  panel->find<QAction>("actionShortcuts")->trigger();
  ASSERT_EQ(answers.seen.size(), 2u);
  EXPECT_NE(answers.texts[1].find("Ctrl+Q\tQuit"), std::string::npos) << answers.texts[1];
}

TEST_F(WindowExtras, live_mode_has_no_playback_menu) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  EXPECT_EQ(frame_of(*panel)->menuBar()->findChild<QMenu*>("playbackMenu"), nullptr);
  // A picture for a person to look at: the File menu open.
  auto* file = frame_of(*panel)->menuBar()->findChild<QMenu*>("fileMenu");
  file->popup(panel->top()->mapToGlobal(QPoint(0, 0)));
  ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
  const std::string out = testing_files::bin_dir() + "/desktop_file_menu.png";
  EXPECT_TRUE(file->grab().save(QString::fromStdString(out))) << out;
  file->hide();
}

TEST_F(WindowExtras, each_shortcut_triggers_its_action) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  auto panel = open_panel(rec);
  ASSERT_TRUE(panel);
  make_active(panel->top());
  struct Case {
    const char* action;
    QKeyCombination key;
  };
  const Case cases[] = {
      {"transportPause", QKeyCombination(Qt::Key_Space)},
      {"actionStepForward", QKeyCombination(Qt::Key_Right)},
      {"actionStepBack", QKeyCombination(Qt::Key_Left)},
      {"actionOpenRecording", QKeyCombination(Qt::CTRL, Qt::Key_O)},
      {"saveScreenshot", QKeyCombination(Qt::CTRL, Qt::Key_S)},
      {"actionQuit", QKeyCombination(Qt::CTRL, Qt::Key_Q)},
      {"actionShowLog", QKeyCombination(Qt::CTRL, Qt::Key_L)},
      {"actionFullScreen", QKeyCombination(Qt::Key_F11)},
  };
  for (const Case& c : cases) {
    QAction* a = panel->find<QAction>(c.action);
    ASSERT_TRUE(a) << c.action;
    // The step actions follow the transport's state; here only the key
    // matters.
    a->setEnabled(true);
    // Only that the key reaches the action: what the action does is tested
    // with the action itself (a file dialog or a quit would end this test).
    QObject::disconnect(a, &QAction::triggered, nullptr, nullptr);
    QObject::disconnect(a, &QAction::toggled, nullptr, nullptr);
    QSignalSpy spy(a, &QAction::triggered);
    QTest::keyClick(panel->top(), c.key.key(), c.key.keyboardModifiers());
    EXPECT_EQ(spy.count(), 1) << c.action << " by " << QKeySequence(c.key).toString().toStdString();
  }
}

TEST_F(WindowExtras, f11_enters_full_screen_and_escape_leaves_it) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  make_active(panel->top());
  QTest::keyClick(panel->top(), Qt::Key_F11);
  EXPECT_TRUE(panel->top()->windowState() & Qt::WindowFullScreen);
  QTest::keyClick(panel->top(), Qt::Key_Escape);
  EXPECT_FALSE(panel->top()->windowState() & Qt::WindowFullScreen);
  EXPECT_FALSE(panel->find<QAction>("actionFullScreen")->isChecked());
}

// Closing the window, Quit and the panel's Quit button ask in live mode;
// No keeps the session, Yes hands the quit to the system. Playback never
// asks.
TEST_F(WindowExtras, quit_asks_in_live_mode_only) {
  const std::string rec = dir_.file("rec.dat");
  testing_files::write_file(rec, std::vector<uint8_t>(1000, 0));
  struct Case {
    const char* name;
    std::string source;
    bool answer;
    bool asked;
    bool quits;
  };
  const Case cases[] = {
      {"live, operator says no", "", false, true, false},
      {"live, operator says yes", "", true, true, true},
      {"playback", rec, false, false, true},
  };
  for (const Case& c : cases) {
    for (const char* how : {"close", "actionQuit", "PANEL_QUIT"}) {
      auto panel = open_panel(c.source);
      ASSERT_TRUE(panel) << c.name;
      Answers answers(c.answer);
      const int quit_id = panel->model->find("PANEL_QUIT")->id;
      if (std::string(how) == "close") panel->top()->close();
      else if (std::string(how) == "actionQuit") panel->find<QAction>("actionQuit")->trigger();
      else panel->find<QAbstractButton>("PANEL_QUIT")->click();
      EXPECT_EQ(answers.seen.size(), c.asked ? 1u : 0u) << c.name << " by " << how;
      if (c.asked && !answers.texts.empty()) {
        EXPECT_NE(answers.texts[0].find(rt::QUIT_QUESTION), std::string::npos) << answers.texts[0];
      }
      int id = 0;
      const bool posted = panel->model->take_event(&id);
      EXPECT_EQ(posted, c.quits) << c.name << " by " << how;
      if (posted) {
        EXPECT_EQ(id, quit_id) << c.name;
      }
      EXPECT_TRUE(panel->top()->isVisible()) << c.name << ": the system ends the window, not the close";
    }
  }
}

// SIGTERM while the quit question is open: the system tears the window down
// under the question's own event loop. The question closes, nothing is
// posted or logged as the operator's, and the window goes once the code
// that asked has returned, not under it.
TEST_F(WindowExtras, a_teardown_during_the_quit_question_closes_it_and_the_window_outlives_it) {
  auto panel = open_panel("");
  ASSERT_TRUE(panel);
  rt::reset_log_for_tests();
  QPointer<QWidget> top = panel->top();
  bool reached_after = false;
  rt::set_dialog_answerer([&](QDialog*) {
    rt::destroy_panel_window(panel->window);  // the teardown, on the GUI thread
    panel->window = nullptr;
    reached_after = !top.isNull();
    return true;  // an answer the teardown must override
  });
  panel->find<QAbstractButton>("PANEL_QUIT")->click();
  rt::set_dialog_answerer(nullptr);
  EXPECT_TRUE(reached_after) << "the window was deleted under the question";
  ASSERT_FALSE(top.isNull()) << "deleted while its code was still running";
  EXPECT_FALSE(top->isVisible());
  int id = 0;
  EXPECT_FALSE(panel->model->take_event(&id)) << "the closed question is no operator's yes";
  for (const auto& e : rt::log_entries_since(0)) EXPECT_EQ(e.text.find("quit cancelled"), std::string::npos) << e.text;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(top.isNull()) << "the window goes once the loop is back at its level";
}

}  // namespace
