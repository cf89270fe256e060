#pragma once
// Marsaglia's multiply-with-carry generator of order four. Least-cost results
// must be repeatable, so every scan re-seeds the generator it is given; a
// new generator starts in the state the program has after start-up (seeded
// (10, 10), then (20, 3)). There is no shared generator: whoever draws is
// handed one.
#include <cstdint>

namespace stravex {

// The four lags (x0 the newest output) and the carry of the last step.
struct tRandomState {
  uint32_t x0 = 0, x1 = 0, x2 = 0, x3 = 0, carry = 0;
  bool operator==(const tRandomState&) const = default;
};

// One generator step; returns the new x0. Inline so that a caller drawing in
// a loop can keep the state in registers (a copy, written back afterwards).
inline uint32_t StepRandom(tRandomState& s) {
  // At most about 2^31 * 2^32 + 2^32: fits in 64 bits.
  const uint64_t t = 2111111111u * uint64_t{s.x3} + 1492u * uint64_t{s.x2} +
                     1776u * uint64_t{s.x1} + 5115u * uint64_t{s.x0} + s.carry;
  s.x3 = s.x2;
  s.x2 = s.x1;
  s.x1 = s.x0;
  s.x0 = static_cast<uint32_t>(t);
  s.carry = static_cast<uint32_t>(t >> 32);
  return s.x0;
}

// x * 2^-32 in [0, 1), exact in a double.
inline double UniformOfRaw(uint32_t x) { return static_cast<double>(x) * (1.0 / 4294967296.0); }

class tRandomGenerator {
public:
  tRandomGenerator(); // seeded (10, 10), then (20, 3)
  void Seed(int32_t a, int32_t b);
  void InitState(uint32_t s);
  // Sets the four lags and the carry directly (states no seed reaches quickly).
  void SetState(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3, uint32_t carry);
  void SetState(const tRandomState& s) { fState = s; }
  const tRandomState& State() const { return fState; }
  // One generator step; returns the new x0.
  uint32_t NextRaw() { return StepRandom(fState); }
  // NextRandom: x0 * 2^-32 in [0, 1).
  long double Next() { return static_cast<long double>(NextRaw()) * (1.0L / 4294967296.0L); }
  double Uniform() { return UniformOfRaw(NextRaw()); }
  // trunc(x0 * n / 2^32), exact.
  int32_t Int(int32_t n);
  int32_t SeedA() const { return fSeedA; }
  int32_t SeedB() const { return fSeedB; }

private:
  tRandomState fState;
  int32_t fSeedA = 0, fSeedB = 0;
};

} // namespace stravex
