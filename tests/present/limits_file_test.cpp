// The user limits file: its text read and written back exactly, refused
// whole at each kind of fault, and, through LoadPanel, laid over the panel
// file's limits slot by slot, changed and restored with the log saying so.
#include "present/limits_file.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cmath>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "runtime/model.h"
#include "runtime/testing.h"
#include "runtime/ui.h"
#include "runtime/user_limits.h"
#include "session/outcome.h"
#include "session/session_log.h"
#include "support/files.h"
#include "ui/panel.h"

namespace {

void write_text(const std::string& path, const std::string& text) {
  testing_files::write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool is_hk(std::string_view label) { return label == "HK00" || label == "HK16" || label == "HKRAW"; }

rt::LimitRange range(double low, double high) { return {low, high}; }

TEST(LimitsFile, what_is_written_reads_back_exactly) {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<rt::SlotLimits> slots(3);
  slots[0].label = "HK16";
  slots[0].limits.caution = range(-20.0, 45.5);
  slots[0].limits.alarm = range(-273.15, 70.0);
  slots[1].label = "HK00";
  slots[1].limits.alarm = range(0.05, inf);  // an open end, no caution
  slots[1].limits.hysteresis = 0.001;
  slots[1].limits.enabled = false;
  slots[2].label = "HKRAW";
  slots[2].limits.caution = range(-inf, 1e-5);
  slots[2].limits.alarm = range(-inf, 0.1 + 0.2);  // 0.30000000000000004
  slots[2].limits.hysteresis = 0.0;                // none: a value comes back at the limit
  const std::string text = rt::format_limits_file(slots);
  EXPECT_NE(text.find("HK16 caution=-20..45.5 alarm=-273.15..70 hysteresis=default enabled=yes\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("HK00 caution=none alarm=0.05.. hysteresis=0.001 enabled=no\n"), std::string::npos) << text;
  EXPECT_NE(text.find("HKRAW caution=..1e-05 alarm=..0.30000000000000004 hysteresis=0 enabled=yes\n"),
            std::string::npos) << text;
  // The same file with CR LF line ends, as a Windows editor saves it.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& file : {text, crlf}) {
    std::vector<rt::SlotLimits> back;
    rt::LimitsFileFault fault;
    ASSERT_TRUE(rt::parse_limits_file(file, is_hk, &back, &fault)) << fault.line << ": " << fault.reason;
    ASSERT_EQ(back.size(), slots.size());
    for (size_t i = 0; i < slots.size(); ++i) {
      EXPECT_EQ(back[i].label, slots[i].label);
      EXPECT_TRUE(back[i].limits == slots[i].limits) << slots[i].label;
    }
  }
}

TEST(LimitsFile, a_file_with_any_fault_is_refused_with_its_line_and_reason) {
  const std::string ok = "HK00 caution=0.2..9.8 alarm=0.05..9.95 hysteresis=default enabled=yes\n";
  struct Case {
    std::string text;
    int line;
    const char* reason;
  };
  const Case cases[] = {
      {"# a comment\nHK99 caution=none alarm=none hysteresis=default enabled=yes\n", 2, "\"HK99\" is not a slot"},
      {ok + "HK16 caution=none alarm=none enabled=yes\n", 2, "HK16: hysteresis= is missing"},
      {"HK16 caution=none alarm=none hysteresis=default enabled=yes colour=red\n", 1, "\"colour=red\" is not one of"},
      {"HK16 caution=none caution=none alarm=none hysteresis=default enabled=yes\n", 1, "caution is given twice"},
      {"HK16 caution=a..5 alarm=none hysteresis=default enabled=yes\n", 1, "range \"a..5\" is not LOW..HIGH"},
      {"HK16 caution=..inf alarm=none hysteresis=default enabled=yes\n", 1, "range \"..inf\" is not LOW..HIGH"},
      {"HK16 caution=0x10..0x20 alarm=none hysteresis=default enabled=yes\n", 1, "range \"0x10..0x20\" is not"},
      {"HK16 caution=5..1 alarm=none hysteresis=default enabled=yes\n", 1, "low end above its high end"},
      {"HK16 caution=5..5 alarm=none hysteresis=default enabled=yes\n", 1, "low end must be below its high end"},
      {"HK16 caution=-50..50 alarm=-40..70 hysteresis=default enabled=yes\n", 1, "caution range must lie inside"},
      {"HK16 caution=none alarm=none hysteresis=-1 enabled=yes\n", 1, "neither a number 0 or more nor default"},
      {"HK16 caution=0..10 alarm=none hysteresis=5 enabled=yes\n", 1, "less than half the narrowest range"},
      {"HK16 caution=none alarm=none hysteresis=default enabled=maybe\n", 1, "neither yes nor no"},
      {ok + "\n" + ok, 3, "HK00 is given twice"},
      {ok + std::string("HK16 \0", 6) + "\n", 2, "NUL byte"},
      {ok + "# " + std::string(rt::LIMITS_LINE_MAX, 'x') + "\n", 2, "longer than 4096 bytes"},
      {std::string(rt::LIMITS_FILE_MAX + 1, '#'), 0, "not a limits file"},
  };
  for (const Case& c : cases) {
    std::vector<rt::SlotLimits> slots;
    rt::LimitsFileFault fault;
    EXPECT_FALSE(rt::parse_limits_file(c.text, is_hk, &slots, &fault)) << c.reason;
    EXPECT_EQ(fault.line, c.line) << c.reason;
    EXPECT_NE(fault.reason.find(c.reason), std::string::npos) << "wanted \"" << c.reason << "\", got: " << fault.reason;
    EXPECT_TRUE(slots.empty()) << c.reason;
  }
}

// The real panel, loaded with a user limits file.
class UserLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::reset_log_for_tests();
    rt::reset_outcome_for_tests();
  }
  void TearDown() override {
    if (panel_ > 0) DiscardPanel(panel_);
    rt::reset_ui_for_tests();
    rt::reset_log_for_tests();
    rt::reset_outcome_for_tests();
  }
  rt::PanelModel& load(const std::string& path) {
    rt::set_user_limits_file(path, true);
    panel_ = LoadPanel(0, "gse.uir", PANEL);
    EXPECT_GT(panel_, 0) << PanelErrorText();
    return *rt::current_model();
  }
  static const rt::PanelModel::LimitSlot& slot(const rt::PanelModel& m, const std::string& label) {
    static std::vector<rt::PanelModel::LimitSlot> slots;
    slots = m.limit_slots();
    for (const auto& s : slots)
      if (s.label == label) return s;
    throw std::runtime_error("no slot " + label);
  }
  static bool logged(const std::string& text) {
    for (const auto& e : rt::log_entries_since(0))
      if (e.text.find(text) != std::string::npos) return true;
    return false;
  }
  testing_files::TempDir dir_;
  int panel_ = 0;
};

TEST_F(UserLimits, the_file_overrides_slot_by_slot_and_each_change_is_applied_logged_and_written) {
  const std::string path = dir_.file("limits.txt");
  write_text(path,
                            "HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=yes\n"
                            "HK00 caution=0.2..9.8 alarm=0.05..9.95 hysteresis=default enabled=no\n");
  rt::PanelModel& m = load(path);
  EXPECT_EQ(slot(m, "HK16").limits.caution->high, 40.0);
  EXPECT_EQ(slot(m, "HK17").limits.caution->high, 50.0) << "a slot the file leaves keeps the panel file's";
  m.set_double(PANEL_HK16, 45.0);
  m.set_double(PANEL_HK00, 9.99);
  EXPECT_EQ(m.out_of_limits(), 1) << "HK16 in caution by the file; HK00 disabled";
  EXPECT_TRUE(logged("limits of HK16 from " + path + ": caution=-10..40"));

  std::string error;
  ASSERT_TRUE(rt::change_limits(m, PANEL_HK16, slot(m, "HK16").limits, &error)) << error;
  EXPECT_FALSE(logged("limits of HK16 changed")) << "the same limits again change nothing";

  rt::Limits hk17 = slot(m, "HK17").limits;
  hk17.caution = rt::LimitRange{-20.0, 30.0};
  m.set_double(PANEL_HK17, 35.0);
  ASSERT_TRUE(rt::change_limits(m, PANEL_HK17, hk17, &error)) << error;
  EXPECT_EQ(m.out_of_limits(), 2) << "judged again at once";
  EXPECT_TRUE(logged("limits of HK17 changed by the operator: caution=-20..50 alarm=-40..70 hysteresis=default "
                     "enabled=yes -> caution=-20..30 alarm=-40..70 hysteresis=default enabled=yes"));
  std::string text = testing_files::read_text(path);
  for (const char* line : {"\nHK00 caution=0.2..9.8 alarm=0.05..9.95 hysteresis=default enabled=no\n",
                           "\nHK16 caution=-10..40 ", "\nHK17 caution=-20..30 "})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;

  rt::Limits bad = hk17;
  bad.caution = rt::LimitRange{-50.0, 30.0};
  EXPECT_FALSE(rt::change_limits(m, PANEL_HK17, bad, &error));
  EXPECT_EQ(error, "HK17: the caution range must lie inside the alarm range");
  EXPECT_EQ(slot(m, "HK17").limits.caution->low, -20.0) << "not applied";

  ASSERT_TRUE(rt::restore_default_limits(m, &error)) << error;
  EXPECT_EQ(slot(m, "HK16").limits.caution->high, 50.0);
  EXPECT_EQ(m.out_of_limits(), 1) << "HK00 at 9.99 V is out of the panel file's limits";
  text = testing_files::read_text(path);
  EXPECT_EQ(text.find("\nHK"), std::string::npos) << text;
  EXPECT_FALSE(logged("was changed by another program")) << "its own writes are not another program's";

  // Restore defaults is about every slot, also after another program wrote.
  ASSERT_TRUE(rt::change_limits(m, PANEL_HK17, hk17, &error)) << error;
  write_text(path, testing_files::read_text(path) + "HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=yes\n");
  ASSERT_TRUE(rt::restore_default_limits(m, &error)) << error;
  EXPECT_EQ(slot(m, "HK16").limits.caution->high, 50.0);
  EXPECT_EQ(slot(m, "HK17").limits.caution->high, 50.0);
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_OK);
}

