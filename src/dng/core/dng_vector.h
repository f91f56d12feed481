// Small vectors of doubles (at most 4 entries), stored inline.
#pragma once

#include <cstdint>

#include "dng/core/dng_limits.h"
#include "dng/core/dng_matrix.h"

class dng_vector {
 public:
  dng_vector() = default;
  // count zeros; count outside 1..4 raises 100000.
  explicit dng_vector(uint32_t count);
  dng_vector(const dng_vector&) = default;
  dng_vector& operator=(const dng_vector&) = default;
  virtual ~dng_vector() = default;

  uint32_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }
  double& operator[](uint32_t i) { return v_[i]; }
  double operator[](uint32_t i) const { return v_[i]; }

  void MakeEmpty() { count_ = 0; }
  // The largest (smallest) entry; 0.0 for the empty vector.
  double LargestEntry() const;
  double SmallestEntry() const;
  void MultiplyAll(double factor);
  void Quantize(double factor);

  // count x count with the entries on the diagonal; empty raises 100000.
  dng_matrix ToDiagonalMatrix() const;
  // count x 1; empty raises 100000.
  dng_matrix ToColumnMatrix() const;

  bool operator==(const dng_vector& other) const;

 protected:
  uint32_t count_ = 0;
  double v_[dng_max_color_channels] = {};
};

class dng_vector_3 : public dng_vector {
 public:
  dng_vector_3() : dng_vector(3) {}
  // A copy; a count other than 3 raises 100007.
  explicit dng_vector_3(const dng_vector& v);
  dng_vector_3(double a0, double a1, double a2);
};
