// record/: where the live receiver's frames lie in the recording, the
// recording read by the frames shown, the session record written and read
// back, every record that must be refused, with its one line, and the
// recorder fed by the run-time's calls as a live session makes them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "history/pass.h"
#include "link/frame.h"
#include "record/link_mirror.h"
#include "record/record_reader.h"
#include "record/record_writer.h"
#include "record/recorder.h"
#include "record/sqlite.h"
#include "replay/recording_index.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/ui.h"
#include "session/session_log.h"
#include "support/files.h"
#include "support/frames.h"
#include "support/process.h"
#include "support/record_rows.h"
#include "ui/panel.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_files::TempDir;
using testing_frames::FrameBuilder;
using testing_frames::cat;
using testing_frames::good;
using testing_frames::head;

// Frame 1 carries "++-" in its body: the link sends it as "++-1", so it
// takes 201 bytes of the recording.
FrameBuilder escaped_frame() {
  FrameBuilder f = good(1);
  f.byte(20, '+').byte(21, '+').byte(22, '-').seal();
  return f;
}

TEST(LinkMirror, places_each_accepted_frame_with_its_escapes_and_forgets_one_cut_by_a_time_out) {
  rt::LinkMirror mirror;
  const Bytes junk{0x01, 0x02, 0x03};
  const Bytes a = testing_frames::escape_for_link(escaped_frame().bytes);
  ASSERT_EQ(a.size(), 201u);
  const Bytes b = head(good(2), 100);
  const Bytes c = good(3).vec();
  int64_t offset = 0;
  int bytes = 0;
  mirror.recorded(junk.data(), junk.size(), 1000);
  mirror.recorded(a.data(), a.size(), 1003);
  ASSERT_TRUE(mirror.take_frame(&offset, &bytes));
  EXPECT_EQ(offset, 1003);
  EXPECT_EQ(bytes, 201);
  EXPECT_FALSE(mirror.take_frame(&offset, &bytes)) << "a frame is taken once";
  mirror.recorded(b.data(), b.size(), 1204);
  mirror.read_failed();  // the receiver's time-out drops the partial frame
  EXPECT_FALSE(mirror.take_frame(&offset, &bytes));
  mirror.recorded(c.data(), c.size(), 1304);
  ASSERT_TRUE(mirror.take_frame(&offset, &bytes));
  EXPECT_EQ(offset, 1304) << "the frame after the cut begins where its sync word is, not where the cut one did";
  EXPECT_EQ(bytes, 200);
  // A frame with a byte the recording could not keep lies nowhere in it.
  mirror.recorded(c.data(), 50, 1504);
  mirror.recorded(c.data() + 50, 10, -1);
  mirror.recorded(c.data() + 60, 140, 1554);
  ASSERT_TRUE(mirror.take_frame(&offset, &bytes));
  EXPECT_EQ(offset, -1);
}

TEST(LiveFrames, a_recording_read_by_the_frames_shown_gives_exactly_those_with_their_skipped_counts) {
  // Frame 1, the first 100 bytes of frame 2 (a time-out cut it), frame 3.
  // By the link's rules alone, frame 2's head and frame 3's first 100 bytes
  // make one attempt that fails its checksum, and frame 3 is lost.
  const Bytes bytes = cat({good(1).vec(), head(good(2), 100), good(3).vec()});
  auto shown = std::make_shared<rt::LiveFrames>();
  shown->frames = {{10.0, 0, 200, 7, 1, 1}, {12.5, 300, 200, 9, 3, 1}};
  shown->covers = static_cast<int64_t>(bytes.size());
  rt::FrameScanner guided(rt::FrameRules::Link, true, shown);
  guided.feed(bytes.data(), 250);  // in two pieces, the cut inside one
  guided.feed(bytes.data() + 250, bytes.size() - 250);
  ASSERT_EQ(guided.frames().size(), 2u);
  EXPECT_EQ(guided.frames()[0].fcount, 1u);
  EXPECT_EQ(guided.frames()[1].fcount, 3u);
  EXPECT_EQ(guided.frames()[1].offset, 300);
  EXPECT_EQ(guided.frames()[0].skipped, 7);
  EXPECT_EQ(guided.frames()[1].skipped, 9);
  EXPECT_EQ(guided.mismatches(), 0);

  rt::FrameScanner alone(rt::FrameRules::Link);
  alone.feed(bytes.data(), bytes.size());
  EXPECT_EQ(alone.frames().size(), 1u) << "the recording's bytes alone lose frame 3";

  // Bytes beyond what the record accounts for are read by the link's rules,
  // counting on from the last skipped count shown.
  const Bytes longer = cat({bytes, Bytes{0x55, 0x55}, good(4).vec()});
  rt::FrameScanner after(rt::FrameRules::Link, true, shown);
  after.feed(longer.data(), longer.size());
  ASSERT_EQ(after.frames().size(), 3u);
  EXPECT_EQ(after.frames()[2].offset, static_cast<int64_t>(bytes.size()) + 2);
  EXPECT_EQ(after.frames()[2].skipped, 11);
}

