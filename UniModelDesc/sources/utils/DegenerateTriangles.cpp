#include "utils/DegenerateTriangles.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace model::utils {
namespace {

constexpr float kCloseDistance = 1e-4f;

class DegenerateTest {
public:
    explicit DegenerateTest(const Vertices& vertices) {
        const VertexAttribute* positions = vertices.findAttribute(POSITION0);
        if (!positions || positions->components == 0) return;
        data_ = positions->data.data();
        stride_ = positions->components;
        axes_ = std::min<std::size_t>(stride_, 3);
        rows_ = positions->rowCount();
    }

    // Each block of indices is checked by its largest, without a branch per
    // index, on the workers: the list runs to tens of megabytes. Only a
    // failed check looks for the first index past the positions.
    void checkIndices(const std::vector<std::uint32_t>& indices, const Workers& workers) const {
        if (!data_) return;
        constexpr std::size_t kBlock = 1024;
        std::atomic<bool> past{false};
        workers.forEachRange(indices.size(), [&](std::size_t b, std::size_t e) {
            for (std::size_t at = b; at < e && !past.load(std::memory_order_relaxed); at += kBlock) {
                std::uint32_t highest = 0;
                for (std::size_t k = at; k < std::min(e, at + kBlock); ++k) highest = std::max(highest, indices[k]);
                if (highest >= rows_) past = true;
            }
        });
        if (!past) return;
        const std::uint32_t i = *std::find_if(indices.begin(), indices.end(), [&](std::uint32_t i) { return i >= rows_; });
        throw std::out_of_range("Triangle index " + std::to_string(i) + " is past the " + std::to_string(rows_) +
                                " positions.");
    }

    bool operator()(const std::uint32_t* t) const noexcept {
        if (t[0] == t[1] || t[0] == t[2] || t[1] == t[2]) return true;
        if (!data_) return false;
        const float* p0 = data_ + std::size_t(t[0]) * stride_;
        const float* p1 = data_ + std::size_t(t[1]) * stride_;
        const float* p2 = data_ + std::size_t(t[2]) * stride_;
        int close = 0;
        for (std::size_t a = 0; a < axes_; ++a)
            if (std::fabs(p0[a] - p1[a]) <= kCloseDistance && std::fabs(p0[a] - p2[a]) <= kCloseDistance) ++close;
        return close >= 2;
    }

private:
    const float* data_ = nullptr;
    std::size_t stride_ = 0;
    std::size_t axes_ = 0;
    std::size_t rows_ = 0;
};

std::size_t scanOnce(const DegenerateTest& degenerate, std::vector<std::uint32_t>& indices, const Workers& workers) {
    const std::size_t n = indices.size();
    std::uint32_t* d = indices.data();
    // Phase 1: which triangles are degenerate. Each is judged on its own
    // indices, wherever the scan finds it, so all are judged at once. The
    // processor runs far enough ahead to fetch the positions of welded
    // triangles, which lie anywhere: asking for them earlier measured slower.
    std::vector<std::uint8_t> bad(n / 3);
    workers.forEachRange(bad.size(), [&](std::size_t b, std::size_t e) {
        for (std::size_t t = b; t < e; ++t) bad[t] = degenerate(d + 3 * t);
    });
    if (std::find(bad.begin(), bad.end(), std::uint8_t(1)) == bad.end()) return 0;

    // Phase 2: the scan.
    std::size_t read = 0;
    std::size_t write = 0;
    std::size_t removed = 0;
    auto keep = [&] {
        if (write != read) std::copy_n(d + read, 3, d + write);
        write += 3;
        read += 3;
    };
    while (read + 3 <= n) {
        if (!bad[read / 3]) {
            keep();
            continue;
        }
        ++removed;
        read += 3;
        // Erasing in place moves the next triangle into the current position,
        // which the scan has already passed.
        if (read + 3 <= n) keep();
    }
    if (removed == 0) return 0;
    std::copy(d + read, d + n, d + write);
    indices.resize(write + (n - read));
    return removed;
}

}  // namespace

std::size_t removeDegenerateTriangles(const Vertices& vertices, std::vector<std::uint32_t>& indices,
                                      std::size_t runs, const Workers& workers) {
    DegenerateTest(vertices).checkIndices(indices, workers);
    return removeDegenerateTriangles(vertices, indices, runs, workers, IndicesInRange{});
}

std::size_t removeDegenerateTriangles(const Vertices& vertices, std::vector<std::uint32_t>& indices,
                                      std::size_t runs, const Workers& workers, IndicesInRange) {
    const DegenerateTest degenerate(vertices);
    std::size_t total = 0;
    for (std::size_t run = 0; run < runs; ++run) {
        const std::size_t removed = scanOnce(degenerate, indices, workers);
        if (removed == 0) break;
        total += removed;
    }
    return total;
}

}  // namespace model::utils
