// A real function on [0, 1]: the abstract base of the exposure, tone and
// gamma functions that rendering samples into 1-D tables.
#pragma once

class dng_1d_function {
 public:
  dng_1d_function() = default;
  virtual ~dng_1d_function() = default;
  dng_1d_function(const dng_1d_function&) = delete;
  dng_1d_function& operator=(const dng_1d_function&) = delete;

  // True only when ValueAt(x) is x everywhere.
  virtual bool IsIdentityMap() const { return false; }

  virtual double ValueAt(double x) const = 0;

  // The x in [0, 1] whose value is y, by a secant search from the two ends:
  // at most 30 rounds, each step limited to [0, 1] (NaN to 0), ending early
  // when the last two values differ by less than 1e-10. Meaningful for
  // monotone functions; always returns a value in [0, 1].
  virtual double InverseAt(double y) const;

  // The secant search itself, for derived classes that use it for part of
  // their range.
  double SecantInverse(double y) const;
};