// A recording and its record, written by the writer as a station would.
struct Written {
  TempDir dir;
  std::string recording = dir.file("52121834.dat");
  std::string record = dir.file("52121834.session");
  Bytes bytes = cat({Bytes{0x00, 0x11}, good(1).vec(), good(2).vec(), good(3).vec()});

  explicit Written(bool close = true) {
    testing_files::write_file(recording, bytes);
    rt::RecordRun run = testing_record::live_run("9.8.7", 1.7e9);
    run.device = "FT232R USB UART, FTDI, serial number A1B2";
    run.host = "station";
    run.pid = 4242;
    writer = std::make_unique<rt::RecordWriter>(record, recording, run, [this](const std::string& why) {
      ++failures;
      failure = why;
    });
    writer->add(rt::FrameRow{1.7e9 + 1.0, 2, 200, 2, 1});
    writer->add(rt::FrameRow{1.7e9 + 1.1, 202, 200, 2, 2});
    writer->add(rt::FrameRow{1.7e9 + 12.0, 402, 200, 2, 3});  // after a silence of 10.9 s
    writer->add(rt::EventRow{1.7e9 + 4.2, 402, "link", "LINK SILENT (no byte for 3 s)", -1});
    writer->add(rt::EventRow{1.7e9 + 11.5, 402, "note", "balloon cut-down commanded here", -1});
    writer->add(rt::LogRow{1.7e9 + 0.5, 0, "INFO", "recording to 52121834.dat"});
    rt::AlarmRow alarm = testing_record::raised_alarm(1, rt::AlarmSource::Link, "link silent", "link: LINK SILENT",
                                                      rt::Severity::Error, 1.7e9 + 4.2, 402,
                                                      "link: LINK SILENT: LINK SILENT");
    alarm.row.longest_s = 7.8;
    alarm.row.now = "receiving";
    alarm.last = 1.7e9 + 12.0;
    writer->add(alarm);
    writer->add(testing_record::acknowledged(alarm, 1.7e9 + 20.0));
    writer->recorded_to(static_cast<int64_t>(bytes.size()));
    if (close) {
      EXPECT_TRUE(writer->close()) << failure;
    }
  }
  std::unique_ptr<rt::RecordWriter> writer;
  int failures = 0;
  std::string failure;
};

TEST(SessionRecord, holds_what_the_station_wrote_and_is_handed_over_as_one_file) {
  Written w;
  EXPECT_EQ(w.failures, 0);
  EXPECT_FALSE(std::filesystem::exists(w.record + "-wal")) << "the write-ahead log is put back into the record";
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(w.recording, &pass, &why), rt::PassFound::Found) << why;
  ASSERT_EQ(pass.runs.size(), 1u);
  EXPECT_EQ(pass.runs[0].source, "/dev/ttyUSB0");
  EXPECT_EQ(pass.runs[0].device, "FT232R USB UART, FTDI, serial number A1B2");
  EXPECT_EQ(pass.runs[0].version, "9.8.7");
  EXPECT_GT(pass.runs[0].ended, 0.0) << "a closed run says when it ended";
  const auto& f = pass.frames->frames;
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[2].offset, 402);
  EXPECT_DOUBLE_EQ(f[2].t_s, 1.7e9 + 12.0);
  EXPECT_EQ(f[1].counter, 2u);
  ASSERT_EQ(pass.notes().size(), 1u);
  EXPECT_EQ(pass.notes()[0]->text, "balloon cut-down commanded here");
  ASSERT_EQ(pass.log.size(), 1u);
  ASSERT_EQ(pass.alarms.size(), 1u) << "one row, as it stood last";
  EXPECT_TRUE(pass.alarms[0].row.acknowledged);
  EXPECT_DOUBLE_EQ(pass.alarms[0].row.acknowledged_s, 1.7e9 + 20.0);
  EXPECT_EQ(pass.alarms[0].first_offset, 402);
  ASSERT_EQ(pass.alarm_events.size(), 2u);
  EXPECT_EQ(pass.alarm_events[0].change, "raised");
  EXPECT_EQ(pass.alarm_events[1].change, "acknowledged");
  EXPECT_TRUE(pass.note.empty());
  // The time of a byte is that of the frame that holds it.
  double t = 0.0;
  bool estimated = true;
  ASSERT_TRUE(pass.time_at(450, &t, &estimated));
  EXPECT_DOUBLE_EQ(t, 1.7e9 + 12.0);
  EXPECT_FALSE(estimated);
  EXPECT_EQ(pass.frame_at_time(1.7e9 + 11.5), 2u);
}

