// The link's rules with no I/O: what each byte does to a link scan, and what
// the playback walk reports for each record, wherever the bytes are cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/frame.h"
#include "link/scanner.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_frames::cat;
using testing_frames::FrameBuilder;
using testing_frames::good;
using testing_frames::head;
constexpr uint8_t P = '+', M = '-';


TEST(LinkScan, each_byte_is_hunted_taken_or_ends_the_attempt) {
  struct Case {
    const char* name;
    Bytes link;
    int hunted;    // SCAN_HUNTED results before the end
    int result;    // the result that ends the attempt (SCAN_TAKEN: none did)
    size_t used;   // bytes fed up to that result
    int n_stored;  // then
    int n_link;
  };
  FrameBuilder plus_end = good(3);
  plus_end.bytes[OFF_CHECKSUM] = P;  // stored 199th and 200th bytes "++"
  plus_end.bytes[OFF_CHECKSUM + 1] = P;
  const Case cases[] = {
      {"stray bytes, then a frame", cat({{0x11, 0x22}, good(1).vec()}), 2, SCAN_FRAME, 202, 200, 200},
      // 0xEB then not 0x90: one count for both, and the byte is no new 0xEB.
      {"0xEB 0x12", {SYNC0, 0x12}, 1, SCAN_TAKEN, 2, 0, 0},
      {"0xEB 0xEB 0x90", {SYNC0, SYNC0, SYNC1}, 2, SCAN_TAKEN, 3, 0, 0},
      {"an escaped frame spans 201 link bytes",
       testing_frames::escape_for_link(good(2).byte(40, P).byte(41, P).byte(42, M).bytes), 0, SCAN_FRAME, 201, 200,
       201},
      {"a bad checksum", good(4).corrupt().vec(), 0, SCAN_BAD_CHECKSUM, 200, 200, 200},
      // Two sync bytes, ten data bytes and the escape's two '+' are stored.
      {"++- then X", cat({head(good(5), 12), {P, P, M, 'X'}}), 0, SCAN_ILLEGAL_ESCAPE, 16, 14, 16},
      // The 200th stored byte ends it, though the link's "++" asks for more.
      {"ends at the 200th byte inside an escape", cat({plus_end.vec(), {M, M}}), 0, SCAN_BAD_CHECKSUM, 200, 200, 200},
  };
  for (const Case& c : cases) {
    uint8_t frame[FRAME_LEN + 1] = {};
    frame[FRAME_LEN] = 0x5A;  // never written
    LinkScan scan;
    link_scan_start(&scan, frame);
    int hunted = 0, result = SCAN_TAKEN;
    size_t used = 0;
    while (used < c.link.size() && !scan_ends_attempt(result)) {
      result = link_scan_byte(&scan, c.link[used++]);
      if (result == SCAN_HUNTED) ++hunted;
    }
    if (result == SCAN_HUNTED) result = SCAN_TAKEN;
    EXPECT_EQ(hunted, c.hunted) << c.name;
    EXPECT_EQ(result, c.result) << c.name;
    EXPECT_EQ(used, c.used) << c.name;
    EXPECT_EQ(scan.n_stored, c.n_stored) << c.name;
    EXPECT_EQ(scan.n_link, c.n_link) << c.name;
    EXPECT_EQ(frame[FRAME_LEN], 0x5A) << c.name;
  }
  LinkScan broken;
  uint8_t frame[FRAME_LEN];
  link_scan_start(&broken, frame);
  broken.state = 6;
  EXPECT_EQ(link_scan_byte(&broken, 0x00), SCAN_BAD_STATE);
}

TEST(PlaybackScan, reports_each_record_with_its_offset_and_the_bytes_passed_over) {
  struct Seen {
    int result;
    int64_t at;
    int64_t skipped;
    bool operator==(const Seen&) const = default;
  };
  const Bytes corrupt = good(7).corrupt().vec();
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<Seen> seen;
  };
  const Case cases[] = {
      {"back to back", cat({good(0).vec(), good(1).vec()}), {{PLAY_FRAME, 0, 0}, {PLAY_FRAME, 200, 0}}},
      {"stray bytes before", cat({{1, 2, 3, 4, 5}, good(0).vec()}), {{PLAY_NO_SYNC, 0, 0}, {PLAY_FRAME, 5, 5}}},
      {"a bad frame between", cat({good(0).vec(), corrupt, good(2).vec()}),
       {{PLAY_FRAME, 0, 0}, {PLAY_BAD_CHECKSUM, 200, 0}, {PLAY_FRAME, 400, 200}}},
      // The refused record holds the next frame's start: the hunt looks back.
      {"a cut frame", cat({good(0).vec(), Bytes(corrupt.begin(), corrupt.begin() + 90), good(2).vec()}),
       {{PLAY_FRAME, 0, 0}, {PLAY_BAD_CHECKSUM, 200, 0}, {PLAY_FRAME, 290, 90}}},
      // 0xEB 0x12 ends a half-found sync word; the 0xEB of frame 1 right after
      // it is not looked at, so frame 1 is missed.
      {"0xEB before a frame hides it", cat({{0x12, SYNC0}, good(1).vec(), good(2).vec()}),
       {{PLAY_NO_SYNC, 0, 0}, {PLAY_FRAME, 202, 202}}},
      // The sync word begins on the refused record's last byte.
      {"a sync word across the record's end", cat({Bytes(199, 0x11), good(1).vec()}),
       {{PLAY_NO_SYNC, 0, 0}, {PLAY_FRAME, 199, 199}}},
      {"a short tail is no record", cat({good(0).vec(), head(good(1), 150)}), {{PLAY_FRAME, 0, 0}}},
      // Its checksum holds, but 0xEB 0x91 is no sync word.
      {"no sync word, a sum that holds", cat({good(8).byte(1, 0x91).vec(), good(9).vec()}),
       {{PLAY_NO_SYNC, 0, 0}, {PLAY_FRAME, 200, 200}}},
  };
  for (const Case& c : cases) {
    for (size_t chunk : {size_t{1}, size_t{3}, size_t{199}, size_t{4096}}) {
      PlaybackScan scan;
      playback_scan_start(&scan);
      std::vector<Seen> seen;
      for (size_t at = 0; at < c.bytes.size();) {
        size_t used = 0;
        const size_t n = std::min(chunk, c.bytes.size() - at);
        const int result = playback_scan_feed(&scan, c.bytes.data() + at, n, &used);
        at += used;
        if (result == PLAY_MORE) continue;
        seen.push_back({result, scan.record_at, scan.n_skipped});
        EXPECT_EQ(record_is_frame(scan.record), result == PLAY_FRAME) << c.name;
      }
      EXPECT_EQ(scan.n_fed, static_cast<int64_t>(c.bytes.size())) << c.name;
      ASSERT_EQ(seen.size(), c.seen.size()) << c.name << ", chunks of " << chunk;
      for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_TRUE(seen[i] == c.seen[i]) << c.name << ", chunks of " << chunk << ", record " << i << ": result "
                                          << seen[i].result << " at " << seen[i].at << " skipped " << seen[i].skipped;
    }
  }
}

}  // namespace
