#pragma once
// Key reduction as first written: the result kept as a vector re-sorted after
// every key it gains, and every key checked again after each round of the
// repair. Quadratic, and the definition model::utils::reduceKeys must match
// key for key: the benchmark measures against it and the C++ tests compare
// with it.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "utils/KeyReduction.h"

namespace reference {

template <class Key, class Blend>
std::vector<Key> reduceKeys(const std::vector<Key>& sorted, double tolerance, Blend blend) {
    if (sorted.size() < 2) return sorted;
    const auto byTime = [](const Key& a, const Key& b) { return a.time < b.time; };
    const auto reproduces = [&](const std::vector<Key>& curve, const Key& key) {
        const auto value = model::utils::evaluateCurve(curve, key.time, blend);
        for (std::size_t i = 0; i < value.size(); ++i)
            if (!(std::fabs(value[i] - key.value[i]) <= tolerance)) return false;
        return true;
    };
    std::vector<Key> result{sorted.front()};
    const auto visit = [&](const Key& key) {
        if (reproduces(result, key)) return;
        result.push_back(key);
        std::stable_sort(result.begin(), result.end(), byTime);
    };
    for (std::size_t i = sorted.size(); i-- > 0;) visit(sorted[i]);
    visit(sorted.back());
    for (;;) {
        std::vector<Key> missed;
        for (const Key& key : sorted)
            if (!reproduces(result, key)) missed.push_back(key);
        std::erase_if(missed, [&](const Key& key) {
            return std::any_of(result.begin(), result.end(), [&](const Key& r) { return r.time == key.time; });
        });
        if (missed.empty()) return result;
        result.insert(result.end(), missed.begin(), missed.end());
        std::stable_sort(result.begin(), result.end(), byTime);
    }
}

}  // namespace reference
