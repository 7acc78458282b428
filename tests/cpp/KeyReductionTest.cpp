// Key reduction: the log-time result list keeps exactly the keys of the
// re-sorting definition, on every kind of key list scripts hand it.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "../../bench/KeyReductionReference.h"
#include "nodes/AnimationEvaluation.h"
#include "utils/KeyReduction.h"

using model::utils::CurveKey;

namespace {

using Key3 = CurveKey<3>;

// Seeded key lists: `times` picks a key's time, `value` its components.
template <class Key, class Time, class Value>
std::vector<Key> keyList(std::mt19937& rng, std::size_t n, Time time, Value value) {
    std::vector<Key> keys(n);
    for (std::size_t i = 0; i < n; ++i) {
        keys[i].time = time(rng, i);
        for (double& c : keys[i].value) c = value(rng, keys[i].time);
    }
    model::utils::sortKeysByTime(keys);
    return keys;
}

template <class Key, class Blend>
void expectSameAsDefinition(const std::vector<Key>& sorted, double tolerance, Blend blend) {
    const auto got = model::utils::reduceKeys(sorted, tolerance, blend);
    const auto want = reference::reduceKeys(sorted, tolerance, blend);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        // Bitwise, NaN values included.
        EXPECT_EQ(std::memcmp(&got[i], &want[i], sizeof(Key)), 0) << "key " << i << " of " << sorted.size();
    }
}

using Source = std::vector<Key3> (*)(std::mt19937&, std::size_t);

std::vector<Key3> noisyCurve(std::mt19937& rng, std::size_t n) {
    std::normal_distribution<double> noise(0.0, 1e-4);
    return keyList<Key3>(rng, n, [](auto&, std::size_t i) { return double(i) / 30.0; },
                         [&](auto& r, double t) { return std::sin(t) + noise(r); });
}
// Few distinct values on a coarse grid: greedy thinning misses keys there.
std::vector<Key3> steps(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> pick(0, 4), grid(0, 20);
    static constexpr double kSteps[] = {0.0, 1.0, 2.0, -1.0, 0.5};
    return keyList<Key3>(rng, n, [&](auto& r, std::size_t) { return grid(r) / 20.0; },
                         [&](auto& r, double) { return kSteps[pick(r)]; });
}
// Runs of equal times and a NaN now and then: the result keeps one curve.
std::vector<Key3> tiesAndNaN(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> grid(0, 6), nan(0, 15);
    return keyList<Key3>(rng, n, [&](auto& r, std::size_t) { return grid(r) * 0.25; }, [&](auto& r, double t) {
        return nan(r) == 0 ? std::numeric_limits<double>::quiet_NaN() : t * t;
    });
}
// Straight lines with corners: most keys go.
std::vector<Key3> polyline(std::mt19937& rng, std::size_t n) {
    std::uniform_int_distribution<int> corner(0, 9);
    double slope = 1.0, y = 0.0;
    return keyList<Key3>(rng, n, [](auto&, std::size_t i) { return double(i); }, [&](auto& r, double) {
        if (corner(r) == 0) slope = -slope;
        return y += slope / 3.0;
    });
}

class KeyReductionMatchesDefinition : public testing::TestWithParam<Source> {};

}  // namespace

TEST_P(KeyReductionMatchesDefinition, KeepsTheSameKeysForAnyListLength) {
    std::mt19937 rng(7);
    for (const std::size_t n : {0, 1, 2, 3, 5, 8, 13, 40, 300})
        for (int round = 0; round < 20; ++round) {
            const auto keys = GetParam()(rng, n);
            expectSameAsDefinition(keys, 1e-4, model::utils::LinearBlend{});
            expectSameAsDefinition(keys, 0.3, model::utils::LinearBlend{});
        }
}

INSTANTIATE_TEST_SUITE_P(Lists, KeyReductionMatchesDefinition,
                         testing::Values(noisyCurve, steps, tiesAndNaN, polyline));

TEST(KeyReduction, RotationKeysKeepTheSameKeysAsTheDefinitionAlongTheShorterPath) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> angle(-3.0, 3.0);
    std::uniform_int_distribution<int> sign(0, 1);
    for (int round = 0; round < 50; ++round) {
        std::vector<model::RotationKey> keys(40);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const double a = angle(rng) * (round % 2 ? 1e-3 : 1.0), s = sign(rng) ? 1.0 : -1.0;
            keys[i] = {double(i) / 8.0, {0.0, 0.0, s * std::sin(a / 2), s * std::cos(a / 2)}};
        }
        expectSameAsDefinition(keys, 1e-4, model::slerpQuaternion);
    }
}

TEST(KeyReduction, KeyDroppedEarlyThatTheFinalCurveMissesComesBack) {
    // The greedy pass alone reads 0.5 at t = 0.5.
    std::vector<CurveKey<1>> keys{{0, {0}}, {0.25, {1}}, {0.5, {0}}, {0.75, {0}}, {1, {1}}};
    const auto reduced = model::utils::reduceKeys(keys, 1e-4, model::utils::LinearBlend{});
    for (const auto& key : keys) EXPECT_NEAR(model::utils::evaluateLinear(reduced, key.time)[0], key.value[0], 1e-4);
}
