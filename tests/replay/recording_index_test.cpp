// The recording index: where the frames a reader would show begin, by the
// playback reader's rules and by the live receiver's, with the instrument's
// elapsed time; built in the background from a file, and held equal to what
// the system's own readers take from the same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/frame.h"
#include "link/reader.h"
#include "link/receiver.h"
#include "runtime/com_port.h"
#include "runtime/memory_port.h"
#include "replay/recording_index.h"
#include "replay/replay.h"
#include "runtime/serial.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using rt::FrameRules;
using testing_frames::cat;
using testing_frames::FrameBuilder;
using testing_frames::good;

constexpr uint8_t P = '+', M = '-';

// A frame whose content the link carries escaped ("++-" at 40..42).
FrameBuilder escaped(uint32_t n) { return good(n).byte(40, P).byte(41, P).byte(42, M); }

Bytes plain(const FrameBuilder& f) { return f.vec(); }
Bytes linked(const FrameBuilder& f) { return testing_frames::escape_for_link(f.bytes); }

std::vector<int64_t> offsets(const std::vector<rt::FrameMark>& marks) {
  std::vector<int64_t> out;
  for (const auto& m : marks) out.push_back(m.offset);
  return out;
}

std::vector<rt::FrameMark> scan(const Bytes& bytes, FrameRules rules, size_t chunk) {
  rt::FrameScanner scanner(rules);
  for (size_t at = 0; at < bytes.size(); at += chunk)
    scanner.feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
  return scanner.take();
}

// Deterministic bytes with no sync word in them.
Bytes noise(size_t n) {
  Bytes out(n);
  uint32_t x = 12345;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
    if (b == SYNC0) b = 0x11;
  }
  return out;
}

TEST(FrameScanner, finds_the_frames_each_reader_would_show) {
  const Bytes corrupt = plain(good(7).corrupt());
  const Bytes next = plain(good(1));
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<int64_t> playback;
    std::vector<int64_t> link;
  };
  const Case cases[] = {
      {"back to back", cat({plain(good(0)), plain(good(1)), plain(good(2))}), {0, 200, 400}, {0, 200, 400}},
      {"stray bytes before", cat({Bytes{1, 2, 3, 4, 5}, plain(good(0)), plain(good(1))}), {5, 205}, {5, 205}},
      {"a bad frame between", cat({plain(good(0)), corrupt, plain(good(2))}), {0, 400}, {0, 400}},
      // The link carries "++-" as "++-1": the frame takes 201 bytes, which
      // only the receiver's rules undo.
      {"an escaped frame", cat({plain(good(0)), linked(escaped(1)), plain(good(2))}), {0, 401}, {0, 200, 401}},
      // An 0xEB that is not followed by 0x90 ends the half-found sync word,
      // and the byte after it is not looked at as a new 0xEB.
      {"0xEB before a frame hides it", cat({Bytes{0x12, SYNC0}, plain(good(1)), plain(good(2))}), {202}, {202}},
      // The playback reader looks back into a refused record; the receiver
      // fills its frame from the next one and never looks back.
      {"a cut frame", cat({plain(good(0)), Bytes(corrupt.begin(), corrupt.begin() + 90), plain(good(2))}),
       {0, 290}, {0}},
      {"a short tail", cat({plain(good(0)), Bytes(next.begin(), next.begin() + 150)}),
       {0}, {0}},
      {"noise", noise(5000), {}, {}},
      {"empty", {}, {}, {}},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{199}, size_t{4096}}) {
      EXPECT_EQ(offsets(scan(c.bytes, FrameRules::Playback, chunk)), c.playback)
          << c.name << ", playback rules, chunks of " << chunk;
      EXPECT_EQ(offsets(scan(c.bytes, FrameRules::Link, chunk)), c.link)
          << c.name << ", link rules, chunks of " << chunk;
    }
  }
}

