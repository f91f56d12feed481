// Products, sums, transposes and inverses of dng_matrix and dng_vector.
// Shape mismatches and singular matrices raise 100007.
#pragma once

#include "dng/core/dng_matrix.h"
#include "dng/core/dng_vector.h"

// A x B; cols of A differing from rows of B raises 100007, an empty result
// 100000.
dng_matrix matrix_product(const dng_matrix& a, const dng_matrix& b);
// M x v; cols of M differing from v's count raises 100007.
dng_vector matrix_vector_product(const dng_matrix& m, const dng_vector& v);
dng_matrix scalar_matrix_product(double s, const dng_matrix& m);
// A + B; different shapes raise 100007.
dng_matrix matrix_sum(const dng_matrix& a, const dng_matrix& b);
dng_matrix matrix_transposed(const dng_matrix& m);

// The inverse: 3 x 3 by the adjugate, 2 x 2 and 4 x 4 by Gauss-Jordan
// elimination without row exchange (a zero pivot fails even when the matrix
// is invertible), a non-square matrix by its left pseudo-inverse
// (M^T M)^-1 M^T. Fewer than 2 rows or columns, or a singular matrix, raise
// 100007.
dng_matrix matrix_inverse(const dng_matrix& m);

// (H M)^-1 H when M is not square and H has M's shape transposed; otherwise
// matrix_inverse(M).
dng_matrix matrix_inverse_hinted(const dng_matrix& m, const dng_matrix& hint);

inline double abs_double(double x) { return x < 0.0 ? -x : x; }
