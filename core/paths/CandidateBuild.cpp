#include "paths/CandidateBuild.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex::costpath {

namespace {

enum class tBuildStop { kDone, kNeedFactors, kNeedRoom };

// Runs the subdivision in st until it is done, or needs the factor ring
// topped up or more buffer room; it then leaves its state in st, and the
// next call resumes it. Everything touched per node is a local and nothing
// is called, so that it all stays in registers.
template <typename tCoord>
[[gnu::noinline]] tBuildStop BuildSome(tBuildState<tCoord>& st) {
  const tCoord maxRow = st.maxRow, maxCol = st.maxCol;
  tFactorRing& ring = *st.ring;
  const uint32_t produced = ring.produced;
  uint32_t used = ring.used;
  t2DiPoint* const outStart = st.cells->data();
  t2DiPoint* out = outStart + st.emitted;
  tDrawnNode* const drawnStart = st.drawn->data();
  tDrawnNode* drawn = drawnStart + st.recorded;
  tPending<tCoord>* const base = st.pending->data();
  tPending<tCoord>* top = base + st.waiting;
  // Every node drawn writes at most kCellsPerNode cells, one record and one
  // pending entry (at top, kept or not): one count guards the three buffers.
  std::size_t room = std::min({(st.cells->size() - st.emitted) / kCellsPerNode,
                               st.drawn->size() - st.recorded, st.pending->size() - st.waiting});
  tCoord aRow = st.aRow, aCol = st.aCol, bRow = st.bRow, bCol = st.bCol;
  int32_t depth = st.depth;
  tBuildStop stop;
  for (;;) {
    // (a, b) is open at this depth: draw its node.
    if (room == 0) [[unlikely]] {
      stop = tBuildStop::kNeedRoom;
      goto leave;
    }
    --room;
    const tCoord mRow = Midpoint(aRow, bRow);
    const tCoord mCol = Midpoint(aCol, bCol);
    const double rowExtent = static_cast<double>(aCol - bCol);
    const double colExtent = static_cast<double>(bRow - aRow);
    [[maybe_unused]] const double reciprocal = static_cast<std::size_t>(depth) < kReciprocals.size()
                                                   ? kReciprocals[static_cast<std::size_t>(depth)]
                                                   : 1 / static_cast<double>(depth);
    [[maybe_unused]] const double mRowMagic = static_cast<double>(mRow) + kRoundingMagic;
    [[maybe_unused]] const double mColMagic = static_cast<double>(mCol) + kRoundingMagic;
    tCoord nRow, nCol;
    do {
      if (static_cast<int32_t>(produced - used) < 2) [[unlikely]] {
        stop = tBuildStop::kNeedFactors;
        goto leave;
      }
      const double f[2] = {ring.Factor(used), ring.Factor(used + 1)};
      if constexpr (std::is_same_v<tCoord, int32_t>) {
        nRow = Displaced(mRow, mRowMagic, f[0] * rowExtent, depth, reciprocal);
        nCol = Displaced(mCol, mColMagic, f[1] * colExtent, depth, reciprocal);
      } else {
        nRow = Displaced(mRow, f[0] * rowExtent, depth);
        nCol = Displaced(mCol, f[1] * colExtent, depth);
      }
      used += 2;
    } while (!Inside(nRow, nCol, maxRow, maxCol));

    const int32_t limit = SettledLimit(depth + 1);
    const tPart left = Classify(aRow, aCol, nRow, nCol, limit);
    const tPart right = Classify(nRow, nCol, bRow, bCol, limit);
    const t2DiPoint cell{static_cast<int32_t>(nRow), static_cast<int32_t>(nCol)};
    *drawn++ = {cell, left.open * kLeftOpen + right.open * kRightOpen};
    *out++ = cell;
    uint32_t leftDraws = 0, rightDraws = 0;
    if constexpr (std::is_same_v<tCoord, int32_t>) {
      out = EmitSettled(out, left.entry, aRow, aCol);
      out = EmitSettled(out, right.entry, nRow, nCol);
      leftDraws = 2 * kSettled.count[left.entry];
      rightDraws = 2 * kSettled.count[right.entry];
    }
    // The left part's draws come next, the right part's after the left
    // part: when that is open, after the part waiting on top.
    const tPending<tCoord> waiting = top[-1];
    top[-1].skip = waiting.skip + (left.open ? rightDraws : 0);
    used += leftDraws + (left.open ? 0 : rightDraws);
    // Next comes the left part if open, else the right part if open, else
    // the part waiting on top (none: done).
    *top = {nRow, nCol, bRow, bCol, depth + 1, 0};
    const bool push = left.open && right.open;
    const bool pop = !left.open && !right.open;
    top += static_cast<std::ptrdiff_t>(push) - static_cast<std::ptrdiff_t>(pop);
    used += pop ? waiting.skip : 0;
    if (top == base) {
      stop = tBuildStop::kDone;
      goto leave;
    }
    const tCoord nextARow = left.open ? aRow : right.open ? nRow : waiting.aRow;
    const tCoord nextACol = left.open ? aCol : right.open ? nCol : waiting.aCol;
    const tCoord nextBRow = left.open ? nRow : right.open ? bRow : waiting.bRow;
    const tCoord nextBCol = left.open ? nCol : right.open ? bCol : waiting.bCol;
    aRow = nextARow;
    aCol = nextACol;
    bRow = nextBRow;
    bCol = nextBCol;
    depth = pop ? waiting.depth : depth + 1;
  }
leave:
  ring.used = used;
  st.emitted = static_cast<std::size_t>(out - outStart);
  st.recorded = static_cast<std::size_t>(drawn - drawnStart);
  st.waiting = static_cast<std::size_t>(top - base);
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = depth;
  return stop;
}

#if defined(__SSE2__)
// The same for integer nodes with the coordinates side by side in vector
// registers: a segment is (aRow, aCol, bRow, bCol), and both coordinates of
// a node are displaced, tested and compared at once. The choice of the next
// part is made with masks, so that the chain from one node to the next holds
// no branch on the random shape of the subdivision.

// Both coordinates exactly, for a displacement near a half cell.
[[gnu::noinline]] __m128i ExactDisplaced(__m128i m, __m128d p, int32_t depth) {
  alignas(16) int32_t mm[4];
  alignas(16) double pp[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(mm), m);
  _mm_store_pd(pp, p);
  auto exact = [&](int k) {
    return RoundToInteger(static_cast<double>(mm[k]) + pp[k] / static_cast<double>(depth));
  };
  return _mm_setr_epi32(exact(0), exact(1), 0, 0);
}

// Writes a settled part starting at the cell in the low half of `start`.
inline t2DiPoint* EmitSettled(t2DiPoint* out, uint32_t entry, __m128i start) {
  const __m128i* const offsets = reinterpret_cast<const __m128i*>(kSettled.offsets[entry].data());
  const __m128i twice = _mm_unpacklo_epi64(start, start);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi32(_mm_load_si128(offsets), twice));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2),
                   _mm_add_epi32(_mm_load_si128(offsets + 1), twice));
  return out + kSettled.count[entry];
}

