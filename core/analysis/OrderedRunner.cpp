#include "analysis/OrderedRunner.h"

namespace stravex {

unsigned EffectiveThreads(int requested) {
  if (requested > 0) return static_cast<unsigned>(requested);
  const unsigned hw = std::thread::hardware_concurrency();
  return hw == 0 ? 1 : hw;
}

} // namespace stravex
