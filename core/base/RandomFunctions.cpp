#include "base/RandomFunctions.h"

namespace stravex {

tRandomGenerator::tRandomGenerator() {
  // The start-up state: seeded (10, 10), then (20, 3), as every run of the
  // program has it before its first draw.
  Seed(10, 10);
  Seed(20, 3);
}

void tRandomGenerator::Seed(int32_t a, int32_t b) {
  fSeedA = a;
  fSeedB = b;
  // a * 10000 + b with 32-bit wrap-around, as the stored streams were produced.
  InitState(static_cast<uint32_t>(a) * 10000u + static_cast<uint32_t>(b));
}

void tRandomGenerator::InitState(uint32_t s) {
  if (s == 0) s = 0xFFFFFFFFu; // xorshift would stay at 0
  tRandomState state;
  uint32_t* const slots[5] = {&state.x0, &state.x1, &state.x2, &state.x3, &state.carry};
  for (uint32_t* slot : slots) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    *slot = s;
  }
  SetState(state);
  for (int i = 0; i < 19; ++i) NextRaw();
}

void tRandomGenerator::SetState(uint32_t x0, uint32_t x1, uint32_t x2, uint32_t x3,
                                uint32_t carry) {
  SetState(tRandomState{x0, x1, x2, x3, carry});
}

int32_t tRandomGenerator::Int(int32_t n) {
  const uint64_t x = NextRaw();
  // trunc(x * n / 2^32): truncation toward zero is symmetric, so work on |n|
  // (2^31 for INT32_MIN still fits) and restore the sign.
  const uint64_t magnitude = n < 0 ? 0u - static_cast<uint64_t>(static_cast<int64_t>(n))
                                   : static_cast<uint64_t>(n);
  const int64_t q = static_cast<int64_t>((x * magnitude) >> 32); // < 2^31
  return static_cast<int32_t>(n < 0 ? -q : q);
}

} // namespace stravex