// An event's severity comes from its kind: a lost port and a failed
// recording write are errors, the rest information.
TEST(SessionRecord, reads_back_each_event_with_the_severity_of_its_kind) {
  Written w(/*close=*/false);
  w.writer->add(rt::EventRow{1.7e9 + 5.0, 402, "port lost", "/dev/ttyUSB0: the device was removed", -1});
  w.writer->add(rt::EventRow{1.7e9 + 6.0, 402, "port returned", "/dev/ttyUSB0", -1});
  w.writer->add(rt::EventRow{1.7e9 + 7.0, 402, "recording", "cannot write 52121834.dat: No space left on device", -1});
  ASSERT_TRUE(w.writer->close()) << w.failure;
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(w.recording, &pass, &why), rt::PassFound::Found) << why;
  const std::vector<std::pair<std::string, rt::Severity>> expected = {
      {"link", rt::Severity::Info},          {"port lost", rt::Severity::Error}, {"port returned", rt::Severity::Info},
      {"recording", rt::Severity::Error},   {"note", rt::Severity::Info}};
  ASSERT_EQ(pass.events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(pass.events[i].kind, expected[i].first) << "event " << i << ", by time";
    EXPECT_EQ(pass.events[i].severity, expected[i].second) << pass.events[i].kind;
  }
}

TEST(SessionRecord, a_version_1_record_appended_to_gains_the_viewers_reception_time) {
  Written w;
  {
    rt::sql::Db db;
    ASSERT_TRUE(db.open(w.record, true));
    ASSERT_TRUE(db.exec("ALTER TABLE frames DROP COLUMN received"));
    ASSERT_TRUE(db.exec("PRAGMA user_version = 1"));
  }
  rt::RecordRun run;
  run.mode = "remote view";
  run.started = 1.7e9 + 30.0;
  rt::RecordWriter again(w.record, w.recording, run, [&](const std::string& why) { ADD_FAILURE() << why; });
  rt::FrameRow frame{1.7e9 + 30.0, 602, 200, 0, 4};
  frame.received = 1.7e9 + 30.25;
  again.add(frame);
  again.recorded_to(static_cast<int64_t>(w.bytes.size()));
  ASSERT_TRUE(again.close());
  rt::sql::Db db;
  ASSERT_TRUE(db.open(w.record, false));
  int64_t version = 0, unset = 0;
  double received = 0.0;
  ASSERT_TRUE(db.integer("PRAGMA user_version", &version));
  EXPECT_EQ(version, 2);
  ASSERT_TRUE(db.integer("SELECT count(*) FROM frames WHERE received IS NULL", &unset));
  EXPECT_EQ(unset, 3) << "the frames of version 1 have none";
  rt::sql::Statement st;
  ASSERT_TRUE(st.prepare(db, "SELECT received FROM frames WHERE counter = 4"));
  ASSERT_TRUE(st.step());
  received = st.real(0);
  EXPECT_DOUBLE_EQ(received, 1.7e9 + 30.25);
}

TEST(SessionRecord, a_recording_that_grew_after_its_record_uses_its_part_and_estimates_the_rest) {
  Written w;
  Bytes more = w.bytes;
  testing_frames::append(more, good(4).vec());
  testing_files::write_file(w.recording, more);
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(w.recording, &pass, &why), rt::PassFound::Found) << why;
  EXPECT_NE(pass.note.find("grew after its session record stopped (at byte 602 of 802"), std::string::npos)
      << pass.note;
  double t = 0.0;
  bool estimated = false;
  ASSERT_TRUE(pass.time_at(602, &t, &estimated));
  EXPECT_TRUE(estimated);
  EXPECT_DOUBLE_EQ(t, 1.7e9 + 12.0 + 200.0 / 1920.0) << "the last frame's time and the link's rate";
}

