// The session record through the built vst_gse: a live pass over a
// pseudo-terminal (a silence of 10 s, a lost port and its return, a note, a
// time-out cutting a frame), its record, and its playback on the pass's own
// time; and a record that the disk stops, with the recording exact.
#include <signal.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "history/pass.h"
#include "history/timeline.h"
#include "history/trend_store.h"
#include "record/record_reader.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/rehearsal.h"
#include "support/trace_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;
using testing_pty::InstrumentPty;

constexpr double WAIT_S = 60.0;  // generous: the machine may be loaded

// Frames first .. first+n-1 as the link carries them.
Bytes frames(uint32_t first, int n) {
  Bytes out;
  for (int i = 0; i < n; ++i) testing_frames::append(out, testing_frames::good(first + static_cast<uint32_t>(i)).vec());
  return out;
}

// A headless live station in a fresh folder, on `port`.
struct Station {
  TempDir dir;
  std::unique_ptr<Child> program;

  Station(const std::string& port, const std::string& events, bool trace = true) {
    std::vector<std::string> args{"--headless", "--port", port, "--summary", "summary.json"};
    if (trace) args.insert(args.end(), {"--trace", "trace.jsonl"});
    if (!events.empty()) {
      testing_files::write_file(dir.file("events.txt"), Bytes(events.begin(), events.end()));
      args.insert(args.end(), {"--events", "events.txt"});
    }
    program = std::make_unique<Child>(testing_process::vst_gse(), args, dir.path(), dir.file("stdout.txt"),
                                      std::vector<std::string>{}, dir.file("stderr.txt"));
  }
  std::string recording() const {
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      if (e.path().extension() == ".dat") return e.path().string();
    return "";
  }
  std::string log() const {
    const std::string r = recording();
    return r.empty() ? "" : read_text(r.substr(0, r.size() - 4) + ".log");
  }
  bool log_has(const std::string& text, size_t from = 0) const {
    return wait_until(WAIT_S, [&] { return log().find(text, from) != std::string::npos; });
  }
  std::vector<testing_trace::Line> trace() const { return testing_trace::parse(read_text(dir.file("trace.jsonl"))); }
  int quit() {
    program->signal(SIGTERM);
    return program->wait(WAIT_S);
  }
};

// The values the panel showed with each good frame, from the trace: the
// skipped count written before each blank status.
std::vector<long> skipped_shown(const std::vector<testing_trace::Line>& trace) {
  std::vector<long> out;
  long skipped = 0;
  for (const auto& l : trace) {
    if (l.ctrl == "PANEL_SKIPPED" && l.op == "SetCtrlVal") skipped = l.int_field("value");
    if (l.ctrl == "PANEL_STATUS" && l.op == "SetCtrlVal" && l.field("value") == " ") out.push_back(skipped);
  }
  return out;
}

// The trend store of a recording read with its pass, once built.
struct Trends {
  std::shared_ptr<const rt::Pass> pass;
  std::unique_ptr<rt::TrendStore> store;
  explicit Trends(const std::string& recording) {
    auto p = std::make_shared<rt::Pass>();
    std::string why;
    EXPECT_EQ(rt::read_session_record(recording, p.get(), &why), rt::PassFound::Found) << why;
    pass = p;
    store = std::make_unique<rt::TrendStore>(rt::TrendSource{recording, rt::FrameRules::Playback, false}, nullptr,
                                             0.5, pass);
    store->want({"FCOUNT"});
    EXPECT_TRUE(store->wait_idle(WAIT_S));
  }
};

