#include "Reporter.h"

#include <atomic>

namespace stravex {

namespace {
tReporter gSilent;
std::atomic<tReporter*> gCurrent{&gSilent};
} // namespace

tReporter& CurrentReporter() { return *gCurrent.load(); }

tReporter* SetCurrentReporter(tReporter* r) {
  tReporter* previous = gCurrent.exchange(r ? r : &gSilent);
  return previous == &gSilent ? nullptr : previous;
}

} // namespace stravex
