#include "utils/VertexWeld.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "qz/ExtException.h"
#include "qz/Memory.h"
#include "utils/OpenAddressMap.h"

namespace model::utils {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// The position floats that the grid covers. More axes would cut the
// candidates of meshes that stack many different vertices on one point, but
// each axis can double the cells a vertex has to probe.
constexpr std::size_t kGridAxes = 3;

// Cells are this many tolerances wide: a value then has a neighbour cell to
// look into only when it lies within one tolerance of a cell border (one
// axis in 32), while real meshes still hold about one position per cell.
constexpr double kCellTolerances = 64.0;

// Beyond this many cells from the origin the floats themselves are farther
// apart than a tolerance, so only equal values can match and each value is
// its own cell (keyed by its bits, outside the range of grid keys).
constexpr double kGridLimit = 2147483648.0;
constexpr std::int64_t kExactKeyBase = std::int64_t(1) << 40;

// Maps a float to the grid cell it lies in, per axis.
class CellKeys {
public:
    explicit CellKeys(float tolerance) {
        // fabs(a - b) <= t in float arithmetic allows an exact difference a
        // little above t; the halo covers it so no match is ever missed.
        const double halo = double(tolerance) * (1.0 + 0x1p-20);
        if (!std::isfinite(halo)) {
            wholeAxis_ = true;
        } else if (halo > 0.0) {
            halo_ = halo;
            inverse_ = 1.0 / (kCellTolerances * halo);
            reach_ = halo * inverse_ + kBorderSlack;
        } else {
            exactOnly_ = true;
        }
    }

    // Under an infinite tolerance infinite values still match finite ones.
    bool infiniteValuesMatch() const noexcept { return wholeAxis_; }

    // The cell v lies in, and in `straddles` whether range(v) may hold two
    // cells: never false when it does; true for a few more values, whose
    // range then holds only their own cell.
    std::int64_t key(float v, bool& straddles) const noexcept {
        straddles = false;
        if (wholeAxis_) return 0;
        if (!exactOnly_) {
            const double d = double(v) * inverse_ + 0.5;
            const double cell = std::floor(d);
            if (std::fabs(cell) < kGridLimit) {
                const double f = d - cell;
                straddles = f < reach_ || f > 1.0 - reach_;
                return static_cast<std::int64_t>(cell);
            }
        }
        return exactKey(v);
    }

    // The cells [lo, hi] that a value within the tolerance of v can lie in.
    // Rounding is monotonic, so computing the borders in double precision
    // never moves them inside a neighbour's cell.
    void range(float v, std::int64_t& lo, std::int64_t& hi) const noexcept {
        if (wholeAxis_) {
            lo = hi = 0;
            return;
        }
        if (!exactOnly_) {
            const double d = std::floor(double(v) * inverse_ + 0.5);
            if (std::fabs(d) < kGridLimit) {
                lo = static_cast<std::int64_t>(std::floor((double(v) - halo_) * inverse_ + 0.5));
                hi = static_cast<std::int64_t>(std::floor((double(v) + halo_) * inverse_ + 0.5));
                return;
            }
        }
        lo = hi = exactKey(v);
    }

private:
    // How far into a cell, in cells, range() may still reach the neighbour:
    // the halo plus more than the rounding of the computation can move.
    static constexpr double kBorderSlack = 1e-5;

    // -0 and +0 differ by 0, so they must share a key.
    static std::int64_t exactKey(float v) noexcept {
        return kExactKeyBase + std::int64_t(std::bit_cast<std::uint32_t>(v + 0.0f));
    }

