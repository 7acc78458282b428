#include "utils/VertexWeld.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "qz/ExtException.h"
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

    std::int64_t key(float v) const noexcept {
        if (wholeAxis_) return 0;
        if (!exactOnly_) {
            const double d = std::floor(double(v) * inverse_ + 0.5);
            if (std::fabs(d) < kGridLimit) return static_cast<std::int64_t>(d);
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

    // Whether range(v) may hold two cells: never false when it does; true
    // for a few more values, whose range then holds only their own cell.
    bool mayStraddle(float v) const noexcept {
        if (wholeAxis_ || exactOnly_) return false;
        const double d = double(v) * inverse_ + 0.5;
        const double cell = std::floor(d);
        if (!(std::fabs(cell) < kGridLimit)) return false;
        const double f = d - cell;
        return f < reach_ || f > 1.0 - reach_;
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

std::uint32_t cellHash(const std::int64_t (&keys)[kGridAxes], std::uint32_t exactBits) noexcept {
    const std::uint64_t h = std::uint64_t(keys[0]) * 0x9e3779b97f4a7c15ULL +
                            std::uint64_t(keys[1]) * 0xc2b2ae3d27d4eb4fULL +
                            std::uint64_t(keys[2]) * 0x165667b19e3779f9ULL +
                            std::uint64_t(exactBits) * 0xd6e8feb86659fd93ULL;
    // kNone marks the grid's free slots; the hash next to it stands in.
    return std::min(static_cast<std::uint32_t>(mixHash(h) >> 32), kNone - 1);
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

    // Rows that can't match any row: a NaN never compares within the
    // tolerance, and an infinite value only under an infinite tolerance.
    bool matchesNothing(std::size_t k, bool infiniteMatches) const noexcept {
        const std::size_t v = vertexOf(k);
        for (const Column& c : columns_) {
            const float* r = c.data + v * c.components;
            for (std::size_t f = 0; f < c.components; ++f)
                if (f != c.exact && (std::isnan(r[f]) || (!infiniteMatches && std::isinf(r[f])))) return true;
        }
        return false;
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
    kOutside = 1,    // matches nothing, kept out of the grid
    kStraddles = 2,  // may have neighbour cells to look into
    kSeed = 4,       // matches a row of another cell
    kShared = 8,     // in a cell where a row has a match in another cell
};

// The grid: per part of the hash range a table from cell hash to the first
// row of the cell, and per row the next row of its cell (rows of one cell
// are chained in ascending order, so a row's later candidates are simply its
// chain). Each part is built by one worker; the tables are read-only after.
using CellTable = OpenAddressMap<std::uint32_t, std::uint32_t, kNone>;

class Grid {
public:
    explicit Grid(std::size_t parts) : tables_(parts) {}

    std::size_t parts() const noexcept { return tables_.size(); }
    std::size_t partOf(std::uint32_t hash) const noexcept {
        return static_cast<std::size_t>((std::uint64_t(hash) * tables_.size()) >> 32);
    }
    CellTable& table(std::size_t part) noexcept { return tables_[part]; }
    std::uint32_t firstRow(std::uint32_t hash) const noexcept {
        const std::uint32_t* head = tables_[partOf(hash)].find(hash);
        return head ? *head : kNone;
    }

private:
    std::vector<CellTable> tables_;
};

// The welding of one mesh's rows: owner[k] is the representative row k is
// merged into, kNone for the representatives themselves.
//
// A row can match only rows of its own cell and, when it lies near a border,
// of the neighbour cells. Rows whose cell holds no row with a match in
// another cell ("clean" cells) are resolved cell by cell, each part of the
// grid on its own worker; the rows of the other ("shared") cells form a
// closed set (a match across cells makes both cells shared) and are resolved
// in index order in one walk. Either way a row is resolved exactly as the
// single walk over all rows would: by the rows before it that match it.
class Weld {
public:
    Weld(const Rows& rows, float tolerance, const Workers& workers)
        : rows_(rows), keys_(tolerance), axes_(std::min(rows.size(), kGridAxes)), workers_(workers),
          grid_(workers.parts()), owner_(rows.count(), kNone) {}

    std::vector<std::uint32_t> run(float tolerance) {
        const std::size_t n = rows_.count();
        if (n < 2 || rows_.size() == 0 || !(tolerance >= 0.0f)) return std::move(owner_);
        flags_.assign(n, 0);
        hashOf_.assign(n, 0);
        next_.assign(n, kNone);
        workers_.forEachRange(n, [&](std::size_t b, std::size_t e) { placeRows(b, e); });
        workers_.forEachPart([&](std::size_t p) { chainCells(p); });
        // On one worker every row goes through the one walk, which then is
        // the plain walk over all rows.
        const bool split = grid_.parts() > 1;
        if (split) {
            workers_.forEachRange(n, [&](std::size_t b, std::size_t e) { findSeeds(b, e); });
            workers_.forEachPart([&](std::size_t p) { shareCells(p); });
        }
        if (!split) {
            walkShared(true);
            return std::move(owner_);
        }
        // The shared walk is the longest task, so it is queued first.
        workers_.forEachTask(grid_.parts() + 1, [&](std::size_t task) {
            if (task == 0)
                walkShared(false);
            else
                walkClean(task - 1);
        });
        return std::move(owner_);
    }

private:
    // Cell hash and flags of rows [b, e).
    void placeRows(std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            if (rows_.matchesNothing(k, keys_.infiniteValuesMatch())) {
                flags_[k] = kOutside;
                continue;
            }
            float lead[kGridAxes] = {0, 0, 0};
            std::uint32_t exactBits = 0;
            rows_.lead(k, axes_, lead, exactBits);
            std::int64_t key[kGridAxes] = {0, 0, 0};
            bool straddles = false;
            for (std::size_t a = 0; a < axes_; ++a) {
                key[a] = keys_.key(lead[a]);
                straddles = straddles || keys_.mayStraddle(lead[a]);
            }
            hashOf_[k] = cellHash(key, exactBits);
            if (straddles) flags_[k] = kStraddles;
        }
    }

    // The table and chains of one part. Chains are built from the last row
    // down, so each ends up ascending.
    void chainCells(std::size_t part) {
        const std::size_t n = rows_.count();
        std::size_t cells = 0;
        for (std::size_t k = 0; k < n; ++k)
            if (!(flags_[k] & kOutside) && grid_.partOf(hashOf_[k]) == part) ++cells;
        CellTable& table = grid_.table(part);
        table = CellTable(cells);
        for (std::size_t k = n; k-- > 0;) {
            if ((flags_[k] & kOutside) || grid_.partOf(hashOf_[k]) != part) continue;
            std::uint32_t& head = *table.insert(hashOf_[k], kNone).first;
            next_[k] = head;
            head = static_cast<std::uint32_t>(k);
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

    // Seeds among rows [b, e): rows with a match in another cell.
    void findSeeds(std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            if (!(flags_[k] & kStraddles)) continue;
            forEachNeighbourCell(k, [&](std::uint32_t hash) {
                for (std::uint32_t j = grid_.firstRow(hash); j != kNone; j = next_[j])
                    if (rows_.match(k, j)) {
                        flags_[k] |= kSeed;
                        return true;
                    }
                return false;
            });
        }
    }

    // Marks every row of the cells of one part that hold a seed.
    void shareCells(std::size_t part) {
        const std::size_t n = rows_.count();
        for (std::size_t k = 0; k < n; ++k) {
            // Other parts' workers write the flags of their rows meanwhile.
            if (grid_.partOf(hashOf_[k]) != part || (flags_[k] & (kSeed | kShared)) != kSeed) continue;
            for (std::uint32_t j = grid_.firstRow(hashOf_[k]); j != kNone; j = next_[j]) flags_[j] |= kShared;
        }
    }

    // Row k, a representative, claims every later row of the chain from
    // `first` that matches it; a later claim by another representative wins.
    void claim(std::size_t k, std::uint32_t first) {
        for (std::uint32_t j = first; j != kNone; j = next_[j])
            if (j > k && rows_.match(k, j)) owner_[j] = static_cast<std::uint32_t>(k);
    }

    // The rows of clean cells of one part, in index order, within their cell.
    void walkClean(std::size_t part) {
        const std::size_t n = rows_.count();
        for (std::size_t k = 0; k < n; ++k) {
            // Owners are read only for this part's rows: the other parts'
            // walks write theirs meanwhile.
            if ((flags_[k] & (kOutside | kShared)) || grid_.partOf(hashOf_[k]) != part || owner_[k] != kNone)
                continue;
            claim(k, next_[k]);
        }
    }

    // The rows of shared cells (all rows when `everyRow`), in index order,
    // within their cell and the neighbour cells.
    void walkShared(bool everyRow) {
        const std::size_t n = rows_.count();
        for (std::size_t k = 0; k < n; ++k) {
            if (flags_[k] & kOutside) continue;
            // The flag first: a clean row's owner is written meanwhile by its
            // part's walk, so the shared walk must not read it.
            if (!everyRow && !(flags_[k] & kShared)) continue;
            if (owner_[k] != kNone) continue;
            claim(k, next_[k]);
            if (!(flags_[k] & kStraddles)) continue;
            forEachNeighbourCell(k, [&](std::uint32_t hash) {
                const std::uint32_t first = grid_.firstRow(hash);
                // A clean cell holds no match of a shared row.
                if (first != kNone && (everyRow || (flags_[first] & kShared))) claim(k, first);
                return false;
            });
        }
    }

    const Rows& rows_;
    const CellKeys keys_;
    const std::size_t axes_;
    const Workers& workers_;
    Grid grid_;
    std::vector<std::uint32_t> owner_;
    std::vector<std::uint8_t> flags_;
    std::vector<std::uint32_t> hashOf_;
    std::vector<std::uint32_t> next_;
};

}  // namespace

std::size_t weldVertices(Vertices& vertices, Indices& indexList, float tolerance) {
    return weldVertices(vertices, indexList, tolerance, Workers());
}

std::size_t weldVertices(Vertices& vertices, Indices& indexList, float tolerance, const Workers& workers) {
    std::vector<std::uint32_t>& indices = indexList.indices;
    const std::size_t count = vertices.vertexCount();
    // Vertex numbers must fit the 32-bit lists below, kNone excluded.
    if (count >= kNone) QZ_THROW("Vertex data holds too many vertices to weld.");

    // Phase 1: which vertices some index names.
    std::vector<std::uint8_t> used(count, 0);
    workers.forEachRange(indices.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            const std::uint32_t i = indices[k];
            if (i >= count) throw std::out_of_range("invalid vector<bool> subscript");
            std::atomic_ref<std::uint8_t>(used[i]).store(1, std::memory_order_relaxed);
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
        keptNumber.assign(count, kNone);
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
    // vertex its representative's (an earlier row, so already numbered).
    std::vector<std::uint32_t> finalNumber(n);
    std::size_t representatives = 0;
    for (std::size_t j = 0; j < n; ++j)
        finalNumber[j] = owner[j] != kNone ? finalNumber[owner[j]] : static_cast<std::uint32_t>(representatives++);
    const std::size_t merged = n - representatives;
    if (unreferenced == 0 && merged == 0) return 0;

    // Phase 5: the representatives' rows become the vertex data. Ranges of
    // representatives are copied in parallel into fresh arrays.
    std::vector<std::uint32_t> sourceOf(representatives);
    for (std::size_t j = 0; j < n; ++j)
        if (owner[j] == kNone) sourceOf[finalNumber[j]] = kept.empty() ? static_cast<std::uint32_t>(j) : kept[j];
    owner = {};
    for (const auto& [code, a] : vertices.getAttributes()) {
        const std::size_t c = a.components;
        if (c == 0) continue;
        std::vector<float> data(representatives * c);
        const float* src = a.data.data();
        workers.forEachRange(representatives, [&](std::size_t b, std::size_t e) {
            for (std::size_t r = b; r < e; ++r)
                std::memcpy(&data[r * c], src + std::size_t(sourceOf[r]) * c, c * sizeof(float));
        });
        vertices.getAttribute(code).data.swap(data);
    }
    for (const auto& [code, a] : vertices.getAttributes())
        if (a.components == 0) vertices.getAttribute(code).data.clear();

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
