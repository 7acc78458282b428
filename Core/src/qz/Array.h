#pragma once
// Fixed-size array whose every element access is bounds-checked.
//
// qz::array<T, N> is an aggregate (brace-initialisable like a C array) holding
// N values of T inline. operator[] and at() throw std::out_of_range with the
// text "qz::array: index out of range" for any index at or past N; there is no
// unchecked access apart from data() and the iterators.

#include <cstddef>
#include <stdexcept>

namespace qz {

template <typename T, std::size_t N>
struct array {
    static_assert(N > 0, "qz::array needs at least one element");

    T elements[N];

    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;

    T& operator[](std::size_t index) { return elements[checked(index)]; }
    const T& operator[](std::size_t index) const { return elements[checked(index)]; }
    T& at(std::size_t index) { return elements[checked(index)]; }
    const T& at(std::size_t index) const { return elements[checked(index)]; }

    static constexpr std::size_t size() noexcept { return N; }
    T* data() noexcept { return elements; }
    const T* data() const noexcept { return elements; }

    iterator begin() noexcept { return elements; }
    iterator end() noexcept { return elements + N; }
    const_iterator begin() const noexcept { return elements; }
    const_iterator end() const noexcept { return elements + N; }

    void fill(const T& value) {
        for (auto& element : elements) element = value;
    }

    friend bool operator==(const array& a, const array& b) {
        for (std::size_t i = 0; i < N; ++i)
            if (!(a.elements[i] == b.elements[i])) return false;
        return true;
    }

private:
    static std::size_t checked(std::size_t index) {
        if (index >= N) throw std::out_of_range("qz::array: index out of range");
        return index;
    }
};

}  // namespace qz
