#pragma once
// model::utils key reduction: sorting and thinning of animation key lists.
//
// A key here is any struct with `double time` and `value`, a std::array of
// doubles (one per component). Exporters sample curves densely; keys that
// the remaining ones already reproduce within a tolerance are dropped so the
// file keeps only the keys that shape the curve.
//
// Contract (every function touches only its arguments):
//  - sortKeysByTime(keys) orders by time, ascending (keys of equal time keep
//    their input order). It throws std::invalid_argument ("key time is not a
//    number") for a NaN time, which has no place in an order, before any key
//    moves.
//  - evaluateCurve(keys, t, blend): the curve of non-empty sorted keys at t:
//    the first value at or before the first time, the last at or after the
//    last time, otherwise blend(a.value, b.value, f) of the last key a at or
//    before t and the first key b after it, f = (t - a.time) / (b.time -
//    a.time). evaluateLinear(keys, t) is that with the linear blend.
//  - reduceKeys(sorted, tolerance, blend) takes keys sorted by time and
//    returns a new list: for fewer than two keys, the keys as given.
//    Otherwise the result starts with the earliest key; the keys are then
//    visited from the last back to the first, and the last once more. A
//    visited key is dropped when the curve of the result so far matches
//    every component of its value within `tolerance` (absolute difference;
//    NaN never matches); otherwise it joins the result after every result
//    key of time at or before its own. Then every input key is checked
//    against the final result, and the ones it misses are added (and the
//    check repeated) until it reproduces each key within `tolerance`, except
//    keys sharing a time with a result key (a curve holds one value per
//    time). A result that already reproduces every key is returned as the
//    pass left it.
//    Cost: O(n log n) for the pass; each later round rechecks only the keys
//    in the spans its added keys changed.
//  - sortAndReduce(keys, tolerance, blend): sort, reduce, and keep the sorted
//    list itself unless the reduction changed the number of keys.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace model::utils {

template <std::size_t N>
struct CurveKey {
    double time = 0.0;
    std::array<double, N> value{};
};

// a + (b - a) * f per component.
struct LinearBlend {
    template <class Value>
    Value operator()(const Value& a, const Value& b, double f) const {
        Value value = a;
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = a[i] + (b[i] - a[i]) * f;
        return value;
    }
};

template <class Key>
void sortKeysByTime(std::vector<Key>& keys) {
    for (const Key& k : keys)
        if (std::isnan(k.time)) throw std::invalid_argument("key time is not a number");
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.time < b.time; });
}

namespace detail {

// The curve at t of keys held in time order by any bidirectional container
// with upper_bound(t) (a sorted vector or the reduction's multiset).
template <class Value, class First, class Last, class Upper, class Blend>
Value evaluateBetween(const First& first, const Last& last, double t, Upper upper, Blend& blend) {
    if (t <= first.time) return first.value;
    if (t >= last.time) return last.value;
    // first.time < t < last.time: the key after t exists and is not the first.
    const auto [a, b] = upper(t);
    return blend(a.value, b.value, (t - a.time) / (b.time - a.time));
}

// Orders indices into a key list by the keys' times; a time alone finds
// its place among them.
template <class Key>
struct IndexByTime {
    using is_transparent = void;
    const std::vector<Key>* keys;
    bool operator()(std::size_t a, std::size_t b) const { return (*keys)[a].time < (*keys)[b].time; }
    bool operator()(std::size_t a, double t) const { return (*keys)[a].time < t; }
    bool operator()(double t, std::size_t b) const { return t < (*keys)[b].time; }
};

}  // namespace detail

template <class Key, class Blend>
auto evaluateCurve(const std::vector<Key>& keys, double t, Blend blend) -> decltype(Key::value) {
    using Value = decltype(Key::value);
    return detail::evaluateBetween<Value>(keys.front(), keys.back(), t, [&](double time) {
        const auto b = std::upper_bound(keys.begin(), keys.end(), time,
                                        [](double value, const Key& k) { return value < k.time; });
        return std::pair<const Key&, const Key&>(*(b - 1), *b);
    }, blend);
}

template <class Key>
auto evaluateLinear(const std::vector<Key>& keys, double t) -> decltype(Key::value) {
    return evaluateCurve(keys, t, LinearBlend{});
}

