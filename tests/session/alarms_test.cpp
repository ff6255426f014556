// The alarm list and its sound on an injected clock: latched rows with their
// first and last time, count and worst value; acknowledgement and a new
// crossing; which tone sounds when.
#include "session/alarms.h"
#include "session/annunciator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rt::AlarmChange;
using rt::Severity;

// HK00 as the panel watches it: caution outside 0.2..9.8 V, alarm outside
// 0.05..9.95 V.
rt::AlarmCause hk00(Severity severity, double volts = 0.0, double excess = 0.0) {
  rt::AlarmCause c;
  c.source = rt::AlarmSource::Limit;
  c.key = "HK00";
  c.what = "HK00 out of limits";
  c.severity = severity;
  c.now = severity == Severity::Info ? "normal" : "out: " + std::to_string(volts);
  if (severity != Severity::Info) {
    c.has_value = true;
    c.value = volts;
    c.excess = excess;
    c.value_text = std::to_string(volts) + " V";
    c.limit_text = severity == Severity::Error ? "above the alarm limit 9.95 V" : "above the caution limit 9.8 V";
  }
  return c;
}

rt::AlarmCause link_silent(bool present) {
  rt::AlarmCause c;
  c.source = rt::AlarmSource::Link;
  c.key = "link silent";
  c.what = "link: LINK SILENT";
  c.severity = present ? Severity::Error : Severity::Info;
  c.now = present ? "link silent" : "receiving";
  return c;
}

TEST(AlarmList, a_slot_through_caution_and_alarm_and_back_stays_latched_with_its_times_count_and_worst) {
  rt::AlarmList list;
  struct Step {
    double t;
    rt::AlarmCause cause;
    AlarmChange change;
    double worst;  // the worst value after the step
  };
  const Step steps[] = {
      {10.0, hk00(Severity::Warning, 9.85, 0.05), AlarmChange::Raised, 9.85},
      {11.0, hk00(Severity::Warning, 9.90, 0.10), AlarmChange::None, 9.90},  // further out
      {12.0, hk00(Severity::Error, 9.97, 0.02), AlarmChange::Escalated, 9.97},  // red beats a wider amber
      {13.0, hk00(Severity::Warning, 9.93, 0.13), AlarmChange::None, 9.97},
      {14.0, hk00(Severity::Info), AlarmChange::Cleared, 9.97},
      {30.0, hk00(Severity::Warning, 9.81, 0.01), AlarmChange::Again, 9.97},
      {31.0, hk00(Severity::Info), AlarmChange::Cleared, 9.97},
      {40.0, hk00(Severity::Info), AlarmChange::None, 9.97},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(list.update(s.cause, s.t), s.change) << "at " << s.t;
    EXPECT_EQ(list.alarms()[0].worst_number, s.worst) << "at " << s.t;
  }
  ASSERT_EQ(list.alarms().size(), 1u);
  const rt::Alarm& a = list.alarms()[0];
  EXPECT_EQ(a.first_s, 10.0);
  EXPECT_EQ(a.last_s, 30.0) << "the last value out of limits, not the one that came back";
  EXPECT_EQ(a.first_time, "10.0 s");
  EXPECT_EQ(a.occurrences, 2);
  EXPECT_EQ(a.severity, Severity::Error);
  EXPECT_EQ(a.worst_number, 9.97);
  EXPECT_EQ(a.worst_limit, "above the alarm limit 9.95 V");
  EXPECT_FALSE(a.active);
  EXPECT_EQ(a.now, "normal");
  EXPECT_FALSE(a.acknowledged);
  const rt::AlarmStatus st = list.status();
  EXPECT_EQ(st.unacknowledged, 1);
  EXPECT_EQ(st.worst_unacknowledged, Severity::Error);
  EXPECT_EQ(st.raises, 2u) << "raised, then turned red";
  EXPECT_EQ(st.last_raise, Severity::Error);

  // An amber row after the red one: the worst waiting is still red.
  rt::AlarmCause hk01 = hk00(Severity::Warning, 9.85, 0.05);
  hk01.key = "HK01";
  list.update(hk01, 41.0);
  EXPECT_EQ(list.status().unacknowledged, 2);
  EXPECT_EQ(list.status().worst_unacknowledged, Severity::Error);
}

