// Key reduction of long, noisy position key lists (a curve sampled per frame
// with noise above the tolerance, so that most keys stay) against the
// re-sorting definition it replaced, both in this process on the same keys.
// Prints the CPU seconds of both at 16,000 keys and their ratio, and the
// reduction alone at 48,000 keys. Exits with 1 when the ratio is above 0.05
// or 48,000 keys take half a second or more.

#include <cstdio>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "KeyReductionReference.h"
#include "nodes/AnimationEvaluation.h"
#include "utils/KeyReduction.h"

namespace {

constexpr double kTolerance = 1e-4;
constexpr double kRatioLimit = 0.05;
constexpr double kLongLimit = 0.5;

std::vector<model::PositionKey> noisyKeys(std::size_t n) {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1e-3);
    std::vector<model::PositionKey> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / 24.0;
        keys[i] = {t, {std::sin(t) + noise(rng), std::cos(t) + noise(rng), t + noise(rng)}};
    }
    return keys;
}

template <class Reduce>
double secondsOf(const std::vector<model::PositionKey>& keys, Reduce reduce, std::size_t& kept) {
    const double start = bench::cpuSeconds();
    kept = reduce(keys, kTolerance, model::utils::LinearBlend{}).size();
    return bench::cpuSeconds() - start;
}

}  // namespace

int main() {
    const auto keys = noisyKeys(16000);
    std::size_t keptNew = 0, keptOld = 0, keptLong = 0;
    const double now = secondsOf(keys, [](auto&&... a) { return model::utils::reduceKeys(a...); }, keptNew);
    const double before = secondsOf(keys, [](auto&&... a) { return reference::reduceKeys(a...); }, keptOld);
    const double ratio = now / before;
    const double longer = secondsOf(noisyKeys(48000), [](auto&&... a) { return model::utils::reduceKeys(a...); },
                                    keptLong);
    std::printf("key reduction: 16000 keys (%zu kept) %.4f s against %.3f s before, ratio %.4f (limit %g)\n",
                keptNew, now, before, ratio, kRatioLimit);
    std::printf("key reduction: 48000 keys (%zu kept) %.4f s (limit %g s)\n", keptLong, longer, kLongLimit);
    if (keptNew != keptOld) {
        std::fprintf(stderr, "the two reductions kept different keys\n");
        return 2;
    }
    return ratio <= kRatioLimit && longer < kLongLimit ? 0 : 1;
}
