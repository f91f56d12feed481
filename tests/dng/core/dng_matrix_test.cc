#include "dng/core/dng_matrix.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_vector.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::StderrCapture;

int32_t code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const dng_exception& e) {
    return e.Code();
  }
  return 0;
}

dng_matrix make(uint32_t rows, uint32_t cols, std::initializer_list<double> entries) {
  dng_matrix m(rows, cols);
  auto it = entries.begin();
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c) m[r][c] = *it++;
  return m;
}

// Largest |entry - identity entry|.
double distance_from_identity(const dng_matrix& m) {
  double worst = 0.0;
  for (uint32_t r = 0; r < m.Rows(); ++r)
    for (uint32_t c = 0; c < m.Cols(); ++c)
      worst = std::max(worst, abs_double(m[r][c] - (r == c ? 1.0 : 0.0)));
  return worst;
}

// A random matrix kept well-conditioned by a strong diagonal, with every
// pivot of elimination in order away from zero.
dng_matrix random_matrix(std::mt19937& rng, uint32_t rows, uint32_t cols) {
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  dng_matrix m(rows, cols);
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c) m[r][c] = entry(rng) + (r == c ? 4.0 : 0.0);
  return m;
}

TEST(MatrixInverse, TimesTheMatrixIsTheIdentityForRandomMatrices) {
  std::mt19937 rng(12);
  for (int round = 0; round < 300; ++round) {
    for (uint32_t n : {2u, 3u, 4u}) {
      const dng_matrix a = random_matrix(rng, n, n);
      const dng_matrix inv = matrix_inverse(a);
      EXPECT_LT(distance_from_identity(matrix_product(a, inv)), 1e-12) << n;
      EXPECT_LT(distance_from_identity(matrix_product(inv, a)), 1e-12) << n;
    }
    // Tall matrices of full rank: the left pseudo-inverse.
    for (auto [rows, cols] : {std::pair{3u, 2u}, std::pair{4u, 3u}, std::pair{4u, 2u}}) {
      const dng_matrix m = random_matrix(rng, rows, cols);
      const dng_matrix pinv = matrix_inverse(m);
      ASSERT_EQ(pinv.Rows(), cols);
      ASSERT_EQ(pinv.Cols(), rows);
      EXPECT_LT(distance_from_identity(matrix_product(pinv, m)), 1e-12);
      // The hinted form: (H M)^-1 H is a left inverse too.
      const dng_matrix hint = random_matrix(rng, cols, rows);
      EXPECT_LT(distance_from_identity(matrix_product(matrix_inverse_hinted(m, hint), m)), 1e-12);
    }
  }
}