TEST(SessionRecord, a_recording_that_ends_before_its_record_keeps_only_the_frames_it_holds_whole) {
  // The record counts a fourth frame (bytes 602 to 801) and a second alarm,
  // never acknowledged; the recording holds 602 bytes.
  Written w(/*close=*/false);
  w.writer->add(rt::FrameRow{1.7e9 + 13.0, 602, 200, 2, 4});
  w.writer->add(testing_record::raised_alarm(2, rt::AlarmSource::Limit, "HK16", "HK16 out of limits",
                                             rt::Severity::Warning, 1.7e9 + 13.0, 602));
  w.writer->recorded_to(802);
  ASSERT_TRUE(w.writer->close()) << w.failure;
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(w.recording, &pass, &why), rt::PassFound::Found) << why;
  EXPECT_EQ(pass.frames->frames.size(), 3u);
  EXPECT_EQ(pass.frames->covers, 602);
  EXPECT_NE(pass.note.find("ends before its session record (602 of 802 bytes): its last 1 frames are not in it"),
            std::string::npos)
      << pass.note;
  ASSERT_EQ(pass.alarms.size(), 2u);
  EXPECT_FALSE(pass.alarms[1].row.acknowledged);
  EXPECT_EQ(pass.alarms[1].row.acknowledged_s, -1.0) << "never acknowledged: no time";
}

TEST(SessionRecord, lies_beside_its_recording_and_is_refused_for_a_recording_of_another_name) {
  EXPECT_EQ(rt::record_path_for("/data/run.2/52121834.dat"), "/data/run.2/52121834.session");
  EXPECT_EQ(rt::record_path_for("/data/pass.2024.dat"), "/data/pass.2024.session");
  EXPECT_EQ(rt::record_path_for("/data/run.2/52121834"), "/data/run.2/52121834.session");
  // The same bytes under another name: its record is not this one's.
  Written w;
  const std::string copy = w.dir.file("52121835.dat");
  std::filesystem::copy_file(w.recording, copy);
  std::filesystem::copy_file(w.record, w.dir.file("52121835.session"));
  std::string failure;
  rt::RecordWriter writer(w.dir.file("52121835.session"), copy, rt::RecordRun{},
                          [&](const std::string& why) { failure = why; });
  EXPECT_FALSE(writer.close());
  EXPECT_EQ(failure, "it is the record of another recording (52121834.dat)");
}

// Each record that must not be used, made from a good one, and the reason
// its one line gives.
TEST(SessionRecord, every_record_that_is_not_its_recordings_is_refused_with_its_reason) {
  struct Case {
    const char* name;
    std::function<void(Written&)> spoil;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"not SQLite",
       [](Written& w) { testing_files::write_file(w.record, Bytes(3000, 'x')); },
       "it is not an SQLite database"},
      {"truncated",
       [](Written& w) {
         Bytes all = testing_files::read_file(w.record);
         all.resize(all.size() / 2);
         testing_files::write_file(w.record, all);
       },
       "it is truncated"},
      {"cut by less than a page",
       [](Written& w) {
         Bytes all = testing_files::read_file(w.record);
         all.resize(all.size() - 100);
         testing_files::write_file(w.record, all);
       },
       "it is truncated"},
      {"another recording's",
       [](Written& w) {
         Bytes other = w.bytes;
         other[0] = 0x99;
         testing_files::write_file(w.recording, other);
       },
       "it is the record of another recording (52121834.dat: its first 602 bytes differ"},
      {"a newer version",
       [](Written& w) {
         rt::sql::Db db;
         ASSERT_TRUE(db.open(w.record, true));
         ASSERT_TRUE(db.exec("PRAGMA user_version = 3"));
       },
       "it was written by a newer vst_gse (record version 3; this one reads up to version 2)"},
      {"another program's database",
       [](Written& w) {
         std::filesystem::remove(w.record);
         rt::sql::Db db;
         ASSERT_TRUE(db.open(w.record, true));
         ASSERT_TRUE(db.exec("CREATE TABLE readings (t REAL)"));
       },
       "it is not a vst_gse session record"},
      {"another program's application id",
       [](Written& w) {
         rt::sql::Db db;
         ASSERT_TRUE(db.open(w.record, true));
         ASSERT_TRUE(db.exec("PRAGMA application_id = 1234"));
       },
       "it is not a vst_gse session record"},
  };
  for (const Case& c : cases) {
    Written w;
    c.spoil(w);
    rt::Pass pass;
    std::string why;
    EXPECT_EQ(rt::read_session_record(w.recording, &pass, &why), rt::PassFound::Refused) << c.name;
    EXPECT_EQ(why.rfind("session record " + w.record + " refused: ", 0), 0u) << c.name << ": " << why;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    EXPECT_NE(why.find("; times are estimated"), std::string::npos) << c.name;
    EXPECT_EQ(why.find('\n'), std::string::npos) << c.name << ": one line";
  }
  TempDir bare;
  testing_files::write_file(bare.file("x.dat"), good(1).vec());
  rt::Pass pass;
  std::string why;
  EXPECT_EQ(rt::read_session_record(bare.file("x.dat"), &pass, &why), rt::PassFound::None);
}

