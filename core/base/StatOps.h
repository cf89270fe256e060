#pragma once
// Small numeric helpers shared by the path statistics and the triangulation.
#include "base/CommonDecl.h"
#include "base/Numeric.h"

#include <cstdint>

namespace stravex {

// Population mean and variance from a count, a sum and a sum of squares.
// The variance uses the stored (rounded) mean. Callers never pass n = 0.
void MeanAndVariance(uint32_t n, double& mean, double& variance, long double sum,
                     long double sumOfSquares);
void MeanAndVariance(uint32_t n, long double& mean, long double& variance, long double sum,
                     long double sumOfSquares);
// Square root of a variance that rounding may have pushed slightly below 0.
double SDFromVariance(double variance);
long double SDFromVariance(long double variance);

int Sign(double x);
double SumOfValues(const tVectorOfDouble& v);

void NewZeroVector(tVectorOfCardinal& v, std::size_t n);
void NewZeroVector(tVectorOfDouble& v, std::size_t n);
void NewZeroVector(tVectorOfExtended& v, std::size_t n);

} // namespace stravex
