// The recording written in the background (the writing side of FileOpen
// "ab"/"wb"): the system's thread only appends bytes to memory; a thread of
// the recording's own hands them to the operating system as soon as
// RECORDING_WAKE_AT bytes wait (a fast port), at each flush, and at least
// every RECORDING_WRITE_EVERY, and synchronises the file to the disk every
// RECORDING_SYNC_EVERY while bytes arrive, so neither a slow disk nor a long
// receiver call holds the bytes back. While the file takes bytes, up to
// RECORDING_HOLD_WHILE_WRITING may wait for a slow write or synchronisation:
// on a disk that keeps up nothing is dropped at any rate. Qt-free.
//
// When the file cannot be written it says so at once (rt::say, the window's
// recording state), holds at most FILE_BACKLOG bytes in memory (what waited
// already stays) and retries at every pass; bytes beyond that are dropped
// and counted. When writing
// resumes, or at close, it says how many bytes are missing from the file,
// and any loss sets the exit status EXIT_RECORDING_LOST.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rt {

constexpr std::chrono::milliseconds RECORDING_WRITE_EVERY{200};
constexpr std::chrono::milliseconds RECORDING_SYNC_EVERY{500};
constexpr size_t RECORDING_WAKE_AT = 64 * 1024;
constexpr size_t RECORDING_HOLD_WHILE_WRITING = 64u << 20;

class RecordingWriter {
 public:
  // Takes over `fp` (open for writing; closed by close()). `name` is the
  // file's name in messages; `start_size` the file's size before (when
  // appending), so that a gap is reported at its offset in the file.
  RecordingWriter(FILE* fp, std::string name, int64_t start_size, size_t backlog);
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Appends bytes (the system's thread). Returns how many were kept: fewer
  // than n when the backlog is full. *first_offset, when given, gets the
  // file offset the first of them has if kept.
  size_t append(const uint8_t* bytes, size_t n, int64_t* first_offset = nullptr);
  // Wakes the writer to hand the bytes to the operating system now.
  void wake();
  // True while the file cannot be written.
  bool failing() const;
  // Waits until every byte appended so far has been handed to the operating
  // system, or the file cannot be written (tests).
  void drain();
  // Writes what is left, synchronises and closes the file; stops the writer.
  // Returns false when bytes are missing from the file.
  bool close();
  // Why the last write or synchronisation failed ("" while none did).
  std::string error() const;
  // Bytes handed to the operating system, and bytes missing from the file
  // (dropped, or still held at close), since open.
  int64_t bytes_written() const { return written_.load(); }
  int64_t bytes_missing() const;

 private:
  void run();
  // Hands `bytes` to the operating system; returns how many it took.
  size_t write_out(const std::vector<uint8_t>& bytes, std::string* error);
  void on_write_failed(const std::string& reason);
  void on_write_resumed();
  void sync_if_due(bool now);

  const std::string name_;
  const size_t backlog_;
  FILE* fp_;

  mutable std::mutex mu_;
  std::condition_variable wake_cv_;
  std::condition_variable passed_cv_;  // after each pass of the writer
  std::vector<uint8_t> pending_;  // appended, not yet taken by the writer
  size_t in_flight_ = 0;          // taken by the writer, being written
  int64_t accepted_ = 0;          // bytes kept since open (their file offset = start + accepted)
  int64_t start_size_;
  int64_t missing_ = 0;           // bytes dropped since open
  int64_t missing_reported_ = 0;  // of those, already said
  int64_t gap_at_ = -1;           // file offset of the first byte dropped since the last report
  uint64_t passes_ = 0;            // of the writer, for drain()
  std::atomic<int64_t> written_{0};
  bool wake_requested_ = false;
  bool idle_ = false;             // the writer waits for bytes or its timer
  bool closing_ = false;
  bool failing_ = false;
  bool lost_ = false;             // any byte missing from the file
  std::string error_;

  // Writer thread only.
  bool unsynced_ = false;
  std::chrono::steady_clock::time_point last_sync_;
  bool sync_failed_ = false;

  std::thread thread_;
};

// Hands the file's data to the disk (the platform's sync call). Returns 0,
// or the errno-style reason; a file that cannot be synchronised at all (a
// device, a pipe, a stream without a descriptor) counts as done.
int sync_to_disk(FILE* fp);

}  // namespace rt