// What a node at a given depth needs of it: 2^-31 / depth twice (the
// power of two turns the factor's integer back into 2u - 1 and, being exact,
// rounds nothing), and the settled limit of its parts four times.
struct alignas(16) tDepthConstants {
  double reciprocal[2];
  int32_t limit[4];
};
constexpr std::size_t kDepthTableSize = 64;
constexpr std::array<tDepthConstants, kDepthTableSize> kDepthTable = [] {
  std::array<tDepthConstants, kDepthTableSize> t{};
  for (std::size_t i = 1; i < t.size(); ++i) {
    const int32_t d = static_cast<int32_t>(i);
    const int32_t limit = std::clamp(d >> 1, 1, kSettledSpan); // SettledLimit(d + 1)
    t[i] = {{kReciprocals[i] * 0x1p-31, kReciprocals[i] * 0x1p-31}, {limit, limit, limit, limit}};
  }
  return t;
}();

// The top of the stack moves by one entry when both parts are open, back by
// one when neither is, by the open bits of the parts (left 1, right 4).
constexpr std::array<std::ptrdiff_t, 16> kStackStep = [] {
  std::array<std::ptrdiff_t, 16> s{};
  for (std::size_t bits = 0; bits < s.size(); ++bits) {
    const bool left = (bits & kLeftOpen) != 0, right = (bits & kRightOpen) != 0;
    s[bits] = left && right ? 1 : !left && !right ? -1 : 0;
  }
  return s;
}();

