// The index of a recording's frames (recording_index.h), built on a thread
// of its own. Qt-free.
#include "replay/recording_index.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace rt {

namespace {

constexpr uint8_t PLUS = 0x2B;   // '+'
constexpr uint8_t MINUS = 0x2D;  // '-'
constexpr uint8_t ONE = 0x31;    // '1'
// Bytes read from the file at a time; the stop request is looked at after each.
constexpr size_t CHUNK = 1 << 20;

// The receiver's states, as the live receiver numbers them.
enum LinkState : int { HUNT_SYNC0, HUNT_SYNC1, DATA, ONE_PLUS, TWO_PLUS, ESCAPE };

// The frame's additive checksum: the wrapping sum of its first 99 words
// against the last one.
bool checksum_holds(const uint8_t* f) {
  uint16_t sum = 0;
  for (int i = 0; i < REC_FRAME_LEN - 2; i += 2) sum = static_cast<uint16_t>(sum + (f[i] << 8 | f[i + 1]));
  return sum == static_cast<uint16_t>(f[REC_FRAME_LEN - 2] << 8 | f[REC_FRAME_LEN - 1]);
}

// What the playback reader takes as a frame: the sync word and the checksum.
bool is_record_frame(const uint8_t* f) {
  return f[0] == REC_SYNC0 && f[1] == REC_SYNC1 && checksum_holds(f);
}

}  // namespace

FrameScanner::FrameScanner(FrameRules rules, bool keep_bytes) : rules_(rules), keep_bytes_(keep_bytes) {}

void FrameScanner::feed(const uint8_t* data, size_t n) {
  if (rules_ == FrameRules::Playback) feed_playback(data, n);
  else feed_link(data, n);
  fed_ += static_cast<int64_t>(n);
}

void FrameScanner::found(const uint8_t* frame, int64_t offset) {
  if ((frame[5] & 0x03) == REC_KIND_TIME) {
    const uint8_t* p = frame + REC_OFF_KIND_VALUE;
    last_elapsed_ = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                                         static_cast<uint32_t>(p[2]) << 8 | p[3]);
  }
  FrameMark mark{offset, last_elapsed_};
  mark.fcount = static_cast<uint32_t>(frame[3] & 0x1F) << 16 | static_cast<uint32_t>(frame[4]) << 8 | frame[5];
  // The playback reader counts every byte between two frames it returns
  // (and before the first); the receiver counts as it goes.
  mark.skipped = rules_ == FrameRules::Playback
                     ? static_cast<int32_t>(offset - static_cast<int64_t>(REC_FRAME_LEN) * found_)
                     : link_skipped_;
  ++found_;
  frames_.push_back(mark);
  if (keep_bytes_) bytes_.insert(bytes_.end(), frame, frame + REC_FRAME_LEN);
}

// The playback reader's walk: a record at the position, else the hunt from
// the record's second byte. `held_` keeps the bytes from the position on
// (and, mid-hunt, the 0xEB just passed).
void FrameScanner::feed_playback(const uint8_t* data, size_t n) {
  held_.insert(held_.end(), data, data + n);
  size_t i = resume_;  // the position, as an index into held_
  for (;;) {
    if (!hunting_) {
      if (held_.size() - i < static_cast<size_t>(REC_FRAME_LEN)) break;
      const uint8_t* record = held_.data() + i;
      if (is_record_frame(record)) {
        found(record, held_at_ + static_cast<int64_t>(i));
        i += REC_FRAME_LEN;
      } else {
        hunting_ = true;
        after_sync0_ = false;
        i += 1;
      }
      continue;
    }
    while (i < held_.size()) {
      const uint8_t c = held_[i];
      if (!after_sync0_) {
        after_sync0_ = c == REC_SYNC0;
        ++i;
      } else if (c == REC_SYNC1) {
        hunting_ = false;
        after_sync0_ = false;
        i -= 1;  // back onto the 0xEB
        break;
      } else {
        after_sync0_ = false;  // this byte is not looked at as a 0xEB
        ++i;
      }
    }
    if (hunting_) break;
  }
  // Mid-hunt just after an 0xEB, that byte is kept (a sync word found next
  // begins there) and the hunt resumes after it.
  const size_t drop = hunting_ && after_sync0_ ? i - 1 : i;
  resume_ = i - drop;
  held_.erase(held_.begin(), held_.begin() + static_cast<long>(drop));
  held_at_ += static_cast<int64_t>(drop);
}

