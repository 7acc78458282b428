#include "utils/VertexWeld.h"

#include <algorithm>
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

private:
    // -0 and +0 differ by 0, so they must share a key.
    static std::int64_t exactKey(float v) noexcept {
        return kExactKeyBase + std::int64_t(std::bit_cast<std::uint32_t>(v + 0.0f));
    }

    double halo_ = 0.0;
    double inverse_ = 0.0;
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

// Rows that can't match any row: a NaN never compares within the tolerance,
// and an infinite value only under an infinite tolerance.
bool matchesNothing(const float* row, std::size_t rowSize, std::size_t exact, bool infiniteMatches) noexcept {
    for (std::size_t f = 0; f < rowSize; ++f) {
        if (f == exact) continue;
        if (std::isnan(row[f]) || (!infiniteMatches && std::isinf(row[f]))) return true;
    }
    return false;
}

bool rowsMatch(const float* a, const float* b, std::size_t rowSize, std::size_t exact, float tolerance) noexcept {
    if (exact < rowSize && std::bit_cast<std::uint32_t>(a[exact]) != std::bit_cast<std::uint32_t>(b[exact]))
        return false;
    for (std::size_t f = 0; f < rowSize; ++f)
        if (f != exact && !(std::fabs(a[f] - b[f]) <= tolerance)) return false;
    return true;
}

// The grid: a table from cell hash to the first row of the cell, and per row
// the next row of its cell (rows of one cell are chained in ascending order,
// so a row's later candidates are simply its chain).
using CellTable = OpenAddressMap<std::uint32_t, std::uint32_t, kNone>;

std::uint32_t firstRow(const CellTable& table, std::uint32_t hash) noexcept {
    const std::uint32_t* head = table.find(hash);
    return head ? *head : kNone;
}

// owner[j]: the representative vertex j is merged into, kNone for the
// representatives themselves.
std::vector<std::uint32_t> findRepresentatives(const std::vector<float>& rows, std::size_t n, std::size_t rowSize,
                                               std::size_t exact, float tolerance) {
    std::vector<std::uint32_t> owner(n, kNone);
    if (n < 2 || rowSize == 0 || !(tolerance >= 0.0f)) return owner;

    const CellKeys keys(tolerance);
    const std::size_t axes = std::min(rowSize, kGridAxes);
    const bool hasExact = exact < rowSize;
    auto row = [&](std::size_t i) { return rows.data() + i * rowSize; };
    auto exactBits = [&](const float* r) { return hasExact ? std::bit_cast<std::uint32_t>(r[exact]) : 0u; };

    // Rows that match nothing stay out of the grid.
    std::vector<std::uint8_t> outside(n, 0);
    std::vector<std::uint32_t> hashOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float* r = row(i);
        if (matchesNothing(r, rowSize, exact, keys.infiniteValuesMatch())) {
            outside[i] = 1;
            continue;
        }
        std::int64_t k[kGridAxes] = {0, 0, 0};
        for (std::size_t a = 0; a < axes; ++a) k[a] = keys.key(r[a]);
        hashOf[i] = cellHash(k, exactBits(r));
    }

    // Chains are built from the last row down, so each ends up ascending.
    CellTable table(n);
    std::vector<std::uint32_t> next(n, kNone);
    for (std::size_t i = n; i-- > 0;) {
        if (outside[i]) continue;
        std::uint32_t& head = *table.insert(hashOf[i], kNone).first;
        next[i] = head;
        head = static_cast<std::uint32_t>(i);
    }

    auto claim = [&](std::size_t i, const float* a, std::uint32_t from) {
        for (std::uint32_t j = from; j != kNone; j = next[j])
            if (j > i && rowsMatch(a, row(j), rowSize, exact, tolerance)) owner[j] = static_cast<std::uint32_t>(i);
    };

    for (std::size_t i = 0; i < n; ++i) {
        if (owner[i] != kNone || outside[i]) continue;
        const float* a = row(i);
        claim(i, a, next[i]);

        std::int64_t lo[kGridAxes] = {0, 0, 0};
        std::int64_t hi[kGridAxes] = {0, 0, 0};
        bool straddles = false;
        for (std::size_t ax = 0; ax < axes; ++ax) {
            keys.range(a[ax], lo[ax], hi[ax]);
            straddles = straddles || lo[ax] != hi[ax];
        }
        if (!straddles) continue;

        const std::uint32_t eb = exactBits(a);
        std::uint32_t probed[8] = {hashOf[i]};
        std::size_t probedCount = 1;
        std::int64_t k[kGridAxes];
        for (k[0] = lo[0]; k[0] <= hi[0]; ++k[0])
            for (k[1] = lo[1]; k[1] <= hi[1]; ++k[1])
                for (k[2] = lo[2]; k[2] <= hi[2]; ++k[2]) {
                    const std::uint32_t hash = cellHash(k, eb);
                    if (std::find(probed, probed + probedCount, hash) != probed + probedCount) continue;
                    if (probedCount < 8) probed[probedCount++] = hash;
                    claim(i, a, firstRow(table, hash));
                }
    }
    return owner;
}