TEST(RecordLive, a_pass_reviewed_has_the_times_gaps_alarms_and_notes_it_had_live) {
  TempDir links;
  const std::string port = links.file("ttyGSE");
  auto first = std::make_unique<InstrumentPty>();
  std::filesystem::create_symlink(first->slave_path(), port);
  Station s(port, "25 --note balloon cut-down commanded here # as it was said\n");
  ASSERT_TRUE(s.log_has("serial port ready")) << s.log();
  first->send_paced(frames(1, 30), 1920.0);
  // A silence of 10 s: the link reads silent, the alarm is raised.
  ASSERT_TRUE(s.log_has("ALARM link: LINK SILENT")) << s.log();
  std::this_thread::sleep_for(std::chrono::milliseconds(10000 - 3000));  // the silence itself is the test's input
  first->send_paced(frames(31, 20), 1920.0);
  // The port lost and back, as an adapter pulled out and put in again.
  first->hang_up();
  std::filesystem::remove(port);
  ASSERT_TRUE(s.log_has("port lost: " + port)) << s.log();
  InstrumentPty second;
  std::filesystem::create_symlink(second.slave_path(), port);
  // Frames until the station takes them again (it reopens the device
  // within its time-out of the return).
  uint32_t next = 51;
  while (skipped_shown(s.trace()).size() < 60 && next < 300) second.send_paced(frames(next++, 1), 1920.0);
  ASSERT_LT(next, 300u) << s.log();
  second.send_paced(frames(next, 10), 1920.0);
  ASSERT_TRUE(s.log_has("port returned: " + port)) << s.log();
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return skipped_shown(s.trace()).size() >= 70; }))
      << skipped_shown(s.trace()).size() << " frames shown\n" << s.log();
  EXPECT_EQ(s.quit(), 0) << read_text(s.dir.file("stdout.txt"));
  const size_t total = skipped_shown(s.trace()).size();
  const std::string recording = s.recording();
  ASSERT_FALSE(recording.empty());
  ASSERT_TRUE(std::filesystem::exists(recording.substr(0, recording.size() - 4) + ".session"));

  // The record: every frame shown, at the time it came; the silence a gap.
  Trends t(recording);
  const auto& shown = t.pass->frames->frames;
  ASSERT_EQ(shown.size(), total);
  t.store->read([&](const rt::TrendData& d) {
    ASSERT_EQ(d.frames(), total);
    for (size_t i = 0; i < d.frames(); ++i)
      EXPECT_NEAR(d.time_s[i], shown[i].t_s, 0.010) << "frame " << i << ": the trend's time is its reception time";
    EXPECT_GE(d.time_s[30] - d.time_s[29], 9.5) << "the silence stands as a gap of its length";
    EXPECT_LT(d.time_s[29] - d.time_s[28], 1.0);
  });
  // Its events, alarms and the note.
  bool silent = false, lost = false, back = false;
  for (const rt::PassEvent& e : t.pass->events) {
    silent = silent || (e.kind == "link" && e.text.rfind("link silent", 0) == 0);
    lost = lost || e.kind == "port lost";
    back = back || e.kind == "port returned";
  }
  EXPECT_TRUE(silent && lost && back);
  ASSERT_EQ(t.pass->notes().size(), 1u);
  EXPECT_EQ(t.pass->notes()[0]->text, "balloon cut-down commanded here # as it was said");
  const double note_t = t.pass->notes()[0]->t_s;
  EXPECT_TRUE(note_t > shown[24].t_s && note_t < shown[29].t_s + 1.0) << "the note stands where it was made";
  ASSERT_EQ(t.pass->runs.size(), 1u);
  EXPECT_EQ(t.pass->runs[0].source, port);

  // The playback: the alarm list is the live one, the summary the pass's.
  const std::string live_summary = read_text(s.dir.file("summary.json"));
  const auto played = testing_process::run(testing_process::vst_gse(),
                                           {"--headless", "--speed", "0", "--summary", "played.json", recording},
                                           s.dir.path(), WAIT_S);
  EXPECT_EQ(played.exit_code, 0) << played.out << played.err;
  const std::string summary = read_text(s.dir.file("played.json"));
  auto alarms_of = [](const std::string& json) {
    const size_t at = json.find("\"alarms\":[");
    return at == std::string::npos ? std::string("?") : json.substr(at, json.find(']', at) - at);
  };
  EXPECT_EQ(alarms_of(summary), alarms_of(live_summary)) << "the playback's alarm list is the live one";
  EXPECT_NE(summary.find("\"balloon cut-down commanded here # as it was said\""), std::string::npos) << summary;
  EXPECT_NE(summary.find("\"pass\":{"), std::string::npos) << summary;
}

// A value out of limits raises its alarm while its frame fills the panel,
// before the frame is counted shown: the frame must not stand later than its
// alarm, or the alarm's moment leads a review to the frame before (HK00
// blank there). HK00 is in every 40th frame: 9.97 V from frame 1, so frame 40
// raises it (or 80, when the station opened its port after frame 40 came).
TEST(RecordLive, an_alarm_s_moment_leads_to_the_frame_that_raised_it) {
  TempDir sim_dir;
  Child sim(testing_process::gse_sim(), {"--pty", "--quiet", "--frames", "84", "--hk", "0=9.97@1..1000000"},
            sim_dir.path(), sim_dir.file("sim.txt"));
  std::string pty;
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    return !(pty = testing_process::sim_pty_path(read_text(sim_dir.file("sim.txt")))).empty();
  }));
  Station s(pty, "");
  ASSERT_TRUE(s.log_has("ALARM HK00")) << s.log();
  ASSERT_EQ(sim.wait(WAIT_S), 0) << "the simulator ends once the station has read every frame";
  EXPECT_EQ(s.quit(), 0);
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(s.recording(), &pass, &why), rt::PassFound::Found) << why;
  const rt::PassAlarm* hk00 = nullptr;
  for (const rt::PassAlarm& a : pass.alarms)
    if (a.row.key == "HK00") hk00 = &a;
  ASSERT_NE(hk00, nullptr);
  const auto& f = pass.frames->frames;
  size_t i = 1;
  while (i < f.size() && f[i].counter % 40 != 0) ++i;
  ASSERT_LT(i, f.size());
  EXPECT_LE(f[i].t_s, hk00->row.first_s) << "the frame that raised the alarm stands at or before it";
  EXPECT_GT(hk00->row.first_s, f[i - 1].t_s);
  int64_t offset = -1;
  ASSERT_TRUE(rt::offset_of_time(&pass, s.recording(), hk00->row.first_s, &offset));
  EXPECT_EQ(offset, f[i].offset) << "the alarm's moment is frame " << f[i].counter << "'s";
}