TEST_F(UserLimits, a_malformed_file_is_refused_whole_and_the_panel_files_limits_stay) {
  const std::string first = "HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=yes\n";
  struct Case {
    std::string name, text, reason;
  };
  const Case cases[] = {
      {"unknown slot", first + "HK77 caution=none alarm=none hysteresis=default enabled=yes\n",
       "line 2: \"HK77\" is not a slot"},
      {"not a number", first + "HK17 caution=-20..5O alarm=none hysteresis=default enabled=yes\n",
       "line 2: HK17: range \"-20..5O\" is not LOW..HIGH"},
      {"caution outside alarm", first + "HK17 caution=-20..80 alarm=-40..70 hysteresis=default enabled=yes\n",
       "line 2: HK17: the caution range must lie inside the alarm range"},
#if defined(_WIN32)
      {"a folder", "", "not a regular file"},  // the kind of file is not told there
#else
      {"a folder", "", "a directory is at that name, not a regular file"},
#endif
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string path = dir_.file(c.name);
    if (c.text.empty()) std::filesystem::create_directory(path);
    else write_text(path, c.text);
    rt::PanelModel& m = load(path);
    for (const auto& s : m.limit_slots()) EXPECT_TRUE(s.limits == s.defaults) << c.name << ": " << s.label;
    EXPECT_TRUE(logged("limits file " + path + " refused: " + c.reason)) << c.name;
    EXPECT_TRUE(logged("; the panel file's limits are used")) << c.name;
    EXPECT_EQ(rt::user_limits_refusal().find(c.reason), 0u) << c.name << ": " << rt::user_limits_refusal();
    EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_LIMITS_REFUSED) << c.name;
    if (c.text.empty()) continue;
    // Nothing to restore: the refused file is left as it is.
    std::string error;
    ASSERT_TRUE(rt::restore_default_limits(m, &error)) << c.name << ": " << error;
    EXPECT_EQ(testing_files::read_text(path), c.text) << c.name;
    // A change keeps the refused file beside the new one.
    rt::Limits l = slot(m, "HK20").limits;
    l.enabled = false;
    ASSERT_TRUE(rt::change_limits(m, PANEL_HK20, l, &error)) << c.name << ": " << error;
    EXPECT_EQ(testing_files::read_text(path + ".refused"), c.text) << c.name;
    EXPECT_NE(testing_files::read_text(path).find("\nHK20 "), std::string::npos) << c.name;
    DiscardPanel(panel_);
    panel_ = 0;
  }
}