    double halo_ = 0.0;
    double inverse_ = 0.0;
    double reach_ = 0.0;
    bool exactOnly_ = false;
    bool wholeAxis_ = false;
};

// A vector of n copies of `value` whose memory is offered huge pages before
// it is first touched: the weld's arrays are megabytes each, read in random
// order, and each small page costs a fault and a slot in the address cache.
template <class T>
std::vector<T> hugeVector(std::size_t n, T value) {
    std::vector<T> v;
    v.reserve(n);
    qz::adviseHugePages(v.data(), n * sizeof(T));
    v.assign(n, value);
    return v;
}

// The same without the values, for an array whose every element is written
// before it is read, by the workers rather than this thread.
template <class T>
std::unique_ptr<T[]> hugeArray(std::size_t n) {
    auto a = std::make_unique_for_overwrite<T[]>(n);
    qz::adviseHugePages(a.get(), n * sizeof(T));
    return a;
}

std::uint32_t cellHash(const std::int64_t (&keys)[kGridAxes], std::uint32_t exactBits) noexcept {
    const std::uint64_t h = std::uint64_t(keys[0]) * 0x9e3779b97f4a7c15ULL +
                            std::uint64_t(keys[1]) * 0xc2b2ae3d27d4eb4fULL +
                            std::uint64_t(keys[2]) * 0x165667b19e3779f9ULL +
                            std::uint64_t(exactBits) * 0xd6e8feb86659fd93ULL;
    return static_cast<std::uint32_t>(mixHash(h) >> 32);
}

// The rows to weld, read where they lie: row k is the k-th kept vertex, its
// floats the rows of each attribute in code order. Matching reads a few
// floats of two rows, so gathering the rows into one array first would cost
// a copy of the whole vertex data for little gain.
class Rows {
public:
    Rows(const Vertices& vertices, const std::vector<std::uint32_t>& kept, std::size_t count, float tolerance)
        : kept_(kept), count_(count), tolerance_(tolerance) {
        const VertexAttribute* positions = vertices.findAttribute(POSITION0);
        // The fourth position component must be bit-equal.
        const std::size_t exact =
            positions && positions->components >= 4 ? 3 : std::numeric_limits<std::size_t>::max();
        std::size_t offset = 0;
        for (const auto& [code, a] : vertices.getAttributes()) {
            if (a.components == 0) continue;
            const bool holdsExact = exact >= offset && exact < offset + a.components;
            columns_.push_back({a.data.data(), a.components, holdsExact ? exact - offset : kNoComponent});
            offset += a.components;
        }
        size_ = offset;
    }

    std::size_t count() const noexcept { return count_; }
    std::size_t size() const noexcept { return size_; }

    // The first `n` floats of row k (n at most size()), and the bits of its
    // bit-equal float (0 without one).
    void lead(std::size_t k, std::size_t n, float* out, std::uint32_t& exactBits) const noexcept {
        const std::size_t v = vertexOf(k);
        exactBits = 0;
        std::size_t got = 0;
        for (const Column& c : columns_) {
            const float* r = c.data + v * c.components;
            for (std::size_t f = 0; f < c.components && got < n; ++f) out[got++] = r[f];
            if (c.exact != kNoComponent) exactBits = std::bit_cast<std::uint32_t>(r[c.exact]);
        }
    }

    // Asks the memory system for row k, which is read soon.
    void prefetch(std::size_t k) const noexcept {
        const std::size_t v = vertexOf(k);
        for (const Column& c : columns_) qz::prefetchForRead(c.data + v * c.components, c.components * sizeof(float));
    }

    bool match(std::size_t k, std::size_t l) const noexcept {
        const std::size_t a = vertexOf(k), b = vertexOf(l);
        for (const Column& c : columns_) {
            const float* x = c.data + a * c.components;
            const float* y = c.data + b * c.components;
            for (std::size_t f = 0; f < c.components; ++f) {
                if (f == c.exact) {
                    if (std::bit_cast<std::uint32_t>(x[f]) != std::bit_cast<std::uint32_t>(y[f])) return false;
                } else if (!(std::fabs(x[f] - y[f]) <= tolerance_)) {
                    return false;
                }
            }
        }
        return true;
    }

private:
    static constexpr std::size_t kNoComponent = std::numeric_limits<std::size_t>::max();
    struct Column {
        const float* data;
        std::size_t components;
        std::size_t exact;
    };

    std::size_t vertexOf(std::size_t k) const noexcept { return kept_.empty() ? k : kept_[k]; }

