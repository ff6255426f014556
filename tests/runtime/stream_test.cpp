// The run-time's streams: an input read through the look-back buffer (a
// pipe steps back like a file), what FileOpen accepts as input, and the
// recording written in the background onto a disk that fills and frees.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/recording.h"
#include "runtime/testing.h"
#include "session/outcome.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "support/files.h"
#include "support/process.h"

// Every fsync of this program, counted on its way to the kernel: syncing a
// real file cannot be seen from its contents.
std::atomic<int> fsyncs{0};
extern "C" int fsync(int fd) {
  ++fsyncs;
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

using Bytes = std::vector<uint8_t>;
using testing_files::TempDir;

// The byte at offset i of the test input.
uint8_t at(long i) { return static_cast<uint8_t>(i % 251); }

Bytes input_bytes(size_t n) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = at(static_cast<long>(i));
  return out;
}

// An input of `content`: a regular file, or the read end of a pipe that a
// thread fills and closes.
class Input {
 public:
  Input(const TempDir& dir, const Bytes& content, bool pipe) {
    if (!pipe) {
      const std::string path = dir.file("input.dat");
      testing_files::write_file(path, content);
      stream_ = FileOpen(path.c_str(), "rb");
      return;
    }
    int fds[2];
    if (::pipe(fds) != 0) return;
    writer_ = std::thread([fd = fds[1], content] {
      for (size_t done = 0; done < content.size();) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      close(fd);
    });
    stream_ = rt::stream_over(fdopen(fds[0], "rb"), "pipe", "rb");
  }
  ~Input() {
    FileClose(stream_);
    if (writer_.joinable()) writer_.join();
  }
  FileStream* stream() const { return stream_; }

 private:
  FileStream* stream_ = nullptr;
  std::thread writer_;
};

long position() { return static_cast<long>(rt::transport_position().bytes); }

// One step of a script on an input, and what it must give.
struct Step {
  enum Op { READ, GETC, SEEK } op;
  long n;          // READ: bytes; SEEK: offset
  int origin;      // SEEK
  long result;     // READ: bytes read; GETC: the byte or EOF; SEEK: 0 or -1
  long first;      // READ: offset of the first byte read (-1: none)
  long position;   // after the step
};

Step read(long n, long got, long first, long pos) { return {Step::READ, n, 0, got, first, pos}; }
Step getc_is(long byte, long pos) { return {Step::GETC, 0, 0, byte, -1, pos}; }
Step seek(long offset, int origin, long result, long pos) { return {Step::SEEK, offset, origin, result, -1, pos}; }

struct Script {
  const char* name;
  size_t size;
  std::vector<Step> file, pipe;  // pipe empty: the same as the file
};

TEST(InputStream, a_pipe_steps_back_within_the_look_back_exactly_as_a_file) {
  const long look_back = FILE_LOOK_BACK;
  const Script scripts[] = {
      {"the reader's 199 and 2 bytes back",
       1000,
       {read(200, 200, 0, 200), seek(-199, SEEK_CUR, 0, 1), getc_is(1, 2), getc_is(2, 3),
        seek(-2, SEEK_CUR, 0, 1), read(200, 200, 1, 201)},
       {}},
      {"the whole look-back, after many reads",
       30000,
       {read(15000, 15000, 0, 15000), read(3000, 3000, 15000, 18000), seek(-look_back, SEEK_CUR, 0, 18000 - look_back),
        getc_is(at(18000 - look_back), 18001 - look_back), read(5000, 5000, 18001 - look_back, 23001 - look_back)},
       {}},
      {"an absolute position within the look-back", 1000,
       {read(300, 300, 0, 300), seek(100, SEEK_SET, 0, 100), getc_is(100, 101)}, {}},
      {"at the end: a short read, EOF, then steps back", 450,
       {read(400, 400, 0, 400), read(200, 50, 400, 450), getc_is(EOF, 450), seek(-2, SEEK_CUR, 0, 448),
        getc_is(at(448), 449), getc_is(at(449), 450), getc_is(EOF, 450)},
       {}},
      {"the position it stands at", 1000,
       {read(300, 300, 0, 300), seek(0, SEEK_CUR, 0, 300), seek(300, SEEK_SET, 0, 300), getc_is(at(300), 301)}, {}},
      {"a position before the start", 100, {read(10, 10, 0, 10), seek(-11, SEEK_CUR, -1, 10), getc_is(10, 11)}, {}},
      {"far beyond the look-back: a file seeks, a pipe refuses",
       30000,
       {read(30000, 30000, 0, 30000), seek(-25000, SEEK_CUR, 0, 5000), getc_is(at(5000), 5001)},
       {read(30000, 30000, 0, 30000), seek(-25000, SEEK_CUR, -1, 30000), getc_is(EOF, 30000)}},
      {"from the end: a file seeks, a pipe refuses",
       1000,
       {seek(-10, SEEK_END, 0, 990), getc_is(at(990), 991)},
       {seek(-10, SEEK_END, -1, 0), getc_is(0, 1)}},
  };
  for (const Script& s : scripts) {
    for (const bool pipe : {false, true}) {
      rt::transport_reset();
      TempDir dir;
      const Bytes content = input_bytes(s.size);
      Input input(dir, content, pipe);
      ASSERT_NE(input.stream(), nullptr) << s.name;
      const auto& steps = pipe && !s.pipe.empty() ? s.pipe : s.file;
      for (size_t k = 0; k < steps.size(); ++k) {
        const Step& step = steps[k];
        const std::string what = std::string(s.name) + (pipe ? " (pipe)" : " (file)") + ", step " + std::to_string(k);
        if (step.op == Step::READ) {
          Bytes got(static_cast<size_t>(step.n));
          ASSERT_EQ(static_cast<long>(FileRead(got.data(), 1, got.size(), input.stream())), step.result) << what;
          for (long i = 0; i < step.result; ++i)
            ASSERT_EQ(got[static_cast<size_t>(i)], at(step.first + i)) << what << ", byte " << i;
        } else if (step.op == Step::GETC) {
          EXPECT_EQ(FileGetc(input.stream()), step.result) << what;
        } else {
          EXPECT_EQ(FileSeek(input.stream(), step.n, step.origin), step.result) << what;
          if (step.result != 0) {
            EXPECT_STRNE(FileErrorText(input.stream()), "") << what << ": says why";
          }
        }
        EXPECT_EQ(position(), step.position) << what << ": the position the transport shows";
      }
    }
  }
}

