// The browser view in a real Chromium (Debian's, headless), loaded from a
// real mosquitto's WebSockets listener (http_dir) on a free loopback port,
// while the built station publishes a recording made by gse_sim. The page
// is driven by tests/web/drive.mjs (playwright-core), which records what
// every display shows at each drawing. The broker has a login for the
// station (read and write) and one for the page (read only); one test runs
// the example configuration as shipped (dist/mosquitto: TLS, stunnel).
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "present/display_format.h"
#include "support/broker.h"
#include "support/builtin_panel.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_broker::Broker;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;

const char* const PREFIX = "lab/gse";

Broker web_broker(const TempDir& dir) {
  testing_broker::BrokerOptions o;
  o.user = "station";
  o.password = "st4tion-pw";
  testing_broker::WebOptions web;
  web.user2 = "viewer";
  web.password2 = "v1ewer-pw";
  web.acl = "user station\ntopic readwrite lab/gse/#\nuser viewer\ntopic read lab/gse/#\n";
  web.http_dir = GSE_WEB_DIR;
  return Broker(dir.path(), o, web);
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A recording of `frames` frames with faults in it (noise, bad checksums)
// and a housekeeping slot that leaves its limits for a while.
std::string recording(const TempDir& dir, int frames) {
  const std::string path = dir.file("rec.dat");
  const auto r = testing_process::run(testing_process::gse_sim(),
                                      {"--out", path, "--frames", std::to_string(frames), "--seed", "7", "--noise",
                                       "5", "--bad-checksum", "37,90", "--hk", "16=60@40..160", "--quiet"},
                                      dir.path(), 60);
  if (r.exit_code != 0) throw std::runtime_error("gse_sim failed: " + r.out + r.err);
  return path;
}

// The station publishing `rec` under `prefix` with the login `user`
// (password st4tion-pw); `more`: options of its own (a CA).
std::unique_ptr<Child> station(const TempDir& dir, const Broker& broker, const std::string& rec, const char* speed,
                               const std::string& prefix = PREFIX, const std::string& user = "station",
                               const std::vector<std::string>& more = {}) {
  write_text(dir.file("station.login"), user + "\nst4tion-pw\n");
  std::filesystem::permissions(dir.file("station.login"), std::filesystem::perms::owner_read |
                                                              std::filesystem::perms::owner_write);
  std::vector<std::string> args{"--headless", "--speed", speed, "--publish", broker.url(prefix), "--mqtt-login",
                                dir.file("station.login"), "--csv-panel", dir.file("station.csv"), "--log",
                                dir.file("station.log")};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back(rec);
  return std::make_unique<Child>(testing_process::vst_gse(), args, dir.path(), dir.file("station.out"));
}

// The page in Chromium at `url`, logged in as `user`; `env`: more of the
// driver's environment (a certificate to trust).
class Page {
 public:
  Page(const TempDir& dir, const Broker& broker)
      : Page(dir,
             "http://127.0.0.1:" + std::to_string(broker.ws_port()) + "/index.html?prefix=" + PREFIX + "&user=viewer",
             "viewer", "v1ewer-pw") {}
  Page(const TempDir& dir, const std::string& url, const std::string& user, const std::string& password,
       std::vector<std::string> env = {})
      : dir_(dir) {
    std::filesystem::create_directories(out());
    env.push_back("VST_WEB_USER=" + user);
    env.push_back("VST_WEB_PASSWORD=" + password);
    driver_ = std::make_unique<Child>(GSE_NODE, std::vector<std::string>{GSE_WEB_DRIVER, url, out()}, dir.path(),
                                      dir.file("driver.out"), env, dir.file("driver.err"));
  }
  ~Page() {
    command("quit");
    if (driver_->wait(20) < 0) driver_->signal(SIGKILL);
  }

  std::string out() const { return dir_.file("page"); }
  nlohmann::json state() const {
    const std::string text = read_text(out() + "/state.json");
    return text.empty() ? nlohmann::json::object() : nlohmann::json::parse(text);
  }
  // Waits until the page's state satisfies `holds`; false after timeout_s.
  bool wait_for(double timeout_s, const std::function<bool(const nlohmann::json&)>& holds) const {
    return wait_until(timeout_s, [&] { return holds(state()); });
  }
  void command(const std::string& line) const { std::ofstream(out() + "/commands", std::ios::app) << line << "\n"; }

  // Every drawing: the frame's sequence number and what each display showed.
  std::vector<nlohmann::json> drawn() const {
    // Complete lines only: the driver may be writing the last.
    std::vector<nlohmann::json> out;
    const std::string text = read_text(this->out() + "/drawn.jsonl");
    size_t from = 0;
    for (size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
      out.push_back(nlohmann::json::parse(text.substr(from, end - from)));
    return out;
  }
  long long last_drawn() const {
    const auto d = drawn();
    return d.empty() ? 0 : d.back()["seq"].get<long long>();
  }
  // A publish attempt with the page's login from the page's origin: the
  // broker's answers ({"connack":N,"puback":N}), null when none came.
  nlohmann::json publish_attempt(const std::string& topic) const {
    command("publish " + topic);
    if (!wait_until(30, [&] { return !read_text(out() + "/publish.json").empty(); })) return nullptr;
    return nlohmann::json::parse(read_text(out() + "/publish.json"));
  }
  // The page at WIDTH x HEIGHT into `png`; what is cut or overlaps at that
  // size (empty when nothing), or a note that the driver never answered.
  std::vector<std::string> screenshot(int width, int height, const std::string& png) const {
    command("screenshot " + std::to_string(width) + " " + std::to_string(height) + " " + png);
    if (!wait_until(30, [&] { return read_text(out() + "/done").find(png) != std::string::npos; }))
      return {"no screenshot " + png + ": " + diagnostics()};
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return nlohmann::json::parse(read_text(out() + "/layout-" + size + ".json")).get<std::vector<std::string>>();
  }
  std::string diagnostics() const {
    return "driver: " + read_text(dir_.file("driver.err")) + "\nstate: " + read_text(out() + "/state.json");
  }

 private:
  const TempDir& dir_;
  std::unique_ptr<Child> driver_;
};

bool text_has(const nlohmann::json& s, const char* key, const std::string& text) {
  return s.contains(key) && s[key].get<std::string>().find(text) != std::string::npos;
}

// A message from someone with the station's login (a broken or hostile
// station), as mosquitto_pub sends it.
int publish_as_station(const Broker& broker, const TempDir& dir, const std::string& leaf, const std::string& payload,
                       bool retained = false) {
  static int n = 0;
  const std::string file = dir.file("hostile" + std::to_string(++n));
  write_text(file, payload);
  std::vector<std::string> args{"-h", "127.0.0.1", "-p", std::to_string(broker.port()), "-V", "mqttv5",
                                "-u", "station", "-P", "st4tion-pw", "-t", std::string(PREFIX) + "/" + leaf, "-f", file};
  if (retained) args.push_back("-r");
  return testing_process::run("/usr/bin/mosquitto_pub", args, dir.path(), 20).exit_code;
}

// What the panel shows of a --csv-panel field: the station's own formatter
// on the value it holds (the page must write the same digits).
std::string shown(const rt::ControlInfo& c, const std::string& field) {
  if (field.empty() || c.type == rt::ValueType::Text || c.type == rt::ValueType::Int) return field;
  return rt::format_display_double(std::strtod(field.c_str(), nullptr), c.format);
}

TEST(WebPage, shows_each_frame_as_the_station_did_refuses_hostile_messages_and_cannot_publish) {
  TempDir dir;
  Broker broker = web_broker(dir);
  const std::string rec = recording(dir, 240);
  Page page(dir, broker);
  ASSERT_TRUE(page.wait_for(60, [](const auto& s) { return s.value("brokerState", "") == "connected"; }))
      << page.diagnostics();
  auto st = station(dir, broker, rec, "2");

  // Hostile messages while the frames come: each refused and counted.
  ASSERT_TRUE(wait_until(60, [&] { return page.last_drawn() >= 20; })) << page.diagnostics();
  const std::string frame_ok =
      "{\"session\":\"d35fe8342ef39718\",\"time_ms\":1796702657893,\"seq\":3,\"skipped\":0,\"frame\":\"EB90" +
      std::string(396, '0') + "\"}";  // the checksum of all those zeros is not 0xEB90
  const std::vector<std::pair<std::string, std::string>> hostile{
      {"values", "{\"session\":"},                                   // not JSON
      {"frame", frame_ok},                                           // a bad checksum
      {"frame", "{\"session\":\"d35fe8342ef39718\",\"time_ms\":1,\"seq\":3,\"skipped\":0,\"frame\":\"EB90\"}"},
      {"status", "{\"state\":\"offline\",\"reason\":\"forged\"}"},   // a status from nobody
      {"values", std::string(100 * 1024, ' ')},                      // too large
      {"strip", "{\"session\":\"d35fe8342ef39718\",\"time_ms\":1,\"seq\":9,\"t_s\":1,\"traces\":[[],[]]}"},
  };
  for (const auto& [leaf, payload] : hostile) ASSERT_EQ(publish_as_station(broker, dir, leaf, payload), 0);
  EXPECT_TRUE(page.wait_for(30, [](const auto& s) { return text_has(s, "counts", "refused 6"); }))
      << page.diagnostics();

  // The station's own alarm list: HK16 at 60 °C from frame 40 on passes
  // the panel's caution limit (50 °C); the station raises the row and
  // publishes its list, and the page lists the row.
  EXPECT_TRUE(page.wait_for(60, [](const auto& s) {
    return text_has(s, "alarms", "HK16 out of limits") && text_has(s, "alarms", "AMBER") &&
           text_has(s, "alarms", "60.00 °C (above the caution limit 50.00 °C)") &&
           text_has(s, "alarmHead", "1 not acknowledged");
  })) << page.diagnostics();

  // A publish from the page's origin with the page's login: the broker's ACL
  // refuses it (0x87, not authorized); and the page itself never sent one.
  const auto attempt = page.publish_attempt("lab/gse/status");
  ASSERT_FALSE(attempt.is_null()) << page.diagnostics();
  EXPECT_EQ(attempt["connack"], 0) << attempt.dump();
  EXPECT_EQ(attempt["puback"], 0x87) << attempt.dump();

  ASSERT_EQ(st->wait(120), 0) << read_text(dir.file("station.out"));
  const auto records = testing_files::parse_csv(read_text(dir.file("station.csv")));
  ASSERT_GT(records.size(), 200u);
  const long long frames = static_cast<long long>(records.size()) - 1;
  ASSERT_TRUE(wait_until(30, [&] { return page.last_drawn() == frames; })) << page.diagnostics();

  // Every drawing shows, for every display, what the panel showed after that
  // frame (--csv-panel's row), and the page lost no frame.
  const rt::PanelLayout layout = testing_panel::builtin_gse_layout();
  const auto& header = records.front();
  std::map<std::string, const rt::ControlInfo*> controls;
  for (const auto& c : layout.controls) controls[c.name] = &c;
  const auto drawn = page.drawn();
  std::set<long long> seen;
  for (const auto& d : drawn) {
    const long long seq = d["seq"];
    ASSERT_TRUE(seq >= 1 && seq <= frames) << seq;
    seen.insert(seq);
    const auto& row = records[static_cast<size_t>(seq)];
    ASSERT_EQ(d["displays"].size(), header.size() - 1) << "the page shows other displays than the panel";
    for (size_t col = 1; col < header.size(); ++col) {
      const std::string name = header[col].substr(6);  // without PANEL_
      ASSERT_TRUE(d["displays"].contains(name)) << name << " is not on the page";
      const std::string want = shown(*controls.at(header[col]), row[col]);
      EXPECT_EQ(d["displays"][name].get<std::string>(), want) << name << " after frame " << seq;
    }
  }
  // Frames come at twenty a second: each gets its own drawing, but a
  // loaded machine may merge a few.
  EXPECT_GT(seen.size(), static_cast<size_t>(frames / 2)) << "drawings: " << seen.size() << " of " << frames;
  // The page's counts are written once a second.
  EXPECT_TRUE(page.wait_for(10, [&](const auto& s) {
    return text_has(s, "pageCounts", "frames received " + std::to_string(frames) + ", missed 0");
  })) << page.diagnostics();
  const auto s = page.state();
  EXPECT_TRUE(s["published"].empty()) << "the page sent a PUBLISH: " << s.dump();
  EXPECT_TRUE(s["errors"].empty()) << s.dump();
  EXPECT_GT(s["spectra"].get<int>(), 0) << "no spectrum drawn";
  EXPECT_GT(s["log"].get<int>(), 0) << "no log entry shown";

  // For the README: the page on a phone, a laptop and a desktop screen; on
  // each, nothing cut and nothing over anything else.
  const char* keep = std::getenv("VST_WEB_SCREENSHOTS");
  for (const auto& [w, h] : {std::pair{360, 740}, std::pair{1366, 768}, std::pair{1920, 1080}}) {
    const std::string png = (keep ? std::string(keep) : page.out()) + "/web-" + std::to_string(w) + "x" +
                            std::to_string(h) + ".png";
    const auto problems = page.screenshot(w, h, png);
    EXPECT_TRUE(problems.empty()) << w << "x" << h << ": " << nlohmann::json(problems).dump(1);
  }
}

// The example configuration as shipped (dist/mosquitto), its ports and
// paths made the test's: the station publishes over MQTT with TLS; the page
// comes over https from stunnel in front of the broker's WebSockets
// listener, Chromium trusting the broker's certificate as a viewer's
// browser would; the viewer's login reads the frames and cannot publish.
TEST(WebPage, the_shipped_configuration_serves_the_page_over_tls_to_a_read_only_login) {
  TempDir dir;
  testing_broker::BrokerOptions o;
  o.user = "station1";
  o.password = "st4tion-pw";
  o.tls = true;
  testing_broker::WebOptions web;
  web.user2 = "scientist";
  web.password2 = "sc1entist-pw";
  web.http_dir = GSE_WEB_DIR;
  web.shipped = GSE_SHIPPED_BROKER;
  Broker broker(dir.path(), o, web);
  const std::string rec = recording(dir, 120);

  // The certificate's public key as Chromium's --ignore-certificate-errors-spki-list takes it.
  const auto spki = testing_process::run(
      "/bin/sh", {"-c", "openssl x509 -pubkey -noout -in '" + broker.cert_file() +
                            "' | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary | base64"},
      dir.path(), 20);
  ASSERT_EQ(spki.exit_code, 0) << spki.err;
  Page page(dir,
            "https://localhost:" + std::to_string(broker.ws_port()) + "/index.html?prefix=vst/station1&user=scientist",
            "scientist", "sc1entist-pw", {"VST_WEB_TRUST_SPKI=" + spki.out.substr(0, spki.out.find('\n'))});
  ASSERT_TRUE(page.wait_for(60, [](const auto& s) { return s.value("brokerState", "") == "connected"; }))
      << page.diagnostics();
  auto st = station(dir, broker, rec, "2", "vst/station1", "station1", {"--mqtt-ca", broker.ca_file()});
  EXPECT_TRUE(wait_until(60, [&] { return page.last_drawn() >= 20; })) << page.diagnostics();

  const auto attempt = page.publish_attempt("vst/station1/status");
  ASSERT_FALSE(attempt.is_null()) << page.diagnostics();
  EXPECT_EQ(attempt["connack"], 0) << attempt.dump();
  EXPECT_EQ(attempt["puback"], 0x87) << attempt.dump();  // not authorized
  EXPECT_EQ(st->wait(120), 0) << read_text(dir.file("station.out"));
  EXPECT_TRUE(page.state()["errors"].empty()) << page.diagnostics();
}

TEST(WebPage, reconnects_after_the_broker_returns_and_shows_the_station_s_last_will) {
  TempDir dir;
  Broker broker = web_broker(dir);
  const std::string rec = recording(dir, 2000);
  Page page(dir, broker);
  ASSERT_TRUE(page.wait_for(60, [](const auto& s) { return s.value("brokerState", "") == "connected"; }))
      << page.diagnostics();
  auto st = station(dir, broker, rec, "1");
  ASSERT_TRUE(wait_until(60, [&] { return page.last_drawn() >= 5; })) << page.diagnostics();

  broker.kill();
  EXPECT_TRUE(page.wait_for(30, [](const auto& s) {
    return s.value("brokerState", "") == "away" && text_has(s, "broker", "BROKER AWAY");
  })) << page.diagnostics();
  const long long before = page.last_drawn();
  broker.restart();
  // The page's back-off is at most 15 s; the station's too.
  EXPECT_TRUE(page.wait_for(60, [](const auto& s) { return s.value("brokerState", "") == "connected"; }))
      << page.diagnostics();
  EXPECT_TRUE(wait_until(60, [&] { return page.last_drawn() > before + 5; })) << page.diagnostics();
  EXPECT_TRUE(page.wait_for(10, [](const auto& s) { return text_has(s, "presence", "STATION ONLINE"); }))
      << page.diagnostics();

  // The station vanishes: the broker says so with its last will.
  st->signal(SIGKILL);
  st->wait(10);
  EXPECT_TRUE(page.wait_for(60, [](const auto& s) { return text_has(s, "presence", "STATION OFFLINE"); }))
      << page.diagnostics();
  EXPECT_TRUE(page.state()["errors"].empty()) << page.diagnostics();
}

}  // namespace
