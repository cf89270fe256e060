#include "base/Reporter.h"

namespace stravex {

tReporter& SilentReporter() {
  static tReporter silent;
  return silent;
}

} // namespace stravex