struct OpenCase {
  const char* name;
  std::string path;
  bool opens;
  const char* reason;  // part of FileErrorText(nullptr) when refused
};

TEST(InputStream, opens_files_fifos_and_devices_and_refuses_the_rest_with_the_reason) {
  TempDir dir;
  testing_files::write_file(dir.file("rec.dat"), input_bytes(10));
  const OpenCase cases[] = {
      {"a regular file", dir.file("rec.dat"), true, ""},
      {"a character device", "/dev/null", true, ""},
      {"a directory", dir.path(), false, "Is a directory"},
      {"a missing file", dir.file("missing.dat"), false, "No such file or directory"},
  };
  for (const auto& c : cases) {
    FileStream* s = FileOpen(c.path.c_str(), "rb");
    EXPECT_EQ(s != nullptr, c.opens) << c.name;
    if (!c.opens) {
      EXPECT_NE(std::string(FileErrorText(nullptr)).find(c.reason), std::string::npos)
          << c.name << ": " << FileErrorText(nullptr);
    }
    FileClose(s);
  }
  EXPECT_EQ(FileOpen(dir.file("rec.dat").c_str(), "r+"), nullptr) << "only rb, ab and wb";
}

TEST(InputStream, a_read_error_is_said_ends_the_input_and_sets_the_exit_status) {
  rt::reset_outcome_for_tests();
  TempDir dir;
  // A directory opened by stdio reads with EISDIR: a read error.
  FILE* fp = std::fopen(dir.path().c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  FileStream* s = rt::stream_over(fp, "dir.dat", "rb");
  testing::internal::CaptureStdout();
  uint8_t record[200];
  EXPECT_EQ(FileRead(record, 200, 1, s), 0u);
  EXPECT_EQ(FileGetc(s), EOF);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Cannot read input file dir.dat to its end: Is a directory (playback ends there)\n");
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_INPUT_FAILED);
  EXPECT_EQ(FileClose(s), EOF);
  rt::reset_outcome_for_tests();
}

// A disk for the recording: takes bytes up to its free space, then fails
// with ENOSPC (a write is cut where the space ends). Space can be given back.
class FakeDisk {
 public:
  explicit FakeDisk(size_t space) : space_(space) {}
  FILE* open() {
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, size_t n) -> ssize_t {
      return static_cast<FakeDisk*>(self)->write(data, n);
    };
    return fopencookie(this, "ab", io);
  }
  void free_space(size_t space) {
    std::lock_guard lock(mu_);
    space_ = space;
  }
  Bytes content() {
    std::lock_guard lock(mu_);
    return content_;
  }

 private:
  ssize_t write(const char* data, size_t n) {
    std::lock_guard lock(mu_);
    const size_t room = space_ - content_.size();
    if (room == 0) {
      errno = ENOSPC;
      return 0;  // glibc's cookie streams take -1 for a count
    }
    const size_t taken = std::min(n, room);
    content_.insert(content_.end(), data, data + taken);
    return static_cast<ssize_t>(taken);
  }

  std::mutex mu_;
  size_t space_;
  Bytes content_;
};

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::transport_reset();
    rt::reset_outcome_for_tests();
  }
  void TearDown() override { rt::reset_outcome_for_tests(); }

  // Writes `bytes` one at a time, as the receiver does.
  static size_t write_each(FileStream* s, const Bytes& bytes) {
    size_t kept = 0;
    for (uint8_t b : bytes) kept += FileWrite(&b, 1, 1, s);
    return kept;
  }
};

