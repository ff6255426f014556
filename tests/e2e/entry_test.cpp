// Program entry through the built binary: mode choice, start-up failures
// with their message lines and exit statuses, and the recording file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>

#include "app/entry.h"
#include "e2e_support.h"

namespace {

using testing_files::TempDir;
using testing_process::run;
using testing_process::RunResult;
using testing_process::vst_gse;

long long now_s() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch()).count();
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

RunResult run_in(const TempDir& dir, const std::vector<std::string>& args) {
  return run(vst_gse(), args, dir.path(), 60.0, e2e::program_env());
}

struct NameCase {
  const char* what;
  int year, yday, hour, min;
  const char* name;
};

TEST(RecordingName, IsYearDigitDayIndexHourMinute) {
  const NameCase cases[] = {
      {"the example of the format", 2008, 212, 18, 34, "82121834.dat"},
      {"day index below 10 and early hour, padded", 2010, 5, 3, 7, "00050307.dat"},
      {"day index below 100, midnight", 2019, 45, 0, 0, "90450000.dat"},
      {"last day of a leap year, last minute", 2024, 365, 23, 59, "43652359.dat"},
      {"first day of the year", 2031, 0, 12, 0, "10001200.dat"},
  };
  for (const auto& c : cases) {
    std::tm t{};
    t.tm_year = c.year - 1900;
    t.tm_yday = c.yday;
    t.tm_hour = c.hour;
    t.tm_min = c.min;
    char out[16];
    make_recording_name(t, out);
    EXPECT_STREQ(out, c.name) << c.what;
  }
}

TEST(PlaybackStart, MissingFileReportsThePathAndExits1WithoutRecording) {
  // Headless and with the (offscreen) window alike.
  const std::vector<std::vector<std::string>> arg_sets = {
      {"--headless", "missing.dat"},
      {"missing.dat"},
  };
  for (const auto& args : arg_sets) {
    TempDir dir;
    RunResult r = run_in(dir, args);
    std::string what = args.size() == 2 ? "headless" : "with window";
    EXPECT_EQ(r.exit_code, 1) << what << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "Cannot open input file missing.dat\n") << what;
    EXPECT_TRUE(files_in(dir.path()).empty()) << what << ": playback must create no recording";
  }
}

TEST(PlaybackStart, WithoutADisplayTheInputIsCheckedFirstThenThePanelIsRefused) {
  const std::vector<std::string> no_display = {"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};
  TempDir dir;
  RunResult missing = run(vst_gse(), {"missing.dat"}, dir.path(), 60.0, no_display);
  EXPECT_EQ(missing.exit_code, 1) << "stderr: " << missing.err;
  EXPECT_EQ(missing.out, "Cannot open input file missing.dat\n");

  testing_files::write_file(dir.file("rec.dat"), e2e::frames(3));
  RunResult r = run(vst_gse(), {"rec.dat"}, dir.path(), 60.0, no_display);
  EXPECT_EQ(r.exit_code, 1) << "stderr: " << r.err;
  EXPECT_EQ(r.out.rfind("Cannot load panel: no display", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("--headless"), std::string::npos) << r.out;
}

TEST(LiveStart, MissingPortPrintsPortErrorExits1AndLeavesEmptyRecording) {
  TempDir dir;
  long long before = now_s();
  RunResult r = run_in(dir, {"--headless", "--port", "/dev/does-not-exist"});
  long long after = now_s();

  EXPECT_EQ(r.exit_code, 1) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.out, m, std::regex("(-[0-9]+) COM1 port error (-?[0-9]+)\n")))
      << "stdout: " << r.out;
  EXPECT_NE(m[2].str(), "0") << "the second field is the system's error number or the status";

  std::set<std::string> expected{e2e::recording_name_at(before), e2e::recording_name_at(after)};
  auto names = files_in(dir.path());
  ASSERT_EQ(names.size(), 1u) << "exactly one recording is created";
  EXPECT_TRUE(expected.count(*names.begin())) << "recording named " << *names.begin()
                                              << ", expected " << *expected.begin();
  EXPECT_EQ(std::filesystem::file_size(dir.file(*names.begin())), 0u);
}

