// Small dense matrices of doubles (at most 4 x 4: four colour channels
// against three XYZ components), stored inline.
#pragma once

#include <cstdint>

#include "dng/core/dng_limits.h"

class dng_matrix {
 public:
  // The empty matrix (0 x 0).
  dng_matrix() = default;
  // rows x cols of zeros; rows or cols outside 1..4 raises 100000.
  dng_matrix(uint32_t rows, uint32_t cols);
  dng_matrix(const dng_matrix&) = default;
  dng_matrix& operator=(const dng_matrix&) = default;
  virtual ~dng_matrix() = default;

  uint32_t Rows() const { return rows_; }
  uint32_t Cols() const { return cols_; }
  bool IsEmpty() const { return rows_ == 0 || cols_ == 0; }
  // Rows and columns both non-zero: the matrix is present.
  bool HasEntries() const { return rows_ != 0 && cols_ != 0; }

  double* operator[](uint32_t row) { return m_[row]; }
  const double* operator[](uint32_t row) const { return m_[row]; }

  void MakeEmpty() { rows_ = cols_ = 0; }
  void MultiplyAll(double factor);
  // Every entry e becomes r / factor, r being e * factor rounded half away
  // from zero to an int32 (saturated).
  void Quantize(double factor);

  // Same shape and the same entries within the shape.
  bool operator==(const dng_matrix& other) const;

 protected:
  uint32_t rows_ = 0;
  uint32_t cols_ = 0;
  double m_[dng_max_color_channels][dng_max_color_channels] = {};
};

class dng_matrix_3by3 : public dng_matrix {
 public:
  dng_matrix_3by3() : dng_matrix(3, 3) {}
  // A copy; a source that is not 3 x 3 raises 100007.
  explicit dng_matrix_3by3(const dng_matrix& m);
  dng_matrix_3by3(double a00, double a01, double a02, double a10, double a11, double a12,
                  double a20, double a21, double a22);
};
