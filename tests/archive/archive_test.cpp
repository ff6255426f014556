// The archive of a folder of recordings made by gse_sim: one plain, one
// with its session record (in a subfolder), one whose record is damaged,
// one still growing, and files that are not recordings. Each is listed
// with the figures its making implies; the search finds by alarm, note and
// lost port; the archive made again after deletion is the same; a damaged
// archive is set aside, a newer one refused; the built program lists the
// folder as text and as JSON; a report draws the values chosen on its
// command line, else the set the settings keep.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "archive/across.h"
#include "archive/archive.h"
#include "archive/report.h"
#include "archive/report_values.h"
#include "campaign.h"
#include "record/record_writer.h"
#include "record/sqlite.h"
#include "runtime/session_watch.h"
#include "support/files.h"
#include "support/process.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using campaign::Campaign;
using campaign::DEGC_STEP;
using campaign::find;
using campaign::JAN2;
using campaign::T0;
using testing_files::TempDir;

TEST(Archive, lists_each_session_of_a_folder_with_the_figures_of_its_making) {
  Campaign c;
  rt::Archive a;
  rt::IndexOutcome o;
  c.index(&a, &o);
  EXPECT_EQ(o.failures, 0);
  EXPECT_EQ(o.read, 4);
  EXPECT_EQ(o.not_recordings, 1) << "notes.dat holds no frame";
  const auto rows = a.sessions();
  ASSERT_EQ(rows.size(), 4u);

  const rt::SessionRow* plain = find(rows, "60010000.dat");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->frames, 598);
  EXPECT_EQ(plain->failures, 2);
  EXPECT_EQ(plain->checksum_failures, 2);
  EXPECT_EQ(plain->times, "name");
  EXPECT_DOUBLE_EQ(plain->started, JAN2) << "its name's minute; its first frame at byte 0";
  EXPECT_NEAR(plain->duration_s, 599 * 200 / 1920.0, 1e-6) << "the last frame at byte 119800, 1920 bytes a second";
  EXPECT_EQ(plain->record, "");
  EXPECT_EQ(plain->record_state, "none");
  EXPECT_FALSE(plain->live);
  EXPECT_EQ(plain->size, 120000);

  const rt::SessionRow* rec = find(rows, "flight/60020000.dat");
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->times, "record");
  EXPECT_EQ(rec->record, "flight/60020000.session");
  EXPECT_EQ(rec->frames, 200);
  EXPECT_DOUBLE_EQ(rec->started, T0) << "the record's reception times, not the name's";
  EXPECT_DOUBLE_EQ(rec->duration_s, 99.5);
  EXPECT_EQ(rec->port, "/dev/ttyUSB0");
  EXPECT_EQ(rec->device, "FT232R USB UART, FTDI, serial number A1B2");
  EXPECT_EQ(rec->version, "3.1.4");
  EXPECT_EQ(rec->alarms, 1);
  EXPECT_EQ(rec->alarms_unacknowledged, 0);
  EXPECT_EQ(rec->notes, 1);
  EXPECT_EQ(rec->port_losses, 1);
  EXPECT_FALSE(rec->live) << "its run is closed";
  const auto alarms = a.alarms(rec->session);
  ASSERT_EQ(alarms.size(), 1u);
  EXPECT_EQ(alarms[0].key, "HK16");
  EXPECT_EQ(alarms[0].severity, "red");
  EXPECT_EQ(alarms[0].worst_text, "-45.00 degC");
  EXPECT_DOUBLE_EQ(alarms[0].acknowledged_s, T0 + 20.0);

  const rt::SessionRow* growing = find(rows, "60030000.dat");
  ASSERT_TRUE(growing);
  EXPECT_TRUE(growing->live) << "changed a second ago";
  EXPECT_EQ(growing->frames, 100);

  const rt::SessionRow* refused = find(rows, "60040000.dat");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->frames, 50);
  EXPECT_EQ(refused->times, "name") << "its record is refused: times from its name";
  EXPECT_NE(refused->record_state.find("refused"), std::string::npos) << refused->record_state;
}

