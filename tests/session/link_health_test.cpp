// The link's health on an injected clock: each state from what the run-time
// observes, the rates, the failure counts over the last minute and in total,
// the longest gap; the uplink's messages; the summary's figures.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "session/link_health.h"
#include "session/session_summary.h"
#include "session/uplink.h"

namespace {

using rt::LinkHealth;
using rt::LinkState;

const std::string GOOD = " ";
const std::string CHECKSUM = "COM1 err: checksum failure";
const std::string TIMEOUT = "COM1 err: too few bytes read";

// The link at its rate from `from_s` to `to_s`: 1920 bytes a second in
// quarter-second samples, and a good frame every 0.1 s when `frames`.
void link_runs(LinkHealth& h, uint64_t& bytes, double from_s, double to_s, bool frames) {
  for (int step = 0; from_s + step / 10.0 < to_s - 1e-9; ++step) {
    const double t = from_s + step / 10.0;
    bytes += 192;
    h.on_bytes(bytes, t);
    if (frames) h.on_status(GOOD, t);
  }
}

struct StateCase {
  const char* name;
  std::function<void(LinkHealth&)> events;  // up to t = 20 s at most
  double at_s;
  LinkState expected;
  bool stale;
};

TEST(LinkHealth, each_state_follows_from_what_the_link_did) {
  const StateCase cases[] = {
      {"nothing yet", [](LinkHealth&) {}, 2.9, LinkState::Waiting, false},
      {"silent from the start", [](LinkHealth&) {}, 3.0, LinkState::Silent, false},
      {"random bytes (a wrong baud rate) just before the limit",
       [](LinkHealth& h) { uint64_t b = 0; link_runs(h, b, 0.0, 2.9, false); }, 2.9, LinkState::Waiting, false},
      {"random bytes (a wrong baud rate) at the limit",
       [](LinkHealth& h) { uint64_t b = 0; link_runs(h, b, 0.0, 3.1, false); }, 3.0, LinkState::NoFrames, false},
      {"good frames at the link's rate",
       [](LinkHealth& h) { uint64_t b = 0; link_runs(h, b, 0.0, 10.0, true); }, 10.0, LinkState::Receiving, false},
      {"a checksum failure 9 s ago",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_status(CHECKSUM, 5.0);
         link_runs(h, b, 5.1, 14.0, true);
       },
       14.0, LinkState::Degraded, false},
      {"a checksum failure 10 s ago",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_status(CHECKSUM, 5.0);
         link_runs(h, b, 5.1, 15.0, true);
       },
       15.0, LinkState::Receiving, false},
      {"skipped bytes grew (a noise burst)",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_skipped(0, 4.0);
         h.on_skipped(37, 5.0);
       },
       6.0, LinkState::Degraded, false},
      {"frames stop, bytes go on",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         link_runs(h, b, 5.0, 12.0, false);
       },
       12.0, LinkState::NoFrames, true},
      {"the sender stops",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         for (double t = 5.0; t < 9.0; t += 1.05) h.on_status(TIMEOUT, t);
       },
       9.0, LinkState::Silent, true},
      {"port lost",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_port_lost(5.5);
       },
       8.0, LinkState::PortLost, true},
      {"port back, no frame yet",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_port_lost(5.5);
         h.on_port_returned(12.0);
       },
       13.0, LinkState::Waiting, true},
      {"port back, frames again",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_port_lost(5.5);
         h.on_port_returned(12.0);
         link_runs(h, b, 12.2, 14.0, true);
       },
       14.0, LinkState::Receiving, false},
  };
  for (const StateCase& c : cases) {
    LinkHealth h(false, 0.0);
    h.on_bytes(0, 0.0);
    c.events(h);
    const rt::HealthSnapshot s = h.snapshot(c.at_s);
    EXPECT_EQ(s.state, c.expected) << c.name << ": " << s.words << " (" << s.reason << ")";
    EXPECT_EQ(s.stale, c.stale) << c.name;
  }
  // Degraded names the fault and how long ago it came.
  LinkHealth h(false, 0.0);
  uint64_t bytes = 0;
  h.on_bytes(0, 0.0);
  link_runs(h, bytes, 0.0, 5.0, true);
  h.on_status(TIMEOUT, 5.0);
  link_runs(h, bytes, 5.0, 7.5, true);
  const rt::HealthSnapshot s = h.snapshot(7.5);
  EXPECT_EQ(s.reason, "read failure");
  EXPECT_DOUBLE_EQ(s.fault_age_s, 2.5);
}

