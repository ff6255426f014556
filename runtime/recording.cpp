#include "runtime/recording.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "session/outcome.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/transport.h"

namespace rt {

namespace {

std::string reason_of_errno(int err) { return err != 0 ? std::strerror(err) : "write failed"; }

}  // namespace

RecordingWriter::RecordingWriter(FILE* fp, std::string name, int64_t start_size, size_t backlog)
    : name_(std::move(name)), backlog_(backlog), fp_(fp), start_size_(start_size) {
  // Our own buffer is the only one: every write goes straight to the
  // operating system, and a partial write is counted exactly.
  std::setvbuf(fp_, nullptr, _IONBF, 0);
  last_sync_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this] { run(); });
}

RecordingWriter::~RecordingWriter() { close(); }

size_t RecordingWriter::append(const uint8_t* bytes, size_t n, int64_t* first_offset) {
  size_t kept;
  bool first_loss;
  {
    std::unique_lock lock(mu_);
    if (first_offset) *first_offset = start_size_ + accepted_;
    // While the file takes bytes, a slow write or synchronisation only
    // delays them; while it fails, the backlog bounds what is held.
    const size_t bound = failing_ ? backlog_ : std::max(backlog_, RECORDING_HOLD_WHILE_WRITING);
    const size_t held = pending_.size() + in_flight_;
    kept = std::min(n, held < bound ? bound - held : 0);
    pending_.insert(pending_.end(), bytes, bytes + kept);
    accepted_ += static_cast<int64_t>(kept);
    // Written as soon as a piece worth a write waits (the timer takes the
    // rest): the writer never falls behind a fast port.
    if (idle_ && !wake_requested_ && pending_.size() >= RECORDING_WAKE_AT) {
      wake_requested_ = true;
      lock.unlock();
      wake_cv_.notify_one();
      lock.lock();
    }
    if (kept == n) return kept;
    // Dropped: the file will have a gap here.
    if (gap_at_ < 0) gap_at_ = start_size_ + accepted_;
    first_loss = !lost_;
    missing_ += static_cast<int64_t>(n - kept);
    lost_ = true;
  }
  if (first_loss) note_exit_status(EXIT_RECORDING_LOST);
  return kept;
}

void RecordingWriter::wake() {
  {
    std::lock_guard lock(mu_);
    wake_requested_ = true;
  }
  wake_cv_.notify_one();
}

void RecordingWriter::drain() {
  wake();
  std::unique_lock lock(mu_);
  // A pass that ended after this call has also said what it did (a
  // resumption, a failure); two passes end make sure that one began after it.
  const uint64_t start = passes_;
  passed_cv_.wait(lock, [this, start] {
    return (passes_ > start && pending_.empty() && in_flight_ == 0) || closing_ ||
           (failing_ && passes_ >= start + 2);
  });
}

bool RecordingWriter::failing() const {
  std::lock_guard lock(mu_);
  return failing_;
}

std::string RecordingWriter::error() const {
  std::lock_guard lock(mu_);
  return error_;
}

int64_t RecordingWriter::bytes_missing() const {
  std::lock_guard lock(mu_);
  return missing_;
}

bool RecordingWriter::close() {
  {
    std::lock_guard lock(mu_);
    closing_ = true;
  }
  wake_cv_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  return !lost_;
}

size_t RecordingWriter::write_out(const std::vector<uint8_t>& bytes, std::string* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const size_t took = std::fwrite(bytes.data() + done, 1, bytes.size() - done, fp_);
    done += std::min(took, bytes.size() - done);
    if (done == bytes.size()) break;
    const int err = errno;
    std::clearerr(fp_);  // so that the next try can succeed
    // A write cut short without a reason is tried on once: the next one
    // either goes on or gives the reason (as write() does at a full disk).
    if (took == 0 || err != 0) {
      *error = reason_of_errno(err);
      break;
    }
  }
  return done;
}

void RecordingWriter::on_write_failed(const std::string& reason) {
  {
    std::lock_guard lock(mu_);
    error_ = reason;
    if (failing_) return;
    failing_ = true;
  }
  say("NOT RECORDING: cannot write recording file " + name_ + ": " + reason +
      " (frames are still received and shown; writing is retried)");
  log_error("NOT RECORDING: cannot write recording file " + name_ + ": " + reason + " (writing is retried)");
  watch_recording_loss();
  transport_set_recording_failure("cannot write " + name_ + ": " + reason);
}

