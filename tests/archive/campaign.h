// The folder of recordings the archive's tests start from, made by gse_sim:
// one plain, one with its session record (in a subfolder), one whose record
// is damaged, one still growing, and files that are not recordings.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "record/record_writer.h"
#include "support/files.h"
#include "support/process.h"
#include "support/record_rows.h"

namespace campaign {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing_files::TempDir;

// 2026-01-02 00:00:00 UTC, the start "60010000.dat" names (TZ=UTC).
constexpr double JAN2 = 1767312000.0;
// The record's pass: 2026-01-03 10:00:00 UTC.
constexpr double T0 = 1767434400.0;
// 500 K over the 16-bit word: a temperature's resolution.
constexpr double DEGC_STEP = 500.0 / 65535.0;

inline void make(const std::string& path, const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--out", path, "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  const auto r = testing_process::run(testing_process::gse_sim(), args, fs::path(path).parent_path().string());
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

// A session record for `recording` (200 frames of 200 bytes), as a live
// station writes it: a frame every half second from T0, an HK16 alarm
// raised and acknowledged, a note, the port lost and back.
inline void write_record(const std::string& recording) {
  rt::RecordRun run = testing_record::live_run("3.1.4", T0 - 1.0);
  run.device = "FT232R USB UART, FTDI, serial number A1B2";
  run.host = "station";
  run.pid = 7;
  std::string failure;
  rt::RecordWriter writer(rt::record_path_for(recording), recording, run,
                          [&](const std::string& why) { failure = why; });
  for (int k = 0; k < 200; ++k)
    writer.add(rt::FrameRow{T0 + 0.5 * k, 200 * k, 200, 0, static_cast<uint32_t>(k)});
  writer.add(rt::EventRow{T0 + 30.0, 6000, "note", "balloon cut-down commanded", -1});
  writer.add(rt::EventRow{T0 + 40.0, 16000, "port lost", "/dev/ttyUSB0: device removed", -1});
  writer.add(rt::EventRow{T0 + 45.0, 16000, "port returned", "/dev/ttyUSB0", -1});
  writer.add(rt::LogRow{T0 + 10.0, 4000, "WARN", "HK16 out of limits: in alarm: -45.00 degC"});
  rt::AlarmRow alarm = testing_record::raised_alarm(1, rt::AlarmSource::Limit, "HK16", "HK16 out of limits",
                                                    rt::Severity::Error, T0 + 10.0, 4000,
                                                    "HK16 out of limits: in alarm: -45.00 degC");
  alarm.row.occurrences = 2;
  alarm.row.has_value = true;
  alarm.row.worst_number = -45.0;
  alarm.row.worst_value = "-45.00 degC";
  alarm.row.worst_limit = "below the alarm limit -40.00 degC";
  alarm.last = T0 + 12.0;
  writer.add(alarm);
  writer.add(testing_record::acknowledged(alarm, T0 + 20.0));
  writer.recorded_to(40000);
  ASSERT_TRUE(writer.close()) << failure;
}

// The folder every test starts from.
struct Campaign {
  TempDir dir;
  std::string plain = dir.file("60010000.dat");
  std::string recorded, growing = dir.file("60030000.dat"), refused = dir.file("60040000.dat");

  Campaign() {
    setenv("TZ", "UTC", 1);
    tzset();
    // HK16 reads -40 degC in frames 0..299 and -20 degC after; frames 5
    // and 17 fail their checksum.
    make(plain, {"--frames", "600", "--hk", "16=-40@0..299", "--hk", "16=-20@300..599", "--bad-checksum", "5,17"});
    fs::create_directory(dir.file("flight"));
    recorded = dir.file("flight/60020000.dat");
    make(recorded, {"--frames", "200"});
    write_record(recorded);
    make(growing, {"--frames", "100"});
    make(refused, {"--frames", "50"});
    const std::string junk = "not a session record, whatever its name says\n";
    testing_files::write_file(rt::record_path_for(refused), Bytes(junk.begin(), junk.end()));
    const std::string text = "these bytes hold no frame at all\n";
    Bytes lines;
    for (int i = 0; i < 100; ++i) lines.insert(lines.end(), text.begin(), text.end());
    testing_files::write_file(dir.file("notes.dat"), lines);
    testing_files::write_file(dir.file("readme.txt"), lines);
    // All but the growing one were finished an hour ago.
    for (const std::string& done : {plain, recorded, refused})
      fs::last_write_time(done, fs::last_write_time(done) - std::chrono::hours(1));
  }

  // An archive of the folder, up to date, with the growing recording
  // changed a second before the clock's now.
  void index(rt::Archive* a, rt::IndexOutcome* outcome = nullptr) {
    std::string error;
    ASSERT_TRUE(a->open(dir.path(), &error)) << error;
    double modified = 0.0;
    ASSERT_TRUE(rt::file_time(growing, &modified));
    a->set_clock([modified] { return modified + 1.0; });
    rt::IndexOutcome o = a->index();
    if (outcome) *outcome = o;
  }
};

inline const rt::SessionRow* find(const std::vector<rt::SessionRow>& rows, const std::string& recording) {
  for (const rt::SessionRow& r : rows)
    if (r.recording == recording) return &r;
  return nullptr;
}

}  // namespace campaign
