#include "paths/ExactPath.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "paths/CostPathDecl.h"
#include "paths/ExactRunSort.h"
#include "raster/Raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include <sys/mman.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

__extension__ using tU128 = unsigned __int128;

// Cells are indexed by 32-bit integers.
constexpr std::size_t kMaxCells = UINT32_MAX;

// Tiles of 64 rows by 8 columns at most: a cache line holds 2 x 8 cells of
// friction and 8 x 8 of state, so that the cells around a cell share few
// lines whichever way the search spreads, and a tile (2 KB) few pages.
constexpr uint32_t kTileRowShift = 6, kTileColShift = 3;

// The shift of a tile's side for a side of n cells and its frame.
uint32_t TileShift(std::size_t n, uint32_t most) {
  return std::min<uint32_t>(most, static_cast<uint32_t>(std::bit_width(n - 1)));
}

// Rows freed from a friction matrix go back to the system every so often
// while the tiled copy fills: the allocator keeps freed rows (each below its
// threshold for mappings of their own) for reuse otherwise.
constexpr std::size_t kTrimBytes = std::size_t{64} << 20;

void ReturnFreedMemory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

const tMatrixOfSingle& FrictionOf(const tPathRules& rules) {
  if (!rules.Friction) throw EInvalidOperation("Least-cost paths need a friction map");
  return *rules.Friction;
}

} // namespace

// Arrays of a huge page or more start on a huge-page boundary and ask for
// huge pages: a search spreads over the whole array, and with 4 KB pages the
// translations of its front no longer fit the TLB on large maps.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

