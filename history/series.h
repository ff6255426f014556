// One value over a recording: a sample for each frame that carries it, in
// frame order, with the minimum and maximum of every block of BLOCK samples
// kept beside them, so the extremes of any stretch are found without
// walking every sample: a plot of a day asks for 1920 columns of 400
// frames each and gets every spike. Qt-free; not locked (the trend store
// locks around it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace rt {

class Series {
 public:
  static constexpr size_t BLOCK = 64;

  // `dense`: every frame carries the value, so sample i is frame i and no
  // frame numbers are kept.
  explicit Series(bool dense = false) : dense_(dense) {}

  bool dense() const { return dense_; }
  size_t size() const { return values_.size(); }
  uint32_t frame(size_t i) const { return dense_ ? static_cast<uint32_t>(i) : frames_[i]; }
  double value(size_t i) const { return values_[i]; }

  // Appends frame `frame`'s value (frames in increasing order).
  void add(uint32_t frame, double value);
  // Keeps the samples of frames below `frames` only.
  void truncate_frames(uint32_t frames);
  void clear();
  // Room for `samples` in all (a recording's size says how many are coming).
  void reserve(size_t samples);

  // The first sample of a frame at or after `frame`.
  size_t lower(uint32_t frame) const;
  // Minimum and maximum of the finite values among samples [a, b); false when
  // there is none.
  bool extremes(size_t a, size_t b, double* min, double* max) const;

  // Bytes held.
  size_t bytes() const;

 private:
  void extend_block(double value);
  void rebuild_last_block();

  bool dense_;
  std::vector<uint32_t> frames_;
  std::vector<double> values_;
  std::vector<std::pair<double, double>> blocks_;  // min, max of finite values (NaN, NaN: none)
};

}  // namespace rt