// After a write that took every byte: a failure is over, and bytes dropped
// meanwhile are said.
void RecordingWriter::on_write_resumed() {
  bool was_failing;
  int64_t missing, gap_at, missing_total;
  {
    std::lock_guard lock(mu_);
    was_failing = failing_;
    missing = missing_ - missing_reported_;
    if (!was_failing && missing == 0) return;
    missing_reported_ = missing_;
    missing_total = missing_;
    gap_at = gap_at_;
    gap_at_ = -1;
    failing_ = false;
    error_.clear();
  }
  std::string line = "Recording " + name_ + (was_failing ? " is written again: " : ": ");
  if (missing > 0)
    line += std::to_string(missing) + " received bytes are missing from the file (a gap at byte " +
            std::to_string(gap_at) + ")";
  else
    line += "nothing was lost (the bytes were held in memory)";
  say(line);
  if (missing > 0) log_warning(line);
  else log_info(line);
  transport_set_recording_failure("");
  transport_set_recording_missing(missing_total);
}

void RecordingWriter::sync_if_due(bool now) {
  if (!unsynced_) return;
  const auto t = std::chrono::steady_clock::now();
  if (!now && t - last_sync_ < RECORDING_SYNC_EVERY) return;
  last_sync_ = t;
  const int err = sync_to_disk(fp_);
  if (err == 0) {
    unsynced_ = false;
    if (sync_failed_) {
      sync_failed_ = false;
      if (!failing()) transport_set_recording_failure("");
    }
    return;
  }
  if (sync_failed_) return;
  // The disk did not take the bytes already written: some may be gone.
  sync_failed_ = true;
  {
    std::lock_guard lock(mu_);
    lost_ = true;
    error_ = std::strerror(err);
  }
  note_exit_status(EXIT_RECORDING_LOST);
  const std::string sync_line = "Recording " + name_ + ": cannot synchronise it to the disk: " +
                                std::strerror(err) + " (bytes already written may be missing from the file)";
  say(sync_line);
  log_error(sync_line);
  watch_recording_loss();
  transport_set_recording_failure("cannot synchronise " + name_ + ": " + std::strerror(err));
}

void RecordingWriter::run() {
  std::vector<uint8_t> batch;
  for (;;) {
    bool closing;
    {
      std::unique_lock lock(mu_);
      idle_ = true;
      wake_cv_.wait_for(lock, RECORDING_WRITE_EVERY, [this] { return wake_requested_ || closing_; });
      idle_ = false;
      wake_requested_ = false;
      closing = closing_;
      batch.clear();
      batch.swap(pending_);
      in_flight_ = batch.size();
    }
    std::string reason;
    const size_t done = write_out(batch, &reason);
    {
      // What the file did not take goes back before what came meanwhile.
      std::lock_guard lock(mu_);
      if (done < batch.size()) pending_.insert(pending_.begin(), batch.begin() + static_cast<long>(done), batch.end());
      in_flight_ = 0;
    }
    if (done > 0) unsynced_ = true;
    written_ += static_cast<int64_t>(done);
    if (done < batch.size()) on_write_failed(reason);
    else if (!batch.empty()) on_write_resumed();
    sync_if_due(closing);
    {
      std::lock_guard lock(mu_);
      ++passes_;
    }
    passed_cv_.notify_all();
    if (closing) break;
  }

  // Closing: what the file still would not take is lost.
  int64_t missing, missing_total;
  std::string reason;
  {
    std::lock_guard lock(mu_);
    missing_ += static_cast<int64_t>(pending_.size());
    pending_.clear();
    missing_total = missing_;
    missing = missing_ - missing_reported_;
    missing_reported_ = missing_;
    if (missing > 0) lost_ = true;
    reason = error_;
  }
  if (missing > 0) {
    note_exit_status(EXIT_RECORDING_LOST);
    say("Recording " + name_ + " closed with " + std::to_string(missing) +
        " received bytes missing from the file" + (reason.empty() ? "" : ": " + reason));
    transport_set_recording_missing(missing_total);
  }
  errno = 0;
  if (std::fclose(fp_) != 0) {
    {
      std::lock_guard lock(mu_);
      lost_ = true;
    }
    note_exit_status(EXIT_RECORDING_LOST);
    const std::string close_line = "Recording " + name_ + ": error closing the file: " + reason_of_errno(errno);
    say(close_line);
    log_error(close_line);
    watch_recording_loss();
  }
  fp_ = nullptr;
}

}  // namespace rt