TEST(RecordLive, where_time_outs_cut_frames_the_trends_have_the_frames_and_skipped_counts_the_panel_showed) {
  InstrumentPty link;
  Station s(link.slave_path(), "");
  ASSERT_TRUE(s.log_has("serial port ready")) << s.log();
  // Seven bytes of noise (passed over: Skipped grows by 7), frames, then
  // 120 bytes of one and a time-out (the receiver drops them uncounted),
  // again: by the recording's bytes alone, the cut frame swallows the first
  // bytes of the noise and the next frame.
  const Bytes noise(7, 0x55);
  const Bytes cut = testing_frames::head(testing_frames::good(100), 120);
  for (int round = 0; round < 3; ++round) {
    link.send(noise);
    link.send_paced(frames(10 * round + 1, 4), 1920.0);
    link.send(cut);
    ASSERT_TRUE(wait_until(WAIT_S, [&] {
      size_t n = 0;
      for (const auto& l : s.trace()) n += l.ctrl == "PANEL_STATUS" && l.field("value") == "COM1 err: too few bytes read";
      return n > static_cast<size_t>(round);
    }));
  }
  link.send(noise);
  link.send_paced(frames(40, 4), 1920.0);
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return skipped_shown(s.trace()).size() >= 16; }));
  EXPECT_EQ(s.quit(), 0);
  const std::vector<long> panel = skipped_shown(s.trace());
  EXPECT_EQ(panel, (std::vector<long>{7, 7, 7, 7, 14, 14, 14, 14, 21, 21, 21, 21, 28, 28, 28, 28}));
  Trends t(s.recording());
  // The record holds the Skipped count shown with each frame.
  const auto& recorded = t.pass->frames->frames;
  ASSERT_EQ(recorded.size(), panel.size());
  for (size_t i = 0; i < recorded.size(); ++i) EXPECT_EQ(recorded[i].skipped, panel[i]) << "frame " << i;
  t.store->read([&](const rt::TrendData& d) {
    ASSERT_EQ(d.frames(), panel.size()) << "the frames the panel showed, no more";
    for (size_t i = 0; i < d.frames(); ++i) EXPECT_EQ(d.skipped[i], panel[i]) << "frame " << i;
  });
  rt::FrameScanner alone(rt::FrameRules::Link);
  const Bytes bytes = testing_files::read_file(s.recording());
  alone.feed(bytes.data(), bytes.size());
  EXPECT_LT(alone.frames().size(), panel.size()) << "the recording alone cannot tell where the time-outs fell";
}

TEST(RecordLive, a_record_the_disk_stops_is_said_once_and_the_recording_stays_exact) {
  InstrumentPty link;
  Station s(link.slave_path(), "", /*trace=*/false);
  ASSERT_TRUE(s.log_has("serial port ready")) << s.log();
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    return std::filesystem::exists(s.dir.file(std::filesystem::path(s.recording()).stem().string() + ".session"));
  }));
  // From now on no file of the station's may grow past 64 KiB: the record's
  // write-ahead log reaches that within a few commits, the recording not.
  const rlimit limit{64 * 1024, RLIM_INFINITY};
  ASSERT_EQ(prlimit(s.program->pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
  const Bytes sent = frames(1, 60);
  link.send_paced(sent, 1920.0);
  ASSERT_TRUE(wait_until(WAIT_S, [&] {
    return read_text(s.dir.file("stdout.txt")).find("SESSION RECORD FAILED: cannot write session record ") !=
           std::string::npos;
  })) << read_text(s.dir.file("stdout.txt"));
  link.send_paced(frames(61, 10), 1920.0);
  ASSERT_TRUE(wait_until(WAIT_S, [&] { return testing_files::read_file(s.recording()).size() >= 70 * 200; }));
  const int status = s.quit();
  EXPECT_EQ(status, 4) << "a record that could not be written is an output that failed";
  Bytes all = sent;
  testing_frames::append(all, frames(61, 10));
  EXPECT_EQ(testing_files::read_file(s.recording()), all) << "the recording holds every byte, exactly";
  const std::string out = read_text(s.dir.file("stdout.txt"));
  EXPECT_EQ(out.find("SESSION RECORD FAILED", out.find("SESSION RECORD FAILED") + 1), std::string::npos)
      << "said once\n" << out;
  EXPECT_NE(s.log().find("ERROR cannot write session record "), std::string::npos) << s.log();
}

TEST(RecordLive, a_playback_says_in_one_line_why_it_refuses_a_record_and_plays_on_estimated_times) {
  TempDir dir;
  testing_files::write_file(dir.file("52121834.dat"), frames(1, 5));
  testing_files::write_file(dir.file("52121834.session"), Bytes(2048, 'x'));
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--trace", "trace.jsonl", "52121834.dat"},
                                      dir.path(), WAIT_S);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("session record 52121834.session refused: it is not an SQLite database; times are estimated\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(skipped_shown(testing_trace::parse(read_text(dir.file("trace.jsonl")))).size(), 5u);
}

}  // namespace