#if !defined(_WIN32)
TEST_F(UserLimits, a_save_never_writes_through_what_lies_at_the_new_files_name) {
  // A FIFO at FILE.new froze the window (its open waits for a reader); a
  // link there wrote the limits into the file it points at.
  const std::string path = dir_.file("limits.txt");
  const std::string victim = dir_.file("victim.txt");
  write_text(victim, "keep me\n");
  ASSERT_EQ(mkfifo((path + ".new").c_str(), 0600), 0);
  ASSERT_EQ(symlink(victim.c_str(), (path + ".new1").c_str()), 0);
  rt::PanelModel& m = load(path);
  rt::Limits l = slot(m, "HK20").limits;
  l.enabled = false;
  std::string error;
  auto saved = std::async(std::launch::async, [&] { return rt::change_limits(m, PANEL_HK20, l, &error); });
  if (saved.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ::close(::open((path + ".new").c_str(), O_RDONLY | O_NONBLOCK));  // lets the stuck open go on
    FAIL() << "the save waits on the FIFO at " << path << ".new";
  }
  EXPECT_TRUE(saved.get()) << error;
  EXPECT_NE(testing_files::read_text(path).find("\nHK20 "), std::string::npos);
  EXPECT_EQ(testing_files::read_text(victim), "keep me\n");
  EXPECT_TRUE(std::filesystem::is_fifo(path + ".new"));
  EXPECT_FALSE(std::filesystem::exists(path + ".new2")) << "the name used is renamed onto the file";

  // A file where its folder should be: that reason, not a hunt for a free name.
  const std::string under = victim + "/limits.txt";
  rt::set_user_limits_file(under, true);
  l.enabled = true;
  EXPECT_FALSE(rt::change_limits(m, PANEL_HK20, l, &error));
  EXPECT_EQ(error, "cannot write limits file " + under + ": " + under + ".new: Not a directory; the change is in force but not written");
}
#endif

