// Sharing a live session against a real broker: the built station publishes
// while gse_sim plays the instrument on a pseudo-terminal, and the built
// viewer subscribes. mosquitto runs on a free loopback port (support/broker.h).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "record/record_reader.h"
#include "record/sqlite.h"
#include "support/broker.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_broker::Broker;
using testing_files::read_file;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The complete records of a CSV file (a quoted field may hold line breaks:
// the hex dump).
using Record = std::vector<std::string>;
std::vector<Record> records_of(const std::string& path) { return testing_files::parse_csv(read_text(path), true); }

// What identifies a frame on the panel, and the count beside it: the hex
// dump and Skipped (the other displays hold values of earlier frames,
// which a viewer that missed those cannot have).
std::string frame_shown(const std::vector<Record>& records, size_t row) {
  const Record& header = records.front();
  const auto column = [&](const char* name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  return records[row].at(column("PANEL_HEXDUMP")) + "/" + records[row].at(column("PANEL_SKIPPED"));
}

bool has(const std::string& path, const std::string& text) { return read_text(path).find(text) != std::string::npos; }

nlohmann::json json_of(const std::string& path) { return nlohmann::json::parse(read_text(path)); }

// gse_sim on a pseudo-terminal of its own, reached by the station through a
// link in the test's folder (removed once the port is open: a reopen after
// the simulator ends must not find another test's pty by its number).
class Instrument {
 public:
  Instrument(const TempDir& dir, int frames, std::vector<std::string> faults = {}) : dir_(dir) {
    std::vector<std::string> args{"--pty", "--seed", "5", "--frames", std::to_string(frames), "--save",
                                  dir.file("sent.bin")};
    args.insert(args.end(), faults.begin(), faults.end());
    sim_ = std::make_unique<Child>(testing_process::gse_sim(), args, dir.path(), dir.file("sim.out"));
    std::string pty;
    wait_until(10, [&] {
      const std::string out = read_text(dir.file("sim.out"));
      const auto at = out.find("pty ");
      if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
      pty = out.substr(at + 4, out.find('\n', at) - at - 4);
      return true;
    });
    if (pty.empty()) throw std::runtime_error("gse_sim printed no pty path");
    std::filesystem::create_symlink(pty, port());
  }
  std::string port() const { return dir_.file("port"); }
  Child& sim() { return *sim_; }

 private:
  const TempDir& dir_;
  std::unique_ptr<Child> sim_;
};

// The station, live on the instrument's port, publishing.
std::unique_ptr<Child> station(const TempDir& dir, const Instrument& instrument, const std::string& url,
                               std::vector<std::string> more = {}) {
  std::vector<std::string> args{"--headless", "--port", instrument.port(), "--publish", url,
                                "--csv-panel", dir.file("station.csv"), "--log", dir.file("station.log"),
                                "--summary", dir.file("station.json")};
  args.insert(args.end(), more.begin(), more.end());
  auto child = std::make_unique<Child>(testing_process::vst_gse(), args, dir.path(), dir.file("station.out"));
  wait_until(30, [&] { return has(dir.file("station.log"), "run start: port drained"); });
  std::filesystem::remove(instrument.port());
  return child;
}

// The viewer, headless, subscribed once this returns.
std::unique_ptr<Child> viewer(const TempDir& dir, const std::string& url, std::vector<std::string> more = {}) {
  std::vector<std::string> args{"--headless", "--subscribe", url, "--csv-panel", dir.file("view.csv"),
                                "--log", dir.file("view.log"), "--summary", dir.file("view.json")};
  args.insert(args.end(), more.begin(), more.end());
  auto child = std::make_unique<Child>(testing_process::vst_gse(), args, dir.path(), dir.file("view.out"));
  wait_until(15, [&] { return has(dir.file("view.log"), "remote view: connected to"); });
  return child;
}

size_t rows(const TempDir& dir, const char* name) {
  const auto r = records_of(dir.file(name));
  return r.empty() ? 0 : r.size() - 1;
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(LiveShare, the_viewer_shows_every_good_frame_as_the_station_did_and_refuses_what_is_not_a_frame) {
  TempDir dir;
  Broker broker(dir.path());
  const std::string url = broker.url("lab/gse");
  // The viewer's operator tries the Command switch.
  write_text(dir.file("cmd.txt"), "2 PANEL_CMD 1\n4 PANEL_CMD 0\n");
  auto view = viewer(dir, url,
                     {"--record", dir.file("received.dat"), "--trace", dir.file("view.jsonl"), "--events",
                      dir.file("cmd.txt")});
  Instrument instrument(dir, 70, {"--noise", "0.02", "--bad-checksum", "0.05"});
  auto gse = station(dir, instrument, url);

  ASSERT_TRUE(wait_until(30, [&] { return rows(dir, "view.csv") >= 5; })) << read_text(dir.file("view.log"));
  // A broken or hostile publisher on the same topics, and messages that
  // look like commands: the viewer refuses the first, the station reads
  // nothing at all.
  const std::string frame_hex(398, 'A');
  write_text(dir.file("short.json"), R"({"session":"x","seq":1,"time_ms":1,"skipped":0,"frame":")" + frame_hex + "\"}");
  write_text(dir.file("checksum.json"), R"({"session":"x","seq":1,"time_ms":1,"skipped":0,"frame":"EB90)" +
                                            std::string(396, '0') + "\"}");
  write_text(dir.file("fields.json"), R"({"session":"x","time_ms":1,"frame":""})");
  write_text(dir.file("text.txt"), "RCVD\r\n1\r");
  write_text(dir.file("huge.bin"), std::string(300 * 1024, '{'));
  const std::vector<std::pair<std::string, std::string>> hostile = {
      {"lab/gse/frame", "short.json"},  {"lab/gse/frame", "checksum.json"}, {"lab/gse/frame", "fields.json"},
      {"lab/gse/frame", "text.txt"},    {"lab/gse/frame", "huge.bin"},      {"lab/gse/health", "text.txt"},
      {"lab/gse/command", "text.txt"},  {"lab/gse/cmd", "text.txt"},        {"lab/gse", "text.txt"}};
  for (const auto& [topic, file] : hostile)
    ASSERT_EQ(testing_broker::publish(broker, topic, dir.file(file), dir.path()), 0) << topic;

  ASSERT_EQ(instrument.sim().wait(60), 0);
  ASSERT_TRUE(wait_until(10, [&] { return has(dir.file("station.log"), "COM1 err: too few bytes read"); }));
  gse->signal(SIGTERM);
  ASSERT_EQ(gse->wait(10), 0) << read_text(dir.file("station.out"));
  const size_t shown = rows(dir, "station.csv");
  ASSERT_GE(shown, 20u) << "the start-up and drain took most of the frames";
  ASSERT_TRUE(wait_until(10, [&] { return rows(dir, "view.csv") >= shown; }));
  // The last frame again, as a broker may deliver it twice: refused, not shown twice.
  const auto station_json = json_of(dir.file("station.json"));
  const auto received = read_file(dir.file("received.dat"));
  ASSERT_GE(received.size(), 200u);
  std::string again_hex;
  for (size_t i = received.size() - 200; i < received.size(); ++i) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", received[i]);
    again_hex += two;
  }
  write_text(dir.file("again.json"), "{\"session\":" + station_json["publish"]["session"].dump() + ",\"seq\":" +
                                         station_json["publish"]["frames_published"].dump() +
                                         ",\"time_ms\":1,\"skipped\":0,\"frame\":\"" + again_hex + "\"}");
  ASSERT_EQ(testing_broker::publish(broker, "lab/gse/frame", dir.file("again.json"), dir.path()), 0);
  ASSERT_TRUE(wait_until(10, [&] { return has(dir.file("view.log"), "out of sequence"); }));
  view->signal(SIGTERM);
  EXPECT_EQ(view->wait(10), 7) << "refused messages make the exit status";

  // Frame for frame, every display the same, Skipped included.
  EXPECT_EQ(lines_of(dir.file("view.csv")), lines_of(dir.file("station.csv")));
  const auto published = json_of(dir.file("station.json"))["publish"];
  EXPECT_EQ(published["frames_published"], shown);
  EXPECT_EQ(published["messages_dropped"], 0);

  const auto seen = json_of(dir.file("view.json"))["remote_view"];
  EXPECT_EQ(seen["frames_received"], shown);
  EXPECT_EQ(seen["frames_missed"], 0);
  EXPECT_EQ(seen["refused"]["not_a_frame"], 2) << seen.dump();
  EXPECT_EQ(seen["refused"]["bad_fields"], 1) << seen.dump();
  EXPECT_EQ(seen["refused"]["not_json"], 2) << seen.dump();
  EXPECT_EQ(seen["refused"]["too_large"], 1) << seen.dump();
  EXPECT_EQ(seen["refused"]["out_of_sequence"], 1) << seen.dump();
  EXPECT_EQ(seen["frames_recorded"], shown);

  // The viewer opened no port and sent nothing, though its operator moved
  // the Command switch; the instrument got acknowledgements, nothing else.
  const std::string trace = read_text(dir.file("view.jsonl"));
  EXPECT_NE(trace.find(R"("op":"Event","ctrl":"PANEL_CMD")"), std::string::npos);
  for (const char* op : {"OpenComConfig", "ComWrt", "ComWrtByte"})
    EXPECT_EQ(trace.find(std::string("\"op\":\"") + op + "\""), std::string::npos) << op;
  std::vector<std::string> commands;
  for (const std::string& line : lines_of(dir.file("sim.out")))
    if (line.rfind("uplink command", 0) == 0) commands.push_back(line);
  EXPECT_TRUE(commands.empty()) << commands.front();

  // What the viewer recorded plays back as those frames.
  EXPECT_EQ(read_file(dir.file("received.dat")).size(), shown * 200);
  const auto played = testing_process::run(testing_process::vst_gse(),
                                           {"--headless", "--speed", "0", "--summary", dir.file("played.json"),
                                            dir.file("received.dat")},
                                           dir.path(), 60);
  ASSERT_EQ(played.exit_code, 0) << played.err;
  EXPECT_EQ(json_of(dir.file("played.json"))["good_frames"], shown);

  // Beside it, its session record: each frame at the time the station
  // published for it, in whole ms. The station's own record and its
  // publisher each stamp a frame at the read that brought its last bytes:
  // the same moment but for the ms, within 50 ms on any load (they were
  // 71 ms apart on a loaded machine when the record took the read and the
  // publisher the filled panel).
  std::string station_recording;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".dat" && e.path().filename() != "received.dat") station_recording = e.path().string();
  rt::Pass at_station, at_viewer;
  std::string why;
  ASSERT_EQ(rt::read_session_record(station_recording, &at_station, &why), rt::PassFound::Found) << why;
  ASSERT_EQ(rt::read_session_record(dir.file("received.dat"), &at_viewer, &why), rt::PassFound::Found) << why;
  ASSERT_EQ(at_viewer.runs.size(), 1u);
  EXPECT_EQ(at_viewer.runs[0].mode, "remote view");
  EXPECT_NE(at_viewer.runs[0].source.find("lab/gse"), std::string::npos) << at_viewer.runs[0].source;
  const auto& station_frames = at_station.frames->frames;
  const auto& viewer_frames = at_viewer.frames->frames;
  ASSERT_EQ(viewer_frames.size(), shown);
  ASSERT_EQ(station_frames.size(), shown);
  for (size_t i = 0; i < shown; ++i) {
    EXPECT_NEAR(viewer_frames[i].t_s, station_frames[i].t_s, 0.05) << "frame " << i;
    EXPECT_EQ(viewer_frames[i].counter, station_frames[i].counter) << "frame " << i;
    EXPECT_EQ(viewer_frames[i].skipped, station_frames[i].skipped) << "frame " << i;
    EXPECT_EQ(viewer_frames[i].offset, static_cast<int64_t>(200 * i)) << "frame " << i;
  }
  // And when the viewer itself received each: after the station sent it,
  // on this one machine's clock.
  rt::sql::Db db;
  ASSERT_TRUE(db.open(dir.file("received.session"), false));
  int64_t out_of_place = -1;
  ASSERT_TRUE(db.integer("SELECT count(*) FROM frames WHERE received IS NULL OR received < t - 0.05 OR received > t + 30",
                         &out_of_place));
  EXPECT_EQ(out_of_place, 0);
}

