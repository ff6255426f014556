// The simulator's command line and its reading of the uplink.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/sim_options.h"

using Args = std::vector<std::string>;

namespace {

TEST(SimOptions, defaults_follow_the_target) {
  sim::Options o;
  ASSERT_EQ(sim::parse_options({"--pty"}, o), "");
  EXPECT_EQ(o.target, sim::Target::PTY);
  EXPECT_EQ(o.frames, 0u) << "a link runs until killed";
  EXPECT_EQ(o.rate_bytes_s, 1920.0) << "19200 baud 8N1";
  EXPECT_EQ(o.linger_s, 0.5);

  ASSERT_EQ(sim::parse_options({"--out", "x.dat"}, o), "");
  EXPECT_EQ(o.target, sim::Target::FILE);
  EXPECT_EQ(o.frames, 1000u);
  EXPECT_EQ(o.rate_bytes_s, 0.0);

  ASSERT_EQ(sim::parse_options({"--port", "/dev/ttyUSB0", "--frames", "50", "--rate", "0", "--seed", "9",
                                "--quiet", "--cut", "3,4", "--linger", "2.5"},
                               o),
            "");
  EXPECT_EQ(o.device, "/dev/ttyUSB0");
  EXPECT_EQ(o.frames, 50u);
  EXPECT_EQ(o.rate_bytes_s, 0.0);
  EXPECT_EQ(o.seed, 9u);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.linger_s, 2.5);
  EXPECT_EQ(o.faults.cut.frames, (std::vector<uint64_t>{3, 4}));

  // A slot held at a value: the frame carrying it reads back as that value.
  ASSERT_EQ(sim::parse_options({"--out", "x.dat", "--hk", "16=60.5@40..80", "--hk", "0=9.97@0..0"}, o), "");
  ASSERT_EQ(o.hk.size(), 2u);
  EXPECT_EQ(o.hk[0].slot, 16);
  EXPECT_EQ(o.hk[0].value, 60.5);
  EXPECT_EQ(o.hk[0].first, 40u);
  EXPECT_EQ(o.hk[0].last, 80u);
  EXPECT_EQ(sim::housekeeping_word_for(16, 60.5), 43732) << "(60.5 + 273.15) / 500 * 65535, rounded";
  EXPECT_EQ(sim::housekeeping_word_for(6, -5.0), 32768) << "-10 V full scale";
  EXPECT_EQ(sim::housekeeping_word_for(9, 50.0), 32768) << "50 mA, as the panel shows it, of 100 mA full scale";
  EXPECT_EQ(sim::housekeeping_word_for(37, 1234.0), 1234) << "raw";
}

TEST(SimOptions, usage_errors_say_what_is_wrong) {
  struct Case {
    const char* name;
    Args args;
    const char* says;
  } cases[] = {
      {"no target", {"--frames", "5"}, "no target"},
      {"two targets", {"--pty", "--out", "x"}, "only one"},
      {"unknown option", {"--pty", "--fast"}, "'--fast'"},
      {"missing value", {"--out"}, "--out needs a value"},
      {"zero frames", {"--pty", "--frames", "0"}, "--frames"},
      {"negative rate", {"--pty", "--rate", "-5"}, "--rate"},
      {"text seed", {"--pty", "--seed", "abc"}, "--seed"},
      {"negative linger", {"--pty", "--linger", "-1"}, "--linger: '-1' is not a time"},
      {"counter beyond 21 bits", {"--pty", "--first-count", "2097152"}, "--first-count"},
      {"rate above 1", {"--pty", "--noise", "1.5"}, "--noise"},
      {"empty list entry", {"--pty", "--cut", "5,"}, "--cut"},
      {"not a list", {"--pty", "--bad-checksum", "x"}, "--bad-checksum"},
      {"hk without frames", {"--pty", "--hk", "16=60"}, "--hk: '16=60' is not SLOT=VALUE@FIRST..LAST"},
      {"hk slot beyond 39", {"--pty", "--hk", "40=1@0..5"}, "is not SLOT=VALUE"},
      {"hk frames backwards", {"--pty", "--hk", "0=9.9@9..3"}, "the first frame comes after the last"},
  };
  for (const auto& c : cases) {
    sim::Options o;
    std::string err = sim::parse_options(c.args, o);
    EXPECT_NE(err.find(c.says), std::string::npos) << c.name << ": got \"" << err << "\"";
  }
}

