#pragma once
// Marsaglia's multiply-with-carry generator of order four. Least-cost results
// must be repeatable, so every scan re-seeds the generator it is given; a
// new generator starts in the state the program has after start-up (seeded
// (10, 10), then (20, 3)). There is no shared generator: whoever draws is
// handed one.
#include <cstdint>

namespace stravex {

// The four lags (x0 the newest output) and the carry of the last step: the
// state as the run log prints it and as callers set and compare it.
struct tRandomState {
  uint32_t x0 = 0, x1 = 0, x2 = 0, x3 = 0, carry = 0;
  bool operator==(const tRandomState&) const = default;
};

// The same state as the generator steps it: t, the 64-bit sum of the last
// step, holds x0 in its low half and the carry in its high half, so that a
// step takes the next sum straight from it. Splitting the sum into x0 and
// the carry and adding them back separately would put two more operations
// on the chain of dependent steps, which is all a run of draws waits on.
struct tRandomWords {
  uint64_t t = 0;
  uint32_t x1 = 0, x2 = 0, x3 = 0;
  bool operator==(const tRandomWords&) const = default;
};

constexpr tRandomWords WordsOf(const tRandomState& s) {
  return {(uint64_t{s.carry} << 32) | s.x0, s.x1, s.x2, s.x3};
}
constexpr tRandomState StateOf(const tRandomWords& w) {
  return {static_cast<uint32_t>(w.t), w.x1, w.x2, w.x3, static_cast<uint32_t>(w.t >> 32)};
}

// One generator step; returns the new x0. Inline so that a caller drawing in
// a loop can keep the state in registers (a copy, written back afterwards).
inline uint32_t StepRandom(tRandomWords& w) {
  // At most about 2^31 * 2^32 + 2^32: fits in 64 bits. The older lags and the
  // carry are summed first, off the chain, which then holds one
  // multiplication and one addition per step.
  uint64_t older = 2111111111u * uint64_t{w.x3} + 1492u * uint64_t{w.x2} + 1776u * uint64_t{w.x1} +
                   (w.t >> 32);
  uint64_t newest = 5115u;
#if defined(__GNUC__)
  // Keeps the compiler from re-associating the sum, which would put the
  // older terms after the newest, and from replacing the one multiplication
  // by 5115 with three shifts and additions (as fast on the chain, but three
  // times the work beside it where the steps share the core with other work).
  __asm__("" : "+r"(older), "+r"(newest));
#endif
  const uint32_t x0 = static_cast<uint32_t>(w.t);
  w.x3 = w.x2;
  w.x2 = w.x1;
  w.x1 = x0;
  w.t = older + newest * uint64_t{x0};
  return static_cast<uint32_t>(w.t);
}

// The same step on the public view of the state (for the occasional draw).
inline uint32_t StepRandom(tRandomState& s) {
  tRandomWords w = WordsOf(s);
  const uint32_t x0 = StepRandom(w);
  s = StateOf(w);
  return x0;
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
  void SetState(const tRandomState& s) { fWords = WordsOf(s); }
  void SetWords(const tRandomWords& w) { fWords = w; }
  tRandomState State() const { return StateOf(fWords); }
  const tRandomWords& Words() const { return fWords; }
  // One generator step; returns the new x0.
  uint32_t NextRaw() { return StepRandom(fWords); }
  // NextRandom: x0 * 2^-32 in [0, 1).
  long double Next() { return static_cast<long double>(NextRaw()) * (1.0L / 4294967296.0L); }
  double Uniform() { return UniformOfRaw(NextRaw()); }
  // trunc(x0 * n / 2^32), exact.
  int32_t Int(int32_t n);
  int32_t SeedA() const { return fSeedA; }
  int32_t SeedB() const { return fSeedB; }

private:
  tRandomWords fWords;
  int32_t fSeedA = 0, fSeedB = 0;
};

} // namespace stravex