TEST_F(Recording, reaches_the_file_without_a_flush_from_the_caller) {
  FakeDisk disk(1 << 20);
  FileStream* s = rt::stream_over(disk.open(), "rec.dat", "ab");
  const Bytes bytes = input_bytes(300);
  write_each(s, bytes);
  EXPECT_TRUE(testing_process::wait_until(20.0, [&] { return disk.content() == bytes; }))
      << "the run-time's writer hands the bytes on by itself";
  EXPECT_EQ(FileClose(s), 0);
}

TEST_F(Recording, a_full_disk_is_said_at_once_retried_and_the_resumption_says_nothing_was_lost) {
  FakeDisk disk(100);
  FileStream* s = rt::stream_over(disk.open(), "rec.dat", "ab");
  const Bytes first = input_bytes(150), later = input_bytes(20);
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_each(s, first), first.size()) << "held in memory";
  rt::drain_recording(s);
  EXPECT_EQ(FileFlush(s), EOF) << "while the file cannot be written";
  EXPECT_EQ(rt::transport_recording_state().failure, "cannot write rec.dat: No space left on device");
  disk.free_space(1000);
  write_each(s, later);
  rt::drain_recording(s);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "NOT RECORDING: cannot write recording file rec.dat: No space left on device (frames are still "
            "received and shown; writing is retried)\n"
            "Recording rec.dat is written again: nothing was lost (the bytes were held in memory)\n");
  Bytes all = first;
  all.insert(all.end(), later.begin(), later.end());
  EXPECT_EQ(disk.content(), all);
  EXPECT_EQ(rt::transport_recording_state().failure, "");
  EXPECT_EQ(FileFlush(s), 0);
  EXPECT_EQ(FileClose(s), 0);
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_OK) << "nothing missing";
}

TEST_F(Recording, bytes_beyond_the_backlog_are_dropped_counted_and_said_with_the_gap) {
  FakeDisk disk(100);
  FileStream* s = rt::stream_over(disk.open(), "rec.dat", "ab");
  const Bytes before = input_bytes(100);
  testing::internal::CaptureStdout();
  write_each(s, before);
  rt::drain_recording(s);  // the disk is now full
  write_each(s, {0x55});
  rt::drain_recording(s);
  ASSERT_TRUE(rt::transport_recording_state().failure != "");
  // The backlog holds FILE_BACKLOG bytes; 1000 more are lost.
  const Bytes held(FILE_BACKLOG - 1, 0x66), lost(1000, 0x77), after(10, 0x88);
  EXPECT_EQ(FileWrite(held.data(), 1, held.size(), s), held.size());
  EXPECT_EQ(FileWrite(lost.data(), 1, lost.size(), s), 0u) << "dropped";
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_RECORDING_LOST) << "noted at the first loss";
  disk.free_space(4u << 20);
  rt::drain_recording(s);  // the backlog goes out
  write_each(s, after);
  rt::drain_recording(s);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Recording rec.dat is written again: 1000 received bytes are missing from the file (a gap at byte " +
                     std::to_string(100 + FILE_BACKLOG) + ")\n"),
            std::string::npos)
      << out;
  const Bytes on_disk = disk.content();
  ASSERT_EQ(on_disk.size(), 100 + FILE_BACKLOG + after.size());
  EXPECT_EQ(Bytes(on_disk.end() - 10, on_disk.end()), after) << "the bytes after the gap";
  EXPECT_EQ(on_disk[100], 0x55) << "the backlog's first byte";
  EXPECT_EQ(rt::transport_recording_state().missing, 1000);
  EXPECT_EQ(FileClose(s), EOF) << "bytes are missing";
}

TEST_F(Recording, a_disk_still_full_at_close_loses_the_backlog_and_says_how_much) {
  FakeDisk disk(50);
  FileStream* s = rt::stream_over(disk.open(), "rec.dat", "ab");
  testing::internal::CaptureStdout();
  write_each(s, input_bytes(80));
  EXPECT_EQ(FileClose(s), EOF);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Recording rec.dat closed with 30 received bytes missing from the file: No space left on device\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(disk.content(), input_bytes(50));
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_RECORDING_LOST);
}

