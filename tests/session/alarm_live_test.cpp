// Alarms through the built vst_gse, headless: gse_sim's housekeeping held
// past its limits and back over a real pseudo-terminal, a link made silent
// and then lost, and a limits file that is refused. What the program says is
// read from its --log, --summary and --trace.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "headless_station.h"
#include "relay.h"
#include "station.h"
#include "support/files.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/trace_reader.h"

namespace {

using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;
using testing_pty::InstrumentPty;

constexpr double WAIT_S = 30.0;  // generous: the machine may be loaded

// A headless live session on `port`, started at once.
struct Station : health_testing::HeadlessStation {
  explicit Station(const std::string& port) { start(port); }
  bool ready() const { return log_has("run start: port drained, serial port ready"); }
};

// The summary's alarm whose "what" is `what`: its JSON object.
std::string alarm(const std::string& summary, const std::string& what) {
  const size_t at = summary.find("\"what\":\"" + what + "\"");
  if (at == std::string::npos) return "";
  const size_t from = summary.rfind('{', at);
  return summary.substr(from, summary.find('}', at) - from + 1);
}

std::string field(const std::string& object, const std::string& key) {
  const size_t at = object.find("\"" + key + "\":");
  if (at == std::string::npos) return "?";
  const size_t from = at + key.size() + 3;
  const bool quoted = object[from] == '"';
  const size_t end = quoted ? object.find('"', from + 1) : object.find_first_of(",}", from);
  return object.substr(quoted ? from + 1 : from, end - from - (quoted ? 1 : 0));
}

// Seconds since the epoch of a local "YYYY-MM-DD HH:MM:SS.mmm".
double seconds_of(const std::string& stamp) {
  std::tm tm{};
  strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  tm.tm_isdst = -1;
  return static_cast<double>(std::mktime(&tm)) + std::atoi(stamp.c_str() + 20) / 1000.0;
}

// The time of the log's first (or last) line that holds `text`.
double logged_at(const std::string& log, const std::string& text, bool last = false) {
  const size_t at = last ? log.rfind(text) : log.find(text);
  if (at == std::string::npos) return -1.0;
  const size_t line = log.rfind('\n', at) == std::string::npos ? 0 : log.rfind('\n', at) + 1;
  return seconds_of(log.substr(line, 23));
}

TEST(AlarmsLive, housekeeping_through_caution_and_alarm_and_back_is_latched_with_its_times_count_and_worst) {
  InstrumentPty link;
  Station s(link.slave_path());
  ASSERT_TRUE(s.ready()) << read_text(s.dir.file("stdout.txt"));
  // HK00 (slot 0, every 40th frame; caution outside 0.2..9.8 V, alarm outside
  // 0.05..9.95 V) at 9.9 V, then 9.97 V, then as the instrument has it
  // (about 5 V), then 9.9 V once more and back.
  TempDir sim_dir;
  Child sim(testing_process::gse_sim(),
            {"--pty", "--quiet", "--frames", "250", "--rate", "19200", "--hk", "0=9.9@0..79", "--hk",
             "0=9.97@80..119", "--hk", "0=9.9@200..239"},
            sim_dir.path(), sim_dir.file("sim.out"));
  const std::string pty = health_testing::sim_pty_path(sim_dir.file("sim.out"), WAIT_S);
  ASSERT_FALSE(pty.empty()) << read_text(sim_dir.file("sim.out"));
  health_testing::Relay relay(pty, link);
  ASSERT_TRUE(relay.ok()) << pty;
  ASSERT_EQ(sim.wait(WAIT_S * 2), 0) << read_text(sim_dir.file("sim.out"));
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return testing_trace::select(s.trace(), "SetCtrlVal", "PANEL_HK00").size() >= 7; }));
  EXPECT_EQ(s.quit(), 0);

  std::vector<double> volts;
  for (const auto& l : testing_trace::select(s.trace(), "SetCtrlVal", "PANEL_HK00")) volts.push_back(l.number_field("value"));
  ASSERT_EQ(volts.size(), 7u);
  EXPECT_EQ(std::count_if(volts.begin(), volts.end(), [](double v) { return v > 9.8; }), 4) << "as shaped";
  const std::string log = s.log();
  const std::string a = alarm(s.summary(), "HK00 out of limits");
  ASSERT_FALSE(a.empty()) << s.summary();
  EXPECT_EQ(field(a, "severity"), "red");
  EXPECT_EQ(field(a, "occurrences"), "2") << "out, back, out again";
  EXPECT_EQ(std::strtod(field(a, "worst").c_str(), nullptr), *std::max_element(volts.begin(), volts.end()));
  EXPECT_EQ(field(a, "worst_limit"), "above the alarm limit 9.9500 V");
  EXPECT_EQ(field(a, "active"), "false") << "latched, though back within limits";
  EXPECT_EQ(field(a, "now"), "normal");
  EXPECT_EQ(field(a, "acknowledged"), "false");
  // First: when it was raised; last: the last value out of limits, after
  // the first return and before the last (the log coalesces the repeated
  // "in caution" line, so it has no line of its own).
  EXPECT_NEAR(seconds_of(field(a, "first")), logged_at(log, "ALARM HK00 out of limits (amber)"), 0.05) << log;
  const double last = seconds_of(field(a, "last"));
  EXPECT_GT(last, logged_at(log, "HK00 back within limits")) << log;
  EXPECT_LT(last, logged_at(log, "HK00 back within limits", true)) << log;
  EXPECT_NE(log.find("ERROR ALARM HK00 out of limits now red: 9.9699 V, above the alarm limit 9.9500 V"),
            std::string::npos) << log;
}

