// Housekeeping limits in the window: a slot out of its caution or alarm range
// takes each colour and a log entry, with hysteresis, and the status bar
// counts the slots out of limits.
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/panel.h"
#include "runtime/model.h"
#include "gui/panel/display_look.h"
#include "gui/theme.h"
#include "gui/window.h"
#include "session/session_log.h"
#include "gui/panel_fixture.h"

namespace {

using testing_window::open_panel;

TEST(LimitLook, a_slot_out_of_caution_then_alarm_is_coloured_and_logged_with_hysteresis) {
  rt::reset_log_for_tests();
  auto panel = open_panel();
  ASSERT_TRUE(panel);
  auto* hk16 = panel->widget<QLineEdit>("PANEL_HK16");  // -20..50 caution, -40..70 alarm
  auto* count = panel->widget<QLabel>("limitCount");
  ASSERT_NE(count, nullptr);
  EXPECT_NE(hk16->toolTip().indexOf("caution outside -20.00..50.00 °C, alarm outside -40.00..70.00 °C"), -1)
      << hk16->toolTip().toStdString();
  const rt::LimitColours colours = rt::limit_colours();
  struct Step {
    double celsius;
    const char* look;    // "normal", "caution", "alarm"
    const char* logged;  // "" when nothing is logged
    const char* counted;
  };
  const Step steps[] = {
      {20.0, "normal", "", "Out of limits: none"},
      {55.0, "caution", "HK16 in caution: 55.00 °C, above the caution limit 50.00 °C", "Out of limits: 1"},
      {75.0, "alarm", "HK16 in alarm: 75.00 °C, above the alarm limit 70.00 °C", "Out of limits: 1 (1 in alarm)"},
      {69.9, "alarm", "", "Out of limits: 1 (1 in alarm)"},  // within the hysteresis
      {60.0, "caution", "HK16 back from alarm, in caution: 60.00 °C, above the caution limit 50.00 °C",
       "Out of limits: 1"},
      {49.8, "caution", "", "Out of limits: 1"},
      {40.0, "normal", "HK16 back within limits: 40.00 °C", "Out of limits: none"},
  };
  uint64_t seen = 0;
  for (const Step& s : steps) {
    panel->model->set_double(PANEL_HK16, s.celsius);
    rt::refresh_panel_window(panel->window);
    const std::string look = s.look;
    const QString sheet = hk16->styleSheet();
    if (look == "normal") {
      EXPECT_TRUE(sheet.isEmpty()) << s.celsius << ": " << sheet.toStdString();
    } else {
      const QColor bg = look == "alarm" ? colours.alarm_background : colours.caution_background;
      EXPECT_NE(sheet.indexOf(bg.name()), -1) << s.celsius << ": " << sheet.toStdString();
      EXPECT_NE(hk16->toolTip().indexOf(look == "alarm" ? "ALARM" : "CAUTION"), -1) << s.celsius;
    }
    // The level's own entries (the alarm list and the sound log theirs).
    std::vector<rt::LogEntry> entries = rt::log_entries_since(seen);
    if (!entries.empty()) seen = entries.back().serial;
    std::erase_if(entries, [](const rt::LogEntry& e) { return e.text.rfind("HK16 ", 0) != 0; });
    if (*s.logged == '\0') {
      EXPECT_TRUE(entries.empty()) << s.celsius << ": " << entries.front().text;
    } else {
      ASSERT_EQ(entries.size(), 1u) << s.celsius;
      EXPECT_EQ(entries[0].text, s.logged) << s.celsius;
      EXPECT_EQ(entries[0].severity, look == "alarm"     ? rt::Severity::Error
                                     : look == "caution" ? rt::Severity::Warning
                                                         : rt::Severity::Info)
          << s.celsius;
    }
    EXPECT_EQ(count->text().toStdString(), s.counted) << s.celsius;
  }
}

// A display out of limits that goes stale keeps its level as a border, takes
// a level judged meanwhile, and shows the full colours again once fresh.
TEST(DisplayLook, the_limit_level_and_the_stale_look_compose_over_the_displays_own_sheet) {
  ASSERT_FALSE(rt::theme_is_dark()) << "the worked colours are the light theme's";
  QLineEdit display;
  const QString own = QStringLiteral("QLineEdit { padding: 1px; }");
  display.setStyleSheet(own);
  struct Step {
    const char* name;
    rt::LimitLevel level;
    bool stale;
    const char* added;  // to the display's own sheet
  };
  const Step steps[] = {
      {"alarm", rt::LimitLevel::Alarm, false,
       " QLineEdit { background: #c6161c; color: #ffffff; border: 1px solid #ffffff; font-weight: bold; }"},
      {"alarm, stale", rt::LimitLevel::Alarm, true, " QLineEdit { color: #9a9a9a; border: 3px solid #c6161c; font-weight: bold; }"},
      {"caution while stale", rt::LimitLevel::Caution, true,
       " QLineEdit { color: #9a9a9a; border: 3px solid #ffbf40; font-weight: bold; }"},
      {"caution, fresh again", rt::LimitLevel::Caution, false,
       " QLineEdit { background: #ffbf40; color: #3a2500; border: 1px solid #3a2500; font-weight: bold; }"},
      {"normal, stale", rt::LimitLevel::Normal, true, " QLineEdit { color: #9a9a9a; }"},
      {"normal", rt::LimitLevel::Normal, false, ""},
  };
  for (const Step& s : steps) {
    rt::show_limit_level(&display, s.level);
    rt::show_stale(&display, s.stale);
    EXPECT_EQ(display.styleSheet().toStdString(), (own + QString::fromUtf8(s.added)).toStdString()) << s.name;
  }
  // A change of theme draws the level in the new theme's colours.
  rt::show_limit_level(&display, rt::LimitLevel::Alarm);
  rt::apply_theme(rt::Theme::Dark);
  rt::restyle_display(&display);
  const std::string dark = display.styleSheet().toStdString();
  rt::apply_theme(rt::Theme::Light);
  EXPECT_NE(dark.find("background: #d32f2f;"), std::string::npos) << dark;
}

}  // namespace