TEST(Archive, keeps_each_value_per_minute_as_the_recording_holds_it) {
  Campaign c;
  rt::Archive a;
  c.index(&a);
  rt::SessionRow row;
  const auto rows = a.sessions();
  const rt::SessionRow* plain = find(rows, "60010000.dat");
  ASSERT_TRUE(plain);
  // Minute 0 holds frames 0..575 (byte 115000 < 60 s x 1920), HK16 at -40
  // then -20; minute 1 frames 576..599, all at -20.
  const auto m = a.minutes(plain->session, "HK16");
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].minute, static_cast<int64_t>(JAN2 / 60));
  EXPECT_NEAR(m[0].min, -40.0, DEGC_STEP);
  EXPECT_NEAR(m[0].max, -20.0, DEGC_STEP);
  EXPECT_GT(m[0].mean, -40.0);
  EXPECT_LT(m[0].mean, -20.0);
  EXPECT_EQ(m[1].minute, m[0].minute + 1);
  EXPECT_NEAR(m[1].min, -20.0, DEGC_STEP);
  EXPECT_NEAR(m[1].max, -20.0, DEGC_STEP);
  EXPECT_EQ(m[1].samples, 1) << "one frame of the 24 carries slot 16";
  // FCOUNT counts its frames: minute 1 from 576 to 599.
  const auto count = a.minutes(plain->session, "FCOUNT", m[1].minute, m[1].minute);
  ASSERT_EQ(count.size(), 1u);
  EXPECT_EQ(count[0].samples, 24);
  EXPECT_DOUBLE_EQ(count[0].min, 576.0);
  EXPECT_DOUBLE_EQ(count[0].max, 599.0);
}

TEST(Archive, puts_a_value_across_sessions_on_one_clock_or_on_each_start) {
  Campaign c;
  rt::Archive a;
  c.index(&a);
  const auto rows = a.sessions();
  const int64_t plain = find(rows, "60010000.dat")->session;
  const int64_t flight = find(rows, "flight/60020000.dat")->session;
  const auto clock = rt::value_across(a, "HK16", {plain, flight, 9999}, rt::AcrossAxis::Clock);
  ASSERT_EQ(clock.size(), 2u) << "an id the archive does not hold is passed over";
  ASSERT_EQ(clock[0].points.size(), 2u);
  EXPECT_DOUBLE_EQ(clock[0].points[0].x, JAN2 + 30.0) << "minute 0 at its middle";
  EXPECT_NEAR(clock[0].points[0].min, -40.0, DEGC_STEP);
  EXPECT_NEAR(clock[0].points[0].max, -20.0, DEGC_STEP);
  EXPECT_DOUBLE_EQ(clock[1].points[0].x, T0 + 30.0) << "the flight's first minute, a day and ten hours later";
  const auto elapsed = rt::value_across(a, "HK16", {plain, flight}, rt::AcrossAxis::Elapsed);
  EXPECT_DOUBLE_EQ(elapsed[0].points[1].x, 90.0) << "its second minute, from its own start";
  EXPECT_DOUBLE_EQ(elapsed[1].points[0].x, 30.0);
  // The frame counter gives each minute's extremes: the plain recording's
  // first minute holds frames 0..575, the flight's (a frame every half
  // second from T0, a minute's start) 0..119 then 120..199.
  const auto count = rt::value_across(a, "FCOUNT", {plain, flight}, rt::AcrossAxis::Clock);
  ASSERT_EQ(count[1].points.size(), 2u);
  EXPECT_DOUBLE_EQ(count[0].points[0].min, 0.0);
  EXPECT_DOUBLE_EQ(count[0].points[0].max, 575.0);
  EXPECT_DOUBLE_EQ(count[1].points[0].min, 0.0);
  EXPECT_DOUBLE_EQ(count[1].points[0].max, 119.0);
  EXPECT_DOUBLE_EQ(count[1].points[1].min, 120.0);
  EXPECT_DOUBLE_EQ(count[1].points[1].max, 199.0);
}