TEST_F(UserLimits, a_file_changed_by_another_station_is_taken_in_or_refused_never_overwritten) {
  const std::string path = dir_.file("limits.txt");
  const std::string hk16 = "HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=yes\n";
  write_text(path, hk16);
  rt::PanelModel& m = load(path);
  // The other station sets HK17 and HK16 off; this one changes HK20.
  write_text(path, "HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=no\n"
                   "HK17 caution=-20..30 alarm=-40..70 hysteresis=default enabled=yes\n");
  rt::Limits l = slot(m, "HK20").limits;
  l.enabled = false;
  std::string error;
  ASSERT_TRUE(rt::change_limits(m, PANEL_HK20, l, &error)) << error;
  EXPECT_FALSE(slot(m, "HK16").limits.enabled) << "taken in";
  EXPECT_EQ(slot(m, "HK17").limits.caution->high, 30.0) << "taken in";
  const std::string text = testing_files::read_text(path);
  for (const char* line : {"HK16 caution=-10..40 alarm=-40..70 hysteresis=default enabled=no\n",
                           "HK17 caution=-20..30 ", "HK20 caution=-20..50 alarm=-40..70 hysteresis=default enabled=no\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  EXPECT_TRUE(logged("limits file " + path + " was changed by another program since this station read it"));
  EXPECT_TRUE(logged("limits of HK17 from " + path + " (changed there meanwhile): caution=-20..50 "));
  EXPECT_FALSE(logged("limits of HK18 from")) << "a slot neither side changed";

  // Changed again, into a file this station would refuse: left as it is.
  const std::string theirs = "HK21 caution=-20..5O alarm=none hysteresis=default enabled=yes\n";
  write_text(path, theirs);
  l.enabled = true;
  EXPECT_FALSE(rt::change_limits(m, PANEL_HK20, l, &error));
  EXPECT_EQ(error, "limits file " + path +
                       " was changed by another program since this station read it, and is refused (line 1: HK21: "
                       "range \"-20..5O\" is not LOW..HIGH (one end may be left out)); the change is in force but not written");
  EXPECT_TRUE(slot(m, "HK20").limits.enabled) << "in force";
  EXPECT_EQ(testing_files::read_text(path), theirs);
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_OUTPUT_FAILED);
}

}  // namespace
