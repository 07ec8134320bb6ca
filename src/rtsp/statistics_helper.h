// TStatisticsHelper: the average of the last `window` samples.
//
// Threading: a value; its owner serialises access.
#pragma once

#include <cstdint>
#include <deque>

namespace korvela {

template <class T>
class TStatisticsHelper {
 public:
  explicit TStatisticsHelper(uint32_t window) : window_(window) {}
  virtual ~TStatisticsHelper() = default;

  void Add(T value) {
    while (!samples_.empty() && samples_.size() >= window_) {
      sum_ -= static_cast<double>(samples_.front());
      samples_.pop_front();
    }
    if (window_ == 0) return;
    sum_ += static_cast<double>(value);
    samples_.push_back(value);
  }
  double Average() const { return samples_.empty() ? 0.0 : sum_ / samples_.size(); }
  uint32_t Count() const { return static_cast<uint32_t>(samples_.size()); }
  void Clear() {
    samples_.clear();
    sum_ = 0;
  }

 private:
  std::deque<T> samples_;
  double sum_ = 0;
  uint32_t window_;
};

}  // namespace korvela