template <uint32_t kAhead>
[[gnu::noinline]] tBuildStop BuildSomeIntegral(tBuildState<int32_t>& st) {
  static_assert(kSettledSlots == 4 && sizeof(t2DiPoint) == 8 && sizeof(tPending<int32_t>) == 24);
  tFactorRing& ring = *st.ring;
  uint32_t produced = ring.produced;
  uint32_t used = ring.used;
  uint64_t* const raw = ring.Raw();
  double* const centred = ring.centred.data();
  t2DiPoint* const outStart = st.cells->data();
  t2DiPoint* out = outStart + st.emitted;
  tDrawnNode* const drawnStart = st.drawn->data();
  tDrawnNode* drawn = drawnStart + st.recorded;
  tPending<int32_t>* const base = st.pending->data();
  tPending<int32_t>* top = base + st.waiting;
  std::size_t room = std::min({(st.cells->size() - st.emitted) / kCellsPerNode,
                               st.drawn->size() - st.recorded, st.pending->size() - st.waiting});
  const __m128i one = _mm_set1_epi32(1);
  const __m128i sign = _mm_set1_epi32(INT32_MIN);
  // Unsigned comparison through signed: lanes 2 and 3 never count.
  const __m128i maxBiased = _mm_xor_si128(
      _mm_setr_epi32(st.maxRow, st.maxCol, INT32_MAX ^ INT32_MIN, INT32_MAX ^ INT32_MIN), sign);
  const __m128d magic = _mm_set1_pd(kRoundingMagic);
  const __m128d nearHalf = _mm_set1_pd(0.5 - 0x1p-20);
  const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
  // (row + 4) * 36 + (col + 4) * 4 + (first row & 1) * 2 + (first col & 1),
  // from 16-bit halves of small lanes.
  const __m128i spanOffset = _mm_set1_epi32(kSettledSpan);
  const __m128i diffWeights = _mm_setr_epi32(kSettledWidth * 4, 4, kSettledWidth * 4, 4);
  const __m128i parityWeights = _mm_setr_epi32(2, 1, 2, 1);
  const __m128i noSettled = _mm_set1_epi32(static_cast<int32_t>(kNoSettled));
  __m128i seg = _mm_setr_epi32(st.aRow, st.aCol, st.bRow, st.bCol);
  int32_t depth = st.depth;
  tBuildStop stop;
  for (;;) {
    // seg is open at this depth: draw its node.
    if (room == 0) [[unlikely]] {
      stop = tBuildStop::kNeedRoom;
      goto leave;
    }
    --room;
    if (static_cast<int32_t>(produced - used) <= kMaxLead - static_cast<int32_t>(kAhead))
        [[likely]] {
      // kAhead steps on from `produced`, the generator's state read back
      // from the ring.
      const uint32_t slot = produced & kRingMask;
      uint64_t* const run = raw + slot;
      double* const centredRun = centred + slot;
      tRandomWords w{run[-1], static_cast<uint32_t>(run[-2]), static_cast<uint32_t>(run[-3]),
                     static_cast<uint32_t>(run[-4])};
      for (uint32_t k = 0; k < kAhead; ++k) {
        StepRandom(w);
        run[k] = w.t;
        centredRun[k] = tFactorRing::Centred(w.t);
      }
      if (slot + kAhead > kRing - tFactorRing::kLags) [[unlikely]]
        ring.Settle(slot, slot + kAhead);
      produced += kAhead;
    }
    // m = round((a + b) / 2), halves to even, in lanes 0 and 1.
    const __m128i sum = _mm_add_epi32(seg, _mm_shuffle_epi32(seg, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i half = _mm_srai_epi32(sum, 1);
    const __m128i mid = _mm_add_epi32(half, _mm_and_si128(_mm_and_si128(sum, half), one));
    // The row moves along aCol - bCol, the column along bRow - aRow.
    const __m128d extent =
        _mm_cvtepi32_pd(_mm_sub_epi32(_mm_shuffle_epi32(seg, _MM_SHUFFLE(3, 3, 2, 1)),
                                      _mm_shuffle_epi32(seg, _MM_SHUFFLE(3, 3, 0, 3))));
    const __m128d midMagic = _mm_add_pd(_mm_cvtepi32_pd(mid), magic);
    // extent * 2^-31 / depth, so that the centred draw, which comes last,
    // has one multiplication to go: f * (extent * (1 / depth)), to which
    // this is equal, is as near p / depth as Displaced needs.
    tDepthConstants deep;
    const tDepthConstants* constants;
    if (static_cast<std::size_t>(depth) >= kDepthTableSize) [[unlikely]] {
      const int32_t limit = SettledLimit(depth + 1);
      const double reciprocal = 1 / static_cast<double>(depth) * 0x1p-31;
      deep = {{reciprocal, reciprocal}, {limit, limit, limit, limit}};
      constants = &deep;
    } else {
      constants = &kDepthTable[static_cast<std::size_t>(depth)];
    }
    const __m128d scale = _mm_mul_pd(extent, _mm_load_pd(constants->reciprocal));
    __m128i node;
    do {
      if (static_cast<int32_t>(produced - used) < 2) [[unlikely]] {
        stop = tBuildStop::kNeedFactors;
        goto leave;
      }
      // used is even and the ring's size too, so the pair does not wrap.
      // The centred draw is the factor times a power of two that the
      // depth's constant divides out, so that p is the same product.
      const __m128d factor = _mm_load_pd(&centred[used & kRingMask]);
      const __m128d t = _mm_mul_pd(factor, scale);
      const __m128d y = _mm_add_pd(midMagic, t);
      const __m128d error = _mm_and_pd(_mm_sub_pd(t, _mm_sub_pd(y, midMagic)), absMask);
      node = _mm_shuffle_epi32(_mm_castpd_si128(y), _MM_SHUFFLE(3, 3, 2, 0));
      if (_mm_movemask_pd(_mm_cmplt_pd(error, nearHalf)) != 3) [[unlikely]]
        node = ExactDisplaced(mid, _mm_mul_pd(_mm_mul_pd(factor, extent), _mm_set1_pd(0x1p-31)),
                              depth);
      used += 2;
    } while (_mm_movemask_ps(
                 _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_xor_si128(node, sign), maxBiased))) != 0);

    // The parts (a, n) and (n, b) at depth + 1, side by side: open when a
    // difference exceeds the limit, else settled.
    const __m128i an = _mm_unpacklo_epi64(seg, node);                          // a, n
    const __m128i nb = _mm_unpacklo_epi64(node, _mm_unpackhi_epi64(seg, seg)); // n, b
    const __m128i diff = _mm_sub_epi32(nb, an);
    const __m128i diffSign = _mm_srai_epi32(diff, 31);
    const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(diff, diffSign), diffSign);
    const __m128i over = _mm_cmpgt_epi32(
        magnitude, _mm_load_si128(reinterpret_cast<const __m128i*>(constants->limit)));
    const __m128i open = _mm_or_si128(over, _mm_shuffle_epi32(over, _MM_SHUFFLE(2, 3, 0, 1)));
    // Left 0b0011, right 0b1100: kLeftOpen and kRightOpen among them.
    const uint32_t openBits = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(open)));
    const bool leftOpen = (openBits & kLeftOpen) != 0;
    const __m128i weighted =
        _mm_add_epi32(_mm_madd_epi16(_mm_add_epi32(diff, spanOffset), diffWeights),
                      _mm_madd_epi16(_mm_and_si128(an, one), parityWeights));
    const __m128i entries =
        Select(open, noSettled,
               _mm_add_epi32(weighted, _mm_shuffle_epi32(weighted, _MM_SHUFFLE(2, 3, 0, 1))));
    const uint32_t leftEntry = static_cast<uint32_t>(_mm_cvtsi128_si32(entries));
    const uint32_t rightEntry = static_cast<uint32_t>(_mm_extract_epi16(entries, 4));

    _mm_storel_epi64(reinterpret_cast<__m128i*>(&drawn->cell), node);
    drawn->open = openBits;
    ++drawn;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), node);
    out = EmitSettled(out + 1, leftEntry, seg);
    out = EmitSettled(out, rightEntry, node);

    // The left part's draws come next, the right part's after the left
    // part: when that is open, after the part waiting on top.
    const uint32_t leftDraws = 2 * kSettled.count[leftEntry];
    const uint32_t rightDraws = 2 * kSettled.count[rightEntry];
    const __m128i waitingSeg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top - 1));
    const int32_t waitingDepth = top[-1].depth;
    const uint32_t waitingSkip = top[-1].skip;
    const uint32_t leftMask = 0u - static_cast<uint32_t>(leftOpen);
    top[-1].skip = waitingSkip + (rightDraws & leftMask);
    used += leftDraws + (rightDraws & ~leftMask);
    // Next comes the left part if open, else the right part if open, else
    // the part waiting on top (none: done).
    _mm_storeu_si128(reinterpret_cast<__m128i*>(top), nb);
    top->depth = depth + 1;
    top->skip = 0;
    const bool pop = (openBits & (kLeftOpen | kRightOpen)) == 0;
    top += kStackStep[openBits];
    used += pop ? waitingSkip : 0;
    if (top == base) {
      stop = tBuildStop::kDone;
      goto leave;
    }
    seg = Select(_mm_shuffle_epi32(open, _MM_SHUFFLE(0, 0, 0, 0)), an,
                 Select(_mm_shuffle_epi32(open, _MM_SHUFFLE(2, 2, 2, 2)), nb, waitingSeg));
    depth = pop ? waitingDepth : depth + 1;
  }
