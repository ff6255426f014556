// The broker address, the login file, the messages' formats (worked values)
// and what a viewer refuses; the input feed that serves the remote view.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <fstream>
#include <string>
#include <vector>

#include "link/frame.h"
#include "present/json.h"
#include "publish/broker.h"
#include "publish/messages.h"
#include "publish/page_feed.h"
#include "runtime/hooks.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/frames.h"

namespace {

using namespace rt;

TEST(BrokerUrl, reads_the_address_and_refuses_what_mqtt_cannot_use) {
  struct Case {
    const char* url;
    const char* text;  // BrokerAddress::text(), or nullptr: refused
    const char* why;   // part of the reason
  };
  const Case cases[] = {
      {"mqtt://localhost/gse", "mqtt://localhost:1883/gse", ""},
      {"mqtts://broker.lab:8884/lab/vst/station1", "mqtts://broker.lab:8884/lab/vst/station1", ""},
      {"mqtts://10.0.0.5/gse", "mqtts://10.0.0.5:8883/gse", ""},
      {"mqtt://[::1]:1884/gse", "mqtt://[::1]:1884/gse", ""},
      {"http://localhost/gse", nullptr, "is not mqtt://"},
      {"mqtt://localhost", nullptr, "no topic prefix"},
      {"mqtt://localhost/", nullptr, "no topic prefix"},
      {"mqtt:///gse", nullptr, "no broker host"},
      {"mqtt://localhost:0/gse", nullptr, "not from 1 to 65535"},
      {"mqtt://localhost:70000/gse", nullptr, "not from 1 to 65535"},
      {"mqtt://localhost:x/gse", nullptr, "not a number"},
      {"mqtt://bob:pw@localhost/gse", nullptr, "no login in the address"},
      {"mqtt://localhost/gse/#", nullptr, "wildcard"},
      {"mqtt://localhost/a//b", nullptr, "empty level"},
      {"mqtt://localhost/$SYS", nullptr, "'$'"},
  };
  for (const Case& c : cases) {
    BrokerAddress a;
    std::string why;
    const bool ok = parse_broker_url(c.url, &a, &why);
    EXPECT_EQ(ok, c.text != nullptr) << c.url << ": " << why;
    if (ok) EXPECT_EQ(a.text(), c.text) << c.url;
    else EXPECT_NE(why.find(c.why), std::string::npos) << c.url << ": " << why;
  }
}

TEST(LoginFile, holds_the_user_then_the_password_and_warns_when_others_can_read_it) {
  testing_files::TempDir dir;
  struct Case {
    const char* text;
    unsigned mode;
    bool ok;
    const char* user;
    const char* password;
    bool warned;
  };
  const Case cases[] = {
      {"bob\nsecret\n", 0600, true, "bob", "secret", false},
      {"bob\r\nse cret \r\n", 0600, true, "bob", "se cret ", false},
      {"bob\n", 0600, true, "bob", "", false},
      {"bob\nsecret\n", 0644, true, "bob", "secret", true},
      {"\nsecret\n", 0600, false, "", "", false},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("login");
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
    ::chmod(path.c_str(), c.mode);
    BrokerLogin login;
    std::string why, warning;
    EXPECT_EQ(read_login_file(path, &login, &why, &warning), c.ok) << c.text << why;
    if (!c.ok) continue;
    EXPECT_EQ(login.username, c.user);
    EXPECT_EQ(login.password, c.password);
    EXPECT_EQ(!warning.empty(), c.warned) << warning;
  }
}

StationInfo station() { return {"0123456789abcdef", "0.1.0", "live", "/dev/ttyUSB0"}; }

FrameRecord worked_frame() {
  FrameRecord r;
  r.seq = 42;
  r.time_ms = 1714564800250;  // 2024-05-01T12:00:00.250Z
  r.skipped = 7;
  const std::vector<uint8_t> bytes = testing_frames::FrameBuilder().counter(0x12345).vec();
  std::copy(bytes.begin(), bytes.end(), r.bytes.begin());
  ShownValue hk;
  hk.name = "HK16";
  hk.number = 21.5;
  hk.unit = "°C";
  hk.limit = "normal";
  ShownValue time;
  time.name = "TIME";
  time.type = ShownValue::Type::Text;
  time.text = "0/00:02:03.4";
  r.values = {hk, time};
  return r;
}

TEST(MqttMessages, a_frame_travels_whole_with_its_sequence_time_and_skipped_count) {
  const FrameRecord sent = worked_frame();
  const std::string json = frame_json(sent, station());
  EXPECT_EQ(json.rfind(R"({"session":"0123456789abcdef","mode":"live","time_ms":1714564800250,)"
                       R"("time":"2024-05-01T12:00:00.250Z","seq":42,"skipped":7,"frame":"EB90)",
                       0),
            0u)
      << json;
  ReceivedFrame got;
  ASSERT_EQ(parse_frame(json, &got), Refusal::None);
  EXPECT_EQ(got.seq, 42u);
  EXPECT_EQ(got.time_ms, 1714564800250);
  EXPECT_EQ(got.skipped, 7);
  EXPECT_EQ(got.bytes, sent.bytes);
  // Hexadecimal in lower case, as another publisher may write it, is the same frame.
  std::string lower = json;
  for (size_t i = lower.find("\"frame\":\"") + 9; i < lower.size(); ++i)
    lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
  ReceivedFrame same;
  ASSERT_EQ(parse_frame(lower, &same), Refusal::None) << lower;
  EXPECT_EQ(same.bytes, sent.bytes);
}

