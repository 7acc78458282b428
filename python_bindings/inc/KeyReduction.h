#pragma once
// Sorting and thinning of animation key lists coming from scripts.
//
// A key here is any struct with `double time` and `value`, a std::array of
// doubles (one per component). Exporters sample curves densely; keys that
// the remaining ones already reproduce within a tolerance are dropped so the
// file keeps only the keys that shape the curve.
//
// Contract:
//  - sortKeysByTime() orders by time, ascending (keys of equal time keep
//    their input order). It raises std::invalid_argument ("key time is not a
//    number") for a NaN time, which has no place in an order.
//  - reduceKeys(sorted, tolerance, evaluate): for fewer than two keys, the
//    keys as given. Otherwise the result starts with the earliest key; the
//    keys are then visited from the last back to the first, and the last once
//    more. A visited key is dropped when evaluate(result, key.time) matches
//    every component of its value within `tolerance` (absolute difference);
//    otherwise it joins the result, which is re-sorted by time. Then every
//    input key is checked against the final result, and the ones it misses
//    are added (and the check repeated) until it reproduces each key within
//    `tolerance`, except keys sharing a time with a result key (a curve can
//    hold one value per time). A result that already reproduces every key
//    is returned as the pass left it.
//  - evaluateLinear(keys, t): the curve of sorted keys at t: the first value
//    at or before the first time, the last at or after the last time,
//    otherwise the linear blend of the two keys around t.
//  - sortAndReduce(): sort, reduce, and keep the sorted list itself unless
//    the reduction changed the number of keys.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <vector>

namespace pytav {

template <std::size_t N>
struct CurveKey {
    double time = 0.0;
    std::array<double, N> value{};
};

template <class Key>
void sortKeysByTime(std::vector<Key>& keys) {
    for (const Key& k : keys)
        if (std::isnan(k.time)) throw std::invalid_argument("key time is not a number");
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.time < b.time; });
}

template <class Key>
auto evaluateLinear(const std::vector<Key>& keys, double t) -> decltype(Key::value) {
    if (t <= keys.front().time) return keys.front().value;
    if (t >= keys.back().time) return keys.back().value;
    const auto upper = std::upper_bound(keys.begin(), keys.end(), t,
                                        [](double time, const Key& k) { return time < k.time; });
    const Key& b = *upper;
    const Key& a = *(upper - 1);
    // a.time <= t < b.time, so the span is positive.
    const double f = (t - a.time) / (b.time - a.time);
    auto value = a.value;
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = a.value[i] + (b.value[i] - a.value[i]) * f;
    return value;
}

template <class Key, class Evaluate>
std::vector<Key> reduceKeys(const std::vector<Key>& sorted, double tolerance, Evaluate evaluate) {
    if (sorted.size() < 2) return sorted;
    const auto byTime = [](const Key& a, const Key& b) { return a.time < b.time; };
    // A NaN difference is not "within tolerance": such a key stays.
    const auto reproduces = [&](const std::vector<Key>& curve, const Key& key) {
        const auto value = evaluate(curve, key.time);
        for (std::size_t i = 0; i < value.size(); ++i)
            if (!(std::fabs(value[i] - key.value[i]) <= tolerance)) return false;
        return true;
    };

    // Greedy pass: a key joins the result when the result so far misses it.
    std::vector<Key> result{sorted.front()};
    const auto visit = [&](const Key& key) {
        if (reproduces(result, key)) return;
        result.push_back(key);
        std::stable_sort(result.begin(), result.end(), byTime);
    };
    for (std::size_t i = sorted.size(); i-- > 0;) visit(sorted[i]);
    visit(sorted.back());

    // A key added late in the pass can bend the curve at a key dropped
    // earlier. Bring back every key the final curve misses, until it
    // reproduces them all (each round adds at least one key, so this ends).
    for (;;) {
        std::vector<Key> missed;
        for (const Key& key : sorted)
            if (!reproduces(result, key)) missed.push_back(key);
        if (missed.empty()) return result;
        // A missed key whose time is already in the result cannot be helped
        // by adding it again (the curve is taken at the first key of equal
        // time); keep such keys out so that the loop ends.
        std::erase_if(missed, [&](const Key& key) {
            return std::any_of(result.begin(), result.end(), [&](const Key& r) { return r.time == key.time; });
        });
        if (missed.empty()) return result;
        result.insert(result.end(), missed.begin(), missed.end());
        std::stable_sort(result.begin(), result.end(), byTime);
    }
}

template <class Key, class Evaluate>
void sortAndReduce(std::vector<Key>& keys, float tolerance, Evaluate evaluate) {
    sortKeysByTime(keys);
    std::vector<Key> reduced = reduceKeys(keys, static_cast<double>(tolerance), evaluate);
    if (reduced.size() != keys.size()) keys = std::move(reduced);
}

template <class Key>
void sortAndReduceLinear(std::vector<Key>& keys, float tolerance) {
    sortAndReduce(keys, tolerance, [](const std::vector<Key>& k, double t) { return evaluateLinear(k, t); });
}

}  // namespace pytav