TEST(LiveStart, ExistingRecordingOfTheSameNameIsNotTruncated) {
  TempDir dir;
  long long before = now_s();
  // The names of this minute and the next, in case the minute turns.
  std::vector<std::string> names{e2e::recording_name_at(before), e2e::recording_name_at(before + 60)};
  const std::vector<uint8_t> old_bytes{0xEB, 0x90, 0x01, 0x02, 0x03};
  for (const auto& n : names) testing_files::write_file(dir.file(n), old_bytes);

  RunResult r = run_in(dir, {"--headless", "--port", "/dev/does-not-exist"});

  EXPECT_EQ(r.exit_code, 1) << r.err;
  for (const auto& n : names)
    EXPECT_EQ(testing_files::read_file(dir.file(n)), old_bytes) << n << " lost its earlier content";
}

TEST(LiveStart, RecordingThatCannotBeCreatedIsReportedOnStandardOutput) {
  // Run as root, so an unwritable folder is no obstacle: a directory of the
  // recording's name is.
  TempDir dir;
  long long before = now_s();
  std::set<std::string> names{e2e::recording_name_at(before), e2e::recording_name_at(before + 60)};
  for (const auto& n : names) std::filesystem::create_directory(dir.file(n));

  RunResult r = run_in(dir, {"--headless", "--port", "/dev/does-not-exist"});

  EXPECT_EQ(r.exit_code, 1) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("NOT RECORDING[^\n]*?([0-9]{8}\\.dat)[^\n]*\n")))
      << "stdout: " << r.out;
  EXPECT_TRUE(names.count(m[1].str())) << "the warning names the recording: " << m[0];
  EXPECT_NE(m[0].str().find("directory"), std::string::npos) << "the warning gives the reason: " << m[0];
  EXPECT_NE(r.out.find(" COM1 port error "), std::string::npos) << "stdout: " << r.out;
}

struct UsageCase {
  const char* what;
  std::vector<std::string> args;
};

TEST(CommandLine, UsageErrorsExit2WithUsageOnStandardError) {
  const UsageCase cases[] = {
      {"two recordings named", {"--headless", "a.dat", "b.dat"}},
      {"unknown option", {"--headless", "--bogus", "a.dat"}},
      {"speed not a number", {"--headless", "--speed", "fast", "a.dat"}},
      {"negative speed", {"--headless", "--speed", "-1", "a.dat"}},
      {"option without its value", {"--headless", "a.dat", "--trace"}},
      {"event script missing", {"--headless", "--events", "nope.txt", "a.dat"}},
      {"--link-replay with a port", {"--headless", "--link-replay", "a.dat", "--port", "/dev/null"}},
      {"--link-replay without its file", {"--headless", "--link-replay"}},
      {"--link-replay and a recording", {"--headless", "--link-replay", "a.dat", "a.dat"}},
      {"publish queue of no frames", {"--headless", "--publish-queue", "0", "a.dat"}},
      {"--record without --subscribe", {"--headless", "--record", "r.dat", "a.dat"}},
      {"--subscribe and a recording", {"--headless", "--subscribe", "mqtt://127.0.0.1:1/x", "a.dat"}},
      {"--mqtt-ca without a broker", {"--headless", "--mqtt-ca", "ca.pem", "a.dat"}},
      {"--csv-hex without --csv", {"--headless", "--csv-hex", "a.dat"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing_files::write_file(dir.file("a.dat"), e2e::frames(1));
    RunResult r = run_in(dir, c.args);
    EXPECT_EQ(r.exit_code, 2) << c.what;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << c.what << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(files_in(dir.path()), std::set<std::string>{"a.dat"}) << c.what;
  }
}

TEST(CommandLine, HelpPrintsUsageAndExits0) {
  for (const char* opt : {"--help", "-h"}) {
    TempDir dir;
    RunResult r = run_in(dir, {opt});
    EXPECT_EQ(r.exit_code, 0) << opt;
    EXPECT_NE(r.out.find("usage:"), std::string::npos) << opt << "\nstdout: " << r.out;
    EXPECT_NE(r.out.find("--events"), std::string::npos) << opt;
  }
}

// Every option --help names is one the command line takes: each, with a
// value where it wants one, then a usage error that stops the start.
TEST(CommandLine, EveryOptionTheHelpNamesIsTaken) {
  TempDir dir;
  const RunResult help = run_in(dir, {"--help"});
  const std::regex option("\\n  (-h, )?(--[a-z-]+)( [^ \\n]+)?");
  int seen = 0;
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), option), end; it != end; ++it, ++seen) {
    std::vector<std::string> args{(*it)[2]};
    if ((*it)[3].matched) args.push_back("x");
    args.insert(args.end(), {"--speed", "bogus"});
    const RunResult r = run_in(dir, args);
    EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << args[0] << ": " << r.err;
    EXPECT_TRUE(r.exit_code == 2 || r.exit_code == 0) << args[0] << " exit " << r.exit_code << ": " << r.err;
  }
  EXPECT_GE(seen, 23) << help.out;
}