    const std::vector<std::uint32_t>& kept_;
    std::size_t count_;
    float tolerance_;
    std::vector<Column> columns_;
    std::size_t size_ = 0;
};

// Per-row state of the search, one byte a row.
enum RowFlag : std::uint8_t {
    kOutside = 1,    // a lead float matches nothing: kept out of the grid
    kStraddles = 2,  // may have neighbour cells to look into
    kSeed = 4,       // matches a row of another cell
    kShared = 8,     // in a cell where a row has a match in another cell
};

// The grid: the rows that can match something as keys (cell hash << 32 |
// row), sorted, so the rows of one cell hash form one run of keys in
// ascending row order. The keys are first spread over buckets by the top bits
// of their hash, and every bucket then sorted on its own (in parallel); a
// run never leaves its bucket. The walks read runs front to back, so the
// memory system can fetch many rows at once, where links from row to row
// would fetch one row after the other.
class Grid {
public:
    // The keys of rows [0, n) not flagged kOutside.
    Grid(const std::uint32_t* hashOf, const std::uint8_t* flags, std::size_t n, const Workers& workers) {
        const std::size_t parts = workers.parts();
        // About a thousand keys a bucket: its sort then stays in the core's cache.
        const unsigned bits = std::min<unsigned>(static_cast<unsigned>(std::bit_width(n / 1024)), 16);
        shift_ = 32 - bits;
        const std::size_t buckets = std::size_t(1) << bits;
        auto range = [&](std::size_t part) { return std::pair(n * part / parts, n * (part + 1) / parts); };

        // Phase 1: how many keys each range of rows gives each bucket.
        std::vector<std::vector<std::size_t>> next(parts, std::vector<std::size_t>(buckets, 0));
        workers.forEachPart([&](std::size_t part) {
            const auto [b, e] = range(part);
            for (std::size_t k = b; k < e; ++k)
                if (!(flags[k] & kOutside)) ++next[part][bucketOf(hashOf[k])];
        });
        // Phase 2: where each range's keys of a bucket start. The ranges go
        // in order within a bucket, so each bucket comes out in row order.
        start_.assign(buckets + 1, 0);
        std::size_t at = 0;
        for (std::size_t bucket = 0; bucket < buckets; ++bucket) {
            start_[bucket] = at;
            for (std::size_t part = 0; part < parts; ++part) at += std::exchange(next[part][bucket], at);
        }
        start_[buckets] = at;
        keys_ = hugeArray<std::uint64_t>(at);
        // Phase 3: the keys, spread over their buckets.
        workers.forEachPart([&](std::size_t part) {
            const auto [b, e] = range(part);
            for (std::size_t k = b; k < e; ++k)
                if (!(flags[k] & kOutside)) keys_[next[part][bucketOf(hashOf[k])]++] = std::uint64_t(hashOf[k]) << 32 | k;
        });
        // Phase 4: each bucket sorted.
        workers.forEachRange(buckets, [&](std::size_t b, std::size_t e) {
            std::vector<std::uint64_t> scratch;
            for (std::size_t bucket = b; bucket < e; ++bucket) sortBucket(start_[bucket], start_[bucket + 1], scratch);
        });
        // Phase 5: the filter. A word of it never spans two buckets (it
        // covers fewer hash bits than a bucket), so ranges of buckets can
        // set their bits at once.
        const unsigned filterBits = std::clamp(static_cast<unsigned>(std::bit_width(n)) + 4, 6u, 32u);
        filterShift_ = 32 - filterBits;
        filter_ = hugeVector<std::uint64_t>(std::size_t(1) << (filterBits - 6), 0);
        workers.forEachRange(buckets, [&](std::size_t b, std::size_t e) {
            for (std::size_t i = start_[b]; i < start_[e]; ++i) {
                const std::uint32_t bit = hashAt(i) >> filterShift_;
                filter_[bit >> 6] |= std::uint64_t(1) << (bit & 63);
            }
        });
    }