TEST(MqttMessages, in_playback_a_frame_carries_its_own_time_beside_the_time_sent) {
  StationInfo played = station();
  FrameRecord r = worked_frame();
  r.frame_time_ms = 1714629600104;  // 2024-05-02T06:00:00.104Z
  for (const char* mode : {"link_replay", "playback"}) {
    played.mode = mode;
    for (const std::string& json : {frame_json(r, played), values_json(r, played)})
      EXPECT_NE(json.find(R"(","time_ms":1714564800250,"time":"2024-05-01T12:00:00.250Z",)"
                          R"("frame_time_ms":1714629600104,"frame_time":"2024-05-02T06:00:00.104Z","seq":42,)"),
                std::string::npos)
          << json;
  }
  ReceivedFrame got;
  ASSERT_EQ(parse_frame(frame_json(r, played), &got), Refusal::None);
  EXPECT_EQ(got.frame_time_ms, 1714629600104);
  r.frame_time_ms = NO_TIME;  // a recording whose name gives no start
  EXPECT_NE(frame_json(r, played).find(R"("frame_time_ms":null,"frame_time":null,)"), std::string::npos);
  ASSERT_EQ(parse_frame(frame_json(r, played), &got), Refusal::None);
  EXPECT_EQ(got.frame_time_ms, NO_TIME);
}

TEST(MqttMessages, times_of_one_second_and_the_next_read_as_their_own) {
  // In turn: the same second twice, the next one, back, and either side of 1970.
  const std::pair<int64_t, const char*> cases[] = {
      {1714564800250, "2024-05-01T12:00:00.250Z"}, {1714564800007, "2024-05-01T12:00:00.007Z"},
      {1714564801999, "2024-05-01T12:00:01.999Z"}, {1714564800000, "2024-05-01T12:00:00.000Z"},
      {-1, "1969-12-31T23:59:59.999Z"},            {-1000, "1969-12-31T23:59:59.000Z"},
      {0, "1970-01-01T00:00:00.000Z"},             {-1001, "1969-12-31T23:59:58.999Z"},
  };
  for (const auto& [ms, text] : cases) EXPECT_EQ(utc_time_text(ms), text) << ms;
}

TEST(MqttMessages, a_strip_message_carries_the_frames_handed_over_together_oldest_first) {
  StripPoints parts[2];
  parts[0].seq = 7;
  parts[0].time_ms = 1714564800150;
  parts[0].t_s = 0.0;  // the first frame of a link replay
  parts[0].traces = {std::vector<uint16_t>{1, 2, 10, 99}, {3, 100, 909}, {}, {65535, 1000, 9999, 10000, 20305}};
  parts[1].seq = 8;
  parts[1].time_ms = 1714564800250;
  parts[1].t_s = 0.125;
  parts[1].traces = {std::vector<uint16_t>{4}, {5}, {6}, {7}};
  std::string json;
  strip_json(parts, 2, station(), &json);
  EXPECT_EQ(json, R"({"session":"0123456789abcdef","mode":"live","time_ms":1714564800250,)"
                  R"("time":"2024-05-01T12:00:00.250Z","seq":8,"t_s":0.125,"traces":[[4],[5],[6],[7]],)"
                  R"("earlier":[{"seq":7,"t_s":0.0,"traces":[[1,2,10,99],[3,100,909],[],[65535,1000,9999,10000,20305]]}]})");
  // One frame: no "earlier".
  strip_json(parts, 1, station(), &json);
  EXPECT_EQ(json.substr(json.find("\"seq\"")), R"("seq":7,"t_s":0.0,"traces":[[1,2,10,99],[3,100,909],[],[65535,1000,9999,10000,20305]]})");
}

