#include "dng/core/dng_matrix_ops.h"

#include "dng/core/dng_errors.h"

namespace {

// Pivots smaller than this count as zero.
constexpr double kSingularLimit = 1e-10;

dng_matrix inverse_3by3(const dng_matrix& m) {
  const double a00 = m[0][0], a01 = m[0][1], a02 = m[0][2];
  const double a10 = m[1][0], a11 = m[1][1], a12 = m[1][2];
  const double a20 = m[2][0], a21 = m[2][1], a22 = m[2][2];
  const double c00 = a11 * a22 - a12 * a21;
  const double c01 = a12 * a20 - a10 * a22;
  const double c02 = a10 * a21 - a11 * a20;
  const double det = a00 * c00 + a01 * c01 + a02 * c02;
  if (abs_double(det) < kSingularLimit) throw_dng_code(dng_code_matrix_math);
  dng_matrix r(3, 3);
  r[0][0] = c00;
  r[1][0] = c01;
  r[2][0] = c02;
  r[0][1] = a02 * a21 - a01 * a22;
  r[1][1] = a00 * a22 - a02 * a20;
  r[2][1] = a01 * a20 - a00 * a21;
  r[0][2] = a01 * a12 - a02 * a11;
  r[1][2] = a02 * a10 - a00 * a12;
  r[2][2] = a00 * a11 - a01 * a10;
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) r[i][j] /= det;
  return r;
}

// [M | I] reduced row by row in order; rows are never exchanged.
dng_matrix inverse_gauss_jordan(const dng_matrix& m) {
  const uint32_t n = m.Rows();
  double t[dng_max_color_channels][2 * dng_max_color_channels] = {};
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j) t[i][j] = m[i][j];
    t[i][n + i] = 1.0;
  }
  for (uint32_t i = 0; i < n; ++i) {
    const double pivot = t[i][i];
    if (abs_double(pivot) < kSingularLimit) throw_dng_code(dng_code_matrix_math);
    for (uint32_t j = 0; j < 2 * n; ++j) t[i][j] /= pivot;
    for (uint32_t u = 0; u < n; ++u) {
      if (u == i) continue;
      const double f = t[u][i];
      for (uint32_t j = 0; j < 2 * n; ++j) t[u][j] -= f * t[i][j];
    }
  }
  dng_matrix r(n, n);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < n; ++j) r[i][j] = t[i][n + j];
  return r;
}

}  // namespace

dng_matrix matrix_product(const dng_matrix& a, const dng_matrix& b) {
  if (a.Cols() != b.Rows()) throw_dng_code(dng_code_matrix_math);
  dng_matrix r(a.Rows(), b.Cols());  // an empty shape raises 100000
  for (uint32_t i = 0; i < a.Rows(); ++i)
    for (uint32_t j = 0; j < b.Cols(); ++j) {
      double s = 0.0;
      for (uint32_t k = 0; k < a.Cols(); ++k) s += a[i][k] * b[k][j];
      r[i][j] = s;
    }
  return r;
}

dng_vector matrix_vector_product(const dng_matrix& m, const dng_vector& v) {
  if (m.Cols() != v.Count()) throw_dng_code(dng_code_matrix_math);
  dng_vector r(m.Rows());
  for (uint32_t i = 0; i < m.Rows(); ++i) {
    double s = 0.0;
    for (uint32_t k = 0; k < m.Cols(); ++k) s += m[i][k] * v[k];
    r[i] = s;
  }
  return r;
}

dng_matrix scalar_matrix_product(double s, const dng_matrix& m) {
  dng_matrix r = m;
  r.MultiplyAll(s);
  return r;
}

dng_matrix matrix_sum(const dng_matrix& a, const dng_matrix& b) {
  if (a.Rows() != b.Rows() || a.Cols() != b.Cols()) throw_dng_code(dng_code_matrix_math);
  dng_matrix r = a;
  for (uint32_t i = 0; i < a.Rows(); ++i)
    for (uint32_t j = 0; j < a.Cols(); ++j) r[i][j] += b[i][j];
  return r;
}

dng_matrix matrix_transposed(const dng_matrix& m) {
  if (m.IsEmpty()) return dng_matrix();
  dng_matrix r(m.Cols(), m.Rows());
  for (uint32_t i = 0; i < m.Rows(); ++i)
    for (uint32_t j = 0; j < m.Cols(); ++j) r[j][i] = m[i][j];
  return r;
}

dng_matrix matrix_inverse(const dng_matrix& m) {
  if (m.Rows() < 2 || m.Cols() < 2) throw_dng_code(dng_code_matrix_math);
  if (m.Rows() == m.Cols()) {
    if (m.Rows() == 3) return inverse_3by3(m);
    return inverse_gauss_jordan(m);
  }
  const dng_matrix mt = matrix_transposed(m);
  return matrix_product(matrix_inverse(matrix_product(mt, m)), mt);
}

dng_matrix matrix_inverse_hinted(const dng_matrix& m, const dng_matrix& hint) {
  if (m.Rows() != m.Cols() && hint.Rows() == m.Cols() && hint.Cols() == m.Rows()) {
    return matrix_product(matrix_inverse(matrix_product(hint, m)), hint);
  }
  return matrix_inverse(m);
}
