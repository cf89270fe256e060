#include "paths/ExactPath.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "paths/CostPathDecl.h"
#include "raster/Raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace stravex {

namespace {

std::string Number(double v) { return FormatGeneral(v); }

void CheckWeight(const char* name, double w) {
  if (w < 0)
    throw EInvalidOperation(std::string("Exact least-cost path: the ") + name +
                            " must not be negative (" + Number(w) + ").");
  // 0 x infinity would make a NaN cost.
  if (!std::isfinite(w))
    throw EInvalidOperation(std::string("Exact least-cost path: the ") + name +
                            " must be a finite number (" + Number(w) + ").");
}

// Neighbour offsets; a cell's predecessor is stored as the index of the
// offset leading back to it, plus one.
constexpr std::array<int32_t, 8> kDRow = {-1, -1, -1, 0, 0, 1, 1, 1};
constexpr std::array<int32_t, 8> kDCol = {-1, 0, 1, -1, 1, -1, 0, 1};

// Cells are indexed by 32-bit integers.
constexpr std::size_t kMaxCells = UINT32_MAX;

const tMatrixOfSingle& FrictionOf(const tPathRules& rules) {
  if (!rules.Friction) throw EInvalidOperation("Least-cost paths need a friction map");
  return *rules.Friction;
}

} // namespace

tExactLandscape::tExactLandscape(const tPathRules& rules, std::optional<float> frictionFlag,
                                 const std::string& frictionName)
    : fFriction(FrictionOf(rules)), fFlag(frictionFlag), fTolerance(rules.Tolerance),
      fLengthWeight(rules.LengthWeight), fFrictionWeight(rules.FrictionWeight) {
  const tMatrixOfSingle& friction = fFriction;
  const double frictionWeight = rules.FrictionWeight, lengthWeight = rules.LengthWeight;
  const tLiveRaster* topography = rules.Topography;
  CheckWeight("friction weight", frictionWeight);
  CheckWeight("length weight", lengthWeight);
  const std::size_t rows = friction.size();
  const std::size_t cols = rows > 0 ? friction[0].size() : 0;
  for (const auto& r : friction)
    if (r.size() != cols)
      throw EAssertionFailed("Error in Least-Cost Path: friction matrix is not rectangular");
  if (rows * cols >= kMaxCells || rows > INT32_MAX || cols > INT32_MAX)
    throw EOutOfResources("The friction map is too large for the exact least-cost path.");
  fRows = static_cast<int32_t>(rows);
  fCols = static_cast<int32_t>(cols);
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < cols; ++c) {
      const float f = friction[r][c];
      if (fFlag && f == *fFlag) continue;
      if (f < 0)
        throw EInvalidOperation("Exact least-cost path: the friction map " + frictionName +
                                " holds a negative value (" + Number(f) + " at row " +
                                std::to_string(r) + ", column " + std::to_string(c) + ").");
      if (!std::isfinite(f)) continue;
      const double w = frictionWeight * static_cast<double>(f) + lengthWeight;
      fMaxStep = std::max(fMaxStep, w);
      if (w > 0 && (fMinStep == 0 || w < fMinStep)) fMinStep = w;
    }
  if (topography && rules.Direction != tSlopeDirection::Both) {
    d = SlopeSign(rules.Direction);
    fZ.resize(rows * cols);
    fZMissing.resize(rows * cols);
    for (int32_t r = 0; r < fRows; ++r)
      for (int32_t c = 0; c < fCols; ++c) {
        const std::size_t i = static_cast<std::size_t>(r) * cols + static_cast<std::size_t>(c);
        fZ[i] = static_cast<float>(topography->GetCell(r, c));
        fZMissing[i] = topography->IsFlagged(r, c) ? 1 : 0;
      }
  }
}