TEST(SessionRecord, a_second_station_on_the_same_recording_is_refused_and_the_first_goes_on) {
  Written first(/*close=*/false);
  ASSERT_TRUE(first.writer->flush(30.0)) << first.failure;
  std::atomic<int> failures{0};
  std::string failure;
  rt::RecordRun run;
  run.version = "9.8.7";
  run.host = "other";
  run.pid = 777;
  rt::RecordWriter second(first.record, first.recording, run, [&](const std::string& why) {
    failure = why;
    ++failures;
  });
  second.add(rt::LogRow{1.0, 0, "INFO", "x"});
  EXPECT_FALSE(second.flush(30.0));
  EXPECT_FALSE(second.close());
  EXPECT_EQ(failures.load(), 1);
  EXPECT_NE(failure.find("another station is writing it (process 4242 on station"), std::string::npos) << failure;
  first.writer->add(rt::LogRow{1.7e9 + 30.0, 602, "INFO", "still here"});
  EXPECT_TRUE(first.writer->close()) << first.failure;
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(first.recording, &pass, &why), rt::PassFound::Found) << why;
  EXPECT_EQ(pass.runs.size(), 1u);
  EXPECT_EQ(pass.log.back().text, "still here");
}

TEST(SessionRecord, a_disk_that_takes_no_more_fails_the_record_once_and_keeps_what_was_committed) {
  TempDir dir;
  const std::string recording = dir.file("52121834.dat");
  testing_files::write_file(recording, good(1).vec());
  std::atomic<int> failures{0};
  std::string failure;
  {
    testing_process::FileSizeLimit limit(96 * 1024);
    rt::RecordWriter writer(dir.file("52121834.session"), recording, rt::RecordRun{},
                            [&](const std::string& why) {
                              failure = why;
                              ++failures;
                            });
    writer.add(rt::FrameRow{1.0, 0, 200, 0, 1});
    ASSERT_TRUE(writer.flush(30.0)) << failure;
    // Rows until the file-size limit stops the record.
    const std::string text(2000, 'n');
    for (int i = 0; i < 400 && failures.load() == 0; ++i) {
      writer.add(rt::LogRow{2.0 + i, 200, "INFO", text});
      if (i % 20 == 19) writer.flush(30.0);
    }
    EXPECT_FALSE(writer.close());
  }
  EXPECT_EQ(failures.load(), 1);
  EXPECT_FALSE(failure.empty());
  rt::Pass pass;
  std::string why;
  ASSERT_EQ(rt::read_session_record(recording, &pass, &why), rt::PassFound::Found) << why;
  EXPECT_EQ(pass.frames->frames.size(), 1u) << "what was committed before stays readable";
}

// ----- The recorder, fed as a live session feeds it -------------------------

double unix_now() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A live session recording to 52121834.dat in a folder of its own, with the
// recorder installed as the program installs it. The test makes the
// system's calls: a frame's bytes through the recording, then its hex dump,
// Skipped and the good status; a housekeeping value as the decoder writes it.
class Recorder : public ::testing::Test {
 protected:
  void SetUp() override {
    reset();
    rt::record_install("test");
    rt::SessionInfo info;
    info.version = "test";
    info.source = "/dev/ttyUSB0";
    info.headless = true;
    rt::session_begin(info);
    recording_ = FileOpen(path_.c_str(), "ab");
    ASSERT_NE(recording_, nullptr);
    panel_ = LoadPanel(0, "gse.uir", PANEL);
    ASSERT_GT(panel_, 0) << PanelErrorText();
    ASSERT_EQ(SetPanelAttribute(panel_, ATTR_PANEL_RECORDING_FILE, path_.c_str()), 0);
  }
  void TearDown() override { reset(); }
  static void reset() {
    rt::reset_ui_for_tests();
    rt::reset_session_for_tests();
    rt::reset_log_for_tests();
  }