// The text after "HK16 in caution: " on the first such line of a log.
std::string caution_of_hk16(const std::string& log) {
  for (const std::string& line : lines_of(log))
    if (const auto at = line.find("HK16 in caution: "); at != std::string::npos) return line.substr(at);
  return "";
}

TEST(RemoteView, judges_values_by_the_limits_the_station_runs_not_its_own) {
  TempDir dir;
  Broker broker(dir.path());
  const std::string url = broker.url("gse");
  // The station runs a tighter HK16 than the panel file's (caution from
  // -20 to 50 °C): 30 °C is in caution there, normal by the viewer's own.
  write_text(dir.file("limits.txt"), "HK16 caution=-20..10 alarm=-40..70 hysteresis=default enabled=yes\n");
  auto view = viewer(dir, url);
  Instrument instrument(dir, 150, {"--hk", "16=30@0..1000"});
  auto gse = station(dir, instrument, url, {"--limits", dir.file("limits.txt")});

  ASSERT_TRUE(wait_until(60, [&] { return !caution_of_hk16(dir.file("view.log")).empty(); }))
      << read_text(dir.file("view.log"));
  ASSERT_TRUE(wait_until(10, [&] { return !caution_of_hk16(dir.file("station.log")).empty(); }));
  EXPECT_EQ(caution_of_hk16(dir.file("view.log")), caution_of_hk16(dir.file("station.log")));
  EXPECT_NE(caution_of_hk16(dir.file("view.log")).find("30.00"), std::string::npos);
  EXPECT_TRUE(has(dir.file("view.log"), "limits of HK16 from the station"));
  gse->signal(SIGTERM);
  view->signal(SIGTERM);
  gse->wait(10);
  view->wait(10);
}