leave:
  ring.produced = produced;
  ring.used = used;
  st.emitted = static_cast<std::size_t>(out - outStart);
  st.recorded = static_cast<std::size_t>(drawn - drawnStart);
  st.waiting = static_cast<std::size_t>(top - base);
  alignas(16) int32_t s[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(s), seg);
  st.aRow = s[0];
  st.aCol = s[1];
  st.bRow = s[2];
  st.bCol = s[3];
  st.depth = depth;
  return stop;
}

// Runs BuildSomeIntegral with st.ahead generator steps per node (3 to 7).
tBuildStop BuildSome(tBuildState<int32_t>& st) {
  switch (st.ahead) {
  case 0:
  case 1:
  case 2:
  case 3: return BuildSomeIntegral<3>(st);
  case 4: return BuildSomeIntegral<4>(st);
  case 5: return BuildSomeIntegral<5>(st);
  case 6: return BuildSomeIntegral<6>(st);
  default: return BuildSomeIntegral<7>(st);
  }
}
#endif

// Grows whichever buffer is full (BuildSome may stop a little early, as it
// counts the room once per run).
template <typename tCoord>
void GrowBuffers(tBuildState<tCoord>& st) {
  Reserve(*st.cells, st.emitted + kCellsPerNode);
  Reserve(*st.drawn, st.recorded + 1);
  Reserve(*st.pending, st.waiting + 1);
}

} // namespace

