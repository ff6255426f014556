// One value across 30 day-long sessions in the window of values across
// sessions (Qt offscreen): an archive whose sessions each hold 1 440
// per-minute summaries of every value (made here, no recording needed),
// then the time from ticking the 30 sessions to the plot painted, on one
// clock and overlaid by each start (the aim: under 2 s).
//   gse_across_draw_bench
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <qcustomplot.h>
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "gui/trends/across_window.h"
#include "history/values.h"

namespace {

constexpr int SESSIONS = 30;
constexpr int MINUTES = 1440;
constexpr double DAY1 = 1767225600.0;  // 2026-01-01 00:00 UTC

bool exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// The archive of `folder`, with SESSIONS days of minutes, one a day.
bool make_archive(const std::string& folder, int* values) {
  {
    rt::Archive a;  // makes the schema
    std::string error;
    if (!a.open(folder, &error)) return false;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(rt::archive_path(folder).c_str(), &db) != SQLITE_OK) return false;
  exec(db, "BEGIN");
  sqlite3_stmt* session = nullptr;
  sqlite3_stmt* minute = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO sessions (session, recording, size, modified, head_hash, reachable, record, "
                     "record_state, record_stamp, times, started, ended, duration_s, frames, failures, "
                     "checksum_failures, illegal_escapes, bytes_skipped, longest_gap_s, port, device, version, host, "
                     "alarms, alarms_unacknowledged, notes, commands, port_losses, live, problem) VALUES (?, ?, "
                     "166000000, 0, '', 1, '', 'none', '', 'name', ?, ?, 86400, 830000, 0, 0, 0, 0, 0, '', '', '', "
                     "'', 0, 0, 0, 0, 0, 0, '')",
                     -1, &session, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO minutes (session, value, minute, samples, min, max, mean) VALUES (?, ?, ?, 576, ?, ?, ?)",
                     -1, &minute, nullptr);
  *values = 0;
  for (int s = 1; s <= SESSIONS; ++s) {
    const double start = DAY1 + 86400.0 * (s - 1);
    const std::string name = "day" + std::to_string(s) + ".dat";
    sqlite3_bind_int(session, 1, s);
    sqlite3_bind_text(session, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(session, 3, start);
    sqlite3_bind_double(session, 4, start + 86399.0);
    sqlite3_step(session);
    sqlite3_reset(session);
    int n = 0;
    for (const rt::ValueInfo& v : rt::value_catalogue()) {
      if (rt::is_link_figure(v)) continue;
      ++n;
      for (int m = 0; m < MINUTES; ++m) {
        const double mean = (m % 180) * 0.1 - 40.0 + s;  // a slow saw, a step per session
        sqlite3_bind_int(minute, 1, s);
        sqlite3_bind_text(minute, 2, v.key.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(minute, 3, static_cast<sqlite3_int64>(start / 60.0) + m);
        sqlite3_bind_double(minute, 4, mean - 1.0);
        sqlite3_bind_double(minute, 5, mean + 1.0);
        sqlite3_bind_double(minute, 6, mean);
        sqlite3_step(minute);
        sqlite3_reset(minute);
      }
    }
    *values = n;
  }
  sqlite3_finalize(session);
  sqlite3_finalize(minute);
  const bool ok = exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  QStandardPaths::setTestModeEnabled(true);  // the value chosen is remembered away from the user's settings
  QApplication app(argc, argv);
  const auto dir = std::filesystem::temp_directory_path() / "gse_across_bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  int values = 0;
  if (!make_archive(dir.string(), &values)) {
    std::fprintf(stderr, "cannot make the archive in %s\n", dir.c_str());
    return 1;
  }
  std::printf("%d sessions x %d minutes x %d values in %s (%.0f MB)\n", SESSIONS, MINUTES, values,
              rt::archive_path(dir.string()).c_str(),
              static_cast<double>(std::filesystem::file_size(rt::archive_path(dir.string()))) / 1e6);
  QElapsedTimer open_timer;
  open_timer.start();
  rt::AcrossWindow w(nullptr, QString::fromStdString(dir.string()));
  w.resize(1366, 700);
  w.show();
  app.processEvents();
  std::printf("window open with its list of sessions: %lld ms\n", static_cast<long long>(open_timer.elapsed()));
  std::vector<int64_t> all;
  for (const rt::SessionRow& r : w.rows()) all.push_back(r.session);
  for (const auto axis : {rt::AcrossAxis::Clock, rt::AcrossAxis::Elapsed}) {
    w.choose({});
    w.set_axis(axis);
    app.processEvents();
    QElapsedTimer t;
    t.start();
    w.set_value(QStringLiteral("HK16"));
    w.choose(all);
    w.plot()->replot(QCustomPlot::rpImmediateRefresh);
    app.processEvents();
    std::printf("HK16 across %zu day-long sessions, %s: %lld ms to the plot painted (%d graphs)\n", all.size(),
                axis == rt::AcrossAxis::Clock ? "one clock" : "overlaid by each start",
                static_cast<long long>(t.elapsed()), w.plot()->graphCount());
  }
  std::filesystem::remove_all(dir);
  return 0;
}