TEST(SimOptions, fault_values_are_a_rate_or_a_frame_list) {
  sim::FaultRule r;
  ASSERT_EQ(sim::parse_fault_rule("0.02", r), "");
  EXPECT_DOUBLE_EQ(r.rate, 0.02);
  EXPECT_TRUE(r.frames.empty());
  ASSERT_EQ(sim::parse_fault_rule("5,17", r), "");
  EXPECT_EQ(r.rate, 0.0);
  EXPECT_EQ(r.frames, (std::vector<uint64_t>{5, 17}));
  ASSERT_EQ(sim::parse_fault_rule("1", r), "") << "a single index";
  EXPECT_EQ(r.frames, (std::vector<uint64_t>{1}));
  ASSERT_EQ(sim::parse_fault_rule("1.0", r), "") << "every frame";
  EXPECT_EQ(r.rate, 1.0);
}

// ---- Uplink ------------------------------------------------------------

std::vector<sim::UplinkMessage> split(const std::vector<std::string>& chunks, bool then_idle) {
  sim::UplinkSplitter s;
  std::vector<sim::UplinkMessage> all;
  for (const auto& c : chunks) {
    auto got = s.feed(reinterpret_cast<const uint8_t*>(c.data()), c.size());
    all.insert(all.end(), got.begin(), got.end());
  }
  if (then_idle) {
    auto got = s.idle();
    all.insert(all.end(), got.begin(), got.end());
  }
  return all;
}

std::string describe(const std::vector<sim::UplinkMessage>& ms) {
  std::string out;
  for (const auto& m : ms) out += (m.ack ? "ack;" : "cmd " + sim::printable(m.bytes) + ";");
  return out;
}

TEST(SimUplink, splits_acknowledgements_and_commands) {
  const std::string long_cmd = std::string(50, 'A') + "\r\n1\r";
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    bool idle;
    std::string want;
  } cases[] = {
      {"one ack", {"RCVD\r"}, false, "ack;"},
      {"ack split over reads", {"RC", "VD", "\r"}, false, "ack;"},
      {"long command once the line is quiet", {long_cmd}, true, "cmd " + std::string(50, 'A') + "\\r\\n1\\r;"},
      {"long command split at its CR LF", {std::string(50, 'A') + "\r", "\n1\r"}, true,
       "cmd " + std::string(50, 'A') + "\\r\\n1\\r;"},
      {"short command then an ack", {"3\rRCVD\r"}, false, "cmd 3\\r;ack;"},
      {"command waits for the line to go quiet", {"3\r"}, false, ""},
      {"ack, command, ack", {"RCVD\r3\r", "RCVD\r"}, false, "ack;cmd 3\\r;ack;"},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(split(c.chunks, c.idle)), c.want) << c.name;
}

TEST(SimUplink, finish_gives_an_unterminated_remainder) {
  sim::UplinkSplitter s;
  std::string part = "AAA";
  EXPECT_TRUE(s.feed(reinterpret_cast<const uint8_t*>(part.data()), part.size()).empty());
  EXPECT_TRUE(s.idle().empty()) << "no CR yet: not complete";
  EXPECT_EQ(describe(s.finish()), "cmd AAA;");
}

TEST(SimUplink, printable_escapes_control_bytes) {
  EXPECT_EQ(sim::printable(std::string("A\r\n\\\x01\xff", 6)), "A\\r\\n\\\\\\x01\\xFF");
}

}  // namespace