TEST(MqttMessages, values_carry_units_and_limit_states) {
  const std::string json = values_json(worked_frame(), station());
  EXPECT_NE(json.find(R"("seq":42,"fcount":74565,"kind":1,"hk_slot":5,)"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("values":{"HK16":{"value":21.5,"unit":"°C","limit":"normal"},)"
                      R"("TIME":{"value":"0/00:02:03.4"}})"),
            std::string::npos)
      << json;
}

TEST(MqttMessages, the_health_reads_back_as_the_station_had_it) {
  HealthSnapshot h;
  h.state = LinkState::Degraded;
  h.words = "degraded";
  h.reason = "checksum failure";
  h.fault_age_s = 2.5;
  h.bytes_per_s = 1920.0;
  h.frames_per_s = 9.6;
  h.failures_minute = {1, 0, 0, 0};
  h.failures_total = {3, 1, 2, 0};
  h.skipped = 612;
  h.skipped_minute = 200;
  h.age_s = 0.0;  // a frame this instant: known, not null
  h.good_frames = 1200;
  h.bytes_total = 240600;
  h.port_losses = 1;
  StationHealth got;
  ASSERT_EQ(parse_health(health_json(h, station(), 1714564800250, 5), &got), Refusal::None);
  EXPECT_EQ(got.health.state, LinkState::Degraded);
  EXPECT_EQ(got.health.reason, "checksum failure");
  EXPECT_EQ(got.health.fault_age_s, 2.5);
  EXPECT_EQ(got.health.age_s, 0.0);
  EXPECT_EQ(got.health.frames_per_s, 9.6);
  EXPECT_EQ(got.health.failures_total, h.failures_total);
  EXPECT_EQ(got.health.skipped, 612);
  EXPECT_EQ(got.health.good_frames, 1200);
  EXPECT_EQ(got.health.port_losses, 1);
  EXPECT_EQ(got.dropped, 5);
  EXPECT_EQ(got.station.source, "/dev/ttyUSB0");
  EXPECT_FALSE(got.health.playback) << "a live station";
  StationInfo played = station();
  played.mode = "playback";
  ASSERT_EQ(parse_health(health_json(h, played, 1714564800250, 5), &got), Refusal::None);
  EXPECT_TRUE(got.health.playback) << "a station playing a recording";
  // Printable, whatever the publisher put in them.
  HealthSnapshot forged = h;
  forged.words = "degraded\n2024-05-01 12:00:00.000 ERROR FORGED HEALTH";
  forged.reason = "\x1b]0;owned\x07\x1b[2Jgone\xe2\x80\xae" "evil";
  ASSERT_EQ(parse_health(health_json(forged, station(), 1714564800250, 5), &got), Refusal::None);
  EXPECT_EQ(got.health.words, "degraded?2024-05-01 12:00:00.000 ERROR FORGED HEALTH");
  EXPECT_EQ(got.health.reason, "?]0;owned??[2Jgone?evil");
  StationStatus status;
  ASSERT_EQ(parse_status(status_json(false, station(), 1714564800250, "the station quit"), &status), Refusal::None);
  EXPECT_FALSE(status.online);
  EXPECT_EQ(status.reason, "the station quit");
  ASSERT_EQ(parse_status(status_json(true, station(), 1714564800250, ""), &status), Refusal::None)
      << "online: no reason";
  EXPECT_TRUE(status.online);
}

TEST(MqttMessages, what_is_not_a_frame_is_refused_by_reason) {
  std::string good = frame_json(worked_frame(), station());
  auto with = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  struct Case {
    const char* name;
    std::string payload;
    Refusal refusal;
  };
  const std::vector<Case> cases = {
      {"too large", std::string(MAX_PAYLOAD + 1, ' '), Refusal::TooLarge},
      {"not JSON", "RCVD\r", Refusal::NotJson},
      {"an array", "[1,2]", Refusal::NotJson},
      {"cut short", good.substr(0, good.size() - 1), Refusal::NotJson},
      {"no sequence number", with("\"seq\":42,", ""), Refusal::BadFields},
      {"sequence 0", with("\"seq\":42", "\"seq\":0"), Refusal::BadFields},
      {"sequence as text", with("\"seq\":42", "\"seq\":\"42\""), Refusal::BadFields},
      {"negative skipped", with("\"skipped\":7", "\"skipped\":-7"), Refusal::BadFields},
      {"199 bytes", with("\"frame\":\"EB90", "\"frame\":\"90"), Refusal::NotAFrame},
      {"not hex", with("\"frame\":\"EB90", "\"frame\":\"EBXX"), Refusal::NotAFrame},
      {"no sync word", with("\"frame\":\"EB90", "\"frame\":\"EB91"), Refusal::NotAFrame},
  };
  for (const Case& c : cases) {
    ReceivedFrame got;
    EXPECT_EQ(parse_frame(c.payload, &got), c.refusal) << c.name << ": " << refusal_words(parse_frame(c.payload, &got));
  }
  // A frame whose checksum fails.
  FrameRecord bad = worked_frame();
  bad.bytes[100] ^= 0x01;
  ReceivedFrame got;
  EXPECT_EQ(parse_frame(frame_json(bad, station()), &got), Refusal::NotAFrame);
}

// The station's limits as its panel message carries them (the page feed's
// form): the viewer takes them as they stand, or refuses the whole message.
TEST(MqttMessages, the_panel_limits_read_back_and_forged_ones_are_refused) {
  const std::string head = R"({"session":"d35fe8342ef39718","mode":"live","time_ms":1,"title":"t","displays":[)";
  const std::string hk16 =
      R"({"name":"HK16","type":"double","unit":"°C","limits":{"caution":[-20.0,10.0],"alarm":[null,70.0],"enabled":true,"text":"x"}})";
  const std::string tail = R"(],"strip":{"capacity":2000}})";
  PublishedPanel got;
  ASSERT_EQ(parse_panel(head + R"({"name":"TIME","type":"text"},)" + hk16 + tail, &got), Refusal::None);
  ASSERT_EQ(got.displays.size(), 2u);
  EXPECT_EQ(got.displays[0].name, "TIME");
  EXPECT_FALSE(got.displays[0].limits.any()) << "listed without limits: none at the station";
  const Limits& l = got.displays[1].limits;
  EXPECT_EQ(got.displays[1].name, "HK16");
  ASSERT_TRUE(l.caution && l.alarm);
  EXPECT_EQ(*l.caution, (LimitRange{-20.0, 10.0}));
  EXPECT_EQ(l.alarm->low, -std::numeric_limits<double>::infinity()) << "null: an open end";
  EXPECT_EQ(l.alarm->high, 70.0);
  EXPECT_TRUE(l.enabled);

  auto with = [&](const std::string& from, const std::string& to) {
    std::string s = head + hk16 + tail;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const std::vector<std::pair<const char*, std::string>> forged = {
      {"low above high", with("[-20.0,10.0]", "[10.0,-20.0]")},
      {"an end as text", with("[-20.0,10.0]", R"(["-20",10.0])")},
      {"an infinite end", with("[-20.0,10.0]", R"([-20.0,"Infinity"])")},
      {"three ends", with("[-20.0,10.0]", "[-20.0,10.0,30.0]")},
      {"no enabled", with(R"(,"enabled":true)", "")},
      {"limits not an object", with(R"("limits":{)", R"("limits":"none","was":{)")},
      {"no name", with(R"("name":"HK16",)", "")},
      {"no displays", R"({"session":"d35fe8342ef39718","mode":"live"})"},
  };
  for (const auto& [name, payload] : forged)
    EXPECT_EQ(parse_panel(payload, &got), Refusal::BadFields) << name;
  EXPECT_EQ(parse_panel(std::string(MAX_PANEL_PAYLOAD + 1, ' '), &got), Refusal::TooLarge);
}

// Numbers a viewer casts or prints: refused unless finite and within what a
// station can send.
TEST(MqttMessages, forged_health_numbers_are_refused_before_any_cast) {
  HealthSnapshot h;
  h.words = "receiving";
  h.age_s = 0.5;
  const std::string good = health_json(h, station(), 1714564800250, 0);
  StationHealth got;
  ASSERT_EQ(parse_health(good, &got), Refusal::None) << good;
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const std::pair<const char*, std::string> cases[] = {
      {"age 1e300", with("\"age_s\":0.5", "\"age_s\":1e300")},
      {"age -Infinity", with("\"age_s\":0.5", "\"age_s\":\"-Infinity\"")},
      {"age below 0", with("\"age_s\":0.5", "\"age_s\":-5.0")},
      {"300-digit rate", with("\"frames_per_s\":0.0", "\"frames_per_s\":" + std::string(300, '9'))},
      {"rate NaN", with("\"bytes_per_s\":0.0", "\"bytes_per_s\":\"NaN\"")},
      {"fault age Infinity", with("\"fault_age_s\":null", "\"fault_age_s\":\"Infinity\"")},
      {"losses 2^63-1", with("\"port_losses\":0", "\"port_losses\":9223372036854775807")},
      {"count beyond int64", with("\"good_frames\":0", "\"good_frames\":18446744073709551615")},
  };
  for (const auto& [name, payload] : cases) EXPECT_EQ(parse_health(payload, &got), Refusal::BadFields) << name;
}

TEST(JsonNumbers, non_finite_values_travel_as_text_both_ways) {
  // Finite ones: 17 significant digits (9 for a float), always a point or
  // an exponent.
  EXPECT_EQ(json_double(100.0), "100.0");
  EXPECT_EQ(json_double(-0.0), "-0.0");
  EXPECT_EQ(json_double(0.1), "0.10000000000000001");
  EXPECT_EQ(json_double(1e21), "1e+21");
  EXPECT_EQ(json_double(-2.5e-7), "-2.4999999999999999e-07");
  EXPECT_EQ(json_float(0.1f), "0.100000001");
  EXPECT_EQ(json_float(3e10f), "3.0000001e+10");  // the float nearest 3e10: 30000001024
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(json_double(-inf), "\"-Infinity\"");
  EXPECT_EQ(json_double(inf), "\"Infinity\"");
  double v = 0.0;
  ASSERT_TRUE(json_nonfinite("-Infinity", &v));
  EXPECT_EQ(v, -inf);
  ASSERT_TRUE(json_nonfinite("Infinity", &v));
  EXPECT_EQ(v, inf);
  ASSERT_TRUE(json_nonfinite("NaN", &v));
  EXPECT_TRUE(std::isnan(v));
  EXPECT_FALSE(json_nonfinite("-inf", &v));
}

TEST(PrintableText, keeps_words_and_replaces_what_a_terminal_or_log_would_obey) {
  const std::pair<std::string, std::string> cases[] = {
      {"HK16 out of limits: 87.50 \u00b0C", "HK16 out of limits: 87.50 \u00b0C"},
      {"two\nlines\r", "two?lines?"},
      {"\x1b[31mred\x07", "?[31mred?"},
      {"C1 \xc2\x9b" "31m", "C1 ?31m"},
      {"bidi \xe2\x80\xae and line \xe2\x80\xa8", "bidi ? and line ?"},
      {"not UTF-8 \xff\xc3(", "not UTF-8 ??("},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(printable_text(in), out) << in;
  EXPECT_EQ(printable_text(std::string(50, 'a'), 10), "aaaaaaa...");
  EXPECT_EQ(printable_text("\u00b0\u00b0\u00b0\u00b0\u00b0\u00b0", 8), "\u00b0\u00b0..."); // never half a character
}

TEST(MqttMessages, the_alarm_list_reads_back_as_the_station_published_it) {
  PublishedAlarms list;
  list.station = station();
  list.time_ms = 1714564800250;
  list.muted = true;
  list.unacknowledged = 1;
  PublishedAlarm hk;
  hk.id = 1;
  hk.source = "limit";
  hk.key = "HK16";
  hk.what = "HK16 out of limits";
  hk.severity = "alarm";
  hk.active = true;
  hk.now = "alarm: 87.50 \u00b0C";
  hk.first_time_ms = 1714564000000;
  hk.last_time_ms = 1714564800000;
  hk.occurrences = 3;
  hk.worst_value = "87.50 \u00b0C";
  hk.worst_limit = "above the alarm limit 70.00 \u00b0C";
  PublishedAlarm link;
  link.id = 2;
  link.source = "link";
  link.key = "silent";
  link.what = "link: LINK SILENT";
  link.severity = "alarm";
  link.now = "receiving";
  link.first_time_ms = link.last_time_ms = 1714564100000;
  link.occurrences = 1;
  link.longest_s = 14.2;
  link.acknowledged = true;
  link.acknowledged_time_ms = 1714564200000;
  list.alarms = {hk, link};
  const std::string json = alarms_json(list);
  EXPECT_NE(json.find(R"("muted":true,"unacknowledged":1,"alarms":[{"id":1,"source":"limit","key":"HK16",)"
                      R"("what":"HK16 out of limits","severity":"alarm","active":true,"now":"alarm: 87.50 °C",)"
                      R"("first_time_ms":1714564000000,"last_time_ms":1714564800000,"occurrences":3,)"
                      R"("worst_value":"87.50 °C","worst_limit":"above the alarm limit 70.00 °C",)"
                      R"("longest_s":0.0,"acknowledged":false,"acknowledged_time_ms":null})"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"("worst_value":null,"worst_limit":null,"longest_s":14.199999999999999,)"
                      R"("acknowledged":true,"acknowledged_time_ms":1714564200000})"),
            std::string::npos)
      << json;
  PublishedAlarms got;
  ASSERT_EQ(parse_alarms(json, &got), Refusal::None);
  ASSERT_EQ(got.alarms.size(), 2u);
  EXPECT_TRUE(got.muted);
  EXPECT_EQ(got.alarms[0].worst_limit, "above the alarm limit 70.00 \u00b0C");
  EXPECT_EQ(got.alarms[0].acknowledged_time_ms, NO_TIME);
  EXPECT_EQ(got.alarms[1].worst_value, "");
  EXPECT_EQ(got.alarms[1].longest_s, 14.2);
  EXPECT_EQ(got.alarms[1].acknowledged_time_ms, 1714564200000);
  std::string red = json;
  red.replace(red.find("\"severity\":\"alarm\""), 18, "\"severity\":\"red\"");
  EXPECT_EQ(parse_alarms(red, &got), Refusal::BadFields) << "severity is alarm or caution";
}

// A feed that yields a script of bytes, a few at a time.
class ScriptFeed : public InputFeed {
 public:
  explicit ScriptFeed(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  size_t read(uint8_t* out, size_t n, int) override {
    const size_t take = std::min({n, bytes_.size() - at_, size_t{7}});
    std::memcpy(out, bytes_.data() + at_, take);
    at_ += take;
    return take;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t at_ = 0;
};

TEST(InputFeed, serves_the_playback_input_of_its_name_like_a_pipe) {
  std::vector<uint8_t> bytes = testing_frames::FrameBuilder().counter(9).vec();
  ScriptFeed feed(bytes);
  set_input_feed("mqtt://127.0.0.1:1883/gse", &feed);
  FileStream* in = FileOpen("mqtt://127.0.0.1:1883/gse", "rb");
  ASSERT_NE(in, nullptr);
  uint8_t frame[200];
  ASSERT_EQ(FileRead(frame, 200, 1, in), 1u);
  EXPECT_EQ(std::vector<uint8_t>(frame, frame + 200), bytes);
  EXPECT_EQ(FileSeek(in, -199, SEEK_CUR), 0) << "steps back within the look-back";
  EXPECT_EQ(FileGetc(in), 0x90);
  EXPECT_NE(FileSeek(in, 1000, SEEK_SET), 0) << "never skips ahead";
  FileClose(in);
  set_input_feed("mqtt://127.0.0.1:1883/gse", nullptr);
  EXPECT_EQ(FileOpen("mqtt://127.0.0.1:1883/gse", "rb"), nullptr) << "withdrawn: a file by that name";
}

}  // namespace
