// The playback transport and the spectra export, driven in this process:
// the program's entry plays a recording on its own thread while the test acts
// as the window (pause, resume, speed, quit, "Save spectra").
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ui/panel.h"
#include "support/program_run.h"
#include "runtime/context.h"
#include "runtime/model.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_program::counted_frame;
using testing_program::ProgramRun;
using testing_files::TempDir;
using testing_process::wait_until;

long good_frames() { return rt::transport_position().good_frames; }

void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// After a pause, the frame under way (and its wait) completes and the
// system's thread holds in Delay: the trace ends with that Delay and stays
// so. Returns the count of good frames then.
long settled_frames() {
  long n = good_frames();
  wait_until(60.0, [&] {
    const std::vector<std::string> lines = rt::trace_lines();
    n = good_frames();
    if (lines.empty() || lines.back().find("\"op\":\"Delay\"") == std::string::npos) return false;
    sleep_s(0.4);
    return rt::trace_lines().size() == lines.size() && good_frames() == n;
  });
  return n;
}

// Frames 0..n-1, with three noise bytes before every tenth (so the position
// counts skipped bytes too).
std::vector<uint8_t> recording(int n) {
  std::vector<uint8_t> out;
  for (int i = 0; i < n; ++i) {
    if (i % 10 == 9) out.insert(out.end(), {0x12, 0x34, 0x56});
    testing_frames::append(out, counted_frame(static_cast<uint32_t>(i)));
  }
  return out;
}

// The bytes consumed once `good` frames of recording() have been shown.
int64_t consumed(long good) { return 200 * good + 3 * (good / 10); }

std::vector<std::string> dumps_of_frames(int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.push_back(testing_program::hex_dump(counted_frame(static_cast<uint32_t>(i))));
  return out;
}

TEST(Transport, pause_holds_playback_and_resume_neither_loses_nor_repeats_a_frame) {
  TempDir dir;
  constexpr int N = 60;
  const auto rec = recording(N);
  ProgramRun run(dir.file("rec.dat"), rec, 5.0, true, "", true);
  sleep_s(0.8);
  EXPECT_EQ(good_frames(), 0) << "paused from the start: no frame read";
  EXPECT_TRUE(testing_program::hex_dumps(run.trace()).empty());

  rt::transport_set_paused(false);
  ASSERT_TRUE(wait_until(20.0, [] { return good_frames() >= 10; }));
  rt::transport_set_paused(true);
  const long held = settled_frames();
  EXPECT_LT(held, N) << "paused before the end";
  EXPECT_EQ(testing_program::hex_dumps(run.trace()).size(), static_cast<size_t>(held));
  sleep_s(0.6);
  EXPECT_EQ(good_frames(), held) << "no frame is read while paused";
  EXPECT_EQ(testing_program::hex_dumps(run.trace()).size(), static_cast<size_t>(held));
  EXPECT_EQ(rt::transport_position().bytes, consumed(held)) << "position while paused";

  rt::transport_set_paused(false);
  ASSERT_TRUE(run.finished(30.0)) << "playback resumes and reaches the end";
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(testing_program::hex_dumps(run.trace()), dumps_of_frames(N))
      << "every frame shown once, in order";
  const rt::Position p = rt::transport_position();
  EXPECT_EQ(p.good_frames, N);
  EXPECT_EQ(p.total, static_cast<int64_t>(rec.size()));
  EXPECT_EQ(p.bytes, p.total) << "end of input: the whole file";
}

TEST(Transport, position_reaches_the_whole_file_at_the_end_even_after_a_cut_frame) {
  TempDir dir;
  std::vector<uint8_t> cut = recording(12);
  cut.resize(cut.size() - 50);  // the last frame is cut: never shown
  ProgramRun run(dir.file("rec.dat"), cut, 0.0, false);
  ASSERT_TRUE(wait_until(20.0, [] { return good_frames() == 11; }));
  ASSERT_TRUE(wait_until(5.0, [] { return rt::transport_position().bytes > consumed(11); }));
  const rt::Position p = rt::transport_position();
  EXPECT_EQ(p.total, static_cast<int64_t>(cut.size()));
  EXPECT_EQ(p.bytes, p.total) << "the end of input shows the whole file";
  rt::request_quit();
  ASSERT_TRUE(run.finished(20.0));
}