// The usage, the README and the manual page come from one option table: the
// README's command line is the --help text, word for word.
TEST(CommandLine, TheReadmeShowsTheHelpTextAsItIs) {
  TempDir dir;
  const RunResult r = run_in(dir, {"--help"});
  ASSERT_EQ(r.exit_code, 0);
  const std::string readme = testing_files::read_text(testing_files::source_dir() + "/README.md");
  EXPECT_NE(readme.find("```\n" + r.out + "```\n"), std::string::npos)
      << "README.md's command line differs from --help:\n" << r.out;
}

struct ScriptCase {
  const char* what;
  const char* bad_line;
};

TEST(CommandLine, BadEventScriptLineIsUsageErrorNamingFileAndLine) {
  const ScriptCase cases[] = {
      {"unknown control", "1 PANEL_NOPE"},
      {"int control given a decimal", "1 PANEL_COUNT 2.5"},
      {"int control beyond 32 bits", "1 PANEL_COUNT 4294967296"},
      {"float control given a word", "1 PANEL_YMIN abc"},
      {"button given a value", "1 PANEL_QUIT 1"},
      {"pass count not a number", "x PANEL_QUIT"},
      {"negative pass count", "-1 PANEL_QUIT"},
      {"control name missing", "4"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    testing_files::write_file(dir.file("rec.dat"), e2e::frames(1));
    std::string script = std::string("# a comment\n0 PANEL_COUNT 5\n") + c.bad_line + "\n2 PANEL_QUIT\n";
    testing_files::write_file(dir.file("events.txt"), {script.begin(), script.end()});
    RunResult r = run_in(dir, {"--headless", "--speed", "0", "--trace", "-", "--events", "events.txt", "rec.dat"});
    EXPECT_EQ(r.exit_code, 2) << c.what;
    EXPECT_NE(r.err.find("events.txt:3"), std::string::npos) << c.what << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "") << c.what << ": nothing may run before the script is accepted";
  }
}

TEST(CommandLine, LinkReplayOfAFileThatCannotBeReadIsAStartupFailure) {
  TempDir dir;
  for (const char* path : {"missing.dat", "."}) {
    RunResult r = run_in(dir, {"--headless", "--link-replay", path});
    EXPECT_EQ(r.exit_code, 1) << path;
    EXPECT_EQ(r.out, std::string("Cannot open input file ") + path + "\n") << path;
    EXPECT_NE(r.err.find(path), std::string::npos) << path << ": the reason names it: " << r.err;
    EXPECT_TRUE(files_in(dir.path()).empty()) << path << ": no recording made";
  }
}

TEST(CommandLine, TraceFileThatCannotBeWrittenEndsTheStartAsAnOutputFailure) {
  TempDir dir;
  testing_files::write_file(dir.file("a.dat"), e2e::frames(1));
  RunResult r = run_in(dir, {"--headless", "--trace", "no-such-dir/t.txt", "a.dat"});
  EXPECT_EQ(r.exit_code, 4) << r.err;  // as --csv: an output, not the port, input or panel
  EXPECT_NE(r.out.find("no-such-dir/t.txt"), std::string::npos) << "stdout: " << r.out;
}

TEST(PanelStart, MalformedPanelFileIsOneLineNamingFileAndReasonExit1) {
  // The working directory is searched for the panel file first.
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), e2e::frames(1));
  std::string broken = "<?xml version=\"1.0\"?>\n<ui version=\"4.0\"><widget class=\"QWidget\"";
  testing_files::write_file(dir.file("gse.uir"), {broken.begin(), broken.end()});

  RunResult r = run_in(dir, {"--headless", "--speed", "0", "rec.dat"});

  EXPECT_EQ(r.exit_code, 1) << r.err;
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
  EXPECT_NE(r.out.find("gse.uir"), std::string::npos) << "names the file: " << r.out;
  EXPECT_GT(r.out.size(), std::string("Cannot load panel: gse.uir\n").size()) << "gives a reason: " << r.out;
}

}  // namespace
