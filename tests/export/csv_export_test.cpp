// --csv-panel FILE through the built program: one row per good frame, the columns
// in identifier order, each value what the trace last gave that display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "ui/panel.h"
#include "export/panel_csv.h"
#include "runtime/model.h"
#include "runtime/panel_file.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"
#include "support/trace_reader.h"

namespace {

using testing_files::TempDir;
using Rows = std::vector<std::vector<std::string>>;
using testing_files::parse_csv;

// Frames with every kind of display value: each frame counter's kind picks
// which fields the decoder shows, the floats include NaN and infinities.
std::vector<uint8_t> varied_recording(int n) {
  std::vector<uint8_t> out;
  const float floats[] = {1.5f, -0.003817f, NAN, INFINITY, -INFINITY, 273.4f, 1e-30f};
  for (int i = 0; i < n; ++i) {
    testing_frames::FrameBuilder b;
    b.counter(static_cast<uint32_t>(i + 1))
        .header_fields(i % 32, (3 * i) % 64)
        .long32(6, 1000 * i - 7)
        .word(10, 40 * i - 300)
        .float32(12, floats[i % 7])
        .float32(16, static_cast<float>(i) / 3.0f)
        .float32(20, floats[(i + 3) % 7])
        .float32(24, -static_cast<float>(i) * 1.25f)
        .word(28, 1000 + 517 * i)
        .word(190, 5 * i - 11)
        .word(192, 7 * i)
        .word(194, -3 * i)
        .word(196, 32767 - i);
    if (i == 7) out.insert(out.end(), {0xEB, 0x00, 0x42});  // noise: skipped bytes
    testing_frames::append(out, b.bytes);
    if (i == 12) {
      testing_frames::FrameBuilder bad;
      bad.counter(5000).corrupt();
      testing_frames::append(out, bad.bytes);
    }
  }
  return out;
}

// The display controls in identifier order, from the panel file.
std::vector<std::string> display_names() {
  rt::PanelLayout layout;
  std::string error;
  EXPECT_TRUE(rt::read_panel_file(testing_files::source_dir() + "/ui/gse.uir", PANEL, &layout, &error))
      << error;
  std::vector<std::pair<int, std::string>> displays;
  for (const auto& c : layout.controls)
    if (c.kind == rt::Kind::Display || c.kind == rt::Kind::TextBox) displays.emplace_back(c.id, c.name);
  std::sort(displays.begin(), displays.end());
  std::vector<std::string> names;
  for (const auto& d : displays) names.push_back(d.second);
  return names;
}

// What each display shows after every good frame, by the trace: the last
// SetCtrlVal value of each control when the status turns to the blank.
Rows rows_from_trace(const std::vector<testing_trace::Line>& trace,
                     const std::vector<std::string>& columns) {
  Rows rows;
  std::map<std::string, std::string> last;
  for (const auto& l : trace) {
    if (l.op != "SetCtrlVal") continue;
    last[l.ctrl] = l.field("value");
    if (l.ctrl == "PANEL_STATUS" && l.field("value") == " ") {
      std::vector<std::string> row{std::to_string(rows.size() + 1)};
      for (const auto& c : columns) row.push_back(last.count(c) ? last[c] : "");
      rows.push_back(row);
    }
  }
  return rows;
}

struct CsvRun {
  testing_process::RunResult result;
  std::string csv;
  std::vector<testing_trace::Line> trace;
};

CsvRun run_with_csv(const TempDir& dir, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--speed", "0", "--trace", "trace.jsonl", "--csv-panel", "out.csv"};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("rec.dat");
  CsvRun r;
  r.result = testing_process::run(testing_process::vst_gse(), args, dir.path(), 60.0,
                                  {"QT_QPA_PLATFORM=offscreen"});
  r.csv = testing_files::read_text(dir.file("out.csv"));
  r.trace = testing_trace::parse(testing_files::read_text(dir.file("trace.jsonl")));
  return r;
}

TEST(CsvExport, one_row_per_good_frame_in_identifier_order_with_the_traced_values) {
  TempDir dir;
  constexpr int N = 40;
  testing_files::write_file(dir.file("rec.dat"), varied_recording(N));
  const CsvRun r = run_with_csv(dir, {"--headless"});
  ASSERT_EQ(r.result.exit_code, 0) << r.result.out << r.result.err;

  const Rows rows = parse_csv(r.csv);
  ASSERT_FALSE(rows.empty());
  std::vector<std::string> header{"frame"};
  const std::vector<std::string> names = display_names();
  header.insert(header.end(), names.begin(), names.end());
  EXPECT_EQ(rows[0], header) << "frame, then every display by identifier";
  EXPECT_EQ(std::count(header.begin(), header.end(), "PANEL_HEXDUMP"), 1);
  EXPECT_EQ(std::count(header.begin(), header.end(), "PANEL_COUNT"), 0) << "inputs are not exported";

  const Rows expected = rows_from_trace(r.trace, names);
  ASSERT_EQ(expected.size(), static_cast<size_t>(N)) << "the recording has N good frames";
  ASSERT_EQ(rows.size(), expected.size() + 1) << "one row per good frame";
  for (size_t k = 0; k < expected.size(); ++k) {
    ASSERT_EQ(rows[k + 1].size(), header.size()) << "row " << k + 1;
    for (size_t c = 0; c < header.size(); ++c)
      EXPECT_EQ(rows[k + 1][c], expected[k][c]) << "row " << k + 1 << ", " << header[c];
  }
  // The hex dump holds line breaks: quoted, and read back whole.
  EXPECT_NE(r.csv.find(",\"\nEB90"), std::string::npos) << "the hex dump field is quoted";
  const auto col = std::find(header.begin(), header.end(), "PANEL_HEXDUMP") - header.begin();
  EXPECT_EQ(rows[1][static_cast<size_t>(col)].size(), 408u);
}

// The same export with the window: the rows do not depend on it.
TEST(CsvExport, with_the_window_the_rows_are_those_of_a_headless_run) {
  TempDir headless, windowed;
  constexpr int N = 15;
  const auto rec = varied_recording(N);
  testing_files::write_file(headless.file("rec.dat"), rec);
  testing_files::write_file(windowed.file("rec.dat"), rec);
  const std::string quit = std::to_string(N + 4) + " PANEL_QUIT\n";
  testing_files::write_file(windowed.file("quit.txt"), {quit.begin(), quit.end()});
  const CsvRun a = run_with_csv(headless, {"--headless"});
  const CsvRun b = run_with_csv(windowed, {"--events", "quit.txt"});
  ASSERT_EQ(a.result.exit_code, 0) << a.result.out << a.result.err;
  ASSERT_EQ(b.result.exit_code, 0) << b.result.out << b.result.err;
  EXPECT_EQ(parse_csv(b.csv).size(), static_cast<size_t>(N + 1));
  EXPECT_EQ(b.csv, a.csv);
}

TEST(CsvExport, fields_are_quoted_only_when_csv_needs_it) {
  struct Case {
    const char* name;
    std::string text, field;
  };
  const Case cases[] = {
      {"plain", "EOF on input file", "EOF on input file"},
      {"blank", " ", " "},
      {"empty", "", ""},
      {"comma", "a,b", "\"a,b\""},
      {"quote", "say \"hi\"", "\"say \"\"hi\"\"\""},
      {"line feed", "\nEB90\n", "\"\nEB90\n\""},
      {"carriage return", "a\rb", "\"a\rb\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rt::csv_field(c.text), c.field) << c.name;
    const Rows back = parse_csv(rt::csv_field(c.text) + ",x\n");
    ASSERT_EQ(back.size(), 1u) << c.name;
    EXPECT_EQ(back[0][0], c.text) << c.name << " reads back";
  }
}

TEST(CsvExport, an_unwritable_file_fails_start_up_naming_it) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), varied_recording(2));
  const auto r = testing_process::run(
      testing_process::vst_gse(),
      {"--headless", "--speed", "0", "--csv-panel", dir.file("no/such/dir/out.csv"), "rec.dat"},
      dir.path(), 60.0, {"QT_QPA_PLATFORM=offscreen"});
  EXPECT_EQ(r.exit_code, 4) << "an output that cannot be written, as for --csv";
  EXPECT_NE(r.out.find("no/such/dir/out.csv"), std::string::npos) << r.out;
}

}  // namespace