// A window's playback that has run out goes on calling the reader; at speed
// 0 its waits would be none and the passes would spin a core on nothing.
TEST(Transport, a_playback_that_has_run_out_keeps_the_nominal_pace_even_at_speed_0) {
  TempDir dir;
  ProgramRun run(dir.file("rec.dat"), recording(5), 0.0, false);
  ASSERT_TRUE(wait_until(20.0, [] { return good_frames() == 5; }));
  auto delays = [] {
    long n = 0;
    for (const std::string& line : rt::trace_lines()) n += line.find("\"op\":\"Delay\"") != std::string::npos;
    return n;
  };
  ASSERT_TRUE(wait_until(5.0, [] { return rt::transport_position().bytes == rt::transport_position().total; }));
  const long before = delays();
  sleep_s(1.0);  // a second of passes over nothing: about ten waits of 0.1 s
  EXPECT_LE(delays() - before, 30);
  rt::request_quit();
  ASSERT_TRUE(run.finished(20.0));
}

// A quit must end the program even while playback is paused: Ctrl+C and
// SIGTERM come as a run-time quit request, the window's close (and the
// panel's quit button) as a queued PANEL_QUIT.
TEST(Transport, a_quit_releases_a_paused_playback) {
  struct Case {
    const char* name;
    void (*quit)();
  };
  const Case cases[] = {
      {"Ctrl+C / SIGTERM", [] { rt::request_quit(); }},
      {"window closed", [] { rt::current_model()->post_event(PANEL_QUIT); }},
  };
  for (const Case& c : cases) {
    TempDir dir;
    ProgramRun run(dir.file("rec.dat"), recording(40), 5.0, false, "", true);
    ASSERT_TRUE(wait_until(10.0, [] { return rt::current_model() != nullptr; })) << c.name;
    sleep_s(0.3);
    ASSERT_FALSE(run.finished(0.0)) << c.name;
    c.quit();
    ASSERT_TRUE(run.finished(10.0)) << c.name << ": the program ends while paused";
    EXPECT_EQ(run.exit_code(), 0) << c.name;
    const auto quits = testing_trace::select(run.trace(), "Event", "PANEL_QUIT");
    EXPECT_EQ(quits.size(), 1u) << c.name << ": through the normal quit";
  }
}

TEST(Transport, a_speed_change_applies_from_the_next_wait_and_the_trace_keeps_the_request) {
  rt::reset_ui_for_tests();
  rt::trace_to_memory();
  rt::set_speed(1.0);
  double first_s = 0, second_s = 0;
  std::thread system([&] {
    auto t0 = std::chrono::steady_clock::now();
    Delay(1.0);
    auto t1 = std::chrono::steady_clock::now();
    Delay(1000.0);
    auto t2 = std::chrono::steady_clock::now();
    first_s = std::chrono::duration<double>(t1 - t0).count();
    second_s = std::chrono::duration<double>(t2 - t1).count();
  });
  // Delay is traced just before its wait begins; a moment later the wait
  // is under way.
  EXPECT_TRUE(wait_until(30.0, [] { return !rt::trace_lines().empty(); }));
  sleep_s(0.1);
  rt::transport_set_speed(0.0);  // "as fast as possible", during the first wait
  system.join();
  EXPECT_GE(first_s, 0.8) << "the wait under way keeps the speed it began with";
  EXPECT_LT(second_s, 60.0) << "the next wait is at the new speed (1000 s at 1x)";
  const auto delays = testing_trace::select(testing_trace::parse([] {
    std::string t;
    for (const auto& l : rt::trace_lines()) t += l + "\n";
    return t;
  }()), "Delay");
  ASSERT_EQ(delays.size(), 2u);
  EXPECT_EQ(delays[0].number_field("seconds"), 1.0);
  EXPECT_EQ(delays[1].number_field("seconds"), 1000.0) << "the trace shows the requested wait";
  rt::reset_ui_for_tests();
}