tZeroedCells::tZeroedCells(std::size_t bytes) : fBytes(std::max<std::size_t>(bytes, 1)) {
  const int flags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
  if (fBytes < kHugePage) {
    void* p = mmap(nullptr, fBytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    fData = p;
    return;
  }
  fBytes = (fBytes + kHugePage - 1) / kHugePage * kHugePage;
  void* raw = mmap(nullptr, fBytes + kHugePage, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t end = start + fBytes + kHugePage;
  if (end > aligned + fBytes)
    munmap(reinterpret_cast<void*>(aligned + fBytes), end - aligned - fBytes);
  fData = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(fData, fBytes, MADV_HUGEPAGE); // advice only
#endif
}

tZeroedCells::~tZeroedCells() {
  if (fData) munmap(fData, fBytes);
}

tZeroedCells::tZeroedCells(tZeroedCells&& other) noexcept
    : fData(std::exchange(other.fData, nullptr)), fBytes(std::exchange(other.fBytes, 0)) {}

tZeroedCells& tZeroedCells::operator=(tZeroedCells&& other) noexcept {
  if (this != &other) {
    if (fData) munmap(fData, fBytes);
    fData = std::exchange(other.fData, nullptr);
    fBytes = std::exchange(other.fBytes, 0);
  }
  return *this;
}

tExactLandscape::tExactLandscape(const tPathRules& rules, std::optional<float> frictionFlag,
                                 const std::string& frictionName)
    : fFlag(frictionFlag), fTolerance(rules.Tolerance), fLengthWeight(rules.LengthWeight),
      fFrictionWeight(rules.FrictionWeight) {
  Build(FrictionOf(rules), nullptr, rules, frictionName);
}

tExactLandscape::tExactLandscape(tMatrixOfSingle&& friction, const tPathRules& rules,
                                 std::optional<float> frictionFlag, const std::string& frictionName)
    : fFlag(frictionFlag), fTolerance(rules.Tolerance), fLengthWeight(rules.LengthWeight),
      fFrictionWeight(rules.FrictionWeight) {
  try {
    Build(friction, &friction, rules, frictionName);
  } catch (...) {
    tMatrixOfSingle().swap(friction);
    throw;
  }
}

void tExactLandscape::Build(const tMatrixOfSingle& friction, tMatrixOfSingle* owned,
                            const tPathRules& rules, const std::string& frictionName) {
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
  const auto passable = [this](float f) { return std::isfinite(f) && !(fFlag && f == *fFlag); };
  for (std::size_t r = 0; r < rows; ++r)
    for (std::size_t c = 0; c < cols; ++c) {
      const float f = friction[r][c];
      // Missing cells, -inf among them, cannot be passed whatever their value.
      if (!passable(f)) continue;
      if (f < 0)
        throw EInvalidOperation("Exact least-cost path: the friction map " + frictionName +
                                " holds a negative value (" + Number(f) + " at row " +
                                std::to_string(r) + ", column " + std::to_string(c) + ").");
      const double w = frictionWeight * static_cast<double>(f) + lengthWeight;
      fMaxStep = std::max(fMaxStep, w);
      if (w > 0 && (fMinStep == 0 || w < fMinStep)) fMinStep = w;
    }
  fTileRowShift = TileShift(rows + 2, kTileRowShift);
  fTileColShift = TileShift(cols + 2, kTileColShift);
  const std::size_t bandRows = std::size_t{1} << fTileRowShift;
  const std::size_t tileRows = (rows + 2 + bandRows - 1) >> fTileRowShift;
  fTilesPerRow = (cols + 2 + (std::size_t{1} << fTileColShift) - 1) >> fTileColShift;
  fTiledCells = (tileRows * fTilesPerRow) << (fTileRowShift + fTileColShift);
  // A band of tiles is contiguous: it is filled whole (frame and cells that
  // cannot be passed as NaN), then the rows it holds are freed.
  fCells = tZeroedCells(fTiledCells * sizeof(float));
  float* cells = fCells.As<float>();
  const std::size_t bandCells = fTiledCells / tileRows;
  std::size_t freed = 0;
  for (std::size_t band = 0; band < tileRows; ++band) {
    std::fill_n(cells + band * bandCells, bandCells, std::numeric_limits<float>::quiet_NaN());
    const std::size_t first = band * bandRows, end = std::min(first + bandRows, rows + 1);
    for (std::size_t fr = std::max<std::size_t>(first, 1); fr < end; ++fr) {
      const auto r = static_cast<int32_t>(fr - 1);
      const std::vector<float>& row = friction[fr - 1];
      for (int32_t c = 0; c < fCols; ++c) {
        const float f = row[static_cast<std::size_t>(c)];
        if (passable(f)) cells[Tiled(r, c)] = f;
      }
      if (owned) {
        freed += (*owned)[fr - 1].capacity() * sizeof(float);
        std::vector<float>().swap((*owned)[fr - 1]);
      }
    }
    if (freed >= kTrimBytes) {
      ReturnFreedMemory();
      freed = 0;
    }
  }
  if (owned) {
    tMatrixOfSingle().swap(*owned);
    ReturnFreedMemory();
  }
  if (topography && rules.Direction != tSlopeDirection::Both) {
    d = SlopeSign(rules.Direction);
    fZ = tZeroedCells(fTiledCells * sizeof(float));
    fZMissing = tZeroedCells(fTiledCells);
    std::fill_n(fZMissing.As<uint8_t>(), fTiledCells, uint8_t{1});
    float* z = fZ.As<float>();
    uint8_t* missing = fZMissing.As<uint8_t>();
    for (int32_t r = 0; r < fRows; ++r)
      for (int32_t c = 0; c < fCols; ++c) {
        const std::size_t i = Tiled(r, c);
        z[i] = static_cast<float>(topography->GetCell(r, c));
        missing[i] = topography->IsFlagged(r, c) ? 1 : 0;
      }
  }
}

double tExactLandscape::Weight(int32_t row, int32_t col) const {
  return fFrictionWeight * static_cast<double>(Friction(row, col)) + fLengthWeight;
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
// The lowest bucket is sorted (ExactRunSort.h, in time linear in its
// length, so buckets are wide: two per smallest step, and the ends of the
// ring's buckets stay in the cache) and taken out in order; a cell that enters at
// or below the bucket being taken out (a step cheaper than Delta) waits in a
// 4-ary heap that is merged with it. Keys in a lower bucket are smaller, so
// the order is exactly that of one heap, at a fraction of the comparisons.
// When the costs span too many buckets, everything goes through the heap.
class tExactSearch {
public:
  explicit tExactSearch(const tExactLandscape& l)
      : L(l), fRows(l.fRows), fCols(l.fCols),
        fCells(static_cast<std::size_t>(l.fRows) * static_cast<std::size_t>(l.fCols)),
        fColsMagic(l.fCols > 1 ? UINT64_MAX / static_cast<uint32_t>(l.fCols) + 1 : 0),
        fState(l.fTiledCells), fBudget(std::max<std::size_t>(fCells + fCells / 4, kMinBudget)) {
    // A step that leaves a tile lands in the next one over, at the far
    // side: offsets by the cell's place in its tile (first, inner or last
    // row; the same for columns).
    const auto width = std::ptrdiff_t{1} << l.fTileColShift;
    const auto height = std::ptrdiff_t{1} << l.fTileRowShift;
    const std::ptrdiff_t tile = width * height;
    const auto band = static_cast<std::ptrdiff_t>(l.fTilesPerRow) * tile;
    for (std::size_t place = 0; place < 9; ++place)
      for (std::size_t k = 0; k < 8; ++k) {
        const std::size_t rowPlace = place / 3, colPlace = place % 3;
        std::ptrdiff_t o = kDRow[k] * width + kDCol[k];
        if (rowPlace == 0 && kDRow[k] < 0) o += height * width - band;
        if (rowPlace == 2 && kDRow[k] > 0) o += band - height * width;
        if (colPlace == 0 && kDCol[k] < 0) o += width - tile;
        if (colPlace == 2 && kDCol[k] > 0) o += tile - width;
        fStep[place][k] = o;
      }
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
    uint8_t* state = fState.As<uint8_t>();
    for (uint32_t t : wanted) state[TiledOf(t)] = kWanted;
    state[TiledOf(source)] |= kReached;
    Push(KeyOf(L.Weight(Row(source), Col(source))), source);
    const int d = L.d;
    const double allowance = d * L.fTolerance;
    const double fw = L.fFrictionWeight, lw = L.fLengthWeight;
    const float* cells = L.Cells();
    const float* z = L.Z();
    const uint8_t* zMissing = L.ZMissing();
    const uint32_t rowMask = (1u << L.fTileRowShift) - 1, colMask = (1u << L.fTileColShift) - 1;
    tEntry top;
    while (remaining > 0 && PopMin(top)) {
      const uint32_t p = top.Cell;
      const double cp = std::bit_cast<double>(top.Key);
      const int32_t pr = Row(p), pc = Col(p);
      const std::size_t pt = L.Tiled(pr, pc);
      state[pt] |= kSettled;
      if ((state[pt] & kWanted) != 0 && --remaining == 0) break;
      if (d != 0 && zMissing[pt]) continue; // reached, but not passed
      // A cell's neighbours are at fixed offsets by its place in its tile;
      // the frame keeps every neighbour of a map cell in the arrays.
      const uint32_t lr = (static_cast<uint32_t>(pr) + 1) & rowMask;
      const uint32_t lc = (static_cast<uint32_t>(pc) + 1) & colMask;
      const std::ptrdiff_t* step =
          fStep[((lr != 0) + (lr == rowMask)) * 3 + (lc != 0) + (lc == colMask)].data();
#pragma GCC unroll 8
      for (uint32_t k = 0; k < 8; ++k) {
        const std::size_t qt = pt + static_cast<std::size_t>(step[k]);
        if ((state[qt] & kReached) != 0) continue; // already at its final cost
        const float f = cells[qt];
        if (std::isnan(f)) continue; // cannot be passed, or off the map
        if (d != 0) {
          const double dz = static_cast<double>(z[qt]) - static_cast<double>(z[pt]);
          if ((dz + allowance) * d < 0) continue;
        }
        // Offset k leads from p to q; 7 - k leads back.
        state[qt] = static_cast<uint8_t>(state[qt] | kReached | (8 - k));
        const uint32_t q =
            static_cast<uint32_t>(static_cast<int64_t>(p) + int64_t{kDRow[k]} * fCols + kDCol[k]);
        Push(KeyOf(cp + (fw * static_cast<double>(f) + lw)), q);
      }
    }
  }

  bool Reached(uint32_t cell) const {
    return (fState.As<uint8_t>()[TiledOf(cell)] & kSettled) != 0;
  }

  uint64_t SettledCount() const {
    const uint8_t* state = fState.As<uint8_t>();
    return static_cast<uint64_t>(
        std::count_if(state, state + L.fTiledCells, [](uint8_t s) { return (s & kSettled) != 0; }));
  }

  // The chain from the source to cell, by the predecessors.
  t2DiPoints PathTo(uint32_t cell) const {
    t2DiPoints path;
    for (t2DiPoint c{Row(cell), Col(cell)};;) {
      path.push_back(c);
      const uint32_t code = fState.As<uint8_t>()[L.Tiled(c.row, c.col)] & kPredMask;
      if (code == 0) break;
      const uint32_t k = code - 1;
      c = {c.row + kDRow[k], c.col + kDCol[k]};
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
  static constexpr double kMaxRing = 4096;        // buckets at most, about
  static constexpr double kSplit = 2;             // buckets per smallest step
  static constexpr std::size_t kMinBudget = 64;   // entries, on tiny maps
  static constexpr std::size_t kAhead = 6;        // cells prefetched ahead in a run
  static constexpr std::size_t kSmallBucket = 32; // entries of a bucket prefetched whole

  using tEntry = exact::tEntry;
  static tEntry Entry(uint64_t key, uint32_t cell) { return {key, cell}; }
  static bool Before(const tEntry& a, const tEntry& b) { return exact::Before(a, b); }

  std::size_t TiledOf(uint32_t i) const { return L.Tiled(Row(i), Col(i)); }
  // Division by the number of columns as a multiplication: with
  // M = 2^64 / cols rounded up, the high half of M x i is i / cols for
  // every 32-bit i (Lemire, Kaser and Kurz, 2019); one column divides by 1.
  int32_t Row(uint32_t i) const {
    if (fColsMagic == 0) return static_cast<int32_t>(i);
    return static_cast<int32_t>((static_cast<tU128>(fColsMagic) * i) >> 64);
  }
  int32_t Col(uint32_t i) const {
    return static_cast<int32_t>(i - static_cast<uint32_t>(Row(i)) * static_cast<uint32_t>(fCols));
  }

  // Brings the neighbourhood of a cell soon to be settled into the cache.
  void Prefetch(uint32_t cell) const {
    const int32_t r = Row(cell), c = Col(cell);
    for (int32_t dr = -1; dr <= 1; ++dr) {
      const std::size_t t = L.Tiled(r + dr, c);
      __builtin_prefetch(L.Cells() + t);
      __builtin_prefetch(fState.As<uint8_t>() + t);
    }
  }

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
        if (fRunPos + kAhead < fRunEnd) Prefetch(fRun[fRunPos + kAhead].Cell);
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
    fInRing -= next->size();
    fRun = next->data();
    fRunPos = 0;
    fRunEnd = next->size();
    // Sorted in place, or into the spare array (the bucket is then free).
    const std::size_t spare = exact::RunSortSpare(fRunEnd);
    if (spare <= fSpareSize || HaveSpare(spare)) {
      fRun = fSorter.Sort(next->data(), fRunEnd, fSpare.get());
      if (fRun != next->data()) next->clear();
    } else {
      std::sort(next->begin(), next->end(), Before);
    }
    // Cells further on in the run are prefetched as the run is taken out;
    // a small next bucket (all of it known by now, steps span many buckets)
    // is prefetched whole, so that the run after this one starts warm.
    if (fInRing > 0) {
      const std::vector<tEntry>& after = fRing[(fCurrent + 1) & (fRing.size() - 1)];
      if (after.size() <= kSmallBucket)
        for (const tEntry& e : after) Prefetch(e.Cell);
    }
  }

  // Room for one more entry in v, all vectors together never holding more
  // than fBudget entries: when doubling would pass it, the others give back
  // what they do not use (there are never more waiting cells than cells).
  [[gnu::noinline]] void Reserve(std::vector<tEntry>& v) {
    std::size_t want = std::max<std::size_t>(2 * v.capacity(), 4);
    if (fCapacity - v.capacity() + want > fBudget) {
      ShrinkAllBut(&v);
      want = std::max(v.capacity() + 1, std::min(want, fBudget - (fCapacity - v.capacity())));
    }
    fCapacity += want - v.capacity();
    v.reserve(want);
  }
  void ShrinkAllBut(const std::vector<tEntry>* v) {
    for (auto& b : fRing)
      if (&b != v && b.data() != fRun) Shrink(b);
    if (&fHeap != v) Shrink(fHeap);
    if (fSpare.get() != fRun) {
      fCapacity -= fSpareSize;
      fSpare.reset();
      fSpareSize = 0;
    }
  }
  // Whether the run sort has room for n entries beside the run, within the
  // budget (the run is sorted in place otherwise). Called while no run is
  // taken out.
  [[gnu::noinline]] bool HaveSpare(std::size_t n) {
    if (n <= fSpareSize) return true;
    const std::size_t want = std::max(n, 2 * fSpareSize);
    if (fCapacity - fSpareSize + want > fBudget) {
      ShrinkAllBut(&fRing[fCurrent & (fRing.size() - 1)]);
      if (fCapacity + n > fBudget) return false;
    }
    fCapacity -= fSpareSize;
    fSpare.reset();
    fSpareSize = fCapacity + want > fBudget ? n : want;
    fSpare.reset(new tEntry[fSpareSize]);
    fCapacity += fSpareSize;
    return true;
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
  uint64_t fColsMagic;                                  // for Row and Col
  tZeroedCells fState;                                  // predecessor and marks, tiled
  std::array<std::array<std::ptrdiff_t, 8>, 9> fStep{}; // neighbour offsets by place in a tile
  double fInvDelta = 0;
  std::vector<std::vector<tEntry>> fRing; // bucket b at b mod size (a power of two)
  uint64_t fCurrent = 0;                  // the bucket of the run
  const tEntry* fRun = nullptr;           // the run: the sorted current bucket
  std::size_t fRunPos = 0, fRunEnd = 0;
  std::size_t fInRing = 0; // entries in buckets after the current one
  std::vector<tEntry> fHeap;
  exact::tRunSorter fSorter;
  std::unique_ptr<tEntry[]> fSpare; // beside a run being sorted; may hold the run
  std::size_t fSpareSize = 0;
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

// The cost of a path by the Monte-Carlo rule, with the same 80-bit sums; a
// path's cells can all be passed, so the landscape holds their values.
static long double PathCost(const tExactLandscape& l, const t2DiPoints& path, double frictionWeight,
                            double lengthWeight) {
  long double s = 0;
  for (const t2DiPoint& p : path) s += l.Friction(p.row, p.col);
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
  const std::size_t st = l.Tiled(source.row, source.col);
  if (!l.Passable(source.row, source.col) || (l.d != 0 && l.ZMissing()[st])) return out;
  const double zs = l.d != 0 ? static_cast<double>(l.Z()[st]) : 0;

  std::vector<uint32_t> wanted;
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const t2DiPoint t = targets[k];
    const uint32_t ti = index(t);
    // Direction pre-check of the ends, before anything else.
    if (l.d != 0 && (static_cast<double>(l.Z()[l.Tiled(t.row, t.col)]) - zs) * l.d < 0) continue;
    if (!l.Passable(t.row, t.col)) continue;
    if (ti == s) {
      out[k].Path = {source, source};
      out[k].Length = 2;
      out[k].Cost = PathCost(l, out[k].Path, l.fFrictionWeight, l.fLengthWeight);
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
    r.Cost = PathCost(l, r.Path, l.fFrictionWeight, l.fLengthWeight);
  }
  return out;
}

} // namespace stravex
