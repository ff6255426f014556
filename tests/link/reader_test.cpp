// The file playback reader over real files and FIFOs: pacing,
// resynchronisation and the discarded-byte count.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/reader.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "support/files.h"
#include "support/frames.h"

using testing_frames::append;
using testing_frames::cat;
using testing_frames::FrameBuilder;
using testing_frames::good;
using testing_frames::head;
using Bytes = std::vector<uint8_t>;

namespace {

FrameBuilder bad(uint32_t n) { return good(n).corrupt(); }
Bytes fill(size_t n, uint8_t value) { return Bytes(n, value); }

// What one playback of a file gave.
struct Playback {
  std::vector<uint32_t> counters;      // fcount of each good frame, in order
  std::vector<int32_t> skipped_before; // nskip growth during the call that returned each
  int32_t skipped_at_end = 0;          // nskip growth during the calls that returned -1
  int pacing_waits = 0;                // Delay(0.1) calls
  int resync_waits = 0;                // Delay(1.0) calls
  int other_waits = 0;
};

class Reader : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::reset_ui_for_tests();
    rt::trace_to_memory();
    rt::set_speed(0);
    nskip_reset_for_tests();
  }
  void TearDown() override { reader_attach(nullptr); }

  // Reads the input to its end, then once more to see the end stays: a
  // regular file, or a FIFO that a writer fills and closes.
  Playback play(const Bytes& content, bool fifo = false) {
    std::string path = dir_.file(fifo ? "playback.fifo" : "playback.dat");
    std::thread writer;
    if (fifo) {
#ifdef _WIN32
      ADD_FAILURE() << "no FIFOs on Windows";
#else
      unlink(path.c_str());
      EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
      writer = std::thread([path, content] {
        const int fd = open(path.c_str(), O_WRONLY);
        for (size_t at = 0; fd >= 0 && at < content.size();) {
          const ssize_t n = write(fd, content.data() + at, content.size() - at);
          if (n <= 0) break;
          at += static_cast<size_t>(n);
        }
        if (fd >= 0) close(fd);
      });
#endif
    } else {
      testing_files::write_file(path, content);
    }
    FileStream* fp = FileOpen(path.c_str(), "rb");
    EXPECT_NE(fp, nullptr) << path << ": " << FileErrorText(nullptr);
    reader_attach(fp);
    rt::clear_trace_lines();

    Playback out;
    uint8_t frame[FRAME_LEN];
    int ends = 0;
    for (int call = 0; call < 1000 && ends < 2; ++call) {
      int32_t before = nskip_count();
      int result = get_file_frm(frame);
      if (result == 0) {
        EXPECT_TRUE(checksum_ok(frame));
        out.counters.push_back(fcount(frame));
        out.skipped_before.push_back(nskip_count() - before);
      } else {
        EXPECT_EQ(result, -1);
        out.skipped_at_end += nskip_count() - before;
        ++ends;
      }
    }
    reader_attach(nullptr);
    FileClose(fp);
    if (writer.joinable()) writer.join();
    count_waits(out);
    return out;
  }

  static void count_waits(Playback& out) {
    for (const auto& line : rt::trace_lines()) {
      if (line.find("\"op\":\"Delay\"") == std::string::npos) continue;
      auto at = line.find("\"seconds\":");
      double s = at == std::string::npos ? -1 : std::strtod(line.c_str() + at + 10, nullptr);
      if (s == 0.1) ++out.pacing_waits;
      else if (s == 1.0) ++out.resync_waits;
      else ++out.other_waits;
    }
  }

  testing_files::TempDir dir_;
};

struct PlaybackCase {
  const char* name;
  Bytes file;
  std::vector<uint32_t> counters;
  std::vector<int32_t> skipped_before;
  int32_t skipped_at_end;
  int resyncs;
};