TEST(Transport, the_system_names_its_recording_file_through_a_panel_attribute) {
  rt::reset_ui_for_tests();
  const int panel = LoadPanel(0, "gse.uir", PANEL);
  ASSERT_GT(panel, 0) << PanelErrorText();
  EXPECT_EQ(rt::transport_recording(), "") << "not recording until told";
  const std::string title = rt::current_model()->title();
  EXPECT_EQ(SetPanelAttribute(panel, ATTR_PANEL_RECORDING_FILE, "4123456.dat"), 0);
  EXPECT_EQ(rt::transport_recording(), "4123456.dat");
  EXPECT_EQ(rt::current_model()->title(), title) << "the title is a separate attribute";
  EXPECT_EQ(SetPanelAttribute(panel, 999, "x"), -1) << "unknown attribute";
  rt::reset_ui_for_tests();
}

// ----- Save spectra ----------------------------------------------------------

struct Row {
  int spectrum = 0, channel = 0;
  double position = 0, width = 0, total = 0, frames = 0, rate = 0;
};

struct SpectraFile {
  std::vector<std::string> comments;
  std::string header;
  std::vector<Row> rows;
};

SpectraFile read_spectra(const std::string& path) {
  SpectraFile f;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("#", 0) == 0) {
      f.comments.push_back(line);
    } else if (f.header.empty()) {
      f.header = line;
    } else {
      Row r;
      char c;
      std::istringstream s(line);
      s >> r.spectrum >> c >> r.channel >> c >> r.position >> c >> r.width >> c >> r.total >> c >>
          r.frames >> c >> r.rate;
      f.rows.push_back(r);
    }
  }
  return f;
}

// The frames' own words, summed per channel, over the width, the blocks,
// the frames of the channel's block and the time scale 2.2.
TEST(SpectraExport, csv_of_a_recording_matches_rates_computed_from_its_frames) {
  TempDir dir;
  constexpr int N = 45;
  std::vector<uint8_t> rec;
  for (int i = 0; i < N; ++i) {
    testing_frames::append(rec, counted_frame(static_cast<uint32_t>(i)));
    if (i == 20) {  // a corrupt frame: read, refused, not counted
      testing_frames::FrameBuilder bad;
      bad.counter(999).spec48(0, 30000).spec256(0, 30000).corrupt();
      testing_frames::append(rec, bad.bytes);
    }
  }
  // The Clear first: the 48-channel totals outlive a run in one process.
  ProgramRun run(dir.file("rec.dat"), rec, 0.0, false, "0 PANEL_CLEAR\n");
  ASSERT_TRUE(wait_until(30.0, [] { return good_frames() == N; }));
  sleep_s(0.2);
  const std::string out = dir.file("spectra.csv");
  const uint64_t before = rt::transport_message().serial;
  rt::transport_request_spectra(out);  // as the window's "Save spectra"
  ASSERT_TRUE(wait_until(10.0, [&] { return rt::transport_message().serial != before; }));
  EXPECT_EQ(rt::transport_message().text, "Spectra saved to " + out);
  rt::request_quit();
  ASSERT_TRUE(run.finished(10.0));

  double total48[48] = {}, frames48[4] = {}, total256[256] = {}, frames256[32] = {};
  for (uint32_t n = 0; n < N; ++n) {
    const auto f = counted_frame(n);
    frames48[n % 4] += 1;
    frames256[n % 32] += 1;
    for (int i = 0; i < 12; ++i) total48[12 * (n % 4) + i] += f[150 + 2 * i] * 256 + f[151 + 2 * i];
    for (int i = 0; i < 8; ++i) total256[8 * (n % 32) + i] += f[174 + 2 * i] * 256 + f[175 + 2 * i];
  }

  const SpectraFile file = read_spectra(out);
  ASSERT_EQ(file.comments.size(), 3u);
  EXPECT_NE(file.comments[1].find("# source: playback of " + dir.file("rec.dat")), std::string::npos)
      << file.comments[1];
  EXPECT_EQ(file.comments[2].rfind("# saved: 20", 0), 0u) << file.comments[2];
  EXPECT_EQ(file.header, "spectrum,channel,position,width,total,frames,rate");
  ASSERT_EQ(file.rows.size(), 48u + 256u);
  for (size_t k = 0; k < file.rows.size(); ++k) {
    const Row& r = file.rows[k];
    const bool s48 = k < 48;
    const int ch = static_cast<int>(s48 ? k : k - 48);
    const std::string name = (s48 ? "48/" : "256/") + std::to_string(ch);
    EXPECT_EQ(r.spectrum, s48 ? 48 : 256) << name;
    EXPECT_EQ(r.channel, ch) << name;
    const double total = s48 ? total48[ch] : total256[ch];
    const double frames = s48 ? frames48[ch / 12] : frames256[ch / 8];
    const double blocks = s48 ? 4 : 32;
    EXPECT_EQ(r.total, total) << name;
    EXPECT_EQ(r.frames, frames) << name;
    const double rate = frames == 0 ? 0 : total / (r.width * blocks * frames * 2.2);
    EXPECT_NEAR(r.rate, rate, 1e-6 * std::abs(rate)) << name;
  }
  // Channel tables: the first of each, and the widths' sums (the edges).
  EXPECT_EQ(file.rows[0].position, 44);
  EXPECT_EQ(file.rows[0].width, 4);
  EXPECT_EQ(file.rows[48].position, 0.5);
  EXPECT_EQ(file.rows[48].width, 1);
  double edge48 = 42, edge256 = 0;
  for (int i = 0; i < 48; ++i) edge48 += file.rows[static_cast<size_t>(i)].width;
  for (int i = 0; i < 256; ++i) edge256 += file.rows[static_cast<size_t>(48 + i)].width;
  EXPECT_EQ(edge48, 1696);
  EXPECT_EQ(edge256, 4096);
  rt::reset_ui_for_tests();
}