// Every slot flapping at every frame for an hour of the link: one row a
// slot, its count of spells exact, its first and last time true; nothing
// grows with the flapping but the counts.
TEST(AlarmList, every_slot_flapping_at_every_frame_keeps_one_row_a_slot_with_its_count) {
  rt::AlarmList list;
  constexpr int SLOTS = 24, FLAPS = 18000;  // 36 000 frames at 10 a second
  for (int f = 0; f < FLAPS; ++f)
    for (int k = 0; k < SLOTS; ++k) {
      rt::AlarmCause out = hk00(Severity::Warning, 9.85, 0.05), back = hk00(Severity::Info);
      out.key = back.key = "HK" + std::to_string(k);
      list.update(out, f * 0.2);
      list.update(back, f * 0.2 + 0.1);
    }
  ASSERT_EQ(list.alarms().size(), static_cast<size_t>(SLOTS));
  for (const rt::Alarm& a : list.alarms()) {
    EXPECT_EQ(a.occurrences, FLAPS) << a.key;
    EXPECT_EQ(a.first_s, 0.0) << a.key;
    EXPECT_DOUBLE_EQ(a.last_s, (FLAPS - 1) * 0.2) << a.key;
    EXPECT_FALSE(a.active) << a.key;
  }
  EXPECT_EQ(list.status().unacknowledged, SLOTS);
  EXPECT_EQ(list.status().raises, static_cast<uint64_t>(SLOTS)) << "a row raises once until acknowledged";
}

TEST(AlarmList, acknowledgement_clears_the_flag_and_a_new_crossing_raises_it_again) {
  rt::AlarmList list;
  list.update(hk00(Severity::Warning, 9.85, 0.05), 1.0);
  list.update(link_silent(true), 2.0);
  const uint64_t hk = list.alarms()[0].id;
  ASSERT_EQ(list.acknowledge(hk, 5.0).size(), 1u);
  EXPECT_TRUE(list.acknowledge(hk, 6.0).empty()) << "already acknowledged";
  EXPECT_TRUE(list.acknowledge(99, 6.0).empty()) << "no such alarm";
  EXPECT_TRUE(list.alarms()[0].acknowledged);
  EXPECT_EQ(list.alarms()[0].acknowledged_s, 5.0);
  EXPECT_EQ(list.status().unacknowledged, 1) << "the link's is left";

  // Still out of limits at the same level: it stays acknowledged.
  EXPECT_EQ(list.update(hk00(Severity::Warning, 9.86, 0.06), 7.0), AlarmChange::None);
  EXPECT_TRUE(list.alarms()[0].acknowledged);
  // Red while acknowledged amber: raised again.
  EXPECT_EQ(list.update(hk00(Severity::Error, 9.96, 0.01), 8.0), AlarmChange::Raised);
  EXPECT_FALSE(list.alarms()[0].acknowledged);
  list.acknowledge(hk, 9.0);
  list.update(hk00(Severity::Info), 10.0);
  // Back, after the acknowledgement: unacknowledged, and amber again.
  EXPECT_EQ(list.update(hk00(Severity::Warning, 9.82, 0.02), 20.0), AlarmChange::Raised);
  EXPECT_FALSE(list.alarms()[0].acknowledged);
  EXPECT_EQ(list.alarms()[0].severity, Severity::Warning);
  EXPECT_EQ(list.alarms()[0].occurrences, 2);
  EXPECT_EQ(list.alarms()[0].worst_number, 9.96) << "the worst of the whole session";

  // The link's spell: last seen when it ended, and the longest spell.
  list.update(link_silent(true), 4.0);
  list.update(link_silent(false), 6.5);
  const rt::Alarm& link = list.alarms()[1];
  EXPECT_EQ(link.last_s, 6.5);
  EXPECT_EQ(link.longest_s, 4.5);
  EXPECT_FALSE(link.has_value);

  ASSERT_EQ(list.acknowledge(link.id, 21.0).size(), 1u) << "the last row by its id";
  EXPECT_EQ(list.acknowledge_all(21.0).size(), 1u);
  EXPECT_EQ(list.status().unacknowledged, 0);
  EXPECT_EQ(list.status().worst_unacknowledged, Severity::Info);
}

