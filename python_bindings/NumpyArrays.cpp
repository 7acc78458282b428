// Checked conversions and flat copies of NumPy arguments.

#include "NumpyArrays.h"

#include <cmath>
#include <limits>
#include <string>

#include <fmt/format.h>

namespace py = pybind11;

namespace pytav {

namespace {

constexpr std::uint64_t kLargestIndex = std::numeric_limits<std::uint32_t>::max();

// The array src stands for, in its own dtype; null when NumPy can't make
// one. Kinds that are not plain numbers are refused here, before any cast
// could turn them into numbers silently (a complex value losing its
// imaginary part, an object array calling float() on each item, a date
// becoming its day count).
py::array numericArray(py::handle src) {
    py::array raw = py::array::ensure(src);
    if (!raw) return raw;
    const char kind = raw.dtype().kind();
    if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f')
        throw py::type_error(fmt::format("Expected an array of numbers; got an array of dtype {}.",
                                         std::string(py::str(raw.dtype()))));
    return raw;
}

template <class T>
[[noreturn]] void refuseIndex(T value) {
    throw py::value_error(fmt::format("Index {} does not fit an unsigned 32-bit integer.", value));
}

// Every value of raw must be a whole number from 0 to 2^32 - 1: uint32 has
// no other values, and a cast would wrap or truncate anything else.
void checkIndexValues(const py::array& raw) {
    const char kind = raw.dtype().kind();
    const auto itemSize = static_cast<std::size_t>(raw.itemsize());
    if (kind == 'b' || (kind == 'u' && itemSize <= sizeof(std::uint32_t))) return;
    if (kind == 'u') {
        const auto wide = py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>::ensure(raw);
        const std::uint64_t* data = wide.data();
        for (py::ssize_t i = 0; i < wide.size(); ++i)
            if (data[i] > kLargestIndex) refuseIndex(data[i]);
    } else if (kind == 'i') {
        const auto wide = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>::ensure(raw);
        const std::int64_t* data = wide.data();
        for (py::ssize_t i = 0; i < wide.size(); ++i)
            if (data[i] < 0 || static_cast<std::uint64_t>(data[i]) > kLargestIndex) refuseIndex(data[i]);
    } else {
        const auto wide = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(raw);
        const double* data = wide.data();
        for (py::ssize_t i = 0; i < wide.size(); ++i) {
            const double v = data[i];
            // Written so that NaN fails too.
            if (!(v >= 0.0 && v <= static_cast<double>(kLargestIndex) && std::floor(v) == v)) refuseIndex(v);
        }
    }
}

template <class T, class Array>
std::vector<T> flatCopy(const Array& array) {
    // A scalar array has no elements to list; scripts passing one made a
    // mistake that a silent single value would hide.
    if (array.ndim() == 0) throw py::value_error("A zero-dimensional array can't be used as a list of values.");
    const T* data = array.data();
    return std::vector<T>(data, data + array.size());
}

}  // namespace

FloatArray toFloatArray(py::handle src) {
    const py::array raw = numericArray(src);
    if (!raw) return FloatArray();
    return FloatArray(FloatArray::array_t::ensure(raw));
}

IndexArray toIndexArray(py::handle src) {
    const py::array raw = numericArray(src);
    if (!raw) return IndexArray();
    checkIndexValues(raw);
    return IndexArray(IndexArray::array_t::ensure(raw));
}

std::vector<float> toFloatList(const FloatArray& array) { return flatCopy<float>(array); }

std::vector<std::uint32_t> toIndexList(const IndexArray& array) { return flatCopy<std::uint32_t>(array); }

}  // namespace pytav
