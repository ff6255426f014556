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

#include "display/fields.h"

namespace rt {

namespace {

// Frames of this kind carry the elapsed time (milliseconds at OFF_KIND_VALUE).
constexpr int KIND_TIME = 1;
// Bytes read from the file at a time; the stop request is looked at after each.
constexpr size_t CHUNK = 1 << 20;

}  // namespace

FrameScanner::FrameScanner(FrameRules rules, bool keep_bytes, std::shared_ptr<const LiveFrames> shown)
    : rules_(shown ? FrameRules::Link : rules), keep_bytes_(keep_bytes), shown_(std::move(shown)) {
  playback_scan_start(&playback_);
  link_scan_start(&link_, link_frame_);
}

// The live receiver's rules without its time-outs (a recording keeps no
// time): every attempt that ends is followed by the next at the next byte,
// and the bytes discarded are counted as the receiver counts them. `base`
// is the offset of data[0].
void FrameScanner::feed_link(const uint8_t* data, size_t n, int64_t base) {
  size_t at = 0;
  while (at < n) {
    size_t used = 0;
    int64_t hunted = 0;
    const int result = link_scan_feed(&link_, data + at, n - at, &used, &hunted);
    at += used;
    link_skipped_ += static_cast<int32_t>(hunted);
    if (!scan_ends_attempt(result)) continue;
    link_skipped_ += scan_discarded(&link_, result);
    if (result == SCAN_BAD_CHECKSUM) ++bad_checksums_;
    else if (result == SCAN_ILLEGAL_ESCAPE) ++illegal_escapes_;
    if (result == SCAN_FRAME) found(link_frame_, base + static_cast<int64_t>(at) - link_.n_link, link_skipped_);
    link_scan_start(&link_, link_frame_);
  }
}

// True when bytes[0..n) hold "++-", which opens an escape on the link.
static bool opens_escape(const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i + 2 < n; ++i)
    if (bytes[i] == '+' && bytes[i + 1] == '+' && bytes[i + 2] == '-') return true;
  return false;
}

// Each frame shown is read afresh from its first byte by the link's rules,
// as the receiver began it; the bytes between are passed over. Beyond what
// the record accounts for, the link's rules as for any live recording, the
// skipped count going on from the last frame shown.
void FrameScanner::feed_shown(const uint8_t* data, size_t n) {
  const std::vector<LiveFrame>& frames = shown_->frames;
  size_t at = 0;
  while (at < n) {
    const int64_t p = fed_ + static_cast<int64_t>(at);
    if (p >= shown_->covers && !in_shown_) {
      feed_link(data + at, n - at, p);
      return;
    }
    if (!in_shown_) {
      while (next_shown_ < frames.size() &&
             (frames[next_shown_].offset < 0 || frames[next_shown_].offset < p))
        ++next_shown_;
      const int64_t next = next_shown_ < frames.size() ? frames[next_shown_].offset : shown_->covers;
      if (next > p) {  // to the next frame's first byte, or to the end of the record's part
        at += static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n - at), std::min(next, shown_->covers) - p));
        continue;
      }
      // A frame that took exactly its 200 bytes on the link carried no
      // escape: the recording holds it as it is (unless it holds what would
      // open one, which the link's rules read differently).
      const LiveFrame& whole = frames[next_shown_];
      if (whole.link_bytes == FRAME_LEN && n - at >= static_cast<size_t>(FRAME_LEN) &&
          !opens_escape(data + at + 2, FRAME_LEN - 2)) {
        ++next_shown_;
        if (record_is_frame(data + at)) {
          link_skipped_ = whole.skipped;
          found(data + at, whole.offset, whole.skipped);
        } else {
          ++mismatches_;
        }
        at += FRAME_LEN;
        continue;
      }
      link_scan_start(&shown_scan_, link_frame_);
      in_shown_ = true;
    }
    const int result = link_scan_byte(&shown_scan_, data[at++]);
    // A frame begins with its sync word: a byte hunted over is a mismatch.
    if (!scan_ends_attempt(result) && shown_scan_.n_link > 0) continue;
    const LiveFrame& f = frames[next_shown_];
    in_shown_ = false;
    ++next_shown_;
    if (result == SCAN_FRAME) {
      link_skipped_ = f.skipped;
      found(link_frame_, f.offset, f.skipped);
    } else {
      ++mismatches_;
    }
  }
}

void FrameScanner::feed(const uint8_t* data, size_t n) {
  if (shown_) {
    feed_shown(data, n);
  } else if (rules_ == FrameRules::Playback) {
    // The playback reader's walk; only frames are marked.
    size_t at = 0;
    while (at < n) {
      size_t used = 0;
      const int result = playback_scan_feed(&playback_, data + at, n - at, &used);
      at += used;
      if (result == PLAY_FRAME) found(playback_.record, playback_.record_at, static_cast<int32_t>(playback_.n_skipped));
      else if (result == PLAY_BAD_CHECKSUM) ++bad_checksums_;
    }
  } else {
    feed_link(data, n, fed_);
  }
  fed_ += static_cast<int64_t>(n);
}

void FrameScanner::found(const uint8_t* frame, int64_t offset, int32_t skipped) {
  if (fkind(frame) == KIND_TIME) last_elapsed_ = kind_value(frame);
  FrameMark mark{offset, last_elapsed_};
  mark.fcount = fcount(frame);
  // The discarded-byte count the reader has once it has taken this frame.
  mark.skipped = skipped;
  frames_.push_back(mark);
  if (keep_bytes_) bytes_.insert(bytes_.end(), frame, frame + FRAME_LEN);
}

bool looks_escaped(const uint8_t* bytes, size_t n) { return holds_link_escape(bytes, n); }

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
