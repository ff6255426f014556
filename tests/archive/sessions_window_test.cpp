// File > Sessions... in a real (offscreen) window: the folder indexed in the
// background fills the table, the filters narrow it, a column sorts it, and
// one click hands the session's recording over for review.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QSettings>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include "campaign.h"
#include "gui/desktop/sessions_window.h"

namespace {

using campaign::Campaign;

constexpr int WAIT_MS = 60000;  // generous: the machine may be loaded

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
}

}  // namespace