template <class Key, class Blend>
std::vector<Key> reduceKeys(const std::vector<Key>& sorted, double tolerance, Blend blend) {
    if (sorted.size() < 2) return sorted;
    using Value = decltype(Key::value);

    // The result as indices into `sorted`, ordered by time. A multiset puts
    // an equal-time key after the ones already there, which is where the
    // re-sort of a growing list would put it, in log time instead of linear.
    using Curve = std::multiset<std::size_t, detail::IndexByTime<Key>>;
    Curve result(detail::IndexByTime<Key>{&sorted});

    const auto at = [&](double t) {
        return detail::evaluateBetween<Value>(sorted[*result.begin()], sorted[*result.rbegin()], t,
                                              [&](double time) {
                                                  const auto b = result.upper_bound(time);
                                                  return std::pair<const Key&, const Key&>(
                                                      sorted[*std::prev(b)], sorted[*b]);
                                              },
                                              blend);
    };
    // A NaN difference is not "within tolerance": such a key stays.
    const auto reproduces = [&](const Key& key) {
        const Value value = at(key.time);
        for (std::size_t i = 0; i < value.size(); ++i)
            if (!(std::fabs(value[i] - key.value[i]) <= tolerance)) return false;
        return true;
    };

    // Greedy pass: a key joins the result when the result so far misses it.
    result.insert(0);
    const auto visit = [&](std::size_t i) {
        if (!reproduces(sorted[i])) result.insert(i);
    };
    for (std::size_t i = sorted.size(); i-- > 0;) visit(i);
    visit(sorted.size() - 1);

    // A key added late in the pass can bend the curve at a key dropped
    // earlier. Bring back every key the final curve misses, until it
    // reproduces them all. The curve changes only between the neighbours of
    // keys just added, so after the first round only the keys there are
    // checked again; every round adds a key, so this ends.
    std::vector<std::size_t> check(sorted.size());
    for (std::size_t i = 0; i < check.size(); ++i) check[i] = i;
    for (;;) {
        // A missed key whose time is already in the result cannot be helped
        // by adding it again (the curve is taken at the last key of equal
        // time); keep such keys out so that the loop ends.
        std::vector<std::size_t> missed;
        for (const std::size_t i : check)
            if (!reproduces(sorted[i]) && !result.contains(sorted[i].time)) missed.push_back(i);
        if (missed.empty()) break;

        std::vector<typename Curve::iterator> added;
        added.reserve(missed.size());
        for (const std::size_t i : missed) added.push_back(result.insert(i));

        // The keys within [previous, next] of each added key, in input order.
        std::vector<std::pair<std::size_t, std::size_t>> spans;
        for (const auto& it : added) {
            const double from = sorted[*std::prev(it)].time;  // the earliest key is never added
            const auto next = std::next(it);
            const auto begin = std::lower_bound(sorted.begin(), sorted.end(), from,
                                                [](const Key& k, double t) { return k.time < t; });
            const auto end = next == result.end()
                                 ? sorted.end()
                                 : std::upper_bound(sorted.begin(), sorted.end(), sorted[*next].time,
                                                    [](double t, const Key& k) { return t < k.time; });
            spans.emplace_back(begin - sorted.begin(), end - sorted.begin());
        }
        std::sort(spans.begin(), spans.end());
        check.clear();
        for (const auto& [begin, end] : spans)
            for (std::size_t i = std::max(begin, check.empty() ? 0 : check.back() + 1); i < end; ++i)
                check.push_back(i);
    }

    std::vector<Key> reduced;
    reduced.reserve(result.size());
    for (const std::size_t i : result) reduced.push_back(sorted[i]);
    return reduced;
}

template <class Key, class Blend>
void sortAndReduce(std::vector<Key>& keys, float tolerance, Blend blend) {
    sortKeysByTime(keys);
    std::vector<Key> reduced = reduceKeys(keys, static_cast<double>(tolerance), blend);
    if (reduced.size() != keys.size()) keys = std::move(reduced);
}

template <class Key>
void sortAndReduceLinear(std::vector<Key>& keys, float tolerance) {
    sortAndReduce(keys, tolerance, LinearBlend{});
}

}  // namespace model::utils