TEST(Archive, reads_the_frames_of_a_range_too_narrow_for_minutes) {
  Campaign c;
  rt::Archive a;
  c.index(&a);
  const auto rows = a.sessions();
  EXPECT_FALSE(rt::across_wants_raw(0.0, 3600.0));
  EXPECT_TRUE(rt::across_wants_raw(9.0, 40.0));
  // Slot 16 rides in frames 16, 56, 96, ...; byte 200k at 1920 bytes a
  // second: frame 96 at 10 s. HK16 is -40 degC to frame 299, -20 after.
  const std::vector<double> xs{10.0, 14.1666666667, 18.3333333333, 22.5, 26.6666666667, 30.8333333333,
                               35.0, 39.1666666667};
  const rt::SessionRow* plain = find(rows, "60010000.dat");
  for (const auto axis : {rt::AcrossAxis::Clock, rt::AcrossAxis::Elapsed}) {
    const double origin = axis == rt::AcrossAxis::Clock ? JAN2 : 0.0;
    rt::AcrossLine line;
    std::string error;
    ASSERT_TRUE(rt::raw_across(*plain, "HK16", axis, origin + 9.0, origin + 40.0, &line, &error)) << error;
    ASSERT_EQ(line.points.size(), xs.size()) << "read from the middle of the file: the frames of the range only";
    for (size_t k = 0; k < xs.size(); ++k) {
      EXPECT_NEAR(line.points[k].x - origin, xs[k], 1e-6) << k;
      EXPECT_NEAR(line.points[k].mean, k < 6 ? -40.0 : -20.0, DEGC_STEP) << k;
    }
  }
  // With a session record: its reception times, a frame every half second.
  rt::AcrossLine line;
  std::string error;
  ASSERT_TRUE(rt::raw_across(*find(rows, "flight/60020000.dat"), "FCOUNT", rt::AcrossAxis::Elapsed, 10.0, 12.0,
                             &line, &error)) << error;
  ASSERT_EQ(line.points.size(), 5u);
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_DOUBLE_EQ(line.points[k].x, 10.0 + 0.5 * static_cast<double>(k));
    EXPECT_DOUBLE_EQ(line.points[k].mean, 20.0 + static_cast<double>(k));
  }
  // A recording gone since it was indexed says so.
  std::filesystem::remove(c.plain);
  EXPECT_FALSE(rt::raw_across(*plain, "HK16", rt::AcrossAxis::Elapsed, 9.0, 40.0, &line, &error));
  EXPECT_NE(error.find("60010000.dat"), std::string::npos) << error;
}

TEST(Archive, finds_the_sessions_of_an_alarm_a_note_a_lost_port_or_a_date) {
  Campaign c;
  rt::Archive a;
  c.index(&a);
  auto names = [&](const rt::SessionFilter& f) {
    std::vector<std::string> out;
    for (const rt::SessionRow& r : a.sessions(f)) out.push_back(r.recording);
    return out;
  };
  const std::vector<std::string> flight{"flight/60020000.dat"};
  rt::SessionFilter f;
  f.alarm = "hk16";
  EXPECT_EQ(names(f), flight) << "an alarm's value, in any case";
  f = {};
  f.alarm = "HK17";
  EXPECT_TRUE(names(f).empty());
  f = {};
  f.text = "cut-down";
  EXPECT_EQ(names(f), flight) << "a note's words";
  f = {};
  f.text = "limits";
  EXPECT_EQ(names(f), flight) << "a log entry's words";
  f = {};
  f.text = "\"balloon";
  EXPECT_EQ(names(f), flight) << "a quote is text, not search syntax";
  f = {};
  f.text = "6002_000";
  EXPECT_TRUE(names(f).empty()) << "an underscore is text, not a wildcard of the name's pattern";
  f = {};
  f.port_lost = true;
  EXPECT_EQ(names(f), flight);
  f = {};
  f.from_s = JAN2 + 3600.0;
  f.to_s = T0 + 3600.0;
  EXPECT_EQ(names(f), flight) << "only the flight overlaps that day";
  EXPECT_EQ(a.alarm_keys(), std::vector<std::string>{"HK16"});
}