TEST(LinkHealth, playback_states_and_thresholds_that_stretch_with_a_slow_speed) {
  struct Case {
    const char* name;
    std::function<void(LinkHealth&)> events;
    double at_s;
    LinkState expected;
    bool stale;
  };
  const Case cases[] = {
      {"playing", [](LinkHealth& h) { uint64_t b = 0; link_runs(h, b, 0.0, 4.0, true); }, 4.0,
       LinkState::Receiving, false},
      {"paused long after the last frame",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 4.0, true);
         h.set_paused(true, 4.0);
       },
       60.0, LinkState::Paused, false},
      {"resumed: judged afresh from the resume",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 4.0, true);
         h.set_paused(true, 4.0);
         h.set_paused(false, 60.0);
       },
       61.0, LinkState::Waiting, true},
      {"end of input",
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 4.0, true);
         h.on_status("EOF on input file", 4.1);
       },
       30.0, LinkState::EndOfInput, false},
      {"a pipe that gives nothing", [](LinkHealth&) {}, 3.0, LinkState::Silent, false},
      // Stale only once the frame is STALE_S / speed old: 30 s at 0.1.
      {"speed 0.1: resumed, a frame 7 s old is not stale yet",
       [](LinkHealth& h) {
         h.set_speed(0.1);
         uint64_t b = 0;
         link_runs(h, b, 0.0, 4.0, true);
         h.set_paused(true, 4.0);
         h.set_paused(false, 10.0);
       },
       11.0, LinkState::Waiting, false},
      {"speed 0.1: a frame every second is playing",
       [](LinkHealth& h) {
         h.set_speed(0.1);
         for (int k = 0; k <= 20; ++k) {
           h.on_bytes(200u * static_cast<uint64_t>(k + 1), k * 1.0);
           h.on_status(GOOD, k * 1.0);
         }
       },
       20.5, LinkState::Receiving, false},
      {"speed 0.1: 29 s without a frame is not yet no frames",
       [](LinkHealth& h) {
         h.set_speed(0.1);
         h.on_status(GOOD, 0.0);
         for (int k = 1; k <= 29; ++k) h.on_bytes(100u * static_cast<uint64_t>(k), k * 1.0);
       },
       29.0, LinkState::Receiving, false},
  };
  for (const Case& c : cases) {
    LinkHealth h(true, 0.0);
    h.on_bytes(0, 0.0);
    c.events(h);
    const rt::HealthSnapshot s = h.snapshot(c.at_s);
    EXPECT_EQ(s.state, c.expected) << c.name << ": " << s.words << " (" << s.reason << ")";
    EXPECT_EQ(s.stale, c.stale) << c.name;
  }
  EXPECT_STREQ(rt::link_state_words(LinkState::Receiving, true), "playing");
  EXPECT_STREQ(rt::link_state_words(LinkState::Silent, false), "link silent");
}

TEST(LinkHealth, counts_rates_and_the_longest_gap) {
  LinkHealth h(false, 0.0);
  uint64_t bytes = 0;
  h.on_bytes(0, 0.0);
  link_runs(h, bytes, 0.0, 10.0, true);  // 100 frames, 19 200 bytes
  for (int k = 0; k < 3; ++k) h.on_status(CHECKSUM, 10.0 + k);
  h.on_status("COM1 err: illegal ++- sequence", 12.5);
  h.on_status(TIMEOUT, 13.0);
  h.on_status("COM1 err: invalid state", 13.5);
  link_runs(h, bytes, 20.0, 30.0, true);  // 100 more, after a gap from 9.9 s to 20 s

  rt::HealthSnapshot s = h.snapshot(30.0);
  EXPECT_EQ(s.good_frames, 200);
  EXPECT_EQ(s.bytes_total, 38400);
  EXPECT_DOUBLE_EQ(s.frames_per_s, 10.0) << "40 frames in the seconds 26 to 29";
  EXPECT_DOUBLE_EQ(s.bytes_per_s, 1920.0);
  const std::array<long long, rt::FAILURE_KINDS> failures{3, 1, 1, 1};
  EXPECT_EQ(s.failures_total, failures);
  EXPECT_EQ(s.failures_minute, failures);
  EXPECT_NEAR(s.longest_gap_s, 10.1, 1e-9);
  EXPECT_NEAR(s.age_s, 0.1, 1e-9);

  // A minute later the failures have left the minute, not the total.
  link_runs(h, bytes, 30.0, 75.0, true);
  s = h.snapshot(75.0);
  EXPECT_EQ(s.failures_minute, (std::array<long long, rt::FAILURE_KINDS>{0, 0, 0, 0}));
  EXPECT_EQ(s.failures_total, failures);

  // No frame came while the port was lost: that time is part of the gap
  // (unlike a pause in playback).
  h.on_port_lost(75.0);
  h.on_port_returned(95.0);
  EXPECT_NEAR(h.snapshot(95.5).longest_gap_s, 20.6, 1e-9) << "the gap open since the last frame, 74.9 s";
  link_runs(h, bytes, 96.0, 97.0, true);
  EXPECT_NEAR(h.snapshot(97.0).longest_gap_s, 21.1, 1e-9);
  EXPECT_NEAR(h.snapshot(112.0).longest_gap_s, 21.1, 1e-9) << "an open gap shorter than the longest";
  EXPECT_NEAR(h.snapshot(120.0).longest_gap_s, 23.1, 1e-9) << "the open gap counts too";

  // A count that goes back (a seek) starts again without counting.
  const long long total = h.snapshot(109.9).bytes_total;
  h.on_bytes(100, 110.0);
  h.on_bytes(300, 110.1);
  EXPECT_EQ(h.snapshot(110.1).bytes_total, total + 200);
}