TEST_F(Recording, a_recording_that_cannot_be_created_keeps_the_reason_for_the_window) {
  TempDir dir;
  EXPECT_EQ(FileOpen(dir.path().c_str(), "ab"), nullptr);
  EXPECT_STREQ(FileErrorText(nullptr), "a directory is at that name, not a regular file");
  EXPECT_EQ(rt::transport_recording_state().failure,
            "cannot create recording file " + dir.path() + ": a directory is at that name, not a regular file");
}

// A disk that holds each write until the test lets it go, as a slow disk
// holds the writer.
class SlowDisk {
 public:
  FILE* open() {
    cookie_io_functions_t io{};
    io.write = [](void* self, const char* data, size_t n) -> ssize_t {
      return static_cast<SlowDisk*>(self)->write(data, n);
    };
    return fopencookie(this, "ab", io);
  }
  bool wait_held() {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [this] { return held_; });
  }
  void free() {
    std::lock_guard lock(mu_);
    free_ = true;
    cv_.notify_all();
  }
  size_t taken() {
    std::lock_guard lock(mu_);
    return taken_;
  }

 private:
  ssize_t write(const char*, size_t n) {
    std::unique_lock lock(mu_);
    held_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return free_; });
    taken_ += n;
    return static_cast<ssize_t>(n);
  }
  std::mutex mu_;
  std::condition_variable cv_;
  bool held_ = false, free_ = false;
  size_t taken_ = 0;
};

// A slow disk (no write failing) holds the writer: RECORDING_HOLD_WHILE_WRITING
// bytes (64 MiB) wait in memory, and those beyond are dropped and said.
TEST_F(Recording, bytes_dropped_while_a_slow_disk_holds_the_writer_are_said_with_the_gap) {
  SlowDisk disk;
  const Bytes first = input_bytes(10), more(64u << 20, 0x42);
  testing::internal::CaptureStdout();
  {
    rt::RecordingWriter writer(disk.open(), "rec.dat", 0, 100);
    writer.append(first.data(), first.size());
    writer.wake();
    ASSERT_TRUE(disk.wait_held());
    EXPECT_EQ(writer.append(more.data(), more.size()), more.size() - 10) << "10 bytes in flight";
    disk.free();
    writer.drain();
    EXPECT_EQ(writer.bytes_missing(), 10);
    EXPECT_FALSE(writer.close());
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Recording rec.dat: 10 received bytes are missing from the file (a gap at byte 67108864)\n");
  EXPECT_EQ(disk.taken(), 64u << 20);
  EXPECT_EQ(rt::noted_exit_status(), rt::EXIT_RECORDING_LOST);
}

// A run appends to the recording of an earlier run in the same minute: a gap
// is said at its offset in the file, past the earlier bytes.
TEST_F(Recording, a_gap_in_an_appended_recording_is_said_at_its_offset_in_the_file) {
  TempDir dir;
  const std::string path = dir.file("2001.dat");
  testing_files::write_file(path, Bytes(1000, 0x11));
  FileStream* s = FileOpen(path.c_str(), "ab");
  ASSERT_NE(s, nullptr);
  testing::internal::CaptureStdout();
  {
    testing_process::FileSizeLimit limit(1100);  // room for 100 bytes more
    write_each(s, input_bytes(100));
    rt::drain_recording(s);
    write_each(s, {0x55});
    rt::drain_recording(s);
    ASSERT_NE(rt::transport_recording_state().failure, "");
    const Bytes held(FILE_BACKLOG - 1, 0x66), lost(1000, 0x77);
    EXPECT_EQ(FileWrite(held.data(), 1, held.size(), s), held.size());
    EXPECT_EQ(FileWrite(lost.data(), 1, lost.size(), s), 0u);
  }
  rt::drain_recording(s);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Recording " + path + " is written again: 1000 received bytes are missing from the file "
                     "(a gap at byte 1049676)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(testing_files::read_file(path).size(), 1000u + 100u + FILE_BACKLOG);
  EXPECT_EQ(FileClose(s), EOF);
}

TEST_F(Recording, a_real_file_is_synchronised_to_the_disk_while_bytes_arrive_and_at_close) {
  TempDir dir;
  const std::string path = dir.file("2001.dat");
  FileStream* s = FileOpen(path.c_str(), "ab");
  ASSERT_NE(s, nullptr);
  const int before = fsyncs.load();
  write_each(s, input_bytes(300));
  EXPECT_TRUE(testing_process::wait_until(10.0, [&] { return fsyncs.load() > before; }))
      << "within RECORDING_SYNC_EVERY of the bytes, give or take a loaded machine";
  write_each(s, input_bytes(10));
  const int written = fsyncs.load();
  EXPECT_EQ(FileClose(s), 0);
  EXPECT_GT(fsyncs.load(), written) << "the close synchronises the last bytes";
  EXPECT_EQ(testing_files::read_file(path).size(), 310u);
}

}  // namespace