// The count of `needle` in `text`.
size_t count(const std::string& text, const std::string& needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++n;
  return n;
}

// Every row of the archive, as SQLite's own tool writes it.
std::string dump(const std::string& folder) {
  const auto r = testing_process::run("/usr/bin/sqlite3", {"-readonly", rt::archive_path(folder), ".dump"}, folder);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

TEST(Archive, made_again_after_deletion_is_the_same_and_reads_only_what_changed) {
  Campaign c;
  {
    rt::Archive a;
    c.index(&a);
  }
  const std::string first = dump(c.dir.path());
  ASSERT_NE(first.find("INSERT INTO sessions"), std::string::npos) << first.substr(0, 2000);
  fs::remove(rt::archive_path(c.dir.path()));
  {
    rt::Archive a;
    c.index(&a);
  }
  EXPECT_EQ(dump(c.dir.path()), first);
  // Looked at again: only the live one is read; a recording gone stays
  // listed, marked.
  fs::remove(c.refused);
  rt::Archive a;
  rt::IndexOutcome o;
  c.index(&a, &o);
  EXPECT_EQ(o.read, 1);
  EXPECT_EQ(o.unchanged, 2);
  EXPECT_EQ(o.unreachable, 1);
  const auto rows = a.sessions();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_FALSE(find(rows, "60040000.dat")->reachable);
  EXPECT_TRUE(find(rows, "60010000.dat")->reachable);
}

TEST(Archive, a_recording_without_a_record_is_live_while_it_or_its_log_changes) {
  Campaign c;
  rt::Archive a;
  c.index(&a);
  auto plain_live = [&] {
    const auto rows = a.sessions();
    return find(rows, "60010000.dat")->live;
  };
  EXPECT_FALSE(plain_live()) << "finished an hour ago";
  // The link silent: the station writes only its log.
  const std::string log = rt::log_beside(c.plain);
  const std::string line = "link silent for 10 s\n";
  testing_files::write_file(log, Bytes(line.begin(), line.end()));
  double log_t = 0.0;
  ASSERT_TRUE(rt::file_time(log, &log_t));
  a.set_clock([&] { return log_t + 1.0; });
  a.index();
  EXPECT_TRUE(plain_live()) << "its log changed a second ago";
  a.set_clock([&] { return log_t + 6.0; });
  a.index();
  EXPECT_FALSE(plain_live()) << "nothing changed for 6 s";
  // Grown while its time stood still (a file system that sets it lazily).
  const auto t = fs::last_write_time(c.plain);
  std::ofstream(c.plain, std::ios::app | std::ios::binary) << std::string(200, '\0');
  fs::last_write_time(c.plain, t);
  a.index();
  EXPECT_TRUE(plain_live()) << "it grew since the last look";
  a.index();
  EXPECT_FALSE(plain_live()) << "and not since";
}

TEST(Archive, two_stations_indexing_one_folder_at_once_both_succeed_and_agree_with_one) {
  Campaign c;
  // All finished, so that every look sees the same.
  fs::last_write_time(c.growing, fs::last_write_time(c.growing) - std::chrono::hours(1));
  TempDir out;
  const std::vector<std::string> env{"TZ=UTC"};
  {
    testing_process::Child one(testing_process::vst_gse(), {"--sessions", c.dir.path()}, c.dir.path(),
                               out.file("one.txt"), env, out.file("one.err"));
    testing_process::Child two(testing_process::vst_gse(), {"--sessions", c.dir.path()}, c.dir.path(),
                               out.file("two.txt"), env, out.file("two.err"));
    EXPECT_EQ(one.wait(120.0), 0) << testing_files::read_text(out.file("one.err"));
    EXPECT_EQ(two.wait(120.0), 0) << testing_files::read_text(out.file("two.err"));
  }
  const std::string list = testing_files::read_text(out.file("one.txt"));
  EXPECT_EQ(testing_files::read_text(out.file("two.txt")), list);
  EXPECT_NE(list.find("flight/60020000.dat"), std::string::npos) << list;
  const std::string both = dump(c.dir.path());
  EXPECT_EQ(count(both, "INSERT INTO sessions VALUES"), 4u) << "one row per session";
  for (const char* extra : {"", "-wal", "-shm"}) fs::remove(rt::archive_path(c.dir.path()) + extra);
  const auto single = testing_process::run(testing_process::vst_gse(), {"--sessions", c.dir.path()}, c.dir.path(),
                                           120.0, env);
  ASSERT_EQ(single.exit_code, 0) << single.err;
  EXPECT_EQ(single.out, list);
  EXPECT_EQ(dump(c.dir.path()), both);
}

TEST(Archive, a_damaged_archive_is_set_aside_and_made_again_a_newer_one_is_left_alone) {
  Campaign c;
  const std::string file = rt::archive_path(c.dir.path());
  const std::string junk = "SQLite format 3 it is not; a disk that failed mid-write";
  Bytes bytes(junk.begin(), junk.end());
  bytes.resize(8192, 0xA5);
  testing_files::write_file(file, bytes);
  {
    rt::Archive a;
    c.index(&a);
    EXPECT_FALSE(a.in_memory());
    EXPECT_NE(a.note().find("damaged"), std::string::npos) << a.note();
    EXPECT_EQ(a.sessions().size(), 4u);
  }
  EXPECT_TRUE(fs::exists(file + ".damaged"));
  {
    rt::sql::Db db;
    ASSERT_TRUE(db.open(file, true));
    ASSERT_TRUE(db.exec("PRAGMA user_version = 99"));
  }
  rt::Archive a;
  c.index(&a);
  EXPECT_TRUE(a.in_memory());
  EXPECT_NE(a.note().find("newer vst_gse (archive version 99"), std::string::npos) << a.note();
  EXPECT_EQ(a.sessions().size(), 4u) << "listed all the same, from memory";
  rt::sql::Db db;
  ASSERT_TRUE(db.open(file, false));
  int64_t version = 0;
  ASSERT_TRUE(db.integer("PRAGMA user_version", &version));
  EXPECT_EQ(version, 99) << "the newer archive is not touched";
}

TEST(Archive, the_program_lists_a_folder_as_text_and_as_json) {
  Campaign c;
  const std::vector<std::string> env{"TZ=UTC"};
  const auto text = testing_process::run(testing_process::vst_gse(), {"--sessions", c.dir.path()}, c.dir.path(),
                                         120.0, env);
  EXPECT_EQ(text.exit_code, 0) << text.err;
  EXPECT_NE(text.out.find("2026-01-02 00:00:00    0:01:02       598         2"), std::string::npos) << text.out;
  EXPECT_NE(text.err.find("1 file named *.dat in"), std::string::npos) << text.err;
  const auto json = testing_process::run(testing_process::vst_gse(), {"--sessions", c.dir.path(), "--json"},
                                         c.dir.path(), 120.0, env);
  EXPECT_EQ(json.exit_code, 0) << json.err;
  const auto doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc["sessions"].size(), 4u);
  const auto& flight = doc["sessions"][1];
  EXPECT_EQ(flight["recording"], "flight/60020000.dat") << "sorted by start: the flight's day is the second";
  EXPECT_EQ(flight["alarms"], 1);
  EXPECT_EQ(flight["port"], "/dev/ttyUSB0");
  EXPECT_EQ(flight["started_local"], "2026-01-03 10:00:00");
  // An unreadable folder: one line and status 1.
  const auto gone = testing_process::run(testing_process::vst_gse(), {"--sessions", c.dir.file("nowhere")},
                                         c.dir.path(), 60.0, env);
  EXPECT_EQ(gone.exit_code, 1);
  EXPECT_NE(gone.err.find("cannot read folder " + c.dir.file("nowhere") + ": No such file or directory"),
            std::string::npos)
      << gone.err;
  EXPECT_EQ(std::count(gone.err.begin(), gone.err.end(), '\n'), 1) << gone.err;
  // A file given as the folder: the same.
  const auto file = testing_process::run(testing_process::vst_gse(), {"--sessions", c.plain}, c.dir.path(), 60.0, env);
  EXPECT_EQ(file.exit_code, 1);
  EXPECT_EQ(file.err, "vst_gse: cannot read folder " + c.plain + ": not a folder\n");
  // An archive of a newer vst_gse: said in one line, left alone, the list
  // made all the same.
  {
    rt::sql::Db db;
    ASSERT_TRUE(db.open(rt::archive_path(c.dir.path()), true));
    ASSERT_TRUE(db.exec("PRAGMA user_version = 7"));
  }
  const auto newer = testing_process::run(testing_process::vst_gse(), {"--sessions", c.dir.path()}, c.dir.path(),
                                          60.0, env);
  EXPECT_EQ(newer.exit_code, 0) << newer.err;
  EXPECT_EQ(count(newer.err, "newer vst_gse (archive version 7"), 1u) << newer.err;
  EXPECT_EQ(newer.out, text.out);
}