    std::size_t buckets() const noexcept { return start_.size() - 1; }
    // The keys of buckets [b, e) are the keys [start(b), start(e)).
    std::size_t start(std::size_t bucket) const noexcept { return start_[bucket]; }
    std::uint32_t hashAt(std::size_t i) const noexcept { return static_cast<std::uint32_t>(keys_[i] >> 32); }
    std::uint32_t rowAt(std::size_t i) const noexcept { return static_cast<std::uint32_t>(keys_[i]); }

    // The end of the run that starts at key i, within keys [i, end).
    std::size_t runEnd(std::size_t i, std::size_t end) const noexcept {
        const std::uint32_t hash = hashAt(i);
        while (++i < end && hashAt(i) == hash) {
        }
        return i;
    }

    // The run of keys of `hash`: [first, last), empty when no row has it.
    std::pair<std::size_t, std::size_t> run(std::uint32_t hash) const noexcept {
        if (!(filter_[(hash >> filterShift_) >> 6] >> ((hash >> filterShift_) & 63) & 1)) return {0, 0};
        const std::size_t bucket = bucketOf(hash);
        const std::size_t begin = start_[bucket], end = start_[bucket + 1];
        std::size_t first = guess(hash);
        while (first > begin && hashAt(first - 1) >= hash) --first;
        while (first < end && hashAt(first) < hash) ++first;
        if (first == end || hashAt(first) != hash) return {first, first};
        return {first, runEnd(first, end)};
    }

    // Asks the memory system for what run(hash) reads first.
    void prefetchRun(std::uint32_t hash) const noexcept { qz::prefetchForRead(&filter_[(hash >> filterShift_) >> 6]); }

private:
    std::size_t bucketOf(std::uint32_t hash) const noexcept { return static_cast<std::size_t>(std::uint64_t(hash) >> shift_); }

    // Sorts keys [first, last), which are in row order, by hash: a stable
    // radix sort on the hash bits below the bucket's, a digit at a time.
    void sortBucket(std::size_t first, std::size_t last, std::vector<std::uint64_t>& scratch) const {
        constexpr unsigned kDigitBits = 8;
        constexpr std::uint64_t kDigitMask = (1u << kDigitBits) - 1;
        const std::size_t n = last - first;
        if (n < 2) return;
        scratch.resize(n);
        std::uint64_t* from = &keys_[first];
        std::uint64_t* to = scratch.data();
        for (unsigned low = 32; low < 32 + shift_; low += kDigitBits) {
            std::array<std::size_t, kDigitMask + 1> next{};
            for (std::size_t i = 0; i < n; ++i) ++next[(from[i] >> low) & kDigitMask];
            std::size_t at = 0;
            for (std::size_t& slot : next) at += std::exchange(slot, at);
            for (std::size_t i = 0; i < n; ++i) to[next[(from[i] >> low) & kDigitMask]++] = from[i];
            std::swap(from, to);
        }
        if (from != &keys_[first]) std::copy(from, from + n, &keys_[first]);
    }

    // Where in its bucket the run of `hash` about lies: hashes are spread
    // evenly, so close to where the hash's value puts it.
    std::size_t guess(std::uint32_t hash) const noexcept {
        const std::size_t bucket = bucketOf(hash);
        const std::size_t begin = start_[bucket], end = start_[bucket + 1];
        const std::uint64_t within = std::uint64_t(hash) - (std::uint64_t(bucket) << shift_);
        return begin + static_cast<std::size_t>((within * (end - begin)) >> shift_);
    }

    unsigned shift_ = 32;
    std::unique_ptr<std::uint64_t[]> keys_;
    std::vector<std::size_t> start_;
    // A bit per hash prefix that some key has: most cells looked up are
    // empty, and the filter, a few bits a key, tells so from one cache line
    // where the keys would take several.
    unsigned filterShift_ = 0;
    std::vector<std::uint64_t> filter_;
};

// The welding of one mesh's rows: owner[k] is the representative row k is
// merged into, kNone for the representatives themselves.
//
// A row can match only rows of its own cell and, when it lies near a border,
// of the neighbour cells. Rows whose cell holds no row with a match in
// another cell ("clean" cells) are resolved cell by cell, groups of buckets
// on several workers; the rows of the other ("shared") cells form a closed
// set (a match across cells makes both cells shared) and are resolved in
// index order in one walk. Either way a row is resolved exactly as the
// single walk over all rows would: by the rows before it that match it.
class Weld {
public:
    Weld(const Rows& rows, float tolerance, const Workers& workers)
        : rows_(rows), keys_(tolerance), axes_(std::min(rows.size(), kGridAxes)), workers_(workers),
          owner_(hugeVector(rows.count(), kNone)) {}

