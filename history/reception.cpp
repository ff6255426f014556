#include "history/reception.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>

#include "runtime/model.h"
#include "runtime/shown_frame.h"
#include "runtime/transport.h"

namespace rt {

namespace {

constexpr int FRAME_BYTES = SHOWN_FRAME_LEN;

double seconds(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

}  // namespace

uint64_t frame_print(const uint8_t* frame) {
  uint64_t h = 1469598103934665603ULL;  // FNV-1a
  for (int i = 0; i < FRAME_BYTES; ++i) {
    h ^= frame[i];
    h *= 1099511628211ULL;
  }
  return h;
}

void ReceptionClock::good_frame(const PanelModel& model) {
  if (transport_is_playback()) return;  // a recording's frames have its own time
  uint8_t frame[FRAME_BYTES];
  int skipped = 0;
  if (!shown_frame(model, frame, &skipped)) return;
  const auto steady = std::chrono::steady_clock::now();
  double t;
  {
    std::lock_guard lock(mu_);
    if (!anchored_) {
      anchored_ = true;
      wall0_s_ = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
      steady0_s_ = seconds(steady);
    }
    t = wall0_s_ + (seconds(steady) - steady0_s_);
  }
  add(frame, t);
}

void ReceptionClock::add(const uint8_t* frame, double t_s) {
  std::lock_guard lock(mu_);
  entries_.push_back({t_s, frame_print(frame)});
  Frame whole;
  std::copy(frame, frame + FRAME_BYTES, whole.begin());
  tail_.push_back(whole);
  while (tail_.size() > tail_frames_) tail_.pop_front();
}

void ReceptionClock::set_tail_frames(size_t n) {
  std::lock_guard lock(mu_);
  tail_frames_ = std::max<size_t>(n, 1);
  while (tail_.size() > tail_frames_) tail_.pop_front();
}

size_t ReceptionClock::tail_frames() const {
  std::lock_guard lock(mu_);
  return tail_frames_;
}

size_t ReceptionClock::first_kept() const {
  std::lock_guard lock(mu_);
  return entries_.size() - tail_.size();
}

void ReceptionClock::visit(size_t from, size_t to,
                           const std::function<void(size_t, const Entry&, const Frame&)>& f) const {
  std::lock_guard lock(mu_);
  const size_t first = entries_.size() - tail_.size();
  for (size_t n = std::max(from, first); n < std::min(to, entries_.size()); ++n) f(n, entries_[n], tail_[n - first]);
}

size_t ReceptionClock::size() const {
  std::lock_guard lock(mu_);
  return entries_.size();
}

std::vector<ReceptionClock::Entry> ReceptionClock::since(size_t from, size_t max) const {
  std::lock_guard lock(mu_);
  if (from >= entries_.size()) return {};
  const size_t to = entries_.size() - from > max ? from + max : entries_.size();
  return {entries_.begin() + static_cast<long>(from), entries_.begin() + static_cast<long>(to)};
}

std::vector<std::pair<size_t, ReceptionClock::Frame>> ReceptionClock::frames_since(size_t from) const {
  std::lock_guard lock(mu_);
  std::vector<std::pair<size_t, Frame>> out;
  const size_t first_kept = entries_.size() - tail_.size();
  for (size_t n = std::max(from, first_kept); n < entries_.size(); ++n) out.emplace_back(n, tail_[n - first_kept]);
  return out;
}

void ReceptionClock::reset() {
  std::lock_guard lock(mu_);
  entries_.clear();
  tail_.clear();
  anchored_ = false;
}

ReceptionClock& reception_clock() {
  static ReceptionClock clock;
  return clock;
}

}  // namespace rt