TEST(LiveShare, a_broker_outage_costs_the_station_nothing_and_the_viewer_counts_the_gap) {
  TempDir dir;
  Broker broker(dir.path());
  const std::string url = broker.url("gse");
  auto view = viewer(dir, url);
  Instrument instrument(dir, 130);
  auto gse = station(dir, instrument, url, {"--publish-queue", "3"});
  ASSERT_TRUE(wait_until(30, [&] { return rows(dir, "view.csv") >= 5; }));

  broker.kill();
  // Said once, on standard output; the station goes on receiving.
  ASSERT_TRUE(wait_until(20, [&] { return has(dir.file("station.out"), "publish: " + url); }));
  const size_t at_outage = rows(dir, "station.csv");
  ASSERT_TRUE(wait_until(30, [&] { return rows(dir, "station.csv") >= at_outage + 10; }));
  broker.restart();
  ASSERT_TRUE(wait_until(30, [&] { return has(dir.file("station.log"), "publish: connected again"); }))
      << read_text(dir.file("station.log"));
  ASSERT_TRUE(wait_until(30, [&] { return has(dir.file("view.log"), "remote view: connected again"); }));
  const size_t after = rows(dir, "view.csv");
  ASSERT_TRUE(wait_until(30, [&] { return rows(dir, "view.csv") >= after + 5; })) << "publishing did not resume";

  ASSERT_EQ(instrument.sim().wait(60), 0);
  ASSERT_TRUE(wait_until(10, [&] { return has(dir.file("station.log"), "COM1 err: too few bytes read"); }));
  gse->signal(SIGTERM);
  EXPECT_EQ(gse->wait(10), 7) << "dropped messages make the exit status";
  const auto station_rows = records_of(dir.file("station.csv"));
  ASSERT_TRUE(wait_until(10, [&] {
    const auto v = records_of(dir.file("view.csv"));
    return v.size() > 1 && frame_shown(v, v.size() - 1) == frame_shown(station_rows, station_rows.size() - 1);
  }));
  view->signal(SIGTERM);
  EXPECT_EQ(view->wait(10), 7) << "missed frames make the exit status";

  // The recording holds every byte the instrument sent after the run start.
  const auto sent = read_file(dir.file("sent.bin"));
  std::vector<uint8_t> recorded;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".dat") recorded = read_file(e.path().string());
  ASSERT_FALSE(recorded.empty());
  ASSERT_LE(recorded.size(), sent.size());
  EXPECT_TRUE(std::equal(recorded.begin(), recorded.end(), sent.end() - static_cast<long>(recorded.size())));

  const auto published = json_of(dir.file("station.json"))["publish"];
  EXPECT_EQ(published["outages"], 1);
  EXPECT_GT(published["messages_dropped"], 0);
  EXPECT_LT(published["frames_published"].get<size_t>(), station_rows.size() - 1);

  // The viewer's rows are the station's, with a gap it counted.
  const auto seen = json_of(dir.file("view.json"))["remote_view"];
  const auto view_rows = records_of(dir.file("view.csv"));
  EXPECT_GT(seen["frames_missed"], 0);
  EXPECT_LE(seen["frames_received"].get<size_t>() + seen["frames_missed"].get<size_t>(), station_rows.size() - 1);
  size_t at = 1;
  for (size_t i = 1; i < view_rows.size(); ++i) {
    while (at < station_rows.size() && frame_shown(station_rows, at) != frame_shown(view_rows, i)) ++at;
    ASSERT_LT(at, station_rows.size()) << "viewer row " << i << " is no station row in order";
  }
  EXPECT_TRUE(has(dir.file("view.log"), "remote view: missed frames"));
}