template <typename tCoord>
std::size_t BuildInner(tBuildState<tCoord>& st, tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol,
                       int32_t baseDepth) {
  st.emitted = 0;
  st.recorded = 0;
  const tPart whole = Classify(aRow, aCol, bRow, bCol, SettledLimit(baseDepth + 1));
  if (!whole.open) {
    if constexpr (std::is_same_v<tCoord, int32_t>) {
      Reserve(*st.cells, kSettledSlots);
      st.emitted = static_cast<std::size_t>(EmitSettled(st.cells->data(), whole.entry, aRow, aCol) -
                                            st.cells->data());
      st.ring->used += 2 * kSettled.count[whole.entry];
    }
    return st.emitted;
  }
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = baseDepth + 1;
  Reserve(*st.pending, 1);
  (*st.pending)[0] = {};
  st.waiting = 1;
  if (st.ring->Lead() < 2) st.ring->TopUp();
  const uint32_t usedBefore = st.ring->used;
  for (;;) {
    switch (BuildSome(st)) {
    case tBuildStop::kDone:
      st.drawsTaken += st.ring->used - usedBefore;
      st.nodesDrawn += st.recorded;
      st.ahead = static_cast<uint32_t>(
          std::clamp(st.drawsTaken / st.nodesDrawn, uint64_t{2}, uint64_t{kMaxAhead}));
      return st.emitted;
    case tBuildStop::kNeedFactors: st.ring->TopUp(); break;
    case tBuildStop::kNeedRoom: GrowBuffers(st); break;
    }
  }
}