// What the health bar shows beside its state agrees with the state: the
// texts give the true ages, a rate the state denies reads 0, a link that
// simply stops is silent (never "no frames" first, though its last bytes are
// seen a sampling period after its last frame), and only the time the link
// was expected to carry frames counts as a gap.
TEST(LinkHealth, the_texts_rates_and_gaps_agree_with_the_state) {
  struct Case {
    const char* name;
    bool playback;
    std::function<void(LinkHealth&)> events;
    std::vector<double> at_s;  // every look must show what is expected
    LinkState expected;
    const char* reason;  // "" = not checked
    double bytes_per_s, frames_per_s, longest_gap_s;
  };
  // The link runs to 5 s; its last bytes are seen at the sample 0.2 s later.
  auto then_stops = [](LinkHealth& h) {
    uint64_t b = 0;
    link_runs(h, b, 0.0, 5.0, true);
    h.on_bytes(b + 200, 5.1);
  };
  const Case cases[] = {
      {"a link that stops is never no frames first", false, then_stops, {7.9, 8.0, 8.05}, LinkState::Receiving, "",
       -1.0, -1.0, -1.0},
      {"and then link silent, its rates 0", false, then_stops, {8.15, 8.6}, LinkState::Silent, "", 0.0, 0.0, -1.0},
      {"a port back but silent: the age since the last byte, not since the return", false,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_port_lost(5.5);
         h.on_port_returned(12.0);
       },
       {15.0}, LinkState::Silent, "no byte for 10 s", 0.0, 0.0, 10.1},
      {"no frames names the age of the last good frame", false,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         h.on_port_lost(5.5);
         h.on_port_returned(6.0);
         link_runs(h, b, 6.0, 10.0, false);
       },
       {10.3}, LinkState::NoFrames, "bytes arrive but no good frame for 5 s", -1.0, 0.0, 5.4},
      {"no frames reads a frame rate of 0, though frames came 4 s ago", false,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 5.0, true);
         link_runs(h, b, 5.0, 9.0, false);
       },
       {8.5}, LinkState::NoFrames, "", -1.0, 0.0, -1.0},
      {"a pause and the end of input are no gap", true,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 2.0, true);
         h.set_paused(true, 2.0);
         h.set_paused(false, 50.0);
         link_runs(h, b, 50.5, 52.0, true);  // 0.6 s without a frame after the resume
         h.on_status("EOF on input file", 52.0);
       },
       {90.0}, LinkState::EndOfInput, "", 0.0, 0.0, 0.6},
      {"Loop at the end of the input plays again without a false silence", true,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 2.0, true);
         h.on_status("EOF on input file", 2.0);
         h.on_input_moved(0, 16.0);  // back to the start
         h.on_status(GOOD, 16.1);    // a frame read before the bytes were looked at
       },
       {16.2}, LinkState::Receiving, "", -1.0, -1.0, 0.2},
      {"a frame stepped to while paused", true,
       [](LinkHealth& h) {
         uint64_t b = 0;
         link_runs(h, b, 0.0, 2.0, true);
         h.set_paused(true, 2.0);
         h.on_status(GOOD, 30.0);
       },
       {40.0}, LinkState::Paused, "", 0.0, 0.0, 0.1},
  };
  for (const Case& c : cases) {
    for (double t : c.at_s) {
      LinkHealth h(c.playback, 0.0);
      h.on_bytes(0, 0.0);
      c.events(h);
      const rt::HealthSnapshot s = h.snapshot(t);
      const std::string name = std::string(c.name) + " at " + std::to_string(t);
      EXPECT_EQ(s.state, c.expected) << name << ": " << s.words << " (" << s.reason << ")";
      if (*c.reason) {
        EXPECT_EQ(s.reason, c.reason) << name;
      }
      if (c.bytes_per_s >= 0.0) {
        EXPECT_DOUBLE_EQ(s.bytes_per_s, c.bytes_per_s) << name;
      }
      if (c.frames_per_s >= 0.0) {
        EXPECT_DOUBLE_EQ(s.frames_per_s, c.frames_per_s) << name;
      }
      if (c.longest_gap_s >= 0.0) {
        EXPECT_NEAR(s.longest_gap_s, c.longest_gap_s, 1e-9) << name;
      }
    }
  }
  struct Words {
    double s;
    const char* text;
  };
  for (const Words& w : {Words{0.4, "0 s"}, Words{119.9, "119 s"}, Words{125.0, "2 min 5 s"},
                         Words{7199.0, "119 min 59 s"}, Words{7260.0, "2 h 1 min"}})
    EXPECT_EQ(rt::duration_words(w.s), w.text) << w.s;
}

