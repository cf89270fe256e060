#include "base/StatOps.h"

#include <cmath>

namespace stravex {

void MeanAndVariance(uint32_t n, double& mean, double& variance, long double sum,
                     long double sumOfSquares) {
  // The variance squares the mean as stored, i.e. already rounded to 64 bits.
  mean = static_cast<double>(sum / n);
  const long double m = mean;
  variance = static_cast<double>(sumOfSquares / n - m * m);
}

void MeanAndVariance(uint32_t n, long double& mean, long double& variance, long double sum,
                     long double sumOfSquares) {
  mean = sum / n;
  variance = sumOfSquares / n - mean * mean;
}

// Mean of squares minus squared mean can come out a hair below zero for
// constant values; that is a zero spread, not a NaN.
double SDFromVariance(double variance) { return variance < 0 ? 0.0 : std::sqrt(variance); }

long double SDFromVariance(long double variance) {
  return variance < 0 ? 0.0L : std::sqrt(variance);
}

int Sign(double x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  return 0;
}

double SumOfValues(const tVectorOfDouble& v) {
  // Accumulated in 80 bits so long vectors lose less to rounding.
  long double s = 0;
  for (double x : v) s += x;
  return static_cast<double>(s);
}

void NewZeroVector(tVectorOfCardinal& v, std::size_t n) { v.assign(n, 0u); }
void NewZeroVector(tVectorOfDouble& v, std::size_t n) { v.assign(n, 0.0); }
void NewZeroVector(tVectorOfExtended& v, std::size_t n) { v.assign(n, 0.0L); }

} // namespace stravex