// A playback published: every message says so, each frame carries the time
// its recording implies, the values are the panel's in the panel's units,
// and the alarm list is there, retained.
TEST(PlaybackShare, says_what_it_is_and_publishes_the_panels_values_and_the_alarm_list) {
  TempDir dir;
  Broker broker(dir.path());
  const std::string port = std::to_string(broker.port());
  Child sub("/usr/bin/mosquitto_sub", {"-h", "127.0.0.1", "-p", port, "-V", "mqttv5", "-t", "gse/#", "-v"},
            dir.path(), dir.file("sub.txt"));
  write_text(dir.file("probe.txt"), "probe");
  ASSERT_TRUE(wait_until(20, [&] {
    testing_broker::publish(broker, "gse/probe", dir.file("probe.txt"), dir.path());
    return has(dir.file("sub.txt"), "gse/probe probe");
  }));
  // The demo's first 100 frames (a burst a slow subscriber gets whole:
  // the broker drops QoS 0 messages beyond its queue of 1000), recorded
  // 2024-05-02 06:00 (day 122 from 0) by its name; HK16 always past an
  // alarm limit.
  const auto demo = read_file(testing_files::source_dir() + "/data/demo.dat");
  testing_files::write_file(dir.file("41220600.dat"), {demo.begin(), demo.begin() + 100 * 200});
  write_text(dir.file("limits.txt"), "HK16 caution=none alarm=100..200 hysteresis=default enabled=yes\n");
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--publish", broker.url("gse"), "--limits",
                                       dir.file("limits.txt"), "--csv-panel", dir.file("station.csv"), "41220600.dat"},
                                      dir.path(), 60, {"TZ=UTC"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const auto panel = records_of(dir.file("station.csv"));
  // The broker may hand on the offline status (QoS 1) before the last
  // frames (QoS 0): wait for both.
  const auto count = [&](const std::string& topic) {
    size_t n = 0;
    for (const std::string& line : lines_of(dir.file("sub.txt"))) n += line.rfind(topic + " ", 0) == 0;
    return n;
  };
  ASSERT_TRUE(wait_until(20, [&] {
    return has(dir.file("sub.txt"), R"("state":"offline")") && count("gse/frame") == panel.size() - 1 &&
           count("gse/values") == panel.size() - 1;
  })) << count("gse/frame") << " frames of " << panel.size() - 1;

  const Record& header = panel.front();
  std::vector<nlohmann::json> frames, alarms;
  size_t currents = 0;
  for (const std::string& line : lines_of(dir.file("sub.txt"))) {
    const std::string topic = line.substr(0, line.find(' '));
    if (topic == "gse/probe") continue;
    const auto m = nlohmann::json::parse(line.substr(line.find(' ') + 1));
    EXPECT_EQ(m["mode"], "playback") << line.substr(0, 200);
    if (topic == "gse/frame") frames.push_back(m);
    if (topic == "gse/alarms") alarms.push_back(m);
    if (topic != "gse/values") continue;
    // Each current as the panel shows it: mA, where the panel's value is in A.
    const Record& row = panel.at(m["seq"].get<size_t>());
    for (int slot = 8; slot <= 15; ++slot) {
      const std::string name = "HK" + std::to_string(slot);
      if (!m["values"].contains(name)) continue;
      ++currents;
      const auto column = std::find(header.begin(), header.end(), "PANEL_" + name) - header.begin();
      EXPECT_EQ(m["values"][name]["unit"], "mA") << name;
      EXPECT_NEAR(m["values"][name]["value"].get<double>(), 1000.0 * std::stod(row.at(static_cast<size_t>(column))),
                  1e-9)
          << name << " of frame " << m["seq"];
    }
  }
  EXPECT_GE(currents, 16u);
  ASSERT_EQ(frames.size(), panel.size() - 1);
  EXPECT_EQ(frames.front()["frame_time"], "2024-05-02T06:00:00.000Z") << "the first frame is the file's first bytes";
  for (size_t i = 1; i < frames.size(); ++i)
    ASSERT_GT(frames[i]["frame_time_ms"].get<int64_t>(), frames[i - 1]["frame_time_ms"].get<int64_t>()) << i;
  ASSERT_FALSE(alarms.empty());
  const auto& list = alarms.back();
  EXPECT_EQ(list["muted"], false);
  EXPECT_GE(list["unacknowledged"], 1);
  const auto hk16 = std::find_if(list["alarms"].begin(), list["alarms"].end(), [](const auto& a) { return a["key"] == "HK16"; });
  ASSERT_NE(hk16, list["alarms"].end()) << list.dump();
  for (const char* key : {"id", "source", "key", "what", "severity", "active", "now", "first_time_ms", "last_time_ms",
                          "occurrences", "worst_value", "worst_limit", "longest_s", "acknowledged",
                          "acknowledged_time_ms"})
    EXPECT_TRUE(hk16->contains(key)) << key;
  EXPECT_EQ((*hk16)["source"], "limit");
  EXPECT_EQ((*hk16)["severity"], "alarm");
  EXPECT_EQ((*hk16)["what"], "HK16 out of limits");
  EXPECT_EQ((*hk16)["acknowledged_time_ms"], nullptr);
  sub.signal(SIGTERM);
}

}  // namespace