TEST(Uplink, the_stations_messages_are_told_apart_byte_by_byte) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<rt::UplinkKind> kinds;
  };
  const std::string command = std::string(50, 'A') + "\r\n1\r";
  const Case cases[] = {
      {"acknowledgement", "RCVD\r", {rt::UplinkKind::Ack}},
      {"stop", "3\r", {rt::UplinkKind::Stop}},
      {"instrument command", command, {rt::UplinkKind::Command}},
      {"command, ack, stop in a row", command + "RCVD\r3\r",
       {rt::UplinkKind::Command, rt::UplinkKind::Ack, rt::UplinkKind::Stop}},
      {"unknown bytes end at a carriage return", "XY\rRCVD\r", {rt::UplinkKind::Other, rt::UplinkKind::Ack}},
  };
  for (const Case& c : cases) {
    rt::UplinkDecoder d;
    std::vector<rt::UplinkKind> got;
    for (char ch : c.bytes) {
      const auto byte = static_cast<uint8_t>(ch);
      for (const auto& m : d.feed(&byte, 1)) got.push_back(m.kind);
    }
    EXPECT_EQ(got, c.kinds) << c.name;
    EXPECT_TRUE(d.flush().empty()) << c.name;
  }
  rt::UplinkDecoder cut;
  const uint8_t part[] = {'A', 'A', 'A'};
  EXPECT_TRUE(cut.feed(part, 3).empty());
  EXPECT_EQ(cut.flush().size(), 1u) << "a command cut short is still reported";
}

TEST(SessionSummary, housekeeping_keeps_min_max_last_with_units) {
  rt::HousekeepingStats hk;
  const int hk16 = rt::housekeeping_index("PANEL_HK16");
  const int raw = rt::housekeeping_index("PANEL_HKRAW");
  ASSERT_EQ(hk16, 16);
  ASSERT_EQ(raw, 38);
  EXPECT_EQ(rt::housekeeping_index("PANEL_STATUS"), -1);
  for (double v : {20.5, -3.25, 7.0}) hk.add(hk16, v);
  const rt::SlotStats& s = hk.slots()[16];
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(s.min, -3.25);
  EXPECT_EQ(s.max, 20.5);
  EXPECT_EQ(s.last, 7.0);
  EXPECT_EQ(s.unit, "\u00b0C");
  EXPECT_EQ(hk.slots()[0].unit, "V");
  EXPECT_EQ(hk.slots()[8].unit, "A");
  EXPECT_EQ(hk.slots()[raw].unit, "");

  rt::SessionSummary sum;
  sum.source = "/dev/ttyUSB0";
  sum.duration_s = 3725.0;
  sum.health.good_frames = 35000;
  sum.health.failures_total = {12, 3, 4, 0};
  sum.housekeeping = hk.slots();
  const std::string json = rt::summary_json(sum);
  for (const char* part : {"\"mode\":\"live\"", "\"good_frames\":35000",
                           "\"failures\":{\"checksum\":12,\"illegal_escape\":3,\"read_failure\":4,\"other\":0}",
                           "\"bytes_skipped\":null",
                           "{\"control\":\"PANEL_HK16\",\"what\":\"slot 16\",\"unit\":\"\u00b0C\",\"count\":3,"
                           "\"min\":-3.25,\"max\":20.5,\"last\":7.0}",
                           "{\"control\":\"PANEL_HK00\",\"what\":\"slot 0\",\"unit\":\"V\",\"count\":0,"
                           "\"min\":null,\"max\":null,\"last\":null}"})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  const auto lines = rt::summary_lines(sum);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("1 h 2 min 5 s"), std::string::npos) << lines[0];
  EXPECT_EQ(rt::duration_text(4.25), "4.2 s");
}

