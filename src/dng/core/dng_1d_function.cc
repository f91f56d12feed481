#include "dng/core/dng_1d_function.h"

double dng_1d_function::InverseAt(double y) const { return SecantInverse(y); }

double dng_1d_function::SecantInverse(double y) const {
  double x0 = 0.0;
  double f0 = ValueAt(x0);
  double x1 = 1.0;
  double f1 = ValueAt(x1);
  for (int round = 0; round < 30; ++round) {
    const double df = f1 - f0;
    if ((df < 0.0 ? -df : df) < 1e-10) return x1;
    double x2 = x1 + (x1 - x0) * (y - f1) / df;
    if (x2 >= 1.0) {
      x2 = 1.0;
    } else if (!(x2 >= 0.0)) {  // below 0, or NaN
      x2 = 0.0;
    }
    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = ValueAt(x2);
  }
  return x1;
}