TEST(AlarmsLive, a_link_made_silent_and_then_lost_raises_both_link_alarms_which_stay_unacknowledged) {
  TempDir links;
  const std::string port = links.file("ttyGSE");
  auto first = std::make_unique<InstrumentPty>();
  std::filesystem::create_symlink(first->slave_path(), port);
  Station s(port);
  ASSERT_TRUE(s.ready());
  {
    reliability::StreamSender sender(*first, reliability::link_frames(20, 1), 1920.0);
    ASSERT_TRUE(s.log_has("link: receiving")) << s.log();
  }
  ASSERT_TRUE(s.log_has("ERROR ALARM link: LINK SILENT (red): link silent (no byte for ")) << s.log();
  first->hang_up();
  std::filesystem::remove(port);
  ASSERT_TRUE(s.log_has("ERROR ALARM link: PORT LOST (red): port lost (")) << s.log();
  EXPECT_EQ(s.quit(), 0);

  // (A link that stops part way through a frame may read "no frames" for
  // a moment first: that is an alarm of its own.)
  const std::string json = s.summary();
  const std::string silent = alarm(json, "link: LINK SILENT"), lost = alarm(json, "link: PORT LOST");
  EXPECT_EQ(field(silent, "active"), "false") << silent;
  EXPECT_EQ(field(silent, "now"), "port lost") << "the state now, not the alarm's";
  EXPECT_GE(seconds_of(field(lost, "first")), seconds_of(field(silent, "last")) - 0.05);
  EXPECT_EQ(field(lost, "active"), "true") << lost;
  for (const std::string& row : {silent, lost}) {
    EXPECT_EQ(field(row, "severity"), "red") << row;
    EXPECT_EQ(field(row, "acknowledged"), "false") << row;
  }
  size_t rows = 0;
  for (size_t at = 0; (at = json.find("\"acknowledged\":false", at)) != std::string::npos; ++at) ++rows;
  EXPECT_NE(json.find("\"alarms_unacknowledged\":" + std::to_string(rows) + ","), std::string::npos) << json;
}

TEST(AlarmsFile, a_malformed_limits_file_is_refused_whole_and_the_run_keeps_the_panel_files_limits) {
  TempDir dir;
  // HK00 held at 9.9 V: in caution on the panel file's limits.
  const auto made = testing_process::run(testing_process::gse_sim(),
                                         {"--out", "rec.dat", "--frames", "80", "--hk", "0=9.9@0..79"}, dir.path(), WAIT_S);
  ASSERT_EQ(made.exit_code, 0) << made.err;
  const std::string off = "HK00 caution=0.2..9.8 alarm=0.05..9.95 hysteresis=default enabled=no\n";
  struct Case {
    const char* name;
    std::string text;
    int status;
    const char* said;  // on standard output
    bool hk00_alarm;
  };
  const Case cases[] = {
      {"good", off, 0, "", false},
      {"malformed", off + "HK16 caution=-20..50 alarm=-40..70 hysteresis=0.5 enabled=sometimes\n", 8,
       "limits file limits.txt refused: line 2: HK16: enabled \"sometimes\" is neither yes nor no; "
       "the panel file's limits are used\n",
       true},
  };
  for (const Case& c : cases) {
    testing_files::write_file(dir.file("limits.txt"), std::vector<uint8_t>(c.text.begin(), c.text.end()));
    const auto r = testing_process::run(
        testing_process::vst_gse(),
        {"--headless", "--speed", "0", "--limits", "limits.txt", "--summary", "summary.json", "rec.dat"}, dir.path(),
        WAIT_S);
    EXPECT_EQ(r.exit_code, c.status) << c.name << "\n" << r.err;
    EXPECT_EQ(r.out, c.said) << c.name;
    const std::string json = read_text(dir.file("summary.json"));
    EXPECT_EQ(!alarm(json, "HK00 out of limits").empty(), c.hk00_alarm) << c.name << ": never half applied\n" << json;
  }
}

}  // namespace