template <typename tCoord>
void Linearize(const tDrawnNode* drawn, std::size_t count, tCoord aRow, tCoord aCol, tCoord bRow,
               tCoord bCol, tFrame<tCoord>* stack, t2DiPoint* out) {
  constexpr bool kLookUp = std::is_same_v<tCoord, int32_t>;
  auto settled = [&](int32_t row1, int32_t col1, int32_t row2, int32_t col2) {
    out = EmitSettled(out, SettledIndex(row2 - row1, col2 - col1, row1, col1), row1, col1);
  };
  if (count == 0) { // the whole is settled, or needs no node
    if constexpr (kLookUp) settled(aRow, aCol, bRow, bCol);
    return;
  }
  tFrame<tCoord>* const bottom = stack;
  for (;;) {
    // (a, b) is open: its node is the next one drawn.
    const tDrawnNode d = *drawn++;
    if (d.open & kLeftOpen) {
      *stack++ = {d.cell, d.open, bRow, bCol};
      bRow = d.cell.row;
      bCol = d.cell.col;
      continue;
    }
    if constexpr (kLookUp) settled(aRow, aCol, d.cell.row, d.cell.col);
    // The node, then its right part; a settled right part ends the left
    // part of the node below on the stack.
    tFrame<tCoord> f{d.cell, d.open, bRow, bCol};
    for (;;) {
      *out++ = f.cell;
      if (f.open & kRightOpen) break;
      if constexpr (kLookUp) settled(f.cell.row, f.cell.col, f.bRow, f.bCol);
      if (stack == bottom) return;
      f = *--stack;
    }
    aRow = f.cell.row;
    aCol = f.cell.col;
    bRow = f.bRow;
    bCol = f.bCol;
  }
}

template std::size_t BuildInner(tBuildState<int32_t>&, int32_t, int32_t, int32_t, int32_t, int32_t);
template std::size_t BuildInner(tBuildState<double>&, double, double, double, double, int32_t);
template void Linearize(const tDrawnNode*, std::size_t, int32_t, int32_t, int32_t, int32_t,
                        tFrame<int32_t>*, t2DiPoint*);
template void Linearize(const tDrawnNode*, std::size_t, double, double, double, double,
                        tFrame<double>*, t2DiPoint*);

} // namespace stravex::costpath
