#include "dng/core/dng_matrix.h"

#include "dng/core/dng_errors.h"
#include "dng/core/dng_rounding.h"

dng_matrix::dng_matrix(uint32_t rows, uint32_t cols) {
  if (rows < 1 || rows > dng_max_color_channels || cols < 1 || cols > dng_max_color_channels) {
    throw_dng_code(dng_code_unknown);
  }
  rows_ = rows;
  cols_ = cols;
}

void dng_matrix::MultiplyAll(double factor) {
  for (uint32_t r = 0; r < rows_; ++r)
    for (uint32_t c = 0; c < cols_; ++c) m_[r][c] *= factor;
}

void dng_matrix::Quantize(double factor) {
  for (uint32_t r = 0; r < rows_; ++r)
    for (uint32_t c = 0; c < cols_; ++c)
      m_[r][c] = (1.0 / factor) * round_half_away_int32(m_[r][c] * factor);
}

bool dng_matrix::operator==(const dng_matrix& other) const {
  if (rows_ != other.rows_ || cols_ != other.cols_) return false;
  for (uint32_t r = 0; r < rows_; ++r)
    for (uint32_t c = 0; c < cols_; ++c)
      if (m_[r][c] != other.m_[r][c]) return false;
  return true;
}

dng_matrix_3by3::dng_matrix_3by3(const dng_matrix& m) : dng_matrix(m) {
  if (m.Rows() != 3 || m.Cols() != 3) throw_dng_code(dng_code_matrix_math);
}

dng_matrix_3by3::dng_matrix_3by3(double a00, double a01, double a02, double a10, double a11,
                                 double a12, double a20, double a21, double a22)
    : dng_matrix(3, 3) {
  m_[0][0] = a00, m_[0][1] = a01, m_[0][2] = a02;
  m_[1][0] = a10, m_[1][1] = a11, m_[1][2] = a12;
  m_[2][0] = a20, m_[2][1] = a21, m_[2][2] = a22;
}
