// Logins and TLS against a real broker: mosquitto with a password file and
// certificates made for the test with openssl (support/broker.h).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/broker.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using testing_broker::Broker;
using testing_broker::BrokerOptions;
using testing_files::read_text;
using testing_files::TempDir;
using testing_process::Child;
using testing_process::wait_until;

std::string demo() { return testing_files::source_dir() + "/data/demo.dat"; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  for (size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1) out.push_back(text.substr(from, at - from));
  return out;
}

std::string login_file(const TempDir& dir, const std::string& user, const std::string& password) {
  const std::string path = dir.file("login");
  std::ofstream(path) << user << "\n" << password << "\n";
  ::chmod(path.c_str(), 0600);
  return path;
}

TEST(BrokerSecurity, a_viewer_the_broker_refuses_ends_with_one_clear_message) {
  struct Case {
    const char* name;
    BrokerOptions broker;
    bool other_ca;  // TLS: trust a CA that did not sign the broker's certificate
    std::vector<std::string> env;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"wrong password", {"bob", "secret", false}, false,
       {"VST_GSE_MQTT_USER=bob", "VST_GSE_MQTT_PASSWORD=guess"}, "refused the login as \"bob\""},
      {"no login", {"bob", "secret", false}, false, {}, "refused the login (no user name given)"},
      {"certificate of another CA", {"", "", true}, true, {}, "certificate does not verify"},
      {"certificate no system CA signed", {"", "", true}, false, {}, "certificate does not verify"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Broker broker(dir.path(), c.broker);
    std::vector<std::string> args{"--headless", "--subscribe", broker.url("gse")};
    if (c.other_ca) args.insert(args.end(), {"--mqtt-ca", broker.other_ca_file()});
    const auto r = testing_process::run(testing_process::vst_gse(), args, dir.path(), 60, c.env);
    EXPECT_EQ(r.exit_code, 1) << c.name << "\n" << r.out << r.err;
    const auto said = lines(r.out);
    ASSERT_EQ(said.size(), 1u) << c.name << ": one line, not:\n" << r.out;
    EXPECT_NE(said[0].find(broker.url("gse")), std::string::npos) << c.name << ": " << said[0];
    EXPECT_NE(said[0].find(c.reason), std::string::npos) << c.name << ": " << said[0];
  }
}

TEST(BrokerSecurity, a_station_the_broker_refuses_says_so_once_and_plays_on) {
  TempDir dir;
  Broker broker(dir.path(), {"bob", "secret", false});
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--publish", broker.url("gse"), "--mqtt-login",
                                       login_file(dir, "bob", "guess"), "--summary", dir.file("s.json"), demo()},
                                      dir.path(), 60);
  EXPECT_EQ(r.exit_code, 7) << r.out << r.err;
  const auto said = lines(r.out);
  ASSERT_EQ(said.size(), 1u) << r.out;
  EXPECT_NE(said[0].find("publish: " + broker.url("gse") + ": the broker refused the login as \"bob\""),
            std::string::npos)
      << said[0];
  const auto summary = nlohmann::json::parse(read_text(dir.file("s.json")));
  EXPECT_EQ(summary["good_frames"], 1797) << "the playback went on to its end";
  EXPECT_NE(summary["publish"]["refused"], "");
  EXPECT_EQ(summary["publish"]["frames_published"], 0);
}

TEST(BrokerSecurity, tls_with_a_login_carries_the_session_whole) {
  TempDir dir;
  Broker broker(dir.path(), {"bob", "secret", true});
  const std::string url = broker.url("gse");
  EXPECT_EQ(url.rfind("mqtts://", 0), 0u);
  Child view(testing_process::vst_gse(),
             {"--headless", "--subscribe", url, "--mqtt-ca", broker.ca_file(), "--csv-panel", dir.file("view.csv"),
              "--log", dir.file("view.log")},
             dir.path(), dir.file("view.out"), {"VST_GSE_MQTT_USER=bob", "VST_GSE_MQTT_PASSWORD=secret"});
  ASSERT_TRUE(wait_until(20, [&] { return read_text(dir.file("view.log")).find("remote view: connected to") != std::string::npos; }))
      << read_text(dir.file("view.out"));
  const auto r = testing_process::run(testing_process::vst_gse(),
                                      {"--headless", "--speed", "0", "--publish", url, "--mqtt-ca", broker.ca_file(),
                                       "--mqtt-login", login_file(dir, "bob", "secret"), "--csv-panel",
                                       dir.file("station.csv"), demo()},
                                      dir.path(), 60);
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const std::string station = read_text(dir.file("station.csv"));
  ASSERT_TRUE(wait_until(20, [&] { return read_text(dir.file("view.csv")) == station; }))
      << "the viewer's panel rows differ from the station's";
  view.signal(SIGTERM);
  EXPECT_EQ(view.wait(10), 0);
}

}  // namespace