TEST(FrameScanner, carries_the_elapsed_time_of_the_last_kind_1_frame) {
  // Counters 0, 1, 2, 5, 6: kinds 0, 1, 2, 1, 2.
  const Bytes bytes = cat({plain(good(0).long32(6, 777)), plain(good(1).long32(6, 1500)),
                           plain(good(2).long32(6, 9)), plain(good(5).long32(6, 90061500)),
                           plain(good(6))});
  const auto marks = scan(bytes, FrameRules::Playback, 4096);
  ASSERT_EQ(marks.size(), 5u);
  const int32_t expected[] = {rt::NO_ELAPSED, 1500, 1500, 90061500, 90061500};
  for (size_t i = 0; i < marks.size(); ++i) EXPECT_EQ(marks[i].elapsed_ms, expected[i]) << "frame " << i;
}

TEST(FrameScanner, elapsed_time_reads_as_the_panel_shows_it) {
  struct Case {
    int32_t ms;
    const char* text;
  };
  for (const Case c : {Case{0, "0/00:00:00.0"}, Case{1500, "0/00:00:01.5"}, Case{90061500, "1/01:01:01.5"},
                       Case{rt::NO_ELAPSED, ""}})
    EXPECT_EQ(rt::elapsed_text(c.ms), c.text) << c.ms;
}

TEST(FrameScanner, looks_escaped_takes_the_links_two_escapes_only) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool escaped;
  };
  const Case cases[] = {
      {"++-1 (a stored '-')", {9, P, P, M, '1', 9}, true},
      {"++-- (a stored '+')", {P, P, M, M}, true},
      {"++- then another byte", {P, P, M, '?'}, false},
      {"++- at the very end", {9, P, P, M}, false},
      {"+-1", {P, M, '1', 0}, false},
      {"+++ (plain)", {P, P, P, 0}, false},
      // The third '+' is plain data: the pairs start over, so no escape follows.
      {"+++-1", {P, P, P, M, '1'}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(rt::looks_escaped(c.bytes.data(), c.bytes.size()), c.escaped) << c.name;
}

class Index : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::set_speed(0);
    nskip_reset_for_tests();
  }
  void TearDown() override { rt::reset_ui_for_tests(); }
  std::string write(const Bytes& bytes) {
    const std::string path = dir_.file("rec.dat");
    testing_files::write_file(path, bytes);
    return path;
  }
  testing_files::TempDir dir_;
};

TEST_F(Index, a_recording_file_is_indexed_in_the_background) {
  const std::string path = write(cat({Bytes{1, 2, 3}, plain(good(0)), plain(good(1)), plain(good(2))}));
  rt::RecordingIndex index(path, FrameRules::Playback);
  ASSERT_TRUE(index.wait(60.0));
  ASSERT_EQ(index.state(), rt::RecordingIndex::State::Ready);
  EXPECT_EQ(index.frames(), 3);
  EXPECT_EQ(index.progress(), 1.0);
  struct Case {
    int64_t position;
    long frame;
  };
  // A reader standing at a position has just taken (or is taking) the frame
  // that begins last before it.
  for (const Case c : {Case{0, -1}, Case{3, -1}, Case{4, 0}, Case{203, 0}, Case{204, 1}, Case{603, 2}, Case{9999, 2}})
    EXPECT_EQ(index.frame_before(c.position), c.frame) << "position " << c.position;
  EXPECT_EQ(index.frame(1).offset, 203);
}

TEST_F(Index, a_file_that_is_not_a_recording_has_no_frames) {
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {{"random bytes", noise(300000)}, {"empty", {}}};
  for (const Case& c : cases) {
    for (FrameRules rules : {FrameRules::Playback, FrameRules::Link}) {
      rt::RecordingIndex index(write(c.bytes), rules);
      ASSERT_TRUE(index.wait(60.0)) << c.name;
      EXPECT_EQ(index.state(), rt::RecordingIndex::State::NoFrames) << c.name;
      EXPECT_EQ(index.frames(), 0) << c.name;
      EXPECT_EQ(index.frame_before(1000), -1) << c.name;
    }
  }
  rt::RecordingIndex missing(dir_.file("no-such.dat"), FrameRules::Playback);
  ASSERT_TRUE(missing.wait(60.0));
  EXPECT_EQ(missing.state(), rt::RecordingIndex::State::Failed);
  EXPECT_NE(missing.error().find("no-such.dat"), std::string::npos) << missing.error();
}