// The float of a row that must be bit-equal: the fourth position component,
// when there is one.
std::size_t exactIndexOf(const Vertices& vertices) noexcept {
    const VertexAttribute* positions = vertices.findAttribute(POSITION0);
    if (positions && positions->components >= 4) return 3;
    return vertices.vertexSize();
}

}  // namespace

std::size_t weldVertices(Vertices& vertices, Indices& indexList, float tolerance) {
    std::vector<std::uint32_t>& indices = indexList.indices;
    const std::size_t count = vertices.vertexCount();
    // Vertex numbers must fit the 32-bit lists below, kNone excluded.
    if (count >= kNone) QZ_THROW("Vertex data holds too many vertices to weld.");

    // Old number -> position among the kept vertices (kNone: unreferenced).
    std::vector<std::uint32_t> keptNumber(count, kNone);
    for (std::uint32_t i : indices) {
        if (i >= count) throw std::out_of_range("invalid vector<bool> subscript");
        keptNumber[i] = 0;
    }
    bool consistent = vertices.isValid();
    for (const auto& [code, a] : vertices.getAttributes())
        if (a.components != 0 && a.rowCount() != count) consistent = false;
    if (!consistent) QZ_THROW("Vertex data is invalid.");

    std::vector<std::uint32_t> kept;
    kept.reserve(count);
    for (std::size_t v = 0; v < count; ++v)
        if (keptNumber[v] != kNone) {
            keptNumber[v] = static_cast<std::uint32_t>(kept.size());
            kept.push_back(static_cast<std::uint32_t>(v));
        }
    const std::size_t n = kept.size();
    const std::size_t unreferenced = count - n;
    const std::size_t rowSize = vertices.vertexSize();

    std::vector<float> rows(n * rowSize);
    std::size_t offset = 0;
    for (const auto& [code, a] : vertices.getAttributes()) {
        const std::size_t c = a.components;
        if (c == 0) continue;
        const float* src = a.data.data();
        float* dst = rows.data() + offset;
        for (std::size_t k = 0; k < n; ++k)
            std::memcpy(dst + k * rowSize, src + std::size_t(kept[k]) * c, c * sizeof(float));
        offset += c;
    }

    const std::vector<std::uint32_t> owner =
        findRepresentatives(rows, n, rowSize, exactIndexOf(vertices), tolerance);
    std::vector<std::uint32_t> finalNumber(n);
    std::size_t representatives = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (owner[j] != kNone) {
            finalNumber[j] = finalNumber[owner[j]];
            continue;
        }
        if (representatives != j)
            std::memmove(rows.data() + representatives * rowSize, rows.data() + j * rowSize, rowSize * sizeof(float));
        finalNumber[j] = static_cast<std::uint32_t>(representatives++);
    }
    const std::size_t merged = n - representatives;
    if (unreferenced == 0 && merged == 0) return 0;

    vertices.deinterleave(std::span<const float>(rows.data(), representatives * rowSize), representatives);
    for (std::uint32_t& i : indices) i = finalNumber[keptNumber[i]];
    return unreferenced + merged;
}

}  // namespace model::utils