  // Frame n shown; its bytes reach the recording first unless `recorded`
  // is false.
  void show(uint32_t n, bool recorded = true) {
    const FrameBuilder f = good(n);
    if (recorded) ASSERT_EQ(FileWrite(f.data(), 1, 200, recording_), 200u);
    ASSERT_EQ(SetCtrlVal(panel_, PANEL_HEXDUMP, testing_frames::hex_dump(f.bytes).c_str()), 0);
    ASSERT_EQ(SetCtrlVal(panel_, PANEL_SKIPPED, 0), 0);
    ASSERT_EQ(SetCtrlVal(panel_, PANEL_STATUS, " "), 0);
  }
  // The program's teardown: the panel, the recording, then the session
  // (which closes the record).
  void end() {
    DiscardPanel(panel_);
    FileClose(recording_);
    recording_ = nullptr;
    rt::session_end(0);
  }

  struct Frame {
    double t = 0.0;
    bool placed = false;  // offset not NULL
    int64_t offset = -1, link_bytes = -1;
    int64_t counter = 0;
  };
  std::vector<Frame> frames() {
    std::vector<Frame> out;
    rt::sql::Db db;
    EXPECT_TRUE(db.open(record_, false)) << db.error();
    rt::sql::Statement st;
    EXPECT_TRUE(st.prepare(db, "SELECT t, offset, link_bytes, counter FROM frames ORDER BY frame"));
    while (st.step()) {
      Frame f;
      f.t = st.real(0);
      f.placed = !st.is_null(1);
      if (f.placed) f.offset = st.integer(1);
      if (!st.is_null(2)) f.link_bytes = st.integer(2);
      f.counter = st.integer(3);
      out.push_back(f);
    }
    return out;
  }
  // The changes of the alarm with `key`, in the order they were written.
  std::vector<std::string> alarm_changes(const std::string& key) {
    std::vector<std::string> out;
    rt::sql::Db db;
    EXPECT_TRUE(db.open(record_, false)) << db.error();
    rt::sql::Statement st;
    EXPECT_TRUE(st.prepare(db, "SELECT change FROM alarm_events JOIN alarms USING (run, alarm) "
                               "WHERE key = ? ORDER BY id"));
    st.bind(1, key);
    while (st.step()) out.push_back(st.text(0));
    return out;
  }

  TempDir dir_;
  const std::string path_ = dir_.file("52121834.dat");
  const std::string record_ = dir_.file("52121834.session");
  FileStream* recording_ = nullptr;
  int panel_ = -1;
};

TEST_F(Recorder, a_frame_shown_whose_bytes_it_never_saw_has_no_place_and_the_time_it_was_shown) {
  show(1);
  const double after_first = unix_now();
  // The wall clock moves on before frame 2 is shown.
  ASSERT_TRUE(testing_process::wait_until(5.0, [&] { return unix_now() > after_first + 0.001; }));
  const double before_second = unix_now();
  show(2, /*recorded=*/false);
  show(3);
  end();
  const std::vector<Frame> f = frames();
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].counter, 1);
  EXPECT_TRUE(f[0].placed);
  EXPECT_EQ(f[0].offset, 0);
  EXPECT_EQ(f[0].link_bytes, 200);
  EXPECT_EQ(f[1].counter, 2);
  EXPECT_FALSE(f[1].placed) << "frame 2 lies nowhere in the recording, not at frame 1's offset " << f[1].offset;
  EXPECT_GE(f[1].t, before_second) << "frame 2 stands when it was shown, not at frame 1's time " << f[0].t;
  EXPECT_TRUE(f[2].placed);
  EXPECT_EQ(f[2].offset, 200) << "frame 3's bytes follow frame 1's";
  EXPECT_GE(f[2].t, f[1].t);
}

// HK00's alarm limit is 9.95 V (the panel file's).
TEST_F(Recorder, an_alarm_acknowledged_and_then_raised_by_its_cause_again_is_written_raised_again) {
  ASSERT_EQ(SetCtrlVal(panel_, PANEL_HK00, 9.97), 0);
  show(1);
  ASSERT_EQ(rt::watch_acknowledge_all(), 1);
  ASSERT_EQ(SetCtrlVal(panel_, PANEL_HK00, 5.0), 0);
  show(2);
  ASSERT_EQ(SetCtrlVal(panel_, PANEL_HK00, 9.97), 0);
  show(3);
  end();
  EXPECT_EQ(alarm_changes("HK00"), (std::vector<std::string>{"raised", "acknowledged", "cleared", "raised again"}));
}

}  // namespace