    std::vector<std::uint32_t> run(float tolerance) {
        const std::size_t n = rows_.count();
        if (n < 2 || rows_.size() == 0 || !(tolerance >= 0.0f)) return std::move(owner_);
        flags_ = hugeArray<std::uint8_t>(n);
        hashOf_ = hugeArray<std::uint32_t>(n);
        workers_.forEachRange(n, [&](std::size_t b, std::size_t e) { placeRows(b, e); });
        grid_.emplace(hashOf_.get(), flags_.get(), n, workers_);
        workers_.forEachRange(n, [&](std::size_t b, std::size_t e) { findSeeds(b, e); });
        sharedRun_ = hugeVector<std::uint8_t>(grid_->start(grid_->buckets()), 0);
        workers_.forEachRange(grid_->buckets(), [&](std::size_t b, std::size_t e) { shareCells(b, e); });
        // Several groups of buckets a worker even out the walks' lengths; the
        // shared walk, the longest task, is queued first.
        const std::size_t groups = std::min(grid_->buckets(), kGroupsPerWorker * workers_.parts());
        workers_.forEachTask(groups + 1, [&](std::size_t task) {
            if (task == 0)
                walkShared();
            else
                walkClean(grid_->buckets() * (task - 1) / groups, grid_->buckets() * task / groups);
        });
        return std::move(owner_);
    }

private:
    static constexpr std::size_t kGroupsPerWorker = 8;
    static constexpr std::size_t kAhead = 32;
    static constexpr std::size_t kProbeBatch = 64;

    // Cell hash and flags of rows [b, e). A NaN never compares within the
    // tolerance, and an infinite value only under an infinite tolerance: a
    // row with such a lead float matches no row, and would share one cell
    // with every other such row. Other floats are left to the match itself.
    void placeRows(std::size_t b, std::size_t e) {
        const float limit = keys_.infiniteValuesMatch() ? std::numeric_limits<float>::infinity()
                                                        : std::numeric_limits<float>::max();
        for (std::size_t k = b; k < e; ++k) {
            float lead[kGridAxes] = {0, 0, 0};
            std::uint32_t exactBits = 0;
            rows_.lead(k, axes_, lead, exactBits);
            bool outside = false;
            for (std::size_t a = 0; a < axes_; ++a) outside |= !(std::fabs(lead[a]) <= limit);
            if (outside) {
                flags_[k] = kOutside;
                continue;
            }
            std::int64_t key[kGridAxes] = {0, 0, 0};
            bool straddles = false;
            for (std::size_t a = 0; a < axes_; ++a) {
                bool near = false;
                key[a] = keys_.key(lead[a], near);
                straddles |= near;
            }
            hashOf_[k] = cellHash(key, exactBits);
            flags_[k] = straddles ? kStraddles : 0;
        }
    }

    // Calls fn(hash) for each neighbour cell of row k other than its own.
    template <class Fn>
    void forEachNeighbourCell(std::size_t k, Fn&& fn) const {
        float lead[kGridAxes] = {0, 0, 0};
        std::uint32_t exactBits = 0;
        rows_.lead(k, axes_, lead, exactBits);
        std::int64_t lo[kGridAxes] = {0, 0, 0};
        std::int64_t hi[kGridAxes] = {0, 0, 0};
        for (std::size_t a = 0; a < axes_; ++a) keys_.range(lead[a], lo[a], hi[a]);
        std::uint32_t probed[8] = {hashOf_[k]};
        std::size_t probedCount = 1;
        std::int64_t key[kGridAxes];
        for (key[0] = lo[0]; key[0] <= hi[0]; ++key[0])
            for (key[1] = lo[1]; key[1] <= hi[1]; ++key[1])
                for (key[2] = lo[2]; key[2] <= hi[2]; ++key[2]) {
                    const std::uint32_t hash = cellHash(key, exactBits);
                    if (std::find(probed, probed + probedCount, hash) != probed + probedCount) continue;
                    if (probedCount < 8) probed[probedCount++] = hash;
                    if (fn(hash)) return;
                }
    }

