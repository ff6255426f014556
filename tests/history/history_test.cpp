// history/: the value catalogue against the system's decoder, the time the
// recording's name gives, the min/max summary that keeps every spike, and
// the trend store on real files (worked values, growing, shrinking,
// replaced, garbage, a live recording with what has not reached it yet)
// and its CSV of a range.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "display/decoder.h"
#include "display/panel_fixture.h"
#include "display/spectra.h"
#include "export/frame_csv.h"
#include "history/event_marks.h"
#include "history/pass.h"
#include "history/moment.h"
#include "history/plot_rules.h"
#include "history/reception.h"
#include "history/time_axis.h"
#include "history/trend_csv.h"
#include "history/trend_store.h"
#include "history/values.h"
#include "link/frame.h"
#include "replay/recording_index.h"
#include "support/files.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_frames::FrameBuilder;

// Waits for a condition (looked at every few milliseconds).
bool wait_until(double timeout_s, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

constexpr double WAIT_S = 60.0;

// Frame n of the recordings below: its values are worked from n.
FrameBuilder frame_n(uint32_t n) {
  FrameBuilder b;
  b.counter(n).word(OFF_HK, static_cast<int>(n * 97 % 65536)).float32(OFF_F12, static_cast<float>(n) * 0.5f);
  b.long32(OFF_KIND_VALUE, static_cast<int32_t>(n * 100));  // kind 1: n / 10 seconds
  return b;
}

Bytes frames(uint32_t from, uint32_t to) {
  Bytes out;
  for (uint32_t n = from; n < to; ++n) testing_frames::append(out, frame_n(n).bytes);
  return out;
}

std::time_t local(int year, int yday, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mday = yday + 1;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// ----- The catalogue ---------------------------------------------------------

class Catalogue : public PanelTest {};

// The panel (the decoder), the catalogue (trends, the panel after a move,
// the published values) and the analysis CSV decode each value of random
// frames alike: each conversion has one home, so none may drift.
TEST_F(Catalogue, the_decoder_the_catalogue_and_the_csv_agree_on_every_value_of_random_frames) {
  std::mt19937 random(38);
  std::vector<std::string> columns;
  {
    std::istringstream header(rt::frame_csv_header(false));
    for (std::string c; std::getline(header, c, ',');) columns.push_back(c);
  }
  spectra_t spectra{};
  size_t checked = 0;
  for (uint32_t n = 0; n < 400; ++n) {  // every slot and kind, ten times over
    FrameBuilder b;
    for (int off = OFF_HEADER; off < OFF_CHECKSUM; ++off) b.bytes[static_cast<size_t>(off)] = static_cast<uint8_t>(random());
    b.counter(n);  // seals
    frm_process(b.data(), spectra, panel, 1);
    std::string row;
    rt::frame_csv_row(row, b.data(), n + 1, rt::NO_OFFSET, 0, false);
    std::vector<std::string> cells;
    std::istringstream in(row);
    for (std::string c; std::getline(in, c, ',');) cells.push_back(c);
    cells.resize(columns.size());
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    for (const rt::ValueInfo& v : rt::value_catalogue()) {
      if (rt::is_link_figure(v) || !rt::carries(v, n)) continue;
      const double mine = rt::decode_value(v, b.data());
      const std::string where = v.key + " at counter " + std::to_string(n);
      // The CSV column of the same name holds it at full precision.
      const auto col = std::find(columns.begin(), columns.end(), v.csv);
      ASSERT_NE(col, columns.end()) << v.csv;
      const std::string& cell = cells[static_cast<size_t>(col - columns.begin())];
      EXPECT_TRUE(same(std::strtod(cell.c_str(), nullptr), mine)) << where << ": csv " << cell << ", catalogue " << mine;
      if (v.control.empty()) continue;
      const rt::ControlInfo* c = model->find(v.control);
      ASSERT_NE(c, nullptr) << v.key;
      if (v.field == rt::Field::ElapsedK1) {  // the panel shows it as text, from the milliseconds
        char text[32];
        format_elapsed(static_cast<int32_t>(std::lround(mine * 1000.0)), text, sizeof text);
        EXPECT_EQ(tval(c->id), text) << where;
      } else {
        const double shown = c->type == rt::ValueType::Int ? ival(c->id) : dval(c->id);
        EXPECT_TRUE(same(shown, mine)) << where << ": panel " << shown << ", catalogue " << mine;
      }
      ++checked;
    }
  }
  // Each frame: 9 displays, 3 of its kind; each 40 frames: 36 scaled
  // slots, slot 36's two bytes, three raw words.
  EXPECT_EQ(checked, 10u * (40 * (9 + 3) + 36 + 2 + 3));
  // Every display the decoder writes has its values in the catalogue.
  for (const rt::ControlInfo& c : model->layout().controls) {
    if (c.kind != rt::Kind::Display || c.name == "PANEL_STATUS") continue;
    EXPECT_FALSE(rt::values_of_control(c.name).empty()) << c.name;
  }
  EXPECT_EQ(rt::values_of_control("PANEL_HKRAW").size(), 3u);
}

// A recording changed under its index: the panel is not put back from
// frames that are not the ones the index lists.
TEST_F(Catalogue, the_moment_is_refused_when_the_file_changed_under_its_index) {
  testing_files::TempDir dir;
  const std::string path = dir.file("rec.dat");
  testing_files::write_file(path, frames(0, 100));
  rt::RecordingIndex index(path, rt::FrameRules::Playback);
  ASSERT_TRUE(index.wait(WAIT_S));
  rt::PanelMoment moment;
  std::string error;
  ASSERT_TRUE(rt::panel_moment(*model, path, rt::FrameRules::Playback, index, 50, &moment, &error)) << error;
  testing_files::write_file(path, frames(500, 600));
  EXPECT_FALSE(rt::panel_moment(*model, path, rt::FrameRules::Playback, index, 50, &moment, &error));
  EXPECT_NE(error.find("not where the index has it"), std::string::npos) << error;
  // What the panel then shows: nothing the frames write, as at a fresh start.
  for (const auto& d : rt::empty_moment(*model).displays) EXPECT_FALSE(d.written) << d.id;
}

// A slot last carried long before the strip chart's frames still shows its
// last value, and the skipped count is the reader's at the frame before.
TEST_F(Catalogue, the_moment_finds_a_slot_last_carried_long_ago) {
  testing_files::TempDir dir;
  const std::string path = dir.file("rec.dat");
  Bytes bytes{7, 7, 7};
  for (uint32_t n = 0; n < 300; ++n) {
    if (n % 40 == 36 && n != 36) continue;  // slot 36 once only, at counter 36
    testing_frames::append(bytes, (n == 36 ? frame_n(n).word(OFF_HK, 0x1234) : frame_n(n)).bytes);
  }
  testing_files::write_file(path, bytes);
  rt::RecordingIndex index(path, rt::FrameRules::Playback);
  ASSERT_TRUE(index.wait(WAIT_S));
  ASSERT_EQ(index.frames(), 294);
  rt::PanelMoment moment;
  std::string error;
  ASSERT_TRUE(rt::panel_moment(*model, path, rt::FrameRules::Playback, index, 294, &moment, &error)) << error;
  const auto display = [&](const char* name) {
    const int id = model->find(std::string_view(name))->id;
    for (const auto& d : moment.displays)
      if (d.id == id) return d;
    ADD_FAILURE() << name << " not in the moment";
    return rt::PanelMoment::Display{};
  };
  EXPECT_TRUE(display("PANEL_HKHI").written);
  EXPECT_EQ(display("PANEL_HKHI").number, 0x12);
  EXPECT_EQ(display("PANEL_HKLO").number, 0x34);
  EXPECT_EQ(display("PANEL_SKIPPED").number, 3.0);
}

// ----- Time --------------------------------------------------------------------

TEST(TimeAxis, the_recording_name_gives_its_start_in_local_time) {
  struct Case {
    const char* name;
    std::time_t not_after;
    std::time_t start;  // -1: no start
  };
  const std::time_t late_2008 = local(2008, 300, 0, 0);
  const Case cases[] = {
      {"82121834.dat", late_2008, local(2008, 212, 18, 34)},
      {"/some/folder/82121834.dat", late_2008, local(2008, 212, 18, 34)},
      // Only the year's last digit is named: the latest decade not after the file.
      {"82121834.dat", local(2017, 100, 0, 0), local(2008, 212, 18, 34)},
      {"82121834.dat", local(2018, 300, 0, 0), local(2018, 212, 18, 34)},
      {"82121834.dat", local(2018, 100, 0, 0), local(2008, 212, 18, 34)},  // not yet that day in 2018
      {"40000000.dat", local(2024, 0, 0, 5), local(2024, 0, 0, 0)},
      {"43650000.dat", local(2025, 10, 0, 0), local(2024, 365, 0, 0)},  // 2024 is a leap year
      {"83661200.dat", late_2008, -1},  // day 366
      {"80002400.dat", late_2008, -1},  // hour 24
      {"80000060.dat", late_2008, -1},  // minute 60
      {"8212183.dat", late_2008, -1},
      {"82121834.bin", late_2008, -1},
      {"rec.dat", late_2008, -1},
  };
  for (const Case& c : cases) {
    double start = 0.0;
    const bool ok = rt::recording_start_from_name(c.name, c.not_after, &start);
    EXPECT_EQ(ok, c.start >= 0) << c.name;
    if (ok && c.start >= 0) {
      EXPECT_EQ(start, static_cast<double>(c.start)) << c.name;
    }
  }
  // The log the live session kept beside it says when, to the millisecond.
  testing_files::TempDir dir;
  const std::string rec = dir.file("82121834.dat");
  struct Log {
    const char* line;
    double start;  // after the name's minute
    bool from_log;
  };
  for (const Log l : {Log{"2008-07-31 18:34:07.250 INFO recording to 82121834.dat", 7.25, true},
                      Log{"2008-07-31 18:34:07.250 INFO recording to /some/where/82121834.dat", 7.25, true},
                      Log{"2008-07-31 18:36:00.000 INFO recording to 82121834.dat", 0.0, false},
                      Log{"2008-07-31 18:35:30.000 INFO recording to 82121834.dat", 0.0, false},
                      Log{"2008-07-31 18:34:07.250 INFO recording to 82121834.dat\n"
                          "2008-07-31 18:34:30.000 INFO recording to 82121834.dat", 7.25, true},  // the first run's
                      Log{"2008-07-31 18:34:07.250 INFO recording to /some/where/x82121834.dat", 0.0, false},
                      Log{"2008-07-31 18:34:07.250 INFO recording to 92121834.dat", 0.0, false}}) {
    std::ofstream(dir.file("82121834.log")) << l.line << "\n";
    double start = 0;
    bool from_log = false;
    ASSERT_TRUE(rt::recording_start(rec, late_2008, &start, &from_log)) << l.line;
    EXPECT_EQ(start, static_cast<double>(local(2008, 212, 18, 34)) + l.start) << l.line;
    EXPECT_EQ(from_log, l.from_log) << l.line;
  }
  EXPECT_EQ(rt::recording_time(1000.0, 1920 * 3), 1003.0);
  EXPECT_EQ(rt::elapsed_axis_text(90061.5), "1/01:01:01.5");
}

// Between two kind-1 frames the instrument's time runs evenly; a time that
// goes back cannot order the frames.
TEST(TimeAxis, the_elapsed_axis_runs_evenly_between_kind_1_frames) {
  rt::TrendData d;
  d.time_s = {0.0, 1.0, 2.0, 3.0, 4.0, 5.0};
  rt::Series e;
  e.add(1, 100.0);
  e.add(3, 104.0);
  e.add(5, 103.0);
  d.series.emplace("ELAPSED_K1", e);
  std::vector<double> x;
  size_t first = 0;
  bool monotonic = true;
  rt::elapsed_axis(d, &x, &first, &monotonic);
  EXPECT_EQ(first, 1u);
  ASSERT_EQ(x.size(), 6u);
  EXPECT_TRUE(std::isnan(x[0]));
  EXPECT_EQ(x[1], 100.0);
  EXPECT_EQ(x[2], 102.0);
  EXPECT_EQ(x[4], 103.5);
  EXPECT_FALSE(monotonic);
  double at = 0;
  ASSERT_TRUE(rt::elapsed_at(d, 2, &at));
  EXPECT_EQ(at, 102.0);
}

// ----- Events ------------------------------------------------------------------

TEST(Events, a_log_file_gives_its_entries_and_a_playback_its_own_at_the_frame_shown) {
  testing_files::TempDir dir;
  std::ofstream(dir.file("s.log"), std::ios::binary) << "2008-07-31 18:34:07.250 WARN port lost: /dev/ttyUSB0 (gone)\n"
                                   << "not a log line\n"
                                   << "2008-07-31 18:34:09.000 SOMETHING else\n"
                                   << "2008-07-31 18:35:00.500 INFO port returned: /dev/ttyUSB0\r\n";
  const auto marks = rt::read_log_marks(dir.file("s.log"));
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_EQ(marks[0].t_s, static_cast<double>(local(2008, 212, 18, 34)) + 7.25);
  EXPECT_EQ(marks[0].severity, rt::Severity::Warning);
  EXPECT_EQ(marks[0].text, "port lost: /dev/ttyUSB0 (gone)");
  EXPECT_EQ(marks[1].text, "port returned: /dev/ttyUSB0");
  EXPECT_TRUE(rt::read_log_marks(dir.file("none.log")).empty());


  // Only a regular file, and only up to its bound, each omission said.
  const std::string entry = "2008-07-31 18:34:07.250 INFO a\n";  // 31 bytes
  std::ofstream(dir.file("big.log"), std::ios::binary) << entry << std::string(70000, 'x') << "\n" << entry << entry;
  std::string note;
  EXPECT_EQ(rt::read_log_marks(dir.file("big.log"), &note).size(), 3u) << "the line over 64 KiB passed over";
  EXPECT_EQ(note, "1 line of " + dir.file("big.log") + " longer than 64 KiB passed over");
  EXPECT_EQ(rt::read_log_marks(dir.file("big.log"), &note, 70031 + 1 + 31).size(), 2u);
  EXPECT_EQ(note, "only the first 70063 bytes of " + dir.file("big.log") +
                      " read: the events after them are not shown; 1 line of " + dir.file("big.log") +
                      " longer than 64 KiB passed over");
  EXPECT_EQ(rt::read_log_marks(dir.file("big.log"), &note, 70094).size(), 3u);
  EXPECT_EQ(note, "1 line of " + dir.file("big.log") + " longer than 64 KiB passed over") << "the bound is the file's size";
  EXPECT_EQ(rt::read_log_marks(dir.file("big.log"), &note, 70093).size(), 2u) << "the entry the bound cuts is left out";
#ifndef _WIN32  // no FIFOs or /dev/zero there
  ASSERT_EQ(mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
  EXPECT_TRUE(rt::read_log_marks(dir.file("fifo.log"), &note).empty());
  EXPECT_EQ(note, "cannot read " + dir.file("fifo.log") + ": a FIFO is at that name, not a regular file; its events are not shown");
  EXPECT_TRUE(rt::read_log_marks("/dev/zero", &note).empty());
  EXPECT_NE(note.find("a character device is at that name"), std::string::npos) << note;
#endif
  for (const std::string& none : {dir.file("none.log"), dir.file("s.log") + "/under-a-file.log"}) {
    rt::read_log_marks(none, &note);
    EXPECT_EQ(note, "") << none << ": no log beside a recording is no fault";
  }

  // Frames 10, 11, then a seek to 500 (its entry a moment before the frame
  // is shown), then paused on 500; nothing shown before 100 s.
  rt::ShownFrames shown;
  shown.note(100.0, 10);
  shown.note(100.1, 11);
  shown.note(101.05, 500);
  shown.note(150.0, 500);
  struct Case {
    double t;
    long frame;  // -1: none shown by then
  };
  for (const Case c : {Case{98.0, -1}, Case{99.5, 10}, Case{100.05, 11}, Case{101.0, 500}, Case{140.0, 500},
                       Case{999.0, 500}}) {
    long f = -1;
    EXPECT_EQ(shown.frame_at(c.t, &f), c.frame >= 0) << c.t;
    if (c.frame >= 0) {
      EXPECT_EQ(f, c.frame) << c.t;
    }
  }
}

// ----- Plots: breaks at outages, one unit an axis, Follow ------------------------

TEST(Plots, the_line_breaks_where_no_frame_came_and_nowhere_else) {
  // Frames every 0.1 s, then none for 20 s (NO FRAMES), then again; a
  // value in every frame and one in every 40th (a housekeeping slot).
  rt::TrendData d;
  rt::Series every(true), slot;
  for (int i = 0; i < 200; ++i) {
    d.time_s.push_back(i < 100 ? i * 0.1 : 30.0 + (i - 100) * 0.1);
    every.add(static_cast<uint32_t>(i), i);
    if (i % 40 == 0) slot.add(static_cast<uint32_t>(i), i);
  }
  const rt::AxisX axis{&d.time_s, 0};
  auto breaks = [](const rt::PlotPoints& p) {
    std::vector<double> at;  // the x where each break is
    for (size_t k = 0; k < p.y.size(); ++k)
      if (std::isnan(p.y[k])) at.push_back(p.x[k]);
    return at;
  };
  auto values = [](const rt::PlotPoints& p) {
    std::vector<double> v;
    for (double y : p.y)
      if (!std::isnan(y)) v.push_back(y);
    return v;
  };
  // Raw: 4.0 s between the slot's samples is no outage; the 20.1 s gap is.
  const rt::PlotPoints s = rt::plot_points(d, slot, axis, 0.0, 40.0, 1000);
  ASSERT_TRUE(s.raw);
  EXPECT_EQ(values(s), (std::vector<double>{0, 40, 80, 120, 160}));
  EXPECT_EQ(breaks(s), std::vector<double>{8.0}) << "after frame 80, at 8.0 s";
  EXPECT_EQ(s.isolated, 0u);
  // Raw, with a sample in every frame: the break between the last frame
  // before the outage and the first after it, once.
  const rt::PlotPoints r = rt::plot_points(d, every, axis, 9.0, 31.0, 1000);
  ASSERT_TRUE(r.raw);
  EXPECT_EQ(breaks(r), std::vector<double>{9.9});
  // Summary (200 samples in 20 columns): a break between the columns
  // either side of the gap only.
  const rt::PlotPoints e = rt::plot_points(d, every, axis, 0.0, 40.0, 20);
  ASSERT_FALSE(e.raw);
  EXPECT_EQ(breaks(e), std::vector<double>{31.0}) << "before the column of 30..32 s";
  EXPECT_EQ(e.y.front(), 0.0);
  EXPECT_EQ(e.y.back(), 199.0);
  // An outage inside one column cannot be drawn: no break after it.
  rt::TrendData inside;
  rt::Series w(true);
  for (uint32_t i = 0; i < 110; ++i) {
    inside.time_s.push_back(i < 10 ? i * 0.1 : 4.0 + i * 0.1);  // 0.0..0.9 s, then 5.0..14.9 s
    w.add(i, i);
  }
  const rt::PlotPoints c = rt::plot_points(inside, w, rt::AxisX{&inside.time_s, 0}, 0.0, 20.0, 2);
  ASSERT_FALSE(c.raw);
  EXPECT_TRUE(breaks(c).empty()) << "the outage lies inside the column 0..10 s";
  // A sample alone between two outages has no line to show it.
  rt::TrendData lone;
  lone.time_s = {0.0, 0.1, 10.0, 20.0, 20.1};
  rt::Series v(true);
  for (uint32_t i = 0; i < 5; ++i) v.add(i, i);
  EXPECT_EQ(rt::plot_points(lone, v, rt::AxisX{&lone.time_s, 0}, 0.0, 21.0, 1000).isolated, 1u);
}

TEST(Plots, a_value_goes_to_a_plot_of_its_unit) {
  using U = std::optional<std::string>;
  struct Case {
    const char* name;
    std::vector<U> plots;
    int target;
    const char* unit;
    int expected;
  };
  const Case cases[] = {
      {"no plot yet", {}, -1, "°C", -1},
      {"the chosen plot, same unit", {U("°C"), U("frames/s")}, 0, "°C", 0},
      {"the chosen plot, empty", {U("°C"), U()}, 1, "frames/s", 1},
      {"another unit: the plot of that unit", {U("°C"), U("frames/s")}, 0, "frames/s", 1},
      {"another unit, no plot of it: a new plot", {U("°C")}, 0, "bytes", -1},
      {"no unit is a unit of its own", {U("°C"), U("")}, 0, "", 1},
      {"nothing chosen: the first of that unit", {U("V"), U("°C"), U("°C")}, -1, "°C", 1},
      {"the first plot has it", {U("°C"), U("V")}, 1, "°C", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(rt::plot_for_value(c.plots, c.target, c.unit), c.expected) << c.name;
}

TEST(Plots, follow_shows_the_data_up_to_the_chosen_width) {
  using R = std::pair<double, double>;
  EXPECT_EQ(rt::follow_range(1000.0, 1060.0, 600.0, 0.5), R(1000.0, 1060.0)) << "a 1 min session: all of it";
  EXPECT_EQ(rt::follow_range(1000.0, 8200.0, 600.0, 0.5), R(7600.0, 8200.0)) << "2 h: the last 10 min";
  EXPECT_EQ(rt::follow_range(1000.0, 1000.0, 600.0, 0.5), R(1000.0, 1000.5)) << "one frame: the least span";
}

// ----- The summary keeps every extreme -----------------------------------------

TEST(Summary, a_single_frame_spike_over_a_day_is_drawn_and_read_back) {
  // A day of frames at the link's rate, one value each, one spike.
  rt::TrendData d;
  const size_t n = 830000;
  const size_t spike_at = 517311;
  rt::Series s(true);
  for (size_t i = 0; i < n; ++i) {
    d.time_s.push_back(i * 200 / 1920.0);
    s.add(static_cast<uint32_t>(i), i == spike_at ? 1000.0 : std::sin(static_cast<double>(i) * 1e-4));
  }
  const rt::AxisX axis{&d.time_s, 0};
  const rt::PlotPoints day = rt::plot_points(d, s, axis, 0.0, d.time_s.back(), 1920, 10.0);
  EXPECT_FALSE(day.raw);
  EXPECT_EQ(day.samples, n);
  int spikes = 0;
  for (size_t i = 0; i < day.y.size(); ++i) {
    if (day.y[i] != 10000.0) continue;
    ++spikes;
    EXPECT_NEAR(day.x[i], d.time_s[spike_at], d.time_s.back() / 1920) << "in the spike's column";
  }
  EXPECT_EQ(spikes, 1) << "the spike, scaled, in exactly one column";
  // Zoomed in on it: the raw samples.
  const rt::PlotPoints near = rt::plot_points(d, s, axis, d.time_s[spike_at - 3], d.time_s[spike_at + 3], 1920);
  EXPECT_TRUE(near.raw);
  EXPECT_EQ(near.samples, 7u);
  ASSERT_EQ(near.y.size(), 9u) << "one more each side, so the line runs to the edges";
  EXPECT_EQ(near.y[4], 1000.0);
  EXPECT_EQ(near.x[4], d.time_s[spike_at]);
  double v;
  size_t f;
  ASSERT_TRUE(rt::value_at(s, axis, d.time_s[spike_at] + 0.05, &v, &f));
  EXPECT_EQ(v, 1000.0);
  EXPECT_EQ(f, spike_at);
  EXPECT_FALSE(rt::value_at(s, axis, -1.0, &v, &f)) << "nothing before the first frame";
  // No sample in a range: nothing to draw, and the plot says so.
  EXPECT_EQ(rt::plot_points(d, s, axis, -100.0, -50.0, 1920).samples, 0u);

  // Cut back (live: provisional frames replaced) and grown again: the cut
  // values are gone from the summary, those kept are still in it.
  rt::Series cut(true);
  for (uint32_t i = 0; i < 100; ++i) cut.add(i, i == 65 ? 7.0 : i >= 70 ? 9.0 : 0.0);
  cut.truncate_frames(70);
  for (uint32_t i = 70; i < 128; ++i) cut.add(i, 0.0);
  double lo = 0, hi = 0;
  ASSERT_TRUE(cut.extremes(0, 128, &lo, &hi));
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(hi, 7.0);
}

// ----- The store on files ------------------------------------------------------

class Store : public ::testing::Test {
 protected:
  // A recording named from a start time, as the station names them.
  std::string path() const { return dir_.file("42121834.dat"); }
  static bool frames_are(const rt::TrendStore& store, long n) {
    return wait_until(WAIT_S, [&] { return store.wait_idle(1.0) && store.status().frames == n; });
  }
  testing_files::TempDir dir_;
};

TEST_F(Store, values_and_times_are_the_worked_ones) {
  Bytes bytes{9, 9, 9};  // stray bytes first: offsets move by 3
  const Bytes body = frames(0, 20000);
  bytes.insert(bytes.end(), body.begin(), body.end());
  FrameBuilder spike = frame_n(12345);
  spike.float32(OFF_F12, 1e6f);
  std::copy(spike.bytes.begin(), spike.bytes.end(), bytes.begin() + 3 + 12345 * 200);
  testing_files::write_file(path(), bytes);
  std::ofstream(dir_.file("42121834.log"), std::ios::binary) << "2024-07-31 18:35:00.500 INFO port returned: /dev/ttyUSB0\n";
  rt::TrendStore store({path(), rt::FrameRules::Playback, false}, nullptr, 0.05);
  store.want({"HK16", "F12", "ELAPSED_K1", "SKIPPED", "FPS", "BPS"});
  ASSERT_TRUE(frames_are(store, 20000));
  const rt::TrendStatus st = store.status();
  EXPECT_EQ(st.state, rt::TrendState::Ready);
  ASSERT_TRUE(st.log_read);
  ASSERT_EQ(store.log_marks().size(), 1u) << "a playback's events are its log's";
  EXPECT_EQ(store.log_marks()[0].text, "port returned: /dev/ttyUSB0");
  EXPECT_TRUE(st.start_known);
  std::time_t now = std::time(nullptr);
  double start = 0;
  ASSERT_TRUE(rt::recording_start_from_name(path(), now + 600, &start));
  store.read([&](const rt::TrendData& d) {
    EXPECT_EQ(d.offset[5], 3 + 5 * 200);
    EXPECT_EQ(d.time_s[5], start + (3 + 5 * 200) / 1920.0) << "the byte offset at 1920 bytes a second";
    const rt::Series& hk16 = d.series.at("HK16");
    ASSERT_EQ(hk16.size(), 500u) << "slot 16: one frame in 40";
    EXPECT_EQ(hk16.frame(2), 96u);
    EXPECT_EQ(hk16.value(2), 500.0 * (96 * 97) / 65535.0 - 273.15);
    const rt::Series& f12 = d.series.at("F12");
    EXPECT_EQ(f12.value(777), 388.5);
    EXPECT_EQ(d.series.at("ELAPSED_K1").value(1), 500.0 / 1000.0) << "frame 5: kind 1, 500 ms";
    EXPECT_EQ(d.series.at("SKIPPED").value(0), 3.0);
    // Frame 48, 5 s after the first: 48 frames and 9600 bytes since.
    EXPECT_TRUE(std::isnan(d.series.at("FPS").value(0)));
    EXPECT_NEAR(d.series.at("FPS").value(48), 9.6, 1e-4);
    EXPECT_NEAR(d.series.at("BPS").value(48), 1920.0, 1e-2);
    // The whole file in 1920 columns: the spike is there.
    const rt::AxisX axis{&d.time_s, 0};
    const rt::PlotPoints all = rt::plot_points(d, f12, axis, d.time_s.front(), d.time_s.back(), 1920);
    EXPECT_FALSE(all.raw);
    EXPECT_EQ(*std::max_element(all.y.begin(), all.y.end()), 1e6);
  });
}

// With a session record, the record's log and times stand: the log beside
// the recording (which may be large, and says less) is not read at all.
TEST_F(Store, with_a_session_record_the_log_beside_the_recording_is_not_read) {
  testing_files::write_file(path(), frames(0, 3));
  std::ofstream(dir_.file("42121834.log"), std::ios::binary) << "2024-07-31 18:35:00.500 INFO port returned: /dev/ttyUSB0\n";
  auto pass = std::make_shared<rt::Pass>();
  auto shown = std::make_shared<rt::LiveFrames>();
  for (int n = 0; n < 3; ++n) shown->frames.push_back({1.7e9 + 10.0 * n, 200 * n, 200, 0, static_cast<uint32_t>(n), 1});
  shown->covers = 600;
  pass->frames = shown;
  rt::TrendStore store({path(), rt::FrameRules::Playback, false}, nullptr, 0.05, pass);
  store.want({"F12"});
  ASSERT_TRUE(frames_are(store, 3));
  const rt::TrendStatus st = store.status();
  EXPECT_TRUE(st.log_read) << "done with, so the trends go on to the record's log";
  EXPECT_TRUE(st.pass_times);
  EXPECT_TRUE(store.log_marks().empty()) << "the log beside was read: " << store.log_marks()[0].text;
  store.read([](const rt::TrendData& d) { EXPECT_EQ(d.time_s[2], 1.7e9 + 20.0) << "the record's time of frame 2"; });
}

TEST_F(Store, a_growing_recording_is_followed) {
  testing_files::write_file(path(), frames(0, 100));
  rt::TrendStore store({path(), rt::FrameRules::Playback, false}, nullptr, 0.05);
  store.want({"F12"});
  ASSERT_TRUE(frames_are(store, 100));
  {
    std::ofstream out(path(), std::ios::binary | std::ios::app);
    const Bytes more = frames(100, 150);
    out.write(reinterpret_cast<const char*>(more.data()), static_cast<std::streamsize>(more.size()));
  }
  ASSERT_TRUE(frames_are(store, 150));
  EXPECT_EQ(store.status().generation, 0u) << "grown, not rebuilt";
  store.read([](const rt::TrendData& d) { EXPECT_EQ(d.series.at("F12").value(149), 74.5); });
  // A value asked for later is decoded over the whole file.
  store.want({"F12", "HK00"});
  ASSERT_TRUE(frames_are(store, 150));
  store.read([](const rt::TrendData& d) {
    ASSERT_EQ(d.series.at("HK00").size(), 4u);
    EXPECT_EQ(d.series.at("HK00").value(3), 10.0 * (120 * 97) / 65535.0);
  });
}

TEST_F(Store, a_recording_that_shrinks_or_is_replaced_is_read_again_from_its_start) {
  struct Case {
    const char* what;
    Bytes next;
    const char* said;
    long frames;
    double last_f12;
  };
  Bytes other = frames(1000, 1300);  // other values at the same place
  const Case cases[] = {
      {"shrinks", frames(0, 40), "shrank", 40, 19.5},
      {"replaced by a longer file", other, "replaced", 300, 649.5},
  };
  for (const Case& c : cases) {
    testing_files::write_file(path(), frames(0, 200));
    rt::TrendStore store({path(), rt::FrameRules::Playback, false}, nullptr, 0.05);
    store.want({"F12"});
    ASSERT_TRUE(frames_are(store, 200)) << c.what;
    // As a new file takes the place of another: whole, at once. (Windows
    // refuses while the store has the file open for a moment: again then.)
    testing_files::write_file(path() + ".new", c.next);
    ASSERT_TRUE(wait_until(WAIT_S, [&] {
      std::error_code ec;
      std::filesystem::rename(path() + ".new", path(), ec);
      return !ec;
    })) << c.what;
    ASSERT_TRUE(wait_until(WAIT_S, [&] { return store.status().generation == 1; })) << c.what;
    ASSERT_TRUE(frames_are(store, c.frames)) << c.what;
    const rt::TrendStatus st = store.status();
    EXPECT_NE(st.note.find(c.said), std::string::npos) << c.what << ": " << st.note;
    store.read([&](const rt::TrendData& d) {
      EXPECT_EQ(d.series.at("F12").size(), static_cast<size_t>(c.frames)) << c.what << ": nothing of the first file";
      EXPECT_EQ(d.series.at("F12").value(static_cast<size_t>(c.frames - 1)), c.last_f12) << c.what;
    });
  }
}

TEST_F(Store, a_recording_of_garbage_has_no_frames) {
  Bytes garbage(300000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7 % 200);  // no 0xEB
  for (rt::FrameRules rules : {rt::FrameRules::Playback, rt::FrameRules::Link}) {
    testing_files::write_file(path(), garbage);
    rt::TrendStore store({path(), rules, false}, nullptr, 0.05);
    store.want({"HK16"});
    ASSERT_TRUE(store.wait_idle(WAIT_S));
    EXPECT_EQ(store.status().state, rt::TrendState::NoFrames);
    EXPECT_EQ(store.status().frames, 0);
    // Frames written after it (a recording that began with noise).
    std::ofstream out(path(), std::ios::binary | std::ios::app);
    for (uint32_t n = 0; n < 5; ++n) {
      const Bytes f = rules == rt::FrameRules::Link ? testing_frames::escape_for_link(frame_n(n).bytes) : frame_n(n).vec();
      out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
    out.close();
    ASSERT_TRUE(frames_are(store, 5));
    EXPECT_EQ(store.status().state, rt::TrendState::Ready);
  }
  EXPECT_STREQ(rt::NO_FRAMES_TEXT, "no frames found");
}

// Live: frames take the time they were received; those shown but not yet
// in the recording are there, provisional, until the recording has them.
TEST_F(Store, a_live_recording_takes_the_reception_times_and_what_is_not_written_yet) {
  rt::ReceptionClock clock;
  const double t0 = 1.7e9;
  for (uint32_t n = 0; n < 30; ++n) clock.add(frame_n(n).data(), t0 + n * 0.5);
  Bytes linked;
  for (uint32_t n = 0; n < 20; ++n) {
    const Bytes f = testing_frames::escape_for_link(frame_n(n).bytes);
    linked.insert(linked.end(), f.begin(), f.end());
  }
  testing_files::write_file(path(), linked);
  rt::TrendStore store({path(), rt::FrameRules::Link, true}, &clock, 0.05);
  store.want({"F12"});
  ASSERT_TRUE(frames_are(store, 30));
  store.read([&](const rt::TrendData& d) {
    EXPECT_EQ(d.provisional, 10u);
    EXPECT_EQ(d.time_s[7], t0 + 3.5);
    EXPECT_EQ(d.time_s[25], t0 + 12.5);
    EXPECT_EQ(d.offset[25], -1) << "not in the recording yet";
    EXPECT_EQ(d.series.at("F12").value(25), 12.5);
  });
  {
    std::ofstream out(path(), std::ios::binary | std::ios::app);
    for (uint32_t n = 20; n < 30; ++n) {
      const Bytes f = testing_frames::escape_for_link(frame_n(n).bytes);
      out.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
  }
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    size_t provisional = 1;
    store.read([&](const rt::TrendData& d) { provisional = d.provisional; });
    return provisional == 0;
  }));
  store.read([&](const rt::TrendData& d) {
    ASSERT_EQ(d.frames(), 30u);
    EXPECT_EQ(d.time_s[25], t0 + 12.5);
    EXPECT_GT(d.offset[25], 0);
  });
}

// Live: a reception time that goes back (the clock was set back) is held
// at the one before, so a trend never runs backwards; and a kind-1 frame
// gives its own elapsed time, also when it shares its time with the kind-1
// frame before.
TEST_F(Store, times_never_go_back_and_a_kind_1_frame_gives_its_own_elapsed_time) {
  rt::ReceptionClock clock;
  const double t0 = 1.7e9;
  for (uint32_t n = 0; n < 12; ++n) clock.add(frame_n(n).data(), n >= 2 && n <= 5 ? t0 : t0 + n * 0.5);
  Bytes linked;
  for (uint32_t n = 0; n < 12; ++n) testing_frames::append(linked, testing_frames::escape_for_link(frame_n(n).bytes));
  testing_files::write_file(path(), linked);
  rt::TrendStore store({path(), rt::FrameRules::Link, true}, &clock, 0.05);
  store.want({"ELAPSED_K1"});
  ASSERT_TRUE(frames_are(store, 12));
  store.read([&](const rt::TrendData& d) {
    for (size_t k = 1; k <= 5; ++k) EXPECT_EQ(d.time_s[k], t0 + 0.5) << "frame " << k << ": held at frame 1's time";
    EXPECT_EQ(d.time_s[6], t0 + 3.0);
    // Kind-1 frames 1, 5 and 9 carry 100, 500 and 900 ms.
    double e = 0.0;
    ASSERT_TRUE(rt::elapsed_at(d, 1, &e)) << "the first kind-1 frame has its time";
    EXPECT_EQ(e, 0.1);
    ASSERT_TRUE(rt::elapsed_at(d, 5, &e));
    EXPECT_EQ(e, 0.5) << "frame 5's own time, not frame 1's";
    std::vector<double> x;
    size_t first = 0;
    bool monotonic = false;
    rt::elapsed_axis(d, &x, &first, &monotonic);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(x[1], 0.1);
    EXPECT_EQ(x[5], 0.5) << "frame 5's own time, not frame 1's";
    EXPECT_EQ(x[9], 0.9);
    EXPECT_TRUE(monotonic);
  });
}

TEST_F(Store, the_csv_of_a_range_has_the_values_in_their_csv_columns) {
  testing_files::write_file(path(), frames(0, 400));
  rt::TrendStore store({path(), rt::FrameRules::Playback, false}, nullptr, 0.05);
  store.want({"HK16", "F12"});
  ASSERT_TRUE(frames_are(store, 400));
  double x0 = 0, x1 = 0;
  store.read([&](const rt::TrendData& d) {
    x0 = d.time_s[50];
    x1 = d.time_s[100];
  });
  const std::string out = dir_.file("range.csv");
  const rt::TrendCsvResult r = rt::export_trend_csv(store, {{"HK16", "F12"}, false, x0, x1}, out);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.rows, 51);
  std::ifstream in(out);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u + 51u);
  EXPECT_EQ(lines[0].rfind("# vst_gse trends of " + path(), 0), 0u) << lines[0];
  EXPECT_NE(lines[1].find("frames 51 to 101"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], "frame,offset_bytes,time_local,time_s,hk16_degC,f12");
  EXPECT_EQ(lines[3].substr(0, lines[3].find(',', lines[3].find(',') + 1)), "51,10000");
  // Frame 57 (counter 56, slot 16) carries both: 500 x 5432 / 65535 - 273.15.
  const std::string row57 = lines[3 + 6];
  EXPECT_EQ(row57.substr(0, 3), "57,");
  EXPECT_EQ(row57.substr(row57.size() - 22), ",-231.7064965285725,28") << row57;
  EXPECT_EQ(lines[3].substr(lines[3].size() - 4), ",,25") << "no housekeeping value in frame 51";
  EXPECT_NE(lines[3].find("T18:34:05.208,"), std::string::npos) << "10000 bytes after 18:34: " << lines[3];
  // Only the frames that carry a value: slot 16 at counters 56 and 96.
  EXPECT_EQ(rt::export_trend_csv(store, {{"HK16"}, false, x0, x1}, dir_.file("hk16.csv")).rows, 2);
  EXPECT_FALSE(std::filesystem::exists(out + ".part"));
  // A destination that cannot be written says so, naming it, and leaves nothing.
  const std::string nowhere = dir_.file("no-such-folder/range.csv");
  const rt::TrendCsvResult bad = rt::export_trend_csv(store, {{"F12"}, false, x0, x1}, nowhere);
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("cannot write CSV file " + nowhere), std::string::npos) << bad.error;
}

}  // namespace