TEST_F(Reader, returns_good_frames_and_counts_bytes_between_them_exactly) {
  // 0xEB 0x90 inside frame 2's body: a false sync word after its failure.
  FrameBuilder false_sync = bad(2);
  false_sync.bytes[100] = SYNC0;
  false_sync.bytes[101] = SYNC1;
  FrameBuilder one = good(1), two = good(2), three = good(3);
  // Frame 2 with its sync word zeroed and 0xEB90 added to W10 (0x1234 +
  // 0xEB90 = 0xFDC4): the same sum, so its checksum still holds.
  FrameBuilder no_sync = good(2);
  no_sync.byte(0, 0x00).byte(1, 0x00).byte(OFF_W10, 0xFD).byte(OFF_W10 + 1, 0xC4);

  const PlaybackCase cases[] = {
      {"back to back", cat({one.vec(), two.vec(), three.vec()}), {1, 2, 3}, {0, 0, 0}, 0, 0},
      {"leading garbage", cat({fill(37, 0x11), one.vec(), two.vec()}), {1, 2}, {37, 0}, 0, 1},
      {"bad frame between good ones", cat({one.vec(), bad(2).vec(), three.vec()}), {1, 3}, {0, 200}, 0, 1},
      {"false sync word in a bad frame", cat({one.vec(), false_sync.vec(), three.vec()}), {1, 3}, {0, 200}, 0, 2},
      {"0xEB 0xEB 0x90 is no sync word", cat({one.vec(), {0x55, 0xEB, 0xEB, 0x90, 0x55}, three.vec()}),
       {1, 3}, {0, 5}, 0, 1},
      {"0xEB 0x00 0x90 is no sync word", cat({one.vec(), {0x55, 0xEB, 0x00, 0x90, 0x55}, three.vec()}),
       {1, 3}, {0, 5}, 0, 1},
      {"frame cut short", cat({one.vec(), head(two, 120), three.vec()}), {1, 3}, {0, 120}, 0, 1},
      {"short tail not counted", cat({one.vec(), two.vec(), head(three, 150)}), {1, 2}, {0, 0}, 0, 0},
      {"last record fails, nothing after it", cat({one.vec(), bad(2).vec()}), {1}, {0}, 200, 1},
      {"last record fails, no sync word to the end", cat({one.vec(), bad(2).vec(), fill(30, 0x77)}),
       {1}, {0}, 230, 1},
      {"0xFF during the hunt", cat({fill(10, 0xFF), one.vec(), fill(3, 0xFF), two.vec()}), {1, 2}, {10, 3}, 0, 2},
      {"0xEB 0xFF 0x90 among 0xFF is no sync word",
       cat({one.vec(), {0xFF, 0xFF, 0xEB, 0xFF, 0x90, 0xFF, 0xFF}, three.vec()}), {1, 3}, {0, 7}, 0, 1},
      {"sync word straddling the record end", cat({fill(199, 0x00), one.vec()}), {1}, {199}, 0, 1},
      // Zeros pass the checksum rule (sum 0, checksum 0) but are no frame.
      {"200 zero bytes are no frame", cat({one.vec(), fill(200, 0x00), three.vec()}), {1, 3}, {0, 200}, 0, 1},
      {"a record with a good sum but no sync word", cat({one.vec(), no_sync.vec(), three.vec()}), {1, 3}, {0, 200}, 0, 1},
      {"empty file", {}, {}, {}, 0, 0},
  };
  // A FIFO cannot seek: the stream's look-back serves the steps back, so it
  // plays exactly as the file.
#ifdef _WIN32
  for (const bool fifo : {false}) {  // the same cases through a FIFO where there are FIFOs
#else
  for (const bool fifo : {false, true}) {
#endif
    for (const auto& c : cases) {
      const std::string name = std::string(c.name) + (fifo ? " (FIFO)" : " (file)");
      nskip_reset_for_tests();
      Playback got = play(c.file, fifo);
      EXPECT_EQ(got.counters, c.counters) << name;
      EXPECT_EQ(got.skipped_before, c.skipped_before) << name;
      EXPECT_EQ(got.skipped_at_end, c.skipped_at_end) << name;
      EXPECT_EQ(got.resync_waits, c.resyncs) << name << ": one 1.0 s wait per resynchronisation";
      EXPECT_EQ(got.pacing_waits, static_cast<int>(c.counters.size()) + 2)
          << name << ": one 0.1 s wait per call, the two end calls included";
      EXPECT_EQ(got.other_waits, 0) << name;
    }
  }
}

TEST_F(Reader, recording_with_escaped_frames_skips_only_those_frames) {
  // Frame 2 stores "++-", which the link carries as "++-1": 201 bytes in the
  // recording, so its 200-byte record is cut and fails.
  FrameBuilder escaped = good(2);
  escaped.byte(60, 0x2B).byte(61, 0x2B).byte(62, 0x2D);
  Bytes link2 = testing_frames::escape_for_link(escaped.bytes);
  ASSERT_EQ(link2.size(), 201u);

  Bytes file = cat({testing_frames::escape_for_link(good(1).bytes), link2,
                    testing_frames::escape_for_link(good(3).bytes)});
  Playback got = play(file);
  EXPECT_EQ(got.counters, (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(got.skipped_before, (std::vector<int32_t>{0, 201}));
  EXPECT_EQ(got.resync_waits, 1);
}

TEST_F(Reader, stream_stands_just_after_a_good_record_and_on_the_sync_word_after_resync) {
  std::string path = dir_.file("position.dat");
  testing_files::write_file(path, cat({good(1).vec(), fill(7, 0x42), good(2).vec()}));
  FileStream* fp = FileOpen(path.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  reader_attach(fp);
  uint8_t frame[FRAME_LEN];
  ASSERT_EQ(get_file_frm(frame), 0);
  EXPECT_EQ(rt::transport_position().bytes, 200);
  ASSERT_EQ(FileRead(frame, FRAME_LEN, 1, fp), 1u);  // the failing record
  EXPECT_EQ(resync(), 0);
  EXPECT_EQ(rt::transport_position().bytes, 207) << "on the 0xEB";
  EXPECT_EQ(nskip_count(), 7);
  reader_attach(nullptr);
  FileClose(fp);
}

}  // namespace