TEST(MatrixInverse, PublishedPair) {
  // The sRGB (D50-adapted) primaries to XYZ and back, as published to four decimals.
  const dng_matrix rgb_to_xyz = make(3, 3, {0.4361, 0.3851, 0.1431, 0.2225, 0.7169, 0.0606,
                                            0.0139, 0.0971, 0.7141});
  const dng_matrix inv = matrix_inverse(rgb_to_xyz);
  const double expected[3][3] = {{3.1339, -1.6169, -0.4906},
                                 {-0.9785, 1.9163, 0.0334},
                                 {0.0720, -0.2290, 1.4057}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(inv[r][c], expected[r][c], 2e-3) << r << "," << c;
}

TEST(MatrixInverse, HintIgnoredUnlessItHasTheTransposedShape) {
  const dng_matrix square = make(2, 2, {2, 0, 0, 4});
  const dng_matrix wrong_hint = make(2, 3, {1, 2, 3, 4, 5, 6});
  EXPECT_EQ(matrix_inverse_hinted(square, wrong_hint), make(2, 2, {0.5, 0, 0, 0.25}));
}

struct FailureCase {
  const char* what;
  std::function<void()> run;
  int32_t code;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.what; }

class MatrixFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(MatrixFailure, RaisesItsCode) {
  StderrCapture quiet;
  EXPECT_EQ(code_of(GetParam().run), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MatrixFailure,
    ::testing::Values(
        FailureCase{"inverse_1x3", [] { matrix_inverse(dng_matrix(1, 3)); }, 100007},
        FailureCase{"inverse_3x1", [] { matrix_inverse(dng_matrix(3, 1)); }, 100007},
        FailureCase{"inverse_1x1", [] { matrix_inverse(make(1, 1, {2})); }, 100007},
        FailureCase{"inverse_empty", [] { matrix_inverse(dng_matrix()); }, 100007},
        // No row exchange: an invertible matrix with a zero pivot fails.
        FailureCase{"inverse_swap", [] { matrix_inverse(make(2, 2, {0, 1, 1, 0})); }, 100007},
        FailureCase{"inverse_singular3",
                    [] { matrix_inverse(make(3, 3, {1, 2, 3, 2, 4, 6, 0, 1, 1})); }, 100007},
        FailureCase{"inverse_singular4", [] { matrix_inverse(dng_matrix(4, 4)); }, 100007},
        FailureCase{"inverse_wide", [] { matrix_inverse(make(2, 3, {1, 0, 0, 0, 1, 0})); },
                    100007},
        FailureCase{"product_3x3_4x3", [] { matrix_product(dng_matrix(3, 3), dng_matrix(4, 3)); },
                    100007},
        FailureCase{"product_empty", [] { matrix_product(dng_matrix(), dng_matrix()); }, 100000},
        FailureCase{"vector_product",
                    [] { matrix_vector_product(dng_matrix(3, 3), dng_vector(4)); }, 100007},
        FailureCase{"sum_shapes", [] { matrix_sum(dng_matrix(3, 3), dng_matrix(3, 4)); }, 100007},
        FailureCase{"matrix_5x1", [] { dng_matrix(5, 1); }, 100000},
        FailureCase{"matrix_0x3", [] { dng_matrix(0, 3); }, 100000},
        FailureCase{"vector_0", [] { dng_vector(0); }, 100000},
        FailureCase{"vector_5", [] { dng_vector(5); }, 100000},
        FailureCase{"to_3by3", [] { dng_matrix_3by3(dng_matrix(3, 4)); }, 100007},
        FailureCase{"to_vector_3", [] { dng_vector_3(dng_vector(4)); }, 100007},
        FailureCase{"diagonal_of_empty", [] { dng_vector().ToDiagonalMatrix(); }, 100000},
        FailureCase{"column_of_empty", [] { dng_vector().ToColumnMatrix(); }, 100000}));

TEST(DngMatrix, ArithmeticAndShapes) {
  const dng_matrix a = make(2, 3, {1, 2, 3, 4, 5, 6});
  const dng_matrix b = make(3, 2, {7, 8, 9, 10, 11, 12});
  EXPECT_EQ(matrix_product(a, b), make(2, 2, {58, 64, 139, 154}));
  EXPECT_EQ(matrix_transposed(a), make(3, 2, {1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(matrix_sum(a, a), scalar_matrix_product(2.0, a));
  EXPECT_TRUE(matrix_transposed(dng_matrix()).IsEmpty());

  dng_vector_3 v(1, -2, 3);
  EXPECT_EQ(matrix_vector_product(make(2, 3, {1, 1, 1, 0, 2, 0}), v)[1], -4.0);
  EXPECT_EQ(v.LargestEntry(), 3.0);
  EXPECT_EQ(v.SmallestEntry(), -2.0);
  EXPECT_EQ(dng_vector().LargestEntry(), 0.0);
  EXPECT_EQ(dng_vector().SmallestEntry(), 0.0);
  EXPECT_EQ(v.ToDiagonalMatrix(), make(3, 3, {1, 0, 0, 0, -2, 0, 0, 0, 3}));
  EXPECT_EQ(v.ToColumnMatrix(), make(3, 1, {1, -2, 3}));

  EXPECT_TRUE(dng_matrix_3by3().HasEntries());
  dng_matrix emptied = a;
  emptied.MakeEmpty();
  EXPECT_FALSE(emptied.HasEntries());
  EXPECT_FALSE(dng_matrix().HasEntries());
}

TEST(DngMatrix, QuantizeRoundsHalfAwayFromZeroAndSaturates) {
  dng_matrix m = make(1, 4, {0.12345, -0.12345, 0.00005, 1e9});
  m.Quantize(10000);
  EXPECT_DOUBLE_EQ(m[0][0], 0.1235);
  EXPECT_DOUBLE_EQ(m[0][1], -0.1235);
  EXPECT_DOUBLE_EQ(m[0][2], 0.0001);
  // Beyond int32 the entry saturates instead of being undefined.
  EXPECT_DOUBLE_EQ(m[0][3], 2147483647.0 / 10000);

  dng_vector_3 v(0.5, -1e12, std::numeric_limits<double>::quiet_NaN());
  v.Quantize(10);
  EXPECT_EQ(v[0], 0.5);
  EXPECT_DOUBLE_EQ(v[1], -2147483648.0 / 10);
  EXPECT_EQ(v[2], 0.0);
}

}  // namespace