bool tExactLandscape::Passable(int32_t row, int32_t col) const {
  const float f = fFriction[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
  return std::isfinite(f) && !(fFlag && f == *fFlag);
}

double tExactLandscape::Weight(int32_t row, int32_t col) const {
  const float f = fFriction[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
  return fFrictionWeight * static_cast<double>(f) + fLengthWeight;
}

void CheckExactCriterion(tMinimiseCriterion criterion) {
  if (criterion == tMinimiseCriterion::FrictionSum) return;
  const auto index = static_cast<int32_t>(criterion);
  const bool known = index >= 0 && index < static_cast<int32_t>(MinimiseCriteria.size());
  const std::string name = known ? CriterionText(criterion) : std::to_string(index);
  throw EInvalidOperation("Exact least-cost path: the criterion \"" + name +
                          "\" cannot be minimised by a graph search; use \"Friction sum\".");
}

// One search: Dijkstra's algorithm that settles cells in order of the key
// (cost, cell index), so that the order of settling, hence the paths, never
// depends on anything but the landscape and the ends. A step's cost is the
// cost of the cell it enters, the same from every neighbour, and neighbours
// are settled in increasing cost: the first one to reach a cell gives it its
// final cost (also in rounded arithmetic, which is monotone). So a cell
// enters the queue once and never moves up in it.
//
// The queue: waiting cells are put in buckets of cost width Delta, at most
// the smallest step cost, kept in a ring that spans the largest step cost.
// The lowest bucket is sorted and taken out in order; a cell that enters at
// or below the bucket being taken out (a step cheaper than Delta) waits in a
// 4-ary heap that is merged with it. Keys in a lower bucket are smaller, so
// the order is exactly that of one heap, at a fraction of the comparisons.
// When the costs span too many buckets, everything goes through the heap.
class tExactSearch {
public:
  explicit tExactSearch(const tExactLandscape& l)
      : L(l), fRows(l.fRows), fCols(l.fCols),
        fCells(static_cast<std::size_t>(l.fRows) * static_cast<std::size_t>(l.fCols)),
        fState(fCells, 0), fBudget(std::max<std::size_t>(fCells + fCells / 4, kMinBudget)) {
    fRowPtr.reserve(static_cast<std::size_t>(fRows));
    for (const auto& r : l.fFriction) fRowPtr.push_back(r.data());
    // Every cost of a search is at most the cells' number times the
    // largest step; bucket numbers must stay exact integers.
    const double steps = static_cast<double>(fCells) + 1;
    if (l.fMinStep > 0 && std::isfinite(l.fMaxStep) &&
        l.fMaxStep * steps < std::ldexp(l.fMinStep, 52)) {
      // Fewer buckets on small maps, so that empty ones cost little.
      const double ring = std::clamp(steps / 16, 64.0, kMaxRing);
      const double delta = std::max(l.fMinStep / kSplit, l.fMaxStep / ring);
      fInvDelta = 1 / delta;
      // Spare buckets for rounding in the ring's span; a power of two, so
      // that a bucket's place is a mask.
      fRing.resize(std::bit_ceil(static_cast<std::size_t>(l.fMaxStep * fInvDelta) + 4));
    } else {
      fRing.resize(1); // unused: every key goes to the heap
    }
  }

  // Settles cells from source until every wanted cell is settled or nothing
  // is left to settle. wanted is sorted.
  void Run(uint32_t source, const std::vector<uint32_t>& wanted) {
    std::size_t remaining = wanted.size();
    for (uint32_t t : wanted) fState[t] = kWanted;
    fState[source] |= kReached;
    Push(KeyOf(L.Weight(Row(source), Col(source))), source);
    const int d = L.d;
    const double allowance = d * L.fTolerance;
    const double fw = L.fFrictionWeight, lw = L.fLengthWeight;
    const bool flagged = L.fFlag.has_value();
    const float flag = flagged ? *L.fFlag : 0.0f;
    tEntry top;
    while (remaining > 0 && PopMin(top)) {
      const uint32_t p = top.Cell;
      const double cp = std::bit_cast<double>(top.Key);
      fState[p] |= kSettled;
      if ((fState[p] & kWanted) != 0 && --remaining == 0) break;
      if (d != 0 && L.fZMissing[p]) continue; // reached, but not passed
      const int32_t pr = Row(p), pc = Col(p);
      const bool inner = pr > 0 && pc > 0 && pr + 1 < fRows && pc + 1 < fCols;
      for (uint32_t k = 0; k < 8; ++k) {
        const int32_t qr = pr + kDRow[k], qc = pc + kDCol[k];
        if (!inner && (static_cast<uint32_t>(qr) >= static_cast<uint32_t>(fRows) ||
                       static_cast<uint32_t>(qc) >= static_cast<uint32_t>(fCols)))
          continue;
        const uint32_t q =
            static_cast<uint32_t>(static_cast<int64_t>(p) + int64_t{kDRow[k]} * fCols + kDCol[k]);
        if ((fState[q] & kReached) != 0) continue; // already at its final cost
        const float f = fRowPtr[static_cast<std::size_t>(qr)][qc];
        if (!std::isfinite(f) || (flagged && f == flag)) continue;
        if (d != 0) {
          const double dz = static_cast<double>(L.fZ[q]) - static_cast<double>(L.fZ[p]);
          if ((dz + allowance) * d < 0) continue;
        }
        // Offset k leads from p to q; 7 - k leads back.
        fState[q] = static_cast<uint8_t>(fState[q] | kReached | (8 - k));
        Push(KeyOf(cp + (fw * static_cast<double>(f) + lw)), q);
      }
    }
  }

  bool Reached(uint32_t cell) const { return (fState[cell] & kSettled) != 0; }

  uint64_t SettledCount() const {
    return static_cast<uint64_t>(
        std::count_if(fState.begin(), fState.end(), [](uint8_t s) { return (s & kSettled) != 0; }));
  }

  // The chain from the source to cell, by the predecessors.
  t2DiPoints PathTo(uint32_t cell) const {
    t2DiPoints path;
    for (uint32_t c = cell;;) {
      path.push_back({Row(c), Col(c)});
      const uint32_t code = fState[c] & kPredMask;
      if (code == 0) break;
      const uint32_t k = code - 1;
      c = static_cast<uint32_t>(static_cast<int64_t>(c) + int64_t{kDRow[k]} * fCols + kDCol[k]);
    }
    std::reverse(path.begin(), path.end());
    return path;
  }

private:
  // State bits: the predecessor code (0 for none) and three marks.
  static constexpr uint8_t kPredMask = 0x0F;
  static constexpr uint8_t kReached = 0x10;
  static constexpr uint8_t kSettled = 0x20;
  static constexpr uint8_t kWanted = 0x40;
  static constexpr std::size_t kArity = 4;
  static constexpr double kMaxRing = 4096;      // buckets at most, about
  static constexpr double kSplit = 8;           // buckets per smallest step
  static constexpr std::size_t kMinBudget = 64; // entries, on tiny maps

  // A waiting cell and its cost (as bits), 12 bytes.
  struct __attribute__((packed)) tEntry {
    uint64_t Key;
    uint32_t Cell;
  };
  static_assert(sizeof(tEntry) == 12);
  static tEntry Entry(uint64_t key, uint32_t cell) { return {key, cell}; }
  static bool Before(const tEntry& a, const tEntry& b) {
    return a.Key < b.Key || (a.Key == b.Key && a.Cell < b.Cell);
  }

  int32_t Row(uint32_t i) const { return static_cast<int32_t>(i / static_cast<uint32_t>(fCols)); }
  int32_t Col(uint32_t i) const { return static_cast<int32_t>(i % static_cast<uint32_t>(fCols)); }

  // Costs are never negative nor NaN, so their bit patterns order as they
  // do; adding +0 turns a -0 into +0.
  static uint64_t KeyOf(double cost) { return std::bit_cast<uint64_t>(cost + 0.0); }

  // Monotone in the cost; 0 for every key without a ring.
  uint64_t BucketOf(uint64_t key) const {
    return static_cast<uint64_t>(std::bit_cast<double>(key) * fInvDelta);
  }

  void Push(uint64_t key, uint32_t cell) {
    const uint64_t b = BucketOf(key);
    if (b <= fCurrent) {
      HeapPush(Entry(key, cell));
    } else {
      std::vector<tEntry>& v = fRing[b & (fRing.size() - 1)];
      if (v.size() == v.capacity()) Reserve(v);
      v.push_back(Entry(key, cell));
      ++fInRing;
    }
  }

  bool PopMin(tEntry& out) {
    for (;;) {
      if (fRunPos < fRunEnd && (fHeap.empty() || Before(fRun[fRunPos], fHeap[0]))) {
        out = fRun[fRunPos++];
        return true;
      }
      if (!fHeap.empty()) {
        out = fHeap[0];
        HeapPop();
        return true;
      }
      if (fInRing == 0) return false;
      NextRun();
    }
  }

  // The next bucket that holds cells becomes the run, sorted.
  [[gnu::noinline]] void NextRun() {
    fRing[fCurrent & (fRing.size() - 1)].clear();
    std::vector<tEntry>* next;
    do next = &fRing[++fCurrent & (fRing.size() - 1)];
    while (next->empty());
    // With costs in whole numbers a bucket mostly holds one cost.
    const uint64_t key = next->front().Key;
    if (std::all_of(next->begin(), next->end(), [key](const tEntry& e) { return e.Key == key; }))
      std::sort(next->begin(), next->end(),
                [](const tEntry& a, const tEntry& b) { return a.Cell < b.Cell; });
    else
      std::sort(next->begin(), next->end(),
                [](const tEntry& a, const tEntry& b) { return Before(a, b); });
    fInRing -= next->size();
    fRun = next->data();
    fRunPos = 0;
    fRunEnd = next->size();
  }

  // Room for one more entry in v, all vectors together never holding more
  // than fBudget entries: when doubling would pass it, the others give back
  // what they do not use (there are never more waiting cells than cells).
  [[gnu::noinline]] void Reserve(std::vector<tEntry>& v) {
    std::size_t want = std::max<std::size_t>(2 * v.capacity(), 4);
    if (fCapacity - v.capacity() + want > fBudget) {
      for (auto& b : fRing)
        if (&b != &v && b.data() != fRun) Shrink(b);
      if (&fHeap != &v) Shrink(fHeap);
      want = std::max(v.capacity() + 1, std::min(want, fBudget - (fCapacity - v.capacity())));
    }
    fCapacity += want - v.capacity();
    v.reserve(want);
  }
  void Shrink(std::vector<tEntry>& b) {
    fCapacity -= b.capacity() - b.size();
    if (b.empty())
      std::vector<tEntry>().swap(b);
    else
      b.shrink_to_fit();
  }

  void HeapPush(const tEntry& e) {
    if (fHeap.size() == fHeap.capacity()) Reserve(fHeap);
    fHeap.push_back(e);
    SiftUp(fHeap.size() - 1, e);
  }
  void SiftUp(std::size_t pos, const tEntry& e) {
    while (pos > 0) {
      const std::size_t parent = (pos - 1) / kArity;
      if (!Before(e, fHeap[parent])) break;
      fHeap[pos] = fHeap[parent];
      pos = parent;
    }
    fHeap[pos] = e;
  }
  // Removes the top: the hole goes down to a leaf along the smaller
  // children, and the last entry rises from there.
  void HeapPop() {
    const tEntry last = fHeap.back();
    fHeap.pop_back();
    const std::size_t n = fHeap.size();
    if (n == 0) return;
    std::size_t pos = 0;
    for (;;) {
      const std::size_t first = kArity * pos + 1;
      if (first >= n) break;
      const std::size_t end = std::min(first + kArity, n);
      std::size_t best = first;
      for (std::size_t c = first + 1; c < end; ++c)
        if (Before(fHeap[c], fHeap[best])) best = c;
      fHeap[pos] = fHeap[best];
      pos = best;
    }
    SiftUp(pos, last);
  }

  const tExactLandscape& L;
  int32_t fRows, fCols;
  std::size_t fCells;
  std::vector<const float*> fRowPtr;
  std::vector<uint8_t> fState; // predecessor and marks
  double fInvDelta = 0;
  std::vector<std::vector<tEntry>> fRing; // bucket b at b mod size (a power of two)
  uint64_t fCurrent = 0;                  // the bucket of the run
  const tEntry* fRun = nullptr;           // the run: the sorted current bucket
  std::size_t fRunPos = 0, fRunEnd = 0;
  std::size_t fInRing = 0; // entries in buckets after the current one
  std::vector<tEntry> fHeap;
  std::size_t fCapacity = 0, fBudget; // entries held by all vectors, and their limit
};

namespace {

void CheckEnd(const tExactLandscape& l, t2DiPoint s, t2DiPoint t) {
  auto in = [&](t2DiPoint p) {
    return p.row >= 0 && p.row < l.Rows() && p.col >= 0 && p.col < l.Cols();
  };
  if (!in(s) || !in(t))
    throw EAssertionFailed("Error in Least-Cost Path: path ends are out of map:(" + Number(s.row) +
                           "," + Number(s.col) + "),(" + Number(t.row) + "," + Number(t.col) + ")");
}

} // namespace

// The cost of a path by the Monte-Carlo rule, with the same 80-bit sums.
static long double PathCost(const tMatrixOfSingle& friction, const t2DiPoints& path,
                            double frictionWeight, double lengthWeight) {
  long double s = 0;
  for (const t2DiPoint& p : path)
    s += friction[static_cast<std::size_t>(p.row)][static_cast<std::size_t>(p.col)];
  return s * static_cast<long double>(frictionWeight) +
         static_cast<long double>(path.size()) * static_cast<long double>(lengthWeight);
}

std::vector<tFoundPath> FindExactLeastCostPaths(const tExactLandscape& l, t2DiPoint source,
                                                std::span<const t2DiPoint> targets,
                                                tExactSearchStats* stats) {
  if (stats) *stats = tExactSearchStats{};
  std::vector<tFoundPath> out(targets.size());
  for (const t2DiPoint& t : targets) CheckEnd(l, source, t);
  const auto index = [&](t2DiPoint p) {
    return static_cast<uint32_t>(p.row) * static_cast<uint32_t>(l.Cols()) +
           static_cast<uint32_t>(p.col);
  };
  const uint32_t s = index(source);
  // The source is the first node of every candidate: without data it
  // refuses them all, as does a source that cannot be passed.
  if (!l.Passable(source.row, source.col) || (l.d != 0 && l.fZMissing[s])) return out;

  std::vector<uint32_t> wanted;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const t2DiPoint t = targets[k];
    const uint32_t ti = index(t);
    // Direction pre-check of the ends, before anything else.
    if (l.d != 0 && (static_cast<double>(l.fZ[ti]) - static_cast<double>(l.fZ[s])) * l.d < 0)
      continue;
    if (!l.Passable(t.row, t.col)) continue;
    if (ti == s) {
      out[k].Path = {source, source};
      out[k].Length = 2;
      out[k].Cost = PathCost(l.fFriction, out[k].Path, l.fFrictionWeight, l.fLengthWeight);
      continue;
    }
    wanted.push_back(ti);
  }
  if (wanted.empty()) return out;
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());

  tExactSearch search(l);
  search.Run(s, wanted);
  if (stats) stats->Settled = search.SettledCount();
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const uint32_t ti = index(targets[k]);
    if (ti == s || !std::binary_search(wanted.begin(), wanted.end(), ti) || !search.Reached(ti))
      continue;
    tFoundPath& r = out[k];
    r.Path = search.PathTo(ti);
    if (r.Path.size() > std::numeric_limits<uint32_t>::max())
      throw EOutOfResources("Path is too long. Impossible to compute the least-cost path.");
    r.Length = static_cast<uint32_t>(r.Path.size());
    r.Cost = PathCost(l.fFriction, r.Path, l.fFrictionWeight, l.fLengthWeight);
  }
  return out;
}

} // namespace stravex
