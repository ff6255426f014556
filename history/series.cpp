#include "history/series.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rt {

namespace {

constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

void widen(std::pair<double, double>& range, double v) {
  if (!std::isfinite(v)) return;
  if (std::isnan(range.first) || v < range.first) range.first = v;
  if (std::isnan(range.second) || v > range.second) range.second = v;
}

}  // namespace

void Series::add(uint32_t frame, double value) {
  if (!dense_) frames_.push_back(frame);
  values_.push_back(value);
  extend_block(value);
}

void Series::extend_block(double value) {
  if ((values_.size() - 1) % BLOCK == 0) blocks_.emplace_back(NONE, NONE);
  widen(blocks_.back(), value);
}

void Series::rebuild_last_block() {
  blocks_.resize((values_.size() + BLOCK - 1) / BLOCK);
  if (blocks_.empty()) return;
  std::pair<double, double> range{NONE, NONE};
  for (size_t i = (blocks_.size() - 1) * BLOCK; i < values_.size(); ++i) widen(range, values_[i]);
  blocks_.back() = range;
}

void Series::truncate_frames(uint32_t frames) {
  const size_t keep = lower(frames);
  if (keep == values_.size()) return;
  values_.resize(keep);
  if (!dense_) frames_.resize(keep);
  rebuild_last_block();
}

void Series::clear() {
  frames_.clear();
  values_.clear();
  blocks_.clear();
}

void Series::reserve(size_t samples) {
  if (!dense_) frames_.reserve(samples);
  values_.reserve(samples);
  blocks_.reserve(samples / BLOCK + 1);
}

size_t Series::lower(uint32_t frame) const {
  if (dense_) return std::min<size_t>(frame, values_.size());
  return static_cast<size_t>(std::lower_bound(frames_.begin(), frames_.end(), frame) - frames_.begin());
}

bool Series::extremes(size_t a, size_t b, double* min, double* max) const {
  b = std::min(b, values_.size());
  std::pair<double, double> range{NONE, NONE};
  size_t i = a;
  // The ragged start, whole blocks, the ragged end.
  for (; i < b && i % BLOCK != 0; ++i) widen(range, values_[i]);
  for (; i + BLOCK <= b; i += BLOCK) {
    const auto& block = blocks_[i / BLOCK];
    widen(range, block.first);
    widen(range, block.second);
  }
  for (; i < b; ++i) widen(range, values_[i]);
  if (std::isnan(range.first)) return false;
  *min = range.first;
  *max = range.second;
  return true;
}

size_t Series::bytes() const {
  return frames_.capacity() * sizeof(uint32_t) + values_.capacity() * sizeof(double) +
         blocks_.capacity() * sizeof(std::pair<double, double>);
}

}  // namespace rt