// The live receiver's state table, byte by byte, without its time-outs (a
// recording keeps no time).
void FrameScanner::feed_link(const uint8_t* data, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    const uint8_t b = data[k];
    switch (link_state_) {
      case HUNT_SYNC0:
        if (b == REC_SYNC0) {
          frame_at_ = fed_ + static_cast<int64_t>(k);
          frame_[0] = b;
          stored_ = 1;
          link_state_ = HUNT_SYNC1;
        } else {
          ++link_skipped_;
        }
        break;
      case HUNT_SYNC1:
        if (b == REC_SYNC1) {
          frame_[stored_++] = b;
          link_state_ = DATA;
        } else {
          stored_ = 0;
          ++link_skipped_;  // for the 0xEB and this byte together
          link_state_ = HUNT_SYNC0;
        }
        break;
      case DATA:
        frame_[stored_++] = b;
        link_state_ = b == PLUS ? ONE_PLUS : DATA;
        break;
      case ONE_PLUS:
        frame_[stored_++] = b;
        link_state_ = b == PLUS ? TWO_PLUS : DATA;
        break;
      case TWO_PLUS:
        if (b == MINUS) {
          link_state_ = ESCAPE;
        } else {
          frame_[stored_++] = b;
          link_state_ = DATA;
        }
        break;
      default:  // ESCAPE
        if (b == MINUS || b == ONE) {
          frame_[stored_++] = b == MINUS ? PLUS : MINUS;
          link_state_ = DATA;
        } else {
          link_skipped_ += stored_;  // an illegal escape: the hunt goes on at the next byte
          stored_ = 0;
          link_state_ = HUNT_SYNC0;
        }
        break;
    }
    if (stored_ == REC_FRAME_LEN) {
      if (checksum_holds(frame_)) found(frame_, frame_at_);
      else link_skipped_ += REC_FRAME_LEN;
      stored_ = 0;
      link_state_ = HUNT_SYNC0;
    }
  }
}

bool looks_escaped(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i + 3 < n; ++i)
    if (bytes[i] == PLUS && bytes[i + 1] == PLUS && bytes[i + 2] == MINUS &&
        (bytes[i + 3] == MINUS || bytes[i + 3] == ONE))
      return true;
  return false;
}

bool scan_recording(const std::string& path, FrameRules rules, std::vector<FrameMark>* out,
                    std::string* error, const std::atomic<bool>* stop, std::atomic<int64_t>* read) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) {
    if (error) *error = path + ": " + std::make_error_code(static_cast<std::errc>(errno)).message();
    return false;
  }
  FrameScanner scanner(rules);
  std::vector<uint8_t> chunk(CHUNK);
  bool ok = true;
  for (;;) {
    if (stop && stop->load(std::memory_order_relaxed)) {
      ok = false;
      break;
    }
    const size_t got = std::fread(chunk.data(), 1, chunk.size(), fp);
    scanner.feed(chunk.data(), got);
    if (read) read->fetch_add(static_cast<int64_t>(got), std::memory_order_relaxed);
    if (got < chunk.size()) {
      if (std::ferror(fp)) {
        if (error) *error = path + ": read error";
        ok = false;
      }
      break;
    }
  }
  std::fclose(fp);
  if (ok) *out = scanner.take();
  return ok;
}

RecordingIndex::RecordingIndex(std::string path, FrameRules rules)
    : path_(std::move(path)), rules_(rules) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path_, ec);
  size_ = ec ? 0 : static_cast<int64_t>(size);
  builder_ = std::thread([this] { build(); });
}

RecordingIndex::~RecordingIndex() {
  stop_.store(true);
  if (builder_.joinable()) builder_.join();
}

void RecordingIndex::build() {
  std::vector<FrameMark> found;
  std::string error;
  const bool ok = scan_recording(path_, rules_, &found, &error, &stop_, &read_);
  if (!ok && error.empty()) return;  // stopped
  {
    std::lock_guard lock(mu_);
    error_ = error;
    frames_ = std::move(found);
    state_.store(!ok ? State::Failed : frames_.empty() ? State::NoFrames : State::Ready,
                 std::memory_order_release);
  }
  built_.notify_all();
}

double RecordingIndex::progress() const {
  if (state() != State::Building) return 1.0;
  if (size_ <= 0) return 0.0;
  return std::min(1.0, static_cast<double>(read_.load(std::memory_order_relaxed)) / static_cast<double>(size_));
}

std::string RecordingIndex::error() const {
  std::lock_guard lock(mu_);
  return error_;
}

bool RecordingIndex::wait(double timeout_s) const {
  std::unique_lock lock(mu_);
  return built_.wait_for(lock, std::chrono::duration<double>(timeout_s),
                                 [this] { return state() != State::Building; });
}

long RecordingIndex::frames() const {
  return state() == State::Ready ? static_cast<long>(frames_.size()) : 0;
}

FrameMark RecordingIndex::frame(long n) const {
  if (state() != State::Ready || n < 0 || n >= static_cast<long>(frames_.size())) return FrameMark{};
  return frames_[static_cast<size_t>(n)];
}

long RecordingIndex::frame_before(int64_t position) const {
  if (state() != State::Ready) return -1;
  auto it = std::lower_bound(frames_.begin(), frames_.end(), position,
                             [](const FrameMark& f, int64_t p) { return f.offset < p; });
  return static_cast<long>(it - frames_.begin()) - 1;
}

}  // namespace rt