TEST(SessionSummary, a_playback_names_each_recording_opened_in_order) {
  rt::SessionSummary sum;
  sum.playback = true;
  sum.source = "c.dat";
  sum.earlier_sources = {"a.dat", "b.dat"};
  EXPECT_EQ(rt::summary_lines(sum).front().rfind("summary: playback of a.dat, then b.dat, then c.dat, ", 0), 0u)
      << rt::summary_lines(sum).front();
}

// The lines an operator reads give values as the panel shows them (a current
// in mA), the device at the end after a Connect to..., and what became of the
// bytes received but not recorded; the JSON keeps the system's units.
TEST(SessionSummary, the_operators_lines_speak_as_the_panel_does_and_the_json_as_the_system) {
  rt::HousekeepingStats hk;
  rt::DisplayFormat milliamperes;
  milliamperes.style = rt::DisplayFormat::Style::Digits;
  milliamperes.digits = 5;
  milliamperes.scale = 1000.0;
  milliamperes.unit = "mA";
  hk.set_shown(8, milliamperes);
  for (double v : {0.012209, 0.074359}) hk.add(8, v);
  rt::SessionSummary sum;
  sum.source = "/dev/ttyUSB1";
  sum.earlier_devices = {"/dev/ttyUSB0"};
  sum.health.bytes_total = 279043;
  sum.bytes_drained = 16088;
  sum.recording = "41220600.dat";
  sum.bytes_recorded = 262955;
  sum.housekeeping = hk.slots();
  sum.commands_sent = 1;
  sum.commands = {{"2026-12-08 18:02:11.250", "instrument command (54 bytes)"}};
  auto alarm = [](uint64_t id, rt::AlarmSource source, const char* what, rt::Severity severity, long long times) {
    rt::Alarm a;
    a.id = id;
    a.source = source;
    a.what = what;
    a.severity = severity;
    a.occurrences = times;
    a.first_time = "10.0 s";
    a.last_time = "14.5 s";
    a.now = "normal";
    return a;
  };
  sum.alarms = {alarm(1, rt::AlarmSource::Link, "link: LINK SILENT", rt::Severity::Error, 1),
                alarm(2, rt::AlarmSource::Limit, "HK20 out of limits", rt::Severity::Warning, 2),
                alarm(3, rt::AlarmSource::Recording, "recording: NOT RECORDING", rt::Severity::Error, 1)};
  sum.alarms[1].acknowledged = true;
  sum.alarms[1].acknowledged_time = "20.0 s";
  std::string text;
  for (const std::string& line : rt::summary_lines(sum)) text += line + "\n";
  for (const char* part : {"live on /dev/ttyUSB1 (Connect to... from /dev/ttyUSB0)",
                           "bytes received 279,043 (16,088 of them waiting at a run start, drained and not recorded), "
                           "recorded 262,955 to 41220600.dat",
                           "HK08 slot 8: 12.209 / 74.359 / 74.359 mA",
                           "  sent: acknowledgements 0, commands 1\n    2026-12-08 18:02:11.250 instrument command (54 bytes)\n",
                           "  alarms: 3 (limit 1, link 1, recording 1), 2 never acknowledged\n"
                           "    link: LINK SILENT: red, 1 time, 10.0 s to 14.5 s, longest 0.0 s, now normal, "
                           "NOT ACKNOWLEDGED\n    HK20 out of limits: amber, 2 times, "})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
  const std::string json = rt::summary_json(sum);
  for (const char* part : {"\"source\":\"/dev/ttyUSB1\"", "\"devices\":[\"/dev/ttyUSB0\",\"/dev/ttyUSB1\"]",
                           "\"bytes_drained\":16088", "\"alarms_unacknowledged\":2,",
                           "\"alarms_by_source\":{\"limit\":1,\"link\":1,\"recording\":1}", "\"unit\":\"A\",\"count\":2,\"min\":0.012208999999999999"})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
}

}  // namespace