// Records what the annunciator asks of the sound card, and when.
struct Recorder : rt::ToneSink {
  double now = 0.0;
  std::vector<std::string> heard;
  void play(rt::Tone tone) override { heard.push_back(std::to_string(static_cast<int>(now)) + " " + rt::tone_name(tone)); }
  void stop() override { heard.push_back(std::to_string(static_cast<int>(now)) + " stop"); }
};

// A row's last time is written as text when the row is read, on the clock
// text of its moment: the owner settles the list before that text changes.
TEST(AlarmList, last_times_read_later_are_those_of_their_moment) {
  std::string clock = "pass A ";
  rt::AlarmList list([&clock](double t) { return clock + std::to_string(static_cast<int>(t)); });
  list.update(hk00(Severity::Warning, 9.9, 0.1), 1.0);
  list.update(hk00(Severity::Warning, 9.9, 0.1), 2.0);
  rt::Alarm row;
  list.update(link_silent(true), 3.0, &row);
  EXPECT_EQ(row.last_time, "pass A 3") << "the row handed out carries its time";
  list.settle();
  clock = "pass B ";
  list.update(link_silent(true), 4.0);
  ASSERT_EQ(list.alarms().size(), 2u);
  EXPECT_EQ(list.alarms()[0].first_time, "pass A 1");
  EXPECT_EQ(list.alarms()[0].last_time, "pass A 2");
  EXPECT_EQ(list.alarms()[1].last_time, "pass B 4");
  list.update(hk00(Severity::Warning, 9.9, 0.1), 5.0);
  const std::vector<rt::Alarm> done = list.acknowledge_all(6.0);
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].last_time, "pass B 5") << "an acknowledged row as it is now";
}

TEST(Annunciator, a_new_alarm_sounds_its_tone_at_once_again_every_reminder_and_stops_once_acknowledged) {
  Recorder sink;
  rt::Annunciator a(sink);
  rt::AlarmList list;
  const double R = rt::Annunciator::REMIND_S;
  struct Step {
    double t;
    const char* action;  // what happens to the list first
  };
  const Step steps[] = {
      {0.0, ""},        {1.0, "amber"},   {5.0, ""},        {1.0 + R, ""},  // reminded
      {20.0, "red"},    {20.0 + R, ""},   {35.5, "HK01"},   {36.0, "ack"},    {50.0, ""},
      {60.0, "mute"},   {61.0, "amber"},  {62.0, "unmute"}, {63.0, ""},
      {64.0, "mute red"},  // muted while it sounds: it stops
  };
  for (const Step& s : steps) {
    sink.now = s.t;
    const std::string action = s.action;
    if (action == "amber") list.update(hk00(Severity::Warning, 9.85, 0.05), s.t);
    if (action == "red") list.update(link_silent(true), s.t);
    if (action == "HK01") {
      rt::AlarmCause c = hk00(Severity::Warning, 9.85, 0.05);
      c.key = "HK01";
      list.update(c, s.t);
    }
    if (action == "ack") list.acknowledge_all(s.t);
    if (action == "mute") a.set_muted(true);
    if (action == "unmute") a.set_muted(false);
    if (action == "mute red") a.set_muted(true);
    if (action == "amber" || action == "red") list.update(hk00(Severity::Info), s.t);  // the cause goes at once
    a.update(list.status(), s.t);
  }
  const std::vector<std::string> want = {
      "1 amber", "16 amber",  // new, reminder
      "20 red",  "35 red",    // the worst unacknowledged one is reminded
      "35 amber",             // a new one sounds its own tone, though a red waits
      "36 stop",              // all acknowledged
      "62 amber",             // sound back on: the amber raised while muted
      "64 stop",
  };
  EXPECT_EQ(sink.heard, want);
}

}  // namespace
