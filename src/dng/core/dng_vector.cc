#include "dng/core/dng_vector.h"

#include "dng/core/dng_errors.h"
#include "dng/core/dng_rounding.h"

dng_vector::dng_vector(uint32_t count) {
  if (count < 1 || count > dng_max_color_channels) throw_dng_code(dng_code_unknown);
  count_ = count;
}

double dng_vector::LargestEntry() const {
  if (count_ == 0) return 0.0;
  double r = v_[0];
  for (uint32_t i = 1; i < count_; ++i)
    if (v_[i] > r) r = v_[i];
  return r;
}

double dng_vector::SmallestEntry() const {
  if (count_ == 0) return 0.0;
  double r = v_[0];
  for (uint32_t i = 1; i < count_; ++i)
    if (v_[i] < r) r = v_[i];
  return r;
}

void dng_vector::MultiplyAll(double factor) {
  for (uint32_t i = 0; i < count_; ++i) v_[i] *= factor;
}

void dng_vector::Quantize(double factor) {
  for (uint32_t i = 0; i < count_; ++i)
    v_[i] = (1.0 / factor) * round_half_away_int32(v_[i] * factor);
}

dng_matrix dng_vector::ToDiagonalMatrix() const {
  if (count_ == 0) throw_dng_code(dng_code_unknown);
  dng_matrix m(count_, count_);
  for (uint32_t i = 0; i < count_; ++i) m[i][i] = v_[i];
  return m;
}

dng_matrix dng_vector::ToColumnMatrix() const {
  if (count_ == 0) throw_dng_code(dng_code_unknown);
  dng_matrix m(count_, 1);
  for (uint32_t i = 0; i < count_; ++i) m[i][0] = v_[i];
  return m;
}

bool dng_vector::operator==(const dng_vector& other) const {
  if (count_ != other.count_) return false;
  for (uint32_t i = 0; i < count_; ++i)
    if (v_[i] != other.v_[i]) return false;
  return true;
}

dng_vector_3::dng_vector_3(const dng_vector& v) : dng_vector(v) {
  if (v.Count() != 3) throw_dng_code(dng_code_matrix_math);
}

dng_vector_3::dng_vector_3(double a0, double a1, double a2) : dng_vector(3) {
  v_[0] = a0, v_[1] = a1, v_[2] = a2;
}
