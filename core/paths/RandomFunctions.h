#pragma once
// Marsaglia's multiply-with-carry generator of order four. Least-cost results
// must be repeatable, so every scan re-seeds it; each thread owns its own
// generator, which starts in the state the program has after start-up
// (SeedRandom(10, 10), then SeedRandom(20, 3)).
#include <cstdint>

namespace stravex {

class tRandomGenerator {
public:
  tRandomGenerator();  // seeded (10, 10), then (20, 3)
  void Seed(int32_t a, int32_t b);
  void InitState(uint32_t s);
  // Sets the four lags and the carry directly (states no seed reaches quickly).
  void SetState(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, uint32_t carry);
  // One generator step; returns the new x0.
  uint32_t NextRaw();
  // NextRandom: x0 * 2^-32 in [0, 1).
  long double Next() { return static_cast<long double>(NextRaw()) * (1.0L / 4294967296.0L); }
  double Uniform() { return static_cast<double>(NextRaw()) * (1.0 / 4294967296.0); }
  // trunc(x0 * n / 2^32), exact.
  int32_t Int(int32_t n);
  int32_t SeedA() const { return fSeedA; }
  int32_t SeedB() const { return fSeedB; }

private:
  uint32_t fX0 = 0, fX1 = 0, fX2 = 0, fX3 = 0, fCarry = 0;
  int32_t fSeedA = 0, fSeedB = 0;
};

// The calling thread's generator.
tRandomGenerator& CurrentRandom();

void SeedRandom(int32_t a, int32_t b);
double RandomUniform();
int32_t RandomInt(int32_t n);

} // namespace stravex
