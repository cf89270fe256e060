#include "paths/CandidateBuild.h"

#include "base/RandomFunctions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace stravex;
using namespace stravex::costpath;

namespace {

// The draws of a generator from its state, by step number as the ring
// counts them (the first four are the state's own lags).
class tDrawLog {
public:
  explicit tDrawLog(const tRandomWords& w) : fWords(w) {
    fDraws = {w.x3, w.x2, w.x1, static_cast<uint32_t>(w.t)};
  }
  uint32_t At(uint32_t step) {
    while (fDraws.size() <= step) fDraws.push_back(StepRandom(fWords));
    return fDraws[step];
  }

private:
  tRandomWords fWords;
  std::vector<uint32_t> fDraws;
};

// Every slot the ring still holds carries the centred draw of its step,
// (2u - 1) * 2^31 of the generator's draw: after top-ups, after the runs of
// steps the subdivision makes itself, and across the wrap of the ring.
void ExpectCentredDrawsOfTheGenerator(const tFactorRing& ring, tDrawLog& log) {
  const uint32_t oldest = ring.produced > kRing - kMaxAhead ? ring.produced - (kRing - kMaxAhead)
                                                            : 4;
  for (uint32_t step = oldest; step < ring.produced; ++step) {
    const uint32_t x = log.At(step);
    const double centred = ring.centred[step & kRingMask];
    ASSERT_EQ(ring.Step(step) & 0xFFFFFFFFu, x) << "step " << step;
    ASSERT_EQ(centred, tFactorRing::Centred(ring.Step(step))) << "step " << step;
    ASSERT_EQ(centred, (2 * UniformOfRaw(x) - 1) * 0x1p31) << "step " << step;
  }
}

} // namespace

TEST(FactorRing, CentredDrawsFollowTheGenerator) {
  struct tCase {
    int32_t seed, ar, ac, br, bc;
  };
  // Short and long candidates (a few nodes to thousands), so that the
  // steps made per node vary and the ring wraps within and between builds.
  const tCase cases[] = {{1, 500, 500, 510, 505},
                         {2, 100, 100, 900, 900},
                         {3, 0, 999, 999, 0},
                         {4, 450, 450, 550, 550},
                         {5, 10, 10, 12, 14}};
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.seed);
    tRandomGenerator random;
    random.Seed(7, c.seed);
    tFactorRing ring(random.Words());
    tDrawLog log(random.Words());
    ExpectCentredDrawsOfTheGenerator(ring, log);
    t2DiPoints cells;
    std::vector<tDrawnNode> drawn;
    std::vector<tPending<int32_t>> pending;
    tBuildState<int32_t> st{999, 999, &ring, &cells, &drawn, &pending};
    for (int i = 0; i < 40; ++i) {
      BuildInner(st, c.ar, c.ac, c.br, c.bc, 0);
      ExpectCentredDrawsOfTheGenerator(ring, log);
      if (HasFatalFailure()) return;
    }
    ring.TopUp();
    ExpectCentredDrawsOfTheGenerator(ring, log);
  }
}