TEST_F(Index, is_stopped_when_dropped_while_building) {
  const std::string path = write(noise(20 << 20));
  auto index = std::make_unique<rt::RecordingIndex>(path, FrameRules::Link);
  index.reset();  // returns once the builder has stopped (within a chunk)
  SUCCEED();
}

// The recording of every case of the scanner test at once, with the frames
// numbered, read by the system's own playback reader: every frame it shows
// begins at the index's offset, in order.
Bytes mixed_recording() {
  const Bytes corrupt = plain(good(90).corrupt());
  const Bytes illegal_escape{SYNC0, SYNC1, 5, '+', '+', '-', 'x'};  // the link drops the 5 bytes stored
  return cat({Bytes{1, 2, 3}, plain(good(0)), corrupt, plain(good(1)), linked(escaped(2)), plain(good(3)),
              Bytes{0x12, SYNC0}, plain(good(4)), plain(good(5)), Bytes(corrupt.begin(), corrupt.begin() + 77),
              plain(good(6)), linked(escaped(7)), linked(escaped(8)), illegal_escape, plain(good(9)), Bytes{7, 7}});
}

TEST_F(Index, agrees_with_the_playback_reader) {
  const std::string path = write(mixed_recording());
  rt::RecordingIndex index(path, FrameRules::Playback);
  FileStream* in = FileOpen(path.c_str(), "rb");
  ASSERT_NE(in, nullptr);
  reader_attach(in);
  std::vector<int64_t> starts, skipped, counters;
  uint8_t frame[FRAME_LEN];
  while (get_file_frm(frame) == 0) {
    starts.push_back(rt::transport_position().bytes - FRAME_LEN);
    skipped.push_back(nskip_count());
    counters.push_back(fcount(frame));
  }
  reader_attach(nullptr);
  FileClose(in);
  ASSERT_TRUE(index.wait(60.0));
  std::vector<int64_t> indexed, indexed_skipped, indexed_counters;
  for (long n = 0; n < index.frames(); ++n) {
    indexed.push_back(index.frame(n).offset);
    indexed_skipped.push_back(index.frame(n).skipped);
    indexed_counters.push_back(index.frame(n).fcount);
  }
  EXPECT_EQ(indexed, starts);
  EXPECT_EQ(indexed_skipped, skipped) << "the reader's discarded-byte count at each frame";
  EXPECT_EQ(indexed_counters, counters);
  EXPECT_EQ(starts.size(), 6u) << "frames 0, 1, 3, 5, 6 and 9";
}

TEST_F(Index, agrees_with_the_live_receiver) {
  const Bytes bytes = mixed_recording();
  const std::string path = write(bytes);
  rt::RecordingIndex index(path, FrameRules::Link);
  auto port = std::make_shared<rt::MemoryPort>();
  port->feed(bytes);
  rt::set_com_port(port);
  ASSERT_EQ(OpenComConfig(1, "COM1", 19200, 0, 8, 1, 0, 0), 0);
  receiver_reset_for_tests();
  std::vector<int64_t> ends;
  std::vector<int32_t> skipped;
  uint8_t frame[FRAME_LEN];
  while (port->pending() > 0) {
    if (get_port_frm(frame) != RX_OK) continue;
    ends.push_back(static_cast<int64_t>(bytes.size() - port->pending()));
    skipped.push_back(nskip_count());
  }
  CloseCom(1);
  rt::reset_serial_for_tests();
  ASSERT_TRUE(index.wait(60.0));
  ASSERT_EQ(index.frames(), static_cast<long>(ends.size()));
  EXPECT_EQ(ends.size(), 8u) << "every frame but the one an 0xEB hides and the one a cut frame swallows";
  for (size_t n = 0; n < ends.size(); ++n) {
    EXPECT_EQ(index.frame_before(ends[n]), static_cast<long>(n)) << "frame " << n << " ends at " << ends[n];
    EXPECT_EQ(index.frame(static_cast<long>(n)).skipped, skipped[n]) << "the receiver's count at frame " << n;
  }
}

}  // namespace