TEST(Report, of_a_recorded_pass_holds_its_alarm_rows_notes_and_link_and_opens_in_a_browser) {
  Campaign c;
  const std::string report = c.dir.file("flight report.html");
  const auto run = testing_process::run(testing_process::vst_gse(),
                                        {"--headless", "--speed", "0", "--report", report, c.recorded},
                                        c.dir.path(), 120.0, {"TZ=UTC"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::string html = testing_files::read_text(report);
  EXPECT_NE(html.find("<td>HK16 out of limits</td><td class=\"red\">red</td><td>2026-01-03 10:00:10.0</td>"),
            std::string::npos)
      << html.substr(0, 4000);
  EXPECT_NE(html.find("<td>2026-01-03 10:00:20.0</td></tr>"), std::string::npos) << "acknowledged at T0 + 20 s";
  EXPECT_NE(html.find("<td>2026-01-03 10:00:20.0</td><td>acknowledged</td>"), std::string::npos);
  EXPECT_NE(html.find("<td>2026-01-03 10:00:30.0</td><td>balloon cut-down commanded</td>"), std::string::npos);
  EXPECT_NE(html.find("<td>port lost</td><td>/dev/ttyUSB0: device removed</td>"), std::string::npos);
  EXPECT_NE(html.find("<th>Duration</th><td>0:01:40</td>"), std::string::npos) << "99.5 s from the record's times";
  EXPECT_NE(html.find("vst_gse 3.1.4 on station"), std::string::npos);
  EXPECT_EQ(html.find("src=\"http"), std::string::npos) << "nothing from elsewhere";
  // Opened by a real browser: its document has the tables and pictures.
  const auto dom = testing_process::run("/usr/bin/chromium",
                                        {"--headless", "--no-sandbox", "--disable-gpu", "--dump-dom",
                                         "file://" + report},
                                        c.dir.path(), 120.0);
  ASSERT_EQ(dom.exit_code, 0) << dom.err;
  EXPECT_EQ(count(dom.out, "<svg"), 1 + rt::default_report_values().size()) << "the link and each value";
  EXPECT_NE(dom.out.find("balloon cut-down commanded"), std::string::npos);
  EXPECT_NE(dom.out.find("HK16 out of limits"), std::string::npos);
}

// The default set as the settings hold it: known keys in their order,
// each once; every unknown one named once; nothing usable left: the
// built-in set, never an empty report.
TEST(ReportValues, the_settings_set_keeps_known_keys_in_order_and_names_each_unknown_one_once) {
  const std::vector<std::string> built_in{"HK00", "HK08", "HK16", "HK20"};
  struct Case {
    const char* name;
    std::vector<std::string> stored, keys, unknown;
  };
  const Case cases[] = {
      {"nothing stored", {}, built_in, {}},
      {"known keys, in the order stored", {"HK20", "F12", "HK03"}, {"HK20", "F12", "HK03"}, {}},
      {"repeats kept once", {"HK20", "F12", "HK20"}, {"HK20", "F12"}, {}},
      {"unknown and link keys left out, each named once",
       {"HK99", "HK16", "FPS", "HK99", "hk08"},
       {"HK16"},
       {"HK99", "FPS", "hk08"}},
      {"only unknown keys", {"HK40", "SKIPPED"}, built_in, {"HK40", "SKIPPED"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> unknown;
    EXPECT_EQ(rt::report_values_from_setting(c.stored, &unknown), c.keys) << c.name;
    EXPECT_EQ(unknown, c.unknown) << c.name;
  }
  EXPECT_EQ(rt::default_report_values(), built_in);
}

// --report-values: a known list taken as given; the first key that is no
// report value refused by name, in one line.
TEST(ReportValues, the_option_takes_known_keys_and_refuses_the_first_unknown_one_by_name) {
  const std::string names = " in the frames (the trends' names: HK00 to HK39, FCOUNT, F12, ...)";
  struct Case {
    const char* text;
    std::vector<std::string> keys;
    std::string error;
  };
  const Case cases[] = {
      {"HK16", {"HK16"}, ""},
      {"HK16,F12,ELAPSED_K1", {"HK16", "F12", "ELAPSED_K1"}, ""},
      {" HK16 , F12,HK16", {"HK16", "F12"}, ""},
      {"HK16,HK61", {}, "--report-values: no value HK61" + names},
      {"hk16", {}, "--report-values: no value hk16" + names},
      {"FPS", {}, "--report-values: no value FPS" + names},
      {"HK16,,HK00", {}, "--report-values: an empty name in \"HK16,,HK00\" (KEY,KEY,...: HK16,F12)"},
      {"HK16,", {}, "--report-values: an empty name in \"HK16,\" (KEY,KEY,...: HK16,F12)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> keys{"left over"};
    std::string error;
    EXPECT_EQ(rt::parse_report_values(c.text, &keys, &error), c.error.empty()) << c.text;
    EXPECT_EQ(keys, c.keys) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(Report, draws_the_values_named_on_the_command_line_else_the_set_the_settings_keep) {
  Campaign c;
  const auto caption = [](const std::string& key) { return "<figcaption>" + key + ": "; };
  const std::string chosen = c.dir.file("hk16.html");
  const auto run = testing_process::run(
      testing_process::vst_gse(), {"--headless", "--speed", "0", "--report", chosen, "--report-values", "HK16", c.plain},
      c.dir.path(), 120.0);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::string html = testing_files::read_text(chosen);
  EXPECT_NE(html.find(caption("HK16")), std::string::npos);
  EXPECT_EQ(html.find(caption("HK00")), std::string::npos);
  EXPECT_EQ(count(html, "<svg"), 2u) << "the link and HK16";

  // The settings' set (the window's "Keep as default"), one key in it
  // unknown: left out and said once in the log.
  const std::string ini = c.dir.file("vst_gse/vst_gse.ini");  // XDG_CONFIG_HOME is the run's folder
  fs::create_directories(fs::path(ini).parent_path());
  std::ofstream(ini) << "[report]\nvalues=HK99, HK20, F12\n";
  const std::string kept = c.dir.file("kept.html"), log = c.dir.file("kept.log");
  const auto settled = testing_process::run(
      testing_process::vst_gse(), {"--headless", "--speed", "0", "--report", kept, "--log", log, c.plain},
      c.dir.path(), 120.0);
  EXPECT_EQ(settled.exit_code, 0) << settled.err;
  html = testing_files::read_text(kept);
  EXPECT_NE(html.find(caption("HK20")), std::string::npos);
  EXPECT_NE(html.find(caption("F12")), std::string::npos);
  EXPECT_EQ(html.find(caption("HK00")), std::string::npos);
  EXPECT_EQ(count(html, "<svg"), 3u) << "the link, HK20 and F12";
  const std::string logged = testing_files::read_text(log);
  EXPECT_EQ(count(logged, "Report values in the settings (" + ini + "): no value HK99 in the frames"), 1u) << logged;

  // An unknown key on the command line refuses the run before it starts:
  // status 2, one line naming it.
  const std::string refused_file = c.dir.file("refused.html");
  const auto refused = testing_process::run(
      testing_process::vst_gse(),
      {"--headless", "--report", refused_file, "--report-values", "HK16,HK61", c.plain}, c.dir.path(), 60.0);
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_EQ(refused.err,
            "vst_gse: --report-values: no value HK61 in the frames (the trends' names: HK00 to HK39, FCOUNT, F12, "
            "...)\n");
  EXPECT_FALSE(fs::exists(refused_file));
  const auto alone = testing_process::run(testing_process::vst_gse(),
                                          {"--headless", "--report-values", "HK16", c.plain}, c.dir.path(), 60.0);
  EXPECT_EQ(alone.exit_code, 2);
  EXPECT_NE(alone.err.find("vst_gse: --report-values chooses the values of the --report FILE: name it\n"),
            std::string::npos)
      << alone.err;
}

TEST(Report, without_a_record_says_its_times_are_estimated_and_a_bad_input_fails_in_one_line) {
  Campaign c;
  std::string html, error;
  rt::ReportOptions options;
  options.values = {"HK16"};
  ASSERT_TRUE(rt::make_report(c.plain, options, &html, &error)) << error;
  EXPECT_NE(html.find("no session record: times are estimated from its name"), std::string::npos);
  EXPECT_NE(html.find("<th>Failed frames</th><td>2 (checksum 2, illegal escape 0)</td>"), std::string::npos);
  EXPECT_NE(html.find("<p>No alarm.</p>"), std::string::npos);
  // The band of minute 0 spans -40 to -20 degC: the chart's value axis.
  EXPECT_NE(html.find(">-40.00</text>"), std::string::npos);
  EXPECT_NE(html.find(">-20.00</text>"), std::string::npos);
  options.values = {"HK99"};
  EXPECT_FALSE(rt::make_report(c.plain, options, &html, &error));
  EXPECT_NE(error.find("no value HK99"), std::string::npos) << error;
  const auto run = testing_process::run(testing_process::vst_gse(),
                                        {"--headless", "--speed", "0", "--report", c.dir.file("none/r.html"), c.plain},
                                        c.dir.path(), 120.0);
  EXPECT_EQ(run.exit_code, 4) << "the output failed";
  EXPECT_NE(run.err.find("cannot write report " + c.dir.file("none/r.html") + ": No such file or directory"),
            std::string::npos)
      << run.err;
  // Standard input or a pipe cannot be read again once played: refused
  // before the run, in one line.
  const std::string fifo = c.dir.file("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& input : {std::string("-"), fifo}) {
    const auto refused = testing_process::run(testing_process::vst_gse(),
                                              {"--headless", "--report", c.dir.file("r.html"), input}, c.dir.path(),
                                              60.0);
    EXPECT_EQ(refused.exit_code, 2) << input;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
    EXPECT_NE(refused.err.find("--report needs a recording file: "), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find(input == "-" ? "standard input cannot be read again" : fifo + " is a pipe"),
              std::string::npos)
        << refused.err;
  }
  EXPECT_FALSE(fs::exists(c.dir.file("r.html")));
}

}  // namespace