    // Seeds among rows [b, e): rows with a match in another cell. The
    // neighbour cells of a batch of rows are listed first, and what their
    // lookups read fetched together, before any is looked into.
    void findSeeds(std::size_t b, std::size_t e) {
        struct Probe {
            std::uint32_t row;
            std::uint32_t hash;
        };
        std::vector<Probe> probes;
        probes.reserve(kProbeBatch + 8);
        for (std::size_t k = b; k < e;) {
            probes.clear();
            for (; k < e && probes.size() < kProbeBatch; ++k) {
                if (!(flags_[k] & kStraddles)) continue;
                forEachNeighbourCell(k, [&](std::uint32_t hash) {
                    grid_->prefetchRun(hash);
                    probes.push_back({static_cast<std::uint32_t>(k), hash});
                    return false;
                });
            }
            for (const Probe& probe : probes) {
                if (flags_[probe.row] & kSeed) continue;
                const auto [first, last] = grid_->run(probe.hash);
                for (std::size_t i = first; i < last; ++i)
                    if (rows_.match(probe.row, grid_->rowAt(i))) {
                        flags_[probe.row] |= kSeed;
                        break;
                    }
            }
        }
    }

    // Marks the cells of buckets [b, e) that hold a seed, and every row of
    // them.
    void shareCells(std::size_t b, std::size_t e) {
        const std::size_t end = grid_->start(e);
        for (std::size_t i = grid_->start(b), last; i < end; i = last) {
            last = grid_->runEnd(i, end);
            bool seeded = false;
            for (std::size_t j = i; j < last && !seeded; ++j) seeded = flags_[grid_->rowAt(j)] & kSeed;
            if (!seeded) continue;
            sharedRun_[i] = 1;
            for (std::size_t j = i; j < last; ++j) flags_[grid_->rowAt(j)] |= kShared;
        }
    }

    // Row k, a representative, claims every later row of the keys [first,
    // last) that matches it; a later claim by another representative wins.
    void claim(std::size_t k, std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) {
            const std::uint32_t j = grid_->rowAt(i);
            if (j > k && rows_.match(k, j)) owner_[j] = static_cast<std::uint32_t>(k);
        }
    }

    // The clean cells of buckets [b, e), each in index order. A run holds
    // its rows in index order, so a row's later candidates follow it, and
    // only they can claim it: whether a row is claimed is kept per run.
    void walkClean(std::size_t b, std::size_t e) {
        const std::size_t end = grid_->start(e);
        std::vector<std::uint8_t> claimed;
        std::size_t first = grid_->start(b);
        for (std::size_t i = first; i < end; ++i) {
            // Rows lie in random places: the row some keys on is fetched
            // while this one is resolved, unless it is alone in its cell.
            if (const std::size_t a = i + kAhead; a + 1 < end && (grid_->hashAt(a) == grid_->hashAt(a - 1) ||
                                                                  grid_->hashAt(a) == grid_->hashAt(a + 1)))
                rows_.prefetch(grid_->rowAt(a));
            if (i + 1 < end && grid_->hashAt(i + 1) == grid_->hashAt(i)) continue;
            // Keys [first, i] are one run. A cell of one row, or a shared
            // one, has nothing to do here; the shared walk writes the owners
            // of shared rows meanwhile.
            if (i > first && !sharedRun_[first]) {
                claimed.assign(i + 1 - first, 0);
                for (std::size_t r = first; r < i; ++r) {
                    if (claimed[r - first]) continue;
                    const std::uint32_t k = grid_->rowAt(r);
                    for (std::size_t c = r + 1; c <= i; ++c) {
                        const std::uint32_t j = grid_->rowAt(c);
                        if (!rows_.match(k, j)) continue;
                        owner_[j] = k;
                        claimed[c - first] = 1;
                    }
                }
            }
            first = i + 1;
        }
    }