// While paused the system's thread is held in Delay; "Save spectra" must
// still be answered there, and between two frames.
TEST(SpectraExport, is_saved_while_playback_is_paused) {
  TempDir dir;
  ProgramRun run(dir.file("rec.dat"), recording(40), 5.0, false);
  ASSERT_TRUE(wait_until(10.0, [] { return good_frames() >= 3; }));
  rt::transport_set_paused(true);
  const long held = settled_frames();
  const std::string out = dir.file("paused.csv");
  const uint64_t before = rt::transport_message().serial;
  rt::transport_request_spectra(out);
  ASSERT_TRUE(wait_until(10.0, [&] { return rt::transport_message().serial != before; }));
  EXPECT_EQ(rt::transport_message().text, "Spectra saved to " + out);
  EXPECT_EQ(good_frames(), held) << "saving reads no frame";
  EXPECT_EQ(read_spectra(out).rows.size(), 48u + 256u);
  rt::request_quit();
  ASSERT_TRUE(run.finished(10.0));
}

TEST(SpectraExport, a_file_that_cannot_be_written_is_reported_not_claimed) {
  using Writer = void (*)(void*, FILE*);
  const Writer short_rows = [](void*, FILE* out) { std::fputs("x\n", out); };
  // The disk fills in the middle of the rows. The last block is larger
  // than the stream's buffer, so it goes straight to the file and leaves
  // nothing for the close to flush: only the stream's error flag tells.
  const Writer long_rows = [](void*, FILE* out) {
    for (int i = 0; i < 100; ++i) std::fputs("256,255,4064,64,123456789,1000,1.23456789\n", out);
    static const std::vector<char> block(65536, '0');
    std::fwrite(block.data(), 1, block.size(), out);
  };
  struct Case {
    const char* name;
    const char* path;
    Writer write;
    const char* message;
  } cases[] = {
      {"no such directory", "/nonexistent-dir/spectra.csv", short_rows,
       "Spectra not saved: cannot write /nonexistent-dir/spectra.csv: "},
      {"disk full in the middle", "/dev/full", long_rows, "Spectra not saved: error writing /dev/full"},
      {"disk full at the close", "/dev/full", short_rows, "Spectra not saved: error writing /dev/full"},
  };
  for (const Case& c : cases) {
    if (std::string(c.path) == "/dev/full" && !std::filesystem::exists(c.path)) continue;
    rt::reset_ui_for_tests();
    RegisterSpectraExport(c.write, nullptr);
    rt::transport_request_spectra(c.path);
    EXPECT_TRUE(rt::transport_run_spectra_request()) << c.name;
    const std::string text = rt::transport_message().text;
    EXPECT_EQ(text.rfind(c.message, 0), 0u) << c.name << ": " << text;
    EXPECT_FALSE(rt::transport_run_spectra_request()) << c.name << ": a request is handled once";
  }
  rt::reset_ui_for_tests();
}

}  // namespace