    // The rows of shared cells, in index order, within their cell and the
    // neighbour cells.
    void walkShared() {
        const std::size_t n = rows_.count();
        for (std::size_t k = 0; k < n; ++k) {
            // The flag first: a clean row's owner is written meanwhile by the
            // clean walks, so this walk must not read it.
            if (!(flags_[k] & kShared) || owner_[k] != kNone) continue;
            const auto [first, last] = grid_->run(hashOf_[k]);
            claim(k, first, last);
            if (!(flags_[k] & kStraddles)) continue;
            forEachNeighbourCell(k, [&](std::uint32_t hash) {
                const auto [from, to] = grid_->run(hash);
                // A clean cell holds no match of a shared row.
                if (from != to && sharedRun_[from]) claim(k, from, to);
                return false;
            });
        }
    }

    const Rows& rows_;
    const CellKeys keys_;
    const std::size_t axes_;
    const Workers& workers_;
    std::optional<Grid> grid_;
    std::vector<std::uint32_t> owner_;
    std::unique_ptr<std::uint8_t[]> flags_;
    std::unique_ptr<std::uint32_t[]> hashOf_;  // of the rows not kOutside
    std::vector<std::uint8_t> sharedRun_;  // per key: the run from it holds a seed
};
// Rows [0, n) of `data`, rows of C floats, become its rows sourceOf[0..n).
// sourceOf ascends and sourceOf[r] >= r, so each row is read before a later
// row of the compaction writes over it, and no second array is needed. The
// usual widths get a copy of fixed size, which the compiler inlines: a
// library call per row of a few floats costs more than the copy itself.
template <std::size_t C>
void compactRows(float* data, const std::uint32_t* sourceOf, std::size_t n) {
    for (std::size_t r = 0; r < n; ++r) std::memmove(data + r * C, data + std::size_t(sourceOf[r]) * C, C * sizeof(float));
}

void compactRows(float* data, const std::uint32_t* sourceOf, std::size_t n, std::size_t c) {
    switch (c) {
        case 1: return compactRows<1>(data, sourceOf, n);
        case 2: return compactRows<2>(data, sourceOf, n);
        case 3: return compactRows<3>(data, sourceOf, n);
        case 4: return compactRows<4>(data, sourceOf, n);
        default:
            for (std::size_t r = 0; r < n; ++r)
                std::memmove(data + r * c, data + std::size_t(sourceOf[r]) * c, c * sizeof(float));
    }
}

}  // namespace

std::size_t weldVertices(Vertices& vertices, Indices& indexList, float tolerance) {
    return weldVertices(vertices, indexList, tolerance, Workers());
}

std::size_t weldVertices(Vertices& vertices, Indices& indexList, float tolerance, const Workers& workers) {
    std::vector<std::uint32_t>& indices = indexList.indices;
    const std::size_t count = vertices.vertexCount();
    // Vertex numbers must fit the 32-bit lists below, kNone excluded.
    if (count >= kNone) QZ_THROW("Vertex data holds too many vertices to weld.");

    // Phase 1: which vertices some index names. Each block of indices is
    // checked whole before it is used: a branch per index would keep the
    // compiler from checking several at once.
    constexpr std::size_t kIndexBlock = 1024;
    std::vector<std::uint8_t> used = hugeVector<std::uint8_t>(count, 0);
    workers.forEachRange(indices.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t at = b; at < e; at += kIndexBlock) {
            const std::size_t end = std::min(e, at + kIndexBlock);
            std::uint32_t highest = 0;
            for (std::size_t k = at; k < end; ++k) highest = std::max(highest, indices[k]);
            if (highest >= count) throw std::out_of_range("invalid vector<bool> subscript");
            for (std::size_t k = at; k < end; ++k)
                std::atomic_ref<std::uint8_t>(used[indices[k]]).store(1, std::memory_order_relaxed);
        }
    });
    bool consistent = vertices.isValid();
    for (const auto& [code, a] : vertices.getAttributes())
        if (a.components != 0 && a.rowCount() != count) consistent = false;
    if (!consistent) QZ_THROW("Vertex data is invalid.");

    // Phase 2: the kept vertices, in order (no list when all are kept).
    const std::size_t n = static_cast<std::size_t>(std::count(used.begin(), used.end(), std::uint8_t(1)));
    const std::size_t unreferenced = count - n;
    std::vector<std::uint32_t> kept, keptNumber;
    if (unreferenced != 0) {
        kept.reserve(n);
        keptNumber = hugeVector(count, kNone);
        for (std::size_t v = 0; v < count; ++v)
            if (used[v]) {
                keptNumber[v] = static_cast<std::uint32_t>(kept.size());
                kept.push_back(static_cast<std::uint32_t>(v));
            }
    }
    used = {};

    // Phase 3: representatives.
    std::vector<std::uint32_t> owner;
    {
        const Rows rows(vertices, kept, n, tolerance);
        owner = Weld(rows, tolerance, workers).run(tolerance);
    }

    // Phase 4: new numbers. A representative takes the next number, a merged
    // vertex its representative's. Each range of rows counts its
    // representatives first, so that all ranges number theirs at once.
    const std::size_t parts = workers.parts();
    auto range = [&](std::size_t part) { return std::pair(n * part / parts, n * (part + 1) / parts); };
    std::vector<std::size_t> firstNumber(parts + 1, 0);
    workers.forEachPart([&](std::size_t part) {
        const auto [b, e] = range(part);
        firstNumber[part + 1] = static_cast<std::size_t>(std::count(owner.begin() + b, owner.begin() + e, kNone));
    });
    std::partial_sum(firstNumber.begin(), firstNumber.end(), firstNumber.begin());
    const std::size_t representatives = firstNumber[parts];
    const std::size_t merged = n - representatives;
    if (unreferenced == 0 && merged == 0) return 0;
    const std::unique_ptr<std::uint32_t[]> finalNumber = hugeArray<std::uint32_t>(n);
    const std::unique_ptr<std::uint32_t[]> sourceOf = hugeArray<std::uint32_t>(representatives);
    workers.forEachPart([&](std::size_t part) {
        const auto [b, e] = range(part);
        auto next = static_cast<std::uint32_t>(firstNumber[part]);
        for (std::size_t j = b; j < e; ++j)
            if (owner[j] == kNone) {
                sourceOf[next] = kept.empty() ? static_cast<std::uint32_t>(j) : kept[j];
                finalNumber[j] = next++;
            }
    });
    // A representative is never merged itself: its number is known by now.
    workers.forEachRange(n, [&](std::size_t b, std::size_t e) {
        for (std::size_t j = b; j < e; ++j)
            if (owner[j] != kNone) finalNumber[j] = finalNumber[owner[j]];
    });
    owner = {};

    // Phase 5: the representatives' rows move to the front of each
    // attribute's array, each attribute on a worker of its own. Compacting
    // in place spares clearing a new array and releasing the old one, which
    // cost as much as the copy.
    std::vector<VertexAttribute*> attributes;
    for (const auto& [code, a] : vertices.getAttributes()) attributes.push_back(&vertices.getAttribute(code));
    workers.forEachTask(attributes.size(), [&](std::size_t k) {
        const std::size_t c = attributes[k]->components;
        compactRows(attributes[k]->data.data(), sourceOf.get(), representatives, c);
        attributes[k]->data.resize(representatives * c);
    });

    // Phase 6: every index names its representative's number.
    workers.forEachRange(indices.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            const std::uint32_t i = indices[k];
            indices[k] = finalNumber[keptNumber.empty() ? i : keptNumber[i]];
        }
    });
    return unreferenced + merged;
}

}  // namespace model::utils
